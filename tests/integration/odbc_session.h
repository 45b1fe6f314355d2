// A connection through unixODBC to a database of its own, for the integration tests that
// take the private configuration driver_manager_test.cpp writes for the process: the two
// libraries by driver name, the first diagnostic of a handle, and a session whose first
// connect creates its tables (INITSQL) with one statement on it, whose calls take the
// library's width.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace itest {

struct Lib {
    const char* driver;
    bool wide;
};
inline const Lib kLibs[] = {{"Tessaryn Vell for Progress 11 SQL-92", false},
                            {"Tessaryn Vell for Progress 11 SQL-92 (Unicode)", true}};

// "STATE message" of the handle's first diagnostic record.
inline std::string Diag(SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len);
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(msg);
}

inline std::vector<SQLWCHAR> Wide(const std::string& text) {
    std::vector<SQLWCHAR> w(text.begin(), text.end());
    w.push_back(0);
    return w;
}

// A database "<stem>-<pid>.db" under the configuration folder, created by the connect with
// the statement create, and one statement; the file goes with the session.
struct Session {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    std::string db;
    const Lib& lib;

    Session(const Lib& l, const std::string& stem, const std::string& create, SQLULEN odbcVersion = SQL_OV_ODBC3)
        : lib(l) {
        const std::string base = std::string(VARNO_ODBC_DIR) + "/" + stem + "-" + std::to_string(getpid());
        db = base + ".db";
        std::filesystem::remove(db);
        std::ofstream(base + ".sql") << create;
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(odbcVersion), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string in = std::string("DRIVER={") + lib.driver + "};DATABASENAME=" + db + ";INITSQL=" + base + ".sql";
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT);
        std::filesystem::remove(base + ".sql");
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    }
    ~Session() {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
        std::filesystem::remove(db);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    SQLRETURN Prepare(const std::string& text) {
        if (!lib.wide)
            return SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
        return SQLPrepareW(stmt, Wide(text).data(), SQL_NTS);
    }
    // Closes the statement's cursor first.
    SQLRETURN Exec(const std::string& text) {
        SQLFreeStmt(stmt, SQL_CLOSE);
        if (!lib.wide)
            return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
        return SQLExecDirectW(stmt, Wide(text).data(), SQL_NTS);
    }
    std::string State() { return Diag(SQL_HANDLE_STMT, stmt).substr(0, 5); }
};

}  // namespace itest
