// Odd and hostile input through unixODBC and both libraries: bad arguments answer their
// SQLSTATE and change nothing, a cancelled exchange of data at execution leaves nothing
// behind, a parameter claiming more bytes than an element can hold is refused before any
// is read, and values the server cannot keep (NaN) or that carry a NUL are not altered
// silently.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

struct Lib {
    const char* path;
    bool wide;
};

const Lib kLibs[] = {{VARNO_LIB_A, false}, {VARNO_LIB_W, true}};

using itest::Diag;
using itest::Wide;

class Session : public itest::Connection {
public:
    Session(const Lib& lib, const std::string& db, SQLINTEGER version = SQL_OV_ODBC3)
        : itest::Connection(lib.path, lib.wide, "DATABASENAME=" + db, static_cast<SQLULEN>(version)) {}

    SQLRETURN Exec(const std::string& sql) {
        if (wide)
            return SQLExecDirectW(stmt, Wide(sql).data(), SQL_NTS);
        return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    }
    // Runs a statement on a statement of its own, so the one under test keeps its state.
    void Run(const std::string& sql) {
        SQLHSTMT h = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h);
        SQLRETURN rc = wide ? SQLExecDirectW(h, Wide(sql).data(), SQL_NTS)
                                 : SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << sql << ": " << Diag(SQL_HANDLE_STMT, h);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
    }
    // The first column of every row as text; NULL as "NULL".
    std::vector<std::string> Column(const std::string& sql) {
        std::vector<std::string> out;
        SQLFreeStmt(stmt, SQL_CLOSE);
        if (!SQL_SUCCEEDED(Exec(sql))) {
            ADD_FAILURE() << sql << ": " << Diag(SQL_HANDLE_STMT, stmt);
            return out;
        }
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            char buf[64] = {};
            SQLLEN ind = 0;
            SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind);
            out.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
        return out;
    }
};

std::string DbPath(const char* stem, const Lib& lib) {
    return std::string(VARNO_ODBC_DIR) + "/" + stem + (lib.wide ? "-w-" : "-a-") + std::to_string(getpid()) + ".db";
}

// Starts an insert of one value given at execution and asks for its value, as every
// exchange below does.
void StartExchange(Session& s, SQLLEN* dae) {
    *dae = SQL_DATA_AT_EXEC;
    ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                               reinterpret_cast<SQLPOINTER>(1), 0, dae),
              SQL_SUCCESS);
    ASSERT_EQ(s.Exec("insert into t (b) values (?)"), SQL_NEED_DATA) << s.State();
    SQLPOINTER token = nullptr;
    ASSERT_EQ(SQLParamData(s.stmt, &token), SQL_NEED_DATA) << s.State();
}

// Each bad argument is refused with its SQLSTATE (ODBC 3).
TEST(HostileInput, BadArgumentsAnswerTheirState) {
    struct Case {
        const char* what;
        std::function<SQLRETURN(Session&)> call;
        const char* state;
    };
    static SQLLEN dae = 0;
    static char buf[16];
    const Case cases[] = {
        {"SQLPutData after a NULL piece",
         [](Session& s) {
             StartExchange(s, &dae);
             EXPECT_EQ(SQLPutData(s.stmt, nullptr, SQL_NULL_DATA), SQL_SUCCESS) << s.State();
             return SQLPutData(s.stmt, const_cast<char*>("x"), 1);
         },
         "HY020"},
        {"SQLNumResultCols while data is needed",
         [](Session& s) {
             StartExchange(s, &dae);
             SQLSMALLINT n = 0;
             return SQLNumResultCols(s.stmt, &n);
         },
         "HY010"},
        {"SQL_ATTR_ROW_ARRAY_SIZE 0",
         [](Session& s) { return SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(0), 0); },
         "HY024"},
        {"SQL_ATTR_PARAMSET_SIZE 0",
         [](Session& s) { return SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(0), 0); },
         "HY024"},
        {"SQLBindParameter with parameter type 77",
         [](Session& s) {
             return SQLBindParameter(s.stmt, 1, 77, SQL_C_CHAR, SQL_VARCHAR, 10, 0, buf, sizeof buf, nullptr);
         },
         "HY105"},
        {"SQLBindParameter with SQL type 9999",
         [](Session& s) {
             return SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, 9999, 10, 0, buf, sizeof buf, nullptr);
         },
         "HY004"},
        {"SQLTables with a name length of -7",
         [](Session& s) {
             return SQLTables(s.stmt, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(const_cast<char*>("T")), -7,
                              nullptr, 0);
         },
         "HY090"},
    };
    for (const Lib& lib : kLibs) {
        const std::string db = DbPath("hostile-args", lib);
        std::filesystem::remove(db);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(lib.path) + ": " + c.what);
            Session s(lib, db);
            s.Run("create table if not exists t (b varchar(20))");
            EXPECT_EQ(c.call(s), SQL_ERROR);
            EXPECT_EQ(s.State(), c.state);
            SQLCancel(s.stmt);
        }
        {
            // No refused exchange stored anything.
            Session s(lib, db);
            EXPECT_EQ(s.Column("select count(*) from t"), (std::vector<std::string>{"0"}));
        }
        std::filesystem::remove(db);
    }
}

// SQLCancel in the middle of data at execution ends the exchange: the statement then runs
// a new text, and the same insert once more, as if no exchange had begun.
TEST(HostileInput, CancelDuringDataAtExecutionEndsTheExchange) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.path);
        const std::string db = DbPath("hostile-cancel", lib);
        std::filesystem::remove(db);
        {
            Session s(lib, db);
            s.Run("create table t (b varchar(20))");
            SQLLEN dae = 0;
            StartExchange(s, &dae);
            ASSERT_EQ(SQLPutData(s.stmt, const_cast<char*>("lost"), SQL_NTS), SQL_SUCCESS);
            EXPECT_TRUE(SQL_SUCCEEDED(SQLCancel(s.stmt)));
            SQLPOINTER token = nullptr;
            EXPECT_EQ(SQLParamData(s.stmt, &token), SQL_ERROR);
            EXPECT_EQ(s.State(), "HY010");

            char b[8] = "kept";
            SQLLEN len = SQL_NTS;
            ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, b, sizeof b, &len),
                      SQL_SUCCESS);
            EXPECT_EQ(s.Exec("insert into t (b) values (?)"), SQL_SUCCESS) << s.State();
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            EXPECT_EQ(s.Column("select b from t"), (std::vector<std::string>{"kept"}));

            // A cancel before any value was asked for ends it too.
            dae = SQL_DATA_AT_EXEC;
            ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0,
                                       reinterpret_cast<SQLPOINTER>(1), 0, &dae),
                      SQL_SUCCESS);
            ASSERT_EQ(s.Exec("insert into t (b) values (?)"), SQL_NEED_DATA) << s.State();
            EXPECT_TRUE(SQL_SUCCEEDED(SQLCancel(s.stmt)));
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            EXPECT_EQ(s.Column("select count(*) from t"), (std::vector<std::string>{"1"}));
        }
        std::filesystem::remove(db);
    }
}

// A length claiming more bytes than a parameter's element can state is refused before a
// byte of the buffer is read; the buffer here holds 16.
TEST(HostileInput, ParameterLengthBeyondAnElementIsRefused) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.path);
        const std::string db = DbPath("hostile-width", lib);
        std::filesystem::remove(db);
        {
            Session s(lib, db);
            s.Run("create table t (v varbinary(100), c varchar(100))");
            unsigned char bytes[16] = {};
            struct Case {
                SQLSMALLINT cType, sqlType;
                const char* column;
                SQLLEN length;
            } cases[] = {
                {SQL_C_BINARY, SQL_VARBINARY, "v", (SQLLEN{1} << 32) + 16},
                {SQL_C_BINARY, SQL_VARBINARY, "v", SQLLEN{1} << 31},
                {SQL_C_CHAR, SQL_VARBINARY, "v", (SQLLEN{1} << 33) + 32},
                {SQL_C_CHAR, SQL_VARCHAR, "c", (SQLLEN{1} << 32) + 16},
            };
            for (const Case& c : cases) {
                SCOPED_TRACE(c.length);
                SQLLEN len = c.length;
                ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, c.cType, c.sqlType, 100, 0, bytes, sizeof bytes,
                                           &len),
                          SQL_SUCCESS);
                EXPECT_EQ(s.Exec(std::string("insert into t (") + c.column + ") values (?)"), SQL_ERROR);
                EXPECT_EQ(s.State(), "HY090");
            }
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            EXPECT_EQ(s.Column("select count(*) from t"), (std::vector<std::string>{"0"}));
        }
        std::filesystem::remove(db);
    }
}

// Values kept as given, or refused: text with a NUL inside arrives whole, NaN is no number
// the server stores (22003; ODBC 2 here, whose states are not remapped), and a column
// bound with no data buffer still has its indicator written at each fetch.
TEST(HostileInput, ValuesAreNotAlteredSilently) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.path);
        const std::string db = DbPath("hostile-values", lib);
        std::filesystem::remove(db);
        {
            Session s(lib, db, SQL_OV_ODBC2);
            s.Run("create table t (id integer, c varchar(20), d double precision)");
            SQLINTEGER id = 1;
            char text[] = "ab\0cd";
            SQLLEN textLen = 5;
            ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr),
                      SQL_SUCCESS);
            ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, text, sizeof text,
                                       &textLen),
                      SQL_SUCCESS);
            ASSERT_EQ(s.Exec("insert into t (id, c) values (?, ?)"), SQL_SUCCESS) << s.State();
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            // Compared with the same five bytes, not with what a cut would leave.
            ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, text, sizeof text,
                                       &textLen),
                      SQL_SUCCESS);
            EXPECT_EQ(s.Column("select count(*) from t where c = ?"), (std::vector<std::string>{"1"}));
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            EXPECT_EQ(s.Column("select count(*) from t where c = 'ab'"), (std::vector<std::string>{"0"}));

            double nan = std::numeric_limits<double>::quiet_NaN();
            id = 2;
            ASSERT_EQ(SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr),
                      SQL_SUCCESS);
            ASSERT_EQ(SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &nan, 0, nullptr),
                      SQL_SUCCESS);
            EXPECT_EQ(s.Exec("insert into t (id, d) values (?, ?)"), SQL_ERROR);
            EXPECT_EQ(s.State(), "22003");
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            EXPECT_EQ(s.Column("select count(*) from t where id = 2"), (std::vector<std::string>{"0"}));

            s.Run("insert into t (id, c, d) values (3, 'hello', 2.5)");
            s.Run("insert into t (id, c) values (4, null)");
            ASSERT_EQ(s.Exec("select c, d from t where id > 2 order by id"), SQL_SUCCESS) << s.State();
            SQLLEN ind = 12345, dInd = 12345;
            ASSERT_EQ(SQLBindCol(s.stmt, 1, SQL_C_CHAR, nullptr, 0, &ind), SQL_SUCCESS) << s.State();
            ASSERT_EQ(SQLBindCol(s.stmt, 2, SQL_C_DOUBLE, nullptr, 0, &dInd), SQL_SUCCESS) << s.State();
            ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS) << s.State();
            EXPECT_EQ(ind, 5);
            EXPECT_EQ(dInd, static_cast<SQLLEN>(sizeof(double)));
            ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS) << s.State();
            EXPECT_EQ(ind, SQL_NULL_DATA);
            EXPECT_EQ(dInd, SQL_NULL_DATA);
            SQLFreeStmt(s.stmt, SQL_CLOSE);
            SQLFreeStmt(s.stmt, SQL_UNBIND);
        }
        std::filesystem::remove(db);
    }
}


}  // namespace
