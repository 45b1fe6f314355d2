// SQLGetFunctions and SQLGetInfo: which ODBC functions the driver carries out, and the
// answers to the information types.
//
// SQLGetFunctions is made from the export list, so what is exported and what is reported
// cannot drift apart. SQLGetInfo answers a few types itself, computes the conversion masks
// from the connection's agent conversion table (unless the agent answers them), and takes
// every other type from the agent's properties, kept per connection in its cache
// (CONN::infoI32, infoU16, infoText) so that the agent is asked once per connection and type.
#pragma once

#include <sql.h>

#include <cstdint>
#include <tuple>

#include "driver/frame/dispatch.h"

struct CONN;

struct GetFunctionsArgs {
    SQLUSMALLINT function;
    SQLUSMALLINT* supported;
    auto TraceFields() const { return std::tuple(function, supported); }
};
// Always SQL_SUCCESS.
SQLRETURN DoGetFunctions(HANDLE_HDR* conn, const GetFunctionsArgs& a);

// SQLGetInfo: the size and the length count bytes in both widths; a text answer is
// UTF-16 for the wide entry (width 'W').
struct GetInfoArgs {
    SQLUSMALLINT type;
    SQLPOINTER value;
    SQLSMALLINT size;
    SQLSMALLINT* length;
    int width;
    auto TraceFields() const { return std::tuple(type, value, size, length); }
};
// SQL_SUCCESS; SQL_SUCCESS_WITH_INFO (01004) for a text cut to the buffer, its full length
// reported; SQL_ERROR with 08003 before connect for the types that need the server, S1096
// for a type the driver does not answer, S1090 for a negative (or, wide, odd) buffer size
// of a text answer, or the agent's code and messages when it cannot answer.
SQLRETURN DoGetInfo(HANDLE_HDR* conn, const GetInfoArgs& a);

// Whether the connection's agent conversion table converts sqlType to the SQL_CVT bits of
// mask (any of them). The table is keyed by SQL type; a datetime type is found under its
// ODBC 2 or ODBC 3 number alike. False before connect or without a table.
bool ConnTypeConvertible(const CONN* conn, int32_t sqlType, uint32_t mask);
