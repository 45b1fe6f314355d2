// Keyset-driven cursors over the embedded server, with a recording table between the cursor
// library and the agent: the exact SQL the keyset and the rowsets are read with, the
// parameter rows that carry the keys beside the application's values, and the rowset starts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/ks_keyset.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/recording_optable.h"
#include "tests/unit/scs_library_fixture.h"
#include "tests/unit/sql_text.h"
#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

using Strings = std::vector<std::string>;

class KsKeyset : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        AnnounceLibrary();
        ASSERT_EQ(Exec("CREATE TABLE one (id INTEGER NOT NULL PRIMARY KEY, v VARCHAR(20))"), 0);
        ASSERT_EQ(Exec("CREATE TABLE two (a INTEGER NOT NULL, b INTEGER NOT NULL, v VARCHAR(20), PRIMARY KEY (a, b))"),
                  0);
        for (int i = 1; i <= 100; ++i) {
            const std::string n = std::to_string(i);
            ASSERT_EQ(Exec(("INSERT INTO one VALUES (" + n + ", 'v" + n + "')").c_str()), 0);
            ASSERT_EQ(Exec(("INSERT INTO two VALUES (" + std::to_string(i % 4) + ", " + n + ", 'w" + n + "')").c_str()),
                      0);
        }
        before = SCR_SetAgentTable(rt.Table());
    }
    void TearDown() override {
        SCR_SetAgentTable(before);
        LibraryTest::TearDown();
    }

    void Keyset(int32_t rowset) {
        int32_t keyset = SCS_KEYSET;
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_CURSOR_TYPE, &keyset), 0);
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_ROWSET_SIZE, &rowset), 0);
    }
    // The rowset at row (as the ODBC side's positioning hands it over): its first column's
    // values, or the code.
    int Fetch(int32_t row, Strings* values) {
        DS_ROWSET* rs = nullptr;
        uint32_t fetched = 0;
        int32_t count = 0;
        const int rc = lib->DRV_ExtendedFetch(stmt, &rs, row, &fetched, &count, 5);
        values->clear();
        if (rs != nullptr && rs->rows != nullptr)
            for (const auto& r : exectest::Rows(*rs->rows))
                values->push_back(r.at(0));
        ds_RowsetFree(&rs);
        return rc;
    }
    // The texts prepared on the library's own statements, and the parameter rows they got.
    Strings Prepared() const {
        Strings out;
        for (const rec::RecordedCall& c : rt.CallsOf(11))
            if (c.handle != stmt && c.text)
                out.push_back(sqltest::Collapsed(*c.text));
        return out;
    }
    std::vector<Strings> ParamRows() const {
        std::vector<Strings> out;
        for (const rec::RecordedCall& c : rt.CallsOf(12))
            if (c.handle != stmt && c.values && !c.values->rows.empty())
                out.push_back(c.values->rows[0]);
        return out;
    }

    rec::RecordingTable rt{&OA_AgentOpTable};
    const OA_OPTABLE* before = nullptr;
};

// The keyset query orders by the application's ORDER BY and the key; the rowset query keeps
// the select list, adds the key as hidden columns and puts the key predicate at the head of
// the WHERE clause, the application's condition behind it.
TEST_F(KsKeyset, TheKeysetAndRowsetQueries) {
    const struct {
        const char* sql;
        const char* keysetQuery;
        const char* rowsetQuery;
    } cases[] = {
        {"SELECT v FROM one ORDER BY v", "SELECT \"id\" FROM one ORDER BY v, \"id\"",
         "SELECT v, \"id\" FROM one WHERE ( \"id\" = ? OR \"id\" = ? ) ORDER BY v"},
        {"SELECT TOP 50 v FROM one WHERE id < 90", "SELECT TOP 50 \"id\" FROM one WHERE id < 90 ORDER BY \"id\"",
         "SELECT v, \"id\" FROM one WHERE ( \"id\" = ? OR \"id\" = ? ) AND (id < 90)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Keyset(2);
        ASSERT_EQ(lib->DRV_Prepare(stmt, c.sql), 0);
        rt.Clear();
        ASSERT_EQ(lib->DRV_Execute(stmt), 0) << rt.Render();
        Strings values;
        ASSERT_EQ(Fetch(1, &values), 0) << rt.Render();
        EXPECT_EQ(Prepared(), (Strings{c.keysetQuery, c.rowsetQuery}));
        ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    }
}

// A rowset of 25 rows over a two-column key: 15 key tuples fit beside no application
// parameter (30 at most), so two executions of one prepared query, the second repeating
// the 25th key in its last five tuples. A new rowset size builds the query again.
TEST_F(KsKeyset, KeysGoInBlocksAndTheLastKeyFillsTheBlock) {
    Keyset(25);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT v FROM two ORDER BY b"), 0);
    ASSERT_EQ(lib->DRV_Execute(stmt), 0);
    rt.Clear();
    Strings values;
    ASSERT_EQ(Fetch(1, &values), 0);
    ASSERT_EQ(values.size(), 25u);
    EXPECT_EQ(values.front(), "w1");
    EXPECT_EQ(values.back(), "w25");
    EXPECT_EQ(Prepared().size(), 1u);
    const std::vector<Strings> rows = ParamRows();
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[1].size(), 30u);
    EXPECT_EQ(rows[0][0], "1");   // a of key 1
    EXPECT_EQ(rows[0][1], "1");   // b of key 1
    EXPECT_EQ(rows[1][18], "1");  // key 25 = (1, 25) from tuple 10 on
    EXPECT_EQ(rows[1][19], "25");
    EXPECT_EQ(rows[1][28], "1");
    EXPECT_EQ(rows[1][29], "25");

    int32_t size = 10;
    ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_ROWSET_SIZE, &size), 0);
    rt.Clear();
    ASSERT_EQ(Fetch(11, &values), 0);
    EXPECT_EQ(values.front(), "w11");
    ASSERT_EQ(Prepared().size(), 1u);
    EXPECT_NE(Prepared()[0].find("? OR"), std::string::npos);
}

// The application's markers keep their values: one in the select list stays in the rowset
// query only, one in the WHERE clause follows the key tuples in both.
TEST_F(KsKeyset, TheApplicationsParametersGoAroundTheKeys) {
    Keyset(2);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT v, ? FROM one WHERE id > ? ORDER BY id"), 0);
    ASSERT_EQ(lib->DRV_SetParamValues(stmt, exectest::Params({{"label", 97}})), 0);
    rt.Clear();
    ASSERT_EQ(lib->DRV_Execute(stmt), 0) << rt.Render();
    EXPECT_EQ(cur->rowCount, 3);
    Strings values;
    ASSERT_EQ(Fetch(1, &values), 0) << rt.Render();
    EXPECT_EQ(values, (Strings{"v98", "v99"}));
    EXPECT_EQ(ParamRows(), (std::vector<Strings>{{"97"}, {"label", "98", "99", "97"}}));
}

// Rowset starts over 100 keys, rowset size 10: the last rowset, one from the end, and
// either side of the keys.
TEST_F(KsKeyset, RowsetStarts) {
    Keyset(10);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT id FROM one ORDER BY id"), 0);
    ASSERT_EQ(lib->DRV_Execute(stmt), 0);
    const struct {
        int32_t row;
        int rc;
        const char* first;
        int32_t position;
    } cases[] = {
        {0, 0, "91", 1},
        {-1, 0, "100", 1},
        {101, ERR_ATTEMPT_TO_FETCH_BEYOND_END_OF, nullptr, SCS_POS_AFTER_END},
        {-101, ERR_ATTEMPT_TO_FETCH_BEFORE_START_OF, nullptr, SCS_POS_BEFORE_START},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        Strings values;
        EXPECT_EQ(Fetch(c.row, &values), c.rc);
        if (c.first != nullptr) {
            ASSERT_FALSE(values.empty());
            EXPECT_EQ(values.front(), c.first);
        }
        EXPECT_EQ(cur->position, c.position);
    }
}

}  // namespace
