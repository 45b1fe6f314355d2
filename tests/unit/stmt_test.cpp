// Statement and descriptor records against the scripted agent: the description caches
// and their numbering, the agent's messages, bindings replaced by a rebind or by an
// application descriptor, and the parameter-set size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/handlers/stmttext.h"
#include "driver/objects/desc.h"
#include "util/errcode.h"

namespace {

using namespace conn_fixture;

constexpr uint32_t kFakeStmt = 0xCCCC0001;

// What the statement slots answer: the result-column names, the parameter count, and the
// codes of the next parameter descriptions (0 once the list runs out).
struct StmtScript {
    std::vector<std::string> columns;
    uint16_t params = 0;
    std::vector<int> describeParamsRcs;
    int describeParamsCalls = 0;
};
StmtScript* g_script = nullptr;

COLDESC* MakeDescs(const std::vector<std::string>& names) {
    if (names.empty())
        return nullptr;
    auto* d = static_cast<COLDESC*>(std::calloc(names.size(), sizeof(COLDESC)));
    for (size_t i = 0; i < names.size(); ++i) {
        std::snprintf(d[i].name, sizeof d[i].name, "%s", names[i].c_str());
        d[i].sqlType = SQL_INTEGER;
        d[i].internalType = 4;
        d[i].label = strdup(names[i].c_str());  // shows each record's texts go with it
    }
    return d;
}

int FakeAllocStmt(uint32_t, uint32_t* out) {
    *out = kFakeStmt;
    return 0;
}
int FakeFreeStmt(uint32_t) { return 0; }
int FakeCloseCursor(uint32_t) { return 0; }

int FakeDescribeCols(uint32_t, uint16_t* count, COLDESC** descs) {
    *count = static_cast<uint16_t>(g_script->columns.size());
    *descs = MakeDescs(g_script->columns);
    return 0;
}

int FakeDescribeParams(uint32_t, uint16_t* count, COLDESC** descs) {
    StmtScript& s = *g_script;
    int rc = 0;
    if (static_cast<size_t>(s.describeParamsCalls) < s.describeParamsRcs.size())
        rc = s.describeParamsRcs[static_cast<size_t>(s.describeParamsCalls)];
    ++s.describeParamsCalls;
    if (rc != 0)
        return rc;
    *count = s.params;
    *descs = MakeDescs(std::vector<std::string>(s.params, "p"));
    return 0;
}

const OA_OPTABLE kStmtTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeFreeStmt;
    t.DRV_CloseCursor = FakeCloseCursor;
    t.DRV_DescribeCols = FakeDescribeCols;
    t.DRV_DescribeParams = FakeDescribeParams;
    return t;
}();

int BindStmtTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kStmtTable;
    return 0;
}

// A connected connection with one statement, prepared as far as the records go.
class StmtTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        g_script = &script;
        ConnSetOpTableBinder(BindStmtTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        stmt = NewStmt();
        ASSERT_NE(stmt, nullptr);
        stmt->flags |= STMT_FLAG_PREPARED;
        stmt->state = STMT_STATE_PREPARED;
    }
    void TearDown() override {
        ConnTest::TearDown();
        g_script = nullptr;
    }
    STMT* NewStmt() {
        SQLHANDLE h = nullptr;
        if (DoAllocStmt(conn, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
    }
    DESC* NewDesc() {
        SQLHANDLE h = nullptr;
        if (DoAllocDesc(conn, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<DESC*>(hdl_Lookup(&Drv().descTable, HandleId(h)));
    }

    StmtScript script;
    STMT* stmt = nullptr;
};

std::vector<uint16_t> BoundColumns(const STMT* s) {
    std::vector<uint16_t> out;
    for (const BINDCOL& b : s->boundCols)
        out.push_back(b.column);
    return out;
}

std::vector<uint16_t> BoundParams(STMT* s) {
    std::vector<uint16_t> out;
    for (uint16_t n = 1; n <= s->params.size(); ++n)
        if (StmtGetParam(s, n)->number != 0)
            out.push_back(n);
    return out;
}

// The first look-up loads the descriptions and is answered from them; a failed load is
// not taken for an empty list and is tried again.
TEST_F(StmtTest, ParameterDescriptionsLoadBeforeTheRangeCheck) {
    script.params = 2;
    const COLDESC* d = StmtGetParamDesc(stmt, 2);
    ASSERT_NE(d, nullptr) << stmt->diag.errCode;
    EXPECT_STREQ(d->name, "p");
    EXPECT_EQ(StmtGetParamDesc(stmt, 3), nullptr);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_PARAMETER_NUMBER);
    EXPECT_EQ(StmtGetParamDesc(stmt, 0), nullptr);
    EXPECT_EQ(script.describeParamsCalls, 1);

    StmtFreeParamDescs(stmt);
    script.describeParamsRcs = {0, 43};
    script.describeParamsCalls = 1;  // the next load fails
    stmt->diag.errCode = 0;
    EXPECT_EQ(StmtGetParamDesc(stmt, 1), nullptr);
    EXPECT_EQ(stmt->diag.errCode, 43);
    EXPECT_FALSE(stmt->paramDescsLoaded);
    EXPECT_NE(StmtGetParamDesc(stmt, 1), nullptr);
    EXPECT_TRUE(stmt->paramDescsLoaded);
    EXPECT_EQ(script.describeParamsCalls, 3);
}

// Messages of the agent statement, then of the agent connection, each with the native
// code the agent gave it (the scripted agent numbers each list from 100).
TEST_F(StmtTest, AgentMessagesKeepTheirOwnNativeCodes) {
    fake.errors[kFakeStmt] = {"first", "second", "third"};
    fake.errors[kFakeConn] = {"connection"};
    EXPECT_TRUE(StmtGetAgentErrors(stmt));
    std::vector<std::pair<std::string, int32_t>> got;
    for (const ERRMSG& m : stmt->diag.messages)
        got.emplace_back(m.text, m.native);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int32_t>>{
                       {"first", 100}, {"second", 101}, {"third", 102}, {"connection", 100}}));
    stmt->diag.messages.clear();
    EXPECT_FALSE(StmtGetAgentErrors(stmt));
}

// The count and the look-ups skip the same columns: only "*" followed by I, O, B or U
// marks a column the agent added.
TEST_F(StmtTest, HiddenColumnsAreSkippedByCountAndLookUpAlike) {
    script.columns = {"*I1", "A", "*O2", "B", "*B3", "*U4", "C", "*", "*X"};
    const std::vector<std::string> visible = {"A", "B", "C", "*", "*X"};
    SQLSMALLINT n = -1;
    ASSERT_EQ(DoNumResultCols(stmt, CountArgs{&n}), SQL_SUCCESS);
    ASSERT_EQ(n, static_cast<SQLSMALLINT>(visible.size()));
    for (uint16_t i = 1; i <= visible.size(); ++i) {
        const COLDESC* d = StmtGetColDesc(stmt, i);
        ASSERT_NE(d, nullptr) << i;
        EXPECT_EQ(d->name, visible[i - 1u]);
    }
    for (uint16_t bad : {uint16_t{0}, static_cast<uint16_t>(visible.size() + 1)}) {
        stmt->diag.errCode = 0;
        EXPECT_EQ(StmtGetColDesc(stmt, bad), nullptr) << bad;
        EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_COLUMN_NUMBER);
    }
}

// Column 0 with bookmarks on is one description made once, gone with the caches (a leak
// shows under ASan) and made again afterwards.
TEST_F(StmtTest, OneBookmarkDescriptionFreedWithTheCaches) {
    script.columns = {"A"};
    stmt->cursor.useBookmarks = SQL_UB_VARIABLE;
    const COLDESC* first = StmtGetColDesc(stmt, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, "BOOKMARK");
    EXPECT_EQ(StmtGetColDesc(stmt, 0), first);
    StmtFreeResultDescs(stmt);
    EXPECT_EQ(stmt->bookmarkDesc, nullptr);
    ASSERT_NE(StmtGetColDesc(stmt, 0), nullptr);
    EXPECT_STREQ(StmtGetColDesc(stmt, 1)->name, "A");
}

// A new binding never takes over data-at-execution pieces: the old ones go with the old
// binding, and pieces handed in with the new one are dropped.
TEST_F(StmtTest, RebindDropsHeldPieces) {
    PARAMREC p;
    p.number = 1;
    p.cType = SQL_C_CHAR;
    ASSERT_EQ(StmtSetParam(stmt, p), 0);
    StmtGetParam(stmt, 1)->pieces = {{std::string(1000, 'x')}, {"y"}};
    p.pieces = {{"stale"}};
    ASSERT_EQ(StmtSetParam(stmt, p), 0);
    EXPECT_TRUE(StmtGetParam(stmt, 1)->pieces.empty());

    BINDCOL c;
    c.column = 2;
    ASSERT_EQ(StmtBindColAdd(stmt, c), 0);
    StmtGetBoundCol(stmt, 2)->pieces = {{std::string(1000, 'x')}};
    ASSERT_EQ(StmtBindColAdd(stmt, c), 0);
    EXPECT_TRUE(StmtGetBoundCol(stmt, 2)->pieces.empty());
    EXPECT_EQ(stmt->boundCols.size(), 1u);
}

// The size is kept in 32 bits: anything larger is refused, not cut, through SQLParamOptions
// and through an APD's array size alike.
TEST_F(StmtTest, ParameterSetSizeAbove32BitsIsRefused) {
    conn->cn_hasParamOp = 1;
    struct Case {
        SQLULEN rows;
        int rc;
    } cases[] = {{1, 0}, {UINT32_MAX, 0}, {0, ERR_ROW_VALUE_OUT_OF_RANGE},
                 {SQLULEN{UINT32_MAX} + 1, ERR_ROW_VALUE_OUT_OF_RANGE},
                 {SQLULEN{UINT32_MAX} + 5, ERR_ROW_VALUE_OUT_OF_RANGE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        stmt->paramSetSize = 7;
        stmt->diag.errCode = 0;
        EXPECT_EQ(DoParamOptions(stmt, ParamOptionsArgs{c.rows, nullptr}), c.rc == 0 ? SQL_SUCCESS : SQL_ERROR);
        EXPECT_EQ(stmt->diag.errCode, c.rc);
        EXPECT_EQ(stmt->paramSetSize, c.rc == 0 ? c.rows : 7u);

        stmt->paramSetSize = 7;
        DESC* apd = NewDesc();
        ASSERT_NE(apd, nullptr);
        apd->type = DESC_APD;
        apd->arraySize = c.rows;
        EXPECT_EQ(StmtApplyAPD(stmt, apd), c.rc);
        EXPECT_EQ(stmt->paramSetSize, c.rc == 0 ? c.rows : 7u);
        DescFree(apd);
    }
}

// An explicit ARD or APD binds exactly what it binds; freeing it brings back the implicit
// descriptor, whose bindings replace the explicit ones.
TEST_F(StmtTest, ApplicationDescriptorReplacesTheBindings) {
    int buf[4] = {};
    for (uint16_t n : {1, 2, 3}) {
        BINDCOL c;
        c.column = n;
        c.data = &buf[n];
        StmtBindColAdd(stmt, c);
        PARAMREC p;
        p.number = n;
        p.data = &buf[n];
        StmtSetParam(stmt, p);
    }

    DESC* ard = NewDesc();
    DESC* apd = NewDesc();
    ASSERT_TRUE(ard != nullptr && apd != nullptr);
    ard->type = DESC_ARD;
    apd->type = DESC_APD;
    DescGrowRecs(ard, 4);
    DescGrowRecs(apd, 4);
    ard->recs[2].data = &buf[2];
    ard->recs[4].data = &buf[0];
    apd->recs[3].data = &buf[3];
    apd->recs[3].conciseType = SQL_C_SLONG;  // the IPD gives no type for SQL_C_DEFAULT to follow

    stmt->ard = ard;
    stmt->apd = apd;
    ASSERT_EQ(StmtApplyARD(stmt, ard), 0);
    ASSERT_EQ(StmtApplyAPD(stmt, apd), 0);
    EXPECT_EQ(BoundColumns(stmt), (std::vector<uint16_t>{2, 4}));
    EXPECT_EQ(BoundParams(stmt), (std::vector<uint16_t>{3}));

    DescFree(ard);
    DescFree(apd);
    EXPECT_EQ(stmt->ard, stmt->implicitArd);
    EXPECT_EQ(stmt->apd, stmt->implicitApd);
    EXPECT_TRUE(stmt->boundCols.empty());
    EXPECT_TRUE(BoundParams(stmt).empty());
}

// A parameter applied from descriptors takes its column size and decimal digits where
// SQLBindParameter stores them for its type.
TEST_F(StmtTest, ParameterSizeAndDigitsFromTheIpd) {
    struct Case {
        int16_t type;
        SQLULEN length;
        int16_t precision, scale;
        SQLULEN size;
        int16_t digits;
    } cases[] = {
        {SQL_TYPE_DATE, 10, 0, 0, 10, 0},       {SQL_TYPE_TIME, 8, 0, 0, 8, 0},
        {SQL_TYPE_TIMESTAMP, 26, 6, 0, 26, 6},  {SQL_TIMESTAMP, 23, 3, 0, 23, 3},
        {SQL_NUMERIC, 0, 12, 4, 12, 4},         {SQL_VARCHAR, 30, 0, 0, 30, 0},
        {SQL_INTEGER, 0, 10, 0, 10, 0},
    };
    int value = 0;
    DESC* apd = stmt->implicitApd;
    DescGrowRecs(apd, 1);
    DescGrowRecs(stmt->ipd, 1);
    apd->recs[1].data = &value;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        DESCREC& ipd = stmt->ipd->recs[1];
        ipd.conciseType = c.type;
        ipd.length = c.length;
        ipd.precision = c.precision;
        ipd.scale = c.scale;
        ASSERT_EQ(StmtApplyAPD(stmt, apd), 0);
        const PARAMREC* p = StmtGetParam(stmt, 1);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->sqlType, c.type);
        EXPECT_EQ(p->columnSize, c.size);
        EXPECT_EQ(p->scale, c.digits);
    }
}

}  // namespace
