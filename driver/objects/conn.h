// Connection records: allocation, open (connect through the agent), close, free, end of
// transaction, and the agent's messages moved onto the connection.
//
// A connection binds its own agent operation holder when it opens and reaches the agent
// only through it. Failures leave an internal code in conn->diag.errCode and, where the
// agent explains them, its messages queued on the connection.
#pragma once

#include "util/charset.h"

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "driver/frame/handle.h"
#include "drv_pro9/oa_optable.h"
#include "scrs/scs_cursor.h"
#include "util/errcode.h"

class ITransaction;
struct ConnInitialSql;
struct DTC_CONN_LINK;
struct CONN;
struct DESC;
struct ENVR;
struct STMT;

// The one place a connection goes: ConnFree, then its memory and locks. No lock of the
// connection may be held; handle lock held.
void ConnDestroy(CONN* conn);

// Connection states.
constexpr int32_t CONN_FREED = 0;
constexpr int32_t CONN_ALLOCATED = 1;
constexpr int32_t CONN_CONNECTED = 2;

// Bits of CONN::flags.
constexpr uint16_t CONN_FLAG_NO_LOGIN_BOX = 0x1;
constexpr uint16_t CONN_FLAG_READ_ONLY = 0x2;     // cn_readonly
constexpr uint16_t CONN_FLAG_AUTOCOMMIT = 0x4;
constexpr uint16_t CONN_FLAG_ASYNC = 0x8;         // ODBC 2 asynchronous execution
constexpr uint16_t CONN_FLAG_RESERVED_10 = 0x10;  // cleared by every connect; no reader here
constexpr uint16_t CONN_FLAG_SET_AGENT_0F = 0x20; // connect sets agent property 0x2201000F to 1
constexpr uint16_t CONN_FLAG_REQUEST_40 = 0x40;   // passed in the agent connect request
constexpr uint16_t CONN_FLAG_SET_AGENT_16 = 0x80; // connect sets agent property 0x22010016 to 1
constexpr uint16_t CONN_FLAG_INCLUDE_VIEWS = 0x100;
constexpr uint16_t CONN_FLAG_INCLUDE_ALL = 0x200;

// The agent capabilities beyond the named ones (CONN::agentCaps, mask bits 0x400 up) that
// the connection options branch on.
constexpr int CONN_CAP_XA = 3;        // mask bit 0x2000: the agent has XA operations
constexpr int CONN_CAP_FAILOVER = 4;  // mask bit 0x4000: the agent can fail over (none of ours)

// The ODBC 2 statement options a connection keeps defaults for (SQLSetConnectOption with
// a statement option) are 0 to 12, of which 4 (asynchronous enable) is the connection's
// own. Options 0 to 5 are kept in CONN::stmtDefaults; the cursor options 6 to 12
// (SQL_CURSOR_TYPE .. SQL_USE_BOOKMARKS) in CONN::cursorDefaults, the record a new
// statement's cursor record is set up from.
constexpr int CONN_STMT_OPTIONS = 6;
// The values a new statement starts from when the connection was given none.
inline constexpr std::array<SQLULEN, CONN_STMT_OPTIONS> CONN_STMT_OPTION_INITIAL = {0, 0, SQL_NOSCAN_OFF, 0, 0,
                                                                                   SQL_BIND_BY_COLUMN};

// Sizes of the cache of answers the agent gave to SQLGetInfo.
constexpr int CONN_INFO_I32 = 120;
constexpr int CONN_INFO_U16 = 40;
constexpr int CONN_INFO_TEXT = 40;

// The agent's conversion table (slot 23, type 1). The table belongs to the agent: it is
// forgotten, never freed.
struct CONN_TYPETABLE {
    int32_t valid = 0;
    OA_TYPETABLEREQ table{1, 0, nullptr};
};

// The connection record. Texts are empty when not set. Everything here is read and
// written under the connection's call lock, except the gate's claim (handle lock) and the
// list link (handle lock, environment calls).
struct CONN : HANDLE_HDR {
    int32_t state = CONN_ALLOCATED;
    ENVR* envr = nullptr;
    CONN* next = nullptr;   // next connection of the environment
    STMT* stmts = nullptr;  // the connection's statements, newest first
    DESC* descs = nullptr;  // the explicit descriptors allocated on it, newest first
    uint32_t stmtCounter = 0;  // statements allocated so far

    // Settings from the connect string and the data source.
    std::string dsn;  // data source name of the connection, empty when none
    std::string user;
    std::string password;
    std::string cn_dbpath;  // DATABASENAME; also the current catalog
    std::string cn_dbopts;  // "-H host -S port", each part only when given
    // No connect sets these five; a wide connect puts its prefix in front of agentOptions
    // in the request it hands the agent.
    std::string cn_dbhost;
    std::string port;
    std::string cn_svtype;
    std::string agentOptions;
    std::string extra;
    uint16_t flags = CONN_FLAG_AUTOCOMMIT;  // CONN_FLAG_* bits
    std::string appName;                    // program name given to the agent
    uint32_t loginTimeout = 120;            // SQL_ATTR_LOGIN_TIMEOUT
    // SQL_ATTR_CURRENT_CATALOG as the application set it; none until set. Kept across
    // connects with the other options the application set (below).
    std::optional<std::string> currentCatalog;
    uint32_t defaultIsolation = 0;          // isolation to set at connect, or the agent's answer
    uint32_t cn_fetchSize = 60;             // FBS

    // The agent.
    OA_OPHOLDER holder;
    uint32_t agentServer = 0;  // from slot 3; 0 when none
    uint32_t agentConn = 0;    // from slot 5; 0 when none
    uint32_t sequenceId = 0;
    CONN_TYPETABLE typeTable;

    // What the agent said it can do, read at connect.
    int32_t cn_needbind = 0;
    int32_t cn_hasMoreRes = 0;
    int32_t cn_hasParamOp = 0;
    int32_t cn_spOutDeferFetch = 0;
    int32_t cn_hasScrlCurs = 0;
    int32_t cn_hasDynMixCurs = 0;
    int32_t cn_hasV2DAE = 0;
    int32_t narrowWidePieces = 0;  // SQLPutData hands wide pieces over as narrow text
    // The code set of the application's narrow text, decided at connect from the
    // process's locale: SQL_C_CHAR values and parameters (and, in the ANSI library, every
    // text) are in it.
    NarrowCode narrow = NarrowCode::Latin1;
    int32_t cn_hasExecute2 = 0;
    int32_t agentConversions = 0;  // mask bit 0x200: SQLGetInfo conversions from the agent
    int32_t agentCaps[5] = {};     // mask bits 0x400, 0x800, 0x1000, 0x2000, 0x4000

    // Connection options and attributes (driver/handlers/connattr.h). The flags above
    // hold autocommit, read-only and ODBC 2 asynchronous execution.
    std::optional<std::string> translateLib;  // SQL_ATTR_TRANSLATE_LIB, none until set
    uint32_t translateOption = 0;             // SQL_ATTR_TRANSLATE_OPTION
    SQLULEN asyncEnable = SQL_ASYNC_ENABLE_OFF;  // SQL_ATTR_ASYNC_ENABLE (ODBC 3)
    std::optional<std::string> option1051;    // driver option 1051, set before connecting
    // Statement option defaults (SQLSetConnectOption with a statement option), for the
    // statements allocated later to start from: options 0 to 5 here, the cursor options
    // 6 to 12 in the cursor record (set up by ConnAlloc; agent handles, holder and owner
    // stay 0 and null).
    std::array<SQLULEN, CONN_STMT_OPTIONS> stmtDefaults = CONN_STMT_OPTION_INITIAL;
    SCS_CURSOR cursorDefaults;
    // What the application set of autocommit, access mode, isolation and current catalog,
    // kept across connects and applied when the connection opens: a driver manager hands
    // such attributes over before it connects.
    std::optional<bool> requestedAutocommit;
    std::optional<bool> requestedReadOnly;
    uint32_t requestedIsolation = 0;  // 0: none

    void* dtcDispenser = nullptr;  // distributed-transaction dispenser, when enlisted
    int32_t dtcEnlisted = 0;

    // Around every agent XA call (dtc/); shared with a distributed-transaction dispenser,
    // which may outlive the connection.
    std::shared_ptr<std::recursive_mutex> xaCallLock = std::make_shared<std::recursive_mutex>();
    // The claim of the running call and the call lock; HANDLE_HDR::gate. From the pool: a
    // call may still touch it after the connection is gone (frame/handle.h).
    CALL_GATE& callGate = *GateAcquire();


    // Answers already asked of the agent: -1, 0xFFFF and none when empty.
    int32_t infoI32[CONN_INFO_I32];
    uint16_t infoU16[CONN_INFO_U16];
    std::optional<std::string> infoText[CONN_INFO_TEXT];
    // Type name, literal prefix and literal suffix of each SQL type asked so far, from the
    // agent's type catalog (ConnGetTypeInfoCol, driver/handlers/descfield.h).
    std::map<int16_t, std::array<std::string, 3>> typeInfoCache;

    CONN() : HANDLE_HDR(CALL_KIND_DBC) {
        conn = this;
        callGate.owner = this;
        callGate.destroy = [](HANDLE_HDR* h) { ConnDestroy(static_cast<CONN*>(h)); };
        gate = &callGate;
        for (int32_t& v : infoI32)
            v = -1;
        for (uint16_t& v : infoU16)
            v = 0xFFFF;
    }
    ~CONN() { GateRecycle(&callGate); }
    CONN(const CONN&) = delete;
    CONN& operator=(const CONN&) = delete;
};

// Calls one slot of the agent's table with the given arguments: the agent's code, or the
// driver's not-capable answer when the table or the slot is missing.
template <class Slot, class... A>
int CallSlot(const OA_OPTABLE* ops, Slot OA_OPTABLE::*slot, A... args) {
    return ops != nullptr && ops->*slot != nullptr ? (ops->*slot)(args...) : ERR_DRIVER_NOT_CAPABLE;
}

// A new connection at the head of the environment's list: state allocated, autocommit on,
// login timeout 120, the next sequence id, the information cache empty. Null when memory
// runs out (the environment then holds code 16). The caller registers it. Handle lock held.
CONN* ConnAlloc(ENVR* envr);

// Empties the cache of the agent's SQLGetInfo answers.
void ConnResetOptions(CONN* conn);

// The field of a cursor record that keeps cursor option 6 to 12 (SQL_CURSOR_TYPE ..
// SQL_USE_BOOKMARKS); null for any other option.
int32_t* CursorOptionField(SCS_CURSOR* cur, uint16_t option);
const int32_t* CursorOptionField(const SCS_CURSOR* cur, uint16_t option);

// Connects an allocated connection through the agent; 'W' opens it in wide mode. The
// request carries the process-wide settings (ConnProcessSettings, connconf.h), so the
// connect lock is held. The agent runs the initial SQL, when given, on the new
// connection. The outcome is in conn->state (connected or not) and conn->diag.errCode;
// whatever the agent gave is given back on every failure. Returns SQL_ERROR when not
// connected, SQL_SUCCESS_WITH_INFO when connected but the initial SQL could not be read or
// run (the server's messages, or a 01000 message saying why, queued on the connection),
// else SQL_SUCCESS.
SQLRETURN ConnOpen(CONN* conn, int width, const ConnInitialSql* initSql = nullptr);

// Disconnects (when connected) and resets the connection. 0, or an internal code with the
// connection still connected and its statements as they were.
int ConnClose(CONN* conn);

// Closes a connection whose environment is going: as ConnClose, but a refusal (an agent
// that will not disconnect, a transaction still enlisted) stops nothing, so that the agent
// connection and the server reference are given back all the same.
void ConnCloseForGood(CONN* conn);

// Unlinks the connection from its environment, drops its settings and messages, marks it
// freed and unregisters it. The memory and the locks stay for the caller to release once
// no lock of the connection is held any more. Handle lock held.
void ConnFree(CONN* conn);

// Queues a message on the connection's diagnostics; takes the oldest one off.
inline void ConnAddError(CONN* conn, std::string_view text, int32_t native) {
    ErrListAdd(conn->diag, text, native);
}
inline std::optional<ERRMSG> ConnNextError(CONN* conn) {
    return ErrListPop(conn->diag);
}

// Drops the settings that came from the connect string and the data source.
void ConnFreeSettings(CONN* conn);

// Commits (0) or rolls back (1). SQL_SUCCESS, or SQL_ERROR with the code on the
// connection.
SQLRETURN ConnEndTran(CONN* conn, int completionType);

// The agent's commit (SQL_COMMIT) or rollback of a connected connection, for an
// environment's end of transactions: the agent's messages on a failure go to messages,
// and the connection's own diagnostics stay as they are. 0 or an internal code.
int ConnEndTranOn(CONN* conn, int completionType, DIAG& messages);

// Moves the agent connection's messages onto the statement, or onto the connection when
// stmt is null; the agent server's messages always onto the connection. Return how many
// were moved.
int ConnGetAgentErrors(CONN* conn, STMT* stmt);
int ConnGetServerErrors(CONN* conn);
// Moves the messages the agent keeps for one of its handles into diag, each with its own
// native code; how many.
int ConnMoveAgentErrors(const CONN* conn, uint32_t handle, DIAG& diag);

// Closes and frees the connection's statements (their agent statements first: before the
// agent connection goes); frees the explicit descriptors allocated on it. Their memory
// goes when the running call's claim ends, or with the connection.
void ConnFreeStatements(CONN* conn);
void ConnFreeUserDescs(CONN* conn);

// SQL_ATTR_ENLIST_IN_DTC: enlists the connection in the coordinator's transaction, or
// un-enlists it for null (DtcSetEnlistment, dtc/dtc.h). 0 or an internal code. Inside a
// handler on the connection: the dispenser gets the call lock (GateShareCallLock).
int ConnSetDtcEnlistment(CONN* conn, ITransaction* transaction);
// What the XA switch uses of the connected connection behind the driver's own handle value
// (SQLGetInfo SQL_DRIVER_HDBC through the Driver Manager): false when there is none. The
// library hands it to dtc/ as the host's look-up (DTC_HOST::connLink). Takes the handle lock.
// The link carries no call lock: the switch holds none.
bool ConnXaLinkOf(SQLHDBC driverHandle, DTC_CONN_LINK* out);

// The binding of a connection's operation holder: DrvBindOpTable (the agent's table with
// the cursor library's hook) unless another binder is installed (tests bind scripted
// tables). Null restores DrvBindOpTable.
using ConnBindOpTableFn = int (*)(OA_OPHOLDER* holder);
void ConnSetOpTableBinder(ConnBindOpTableFn bind);
