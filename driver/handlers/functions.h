// SQLGetFunctions: which ODBC functions the driver carries out. The answer is made from
// the export list, so what is exported and what is reported cannot drift apart.
#pragma once

#include <tuple>

#include "driver/frame/dispatch.h"

struct GetFunctionsArgs {
    SQLUSMALLINT function;
    SQLUSMALLINT* supported;
    auto TraceFields() const { return std::tuple(function, supported); }
};
// Always SQL_SUCCESS.
SQLRETURN DoGetFunctions(HANDLE_HDR* conn, const GetFunctionsArgs& a);
