// The agent's server record with its three handle tables, and DB_CONN, the agent's
// record of one connection of the ESQL-92 client.
//
// This is the lowest layer of the agent. It opens and shares the one server record of
// the process, builds the connect target from the connect options, opens and closes the
// ESQL connection under a process-unique name, makes that connection current before
// every client call (which connection is current is process state of the client), and
// runs the transaction calls.
//
// The agent takes no lock of its own: its tables run without one and every agent call
// is serialised by the ODBC side's global database lock.
#pragma once

#include <cstdint>
#include <string>

#include "drv_pro9/oa_err.h"
#include "util/handle.h"

// Table ids given to hdl_Init; the low 16 bits are the kind tags of the agent's handles.
constexpr uint32_t OA_SERVER_TABLE_ID = 0xDBCAAAA;
constexpr uint32_t OA_CONN_TABLE_ID = 0xDBCBBBB;
constexpr uint32_t OA_STMT_TABLE_ID = 0xDBCCCCC;

struct OA_SERVER;
struct OA_CONN;
struct DB_CONN;

// Process-wide state of the agent. The tables exist from the first OA_OpenServer to the
// matching last OA_CloseServer; the cursor library also looks agent handles up in them.
struct AGENT_GLOBALS {
    HANDLE_TABLE servers;
    HANDLE_TABLE conns;
    HANDLE_TABLE stmts;
    int32_t serverRefs = 0;       // 0 while no server is open
    uint32_t serverHandle = 0;    // id given out by the first open
    uint32_t connectAttempts = 0; // numbers the ESQL connection names
};

AGENT_GLOBALS& Agent();

// Reached from every DB_CONN: the link back to the server's error list.
struct DB_SERVERCTX {
    OA_SERVER* server;
};

struct OA_SERVER {
    // Leading block that belongs to the cursor library; the agent only zeroes it.
    void* cursorLibrary[4] = {};
    OA_ERRLIST errors;                 // messages of connects that the server rejected
    DB_SERVERCTX* context = nullptr;   // owned
};

// The live server record behind an id of the server table, or null.
OA_SERVER* oa_FindServer(uint32_t handle);

struct OA_SERVERREQ;

// Slot 3. While a server is open, shares it: one more reference and the same handle.
// Otherwise creates the three tables (15 when that fails), the server record and its
// context (16 on no memory), registers the server and counts one reference. The request
// is not read. 21 for a null out handle.
int OA_OpenServer(const OA_SERVERREQ* req, uint32_t* outServer);
// Slot 4. 21 for an unknown handle; drops one reference; the last one destroys the
// statement, connection and server tables, the context and the server record.
int OA_CloseServer(uint32_t server);
