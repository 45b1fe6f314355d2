// Handle life cycle: environments.
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
