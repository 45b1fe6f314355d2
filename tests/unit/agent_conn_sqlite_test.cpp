// Agent connections against the SQLite back-end: open the server, connect to a database
// file (created when missing, relative names against the working directory), end
// transactions with the effect seen from another connection, disconnect, close the server.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "agent_conn_fixture.h"
#include "esql92_fixture.h"
#include "util/errcode.h"

namespace {

using agenttest::ConnRequest;
using esqltest::Rows;
using esqltest::TempDb;

class AgentConnSqlite : public agenttest::AgentConnections {
protected:
    // Runs one statement on the agent's connection the way statement execution does: the
    // transaction is begun first. Returns the client's code.
    int Exec(uint32_t connId, const std::string& sql) {
        OA_CONN* c = oa_FindConn(connId);
        EXPECT_EQ(OA_TransState(c, OA_TRANS_BEGIN), 0);
        ESQL_CURHDL cur = Cursor(c->db, sql);
        ESQL_SQLCA ca{};
        tpe_sqlexecute(c->db->tmHandle, c->db->dbHandle, cur, nullptr, &ca);
        EXPECT_EQ(ca.sqlcode, 0) << sql << ": " << ca.sqlerrmc;
        if (c->autocommit != 0) {
            EXPECT_EQ(OA_TransState(c, OA_TRANS_COMMIT), 0);
        }
        return ca.sqlcode;
    }
    // The first column of the rows of a query run on the agent's connection.
    std::vector<std::string> Column(uint32_t connId, const std::string& sql) {
        DB_CONN* db = oa_FindConn(connId)->db;
        ESQL_CURHDL cur = Cursor(db, sql);
        ESQL_SQLCA ca{};
        PRO_SQLDA* da = PRO_SQLDA_Allocate(1, ESQL_SQLDA_OUTPUT);
        tpe_sqldescribe(db->tmHandle, db->dbHandle, cur, da, &ca);
        std::vector<esqltest::Bound> cols = esqltest::bindAll(da, 1);
        tpe_sqldeclare(db->tmHandle, db->dbHandle, cur, nullptr, &ca);
        tpe_sqlopen(db->tmHandle, db->dbHandle, cur, nullptr, &ca);
        std::vector<std::string> out;
        while (ca.sqlcode == 0 && tpe_sqlfetch(db->tmHandle, db->dbHandle, cur, da, &ca) >= 0 && ca.sqlrows > 0)
            out.push_back(esqltest::render(cols[0], 0));
        tpe_sqlclose(db->tmHandle, db->dbHandle, cur, &ca);
        PRO_SQLDA_Deallocate(da);
        return out;
    }

    TempDb file;

private:
    ESQL_CURHDL Cursor(DB_CONN* db, const std::string& sql) {
        ESQL_SQLCA current{};
        EXPECT_EQ(tpe_sql_setconnection(db->name.c_str(), &current), 0);
        unsigned char identity[ESQL_IDENTITY_SIZE] = {static_cast<unsigned char>(++cursors_)};
        ESQL_CURHDL cur = nullptr;
        ESQL_SQLCA ca{};
        tpe_set_cursor(db->tmHandle, db->dbHandle, &cur, identity, ESQL_CURSOR_DYNAMIC, sql.c_str(), &ca);
        tpe_sqlprepare(db->tmHandle, db->dbHandle, cur, &ca);
        EXPECT_EQ(ca.sqlcode, 0) << sql << ": " << ca.sqlerrmc;
        return cur;
    }
    int cursors_ = 0;
};

TEST_F(AgentConnSqlite, ConnectEndTransactionsAndDisconnect) {
    ConnRequest req;
    req.user("alice").password("secret").database(file.path().c_str()).dbOptions("-H localhost -S 5162");
    uint32_t id = Connect(req);
    ASSERT_EQ(lastRc, 0);
    struct stat st;
    EXPECT_EQ(::stat(file.path().c_str(), &st), 0);   // the missing file was created
    EXPECT_EQ(Column(id, "select user()"), (std::vector<std::string>{"alice"}));

    ASSERT_EQ(SetInt(id, OA_PROP_AUTOCOMMIT, 0), 0);
    Exec(id, "create table t (n integer)");
    EXPECT_EQ(OA_Commit(id), 0);
    Exec(id, "insert into t values (1)");
    EXPECT_EQ(OA_Rollback(id), 0);
    Exec(id, "insert into t values (2)");
    EXPECT_EQ(OA_Commit(id), 0);
    esqltest::Conn observer(file.target(), "observer-" + std::to_string(::getpid()));
    ASSERT_EQ(observer.rc, 0);
    // What another connection sees; its read ends at once, so that it sees the next commit.
    auto seen = [&observer](const char* sql) {
        Rows rows = observer.query(sql);
        observer.commit();
        return rows;
    };
    EXPECT_EQ(seen("select n from t order by n"), (Rows{{"2"}}));

    // Work left open when autocommit is switched back on is committed, not lost.
    Exec(id, "insert into t values (3)");
    ASSERT_EQ(SetInt(id, OA_PROP_AUTOCOMMIT, 1), 0);
    EXPECT_EQ(seen("select n from t order by n"), (Rows{{"2"}, {"3"}}));
    Exec(id, "insert into t values (4)");   // committed right after
    EXPECT_EQ(seen("select n from t order by n"), (Rows{{"2"}, {"3"}, {"4"}}));

    // Disconnect rolls back what is still open.
    ASSERT_EQ(SetInt(id, OA_PROP_AUTOCOMMIT, 0), 0);
    Exec(id, "insert into t values (5)");
    EXPECT_EQ(OA_Disconnect(id), 0);
    EXPECT_EQ(seen("select count(*) from t"), (Rows{{"3"}}));
}

TEST_F(AgentConnSqlite, IsolationIsSetOnTheServer) {
    settings.defaultIsolation = 8;
    ConnRequest req;
    req.database(file.path().c_str());
    uint32_t id = Connect(req);
    ASSERT_EQ(lastRc, 0);
    EXPECT_EQ(IntProperty(id, OA_PROP_TXN_ISOLATION), 8);
    EXPECT_EQ(SetInt(id, OA_PROP_TXN_ISOLATION, 1), 0);
    EXPECT_EQ(IntProperty(id, OA_PROP_TXN_ISOLATION), 1);
}

TEST_F(AgentConnSqlite, RelativeDatabaseNameIsOpenedInTheWorkingDirectory) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/agent-conn-XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    char* before = ::getcwd(nullptr, 0);
    ASSERT_NE(before, nullptr);
    ASSERT_EQ(::chdir(dir.c_str()), 0);

    ConnRequest req;
    req.database("rel.db");
    uint32_t id = Connect(req);
    int rc = lastRc;
    if (rc == 0)
        Exec(id, "create table r (n integer)");   // autocommit: on the file at once
    OA_Disconnect(id);
    EXPECT_EQ(::chdir(before), 0);
    std::free(before);

    EXPECT_EQ(rc, 0);
    struct stat st;
    EXPECT_EQ(::stat((dir + "/rel.db").c_str(), &st), 0);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        ::unlink((dir + "/rel.db" + suffix).c_str());
    EXPECT_EQ(::rmdir(dir.c_str()), 0);
}

TEST_F(AgentConnSqlite, DatabaseThatCannotBeOpenedIsRefused) {
    ConnRequest req;
    req.database("/nonexistent-dir-of-agent-test/x.db");
    uint32_t id = 0;
    EXPECT_EQ(OA_Connect(serverId, req.get(), &id), ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);
    EXPECT_EQ(id, 0u);
    OA_ERRTEXTS texts{};
    ASSERT_EQ(OA_GetErrors(serverId, &texts), 0);
    ASSERT_GE(texts.count, 1);
    EXPECT_NE(std::string(texts.texts[0]).find("[SQLSTATE:08001]"), std::string::npos) << texts.texts[0];
    OA_ErrTextsFree(&texts);
}

}  // namespace
