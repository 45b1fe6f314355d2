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
#include "platform/esql92/esql92.h"
#include "util/handle.h"

// Table ids given to hdl_Init; the low 16 bits are the kind tags of the agent's handles.
constexpr uint32_t OA_SERVER_TABLE_ID = 0xDBCAAAA;
constexpr uint32_t OA_CONN_TABLE_ID = 0xDBCBBBB;
constexpr uint32_t OA_STMT_TABLE_ID = 0xDBCCCCC;

struct OA_SERVER;
struct OA_CONN;

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

// One ESQL connection, owned by its OA_CONN. Other agent modules read the SQLCA (row
// counts) and pass the two handles to the statement and transaction calls.
struct DB_CONN {
    DB_SERVERCTX* server = nullptr;   // the server's error list receives rejected connects
    OA_CONN* conn = nullptr;          // its error list receives failures after connect
    ESQL_SQLCA sqlca{};               // passed to every client call of this connection
    std::string user;
    std::string password;
    std::string database;
    std::string host;                 // "" when the options give none
    std::string service;              // "" when the options give none
    void* reserved = nullptr;         // fifth argument of tpe_sqlconnect; always null
    std::string name;                 // ESQL connection name, "KVRConn-%08X"
    ESQL_DBHDL dbHandle = nullptr;
    ESQL_TMHDL tmHandle = nullptr;
};

// How often a connect tries a new name while the client answers that the name is taken.
constexpr int DB_CONNECT_NAME_ATTEMPTS = 100;

// Transaction types of DB_EndTrans.
constexpr int DB_TRANS_CURRENT = 1;    // only make the connection current
constexpr int DB_TRANS_COMMIT = 2;
constexpr int DB_TRANS_ROLLBACK = 3;

// DB_DateTimeFormat: kind and items.
constexpr int DB_FORMAT_KIND = 2;
constexpr int DB_FORMAT_TIME = 2;       // "'%02u:%02u:%02u'"
constexpr int DB_FORMAT_DATE = 3;       // "'%04u/%02u/%02u'"
constexpr int DB_FORMAT_TIMESTAMP = 4;  // "'%04u/%02u/%02u %02u:%02u:%02u:%03u'"
constexpr int DB_FORMAT_SELECT_OPENS_TRANSACTION = 5;

// A new record for conn on the server: copies user, password and database (null counts
// as empty) and takes host and service from the options ("-H host -S service -N name";
// an unknown option is logged and skipped). 0, or 16 when memory runs out.
int DB_ConnNew(DB_SERVERCTX* server, OA_CONN* conn, DB_CONN** out, const char* user, const char* password,
               const char* database, const char* options);
// Frees the record; null is ignored.
void DB_ConnFree(DB_CONN* db);
// Opens the ESQL connection under a new name "KVRConn-%08X", trying the next name while
// the client answers that the name is taken (at most DB_CONNECT_NAME_ATTEMPTS times).
// A host, service or database containing ':' is refused before the client is called.
// For the ANSI library with ISO-8859-1 narrow text (the connection's unicodeLibrary 0 and
// narrowLatin1 1) the user name goes converted to UTF-8 and the client's code page is then
// set to ISO8859-1; a refusal of it undoes the connect. Refusals post on the server's
// error list and give 53; 0 on success.
int DB_Connect(DB_CONN* db);
// Closes the ESQL connection without making it current first; the SQLCA stays in the
// record. 15 when the client fails, else 0. Posts nothing.
int DB_Disconnect(DB_CONN* db);
// Makes the connection current; on a commit ends the transaction, on a rollback marks it
// for abort and then ends it; marks the connection's statements to set their ESQL cursors
// up again after an end. 0 or 15, with the client's messages on the connection's list.
int DB_EndTrans(DB_CONN* db, int type);
// ODBC isolation 1, 2, 4, 8 become client levels 0 to 3; any other value gives 21 and
// sets nothing. 0 or 15.
int DB_SetIsolation(DB_CONN* db, uint32_t isolation);
// The current isolation as an ODBC value; the connection's configured isolation when the
// client cannot tell it.
uint32_t DB_GetIsolation(DB_CONN* db);
// Runs a prepared statement once through tpe_sqlexecute; the client's messages go to the
// given list (the statement's). 0 or 15.
int DB_ExecImmediate(DB_CONN* db, ESQL_CURHDL cursor, PRO_SQLDA* input, OA_ERRLIST* errors);
// Kind 1 accepts the values 1 and 109 and refuses others with 15; kind 2 always gives 15;
// every other kind 0.
int DB_CheckOption(DB_CONN* db, int kind, int value);
// The server's literal formats. Kind 2: items 2, 3 and 4 write the time, date and
// timestamp format (const char*) to *out, items 1 and 5 write the int32_t 1, other items
// give 15. Kind 1 gives 15; other kinds give 0 and write nothing. 21 for a null out.
int DB_DateTimeFormat(DB_CONN* db, int kind, int item, void* out);
