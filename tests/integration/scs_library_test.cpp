// The cursor library in front of the agent, seen through unixODBC: a catalog result on a
// keyset-typed statement leaves the next prepare to decide the cursor, and row counts of DML come
// through the library's table.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <string>

#include "odbc_session.h"

namespace {

using itest::Diag;
using itest::kLibs;
using itest::Session;

std::string Tag(const itest::Lib& lib) { return lib.wide ? "wide" : "narrow"; }

SQLULEN StmtAttr(SQLHSTMT stmt, SQLINTEGER attr) {
    SQLULEN v = 0;
    EXPECT_EQ(SQLGetStmtAttr(stmt, attr, &v, 0, nullptr), SQL_SUCCESS);
    return v;
}

// The catalog call's own change of the cursor type does not stay: the SELECT prepared next
// answers the application's keyset request as a fresh statement does (static, 01S02).
TEST(CursorLibrary, ASelectAfterACatalogCallOnAKeysetStatementPreparesAsAFreshOne) {
    for (const auto& lib : kLibs) {
        SCOPED_TRACE(Tag(lib));
        Session s(lib, "scslib", "create table t (i integer, v varchar(10))");
        ASSERT_EQ(SQLSetStmtAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_KEYSET_DRIVEN),
                                 0),
                  SQL_SUCCESS)
            << Diag(SQL_HANDLE_STMT, s.stmt);
        ASSERT_TRUE(SQL_SUCCEEDED(SQLTables(s.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0)))
            << Diag(SQL_HANDLE_STMT, s.stmt);
        ASSERT_EQ(SQLFreeStmt(s.stmt, SQL_CLOSE), SQL_SUCCESS);
        EXPECT_EQ(s.Prepare("SELECT i FROM t"), SQL_SUCCESS_WITH_INFO) << Diag(SQL_HANDLE_STMT, s.stmt);
        EXPECT_EQ(s.State(), "01S02");
        EXPECT_EQ(StmtAttr(s.stmt, SQL_ATTR_CURSOR_TYPE), SQLULEN{SQL_CURSOR_STATIC});
    }
}

TEST(CursorLibrary, RowCountAfterDml) {
    for (const auto& lib : kLibs) {
        SCOPED_TRACE(Tag(lib));
        Session s(lib, "scslib", "create table t (i integer, v varchar(10))");
        ASSERT_EQ(s.Exec("INSERT INTO t VALUES (1, 'a')"), SQL_SUCCESS) << Diag(SQL_HANDLE_STMT, s.stmt);
        ASSERT_EQ(s.Exec("INSERT INTO t VALUES (2, 'b')"), SQL_SUCCESS);
        ASSERT_EQ(s.Exec("UPDATE t SET v = 'c'"), SQL_SUCCESS);
        SQLLEN n = -5;
        ASSERT_EQ(SQLRowCount(s.stmt, &n), SQL_SUCCESS);
        EXPECT_EQ(n, 2);
    }
}

}  // namespace
