// Out of memory at the C boundaries: the XA switch's entries, the enlistment sequence and
// the library's start-up. This program replaces operator new with one that fails from the
// calling thread's nth allocation on, and runs each boundary with n = 0, 1, 2, ... until a
// run needs no failure. Every run must answer, never throw, and give back what it took.
// A program of its own: the sanitizers' allocators cannot be replaced so. The fakes here
// allocate nothing, so that every failure is the driver's.
#include <gtest/gtest.h>
#include <sql.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "dtc/dispenser.h"
#include "dtc/dtc.h"
#include "dtc/xa_runtime.h"
#include "dtc/xa_switch.h"
#include "util/errcode.h"

extern "C" xa_switch_t tessaryn_xa_switch;
extern "C" int LibMain(void*, unsigned short, unsigned short, char*);
extern "C" int WEP(int);

namespace {
thread_local long t_allocationsLeft = -1;  // -1: none fails
thread_local bool t_failed = false;
}  // namespace

void* operator new(std::size_t size) {
    if (t_allocationsLeft == 0) {
        t_failed = true;
        throw std::bad_alloc();
    }
    if (t_allocationsLeft > 0)
        --t_allocationsLeft;
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Runs body with allocations failing from the nth on, n = 0, 1, ..., and hands each failed
// run's answer to failedRun. Returns the answer of the first run that needed no failure.
template <class Body, class FailedRun>
int UnderFailingAllocation(Body body, FailedRun failedRun) {
    for (long n = 0; n < 1000; ++n) {
        t_allocationsLeft = n;
        t_failed = false;
        int rc = 0;
        try {
            rc = body();
        } catch (...) {
            t_allocationsLeft = -1;
            ADD_FAILURE() << "an exception left the boundary with allocation " << n << " failing";
            return -999;
        }
        const bool failed = t_failed;
        t_allocationsLeft = -1;
        if (!failed)
            return rc;
        SCOPED_TRACE("allocation " + std::to_string(n) + " failed");
        failedRun(rc);
    }
    ADD_FAILURE() << "never ran without a failing allocation";
    return -999;
}

// ---- fakes that allocate nothing ----

std::atomic<int> g_opens{0}, g_closes{0}, g_envs{0}, g_dbcs{0};

const OA_OPTABLE kAgent = [] {
    OA_OPTABLE t{};
    t.DRV_XaOpen = [](uint32_t, int32_t, const char*, int32_t, int32_t) { return ++g_opens, XA_OK; };
    t.DRV_XaClose = [](uint32_t, const char*, int32_t, int32_t) { return ++g_closes, XA_OK; };
    t.DRV_XaStart = [](uint32_t, XID*, int32_t, int32_t) { return XA_OK; };
    t.DRV_XaEnd = [](uint32_t, XID*, int32_t, int32_t) { return XA_OK; };
    t.DRV_XaRollback = [](uint32_t, XID*, int32_t, int32_t) { return XA_OK; };
    return t;
}();

// Made before any run, so that handing it out copies shared pointers only.
DTC_CONN_LINK& Link() {
    static DTC_CONN_LINK link = [] {
        DTC_CONN_LINK l;
        l.holder.ops = &kAgent;
        l.agentConn = 7;
        l.hasXA = true;
        l.xaCallLock = std::make_shared<std::recursive_mutex>();
        l.callLock = std::make_shared<HandoffLock>();
        return l;
    }();
    return link;
}

char g_handle;
const XA_DM_API kDm = {
    [](SQLSMALLINT type, SQLHANDLE, SQLHANDLE* out) -> SQLRETURN {
        ++(type == SQL_HANDLE_ENV ? g_envs : g_dbcs);
        *out = &g_handle;
        return SQL_SUCCESS;
    },
    [](SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) -> SQLRETURN { return SQL_SUCCESS; },
    [](SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*, SQLUSMALLINT) -> SQLRETURN {
        return SQL_SUCCESS;
    },
    [](SQLHDBC, SQLUSMALLINT, SQLPOINTER value, SQLSMALLINT, SQLSMALLINT*) -> SQLRETURN {
        *static_cast<SQLHDBC*>(value) = &g_handle;
        return SQL_SUCCESS;
    },
    [](SQLHDBC) -> SQLRETURN { return SQL_SUCCESS; },
    [](SQLSMALLINT type, SQLHANDLE) -> SQLRETURN {
        --(type == SQL_HANDLE_ENV ? g_envs : g_dbcs);
        return SQL_SUCCESS;
    },
};

// The data source's values, as the driver's installer would read them.
int Profile(const char* section, const char* key, const char* def, char* buf, int size, const char*) {
    const char* value = std::strcmp(section, "XaSales") != 0 ? def
                        : std::strcmp(key, "Driver") == 0    ? "/opt/lib/libvarnodw.so"
                        : std::strcmp(key, "XaInfo") == 0    ? "sales-xa"
                                                             : def;
    std::snprintf(buf, static_cast<size_t>(size), "%s", value != nullptr ? value : "");
    return static_cast<int>(std::strlen(buf));
}
const DTC_HOST kHost = {Profile, nullptr, nullptr, nullptr, nullptr};

template <class I>
struct Counted : I {
    HRESULT QueryInterface(const TX_GUID&, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }
    std::atomic<int> refs{0};
};
struct Transaction : Counted<ITransaction> {};
struct Enlistment : Counted<ITransactionEnlistmentAsync> {
    HRESULT PrepareRequestDone(HRESULT, void*, void*) override { return S_OK; }
    HRESULT CommitRequestDone(HRESULT) override { return S_OK; }
    HRESULT AbortRequestDone(HRESULT) override { return S_OK; }
};
struct Pipe : Counted<IDtcToXaHelperSinglePipe> {
    HRESULT XARMCreate(const char*, const char*, uint32_t* cookie) override { return *cookie = 5, S_OK; }
    HRESULT ConvertTridToXID(ITransaction*, uint32_t, XID* xid) override {
        *xid = XID{};
        return S_OK;
    }
    HRESULT EnlistWithRM(uint32_t, ITransaction*, ITransactionResourceAsync* s,
                         ITransactionEnlistmentAsync** out) override {
        sink = s;
        sink->AddRef();
        enlistment.AddRef();
        *out = &enlistment;
        return S_OK;
    }
    void ReleaseRMCookie(uint32_t, bool) override {}
    ITransactionResourceAsync* sink = nullptr;
    Enlistment enlistment;
};
struct Manager : Counted<ITxUnknown> {
    HRESULT QueryInterface(const TX_GUID&, void** out) override {
        pipe.AddRef();
        *out = static_cast<IDtcToXaHelperSinglePipe*>(&pipe);
        return S_OK;
    }
    Pipe pipe;
};
Manager* g_manager = nullptr;

class BoundaryAlloc : public ::testing::Test {
protected:
    void SetUp() override {
        DtcSetHost(&kHost);
        XaSwitchSetSeams(&kDm, [](SQLHDBC, DTC_CONN_LINK* out) {
            *out = Link();
            return true;
        });
        g_opens = g_closes = 0;
    }
    void TearDown() override {
        XaSwitchSetSeams(nullptr, nullptr);
        DtcSetHost(nullptr);
    }
};

TEST_F(BoundaryAlloc, XaSwitchEntriesAnswerAndGiveBackWhatTheyTook) {
    const xa_switch_t& sw = tessaryn_xa_switch;
    char open[] = "DSN=XaSales;UID=ann;PWD=a rather long secret";
    XID xid{};
    int rc = UnderFailingAllocation([&] { return sw.xa_open_entry(open, 4, TMNOFLAGS); },
                                    [&](int failed) {
                                        EXPECT_EQ(failed, XAER_RMERR);
                                        EXPECT_EQ(g_envs, 0);
                                        EXPECT_EQ(g_dbcs, 0);
                                        EXPECT_EQ(g_opens, g_closes);
                                        EXPECT_EQ(sw.xa_start_entry(&xid, 4, TMNOFLAGS), XAER_RMERR);
                                    });
    ASSERT_EQ(rc, XA_OK);
    // The entries on an open rmid, its close included, need no memory.
    auto noFailure = [](int) { ADD_FAILURE() << "an entry needed memory"; };
    EXPECT_EQ(UnderFailingAllocation([&] { return sw.xa_start_entry(&xid, 4, TMNOFLAGS); }, noFailure), XA_OK);
    EXPECT_EQ(UnderFailingAllocation([&] { return sw.xa_end_entry(&xid, 4, TMSUCCESS); }, noFailure), XA_OK);
    EXPECT_EQ(UnderFailingAllocation([&] { return sw.xa_close_entry(open, 4, TMNOFLAGS); }, noFailure), XA_OK);
    EXPECT_EQ(g_envs, 0);
    EXPECT_EQ(g_dbcs, 0);
    EXPECT_EQ(g_opens, g_closes);
}

TEST_F(BoundaryAlloc, EnlistmentAnswersOutOfMemoryAndLeavesNothing) {
    Manager manager;
    g_manager = &manager;
    TxCoordInstall([](ITxUnknown** out) -> HRESULT {
        g_manager->AddRef();
        *out = g_manager;
        return S_OK;
    });
    Transaction transaction;
    DTC_ENLIST_TARGET target;
    target.odbcVersion = 3;
    target.connected = true;
    target.link = Link();
    target.dsn = "XaSales";
    target.user = "a user name past the short-string room";
    target.password = "a password past the short-string room";
    DTC_DISPENSER dispenser = nullptr;
    int32_t enlisted = 0;
    int rc = UnderFailingAllocation(
        [&] { return DtcSetEnlistment(&dispenser, &enlisted, target, &transaction); },
        [&](int failed) {
            EXPECT_TRUE(failed == ERR_MEMORY_ALLOCATION_FAILURE || failed == ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED)
                << failed;
            EXPECT_EQ(dispenser, nullptr);
            EXPECT_EQ(enlisted, 0);
            EXPECT_EQ(DtcLiveDispensers(), 0);
            EXPECT_EQ(transaction.refs, 0);
            EXPECT_EQ(manager.refs, 0);
            EXPECT_EQ(manager.pipe.refs, 0);
            EXPECT_EQ(g_opens, g_closes);
        });
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(enlisted, 1);
    // The coordinator's requests need no memory.
    auto noFailure = [](int) { ADD_FAILURE() << "a request needed memory"; };
    EXPECT_EQ(UnderFailingAllocation([&] { return manager.pipe.sink->AbortRequest(nullptr, false, nullptr); },
                                     noFailure),
              S_OK);
    EXPECT_EQ(DtcReleaseEnlistment(&dispenser, &enlisted), ERR_INVALID_TRANSACTION_STATE);
    manager.pipe.sink->Release();
    EXPECT_EQ(DtcLiveDispensers(), 0);
    EXPECT_EQ(g_opens, g_closes);
    TxCoordInstall(nullptr);
    g_manager = nullptr;
}

// The library's start: what its load-time constructor runs, through LibMain, with a trace
// configured so that the start-up has texts to allocate.
TEST(LibraryStart, AnswersUnderFailingAllocation) {
    std::string dir = (std::filesystem::temp_directory_path() / "varno-alloc-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    setenv("KVR_DEBUGFILE", (dir + "/a-trace-file-with-a-long-name.log").c_str(), 1);
    WEP(0);
    int rc = UnderFailingAllocation([] { return LibMain(nullptr, 0, 0, nullptr); },
                                    [](int failed) {
                                        EXPECT_TRUE(failed == 0 || failed == 1) << failed;
                                        WEP(0);
                                    });
    EXPECT_EQ(rc, 1);
    WEP(0);
    unsetenv("KVR_DEBUGFILE");
    std::filesystem::remove_all(dir);
}

}  // namespace
