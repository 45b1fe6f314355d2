// Data at execution in the agent: the pieces that SQLPutData delivers for the pending
// cells (indicator DS_IND_DATA_AT_EXEC) of a parameter set or of the row of a positioned
// update or add, collected per statement until every pending cell was offered, then merged
// into the dataset before the statement (or the positioned operation) runs.
//
// The exchange, as the ODBC side drives it through slots 38 (OA_ParamData) and 39
// (OA_PutData) when the agent reports OA_CAP_HAS_V2_DAE:
//   OA_Execute finds pending parameter cells: 102 (IM922), state 1. Each OA_ParamData
//   names the next pending cell (row-major: the later columns of a row before the next
//   row) and answers 102; OA_PutData calls in between add pieces to that cell. The
//   OA_ParamData that names the last cell moves to state 4; the one after it merges the
//   pieces and runs the statement, and its result is the execute's. The positioned
//   operation of the cursor library goes the same way through states 2 and 5.
// Whatever the deferred step answers, the exchange is over after it (state 0): a new
// execute starts a new one. A pending cell that received no piece is sent as NULL.
//
// All functions assume the caller's serialisation (the ODBC side's database lock).
#pragma once

#include <cstdint>

#include "drv_pro9/oa_services.h"
#include "util/dataset.h"

struct OA_STMT;

// States of OA_DAE::state.
constexpr int32_t DAE_NONE = 0;
constexpr int32_t DAE_PARAMS = 1;        // collecting parameter values
constexpr int32_t DAE_ROWS = 2;          // collecting the values of a positioned operation's row
constexpr int32_t DAE_PARAMS_DONE = 4;   // every parameter cell was offered
constexpr int32_t DAE_ROWS_DONE = 5;     // every row cell was offered

// The pieces collected for one row of a column.
struct DAE_CELL {
    unsigned char* data = nullptr;   // owned (C heap); null while empty
    uint32_t length = 0;             // bytes
    int16_t indicator = DS_IND_NULL; // NULL until a piece arrives, else 0
};

// One dataset column's collected values.
struct DAE_COL {
    int32_t cType = DS_NONE;   // DS_CTYPE of the column's first piece; none while only NULLs came
    int32_t rows = 0;
    DAE_CELL* cells = nullptr;
};

// An array of DAE_COL, one per dataset column, each with the same rows; frees the pieces
// when it goes.
struct DAE_COLS {
    DAE_COL* cols = nullptr;
    uint16_t count = 0;
    int32_t rows = 0;

    DAE_COLS() = default;
    ~DAE_COLS() { reset(); }
    DAE_COLS(const DAE_COLS&) = delete;
    DAE_COLS& operator=(const DAE_COLS&) = delete;
    // n columns of rows empty cells in place of the old ones. 0, or 16 (none then).
    int alloc(uint16_t n, int32_t rowCount);
    void reset();
};

// The data-at-execution record of an agent statement.
struct OA_DAE {
    int32_t state = DAE_NONE;
    int32_t nextRow = -1;     // the pending cell the next OA_ParamData names
    int32_t nextCol = -1;
    int32_t curRow = -1;      // the cell that OA_PutData fills
    int32_t curCol = -1;
    int32_t putCount = 0;     // OA_PutData calls since the last OA_ParamData
    DAE_COLS params;          // pieces of the parameter set
    DAE_COLS rows;            // pieces of the positioned operation's row
};


// Ends any exchange of the statement: state 0, no cells, both arrays freed. For the
// statement's reset and free.
void oa_DaeReset(OA_STMT* stmt);

// Called by the execute path once the parameters are set. Frees the previous parameter
// pieces; 0 when the parameter values hold no pending cell (the execute goes on).
// Otherwise starts the exchange on the first pending cell (state 1) and answers 102;
// 16 when the pieces cannot be set up (state 0 then).
int OA_ParamDataStart(OA_STMT* stmt);

// OA_SetPosDataAtExec: drv_pro9/oa_services.h (the cursor library calls it).

// Slot 38. Clears *outRowStatus; names the next pending cell (the parameter or column
// number from 0 in *outParam, the row in *outRow; outs may be null) and answers 102, or
// in states 4 and 5 merges the pieces and runs the statement or the positioned operation,
// answering its result (the positioned operation fills *outRowStatus and *outStatus).
// 22 without an exchange, 21 for an unknown handle; a failed merge gives 15 or 16.
int OA_ParamData(uint32_t stmt, int32_t* outParam, int32_t* outRow, uint16_t** outRowStatus, int32_t* outStatus);

// Slot 39. One piece (a DS_CTYPE, indicator -1 for NULL, length in bytes) of the current
// cell. 22 without an exchange, before the first OA_ParamData of one, and for a second
// piece of a fixed-size type; 15 for a piece of another type than the column's first
// piece; 21 for an unknown handle or data missing for a length; 16 on no memory (the cell
// keeps what it had). 0 in other states (nothing is kept).
int OA_PutData(uint32_t stmt, int16_t cType, int16_t indicator, const void* data, uint32_t length);

// ---- The steps, for the tests ------------------------------------------------------------

// One piece into row of the column: NULL empties the cell; a piece for a cell that holds
// bytes is appended (15 when its type is not the column's first piece's, 16 when the cell
// cannot grow); a first piece sets the column's type and the cell's bytes. 21 for a row
// outside the column or data missing for a length.
int DAE_ColPut(DAE_COL* col, int32_t row, int32_t cType, int16_t indicator, const void* data, uint32_t length);

// The largest value of the column's used rows, for the rebuilt column's element: pending
// rows count their pieces, the others their own value; in bytes, or in UCS-2 units for
// wide text (24, 25, 27).
uint64_t DAE_MaxLength(const DATASET_COL* col, const DAE_COL* dae, int32_t rowsUsed);

// Rebuilds a variable-length column (types 1 and 14-27 but 15) with an element that holds
// its longest value: pending rows of the used ones take their pieces (a LONGBINARY or
// LONGWCHAR piece moves into the dataset), the others keep their values. The new column
// replaces the old in place. 0, 15 for a type it cannot hold the pieces in, or 16.
int DAEDatasetColReplace(DATASET_COL* col, int32_t rowsAllocated, DAE_COL* dae);

// Merges the pieces into the dataset's pending cells. The dataset must have the shape the
// pieces were collected for; every column with a pending cell must have pieces of its own
// type or binary pieces ("DAEDatasetMerge: Type mismatch.", 15), and a fixed-size value
// must be whole. Checked for all columns before any changes. 0, 15 or 16.
int DAEDatasetMerge(OA_STMT* stmt, DATASET* ds, DAE_COLS* pieces);
