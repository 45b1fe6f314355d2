// Agent statements on the server: the ESQL cursor record, statement reset, and the
// prepare, execute, fetch, close and more-results operations.
#include "drv_pro9/oa_exec.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_dae.h"
#include "drv_pro9/oa_proc.h"
#include "drv_pro9/oa_typeinfo.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utalloc.h"
#include "util/utheap.h"

static_assert(sizeof(uuid_t) == ESQL_IDENTITY_SIZE, "a cursor identity is one UUID");

namespace {

// ---- What a statement reads of its connection --------------------------------------

// The read-only flag given at connect governs transactions and refusals.
bool ReadOnly(const OA_STMT* stmt) {
    return stmt->conn->readOnlyAtConnect != 0;
}
bool Autocommit(const OA_STMT* stmt) {
    return stmt->conn->autocommit != 0;
}
bool SelectOpensTransaction(const OA_STMT* stmt) {
    return stmt->conn->selectOpensTransaction != 0;
}
bool WideTypes(const OA_STMT* stmt) {
    return db_WideTypes(stmt->conn->wide != 0, stmt->conn->unicodeLibrary != 0);
}
DB_CURSOR* Cursor(OA_STMT* stmt) {
    return stmt->cursor;
}

// ---- Client calls -------------------------------------------------------------------

DB_CONN* Db(OA_STMT* stmt) {
    return Cursor(stmt)->db;
}

// The binding record reports into the connection's SQLCA and the statement's list.
DB_SQLDABIND* Bind(OA_STMT* stmt) {
    DB_CURSOR* cursor = Cursor(stmt);
    cursor->bind.sqlca = &cursor->db->sqlca;
    cursor->bind.errors = &stmt->errors;
    // As the client was told at connect (DB_Connect): ISO-8859-1 for the ANSI library in
    // such a locale; else UTF-8, into which the Unicode library's ISO-8859-1 narrow
    // values are converted here.
    const bool latin1 = stmt->conn->narrowLatin1 != 0;
    cursor->bind.latin1Client = latin1 && stmt->conn->unicodeLibrary == 0;
    cursor->bind.narrowFromLatin1 = latin1 && stmt->conn->unicodeLibrary != 0;
    return &cursor->bind;
}

// Posts the client's messages of a failed call on the statement; 15.
int CallFailed(OA_STMT* stmt) {
    OA_ErrFromSqlca(&stmt->errors, &Db(stmt)->sqlca);
    return ERR_GENERAL_ERROR;
}

// Makes the statement's connection current before a client call (which connection is
// current is process state of the client). 0, or 15 with the messages on the statement:
// the call must then not be made, as it would reach another connection.
int MakeCurrent(OA_STMT* stmt) {
    DB_CONN* db = Db(stmt);
    tpe_sql_setconnection(db->name.c_str(), &db->sqlca);
    return db->sqlca.sqlcode < 0 ? CallFailed(stmt) : 0;
}

// Whether the client's last call failed because it no longer knows the cursor: it keeps a
// bounded number of them and forgets those unused longest. The failure's messages are
// dropped: the caller sets the cursor up again under its identity, as after an end of
// transaction, and nothing was done.
bool CursorForgotten(DB_CONN* db) {
    if (db->sqlca.sqlcode != ESQL_ERR_CURSOR_HANDLE)
        return false;
    for (int i = 0; i < OA_SQLCA_MAX_MESSAGES && db->sqlca.sqlcode != 0; ++i)
        tpe_sqlc_clear(&db->sqlca);
    return true;
}

bool IsSelect(const OA_STMT* stmt) {
    return stmt->type == SQLT_KIND_SELECT;
}

void SetFlags(OA_STMT* stmt, uint16_t bits) {
    stmt->flags = static_cast<uint16_t>(stmt->flags | bits);
}
void ClearFlags(OA_STMT* stmt, uint16_t bits) {
    stmt->flags = static_cast<uint16_t>(stmt->flags & ~bits);
}

// The three calls of a cursor set-up, for the identity the cursor holds.
int SetUpCalls(OA_STMT* stmt) {
    DB_CURSOR* cursor = Cursor(stmt);
    DB_CONN* db = cursor->db;
    if (int rc = MakeCurrent(stmt); rc != 0)
        return rc;
    tpe_set_cursor(db->tmHandle, db->dbHandle, &cursor->handle, cursor->identity, ESQL_CURSOR_DYNAMIC,
                   stmt->request.translated, &db->sqlca);
    if (db->sqlca.sqlcode < 0)
        return CallFailed(stmt);
    tpe_set_cursorname(cursor->handle, stmt->cursorName.c_str(), &db->sqlca);
    if (db->sqlca.sqlcode < 0)
        return CallFailed(stmt);
    tpe_sqlprepare(db->tmHandle, db->dbHandle, cursor->handle, &db->sqlca);
    if (db->sqlca.sqlcode < 0) {
        CallFailed(stmt);
        return ERR_SYNTAX_ERROR_OR_ACCESS;
    }
    cursor->stmtType = stmt->type;
    ClearFlags(stmt, STMT_CURSOR_RESET);
    return 0;
}

// A statement other than a query or a procedure call that has executed left nothing open at
// the server (tpe_sqlexecute runs it to its end) and owes no commit: executing it again
// needs no close first, which saves two client calls on every execution of a prepared
// insert or update.
bool RanToItsEnd(const OA_STMT* stmt) {
    return !IsSelect(stmt) && (stmt->kind & SQLT_PROC_CALL) == 0 &&
           (stmt->flags & (STMT_CURSOR_OPEN | STMT_OUT_PENDING | STMT_COMMIT_OWED)) == 0;
}

// An SQLDA of the kind described by describe, grown once when the first one reports (as a
// negative count) that it is too small. The count is left in *count.
int DescribeInto(OA_STMT* stmt, int kind, PRO_SQLDA** out, uint32_t* count) {
    DB_CONN* db = Db(stmt);
    auto describe = kind == ESQL_SQLDA_OUTPUT ? tpe_sqldescribe : tpe_sqldescribe_input;
    uint32_t columns = 1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        PRO_SQLDA* sqlda = PRO_SQLDA_Allocate(columns, kind);
        if (sqlda == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        uint32_t n = 0;
        if (int rc = MakeCurrent(stmt); rc != 0) {
            PRO_SQLDA_Deallocate(sqlda);
            return rc;
        }
        describe(db->tmHandle, db->dbHandle, Cursor(stmt)->handle, sqlda, &db->sqlca);
        if (db->sqlca.sqlcode >= 0)
            PRO_SQLDA_Get_DA_Attribute_dh_u32_t(sqlda, ESQL_DA_COUNT, &n, &db->sqlca);
        if (db->sqlca.sqlcode < 0) {
            PRO_SQLDA_Deallocate(sqlda);
            return CallFailed(stmt);
        }
        auto needed = static_cast<int32_t>(n);
        if (needed >= 0) {
            *out = sqlda;
            *count = static_cast<uint32_t>(needed);
            return 0;
        }
        PRO_SQLDA_Deallocate(sqlda);
        columns = static_cast<uint32_t>(-static_cast<int64_t>(needed));
    }
    // Still too small for what it asked for itself: the client contradicts itself.
    OA_ErrPost(&stmt->errors, ERR_GENERAL_ERROR);
    return ERR_GENERAL_ERROR;
}

// Sets the cursor up again with its identity when an end of transaction marked it.
int SetUpAgainWhenMarked(OA_STMT* stmt) {
    if ((stmt->flags & STMT_CURSOR_RESET) == 0)
        return 0;
    // A marked cursor is not closed with tpe_sqlclose (the end of transaction ended it at
    // the server); setting it up again closes whatever the client still holds.
    return SetUpCalls(stmt);
}

// Whether block already has the columns of the result descriptions and arrays for
// exactly rows rows: the SQLDA is bound to rowsAllocated rows, so no more nor fewer.
bool BlockFits(const OA_STMT* stmt, const DATASET* block, int32_t rows) {
    if (rows <= 0 || block->rowsAllocated != rows || block->colsUsed != stmt->cols.count || block->cols == nullptr)
        return false;
    for (uint16_t i = 0; i < block->colsUsed; ++i) {
        const COLDESC& d = stmt->cols.items[i];
        const DATASET_COL& c = block->cols[i];
        if (c.type != d.internalType || c.width != ds_TypeWidth(d.internalType, d.declaredWidth) || c.data == nullptr)
            return false;
    }
    return true;
}

// Starts a fetch block of rows rows in block, from the result descriptions. A block the
// caller hands back with the same shape keeps its arrays, so that refilling it costs no
// allocation; the values it held are overwritten (a by-reference value frees the block it
// replaces).
int SetUpBlock(OA_STMT* stmt, DATASET* block, int32_t rows) {
    if (BlockFits(stmt, block, rows)) {
        block->rowsUsed = 0;
        return 0;
    }
    ds_Free(block);
    return ds_InitFromColDescs(stmt->cols.items, stmt->cols.count, rows, block) != 0 ? ERR_MEMORY_ALLOCATION_FAILURE
                                                                                       : 0;
}

}  // namespace

// ---- Owned records and the cursor record ----------------------------------------------

int OA_DESCARRAY::alloc(uint16_t n) {
    reset();
    items = ds_ColDescAlloc(n);
    if (items == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    count = n;
    return 0;
}

void OA_DESCARRAY::reset() {
    ds_ColDescFree(items, count);
    items = nullptr;
    count = 0;
}

void OA_COLATTRS::reset() {
    OA_ColAttrFree(reqs, count);
    reqs = nullptr;
    count = 0;
}

int DB_CursorNew(DB_CONN* db, OA_STMT* stmt, DB_CURSOR** out) {
    *out = nullptr;
    auto* cursor = new (std::nothrow) DB_CURSOR;
    if (cursor == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    cursor->db = db;
    cursor->stmt = stmt;
    cursor->bind.sqlca = db != nullptr ? &db->sqlca : nullptr;
    cursor->bind.errors = stmt != nullptr ? &stmt->errors : nullptr;
    *out = cursor;
    return 0;
}

void DB_CursorFree(DB_CURSOR* cursor) {
    delete cursor;   // the binding record frees its SQLDA areas and buffers
}

// ---- Transaction steps -----------------------------------------------------------------

int db_TxnBegin(OA_STMT* stmt) {
    if (IsSelect(stmt) && !SelectOpensTransaction(stmt))
        return 0;
    if (int rc = OA_TransState(stmt->conn, OA_TRANS_BEGIN); rc != 0)
        return rc;
    if (IsSelect(stmt) && Autocommit(stmt) && !ReadOnly(stmt))
        SetFlags(stmt, STMT_COMMIT_OWED);
    return 0;
}

namespace {

// Commits for the statement that the commit belongs to. 0, or the failed commit's code
// with the server's messages moved to the statement: its caller reads the statement's
// list. They follow those of a step that failed before (runRc), else replace the list.
int CommitForStatement(OA_STMT* stmt, int runRc) {
    int rc = OA_TransState(stmt->conn, OA_TRANS_COMMIT);
    if (rc == 0)
        return 0;
    OA_ERRLIST& from = stmt->conn->errors;
    if (runRc == 0 && stmt->errors.keep == 0)
        OA_ErrClear(&stmt->errors);
    while (OA_ERRREC* rec = from.head) {
        from.head = rec->next;
        rec->next = nullptr;
        OA_ErrAppend(&stmt->errors, rec);
    }
    return rc;
}

}  // namespace

int db_TxnEndStatement(OA_STMT* stmt, int runRc) {
    // A slice with more to come leaves the array's transaction open; a failed one ends the
    // array, and its commit is made as for a whole array that failed there.
    if (!Autocommit(stmt) || (stmt->sliceFollows && runRc == 0))
        return 0;
    return CommitForStatement(stmt, runRc);
}

int db_CommitOwed(OA_STMT* stmt, int runRc) {
    if ((stmt->flags & STMT_COMMIT_OWED) == 0)
        return 0;
    ClearFlags(stmt, STMT_COMMIT_OWED);
    // Autocommit may have been switched off meanwhile: the transaction is then the
    // application's to end.
    if (!Autocommit(stmt))
        return 0;
    return CommitForStatement(stmt, runRc);
}

// ---- Cursor operations -----------------------------------------------------------------

namespace {

// Closes the server's cursor and clears the flags of a run, leaving an owed commit owed.
// 0, or 15 with the client's messages on the statement.
int CloseServerCursor(OA_STMT* stmt) {
    DB_CURSOR* cursor = Cursor(stmt);
    bool ran = IsSelect(stmt) || (stmt->flags & STMT_EXECUTED) != 0;
    int rc = 0;
    if (cursor != nullptr && cursor->handle != nullptr) {
        rc = MakeCurrent(stmt);
        // A cursor marked for set-up again was ended with its transaction; one that never
        // ran has nothing open at the server.
        DB_CONN* db = cursor->db;
        if (rc == 0 && ran && (stmt->flags & STMT_CURSOR_RESET) == 0) {
            tpe_sqlclose(db->tmHandle, db->dbHandle, cursor->handle, &db->sqlca);
            // A cursor the client has forgotten has nothing open there either.
            if (db->sqlca.sqlcode < 0 && !CursorForgotten(db))
                rc = CallFailed(stmt);
        } else if (rc == 0 && (stmt->flags & STMT_CURSOR_OPEN) != 0) {
            // A query left with rows to deliver when the end of a transaction marked it: a
            // server that keeps such a cursor open past the end would go on holding it (and
            // what it reads) for a statement that has moved on. Closed; a server that ended
            // it answers a failure that says nothing about this statement.
            tpe_sqlclose(db->tmHandle, db->dbHandle, cursor->handle, &db->sqlca);
            for (int i = 0; i < OA_SQLCA_MAX_MESSAGES && db->sqlca.sqlcode < 0; ++i)
                tpe_sqlc_clear(&db->sqlca);
        }
    }
    ClearFlags(stmt, STMT_CURSOR_OPEN | STMT_EXECUTED | STMT_OUT_PENDING);
    return rc;
}

}  // namespace

int db_CursorClose(OA_STMT* stmt) {
    int rc = CloseServerCursor(stmt);
    // A SELECT left before its end, or output values that nobody reads: without this
    // the transaction would stay open with its locks in autocommit.
    int commit = db_CommitOwed(stmt, rc);
    return rc != 0 ? rc : commit;
}

int db_CursorSetUp(OA_STMT* stmt) {
    uuid_generate_time(Cursor(stmt)->identity);
    return SetUpCalls(stmt);
}

int db_DescribeOutput(OA_STMT* stmt) {
    DB_SQLDABIND* bind = Bind(stmt);
    PRO_SQLDA* sqlda = nullptr;
    uint32_t count = 0;
    if (int rc = DescribeInto(stmt, ESQL_SQLDA_OUTPUT, &sqlda, &count); rc != 0)
        return rc;
    PRO_SQLDA_Deallocate(bind->output);
    bind->output = sqlda;
    if (count > UINT16_MAX) {
        OA_ErrPost(&stmt->errors, ERR_GENERAL_ERROR);
        return ERR_GENERAL_ERROR;
    }
    auto n = static_cast<uint16_t>(count);
    if (int rc = stmt->cols.alloc(n); rc != 0)
        return rc;
    if (int rc = db_BindAllocCols(bind, n); rc != 0)
        return rc;
    stmt->updatable.reset(static_cast<int32_t*>(uh_Calloc(n, sizeof(int32_t))));
    if (stmt->updatable == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    Cursor(stmt)->colCount = n;
    for (uint16_t i = 0; i < n; ++i) {
        int rc = db_DescribeCol(bind, true, i + 1u, WideTypes(stmt), stmt->conn->odbcVersion, &stmt->cols.items[i],
                                &stmt->updatable[i]);
        if (rc != 0)
            return rc;
    }
    return 0;
}

int db_DescribeInput(OA_STMT* stmt, bool named) {
    DB_SQLDABIND* bind = Bind(stmt);
    PRO_SQLDA* sqlda = nullptr;
    uint32_t count = 0;
    if (int rc = DescribeInto(stmt, ESQL_SQLDA_INPUT, &sqlda, &count); rc != 0)
        return rc;
    PRO_SQLDA_Deallocate(bind->input);
    bind->input = sqlda;
    if (count > UINT16_MAX) {
        OA_ErrPost(&stmt->errors, ERR_GENERAL_ERROR);
        return ERR_GENERAL_ERROR;
    }
    auto n = static_cast<uint16_t>(count);
    if (int rc = oa_StmtAllocParamDescs(stmt, n); rc != 0)
        return rc;
    if (int rc = db_BindAllocParams(bind, n); rc != 0)
        return rc;
    Cursor(stmt)->paramCount = n;
    DB_CONN* db = Db(stmt);
    for (uint16_t i = 0; i < n; ++i) {
        if (named) {
            int16_t direction = OA_PARAM_INPUT;
            PRO_SQLDA_Get_Col_Attribute_dh_i16_t(sqlda, ESQL_COL_DIRECTION, i + 1u, &direction, &db->sqlca);
            if (db->sqlca.sqlcode < 0)
                return CallFailed(stmt);
            oa_StmtNameParam(stmt, static_cast<uint16_t>(i + 1), direction != OA_PARAM_INPUT);
        }
        int rc = db_DescribeCol(bind, false, i + 1u, WideTypes(stmt), stmt->conn->odbcVersion,
                                &stmt->params.items[i], nullptr);
        if (rc != 0)
            return rc;
    }
    return 0;
}

int db_BindInputParams(OA_STMT* stmt, int32_t paramRow) {
    const DATASET* values = stmt->paramValues.get();
    uint32_t n = Cursor(stmt)->paramCount;
    if (n == 0)
        return 0;
    // The values must cover every marker: a missing column would leave a parameter unbound.
    if (values == nullptr || values->cols == nullptr || values->colsUsed < n || values->rowsUsed < 1) {
        LOG_MSG(LOG_WARNING, "execute without prior parameters set");
        OA_ErrPost(&stmt->errors, ERR_WRONG_NUMBER_OF_PARAMETERS);
        return ERR_WRONG_NUMBER_OF_PARAMETERS;
    }
    int32_t first = 0;
    int32_t rows = values->rowsUsed;
    int32_t single = 0;
    if (oa_StmtSingleRowMode(stmt, &single)) {
        first = single;
        rows = 1;
    } else if (IsSelect(stmt)) {
        first = paramRow;
        rows = 1;
    }
    if (first < 0 || first >= values->rowsUsed) {
        OA_ErrPost(&stmt->errors, ERR_GENERAL_ERROR);
        return ERR_GENERAL_ERROR;
    }
    DB_SQLDABIND* bind = Bind(stmt);
    if (int rc = db_BindInputPlace(bind, stmt->sliceSetsBefore, stmt->sliceSetsTotal); rc != 0)
        return rc;
    for (uint32_t i = 0; i < n; ++i) {
        int16_t scale = i < stmt->paramDescCount ? stmt->paramDescs[i].scale : 0;
        if (int rc = db_BindInParam(bind, scale, i + 1, &values->cols[i], first, rows); rc != 0)
            return rc;
    }
    return 0;
}

namespace {

// Declare and open, or execute, of the cursor with its bound input.
void RunOnServer(OA_STMT* stmt) {
    DB_CURSOR* cursor = Cursor(stmt);
    DB_CONN* db = cursor->db;
    PRO_SQLDA* input = cursor->paramCount != 0 ? cursor->bind.input : nullptr;
    if (IsSelect(stmt)) {
        tpe_sqldeclare(db->tmHandle, db->dbHandle, cursor->handle, input, &db->sqlca);
        if (db->sqlca.sqlcode >= 0)
            tpe_sqlopen(db->tmHandle, db->dbHandle, cursor->handle, input, &db->sqlca);
        return;
    }
    tpe_sqlexecute(db->tmHandle, db->dbHandle, cursor->handle, input, &db->sqlca);
}

}  // namespace

int db_CursorRun(OA_STMT* stmt, DbParams params, int32_t paramRow) {
    if (int rc = SetUpAgainWhenMarked(stmt); rc != 0)
        return rc;
    // Bound on every run: the values of the previous run may have been replaced (and
    // freed) since, and the SQLDA would still point into them.
    if (params == DbParams::Current && (stmt->kind & SQLT_HAS_PARAMS) != 0) {
        if (int rc = db_BindInputParams(stmt, paramRow); rc != 0)
            return rc;
    }
    DB_CONN* db = Cursor(stmt)->db;
    if (int rc = MakeCurrent(stmt); rc != 0)
        return rc;
    RunOnServer(stmt);
    if (CursorForgotten(db)) {
        if (int rc = SetUpCalls(stmt); rc != 0)
            return rc;
        RunOnServer(stmt);
    }
    // Rows before a failing parameter row keep their effect, and the count says how many;
    // it is read before the messages are taken, which clears the SQLCA.
    if (!IsSelect(stmt))
        stmt->rowCount = stmt->rowsOfSlices + db->sqlca.sqlrows;
    return db->sqlca.sqlcode < 0 ? CallFailed(stmt) : 0;
}

// ---- Statement life cycle --------------------------------------------------------------

void oa_StmtReset(OA_STMT* stmt) {
    db_CursorClose(stmt);
    ClearFlags(stmt, STMT_PREPARED | STMT_NO_MORE_ROWS | STMT_EXECUTED | STMT_DESCRIBED | STMT_CURSOR_OPEN |
                         STMT_RETURN_SETTLED | STMT_OUT_BOUND | STMT_OUT_READY | STMT_OUT_PENDING |
                         STMT_PARAMS_DESCRIBED);
    stmt->executions = 0;
    stmt->totalRows = 0;
    stmt->rowCount = -1;
    stmt->sliceFollows = false;
    stmt->rowsOfSlices = 0;
    stmt->sliceSetsBefore = stmt->sliceSetsTotal = 0;
    stmt->inCount = stmt->inOutCount = stmt->outCount = 0;
    if (DB_CURSOR* cursor = Cursor(stmt)) {
        db_BindFree(&cursor->bind);
        cursor->outParams.reset();
        cursor->colCount = 0;
        cursor->paramCount = 0;
    }
    stmt->cols.reset();
    stmt->params.reset();
    stmt->outDescs.reset();
    stmt->colAttrs.reset();
    stmt->updatable.reset();
    // Rows kept or served for the previous text belong to it.
    stmt->kept.reset();
    oa_DaeReset(stmt);
    stmt->staticResult = 0;
    stmt->type = 0;
    stmt->kind = 0;
    ut_SqlTextFree(&stmt->request);
}

void oa_StmtFreeContents(OA_STMT* stmt) {
    stmt->paramValues.reset();
    stmt->paramDescs.reset();
    stmt->paramDescCount = 0;
    DB_CursorFree(stmt->cursor);
    stmt->cursor = nullptr;
}

// ---- Operations ------------------------------------------------------------------------

int OA_Prepare(uint32_t handle, const char* text) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || text == nullptr || Cursor(stmt) == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    oa_StmtReset(stmt);

    bool noScan = stmt->noScan != 0;
    int rc = noScan ? ut_SqlTextCopy(&stmt->request, text) : ut_SqlTextTranslate(nullptr, &stmt->request, text);
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, noScan ? "RequestNoScan prepare failed: %s" : "Request prepare failed: %s", text);
        return rc;
    }
    stmt->type = stmt->request.kind;
    stmt->kind = stmt->request.flags;

    if (!IsSelect(stmt) && ReadOnly(stmt)) {
        LOG_MSG(LOG_DEBUG, "Non SELECT in r/o connection");
        OA_ErrPost(&stmt->errors, ERR_ONLY_SELECT_STATEMENTS_ARE_ALLOWED_DURING);
        return ERR_ONLY_SELECT_STATEMENTS_ARE_ALLOWED_DURING;
    }
    stmt->rowCallback = nullptr;

    if ((stmt->kind & SQLT_PROC_CALL) != 0) {
        rc = OA_PrepareCall(stmt);
    } else {
        rc = db_CursorSetUp(stmt);
        if (rc == 0 && IsSelect(stmt))
            rc = db_DescribeOutput(stmt);
        if (rc == 0)
            rc = OA_ColAttrFill(stmt);
        if (rc == 0 && (stmt->kind & SQLT_HAS_PARAMS) != 0)
            rc = db_DescribeInput(stmt, stmt->type != SQLT_KIND_SELECT && stmt->type != SQLT_KIND_DML);
    }
    if (rc == 0)
        SetFlags(stmt, STMT_PREPARED);
    return rc;
}

int OA_SetParamValues(uint32_t handle, DATASET* values) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (stmt->paramValues.get() != values)
        stmt->paramValues.reset(values);
    return 0;
}

int OA_SetParamDescs(uint32_t handle, uint16_t count, const PARAM_DESC* descs) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || (count != 0 && descs == nullptr))
        return ERR_INVALID_ARGUMENT_VALUE;
    stmt->paramDescs.reset();
    stmt->paramDescCount = 0;
    if (count == 0)
        return 0;
    auto* copy = static_cast<PARAM_DESC*>(s_alloc(count, sizeof(PARAM_DESC)));
    std::memcpy(copy, descs, sizeof(PARAM_DESC) * count);
    stmt->paramDescs.reset(copy);
    stmt->paramDescCount = count;
    return 0;
}

int OA_Execute(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || Cursor(stmt) == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if ((stmt->flags & STMT_PREPARED) == 0) {
        LOG_MSG(LOG_WARNING, "execute without prior prepare");
        OA_ErrPost(&stmt->errors, ERR_FUNCTION_SEQUENCE_ERROR);
        return ERR_FUNCTION_SEQUENCE_ERROR;
    }
    if (RanToItsEnd(stmt)) {
        ClearFlags(stmt, STMT_EXECUTED);
    } else if ((stmt->flags & (STMT_EXECUTED | STMT_CURSOR_OPEN | STMT_OUT_PENDING | STMT_COMMIT_OWED)) != 0) {
        if (int rc = db_CursorClose(stmt); rc != 0)
            return rc;
    }
    if (IsSelect(stmt))
        ClearFlags(stmt, STMT_NO_MORE_ROWS);
    else
        SetFlags(stmt, STMT_NO_MORE_ROWS);
    stmt->executions = 0;
    stmt->totalRows = 0;
    // A query's rows are not counted: its count stays unknown. The slices of an array
    // count as one execution.
    stmt->rowCount = IsSelect(stmt) ? -1 : stmt->rowsOfSlices;
    // Pending values are asked for first: the statement runs once they are all in
    // (OA_ParamData), never with the cells still marked.
    int rc = OA_ParamDataStart(stmt);
    if (rc == 0)
        rc = oa_ExecuteCore(stmt);
    const bool ran = rc == 0 || rc == ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING;
    stmt->rowsOfSlices = stmt->sliceFollows && ran && stmt->rowCount > 0 ? stmt->rowCount : 0;
    // For this execution only, however it ended.
    stmt->sliceFollows = false;
    stmt->sliceSetsBefore = stmt->sliceSetsTotal = 0;
    return rc;
}

int oa_ExecuteCore(OA_STMT* stmt) {
    if ((stmt->kind & SQLT_PROC_CALL) != 0) {
        int rc = OA_ExecuteCursor(stmt);
        if (rc == 0)
            stmt->executions++;
        return rc;
    }
    if ((stmt->kind & SQLT_HAS_PARAMS) != 0 && stmt->paramValues == nullptr) {
        LOG_MSG(LOG_WARNING, "execute without prior parameters set");
        OA_ErrPost(&stmt->errors, ERR_WRONG_NUMBER_OF_PARAMETERS);
        return ERR_WRONG_NUMBER_OF_PARAMETERS;
    }

    if (int rc = db_TxnBegin(stmt); rc != 0)
        return rc;
    Bind(stmt)->fractionCut = false;
    int rc = db_CursorRun(stmt, DbParams::Current, 0);
    if (IsSelect(stmt)) {
        if (rc != 0) {
            db_CommitOwed(stmt, rc);
            return rc;
        }
        SetFlags(stmt, STMT_CURSOR_OPEN);
    } else {
        // A failed statement does not end the transaction at the server; in autocommit it
        // is ended here all the same, or it would stay open (to be committed later by
        // accident) with its locks.
        int end = db_TxnEndStatement(stmt, rc);
        if (rc == 0)
            rc = end;
        if (rc != 0)
            return rc;
    }
    SetFlags(stmt, STMT_EXECUTED);
    stmt->executions++;
    // The warning a parameter's conversion posted (a timestamp's fraction cut) comes with it.
    return Bind(stmt)->fractionCut ? ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING : 0;
}

int OA_Fetch(uint32_t handle, uint16_t rows, DATASET* block) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || block == nullptr || Cursor(stmt) == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (stmt->staticResult == OA_STATIC_TYPEINFO)
        return db_TypeInfoFetch(stmt, rows, block);
    if ((stmt->flags & STMT_EXECUTED) == 0 || (stmt->flags & STMT_CURSOR_OPEN) == 0) {
        OA_ErrPost(&stmt->errors, ERR_FUNCTION_SEQUENCE_ERROR);
        return ERR_FUNCTION_SEQUENCE_ERROR;
    }
    if (rows == 0 && stmt->kept != nullptr) {
        ds_Free(block);
        DATASET* kept = stmt->kept.release();
        *block = *kept;
        uh_Free(kept);
        if (int rc = db_CommitOwed(stmt, 0); rc != 0) {
            ds_Free(block);
            return rc;
        }
        return 0;
    }

    int32_t wanted = rows;
    if (stmt->maxRows > 0) {
        int64_t left = std::max<int64_t>(0, stmt->maxRows - stmt->totalRows);
        wanted = static_cast<int32_t>(std::min<int64_t>(wanted, left));
    }
    if (wanted == 0 || (stmt->flags & STMT_NO_MORE_ROWS) != 0)
        return SetUpBlock(stmt, block, 0);

    DB_CURSOR* cursor = Cursor(stmt);
    DB_CONN* db = cursor->db;
    int rc = SetUpBlock(stmt, block, wanted);
    if (rc == 0)
        rc = db_BindResultCols(Bind(stmt), block);
    if (rc == 0)
        rc = MakeCurrent(stmt);
    if (rc == 0) {
        tpe_sqlfetch(db->tmHandle, db->dbHandle, cursor->handle, cursor->bind.output, &db->sqlca);
        if (db->sqlca.sqlcode < 0)
            rc = CallFailed(stmt);
    }
    bool end = rc == 0 && db->sqlca.sqlcode == 100;
    auto fetched = static_cast<int32_t>(std::clamp<int64_t>(db->sqlca.sqlrows, 0, wanted));
    if (rc == 0) {
        stmt->totalRows += fetched;
        block->rowsUsed = fetched;
        for (uint16_t c = 0; c < block->colsUsed && rc == 0; ++c)
            rc = db_ConvFetchedRows(&cursor->bind, block, c, fetched);
    }
    // The maximum row count ends the result as the end of the data does, transaction
    // included. Rows read in a transaction that the server refuses to commit are not
    // handed out.
    if (rc == 0 && (end || (stmt->maxRows > 0 && stmt->totalRows >= stmt->maxRows))) {
        SetFlags(stmt, STMT_NO_MORE_ROWS);
        rc = db_CommitOwed(stmt, 0);
    }
    if (rc != 0) {
        ds_Free(block);
        db_CommitOwed(stmt, rc);
        return rc;
    }
    if (stmt->rowCallback != nullptr)
        stmt->rowCallback(cursor, block);
    return 0;
}

int OA_CloseCursor(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    // The cursor is gone whatever the server answered to its close; a refused commit that
    // the statement owed is another matter: its work is not done.
    int closed = CloseServerCursor(stmt);
    return db_CommitOwed(stmt, closed);
}

int OA_MoreResults(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr || Cursor(stmt) == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (stmt->staticResult != 0 || (stmt->flags & STMT_EXECUTED) == 0)
        return ERR_NO_MORE_RESULTS;
    if (int rc = db_CursorClose(stmt); rc != 0)
        return rc;
    const DATASET* values = stmt->paramValues.get();
    if (IsSelect(stmt) && (stmt->kind & SQLT_PROC_CALL) == 0 && values != nullptr &&
        static_cast<int64_t>(values->rowsUsed) > stmt->executions) {
        ClearFlags(stmt, STMT_NO_MORE_ROWS);
        stmt->totalRows = 0;
        if (int rc = db_TxnBegin(stmt); rc != 0)
            return rc;
        if (int rc = db_CursorRun(stmt, DbParams::Current, static_cast<int32_t>(stmt->executions)); rc != 0) {
            db_CommitOwed(stmt, rc);
            return rc;
        }
        stmt->executions++;
        SetFlags(stmt, STMT_CURSOR_OPEN | STMT_EXECUTED);
        return 0;
    }
    SetFlags(stmt, STMT_NO_MORE_ROWS);
    return ERR_NO_MORE_RESULTS;
}

int OA_PrepareAndExecute(uint32_t handle, const char* text, DATASET* values, uint16_t descCount,
                         const PARAM_DESC* descs) {
    if (oa_FindStmt(handle) == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    // The values are taken first, so that the statement owns them also when the prepare
    // fails; a prepare keeps the parameter values.
    int rc = 0;
    if (values != nullptr)
        rc = OA_SetParamValues(handle, values);
    if (rc == 0 && text != nullptr)
        rc = OA_Prepare(handle, text);
    if (rc == 0 && descCount != 0)
        rc = OA_SetParamDescs(handle, descCount, descs);
    return rc != 0 ? rc : OA_Execute(handle);
}
