// The catalog calls against a scripted agent: the names the agent receives (null ones as
// "%" where the call says so, quotes stripped, lengths honoured), the table-type list
// rewritten for it, and the checks that come before anything reaches it.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <functional>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/handlers/catalog.h"
#include "util/errcode.h"

using namespace conn_fixture;

namespace {

constexpr uint32_t kFakeStmt = 0xCCCC0001;
constexpr auto kTables = MakeCall<DoTables>("Tables", "", 1, CALL_KIND_STMT);
constexpr auto kColumns = MakeCall<DoColumns>("Columns", "", 1, CALL_KIND_STMT);
constexpr auto kPrimaryKeys = MakeCall<DoPrimaryKeys>("PrimaryKeys", "", 1, CALL_KIND_STMT);
constexpr auto kColumnPrivileges = MakeCall<DoColumnPrivileges>("ColumnPrivileges", "", 1, CALL_KIND_STMT);

std::vector<std::vector<std::string>> g_asked;   // the names of each agent call
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
template <int N>
int FakeCatalog(uint32_t, const OA_CATARGS* args) {
    std::vector<std::string> names;
    for (int i = 0; i < N; ++i)
        names.push_back(args->names[i] == nullptr ? "<null>" : args->names[i]);
    g_asked.push_back(names);
    return 0;
}

const OA_OPTABLE kTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeFreeStmt;
    t.DRV_CloseCursor = FakeCloseCursor;
    t.DRV_DDTables = FakeCatalog<4>;
    t.DRV_DDColumns = FakeCatalog<4>;
    t.DRV_DDPrimaryKeys = FakeCatalog<3>;
    t.DRV_DDColumnPrivileges = FakeCatalog<4>;
    return t;
}();

int BindTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kTable;
    return 0;
}

CatalogArgs Args(std::vector<const char*> names, std::vector<SQLSMALLINT> lengths = {}) {
    CatalogArgs a;
    for (size_t i = 0; i < names.size(); ++i) {
        a.names[i] = names[i];
        a.lengths[i] = i < lengths.size() ? lengths[i] : SQL_NTS;
    }
    return a;
}

class CatalogCallTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        g_asked.clear();
        g_closes = 0;
        ConnSetOpTableBinder(BindTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        SQLHANDLE h = nullptr;
        ASSERT_EQ(DoAllocStmt(conn, OutHandleArgs{&h}), SQL_SUCCESS);
        hstmt = h;
        stmt = static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
    }
    template <class Rec>
    SQLRETURN Call(const Rec& rec, const CatalogArgs& a) {
        return CallODBC(rec, hstmt, a);
    }

    SQLHANDLE hstmt = nullptr;
    STMT* stmt = nullptr;
};

TEST_F(CatalogCallTest, NamesReachTheAgentAsTheCallDefinesThem) {
    ASSERT_EQ(Call(kColumns, Args({nullptr, nullptr, nullptr, nullptr})), SQL_SUCCESS);
    ASSERT_EQ(Call(kColumns, Args({"cat", "'PUB'", "\"ORDERS\"", "'"})), SQL_SUCCESS);
    ASSERT_EQ(Call(kColumns, Args({"", "PUBLIC", "ORDERSX", "IDX"}, {0, 3, 6, 2})), SQL_SUCCESS);
    ASSERT_EQ(Call(kTables, Args({nullptr, nullptr, nullptr, nullptr})), SQL_SUCCESS);
    ASSERT_EQ(Call(kTables, Args({"", "", "", "%"})), SQL_SUCCESS);
    ASSERT_EQ(Call(kTables, Args({nullptr, nullptr, "T", " TABLE , 'VIEW',SYSTEM TABLE "})), SQL_SUCCESS);
    ASSERT_EQ(Call(kColumnPrivileges, Args({nullptr, nullptr, "T", nullptr})), SQL_SUCCESS);
    EXPECT_EQ(g_asked, (std::vector<std::vector<std::string>>{
                           {"", "%", "%", "%"},
                           {"cat", "PUB", "ORDERS", "'"},
                           {"", "PUB", "ORDERS", "ID"},
                           {"", "%", "%", ""},
                           {"", "", "", "%"},
                           {"", "%", "T", "'TABLE','VIEW','SYSTEM TABLE'"},
                           {"", "", "T", "%"},
                       }));
    EXPECT_EQ(stmt->state, STMT_STATE_PREPARED);
    EXPECT_NE(stmt->flags & STMT_FLAG_CURSOR_OPEN, 0);
}

TEST_F(CatalogCallTest, TableTypesFollowTheConnectionsInclusionFlags) {
    conn->flags |= CONN_FLAG_INCLUDE_VIEWS;
    ASSERT_EQ(Call(kTables, Args({"", "", "%", "TABLE"})), SQL_SUCCESS);
    ASSERT_EQ(Call(kTables, Args({"", "", "%", "VIEW,TABLE"})), SQL_SUCCESS);
    conn->flags |= CONN_FLAG_INCLUDE_ALL;
    ASSERT_EQ(Call(kTables, Args({"", "", "%", "TABLE"})), SQL_SUCCESS);
    EXPECT_EQ(g_asked, (std::vector<std::vector<std::string>>{
                           {"", "", "%", "'TABLE','VIEW'"}, {"", "", "%", "'VIEW','TABLE'"}, {"", "", "%", ""}}));
}

// Refusals come before the cursor is closed and before the agent is asked.
TEST_F(CatalogCallTest, BadArgumentsAndPendingDataAtExecutionAreRefusedFirst) {
    struct Case {
        const char* what;
        std::function<SQLRETURN()> call;
        int code;
    } cases[] = {
        {"a negative length", [&] { return Call(kColumns, Args({"", "P", "T", ""}, {0, -5, 1, 0})); },
         ERR_INVALID_STRING_OR_BUFFER_LENGTH},
        {"a negative length of SQLTables", [&] { return Call(kTables, Args({"", "", "T", ""}, {0, 0, -2, 0})); },
         ERR_INVALID_STRING_OR_BUFFER_LENGTH},
        {"a negative type-list length", [&] { return Call(kTables, Args({"", "", "T", "x"}, {0, 0, 1, -7})); },
         ERR_INVALID_STRING_OR_BUFFER_LENGTH},
        {"no table name", [&] { return Call(kPrimaryKeys, Args({"", "P", nullptr})); }, ERR_INVALID_ARGUMENT_VALUE},
        {"no table name for column privileges",
         [&] { return Call(kColumnPrivileges, Args({"", "P", nullptr, "C"})); }, ERR_INVALID_ARGUMENT_VALUE},
    };
    stmt->state = STMT_STATE_PREPARED;
    stmt->flags |= STMT_FLAG_CURSOR_OPEN;
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), SQL_ERROR) << c.what;
        EXPECT_EQ(stmt->diag.errCode, c.code) << c.what;
    }
    stmt->daeState = STMT_DAE_PARAMS;
    EXPECT_EQ(Call(kTables, Args({"", "", "%", ""})), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(stmt->daeState, STMT_DAE_PARAMS);   // the exchange goes on
    EXPECT_TRUE(g_asked.empty());
    EXPECT_EQ(g_closes, 0);
    EXPECT_EQ(stmt->state, STMT_STATE_PREPARED);
}

TEST(CatalogTypeLists, NormalisedAndSearched) {
    const std::pair<const char*, const char*> lists[] = {
        {"", ""},
        {"%", "%"},
        {"%TABLE", "%"},
        {"TABLE", "'TABLE'"},
        {"'TABLE'", "'TABLE'"},
        {"TABLE, VIEW", "'TABLE','VIEW'"},
        {"  'SYSTEM TABLE' ,  VIEW  ", "'SYSTEM TABLE','VIEW'"},
        {"A,B,C,D,E,F,G,H,I,J", "'A','B','C','D','E','F','G','H','I','J'"},   // three characters per comma
        {"x') OR (1=1", "'x) OR (1=1'"},
    };
    for (auto [in, out] : lists)
        EXPECT_EQ(NormTableTypes(in), out) << in;
    EXPECT_EQ(ListItemPos("'TABLE','VIEW'", "'VIEW'"), 2);
    EXPECT_EQ(ListItemPos("'TABLES', 'TABLE'", "'TABLE'"), 2);
    EXPECT_EQ(ListItemPos("'TABLE'", "'VIEW'"), 0);
    EXPECT_EQ(ListItemPos(nullptr, "'VIEW'"), 0);
}

}  // namespace
