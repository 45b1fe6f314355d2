// Environment records: the global environment list and the release of an environment
// with its connections.
#pragma once

#include "driver/objects/handles.h"

// True when a call is running on any connection of the environment. Handle lock held.
bool EnvrHasBusyConn(const ENVR* envr);
// Unlinks the environment from the global list and its table, frees its connections and
// itself. Handle lock held; no call may be inside any of its connections.
void EnvrRelease(ENVR* envr);
