// The cursor library's hook on the agent operation table: the library table, the agent
// holder and the back-calls, set up once.
#include "scrs/scr_hook.h"

#include <mutex>

#include "drv_pro9/oa_services.h"
#include "scrs/scr_paramdesc.h"
#include "scrs/scs_ops.h"

namespace {

// Both live as long as the process: holders point at the table until they are bound again,
// and the working records of statements keep the holder's address.
OA_OPTABLE g_libraryTable{};
OA_OPHOLDER g_agentHolder{};
std::once_flag g_hooked;

}  // namespace

void SCR_BuildLibraryTable(const OA_OPTABLE* agent, OA_OPTABLE* out) {
    *out = *agent;
    out->DRV_GetProperty = scs_GetProperty;
    out->DRV_Connect = scs_Connect;
    out->DRV_Disconnect = scs_Disconnect;
    out->DRV_AllocStmt = scs_AllocStmt;
    out->DRV_FreeStmt = scs_FreeStmt;
    out->DRV_Prepare = scs_Prepare;
    out->DRV_SetParamValues = scs_SetParamValues;
    out->DRV_Execute = scs_Execute;
    out->DRV_SetParamDescs = scs_SetParamDescs;
    out->DRV_Fetch = scs_FetchRows;
    out->DRV_CloseCursor = scs_CloseCursor;
    out->DRV_ScrollFetch = scs_Fetch;
    out->DRV_SetPos = scs_SetPos;
    out->DRV_ExtendedFetch = scs_ExtendedFetch;
    out->DRV_BulkOperations = scs_BulkOperations;
    out->DRV_MoreResults = scs_MoreResults;
    out->DRV_DDColumnPrivileges = scs_ColumnPrivileges;
    out->DRV_DDColumns = scs_Columns;
    out->DRV_DDForeignKeys = scs_ForeignKeys;
    out->DRV_DDPrimaryKeys = scs_PrimaryKeys;
    out->DRV_DDProcedureColumns = scs_ProcedureColumns;
    out->DRV_DDProcedures = scs_Procedures;
    out->DRV_DDSpecialColumns = scs_SpecialColumns;
    out->DRV_DDStatistics = scs_Statistics;
    out->DRV_DDTablePrivileges = scs_TablePrivileges;
    out->DRV_DDTables = scs_Tables;
    out->DRV_GetTypeInfo = scs_GetTypeInfo;
    out->DRV_PrepareAndExecute = scs_PrepareAndExecute;
    out->DRV_ExecuteDescribe = scs_ExecuteDescribe;
    out->DRV_AllocPrepare = scs_AllocPrepare;
    out->DRV_GetRowLayout = scs_GetRowLayout;
    out->DRV_FetchInto = scs_FetchInto;
    out->DRV_GetRowData = scs_GetData;
    out->DRV_ExecuteBatch = scs_ExecuteBatch;
    out->DRV_ExecuteDescribeEx = scs_ExecuteDescribeEx;
    out->DRV_PrepareAndExecuteEx = scs_PrepareAndExecuteEx;
    out->DRV_StoreParamDescs = scs_StoreParamDescs;
}

OA_OPHOLDER* SCR_HookOpTable(OA_OPHOLDER* holder) {
    // The first binding happens at library load, before any statement can exist.
    std::call_once(g_hooked, [holder] {
        const OA_OPTABLE* agent = holder != nullptr && holder->ops != nullptr ? holder->ops : &OA_AgentOpTable;
        g_agentHolder.state = holder != nullptr ? holder->state : 0;
        g_agentHolder.ops = agent;
        SCR_BuildLibraryTable(agent, &g_libraryTable);
        oa_Library.paramProber = SCR_ParamProber;
        oa_Library.setPosRun = scs_SetPosRun;
        oa_Library.fixColAttribs = scs_FixColAttribs;
    });
    if (holder != nullptr)
        holder->ops = &g_libraryTable;
    return holder;
}

const OA_OPTABLE* SCR_LibraryTable() { return g_agentHolder.ops != nullptr ? &g_libraryTable : nullptr; }

const OA_OPHOLDER* SCR_AgentHolder() { return &g_agentHolder; }

const OA_OPTABLE* SCR_SetAgentTable(const OA_OPTABLE* table) {
    const OA_OPTABLE* before = g_agentHolder.ops;
    g_agentHolder.ops = table;
    return before;
}
