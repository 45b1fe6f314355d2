// The server's type catalog: agent operation 35 (SQLGetTypeInfo) and the rows its fetch
// serves from a static table.
//
// The catalog is served as a static result of the agent statement (OA_STMT::staticResult
// OA_STATIC_TYPEINFO): OA_GetTypeInfo resets the statement, gives it the 19 result
// descriptions and opens the catalog; OA_Fetch then hands out its rows through
// db_TypeInfoFetch until they run out. Nothing reaches the server.
//
// Which rows a request gets: for SQL_ALL_TYPES (0) every row of the connection's ODBC
// version, with the datetime types as that version numbers them; for one SQL type the rows
// whose DATA_TYPE is that type (an ODBC 2 or ODBC 3 datetime number picks that version's
// row), none when the server has no such type. Rows come ordered by DATA_TYPE. The wide
// character types are listed only where columns are described as them (db_WideTypes).
#pragma once

#include <cstdint>

struct DATASET;
struct OA_STMT;

// OA_STMT::staticResult of a statement that serves the type catalog.
constexpr int32_t OA_STATIC_TYPEINFO = 2;

// Number of result columns of the catalog.
constexpr uint16_t OA_TYPEINFO_COLS = 19;

// Slot 35. 21 for an unknown handle; 16 when memory runs out (the statement is then
// reset). Otherwise 0, with the catalog open on the statement for sqlType.
int OA_GetTypeInfo(uint32_t stmt, int16_t sqlType);

// The fetch of a statement whose static result is the type catalog: up to rows rows into
// block (set up afresh from the statement's descriptions; 0 rows sets up the columns only),
// continuing where the previous fetch stopped. 22 once the catalog was closed; 16 when
// memory runs out.
int db_TypeInfoFetch(OA_STMT* stmt, uint16_t rows, DATASET* block);
