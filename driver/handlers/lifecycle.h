// Handlers that allocate and free handles, disconnect and end transactions.
#pragma once

#include "driver/frame/dispatch.h"

SQLRETURN DoAllocEnv(void*, const CallArgs& args);          // (SQLHENV* out)
SQLRETURN DoAllocHandleEnv(void*, const CallArgs& args);    // (SQLHANDLE* out)
SQLRETURN DoFreeEnv(void* envr, const CallArgs& args);      // ()
SQLRETURN DoFreeHandleEnv(void* envr, const CallArgs& args);
SQLRETURN DoTransactEnv(void* envr, const CallArgs& args);  // (u16 completion type)

// Connections. Allocation runs under the handle lock (environment calls); the others on
// the connection's call lock.
SQLRETURN DoAllocConnect(void* envr, const CallArgs& args);     // (SQLHDBC* out)
SQLRETURN DoAllocHandleConn(void* envr, const CallArgs& args);  // (SQLHANDLE* out)
SQLRETURN DoFreeConnect(void* conn, const CallArgs& args);      // ()
SQLRETURN DoFreeHandleConn(void* conn, const CallArgs& args);   // ()
SQLRETURN DoDisconnect(void* conn, const CallArgs& args);       // ()
SQLRETURN DoTransactConn(void* conn, const CallArgs& args);     // (u16 completion type)
