// The XA switch: Driver Manager connections of its own, one per open, bound per thread.
#include "dtc/xa_switch.h"

#include <dlfcn.h>
#include <sqlext.h>
#include <string.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "dtc/xa_runtime.h"

namespace {

template <class Fn>
Fn Resolve(void* lib, const char* name) {
    return lib != nullptr ? reinterpret_cast<Fn>(dlsym(lib, name)) : nullptr;
}

// unixODBC's Driver Manager, loaded at first use and kept for the life of the process.
// Null members when it cannot be loaded.
const XA_DM_API& DriverManager() {
    static const XA_DM_API api = [] {
        void* lib = dlopen("libodbc.so.2", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            lib = dlopen("libodbc.so", RTLD_NOW | RTLD_LOCAL);
        XA_DM_API a{};
        a.allocHandle = Resolve<decltype(a.allocHandle)>(lib, "SQLAllocHandle");
        a.setEnvAttr = Resolve<decltype(a.setEnvAttr)>(lib, "SQLSetEnvAttr");
        a.driverConnect = Resolve<decltype(a.driverConnect)>(lib, "SQLDriverConnect");
        a.getInfo = Resolve<decltype(a.getInfo)>(lib, "SQLGetInfo");
        a.disconnect = Resolve<decltype(a.disconnect)>(lib, "SQLDisconnect");
        a.freeHandle = Resolve<decltype(a.freeHandle)>(lib, "SQLFreeHandle");
        return a;
    }();
    return api;
}

std::atomic<const XA_DM_API*> g_dmSeam{nullptr};
bool HostConnLink(SQLHDBC driverHandle, DTC_CONN_LINK* out) { return DtcConnLinkOf(driverHandle, out); }

std::atomic<XaConnResolver> g_resolver{HostConnLink};

// The Driver Manager to use, or null when it lacks a call.
const XA_DM_API* Dm() {
    const XA_DM_API* dm = g_dmSeam.load();
    if (dm == nullptr)
        dm = &DriverManager();
    if (dm->allocHandle == nullptr || dm->setEnvAttr == nullptr || dm->driverConnect == nullptr ||
        dm->getInfo == nullptr || dm->disconnect == nullptr || dm->freeHandle == nullptr)
        return nullptr;
    return dm;
}

// The Driver Manager environment the opens share, with the number of opens using it.
struct SharedEnv {
    std::mutex lock;
    SQLHENV env = nullptr;
    int refs = 0;
};

SharedEnv& Env() {
    static SharedEnv* env = new SharedEnv;  // outlives every thread that may still close
    return *env;
}

SQLHENV AcquireEnv(const XA_DM_API& dm) {
    SharedEnv& e = Env();
    std::lock_guard<std::mutex> guard(e.lock);
    if (e.env == nullptr) {
        SQLHANDLE env = nullptr;
        if (!SQL_SUCCEEDED(dm.allocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
            return nullptr;
        if (!SQL_SUCCEEDED(dm.setEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                                         reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0))) {
            dm.freeHandle(SQL_HANDLE_ENV, env);
            return nullptr;
        }
        e.env = env;
    }
    ++e.refs;
    return e.env;
}

void ReleaseEnv(const XA_DM_API& dm) {
    SharedEnv& e = Env();
    std::lock_guard<std::mutex> guard(e.lock);
    if (e.refs > 0 && --e.refs == 0) {
        dm.freeHandle(SQL_HANDLE_ENV, e.env);
        e.env = nullptr;
    }
}

// One open: the Driver Manager connection and what the switch uses of the driver's.
struct XA_CONNREC {
    const XA_DM_API* dm;
    SQLHDBC dbc = nullptr;
    DTC_CONN_LINK link;

    XA_AGENT Agent() { return XA_AGENT{&link.holder, link.agentConn, link.xaCallLock.get()}; }
};

// Disconnects and frees the open's connection and drops its share of the environment.
void Disconnect(XA_CONNREC& rec) {
    if (rec.dbc != nullptr) {
        rec.dm->disconnect(rec.dbc);
        rec.dm->freeHandle(SQL_HANDLE_DBC, rec.dbc);
        rec.dbc = nullptr;
    }
    ReleaseEnv(*rec.dm);
}

struct XA_BINDING {
    ~XA_BINDING() { explicit_bzero(xaInfo.data(), xaInfo.size()); }
    std::string xaInfo;  // the whole open string, which may hold a password
    XA_CONNREC rec;
};

// The calling thread's bindings by rmid. Only their thread reaches them, so they need no
// lock: an entry called on another thread finds none.
thread_local std::map<int, std::unique_ptr<XA_BINDING>> t_bindings;

XA_BINDING* FindBinding(int rmid, const char* xaInfo) {
    auto it = t_bindings.find(rmid);
    if (it == t_bindings.end())
        return nullptr;
    if (xaInfo != nullptr && it->second->xaInfo != xaInfo)
        return nullptr;
    return it->second.get();
}

int Returned(int rc) {
    OleTxTrace("Call returned: %s(%d)", XaCodeName(rc), rc);
    return rc;
}

// Connects rec through the Driver Manager with the open string and finds the driver's
// connection. XA_OK or XAER_RMERR; on failure rec holds no connection.
int Connect(XA_CONNREC& rec, SQLHENV env, char* xa_info) {
    const XA_DM_API& dm = *rec.dm;
    SQLHANDLE dbc = nullptr;
    if (!SQL_SUCCEEDED(dm.allocHandle(SQL_HANDLE_DBC, env, &dbc)))
        return XAER_RMERR;
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    SQLRETURN rc = dm.driverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(xa_info), SQL_NTS, out, sizeof out,
                                    &outLength, SQL_DRIVER_NOPROMPT);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) {
        dm.freeHandle(SQL_HANDLE_DBC, dbc);
        return XAER_RMERR;
    }
    rec.dbc = dbc;
    // The Driver Manager hands out its own handles; it tells the driver's on request.
    SQLHDBC driverHandle = nullptr;
    if (!SQL_SUCCEEDED(dm.getInfo(dbc, SQL_DRIVER_HDBC, &driverHandle, sizeof driverHandle, nullptr)) ||
        !g_resolver.load()(driverHandle, &rec.link))
        return XAER_RMERR;
    if (!rec.link.hasXA) {
        DtcTraceLine(0, "Agent does not support XA");
        return XAER_RMERR;
    }
    return XA_OK;
}

// The entries that work on an open rmid.
template <class Call>
int OnBinding(int rmid, Call call) {
    XA_BINDING* b = FindBinding(rmid, nullptr);
    return Returned(b != nullptr ? call(b->rec.Agent()) : XAER_RMERR);
}

// Runs an entry's body for C callers: no exception leaves it.
template <class Body>
int CEntry(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return Returned(XAER_RMERR);
    }
}

// The data source name of an open string, inside it; empty when there is none or it does
// not fit an XaInfo-sized buffer. Allocates nothing.
std::string_view DsnOf(const char* xa_info) {
    if (xa_info == nullptr)
        return {};
    const char* start = std::strstr(xa_info, "DSN=");
    if (start == nullptr)
        return {};
    start += 4;
    const char* end = std::strchr(start, ';');
    std::string_view dsn(start, end != nullptr ? static_cast<size_t>(end - start) : std::strlen(start));
    while (!dsn.empty() && (dsn.back() == ' ' || dsn.back() == '\t' || dsn.back() == '\r' || dsn.back() == '\n'))
        dsn.remove_suffix(1);
    if (dsn.size() >= XA_INFO_SIZE)
        return {};
    return dsn;
}

// What an open has taken, given back unless it is kept: on every failure, whether an
// answer or an exception ends the open.
struct OpenInProgress {
    ~OpenInProgress() {
        if (kept)
            return;
        if (agentOpen)
            AgentXaClose(binding->rec.Agent(), binding->xaInfo.c_str(), rmid, TMNOFLAGS);
        if (envTaken)
            Disconnect(binding->rec);
        if (slot != t_bindings.end())
            t_bindings.erase(slot);
    }
    std::unique_ptr<XA_BINDING> binding;
    int rmid = 0;
    std::map<int, std::unique_ptr<XA_BINDING>>::iterator slot = t_bindings.end();
    bool envTaken = false, agentOpen = false, kept = false;
};

int Open(char* xa_info, int rmid, long flags) {
    OleTxInit();
    const std::string_view dsn = DsnOf(xa_info);
    if (dsn.empty()) {
        OleTxTrace("xa_switch_open(***, %d, %lX)", rmid, static_cast<unsigned long>(flags));
        OleTxTrace("xa_switch_open: invalid xaInfo string format");
        return XAER_RMERR;
    }
    OleTxTrace("xa_switch_open(%.*s, %d, %lX)", static_cast<int>(dsn.size()), dsn.data(), rmid,
               static_cast<unsigned long>(flags));
    // Opening an open rmid again is harmless; with another open string it is a mistake.
    if (auto it = t_bindings.find(rmid); it != t_bindings.end())
        return Returned(it->second->xaInfo == xa_info ? XA_OK : XAER_INVAL);

    const XA_DM_API* dm = Dm();
    if (dm == nullptr)
        return Returned(XAER_RMERR);
    // What needs memory comes first, before anything is taken that would need undoing.
    OpenInProgress open;
    open.rmid = rmid;
    open.binding = std::make_unique<XA_BINDING>();
    open.binding->xaInfo = xa_info;
    open.binding->rec.dm = dm;
    open.slot = t_bindings.try_emplace(rmid).first;
    char dsnText[XA_INFO_SIZE];
    std::memcpy(dsnText, dsn.data(), dsn.size());
    dsnText[dsn.size()] = '\0';

    SQLHENV env = AcquireEnv(*dm);
    if (env == nullptr)
        return Returned(XAER_RMERR);
    open.envTaken = true;
    int rc = Connect(open.binding->rec, env, xa_info);
    char info[XA_INFO_SIZE];
    if (rc == XA_OK && XaInfoLookup(dsnText, info, sizeof info) == 0)
        rc = XAER_RMERR;
    if (rc == XA_OK)
        rc = AgentXaOpen(open.binding->rec.Agent(), info, rmid, flags);
    if (rc != XA_OK)
        return Returned(rc);
    open.agentOpen = true;
    open.slot->second = std::move(open.binding);
    open.kept = true;
    return Returned(XA_OK);
}

int Close(char* xa_info, int rmid, long flags) {
    const std::string_view dsn = DsnOf(xa_info);
    if (dsn.empty()) {
        OleTxTrace("xa_switch_close(***, %d, %lX)", rmid, static_cast<unsigned long>(flags));
        OleTxTrace("xa_switch_close: invalid xaInfo string format");
        return Returned(XAER_RMERR);
    }
    OleTxTrace("xa_switch_close(%.*s, %d, %lX)", static_cast<int>(dsn.size()), dsn.data(), rmid,
               static_cast<unsigned long>(flags));
    XA_BINDING* b = FindBinding(rmid, xa_info);
    if (b == nullptr)
        return Returned(XAER_RMERR);
    int rc = AgentXaClose(b->rec.Agent(), xa_info, rmid, flags);
    Disconnect(b->rec);
    t_bindings.erase(rmid);
    return Returned(rc);
}

}  // namespace

std::string XaOpenStringDsn(const char* xa_info) { return std::string(DsnOf(xa_info)); }

void XaSwitchSetSeams(const XA_DM_API* dm, XaConnResolver resolver) {
    g_dmSeam.store(dm);
    g_resolver.store(resolver != nullptr ? resolver : HostConnLink);
}

int xa_switch_open(char* xa_info, int rmid, long flags) {
    return CEntry([&] { return Open(xa_info, rmid, flags); });
}

int xa_switch_close(char* xa_info, int rmid, long flags) {
    return CEntry([&] { return Close(xa_info, rmid, flags); });
}

int xa_switch_start(XID* xid, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_start(%p, %d, %lX)", static_cast<void*>(xid), rmid, static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaStart(a, xid, rmid, flags); });
    });
}

int xa_switch_end(XID* xid, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_end(%p, %d, %lX)", static_cast<void*>(xid), rmid, static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaEnd(a, xid, rmid, flags); });
    });
}

int xa_switch_rollback(XID* xid, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_rollback(%p, %d, %lX)", static_cast<void*>(xid), rmid, static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaRollback(a, xid, rmid, flags); });
    });
}

int xa_switch_prepare(XID* xid, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_prepare(%p, %d, %lX)", static_cast<void*>(xid), rmid, static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaPrepare(a, xid, rmid, flags); });
    });
}

int xa_switch_commit(XID* xid, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_commit(%p, %d, %lX)", static_cast<void*>(xid), rmid, static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaCommit(a, xid, rmid, flags); });
    });
}

int xa_switch_recover(XID* xids, long count, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_recover(%p, %ld, %d, %lX)", static_cast<void*>(xids), count, rmid,
                   static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaRecover(a, xids, count, rmid, flags); });
    });
}

int xa_switch_forget(XID* xid, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_forget(%p, %d, %lX)", static_cast<void*>(xid), rmid, static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaForget(a, xid, rmid, flags); });
    });
}

int xa_switch_complete(int* handle, int* result, int rmid, long flags) {
    return CEntry([&] {
        OleTxTrace("xa_switch_complete(%d,, %d, %lX)", handle != nullptr ? *handle : 0, rmid,
                   static_cast<unsigned long>(flags));
        return OnBinding(rmid, [&](const XA_AGENT& a) { return AgentXaComplete(a, handle, result, rmid, flags); });
    });
}
