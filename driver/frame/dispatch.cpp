// The call dispatcher.
#include "driver/frame/dispatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "driver/diag/diag.h"
#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
#include "driver/objects/conn.h"
#include "driver/objects/handles.h"
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

void TraceEntry(const CALLREC& rec, uint32_t id, const CallArgs& args) {
    const char* label = HandleLabel(rec.kind);
    if (label == nullptr)
        TraceLog("\n[%lX] SQL%s", CurrentThreadId(), rec.name);
    else
        TraceLog("\n[%lX] SQL%s %s=%lX", CurrentThreadId(), rec.name, label, static_cast<unsigned long>(id));
    if (rec.traceFormat != nullptr && rec.traceFormat[0] != '\0') {
        char line[TRACE_ARGS_SIZE];
        FormatTraceArgs(line, sizeof line, rec.traceFormat, args);
        TraceLog("%s", line);
    }
}

// Whether the handler running on this thread holds the database lock (DbLockRelease).
thread_local bool t_handlerHoldsDbLock = false;

// Holds a connection's call lock and, unless the thread mode skips it, the database lock,
// for the duration of one handler.
class HandlerLocks {
public:
    explicit HandlerLocks(CONN* conn, bool skipDbLock) : call_(conn->callLock) {
        if (!skipDbLock) {
            Drv().dbLock.lock();
            t_handlerHoldsDbLock = true;
        }
    }
    ~HandlerLocks() {
        if (t_handlerHoldsDbLock) {
            t_handlerHoldsDbLock = false;
            Drv().dbLock.unlock();
        }
    }
    HandlerLocks(const HandlerLocks&) = delete;
    HandlerLocks& operator=(const HandlerLocks&) = delete;

private:
    std::lock_guard<std::recursive_mutex> call_;
};

// The object behind the handle of a connection-level call, with its connection and
// diagnostics. Found under the handle lock.
struct Target {
    void* object = nullptr;
    CONN* conn = nullptr;
    DIAG* diag = nullptr;
};

Target FindTarget(int kind, uint32_t id) {
    DRV_GLOBALS& g = Drv();
    Target t;
    switch (kind) {
    case CALL_KIND_DBC: {
        auto* c = static_cast<CONN*>(hdl_Lookup(&g.connTable, id));
        if (c != nullptr && c->magic == CONN_MAGIC)
            t = {c, c, &c->diag};
        break;
    }
    case CALL_KIND_STMT: {
        auto* s = static_cast<STMT*>(hdl_Lookup(&g.stmtTable, id));
        if (s != nullptr && s->magic == STMT_MAGIC && s->conn != nullptr)
            t = {s, s->conn, &s->diag};
        break;
    }
    case CALL_KIND_DESC: {
        auto* d = static_cast<DESC*>(hdl_Lookup(&g.descTable, id));
        if (d != nullptr && d->magic == DESC_MAGIC && DescConn(d) != nullptr)
            t = {d, DescConn(d), &d->diag};
        break;
    }
    default:
        break;
    }
    return t;
}

// Runs the handler between the hook's two halves. No exception leaves it: running out of
// memory becomes the memory-allocation diagnostic, anything else a general error.
SQLRETURN RunHandler(const CALLREC& rec, void* object, const CallArgs& args, const CallHook* hook) {
    try {
        if (hook != nullptr && hook->before != nullptr) {
            SQLRETURN early = hook->before(hook->context, rec.kind, object);
            if (early != SQL_SUCCESS)
                return early;
        }
        SQLRETURN rc = rec.handler(object, args);
        if (hook != nullptr && hook->after != nullptr)
            rc = hook->after(hook->context, rec.kind, object, rc);
        return rc;
    } catch (const std::bad_alloc&) {
        if (DIAG* diag = ObjectDiag(rec.kind, object))
            diag->errCode = ERR_MEMORY_ALLOCATION_FAILURE;
    } catch (...) {
        if (DIAG* diag = ObjectDiag(rec.kind, object))
            diag->errCode = ERR_GENERAL_ERROR;
    }
    return SQL_ERROR;
}

// The handle lock of the environment call running on this thread: ForEachEnvConnection
// gives it up while it waits and works. Null outside environment calls.
thread_local std::unique_lock<std::recursive_mutex>* t_envCallLock = nullptr;

// The connection this thread has claimed, if any: a callback of the running call (the
// failover callback) may read its diagnostics without waiting for itself.
thread_local const CONN* t_claimedConn = nullptr;

// Woken whenever a claim ends; waited on with the handle lock, held exactly once by the
// waiter (the dispatcher's own guard). Lives as long as the process, like the locks.
std::condition_variable_any& ClaimEnded() {
    static auto* cv = new std::condition_variable_any;
    return *cv;
}
std::atomic<int> g_claimWaiters{0};

// Waits, handle lock held, until a claim ends somewhere.
void WaitForClaimEnd(std::unique_lock<std::recursive_mutex>& handleLock) {
    ++g_claimWaiters;
    ClaimEnded().wait(handleLock);
    --g_claimWaiters;
}

// Claims a connection for a call on object: the busy marker, and this thread's claim.
// Handle lock held; the connection is not busy.
const CONN* Claim(CONN* conn, const void* object) {
    assert(conn->busy == nullptr);
    conn->busy = object;
    const CONN* previous = t_claimedConn;
    t_claimedConn = conn;
    return previous;
}

// Ends a claim: a connection whose handler closed it for good is unregistered and
// deleted, any other loses its busy marker; waiters are woken. Handle lock held.
void EndClaim(CONN* conn, const CONN* previous) {
    t_claimedConn = previous;
    if (conn->releaseAfterCall) {
        ConnFree(conn);
        delete conn;
    } else {
        conn->busy = nullptr;
    }
    if (g_claimWaiters.load() != 0)
        ClaimEnded().notify_all();
}

// The records that keep the handle's diagnostics on a connection, statement or
// descriptor are the diagnostic calls (SQLError, SQLGetDiagRec, SQLGetDiagField).
bool IsDiagnosticCall(const CALLREC& rec) {
    return rec.clearDiag == 0 && rec.kind != CALL_KIND_NONE && rec.kind != CALL_KIND_ENV;
}

SQLRETURN RunEnvCall(const CALLREC& rec, uint32_t id, const CallArgs& args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    std::unique_lock<std::recursive_mutex> handleLock(g.handleLock);
    if (!DrvIsInitialised())
        return SQL_ERROR;
    if (rec.kind == CALL_KIND_NONE)
        return RunHandler(rec, nullptr, args, hook);
    auto* envr = static_cast<ENVR*>(hdl_Lookup(&g.envTable, id));
    if (envr == nullptr || envr->magic != ENVR_MAGIC)
        return SQL_INVALID_HANDLE;
    if (rec.clearDiag)
        ErrListFree(envr->diag);
    auto* outer = t_envCallLock;
    t_envCallLock = &handleLock;
    SQLRETURN rc = RunHandler(rec, envr, args, hook);
    t_envCallLock = outer;
    return rc;
}

// A diagnostic call: waits until no call runs on the connection (unless the running call
// is this thread's own, calling back), then runs its handler under the handle lock, which
// every claim needs: no handler writes the diagnostics meanwhile.
SQLRETURN RunDiagnosticCall(const CALLREC& rec, uint32_t id, const CallArgs& args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    std::unique_lock<std::recursive_mutex> handleLock(g.handleLock);
    for (;;) {
        if (!DrvIsInitialised())
            return SQL_ERROR;
        Target t = FindTarget(rec.kind, id);
        if (t.object == nullptr)
            return SQL_INVALID_HANDLE;
        if (t.conn->busy == nullptr || t.conn == t_claimedConn)
            return RunHandler(rec, t.object, args, hook);
        WaitForClaimEnd(handleLock);  // the handle may be gone after: looked up again
    }
}

SQLRETURN RunConnCall(const CALLREC& rec, uint32_t id, const CallArgs& args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    Target t;
    bool skipDbLock;
    const CONN* previousClaim;
    {
        std::lock_guard<std::recursive_mutex> handleGuard(g.handleLock);
        if (!DrvIsInitialised())
            return SQL_ERROR;
        t = FindTarget(rec.kind, id);
        if (t.object == nullptr)
            return SQL_INVALID_HANDLE;
        if (const void* busy = t.conn->busy) {
            if (busy == t.object && rec.kind != CALL_KIND_DBC)
                return SQL_STILL_EXECUTING;
            // The running call owns its own handle's diagnostics: the refusal is written
            // only into another handle's, or where the claim is this thread's own.
            if (busy != t.object || t_claimedConn == t.conn)
                t.diag->errCode = ERR_FUNCTION_SEQUENCE_ERROR;
            return SQL_ERROR;
        }
        previousClaim = Claim(t.conn, t.object);
        skipDbLock = g.skipDbLock.load() != 0;
    }

    // Whatever happens below, the claim ends: a connection left busy would refuse every
    // later call.
    struct ClaimGuard {
        CONN* conn;
        const CONN* previous;
        ~ClaimGuard() {
            std::lock_guard<std::recursive_mutex> handleGuard(Drv().handleLock);
            EndClaim(conn, previous);
        }
    } claim{t.conn, previousClaim};

    if (rec.clearDiag)
        ErrListFree(*t.diag);
    SQLRETURN rc;
    {
        HandlerLocks locks(t.conn, skipDbLock);
        rc = RunHandler(rec, t.object, args, hook);
    }
    // The application's failover callback runs with the claim still held (it reads the
    // called handle's diagnostics) but outside every lock.
    if (!t.conn->releaseAfterCall && rc != SQL_SUCCESS && rec.clearDiag)
        rc = static_cast<SQLRETURN>(CheckFailover(t.conn, rec.kind, rc));
    return rc;
}

SQLRETURN Dispatch(const CALLREC& rec, uint32_t id, const CallArgs& args, const CallHook* hook) {
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

}  // namespace

int ForEachEnvConnection(ENVR* envr, EnvConnWork work, void* context) {
    DRV_GLOBALS& g = Drv();
    std::unique_lock<std::recursive_mutex>* handleLock = t_envCallLock;
    // Ids, not pointers: while the handle lock is given up connections may come and go.
    std::vector<uint32_t> ids;
    for (const CONN* c = envr->conns; c != nullptr; c = c->next)
        ids.push_back(c->id);
    int passedOver = 0;
    struct Walk {
        ENVR* envr;
        explicit Walk(ENVR* e) : envr(e) { ++envr->connWalks; }
        ~Walk() { --envr->connWalks; }
    } walk(envr);
    for (uint32_t id : ids) {
        CONN* conn = nullptr;
        for (;;) {
            conn = static_cast<CONN*>(hdl_Lookup(&g.connTable, id));
            if (conn == nullptr || conn->magic != CONN_MAGIC || conn->envr != envr) {
                conn = nullptr;  // freed meanwhile
                break;
            }
            if (conn->busy == nullptr)
                break;
            if (handleLock == nullptr) {
                ++passedOver;
                conn = nullptr;
                break;
            }
            WaitForClaimEnd(*handleLock);
        }
        if (conn == nullptr)
            continue;
        const bool skipDbLock = g.skipDbLock.load() != 0;
        // The claim names the environment: a call refused on the connection meanwhile
        // posts its refusal there, since the walk's work leaves the connection's
        // diagnostics alone. The claim ends, and the handle lock is back, however work
        // leaves.
        struct Step {
            std::unique_lock<std::recursive_mutex>* handleLock;
            CONN* conn;
            const CONN* previous;
            bool release = false;
            ~Step() {
                if (handleLock != nullptr && !handleLock->owns_lock())
                    handleLock->lock();
                conn->releaseAfterCall = release;
                EndClaim(conn, previous);
            }
        } step{handleLock, conn, Claim(conn, envr)};
        if (handleLock != nullptr)
            handleLock->unlock();
        HandlerLocks locks(conn, skipDbLock);
        step.release = work(conn, context);
    }
    return passedOver;
}

DbLockRelease::DbLockRelease() {
    if (t_handlerHoldsDbLock) {
        t_handlerHoldsDbLock = false;
        released_ = true;
        Drv().dbLock.unlock();
    }
}

DbLockRelease::~DbLockRelease() {
    if (released_) {
        Drv().dbLock.lock();
        t_handlerHoldsDbLock = true;
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

DIAG* ObjectDiag(int kind, void* object) {
    if (object == nullptr)
        return nullptr;
    switch (kind) {
    case CALL_KIND_ENV: return &static_cast<ENVR*>(object)->diag;
    case CALL_KIND_DBC: return &static_cast<CONN*>(object)->diag;
    case CALL_KIND_STMT: return &static_cast<STMT*>(object)->diag;
    case CALL_KIND_DESC: return &static_cast<DESC*>(object)->diag;
    default: return nullptr;
    }
}

SQLRETURN CallODBCv(const CALLREC& rec, SQLHANDLE handle, const CallArgs& args, const CallHook* hook) {
    if (!DrvIsInitialised())
        return SQL_ERROR;
    // No exception crosses into the caller: the trace lines allocate too. The handler's
    // own failures are posted on its handle by RunHandler; what fails out here has no
    // handle to post on.
    try {
        uint32_t id = HandleId(handle);
        if (TraceIsOn())
            TraceEntry(rec, id, args);
        SQLRETURN rc = Dispatch(rec, id, args, hook);
        if (TraceIsOn())
            TraceLog("[%lX] SQL%s: returning SQL_%s", CurrentThreadId(), rec.name, ReturnCodeName(rc));
        return rc;
    } catch (...) {
        return SQL_ERROR;
    }
}

void FormatTraceArgs(char* buf, size_t size, const char* fmt, const CallArgs& args) {
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
