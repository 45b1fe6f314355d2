// Library attach and detach.
#include "driver/library/library.h"

#include <mutex>

#include "driver/frame/globals.h"
#include "driver/frame/installer.h"
#include "driver/frame/resources.h"
#include "driver/frame/trace.h"
#include "driver/objects/conn.h"
#include "driver/objects/envr.h"
#include "dtc/dtc.h"

namespace {

void XaTraceOpen() { TraceOpen(TRACE_XA); }
bool XaTraceOn() { return TraceStreamOf(TRACE_XA) != nullptr; }
void XaTraceLine(int threadPrefix, const char* line) { TraceLogXA(threadPrefix, "%s", line); }

constexpr DTC_HOST kDtcHost = {InstGetPrivateProfileString, XaTraceOpen, XaTraceOn, XaTraceLine, ConnXaLinkOf};

}  // namespace

void DrvInstallDtcHost() { DtcSetHost(&kDtcHost); }

int DrvAttach() {
    DrvInstallDtcHost();
    if (DrvGlobalInit() != 0) {
        char text[200];
        DrvLoadString(IDS_INIT_FAILED, text, sizeof text);
        DrvResourceMessage(text);
        return 0;
    }
    DrvBindOpTable(&Drv().opHolder);
    TraceOpen(TRACE_ODBC);
    if (TraceStreamOf(TRACE_ODBC) != nullptr) {
        Drv().traceSinkLevel = TraceSinkLevelSetting();
        DrvOpenLogSinks();
    }
    return 1;
}

void DrvDetach() {
    DrvGlobalTerm();
    // The sink goes before the stream it writes to.
    DrvCloseLogSinks();
    TraceClose(TRACE_ODBC);
}

int DrvGlobalTerm() {
    DRV_GLOBALS& g = Drv();
    std::lock_guard<std::recursive_mutex> guard(g.handleLock);
    if (!g_drvInitialised.load())
        return 0;
    // Refuse new calls first; calls already past the check wait on the handle lock and then
    // find empty tables.
    g_drvInitialised.store(0, std::memory_order_release);
    bool callInside = false;
    while (ENVR* e = g.envList) {
        if (EnvrInUse(e)) {
            callInside = true;
            break;
        }
        EnvrClose(e);
        EnvrFree(e);
    }
    // A call still running on some connection may look handles up: keep its tables.
    if (!callInside)
        DrvFreeTables();
    return 0;
}
