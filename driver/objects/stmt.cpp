// Statement records.
#include "driver/objects/stmt.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "driver/frame/globals.h"
#include "driver/frame/trace.h"
#include "driver/objects/desc.h"
#include "util/errcode.h"
#include "util/utheap.h"
#include "util/uthash.h"

namespace {

// Releases a statement's memory with its implicit descriptors'. Handle lock held.
void StmtDelete(HANDLE_HDR* h) {
    auto* stmt = static_cast<STMT*>(h);
    for (DESC* d : {stmt->implicitArd, stmt->implicitApd, stmt->ird, stmt->ipd})
        if (d != nullptr)
            DescDelete(d);
    delete stmt;
}

void Unlink(STMT* stmt) {
    for (STMT** p = &stmt->conn->stmts; *p != nullptr; p = &(*p)->next) {
        if (*p == stmt) {
            *p = stmt->next;
            break;
        }
    }
    stmt->next = nullptr;
}

// Unregisters and frees the implicit descriptors made so far. Their memory goes with the
// statement's.
void FreeImplicitDescs(STMT* stmt) {
    for (DESC* d : {stmt->implicitArd, stmt->ird, stmt->implicitApd, stmt->ipd})
        if (d != nullptr)
            DescFree(d);
}

// How many rows fit a 64 KB fetch block, by the summed width of a row's values; at least
// one, so that a row wider than the block is still fetched rather than the result looking
// empty.
uint32_t RowsPerFetch(const COLDESC* descs, uint16_t count) {
    uint32_t width = 0;
    for (uint16_t i = 0; i < count; ++i) {
        const COLDESC& d = descs[i];
        switch (d.internalType) {
        case 0: case 2: case 3: case 6: width += 3; break;
        case 4: case 7: width += 4; break;
        case 5: case 8: case 9: width += 6; break;
        case 10: width += 10; break;
        case 11: case 12: width += 8; break;
        case 24: width += 2 * d.declaredWidth + 2; break;
        default:
            width += d.internalType == 1 || d.internalType == 14 || d.internalType > 27 ? d.declaredWidth + 2 : 18;
            break;
        }
    }
    return width == 0 ? 0 : std::max(65535u / width, 1u);
}

void FreeColAttrs(STMT* stmt) {
    if (stmt->colAttrs != nullptr) {
        ut_HashForEach(stmt->colAttrs, ut_ColAttrFreeCb, nullptr);
        ut_HashFree(stmt->colAttrs);
        stmt->colAttrs = nullptr;
    }
}

// Puts a copy of each of the agent's attribute entries in a new hash on the statement,
// under its first four bytes (attribute << 16 | column); the texts move into the copies.
// The hash replaces (and frees) the one of descriptions loaded before: an execution drops
// the descriptions to be loaded again, while their attributes stay until then.
int KeepColAttrs(STMT* stmt, COLATTR* attrs, uint16_t count) {
    UT_HASH* hash = ut_HashNew(COLATTR_HASH_BUCKETS, 4);
    if (hash == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (uint16_t i = 0; i < count; ++i) {
        // A repeated key replaces the entry it found, which goes.
        void* old = ut_HashFind(hash, &attrs[i]);
        auto* e = static_cast<COLATTR*>(uh_Calloc(1, sizeof(COLATTR)));
        if (e == nullptr || ut_HashPut(hash, &attrs[i], e) == nullptr) {
            uh_Free(e);
            ut_HashForEach(hash, ut_ColAttrFreeCb, nullptr);
            ut_HashFree(hash);
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
        if (old != nullptr)
            ut_ColAttrFreeCb(old, nullptr, nullptr);
        *e = attrs[i];
        attrs[i].kind = COLATTR_INT;
    }
    FreeColAttrs(stmt);
    stmt->colAttrs = hash;
    return 0;
}

}  // namespace

STMT::~STMT() {
    FreeColumnPiece(&getData);
    ds_Free(&rowBlock);
}

void COLDESC_ARRAY::reset() {
    ds_ColDescFree(items, count);
    items = nullptr;
    count = 0;
}

STMT* StmtAlloc(CONN* conn) {
    if (conn->state != CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_NOT_OPEN;
        return nullptr;
    }
    const OA_OPTABLE* ops = conn->holder.ops;
    auto* stmt = new (std::nothrow) STMT(conn);
    if (stmt == nullptr) {
        conn->diag.errCode = ERR_MEMORY_ALLOCATION_FAILURE;
        return nullptr;
    }
    int rc = CallSlot(ops, &OA_OPTABLE::DRV_AllocStmt, conn->agentConn, &stmt->agentStmt);
    if (rc != 0) {
        TraceLog("Unable to allocate statement handle");
        ConnGetAgentErrors(conn, nullptr);
        delete stmt;
        conn->diag.errCode = rc;
        return nullptr;
    }
    scs_CursorInitFromConn(&stmt->cursor, stmt->agentStmt, conn->agentConn, &conn->holder, stmt,
                           &conn->cursorDefaults);
    stmt->next = conn->stmts;
    conn->stmts = stmt;
    stmt->sequence = ++conn->stmtCounter;
    if (conn->cn_needbind != 0)
        stmt->flags |= STMT_FLAG_NEEDBIND;

    // The implicit descriptors, each registered as it is made; a failure undoes the lot.
    for (int16_t type : {DESC_ARD, DESC_APD, DESC_IRD, DESC_IPD}) {
        DESC* d = DescAlloc(type, DESC_ALLOC_AUTO, stmt, conn);
        rc = d == nullptr ? ERR_MEMORY_ALLOCATION_FAILURE
                          : hdl_Add(&Drv().descTable, &d->id, static_cast<HANDLE_HDR*>(d));
        if (rc != 0) {
            if (d != nullptr && d->id == 0) {
                // Made but not registered: not yet the statement's to free.
                if (stmt->ard == d)
                    stmt->ard = stmt->implicitArd = nullptr;
                if (stmt->apd == d)
                    stmt->apd = stmt->implicitApd = nullptr;
                if (stmt->ird == d)
                    stmt->ird = nullptr;
                if (stmt->ipd == d)
                    stmt->ipd = nullptr;
                DescDelete(d);
            }
            FreeImplicitDescs(stmt);
            if (ops->DRV_FreeStmt != nullptr)
                ops->DRV_FreeStmt(stmt->agentStmt);
            Unlink(stmt);
            stmt->magic = FREED_MAGIC;
            // Registered descriptors may have been seen by a look-up: their memory goes
            // under the handle lock, with the statement's.
            GateDefer(stmt->gate, stmt, StmtDelete);
            conn->diag.errCode = rc;
            return nullptr;
        }
    }
    return stmt;
}

void StmtResetCursor(STMT* stmt) {
    scs_CursorReset(&stmt->cursor);
    scs_FreeRowset(&stmt->cursor);
    stmt->rowNumber = 0;
    stmt->fetchRoad = STMT_ROAD_NONE;
}

void StmtClose(STMT* stmt) {
    // A closed statement has no exchange of data at execution left: SQLCancel ends one.
    stmt->daeState = STMT_DAE_NONE;
    stmt->dae = STMT_DAE{};
    StmtResetCursor(stmt);
    if (stmt->state != STMT_STATE_PREPARED)
        return;
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    if (ops != nullptr && ops->DRV_CloseCursor != nullptr)
        ops->DRV_CloseCursor(stmt->agentStmt);  // a failed close leaves nothing to undo
    // A prepared statement stays prepared, described and ready for SQLExecute; a result of
    // a catalog call leaves nothing behind.
    if ((stmt->flags & STMT_FLAG_PREPARED) == 0)
        stmt->state = STMT_STATE_ALLOCATED;
    stmt->flags &= static_cast<uint16_t>(~STMT_FLAG_CURSOR_OPEN);
    StmtFreeRowBuffer(stmt);
}

void StmtFree(STMT* stmt) {
    StmtFreeResultDescs(stmt);
    StmtUnbindAll(stmt);
    StmtResetParams(stmt);
    FreeImplicitDescs(stmt);
    scs_FreeRowset(&stmt->cursor);
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    if (stmt->agentStmt != 0 && ops != nullptr && ops->DRV_FreeStmt != nullptr)
        ops->DRV_FreeStmt(stmt->agentStmt);
    stmt->agentStmt = 0;
    stmt->sentParamSet = nullptr;  // went with the agent statement
    Unlink(stmt);
    // The diagnostics stay until the memory goes: a call refused on the statement meanwhile
    // writes them under the handle lock, which this handler does not hold.
    stmt->magic = FREED_MAGIC;
    stmt->state = STMT_STATE_FREED;
    if (stmt->id != 0)
        hdl_Remove(&Drv().stmtTable, stmt->id);
    GateDefer(stmt->gate, stmt, StmtDelete);
}

bool StmtGetAgentErrors(STMT* stmt) {
    int n = ConnMoveAgentErrors(stmt->conn, stmt->agentStmt, stmt->diag);
    n += ConnGetAgentErrors(stmt->conn, stmt);
    return n > 0;
}

int StmtBindColAdd(STMT* stmt, BINDCOL col) {
    if (BINDCOL* old = StmtGetBoundCol(stmt, col.column)) {
        *old = std::move(col);  // the old binding's pieces go with it
        return 0;
    }
    stmt->boundCols.push_back(std::move(col));
    return 0;
}

void StmtBindColRemove(STMT* stmt, uint16_t column) {
    auto& cols = stmt->boundCols;
    auto it = std::find_if(cols.begin(), cols.end(), [column](const BINDCOL& b) { return b.column == column; });
    if (it != cols.end())
        cols.erase(it);
}

BINDCOL* StmtGetBoundCol(STMT* stmt, uint16_t column) {
    for (BINDCOL& b : stmt->boundCols)
        if (b.column == column)
            return &b;
    return nullptr;
}

int StmtSetParam(STMT* stmt, PARAMREC param) {
    const uint16_t n = param.number;
    if (n == 0 || n > STMT_MAX_PARAMS) {
        stmt->diag.errCode = ERR_INVALID_PARAMETER_NUMBER;
        return -1;
    }
    if (n > stmt->params.size()) {
        size_t capacity = n > STMT_MAX_PARAMS - 9 ? STMT_MAX_PARAMS : n + 9u;
        stmt->params.resize(capacity);
        stmt->shadows.resize(capacity);
    }
    // Pieces belong to the running exchange of the values, never to a new binding: the
    // old entry's are released with it.
    param.pieces.clear();
    const PARAMSHADOW shadow{param.sqlType, param.cType, static_cast<int32_t>(param.columnSize), param.scale,
                             param.paramType};
    stmt->params[n - 1] = std::move(param);
    if (!(stmt->shadows[n - 1] == shadow)) {
        stmt->flags &= static_cast<uint16_t>(~STMT_FLAG_PARAMS_SEEN);
        stmt->shadows[n - 1] = shadow;
    }
    return 0;
}

PARAMREC* StmtGetParam(STMT* stmt, uint16_t n) {
    return n == 0 || n > stmt->params.size() ? nullptr : &stmt->params[n - 1];
}

void StmtUnbindAll(STMT* stmt) {
    stmt->boundCols.clear();
    if (DESC* ard = stmt->ard) {
        if (ard->recs.size() > 1)
            ard->recs.resize(1);
    }
}

void StmtResetParams(STMT* stmt) {
    stmt->params.clear();
    stmt->shadows.clear();
    stmt->flags &= static_cast<uint16_t>(~STMT_FLAG_PARAMS_SEEN);
}

void StmtFreeParamDescs(STMT* stmt) {
    stmt->paramDescs.reset();
    stmt->paramDescsLoaded = false;
}

void FreeColumnPiece(GETDATA_STATE* state) {
    if (state->owned && state->rest != nullptr) {
        // By-reference pieces hold their bytes in a block of their own.
        if (ds_IsRefType(state->type)) {
            DS_REFVAL ref;
            std::memcpy(&ref, state->rest, sizeof ref);
            std::free(ref.data);
        }
        std::free(const_cast<unsigned char*>(state->rest));
    }
    *state = GETDATA_STATE{};
}

void StmtFreeRowBuffer(STMT* stmt) {
    ds_Free(&stmt->rowBlock);
    FreeColumnPiece(&stmt->getData);
    stmt->blockPos = 0;
    stmt->rowsetStart = -1;
}

void StmtFreeResultDescs(STMT* stmt) {
    stmt->resultDescs.reset();
    FreeColAttrs(stmt);
    stmt->resultDescsLoaded = false;
    stmt->bookmarkDesc.reset();
    StmtFreeRowBuffer(stmt);
    StmtFreeParamDescs(stmt);
}

bool StmtIsHiddenColumn(const COLDESC& d) {
    return d.name[0] == '*' && d.name[1] != '\0' && std::strchr("IOBU", d.name[1]) != nullptr;
}

const COLDESC_ARRAY* StmtGetResultDescs(STMT* stmt) {
    if (stmt->resultDescsLoaded)
        return &stmt->resultDescs;
    // An execution or the next result drops the descriptions but may leave the previous
    // result's attributes: they go with the load that replaces them.
    FreeColAttrs(stmt);
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    uint16_t count = 0;
    COLDESC* descs = nullptr;
    uint16_t attrCount = 0;
    COLATTR* attrs = nullptr;
    // The extended describe also gives the column attributes the descriptor fields answer.
    const bool extended = ops != nullptr && ops->DRV_DescribeColsEx != nullptr && stmt->conn->agentCaps[0] != 0;
    int rc = extended ? ops->DRV_DescribeColsEx(stmt->agentStmt, &count, &attrCount, &descs, &attrs)
                      : CallSlot(ops, &OA_OPTABLE::DRV_DescribeCols, stmt->agentStmt, &count, &descs);
    if (rc == 0 && attrCount != 0 && attrs != nullptr)
        rc = KeepColAttrs(stmt, attrs, attrCount);
    if (attrs != nullptr) {
        for (uint16_t i = 0; i < attrCount; ++i)
            ut_ColAttrFree(&attrs[i]);
        uh_Free(attrs);
    }
    if (rc != 0) {
        ds_ColDescFree(descs, count);
        stmt->diag.errCode = rc;
        StmtGetAgentErrors(stmt);
        return nullptr;
    }
    stmt->resultDescs.adopt(descs, count);
    stmt->resultDescsLoaded = true;
    if (++stmt->resultDescsLoads == 0)
        stmt->resultDescsLoads = 1;
    stmt->rowsPerFetch = static_cast<uint16_t>(
        std::clamp<uint32_t>(std::min<uint32_t>(RowsPerFetch(descs, count), stmt->conn->cn_fetchSize), 1, 65535));
    return &stmt->resultDescs;
}

const COLDESC* StmtGetColDesc(STMT* stmt, uint16_t column) {
    const COLDESC_ARRAY* descs = StmtGetResultDescs(stmt);
    if (descs == nullptr)
        return nullptr;
    if (column == 0 && stmt->cursor.useBookmarks != 0) {
        if (!stmt->bookmarkDesc) {
            auto d = std::make_unique<COLDESC>();
            std::strcpy(d->name, "BOOKMARK");
            d->sqlType = SQL_CHAR;
            d->columnSize = 8;
            d->internalType = 8;
            d->declaredWidth = 8;
            stmt->bookmarkDesc = std::move(d);
        }
        return stmt->bookmarkDesc.get();
    }
    // Column n as the application counts: the n-th column that is not hidden.
    uint16_t visible = 0;
    for (uint16_t i = 0; i < descs->count && column != 0; ++i) {
        if (StmtIsHiddenColumn(descs->items[i]))
            continue;
        if (++visible == column)
            return &descs->items[i];
    }
    // A statement without result columns has no column to describe at all.
    bool anyVisible = visible != 0;
    for (uint16_t i = 0; i < descs->count && !anyVisible; ++i)
        anyVisible = !StmtIsHiddenColumn(descs->items[i]);
    stmt->diag.errCode = anyVisible ? ERR_INVALID_COLUMN_NUMBER : ERR_PREPARED_STATEMENT_NOT_A_CURSOR_SPECIFICATION;
    return nullptr;
}

namespace {

// The agent's number of the column: its place in the whole array from 1, hidden columns
// counted; 0 for the bookmark column, which has no attributes of its own.
int AgentColumn(const STMT* stmt, const COLDESC* d) {
    const COLDESC_ARRAY& a = stmt->resultDescs;
    if (a.items == nullptr || d < a.items || d >= a.items + a.count)
        return -1;
    return static_cast<int>(d - a.items) + 1;
}

}  // namespace

bool StmtColAttrInt(const STMT* stmt, const COLDESC* d, int attribute, int32_t* out) {
    const int column = AgentColumn(stmt, d);
    return column > 0 && ut_ColAttrGet(stmt->colAttrs, attribute, column, out, nullptr, nullptr) == 1;
}

bool StmtColAttrText(const STMT* stmt, const COLDESC* d, int attribute, const char** out) {
    const int column = AgentColumn(stmt, d);
    return column > 0 && ut_ColAttrGet(stmt->colAttrs, attribute, column, nullptr, out, nullptr) == 1 &&
           *out != nullptr;
}

const COLDESC* StmtGetParamDesc(STMT* stmt, uint16_t n) {
    // The descriptions come first: the range is theirs.
    if (!stmt->paramDescsLoaded && (stmt->flags & STMT_FLAG_PREPARED) != 0 &&
        (stmt->flags & STMT_FLAG_CURSOR_OPEN) == 0) {
        const OA_OPTABLE* ops = stmt->conn->holder.ops;
        const int32_t on = 1;
        uint16_t count = 0;
        COLDESC* descs = nullptr;
        // Both slots or neither: describing is not switched on for an agent that cannot answer.
        int rc = ops == nullptr || ops->DRV_DescribeParams == nullptr
                     ? ERR_DRIVER_NOT_CAPABLE
                     : CallSlot(ops, &OA_OPTABLE::DRV_SetProperty, stmt->agentStmt, OA_PROP_DESCRIBE_PARAMS,
                                static_cast<const void*>(&on));
        if (rc == 0)
            rc = ops->DRV_DescribeParams(stmt->agentStmt, &count, &descs);
        if (rc != 0) {
            ds_ColDescFree(descs, count);
            stmt->diag.errCode = rc;
            StmtGetAgentErrors(stmt);
            return nullptr;
        }
        stmt->paramDescs.adopt(descs, count);
        stmt->paramDescsLoaded = true;
    }
    if (n == 0 || n > stmt->paramDescs.count) {
        stmt->diag.errCode = ERR_INVALID_PARAMETER_NUMBER;
        return nullptr;
    }
    return &stmt->paramDescs.items[n - 1];
}

int StmtParamOptions(STMT* stmt, SQLULEN rows, SQLULEN* rowsProcessed) {
    if (stmt->conn->cn_hasParamOp == 0)
        return rows == 1 ? 0 : ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION;
    // The size is kept in 32 bits: a larger one would be cut to another number of rows.
    if (rows == 0 || rows > UINT32_MAX)
        return ERR_ROW_VALUE_OUT_OF_RANGE;
    stmt->paramSetSize = static_cast<uint32_t>(rows);
    stmt->rowsProcessed = rowsProcessed;
    return 0;
}

int StmtRowCount(STMT* stmt, SQLLEN* out) {
    const OA_OPTABLE* ops = stmt->conn->holder.ops;
    int32_t count = 0;
    int32_t len = 0;
    int rc = CallSlot(ops, &OA_OPTABLE::DRV_GetProperty, stmt->agentStmt, OA_PROP_ROW_COUNT,
                      static_cast<void*>(&count), int32_t{sizeof count}, &len);
    if (rc != 0)
        return rc;
    if (out != nullptr)
        *out = count;
    return 0;
}

int StmtNumResultCols(STMT* stmt, SQLSMALLINT* out) {
    if (stmt->state != STMT_STATE_PREPARED)
        return ERR_FUNCTION_SEQUENCE_ERROR;
    if (out == nullptr)
        return 0;
    const COLDESC_ARRAY* descs = StmtGetResultDescs(stmt);
    if (descs == nullptr) {
        *out = 0;
        return stmt->diag.errCode != 0 ? stmt->diag.errCode : ERR_GENERAL_ERROR;
    }
    SQLSMALLINT n = 0;
    for (uint16_t i = 0; i < descs->count; ++i)
        if (!StmtIsHiddenColumn(descs->items[i]))
            ++n;
    *out = n;
    return 0;
}

int StmtNumParams(STMT* stmt, SQLSMALLINT* out) {
    if (stmt->state != STMT_STATE_PREPARED)
        return ERR_FUNCTION_SEQUENCE_ERROR;
    if (out != nullptr)
        *out = static_cast<SQLSMALLINT>(stmt->paramDescs.count);
    return 0;
}
