// Handle life cycle: environments and connections.
#include "driver/handlers/lifecycle.h"

#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
#include "driver/objects/conn.h"
#include "driver/objects/envr.h"
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
    if (hdl_Add(&Drv().envTable, &id, envr) != 0) {
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
    int rc = hdl_Add(&Drv().connTable, &id, conn);
    if (rc != 0) {
        ConnFree(conn);
        delete conn;
        envr->diag.errCode = rc;
        return SQL_ERROR;
    }
    conn->id = id;
    *out = HandleFromId(id);
    return SQL_SUCCESS;
}

// Disconnects when needed and frees the connection; the dispatcher releases its memory
// once the call's locks are down.
SQLRETURN FreeConnection(CONN* conn) {
    int rc = ConnClose(conn);
    if (rc != 0) {
        conn->diag.errCode = rc;
        return SQL_ERROR;
    }
    std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
    ConnFree(conn);
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN DoAllocEnv(void*, const CallArgs& args) {
    return AllocEnvironment(args.get<SQLHANDLE*>(0), 2, "SQLAllocEnv: EnvrOpen failed");
}

SQLRETURN DoAllocHandleEnv(void*, const CallArgs& args) {
    return AllocEnvironment(args.get<SQLHANDLE*>(0), 3, "SQLAllocHandle (SQL_HANDLE_ENV): EnvrOpen failed");
}

SQLRETURN DoFreeEnv(void* object, const CallArgs&) {
    auto* envr = static_cast<ENVR*>(object);
    // A call still running on one of its connections would find its objects gone.
    if (EnvrHasBusyConn(envr)) {
        envr->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    EnvrClose(envr);
    EnvrFree(envr);
    return SQL_SUCCESS;
}

SQLRETURN DoFreeHandleEnv(void* object, const CallArgs& args) {
    return DoFreeEnv(object, args);
}

SQLRETURN DoTransactEnv(void* object, const CallArgs& args) {
    auto* envr = static_cast<ENVR*>(object);
    int completion = args.get<SQLUSMALLINT>(0);
    if (EnvrHasBusyConn(envr)) {
        envr->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
        return SQL_ERROR;
    }
    bool failed = false;
    for (CONN* c = envr->conns; c != nullptr; c = c->next) {
        // A connection not yet connected has no transaction to end.
        if (c->state != CONN_CONNECTED)
            continue;
        // Each connection keeps its own earlier diagnostics; only the environment learns
        // of this call's failure.
        int saved = c->diag.errCode;
        c->diag.errCode = 0;
        if (ConnEndTran(c, completion) == SQL_ERROR) {
            envr->diag.errCode = c->diag.errCode;
            failed = true;
        }
        c->diag.errCode = saved;
    }
    return failed ? SQL_ERROR : SQL_SUCCESS;
}

SQLRETURN DoAllocConnect(void* object, const CallArgs& args) {
    return AllocConnection(static_cast<ENVR*>(object), args.get<SQLHANDLE*>(0));
}

SQLRETURN DoAllocHandleConn(void* object, const CallArgs& args) {
    return AllocConnection(static_cast<ENVR*>(object), args.get<SQLHANDLE*>(0));
}

SQLRETURN DoFreeConnect(void* object, const CallArgs&) {
    return FreeConnection(static_cast<CONN*>(object));
}

SQLRETURN DoFreeHandleConn(void* object, const CallArgs&) {
    return FreeConnection(static_cast<CONN*>(object));
}

SQLRETURN DoDisconnect(void* object, const CallArgs&) {
    auto* conn = static_cast<CONN*>(object);
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

SQLRETURN DoTransactConn(void* object, const CallArgs& args) {
    return ConnEndTran(static_cast<CONN*>(object), args.get<SQLUSMALLINT>(0));
}
