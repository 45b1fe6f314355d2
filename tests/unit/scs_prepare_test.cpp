// Cursor preparation against the embedded server, with a recording table between the
// cursor library and the agent: what each statement and cursor request becomes, and which
// catalog calls it costs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/ks_keycols.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_prepare.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/esql92_fixture.h"
#include "tests/unit/scs_library_fixture.h"
#include "tests/unit/recording_optable.h"
#include "util/errcode.h"
#include "util/utarray.h"

namespace {

// The catalog slots (25-34).
size_t CatalogCalls(const rec::RecordingTable& rt) {
    size_t n = 0;
    for (int slot = 25; slot <= 34; ++slot)
        n += rt.Count(slot);
    return n;
}

class ScsPrepare : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        for (const char* sql : {"CREATE TABLE keyed (id INTEGER NOT NULL PRIMARY KEY, v VARCHAR(20))",
                                "CREATE TABLE nokey (a INTEGER, b VARCHAR(20))",
                                "CREATE TABLE other (id INTEGER NOT NULL PRIMARY KEY, w VARCHAR(20))"})
            ASSERT_EQ(Exec(sql), 0) << sql;
        before = SCR_SetAgentTable(rt.Table());
    }
    void TearDown() override {
        SCR_SetAgentTable(before);
        LibraryTest::TearDown();
    }

    void Ask(int32_t type, int32_t concurrency) {
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_CURSOR_TYPE, &type), 0);
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_CONCURRENCY, &concurrency), 0);
    }
    uint32_t Keys() const { return cur->keyset != nullptr && cur->keyset->keyCols != nullptr ? cur->keyset->keyCols->count : 0; }

    rec::RecordingTable rt{&OA_AgentOpTable};
    const OA_OPTABLE* before = nullptr;
};

// Statement x cursor type x concurrency -> the prepare's code, the cursor it leaves, the
// keys found and whether the catalog was asked.
TEST_F(ScsPrepare, TheDecisionTable) {
    // This agent offers no dynamic cursor yet (it answers keyset-driven): keyset requests
    // stand for both.
    constexpr int32_t FO = SCS_FORWARD_ONLY, KS = SCS_KEYSET, ST = SCS_STATIC;
    constexpr int32_t RO = SCS_READ_ONLY, LK = SCS_LOCK, VA = SCS_VALUES;
    const struct {
        const char* sql;
        int32_t type, concurrency;
        int rc;
        int32_t finalType, finalConcurrency;
        uint32_t keys;
        bool catalog;
    } cases[] = {
        {"SELECT id, v FROM keyed", FO, RO, 0, FO, RO, 0, false},
        {"SELECT id, v FROM keyed", ST, RO, 0, ST, RO, 0, false},
        {"SELECT v FROM keyed", KS, RO, 0, KS, RO, 1, true},
        {"SELECT v FROM keyed ORDER BY v", KS, VA, 0, KS, VA, 1, true},
        {"SELECT v FROM keyed", ST, LK, 0, ST, LK, 1, true},
        // An ORDER BY ordinal naming an expression matters only where keys order the rows.
        {"SELECT id + 1 FROM keyed ORDER BY 1", ST, LK, 0, ST, LK, 1, true},
        {"SELECT id + 1 FROM keyed ORDER BY 1", KS, RO, ERR_ORDERING_ON_AN_EXPRESSION_IS_NOT, KS, RO, 0, true},
        {"SELECT keyed.v, other.w FROM keyed, other WHERE keyed.id = other.id", KS, RO, 0, KS, RO, 2, true},
        {"SELECT a FROM nokey", KS, LK, 0, ST, RO, 0, true},
        {"SELECT keyed.v, nokey.b FROM keyed, nokey", KS, RO, 0, ST, RO, 0, true},
        {"SELECT v, COUNT(*) FROM keyed GROUP BY v", KS, RO, ERR_SELECT_STATEMENT_CONTAINS_A_GROUP_BY, KS, RO, 0,
         false},
        {"SELECT v FROM keyed UNION SELECT w FROM other", KS, RO, ERR_SELECT_STATEMENT_CONTAINS_A_UNION_CLAUSE, KS,
         RO, 0, false},
        {"SELECT keyed.v FROM keyed LEFT OUTER JOIN other ON keyed.id = other.id", KS, RO,
         ERR_OUTER_JOINS_ON_A_SCROLLABLE_CURSOR, KS, RO, 0, false},
        {"SELECT 1", KS, RO, ERR_SQL_STATEMENT_CAN_ONLY_BE_PREPARED, KS, RO, 0, false},
        {"SELECT v, COUNT(*) FROM keyed GROUP BY v", ST, LK, 0, ST, RO, 0, false},
        {"SELECT DISTINCT v FROM keyed", KS, RO, 0, ST, RO, 0, false},
        {"SELECT COUNT(*) FROM keyed", KS, RO, 0, ST, RO, 0, false},
        {"SELECT CAST(id AS VARCHAR(5)) FROM keyed", KS, RO, 0, ST, RO, 0, false},
        {"{call nothing}", KS, RO, 0, ST, RO, 0, false},
        {"CREATE TABLE x (a INTEGER)", KS, LK, 0, ST, RO, 0, false},
        {"INSERT INTO keyed VALUES (9, 'nine')", KS, LK, 0, KS, LK, 0, false},
        {"UPDATE keyed SET v = 'x' WHERE CURRENT OF c1", KS, LK, 0, KS, LK, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sql << " type " << c.type << " concurrency " << c.concurrency);
        Ask(c.type, c.concurrency);
        // Each case on a fresh connection cache, so that every catalog call shows.
        scs_ClearConnCaches(conn);
        rt.Clear();
        const int rc = lib->DRV_Prepare(stmt, c.sql);
        if (rc == ERR_SYNTAX_ERROR_OR_ACCESS || rc == ERR_TABLE_OR_VIEW_NOT_FOUND) {
            // The server refuses a positioned statement or an unknown procedure before the
            // library is asked: nothing to decide.
            EXPECT_EQ(CatalogCalls(rt), 0u);
            continue;
        }
        EXPECT_EQ(rc, c.rc) << rt.Render();
        EXPECT_EQ(cur->opts->cursorType, c.finalType);
        EXPECT_EQ(cur->opts->concurrency, c.finalConcurrency);
        EXPECT_EQ(Keys(), c.keys);
        EXPECT_EQ(CatalogCalls(rt) != 0, c.catalog) << rt.Render();
        if (c.type == FO) {
            EXPECT_EQ(cur->flags & SCS_ANALYSED, 0);
        }
    }
}

// The connection keeps what it learnt: a second cursor over the same tables asks the
// catalog nothing, until DDL runs on the connection.
TEST_F(ScsPrepare, ASecondCursorAsksTheCatalogNothingUntilDdl) {
    Ask(SCS_KEYSET, SCS_LOCK);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT v FROM keyed"), 0);
    EXPECT_NE(CatalogCalls(rt), 0u);
    EXPECT_EQ(Keys(), 1u);

    uint32_t second = 0;
    ASSERT_EQ(lib->DRV_AllocStmt(conn, &second), 0);
    int32_t keyset = SCS_KEYSET;
    ASSERT_EQ(lib->DRV_SetProperty(second, OA_PROP_CURSOR_TYPE, &keyset), 0);
    rt.Clear();
    ASSERT_EQ(lib->DRV_Prepare(second, "SELECT k.v FROM keyed k WHERE k.id > 1"), 0);
    EXPECT_EQ(CatalogCalls(rt), 0u) << rt.Render();
    const SCS_STMT* other = scs_FindStmt(second);
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other->keyset, nullptr);
    ASSERT_EQ(other->keyset->keyCols->count, 1u);
    // The cached key is written with this statement's alias.
    EXPECT_STREQ(static_cast<const SCS_COLDESC*>(other->keyset->keyCols->elements)[0].alias, "k");

    ASSERT_EQ(lib->DRV_PrepareAndExecute(second, "CREATE UNIQUE INDEX kv ON keyed (v)", nullptr, 0, nullptr), 0);
    ASSERT_EQ(lib->DRV_SetProperty(second, OA_PROP_CURSOR_TYPE, &keyset), 0);
    rt.Clear();
    ASSERT_EQ(lib->DRV_Prepare(second, "SELECT v FROM keyed"), 0);
    EXPECT_NE(CatalogCalls(rt), 0u);
    EXPECT_EQ(lib->DRV_FreeStmt(second), 0);
}

// A request the library changed comes back at the next prepare, unless the application
// asked for another cursor meanwhile: that one is the request then.
TEST_F(ScsPrepare, AChangedRequestComesBackUnlessTheApplicationAskedAgain) {
    Ask(SCS_KEYSET, SCS_LOCK);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT a FROM nokey"), 0);
    EXPECT_EQ(cur->opts->cursorType, SCS_STATIC);
    EXPECT_EQ(cur->opts->concurrency, SCS_READ_ONLY);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT v, COUNT(*) FROM keyed GROUP BY v"), ERR_SELECT_STATEMENT_CONTAINS_A_GROUP_BY);
    EXPECT_EQ(cur->opts->cursorType, SCS_KEYSET);
    EXPECT_EQ(cur->opts->concurrency, SCS_LOCK);

    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT a FROM nokey"), 0);
    Ask(SCS_FORWARD_ONLY, SCS_READ_ONLY);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT v, COUNT(*) FROM keyed GROUP BY v"), 0);
    EXPECT_EQ(cur->opts->cursorType, SCS_FORWARD_ONLY);
    EXPECT_EQ(cur->opts->concurrency, SCS_READ_ONLY);
}

// How far a seek orders: the ORDER BY item that completes the key, else every item beside
// the key; and where the key stands in the ORDER BY.
TEST_F(ScsPrepare, OrderingColumnsOfAMixedCursor) {
    AnnounceLibrary();
    int32_t keysetSize = 10;
    ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_KEYSET_SIZE, &keysetSize), 0);
    const struct {
        const char* sql;
        uint16_t ordering;
        int32_t keyPosition;
    } cases[] = {
        {"SELECT v FROM keyed", 1, 0},
        {"SELECT v FROM keyed ORDER BY id", 1, 1},
        {"SELECT v FROM keyed ORDER BY v, id DESC", 2, 2},
        {"SELECT v FROM keyed ORDER BY v", 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Ask(SCS_KEYSET, SCS_READ_ONLY);
        ASSERT_EQ(lib->DRV_Prepare(stmt, c.sql), 0);
        EXPECT_EQ(cur->orderingColCount, c.ordering);
        ASSERT_EQ(Keys(), 1u);
        EXPECT_EQ(static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements)[0].orderPosition, c.keyPosition);
    }
}

TEST(ScsPrepareChecks, UpdatableAndKeysetableFromTheClauseFlags) {
    EXPECT_EQ(scs_CheckUpdatable(0), 0);
    EXPECT_EQ(scs_CheckUpdatable(SCR_F_ORDER_BY | SCR_F_WHERE), 0);
    EXPECT_EQ(scs_CheckUpdatable(SCR_F_TABLES | SCR_F_GROUP_BY), ERR_RESULT_SET_WAS_CREATED_BY_A);
    EXPECT_EQ(scs_CheckUpdatable(SCR_F_GROUP_BY | SCR_F_UNION), ERR_SELECT_STATEMENT_CONTAINS_A_GROUP_BY);
    EXPECT_EQ(scs_CheckUpdatable(SCR_F_UNION), ERR_SELECT_STATEMENT_CONTAINS_A_UNION_CLAUSE);
    EXPECT_EQ(scs_CheckUpdatable(SCR_F_SET_FUNCTION), ERR_SELECT_STATEMENT_CONTAINS_A_SCALAR_AGGREGATE);
    EXPECT_EQ(scs_CheckKeysetable(512), ERR_RESULT_SET_WAS_NOT_GENERATED_BY);
    EXPECT_EQ(scs_CheckKeysetable(SCR_F_TABLES | SCR_F_SET_FUNCTION), 0);
    EXPECT_EQ(scs_CheckKeysetable(SCR_F_UNION), ERR_SELECT_STATEMENT_CONTAINS_A_UNION_CLAUSE);
    for (const char* ddl : {"create table t (a int)", "  DROP INDEX i", "alter table t add b int", "Grant select on t to u"})
        EXPECT_TRUE(scs_IsDdl(ddl)) << ddl;
    for (const char* other : {"select 1", "insert into created values (1)", "dropped", "", "updates"})
        EXPECT_FALSE(scs_IsDdl(other)) << other;
}

}  // namespace
