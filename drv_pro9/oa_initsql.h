// The initial SQL of a data source (connect keyword INITSQL, setting InitialSQL): the
// file's whole contents run as one statement on a new connection, as part of its connect
// (OA_Connect), which the ODBC side hands them to with the connect request.
//
// The outcome never fails the connect: a failure leaves an ERROR line in the log and the
// server's messages on the connection's list, which the ODBC side reports as a warning;
// the connection stays open and usable.
#pragma once

#include <cstdint>

// Runs the text on the agent connection: prepared with escape translation on a statement
// of its own and run once. The run is a statement like any other for the transaction: it
// begins one and, in autocommit, commits it; without autocommit the transaction stays open
// for the application to end. 0 when the statement ran; -1 otherwise, with the ERROR line
// "preparation of %s failed" or "execution of %s failed" (the file's name) and the
// statement's messages moved onto the connection's list.
int OA_RunInitialSql(uint32_t conn, const char* name, const char* text);
