// Environment records: allocation, the global environment list, open, close and free.
// Environment handlers run inside the handle lock, so no further lock guards a record; a
// handler that reaches its connections gives the lock up meanwhile and counts itself in
// connWalks, which keeps the record alive.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "driver/frame/handle.h"

struct CONN;

// Environment states.
constexpr int32_t ENVR_FREED = 0;
constexpr int32_t ENVR_ALLOCATED = 1;
constexpr int32_t ENVR_OPEN = 2;

struct ENVR : HANDLE_HDR {
    ENVR() : HANDLE_HDR(CALL_KIND_ENV) {}
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
    // (EnvrForEachConnection): while not 0 the record must not be freed. Handle lock.
    int32_t connWalks = 0;
};

// A new environment at the head of the global list, with the next sequence id; state
// allocated, ODBC version 2. Null when out of memory. The caller registers it.
ENVR* EnvrAlloc();
// Allocated becomes open; any other state is left alone.
void EnvrOpen(ENVR* envr);
// Only when open: closes every connection for good (each under its claim and locks, see
// EnvrForEachConnection) and frees it, then back to allocated. Handle lock held.
void EnvrClose(ENVR* envr);
// Unlinks, drops the queued messages, unregisters and releases the environment.
void EnvrFree(ENVR* envr);
// The ODBC version (2 or 3) a handle's diagnostics answer in: that of its environment; 3
// for a handle without one.
int EnvrOdbcVersionOf(const HANDLE_HDR* h);

// Queues a message on the environment's diagnostics.
void EnvrAddError(ENVR* envr, std::string_view text, int32_t native);
// The oldest queued message, removed from the list; nothing when the list is empty.
std::optional<ERRMSG> EnvrNextError(ENVR* envr);

// Runs work on each connection the environment holds when it is called, one at a time,
// with what a call on that connection holds (RunOnConnection of the dispatcher: claimed,
// call lock, database lock, the handle lock given up meanwhile). When work answers true the
// connection is destroyed after it. Handle lock held. Returns the number of connections
// passed over (busy, where the walk cannot wait for them).
using EnvrConnWork = bool (*)(CONN* conn, void* context);
int EnvrForEachConnection(ENVR* envr, EnvrConnWork work, void* context);
// True when a call is running on any connection of the environment, or an environment
// call is walking its connections. Handle lock held.
bool EnvrInUse(const ENVR* envr);
