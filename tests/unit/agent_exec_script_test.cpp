// Agent statements against the scripted client: the client calls of prepare, execute,
// fetch and close in order, the cursor set up again after an end of transaction, the
// parameters bound again on every run, the SQLDA grown when the describe asks for more
// columns, the transaction of a SELECT, procedure calls and their parameter kinds, the
// column-attribute table, and the initial SQL file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_initsql.h"
#include "drv_pro9/oa_proc.h"
#include "platform/esql92/esql92_script.h"
#include "tests/unit/agent_exec_fixture.h"
#include "util/errcode.h"

namespace {

using namespace exectest;
using Calls = std::vector<std::string>;
using esql92::Column;
using esql92::Result;

constexpr const char* kEnd = "tpe_tm_end_trans";

class AgentExecScript : public ::testing::Test, public Session {
protected:
    void SetUp() override {
        Open("scripted.db");
        script.takeCalls();
    }
    void TearDown() override { Close(); }

    // The calls so far, forgotten; every "S" in expected stands for making the statement's
    // connection current.
    void ExpectCalls(const Calls& expected) {
        Calls want;
        for (const std::string& e : expected)
            want.push_back(e == "S" ? SetConn() : e);
        EXPECT_EQ(script.takeCalls(), want);
    }
    // The identity of the n-th "tpe_set_cursor" line.
    static std::string Identity(const Calls& calls, size_t n = 0) {
        for (const std::string& c : calls)
            if (c.rfind("tpe_set_cursor #", 0) == 0 && n-- == 0)
                return c.substr(c.find(' ', 16) + 1, 32);
        return "";
    }
    std::string Name() const { return stmt->cursorName; }
    void AutocommitOff() { ASSERT_EQ(OA_TransState(conn, OA_TRANS_AUTOCOMMIT_OFF), 0); }

    esql92::Script script;
    DATASET block{};
    LogCapture log{LOG_WARNING};

public:
    ~AgentExecScript() override { ds_Free(&block); }
};

const Result kThreeRows{{{"A", ESQL_INTEGER}, {"B", ESQL_VARCHAR, 8}}, {{1, "one"}, {2, "two"}, {3, "three"}}};

TEST_F(AgentExecScript, SelectPrepareExecuteFetchInOrder) {
    script.addResult(kThreeRows);
    ASSERT_EQ(OA_Prepare(stmtId, "SELECT a, b FROM t"), 0);
    Calls prepare = script.calls();
    std::string id = Identity(prepare);
    ASSERT_EQ(id.size(), 32u);
    // Two result columns: the one-column SQLDA reports that it needs two and is replaced.
    ExpectCalls({"S", "tpe_set_cursor #1 " + id + " 1 SELECT a, b FROM t", "tpe_set_cursorname #1 " + Name(),
                 "tpe_sqlprepare #1", "S", "tpe_sqldescribe #1", "S", "tpe_sqldescribe #1"});
    ASSERT_EQ(stmt->cols.count, 2);
    EXPECT_STREQ(stmt->cols.items[1].name, "B");

    ASSERT_EQ(OA_Execute(stmtId), 0);
    ExpectCalls({"S", "S", "tpe_sqldeclare #1", "tpe_sqlopen #1"});
    EXPECT_NE(conn->transFlags & OA_TRANS_OPEN, 0);

    ASSERT_EQ(OA_Fetch(stmtId, 2, &block), 0);
    EXPECT_EQ(Rows(block), (std::vector<std::vector<std::string>>{{"1", "one"}, {"2", "two"}}));
    ExpectCalls({"S", "tpe_sqlfetch #1 2"});
    // The end of the data ends the SELECT's transaction in autocommit.
    ASSERT_EQ(OA_Fetch(stmtId, 2, &block), 0);
    EXPECT_EQ(Rows(block), (std::vector<std::vector<std::string>>{{"3", "three"}}));
    ExpectCalls({"S", "tpe_sqlfetch #1 2", "S", kEnd});
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);
    ASSERT_EQ(OA_Fetch(stmtId, 2, &block), 0);
    EXPECT_EQ(block.rowsUsed, 0);
    EXPECT_EQ(block.colsUsed, 2);
    ExpectCalls({});

    // A new prepare makes a new identity.
    script.addResult(kThreeRows);
    ASSERT_EQ(OA_Prepare(stmtId, "SELECT a, b FROM t"), 0);
    std::string next = Identity(script.calls());
    EXPECT_EQ(next.size(), 32u);
    EXPECT_NE(next, id);
}

TEST_F(AgentExecScript, CursorSetUpAgainAfterEndOfTransaction) {
    ASSERT_EQ(OA_Prepare(stmtId, "INSERT INTO t VALUES (1)"), 0);
    std::string id = Identity(script.takeCalls());
    script.addAffected(1);
    ASSERT_EQ(OA_Execute(stmtId), 0);
    EXPECT_EQ(stmt->rowCount, 1);
    ExpectCalls({"S", "S", "tpe_sqlexecute #1", "S", kEnd});
    // The commit marked the statement: its cursor is not closed (the end of transaction
    // ended it) but set up again, same identity, before it runs.
    EXPECT_NE(stmt->flags & STMT_CURSOR_RESET, 0);
    ASSERT_EQ(OA_Execute(stmtId), 0);
    ExpectCalls({"S", "S", "tpe_set_cursor #1 " + id + " 1 INSERT INTO t VALUES (1)",
                 "tpe_set_cursorname #1 " + Name(), "tpe_sqlprepare #1", "S", "tpe_sqlexecute #1", "S", kEnd});
}

TEST_F(AgentExecScript, ParametersBoundAgainOnEveryExecute) {
    AutocommitOff();
    script.addResult({{}, {}, {{"", ESQL_INTEGER}, {"", ESQL_VARCHAR, 10}}});
    ASSERT_EQ(OA_Prepare(stmtId, "INSERT INTO t VALUES (?, ?)"), 0);
    EXPECT_EQ(stmt->params.count, 2);
    script.takeCalls();
    ASSERT_EQ(OA_Execute(stmtId), ERR_WRONG_NUMBER_OF_PARAMETERS);
    EXPECT_EQ(log.matching("execute without prior parameters set").size(), 1u);

    DATASET* first = Params({{1, "a"}});
    ASSERT_EQ(OA_SetParamValues(stmtId, first), 0);
    ASSERT_EQ(OA_Execute(stmtId), 0);
    ExpectCalls({"S", "S", "tpe_sqlexecute #1 (1, 'a')"});
    // The same dataset again, refilled in place as the driver does: it stays the
    // statement's, and its new values are the ones sent.
    convtest::Put(&first->cols[0], 0, convtest::Bytes(int32_t{7}));
    convtest::Put(&first->cols[1], 0, std::string("zz\0", 3));
    ASSERT_EQ(OA_SetParamValues(stmtId, first), 0);
    ASSERT_EQ(OA_Execute(stmtId), 0);
    ExpectCalls({"S", "tpe_sqlexecute #1 (7, 'zz')"});
    // New values replace (and free) the old ones; the next run must not read the old.
    ASSERT_EQ(OA_SetParamValues(stmtId, Params({{2, "b"}, {3, nullptr}})), 0);
    // An insert that ran leaves nothing open at the server: no close before it runs again.
    ASSERT_EQ(OA_Execute(stmtId), 0);
    ExpectCalls({"S", "tpe_sqlexecute #1 (2, 'b') (3, NULL)"});
    // A set that does not cover the markers is refused before the client is called.
    ASSERT_EQ(OA_SetParamValues(stmtId, Params({{4}})), 0);
    EXPECT_EQ(OA_Execute(stmtId), ERR_WRONG_NUMBER_OF_PARAMETERS);
    ExpectCalls({});
}

TEST_F(AgentExecScript, SequenceErrors) {
    DATASET rows{};
    EXPECT_EQ(OA_Execute(stmtId), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(log.matching("4:execute without prior prepare").size(), 1u);
    EXPECT_EQ(OA_Fetch(stmtId, 1, &rows), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(OA_MoreResults(stmtId), ERR_NO_MORE_RESULTS);
    script.addResult(kThreeRows);
    ASSERT_EQ(OA_Prepare(stmtId, "SELECT a, b FROM t"), 0);
    EXPECT_EQ(OA_Fetch(stmtId, 1, &rows), ERR_FUNCTION_SEQUENCE_ERROR);
    // Handles of another kind, or gone.
    EXPECT_EQ(OA_Prepare(connId, "SELECT 1"), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_Execute(stmtId + 1), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_Fetch(stmtId, 1, nullptr), ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(AgentExecScript, FetchOfNoRowsGivesTheLayout) {
    script.addResult(kThreeRows);
    ASSERT_EQ(Exec("SELECT a, b FROM t"), 0);
    script.takeCalls();
    ASSERT_EQ(OA_Fetch(stmtId, 0, &block), 0);
    EXPECT_EQ(block.colsUsed, 2);
    EXPECT_EQ(block.rowsUsed, 0);
    EXPECT_EQ(block.cols[0].type, DS_SLONG);
    EXPECT_EQ(block.cols[1].type, DS_CHARZ);
    ExpectCalls({});
}

TEST_F(AgentExecScript, MaximumRowsEndTheResultAndItsTransaction) {
    Result r{{{"A", ESQL_INTEGER}}};
    for (int i = 0; i < 20; ++i)
        r.rows.push_back({i});
    script.addResult(r);
    stmt->maxRows = 10;
    ASSERT_EQ(Exec("SELECT a FROM t"), 0);
    script.takeCalls();
    ASSERT_EQ(OA_Fetch(stmtId, 8, &block), 0);
    EXPECT_EQ(block.rowsUsed, 8);
    ASSERT_EQ(OA_Fetch(stmtId, 8, &block), 0);
    EXPECT_EQ(block.rowsUsed, 2);
    ExpectCalls({"S", "tpe_sqlfetch #1 8", "S", "tpe_sqlfetch #1 2", "S", kEnd});
    ASSERT_EQ(OA_Fetch(stmtId, 8, &block), 0);
    EXPECT_EQ(block.rowsUsed, 0);
    ExpectCalls({});
}

TEST_F(AgentExecScript, MoreResultsOpensTheNextParameterSet) {
    AutocommitOff();
    script.addResult({{{"A", ESQL_INTEGER}}, {{7}}, {{"", ESQL_INTEGER}}});
    ASSERT_EQ(OA_PrepareAndExecute(stmtId, "SELECT a FROM t WHERE a = ?", Params({{10}, {20}}), 0, nullptr), 0);
    Calls calls = script.takeCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"tpe_sqldeclare #1 (10)", "tpe_sqlopen #1 (10)"}));
    ASSERT_EQ(OA_Fetch(stmtId, 5, &block), 0);
    EXPECT_EQ(Rows(block), (std::vector<std::vector<std::string>>{{"7"}}));
    script.takeCalls();

    EXPECT_EQ(OA_MoreResults(stmtId), 0);
    ExpectCalls({"S", "tpe_sqlclose #1", "S", "tpe_sqldeclare #1 (20)", "tpe_sqlopen #1 (20)"});
    EXPECT_EQ(stmt->flags & STMT_NO_MORE_ROWS, 0);
    ASSERT_EQ(OA_Fetch(stmtId, 5, &block), 0);
    EXPECT_EQ(block.rowsUsed, 1);
    script.takeCalls();

    EXPECT_EQ(OA_MoreResults(stmtId), ERR_NO_MORE_RESULTS);
    ExpectCalls({"S", "tpe_sqlclose #1"});
    EXPECT_NE(stmt->flags & STMT_NO_MORE_ROWS, 0);
    EXPECT_EQ(OA_Fetch(stmtId, 5, &block), ERR_FUNCTION_SEQUENCE_ERROR);
}

// A SELECT left before its end owes the commit that its end would have made.
TEST_F(AgentExecScript, CloseBeforeTheEndCommitsInAutocommit) {
    for (bool autocommit : {true, false}) {
        SCOPED_TRACE(autocommit);
        if (!autocommit)
            AutocommitOff();
        script.addResult(kThreeRows);
        ASSERT_EQ(Exec("SELECT a, b FROM t"), 0);
        ASSERT_EQ(OA_Fetch(stmtId, 1, &block), 0);
        script.takeCalls();
        EXPECT_EQ(OA_CloseCursor(stmtId), 0);
        std::string close = autocommit ? "tpe_sqlclose #1" : "tpe_sqlclose #2";
        if (autocommit)
            ExpectCalls({"S", close, "S", kEnd});
        else
            ExpectCalls({"S", close});
        EXPECT_EQ((conn->transFlags & OA_TRANS_OPEN) != 0, !autocommit);
        EXPECT_EQ(OA_Fetch(stmtId, 1, &block), ERR_FUNCTION_SEQUENCE_ERROR);
    }
}

TEST_F(AgentExecScript, FailedFetchFreesTheBlockAndEndsTheTransaction) {
    script.addResult(kThreeRows);
    ASSERT_EQ(Exec("SELECT a, b FROM t"), 0);
    script.takeCalls();
    script.failNext("tpe_sqlfetch", {{-20001, "HY000", "the disk is gone"}});
    EXPECT_EQ(OA_Fetch(stmtId, 2, &block), ERR_GENERAL_ERROR);
    EXPECT_EQ(block.colsUsed, 0);
    EXPECT_EQ(block.cols, nullptr);
    EXPECT_EQ(Records(stmt->errors), (std::vector<std::string>{"HY000|the disk is gone"}));
    ExpectCalls({"S", "tpe_sqlfetch #1 2", "S", kEnd});
}

// In autocommit a statement is done only when its commit is: a refused commit is the
// statement's failure, with the server's words on the statement, not a success.
TEST_F(AgentExecScript, RefusedAutocommitCommitFailsTheStatement) {
    ASSERT_EQ(OA_Prepare(stmtId, "INSERT INTO t VALUES (1)"), 0);
    script.addAffected(1);
    script.failNext(kEnd, {{-4001, "40001", "serialization failure"}});
    EXPECT_EQ(OA_Execute(stmtId), ERR_GENERAL_ERROR);
    EXPECT_EQ(Records(stmt->errors), (std::vector<std::string>{"40001|serialization failure"}));
    EXPECT_NE(conn->transFlags & OA_TRANS_OPEN, 0);
    // The next commit reaches the server again.
    script.addAffected(1);
    EXPECT_EQ(OA_Execute(stmtId), 0);
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);

    // A run that fails keeps its own words ahead of the commit's.
    script.failNext("tpe_sqlexecute", {{-20001, "23000", "duplicate key"}});
    script.failNext(kEnd, {{-4001, "40001", "serialization failure"}});
    EXPECT_EQ(OA_Execute(stmtId), ERR_GENERAL_ERROR);
    EXPECT_EQ(Records(stmt->errors),
              (std::vector<std::string>{"23000|duplicate key", "40001|serialization failure"}));
}

// The commit that a SELECT owes is paid by whichever step ends it; when the server refuses
// it, that step fails with the server's words on the statement (after its own), and a
// fetch hands out no rows.
TEST_F(AgentExecScript, RefusedOwedCommitFailsTheStepThatEndsTheSelect) {
    const std::string kRefused = "40001|serialization failure";
    struct Case {
        const char* what;
        const char* failingCall;   // another call that fails before the commit, or null
        int (*ends)(uint32_t stmt, DATASET* block);
        std::vector<std::string> records;
    } cases[] = {
        {"fetch that reaches the end", nullptr,
         [](uint32_t s, DATASET* b) { return OA_Fetch(s, 5, b); }, {kRefused}},
        {"close before the end", nullptr, [](uint32_t s, DATASET*) { return OA_CloseCursor(s); }, {kRefused}},
        {"close refused by the server too", "tpe_sqlclose",
         [](uint32_t s, DATASET*) { return OA_CloseCursor(s); }, {"HY000|it broke", kRefused}},
        {"failed fetch", "tpe_sqlfetch", [](uint32_t s, DATASET* b) { return OA_Fetch(s, 5, b); },
         {"HY000|it broke", kRefused}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ds_Free(&block);
        script.addResult(kThreeRows);
        ASSERT_EQ(Exec("SELECT a, b FROM t"), 0);
        ASSERT_NE(stmt->flags & STMT_COMMIT_OWED, 0);
        if (c.failingCall != nullptr)
            script.failNext(c.failingCall, {{-20001, "HY000", "it broke"}});
        script.failNext(kEnd, {{-4001, "40001", "serialization failure"}});
        EXPECT_EQ(c.ends(stmtId, &block), ERR_GENERAL_ERROR);
        EXPECT_EQ(Records(stmt->errors), c.records);
        EXPECT_EQ(block.rowsUsed, 0);
        EXPECT_EQ(block.cols, nullptr);
        // The server still holds the transaction; the next end that reaches it settles it.
        EXPECT_NE(conn->transFlags & OA_TRANS_OPEN, 0);
        ASSERT_EQ(OA_TransState(conn, OA_TRANS_COMMIT), 0);
        ASSERT_EQ(OA_CloseCursor(stmtId), 0);
    }
}

// Output values hold the call's commit back until the close: a refused commit there is
// the call's work undone, and the close says so.
TEST_F(AgentExecScript, RefusedCommitOfACallFailsItsClose) {
    script.addResult({{}, {}, {{"", ESQL_INTEGER}, {"", ESQL_VARCHAR, 10}}});
    ASSERT_EQ(OA_Prepare(stmtId, "{call p(?, ?)}"), 0);
    PARAM_DESC descs[] = {Desc(1), Desc(4, 12)};
    ASSERT_EQ(OA_PrepareAndExecute(stmtId, nullptr, Params({{5}}), 2, descs), 0);
    ASSERT_NE(stmt->flags & STMT_COMMIT_OWED, 0);
    script.failNext(kEnd, {{-4001, "40001", "serialization failure"}});
    EXPECT_EQ(OA_CloseCursor(stmtId), ERR_GENERAL_ERROR);
    EXPECT_EQ(Records(stmt->errors), (std::vector<std::string>{"40001|serialization failure"}));
    EXPECT_NE(conn->transFlags & OA_TRANS_OPEN, 0);
}

TEST_F(AgentExecScript, RefusedPrepareGives37000) {
    script.failNext("tpe_sqlprepare", {{-20003, "42000", "syntax error"}});
    EXPECT_EQ(OA_Prepare(stmtId, "SELEC x"), ERR_SYNTAX_ERROR_OR_ACCESS);
    EXPECT_EQ(Records(stmt->errors), (std::vector<std::string>{"42000|syntax error"}));
    EXPECT_EQ(stmt->flags & STMT_PREPARED, 0);
    EXPECT_EQ(OA_Execute(stmtId), ERR_FUNCTION_SEQUENCE_ERROR);
}

TEST_F(AgentExecScript, ColumnAttributesOfTheDescribedColumns) {
    script.addResult({{{"C", ESQL_CHARACTER, 4, 0, 1, 1}, {"N", ESQL_INTEGER}}});
    ASSERT_EQ(OA_Prepare(stmtId, "SELECT c, n FROM t"), 0);
    ASSERT_EQ(stmt->colAttrs.count, 30u);
    const OA_COLATTRREQ* reqs = stmt->colAttrs.reqs;
    struct Case {
        int column, slot, attribute;
        int64_t number;
        const char* text;
    } cases[] = {
        {0, 3, 10, 2, nullptr},          // the bookmark column keeps the template
        {1, 0, 11, 0, nullptr},
        {1, 1, 12, 1, nullptr},          // case sensitive: text
        {1, 2, -13, 0, nullptr},         // not answered by the agent
        {1, 3, 10, 1, nullptr},          // updatable as described
        {1, 4, 14, 0, "character"},
        {1, 5, 27, 0, "'"},
        {1, 7, -1053, 0, nullptr},
        {2, 1, 12, 0, nullptr},
        {2, 3, 10, 0, nullptr},
        {2, 4, 14, 0, "integer"},
        {2, 6, 28, 0, ""},
        {2, 9, -1055, 0, nullptr},
    };
    for (const Case& c : cases) {
        const OA_COLATTRREQ& r = reqs[c.column * OA_COLATTR_PER_COLUMN + c.slot];
        SCOPED_TRACE(std::to_string(c.column) + "/" + std::to_string(c.attribute));
        EXPECT_EQ(r.column, c.column);
        EXPECT_EQ(r.attribute, c.attribute);
        if (c.text != nullptr) {
            ASSERT_NE(r.text, nullptr);
            EXPECT_STREQ(r.text, c.text);
        } else {
            EXPECT_EQ(r.number, c.number);
        }
    }
}

// ---- Read-only connection -----------------------------------------------------------------

TEST(AgentExecReadOnly, RefusesStatementsOtherThanSelect) {
    esql92::Script script;
    Session s;
    s.Open("scripted.db", 1);
    script.takeCalls();
    EXPECT_EQ(OA_Prepare(s.stmtId, "INSERT INTO t VALUES (1)"), ERR_ONLY_SELECT_STATEMENTS_ARE_ALLOWED_DURING);
    EXPECT_EQ(Records(s.stmt->errors).size(), 1u);
    EXPECT_EQ(script.takeCalls(), Calls{});
    // A SELECT runs, and takes no transaction step.
    script.addResult(kThreeRows);
    ASSERT_EQ(s.Exec("SELECT a, b FROM t"), 0);
    DATASET rows{};
    ASSERT_EQ(OA_Fetch(s.stmtId, 5, &rows), 0);
    EXPECT_EQ(rows.rowsUsed, 3);
    ds_Free(&rows);
    for (const std::string& c : script.takeCalls())
        EXPECT_NE(c, kEnd);
    s.Close();
}

// ---- Procedure calls ----------------------------------------------------------------------

class AgentProcScript : public AgentExecScript {
protected:
    // Prepares "{call p(?, ?)}" with two described parameters.
    void PrepareCall() {
        script.addResult({{}, {}, {{"", ESQL_INTEGER}, {"", ESQL_VARCHAR, 10}}});
        ASSERT_EQ(OA_Prepare(stmtId, "{call p(?, ?)}"), 0);
        script.takeCalls();
    }
    int Execute(std::vector<PARAM_DESC> descs, DATASET* values) {
        return OA_PrepareAndExecute(stmtId, nullptr, values, static_cast<uint16_t>(descs.size()), descs.data());
    }
};

TEST_F(AgentProcScript, CallWithInputParameters) {
    script.addResult({{}, {}, {{"", ESQL_INTEGER}, {"", ESQL_VARCHAR, 10}}});
    ASSERT_EQ(OA_Prepare(stmtId, "{call p(?, ?)}"), 0);
    Calls prepare = script.takeCalls();
    ASSERT_GE(prepare.size(), 2u);
    EXPECT_EQ(prepare[1], "tpe_set_cursor #1 " + Identity(prepare) + " 1 CALL p(?, ?)");
    EXPECT_NE(stmt->flags & STMT_DESCRIBED, 0);
    EXPECT_STREQ(stmt->params.items[0].name, "*I");
    ASSERT_EQ(Execute({Desc(1), Desc(1, 12)}, Params({{5, "x"}})), 0);
    ExpectCalls({"S", "S", "tpe_sqlexecute #1 (5, 'x')", "S", kEnd});
    EXPECT_NE(stmt->flags & STMT_EXECUTED, 0);
    EXPECT_NE(stmt->flags & STMT_RETURN_SETTLED, 0);
    EXPECT_EQ(stmt->flags & STMT_OUT_PENDING, 0);
}

TEST_F(AgentProcScript, RefusedParameterKindsAndCounts) {
    struct Case {
        std::vector<PARAM_DESC> descs;
        std::vector<std::vector<Value>> values;
        int rc;
        const char* line;
    } cases[] = {
        {{Desc(1), Desc(3)}, {{1, "a"}}, ERR_GENERAL_ERROR,
         "3:invalid parameter type SQL_PARAM_RESULT_COL encountered"},
        {{Desc(5), Desc(1)}, {{1, "a"}}, ERR_GENERAL_ERROR,
         "3:invalid parameter type SQL_PARAM_RETURN_VALUE encountered"},
        {{Desc(1), Desc(2)}, {{1}}, ERR_WRONG_NUMBER_OF_PARAMETERS, "4:execute without prior parameters set"},
        {{Desc(1)}, {{1}}, ERR_WRONG_NUMBER_OF_PARAMETERS, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line != nullptr ? c.line : "one description");
        PrepareCall();
        log.lines.clear();
        EXPECT_EQ(Execute(c.descs, Params(c.values)), c.rc);
        if (c.line != nullptr) {
            EXPECT_EQ(log.matching(c.line).size(), 1u);
        }
        for (const std::string& call : script.takeCalls())
            EXPECT_EQ(call.find("tpe_sqlexecute"), std::string::npos);
        EXPECT_EQ(stmt->flags & STMT_EXECUTED, 0);
    }
}

// Output values have no reader yet: the commit waits for the cursor's close, not longer.
TEST_F(AgentProcScript, OutputParametersDeferTheCommitToTheClose) {
    PrepareCall();
    ASSERT_EQ(Execute({Desc(1), Desc(4, 12)}, Params({{5}})), 0);
    Calls calls = script.takeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().rfind("tpe_sqlexecute #1 (5, ", 0), 0u) << calls.back();
    EXPECT_NE(stmt->flags & STMT_OUT_PENDING, 0);
    EXPECT_NE(conn->transFlags & OA_TRANS_OPEN, 0);
    EXPECT_EQ(OA_CloseCursor(stmtId), 0);
    ExpectCalls({"S", "tpe_sqlclose #1", "S", kEnd});
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);
    EXPECT_EQ(stmt->flags & STMT_OUT_PENDING, 0);
}

TEST(AgentMarkToQuestion, ReplacesEveryMark) {
    char text[] = "CALL p(\x01, 'a', \x01)";
    db_MarkToQuestion(text);
    EXPECT_STREQ(text, "CALL p(?, 'a', ?)");
    db_MarkToQuestion(nullptr);
}

// ---- Initial SQL ---------------------------------------------------------------------

// The ODBC side reads the file; the agent gets its name and contents.
class AgentInitSqlScript : public AgentExecScript {
protected:
    // The text of the statement that the run set up, or "" when none.
    static std::string SetUpText(const Calls& calls) {
        for (const std::string& c : calls)
            if (c.rfind("tpe_set_cursor #", 0) == 0)
                return c.substr(c.find(' ', c.find(' ', 16) + 1) + 3);
        return "";
    }
};

// The text runs on the connection whose connect request carries it, and on no other.
TEST_F(AgentInitSqlScript, RunsWithTheConnectThatCarriesIt) {
    Session other;
    other.initSqlText = "UPDATE t SET k = 1";
    other.Open("scripted.db");
    EXPECT_EQ(other.initSqlResult, 0);
    EXPECT_EQ(SetUpText(script.takeCalls()), "UPDATE t SET k = 1");
    other.Close();

    Session plain;
    plain.Open("scripted.db");
    EXPECT_EQ(plain.initSqlResult, 0);
    EXPECT_EQ(SetUpText(script.takeCalls()), "");
    plain.Close();
}

// The file is narrow text in the application's code set: the Unicode library's UTF-8
// client takes ISO-8859-1 converted; the ANSI library's client was told ISO8859-1.
TEST_F(AgentInitSqlScript, IsConvertedForTheClientsCodePage) {
    const struct {
        int32_t unicodeLibrary;
        const char* sent;
    } rows[] = {{1, "UPDATE t SET v = 'caf\xC3\xA9'"}, {0, "UPDATE t SET v = 'caf\xE9'"}};
    for (const auto& r : rows) {
        Session s;
        s.unicodeLibrary = r.unicodeLibrary;
        s.narrowLatin1 = 1;
        s.initSqlText = "UPDATE t SET v = 'caf\xE9'";
        s.Open("scripted.db");
        EXPECT_EQ(s.initSqlResult, 0);
        EXPECT_EQ(SetUpText(script.takeCalls()), r.sent) << r.unicodeLibrary;
        s.Close();
    }
}

TEST_F(AgentInitSqlScript, RunsAsOneStatementAndCommitsInAutocommit) {
    const char* text = "INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)";
    ASSERT_EQ(OA_RunInitialSql(connId, "two.sql", text), 0);
    Calls calls = script.takeCalls();
    EXPECT_EQ(SetUpText(calls), text);
    ASSERT_GE(calls.size(), 4u);
    // The run, its commit, and the close of the freed statement.
    EXPECT_EQ(Calls(calls.end() - 4, calls.end()), (Calls{"tpe_sqlexecute #1", SetConn(), kEnd, SetConn()}));
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);

    // Without autocommit the transaction stays open for the application, and is known.
    AutocommitOff();
    ASSERT_EQ(OA_RunInitialSql(connId, "two.sql", text), 0);
    for (const std::string& c : script.takeCalls())
        EXPECT_NE(c, kEnd);
    EXPECT_NE(conn->transFlags & OA_TRANS_OPEN, 0);
}

TEST_F(AgentInitSqlScript, EscapesAreTranslatedOnce) {
    LogCapture warnings(LOG_WARNING);
    ASSERT_EQ(OA_RunInitialSql(connId, "esc.sql", "SELECT {fn nosuchfn(1)} FROM t"), 0);
    EXPECT_EQ(warnings.matching("unknown escape function nosuchfn called").size(), 1u);
}

// A failure leaves its log line, the server's messages on the connection for the ODBC
// side's warning, and a working connection.
TEST_F(AgentInitSqlScript, FailuresLeaveALogLineTheMessagesAndAWorkingConnection) {
    script.failNext("tpe_sqlprepare", {{-20003, "42000", "syntax error"}});
    script.failNext("tpe_sqlexecute", {{-20004, "42S02", "no table t"}});
    LogCapture errors(LOG_ERR);
    struct Case {
        const char* name;
        const char* text;
        const char* state;
    } cases[] = {{"bad.sql", "SELEC 1", "42000"}, {"failing.sql", "DELETE FROM t", "42S02"}};
    for (const Case& c : cases) {
        EXPECT_EQ(OA_RunInitialSql(connId, c.name, c.text), -1);
        ASSERT_NE(conn->errors.head, nullptr) << c.name;
        EXPECT_STREQ(conn->errors.head->sqlstate, c.state);
        OA_ErrClear(&conn->errors);
    }
    const std::vector<std::string> want = {"3:preparation of bad.sql failed", "3:execution of failing.sql failed"};
    EXPECT_EQ(errors.lines, want);
    // The failed run's transaction was ended all the same, and the connection still works.
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);
    EXPECT_EQ(OA_RunInitialSql(connId, "good.sql", "DELETE FROM t"), 0);
}

}  // namespace
