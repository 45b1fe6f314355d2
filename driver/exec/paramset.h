// The parameter dataset of an execution: the direction of each parameter, the
// descriptions the agent is given (PARAM_DESC), and the one column-wise DATASET that
// carries every input value of every parameter set that is sent.
//
// Each column's internal type and element width are decided from all the sets before
// any row is allocated, and every cell is then converted to that type: a NULL, a value
// given at execution, an escape or a long value in one set never retypes or resizes the
// column under the other sets' cells.
//
// Runs inside a call on the statement's connection; failures are internal codes.
#pragma once

#include <sql.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "drv_pro9/oa_exec.h"
#include "util/dataset.h"

struct COLDESC;
struct PARAMREC;
struct STMT;

// Who takes the values given at execution: the driver has collected them (their pieces
// are the cells), or the agent asks for them later (their cells are marked -2).
enum class DaeRoad : uint8_t { Driver, Agent };

// The direction of a parameter (OA_PARAM_INPUT, _INPUT_OUTPUT, _OUTPUT): by the first two
// characters of the agent's name ("*O" output, "*B" input/output), and for "*U" by the
// type the application bound; anything else is input.
int16_t ParamDirection(const COLDESC& desc, const PARAMREC* bound);

// Counts the statement's input, output and input/output parameters from the described
// parameters and the current bindings.
void StmtCountParamDirections(STMT* stmt);

// The descriptions the agent is given: one per described parameter, each with its
// direction as the parameter type, so that they match the dataset's columns. Every
// described parameter must be bound.
std::vector<PARAM_DESC> StmtParamDescs(const STMT* stmt);

// The APD's bind offset (an SQLLEN added to every parameter address), 0 without one.
SQLLEN StmtParamBindOffset(const STMT* stmt);

// The parameter dataset of one execution: a new one (values), or the one given to refill
// (refilled, not owned).
struct PARAMSET {
    DatasetPtr values;               // one column per input and input/output parameter
    DATASET* refilled = nullptr;
    std::vector<uint32_t> setOfRow;  // the parameter set (from 0) that each row carries

    DATASET* dataset() const { return refilled != nullptr ? refilled : values.get(); }
};

// Builds the dataset of the sets not marked SQL_PARAM_IGNORE in the APD's operation
// array. When refill (may be null) has exactly the columns (types and widths) and rows
// planned, it is cleared and filled in place instead of allocating a new dataset; a
// failure then leaves it with no rows used. 0, or 48 (07001) when a described parameter
// is not bound, 21 (S1009) for a negative length that is neither SQL_NTS, SQL_NULL_DATA,
// SQL_DEFAULT_PARAM (sent as NULL) nor a data-at-execution length, 16 (S1001), or a
// conversion's code (22007, 22008 for a date escape, 22018 for hexadecimal text).
int StmtBuildParamSet(STMT* stmt, DaeRoad road, PARAMSET* out, DATASET* refill = nullptr);

// A large parameter array goes to the agent in slices of at most kParamSliceRows sets,
// one dataset of that size refilled for each: the driver, the agent and the server then
// hold a slice, not the whole array.
constexpr uint32_t kParamSliceRows = 1000;

// The sets of an execution sent in slices. Every column is decided once from all the sets
// (each slice's cells then have the types and widths a single dataset of them all would
// give), and every cell that a fill could refuse is checked before the first slice goes,
// so that a refusal still comes before anything ran, with the code a single dataset's fill
// would answer.
struct PARAMSLICES {
    std::vector<uint32_t> sets;  // every set sent, in order
    size_t next = 0;             // index in sets of the first set of the next slice
    struct Columns;
    std::unique_ptr<Columns> columns;

    PARAMSLICES();
    ~PARAMSLICES();
    bool done() const { return next >= sets.size(); }
};

// Plans the slices of the sets not marked SQL_PARAM_IGNORE: the codes of StmtBuildParamSet.
// Keeps no cell.
int StmtPlanParamSlices(STMT* stmt, DaeRoad road, PARAMSLICES* out);
// Builds the next slice (its sets from slices->next on) into refill when it fits (see
// StmtBuildParamSet), else into a new dataset, and moves slices->next past it.
// out->setOfRow stays empty: the slice's sets are slices->sets from the old next on. 0, or
// 16 (S1001).
int StmtBuildParamSlice(PARAMSLICES* slices, PARAMSET* out, DATASET* refill);
