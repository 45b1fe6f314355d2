// Entry points of statements: preparing and executing, parameters, result columns,
// fetching and positioned operations.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/handlers/pending.h"

namespace {

constexpr int kStmt = CALL_KIND_STMT;
constexpr auto Pending = DoNotCapable<kStmt>;

#define VARNO_SQLTEXT_FORMAT "szSqlStr=%lX cbSqlStr=%ld"
#define VARNO_COLATTR_FORMAT "icol=%u fDescType=%u rgbDesc=%08lX cbDescMax=%u pcbDesc=%08lX pfDesc=%08lX"
#define VARNO_DESCRIBECOL_FORMAT \
    "icol=%u szColName=%lX cbColNameMax=%d pcbColName=%lX pfSqlType=%lX pcbColDef=%lX pibScale=%lX pfNullable=%lX"

const CALLREC kPrepare{"Prepare", VARNO_SQLTEXT_FORMAT, 1, kStmt, Pending};
const CALLREC kPrepareW{"PrepareW", VARNO_SQLTEXT_FORMAT, 1, kStmt, Pending};
const CALLREC kExecDirect{"ExecDirect", VARNO_SQLTEXT_FORMAT, 1, kStmt, Pending};
const CALLREC kExecDirectW{"ExecDirectW", VARNO_SQLTEXT_FORMAT, 1, kStmt, Pending};
const CALLREC kExecute{"Execute", "", 1, kStmt, Pending};
const CALLREC kNumParams{"NumParams", "pcpar=%lX", 1, kStmt, Pending};
const CALLREC kNumResultCols{"NumResultCols", "pccol=%lX", 1, kStmt, Pending};
const CALLREC kRowCount{"RowCount", "pcrow=%lX", 1, kStmt, Pending};
const CALLREC kMoreResults{"MoreResults", "", 1, kStmt, Pending};
const CALLREC kParamOptions{"ParamOptions", "crow=%lu pirow=%lX", 1, kStmt, Pending};
const CALLREC kSetCursorName{"SetCursorName", "szCursor=%lX cbCursor=%d", 1, kStmt, Pending};
const CALLREC kSetCursorNameW{"SetCursorNameW", "szCursor=%lX cbCursor=%d", 1, kStmt, Pending};
const CALLREC kGetCursorName{"GetCursorName", "szCursor=%lX cbCursorMax=%d pcbCursor=%lX", 1, kStmt, Pending};
const CALLREC kGetCursorNameW{"GetCursorNameW", "szCursor=%lX cbCursorMax=%d pcbCursor=%lX", 1, kStmt, Pending};
const CALLREC kBindParameter{"BindParameter",
                             "ipar=%u fParamType=%d fCType=%d fSqlType=%d cbColDef=%lu ibScale=%d rgbValue=%lX "
                             "cbValueMax=%lu pcbValue=%lX",
                             1, kStmt, Pending};
const CALLREC kSetParam{"SetParam",
                        "ipar=%u fCType=%d fSqlType=%d cbColDef=%lu ibScale=%d rgbValue=%lX pcbValue=%lX", 1,
                        kStmt, Pending};
const CALLREC kParamData{"ParamData", "prgbValue=%lX", 1, kStmt, Pending};
const CALLREC kPutData{"PutData", "rgbValue=%lX cbValue=%ld", 1, kStmt, Pending};
const CALLREC kDescribeParam{"DescribeParam", "ipar=%u pfSqlType=%lX pcbColDef=%lX pibScale=%lX pfNullable=%lX",
                             1, kStmt, Pending};
const CALLREC kBindCol{"BindCol", "icol=%u fCType=%d rgbValue=%lX cbValueMax=%ld pcbValue=%lX", 1, kStmt, Pending};
const CALLREC kDescribeCol{"DescribeCol", VARNO_DESCRIBECOL_FORMAT, 1, kStmt, Pending};
const CALLREC kDescribeColW{"DescribeColW", VARNO_DESCRIBECOL_FORMAT, 1, kStmt, Pending};
const CALLREC kColAttribute{"ColAttribute", VARNO_COLATTR_FORMAT, 1, kStmt, Pending};
const CALLREC kColAttributeW{"ColAttributeW", VARNO_COLATTR_FORMAT, 1, kStmt, Pending};
const CALLREC kColAttributes{"ColAttributes", VARNO_COLATTR_FORMAT, 1, kStmt, Pending};
const CALLREC kColAttributesW{"ColAttributesW", VARNO_COLATTR_FORMAT, 1, kStmt, Pending};
const CALLREC kFetch{"Fetch", "", 1, kStmt, Pending};
const CALLREC kFetchScroll{"FetchScroll", "fOrient=%d, fOffset=%ld", 1, kStmt, Pending};
const CALLREC kExtendedFetch{"ExtendedFetch", "fFetchType=%u irow=%ld pcrow=%lX rgfRowStatus=%lX", 1, kStmt,
                             Pending};
const CALLREC kGetData{"GetData", "icol=%u fCType=%d rgbValue=%lX cbValueMax=%ld pcbValue=%lX", 1, kStmt,
                       Pending};
const CALLREC kSetPos{"SetPos", "irow=%lu fOption=%u fLock=%u", 1, kStmt, Pending};
const CALLREC kBulkOperations{"BulkOperations", "op=%u", 1, kStmt, Pending};
const CALLREC kGetTypeInfo{"GetTypeInfo", "fSqlType=%d", 1, kStmt, Pending};
const CALLREC kGetTypeInfoW{"GetTypeInfoW", "fSqlType=%d", 1, kStmt, Pending};

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER len) {
    return CallODBC(kPrepare, hstmt, text, len);
}

VARNO_EXPORT SQLRETURN SQL_API SQLPrepareW(SQLHSTMT hstmt, SQLWCHAR* text, SQLINTEGER len) {
    WideIn t(text, len);
    WideHook w({&t});
    return CallODBCHooked(kPrepareW, hstmt, w.hook(), t.text(), t.len32());
}

VARNO_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER len) {
    return CallODBC(kExecDirect, hstmt, text, len);
}

VARNO_EXPORT SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT hstmt, SQLWCHAR* text, SQLINTEGER len) {
    WideIn t(text, len);
    WideHook w({&t});
    return CallODBCHooked(kExecDirectW, hstmt, w.hook(), t.text(), t.len32());
}

VARNO_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
    return CallODBC(kExecute, hstmt);
}

VARNO_EXPORT SQLRETURN SQL_API SQLNumParams(SQLHSTMT hstmt, SQLSMALLINT* count) {
    return CallODBC(kNumParams, hstmt, count);
}

VARNO_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* count) {
    return CallODBC(kNumResultCols, hstmt, count);
}

VARNO_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT hstmt, SQLLEN* count) {
    return CallODBC(kRowCount, hstmt, count);
}

VARNO_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT hstmt) {
    return CallODBC(kMoreResults, hstmt);
}

VARNO_EXPORT SQLRETURN SQL_API SQLParamOptions(SQLHSTMT hstmt, SQLULEN rows, SQLULEN* rowNumber) {
    return CallODBC(kParamOptions, hstmt, rows, rowNumber);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT hstmt, SQLCHAR* name, SQLSMALLINT len) {
    return CallODBC(kSetCursorName, hstmt, name, len);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* name, SQLSMALLINT len) {
    WideIn n(name, len);
    WideHook w({&n});
    return CallODBCHooked(kSetCursorNameW, hstmt, w.hook(), n.text(), n.len16());
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT hstmt, SQLCHAR* name, SQLSMALLINT cbMax,
                                                SQLSMALLINT* pcb) {
    return CallODBC(kGetCursorName, hstmt, name, cbMax, pcb);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* name, SQLSMALLINT cchMax,
                                                 SQLSMALLINT* pcch) {
    WideOut o(name, cchMax, WideCut::PostOnHandle);
    WideHook w({}, &o, pcch);
    return CallODBCHooked(kGetCursorNameW, hstmt, w.hook(), o.buffer(), o.size16(), o.narrowLen16());
}

VARNO_EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT paramType,
                                                SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN colDef,
                                                SQLSMALLINT scale, SQLPOINTER value, SQLLEN cbMax,
                                                SQLLEN* pcbValue) {
    return CallODBC(kBindParameter, hstmt, ipar, paramType, cType, sqlType, colDef, scale, value, cbMax, pcbValue);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT cType,
                                           SQLSMALLINT sqlType, SQLULEN colDef, SQLSMALLINT scale,
                                           SQLPOINTER value, SQLLEN* pcbValue) {
    return CallODBC(kSetParam, hstmt, ipar, cType, sqlType, colDef, scale, value, pcbValue);
}

VARNO_EXPORT SQLRETURN SQL_API SQLParamData(SQLHSTMT hstmt, SQLPOINTER* value) {
    return CallODBC(kParamData, hstmt, value);
}

VARNO_EXPORT SQLRETURN SQL_API SQLPutData(SQLHSTMT hstmt, SQLPOINTER data, SQLLEN len) {
    return CallODBC(kPutData, hstmt, data, len);
}

VARNO_EXPORT SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT* sqlType,
                                                SQLULEN* colDef, SQLSMALLINT* scale, SQLSMALLINT* nullable) {
    return CallODBC(kDescribeParam, hstmt, ipar, sqlType, colDef, scale, nullable);
}

VARNO_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT cType, SQLPOINTER value,
                                          SQLLEN cbMax, SQLLEN* pcbValue) {
    return CallODBC(kBindCol, hstmt, icol, cType, value, cbMax, pcbValue);
}

VARNO_EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLCHAR* name,
                                              SQLSMALLINT cbMax, SQLSMALLINT* pcbName, SQLSMALLINT* sqlType,
                                              SQLULEN* colDef, SQLSMALLINT* scale, SQLSMALLINT* nullable) {
    return CallODBC(kDescribeCol, hstmt, icol, name, cbMax, pcbName, sqlType, colDef, scale, nullable);
}

VARNO_EXPORT SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLWCHAR* name,
                                               SQLSMALLINT cchMax, SQLSMALLINT* pcchName, SQLSMALLINT* sqlType,
                                               SQLULEN* colDef, SQLSMALLINT* scale, SQLSMALLINT* nullable) {
    WideOut o(name, cchMax, WideCut::PostOnHandle);
    WideHook w({}, &o, pcchName);
    return CallODBCHooked(kDescribeColW, hstmt, w.hook(), icol, o.buffer(), o.size16(), o.narrowLen16(), sqlType,
                          colDef, scale, nullable);
}

VARNO_EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field,
                                               SQLPOINTER charAttr, SQLSMALLINT cbMax, SQLSMALLINT* pcb,
                                               SQLLEN* numAttr) {
    return CallODBC(kColAttribute, hstmt, icol, field, charAttr, cbMax, pcb, numAttr, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field,
                                                SQLPOINTER charAttr, SQLSMALLINT cbMax, SQLSMALLINT* pcb,
                                                SQLLEN* numAttr) {
    return CallODBC(kColAttributeW, hstmt, icol, field, charAttr, cbMax, pcb, numAttr, WIDTH_WIDE);
}

// Exists in both libraries but is exported by neither: the Driver Manager maps the ODBC 2
// call onto SQLColAttribute.
VARNO_EXPORT SQLRETURN SQL_API SQLColAttributes(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field,
                                                SQLPOINTER desc, SQLSMALLINT cbMax, SQLSMALLINT* pcb,
                                                SQLLEN* numAttr) {
    return CallODBC(kColAttributes, hstmt, icol, field, desc, cbMax, pcb, numAttr, WIDTH_NARROW);
}

VARNO_EXPORT SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field,
                                                 SQLPOINTER desc, SQLSMALLINT cbMax, SQLSMALLINT* pcb,
                                                 SQLLEN* numAttr) {
    return CallODBC(kColAttributesW, hstmt, icol, field, desc, cbMax, pcb, numAttr, WIDTH_WIDE);
}

VARNO_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
    return CallODBC(kFetch, hstmt);
}

VARNO_EXPORT SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT hstmt, SQLSMALLINT orientation, SQLLEN offset) {
    return CallODBC(kFetchScroll, hstmt, orientation, offset);
}

VARNO_EXPORT SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT hstmt, SQLUSMALLINT type, SQLLEN row, SQLULEN* pcrow,
                                                SQLUSMALLINT* status) {
    return CallODBC(kExtendedFetch, hstmt, type, row, pcrow, status);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT cType, SQLPOINTER value,
                                          SQLLEN cbMax, SQLLEN* pcbValue) {
    return CallODBC(kGetData, hstmt, icol, cType, value, cbMax, pcbValue);
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetPos(SQLHSTMT hstmt, SQLSETPOSIROW row, SQLUSMALLINT op, SQLUSMALLINT lock) {
    return CallODBC(kSetPos, hstmt, row, op, lock);
}

VARNO_EXPORT SQLRETURN SQL_API SQLBulkOperations(SQLHSTMT hstmt, SQLSMALLINT op) {
    return CallODBC(kBulkOperations, hstmt, op);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT hstmt, SQLSMALLINT type) {
    return CallODBC(kGetTypeInfo, hstmt, type);
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT hstmt, SQLSMALLINT type) {
    return CallODBC(kGetTypeInfoW, hstmt, type);
}
