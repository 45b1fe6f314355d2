// Handlers that allocate and free handles, disconnect and end transactions.
#pragma once

#include <tuple>

#include "driver/frame/dispatch.h"

// The calls that hand a new handle out: SQLAllocEnv, SQLAllocConnect, SQLAllocHandle.
struct OutHandleArgs {
    SQLHANDLE* out;
    auto TraceFields() const { return std::tuple(out); }
};

// SQLTransact and SQLEndTran: the completion type (0 commit, 1 roll back).
struct TransactArgs {
    SQLUSMALLINT completion;
    auto TraceFields() const { return std::tuple(completion); }
};

// Environments (kind 1 for the allocation).
SQLRETURN DoAllocEnv(HANDLE_HDR*, const OutHandleArgs& a);        // ODBC 2 environment
SQLRETURN DoAllocHandleEnv(HANDLE_HDR*, const OutHandleArgs& a);  // ODBC 3 environment
// Freeing an environment disconnects and frees its connections first (S1010 while a call
// runs on one of them). Ending its transactions waits for a call running on one of its
// connections and ends each connected one's, each under that connection's claim and locks.
SQLRETURN DoFreeEnv(HANDLE_HDR* envr, const NoArgs&);
SQLRETURN DoTransactEnv(HANDLE_HDR* envr, const TransactArgs& a);

// Connections. Allocation runs under the handle lock (environment calls); the others on
// the connection's call lock.
SQLRETURN DoAllocConnect(HANDLE_HDR* envr, const OutHandleArgs& a);
// Freeing a connection that is still connected is refused with S1010 (HY010).
SQLRETURN DoFreeConnect(HANDLE_HDR* conn, const NoArgs&);
SQLRETURN DoDisconnect(HANDLE_HDR* conn, const NoArgs&);
SQLRETURN DoTransactConn(HANDLE_HDR* conn, const TransactArgs& a);
// SQLEndTran with a statement or descriptor handle: only environments and connections end
// transactions (S1092, HY092).
SQLRETURN DoTransactRefused(HANDLE_HDR* h, const TransactArgs& a);
