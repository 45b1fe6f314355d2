// Driver globals: the three process-wide locks, the four handle tables, the thread mode
// and the process-wide settings. Library attach and detach are driver/library/library.h.
//
// Everything here lives in static storage for the whole life of the process: unload
// clears the initialised flag and empties the tables, but never destroys a lock that a
// thread still inside a call may hold.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "drv_pro9/oa_optable.h"
#include "util/handle.h"

struct ENVR;
struct LOG_SINK;

// Table ids given to hdl_Init; their low 16 bits are the kind tags of the handle ids.
constexpr uint32_t DRV_ENV_TABLE_ID = 0xDBC0001;
constexpr uint32_t DRV_CONN_TABLE_ID = 0xDBC0002;
constexpr uint32_t DRV_STMT_TABLE_ID = 0xDBC0003;
constexpr uint32_t DRV_DESC_TABLE_ID = 0xDBC0004;

struct DRV_GLOBALS {
    // Lock order, outer to inner: handle lock, a connection's call lock, database lock,
    // connect lock, trace lock. Objects are freed under the handle lock. A handler holds the
    // database lock once (DbLockRelease gives it up and takes it again), never twice.
    std::recursive_mutex handleLock;
    std::recursive_mutex connectLock;
    std::mutex dbLock;
    HANDLE_TABLE envTable;
    HANDLE_TABLE connTable;
    HANDLE_TABLE stmtTable;
    HANDLE_TABLE descTable;
    // Set once per process by DrvSetThreadMode: 2 skips the database lock.
    std::atomic<int> threadModeSet{0};
    std::atomic<int> skipDbLock{0};
    // SQL_ATTR_QUIET_MODE window: 0 silences start-up messages; -2 means no owner window.
    std::atomic<int64_t> quietWindow{-2};
    // Highest level of the log lines copied into the trace (TraceSinkLevelSetting).
    int traceSinkLevel = 7;
    LOG_SINK* traceSink = nullptr;  // the log sink on the ODBC trace stream, or none
    ENVR* envList = nullptr;  // head of the global environment list, under the handle lock
    // The process-wide agent operation holder, bound at attach.
    OA_OPHOLDER opHolder;
};

DRV_GLOBALS& Drv();

// Whether the driver is started (set by DrvGlobalInit, cleared by DrvGlobalTerm, both
// under the handle lock). Outside DRV_GLOBALS so that the check every call makes first is
// one load: the atomic is constant-initialised, ready before any constructor runs.
extern std::atomic<int> g_drvInitialised;

inline bool DrvIsInitialised() { return g_drvInitialised.load(std::memory_order_acquire) != 0; }

// Creates the locks and the four tables; 0 on success, -1 when a table cannot be set up
// (then nothing is left behind and the flag stays 0).
int DrvGlobalInit();
// Empties the four tables (library detach, driver/library/library.h). Handle lock held.
void DrvFreeTables();
// Frees what the emptied tables kept for readers without the lock; only at the library's
// unload, when no call can be inside.
void DrvReleaseTables();
// Attaches a log sink to the open ODBC trace stream at the configured level; none when
// the trace is off or the level is negative.
void DrvOpenLogSinks();
// Removes and frees the trace's log sink; no thread writes to it afterwards.
void DrvCloseLogSinks();
// Binds a holder of the ODBC side: to the agent's table (OA_BindOpTable), then handed to
// the cursor library's hook (SCR_HookOpTable), which may put its copy of the table in front
// of the agent's. The process holder at attach and each connection's holder at open are
// bound so. Returns what OA_BindOpTable returns.
int DrvBindOpTable(OA_OPHOLDER* holder);
// As DrvBindOpTable with the given hook in place of the cursor library's (none when null):
// the seam through which the interposition is exercised.
int DrvBindOpTableWith(OA_OPHOLDER* holder, OA_OPTABLE_HOOK hook);
// Takes the holder's OA_HOLDER_SKIP_DB_LOCK bit as the skip-database-lock flag, once per
// process.
void DrvSetThreadMode(int32_t holderState);
// A message meant for a message box: written as an ERROR log line, never blocking.
// Returns 0 when the quiet-mode window is 0 (nothing shown), else 1.
int DrvMessage(const char* text, const char* caption);
int DrvResourceMessage(const char* text);
