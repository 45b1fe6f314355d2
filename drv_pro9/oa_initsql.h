// The initial SQL file of a data source (connect keyword INITSQL, setting InitialSQL): its
// whole contents run as one statement on a new connection, right after the connect.
//
// The outcome never changes the connect's result; a failure leaves an ERROR line in the
// log, and the connection stays open and usable.
#pragma once

#include <cstdint>

// Runs the file on the agent connection: the name gains the extension ".sql" when its last
// component has none; the contents are prepared with escape translation on a statement of
// their own and run once. The run is a statement like any other for the transaction: it
// begins one and, in autocommit, commits it; without autocommit the transaction stays open
// for the application to end. 0 when the statement ran, -1 otherwise (with the ERROR line
// "unable to read from initial SQL file %s (%m)", "stat failed on %s (%m)", "read error on
// %s (%m)", "preparation of %s failed" or "execution of %s failed").
int OA_RunInitialSql(uint32_t conn, const char* fileName);

// Runs the initial SQL file that the agent connection took over at connect (its
// InitialSQL setting) when it has one; the ODBC side's connection open calls it once the
// connection is up, and ignores the result. 0 when there is none or it ran, else -1.
int OA_RunConnInitialSql(uint32_t conn);
