// Column value delivery: values of dataset rows into application targets, the one road of
// every result value (bound columns at fetch in rowsets of any size, SQLGetData, output
// parameters). A request is planned once per binding and result (COL_PLAN: SQL_C_DEFAULT
// and SQL_ARD_TYPE resolved, code sets, a lane for the common pairs of element type and
// C type); each value then takes its plan's lane or the converter of its internal type,
// which stays the reference. It writes NULL indicators, serves the bookmark column, reads
// long values from the agent piece by piece, and keeps the statement's GETDATA_STATE so
// that repeated SQLGetData calls on one column go on where the last one stopped.
//
// Runs inside a call on the statement's connection. Results are ODBC return codes
// (SQL_NO_DATA only when a value has nothing more to give); SQL_ERROR and
// SQL_SUCCESS_WITH_INFO leave the internal code in stmt->diag.errCode.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "driver/objects/stmt.h"  // STMT, and COL_PLAN, which a binding keeps
#include "util/dataset.h"

// What a request delivers: a value of the result, or an output parameter's value from the
// output row, for which the application parameter descriptor stands in for the ARD and the
// plan is not kept.
enum class DeliveryMode : uint8_t { Result, OutputParam };

// One request for a value. SQLGetData passes its one length/indicator pointer as both
// pointers. Fixed-size C types are written at their natural width.
struct BINDING {
    uint16_t column = 0;          // from 1 in the dataset; 0 the bookmark column
    DeliveryMode mode = DeliveryMode::Result;
    int16_t cType = 0;            // SQL_C_DEFAULT and SQL_ARD_TYPE included
    int16_t fractionDigits = 0;   // of a timestamp output parameter (output-parameter mode)
    void* data = nullptr;
    SQLLEN bufferLength = 0;
    SQLLEN* octetLength = nullptr;
    SQLLEN* indicator = nullptr;
};

// Moves the value of column b.column, row `row` (from 0) of ds into b's target. In
// output-parameter mode (b.mode) the application parameter descriptor stands in for the
// ARD, with the in/out flag the binding's fraction digits for the column's, and the
// statement's code starts at 0.
//
// Failures (SQL_ERROR): 17 column out of range or SQL_ARD_TYPE without a descriptor
// record; 18 bookmark C type; 21 null data pointer; 49 an internal type no converter
// serves; 64 row out of range (a row of -1: nothing handed out yet); 118 NULL without an
// indicator; and the converters', the description loader's and the agent's codes. A failed
// value is forgotten: the next call on it starts afresh. The plan of a first access is
// kept (STMT::getDataPlans) for the same column and C type until the result changes.
SQLRETURN GetColumn(STMT* stmt, int32_t row, const BINDING& b, const DATASET* ds);

// GetColumn's first call on a whole value in the block whose column has a kept plan with a
// lane, for SQLGetData: the lane writes it and the place in it is left as GetColumn leaves
// it (the rest of a cut text, else nothing). It reaches no agent. -1 when the value is for
// GetColumn, with nothing written and the place untouched.
int GetWholeByLane(STMT* stmt, int32_t row, const BINDING& b, const DATASET* ds);

// The code set of the result's narrow text elements (DS_CHARZ and the other narrow
// layouts), which the agent fills: UTF-8 in the Unicode library, whose server always
// speaks UTF-8, else the connection's (CONN::narrow), in which the server writes it.
// SQL_C_CHAR text is in the connection's; a plan copies text as it stands only where the
// two are the same, and converts once otherwise.
NarrowCode ElementTextCode(const STMT* stmt);

// Plans column b.column of ds for the request b against the statement's descriptions and
// ARD as they stand (the plan's fields tell what for); posts nothing. Not ready when GetColumn
// has to answer instead (see COL_PLAN).
void PlanColumn(STMT* stmt, const BINDING& b, const DATASET* ds, COL_PLAN* plan);

// GetColumn for a bound value at fetch, through its plan (PlanColumn for the same column
// and request): the same values, lengths and diagnostics, without SQLGetData's place in
// the value, which a fetch forgets after the row anyway. A plan that is not ready, and a
// long value the agent keeps, go to GetColumn.
SQLRETURN GetBoundColumn(STMT* stmt, int32_t row, const BINDING& b, const COL_PLAN& plan, const DATASET* ds);

// A bound column of a rowset: its binding at the rowset's first element (the bind offset
// included), the bytes from one element to the next (the row size for row-wise binding),
// and its plan.
struct BOUND_COLUMN {
    BINDING binding;
    SQLLEN dataStride = 0;
    SQLLEN lengthStride = 0;
    COL_PLAN plan;
};

// What the values of one row of a rowset answered so far, and the code they left: each
// row starts with SQL_SUCCESS and 0.
struct ROW_OUTCOME {
    SQLRETURN rc = SQL_SUCCESS;
    int err = 0;
};

// Moves count rows of ds from row `first` into the column's elements from k0, in one loop
// of the plan's lane: GetBoundColumn for each, a row that already failed skipped (a failing
// column stops its row), and so is an element whose indicator holds SQL_COLUMN_IGNORE.
// Each value sees its own row's code, so the rows answer exactly as they would moving row
// by row; rows[j] takes row first + j's outcome. The caller leaves out columns whose values
// the agent may keep (long values), whose pieces would then be asked in another order.
void DeliverColumnRows(STMT* stmt, const BOUND_COLUMN& c, int32_t first, SQLULEN k0, SQLULEN count,
                       const DATASET* ds, ROW_OUTCOME* rows);

struct OUTPARAM_BINDING;
// Output-parameter mode of GetColumn for the return of output parameters: one value of
// the output row (row 0) into the parameter's buffers, the binding's scale standing for
// the fraction digits of a timestamp when the in/out flag is set.
SQLRETURN MoveOutParam(STMT* stmt, const OUTPARAM_BINDING& binding, const DATASET* row);

// Writes a bookmark (sign-extended to 8 bytes) into b's target of cType SQL_C_UBIGINT or
// SQL_C_BINARY: a binary buffer shorter than 8 bytes takes what fits, with 19 (01004) in
// *err. The octet length is 8.
SQLRETURN PutBookmark(const BINDING& b, int16_t cType, int32_t bookmark, int* err);

// Asks the agent for the next piece of the long value the GETDATA_STATE names, at most
// maxPiece bytes, into the state (which owns it). 0; 82 (IM907) when no more data; or the
// agent's code with its messages on the statement.
int GetColumnPiece(STMT* stmt, uint32_t maxPiece);
