// Agent connections against the scripted client: what connect sends and takes over, the
// transaction state machine with the client calls of each step, commit and rollback with
// their failures, disconnect, and statements with their cursor names and cursors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent_conn_fixture.h"
#include "drv_pro9/oa_exec.h"
#include "platform/esql92/esql92_script.h"
#include "util/errcode.h"

namespace {

using agenttest::ConnRequest;
using agenttest::LogCapture;
using agenttest::Records;
using Calls = std::vector<std::string>;

std::string NameOf(uint32_t attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "KVRConn-%08X", attempt);
    return name;
}

class AgentConnScript : public agenttest::AgentConnections {
protected:
    // The record of a connection, with the calls of its connect forgotten.
    OA_CONN* Open() {
        uint32_t id = Connect();
        EXPECT_EQ(lastRc, 0);
        script.takeCalls();
        connId = id;
        return oa_FindConn(id);
    }
    std::string Current(const OA_CONN* conn) { return "tpe_sql_setconnection " + conn->db->name; }

    esql92::Script script;
    uint32_t connId = 0;
};

// --- connect ---------------------------------------------------------------------------

TEST_F(AgentConnScript, SettingsOfTheRequestReachTheServer) {
    ConnRequest req;
    req.user("alice").password("secret").database("/data/sales.db").dbOptions("-H dbhost -S 5000");
    settings.defaultIsolation = 8;
    uint32_t attempt = Agent().connectAttempts;
    uint32_t id = Connect(req);
    ASSERT_EQ(lastRc, 0);
    EXPECT_EQ(id >> 16, 0xBBBBu);
    const std::string name = NameOf(attempt);
    EXPECT_EQ(script.takeCalls(),
              (Calls{"tpe_sqlconnect progress:T:dbhost:5000:/data/sales.db " + name + " alice secret",
                     "tpe_get_curdbhdl", "tpe_get_curtmhdl", "tpe_sql_setconnection " + name, "tpe_tm_set_level 3"}));
    EXPECT_EQ(TextProperty(id, oa_InfoTextCode(47)), "alice");
    EXPECT_EQ(TextProperty(id, oa_InfoTextCode(16)), "/data/sales.db");
}

TEST_F(AgentConnScript, IsolationIsSetAtConnectUnlessRepeatableReadOrNone) {
    for (uint32_t iso : {0u, 4u}) {
        SCOPED_TRACE(iso);
        settings.defaultIsolation = iso;
        Connect();
        ASSERT_EQ(lastRc, 0);
        EXPECT_EQ(script.takeCalls().size(), 3u);   // connect and the two handles only
    }
}

TEST_F(AgentConnScript, MissingUserPasswordAndDatabaseBecomeEmptyTexts) {
    ConnRequest req;
    uint32_t attempt = Agent().connectAttempts;
    Connect(req);
    ASSERT_EQ(lastRc, 0);
    ASSERT_NE(req.get()->user, nullptr);
    ASSERT_NE(req.get()->password, nullptr);
    ASSERT_NE(req.get()->database, nullptr);
    EXPECT_STREQ(req.get()->user, "");
    EXPECT_EQ(script.takeCalls().front(), "tpe_sqlconnect progress:T::: " + NameOf(attempt) + "  ");
}

TEST_F(AgentConnScript, WidePrefixSetsTheWideFlagAndGoesNowhere) {
    const struct {
        std::string options;
        int32_t wide;
    } cases[] = {
        {std::string("W\x7F\x01\x01", 4), 1},
        {std::string("W\x7F\x01\x01-opt", 8), 1},
        {std::string("W\x7F\x01", 3), 0},
        {std::string("X\x7F\x01\x01", 4), 0},
        {std::string("W\x7F\x02\x01", 4), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.size());
        ConnRequest req;
        req.user("u").password("p").database("db").options(c.options);
        uint32_t id = Connect(req);
        ASSERT_EQ(lastRc, 0);
        EXPECT_EQ(IntProperty(id, OA_PROP_WIDE), c.wide);
        EXPECT_EQ(script.takeCalls().front().find('\x7F'), std::string::npos);
    }
}

TEST_F(AgentConnScript, SettingsOfTheRequestAreCopiedIntoTheConnection) {
    settings.noAutoCommit = 1;
    settings.dynCursSensitivity = 2;
    settings.maxRows = 100;
    std::string name = "SALESDB";
    settings.sqlDbmsName = name.c_str();
    uint32_t first = Connect();
    ASSERT_EQ(lastRc, 0);
    name.assign("OVERWRITTEN");   // the request's text: the connection keeps its own copy
    settings.sqlDbmsName = nullptr;
    EXPECT_EQ(TextProperty(first, oa_InfoTextCode(17)), "SALESDB");
    EXPECT_EQ(IntProperty(first, OA_PROP_AUTOCOMMIT), 0);
    EXPECT_EQ(IntProperty(first, oa_InfoIntCode(44)), 17);

    // The next connect without a name of its own answers the default.
    uint32_t second = Connect();
    EXPECT_EQ(TextProperty(second, oa_InfoTextCode(17)), "PROGRESS");
    EXPECT_EQ(TextProperty(first, oa_InfoTextCode(17)), "SALESDB");
}

TEST_F(AgentConnScript, RefusedConnectLeavesItsMessagesOnTheServerAndNothingOpen) {
    script.failNext("tpe_sqlconnect", {{-1001, "08001", "cannot open mydb"}});
    uint32_t id = 777;
    ConnRequest req;
    EXPECT_EQ(OA_Connect(serverId, req.get(), &id), ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(Records(oa_FindServer(serverId)->errors), (std::vector<std::string>{"-1001|08001|cannot open mydb"}));
    EXPECT_EQ(Agent().conns.freeCount, Agent().conns.slotCount);

    EXPECT_EQ(OA_Connect(serverId + 1, req.get(), &id), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_Connect(serverId, nullptr, &id), ERR_INVALID_ARGUMENT_VALUE);
}

// A table whose every slot is taken, for as long as it lives: the slots it fills name a
// dummy, so the table is used for nothing else meanwhile.
class FullTable {
public:
    explicit FullTable(HANDLE_TABLE& t) : t_(t) {
        uint32_t id = 0;
        while (hdl_Add(&t_, &id, &dummy_) == 0)
            ids_.push_back(id);
    }
    ~FullTable() {
        for (uint32_t id : ids_)
            hdl_Remove(&t_, id);
    }
    FullTable(const FullTable&) = delete;
    FullTable& operator=(const FullTable&) = delete;

private:
    HANDLE_TABLE& t_;
    std::vector<uint32_t> ids_;
    int dummy_ = 0;
};

TEST_F(AgentConnScript, ConnectionThatCannotBeRegisteredIsClosedAndReported) {
    uint32_t attempt = Agent().connectAttempts;
    uint32_t id = 777;
    ConnRequest req;
    {
        FullTable full(Agent().conns);
        EXPECT_EQ(OA_Connect(serverId, req.get(), &id), ERR_LIMIT_ON_THE_NUMBER_OF_HANDLES);
    }
    EXPECT_EQ(id, 0u);
    Calls calls = script.takeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "tpe_sql_disconnect 0 " + NameOf(attempt));
    EXPECT_EQ(Records(oa_FindServer(serverId)->errors),
              (std::vector<std::string>{"0|S1014|Limit on the number of handles exceeded"}));
}

// --- transaction state -----------------------------------------------------------------

enum class Ends { Nothing, Current, Commit, Rollback };

TEST_F(AgentConnScript, TransactionStepsOfAReadWriteConnection) {
    struct Row {
        int step;
        int autocommit;
        bool open;
        int rc;
        Ends calls;
        int autocommitAfter;
        bool openAfter;
    } const rows[] = {
        {OA_TRANS_BEGIN, 0, false, 0, Ends::Current, 0, true},
        {OA_TRANS_BEGIN, 0, true, 0, Ends::Nothing, 0, true},
        {OA_TRANS_BEGIN, 1, false, 0, Ends::Current, 1, true},
        {OA_TRANS_BEGIN, 1, true, 0, Ends::Nothing, 1, true},
        {OA_TRANS_COMMIT, 0, false, 0, Ends::Nothing, 0, false},
        {OA_TRANS_COMMIT, 0, true, 0, Ends::Commit, 0, false},
        {OA_TRANS_COMMIT, 1, false, 0, Ends::Nothing, 1, false},
        {OA_TRANS_COMMIT, 1, true, 0, Ends::Commit, 1, false},
        {OA_TRANS_ROLLBACK, 0, false, 0, Ends::Nothing, 0, false},
        {OA_TRANS_ROLLBACK, 0, true, 0, Ends::Rollback, 0, false},
        {OA_TRANS_ROLLBACK, 1, false, ERR_DRIVER_NOT_CAPABLE, Ends::Nothing, 1, false},
        {OA_TRANS_ROLLBACK, 1, true, ERR_DRIVER_NOT_CAPABLE, Ends::Nothing, 1, true},
        {OA_TRANS_AUTOCOMMIT_ON, 0, false, 0, Ends::Nothing, 1, false},
        {OA_TRANS_AUTOCOMMIT_ON, 0, true, 0, Ends::Commit, 1, false},   // work done so far is kept
        {OA_TRANS_AUTOCOMMIT_ON, 1, false, 0, Ends::Nothing, 1, false},
        {OA_TRANS_AUTOCOMMIT_ON, 1, true, 0, Ends::Nothing, 1, true},
        {OA_TRANS_AUTOCOMMIT_OFF, 0, false, 0, Ends::Nothing, 0, false},
        {OA_TRANS_AUTOCOMMIT_OFF, 0, true, 0, Ends::Nothing, 0, true},
        {OA_TRANS_AUTOCOMMIT_OFF, 1, false, 0, Ends::Nothing, 0, false},
        {OA_TRANS_AUTOCOMMIT_OFF, 1, true, 0, Ends::Rollback, 0, false},
        {9, 0, true, ERR_GENERAL_ERROR, Ends::Nothing, 0, true},
    };
    OA_CONN* conn = Open();
    ASSERT_NE(conn, nullptr);
    const std::string current = Current(conn);
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "step " << r.step << " autocommit " << r.autocommit << " open " << r.open);
        conn->autocommit = r.autocommit;
        conn->transFlags = r.open ? OA_TRANS_OPEN : 0;
        EXPECT_EQ(OA_TransState(conn, r.step), r.rc);
        Calls expected;
        switch (r.calls) {
        case Ends::Nothing: break;
        case Ends::Current: expected = {current}; break;
        case Ends::Commit: expected = {current, "tpe_tm_end_trans"}; break;
        case Ends::Rollback: expected = {current, "tpe_tm_mark_abort", "tpe_tm_end_trans"}; break;
        }
        EXPECT_EQ(script.takeCalls(), expected);
        EXPECT_EQ(conn->autocommit, r.autocommitAfter);
        EXPECT_EQ((conn->transFlags & OA_TRANS_OPEN) != 0, r.openAfter);
    }
}

TEST_F(AgentConnScript, ReadOnlyConnectionMakesNoTransactionCalls) {
    ConnRequest req;
    req.readOnly(true);
    uint32_t id = Connect(req);
    ASSERT_EQ(lastRc, 0);
    OA_CONN* conn = oa_FindConn(id);
    script.takeCalls();
    for (int step : {OA_TRANS_BEGIN, OA_TRANS_COMMIT, OA_TRANS_ROLLBACK, OA_TRANS_AUTOCOMMIT_ON,
                     OA_TRANS_AUTOCOMMIT_OFF, 9}) {
        for (int autocommit : {0, 1}) {
            for (bool open : {false, true}) {
                SCOPED_TRACE(testing::Message() << "step " << step << " autocommit " << autocommit << " open " << open);
                conn->autocommit = autocommit;
                conn->transFlags = open ? OA_TRANS_OPEN : 0;
                EXPECT_EQ(OA_TransState(conn, step), 0);
                EXPECT_TRUE(script.takeCalls().empty());
                EXPECT_EQ((conn->transFlags & OA_TRANS_OPEN) != 0, open);
                int expected = step == OA_TRANS_AUTOCOMMIT_ON ? 1 : step == OA_TRANS_AUTOCOMMIT_OFF ? 0 : autocommit;
                EXPECT_EQ(conn->autocommit, expected);   // the setting is still answered as set
            }
        }
    }
    // Nor do the operations and properties that end transactions.
    conn->transFlags = OA_TRANS_OPEN;
    EXPECT_EQ(OA_Commit(id), 0);
    EXPECT_EQ(OA_Rollback(id), 0);
    EXPECT_EQ(SetInt(id, OA_PROP_AUTOCOMMIT, 0), 0);
    EXPECT_EQ(SetInt(id, OA_PROP_AUTOCOMMIT, 1), 0);
    EXPECT_TRUE(script.takeCalls().empty());
}

// Switching the access mode later changes the answer only: a connection opened read-write
// keeps committing its work.
TEST_F(AgentConnScript, AccessModeSetLaterLeavesTransactionsAsConnected) {
    OA_CONN* conn = Open();
    EXPECT_EQ(SetInt(connId, OA_PROP_ACCESS_MODE, 1), 0);
    EXPECT_EQ(IntProperty(connId, OA_PROP_ACCESS_MODE), 1);
    EXPECT_EQ(TextProperty(connId, oa_InfoTextCode(25)), "N");
    conn->transFlags = OA_TRANS_OPEN;
    EXPECT_EQ(OA_Commit(connId), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{Current(conn), "tpe_tm_end_trans"}));
}

TEST_F(AgentConnScript, CommitAndRollbackEndOnlyAnOpenTransaction) {
    OA_CONN* conn = Open();
    conn->autocommit = 0;
    EXPECT_EQ(OA_Commit(connId), 0);
    EXPECT_EQ(OA_Rollback(connId), 0);
    EXPECT_TRUE(script.takeCalls().empty());

    conn->transFlags = OA_TRANS_OPEN;
    EXPECT_EQ(OA_Rollback(connId), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{Current(conn), "tpe_tm_mark_abort", "tpe_tm_end_trans"}));

    // In autocommit mode a rollback has nothing of the application's to end.
    conn->autocommit = 1;
    conn->transFlags = OA_TRANS_OPEN;
    EXPECT_EQ(OA_Rollback(connId), 0);
    EXPECT_TRUE(script.takeCalls().empty());

    EXPECT_EQ(OA_Commit(connId + 1), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_Rollback(serverId), ERR_INVALID_ARGUMENT_VALUE);
}

// A commit or rollback that the server refused is reported with the server's words, and
// the transaction stays open so that the next end reaches the server again.
TEST_F(AgentConnScript, FailedEndOfTransactionIsReportedAndLeavesTheTransactionOpen) {
    OA_CONN* conn = Open();
    conn->autocommit = 0;
    const struct {
        int (*end)(uint32_t);
        const char* call;
    } cases[] = {{OA_Commit, "tpe_tm_end_trans"}, {OA_Rollback, "tpe_tm_mark_abort"},
                 {OA_Rollback, "tpe_sql_setconnection"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        conn->transFlags = OA_TRANS_OPEN;
        script.failNext(c.call, {{-4001, "40001", "serialization failure"}});
        EXPECT_EQ(c.end(connId), ERR_GENERAL_ERROR);
        EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, OA_TRANS_OPEN);
        OA_ERRTEXTS texts{};
        ASSERT_EQ(OA_GetErrors(connId, &texts), 0);
        ASSERT_EQ(texts.count, 1);
        EXPECT_STREQ(texts.texts[0], "[Progress Server]serialization failure[SQLSTATE:40001]");
        OA_ErrTextsFree(&texts);
        script.takeCalls();
        EXPECT_EQ(c.end(connId), 0);   // tried again, and done
        EXPECT_EQ(script.takeCalls().back(), "tpe_tm_end_trans");
        EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);
    }
}

TEST_F(AgentConnScript, AutocommitSwitchThatCannotEndTheTransactionKeepsItsSetting) {
    OA_CONN* conn = Open();
    // On: the open work cannot be committed, so autocommit stays off.
    conn->autocommit = 0;
    conn->transFlags = OA_TRANS_OPEN;
    script.failNext("tpe_tm_end_trans", {{-4001, "40001", "serialization failure"}});
    EXPECT_EQ(SetInt(connId, OA_PROP_AUTOCOMMIT, 1), ERR_GENERAL_ERROR);
    EXPECT_EQ(IntProperty(connId, OA_PROP_AUTOCOMMIT), 0);
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, OA_TRANS_OPEN);
    // Off: the open transaction cannot be rolled back, so autocommit stays on.
    conn->autocommit = 1;
    script.failNext("tpe_tm_mark_abort", {{-4002, "HY000", "cannot mark"}});
    EXPECT_EQ(SetInt(connId, OA_PROP_AUTOCOMMIT, 0), ERR_GENERAL_ERROR);
    EXPECT_EQ(IntProperty(connId, OA_PROP_AUTOCOMMIT), 1);
    // Begin: a connection that cannot be made current opens nothing.
    conn->transFlags = 0;
    script.failNext("tpe_sql_setconnection", {{ESQL_ERR_NO_CONNECTION, "08003", "gone"}});
    EXPECT_EQ(OA_TransState(conn, OA_TRANS_BEGIN), ERR_GENERAL_ERROR);
    EXPECT_EQ(conn->transFlags & OA_TRANS_OPEN, 0);
}

// --- disconnect ------------------------------------------------------------------------

TEST_F(AgentConnScript, DisconnectRollsBackFreesItsStatementsAndCloses) {
    OA_CONN* conn = Open();
    conn->autocommit = 0;
    conn->transFlags = OA_TRANS_OPEN;
    const std::string name = conn->db->name;
    uint32_t stmt = 0;
    ASSERT_EQ(OA_AllocStmt(connId, &stmt), 0);
    EXPECT_EQ(OA_Disconnect(connId), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{"tpe_sql_setconnection " + name, "tpe_tm_mark_abort", "tpe_tm_end_trans",
                                         "tpe_sql_disconnect 0 " + name}));
    EXPECT_EQ(oa_FindStmt(stmt), nullptr);
    EXPECT_EQ(OA_Disconnect(connId), ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(AgentConnScript, DisconnectThatTheClientRefusesStillCloses) {
    Open();
    LogCapture log;
    script.failNext("tpe_sql_disconnect", {{-6001, "08003", "not connected"}});
    EXPECT_EQ(OA_Disconnect(connId), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"7:DB_Disconnect failed."}));
    EXPECT_EQ(oa_FindConn(connId), nullptr);
}

// --- statements and cursor names ---------------------------------------------------------

TEST_F(AgentConnScript, StatementsGetDistinctCursorNamesAndTheConnectionsRowLimit) {
    settings.maxRows = 100;
    Open();
    uint32_t a = 0, b = 0;
    ASSERT_EQ(OA_AllocStmt(connId, &a), 0);
    ASSERT_EQ(OA_AllocStmt(connId, &b), 0);
    EXPECT_EQ(a >> 16, 0xCCCCu);
    char na[32], nb[32];
    ASSERT_EQ(OA_GetCursorName(a, na, sizeof na, nullptr), 0);
    ASSERT_EQ(OA_GetCursorName(b, nb, sizeof nb, nullptr), 0);
    unsigned long long first = 0, second = 0;
    ASSERT_EQ(std::sscanf(na, "CN%llX", &first), 1) << na;
    ASSERT_EQ(std::sscanf(nb, "CN%llX", &second), 1) << nb;
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(std::string(na), "CN" + [&] {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%llX", first);
        return std::string(hex);
    }());
    EXPECT_EQ(IntProperty(a, OA_PROP_MAX_ROWS), 100);
    EXPECT_TRUE(script.takeCalls().empty());   // no server cursor before the statement is set up

    EXPECT_EQ(OA_AllocStmt(serverId, &a), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_AllocStmt(connId, nullptr), ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(AgentConnScript, CursorNameIsCopiedOutWithTruncation) {
    Open();
    uint32_t stmt = 0;
    ASSERT_EQ(OA_AllocStmt(connId, &stmt), 0);
    ASSERT_EQ(OA_SetCursorName(stmt, "CN1A2B3C"), 0);
    const struct {
        int32_t bufLen;
        int rc;
        const char* text;
    } cases[] = {{4, ERR_DATA_WAS_TRUNCATED, "CN1"}, {8, ERR_DATA_WAS_TRUNCATED, "CN1A2B3"},
                 {9, 0, "CN1A2B3C"}, {1, ERR_DATA_WAS_TRUNCATED, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bufLen);
        char buf[16];
        std::memset(buf, 'x', sizeof buf);
        int32_t len = -1;
        EXPECT_EQ(OA_GetCursorName(stmt, buf, c.bufLen, &len), c.rc);
        EXPECT_STREQ(buf, c.text);
        EXPECT_EQ(buf[c.bufLen], 'x');
        EXPECT_EQ(len, 8);
    }
    // A buffer with no room at all holds nothing of the name: that is a cut too, or the
    // caller would take its untouched buffer for the name.
    for (int32_t bufLen : {0, -5}) {
        SCOPED_TRACE(bufLen);
        char buf[4] = {'x', 'x', 'x', 'x'};
        int32_t len = -1;
        EXPECT_EQ(OA_GetCursorName(stmt, buf, bufLen, &len), ERR_DATA_WAS_TRUNCATED);
        EXPECT_EQ(buf[0], 'x');
        EXPECT_EQ(len, 8);
    }
    // A null buffer only asks for the length.
    int32_t len = -1;
    EXPECT_EQ(OA_GetCursorName(stmt, nullptr, 0, &len), 0);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(OA_GetCursorName(connId, nullptr, 0, &len), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_SetCursorName(stmt, nullptr), ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(AgentConnScript, StatementThatCannotBeRegisteredIsFreedAndReported) {
    OA_CONN* conn = Open();
    uint32_t stmt = 777;
    {
        FullTable full(Agent().stmts);
        EXPECT_EQ(OA_AllocStmt(connId, &stmt), ERR_LIMIT_ON_THE_NUMBER_OF_HANDLES);
    }
    EXPECT_EQ(stmt, 0u);
    EXPECT_EQ(Records(conn->errors), (std::vector<std::string>{"0|S1014|Limit on the number of handles exceeded"}));
    EXPECT_EQ(Agent().stmts.freeCount, Agent().stmts.slotCount);
}

// A statement whose ESQL cursor exists, as prepare leaves it.
class AgentStmtCursor : public AgentConnScript {
protected:
    void SetUp() override {
        AgentConnScript::SetUp();
        conn = Open();
        ASSERT_EQ(OA_AllocStmt(connId, &stmtId), 0);
        stmt = oa_FindStmt(stmtId);
        unsigned char identity[ESQL_IDENTITY_SIZE] = {1};
        ESQL_SQLCA ca{};
        tpe_set_cursor(conn->db->tmHandle, conn->db->dbHandle, &stmt->cursor->handle, identity,
                       ESQL_CURSOR_DYNAMIC, "select 1", &ca);
        ASSERT_EQ(ca.sqlcode, 0);
        script.takeCalls();
    }

    OA_CONN* conn = nullptr;
    OA_STMT* stmt = nullptr;
    uint32_t stmtId = 0;
};

TEST_F(AgentStmtCursor, NewCursorNameReachesAnExistingServerCursorAtOnce) {
    ASSERT_EQ(OA_SetCursorName(stmtId, "ORDERS_CUR"), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{Current(conn), "tpe_set_cursorname #1 ORDERS_CUR"}));
    EXPECT_EQ(stmt->cursorName, "ORDERS_CUR");

    // Refused: the old name stays, the server's words wait on the statement.
    script.failNext("tpe_set_cursorname", {{-7001, "34000", "bad cursor name"}});
    EXPECT_EQ(OA_SetCursorName(stmtId, "OTHER"), ERR_GENERAL_ERROR);
    EXPECT_EQ(stmt->cursorName, "ORDERS_CUR");
    EXPECT_EQ(Records(stmt->errors), (std::vector<std::string>{"-7001|34000|bad cursor name"}));
}

TEST_F(AgentStmtCursor, FreeClosesTheCursorWhereOneCanBeOpen) {
    const struct {
        const char* what;
        int16_t type;
        uint16_t flags;
        bool closes;
    } cases[] = {
        {"select", SQLT_KIND_SELECT, 0, true},
        {"executed update", SQLT_KIND_DML, STMT_EXECUTED, true},
        {"unexecuted update", SQLT_KIND_DML, 0, false},
        {"select after end of transaction", SQLT_KIND_SELECT, STMT_CURSOR_RESET, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stmt->type = c.type;
        stmt->flags = c.flags;
        ASSERT_EQ(OA_CloseCursor(stmtId), 0);
        Calls expected{Current(conn)};
        if (c.closes)
            expected.push_back("tpe_sqlclose #1");
        EXPECT_EQ(script.takeCalls(), expected);
    }
    stmt->type = SQLT_KIND_SELECT;
    stmt->flags = STMT_EXECUTED | STMT_CURSOR_OPEN;
    ASSERT_EQ(OA_FreeStmt(stmtId), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{Current(conn), "tpe_sqlclose #1"}));
    EXPECT_EQ(oa_FindStmt(stmtId), nullptr);
    EXPECT_EQ(OA_FreeStmt(stmtId), ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(AgentStmtCursor, CloseAnswersSuccessEvenWhenTheServerRefuses) {
    stmt->type = SQLT_KIND_SELECT;
    stmt->flags = STMT_EXECUTED | STMT_CURSOR_OPEN;
    script.failNext("tpe_sqlclose", {{-7002, "24000", "not open"}});
    EXPECT_EQ(OA_CloseCursor(stmtId), 0);
    EXPECT_EQ(stmt->flags & STMT_CURSOR_OPEN, 0);
    EXPECT_EQ(Records(stmt->errors), (std::vector<std::string>{"-7002|24000|not open"}));
    EXPECT_EQ(OA_CloseCursor(connId), ERR_INVALID_ARGUMENT_VALUE);
}

}  // namespace
