// What the resource dispenser and the XA switch share: the one-time start of the
// distributed-transaction runtime, the XA trace and the names it gives HRESULTs, XA codes
// and interface ids, the count of live dispensers, the "XaInfo" value of a data source,
// and the ten wrappers through which every XA operation reaches the agent under the
// connection's XA call lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "drv_pro9/oa_optable.h"
#include "dtc/dtc.h"
#include "platform/txcoord/txcoord.h"

// The host's calls (DTC_HOST, dtc/dtc.h), each with its answer for a host that lacks it.
int DtcProfileString(const char* section, const char* key, const char* def, char* buf, int size,
                     const char* file);
bool DtcConnLinkOf(void* driverHandle, DTC_CONN_LINK* out);
// One printf-style line of the XA trace, after "[thread id] " when threadPrefix is not 0;
// a longer line than 2,047 bytes is cut. Nothing while the trace is off.
void DtcTraceLine(int threadPrefix, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Starts the runtime once per process: opens the XA trace when a trace is configured and
// writes its banner. 0; a second call returns at once. -1 when it cannot start (it lets
// no exception out); the trace then stays off.
int OleTxInit();

// True while the XA trace is open; the traced lines are built only then.
bool OleTxTraceOn();
// One line of the XA trace, after "[thread id] ".
void OleTxTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Traces the HRESULT with its name ("Call success" or "Call failure") and returns it.
HRESULT TraceHResult(HRESULT hr);
// Traces "Call returned: n" and returns n.
uint32_t TraceCount(uint32_t n);

// Trace names: "Unknown" for an unlisted XA code, "Unknown!" for an unlisted HRESULT.
const char* XaCodeName(int rc);
const char* HResultName(HRESULT hr);
// "IID_IUnknown", the name of an interface this driver knows, else the braced id.
std::string InterfaceName(const TX_GUID& iid);

// Live dispensers, counted by their construction and destruction.
int32_t DtcLiveDispensers();
void DtcCountDispenser(int delta);

// The size of every XaInfo and open-string buffer.
constexpr size_t XA_INFO_SIZE = 256;
// The data source's "XaInfo" value from odbc.ini into out (size bytes, NUL included): 1,
// with "" when there is none; 0 when the value does not fit (size 0 never fits, nor a
// value of XA_INFO_SIZE bytes or more). Allocates nothing.
int XaInfoLookup(const char* dsn, char* out, size_t size);

// What the wrappers need of the connection: its operation holder, its agent connection
// and its XA call lock. The lock is held around the slot, so that XA operations on one
// connection from coordinator threads and from the switch never overlap. An empty slot
// answers XAER_RMERR.
struct XA_AGENT {
    const OA_OPHOLDER* holder;
    uint32_t conn;
    std::recursive_mutex* xaCallLock;
};
int AgentXaOpen(const XA_AGENT& a, const char* xaInfo, int rmid, long flags);
int AgentXaClose(const XA_AGENT& a, const char* xaInfo, int rmid, long flags);
int AgentXaStart(const XA_AGENT& a, XID* xid, int rmid, long flags);
int AgentXaEnd(const XA_AGENT& a, XID* xid, int rmid, long flags);
int AgentXaPrepare(const XA_AGENT& a, XID* xid, int rmid, long flags);
int AgentXaCommit(const XA_AGENT& a, XID* xid, int rmid, long flags);
int AgentXaRollback(const XA_AGENT& a, XID* xid, int rmid, long flags);
int AgentXaForget(const XA_AGENT& a, XID* xid, int rmid, long flags);
int AgentXaRecover(const XA_AGENT& a, XID* xids, long count, int rmid, long flags);
int AgentXaComplete(const XA_AGENT& a, int* handle, int* result, int rmid, long flags);
