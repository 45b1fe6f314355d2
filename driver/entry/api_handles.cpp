// Entry points that allocate and free handles, end transactions, disconnect, close
// cursors and cancel.
#include <sqlext.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/handlers/lifecycle.h"

namespace {

constexpr int kEnv = CALL_KIND_ENV;
constexpr int kDbc = CALL_KIND_DBC;
constexpr int kStmt = CALL_KIND_STMT;
constexpr int kDesc = CALL_KIND_DESC;

constexpr auto kAllocEnv = MakeCall<DoAllocEnv>("AllocEnv", "", 1, CALL_KIND_NONE);
constexpr auto kAllocHandleEnv = MakeCall<DoAllocHandleEnv>("AllocHandle", "handleType=1", 0, CALL_KIND_NONE);
constexpr auto kAllocHandleConn = MakeCall<DoAllocConnect>("AllocHandle", "handleType=2", 1, kEnv);
constexpr auto kAllocHandleStmt = MakeCall<DoAllocStmt>("AllocHandle", "handleType=3", 1, kDbc);
constexpr auto kAllocHandleDesc = MakeCall<DoAllocDesc>("AllocHandle", "handleType=4", 1, kDbc);
constexpr auto kAllocConnect = MakeCall<DoAllocConnect>("AllocConnect", "phdbc=%lX", 1, kEnv);
constexpr auto kAllocStmt = MakeCall<DoAllocStmt>("AllocStmt", "phstmt=%lX", 1, kDbc);
constexpr auto kFreeEnv = MakeCall<DoFreeEnv>("FreeEnv", "", 1, kEnv);
constexpr auto kFreeHandleEnv = MakeCall<DoFreeEnv>("FreeHandle", "handleType=1", 1, kEnv);
constexpr auto kFreeConnect = MakeCall<DoFreeConnect>("FreeConnect", "", 1, kDbc);
constexpr auto kFreeHandleConn = MakeCall<DoFreeConnect>("FreeHandle", "handleType=2", 1, kDbc);
constexpr auto kFreeHandleStmt = MakeCall<DoFreeHandleStmt>("FreeHandle", "handleType=3", 1, kStmt);
constexpr auto kFreeHandleDesc = MakeCall<DoFreeHandleDesc>("FreeHandle", "handleType=4", 1, kDesc);
constexpr auto kFreeStmt = MakeCall<DoFreeStmt>("FreeStmt", "fOption=%u", 1, kStmt);
constexpr auto kCloseCursor = MakeCall<DoCloseCursor>("CloseCursor", "", 1, kStmt);
// SQLCancel is meant to arrive from a second thread while a call runs on the statement:
// then it only leaves a request for that call (DoCancelRunning); otherwise it claims the
// connection like any call, and is refused while another handle of it is busy.
constexpr auto kCancel = MakeCallWhileRunning<DoCancel, DoCancelRunning>("Cancel", "", 1, kStmt);
constexpr auto kDisconnect = MakeCall<DoDisconnect>("Disconnect", "", 1, kDbc);
constexpr auto kTransactEnv = MakeCall<DoTransactEnv>("Transact", "fType=%u", 1, kEnv);
constexpr auto kTransactConn = MakeCall<DoTransactConn>("Transact", "fType=%u", 1, kDbc);
constexpr auto kTransactStmt = MakeCall<DoTransactRefused>("Transact", "fType=%u", 1, kStmt);
constexpr auto kTransactDesc = MakeCall<DoTransactRefused>("Transact", "fType=%u", 1, kDesc);

bool IsRegistered(HANDLE_TABLE& table, SQLHANDLE handle) {
    uint32_t id = HandleId(handle);
    return id != 0 && hdl_Lookup(&table, id) != nullptr;
}

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLAllocEnv(SQLHENV* phenv) {
    return CallODBC(kAllocEnv, nullptr, OutHandleArgs{phenv});
}

VARNO_EXPORT SQLRETURN SQL_API SQLAllocConnect(SQLHENV henv, SQLHDBC* phdbc) {
    return CallODBC(kAllocConnect, henv, OutHandleArgs{phdbc});
}

VARNO_EXPORT SQLRETURN SQL_API SQLAllocStmt(SQLHDBC hdbc, SQLHSTMT* phstmt) {
    return CallODBC(kAllocStmt, hdbc, OutHandleArgs{phstmt});
}

VARNO_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    switch (type) {
    case SQL_HANDLE_ENV: return CallODBC(kAllocHandleEnv, nullptr, OutHandleArgs{output});
    case SQL_HANDLE_DBC: return CallODBC(kAllocHandleConn, input, OutHandleArgs{output});
    case SQL_HANDLE_STMT: return CallODBC(kAllocHandleStmt, input, OutHandleArgs{output});
    case SQL_HANDLE_DESC: return CallODBC(kAllocHandleDesc, input, OutHandleArgs{output});
    default: return SQL_INVALID_HANDLE;
    }
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeEnv(SQLHENV henv) {
    return CallODBC(kFreeEnv, henv, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeConnect(SQLHDBC hdbc) {
    return CallODBC(kFreeConnect, hdbc, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT hstmt, SQLUSMALLINT option) {
    return CallODBC(kFreeStmt, hstmt, FreeStmtArgs{option});
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    switch (type) {
    case SQL_HANDLE_ENV: return CallODBC(kFreeHandleEnv, handle, NoArgs{});
    case SQL_HANDLE_DBC: return CallODBC(kFreeHandleConn, handle, NoArgs{});
    case SQL_HANDLE_STMT: return CallODBC(kFreeHandleStmt, handle, NoArgs{});
    case SQL_HANDLE_DESC: return CallODBC(kFreeHandleDesc, handle, NoArgs{});
    default: return SQL_INVALID_HANDLE;
    }
}

VARNO_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT hstmt) {
    return CallODBC(kCloseCursor, hstmt, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
    return CallODBC(kDisconnect, hdbc, NoArgs{});
}

VARNO_EXPORT SQLRETURN SQL_API SQLTransact(SQLHENV henv, SQLHDBC hdbc, SQLUSMALLINT type) {
    // A connection handle given is the one ended, valid or not: a stale one must not end
    // every other connection of the environment.
    if (hdbc != nullptr)
        return CallODBC(kTransactConn, hdbc, TransactArgs{type});
    return CallODBC(kTransactEnv, henv, TransactArgs{type});
}

VARNO_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    const TransactArgs args{static_cast<SQLUSMALLINT>(completion)};
    switch (type) {
    case SQL_HANDLE_ENV:
        if (!IsRegistered(Drv().envTable, handle))
            return SQL_INVALID_HANDLE;
        return CallODBC(kTransactEnv, handle, args);
    case SQL_HANDLE_DBC:
        if (!IsRegistered(Drv().connTable, handle))
            return SQL_INVALID_HANDLE;
        return CallODBC(kTransactConn, handle, args);
    case SQL_HANDLE_STMT:
        return CallODBC(kTransactStmt, handle, args);
    case SQL_HANDLE_DESC:
        return CallODBC(kTransactDesc, handle, args);
    default:
        return SQL_INVALID_HANDLE;  // no table to find the handle in, nowhere to post HY092
    }
}

VARNO_EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT hstmt) {
    return CallODBC(kCancel, hstmt, NoArgs{});
}
