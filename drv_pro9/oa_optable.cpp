// The agent's own operation table, the binding of holders and the agent's type table.
#include "drv_pro9/oa_optable.h"

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_catalog.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_dae.h"
#include "drv_pro9/oa_describe.h"
#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_props.h"
#include "drv_pro9/oa_typeinfo.h"
#include "util/errcode.h"

const OA_CONVROW OA_CONVTABLE[OA_CONVTABLE_ROWS + 1] = {
    {1, 0xFFFD, 0x2A31FE},    // SQL_CHAR
    {-7, 0, 0x2821FE},        // SQL_BIT
    {-6, 0, 0x2821FE},        // SQL_TINYINT
    {5, 0, 0x2821FE},         // SQL_SMALLINT
    {4, 0, 0x2821FE},         // SQL_INTEGER
    {7, 0, 0x2821FE},         // SQL_REAL
    {8, 0, 0x2821FE},         // SQL_DOUBLE
    {-2, 0xFFFD, 0x2A3000},   // SQL_BINARY
    {11, 0, 0x800},           // SQL_TIMESTAMP
    {0, 0, 0},
};

namespace {

// The three fixed answers of statement operations that have nothing to do on this server.

int OA_StmtNotCapable(uint32_t stmt) {
    return oa_FindStmt(stmt) != nullptr ? ERR_DRIVER_NOT_CAPABLE : ERR_INVALID_ARGUMENT_VALUE;
}

// Long values are never left at the server, so there is nothing to read in pieces.
int OA_GetData(uint32_t stmt, uint16_t /*column*/, uint16_t /*row*/, uint32_t /*maxPiece*/, void** outValue,
               int32_t* outRemaining, int32_t* outType, int32_t* outTotal) {
    if (oa_FindStmt(stmt) == nullptr || outValue == nullptr || outRemaining == nullptr || outType == nullptr ||
        outTotal == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return ERR_DRIVER_NOT_CAPABLE;
}

// Nothing runs at the server between calls; what a cancel ends is an exchange of values
// given at execution, whose marked values must not be asked for again by the next
// execution of another text (the driver forgets the dataset with it).
int OA_Cancel(uint32_t handle) {
    OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    const int32_t state = stmt->dae.state;
    if (state == DAE_NONE)
        return 0;
    oa_DaeReset(stmt);
    if (state == DAE_PARAMS || state == DAE_PARAMS_DONE)
        stmt->paramValues.reset();
    return 0;
}

}  // namespace

const OA_OPTABLE OA_AgentOpTable = {
    .DRV_GetProperty = OA_GetProperty,
    .DRV_SetProperty = OA_SetProperty,
    .DRV_GetErrors = OA_GetErrors,
    .DRV_OpenServer = OA_OpenServer,
    .DRV_CloseServer = OA_CloseServer,
    .DRV_Connect = OA_Connect,
    .DRV_Disconnect = OA_Disconnect,
    .DRV_AllocStmt = OA_AllocStmt,
    .DRV_FreeStmt = OA_FreeStmt,
    .DRV_GetCursorName = OA_GetCursorName,
    .DRV_SetCursorName = OA_SetCursorName,
    .DRV_Prepare = OA_Prepare,
    .DRV_SetParamValues = OA_SetParamValues,
    .DRV_Execute = OA_Execute,
    .DRV_StmtNotCapable = OA_StmtNotCapable,
    .DRV_DescribeCols = OA_DescribeCols,
    .DRV_DescribeParams = OA_DescribeParams,
    .DRV_NativeSql = OA_NativeSql,
    .DRV_SetParamDescs = OA_SetParamDescs,
    .DRV_Fetch = OA_Fetch,
    .DRV_CloseCursor = OA_CloseCursor,
    .DRV_Commit = OA_Commit,
    .DRV_Rollback = OA_Rollback,
    .GetOpTable = GetOpTable,
    .DRV_MoreResults = OA_MoreResults,
    .DRV_DDColumnPrivileges = OA_DDColumnPrivileges,
    .DRV_DDColumns = OA_DDColumns,
    .DRV_DDForeignKeys = OA_DDForeignKeys,
    .DRV_DDPrimaryKeys = OA_DDPrimaryKeys,
    .DRV_DDProcedureColumns = OA_DDProcedureColumns,
    .DRV_DDProcedures = OA_DDProcedures,
    .DRV_DDSpecialColumns = OA_DDSpecialColumns,
    .DRV_DDStatistics = OA_DDStatistics,
    .DRV_DDTablePrivileges = OA_DDTablePrivileges,
    .DRV_DDTables = OA_DDTables,
    .DRV_GetTypeInfo = OA_GetTypeInfo,
    .DRV_ScrollFetch = nullptr,
    .DRV_SetPos = nullptr,
    .DRV_ParamData = OA_ParamData,
    .DRV_PutData = OA_PutData,
    .DRV_GetData = OA_GetData,
    .DRV_ExtendedFetch = nullptr,
    .DRV_BulkOperations = nullptr,
    .DRV_PrepareAndExecute = OA_PrepareAndExecute,
    .DRV_ExecuteDescribe = nullptr,
    .DRV_AllocPrepare = nullptr,
    .DRV_GetRowLayout = nullptr,
    .DRV_FetchInto = nullptr,
    .DRV_GetRowData = nullptr,
    .DRV_ExecuteBatch = nullptr,
    .unused50 = nullptr,
    .DRV_DescribeColsEx = OA_DescribeColsEx,
    .DRV_ExecuteDescribeEx = nullptr,
    .DRV_Cancel = OA_Cancel,
    .DRV_PrepareAndExecuteEx = nullptr,
    .DRV_XaClose = nullptr,
    .DRV_XaCommit = nullptr,
    .DRV_XaComplete = nullptr,
    .DRV_XaEnd = nullptr,
    .DRV_XaForget = nullptr,
    .DRV_XaOpen = nullptr,
    .DRV_XaPrepare = nullptr,
    .DRV_XaRecover = nullptr,
    .DRV_XaRollback = nullptr,
    .DRV_XaStart = nullptr,
    .DRV_StoreParamDescs = nullptr,
};

int OA_BindOpTable(OA_OPHOLDER* holder) {
    holder->ops = &OA_AgentOpTable;
    holder->state = 0;
    return 0;
}

int GetOpTable(uint32_t handle, OA_TYPETABLEREQ* req) {
    // The connection opener asks with its agent connection handle: a connection leads to
    // the server it was opened on.
    const OA_SERVER* server = oa_FindServer(handle);
    if (server == nullptr) {
        const OA_CONN* conn = oa_FindConn(handle);
        server = conn != nullptr ? conn->server : nullptr;
    }
    if (server == nullptr || req == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (req->type != 1)
        return ERR_DRIVER_NOT_CAPABLE;
    req->rows = OA_CONVTABLE;
    req->count = OA_CONVTABLE_ROWS;
    return 0;
}
