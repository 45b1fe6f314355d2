// Exact numerics through unixODBC against the embedded server, in both libraries: NUMERIC
// values of 38 digits, with and without scale, written by literal, by SQL_C_CHAR and by
// SQL_C_NUMERIC parameters, read back as text and as the numeric structure, summed and
// averaged; values that do not fit are refused with nothing stored.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <cstring>
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

using itest::Diag;
using itest::kLibs;
using itest::Lib;

const std::string kNines38(38, '9');

// The numeric structure of a decimal digit string (at most 39 digits) at a scale.
SQL_NUMERIC_STRUCT Numeric(const std::string& digits, SQLSCHAR scale, bool negative) {
    SQL_NUMERIC_STRUCT n{};
    n.precision = 38;
    n.scale = scale;
    n.sign = negative ? 0 : 1;
    unsigned __int128 v = 0;
    for (char c : digits)
        v = v * 10 + static_cast<unsigned>(c - '0');
    for (int i = 0; i < SQL_MAX_NUMERIC_LEN; ++i, v >>= 8)
        n.val[i] = static_cast<SQLCHAR>(v & 0xFF);
    return n;
}

// A connection to a database of its own holding table n, and one statement.
struct Session : itest::Session {
    explicit Session(const Lib& l)
        : itest::Session(l, "numeric", "create table n (k integer, a numeric(38,0), b numeric(38,10))") {}
    // Every row of the result as text cells.
    std::vector<std::vector<std::string>> Rows(const std::string& text) {
        std::vector<std::vector<std::string>> rows;
        EXPECT_EQ(Exec(text), SQL_SUCCESS) << text << ": " << Diag(SQL_HANDLE_STMT, stmt);
        SQLSMALLINT cols = 0;
        SQLNumResultCols(stmt, &cols);
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            std::vector<std::string> row;
            for (SQLUSMALLINT c = 1; c <= cols; ++c) {
                char buf[128] = {};
                SQLLEN ind = 0;
                EXPECT_EQ(SQLGetData(stmt, c, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
                row.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
            }
            rows.push_back(row);
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
        return rows;
    }
};

using Rows = std::vector<std::vector<std::string>>;

TEST(ExactNumeric, ThirtyEightDigitsByEveryWayOfWriting) {
    const std::string b = "1234567890123456789012345678.0123456789";
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        ASSERT_EQ(s.Exec("insert into n values (1, " + kNines38 + ", " + b + ")"), SQL_SUCCESS)
            << Diag(SQL_HANDLE_STMT, s.stmt);

        ASSERT_EQ(SQLPrepare(s.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("insert into n values (?, ?, ?)")),
                             SQL_NTS),
                  SQL_SUCCESS);
        SQLINTEGER k = 2;
        std::string ta = "-" + kNines38, tb = "-" + b;
        SQLLEN lenA = SQL_NTS, lenB = SQL_NTS;
        SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &k, 0, nullptr);
        SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 38, 0, ta.data(), 0, &lenA);
        SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 38, 10, tb.data(), 0, &lenB);
        ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);

        k = 3;
        SQL_NUMERIC_STRUCT na = Numeric(kNines38, 0, false);
        SQL_NUMERIC_STRUCT nb = Numeric("12345678901234567890123456780123456789", 10, false);
        SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_NUMERIC, 38, 0, &na, 0, nullptr);
        SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_NUMERIC, 38, 10, &nb, 0, nullptr);
        ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);
        SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);

        EXPECT_EQ(s.Rows("select k, a, b from n order by k"),
                  (Rows{{"1", kNines38, b}, {"2", "-" + kNines38, "-" + b}, {"3", kNines38, b}}));
        EXPECT_EQ(s.Rows("select k from n where b = " + b + " order by k"), (Rows{{"1"}, {"3"}}));
        EXPECT_EQ(s.Rows("select sum(b), avg(b), sum(a) from n where k <> 2"),
                  (Rows{{"2469135780246913578024691356.0246913578", b, "1" + std::string(37, '9') + "8"}}));
        EXPECT_EQ(s.Rows("select sum(b), avg(a) from n where k < 3"), (Rows{{"0.0000000000", "0.0000000000"}}));

        // Back as the numeric structure: every byte of the 128-bit value.
        ASSERT_EQ(s.Exec("select a from n where k = 1"), SQL_SUCCESS);
        ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
        SQL_NUMERIC_STRUCT got{};
        SQLLEN ind = 0;
        ASSERT_EQ(SQLGetData(s.stmt, 1, SQL_C_NUMERIC, &got, sizeof got, &ind), SQL_SUCCESS)
            << Diag(SQL_HANDLE_STMT, s.stmt);
        SQL_NUMERIC_STRUCT want = Numeric(kNines38, 0, false);
        EXPECT_EQ(got.sign, 1);
        EXPECT_EQ(std::memcmp(got.val, want.val, sizeof got.val), 0);
        SQLFreeStmt(s.stmt, SQL_CLOSE);
    }
}

TEST(ExactNumeric, ValuesThatDoNotFitAreRefused) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        ASSERT_EQ(SQLPrepare(s.stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("insert into n (k, a) values (1, ?)")),
                             SQL_NTS),
                  SQL_SUCCESS);
        // The server's 22003 reaches an ODBC 3 application as it is: HY019 names only
        // non-character data sent in pieces.
        struct Case {
            std::string text;
            const char* state;
        } cases[] = {{kNines38 + "9", "22003"}, {"twelve", "22018"}};
        for (const Case& c : cases) {
            SQLLEN len = SQL_NTS;
            SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_NUMERIC, 38, 0,
                             const_cast<char*>(c.text.c_str()), 0, &len);
            EXPECT_EQ(SQLExecute(s.stmt), SQL_ERROR) << c.text;
            EXPECT_EQ(s.State(), c.state) << Diag(SQL_HANDLE_STMT, s.stmt);
        }
        SQL_NUMERIC_STRUCT big = Numeric("340282366920938463463374607431768211455", 0, false);
        SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_NUMERIC, SQL_NUMERIC, 38, 0, &big, 0, nullptr);
        EXPECT_EQ(SQLExecute(s.stmt), SQL_ERROR);
        EXPECT_EQ(s.State(), "22003");
        SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
        EXPECT_EQ(s.Rows("select count(*) from n"), (Rows{{"0"}}));
    }
}

}  // namespace
