// Key-column discovery against the agent on the embedded server: which key each table
// gets from the three sources and the NOT NULL check, joins, the cache on the connection,
// failures of catalog calls, and the cache key.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/ks_keycols.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/esql92_fixture.h"
#include "tests/unit/scs_library_fixture.h"
#include "tests/unit/recording_optable.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

using Strings = std::vector<std::string>;

constexpr int kColumnsSlot = 26, kPrimaryKeysSlot = 28, kSpecialColumnsSlot = 31, kStatisticsSlot = 32;

// FROM items as the caller hands them over: resolved, each text as written.
struct Item {
    const char* catalog;
    const char* schema;
    const char* table;
    const char* alias;
};

class FromList {
public:
    FromList(std::initializer_list<Item> items) : array_(ut_ArrayNew(sizeof(SCR_TABLEREF))) {
        for (const Item& i : items) {
            SCR_TABLEREF ref{uh_StrDup(i.catalog), uh_StrDup(i.schema), uh_StrDup(i.table), uh_StrDup(i.alias)};
            ut_ArrayAppend(array_, &ref);
        }
    }
    ~FromList() { ut_ArrayFree(&array_, SCR_TableRefFree); }
    FromList(const FromList&) = delete;
    FromList& operator=(const FromList&) = delete;
    const UT_ARRAY* get() const { return array_; }

private:
    UT_ARRAY* array_;
};

// One table of the schema, in PUB, named as the catalog has it (quoted).
FromList Table(const char* quotedName) { return FromList{{"", "\"PUB\"", quotedName, ""}}; }

// A recording table between the library and the agent (or a changed copy of the agent's).
class Recorder {
public:
    explicit Recorder(const OA_OPTABLE& agent = OA_AgentOpTable) : agent_(agent), rec_(&agent_) {
        before_ = SCR_SetAgentTable(rec_.Table());
    }
    ~Recorder() { SCR_SetAgentTable(before_); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    rec::RecordingTable& rec() { return rec_; }
    size_t CatalogCalls() const {
        size_t n = 0;
        for (int slot = 25; slot <= 34; ++slot)
            n += rec_.Count(slot);
        return n;
    }

private:
    OA_OPTABLE agent_;
    rec::RecordingTable rec_;
    const OA_OPTABLE* before_ = nullptr;
};

// Column 1 NOT NULL primary key; a unique NOT NULL pair with a time fraction; a nullable
// unique index only; two unique indexes of which the first reported is nullable; no key;
// a key beside a nullable unique index; and a table whose name's "_" matches a look-alike
// with nullable columns of the same names.
const char* const kSchema[] = {
    "CREATE TABLE pk1 (id INTEGER NOT NULL PRIMARY KEY, v VARCHAR(10))",
    "CREATE TABLE uq1 (a INTEGER, code VARCHAR(5) NOT NULL, ts TIMESTAMP NOT NULL)",
    "CREATE UNIQUE INDEX uq1_k ON uq1 (code, ts)",
    "CREATE TABLE nul1 (a INTEGER, b INTEGER)",
    "CREATE UNIQUE INDEX nul1_a ON nul1 (a)",
    "CREATE TABLE two (a INTEGER, b NUMERIC(8,2) NOT NULL)",
    "CREATE UNIQUE INDEX two_a ON two (a)",
    "CREATE UNIQUE INDEX two_b ON two (b)",
    "CREATE TABLE nokey (a INTEGER)",
    "CREATE TABLE pk2 (id INTEGER NOT NULL PRIMARY KEY, n INTEGER)",
    "CREATE UNIQUE INDEX pk2_n ON pk2 (n)",
    "CREATE TABLE ORDER_LINES (ORDER_ID INTEGER NOT NULL, LINE_NO INTEGER NOT NULL, NOTE VARCHAR(10),"
    " PRIMARY KEY (ORDER_ID, LINE_NO))",
    "CREATE TABLE ORDERXLINES (ORDER_ID INTEGER, LINE_NO INTEGER)",
};

class KeyCols : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(cur->identQuote, '"');
        for (const char* sql : kSchema)
            ASSERT_EQ(lib->DRV_PrepareAndExecute(stmt, sql, nullptr, 0, nullptr), 0) << sql;
        ASSERT_EQ(KS_Ensure(cur), 0);
    }
    // "column:type:size:digits" of each key column.
    Strings Keys() const {
        Strings out;
        const UT_ARRAY* a = cur->keyset->keyCols;
        for (uint32_t i = 0; a != nullptr && i < a->count; ++i) {
            const auto& d = static_cast<const SCS_COLDESC*>(a->elements)[i];
            out.push_back(std::string(d.column) + ":" + std::to_string(d.sqlType) + ":" +
                          std::to_string(d.columnSize) + ":" + std::to_string(d.decimalDigits));
        }
        return out;
    }
    const SCS_COLDESC& Key(uint32_t i) const { return static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements)[i]; }

};

TEST_F(KeyCols, EachTableTakesTheFirstKeyWhoseColumnsAreAllNotNull) {
    struct Case {
        const char* table;
        int rc;
        Strings keys;
    };
    const Case cases[] = {
        {"\"pk1\"", 0, {"\"id\":4:10:0"}},
        // Settled by the best row identifier; the fraction of the time stays.
        {"\"uq1\"", 0, {"\"code\":12:5:0", "\"ts\":11:23:3"}},
        {"\"nul1\"", ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE, {}},
        // The first unique index reported is nullable: the second one; a NUMERIC keeps its scale.
        {"\"two\"", 0, {"\"b\":2:8:2"}},
        {"\"nokey\"", ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE, {}},
        // The best row identifier holds the nullable n: the primary key's index follows.
        {"\"pk2\"", 0, {"\"id\":4:10:0"}},
        // ORDERXLINES' nullable columns of the same names are not this table's.
        {"\"ORDER_LINES\"", 0, {"\"ORDER_ID\":4:10:0", "\"LINE_NO\":4:10:0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        FromList from = Table(c.table);
        EXPECT_EQ(KS_GetKeyColDescs(cur, from.get()), c.rc);
        EXPECT_EQ(Keys(), c.keys);
        EXPECT_EQ(cur->keyset->fromTableCount, 1);
    }
}

TEST_F(KeyCols, DescriptorsCarryTheFromItemAsWritten) {
    FromList from{{"", "\"PUB\"", "\"pk1\"", "p"}};
    ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
    ASSERT_EQ(cur->keyset->keyCols->count, 1u);
    const SCS_COLDESC& d = Key(0);
    EXPECT_STREQ(d.column, "\"id\"");
    EXPECT_STREQ(d.table, "\"pk1\"");
    EXPECT_STREQ(d.alias, "p");
    EXPECT_STREQ(d.owner, "\"PUB\"");
    EXPECT_STREQ(d.qualifier, "");
    EXPECT_EQ(d.itemKind, SCS_ITEM_COLUMN);
    EXPECT_EQ(d.orderPosition, 0);
    EXPECT_EQ(d.text, nullptr);

    // Without a quote character names stay bare, and bare table names are asked as they are.
    cur->identQuote = 0;
    FromList bare{{"", "PUB", "ORDER_LINES", ""}};
    ASSERT_EQ(KS_GetKeyColDescs(cur, bare.get()), 0);
    EXPECT_EQ(Keys(), (Strings{"ORDER_ID:4:10:0", "LINE_NO:4:10:0"}));
}

TEST_F(KeyCols, AJoinIsKeyedOnlyWhenEveryTableIs) {
    // FROM order, whichever source keyed each table.
    FromList both{{"", "\"PUB\"", "\"two\"", "x"}, {"", "\"PUB\"", "\"pk1\"", "y"}};
    ASSERT_EQ(KS_GetKeyColDescs(cur, both.get()), 0);
    EXPECT_EQ(Keys(), (Strings{"\"b\":2:8:2", "\"id\":4:10:0"}));
    EXPECT_STREQ(Key(0).alias, "x");
    EXPECT_STREQ(Key(1).alias, "y");
    EXPECT_EQ(cur->keyset->fromTableCount, 2);

    FromList keyless{{"", "\"PUB\"", "\"pk1\"", ""}, {"", "\"PUB\"", "\"nokey\"", ""}};
    EXPECT_EQ(KS_GetKeyColDescs(cur, keyless.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
    FromList keylessFirst{{"", "\"PUB\"", "\"nokey\"", ""}, {"", "\"PUB\"", "\"pk1\"", ""}};
    EXPECT_EQ(KS_GetKeyColDescs(cur, keylessFirst.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
}

TEST_F(KeyCols, ItemsWithoutATableHaveNoKeyAndAskNothing) {
    Recorder r;
    FromList derived{{"", "", "", "d"}};
    EXPECT_EQ(KS_GetKeyColDescs(cur, derived.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
    FromList quotedEmpty{{"", "\"PUB\"", "\"\"", ""}};
    EXPECT_EQ(KS_GetKeyColDescs(cur, quotedEmpty.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
    FromList none{};
    EXPECT_EQ(KS_GetKeyColDescs(cur, none.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
    EXPECT_EQ(r.CatalogCalls(), 0u);

    EXPECT_EQ(KS_GetKeyColDescs(cur, nullptr), ERR_GENERAL_ERROR);
    KSD* keyset = cur->keyset;
    cur->keyset = nullptr;
    EXPECT_EQ(KS_GetKeyColDescs(cur, none.get()), ERR_GENERAL_ERROR);
    EXPECT_EQ(KS_GetKeyColDescs_PKeys(cur, none.get()), ERR_GENERAL_ERROR);
    cur->keyset = keyset;
}

TEST_F(KeyCols, ASecondCallAsksTheCatalogNothingUntilTheCacheIsCleared) {
    Recorder r;
    FromList join{{"", "\"PUB\"", "\"two\"", ""}, {"", "\"PUB\"", "\"pk1\"", ""}};
    ASSERT_EQ(KS_GetKeyColDescs(cur, join.get()), 0);
    const Strings first = Keys();
    // SQLColumns once per table however many candidates it checked.
    EXPECT_EQ(r.rec().Count(kColumnsSlot), 2u);
    EXPECT_GT(r.CatalogCalls(), 2u);

    r.rec().Clear();
    ASSERT_EQ(KS_GetKeyColDescs(cur, join.get()), 0);
    EXPECT_EQ(Keys(), first);
    EXPECT_EQ(r.CatalogCalls(), 0u);

    KS_ClearKeyCache(conn);
    ASSERT_EQ(KS_GetKeyColDescs(cur, join.get()), 0);
    EXPECT_EQ(Keys(), first);
    EXPECT_GT(r.CatalogCalls(), 0u);

    // A table without a key is asked again each time: failures are not cached.
    FromList nokey = Table("\"nokey\"");
    EXPECT_EQ(KS_GetKeyColDescs(cur, nokey.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
    r.rec().Clear();
    EXPECT_EQ(KS_GetKeyColDescs(cur, nokey.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);
    EXPECT_GT(r.CatalogCalls(), 0u);
}

TEST_F(KeyCols, TheCacheIsKeptPerConnection) {
    FromList from = Table("\"pk1\"");
    ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
    uint32_t conn2 = 0, stmt2 = 0;
    ASSERT_EQ(Connect(&conn2), 0);
    ASSERT_EQ(lib->DRV_AllocStmt(conn2, &stmt2), 0);
    SCS_STMT* cur2 = scs_FindStmt(stmt2);
    ASSERT_EQ(KS_Ensure(cur2), 0);
    {
        Recorder r;
        ASSERT_EQ(KS_GetKeyColDescs(cur2, from.get()), 0);
        EXPECT_GT(r.CatalogCalls(), 0u);
        // Clearing the second connection's cache leaves the first one's.
        KS_ClearKeyCache(conn2);
        r.rec().Clear();
        ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
        EXPECT_EQ(r.CatalogCalls(), 0u);
    }
    EXPECT_EQ(lib->DRV_FreeStmt(stmt2), 0);
    EXPECT_EQ(lib->DRV_Disconnect(conn2), 0);
}

TEST_F(KeyCols, AFailingCatalogCallIsReturnedAndNothingIsCached) {
    // pk2 goes past the best row identifier (its n is nullable) to the unique indexes.
    struct Case {
        int slot;
        int code;
        int rc;
    };
    const Case cases[] = {
        {kStatisticsSlot, ERR_GENERAL_ERROR, ERR_GENERAL_ERROR},
        {kColumnsSlot, ERR_GENERAL_ERROR, ERR_GENERAL_ERROR},
        {kSpecialColumnsSlot, ERR_MEMORY_ALLOCATION_FAILURE, ERR_MEMORY_ALLOCATION_FAILURE},
        // The agent lacks the operation: the next source answers.
        {kStatisticsSlot, ERR_DRIVER_NOT_CAPABLE, 0},
        {kSpecialColumnsSlot, ERR_DRIVER_NOT_CAPABLE, 0},
    };
    FromList from = Table("\"pk2\"");
    for (const Case& c : cases) {
        SCOPED_TRACE(rec::SlotName(c.slot) + std::string(" ") + std::to_string(c.code));
        KS_ClearKeyCache(conn);
        Recorder r;
        r.rec().Inject({c.slot, c.code, 1, true, false});
        EXPECT_EQ(KS_GetKeyColDescs(cur, from.get()), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(Keys(), Strings{"\"id\":4:10:0"});
        }
        r.rec().ClearFailures();
        r.rec().Clear();
        ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
        EXPECT_EQ(Keys(), Strings{"\"id\":4:10:0"});
        EXPECT_EQ(r.CatalogCalls() == 0, c.rc == 0) << "cached only on success";
    }
}

TEST_F(KeyCols, AnAgentWithoutTheFirstTwoSourcesFallsBackToThePrimaryKey) {
    OA_OPTABLE agent = OA_AgentOpTable;
    agent.DRV_DDSpecialColumns = nullptr;
    agent.DRV_DDStatistics = nullptr;
    Recorder r(agent);
    FromList from = Table("\"uq1\"");  // its primary key here is its unique index
    ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
    EXPECT_EQ(Keys(), (Strings{"\"code\":12:5:0", "\"ts\":11:23:3"}));
    EXPECT_EQ(r.rec().Count(kPrimaryKeysSlot), 1u);
}

TEST_F(KeyCols, PrimaryKeysAloneServeAForwardOnlyCursor) {
    Recorder r;
    FromList from{{"", "\"PUB\"", "\"ORDER_LINES\"", ""}, {"", "\"PUB\"", "\"pk1\"", ""}};
    ASSERT_EQ(KS_GetKeyColDescs_PKeys(cur, from.get()), 0);
    EXPECT_EQ(Keys(), (Strings{"\"ORDER_ID\":4:10:0", "\"LINE_NO\":4:10:0", "\"id\":4:10:0"}));
    EXPECT_EQ(cur->keyset->fromTableCount, 2);
    EXPECT_EQ(r.rec().Count(kSpecialColumnsSlot) + r.rec().Count(kStatisticsSlot), 0u);

    // two's primary key answer is its first unique index, nullable: no key, although a
    // unique index would have served.
    FromList two = Table("\"two\"");
    EXPECT_EQ(KS_GetKeyColDescs_PKeys(cur, two.get()), ERR_NO_KEY_COLUMNS_FOUND_FOR_TABLE);

    // Nothing was cached.
    r.rec().Clear();
    ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
    EXPECT_GT(r.CatalogCalls(), 0u);
}

TEST_F(KeyCols, ANewAnalysisDropsTheKeysAndKeepsTheDescriptor) {
    FromList from = Table("\"pk1\"");
    ASSERT_EQ(KS_GetKeyColDescs(cur, from.get()), 0);
    KSD* keyset = cur->keyset;
    scs_CursorClearAnalysis(cur);
    EXPECT_EQ(cur->keyset, keyset);
    EXPECT_EQ(keyset->keyCols, nullptr);
    EXPECT_EQ(keyset->fromTableCount, 0);
    EXPECT_EQ(KS_Ensure(cur), 0);
    EXPECT_EQ(cur->keyset, keyset);
}

TEST(KsKeyCacheKey, EveryPartCountsWithItsLength) {
    auto key = [](std::initializer_list<Item> items) {
        FromList from(items);
        return KS_KeyCacheKey(from.get());
    };
    const auto base = key({{"", "AB", "C", ""}});
    EXPECT_EQ(base, key({{"", "AB", "C", "other alias"}}));
    EXPECT_NE(base, key({{"", "A", "BC", ""}}));
    EXPECT_NE(base, key({{"AB", "C", "", ""}}));
    EXPECT_NE(base, key({{"", "\"AB\"", "\"C\"", ""}}));  // quoted and bare are two entries
    EXPECT_NE(key({{"", "S", "T1", ""}, {"", "S", "T2", ""}}), key({{"", "S", "T2", ""}, {"", "S", "T1", ""}}));
    EXPECT_NE(key({{"", "S", "T", ""}}), key({{"", "S", "T", ""}, {"", "", "", ""}}));
}

}  // namespace
