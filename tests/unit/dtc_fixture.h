// A fake transaction coordinator and an agent operation table with the XA slots, for the
// distributed-transaction tests.
//
// The fake agent records every XA slot call in order ("End 4000000", "Prepare", ...) with
// whether the connection's XA call lock was held for it, and answers what the test
// scripted per operation (XA_OK otherwise). The fake coordinator hands out a transaction
// manager whose XA helper pipe records its calls, and an enlistment that records the
// replies; every object counts its references, so a test can see that nothing leaks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/library/library.h"
#include "dtc/dtc.h"
#include "platform/txcoord/txcoord.h"

namespace dtc_fixture {

// The driver's installer values, XA trace and connection look-up, as the library's start-up
// hands them down.
inline const bool kHostInstalled = (DrvInstallDtcHost(), true);

constexpr uint32_t kAgentConn = 0xC0FFEE;

// Reference counting shared by the fakes: they live in the test, and only their count is
// checked.
template <class I>
class Counted : public I {
public:
    HRESULT QueryInterface(const TX_GUID&, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    std::atomic<int> refs{0};
};

struct FakeTransaction : Counted<ITransaction> {};

// A coordinator's call back into the resource manager from inside one of its own calls,
// made on another thread as a coordinator's worker would, and waited for at most a second:
// a resource manager that holds a lock across the coordinator's call then shows as a late
// answer rather than a hang (the call back finishes once the coordinator's call returns).
struct CallBack {
    void Run(std::function<void()> fn) {
        std::packaged_task<void()> task(std::move(fn));
        std::future<void> done = task.get_future();
        worker = std::thread(std::move(task));
        inTime = done.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    }
    ~CallBack() {
        if (worker.joinable())
            worker.join();
    }
    std::thread worker;
    bool inTime = false;
};

// Calls made back from inside the coordinator's calls, by the call's name
// ("PrepareRequestDone", "EnlistWithRM", ...); each runs once.
struct CallBacks {
    void Inside(const std::string& call, std::function<void()> fn) {
        std::lock_guard<std::mutex> l(lock);
        pending[call] = std::move(fn);
    }
    void RunFor(const std::string& call) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> l(lock);
            auto it = pending.find(call);
            if (it == pending.end())
                return;
            fn = std::move(it->second);
            pending.erase(it);
        }
        CallBack* back = nullptr;
        {
            std::lock_guard<std::mutex> l(lock);
            back = &made.emplace_back();
        }
        back->Run(std::move(fn));
    }
    // True when every call back made was answered within its second.
    bool AllInTime() {
        std::lock_guard<std::mutex> l(lock);
        for (const CallBack& b : made)
            if (!b.inTime)
                return false;
        return true;
    }
    std::mutex lock;
    std::map<std::string, std::function<void()>> pending;
    std::deque<CallBack> made;  // joined with the set
};

struct FakeEnlistment : Counted<ITransactionEnlistmentAsync> {
    HRESULT PrepareRequestDone(HRESULT hr, void*, void*) override { return Note("PrepareRequestDone", hr); }
    HRESULT CommitRequestDone(HRESULT hr) override { return Note("CommitRequestDone", hr); }
    HRESULT AbortRequestDone(HRESULT hr) override { return Note("AbortRequestDone", hr); }
    HRESULT Note(const char* what, HRESULT hr) {
        {
            std::lock_guard<std::mutex> l(lock);
            char text[64];
            std::snprintf(text, sizeof text, "%s %08X", what, static_cast<uint32_t>(hr));
            replies.push_back(text);
        }
        if (callBacks != nullptr)
            callBacks->RunFor(what);
        return S_OK;
    }
    CallBacks* callBacks = nullptr;
    std::vector<std::string> Replies() {
        std::lock_guard<std::mutex> l(lock);
        return replies;
    }
    std::mutex lock;
    std::vector<std::string> replies;
};

struct FakePipe : Counted<IDtcToXaHelperSinglePipe> {
    HRESULT XARMCreate(const char* text, const char* library, uint32_t* cookie) override {
        connectText = text;
        clientLibrary = library;
        if (FAILED(createHr))
            return createHr;
        *cookie = 77;
        return S_OK;
    }
    HRESULT ConvertTridToXID(ITransaction*, uint32_t, XID* xid) override {
        if (FAILED(convertHr))
            return convertHr;
        std::memset(xid, 0, sizeof *xid);
        xid->formatID = 0x4B5652;
        xid->gtrid_length = 3;
        xid->bqual_length = 1;
        std::memcpy(xid->data, "gtrb", 4);
        return S_OK;
    }
    HRESULT EnlistWithRM(uint32_t, ITransaction*, ITransactionResourceAsync* s,
                         ITransactionEnlistmentAsync** out) override {
        if (FAILED(enlistHr))
            return enlistHr;
        sink = s;
        sink->AddRef();  // the coordinator holds the sink until the transaction ends
        if (enlistment.callBacks != nullptr)
            enlistment.callBacks->RunFor("EnlistWithRM");  // before the enlistment is handed over
        enlistment.AddRef();
        *out = &enlistment;
        return S_OK;
    }
    void ReleaseRMCookie(uint32_t cookie, bool) override { releasedCookie = cookie; }

    HRESULT createHr = S_OK, convertHr = S_OK, enlistHr = S_OK;
    std::string connectText, clientLibrary;
    uint32_t releasedCookie = 0;
    ITransactionResourceAsync* sink = nullptr;
    FakeEnlistment enlistment;
};

struct FakeManager : Counted<ITxUnknown> {
    HRESULT QueryInterface(const TX_GUID& iid, void** out) override {
        if (!(iid == IID_IDtcToXaHelperSinglePipe) || FAILED(pipeHr)) {
            *out = nullptr;
            return FAILED(pipeHr) ? pipeHr : E_NOINTERFACE;
        }
        pipe.AddRef();
        *out = static_cast<IDtcToXaHelperSinglePipe*>(&pipe);
        return S_OK;
    }
    HRESULT pipeHr = S_OK;
    FakePipe pipe;
};

inline FakeManager* g_manager = nullptr;
inline HRESULT g_managerHr = S_OK;
inline HRESULT FakeProvider(ITxUnknown** out) {
    if (FAILED(g_managerHr))
        return g_managerHr;
    g_manager->AddRef();
    *out = g_manager;
    return S_OK;
}

// ---- the agent ----

struct FakeXaAgent {
    std::mutex lock;
    std::vector<std::string> calls;
    std::map<std::string, std::deque<int>> results;  // per operation, consumed in order
    std::recursive_mutex* xaCallLock = nullptr;  // checked held around every slot
    bool lockAlwaysHeld = true;
    std::vector<int> rmids;
    std::string openInfo, closeInfo;

    int Answer(const std::string& op, const std::string& detail, int rmid) {
        bool held = xaCallLock == nullptr ||
                    !std::async(std::launch::async, [l = xaCallLock] {
                         if (!l->try_lock())
                             return false;
                         l->unlock();
                         return true;
                     }).get();
        std::lock_guard<std::mutex> g(lock);
        lockAlwaysHeld = lockAlwaysHeld && held;
        calls.push_back(detail.empty() ? op : op + " " + detail);
        rmids.push_back(rmid);
        auto& q = results[op];
        if (q.empty())
            return XA_OK;
        int rc = q.front();
        if (q.size() > 1)
            q.pop_front();  // the last answer stays
        return rc;
    }
    std::vector<std::string> TakeCalls() {
        std::lock_guard<std::mutex> g(lock);
        std::vector<std::string> c;
        c.swap(calls);
        return c;
    }
};

inline FakeXaAgent* g_agent = nullptr;

inline std::string HexFlags(int32_t f) {
    char t[16];
    std::snprintf(t, sizeof t, "%X", static_cast<unsigned>(f));
    return t;
}

inline const OA_OPTABLE kXaTable = [] {
    OA_OPTABLE t{};
    t.DRV_XaOpen = [](uint32_t, int32_t one, const char* info, int32_t rmid, int32_t f) {
        g_agent->openInfo = info;
        return g_agent->Answer("Open", std::to_string(one) + " " + HexFlags(f), rmid);
    };
    t.DRV_XaClose = [](uint32_t, const char* info, int32_t rmid, int32_t f) {
        g_agent->closeInfo = info;
        return g_agent->Answer("Close", HexFlags(f), rmid);
    };
    t.DRV_XaStart = [](uint32_t, XID*, int32_t rmid, int32_t f) { return g_agent->Answer("Start", HexFlags(f), rmid); };
    t.DRV_XaEnd = [](uint32_t, XID*, int32_t rmid, int32_t f) { return g_agent->Answer("End", HexFlags(f), rmid); };
    t.DRV_XaPrepare = [](uint32_t, XID*, int32_t rmid, int32_t) { return g_agent->Answer("Prepare", "", rmid); };
    t.DRV_XaCommit = [](uint32_t, XID*, int32_t rmid, int32_t) { return g_agent->Answer("Commit", "", rmid); };
    t.DRV_XaRollback = [](uint32_t, XID*, int32_t rmid, int32_t) { return g_agent->Answer("Rollback", "", rmid); };
    t.DRV_XaForget = [](uint32_t, XID*, int32_t rmid, int32_t) { return g_agent->Answer("Forget", "", rmid); };
    t.DRV_XaRecover = [](uint32_t, XID*, int32_t count, int32_t rmid, int32_t) {
        return g_agent->Answer("Recover", std::to_string(count), rmid);
    };
    t.DRV_XaComplete = [](uint32_t, int32_t* handle, int32_t* result, int32_t rmid, int32_t) {
        *result = *handle + 1;
        return g_agent->Answer("Complete", std::to_string(*handle), rmid);
    };
    return t;
}();

// A connection's link to the fake agent, with the XA capability.
inline DTC_CONN_LINK XaLink() {
    DTC_CONN_LINK link;
    link.holder.ops = &kXaTable;
    link.agentConn = kAgentConn;
    link.hasXA = true;
    link.xaCallLock = std::make_shared<std::recursive_mutex>();
    link.callLock = std::make_shared<HandoffLock>();
    return link;
}

}  // namespace dtc_fixture
