// The SQLite back-end of the ESQL-92 client stand-in through its C API: connections and the
// current connection, implicit transactions, prepare and describe, block fetch, execute
// counts, and every server type in both directions.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;

// An input SQLDA with typed parameter columns and rows.
class Params {
public:
    Params(uint32_t cols, uint32_t rows) : rows_(rows), bufs_(cols), inds_(cols, std::vector<int32_t>(rows, 0)) {
        da = PRO_SQLDA_Allocate(cols, ESQL_SQLDA_INPUT);
        PRO_SQLDA_Set_DA_Attribute_dh_u32_t(da, ESQL_DA_ROWS, rows, nullptr);
    }
    ~Params() { PRO_SQLDA_Deallocate(da); }

    // Elements of `len` bytes from raw bytes, one string per row ("" with null=true: NULL).
    void raw(uint32_t col, int32_t type, uint32_t len, const std::vector<std::string>& values) {
        std::vector<char>& b = bufs_[col - 1];
        b.assign(static_cast<size_t>(len) * rows_, 0);
        for (size_t r = 0; r < values.size() && r < rows_; ++r)
            std::memcpy(b.data() + r * len, values[r].data(), std::min<size_t>(values[r].size(), len));
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, col, type, nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, col, len, nullptr);
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, col, b.data(), nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, col, inds_[col - 1].data(), nullptr);
    }
    void text(uint32_t col, const std::vector<std::string>& values, uint32_t len = 64) {
        raw(col, ESQL_VARCHAR, len, values);
    }
    template <typename T>
    void value(uint32_t col, int32_t type, const std::vector<T>& values) {
        std::vector<std::string> bytes;
        for (const T& v : values)
            bytes.emplace_back(reinterpret_cast<const char*>(&v), sizeof v);
        raw(col, type, sizeof(T), bytes);
    }
    void null(uint32_t col, uint32_t row) { inds_[col - 1][row] = -1; }

    PRO_SQLDA* da;

private:
    uint32_t rows_;
    std::vector<std::vector<char>> bufs_;
    std::vector<std::vector<int32_t>> inds_;
};

std::string binaryElement(const std::string& bytes) {
    int32_t n = static_cast<int32_t>(bytes.size());
    return std::string(reinterpret_cast<const char*>(&n), 4) + bytes;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// ---------------------------------------------------------------------------------------

TEST(Esql92Connect, BadTargetsAndArgumentsAreRefused) {
    TempDb f;
    const char* targets[] = {"", "progress:T:h:s:", "oracle:T:h:s:x.db", "progress:X:h:s:x.db", "progress:T:h",
                             "progress:T:h:s:/nonexistent-dir/x.db"};
    for (const char* target : targets) {
        ESQL_SQLCA ca;
        EXPECT_LT(tpe_sqlconnect(target, "bad-target", nullptr, nullptr, nullptr, &ca), 0) << target;
        EXPECT_EQ(state(ca), "08001") << target;
        EXPECT_GT(ca.sqlerrml, 0);
    }
    ESQL_SQLCA ca;
    EXPECT_EQ(tpe_sqlconnect(f.target().c_str(), nullptr, nullptr, nullptr, nullptr, &ca), ESQL_ERR_NULL_ARGUMENT);
    EXPECT_EQ(state(ca), "HY009");
    EXPECT_EQ(tpe_sqlconnect(nullptr, "no-target", nullptr, nullptr, nullptr, &ca), ESQL_ERR_NULL_ARGUMENT);
    EXPECT_EQ(tpe_sql_setconnection("bad-target", &ca), ESQL_ERR_NO_CONNECTION);
    EXPECT_EQ(state(ca), "08003");

    // A file that is not a database.
    { std::ofstream(f.path()) << "this is not a database file, it is plain text and long enough to tell\n"; }
    EXPECT_LT(tpe_sqlconnect(f.target().c_str(), "not-a-db", nullptr, nullptr, nullptr, &ca), 0);
    EXPECT_EQ(state(ca), "08001");
}

TEST(Esql92Connect, NamesCurrentConnectionAndLevels) {
    TempDb f1, f2;
    ASSERT_FALSE(fileExists(f1.path()));
    Conn a(f1.target(), "names-a");
    ASSERT_EQ(a.rc, 0) << message(a.ca);
    EXPECT_TRUE(fileExists(f1.path()));   // a missing file is created
    EXPECT_EQ(tpe_get_curdbhdl(), a.db);
    Conn b(f2.target(), "names-b");
    ASSERT_EQ(b.rc, 0) << message(b.ca);
    EXPECT_EQ(tpe_get_curdbhdl(), b.db);
    EXPECT_NE(a.db, b.db);

    ESQL_SQLCA ca;
    EXPECT_EQ(tpe_sqlconnect(f2.target().c_str(), "names-a", nullptr, nullptr, nullptr, &ca), ESQL_ERR_NAME_IN_USE);
    EXPECT_EQ(state(ca), "08002");
    EXPECT_EQ(tpe_get_curdbhdl(), b.db);   // a failed connect changes nothing

    EXPECT_EQ(tpe_sql_setconnection("names-a", &ca), 0);
    EXPECT_EQ(tpe_get_curdbhdl(), a.db);
    EXPECT_EQ(tpe_get_curtmhdl(), a.tm);
    EXPECT_EQ(tpe_tm_get_level(), 1);
    EXPECT_EQ(tpe_tm_set_level(3, &ca), 0);
    EXPECT_EQ(tpe_tm_set_level(4, &ca), ESQL_ERR_LEVEL);
    EXPECT_EQ(tpe_tm_get_level(), 3);
    EXPECT_EQ(tpe_sql_setconnection("names-b", &ca), 0);
    EXPECT_EQ(tpe_tm_get_level(), 1);   // levels are kept per connection
    EXPECT_EQ(tpe_sql_setconnection("names-unknown", &ca), ESQL_ERR_NO_CONNECTION);
    EXPECT_EQ(tpe_get_curdbhdl(), b.db);

    // Both work side by side.
    EXPECT_EQ(a.exec("CREATE TABLE ta (x INTEGER)"), 0) << message(a.ca);
    EXPECT_EQ(b.exec("CREATE TABLE tb (x INTEGER)"), 0) << message(b.ca);

    EXPECT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, "names-unknown", &ca), ESQL_ERR_NO_CONNECTION);
    EXPECT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, nullptr, &ca), ESQL_ERR_NULL_ARGUMENT);
    EXPECT_EQ(tpe_sql_setconnection("names-b", &ca), 0);
    EXPECT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_CURRENT, nullptr, &ca), 0);
    EXPECT_EQ(tpe_get_curdbhdl(), nullptr);
    EXPECT_EQ(tpe_tm_get_level(), -1);
    // The handles of a closed connection are refused.
    ESQL_CURHDL cur = nullptr;
    EXPECT_EQ(b.prepare("SELECT 1", cur), ESQL_ERR_NO_CONNECTION);
    unsigned char id[16] = {1};
    EXPECT_EQ(tpe_set_cursor(b.tm, b.db, &cur, id, 1, "SELECT 1", &ca), ESQL_ERR_NO_CONNECTION);
    EXPECT_EQ(state(ca), "08003");
    b.db = nullptr;
    // The name is free again.
    Conn again(f2.target(), "names-b");
    EXPECT_EQ(again.rc, 0);
}

TEST(Esql92Transactions, CommitRollbackAndAFailedStatement) {
    TempDb f;
    Conn a(f.target(), "tx-a");
    Conn b(f.target(), "tx-b");
    ASSERT_EQ(a.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v VARCHAR(10))"), 0) << message(a.ca);
    ASSERT_EQ(a.commit(), 0);
    auto count = [&] {
        Rows r = b.query("SELECT count(*) FROM t");
        b.commit();
        return r.empty() ? std::string("?") : r[0][0];
    };

    ASSERT_EQ(a.exec("INSERT INTO t VALUES (1, 'one')"), 0);
    EXPECT_EQ(count(), "0");   // not committed yet
    ASSERT_EQ(a.rollback(), 0);
    EXPECT_EQ(count(), "0");

    ASSERT_EQ(a.exec("INSERT INTO t VALUES (2, 'two')"), 0);
    EXPECT_EQ(a.exec("INSERT INTO t VALUES (2, 'again')"), -31555) << message(a.ca);   // SQLite's 1555
    EXPECT_EQ(state(a.ca), "23000");
    ASSERT_EQ(a.exec("INSERT INTO t VALUES (3, 'three')"), 0);   // the transaction lives on
    ASSERT_EQ(a.commit(), 0);
    EXPECT_EQ(count(), "2");

    // A mark without a transaction is harmless and does not outlive the end.
    EXPECT_EQ(a.rollback(), 0);
    ASSERT_EQ(a.exec("DELETE FROM t WHERE id = 3"), 0);
    ASSERT_EQ(a.commit(), 0);
    EXPECT_EQ(count(), "1");

    EXPECT_EQ(tpe_tm_end_trans(nullptr, &a.ca), ESQL_ERR_NO_CONNECTION);
    EXPECT_EQ(tpe_tm_mark_abort(reinterpret_cast<ESQL_TMHDL>(a.db), &a.ca), ESQL_ERR_NO_CONNECTION);
}

TEST(Esql92Transactions, TwoConnectionsShareOneFile) {
    TempDb f;
    Conn a(f.target(), "share-a");
    Conn b(f.target(), "share-b");
    ASSERT_EQ(a.exec("CREATE TABLE t (id INTEGER)"), 0);
    ASSERT_EQ(a.exec("INSERT INTO t VALUES (1), (2), (3)"), 0);
    ASSERT_EQ(a.commit(), 0);

    // b reads with an open cursor while a writes and commits: neither waits.
    ESQL_CURHDL cur;
    ASSERT_EQ(b.prepare("SELECT id FROM t ORDER BY id", cur), 0);
    PRO_SQLDA* da = b.describe(cur);
    auto cols = b.bind(da, 1);
    ASSERT_EQ(tpe_sqlopen(b.tm, b.db, cur, nullptr, &b.ca), 0);
    ASSERT_EQ(tpe_sqlfetch(b.tm, b.db, cur, da, &b.ca), 0);
    EXPECT_EQ(cols[0].get<int32_t>(0), 1);

    ASSERT_EQ(a.exec("INSERT INTO t VALUES (4)"), 0) << message(a.ca);
    ASSERT_EQ(a.commit(), 0) << message(a.ca);

    // b's cursor keeps its snapshot.
    int64_t rows = 1;
    while (tpe_sqlfetch(b.tm, b.db, cur, da, &b.ca) >= 0) {
        rows += b.ca.sqlrows;
        if (b.ca.sqlcode == ESQL_NOT_FOUND)
            break;
    }
    EXPECT_EQ(b.ca.sqlcode, ESQL_NOT_FOUND);
    EXPECT_EQ(rows, 3);
    tpe_sqlclose(b.tm, b.db, cur, &b.ca);
    PRO_SQLDA_Deallocate(da);
    ASSERT_EQ(b.commit(), 0);
    EXPECT_EQ(b.query("SELECT count(*) FROM t"), (Rows{{"4"}}));
}

TEST(Esql92Transactions, OpenCursorsSurviveTheEndOfATransaction) {
    // The agent's autocommit: a statement of the same connection commits while a query still
    // has rows to deliver.
    TempDb f;
    Conn c(f.target(), "tx-open-cursor");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER)"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (1), (2), (3)"), 0);
    ASSERT_EQ(c.commit(), 0);
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT id FROM t ORDER BY id", cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 1);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (4)"), 0);
    ASSERT_EQ(c.commit(), 0) << message(c.ca);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(cols[0].get<int32_t>(0), 2);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (5)"), 0);
    ASSERT_EQ(c.rollback(), 0) << message(c.ca);
    ASSERT_GE(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(c.ca.sqlrows, 1);
    EXPECT_EQ(cols[0].get<int32_t>(0), 3);
    tpe_sqlclose(c.tm, c.db, cur, &c.ca);
    PRO_SQLDA_Deallocate(da);
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (Rows{{"4"}}));
}

TEST(Esql92Cursor, SetUpAgainAfterTheEndOfATransaction) {
    TempDb f;
    Conn c(f.target(), "setup-again");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER)"), 0);
    unsigned char id[16] = {9, 9, 9};
    ESQL_CURHDL cur = nullptr, again = nullptr;
    const char* sql = "INSERT INTO t VALUES (7)";
    ASSERT_EQ(tpe_set_cursor(c.tm, c.db, &cur, id, 1, sql, &c.ca), 0);
    ASSERT_EQ(tpe_sqlprepare(c.tm, c.db, cur, &c.ca), 0);
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(c.commit(), 0);
    // The agent sets the cursor up again with the same identity; the handle stays.
    ASSERT_EQ(tpe_set_cursor(c.tm, c.db, &again, id, 1, sql, &c.ca), 0);
    EXPECT_EQ(again, cur);
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_SEQUENCE);   // not prepared yet
    ASSERT_EQ(tpe_sqlprepare(c.tm, c.db, cur, &c.ca), 0);
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(c.ca.sqlrows, 1);
    // The same identity with another text is another statement.
    ASSERT_EQ(tpe_set_cursor(c.tm, c.db, &again, id, 1, "SELECT count(*) FROM t", &c.ca), 0);
    ASSERT_EQ(tpe_sqlprepare(c.tm, c.db, cur, &c.ca), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 1);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND);
    EXPECT_EQ(cols[0].get<int32_t>(0), 2);
    PRO_SQLDA_Deallocate(da);
}

// ---------------------------------------------------------------------------------------

const char kAllTypes[] =
    "CREATE TABLE all_types (c CHARACTER(5) NOT NULL, v VARCHAR(20), i INTEGER, s SMALLINT, ti TINYINT,"
    " b BIT, bi BIGINT, r REAL, f FLOAT, dp DOUBLE PRECISION, n NUMERIC(12,3), d DATE, t TIME,"
    " ts TIMESTAMP, bn BINARY(6), vb VARBINARY(40))";

TEST(Esql92Describe, ColumnsOfEveryDeclaredType) {
    TempDb f;
    Conn c(f.target(), "describe-types");
    ASSERT_EQ(c.exec(kAllTypes), 0) << message(c.ca);
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT * FROM all_types", cur), 0);

    // A one-column SQLDA is too small: the count says how many are needed.
    PRO_SQLDA* small = PRO_SQLDA_Allocate(1, ESQL_SQLDA_OUTPUT);
    ASSERT_EQ(tpe_sqldescribe(c.tm, c.db, cur, small, &c.ca), 0);
    uint32_t count = 0;
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(small, ESQL_DA_COUNT, &count, &c.ca);
    EXPECT_EQ(static_cast<int32_t>(count), -16);
    PRO_SQLDA_Deallocate(small);

    PRO_SQLDA* da = c.describe(cur);
    struct Expect {
        const char* name;
        int32_t type;
        uint32_t length, precision;
        int16_t scale, nullable;
    } expect[] = {
        // Text elements hold their characters in UTF-8, up to four bytes each.
        {"c", ESQL_CHARACTER, 21, 5, 0, 0}, {"v", ESQL_VARCHAR, 81, 20, 0, 1}, {"i", ESQL_INTEGER, 4, 10, 0, 1},
        {"s", ESQL_SMALLINT, 2, 5, 0, 1},   {"ti", ESQL_TINYINT, 1, 3, 0, 1}, {"b", ESQL_BIT, 1, 1, 0, 1},
        {"bi", ESQL_BIGINT, 8, 19, 0, 1},   {"r", ESQL_REAL, 4, 7, 0, 1},     {"f", ESQL_FLOAT, 8, 15, 0, 1},
        {"dp", ESQL_FLOAT, 8, 15, 0, 1},    {"n", ESQL_NUMERIC, 30, 12, 3, 1}, {"d", ESQL_DATE, 4, 10, 0, 1},
        {"t", ESQL_TIME, 6, 8, 0, 1},       {"ts", ESQL_TIMESTAMP, 10, 23, 3, 1}, {"bn", ESQL_BINARY, 6, 6, 0, 1},
        {"vb", ESQL_VARBINARY, 40, 40, 0, 1},
    };
    for (uint32_t k = 1; k <= 16; ++k) {
        const Expect& e = expect[k - 1];
        const char* name = nullptr;
        int32_t type = 0;
        uint32_t length = 0, precision = 0;
        int16_t scale = -1, nullable = -1, updatable = -1;
        EXPECT_EQ(PRO_SQLDA_Get_Col_Attribute_char_p(da, ESQL_COL_NAME, k, &name, &c.ca), 0);
        PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, k, &type, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, k, &length, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_PRECISION, k, &precision, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_SCALE, k, &scale, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_NULLABLE, k, &nullable, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_UPDATABLE, k, &updatable, &c.ca);
        EXPECT_STREQ(name, e.name);
        EXPECT_EQ(type, e.type) << e.name;
        EXPECT_EQ(length, e.length) << e.name;
        EXPECT_EQ(precision, e.precision) << e.name;
        EXPECT_EQ(scale, e.scale) << e.name;
        EXPECT_EQ(nullable, e.nullable) << e.name;
        EXPECT_EQ(updatable, 1) << e.name;
    }
    PRO_SQLDA_Deallocate(da);

    // Parameters are described as VARCHAR; a statement without results describes none.
    ASSERT_EQ(c.prepare("UPDATE all_types SET v = ? WHERE i = ? AND s = ?", cur), 0);
    PRO_SQLDA* in = PRO_SQLDA_Allocate(3, ESQL_SQLDA_INPUT);
    ASSERT_EQ(tpe_sqldescribe_input(c.tm, c.db, cur, in, &c.ca), 0);
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(in, ESQL_DA_COUNT, &count, &c.ca);
    EXPECT_EQ(count, 3u);
    int32_t type = 0;
    PRO_SQLDA_Get_Col_Attribute_dh_i32_t(in, ESQL_COL_TYPE, 2, &type, &c.ca);
    EXPECT_EQ(type, ESQL_VARCHAR);
    PRO_SQLDA* out = PRO_SQLDA_Allocate(2, ESQL_SQLDA_OUTPUT);
    ASSERT_EQ(tpe_sqldescribe(c.tm, c.db, cur, out, &c.ca), 0);
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(out, ESQL_DA_COUNT, &count, &c.ca);
    EXPECT_EQ(count, 0u);
    // The wrong kind of SQLDA is refused.
    EXPECT_EQ(tpe_sqldescribe(c.tm, c.db, cur, in, &c.ca), ESQL_ERR_SQLDA_KIND);
    EXPECT_EQ(tpe_sqldescribe_input(c.tm, c.db, cur, out, &c.ca), ESQL_ERR_SQLDA_KIND);
    EXPECT_EQ(state(c.ca), "HY024");
    EXPECT_EQ(tpe_sqldescribe(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_NULL_ARGUMENT);
    PRO_SQLDA_Deallocate(in);
    PRO_SQLDA_Deallocate(out);
}

TEST(Esql92Describe, ExpressionsAreTyped) {
    TempDb f;
    Conn c(f.target(), "describe-expr");
    ASSERT_EQ(c.exec(kAllTypes), 0);
    struct Case {
        const char* expr;
        int32_t type;
        uint32_t precision;
        int16_t scale;
        const char* name;
    } cases[] = {
        {"i", ESQL_INTEGER, 10, 0, "i"},
        {"a.v", ESQL_VARCHAR, 20, 0, "v"},
        {"CAST(i AS VARCHAR(8)) AS x", ESQL_VARCHAR, 8, 0, "x"},
        {"CAST(n AS INTEGER) y", ESQL_INTEGER, 10, 0, "y"},
        {"'abc'", ESQL_VARCHAR, 3, 0, ""},
        {"42", ESQL_INTEGER, 10, 0, ""},
        {"12345678901", ESQL_BIGINT, 19, 0, ""},
        {"1.50", ESQL_NUMERIC, 3, 2, ""},
        {"1e3", ESQL_FLOAT, 15, 0, ""},
        {"i + 1", ESQL_INTEGER, 10, 0, ""},
        {"i * bi", ESQL_BIGINT, 19, 0, ""},
        {"n * i", ESQL_NUMERIC, 22, 3, ""},
        {"n + 1.5", ESQL_NUMERIC, 13, 3, ""},
        {"f * i", ESQL_FLOAT, 15, 0, ""},
        {"-s", ESQL_SMALLINT, 5, 0, ""},
        {"count(*)", ESQL_INTEGER, 10, 0, ""},
        {"sum(i)", ESQL_BIGINT, 19, 0, ""},
        {"max(v)", ESQL_VARCHAR, 20, 0, ""},
        {"avg(i)", ESQL_FLOAT, 15, 0, ""},
        {"avg(n)", ESQL_NUMERIC, 19, 10, ""},
        {"12345678901234567890123456789", ESQL_NUMERIC, 29, 0, ""},
        {"-1234567890123456789.0123456789", ESQL_NUMERIC, 29, 10, ""},
        {"DECODE(i, 1, 'one', 2, 'three')", ESQL_VARCHAR, 5, 0, ""},
        {"DECODE(s, 1, 10, 20) AS k", ESQL_INTEGER, 10, 0, "k"},
        {"CASE WHEN i > 0 THEN n ELSE 0 END", ESQL_NUMERIC, 13, 3, ""},
        {"CASE i WHEN 1 THEN d END", ESQL_DATE, 10, 0, ""},
        {"v || c", ESQL_VARCHAR, 25, 0, ""},
        {"ucase(v)", ESQL_VARCHAR, 20, 0, ""},
        {"left(v, 2)", ESQL_VARCHAR, 20, 0, ""},
        {"convert(SQL_CHAR, i)", ESQL_VARCHAR, 11, 0, ""},
        {"convert(SQL_DECIMAL, s)", ESQL_NUMERIC, 5, 0, ""},
        {"convert(SQL_TIMESTAMP, d)", ESQL_TIMESTAMP, 23, 3, ""},
        {"sysdate", ESQL_DATE, 10, 0, ""},
        {"curtime()", ESQL_TIME, 8, 0, ""},
        {"year(d)", ESQL_INTEGER, 10, 0, ""},
        {"dayname(d)", ESQL_VARCHAR, 9, 0, ""},
        {"CAST(NULL AS SMALLINT)", ESQL_SMALLINT, 5, 0, ""},
        {"(i)", ESQL_INTEGER, 10, 0, "i"},
    };
    for (const Case& k : cases) {
        ESQL_CURHDL cur;
        ASSERT_EQ(c.prepare(std::string("SELECT ") + k.expr + " FROM all_types a", cur), 0) << k.expr << ": "
                                                                                              << message(c.ca);
        PRO_SQLDA* da = c.describe(cur);
        int32_t type = 0;
        uint32_t precision = 0;
        int16_t scale = -1;
        const char* name = nullptr;
        PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 1, &type, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_PRECISION, 1, &precision, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_dh_i16_t(da, ESQL_COL_SCALE, 1, &scale, &c.ca);
        PRO_SQLDA_Get_Col_Attribute_char_p(da, ESQL_COL_NAME, 1, &name, &c.ca);
        EXPECT_EQ(type, k.type) << k.expr;
        EXPECT_EQ(precision, k.precision) << k.expr;
        EXPECT_EQ(scale, k.scale) << k.expr;
        EXPECT_STREQ(name, k.name) << k.expr;
        PRO_SQLDA_Deallocate(da);
    }
}

// ---------------------------------------------------------------------------------------

TEST(Esql92Fetch, BlocksEndWithCode100CarryingTheLastRows) {
    TempDb f;
    Conn c(f.target(), "fetch-blocks");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER, v VARCHAR(10))"), 0);
    ASSERT_EQ(c.exec("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 250)"
                     " INSERT INTO t SELECT x, 'r' || x FROM n"),
              0);
    EXPECT_EQ(c.ca.sqlrows, 250);

    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT id, v FROM t ORDER BY id", cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 100);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_CURSOR_STATE);   // not open
    EXPECT_EQ(state(c.ca), "24000");
    ASSERT_EQ(tpe_sqldeclare(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_CURSOR_STATE);
    struct Step {
        int code;
        int64_t rows;
        int32_t first;
    } steps[] = {{0, 100, 1}, {0, 100, 101}, {ESQL_NOT_FOUND, 50, 201}, {ESQL_NOT_FOUND, 0, 0}};
    for (const Step& s : steps) {
        EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), s.code);
        EXPECT_EQ(c.ca.sqlrows, s.rows);
        if (s.rows > 0) {
            EXPECT_EQ(cols[0].get<int32_t>(0), s.first);
            EXPECT_EQ(cols[0].get<int32_t>(static_cast<size_t>(s.rows - 1)), s.first + s.rows - 1);
            EXPECT_EQ(cols[1].text(static_cast<size_t>(s.rows - 1)), "r" + std::to_string(s.first + s.rows - 1));
        }
    }
    ASSERT_EQ(tpe_sqlclose(c.tm, c.db, cur, &c.ca), 0);
    EXPECT_EQ(tpe_sqlclose(c.tm, c.db, cur, &c.ca), 0);   // closing twice is harmless
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_CURSOR_STATE);

    // Open again: from the start; a block that ends exactly at the last row says so.
    ASSERT_EQ(c.exec("DELETE FROM t WHERE id > 200"), 0);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), 0);
    EXPECT_EQ(cols[0].get<int32_t>(0), 1);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND);
    EXPECT_EQ(c.ca.sqlrows, 100);
    PRO_SQLDA_Deallocate(da);
}

// A binding changed between two fetches is taken by the second one (the cursor keeps what
// it checked only while the SQLDA stays as it was), and NUMERIC and BIGINT bound as
// VARCHAR arrive as their decimal text, NUMERIC at its scale, with their type's refusals.
TEST(Esql92Fetch, BindingChangedBetweenFetchesAndNumbersBoundAsText) {
    TempDb f;
    Conn c(f.target(), "fetch-rebind");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER, n NUMERIC(10,2), b BIGINT)"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (1, 12.5, -9223372036854775808), (2, -0.25, 42), (3, 7, 0)"), 0);

    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT id, n, b FROM t ORDER BY id", cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 1);
    std::vector<char> text(2 * 32, '\x7f');
    for (uint32_t col : {2u, 3u}) {
        char* at = text.data() + (col - 2) * 32;
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, col, ESQL_VARCHAR, &c.ca);
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, col, 32, &c.ca);
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, col, at, &c.ca);
    }
    ASSERT_EQ(tpe_sqldeclare(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), 0);
    EXPECT_EQ(cols[0].get<int32_t>(0), 1);
    EXPECT_EQ(std::string(text.data()), "12.50");
    EXPECT_EQ(std::string(text.data() + 32), "-9223372036854775808");

    // Another buffer for the id and the BIGINT back as an integer: the next row goes there.
    int32_t id = 0;
    int64_t big = 0;
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 1, &id, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 3, ESQL_BIGINT, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 3, 8, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 3, &big, &c.ca);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), 0);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(cols[0].get<int32_t>(0), 1);
    EXPECT_EQ(std::string(text.data()), "-0.25");
    EXPECT_EQ(big, 42);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(std::string(text.data()), "7.00");
    PRO_SQLDA_Deallocate(da);

    // A value that does not fit the NUMERIC is refused as text as it is packed.
    ASSERT_EQ(c.prepare("SELECT CAST(1234.5 AS NUMERIC(3,1)) FROM t", cur), 0);
    da = c.describe(cur);
    cols = c.bind(da, 1);
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 1, ESQL_VARCHAR, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 1, 32, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 1, text.data(), &c.ca);
    ASSERT_EQ(tpe_sqldeclare(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_OUT_OF_RANGE);
    EXPECT_EQ(state(c.ca), "22003");
    PRO_SQLDA_Deallocate(da);
}

TEST(Esql92Fetch, NullsPaddingAndTruncation) {
    TempDb f;
    Conn c(f.target(), "fetch-shapes");
    ASSERT_EQ(c.exec("CREATE TABLE t (c CHARACTER(5), v VARCHAR(20), b BINARY(4))"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES ('ab', 'abcdef', x'01'), (NULL, 'ab\xC3\xA9" "cd', NULL)"), 0);
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT c, v, b FROM t", cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 2);
    // v into elements of 4 bytes: cut to 3 bytes on a character boundary.
    std::vector<char> small(8);
    std::vector<int32_t> ind(2);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 2, 4, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 2, small.data(), &c.ca);
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, 2, ind.data(), &c.ca);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND);
    EXPECT_EQ(c.ca.sqlrows, 2);
    EXPECT_EQ(c.ca.sqlwarn[1], 'W');
    EXPECT_EQ(cols[0].text(0), "ab   ");
    EXPECT_EQ(cols[0].ind[0], 0);
    EXPECT_EQ(cols[0].ind[1], -1);
    EXPECT_EQ(std::string(small.data()), "abc");
    EXPECT_EQ(ind[0], 6);
    EXPECT_EQ(std::string(small.data() + 4), "ab");   // not half of the two bytes of é
    EXPECT_EQ(ind[1], 6);
    EXPECT_EQ(render(cols[2], 0), "01000000");   // BINARY(4) padded with zero bytes
    EXPECT_EQ(cols[2].ind[1], -1);

    // A NULL without an indicator array fails.
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, 1, nullptr, &c.ca);
    ASSERT_EQ(tpe_sqlclose(c.tm, c.db, cur, &c.ca), 0);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_NO_INDICATOR);
    EXPECT_EQ(state(c.ca), "22002");
    EXPECT_EQ(c.ca.sqlrows, 1);
    PRO_SQLDA_Deallocate(da);
}

TEST(Esql92Execute, AffectedRowCountsAndParameterRows) {
    TempDb f;
    Conn c(f.target(), "execute-counts");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v VARCHAR(10))"), 0);
    EXPECT_EQ(c.ca.sqlrows, 0);

    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("INSERT INTO t VALUES (?, ?)", cur), 0);
    Params p(2, 3);
    p.value<int32_t>(1, ESQL_INTEGER, {1, 2, 3});
    p.text(2, {"one", "two", ""});
    p.null(2, 2);
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(c.ca.sqlrows, 3);
    EXPECT_EQ(c.query("SELECT id, v FROM t ORDER BY id"), (Rows{{"1", "one"}, {"2", "two"}, {"3", "NULL"}}));

    struct Case {
        const char* sql;
        int64_t rows;
    } cases[] = {
        {"UPDATE t SET v = 'x' WHERE id <= 2", 2},
        {"UPDATE t SET v = 'y' WHERE id > 9", 0},
        {"CREATE INDEX ti ON t (v)", 0},
        {"SELECT * FROM t", 0},
        {"DELETE FROM t", 3},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(c.exec(k.sql), 0) << k.sql << ": " << message(c.ca);
        EXPECT_EQ(c.ca.sqlrows, k.rows) << k.sql;
    }

    // A failing parameter row: the rows before it count and stay; the failure names the row.
    p.value<int32_t>(1, ESQL_INTEGER, {10, 11, 10});
    EXPECT_LT(tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca), 0);
    EXPECT_EQ(state(c.ca), "23000");
    EXPECT_EQ(c.ca.sqlrows, 2);
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (Rows{{"2"}}));
    // ... and the statement runs again.
    p.value<int32_t>(1, ESQL_INTEGER, {12, 13, 14});
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (Rows{{"5"}}));

    // Fewer values than markers.
    Params one(1, 1);
    one.value<int32_t>(1, ESQL_INTEGER, {20});
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, one.da, &c.ca), ESQL_ERR_PARAMETERS);
    EXPECT_EQ(state(c.ca), "07001");
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_PARAMETERS);
}

// Each column of a parameter array is read the same way for every row: values of every
// width, NULLs between values, text that fills its element, a column without a buffer
// whose rows are all NULL, and a refusal in a later row after the rows before it ran.
TEST(Esql92Execute, ParameterArraysReadEveryRowOfEachColumn) {
    TempDb f;
    Conn c(f.target(), "execute-array-columns");
    ASSERT_EQ(c.exec("CREATE TABLE t (a INTEGER, b BIGINT, r REAL, d FLOAT, s SMALLINT, v VARCHAR(4), dt DATE,"
                     " z VARCHAR(5))"),
              0);
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?)", cur), 0);
    Params p(8, 3);
    p.value<int32_t>(1, ESQL_INTEGER, {-1, 2, 2147483647});
    p.value<int64_t>(2, ESQL_BIGINT, {-9007199254740993LL, 0, 5});
    p.value<float>(3, ESQL_REAL, {0.5f, -1.25f, 3});
    p.value<double>(4, ESQL_FLOAT, {0.1, 2, -3.5});
    p.value<int16_t>(5, ESQL_SMALLINT, {-300, 7, 8});
    p.text(6, {"abcd", "", "xy"}, 4);   // the first fills its element: no NUL
    p.value<ESQL_DATE_VALUE>(7, ESQL_DATE, {{2000, 2, 29}, {1, 1, 1}, {9999, 12, 31}});
    p.text(8, {"", "", ""});
    PRO_SQLDA_Set_Col_Attribute_void_p(p.da, ESQL_COL_DATA, 8, nullptr, nullptr);
    for (uint32_t col = 1; col <= 8; ++col)
        p.null(col, col == 8 ? 0 : 1);
    p.null(8, 1);
    p.null(8, 2);
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(c.ca.sqlrows, 3);
    EXPECT_EQ(c.query("SELECT a, b, r, d, s, v, CAST(dt AS VARCHAR(10)), z FROM t ORDER BY rowid"),
              (Rows{{"-1", "-9007199254740993", "0.5", "0.1", "-300", "abcd", "2000/02/29", "NULL"},
                    {"NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL"},
                    {"2147483647", "5", "3", "-3.5", "8", "xy", "9999/12/31", "NULL"}}));

    // A value in the column without a buffer, and a date that does not exist, each refused in
    // the row that holds it.
    ASSERT_EQ(c.exec("DELETE FROM t"), 0);
    p.value<ESQL_DATE_VALUE>(7, ESQL_DATE, {{2000, 2, 29}, {2002, 1, 1}, {2001, 2, 29}});
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca), ESQL_ERR_BAD_DATETIME);
    EXPECT_EQ(state(c.ca), "22007");
    EXPECT_EQ(c.ca.sqlrows, 2);
    Params q(8, 2);
    for (uint32_t col = 1; col <= 6; ++col)
        q.value<int32_t>(col, ESQL_INTEGER, {1, 2});
    q.value<ESQL_DATE_VALUE>(7, ESQL_DATE, {{2001, 1, 1}, {2001, 1, 2}});
    q.text(8, {"", ""});
    PRO_SQLDA_Set_Col_Attribute_void_p(q.da, ESQL_COL_DATA, 8, nullptr, nullptr);
    q.null(8, 0);
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, q.da, &c.ca), ESQL_ERR_BINDING);
    EXPECT_EQ(state(c.ca), "HY090");
    EXPECT_EQ(c.ca.sqlrows, 1);
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (Rows{{"3"}}));
}

// ---------------------------------------------------------------------------------------

ESQL_NUMERIC_VALUE packed(bool negative, int precision, int scale, const std::string& digits) {
    ESQL_NUMERIC_VALUE n{};
    n.sign = negative;
    n.precision = static_cast<uint8_t>(precision);
    n.scale = static_cast<uint8_t>(scale);
    n.ndigits = static_cast<uint8_t>(digits.size());
    for (size_t k = 0; k < digits.size(); ++k)
        n.digits[k / 2] |= static_cast<uint8_t>((digits[k] - '0') << (k % 2 == 0 ? 4 : 0));
    return n;
}

TEST(Esql92Types, EveryTypeBothWays) {
    TempDb f;
    Conn c(f.target(), "types-both-ways");
    ASSERT_EQ(c.exec(kAllTypes), 0);
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("INSERT INTO all_types VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", cur), 0);
    Params p(16, 1);
    p.raw(1, ESQL_CHARACTER, 8, {"ab"});
    p.text(2, {"h\xC3\xA9llo"});
    p.value<int32_t>(3, ESQL_INTEGER, {-7});
    p.value<int16_t>(4, ESQL_SMALLINT, {300});
    p.value<int8_t>(5, ESQL_TINYINT, {-5});
    p.value<int8_t>(6, ESQL_BIT, {1});
    p.value<int64_t>(7, ESQL_BIGINT, {9007199254740993LL});
    p.value<float>(8, ESQL_REAL, {1.5f});
    p.value<double>(9, ESQL_FLOAT, {0.1});
    p.value<double>(10, ESQL_FLOAT, {-2.5e10});
    p.value<ESQL_NUMERIC_VALUE>(11, ESQL_NUMERIC, {packed(true, 12, 3, "123456789125")});
    p.value<ESQL_DATE_VALUE>(12, ESQL_DATE, {ESQL_DATE_VALUE{2012, 3, 4}});
    p.value<ESQL_TIME_VALUE>(13, ESQL_TIME, {ESQL_TIME_VALUE{5, 6, 7, {0, 0, 0}}});
    p.value<ESQL_TIMESTAMP_VALUE>(14, ESQL_TIMESTAMP, {ESQL_TIMESTAMP_VALUE{2012, 3, 4, 5, 6, 7, 0, 250}});
    p.raw(15, ESQL_BINARY, ESQL_BINARY_ELEMENT, {binaryElement("\xAB\xCD")});
    p.raw(16, ESQL_VARBINARY, 64, {binaryElement(std::string("\x00\x01\x02", 3))});
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca), 0) << message(c.ca);

    EXPECT_EQ(c.query("SELECT * FROM all_types"),
              (Rows{{"ab   ", "h\xC3\xA9llo", "-7", "300", "-5", "1", "9007199254740993", "1.5", "0.1", "-25000000000",
                     "-123456789.125", "2012-03-04", "05:06:07", "2012-03-04 05:06:07.250", "ABCD00000000", "000102"}}));
    // In the database: the server's literal forms and exact decimal text.
    EXPECT_EQ(c.query("SELECT CAST(d AS VARCHAR(10)), CAST(t AS VARCHAR(8)), CAST(ts AS VARCHAR(23)),"
                      " CAST(n AS VARCHAR(20)), typeof(n) FROM all_types"),
              (Rows{{"2012/03/04", "05:06:07", "2012/03/04 05:06:07:250", "-123456789.125", "text"}}));
    // Every column NULL.
    Params nulls(16, 1);
    for (uint32_t k = 1; k <= 16; ++k) {
        nulls.text(k, {""});
        nulls.null(k, 0);
    }
    // c is NOT NULL: SQLite's 1299 (SQLITE_CONSTRAINT_NOTNULL).
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, nulls.da, &c.ca), -31299) << message(c.ca);
    EXPECT_EQ(state(c.ca), "23000");
}

TEST(Esql92Types, NumericsAreExactAndCompareByValue) {
    TempDb f;
    Conn c(f.target(), "types-numeric");
    ASSERT_EQ(c.exec("CREATE TABLE t (n NUMERIC(40,10))"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES ('123456789012345678901234567890.0123456789'), ('9'), ('10.5'),"
                     " (-2), ('0.10')"),
              0)
        << message(c.ca);
    EXPECT_EQ(c.query("SELECT n FROM t ORDER BY n"),
              (Rows{{"-2.0000000000"}, {"0.1000000000"}, {"9.0000000000"}, {"10.5000000000"},
                    {"123456789012345678901234567890.0123456789"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE n > 9.5 AND n <> 0.1"), (Rows{{"2"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE n = 10.50"), (Rows{{"1"}}));
    // Rounding to the column's scale on the way out.
    ASSERT_EQ(c.exec("CREATE TABLE u (m NUMERIC(6,2))"), 0);
    ASSERT_EQ(c.exec("INSERT INTO u VALUES ('1.005'), ('-1.004'), (0.1 + 0.2)"), 0);
    EXPECT_EQ(c.query("SELECT m FROM u"), (Rows{{"1.01"}, {"-1.00"}, {"0.30"}}));
}

// Parameters made into text by the stand-in (dates, ISO-8859-1 text of the client) each
// keep their own: two of them in one row, over several rows of an execution, and for an
// open cursor at every step of its fetches.
TEST(Esql92Types, ParametersMadeIntoTextKeepTheirOwn) {
    TempDb f;
    Conn c(f.target(), "types-own-text");
    ASSERT_EQ(tpe_set_client_codepage(ESQL_CODEPAGE_ISO8859_1, &c.ca), 0) << message(c.ca);
    ASSERT_EQ(c.exec("CREATE TABLE m (a VARCHAR(10), d DATE, b VARCHAR(10), e DATE)"), 0) << message(c.ca);
    ESQL_CURHDL ins;
    ASSERT_EQ(c.prepare("INSERT INTO m VALUES (?, ?, ?, ?)", ins), 0) << message(c.ca);
    Params p(4, 3);
    p.text(1, {"\xE9" "a", "b\xE9", "plain"});
    p.value<ESQL_DATE_VALUE>(2, ESQL_DATE, {{2001, 2, 3}, {2004, 5, 6}, {2007, 8, 9}});
    p.text(3, {"\xFC", "x\xFCy", "\xE0"});
    p.value<ESQL_DATE_VALUE>(4, ESQL_DATE, {{1999, 12, 31}, {2000, 1, 1}, {2010, 10, 10}});
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, ins, p.da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT a, CAST(d AS VARCHAR(10)), b, CAST(e AS VARCHAR(10)), hex(b) FROM m ORDER BY d"),
              (Rows{{"\xE9" "a", "2001/02/03", "\xFC", "1999/12/31", "C3BC"},
                    {"b\xE9", "2004/05/06", "x\xFCy", "2000/01/01", "78C3BC79"},
                    {"plain", "2007/08/09", "\xE0", "2010/10/10", "C3A0"}}));

    ESQL_CURHDL sel;
    ASSERT_EQ(c.prepare("SELECT a FROM m WHERE d >= ? AND e <= ? AND a <> ? ORDER BY d", sel), 0) << message(c.ca);
    Params q(3, 1);
    q.value<ESQL_DATE_VALUE>(1, ESQL_DATE, {{2001, 1, 1}});
    q.value<ESQL_DATE_VALUE>(2, ESQL_DATE, {{2010, 12, 31}});
    q.text(3, {"b\xE9"});
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, sel, q.da, &c.ca), 0) << message(c.ca);
    PRO_SQLDA* out = c.describe(sel);
    std::vector<Bound> cols = c.bind(out, 1);
    std::vector<std::string> got;
    while (tpe_sqlfetch(c.tm, c.db, sel, out, &c.ca) == 0)
        got.push_back(render(cols[0], 0));
    if (c.ca.sqlcode == ESQL_NOT_FOUND && c.ca.sqlrows == 1)
        got.push_back(render(cols[0], 0));
    EXPECT_EQ(got, (std::vector<std::string>{"\xE9" "a", "plain"})) << message(c.ca);
    tpe_sqlclose(c.tm, c.db, sel, &c.ca);
    PRO_SQLDA_Deallocate(out);
}

TEST(Esql92Types, ValuesThatDoNotFitFail) {
    TempDb f;
    Conn c(f.target(), "types-fit");
    ASSERT_EQ(c.exec("CREATE TABLE t (v VARCHAR(5), c CHARACTER(3), s SMALLINT, i INTEGER, n NUMERIC(5,2),"
                     " b BINARY(2), d DATE, k BIGINT)"),
              0)
        << message(c.ca);
    struct Case {
        const char* sql;
        const char* state;
    } cases[] = {
        {"INSERT INTO t (v) VALUES ('abcdef')", "22001"},
        {"INSERT INTO t (v) VALUES ('abcde')", "00000"},
        {"INSERT INTO t (c) VALUES ('abcd')", "22001"},
        {"INSERT INTO t (c) VALUES ('ab    ')", "00000"},
        {"INSERT INTO t (s) VALUES (40000)", "22003"},
        {"INSERT INTO t (i) VALUES (2147483648)", "22003"},
        {"INSERT INTO t (n) VALUES (1234.5)", "22003"},
        {"INSERT INTO t (n) VALUES ('999.99')", "00000"},
        {"INSERT INTO t (b) VALUES (x'010203')", "22001"},
        {"UPDATE t SET v = 'toolong'", "22001"},
        {"ALTER TABLE t ADD COLUMN w VARCHAR(2)", "00000"},
        {"INSERT INTO t (w) VALUES ('abc')", "22001"},
    };
    for (const Case& k : cases) {
        int rc = c.exec(k.sql);
        EXPECT_EQ(state(c.ca), k.state) << k.sql << ": " << message(c.ca);
        EXPECT_EQ(rc < 0, std::string(k.state) != "00000") << k.sql;
    }
    // Blanks beyond a CHARACTER column's length are padding: no cut is reported.
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT c FROM t WHERE c IS NOT NULL", cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 2);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND);
    EXPECT_EQ(c.ca.sqlrows, 1);
    EXPECT_EQ(cols[0].text(0), "ab ");
    EXPECT_EQ(cols[0].ind[0], 0);
    EXPECT_EQ(c.ca.sqlwarn[1], ' ');
    PRO_SQLDA_Deallocate(da);
}

// CHARACTER(n) and VARCHAR(n) hold n characters whatever their UTF-8 length, and come back
// whole in the elements they describe (CHARACTER padded to n characters); BINARY and
// VARBINARY count bytes.
TEST(Esql92Types, TextLengthsCountCharacters) {
    TempDb f;
    Conn c(f.target(), "types-chars");
    ASSERT_EQ(c.exec("CREATE TABLE t (n INTEGER, v VARCHAR(1), w VARCHAR(3), c CHARACTER(2), b VARBINARY(1))"), 0)
        << message(c.ca);
    const struct {
        const char* values;
        const char* state;
    } cases[] = {
        {"(1, '\xC3\xA1', NULL, NULL, NULL)", "00000"},                      // á: two bytes
        {"(2, '\xF0\x9F\x98\x80', NULL, NULL, NULL)", "00000"},            // a four-byte character
        {"(3, NULL, '\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC', NULL, NULL)", "00000"},   // three euros
        {"(4, NULL, NULL, '\xC3\xB1\xC3\xBC', NULL)", "00000"},
        {"(5, NULL, NULL, '\xC3\xB1', NULL)", "00000"},
        {"(6, '\xC3\xA1" "b', NULL, NULL, NULL)", "22001"},
        {"(7, NULL, '\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC', NULL, NULL)", "22001"},
        {"(8, NULL, NULL, '\xC3\xB1\xC3\xBC\xC3\xA1', NULL)", "22001"},
        {"(9, NULL, NULL, NULL, x'C3A1')", "22001"},
        // length() stops at a NUL: a value with one is not counted short.
        {"(10, 'a' || char(0), NULL, NULL, NULL)", "22001"},
        {"(11, NULL, 'a' || char(0) || 'b', NULL, NULL)", "00000"},
    };
    for (const auto& k : cases) {
        int rc = c.exec(std::string("INSERT INTO t VALUES ") + k.values);
        EXPECT_EQ(state(c.ca), k.state) << k.values << ": " << message(c.ca);
        EXPECT_EQ(rc < 0, std::string(k.state) != "00000") << k.values;
    }
    EXPECT_EQ(c.query("SELECT n, v, w, c FROM t WHERE n < 6 ORDER BY n"),
              (Rows{{"1", "\xC3\xA1", "NULL", "NULL"},
                    {"2", "\xF0\x9F\x98\x80", "NULL", "NULL"},
                    {"3", "NULL", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", "NULL"},
                    {"4", "NULL", "NULL", "\xC3\xB1\xC3\xBC"},
                    {"5", "NULL", "NULL", "\xC3\xB1 "}}))
        << message(c.ca);
    EXPECT_EQ(c.ca.sqlwarn[1], ' ');   // nothing was cut
}

// A file written before text lengths counted characters keeps its byte-counting checks:
// they are what its rows were written under.
TEST(Esql92Types, CheckOfAnOlderFileStillCountsBytes) {
    TempDb f;
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(f.path().c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "CREATE TABLE old (v VARCHAR(2) CONSTRAINT \"esql_len:v\" CHECK (length(CAST(v AS BLOB)) <= 2));"
                           "INSERT INTO old VALUES ('ab')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    Conn c(f.target(), "types-old-file");
    ASSERT_EQ(c.rc, 0) << message(c.ca);
    EXPECT_EQ(c.exec("INSERT INTO old VALUES ('c')"), 0) << message(c.ca);
    EXPECT_LT(c.exec("INSERT INTO old VALUES ('\xC3\xA1\xC3\xA1')"), 0);
    EXPECT_EQ(state(c.ca), "22001");
    EXPECT_EQ(c.query("SELECT v FROM old ORDER BY v"), (Rows{{"ab"}, {"c"}})) << message(c.ca);
}

TEST(Esql92Types, ValueToText) {
    struct Case {
        ESQL_NUMERIC_VALUE n;
        const char* text;
    } cases[] = {
        {packed(false, 10, 2, "1250"), "12.50"},
        {packed(true, 10, 2, "5"), "-0.05"},
        {packed(false, 10, 0, ""), "0"},
        {packed(true, 10, 3, ""), "0.000"},
        {packed(false, 50, 0, "12345678901234567890123456789012345678901234567890"),
         "12345678901234567890123456789012345678901234567890"},
    };
    char buf[64];
    for (const Case& k : cases) {
        EXPECT_EQ(esql92_value_to_text(ESQL_NUMERIC, 30, &k.n, "", buf, sizeof buf), static_cast<int>(std::strlen(k.text)));
        EXPECT_STREQ(buf, k.text);
    }
    int64_t big = INT64_MIN;
    EXPECT_EQ(esql92_value_to_text(ESQL_BIGINT, 8, &big, nullptr, buf, sizeof buf), 20);
    EXPECT_STREQ(buf, "-9223372036854775808");
    EXPECT_EQ(esql92_value_to_text(ESQL_BIGINT, 8, &big, nullptr, buf, 20), -1);   // no room for the NUL
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(esql92_value_to_text(ESQL_INTEGER, 4, &big, nullptr, buf, sizeof buf), -1);
    EXPECT_EQ(esql92_value_to_text(ESQL_NUMERIC, 29, &cases[0].n, nullptr, buf, sizeof buf), -1);
    EXPECT_EQ(esql92_value_to_text(ESQL_NUMERIC, 30, &cases[0].n, "#.##", buf, sizeof buf), -1);
}

}  // namespace
