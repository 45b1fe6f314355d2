// SQLBulkOperations through unixODBC against the embedded server, in both libraries: rows
// added from the bound arrays, updated, deleted and fetched by the bookmarks of a bound
// column (read at its own C type and stride), in the bookmarks' order; the refusals before
// any work; data at execution for an update; a conflict under values concurrency.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <cstring>
#include <string>
#include <vector>

#include "tests/integration/cursor_fixture.h"

namespace {

using curtest::AllDiags;
using curtest::ExecOn;
using curtest::GetAttr;
using curtest::OtherUser;
using curtest::Rowset3;
using curtest::SetAttr;
using curtest::SetPtr;
using curtest::StateOf;
using itest::kLibs;
using itest::Lib;

constexpr const char* kKeyed = "create table t (id integer not null primary key, v varchar(20))";

struct Session : curtest::Session {
    explicit Session(const Lib& l) : curtest::Session(l, "bulk", kKeyed, SQL_OV_ODBC3) {}
};

// A cursor of the type over t with bookmarks on, a rowset of three bound column-wise, the
// bookmark column bound as an array of SQL_C_BOOKMARK, the IRD's statuses in status.
struct Bulk {
    Session s;
    Rowset3 r;
    SQLULEN marks[3] = {};
    SQLLEN markInd[3] = {};
    SQLUSMALLINT status[3] = {};

    Bulk(const Lib& lib, SQLULEN type, SQLULEN concurrency, int rows = 6) : s(lib) {
        s.Fill(rows);
        r.Bind(s.stmt);
        SetPtr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status);
        SetAttr(s.stmt, SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE);
        SQLBindCol(s.stmt, 0, SQL_C_BOOKMARK, marks, sizeof marks[0], markInd);
        EXPECT_EQ(s.Open(type, 3, "select id, v from t order by id", concurrency), SQL_SUCCESS) << AllDiags(s.stmt);
    }
    SQLRETURN Run(SQLSMALLINT op) { return SQLBulkOperations(s.stmt, op); }
    void Mark(SQLULEN a, SQLULEN b, SQLULEN c) {
        marks[0] = a;
        marks[1] = b;
        marks[2] = c;
    }
    std::string Statuses() const {
        std::string out;
        for (SQLUSMALLINT st : status)
            out += static_cast<char>('0' + st);
        return out;
    }
};

// Rows 1-3 in the rowset: an update by bookmarks 3, 1, 2 writes image row i to the row of
// bookmark i; a delete by bookmarks removes those rows; a fetch by bookmarks hands the rows
// back in the bookmarks' order, a row another user deleted as SQL_ROW_DELETED. Keyset and
// static cursors alike.
TEST(BulkOperations, UpdateDeleteAndFetchByBookmark) {
    for (const Lib& lib : kLibs) {
        for (SQLULEN type : {SQLULEN{SQL_CURSOR_KEYSET_DRIVEN}, SQLULEN{SQL_CURSOR_STATIC}}) {
            SCOPED_TRACE(lib.driver + std::string(type == SQL_CURSOR_STATIC ? " static" : " keyset"));
            Bulk b(lib, type, SQL_CONCUR_LOCK);
            ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(b.s.stmt);
            EXPECT_EQ(std::vector<SQLULEN>(b.marks, b.marks + 3), (std::vector<SQLULEN>{1, 2, 3}));

            b.Mark(3, 1, 2);
            b.r.kInd[0] = SQL_COLUMN_IGNORE;  // the key is not written
            for (int i = 0; i < 3; ++i) {
                std::snprintf(b.r.v[i], sizeof b.r.v[i], "new%d", i);
                b.r.vInd[i] = SQL_NTS;
            }
            ASSERT_EQ(b.Run(SQL_UPDATE_BY_BOOKMARK), SQL_SUCCESS) << AllDiags(b.s.stmt);
            EXPECT_EQ(b.Statuses(), "222");
            EXPECT_EQ(b.s.Table(), "1:new1 2:new2 3:new0 4:v4 5:v5 6:v6");
            // No current rowset after a bulk operation until the next fetch.
            EXPECT_EQ(b.Run(SQL_DELETE_BY_BOOKMARK), SQL_ERROR);
            EXPECT_EQ(StateOf(b.s.stmt), "IM925");

            ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_ABSOLUTE, 4), SQL_SUCCESS) << AllDiags(b.s.stmt);
            b.Mark(6, 4, 6);
            ASSERT_EQ(b.Run(SQL_DELETE_BY_BOOKMARK), SQL_SUCCESS_WITH_INFO) << AllDiags(b.s.stmt);
            EXPECT_EQ(b.Statuses(), "115");  // the second delete of 6 finds nothing
            EXPECT_EQ(b.s.Table(), "1:new1 2:new2 3:new0 5:v5");

            ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS) << AllDiags(b.s.stmt);
            OtherUser other(b.s);
            other.Run("delete from t where id = 2");
            b.Mark(3, 2, 1);
            b.r.Clear();
            b.r.kInd[0] = 0;
            ASSERT_EQ(b.Run(SQL_FETCH_BY_BOOKMARK), SQL_SUCCESS) << AllDiags(b.s.stmt);
            if (type == SQL_CURSOR_STATIC) {
                // A snapshot keeps the rows as it read them, and the statuses of the
                // cursor's own updates.
                EXPECT_EQ(b.r.Keys(), "3 2 1");
                EXPECT_EQ(b.Statuses(), "222");
            } else {
                EXPECT_EQ(b.r.Keys(), "3=new0 - 1=new1");
                EXPECT_EQ(b.Statuses(), "010");
            }
            EXPECT_EQ(std::vector<SQLULEN>(b.marks, b.marks + 3), (std::vector<SQLULEN>{3, 2, 1}));
        }
    }
}

// Refusals before any work: an operation outside 4-7, a bookmark outside the rowset, a
// cursor that numbers no rows.
TEST(BulkOperations, RefusalsBeforeAnyWork) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bulk b(lib, SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK);
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        EXPECT_EQ(b.Run(8), SQL_ERROR);
        EXPECT_EQ(StateOf(b.s.stmt), "HY092");
        b.Mark(1, 2, 4);
        EXPECT_EQ(b.Run(SQL_DELETE_BY_BOOKMARK), SQL_ERROR);
        EXPECT_EQ(StateOf(b.s.stmt), "IM925");
        EXPECT_EQ(b.s.Table(), "1:v1 2:v2 3:v3 4:v4 5:v5 6:v6");

        Bulk d(lib, SQL_CURSOR_DYNAMIC, SQL_CONCUR_LOCK);
        ASSERT_EQ(SQLFetchScroll(d.s.stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
        EXPECT_EQ(d.Run(SQL_FETCH_BY_BOOKMARK), SQL_ERROR);
        EXPECT_EQ(StateOf(d.s.stmt), "IM924");
    }
}

// SQL_ADD adds the bound rows (SQL_ROW_ADDED); the rows are there after a new execution.
TEST(BulkOperations, AddsTheBoundRows) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bulk b(lib, SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK, 2);
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        for (int i = 0; i < 3; ++i) {
            b.r.k[i] = 10 + i;
            b.r.kInd[i] = 0;
            std::snprintf(b.r.v[i], sizeof b.r.v[i], "added%d", i);
            b.r.vInd[i] = SQL_NTS;
        }
        ASSERT_EQ(b.Run(SQL_ADD), SQL_SUCCESS) << AllDiags(b.s.stmt);
        EXPECT_EQ(b.Statuses(), "444");
        EXPECT_EQ(b.s.Table(), "1:v1 2:v2 10:added0 11:added1 12:added2");
    }
}

// An update whose value is given at execution: SQL_NEED_DATA, the value by SQLPutData, the
// update at the last SQLParamData; the driver collects it on either road.
TEST(BulkOperations, UpdateWithDataAtExecution) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bulk b(lib, SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK);
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        SQLBindCol(b.s.stmt, 1, SQL_C_SLONG, nullptr, 0, nullptr);  // the key is not written
        b.Mark(1, 1, 1);
        SetAttr(b.s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, 1);
        b.r.vInd[0] = SQL_LEN_DATA_AT_EXEC(0);
        ASSERT_EQ(b.Run(SQL_UPDATE_BY_BOOKMARK), SQL_NEED_DATA) << AllDiags(b.s.stmt);
        SQLPOINTER token = nullptr;
        ASSERT_EQ(SQLParamData(b.s.stmt, &token), SQL_NEED_DATA) << AllDiags(b.s.stmt);
        EXPECT_EQ(token, static_cast<SQLPOINTER>(b.r.v[0]));
        char piece[] = "late";
        ASSERT_EQ(SQLPutData(b.s.stmt, piece, 4), SQL_SUCCESS) << AllDiags(b.s.stmt);
        ASSERT_EQ(SQLPutData(b.s.stmt, piece, 2), SQL_SUCCESS) << AllDiags(b.s.stmt);
        ASSERT_EQ(SQLParamData(b.s.stmt, &token), SQL_SUCCESS) << AllDiags(b.s.stmt);
        EXPECT_EQ(b.status[0], SQL_ROW_UPDATED);
        EXPECT_EQ(b.s.Table(), "1:latela 2:v2 3:v3 4:v4 5:v5 6:v6");
    }
}

// Values concurrency: another user changed a row after our fetch; the update by its bookmark
// fails for that row alone (01001, SQL_ROW_ERROR) and leaves it as the other user left it.
TEST(BulkOperations, ValuesConflictByBookmark) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Bulk b(lib, SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_VALUES);
        ASSERT_EQ(SQLFetchScroll(b.s.stmt, SQL_FETCH_FIRST, 0), SQL_SUCCESS);
        OtherUser other(b.s);
        other.Run("update t set v = 'theirs' where id = 2");
        b.Mark(1, 2, 3);
        b.r.kInd[0] = SQL_COLUMN_IGNORE;
        for (int i = 0; i < 3; ++i) {
            std::strcpy(b.r.v[i], "mine");
            b.r.vInd[i] = SQL_NTS;
        }
        ASSERT_EQ(b.Run(SQL_UPDATE_BY_BOOKMARK), SQL_SUCCESS_WITH_INFO) << AllDiags(b.s.stmt);
        EXPECT_EQ(b.Statuses(), "252");
        EXPECT_EQ(b.s.Table(), "1:mine 2:theirs 3:mine 4:v4 5:v5 6:v6");
    }
}

}  // namespace
