// The server's SQL dialect on the SQLite back-end of the ESQL-92 client stand-in: the scalar
// functions and DECODE that the driver's escape translation emits, convert(SQL_xxx, v), TOP n,
// NULLs sorting above every value, the date and time literal forms, and the agent's catalog
// queries over SYSPROGRESS and the PUB meta tables.
#include <ctime>

#include "platform/esql92/sqlite_internal.h"
#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;

class Esql92Dialect : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(c.rc, 0) << message(c.ca); }

    // The single value of a one-row, one-column query.
    std::string value(const std::string& expr) {
        Rows r = c.query("SELECT " + expr);
        if (c.rc != 0)
            return "error " + state(c.ca) + ": " + message(c.ca);
        return r.size() == 1 && r[0].size() == 1 ? r[0][0] : "?";
    }

    TempDb f;
    Conn c{f.target(), "dialect-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())};
};

TEST_F(Esql92Dialect, ScalarFunctions) {
    struct Case {
        std::string expr;
        const char* expect;
    } cases[] = {
        {"ucase('abc')", "ABC"},
        {"lcase('AbC')", "abc"},
        {"repeat(' ', (3)) || '|'", "   |"},
        {"repeat('ab', 3)", "ababab"},
        {"concat('ab', 'cd')", "abcd"},
        {"concat('ab', NULL)", "NULL"},
        {"left('h\xC3\xA9llo', 2)", "h\xC3\xA9"},
        {"right('hello', 3)", "llo"},
        {"right('hello', 9)", "hello"},
        {"insert('abcdef', 2, 3, 'XY')", "aXYef"},
        {"locate('l', 'hello')", "3"},
        {"locate('l', 'hello', 4)", "4"},
        {"locate('z', 'hello')", "0"},
        {"ascii('A')", "65"},
        {"char(65)", "A"},
        {"length('h\xC3\xA9llo')", "5"},
        {"substr('hello', 2, 3)", "ell"},
        {"ltrim('  a') || rtrim('b  ') || '|'", "ab|"},
        {"replace('aXa', 'X', 'b')", "aba"},
        {"abs(-3)", "3"},
        {"mod(7, 3)", "1"},
        {"power(2, 10)", "1024"},
        {"sqrt(16)", "4"},
        {"round(2.567, 2)", "2.570"},   // the type of its argument
        {"floor(2.5)", "2"},
        {"ceiling(2.1)", "3"},
        {"sign(-4)", "-1"},
        {"pi()", "3.14159265358979"},
        {"log10(1000)", "3"},
        {"exp(0)", "1"},
        {"degrees(pi())", "180"},
        {"ifnull(NULL, 5)", "5"},
        {"rand(1) < 1", "1"},
        {"year('2012/03/04')", "2012"},
        {"month('2012-03-04')", "3"},
        {"dayofmonth('2012/03/04 05:06:07:000')", "4"},
        {"dayofweek('2012/03/04')", "1"},
        {"dayname('2012/03/04')", "Sunday"},
        {"monthname('2012/03/04')", "March"},
        {"dayofyear('2012/03/04')", "64"},
        {"week('2012/03/04')", "10"},
        {"week('2011/01/01')", "1"},
        {"quarter('2012/08/01')", "3"},
        {"hour('05:06:07')", "5"},
        {"minute('2012/03/04 05:06:07:000')", "6"},
        {"second('05:06:07')", "7"},
        {"year(NULL)", "NULL"},
        {"user()", "alice"},
        {"db_name() = '" + f.path().substr(f.path().rfind('/') + 1) + "'", "1"},
        {"length(systimestamp) = 23 AND length(now()) = 23", "1"},
        {"length(systime) = 8 AND length(curtime()) = 8", "1"},
        {"CAST(curdate() AS VARCHAR(10)) LIKE '____/__/__'", "1"},
        {"CAST(CURRENT_DATE AS VARCHAR(10)) LIKE '____/__/__'", "1"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(value(k.expr), k.expect) << k.expr;

    // Today, in the server's form.
    std::time_t now = std::time(nullptr);
    std::tm lt;
    localtime_r(&now, &lt);
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d", &lt);
    std::string got = value("sysdate");
    if (got != today) {   // a test run across midnight
        now = std::time(nullptr);
        localtime_r(&now, &lt);
        std::strftime(today, sizeof today, "%Y-%m-%d", &lt);
    }
    EXPECT_EQ(got, today);
    EXPECT_EQ(value("CAST(sysdate AS VARCHAR(10)) LIKE '____/__/__'"), "1");
}

TEST_F(Esql92Dialect, DecodeConvertAndTop) {
    struct Case {
        const char* expr;
        const char* expect;
    } cases[] = {
        {"DECODE(2, 1, 'a', 2, 'b', 'c')", "b"},
        {"DECODE(9, 1, 'a', 2, 'b', 'c')", "c"},
        {"DECODE(9, 1, 'a')", "NULL"},
        {"DECODE(NULL, NULL, 'n', 'x')", "n"},
        {"DECODE('5', 5, 'y', 'n')", "y"},
        {"DECODE('U ', 'U ', 0, 'D ', 1)", "0"},
        {"convert(SQL_CHAR, 12)", "12"},
        {"convert(SQL_VARCHAR, 1.5)", "1.5"},
        {"convert(SQL_INTEGER, '42')", "42"},
        {"convert(SQL_SMALLINT, convert(SQL_CHAR, 7))", "7"},
        {"convert(SQL_DATE, '2012/03/04 05:06:07:000')", "2012-03-04"},
        {"convert(SQL_TIME, '2012/03/04 05:06:07:000')", "05:06:07"},
        {"convert(SQL_TIMESTAMP, '2012/03/04')", "2012-03-04 00:00:00.000"},
        {"convert(SQL_VARBINARY, 'ab')", "6162"},
        {"convert(SQL_DOUBLE, '2.5')", "2.5"},
        {"convert(SQL_DECIMAL, '1.5')", "1.5000000000"},
    };
    for (const Case& k : cases)
        EXPECT_EQ(value(k.expr), k.expect) << k.expr;

    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER, v VARCHAR(5))"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'b'), (4, 'c')"), 0);
    EXPECT_EQ(c.query("SELECT TOP 2 id FROM t ORDER BY id DESC"), (Rows{{"4"}, {"3"}}));
    EXPECT_EQ(c.query("SELECT DISTINCT TOP 2 v FROM t ORDER BY v"), (Rows{{"a"}, {"b"}}));
    EXPECT_EQ(c.query("SELECT * FROM (SELECT TOP 1 id, v FROM t ORDER BY id) x"), (Rows{{"1", "a"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE id IN (SELECT TOP 3 id FROM t ORDER BY id);"), (Rows{{"3"}}));
}

// NULLs sort above every value, as the agent reports: each ORDER BY item gets NULLS LAST
// ascending and NULLS FIRST descending, wherever the clause stands and however it ends.
TEST(Esql92Translate, OrderByItemsSortNullsHigh) {
    struct Case {
        const char* sql;
        const char* want;
    } cases[] = {
        {"SELECT a FROM t ORDER BY a", "SELECT a FROM t ORDER BY a NULLS LAST"},
        {"SELECT a FROM t ORDER BY a ASC;", "SELECT a FROM t ORDER BY a ASC NULLS LAST;"},
        {"SELECT a FROM t order by a desc", "SELECT a FROM t order by a desc NULLS FIRST"},
        {"SELECT a FROM t ORDER BY a, b DESC, coalesce(c, d) ASC",
         "SELECT a FROM t ORDER BY a NULLS LAST, b DESC NULLS FIRST, coalesce(c, d) ASC NULLS LAST"},
        {"SELECT v FROM t ORDER BY v COLLATE NOCASE DESC, w COLLATE NOCASE",
         "SELECT v FROM t ORDER BY v COLLATE NOCASE DESC NULLS FIRST, w COLLATE NOCASE NULLS LAST"},
        {"SELECT a, b FROM t ORDER BY 2 DESC, 1", "SELECT a, b FROM t ORDER BY 2 DESC NULLS FIRST, 1 NULLS LAST"},
        {"SELECT a FROM t ORDER BY CASE WHEN a > 0 THEN 1 ELSE 0 END DESC",
         "SELECT a FROM t ORDER BY CASE WHEN a > 0 THEN 1 ELSE 0 END DESC NULLS FIRST"},
        // The words follow the parenthesis the translation adds around a CAST.
        {"SELECT d FROM t ORDER BY CAST(d AS DATE)", "SELECT d FROM t ORDER BY esql_date(CAST(d AS DATE TEXT)) NULLS LAST"},
        {"SELECT * FROM (SELECT a FROM t ORDER BY a DESC) x ORDER BY a",
         "SELECT * FROM (SELECT a FROM t ORDER BY a DESC NULLS FIRST) x ORDER BY a NULLS LAST"},
        {"SELECT count(*) FROM t WHERE a IN (SELECT a FROM u ORDER BY b, c DESC ) AND b > 0",
         "SELECT count(*) FROM t WHERE a IN (SELECT a FROM u ORDER BY b NULLS LAST, c DESC NULLS FIRST ) AND b > 0"},
        {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1 DESC",
         "SELECT a FROM t UNION SELECT b FROM u ORDER BY 1 DESC NULLS FIRST"},
        // TOP's LIMIT lands after the words, at the end or before the closing parenthesis.
        {"SELECT TOP 5 a FROM t ORDER BY a", "SELECT  a FROM t ORDER BY a NULLS LAST LIMIT 5"},
        {"SELECT TOP 5 a FROM t ORDER BY a DESC;", "SELECT  a FROM t ORDER BY a DESC NULLS FIRST LIMIT 5;"},
        {"SELECT * FROM (SELECT TOP 1 a FROM t ORDER BY a DESC) x",
         "SELECT * FROM (SELECT  a FROM t ORDER BY a DESC NULLS FIRST LIMIT 1) x"},
        // The clause ends at LIMIT, OFFSET and FOR; an item naming its NULLS keeps them.
        {"SELECT a FROM t ORDER BY a LIMIT 3 OFFSET 1", "SELECT a FROM t ORDER BY a NULLS LAST LIMIT 3 OFFSET 1"},
        {"SELECT a FROM t ORDER BY a DESC FOR UPDATE", "SELECT a FROM t ORDER BY a DESC NULLS FIRST FOR UPDATE"},
        {"SELECT a FROM t ORDER BY a NULLS FIRST, b DESC NULLS LAST, c",
         "SELECT a FROM t ORDER BY a NULLS FIRST, b DESC NULLS LAST, c NULLS LAST"},
        // Windows: the clause ends at the window's parenthesis or its frame.
        {"SELECT row_number() OVER (PARTITION BY a ORDER BY b DESC) FROM t",
         "SELECT row_number() OVER (PARTITION BY a ORDER BY b DESC NULLS FIRST) FROM t"},
        {"SELECT sum(a) OVER (ORDER BY b ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW) FROM t",
         "SELECT sum(a) OVER (ORDER BY b NULLS LAST ROWS BETWEEN UNBOUNDED PRECEDING AND CURRENT ROW) FROM t"},
        {"SELECT a FROM t ORDER BY rows", "SELECT a FROM t ORDER BY rows NULLS LAST"},
        // Nothing that only looks like the clause.
        {"SELECT 'ORDER BY a' FROM t WHERE \"ORDER\" = 1", "SELECT 'ORDER BY a' FROM t WHERE \"ORDER\" = 1"},
    };
    for (const Case& k : cases) {
        esql::lite::Translation tr;
        esql::Outcome o;
        ASSERT_TRUE(esql::lite::translate(k.sql, tr, o)) << k.sql;
        EXPECT_EQ(tr.sql, k.want) << k.sql;
    }
}

// On real data: ascending puts NULLs last, descending first, in every place a clause can be.
TEST_F(Esql92Dialect, NullsSortAboveEveryValue) {
    ASSERT_EQ(c.exec("CREATE TABLE n (id INTEGER, v VARCHAR(5))"), 0) << message(c.ca);
    ASSERT_EQ(c.exec("INSERT INTO n VALUES (1, 'b'), (2, NULL), (3, 'a'), (4, NULL), (5, 'c')"), 0) << message(c.ca);
    const Rows up{{"a"}, {"b"}, {"c"}, {"NULL"}, {"NULL"}};
    const Rows down{{"NULL"}, {"NULL"}, {"c"}, {"b"}, {"a"}};
    EXPECT_EQ(c.query("SELECT v FROM n ORDER BY v"), up);
    EXPECT_EQ(c.query("SELECT v FROM n ORDER BY 1 ASC"), up);
    EXPECT_EQ(c.query("SELECT v FROM n ORDER BY v COLLATE NOCASE DESC"), down);
    EXPECT_EQ(c.query("SELECT v FROM n ORDER BY v DESC, id"), down);
    EXPECT_EQ(c.query("SELECT v, id FROM n ORDER BY v DESC, id DESC"),
              (Rows{{"NULL", "4"}, {"NULL", "2"}, {"c", "5"}, {"b", "1"}, {"a", "3"}}));
    EXPECT_EQ(c.query("SELECT TOP 2 id FROM n ORDER BY v DESC, id"), (Rows{{"2"}, {"4"}}));
    EXPECT_EQ(c.query("SELECT * FROM (SELECT TOP 4 v FROM n ORDER BY v) x"), (Rows{{"a"}, {"b"}, {"c"}, {"NULL"}}));
    EXPECT_EQ(c.query("SELECT v FROM n WHERE id < 3 UNION ALL SELECT v FROM n WHERE id >= 3 ORDER BY 1"), up);
    EXPECT_EQ(c.query("SELECT id, row_number() OVER (ORDER BY v) FROM n ORDER BY id"),
              (Rows{{"1", "2"}, {"2", "4"}, {"3", "1"}, {"4", "5"}, {"5", "3"}}));
    EXPECT_EQ(c.query("SELECT v FROM n ORDER BY v NULLS FIRST, id"), (Rows{{"NULL"}, {"NULL"}, {"a"}, {"b"}, {"c"}}));
}

TEST_F(Esql92Dialect, DateAndTimeLiteralForms) {
    ASSERT_EQ(c.exec("CREATE TABLE e (d DATE, t TIME, ts TIMESTAMP, created DATE DEFAULT CURRENT_DATE)"), 0)
        << message(c.ca);
    ASSERT_EQ(c.exec("INSERT INTO e (d, t, ts) VALUES ('2012/03/04', '05:06:07', '2012/03/04 05:06:07:250'),"
                     " ('2011/12/31', '23:59:59', '2011/12/31 23:59:59:999')"),
              0);
    EXPECT_EQ(c.query("SELECT d FROM e WHERE d = '2012/03/04'"), (Rows{{"2012-03-04"}}));
    EXPECT_EQ(c.query("SELECT t FROM e WHERE d > '2012/01/01'"), (Rows{{"05:06:07"}}));
    EXPECT_EQ(c.query("SELECT ts FROM e WHERE ts < '2012/03/04 05:06:07:251' ORDER BY ts"),
              (Rows{{"2011-12-31 23:59:59.999"}, {"2012-03-04 05:06:07.250"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM e WHERE CAST(created AS VARCHAR(10)) LIKE '____/__/__'"), (Rows{{"2"}}));
    EXPECT_EQ(c.query("SELECT year(d), dayname(ts) FROM e ORDER BY d"), (Rows{{"2011", "Saturday"}, {"2012", "Sunday"}}));
}

// The literal forms written for date and time parameters: every field at its fixed width,
// zero-padded, and a field wider than its width (never a checked value) as printf gives it.
TEST(Esql92Values, DateTimeTextIsTheServersLiteralForm) {
    using esql::DateTime;
    using esql::DtKind;
    struct Case {
        DateTime v;
        DtKind kind;
        const char* text;
    };
    const Case cases[] = {
        {{2012, 3, 4, 0, 0, 0, 0}, DtKind::Date, "2012/03/04"},
        {{1, 1, 1, 0, 0, 0, 0}, DtKind::Date, "0001/01/01"},
        {{9999, 12, 31, 0, 0, 0, 0}, DtKind::Date, "9999/12/31"},
        {{0, 0, 0, 5, 6, 7, 0}, DtKind::Time, "05:06:07"},
        {{0, 0, 0, 23, 59, 59, 999}, DtKind::Time, "23:59:59"},
        {{2012, 3, 4, 5, 6, 7, 250}, DtKind::Timestamp, "2012/03/04 05:06:07:250"},
        {{2000, 10, 20, 0, 0, 0, 5}, DtKind::Timestamp, "2000/10/20 00:00:00:005"},
        {{12345, 1, 2, 0, 0, 0, 0}, DtKind::Date, "12345/01/02"},
        {{-5, 1, 2, 3, 4, 5, 1000}, DtKind::Timestamp, "-005/01/02 03:04:05:1000"},
    };
    for (const Case& k : cases) {
        char out[esql::kDateTimeTextMax];
        const size_t n = esql::formatDateTime(k.v, k.kind, out);
        EXPECT_EQ(std::string(out, n), k.text);
        EXPECT_EQ(esql::formatDateTime(k.v, k.kind), k.text);
    }
}

// The agent's catalog queries, with their optional parts settled for the names given.
class Esql92Catalog : public Esql92Dialect {
protected:
    void SetUp() override {
        Esql92Dialect::SetUp();
        for (const char* sql : {
                 "CREATE TABLE customer (id INTEGER PRIMARY KEY, name VARCHAR(30) NOT NULL UNIQUE,"
                 " balance NUMERIC(10,2) DEFAULT 0)",
                 "CREATE TABLE orders (id INTEGER, cust INTEGER REFERENCES customer (id), placed DATE,"
                 " PRIMARY KEY (id))",
                 "CREATE INDEX ix_placed ON orders (placed DESC)",
                 "CREATE VIEW big AS SELECT * FROM customer WHERE balance > 1000",
             })
            ASSERT_EQ(c.exec(sql), 0) << sql << ": " << message(c.ca);
        ASSERT_EQ(c.commit(), 0);
    }

    // Types of the described result columns.
    std::vector<int32_t> types(const std::string& sql) {
        ESQL_CURHDL cur;
        std::vector<int32_t> out;
        if (c.prepare(sql, cur) < 0)
            return out;
        PRO_SQLDA* da = c.describe(cur);
        uint32_t n = 0;
        PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_COUNT, &n, nullptr);
        for (uint32_t k = 1; k <= n; ++k) {
            int32_t t = 0;
            PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, k, &t, nullptr);
            out.push_back(t);
        }
        PRO_SQLDA_Deallocate(da);
        return out;
    }
};

const char kColumns[] =
    R"( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", c2."_Owner" "TABLE_SCHEM", c2."_File-Name" "TABLE_NAME", c1."_Field-Name" "COLUMN_NAME", DECODE (c1."_Extent", 0, CAST (DECODE (c1."_Data-Type", 'recid', 4, "_dtype") AS SMALLINT),1) "DATA_TYPE", c1."_Fetch-type" "TYPE_NAME", c1."_Width" "COLUMN_SIZE", c1."_Width" "BUFFER_LENGTH", CAST (c1."_Decimals" AS SMALLINT) "DECIMAL_DIGITS", CAST (10 AS SMALLINT) "NUM_PREC_RADIX", CAST (DECODE ("_Mandatory", 1, 0, 0, 1) AS SMALLINT) "NULLABLE", CAST (NULL AS VARCHAR) "REMARKS", c1."_Initial" "COLUMN_DEF", CAST (0 AS SMALLINT) "SQL_DATA_TYPE", CAST (0 AS SMALLINT) "SQL_DATETIME_SUB", DECODE (c1."_Fetch-type", 'character', c1."_Width", 'char', c1."_Width", 'varchar', c1."_Width", cast (NULL as integer)) "CHAR_OCTET_LENGTH", c1."_field-rpos" "ORDINAL_POSITION", rtrim (DECODE (c1."_Mandatory", 1, 'NO', 'YES')) "IS_NULLABLE" FROM pub."_Field" c1, pub."_File" c2 WHERE c2."_File-Name" = 'customer' AND c2.rowid = c1."_File-recid" ORDER BY 2, 3, c1."_field-rpos" )";

TEST_F(Esql92Catalog, ColumnsOfATable) {
    EXPECT_EQ(c.query(kColumns),
              (Rows{{"NULL", "PUB", "customer", "id", "4", "integer", "10", "10", "0", "10", "0", "NULL", "NULL", "0",
                     "0", "NULL", "2", "NO"},
                    {"NULL", "PUB", "customer", "name", "1", "varchar", "30", "30", "0", "10", "0", "NULL", "NULL",
                     "0", "0", "30", "3", "NO"},
                    {"NULL", "PUB", "customer", "balance", "5", "numeric", "10", "10", "2", "10", "1", "NULL", "0",
                     "0", "0", "NULL", "4", "YES"}}))
        << message(c.ca);
    // The agent replaces these descriptions by its own (DATA_TYPE becomes SMALLINT); the
    // integer columns then arrive as wide as the elements it binds.
    EXPECT_EQ(types(kColumns),
              (std::vector<int32_t>{ESQL_VARCHAR, ESQL_VARCHAR, ESQL_VARCHAR, ESQL_VARCHAR, ESQL_INTEGER, ESQL_VARCHAR,
                                    ESQL_INTEGER, ESQL_INTEGER, ESQL_SMALLINT, ESQL_SMALLINT, ESQL_SMALLINT,
                                    ESQL_VARCHAR, ESQL_VARCHAR, ESQL_SMALLINT, ESQL_SMALLINT, ESQL_INTEGER,
                                    ESQL_INTEGER, ESQL_VARCHAR}));
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare(kColumns, cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = bindAll(da, 4);
    int16_t dataTypes[4] = {};
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 5, 2, nullptr);
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 5, dataTypes, nullptr);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND);
    EXPECT_EQ(dataTypes[0], 4);
    EXPECT_EQ(dataTypes[1], 1);
    EXPECT_EQ(dataTypes[2], 5);
    PRO_SQLDA_Deallocate(da);
}

TEST_F(Esql92Catalog, TablesSchemasAndTypes) {
    EXPECT_EQ(c.query(R"( SELECT cast (null as varchar) TABLE_CAT, "_Owner" TABLE_SCHEM, "_File-Name" TABLE_NAME, rtrim (decode("_Tbl-Type", 'S', 'SYSTEM TABLE', 'T', 'TABLE', 'V', 'VIEW')) TABLE_TYPE, cast (null as varchar) REMARKS FROM PUB."_File" WHERE "_Owner" = 'PUB' AND "_Tbl-Type" IN ('T','V','S') ORDER BY 2, 3 )"),
              (Rows{{"NULL", "PUB", "_Field", "SYSTEM TABLE", "NULL"},
                    {"NULL", "PUB", "_File", "SYSTEM TABLE", "NULL"},
                    {"NULL", "PUB", "_Index", "SYSTEM TABLE", "NULL"},
                    {"NULL", "PUB", "_Index-Field", "SYSTEM TABLE", "NULL"},
                    {"NULL", "PUB", "big", "VIEW", "NULL"},
                    {"NULL", "PUB", "customer", "TABLE", "NULL"},
                    {"NULL", "PUB", "orders", "TABLE", "NULL"}}))
        << message(c.ca);
    EXPECT_EQ(c.query(R"( SELECT DISTINCT cast (null as varchar) TABLE_CAT, "_Owner" TABLE_SCHEM, cast (null as varchar) TABLE_NAME, cast (null as varchar) TABLE_TYPE, cast (null as varchar) REMARKS FROM PUB."_File" WHERE "_Tbl-Type" IN ('T','V','S') ORDER BY 2 )"),
              (Rows{{"NULL", "PUB", "NULL", "NULL", "NULL"}, {"NULL", "SYSPROGRESS", "NULL", "NULL", "NULL"}}));
    EXPECT_EQ(c.query(R"( SELECT DISTINCT cast (null as varchar) TABLE_CAT, cast (null as varchar) TABLE_SCHEM, cast (null as varchar) TABLE_NAME, decode("_Tbl-Type", 'T', 'TABLE', 'S', 'SYSTEM TABLE', 'V', 'VIEW') TABLE_TYPE, cast (null as varchar) REMARKS FROM PUB."_File" WHERE "_Tbl-Type" IN ('T', 'V', 'S') ORDER BY 4 )"),
              (Rows{{"NULL", "NULL", "NULL", "SYSTEM TABLE", "NULL"},
                    {"NULL", "NULL", "NULL", "TABLE", "NULL"},
                    {"NULL", "NULL", "NULL", "VIEW", "NULL"}}));
    // A table created later shows at once.
    ASSERT_EQ(c.exec("CREATE TABLE later (x INTEGER)"), 0);
    EXPECT_EQ(c.query("SELECT TBL, TBLTYPE FROM SYSPROGRESS.SYSTABLES WHERE OWNER = 'PUB' AND TBL LIKE 'l%'"),
              (Rows{{"later", "T"}}));
}

TEST_F(Esql92Catalog, KeysIndexesAndPrivileges) {
    EXPECT_EQ(c.query(R"( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", OWNER "TABLE_SCHEM", TBLNAME "TABLE_NAME", COLNAME "COLUMN_NAME", CAST (COLPOSITION + 1 AS SMALLINT) "KEY_SEQ", CNSTRNAME "PK_NAME" FROM SYSPROGRESS.SYS_KEYCOL_USAGE WHERE TBLNAME = 'customer' AND 1 = 1 UNION SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", "_Owner" "TABLE_SCHEM", "_File-Name" "TABLE_NAME", "_Field-Name" "COLUMN_NAME", CAST ("_Index-Seq" AS SMALLINT) "KEY_SEQ", "_Index-Name" "PK_NAME" FROM PUB."_File", PUB."_Index-Field", PUB."_Field", PUB."_Index" WHERE "_File-name" = 'customer' AND "_Index".rowid = "_File"."_Prime-Index" AND cast("_Index-field"."_Index-Recid" as int) = cast ("_File"."_Prime-Index" as int) AND "_Field".rowid ="_Index-field"."_Field-Recid" AND length("_Field"."_Field-Name") > 0 AND NOT EXISTS (SELECT * FROM SYSPROGRESS.SYS_KEYCOL_USAGE Owner WHERE TBLNAME = 'customer' AND 1 = 1) ORDER BY 2,3,5 )"),
              (Rows{{"NULL", "PUB", "customer", "id", "1", "pk_customer"},
                    {"NULL", "PUB", "customer", "name", "1", "sqlite_autoindex_customer_1"}}))
        << message(c.ca);   // every key constraint's columns: the agent keeps the primary key's
    EXPECT_EQ(c.query(R"( SELECT CAST (NULL AS VARCHAR) "PKTABLE_CAT", RC.REFOWNER "PKTABLE_SCHEM", RC.REFTBLNAME "PKTABLE_NAME", PK.COLNAME "PKCOLUMN_NAME", CAST (NULL AS VARCHAR) "FKTABLE_CAT", RC.OWNER "FKTABLE_SCHEM", RC.TBLNAME "FKTABLE_NAME", FK.COLNAME "FKCOLUMN_NAME", CAST (FK.COLPOSITION AS SMALLINT) "KEY_SEQ", CAST (3 AS SMALLINT) "UPDATE_RULE", CAST (3 AS SMALLINT) "DELETE_RULE", RC.CNSTRNAME "FK_NAME", RC.REFCNSTRNAME "PK_NAME", CAST (0 AS SMALLINT) "DEFERRABILITY" FROM SYSPROGRESS.SYS_REF_CONSTRS RC, SYSPROGRESS.SYS_KEYCOL_USAGE PK, SYSPROGRESS.SYS_KEYCOL_USAGE FK WHERE RC.REFTBLNAME = 'customer' AND PK.OWNER = RC.REFOWNER AND PK.TBLNAME = RC.REFTBLNAME AND PK.CNSTRNAME = RC.REFCNSTRNAME AND FK.OWNER = RC.OWNER AND FK.TBLNAME = RC.TBLNAME AND FK.CNSTRNAME = RC.CNSTRNAME ORDER BY 5,6,7,9 )"),
              (Rows{{"NULL", "PUB", "customer", "id", "NULL", "PUB", "orders", "cust", "0", "3", "3", "fk_orders_0",
                     "pk_customer", "0"}}))
        << message(c.ca);
    EXPECT_EQ(c.query(R"( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", SI.TBLOWNER "TABLE_SCHEM", SI.TBL "TABLE_NAME", CAST (DECODE (SI.IDXTYPE, 'U ', 0, 'D ', 1) AS SMALLINT) "NON_UNIQUE", SI.IDXOWNER "INDEX_QUALIFIER", SI.IDXNAME "INDEX_NAME", CAST (3 AS SMALLINT) "TYPE", CAST (SI.IDXSEQ + 1 AS SMALLINT) "ORDINAL_POSITION", SI.COLNAME "COLUMN_NAME", RTRIM (SI.IDXORDER) "ASC_OR_DESC", CAST (NULL AS INTEGER) "CARDINALITY", CAST (NULL AS INTEGER) "PAGES", CAST (NULL AS VARCHAR) "FILTER_CONDITION" FROM SYSPROGRESS.SYSINDEXES SI WHERE SI.TBL = 'orders' AND SI.IDXNAME <> 'default' ORDER BY 4,7,5,6,8 )"),
              (Rows{{"NULL", "PUB", "orders", "0", "PUB", "pk_orders", "3", "1", "id", "A", "NULL", "NULL", "NULL"},
                    {"NULL", "PUB", "orders", "1", "PUB", "ix_placed", "3", "1", "placed", "D", "NULL", "NULL",
                     "NULL"}}))
        << message(c.ca);
    EXPECT_EQ(c.query(R"( SELECT CAST (0 AS SMALLINT) "SCOPE", SI.COLNAME "COLUMN_NAME", CAST (DECODE (SC.COLTYPE, 'varchar', 1, 'date', 2, 'bit', 3, 'integer', 4, 'numeric', 5, 'varbinary', 8, 'tinyint', 21, 'smallint', 22, 'real', 24, 'float', 25, 'character', 31, 'bigint', 32, 'time', 33, 'timestamp', 34, 'binary', 35, CAST (NULL AS SMALLINT)) AS SMALLINT) "DATA_TYPE", SC.COLTYPE "TYPE_NAME", SC.WIDTH "COLUMN_SIZE", SC.WIDTH "BUFFER_LENGTH", CAST (SC.SCALE AS SMALLINT) "DECIMAL_DIGITS", 1 "PSEUDO_COLUMN", SI.IDXSEQ "SEQ_IN_INDEX", SI.TBLOWNER "TABLE_SCHEM", SI.TBL "TABLE_NAME", SI.IDXNAME "INDEX_NAME" FROM SYSPROGRESS.SYSCOLUMNS SC, SYSPROGRESS.SYSINDEXES SI WHERE SI.IDXTYPE like 'U%' AND SI.IDXMETHOD = 'B' AND SI.TBL = SC.TBL AND SI.TBLOWNER = SC.OWNER AND SI.COLNAME = SC.COL AND SI.TBL = 'customer' ORDER BY SI.IDXNAME )"),
              (Rows{{"0", "id", "4", "integer", "10", "10", "0", "1", "0", "PUB", "customer", "pk_customer"},
                    {"0", "name", "1", "varchar", "30", "30", "0", "1", "0", "PUB", "customer",
                     "sqlite_autoindex_customer_1"}}))
        << message(c.ca);
    Rows privileges = c.query(R"( SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'REFERENCES' "PRIVILEGE", RTRIM ( DECODE (REF, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE TBL = 'customer' AND (REF = 'y' OR REF = 'g') UNION ALL SELECT CAST (NULL AS VARCHAR) "TABLE_CAT", TBLOWNER "TABLE_SCHEM", TBL "TABLE_NAME", GRANTOR, GRANTEE, 'SELECT' "PRIVILEGE", RTRIM ( DECODE (SEL, 'y', 'NO', 'g', 'YES', CAST (NULL AS VARCHAR)) ) "IS_GRANTABLE" FROM SYSPROGRESS.SYSTABAUTH WHERE TBL = 'customer' AND (SEL = 'y' OR SEL = 'g') ORDER BY 2, 3, 6 )");
    // Without grants the owner holds every privilege, with grant option.
    EXPECT_EQ(privileges, (Rows{{"NULL", "PUB", "customer", "PUB", "PUB", "REFERENCES", "YES"},
                                {"NULL", "PUB", "customer", "PUB", "PUB", "SELECT", "YES"}}))
        << message(c.ca);
    // The catalog the server keeps empty here: procedures.
    EXPECT_EQ(c.query("SELECT count(*) FROM SYSPROGRESS.SYSPROCEDURES"), (Rows{{"0"}}));
}

// DECODE: any number of pairs, NULL matching NULL, the server's padded codes matching
// without their trailing blanks.
TEST_F(Esql92Dialect, DecodeMatchesNullsAndPaddedCodes) {
    EXPECT_EQ(value("decode('U ', 'U', 'unique', 'D', 'dup', 'other')"), "unique");
    EXPECT_EQ(value("decode('D', 'U ', 0, 'D ', 1)"), "1");
    EXPECT_EQ(value("decode(NULL, 1, 'one', NULL, 'null', 'other')"), "null");
    EXPECT_EQ(value("decode(3, 1, 'a', 2, 'b', 3, 'c', 4, 'd', 'e')"), "c");
    EXPECT_EQ(value("decode('x ', 'y', 1)"), "NULL");
}

// The catalog follows the file's schema: rebuilt after a change (also another
// connection's), not on a repeated query, and forgotten with a rollback that takes a
// change back. It is never written into the user's file.
TEST_F(Esql92Catalog, FollowsTheSchemaWithoutRebuildingForNothing) {
    const std::string tables = R"(SELECT "_File-Name" FROM PUB."_File" WHERE "_Tbl-Type" = 'T' ORDER BY 1)";
    EXPECT_EQ(c.query(tables), (Rows{{"customer"}, {"orders"}}));
    uint64_t builds = esql::lite::catalogBuilds();
    EXPECT_EQ(c.query(tables), (Rows{{"customer"}, {"orders"}}));
    EXPECT_EQ(esql::lite::catalogBuilds(), builds);

    ASSERT_EQ(c.commit(), 0);
    ASSERT_EQ(c.exec("CREATE TABLE draft (x INTEGER)"), 0);
    EXPECT_EQ(c.query(tables), (Rows{{"customer"}, {"draft"}, {"orders"}}));
    ASSERT_EQ(c.rollback(), 0);
    EXPECT_EQ(c.query(tables), (Rows{{"customer"}, {"orders"}}));
    // The same schema version again, with another table.
    ASSERT_EQ(c.exec("CREATE TABLE other (y INTEGER)"), 0);
    EXPECT_EQ(c.query(tables), (Rows{{"customer"}, {"orders"}, {"other"}}));
    ASSERT_EQ(c.commit(), 0);

    Conn d(f.target(), "dialect-second");
    ASSERT_EQ(d.exec("DROP TABLE other"), 0);
    ASSERT_EQ(d.commit(), 0);
    EXPECT_EQ(c.query(tables), (Rows{{"customer"}, {"orders"}}));
    ASSERT_EQ(c.commit(), 0);

    EXPECT_EQ(c.query("SELECT count(*) FROM PUB.sqlite_schema WHERE name LIKE '\\_%' ESCAPE '\\' OR name LIKE 'SYS%'"),
              (Rows{{"0"}}));
    // rowid answers on the catalog's tables, which the joins of the catalog queries need.
    EXPECT_EQ(c.query(R"(SELECT count(*) FROM PUB."_File" WHERE rowid IS NULL)"), (Rows{{"0"}}));
}

// A view whose table was dropped is still listed, as the server keeps an invalid view, but
// without columns; every other object of the file reads as before, and the catalog builds
// again once the view goes.
TEST_F(Esql92Catalog, AViewLeftInvalidBreaksNothingElse) {
    for (const char* sql : {"CREATE TABLE gone (x INTEGER, y INTEGER)", "CREATE VIEW orphan AS SELECT x FROM gone",
                            "CREATE VIEW zombie AS SELECT y FROM gone", "DROP TABLE gone"})
        ASSERT_EQ(c.exec(sql), 0) << sql << ": " << message(c.ca);
    ASSERT_EQ(c.commit(), 0);
    EXPECT_EQ(c.query(R"(SELECT "_File-Name", "_Tbl-Type" FROM PUB."_File" WHERE "_Owner" = 'PUB' AND "_Tbl-Type" <> 'S' ORDER BY 1)"),
              (Rows{{"big", "V"}, {"customer", "T"}, {"orders", "T"}, {"orphan", "V"}, {"zombie", "V"}}))
        << message(c.ca);
    EXPECT_EQ(c.query("SELECT TBL, count(*) FROM SYSPROGRESS.SYSCOLUMNS WHERE OWNER = 'PUB' AND TBL NOT LIKE '\\_%' ESCAPE '\\' GROUP BY TBL ORDER BY 1"),
              (Rows{{"big", "3"}, {"customer", "3"}, {"orders", "3"}}))
        << message(c.ca);
    EXPECT_EQ(c.query("SELECT TBL, COLNAME FROM SYSPROGRESS.SYSINDEXES WHERE TBL = 'orders' ORDER BY 1, 2"),
              (Rows{{"orders", "id"}, {"orders", "placed"}}))
        << message(c.ca);
    // The view itself still fails when read, with what is missing named.
    EXPECT_LT(c.exec("SELECT * FROM orphan"), 0);
    EXPECT_EQ(state(c.ca), "42S02");
    EXPECT_NE(message(c.ca).find("gone"), std::string::npos) << message(c.ca);
    ASSERT_EQ(c.rollback(), 0);
    for (const char* sql : {"DROP VIEW orphan", "DROP VIEW zombie"})
        ASSERT_EQ(c.exec(sql), 0) << sql << ": " << message(c.ca);
    EXPECT_EQ(c.query(R"(SELECT count(*) FROM PUB."_File" WHERE "_Tbl-Type" = 'V')"), (Rows{{"1"}})) << message(c.ca);
}

// SYSPROGRESS.SYSCALCTABLE: one row to select expressions from, listed as a system table,
// and still one row after the catalog was built again.
TEST_F(Esql92Catalog, CalcTableHasOneRow) {
    EXPECT_EQ(c.query("SELECT 6 * 7, FLD FROM SYSPROGRESS.SYSCALCTABLE"), (Rows{{"42", "X"}})) << message(c.ca);
    EXPECT_EQ(c.query(R"(SELECT "_Owner", "_Tbl-Type" FROM PUB."_File" WHERE "_File-Name" = 'SYSCALCTABLE')"),
              (Rows{{"SYSPROGRESS", "S"}}))
        << message(c.ca);
    EXPECT_EQ(c.query("SELECT COL, COLTYPE, WIDTH FROM SYSPROGRESS.SYSCOLUMNS WHERE TBL = 'SYSCALCTABLE'"),
              (Rows{{"FLD", "varchar", "1"}}));
    ASSERT_EQ(c.exec("CREATE TABLE later (x INTEGER)"), 0);
    EXPECT_EQ(c.query("SELECT TBL FROM SYSPROGRESS.SYSTABLES WHERE TBL = 'later'"), (Rows{{"later"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM SYSPROGRESS.SYSCALCTABLE"), (Rows{{"1"}}));
}

// What SQLite's schema gives the catalog beyond tables and columns: remarks from comments,
// keys of several columns (a foreign key's columns taking the positions of the key columns
// they refer to), unique constraints, the primary index, names without regard to case.
TEST_F(Esql92Catalog, KeysRemarksAndPrimaryIndexes) {
    for (const char* sql : {
             "CREATE TABLE head -- the order heads\n (a INTEGER NOT NULL, -- first half of the key\n"
             " b VARCHAR(10) NOT NULL, -- second half\n note VARCHAR(20), PRIMARY KEY (a, b))",
             "CREATE TABLE line (n INTEGER, hb VARCHAR(10), ha INTEGER, FOREIGN KEY (hb, ha) REFERENCES head (b, a))",
             "CREATE TABLE tag (code VARCHAR(5), CONSTRAINT tag_code UNIQUE (code))",
         })
        ASSERT_EQ(c.exec(sql), 0) << sql << ": " << message(c.ca);
    EXPECT_EQ(c.query(R"(SELECT "_Desc" FROM PUB."_File" WHERE "_File-Name" = 'HEAD')"), (Rows{{"the order heads"}}));
    EXPECT_EQ(c.query(R"(SELECT f."_Field-Name", f."_Desc" FROM PUB."_Field" f, PUB."_File" t WHERE t.rowid = f."_File-recid" AND t."_File-Name" = 'head' ORDER BY f."_Order")"),
              (Rows{{"a", "first half of the key"}, {"b", "second half"}, {"note", "NULL"}}));
    EXPECT_EQ(c.query("SELECT TBLNAME, CNSTRNAME, COLNAME, COLPOSITION FROM SYSPROGRESS.SYS_KEYCOL_USAGE"
                      " WHERE TBLNAME IN ('head', 'line', 'tag') ORDER BY 1, 4"),
              (Rows{{"head", "pk_head", "a", "0"},
                    {"head", "pk_head", "b", "1"},
                    {"line", "fk_line_0", "ha", "0"},
                    {"line", "fk_line_0", "hb", "1"},
                    {"tag", "sqlite_autoindex_tag_1", "code", "0"}}));
    EXPECT_EQ(c.query("SELECT TBLNAME, CNSTRTYPE FROM SYSPROGRESS.SYS_TBL_CONSTRS WHERE TBLNAME IN ('head', 'line', 'tag') ORDER BY 1"),
              (Rows{{"head", "P"}, {"line", "F"}, {"tag", "U"}}));
    // The primary index: the key's, else the first unique index.
    EXPECT_EQ(c.query(R"(SELECT t."_File-Name", i."_Index-Name" FROM PUB."_File" t LEFT JOIN PUB."_Index" i ON i.rowid = t."_Prime-Index" WHERE t."_File-Name" IN ('head', 'line', 'tag') ORDER BY 1)"),
              (Rows{{"head", "pk_head"}, {"line", "NULL"}, {"tag", "sqlite_autoindex_tag_1"}}));
    EXPECT_EQ(c.query("SELECT IDXTYPE || '|' FROM SYSPROGRESS.SYSINDEXES WHERE TBL = 'tag' AND IDXTYPE = 'U'"),
              (Rows{{"U |"}}));
}

}  // namespace
