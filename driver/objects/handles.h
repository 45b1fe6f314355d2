// The records behind the four ODBC handle kinds, as far as the dispatcher and the
// diagnostics read them. Each record starts with its magic, which is set to -1 when the
// object is freed so that a stale pointer is never taken for a live one.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include <sqltypes.h>

#include "driver/diag/diag.h"

constexpr int32_t ENVR_MAGIC = 0x3144;
constexpr int32_t CONN_MAGIC = 0x3244;
constexpr int32_t STMT_MAGIC = 0x3344;
constexpr int32_t DESC_MAGIC = 0x3444;
constexpr int32_t FREED_MAGIC = -1;

struct CONN;

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
};

using FailoverCallback = int (*)(int action, void* context, int reserved);

struct CONN {
    int32_t magic = CONN_MAGIC;
    DIAG diag;
    uint32_t id = 0;
    ENVR* envr = nullptr;
    CONN* next = nullptr;  // next connection of the environment
    // The handle whose call is running on this connection (the connection, a statement
    // or a descriptor), or null. Read and written under the handle lock.
    const void* busy = nullptr;
    std::recursive_mutex callLock;
    std::recursive_mutex secondLock;
    FailoverCallback failover = nullptr;
    void* failoverContext = nullptr;
    std::string dsn;  // data source name of the connection, empty when none
};

struct STMT {
    int32_t magic = STMT_MAGIC;
    DIAG diag;
    uint32_t id = 0;
    CONN* conn = nullptr;
    SQLLEN rowCount = -1;  // rows of the last execution, -1 when unknown
    bool isQuery = false;  // the statement text is a SELECT (a cursor specification)
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
