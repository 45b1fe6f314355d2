// SQLSetPos through unixODBC against the embedded server, in both libraries,
// the Driver Manager's cursor library out, on a keyset-driven cursor and on a
// static cursor under values concurrency over a keyed table: update, delete,
// add, refresh and position of one row and of every row, the row-operation
// array, the statuses and the row count; another user's change met by our
// update, and seen by a refresh; values given at execution; and the refusals in
// the order they are checked. Uses the private configuration that
// driver_manager_test.cpp writes for the process.
#include <cstring>
#include <string>
#include <vector>

#include "tests/integration/cursor_fixture.h"

namespace {

using curtest::AllDiags;
using curtest::OtherUser;
using curtest::Diag;
using curtest::ExecOn;
using curtest::GetAttr;
using curtest::Rowset3;
using curtest::SetAttr;
using curtest::SetPtr;
using curtest::StateOf;
using itest::kLibs;
using itest::Lib;

struct Session : curtest::Session {
    explicit Session(const Lib& l, SQLULEN version = SQL_OV_ODBC3)
        : curtest::Session(l, "setpos", "create table t (id integer not null primary key, v varchar(20))", version) {}

};

// Another user: a second connection to the session's database file, in
// autocommit.
struct Cursor {
    const char* name;
    SQLULEN type;
};
constexpr Cursor kCursors[] = {{"keyset", SQL_CURSOR_KEYSET_DRIVEN}, {"static", SQL_CURSOR_STATIC}};

// The cursor over rows 1..n under values concurrency, its first rowset of three
// in r: by SQLFetchScroll for ODBC 3, by SQLExtendedFetch (statuses in r) for
// ODBC 2.
void OpenOnFirstRowset(Session& s, Rowset3& r, SQLULEN type, SQLULEN odbcVersion = SQL_OV_ODBC3,
                       SQLULEN concurrency = SQL_CONCUR_VALUES) {
    r.Bind(s.stmt, odbcVersion == SQL_OV_ODBC3);
    ASSERT_EQ(s.Open(type, 3, "select id, v from t order by id", concurrency), SQL_SUCCESS) << AllDiags(s.stmt);
    ASSERT_EQ(GetAttr(s.stmt, SQL_ATTR_CONCURRENCY), concurrency);
    r.Clear();
    if (odbcVersion == SQL_OV_ODBC3) {
        ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << AllDiags(s.stmt);
    } else {
        SQLULEN fetched = 0;
        ASSERT_EQ(SQLExtendedFetch(s.stmt, SQL_FETCH_NEXT, 0, &fetched, r.status), SQL_SUCCESS) << AllDiags(s.stmt);
    }
    ASSERT_EQ(r.Keys(), "1 2 3");
}

void SetValue(Rowset3& r, int i, const char* v) {
    std::strcpy(r.v[i], v);
    r.vInd[i] = SQL_NTS;
}

// Update, delete, add and refresh of one row and of every row, the
// row-operation array keeping a row out, with the statuses and the rows
// counted.
TEST(SetPos, UpdateDeleteAddAndRefreshOnOneRowAndOnEveryRow) {
    for (const Lib& lib : kLibs) {
        for (const Cursor& cursor : kCursors) {
            SCOPED_TRACE(testing::Message() << lib.driver << ", " << cursor.name);
            Session s(lib);
            s.Fill(6);
            Rowset3 r;
            OpenOnFirstRowset(s, r, cursor.type);

            // One row, then the same row again: its values as fetched are now ours.
            SetValue(r, 1, "u2");
            ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Statuses(), "020");
            EXPECT_EQ(s.RowCount(), 1);
            SetValue(r, 1, "w2");
            ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(s.Table(), "1:v1 2:w2 3:v3 4:v4 5:v5 6:v6");

            // A refresh of that row writes its buffers alone, and reports it as
            // fetched.
            SetValue(r, 0, "x");
            SetValue(r, 1, "x");
            ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(std::string(r.v[0]) + " " + r.v[1], "x w2");
            EXPECT_EQ(r.Statuses(), "000");

            // Every row, the third ignored: its buffers, status and table row stay.
            SQLUSMALLINT ops[3] = {SQL_ROW_PROCEED, SQL_ROW_PROCEED, SQL_ROW_IGNORE};
            ASSERT_EQ(SetPtr(s.stmt, SQL_ATTR_ROW_OPERATION_PTR, ops), SQL_SUCCESS) << AllDiags(s.stmt);
            SetValue(r, 0, "a1");
            SetValue(r, 1, "a2");
            SetValue(r, 2, "a3");
            r.status[2] = 9;
            ASSERT_EQ(SQLSetPos(s.stmt, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Statuses(), "229");
            EXPECT_EQ(s.RowCount(), 2);
            EXPECT_EQ(s.Table(), "1:a1 2:a2 3:v3 4:v4 5:v5 6:v6");

            // One row deleted; then every row: the deleted one is passed over, the
            // ignored one kept.
            ASSERT_EQ(SQLSetPos(s.stmt, 1, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Statuses(), "129");
            EXPECT_EQ(s.RowCount(), 1);
            ASSERT_EQ(SQLSetPos(s.stmt, 0, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Statuses(), "119");
            EXPECT_EQ(s.RowCount(), 1);
            EXPECT_EQ(s.Table(), "3:v3 4:v4 5:v5 6:v6");

            // A positioned row is the one SQLGetData reads.
            ASSERT_EQ(SQLSetPos(s.stmt, 3, SQL_POSITION, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            char got[21] = {};
            SQLLEN gotLen = 0;
            ASSERT_EQ(SQLGetData(s.stmt, 2, SQL_C_CHAR, got, sizeof got, &gotLen), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_STREQ(got, "v3");

            // An add from the first bound row, seen by the next execution.
            SetPtr(s.stmt, SQL_ATTR_ROW_OPERATION_PTR, nullptr);
            r.k[0] = 7;
            r.kInd[0] = sizeof(SQLINTEGER);
            SetValue(r, 0, "n7");
            ASSERT_EQ(SQLSetPos(s.stmt, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.status[0], SQL_ROW_ADDED);
            EXPECT_EQ(s.RowCount(), 1);
            // The same key again: the row is refused and marked in error.
            EXPECT_EQ(SQLSetPos(s.stmt, 1, SQL_ADD, SQL_LOCK_NO_CHANGE), SQL_ERROR);
            EXPECT_EQ(r.status[0], SQL_ROW_ERROR);
            EXPECT_EQ(s.RowCount(), 0);
            ASSERT_EQ(s.Exec("select id, v from t order by id"), SQL_SUCCESS) << AllDiags(s.stmt);
            r.Clear();
            ASSERT_EQ(SQLFetchScroll(s.stmt, SQL_FETCH_LAST, 0), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Keys(), "5 6 7=n7");
        }
    }
}

// Another user changed a row since it was fetched: our update finds no row as
// fetched and fails, the row in error (01S03, 01001 in ODBC 3); over every row
// the others still change and the operation warns (01S04, 01001 in ODBC 3).
TEST(SetPos, UpdateUnderValuesConcurrencyMeetsAnotherUsersChange) {
    const struct {
        SQLULEN version;
        const char* oneRow;
        const char* someRows;
    } versions[] = {{SQL_OV_ODBC3, "01001", "01001"}, {SQL_OV_ODBC2, "01S03", "01S04"}};
    for (const Lib& lib : kLibs) {
        for (const Cursor& cursor : kCursors) {
            for (const auto& ver : versions) {
                SCOPED_TRACE(testing::Message() << lib.driver << ", " << cursor.name << ", ODBC " << ver.version);
                Session s(lib, ver.version);
                s.Fill(4);
                Rowset3 r;
                OpenOnFirstRowset(s, r, cursor.type, ver.version);
                OtherUser other(s);
                other.Run("update t set v = 'other' where id = 2");
                SetValue(r, 1, "mine");
                ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
                EXPECT_EQ(StateOf(s.stmt), ver.oneRow) << AllDiags(s.stmt);
                EXPECT_EQ(r.status[1], SQL_ROW_ERROR);
                EXPECT_EQ(s.RowCount(), 0);

                other.Run("update t set v = 'other' where id = 3");
                SetValue(r, 0, "m1");
                SetValue(r, 2, "m3");
                ASSERT_EQ(SQLSetPos(s.stmt, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS_WITH_INFO);
                EXPECT_EQ(StateOf(s.stmt), ver.someRows) << AllDiags(s.stmt);
                EXPECT_EQ(r.Statuses(), "255");
                EXPECT_EQ(s.RowCount(), 1);
                EXPECT_EQ(s.Table(), "1:m1 2:other 3:other 4:v4");
            }
        }
    }
}

// A refresh of a keyset-driven cursor reads the server's rows again: another
// user's update reaches the buffers and their delete the status; the bookmarks
// come with every row.
TEST(SetPos, RefreshShowsAnotherUsersChanges) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        s.Fill(4);
        Rowset3 r;
        SQLLEN marks[3] = {}, markLen[3] = {};
        ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SQLBindCol(s.stmt, 0, SQL_C_VARBOOKMARK, marks, sizeof marks[0], markLen), SQL_SUCCESS);
        OpenOnFirstRowset(s, r, SQL_CURSOR_KEYSET_DRIVEN);
        OtherUser other(s);
        other.Run("update t set v = 'other' where id = 2");
        other.Run("delete from t where id = 3");

        ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_STREQ(r.v[1], "other");
        marks[0] = marks[1] = marks[2] = 0;
        ASSERT_EQ(SQLSetPos(s.stmt, 0, SQL_REFRESH, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(r.Statuses(), "001");
        EXPECT_EQ(std::to_string(marks[0]) + " " + std::to_string(marks[1]) + " " + std::to_string(marks[2]), "1 2 3");
        // The deleted row is refused alone.
        EXPECT_EQ(SQLSetPos(s.stmt, 3, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_ERROR);
        EXPECT_EQ(StateOf(s.stmt), "HY109");
    }
}

// Values given at execution for an update, the agent asking for them: one row,
// and every row, where each asked value names its own row's buffer.
TEST(SetPos, UpdateWithValuesGivenAtExecution) {
    for (const Lib& lib : kLibs) {
        for (const Cursor& cursor : kCursors) {
            SCOPED_TRACE(testing::Message() << lib.driver << ", " << cursor.name);
            Session s(lib);
            s.Fill(3);
            Rowset3 r;
            OpenOnFirstRowset(s, r, cursor.type);
            r.vInd[1] = SQL_LEN_DATA_AT_EXEC(0);
            ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << AllDiags(s.stmt);
            SQLPOINTER token = nullptr;
            ASSERT_EQ(SQLParamData(s.stmt, &token), SQL_NEED_DATA) << AllDiags(s.stmt);
            EXPECT_EQ(token, static_cast<SQLPOINTER>(r.v[1]));
            ASSERT_EQ(SQLPutData(s.stmt, const_cast<char*>("da"), 2), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(SQLPutData(s.stmt, const_cast<char*>("e2"), 2), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(SQLParamData(s.stmt, &token), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(r.Statuses(), "020");
            EXPECT_EQ(s.Table(), "1:v1 2:dae2 3:v3");

            SetValue(r, 1, "b2");
            r.vInd[0] = r.vInd[2] = SQL_DATA_AT_EXEC;
            ASSERT_EQ(SQLSetPos(s.stmt, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE), SQL_NEED_DATA) << AllDiags(s.stmt);
            std::vector<SQLPOINTER> asked;
            SQLRETURN rc = SQL_NEED_DATA;
            for (int n = 0; (rc = SQLParamData(s.stmt, &token)) == SQL_NEED_DATA && n < 5; ++n) {
                asked.push_back(token);
                const std::string v = token == r.v[0] ? "b1" : "b3";
                ASSERT_EQ(SQLPutData(s.stmt, const_cast<char*>(v.c_str()), SQL_NTS), SQL_SUCCESS) << AllDiags(s.stmt);
            }
            ASSERT_EQ(rc, SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(asked, (std::vector<SQLPOINTER>{r.v[0], r.v[2]}));
            EXPECT_EQ(s.Table(), "1:b1 2:b2 3:b3");
        }
    }
}

// Each refusal on a cursor that also breaks every later check, so that the
// order shows.
TEST(SetPos, RefusalsInTheOrderTheyAreChecked) {
    enum Setup { Open, ReadOnly, ForwardOnly, NotFetched, RowDeleted, Unbound };
    const struct {
        const char* name;
        Setup setup;
        SQLSETPOSIROW row;
        SQLUSMALLINT operation, lock;
        const char* odbc3;
        const char* odbc2;
    } cases[] = {
        {"a lock asked for", ForwardOnly, 9, SQL_UPDATE, SQL_LOCK_EXCLUSIVE, "HYC00", "S1C00"},
        {"forward-only", ForwardOnly, 9, SQL_UPDATE, SQL_LOCK_NO_CHANGE, "HY109", "S1109"},
        {"read-only concurrency", ReadOnly, 9, SQL_DELETE, SQL_LOCK_NO_CHANGE, "HY009", "S1009"},
        {"no rowset fetched", NotFetched, 9, SQL_UPDATE, SQL_LOCK_NO_CHANGE, "24000", "24000"},
        {"a row past the rowset", RowDeleted, 4, SQL_UPDATE, SQL_LOCK_NO_CHANGE, "HY107", "S1107"},
        {"a deleted row", RowDeleted, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE, "HY109", "S1109"},
        {"a deleted row refreshed", RowDeleted, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE, "HY109", "S1109"},
        {"no column bound", Unbound, 1, SQL_UPDATE, SQL_LOCK_NO_CHANGE, "21S02", "21S02"},
    };
    for (const Lib& lib : kLibs) {
        for (SQLULEN version : {SQL_OV_ODBC3, SQL_OV_ODBC2}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(testing::Message() << lib.driver << ", ODBC " << version << ", " << c.name);
                Session s(lib, version);
                s.Fill(4);
                Rowset3 r;
                if (c.setup == ForwardOnly || c.setup == NotFetched) {
                    r.Bind(s.stmt, version == SQL_OV_ODBC3);
                    const SQLULEN type = c.setup == ForwardOnly ? SQL_CURSOR_FORWARD_ONLY : SQL_CURSOR_KEYSET_DRIVEN;
                    ASSERT_EQ(s.Open(type, 3, "select id, v from t order by id", SQL_CONCUR_READ_ONLY), SQL_SUCCESS)
                        << AllDiags(s.stmt);
                    if (c.setup == ForwardOnly) {
                        ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
                    }
                } else {
                    OpenOnFirstRowset(s, r, SQL_CURSOR_KEYSET_DRIVEN, version,
                                      c.setup == ReadOnly ? SQL_CONCUR_READ_ONLY : SQL_CONCUR_VALUES);
                }
                if (c.setup == RowDeleted) {
                    ASSERT_EQ(SQLSetPos(s.stmt, 2, SQL_DELETE, SQL_LOCK_NO_CHANGE), SQL_SUCCESS) << AllDiags(s.stmt);
                }
                if (c.setup == Unbound) {
                    ASSERT_EQ(SQLFreeStmt(s.stmt, SQL_UNBIND), SQL_SUCCESS);
                }
                EXPECT_EQ(SQLSetPos(s.stmt, c.row, c.operation, c.lock), SQL_ERROR);
                EXPECT_EQ(StateOf(s.stmt), version == SQL_OV_ODBC3 ? c.odbc3 : c.odbc2) << AllDiags(s.stmt);
            }
        }
    }
}

// The positioned operations served are announced for both cursor kinds.
TEST(SetPos, CursorAttributesAnnounceThePositionedOperations) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        constexpr SQLUINTEGER kServed = SQL_CA1_POS_POSITION | SQL_CA1_POS_UPDATE | SQL_CA1_POS_DELETE |
                                        SQL_CA1_POS_REFRESH | SQL_CA1_LOCK_NO_CHANGE;
        for (SQLUSMALLINT info : {SQL_KEYSET_CURSOR_ATTRIBUTES1, SQL_STATIC_CURSOR_ATTRIBUTES1}) {
            SQLUINTEGER bits = 0;
            ASSERT_EQ(SQLGetInfo(s.dbc, info, &bits, sizeof bits, nullptr), SQL_SUCCESS);
            EXPECT_EQ(bits & (kServed | SQL_CA1_LOCK_EXCLUSIVE | SQL_CA1_LOCK_UNLOCK), kServed) << info;
        }
    }
}

}  // namespace
