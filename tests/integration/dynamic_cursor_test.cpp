// Dynamic and mixed cursors through unixODBC against the embedded server, in both libraries,
// the Driver Manager's cursor library out: each orientation a dynamic cursor takes, another
// user's inserts, updates and deletes seen at the next move, walks over a nullable ordering
// column with duplicates that return exactly the plain ordered SELECT's rows both ways,
// mixed cursors across the edges of their key window, and SQLSetPos on both.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/integration/cursor_fixture.h"

namespace {

using curtest::AllDiags;
using curtest::OtherUser;
using curtest::ExecOn;
using curtest::GetAttr;
using curtest::kAnyCount;
using curtest::Rowset3;
using curtest::RunSteps;
using curtest::SetAttr;
using curtest::SetPtr;
using curtest::StateOf;
using curtest::Step;
using itest::kLibs;
using itest::Lib;

constexpr const char* kKeyed = "create table t (id integer not null primary key, v varchar(20))";

struct Session : curtest::Session {
    explicit Session(const Lib& l, const std::string& create = kKeyed)
        : curtest::Session(l, "dynamic", create, SQL_OV_ODBC3) {}

    // A cursor of the type (dynamic, or keyset-driven with a keyset size: mixed) that must
    // stay what was asked for.
    SQLRETURN OpenAs(SQLULEN type, SQLULEN rowset, const std::string& text, SQLULEN keysetSize = 0,
                     SQLULEN concurrency = SQL_CONCUR_READ_ONLY) {
        SetAttr(stmt, SQL_ATTR_KEYSET_SIZE, keysetSize);
        const SQLRETURN rc = Open(type, rowset, text, concurrency);
        if (rc == SQL_SUCCESS) {
            EXPECT_EQ(GetAttr(stmt, SQL_ATTR_CURSOR_TYPE), type);
        }
        return rc;
    }
};

using Bound = curtest::Bound<Session>;

// Ten rows, rowset of three: every move a dynamic cursor takes, and ABSOLUTE refused.
TEST(DynamicCursor, EveryOrientationOnTenRows) {
    const std::vector<Step> steps = {
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 5 6", "000", 0},
        {SQL_FETCH_RELATIVE, 2, SQL_SUCCESS, 3, "6 7 8", "000", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 2, "9 10 -", "003", 0},
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "8 9 10", "000", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "5 6 7", "000", 0},
        {SQL_FETCH_RELATIVE, -3, SQL_SUCCESS, 3, "2 3 4", "000", 0},
        // Before the start by one: the first rowset.
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "1 2 3", "000", 0},
        {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 10", "000", 0},
        {SQL_FETCH_RELATIVE, -5, SQL_SUCCESS, 3, "3 4 5", "000", 0},
        {SQL_FETCH_RELATIVE, 0, SQL_SUCCESS, 3, "3 4 5", "000", 0},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3", "000", 0},
        {SQL_FETCH_RELATIVE, 20, SQL_NO_DATA, 0, "- - -", "", 0},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound b(lib, 10);
        ASSERT_EQ(b.s.OpenAs(SQL_CURSOR_DYNAMIC, 3, "select id, v from t order by id"), SQL_SUCCESS)
            << AllDiags(b.s.stmt);
        RunSteps(b.s, b.r, steps);
        for (SQLSMALLINT refused : {SQL_FETCH_ABSOLUTE, SQL_FETCH_BOOKMARK}) {
            EXPECT_EQ(SQLFetchScroll(b.s.stmt, refused, 1), SQL_ERROR);
            EXPECT_EQ(StateOf(b.s.stmt), "HY106");
        }
    }
}

// Another user's insert shows at the next NEXT, its update at the next read of the row, its
// delete by the row's absence.
TEST(DynamicCursor, SeesOtherUsersChanges) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        Rowset3 r;
        r.Bind(s.stmt);
        s.Run("insert into t values (10, 'v10'), (20, 'v20'), (30, 'v30'), (40, 'v40'), (50, 'v50'), (60, 'v60')");
        OtherUser other(s);
        ASSERT_EQ(s.OpenAs(SQL_CURSOR_DYNAMIC, 3, "select id, v from t order by id"), SQL_SUCCESS)
            << AllDiags(s.stmt);
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Keys(), "10 20 30");
        other.Run("insert into t values (35, 'v35')");
        other.Run("delete from t where id = 40");
        other.Run("update t set v = 'changed' where id = 50");
        r.Clear();
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Keys(), "35 50=changed 60");
        EXPECT_EQ(r.Statuses(), "000");
        other.Run("insert into t values (5, 'v5')");
        r.Clear();
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Keys(), "5 10 20");
    }
}

// A nullable ordering column with duplicates and NULLs: NEXT, PRIOR and RELATIVE walks give
// exactly the rows of the plain ordered SELECT, in both directions.
TEST(DynamicCursor, WalksOverNullableDuplicatesMatchThePlainSelect) {
    const std::string create = "create table t (id integer not null primary key, v varchar(20))";
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (const char* order : {"v", "v desc"}) {
            SCOPED_TRACE(order);
            Session s(lib, create);
            s.Run("insert into t values (1, 'b'), (2, null), (3, 'a'), (4, 'b'), (5, null), (6, 'c'), "
                  "(7, 'a'), (8, 'b'), (9, null), (10, 'c'), (11, 'b')");
            const std::string query = std::string("select id, v from t order by ") + order;
            // The plain SELECT's order, as the forward-only cursor reads it.
            std::vector<int> plain;
            {
                SQLINTEGER id = 0;
                SQLLEN ind = 0;
                ASSERT_EQ(s.Exec(query + ", id"), SQL_SUCCESS) << AllDiags(s.stmt);
                SQLBindCol(s.stmt, 1, SQL_C_SLONG, &id, 0, &ind);
                while (SQLFetch(s.stmt) == SQL_SUCCESS)
                    plain.push_back(id);
                SQLFreeStmt(s.stmt, SQL_CLOSE);
                SQLFreeStmt(s.stmt, SQL_UNBIND);
            }
            ASSERT_EQ(plain.size(), 11u);
            SQLINTEGER ids[3];
            SQLLEN idInd[3];
            SQLULEN fetched = 0;
            SQLBindCol(s.stmt, 1, SQL_C_SLONG, ids, 0, idInd);
            SetPtr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
            ASSERT_EQ(s.OpenAs(SQL_CURSOR_DYNAMIC, 3, query), SQL_SUCCESS) << AllDiags(s.stmt);
            auto walk = [&](SQLSMALLINT first, SQLSMALLINT then, SQLLEN offset) {
                std::vector<std::vector<int>> rowsets;
                for (SQLRETURN rc = SQLFetchScroll(s.stmt, first, 0); rc != SQL_NO_DATA;
                     rc = SQLFetchScroll(s.stmt, then, offset)) {
                    EXPECT_EQ(rc, SQL_SUCCESS) << AllDiags(s.stmt);
                    if (rc != SQL_SUCCESS || rowsets.size() > 20)
                        break;
                    rowsets.emplace_back(ids, ids + fetched);
                }
                return rowsets;
            };
            auto flat = [](const std::vector<std::vector<int>>& sets) {
                std::vector<int> all;
                for (const auto& set : sets)
                    all.insert(all.end(), set.begin(), set.end());
                return all;
            };
            EXPECT_EQ(flat(walk(SQL_FETCH_FIRST, SQL_FETCH_NEXT, 0)), plain);
            EXPECT_EQ(flat(walk(SQL_FETCH_FIRST, SQL_FETCH_RELATIVE, 3)), plain);
            // Backwards the rowsets come last first; the first one is the first three rows.
            std::vector<std::vector<int>> back = walk(SQL_FETCH_LAST, SQL_FETCH_PRIOR, 0);
            ASSERT_FALSE(back.empty());
            EXPECT_EQ(back.front(), std::vector<int>(plain.end() - 3, plain.end()));
            EXPECT_EQ(back.back(), std::vector<int>(plain.begin(), plain.begin() + 3));
            for (size_t i = 0; i + 1 < back.size(); ++i) {
                // Each rowset ends just before the one fetched before it starts.
                const auto at = std::find(plain.begin(), plain.end(), back[i].front());
                const auto prev = std::find(plain.begin(), plain.end(), back[i + 1].back());
                if (i + 2 < back.size()) {
                    EXPECT_EQ(prev + 1, at);
                }
            }
            // RELATIVE -1 from the last rowset steps back one row at a time.
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS);
            for (size_t start = plain.size() - 4; start + 1 > 0; --start) {
                ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_RELATIVE, -1), SQL_SUCCESS) << start;
                EXPECT_EQ(std::vector<int>(ids, ids + fetched),
                          std::vector<int>(plain.begin() + static_cast<std::ptrdiff_t>(start),
                                           plain.begin() + static_cast<std::ptrdiff_t>(start) + 3));
            }
        }
    }
}

// A mixed cursor (keyset size 5, rowset 3) walks across the edges of its key window, sees a
// deleted row as deleted, knows its row count only when one window holds the result, and
// refuses a keyset smaller than the rowset.
TEST(MixedCursor, WalksAcrossWindowEdges) {
    const std::vector<Step> steps = {
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3", "000", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 5 6", "000", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "7 8 9", "000", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "4 5 6", "000", 0},
        {SQL_FETCH_RELATIVE, 4, SQL_SUCCESS, 3, "8 9 10", "000", 0},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 2, "11 12 -", "003", 0},
        {SQL_FETCH_NEXT, 0, SQL_NO_DATA, 0, "- - -", "", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "10 11 12", "000", 0},
        {SQL_FETCH_RELATIVE, -8, SQL_SUCCESS, 3, "2 3 4", "000", 0},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "1 2 3", "000", 0},
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "10 11 12", "000", 0},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3", "000", 0},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound b(lib, 12);
        ASSERT_EQ(b.s.OpenAs(SQL_CURSOR_KEYSET_DRIVEN, 3, "select id, v from t order by id", 5), SQL_SUCCESS)
            << AllDiags(b.s.stmt);
        RunSteps(b.s, b.r, steps);
        // 12 rows never fit one window of 5: the count stays unknown.
        EXPECT_EQ(b.s.RowCount(), -1);
        EXPECT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_ABSOLUTE, 2), SQL_ERROR);
        EXPECT_EQ(StateOf(b.s.stmt), "HY106");

        OtherUser other(b.s);
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        // Inside the window a deleted key reads as deleted; a window read after the delete
        // has no such key.
        other.Run("delete from t where id = 3");
        b.r.Clear();
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_RELATIVE, 1), SQL_SUCCESS) << AllDiags(b.s.stmt);
        EXPECT_EQ(b.r.Statuses(), "010");
        b.r.Clear();
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(b.s.stmt);
        EXPECT_EQ(b.r.Keys(), "5 6 7");
        EXPECT_EQ(b.r.Statuses(), "000");

        SetAttr(b.s.stmt, SQL_ATTR_KEYSET_SIZE, 2);
        EXPECT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_NEXT, 0), SQL_ERROR);
        EXPECT_EQ(StateOf(b.s.stmt), "HY107");
    }
}

// A result that one window holds: the count is known after the first fetch.
TEST(MixedCursor, CountKnownWhenOneWindowHoldsTheResult) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bound b(lib, 4);
        ASSERT_EQ(b.s.OpenAs(SQL_CURSOR_KEYSET_DRIVEN, 3, "select id, v from t order by id", 10), SQL_SUCCESS)
            << AllDiags(b.s.stmt);
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        EXPECT_EQ(b.s.RowCount(), 4);
    }
}

// SQLSetPos on both: an update through the cursor reaches the table and the rowset.
TEST(DynamicCursor, SetPosUpdatesOnDynamicAndMixed) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (SQLULEN keysetSize : {SQLULEN{0}, SQLULEN{5}}) {
            SCOPED_TRACE(keysetSize);
            Bound b(lib, 10);
            auto& [s, r] = b;
            const SQLULEN type = keysetSize == 0 ? SQL_CURSOR_DYNAMIC : SQL_CURSOR_KEYSET_DRIVEN;
            ASSERT_EQ(s.OpenAs(type, 3, "select id, v from t order by id", keysetSize, SQL_CONCUR_LOCK), SQL_SUCCESS)
                << AllDiags(s.stmt);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
            std::strcpy(r.v[1], "mine");
            r.vInd[1] = SQL_NTS;
            ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.status[1], SQL_ROW_UPDATED);
            OtherUser other(s);
            SQLCHAR v[21] = {};
            SQLLEN ind = 0;
            ASSERT_EQ(ExecOn(other.wide, other.stmt, "select v from t where id = 5"), SQL_SUCCESS);
            SQLBindCol(other.stmt, 1, SQL_C_CHAR, v, sizeof v, &ind);
            ASSERT_EQ(SQLFetch(other.stmt), SQL_SUCCESS);
            EXPECT_STREQ(reinterpret_cast<char*>(v), "mine");
            r.Clear();
            ASSERT_EQ(SQLSetPos(s.stmt, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "4 5=mine 6");
        }
    }
}

}  // namespace

namespace {

constexpr const char* kVersionTable =
    "create table KVRRVC (HCONN char(8) not null, HCURS char(8) not null, KEYVER char(32) not null, "
    "ROWVER char(32) not null)";
constexpr const char* kVersionIndex = "create unique index KVRRVC_KEY on KVRRVC (HCONN, HCURS, KEYVER)";

// A connection with row versions on (DYN_CURS_SENSITIVITY=HIGH) to the session's file, its
// statement a dynamic cursor of three rows bound to r.
struct Versioned : itest::Connection {
    Versioned(const Session& s, Rowset3& r)
        : itest::Connection(s.lib.driver, s.lib.wide, "DATABASENAME=" + s.db + ";DYN_CURS_SENSITIVITY=HIGH") {
        r.Bind(stmt);
        SetAttr(stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC);
        SetAttr(stmt, SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK);
        SetAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, 3);
    }
    SQLRETURN Open() { return ExecOn(wide, stmt, "select id, v from t order by id"); }
    SQLRETURN Move(SQLSMALLINT orientation, SQLLEN offset = 0) { return SQLFetchScroll(stmt, orientation, offset); }
};

long CountOf(Session& s, const std::string& query) {
    SQLHSTMT h = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &h);
    SQLINTEGER n = -1;
    SQLLEN ind = 0;
    EXPECT_EQ(s.ExecOn(h, query), SQL_SUCCESS) << AllDiags(h);
    SQLBindCol(h, 1, SQL_C_SLONG, &n, 0, &ind);
    EXPECT_EQ(SQLFetch(h), SQL_SUCCESS) << AllDiags(h);
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    return n;
}

// With row versions, a row another user changed reads SQL_ROW_UPDATED once; a row the cursor
// changed itself does not.
TEST(DynamicCursorVersions, OthersChangesReadUpdatedOnce) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(6);
        s.Run(kVersionTable);
        s.Run(kVersionIndex);
        Rowset3 r;
        Versioned v(s, r);
        ASSERT_EQ(v.Open(), SQL_SUCCESS) << AllDiags(v.stmt);
        ASSERT_EQ(v.Move(SQL_FETCH_NEXT), SQL_SUCCESS) << AllDiags(v.stmt);
        EXPECT_EQ(r.Statuses(), "000");
        EXPECT_EQ(CountOf(s, "select count(*) from KVRRVC"), 3);

        s.Run("update t set v = 'theirs' where id = 2");
        r.Clear();
        ASSERT_EQ(v.Move(SQL_FETCH_RELATIVE, 0), SQL_SUCCESS) << AllDiags(v.stmt);
        EXPECT_EQ(r.Keys(), "1 2=theirs 3");
        EXPECT_EQ(r.Statuses(), "020");
        ASSERT_EQ(v.Move(SQL_FETCH_RELATIVE, 0), SQL_SUCCESS) << AllDiags(v.stmt);
        EXPECT_EQ(r.Statuses(), "000");

        std::strcpy(r.v[2], "mine");
        r.vInd[2] = SQL_NTS;
        ASSERT_EQ(SQLSetPos(v.stmt, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(v.stmt);
        r.Clear();
        ASSERT_EQ(v.Move(SQL_FETCH_RELATIVE, 0), SQL_SUCCESS) << AllDiags(v.stmt);
        EXPECT_EQ(r.Keys(), "1 2=theirs 3=mine");
        EXPECT_EQ(r.Statuses(), "000");
        // The rows of the next window are new to the cursor: recorded, not updated.
        ASSERT_EQ(v.Move(SQL_FETCH_NEXT), SQL_SUCCESS) << AllDiags(v.stmt);
        EXPECT_EQ(r.Statuses(), "000");
        EXPECT_EQ(CountOf(s, "select count(*) from KVRRVC"), 6);
    }
}

// Without the row-version table the dynamic cursor's preparation fails: the server's message,
// then IM926.
TEST(DynamicCursorVersions, NoVersionTableFailsThePrepare) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(3);
        Rowset3 r;
        Versioned v(s, r);
        EXPECT_EQ(v.Open(), SQL_ERROR);
        const std::string all = AllDiags(v.stmt);
        EXPECT_NE(all.find("KVRRVC"), std::string::npos) << all;
        EXPECT_NE(all.find("IM926"), std::string::npos) << all;
        EXPECT_LT(all.find("KVRRVC"), all.find("IM926")) << all;
    }
}

// Two processes on one database keep their own lines: handles are the same small numbers in
// every process, the lines' connection column is not.
TEST(DynamicCursorVersions, TwoProcessesKeepTheirOwnLines) {
    const Lib& lib = kLibs[0];
    Session s(lib);
    s.Fill(6);
    s.Run(kVersionTable);
    s.Run(kVersionIndex);
    Rowset3 r;
    Versioned v(s, r);
    ASSERT_EQ(v.Open(), SQL_SUCCESS) << AllDiags(v.stmt);
    ASSERT_EQ(v.Move(SQL_FETCH_NEXT), SQL_SUCCESS) << AllDiags(v.stmt);
    const pid_t child = fork();
    if (child == 0) {
        // The same steps in a process of its own, on a connection of its own.
        Rowset3 cr;
        Versioned cv(s, cr);
        const bool ok = cv.Open() == SQL_SUCCESS && cv.Move(SQL_FETCH_NEXT) == SQL_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(CountOf(s, "select count(distinct HCONN) from KVRRVC"), 2);
    EXPECT_EQ(CountOf(s, "select count(*) from KVRRVC"), 6);
    // This process's lines are intact: an unchanged row reads unchanged, a changed one updated.
    s.Run("update t set v = 'theirs' where id = 1");
    ASSERT_EQ(v.Move(SQL_FETCH_RELATIVE, 0), SQL_SUCCESS) << AllDiags(v.stmt);
    EXPECT_EQ(r.Statuses(), "200");
}

}  // namespace
