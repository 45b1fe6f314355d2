// Entry points that allocate and free handles, end transactions, disconnect, close
// cursors and cancel.
#include <sqlext.h>

#include "driver/entry/export.h"
#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
#include "driver/handlers/lifecycle.h"
#include "driver/handlers/pending.h"
#include "driver/objects/handles.h"

namespace {

constexpr int kEnv = CALL_KIND_ENV;
constexpr int kDbc = CALL_KIND_DBC;
constexpr int kStmt = CALL_KIND_STMT;
constexpr int kDesc = CALL_KIND_DESC;

const CALLREC kAllocEnv{"AllocEnv", "", 1, CALL_KIND_NONE, DoAllocEnv};
const CALLREC kAllocHandleEnv{"AllocHandle", "handleType=1", 0, CALL_KIND_NONE, DoAllocHandleEnv};
const CALLREC kAllocHandleConn{"AllocHandle", "handleType=2", 1, kEnv, DoAllocHandleConn};
const CALLREC kAllocHandleStmt{"AllocHandle", "handleType=3", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kAllocHandleDesc{"AllocHandle", "handleType=4", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kAllocConnect{"AllocConnect", "phdbc=%lX", 1, kEnv, DoAllocConnect};
const CALLREC kAllocStmt{"AllocStmt", "phstmt=%lX", 1, kDbc, DoNotCapable<kDbc>};
const CALLREC kFreeEnv{"FreeEnv", "", 1, kEnv, DoFreeEnv};
const CALLREC kFreeHandleEnv{"FreeHandle", "handleType=1", 1, kEnv, DoFreeHandleEnv};
const CALLREC kFreeConnect{"FreeConnect", "", 1, kDbc, DoFreeConnect};
const CALLREC kFreeHandleConn{"FreeHandle", "handleType=2", 1, kDbc, DoFreeHandleConn};
const CALLREC kFreeHandleStmt{"FreeHandle", "handleType=3", 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kFreeHandleDesc{"FreeHandle", "handleType=4", 1, kDesc, DoNotCapable<kDesc>};
const CALLREC kFreeStmt{"FreeStmt", "fOption=%u", 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kCloseCursor{"CloseCursor", "", 1, kStmt, DoNotCapable<kStmt>};
const CALLREC kDisconnect{"Disconnect", "", 1, kDbc, DoDisconnect};
const CALLREC kTransactEnv{"Transact", "fType=%u", 1, kEnv, DoTransactEnv};
const CALLREC kTransactConn{"Transact", "fType=%u", 1, kDbc, DoTransactConn};
const CALLREC kTransactStmt{"Transact", "fType=%u", 1, kStmt, DoTransactStmt};
const CALLREC kTransactDesc{"Transact", "fType=%u", 1, kDesc, DoTransactDesc};

// The record of a generic call for the handle type; null for a type outside 1 to 4.
const CALLREC* ByHandleType(SQLSMALLINT type, const CALLREC* env, const CALLREC* dbc, const CALLREC* stmt,
                            const CALLREC* desc) {
    switch (type) {
    case SQL_HANDLE_ENV: return env;
    case SQL_HANDLE_DBC: return dbc;
    case SQL_HANDLE_STMT: return stmt;
    case SQL_HANDLE_DESC: return desc;
    default: return nullptr;
    }
}

bool IsRegistered(HANDLE_TABLE& table, SQLHANDLE handle) {
    uint32_t id = HandleId(handle);
    return id != 0 && hdl_Lookup(&table, id) != nullptr;
}

}  // namespace

VARNO_EXPORT SQLRETURN SQL_API SQLAllocEnv(SQLHENV* phenv) {
    return CallODBC(kAllocEnv, nullptr, phenv);
}

VARNO_EXPORT SQLRETURN SQL_API SQLAllocConnect(SQLHENV henv, SQLHDBC* phdbc) {
    return CallODBC(kAllocConnect, henv, phdbc);
}

VARNO_EXPORT SQLRETURN SQL_API SQLAllocStmt(SQLHDBC hdbc, SQLHSTMT* phstmt) {
    return CallODBC(kAllocStmt, hdbc, phstmt);
}

VARNO_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    if (type == SQL_HANDLE_ENV)
        return CallODBC(kAllocHandleEnv, nullptr, output);
    const CALLREC* rec = ByHandleType(type, nullptr, &kAllocHandleConn, &kAllocHandleStmt, &kAllocHandleDesc);
    return rec ? CallODBC(*rec, input, output) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeEnv(SQLHENV henv) {
    return CallODBC(kFreeEnv, henv);
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeConnect(SQLHDBC hdbc) {
    return CallODBC(kFreeConnect, hdbc);
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT hstmt, SQLUSMALLINT option) {
    return CallODBC(kFreeStmt, hstmt, option);
}

VARNO_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    const CALLREC* rec = ByHandleType(type, &kFreeHandleEnv, &kFreeHandleConn, &kFreeHandleStmt, &kFreeHandleDesc);
    return rec ? CallODBC(*rec, handle) : SQL_INVALID_HANDLE;
}

VARNO_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT hstmt) {
    return CallODBC(kCloseCursor, hstmt);
}

VARNO_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
    return CallODBC(kDisconnect, hdbc);
}

VARNO_EXPORT SQLRETURN SQL_API SQLTransact(SQLHENV henv, SQLHDBC hdbc, SQLUSMALLINT type) {
    // A connection handle given is the one ended, valid or not: a stale one must not end
    // every other connection of the environment.
    if (hdbc != nullptr)
        return CallODBC(kTransactConn, hdbc, type);
    return CallODBC(kTransactEnv, henv, type);
}

VARNO_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    auto completionType = static_cast<SQLUSMALLINT>(completion);
    switch (type) {
    case SQL_HANDLE_ENV:
        if (!IsRegistered(Drv().envTable, handle))
            return SQL_INVALID_HANDLE;
        return CallODBC(kTransactEnv, handle, completionType);
    case SQL_HANDLE_DBC:
        if (!IsRegistered(Drv().connTable, handle))
            return SQL_INVALID_HANDLE;
        return CallODBC(kTransactConn, handle, completionType);
    case SQL_HANDLE_STMT:
        return CallODBC(kTransactStmt, handle, completionType);
    case SQL_HANDLE_DESC:
        return CallODBC(kTransactDesc, handle, completionType);
    default:
        return SQL_INVALID_HANDLE;  // no table to find the handle in, nowhere to post HY092
    }
}

// SQLCancel is meant to arrive from a second thread while a call runs on the statement,
// so it takes the handle lock alone, never the locks the running call holds.
VARNO_EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT hstmt) {
    // Before start-up or after unload the handle lock may not be there to take.
    if (!DrvIsInitialised())
        return SQL_INVALID_HANDLE;
    if (TraceIsOn())
        TraceLog("\nSQLCancel hStmt=%lX", static_cast<unsigned long>(HandleId(hstmt)));
    DRV_GLOBALS& g = Drv();
    std::lock_guard<std::recursive_mutex> guard(g.handleLock);
    auto* stmt = static_cast<STMT*>(hdl_Lookup(&g.stmtTable, HandleId(hstmt)));
    if (stmt == nullptr || stmt->magic != STMT_MAGIC) {
        if (TraceIsOn())
            TraceLog("SQLCancel: returning SQL_INVALID_HANDLE");
        return SQL_INVALID_HANDLE;
    }
    // No statement can be executed yet, so there is nothing to cancel or close.
    if (TraceIsOn())
        TraceLog("SQLCancel: returning %d", SQL_SUCCESS);
    return SQL_SUCCESS;
}
