// What a prepare makes of the cursor an application asks for, through unixODBC against the
// embedded server, in both libraries: the cursor type and concurrency each statement gets
// (01S02 where it cannot have the one asked for), the errors of queries that cannot be
// keyset-driven or dynamic, and the key columns a forward-only query adds on request
// (options 1052 and 1054) with their describe attributes.
// Uses the private configuration that driver_manager_test.cpp writes for the process.
#include <string>
#include <vector>

#include "tests/integration/odbc_session.h"

namespace {

using itest::AllDiags;
using itest::Diag;
using itest::kLibs;
using itest::Lib;

constexpr SQLINTEGER kKeyColumnsInfo = 1052;
constexpr SQLINTEGER kAddKeyColumns = 1054;
constexpr SQLUSMALLINT kIsKeyColumn = 1053;
constexpr SQLUSMALLINT kIsExpression = 1055;

SQLRETURN SetAttr(SQLHSTMT stmt, SQLINTEGER attr, SQLULEN value) {
    return SQLSetStmtAttr(stmt, attr, reinterpret_cast<SQLPOINTER>(value), 0);
}

SQLULEN GetAttr(SQLHSTMT stmt, SQLINTEGER attr) {
    SQLULEN v = 99;
    EXPECT_EQ(SQLGetStmtAttr(stmt, attr, &v, 0, nullptr), SQL_SUCCESS) << AllDiags(stmt);
    return v;
}

std::string StateOf(SQLHSTMT stmt) { return Diag(SQL_HANDLE_STMT, stmt).substr(0, 5); }

// Tables with each kind of key: a primary key, a NOT NULL unique index, a nullable unique
// index (no key: a unique index holds several NULLs), none; and names with "_" beside a
// look-alike that LIKE would also match.
const char* const kSchema[] = {
    "create table keyed (id integer not null primary key, v varchar(20))",
    "create table uniq (a integer not null, b varchar(20))",
    "create unique index uniq_a on uniq (a)",
    "create table nullu (a integer, b varchar(20))",
    "create unique index nullu_a on nullu (a)",
    "create table nokey (a integer, b varchar(20))",
    "create table other (id integer not null primary key, w varchar(20))",
    "create table ORDER_LINES (x integer, y varchar(20))",
    "create table ORDERXLINES (z integer not null primary key)",
    "insert into keyed values (1, 'one')",
    "insert into keyed values (2, 'two')",
    "insert into other values (1, 'uno')",
    "insert into other values (2, 'dos')",
    "insert into uniq values (7, 'seven')",
};

struct Session : itest::Session {
    explicit Session(const Lib& l) : itest::Session(l, "prepare", kSchema[0]) {
        for (size_t i = 1; i < std::size(kSchema); ++i)
            Run(kSchema[i]);
    }

    // A statement of its own for the next case: a prepared one takes no new cursor type.
    void FreshStatement() {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    }

    void Run(std::string text) {
        SQLHSTMT h = nullptr;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h), SQL_SUCCESS);
        const SQLRETURN rc = lib.wide ? SQLExecDirectW(h, itest::Wide(text).data(), SQL_NTS)
                                      : SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << text << ": " << AllDiags(h);
        SQLFreeHandle(SQL_HANDLE_STMT, h);
    }

    // The name of result column n, in the library's width.
    std::string ColumnName(SQLUSMALLINT n) {
        if (!lib.wide) {
            SQLCHAR name[64] = {};
            SQLSMALLINT len = 0;
            EXPECT_EQ(SQLColAttribute(stmt, n, SQL_DESC_NAME, name, sizeof name, &len, nullptr), SQL_SUCCESS);
            return reinterpret_cast<char*>(name);
        }
        SQLWCHAR name[64] = {};
        SQLSMALLINT len = 0;
        EXPECT_EQ(SQLColAttributeW(stmt, n, SQL_DESC_NAME, name, sizeof name, &len, nullptr), SQL_SUCCESS);
        std::string out;
        for (const SQLWCHAR* p = name; *p != 0; ++p)
            out += static_cast<char>(*p);
        return out;
    }

    SQLLEN NumberAttr(SQLUSMALLINT column, SQLUSMALLINT field) {
        SQLLEN v = -99;
        EXPECT_EQ(SQLColAttribute(stmt, column, field, nullptr, 0, nullptr, &v), SQL_SUCCESS) << AllDiags(stmt);
        return v;
    }

    SQLSMALLINT ColumnCount() {
        SQLSMALLINT n = -1;
        EXPECT_EQ(SQLNumResultCols(stmt, &n), SQL_SUCCESS) << AllDiags(stmt);
        return n;
    }
};

// The decision table: statement x cursor type x concurrency -> what the prepare answers
// and the cursor the statement then has.
TEST(CursorPrepare, EachStatementGetsTheCursorItCanHave) {
    constexpr SQLULEN FO = SQL_CURSOR_FORWARD_ONLY, KS = SQL_CURSOR_KEYSET_DRIVEN, DY = SQL_CURSOR_DYNAMIC,
                      ST = SQL_CURSOR_STATIC;
    constexpr SQLULEN RO = SQL_CONCUR_READ_ONLY, LK = SQL_CONCUR_LOCK, VA = SQL_CONCUR_VALUES;
    const struct {
        const char* sql;
        SQLULEN type;
        SQLULEN concurrency;
        const char* state;  // "" success, "01S02" changed, else the error
        SQLULEN finalType;
        SQLULEN finalConcurrency;
    } cases[] = {
        {"select id, v from keyed", FO, RO, "", FO, RO},
        {"select id, v from keyed", KS, LK, "", KS, LK},
        {"select id, v from keyed order by v", DY, VA, "", DY, VA},
        // No seek can find a window under TOP: keyset-driven instead. An ORDER BY expression
        // is beyond the analyser: a snapshot.
        {"select top 5 id, v from keyed order by v", DY, RO, "01S02", KS, RO},
        {"select id, v from keyed order by id + 1", DY, LK, "01S02", ST, RO},
        {"select a, b from nokey", KS, RO, "01S02", ST, RO},
        {"select a, b from nullu", KS, RO, "01S02", ST, RO},
        {"select a, b from uniq", DY, LK, "", DY, LK},
        {"select id, v from keyed", ST, RO, "", ST, RO},
        {"select id, v from keyed", ST, LK, "", ST, LK},
        {"select a, b from nokey", ST, VA, "01S02", ST, RO},
        // Queries that cannot be keyset-driven or dynamic.
        {"select v, count(*) from keyed group by v", KS, RO, "IM913", KS, RO},
        {"select v, count(*) from keyed group by v", DY, RO, "IM913", DY, RO},
        {"select v from keyed union select w from other", KS, RO, "IM914", KS, RO},
        {"select keyed.v, other.w from keyed left outer join other on keyed.id = other.id", KS, RO, "IM928", KS,
         RO},
        {"select v, count(*) from keyed group by v", ST, RO, "", ST, RO},
        {"select keyed.v, other.w from keyed left outer join other on keyed.id = other.id", ST, RO, "", ST, RO},
        // A keyset of DISTINCT rows, or over a set function, means nothing: a snapshot.
        {"select distinct v from keyed", KS, RO, "01S02", ST, RO},
        {"select count(*) from keyed", DY, RO, "01S02", ST, RO},
        // Statements the analyser refuses, or that are no query, run on a snapshot.
        {"select cast(id as varchar(5)) from keyed", KS, RO, "01S02", ST, RO},
        {"select keyed.v from keyed join other on keyed.id = other.id", KS, RO, "01S02", ST, RO},
        {"insert into keyed values (3, 'three')", KS, RO, "", KS, RO},
        // An ORDER BY ordinal naming an expression matters only where keys order the rows.
        {"select id + 1 from keyed order by 1", ST, RO, "", ST, RO},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.sql << " type " << c.type << " concurrency " << c.concurrency);
            s.FreshStatement();
            ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE, c.type), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(SetAttr(s.stmt, SQL_ATTR_CONCURRENCY, c.concurrency), SQL_SUCCESS) << AllDiags(s.stmt);
            const SQLRETURN rc = s.Prepare(c.sql);
            const std::string state = c.state;
            if (state.empty()) {
                EXPECT_EQ(rc, SQL_SUCCESS) << AllDiags(s.stmt);
            } else if (state == "01S02") {
                EXPECT_EQ(rc, SQL_SUCCESS_WITH_INFO) << AllDiags(s.stmt);
                EXPECT_EQ(StateOf(s.stmt), state);
            } else {
                EXPECT_EQ(rc, SQL_ERROR);
                EXPECT_EQ(StateOf(s.stmt), state) << AllDiags(s.stmt);
            }
            EXPECT_EQ(GetAttr(s.stmt, SQL_ATTR_CURSOR_TYPE), c.finalType);
            EXPECT_EQ(GetAttr(s.stmt, SQL_ATTR_CONCURRENCY), c.finalConcurrency);
            if (rc != SQL_ERROR) {
                EXPECT_TRUE(SQL_SUCCEEDED(SQLExecute(s.stmt))) << AllDiags(s.stmt);
            }
        }
    }
}

// Key columns on request: 1054 adds those the select list lacks (qualified on a join), a
// star list is written out and needs none; 1053 marks key columns and 1055 expressions.
TEST(CursorPrepare, AForwardOnlyQueryAddsItsKeyColumnsOnRequest) {
    const struct {
        const char* sql;
        SQLINTEGER option;
        std::vector<std::string> names;   // every result column
        std::vector<SQLLEN> keys;         // attribute 1053 of each
        std::vector<SQLLEN> expressions;  // attribute 1055 of each
    } cases[] = {
        {"select v from keyed", kAddKeyColumns, {"v", "id"}, {0, 1}, {0, 0}},
        {"select v as name, id + 1 next from keyed", kAddKeyColumns, {"name", "next", "id"}, {0, 0, 1}, {0, 1, 0}},
        {"select * from keyed", kAddKeyColumns, {"id", "v"}, {1, 0}, {0, 0}},
        {"select k.* from keyed k", kAddKeyColumns, {"id", "v"}, {1, 0}, {0, 0}},
        {"select b from uniq", kAddKeyColumns, {"b", "a"}, {0, 1}, {0, 0}},
        {"select b from nullu", kAddKeyColumns, {"b"}, {0}, {0}},
        {"select * from ORDER_LINES", kAddKeyColumns, {"x", "y"}, {0, 0}, {0, 0}},
        {"select keyed.v, other.w from keyed, other where keyed.id = other.id",
         kAddKeyColumns,
         {"v", "w", "id", "id"},
         {0, 0, 1, 1},
         {0, 0, 0, 0}},
        {"select v, id + 1 from keyed", kKeyColumnsInfo, {"v", ""}, {0, 0}, {0, 1}},
        {"select id, v from keyed", kKeyColumnsInfo, {"id", "v"}, {1, 0}, {0, 0}},
    };
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.sql);
            s.FreshStatement();
            ASSERT_EQ(SetAttr(s.stmt, c.option, 1), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(s.Prepare(c.sql), SQL_SUCCESS) << AllDiags(s.stmt);
            ASSERT_EQ(s.ColumnCount(), static_cast<SQLSMALLINT>(c.names.size()));
            for (SQLUSMALLINT n = 1; n <= c.names.size(); ++n) {
                SCOPED_TRACE(n);
                if (!c.names[n - 1].empty()) {
                    EXPECT_EQ(s.ColumnName(n), c.names[n - 1]);
                }
                EXPECT_EQ(s.NumberAttr(n, kIsKeyColumn), c.keys[n - 1]);
                EXPECT_EQ(s.NumberAttr(n, kIsExpression), c.expressions[n - 1]);
            }
            ASSERT_EQ(SQLExecute(s.stmt), SQL_SUCCESS) << AllDiags(s.stmt);
            EXPECT_NE(SQLFetch(s.stmt), SQL_ERROR) << AllDiags(s.stmt);
        }
    }
}

// The added key column's values are the rows' keys, and a key asked for after DDL on the
// connection is the table's new one.
TEST(CursorPrepare, AddedKeysAreTheRowsKeysAndFollowTheConnectionsDdl) {
    for (const Lib& lib : kLibs) {
        SCOPED_TRACE(lib.driver);
        Session s(lib);
        ASSERT_EQ(SetAttr(s.stmt, kAddKeyColumns, 1), SQL_SUCCESS);
        ASSERT_EQ(s.Exec("select v from keyed order by v desc"), SQL_SUCCESS) << AllDiags(s.stmt);
        char v[21] = {};
        SQLINTEGER id = 0;
        SQLBindCol(s.stmt, 1, SQL_C_CHAR, v, sizeof v, nullptr);
        SQLBindCol(s.stmt, 2, SQL_C_SLONG, &id, 0, nullptr);
        ASSERT_EQ(SQLFetch(s.stmt), SQL_SUCCESS);
        EXPECT_STREQ(v, "two");
        EXPECT_EQ(id, 2);
        SQLFreeStmt(s.stmt, SQL_UNBIND);

        // The same table made again with another key: the connection's DDL clears what it
        // knew of the old one.
        SQLFreeStmt(s.stmt, SQL_CLOSE);
        s.Run("drop table keyed");
        s.Run("create table keyed (id integer, v varchar(20) not null primary key)");
        ASSERT_EQ(s.Prepare("select id from keyed"), SQL_SUCCESS) << AllDiags(s.stmt);
        ASSERT_EQ(s.ColumnCount(), 2);
        EXPECT_EQ(s.ColumnName(2), "v");
    }
}

}  // namespace
