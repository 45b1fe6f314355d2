// Handlers that allocate and free handles and end transactions.
#pragma once

#include "driver/frame/dispatch.h"

SQLRETURN DoAllocEnv(void*, const CallArgs& args);          // (SQLHENV* out)
SQLRETURN DoAllocHandleEnv(void*, const CallArgs& args);    // (SQLHANDLE* out)
SQLRETURN DoFreeEnv(void* envr, const CallArgs& args);      // ()
SQLRETURN DoFreeHandleEnv(void* envr, const CallArgs& args);
SQLRETURN DoTransactEnv(void* envr, const CallArgs& args);  // (u16 completion type)
