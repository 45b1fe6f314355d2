// SQLGetTypeInfo against a scripted agent: the SQL type reaches the agent signed, the
// catalog replaces what was prepared, and the agent's refusal reaches the application with
// its messages.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlucode.h>

#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/handlers/typeinfo.h"
#include "util/errcode.h"

using namespace conn_fixture;

namespace {

constexpr uint32_t kFakeStmt = 0xCCCC0001;
constexpr auto kGetTypeInfoRec = MakeCall<DoGetTypeInfo>("GetTypeInfo", "", 1, CALL_KIND_STMT);

std::vector<int> g_asked;   // the SQL types slot 35 was given
int g_typeInfoRc = 0;
int g_closes = 0;

int FakeAllocStmt(uint32_t, uint32_t* out) {
    *out = kFakeStmt;
    return 0;
}
int FakeFreeStmt(uint32_t) { return 0; }
int FakeCloseCursor(uint32_t) {
    ++g_closes;
    return 0;
}
int FakeGetTypeInfo(uint32_t, int16_t sqlType) {
    g_asked.push_back(sqlType);
    return g_typeInfoRc;
}

const OA_OPTABLE kTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeFreeStmt;
    t.DRV_CloseCursor = FakeCloseCursor;
    t.DRV_GetTypeInfo = FakeGetTypeInfo;
    return t;
}();

int BindTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kTable;
    return 0;
}

class GetTypeInfoTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        g_asked.clear();
        g_typeInfoRc = 0;
        g_closes = 0;
        ConnSetOpTableBinder(BindTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        SQLHANDLE h = nullptr;
        ASSERT_EQ(DoAllocStmt(conn, OutHandleArgs{&h}), SQL_SUCCESS);
        hstmt = h;
        stmt = static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
    }
    SQLRETURN Call(SQLSMALLINT type) { return CallODBC(kGetTypeInfoRec, hstmt, GetTypeInfoArgs{type}); }

    SQLHANDLE hstmt = nullptr;
    STMT* stmt = nullptr;
};

TEST_F(GetTypeInfoTest, OpensTheCatalogInPlaceOfWhatWasPrepared) {
    stmt->flags |= STMT_FLAG_PREPARED | STMT_FLAG_CURSOR_OPEN;
    stmt->state = STMT_STATE_PREPARED;
    ASSERT_EQ(Call(SQL_WVARCHAR), SQL_SUCCESS);
    EXPECT_EQ(g_closes, 1);   // the open cursor was closed first
    EXPECT_EQ(g_asked, std::vector<int>{SQL_WVARCHAR});
    EXPECT_EQ(stmt->state, STMT_STATE_PREPARED);
    EXPECT_EQ(stmt->flags & (STMT_FLAG_PREPARED | STMT_FLAG_CURSOR_OPEN), STMT_FLAG_CURSOR_OPEN);
    // Its close leaves nothing prepared behind.
    StmtClose(stmt);
    EXPECT_EQ(stmt->state, STMT_STATE_ALLOCATED);
    ASSERT_EQ(Call(SQL_ALL_TYPES), SQL_SUCCESS);
    ASSERT_EQ(Call(SQL_TYPE_TIMESTAMP), SQL_SUCCESS);
    EXPECT_EQ(g_asked, (std::vector<int>{SQL_WVARCHAR, SQL_ALL_TYPES, SQL_TYPE_TIMESTAMP}));
}

TEST_F(GetTypeInfoTest, AgentRefusalReachesTheApplicationWithItsMessages) {
    g_typeInfoRc = ERR_GENERAL_ERROR;
    fake.errors[kFakeStmt] = {"[Progress Server]catalog unavailable[SQLSTATE:HY000]"};
    EXPECT_EQ(Call(SQL_CHAR), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_GENERAL_ERROR);
    EXPECT_EQ(Messages(stmt->diag), std::vector<std::string>{"[Progress Server]catalog unavailable[SQLSTATE:HY000]"});
    EXPECT_EQ(stmt->state, STMT_STATE_ALLOCATED);
    EXPECT_EQ(stmt->flags & STMT_FLAG_CURSOR_OPEN, 0);
}

}  // namespace
