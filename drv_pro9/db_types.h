// The agent's static type tables: the server's type codes against the dataset's internal
// types (DS_CTYPE) in both directions, the server's type names and literal quotes, the
// answers to the column-attribute requests of a described column, and the fix-up of the
// type columns of catalog result rows.
//
// Three type spaces meet here: the server type codes of the SQLDA (esql92.h
// esql_server_type), the ODBC SQL types reported to the application, and the DS_CTYPE of
// dataset columns. The wide-types mode (db_WideTypes: the Unicode library, on a connection
// opened in wide mode) decides the SQL types only: character data are described as the
// wide SQL types, while the dataset keeps every text as the server writes it (UTF-8 in the
// Unicode library) and delivery converts it.
//
// Nothing here touches the client library or locks; everything is a pure function of its
// arguments.
#pragma once

#include <cstdint>

struct DATASET;

// Type code that marks "not a server type" (a description that does not come from the
// server, or a type the tables do not know).
constexpr int32_t DB_TYPE_NONE = -9999;

// Whether character data travels as the wide types: the connection's wide flag, honoured
// only by the Unicode library (as the connect request said, OA_CONN::unicodeLibrary).
bool db_WideTypes(bool connWide, bool unicodeLibrary);

// Server type to internal type. Returns the DS_CTYPE, or DB_TYPE_NONE for a type the
// server does not have. *key (may be null) receives the type the value is carried as (the
// server type, except NUMERIC and BIGINT, which the server writes as VARCHAR text, and
// VARBINARY, which shares BINARY's layout); *convert (may be null) whether the value passes
// through an intermediate buffer and db_ConvDBMSToKVR.
int32_t db_DbmsTypeToDsCType(int32_t serverType, int16_t* key, bool* convert);

// Internal type to the server type a parameter of that type is sent as, or DB_TYPE_NONE.
// *convert (may be null) whether the values are first built into a buffer of the server's
// layout (db_ConvKVRToDBMS). Unsigned integers are sent as the next wider signed type: the
// server's integers are signed, and a u8 of 200 sent as TINYINT would arrive as -56.
int32_t db_DsCTypeToDbmsType(int32_t dsType, bool* convert);

// "CHARACTER", "NUMERIC", ... for the server's types; "VARCHAR" for any other code.
const char* db_TypeName(int32_t serverType);
// Literal prefix and suffix (they are the same): "'" for text and binary types, else "".
const char* db_QuoteChar(int32_t serverType);

// One request of a statement's column-attribute table: which attribute of which column,
// and its answer. Made and freed by the statement code; answered by db_ColAttribute.
struct OA_COLATTRREQ {
    int16_t column;      // 0 for the bookmark column
    int16_t attribute;   // SQL_COLUMN_* / SQL_DESC_* code; negative: not answered
    int32_t kind;        // OA_COLATTR_NUMBER or OA_COLATTR_TEXT
    int64_t number;
    char* text;          // owned (C heap)
};
static_assert(sizeof(OA_COLATTRREQ) == 24, "column-attribute requests are 24 bytes");

constexpr int32_t OA_COLATTR_TEXT = 0;
constexpr int32_t OA_COLATTR_NUMBER = 1;

// Answers one request for a described column of the given server type. updatable is the
// column's updatability as the describe step gives it (0 read only, 1 writable, 2
// unknown). 10 -> updatable; 12 -> case sensitive (1 for CHARACTER and VARCHAR, else 0);
// 11 and 35 -> 0; 13 -> searchable (3 for text, else 2); 14 -> the type name; 27 and 28 ->
// the literal quote; 1053 and 1055 are made negative (answered elsewhere); any other code
// is left alone. A text answer replaces the request's text with a copy (fatal allocator).
void db_ColAttribute(int32_t serverType, int32_t updatable, OA_COLATTRREQ* req);

// The dataset columns (0-based; -1 when the result has no such column) that play the type
// roles of a catalog row.
struct DB_CATTYPECOLS {
    int dataType;
    int columnSize;
    int bufferLength;
    int decimalDigits;
    int radix;
    int sqlDataType;
    int datetimeSub;
};

// Rewrites the type columns of one catalog row from the server's small catalog type code
// that the query left in the DATA_TYPE cell (1 varchar, 2 date, 3 bit, 4 integer, 5
// numeric, 8 varbinary, 21 tinyint, 22 smallint, 24 real, 25 float, 31 character, 32
// bigint, 33 time, 34 timestamp, 35 binary) into ODBC values; odbcVersion 2 reports 9, 10,
// 11 for the datetime types, wide the wide character types. Other codes, a NULL code and
// a row outside the dataset leave the row as it is. Cells are written by their column's
// integer type (signed and unsigned 8, 16 and 32 bits); cells of other types are skipped.
void db_FixCatalogType(DATASET* ds, int32_t row, const DB_CATTYPECOLS& cols, int odbcVersion,
                       bool wide);
