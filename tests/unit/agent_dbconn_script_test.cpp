// The agent's ESQL connection against the scripted client: the calls it makes, in order,
// for connect (target, names, the retry on a taken name and its limit), the current
// connection before every call, end of transaction, isolation and disconnect, and the
// server's messages it queues when a call fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "drv_pro9/db_conn.h"
#include "platform/esql92/esql92_script.h"
#include "util/errcode.h"
#include "util/log.h"

namespace {

using Calls = std::vector<std::string>;
using agenttest::LogCapture;
using agenttest::Records;

std::string NameOf(uint32_t attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "KVRConn-%08X", attempt);
    return name;
}

class AgentDbConnScript : public AgentHandles {
protected:
    // The ANSI library in an ISO-8859-1 locale, unless a test says otherwise.
    void SetUp() override {
        AgentHandles::SetUp();
        conn.narrowLatin1 = 1;
    }
    void TearDown() override {
        DB_ConnFree(db);
        AgentHandles::TearDown();
    }

    // A record for the options given, not yet connected.
    void Make(const char* options, const char* database = "mydb") {
        DB_ConnFree(db);
        db = nullptr;
        ASSERT_EQ(DB_ConnNew(server->context, &conn, &db, "alice", "secret", database, options), 0);
        conn.db = db;
    }
    // A connected record; the calls of the connect are forgotten.
    void Connected() {
        Make("");
        ASSERT_EQ(DB_Connect(db), 0);
        script.takeCalls();
    }

    esql92::Script script;
    DB_CONN* db = nullptr;
};

TEST_F(AgentDbConnScript, TargetComesFromTheOptions) {
    struct Case {
        const char* options;
        const char* target;
    } const cases[] = {
        {"-H dbhost -S 5000", "progress:T:dbhost:5000:mydb"},
        {"", "progress:T:::mydb"},
        {nullptr, "progress:T:::mydb"},
        {"-Hfirst -S 1 -H second -N ignored", "progress:T:second:1:mydb"},
        {"-X -S 7", "progress:T::7:mydb"},   // an unknown option is skipped
        {"-H 'db host' -S", "progress:T:db host::mydb"},   // a quoted value; -S lacks one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options ? c.options : "(null)");
        Make(c.options);
        uint32_t attempt = Agent().connectAttempts;
        ASSERT_EQ(DB_Connect(db), 0);
        EXPECT_EQ(script.takeCalls(),
                  (Calls{std::string("tpe_sqlconnect ") + c.target + " " + NameOf(attempt) + " alice secret",
                         "tpe_get_curdbhdl", "tpe_get_curtmhdl", "tpe_set_client_codepage ISO8859-1"}));
    }
}

TEST_F(AgentDbConnScript, OnlyTheAnsiLibraryInIso88591SetsTheClientCodePage) {
    // The client reads the user name as UTF-8 until it is told its code page.
    struct Row {
        int32_t unicodeLibrary;
        int32_t narrowLatin1;
        const char* user;      // as the connect request gives it
        const char* sent;      // as the client gets it
        bool codePage;
    };
    const Row rows[] = {
        {0, 1, "J\xF6rg", "J\xC3\xB6rg", true},
        {0, 0, "J\xC3\xB6rg", "J\xC3\xB6rg", false},  // UTF-8, the client's own
        {1, 1, "J\xC3\xB6rg", "J\xC3\xB6rg", false},  // the Unicode library's text is UTF-8
        {1, 0, "J\xC3\xB6rg", "J\xC3\xB6rg", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.unicodeLibrary) + std::to_string(r.narrowLatin1));
        conn.unicodeLibrary = r.unicodeLibrary;
        conn.narrowLatin1 = r.narrowLatin1;
        DB_ConnFree(db);
        db = nullptr;
        ASSERT_EQ(DB_ConnNew(server->context, &conn, &db, r.user, "secret", "mydb", ""), 0);
        conn.db = db;
        const uint32_t attempt = Agent().connectAttempts;
        ASSERT_EQ(DB_Connect(db), 0);
        Calls want{std::string("tpe_sqlconnect progress:T:::mydb ") + NameOf(attempt) + " " + r.sent + " secret",
                   "tpe_get_curdbhdl", "tpe_get_curtmhdl"};
        if (r.codePage)
            want.push_back("tpe_set_client_codepage ISO8859-1");
        EXPECT_EQ(script.takeCalls(), want);
    }

    // A refused code page would leave ISO-8859-1 text unconverted: the connect is undone.
    conn.unicodeLibrary = 0;
    conn.narrowLatin1 = 1;
    Make("");
    script.failNext("tpe_set_client_codepage", {{ESQL_ERR_GENERAL, "HY000", "unknown client code page"}});
    EXPECT_EQ(DB_Connect(db), ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);
    const Calls calls = script.takeCalls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "tpe_sql_disconnect 0 " + db->name);
    EXPECT_EQ(db->dbHandle, nullptr);
    ASSERT_NE(server->errors.head, nullptr);
}

TEST_F(AgentDbConnScript, UnknownOptionIsLoggedAndTheConnectGoesOn) {
    LogCapture log;
    Make("-X 1 -H dbhost");
    ASSERT_EQ(DB_Connect(db), 0);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"4:invalid connect option specified"}));
    EXPECT_EQ(db->host, "dbhost");
}

TEST_F(AgentDbConnScript, TakenNameIsRetriedWithTheNextNumber) {
    Make("");
    uint32_t attempt = Agent().connectAttempts;
    script.failNext("tpe_sqlconnect", {{ESQL_ERR_NAME_IN_USE, "08002", "name in use"}});
    ASSERT_EQ(DB_Connect(db), 0);
    Calls calls = script.takeCalls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0], "tpe_sqlconnect progress:T:::mydb " + NameOf(attempt) + " alice secret");
    EXPECT_EQ(calls[1], "tpe_sqlconnect progress:T:::mydb " + NameOf(attempt + 1) + " alice secret");
    EXPECT_EQ(db->name, NameOf(attempt + 1));
    EXPECT_EQ(server->errors.head, nullptr);
}

TEST_F(AgentDbConnScript, RetryOnTakenNamesStopsAtItsLimit) {
    Make("");
    for (int i = 0; i < DB_CONNECT_NAME_ATTEMPTS + 5; ++i)
        script.failNext("tpe_sqlconnect", {{ESQL_ERR_NAME_IN_USE, "08002", "name in use"}});
    EXPECT_EQ(DB_Connect(db), ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);
    EXPECT_EQ(script.takeCalls().size(), size_t{DB_CONNECT_NAME_ATTEMPTS});  // and no handle query
    EXPECT_EQ(Records(server->errors), (std::vector<std::string>{"-20220|08002|name in use"}));
}

TEST_F(AgentDbConnScript, RefusedConnectQueuesEveryMessageOnTheServer) {
    Make("");
    LogCapture log;
    script.failNext("tpe_sqlconnect", {{-1001, "08001", "cannot open mydb"},
                                       {-1002, "28000", "user alice unknown"}});
    EXPECT_EQ(DB_Connect(db), ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);
    EXPECT_EQ(script.takeCalls().size(), 1u);
    EXPECT_EQ(Records(server->errors), (std::vector<std::string>{"-1001|08001|cannot open mydb",
                                                                 "-1002|28000|user alice unknown"}));
    EXPECT_EQ(conn.errors.head, nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"3:Progress server rejected connection"}));

    OA_ERRTEXTS texts{};
    ASSERT_EQ(OA_GetErrors(serverId, &texts), 0);
    ASSERT_EQ(texts.count, 2);
    EXPECT_STREQ(texts.texts[1], "[Progress Server]user alice unknown[SQLSTATE:28000]");
    EXPECT_EQ(texts.natives[1], -1002);
    OA_ErrTextsFree(&texts);
}

TEST_F(AgentDbConnScript, EndOfTransactionCallsByType) {
    Connected();
    const std::string current = "tpe_sql_setconnection " + db->name;
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_COMMIT), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{current, "tpe_tm_end_trans"}));
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_ROLLBACK), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{current, "tpe_tm_mark_abort", "tpe_tm_end_trans"}));
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_CURRENT), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{current}));
    EXPECT_EQ(stmt.flags & STMT_CURSOR_RESET, STMT_CURSOR_RESET);
}

TEST_F(AgentDbConnScript, RollbackThatCannotBeMarkedIsNotEnded) {
    Connected();
    script.failNext("tpe_tm_mark_abort", {{-3001, "HY000", "cannot mark"}});
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_ROLLBACK), ERR_GENERAL_ERROR);
    // Ending it now would commit what the application asked to roll back.
    EXPECT_EQ(script.takeCalls(), (Calls{"tpe_sql_setconnection " + db->name, "tpe_tm_mark_abort"}));
    EXPECT_EQ(Records(conn.errors), (std::vector<std::string>{"-3001|HY000|cannot mark"}));
}

TEST_F(AgentDbConnScript, FailedEndOfTransactionQueuesEachMessageWithItsCode) {
    Connected();
    script.failNext("tpe_tm_end_trans", {{-4001, "40001", "serialization failure"},
                                         {-4002, "HY000", ""},
                                         {-4003, "HY000", "third"}});
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_COMMIT), ERR_GENERAL_ERROR);
    EXPECT_EQ(Records(conn.errors),
              (std::vector<std::string>{"-4001|40001|serialization failure",
                                        "-4002|HY000|unknown progress error -4002", "-4003|HY000|third"}));
}

TEST_F(AgentDbConnScript, MessagePullStopsAtItsLimit) {
    Connected();
    std::vector<esql92::Message> many(OA_SQLCA_MAX_MESSAGES + 10, {-5000, "HY000", "again"});
    script.failNext("tpe_tm_end_trans", many);
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_COMMIT), ERR_GENERAL_ERROR);
    EXPECT_EQ(Records(conn.errors).size(), size_t{OA_SQLCA_MAX_MESSAGES});
}

// The client's current connection is process state: when this connection cannot be made
// current, the call must not run on another one.
TEST_F(AgentDbConnScript, FailedSetConnectionStopsTheCall) {
    Connected();
    const esql92::Message lost{ESQL_ERR_NO_CONNECTION, "08003", "no such connection"};
    struct Case {
        const char* what;
        int (*run)(DB_CONN*);
    } const cases[] = {
        {"commit", [](DB_CONN* d) { return DB_EndTrans(d, DB_TRANS_COMMIT); }},
        {"rollback", [](DB_CONN* d) { return DB_EndTrans(d, DB_TRANS_ROLLBACK); }},
        {"isolation", [](DB_CONN* d) { return DB_SetIsolation(d, 8); }},
        {"execute", [](DB_CONN* d) { return DB_ExecImmediate(d, nullptr, nullptr, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        script.failNext("tpe_sql_setconnection", {lost});
        EXPECT_EQ(c.run(db), ERR_GENERAL_ERROR);
        EXPECT_EQ(script.takeCalls(), (Calls{"tpe_sql_setconnection " + db->name}));
        EXPECT_EQ(Records(conn.errors), (std::vector<std::string>{"-20221|08003|no such connection"}));
    }
}

TEST_F(AgentDbConnScript, IsolationLevelsMapBothWays) {
    Connected();
    const std::string current = "tpe_sql_setconnection " + db->name;
    const struct {
        uint32_t odbc;
        int level;
    } pairs[] = {{1, 0}, {2, 1}, {4, 2}, {8, 3}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.odbc);
        EXPECT_EQ(DB_SetIsolation(db, p.odbc), 0);
        EXPECT_EQ(script.takeCalls(), (Calls{current, "tpe_tm_set_level " + std::to_string(p.level)}));
        script.setLevel(p.level);
        EXPECT_EQ(DB_GetIsolation(db), p.odbc);
        script.takeCalls();
    }
    for (uint32_t bad : {0u, 3u, 16u}) {
        EXPECT_EQ(DB_SetIsolation(db, bad), ERR_INVALID_ARGUMENT_VALUE);
        EXPECT_TRUE(script.takeCalls().empty());
    }
    // A level the agent does not know, or a connection that cannot be made current: the
    // configured isolation.
    conn.defaultIsolation = 4;
    script.setLevel(7);
    EXPECT_EQ(DB_GetIsolation(db), 4u);
    script.failNext("tpe_sql_setconnection", {{ESQL_ERR_NO_CONNECTION, "08003", "gone"}});
    script.setLevel(3);
    EXPECT_EQ(DB_GetIsolation(db), 4u);
}

TEST_F(AgentDbConnScript, DisconnectNamesItsConnectionWithoutMakingItCurrent) {
    Connected();
    EXPECT_EQ(DB_Disconnect(db), 0);
    EXPECT_EQ(script.takeCalls(), (Calls{"tpe_sql_disconnect 0 " + db->name}));
    script.failNext("tpe_sql_disconnect", {{-6001, "08003", "not connected"}});
    EXPECT_EQ(DB_Disconnect(db), ERR_GENERAL_ERROR);
    EXPECT_EQ(db->sqlca.sqlcode, -6001);   // kept for the caller
    EXPECT_EQ(conn.errors.head, nullptr);  // nothing posted
}

TEST(AgentDbConnFormats, KindsAndItems) {
    const struct {
        int kind;
        int item;
        int rc;
        const char* format;   // null: an integer 1 is written, or nothing
        bool writesOne;
    } cases[] = {
        {2, 2, 0, "'%02u:%02u:%02u'", false},
        {2, 3, 0, "'%04u/%02u/%02u'", false},
        {2, 4, 0, "'%04u/%02u/%02u %02u:%02u:%02u:%03u'", false},
        {2, 1, 0, nullptr, true},
        {2, 5, 0, nullptr, true},
        {2, 6, ERR_GENERAL_ERROR, nullptr, false},
        {1, 2, ERR_GENERAL_ERROR, nullptr, false},
        {3, 2, 0, nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.item));
        union {
            const char* text;
            int32_t number;
        } out;
        out.text = nullptr;
        if (c.writesOne)
            out.number = 0;
        EXPECT_EQ(DB_DateTimeFormat(nullptr, c.kind, c.item, &out), c.rc);
        if (c.writesOne)
            EXPECT_EQ(out.number, 1);
        else if (c.format != nullptr)
            EXPECT_STREQ(out.text, c.format);
        else
            EXPECT_EQ(out.text, nullptr);
    }
    EXPECT_EQ(DB_CheckOption(nullptr, 1, 1), 0);
    EXPECT_EQ(DB_CheckOption(nullptr, 1, 109), 0);
    EXPECT_EQ(DB_CheckOption(nullptr, 1, 2), ERR_GENERAL_ERROR);
    EXPECT_EQ(DB_CheckOption(nullptr, 2, 1), ERR_GENERAL_ERROR);
    EXPECT_EQ(DB_CheckOption(nullptr, 3, 1), 0);
}

}  // namespace
