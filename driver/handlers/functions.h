// SQLGetFunctions: which ODBC functions the driver carries out. The answer is made from
// the export list, so what is exported and what is reported cannot drift apart.
#pragma once

#include "driver/frame/dispatch.h"

// (u16 function id, u16* result); always SQL_SUCCESS.
SQLRETURN DoGetFunctions(void* conn, const CallArgs& args);
