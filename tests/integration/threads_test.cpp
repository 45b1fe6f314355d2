// Several threads calling the driver's entry points directly (no Driver Manager in between,
// as a careless application or a pooling layer may): environment-level calls against
// connection calls of other threads, and diagnostics read while a connection connects.
// Built with a sanitizer, these are the races the dispatcher's locks must prevent.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// The entry points of the narrow library, looked up in the loaded file itself.
struct Driver {
    void* lib = nullptr;
    decltype(&SQLAllocHandle) AllocHandle = nullptr;
    decltype(&SQLSetEnvAttr) SetEnvAttr = nullptr;
    decltype(&SQLDriverConnect) DriverConnect = nullptr;
    decltype(&SQLDisconnect) Disconnect = nullptr;
    decltype(&SQLFreeHandle) FreeHandle = nullptr;
    decltype(&SQLEndTran) EndTran = nullptr;
    decltype(&SQLGetDiagRec) GetDiagRec = nullptr;

    // Kept loaded to the end of the process, as under a Driver Manager: unloading is the
    // load test's subject, and what the library keeps for the process goes with it there.
    Driver() {
        lib = dlopen(VARNO_LIB_A, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (lib == nullptr)
            return;
        Bind(AllocHandle, "SQLAllocHandle");
        Bind(SetEnvAttr, "SQLSetEnvAttr");
        Bind(DriverConnect, "SQLDriverConnect");
        Bind(Disconnect, "SQLDisconnect");
        Bind(FreeHandle, "SQLFreeHandle");
        Bind(EndTran, "SQLEndTran");
        Bind(GetDiagRec, "SQLGetDiagRec");
    }
    ~Driver() {
        if (lib != nullptr)
            dlclose(lib);
    }
    bool ok() const { return lib != nullptr && GetDiagRec != nullptr; }

    template <class F>
    void Bind(F& f, const char* name) {
        f = reinterpret_cast<F>(dlsym(lib, name));
    }

    SQLHENV NewEnv() const {
        SQLHANDLE env = nullptr;
        AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        return env;
    }
    SQLHDBC NewConn(SQLHENV env) const {
        SQLHANDLE dbc = nullptr;
        AllocHandle(SQL_HANDLE_DBC, env, &dbc);
        return dbc;
    }
    SQLRETURN Connect(SQLHDBC dbc, const std::string& db) const {
        std::string in = "DRIVER={" VARNO_LIB_A "};DATABASENAME=" + db + ";UID=u;PWD=p";
        return DriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
    }
    // "STATE message" of the handle's first record, or "" when it has none.
    std::string FirstRecord(SQLSMALLINT type, SQLHANDLE h) const {
        SQLCHAR state[6] = {};
        SQLCHAR msg[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        if (!SQL_SUCCEEDED(GetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len)))
            return "";
        return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(msg);
    }
};

std::string Db(const char* name) {
    return std::string(VARNO_ODBC_DIR) + "/threads-" + name + ".db";
}

class DirectThreads : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(d.ok()) << dlerror(); }

    // Opens and closes twelve connections of a fresh environment, rounds times; each
    // connect must succeed.
    void ChurnConnections(int rounds, const char* db) {
        SQLHENV env = d.NewEnv();
        for (int r = 0; r < rounds; ++r) {
            std::vector<SQLHDBC> conns;
            for (int i = 0; i < 12; ++i) {
                SQLHDBC dbc = d.NewConn(env);
                EXPECT_TRUE(SQL_SUCCEEDED(d.Connect(dbc, Db(db)))) << d.FirstRecord(SQL_HANDLE_DBC, dbc);
                conns.push_back(dbc);
            }
            for (SQLHDBC dbc : conns) {
                EXPECT_EQ(d.Disconnect(dbc), SQL_SUCCESS);
                EXPECT_EQ(d.FreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
            }
        }
        EXPECT_EQ(d.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
    }

    Driver d;
};

// Ending an environment's transactions reaches its connection's agent under that
// connection's locks, while another environment's connections come and go.
TEST_F(DirectThreads, EnvironmentEndTranRacesConnectsOfAnotherEnvironment) {
    SQLHENV env = d.NewEnv();
    SQLHDBC dbc = d.NewConn(env);
    ASSERT_EQ(d.Connect(dbc, Db("endtran")), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_DBC, dbc);
    std::atomic<bool> stop{false};
    std::thread ender([&] {
        while (!stop)
            EXPECT_EQ(d.EndTran(SQL_HANDLE_ENV, env, SQL_COMMIT), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_ENV, env);
    });
    ChurnConnections(4, "churn1");
    stop = true;
    ender.join();
    EXPECT_EQ(d.Disconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

// Freeing an environment whose connection is still open disconnects it under the
// connection's locks, while other connections of the process open and close.
TEST_F(DirectThreads, FreeingAnEnvironmentWithAnOpenConnectionRacesOtherConnects) {
    std::atomic<bool> stop{false};
    std::thread freer([&] {
        while (!stop) {
            SQLHENV env = d.NewEnv();
            SQLHDBC dbc = d.NewConn(env);
            EXPECT_EQ(d.Connect(dbc, Db("freeenv")), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_DBC, dbc);
            EXPECT_EQ(d.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_ENV, env);
        }
    });
    ChurnConnections(4, "churn2");
    stop = true;
    freer.join();
}

// Reading diagnostics never refuses or disturbs a call of another thread on the same
// connection: every connect succeeds and leaves no stale record behind.
TEST_F(DirectThreads, DiagnosticReadsNeverRefuseConnects) {
    SQLHENV env = d.NewEnv();
    SQLHDBC dbc = d.NewConn(env);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        SQLCHAR state[6], msg[256];
        SQLINTEGER native;
        SQLSMALLINT len;
        while (!stop) {
            SQLRETURN rc = d.GetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, msg, sizeof msg, &len);
            EXPECT_TRUE(rc == SQL_SUCCESS || rc == SQL_NO_DATA) << rc;
        }
    });
    for (int i = 0; i < 60; ++i) {
        ASSERT_EQ(d.Connect(dbc, Db("diag")), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(d.FirstRecord(SQL_HANDLE_DBC, dbc), "");
        ASSERT_EQ(d.Disconnect(dbc), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_DBC, dbc);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

// Ending an environment's transactions waits for calls running on its connections in
// other threads instead of failing with a sequence error. A call that arrives while the
// environment's call works on its connection is refused with one, as any call on a busy
// connection is.
TEST_F(DirectThreads, EnvironmentEndTranWaitsForItsConnectionsCalls) {
    SQLHENV env = d.NewEnv();
    SQLHDBC dbc = d.NewConn(env);
    ASSERT_EQ(d.Connect(dbc, Db("wait")), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_DBC, dbc);
    std::atomic<bool> stop{false};
    std::thread user([&] {
        while (!stop) {
            SQLRETURN rc = d.EndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            if (rc != SQL_SUCCESS) {
                EXPECT_EQ(d.FirstRecord(SQL_HANDLE_DBC, dbc).substr(0, 5), "HY010");
            }
        }
    });
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(d.EndTran(SQL_HANDLE_ENV, env, SQL_COMMIT), SQL_SUCCESS) << d.FirstRecord(SQL_HANDLE_ENV, env);
    stop = true;
    user.join();
    EXPECT_EQ(d.Disconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_DBC, dbc), SQL_SUCCESS);
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

// The answers of SQLEndTran that are not a transaction's end.
TEST_F(DirectThreads, EndTranRefusesWhatEndsNoTransaction) {
    SQLHENV env = d.NewEnv();
    EXPECT_EQ(d.EndTran(99, env, SQL_COMMIT), SQL_INVALID_HANDLE);
    EXPECT_EQ(d.EndTran(SQL_HANDLE_STMT, env, SQL_COMMIT), SQL_INVALID_HANDLE);  // not a statement
    EXPECT_EQ(d.EndTran(SQL_HANDLE_ENV, env, 77), SQL_ERROR);  // no connection open, still refused
    EXPECT_EQ(d.FirstRecord(SQL_HANDLE_ENV, env).substr(0, 5), "HY012");
    EXPECT_EQ(d.FreeHandle(SQL_HANDLE_ENV, env), SQL_SUCCESS);
}

}  // namespace
