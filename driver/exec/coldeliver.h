// Column value delivery: one value of one dataset row into one application target, the
// road of every result value (bound columns at fetch, SQLGetData, output parameters). It
// resolves SQL_C_DEFAULT and SQL_ARD_TYPE, writes NULL indicators, serves the bookmark
// column, reads long values from the agent piece by piece, hands the value to the
// converter of its internal type, and keeps the statement's GETDATA_STATE so that repeated
// SQLGetData calls on one column go on where the last one stopped.
//
// Runs inside a call on the statement's connection. Results are ODBC return codes
// (SQL_NO_DATA only when a value has nothing more to give); SQL_ERROR and
// SQL_SUCCESS_WITH_INFO leave the internal code in stmt->diag.errCode.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "driver/objects/stmt.h"  // STMT, and BOUND_TARGET, which a binding keeps
#include "util/dataset.h"

// One request for a value. SQLGetData passes its one length/indicator pointer as both
// pointers. Fixed-size C types are written at their natural width.
struct BINDING {
    uint16_t column = 0;          // from 1 in the dataset; 0 the bookmark column
    int16_t cType = 0;            // SQL_C_DEFAULT and SQL_ARD_TYPE included
    int16_t fractionDigits = 0;   // of a timestamp output parameter (output-parameter mode)
    void* data = nullptr;
    SQLLEN bufferLength = 0;
    SQLLEN* octetLength = nullptr;
    SQLLEN* indicator = nullptr;
};

// The code set of the text in the agent's result datasets (narrow text elements): UTF-8
// in the Unicode library, whose server always speaks UTF-8, else the application's narrow
// code set (CONN::narrow), in which the server writes it. Delivery converts from it once.
NarrowCode ElementTextCode(const CONN* conn);

// Moves the value of column b.column, row `row` (from 0) of ds into b's target. A caller
// returning output parameters sets stmt->diag.errCode to 80 (IM906) before each call: the
// application parameter descriptor then stands in for the ARD, and with the in/out flag
// the binding's fraction digits for the column's.
//
// Failures (SQL_ERROR): 17 column out of range or SQL_ARD_TYPE without a descriptor
// record; 18 bookmark C type; 21 null data pointer; 49 an internal type no converter
// serves; 64 row out of range (a row of -1: nothing handed out yet); 118 NULL without an
// indicator; and the converters', the description loader's and the agent's codes. A failed
// value is forgotten: the next call on it starts afresh.
SQLRETURN GetColumn(STMT* stmt, int32_t row, const BINDING& b, const DATASET* ds);

// Resolves the binding b of a bound column against the statement's descriptions and ARD
// as they stand; posts nothing.
void PlanBoundColumn(STMT* stmt, const BINDING& b, const DATASET* ds, BOUND_TARGET* plan);

// GetColumn for a bound column at fetch, its target resolved by PlanBoundColumn for the
// same binding: the same values, lengths and diagnostics, without SQLGetData's place in the
// value, which a fetch forgets after the row anyway. A plan that is not ready, and a long
// value the agent keeps, go to GetColumn.
SQLRETURN GetBoundColumn(STMT* stmt, int32_t row, const BINDING& b, const BOUND_TARGET& plan, const DATASET* ds);

// A bound column of a rowset: its binding at the rowset's first element (the bind offset
// included), the bytes from one element to the next, and its plan.
struct BOUND_COLUMN {
    BINDING binding;
    SQLLEN dataStride = 0;
    SQLLEN lengthStride = 0;
    BOUND_TARGET plan;
};

// What the values of one row of a rowset answered so far, and the code they left: each
// row starts with SQL_SUCCESS and 0.
struct ROW_OUTCOME {
    SQLRETURN rc = SQL_SUCCESS;
    int err = 0;
};

// GetBoundColumn for count rows of ds from row `first` into the column's elements from
// k0, column by column so that a lane runs as one loop: a row that already failed is
// skipped (a failing column stops its row), and so is an element whose indicator holds
// SQL_COLUMN_IGNORE. Each value sees its own row's code as stmt->diag.errCode, so the rows
// answer exactly as they would moving row by row; rows[j] takes row first + j's outcome.
// The caller leaves out columns whose values the agent may keep (long values), whose
// pieces would then be asked in another order.
void GetBoundColumnRows(STMT* stmt, const BOUND_COLUMN& c, int32_t first, SQLULEN k0, SQLULEN count,
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
