// The built libraries through the real unixODBC Driver Manager, with a private
// odbcinst.ini and odbc.ini under the build folder: the drivers are listed, and an
// application connects by data source name, by driver and database name, by File DSN and
// with SQLConnect, narrow calls against libvarnod and wide ones against libvarnodw.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

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

// The database files of the two data sources; fixed paths, since every test process
// writes the same configuration.
const std::string kDsnDbW = std::string(VARNO_ODBC_DIR) + "/dsn-w.db";
const std::string kDsnDbA = std::string(VARNO_ODBC_DIR) + "/dsn-a.db";

// Writes the private configuration and points unixODBC at it before its first use.
class PrivateOdbcConfig : public ::testing::Environment {
public:
    void SetUp() override {
        std::string dir = VARNO_ODBC_DIR;
        WriteFileAtomically(dir + "/odbcinst.ini", std::string("[") + kDriverW + "]\nDriver = " VARNO_LIB_W "\n\n" +
                                                       "[" + kDriverA + "]\nDriver = " VARNO_LIB_A "\n");
        WriteFileAtomically(dir + "/odbc.ini", std::string("[ODBC Data Sources]\n") +
                                                   "VarnoW = " + kDriverW + "\nVarnoA = " + kDriverA + "\n\n" +
                                                   "[VarnoW]\nDriver = " + kDriverW + "\nDatabaseName = " + kDsnDbW +
                                                   "\nUID = ann\n\n" + "[VarnoA]\nDriver = " + kDriverA +
                                                   "\nDatabaseName = " + kDsnDbA + "\nUID = ann\n");
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

// Every diagnostic record of the handle, one "STATE message" line each.
std::string DiagText(SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {};
    SQLCHAR msg[1024] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT msgLen = 0;
    std::string all;
    for (SQLSMALLINT i = 1; SQL_SUCCEEDED(SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &msgLen)); ++i)
        all += std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(msg) + "\n";
    return all;
}

std::vector<SQLWCHAR> Wide(const std::string& s) {
    std::vector<SQLWCHAR> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

std::string Narrow(const SQLWCHAR* w, size_t n) {
    std::string s;
    for (size_t i = 0; i < n && w[i] != 0; ++i)
        s.push_back(static_cast<char>(w[i]));
    return s;
}

// One library and the calls that reach it: narrow ones for libvarnod, wide ones for
// libvarnodw.
struct Library {
    const char* driver;
    const char* dsn;
    std::string dsnDb;
    bool wide;
};

std::vector<Library> Libraries() {
    return {{kDriverA, "VarnoA", kDsnDbA, false}, {kDriverW, "VarnoW", kDsnDbW, true}};
}

// An environment and a connection handle of the Driver Manager.
struct Dbc {
    Env env;
    SQLHDBC hdbc = SQL_NULL_HDBC;
    Dbc() { SQLAllocHandle(SQL_HANDLE_DBC, env.henv, &hdbc); }
    ~Dbc() { SQLFreeHandle(SQL_HANDLE_DBC, hdbc); }
};

// SQLDriverConnect in the library's width; the completed string comes back narrowed.
SQLRETURN DriverConnect(const Library& lib, SQLHDBC hdbc, const std::string& in, std::string* out) {
    SQLSMALLINT outLen = 0;
    SQLRETURN rc;
    if (lib.wide) {
        auto w = Wide(in);
        SQLWCHAR buf[1024] = {};
        rc = SQLDriverConnectW(hdbc, nullptr, w.data(), SQL_NTS, buf, 1024, &outLen, SQL_DRIVER_NOPROMPT);
        *out = Narrow(buf, 1024);
    } else {
        SQLCHAR buf[1024] = {};
        rc = SQLDriverConnect(hdbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())), SQL_NTS, buf,
                              sizeof buf, &outLen, SQL_DRIVER_NOPROMPT);
        *out = reinterpret_cast<char*>(buf);
    }
    return rc;
}

// Connects with the string, checks the database file appears and disconnects.
void ConnectAndDisconnect(const Library& lib, const std::string& in, const std::string& db, std::string* out) {
    std::filesystem::remove(db);
    Dbc c;
    ASSERT_NE(c.hdbc, nullptr);
    SQLRETURN rc = DriverConnect(lib, c.hdbc, in, out);
    std::string diag = DiagText(SQL_HANDLE_DBC, c.hdbc);
    ASSERT_EQ(rc, SQL_SUCCESS) << lib.driver << " " << in << ":\n" << diag;
    EXPECT_TRUE(std::filesystem::exists(db)) << db;
    EXPECT_EQ(SQLDisconnect(c.hdbc), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
    std::filesystem::remove(db);
}

// A path of this process's own under the private configuration folder: "<stem>-<pid>.<ext>".
std::string Unique(const std::string& stem, const std::string& ext) {
    return std::string(VARNO_ODBC_DIR) + "/" + stem + "-" + std::to_string(getpid()) + "." + ext;
}

TEST(DriverManagerConnect, DataSourceName) {
    for (const Library& lib : Libraries()) {
        std::string out;
        ConnectAndDisconnect(lib, std::string("DSN=") + lib.dsn + ";PWD=x", lib.dsnDb, &out);
        if (IsSkipped() || HasFatalFailure())
            return;
        EXPECT_EQ(out, std::string("DSN=") + lib.dsn + ";UID=ann;PWD=x;CONNSTR=" + lib.dsnDb);
    }
}

TEST(DriverManagerConnect, DriverAndDatabaseName) {
    for (const Library& lib : Libraries()) {
        std::string db = Unique(lib.wide ? "driver-w" : "driver-a", "db");
        std::string out;
        ConnectAndDisconnect(lib, std::string("DRIVER={") + lib.driver + "};DATABASENAME=" + db, db, &out);
        if (IsSkipped() || HasFatalFailure())
            return;
        EXPECT_EQ(out.rfind(std::string("DRIVER={") + lib.driver + "};UID=;PWD=;FBS=60;", 0), 0u) << out;
        EXPECT_NE(out.find(";DATABASENAME=" + db + ";"), std::string::npos) << out;
        EXPECT_EQ(out.substr(out.size() - 16), ";Server=Tessaryn") << out;
    }
}

TEST(DriverManagerConnect, FileDsn) {
    for (const Library& lib : Libraries()) {
        std::string db = Unique(lib.wide ? "filedsn-w" : "filedsn-a", "db");
        std::string file = Unique(lib.wide ? "filedsn-w" : "filedsn-a", "dsn");
        WriteFileAtomically(file, std::string("[ODBC]\nDRIVER=") + lib.driver + "\nDATABASENAME=" + db + "\n");
        std::string out;
        // unixODBC's wide connect does not expand FILEDSN= (alone it answers IM002): there
        // the driver is named and reads the File DSN itself.
        std::string in = lib.wide ? std::string("DRIVER={") + lib.driver + "};FILEDSN=" + file : "FILEDSN=" + file;
        ConnectAndDisconnect(lib, in, db, &out);
        std::filesystem::remove(file);
        if (IsSkipped() || HasFatalFailure())
            return;
    }
}

TEST(DriverManagerConnect, SQLConnectWithDataSourceUserAndPassword) {
    for (const Library& lib : Libraries()) {
        std::filesystem::remove(lib.dsnDb);
        Dbc c;
        SQLRETURN rc;
        if (lib.wide) {
            auto dsn = Wide(lib.dsn), uid = Wide("bob"), pwd = Wide("a;b");
            rc = SQLConnectW(c.hdbc, dsn.data(), SQL_NTS, uid.data(), SQL_NTS, pwd.data(), SQL_NTS);
        } else {
            rc = SQLConnect(c.hdbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(lib.dsn)), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("bob")), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("a;b")), SQL_NTS);
        }
        std::string diag = DiagText(SQL_HANDLE_DBC, c.hdbc);
        ASSERT_EQ(rc, SQL_SUCCESS) << lib.driver << ":\n" << diag;
        EXPECT_TRUE(std::filesystem::exists(lib.dsnDb));
        EXPECT_EQ(SQLDisconnect(c.hdbc), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
    }
}

// The wide completed string is counted in characters, beyond 32,767 bytes of UTF-8 too:
// 16,000 'é' are 32,000 bytes.
TEST(DriverManagerConnect, WideOutStringIsCountedInCharacters) {
    const Library lib = Libraries()[1];
    std::vector<SQLWCHAR> in = Wide(std::string("DSN=") + lib.dsn + ";PWD=x;UID=");
    in.pop_back();
    in.insert(in.end(), 16000, SQLWCHAR{0xE9});
    in.push_back(0);
    const std::string tail = ";PWD=x;CONNSTR=" + lib.dsnDb;
    const auto chars = static_cast<SQLSMALLINT>(std::string("DSN=VarnoW;UID=").size() + 16000 + tail.size());
    for (SQLSMALLINT size : {SQLSMALLINT(30000), SQLSMALLINT(0)}) {
        Dbc c;
        std::vector<SQLWCHAR> buf(30000, 0xFFFF);
        SQLSMALLINT outLen = -1;
        SQLRETURN rc = SQLDriverConnectW(c.hdbc, nullptr, in.data(), SQL_NTS, size != 0 ? buf.data() : nullptr, size,
                                         &outLen, SQL_DRIVER_NOPROMPT);
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << DiagText(SQL_HANDLE_DBC, c.hdbc);
        EXPECT_EQ(rc, SQL_SUCCESS) << size;
        EXPECT_EQ(outLen, chars) << size;
        if (size != 0) {
            EXPECT_EQ(buf[15 + 15999], 0xE9);
            EXPECT_EQ(Narrow(buf.data() + 15 + 16000, 30000), tail);
        }
        EXPECT_EQ(SQLDisconnect(c.hdbc), SQL_SUCCESS);
    }
}

// No login dialog can be shown: without a window (completion asked for, the Driver
// Manager lets it through), or with one (the stand-in has nothing to draw on).
TEST(DriverManagerConnect, DialogThatCannotBeShownFails) {
    const struct {
        SQLHWND window;
        SQLUSMALLINT completion;
    } cases[] = {{nullptr, SQL_DRIVER_COMPLETE}, {reinterpret_cast<SQLHWND>(1), SQL_DRIVER_PROMPT}};
    for (const Library& lib : Libraries()) {
        for (const auto& c : cases) {
            Dbc dbc;
            SQLRETURN rc;
            SQLSMALLINT outLen = 0;
            std::string in = std::string("DRIVER={") + lib.driver + "};DATABASENAME=" + Unique("never", "db");
            if (lib.wide) {
                auto w = Wide(in);
                SQLWCHAR buf[512];
                rc = SQLDriverConnectW(dbc.hdbc, c.window, w.data(), SQL_NTS, buf, 512, &outLen, c.completion);
            } else {
                SQLCHAR buf[512];
                rc = SQLDriverConnect(dbc.hdbc, c.window, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, buf,
                                      sizeof buf, &outLen, c.completion);
            }
            EXPECT_EQ(rc, SQL_ERROR) << lib.driver;
            std::string diag = DiagText(SQL_HANDLE_DBC, dbc.hdbc);
            EXPECT_NE(diag.find("IM008"), std::string::npos) << lib.driver << " " << c.completion << ":\n" << diag;
            EXPECT_NE(diag.find("Dialog failed"), std::string::npos) << diag;
            EXPECT_FALSE(std::filesystem::exists(Unique("never", "db")));
        }
    }
}

}  // namespace

namespace {

// A statement of a connection to a database of this process's own that holds t(a, b):
// its first connect runs the initial SQL that creates the table.
struct Statement {
    Dbc c;
    SQLHSTMT hstmt = SQL_NULL_HSTMT;
    std::string db;
    explicit Statement(const Library& lib, SQLULEN odbcVersion = SQL_OV_ODBC3) {
        if (odbcVersion != SQL_OV_ODBC3) {
            SQLFreeHandle(SQL_HANDLE_DBC, c.hdbc);
            SQLSetEnvAttr(c.env.henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(odbcVersion), 0);
            SQLAllocHandle(SQL_HANDLE_DBC, c.env.henv, &c.hdbc);
        }
        db = Unique(lib.wide ? "stmt-w" : "stmt-a", "db");
        std::string sql = Unique(lib.wide ? "stmt-w" : "stmt-a", "sql");
        std::filesystem::remove(db);
        WriteFileAtomically(sql, "create table t (a integer, b varchar(20))");
        std::string out;
        SQLRETURN rc = DriverConnect(lib, c.hdbc, std::string("DRIVER={") + lib.driver + "};DATABASENAME=" + db +
                                                      ";INITSQL=" + sql, &out);
        std::filesystem::remove(sql);
        EXPECT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, c.hdbc, &hstmt), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
    }
    ~Statement() {
        SQLFreeHandle(SQL_HANDLE_STMT, hstmt);
        SQLDisconnect(c.hdbc);
        std::filesystem::remove(db);
    }
};

SQLRETURN Prepare(const Library& lib, SQLHSTMT h, const std::string& text) {
    if (lib.wide)
        return SQLPrepareW(h, Wide(text).data(), SQL_NTS);
    return SQLPrepare(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
}

}  // namespace

TEST(DriverManagerStatement, PreparedSelectAndInsertAreDescribed) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        ASSERT_EQ(Prepare(lib, s.hstmt, "select a, b, a * 2 from t"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, s.hstmt);
        SQLSMALLINT n = -1;
        EXPECT_EQ(SQLNumResultCols(s.hstmt, &n), SQL_SUCCESS);
        EXPECT_EQ(n, 3);
        ASSERT_EQ(Prepare(lib, s.hstmt, "insert into t (a, b) values (?, ?)"), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, s.hstmt);
        EXPECT_EQ(SQLNumParams(s.hstmt, &n), SQL_SUCCESS);
        EXPECT_EQ(n, 2);
        EXPECT_EQ(SQLNumResultCols(s.hstmt, &n), SQL_SUCCESS);
        EXPECT_EQ(n, 0);
    }
}

// The parameter-describe analyser through the Driver Manager: a marker takes the type of
// the column it is compared with or inserted into, not the VARCHAR the server reports.
TEST(DriverManagerStatement, DescribeParamAnswersTheMarkersColumns) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        const struct {
            const char* sql;
            std::vector<std::vector<long>> params;  // SQL type, column size, decimal digits
        } cases[] = {
            {"SELECT * FROM t WHERE a = ?", {{SQL_INTEGER, 10, 0}}},
            {"INSERT INTO t (a, b) VALUES (?, ?)", {{SQL_INTEGER, 10, 0}, {SQL_VARCHAR, 20, 0}}},
            {"UPDATE t SET b = ? WHERE a BETWEEN ? AND ?", {{SQL_VARCHAR, 20, 0}, {SQL_INTEGER, 10, 0}, {SQL_INTEGER, 10, 0}}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.sql);
            ASSERT_EQ(Prepare(lib, s.hstmt, c.sql), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, s.hstmt);
            for (size_t i = 0; i < c.params.size(); ++i) {
                SQLSMALLINT type = 0, digits = -1, nullable = -1;
                SQLULEN size = 0;
                ASSERT_EQ(SQLDescribeParam(s.hstmt, static_cast<SQLUSMALLINT>(i + 1), &type, &size, &digits, &nullable),
                          SQL_SUCCESS)
                    << DiagText(SQL_HANDLE_STMT, s.hstmt);
                long wantType = c.params[i][0];
                if (lib.wide && wantType == SQL_VARCHAR && type == SQL_WVARCHAR)
                    wantType = SQL_WVARCHAR;
                EXPECT_EQ(std::vector<long>({type, static_cast<long>(size), digits}),
                          std::vector<long>({wantType, c.params[i][1], c.params[i][2]}))
                    << "parameter " << i + 1;
            }
        }
    }
}

TEST(DriverManagerStatement, NativeSqlShowsTheEscapeTranslation) {
    const std::string in = "select {fn ucase(b)} from t";
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        std::string out;
        SQLINTEGER len = 0;
        SQLRETURN rc;
        if (lib.wide) {
            SQLWCHAR buf[256] = {};
            rc = SQLNativeSqlW(s.c.hdbc, Wide(in).data(), SQL_NTS, buf, 256, &len);
            out = Narrow(buf, 256);
        } else {
            SQLCHAR buf[256] = {};
            rc = SQLNativeSql(s.c.hdbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(in.c_str())), SQL_NTS, buf,
                              sizeof buf, &len);
            out = reinterpret_cast<char*>(buf);
        }
        ASSERT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, s.c.hdbc);
        EXPECT_EQ(out.find('{'), std::string::npos) << out;
        EXPECT_NE(out.find("(b)"), std::string::npos) << out;
        EXPECT_EQ(len, static_cast<SQLINTEGER>(out.size()));
    }
}

TEST(DriverManagerStatement, CursorNamesRoundTrip) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        std::string name;
        SQLSMALLINT len = 0;
        if (lib.wide) {
            ASSERT_EQ(SQLSetCursorNameW(s.hstmt, Wide("orders_cur").data(), SQL_NTS), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, s.hstmt);
            SQLWCHAR buf[64] = {};
            EXPECT_EQ(SQLGetCursorNameW(s.hstmt, buf, 64, &len), SQL_SUCCESS);
            name = Narrow(buf, 64);
        } else {
            ASSERT_EQ(SQLSetCursorName(s.hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("orders_cur")), SQL_NTS),
                      SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, s.hstmt);
            SQLCHAR buf[64] = {};
            EXPECT_EQ(SQLGetCursorName(s.hstmt, buf, sizeof buf, &len), SQL_SUCCESS);
            name = reinterpret_cast<char*>(buf);
        }
        EXPECT_EQ(name, "orders_cur");
        EXPECT_EQ(len, 10);
    }
}

// The Driver Manager reads the statement's four descriptor handles into 8-byte variables
// right after allocating it; each must still reach the driver as a descriptor (here through
// SQLGetDescField, which a cut or garbled handle turns into SQL_INVALID_HANDLE). An
// attribute set through it reads back whole.
TEST(DriverManagerStatement, DescriptorHandlesAndRowArraySize) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        std::set<SQLHDESC> handles;
        for (SQLINTEGER attr : {SQL_ATTR_APP_ROW_DESC, SQL_ATTR_APP_PARAM_DESC, SQL_ATTR_IMP_ROW_DESC,
                                SQL_ATTR_IMP_PARAM_DESC}) {
            SQLHDESC desc = SQL_NULL_HDESC;
            ASSERT_EQ(SQLGetStmtAttr(s.hstmt, attr, &desc, SQL_IS_POINTER, nullptr), SQL_SUCCESS)
                << attr << DiagText(SQL_HANDLE_STMT, s.hstmt);
            ASSERT_NE(desc, nullptr) << attr;
            handles.insert(desc);
            SQLSMALLINT count = -1;
            EXPECT_NE(SQLGetDescField(desc, 0, SQL_DESC_COUNT, &count, SQL_IS_SMALLINT, nullptr), SQL_INVALID_HANDLE)
                << attr;
        }
        EXPECT_EQ(handles.size(), 4u);

        ASSERT_EQ(SQLSetStmtAttr(s.hstmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(20), 0), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, s.hstmt);
        SQLULEN size = ~SQLULEN{0};
        ASSERT_EQ(SQLGetStmtAttr(s.hstmt, SQL_ATTR_ROW_ARRAY_SIZE, &size, 0, nullptr), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, s.hstmt);
        EXPECT_EQ(size, 20u);
    }
}

// Enlistment in a distributed transaction: the Progress layer has no XA operations, so
// the driver refuses before asking any coordinator, in ODBC 2 and ODBC 3 environments alike.
TEST(DriverManagerConnAttr, EnlistmentIsRefusedWithoutXa) {
    for (const Library& lib : Libraries()) {
        for (SQLULEN version : {SQLULEN{SQL_OV_ODBC2}, SQLULEN{SQL_OV_ODBC3}}) {
            SCOPED_TRACE(std::string(lib.driver) + " ODBC " + std::to_string(version));
            Dbc c;
            ASSERT_EQ(SQLFreeHandle(SQL_HANDLE_DBC, c.hdbc), SQL_SUCCESS);
            ASSERT_EQ(SQLSetEnvAttr(c.env.henv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(version), 0),
                      SQL_SUCCESS);
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, c.env.henv, &c.hdbc), SQL_SUCCESS);
            std::string out;
            ASSERT_EQ(DriverConnect(lib, c.hdbc, std::string("DSN=") + lib.dsn, &out), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_DBC, c.hdbc);
            int transaction = 0;  // never looked at: the refusal comes first
            SQLRETURN rc = lib.wide ? SQLSetConnectAttrW(c.hdbc, SQL_ATTR_ENLIST_IN_DTC, &transaction, SQL_IS_POINTER)
                                    : SQLSetConnectAttr(c.hdbc, SQL_ATTR_ENLIST_IN_DTC, &transaction, SQL_IS_POINTER);
            EXPECT_EQ(rc, SQL_ERROR);
            EXPECT_NE(DiagText(SQL_HANDLE_DBC, c.hdbc).find("IM001"), std::string::npos)
                << DiagText(SQL_HANDLE_DBC, c.hdbc);
            EXPECT_EQ(SQLDisconnect(c.hdbc), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
        }
    }
}

// Connection attributes through unixODBC, which hands autocommit, access mode and
// isolation set before the connect to the driver before it connects: they hold on the
// connection. Strings come back in the library's width with their full length.
TEST(DriverManagerConnAttr, SetBeforeAndAfterConnectAndReadBack) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Dbc c;
        auto set = [&](SQLINTEGER attr, SQLULEN v) {
            SQLPOINTER p = reinterpret_cast<SQLPOINTER>(v);
            return lib.wide ? SQLSetConnectAttrW(c.hdbc, attr, p, 0) : SQLSetConnectAttr(c.hdbc, attr, p, 0);
        };
        auto get = [&](SQLINTEGER attr) {
            SQLUINTEGER v = 0xDEADBEEF;
            SQLRETURN rc = lib.wide ? SQLGetConnectAttrW(c.hdbc, attr, &v, 0, nullptr)
                                    : SQLGetConnectAttr(c.hdbc, attr, &v, 0, nullptr);
            EXPECT_EQ(rc, SQL_SUCCESS) << attr << DiagText(SQL_HANDLE_DBC, c.hdbc);
            return v;
        };
        ASSERT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
        ASSERT_EQ(set(SQL_ATTR_TXN_ISOLATION, SQL_TXN_SERIALIZABLE), SQL_SUCCESS);
        std::string out;
        ASSERT_EQ(DriverConnect(lib, c.hdbc, std::string("DSN=") + lib.dsn, &out), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_DBC, c.hdbc);
        EXPECT_EQ(get(SQL_ATTR_AUTOCOMMIT), SQLUINTEGER{SQL_AUTOCOMMIT_OFF});
        EXPECT_EQ(get(SQL_ATTR_TXN_ISOLATION), SQLUINTEGER{SQL_TXN_SERIALIZABLE});
        EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, c.hdbc, SQL_COMMIT), SQL_SUCCESS);
        ASSERT_EQ(set(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
        EXPECT_EQ(get(SQL_ATTR_AUTOCOMMIT), SQLUINTEGER{SQL_AUTOCOMMIT_ON});
        EXPECT_EQ(get(SQL_ATTR_LOGIN_TIMEOUT), 120u);

        // The current catalog, cut to a 4-byte buffer: warned, with the full length.
        SQLINTEGER len = 0;
        SQLRETURN rc;
        if (lib.wide) {
            auto cat = Wide("sales");
            ASSERT_EQ(SQLSetConnectAttrW(c.hdbc, SQL_ATTR_CURRENT_CATALOG, cat.data(), SQL_NTS), SQL_SUCCESS);
            SQLWCHAR buf[2] = {0xFFFF, 0xFFFF};
            rc = SQLGetConnectAttrW(c.hdbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len);
            EXPECT_EQ(Narrow(buf, 2), "s");
            EXPECT_EQ(len, 10);
        } else {
            ASSERT_EQ(SQLSetConnectAttr(c.hdbc, SQL_ATTR_CURRENT_CATALOG,
                                        const_cast<char*>("sales"), SQL_NTS),
                      SQL_SUCCESS);
            char buf[4] = {};
            rc = SQLGetConnectAttr(c.hdbc, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len);
            EXPECT_STREQ(buf, "sal");
            EXPECT_EQ(len, 5);
        }
        EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO);
        EXPECT_NE(DiagText(SQL_HANDLE_DBC, c.hdbc).find("01004"), std::string::npos);
        EXPECT_EQ(SQLDisconnect(c.hdbc), SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, c.hdbc);
    }
}

namespace {

// Driver information and the type catalog through unixODBC, in each library's width.
TEST(DriverManagerInfo, GetInfoAndTheTypeCatalog) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        auto text = [&](SQLUSMALLINT type) -> std::string {
            SQLSMALLINT len = -1;
            std::string out;
            if (lib.wide) {
                SQLWCHAR buf[128] = {};
                EXPECT_EQ(SQLGetInfoW(s.c.hdbc, type, buf, sizeof buf, &len), SQL_SUCCESS)
                    << DiagText(SQL_HANDLE_DBC, s.c.hdbc);
                out = Narrow(buf, 128);
                EXPECT_EQ(len, static_cast<SQLSMALLINT>(2 * out.size())) << type;   // bytes
            } else {
                SQLCHAR buf[128] = {};
                EXPECT_EQ(SQLGetInfo(s.c.hdbc, type, buf, sizeof buf, &len), SQL_SUCCESS)
                    << DiagText(SQL_HANDLE_DBC, s.c.hdbc);
                out = reinterpret_cast<char*>(buf);
                EXPECT_EQ(len, static_cast<SQLSMALLINT>(out.size())) << type;
            }
            return out;
        };
        auto number = [&](SQLUSMALLINT type, SQLSMALLINT size) -> uint32_t {
            uint32_t v = 0xABABABAB;
            SQLSMALLINT len = -1;
            SQLRETURN rc = lib.wide ? SQLGetInfoW(s.c.hdbc, type, &v, sizeof v, &len)
                                    : SQLGetInfo(s.c.hdbc, type, &v, sizeof v, &len);
            EXPECT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_DBC, s.c.hdbc);
            EXPECT_EQ(len, size) << type;
            return size == 2 ? (v & 0xFFFF) : v;
        };
        EXPECT_EQ(text(SQL_DRIVER_NAME), lib.wide ? "libvarnodw.so" : "libvarnod.so");
        EXPECT_EQ(text(SQL_DBMS_NAME), "PROGRESS");
        EXPECT_EQ(text(SQL_DRIVER_ODBC_VER), "03.50");
        EXPECT_EQ(text(SQL_IDENTIFIER_QUOTE_CHAR), "\"");
        EXPECT_EQ(number(SQL_MAX_COLUMN_NAME_LEN, 2), 32u);
        EXPECT_EQ(number(SQL_TXN_CAPABLE, 2), static_cast<uint32_t>(SQL_TC_ALL));
        EXPECT_EQ(number(SQL_CONVERT_TIMESTAMP, 4), lib.wide ? 0xE38301u : 0x38301u);

        // The catalog is the statement's result: 19 columns.
        SQLRETURN rc = lib.wide ? SQLGetTypeInfoW(s.hstmt, SQL_ALL_TYPES) : SQLGetTypeInfo(s.hstmt, SQL_ALL_TYPES);
        ASSERT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, s.hstmt);
        SQLSMALLINT cols = 0;
        EXPECT_EQ(SQLNumResultCols(s.hstmt, &cols), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, s.hstmt);
        EXPECT_EQ(cols, 19);
        EXPECT_EQ(SQLFreeStmt(s.hstmt, SQL_CLOSE), SQL_SUCCESS);
    }
}

}  // namespace

namespace {

SQLRETURN ExecDirect(const Library& lib, SQLHSTMT h, const std::string& text) {
    if (lib.wide)
        return SQLExecDirectW(h, Wide(text).data(), SQL_NTS);
    return SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())), SQL_NTS);
}

// The rows a statement without result touches, as SQLRowCount reports them; an update or
// delete that touches none answers SQL_NO_DATA (the connections here are ODBC 3).
SQLLEN Touched(const Library& lib, SQLHSTMT h, const std::string& text) {
    SQLFreeStmt(h, SQL_RESET_PARAMS);
    SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(h, SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0);
    SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    const SQLRETURN rc = ExecDirect(lib, h, text);
    if (rc != SQL_SUCCESS && rc != SQL_NO_DATA) {
        ADD_FAILURE() << text << ": " << DiagText(SQL_HANDLE_STMT, h);
        return -1;
    }
    SQLLEN n = -1;
    SQLRowCount(h, &n);
    EXPECT_EQ(rc == SQL_NO_DATA, n == 0 && text.rfind("create", 0) != 0) << text;
    return n;
}

}  // namespace

namespace {

// The first record's SQLSTATE of a statement.
std::string FirstState(SQLHSTMT h) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR msg[512];
    SQLSMALLINT len = 0;
    SQLGetDiagRec(SQL_HANDLE_STMT, h, 1, state, &native, msg, sizeof msg, &len);
    return reinterpret_cast<char*>(state);
}

}  // namespace

// The states an application sees for the faults whose names ODBC 3 changed in one
// situation only, through unixODBC, both libraries, ODBC 2 and ODBC 3 applications: every
// numeric overflow stays 22003, a second piece of a fixed-size value is HY019 (22003 in
// ODBC 2), describing a statement without result columns 07005 (24000), fewer bound
// parameters than markers 07002 (07001); text that is no number is 22018 (22005).
TEST(DriverManagerDiag, StatesOfEachSituationInBothVersions) {
    for (const Library& lib : Libraries()) {
        for (SQLULEN version : {SQLULEN{SQL_OV_ODBC2}, SQLULEN{SQL_OV_ODBC3}}) {
            const bool v3 = version == SQL_OV_ODBC3;
            SCOPED_TRACE(std::string(lib.driver) + (v3 ? " ODBC 3" : " ODBC 2"));
            Statement s(lib, version);
            SQLHSTMT h = s.hstmt;
            ASSERT_EQ(ExecDirect(lib, h, "insert into t (a, b) values (300, 'abc')"), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, h);
            std::vector<std::pair<std::string, std::string>> seen;  // situation, state
            auto note = [&](const char* what) { seen.emplace_back(what, FirstState(h)); };

            ASSERT_EQ(ExecDirect(lib, h, "select a, b from t"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
            ASSERT_EQ(SQLFetch(h), SQL_SUCCESS);
            signed char tiny = 0;
            SQLLEN ind = 0;
            EXPECT_EQ(SQLGetData(h, 1, SQL_C_STINYINT, &tiny, 1, &ind), SQL_ERROR);
            note("300 into SQL_C_STINYINT");
            int32_t number = 0;
            EXPECT_EQ(SQLGetData(h, 2, SQL_C_SLONG, &number, 0, &ind), SQL_ERROR);
            note("'abc' into SQL_C_SLONG");
            SQLCloseCursor(h);

            EXPECT_EQ(ExecDirect(lib, h, "insert into t (a) values (3000000000)"), SQL_ERROR);
            note("3000000000 into INTEGER");
            ASSERT_EQ(Prepare(lib, h, "insert into t (a, b) values (?, ?)"), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, h);
            char abc[] = "abc";
            SQLLEN nts = SQL_NTS;
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 10, 0, abc, 4, &nts),
                      SQL_SUCCESS);
            ASSERT_EQ(SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, abc, 4, &nts),
                      SQL_SUCCESS);
            EXPECT_EQ(SQLExecute(h), SQL_ERROR);
            note("'abc' into INTEGER");
            int64_t big = 3000000000;
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_INTEGER, 10, 0, &big, 0, nullptr),
                      SQL_SUCCESS);
            EXPECT_EQ(SQLExecute(h), SQL_ERROR);
            note("3000000000 parameter into INTEGER");

            SQLCHAR name[32];
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            EXPECT_EQ(SQLDescribeCol(h, 1, name, sizeof name, &nameLen, &type, &size, &digits, &nullable), SQL_ERROR);
            note("describing an insert");

            int32_t one = 1;
            SQLLEN dae = SQL_DATA_AT_EXEC;
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &one, 0, &dae),
                      SQL_SUCCESS);
            ASSERT_EQ(SQLExecute(h), SQL_NEED_DATA) << DiagText(SQL_HANDLE_STMT, h);
            SQLPOINTER token = nullptr;
            ASSERT_EQ(SQLParamData(h, &token), SQL_NEED_DATA);
            EXPECT_EQ(SQLPutData(h, &one, 0), SQL_SUCCESS);
            EXPECT_EQ(SQLPutData(h, &one, 0), SQL_ERROR);
            note("a second piece of an integer");
            SQLCancel(h);

            SQLFreeStmt(h, SQL_RESET_PARAMS);
            ASSERT_EQ(Prepare(lib, h, "insert into t (a, b) values (?, ?)"), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, h);
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &one, 0, nullptr),
                      SQL_SUCCESS);
            EXPECT_EQ(SQLExecute(h), SQL_ERROR);
            note("one of two parameters bound");

            const std::vector<std::pair<std::string, std::string>> want = {
                {"300 into SQL_C_STINYINT", "22003"},
                {"'abc' into SQL_C_SLONG", v3 ? "22018" : "22005"},
                {"3000000000 into INTEGER", "22003"},
                {"'abc' into INTEGER", v3 ? "22018" : "22005"},
                {"3000000000 parameter into INTEGER", "22003"},
                {"describing an insert", v3 ? "07005" : "24000"},
                {"a second piece of an integer", v3 ? "HY019" : "22003"},
                {"one of two parameters bound", v3 ? "07002" : "07001"},
            };
            EXPECT_EQ(seen, want);
        }
    }
}

// Counts through unixODBC, both libraries, ODBC 2 and ODBC 3 applications: a searched
// INSERT, UPDATE or DELETE that touches no row answers SQL_NO_DATA to ODBC 3 (SQL_SUCCESS
// to ODBC 2) and counts 0, over every set of a parameter array and at the end of data at
// execution too; the diagnostics header counts what SQLRowCount counts; a query's count
// is unknown (-1).
TEST(DriverManagerStatement, RowCountsAndStatementsThatTouchNoRow) {
    for (const Library& lib : Libraries()) {
        for (SQLULEN version : {SQLULEN{SQL_OV_ODBC2}, SQLULEN{SQL_OV_ODBC3}}) {
            const bool v3 = version == SQL_OV_ODBC3;
            SCOPED_TRACE(std::string(lib.driver) + (v3 ? " ODBC 3" : " ODBC 2"));
            Statement s(lib, version);
            SQLHSTMT h = s.hstmt;
            const SQLRETURN none = v3 ? SQL_NO_DATA : SQL_SUCCESS;
            auto counts = [&](SQLLEN want) {
                SQLLEN n = -7, header = -7;
                EXPECT_EQ(SQLRowCount(h, &n), SQL_SUCCESS);
                EXPECT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, h, 0, SQL_DIAG_ROW_COUNT, &header, 0, nullptr),
                          SQL_SUCCESS);
                EXPECT_EQ(n, want);
                EXPECT_EQ(header, want);
            };
            const struct {
                const char* sql;
                SQLRETURN rc;
                SQLLEN count;
            } cases[] = {
                {"insert into t (a, b) values (1, 'one')", SQL_SUCCESS, 1},
                {"insert into t (a, b) select a + 1, b from t", SQL_SUCCESS, 1},
                {"insert into t (a, b) select a + 10, b from t", SQL_SUCCESS, 2},
                {"update t set b = 'x' where a = 99", none, 0},
                {"delete from t where a = 99", none, 0},
                {"insert into t (a, b) select a, b from t where a = 99", none, 0},
                {"update t set b = 'y' where a < 10 or a = 11", SQL_SUCCESS, 3},
                {"create table u (k integer)", SQL_SUCCESS, 0},
                {"select a from t", SQL_SUCCESS, -1},
            };
            for (const auto& c : cases) {
                SCOPED_TRACE(c.sql);
                EXPECT_EQ(ExecDirect(lib, h, c.sql), c.rc) << DiagText(SQL_HANDLE_STMT, h);
                counts(c.count);
                SQLCloseCursor(h);
            }

            // Two sets, neither touching a row, then two of which one does.
            ASSERT_EQ(Prepare(lib, h, "update t set b = 'z' where a = ?"), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, h);
            int32_t keys[2] = {98, 99};
            SQLULEN processed = 0;
            SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(2), 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, keys, 0, nullptr),
                      SQL_SUCCESS);
            EXPECT_EQ(SQLExecute(h), none) << DiagText(SQL_HANDLE_STMT, h);
            EXPECT_EQ(processed, 2u);
            counts(0);
            keys[1] = 12;
            EXPECT_EQ(SQLExecute(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
            counts(1);
            SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);

            // The value of the key given at execution: the last SQLParamData ends the
            // execution and answers for it.
            SQLLEN dae = SQL_DATA_AT_EXEC;
            keys[0] = 99;
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, keys, 0, &dae),
                      SQL_SUCCESS);
            ASSERT_EQ(SQLExecute(h), SQL_NEED_DATA) << DiagText(SQL_HANDLE_STMT, h);
            SQLPOINTER token = nullptr;
            ASSERT_EQ(SQLParamData(h, &token), SQL_NEED_DATA);
            EXPECT_EQ(SQLPutData(h, &keys[0], 0), SQL_SUCCESS);
            EXPECT_EQ(SQLParamData(h, &token), none) << DiagText(SQL_HANDLE_STMT, h);
            counts(0);
        }
    }
}

// Parameter arrays through the Driver Manager and the embedded server, with both libraries:
// column-wise sets with an ignored one and a NULL, the operation, status and processed
// arrays; a value given at execution in pieces; and a set failing on a key, the sets
// before it kept by autocommit and undone by a rollback without it. The values are
// checked by the rows that statements touch.
TEST(DriverManagerStatement, ParameterArraysAndDataAtExecution) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLHSTMT h = s.hstmt;
        ASSERT_EQ(Prepare(lib, h, "insert into t (a, b) values (?, ?)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        int32_t a[4] = {1, 2, 3, 4};
        char b[4][8] = {"one", "", "three", "four"};
        SQLLEN bLen[4] = {SQL_NTS, SQL_NULL_DATA, SQL_NTS, SQL_NTS};
        SQLUSMALLINT ops[4] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED};
        SQLUSMALLINT status[4] = {};
        SQLULEN processed = 0;
        SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(4), 0);
        SQLSetStmtAttr(h, SQL_ATTR_PARAM_OPERATION_PTR, ops, 0);
        SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status, 0);
        SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
        ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, a, 0, nullptr), SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, b, 8, bLen), SQL_SUCCESS);
        ASSERT_EQ(SQLExecute(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        EXPECT_EQ(processed, 3u);
        EXPECT_EQ(std::vector<int>(status, status + 4),
                  (std::vector<int>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED, SQL_PARAM_SUCCESS}));
        SQLLEN rows = 0;
        EXPECT_EQ(SQLRowCount(h, &rows), SQL_SUCCESS);
        EXPECT_EQ(rows, 3);

        // The same prepared statement again, one set, its text given at execution.
        SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
        SQLLEN dae = SQL_LEN_DATA_AT_EXEC(0);
        a[0] = 5;
        ASSERT_EQ(SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, b[0], 0, &dae), SQL_SUCCESS);
        ASSERT_EQ(SQLExecute(h), SQL_NEED_DATA) << DiagText(SQL_HANDLE_STMT, h);
        SQLPOINTER token = nullptr;
        ASSERT_EQ(SQLParamData(h, &token), SQL_NEED_DATA);
        EXPECT_EQ(token, b[0]);
        EXPECT_EQ(SQLPutData(h, const_cast<char*>("pie"), 3), SQL_SUCCESS);
        EXPECT_EQ(SQLPutData(h, const_cast<char*>("ces"), SQL_NTS), SQL_SUCCESS);
        EXPECT_EQ(SQLParamData(h, &token), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);

        EXPECT_EQ(Touched(lib, h, "update t set a = a where b = 'pieces' and a = 5"), 1);
        EXPECT_EQ(Touched(lib, h, "update t set a = a where b is null and a = 2"), 1);
        EXPECT_EQ(Touched(lib, h, "update t set a = a where a = 3"), 0);
        EXPECT_EQ(Touched(lib, h, "update t set a = a where b = 'four'"), 1);

        // A key violation in the third set: the first two stay in autocommit; without
        // autocommit a rollback takes them back.
        ASSERT_EQ(Touched(lib, h, "create table u (k integer primary key)"), 0);
        for (bool autocommit : {true, false}) {
            SCOPED_TRACE(autocommit);
            SQLSetConnectAttr(s.c.hdbc, SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0);
            ASSERT_EQ(Prepare(lib, h, "insert into u values (?)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
            int32_t k[4] = {autocommit ? 1 : 11, autocommit ? 2 : 12, 1, 13};
            SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(4), 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAM_STATUS_PTR, status, 0);
            SQLSetStmtAttr(h, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
            ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, k, 0, nullptr),
                      SQL_SUCCESS);
            EXPECT_EQ(SQLExecute(h), SQL_ERROR);
            EXPECT_NE(DiagText(SQL_HANDLE_STMT, h).find("23000"), std::string::npos) << DiagText(SQL_HANDLE_STMT, h);
            EXPECT_EQ(processed, 3u);
            EXPECT_EQ(std::vector<int>(status, status + 4),
                      (std::vector<int>{SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS, SQL_PARAM_ERROR, SQL_PARAM_UNUSED}));
            if (!autocommit) {
                EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, s.c.hdbc, SQL_ROLLBACK), SQL_SUCCESS);
            }
            EXPECT_EQ(Touched(lib, h, autocommit ? "update u set k = k where k < 10" : "update u set k = k where k > 10"),
                      autocommit ? 2 : 0);
        }
        SQLSetConnectAttr(s.c.hdbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    }
}

// A prepared insert executed again and again with its buffers bound once, as bulk loaders
// do: each execution sends what the buffers hold then, a shorter text with nothing left of
// a longer one before it and a NULL where a value was; a value too long for its column
// fails (22001) and the next execution runs as if nothing had happened.
TEST(DriverManagerStatement, PreparedInsertExecutedAgainSendsTheCurrentValues) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLHSTMT h = s.hstmt;
        ASSERT_EQ(Prepare(lib, h, "insert into t (a, b) values (?, ?)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        int32_t a[2] = {};
        char b[2][24] = {};
        SQLLEN bLen[2] = {SQL_NTS, SQL_NTS};
        SQLSetStmtAttr(h, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(2), 0);
        ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, a, 0, nullptr), SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, b, 24, bLen), SQL_SUCCESS);
        struct Sets {
            int32_t a0, a1;
            const char *b0, *b1;
            SQLLEN len1;
            SQLRETURN rc;
        } runs[] = {
            {1, 2, "abcd", "x", SQL_NTS, SQL_SUCCESS},
            {3, 4, "y", "wxyz", SQL_NULL_DATA, SQL_SUCCESS},
            {5, 6, "123456789012345678901", "z", SQL_NTS, SQL_ERROR},
            {7, 8, "fine", "zz", SQL_NTS, SQL_SUCCESS},
            {9, 10, "a", "b", SQL_NTS, SQL_SUCCESS},
        };
        for (const Sets& r : runs) {
            SCOPED_TRACE(r.a0);
            a[0] = r.a0;
            a[1] = r.a1;
            std::strcpy(b[0], r.b0);
            std::strcpy(b[1], r.b1);
            bLen[1] = r.len1;
            EXPECT_EQ(SQLExecute(h), r.rc) << DiagText(SQL_HANDLE_STMT, h);
            if (r.rc == SQL_ERROR) {
                EXPECT_NE(DiagText(SQL_HANDLE_STMT, h).find("22001"), std::string::npos) << DiagText(SQL_HANDLE_STMT, h);
            }
        }
        EXPECT_EQ(Touched(lib, h, "update t set a = a where a = 1 and b = 'abcd' or a = 2 and b = 'x'"), 2);
        EXPECT_EQ(Touched(lib, h, "update t set a = a where a = 3 and b = 'y' or a = 4 and b is null"), 2);
        EXPECT_EQ(Touched(lib, h, "update t set a = a where a = 7 and b = 'fine' or a = 8 and b = 'zz'"), 2);
        EXPECT_EQ(Touched(lib, h, "update t set a = a where a = 9 and b = 'a' or a = 10 and b = 'b'"), 2);
        EXPECT_EQ(Touched(lib, h, "update t set a = a"), 8);
    }
}

// Fetching through unixODBC in both libraries: a column-wise rowset of two with NULLs,
// statuses and counts; then SQLGetData of one value in pieces, narrow and wide.
TEST(DriverManagerFetch, BoundRowsetsAndGetDataPieces) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        for (const char* row : {"(1, 'one')", "(2, NULL)", "(3, 'three')", "(4, 'four')", "(5, 'five')"}) {
            std::string sql = std::string("insert into t values ") + row;
            ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(s.hstmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS)))
                << DiagText(SQL_HANDLE_STMT, s.hstmt);
        }
        SQLINTEGER a[2] = {};
        SQLLEN aInd[2] = {};
        char b[2][8] = {};
        SQLLEN bInd[2] = {};
        SQLUSMALLINT status[2] = {};
        SQLULEN fetched = 0;
        ASSERT_EQ(SQLSetStmtAttr(s.hstmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(2), 0), SQL_SUCCESS);
        ASSERT_EQ(SQLSetStmtAttr(s.hstmt, SQL_ATTR_ROW_STATUS_PTR, status, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLSetStmtAttr(s.hstmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLBindCol(s.hstmt, 1, SQL_C_SLONG, a, 0, aInd), SQL_SUCCESS);
        ASSERT_EQ(SQLBindCol(s.hstmt, 2, SQL_C_CHAR, b, sizeof b[0], bInd), SQL_SUCCESS);
        char select[] = "select a, b from t order by a";
        ASSERT_EQ(SQLExecDirect(s.hstmt, reinterpret_cast<SQLCHAR*>(select), SQL_NTS), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, s.hstmt);
        ASSERT_EQ(SQLFetch(s.hstmt), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, s.hstmt);
        EXPECT_EQ(fetched, 2u);
        EXPECT_EQ(a[1], 2);
        EXPECT_EQ(std::string(b[0]), "one");
        EXPECT_EQ(bInd[1], SQL_NULL_DATA);
        ASSERT_EQ(SQLFetch(s.hstmt), SQL_SUCCESS);
        EXPECT_EQ(std::string(b[0]) + "," + b[1], "three,four");
        ASSERT_EQ(SQLFetch(s.hstmt), SQL_SUCCESS);
        EXPECT_EQ(fetched, 1u);
        EXPECT_EQ(a[0], 5);
        EXPECT_EQ(status[1], SQL_ROW_NOROW);
        EXPECT_EQ(SQLFetch(s.hstmt), SQL_NO_DATA);
        ASSERT_EQ(SQLFreeStmt(s.hstmt, SQL_CLOSE), SQL_SUCCESS);
        ASSERT_EQ(SQLFreeStmt(s.hstmt, SQL_UNBIND), SQL_SUCCESS);
        ASSERT_EQ(SQLSetStmtAttr(s.hstmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0), SQL_SUCCESS);

        char one[] = "select b, b from t where a = 3";
        ASSERT_EQ(SQLExecDirect(s.hstmt, reinterpret_cast<SQLCHAR*>(one), SQL_NTS), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(s.hstmt), SQL_SUCCESS);
        char piece[3];
        SQLLEN len = 0;
        std::string joined;
        SQLRETURN rc;
        while ((rc = SQLGetData(s.hstmt, 1, SQL_C_CHAR, piece, sizeof piece, &len)) != SQL_NO_DATA) {
            ASSERT_TRUE(SQL_SUCCEEDED(rc)) << DiagText(SQL_HANDLE_STMT, s.hstmt);
            joined += piece;
        }
        EXPECT_EQ(joined, "three");
        SQLWCHAR wpiece[3];
        std::string wide;
        while ((rc = SQLGetData(s.hstmt, 2, SQL_C_WCHAR, wpiece, sizeof wpiece, &len)) != SQL_NO_DATA) {
            ASSERT_TRUE(SQL_SUCCEEDED(rc)) << DiagText(SQL_HANDLE_STMT, s.hstmt);
            wide += Narrow(wpiece, 3);
        }
        EXPECT_EQ(wide, "three");
    }
}

namespace {

// Column col of every row of the statement's result, read as SQL_C_CHAR, but for the names
// of the meta tables' own columns ("_File-Name", ...); the cursor is closed afterwards.
std::vector<std::string> ColumnOfRows(SQLHSTMT h, SQLUSMALLINT col) {
    std::vector<std::string> out;
    while (SQL_SUCCEEDED(SQLFetch(h))) {
        char buf[256] = {};
        SQLLEN len = 0;
        SQLGetData(h, col, SQL_C_CHAR, buf, sizeof buf, &len);
        if (buf[0] != '_')
            out.push_back(len == SQL_NULL_DATA ? "NULL" : buf);
    }
    SQLFreeStmt(h, SQL_CLOSE);
    return out;
}

enum class Catalog { Tables, Columns, Statistics, PrimaryKeys };

// One catalog call in the library's width, for owner PUB and the table (a pattern where the
// call takes one).
SQLRETURN CatalogCall(const Library& lib, SQLHSTMT h, Catalog call, const std::string& table) {
    if (lib.wide) {
        auto owner = Wide("PUB"), name = Wide(table), all = Wide("%"), types = Wide("TABLE,VIEW");
        SQLWCHAR *o = owner.data(), *n = name.data();
        switch (call) {
        case Catalog::Tables: return SQLTablesW(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS, types.data(), SQL_NTS);
        case Catalog::Columns: return SQLColumnsW(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS, all.data(), SQL_NTS);
        case Catalog::Statistics: return SQLStatisticsW(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
        case Catalog::PrimaryKeys: return SQLPrimaryKeysW(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS);
        }
    }
    auto text = [](const char* s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s)); };
    SQLCHAR *o = text("PUB"), *n = text(table.c_str());
    switch (call) {
    case Catalog::Tables: return SQLTables(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS, text("TABLE,VIEW"), SQL_NTS);
    case Catalog::Columns: return SQLColumns(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS, text("%"), SQL_NTS);
    case Catalog::Statistics: return SQLStatistics(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
    case Catalog::PrimaryKeys: return SQLPrimaryKeys(h, nullptr, 0, o, SQL_NTS, n, SQL_NTS);
    }
    return SQL_ERROR;
}

// A view over a dropped table in the database: the catalog calls still answer for the
// whole database, the view listed without columns.
TEST(DriverManagerCatalog, AViewOverADroppedTableBreaksNoCatalogCall) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLHSTMT h = s.hstmt;
        for (const char* sql : {"create table k (id integer primary key, v varchar(5))", "create index kv on k (v)",
                                "create table gone (x integer)", "create view orphan as select x from gone",
                                "drop table gone"})
            ASSERT_EQ(ExecDirect(lib, h, sql), SQL_SUCCESS) << sql << ": " << DiagText(SQL_HANDLE_STMT, h);
        const struct {
            Catalog call;
            const char* table;
            SQLUSMALLINT col;
            std::vector<std::string> rows;
        } cases[] = {
            {Catalog::Tables, "%", 3, {"k", "orphan", "t"}},
            {Catalog::Columns, "%", 4, {"id", "v", "a", "b"}},
            {Catalog::Columns, "orphan", 4, {}},
            {Catalog::Statistics, "k", 6, {"pk_k", "kv"}},
            {Catalog::PrimaryKeys, "k", 4, {"id"}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(static_cast<int>(c.call));
            ASSERT_EQ(CatalogCall(lib, h, c.call, c.table), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
            EXPECT_EQ(ColumnOfRows(h, c.col), c.rows);
        }
    }
}

// Text columns count characters through both libraries: 'á' fits VARCHAR(1), the column
// sizes say 1 and 2, and the values come back whole, CHARACTER(2) padded to two characters.
TEST(DriverManagerFetch, TextColumnsCountCharacters) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLHSTMT h = s.hstmt;
        ASSERT_EQ(ExecDirect(lib, h, "create table u (v varchar(1), c char(2))"), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, h);
        ASSERT_EQ(Prepare(lib, h, "insert into u values (?, ?)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        SQLWCHAR v[3] = {0xE1, 0, 0}, c[2] = {0xF1, 0};   // á, ñ
        SQLLEN nts = SQL_NTS;
        ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, v, sizeof v, &nts),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WCHAR, 2, 0, c, sizeof c, &nts),
                  SQL_SUCCESS);
        EXPECT_EQ(SQLExecute(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        v[1] = 'b';
        EXPECT_EQ(SQLExecute(h), SQL_ERROR);
        EXPECT_EQ(DiagText(SQL_HANDLE_STMT, h).substr(0, 5), "22001") << DiagText(SQL_HANDLE_STMT, h);
        SQLFreeStmt(h, SQL_RESET_PARAMS);

        ASSERT_EQ(ExecDirect(lib, h, "select v, c from u"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        for (SQLUSMALLINT col : {1, 2}) {
            SQLULEN size = 0;
            SQLCHAR name[16];
            SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
            ASSERT_EQ(SQLDescribeCol(h, col, name, sizeof name, &nameLen, &type, &size, &digits, &nullable),
                      SQL_SUCCESS);
            EXPECT_EQ(size, col) << name;
        }
        ASSERT_EQ(SQLFetch(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        SQLWCHAR got[8] = {};
        SQLLEN len = 0;
        ASSERT_EQ(SQLGetData(h, 1, SQL_C_WCHAR, got, sizeof got, &len), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        EXPECT_EQ(std::vector<SQLWCHAR>(got, got + 2), (std::vector<SQLWCHAR>{0xE1, 0}));
        ASSERT_EQ(SQLGetData(h, 2, SQL_C_WCHAR, got, sizeof got, &len), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        EXPECT_EQ(std::vector<SQLWCHAR>(got, got + 3), (std::vector<SQLWCHAR>{0xF1, ' ', 0}));
        SQLFreeStmt(h, SQL_CLOSE);
    }
}

// The Unicode library keeps text as the server's UTF-8 until it is delivered: into UTF-16
// with a pair for the character outside the BMP, which a cut never splits (the next piece
// starts with it); into this process's narrow text, ISO-8859-1 in the C locale, with '?'
// for the characters it lacks, lengths in characters and pieces cut between them; NUMERIC
// and BIGINT as their text. The columns are described as the wide types all along.
TEST(DriverManagerFetch, UnicodeLibraryDeliversUtf8TextInEachForm) {
    const Library lib = Libraries()[1];
    ASSERT_TRUE(lib.wide);
    Statement s(lib);
    SQLHSTMT h = s.hstmt;
    ASSERT_EQ(ExecDirect(lib, h, "create table g (v varchar(12), n numeric(6,2), b bigint)"), SQL_SUCCESS)
        << DiagText(SQL_HANDLE_STMT, h);
    ASSERT_EQ(Prepare(lib, h, "insert into g values (?, 12.5, -9223372036854775808)"), SQL_SUCCESS);
    // 'Größe ☺ 😀': ten units, the last two a pair.
    SQLWCHAR text[] = {'G', 'r', 0xF6, 0xDF, 'e', ' ', 0x263A, ' ', 0xD83D, 0xDE00, 0};
    SQLLEN nts = SQL_NTS;
    ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 12, 0, text, sizeof text, &nts),
              SQL_SUCCESS);
    ASSERT_EQ(SQLExecute(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
    SQLFreeStmt(h, SQL_RESET_PARAMS);

    auto select = [&] {
        SQLFreeStmt(h, SQL_CLOSE);
        ASSERT_EQ(ExecDirect(lib, h, "select v, n, b from g"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        ASSERT_EQ(SQLFetch(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
    };
    select();
    SQLSMALLINT type = 0, digits = 0, nullable = 0, nameLen = 0;
    SQLULEN size = 0;
    SQLWCHAR name[8];
    ASSERT_EQ(SQLDescribeColW(h, 1, name, 8, &nameLen, &type, &size, &digits, &nullable), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_WVARCHAR);
    EXPECT_EQ(size, 12u);

    SQLWCHAR wide[16];
    SQLLEN len = 0;
    EXPECT_EQ(SQLGetData(h, 1, SQL_C_WCHAR, wide, sizeof wide, &len), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
    EXPECT_EQ(len, 20);
    EXPECT_EQ(std::vector<SQLWCHAR>(wide, wide + 11), std::vector<SQLWCHAR>(text, text + 11));
    EXPECT_EQ(SQLGetData(h, 2, SQL_C_WCHAR, wide, sizeof wide, &len), SQL_SUCCESS);
    EXPECT_EQ(std::vector<SQLWCHAR>(wide, wide + 6), (std::vector<SQLWCHAR>{'1', '2', '.', '5', '0', 0}));
    char narrow[24];
    EXPECT_EQ(SQLGetData(h, 3, SQL_C_CHAR, narrow, sizeof narrow, &len), SQL_SUCCESS);
    EXPECT_STREQ(narrow, "-9223372036854775808");

    // Room for nine units: the pair waits for the next piece.
    select();
    EXPECT_EQ(SQLGetData(h, 1, SQL_C_WCHAR, wide, 20, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 20);
    EXPECT_EQ(std::vector<SQLWCHAR>(wide, wide + 8), std::vector<SQLWCHAR>(text, text + 8));
    EXPECT_EQ(wide[8], 0);
    EXPECT_EQ(SQLGetData(h, 1, SQL_C_WCHAR, wide, 20, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(std::vector<SQLWCHAR>(wide, wide + 3), (std::vector<SQLWCHAR>{0xD83D, 0xDE00, 0}));
    EXPECT_EQ(SQLGetData(h, 1, SQL_C_WCHAR, wide, 20, &len), SQL_NO_DATA);

    // ISO-8859-1, whole and in pieces of three characters.
    select();
    EXPECT_EQ(SQLGetData(h, 1, SQL_C_CHAR, narrow, sizeof narrow, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 9);
    EXPECT_STREQ(narrow, "Gr\xF6\xDF" "e ? ?");
    select();
    std::string pieces;
    std::vector<SQLLEN> lengths;
    SQLRETURN rc;
    while ((rc = SQLGetData(h, 1, SQL_C_CHAR, narrow, 4, &len)) != SQL_NO_DATA) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << DiagText(SQL_HANDLE_STMT, h);
        pieces += std::string(narrow) + "|";
        lengths.push_back(len);
    }
    EXPECT_EQ(pieces, "Gr\xF6|\xDF" "e |? ?|");
    EXPECT_EQ(lengths, (std::vector<SQLLEN>{9, 6, 3}));
    SQLFreeStmt(h, SQL_CLOSE);
}

// Every route that unbinds a column leaves its buffers alone on the next fetch: the
// application may have released them. The second column stays bound as the witness that
// the fetch ran.
TEST(DriverManagerFetch, UnboundBuffersAreNeverWritten) {
    enum class Route { NullDataPtr, FreeStmtUnbind, DescCountZero, DescCountBelow, BindColNull };
    const struct {
        Route route;
        const char* name;
    } routes[] = {{Route::NullDataPtr, "SQL_DESC_DATA_PTR null"},
                  {Route::FreeStmtUnbind, "SQLFreeStmt(SQL_UNBIND)"},
                  {Route::DescCountZero, "SQL_DESC_COUNT 0"},
                  {Route::DescCountBelow, "SQL_DESC_COUNT below the column"},
                  {Route::BindColNull, "SQLBindCol with a null buffer"}};
    for (const Library& lib : Libraries()) {
        Statement s(lib);
        char insert[] = "insert into t values (7, 'seven')";
        ASSERT_EQ(SQLExecDirect(s.hstmt, reinterpret_cast<SQLCHAR*>(insert), SQL_NTS), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, s.hstmt);
        for (const auto& r : routes) {
            SCOPED_TRACE(std::string(lib.driver) + ": " + r.name);
            // Column 2 is unbound by the route; column 1 is the witness (bound again after
            // the routes that unbind everything).
            SQLINTEGER a = 0;
            SQLLEN aInd = 0;
            char canary[16];
            std::memset(canary, 0x5A, sizeof canary);
            SQLLEN canaryInd = 0x5A5A;
            ASSERT_EQ(SQLBindCol(s.hstmt, 2, SQL_C_CHAR, canary, sizeof canary, &canaryInd), SQL_SUCCESS);
            ASSERT_EQ(SQLBindCol(s.hstmt, 1, SQL_C_SLONG, &a, 0, &aInd), SQL_SUCCESS);
            SQLHDESC ard = nullptr;
            ASSERT_EQ(SQLGetStmtAttr(s.hstmt, SQL_ATTR_APP_ROW_DESC, &ard, SQL_IS_POINTER, nullptr), SQL_SUCCESS);
            switch (r.route) {
            case Route::NullDataPtr:
                ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_DATA_PTR, nullptr, SQL_IS_POINTER), SQL_SUCCESS)
                    << DiagText(SQL_HANDLE_DESC, ard);
                // The indicator alone would still be written: drop it too.
                ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_INDICATOR_PTR, nullptr, SQL_IS_POINTER), SQL_SUCCESS);
                ASSERT_EQ(SQLSetDescField(ard, 2, SQL_DESC_OCTET_LENGTH_PTR, nullptr, SQL_IS_POINTER), SQL_SUCCESS);
                break;
            case Route::FreeStmtUnbind:
                ASSERT_EQ(SQLFreeStmt(s.hstmt, SQL_UNBIND), SQL_SUCCESS);
                ASSERT_EQ(SQLBindCol(s.hstmt, 1, SQL_C_SLONG, &a, 0, &aInd), SQL_SUCCESS);
                break;
            case Route::DescCountZero:
                ASSERT_EQ(SQLSetDescField(ard, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(0), SQL_IS_SMALLINT),
                          SQL_SUCCESS);
                ASSERT_EQ(SQLBindCol(s.hstmt, 1, SQL_C_SLONG, &a, 0, &aInd), SQL_SUCCESS);
                break;
            case Route::DescCountBelow:
                ASSERT_EQ(SQLSetDescField(ard, 0, SQL_DESC_COUNT, reinterpret_cast<SQLPOINTER>(1), SQL_IS_SMALLINT),
                          SQL_SUCCESS);
                break;
            case Route::BindColNull:
                ASSERT_EQ(SQLBindCol(s.hstmt, 2, SQL_C_CHAR, nullptr, 0, nullptr), SQL_SUCCESS);
                break;
            }
            char select[] = "select a, b from t";
            ASSERT_EQ(SQLExecDirect(s.hstmt, reinterpret_cast<SQLCHAR*>(select), SQL_NTS), SQL_SUCCESS)
                << DiagText(SQL_HANDLE_STMT, s.hstmt);
            ASSERT_EQ(SQLFetch(s.hstmt), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, s.hstmt);
            EXPECT_EQ(a, 7);
            for (char c : canary)
                ASSERT_EQ(c, 0x5A);
            EXPECT_EQ(canaryInd, 0x5A5A);
            ASSERT_EQ(SQLFreeStmt(s.hstmt, SQL_CLOSE), SQL_SUCCESS);
            ASSERT_EQ(SQLFreeStmt(s.hstmt, SQL_UNBIND), SQL_SUCCESS);
        }
    }
}

}  // namespace

// Statements never wear out a connection: the client keeps a bounded cache of compiled
// statements and cursors, and thousands of executions in every mix (direct and prepared,
// queries fetched to their end or closed before it, statements freed, a prepared insert
// kept from the start) all succeed.
TEST(DriverManagerStatement, ThousandsOfExecutionsOnOneConnection) {
    for (const Library& lib : Libraries()) {
        for (bool autocommit : {true, false}) {
            SCOPED_TRACE(std::string(lib.driver) + (autocommit ? " autocommit" : " manual commit"));
            Statement s(lib);
            SQLHDBC dbc = s.c.hdbc;
            SQLHSTMT h = s.hstmt;
            if (!autocommit)
                SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
            SQLHSTMT keptInsert = SQL_NULL_HSTMT, keptSelect = SQL_NULL_HSTMT;
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &keptInsert), SQL_SUCCESS);
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &keptSelect), SQL_SUCCESS);
            ASSERT_EQ(Prepare(lib, keptInsert, "insert into t (a, b) values (?, 'kept')"), SQL_SUCCESS);
            ASSERT_EQ(Prepare(lib, keptSelect, "select count(*) from t"), SQL_SUCCESS);
            int32_t a = 0;
            ASSERT_EQ(SQLBindParameter(keptInsert, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &a, 0, nullptr),
                      SQL_SUCCESS);
            int inserted = 0;
            for (int n = 1; n <= 6000; ++n) {
                SCOPED_TRACE(n);
                SQLRETURN rc = SQL_SUCCESS;
                switch (n % 4) {
                case 0:   // a query fetched to its end, then closed
                    rc = ExecDirect(lib, h, "select a from t");
                    while (rc == SQL_SUCCESS)
                        rc = SQLFetch(h);
                    ASSERT_EQ(rc, SQL_NO_DATA) << DiagText(SQL_HANDLE_STMT, h);
                    rc = SQLFreeStmt(h, SQL_CLOSE);
                    break;
                case 1:   // a query closed before its end
                    rc = ExecDirect(lib, h, "select a, b from t where a >= 0");
                    if (rc == SQL_SUCCESS)
                        rc = SQLCloseCursor(h);
                    break;
                case 2: {   // a statement of its own, freed
                    SQLHSTMT own = SQL_NULL_HSTMT;
                    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &own), SQL_SUCCESS);
                    rc = ExecDirect(lib, own, "insert into t (a, b) values (" + std::to_string(n) + ", 'own')");
                    EXPECT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, own);
                    ++inserted;
                    rc = SQLFreeHandle(SQL_HANDLE_STMT, own);
                    break;
                }
                default:
                    if (n % 200 == 3) {   // the statements prepared at the start
                        a = n;
                        rc = SQLExecute(keptInsert);
                        ++inserted;
                        ASSERT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, keptInsert);
                        ASSERT_EQ(SQLExecute(keptSelect), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, keptSelect);
                        ASSERT_EQ(SQLFetch(keptSelect), SQL_SUCCESS);
                        int32_t count = 0;
                        ASSERT_EQ(SQLGetData(keptSelect, 1, SQL_C_SLONG, &count, 0, nullptr), SQL_SUCCESS);
                        EXPECT_EQ(count, inserted);
                        rc = SQLCloseCursor(keptSelect);
                    } else {
                        rc = Prepare(lib, h, "select b from t where a = " + std::to_string(n));
                        if (rc == SQL_SUCCESS)
                            rc = SQLExecute(h);
                        if (rc == SQL_SUCCESS)
                            rc = SQLFreeStmt(h, SQL_CLOSE);
                    }
                }
                ASSERT_EQ(rc, SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
                if (!autocommit && n % 1000 == 0) {
                    ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);
                }
            }
            if (!autocommit) {
                ASSERT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT), SQL_SUCCESS);
            }
            EXPECT_EQ(Touched(lib, h, "update t set a = a"), inserted);
            SQLFreeHandle(SQL_HANDLE_STMT, keptInsert);
            SQLFreeHandle(SQL_HANDLE_STMT, keptSelect);
        }
    }
}

// The server keeps milliseconds: a timestamp parameter with finer digits is stored cut and
// the execution warns (01S07); a fraction of a second or more is refused (22008).
TEST(DriverManagerStatement, TimestampFractionsTheServerCannotKeepAreReported) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLHSTMT h = s.hstmt;
        ASSERT_EQ(ExecDirect(lib, h, "create table ts (n integer, t timestamp)"), SQL_SUCCESS);
        ASSERT_EQ(Prepare(lib, h, "insert into ts values (?, ?)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        int32_t n = 0;
        SQL_TIMESTAMP_STRUCT t{2024, 1, 2, 3, 4, 5, 0};
        ASSERT_EQ(SQLBindParameter(h, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &n, 0, nullptr), SQL_SUCCESS);
        ASSERT_EQ(SQLBindParameter(h, 2, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 29, 9, &t, 0,
                                   nullptr),
                  SQL_SUCCESS);
        struct Case {
            SQLUINTEGER fraction;
            SQLRETURN rc;
            const char* state;
        } cases[] = {
            {123000000, SQL_SUCCESS, ""},
            {123456789, SQL_SUCCESS_WITH_INFO, "01S07"},
            {999999999, SQL_SUCCESS_WITH_INFO, "01S07"},
            {1000000000, SQL_ERROR, "22008"},  // a field overflow, not a format: 22008 in ODBC 3 too
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.fraction);
            ++n;
            t.fraction = c.fraction;
            EXPECT_EQ(SQLExecute(h), c.rc) << DiagText(SQL_HANDLE_STMT, h);
            std::string diag = DiagText(SQL_HANDLE_STMT, h);
            EXPECT_EQ(diag.substr(0, std::strlen(c.state)), c.state) << diag;
        }
        ASSERT_EQ(ExecDirect(lib, h, "select t from ts order by n"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        for (SQLUINTEGER want : {123000000u, 123000000u, 999000000u}) {
            ASSERT_EQ(SQLFetch(h), SQL_SUCCESS);
            SQL_TIMESTAMP_STRUCT got{};
            ASSERT_EQ(SQLGetData(h, 1, SQL_C_TYPE_TIMESTAMP, &got, sizeof got, nullptr), SQL_SUCCESS);
            EXPECT_EQ(got.fraction, want);
            EXPECT_EQ(got.second, 5);
        }
        EXPECT_EQ(SQLFetch(h), SQL_NO_DATA);
    }
}

// SQLStatistics' ASC_OR_DESC is one character: described so before the first fetch as after.
TEST(DriverManagerCatalog, StatisticsOrderColumnIsOneCharacterBeforeAndAfterTheFetch) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLHSTMT h = s.hstmt;
        ASSERT_EQ(ExecDirect(lib, h, "create index t_a on t (a)"), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
        SQLCHAR table[] = "t";
        ASSERT_EQ(SQLStatistics(h, nullptr, 0, nullptr, 0, table, SQL_NTS, SQL_INDEX_ALL, SQL_QUICK), SQL_SUCCESS)
            << DiagText(SQL_HANDLE_STMT, h);
        for (bool fetched : {false, true}) {
            SCOPED_TRACE(fetched ? "after the fetch" : "before the fetch");
            if (fetched) {
                ASSERT_EQ(SQLFetch(h), SQL_SUCCESS) << DiagText(SQL_HANDLE_STMT, h);
            }
            SQLLEN size = 0, display = 0;
            ASSERT_EQ(SQLColAttribute(h, 10, SQL_DESC_LENGTH, nullptr, 0, nullptr, &size), SQL_SUCCESS);
            ASSERT_EQ(SQLColAttribute(h, 10, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display), SQL_SUCCESS);
            EXPECT_EQ(size, 1);
            EXPECT_EQ(display, 1);
        }
        char order[4] = {};
        SQLLEN len = 0;
        ASSERT_EQ(SQLGetData(h, 10, SQL_C_CHAR, order, sizeof order, &len), SQL_SUCCESS);
        EXPECT_STREQ(order, "A");
    }
}

// Listing the catalogs (catalog "%" alone) is the driver's own refusal, not a server message.
TEST(DriverManagerCatalog, CatalogListIsRefusedByTheDriver) {
    for (const Library& lib : Libraries()) {
        SCOPED_TRACE(lib.driver);
        Statement s(lib);
        SQLCHAR all[] = "%", none[] = "";
        EXPECT_EQ(SQLTables(s.hstmt, all, SQL_NTS, none, 0, none, 0, none, 0), SQL_ERROR);
        std::string diag = DiagText(SQL_HANDLE_STMT, s.hstmt);
        EXPECT_EQ(diag.substr(0, 5), "HYC00") << diag;
        EXPECT_NE(diag.find("[Tessaryn][ODBC][Driver]Driver not capable"), std::string::npos) << diag;
    }
}
