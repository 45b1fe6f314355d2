// The cursor library's overrides of the statement's life and the connection's: properties,
// connect and disconnect, allocate and free, prepare, parameters, execute, fetch, close and
// the positioned operation.
#include "scrs/scs_ops.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "drv_pro9/oa_services.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_conn.h"
#include "scrs/ks_keyset.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_desc.h"
#include "scrs/scs_prepare.h"
#include "scrs/scs_scroll.h"
#include "scrs/scs_setpos.h"
#include "scrs/scs_stmt.h"
#include "scrs/ss_result.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"

namespace {

constexpr uint32_t kCapabilityString = 0x21010010;
constexpr int16_t kRowSuccess = 0;  // SQL_ROW_SUCCESS
constexpr int32_t kQueryKind = 74;  // the analysis' root kind of a query

const OA_OPTABLE& Agent() { return *SCR_AgentHolder()->ops; }
const OA_OPTABLE& AgentOf(const SCS_STMT* cur) { return *cur->agent->ops; }

bool Scrollable(const SCS_STMT* cur) { return cur->opts->cursorType != SCS_FORWARD_ONLY; }
bool IsStatic(const SCS_STMT* cur) { return cur->opts->cursorType == SCS_STATIC; }
// A pure keyset-driven cursor over a query whose keys were found at prepare.
// A query whose key columns were found: its rows are read by key.
bool Keyed(const SCS_STMT* cur) {
    return cur->analysis.rootKind == kQueryKind && cur->keyset != nullptr && cur->keyset->keyCols != nullptr &&
           cur->keyset->keyCols->count > 0;
}

bool KeysetDriven(const SCS_STMT* cur) {
    return cur->opts->cursorType == SCS_KEYSET && cur->opts->keysetSize == 0 && Keyed(cur);
}

// No result yet: the snapshot emptied, the count unknown, the cursor before the start.
void ResetResult(SCS_STMT* cur) {
    SS_Close(cur->staticResult);
    cur->flags &= static_cast<uint16_t>(~SCS_RESULT_CACHED);
    cur->rowCount = -1;
    cur->position = SCS_POS_BEFORE_START;
    cur->rowsetStart = 0;
}

// An agent connection property as a number; false when it cannot be read.
bool ConnInt(uint32_t conn, uint32_t code, int32_t* value) {
    int32_t got = 0;
    *value = 0;
    return Agent().DRV_GetProperty != nullptr && Agent().DRV_GetProperty(conn, code, value, sizeof *value, &got) == 0;
}
int ConnFlag(uint32_t conn, uint32_t code) {
    int32_t v = 0;
    return ConnInt(conn, code, &v) && v != 0 ? 1 : 0;
}

int CapabilityString(uint32_t conn, void* buf, int32_t bufLen, int32_t* outLen) {
    if (Agent().DRV_SetProperty != nullptr) {
        const int32_t three = 3;
        Agent().DRV_SetProperty(conn, OA_PROP_ODBC_VERSION, &three);
    }
    int32_t mask = 0;
    const bool haveMask = ConnInt(conn, OA_PROP_CAPABILITIES, &mask);
    auto bit = [&](uint32_t b) { return (static_cast<uint32_t>(mask) & b) != 0 ? 1 : 0; };
    int32_t commit = 0;
    ConnInt(conn, oa_InfoIntCode(23), &commit);  // SQL_CURSOR_COMMIT_BEHAVIOR; 0 unread
    const int d[12] = {
        haveMask ? bit(OA_CAP_HAS_SCROLL_CURSORS) : ConnFlag(conn, OA_PROP_HAS_SCROLL_CURSORS),
        haveMask ? bit(OA_CAP_HAS_EXECUTE2) : ConnFlag(conn, OA_PROP_HAS_EXECUTE2),
        haveMask ? bit(OA_CAP_HAS_PARAM_OP) : ConnFlag(conn, OA_PROP_HAS_PARAM_OP),
        haveMask ? bit(OA_CAP_HAS_DYN_MIX_CURSORS) : ConnFlag(conn, OA_PROP_DYN_MIX_CURSORS),
        haveMask ? bit(OA_CAP_SP_OUT_DEFER_FETCH) : ConnFlag(conn, OA_PROP_SP_OUT_DEFER_FETCH),
        1,
        commit,
        ConnFlag(conn, 0x22010014),
        ConnFlag(conn, 0x22010015),
        haveMask ? bit(0x0400) : 0,
        haveMask ? bit(0x2000) : 0,
        haveMask ? bit(0x4000) : 0,
    };
    char text[64];
    std::snprintf(text, sizeof text, "%.3d.%.3d:%d%d%d%d%d%d%d%d%d%d%d%d", 1, 5, d[0], d[1], d[2], d[3], d[4],
                  d[5], d[6], d[7], d[8], d[9], d[10], d[11]);
    if (outLen != nullptr)
        *outLen = static_cast<int32_t>(std::strlen(text));
    if (buf != nullptr && bufLen > 0) {
        uint16_t copied = 0;
        ut_StrCopyTrunc(text, static_cast<char*>(buf), static_cast<uint16_t>(bufLen > 0xFFFF ? 0xFFFF : bufLen),
                        &copied);
    }
    return 0;
}

// The values of block cut to statement option 3 when it is set: the agent keeps the option
// but cuts nothing itself.
int CutToMaxLength(const SCS_STMT* cur, DATASET* block) {
    const int32_t max = cur->maxLength != nullptr ? *cur->maxLength : 0;
    return max > 0 ? ds_ApplyMaxLength(block, static_cast<uint32_t>(max)) : 0;
}

// The agent's fetch of rows into block, cut to the maximum length. A block without rows
// (the set-up of its columns) is cut too: a fixed column the cut turns into a counted one
// then has the same layout in every block the caller sees.
int FetchBlock(SCS_STMT* cur, uint16_t rows, DATASET* block) {
    int rc = AgentOf(cur).DRV_Fetch(cur->agentStmt, rows, block);
    if (rc != 0) {
        scs_CollectAuxErrors(cur);
        return rc;
    }
    return CutToMaxLength(cur, block);
}

int PrepareOf(SCS_STMT* cur, uint32_t stmt, const char* text) {
    cur->affectedRows = -1;
    if (int rc = AgentOf(cur).DRV_Prepare(stmt, text); rc != 0)
        return rc;
    // Read before the analysis is dropped: dropping it clears the state flags.
    const bool attrsChanged = (cur->flags & SCS_ATTRS_CHANGED) != 0;
    if ((cur->flags & SCS_ANALYSED) != 0)
        scs_CursorClearAnalysis(cur);
    if (attrsChanged) {
        // The agent keeps what it accepts in the attributes the record reads; the ODBC side
        // then finds the values it asked for and reports no change. A value the application
        // set since the change is its new request and stays.
        const uint16_t setSince = cur->opts->setFlags;
        if ((setSince & OA_CURSOR_TYPE_SET) == 0)
            AgentOf(cur).DRV_SetProperty(stmt, OA_PROP_CURSOR_TYPE, &cur->requestedType);
        if ((setSince & OA_CONCURRENCY_SET) == 0)
            AgentOf(cur).DRV_SetProperty(stmt, OA_PROP_CONCURRENCY, &cur->requestedConcurrency);
        cur->flags &= static_cast<uint16_t>(~SCS_ATTRS_CHANGED);
    }
    cur->opts->setFlags &= static_cast<uint16_t>(~(OA_CURSOR_TYPE_SET | OA_CONCURRENCY_SET));
    // A new statement has no result yet: the previous snapshot, its count and the
    // descriptions of the previous result go.
    ResetResult(cur);
    ds_ColDescFree(cur->resultCols, cur->resultColCount);
    cur->resultCols = nullptr;
    cur->resultColCount = 0;
    cur->flags &= static_cast<uint16_t>(~SCS_CLOSED);
    cur->ddl = scs_IsDdl(text);
    if (Scrollable(cur)) {
        // Kept for the execute that finds the agent's statement gone after a close.
        try {
            cur->text = text != nullptr ? text : "";
        } catch (const std::bad_alloc&) {
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }
    if (int rc = scs_p_PrepareCursor(cur, text); rc != 0) {
        scs_CollectAuxErrors(cur);
        return rc;
    }
    if (cur->opts->cursorType == SCS_KEYSET && oa_StmtParamMarkers(stmt) != 0)
        cur->flags |= SCS_PARAMS_KEPT;
    cur->flags |= SCS_THROUGH_LIBRARY;
    return 0;
}

int SetParamValuesOf(SCS_STMT* cur, uint32_t stmt, DATASET* values) {
    if (Scrollable(cur) && values != nullptr) {
        DATASET* copy = nullptr;
        if (int rc = ds_Clone(&copy, values); rc != 0) {
            // The agent owns the values whatever the answer: it frees them.
            AgentOf(cur).DRV_SetParamValues(stmt, values);
            return rc;
        }
        if (cur->keptParams != nullptr)
            DatasetDeleter{}(cur->keptParams);
        cur->keptParams = copy;
        cur->flags |= SCS_PARAMS_KEPT;
    }
    return AgentOf(cur).DRV_SetParamValues(stmt, values);
}

// After a close the agent may have dropped the prepared statement: the kept text is
// prepared again, with the kept values and the application's descriptions.
int PrepareAgain(SCS_STMT* cur, uint32_t stmt) {
    if (int rc = AgentOf(cur).DRV_Prepare(stmt, cur->text.c_str()); rc != 0)
        return rc;
    if ((cur->flags & SCS_PARAMS_KEPT) != 0 && cur->keptParams != nullptr) {
        DATASET* copy = nullptr;
        if (int rc = ds_Clone(&copy, cur->keptParams); rc != 0)
            return rc;
        if (int rc = AgentOf(cur).DRV_SetParamValues(stmt, copy); rc != 0)
            return rc;
    }
    if (cur->needParamDescs != 0 && !cur->userParamDescs.empty()) {
        if (int rc = AgentOf(cur).DRV_SetParamDescs(stmt, static_cast<uint16_t>(cur->userParamDescs.size()),
                                                    cur->userParamDescs.data());
            rc != 0)
            return rc;
    }
    return 0;
}

int ExecuteOf(SCS_STMT* cur, uint32_t stmt) {
    if (Scrollable(cur) && (cur->flags & SCS_CLOSED) != 0 && !oa_StmtPrepared(stmt) && !cur->text.empty()) {
        if (int rc = PrepareAgain(cur, stmt); rc != 0)
            return rc;
    }
    if (!oa_StmtPrepared(stmt)) {
        LOG_MSG(LOG_WARNING, "execute without prior prepare");
        return ERR_FUNCTION_SEQUENCE_ERROR;
    }
    cur->affectedRows = -1;
    cur->flags |= SCS_THROUGH_LIBRARY;
    cur->flags &= static_cast<uint16_t>(~SCS_CLOSED);
    // Every execution starts a new result: the snapshot of the last one goes.
    ResetResult(cur);
    if (int rc = AgentOf(cur).DRV_Execute(stmt); rc != 0)
        return rc;
    // The tables may have changed: what the connection knows of their keys goes.
    if (cur->ddl)
        scs_ClearConnCaches(cur->agentConn);
    if (!Scrollable(cur))
        return 0;
    if (int rc = scs_LoadResultColDescs(cur); rc != 0) {
        scs_CollectAuxErrors(cur);
        return rc;
    }
    // A static read-only query reads its whole result now and lets the server cursor go;
    // a statement without result columns has nothing to read.
    if (IsStatic(cur) && cur->resultColCount > 0)
        return scs_p_FillStatic(cur);
    if (cur->opts->cursorType != SCS_STATIC && Keyed(cur) && !KeysetDriven(cur)) {
        // Dynamic and mixed cursors find their windows by seeks, from the first fetch on.
        AgentOf(cur).DRV_CloseCursor(stmt);
        KS_Close(cur->keyset);
        cur->mixedState = -6;
        cur->shortAtEnd = false;
        return 0;
    }
    if (KeysetDriven(cur)) {
        // Rows are read by key from here on: the application's own cursor is not fetched.
        AgentOf(cur).DRV_CloseCursor(stmt);
        if (int rc = KS_GetKeySet_KSD(cur); rc != 0) {
            scs_CollectAuxErrors(cur);
            return rc;
        }
    }
    return 0;
}

int SetParamDescsOf(SCS_STMT* cur, uint32_t stmt, uint16_t count, const PARAM_DESC* descs) {
    try {
        if (count != 0 && descs != nullptr)
            cur->userParamDescs.assign(descs, descs + count);
        else
            cur->userParamDescs.clear();
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return AgentOf(cur).DRV_SetParamDescs(stmt, count, descs);
}

}  // namespace

int scs_Prepare(uint32_t stmt, const char* text) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    return cur != nullptr ? PrepareOf(cur, stmt, text) : Agent().DRV_Prepare(stmt, text);
}

int scs_SetParamValues(uint32_t stmt, DATASET* values) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    return cur != nullptr ? SetParamValuesOf(cur, stmt, values) : Agent().DRV_SetParamValues(stmt, values);
}

int scs_Execute(uint32_t stmt) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    return cur != nullptr ? ExecuteOf(cur, stmt) : Agent().DRV_Execute(stmt);
}

int scs_SetParamDescs(uint32_t stmt, uint16_t count, const PARAM_DESC* descs) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    return cur != nullptr ? SetParamDescsOf(cur, stmt, count, descs) : Agent().DRV_SetParamDescs(stmt, count, descs);
}

// One look-up for the whole execution: the ODBC side executes every statement here.
int scs_PrepareAndExecute(uint32_t stmt, const char* text, DATASET* values, uint16_t descCount,
                          const PARAM_DESC* descs) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr)
        return Agent().DRV_PrepareAndExecute(stmt, text, values, descCount, descs);
    // The values go first, so that the agent owns them whatever follows.
    if (values != nullptr) {
        if (int rc = SetParamValuesOf(cur, stmt, values); rc != 0)
            return rc;
    }
    if (text != nullptr) {
        if (int rc = PrepareOf(cur, stmt, text); rc != 0)
            return rc;
    }
    if (descCount > 0) {
        if (int rc = SetParamDescsOf(cur, stmt, descCount, descs); rc != 0)
            return rc;
    }
    return ExecuteOf(cur, stmt);
}

int scs_GetProperty(uint32_t handle, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen) {
    if (code == OA_PROP_ROW_COUNT) {
        SCS_STMT* cur = scs_FindStmt(handle);
        // A cached static result knows its rows: the count is the snapshot's.
        if (cur != nullptr && Scrollable(cur) &&
            (cur->analysis.rootKind == kQueryKind || (cur->flags & SCS_RESULT_CACHED) != 0)) {
            if (buf == nullptr || bufLen < 4)
                return ERR_INVALID_ARGUMENT_VALUE;
            const int32_t n = cur->affectedRows != -1 ? cur->affectedRows : cur->rowCount;
            std::memcpy(buf, &n, sizeof n);
            if (outLen != nullptr)
                *outLen = 4;
            return 0;
        }
    } else if (code == kCapabilityString) {
        if (oa_ServerOfConn(handle) == 0)
            return ERR_INVALID_ARGUMENT_VALUE;
        return CapabilityString(handle, buf, bufLen, outLen);
    }
    return Agent().DRV_GetProperty(handle, code, buf, bufLen, outLen);
}

int scs_Connect(uint32_t server, OA_CONNREQ* req, uint32_t* outConn) {
    if (int rc = Agent().DRV_Connect(server, req, outConn); rc != 0)
        return rc;
    if (int rc = scs_ConnectBookkeeping(server, req, *outConn); rc != 0) {
        // The agent connection is given back, or it would stay open with nobody to close it.
        Agent().DRV_Disconnect(*outConn);
        *outConn = 0;
        return rc;
    }
    return 0;
}

int scs_Disconnect(uint32_t conn) {
    scs_DisconnectBookkeeping(conn);
    return Agent().DRV_Disconnect(conn);
}

int scs_AllocStmt(uint32_t conn, uint32_t* outStmt) {
    if (int rc = Agent().DRV_AllocStmt(conn, outStmt); rc != 0)
        return rc;
    return scs_AttachStmt(*outStmt, conn, SCR_AgentHolder());
}

int scs_FreeStmt(uint32_t stmt) {
    if (SCS_STMT* cur = scs_FindStmt(stmt)) {
        scs_CursorFree(cur);
        oa_StmtLibState(stmt)->reset();
    }
    return Agent().DRV_FreeStmt(stmt);
}

int scs_FetchRows(uint32_t stmt, uint16_t rows, DATASET* block) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr || block == nullptr)
        return Agent().DRV_Fetch(stmt, rows, block);
    if (!IsStatic(cur))
        return FetchBlock(cur, rows, block);
    // A static cursor serves its rows from the snapshot, read first when the result came
    // without an execute (a catalog call).
    if (rows == 0 && (cur->flags & SCS_RESULT_CACHED) == 0)
        return FetchBlock(cur, rows, block);
    if (int rc = scs_p_FillStatic(cur); rc != 0)
        return rc;
    DATASET* out = block;
    int rc = 0;
    if (rows == 0) {
        // The set-up of the caller's columns: the layout of the snapshot, no rows.
        const DATASET* model = cur->staticResult->rows;
        rc = model != nullptr && model->colsUsed > 0 ? ds_CloneLayout(&out, model, 0) : 0;
    } else {
        rc = SS_FetchRowset(cur->staticResult, -1, rows, &out);
    }
    if (rc == 0)
        rc = KS_TakeHiddenColumns(cur, out);
    if (rc != 0) {
        scs_CollectAuxErrors(cur);
        return rc;
    }
    return CutToMaxLength(cur, block);
}

int scs_CloseCursor(uint32_t stmt) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr)
        return Agent().DRV_CloseCursor(stmt);
    cur->flags |= SCS_CLOSED;
    cur->flags &= static_cast<uint16_t>(~(SCS_THROUGH_LIBRARY | SCS_RESULT_CACHED));
    // The snapshot and the keys go with the cursor: memory and temporary files are not kept
    // for a result nobody can fetch.
    SS_Close(cur->staticResult);
    KS_Close(cur->keyset);
    cur->rowCount = -1;
    cur->position = SCS_POS_BEFORE_START;
    cur->rowsetStart = 0;
    int rc = AgentOf(cur).DRV_CloseCursor(stmt);
    if (rc != 0)
        scs_CollectAuxErrors(cur);
    return rc;
}

int scs_Fetch(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched, int32_t* outRowCount) {
    return scs_ExtendedFetch(stmt, outRowset, row, outRowsFetched, outRowCount, 0);
}

int scs_ExtendedFetch(uint32_t stmt, DS_ROWSET** outRowset, int32_t row, uint32_t* outRowsFetched,
                      int32_t* outRowCount, int16_t orientation) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr || outRowset == nullptr || outRowsFetched == nullptr || outRowCount == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    const OA_CURSOROPTS& o = *cur->opts;
    const bool staticReadOnly = o.cursorType == SCS_STATIC && o.concurrency == SCS_READ_ONLY;
    if ((cur->flags & SCS_THROUGH_LIBRARY) == 0 && o.cursorType != SCS_FORWARD_ONLY && !staticReadOnly)
        return ERR_INVALID_CURSOR_STATE;
    cur->affectedRows = -1;
    *outRowsFetched = 0;
    *outRowset = nullptr;
    const bool keyset = KeysetDriven(cur);
    const bool dynamic = o.cursorType == SCS_DYNAMIC && Keyed(cur);
    const bool mixed = o.cursorType == SCS_KEYSET && o.keysetSize > 0 && Keyed(cur);
    // Dynamic and mixed cursors move by orientation: a plain fetch cannot say where to.
    if ((dynamic || mixed) && orientation == 0)
        return ERR_DRIVER_NOT_CAPABLE;
    if (o.cursorType != SCS_FORWARD_ONLY && o.cursorType != SCS_STATIC && !keyset && !dynamic && !mixed)
        return ERR_DRIVER_NOT_CAPABLE;

    const int32_t size = o.rowsetSize < 1 ? 1 : o.rowsetSize > 0xFFFF ? 0xFFFF : o.rowsetSize;
    DS_ROWSET* rowset = nullptr;
    if (int rc = ds_RowsetNew(&rowset, size); rc != 0)
        return rc;
    int rc = 0;
    if (o.cursorType == SCS_STATIC) {
        rc = scs_p_StaticFetch(cur, rowset, row);
    } else if (keyset) {
        rc = scs_p_KeysetFetch(cur, rowset, row);
    } else if (dynamic) {
        rc = scs_p_DynamicScroll(cur, row, static_cast<uint16_t>(orientation), rowset);
    } else if (mixed) {
        rc = scs_p_MixedFetch(cur, row, static_cast<uint16_t>(orientation), rowset);
    } else {
        rc = FetchBlock(cur, static_cast<uint16_t>(size), rowset->rows);
        for (int32_t i = 0; rc == 0 && i < rowset->rows->rowsUsed && i < rowset->rowCount; ++i)
            rowset->rowStatus[i] = kRowSuccess;
    }
    *outRowCount = cur->rowCount;
    if (rc != 0) {
        ds_RowsetFree(&rowset);
        scs_CollectAuxErrors(cur);
        return rc;
    }
    const int32_t fetched = rowset->rows != nullptr ? rowset->rows->rowsUsed : 0;
    // No rows: no rowset either, so the caller has nothing to free or to show.
    if (fetched == 0) {
        ds_RowsetFree(&rowset);
        return ERR_NO_DATA_FOUND;
    }
    *outRowsFetched = static_cast<uint32_t>(fetched);
    // Statuses only: the values go.
    if (o.retrieveData == 0)
        ds_Free(rowset->rows);
    *outRowset = rowset;
    return scs_SetPositionWithin(&cur->position, &cur->rowsetStart, o.rowsetSize, 1);
}

int scs_SetPos(uint32_t stmt, int32_t row, uint16_t operation, uint16_t /*lockType*/, uint16_t** outRowStatus,
               int32_t* outRowCount, DATASET* rowImage, const uint16_t* columns, uint16_t columnCount) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    OA_SETPOS* kept = oa_StmtSetPos(stmt);
    if (cur == nullptr || kept == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if ((cur->flags & SCS_THROUGH_LIBRARY) == 0)
        return ERR_INVALID_CURSOR_STATE;
    try {
        cur->setPosCols.assign(columns, columns != nullptr ? columns + columnCount : columns);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    kept->row = row;
    kept->operation = operation;
    kept->rows = rowImage;
    cur->setPosRows = rowImage;
    cur->affectedRows = 0;
    oa_StmtDaeReset(stmt);
    if (int rc = OA_SetPosDataAtExec(stmt); rc != 0) {
        if (outRowStatus != nullptr)
            *outRowStatus = nullptr;
        if (outRowCount != nullptr)
            *outRowCount = 0;
        scs_CollectAuxErrors(cur);
        return rc;
    }
    int rc = scs_SetPosRun(stmt, outRowStatus, outRowCount);
    if (rc != 0)
        scs_CollectAuxErrors(cur);
    return rc;
}

int scs_SetPosRun(uint32_t stmt, uint16_t** outRowStatus, int32_t* outStatus) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    const OA_SETPOS* kept = oa_StmtSetPos(stmt);
    if (cur == nullptr || kept == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    constexpr uint16_t kAdd = 4;  // SQL_ADD
    if (kept->operation != kAdd) {
        if (int rc = scs_SetPositionWithin(&cur->position, &cur->rowsetStart, cur->opts->rowsetSize, kept->row);
            rc != 0)
            return rc;
    }
    // Dynamic and mixed cursors, and static ones that keep no keys, change no rows.
    if (!scs_SetPosSupported(cur))
        return ERR_DRIVER_NOT_CAPABLE;
    return scs_p_SetPosOp(cur, kept->row, kept->operation, outRowStatus, outStatus, kept->rows, cur->setPosCols);
}

int scs_BulkOperations(uint32_t stmt, uint16_t operation, const int32_t* bookmarks, uint32_t rowCount,
                       DATASET* rowImage, const uint16_t* columns, uint16_t columnCount, uint16_t** outRowStatus,
                       uint32_t* outCount, DS_ROWSET** outRowset) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr || outRowStatus == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *outRowStatus = nullptr;
    if ((cur->flags & SCS_THROUGH_LIBRARY) == 0)
        return ERR_INVALID_CURSOR_STATE;
    // Bookmarks number the rows of a keyset or a snapshot: dynamic and mixed cursors have none.
    if (!IsStatic(cur) && !KeysetDriven(cur))
        return ERR_BULK_OPERATIONS_ARE_NOT_SUPPORTED_ON;
    std::vector<int16_t> cols;
    try {
        cols.assign(columns, columns != nullptr ? columns + columnCount : columns);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    cur->affectedRows = 0;
    const int rc =
        scs_p_BulkByBookmark(cur, operation, bookmarks, rowCount, rowImage, cols, outRowStatus, outCount, outRowset);
    if (rc != 0)
        scs_CollectAuxErrors(cur);
    return rc;
}

int scs_FixColAttribs(uint32_t stmt, uint16_t colCount, COLDESC* cols, std::vector<COLATTR>* attrs) {
    SCS_STMT* cur = scs_FindStmt(stmt);
    if (cur == nullptr || (cur->flags & SCS_SELECT_REWRITTEN) == 0)
        return 0;
    return scs_p_FixColAttribs(cur, colCount, cols, attrs);
}
