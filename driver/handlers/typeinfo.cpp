// SQLGetTypeInfo.
#include "driver/handlers/typeinfo.h"

#include "driver/objects/stmt.h"
#include "util/errcode.h"

SQLRETURN DoGetTypeInfo(HANDLE_HDR* h, const GetTypeInfoArgs& a) {
    auto* stmt = static_cast<STMT*>(h);
    StmtClose(stmt);
    StmtFreeResultDescs(stmt);
    // The agent resets its statement for the catalog: a text prepared before is gone.
    stmt->flags &= static_cast<uint16_t>(~(STMT_FLAG_PREPARED | STMT_FLAG_CURSOR_OPEN));
    stmt->state = STMT_STATE_ALLOCATED;
    stmt->isQuery = false;
    stmt->rowCount = -1;
    int rc = CallSlot(stmt->conn->holder.ops, &OA_OPTABLE::DRV_GetTypeInfo, stmt->agentStmt, a.sqlType);
    if (rc != 0) {
        StmtGetAgentErrors(stmt);
        stmt->diag.errCode = rc;
        return SQL_ERROR;
    }
    stmt->state = STMT_STATE_PREPARED;
    stmt->flags |= STMT_FLAG_CURSOR_OPEN;
    stmt->isQuery = true;
    return SQL_SUCCESS;
}
