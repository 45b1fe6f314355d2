// Dates through unixODBC and both libraries, written every way an application writes them
// (ISO literal, the server's form, escape, SQL_C_CHAR and SQL_C_TYPE_DATE parameters):
// equality, ranges, ORDER BY, DISTINCT and MAX see one value, and what is no date is
// refused at write.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

struct Lib {
    const char* path;
    bool wide;
};

using itest::Diag;
using itest::Wide;

class Session : public itest::Connection {
public:
    Session(const Lib& lib, const std::string& db)
        : itest::Connection(lib.path, lib.wide, "DATABASENAME=" + db) {}

    SQLRETURN Exec(const std::string& sql) {
        SQLFreeStmt(stmt, SQL_CLOSE);
        if (wide)
            return SQLExecDirectW(stmt, Wide(sql).data(), SQL_NTS);
        return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    }
    SQLRETURN Prepare(const std::string& sql) {
        SQLFreeStmt(stmt, SQL_CLOSE);
        if (wide)
            return SQLPrepareW(stmt, Wide(sql).data(), SQL_NTS);
        return SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    }
    // Every row of a query, each column read as text.
    std::vector<std::string> Column(const std::string& sql) {
        std::vector<std::string> out;
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
        return out;
    }
};

TEST(DriverManagerDates, MixedFormsAreOneValue) {
    for (const Lib& lib : {Lib{VARNO_LIB_A, false}, Lib{VARNO_LIB_W, true}}) {
        SCOPED_TRACE(lib.path);
        const std::string db = std::string(VARNO_ODBC_DIR) + "/dates-" + std::to_string(getpid()) + ".db";
        std::filesystem::remove(db);
        {
            Session s(lib, db);
            ASSERT_EQ(s.Exec("create table d (id integer, d date)"), SQL_SUCCESS) << s.State();
            for (const char* sql : {"insert into d values (1, '2024-01-31')", "insert into d values (2, {d '2024-01-31'})",
                                    "insert into d values (3, '2024/01/31')", "insert into d values (4, '2023-12-01')",
                                    "insert into d values (5, {d '2024-02-15'})"})
                ASSERT_EQ(s.Exec(sql), SQL_SUCCESS) << sql << ": " << s.State();
            ASSERT_EQ(s.Prepare("insert into d values (?, ?)"), SQL_SUCCESS) << s.State();
            SQLINTEGER id = 6;
            char text[16] = "2024-01-31";
            SQLLEN textLen = SQL_NTS;
            SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);
            SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, text, sizeof text, &textLen);
            ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << s.State();
            SQL_DATE_STRUCT date{2024, 1, 5};
            id = 7;
            SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &date, 0, nullptr);
            ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << s.State();
            date = SQL_DATE_STRUCT{2024, 1, 31};
            id = 8;
            ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << s.State();

            EXPECT_EQ(s.Column("select count(*) from d where d = '2024-01-31'"), (std::vector<std::string>{"5"}));
            EXPECT_EQ(s.Column("select count(*) from d where d = {d '2024-01-31'}"), (std::vector<std::string>{"5"}));
            EXPECT_EQ(s.Column("select count(*) from d where d >= '2024-01-05' and d < {d '2024-02-01'}"),
                      (std::vector<std::string>{"6"}));
            EXPECT_EQ(s.Column("select d from d where id in (1, 2, 4, 5, 7) order by d"),
                      (std::vector<std::string>{"2023-12-01", "2024-01-05", "2024-01-31", "2024-01-31", "2024-02-15"}));
            EXPECT_EQ(s.Column("select distinct d from d order by d desc"),
                      (std::vector<std::string>{"2024-02-15", "2024-01-31", "2024-01-05", "2023-12-01"}));
            EXPECT_EQ(s.Column("select count(distinct d) from d"), (std::vector<std::string>{"4"}));
            EXPECT_EQ(s.Column("select max(d) from d where id <> 5"), (std::vector<std::string>{"2024-01-31"}));

            // What is no date is refused, and nothing of it is stored: text that is no date
            // at all as an invalid format (22007), a day the month lacks as a field overflow
            // (22008), which ODBC 3 keeps.
            const struct {
                const char* sql;
                const char* state;
            } refused[] = {{"insert into d values (9, 'garbage')", "22007"},
                           {"insert into d values (9, '2024-02-30')", "22008"},
                           {"insert into d values (9, {d '2023-02-29'})", "22008"},
                           {"update d set d = 'garbage' where id = 1", "22007"}};
            for (const auto& r : refused) {
                EXPECT_EQ(s.Exec(r.sql), SQL_ERROR) << r.sql;
                EXPECT_EQ(s.State(), r.state) << r.sql;
            }
            EXPECT_EQ(s.Column("select count(*) from d where id = 9 or d is null"), (std::vector<std::string>{"0"}));
        }
        std::filesystem::remove(db);
    }
}

}  // namespace
