// The cursor library's bookkeeping of agent connections: a kept copy of each connection's
// connect parameters in its server's list (for a second connection with the same
// parameters, the row-version helper), and the connection's key-column cache.
//
// The lists are shared by every connection of the process and guarded by the
// connection-list lock (a process-lifetime std::recursive_mutex); everything else runs
// inside one ODBC call on its connection.
#pragma once

#include <cstdint>

#include "drv_pro9/oa_optable.h"

// After the agent's connect succeeded: keeps the request's parameters (never the initial
// SQL) at the tail of the server's list and gives the connection its SCS_CONN with an
// empty key-column cache. 0, or 16 (S1001) with nothing kept; the caller then
// disconnects the agent connection.
int scs_ConnectBookkeeping(uint32_t server, const OA_CONNREQ* req, uint32_t agentConn);
// Before the agent's disconnect: drops the connection's kept parameters (the password
// wiped first) and its key-column cache. 0, or 21 for an unknown connection.
int scs_DisconnectBookkeeping(uint32_t agentConn);
