// Entry points of statements: preparing and executing, parameters, result columns,
// fetching and positioned operations.
#include <sqlext.h>
#include <sqlucode.h>

#include "driver/entry/export.h"
#include "driver/frame/widen.h"
#include "driver/handlers/colattr.h"
#include "driver/handlers/fetch.h"
#include "driver/handlers/params.h"
#include "driver/handlers/pending.h"
#include "driver/handlers/stmtattr.h"
#include "driver/handlers/stmttext.h"
#include "driver/handlers/typeinfo.h"

namespace {

constexpr int kStmt = CALL_KIND_STMT;

#define VARNO_SQLTEXT_FORMAT "szSqlStr=%lX cbSqlStr=%ld"
#define VARNO_COLATTR_FORMAT "icol=%u fDescType=%u rgbDesc=%08lX cbDescMax=%u pcbDesc=%08lX pfDesc=%08lX"
#define VARNO_DESCRIBECOL_FORMAT \
    "icol=%u szColName=%lX cbColNameMax=%d pcbColName=%lX pfSqlType=%lX pcbColDef=%lX pibScale=%lX pfNullable=%lX"

constexpr auto kPrepare = MakeCall<DoPrepare>("Prepare", VARNO_SQLTEXT_FORMAT, 1, kStmt);
constexpr auto kPrepareW = MakeCall<DoPrepare>("PrepareW", VARNO_SQLTEXT_FORMAT, 1, kStmt);
constexpr auto kExecDirect = MakeCall<DoExecDirect>("ExecDirect", VARNO_SQLTEXT_FORMAT, 1, kStmt);
constexpr auto kExecDirectW = MakeCall<DoExecDirect>("ExecDirectW", VARNO_SQLTEXT_FORMAT, 1, kStmt);
constexpr auto kExecute = MakeCall<DoExecute>("Execute", "", 1, kStmt);
constexpr auto kNumParams = MakeCall<DoNumParams>("NumParams", "pcpar=%lX", 1, kStmt);
constexpr auto kNumResultCols = MakeCall<DoNumResultCols>("NumResultCols", "pccol=%lX", 1, kStmt);
constexpr auto kRowCount = MakeCall<DoRowCount>("RowCount", "pcrow=%lX", 1, kStmt);
constexpr auto kMoreResults = MakeCall<DoMoreResults>("MoreResults", "", 1, kStmt);
constexpr auto kParamOptions = MakeCall<DoParamOptions>("ParamOptions", "crow=%lu pirow=%lX", 1, kStmt);
constexpr auto kSetCursorName = MakeCall<DoSetCursorName>("SetCursorName", "szCursor=%lX cbCursor=%d", 1, kStmt);
constexpr auto kSetCursorNameW = MakeCall<DoSetCursorName>("SetCursorNameW", "szCursor=%lX cbCursor=%d", 1, kStmt);
constexpr auto kGetCursorName =
    MakeCall<DoGetCursorName>("GetCursorName", "szCursor=%lX cbCursorMax=%d pcbCursor=%lX", 1, kStmt);
constexpr auto kGetCursorNameW =
    MakeCall<DoGetCursorName>("GetCursorNameW", "szCursor=%lX cbCursorMax=%d pcbCursor=%lX", 1, kStmt);
constexpr auto kBindParameter =
    MakeCall<DoBindParameter>("BindParameter",
                              "ipar=%u fParamType=%d fCType=%d fSqlType=%d cbColDef=%lu ibScale=%d rgbValue=%lX "
                              "cbValueMax=%lu pcbValue=%lX",
                              1, kStmt);
constexpr auto kSetParam = MakeCall<DoSetParam>(
    "SetParam", "ipar=%u fCType=%d fSqlType=%d cbColDef=%lu ibScale=%d rgbValue=%lX pcbValue=%lX", 1, kStmt);
constexpr auto kParamData = MakeCall<DoParamData>("ParamData", "prgbValue=%lX", 1, kStmt);
constexpr auto kPutData = MakeCall<DoPutData>("PutData", "rgbValue=%lX cbValue=%ld", 1, kStmt);
constexpr auto kDescribeParam = MakeCall<DoDescribeParam>(
    "DescribeParam", "ipar=%u pfSqlType=%lX pcbColDef=%lX pibScale=%lX pfNullable=%lX", 1, kStmt);
constexpr auto kBindCol =
    MakeCall<DoBindCol>("BindCol", "icol=%u fCType=%d rgbValue=%lX cbValueMax=%ld pcbValue=%lX", 1, kStmt);
constexpr auto kDescribeCol = MakeCall<DoDescribeCol>("DescribeCol", VARNO_DESCRIBECOL_FORMAT, 1, kStmt);
constexpr auto kDescribeColW = MakeCall<DoDescribeCol>("DescribeColW", VARNO_DESCRIBECOL_FORMAT, 1, kStmt);
constexpr auto kColAttribute = MakeCall<DoColAttribute>("ColAttribute", VARNO_COLATTR_FORMAT, 1, kStmt);
constexpr auto kColAttributeW = MakeCall<DoColAttribute>("ColAttributeW", VARNO_COLATTR_FORMAT, 1, kStmt);
constexpr auto kColAttributes = MakeCall<DoColAttributes>("ColAttributes", VARNO_COLATTR_FORMAT, 1, kStmt);
constexpr auto kColAttributesW = MakeCall<DoColAttributes>("ColAttributesW", VARNO_COLATTR_FORMAT, 1, kStmt);
constexpr auto kFetch = MakeCall<DoFetch>("Fetch", "", 1, kStmt);
constexpr auto kFetchScroll = MakeCall<DoFetchScroll>("FetchScroll", "fOrient=%d, fOffset=%ld", 1, kStmt);
constexpr auto kExtendedFetch =
    MakeCall<DoExtendedFetch>("ExtendedFetch", "fFetchType=%u irow=%ld pcrow=%lX rgfRowStatus=%lX", 1, kStmt);
constexpr auto kGetData = WithDbLockOnDemand(
    MakeCall<DoGetData>("GetData", "icol=%u fCType=%d rgbValue=%lX cbValueMax=%ld pcbValue=%lX", 1, kStmt));
constexpr auto kSetPos = MakeCall<DoSetPos>("SetPos", "irow=%lu fOption=%u fLock=%u", 1, kStmt);
constexpr auto kBulkOperations = MakeCall<DoBulkOperations>("BulkOperations", "Operation=%d", 1, kStmt);
constexpr auto kGetTypeInfo = MakeCall<DoGetTypeInfo>("GetTypeInfo", "fSqlType=%d", 1, kStmt);
constexpr auto kGetTypeInfoW = MakeCall<DoGetTypeInfo>("GetTypeInfoW", "fSqlType=%d", 1, kStmt);

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER len) {
    return CallODBC(kPrepare, hstmt, SqlTextArgs{reinterpret_cast<const char*>(text), len});
}

VARNO_EXPORT SQLRETURN SQL_API SQLPrepareW(SQLHSTMT hstmt, SQLWCHAR* text, SQLINTEGER len) {
    WideIn t(text, len);
    WideHook w({&t});
    return CallODBC(kPrepareW, hstmt, SqlTextArgs{t.text(), t.len32()}, w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER len) {
    return CallODBC(kExecDirect, hstmt, SqlTextArgs{reinterpret_cast<const char*>(text), len});
}

VARNO_EXPORT SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT hstmt, SQLWCHAR* text, SQLINTEGER len) {
    WideIn t(text, len);
    WideHook w({&t});
    return CallODBC(kExecDirectW, hstmt, SqlTextArgs{t.text(), t.len32()}, w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
    return CallODBC(kExecute, hstmt, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLNumParams(SQLHSTMT hstmt, SQLSMALLINT* count) {
    return CallODBC(kNumParams, hstmt, CountArgs{count});
}

VARNO_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* count) {
    return CallODBC(kNumResultCols, hstmt, CountArgs{count});
}

VARNO_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT hstmt, SQLLEN* count) {
    return CallODBC(kRowCount, hstmt, RowCountArgs{count});
}

VARNO_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT hstmt) {
    return CallODBC(kMoreResults, hstmt, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLParamOptions(SQLHSTMT hstmt, SQLULEN rows, SQLULEN* rowNumber) {
    return CallODBC(kParamOptions, hstmt, ParamOptionsArgs{rows, rowNumber});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT hstmt, SQLCHAR* name, SQLSMALLINT len) {
    return CallODBC(kSetCursorName, hstmt, SetCursorNameArgs{reinterpret_cast<const char*>(name), len});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* name, SQLSMALLINT len) {
    WideIn n(name, len);
    WideHook w({&n});
    return CallODBC(kSetCursorNameW, hstmt, SetCursorNameArgs{n.text(), n.len16()}, w.hook());
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT hstmt, SQLCHAR* name, SQLSMALLINT cbMax, SQLSMALLINT* pcb) {
    return CallODBC(kGetCursorName, hstmt, GetCursorNameArgs{name, cbMax, pcb, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT hstmt, SQLWCHAR* name, SQLSMALLINT cchMax,
                                                 SQLSMALLINT* pcch) {
    return CallODBC(kGetCursorNameW, hstmt, GetCursorNameArgs{name, cchMax, pcch, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT paramType,
                                                SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN colDef,
                                                SQLSMALLINT scale, SQLPOINTER value, SQLLEN cbMax, SQLLEN* pcbValue) {
    return CallODBC(kBindParameter, hstmt,
                    BindParameterArgs{ipar, paramType, cType, sqlType, colDef, scale, value, cbMax, pcbValue});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT cType, SQLSMALLINT sqlType,
                                           SQLULEN colDef, SQLSMALLINT scale, SQLPOINTER value, SQLLEN* pcbValue) {
    return CallODBC(kSetParam, hstmt, SetParamArgs{ipar, cType, sqlType, colDef, scale, value, pcbValue});
}

VARNO_EXPORT SQLRETURN SQL_API SQLParamData(SQLHSTMT hstmt, SQLPOINTER* value) {
    return CallODBC(kParamData, hstmt, ParamDataArgs{value});
}

VARNO_EXPORT SQLRETURN SQL_API SQLPutData(SQLHSTMT hstmt, SQLPOINTER data, SQLLEN len) {
    return CallODBC(kPutData, hstmt, PutDataArgs{data, len});
}

VARNO_EXPORT SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT hstmt, SQLUSMALLINT ipar, SQLSMALLINT* sqlType,
                                                SQLULEN* colDef, SQLSMALLINT* scale, SQLSMALLINT* nullable) {
    return CallODBC(kDescribeParam, hstmt, DescribeParamArgs{ipar, sqlType, colDef, scale, nullable});
}

VARNO_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT cType, SQLPOINTER value,
                                          SQLLEN cbMax, SQLLEN* pcbValue) {
    return CallODBC(kBindCol, hstmt, BindColArgs{icol, cType, value, cbMax, pcbValue});
}

VARNO_EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLCHAR* name, SQLSMALLINT cbMax,
                                              SQLSMALLINT* pcbName, SQLSMALLINT* sqlType, SQLULEN* colDef,
                                              SQLSMALLINT* scale, SQLSMALLINT* nullable) {
    return CallODBC(kDescribeCol, hstmt,
                    DescribeColArgs{icol, name, cbMax, pcbName, sqlType, colDef, scale, nullable, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLWCHAR* name, SQLSMALLINT cchMax,
                                               SQLSMALLINT* pcchName, SQLSMALLINT* sqlType, SQLULEN* colDef,
                                               SQLSMALLINT* scale, SQLSMALLINT* nullable) {
    return CallODBC(kDescribeColW, hstmt,
                    DescribeColArgs{icol, name, cchMax, pcchName, sqlType, colDef, scale, nullable, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field,
                                               SQLPOINTER charAttr, SQLSMALLINT cbMax, SQLSMALLINT* pcb,
                                               SQLLEN* numAttr) {
    return CallODBC(kColAttribute, hstmt, ColAttributeArgs{icol, field, charAttr, cbMax, pcb, numAttr, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field,
                                                SQLPOINTER charAttr, SQLSMALLINT cbMax, SQLSMALLINT* pcb,
                                                SQLLEN* numAttr) {
    return CallODBC(kColAttributeW, hstmt, ColAttributeArgs{icol, field, charAttr, cbMax, pcb, numAttr, WIDTH_WIDE});
}

// Exists in both libraries but is exported by neither: the Driver Manager maps the ODBC 2
// call onto SQLColAttribute.
VARNO_EXPORT SQLRETURN SQL_API SQLColAttributes(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field, SQLPOINTER desc,
                                                SQLSMALLINT cbMax, SQLSMALLINT* pcb, SQLLEN* numAttr) {
    return CallODBC(kColAttributes, hstmt, ColAttributeArgs{icol, field, desc, cbMax, pcb, numAttr, WIDTH_NARROW});
}

VARNO_EXPORT SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLUSMALLINT field, SQLPOINTER desc,
                                                 SQLSMALLINT cbMax, SQLSMALLINT* pcb, SQLLEN* numAttr) {
    return CallODBC(kColAttributesW, hstmt, ColAttributeArgs{icol, field, desc, cbMax, pcb, numAttr, WIDTH_WIDE});
}

VARNO_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
    return CallODBC(kFetch, hstmt, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT hstmt, SQLSMALLINT orientation, SQLLEN offset) {
    return CallODBC(kFetchScroll, hstmt, FetchScrollArgs{orientation, offset});
}

VARNO_EXPORT SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT hstmt, SQLUSMALLINT type, SQLLEN row, SQLULEN* pcrow,
                                                SQLUSMALLINT* status) {
    return CallODBC(kExtendedFetch, hstmt, ExtendedFetchArgs{type, row, pcrow, status});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT icol, SQLSMALLINT cType, SQLPOINTER value,
                                          SQLLEN cbMax, SQLLEN* pcbValue) {
    return CallODBC(kGetData, hstmt, GetDataArgs{icol, cType, value, cbMax, pcbValue});
}

VARNO_EXPORT SQLRETURN SQL_API SQLSetPos(SQLHSTMT hstmt, SQLSETPOSIROW row, SQLUSMALLINT op, SQLUSMALLINT lock) {
    return CallODBC(kSetPos, hstmt, SetPosArgs{row, op, lock});
}

VARNO_EXPORT SQLRETURN SQL_API SQLBulkOperations(SQLHSTMT hstmt, SQLSMALLINT op) {
    return CallODBC(kBulkOperations, hstmt, BulkOperationsArgs{op});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT hstmt, SQLSMALLINT type) {
    return CallODBC(kGetTypeInfo, hstmt, GetTypeInfoArgs{type});
}

VARNO_EXPORT SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT hstmt, SQLSMALLINT type) {
    return CallODBC(kGetTypeInfoW, hstmt, GetTypeInfoArgs{type});
}
