// Connection records: what the environment needs of them until the connection object
// proper is built (close, free and end of transaction).
#pragma once

#include <sql.h>

#include "driver/objects/handles.h"

// Closes the connection's server session, if any. Returns 0 or an internal error code.
int ConnClose(CONN* conn);
// Unlinks the connection from its environment, unregisters and releases it. Handle lock held.
void ConnFree(CONN* conn);
// Commits (0) or rolls back (1) the connection's transaction; ODBC return code, with the
// internal code on the connection when it fails.
SQLRETURN ConnEndTran(CONN* conn, int completionType);
