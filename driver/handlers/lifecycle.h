// Handlers that allocate and free handles, disconnect and end transactions.
#pragma once

#include "driver/frame/dispatch.h"

SQLRETURN DoAllocEnv(void*, const CallArgs& args);          // (SQLHENV* out)
SQLRETURN DoAllocHandleEnv(void*, const CallArgs& args);    // (SQLHANDLE* out)
// Freeing an environment disconnects and frees its connections first (S1010 while a call
// runs on one of them). Ending its transactions waits for a call running on one of its
// connections and ends each connected one's, each under that connection's claim and locks.
SQLRETURN DoFreeEnv(void* envr, const CallArgs& args);      // ()
SQLRETURN DoFreeHandleEnv(void* envr, const CallArgs& args);
SQLRETURN DoTransactEnv(void* envr, const CallArgs& args);  // (u16 completion type)

// Connections. Allocation runs under the handle lock (environment calls); the others on
// the connection's call lock.
SQLRETURN DoAllocConnect(void* envr, const CallArgs& args);     // (SQLHDBC* out)
SQLRETURN DoAllocHandleConn(void* envr, const CallArgs& args);  // (SQLHANDLE* out)
// Freeing a connection that is still connected is refused with S1010 (HY010).
SQLRETURN DoFreeConnect(void* conn, const CallArgs& args);      // ()
SQLRETURN DoFreeHandleConn(void* conn, const CallArgs& args);   // ()
SQLRETURN DoDisconnect(void* conn, const CallArgs& args);       // ()
SQLRETURN DoTransactConn(void* conn, const CallArgs& args);     // (u16 completion type)
// SQLEndTran with a statement or descriptor handle: only environments and connections end
// transactions (S1092, HY092).
SQLRETURN DoTransactStmt(void* stmt, const CallArgs& args);
SQLRETURN DoTransactDesc(void* desc, const CallArgs& args);
