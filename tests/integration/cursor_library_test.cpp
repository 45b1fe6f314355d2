// What the cursor library in front of the agent must keep as it is, through unixODBC against
// the embedded server, in both libraries: the cursor type of a statement across a catalog
// call, row counts after INSERT, UPDATE, DELETE and SELECT, thousands of statement cycles
// on one connection (the sanitizer build judges leaks), and connections closed in every
// order while the others keep working.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

using itest::AllDiags;
using itest::Diag;
using itest::kLibs;
using itest::Lib;

SQLCHAR* Text(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

struct Session : itest::Session {
    explicit Session(const Lib& l) : itest::Session(l, "curslib", "create table t (k integer, v varchar(20))") {}

    SQLLEN RowCount() {
        SQLLEN n = -2;
        EXPECT_EQ(SQLRowCount(stmt, &n), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, stmt);
        return n;
    }
};

SQLULEN CursorType(SQLHSTMT stmt) {
    SQLULEN type = 99;
    EXPECT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr), SQL_SUCCESS);
    return type;
}

// A catalog call on a statement whose application asked for a keyset-driven or dynamic
// cursor: the catalog result may be served another way, and the SELECT prepared next on the
// statement is decided from the application's request again, as on a fresh statement: until
// keyset-driven and dynamic cursors exist it becomes static read-only with 01S02, and reads.
TEST(CursorLibrary, CatalogCallLeavesTheCursorTypeForTheNextSelect) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (SQLULEN type : {SQLULEN{SQL_CURSOR_KEYSET_DRIVEN}, SQLULEN{SQL_CURSOR_DYNAMIC}}) {
            SCOPED_TRACE(type);
            Session s(lib);
            ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(type), 0), SQL_SUCCESS)
                << AllDiags(s.stmt);
            ASSERT_TRUE(SQL_SUCCEEDED(SQLTables(s.stmt, nullptr, 0, nullptr, 0, Text("T"), SQL_NTS, nullptr, 0)))
                << AllDiags(s.stmt);
            int tables = 0;
            while (SQL_SUCCEEDED(SQLFetch(s.stmt)))
                ++tables;
            EXPECT_EQ(tables, 1);
            ASSERT_EQ(SQLFreeStmt(s.stmt, SQL_CLOSE), SQL_SUCCESS);

            EXPECT_EQ(s.Prepare("select k, v from t"), SQL_SUCCESS_WITH_INFO) << AllDiags(s.stmt);
            EXPECT_EQ(AllDiags(s.stmt), "01S02 [Tessaryn][ODBC][Driver]Option Value Changed\n");
            EXPECT_EQ(CursorType(s.stmt), SQLULEN{SQL_CURSOR_STATIC});
            EXPECT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_EQ(CursorType(s.stmt), SQLULEN{SQL_CURSOR_STATIC});
            EXPECT_EQ(SQLFetch(s.stmt), SQL_NO_DATA);
        }
    }
}

// SQLRowCount after each kind of statement touching 0, 1 and many rows, by direct execution
// and by a prepared statement (one that touches none answers SQL_NO_DATA); after a SELECT
// the driver answers -1 (the rows are not counted before they are fetched).
TEST(CursorLibrary, RowCountAfterEachKindOfStatement) {
    struct Case {
        const char* text;
        SQLLEN count;
    };
    const Case cases[] = {
        {"insert into t select k + 100, v from t where k < 0", 0},
        {"insert into t values (1, 'one')", 1},
        {"insert into t select k + 1, v from t", 1},
        {"insert into t select k + 2, v from t", 2},
        {"insert into t select k + 4, v from t", 4},   // 8 rows, k 1 to 8
        {"update t set v = 'none' where k > 100", 0},
        {"update t set v = 'first' where k = 1", 1},
        {"update t set v = 'many' where k > 3", 5},
        {"select k, v from t", -1},
        {"select k, v from t where k > 100", -1},
        {"delete from t where k > 100", 0},
        {"delete from t where k = 8", 1},
        {"delete from t where k > 2", 5},
        {"delete from t", 2},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        for (bool prepared : {false, true}) {
            SCOPED_TRACE(prepared ? "prepared" : "direct");
            Session s(lib);
            for (const Case& c : cases) {
                SCOPED_TRACE(c.text);
                SQLFreeStmt(s.stmt, SQL_CLOSE);
                const SQLRETURN expected = c.count == 0 ? SQL_NO_DATA : SQL_SUCCESS;
                if (prepared) {
                    ASSERT_EQ(s.Prepare(c.text), SQL_SUCCESS) << AllDiags(s.stmt);
                    ASSERT_EQ(SQLExecute(s.stmt), expected) << AllDiags(s.stmt);
                } else {
                    ASSERT_EQ(s.Exec(c.text), expected) << AllDiags(s.stmt);
                }
                EXPECT_EQ(s.RowCount(), c.count);
            }
        }
    }
}

// A parameter array's count is the sum over its sets.
TEST(CursorLibrary, RowCountOfAParameterArray) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        ASSERT_EQ(s.Exec("insert into t values (1, 'a')"), SQL_SUCCESS);
        ASSERT_EQ(s.Exec("insert into t values (2, 'b')"), SQL_SUCCESS);
        ASSERT_EQ(s.Exec("insert into t values (2, 'c')"), SQL_SUCCESS);
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        ASSERT_EQ(s.Prepare("update t set v = 'x' where k = ?"), SQL_SUCCESS);
        SQLINTEGER keys[3] = {2, 9, 1};
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(3), 0);
        SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, keys, 0, nullptr);
        ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
        EXPECT_EQ(s.RowCount(), 3);
    }
}

// Thousands of statements allocated, prepared, executed, fetched and freed on one
// connection, with and without parameters: each answers as the first did, and nothing is
// left behind (the sanitizer build reports what leaks).
TEST(CursorLibrary, ThousandsOfStatementCyclesOnOneConnection) {
    constexpr int kCycles = 3000;
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        ASSERT_EQ(s.Exec("insert into t values (1, 'one')"), SQL_SUCCESS);
        ASSERT_EQ(s.Exec("insert into t values (2, 'two')"), SQL_SUCCESS);
        int failures = 0;
        for (int i = 0; i < kCycles && failures < 5; ++i) {
            SQLHSTMT h = nullptr;
            if (SQLAllocHandle(SQL_HANDLE_STMT, s.dbc, &h) != SQL_SUCCESS) {
                ADD_FAILURE() << "alloc " << i << ": " << Diag(SQL_HANDLE_DBC, s.dbc);
                ++failures;
                continue;
            }
            const bool withParam = i % 2 == 0;
            SQLINTEGER key = 2;
            bool ok = SQLPrepare(h, Text(withParam ? "select v from t where k = ?" : "select v from t where k = 2"),
                                 SQL_NTS) == SQL_SUCCESS;
            if (ok && withParam)
                ok = SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &key, 0, nullptr) ==
                     SQL_SUCCESS;
            ok = ok && SQLExecute(h) == SQL_SUCCESS && SQLFetch(h) == SQL_SUCCESS;
            char v[16] = {};
            SQLLEN ind = 0;
            ok = ok && SQLGetData(h, 1, SQL_C_CHAR, v, sizeof v, &ind) == SQL_SUCCESS && std::string(v) == "two" &&
                 SQLFetch(h) == SQL_NO_DATA;
            // Every third statement is freed with its cursor still open.
            if (ok && i % 3 != 0)
                ok = SQLFreeStmt(h, SQL_CLOSE) == SQL_SUCCESS;
            if (!ok) {
                ADD_FAILURE() << "cycle " << i << ": " << AllDiags(h);
                ++failures;
            }
            EXPECT_EQ(SQLFreeHandle(SQL_HANDLE_STMT, h), SQL_SUCCESS);
        }
        // The connection still serves its own statement.
        ASSERT_EQ(s.Exec("select count(*) from t"), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
    }
}

// Three connections on one database, each with two statements, closed in every order: after
// each close the connections left still run their statements (the one closed first is the
// head, the middle or the tail of whatever list keeps them); a fourth opened after the
// first close works beside them, and one opened after all have gone works alone.
TEST(CursorLibrary, ConnectionsClosedInEveryOrderLeaveTheOthersWorking) {
    struct Open {
        std::unique_ptr<itest::Connection> c;
        SQLHSTMT second = nullptr;
        int key;
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        std::array<int, 3> order = {0, 1, 2};
        do {
            SCOPED_TRACE("close order " + std::to_string(order[0]) + std::to_string(order[1]) +
                         std::to_string(order[2]));
            std::vector<Open> open;
            for (int i = 0; i < 3; ++i) {
                Open o{std::make_unique<itest::Connection>(lib.driver, lib.wide, "DATABASENAME=" + s.db), nullptr,
                       10 + i};
                ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, o.c->dbc, &o.second), SQL_SUCCESS);
                open.push_back(std::move(o));
            }
            // Each connection writes with one statement and reads with the other.
            auto works = [&](Open& o) {
                const std::string key = std::to_string(o.key);
                SQLFreeStmt(o.c->stmt, SQL_CLOSE);
                if (SQLExecDirect(o.c->stmt, Text("insert into t values (" + key + ", 'c')"), SQL_NTS) != SQL_SUCCESS)
                    return "insert: " + AllDiags(o.c->stmt);
                SQLFreeStmt(o.second, SQL_CLOSE);
                if (SQLExecDirect(o.second, Text("select count(*) from t where k = " + key), SQL_NTS) != SQL_SUCCESS ||
                    SQLFetch(o.second) != SQL_SUCCESS)
                    return "select: " + AllDiags(o.second);
                SQLINTEGER n = 0;
                SQLGetData(o.second, 1, SQL_C_SLONG, &n, 0, nullptr);
                SQLFreeStmt(o.second, SQL_CLOSE);
                return n >= 1 ? std::string() : "count " + std::to_string(n);
            };
            std::vector<int> alive = {0, 1, 2};
            for (int closing : order) {
                open[closing].c.reset();  // frees its statements and disconnects
                alive.erase(std::find(alive.begin(), alive.end(), closing));
                if (open.size() == 3) {
                    // One more joins after the first close, and stays to the end.
                    Open o{std::make_unique<itest::Connection>(lib.driver, lib.wide, "DATABASENAME=" + s.db), nullptr,
                           13};
                    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, o.c->dbc, &o.second), SQL_SUCCESS);
                    open.push_back(std::move(o));
                    alive.push_back(3);
                }
                for (int i : alive)
                    EXPECT_EQ(works(open[i]), "") << "connection " << i << " after closing " << closing;
            }
            open[3].c.reset();
            // A new connection after all have gone.
            Open late{std::make_unique<itest::Connection>(lib.driver, lib.wide, "DATABASENAME=" + s.db), nullptr, 20};
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, late.c->dbc, &late.second), SQL_SUCCESS);
            EXPECT_EQ(works(late), "");
        } while (std::next_permutation(order.begin(), order.end()));
        // The session's own connection saw every connection's rows.
        ASSERT_EQ(s.Exec("select count(*) from t"), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
        SQLINTEGER n = 0;
        SQLGetData(s.stmt, 1, SQL_C_SLONG, &n, 0, nullptr);
        EXPECT_GT(n, 0);
    }
}

}  // namespace
