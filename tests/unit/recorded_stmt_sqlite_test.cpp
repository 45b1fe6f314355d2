// The ODBC side on the embedded server with the recording table in front of what the
// driver binds (the agent's table behind the cursor library's hook): a statement's life
// as the slots it calls, with the texts and parameter datasets they carry, and an injected
// agent failure as the application sees it. With the recording table between the cursor
// library and the agent: what the library sends of a statement batch.
#include <gtest/gtest.h>
#include <sql.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/diag/diag.h"
#include "driver/frame/globals.h"
#include "driver/handlers/connect.h"
#include "driver/handlers/fetch.h"
#include "driver/handlers/params.h"
#include "driver/handlers/stmtattr.h"
#include "driver/handlers/stmttext.h"
#include "tests/unit/conn_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "tests/unit/recording_optable.h"
#include "util/errcode.h"

namespace {

using rec::RecordingTable;

// Slots of the life of a statement; property, error and describe calls in between are
// the ODBC side's own business and filtered out where a test looks at the sequence.
constexpr int kAlloc = 7, kFree = 8, kPrepare = 11, kFetch = 19, kClose = 20, kExecute2 = 43;

class RecordedStmt : public conn_fixture::ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        ConnSetOpTableBinder(behind ? recorder.BehindBinder() : recorder.FrontBinder());
        static constexpr auto connect = MakeCall<DoDriverConnect>("DriverConnect", "", 1, CALL_KIND_DBC);
        const std::string in = "DATABASENAME=" + db.path();
        char out[512];
        SQLSMALLINT outLen = 0;
        ASSERT_EQ(CallODBC(connect, HandleFromId(conn->id),
                           DriverConnectArgs{nullptr, in.c_str(), SQL_NTS, out, sizeof out, &outLen,
                                             SQL_DRIVER_NOPROMPT, WIDTH_NARROW}),
                  SQL_SUCCESS);
        ASSERT_EQ(recorder.Inner(), behind ? &OA_AgentOpTable : DrvHookedTable());
        if (behind && recorder.Count(5) == 0) {
            // The library keeps the table of the first holder it is handed in the process:
            // another test's connect came first (run one test a process, as ctest does).
            GTEST_SKIP() << "the cursor library saved another table before this test";
        }
        stmt = NewStmt();
        ASSERT_NE(stmt, nullptr);
        ASSERT_EQ(DoExecDirect(stmt, SqlTextArgs{"CREATE TABLE t (k INTEGER, v VARCHAR(20))", SQL_NTS}), SQL_SUCCESS);
        ASSERT_EQ(DoFreeStmt(stmt, FreeStmtArgs{SQL_CLOSE}), SQL_SUCCESS);
    }

    STMT* NewStmt() {
        SQLHANDLE h = nullptr;
        if (DoAllocStmt(conn, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
    }
    // The slots called that belong to a statement's life, in order.
    std::vector<int> LifeSlots() const {
        std::vector<int> out;
        for (int s : recorder.Slots())
            if (s == kAlloc || s == kFree || s == kPrepare || s == 12 || s == 13 || s == kFetch || s == kClose ||
                s == kExecute2)
                out.push_back(s);
        return out;
    }
    // The statement's code and the messages queued on it.
    static std::string Diag(const STMT* s) {
        std::string out = std::to_string(s->diag.errCode);
        for (const std::string& m : conn_fixture::Messages(s->diag))
            out += " | " + m;
        return out;
    }

    // The table DrvBindOpTable puts in a holder: the agent's, or the cursor library's in
    // front of it.
    static const OA_OPTABLE* DrvHookedTable() {
        OA_OPHOLDER h;
        DrvBindOpTable(&h);
        return h.ops;
    }

    bool behind = false;
    esqltest::TempDb db;
    RecordingTable recorder;
    STMT* stmt = nullptr;
};

// The recording table between the cursor library and the agent.
class RecordedBehindLibrary : public RecordedStmt {
protected:
    void SetUp() override {
        behind = true;
        RecordedStmt::SetUp();
    }
};

// Insert two rows by a parameter array, then select them with a parameter: the log holds
// the texts as prepared, the parameter values row by row, the fetches, close and free.
TEST_F(RecordedStmt, AStatementsLifeAppearsAsItsSlotsWithTextsAndValues) {
    recorder.Clear();
    STMT* s = NewStmt();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(DoPrepare(s, SqlTextArgs{"INSERT INTO t VALUES (?, ?)", SQL_NTS}), SQL_SUCCESS);
    SQLINTEGER keys[2] = {1, 2};
    char texts[2][8] = {"one", "two"};
    SQLLEN lens[2] = {SQL_NTS, SQL_NULL_DATA};
    SQLULEN processed = 0;
    ASSERT_EQ(DoParamOptions(s, ParamOptionsArgs{2, &processed}), SQL_SUCCESS);
    ASSERT_EQ(DoBindParameter(s, BindParameterArgs{1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, keys, 0, nullptr}),
              SQL_SUCCESS);
    ASSERT_EQ(DoBindParameter(s, BindParameterArgs{2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, texts, 8, lens}),
              SQL_SUCCESS);
    ASSERT_EQ(DoExecute(s, NoArgs{}), SQL_SUCCESS) << Diag(s) << recorder.Render();
    EXPECT_EQ(processed, 2u);
    ASSERT_EQ(DoFreeHandleStmt(s, NoArgs{}), SQL_SUCCESS);

    // The free closes the statement first.
    EXPECT_EQ(LifeSlots(), (std::vector<int>{kAlloc, kPrepare, kExecute2, kClose, kFree})) << recorder.Render();
    EXPECT_EQ(recorder.Texts(kPrepare), std::vector<std::string>{"INSERT INTO t VALUES (?, ?)"});
    const auto exec = recorder.CallsOf(kExecute2);
    ASSERT_EQ(exec.size(), 1u);
    EXPECT_FALSE(exec[0].text.has_value());  // the prepared text runs
    ASSERT_TRUE(exec[0].values.has_value()) << recorder.Render();
    EXPECT_EQ(exec[0].values->rows, (std::vector<std::vector<std::string>>{{"1", "one"}, {"2", "NULL"}}));
    ASSERT_EQ(exec[0].descs.size(), 2u);
    EXPECT_EQ(exec[0].descs[0].sqlType, SQL_INTEGER);
    EXPECT_EQ(exec[0].descs[0].cType, SQL_C_SLONG);
    EXPECT_EQ(exec[0].descs[1].sqlType, SQL_VARCHAR);
    EXPECT_EQ(exec[0].descs[1].size, 20);
    EXPECT_EQ(exec[0].descs[1].kind, SQL_PARAM_INPUT);
    const uint32_t agentStmt = recorder.CallsOf(kAlloc).at(0).outHandle;
    EXPECT_NE(agentStmt, 0u);
    EXPECT_EQ(exec[0].handle, agentStmt);
    EXPECT_EQ(recorder.CallsOf(kFree).at(0).handle, agentStmt);

    // A select with a parameter, fetched to its end and closed.
    recorder.Clear();
    s = NewStmt();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(DoPrepare(s, SqlTextArgs{"SELECT k, v FROM t WHERE k >= ? ORDER BY k", SQL_NTS}), SQL_SUCCESS);
    SQLINTEGER from = 1;
    ASSERT_EQ(DoBindParameter(s, BindParameterArgs{1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &from, 0, nullptr}),
              SQL_SUCCESS);
    ASSERT_EQ(DoExecute(s, NoArgs{}), SQL_SUCCESS) << Diag(s);
    int rows = 0;
    while (DoFetch(s, NoArgs{}) == SQL_SUCCESS)
        ++rows;
    EXPECT_EQ(rows, 2);
    ASSERT_EQ(DoFreeStmt(s, FreeStmtArgs{SQL_CLOSE}), SQL_SUCCESS);
    ASSERT_EQ(DoFreeHandleStmt(s, NoArgs{}), SQL_SUCCESS);

    // One block fetch holds both rows, the next finds the end; the close, then the free,
    // which closes the prepared statement again.
    EXPECT_EQ(LifeSlots(), (std::vector<int>{kAlloc, kPrepare, kExecute2, kFetch, kFetch, kClose, kClose, kFree}))
        << recorder.Render();
    EXPECT_EQ(recorder.CallsOf(kExecute2).at(0).values->rows, (std::vector<std::vector<std::string>>{{"1"}}));
    int fetched = 0;
    for (const auto& f : recorder.CallsOf(kFetch))
        fetched += f.rc == 0 && f.fetchRows > 0 ? f.rowsFetched : 0;
    EXPECT_EQ(fetched, 2) << recorder.Render();
}

// An injected failure of the prepare reaches the application as the agent's own would: with
// the code's message on the agent's list, or, when nothing is posted, with the driver's
// answer to a failure that says nothing.
TEST_F(RecordedStmt, InjectedPrepareFailureReachesTheApplication) {
    recorder.Inject({kPrepare, ERR_GENERAL_ERROR, 1, false, true});
    EXPECT_EQ(DoPrepare(stmt, SqlTextArgs{"SELECT k FROM t", SQL_NTS}), SQL_ERROR);
    const std::string posted = Diag(stmt);
    EXPECT_NE(posted.find("[SQLSTATE:S1000]"), std::string::npos) << posted;
    // The next prepare reaches the agent again.
    EXPECT_EQ(DoPrepare(stmt, SqlTextArgs{"SELECT k FROM t", SQL_NTS}), SQL_SUCCESS) << Diag(stmt);
    const auto prepares = recorder.CallsOf(kPrepare);
    ASSERT_GE(prepares.size(), 2u);
    EXPECT_TRUE(prepares[prepares.size() - 2].injected);
    EXPECT_FALSE(prepares.back().injected);

    ErrListDropMessages(stmt->diag);
    recorder.Inject({kPrepare, ERR_GENERAL_ERROR, 1, false, false});
    EXPECT_EQ(DoPrepare(stmt, SqlTextArgs{"SELECT v FROM t", SQL_NTS}), SQL_ERROR);
    const std::string silent = Diag(stmt);
    EXPECT_EQ(silent, "15") << silent;
}

// The cursor library's statement batch (slot 49, which only the library fills): a
// SELECT stops the batch with 162 after the statements before it ran, and never reaches the
// agent, nor does anything after it.
TEST_F(RecordedBehindLibrary, BatchStopsAtASelect) {
    const OA_OPTABLE* ops = conn->holder.ops;
    ASSERT_NE(ops->DRV_ExecuteBatch, nullptr);
    const OA_BATCHSTMT batch[] = {{"INSERT INTO t VALUES (1, 'a')", 0, nullptr, nullptr},
                                  {"SELECT k FROM t", 0, nullptr, nullptr},
                                  {"INSERT INTO t VALUES (2, 'b')", 0, nullptr, nullptr}};
    recorder.Clear();
    uint16_t done = 0;
    int32_t* counts = nullptr;
    EXPECT_EQ(ops->DRV_ExecuteBatch(stmt->agentStmt, 3, batch, &done, &counts), ERR_ONLY_DDL_AND_DML_COMMAND_CAN)
        << recorder.Render();
    EXPECT_EQ(done, 1);
    if (counts != nullptr) {
        EXPECT_EQ(counts[0], 1);
    }
    std::free(counts);  // the caller's, on the C heap
    const auto texts = recorder.Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "INSERT INTO t VALUES (1, 'a')"), texts.end()) << recorder.Render();
    for (const std::string& t : texts) {
        EXPECT_EQ(t.find("SELECT k FROM t"), std::string::npos) << recorder.Render();
        EXPECT_EQ(t.find("(2, 'b')"), std::string::npos) << recorder.Render();
    }
}

}  // namespace
