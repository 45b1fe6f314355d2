// Handle life cycle.
#include "driver/handlers/lifecycle.h"

#include "driver/exec/execute.h"
#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
#include "driver/handlers/stmtattr.h"
#include "driver/objects/conn.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

// Allocates, opens and registers an environment of the given ODBC version. The handle id
// reaches the output only once registration succeeded.
SQLRETURN AllocEnvironment(SQLHANDLE* out, uint32_t odbcVersion, const char* failTrace) {
    if (out == nullptr)
        return SQL_ERROR;
    *out = nullptr;
    ENVR* envr = EnvrAlloc();
    if (envr == nullptr)
        return SQL_ERROR;
    envr->odbcVersion = odbcVersion;
    EnvrOpen(envr);
    if (envr->state != ENVR_OPEN) {
        TraceLog("%s", failTrace);
        EnvrFree(envr);
        return SQL_ERROR;
    }
    uint32_t id = 0;
    if (hdl_Add(&Drv().envTable, &id, static_cast<HANDLE_HDR*>(envr)) != 0) {
        EnvrFree(envr);
        return SQL_ERROR;
    }
    envr->id = id;
    *out = HandleFromId(id);
    return SQL_SUCCESS;
}

// Allocates and registers a connection on the environment; the handle id reaches the
// output only once registration succeeded. Handle lock held.
SQLRETURN AllocConnection(ENVR* envr, SQLHANDLE* out) {
    if (out == nullptr) {
        envr->diag.errCode = ERR_INVALID_ARGUMENT_VALUE;
        return SQL_ERROR;
    }
    *out = nullptr;
    CONN* conn = ConnAlloc(envr);
    if (conn == nullptr)
        return SQL_ERROR;
    uint32_t id = 0;
    int rc = hdl_Add(&Drv().connTable, &id, static_cast<HANDLE_HDR*>(conn));
    if (rc != 0) {
        ConnDestroy(conn);
        envr->diag.errCode = rc;
        return SQL_ERROR;
    }
    conn->id = id;
    *out = HandleFromId(id);
    return SQL_SUCCESS;
}

// Frees a connection that is not connected: ODBC frees only a disconnected one, since an
// open one would lose its transaction without a word. The dispatcher unregisters and
// deletes it once the call's locks are down.
SQLRETURN FreeConnection(CONN* conn) {
    if (conn->state == CONN_CONNECTED) {
        conn->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    int rc = ConnClose(conn);
    if (rc != 0) {
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }
    conn->callGate.releaseAfterCall = true;
    return SQL_SUCCESS;
}

struct EnvTransaction {
    int completion = SQL_COMMIT;
    int failure = 0;  // internal code of the last connection that failed
    DIAG messages;    // what the agent said of the failures
};

// Ends the transaction of one connection of an environment; one merely allocated has
// none. Only the environment learns of a failure: the connection's diagnostics belong to
// it, and a call refused on it meanwhile may write them.
bool EndConnTransaction(CONN* conn, void* context) {
    auto* t = static_cast<EnvTransaction*>(context);
    if (conn->state != CONN_CONNECTED)
        return false;
    TraceLog("%s", t->completion == SQL_COMMIT ? "[Commit]" : "[Rollback]");
    if (int rc = ConnEndTranOn(conn, t->completion, t->messages); rc != 0)
        t->failure = rc;
    return false;
}

}  // namespace

SQLRETURN DoAllocEnv(HANDLE_HDR*, const OutHandleArgs& a) {
    return AllocEnvironment(a.out, 2, "SQLAllocEnv: EnvrOpen failed");
}

SQLRETURN DoAllocHandleEnv(HANDLE_HDR*, const OutHandleArgs& a) {
    return AllocEnvironment(a.out, 3, "SQLAllocHandle (SQL_HANDLE_ENV): EnvrOpen failed");
}

SQLRETURN DoFreeEnv(HANDLE_HDR* h, const NoArgs&) {
    auto* envr = static_cast<ENVR*>(h);
    // A call still running on one of its connections, or another thread's walk over
    // them, would find its objects gone.
    if (EnvrInUse(envr)) {
        envr->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    EnvrClose(envr);
    // Closing gave up the handle lock while it worked: another thread may have added a
    // connection or started a walk meanwhile.
    if (envr->conns != nullptr || EnvrInUse(envr)) {
        envr->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    EnvrFree(envr);
    return SQL_SUCCESS;
}

SQLRETURN DoTransactEnv(HANDLE_HDR* h, const TransactArgs& a) {
    auto* envr = static_cast<ENVR*>(h);
    EnvTransaction t;
    t.completion = a.completion;
    if (t.completion != SQL_COMMIT && t.completion != SQL_ROLLBACK) {
        envr->diag.errCode = ERR_INVALID_TRANSACTION_OPERATION_CODE;
        return SQL_ERROR;
    }
    // Waits for a call running on a connection rather than failing on it.
    EnvrForEachConnection(envr, EndConnTransaction, &t);
    for (ERRMSG& m : t.messages.messages)
        EnvrAddError(envr, m.text, m.native);
    if (t.failure != 0) {
        envr->diag.errCode = t.failure;
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

SQLRETURN DoAllocConnect(HANDLE_HDR* envr, const OutHandleArgs& a) {
    return AllocConnection(static_cast<ENVR*>(envr), a.out);
}

SQLRETURN DoFreeConnect(HANDLE_HDR* conn, const NoArgs&) {
    return FreeConnection(static_cast<CONN*>(conn));
}

SQLRETURN DoDisconnect(HANDLE_HDR* h, const NoArgs&) {
    auto* conn = static_cast<CONN*>(h);
    if (conn->state != CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_NOT_OPEN;
        return SQL_ERROR;
    }
    int rc = ConnClose(conn);
    if (rc != 0) {
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }
    return SQL_SUCCESS;  // back to allocated
}

SQLRETURN DoTransactConn(HANDLE_HDR* conn, const TransactArgs& a) {
    return ConnEndTran(static_cast<CONN*>(conn), a.completion);
}

SQLRETURN DoTransactRefused(HANDLE_HDR* h, const TransactArgs&) {
    h->diag.errCode = ERR_OPTION_TYPE_OUT_OF_RANGE;
    return SQL_ERROR;
}

namespace {

// The checks every statement or descriptor allocation makes first. False with the code
// on the connection.
bool MayAllocateOn(CONN* conn, SQLHANDLE* out) {
    if (out == nullptr) {
        conn->diag.errCode = ERR_INVALID_ARGUMENT_VALUE;
        return false;
    }
    *out = nullptr;
    if (conn->state != CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_NOT_OPEN;
        return false;
    }
    return true;
}

}  // namespace

SQLRETURN DoAllocStmt(HANDLE_HDR* h, const OutHandleArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    if (!MayAllocateOn(conn, a.out))
        return SQL_ERROR;
    STMT* stmt = StmtAlloc(conn);
    if (stmt == nullptr)
        return SQL_ERROR;
    uint32_t id = 0;
    if (int rc = hdl_Add(&Drv().stmtTable, &id, static_cast<HANDLE_HDR*>(stmt)); rc != 0) {
        StmtFree(stmt);
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }
    stmt->id = id;
    if (StmtApplyConnDefaults(stmt) == SQL_ERROR) {
        // The connection reports why its statement could not be made.
        conn->diag.errCode = stmt->diag.errCode;
        while (std::optional<ERRMSG> m = StmtNextError(stmt))
            ConnAddError(conn, m->text, m->native);
        StmtFree(stmt);
        return SQL_ERROR;
    }
    *a.out = HandleFromId(id);
    return SQL_SUCCESS;
}

SQLRETURN DoAllocDesc(HANDLE_HDR* h, const OutHandleArgs& a) {
    auto* conn = static_cast<CONN*>(h);
    if (!MayAllocateOn(conn, a.out))
        return SQL_ERROR;
    DESC* desc = DescAlloc(DESC_USER, DESC_ALLOC_USER, nullptr, conn);
    if (desc == nullptr)
        return SQL_ERROR;
    uint32_t id = 0;
    if (int rc = hdl_Add(&Drv().descTable, &id, static_cast<HANDLE_HDR*>(desc)); rc != 0) {
        DescFree(desc);
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }
    desc->id = id;
    *a.out = HandleFromId(id);
    return SQL_SUCCESS;
}

SQLRETURN DoFreeHandleStmt(HANDLE_HDR* h, const NoArgs&) {
    auto* stmt = static_cast<STMT*>(h);
    StmtClose(stmt);
    StmtFree(stmt);
    return SQL_SUCCESS;
}

SQLRETURN DoFreeHandleDesc(HANDLE_HDR* h, const NoArgs&) {
    auto* desc = static_cast<DESC*>(h);
    // Its statement still points at it and would use freed memory.
    if (desc->allocKind != DESC_ALLOC_USER) {
        desc->diag.errCode = ERR_INVALID_USE_OF_AN_AUTOMATICALLY_ALLOCATED;
        return SQL_ERROR;
    }
    DescFree(desc);
    return SQL_SUCCESS;
}

SQLRETURN DoFreeStmt(HANDLE_HDR* h, const FreeStmtArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    switch (a.option) {
    case SQL_CLOSE:
        StmtClose(stmt);
        break;
    case SQL_DROP:
        StmtClose(stmt);
        StmtFree(stmt);
        return SQL_SUCCESS;
    case SQL_UNBIND:
        StmtUnbindAll(stmt);
        break;
    case SQL_RESET_PARAMS:
        StmtResetParams(stmt);
        break;
    default:
        stmt->diag.errCode = ERR_OPTION_TYPE_OUT_OF_RANGE;
        return SQL_ERROR;
    }
    return stmt->diag.errCode != 0 ? SQL_ERROR : SQL_SUCCESS;
}

SQLRETURN DoCloseCursor(HANDLE_HDR* h, const NoArgs&) {
    auto* stmt = static_cast<STMT*>(h);
    if ((stmt->flags & STMT_FLAG_CURSOR_OPEN) == 0) {
        stmt->diag.errCode = ERR_INVALID_CURSOR_STATE;
        return SQL_ERROR;
    }
    StmtClose(stmt);
    return stmt->diag.errCode != 0 ? SQL_ERROR : SQL_SUCCESS;
}

SQLRETURN DoCancel(HANDLE_HDR* h, const NoArgs&) {
    auto* stmt = static_cast<STMT*>(h);
    stmt->cancelRequested = false;  // nothing runs that could read it
    StmtCancelDataAtExec(stmt);
    StmtClose(stmt);
    stmt->diag.errCode = ERR_SQLCANCEL_CLOSED_THE_STATEMENT;
    return SQL_SUCCESS_WITH_INFO;
}

SQLRETURN DoCancelRunning(HANDLE_HDR* h, const NoArgs&) {
    // The running call owns the statement and its diagnostics, and holds the locks the
    // agent needs: the request is all that may be touched from here.
    static_cast<STMT*>(h)->cancelRequested = true;
    return SQL_SUCCESS;
}
