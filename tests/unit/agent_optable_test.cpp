// The agent operation table: slot order and emptiness, binding with and without the
// cursor library's copy, the type table behind slot 23, the server handle's sharing, and
// the handle-kind checks of the fixed statement answers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <iterator>

#include "agent_fixture.h"
#include "driver/frame/globals.h"
#include "driver/library/library.h"
#include "drv_pro9/oa_optable.h"
#include "scrs/scr_hook.h"
#include "util/errcode.h"

namespace {

struct SlotCase {
    int slot;
    const char* name;
    size_t offset;
    bool filled;   // in the agent's own table
};

#define SLOT(n, member, filled) {n, #member, offsetof(OA_OPTABLE, member), filled}
constexpr bool F = true;   // the agent fills the slot
constexpr bool E = false;  // empty in the agent's table

const SlotCase kSlots[] = {
    SLOT(0, DRV_GetProperty, F),        SLOT(1, DRV_SetProperty, F),
    SLOT(2, DRV_GetErrors, F),          SLOT(3, DRV_OpenServer, F),
    SLOT(4, DRV_CloseServer, F),        SLOT(5, DRV_Connect, F),
    SLOT(6, DRV_Disconnect, F),         SLOT(7, DRV_AllocStmt, F),
    SLOT(8, DRV_FreeStmt, F),           SLOT(9, DRV_GetCursorName, F),
    SLOT(10, DRV_SetCursorName, F),     SLOT(11, DRV_Prepare, F),
    SLOT(12, DRV_SetParamValues, F),    SLOT(13, DRV_Execute, F),
    SLOT(14, DRV_StmtNotCapable, F),    SLOT(15, DRV_DescribeCols, F),
    SLOT(16, DRV_DescribeParams, F),    SLOT(17, DRV_NativeSql, F),
    SLOT(18, DRV_SetParamDescs, F),     SLOT(19, DRV_Fetch, F),
    SLOT(20, DRV_CloseCursor, F),       SLOT(21, DRV_Commit, F),
    SLOT(22, DRV_Rollback, F),          SLOT(23, GetOpTable, F),
    SLOT(24, DRV_MoreResults, F),       SLOT(25, DRV_DDColumnPrivileges, F),
    SLOT(26, DRV_DDColumns, F),         SLOT(27, DRV_DDForeignKeys, F),
    SLOT(28, DRV_DDPrimaryKeys, F),     SLOT(29, DRV_DDProcedureColumns, F),
    SLOT(30, DRV_DDProcedures, F),      SLOT(31, DRV_DDSpecialColumns, F),
    SLOT(32, DRV_DDStatistics, F),      SLOT(33, DRV_DDTablePrivileges, F),
    SLOT(34, DRV_DDTables, F),          SLOT(35, DRV_GetTypeInfo, F),
    SLOT(36, DRV_ScrollFetch, E),       SLOT(37, DRV_SetPos, E),
    SLOT(38, DRV_ParamData, F),         SLOT(39, DRV_PutData, F),
    SLOT(40, DRV_GetData, F),           SLOT(41, DRV_ExtendedFetch, E),
    SLOT(42, DRV_BulkOperations, E),    SLOT(43, DRV_PrepareAndExecute, F),
    SLOT(44, DRV_ExecuteDescribe, E),   SLOT(45, DRV_AllocPrepare, E),
    SLOT(46, DRV_GetRowLayout, E),      SLOT(47, DRV_FetchInto, E),
    SLOT(48, DRV_GetRowData, E),        SLOT(49, DRV_ExecuteBatch, E),
    SLOT(50, unused50, E),              SLOT(51, DRV_DescribeColsEx, F),
    SLOT(52, DRV_ExecuteDescribeEx, E), SLOT(53, DRV_Cancel, F),
    SLOT(54, DRV_PrepareAndExecuteEx, E), SLOT(55, DRV_XaClose, E),
    SLOT(56, DRV_XaCommit, E),          SLOT(57, DRV_XaComplete, E),
    SLOT(58, DRV_XaEnd, E),             SLOT(59, DRV_XaForget, E),
    SLOT(60, DRV_XaOpen, E),            SLOT(61, DRV_XaPrepare, E),
    SLOT(62, DRV_XaRecover, E),         SLOT(63, DRV_XaRollback, E),
    SLOT(64, DRV_XaStart, E),           SLOT(65, DRV_StoreParamDescs, E),
};
#undef SLOT

// A slot of a table read by its position.
const void* SlotAt(const OA_OPTABLE& table, size_t offset) {
    const void* p;
    std::memcpy(&p, reinterpret_cast<const char*>(&table) + offset, sizeof p);
    return p;
}

TEST(AgentOpTable, SlotsStandInOrderAndTheAgentFillsExactlyItsOwn) {
    ASSERT_EQ(std::size(kSlots), size_t{OA_OPTABLE_SLOTS});
    for (const SlotCase& c : kSlots) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.offset, c.slot * sizeof(void*));
        EXPECT_EQ(SlotAt(OA_AgentOpTable, c.offset) != nullptr, c.filled);
    }
}

// What a cursor library does: a copy of the table it was given, with some slots of its own.
OA_OPTABLE g_libraryTable;
int LibraryScrollFetch(uint32_t, DS_ROWSET**, int32_t, uint32_t*, int32_t*) { return 0; }
int LibraryPrepare(uint32_t, const char*) { return 0; }
OA_OPHOLDER* CopyingHook(OA_OPHOLDER* holder) {
    g_libraryTable = *holder->ops;
    g_libraryTable.DRV_ScrollFetch = LibraryScrollFetch;
    g_libraryTable.DRV_Prepare = LibraryPrepare;
    holder->ops = &g_libraryTable;
    return holder;
}

TEST(AgentOpTable, BindingResetsTheHolderAndLetsAHookInstallItsCopy) {
    OA_OPHOLDER holder;
    holder.state = OA_HOLDER_DRIVER_FREES_DATA | OA_HOLDER_SKIP_DB_LOCK;
    ASSERT_EQ(OA_BindOpTable(&holder), 0);
    EXPECT_EQ(holder.ops, &OA_AgentOpTable);  // no cursor library yet
    EXPECT_EQ(holder.state, 0);

    ASSERT_EQ(DrvBindOpTableWith(&holder, CopyingHook), 0);
    ASSERT_EQ(holder.ops, &g_libraryTable);
    EXPECT_EQ(holder.ops->DRV_ScrollFetch, LibraryScrollFetch);
    EXPECT_EQ(holder.ops->DRV_Prepare, LibraryPrepare);
    EXPECT_EQ(holder.ops->DRV_GetErrors, OA_AgentOpTable.DRV_GetErrors);  // kept from the agent
    EXPECT_EQ(OA_AgentOpTable.DRV_ScrollFetch, nullptr);                  // the agent's is untouched

    // Binding again without the hook removes the copy from the holder.
    ASSERT_EQ(OA_BindOpTable(&holder), 0);
    EXPECT_EQ(holder.ops, &OA_AgentOpTable);
}

TEST(AgentOpTable, LibraryAttachBindsTheProcessHolder) {
    Drv().opHolder.ops = nullptr;
    Drv().opHolder.state = 7;
    ASSERT_EQ(DrvAttach(), 1);
    EXPECT_EQ(Drv().opHolder.ops, SCR_LibraryTable());  // the cursor library in front
    EXPECT_EQ(SCR_AgentHolder()->ops, &OA_AgentOpTable);
    EXPECT_EQ(Drv().opHolder.state, 0);
}

using AgentOpTableHandles = AgentHandles;

TEST_F(AgentOpTableHandles, TypeTableIsReachedThroughServerOrConnection) {
    for (uint32_t handle : {serverId, connId}) {
        OA_TYPETABLEREQ req{1, -1, nullptr};
        ASSERT_EQ(OA_AgentOpTable.GetOpTable(handle, &req), 0);
        EXPECT_EQ(req.count, 9);
        ASSERT_EQ(req.rows, OA_CONVTABLE);
        EXPECT_EQ(req.rows[req.count].sqlType, 0);  // the terminator
    }
}

TEST_F(AgentOpTableHandles, TypeTableRefusesOtherTypesAndBadArguments) {
    OA_TYPETABLEREQ req{2, 123, nullptr};
    EXPECT_EQ(GetOpTable(serverId, &req), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(req.count, 123);
    EXPECT_EQ(req.rows, nullptr);
    req.type = 1;
    EXPECT_EQ(GetOpTable(stmtId, &req), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(GetOpTable(serverId, nullptr), ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(AgentOpTableHandles, OperationsCheckTheKindOfTheirHandle) {
    const OA_OPTABLE& t = OA_AgentOpTable;
    EXPECT_EQ(t.DRV_StmtNotCapable(stmtId), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(t.DRV_StmtNotCapable(connId), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(t.DRV_Cancel(stmtId), 0);
    EXPECT_EQ(t.DRV_Cancel(serverId), ERR_INVALID_ARGUMENT_VALUE);
    // A connection operation given a statement handle.
    EXPECT_EQ(t.DRV_Commit(stmtId), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(t.DRV_Commit(connId), 0);   // nothing open to commit
    EXPECT_EQ(t.DRV_GetTypeInfo(connId, 0), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(t.DRV_NativeSql(stmtId, "x", nullptr, 0, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(t.DRV_DescribeCols(connId, nullptr, nullptr), ERR_INVALID_ARGUMENT_VALUE);

    void* value = nullptr;
    int32_t remaining = 0, type = 0, total = 0;
    EXPECT_EQ(t.DRV_GetData(stmtId, 1, 1, 100, &value, &remaining, &type, &total), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(t.DRV_GetData(stmtId, 1, 1, 100, &value, &remaining, nullptr, &total), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(t.DRV_GetData(connId, 1, 1, 100, &value, &remaining, &type, &total), ERR_INVALID_ARGUMENT_VALUE);
}

TEST(AgentServer, OpensAreSharedAndTheLastCloseRemovesTheTables) {
    uint32_t first = 0, second = 0;
    ASSERT_EQ(OA_OpenServer(nullptr, &first), 0);
    ASSERT_EQ(OA_OpenServer(nullptr, &second), 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first >> 16, 0xAAAAu);

    EXPECT_EQ(OA_CloseServer(first), 0);
    EXPECT_NE(oa_FindServer(first), nullptr);
    EXPECT_NE(Agent().stmts.slots, nullptr);

    EXPECT_EQ(OA_CloseServer(first), 0);
    EXPECT_EQ(oa_FindServer(first), nullptr);
    EXPECT_EQ(Agent().servers.slots, nullptr);
    EXPECT_EQ(Agent().conns.slots, nullptr);
    EXPECT_EQ(Agent().stmts.slots, nullptr);
    EXPECT_EQ(OA_CloseServer(first), ERR_INVALID_ARGUMENT_VALUE);
}

}  // namespace
