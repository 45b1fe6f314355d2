// The call dispatcher: every exported ODBC call but SQLCancel reaches its handler through
// CallODBC with the call's static record. The dispatcher owns refusal before start-up, the
// trace lines, handle validation, the one-call-per-connection rule, clearing diagnostics,
// the locks around the handler and the release of a connection its handler freed.
//
// Lock order, outer to inner, on every path:
//   handle lock -> a connection's call lock -> database lock -> connect lock -> trace lock
// (a handle table's own lock is taken only inside one table operation). The handle lock is
// never held while waiting for another lock or for a running call: a call claims its
// connection (the busy marker) under the handle lock, gives it up, and only then takes the
// call lock and the database lock. Environment handlers run inside the handle lock; those
// that reach connections do so through ForEachEnvConnection, which claims each connection
// and takes its locks as a call on it would, with the handle lock given up meanwhile.
//
// Claims: a connection, statement or descriptor call claims the connection for its whole
// handler; another call on the connection is then refused (S1010, or SQL_STILL_EXECUTING
// on the same statement or descriptor) and writes its refusal only into diagnostics that
// the running call does not own. Diagnostic calls (the records that keep diagnostics) are
// never refused and claim nothing: they wait until no call runs on the connection, then
// read under the handle lock.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

enum CallKind : int {
    CALL_KIND_NONE = 1,
    CALL_KIND_ENV = 2,
    CALL_KIND_DBC = 3,
    CALL_KIND_STMT = 4,
    CALL_KIND_DESC = 5,
};

// Width marker passed last by the entries that serve both text widths.
constexpr int WIDTH_NARROW = 'A';
constexpr int WIDTH_WIDE = 'W';

// The arguments after the handle, each widened to a 64-bit slot: signed integers are
// sign-extended, unsigned ones and pointers zero-extended.
struct CallArgs {
    const uint64_t* slot;
    size_t count;

    // Argument i converted back to T; 0 (or null) past the end, never a read beyond it.
    template <class T>
    T get(size_t i) const {
        uint64_t v = i < count ? slot[i] : 0;
        if constexpr (std::is_pointer_v<T>)
            return reinterpret_cast<T>(static_cast<uintptr_t>(v));
        else
            return static_cast<T>(v);
    }
};

// Kind 1 handlers get a null object; the others the ENVR, CONN, STMT or DESC.
using CallHandler = SQLRETURN (*)(void* object, const CallArgs& args);

struct CALLREC {
    const char* name;         // ODBC name without "SQL"
    const char* traceFormat;  // printf format of the arguments after the handle, or ""
    int clearDiag;            // 1: clear the handle's diagnostics first; enables failover
    int kind;                 // CallKind
    CallHandler handler;
};

// The handle id carried in an ODBC handle; 0 (never a valid id) when the value does not
// fit in 32 bits.
inline uint32_t HandleId(SQLHANDLE h) {
    auto v = reinterpret_cast<uintptr_t>(h);
    return v > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(v);
}
inline SQLHANDLE HandleFromId(uint32_t id) {
    return reinterpret_cast<SQLHANDLE>(static_cast<uintptr_t>(id));
}

template <class T>
uint64_t ToCallSlot(T v) {
    if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>)
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v));
    else if constexpr (std::is_signed_v<T>)
        return static_cast<uint64_t>(static_cast<int64_t>(v));
    else
        return static_cast<uint64_t>(v);
}

struct DIAG;
struct ENVR;
struct CONN;

// Work that an entry needs done around the handler, inside the call's locks (the wide
// entries report a failed text copy and convert text results back there, so that their
// diagnostics land on the handle like the handler's own). Each gets the handle's object
// (null for kind 1). A result of `before` other than SQL_SUCCESS skips the handler and is
// the call's result; `after` gets the handler's result and returns the call's.
struct CallHook {
    SQLRETURN (*before)(void* context, int kind, void* object);
    SQLRETURN (*after)(void* context, int kind, void* object, SQLRETURN rc);
    void* context;
};

SQLRETURN CallODBCv(const CALLREC& rec, SQLHANDLE handle, const CallArgs& args, const CallHook* hook);

// For kind 1 the handle is ignored and every argument goes to the handler.
template <class... A>
SQLRETURN CallODBC(const CALLREC& rec, SQLHANDLE handle, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToCallSlot(args)...};
    return CallODBCv(rec, handle, CallArgs{slots, sizeof...(A)}, nullptr);
}

template <class... A>
SQLRETURN CallODBCHooked(const CALLREC& rec, SQLHANDLE handle, const CallHook& hook, A... args) {
    const uint64_t slots[sizeof...(A) + 1] = {ToCallSlot(args)...};
    return CallODBCv(rec, handle, CallArgs{slots, sizeof...(A)}, &hook);
}

// Inside a connection, statement or descriptor handler: gives up the database lock that
// the dispatcher took for the handler until the scope ends, for work that reaches no agent
// and may wait (reading configuration files), so that it stalls no other connection. The
// connection stays claimed and its call lock held. Does nothing where the handler runs
// without the database lock.
class DbLockRelease {
public:
    DbLockRelease();
    ~DbLockRelease();
    DbLockRelease(const DbLockRelease&) = delete;
    DbLockRelease& operator=(const DbLockRelease&) = delete;

private:
    bool released_ = false;
};

// For environment handlers that reach their connections' agents (ending transactions,
// closing the environment): runs work on each connection the environment holds when it is
// called, one at a time, holding what a call on that connection holds: the connection
// claimed (its busy marker holds the environment), its call lock and the database lock.
// work must leave the connection's diagnostics alone: a call refused on the connection
// meanwhile posts there. Inside an environment call it waits for a
// connection's running call to end and gives up the handle lock while it waits and while
// work runs; called with the handle lock held elsewhere (library detach, tests) it keeps
// that lock and passes over a connection with a running call. When work answers true the
// connection is freed (ConnFree) and deleted after it. Handle lock held on entry and on
// return. Returns the number of connections passed over.
using EnvConnWork = bool (*)(CONN* conn, void* context);
int ForEachEnvConnection(ENVR* envr, EnvConnWork work, void* context);

// The diagnostics of a handler's object of the given kind; null for kind 1 or no object.
DIAG* ObjectDiag(int kind, void* object);

// Name of a return code in the exit trace line ("SUCCESS", "NO_DATA_FOUND", ...).
const char* ReturnCodeName(SQLRETURN rc);

// Formats the arguments with a trace format into buf (cut to size). Conversions read one
// slot each: %d %i %u %x %X %c with an optional l or h, and %p (%s prints the address
// too); "%%" is a percent sign. Never reads a slot that is not there.
void FormatTraceArgs(char* buf, size_t size, const char* fmt, const CallArgs& args);
