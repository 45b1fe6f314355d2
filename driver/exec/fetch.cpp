// Forward fetching and SQLGetData.
#include "driver/exec/fetch.h"

#include <algorithm>
#include <vector>

#include "driver/exec/coldeliver.h"
#include "driver/exec/convert/valtypes.h"
#include "driver/frame/dispatch.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

// rowsetStart when the last rowset's first row left the block before the rowset was
// complete.
constexpr int32_t kRowsetSpannedBlocks = -2;

// Whether the statement holds an executed result: prepared (or a catalog result) and run.
bool Executed(const STMT* stmt) {
    return stmt->state == STMT_STATE_PREPARED && (stmt->flags & STMT_FLAG_CURSOR_OPEN) != 0;
}

// Bytes from one row's element of a bound column to the next: row-wise, the row size;
// column-wise, the C type's size (its buffer length for the variable kinds).
struct Strides {
    SQLLEN data;
    SQLLEN length;
};

Strides StridesOf(STMT* stmt, const BINDCOL& bc) {
    if (stmt->bindType != 0)
        return {stmt->bindType, stmt->bindType};
    int32_t cType = bc.cType;
    if (cType == SQL_C_DEFAULT && bc.bufferLength == 0) {
        const COLDESC* d = bc.column <= stmt->resultDescs.count ? &stmt->resultDescs.items[bc.column - 1] : nullptr;
        cType = DefaultCType(d != nullptr ? d->sqlType : 0, static_cast<int32_t>(stmt->conn->envr->odbcVersion));
    }
    const SQLLEN fixed = CTypeOctetLength(cType);
    return {fixed != 0 ? fixed : bc.bufferLength, static_cast<SQLLEN>(sizeof(SQLLEN))};
}

template <class T>
T* Shift(T* p, SQLLEN bytes) {
    return p == nullptr ? nullptr : reinterpret_cast<T*>(reinterpret_cast<char*>(p) + bytes);
}

// A bound column's binding for one row, its addresses shifted by the given bytes.
BINDING BindingAt(const BINDCOL& bc, SQLLEN dataShift, SQLLEN lengthShift) {
    BINDING b;
    b.column = bc.column;
    b.cType = bc.cType;
    b.data = Shift(bc.data, dataShift);
    b.bufferLength = bc.bufferLength;
    b.octetLength = Shift(bc.octetLength, lengthShift);
    b.indicator = Shift(bc.indicator, lengthShift);
    return b;
}

// What holds for a bound column through a whole rowset: its strides and its plan. A
// rowset of many rows works them out once rather than once a value.
struct BoundRoad {
    Strides strides;
    COL_PLAN plan;
};

// The roads of every bound column, in the order of stmt->boundCols; the block holds rows.
std::vector<BoundRoad> PlanRowset(STMT* stmt) {
    std::vector<BoundRoad> roads(stmt->boundCols.size());
    const DATASET* ds = StmtCurrentRowset(stmt).ds;
    for (size_t c = 0; c < roads.size(); ++c) {
        const BINDCOL& bc = stmt->boundCols[c];
        roads[c].strides = StridesOf(stmt, bc);
        PlanColumn(stmt, BindingAt(bc, 0, 0), ds, &roads[c].plan);
    }
    return roads;
}

// The plan of bound column bc (its binding at this row: b) for a fetch of one row, made at
// the first such fetch of a result and kept on the binding: an application fetching row by
// row would otherwise plan every column again at every call. A plan that is not ready
// reports something, and one that reads ARD fields may change between fetches: those are
// made every time.
const COL_PLAN& KeptPlan(STMT* stmt, BINDCOL& bc, const BINDING& b, COL_PLAN* scratch) {
    const uint32_t load = stmt->resultDescsLoads;
    if (bc.plan.forLoad == load && load != 0 && stmt->resultDescsLoaded)
        return bc.plan;
    PlanColumn(stmt, b, StmtCurrentRowset(stmt).ds, scratch);
    if (!scratch->ready || bc.cType == SQL_ARD_TYPE || bc.cType == SQL_C_NUMERIC)
        return *scratch;
    bc.plan = *scratch;
    bc.plan.forLoad = load;
    return bc.plan;
}

// Moves row `row` of the block into element k of every bound column, at the ARD's bind
// offset as it reads now. roads (PlanRowset) may be null when k is 0: each column then
// takes its kept plan (KeptPlan). An ODBC 3 fetch skips the bookmark column (a forward-only
// cursor has none) and a column whose indicator holds SQL_COLUMN_IGNORE. A failing column
// stops the row. SQL_SUCCESS, SQL_SUCCESS_WITH_INFO or SQL_ERROR.
SQLRETURN TransferRow(STMT* stmt, int32_t row, SQLULEN k, const BoundRoad* roads, bool odbc3) {
    const DESC* ard = stmt->ard;
    const SQLLEN offset = ard != nullptr && ard->bindOffset != nullptr ? *ard->bindOffset : 0;
    // The converters answer SQL_SUCCESS_WITH_INFO while the pending code is a truncation: an
    // earlier row's warning must not mark this one. A clean row leaves the code as it was,
    // so that the rowset still reports that warning.
    int& err = stmt->diag.errCode;
    const int pending = err;
    if (err == ERR_DATA_WAS_TRUNCATED)
        err = 0;
    const DATASET* ds = StmtCurrentRowset(stmt).ds;
    SQLRETURN result = SQL_SUCCESS;
    for (size_t c = 0; c < stmt->boundCols.size(); ++c) {
        BINDCOL& bc = stmt->boundCols[c];
        if (odbc3 && bc.column == 0)
            continue;
        SQLLEN dataShift = offset;
        SQLLEN lengthShift = offset;
        if (k != 0) {
            dataShift += static_cast<SQLLEN>(k) * roads[c].strides.data;
            lengthShift += static_cast<SQLLEN>(k) * roads[c].strides.length;
        }
        const BINDING b = BindingAt(bc, dataShift, lengthShift);
        if (odbc3 && b.indicator != nullptr && *b.indicator == SQL_COLUMN_IGNORE)
            continue;
        COL_PLAN single;
        const COL_PLAN& plan = roads != nullptr ? roads[c].plan : KeptPlan(stmt, bc, b, &single);
        const SQLRETURN rc = GetBoundColumn(stmt, row, b, plan, ds);
        if (rc == SQL_ERROR) {
            result = SQL_ERROR;
            break;
        }
        if (rc == SQL_SUCCESS_WITH_INFO)
            result = SQL_SUCCESS_WITH_INFO;
    }
    if (result == SQL_SUCCESS)
        err = pending;
    // A bound column's value stays whole for SQLGetData.
    FreeColumnPiece(&stmt->getData);
    return result;
}

// Rows an agent fetch brings for rowsets of n rows: a whole number of rowsets, so that
// a rowset lies in one block and SQLGetData can still reach its first row.
uint16_t BlockRowsFor(const STMT* stmt, SQLULEN n) {
    const uint16_t perFetch = std::max<uint16_t>(stmt->rowsPerFetch, 1);
    if (n <= 1)
        return perFetch;
    if (n >= perFetch)
        return static_cast<uint16_t>(std::min<SQLULEN>(n, 65535));
    return static_cast<uint16_t>(perFetch / n * n);
}

// Whether a rowset may move its values column by column (DeliverColumnRows): every
// column it transfers is planned and none holds long values, whose pieces the agent hands
// out in the order they are asked for.
bool ColumnWiseSafe(const STMT* stmt, const std::vector<BoundRoad>& roads) {
    const DATASET* ds = StmtCurrentRowset(stmt).ds;
    for (size_t c = 0; c < roads.size(); ++c) {
        const uint16_t column = stmt->boundCols[c].column;
        if (column == 0)
            continue;  // the ODBC 3 fetch skips the bookmark column
        if (!roads[c].plan.ready || ds_IsRefType(ds->cols[column - 1].type))
            return false;
    }
    return true;
}

// Moves count rows of the block from `row` into elements k.. of every bound column,
// column by column, at the ARD's bind offset as it reads now; rows[j] takes the outcome
// of row + j, as TransferRow would have answered it.
void TransferRowsByColumn(STMT* stmt, int32_t row, SQLULEN k, SQLULEN count, const std::vector<BoundRoad>& roads,
                          ROW_OUTCOME* rows) {
    const DESC* ard = stmt->ard;
    const SQLLEN offset = ard != nullptr && ard->bindOffset != nullptr ? *ard->bindOffset : 0;
    std::fill(rows, rows + count, ROW_OUTCOME{});
    const DATASET* ds = StmtCurrentRowset(stmt).ds;
    for (size_t c = 0; c < roads.size(); ++c) {
        const BINDCOL& bc = stmt->boundCols[c];
        if (bc.column == 0)
            continue;
        BOUND_COLUMN column;
        column.binding = BindingAt(bc, offset, offset);
        column.dataStride = roads[c].strides.data;
        column.lengthStride = roads[c].strides.length;
        column.plan = roads[c].plan;
        DeliverColumnRows(stmt, column, row, k, count, ds, rows);
    }
}

// The next rowset of n rows from the block, refilled as needed: statuses (from the ODBC 3
// set when extended is false; SQLExtendedFetch's ODBC 2 values otherwise) and the count
// of rows go to the given pointers. Row errors leave SQL_ROW_ERROR and make the result
// SQL_SUCCESS_WITH_INFO, SQL_ERROR when every row failed.
SQLRETURN FetchForward(STMT* stmt, SQLULEN n, SQLULEN* rowsFetched, SQLUSMALLINT* status, bool extended) {
    if (status != nullptr)
        std::fill(status, status + n, static_cast<SQLUSMALLINT>(SQL_ROW_NOROW));
    if (rowsFetched != nullptr)
        *rowsFetched = 0;
    FreeColumnPiece(&stmt->getData);
    stmt->rowsetStart = -1;
    const bool transfer = stmt->cursor.retrieveData != SQL_RD_OFF;
    // Planned at the first row, once the block (and with it the descriptions) is there.
    std::vector<BoundRoad> roads;
    bool planned = false;
    // A rowset of many rows moves the rows of each block column by column: a column's
    // values then run through one loop of its lane.
    bool byColumn = false;
    std::vector<ROW_OUTCOME> outcomes;
    SQLULEN got = 0;
    SQLULEN failed = 0;
    int rowError = 0;
    int32_t start = -1;
    bool oneBlock = true;
    SQLRETURN result = SQL_SUCCESS;
    for (SQLULEN k = 0; k < n;) {
        if (stmt->blockPos >= stmt->rowBlock.rowsUsed) {
            if (StmtFetchRowset(stmt, n) != 0) {
                if (got == 0)
                    return SQL_ERROR;
                // The rows handed out stay; the failure is the result.
                result = SQL_ERROR;
                break;
            }
            if (stmt->rowBlock.rowsUsed == 0)
                break;
            oneBlock = k == 0;
        }
        const int32_t row = stmt->blockPos;
        if (k == 0)
            start = row;
        if (transfer && n > 1 && !planned) {
            roads = PlanRowset(stmt);
            planned = true;
            byColumn = ColumnWiseSafe(stmt, roads);
        }
        SQLULEN count = 1;
        if (transfer && byColumn) {
            count = std::min<SQLULEN>(n - k, static_cast<SQLULEN>(stmt->rowBlock.rowsUsed - row));
            outcomes.resize(count);
            TransferRowsByColumn(stmt, row, k, count, roads, outcomes.data());
        }
        for (SQLULEN j = 0; j < count; ++j) {
            SQLRETURN rc = SQL_SUCCESS;
            if (transfer && byColumn) {
                // Row by row, a row that answers more than success leaves its code.
                rc = outcomes[j].rc;
                if (rc != SQL_SUCCESS)
                    stmt->diag.errCode = outcomes[j].err;
            } else if (transfer) {
                rc = TransferRow(stmt, row, k, planned ? roads.data() : nullptr, true);
            }
            ++stmt->blockPos;
            ++got;
            if (rc == SQL_ERROR) {
                ++failed;
                rowError = stmt->diag.errCode;
            } else if (rc == SQL_SUCCESS_WITH_INFO && result == SQL_SUCCESS) {
                result = SQL_SUCCESS_WITH_INFO;
            }
            if (status != nullptr)
                status[k + j] = rc == SQL_ERROR                       ? SQL_ROW_ERROR
                                : rc == SQL_SUCCESS_WITH_INFO && !extended ? SQL_ROW_SUCCESS_WITH_INFO
                                                                           : SQL_ROW_SUCCESS;
        }
        k += count;
    }
    if (got == 0)
        return SQL_NO_DATA;
    stmt->rowsetStart = oneBlock ? start : kRowsetSpannedBlocks;
    stmt->rowNumber += got;
    if (rowsFetched != nullptr)
        *rowsFetched = got;
    if (result == SQL_ERROR)
        return result;
    if (failed != 0) {
        // The row's error outranks a truncation that a later row reported.
        stmt->diag.errCode = rowError;
        return failed == got ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
    }
    return result;
}

}  // namespace

int StmtFetchRowset(STMT* stmt, SQLULEN rowsetSize) {
    const COLDESC_ARRAY* descs = StmtGetResultDescs(stmt);
    if (descs == nullptr)
        return -1;
    if (descs->count == 0) {
        stmt->diag.errCode = ERR_INVALID_CURSOR_STATE;
        return -1;
    }
    const uint16_t rows = BlockRowsFor(stmt, rowsetSize);
    FreeColumnPiece(&stmt->getData);
    stmt->blockPos = 0;
    stmt->rowsetStart = -1;
    // The block keeps its arrays: the agent refills a block of the same shape in place.
    stmt->rowBlock.rowsUsed = 0;
    const int rc = CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_Fetch, stmt->agentStmt, rows, &stmt->rowBlock);
    if (rc != 0) {
        stmt->rowBlock.rowsUsed = 0;
        StmtGetAgentErrors(stmt);
        stmt->diag.errCode = rc;
        return -1;
    }
    return 0;
}

SQLRETURN StmtFetchBound(STMT* stmt) {
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    FreeColumnPiece(&stmt->getData);
    stmt->rowsetStart = -1;
    if (stmt->blockPos >= stmt->rowBlock.rowsUsed) {
        if (StmtFetchRowset(stmt, 1) != 0)
            return SQL_ERROR;
        if (stmt->rowBlock.rowsUsed == 0)
            return SQL_NO_DATA;
    }
    const int32_t row = stmt->blockPos++;
    stmt->rowsetStart = row;
    return TransferRow(stmt, row, 0, nullptr, false);
}

SQLRETURN StmtFetchScroll(STMT* stmt, SQLSMALLINT orientation, SQLLEN) {
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (orientation != SQL_FETCH_NEXT)
        return StmtFail(stmt, stmt->cursor.cursorType == SQL_CURSOR_FORWARD_ONLY ? ERR_FETCH_TYPE_OUT_OF_RANGE
                                                                               : ERR_DRIVER_NOT_CAPABLE);
    const DESC* ird = stmt->ird;
    return FetchForward(stmt, std::max<SQLULEN>(static_cast<uint32_t>(stmt->cursor.rowsetSize), 1), stmt->rowsFetched,
                        ird != nullptr ? ird->arrayStatus : nullptr, false);
}

SQLRETURN StmtExtendedFetch(STMT* stmt, SQLUSMALLINT orientation, SQLLEN, SQLULEN* rowsFetched,
                            SQLUSMALLINT* rowStatus) {
    if (orientation != SQL_FETCH_NEXT)
        return StmtFail(stmt, stmt->cursor.cursorType == SQL_CURSOR_FORWARD_ONLY ? ERR_FETCH_TYPE_OUT_OF_RANGE
                                                                               : ERR_DRIVER_NOT_CAPABLE);
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
    return FetchForward(stmt, std::max<SQLULEN>(static_cast<uint32_t>(stmt->cursor.rowsetSize), 1), rowsFetched,
                        rowStatus, true);
}

SQLRETURN StmtGetData(STMT* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER value, SQLLEN bufferLength,
                      SQLLEN* indicator) {
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (bufferLength < 0)
        return StmtFail(stmt, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    const STMT_ROWSET current = StmtCurrentRowset(stmt);
    if (current.row == kRowsetSpannedBlocks)
        return StmtFail(stmt, ERR_DRIVER_NOT_CAPABLE);
    if (current.row < 0)
        return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
    BINDING b;
    b.column = column;
    b.cType = cType;
    b.data = value;
    b.bufferLength = bufferLength;
    b.octetLength = indicator;
    b.indicator = indicator;
    if (const int rc = GetWholeByLane(stmt, current.row, b, current.ds); rc >= 0)
        return static_cast<SQLRETURN>(rc);
    // Anything else may reach the agent: the descriptions, a long value's pieces.
    DbLockOnDemand();
    return GetColumn(stmt, current.row, b, current.ds);
}
