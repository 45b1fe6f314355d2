// The call dispatcher.
#include "driver/frame/dispatch.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

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

// Holds a connection's call lock and, unless the thread mode skips it, the database lock,
// for the duration of one handler.
class HandlerLocks {
public:
    explicit HandlerLocks(CONN* conn, bool skipDbLock) : call_(conn->callLock) {
        if (!skipDbLock)
            db_.emplace(Drv().dbLock);
    }
private:
    std::lock_guard<std::recursive_mutex> call_;
    std::optional<std::lock_guard<std::recursive_mutex>> db_;
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

SQLRETURN RunEnvCall(const CALLREC& rec, uint32_t id, const CallArgs& args) {
    DRV_GLOBALS& g = Drv();
    std::lock_guard<std::recursive_mutex> handleGuard(g.handleLock);
    if (!DrvIsInitialised())
        return SQL_ERROR;
    if (rec.kind == CALL_KIND_NONE)
        return rec.handler(nullptr, args);
    auto* envr = static_cast<ENVR*>(hdl_Lookup(&g.envTable, id));
    if (envr == nullptr || envr->magic != ENVR_MAGIC)
        return SQL_INVALID_HANDLE;
    if (rec.clearDiag)
        ErrListFree(envr->diag);
    return rec.handler(envr, args);
}

SQLRETURN RunConnCall(const CALLREC& rec, uint32_t id, const CallArgs& args) {
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
        rc = rec.handler(t.object, args);
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

SQLRETURN CallODBCv(const CALLREC& rec, SQLHANDLE handle, const CallArgs& args) {
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
        rc = RunEnvCall(rec, id, args);
        break;
    case CALL_KIND_DBC:
    case CALL_KIND_STMT:
    case CALL_KIND_DESC:
        rc = RunConnCall(rec, id, args);
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
    for (const char* p = fmt; *p != '\0' && out < size - 1;) {
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
        bool isLong = false;
        bool isShort = false;
        while (*p == 'l' || *p == 'h') {
            if (*p == 'l')
                isLong = true;
            else
                isShort = true;
            ++p;
        }
        char conv = *p;
        if (conv == '\0')
            break;
        ++p;
        uint64_t v = next < args.count ? args.slot[next] : 0;
        ++next;
        char item[64];
        int n = 0;
        switch (conv) {
        case 'd':
        case 'i':
            if (isLong)
                n = std::snprintf(item, sizeof item, "%lld", static_cast<long long>(v));
            else if (isShort)
                n = std::snprintf(item, sizeof item, "%d", static_cast<int>(static_cast<int16_t>(v)));
            else
                n = std::snprintf(item, sizeof item, "%d", static_cast<int>(static_cast<int32_t>(v)));
            break;
        case 'u':
        case 'x':
        case 'X': {
            unsigned long long u = isLong ? v : isShort ? (v & 0xFFFFu) : (v & 0xFFFFFFFFu);
            const char* f = conv == 'u' ? "%llu" : conv == 'x' ? "%llx" : "%llX";
            n = std::snprintf(item, sizeof item, f, u);
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
            put(item, static_cast<size_t>(n) < sizeof item ? static_cast<size_t>(n) : sizeof item - 1);
    }
    buf[out] = '\0';
}
