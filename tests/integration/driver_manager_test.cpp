// The built libraries through the real unixODBC Driver Manager, with a private
// odbcinst.ini and odbc.ini under the build folder.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

const char* const kDriverW = "Tessaryn Vell for Progress 11 SQL-92 (Unicode)";
const char* const kDriverA = "Tessaryn Vell for Progress 11 SQL-92";

// Replaces the file whole: every test process writes the same files while others may be
// reading them, and a reader must never see a half-written one.
void WriteFileAtomically(const std::string& path, const std::string& text) {
    std::string tmp = path + "." + std::to_string(getpid());
    std::ofstream(tmp) << text;
    std::rename(tmp.c_str(), path.c_str());
}

// Writes the private configuration and points unixODBC at it before its first use.
class PrivateOdbcConfig : public ::testing::Environment {
public:
    void SetUp() override {
        std::string dir = VARNO_ODBC_DIR;
        WriteFileAtomically(dir + "/odbcinst.ini", std::string("[") + kDriverW + "]\nDriver = " VARNO_LIB_W "\n\n" +
                                                       "[" + kDriverA + "]\nDriver = " VARNO_LIB_A "\n");
        WriteFileAtomically(dir + "/odbc.ini", "");
        setenv("ODBCSYSINI", dir.c_str(), 1);
        setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
    }
};
const auto* const kConfig = ::testing::AddGlobalTestEnvironment(new PrivateOdbcConfig);

struct Env {
    SQLHENV henv = SQL_NULL_HENV;
    Env() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &henv);
        SQLSetEnvAttr(henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    ~Env() { SQLFreeHandle(SQL_HANDLE_ENV, henv); }
};

TEST(DriverManager, ListsBothDrivers) {
    Env env;
    std::set<std::string> names;
    SQLCHAR desc[256], attrs[1024];
    SQLSMALLINT descLen = 0, attrLen = 0;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDrivers(env.henv, dir, desc, sizeof desc, &descLen, attrs, sizeof attrs, &attrLen))) {
        names.insert(reinterpret_cast<char*>(desc));
        dir = SQL_FETCH_NEXT;
    }
    EXPECT_TRUE(names.count(kDriverW));
    EXPECT_TRUE(names.count(kDriverA));
}

// Connection objects are not built yet: the Driver Manager loads each driver, allocates
// its environment and sets the ODBC version, and is then refused the connection handle.
TEST(DriverManager, ConnectLoadsTheDriverAndAllocatesItsEnvironment) {
    for (const char* driver : {kDriverW, kDriverA}) {
        Env env;
        SQLHDBC hdbc = SQL_NULL_HDBC;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env.henv, &hdbc), SQL_SUCCESS);
        std::string in = std::string("DRIVER={") + driver + "};DATABASENAME=demo.db";
        SQLCHAR out[512];
        SQLSMALLINT outLen = 0;
        SQLRETURN rc = SQLDriverConnect(hdbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, out,
                                        sizeof out, &outLen, SQL_DRIVER_NOPROMPT);
        EXPECT_EQ(rc, SQL_ERROR) << driver;
        SQLCHAR state[6] = {};
        SQLCHAR msg[512] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT msgLen = 0;
        std::string all;
        for (SQLSMALLINT i = 1;
             SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_DBC, hdbc, i, state, &native, msg, sizeof msg, &msgLen)); ++i)
            all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(msg) + "\n";
        EXPECT_NE(all.find("IM005"), std::string::npos) << driver << ":\n" << all;
        EXPECT_NE(all.find("SQL_HANDLE_DBC"), std::string::npos) << driver << ":\n" << all;
        SQLFreeHandle(SQL_HANDLE_DBC, hdbc);
    }
}

}  // namespace
