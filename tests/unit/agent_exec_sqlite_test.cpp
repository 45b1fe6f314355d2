// Agent statements end to end against the SQLite back-end: a table of every server type is
// created, filled through parameters, read back through fetches into datasets, updated and
// deleted from; and what another connection sees of it with autocommit on and off, after
// a failing parameter row, and after an initial SQL file.
#include <gtest/gtest.h>

#include <sql.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "driver/diag/diag.h"
#include "driver/handlers/connect.h"
#include "driver/handlers/diagentry.h"
#include "drv_pro9/oa_initsql.h"
#include "drv_pro9/oa_props.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/conn_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "util/errcode.h"

namespace {

using namespace exectest;
using convtest::Bytes;
using convtest::Put;
using convtest::PutRef;
using Table = std::vector<std::vector<std::string>>;

class AgentExecSqlite : public ::testing::Test {
protected:
    void SetUp() override {
        a.Open(file.path());
        b.Open(file.path());
    }
    void TearDown() override {
        a.Close();
        b.Close();
    }

    // Every row of a query on the session's statement, fetched `size` rows at a time.
    static Table Select(Session& s, const char* sql, uint16_t size = 2) {
        Table rows;
        EXPECT_EQ(s.Exec(sql), 0) << Records(s.stmt->errors).size();
        DATASET block{};
        for (int n = 0; n < 100; ++n) {
            EXPECT_EQ(OA_Fetch(s.stmtId, size, &block), 0);
            if (block.rowsUsed == 0)
                break;
            EXPECT_LE(block.rowsUsed, size);
            for (auto& row : Rows(block))
                rows.push_back(row);
        }
        ds_Free(&block);
        EXPECT_EQ(OA_CloseCursor(s.stmtId), 0);
        return rows;
    }
    static std::string Count(Session& s, const char* table = "t") {
        Table rows = Select(s, (std::string("SELECT COUNT(*) FROM ") + table).c_str());
        return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "?";
    }
    static bool TransactionOpen(const Session& s) { return (s.conn->transFlags & OA_TRANS_OPEN) != 0; }

    esqltest::TempDb file;
    Session a;   // the connection under test
    Session b;   // another connection on the same database
};

// One dataset column per server type, in the order of the table below.
DATASET* AllTypeValues() {
    DATASET* ds = static_cast<DATASET*>(std::calloc(1, sizeof(DATASET)));
    const dsfix::Col cols[] = {
        {DS_SLONG, 4},  {DS_CHARZ, 6},  {DS_CHARZ, 21}, {DS_CHARZ, 16},   {DS_SSHORT, 2},
        {DS_STINYINT, 1}, {DS_BIT, 1},  {DS_CHARZ, 21}, {DS_FLOAT, 4},    {DS_DOUBLE, 8},
        {DS_DATE, 6},   {DS_TIME, 6},   {DS_TIMESTAMP, 16}, {DS_BINARY, 4}, {DS_LONGBINARY, 16},
    };
    EXPECT_EQ(ds_Init(ds, 15), 0);
    for (uint16_t c = 0; c < 15; ++c) {
        ds->cols[c].type = cols[c].type;
        ds->cols[c].width = cols[c].width;
    }
    ds->colsUsed = 15;
    EXPECT_EQ(ds_AllocRows(ds, 3), 0);
    ds->rowsUsed = 3;
    SQL_DATE_STRUCT d{2024, 2, 29};
    SQL_TIME_STRUCT t{13, 14, 15};
    SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 13, 14, 15, 123000000};
    for (int32_t r = 0; r < 2; ++r) {
        DATASET_COL* c = ds->cols;
        Put(&c[0], r, Bytes(int32_t{r + 1}));
        Put(&c[1], r, r == 0 ? std::string("ab\0", 3) : std::string("abcde\0", 6));
        Put(&c[2], r, std::string(r == 0 ? "first" : "second") + '\0');
        Put(&c[3], r, std::string(r == 0 ? "12.5" : "-0.25") + '\0');
        Put(&c[4], r, Bytes(int16_t(r == 0 ? -300 : 300)));
        Put(&c[5], r, Bytes(int8_t(r == 0 ? -7 : 7)));
        Put(&c[6], r, Bytes(uint8_t(r)));
        Put(&c[7], r, std::string(r == 0 ? "9000000000" : "-1") + '\0');
        Put(&c[8], r, Bytes(1.5f));
        Put(&c[9], r, Bytes(r == 0 ? 2.25 : -1e10));
        Put(&c[10], r, Bytes(d));
        Put(&c[11], r, Bytes(t));
        Put(&c[12], r, Bytes(ts));
        Put(&c[13], r, std::string("\xde\xad\xbe\xef", 4));
        PutRef(&c[14], r, std::string("\x01\x02\x03", 3), 3);
    }
    // Row 2: the key, every other value NULL (the indicators start as NULL).
    Put(&ds->cols[0], 2, Bytes(int32_t{3}));
    return ds;
}

TEST_F(AgentExecSqlite, EveryServerTypeThroughParametersAndFetches) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER, c CHARACTER(5), v VARCHAR(20), n NUMERIC(10,2), s SMALLINT, "
                    "ti TINYINT, bt BIT, bi BIGINT, r REAL, f FLOAT, d DATE, tm TIME, ts TIMESTAMP, "
                    "b BINARY(4), vb VARBINARY(10))"),
              0);
    ASSERT_EQ(a.Exec("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", AllTypeValues()), 0)
        << (a.stmt->errors.head ? a.stmt->errors.head->message : "");
    EXPECT_EQ(a.stmt->rowCount, 3);

    const std::string kNulls[14] = {"NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL",
                                    "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL"};
    Table want = {
        {"1", "ab   ", "first", "12.50", "-300", "-7", "0", "9000000000", "1.5", "2.25", "2024-2-29", "13:14:15",
         "2024-2-29 13:14:15.123000000", "4:deadbeef", "3:010203"},
        {"2", "abcde", "second", "-0.25", "300", "7", "1", "-1", "1.5", "-10000000000", "2024-2-29", "13:14:15",
         "2024-2-29 13:14:15.123000000", "4:deadbeef", "3:010203"},
        {"3"},
    };
    want[2].insert(want[2].end(), std::begin(kNulls), std::end(kNulls));
    EXPECT_EQ(Select(a, "SELECT * FROM t ORDER BY k"), want);
    // The descriptions say what the values are.
    // An ODBC 2 connection (the agent's default) sees DATE, TIME and TIMESTAMP as 9, 10, 11.
    const int32_t sqlTypes[] = {4, 1, 12, 2, 5, -6, -7, -5, 7, 8, 9, 10, 11, -2, -3};
    ASSERT_EQ(a.stmt->cols.count, 15);
    for (uint16_t c = 0; c < 15; ++c)
        EXPECT_EQ(a.stmt->cols.items[c].sqlType, sqlTypes[c]) << c;

    // Parameters in a WHERE clause, an update and a delete with their row counts.
    ASSERT_EQ(a.Exec("UPDATE t SET v = ? WHERE k >= ?", Params({{"changed", 2}})), 0);
    EXPECT_EQ(a.stmt->rowCount, 2);
    EXPECT_EQ(Select(a, "SELECT k, v FROM t ORDER BY k"),
              (Table{{"1", "first"}, {"2", "changed"}, {"3", "changed"}}));
    ASSERT_EQ(a.Exec("DELETE FROM t WHERE k = ?", Params({{1}, {3}})), 0);
    EXPECT_EQ(a.stmt->rowCount, 2);
    EXPECT_EQ(Count(a), "1");
    EXPECT_EQ(Count(b), "1");
}

TEST_F(AgentExecSqlite, ReExecutionWithNewValues) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER, v VARCHAR(10))"), 0);
    ASSERT_EQ(OA_Prepare(a.stmtId, "INSERT INTO t VALUES (?, ?)"), 0);
    for (int k = 1; k <= 3; ++k) {
        std::string v = "v" + std::to_string(k);
        ASSERT_EQ(OA_SetParamValues(a.stmtId, Params({{k, v.c_str()}})), 0);
        ASSERT_EQ(OA_Execute(a.stmtId), 0);
    }
    EXPECT_EQ(Select(b, "SELECT k, v FROM t ORDER BY k"), (Table{{"1", "v1"}, {"2", "v2"}, {"3", "v3"}}));

    // A SELECT with a parameter, executed again with another value.
    ASSERT_EQ(OA_Prepare(a.stmtId, "SELECT v FROM t WHERE k = ?"), 0);
    DATASET block{};
    for (int k : {2, 3}) {
        ASSERT_EQ(OA_SetParamValues(a.stmtId, Params({{k}})), 0);
        ASSERT_EQ(OA_Execute(a.stmtId), 0);
        ASSERT_EQ(OA_Fetch(a.stmtId, 5, &block), 0);
        EXPECT_EQ(Rows(block), (Table{{"v" + std::to_string(k)}}));
    }
    ds_Free(&block);
}

// The client keeps a bounded number of cursors and forgets those unused longest; a statement
// prepared long ago, with no end of transaction since to set it up again, still executes
// (and closes) after thousands of other executions on its connection.
TEST_F(AgentExecSqlite, AStatementPreparedLongAgoOutlivesThousandsOfOthers) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER)"), 0);
    ASSERT_EQ(OA_TransState(a.conn, OA_TRANS_AUTOCOMMIT_OFF), 0);
    uint32_t idle = 0;
    ASSERT_EQ(OA_AllocStmt(a.connId, &idle), 0);
    ASSERT_EQ(OA_Prepare(idle, "SELECT COUNT(*) FROM t"), 0);
    ASSERT_EQ(OA_Prepare(a.stmtId, "INSERT INTO t VALUES (?)"), 0);
    for (int k = 0; k < 5000; ++k)
        ASSERT_EQ(a.Exec("SELECT k FROM t WHERE k < 0"), 0) << k;
    ASSERT_EQ(OA_Execute(idle), 0) << Records(oa_FindStmt(idle)->errors).size();
    DATASET block{};
    ASSERT_EQ(OA_Fetch(idle, 1, &block), 0);
    EXPECT_EQ(Rows(block), (Table{{"0"}}));
    ds_Free(&block);
    EXPECT_EQ(OA_CloseCursor(idle), 0);
    EXPECT_EQ(OA_CloseCursor(idle), 0);
    EXPECT_EQ(OA_FreeStmt(idle), 0);
    ASSERT_EQ(OA_Commit(a.connId), 0);
}

// A query left with rows to deliver when another statement's autocommit ended the
// transaction, then prepared again: the cursor it leaves behind must not keep holding what
// it read, or the connection would go on seeing the data of that moment and every write of
// it would meet the newer data of others and fail.
TEST_F(AgentExecSqlite, AQueryLeftMidwayAcrossACommitHoldsNothingOnceItsStatementMovesOn) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER)"), 0);
    ASSERT_EQ(a.Exec("INSERT INTO t VALUES (1), (2), (3)"), 0);
    ASSERT_EQ(a.Exec("SELECT k FROM t"), 0);
    DATASET block{};
    ASSERT_EQ(OA_Fetch(a.stmtId, 1, &block), 0);
    ds_Free(&block);
    uint32_t other = 0;
    ASSERT_EQ(OA_AllocStmt(a.connId, &other), 0);
    ASSERT_EQ(OA_PrepareAndExecute(other, "INSERT INTO t VALUES (4)", nullptr, 0, nullptr), 0);
    ASSERT_EQ(OA_Prepare(a.stmtId, "SELECT COUNT(*) FROM t"), 0);
    ASSERT_EQ(b.Exec("INSERT INTO t VALUES (5)"), 0);
    EXPECT_EQ(Count(a), "5");
    EXPECT_EQ(OA_PrepareAndExecute(other, "INSERT INTO t VALUES (6)", nullptr, 0, nullptr), 0)
        << Records(oa_FindStmt(other)->errors).size();
    EXPECT_EQ(Count(b), "6");
    EXPECT_EQ(OA_FreeStmt(other), 0);
}

TEST_F(AgentExecSqlite, AutocommitOnAndOff) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER)"), 0);
    // On: each statement is committed when it ends.
    ASSERT_EQ(a.Exec("INSERT INTO t VALUES (1)"), 0);
    EXPECT_FALSE(TransactionOpen(a));
    EXPECT_EQ(Count(b), "1");

    // Off: the work waits for the application's end of transaction.
    ASSERT_EQ(OA_TransState(a.conn, OA_TRANS_AUTOCOMMIT_OFF), 0);
    ASSERT_EQ(a.Exec("INSERT INTO t VALUES (2)"), 0);
    EXPECT_TRUE(TransactionOpen(a));
    EXPECT_EQ(Count(a), "2");
    EXPECT_EQ(Count(b), "1");
    ASSERT_EQ(OA_Rollback(a.connId), 0);
    EXPECT_EQ(Count(a), "1");
    ASSERT_EQ(a.Exec("INSERT INTO t VALUES (3)"), 0);
    ASSERT_EQ(OA_Commit(a.connId), 0);
    EXPECT_EQ(Count(b), "2");

    // A SELECT opens a transaction that only the application ends.
    EXPECT_EQ(Count(a), "2");
    EXPECT_TRUE(TransactionOpen(a));
    ASSERT_EQ(OA_Commit(a.connId), 0);
    EXPECT_FALSE(TransactionOpen(a));
}

// In autocommit a SELECT's transaction ends with it: at its end, at the maximum row count,
// and at a close before its end.
TEST_F(AgentExecSqlite, SelectTransactionEndsWithTheSelect) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER)"), 0);
    ASSERT_EQ(a.Exec("INSERT INTO t VALUES (?)", Params({{1}, {2}, {3}})), 0);
    DATASET block{};
    struct Case {
        const char* what;
        int32_t maxRows;
        uint16_t fetch;
        bool close;
    } cases[] = {{"end of data", 0, 5, false}, {"maximum rows", 2, 2, false}, {"closed early", 0, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        a.stmt->maxRows = c.maxRows;
        ASSERT_EQ(a.Exec("SELECT k FROM t"), 0);
        EXPECT_TRUE(TransactionOpen(a));
        ASSERT_EQ(OA_Fetch(a.stmtId, c.fetch, &block), 0);
        EXPECT_EQ(block.rowsUsed, c.fetch == 5 ? 3 : c.fetch);
        if (c.close) {
            ASSERT_EQ(OA_CloseCursor(a.stmtId), 0);
        }
        EXPECT_FALSE(TransactionOpen(a));
    }
    ds_Free(&block);
}

// A parameter row that fails keeps the rows before it, and in autocommit the statement's
// transaction still ends: nothing waits to be committed by accident later.
TEST_F(AgentExecSqlite, FailingRowInAutocommitEndsTheTransaction) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER PRIMARY KEY)"), 0);
    EXPECT_EQ(a.Exec("INSERT INTO t VALUES (?)", Params({{1}, {1}, {2}})), ERR_GENERAL_ERROR);
    ASSERT_NE(a.stmt->errors.head, nullptr);
    EXPECT_STREQ(a.stmt->errors.head->sqlstate, "23000");
    EXPECT_EQ(a.stmt->rowCount, 1);
    EXPECT_FALSE(TransactionOpen(a));
    EXPECT_EQ(Count(b), "1");
}

// In autocommit a slice of an array with more to come leaves its rows to the last slice's
// commit (another connection sees none of them meanwhile); the mark holds for one
// execution, and a failing slice ends the array's transaction with the rows before it.
TEST_F(AgentExecSqlite, SliceWithMoreToComeWaitsForTheLastSlicesCommit) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER PRIMARY KEY)"), 0);
    ASSERT_EQ(OA_Prepare(a.stmtId, "INSERT INTO t VALUES (?)"), 0);
    auto slice = [&](const std::vector<std::vector<Value>>& rows, bool more) {
        const int32_t follows = more ? 1 : 0;
        EXPECT_EQ(OA_SetProperty(a.stmtId, OA_PROP_SLICE_FOLLOWS, &follows), 0);
        EXPECT_EQ(OA_SetParamValues(a.stmtId, Params(rows)), 0);
        return OA_Execute(a.stmtId);
    };
    ASSERT_EQ(slice({{1}, {2}}, true), 0);
    EXPECT_TRUE(TransactionOpen(a));
    EXPECT_EQ(Count(b), "0");
    ASSERT_EQ(slice({{3}}, false), 0);
    EXPECT_FALSE(TransactionOpen(a));
    EXPECT_EQ(Count(b), "3");
    EXPECT_EQ(a.stmt->rowCount, 3);  // the array's count

    ASSERT_EQ(slice({{4}}, true), 0);
    EXPECT_EQ(slice({{5}, {5}}, true), ERR_GENERAL_ERROR);
    EXPECT_FALSE(TransactionOpen(a));
    EXPECT_EQ(Count(b), "5");
    EXPECT_EQ(a.stmt->rowCount, 2);
    // The mark went with that execution: the next one commits.
    ASSERT_EQ(OA_SetParamValues(a.stmtId, Params({{6}})), 0);
    ASSERT_EQ(OA_Execute(a.stmtId), 0);
    EXPECT_EQ(Count(b), "6");
}

TEST_F(AgentExecSqlite, InitialSqlFileIsCommittedOrLeftToTheApplication) {
    ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER)"), 0);
    const char* text = "INSERT INTO t VALUES (1)\n";
    ASSERT_EQ(OA_RunInitialSql(a.connId, "init.sql", text), 0);
    EXPECT_EQ(Count(b), "1");

    // Without autocommit the run's transaction is the application's: it commits it.
    ASSERT_EQ(OA_TransState(a.conn, OA_TRANS_AUTOCOMMIT_OFF), 0);
    ASSERT_EQ(OA_RunInitialSql(a.connId, "init.sql", text), 0);
    EXPECT_EQ(Count(b), "1");
    ASSERT_EQ(OA_Commit(a.connId), 0);
    EXPECT_EQ(Count(b), "2");
}

// A connect runs the initial SQL file it names on its new connection, and reports a file
// that cannot be read or run as a warning, with the server's messages where there are some.
class ConnectInitialSql : public conn_fixture::ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        ConnSetOpTableBinder(nullptr);   // the agent itself, on the embedded server
        init = db.path() + "-init.sql";
    }
    void TearDown() override {
        std::remove(init.c_str());
        ConnTest::TearDown();
    }
    SQLRETURN Connect(const std::string& in) {
        static constexpr auto rec = MakeCall<DoDriverConnect>("DriverConnect", "", 1, CALL_KIND_DBC);
        char out[512];
        SQLSMALLINT outLen = 0;
        return CallODBC(rec, HandleFromId(conn->id),
                        DriverConnectArgs{nullptr, in.c_str(), SQL_NTS, out, sizeof out, &outLen, SQL_DRIVER_NOPROMPT,
                                          WIDTH_NARROW});
    }
    // Runs a statement on the connection; 0 or the agent's code.
    int Exec(const char* sql) {
        uint32_t stmt = 0;
        EXPECT_EQ(OA_AllocStmt(conn->agentConn, &stmt), 0);
        int rc = OA_PrepareAndExecute(stmt, sql, nullptr, 0, nullptr);
        EXPECT_EQ(OA_FreeStmt(stmt), 0);
        return rc;
    }
    // The state and text of every diagnostic record of the connection, one line each.
    std::string Diagnostics() {
        std::string all;
        SQLCHAR state[6], text[512];
        while (GetErrorRec(nullptr, conn, nullptr, nullptr, state, nullptr, text, sizeof text, nullptr,
                           DIAG_MODE_CONSUME) == SQL_SUCCESS)
            all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text) + "\n";
        return all;
    }
    void Disconnect() { ASSERT_EQ(ConnClose(conn), 0); }

    esqltest::TempDb db;
    std::string init;
};

TEST_F(ConnectInitialSql, RunsOnTheNewConnectionOfTheConnectThatNamesIt) {
    std::ofstream(init) << "CREATE TABLE t (k INTEGER)";
    ASSERT_EQ(Connect("DATABASENAME=" + db.path() + ";INITSQL=" + init), SQL_SUCCESS) << Diagnostics();
    EXPECT_EQ(Exec("SELECT k FROM t"), 0);
    EXPECT_EQ(Exec("DROP TABLE t"), 0);
    Disconnect();

    // A connect that fails before the agent connects leaves nothing behind for the next
    // connect, which names no file.
    std::ofstream(init) << "CREATE TABLE u (k INTEGER)";
    ConnSetOpTableBinder([](OA_OPHOLDER*) { return 15; });
    ASSERT_EQ(Connect("DATABASENAME=" + db.path() + ";INITSQL=" + init), SQL_ERROR);
    ConnSetOpTableBinder(nullptr);
    ASSERT_EQ(Connect("DATABASENAME=" + db.path()), SQL_SUCCESS) << Diagnostics();
    EXPECT_NE(Exec("SELECT k FROM u"), 0);
    Disconnect();
}

TEST_F(ConnectInitialSql, FailureIsAWarningOfTheConnect) {
    std::ofstream(init) << "SELEC 1";
    ASSERT_EQ(Connect("DATABASENAME=" + db.path() + ";INITSQL=" + init), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(Diagnostics().substr(0, 30), "42000 [Tessaryn][ODBC][Progres") << Diagnostics();
    EXPECT_EQ(conn->state, CONN_CONNECTED);
    Disconnect();

    std::remove(init.c_str());
    ASSERT_EQ(Connect("DATABASENAME=" + db.path() + ";INITSQL=" + init), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(Diagnostics(), "01000 [Tessaryn][ODBC]Unable to read the initial SQL file " + init +
                                 ": No such file or directory\n");
    EXPECT_EQ(Exec("CREATE TABLE v (k INTEGER)"), 0);  // a working connection
    Disconnect();
}

}  // namespace
