// The agent's ESQL connection against the SQLite back-end: connect under a generated name
// (also when the name is taken), end of transaction with and without statements,
// isolation levels, disconnect, and what a connection that cannot be made current does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "agent_fixture.h"
#include "drv_pro9/db_conn.h"
#include "esql92_fixture.h"
#include "util/errcode.h"

namespace {

using esqltest::TempDb;

std::string NameOf(uint32_t attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "KVRConn-%08X", attempt);
    return name;
}

std::string States(const OA_ERRLIST& list) {
    std::string out;
    for (const OA_ERRREC* r = list.head; r != nullptr; r = r->next)
        out += std::string(r->sqlstate) + ";";
    return out;
}

class AgentDbConnSqlite : public AgentHandles {
protected:
    void SetUp() override {
        AgentHandles::SetUp();
        ASSERT_EQ(DB_ConnNew(server->context, &conn, &db, "alice", "secret", file.path().c_str(),
                             "-H localhost -S 5162"),
                  0);
        conn.db = db;
    }
    void TearDown() override {
        DB_Disconnect(db);
        DB_ConnFree(db);
        AgentHandles::TearDown();
    }

    // Runs one statement on the agent's connection through a cursor of its own.
    int Exec(const std::string& sql) {
        unsigned char id[ESQL_IDENTITY_SIZE] = {static_cast<unsigned char>(++cursors)};
        ESQL_CURHDL cur = nullptr;
        ESQL_SQLCA ca{};
        tpe_sql_setconnection(db->name.c_str(), &ca);
        tpe_set_cursor(db->tmHandle, db->dbHandle, &cur, id, ESQL_CURSOR_DYNAMIC, sql.c_str(), &ca);
        tpe_sqlprepare(db->tmHandle, db->dbHandle, cur, &ca);
        EXPECT_EQ(ca.sqlcode, 0) << ca.sqlerrmc;
        return DB_ExecImmediate(db, cur, nullptr, &stmt.errors);
    }

    TempDb file;
    DB_CONN* db = nullptr;
    int cursors = 0;
};

TEST_F(AgentDbConnSqlite, ConnectEndTransactionIsolationAndDisconnect) {
    uint32_t attempt = Agent().connectAttempts;
    ASSERT_EQ(DB_Connect(db), 0);
    EXPECT_EQ(db->name, NameOf(attempt));
    EXPECT_NE(db->dbHandle, nullptr);
    EXPECT_NE(db->tmHandle, nullptr);

    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_COMMIT), 0);    // nothing to commit
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_ROLLBACK), 0);
    EXPECT_EQ(DB_GetIsolation(db), 2u);                // the client's default, read committed
    EXPECT_EQ(DB_SetIsolation(db, 8), 0);
    EXPECT_EQ(DB_GetIsolation(db), 8u);
    EXPECT_EQ(DB_SetIsolation(db, 3), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(DB_GetIsolation(db), 8u);

    EXPECT_EQ(DB_Disconnect(db), 0);
    EXPECT_EQ(DB_Disconnect(db), ERR_GENERAL_ERROR);
    EXPECT_EQ(db->sqlca.sqlcode, ESQL_ERR_NO_CONNECTION);  // kept in the record
    EXPECT_EQ(conn.errors.head, nullptr);                  // and nothing posted
}

TEST_F(AgentDbConnSqlite, TakenNameMakesTheConnectTryTheNext) {
    uint32_t attempt = Agent().connectAttempts;
    esqltest::Conn squatter(file.target(), NameOf(attempt));
    ASSERT_EQ(squatter.rc, 0);
    ASSERT_EQ(DB_Connect(db), 0);
    EXPECT_EQ(db->name, NameOf(attempt + 1));
    EXPECT_EQ(server->errors.head, nullptr);
}

TEST_F(AgentDbConnSqlite, RollbackDiscardsCommitKeepsAndStatementsAreMarked) {
    esqltest::Conn other(file.target(), "observer");
    ASSERT_EQ(other.exec("CREATE TABLE t (a INTEGER)"), 0);
    ASSERT_EQ(other.commit(), 0);
    ASSERT_EQ(DB_Connect(db), 0);

    ASSERT_EQ(Exec("INSERT INTO t VALUES (1)"), 0);
    ASSERT_EQ(DB_EndTrans(db, DB_TRANS_ROLLBACK), 0);
    EXPECT_EQ(other.query("SELECT a FROM t"), esqltest::Rows{});
    ASSERT_EQ(other.commit(), 0);   // ends the observer's read snapshot
    EXPECT_TRUE(stmt.flags & STMT_CURSOR_RESET);

    stmt.flags = 0;
    ASSERT_EQ(Exec("INSERT INTO t VALUES (2)"), 0);
    ASSERT_EQ(DB_EndTrans(db, DB_TRANS_COMMIT), 0);
    EXPECT_EQ(other.query("SELECT a FROM t"), (esqltest::Rows{{"2"}}));
    EXPECT_TRUE(stmt.flags & STMT_CURSOR_RESET);
}

TEST_F(AgentDbConnSqlite, FailedStatementPostsOnTheGivenList) {
    ASSERT_EQ(DB_Connect(db), 0);
    unsigned char id[ESQL_IDENTITY_SIZE] = {9};
    ESQL_CURHDL cur = nullptr;
    ESQL_SQLCA ca{};
    tpe_set_cursor(db->tmHandle, db->dbHandle, &cur, id, ESQL_CURSOR_DYNAMIC, "INSERT INTO nowhere VALUES (1)",
                   &ca);
    tpe_sqlprepare(db->tmHandle, db->dbHandle, cur, &ca);   // fails: the table is missing
    EXPECT_EQ(DB_ExecImmediate(db, cur, nullptr, &stmt.errors), ERR_GENERAL_ERROR);
    EXPECT_NE(stmt.errors.head, nullptr);
    EXPECT_EQ(conn.errors.head, nullptr);
}

// The client's current connection is process state: a connection that cannot be made
// current must not act on whichever one is current instead.
TEST_F(AgentDbConnSqlite, ConnectionThatCannotBeMadeCurrentTouchesNoOther) {
    ASSERT_EQ(DB_Connect(db), 0);
    ESQL_SQLCA ca{};
    ASSERT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, db->name.c_str(), &ca), 0);  // behind its back
    esqltest::Conn current(file.target(), "current");
    ASSERT_EQ(current.rc, 0);
    conn.defaultIsolation = 4;

    EXPECT_EQ(DB_SetIsolation(db, 8), ERR_GENERAL_ERROR);
    EXPECT_EQ(States(conn.errors), "08003;");
    EXPECT_EQ(tpe_tm_get_level(), 1);   // the current connection kept its level
    EXPECT_EQ(DB_EndTrans(db, DB_TRANS_COMMIT), ERR_GENERAL_ERROR);
    EXPECT_EQ(DB_GetIsolation(db), 4u);  // the configured value
}

struct ColonCase {
    const char* options;
    const char* database;
    const char* message;
};

TEST_F(AgentDbConnSqlite, ColonInATargetFieldIsRefusedBeforeTheClientIsCalled) {
    const ColonCase cases[] = {
        {"-H evil:host", "db", "The host name must not contain ':'"},
        {"-S 5162:x", "db", "The service name must not contain ':'"},
        {"", "other:db", "The database name must not contain ':'"},
    };
    for (const ColonCase& c : cases) {
        SCOPED_TRACE(c.message);
        DB_CONN* bad = nullptr;
        ASSERT_EQ(DB_ConnNew(server->context, &conn, &bad, "", "", c.database, c.options), 0);
        uint32_t attempt = Agent().connectAttempts;
        EXPECT_EQ(DB_Connect(bad), ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);
        EXPECT_EQ(Agent().connectAttempts, attempt);
        ASSERT_NE(server->errors.head, nullptr);
        EXPECT_STREQ(server->errors.head->message, c.message);
        EXPECT_STREQ(server->errors.head->sqlstate, "08004");
        DB_ConnFree(bad);
    }
}

}  // namespace
