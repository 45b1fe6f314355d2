// The call dispatcher.
#include "driver/frame/dispatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <new>
#include <string>

#include "driver/diag/diag.h"
#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
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

SQLRETURN RunEnvCall(const CALLREC& rec, uint32_t id, const CallArgs& args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    std::lock_guard<std::recursive_mutex> handleGuard(g.handleLock);
    if (!DrvIsInitialised())
        return SQL_ERROR;
    if (rec.kind == CALL_KIND_NONE)
        return RunHandler(rec, nullptr, args, hook);
    auto* envr = static_cast<ENVR*>(hdl_Lookup(&g.envTable, id));
    if (envr == nullptr || envr->magic != ENVR_MAGIC)
        return SQL_INVALID_HANDLE;
    if (rec.clearDiag)
        ErrListFree(envr->diag);
    return RunHandler(rec, envr, args, hook);
}

SQLRETURN RunConnCall(const CALLREC& rec, uint32_t id, const CallArgs& args, const CallHook* hook) {
    DRV_GLOBALS& g = Drv();
    Target t;
    bool skipDbLock;
    {
        std::lock_guard<std::recursive_mutex> handleGuard(g.handleLock);
        if (!DrvIsInitialised())
            return SQL_ERROR;
        t = FindTarget(rec.kind, id);
        if (t.object == nullptr)
            return SQL_INVALID_HANDLE;
        if (t.conn->busy != nullptr) {
            if (t.conn->busy == t.object && rec.kind != CALL_KIND_DBC)
                return SQL_STILL_EXECUTING;
            t.diag->errCode = ERR_FUNCTION_SEQUENCE_ERROR;
            return SQL_ERROR;
        }
        t.conn->busy = t.object;
        skipDbLock = g.skipDbLock.load() != 0;
    }

    if (rec.clearDiag)
        ErrListFree(*t.diag);
    SQLRETURN rc;
    {
        HandlerLocks locks(t.conn, skipDbLock);
        rc = RunHandler(rec, t.object, args, hook);
    }

    std::lock_guard<std::recursive_mutex> handleGuard(g.handleLock);
    if (rec.kind == CALL_KIND_DBC && t.conn->magic == FREED_MAGIC) {
        // The handler freed the connection and left only its memory to us.
        delete t.conn;
        return rc;
    }
    if (rc != SQL_SUCCESS && rec.clearDiag)
        rc = static_cast<SQLRETURN>(CheckFailover(t.conn, rec.kind, rc));
    t.conn->busy = nullptr;
    return rc;
}

}  // namespace

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
    uint32_t id = HandleId(handle);
    const bool tracing = TraceIsOn();
    if (tracing)
        TraceEntry(rec, id, args);

    SQLRETURN rc;
    switch (rec.kind) {
    case CALL_KIND_NONE:
    case CALL_KIND_ENV:
        rc = RunEnvCall(rec, id, args, hook);
        break;
    case CALL_KIND_DBC:
    case CALL_KIND_STMT:
    case CALL_KIND_DESC:
        rc = RunConnCall(rec, id, args, hook);
        break;
    default:
        if (tracing)
            TraceLog("CallODBC: internal error");
        rc = SQL_ERROR;
        break;
    }

    if (TraceIsOn())
        TraceLog("[%lX] SQL%s: returning SQL_%s", CurrentThreadId(), rec.name, ReturnCodeName(rc));
    return rc;
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
