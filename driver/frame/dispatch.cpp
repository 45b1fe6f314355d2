// The call dispatcher.
#include "driver/frame/dispatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "driver/frame/globals.h"
#include "util/errcode.h"

namespace {

// Size of the buffer the argument line is formatted into; a longer line is cut.
constexpr size_t TRACE_ARGS_SIZE = 250;

unsigned long CurrentThreadId() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

const char* HandleLabel(int kind) {
    switch (kind) {
    case CALL_KIND_ENV: return "hEnv";
    case CALL_KIND_DBC: return "hDbc";
    case CALL_KIND_STMT: return "hStmt";
    case CALL_KIND_DESC: return "hDesc";
    default: return nullptr;
    }
}

void TraceEntry(const CALLREC& rec, uint32_t id, const TraceSlots* args) {
    const char* label = HandleLabel(rec.kind);
    if (label == nullptr)
        TraceLog("\n[%lX] SQL%s", CurrentThreadId(), rec.name);
    else
        TraceLog("\n[%lX] SQL%s %s=%lX", CurrentThreadId(), rec.name, label, static_cast<unsigned long>(id));
    if (rec.traceFormat != nullptr && rec.traceFormat[0] != '\0') {
        char line[TRACE_ARGS_SIZE];
        FormatTraceArgs(line, sizeof line, rec.traceFormat, args != nullptr ? *args : TraceSlots{});
        TraceLog("%s", line);
    }
}

// What the dispatcher keeps per thread, in one thread-local object. In a shared library
// every use of a thread-local object calls the loader for its address (the compiler does
// not reuse it across calls), so a call looks the object up once and hands the reference
// to its claim and its locks.
class HandlerLocks;
struct ThreadCallState {
    // Whether the handler running on this thread holds the database lock (DbLockRelease).
    bool handlerHoldsDbLock = false;
    // How many connections' handlers this thread runs: the handle lock comes before their
    // locks in the lock order, so no call may start (and take it) while one runs.
    int callLocksHeld = 0;
    // The locks of the handler running on this thread, for GateShareCallLock; null when none.
    HandlerLocks* handlerLocks = nullptr;
    // The handle lock of the environment call running on this thread: RunOnConnection
    // gives it up while it waits and works. Null outside environment calls.
    std::unique_lock<std::recursive_mutex>* envCallLock = nullptr;
    // The gate this thread has claimed, if any: a callback of the running call (the
    // failover callback) may read its diagnostics without waiting for itself.
    const CALL_GATE* claimedGate = nullptr;
};
thread_local ThreadCallState t_call;

// This thread's state, out of line on purpose: inlined, the compiler recomputes the
// address (a call into the loader) at every use of the reference instead of keeping it.
[[gnu::noinline]] ThreadCallState& ThisThreadCalls() { return t_call; }

// Holds, for the duration of one handler on a claimed connection, the connection's call lock
// once the connection has handed it out (CALL_GATE::callLockShared) and, unless the thread
// mode skips it, the database lock.
class HandlerLocks {
public:
    // onDemand: the database lock waits for TakeDbLock (DbLockOnDemand).
    HandlerLocks(CALL_GATE* gate, bool skipDbLock, bool onDemand, ThreadCallState& ts, DRV_GLOBALS& g)
        : ts_(ts), g_(g), gate_(gate), outer_(ts.handlerLocks) {
        ++ts_.callLocksHeld;
        if (gate->callLockShared)
            TakeCallLock();
        if (!skipDbLock) {
            if (onDemand) {
                dbLockDue_ = true;
            } else {
                g_.dbLock.lock();
                ts_.handlerHoldsDbLock = true;
            }
        }
        ts_.handlerLocks = this;
    }
    ~HandlerLocks() {
        ts_.handlerLocks = outer_;
        if (ts_.handlerHoldsDbLock) {
            ts_.handlerHoldsDbLock = false;
            g_.dbLock.unlock();
        }
        if (callLock_ != nullptr)
            callLock_->unlock();
        --ts_.callLocksHeld;
    }
    HandlerLocks(const HandlerLocks&) = delete;
    HandlerLocks& operator=(const HandlerLocks&) = delete;

    const CALL_GATE* gate() const { return gate_; }
    // Takes the database lock the handler has not taken yet, for the rest of the handler.
    void TakeDbLock() {
        if (!dbLockDue_)
            return;
        dbLockDue_ = false;
        g_.dbLock.lock();
        ts_.handlerHoldsDbLock = true;
    }
    // Takes the call lock for the rest of the handler, unless it holds it already.
    void TakeCallLock() {
        if (callLock_ != nullptr)
            return;
        callLock_ = &gate_->CallLock();
        callLock_->lock();
    }

private:
    ThreadCallState& ts_;
    DRV_GLOBALS& g_;
    CALL_GATE* gate_;
    HandlerLocks* outer_;
    HandoffLock* callLock_ = nullptr;
    bool dbLockDue_ = false;
};

HANDLE_TABLE* TableOf(int kind) {
    DRV_GLOBALS& g = Drv();
    switch (kind) {
    case CALL_KIND_ENV: return &g.envTable;
    case CALL_KIND_DBC: return &g.connTable;
    case CALL_KIND_STMT: return &g.stmtTable;
    case CALL_KIND_DESC: return &g.descTable;
    default: return nullptr;
    }
}

// The live record of the kind behind the id, or null. Handle lock held: the record then
// stays in memory until the lock is given up, as records are destroyed only under it.
HANDLE_HDR* FindHandle(int kind, uint32_t id) {
    HANDLE_TABLE* table = TableOf(kind);
    if (table == nullptr)
        return nullptr;
    auto* h = static_cast<HANDLE_HDR*>(hdl_Lookup(table, id));
    if (h == nullptr || h->magic != MagicOf(kind))
        return nullptr;
    // A statement or descriptor runs on its connection's gate; without one it is not live.
    if (kind != CALL_KIND_ENV && h->gate == nullptr)
        return nullptr;
    assert(h->kind == kind);
    return h;
}

// Runs the handler between the hook's two halves. No exception leaves it: running out of
// memory becomes the memory-allocation diagnostic, anything else a general error.
SQLRETURN RunHandler(CallHandler handler, HANDLE_HDR* object, const void* args, const CallHook* hook) {
    try {
        if (hook != nullptr && hook->before != nullptr) {
            SQLRETURN early = hook->before(hook->context, object);
            if (early != SQL_SUCCESS)
                return early;
        }
        SQLRETURN rc = handler(object, args);
        if (hook != nullptr && hook->after != nullptr)
            rc = hook->after(hook->context, object, rc);
        return rc;
    } catch (const std::bad_alloc&) {
        if (object != nullptr)
            object->diag.errCode = ERR_MEMORY_ALLOCATION_FAILURE;
    } catch (...) {
        if (object != nullptr)
            object->diag.errCode = ERR_GENERAL_ERROR;
    }
    return SQL_ERROR;
}

// The markers CALL_GATE::busy holds besides handles: a claim taken without the handle lock
// whose handle is still being checked (for a few instructions: whoever sees it asks again),
// and a diagnostic call reading under the handle lock.
const char kCheckingMark = 0;
const char kDiagReadingMark = 0;
const HANDLE_HDR* const kClaimChecking = reinterpret_cast<const HANDLE_HDR*>(&kCheckingMark);
const HANDLE_HDR* const kDiagReading = reinterpret_cast<const HANDLE_HDR*>(&kDiagReadingMark);

// Woken whenever a claim ends while somebody waits; waited on with the handle lock, held
// exactly once by the waiter (the dispatcher's own guard). Lives as long as the process,
// like the locks.
std::condition_variable_any& ClaimEnded() {
    static auto* cv = new std::condition_variable_any;
    return *cv;
}
std::atomic<int> g_claimWaiters{0};

bool TryClaim(CALL_GATE* gate, const HANDLE_HDR* by) {
    const HANDLE_HDR* expected = nullptr;
    return gate->busy.compare_exchange_strong(expected, by);
}

// Clears the gate's claim and wakes the waiters, if any; handleLockHeld says whether this
// thread holds the handle lock. The gate is not touched after its claim is cleared: another
// call may claim the connection and free it at once. A claim ends without the handle lock:
// the waiter is counted before it looks at the marker and the end clears the marker before
// it reads the count (both sequentially consistent), so either the waiter sees the gate
// free or the end sees the waiter and wakes it under the handle lock, which the waiter holds
// until it sleeps.
void EndClaim(CALL_GATE* gate, bool handleLockHeld) {
    assert(gate->busy.load() != nullptr);
    gate->busy.store(nullptr);
    if (g_claimWaiters.load() == 0)
        return;
    if (handleLockHeld) {
        ClaimEnded().notify_all();
    } else {
        std::lock_guard<std::recursive_mutex> handleGuard(Drv().handleLock);
        ClaimEnded().notify_all();
    }
}

// Claims the gate for `by`, handle lock held; when another claim holds it, waits until a
// claim ends somewhere and answers false (the handle may be gone then: the caller looks it
// up again).
bool ClaimOrWait(CALL_GATE* gate, const HANDLE_HDR* by, std::unique_lock<std::recursive_mutex>& handleLock) {
    ++g_claimWaiters;
    const bool claimed = TryClaim(gate, by);
    if (!claimed)
        ClaimEnded().wait(handleLock);
    --g_claimWaiters;
    return claimed;
}

// Counts a thread under the handle lock as a visitor of the gate (CALL_GATE::visitors) for
// its scope.
class GateVisit {
public:
    explicit GateVisit(CALL_GATE* gate) : gate_(gate) { gate_->visitors.fetch_add(1); }
    ~GateVisit() { gate_->visitors.fetch_sub(1); }
    GateVisit(const GateVisit&) = delete;
    GateVisit& operator=(const GateVisit&) = delete;

private:
    CALL_GATE* gate_;
};

enum class FastClaim { Claimed, Absent, Contended };

// The road of nearly every connection, statement or descriptor call: claims the gate of the
// record behind the id with one compare-and-swap and no other lock. The handle table keeps
// each record's gate beside it and the gates are never freed, so the gate can be claimed
// before the record is known to be alive; with the claim held, a slot that still holds what
// the look-up saw names a live record, since records leave their table only under their
// connection's claim. Contended when the gate is busy, the slot was changing or a visitor
// is at the gate (the caller decides under the handle lock), Absent when the id names no
// record.
FastClaim ClaimWithoutHandleLock(int kind, uint32_t id, HANDLE_HDR** out) {
    const HANDLE_TABLE* table = TableOf(kind);
    HDL_PEEK peek;
    const HdlPeek found = hdl_Peek(table, id, &peek);
    if (found == HdlPeek::Absent)
        return FastClaim::Absent;
    if (found == HdlPeek::Changing || peek.owner == nullptr)
        return FastClaim::Contended;
    auto* gate = static_cast<CALL_GATE*>(const_cast<void*>(peek.owner));
    if (!TryClaim(gate, kClaimChecking))
        return FastClaim::Contended;
    // A visitor counts itself before it looks at the claim, and this claim was taken before
    // the count is read (both sequentially consistent): one of the two sees the other.
    if (gate->visitors.load() == 0 && hdl_PeekHolds(table, peek)) {
        auto* h = static_cast<HANDLE_HDR*>(peek.object);
        if (h->magic.load(std::memory_order_relaxed) == MagicOf(kind)) {
            gate->busy.store(h, std::memory_order_relaxed);
            *out = h;
            return FastClaim::Claimed;
        }
    }
    EndClaim(gate, false);
    return FastClaim::Contended;
}

// A claim of a connection's gate for one call (or one environment's work on it), taken
// before and held by this object until it ends, however the call leaves. At its end the
// records its handler freed are destroyed, a connection that its handler closed for good
// is destroyed, any other loses its busy marker, and waiters are woken.
class Claim {
public:
    Claim(CALL_GATE* gate, ThreadCallState& ts) : ts_(ts), gate_(gate), previous_(ts.claimedGate) {
        assert(gate->busy.load() != nullptr);
        ts_.claimedGate = gate;
    }
    // Ends the claim; handle lock held.
    void End() {
        if (gate_ == nullptr)
            return;
        ts_.claimedGate = previous_;
        CALL_GATE* gate = gate_;
        gate_ = nullptr;
        GateReleaseDoomed(gate);
        if (gate->releaseAfterCall) {
            // The connection goes with its gate, which the pool takes back with its claim
            // cleared.
            assert(gate->destroy != nullptr);
            gate->destroy(gate->owner);
            if (g_claimWaiters.load() != 0)
                ClaimEnded().notify_all();
        } else {
            EndClaim(gate, true);
        }
    }
    ~Claim() {
        if (gate_ == nullptr)
            return;
        // The end of nearly every call destroys nothing: the marker is then cleared without
        // the handle lock.
        if (gate_->doomed.empty() && !gate_->releaseAfterCall) {
            ts_.claimedGate = previous_;
            CALL_GATE* gate = gate_;
            gate_ = nullptr;
            EndClaim(gate, false);
            return;
        }
        std::lock_guard<std::recursive_mutex> handleGuard(Drv().handleLock);
        End();
    }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

private:
    ThreadCallState& ts_;
    CALL_GATE* gate_;
    const CALL_GATE* previous_;
};

// The records that keep the handle's diagnostics on a connection, statement or
// descriptor are the diagnostic calls (SQLError, SQLGetDiagRec, SQLGetDiagField).
bool IsDiagnosticCall(const CALLREC& rec) {
    return rec.clearDiag == 0 && rec.kind != CALL_KIND_NONE && rec.kind != CALL_KIND_ENV;
}

SQLRETURN RunEnvCall(const CALLREC& rec, uint32_t id, const void* args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    std::unique_lock<std::recursive_mutex> handleLock(g.handleLock);
    if (!DrvIsInitialised())
        return SQL_ERROR;
    if (rec.kind == CALL_KIND_NONE)
        return RunHandler(rec.handler, nullptr, args, hook);
    HANDLE_HDR* envr = FindHandle(CALL_KIND_ENV, id);
    if (envr == nullptr)
        return SQL_INVALID_HANDLE;
    if (rec.clearDiag)
        ErrListFree(envr->diag);
    auto* outer = t_call.envCallLock;
    t_call.envCallLock = &handleLock;
    SQLRETURN rc = RunHandler(rec.handler, envr, args, hook);
    t_call.envCallLock = outer;
    return rc;
}

// A diagnostic call: waits until no call runs on the connection (unless the running call
// is this thread's own, calling back), then runs its handler under the handle lock with the
// gate claimed for reading: a call that comes meanwhile finds the claim, waits for the
// handle lock and runs after the reading.
SQLRETURN RunDiagnosticCall(const CALLREC& rec, uint32_t id, const void* args, const CallHook* hook) {
    std::unique_lock<std::recursive_mutex> handleLock(Drv().handleLock);
    for (;;) {
        if (!DrvIsInitialised())
            return SQL_ERROR;
        HANDLE_HDR* h = FindHandle(rec.kind, id);
        if (h == nullptr)
            return SQL_INVALID_HANDLE;
        if (h->gate == t_call.claimedGate)
            return RunHandler(rec.handler, h, args, hook);
        if (ClaimOrWait(h->gate, kDiagReading, handleLock)) {
            SQLRETURN rc = RunHandler(rec.handler, h, args, hook);
            EndClaim(h->gate, true);
            return rc;
        }
    }
}

// What a call on a busy connection is told, decided under the handle lock; or nothing when
// the gate is free or being checked by another claim (the caller then tries again). h is
// live, the call is counted as a visitor of its gate.
std::optional<SQLRETURN> RefuseOnBusy(const CALLREC& rec, HANDLE_HDR* h, const void* args,
                                      const ThreadCallState& ts) {
    const HANDLE_HDR* busy = h->gate->busy.load();
    if (busy == nullptr || busy == kClaimChecking)
        return std::nullopt;
    if (busy == h && rec.kind != CALL_KIND_DBC)
        return rec.whileRunning != nullptr ? RunHandler(rec.whileRunning, h, args, nullptr) : SQL_STILL_EXECUTING;
    // The running call owns its own handle's diagnostics: the refusal is written only into
    // another handle's, or where the claim is this thread's own.
    if (busy != h || ts.claimedGate == h->gate)
        h->diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
    return SQL_ERROR;
}

SQLRETURN RunConnCall(const CALLREC& rec, uint32_t id, const void* args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    ThreadCallState& ts = ThisThreadCalls();
    HANDLE_HDR* h = nullptr;
    for (;;) {
        const FastClaim fast = ClaimWithoutHandleLock(rec.kind, id, &h);
        if (fast == FastClaim::Claimed)
            break;
        if (fast == FastClaim::Absent)
            return DrvIsInitialised() ? SQL_INVALID_HANDLE : SQL_ERROR;
        // Contended: the handle lock decides. Under it the record stays in memory, and a
        // claim ending meanwhile can destroy nothing before it is given up.
        bool claimed = false;
        {
            std::lock_guard<std::recursive_mutex> handleGuard(g.handleLock);
            if (!DrvIsInitialised())
                return SQL_ERROR;
            h = FindHandle(rec.kind, id);
            if (h == nullptr)
                return SQL_INVALID_HANDLE;
            GateVisit visit(h->gate);
            if (std::optional<SQLRETURN> refused = RefuseOnBusy(rec, h, args, ts))
                return *refused;
            claimed = TryClaim(h->gate, h);
        }
        if (claimed)
            break;
        // The gate was being checked by a claim that has not decided yet, or was claimed
        // since: ask again.
        std::this_thread::yield();
    }
    Claim claim(h->gate, ts);
    if (rec.clearDiag)
        ErrListFree(h->diag);
    SQLRETURN rc;
    {
        HandlerLocks locks(h->gate, g.skipDbLock.load() != 0, rec.dbLockOnDemand, ts, g);
        rc = RunHandler(rec.handler, h, args, hook);
    }
    // The application's failover callback runs with the claim still held (it reads the
    // called handle's diagnostics) but outside every lock.
    CALL_GATE* gate = h->gate;
    if (!gate->releaseAfterCall && rc != SQL_SUCCESS && rec.clearDiag && gate->failover != nullptr)
        rc = static_cast<SQLRETURN>(CheckFailover(h->diag, gate->failover, gate->failoverContext, rc));
    return rc;
}

SQLRETURN Dispatch(const CALLREC& rec, uint32_t id, const void* args, const CallHook* hook) {
    assert(t_call.callLocksHeld == 0 && "a call started inside a handler would take the handle lock out of order");
    switch (rec.kind) {
    case CALL_KIND_NONE:
    case CALL_KIND_ENV:
        return RunEnvCall(rec, id, args, hook);
    case CALL_KIND_DBC:
    case CALL_KIND_STMT:
    case CALL_KIND_DESC:
        return IsDiagnosticCall(rec) ? RunDiagnosticCall(rec, id, args, hook) : RunConnCall(rec, id, args, hook);
    default:
        if (TraceIsOn())
            TraceLog("CallODBC: internal error");
        return SQL_ERROR;
    }
}

// The pool of call gates (GateAcquire). Its lock is taken alone, never with another held
// while it waits: it is the innermost of all.
struct GatePool {
    std::mutex lock;
    CALL_GATE* free = nullptr;
};
// Constant-initialised and trivially destroyed: usable from the first load-time call to
// the last, whatever the order of static destruction.
constinit GatePool g_gates;
static_assert(std::is_trivially_destructible_v<GatePool>);
GatePool& Gates() { return g_gates; }

}  // namespace

CALL_GATE* GateAcquire() {
    auto lock = std::make_shared<HandoffLock>();
    CALL_GATE* gate = nullptr;
    {
        GatePool& pool = Gates();
        std::lock_guard<std::mutex> guard(pool.lock);
        if ((gate = pool.free) != nullptr)
            pool.free = gate->nextFree;
    }
    if (gate == nullptr)
        gate = new CALL_GATE;
    // A claim that found this gate beside a handle that has gone may still be checking it:
    // busy is left to that claim, which clears it.
    gate->nextFree = nullptr;
    gate->sharedCallLock = std::move(lock);
    return gate;
}

void GateRecycle(CALL_GATE* gate) {
    assert(gate->doomed.empty());
    gate->owner = nullptr;
    gate->destroy = nullptr;
    gate->releaseAfterCall = false;
    gate->sharedCallLock.reset();  // a dispenser may keep its share
    gate->callLockShared = false;
    gate->failover = nullptr;
    gate->failoverContext = nullptr;
    // The claim of the call that destroyed the connection ends here, before the gate can be
    // handed out again. A claim still checking the gate after the handle it came for has
    // gone keeps its marker: it clears it itself.
    const HANDLE_HDR* busy = gate->busy.load();
    while (busy != nullptr && busy != kClaimChecking && !gate->busy.compare_exchange_weak(busy, nullptr)) {
    }
    GatePool& pool = Gates();
    std::lock_guard<std::mutex> guard(pool.lock);
    gate->nextFree = pool.free;
    pool.free = gate;
}

void GatePoolRelease() {
    std::lock_guard<std::mutex> guard(g_gates.lock);
    while (CALL_GATE* gate = g_gates.free) {
        g_gates.free = gate->nextFree;
        delete gate;
    }
}

std::shared_ptr<HandoffLock> GateShareCallLock(CALL_GATE* gate) {
    if (!gate->callLockShared) {
        gate->callLockShared = true;
        // The running handler took no call lock; it takes it now, so that the dispenser's
        // prepare waits for it as for every later call. Nobody else can hold a lock that was
        // never handed out: this never waits, though the database lock is already held.
        ThreadCallState& ts = ThisThreadCalls();
        if (ts.handlerLocks != nullptr && ts.handlerLocks->gate() == gate)
            ts.handlerLocks->TakeCallLock();
    }
    return gate->sharedCallLock;
}

ConnRun RunOnConnection(const HANDLE_HDR* envr, uint32_t connId, ConnWork work, void* context) {
    DRV_GLOBALS& g = Drv();
    ThreadCallState& ts = ThisThreadCalls();
    assert(ts.callLocksHeld == 0 && "the database lock is taken once per thread");
    std::unique_lock<std::recursive_mutex>* handleLock = ts.envCallLock;
    HANDLE_HDR* conn;
    for (;;) {
        conn = FindHandle(CALL_KIND_DBC, connId);
        if (conn == nullptr)
            return ConnRun::Gone;
        if (handleLock == nullptr) {
            if (TryClaim(conn->gate, envr))
                break;
            return ConnRun::PassedOver;
        }
        if (ClaimOrWait(conn->gate, envr, *handleLock))
            break;
    }
    const bool skipDbLock = g.skipDbLock.load() != 0;
    Claim claim(conn->gate, ts);
    bool release = false;
    {
        // The handle lock is given up while work runs and is back however work leaves; the
        // call lock and the database lock go first.
        struct HandleLockGivenUp {
            std::unique_lock<std::recursive_mutex>* lock;
            explicit HandleLockGivenUp(std::unique_lock<std::recursive_mutex>* l) : lock(l) {
                if (lock != nullptr)
                    lock->unlock();
            }
            ~HandleLockGivenUp() {
                if (lock != nullptr)
                    lock->lock();
            }
        } givenUp(handleLock);
        HandlerLocks locks(conn->gate, skipDbLock, false, ts, g);
        release = work(conn, context);
    }
    conn->gate->releaseAfterCall = release;
    claim.End();
    return ConnRun::Done;
}

void DbLockOnDemand() {
    ThreadCallState& ts = ThisThreadCalls();
    if (ts.handlerLocks != nullptr)
        ts.handlerLocks->TakeDbLock();
}

DbLockRelease::DbLockRelease() {
    if (t_call.handlerHoldsDbLock) {
        t_call.handlerHoldsDbLock = false;
        released_ = true;
        Drv().dbLock.unlock();
    }
}

DbLockRelease::~DbLockRelease() {
    if (released_) {
        Drv().dbLock.lock();
        t_call.handlerHoldsDbLock = true;
    }
}

const char* ReturnCodeName(SQLRETURN rc) {
    switch (rc) {
    case SQL_SUCCESS: return "SUCCESS";
    case SQL_SUCCESS_WITH_INFO: return "SUCCESS_WITH_INFO";
    case SQL_STILL_EXECUTING: return "STILL_EXECUTING";
    case SQL_NEED_DATA: return "NEED_DATA";
    case SQL_NO_DATA: return "NO_DATA_FOUND";
    case SQL_INVALID_HANDLE: return "INVALID_HANDLE";
    case SQL_ERROR: return "ERROR";
    default: return "UNKNOWN_ERROR";
    }
}

SQLRETURN CallODBCv(const CALLREC& rec, SQLHANDLE handle, const void* args, const TraceSlots* trace,
                    const CallHook* hook) {
    if (!DrvIsInitialised())
        return SQL_ERROR;
    // No exception crosses into the caller: the trace lines allocate too. The handler's
    // own failures are posted on its handle by RunHandler; what fails out here has no
    // handle to post on.
    try {
        uint32_t id = HandleId(handle);
        if (TraceIsOn())
            TraceEntry(rec, id, trace);
        SQLRETURN rc = Dispatch(rec, id, args, hook);
        if (TraceIsOn())
            TraceLog("[%lX] SQL%s: returning SQL_%s", CurrentThreadId(), rec.name, ReturnCodeName(rc));
        return rc;
    } catch (...) {
        return SQL_ERROR;
    }
}

void FormatTraceArgs(char* buf, size_t size, const char* fmt, const TraceSlots& args) {
    if (size == 0)
        return;
    size_t out = 0;
    size_t next = 0;
    auto put = [&](const char* s, size_t n) {
        size_t room = size - 1 - out;
        if (n > room)
            n = room;
        std::memcpy(buf + out, s, n);
        out += n;
    };
    const char* p = fmt;
    while (*p != '\0' && out < size - 1) {
        if (*p != '%') {
            const char* q = std::strchr(p, '%');
            size_t n = q ? static_cast<size_t>(q - p) : std::strlen(p);
            put(p, n);
            p += n;
            continue;
        }
        ++p;
        if (*p == '%') {
            put("%", 1);
            ++p;
            continue;
        }
        // Flags and width are kept; the length modifier only decides how much of the
        // 64-bit slot the conversion shows.
        std::string spec = "%";
        while (*p != '\0' && std::strchr("-+ #0123456789", *p) != nullptr && spec.size() < 16)
            spec += *p++;
        int longs = 0;
        int shorts = 0;
        while (*p == 'l' || *p == 'h') {
            (*p == 'l' ? longs : shorts)++;
            ++p;
        }
        char conv = *p;
        if (conv == '\0')
            break;
        ++p;
        uint64_t v = next < args.count ? args.slot[next] : 0;
        ++next;
        char item[96];
        int n = 0;
        switch (conv) {
        case 'd':
        case 'i': {
            long long sv = longs   ? static_cast<long long>(v)
                           : shorts ? static_cast<int16_t>(v)
                                    : static_cast<int32_t>(v);
            n = std::snprintf(item, sizeof item, (spec + "lld").c_str(), sv);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            unsigned long long uv = longs ? v : shorts ? (v & 0xFFFFu) : (v & 0xFFFFFFFFu);
            n = std::snprintf(item, sizeof item, (spec + "ll" + conv).c_str(), uv);
            break;
        }
        case 'p':
        case 's':  // the address only: the driver never reads the caller's memory here
            n = std::snprintf(item, sizeof item, "%p", reinterpret_cast<void*>(static_cast<uintptr_t>(v)));
            break;
        case 'c':
            n = std::snprintf(item, sizeof item, "%c", static_cast<char>(v));
            break;
        default:
            n = std::snprintf(item, sizeof item, "%%%c", conv);
            break;
        }
        if (n > 0)
            put(item, std::min(static_cast<size_t>(n), sizeof item - 1));
    }
    buf[out] = '\0';
}
