// The records behind the four ODBC handle kinds, as far as the dispatcher and the
// diagnostics read them. Each record starts with its magic, which is set to -1 when the
// object is freed so that a stale pointer is never taken for a live one.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <sqltypes.h>

#include "driver/diag/diag.h"
#include "drv_pro9/oa_optable.h"

constexpr int32_t ENVR_MAGIC = 0x3144;
constexpr int32_t CONN_MAGIC = 0x3244;
constexpr int32_t STMT_MAGIC = 0x3344;
constexpr int32_t DESC_MAGIC = 0x3444;
constexpr int32_t FREED_MAGIC = -1;

struct CONN;
struct STMT;

// Environment states.
constexpr int32_t ENVR_FREED = 0;
constexpr int32_t ENVR_ALLOCATED = 1;
constexpr int32_t ENVR_OPEN = 2;

struct ENVR {
    int32_t magic = ENVR_MAGIC;
    DIAG diag;
    uint32_t id = 0;
    int32_t state = ENVR_ALLOCATED;
    ENVR* next = nullptr;   // global environment list, newest first
    CONN* conns = nullptr;  // this environment's connections, newest first
    uint32_t sequenceId = 0;
    uint32_t connCounter = 0;  // last sequence number given to a connection
    uint32_t connectionPooling = 0;  // SQL_ATTR_CONNECTION_POOLING
    uint32_t cpMatch = 0;            // SQL_ATTR_CP_MATCH
    uint32_t odbcVersion = 2;        // SQL_ATTR_ODBC_VERSION
    int32_t outputNts = 1;           // SQL_ATTR_OUTPUT_NTS
    // Environment calls now walking the connections with the handle lock given up
    // (ForEachEnvConnection): while not 0 the record must not be freed. Handle lock.
    int32_t connWalks = 0;
};

using FailoverCallback = int (*)(int action, void* context, int reserved);

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
// written under the connection's call lock, except `busy` (handle lock) and the list link
// (handle lock, environment calls).
struct CONN {
    int32_t magic = CONN_MAGIC;
    DIAG diag;  // diag.errCode: internal code of the last failure
    uint32_t id = 0;
    int32_t state = CONN_ALLOCATED;
    ENVR* envr = nullptr;
    CONN* next = nullptr;   // next connection of the environment
    STMT* stmts = nullptr;  // the connection's statements, first to last

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
    std::string currentCatalog;             // cache of SQL_ATTR_CURRENT_CATALOG
    uint32_t defaultIsolation = 0;          // isolation to set at connect, or the agent's answer
    uint32_t cn_fetchSize = 60;             // FBS

    // The agent.
    OA_OPHOLDER holder;
    uint32_t agentServer = 0;  // from slot 3; 0 when none
    uint32_t agentConn = 0;    // from slot 5; 0 when none
    uint32_t sequenceId = 0;
    CONN_TYPETABLE typeTable;

    // The handle whose call is running on this connection (the connection, a statement
    // or a descriptor), or null. Read and written under the handle lock. While it is null
    // no handler runs on the connection, so its diagnostics can be read under the handle
    // lock alone.
    const void* busy = nullptr;
    // Set by a handler that has closed the connection for good (SQLFreeConnect): the
    // dispatcher unregisters and deletes it once the call's locks are down. Only the
    // thread holding the claim reads or writes it.
    bool releaseAfterCall = false;

    // What the agent said it can do, read at connect.
    int32_t cn_needbind = 0;
    int32_t cn_hasMoreRes = 0;
    int32_t cn_hasParamOp = 0;
    int32_t cn_spOutDeferFetch = 0;
    int32_t cn_hasScrlCurs = 0;
    int32_t cn_hasDynMixCurs = 0;
    int32_t cn_hasV2DAE = 0;
    int32_t narrowWidePieces = 0;  // SQLPutData hands wide pieces over as narrow text
    int32_t cn_hasExecute2 = 0;
    int32_t agentConversions = 0;  // mask bit 0x200: SQLGetInfo conversions from the agent
    int32_t agentCaps[5] = {};     // mask bits 0x400, 0x800, 0x1000, 0x2000, 0x4000

    void* dtcDispenser = nullptr;  // distributed-transaction dispenser, when enlisted
    int32_t dtcEnlisted = 0;

    std::recursive_mutex secondLock;
    std::recursive_mutex callLock;  // taken by the dispatcher around every handler

    // Answers already asked of the agent: -1, 0xFFFF and none when empty.
    int32_t infoI32[CONN_INFO_I32];
    uint16_t infoU16[CONN_INFO_U16];
    std::optional<std::string> infoText[CONN_INFO_TEXT];

    FailoverCallback failover = nullptr;
    void* failoverContext = nullptr;

    CONN() {
        for (int32_t& v : infoI32)
            v = -1;
        for (uint16_t& v : infoU16)
            v = 0xFFFF;
    }
};

struct STMT {
    int32_t magic = STMT_MAGIC;
    DIAG diag;
    uint32_t id = 0;
    CONN* conn = nullptr;
    SQLLEN rowCount = -1;  // rows of the last execution, -1 when unknown
    bool isQuery = false;  // the statement text is a SELECT, which opens a cursor
};

struct DESC {
    int32_t magic = DESC_MAGIC;
    DIAG diag;
    uint32_t id = 0;
    CONN* conn = nullptr;  // owning connection of an explicit descriptor
    STMT* stmt = nullptr;  // owning statement of an implicit descriptor
};

// The connection a call on the descriptor runs on.
inline CONN* DescConn(const DESC* d) {
    if (d->conn != nullptr)
        return d->conn;
    return d->stmt != nullptr ? d->stmt->conn : nullptr;
}
