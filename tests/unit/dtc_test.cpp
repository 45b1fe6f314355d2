// The resource dispenser and the enlistment sequence against a fake coordinator and an
// agent table with the XA slots: enlistment, the branch's prepare, commit, abort and
// TMDown with the call lock they hold, references, and the runtime's trace and names.
#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "conn_fixture.h"
#include "driver/frame/trace.h"
#include "dtc/dispenser.h"
#include "dtc/dtc.h"
#include "dtc/xa_runtime.h"
#include "dtc_fixture.h"
#include "trace_support.h"
#include "util/errcode.h"

namespace {

using namespace dtc_fixture;
using Calls = std::vector<std::string>;

// True when another thread could take the lock now.
bool FreeForOthers(HandoffLock& l) {
    return std::async(std::launch::async, [&l] {
               if (!l.try_lock())
                   return false;
               l.unlock();
               return true;
           }).get();
}

// A fake coordinator installed, a fake agent, and one connection's enlistment target.
class DtcTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_manager = &manager;
        g_managerHr = S_OK;
        g_agent = &agent;
        TxCoordInstall(FakeProvider);
        target.odbcVersion = 3;
        target.connected = true;
        target.link = XaLink();
        target.dsn = "XaSales";
        target.user = "ann";
        target.password = "p}w;d";
        agent.xaCallLock = target.link.xaCallLock.get();
    }
    void TearDown() override {
        if (dispenser != nullptr)
            DtcReleaseEnlistment(&dispenser, &enlisted);
        if (ITransactionResourceAsync* sink = manager.pipe.sink) {
            manager.pipe.sink = nullptr;
            sink->Release();  // the coordinator lets go at the end of the transaction
        }
        EXPECT_EQ(DtcLiveDispensers(), 0);
        EXPECT_EQ(transaction.refs, 0);
        EXPECT_EQ(manager.refs, 0);
        EXPECT_EQ(manager.pipe.refs, 0);
        EXPECT_EQ(manager.pipe.enlistment.refs, 0);
        EXPECT_TRUE(agent.lockAlwaysHeld);
        TxCoordInstall(nullptr);
        g_agent = nullptr;
        g_manager = nullptr;
    }

    int Enlist() { return DtcSetEnlistment(&dispenser, &enlisted, target, &transaction); }
    ITransactionResourceAsync* Sink() { return manager.pipe.sink; }
    int32_t State() { return static_cast<COdbcResourceDispenser*>(dispenser)->State(); }

    FakeManager manager;
    FakeXaAgent agent;
    FakeTransaction transaction;
    DTC_ENLIST_TARGET target;
    DTC_DISPENSER dispenser = nullptr;
    int32_t enlisted = 0;
};

TEST_F(DtcTest, EnlistingOpensStartsAndEnlistsTheBranch) {
    ASSERT_EQ(Enlist(), 0);
    EXPECT_EQ(enlisted, 1);
    EXPECT_EQ(agent.TakeCalls(), (Calls{"Open 1 0", "Start 0"}));
    EXPECT_EQ(agent.openInfo, "sales-xa");
    // The values are braced: a '}' is doubled and a ';' cannot start a keyword.
    EXPECT_EQ(manager.pipe.connectText, "DSN={XaSales};UID={ann};PWD={p}}w;d};");
    EXPECT_EQ(manager.pipe.clientLibrary, "libVarnodW.so");  // split on '/', case kept
    EXPECT_EQ(State(), DTC_BRANCH_STARTED);
    EXPECT_EQ(manager.refs, 0);  // the manager is let go once the pipe is had

    // Each open gets an id of its own, even within one clock tick.
    const int first = agent.rmids[0];
    DTC_DISPENSER second = nullptr;
    int32_t secondEnlisted = 0;
    FakeManager otherManager;
    g_manager = &otherManager;
    ASSERT_EQ(DtcSetEnlistment(&second, &secondEnlisted, target, &transaction), 0);
    EXPECT_NE(agent.rmids.back(), first);
    EXPECT_EQ(otherManager.pipe.sink->Release(), 1u);
    EXPECT_EQ(DtcReleaseEnlistment(&second, &secondEnlisted), 0);
    g_manager = &manager;

    // Enlisting again while enlisted is refused, and asks nobody anything.
    agent.TakeCalls();
    FakeTransaction other;
    EXPECT_EQ(DtcSetEnlistment(&dispenser, &enlisted, target, &other), ERR_INVALID_TRANSACTION_STATE);
    EXPECT_EQ(agent.TakeCalls(), Calls{});
    EXPECT_EQ(other.refs, 0);
}

// The refusals that come before the dispenser, and the failures that free it again.
TEST_F(DtcTest, RefusalsAndFailuresLeaveNothingBehind) {
    struct Case {
        const char* name;
        uint32_t odbcVersion = 3;
        bool hasXA = true, connected = true;
        const char* dsn = "XaSales";
        HRESULT managerHr = S_OK, createHr = S_OK, convertHr = S_OK;
        int openRc = XA_OK, startRc = XA_OK;
        int expected;
        Calls calls = {};
    };
    const Case cases[] = {
        {.name = "ODBC 2", .odbcVersion = 2, .expected = ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {.name = "no XA", .hasXA = false, .expected = ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {.name = "no XA before not connected", .hasXA = false, .connected = false,
         .expected = ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {.name = "not connected", .connected = false, .expected = ERR_CONNECTION_NOT_OPEN},
        {.name = "no coordinator", .managerHr = XACT_E_TMNOTAVAILABLE,
         .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED},
        {.name = "XaInfo too long", .dsn = "XaLong", .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED},
        {.name = "XA open fails", .openRc = XAER_RMERR, .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED,
         .calls = {"Open 1 0"}},
        {.name = "no driver library", .dsn = "XaNoDriver", .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED,
         .calls = {"Open 1 0", "Close 0"}},
        {.name = "XARMCreate fails", .createHr = E_FAIL, .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED,
         .calls = {"Open 1 0", "Close 0"}},
        {.name = "no XID", .convertHr = E_FAIL, .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED,
         .calls = {"Open 1 0", "Close 0"}},
        {.name = "XA start fails", .startRc = XAER_PROTO, .expected = ERR_ENLISTMENT_IN_DTC_TRANSACTION_FAILED,
         .calls = {"Open 1 0", "Start 0", "Close 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target.odbcVersion = c.odbcVersion;
        target.link.hasXA = c.hasXA;
        target.connected = c.connected;
        target.dsn = c.dsn;
        g_managerHr = c.managerHr;
        manager.pipe.createHr = c.createHr;
        manager.pipe.convertHr = c.convertHr;
        agent.results = {{"Open", {c.openRc}}, {"Start", {c.startRc}}};
        EXPECT_EQ(Enlist(), c.expected);
        EXPECT_EQ(dispenser, nullptr);
        EXPECT_EQ(enlisted, 0);
        EXPECT_EQ(agent.TakeCalls(), c.calls);
        EXPECT_EQ(DtcLiveDispensers(), 0);
        EXPECT_EQ(manager.pipe.refs, 0);
        EXPECT_EQ(transaction.refs, 0);
    }
    // Un-enlisting a connection that is not enlisted.
    target.link.hasXA = true;
    target.connected = true;
    EXPECT_EQ(DtcSetEnlistment(&dispenser, &enlisted, target, nullptr), ERR_INVALID_TRANSACTION_STATE);
}

TEST_F(DtcTest, DriverLibraryNameAndXaInfoEdges) {
    EXPECT_EQ(DtcDriverLibraryName("XaSales"), "libVarnodW.so");
    EXPECT_EQ(DtcDriverLibraryName("XaNamed"), "libXaNamed.so");  // through its odbcinst.ini section
    EXPECT_EQ(DtcDriverLibraryName("XaNoDriver"), "");
    char info[XA_INFO_SIZE];
    EXPECT_EQ(XaInfoLookup("XaFits", info, sizeof info), 1);
    EXPECT_EQ(std::strlen(info), 255u);
    EXPECT_EQ(XaInfoLookup("XaLong", info, sizeof info), 0);  // detected, never cut
    EXPECT_EQ(XaInfoLookup("XaNamed", info, sizeof info), 1);
    EXPECT_STREQ(info, "");
    EXPECT_EQ(XaInfoLookup("XaSales", info, 0), 0);
}

// One step of a branch's life: the coordinator's request, what the agent answers, and what
// follows.
struct Step {
    char request;  // P prepare, C commit, A abort, D TMDown
    std::map<std::string, std::deque<int>> answers;
    HRESULT hr;
    Calls calls;
    int32_t state;
    bool callLockHeld;
    const char* reply;  // null for TMDown, which has none
};

TEST_F(DtcTest, BranchRequestsFollowTheirTables) {
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"prepare then commit",
         {{'P', {}, S_OK, {"End 4000000", "Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'C', {}, S_OK, {"Commit"}, 0, false, "CommitRequestDone 00000000"}}},
        {"read-only prepare takes no lock",
         {{'P', {{"Prepare", {XA_RDONLY}}}, XACT_S_READONLY, {"End 4000000", "Prepare"}, 0, false,
           "PrepareRequestDone 0004D002"}}},
        {"an ended branch goes straight to prepare",
         {{'P', {{"Prepare", {XAER_RMERR, XA_OK}}}, E_FAIL, {"End 4000000", "Prepare"}, 2, false,
           "PrepareRequestDone 80004005"},
          {'P', {}, S_OK, {"Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'A', {}, S_OK, {"Rollback"}, 0, false, "AbortRequestDone 00000000"}}},
        {"nothing to prepare after the commit",
         {{'P', {}, S_OK, {"End 4000000", "Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'C', {}, S_OK, {"Commit"}, 0, false, "CommitRequestDone 00000000"},
          {'P', {}, E_FAIL, {}, 0, false, "PrepareRequestDone 80004005"}}},
        {"a failed end leaves the branch started",
         {{'P', {{"End", {XAER_RMFAIL}}}, E_FAIL, {"End 4000000"}, 1, false, "PrepareRequestDone 80004005"}}},
        {"commit to retry keeps the lock",
         {{'P', {}, S_OK, {"End 4000000", "Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'C', {{"Commit", {XA_RETRY, XA_OK}}}, E_FAIL, {"Commit"}, 3, true, "CommitRequestDone 80004005"},
          {'C', {}, S_OK, {"Commit"}, 0, false, "CommitRequestDone 00000000"}}},
        {"heuristic commit",
         {{'P', {}, S_OK, {"End 4000000", "Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'C', {{"Commit", {XA_HEURMIX}}}, E_FAIL, {"Commit"}, 5, false, "CommitRequestDone 80004005"},
          {'P', {}, E_FAIL, {}, 5, false, "PrepareRequestDone 80004005"}}},
        {"failed commit",
         {{'P', {}, S_OK, {"End 4000000", "Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'C', {{"Commit", {XAER_RMFAIL}}}, E_FAIL, {"Commit"}, 0, false, "CommitRequestDone 80004005"}}},
        {"abort of a started branch ends it first",
         {{'A', {}, S_OK, {"End 4000000", "Rollback"}, 0, false, "AbortRequestDone 00000000"}}},
        {"heuristic abort",
         {{'A', {{"Rollback", {XA_HEURRB}}}, E_FAIL, {"End 4000000", "Rollback"}, 5, false,
           "AbortRequestDone 80004005"}}},
        {"TMDown releases a prepared branch",
         {{'P', {}, S_OK, {"End 4000000", "Prepare"}, 3, true, "PrepareRequestDone 00000000"},
          {'D', {}, S_OK, {"Rollback"}, 0, false, nullptr}}},
        {"failed TMDown",
         {{'D', {{"Rollback", {XAER_NOTA}}}, E_FAIL, {"Rollback"}, 0, false, nullptr}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Enlist(), 0);
        agent.TakeCalls();
        for (const Step& s : c.steps) {
            SCOPED_TRACE(std::string(1, s.request));
            agent.results = s.answers;
            const size_t replies = manager.pipe.enlistment.Replies().size();
            HRESULT hr = s.request == 'P'   ? Sink()->PrepareRequest(false, 0, false, true)
                         : s.request == 'C' ? Sink()->CommitRequest(0, nullptr)
                         : s.request == 'A' ? Sink()->AbortRequest(nullptr, false, nullptr)
                                            : Sink()->TMDown();
            EXPECT_EQ(hr, s.hr);
            EXPECT_EQ(agent.TakeCalls(), s.calls);
            EXPECT_EQ(State(), s.state);
            EXPECT_EQ(!FreeForOthers(*target.link.callLock), s.callLockHeld);
            const auto all = manager.pipe.enlistment.Replies();
            ASSERT_EQ(all.size(), replies + (s.reply != nullptr ? 1 : 0));
            if (s.reply != nullptr) {
                EXPECT_EQ(all.back(), s.reply);
            }
        }
        // The connection lets go; the coordinator lets go of the sink at the end.
        EXPECT_EQ(DtcReleaseEnlistment(&dispenser, &enlisted), ERR_INVALID_TRANSACTION_STATE);
        manager.pipe.sink->Release();
        manager.pipe.sink = nullptr;
        EXPECT_TRUE(FreeForOthers(*target.link.callLock));
        EXPECT_EQ(DtcLiveDispensers(), 0);
        agent.TakeCalls();
        manager.pipe.enlistment.replies.clear();
    }
}

// A coordinator may call back from inside any of its calls, from a worker thread that it
// waits for. No lock is held across those calls, so every request is answered at once;
// one made during the enlistment, before the coordinator has handed the enlistment over,
// is answered once it has.
TEST_F(DtcTest, CoordinatorCallingBackFromInsideItsCallsIsAnswered) {
    const struct {
        const char* name;
        std::vector<char> requests;  // made by the test after the enlistment
        const char* inside;          // the coordinator's call the call back comes from
        char callBack;
        Calls calls;  // the agent's, after the enlistment's open and start
        Calls replies;
        int32_t state;
        bool callLockHeld;
    } cases[] = {
        {"commit inside the prepare's reply", {'P'}, "PrepareRequestDone", 'C', {"End 4000000", "Prepare", "Commit"},
         {"PrepareRequestDone 00000000", "CommitRequestDone 00000000"}, DTC_BRANCH_NONE, false},
        {"abort inside the prepare's reply", {'P'}, "PrepareRequestDone", 'A', {"End 4000000", "Prepare", "Rollback"},
         {"PrepareRequestDone 00000000", "AbortRequestDone 00000000"}, DTC_BRANCH_NONE, false},
        {"TMDown inside the commit's reply", {'P', 'C'}, "CommitRequestDone", 'D',
         {"End 4000000", "Prepare", "Commit", "Rollback"},
         {"PrepareRequestDone 00000000", "CommitRequestDone 00000000"}, DTC_BRANCH_NONE, false},
        {"abort during the enlistment", {}, "EnlistWithRM", 'A', {"End 4000000", "Rollback"},
         {"AbortRequestDone 00000000"}, DTC_BRANCH_NONE, false},
        {"prepare during the enlistment", {}, "EnlistWithRM", 'P', {"End 4000000", "Prepare"},
         {"PrepareRequestDone 00000000"}, DTC_BRANCH_PREPARED, true},
    };
    auto request = [this](char r) {
        return r == 'P'   ? Sink()->PrepareRequest(false, 0, false, false)
               : r == 'C' ? Sink()->CommitRequest(0, nullptr)
               : r == 'A' ? Sink()->AbortRequest(nullptr, false, nullptr)
                          : Sink()->TMDown();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            CallBacks backs;
            manager.pipe.enlistment.callBacks = &backs;
            backs.Inside(c.inside, [&] { EXPECT_TRUE(SUCCEEDED(request(c.callBack))); });
            ASSERT_EQ(Enlist(), 0);
            for (char r : c.requests)
                EXPECT_EQ(request(r), S_OK);
            EXPECT_TRUE(backs.AllInTime());
        }  // every call back has finished
        manager.pipe.enlistment.callBacks = nullptr;
        Calls calls = {"Open 1 0", "Start 0"};
        calls.insert(calls.end(), c.calls.begin(), c.calls.end());
        EXPECT_EQ(agent.TakeCalls(), calls);
        EXPECT_EQ(manager.pipe.enlistment.Replies(), c.replies);
        EXPECT_EQ(State(), c.state);
        EXPECT_EQ(!FreeForOthers(*target.link.callLock), c.callLockHeld);

        EXPECT_EQ(DtcReleaseEnlistment(&dispenser, &enlisted), ERR_INVALID_TRANSACTION_STATE);
        manager.pipe.sink->Release();
        manager.pipe.sink = nullptr;
        EXPECT_TRUE(FreeForOthers(*target.link.callLock));
        agent.TakeCalls();
        manager.pipe.enlistment.replies.clear();
    }
}

// Releasing the last reference of a started or prepared branch ends it with TMFAIL, gives
// the call lock back and closes the resource manager, whoever held the last reference.
TEST_F(DtcTest, LastReleaseEndsTheBranchAndClosesTheResourceManager) {
    ASSERT_EQ(Enlist(), 0);
    const int rmid = agent.rmids[0];
    agent.TakeCalls();
    ITransactionResourceAsync* sink = Sink();
    manager.pipe.sink = nullptr;
    // The connection goes first (a refused close); the coordinator still holds the sink.
    EXPECT_EQ(DtcReleaseEnlistment(&dispenser, &enlisted), ERR_INVALID_TRANSACTION_STATE);
    EXPECT_EQ(dispenser, nullptr);
    EXPECT_EQ(DtcLiveDispensers(), 1);
    EXPECT_EQ(sink->Release(), 0u);
    EXPECT_EQ(agent.TakeCalls(), (Calls{"End 20000000", "Close 0"}));
    EXPECT_EQ(agent.rmids.back(), rmid);
    EXPECT_EQ(agent.closeInfo, "sales-xa");
    EXPECT_EQ(manager.pipe.releasedCookie, 77u);

    // A prepared branch whose coordinator lets go without a word opens the connection again.
    ASSERT_EQ(Enlist(), 0);
    ASSERT_EQ(Sink()->PrepareRequest(false, 0, false, false), S_OK);
    ASSERT_FALSE(FreeForOthers(*target.link.callLock));
    agent.TakeCalls();
    EXPECT_EQ(DtcReleaseEnlistment(&dispenser, &enlisted), ERR_INVALID_TRANSACTION_STATE);
    Sink()->Release();
    manager.pipe.sink = nullptr;
    EXPECT_EQ(agent.TakeCalls(), (Calls{"Close 0"}));
    EXPECT_TRUE(FreeForOthers(*target.link.callLock));
}

TEST_F(DtcTest, HandlesAndInterfaces) {
    // Handles that name no live dispenser are refused, not followed.
    EXPECT_EQ(ReleaseResourceDispenser(nullptr), -1);
    EXPECT_EQ(ResourceDispenserRMConnect(nullptr), -1);
    EXPECT_EQ(ResourceDispenserRMEnlist(nullptr), -1);
    DTC_DISPENSER d = NewResourceDispenser(&transaction, target.link, "XaSales", "ann", "pw");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(ResourceDispenserRMEnlist(d), -1);  // not connected to the coordinator yet
    EXPECT_EQ(ReleaseResourceDispenser(d), 0);
    EXPECT_EQ(ReleaseResourceDispenser(d), -1);
    EXPECT_EQ(ResourceDispenserRMConnect(d), -1);

    ASSERT_EQ(Enlist(), 0);
    auto* disp = static_cast<COdbcResourceDispenser*>(dispenser);
    void* out = nullptr;
    ASSERT_EQ(disp->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<ITxUnknown*>(disp));
    EXPECT_EQ(disp->Release(), 2u);
    ASSERT_EQ(Sink()->QueryInterface(IID_ITransactionResourceAsync, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(Sink()));
    EXPECT_EQ(Sink()->Release(), 2u);
    out = &out;
    EXPECT_EQ(disp->QueryInterface(IID_IDtcToXaHelperSinglePipe, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(disp->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
}

// What a call on the connection saw when its handler ran.
struct ProbeSeen {
    std::latch* ran;
    std::atomic<bool>* committed;
    bool sawCommitted;
};
ProbeSeen g_probe{};
SQLRETURN Probe(HANDLE_HDR*, const NoArgs&) {
    g_probe.sawCommitted = g_probe.committed->load();
    g_probe.ran->count_down();
    return SQL_SUCCESS;
}
constexpr auto kProbeRec = MakeCall<Probe>("Probe", "", 1, CALL_KIND_DBC);

// A prepared branch closes the connection to ODBC calls until a commit from another
// thread opens it again.
TEST_F(DtcTest, PreparedBranchHoldsTheConnectionUntilCommitOnAnotherThread) {
    conn_fixture::FakeAgent fake;
    conn_fixture::g_fake = &fake;
    static OA_OPTABLE table;
    table = conn_fixture::kFakeTable;
    table.DRV_XaOpen = kXaTable.DRV_XaOpen;
    table.DRV_XaStart = kXaTable.DRV_XaStart;
    table.DRV_XaEnd = kXaTable.DRV_XaEnd;
    table.DRV_XaPrepare = kXaTable.DRV_XaPrepare;
    table.DRV_XaCommit = kXaTable.DRV_XaCommit;
    table.DRV_XaClose = kXaTable.DRV_XaClose;
    table.DRV_XaRollback = kXaTable.DRV_XaRollback;
    ASSERT_EQ(DrvGlobalInit(), 0);
    ConnSetOpTableBinder([](OA_OPHOLDER* h) {
        h->state = 0;
        h->ops = &table;
        return 0;
    });
    fake.props = {{OA_PROP_CAPABILITIES, 0x2000}};
    CONN* conn = nullptr;
    ENVR* envr = nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
        envr = EnvrAlloc();
        envr->odbcVersion = 3;
        EnvrOpen(envr);
        ASSERT_EQ(hdl_Add(&Drv().envTable, &envr->id, envr), 0);
        SQLHANDLE h = nullptr;
        ASSERT_EQ(DoAllocConnect(envr, OutHandleArgs{&h}), SQL_SUCCESS);
        conn = static_cast<CONN*>(hdl_Lookup(&Drv().connTable, HandleId(h)));
    }
    conn->dsn = "XaSales";
    conn->user = "ann";
    ConnOpen(conn, 'A');
    ASSERT_EQ(conn->state, CONN_CONNECTED);
    agent.xaCallLock = conn->xaCallLock.get();
    ASSERT_EQ(ConnSetDtcEnlistment(conn, &transaction), 0);
    ASSERT_EQ(conn->dtcEnlisted, 1);

    std::thread([&] { EXPECT_EQ(Sink()->PrepareRequest(false, 0, false, false), S_OK); }).join();

    std::latch ran(1);
    std::atomic<bool> committed{false};
    g_probe = ProbeSeen{&ran, &committed, false};
    std::thread caller([&] { EXPECT_EQ(CallODBC(kProbeRec, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS); });
    // The caller is in: claimed the connection, waiting for the call lock.
    while (true) {
        std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
        if (conn->callGate.busy != nullptr)
            break;
    }
    EXPECT_FALSE(ran.try_wait());
    std::thread([&] {
        committed = true;
        EXPECT_EQ(Sink()->CommitRequest(0, nullptr), S_OK);
    }).join();
    ran.wait();
    caller.join();
    EXPECT_TRUE(g_probe.sawCommitted);  // the call ran only after the commit

    // The connection's close drops its reference while the coordinator holds the sink:
    // refused, and a later request still finds live locks.
    {
        std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
        EXPECT_EQ(ConnClose(conn), ERR_INVALID_TRANSACTION_STATE);
    }
    EXPECT_EQ(conn->dtcDispenser, nullptr);
    DrvGlobalTerm();  // the connection goes for good
    EXPECT_EQ(Sink()->AbortRequest(nullptr, false, nullptr), S_OK);
    manager.pipe.sink->Release();
    manager.pipe.sink = nullptr;
    ConnSetOpTableBinder(nullptr);
    conn_fixture::g_fake = nullptr;
}

TEST(DtcRuntime, TraceNames) {
    EXPECT_STREQ(XaCodeName(XA_RETRY), "XA_RETRY");
    EXPECT_STREQ(XaCodeName(107), "XA_RBTRANSIENT");
    EXPECT_STREQ(XaCodeName(-9), "XAER_OUTSIDE");
    EXPECT_STREQ(XaCodeName(104), "Unknown");
    EXPECT_STREQ(HResultName(XACT_E_TMNOTAVAILABLE), "XACT_E_TMNOTAVAILABLE");
    EXPECT_STREQ(HResultName(Hr(0x80044002)), "E_KVR_DSN2HNDL_FAIL");
    EXPECT_STREQ(HResultName(Hr(0x80044001)), "Unknown!");
    EXPECT_EQ(InterfaceName(IID_IUnknown), "IID_IUnknown");
    EXPECT_EQ(InterfaceName(TX_GUID{0x0A1B2C3D, 0x4E5F, 0x0607, {0x08, 0x09, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}}),
              "{0A1B2C3D-4E5F-0607-0809-AABBCCDDEEFF}");
    // Without a coordinator installed the transaction manager is not available.
    dtc_fixture::FakeManager fake;
    ITxUnknown* manager = &fake;
    EXPECT_EQ(TxGetTransactionManager(&manager), XACT_E_TMNOTAVAILABLE);
    EXPECT_EQ(manager, nullptr);
}

}  // namespace
