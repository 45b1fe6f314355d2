// Parameters through unixODBC against the embedded server, in both libraries: BIGINT
// values (SQL_C_SBIGINT, SQL_C_UBIGINT and integer text) stored into columns of every
// numeric and text kind with the outcome the server gives them, and large parameter
// arrays sent in slices with the counts, statuses and errors of one execution.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

using itest::Diag;
using itest::kLibs;
using itest::Lib;

// The messages of every diagnostic record of the statement, one a line.
std::string AllDiags(SQLHSTMT stmt) {
    std::string all;
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    for (SQLSMALLINT n = 1; SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, n, state, &native, msg, sizeof msg, &len));
         ++n)
        all += std::string(reinterpret_cast<char*>(msg)) + "\n";
    return all;
}

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

// Column-wise arrays of 2500 sets, more than a slice: what the application sees is one
// execution. All sets stored with their count and statuses; a set that fails in a later
// slice (a duplicate key) leaves the sets before it stored (autocommit) and names itself
// in the status array, the processed count and the server's message; an ignored set is unused;
// a date the driver refuses in the last slice refuses the execution with nothing stored.
TEST(SlicedArrays, ALargeArrayEndsAsOneExecution) {
    constexpr SQLULEN kSets = 2500;
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib, "create table t (k integer primary key, v varchar(12), d date)");
        std::vector<SQLINTEGER> keys(kSets);
        std::vector<char> names(kSets * 12);
        std::vector<SQLLEN> nameLens(kSets, SQL_NTS);
        std::vector<char> dates(kSets * 24);
        std::vector<SQLLEN> dateLens(kSets, SQL_NTS);
        std::vector<SQLUSMALLINT> status(kSets, 99);
        std::vector<SQLUSMALLINT> operations(kSets, SQL_PARAM_PROCEED);
        SQLULEN processed = 0;
        auto fill = [&](SQLINTEGER base) {
            for (SQLULEN r = 0; r < kSets; ++r) {
                keys[r] = base + static_cast<SQLINTEGER>(r);
                std::snprintf(&names[r * 12], 12, "n%lu", static_cast<unsigned long>(r));
                std::snprintf(&dates[r * 24], 24, r % 2 == 0 ? "2024-01-%02lu" : "{d '2024-02-%02lu'}",
                              static_cast<unsigned long>(1 + r % 28));
            }
        };
        ASSERT_EQ(s.Prepare("insert into t values (?, ?, ?)"), SQL_SUCCESS);
        SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, keys.data(), 0, nullptr);
        SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 12, 0, names.data(), 12, nameLens.data());
        SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_DATE, 10, 0, dates.data(), 24, dateLens.data());
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(kSets), 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_OPERATION_PTR, operations.data(), 0);
        auto rowCount = [&] {
            SQLLEN n = -2;
            SQLRowCount(s.stmt, &n);
            return n;
        };
        auto count = [&](SQLUSMALLINT want) { return std::count(status.begin(), status.end(), want); };

        fill(0);
        operations[2200] = SQL_PARAM_IGNORE;
        ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);
        EXPECT_EQ(processed, kSets - 1);
        EXPECT_EQ(rowCount(), static_cast<SQLLEN>(kSets - 1));
        EXPECT_EQ(count(SQL_PARAM_SUCCESS), static_cast<long>(kSets - 1));
        EXPECT_EQ(status[2200], SQL_PARAM_UNUSED);
        operations[2200] = SQL_PARAM_PROCEED;

        fill(10000);
        keys[1700] = 10005;  // a duplicate of set 5
        EXPECT_EQ(SQLExecute(s.stmt), SQL_ERROR);
        EXPECT_EQ(s.State(), "23000");
        EXPECT_NE(AllDiags(s.stmt).find("parameter row 1701 of 2500 failed"), std::string::npos) << AllDiags(s.stmt);
        EXPECT_EQ(processed, 1701u);
        EXPECT_EQ(count(SQL_PARAM_SUCCESS), 1700);
        EXPECT_EQ(status[1700], SQL_PARAM_ERROR);
        EXPECT_EQ(count(SQL_PARAM_UNUSED), static_cast<long>(kSets - 1701));

        fill(20000);
        std::snprintf(&dates[2400 * 24], 24, "{d '2024-13-01'}");
        EXPECT_EQ(SQLExecute(s.stmt), SQL_ERROR);
        const std::string refused = s.State();
        EXPECT_TRUE(refused == "22007" || refused == "22008") << refused;
        SQLFreeStmt(s.stmt, SQL_RESET_PARAMS);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(SQLULEN{1}), 0);
        SQLSetStmtAttr(s.stmt, SQL_ATTR_PARAM_OPERATION_PTR, nullptr, 0);
        EXPECT_EQ(s.Column("select count(*) from t"), std::vector<std::string>{std::to_string(kSets - 1 + 1700)});
        EXPECT_EQ(s.Column("select count(*) from t where k >= 20000"), std::vector<std::string>{"0"});
        EXPECT_EQ(s.Column("select v from t where k = 2499"), std::vector<std::string>{"n2499"});
        EXPECT_EQ(s.Column("select d from t where k = 1001"), std::vector<std::string>{"2024-02-22"});
    }
}

}  // namespace
