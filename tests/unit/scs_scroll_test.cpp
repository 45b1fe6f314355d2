// Scroll positioning: the rowset arithmetic as a table, and scs_ScrollPosition on the ODBC
// side's record through the library's table over the agent on the embedded server (a
// static read-only cursor, so every rowset comes from the library's snapshot).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_scroll.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "tests/unit/scs_library_fixture.h"
#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

constexpr uint16_t kNext = 1, kFirst = 2, kLast = 3, kPrior = 4, kAbsolute = 5, kRelative = 6, kBookmark = 8;
constexpr int32_t kAfterEnd = SCS_POS_AFTER_END;

TEST(ScsScroll, RowsetArithmetic) {
    struct Case {
        const char* what;
        uint16_t orientation;
        int32_t offset, start, count, size, lastSize;
        int32_t cls, target;
    } cases[] = {
        {"NEXT inside", kNext, 0, 1, 10, 3, 3, SCS_CLASS_INSIDE, 4},
        {"NEXT to a short last rowset", kNext, 0, 7, 10, 3, 3, SCS_CLASS_LAST_PARTIAL, 10},
        {"NEXT past a known end", kNext, 0, 10, 10, 3, 3, SCS_CLASS_AFTER_END, 13},
        {"NEXT after the end", kNext, 0, kAfterEnd, 10, 3, 3, SCS_CLASS_AFTER_END, 14},
        {"NEXT with the count unknown", kNext, 0, 5, -1, 3, 3, SCS_CLASS_FORWARD, 8},
        {"NEXT moves by the previous size", kNext, 0, 4, 100, 10, 3, SCS_CLASS_INSIDE, 7},
        {"FIRST", kFirst, 0, 7, 10, 3, 3, SCS_CLASS_INSIDE, 1},
        {"LAST", kLast, 0, 1, 10, 3, 3, SCS_CLASS_INSIDE, 8},
        {"LAST with the count unknown", kLast, 0, 0, -1, 3, 3, SCS_CLASS_INSIDE, 0},
        {"LAST with R above 2N", kLast, 0, 1, 2, 6, 6, SCS_CLASS_INSIDE, 1},
        {"LAST of an empty result", kLast, 0, 0, 0, 3, 3, SCS_CLASS_INSIDE, 1},
        {"PRIOR inside", kPrior, 0, 7, 10, 3, 3, SCS_CLASS_INSIDE, 4},
        {"PRIOR from 2-4 overlaps the start", kPrior, 0, 2, 10, 3, 3, SCS_CLASS_OVERLAPS_START, -1},
        {"PRIOR from the first rowset", kPrior, 0, 1, 10, 3, 3, SCS_CLASS_BEFORE_START, -2},
        {"PRIOR before the start", kPrior, 0, 0, 10, 3, 3, SCS_CLASS_BEFORE_START, -3},
        {"ABSOLUTE 0", kAbsolute, 0, 4, 10, 3, 3, SCS_CLASS_BEFORE_START, 0},
        {"ABSOLUTE 5", kAbsolute, 5, 1, 10, 3, 3, SCS_CLASS_INSIDE, 5},
        {"ABSOLUTE past the end", kAbsolute, 11, 1, 10, 3, 3, SCS_CLASS_AFTER_END, 11},
        {"ABSOLUTE forward, count unknown", kAbsolute, 50, 0, -1, 3, 3, SCS_CLASS_FORWARD, 50},
        {"ABSOLUTE -3 of 10", kAbsolute, -3, 1, 10, 3, 3, SCS_CLASS_INSIDE, 8},
        {"ABSOLUTE -2 of 10", kAbsolute, -2, 1, 10, 3, 3, SCS_CLASS_LAST_PARTIAL, 9},
        {"ABSOLUTE -10 of 10", kAbsolute, -10, 4, 10, 3, 3, SCS_CLASS_INSIDE, 1},
        {"ABSOLUTE -11 of 10", kAbsolute, -11, 4, 10, 3, 3, SCS_CLASS_BEFORE_START, 0},
        {"ABSOLUTE -3 of 2", kAbsolute, -3, 1, 2, 3, 3, SCS_CLASS_OVERLAPS_START, 0},
        {"ABSOLUTE -4, count unknown", kAbsolute, -4, 0, -1, 3, 3, SCS_CLASS_FORWARD, -4},
        {"RELATIVE -2 after the end of 10", kRelative, -2, kAfterEnd, 10, 3, 3, SCS_CLASS_LAST_PARTIAL, 9},
        {"RELATIVE 2", kRelative, 2, 4, 10, 3, 3, SCS_CLASS_INSIDE, 6},
        {"RELATIVE back over the start", kRelative, -5, 4, 10, 3, 3, SCS_CLASS_OVERLAPS_START, -1},
        {"RELATIVE wholly before the start", kRelative, -6, 4, 10, 3, 3, SCS_CLASS_BEFORE_START, -2},
        {"RELATIVE back, count unknown", kRelative, -2, 4, -1, 3, 3, SCS_CLASS_INSIDE, 2},
        {"BOOKMARK is the positioning's to rewrite", kBookmark, 5, 1, 10, 3, 3, SCS_CLASS_FORWARD, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int32_t target = -99;
        EXPECT_EQ(scs_p_RowsetStart(c.orientation, c.offset, c.start, c.count, c.size, c.lastSize, &target), c.cls);
        EXPECT_EQ(target, c.target);
    }
}

// ---- scs_ScrollPosition over the library and the agent ---------------------------------------

class ScsScrollFetch : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        holder.ops = lib;
        ASSERT_EQ(lib->DRV_PrepareAndExecute(stmt, "CREATE TABLE t (i INTEGER)", nullptr, 0, nullptr), 0);
        for (int i = 1; i <= 10; ++i) {
            const std::string insert = "INSERT INTO t VALUES (" + std::to_string(i) + ")";
            ASSERT_EQ(lib->DRV_PrepareAndExecute(stmt, insert.c_str(), nullptr, 0, nullptr), 0);
        }
    }
    void TearDown() override {
        scs_FreeRowset(&app);
        LibraryTest::TearDown();
    }

    // A static read-only cursor over rows 1..rows with rowset size r, executed and not yet
    // fetched: the ODBC side's record as a fresh execute leaves it.
    void Open(int32_t rows, int32_t r) {
        scs_FreeRowset(&app);
        lib->DRV_CloseCursor(stmt);
        ASSERT_EQ(SetStmt(OA_PROP_CURSOR_TYPE, SCS_STATIC), 0);
        ASSERT_EQ(SetStmt(OA_PROP_ROWSET_SIZE, r), 0);
        const std::string sql = "SELECT i FROM t WHERE i <= " + std::to_string(rows) + " ORDER BY i";
        ASSERT_EQ(lib->DRV_Prepare(stmt, sql.c_str()), 0);
        ASSERT_EQ(lib->DRV_Execute(stmt), 0);
        scs_CursorInit(&app, stmt, conn, &holder, nullptr);
        app.cursorType = SCS_STATIC;
        app.rowsetSize = r;
        app.lastFetchRowsetSize = r;
        app.hasDynMixCursors = 1;
    }
    // The rowset size changed between fetches, as the statement-attribute setter does it.
    void Resize(int32_t r) {
        if ((app.flags & SCS_ROWSET_SIZE_CHANGED) == 0)
            app.lastFetchRowsetSize = app.rowsetSize;
        app.flags |= SCS_ROWSET_SIZE_CHANGED;
        app.rowsetSize = r;
        ASSERT_EQ(SetStmt(OA_PROP_ROWSET_SIZE, r), 0);
    }
    // Fetches and answers the rows' values; the fetched count must agree with the rowset.
    std::vector<std::string> Fetch(uint16_t orientation, int32_t offset, int expectRc = 0) {
        uint32_t fetched = 99;
        EXPECT_EQ(scs_ScrollPosition(&app, orientation, offset, &fetched), expectRc);
        std::vector<std::string> values;
        if (app.rowset != nullptr && app.rowset->rows != nullptr) {
            for (auto& row : exectest::Rows(*app.rowset->rows))
                values.push_back(row.at(0));
        }
        EXPECT_EQ(fetched, values.size());
        return values;
    }
    void ExpectNoData(uint16_t orientation, int32_t offset, int32_t position) {
        EXPECT_TRUE(Fetch(orientation, offset, ERR_NO_DATA_FOUND).empty());
        EXPECT_EQ(app.rowset, nullptr);
        EXPECT_EQ(app.position, position);
        EXPECT_EQ(app.rowsetStart, position);
    }
    int32_t Bookmark(uint32_t index) {
        int32_t b = -1;
        EXPECT_EQ(scs_RowBookmark(&app, index, &b), 0);
        return b;
    }
    int SetStmt(uint32_t code, int32_t v) { return lib->DRV_SetProperty(stmt, code, &v); }

    using V = std::vector<std::string>;
    OA_OPHOLDER holder{};
    SCS_CURSOR app{};  // the ODBC side's record of the statement's cursor
};

// The first fetch does not know the row count: a start counted from the end is resolved by
// the fetch, and the kept start is the real row, so NEXT and bookmarks go on from there.
TEST_F(ScsScrollFetch, AFirstFetchCountedFromTheEndKeepsTheRealStart) {
    Open(10, 3);
    EXPECT_EQ(Fetch(kLast, 0), (V{"8", "9", "10"}));
    EXPECT_EQ(app.rowCount, 10);
    EXPECT_EQ(app.position, 1);
    EXPECT_EQ(app.rowsetStart, 8);
    EXPECT_EQ(Bookmark(2), 10);
    ExpectNoData(kNext, 0, kAfterEnd);
    EXPECT_EQ(Fetch(kPrior, 0), (V{"8", "9", "10"}));  // PRIOR after the end is LAST

    Open(10, 3);
    EXPECT_EQ(Fetch(kAbsolute, -4), (V{"7", "8", "9"}));
    EXPECT_EQ(app.rowsetStart, 7);
    EXPECT_EQ(Bookmark(0), 7);
    EXPECT_EQ(Fetch(kNext, 0), (V{"10"}));
    EXPECT_EQ(app.rowsetStart, 10);

    Open(2, 3);
    EXPECT_EQ(Fetch(kAbsolute, -3), (V{"1", "2"}));  // overlaps the start: the first rowset
    EXPECT_EQ(app.rowsetStart, 1);

    Open(10, 3);
    ExpectNoData(kAbsolute, -11, SCS_POS_BEFORE_START);
    EXPECT_EQ(Fetch(kNext, 0), (V{"1", "2", "3"}));  // NEXT before the start is FIRST
}

TEST_F(ScsScrollFetch, MovesOverAKnownCount) {
    Open(10, 3);
    EXPECT_EQ(Fetch(kNext, 0), (V{"1", "2", "3"}));
    EXPECT_EQ(Fetch(kNext, 0), (V{"4", "5", "6"}));
    EXPECT_EQ(Fetch(kRelative, -2), (V{"2", "3", "4"}));
    EXPECT_EQ(Fetch(kPrior, 0), (V{"1", "2", "3"}));  // from 2-4 back over the start: the first rowset
    EXPECT_EQ(app.rowsetStart, 1);
    ExpectNoData(kPrior, 0, SCS_POS_BEFORE_START);
    ExpectNoData(kRelative, -1, SCS_POS_BEFORE_START);  // still before the start
    EXPECT_EQ(Fetch(kRelative, 9), (V{"9", "10"}));     // from before the start: ABSOLUTE 9
    ExpectNoData(kNext, 0, kAfterEnd);
    ExpectNoData(kRelative, 1, kAfterEnd);
    EXPECT_EQ(Fetch(kRelative, -2), (V{"9", "10"}));  // after the end: ABSOLUTE -2
    EXPECT_EQ(app.rowsetStart, 9);
    ExpectNoData(kAbsolute, 11, kAfterEnd);
    ExpectNoData(kAbsolute, 0, SCS_POS_BEFORE_START);
    ExpectNoData(kAbsolute, -11, SCS_POS_BEFORE_START);
    EXPECT_EQ(Fetch(kBookmark, 5), (V{"5", "6", "7"}));
    EXPECT_EQ(Fetch(kLast, 0), (V{"8", "9", "10"}));
}

TEST_F(ScsScrollFetch, ALastRowsetLargerThanTheResultStartsAtRowOne) {
    Open(2, 6);
    EXPECT_EQ(Fetch(kLast, 0), (V{"1", "2"}));  // count unknown
    EXPECT_EQ(app.rowsetStart, 1);
    EXPECT_EQ(Fetch(kLast, 0), (V{"1", "2"}));  // count known
    EXPECT_EQ(app.rowsetStart, 1);
    EXPECT_EQ(Fetch(kRelative, -1), (V{"1", "2"}));
}

TEST_F(ScsScrollFetch, NextMovesByThePreviousFetchsRowsetSize) {
    Open(10, 3);
    EXPECT_EQ(Fetch(kFirst, 0), (V{"1", "2", "3"}));
    Resize(5);
    Resize(4);  // the size the application saw is kept over two changes
    EXPECT_EQ(Fetch(kNext, 0), (V{"4", "5", "6", "7"}));
    EXPECT_EQ(app.lastFetchRowsetSize, 4);
    EXPECT_EQ(app.flags & SCS_ROWSET_SIZE_CHANGED, 0);
    EXPECT_EQ(Fetch(kNext, 0), (V{"8", "9", "10"}));
}

// A table of every slot the positioning may reach, logging its calls; the fetches hand out
// a rowset of one row and answer g_fetchAnswer.
std::vector<std::string> g_agentCalls;
int g_fetchAnswer = 0;
int LoggedGetProperty(uint32_t, uint32_t, void* v, int32_t, int32_t* got) {
    g_agentCalls.push_back("info");
    *static_cast<int32_t*>(v) = 0xFF;
    *got = 4;
    return 0;
}
int HandOut(DS_ROWSET** out, uint32_t* fetched) {
    EXPECT_EQ(ds_RowsetNew(out, 1), 0);
    *fetched = g_fetchAnswer == 0 ? 1 : 0;
    return g_fetchAnswer;
}
int LoggedScrollFetch(uint32_t, DS_ROWSET** out, int32_t, uint32_t* fetched, int32_t*) {
    g_agentCalls.push_back("36");
    return HandOut(out, fetched);
}
int LoggedExtendedFetch(uint32_t, DS_ROWSET** out, int32_t, uint32_t* fetched, int32_t*, int16_t) {
    g_agentCalls.push_back("41");
    return HandOut(out, fetched);
}

TEST(ScsScroll, AForwardOnlyCursorTakesOnlyNextAndGoesThroughTheConnectionsSlot) {
    OA_OPTABLE logged{};
    logged.DRV_GetProperty = LoggedGetProperty;
    logged.DRV_ScrollFetch = LoggedScrollFetch;
    logged.DRV_ExtendedFetch = LoggedExtendedFetch;
    OA_OPHOLDER h{};
    h.ops = &logged;
    SCS_CURSOR c;
    scs_CursorInit(&c, 1, 1, &h, nullptr);
    g_agentCalls.clear();
    g_fetchAnswer = 0;
    // Refused before the agent is asked anything, the fetch directions included.
    for (uint16_t o : {kFirst, kLast, kPrior, kAbsolute, kRelative, kBookmark}) {
        SCOPED_TRACE(o);
        uint32_t fetched = 99;
        EXPECT_EQ(scs_ScrollPosition(&c, o, 1, &fetched), ERR_FETCH_TYPE_OUT_OF_RANGE);
        EXPECT_EQ(fetched, 0u);
    }
    EXPECT_TRUE(g_agentCalls.empty());
    EXPECT_EQ(c.fetchDirections, 0u);

    uint32_t fetched = 0;
    EXPECT_EQ(scs_ScrollPosition(&c, kNext, 0, &fetched), 0);
    EXPECT_EQ(fetched, 1u);
    EXPECT_NE(c.rowset, nullptr);
    c.hasDynMixCursors = 1;
    EXPECT_EQ(scs_ScrollPosition(&c, kNext, 0, &fetched), 0);
    // At the end the rowset handed out is dropped: no data has none.
    g_fetchAnswer = ERR_NO_DATA_FOUND;
    EXPECT_EQ(scs_ScrollPosition(&c, kNext, 0, &fetched), ERR_NO_DATA_FOUND);
    EXPECT_EQ(c.rowset, nullptr);
    EXPECT_EQ(c.position, SCS_POS_AFTER_END);
    EXPECT_EQ(g_agentCalls, (std::vector<std::string>{"info", "36", "41", "41"}));
}

}  // namespace
