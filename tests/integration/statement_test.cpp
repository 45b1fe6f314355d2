// Statements and descriptors through the narrow library's entry points, called directly on
// the embedded server: the life cycle of every handle order, the statement states through
// prepare, execution, close and free, cursor names, native SQL, and
// threads calling on statements while others free them. Built with a sanitizer, the
// thread cases are the races the dispatcher's deferred freeing must prevent.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

#define VARNO_CALLS(X)                                                                                     \
    X(AllocHandle) X(SetEnvAttr) X(DriverConnect) X(Disconnect) X(FreeHandle) X(FreeStmt) X(GetDiagRec)     \
    X(Prepare) X(ExecDirect) X(Execute) X(NumResultCols) X(NumParams) X(CloseCursor) X(Cancel)             \
    X(SetCursorName) X(GetCursorName) X(NativeSql) X(MoreResults) X(AllocStmt) X(Fetch) X(GetData)         \
    X(GetStmtAttr)

struct Driver {
    void* lib = dlopen(VARNO_LIB_A, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
#define VARNO_MEMBER(n) decltype(&SQL##n) n = lib ? reinterpret_cast<decltype(&SQL##n)>(dlsym(lib, "SQL" #n)) : nullptr;
    VARNO_CALLS(VARNO_MEMBER)
#undef VARNO_MEMBER
};

const Driver& D() {
    static const Driver d;
    return d;
}

std::string State(SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {};
    SQLCHAR msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(D().GetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len)))
        return "";
    return reinterpret_cast<char*>(state);
}

SQLCHAR* Text(const char* s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s));
}

// An environment and a connection to a database of its own with a table t(a, b).
class Stmts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(D().lib, nullptr) << dlerror();
        const std::string base = std::string(VARNO_ODBC_DIR) + "/stmt-" + std::to_string(getpid());
        db = base + ".db";
        unlink(db.c_str());
        std::ofstream(base + ".sql") << "create table t (a integer, b varchar(20))";
        initSql = base + ".sql";
        Open();
    }
    // A new environment and connection; the first connect creates the table.
    void Open() {
        D().AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        D().SetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        dbc = NewConnection();
        ASSERT_NE(dbc, nullptr);
    }
    void TearDown() override {
        D().FreeHandle(SQL_HANDLE_ENV, env);
        unlink(db.c_str());
        unlink(initSql.c_str());
    }
    SQLHDBC NewConnection() {
        SQLHANDLE h = nullptr;
        D().AllocHandle(SQL_HANDLE_DBC, env, &h);
        return Connect(h) ? h : nullptr;
    }
    bool Connect(SQLHDBC h) {
        std::string in = "DRIVER={" VARNO_LIB_A "};DATABASENAME=" + db;
        if (!tableMade)
            in += ";INITSQL=" + initSql;
        tableMade = SQL_SUCCEEDED(
            D().DriverConnect(h, nullptr, Text(in.c_str()), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
        return tableMade;
    }
    SQLHSTMT NewStmt(SQLHDBC on = nullptr) {
        SQLHANDLE h = nullptr;
        EXPECT_EQ(D().AllocHandle(SQL_HANDLE_STMT, on ? on : dbc, &h), SQL_SUCCESS);
        return h;
    }
    SQLSMALLINT Cols(SQLHSTMT s) {
        SQLSMALLINT n = -1;
        return D().NumResultCols(s, &n) == SQL_SUCCESS ? n : -1;
    }

    std::string db;
    std::string initSql;
    bool tableMade = false;
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
};

TEST_F(Stmts, AllocationNeedsAConnectionAndAnOutput) {
    SQLHANDLE idle = nullptr;
    ASSERT_EQ(D().AllocHandle(SQL_HANDLE_DBC, env, &idle), SQL_SUCCESS);
    for (SQLSMALLINT type : {SQL_HANDLE_STMT, SQL_HANDLE_DESC}) {
        SQLHANDLE out = reinterpret_cast<SQLHANDLE>(0x1234);
        EXPECT_EQ(D().AllocHandle(type, idle, &out), SQL_ERROR);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(State(SQL_HANDLE_DBC, idle), "08003");
        EXPECT_EQ(D().AllocHandle(type, dbc, nullptr), SQL_ERROR);
        EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "HY009");
    }
    SQLHANDLE out = nullptr;
    EXPECT_EQ(D().AllocStmt(idle, &out), SQL_ERROR);
    EXPECT_EQ(D().FreeHandle(SQL_HANDLE_DBC, idle), SQL_SUCCESS);
}

// Every way a statement or descriptor goes; afterwards its handle is invalid, and so is
// that of another statement when the connection went.
TEST_F(Stmts, FreedHandlesAreInvalid) {
    enum How { Drop, FreeHandle, Disconnect, FreeEnv };
    struct Case {
        SQLSMALLINT type;
        How how;
    } cases[] = {{SQL_HANDLE_STMT, Drop},       {SQL_HANDLE_STMT, FreeHandle}, {SQL_HANDLE_DESC, FreeHandle},
                 {SQL_HANDLE_STMT, Disconnect}, {SQL_HANDLE_DESC, Disconnect}, {SQL_HANDLE_STMT, FreeEnv},
                 {SQL_HANDLE_DESC, FreeEnv}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " how " << c.how);
        SQLHANDLE h = nullptr;
        ASSERT_EQ(D().AllocHandle(c.type, dbc, &h), SQL_SUCCESS);
        SQLHSTMT other = NewStmt();
        switch (c.how) {
        case Drop: ASSERT_EQ(D().FreeStmt(h, SQL_DROP), SQL_SUCCESS); break;
        case FreeHandle: ASSERT_EQ(D().FreeHandle(c.type, h), SQL_SUCCESS); break;
        case Disconnect: ASSERT_EQ(D().Disconnect(dbc), SQL_SUCCESS); break;
        case FreeEnv: ASSERT_EQ(D().FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS); break;
        }
        EXPECT_EQ(D().FreeHandle(c.type, h), SQL_INVALID_HANDLE);
        if (c.type == SQL_HANDLE_STMT) {
            EXPECT_EQ(D().Prepare(h, Text("select 1"), SQL_NTS), SQL_INVALID_HANDLE);
        }
        if (c.how == Disconnect || c.how == FreeEnv) {
            EXPECT_EQ(D().FreeStmt(other, SQL_CLOSE), SQL_INVALID_HANDLE);
        }
        if (c.how == FreeEnv) {
            Open();
        } else if (c.how == Disconnect) {
            ASSERT_TRUE(Connect(dbc));
        }
    }
}

TEST_F(Stmts, ConnectedConnectionIsNotFreedUnderItsStatements) {
    SQLHSTMT s = NewStmt();
    EXPECT_EQ(D().FreeHandle(SQL_HANDLE_DBC, dbc), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "HY010");
    EXPECT_EQ(D().Prepare(s, Text("select 1"), SQL_NTS), SQL_SUCCESS);
}

// The implicit descriptors are registered right after their statement: the ids just
// below an explicit descriptor allocated next are the statement's IRD and IPD.
TEST_F(Stmts, ImplicitDescriptorIsNotFreedByTheApplication) {
    NewStmt();
    SQLHANDLE user = nullptr;
    ASSERT_EQ(D().AllocHandle(SQL_HANDLE_DESC, dbc, &user), SQL_SUCCESS);
    auto ipd = reinterpret_cast<SQLHANDLE>(reinterpret_cast<uintptr_t>(user) - 1);
    EXPECT_EQ(D().FreeHandle(SQL_HANDLE_DESC, ipd), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_DESC, ipd), "HY017");
    EXPECT_EQ(D().FreeHandle(SQL_HANDLE_DESC, user), SQL_SUCCESS);
}

TEST_F(Stmts, FreeStmtOptions) {
    SQLHSTMT s = NewStmt();
    for (SQLUSMALLINT option : {SQL_CLOSE, SQL_UNBIND, SQL_RESET_PARAMS})
        EXPECT_EQ(D().FreeStmt(s, option), SQL_SUCCESS) << option;
    EXPECT_EQ(D().FreeStmt(s, 4), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY092");
    EXPECT_EQ(D().CloseCursor(s), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "24000");  // no cursor is open
    EXPECT_EQ(D().Cancel(s), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "01S05");
}

TEST_F(Stmts, StatesThroughPrepareExecuteCloseAndFree) {
    SQLHSTMT s = NewStmt();
    SQLSMALLINT n = -1;
    EXPECT_EQ(D().NumResultCols(s, &n), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY010");
    EXPECT_EQ(D().Execute(s), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY010");
    EXPECT_EQ(D().MoreResults(s), SQL_NO_DATA);

    ASSERT_EQ(D().Prepare(s, Text("SELECT a, b, a + 1 FROM t"), SQL_NTS), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    EXPECT_EQ(Cols(s), 3);
    EXPECT_EQ(D().NumParams(s, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(D().Fetch(s), SQL_ERROR);  // prepared, not executed
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY010");
    EXPECT_EQ(D().Execute(s), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    EXPECT_EQ(D().Fetch(s), SQL_NO_DATA);  // the table is empty
    // A close keeps the prepared statement.
    EXPECT_EQ(D().FreeStmt(s, SQL_CLOSE), SQL_SUCCESS);
    EXPECT_EQ(Cols(s), 3);

    ASSERT_EQ(D().Prepare(s, Text("insert into t values (?, ?)"), SQL_NTS), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    EXPECT_EQ(D().NumParams(s, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(Cols(s), 0);

    // A failed prepare leaves nothing prepared.
    EXPECT_EQ(D().Prepare(s, Text("select nothing from nowhere"), SQL_NTS), SQL_ERROR);
    EXPECT_NE(State(SQL_HANDLE_STMT, s), "");
    EXPECT_EQ(D().Execute(s), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY010");
    EXPECT_EQ(D().NumResultCols(s, &n), SQL_ERROR);

    // Execute direct prepares and executes.
    EXPECT_EQ(D().ExecDirect(s, Text("select 1, 2"), SQL_NTS), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    EXPECT_EQ(Cols(s), 2);
    ASSERT_EQ(D().Fetch(s), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    SQLINTEGER two = 0;
    EXPECT_EQ(D().GetData(s, 2, SQL_C_SLONG, &two, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(two, 2);
    EXPECT_EQ(D().Fetch(s), SQL_NO_DATA);

    EXPECT_EQ(D().Prepare(s, nullptr, SQL_NTS), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY009");
    EXPECT_EQ(D().Prepare(s, Text("select 1"), -5), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY090");
    EXPECT_EQ(D().FreeHandle(SQL_HANDLE_STMT, s), SQL_SUCCESS);
}

// SQL_ATTR_ROW_NUMBER counts the rows of the current result: each execution starts it
// again, whether the statement was closed or executed directly anew.
TEST_F(Stmts, RowNumberStartsAgainWithEachResult) {
    SQLHSTMT s = NewStmt();
    ASSERT_EQ(D().ExecDirect(s, Text("insert into t values (1, 'a'), (2, 'b'), (3, 'c')"), SQL_NTS), SQL_SUCCESS)
        << State(SQL_HANDLE_STMT, s);
    auto rowNumber = [&] {
        SQLULEN n = 0xDEAD;
        EXPECT_EQ(D().GetStmtAttr(s, SQL_ATTR_ROW_NUMBER, &n, 0, nullptr), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
        return n;
    };
    ASSERT_EQ(D().Prepare(s, Text("select a from t"), SQL_NTS), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    ASSERT_EQ(D().Execute(s), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    ASSERT_EQ(D().Fetch(s), SQL_SUCCESS);
    ASSERT_EQ(D().Fetch(s), SQL_SUCCESS);
    EXPECT_EQ(rowNumber(), 2u);
    ASSERT_EQ(D().FreeStmt(s, SQL_CLOSE), SQL_SUCCESS);
    ASSERT_EQ(D().Execute(s), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    EXPECT_EQ(rowNumber(), 0u);
    ASSERT_EQ(D().Fetch(s), SQL_SUCCESS);
    EXPECT_EQ(rowNumber(), 1u);
    ASSERT_EQ(D().ExecDirect(s, Text("select b from t"), SQL_NTS), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    ASSERT_EQ(D().Fetch(s), SQL_SUCCESS);
    EXPECT_EQ(rowNumber(), 1u);
}

TEST_F(Stmts, CursorNames) {
    SQLHSTMT s = NewStmt();
    ASSERT_EQ(D().SetCursorName(s, Text("orders_cursorXYZ"), 13), SQL_SUCCESS) << State(SQL_HANDLE_STMT, s);
    SQLCHAR name[32] = {};
    SQLSMALLINT len = 0;
    EXPECT_EQ(D().GetCursorName(s, name, sizeof name, &len), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "orders_cursor");
    EXPECT_EQ(len, 13);
    EXPECT_EQ(D().GetCursorName(s, name, 7, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "orders");
    EXPECT_EQ(len, 13);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "01004");
    EXPECT_EQ(D().GetCursorName(s, name, -1, &len), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY090");
    EXPECT_EQ(D().SetCursorName(s, Text("c"), -7), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_STMT, s), "HY090");
}

TEST_F(Stmts, NativeSqlTranslatesEscapes) {
    const char* in = "select {fn ucase(b)} from t where a = {d '2024-01-31'}";
    SQLCHAR out[256] = {};
    SQLINTEGER len = 0;
    ASSERT_EQ(D().NativeSql(dbc, Text(in), SQL_NTS, out, sizeof out, &len), SQL_SUCCESS) << State(SQL_HANDLE_DBC, dbc);
    std::string text(reinterpret_cast<char*>(out));
    EXPECT_EQ(text.find('{'), std::string::npos) << text;
    EXPECT_EQ(len, static_cast<SQLINTEGER>(text.size()));
    EXPECT_EQ(D().NativeSql(dbc, Text(in), SQL_NTS, out, 5, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), text.substr(0, 4));
    EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "01004");
    EXPECT_EQ(D().NativeSql(dbc, Text(in), -2, out, sizeof out, &len), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "HY090");
    EXPECT_EQ(D().NativeSql(dbc, Text(in), SQL_NTS, out, -1, &len), SQL_ERROR);
    EXPECT_EQ(State(SQL_HANDLE_DBC, dbc), "HY090");
}

// Two threads on two statements of one connection: each call either runs or is refused
// because the other holds the connection, never anything else.
TEST_F(Stmts, TwoThreadsOnOneConnection) {
    SQLHSTMT s[2] = {NewStmt(), NewStmt()};
    std::atomic<int> wrong{0};
    auto work = [&](SQLHSTMT h) {
        for (int i = 0; i < 200; ++i) {
            SQLRETURN rc = D().Prepare(h, Text("select a, b from t"), SQL_NTS);
            if (rc != SQL_SUCCESS && State(SQL_HANDLE_STMT, h) != "HY010")
                ++wrong;
            SQLSMALLINT n = 0;
            rc = D().NumResultCols(h, &n);
            if (rc == SQL_SUCCESS && n != 2)
                ++wrong;
        }
    };
    std::thread a(work, s[0]), b(work, s[1]);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Two connections, each with a statement worked by its own thread, while a third thread
// disconnects and frees a connection under calls on its statement.
TEST_F(Stmts, TwoConnectionsAndAConnectionFreedUnderItsStatement) {
    SQLHDBC second = NewConnection();
    ASSERT_NE(second, nullptr);
    SQLHSTMT mine = NewStmt(second);
    SQLHSTMT other = NewStmt();
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread worker([&] {
        while (!stop) {
            SQLRETURN rc = D().Prepare(other, Text("select a from t"), SQL_NTS);
            if (rc != SQL_SUCCESS)
                ++wrong;
        }
    });
    std::thread doomed([&] {
        for (int i = 0; i < 500; ++i) {
            SQLRETURN rc = D().Prepare(mine, Text("select b from t"), SQL_NTS);
            if (rc != SQL_SUCCESS && rc != SQL_ERROR && rc != SQL_INVALID_HANDLE)
                ++wrong;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    while (D().Disconnect(second) == SQL_ERROR)
        std::this_thread::yield();
    EXPECT_EQ(D().FreeHandle(SQL_HANDLE_DBC, second), SQL_SUCCESS);
    doomed.join();
    stop = true;
    worker.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(D().Prepare(mine, Text("select 1"), SQL_NTS), SQL_INVALID_HANDLE);
}

}  // namespace
