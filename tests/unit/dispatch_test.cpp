// The call dispatcher through test records: handle validation, the busy rules, clearing
// of diagnostics, locks released on every path, and the trace argument formatter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <string>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/handlers/lifecycle.h"
#include "driver/library/library.h"
#include "driver/objects/envr.h"
#include "driver/objects/desc.h"
#include "util/errcode.h"

namespace {

// True when another thread can take the lock right now.
template <class Mutex>
bool FreeForOthers(Mutex& m) {
    return std::async(std::launch::async, [&m] {
               std::unique_lock<Mutex> l(m, std::try_to_lock);
               return l.owns_lock();
           }).get();
}

SQLRETURN Succeed(HANDLE_HDR*, const NoArgs&) { return SQL_SUCCESS; }
SQLRETURN SucceedWithInfo(HANDLE_HDR*, const NoArgs&) { return SQL_SUCCESS_WITH_INFO; }
SQLRETURN ThrowOutOfMemory(HANDLE_HDR*, const NoArgs&) { throw std::bad_alloc(); }
SQLRETURN ThrowOther(HANDLE_HDR*, const NoArgs&) { throw std::runtime_error("x"); }

// Arguments of the test call that shows what reached the handler.
struct StoreArgsArgs {
    int a;
    int16_t b;
    const char* text;
    auto TraceFields() const { return std::tuple(a, b, text); }
};
// Sums its arguments into the object's error code, to show what reached the handler.
SQLRETURN StoreArgs(HANDLE_HDR* h, const StoreArgsArgs& a) {
    h->diag.errCode = a.a * 100 + a.b;
    return a.text[0] == 'x' ? SQL_SUCCESS : SQL_ERROR;
}

// Blocks inside the handler until the test lets it go.
std::latch* g_entered = nullptr;
std::latch* g_release = nullptr;
SQLRETURN Block(HANDLE_HDR*, const NoArgs&) {
    g_entered->count_down();
    g_release->wait();
    return SQL_SUCCESS;
}

// Closes the connection for good: the dispatcher unregisters and deletes it after the call.
SQLRETURN FreeConnection(HANDLE_HDR* h, const NoArgs&) {
    static_cast<CONN*>(h)->callGate.releaseAfterCall = true;
    return SQL_SUCCESS;
}

// Frees the statement it runs on as SQLFreeHandle does: unregistered and marked inside the
// handler, destroyed when the claim ends.
SQLRETURN FreeStatement(HANDLE_HDR* h, const NoArgs&) {
    hdl_Remove(&Drv().stmtTable, h->id);
    h->magic = FREED_MAGIC;
    GateDefer(h->gate, h, [](HANDLE_HDR* r) { delete static_cast<STMT*>(r); });
    return SQL_SUCCESS;
}

// Frees the connection and every statement on it (a disconnect and SQLFreeHandle in one).
std::vector<STMT*>* g_ownStatements = nullptr;
SQLRETURN FreeConnectionAndStatements(HANDLE_HDR* h, const NoArgs& a) {
    for (STMT* s : *g_ownStatements)
        FreeStatement(s, a);
    static_cast<CONN*>(h)->callGate.releaseAfterCall = true;
    return SQL_SUCCESS;
}

// Hands the call lock out as an enlistment does; reports whether the handler then holds it.
bool g_callLockHeldAfterSharing = false;
SQLRETURN ShareCallLock(HANDLE_HDR* h, const NoArgs&) {
    std::shared_ptr<HandoffLock> lock = GateShareCallLock(h->gate);
    g_callLockHeldAfterSharing = !FreeForOthers(*lock);
    return SQL_SUCCESS;
}

SQLRETURN PostError(HANDLE_HDR* h, const NoArgs&) {
    h->diag.messages.push_back({"Failover completed.", 1});
    h->diag.messages.push_back({"other", 2});
    return SQL_ERROR;
}

// Blocks until released, then leaves code 77 on the connection.
SQLRETURN BlockThenPost(HANDLE_HDR* h, const NoArgs& a) {
    Block(h, a);
    h->diag.errCode = 77;
    return SQL_ERROR;
}

// A diagnostic handler: hands the connection's code out through its argument.
struct ReadCodeArgs {
    int* code;
    auto TraceFields() const { return std::tuple(code); }
};
SQLRETURN ReadCode(HANDLE_HDR* h, const ReadCodeArgs& a) {
    *a.code = h->diag.errCode;
    return SQL_SUCCESS;
}

// What an environment walk saw of each connection it worked on.
struct WalkSeen {
    int visits = 0;
    bool claimed = false, callLocked = false, dbLocked = false, handleLockFree = false;
    std::atomic<bool>* runningCallDone = nullptr;
    bool afterRunningCall = false;
};

bool Observe(CONN* c, void* context) {
    auto* seen = static_cast<WalkSeen*>(context);
    ++seen->visits;
    seen->claimed = c->callGate.busy == c->envr;
    seen->callLocked = !FreeForOthers(c->callGate.CallLock());
    seen->dbLocked = !FreeForOthers(Drv().dbLock);
    seen->handleLockFree = FreeForOthers(Drv().handleLock);
    seen->afterRunningCall = seen->runningCallDone->load();
    return false;
}

WalkSeen* g_walkSeen = nullptr;
SQLRETURN Walk(HANDLE_HDR* h, const NoArgs&) {
    EnvrForEachConnection(static_cast<ENVR*>(h), Observe, g_walkSeen);
    return SQL_SUCCESS;
}

constexpr auto kEnvRec = MakeCall<Succeed>("EnvCall", "", 1, CALL_KIND_ENV);
constexpr auto kEnvWalkRec = MakeCall<Walk>("Walk", "", 1, CALL_KIND_ENV);
constexpr auto kConnBlockPostRec = MakeCall<BlockThenPost>("BlockPost", "", 1, CALL_KIND_DBC);
constexpr auto kReadCodeRec = MakeCall<ReadCode>("GetDiagField", "", 0, CALL_KIND_DBC);
constexpr auto kConnRec = MakeCall<Succeed>("ConnCall", "", 1, CALL_KIND_DBC);
constexpr auto kConnKeepRec = MakeCall<Succeed>("GetDiagRec", "", 0, CALL_KIND_DBC);
constexpr auto kStmtRec = MakeCall<Succeed>("StmtCall", "", 1, CALL_KIND_STMT);
constexpr auto kStmtArgsRec = MakeCall<StoreArgs>("Args", "a=%d b=%d", 1, CALL_KIND_STMT);
constexpr auto kStmtBlockRec = MakeCall<Block>("Block", "", 1, CALL_KIND_STMT);
constexpr auto kConnBlockRec = MakeCall<Block>("BlockConn", "", 1, CALL_KIND_DBC);
constexpr auto kDescRec = MakeCall<Succeed>("DescCall", "", 1, CALL_KIND_DESC);
constexpr auto kFreeConnRec = MakeCall<FreeConnection>("FreeConnect", "", 1, CALL_KIND_DBC);
constexpr auto kFreeStmtRec = MakeCall<FreeStatement>("FreeStmt", "", 1, CALL_KIND_STMT);
constexpr auto kFreeConnAndStmtsRec = MakeCall<FreeConnectionAndStatements>("FreeConnect", "", 1, CALL_KIND_DBC);
constexpr auto kShareCallLockRec = MakeCall<ShareCallLock>("Enlist", "", 1, CALL_KIND_DBC);
constexpr auto kFailoverRec = MakeCall<PostError>("Failover", "", 1, CALL_KIND_DBC);
constexpr auto kCancelRec = MakeCallWhileRunning<DoCancel, DoCancelRunning>("Cancel", "", 1, CALL_KIND_STMT);
constexpr auto kBadKindRec = MakeCall<Succeed>("Bad", "", 1, 9);

int g_failoverAction = 0;
int RecordFailover(int action, void*, int) {
    g_failoverAction = action;
    return 0;
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DrvGlobalInit(), 0);
        DRV_GLOBALS& g = Drv();
        envr = new ENVR;
        envr->state = ENVR_OPEN;
        ASSERT_EQ(hdl_Add(&g.envTable, &envr->id, static_cast<HANDLE_HDR*>(envr)), 0);
        envr->next = g.envList;
        g.envList = envr;
        conn = new CONN;
        conn->envr = envr;
        envr->conns = conn;
        ASSERT_EQ(hdl_Add(&g.connTable, &conn->id, static_cast<HANDLE_HDR*>(conn)), 0);
        for (STMT*& s : stmts) {
            s = new STMT(conn);
            ASSERT_EQ(hdl_Add(&g.stmtTable, &s->id, static_cast<HANDLE_HDR*>(s)), 0);
        }
        desc = new DESC(nullptr, stmts[0]);
        ASSERT_EQ(hdl_Add(&g.descTable, &desc->id, static_cast<HANDLE_HDR*>(desc)), 0);
    }

    void TearDown() override {
        DRV_GLOBALS& g = Drv();
        for (STMT* s : stmts) {
            hdl_Remove(&g.stmtTable, s->id);
            delete s;
        }
        hdl_Remove(&g.descTable, desc->id);
        delete desc;
        DrvGlobalTerm();  // releases the environment and its connections
    }

    // True when another thread can take the handle lock right now.
    static bool HandleLockFree() {
        return std::async(std::launch::async, [] {
                   std::unique_lock<std::recursive_mutex> l(Drv().handleLock, std::try_to_lock);
                   return l.owns_lock();
               }).get();
    }

    ENVR* envr = nullptr;
    CONN* conn = nullptr;
    STMT* stmts[2] = {};
    DESC* desc = nullptr;
};

TEST_F(DispatchTest, RefusesEveryCallBeforeStartUp) {
    uint32_t envId = envr->id;
    uint32_t stmtId = stmts[0]->id;
    DrvGlobalTerm();  // frees the environment and its connection
    EXPECT_EQ(CallODBC(kEnvRec, HandleFromId(envId), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmtId), NoArgs{}), SQL_ERROR);
    ASSERT_EQ(DrvGlobalInit(), 0);
    // Fresh tables: the old ids name nothing any more.
    EXPECT_EQ(CallODBC(kEnvRec, HandleFromId(envId), NoArgs{}), SQL_INVALID_HANDLE);
    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmtId), NoArgs{}), SQL_INVALID_HANDLE);
}

TEST_F(DispatchTest, InvalidHandlesOfEveryKind) {
    struct Case {
        const CallRec<NoArgs>* rec;
        SQLHANDLE handle;
    } cases[] = {
        {&kEnvRec, HandleFromId(conn->id)},        // wrong kind
        {&kConnRec, HandleFromId(envr->id)},
        {&kStmtRec, HandleFromId(0x00030063)},     // unknown slot
        {&kDescRec, nullptr},
        {&kStmtRec, reinterpret_cast<SQLHANDLE>(uintptr_t{0x1'0003'0000})},  // not a 32-bit id
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CallODBC(*c.rec, c.handle, NoArgs{}), SQL_INVALID_HANDLE) << c.rec->rec.name;
        EXPECT_TRUE(HandleLockFree());
    }
    stmts[1]->magic = FREED_MAGIC;
    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmts[1]->id), NoArgs{}), SQL_INVALID_HANDLE);
    stmts[1]->magic = STMT_MAGIC;
    EXPECT_EQ(CallODBC(kBadKindRec, nullptr, NoArgs{}), SQL_ERROR);
}

TEST_F(DispatchTest, ArgumentsReachTheHandlerInOrder) {
    const char text[] = "x";
    EXPECT_EQ(CallODBC(kStmtArgsRec, HandleFromId(stmts[0]->id), StoreArgsArgs{7, -3, text}), SQL_SUCCESS);
    EXPECT_EQ(stmts[0]->diag.errCode, 697);
    EXPECT_EQ(conn->callGate.busy, nullptr);
}

TEST_F(DispatchTest, ClearFlagDecidesWhetherDiagnosticsSurvive) {
    conn->diag.errCode = ERR_GENERAL_ERROR;
    conn->diag.messages.push_back({"queued", 5});
    EXPECT_EQ(CallODBC(kConnKeepRec, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(conn->diag.errCode, ERR_GENERAL_ERROR);
    EXPECT_EQ(conn->diag.messages.size(), 1u);
    EXPECT_EQ(CallODBC(kConnRec, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(conn->diag.errCode, 0);
    EXPECT_TRUE(conn->diag.messages.empty());
}

TEST_F(DispatchTest, BusyConnectionRules) {
    std::latch entered(1), release(1);
    g_entered = &entered;
    g_release = &release;
    std::thread worker([&] { EXPECT_EQ(CallODBC(kStmtBlockRec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_SUCCESS); });
    entered.wait();

    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_STILL_EXECUTING);
    EXPECT_EQ(stmts[0]->diag.errCode, 0);
    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmts[1]->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(stmts[1]->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(CallODBC(kConnRec, HandleFromId(conn->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(CallODBC(kDescRec, HandleFromId(desc->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(desc->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    // Environment calls do not take part in the rule, and no early return kept a lock.
    EXPECT_EQ(CallODBC(kEnvRec, HandleFromId(envr->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_TRUE(HandleLockFree());

    release.count_down();
    worker.join();
    EXPECT_EQ(conn->callGate.busy, nullptr);
    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmts[1]->id), NoArgs{}), SQL_SUCCESS);
}

// SQLCancel of the statement a call runs on only leaves the request for that call and
// returns at once, touching neither its data-at-execution state nor its diagnostics; a
// cancel of another statement of the busy connection is refused (HY010).
TEST_F(DispatchTest, CancelWhileTheStatementRunsOnlyRequests) {
    std::latch entered(1), release(1);
    g_entered = &entered;
    g_release = &release;
    stmts[0]->daeState = 3;
    std::thread worker([&] { EXPECT_EQ(CallODBC(kStmtBlockRec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_SUCCESS); });
    entered.wait();

    EXPECT_EQ(CallODBC(kCancelRec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_TRUE(stmts[0]->cancelRequested.load());
    EXPECT_EQ(stmts[0]->daeState, 3);
    EXPECT_EQ(stmts[0]->diag.errCode, 0);
    EXPECT_EQ(CallODBC(kCancelRec, HandleFromId(stmts[1]->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(stmts[1]->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_TRUE(HandleLockFree());

    release.count_down();
    worker.join();
    // Once idle, a cancel closes the statement and drops the stale request.
    EXPECT_EQ(CallODBC(kCancelRec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_SUCCESS_WITH_INFO);
    EXPECT_FALSE(stmts[0]->cancelRequested.load());
    EXPECT_EQ(stmts[0]->daeState, 0);
}

TEST_F(DispatchTest, BusyConnectionRefusesItsOwnSecondCall) {
    std::latch entered(1), release(1);
    g_entered = &entered;
    g_release = &release;
    std::thread worker([&] { CallODBC(kConnBlockRec, HandleFromId(conn->id), NoArgs{}); });
    entered.wait();
    EXPECT_EQ(CallODBC(kConnRec, HandleFromId(conn->id), NoArgs{}), SQL_ERROR);
    // The running call owns the connection's diagnostics: the refusal leaves them alone.
    EXPECT_EQ(conn->diag.errCode, 0);
    release.count_down();
    worker.join();
}

// A diagnostic call is never refused: made while a call runs on the connection, it waits
// for that call and then reads what the call left.
TEST_F(DispatchTest, DiagnosticCallWaitsForTheRunningCall) {
    std::latch entered(1), release(1);
    g_entered = &entered;
    g_release = &release;
    std::thread worker([&] { EXPECT_EQ(CallODBC(kConnBlockPostRec, HandleFromId(conn->id), NoArgs{}), SQL_ERROR); });
    entered.wait();
    int code = -1;
    std::thread reader(
        [&] { EXPECT_EQ(CallODBC(kReadCodeRec, HandleFromId(conn->id), ReadCodeArgs{&code}), SQL_SUCCESS); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the reader reach its wait
    release.count_down();
    worker.join();
    reader.join();
    EXPECT_EQ(code, 77);
    EXPECT_EQ(conn->callGate.busy, nullptr);
}

// The failover callback runs with the call's claim held and no lock: it can read the
// diagnostics of its own connection without waiting for itself.
TEST_F(DispatchTest, FailoverCallbackReadsItsConnectionsDiagnostics) {
    static int code = -1;
    static uint32_t id = 0;
    id = conn->id;
    conn->callGate.failover = [](int, void*, int) {
        EXPECT_TRUE(FreeForOthers(Drv().handleLock));
        EXPECT_EQ(CallODBC(kReadCodeRec, HandleFromId(id), ReadCodeArgs{&code}), SQL_SUCCESS);
        return 0;
    };
    EXPECT_EQ(CallODBC(kFailoverRec, HandleFromId(conn->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(code, 0);  // read: the handler left messages, no code
}

// An environment call that works on its connections waits for a call running on one, and
// then holds what a call on it holds (claim, database lock, the call lock the connection has
// handed out) with the handle lock given up.
TEST_F(DispatchTest, EnvironmentWalkWaitsForTheRunningCallAndTakesItsLocks) {
    conn->callGate.callLockShared = true;
    std::latch entered(1), release(1);
    g_entered = &entered;
    g_release = &release;
    std::atomic<bool> done{false};
    WalkSeen seen;
    seen.runningCallDone = &done;
    g_walkSeen = &seen;
    std::thread worker([&] {
        CallODBC(kStmtBlockRec, HandleFromId(stmts[0]->id), NoArgs{});
        done = true;
    });
    entered.wait();
    std::thread walker([&] { EXPECT_EQ(CallODBC(kEnvWalkRec, HandleFromId(envr->id), NoArgs{}), SQL_SUCCESS); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // lets the walk reach its wait
    EXPECT_TRUE(HandleLockFree());  // the waiting walk holds nothing
    release.count_down();
    worker.join();
    walker.join();
    EXPECT_EQ(seen.visits, 1);
    EXPECT_TRUE(seen.afterRunningCall);
    EXPECT_TRUE(seen.claimed);
    EXPECT_TRUE(seen.callLocked);
    EXPECT_TRUE(seen.dbLocked);
    EXPECT_TRUE(seen.handleLockFree);
    EXPECT_EQ(conn->callGate.busy, nullptr);
    EXPECT_EQ(envr->connWalks, 0);
}

// No exception leaves the dispatcher: a throwing handler becomes a diagnostic on its
// handle, and the connection is free for the next call.
TEST_F(DispatchTest, HandlerExceptionsBecomeDiagnostics) {
    constexpr auto outOfMemory = MakeCall<ThrowOutOfMemory>("Throw", "", 1, CALL_KIND_DBC);
    constexpr auto failing = MakeCall<ThrowOther>("Throw", "", 1, CALL_KIND_STMT);
    EXPECT_EQ(CallODBC(outOfMemory, HandleFromId(conn->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(CallODBC(failing, HandleFromId(stmts[0]->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(stmts[0]->diag.errCode, ERR_GENERAL_ERROR);
    EXPECT_EQ(conn->callGate.busy, nullptr);
    EXPECT_TRUE(HandleLockFree());
    EXPECT_TRUE(FreeForOthers(conn->callGate.CallLock()));
    EXPECT_TRUE(FreeForOthers(Drv().dbLock));
    EXPECT_EQ(CallODBC(kConnRec, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS);
}

// What a handler taking the database lock on demand saw: before, after one take and after
// a second, and inside a DbLockRelease.
struct OnDemandSeen {
    bool lockedBefore = true, lockedAfter = false, lockedAfterSecond = false, lockedWhileReleased = true;
};
OnDemandSeen* g_onDemandSeen = nullptr;
SQLRETURN TakeDbLockOnDemand(HANDLE_HDR*, const NoArgs&) {
    g_onDemandSeen->lockedBefore = !FreeForOthers(Drv().dbLock);
    DbLockOnDemand();
    g_onDemandSeen->lockedAfter = !FreeForOthers(Drv().dbLock);
    DbLockOnDemand();  // held already: nothing more
    g_onDemandSeen->lockedAfterSecond = !FreeForOthers(Drv().dbLock);
    {
        DbLockRelease released;
        g_onDemandSeen->lockedWhileReleased = !FreeForOthers(Drv().dbLock);
    }
    return SQL_SUCCESS;
}

// A handler whose record takes the database lock on demand runs without it until it asks,
// then holds it (once) to its end; a thread mode without the lock never takes it.
TEST_F(DispatchTest, DatabaseLockOnDemandIsTakenOnceWhenAsked) {
    constexpr auto rec = WithDbLockOnDemand(MakeCall<TakeDbLockOnDemand>("GetData", "", 1, CALL_KIND_STMT));
    OnDemandSeen seen;
    g_onDemandSeen = &seen;
    EXPECT_EQ(CallODBC(rec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_FALSE(seen.lockedBefore);
    EXPECT_TRUE(seen.lockedAfter);
    EXPECT_TRUE(seen.lockedAfterSecond);
    EXPECT_FALSE(seen.lockedWhileReleased);
    EXPECT_TRUE(FreeForOthers(Drv().dbLock));
    // Outside a handler it does nothing.
    DbLockOnDemand();
    EXPECT_TRUE(FreeForOthers(Drv().dbLock));

    Drv().skipDbLock.store(1);
    seen = OnDemandSeen{};
    EXPECT_EQ(CallODBC(rec, HandleFromId(stmts[0]->id), NoArgs{}), SQL_SUCCESS);
    Drv().skipDbLock.store(0);
    EXPECT_FALSE(seen.lockedBefore);
    EXPECT_FALSE(seen.lockedAfter);
    EXPECT_TRUE(FreeForOthers(Drv().dbLock));
    g_onDemandSeen = nullptr;
}

TEST_F(DispatchTest, UnloadLeavesEnvironmentsWithARunningCall) {
    std::latch entered(1), release(1);
    g_entered = &entered;
    g_release = &release;
    std::thread worker([&] { CallODBC(kStmtBlockRec, HandleFromId(stmts[0]->id), NoArgs{}); });
    entered.wait();
    DrvGlobalTerm();
    EXPECT_EQ(Drv().envList, envr);  // not freed under the running call
    EXPECT_EQ(CallODBC(kStmtRec, HandleFromId(stmts[1]->id), NoArgs{}), SQL_ERROR);  // refused: not initialised
    release.count_down();
    worker.join();
    ASSERT_EQ(DrvGlobalInit(), 0);
    // Put the survivors back into the fresh tables so that TearDown releases them.
    DRV_GLOBALS& g = Drv();
    ASSERT_EQ(hdl_Add(&g.envTable, &envr->id, envr), 0);
    ASSERT_EQ(hdl_Add(&g.connTable, &conn->id, conn), 0);
    for (STMT* s : stmts)
        ASSERT_EQ(hdl_Add(&g.stmtTable, &s->id, s), 0);
    ASSERT_EQ(hdl_Add(&g.descTable, &desc->id, desc), 0);
}

TEST_F(DispatchTest, FreedConnectionBecomesAnInvalidHandle) {
    // Statements belong to the connection; detach them so that TearDown alone frees them.
    uint32_t id = conn->id;
    EXPECT_EQ(CallODBC(kFreeConnRec, HandleFromId(id), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(CallODBC(kConnRec, HandleFromId(id), NoArgs{}), SQL_INVALID_HANDLE);
    for (STMT* s : stmts)
        s->conn = nullptr;
    desc->stmt = nullptr;
}

TEST_F(DispatchTest, FailoverCheckRunsAfterAFailedClearingCall) {
    conn->callGate.failover = RecordFailover;
    g_failoverAction = 0;
    EXPECT_EQ(CallODBC(kFailoverRec, HandleFromId(conn->id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(g_failoverAction, 16);
    conn->diag.messages.clear();
    conn->diag.errCode = 183;
    g_failoverAction = 0;
    constexpr auto keep = MakeCall<SucceedWithInfo>("Keep", "", 1, CALL_KIND_DBC);
    // The record clears the code first, so nothing is found.
    EXPECT_EQ(CallODBC(keep, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(g_failoverAction, 0);
}

// Calls made without the handle lock on a statement while another thread frees it: each
// finds it live (or running) or finds no handle, and none touches the freed record.
TEST_F(DispatchTest, CallsRacingTheFreeOfTheirStatementFindItLiveOrGone) {
    for (int round = 0; round < 200; ++round) {
        auto* s = new STMT(conn);
        ASSERT_EQ(hdl_Add(&Drv().stmtTable, &s->id, static_cast<HANDLE_HDR*>(s)), 0);
        const SQLHANDLE id = HandleFromId(s->id);
        std::thread caller([id] {
            SQLRETURN rc;
            while ((rc = CallODBC(kStmtRec, id, NoArgs{})) != SQL_INVALID_HANDLE)
                ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_STILL_EXECUTING) << rc;
        });
        SQLRETURN rc;
        while ((rc = CallODBC(kFreeStmtRec, id, NoArgs{})) == SQL_STILL_EXECUTING) {
        }
        EXPECT_EQ(rc, SQL_SUCCESS);
        caller.join();
    }
}

// A connection freed with its statements while another thread calls one of them; its gate
// goes back to the pool and serves the next connection, whose calls are never refused for
// the stale caller's sake.
TEST_F(DispatchTest, CallsRacingTheFreeOfTheirConnectionLeaveTheNextConnectionAlone) {
    DRV_GLOBALS& g = Drv();
    for (int round = 0; round < 50; ++round) {
        auto* gone = new CONN;
        ASSERT_EQ(hdl_Add(&g.connTable, &gone->id, static_cast<HANDLE_HDR*>(gone)), 0);
        std::vector<STMT*> own{new STMT(gone)};
        ASSERT_EQ(hdl_Add(&g.stmtTable, &own[0]->id, static_cast<HANDLE_HDR*>(own[0])), 0);
        g_ownStatements = &own;
        const SQLHANDLE stmtId = HandleFromId(own[0]->id);
        std::atomic<bool> stop{false};
        std::thread caller([&] {
            while (!stop.load()) {
                SQLRETURN rc = CallODBC(kStmtRec, stmtId, NoArgs{});
                ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_ERROR || rc == SQL_INVALID_HANDLE) << rc;
            }
        });
        const SQLHANDLE connId = HandleFromId(gone->id);
        while (CallODBC(kFreeConnAndStmtsRec, connId, NoArgs{}) != SQL_SUCCESS) {
            // refused while the statement's call runs
        }
        auto* next = new CONN;
        {
            std::lock_guard<std::recursive_mutex> guard(g.handleLock);
            ASSERT_EQ(hdl_Add(&g.connTable, &next->id, static_cast<HANDLE_HDR*>(next)), 0);
        }
        for (int i = 0; i < 200; ++i)
            ASSERT_EQ(CallODBC(kConnRec, HandleFromId(next->id), NoArgs{}), SQL_SUCCESS);
        stop = true;
        caller.join();
        EXPECT_EQ(CallODBC(kStmtRec, stmtId, NoArgs{}), SQL_INVALID_HANDLE);
        std::lock_guard<std::recursive_mutex> guard(g.handleLock);
        hdl_Remove(&g.connTable, next->id);
        delete next;
    }
}

// Calls on two statements of one connection and diagnostic reads of the connection, on three
// threads: each call runs or is refused (S1010 into its own handle), and a refusal written
// under the handle lock never meets a call that claimed the handle without it.
TEST_F(DispatchTest, ConcurrentCallsOnOneConnectionRunOrAreRefused) {
    std::atomic<int> ran{0};
    auto calls = [&](STMT* s) {
        for (int i = 0; i < 3000; ++i) {
            SQLRETURN rc = CallODBC(kStmtRec, HandleFromId(s->id), NoArgs{});
            ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_ERROR) << rc;
            if (rc == SQL_SUCCESS)
                ran.fetch_add(1);
        }
    };
    std::thread a(calls, stmts[0]), b(calls, stmts[1]);
    std::thread reader([&] {
        for (int i = 0; i < 3000; ++i) {
            int code = -1;
            ASSERT_EQ(CallODBC(kReadCodeRec, HandleFromId(conn->id), ReadCodeArgs{&code}), SQL_SUCCESS);
        }
    });
    a.join();
    b.join();
    reader.join();
    EXPECT_GT(ran.load(), 0);
    EXPECT_EQ(conn->callGate.busy, nullptr);
}

// SQLCancel from another thread while calls come and go on the statement: it either
// requests the running call's cancel or runs as a call of its own.
TEST_F(DispatchTest, CancelRacingCallsOnItsStatement) {
    const SQLHANDLE id = HandleFromId(stmts[0]->id);
    std::thread caller([id] {
        for (int i = 0; i < 3000; ++i) {
            SQLRETURN rc = CallODBC(kStmtRec, id, NoArgs{});
            ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_STILL_EXECUTING) << rc;
        }
    });
    for (int i = 0; i < 3000; ++i) {
        SQLRETURN rc = CallODBC(kCancelRec, id, NoArgs{});
        ASSERT_TRUE(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) << rc;
    }
    caller.join();
}

// Until the connection hands its call lock out, the claim alone keeps its calls apart; from
// the handler that hands it out on, every handler on the connection holds it.
TEST_F(DispatchTest, CallLockIsTakenOnceHandedOut) {
    WalkSeen seen;
    std::atomic<bool> done{true};
    seen.runningCallDone = &done;
    g_walkSeen = &seen;
    EXPECT_EQ(CallODBC(kEnvWalkRec, HandleFromId(envr->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_FALSE(seen.callLocked);
    EXPECT_TRUE(seen.dbLocked);
    g_callLockHeldAfterSharing = false;
    EXPECT_EQ(CallODBC(kShareCallLockRec, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_TRUE(g_callLockHeldAfterSharing);
    EXPECT_TRUE(FreeForOthers(conn->callGate.CallLock()));
    EXPECT_EQ(CallODBC(kEnvWalkRec, HandleFromId(envr->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_TRUE(seen.callLocked);
    // A prepared branch holds the lock for no thread: a call claims the connection, then
    // waits for the hand-over to end.
    conn->callGate.CallLock().HoldForHandoff();
    std::atomic<bool> returned{false};
    std::thread call([&] {
        EXPECT_EQ(CallODBC(kConnRec, HandleFromId(conn->id), NoArgs{}), SQL_SUCCESS);
        returned = true;
    });
    while (conn->callGate.busy.load() == nullptr)
        std::this_thread::yield();
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(conn->callGate.CallLock().ReleaseHandoff());
    call.join();
    EXPECT_TRUE(returned.load());
}

TEST(TraceArgs, FormatsSlotsAndCutsAtTheBuffer) {
    const TraceSlots args = MakeTraceSlots(-5, 0xFFFFFFFFu, 0xABCDEFu, 'W');
    char buf[250];
    FormatTraceArgs(buf, sizeof buf, "a=%d b=%u c=%lX d=%c e=%d 100%%", args);
    EXPECT_STREQ(buf, "a=-5 b=4294967295 c=ABCDEF d=W e=0 100%");
    FormatTraceArgs(buf, sizeof buf, "v=%08lX h=%hd w=%5u", args);
    EXPECT_STREQ(buf, "v=FFFFFFFFFFFFFFFB h=-1 w=11259375");
    std::string longFmt(400, 'x');
    FormatTraceArgs(buf, sizeof buf, longFmt.c_str(), args);
    EXPECT_EQ(std::string(buf).size(), 249u);
    char tiny[4];
    FormatTraceArgs(tiny, sizeof tiny, "%ld", args);
    EXPECT_STREQ(tiny, "-5");
    FormatTraceArgs(tiny, sizeof tiny, "trailing %", args);
    EXPECT_STREQ(tiny, "tra");
}

TEST(ReturnCodeNames, CoverTheTraceNames) {
    EXPECT_STREQ(ReturnCodeName(SQL_NO_DATA), "NO_DATA_FOUND");
    EXPECT_STREQ(ReturnCodeName(SQL_INVALID_HANDLE), "INVALID_HANDLE");
    EXPECT_STREQ(ReturnCodeName(42), "UNKNOWN_ERROR");
}

}  // namespace
