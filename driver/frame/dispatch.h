// The call dispatcher: every exported ODBC call but SQLCancel reaches its handler through
// CallODBC with the call's static record. The dispatcher owns refusal before start-up, the
// trace lines, handle validation, the one-call-per-connection rule, clearing diagnostics,
// the locks around the handler and the release of a connection its handler freed.
//
// Lock order, outer to inner, on every path:
//   handle lock -> a connection's call lock -> database lock -> connect lock -> trace lock
// (a handle table's own lock is taken only inside one table operation; the gate pool's
// lock is taken alone). The handle lock is never held while waiting for another lock or
// for a running call.
//
// Claims: a connection, statement or descriptor call claims the connection's gate for its
// whole handler; another call on the connection is then refused (S1010, or
// SQL_STILL_EXECUTING on the same statement or descriptor, unless its record has a
// whileRunning handler) and writes its refusal only into diagnostics that the running call
// does not own. An uncontended call takes its claim without the handle lock: it reads the
// handle's slot and the gate kept beside it without the table's lock, claims the gate with
// one compare-and-swap, and then checks that the slot has not changed (records leave their
// table only under their connection's claim, and gates are never freed). It then takes the
// database lock, and the call lock only once the connection has handed it to a
// distributed-transaction dispenser (a record taking the database lock on demand leaves it
// to its handler, DbLockOnDemand); the claim's end is one atomic store. Whatever is
// contended (a busy gate, a slot being written) is decided under the handle lock, as are
// environment calls; those that reach connections do so through RunOnConnection, which
// claims each connection and takes its locks as a call on it would, with the handle lock
// given up meanwhile. A handler that frees a statement or descriptor unregisters it and
// hands it to the gate (GateDefer, handle.h); the claim's end destroys it under the handle
// lock. Diagnostic calls (the records that keep diagnostics) are never refused: they wait
// until no call runs on the connection, then read under the handle lock with the gate
// claimed for reading.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

#include "driver/frame/trace.h"
#include "driver/frame/handle.h"

// Width marker of the calls that serve both text widths.
constexpr int WIDTH_NARROW = 'A';
constexpr int WIDTH_WIDE = 'W';

// ---- call arguments ----
//
// Every call has one argument struct: its entry fills it, its handler reads it by name
// (driver/handlers/*.h define them by family). A struct's TraceFields() gives the values
// that the trace line shows, in the order of the call record's trace format; a format that
// names fewer shows the first ones.

// The trace's view of a call's arguments: each widened to a 64-bit slot (signed integers
// sign-extended, unsigned ones and pointers zero-extended).
constexpr size_t TRACE_SLOTS_MAX = 16;
struct TraceSlots {
    uint64_t slot[TRACE_SLOTS_MAX] = {};
    size_t count = 0;
};

template <class T>
uint64_t ToCallSlot(T v) {
    if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>)
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v));
    else if constexpr (std::is_signed_v<T>)
        return static_cast<uint64_t>(static_cast<int64_t>(v));
    else
        return static_cast<uint64_t>(v);
}

template <class... T>
TraceSlots MakeTraceSlots(const T&... v) {
    static_assert(sizeof...(T) <= TRACE_SLOTS_MAX, "more arguments than a trace line shows");
    TraceSlots s;
    ((s.slot[s.count++] = ToCallSlot(v)), ...);
    return s;
}

template <class Args>
TraceSlots TraceOf(const Args& args) {
    return std::apply([](const auto&... v) { return MakeTraceSlots(v...); }, args.TraceFields());
}

// The arguments of a call without any after its handle.
struct NoArgs {
    std::tuple<> TraceFields() const { return {}; }
};

// The arguments of a call whose work this build does not do yet: its handler reads none,
// the trace shows them all.
struct PendingArgs {
    TraceSlots trace;
};
inline TraceSlots TraceOf(const PendingArgs& args) {
    return args.trace;
}
template <class... T>
PendingArgs Pending(T... v) {
    return PendingArgs{MakeTraceSlots(v...)};
}

// ---- call records ----

// The handler of a record: kind 1 handlers get a null object; the others the header of the
// environment, connection, statement or descriptor. args is the call's argument struct.
using CallHandler = SQLRETURN (*)(HANDLE_HDR* object, const void* args);

struct CALLREC {
    const char* name;         // ODBC name without "SQL"
    const char* traceFormat;  // printf format of the arguments after the handle, or ""
    int clearDiag;            // 1: clear the handle's diagnostics first; enables failover
    int kind;                 // CallKind
    CallHandler handler;
    // Run instead of refusing the call when the handle's own call is running on another
    // thread (SQLCancel): under the handle lock, without a claim or the call's locks, and
    // without clearing diagnostics. Null: such a call answers SQL_STILL_EXECUTING.
    CallHandler whileRunning = nullptr;
    // The handler takes the database lock itself, where it reaches the agent
    // (DbLockOnDemand): a call that mostly reads what the statement already holds.
    bool dbLockOnDemand = false;
};

// A record with the type of its calls' arguments: an entry can hand it no other struct.
template <class A>
struct CallRec {
    using Args = A;
    CALLREC rec;
};

template <class Args, SQLRETURN (*Handler)(HANDLE_HDR*, const Args&)>
SQLRETURN RunTypedHandler(HANDLE_HDR* object, const void* args) {
    return Handler(object, *static_cast<const Args*>(args));
}

template <class F>
struct HandlerTraits;
template <class A>
struct HandlerTraits<SQLRETURN (*)(HANDLE_HDR*, const A&)> {
    using Args = A;
};

// The record of the calls that Handler serves.
template <auto Handler>
constexpr auto MakeCall(const char* name, const char* traceFormat, int clearDiag, int kind) {
    using Args = typename HandlerTraits<decltype(Handler)>::Args;
    return CallRec<Args>{{name, traceFormat, clearDiag, kind, &RunTypedHandler<Args, Handler>}};
}

// As MakeCall, with the handler that serves the call while the handle's own call runs.
template <auto Handler, auto WhileRunning>
constexpr auto MakeCallWhileRunning(const char* name, const char* traceFormat, int clearDiag, int kind) {
    using Args = typename HandlerTraits<decltype(Handler)>::Args;
    static_assert(std::is_same_v<Args, typename HandlerTraits<decltype(WhileRunning)>::Args>);
    return CallRec<Args>{{name, traceFormat, clearDiag, kind, &RunTypedHandler<Args, Handler>,
                          &RunTypedHandler<Args, WhileRunning>}};
}

// The record r with its handler taking the database lock on demand (CALLREC::dbLockOnDemand).
template <class A>
constexpr CallRec<A> WithDbLockOnDemand(CallRec<A> r) {
    r.rec.dbLockOnDemand = true;
    return r;
}

// The handle id carried in an ODBC handle; 0 (never a valid id) when the value does not
// fit in 32 bits.
inline uint32_t HandleId(SQLHANDLE h) {
    auto v = reinterpret_cast<uintptr_t>(h);
    return v > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(v);
}
inline SQLHANDLE HandleFromId(uint32_t id) {
    return reinterpret_cast<SQLHANDLE>(static_cast<uintptr_t>(id));
}

// Work that an entry needs done around the handler, inside the call's locks (a wide entry
// reports a failed text copy there, so that its diagnostic lands on the handle like the
// handler's own). Each gets the handle's object (null for kind 1). A result of `before`
// other than SQL_SUCCESS skips the handler and is the call's result; `after` gets the
// handler's result and returns the call's.
struct CallHook {
    SQLRETURN (*before)(void* context, HANDLE_HDR* object);
    SQLRETURN (*after)(void* context, HANDLE_HDR* object, SQLRETURN rc);
    void* context;
};

// The dispatcher proper; trace is null while tracing is off.
SQLRETURN CallODBCv(const CALLREC& rec, SQLHANDLE handle, const void* args, const TraceSlots* trace,
                    const CallHook* hook);

// For kind 1 the handle is ignored.
template <class Args>
SQLRETURN CallODBC(const CallRec<Args>& r, SQLHANDLE handle, const Args& args, const CallHook* hook = nullptr) {
    if (!TraceIsOn())
        return CallODBCv(r.rec, handle, &args, nullptr, hook);
    const TraceSlots trace = TraceOf(args);
    return CallODBCv(r.rec, handle, &args, &trace, hook);
}

// Inside a connection, statement or descriptor handler: gives up the database lock that
// the dispatcher took for the handler until the scope ends, for work that reaches no agent
// and may wait (reading configuration files), so that it stalls no other connection. The
// connection stays claimed (and its call lock held, where taken). Does nothing where the
// handler runs without the database lock.
class DbLockRelease {
public:
    DbLockRelease();
    ~DbLockRelease();
    DbLockRelease(const DbLockRelease&) = delete;
    DbLockRelease& operator=(const DbLockRelease&) = delete;

private:
    bool released_ = false;
};

// Inside a handler whose record takes the database lock on demand: takes it for the rest
// of the handler unless it holds it already or the thread mode skips it. Before any work
// that may reach the agent. Elsewhere it does nothing.
void DbLockOnDemand();

// For environment handlers that reach a connection's agent (ending transactions, closing
// the environment; see EnvrForEachConnection): runs work on the connection with handle id
// connId holding what a call on it holds: the connection claimed (its busy marker holds
// the environment), the database lock and the call lock where a call takes it. work must
// leave the connection's diagnostics alone: a call refused on the connection meanwhile
// posts there. Inside an environment call it waits for a call running on the connection
// to end, and gives up the handle lock while it waits and while work runs; called with the
// handle lock held elsewhere (library detach, tests) it keeps that lock and passes a busy
// connection over. When work answers true the connection is destroyed after it
// (CALL_GATE::destroy). Handle lock held on entry and on return; never inside a handler.
using ConnWork = bool (*)(HANDLE_HDR* conn, void* context);
enum class ConnRun { Done, Gone, PassedOver };
ConnRun RunOnConnection(const HANDLE_HDR* envr, uint32_t connId, ConnWork work, void* context);

// Name of a return code in the exit trace line ("SUCCESS", "NO_DATA_FOUND", ...).
const char* ReturnCodeName(SQLRETURN rc);

// Formats the trace slots with a trace format into buf (cut to size). Conversions read one
// slot each: %d %i %u %x %X %c with an optional l or h, and %p (%s prints the address
// too); "%%" is a percent sign. Never reads a slot that is not there.
void FormatTraceArgs(char* buf, size_t size, const char* fmt, const TraceSlots& args);
