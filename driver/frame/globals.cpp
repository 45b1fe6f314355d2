// Driver globals: the locks, the handle tables, the thread mode, the trace's log sink and
// the binding of operation holders.
#include "driver/frame/globals.h"

#include <cstdlib>
#include <new>

#include "driver/frame/handle.h"
#include "driver/frame/resources.h"
#include "driver/frame/trace.h"
#include "scrs/scr_hook.h"
#include "util/log.h"

std::atomic<int> g_drvInitialised{0};

DRV_GLOBALS& Drv() {
    // Placement in static storage with no destructor: the locks must outlive any thread
    // that is still inside a call while the process exits.
    alignas(DRV_GLOBALS) static unsigned char storage[sizeof(DRV_GLOBALS)];
    static DRV_GLOBALS* globals = new (storage) DRV_GLOBALS;
    return *globals;
}

namespace {

struct TableSetup {
    HANDLE_TABLE DRV_GLOBALS::*table;
    uint32_t id;
};

constexpr TableSetup kTables[] = {
    {&DRV_GLOBALS::envTable, DRV_ENV_TABLE_ID},
    {&DRV_GLOBALS::connTable, DRV_CONN_TABLE_ID},
    {&DRV_GLOBALS::stmtTable, DRV_STMT_TABLE_ID},
    {&DRV_GLOBALS::descTable, DRV_DESC_TABLE_ID},
};

void FreeTables(DRV_GLOBALS& g) {
    // Statements, connections, environments, descriptors: children before parents.
    hdl_Free(&g.stmtTable);
    hdl_Free(&g.connTable);
    hdl_Free(&g.envTable);
    hdl_Free(&g.descTable);
}

}  // namespace

void DrvFreeTables() {
    FreeTables(Drv());
}

void DrvReleaseTables() {
    DRV_GLOBALS& g = Drv();
    for (const TableSetup& t : kTables)
        hdl_Release(&(g.*t.table));
}

int DrvGlobalInit() {
    DRV_GLOBALS& g = Drv();
    std::lock_guard<std::recursive_mutex> guard(g.handleLock);
    if (g_drvInitialised.load())
        return 0;
    for (const TableSetup& t : kTables) {
        if (hdl_Init(&(g.*t.table), t.id) != 0) {
            FreeTables(g);
            return -1;
        }
        hdl_EnableLock(&(g.*t.table));
        // Each slot keeps the gate its handle's calls claim, for the dispatcher's look-up
        // without the handle lock.
        (g.*t.table).ownerOf = [](void* object) -> const void* { return static_cast<HANDLE_HDR*>(object)->gate; };
    }
    g_drvInitialised.store(1, std::memory_order_release);
    return 0;
}

int DrvMessage(const char* text, const char* caption) {
    if (Drv().quietWindow.load() == 0)
        return 0;
    LOG_MSG(LOG_ERR, "%s: %s", caption, text);
    return 1;
}

int DrvResourceMessage(const char* text) {
    char caption[200];
    DrvLoadString(IDS_CAPTION, caption, sizeof caption);
    return DrvMessage(text, caption);
}

int DrvBindOpTableWith(OA_OPHOLDER* holder, OA_OPTABLE_HOOK hook) {
    int rc = OA_BindOpTable(holder);
    if (rc == 0 && hook != nullptr)
        hook(holder);
    return rc;
}

int DrvBindOpTable(OA_OPHOLDER* holder) {
    return DrvBindOpTableWith(holder, SCR_HookOpTable);
}

void DrvOpenLogSinks() {
    DRV_GLOBALS& g = Drv();
    FILE* stream = TraceStreamOf(TRACE_ODBC);
    if (stream == nullptr || g.traceSinkLevel < 0 || g.traceSink != nullptr)
        return;
    g.traceSink = log_SinkStream(stream, g.traceSinkLevel, -1, LOG_FLAG_DATE | LOG_FLAG_TIME);
}

void DrvCloseLogSinks() {
    DRV_GLOBALS& g = Drv();
    if (LOG_SINK* sink = g.traceSink) {
        g.traceSink = nullptr;
        log_SinkRemove(sink);
        std::free(sink);
    }
}

void DrvSetThreadMode(int32_t holderState) {
    DRV_GLOBALS& g = Drv();
    int expected = 0;
    if (g.threadModeSet.compare_exchange_strong(expected, 1))
        g.skipDbLock.store(holderState & OA_HOLDER_SKIP_DB_LOCK);
}
