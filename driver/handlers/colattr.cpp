// Column description.
#include "driver/handlers/colattr.h"

#include <sqlext.h>
#include <sqlucode.h>

#include "driver/frame/trace.h"
#include "driver/handlers/descfield.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "util/errcode.h"

namespace {

// SQL_COLUMN_LENGTH of ODBC 2: the bytes of the value in its ODBC 2 default C form (BIGINT
// travels as text there), SQL_NO_TOTAL when unknown.
SQLLEN Odbc2Length(const COLDESC& d) {
    const auto size = static_cast<SQLLEN>(d.columnSize);
    switch (d.sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
        return size;
    case SQL_NUMERIC: case SQL_DECIMAL: return size + 2;
    case SQL_INTEGER: case SQL_REAL: return 4;
    case SQL_SMALLINT: return 2;
    case SQL_FLOAT: case SQL_DOUBLE: return 8;
    case SQL_DATE: case SQL_TIME: case SQL_TYPE_DATE: case SQL_TYPE_TIME: return 6;
    case SQL_TIMESTAMP: case SQL_TYPE_TIMESTAMP: case SQL_GUID: return 16;
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR: return 2 * size;
    case SQL_BIT: case SQL_TINYINT: return 1;
    case SQL_BIGINT: return 20;
    default:
        return d.sqlType >= SQL_INTERVAL_YEAR && d.sqlType <= SQL_INTERVAL_MINUTE_TO_SECOND ? 28 : SQL_NO_TOTAL;
    }
}

// The ODBC 3 identifiers SQLColAttribute answers (with the ODBC 2 numbers 0 to 18 that
// share their values or have their own meaning).
bool IsColAttributeField(int field) {
    if (field >= 0 && field <= 18)
        return true;
    switch (field) {
    case SQL_DESC_BASE_COLUMN_NAME: case SQL_DESC_BASE_TABLE_NAME: case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: case SQL_DESC_LOCAL_TYPE_NAME: case SQL_DESC_NUM_PREC_RADIX: case SQL_DESC_ROWVER:
    case SQL_DESC_COUNT: case SQL_DESC_TYPE: case SQL_DESC_LENGTH: case SQL_DESC_PRECISION: case SQL_DESC_SCALE:
    case SQL_DESC_NULLABLE: case SQL_DESC_NAME: case SQL_DESC_UNNAMED: case SQL_DESC_OCTET_LENGTH: case 1053: case 1055:
        return true;
    default:
        return false;
    }
}

SQLRETURN Number(SQLLEN* out, SQLLEN v) {
    if (out != nullptr)
        *out = v;
    return SQL_SUCCESS;
}

// The column's description: the bookmark column's for column 0 while bookmarks are on.
const COLDESC* ColumnDesc(STMT* stmt, uint16_t column) {
    if (column == 0 && stmt->cursor.useBookmarks != 0)
        return &BookmarkColumnDesc();
    return StmtGetColDesc(stmt, column);
}

}  // namespace

SQLRETURN StmtColAttribute(STMT* stmt, uint16_t column, int field, void* text, SQLSMALLINT bufferLength,
                           SQLSMALLINT* textLength, SQLLEN* number, int width) {
    // The bookmark column is known before anything is prepared; its count is not.
    const bool bookmark = column == 0 && stmt->cursor.useBookmarks != 0 && field != 0 && field != SQL_DESC_COUNT;
    if (!bookmark && stmt->state != STMT_STATE_PREPARED)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (bufferLength < 0)
        return StmtFail(stmt, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    if (field == 0 || field == SQL_DESC_COUNT) {
        // The columns the application sees, whatever column was named.
        SQLSMALLINT n = 0;
        if (int rc = StmtNumResultCols(stmt, &n); rc != 0)
            return StmtFail(stmt, rc);
        return Number(number, n);
    }
    const COLDESC* d = ColumnDesc(stmt, column);
    if (d == nullptr)
        return SQL_ERROR;
    switch (field) {
    case SQL_COLUMN_LENGTH: {
        // Narrow UTF-8 text takes up to four bytes a character.
        const bool narrowText = d->sqlType == SQL_CHAR || d->sqlType == SQL_VARCHAR || d->sqlType == SQL_LONGVARCHAR;
        const SQLLEN length = Odbc2Length(*d);
        const bool utf8 = column != 0 && stmt->conn->narrow == NarrowCode::Utf8;
        return Number(number, narrowText && utf8 ? 4 * length : length);
    }
    case SQL_COLUMN_PRECISION: return Number(number, static_cast<SQLLEN>(d->columnSize));
    case SQL_COLUMN_SCALE: return Number(number, d->decimalDigits);
    default: break;
    }
    const int irdField = field == SQL_COLUMN_NAME       ? SQL_DESC_NAME
                         : field == SQL_COLUMN_NULLABLE ? SQL_DESC_NULLABLE
                                                        : field;
    ColumnAnswer answer;
    if (int rc = IrdColumnField(stmt, *d, column, irdField, &answer); rc != 0)
        return StmtFail(stmt, rc);
    if (!answer.isText)
        return Number(number, static_cast<SQLLEN>(answer.number));
    return OutString(answer.text, text, bufferLength, OutUnit::Bytes, width, textLength, &stmt->diag);
}

SQLRETURN DoColAttribute(HANDLE_HDR* h, const ColAttributeArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    if (stmt->daeState != STMT_DAE_NONE)  // the statement has not run: no result yet
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (!IsColAttributeField(a.field)) {
        TraceLog("SQLColAttribute - unknown field identifier\n");
        return StmtFail(stmt, ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE);
    }
    return StmtColAttribute(stmt, a.column, a.field, a.text, a.bufferLength, a.textLength, a.number, a.width);
}

SQLRETURN DoColAttributes(HANDLE_HDR* h, const ColAttributeArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    if (stmt->daeState != STMT_DAE_NONE)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    SQLRETURN rc = StmtColAttribute(stmt, a.column, a.field, a.text, a.bufferLength, a.textLength, a.number, a.width);
    // ODBC 2 knows no error for a field it does not define: it answers 0.
    if (rc == SQL_ERROR && stmt->diag.errCode == ERR_DESCRIPTOR_TYPE_OUT_OF_RANGE) {
        stmt->diag.errCode = 0;
        return Number(a.number, 0);
    }
    return rc;
}

SQLRETURN DoDescribeCol(HANDLE_HDR* h, const DescribeColArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    const bool bookmark = a.column == 0 && stmt->cursor.useBookmarks != 0;
    if (stmt->daeState != STMT_DAE_NONE || (!bookmark && stmt->state != STMT_STATE_PREPARED))
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (a.bufferLength < 0)
        return StmtFail(stmt, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    const COLDESC* d = ColumnDesc(stmt, a.column);
    if (d == nullptr)
        return SQL_ERROR;
    if (a.sqlType != nullptr)
        *a.sqlType = static_cast<SQLSMALLINT>(d->sqlType);
    if (a.columnSize != nullptr)
        *a.columnSize = d->columnSize;
    if (a.digits != nullptr)
        *a.digits = d->decimalDigits;
    if (a.nullable != nullptr)
        *a.nullable = static_cast<SQLSMALLINT>(d->flags & 0xF);
    const char* name = d->label != nullptr && d->label[0] != '\0' ? d->label : d->name;
    const OutUnit unit = a.width == WIDTH_WIDE ? OutUnit::Chars : OutUnit::Bytes;
    return OutString(name, a.name, a.bufferLength, unit, a.width, a.nameLength, &stmt->diag);
}
