// Forward fetching and SQLGetData.
#include "driver/exec/fetch.h"

#include <algorithm>
#include <new>
#include <vector>

#include "driver/exec/coldeliver.h"
#include "driver/exec/convert/valtypes.h"
#include "driver/frame/dispatch.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "scrs/scs_scroll.h"
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
        const COLDESC* d = bc.column >= 1 && bc.column <= stmt->resultDescs.count
                               ? &stmt->resultDescs.items[bc.column - 1]
                               : nullptr;
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

// The cursor library's status of rowset row k (0-based); rows past the ones it holds have
// none.
int16_t StatusOf(const DS_ROWSET* rs, SQLULEN k) {
    return k < static_cast<SQLULEN>(std::max(rs->rowCount, 0)) ? rs->rowStatus[k] : SQL_ROW_NOROW;
}

// The rowset of the cursor library into the bound columns (see StmtFillRowset); odbc3 lets
// a row that only warned say so in its status.
SQLRETURN FillRowset(STMT* stmt, SQLUSMALLINT* rowStatus, int32_t rowNumber, int32_t operation, bool odbc3) {
    FreeColumnPiece(&stmt->getData);
    DS_ROWSET* rs = stmt->cursor.rowset;
    if (rs == nullptr || rs->rows == nullptr)
        return SQL_SUCCESS;
    const SQLULEN size = std::max<SQLULEN>(static_cast<uint32_t>(std::max(stmt->cursor.rowsetSize, 1)), 1);
    SQLULEN first = 0;
    SQLULEN end = size;
    if (rowNumber > 0) {
        if (static_cast<SQLULEN>(rowNumber) > size)
            return StmtFail(stmt, ERR_ROW_VALUE_OUT_OF_RANGE);
        first = static_cast<SQLULEN>(rowNumber) - 1;
        end = first + 1;
    }
    const DESC* ard = stmt->ard;
    // Rows fetched by bookmark stand in the bookmarks' order: the bookmark column holds the
    // application's bookmarks, and no row-operation entry applies.
    const bool byBookmark = operation == SQL_FETCH_BY_BOOKMARK;
    const SQLUSMALLINT* operations = operation != -1 && !byBookmark && ard != nullptr ? ard->arrayStatus : nullptr;
    const bool retrieve = stmt->cursor.retrieveData != SQL_RD_OFF;

    // What each row takes: nothing (ignored, no row, a row in error), its bookmark alone
    // (deleted, or data not retrieved), or every bound column.
    enum class Take : uint8_t { Nothing, Bookmark, All };
    std::vector<Take> take(end - first, Take::Nothing);
    std::vector<ROW_OUTCOME> outcomes(end - first);
    SQLULEN returned = 0;
    SQLULEN libraryErrors = 0;
    bool anyAll = false;
    for (SQLULEN k = first; k < end; ++k) {
        if (operations != nullptr && operations[k] == SQL_ROW_IGNORE)
            continue;
        const int16_t s = StatusOf(rs, k);
        if (rowStatus != nullptr)
            rowStatus[k] = static_cast<SQLUSMALLINT>(s);
        if (s == SQL_ROW_NOROW)
            continue;
        ++returned;
        if (s == SQL_ROW_ERROR) {
            ++libraryErrors;
            continue;
        }
        take[k - first] = s != SQL_ROW_DELETED && retrieve ? Take::All : Take::Bookmark;
        anyAll = anyAll || take[k - first] == Take::All;
    }

    // The data columns: runs of whole rows column by column when the columns allow it,
    // else row by row.
    bool dataColumns = false;
    for (const BINDCOL& bc : stmt->boundCols)
        dataColumns = dataColumns || bc.column != 0;
    if (anyAll && dataColumns) {
        const std::vector<BoundRoad> roads = PlanRowset(stmt);
        const bool byColumn = ColumnWiseSafe(stmt, roads);
        int& err = stmt->diag.errCode;
        for (SQLULEN k = first; k < end;) {
            if (take[k - first] != Take::All) {
                ++k;
                continue;
            }
            if (byColumn) {
                SQLULEN run = k + 1;
                while (run < end && take[run - first] == Take::All)
                    ++run;
                TransferRowsByColumn(stmt, static_cast<int32_t>(k), k, run - k, roads, &outcomes[k - first]);
                k = run;
                continue;
            }
            const int pending = err;
            const SQLRETURN rc = TransferRow(stmt, static_cast<int32_t>(k), k, roads.data(), true);
            outcomes[k - first] = ROW_OUTCOME{rc, rc != SQL_SUCCESS ? err : 0};
            err = pending;
            ++k;
        }
    }

    // The bookmark column, row by row: its value is the row's number in the result.
    if (const BINDCOL* bc = StmtGetBoundCol(stmt, 0); bc != nullptr && !byBookmark) {
        const Strides strides = StridesOf(stmt, *bc);
        const SQLLEN offset = ard != nullptr && ard->bindOffset != nullptr ? *ard->bindOffset : 0;
        const DATASET* ds = rs->rows;
        int& err = stmt->diag.errCode;
        for (SQLULEN k = first; k < end; ++k) {
            ROW_OUTCOME& o = outcomes[k - first];
            if (take[k - first] == Take::Nothing || o.rc == SQL_ERROR)
                continue;
            const auto kk = static_cast<SQLLEN>(k);
            const BINDING b = BindingAt(*bc, offset + kk * strides.data, offset + kk * strides.length);
            if (b.indicator != nullptr && *b.indicator == SQL_COLUMN_IGNORE)
                continue;
            const int pending = err;
            err = 0;
            const SQLRETURN rc = GetColumn(stmt, static_cast<int32_t>(k), b, ds);
            if (rc == SQL_ERROR || (rc == SQL_SUCCESS_WITH_INFO && o.rc == SQL_SUCCESS))
                o = ROW_OUTCOME{rc, err};
            err = pending;
        }
    }

    // Outcomes: a row whose column failed is in error and the rows after it go on; a row
    // that warned makes the rowset warn.
    SQLRETURN result = SQL_SUCCESS;
    int warning = 0;
    int rowError = 0;
    SQLULEN failed = 0;
    for (SQLULEN k = first; k < end; ++k) {
        const ROW_OUTCOME& o = outcomes[k - first];
        if (o.rc == SQL_ERROR) {
            ++failed;
            if (rowError == 0)
                rowError = o.err;
            if (rowStatus != nullptr)
                rowStatus[k] = SQL_ROW_ERROR;
        } else if (o.rc == SQL_SUCCESS_WITH_INFO) {
            result = SQL_SUCCESS_WITH_INFO;
            if (warning == 0)
                warning = o.err;
            if (rowStatus != nullptr && odbc3 && rowStatus[k] == SQL_ROW_SUCCESS)
                rowStatus[k] = SQL_ROW_SUCCESS_WITH_INFO;
        }
        if (operation == SQL_REFRESH && rowStatus != nullptr && take[k - first] != Take::Nothing &&
            (rowStatus[k] == SQL_ROW_UPDATED || rowStatus[k] == SQL_ROW_ADDED))
            rowStatus[k] = SQL_ROW_SUCCESS;
    }
    FreeColumnPiece(&stmt->getData);
    if (failed + libraryErrors == 0) {
        if (result != SQL_SUCCESS)
            stmt->diag.errCode = warning;
        return result;
    }
    stmt->diag.errCode = failed != 0 ? rowError : ERR_GENERAL_ERROR;
    return failed + libraryErrors == returned ? SQL_ERROR : SQL_SUCCESS_WITH_INFO;
}

// A catalog call's result on a static cursor scrolls as a query's does. On a keyset-driven or
// dynamic one the library serves it static while this side still holds the type asked for,
// whose positioning would not match: it is read forward.
bool Scrollable(const STMT* stmt) {
    const int32_t type = stmt->cursor.cursorType;
    return type == SQL_CURSOR_STATIC || (type != SQL_CURSOR_FORWARD_ONLY && (stmt->flags & STMT_FLAG_PREPARED) != 0);
}

bool MixedCursor(const SCS_CURSOR& cur) { return cur.cursorType == SQL_CURSOR_KEYSET_DRIVEN && cur.keysetSize != 0; }

// The rowset fetch of the cursor library for a scrollable cursor.
SQLRETURN ScrollFetch(STMT* stmt, SQLUSMALLINT orientation, SQLLEN row, SQLULEN* rowsFetched,
                      SQLUSMALLINT* rowStatus, bool odbc3) {
    SCS_CURSOR& cur = stmt->cursor;
    if (stmt->conn->cn_hasScrlCurs == 0)
        return StmtFail(stmt, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    cur.appRowStatus = reinterpret_cast<uint16_t*>(rowStatus);
    if (stmt->paramSetSize > 1 && orientation != SQL_FETCH_NEXT)
        return StmtFail(stmt, ERR_PARAMETER_ARRAYS_ARE_NOT_SUPPORTED_WITH);
    if ((cur.cursorType == SQL_CURSOR_DYNAMIC || MixedCursor(cur)) &&
        (orientation == SQL_FETCH_BOOKMARK || orientation == SQL_FETCH_ABSOLUTE))
        return StmtFail(stmt, ERR_FETCH_TYPE_OUT_OF_RANGE);
    if (MixedCursor(cur) && cur.keysetSize < cur.rowsetSize)
        return StmtFail(stmt, ERR_ROW_VALUE_OUT_OF_RANGE);
    if (orientation == SQL_FETCH_ABSOLUTE && row == 0) {
        scs_SetPosition(&cur, SCS_POS_BEFORE_START);
        return SQL_NO_DATA;
    }
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
    // Rows the ODBC 2 fetch took from the block would be lost to the rowsets.
    if (stmt->fetchRoad == STMT_ROAD_BLOCK)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (StmtGetResultDescs(stmt) == nullptr)
        return SQL_ERROR;
    StmtFreeRowBuffer(stmt);
    scs_FreeRowset(&cur);
    stmt->fetchRoad = STMT_ROAD_ROWSET;
    // The library counts rows in 32 bits: an offset beyond that reaches past any result.
    const auto offset = static_cast<int32_t>(std::clamp<SQLLEN>(row, INT32_MIN, INT32_MAX));
    uint32_t count = 0;
    const int rc = scs_ScrollPosition(&cur, orientation, offset, &count);
    if (rc == ERR_NO_DATA_FOUND) {
        if (rowsFetched != nullptr)
            *rowsFetched = 0;
        return SQL_NO_DATA;
    }
    if (rc != 0) {
        StmtGetAgentErrors(stmt);
        return StmtFail(stmt, rc);
    }
    if (rowsFetched != nullptr)
        *rowsFetched = count;
    return FillRowset(stmt, rowStatus, 0, -1, odbc3);
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
    // A scrollable cursor's result read by rowsets has no row block to go on with.
    if (Scrollable(stmt)) {
        if (stmt->fetchRoad == STMT_ROAD_ROWSET)
            return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
        stmt->fetchRoad = STMT_ROAD_BLOCK;
    }
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

SQLRETURN StmtFetchScroll(STMT* stmt, SQLSMALLINT orientation, SQLLEN offset) {
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    const SQLULEN rowsetSize = std::max<SQLULEN>(static_cast<uint32_t>(stmt->cursor.rowsetSize), 1);
    const DESC* ird = stmt->ird;
    SQLUSMALLINT* status = ird != nullptr ? ird->arrayStatus : nullptr;
    if (!Scrollable(stmt)) {
        if (orientation != SQL_FETCH_NEXT)
            return StmtFail(stmt, ERR_FETCH_TYPE_OUT_OF_RANGE);
        return FetchForward(stmt, rowsetSize, stmt->rowsFetched, status, false);
    }
    SQLULEN localCount = 0;
    SQLULEN* rowsFetched = stmt->rowsFetched != nullptr ? stmt->rowsFetched : &localCount;
    // The library writes statuses as it fetches: without the application's array it gets
    // one of ours for the call.
    std::vector<SQLUSMALLINT> scratch;
    if (status == nullptr) {
        try {
            scratch.resize(rowsetSize);
        } catch (const std::bad_alloc&) {
            return StmtFail(stmt, ERR_MEMORY_ALLOCATION_FAILURE);
        }
        status = scratch.data();
    }
    if (orientation == SQL_FETCH_BOOKMARK && stmt->fetchBookmark != nullptr)
        offset += *static_cast<const int32_t*>(stmt->fetchBookmark);
    const SQLRETURN r = ScrollFetch(stmt, static_cast<SQLUSMALLINT>(orientation), offset, rowsFetched, status, true);
    if (!scratch.empty())
        stmt->cursor.appRowStatus = nullptr;
    return r;
}

SQLRETURN StmtExtendedFetch(STMT* stmt, SQLUSMALLINT orientation, SQLLEN row, SQLULEN* rowsFetched,
                            SQLUSMALLINT* rowStatus) {
    if (Scrollable(stmt))
        return ScrollFetch(stmt, orientation, row, rowsFetched, rowStatus, false);
    if (orientation != SQL_FETCH_NEXT)
        return StmtFail(stmt, ERR_FETCH_TYPE_OUT_OF_RANGE);
    if (!Executed(stmt))
        return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
    return FetchForward(stmt, std::max<SQLULEN>(static_cast<uint32_t>(stmt->cursor.rowsetSize), 1), rowsFetched,
                        rowStatus, true);
}

SQLRETURN StmtFillRowset(STMT* stmt, SQLUSMALLINT* rowStatus, int32_t rowNumber, int32_t operation) {
    return FillRowset(stmt, rowStatus, rowNumber, operation, false);
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
    if (const DS_ROWSET* rs = stmt->cursor.rowset; rs != nullptr && rs->rows == current.ds) {
        const int16_t s = scs_GetRowStatus(rs, current.row + 1);
        if (s == SQL_ROW_DELETED || s == SQL_ROW_ERROR)
            return StmtFail(stmt, ERR_INVALID_CURSOR_POSITION);
    }
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
