// Positioned operations on the rowset (SQLSetPos): the checks against the
// cursor record, the row image built from the bound columns, the cursor
// library's slot 37 and the row statuses it hands back.
//
// The row image has one row per rowset row (row n at index n - 1) and one
// column per bound column the operation writes; only the target rows are
// filled. A row the row-operation array ignores carries -4 in every column. The
// image stays on the statement until the next operation, since the agent reads
// it while it asks for values given at execution.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "driver/exec/convert/valtypes.h"
#include "driver/exec/execute.h"
#include "driver/exec/fetch.h"
#include "driver/objects/conn.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/param.h"
#include "driver/objects/stmt.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_scroll.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

SQLULEN RowsetSize(const STMT* stmt) {
    return std::max<SQLULEN>(static_cast<uint32_t>(std::max(stmt->cursor.rowsetSize, 1)), 1);
}

SQLLEN BindOffset(const STMT* stmt) {
    const DESC* ard = stmt->ard;
    return ard != nullptr && ard->bindOffset != nullptr ? *ard->bindOffset : 0;
}

// A bulk update by bookmark writes every row of the bound arrays; the row-operation array
// plays no part in it.
bool BulkUpdate(const STMT* stmt) { return stmt->cursor.setPosOperation == SQL_UPDATE_BY_BOOKMARK; }

// Whether the row-operation array marks rowset row index k ignored.
bool RowIgnored(const STMT* stmt, SQLULEN k) {
    const DESC* ard = stmt->ard;
    return !BulkUpdate(stmt) && ard != nullptr && ard->arrayStatus != nullptr && ard->arrayStatus[k] == SQL_ROW_IGNORE;
}

// The status of rowset row n (from 1); a row past those fetched is no row.
int16_t StatusOfRow(const STMT* stmt, SQLULEN n) {
    const DS_ROWSET* rs = stmt->cursor.rowset;
    if (rs == nullptr || n < 1 || n > static_cast<SQLULEN>(std::max(rs->rowCount, 0)))
        return SQL_ROW_NOROW;
    return scs_GetRowStatus(rs, static_cast<int32_t>(n));
}

// The rowset rows (indexes from 0) an operation on row (0: every row) touches.
struct RowSpan {
    SQLULEN first;
    SQLULEN end;
};
RowSpan TargetRows(const STMT* stmt) {
    if (BulkUpdate(stmt))
        return RowSpan{0, stmt->bulkRows};
    const uint32_t row = stmt->cursor.setPosRow;
    return row != 0 ? RowSpan{row - 1, row} : RowSpan{0, RowsetSize(stmt)};
}

// The C type a bound column converts with: SQL_C_DEFAULT resolved from its
// column.
int16_t BoundCType(STMT* stmt, const BINDCOL& bc) {
    if (bc.cType != SQL_C_DEFAULT)
        return bc.cType;
    const COLDESC* d = StmtGetColDesc(stmt, bc.column);
    return DefaultCType(d != nullptr ? d->sqlType : 0, static_cast<int32_t>(stmt->conn->envr->odbcVersion));
}

// One bound row's value of a bound column as the application left it.
struct BoundValue {
    const char* data = nullptr;  // null: no data buffer
    SQLLEN octet = 0;            // octet-length value (the buffer length without a buffer)
    SQLLEN indicator = 0;        // 0 without an indicator buffer
};

BoundValue ValueAt(const STMT* stmt, const BINDCOL& bc, int16_t cType, SQLULEN k) {
    const SQLLEN offset = BindOffset(stmt);
    const SQLLEN fixed = CTypeOctetLength(cType);
    const auto kk = static_cast<SQLLEN>(k);
    const SQLLEN dataStride = stmt->bindType != 0 ? stmt->bindType : fixed != 0 ? fixed : bc.bufferLength;
    const SQLLEN lenStride = stmt->bindType != 0 ? stmt->bindType : static_cast<SQLLEN>(sizeof(SQLLEN));
    BoundValue v;
    if (bc.data != nullptr)
        v.data = static_cast<const char*>(bc.data) + offset + kk * dataStride;
    // Read through memcpy: the application's offset and stride may leave them
    // unaligned.
    v.octet = bc.bufferLength;
    if (bc.octetLength != nullptr)
        std::memcpy(&v.octet, reinterpret_cast<const char*>(bc.octetLength) + offset + kk * lenStride, sizeof v.octet);
    if (bc.indicator != nullptr)
        std::memcpy(&v.indicator, reinterpret_cast<const char*>(bc.indicator) + offset + kk * lenStride,
                    sizeof v.indicator);
    return v;
}

size_t TextBytes(int16_t cType, const char* data) {
    if (cType != SQL_C_WCHAR)
        return std::strlen(data);
    size_t n = 0;
    for (SQLWCHAR u = 0; std::memcpy(&u, data + n * sizeof u, sizeof u), u != 0;)
        ++n;
    return n * sizeof(SQLWCHAR);
}

// What one image cell holds.
struct Cell {
    enum Kind { Null, Ignore, AtExec, Value } kind = Null;
    const char* data = nullptr;
    size_t length = 0;
};

// A column of the image: where its values come from and how they are stored.
struct ImageColumn {
    size_t pos;  // in stmt->boundCols
    int16_t cType;
    int32_t type;
    uint32_t width;
    std::vector<Cell> cells;  // one per target row
};

Cell CellOf(STMT* stmt, const BINDCOL& bc, int16_t cType, SQLULEN k, bool agentRoad) {
    if (RowIgnored(stmt, k))
        return {Cell::Ignore};
    const BoundValue v = ValueAt(stmt, bc, cType, k);
    if (bc.indicator != nullptr && v.indicator == SQL_NULL_DATA)
        return {Cell::Null};
    if (IsDataAtExecLength(v.octet)) {
        if (agentRoad)
            return {Cell::AtExec};
        if (k >= bc.pieces.size() || bc.pieces[k].null || !bc.pieces[k].bytes)
            return {Cell::Null};
        const std::string& b = *bc.pieces[k].bytes;
        return {Cell::Value, b.data(), b.size()};
    }
    if (v.data == nullptr)
        return {Cell::Null};
    const SQLLEN fixed = CTypeOctetLength(cType);
    size_t length = 0;
    if (fixed != 0)
        length = static_cast<size_t>(fixed);
    else if (v.octet == SQL_NTS)
        length = TextBytes(cType, v.data);
    else if (v.octet < 0)
        length = static_cast<size_t>(std::max<SQLLEN>(bc.bufferLength, 0));
    else
        length = static_cast<size_t>(v.octet);
    return {Cell::Value, v.data, length};
}

// The stored type and width of a column from its C type and its longest value.
void Decide(ImageColumn* c, size_t longest) {
    switch (c->cType) {
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
        c->type = DS_CHAR;
        c->width = 32;
        return;
    case SQL_C_NUMERIC:
        c->type = DS_CHAR;
        c->width = NUMERIC_TEXT_LENGTH + 1;
        return;
    case SQL_C_GUID:
        c->type = DS_CHAR;
        c->width = GUID_TEXT_LENGTH + 1;
        return;
    case SQL_C_WCHAR:
        c->type = DS_WCHAR;
        c->width = static_cast<uint32_t>(longest + sizeof(SQLWCHAR));
        return;
    case SQL_C_BINARY:
        // Counted, as a binary parameter travels: the server is told each value's
        // length.
        c->type = DS_VARBINARY32;
        c->width = static_cast<uint32_t>(longest + sizeof(int32_t));
        return;
    default:
        break;
    }
    if (CTypeOctetLength(c->cType) != 0) {
        c->type = CTypeToDsCType(c->cType, &c->width);
        return;
    }
    c->type = DS_CHAR;
    c->width = static_cast<uint32_t>(longest + 1);
}

void FillValue(const ImageColumn& c, const Cell& cell, unsigned char* elem) {
    switch (c.cType) {
    case SQL_C_SBIGINT: {
        int64_t v = 0;
        std::memcpy(&v, cell.data, sizeof v);
        std::snprintf(reinterpret_cast<char*>(elem), c.width, "%lld", static_cast<long long>(v));
        return;
    }
    case SQL_C_UBIGINT: {
        uint64_t v = 0;
        std::memcpy(&v, cell.data, sizeof v);
        std::snprintf(reinterpret_cast<char*>(elem), c.width, "%llu", static_cast<unsigned long long>(v));
        return;
    }
    case SQL_C_NUMERIC: {
        SQL_NUMERIC_STRUCT n;
        std::memcpy(&n, cell.data, sizeof n);
        NumericToText(reinterpret_cast<char*>(elem), &n);
        return;
    }
    case SQL_C_GUID: {
        SQLGUID g;
        std::memcpy(&g, cell.data, sizeof g);
        GuidToText(reinterpret_cast<char*>(elem), &g);
        return;
    }
    case SQL_C_BINARY: {
        const auto n = static_cast<int32_t>(cell.length);
        std::memcpy(elem, &n, sizeof n);
        if (cell.length > 0)
            std::memcpy(elem + sizeof n, cell.data, cell.length);
        return;
    }
    default:
        break;
    }
    if (cell.length > 0)
        std::memcpy(elem, cell.data, std::min<size_t>(cell.length, c.width));
}

// The row image of the target rows from the bound columns: the column list
// (result column numbers) and, for the agent's exchange, each image column's
// bound position.
int BuildRowImage(STMT* stmt, bool agentRoad) {
    stmt->setPosImage.reset();
    stmt->setPosColumns.clear();
    stmt->columnMap.clear();
    const RowSpan span = TargetRows(stmt);
    std::vector<size_t> order;
    for (size_t i = 0; i < stmt->boundCols.size(); ++i)
        if (stmt->boundCols[i].column != 0)
            order.push_back(i);
    std::sort(order.begin(), order.end(),
              [stmt](size_t a, size_t b) { return stmt->boundCols[a].column < stmt->boundCols[b].column; });
    std::vector<ImageColumn> cols;
    for (size_t pos : order) {
        const BINDCOL& bc = stmt->boundCols[pos];
        const COLDESC* d = StmtGetColDesc(stmt, bc.column);
        if (d == nullptr)
            return ERR_GENERAL_ERROR;
        if (((d->flags >> 4) & 0xF) == 1)
            continue;  // read-only: nothing to write
        const int16_t cType = BoundCType(stmt, bc);
        if (bc.octetLength != nullptr && ValueAt(stmt, bc, cType, span.first).octet == SQL_COLUMN_IGNORE)
            continue;
        ImageColumn c{pos, cType, DS_NONE, 0, {}};
        size_t longest = 0;
        for (SQLULEN k = span.first; k < span.end; ++k) {
            c.cells.push_back(CellOf(stmt, bc, cType, k, agentRoad));
            longest = std::max(longest, c.cells.back().length);
        }
        Decide(&c, longest);
        cols.push_back(std::move(c));
    }
    DatasetPtr image(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (image == nullptr || ds_Init(image.get(), static_cast<uint16_t>(cols.size())) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    image->colsUsed = static_cast<uint16_t>(cols.size());
    for (size_t j = 0; j < cols.size(); ++j) {
        image->cols[j].type = cols[j].type;
        image->cols[j].width = cols[j].width;
    }
    const auto rows = static_cast<int32_t>(BulkUpdate(stmt) ? stmt->bulkRows : RowsetSize(stmt));
    if (!cols.empty() && ds_AllocRows(image.get(), rows) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    image->rowsUsed = rows;
    for (size_t j = 0; j < cols.size(); ++j) {
        DATASET_COL& col = image->cols[j];
        for (SQLULEN k = span.first; k < span.end; ++k) {
            const Cell& cell = cols[j].cells[k - span.first];
            const auto r = static_cast<int32_t>(k);
            switch (cell.kind) {
            case Cell::Null:
                col.indicators[r] = DS_IND_NULL;
                break;
            case Cell::Ignore:
                col.indicators[r] = DS_IND_IGNORE;
                break;
            case Cell::AtExec:
                col.indicators[r] = DS_IND_DATA_AT_EXEC;
                break;
            case Cell::Value:
                col.indicators[r] = 0;
                FillValue(cols[j], cell, ds_Elem(&col, r));
                break;
            }
        }
    }
    if (stmt->conn->narrowWidePieces != 0) {
        if (int rc = ds_WideToAnsi(image.get(), stmt->conn->narrow); rc != 0)
            return rc;
    }
    try {
        for (const ImageColumn& c : cols) {
            stmt->setPosColumns.push_back(stmt->boundCols[c.pos].column);
            stmt->columnMap.push_back(static_cast<uint16_t>(c.pos + 1));
        }
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    stmt->setPosImage = std::move(image);
    return 0;
}

// A delete's image: one column whose rows say which rows the row-operation
// array ignores.
int BuildRowFlags(STMT* stmt) {
    stmt->setPosImage.reset();
    stmt->setPosColumns.clear();
    DatasetPtr flags(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (flags == nullptr || ds_Init(flags.get(), 1) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    flags->colsUsed = 1;
    flags->cols[0].type = DS_BIT;
    flags->cols[0].width = 1;
    const auto rows = static_cast<int32_t>(RowsetSize(stmt));
    if (ds_AllocRows(flags.get(), rows) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    flags->rowsUsed = rows;
    for (int32_t r = 0; r < rows; ++r)
        flags->cols[0].indicators[r] = RowIgnored(stmt, static_cast<SQLULEN>(r)) ? DS_IND_IGNORE : DS_IND_NULL;
    stmt->setPosImage = std::move(flags);
    return 0;
}

int32_t Target(const STMT* stmt) {
    return stmt->cursor.setPosRow != 0 ? static_cast<int32_t>(stmt->cursor.setPosRow) : SCS_POS_WHOLE_ROWSET;
}

int CallSetPos(STMT* stmt, uint16_t operation, uint16_t** status, int32_t* count) {
    *status = nullptr;
    *count = 0;
    DATASET* image = stmt->setPosImage.get();
    const auto n = static_cast<uint16_t>(stmt->setPosColumns.size());
    return CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_SetPos, stmt->agentStmt, Target(stmt), operation,
                    uint16_t{0}, status, count, image, n != 0 ? stmt->setPosColumns.data() : nullptr, n);
}

// The failure of a call that hands back no statuses: the agent's messages, else
// the code.
SQLRETURN FailWith(STMT* stmt, int rc) {
    StmtGetAgentErrors(stmt);
    return StmtFail(stmt, rc);
}

// The agent's statuses into the cursor's rowset and the application's
// row-status array (a row the row-operation array ignores keeps the
// application's entry).
void WriteStatuses(STMT* stmt, const uint16_t* status, int32_t count) {
    SCS_CURSOR& cur = stmt->cursor;
    const RowSpan span = TargetRows(stmt);
    for (SQLULEN k = span.first; k < span.end && static_cast<int64_t>(k - span.first) < count; ++k) {
        const uint16_t s = status[k - span.first];
        scs_SetRowStatus(cur.rowset, static_cast<int32_t>(k + 1), static_cast<int16_t>(s));
        if (cur.appRowStatus != nullptr && !RowIgnored(stmt, k))
            cur.appRowStatus[k] = s;
    }
}

// The refresh: the library brings its statuses and optimistic values up to
// date, then the rowset is read again at its start so that the bound buffers
// get the server's values. A cursor the library changes no rows on is read
// again all the same.
SQLRETURN Refresh(STMT* stmt) {
    SCS_CURSOR& cur = stmt->cursor;
    uint16_t* status = nullptr;
    int32_t count = 0;
    stmt->setPosImage.reset();
    stmt->setPosColumns.clear();
    int rc = CallSetPos(stmt, SQL_REFRESH, &status, &count);
    uh_Free(status);
    if (rc != 0 && rc != ERR_DRIVER_NOT_CAPABLE)
        return FailWith(stmt, rc);
    const int32_t start = cur.rowsetStart;
    scs_FreeRowset(&cur);
    uint32_t fetched = 0;
    // Dynamic and mixed cursors number no rows: they read the same place again.
    const bool numbered = start >= 1;
    rc = scs_ScrollPosition(&cur, numbered ? SQL_FETCH_ABSOLUTE : SQL_FETCH_RELATIVE, numbered ? start : 0, &fetched);
    if (rc != 0)
        return FailWith(stmt, rc);
    if (int prc = scs_SetPosition(&cur, Target(stmt)); prc != 0)
        return StmtFail(stmt, prc);
    return StmtFillRowset(stmt, reinterpret_cast<SQLUSMALLINT*>(cur.appRowStatus), static_cast<int32_t>(cur.setPosRow),
                          SQL_REFRESH);
}

// Update or add once every value is at hand (or the agent asks for the rest).
SQLRETURN RunRowOperation(STMT* stmt, bool agentRoad) {
    stmt->daeState = STMT_DAE_NONE;
    if (int rc = BuildRowImage(stmt, agentRoad); rc != 0)
        return StmtFail(stmt, rc);
    uint16_t* status = nullptr;
    int32_t count = 0;
    const int rc = CallSetPos(stmt, stmt->cursor.setPosOperation, &status, &count);
    if (agentRoad && rc == ERR_AGENT_NEEDS_DATA_AT_EXEC_DATA) {
        uh_Free(status);
        stmt->dae = STMT_DAE{};
        stmt->dae.operation = stmt->cursor.setPosOperation;
        stmt->daeState = STMT_DAE_SETPOS;
        return SQL_NEED_DATA;
    }
    return StmtSetPosComplete(stmt, rc, status, count);
}

bool HasDataColumn(const STMT* stmt) {
    return std::any_of(stmt->boundCols.begin(), stmt->boundCols.end(),
                       [](const BINDCOL& bc) { return bc.column != 0; });
}

}  // namespace

SQLRETURN StmtSetPos(STMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lock) {
    SCS_CURSOR& cur = stmt->cursor;
    if (lock != SQL_LOCK_NO_CHANGE)
        return StmtFail(stmt, ERR_DRIVER_NOT_CAPABLE);
    if (stmt->daeState != STMT_DAE_NONE)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (stmt->conn->cn_hasScrlCurs == 0)
        return StmtFail(stmt, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    if (cur.cursorType == SQL_CURSOR_FORWARD_ONLY)
        return StmtFail(stmt, ERR_INVALID_CURSOR_POSITION);
    const bool writes = operation == SQL_UPDATE || operation == SQL_DELETE || operation == SQL_ADD;
    if (cur.concurrency == SQL_CONCUR_READ_ONLY && writes)
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (stmt->state != STMT_STATE_PREPARED || (stmt->flags & STMT_FLAG_CURSOR_OPEN) == 0)
        return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
    const SQLULEN size = RowsetSize(stmt);
    if (operation != SQL_ADD) {
        if (cur.position == SCS_POS_BEFORE_START || cur.position == SCS_POS_AFTER_END)
            return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
        if (row > size)
            return StmtFail(stmt, ERR_ROW_VALUE_OUT_OF_RANGE);
        // Only a row named alone is refused; an operation on every row passes over
        // rows that are gone, in error or missing and keeps their statuses.
        if (row != 0) {
            const int16_t s = StatusOfRow(stmt, row);
            const bool touches = operation == SQL_REFRESH || operation == SQL_UPDATE || operation == SQL_DELETE;
            if (s == SQL_ROW_NOROW || (touches && (s == SQL_ROW_DELETED || s == SQL_ROW_ERROR)))
                return StmtFail(stmt, ERR_INVALID_CURSOR_POSITION);
        }
    }
    if (operation > SQL_ADD)
        return StmtFail(stmt, ERR_DRIVER_NOT_CAPABLE);
    if ((operation == SQL_UPDATE || operation == SQL_ADD) && !HasDataColumn(stmt))
        return StmtFail(stmt, ERR_DEGREE_OF_DERIVED_TABLE_DOES_NOT);
    if (operation != SQL_ADD) {
        if (int rc = scs_SetPosition(&cur, row != 0 ? static_cast<int32_t>(row) : SCS_POS_WHOLE_ROWSET); rc != 0)
            return StmtFail(stmt, rc);
    }
    cur.setPosRow = static_cast<uint32_t>(row);
    cur.setPosOperation = operation;

    switch (operation) {
    case SQL_POSITION: {
        stmt->setPosImage.reset();
        stmt->setPosColumns.clear();
        uint16_t* status = nullptr;
        int32_t count = 0;
        const int rc = CallSetPos(stmt, SQL_POSITION, &status, &count);
        uh_Free(status);
        // A cursor the library changes no rows on still takes the position.
        if (rc != 0 && rc != ERR_DRIVER_NOT_CAPABLE)
            return FailWith(stmt, rc);
        return SQL_SUCCESS;
    }
    case SQL_REFRESH:
        return Refresh(stmt);
    case SQL_DELETE: {
        if (int rc = BuildRowFlags(stmt); rc != 0)
            return StmtFail(stmt, rc);
        uint16_t* status = nullptr;
        int32_t count = 0;
        const int rc = CallSetPos(stmt, SQL_DELETE, &status, &count);
        return StmtSetPosComplete(stmt, rc, status, count);
    }
    default:
        break;
    }
    if (stmt->conn->cn_hasV2DAE != 0)
        return RunRowOperation(stmt, true);
    // The driver's road: values given at execution are collected before the image
    // is built.
    for (BINDCOL& bc : stmt->boundCols)
        PIECES().swap(bc.pieces);
    stmt->dae = STMT_DAE{};
    stmt->dae.operation = operation;
    if (StmtCheckDataAtExec(stmt)) {
        stmt->daeState = STMT_DAE_SETPOS;
        return SQL_NEED_DATA;
    }
    return RunRowOperation(stmt, false);
}

bool StmtCheckDataAtExec(STMT* stmt) {
    STMT_DAE& dae = stmt->dae;
    const RowSpan span = TargetRows(stmt);
    for (SQLULEN k = std::max<SQLULEN>(dae.nextRow, span.first); k < span.end; ++k) {
        if (RowIgnored(stmt, k))
            continue;
        for (size_t i = k == dae.nextRow ? dae.nextPos : 0; i < stmt->boundCols.size(); ++i) {
            const BINDCOL& bc = stmt->boundCols[i];
            if (bc.column == 0 || bc.octetLength == nullptr)
                continue;
            if (IsDataAtExecLength(ValueAt(stmt, bc, BoundCType(stmt, bc), k).octet)) {
                dae.nextPos = static_cast<uint16_t>(i);
                dae.nextRow = static_cast<uint32_t>(k);
                return true;
            }
        }
    }
    dae.nextPos = 0;
    dae.nextRow = 0;
    return false;
}

SQLRETURN StmtSetPosLocal(STMT* stmt, SQLSETPOSIROW row, SQLUSMALLINT operation) {
    stmt->cursor.setPosRow = static_cast<uint32_t>(row);
    stmt->cursor.setPosOperation = operation;
    return RunRowOperation(stmt, false);
}

SQLRETURN StmtSetPosComplete(STMT* stmt, int rc, uint16_t* status, int32_t count) {
    if (rc != 0)
        StmtGetAgentErrors(stmt);
    const bool statuses = rc == 0 || rc == ERR_NO_ROWS_UPDATED_OR_DELETED || rc == ERR_MORE_THAN_ONE_ROW_UPDATED_OR ||
                          rc == ERR_ERROR_IN_ROW;
    if (statuses && status != nullptr)
        WriteStatuses(stmt, status, count);
    uh_Free(status);
    if (rc == 0)
        return SQL_SUCCESS;
    stmt->diag.errCode = rc;
    // Some rows of many changed and some did not: the operation warns. A row
    // named alone that did not change, or no row changed at all: it failed.
    const bool someRows =
        rc == ERR_MORE_THAN_ONE_ROW_UPDATED_OR || (rc == ERR_ERROR_IN_ROW && stmt->cursor.setPosRow == 0);
    return someRows ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
}

// ---- SQLBulkOperations --------------------------------------------------------------------

namespace {

// The bookmarks of rows [0, n) of the bound bookmark column, read at its C type and stride.
int ReadBookmarks(STMT* stmt, SQLULEN n, std::vector<int32_t>* out) {
    const BINDCOL* bc = StmtGetBoundCol(stmt, 0);
    if (bc == nullptr || bc->data == nullptr)
        return ERR_OPTION_TYPE_OUT_OF_RANGE;
    const int16_t cType = bc->cType == SQL_C_DEFAULT ? SQL_C_BOOKMARK : bc->cType;
    size_t width = 0;
    switch (cType) {
    case SQL_C_SLONG:
    case SQL_C_ULONG:
        width = 4;
        break;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
        width = 8;
        break;
    case SQL_C_BINARY:  // SQL_C_VARBOOKMARK: as many bytes of the 8-byte bookmark as it holds
        width = static_cast<size_t>(std::clamp<SQLLEN>(bc->bufferLength, 0, 8));
        break;
    default:
        return ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION;
    }
    try {
        out->assign(n, 0);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    for (SQLULEN k = 0; k < n; ++k) {
        const BoundValue v = ValueAt(stmt, *bc, cType, k);
        size_t bytes = width;
        if (cType == SQL_C_BINARY && bc->octetLength != nullptr && v.octet >= 0)
            bytes = std::min<size_t>(bytes, static_cast<size_t>(v.octet));
        uint64_t value = 0;
        std::memcpy(&value, v.data, bytes);  // little-endian: the low bytes first
        const bool negative = (cType == SQL_C_SLONG && static_cast<int32_t>(value) < 0) ||
                              (cType == SQL_C_SBIGINT && static_cast<int64_t>(value) < 0);
        // A bookmark the driver never gave out names no row.
        (*out)[k] = negative || value > static_cast<uint64_t>(INT32_MAX) ? 0 : static_cast<int32_t>(value);
    }
    return 0;
}

// Every bookmark names a row of the current rowset: there is none after a bulk operation
// until the next fetch.
int CheckBookmarks(const STMT* stmt, const std::vector<int32_t>& bookmarks) {
    const SCS_CURSOR& cur = stmt->cursor;
    const int64_t start = cur.rowsetStart;
    const auto size = static_cast<int64_t>(RowsetSize(stmt));
    if (start < 1 || cur.rowset == nullptr)
        return ERR_BOOKMARK_REFERS_TO_ROW_OUTSIDE_THE;
    for (int32_t b : bookmarks)
        if (b < start || b >= start + size)
            return ERR_BOOKMARK_REFERS_TO_ROW_OUTSIDE_THE;
    return 0;
}

// Slot 42 and what follows it: statuses to the IRD, counts, the fetched rows to the bound
// columns; no current rowset afterwards.
SQLRETURN RunBulk(STMT* stmt, SQLUSMALLINT operation, DATASET* image, const std::vector<uint16_t>& columns) {
    SCS_CURSOR& cur = stmt->cursor;
    const std::vector<int32_t>& bookmarks = stmt->bulkBookmarks;
    const auto n = static_cast<uint32_t>(bookmarks.size());
    uint16_t* status = nullptr;
    uint32_t count = 0;
    DS_ROWSET* fetched = nullptr;
    const bool fetch = operation == SQL_FETCH_BY_BOOKMARK;
    const auto ncols = static_cast<uint16_t>(columns.size());
    const int rc = CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_BulkOperations, stmt->agentStmt,
                            static_cast<uint16_t>(operation), bookmarks.data(), n, image,
                            ncols != 0 ? columns.data() : nullptr, ncols, &status, &count,
                            fetch ? &fetched : static_cast<DS_ROWSET**>(nullptr));
    SQLRETURN result = SQL_SUCCESS;
    if (rc != 0) {
        StmtGetAgentErrors(stmt);
        stmt->diag.errCode = rc;
        result = rc == ERR_MORE_THAN_ONE_ROW_UPDATED_OR ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
    }
    if (fetch && fetched != nullptr) {
        StmtFreeRowBuffer(stmt);
        scs_FreeRowset(&cur);
        cur.rowset = fetched;
        result = StmtFillRowset(stmt, nullptr, 0, SQL_FETCH_BY_BOOKMARK);
    }
    const DESC* ird = stmt->ird;
    if (ird != nullptr && ird->arrayStatus != nullptr)
        for (uint32_t i = 0; i < n; ++i)
            ird->arrayStatus[i] = status != nullptr ? status[i] : static_cast<SQLUSMALLINT>(SQL_ROW_ERROR);
    if (ird != nullptr && ird->rowsProcessed != nullptr)
        *ird->rowsProcessed = n;
    if (stmt->rowsFetched != nullptr)
        *stmt->rowsFetched = n;
    uh_Free(status);
    stmt->bulkBookmarks.clear();
    stmt->setPosImage.reset();
    stmt->setPosColumns.clear();
    cur.setPosOperation = 0;
    // The rows the bookmarks named are no longer the rowset the cursor stands on.
    cur.rowsetStart = -1;
    return result;
}

}  // namespace

SQLRETURN StmtBulkOperations(STMT* stmt, SQLUSMALLINT operation) {
    SCS_CURSOR& cur = stmt->cursor;
    if (operation < SQL_ADD || operation > SQL_FETCH_BY_BOOKMARK)
        return StmtFail(stmt, ERR_OPTION_TYPE_OUT_OF_RANGE);
    if (stmt->daeState != STMT_DAE_NONE)
        return StmtFail(stmt, ERR_FUNCTION_SEQUENCE_ERROR);
    if (stmt->conn->cn_hasScrlCurs == 0)
        return StmtFail(stmt, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    const bool keyset = cur.cursorType == SQL_CURSOR_KEYSET_DRIVEN && cur.keysetSize == 0;
    if (cur.cursorType != SQL_CURSOR_STATIC && !keyset)
        return StmtFail(stmt, ERR_BULK_OPERATIONS_ARE_NOT_SUPPORTED_ON);
    if (stmt->state != STMT_STATE_PREPARED || (stmt->flags & STMT_FLAG_CURSOR_OPEN) == 0)
        return StmtFail(stmt, ERR_INVALID_CURSOR_STATE);
    const SQLULEN rows = stmt->ard != nullptr ? stmt->ard->arraySize : 1;
    if (rows == 0)
        return SQL_SUCCESS;
    if (rows > RowsetSize(stmt) && operation != SQL_ADD)
        return StmtFail(stmt, ERR_ROW_VALUE_OUT_OF_RANGE);
    if (operation == SQL_ADD)
        return StmtSetPos(stmt, 0, SQL_ADD, SQL_LOCK_NO_CHANGE);
    if (cur.useBookmarks == SQL_UB_OFF)
        return StmtFail(stmt, ERR_OPTION_TYPE_OUT_OF_RANGE);
    if (int rc = ReadBookmarks(stmt, rows, &stmt->bulkBookmarks); rc != 0)
        return StmtFail(stmt, rc);
    if (int rc = CheckBookmarks(stmt, stmt->bulkBookmarks); rc != 0) {
        stmt->bulkBookmarks.clear();
        return StmtFail(stmt, rc);
    }
    if (operation != SQL_UPDATE_BY_BOOKMARK)
        return RunBulk(stmt, operation, nullptr, {});
    if (cur.concurrency == SQL_CONCUR_READ_ONLY)
        return StmtFail(stmt, ERR_INVALID_ARGUMENT_VALUE);
    if (!HasDataColumn(stmt))
        return StmtFail(stmt, ERR_DEGREE_OF_DERIVED_TABLE_DOES_NOT);
    // The driver collects the values given at execution of every row first, whichever road
    // the connection's parameters take.
    cur.setPosOperation = SQL_UPDATE_BY_BOOKMARK;
    stmt->bulkRows = static_cast<uint32_t>(rows);
    for (BINDCOL& bc : stmt->boundCols)
        PIECES().swap(bc.pieces);
    stmt->dae = STMT_DAE{};
    stmt->dae.operation = SQL_UPDATE_BY_BOOKMARK;
    if (StmtCheckDataAtExec(stmt)) {
        stmt->daeState = STMT_DAE_BULK;
        return SQL_NEED_DATA;
    }
    return StmtBulkUpdateCollected(stmt);
}

SQLRETURN StmtBulkUpdateCollected(STMT* stmt) {
    stmt->daeState = STMT_DAE_NONE;
    if (int rc = BuildRowImage(stmt, false); rc != 0) {
        stmt->bulkBookmarks.clear();
        stmt->cursor.setPosOperation = 0;
        return StmtFail(stmt, rc);
    }
    return RunBulk(stmt, SQL_UPDATE_BY_BOOKMARK, stmt->setPosImage.get(), stmt->setPosColumns);
}

