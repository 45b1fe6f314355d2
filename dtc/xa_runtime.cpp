// The distributed-transaction runtime: start, XA trace, names, live-dispenser count,
// XaInfo look-up and the agent's XA calls.
#include "dtc/xa_runtime.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "util/log.h"

namespace {

std::once_flag g_started;
std::atomic<int32_t> g_liveDispensers{0};
std::atomic<const DTC_HOST*> g_host{nullptr};

const DTC_HOST kNoHost{};

const DTC_HOST& Host() {
    const DTC_HOST* h = g_host.load(std::memory_order_acquire);
    return h != nullptr ? *h : kNoHost;
}

// A line is formatted into this many bytes; a longer one is cut.
constexpr size_t TRACE_LINE_SIZE = 2048;

void TraceLineV(int threadPrefix, const char* fmt, va_list ap) {
    const DTC_HOST& host = Host();
    if (host.traceLine == nullptr || !OleTxTraceOn())
        return;
    char line[TRACE_LINE_SIZE];
    std::vsnprintf(line, sizeof line, fmt, ap);
    host.traceLine(threadPrefix, line);
}

}  // namespace

void DtcSetHost(const DTC_HOST* host) { g_host.store(host, std::memory_order_release); }

int DtcProfileString(const char* section, const char* key, const char* def, char* buf, int size,
                     const char* file) {
    const DTC_HOST& host = Host();
    if (host.profileString != nullptr)
        return host.profileString(section, key, def, buf, size, file);
    if (buf == nullptr || size <= 0)
        return 0;
    const size_t n = def != nullptr ? std::min(std::strlen(def), static_cast<size_t>(size - 1)) : 0;
    std::memcpy(buf, def, n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

bool DtcConnLinkOf(void* driverHandle, DTC_CONN_LINK* out) {
    const DTC_HOST& host = Host();
    return host.connLink != nullptr && host.connLink(driverHandle, out);
}

void DtcTraceLine(int threadPrefix, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    TraceLineV(threadPrefix, fmt, ap);
    va_end(ap);
}

int OleTxInit() {
    // Once per process, whichever threads enlist first: the trace banner is written once.
    try {
        std::call_once(g_started, [] {
            if (Host().traceOpen != nullptr)
                Host().traceOpen();
            if (!OleTxTraceOn())
                return;
            std::tm tm{};
            ut_LocalTime(&tm);
            char started[200];
            ut_FormatTime(started, sizeof started, "** Started on %a %b %d, %H:%M **", tm);
            DtcTraceLine(0, "** Tessaryn OLE Transactions Interface: Trace file **");
            DtcTraceLine(0, "%s", started);
            DtcTraceLine(0, "%s", "");
        });
    } catch (...) {
        // Out of memory opening the trace, or no thread support left: a later call tries again.
        return -1;
    }
    return 0;
}

bool OleTxTraceOn() {
    const DTC_HOST& host = Host();
    return host.traceOn != nullptr && host.traceOn();
}

void OleTxTrace(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    TraceLineV(1, fmt, ap);
    va_end(ap);
}

HRESULT TraceHResult(HRESULT hr) {
    OleTxTrace(FAILED(hr) ? "Call failure >>>: Returned HRESULT: %#.8lx(%s)"
                          : "Call success    : Returned HRESULT: %#.8lx(%s)",
               static_cast<unsigned long>(static_cast<uint32_t>(hr)), HResultName(hr));
    return hr;
}

uint32_t TraceCount(uint32_t n) {
    OleTxTrace("Call returned: %lu", static_cast<unsigned long>(n));
    return n;
}

const char* XaCodeName(int rc) {
    switch (rc) {
    case 0: return "XA_OK";
    case 3: return "XA_RDONLY";
    case 4: return "XA_RETRY";
    case 5: return "XA_HEURMIX";
    case 6: return "XA_HEURRB";
    case 7: return "XA_HEURCOM";
    case 8: return "XA_HEURHAZ";
    case 9: return "XA_NOMIGRATE";
    case 100: return "XA_RBROLLBACK";
    case 101: return "XA_RBCOMMFAIL";
    case 102: return "XA_RBDEADLOCK";
    case 103: return "XA_RBINTEGRITY";
    case 105: return "XA_RBPROTO";
    case 106: return "XA_RBTIMEOUT";
    case 107: return "XA_RBTRANSIENT";
    case -2: return "XAER_ASYNC";
    case -3: return "XAER_RMERR";
    case -4: return "XAER_NOTA";
    case -5: return "XAER_INVAL";
    case -6: return "XAER_PROTO";
    case -7: return "XAER_RMFAIL";
    case -8: return "XAER_DUPID";
    case -9: return "XAER_OUTSIDE";
    default: return "Unknown";
    }
}

const char* HResultName(HRESULT hr) {
    switch (static_cast<uint32_t>(hr)) {
    case 0x00000000: return "S_OK";
    case 0x0004D000: return "XACT_S_ASYNC";
    case 0x0004D002: return "XACT_S_READONLY";
    case 0x0004D008: return "XACT_S_ABORTING";
    case 0x0004D009: return "XACT_S_SINGLEPHASE";
    case 0x80004001: return "E_NOTIMPL";
    case 0x80004002: return "E_NOINTERFACE";
    case 0x80004004: return "E_ABORT";
    case 0x80004005: return "E_FAIL";
    case 0x8000FFFF: return "E_UNEXPECTED";
    case 0x80044002: return "E_KVR_DSN2HNDL_FAIL";
    case 0x8004D001: return "XACT_E_CANTRETAIN";
    case 0x8004D002: return "XACT_E_COMMITFAILED";
    case 0x8004D008: return "XACT_E_ISOLATIONLEVEL";
    case 0x8004D00B: return "XACT_E_NOISORETAIN";
    case 0x8004D00E: return "XACT_E_NOTRANSACTION";
    case 0x8004D00F: return "XACT_E_NOTSUPPORTED";
    case 0x8004D013: return "XACT_E_XTIONEXISTS";
    case 0x8004D016: return "XACT_E_INDOUBT";
    case 0x8004D017: return "XACT_E_NOTIMEOUT";
    case 0x8004D018: return "XACT_E_ALREADYINPROGRESS";
    case 0x8004D019: return "XACT_E_ABORTED";
    case 0x8004D01A: return "XACT_E_LOGFULL";
    case 0x8004D01B: return "XACT_E_TMNOTAVAILABLE";
    case 0x8004D01C: return "XACT_E_CONNECTION_DOWN";
    case 0x8004D01D: return "XACT_E_CONNECTION_DENIED";
    case 0x8004D103: return "XACT_E_NOTSINGLEPHASE";
    case 0x8007000E: return "E_OUTOFMEMORY";
    case 0x80070057: return "E_INVALIDARG";
    default: return "Unknown!";
    }
}

std::string InterfaceName(const TX_GUID& iid) {
    // Linux has no registry of interface names: the interfaces this code meets are named
    // here, any other by its id.
    if (iid == IID_IUnknown)
        return "IID_IUnknown";
    if (iid == IID_ITransactionResourceAsync)
        return "ITransactionResourceAsync";
    if (iid == IID_IDtcToXaHelperSinglePipe)
        return "IDtcToXaHelperSinglePipe";
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(iid.data1), iid.data2, iid.data3, iid.data4[0], iid.data4[1],
                  iid.data4[2], iid.data4[3], iid.data4[4], iid.data4[5], iid.data4[6], iid.data4[7]);
    return text;
}

int32_t DtcLiveDispensers() { return g_liveDispensers.load(); }

void DtcCountDispenser(int delta) { g_liveDispensers.fetch_add(delta); }

int XaInfoLookup(const char* dsn, char* out, size_t size) {
    if (out == nullptr || size == 0)
        return 0;
    // Read through a buffer one larger than the caller's, so that a value that would not
    // fit shows as one that fills it, rather than arriving cut. On the stack: the switch's
    // open reads it with a connection taken, where running out of memory would need undoing.
    char value[XA_INFO_SIZE + 1];
    const size_t room = std::min(size, XA_INFO_SIZE);
    int n = DtcProfileString(dsn, "XaInfo", "", value, static_cast<int>(room + 1), "odbc.ini");
    if (n < 0 || static_cast<size_t>(n) >= room) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, value, static_cast<size_t>(n));
    out[n] = '\0';
    return 1;
}

namespace {

// Runs one XA slot under the connection's XA call lock.
template <class Slot, class... Args>
int CallXaSlot(const XA_AGENT& a, Slot OA_OPTABLE::*slot, Args... args) {
    const OA_OPTABLE* ops = a.holder != nullptr ? a.holder->ops : nullptr;
    if (ops == nullptr || ops->*slot == nullptr || a.xaCallLock == nullptr)
        return XAER_RMERR;
    std::lock_guard<std::recursive_mutex> guard(*a.xaCallLock);
    return (ops->*slot)(a.conn, args...);
}

// XA flags fit the slots' 32 bits.
int32_t Flags(long flags) { return static_cast<int32_t>(flags); }

}  // namespace

int AgentXaOpen(const XA_AGENT& a, const char* xaInfo, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaOpen, int32_t{1}, xaInfo, int32_t{rmid}, Flags(flags));
}

int AgentXaClose(const XA_AGENT& a, const char* xaInfo, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaClose, xaInfo, int32_t{rmid}, Flags(flags));
}

int AgentXaStart(const XA_AGENT& a, XID* xid, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaStart, xid, int32_t{rmid}, Flags(flags));
}

int AgentXaEnd(const XA_AGENT& a, XID* xid, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaEnd, xid, int32_t{rmid}, Flags(flags));
}

int AgentXaPrepare(const XA_AGENT& a, XID* xid, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaPrepare, xid, int32_t{rmid}, Flags(flags));
}

int AgentXaCommit(const XA_AGENT& a, XID* xid, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaCommit, xid, int32_t{rmid}, Flags(flags));
}

int AgentXaRollback(const XA_AGENT& a, XID* xid, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaRollback, xid, int32_t{rmid}, Flags(flags));
}

int AgentXaForget(const XA_AGENT& a, XID* xid, int rmid, long flags) {
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaForget, xid, int32_t{rmid}, Flags(flags));
}

int AgentXaRecover(const XA_AGENT& a, XID* xids, long count, int rmid, long flags) {
    if (count < 0 || count > INT32_MAX)
        return XAER_INVAL;
    return CallXaSlot(a, &OA_OPTABLE::DRV_XaRecover, xids, static_cast<int32_t>(count), int32_t{rmid},
                      Flags(flags));
}

int AgentXaComplete(const XA_AGENT& a, int* handle, int* result, int rmid, long flags) {
    if (handle == nullptr || result == nullptr)
        return XAER_INVAL;
    int32_t handleCopy = *handle;
    int32_t resultValue = 0;
    int rc = CallXaSlot(a, &OA_OPTABLE::DRV_XaComplete, &handleCopy, &resultValue, int32_t{rmid}, Flags(flags));
    *result = resultValue;
    return rc;
}
