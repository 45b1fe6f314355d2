// Statement execution as the calls above it see it: the start of an execution on the
// driver's road of data at execution (the prologue that finds the values given at
// execution), the search for the next such value, and the steps that finish an
// execution, a SQLSetPos or a SQLBulkOperations once their values are in.
//
// Execution proper (the parameter dataset, the agent's execute, row counts and output
// parameters) is not built yet: the steps that need it answer "Driver not capable"
// (S1C00) for now, each marked where it stands.
//
// Everything runs inside a call on the statement's connection. Results are ODBC return
// codes; a failure leaves its internal code in stmt->diag.errCode.
#pragma once

#include <sql.h>

struct STMT;

// Starts an execution on the driver's road: S1010 while an exchange of data at execution
// is pending; drops the pieces of an earlier exchange; when a parameter's length marks
// its value as given at execution, enters state STMT_DAE_PARAMS positioned on it and returns
// SQL_NEED_DATA; otherwise refreshes the parameters' buffers from the current APD and
// returns SQL_SUCCESS.
SQLRETURN StmtExecutePrologue(STMT* stmt);

// From the stored next position and row on, the next parameter whose length marks a
// value given at execution (reading each row's length where the APD's bind offset and
// bind type put it). True with the position and row left on it; false with both reset.
bool StmtCheckDataAtExecParams(STMT* stmt);

// The same for the bound columns of a SQLSetPos or SQLBulkOperations row set.
bool StmtCheckDataAtExec(STMT* stmt);

// Executes the prepared statement with the parameters bound (driver's road).
SQLRETURN StmtExecuteParams(STMT* stmt);

// Executes with the agent taking the values given at execution itself: S1010 before a
// prepare or while an exchange is pending, S1009 for a parameter without data and length
// buffer that is not output; SQL_NEED_DATA in state STMT_DAE_PARAMS when a value is to come.
SQLRETURN StmtExecuteArray(STMT* stmt);

// Finishes an execution on the agent's road, the agent's code in stmt->diag.errCode: a
// failure pulls the agent's messages and reports the rows processed up to it
// (SQL_SUCCESS_WITH_INFO for a warning, else SQL_ERROR).
SQLRETURN StmtAfterExecute(STMT* stmt);

// Finish a SQLSetPos (driver's road with the SetPos row and operation, agent's road) or a
// SQLBulkOperations whose values are in.
SQLRETURN StmtSetPosLocal(STMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation);
SQLRETURN StmtSetPosComplete(STMT* stmt);
SQLRETURN StmtBulkOperations(STMT* stmt, SQLUSMALLINT operation);
