// Keyset-driven cursors through unixODBC against the embedded server, in both libraries, the
// Driver Manager's cursor library out: every scroll orientation over a keyed table with its
// statuses, rows fetched and row number, column-wise and row-wise; bookmarks; what another
// user's deletes, updates and inserts do to an open cursor, and a row that moves in the
// ORDER BY staying with its key; the application's parameters sent with the keys; a key of
// two columns; more keys than memory holds; each concurrency; and text beyond ASCII.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <langinfo.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/integration/cursor_fixture.h"

namespace {

using curtest::AllDiags;
using curtest::OtherUser;
using curtest::BoundRow;
using curtest::Diag;
using curtest::ExecOn;
using curtest::GetAttr;
using curtest::kAnyCount;
using curtest::Rowset3;
using curtest::RunSteps;
using curtest::SetAttr;
using curtest::SetPtr;
using curtest::StateOf;
using curtest::StatusesMatch;
using curtest::Step;
using itest::kLibs;
using itest::Lib;

constexpr const char* kKeyed = "create table t (id integer not null primary key, v varchar(20))";

struct Session : curtest::Session {
    explicit Session(const Lib& l, const std::string& create = kKeyed, SQLULEN version = SQL_OV_ODBC3)
        : curtest::Session(l, "keyset", create, version) {}

    // A keyset-driven cursor of the given rowset size and concurrency; the open must keep the
    // cursor asked for (no 01S02).
    SQLRETURN OpenKeyset(SQLULEN rowset, const std::string& text = "select id, v from t order by id",
                         SQLULEN concurrency = SQL_CONCUR_READ_ONLY) {
        const SQLRETURN rc = Open(SQL_CURSOR_KEYSET_DRIVEN, rowset, text, concurrency);
        if (rc == SQL_SUCCESS) {
            EXPECT_EQ(GetAttr(stmt, SQL_ATTR_CURSOR_TYPE), SQLULEN{SQL_CURSOR_KEYSET_DRIVEN});
            EXPECT_EQ(GetAttr(stmt, SQL_ATTR_CONCURRENCY), concurrency);
        }
        return rc;
    }
};

using Bound = curtest::Bound<Session>;  // a session on rows 1..n with a rowset of three bound

// Ten rows, rowset of three, bound column-wise: LAST as the very first fetch, then each
// orientation from where the step before left, including rowsets that run past the end and
// scrolls before the start and after the end.
TEST(KeysetCursor, EveryOrientationOnTenRows) {
    const std::vector<Step> steps = {
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "5 6 7", "000", 5},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 5 6", "000", 4},
        {SQL_FETCH_ABSOLUTE, 5, SQL_SUCCESS, 3, "5 6 7", "000", 5},
        {SQL_FETCH_RELATIVE, -2, SQL_SUCCESS, 3, "3 4 5", "000", 3},
        // Rows 9 and 10 and no third.
        {SQL_FETCH_ABSOLUTE, -2, SQL_SUCCESS, 2, "9 10 -", "003", 9},
        {SQL_FETCH_RELATIVE, -2, SQL_SUCCESS, 3, "7 8 9", "000", 7},
        {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA, kAnyCount, "- - -", "", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
        {SQL_FETCH_ABSOLUTE, 11, SQL_NO_DATA, 0, "- - -", "", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "8 9 10", "000", 8},
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        // From after the end, RELATIVE counts from the end.
        {SQL_FETCH_RELATIVE, -2, SQL_SUCCESS, 2, "9 10 -", "003", 9},
        {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 3, "2 3 4", "000", 2},
    };
    curtest::ScrollTenRows<Session>(steps, [](Session& s) {
        ASSERT_EQ(s.OpenKeyset(3), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 10);
    });
}

// Row-wise binding: each row of the rowset lands in its own structure, and a short rowset
// leaves the structure after it alone.
TEST(KeysetCursor, RowWiseBinding) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        BoundRow rows[3];
        std::memset(rows, 0x5a, sizeof rows);
        SQLUSMALLINT status[3] = {9, 9, 9};
        SQLULEN fetched = 99;
        curtest::BindRowWise(s.stmt, rows);
        SetPtr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status);
        SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
        ASSERT_EQ(s.OpenKeyset(3), SQL_SUCCESS) << AllDiags(s.stmt);

        auto element = [&](int i) { return rows[i].Text(); };
        const std::string untouched = element(2);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 9), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(fetched, 2u);
        EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{0, 0, SQL_ROW_NOROW}));
        EXPECT_EQ(element(0), "9:v9:4:2");
        EXPECT_EQ(element(1), "10:v10:4:3");
        EXPECT_EQ(element(2), untouched);

        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_PRIOR, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(fetched, 3u);
        EXPECT_EQ(element(0), "6:v6:4:2");
        EXPECT_EQ(element(1), "7:v7:4:2");
        EXPECT_EQ(element(2), "8:v8:4:2");
    }
}

// Bookmarks: column 0 as variable bookmarks in ODBC 3, SQL_FETCH_BOOKMARK to a kept one plus
// an offset; fixed bookmarks and SQLExtendedFetch in ODBC 2.
TEST(KeysetCursor, BookmarksReadBackAndScrolledTo) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        {
            SCOPED_TRACE("ODBC 3");
            Bound b(lib, 10);
            auto& [s, r] = b;
            SQLLEN marks[3] = {}, markLen[3] = {};
            ASSERT_NO_FATAL_FAILURE(curtest::OpenOnRowFourWithVariableBookmarks(s.stmt, r, marks, markLen,
                                                                                [&] { return s.OpenKeyset(3); }));
            EXPECT_EQ(markLen[1], SQLLEN{sizeof marks[0]});
            SQLLEN kept = marks[1];  // row 5
            ASSERT_EQ(SetPtr(s.stmt, SQL_ATTR_FETCH_BOOKMARK_PTR, &kept), SQL_SUCCESS);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            const std::vector<Step> steps = {
                {SQL_FETCH_BOOKMARK, 1, SQL_SUCCESS, 3, "6 7 8", "000", 6},
                {SQL_FETCH_BOOKMARK, 0, SQL_SUCCESS, 3, "5 6 7", "000", 5},
                {SQL_FETCH_BOOKMARK, -4, SQL_SUCCESS, 3, "1 2 3", "000", 1},
                {SQL_FETCH_BOOKMARK, 4, SQL_SUCCESS, 2, "9 10 -", "003", 9},
                {SQL_FETCH_BOOKMARK, 6, SQL_NO_DATA, 0, "- - -", "", 0},
            };
            RunSteps(s, r, steps);
            // The bookmark of the current row names it.
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_BOOKMARK, 1), SQL_SUCCESS) << AllDiags(s.stmt);
            SQLLEN current = 0;
            ASSERT_EQ(SQLGetData(s.stmt, 0, SQL_C_VARBOOKMARK, &current, sizeof current, nullptr), SQL_SUCCESS)
                << AllDiags(s.stmt);
            EXPECT_EQ(current, marks[0]);
            kept = current;
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_BOOKMARK, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "6 7 8");
        }
        {
            SCOPED_TRACE("ODBC 2");
            Session s(lib, kKeyed, SQL_OV_ODBC2);
            s.Fill(10);
            Rowset3 r;
            BOOKMARK marks[3] = {};
            ASSERT_NO_FATAL_FAILURE(curtest::OpenOdbc2WithBookmarks(s, SQL_CURSOR_KEYSET_DRIVEN, r, marks,
                                                                    "select id, v from t order by id"));
            r.Clear();
            ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_ABSOLUTE, 7, &r.fetched, r.status), SQL_SUCCESS)
                << AllDiags(s.stmt);
            ASSERT_EQ(r.Keys(), "7 8 9");
            const BOOKMARK kept = marks[1];  // row 8
            ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_FIRST, 0, &r.fetched, r.status), SQL_SUCCESS);
            r.Clear();
            ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_BOOKMARK, static_cast<SQLLEN>(kept), &r.fetched, r.status),
                      SQL_SUCCESS)
                << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "8 9 10");
            EXPECT_EQ(r.fetched, 3u);
            EXPECT_EQ(marks[0], kept);
        }
    }
}

// Another user's writes to an open keyset cursor's rows: an update is seen at the next
// fetch, a deleted row comes back marked SQL_ROW_DELETED with its buffers left alone, an
// insert is not seen, and SQLRowCount stays the number of keys. Executed again, the keyset
// is the table's rows of then.
TEST(KeysetCursor, SeesOtherUsersUpdatesAndDeletesButNotTheirInserts) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (bool prepared : {false, true}) {
            SCOPED_TRACE(prepared ? "prepared" : "direct");
            Bound b(lib, 10);
            auto& [s, r] = b;
            const std::string text = "select id, v from t order by id";
            if (prepared) {
                SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
                SetAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 3);
                ASSERT_EQ(s.Prepare(text), SQL_SUCCESS) << AllDiags(s.stmt);
                ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            } else {
                ASSERT_EQ(s.OpenKeyset(3, text), SQL_SUCCESS) << AllDiags(s.stmt);
            }
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(r.Keys(), "1 2 3");

            OtherUser other(s);
            other.Run("update t set v = 'changed' where id = 2");
            other.Run("delete from t where id = 5");
            other.Run("delete from t where id = 10");
            other.Run("insert into t values (11, 'v11')");
            other.Run("insert into t values (0, 'v0')");

            // Status 1 is SQL_ROW_DELETED: the row's buffers keep what they had.
            const std::vector<Step> steps = {
                {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2=changed 3", "0?0", 1},
                {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 - 6", "010", 4},
                {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 -", "001", 8},
                {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},
                {SQL_FETCH_ABSOLUTE, 5, SQL_SUCCESS, 3, "- 6 7", "100", 5},
                {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "2=changed 3 4", "?00", 2},
            };
            RunSteps(s, r, steps);
            EXPECT_EQ(s.RowCount(), 10);

            // A new execution reads the keys again: 0 and 11 in, 5 and 10 out.
            SQLFreeStmt(s.stmt, SQL_CLOSE);
            ASSERT_EQ(prepared ? SQLExecute(s.stmt) : s.Exec(text), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(s.RowCount(), 10);
            r.Clear();
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "0 1 2=changed");
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 5), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "4 6 7");
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "8 9 11");
            EXPECT_EQ(r.Statuses(), "000");
        }
    }
}

// A cursor ordered by v keeps the order of its keys when another user changes v: each row
// shown is the current row of the key in its place, however the server now orders them.
TEST(KeysetCursor, ARowStaysWithItsKeyWhenItsOrderingColumnChanges) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        // Ordered by v the keys run 6 5 4 3 2 1.
        for (int id = 1; id <= 6; ++id)
            s.Run("insert into t values (" + std::to_string(id) + ", '" + static_cast<char>('g' - id) + "')");
        Rowset3 r;
        r.Bind(s.stmt);
        ASSERT_EQ(s.OpenKeyset(3, "select id, v from t order by v"), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Keys(), "6=a 5=b 4=c");

        OtherUser other(s);
        // 6 now sorts last, 1 first, and 5 and 2 trade places: within and across rowsets.
        other.Run("update t set v = 'z' where id = 6");
        other.Run("update t set v = '0' where id = 1");
        other.Run("update t set v = 'e' where id = 5");
        other.Run("update t set v = 'b' where id = 2");
        const struct {
            SQLSMALLINT orientation;
            SQLLEN offset;
            const char* keys;
        } cases[] = {
            {SQL_FETCH_FIRST, 0, "6=z 5=e 4=c"},
            {SQL_FETCH_NEXT, 0, "3=d 2=b 1=0"},
            {SQL_FETCH_ABSOLUTE, 2, "5=e 4=c 3=d"},
            {SQL_FETCH_LAST, 0, "3=d 2=b 1=0"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(curtest::Describe(c.orientation, c.offset));
            r.Clear();
            ASSERT_EQ(SQLFetchScroll(s.stmt, c.orientation, c.offset), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.fetched, 3u);
            EXPECT_EQ(r.Keys(), c.keys);
            EXPECT_EQ(r.Statuses().find_first_not_of("02"), std::string::npos) << r.Statuses();
        }
    }
}

// The application's parameters keep the values of the execution at every rowset fetch, a
// buffer changed after it included; a new execution takes the new value.
TEST(KeysetCursor, ApplicationParametersAreSentWithTheKeys) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound b(lib, 10);
        auto& [s, r] = b;
        SQLINTEGER from = 4;
        ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &from, 0, nullptr),
                  SQL_SUCCESS);
        ASSERT_EQ(s.OpenKeyset(3, "select id, v from t where id >= ? order by id"), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 7);
        from = 100;  // no longer the execution's
        const std::vector<Step> steps = {
            {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "4 5 6", "000", 1},
            {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 10", "000", 5},
            {SQL_FETCH_ABSOLUTE, 2, SQL_SUCCESS, 3, "5 6 7", "000", 2},
            {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "8 9 10", "000", 5},
            {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        };
        RunSteps(s, r, steps);

        from = 9;
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        ASSERT_EQ(s.OpenKeyset(3, "select id, v from t where id >= ? order by id"), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 2);
        r.Clear();
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Keys(), "9 10 -");
    }
}

// A marker in the select list, before one in the WHERE clause: each value stays in its place
// with the key tuples between them.
TEST(KeysetCursor, AMarkerInTheSelectList) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        char label[8] = "tag";
        SQLLEN labelLen = SQL_NTS;
        SQLINTEGER after = 6;
        ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 7, 0, label, sizeof label,
                                   &labelLen),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &after, 0, nullptr),
                  SQL_SUCCESS);
        SQLINTEGER k[3];
        char v[3][8];
        SQLLEN vInd[3];
        SQLULEN fetched = 0;
        SQLBindCol(s.stmt, 1, SQL_C_SLONG, k, 0, nullptr);
        SQLBindCol(s.stmt, 2, SQL_C_CHAR, v, sizeof v[0], vInd);
        SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
        const SQLRETURN rc = s.OpenKeyset(3, "select id, ? from t where id > ? order by id");
        if (rc == SQL_ERROR) {
            // A fault of the keyset only if a forward-only cursor takes the same statement.
            const std::string why = AllDiags(s.stmt);
            SQLFreeStmt(s.stmt, SQL_CLOSE);
            SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY);
            SetAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 1);
            if (s.Exec("select id, ? from t where id > ? order by id") == SQL_ERROR)
                GTEST_SKIP() << "the server takes no marker in the select list: " << AllDiags(s.stmt);
            FAIL() << "a forward-only cursor takes it, the keyset cursor answers " << why;
        }
        ASSERT_EQ(rc, SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 4);
        for (SQLSMALLINT orientation : {SQL_FETCH_LAST, SQL_FETCH_FIRST}) {
            SCOPED_TRACE(orientation);
            ASSERT_EQ(SQLFetchScroll(s.stmt, orientation, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(fetched, 3u);
            const int first = orientation == SQL_FETCH_LAST ? 8 : 7;
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(k[i], first + i);
                EXPECT_STREQ(v[i], "tag");
            }
        }
    }
}

// A key of two columns: rows are told apart by both, so a row deleted by another user takes
// none of its neighbours sharing a column with it. With beyondAscii the b of row (3,x) is
// "Ä€x", and its row must be found by its key like any other.
void ScrollATwoColumnKey(const Lib& lib, bool beyondAscii) {
    SCOPED_TRACE(lib.driver);
    Session s(lib, "create table t2 (a integer not null, b varchar(10) not null, n integer, primary key (a, b))");
    // (1,x) (1,y) (2,x) (2,y) ... (4,y), n counting 1 to 8.
    int n = 0;
    for (int a = 1; a <= 4; ++a)
        for (const char* b : {"x", "y"})
            s.Run("insert into t2 values (" + std::to_string(a) + ", '" + b + "', " + std::to_string(++n) + ")");
    if (beyondAscii) {
        // Through a wide parameter, as the narrow code sets differ between the libraries.
        SQLHSTMT h = nullptr;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &h), SQL_SUCCESS);
        SQLWCHAR b[] = {0xC4, 0x20AC, 'x', 0};
        SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0, b, sizeof b, nullptr);
        ASSERT_EQ(ExecOn(lib.wide, h, "update t2 set b = ? where a = 3 and b = 'x'"), SQL_SUCCESS) << AllDiags(h);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
    }
    SQLINTEGER num[3];
    SQLULEN fetched = 0;
    SQLUSMALLINT status[3];
    SQLBindCol(s.stmt, 1, SQL_C_SLONG, num, 0, nullptr);
    SetPtr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status);
    SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    // Ordered by a alone: b orders the rows of one a only through the key.
    ASSERT_EQ(s.OpenKeyset(3, "select n from t2 order by a"), SQL_SUCCESS) << AllDiags(s.stmt);
    EXPECT_EQ(s.RowCount(), 8);
    auto rowset = [&] {
        std::string out;
        for (SQLULEN i = 0; i < fetched; ++i)
            out += (i == 0 ? "" : " ") + (status[i] == SQL_ROW_DELETED ? std::string("D") : std::to_string(num[i]));
        return out;
    };
    ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, 4), SQL_SUCCESS) << AllDiags(s.stmt);
    const std::string middle = rowset();
    if (beyondAscii) {
        // (2,y) (3,Ä€x) (3,y): the key sorts Ä€x after y or before it, by the server's rule.
        EXPECT_TRUE(middle == "4 5 6" || middle == "4 6 5") << middle;
    } else {
        EXPECT_EQ(middle, "4 5 6");
    }

    OtherUser other(s);
    other.Run("update t2 set n = 40 where a = 2 and b = 'y'");
    other.Run("delete from t2 where a = 1 and b = 'y'");
    other.Run("delete from t2 where a = 4 and b = 'x'");
    const std::string after = "40" + middle.substr(1);
    const struct {
        SQLSMALLINT orientation;
        SQLLEN offset;
        std::string rows;
    } cases[] = {
        {SQL_FETCH_FIRST, 0, "1 D 3"},
        {SQL_FETCH_NEXT, 0, after},
        {SQL_FETCH_NEXT, 0, "D 8"},
        {SQL_FETCH_ABSOLUTE, 3, "3 " + after.substr(0, after.rfind(' '))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows);
        ASSERT_EQ(SQLFetchScroll(s.stmt, c.orientation, c.offset), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(rowset(), c.rows);
    }
}

TEST(KeysetCursor, AKeyOfTwoColumns) {
    for (const Lib& lib : kLibs)
        ScrollATwoColumnKey(lib, false);
}

// A key holding text beyond ASCII ("Äx", "€x") finds its row when the rowset is read by its
// keys, in both libraries and whatever the narrow code set.
TEST(KeysetCursor, KeyTextBeyondAscii) {
    for (const Lib& lib : kLibs)
        ScrollATwoColumnKey(lib, true);
}

// 6,000 keys, more than memory keeps: scrolls on both sides of the 5,000th key and across
// it, a row deleted beyond it marked, and the spilled keys' files gone with the cursor.
TEST(KeysetCursor, KeysBeyondTheMemoryCache) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        curtest::OwnTempFolder tmp("keysettmp", "");
        Bound b(lib, 6000);
        auto& [s, r] = b;
        ASSERT_EQ(s.OpenKeyset(3), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 6000);
        EXPECT_TRUE(tmp.Empty());
        EXPECT_GT(tmp.OpenNameless(), 0);
        OtherUser(s).Run("delete from t where id = 5996");
        const std::vector<Step> steps = {
            {SQL_FETCH_ABSOLUTE, 5995, SQL_SUCCESS, 3, "5995 - 5997", "010", 5995},
            {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "5998 5999 6000", "000", 5998},
            {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3", "000", 1},
            {SQL_FETCH_ABSOLUTE, 4999, SQL_SUCCESS, 3, "4999 5000 5001", "000", 4999},
            {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "4996 4997 4998", "000", 4996},
            {SQL_FETCH_ABSOLUTE, 6001, SQL_NO_DATA, 0, "- - -", "", 0},
        };
        RunSteps(s, r, steps);
        // Executed again the cursor holds as many files as before; freed, none.
        const int files = tmp.OpenNameless();
        ASSERT_EQ(s.OpenKeyset(3), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 5999);
        EXPECT_EQ(tmp.OpenNameless(), files);
        ASSERT_NO_FATAL_FAILURE(tmp.ExpectFreeingTheStatementLeavesNoFile(s));
    }
}

// Closing a keyset cursor (SQLFreeStmt SQL_CLOSE, SQLCloseCursor) lets its keys go: with
// more than 5,000 of them their two temporary files close, as a static cursor's do.
TEST(KeysetCursor, ClosingTheCursorLetsTheSpilledKeysGo) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        curtest::OwnTempFolder tmp("keysettmp", "");
        Session s(lib);
        s.Fill(6000);
        ASSERT_EQ(s.OpenKeyset(3), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_GT(tmp.OpenNameless(), 0);
        ASSERT_EQ(SQLCloseCursor(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(tmp.OpenNameless(), 0);
    }
}

// Values and lock concurrency fetch the rows as read-only does, the columns compared or the
// keys read beside them staying out of the result; a lock is taken in manual commit and
// ends with the transaction, and holds nothing in autocommit.
TEST(KeysetCursor, ValuesAndLockConcurrency) {
    const struct {
        SQLULEN concurrency;
        bool manualCommit;
    } cases[] = {
        {SQL_CONCUR_VALUES, false},
        {SQL_CONCUR_VALUES, true},
        {SQL_CONCUR_LOCK, false},
        {SQL_CONCUR_LOCK, true},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "concurrency " << c.concurrency
                                            << (c.manualCommit ? ", manual commit" : ", autocommit"));
            Session s(lib);
            s.Fill(10);
            OtherUser other(s);
            if (c.manualCommit) {
                ASSERT_EQ(SQLSetConnectAttr(s.dbc, SQL_ATTR_AUTOCOMMIT,
                                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
                          SQL_SUCCESS)
                    << Diag(SQL_HANDLE_DBC, s.dbc);
            }
            // The key is not in the select list: it is read beside the rows all the same.
            char v[3][21];
            SQLLEN vInd[3];
            SQLULEN fetched = 0;
            SQLUSMALLINT status[3];
            SQLBindCol(s.stmt, 1, SQL_C_CHAR, v, sizeof v[0], vInd);
            SetPtr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status);
            SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
            ASSERT_EQ(s.OpenKeyset(3, "select v from t order by id", c.concurrency), SQL_SUCCESS)
                << AllDiags(s.stmt);
            SQLSMALLINT columns = 0;
            ASSERT_EQ(SQLNumResultCols(s.stmt, &columns), SQL_SUCCESS);
            EXPECT_EQ(columns, 1);
            // The rowset at the orientation as "value value value"; a buffer the fetch did not
            // write shows "-". The statuses go to `statuses`.
            std::string statuses;
            auto fetch = [&](SQLSMALLINT orientation, SQLLEN offset) {
                for (auto& one : v)
                    std::strcpy(one, "-");
                EXPECT_EQ(SQLFetchScroll(s.stmt, orientation, offset), SQL_SUCCESS) << AllDiags(s.stmt);
                std::string out;
                statuses.clear();
                for (SQLULEN i = 0; i < fetched; ++i) {
                    out += (i == 0 ? "" : " ") + std::string(v[i]);
                    statuses += static_cast<char>('0' + status[i]);
                }
                return out;
            };
            EXPECT_EQ(fetch(SQL_FETCH_LAST, 0), "v8 v9 v10");
            EXPECT_EQ(statuses, "000");
            EXPECT_EQ(fetch(SQL_FETCH_ABSOLUTE, 4), "v4 v5 v6");
            EXPECT_EQ(fetch(SQL_FETCH_PRIOR, 0), "v1 v2 v3");
            EXPECT_EQ(statuses, "000");
            if (c.manualCommit) {
                ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, s.dbc, SQL_COMMIT), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, s.dbc);
            }
            // Nothing is held now: the other user writes, and the cursor sees it.
            other.Run("update t set v = 'w2' where id = 2");
            SQLFreeStmt(s.stmt, SQL_CLOSE);
            ASSERT_EQ(s.OpenKeyset(3, "select v from t order by id", c.concurrency), SQL_SUCCESS)
                << AllDiags(s.stmt);
            if (c.manualCommit) {
                EXPECT_EQ(fetch(SQL_FETCH_FIRST, 0), "v1 w2 v3");
                EXPECT_EQ(statuses, "000");
                ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, s.dbc, SQL_COMMIT), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, s.dbc);
            } else {
                // In autocommit the cursor also sees a delete made while it is open.
                other.Run("delete from t where id = 3");
                other.Run("update t set v = 'x1' where id = 1");
                EXPECT_EQ(fetch(SQL_FETCH_FIRST, 0), "x1 w2 -");
                EXPECT_TRUE(StatusesMatch(statuses, "?01")) << statuses;
            }
        }
    }
}

// The server keeps no row versions: row-version concurrency is answered 01S02 when it is
// set, and values concurrency takes its place, on a keyset cursor that sees other users'
// changes.
TEST(KeysetCursor, RowVersionConcurrencyBecomesValues) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(10);
        SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CONCURRENCY, SQL_CONCUR_ROWVER), SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(StateOf(s.stmt), "01S02");
        EXPECT_EQ(GetAttr(s.stmt, SQL_ATTR_CONCURRENCY), SQLULEN{SQL_CONCUR_VALUES});
        SetAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 3);
        Rowset3 r;
        r.Bind(s.stmt);
        ASSERT_EQ(s.Exec("select id, v from t order by id"), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(GetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE), SQLULEN{SQL_CURSOR_KEYSET_DRIVEN});
        EXPECT_EQ(GetAttr(s.stmt, SQL_ATTR_CONCURRENCY), SQLULEN{SQL_CONCUR_VALUES});
        OtherUser other(s);
        other.Run("update t set v = 'changed' where id = 9");
        other.Run("delete from t where id = 10");
        r.Clear();
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Keys(), "8 9=changed -");
        EXPECT_TRUE(StatusesMatch(r.Statuses(), "0?1")) << r.Statuses();
    }
}

// Text beyond ASCII in v comes back whole through SQL_C_WCHAR in both libraries, and through
// SQL_C_CHAR in each library's narrow code set (the test keeps the "C" locale: UTF-8 in the
// ANSI library, ISO-8859-1 in the Unicode one, where '€' has no place).
TEST(KeysetCursor, TextBeyondAsciiComesBackWhole) {
    ASSERT_STREQ(nl_langinfo(CODESET), "ANSI_X3.4-1968");
    const std::u16string value = u"Ärger €";
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(5);
        {
            SQLHSTMT h = nullptr;
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &h), SQL_SUCCESS);
            std::vector<SQLWCHAR> w(value.begin(), value.end());
            w.push_back(0);
            SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 20, 0, w.data(), 0, nullptr);
            ASSERT_EQ(ExecOn(lib.wide, h, "update t set v = ? where id in (2, 4)"), SQL_SUCCESS) << AllDiags(h);
            SQLFreeHandle(SQL_HANDLE_STMT, h);
        }
        SQLWCHAR wide[3][21];
        SQLLEN wideInd[3];
        char narrow[3][41];
        SQLLEN narrowInd[3];
        SQLBindCol(s.stmt, 1, SQL_C_WCHAR, wide, sizeof wide[0], wideInd);
        SQLBindCol(s.stmt, 2, SQL_C_CHAR, narrow, sizeof narrow[0], narrowInd);
        ASSERT_EQ(s.OpenKeyset(3, "select v, v from t order by id"), SQL_SUCCESS) << AllDiags(s.stmt);
        const std::string expectNarrow = lib.wide ? "\xC4rger ?" : "\xC3\x84rger \xE2\x82\xAC";
        for (SQLLEN at : {SQLLEN{2}, SQLLEN{-4}}) {
            SCOPED_TRACE(at);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_ABSOLUTE, at), SQL_SUCCESS) << AllDiags(s.stmt);
            for (int i : {0, 2}) {
                EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(wide[i])), value) << "row " << i;
                EXPECT_EQ(wideInd[i], SQLLEN(value.size() * sizeof(SQLWCHAR)));
                EXPECT_EQ(std::string(narrow[i]), expectNarrow) << "row " << i;
            }
            EXPECT_EQ(std::string(narrow[1]), "v3");
        }
    }
}

}  // namespace
