// The initial SQL file of a data source, run once on a new connection.
#include "drv_pro9/oa_initsql.h"

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "util/log.h"

namespace {

// Frees the statement whatever happens to the run.
struct StmtGuard {
    uint32_t id = 0;
    ~StmtGuard() {
        if (id != 0)
            OA_FreeStmt(id);
    }
};

// The messages of the temporary statement go to the connection before the statement
// goes with them: they explain the warning of the connect.
void MoveErrors(uint32_t stmtId, OA_CONN* conn) {
    OA_STMT* stmt = stmtId != 0 ? oa_FindStmt(stmtId) : nullptr;
    OA_ERRREC* rec = stmt != nullptr ? stmt->errors.head : nullptr;
    if (stmt != nullptr)
        stmt->errors.head = nullptr;
    while (rec != nullptr) {
        OA_ERRREC* next = rec->next;
        rec->next = nullptr;
        OA_ErrAppend(&conn->errors, rec);
        rec = next;
    }
}

}  // namespace

int OA_RunInitialSql(uint32_t connHandle, const char* name, const char* text) {
    OA_CONN* conn = oa_FindConn(connHandle);
    if (conn == nullptr || text == nullptr)
        return -1;
    if (name == nullptr)
        name = "";

    // The prepare translates the escapes; the text goes to it untranslated, so that it is
    // translated once.
    StmtGuard stmtId;
    int rc = OA_AllocStmt(connHandle, &stmtId.id);
    if (rc == 0)
        rc = OA_Prepare(stmtId.id, text);
    if (rc != 0) {
        LOG_MSG(LOG_ERR, "preparation of %s failed", name);
        MoveErrors(stmtId.id, conn);
        return -1;
    }
    OA_STMT* stmt = oa_FindStmt(stmtId.id);
    // The run is one statement like any other: without a transaction step its changes
    // would wait in an open transaction to be committed by accident or lost at disconnect.
    rc = db_TxnBegin(stmt);
    if (rc == 0) {
        DB_CURSOR* cursor = stmt->cursor;
        rc = DB_ExecImmediate(cursor->db, cursor->handle, cursor->paramCount != 0 ? cursor->bind.input : nullptr,
                              &stmt->errors);
        int end = db_TxnEndStatement(stmt, rc);
        if (rc == 0)
            rc = end;
    }
    if (rc != 0) {
        LOG_MSG(LOG_ERR, "execution of %s failed", name);
        MoveErrors(stmtId.id, conn);
        return -1;
    }
    return 0;
}
