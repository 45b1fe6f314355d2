// Seek windows of dynamic and mixed cursors over the embedded server, with a recording table
// between the cursor library and the agent: the exact seek texts and parameter rows of each
// move, the predicate at a NULL bound under each null collation, relative moves that keep
// part of what they read, rowsets that keep changing under the seek, and the decisions of a
// mixed cursor's key window.
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

constexpr int16_t kNext = 1, kFirst = 2, kLast = 3, kPrior = 4, kRelative = 6;

// Rows 1..12 of s: v repeats, and ids 3, 7 and 11 have no v (NULLs sort high).
//   ORDER BY v, id: 2 a, 6 a, 10 a, 1 b, 5 b, 9 b, 4 c, 8 c, 12 c, 3 -, 7 -, 11 -
const char* const kValues[] = {"b", "a", nullptr, "c"};
const Strings kOrderByV = {"2", "6", "10", "1", "5", "9", "4", "8", "12", "3", "7", "11"};

class KsSeek : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        AnnounceLibrary();
        ASSERT_EQ(Exec("CREATE TABLE s (id INTEGER NOT NULL PRIMARY KEY, v VARCHAR(20))"), 0);
        for (int i = 1; i <= 12; ++i) {
            const char* v = kValues[(i - 1) % 4];
            const std::string value = v != nullptr ? std::string("'") + v + "'" : "NULL";
            ASSERT_EQ(Exec(("INSERT INTO s VALUES (" + std::to_string(i) + ", " + value + ")").c_str()), 0);
        }
        before = SCR_SetAgentTable(rt.Table());
    }
    void TearDown() override {
        SCR_SetAgentTable(before);
        LibraryTest::TearDown();
    }

    // A cursor of the type over sql, prepared and executed; keysetSize > 0 makes a keyset
    // cursor mixed.
    void Open(int32_t type, int32_t rowset, const char* sql, int32_t keysetSize = 0) {
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_CURSOR_TYPE, &type), 0);
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_ROWSET_SIZE, &rowset), 0);
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_KEYSET_SIZE, &keysetSize), 0);
        ASSERT_EQ(lib->DRV_Prepare(stmt, sql), 0);
        ASSERT_EQ(lib->DRV_Execute(stmt), 0) << rt.Render();
        rt.Clear();
    }
    // One move: the rowset's first column, or the code.
    int Move(int16_t orientation, int32_t offset, Strings* values) {
        DS_ROWSET* rs = nullptr;
        uint32_t fetched = 0;
        int32_t count = 0;
        const int rc = lib->DRV_ExtendedFetch(stmt, &rs, offset, &fetched, &count, orientation);
        values->clear();
        if (rs != nullptr && rs->rows != nullptr)
            for (const auto& r : exectest::Rows(*rs->rows))
                values->push_back(r.at(0));
        ds_RowsetFree(&rs);
        return rc;
    }
    Strings Move(int16_t orientation, int32_t offset = 0) {
        Strings values;
        EXPECT_EQ(Move(orientation, offset, &values), 0) << rt.Render();
        return values;
    }
    // The seeks prepared since the last Clear, and the parameter rows they ran with.
    Strings Seeks() const {
        Strings out;
        for (const rec::RecordedCall& c : rt.CallsOf(11))
            if (c.handle == Cursor()->aux1 && c.text)
                out.push_back(sqltest::Collapsed(*c.text));
        return out;
    }
    std::vector<Strings> SeekParams() const {
        std::vector<Strings> out;
        for (const rec::RecordedCall& c : rt.CallsOf(12))
            if (c.handle == Cursor()->aux1 && c.values && !c.values->rows.empty())
                out.push_back(c.values->rows[0]);
        return out;
    }
    SCS_STMT* Cursor() const { return scs_FindStmt(stmt); }

    rec::RecordingTable rt{&OA_AgentOpTable};
    const OA_OPTABLE* before = nullptr;
};

Strings Slice(const Strings& all, size_t from, size_t n) {
    return Strings(all.begin() + static_cast<std::ptrdiff_t>(from),
                   all.begin() + static_cast<std::ptrdiff_t>(std::min(all.size(), from + n)));
}

// Each move of a dynamic cursor over ORDER BY v (nullable, repeated): the seek it prepares,
// the bound values it passes and the rows it returns. NULLs sort high: a NULL bound going
// forward keeps only its ties, going back takes every value.
TEST_F(KsSeek, EachMoveSeeksFromTheWindowEdge) {
    const std::string head = "SELECT \"id\", v FROM s";
    const struct {
        int16_t orientation;
        int32_t offset;
        const char* seek;
        Strings params;
        size_t first;  // the rowset's first row in kOrderByV
    } moves[] = {
        {kFirst, 0, " ORDER BY v, \"id\"", {}, 0},
        // Past the window's last row (10 a).
        {kNext, 0, " WHERE ( (v > ? OR v IS NULL) OR v = ? AND \"id\" > ? ) ORDER BY v, \"id\"", {"a", "a", "10"}, 3},
        // Inside the window, from its second row (5 b) itself.
        {kRelative, 1, " WHERE ( (v > ? OR v IS NULL) OR v = ? AND \"id\" >= ? ) ORDER BY v, \"id\"", {"b", "b", "5"}, 4},
        // Back from the window's first row, reading the rows in reverse.
        {kPrior, 0, " WHERE ( v < ? OR v = ? AND \"id\" < ? ) ORDER BY v DESC, \"id\" DESC", {"b", "b", "5"}, 1},
        {kLast, 0, " ORDER BY v DESC, \"id\" DESC", {}, 9},
        // From the NULL bound (3): back, every value sorts before it.
        {kRelative, -1, " WHERE ( v IS NOT NULL OR v IS NULL AND \"id\" < ? ) ORDER BY v DESC, \"id\" DESC", {"11"}, 8},
        // Forward from a bound with a value: the NULLs come after it.
        {kRelative, 0, " WHERE ( (v > ? OR v IS NULL) OR v = ? AND \"id\" >= ? ) ORDER BY v, \"id\"", {"c", "c", "12"}, 8},
        {kFirst, 0, " ORDER BY v, \"id\"", {}, 0},
        // A long move seeks past the window and keeps the last rows it read.
        {kRelative, 7, " WHERE ( (v > ? OR v IS NULL) OR v = ? AND \"id\" > ? ) ORDER BY v, \"id\"", {"a", "a", "10"}, 7},
        // From inside the NULLs going forward: the value term is dropped, only ties remain.
        {kNext, 0, " WHERE ( v IS NULL AND \"id\" > ? ) ORDER BY v, \"id\"", {"3"}, 10},
    };
    Open(SCS_DYNAMIC, 3, "SELECT id, v FROM s ORDER BY v");
    for (const auto& m : moves) {
        SCOPED_TRACE(std::to_string(m.orientation) + " " + std::to_string(m.offset));
        rt.Clear();
        EXPECT_EQ(Move(m.orientation, m.offset), Slice(kOrderByV, m.first, 3));
        EXPECT_EQ(Seeks(), (Strings{head + m.seek}));
        const std::vector<Strings> params = SeekParams();
        EXPECT_EQ(params.empty() ? Strings{} : params[0], m.params);
    }
}

// The predicate at a bound row whose v is NULL, under each null collation and direction:
// a term whose comparison would be with a NULL that sorts last is dropped, and the terms
// kept are joined without a dangling OR.
TEST_F(KsSeek, NullBoundUnderEachCollation) {
    Open(SCS_DYNAMIC, 3, "SELECT id, v FROM s ORDER BY v");
    ASSERT_EQ(Move(kLast), Slice(kOrderByV, 9, 3));  // the window is 3, 7, 11: every v NULL
    const struct {
        uint16_t collation;
        uint16_t orientation;
        int mode;
        const char* text;
        std::vector<int> params;  // columns of the bound row: 0 id, 1 v
    } cases[] = {
        {0, KS_SEEK_NEXT, 0, "( v IS NULL AND \"id\" > ? )", {0}},
        {0, KS_SEEK_PRIOR, 0, "( v IS NOT NULL OR v IS NULL AND \"id\" < ? )", {0}},
        {0, KS_SEEK_NEXT, 3, "( v IS NULL AND \"id\" >= ? )", {0}},
        {2, KS_SEEK_NEXT, 0, "( v IS NOT NULL OR v IS NULL AND \"id\" > ? )", {0}},
        {2, KS_SEEK_PRIOR, 1, "( v IS NULL AND \"id\" < ? )", {0}},
        {1, KS_SEEK_NEXT, 0, "( v IS NOT NULL OR v IS NULL AND \"id\" > ? )", {0}},
        {4, KS_SEEK_PRIOR, 0, "( v IS NOT NULL OR v IS NULL AND \"id\" < ? )", {0}},
    };
    SCS_STMT* cur = Cursor();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.collation) + " " + std::to_string(c.orientation) + " " + std::to_string(c.mode));
        cur->nullCollation = c.collation;
        std::string text;
        std::vector<int> params;
        ASSERT_EQ(KS_SeekPredicate(cur, c.orientation, c.mode, &text, &params), 0);
        EXPECT_EQ(sqltest::Collapsed(text), c.text);
        EXPECT_EQ(params, c.params);
    }
}

// RELATIVE -3 on a full window of five: seven rows read backwards from the row before the
// last, rows 2 to 6 of them kept and handed back in ascending order.
TEST_F(KsSeek, RelativeBackKeepsTheTargetRows) {
    Open(SCS_DYNAMIC, 5, "SELECT id FROM s ORDER BY id");
    ASSERT_EQ(Move(kLast), (Strings{"8", "9", "10", "11", "12"}));
    rt.Clear();
    EXPECT_EQ(Move(kRelative, -3), (Strings{"5", "6", "7", "8", "9"}));
    EXPECT_EQ(Seeks(), (Strings{"SELECT \"id\" FROM s WHERE ( id < ? ) ORDER BY id DESC"}));
    EXPECT_EQ(SeekParams(), (std::vector<Strings>{{"12"}}));
    int32_t asked = 0;
    for (const rec::RecordedCall& c : rt.CallsOf(19))
        if (c.handle == Cursor()->aux1)
            asked += c.fetchRows;
    EXPECT_EQ(asked, 7);
    EXPECT_EQ(Move(kRelative, -1), (Strings{"4", "5", "6", "7", "8"}));
    // Back past the first row: the first rowset.
    EXPECT_EQ(Move(kRelative, -2), (Strings{"2", "3", "4", "5", "6"}));
    EXPECT_EQ(Move(kRelative, -4), (Strings{"1", "2", "3", "4", "5"}));
}

// A fake agent whose block fetch on the library's rowset statement loses the last row every
// time: the rowset never matches its keys.
const OA_OPTABLE* gInner = nullptr;
uint32_t gLossy = 0;
int LossyFetch(uint32_t stmt, uint16_t rows, DATASET* out) {
    const int rc = gInner->DRV_Fetch(stmt, rows, out);
    if (rc == 0 && stmt == gLossy && out->rowsUsed > 0)
        --out->rowsUsed;
    return rc;
}

// Rows that keep changing between the seek and the keyed read: the same window is read three
// times, then IM920; the rowset holds none of the failed attempts' rows.
TEST_F(KsSeek, ThreeChangingReadsGiveTooManyUpdates) {
    Open(SCS_DYNAMIC, 3, "SELECT id FROM s ORDER BY id");
    ASSERT_EQ(Move(kFirst), (Strings{"1", "2", "3"}));
    OA_OPTABLE lossy = *rt.Table();
    gInner = rt.Table();
    gLossy = Cursor()->rowsetStmt;
    lossy.DRV_Fetch = LossyFetch;
    SCR_SetAgentTable(&lossy);
    rt.Clear();
    Strings values;
    EXPECT_EQ(Move(kNext, 0, &values), ERR_TOO_MANY_UPDATES_BY_OTHER_USERS);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(Seeks().size(), 3u);
    SCR_SetAgentTable(rt.Table());
    // The cursor goes on from the window the last attempt found.
    EXPECT_EQ(Move(kNext), (Strings{"7", "8", "9"}));
}

// A mixed cursor (keyset size 5, rowset 2) reads inside its key window while the rowset fits
// and seeks only when it leaves it.
TEST_F(KsSeek, MixedWindowDecisions) {
    Open(SCS_KEYSET, 2, "SELECT id FROM s ORDER BY id", 5);
    const struct {
        int16_t orientation;
        int32_t offset;
        Strings rows;
        bool seeks;
        int32_t mixedState;
    } steps[] = {
        {kFirst, 0, {"1", "2"}, true, -2},
        {kNext, 0, {"3", "4"}, false, -2},     // window 1-5 holds 3-4
        {kNext, 0, {"5", "6"}, true, -1},      // 5-6 leaves it: window 5-9
        {kRelative, 2, {"7", "8"}, false, -1},
        {kPrior, 0, {"5", "6"}, false, -1},
        // Back before the window: only four rows there, so the first window, from its third row.
        {kPrior, 0, {"3", "4"}, true, -2},
        {kFirst, 0, {"1", "2"}, false, -2},   // the window begins at the first row
        {kLast, 0, {"11", "12"}, true, -3},
        {kFirst, 0, {"1", "2"}, true, -2},
        {kLast, 0, {"11", "12"}, true, -3},
        {kPrior, 0, {"9", "10"}, false, -3},   // window 8-12 holds 9-10
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(std::to_string(st.orientation) + " " + std::to_string(st.offset));
        rt.Clear();
        EXPECT_EQ(Move(st.orientation, st.offset), st.rows);
        EXPECT_EQ(!Seeks().empty(), st.seeks) << rt.Render();
        EXPECT_EQ(Cursor()->mixedState, st.mixedState);
    }
    // Twelve rows never fit one window of five: the count stays unknown.
    EXPECT_EQ(Cursor()->rowCount, -1);
}

}  // namespace
