// Positioned update, delete, add and refresh of the cursor library over the embedded
// server, driven through slot 37 with a recording table between the library and the agent:
// the generated texts and parameter rows, the row statuses, the codes, and what the
// database holds afterwards (read by a second connection).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_conn.h"
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
#include "util/utheap.h"

namespace {

using Strings = std::vector<std::string>;
using Statuses = std::vector<int>;
using exectest::Value;

constexpr uint16_t kRefresh = 1, kUpdate = 2, kDelete = 3, kAdd = 4;

class ScsSetPos : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        AnnounceLibrary();
        ASSERT_EQ(Exec("CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, a VARCHAR(20), b VARCHAR(20))"), 0);
        for (const char* row : {"1, 'a1', NULL", "2, 'a2', 'b2'", "3, 'a3', NULL", "4, 'a4', 'b4'", "5, 'a5', 'b5'"})
            ASSERT_EQ(Exec((std::string("INSERT INTO t VALUES (") + row + ")").c_str()), 0);
        ASSERT_EQ(Connect(&conn2), 0);
        ASSERT_EQ(lib->DRV_AllocStmt(conn2, &stmt2), 0);
        before = SCR_SetAgentTable(rt.Table());
    }
    void TearDown() override {
        SCR_SetAgentTable(before);
        if (stmt2 != 0) {
            EXPECT_EQ(lib->DRV_FreeStmt(stmt2), 0);
        }
        if (conn2 != 0) {
            EXPECT_EQ(lib->DRV_Disconnect(conn2), 0);
        }
        LibraryTest::TearDown();
    }

    // Opens the query as a cursor of the type and concurrency and fetches its first rowset.
    void Open(int32_t type, int32_t concurrency, int32_t rowset, const char* sql) {
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_CURSOR_TYPE, &type), 0);
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_CONCURRENCY, &concurrency), 0);
        ASSERT_EQ(lib->DRV_SetProperty(stmt, OA_PROP_ROWSET_SIZE, &rowset), 0);
        ASSERT_EQ(lib->DRV_Prepare(stmt, sql), 0);
        ASSERT_EQ(lib->DRV_Execute(stmt), 0) << rt.Render();
        ASSERT_EQ(cur->opts->concurrency, concurrency);
        std::vector<Strings> rows;
        Statuses st;
        ASSERT_EQ(Fetch(1, &rows, &st), 0) << rt.Render();
    }
    // The rowset at row: its rows rendered and its statuses.
    int Fetch(int32_t row, std::vector<Strings>* rows, Statuses* st) {
        DS_ROWSET* rs = nullptr;
        uint32_t fetched = 0;
        int32_t count = 0;
        const int rc = lib->DRV_ExtendedFetch(stmt, &rs, row, &fetched, &count, 5);
        rows->clear();
        st->clear();
        if (rs != nullptr && rs->rows != nullptr) {
            *rows = exectest::Rows(*rs->rows);
            for (int32_t i = 0; i < rs->rows->rowsUsed; ++i)
                st->push_back(rs->rowStatus[i]);
        }
        ds_RowsetFree(&rs);
        return rc;
    }
    // Slot 37; the statuses handed out go to *st.
    int SetPos(int32_t row, uint16_t op, Statuses* st, DATASET* image = nullptr, std::vector<uint16_t> cols = {}) {
        uint16_t* out = nullptr;
        int32_t n = 0;
        rt.Clear();
        const int rc = lib->DRV_SetPos(stmt, row, op, 0, &out, &n, image, cols.empty() ? nullptr : cols.data(),
                                       static_cast<uint16_t>(cols.size()));
        st->assign(out, out + (out != nullptr ? n : 0));
        uh_Free(out);
        if (image != nullptr)
            DatasetDeleter{}(image);
        return rc;
    }
    // The table as the other connection reads it, "id:a:b" a row.
    Strings Table() {
        Strings out;
        EXPECT_EQ(lib->DRV_PrepareAndExecute(stmt2, "SELECT id, a, b FROM t ORDER BY id", nullptr, 0, nullptr), 0);
        DATASET block{};
        EXPECT_EQ(OA_AgentOpTable.DRV_Fetch(stmt2, 50, &block), 0);
        for (const Strings& r : exectest::Rows(block))
            out.push_back(r[0] + ":" + r[1] + ":" + r[2]);
        ds_Free(&block);
        OA_AgentOpTable.DRV_CloseCursor(stmt2);
        return out;
    }
    int Other(const char* sql) { return lib->DRV_PrepareAndExecute(stmt2, sql, nullptr, 0, nullptr); }
    Strings Prepared() const {
        Strings out;
        for (const rec::RecordedCall& c : rt.CallsOf(11))
            if (c.handle == cur->aux1 && c.text)
                out.push_back(sqltest::Collapsed(*c.text));
        return out;
    }
    std::vector<Strings> ParamRows() const {
        std::vector<Strings> out;
        for (const rec::RecordedCall& c : rt.CallsOf(12))
            if (c.handle == cur->aux1 && c.values && !c.values->rows.empty())
                out.push_back(c.values->rows[0]);
        return out;
    }
    // A row image whose row i is marked ignored.
    static DATASET* Ignoring(DATASET* image, int32_t i) {
        image->cols[0].indicators[i] = DS_IND_IGNORE;
        return image;
    }

    rec::RecordingTable rt{&OA_AgentOpTable};
    const OA_OPTABLE* before = nullptr;
    uint32_t conn2 = 0, stmt2 = 0;
};

// One row updated, then one deleted, by key, in each concurrency: under values the row is
// also found by every table column as fetched, a NULL one with IS NULL.
TEST_F(ScsSetPos, UpdateAndDeleteOneRowInEachConcurrency) {
    const struct {
        int32_t concurrency;
        const char* update;
        Strings updateParams;
        const char* del;
        Strings deleteParams;
    } cases[] = {
        {SCS_LOCK, "UPDATE \"PUB\".\"t\" SET \"a\" = ? WHERE \"id\" = ?", {"x", "2"},
         "DELETE FROM \"PUB\".\"t\" WHERE \"id\" = ?", {"3"}},
        {SCS_VALUES,
         "UPDATE \"PUB\".\"t\" SET \"a\" = ? WHERE \"id\" = ? AND \"id\" = ? AND \"a\" = ? AND \"b\" = ?",
         {"x", "2", "2", "a2", "b2"},
         "DELETE FROM \"PUB\".\"t\" WHERE \"id\" = ? AND \"id\" = ? AND \"a\" = ? AND \"b\" IS NULL",
         {"3", "3", "a3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.concurrency);
        Open(SCS_KEYSET, c.concurrency, 3, "SELECT id, a FROM t ORDER BY id");
        Statuses st;
        ASSERT_EQ(SetPos(2, kUpdate, &st, exectest::Params({{"x"}, {"x"}}), {2}), 0) << rt.Render();
        EXPECT_EQ(st, (Statuses{2}));
        EXPECT_EQ(cur->affectedRows, 1);
        EXPECT_EQ(Prepared(), (Strings{c.update}));
        EXPECT_EQ(ParamRows(), (std::vector<Strings>{c.updateParams}));

        ASSERT_EQ(SetPos(3, kDelete, &st), 0) << rt.Render();
        EXPECT_EQ(st, (Statuses{1}));
        EXPECT_EQ(Prepared(), (Strings{c.del}));
        EXPECT_EQ(ParamRows(), (std::vector<Strings>{c.deleteParams}));
        // The deleted row is refused as a single row.
        EXPECT_EQ(SetPos(3, kDelete, &st), ERR_INVALID_CURSOR_POSITION);

        EXPECT_EQ(Table(), (Strings{"1:a1:NULL", "2:x:b2", "4:a4:b4", "5:a5:b5"}));
        ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (3, 'a3', NULL)"), 0);
        ASSERT_EQ(Exec("UPDATE t SET a = 'a' || CAST(id AS VARCHAR(5))"), 0);
    }
}

// Every row: rows deleted before and rows marked ignored are passed over with their
// statuses; a row another connection deleted fails (5) and the code says fewer rows
// changed than were tried. The fetch shows the rows as the keyset now knows them.
TEST_F(ScsSetPos, EveryRowPassesOverDeletedAndIgnoredRows) {
    Open(SCS_KEYSET, SCS_LOCK, 4, "SELECT id, a FROM t ORDER BY id");
    Statuses st;
    ASSERT_EQ(SetPos(1, kDelete, &st), 0);
    DATASET* image = Ignoring(exectest::Params({{"p"}, {"q"}, {"r"}, {"s"}}), 2);
    ASSERT_EQ(SetPos(-2, kUpdate, &st, image, {2}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{1, 2, 0, 2}));
    EXPECT_EQ(cur->affectedRows, 2);
    EXPECT_EQ(ParamRows(), (std::vector<Strings>{{"q", "2"}, {"s", "4"}}));

    ASSERT_EQ(Other("DELETE FROM t WHERE id = 3"), 0);
    ASSERT_EQ(SetPos(-2, kDelete, &st), ERR_MORE_THAN_ONE_ROW_UPDATED_OR);
    EXPECT_EQ(st, (Statuses{1, 1, 5, 1}));
    EXPECT_EQ(cur->affectedRows, 2);
    EXPECT_EQ(Table(), (Strings{"5:a5:b5"}));

    // A rowset past the last key reports no row for the rest.
    std::vector<Strings> rows;
    ASSERT_EQ(Fetch(4, &rows, &st), 0);
    ASSERT_EQ(SetPos(-2, kDelete, &st), 0);
    EXPECT_EQ(st, (Statuses{1, 1, 3, 3}));
    ASSERT_EQ(SetPos(-2, kDelete, &st), ERR_NO_ROWS_UPDATED_OR_DELETED);
    EXPECT_EQ(st, (Statuses{1, 1, 3, 3}));
}

// Values concurrency: a row another connection changed is not found (5, 01S03); a refresh
// reads its values again, after which the update goes through. A row the other connection
// deleted is reported deleted by the refresh.
TEST_F(ScsSetPos, ValuesConflictThenRefresh) {
    Open(SCS_KEYSET, SCS_VALUES, 3, "SELECT id, a FROM t ORDER BY id");
    ASSERT_EQ(Other("UPDATE t SET a = 'other' WHERE id = 2"), 0);
    ASSERT_EQ(Other("DELETE FROM t WHERE id = 3"), 0);
    Statuses st;
    EXPECT_EQ(SetPos(2, kUpdate, &st, exectest::Params({{"x"}, {"mine"}}), {2}), ERR_NO_ROWS_UPDATED_OR_DELETED);
    EXPECT_EQ(st, (Statuses{5}));
    EXPECT_EQ(cur->affectedRows, 0);

    ASSERT_EQ(SetPos(-2, kRefresh, &st), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{0, 0, 1}));
    ASSERT_EQ(SetPos(2, kUpdate, &st, exectest::Params({{"x"}, {"mine"}}), {2}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{2}));
    EXPECT_EQ(Table(), (Strings{"1:a1:NULL", "2:mine:b2", "4:a4:b4", "5:a5:b5"}));
}

// A second update of the same row compares the values the first one wrote; a row whose
// compared value is NULL takes IS NULL, the next without NULLs "= ?" again.
TEST_F(ScsSetPos, SecondUpdateOfARowAndNullComparedValues) {
    Open(SCS_KEYSET, SCS_VALUES, 2, "SELECT a, id FROM t ORDER BY id");
    Statuses st;
    ASSERT_EQ(SetPos(-2, kUpdate, &st, exectest::Params({{"p"}, {"q"}}), {1}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{2, 2}));
    const std::string head = "UPDATE \"PUB\".\"t\" SET \"a\" = ? WHERE \"id\" = ? AND \"id\" = ? AND \"a\" = ?";
    EXPECT_EQ(Prepared(), (Strings{head + " AND \"b\" IS NULL", head + " AND \"b\" = ?"}));
    ASSERT_EQ(SetPos(1, kUpdate, &st, exectest::Params({{"pp"}, {"qq"}}), {1}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{2}));
    EXPECT_EQ(ParamRows(), (std::vector<Strings>{{"pp", "1", "1", "p"}}));
    std::vector<Strings> rows;
    ASSERT_EQ(Fetch(1, &rows, &st), 0);
    EXPECT_EQ(rows, (std::vector<Strings>{{"pp", "1"}, {"q", "2"}}));
    EXPECT_EQ(st, (Statuses{0, 0}));
}

// The written columns are the base columns of the select list, whatever the labels say; an
// expression has none and cannot be written.
TEST_F(ScsSetPos, WritesBaseColumnsAndRefusesExpressions) {
    Open(SCS_KEYSET, SCS_LOCK, 1, "SELECT a AS b, b AS a, a || 'z' AS e FROM t ORDER BY id");
    Statuses st;
    ASSERT_EQ(SetPos(1, kUpdate, &st, exectest::Params({{"to-a", "to-b", "to-e"}}), {1, 2, 3}), 0) << rt.Render();
    EXPECT_EQ(Prepared(), (Strings{"UPDATE \"PUB\".\"t\" SET \"a\" = ?, \"b\" = ? WHERE \"id\" = ?"}));
    EXPECT_EQ(ParamRows(), (std::vector<Strings>{{"to-a", "to-b", "1"}}));
    EXPECT_EQ(Table().front(), "1:to-a:to-b");
    EXPECT_EQ(SetPos(1, kUpdate, &st, exectest::Params({{"e"}}), {3}), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_TRUE(st.empty());
}

// More parameters than the agent takes fail the operation before anything runs.
TEST_F(ScsSetPos, TooManyParametersFailCleanly) {
    Open(SCS_KEYSET, SCS_VALUES, 1, "SELECT a FROM t ORDER BY id");
    cur->maxParams = 4;  // SET a, key, and three compared columns make five
    Statuses st;
    EXPECT_EQ(SetPos(1, kUpdate, &st, exectest::Params({{"x"}}), {1}), ERR_GENERAL_ERROR);
    EXPECT_TRUE(st.empty());
    EXPECT_TRUE(Prepared().empty());
    EXPECT_EQ(Table().front(), "1:a1:NULL");
}

// Lock concurrency in a transaction: the fetch locked the rows by key, the update and the
// delete go by key alone and the other connection sees them once committed.
TEST_F(ScsSetPos, LockConcurrencyInATransaction) {
    int32_t off = 0;
    ASSERT_EQ(lib->DRV_SetProperty(conn, OA_PROP_AUTOCOMMIT, &off), 0);
    Open(SCS_KEYSET, SCS_LOCK, 2, "SELECT id, a FROM t ORDER BY id");
    ASSERT_FALSE(Prepared().empty());
    EXPECT_EQ(Prepared().back(), "UPDATE \"PUB\".\"t\" SET \"id\" = ? WHERE \"id\" = ?");
    Statuses st;
    ASSERT_EQ(SetPos(-2, kUpdate, &st, exectest::Params({{"l1"}, {"l2"}}), {2}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{2, 2}));
    EXPECT_EQ(Prepared(), (Strings{"UPDATE \"PUB\".\"t\" SET \"a\" = ? WHERE \"id\" = ?"}));
    ASSERT_EQ(SetPos(2, kDelete, &st), 0);
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    ASSERT_EQ(lib->DRV_Commit(conn), 0);
    EXPECT_EQ(Table(), (Strings{"1:l1:NULL", "3:a3:NULL", "4:a4:b4", "5:a5:b5"}));
}

// A read-only cursor refreshes its rows but changes none; operations outside refresh,
// update, delete and add only position.
TEST_F(ScsSetPos, ReadOnlyKeysetCursor) {
    Open(SCS_KEYSET, SCS_READ_ONLY, 2, "SELECT id, a FROM t ORDER BY id");
    ASSERT_EQ(Other("DELETE FROM t WHERE id = 2"), 0);
    Statuses st;
    EXPECT_EQ(SetPos(1, kUpdate, &st, exectest::Params({{"x"}, {"x"}}), {2}), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(SetPos(1, kDelete, &st), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_TRUE(st.empty());
    ASSERT_EQ(SetPos(-2, kRefresh, &st), 0);
    EXPECT_EQ(st, (Statuses{0, 1}));
    ASSERT_EQ(SetPos(2, 0, &st), 0);
    EXPECT_EQ(cur->position, 2);
    EXPECT_EQ(Table().front(), "1:a1:NULL");
}

// Adding rows: an INSERT of the written columns per row not ignored (ignored ones no row);
// a row the server refuses is an error in its row, its message on the application's
// statement, and the rest go in.
TEST_F(ScsSetPos, AddRows) {
    Open(SCS_KEYSET, SCS_LOCK, 3, "SELECT id, a FROM t ORDER BY id");
    Statuses st;
    DATASET* image = Ignoring(exectest::Params({{10, "n10"}, {11, "n11"}, {12, "n12"}}), 1);
    ASSERT_EQ(SetPos(-2, kAdd, &st, image, {1, 2}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{4, 3, 4}));
    EXPECT_EQ(cur->affectedRows, 2);
    EXPECT_EQ(Prepared(), (Strings{"INSERT INTO \"PUB\".\"t\" ( \"id\", \"a\" ) VALUES ( ?, ? )"}));
    EXPECT_EQ(ParamRows(), (std::vector<Strings>{{"10", "n10"}, {"12", "n12"}}));

    DATASET* clash = exectest::Params({{13, "n13"}, {1, "dup"}, {14, "n14"}});
    ASSERT_EQ(SetPos(-2, kAdd, &st, clash, {1, 2}), ERR_ERROR_IN_ROW);
    EXPECT_EQ(st, (Statuses{4, 5, 4}));
    // The server's message about the refused row is the application statement's.
    EXPECT_EQ(exectest::Records(oa_FindStmt(stmt)->errors).size(), 1u);
    EXPECT_TRUE(exectest::Records(oa_FindStmt(cur->aux1)->errors).empty());
    EXPECT_EQ(Table().size(), 9u);
}

// A static cursor under values concurrency finds its rows by the snapshot's hidden keys
// and values; after an update the snapshot holds the row as written, so a second update
// finds it and the next fetch shows it.
TEST_F(ScsSetPos, StaticCursorWithValuesConcurrency) {
    Open(SCS_STATIC, SCS_VALUES, 2, "SELECT id, a FROM t ORDER BY id");
    Statuses st;
    ASSERT_EQ(SetPos(2, kUpdate, &st, exectest::Params({{"x"}, {"s1"}}), {2}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{2}));
    EXPECT_EQ(ParamRows(), (std::vector<Strings>{{"s1", "2", "2", "a2", "b2"}}));
    ASSERT_EQ(SetPos(2, kUpdate, &st, exectest::Params({{"x"}, {"s2"}}), {2}), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{2}));
    std::vector<Strings> rows;
    ASSERT_EQ(Fetch(1, &rows, &st), 0);
    EXPECT_EQ(rows, (std::vector<Strings>{{"1", "a1"}, {"2", "s2"}}));
    EXPECT_EQ(st, (Statuses{0, 2}));
    EXPECT_EQ(Table()[1], "2:s2:b2");
}

}  // namespace

// ---- Bulk operations by bookmark (slot 42) -------------------------------------------------

namespace {

constexpr uint16_t kUpdateByBookmark = 5, kDeleteByBookmark = 6, kFetchByBookmark = 7;

class ScsBulk : public ScsSetPos {
protected:
    // Slot 42 with the bookmarks; the statuses to *st, the fetched rows (when a fetch) to
    // *rows.
    int Bulk(uint16_t op, std::vector<int32_t> marks, Statuses* st, DATASET* image = nullptr,
             std::vector<uint16_t> cols = {}, std::vector<Strings>* rows = nullptr) {
        uint16_t* out = nullptr;
        uint32_t count = 0;
        DS_ROWSET* rs = nullptr;
        rt.Clear();
        const int rc = lib->DRV_BulkOperations(stmt, op, marks.data(), static_cast<uint32_t>(marks.size()), image,
                                               cols.empty() ? nullptr : cols.data(), static_cast<uint16_t>(cols.size()),
                                               &out, &count, op == kFetchByBookmark ? &rs : nullptr);
        st->assign(out, out + (out != nullptr ? marks.size() : 0));
        uh_Free(out);
        if (rows != nullptr && rs != nullptr && rs->rows != nullptr)
            *rows = exectest::Rows(*rs->rows);
        ds_RowsetFree(&rs);
        if (image != nullptr)
            DatasetDeleter{}(image);
        return rc;
    }
};

// Update and delete by bookmark: each bookmark's row by its key (under values also by its
// values as fetched, a NULL one with IS NULL and no parameter), with image row i for
// bookmark i; an alias in the select list does not name the column written.
TEST_F(ScsBulk, UpdateAndDeleteTextsParametersAndStatuses) {
    const struct {
        int32_t concurrency;
        Strings updates;
        std::vector<Strings> updateParams;
        Strings deletes;
        std::vector<Strings> deleteParams;
    } cases[] = {
        {SCS_LOCK,
         {"UPDATE \"PUB\".\"t\" SET \"b\" = ? WHERE \"id\" = ?"},
         {{"for3", "3"}, {"for1", "1"}},
         {"DELETE FROM \"PUB\".\"t\" WHERE \"id\" = ?"},
         {{"2"}}},
        {SCS_VALUES,
         {"UPDATE \"PUB\".\"t\" SET \"b\" = ? WHERE \"id\" = ? AND \"id\" = ? AND \"a\" = ? AND \"b\" IS NULL"},
         {{"for3", "3", "3", "a3"}, {"for1", "1", "1", "a1"}},
         {"DELETE FROM \"PUB\".\"t\" WHERE \"id\" = ? AND \"id\" = ? AND \"a\" = ? AND \"b\" = ?"},
         {{"2", "2", "a2", "b2"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.concurrency);
        Open(SCS_KEYSET, c.concurrency, 3, "SELECT id, b AS label FROM t ORDER BY id");
        Statuses st;
        ASSERT_EQ(Bulk(kUpdateByBookmark, {3, 1}, &st, exectest::Params({{"for3"}, {"for1"}}), {2}), 0)
            << rt.Render();
        EXPECT_EQ(st, (Statuses{2, 2}));
        EXPECT_EQ(cur->affectedRows, 2);
        EXPECT_EQ(Prepared(), c.updates);
        EXPECT_EQ(ParamRows(), c.updateParams);
        ASSERT_EQ(Bulk(kDeleteByBookmark, {2}, &st), 0) << rt.Render();
        EXPECT_EQ(st, (Statuses{1}));
        EXPECT_EQ(Prepared(), c.deletes);
        EXPECT_EQ(ParamRows(), c.deleteParams);
        EXPECT_EQ(Table(), (Strings{"1:a1:for1", "3:a3:for3", "4:a4:b4", "5:a5:b5"}));
        ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (2, 'a2', 'b2')"), 0);
        ASSERT_EQ(Exec("UPDATE t SET b = NULL WHERE id IN (1, 3)"), 0);
    }
}

// Outcomes: one row of many that fails warns (01S04) with its status 5; none changed is
// 01S03; a bookmark outside the rowset, an operation outside 5-7 and a column that is no
// result column are refused before any statement runs.
TEST_F(ScsBulk, OutcomesAndRefusals) {
    Open(SCS_KEYSET, SCS_LOCK, 3, "SELECT id, a FROM t ORDER BY id");
    Statuses st;
    ASSERT_EQ(Other("DELETE FROM t WHERE id = 2"), 0);
    EXPECT_EQ(Bulk(kDeleteByBookmark, {1, 2, 3}, &st), ERR_MORE_THAN_ONE_ROW_UPDATED_OR);
    EXPECT_EQ(st, (Statuses{1, 5, 1}));
    EXPECT_EQ(Bulk(kDeleteByBookmark, {2}, &st), ERR_NO_ROWS_UPDATED_OR_DELETED);
    EXPECT_EQ(st, (Statuses{5}));

    for (int32_t outside : {0, 4, -1}) {
        EXPECT_EQ(Bulk(kDeleteByBookmark, {1, outside}, &st), ERR_BOOKMARK_REFERS_TO_ROW_OUTSIDE_THE);
        EXPECT_EQ(rt.Count(11), 0u);
    }
    EXPECT_EQ(Bulk(4, {1}, &st), ERR_GENERAL_ERROR);
    EXPECT_EQ(Bulk(kUpdateByBookmark, {1}, &st, exectest::Params({{"x"}}), {9}), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(rt.Count(11), 0u);
}

// Fetch by bookmark: the rowset read again by key and handed out in the bookmarks' order,
// a row named twice twice, a row gone marked deleted; a static read-only cursor serves it
// from its snapshot without a statement.
TEST_F(ScsBulk, FetchInBookmarkOrder) {
    Open(SCS_KEYSET, SCS_READ_ONLY, 3, "SELECT id, a FROM t ORDER BY id");
    ASSERT_EQ(Other("UPDATE t SET a = 'new' WHERE id = 1"), 0);
    ASSERT_EQ(Other("DELETE FROM t WHERE id = 2"), 0);
    Statuses st;
    std::vector<Strings> rows;
    ASSERT_EQ(Bulk(kFetchByBookmark, {3, 1, 2, 3}, &st, nullptr, {}, &rows), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{0, 0, 1, 0}));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (Strings{"3", "a3"}));
    EXPECT_EQ(rows[1], (Strings{"1", "new"}));
    EXPECT_EQ(rows[3], (Strings{"3", "a3"}));
    // Every row of the rowset gone: each named one is deleted, none a missing row.
    ASSERT_EQ(Other("DELETE FROM t WHERE id IN (1, 3)"), 0);
    ASSERT_EQ(Bulk(kFetchByBookmark, {1, 2}, &st, nullptr, {}, &rows), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{1, 1}));
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    ASSERT_EQ(Exec("INSERT INTO t VALUES (1, 'new', NULL)"), 0);
    ASSERT_EQ(Exec("INSERT INTO t VALUES (3, 'a3', NULL)"), 0);

    Open(SCS_STATIC, SCS_READ_ONLY, 3, "SELECT id, a FROM t ORDER BY id");
    ASSERT_EQ(Other("UPDATE t SET a = 'later' WHERE id = 3"), 0);
    rows.clear();
    ASSERT_EQ(Bulk(kFetchByBookmark, {2, 1}, &st, nullptr, {}, &rows), 0) << rt.Render();
    EXPECT_EQ(st, (Statuses{0, 0}));
    EXPECT_EQ(rows, (std::vector<Strings>{{"3", "a3"}, {"1", "new"}}));
    EXPECT_EQ(rt.Count(13), 0u);  // nothing executed: the snapshot serves it
}

}  // namespace
