// The call dispatcher: every exported ODBC call but SQLCancel reaches its handler through
// CallODBC with the call's static record. The dispatcher owns refusal before start-up, the
// trace lines, handle validation, the one-call-per-connection rule, clearing diagnostics,
// the locks around the handler and the release of a connection its handler freed.
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

// The diagnostics of a handler's object of the given kind; null for kind 1 or no object.
DIAG* ObjectDiag(int kind, void* object);

// Name of a return code in the exit trace line ("SUCCESS", "NO_DATA_FOUND", ...).
const char* ReturnCodeName(SQLRETURN rc);

// Formats the arguments with a trace format into buf (cut to size). Conversions read one
// slot each: %d %i %u %x %X %c with an optional l or h, and %p (%s prints the address
// too); "%%" is a percent sign. Never reads a slot that is not there.
void FormatTraceArgs(char* buf, size_t size, const char* fmt, const CallArgs& args);
