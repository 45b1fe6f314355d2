// SQLGetTypeInfo: the server's type catalog opened as the statement's result, read back by
// the fetch calls like any result.
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

// The SQL type is signed all the way to the agent: the wide types are negative.
struct GetTypeInfoArgs {
    SQLSMALLINT sqlType;
    auto TraceFields() const { return std::tuple(sqlType); }
};

// Closes the statement's cursor and drops what was prepared on it, then has the agent open
// its catalog for the type. SQL_SUCCESS with the catalog open, or SQL_ERROR with the
// agent's code and messages on the statement, which is then not prepared.
SQLRETURN DoGetTypeInfo(HANDLE_HDR* stmt, const GetTypeInfoArgs& a);
