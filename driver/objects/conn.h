// Connection records: allocation, open (connect through the agent), close, free, end of
// transaction, and the agent's messages moved onto the connection.
//
// A connection binds its own agent operation holder when it opens and reaches the agent
// only through it. Failures leave an internal code in conn->diag.errCode and, where the
// agent explains them, its messages queued on the connection.
#pragma once

#include <sql.h>

#include "driver/objects/handles.h"

struct ConnInitialSql;

// A new connection at the head of the environment's list: state allocated, autocommit on,
// login timeout 120, the next sequence id, the information cache empty. Null when memory
// runs out (the environment then holds code 16). The caller registers it. Handle lock held.
CONN* ConnAlloc(ENVR* envr);

// Empties the cache of the agent's SQLGetInfo answers.
void ConnResetOptions(CONN* conn);

// Connects an allocated connection through the agent; 'W' opens it in wide mode. The
// request carries the process-wide settings (ConnProcessSettings, connconf.h), so the
// connect lock is held. The agent runs the initial SQL, when given, on the new
// connection. The outcome is in conn->state (connected or not) and conn->diag.errCode;
// whatever the agent gave is given back on every failure. Returns SQL_ERROR when not
// connected, SQL_SUCCESS_WITH_INFO when connected but the initial SQL could not be read or
// run (the server's messages, or a 01000 message saying why, queued on the connection),
// else SQL_SUCCESS.
SQLRETURN ConnOpen(CONN* conn, int width, const ConnInitialSql* initSql = nullptr);

// Disconnects (when connected) and resets the connection. 0, or an internal code with the
// connection still connected and its statements as they were.
int ConnClose(CONN* conn);

// Closes a connection whose environment is going: as ConnClose, but a refusal (an agent
// that will not disconnect, a transaction still enlisted) stops nothing, so that the agent
// connection and the server reference are given back all the same.
void ConnCloseForGood(CONN* conn);

// Unlinks the connection from its environment, drops its settings and messages, marks it
// freed and unregisters it. The memory and the locks stay for the caller to release once
// no lock of the connection is held any more. Handle lock held.
void ConnFree(CONN* conn);

// Drops the settings that came from the connect string and the data source.
void ConnFreeSettings(CONN* conn);

// Commits (0) or rolls back (1). SQL_SUCCESS, or SQL_ERROR with the code on the
// connection.
SQLRETURN ConnEndTran(CONN* conn, int completionType);

// The agent's commit (SQL_COMMIT) or rollback of a connected connection, for an
// environment's end of transactions: the agent's messages on a failure go to messages,
// and the connection's own diagnostics stay as they are. 0 or an internal code.
int ConnEndTranOn(CONN* conn, int completionType, DIAG& messages);

// Moves the agent connection's messages onto the statement, or onto the connection when
// stmt is null; the agent server's messages always onto the connection. Return how many
// were moved.
int ConnGetAgentErrors(CONN* conn, STMT* stmt);
int ConnGetServerErrors(CONN* conn);

// Closes and frees the connection's statements, first to last; frees the explicit
// descriptors allocated on it. Statements and descriptors do not hang on connections yet:
// both do nothing until the statement and descriptor objects fill them in.
void ConnFreeStatements(CONN* conn);
void ConnFreeUserDescs(CONN* conn);

// The binding of a connection's operation holder: DrvBindOpTable (the agent's table with
// the cursor library's hook) unless another binder is installed (tests bind scripted
// tables). Null restores DrvBindOpTable.
using ConnBindOpTableFn = int (*)(OA_OPHOLDER* holder);
void ConnSetOpTableBinder(ConnBindOpTableFn bind);
