// Parameters through unixODBC against the embedded server, in both libraries: BIGINT
// values (SQL_C_SBIGINT, SQL_C_UBIGINT and integer text) stored into columns of every
// numeric and text kind with the outcome the server gives them, and large parameter
// arrays sent in slices with the counts, statuses and errors of one execution.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

using itest::Diag;
using itest::kLibs;
using itest::Lib;

struct Session : itest::Session {
    explicit Session(const Lib& l, const std::string& create)
        : itest::Session(l, "params", create) {}
    // The first column of every row as text.
    std::vector<std::string> Column(const std::string& text) {
        std::vector<std::string> out;
        EXPECT_EQ(Exec(text), SQL_SUCCESS) << text << ": " << Diag(SQL_HANDLE_STMT, stmt);
        while (SQL_SUCCEEDED(SQLFetch(stmt))) {
            char buf[64] = {};
            SQLLEN ind = 0;
            EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind)));
            out.push_back(ind == SQL_NULL_DATA ? "NULL" : buf);
        }
        SQLFreeStmt(stmt, SQL_CLOSE);
        return out;
    }
};

// One BIGINT value bound three ways into columns of each kind: what is stored reads back
// as the value's text, and what does not fit the column is refused with the server's
// SQLSTATE (22003 for a number out of range), nothing stored.
TEST(BigintParams, StoredOrRefusedAsTheColumnDecides) {
    const uint64_t kPast = 18446744073709551615ull;
    struct Case {
        const char* column;
        SQLSMALLINT cType;
        int64_t value;   // SQL_C_SBIGINT, or the text's value
        const char* text;
        const char* state;  // "" stored; else the refusal
        const char* back;
    } cases[] = {
        {"b", SQL_C_SBIGINT, INT64_MAX, nullptr, "", "9223372036854775807"},
        {"b", SQL_C_SBIGINT, INT64_MIN, nullptr, "", "-9223372036854775808"},
        {"b", SQL_C_CHAR, 0, "-42", "", "-42"},
        {"b", SQL_C_CHAR, 0, "0042", "", "42"},
        {"v", SQL_C_SBIGINT, -7, nullptr, "", "-7"},
        {"v", SQL_C_CHAR, 0, "0042", "", "0042"},
        {"n", SQL_C_SBIGINT, INT64_MAX, nullptr, "", "9223372036854775807"},
        {"f", SQL_C_SBIGINT, 1024, nullptr, "", "1024"},
        {"i", SQL_C_SBIGINT, 2147483647, nullptr, "", "2147483647"},
        {"i", SQL_C_SBIGINT, 2147483648, nullptr, "22003", ""},
        {"i", SQL_C_CHAR, 0, "2147483648", "22003", ""},
        {"b", SQL_C_UBIGINT, static_cast<int64_t>(kPast), nullptr, "22003", ""},
        {"v", SQL_C_UBIGINT, static_cast<int64_t>(kPast), nullptr, "", "18446744073709551615"},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib, "create table t (b bigint, v varchar(30), n numeric(20), f float, i integer)");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.column) + " " + (c.text != nullptr ? c.text : std::to_string(c.value)));
            ASSERT_TRUE(SQL_SUCCEEDED(s.Exec("delete from t")) || s.Exec("delete from t") == SQL_NO_DATA);
            ASSERT_EQ(s.Prepare(std::string("insert into t (") + c.column + ") values (?)"), SQL_SUCCESS);
            int64_t v = c.value;
            std::string text = c.text != nullptr ? c.text : "";
            SQLLEN len = SQL_NTS;
            if (c.cType == SQL_C_CHAR)
                SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_BIGINT, 19, 0, text.data(), 0, &len);
            else
                SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, c.cType, SQL_BIGINT, 19, 0, &v, 0, nullptr);
            const SQLRETURN rc = SQLExecute(s.stmt);
            const std::string state = s.State();
            SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
            if (*c.state != '\0') {
                EXPECT_EQ(rc, SQL_ERROR);
                EXPECT_EQ(state, c.state);
                EXPECT_EQ(s.Column("select count(*) from t"), std::vector<std::string>{"0"});
                continue;
            }
            EXPECT_EQ(rc, SQL_SUCCESS) << state;
            EXPECT_EQ(s.Column(std::string("select ") + c.column + " from t"), std::vector<std::string>{c.back});
        }
    }
}

}  // namespace
