// Distributed transactions as the connection sees them: the resource dispenser that
// enlists a connection in a coordinator's transaction as an XA resource manager, and the
// whole enlistment sequence of SQL_ATTR_ENLIST_IN_DTC.
//
// The coordinator is the replaceable provider of platform/txcoord (by default there is
// none); the database side is the agent's XA slots 55 to 64, which the Progress agent
// leaves empty: its connections lack the XA capability, and their enlistment is refused
// before any coordinator or agent call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "drv_pro9/oa_optable.h"
#include "platform/txcoord/handoff_lock.h"
#include "platform/txcoord/txcoord.h"

// What a dispenser uses of its connection. Copies and shared ownership only: the
// coordinator may hold a dispenser after the connection has gone, and the dispenser then
// still locks live locks (the agent answers for a connection handle it no longer knows).
struct DTC_CONN_LINK {
    OA_OPHOLDER holder;   // the agent's tables live as long as the process
    uint32_t agentServer = 0;
    uint32_t agentConn = 0;
    bool hasXA = false;   // the agent's XA capability (capability bit 0x2000)
    std::shared_ptr<std::recursive_mutex> xaCallLock;  // around every agent XA call
    std::shared_ptr<HandoffLock> callLock;  // the one CallODBC takes; held from prepare to commit
};

// What the distributed-transaction code uses of the driver above it, handed down by the
// library's start-up (DtcSetHost), so that dtc/ includes nothing of the ODBC layer. Until
// then, and for a member left null: configuration values read as missing, no XA trace,
// and no driver connection behind any handle.
struct DTC_HOST {
    // A key of a section of "odbc.ini" or "odbcinst.ini" into buf, at most size - 1 bytes
    // and a NUL, the default (null counts as "") when missing; the bytes stored.
    int (*profileString)(const char* section, const char* key, const char* def, char* buf, int size,
                         const char* file);
    // Opens the XA trace when one is configured; nothing when it is open already.
    void (*traceOpen)();
    // True while the XA trace is open.
    bool (*traceOn)();
    // One line of the XA trace, after "[thread id] " when threadPrefix is not 0.
    void (*traceLine)(int threadPrefix, const char* line);
    // The link of the driver's connected connection behind the driver's own handle value
    // (SQL_DRIVER_HDBC); false when there is none.
    bool (*connLink)(void* driverHandle, DTC_CONN_LINK* out);
};
// Installs the host; null removes it. The record lives as long as the process.
void DtcSetHost(const DTC_HOST* host);

// Opaque handle of a connection's dispenser; null for none.
using DTC_DISPENSER = void*;

// A dispenser for the connection with one reference, for the coordinator's transaction
// and the data source, user and password its resource manager connects with; null when
// an argument is missing or memory runs out.
DTC_DISPENSER NewResourceDispenser(ITransaction* transaction, const DTC_CONN_LINK& link, const std::string& dsn,
                                   const std::string& user, const std::string& password);
// Releases one reference; the references left, or -1 for a null or unknown handle.
int ReleaseResourceDispenser(DTC_DISPENSER dispenser);
// Connects the dispenser to the coordinator's resource manager; 0, or -1 on failure or
// for a null or unknown handle.
int ResourceDispenserRMConnect(DTC_DISPENSER dispenser);
// Enlists the connection in the transaction given at creation; 0, or -1 on failure or for
// a null or unknown handle.
int ResourceDispenserRMEnlist(DTC_DISPENSER dispenser);

// What SQL_ATTR_ENLIST_IN_DTC knows of the connection.
struct DTC_ENLIST_TARGET {
    uint32_t odbcVersion = 2;  // of its environment
    bool connected = false;
    DTC_CONN_LINK link;
    std::string dsn;
    std::string user;
    std::string password;
};

// Sets SQL_ATTR_ENLIST_IN_DTC on a connection whose enlistment is *dispenser and *enlisted:
// a transaction enlists it, null un-enlists it.
// Returns 0 or an internal code: 1 (IM001) below ODBC 3 or without the XA capability,
// before anything else is asked; 52 (08003) when not connected; 65 (25000) to un-enlist a
// connection that is not enlisted, or to enlist one that is (un-enlist it first); 16 when
// memory runs out; 170 (IM932) when the runtime, the coordinator or the agent refuse.
int DtcSetEnlistment(DTC_DISPENSER* dispenser, int32_t* enlisted, const DTC_ENLIST_TARGET& target,
                     ITransaction* transaction);

// Drops the connection's reference at disconnect. 0, or 65 (25000) when the coordinator
// still holds the dispenser (the transaction has not ended); the connection forgets it in
// either case.
int DtcReleaseEnlistment(DTC_DISPENSER* dispenser, int32_t* enlisted);
