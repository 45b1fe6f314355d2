// Agent connection and agent statement records, and their look-up by handle.
//
// An OA_CONN is what the ODBC side's connection holds through its agent connection
// handle: its ESQL connection (DB_CONN), its settings and its transaction state. An
// OA_STMT is one agent statement on it. Both live in the agent's handle tables
// (db_conn.h) and carry the error list on which their failures are queued.
//
// The records hold what the server connection layer and the error records use; the
// connection and statement operations add their own fields here.
#pragma once

#include <cstdint>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_err.h"
#include "drv_pro9/oa_stmtflags.h"

struct OA_CONN {
    OA_ERRLIST errors;            // first member: the ESQL layer posts here after connect
    OA_SERVER* server = nullptr;
    uint32_t handle = 0;          // own id in the connection table
    DB_CONN* db = nullptr;        // owned
    // Isolation configured for the connection (ODBC value 1, 2, 4 or 8; 0 when not
    // configured); answered when the client cannot tell the current one.
    uint32_t defaultIsolation = 0;
};

struct OA_STMT {
    OA_ERRLIST errors;
    OA_CONN* conn = nullptr;      // owner
    uint16_t flags = 0;           // OaStmtFlag bits (oa_stmtflags.h)
};

// The live record behind an id of the agent's connection or statement table, or null.
inline OA_CONN* oa_FindConn(uint32_t handle) {
    return static_cast<OA_CONN*>(hdl_Lookup(&Agent().conns, handle));
}
inline OA_STMT* oa_FindStmt(uint32_t handle) {
    return static_cast<OA_STMT*>(hdl_Lookup(&Agent().stmts, handle));
}
