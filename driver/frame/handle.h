// What every handle record starts with, and all that the dispatcher and the diagnostics
// read of one: the kind and magic that validate it, its diagnostics, its owning connection
// and that connection's call gate (the claim of the running call and the call lock).
//
// The four records (driver/objects/envr.h, conn.h, stmt.h, desc.h) derive from HANDLE_HDR;
// the handle tables hold HANDLE_HDR pointers, so an object is registered, looked up and
// handed to its handler as its header, and only the objects' modules cast it further.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "driver/diag/diag.h"
#include "platform/txcoord/handoff_lock.h"

// The handle kinds of the call records (1 none, then one per ODBC handle type).
enum CallKind : int {
    CALL_KIND_NONE = 1,
    CALL_KIND_ENV = 2,
    CALL_KIND_DBC = 3,
    CALL_KIND_STMT = 4,
    CALL_KIND_DESC = 5,
};

constexpr int32_t ENVR_MAGIC = 0x3144;
constexpr int32_t CONN_MAGIC = 0x3244;
constexpr int32_t STMT_MAGIC = 0x3344;
constexpr int32_t DESC_MAGIC = 0x3444;
constexpr int32_t FREED_MAGIC = -1;

// The magic of a live record of the kind; 0 for a kind without records.
constexpr int32_t MagicOf(int kind) {
    switch (kind) {
    case CALL_KIND_ENV: return ENVR_MAGIC;
    case CALL_KIND_DBC: return CONN_MAGIC;
    case CALL_KIND_STMT: return STMT_MAGIC;
    case CALL_KIND_DESC: return DESC_MAGIC;
    default: return 0;
    }
}

struct CONN;
struct HANDLE_HDR;

// A statement or descriptor record that a handler has freed: unregistered and marked
// FREED_MAGIC inside the handler, its memory released by destroy (its module's function)
// once the call's claim ends, under the handle lock.
struct DOOMED_RECORD {
    HANDLE_HDR* record;
    void (*destroy)(HANDLE_HDR* record);
};

// What the calls on one connection share: the dispatcher claims it for one call at a time
// and runs the handler under it. Gates come from a pool and are never freed (GateAcquire):
// a call claims the gate it found beside a handle in the handle table without the handle
// lock, and may do so just after that handle and its connection are gone; it then finds
// the handle's slot changed and lets go, but the word it claimed must still be memory.
struct CALL_GATE {
    HANDLE_HDR* owner = nullptr;  // the connection
    // The handle whose call is running on the connection (the connection, one of its
    // statements or descriptors, or an environment working on it), one of the dispatcher's
    // markers (a claim being checked, a diagnostic call reading), or null. Taken by
    // compare-and-swap from null, with or without the handle lock; cleared by the claim's
    // end (dispatch.cpp says how waiters still wake). While it is null no handler runs on
    // the connection.
    std::atomic<const HANDLE_HDR*> busy{nullptr};
    // Threads under the handle lock that touch a record of the connection without claiming
    // the gate (writing a refusal, SQLCancel of the running call): a claim taken without the
    // handle lock meanwhile gives way to them.
    std::atomic<int> visitors{0};
    // Set by a handler that has closed the connection for good (SQLFreeConnect): the
    // dispatcher destroys it (destroy) once the call's locks are down. Claim holder only.
    bool releaseAfterCall = false;
    // The lock a distributed-transaction dispenser holds from the coordinator's prepare to
    // its commit or abort, which may come on another thread; the dispenser may outlive the
    // connection: hence a lock another thread may release, owned jointly. The dispatcher
    // takes it around every handler once the connection has handed it out (GateShareCallLock
    // sets callLockShared; claim holder only); before, the claim alone keeps calls apart.
    std::shared_ptr<HandoffLock> sharedCallLock;
    bool callLockShared = false;
    HandoffLock& CallLock() { return *sharedCallLock; }
    // Destroys the owner once its call has closed it for good; set by the owner's module,
    // the one place its kind of record goes. Handle lock held.
    void (*destroy)(HANDLE_HDR* owner) = nullptr;
    // Statements and descriptors freed by the running call (GateDefer). Another thread may
    // be between looking one up under the handle lock and reading its magic, so their
    // memory goes only under the handle lock: at the end of the claim, or when the
    // connection itself goes. Claim holder only.
    std::vector<DOOMED_RECORD> doomed;
    FailoverCallback failover = nullptr;
    void* failoverContext = nullptr;
    CALL_GATE* nextFree = nullptr;  // the pool's list
};

// A gate from the pool with every field as new and a call lock of its own. Throws
// std::bad_alloc when memory runs out.
CALL_GATE* GateAcquire();
// Gives a gate back to the pool, its claim cleared last. The connection that used it has
// left its handle table; handle lock held, or the connection was never registered.
void GateRecycle(CALL_GATE* gate);
// Deletes the gates the pool holds; only at the library's unload, when no call can be inside.
void GatePoolRelease();
// Inside a handler on the gate's connection: the call lock, to hand to a distributed-
// transaction dispenser. From now on every handler on the connection runs under it, the
// running one too.
std::shared_ptr<HandoffLock> GateShareCallLock(CALL_GATE* gate);

struct HANDLE_HDR {
    // First in every record; FREED_MAGIC once the object is freed. Atomic: a handler sets
    // it without the handle lock while the dispatcher may read it under that lock.
    std::atomic<int32_t> magic;
    int32_t kind;   // CallKind
    uint32_t id = 0;
    DIAG diag;
    CONN* conn = nullptr;        // owning connection (itself for a connection); null for an environment
    CALL_GATE* gate = nullptr;   // the owning connection's gate; null for an environment

protected:
    explicit HANDLE_HDR(int32_t k) : magic(MagicOf(k)), kind(k) {}
    ~HANDLE_HDR() = default;
};

// Hands a freed record (already unregistered, magic FREED_MAGIC) to the gate: it is
// destroyed when the running call's claim ends. Inside a handler on the gate's connection.
inline void GateDefer(CALL_GATE* gate, HANDLE_HDR* record, void (*destroy)(HANDLE_HDR*)) {
    gate->doomed.push_back(DOOMED_RECORD{record, destroy});
}

// Destroys the records handed to GateDefer. Handle lock held, no call running on them.
inline void GateReleaseDoomed(CALL_GATE* gate) {
    if (gate->doomed.empty())
        return;  // the end of nearly every call
    std::vector<DOOMED_RECORD> doomed;
    doomed.swap(gate->doomed);
    for (const DOOMED_RECORD& d : doomed)
        d.destroy(d.record);
}
