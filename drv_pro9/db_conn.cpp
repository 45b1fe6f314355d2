// The agent's server record and handle tables; the ESQL connection (DB_CONN).
#include "drv_pro9/db_conn.h"

#include <new>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_optable.h"
#include "util/errcode.h"
#include "util/log.h"

AGENT_GLOBALS& Agent() {
    // Never destroyed: library detach may still close connections after static
    // destructors of this file would have run.
    alignas(AGENT_GLOBALS) static unsigned char storage[sizeof(AGENT_GLOBALS)];
    static AGENT_GLOBALS* agent = new (storage) AGENT_GLOBALS;
    return *agent;
}

OA_SERVER* oa_FindServer(uint32_t handle) {
    return static_cast<OA_SERVER*>(hdl_Lookup(&Agent().servers, handle));
}

namespace {

void FreeTables(AGENT_GLOBALS& a) {
    // Statements, connections, then servers: children before parents.
    hdl_Free(&a.stmts);
    hdl_Free(&a.conns);
    hdl_Free(&a.servers);
}

}  // namespace

int OA_OpenServer(const OA_SERVERREQ* /*req*/, uint32_t* outServer) {
    if (outServer == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    AGENT_GLOBALS& a = Agent();
    if (a.serverRefs != 0) {
        a.serverRefs++;
        *outServer = a.serverHandle;
        return 0;
    }
    *outServer = 0;
    if (hdl_Init(&a.servers, OA_SERVER_TABLE_ID) != 0 || hdl_Init(&a.conns, OA_CONN_TABLE_ID) != 0 ||
        hdl_Init(&a.stmts, OA_STMT_TABLE_ID) != 0) {
        FreeTables(a);
        return ERR_GENERAL_ERROR;
    }
    auto* server = new (std::nothrow) OA_SERVER;
    auto* context = server ? new (std::nothrow) DB_SERVERCTX{server} : nullptr;
    uint32_t id = 0;
    int rc = context == nullptr ? ERR_MEMORY_ALLOCATION_FAILURE : hdl_Add(&a.servers, &id, server);
    if (rc != 0) {
        delete context;
        delete server;
        FreeTables(a);
        return rc;
    }
    server->context = context;
    a.serverHandle = id;
    a.serverRefs = 1;
    *outServer = id;
    return 0;
}

int OA_CloseServer(uint32_t handle) {
    AGENT_GLOBALS& a = Agent();
    OA_SERVER* server = oa_FindServer(handle);
    if (server == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (--a.serverRefs > 0)
        return 0;
    FreeTables(a);
    delete server->context;
    delete server;   // its error list goes with it
    a.serverRefs = 0;
    a.serverHandle = 0;
    return 0;
}
