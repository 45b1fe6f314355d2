// Diagnostics: the failover check run by the dispatcher after each call.
#include "driver/diag/diag.h"

#include <sql.h>

#include "driver/objects/handles.h"
#include "util/errcode.h"

namespace {

constexpr int FAILOVER_COMPLETED = 183;  // IM500
constexpr int FAILOVER_ABORTED = 184;    // IM501
constexpr int FAILOVER_ACTION_COMPLETED = 16;
constexpr int FAILOVER_ACTION_ABORTED = 17;

}  // namespace

int FindFailoverMsg(const DIAG& diag) {
    for (const ERRMSG& m : diag.messages) {
        if (m.text.find("Failover completed.") != std::string::npos)
            return FAILOVER_COMPLETED;
        if (m.text.find("Failover aborted.") != std::string::npos)
            return FAILOVER_ABORTED;
    }
    return 0;
}

int CheckFailover(CONN* conn, int kind, int rc) {
    if (conn == nullptr || conn->failover == nullptr)
        return rc;
    const DIAG* diag = nullptr;
    switch (kind) {
    case 3:
        diag = &conn->diag;
        break;
    case 4:
        diag = &static_cast<const STMT*>(conn->busy)->diag;
        break;
    case 5:
        diag = &static_cast<const DESC*>(conn->busy)->diag;
        break;
    default:
        return rc;
    }
    int action = 0;
    if (diag->errCode == FAILOVER_COMPLETED) {
        action = FAILOVER_ACTION_COMPLETED;
        rc = SQL_SUCCESS_WITH_INFO;
    } else if (diag->errCode == FAILOVER_ABORTED) {
        action = FAILOVER_ACTION_ABORTED;
        rc = SQL_ERROR;
    } else if (diag->messages.size() >= 2) {
        int found = FindFailoverMsg(*diag);
        if (found != 0) {
            action = found == FAILOVER_COMPLETED ? FAILOVER_ACTION_COMPLETED : FAILOVER_ACTION_ABORTED;
            rc = SQL_ERROR;
        }
    }
    if (action != 0)
        conn->failover(action, conn->failoverContext, 0);
    return rc;
}
