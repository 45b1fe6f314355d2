// Agent statements on the server: the ESQL cursor record, statement reset and close.
#include "drv_pro9/oa_exec.h"

#include <new>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"
#include "util/errcode.h"

namespace {

// Posts the client's messages of a failed call on the statement; 15.
int CallFailed(OA_STMT* stmt) {
    OA_ErrFromSqlca(&stmt->errors, &stmt->cursor->db->sqlca);
    return ERR_GENERAL_ERROR;
}

// Makes the statement's connection current before a client call (which connection is
// current is process state of the client). 0, or 15 with the messages on the statement.
int MakeCurrent(OA_STMT* stmt) {
    DB_CONN* db = stmt->cursor->db;
    tpe_sql_setconnection(db->name.c_str(), &db->sqlca);
    return db->sqlca.sqlcode < 0 ? CallFailed(stmt) : 0;
}

}  // namespace

int DB_CursorNew(DB_CONN* db, OA_STMT* stmt, DB_CURSOR** out) {
    *out = nullptr;
    auto* cursor = new (std::nothrow) DB_CURSOR;
    if (cursor == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    cursor->db = db;
    cursor->stmt = stmt;
    *out = cursor;
    return 0;
}

void DB_CursorFree(DB_CURSOR* cursor) {
    delete cursor;
}

int db_CursorClose(OA_STMT* stmt) {
    stmt->flags &= static_cast<uint16_t>(~STMT_CURSOR_OPEN);
    DB_CURSOR* cursor = stmt->cursor;
    if (cursor == nullptr || cursor->handle == nullptr || cursor->db == nullptr)
        return 0;
    int rc = MakeCurrent(stmt);
    // A cursor marked for set-up again is closed by that set-up; one that never ran has
    // nothing open at the server.
    bool ran = stmt->type == SQLT_KIND_SELECT || (stmt->flags & STMT_EXECUTED) != 0;
    if (rc == 0 && (stmt->flags & STMT_CURSOR_RESET) == 0 && ran) {
        DB_CONN* db = cursor->db;
        tpe_sqlclose(db->tmHandle, db->dbHandle, cursor->handle, &db->sqlca);
        if (db->sqlca.sqlcode < 0)
            rc = CallFailed(stmt);
    }
    return rc;
}

void oa_StmtReset(OA_STMT* stmt) {
    db_CursorClose(stmt);
    stmt->flags &= static_cast<uint16_t>(~(STMT_PREPARED | STMT_NO_MORE_ROWS | STMT_EXECUTED | STMT_DESCRIBED |
                                           STMT_CURSOR_OPEN | STMT_RETURN_SETTLED | STMT_OUT_BOUND |
                                           STMT_OUT_READY | STMT_OUT_PENDING));
    stmt->rowCount = 0;
    stmt->type = 0;
}

void oa_StmtFreeContents(OA_STMT* stmt) {
    DB_CursorFree(stmt->cursor);
    stmt->cursor = nullptr;
}

int OA_CloseCursor(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    db_CursorClose(stmt);
    return 0;
}
