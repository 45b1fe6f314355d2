// The server's type catalog: the result descriptions, the static rows and their fetch.
#include "drv_pro9/oa_typeinfo.h"

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <iterator>

#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_conn.h"
#include "util/dataset.h"
#include "util/errcode.h"

namespace {

// A cell of the static rows that is NULL.
constexpr int32_t kNull = -10;

// Where a row belongs: every connection, one ODBC version's (the datetime types), or the
// connections whose character data are (or are not) the wide types.
enum class Scope : uint8_t { All, Odbc2, Odbc3, Wide, Narrow };

struct TypeRow {
    const char* typeName;
    int16_t dataType;
    int32_t columnSize;
    const char* prefix;
    const char* suffix;
    const char* createParams;
    int16_t nullable, caseSensitive, searchable, unsignedAttr, fixedPrecScale, autoUnique;
    const char* localTypeName;
    int16_t minScale, maxScale, sqlDataType, datetimeSub;
    int32_t radix;
    int16_t intervalPrecision;
    Scope scope;
};

constexpr const char* Q = "'";
constexpr int16_t N = kNull;

// Ordered by DATA_TYPE, as ODBC asks; rows of one DATA_TYPE closest match first. The
// approximate types give their precision in decimal digits (radix 10), as the columns
// of these types are described. TIMESTAMP keeps milliseconds: three fraction digits.
constexpr TypeRow kRows[] = {
    {"varchar", SQL_WVARCHAR, 31982, Q, Q, "maxlength", 1, 1, 3, N, 0, N, "VARCHAR", N, N, SQL_WVARCHAR, N, N, N,
     Scope::Wide},
    {"character", SQL_WCHAR, 2000, Q, Q, "maxlength", 1, 1, 3, N, 0, N, "CHARACTER", N, N, SQL_WCHAR, N, N, N,
     Scope::Wide},
    {"timestamp with timezone", SQL_WCHAR, 2000, Q, Q, nullptr, 1, 1, 0, N, 0, N, "CHARACTER", N, N, SQL_WCHAR, N,
     N, N, Scope::Wide},
    {"bit", SQL_BIT, 1, nullptr, nullptr, nullptr, 0, 0, 2, N, 0, N, "BIT", 0, 0, SQL_BIT, N, N, N, Scope::All},
    {"tinyint", SQL_TINYINT, 3, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "TINYINT", 0, 0, SQL_TINYINT, N, 10, N,
     Scope::All},
    {"bigint", SQL_BIGINT, 19, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "BIGINT", 0, 0, SQL_BIGINT, N, 10, N,
     Scope::All},
    {"varbinary", SQL_VARBINARY, 31982, Q, Q, "length", 1, 0, 2, N, 0, N, "VARBINARY", N, N, SQL_VARBINARY, N, N, N,
     Scope::All},
    {"binary", SQL_BINARY, 2000, Q, Q, "length", 1, 0, 2, N, 0, N, "BINARY", N, N, SQL_BINARY, N, N, N, Scope::All},
    {"character", SQL_CHAR, 2000, Q, Q, "maxlength", 1, 1, 3, N, 0, N, "CHARACTER", N, N, SQL_CHAR, N, N, N,
     Scope::All},
    {"timestamp with timezone", SQL_CHAR, 2000, Q, Q, nullptr, 1, 1, 0, N, 0, N, "CHARACTER", N, N, SQL_CHAR, N, N,
     N, Scope::Narrow},
    {"numeric", SQL_NUMERIC, 50, nullptr, nullptr, "precision,scale", 1, 0, 2, 0, 0, 0, "NUMERIC", 0, 50,
     SQL_NUMERIC, N, 10, N, Scope::All},
    {"integer", SQL_INTEGER, 10, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "INTEGER", 0, 0, SQL_INTEGER, N, 10, N,
     Scope::All},
    {"smallint", SQL_SMALLINT, 5, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "SMALLINT", 0, 0, SQL_SMALLINT, N, 10,
     N, Scope::All},
    {"real", SQL_REAL, 7, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "REAL", 0, 0, SQL_REAL, N, 10, N, Scope::All},
    {"float", SQL_DOUBLE, 15, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "FLOAT", 0, 0, SQL_DOUBLE, N, 10, N,
     Scope::All},
    {"double precision", SQL_DOUBLE, 15, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "DOUBLE PRECISION", 0, 0,
     SQL_DOUBLE, N, 10, N, Scope::All},
    {"date", SQL_DATE, 10, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "DATE", N, N, SQL_DATETIME, SQL_CODE_DATE, N,
     N, Scope::Odbc2},
    {"time", SQL_TIME, 8, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "TIME", 0, 0, SQL_DATETIME, SQL_CODE_TIME, N,
     N, Scope::Odbc2},
    {"timestamp", SQL_TIMESTAMP, 23, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "TIMESTAMP", 0, 3, SQL_DATETIME,
     SQL_CODE_TIMESTAMP, N, N, Scope::Odbc2},
    {"varchar", SQL_VARCHAR, 31982, Q, Q, "maxlength", 1, 1, 3, N, 0, N, "VARCHAR", N, N, SQL_VARCHAR, N, N, N,
     Scope::All},
    {"date", SQL_TYPE_DATE, 10, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "DATE", 0, 0, SQL_DATETIME,
     SQL_CODE_DATE, N, N, Scope::Odbc3},
    {"time", SQL_TYPE_TIME, 8, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "TIME", 0, 0, SQL_DATETIME,
     SQL_CODE_TIME, N, N, Scope::Odbc3},
    {"timestamp", SQL_TYPE_TIMESTAMP, 23, nullptr, nullptr, nullptr, 1, 0, 2, 0, 0, 0, "TIMESTAMP", 0, 3,
     SQL_DATETIME, SQL_CODE_TIMESTAMP, N, N, Scope::Odbc3},
};

constexpr bool OrderedByDataType() {
    for (size_t i = 1; i < std::size(kRows); ++i)
        if (kRows[i - 1].dataType > kRows[i].dataType)
            return false;
    return true;
}
static_assert(OrderedByDataType(), "the type catalog is ordered by DATA_TYPE");

// The result columns: name, SQL type, column size, display size, internal type, width,
// and whether the column can hold NULL.
struct ResultCol {
    const char* name;
    int16_t sqlType;
    uint32_t columnSize, displaySize;
    int32_t internalType;
    uint32_t width;
    bool nullable;
};

constexpr ResultCol Text(const char* name, uint32_t size, bool nullable) {
    return {name, SQL_VARCHAR, size, size, DS_CHARZ, size, nullable};
}
constexpr ResultCol Small(const char* name, bool nullable) {
    return {name, SQL_SMALLINT, 5, 6, DS_SSHORT, 2, nullable};
}
constexpr ResultCol Int(const char* name, bool nullable) {
    return {name, SQL_INTEGER, 10, 11, DS_SLONG, 4, nullable};
}

constexpr ResultCol kCols[OA_TYPEINFO_COLS] = {
    Text("TYPE_NAME", 32, false),      Small("DATA_TYPE", false),         Int("COLUMN_SIZE", true),
    Text("LITERAL_PREFIX", 4, true),   Text("LITERAL_SUFFIX", 4, true),   Text("CREATE_PARAMS", 32, true),
    Small("NULLABLE", false),          Small("CASE_SENSITIVE", false),    Small("SEARCHABLE", false),
    Small("UNSIGNED_ATTRIBUTE", true), Small("FIXED_PREC_SCALE", false),  Small("AUTO_UNIQUE_VALUE", true),
    Text("LOCAL_TYPE_NAME", 32, true), Small("MINIMUM_SCALE", true),      Small("MAXIMUM_SCALE", true),
    Small("SQL_DATA_TYPE", false),     Small("SQL_DATETIME_SUB", true),   Int("SQL_NUM_PREC_RADIX", true),
    Small("INTERVAL_PRECISION", true),
};

bool InScope(const TypeRow& row, bool odbc3, bool wide) {
    switch (row.scope) {
    case Scope::Odbc2: return !odbc3;
    case Scope::Odbc3: return odbc3;
    case Scope::Wide: return wide;
    case Scope::Narrow: return !wide;
    case Scope::All: break;
    }
    return true;
}

// Whether the row answers the request. One SQL type picks its rows by DATA_TYPE, so that
// an ODBC 2 datetime number finds the ODBC 2 row on any connection and the other way round;
// the character rows still follow the width of the connection's columns.
bool Answers(const TypeRow& row, int16_t sqlType, bool odbc3, bool wide) {
    if (sqlType == SQL_ALL_TYPES)
        return InScope(row, odbc3, wide);
    bool widthFits = (row.scope != Scope::Wide || wide) && (row.scope != Scope::Narrow || !wide);
    return widthFits && row.dataType == sqlType;
}

void PutText(DATASET_COL* col, int32_t row, const char* text) {
    if (text == nullptr)
        return;   // the indicator stays NULL
    size_t n = std::strlen(text);
    if (n >= col->width)
        n = col->width - 1;
    std::memcpy(ds_Elem(col, row), text, n);
    ds_Elem(col, row)[n] = '\0';
    col->indicators[row] = 0;
}

void PutNumber(DATASET_COL* col, int32_t row, int32_t value) {
    if (value == kNull)
        return;
    if (col->type == DS_SSHORT) {
        auto v = static_cast<int16_t>(value);
        std::memcpy(ds_Elem(col, row), &v, sizeof v);
    } else {
        std::memcpy(ds_Elem(col, row), &value, sizeof value);
    }
    col->indicators[row] = 0;
}

void FillRow(DATASET* block, int32_t r, const TypeRow& t) {
    DATASET_COL* c = block->cols;
    PutText(&c[0], r, t.typeName);
    PutNumber(&c[1], r, t.dataType);
    PutNumber(&c[2], r, t.columnSize);
    PutText(&c[3], r, t.prefix);
    PutText(&c[4], r, t.suffix);
    PutText(&c[5], r, t.createParams);
    const int16_t smalls[] = {t.nullable, t.caseSensitive, t.searchable, t.unsignedAttr, t.fixedPrecScale,
                              t.autoUnique};
    for (size_t i = 0; i < std::size(smalls); ++i)
        PutNumber(&c[6 + i], r, smalls[i]);
    PutText(&c[12], r, t.localTypeName);
    PutNumber(&c[13], r, t.minScale);
    PutNumber(&c[14], r, t.maxScale);
    PutNumber(&c[15], r, t.sqlDataType);
    PutNumber(&c[16], r, t.datetimeSub);
    PutNumber(&c[17], r, t.radix);
    PutNumber(&c[18], r, t.intervalPrecision);
}

// The next row of the statement's request, moving its position past it; null at the end.
const TypeRow* NextRow(OA_STMT* stmt) {
    bool odbc3 = stmt->conn->odbcVersion >= 3;
    bool wide = db_WideTypes(stmt->conn->wide != 0, stmt->conn->unicodeLibrary != 0);
    while (stmt->typeInfoNext < std::size(kRows)) {
        const TypeRow& row = kRows[stmt->typeInfoNext++];
        if (Answers(row, stmt->typeInfoType, odbc3, wide))
            return &row;
    }
    return nullptr;
}

}  // namespace

int OA_GetTypeInfo(uint32_t handle, int16_t sqlType) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    oa_StmtReset(stmt);
    if (int rc = stmt->cols.alloc(OA_TYPEINFO_COLS); rc != 0)
        return rc;
    for (uint16_t i = 0; i < OA_TYPEINFO_COLS; ++i) {
        const ResultCol& c = kCols[i];
        COLDESC& d = stmt->cols.items[i];
        std::strncpy(d.name, c.name, sizeof d.name - 1);
        d.serverType = DB_TYPE_NONE;
        d.sqlType = c.sqlType;
        d.flags = c.nullable ? SQL_NULLABLE : SQL_NO_NULLS;
        d.columnSize = c.columnSize;
        d.decimalDigits = 0;
        d.displaySize = c.displaySize;
        d.internalType = c.internalType;
        d.declaredWidth = c.width;
    }
    stmt->staticResult = OA_STATIC_TYPEINFO;
    stmt->typeInfoType = sqlType;
    stmt->typeInfoNext = 0;
    // Open as a cursor is: a close ends it, and nothing of it reaches the server.
    stmt->flags = static_cast<uint16_t>(stmt->flags | STMT_CURSOR_OPEN);
    return 0;
}

int db_TypeInfoFetch(OA_STMT* stmt, uint16_t rows, DATASET* block) {
    if ((stmt->flags & STMT_CURSOR_OPEN) == 0) {
        OA_ErrPost(&stmt->errors, ERR_FUNCTION_SEQUENCE_ERROR);
        return ERR_FUNCTION_SEQUENCE_ERROR;
    }
    ds_Free(block);
    if (ds_InitFromColDescs(stmt->cols.items, stmt->cols.count, rows, block) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    while (block->rowsUsed < rows) {
        const TypeRow* row = NextRow(stmt);
        if (row == nullptr)
            break;
        FillRow(block, block->rowsUsed, *row);
        ++block->rowsUsed;
    }
    return 0;
}
