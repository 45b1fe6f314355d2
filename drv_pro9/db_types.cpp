// The agent's static type tables and the catalog type fix-up.
#include "drv_pro9/db_types.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdlib>
#include <cstring>

#include "platform/esql92/esql92.h"
#include "util/dataset.h"
#include "util/utalloc.h"

namespace {

struct ServerTypeRow {
    int16_t serverType;
    int16_t key;
    int32_t dsType;
    bool convert;
};

// Server type to internal type, the same in both libraries: text stays in the server's code
// set (UTF-8 in the Unicode library) and is written in place, converted once when it is
// delivered; NUMERIC and BIGINT are fetched as their text. Only the layouts the server
// cannot write (dates and times, binary values) pass through a buffer.
constexpr ServerTypeRow kServerTypes[] = {
    {ESQL_CHARACTER, ESQL_CHARACTER, DS_CHARZ, false},
    {ESQL_NUMERIC, ESQL_VARCHAR, DS_CHARZ, false},
    {ESQL_SMALLINT, ESQL_SMALLINT, DS_SSHORT, false},
    {ESQL_INTEGER, ESQL_INTEGER, DS_SLONG, false},
    {ESQL_REAL, ESQL_REAL, DS_FLOAT, false},
    {ESQL_FLOAT, ESQL_FLOAT, DS_DOUBLE, false},
    {ESQL_DATE, ESQL_DATE, DS_DATE, true},
    {ESQL_TIME, ESQL_TIME, DS_TIME, true},
    {ESQL_TIMESTAMP, ESQL_TIMESTAMP, DS_TIMESTAMP, true},
    {ESQL_TINYINT, ESQL_TINYINT, DS_STINYINT, false},
    {ESQL_BINARY, ESQL_BINARY, DS_LONGBINARY, true},
    {ESQL_BIT, ESQL_BIT, DS_UTINYINT, false},
    {ESQL_BIGINT, ESQL_VARCHAR, DS_CHARZ, false},
    {ESQL_VARCHAR, ESQL_VARCHAR, DS_CHARZ, false},
    {ESQL_VARBINARY, ESQL_BINARY, DS_LONGBINARY, true},
};

struct DsTypeRow {
    int32_t dsType;
    int16_t serverType;
    bool convert;
};

// Internal type to the server type of a parameter.
constexpr DsTypeRow kDsTypes[] = {
    {DS_CHAR, ESQL_CHARACTER, false},
    {DS_BIT, ESQL_BIT, false},
    {DS_STINYINT, ESQL_TINYINT, false},
    {DS_SSHORT, ESQL_SMALLINT, false},
    {DS_SLONG, ESQL_INTEGER, false},
    // Unsigned values widen into the next signed type so that no value changes sign.
    {DS_UTINYINT, ESQL_SMALLINT, true},
    {DS_USHORT, ESQL_INTEGER, true},
    {DS_ULONG, ESQL_BIGINT, true},
    // Eight bytes as the server's BIGINT takes them: bound in place, no text to parse.
    {DS_SBIGINT, ESQL_BIGINT, false},
    {DS_FLOAT, ESQL_REAL, false},
    {DS_DOUBLE, ESQL_FLOAT, false},
    {DS_DATE, ESQL_DATE, true},
    {DS_TIME, ESQL_TIME, true},
    {DS_TIMESTAMP, ESQL_TIMESTAMP, true},
    {DS_BINARY, ESQL_BINARY, true},
    {DS_LONGCHAR, ESQL_VARCHAR, true},
    {DS_LONGBINARY, ESQL_VARBINARY, true},
    {DS_CHARZ, ESQL_VARCHAR, false},
    {DS_VARCHAR8, ESQL_VARCHAR, true},
    {DS_VARCHAR16, ESQL_VARCHAR, true},
    {DS_VARCHAR32, ESQL_VARCHAR, true},
    {DS_VARBINARY8, ESQL_VARBINARY, true},
    {DS_VARBINARY16, ESQL_VARBINARY, true},
    {DS_VARBINARY32, ESQL_VARBINARY, true},
    {DS_WCHAR, ESQL_CHARACTER, true},
    {DS_WCHARZ, ESQL_VARCHAR, true},
    {DS_LONGWCHAR, ESQL_VARCHAR, true},
    {DS_WVARCHAR32, ESQL_VARCHAR, true},
};

// --- catalog rows ------------------------------------------------------------------------

constexpr int32_t kKeep = INT32_MIN;       // the cell stays as the server returned it
constexpr int32_t kNull = INT32_MIN + 1;   // the cell becomes NULL
constexpr int32_t kSameAsType = INT32_MIN + 2;   // the value written to DATA_TYPE
constexpr int32_t kSizePlus2 = INT32_MIN + 3;    // COLUMN_SIZE + 2

// How DATA_TYPE is chosen.
enum class TypeRule { Fixed, Text, Datetime };

struct CatalogRow {
    int16_t code;
    TypeRule rule;
    int32_t dataType;   // Fixed: the value; Text: the wide type; Datetime: the ODBC 3 type
    int32_t altType;    // Text: the narrow type; Datetime: the ODBC 2 type
    int32_t columnSize, bufferLength, decimalDigits, radix, sqlDataType, datetimeSub;
};

constexpr CatalogRow kCatalogRows[] = {
    {1, TypeRule::Text, SQL_WVARCHAR, SQL_VARCHAR, kKeep, kKeep, kNull, kNull, kSameAsType, kNull},
    {31, TypeRule::Text, SQL_WCHAR, SQL_CHAR, kKeep, kKeep, kNull, kNull, kSameAsType, kNull},
    {2, TypeRule::Datetime, SQL_TYPE_DATE, SQL_DATE, 10, 6, kNull, kNull, SQL_DATETIME, SQL_CODE_DATE},
    {33, TypeRule::Datetime, SQL_TYPE_TIME, SQL_TIME, 8, 6, 0, kNull, SQL_DATETIME, SQL_CODE_TIME},
    {34, TypeRule::Datetime, SQL_TYPE_TIMESTAMP, SQL_TIMESTAMP, 23, 16, 3, kNull, SQL_DATETIME,
     SQL_CODE_TIMESTAMP},
    {3, TypeRule::Fixed, SQL_BIT, 0, 1, 1, 0, kKeep, SQL_BIT, kNull},
    {4, TypeRule::Fixed, SQL_INTEGER, 0, 10, 4, 0, kKeep, SQL_INTEGER, kNull},
    // NUMERIC as columns are described and the type catalog lists it; SQL_DATA_TYPE is the
    // DATA_TYPE itself for every type that is no datetime.
    {5, TypeRule::Fixed, SQL_NUMERIC, 0, kKeep, kSizePlus2, kKeep, kKeep, kSameAsType, kNull},
    {8, TypeRule::Fixed, SQL_VARBINARY, 0, kKeep, kKeep, kNull, kNull, SQL_VARBINARY, kNull},
    {21, TypeRule::Fixed, SQL_TINYINT, 0, 3, 1, 0, kKeep, SQL_TINYINT, kNull},
    {22, TypeRule::Fixed, SQL_SMALLINT, 0, 5, 2, 0, kKeep, SQL_SMALLINT, kNull},
    {24, TypeRule::Fixed, SQL_REAL, 0, 7, 4, kNull, kKeep, SQL_REAL, kNull},
    {25, TypeRule::Fixed, SQL_DOUBLE, 0, 15, 8, kNull, kKeep, SQL_DOUBLE, kNull},
    {32, TypeRule::Fixed, SQL_BIGINT, 0, 19, 20, 0, kKeep, SQL_BIGINT, kNull},
    {35, TypeRule::Fixed, SQL_BINARY, 0, kKeep, kKeep, kNull, kNull, SQL_BINARY, kNull},
};

// Two driver-specific attributes of the template that the ODBC side answers itself; a
// negative code tells it that the agent gave no answer.
constexpr int16_t kAttrAnsweredAbove1 = 1053;
constexpr int16_t kAttrAnsweredAbove2 = 1055;

bool IsIntegerCell(int32_t type) {
    switch (type) {
    case DS_BIT:
    case DS_STINYINT:
    case DS_SSHORT:
    case DS_SLONG:
    case DS_UTINYINT:
    case DS_USHORT:
    case DS_ULONG:
        return true;
    default:
        return false;
    }
}

// The cell of a role column, or null when the role has no usable column.
DATASET_COL* RoleColumn(DATASET* ds, int index) {
    if (index < 0 || index >= ds->colsUsed)
        return nullptr;
    DATASET_COL* col = &ds->cols[index];
    return IsIntegerCell(col->type) && col->data != nullptr ? col : nullptr;
}

bool ReadInt(const DATASET_COL* col, int32_t row, int64_t* out) {
    if (col->indicators[row] < 0)
        return false;
    const unsigned char* p = ds_Elem(col, row);
    switch (col->type) {
    case DS_STINYINT: { int8_t v; std::memcpy(&v, p, 1); *out = v; return true; }
    case DS_BIT:
    case DS_UTINYINT: { uint8_t v; std::memcpy(&v, p, 1); *out = v; return true; }
    case DS_SSHORT: { int16_t v; std::memcpy(&v, p, 2); *out = v; return true; }
    case DS_USHORT: { uint16_t v; std::memcpy(&v, p, 2); *out = v; return true; }
    case DS_SLONG: { int32_t v; std::memcpy(&v, p, 4); *out = v; return true; }
    case DS_ULONG: { uint32_t v; std::memcpy(&v, p, 4); *out = v; return true; }
    default: return false;
    }
}

void WriteInt(DATASET_COL* col, int32_t row, int64_t value) {
    unsigned char* p = ds_Elem(col, row);
    switch (col->type) {
    case DS_STINYINT:
    case DS_BIT:
    case DS_UTINYINT: { auto v = static_cast<uint8_t>(value); std::memcpy(p, &v, 1); break; }
    case DS_SSHORT:
    case DS_USHORT: { auto v = static_cast<uint16_t>(value); std::memcpy(p, &v, 2); break; }
    default: { auto v = static_cast<uint32_t>(value); std::memcpy(p, &v, 4); break; }
    }
    col->indicators[row] = 0;
}

// Applies one rule value to a role cell.
void Apply(DATASET* ds, int index, int32_t row, int32_t rule, int64_t dataType, int64_t columnSize,
           bool haveSize) {
    DATASET_COL* col = RoleColumn(ds, index);
    if (col == nullptr || rule == kKeep)
        return;
    if (rule == kNull) {
        col->indicators[row] = DS_IND_NULL;
        return;
    }
    if (rule == kSameAsType) {
        WriteInt(col, row, dataType);
        return;
    }
    if (rule == kSizePlus2) {
        if (haveSize)
            WriteInt(col, row, columnSize + 2);
        return;
    }
    WriteInt(col, row, rule);
}

}  // namespace

bool db_WideTypes(bool connWide, bool unicodeLibrary) {
    return connWide && unicodeLibrary;
}

int32_t db_DbmsTypeToDsCType(int32_t serverType, int16_t* key, bool* convert) {
    for (const ServerTypeRow& r : kServerTypes) {
        if (r.serverType != serverType)
            continue;
        if (key != nullptr)
            *key = r.key;
        if (convert != nullptr)
            *convert = r.convert;
        return r.dsType;
    }
    if (key != nullptr)
        *key = static_cast<int16_t>(DB_TYPE_NONE);
    if (convert != nullptr)
        *convert = false;
    return DB_TYPE_NONE;
}

int32_t db_DsCTypeToDbmsType(int32_t dsType, bool* convert) {
    for (const DsTypeRow& r : kDsTypes) {
        if (r.dsType == dsType) {
            if (convert != nullptr)
                *convert = r.convert;
            return r.serverType;
        }
    }
    if (convert != nullptr)
        *convert = false;
    return DB_TYPE_NONE;
}

// The names are those of the type catalog's TYPE_NAME column (oa_typeinfo), so that a
// column's type name finds its row there and matches the catalog's TYPE_NAME of the column.
const char* db_TypeName(int32_t serverType) {
    switch (serverType) {
    case ESQL_CHARACTER: return "character";
    case ESQL_NUMERIC: return "numeric";
    case ESQL_INTEGER: return "integer";
    case ESQL_SMALLINT: return "smallint";
    case ESQL_REAL: return "real";
    case ESQL_FLOAT: return "float";
    case ESQL_DATE: return "date";
    case ESQL_TIME: return "time";
    case ESQL_TIMESTAMP: return "timestamp";
    case ESQL_BIT: return "bit";
    case ESQL_TINYINT: return "tinyint";
    case ESQL_BIGINT: return "bigint";
    case ESQL_VARBINARY: return "varbinary";
    case ESQL_BINARY: return "binary";
    default: return "varchar";
    }
}

const char* db_QuoteChar(int32_t serverType) {
    switch (serverType) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR:
    case ESQL_BINARY:
    case ESQL_VARBINARY:
        return "'";
    default:
        return "";
    }
}

void db_ColAttribute(int32_t serverType, int32_t updatable, OA_COLATTRREQ* req) {
    if (req == nullptr)
        return;
    bool text = serverType == ESQL_CHARACTER || serverType == ESQL_VARCHAR;
    auto setText = [req](const char* value) {
        std::free(req->text);
        req->text = s_strdup(value);
    };
    switch (req->attribute) {
    case SQL_COLUMN_UPDATABLE:
        req->number = updatable;
        break;
    case SQL_COLUMN_CASE_SENSITIVE:
        req->number = text ? 1 : 0;
        break;
    case SQL_COLUMN_AUTO_INCREMENT:
    case SQL_DESC_ROWVER:
        req->number = 0;
        break;
    case SQL_COLUMN_SEARCHABLE:
        req->number = text ? SQL_SEARCHABLE : SQL_ALL_EXCEPT_LIKE;
        break;
    case SQL_COLUMN_TYPE_NAME:
        setText(db_TypeName(serverType));
        break;
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
        setText(db_QuoteChar(serverType));
        break;
    case kAttrAnsweredAbove1:
    case kAttrAnsweredAbove2:
        req->attribute = static_cast<int16_t>(-req->attribute);
        break;
    default:
        break;
    }
}

void db_FixCatalogType(DATASET* ds, int32_t row, const DB_CATTYPECOLS& cols, int odbcVersion,
                       bool wide) {
    if (ds == nullptr || row < 0 || row >= ds->rowsAllocated)
        return;
    DATASET_COL* typeCol = RoleColumn(ds, cols.dataType);
    int64_t code = 0;
    if (typeCol == nullptr || !ReadInt(typeCol, row, &code))
        return;
    const CatalogRow* rule = nullptr;
    for (const CatalogRow& r : kCatalogRows) {
        if (r.code == code) {
            rule = &r;
            break;
        }
    }
    if (rule == nullptr)
        return;

    int64_t dataType = rule->dataType;
    if (rule->rule == TypeRule::Text && !wide)
        dataType = rule->altType;
    else if (rule->rule == TypeRule::Datetime && odbcVersion < static_cast<int>(SQL_OV_ODBC3))
        dataType = rule->altType;

    // BUFFER_LENGTH of a NUMERIC follows the COLUMN_SIZE the server returned.
    int64_t columnSize = 0;
    DATASET_COL* sizeCol = RoleColumn(ds, cols.columnSize);
    bool haveSize = sizeCol != nullptr && ReadInt(sizeCol, row, &columnSize);

    WriteInt(typeCol, row, dataType);
    Apply(ds, cols.columnSize, row, rule->columnSize, dataType, columnSize, haveSize);
    Apply(ds, cols.bufferLength, row, rule->bufferLength, dataType, columnSize, haveSize);
    Apply(ds, cols.decimalDigits, row, rule->decimalDigits, dataType, columnSize, haveSize);
    Apply(ds, cols.radix, row, rule->radix, dataType, columnSize, haveSize);
    Apply(ds, cols.sqlDataType, row, rule->sqlDataType, dataType, columnSize, haveSize);
    Apply(ds, cols.datetimeSub, row, rule->datetimeSub, dataType, columnSize, haveSize);
}
