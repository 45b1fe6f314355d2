// Static cursors through unixODBC against the embedded server, in both libraries: every
// scroll orientation on a small result with its rows fetched, statuses and row number;
// bookmarks (variable ones in ODBC 3, fixed ones in ODBC 2) read back and scrolled to;
// row-wise and column-wise binding at a bind offset; SQLRowCount; SQLGetData after a scroll,
// long text in pieces; a result beyond the in-memory cache, whose files have no name while
// the cursor holds them open; the ODBC 2 SQLExtendedFetch; the errors of mixing fetch
// functions and scrolling a forward-only cursor; the cursor type a scrollable request is
// given; and each execution starting a fresh snapshot.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <langinfo.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/integration/cursor_fixture.h"

namespace {

using curtest::AllDiags;
using curtest::BoundRow;
using curtest::kAnyCount;
using curtest::kFiller;
using curtest::Rowset3;
using curtest::RunSteps;
using curtest::SetAttr;
using curtest::SetPtr;
using curtest::StateOf;
using curtest::Step;
using itest::kLibs;
using itest::Lib;

constexpr SQLSMALLINT kByFetch = 0;  // a step made by SQLFetch instead of SQLFetchScroll

struct Session : curtest::Session {
    explicit Session(const Lib& l, SQLULEN version = SQL_OV_ODBC3,
                     const std::string& create = "create table t (k integer, v varchar(20))")
        : curtest::Session(l, "static", create, version) {}

    // A static cursor of the given rowset size over the rows in key order.
    SQLRETURN OpenStatic(SQLULEN rowset, const std::string& text = "select k, v from t order by k") {
        return Open(SQL_CURSOR_STATIC, rowset, text);
    }
};

using Bound = curtest::Bound<Session>;  // a session on rows 1..n with a rowset of three bound

// Ten rows, rowset of three: each orientation from the position the step before left,
// including the edges where a rowset overlaps the start or the end or lies beyond them.
TEST(StaticCursor, EveryOrientationOnTenRows) {
    const std::vector<Step> steps = {
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "5 6 7", "000", 5},
        {SQL_FETCH_RELATIVE, -1, SQL_SUCCESS, 3, "4 5 6", "000", 4},
        {SQL_FETCH_RELATIVE, 0, SQL_SUCCESS, 3, "4 5 6", "000", 4},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0, "- - -", "", 0},  // before the start
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 3, "2 3 4", "000", 2},
        // Rows -1 to 1 overlap the start: the first rowset.
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, 3, SQL_SUCCESS, 3, "3 4 5", "000", 3},
        {SQL_FETCH_RELATIVE, -3, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_RELATIVE, 4, SQL_SUCCESS, 3, "5 6 7", "000", 5},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},  // after the end
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},  // and stays there
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        // From after the end, RELATIVE counts from the end: rows 9 and 10 and no third.
        {SQL_FETCH_RELATIVE, -2, SQL_SUCCESS, 2, "9 10 -", "003", 9},
        {SQL_FETCH_ABSOLUTE, -11, SQL_NO_DATA, 0, "- - -", "", 0},  // wholly before the start
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, -3, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA, kAnyCount, "- - -", "", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, 9, SQL_SUCCESS, 2, "9 10 -", "003", 9},
        {SQL_FETCH_ABSOLUTE, 11, SQL_NO_DATA, 0, "- - -", "", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_RELATIVE, -20, SQL_NO_DATA, 0, "- - -", "", 0},
        // From before the start, RELATIVE counts from the start.
        {SQL_FETCH_RELATIVE, 5, SQL_SUCCESS, 3, "5 6 7", "000", 5},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, -1, SQL_SUCCESS, 1, "10 - -", "033", 10},
        {SQL_FETCH_RELATIVE, 1, SQL_NO_DATA, 0, "- - -", "", 0},
    };
    curtest::ScrollTenRows<Session>(
        steps, [](Session& s) { ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt); });
}

// Bookmarks of a static cursor: column 0 bound as a variable bookmark gives each row's,
// SQLGetData(0) the current row's, and SQL_FETCH_BOOKMARK scrolls to a kept bookmark plus
// the offset.
TEST(StaticCursor, VariableBookmarksReadBackAndScrolledTo) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound b(lib, 10);
        auto& [s, r] = b;
        SQLLEN marks[3] = {}, markLen[3] = {};
        ASSERT_NO_FATAL_FAILURE(curtest::OpenOnRowFourWithVariableBookmarks(s.stmt, r, marks, markLen,
                                                                            [&] { return s.OpenStatic(3); }));
        // The bookmarks tell the rows apart and name them in the result's order.
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(markLen[i], SQLLEN{sizeof marks[0]});
            EXPECT_EQ(marks[i], 4 + i) << i;
        }
        SQLLEN current = 0, currentLen = 0;
        ASSERT_EQ(SQLGetData(s.stmt, 0, SQL_C_VARBOOKMARK, &current, sizeof current, &currentLen), SQL_SUCCESS)
            << AllDiags(s.stmt);
        EXPECT_EQ(current, marks[0]);
        EXPECT_EQ(currentLen, SQLLEN{sizeof current});

        // The fetch overwrites the bound bookmarks: the one scrolled to is kept apart.
        SQLLEN kept = marks[1];  // row 5
        ASSERT_EQ(SetPtr(s.stmt, SQL_ATTR_FETCH_BOOKMARK_PTR, &kept), SQL_SUCCESS);
        const std::vector<Step> steps = {
            {SQL_FETCH_BOOKMARK, 0, SQL_SUCCESS, 3, "5 6 7", "000", 5},
            {SQL_FETCH_BOOKMARK, 3, SQL_SUCCESS, 3, "8 9 10", "000", 8},
            {SQL_FETCH_BOOKMARK, -4, SQL_SUCCESS, 3, "1 2 3", "000", 1},
            {SQL_FETCH_BOOKMARK, 4, SQL_SUCCESS, 2, "9 10 -", "003", 9},
            {SQL_FETCH_BOOKMARK, 6, SQL_NO_DATA, 0, "- - -", "", 0},
            {SQL_FETCH_BOOKMARK, -5, SQL_NO_DATA, 0, "- - -", "", 0},
        };
        RunSteps(s, r, steps, [&](const Step& st) {
            std::fill(std::begin(marks), std::end(marks), SQLLEN{-7});
            const SQLRETURN rc = SQLFetchScroll(s.stmt, st.orientation, st.offset);
            for (int i = 0; i < 3 && rc != SQL_NO_DATA; ++i)
                EXPECT_EQ(marks[i], r.k[i] == kFiller ? -7 : r.k[i]) << "bookmark of row " << i;
            return rc;
        });

        // With data retrieval off the rows are positioned on and their bookmarks written,
        // and nothing else.
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_RETRIEVE_DATA, SQL_RD_OFF), SQL_SUCCESS);
        r.Clear();
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 7), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.fetched, 3u);
        EXPECT_EQ(r.Keys(), "- - -");
        EXPECT_EQ(r.Statuses(), "000");
        EXPECT_EQ(std::vector<SQLLEN>(marks, marks + 3), (std::vector<SQLLEN>{7, 8, 9}));
    }
}

// Row-wise and column-wise binding at a bind offset that moves between fetches, with and
// without a row-status array: the rowset lands where the offset says and nowhere else.
TEST(StaticCursor, RowWiseAndColumnWiseBindingAtAnOffset) {
    struct Columns {
        SQLINTEGER k[3];
        SQLLEN kInd[3];
        char v[3][21];
        SQLLEN vInd[3];
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (bool rowWise : {true, false}) {
            for (bool withStatus : {true, false}) {
                SCOPED_TRACE(std::string(rowWise ? "row-wise" : "column-wise") +
                             (withStatus ? ", statuses" : ", no statuses"));
                Session s(lib);
                s.Fill(10);
                BoundRow rows[6];
                Columns blocks[2];
                std::memset(rows, 0x5a, sizeof rows);
                std::memset(blocks, 0x5a, sizeof blocks);
                SQLUSMALLINT status[3] = {9, 9, 9};
                SQLULEN fetched = 99;
                SQLLEN offset = 0;
                if (rowWise) {
                    curtest::BindRowWise(s.stmt, rows);
                } else {
                    SQLBindCol(s.stmt, 1, SQL_C_SLONG, blocks[0].k, 0, blocks[0].kInd);
                    SQLBindCol(s.stmt, 2, SQL_C_CHAR, blocks[0].v, sizeof blocks[0].v[0], blocks[0].vInd);
                }
                SetPtr(s.stmt, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset);
                SetPtr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, withStatus ? status : nullptr);
                SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
                ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt);

                // Element i of the copy that starts at `base`, as "k:v:kInd:vInd".
                auto element = [&](int base, int i) {
                    if (rowWise)
                        return rows[base + i].Text();
                    const Columns& c = blocks[base / 3];
                    return curtest::Element(c.k[i], c.v[i], sizeof c.v[i], c.kInd[i], c.vInd[i]);
                };
                const std::string untouched = element(0, 0);

                // The second copy (rows 3-5 or block 1): rows 9 and 10 and no third.
                offset = rowWise ? SQLLEN{3 * sizeof(BoundRow)} : SQLLEN{sizeof(Columns)};
                ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 9), SQL_SUCCESS) << AllDiags(s.stmt);
                EXPECT_EQ(fetched, 2u);
                if (withStatus) {
                    EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{0, 0, 3}));
                }
                EXPECT_EQ(element(3, 0), "9:v9:4:2");
                EXPECT_EQ(element(3, 1), "10:v10:4:3");
                EXPECT_EQ(element(3, 2), untouched);
                for (int i = 0; i < 3; ++i)
                    EXPECT_EQ(element(0, i), untouched) << "first copy, element " << i;

                // Back to the first copy; the second keeps what the last fetch left.
                offset = 0;
                ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
                EXPECT_EQ(fetched, 3u);
                EXPECT_EQ(element(0, 0), "1:v1:4:2");
                EXPECT_EQ(element(0, 1), "2:v2:4:2");
                EXPECT_EQ(element(0, 2), "3:v3:4:2");
                EXPECT_EQ(element(3, 0), "9:v9:4:2");
            }
        }
    }
}

// A value cut short in one row makes the rowset warn (01004) and marks that row alone
// SQL_ROW_SUCCESS_WITH_INFO; the other rows' statuses stay SQL_ROW_SUCCESS.
TEST(StaticCursor, TruncationMarksItsRowOnly) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(12);
        SQLINTEGER k[3];
        char v[3][3];
        SQLLEN vInd[3];
        SQLUSMALLINT status[3];
        SQLBindCol(s.stmt, 1, SQL_C_SLONG, k, 0, nullptr);
        SQLBindCol(s.stmt, 2, SQL_C_CHAR, v, sizeof v[0], vInd);
        SetPtr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status);
        ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt);
        // Rows 8, 9, 10: only "v10" does not fit in three bytes.
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 8), SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(StateOf(s.stmt), "01004");
        EXPECT_EQ(std::vector<int>(status, status + 3),
                  (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS_WITH_INFO}));
        EXPECT_EQ(std::string(v[2]), "v1");
        EXPECT_EQ(vInd[2], 3);
        // A clean rowset after it answers SQL_SUCCESS.
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{0, 0, 0}));
    }
}

// A static cursor knows its rows at execute: SQLRowCount answers them, none for an empty
// result.
TEST(StaticCursor, RowCountAfterExecuteIsTheResultsRows) {
    struct Case {
        const char* text;
        SQLLEN rows;
    };
    const Case cases[] = {
        {"select k, v from t", 10},
        {"select k from t where k > 7", 3},
        {"select k from t where k > 70", 0},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text);
            for (bool prepared : {false, true}) {
                SCOPED_TRACE(prepared ? "prepared" : "direct");
                SQLFreeStmt(s.stmt, SQL_CLOSE);
                SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC);
                if (prepared) {
                    ASSERT_EQ(s.Prepare(c.text), SQL_SUCCESS) << AllDiags(s.stmt);
                    ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
                } else {
                    ASSERT_EQ(s.Exec(c.text), SQL_SUCCESS) << AllDiags(s.stmt);
                }
                SQLLEN n = -2;
                ASSERT_EQ(SQLRowCount(s.stmt, &n), SQL_SUCCESS) << AllDiags(s.stmt);
                EXPECT_EQ(n, c.rows);
            }
        }
    }
}

// SQLGetData reads the current row after a scroll: the one row of a rowset of one, the first
// row of a larger rowset.
TEST(StaticCursor, GetDataReadsTheCurrentRowAfterAScroll) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        for (SQLULEN rowset : {SQLULEN{1}, SQLULEN{3}}) {
            SCOPED_TRACE("rowset " + std::to_string(rowset));
            ASSERT_EQ(s.OpenStatic(rowset), SQL_SUCCESS) << AllDiags(s.stmt);
            auto current = [&] {
                SQLINTEGER k = 0;
                char v[21] = {};
                SQLLEN ind = 0;
                EXPECT_EQ(SQLGetData(s.stmt, 2, SQL_C_CHAR, v, sizeof v, &ind), SQL_SUCCESS) << AllDiags(s.stmt);
                EXPECT_EQ(SQLGetData(s.stmt, 1, SQL_C_SLONG, &k, 0, &ind), SQL_SUCCESS) << AllDiags(s.stmt);
                return std::to_string(k) + ":" + v;
            };
            struct Case {
                SQLSMALLINT orientation;
                SQLLEN offset;
                std::string row;
            };
            const bool one = rowset == 1;
            const Case cases[] = {{SQL_FETCH_LAST, 0, one ? "10:v10" : "8:v8"},
                                  {SQL_FETCH_ABSOLUTE, 4, "4:v4"},
                                  {SQL_FETCH_PRIOR, 0, one ? "3:v3" : "1:v1"},
                                  {SQL_FETCH_RELATIVE, 5, one ? "8:v8" : "6:v6"}};
            for (const Case& c : cases) {
                SCOPED_TRACE(std::to_string(c.orientation) + " " + std::to_string(c.offset));
                ASSERT_EQ(SQLFetchScroll(s.stmt, c.orientation, c.offset), SQL_SUCCESS) << AllDiags(s.stmt);
                EXPECT_EQ(current(), c.row);
            }
            // Past the end there is no current row.
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 11), SQL_NO_DATA);
            SQLINTEGER k = 0;
            EXPECT_EQ(SQLGetData(s.stmt, 1, SQL_C_SLONG, &k, 0, nullptr), SQL_ERROR);
            EXPECT_EQ(StateOf(s.stmt), "24000");
        }
    }
}

// Rows other than the first of a block are reached through SQLSetPos, which a driver
// claiming SQL_GD_BLOCK must serve.
TEST(StaticCursor, GetDataOnAnyRowOfABlockWhereClaimed) {
    bool setPosMissing = false;
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        SQLUINTEGER extensions = 0;
        ASSERT_EQ(SQLGetInfo(s.dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr), SQL_SUCCESS);
        if ((extensions & SQL_GD_BLOCK) == 0)
            continue;
        ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 4), SQL_SUCCESS);
        const SQLRETURN rc = SQLSetPos(s.stmt, 3, SQL_POSITION, SQL_LOCK_NO_CHANGE);
        // SQLSetPos is not built yet: until it is, the claim goes unchecked.
        if (rc == SQL_ERROR && StateOf(s.stmt) == "HYC00") {
            setPosMissing = true;
            continue;
        }
        ASSERT_EQ(rc, SQL_SUCCESS) << AllDiags(s.stmt);
        SQLINTEGER k = 0;
        ASSERT_EQ(SQLGetData(s.stmt, 1, SQL_C_SLONG, &k, 0, nullptr), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(k, 6);
    }
    if (setPosMissing)
        GTEST_SKIP() << "SQL_GD_BLOCK is claimed but SQLSetPos answers HYC00";
}

// Long text with characters beyond ASCII and beyond the BMP, read in pieces through a small
// buffer from the current row of a static cursor: the pieces join to the whole value, each
// call but the last warns 01004, the last succeeds and the next answers SQL_NO_DATA.
TEST(StaticCursor, LongTextInPiecesAfterAScroll) {
    // The test program keeps the "C" locale: the ANSI library's narrow text is then UTF-8,
    // the Unicode library's ISO-8859-1.
    ASSERT_STREQ(nl_langinfo(CODESET), "ANSI_X3.4-1968");
    std::string utf8, latin1;
    std::u16string utf16;
    for (int i = 0; i < 400; ++i) {
        const std::string n = std::to_string(i);
        utf8 += "Grüße 😀 " + n + " ";
        latin1 += "Gr\xfc\xdf" "e ? " + n + " ";
        utf16 += u"Grüße 😀 " + std::u16string(n.begin(), n.end()) + u" ";
    }
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib, SQL_OV_ODBC3, "create table t (k integer, v varchar(8000))");
        {
            SQLHSTMT h = nullptr;
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &h), SQL_SUCCESS);
            std::vector<SQLWCHAR> value(utf16.begin(), utf16.end());
            SQLLEN len = static_cast<SQLLEN>(value.size() * sizeof(SQLWCHAR));
            SQLINTEGER key = 2;
            SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr);
            SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 8000, 0, value.data(), len, &len);
            ASSERT_EQ(s.ExecOn(h, "insert into t values (?, ?)"), SQL_SUCCESS) << AllDiags(h);
            SQLFreeHandle(SQL_HANDLE_STMT, h);
        }
        s.Run("insert into t values (1, 'one')");
        s.Run("insert into t values (3, 'three')");
        ASSERT_EQ(s.OpenStatic(1), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);

        // Reads column 2 of row 2 in pieces of at most `buffer` bytes; answers the bytes
        // joined. remaining is the value's length in bytes, checked against each indicator
        // that is not SQL_NO_TOTAL.
        auto pieces = [&](SQLSMALLINT cType, SQLLEN buffer, size_t unit, size_t total) {
            EXPECT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS) << AllDiags(s.stmt);
            std::string joined;
            std::vector<char> buf(static_cast<size_t>(buffer));
            size_t remaining = total;
            for (int call = 0;; ++call) {
                SQLLEN ind = 0;
                const SQLRETURN rc = SQLGetData(s.stmt, 2, cType, buf.data(), buffer, &ind);
                if (rc == SQL_NO_DATA) {
                    EXPECT_EQ(remaining, 0u);
                    break;
                }
                if (ind != SQL_NO_TOTAL) {
                    EXPECT_EQ(ind, static_cast<SQLLEN>(remaining)) << "call " << call;
                }
                const size_t room = static_cast<size_t>(buffer) - unit;  // less the terminator
                if (rc == SQL_SUCCESS_WITH_INFO) {
                    EXPECT_EQ(StateOf(s.stmt), "01004") << "call " << call;
                    // The piece ends at its terminator, never inside a character.
                    size_t got = 0;
                    while (got < room && std::memcmp(buf.data() + got, "\0\0\0\0", unit) != 0)
                        got += unit;
                    EXPECT_GE(got, room - 3 * unit) << "call " << call;
                    joined.append(buf.data(), got);
                    remaining -= got;
                } else {
                    EXPECT_EQ(rc, SQL_SUCCESS) << AllDiags(s.stmt);
                    EXPECT_LE(remaining, room);
                    joined.append(buf.data(), remaining);
                    remaining = 0;
                }
                if (call > 10000) {
                    ADD_FAILURE() << "no end of the value";
                    break;
                }
            }
            return joined;
        };
        const std::string& narrow = lib.wide ? latin1 : utf8;
        EXPECT_EQ(pieces(SQL_C_CHAR, 64, 1, narrow.size()), narrow);
        const std::string wide = pieces(SQL_C_WCHAR, 100, sizeof(SQLWCHAR), utf16.size() * sizeof(SQLWCHAR));
        EXPECT_TRUE(wide == std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2))
            << "the wide pieces differ; " << wide.size() << " bytes for " << utf16.size() * 2;
        // The rows around it keep their short values.
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
        char v[16] = {};
        ASSERT_EQ(SQLGetData(s.stmt, 2, SQL_C_CHAR, v, sizeof v, nullptr), SQL_SUCCESS);
        EXPECT_STREQ(v, "three");
    }
}

// 6,000 rows: more than the cache holds in memory, so the rest is in two temporary files
// that no one else can see. Scrolls land on both sides of the 5,000th row and across it;
// closing the cursor closes the files, and so does freeing the statement.
TEST(StaticCursor, ResultBeyondTheMemoryCache) {
    const std::vector<Step> steps = {
        {SQL_FETCH_ABSOLUTE, 5995, SQL_SUCCESS, 3, "5995 5996 5997", "000", 5995},
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "5998 5999 6000", "000", 5998},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, 4999, SQL_SUCCESS, 3, "4999 5000 5001", "000", 4999},
        {SQL_FETCH_RELATIVE, 3, SQL_SUCCESS, 3, "5002 5003 5004", "000", 5002},
        {SQL_FETCH_RELATIVE, -5, SQL_SUCCESS, 3, "4997 4998 4999", "000", 4997},
        {SQL_FETCH_RELATIVE, 1002, SQL_SUCCESS, 2, "5999 6000 -", "003", 5999},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "5996 5997 5998", "000", 5996},
        {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 3, "2 3 4", "000", 2},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "5 6 7", "000", 5},
        {SQL_FETCH_ABSOLUTE, 6001, SQL_NO_DATA, 0, "- - -", "", 0},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        curtest::OwnTempFolder tmp("statictmp", "kvrtmp");
        Bound b(lib, 6000);
        auto& [s, r] = b;
        ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt);
        SQLLEN count = 0;
        EXPECT_EQ(SQLRowCount(s.stmt, &count), SQL_SUCCESS);
        EXPECT_EQ(count, 6000);
        EXPECT_TRUE(tmp.Empty());
        EXPECT_EQ(tmp.OpenNameless(), 2);
        RunSteps(s, r, steps);
        EXPECT_TRUE(tmp.Empty());
        ASSERT_EQ(SQLFreeStmt(s.stmt, SQL_CLOSE), SQL_SUCCESS);
        EXPECT_EQ(tmp.OpenNameless(), 0) << "after SQL_CLOSE";

        // Executed again the cursor has its two files, not four; freed, none.
        ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(tmp.OpenNameless(), 2);
        ASSERT_EQ(SQLFreeStmt(s.stmt, SQL_CLOSE), SQL_SUCCESS);
        ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(tmp.OpenNameless(), 2);
        ASSERT_NO_FATAL_FAILURE(tmp.ExpectFreeingTheStatementLeavesNoFile(s));
    }
}

// An ODBC 2 application: SQLExtendedFetch over a static cursor whose rowset size and
// options are set by SQLSetStmtOption, fixed bookmarks bound to column 0, and
// SQLGetStmtOption(SQL_GET_BOOKMARK) and SQL_ROW_NUMBER answering for the current row.
TEST(StaticCursor, Odbc2ExtendedFetchWithFixedBookmarks) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib, SQL_OV_ODBC2);
        s.Fill(10);
        Rowset3 r;
        BOOKMARK marks[3] = {};
        ASSERT_NO_FATAL_FAILURE(
            curtest::OpenOdbc2WithBookmarks(s, SQL_CURSOR_STATIC, r, marks, "select k, v from t order by k"));

        BOOKMARK kept = 0;
        struct XStep {
            SQLUSMALLINT type;
            SQLLEN row;  // for BOOKMARK: added to the kept bookmark
            SQLRETURN rc;
            SQLULEN rows;
            const char* keys;
            const char* statuses;
        };
        const XStep steps[] = {
            {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000"},
            {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 5 6", "000"},
            {SQL_FETCH_ABSOLUTE, 9, SQL_SUCCESS, 2, "9 10 -", "003"},
            {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "6 7 8", "000"},
            {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 2, "9 10 -", "003"},
            {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", ""},
            {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "8 9 10", "000"},
            {SQL_FETCH_ABSOLUTE, -11, SQL_NO_DATA, 0, "- - -", ""},
            {SQL_FETCH_BOOKMARK, 0, SQL_SUCCESS, 3, "5 6 7", "000"},  // kept: row 5
            {SQL_FETCH_ABSOLUTE, 3, SQL_SUCCESS, 3, "3 4 5", "000"},
        };
        for (const XStep& st : steps) {
            SCOPED_TRACE(std::to_string(st.type) + " " + std::to_string(st.row));
            r.Clear();
            std::fill(std::begin(marks), std::end(marks), BOOKMARK{77});
            const SQLLEN row = st.type == SQL_FETCH_BOOKMARK ? static_cast<SQLLEN>(kept) + st.row : st.row;
            SQLULEN fetched = 99;
            ASSERT_EQ(SQLExtendedFetch(s.stmt, st.type, row, &fetched, r.status), st.rc) << AllDiags(s.stmt);
            EXPECT_EQ(fetched, st.rows);
            r.fetched = fetched;
            EXPECT_EQ(r.Keys(), st.keys);
            if (st.rc == SQL_NO_DATA)
                continue;
            EXPECT_EQ(r.Statuses(), st.statuses);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(marks[i], r.k[i] == kFiller ? BOOKMARK{77} : static_cast<BOOKMARK>(r.k[i])) << i;
            if (st.type == SQL_FETCH_NEXT && r.k[0] == 4)
                kept = marks[1];
            SQLULEN current = 0, rowNumber = 0;
            ASSERT_EQ(SQLGetStmtOption(s.stmt, SQL_GET_BOOKMARK, &current), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(current, marks[0]);
            ASSERT_EQ(SQLGetStmtOption(s.stmt, SQL_ROW_NUMBER, &rowNumber), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(rowNumber, static_cast<SQLULEN>(r.k[0]));
            BOOKMARK got = 0;
            ASSERT_EQ(SQLGetData(s.stmt, 0, SQL_C_BOOKMARK, &got, 0, nullptr), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(got, marks[0]);
        }
    }
}

// A forward-only cursor has no bookmarks: SQL_GET_BOOKMARK is not supported (S1C00 for an
// ODBC 2 application, HYC00 for ODBC 3), even with bookmarks switched on.
TEST(StaticCursor, ForwardOnlyCursorGivesNoBookmark) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (auto [version, state] : {std::pair{SQLULEN{SQL_OV_ODBC2}, "S1C00"}, std::pair{SQLULEN{SQL_OV_ODBC3}, "HYC00"}}) {
            SCOPED_TRACE(state);
            Session s(lib, version);
            s.Fill(3);
            ASSERT_EQ(SQLSetStmtOption(s.stmt, SQL_USE_BOOKMARKS, SQL_UB_ON), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(s.Exec("select k from t order by k"), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            SQLULEN mark = 0;
            EXPECT_EQ(SQLGetStmtOption(s.stmt, SQL_GET_BOOKMARK, &mark), SQL_ERROR);
            EXPECT_EQ(StateOf(s.stmt), state);
        }
    }
}

// A forward-only cursor refuses every orientation but NEXT and loses no row by refusing.
TEST(StaticCursor, ForwardOnlyCursorRefusesScrolling) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (auto [version, state] : {std::pair{SQLULEN{SQL_OV_ODBC2}, "S1106"}, std::pair{SQLULEN{SQL_OV_ODBC3}, "HY106"}}) {
            SCOPED_TRACE(state);
            Session s(lib, version);
            s.Fill(3);
            ASSERT_EQ(s.Exec("select k from t order by k"), SQL_SUCCESS) << AllDiags(s.stmt);
            SQLINTEGER k = 0;
            SQLBindCol(s.stmt, 1, SQL_C_SLONG, &k, 0, nullptr);
            SQLULEN fetched = 0;
            SQLUSMALLINT status = 0;
            for (SQLSMALLINT orientation : {SQL_FETCH_PRIOR, SQL_FETCH_FIRST, SQL_FETCH_ABSOLUTE}) {
                SCOPED_TRACE(orientation);
                const SQLRETURN rc = version == SQL_OV_ODBC3
                                         ? SQLFetchScroll(s.stmt, orientation, 1)
                                         : SQLExtendedFetch(s.stmt, static_cast<SQLUSMALLINT>(orientation), 1,
                                                            &fetched, &status);
                EXPECT_EQ(rc, SQL_ERROR);
                EXPECT_EQ(StateOf(s.stmt), state);
            }
            EXPECT_EQ(k, 0);
            ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(k, 1);
        }
    }
}

// An ODBC 2 application reads a static cursor either by SQLFetch or by SQLExtendedFetch, not
// both: the second kind is a function sequence error and the first goes on where it was.
TEST(StaticCursor, Odbc2MixingFetchAndExtendedFetchIsASequenceError) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (bool extendedFirst : {false, true}) {
            SCOPED_TRACE(extendedFirst ? "SQLExtendedFetch first" : "SQLFetch first");
            Session s(lib, SQL_OV_ODBC2);
            s.Fill(5);
            SQLSetStmtOption(s.stmt, SQL_CURSOR_TYPE, SQL_CURSOR_STATIC);
            ASSERT_EQ(s.Exec("select k from t order by k"), SQL_SUCCESS) << AllDiags(s.stmt);
            SQLINTEGER k = 0;
            SQLBindCol(s.stmt, 1, SQL_C_SLONG, &k, 0, nullptr);
            SQLULEN fetched = 0;
            SQLUSMALLINT status = 0;
            auto extended = [&] { return SQLExtendedFetch(s.stmt, SQL_FETCH_NEXT, 0, &fetched, &status); };
            ASSERT_EQ(extendedFirst ? extended() : SQLFetch(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(extendedFirst ? SQLFetch(s.stmt) : extended(), SQL_ERROR);
            EXPECT_EQ(StateOf(s.stmt), "S1010");
            ASSERT_EQ(extendedFirst ? extended() : SQLFetch(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(k, 2);
        }
    }
}

// An ODBC 3 application may mix SQLFetch and SQLFetchScroll on a static cursor: SQLFetch is
// the NEXT of the same rowsets.
TEST(StaticCursor, Odbc3FetchIsTheNextRowset) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound b(lib, 10);
        auto& [s, r] = b;
        ASSERT_EQ(s.OpenStatic(3), SQL_SUCCESS) << AllDiags(s.stmt);
        const std::vector<Step> steps = {
            {kByFetch, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
            {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 5 6", "000", 4},
            {kByFetch, 0, SQL_SUCCESS, 3, "7 8 9", "000", 7},
            {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "4 5 6", "000", 4},
            {kByFetch, 0, SQL_SUCCESS, 3, "7 8 9", "000", 7},
            {kByFetch, 0, SQL_SUCCESS, 1, "10 - -", "033", 10},
            {kByFetch, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        };
        RunSteps(s, r, steps, [&](const Step& st) {
            return st.orientation == kByFetch ? SQLFetch(s.stmt) : SQLFetchScroll(s.stmt, st.orientation, st.offset);
        });
    }
}

// Opens "select k from t order by k" on a statement asking for a keyset-driven or dynamic
// cursor, prepared or directly: either way the request is answered 01S02 and served as a
// static cursor, which scrolls.
void ExpectServedStatic(bool prepared) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (SQLULEN type : {SQLULEN{SQL_CURSOR_KEYSET_DRIVEN}, SQLULEN{SQL_CURSOR_DYNAMIC}}) {
            SCOPED_TRACE(type);
            Session s(lib);
            s.Fill(4);
            ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, type), SQL_SUCCESS) << AllDiags(s.stmt);
            const std::string text = "select k from t order by k";
            if (prepared) {
                ASSERT_EQ(s.Prepare(text), SQL_SUCCESS_WITH_INFO) << AllDiags(s.stmt);
                EXPECT_EQ(StateOf(s.stmt), "01S02");
                ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            } else {
                ASSERT_EQ(s.Exec(text), SQL_SUCCESS_WITH_INFO) << AllDiags(s.stmt);
                EXPECT_EQ(StateOf(s.stmt), "01S02");
            }
            SQLULEN now = 99;
            ASSERT_EQ(SQLGetStmtAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, &now, 0, nullptr), SQL_SUCCESS);
            EXPECT_EQ(now, SQLULEN{SQL_CURSOR_STATIC});
            SQLINTEGER k = 0;
            SQLBindCol(s.stmt, 1, SQL_C_SLONG, &k, 0, nullptr);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(k, 4);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 2), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(k, 2);
        }
    }
}

TEST(StaticCursor, PreparedScrollableRequestBecomesStatic) { ExpectServedStatic(true); }

TEST(StaticCursor, DirectScrollableRequestBecomesStatic) { ExpectServedStatic(false); }

// Each execution starts a new snapshot before its first row: what an earlier execution
// scrolled to is gone, and rows written since are in. A row written while the cursor is
// open is not.
TEST(StaticCursor, EachExecutionStartsAFreshSnapshot) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (bool prepared : {true, false}) {
            SCOPED_TRACE(prepared ? "prepared" : "direct");
            Bound b(lib, 10);
            auto& [s, r] = b;
            SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC);
            SetAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 3);
            const std::string text = "select k, v from t order by k";
            if (prepared) {
                ASSERT_EQ(s.Prepare(text), SQL_SUCCESS) << AllDiags(s.stmt);
            }
            auto execute = [&] {
                SQLFreeStmt(s.stmt, SQL_CLOSE);
                return prepared ? SQLExecute(s.stmt) : s.Exec(text);
            };
            ASSERT_EQ(execute(), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
            EXPECT_EQ(r.Keys(), "8 9 10");
            s.Run("insert into t values (11, 'v11')");
            // The open cursor keeps its snapshot.
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
            EXPECT_EQ(r.Keys(), "8 9 10");

            ASSERT_EQ(execute(), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(s.RowNumber(), 0u);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "1 2 3");
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
            EXPECT_EQ(r.Keys(), "9 10 11");
            SQLLEN n = 0;
            SQLRowCount(s.stmt, &n);
            EXPECT_EQ(n, 11);
        }
    }
}

// A rowset size changed between fetches: NEXT moves on by the rows of the rowset before,
// and the new size applies from then on.
TEST(StaticCursor, RowsetSizeChangedBetweenFetches) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        SQLINTEGER k[5];
        SQLULEN fetched = 0;
        SQLBindCol(s.stmt, 1, SQL_C_SLONG, k, 0, nullptr);
        SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
        ASSERT_EQ(s.OpenStatic(2), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 5), SQL_SUCCESS);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(fetched, 5u);
        EXPECT_EQ(std::vector<int>(k, k + 5), (std::vector<int>{3, 4, 5, 6, 7}));
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(fetched, 3u);
        EXPECT_EQ(std::vector<int>(k, k + 3), (std::vector<int>{8, 9, 10}));
    }
}

}  // namespace

namespace {

// A catalog result on a static cursor scrolls as a query's does.
TEST(StaticCursor, ACatalogResultScrolls) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib, SQL_OV_ODBC3, "create table t (a integer, b integer, c integer, d integer, e integer)");
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 2), SQL_SUCCESS) << AllDiags(s.stmt);
        const SQLRETURN listed =
            lib.wide ? SQLColumnsW(s.stmt, nullptr, 0, nullptr, 0, itest::Wide("t").data(), SQL_NTS, nullptr, 0)
                     : SQLColumns(s.stmt, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>("t")),
                                  SQL_NTS, nullptr, 0);
        ASSERT_EQ(listed, SQL_SUCCESS) << AllDiags(s.stmt);
        char names[2][64] = {};
        SQLLEN lengths[2] = {};
        SQLULEN fetched = 0;
        ASSERT_EQ(SQLBindCol(s.stmt, 4, SQL_C_CHAR, names, sizeof names[0], lengths), SQL_SUCCESS);
        ASSERT_EQ(SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched), SQL_SUCCESS);
        struct Step {
            SQLSMALLINT orientation;
            SQLLEN offset;
            SQLRETURN rc;
            std::string rows;
        };
        const Step steps[] = {
            {SQL_FETCH_LAST, 0, SQL_SUCCESS, "d e"},  {SQL_FETCH_FIRST, 0, SQL_SUCCESS, "a b"},
            {SQL_FETCH_ABSOLUTE, 3, SQL_SUCCESS, "c d"}, {SQL_FETCH_NEXT, 0, SQL_SUCCESS, "e"},
            {SQL_FETCH_NEXT, 0, SQL_NO_DATA, ""},      {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, "d e"},
        };
        for (const Step& st : steps) {
            SCOPED_TRACE(st.orientation);
            fetched = 99;
            ASSERT_EQ(SQLFetchScroll(s.stmt, st.orientation, st.offset), st.rc) << AllDiags(s.stmt);
            std::string rows;
            for (SQLULEN i = 0; st.rc == SQL_SUCCESS && i < fetched; ++i)
                rows += (i == 0 ? "" : " ") + std::string(names[i]);
            EXPECT_EQ(rows, st.rows);
        }
    }
}

}  // namespace

namespace {

// An updatable static request is served read-only, answered 01S02 at every prepare.
TEST(StaticCursor, AnUpdatableStaticRequestBecomesReadOnly) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(3);
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES), SQL_SUCCESS) << AllDiags(s.stmt);
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            ASSERT_EQ(s.Prepare("select k from t order by k"), SQL_SUCCESS_WITH_INFO) << AllDiags(s.stmt);
            EXPECT_EQ(StateOf(s.stmt), "01S02");
            SQLULEN concurrency = 0;
            ASSERT_EQ(SQLGetStmtAttr(s.stmt, SQL_ATTR_CONCURRENCY, &concurrency, 0, nullptr), SQL_SUCCESS);
            EXPECT_EQ(concurrency, SQLULEN{SQL_CONCUR_READ_ONLY});
            ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            SQLINTEGER k = 0;
            SQLBindCol(s.stmt, 1, SQL_C_SLONG, &k, 0, nullptr);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(k, 3);
            ASSERT_EQ(SQLFreeStmt(s.stmt, SQL_CLOSE), SQL_SUCCESS);
        }
    }
}

}  // namespace
