// Connections through unixODBC for the integration tests that take the private
// configuration driver_manager_test.cpp writes for the process: the two libraries by driver
// name, the first diagnostic of a handle and every one of a statement, a connection with one
// statement, and a session on
// a database of its own whose first connect creates its tables (INITSQL), whose calls take
// the library's width.
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace itest {

struct Lib {
    const char* driver;
    bool wide;
};
inline const Lib kLibs[] = {{"Tessaryn Vell for Progress 11 SQL-92", false},
                            {"Tessaryn Vell for Progress 11 SQL-92 (Unicode)", true}};

// "STATE message" of the handle's first diagnostic record; "" when it has none.
inline std::string Diag(SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len)))
        return "";
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(msg);
}

// Every diagnostic record of the statement as "STATE message", one a line.
inline std::string AllDiags(SQLHSTMT stmt) {
    std::string all;
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT n = 1;
         SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, n, state, &native, msg, sizeof msg, &len)); ++n)
        all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(msg) + "\n";
    return all;
}

inline std::vector<SQLWCHAR> Wide(const std::string& text) {
    std::vector<SQLWCHAR> w(text.begin(), text.end());
    w.push_back(0);
    return w;
}

// An environment of the given ODBC version, a connection made with "DRIVER={driver};" and
// attrs in the library's width, and one statement on it.
struct Connection {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    bool wide;

    Connection(const char* driver, bool w, const std::string& attrs, SQLULEN odbcVersion = SQL_OV_ODBC3) : wide(w) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(odbcVersion), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string in = std::string("DRIVER={") + driver + "};" + attrs;
        SQLRETURN rc = wide ? SQLDriverConnectW(dbc, nullptr, Wide(in).data(), SQL_NTS, nullptr, 0, nullptr,
                                                SQL_DRIVER_NOPROMPT)
                            : SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr,
                                               0, nullptr, SQL_DRIVER_NOPROMPT);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << Diag(SQL_HANDLE_DBC, dbc);
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS) << Diag(SQL_HANDLE_DBC, dbc);
    }
    ~Connection() {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The state of the statement's first diagnostic record; "" when it has none.
    std::string State() { return Diag(SQL_HANDLE_STMT, stmt).substr(0, 5); }
};

// Where a database file under the configuration folder starts; the connect that names it
// creates it.
inline std::string DbBase(const std::string& stem) {
    return std::string(VARNO_ODBC_DIR) + "/" + stem + "-" + std::to_string(getpid());
}

// A database file of the test's own: none at construction, before anything opens it, and
// none after. As the first base of a session it goes after the session's connection.
struct OwnFile {
    std::string path;
    explicit OwnFile(std::string p) : path(std::move(p)) { std::filesystem::remove(path); }
    ~OwnFile() { std::filesystem::remove(path); }
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
};

// A database "<stem>-<pid>.db" under the configuration folder, created by the connect with
// the statement create, and one statement; the file goes with the session.
struct Session : OwnFile, Connection {
    const std::string& db = path;
    const Lib& lib;

    Session(const Lib& l, const std::string& stem, const std::string& create, SQLULEN odbcVersion = SQL_OV_ODBC3)
        : OwnFile(DbBase(stem) + ".db"),
          Connection(l.driver, l.wide, "DATABASENAME=" + path + ";INITSQL=" + InitSql(DbBase(stem) + ".sql", create),
                     odbcVersion),
          lib(l) {
        std::filesystem::remove(DbBase(stem) + ".sql");
    }

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

private:
    // Writes the initial SQL file and answers its path.
    static std::string InitSql(const std::string& path, const std::string& create) {
        std::ofstream(path) << create;
        return path;
    }
};

}  // namespace itest
