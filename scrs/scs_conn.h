// The cursor library's bookkeeping of agent connections: a kept copy of each connection's
// connect parameters in its server's list (for a second connection with the same
// parameters, the row-version helper), and the connection's key-column cache.
//
// The lists are shared by every connection of the process and guarded by the
// connection-list lock (a process-lifetime std::recursive_mutex); everything else runs
// inside one ODBC call on its connection.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drv_pro9/oa_optable.h"

// What a second connect with the same parameters needs of a connect request: every text
// (a null one stays absent) and integer of the request, its settings and the facts of the
// library it came through. Never the initial SQL (it ran once, on the first connection)
// nor the connect's outcome. The password is wiped before the record's memory goes; the
// record is never copied, so that no unwiped copy of it exists.
struct SCS_CONNINFO {
    std::optional<std::string> host;
    std::optional<std::string> options;      // may begin with OA_WIDE_PREFIX
    std::optional<std::string> serverType;
    std::optional<std::string> database;
    std::optional<std::string> dataSource;
    std::optional<std::string> dbOptions;
    int32_t readOnly = 0;
    std::optional<std::string> user;
    std::optional<std::string> password;
    int16_t loginTimeout = 0;
    std::optional<std::string> extra;
    int32_t reserved = 0;
    int32_t flag40 = 0;
    std::optional<std::string> appName;
    OA_CONNSETTINGS settings{};              // settings.sqlDbmsName is left null: see below
    std::optional<std::string> sqlDbmsName;  // the settings' DBMS name
    std::optional<std::string> driverFile;
    int32_t unicodeLibrary = 0;
    int32_t narrowLatin1 = 0;

    // Copies what a second connect needs; throws std::bad_alloc.
    explicit SCS_CONNINFO(const OA_CONNREQ& req);
    ~SCS_CONNINFO();
    SCS_CONNINFO(const SCS_CONNINFO&) = delete;
    SCS_CONNINFO& operator=(const SCS_CONNINFO&) = delete;

    // A connect request with these parameters and no initial SQL. Its texts point into this
    // record (the agent only reads them) and stay valid while the record lives. The agent
    // may put texts of its own (C heap) where the request has none (user, password,
    // database): the caller frees each request text that is not the record's.
    OA_CONNREQ Request() const;
};

// After the agent's connect succeeded: keeps the request's parameters (never the initial
// SQL) at the tail of the server's list and gives the connection its SCS_CONN with an
// empty key-column cache. 0; 21 (S1009) for a null request or an unknown connection; 16
// (S1001) when memory runs out. On failure nothing is kept: the caller then disconnects
// the agent connection. A connection that already had bookkeeping has it replaced.
int scs_ConnectBookkeeping(uint32_t server, const OA_CONNREQ* req, uint32_t agentConn);
// Before the agent's disconnect: closes the connection's row-version helpers
// (RVC_ConnectionClosing), then drops its kept parameters (the password wiped first) and
// its key-column cache. 0, or 21 for an unknown connection. When the
// agent frees a connection without it, the connection's SCS_CONN goes the same way.
int scs_DisconnectBookkeeping(uint32_t agentConn);

// The kept parameters of a connection with bookkeeping, or null. Valid until the
// connection's disconnect (or the agent's free of it).
const SCS_CONNINFO* scs_ConnInfoOf(uint32_t agentConn);

// The key-column cache's entry release (a UT_HASH_FN): frees the entry's UT_ARRAY of key
// columns (SCS_COLDESC, each element's text with it). The node stays: the caller removes
// it or frees the table.
void scs_FreeKeyCacheEntry(void* value, const void* key, void* user);

// The connection-list lock: held around every insertion, search and removal of the
// per-server lists (and, later, the row-version connections). Never destroyed, so that
// a connection freed during the process's exit can still take it.
std::recursive_mutex& scs_ConnListLock();

// ---- For tests ---------------------------------------------------------------------------

// The agent connections of the server's list, in list (connect) order.
std::vector<uint32_t> scs_ConnListOf(uint32_t server);
// Makes the n-th allocation of the next bookkeeping connects fail as out of memory
// (1: the next one); 0 turns it off. Each connect makes a few allocations, so counting up
// from 1 reaches every one of them.
void scs_FailConnAllocation(int n);
