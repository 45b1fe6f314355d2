// The row-version table KVRRVC: row digests and their hexadecimal form, then the helper
// connections and the lines they keep over the embedded server.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/rvc_rowver.h"
#include "scrs/scs_catalog.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/dataset_fixture.h"
#include "tests/unit/recording_optable.h"
#include "tests/unit/scs_library_fixture.h"
#include "tests/unit/sql_text.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

using Strings = std::vector<std::string>;
using Statuses = std::vector<int16_t>;

// ---- Digests ---------------------------------------------------------------------------

void PutText(DATASET* ds, int col, int32_t row, const std::string& text) {
    dsfix::PutPrefixed(ds, col, row, text, static_cast<uint32_t>(text.size()));
    ds->cols[col].indicators[row] = static_cast<int16_t>(text.size());
}

void PutLong(DATASET* ds, int col, int32_t row, const std::string& text) {
    DS_REFVAL ref{static_cast<uint32_t>(text.size()), uh_MemDup(text.data(), text.size())};
    dsfix::PutRaw(ds, col, row, &ref, sizeof ref);
}

RVC_DIGEST Digest(const DATASET& ds, int32_t row) {
    RVC_DIGEST d{};
    EXPECT_EQ(RVC_RowDigest(ds, row, &d), 0);
    return d;
}

// Each case fills rows 0 and 1 of a two-row dataset and says whether their digests agree.
TEST(RvcDigest, RowsDifferExactlyWhenTheirComparedValuesDo) {
    const struct {
        const char* what;
        std::initializer_list<dsfix::Col> cols;
        void (*fill)(DATASET*);
        bool equal;
    } cases[] = {
        {"NULL and the empty text", {{DS_VARCHAR16, 12}},
         [](DATASET* ds) { PutText(ds, 0, 1, ""); },   // row 0 stays NULL
         false},
        {"the same text split at another place", {{DS_VARCHAR16, 12}, {DS_VARCHAR16, 12}},
         [](DATASET* ds) {
             PutText(ds, 0, 0, "ab");
             PutText(ds, 1, 0, "c");
             PutText(ds, 0, 1, "a");
             PutText(ds, 1, 1, "bc");
         },
         false},
        {"a change in a long column only", {{DS_SLONG, 4}, {DS_LONGCHAR, 16}},
         [](DATASET* ds) {
             dsfix::PutI32(ds, 0, 0, 7);
             dsfix::PutI32(ds, 0, 1, 7);
             PutLong(ds, 1, 0, "a long value");
             PutLong(ds, 1, 1, "another long value");
         },
         true},
        {"equal rows", {{DS_SLONG, 4}, {DS_VARCHAR16, 12}},
         [](DATASET* ds) {
             for (int32_t r : {0, 1}) {
                 dsfix::PutI32(ds, 0, r, 42);
                 PutText(ds, 1, r, "same");
             }
         },
         true},
        {"one integer changed", {{DS_SLONG, 4}, {DS_VARCHAR16, 12}},
         [](DATASET* ds) {
             dsfix::PutI32(ds, 0, 0, 1);
             dsfix::PutI32(ds, 0, 1, 2);
             PutText(ds, 1, 0, "same");
             PutText(ds, 1, 1, "same");
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DatasetPtr ds = dsfix::Make(c.cols, 2, 2);
        c.fill(ds.get());
        EXPECT_EQ(Digest(*ds, 0) == Digest(*ds, 1), c.equal);
    }
}

TEST(RvcDigest, ARowOutsideTheDatasetIsRefused) {
    DatasetPtr ds = dsfix::Make({{DS_SLONG, 4}}, 2, 1);
    RVC_DIGEST d{};
    EXPECT_EQ(RVC_RowDigest(*ds, 1, &d), ERR_GENERAL_ERROR);
    EXPECT_EQ(RVC_RowDigest(*ds, -1, &d), ERR_GENERAL_ERROR);
}

// Whole bytes only: an out of s bytes takes (s - 1) / 2 of them and the NUL.
TEST(RvcHex, EncodesWholeBytesThatFitTheBuffer) {
    const uint8_t bytes[] = {0x00, 0xAB, 0xFF, 0x1F};
    const struct {
        size_t size;
        const char* text;
    } cases[] = {{1, ""}, {2, ""}, {3, "00"}, {4, "00"}, {5, "00AB"}, {8, "00ABFF"}, {9, "00ABFF1F"}, {20, "00ABFF1F"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        char out[21];
        std::memset(out, '#', sizeof out);
        size_t length = 99;
        rvc_HexEncode(bytes, sizeof bytes, out, c.size, &length);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(length, std::strlen(c.text));
        EXPECT_EQ(out[c.size], c.size < 20 ? '#' : out[c.size]);   // nothing past the buffer
    }
    char untouched = '#';
    size_t length = 99;
    rvc_HexEncode(bytes, sizeof bytes, &untouched, 0, &length);
    EXPECT_EQ(untouched, '#');
    EXPECT_EQ(length, 0u);
}

// ---- Over the embedded server ----------------------------------------------------------

class RvcRowVer : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(Exec("CREATE TABLE KVRRVC (HCONN CHAR(8) NOT NULL, HCURS CHAR(8) NOT NULL, "
                       "KEYVER CHAR(32) NOT NULL, ROWVER CHAR(32) NOT NULL)"),
                  0);
        ASSERT_EQ(Exec("CREATE UNIQUE INDEX KVRRVC_KEY ON KVRRVC (HCONN, HCURS, KEYVER)"), 0);
        ASSERT_EQ(Exec("CREATE TABLE t (id INTEGER NOT NULL PRIMARY KEY, v VARCHAR(20))"), 0);
        for (const char* row : {"(1, 'one')", "(2, 'two')", "(3, NULL)"})
            ASSERT_EQ(Exec((std::string("INSERT INTO t VALUES ") + row).c_str()), 0);
        ASSERT_EQ(Connect(&watcher), 0);
    }
    void TearDown() override {
        for (uint32_t c : extraConns)
            EXPECT_EQ(lib->DRV_Disconnect(c), 0);
        if (watcher != 0) {
            EXPECT_EQ(lib->DRV_Disconnect(watcher), 0);
        }
        const uint32_t own = conn;
        LibraryTest::TearDown();
        // Every helper went with its cursors or its connection: none is left for a later
        // connection that gets the same handle.
        EXPECT_TRUE(RVC_HelpersOf(own).empty());
        for (uint32_t c : extraConns)
            EXPECT_TRUE(RVC_HelpersOf(c).empty());
    }

    // A further connection of the user, disconnected at the end; noAutoCommit as a data
    // source's NOAC would ask.
    uint32_t OtherConn(bool noAutoCommit = false) {
        OA_CONNREQ req{};
        req.options = empty;
        req.database = db.data();
        req.dbOptions = empty;
        req.user = user;
        req.password = empty;
        req.settings.noAutoCommit = noAutoCommit ? 1 : 0;
        uint32_t c = 0;
        EXPECT_EQ(lib->DRV_Connect(server, &req, &c), 0);
        extraConns.push_back(c);
        return c;
    }
    // A cursor (a library statement) on the connection, attached to its helper.
    SCS_STMT* Cursor(uint32_t c) {
        uint32_t s = 0;
        EXPECT_EQ(lib->DRV_AllocStmt(c, &s), 0);
        SCS_STMT* made = scs_FindStmt(s);
        EXPECT_NE(made, nullptr);
        if (made != nullptr) {
            EXPECT_EQ(RVC_Attach(made), 0);
        }
        return made;
    }
    int Run(uint32_t c, const std::string& sql) {
        uint32_t s = 0;
        EXPECT_EQ(lib->DRV_AllocStmt(c, &s), 0);
        const int rc = lib->DRV_PrepareAndExecute(s, sql.c_str(), nullptr, 0, nullptr);
        if (rc != 0) {
            for (const std::string& e : Errors(s))
                ADD_FAILURE() << e;
            for (const std::string& e : Errors(c))
                ADD_FAILURE() << e;
        }
        EXPECT_EQ(lib->DRV_FreeStmt(s), 0);
        return rc;
    }
    // The first rows of a query, as the connection reads them.
    DatasetPtr Read(uint32_t c, const std::string& sql, uint16_t rows = 3) {
        uint32_t s = 0;
        EXPECT_EQ(lib->DRV_AllocStmt(c, &s), 0);
        EXPECT_EQ(lib->DRV_PrepareAndExecute(s, sql.c_str(), nullptr, 0, nullptr), 0);
        DatasetPtr out(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
        EXPECT_EQ(lib->DRV_Fetch(s, rows, out.get()), 0);
        EXPECT_EQ(lib->DRV_FreeStmt(s), 0);
        return out;
    }
    // The cursor's check over the first n rows of t as connection c sees them.
    int Check(SCS_STMT* cursor, uint32_t c, int32_t n, Statuses* status) {
        DatasetPtr keys = Read(c, "SELECT id FROM t ORDER BY id");
        DatasetPtr rows = Read(c, "SELECT id, v FROM t ORDER BY id");
        status->assign(static_cast<size_t>(n), -1);
        return RVC_CheckRows(cursor, *keys, *rows, n, status->data());
    }
    // Lines of KVRRVC as another connection sees them (so only committed ones).
    int64_t Lines(const std::string& where = "") {
        DatasetPtr count = Read(watcher, "SELECT COUNT(*) FROM KVRRVC" + (where.empty() ? "" : " WHERE " + where), 1);
        int64_t n = -1;
        bool null = false;
        EXPECT_EQ(scs_CatalogInt(*count, 0, 0, &n, &null), 0);
        return n;
    }
    static std::string LinesOf(const SCS_STMT* cursor) {
        return std::string("HCONN = '") + cursor->rowVersion.hconn + "' AND HCURS = '" + cursor->rowVersion.hcurs + "'";
    }
    // The messages waiting on an agent handle, as "<state> <text>" in order.
    Strings Errors(uint32_t handle) {
        OA_ERRTEXTS texts{};
        EXPECT_EQ(lib->DRV_GetErrors(handle, &texts), 0);
        Strings out;
        for (int32_t i = 0; i < texts.count; ++i)
            out.emplace_back(texts.texts[i]);
        if (texts.release != nullptr)
            texts.release(&texts);
        return out;
    }
    static bool HasState(const Strings& errors, const std::string& state) {
        for (const std::string& e : errors)
            if (e.find("[SQLSTATE:" + state + "]") != std::string::npos)
                return true;
        return false;
    }

    uint32_t watcher = 0;
    std::vector<uint32_t> extraConns;
};

// The first check records every row; a value another user changes is reported once, since
// its new version is recorded with the report; a row the cursor itself changed and recorded
// through RVC_UpdateRows is not reported at all.
TEST_F(RvcRowVer, ChangesOfOthersAreReportedOnceAndOwnUpdatesNever) {
    ASSERT_EQ(RVC_Attach(cur), 0);
    Statuses status;
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    EXPECT_EQ(status, (Statuses{0, 0, 0}));
    EXPECT_EQ(Lines(LinesOf(cur)), 3);
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    EXPECT_EQ(status, (Statuses{0, 0, 0}));

    const uint32_t other = OtherConn();
    ASSERT_EQ(Run(other, "UPDATE t SET v = 'changed' WHERE id = 2"), 0);
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    EXPECT_EQ(status, (Statuses{0, 2, 0}));
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    EXPECT_EQ(status, (Statuses{0, 0, 0}));

    // The cursor's own update of row 3 (NULL to ''), recorded as a positioned update does.
    ASSERT_EQ(Run(conn, "UPDATE t SET v = '' WHERE id = 3"), 0);
    DatasetPtr keys = Read(conn, "SELECT id FROM t ORDER BY id");
    DatasetPtr rows = Read(conn, "SELECT id, v FROM t ORDER BY id");
    std::vector<RVC_DIGEST> keyDigests(3), rowDigests(3);
    for (int32_t k = 0; k < 3; ++k) {
        ASSERT_EQ(RVC_RowDigest(*keys, k, &keyDigests[static_cast<size_t>(k)]), 0);
        ASSERT_EQ(RVC_RowDigest(*rows, k, &rowDigests[static_cast<size_t>(k)]), 0);
    }
    status = {0, 0, 2};
    ASSERT_EQ(RVC_UpdateRows(cur, keyDigests, rowDigests, status.data(), 3), 0);
    EXPECT_EQ(status, (Statuses{0, 0, 2}));
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    EXPECT_EQ(status, (Statuses{0, 0, 0}));
}

// A row whose line is gone cannot take its new version: 5, and the code of that first
// failure, while the next row is still written.
TEST_F(RvcRowVer, UpdateOfARowWithoutALineFailsThatRowOnly) {
    ASSERT_EQ(RVC_Attach(cur), 0);
    Statuses status;
    ASSERT_EQ(Check(cur, conn, 2, &status), 0);
    DatasetPtr keys = Read(conn, "SELECT id FROM t ORDER BY id");
    std::vector<RVC_DIGEST> keyDigests(3), rowDigests(3);
    for (int32_t k = 0; k < 3; ++k)
        ASSERT_EQ(RVC_RowDigest(*keys, k, &keyDigests[static_cast<size_t>(k)]), 0);
    rowDigests[1].fill(0x11);
    rowDigests[2].fill(0x22);
    status = {0, 2, 2};
    std::swap(keyDigests[1], keyDigests[2]);   // row 1 now names key 3, which has no line
    EXPECT_EQ(RVC_UpdateRows(cur, keyDigests, rowDigests, status.data(), 3), ERR_GENERAL_ERROR);
    EXPECT_EQ(status, (Statuses{0, 5, 2}));
    EXPECT_EQ(Lines(LinesOf(cur) + " AND ROWVER = '" + std::string(32, '2') + "'"), 1);
}

// Two lines for one key (a table without the unique index) fail the fetch.
TEST_F(RvcRowVer, TwoLinesForAKeyFailTheCheck) {
    ASSERT_EQ(Exec("DROP TABLE KVRRVC"), 0);
    ASSERT_EQ(Exec("CREATE TABLE KVRRVC (HCONN CHAR(8) NOT NULL, HCURS CHAR(8) NOT NULL, "
                   "KEYVER CHAR(32) NOT NULL, ROWVER CHAR(32) NOT NULL)"),
              0);
    ASSERT_EQ(RVC_Attach(cur), 0);
    Statuses status;
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    ASSERT_EQ(Exec("INSERT INTO KVRRVC SELECT HCONN, HCURS, KEYVER, ROWVER FROM KVRRVC"), 0);
    EXPECT_EQ(Check(cur, conn, 3, &status), ERR_GENERAL_ERROR);
    EXPECT_EQ(status, (Statuses{5, 5, 5}));
}

// The SQL on the helper's statement, text for text, and its parameters: 32 hex digits as
// counted text, described as CHAR(32) input when the connection asks for descriptions.
TEST_F(RvcRowVer, TheHelpersStatementsAndParameters) {
    rec::RecordingTable rt{&OA_AgentOpTable};
    const OA_OPTABLE* before = SCR_SetAgentTable(rt.Table());
    cur->needParamDescs = 1;
    ASSERT_EQ(RVC_Attach(cur), 0);
    Statuses status;
    ASSERT_EQ(Check(cur, conn, 1, &status), 0);
    ASSERT_EQ(Run(conn, "UPDATE t SET v = 'new' WHERE id = 1"), 0);
    ASSERT_EQ(Check(cur, conn, 1, &status), 0);
    ASSERT_EQ(RVC_DropCursor(cur), 0);
    SCR_SetAgentTable(before);

    const std::string h = cur->rowVersion.hconn, c = cur->rowVersion.hcurs;
    const std::string where = "WHERE HCONN = '" + h + "' AND HCURS = '" + c + "'";
    Strings texts;
    for (const rec::RecordedCall& call : rt.CallsOf(11))
        if (call.handle == cur->rowVersion.helperStmt)
            texts.push_back(*call.text);
    EXPECT_EQ(texts, (Strings{"SELECT ROWVER FROM KVRRVC " + where + " AND KEYVER = ?",
                              "INSERT INTO KVRRVC VALUES ( '" + h + "', '" + c + "', ?, ?)",
                              "SELECT ROWVER FROM KVRRVC " + where + " AND KEYVER = ?",
                              "UPDATE KVRRVC SET ROWVER = ? " + where + " AND KEYVER = ?",
                              "DELETE FROM KVRRVC " + where}))
        << rt.Render();

    std::vector<size_t> widths;
    for (const rec::RecordedCall& call : rt.CallsOf(12)) {
        if (call.handle != cur->rowVersion.helperStmt || !call.values)
            continue;
        widths.push_back(call.values->types.size());
        for (int32_t type : call.values->types)
            EXPECT_EQ(type, DS_VARCHAR16);
        for (const std::string& v : call.values->rows.at(0))
            EXPECT_TRUE(std::regex_match(v, std::regex("[0-9A-F]{32}"))) << v;
    }
    EXPECT_EQ(widths, (std::vector<size_t>{1, 2, 1, 2}));   // select, insert, select, update
    const rec::RecordedDesc desc{1, 1, 32, 0, 1, ""};
    for (const rec::RecordedCall& call : rt.CallsOf(18)) {
        if (call.handle != cur->rowVersion.helperStmt)
            continue;
        for (const rec::RecordedDesc& d : call.descs)
            EXPECT_EQ(d, desc);
    }
    EXPECT_FALSE(rt.CallsOf(18).empty());
}

// A cursor's drop deletes its own lines only.
TEST_F(RvcRowVer, DropDeletesOnlyTheCursorsLines) {
    ASSERT_EQ(RVC_Attach(cur), 0);
    SCS_STMT* second = Cursor(conn);
    Statuses status;
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    ASSERT_EQ(Check(second, conn, 2, &status), 0);
    ASSERT_EQ(RVC_DropCursor(cur), 0);
    EXPECT_EQ(Lines(LinesOf(cur)), 0);
    EXPECT_EQ(Lines(LinesOf(second)), 2);
    EXPECT_EQ(Lines(), 2);
    // Its statement's free drops the second cursor's lines too.
    ASSERT_EQ(lib->DRV_FreeStmt(second->agentStmt), 0);
    EXPECT_EQ(Lines(), 0);
}

// Without the table the drop fails with the server's message, then IM926.
TEST_F(RvcRowVer, WithoutTheTableTheDropSaysSo) {
    ASSERT_EQ(Exec("DROP TABLE KVRRVC"), 0);
    ASSERT_EQ(RVC_Attach(cur), 0);
    Errors(stmt);
    EXPECT_NE(RVC_DropCursor(cur), 0);
    const Strings errors = Errors(stmt);
    ASSERT_GE(errors.size(), 2u);
    EXPECT_TRUE(HasState({errors.front()}, "42S02")) << errors.front();
    EXPECT_NE(errors.front().find("KVRRVC"), std::string::npos) << errors.front();
    EXPECT_EQ(errors.back(), "[Progress Server]Check that the table KVRRVC exists[SQLSTATE:IM926]");
}

// One helper for the cursors of a connection, another for a second connection; the last
// detach closes it. HCONN tells the connections apart.
TEST_F(RvcRowVer, HelpersAreSharedPerConnection) {
    ASSERT_EQ(RVC_Attach(cur), 0);
    ASSERT_EQ(RVC_Attach(cur), 0);   // attached already: nothing changes
    SCS_STMT* second = Cursor(conn);
    const uint32_t other = OtherConn();
    SCS_STMT* third = Cursor(other);
    ASSERT_EQ(RVC_HelpersOf(conn).size(), 1u);
    EXPECT_EQ(RVC_HelpersOf(conn)[0].refs, 2);
    EXPECT_EQ(cur->rowVersion.helperStmt, second->rowVersion.helperStmt);
    ASSERT_EQ(RVC_HelpersOf(other).size(), 1u);
    EXPECT_EQ(RVC_HelpersOf(other)[0].refs, 1);
    EXPECT_NE(third->rowVersion.helperStmt, cur->rowVersion.helperStmt);

    const std::regex hex8("[0-9A-F]{8}");
    EXPECT_TRUE(std::regex_match(cur->rowVersion.hconn, hex8)) << cur->rowVersion.hconn;
    EXPECT_TRUE(std::regex_match(third->rowVersion.hconn, hex8)) << third->rowVersion.hconn;
    EXPECT_STREQ(cur->rowVersion.hconn, second->rowVersion.hconn);
    EXPECT_STRNE(cur->rowVersion.hconn, third->rowVersion.hconn);
    char expected[9];
    std::snprintf(expected, sizeof expected, "%08X", conn);
    EXPECT_STRNE(cur->rowVersion.hconn, expected);   // not the handle every process has
    char again[9];
    RVC_HConnOf(conn, again);
    EXPECT_STREQ(cur->rowVersion.hconn, again);      // stable within the process
    std::snprintf(expected, sizeof expected, "%08X", second->agentStmt);
    EXPECT_STREQ(second->rowVersion.hcurs, expected);

    const uint32_t helperConn = RVC_HelpersOf(conn)[0].helperConn;
    ASSERT_EQ(RVC_Detach(second), 0);
    ASSERT_EQ(RVC_HelpersOf(conn).size(), 1u);
    EXPECT_EQ(RVC_HelpersOf(conn)[0].refs, 1);
    ASSERT_EQ(RVC_Detach(cur), 0);
    EXPECT_TRUE(RVC_HelpersOf(conn).empty());
    EXPECT_EQ(cur->rowVersion.helper, nullptr);
    EXPECT_EQ(oa_ServerOfConn(helperConn), 0u);   // the helper's agent connection is gone
    Statuses status;
    EXPECT_EQ(Check(cur, conn, 1, &status), ERR_GENERAL_ERROR);   // no helper any more
    EXPECT_EQ(RVC_HelpersOf(other).size(), 1u);
}

// A disconnect closes the connection's helper first, deleting every line of the connection,
// even of a cursor that is never freed on its own.
TEST_F(RvcRowVer, DisconnectDeletesTheConnectionsLinesAndClosesItsHelper) {
    const uint32_t other = OtherConn();
    SCS_STMT* kept = Cursor(other);
    Statuses status;
    ASSERT_EQ(Check(kept, other, 3, &status), 0);
    ASSERT_EQ(RVC_Attach(cur), 0);
    ASSERT_EQ(Check(cur, conn, 3, &status), 0);
    const uint32_t helperConn = RVC_HelpersOf(other).at(0).helperConn;
    ASSERT_EQ(Lines(), 6);

    ASSERT_EQ(lib->DRV_Disconnect(other), 0);
    extraConns.clear();
    EXPECT_TRUE(RVC_HelpersOf(other).empty());
    EXPECT_EQ(oa_ServerOfConn(helperConn), 0u);
    EXPECT_EQ(Lines(), 3);
    EXPECT_EQ(Lines(LinesOf(cur)), 3);
}

// The helper commits its lines even when the cursor's connection runs without autocommit;
// and while that connection holds a write transaction, the helper's write fails at once
// (the embedded server has one writer): that row and every later new row are errors,
// rows already recorded keep their status, and the server's 40001 reaches the cursor.
TEST_F(RvcRowVer, TheHelperCommitsAndAWriteTransactionOfTheCursorsConnectionBlocksIt) {
    const uint32_t noac = OtherConn(true);
    SCS_STMT* c = Cursor(noac);
    Statuses status;
    ASSERT_EQ(Check(c, noac, 1, &status), 0);
    EXPECT_EQ(Lines(LinesOf(c)), 1);   // committed: another connection sees it

    // The connection's reads began a transaction before the helper wrote: a new one writes.
    ASSERT_EQ(lib->DRV_Commit(noac), 0);
    ASSERT_EQ(Run(noac, "UPDATE t SET v = 'mine' WHERE id = 3"), 0);   // left open
    Errors(c->agentStmt);
    const int rc = Check(c, noac, 3, &status);
    EXPECT_NE(rc, 0);
    EXPECT_EQ(status, (Statuses{0, 5, 5}));
    EXPECT_TRUE(HasState(Errors(c->agentStmt), "40001"));
    EXPECT_EQ(lib->DRV_Rollback(noac), 0);

    ASSERT_EQ(Check(c, noac, 3, &status), 0);
    EXPECT_EQ(status, (Statuses{0, 0, 0}));
    EXPECT_EQ(Lines(LinesOf(c)), 3);
}

}  // namespace
