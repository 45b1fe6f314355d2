// Distributed transactions as the connection sees them: the resource dispenser that
// enlists a connection in a coordinator's transaction, and the start of the runtime.
//
// The coordinator's prepare, commit and abort requests are carried out through the
// agent's XA operations. The Progress agent has none (slots 55 to 64 are empty in every
// operation table of this driver) and Linux has no transaction coordinator, so every
// enlistment is refused: no dispenser is ever made, and the calls that take one answer
// as for an invalid handle.
#pragma once

#include <cstdint>
#include <mutex>

struct ENVR;
struct OA_OPHOLDER;

// Opaque handle of a connection's dispenser; null for none.
using DTC_DISPENSER = void*;

// Starts the runtime once per process. 0 on success; the caller reports anything else
// as code 170 (IM932).
int OleTxInit();

// A dispenser for the connection: the coordinator's transaction object, the references
// to the connection's environment and agent connection, its operation holder, its call
// lock and second lock (taken later on the coordinator's threads) and the connect string
// "DSN=...;UID=...;PWD=...;". Null on failure, which is every time with this agent.
DTC_DISPENSER NewResourceDispenser(void* transaction, ENVR** envr, uint32_t* agentConn, OA_OPHOLDER* holder,
                                   std::recursive_mutex* callLock, std::recursive_mutex* secondLock,
                                   const char* connStr);

// Releases one reference; the remaining count, or -1 for a null or unknown handle.
int ReleaseResourceDispenser(DTC_DISPENSER dispenser);

// Connects the dispenser to the coordinator's resource manager; 0, or -1 on failure or for
// a null handle.
int ResourceDispenserRMConnect(DTC_DISPENSER dispenser);

// Enlists the connection in the transaction given at creation; 0, or -1 on failure or for
// a null handle.
int ResourceDispenserRMEnlist(DTC_DISPENSER dispenser);
