// Agent connections and agent statements: their records, their look-up by handle, and the
// operations that open and close a connection, end its transactions, and allocate, free and
// name its statements.
//
// An OA_CONN is what the ODBC side's connection holds through its agent connection
// handle: its ESQL connection (DB_CONN), the settings the data source configuration gave
// it, and its transaction state. An OA_STMT is one agent statement on it. Both live in the
// agent's handle tables (db_conn.h) and carry the error list on which their failures are
// queued. Every operation returns 0 or an internal code (util/errcode.h); an unknown
// handle gives 21.
//
// Transactions are implicit on the server: a statement begins one and only an end of
// transaction ends it. OA_TransState keeps the connection's view of it (open or not,
// autocommit on or off) and decides when the client is asked to end it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_dae.h"
#include "drv_pro9/oa_err.h"
#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_services.h"
#include "drv_pro9/oa_sqltext.h"
#include "drv_pro9/oa_stmtflags.h"

struct DB_CURSOR;
struct OA_CONNREQ;

// Frees a C-heap text.
struct OaFreeText {
    void operator()(char* text) const { std::free(text); }
};
using OaOwnedText = std::unique_ptr<char, OaFreeText>;

// Bit of OA_CONN::transFlags.
constexpr uint16_t OA_TRANS_OPEN = 0x1;

// Steps of OA_TransState.
constexpr int OA_TRANS_BEGIN = 1;
constexpr int OA_TRANS_COMMIT = 2;
constexpr int OA_TRANS_ROLLBACK = 3;
constexpr int OA_TRANS_AUTOCOMMIT_ON = 4;
constexpr int OA_TRANS_AUTOCOMMIT_OFF = 5;

struct OA_CONN {
    OA_ERRLIST errors;            // first member: the ESQL layer posts here after connect
    OA_SERVER* server = nullptr;
    uint32_t handle = 0;          // own id in the connection table
    // Read-only as last set by the ODBC side (reported only), and as given at connect: the
    // latter governs transactions and the refusal of statements other than SELECT, so that
    // switching it later cannot leave work without its commit.
    int32_t readOnly = 0;
    int32_t readOnlyAtConnect = 0;
    int32_t autocommit = 0;       // 1 on
    std::string user;
    std::string database;
    uint16_t transFlags = 0;      // OA_TRANS_OPEN
    DB_CONN* db = nullptr;        // owned; freed by OA_Disconnect
    int32_t odbcVersion = 2;      // 3 once the ODBC side says so
    int32_t selectOpensTransaction = 0;
    // Settings copied at connect from the request (OA_CONNREQ::settings).
    int32_t dynCursSensitivity = 0;   // 0 low, 1 high, 2 disabled
    int32_t jet = 0;
    int32_t noAutoCommit = 0;
    int32_t maxRows = 0;              // 0: no limit
    int32_t noRowsetSizeLimit = 0;
    int32_t showRemarks = 0;
    OaOwnedText sqlDbmsName;          // null when none
    // Isolation configured for the connection (ODBC value 1, 2, 4 or 8; 0 when not
    // configured); answered when the client cannot tell the current one.
    uint32_t defaultIsolation = 0;
    int32_t wide = 0;             // opened in wide mode
    // The library the connection was opened through (OA_CONNREQ).
    std::string driverFile;
    int32_t unicodeLibrary = 0;
    // 1: the application's narrow text is ISO-8859-1 (else UTF-8). In the ANSI library the
    // client is told so and converts every text; the Unicode library's client stays UTF-8,
    // and the agent converts the narrow values and the initial SQL itself.
    int32_t narrowLatin1 = 0;
    int32_t cursorLibrary = 0;    // the cursor library asked for its capabilities
    OA_LIBSTATE lib;              // the cursor library's, freed with the connection
};

struct OA_STMT {
    OA_ERRLIST errors;
    OA_CONN* conn = nullptr;      // owner
    uint32_t handle = 0;          // own id in the statement table
    uint16_t flags = 0;           // OaStmtFlag bits (oa_stmtflags.h)
    std::string cursorName;
    DB_CURSOR* cursor = nullptr;  // owned: the statement's ESQL cursor (oa_exec.h)
    int16_t type = 0;             // OaSqlTextKind of the prepared text (1 SELECT)
    int32_t maxRows = 0;          // rows a result may deliver; 0 no limit
    int32_t noScan = 0;           // prepare without escape translation
    int32_t maxLength = 0;        // statement option 3
    int64_t rowCount = -1;        // rows affected by the last execute; -1 unknown (a query)
    bool sliceFollows = false;    // the next execute is a slice of an array with more to come
    int64_t rowsOfSlices = 0;     // rows the slices before the running one touched
    uint32_t sliceSetsBefore = 0; // the next execute's slice: its place in the array
    uint32_t sliceSetsTotal = 0;
    // The statement attributes that govern cursors (statement options 6 to 12), kept for
    // the cursor library.
    OA_CURSOROPTS cursorOpts;

    // ---- Statement execution and procedure calls (drv_pro9/oa_exec.h, oa_proc.h) ----
    OA_SQLTEXT request;                  // the analysed text of the last prepare
    uint16_t kind = 0;                   // OaSqlTextFlag bits of the prepared text
    OA_ROWCALLBACK rowCallback = nullptr;  // called with each fetched dataset; cleared by prepare
    uint32_t executions = 0;             // parameter sets run since the last execute
    int64_t totalRows = 0;               // rows fetched since the last execute
    DatasetPtr paramValues;              // parameter values (agent operation 12)
    std::unique_ptr<PARAM_DESC[], OaCFree> paramDescs;   // the application's (operation 18)
    uint16_t paramDescCount = 0;
    uint16_t inCount = 0;                // parameter kinds of paramDescs
    uint16_t inOutCount = 0;
    uint16_t outCount = 0;
    OA_DESCARRAY cols;                   // result-column descriptions
    OA_DESCARRAY params;                 // described parameters
    OA_DESCARRAY outDescs;               // descriptions of the output parameters
    OA_COLATTRS colAttrs;                // (columns + 1) x 10 attribute requests
    std::unique_ptr<int32_t[], OaCFree> updatable;   // per result column, as described
    DatasetPtr kept;                     // handed out by the next fetch of 0 rows
    int32_t staticResult = 0;            // 2: the rows come from the type catalog
    int16_t typeInfoType = 0;            // the SQL type the type catalog was asked for
    uint16_t typeInfoNext = 0;           // the catalog row its next fetch looks at first
    int32_t paramMode = 0;               // 1: the statement runs one current parameter row
    int32_t currentParamRow = 0;
    // ---- end of statement execution ----

    OA_DAE dae;                          // data at execution (drv_pro9/oa_dae.h)
    OA_SETPOS setPos;                    // the cursor library's positioned operation
    OA_LIBSTATE lib;                     // the cursor library's, freed with the statement
};

// The live record behind an id of the agent's connection or statement table, or null.
inline OA_CONN* oa_FindConn(uint32_t handle) {
    return static_cast<OA_CONN*>(hdl_Lookup(&Agent().conns, handle));
}
inline OA_STMT* oa_FindStmt(uint32_t handle) {
    return static_cast<OA_STMT*>(hdl_Lookup(&Agent().stmts, handle));
}

// Copies text into buf (bufLen bytes), cut to bufLen - 1 bytes and NUL-terminated, and its
// full length into *outLen (when given). Nothing is copied into a null buffer (a length
// query) or one of no bytes. True when the text was cut, and for a buffer of no bytes.
bool oa_CopyOut(const char* text, char* buf, int32_t bufLen, int32_t* outLen);

// Moves the connection's transaction state one step; makes the client calls the step
// needs (through DB_EndTrans) and returns 0 or their code:
//   OA_TRANS_BEGIN: marks a transaction open (nothing when one is) and makes the ESQL
//     connection current; 15 when it cannot, and the transaction is not open.
//   OA_TRANS_COMMIT / OA_TRANS_ROLLBACK: ends the open transaction (nothing when none
//     is); a failed end leaves it open, so that the next end reaches the server again.
//     A rollback in autocommit mode gives 43 and ends nothing.
//   OA_TRANS_AUTOCOMMIT_ON: commits the open transaction first (a failure leaves
//     autocommit off), then switches autocommit on.
//   OA_TRANS_AUTOCOMMIT_OFF: switches autocommit off and rolls the open transaction back
//     (a failure leaves autocommit on).
//   Any other step: 15.
// A connection opened read-only does no transaction handling: no client call, 0; the
// autocommit steps only record the setting.
int OA_TransState(OA_CONN* conn, int step);

// Slot 5. Opens an agent connection on the server for the request: copies the request's
// settings (the DBMS name included) and the library's facts, sets the wide flag from the options prefix, puts
// empty C-heap texts in the request's missing user, password and database, opens the
// ESQL connection on the database options, sets autocommit and the configured isolation,
// registers the connection, and runs the request's initial SQL on it (its outcome in
// req->initSqlResult). 0; 21 (bad arguments), 16, 53 (refused; the server's messages on
// the server's list), or the code of the failing step; nothing is left open on failure. A
// full connection table gives its code with the message on the server's list.
int OA_Connect(uint32_t server, OA_CONNREQ* req, uint32_t* outConn);
// Slot 6. Frees the connection's remaining statements, rolls back an open transaction
// (its result is ignored), closes the ESQL connection (a failure is logged at DEBUG and
// the close goes on) and frees the record. 0 for every live connection.
int OA_Disconnect(uint32_t conn);
// Slots 21 and 22: end the open transaction. 0, or the failing end's code with the
// server's messages on the connection's list. A rollback in autocommit mode ends nothing
// and gives 0.
int OA_Commit(uint32_t conn);
int OA_Rollback(uint32_t conn);
// Slot 7. A new statement named "CN" and a per-process number in hexadecimal, with the
// connection's maximum rows. 0, 16, or the table's code (with its message on the
// connection's list) when the statement cannot be registered; nothing is left made.
int OA_AllocStmt(uint32_t conn, uint32_t* outStmt);
// Slot 8. Resets the statement (closing its cursor) and frees it. 0.
int OA_FreeStmt(uint32_t stmt);
// Slot 9. Copies the cursor name as oa_CopyOut does; 19 when it was cut, else 0.
int OA_GetCursorName(uint32_t stmt, char* buf, int32_t bufLen, int32_t* outLen);
// Slot 10. Replaces the cursor name; a cursor that already exists at the server is renamed
// at once. 21 for a null name; 16, or 15 with the client's messages on the statement, keep
// the old name.
int OA_SetCursorName(uint32_t stmt, const char* name);
