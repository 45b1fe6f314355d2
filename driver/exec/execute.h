// Statement execution as the calls above it see it: the start of an execution on the
// driver's road of data at execution (the prologue that finds the values given at
// execution), the search for the next such value, the executions of both roads (the
// parameter dataset handed to the agent with the prepared statement, which the agent
// reuses across executions and across the sets of an array), the end of an execution
// (parameters processed, the IPD's status array, the statement executed) and the return
// of output parameters; SQLSetPos (driver/exec/setpos.cpp). SQLBulkOperations still
// answers "Driver not capable" (S1C00).
//
// Everything runs inside a call on the statement's connection. Results are ODBC return
// codes; a failure leaves its internal code in stmt->diag.errCode.
#pragma once

#include <sql.h>

#include <cstdint>

struct DATASET;
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

// The same for the bound columns of the rows a SQLSetPos update or add writes (the SetPos
// row alone, or every rowset row the row-operation array does not ignore).
bool StmtCheckDataAtExec(STMT* stmt);

// Executes the prepared statement with the parameters bound and the values given at
// execution collected (driver's road): S1010 before a prepare, 07001 for a described
// parameter that is not bound or (unless output) has neither data nor length buffer.
SQLRETURN StmtExecuteParams(STMT* stmt);

// Executes with the agent taking the values given at execution itself: S1010 before a
// prepare or while an exchange is pending, S1009 for a parameter without data and length
// buffer that is not output; SQL_NEED_DATA in state STMT_DAE_PARAMS when the agent asks
// for a value, the dataset kept on the statement until the exchange ends.
SQLRETURN StmtExecuteArray(STMT* stmt);

// Ends an execution whose exchange of values ended on the agent's road, the agent's code
// in stmt->diag.errCode. Success (with a warning too) leaves the statement executed, the
// sets sent processed and their statuses written, and returns output parameters; a
// failure pulls the agent's messages and reports the sets processed up to the failing one
// (SQL_ERROR).
SQLRETURN StmtAfterExecute(STMT* stmt);

// SQLCancel of an exchange of data at execution on the agent's road: the agent is told
// (slot 53), so that it drops the values it waits on, and the statement forgets its
// dataset. Nothing to do on the driver's road, whose pieces the next execution clears.
void StmtCancelDataAtExec(STMT* stmt);

// Where an output parameter's value goes: column `column` (from 1) of the output row, in
// the application's buffers of the parameter (set 0, bind offset applied).
struct OUTPARAM_BINDING {
    uint16_t column = 0;
    int16_t cType = 0;
    void* data = nullptr;
    SQLLEN bufferLength = 0;
    SQLLEN* octetLength = nullptr;
    SQLLEN* indicator = nullptr;
    int16_t scale = 0;
};
// Moves one value of the output row (row 0 of the dataset) into its binding, converting
// it to the C type; SQL_SUCCESS_WITH_INFO with 01004 posted when the value was cut. Column
// delivery's output-parameter mode (MoveOutParam, coldeliver.h) unless a test puts another
// in; null puts it back.
using OutParamMover = SQLRETURN (*)(STMT* stmt, const OUTPARAM_BINDING& binding, const DATASET* row);
void StmtSetOutParamMover(OutParamMover mover);

// Fetches the output row from the agent and moves each output and input/output value
// into the application's buffers. SQL_SUCCESS, SQL_SUCCESS_WITH_INFO when any value was
// cut, or the first failure (the values before it are kept).
SQLRETURN StmtReturnOutParams(STMT* stmt);

// SQLSetPos. Checked in this order: a lock other than SQL_LOCK_NO_CHANGE S1C00; an exchange
// of values pending S1010; no scrollable cursors IM001; a forward-only cursor S1109;
// update, delete or add under read-only concurrency S1009; no open cursor 24000; unless
// adding: no current rowset 24000, a row past the rowset size S1107, a row named alone
// that is missing (or, for refresh, update and delete, deleted or in error) S1109; an
// operation past SQL_ADD S1C00; update or add with no column bound 21S02. Then the cursor
// is positioned (row 0: every row) and the cursor library's slot 37 runs the operation;
// a refresh reads the rowset again and hands the target rows to the bound buffers. Update
// and add answer SQL_NEED_DATA while values given at execution are wanted (the agent asks
// for them when the connection has cn_hasV2DAE, else the driver collects them first).
// The statuses the library hands back go to the rowset and the application's row-status
// array; one row that changed nothing (01S03) is SQL_ERROR, some rows of many (01S04,
// 01S01) SQL_SUCCESS_WITH_INFO.
SQLRETURN StmtSetPos(STMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lock);
// The driver's road once every value given at execution is collected: the update or add
// with the SetPos row and operation.
SQLRETURN StmtSetPosLocal(STMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation);
// The end of a positioned operation with the library's code and statuses (freed here).
SQLRETURN StmtSetPosComplete(STMT* stmt, int rc, uint16_t* rowStatus, int32_t count);
// SQLBulkOperations on a static or keyset-driven cursor (else IM924): SQL_ADD adds the rows
// of the bound arrays (SQLSetPos row 0, SQL_ADD); SQL_UPDATE_BY_BOOKMARK, SQL_DELETE_BY_BOOKMARK
// and SQL_FETCH_BY_BOOKMARK work on the rows named by the bound bookmark column (read at
// its C type and stride; each must lie in the current rowset, else IM925; after any bulk
// operation there is none until a fetch), the row count being the ARD's array size. An
// operation outside 4-7 is HY092 before any work; bookmarks off or column 0 unbound HY092;
// no result 24000. The update collects values given at execution itself (SQL_NEED_DATA) on
// either road. Statuses go to the IRD's row-status array in the bookmarks' order, the
// count to its rows-processed and the statement's rows-fetched pointers; a fetch hands its
// rows to the bound columns in the same order (the bookmark column keeps the
// application's bookmarks).
SQLRETURN StmtBulkOperations(STMT* stmt, SQLUSMALLINT operation);
// The update by bookmark once its values given at execution are collected.
SQLRETURN StmtBulkUpdateCollected(STMT* stmt);
