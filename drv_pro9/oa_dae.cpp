// Data at execution in the agent: piece collection, the walk over the pending cells, the
// merge into the dataset and the deferred execute or positioned operation.
#include "drv_pro9/oa_dae.h"

#include <algorithm>
#include <cstring>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

// Types whose values have no fixed size: their pieces are appended, and their column is
// rebuilt to hold the longest value.
bool IsVariable(int32_t type) {
    return type == DS_CHAR || (type >= DS_BINARY && type <= DS_WVARCHAR32);
}
bool IsWide(int32_t type) {
    return type == DS_WCHAR || type == DS_WCHARZ || type == DS_LONGWCHAR || type == DS_WVARCHAR32;
}

// Bytes of a piece in the unit the type counts: UCS-2 units for wide text (a half unit
// rounds up so that the bytes always fit).
uint64_t Units(int32_t type, uint64_t bytes) {
    return IsWide(type) ? (bytes + 1) / 2 : bytes;
}

// The largest length the type's prefix or element can state.
uint64_t LargestLength(int32_t type) {
    switch (type) {
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        return UINT8_MAX;
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        return UINT16_MAX;
    default:
        // Room for a prefix and two bytes per unit within a 32-bit element width.
        return (UINT32_MAX - 8) / 2;
    }
}

bool Pending(const DATASET_COL* col, int32_t row) {
    return col->indicators != nullptr && col->indicators[row] == DS_IND_DATA_AT_EXEC;
}

// The dataset's extent that both the dataset and the pieces cover.
struct Extent {
    int32_t rows;
    uint16_t cols;
};
Extent Covered(const DATASET* ds, const DAE_COLS& pieces) {
    if (ds == nullptr || ds->cols == nullptr)
        return {0, 0};
    return {std::min(ds->rowsUsed, pieces.rows), std::min(ds->colsUsed, pieces.count)};
}

// The first pending cell after (row, col) in row-major order; (row, col) = (0, -1) starts
// at the first cell. False when there is none.
bool FindPending(const DATASET* ds, const DAE_COLS& pieces, int32_t* row, int32_t* col) {
    Extent e = Covered(ds, pieces);
    int32_t r = std::max(*row, 0);
    int32_t c = *row < 0 ? 0 : *col + 1;
    for (; r < e.rows; ++r, c = 0) {
        for (; c < e.cols; ++c) {
            if (Pending(&ds->cols[c], r)) {
                *row = r;
                *col = c;
                return true;
            }
        }
    }
    return false;
}

bool AnyPending(const DATASET* ds) {
    for (uint16_t c = 0; c < ds->colsUsed; ++c)
        for (int32_t r = 0; r < ds->rowsUsed; ++r)
            if (Pending(&ds->cols[c], r))
                return true;
    return false;
}

void ClearCells(OA_DAE& d) {
    d.nextRow = d.nextCol = d.curRow = d.curCol = -1;
    d.putCount = 0;
}

// Starts an exchange on the dataset's first pending cell in pieces; 0 when there is none.
int StartExchange(OA_STMT* stmt, const DATASET* ds, DAE_COLS* pieces, int32_t state) {
    OA_DAE& d = stmt->dae;
    pieces->reset();
    if (ds == nullptr || ds->cols == nullptr || ds->colsUsed == 0 || ds->rowsUsed <= 0)
        return 0;
    // Most executions have no pending cell: the pieces are made only for one that has.
    if (!AnyPending(ds))
        return 0;
    if (pieces->alloc(ds->colsUsed, ds->rowsUsed) != 0) {
        OA_ErrPost(&stmt->errors, ERR_MEMORY_ALLOCATION_FAILURE);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    int32_t row = -1;
    int32_t col = -1;
    if (!FindPending(ds, *pieces, &row, &col)) {
        pieces->reset();
        return 0;
    }
    ClearCells(d);
    d.nextRow = row;
    d.nextCol = col;
    d.state = state;
    return ERR_AGENT_NEEDS_DATA_AT_EXEC_DATA;
}

// The value length of a row that is not pending, in the unit of DAE_MaxLength.
uint64_t OwnLength(const DATASET_COL* col, int32_t row) {
    const unsigned char* p = ds_Elem(col, row);
    uint32_t w = col->width;
    auto prefixed = [&](uint32_t prefix) -> uint64_t {
        if (w < prefix)
            return 0;
        uint32_t n = 0;
        if (prefix == 1) {
            n = p[0];
        } else if (prefix == 2) {
            uint16_t v;
            std::memcpy(&v, p, 2);
            n = v;
        } else {
            int32_t v;
            std::memcpy(&v, p, 4);
            n = v > 0 ? static_cast<uint32_t>(v) : 0;
        }
        return std::min<uint64_t>(n, w - prefix);
    };
    switch (col->type) {
    case DS_CHARZ:
        return strnlen(reinterpret_cast<const char*>(p), w);
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        return prefixed(1);
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        return prefixed(2);
    case DS_VARCHAR32:
    case DS_VARBINARY32:
        return prefixed(4);
    case DS_WVARCHAR32:
        return std::min<uint64_t>(prefixed(4), (w >= 4 ? w - 4 : 0) / 2);
    case DS_WCHAR:
    case DS_WCHARZ: {
        uint32_t units = w / 2;
        uint32_t n = 0;
        for (; n < units; ++n) {
            uint16_t u;
            std::memcpy(&u, p + 2 * n, 2);
            if (u == 0)
                break;
        }
        return n;
    }
    case DS_LONGCHAR:
    case DS_LONGBINARY:
    case DS_LONGWCHAR:
        return 0;   // held by reference: the element's size does not depend on it
    default:        // fixed text and binary: the whole element is the value
        return w;
    }
}

// Writes the pieces of a cell into its element of the rebuilt column (width bytes,
// zeroed). A by-reference piece moves into the dataset.
void PutCell(int32_t type, unsigned char* elem, DAE_CELL* cell) {
    const uint32_t n = cell->length;
    auto prefixed = [&](uint32_t prefix, uint32_t stated) {
        if (prefix == 1) {
            elem[0] = static_cast<unsigned char>(stated);
        } else if (prefix == 2) {
            auto v = static_cast<uint16_t>(stated);
            std::memcpy(elem, &v, 2);
        } else {
            auto v = static_cast<int32_t>(stated);
            std::memcpy(elem, &v, 4);
        }
        if (n != 0)
            std::memcpy(elem + prefix, cell->data, n);
    };
    switch (type) {
    case DS_LONGBINARY:
    case DS_LONGWCHAR: {
        DS_REFVAL ref{type == DS_LONGWCHAR ? n / 2 : n, cell->data};
        std::memcpy(elem, &ref, sizeof ref);
        cell->data = nullptr;
        cell->length = 0;
        return;
    }
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        prefixed(1, n);
        return;
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        prefixed(2, n);
        return;
    case DS_VARCHAR32:
    case DS_VARBINARY32:
        prefixed(4, n);
        return;
    case DS_WVARCHAR32:
        prefixed(4, n / 2);
        return;
    default:
        if (n != 0)
            std::memcpy(elem, cell->data, n);
        return;
    }
}

// What the merge checks of one column before anything changes. 0 or 15 (logged).
int CheckColumn(const DATASET_COL* col, const DAE_COL* dae, int32_t rows) {
    bool any = false;
    for (int32_t r = 0; r < rows && !any; ++r)
        any = Pending(col, r);
    if (!any)
        return 0;
    if (dae->cType != DS_NONE && dae->cType != col->type && dae->cType != DS_BINARY) {
        LOG_MSG(LOG_ERR, "DAEDatasetMerge: Type mismatch.");
        return ERR_GENERAL_ERROR;
    }
    if (col->type == DS_LONGCHAR) {
        LOG_MSG(LOG_ERR, "DAEDatasetColReplace: Unexpected Tessaryn C type.");
        return ERR_GENERAL_ERROR;
    }
    if (IsVariable(col->type)) {
        if (DAE_MaxLength(col, dae, rows) > LargestLength(col->type)) {
            LOG_MSG(LOG_ERR, "DAEDatasetMerge: value too long for its column.");
            return ERR_GENERAL_ERROR;
        }
        return 0;
    }
    // A fixed-size value is read whole from its element: a shorter piece would be read
    // past its end, a longer one would not fit.
    for (int32_t r = 0; r < rows; ++r) {
        const DAE_CELL& cell = dae->cells[r];
        if (Pending(col, r) && cell.indicator >= 0 && cell.length != col->width) {
            LOG_MSG(LOG_ERR, "DAEDatasetMerge: value of %u bytes for a column of %u bytes.", cell.length,
                    col->width);
            return ERR_GENERAL_ERROR;
        }
    }
    return 0;
}

// The deferred step of states 4 and 5. The exchange is over whatever it answers.
int RunDeferred(OA_STMT* stmt, bool positioned, uint16_t** outRowStatus, int32_t* outStatus) {
    OA_DAE& d = stmt->dae;
    d.state = DAE_NONE;
    DAE_COLS& pieces = positioned ? d.rows : d.params;
    DATASET* ds = positioned ? stmt->setPos.rows : stmt->paramValues.get();
    int rc = DAEDatasetMerge(stmt, ds, &pieces);
    pieces.reset();
    ClearCells(d);
    if (rc != 0)
        return rc;
    return positioned ? oa_Library.setPosRun(stmt->handle, outRowStatus, outStatus) : oa_ExecuteCore(stmt);
}

// Posts the code of a failure of the exchange itself on the statement.
int Fail(OA_STMT* stmt, int code) {
    OA_ErrPost(&stmt->errors, code);
    return code;
}

}  // namespace

// ---- Piece arrays ---------------------------------------------------------------------------

int DAE_COLS::alloc(uint16_t n, int32_t rowCount) {
    reset();
    if (rowCount < 0)
        return ERR_GENERAL_ERROR;
    auto* made = static_cast<DAE_COL*>(uh_Calloc(n, sizeof(DAE_COL)));
    if (made == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    cols = made;
    count = n;
    rows = rowCount;
    for (uint16_t c = 0; c < n; ++c) {
        cols[c].cells = static_cast<DAE_CELL*>(uh_Calloc(static_cast<size_t>(rowCount), sizeof(DAE_CELL)));
        if (cols[c].cells == nullptr) {
            reset();
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
        cols[c].rows = rowCount;
        for (int32_t r = 0; r < rowCount; ++r)
            cols[c].cells[r].indicator = DS_IND_NULL;
    }
    return 0;
}

void DAE_COLS::reset() {
    for (uint16_t c = 0; c < count; ++c) {
        if (cols[c].cells == nullptr)
            continue;
        for (int32_t r = 0; r < cols[c].rows; ++r)
            uh_Free(cols[c].cells[r].data);
        uh_Free(cols[c].cells);
    }
    uh_Free(cols);
    cols = nullptr;
    count = 0;
    rows = 0;
}

// ---- Steps ----------------------------------------------------------------------------------

int DAE_ColPut(DAE_COL* col, int32_t row, int32_t cType, int16_t indicator, const void* data, uint32_t length) {
    if (col == nullptr || row < 0 || row >= col->rows || col->cells == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    DAE_CELL& cell = col->cells[row];
    if (indicator == DS_IND_NULL) {
        uh_Free(cell.data);
        cell.data = nullptr;
        cell.length = 0;
        cell.indicator = DS_IND_NULL;
        return 0;
    }
    if (data == nullptr && length != 0)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (cell.data != nullptr) {
        if (cType != col->cType)
            return ERR_GENERAL_ERROR;
        if (length == 0)
            return 0;
        if (length > UINT32_MAX - cell.length)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        auto* grown = static_cast<unsigned char*>(uh_Malloc(static_cast<size_t>(cell.length) + length));
        if (grown == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        std::memcpy(grown, cell.data, cell.length);
        std::memcpy(grown + cell.length, data, length);
        uh_Free(cell.data);
        cell.data = grown;
        cell.length += length;
        return 0;
    }
    unsigned char* copy = nullptr;
    if (length != 0) {
        copy = static_cast<unsigned char*>(uh_MemDup(data, length));
        if (copy == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    col->cType = cType;
    cell.data = copy;
    cell.length = length;
    cell.indicator = 0;
    return 0;
}

uint64_t DAE_MaxLength(const DATASET_COL* col, const DAE_COL* dae, int32_t rowsUsed) {
    uint64_t longest = 0;
    for (int32_t r = 0; r < rowsUsed; ++r) {
        if (Pending(col, r)) {
            if (r < dae->rows && dae->cells[r].indicator >= 0)
                longest = std::max(longest, Units(col->type, dae->cells[r].length));
        } else if (col->indicators[r] >= 0) {
            longest = std::max(longest, OwnLength(col, r));
        }
    }
    return longest;
}

int DAEDatasetColReplace(DATASET_COL* col, int32_t rowsAllocated, DAE_COL* dae) {
    const int32_t type = col->type;
    if (type == DS_LONGCHAR || !IsVariable(type)) {
        LOG_MSG(LOG_ERR, "DAEDatasetColReplace: Unexpected Tessaryn C type.");
        return ERR_GENERAL_ERROR;
    }
    const int32_t used = std::min(dae->rows, rowsAllocated);
    uint64_t longest = DAE_MaxLength(col, dae, used);
    if (longest > LargestLength(type))
        return ERR_GENERAL_ERROR;
    DATASET_COL rebuilt;
    rebuilt.type = type;
    // Fixed text and binary keep at least one byte, so that every row has an element.
    rebuilt.width = std::max<uint32_t>(ds_TypeWidth(type, static_cast<uint32_t>(longest)), 1);
    if (ds_ColAllocRows(&rebuilt, rowsAllocated) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    const bool refs = ds_ColHoldsRefs(col);
    for (int32_t r = 0; r < rowsAllocated; ++r) {
        unsigned char* to = ds_Elem(&rebuilt, r);
        unsigned char* from = ds_Elem(col, r);
        if (r < used && Pending(col, r)) {
            DAE_CELL& cell = dae->cells[r];
            rebuilt.indicators[r] = cell.indicator;
            if (cell.indicator >= 0)
                PutCell(type, to, &cell);
            continue;
        }
        rebuilt.indicators[r] = col->indicators[r];
        std::memcpy(to, from, std::min(col->width, rebuilt.width));
        if (refs)
            std::memset(from, 0, sizeof(DS_REFVAL));   // the block moved with its element
    }
    ds_ColFree(col, rowsAllocated);
    *col = rebuilt;
    return 0;
}

int DAEDatasetMerge(OA_STMT* stmt, DATASET* ds, DAE_COLS* pieces) {
    // The pieces were collected for this shape; values replaced meanwhile cannot take them.
    if (ds == nullptr || ds->cols == nullptr || ds->colsUsed != pieces->count || ds->rowsUsed != pieces->rows ||
        ds->rowsAllocated < ds->rowsUsed) {
        LOG_MSG(LOG_ERR, "DAEDatasetMerge: the values changed during data at execution.");
        return Fail(stmt, ERR_GENERAL_ERROR);
    }
    for (uint16_t c = 0; c < pieces->count; ++c) {
        if (int rc = CheckColumn(&ds->cols[c], &pieces->cols[c], pieces->rows); rc != 0)
            return Fail(stmt, rc);
    }
    for (uint16_t c = 0; c < pieces->count; ++c) {
        DATASET_COL* col = &ds->cols[c];
        DAE_COL* dae = &pieces->cols[c];
        if (IsVariable(col->type)) {
            bool any = false;
            for (int32_t r = 0; r < pieces->rows && !any; ++r)
                any = Pending(col, r);
            if (!any)
                continue;
            if (int rc = DAEDatasetColReplace(col, ds->rowsAllocated, dae); rc != 0)
                return Fail(stmt, rc);
            continue;
        }
        for (int32_t r = 0; r < pieces->rows; ++r) {
            if (!Pending(col, r))
                continue;
            const DAE_CELL& cell = dae->cells[r];
            col->indicators[r] = cell.indicator;
            if (cell.indicator >= 0)
                std::memcpy(ds_Elem(col, r), cell.data, col->width);
        }
    }
    return 0;
}

// ---- Operations -----------------------------------------------------------------------------

void oa_DaeReset(OA_STMT* stmt) {
    OA_DAE& d = stmt->dae;
    d.state = DAE_NONE;
    ClearCells(d);
    d.params.reset();
    d.rows.reset();
}

int OA_ParamDataStart(OA_STMT* stmt) {
    stmt->dae.state = DAE_NONE;
    ClearCells(stmt->dae);
    return StartExchange(stmt, stmt->paramValues.get(), &stmt->dae.params, DAE_PARAMS);
}

int OA_SetPosDataAtExec(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    stmt->dae.rows.reset();
    // Only an update and an add send values; a delete, refresh or position sends none.
    if (stmt->setPos.operation != 2 && stmt->setPos.operation != 4)
        return 0;
    return StartExchange(stmt, stmt->setPos.rows, &stmt->dae.rows, DAE_ROWS);
}

int OA_ParamData(uint32_t handle, int32_t* outParam, int32_t* outRow, uint16_t** outRowStatus,
                 int32_t* outStatus) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (outRowStatus != nullptr)
        *outRowStatus = nullptr;
    OA_DAE& d = stmt->dae;
    d.curRow = d.nextRow;
    d.curCol = d.nextCol;
    d.putCount = 0;
    if (outParam != nullptr)
        *outParam = d.curCol;
    if (outRow != nullptr)
        *outRow = d.curRow;
    switch (d.state) {
    case DAE_NONE:
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    case DAE_PARAMS:
    case DAE_ROWS: {
        const bool params = d.state == DAE_PARAMS;
        int32_t row = d.curRow;
        int32_t col = d.curCol;
        if (FindPending(params ? stmt->paramValues.get() : stmt->setPos.rows, params ? d.params : d.rows, &row,
                        &col)) {
            d.nextRow = row;
            d.nextCol = col;
        } else {
            d.state = params ? DAE_PARAMS_DONE : DAE_ROWS_DONE;
        }
        return ERR_AGENT_NEEDS_DATA_AT_EXEC_DATA;
    }
    case DAE_PARAMS_DONE:
        return RunDeferred(stmt, false, outRowStatus, outStatus);
    case DAE_ROWS_DONE:
        return RunDeferred(stmt, true, outRowStatus, outStatus);
    default:
        return 0;
    }
}

int OA_PutData(uint32_t handle, int16_t cType, int16_t indicator, const void* data, uint32_t length) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    OA_DAE& d = stmt->dae;
    if (++d.putCount > 1 && !IsVariable(cType)) {
        LOG_MSG(LOG_WARNING, "OA_PutData: Called more than once for a fixed length type.");
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    }
    DAE_COLS* pieces = nullptr;
    switch (d.state) {
    case DAE_NONE:
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    case DAE_PARAMS:
    case DAE_PARAMS_DONE:
        pieces = &d.params;
        break;
    case DAE_ROWS:
    case DAE_ROWS_DONE:
        pieces = &d.rows;
        break;
    default:
        return 0;
    }
    // No cell is current before the first OA_ParamData of the exchange.
    if (d.curRow < 0 || d.curRow >= pieces->rows || d.curCol < 0 || d.curCol >= pieces->count)
        return Fail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    int rc = DAE_ColPut(&pieces->cols[d.curCol], d.curRow, cType, indicator, data, length);
    return rc != 0 ? Fail(stmt, rc) : 0;
}
