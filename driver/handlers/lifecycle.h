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

// Statements and descriptors. Allocation needs a connected connection (08003) and a
// non-null output (S1009); the output holds 0 until the new handle is registered.
SQLRETURN DoAllocStmt(HANDLE_HDR* conn, const OutHandleArgs& a);
SQLRETURN DoAllocDesc(HANDLE_HDR* conn, const OutHandleArgs& a);
SQLRETURN DoFreeHandleStmt(HANDLE_HDR* stmt, const NoArgs&);
// An implicit descriptor is its statement's: freeing it is refused (S1017, HY017).
SQLRETURN DoFreeHandleDesc(HANDLE_HDR* desc, const NoArgs&);

// SQLFreeStmt: the option (SQL_CLOSE, SQL_DROP, SQL_UNBIND, SQL_RESET_PARAMS).
struct FreeStmtArgs {
    SQLUSMALLINT option;
    auto TraceFields() const { return std::tuple(option); }
};
SQLRETURN DoFreeStmt(HANDLE_HDR* stmt, const FreeStmtArgs& a);
// SQLCloseCursor: 24000 without an open cursor.
SQLRETURN DoCloseCursor(HANDLE_HDR* stmt, const NoArgs&);
// SQLCancel of a statement no call runs on: closes it (01S05). DoCancelRunning serves a
// cancel that arrives while a call runs on the statement: it only asks that call to stop.
SQLRETURN DoCancel(HANDLE_HDR* stmt, const NoArgs&);
SQLRETURN DoCancelRunning(HANDLE_HDR* stmt, const NoArgs&);
