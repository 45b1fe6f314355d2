// Environment records: allocation, the global environment list, open, close and free.
// Environment handlers run inside the handle lock, so no further lock guards a record; a
// handler that reaches its connections gives the lock up meanwhile and counts itself in
// connWalks, which keeps the record alive.
#pragma once

#include <optional>

#include "driver/objects/handles.h"

// A new environment at the head of the global list, with the next sequence id; state
// allocated, ODBC version 2. Null when out of memory. The caller registers it.
ENVR* EnvrAlloc();
// Allocated becomes open; any other state is left alone.
void EnvrOpen(ENVR* envr);
// Only when open: closes every connection for good (each under its claim and locks, see
// ForEachEnvConnection) and frees it, then back to allocated. Handle lock held.
void EnvrClose(ENVR* envr);
// Unlinks, drops the queued messages, unregisters and releases the environment.
void EnvrFree(ENVR* envr);
// The oldest queued message, removed from the list; nothing when the list is empty.
std::optional<ERRMSG> EnvrNextError(ENVR* envr);
// True when a call is running on any connection of the environment, or an environment
// call is walking its connections. Handle lock held.
bool EnvrInUse(const ENVR* envr);
