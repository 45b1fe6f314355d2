// Failures of the ESQL-92 client stand-in: SQLite's failures mapped to SQLSTATEs, the queue of
// pending messages behind tpe_sqlc_clear, and bad input answered with a code, never a crash.
#include "platform/esql92/internal.h"
#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;

class Esql92Errors : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(c.rc, 0) << message(c.ca);
        ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER PRIMARY KEY, v VARCHAR(10))"), 0);
        ASSERT_EQ(c.exec("CREATE INDEX tv ON t (v)"), 0);
        ASSERT_EQ(c.exec("INSERT INTO t VALUES (1, 'one')"), 0);
        ASSERT_EQ(c.commit(), 0);
    }

    TempDb f;
    Conn c{f.target(), "errors-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())};
};

// SQLite's failures reach the application with the server's SQLSTATEs and in the server's
// words, naming the object or the place; the stand-in's own texts (no message given here)
// are its own.
TEST_F(Esql92Errors, SqliteFailuresMapToSqlstates) {
    struct Case {
        const char* sql;
        const char* state;
        const char* message;
    } cases[] = {
        {"SELECT * FROM nope", "42S02", "Table/View/Synonym not found: nope"},
        {"SELECT * FROM SYSPROGRESS.NOPE", "42S02", "Table/View/Synonym not found: SYSPROGRESS.NOPE"},
        {"SELECT nope FROM t", "42S22", "Column not found: nope"},
        {"SELEC 1", "42000", "Syntax error in SQL statement at or about \"SELEC\""},
        {"SELECT 1 FROM", "42000", "Syntax error in SQL statement at or about the end of the statement"},
        {"SELECT 'a", "42000", "Syntax error in SQL statement at or about \"'a\""},
        {"SELECT no_such_function(1)", "42000", "Function not found: no_such_function"},
        {"SELECT * FROM t WHERE t.id = o.id (+)", "42000", nullptr},
        {"", "42000", nullptr},
        {"SELECT 1; SELECT 2", "42000", nullptr},
        {"CREATE TABLE t (x INTEGER)", "42S01", "Table/View/Synonym already exists: t"},
        {"CREATE INDEX tv ON t (id)", "42S11", "Index already exists: tv"},
        {"DROP INDEX nope", "42S12", "Index not found: nope"},
        {"ALTER TABLE t ADD COLUMN v VARCHAR(3)", "42S21", "Column already exists: v"},
        {"INSERT INTO t VALUES (1, 'dup')", "23000",
         "UNIQUE constraint violated: a row with the same value of t.id exists"},
        {"INSERT INTO t VALUES (2, 'much too long')", "22001", "value too long for column v"},
        {"SELECT dayname('2012/13/01')", "22007", nullptr},
    };
    for (const Case& k : cases) {
        int rc = c.exec(k.sql);
        EXPECT_LT(rc, 0) << k.sql;
        EXPECT_EQ(state(c.ca), k.state) << k.sql << ": " << message(c.ca);
        EXPECT_GT(c.ca.sqlerrml, 0) << k.sql;
        if (k.message) {
            EXPECT_EQ(message(c.ca), k.message) << k.sql;
        }
    }
    // A statement that ends with a semicolon is one statement.
    EXPECT_EQ(c.exec("SELECT 1;"), 0);
}

TEST_F(Esql92Errors, LosingARaceWithAnotherConnectionIs40001) {
    Conn other(f.target(), "errors-race-other");
    // c reads (its snapshot is taken), other commits a change, then c tries to write.
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (Rows{{"1"}}));
    ASSERT_EQ(other.exec("INSERT INTO t VALUES (2, 'two')"), 0);
    ASSERT_EQ(other.commit(), 0);
    EXPECT_LT(c.exec("INSERT INTO t VALUES (3, 'three')"), 0);
    EXPECT_EQ(state(c.ca), "40001") << message(c.ca);
    ASSERT_EQ(c.rollback(), 0);
    EXPECT_EQ(c.exec("INSERT INTO t VALUES (3, 'three')"), 0) << message(c.ca);
    EXPECT_EQ(c.commit(), 0);
}

TEST_F(Esql92Errors, MessagesOfAFailureArePoppedInOrder) {
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("INSERT INTO t (id) VALUES (?)", cur), 0);
    PRO_SQLDA* in = PRO_SQLDA_Allocate(1, ESQL_SQLDA_INPUT);
    int32_t ids[3] = {5, 6, 1};
    PRO_SQLDA_Set_DA_Attribute_dh_u32_t(in, ESQL_DA_ROWS, 3, nullptr);
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t(in, ESQL_COL_TYPE, 1, ESQL_INTEGER, nullptr);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(in, ESQL_COL_LENGTH, 1, 4, nullptr);
    PRO_SQLDA_Set_Col_Attribute_void_p(in, ESQL_COL_DATA, 1, ids, nullptr);

    size_t before = esql::pendingMessageQueues();
    int rc = tpe_sqlexecute(c.tm, c.db, cur, in, &c.ca);
    EXPECT_LT(rc, 0);
    EXPECT_EQ(c.ca.sqlcode, rc);
    EXPECT_EQ(state(c.ca), "23000");
    EXPECT_EQ(message(c.ca), "UNIQUE constraint violated: a row with the same value of t.id exists");
    EXPECT_EQ(esql::pendingMessageQueues(), before + 1);

    ESQL_SQLCA copy = c.ca;   // the SQLCA holds no pointer: a copy pops the same queue
    tpe_sqlc_clear(&copy);
    EXPECT_EQ(copy.sqlcode, rc);
    EXPECT_EQ(state(copy), "23000");
    EXPECT_EQ(message(copy), "parameter row 3 of 3 failed; the rows before it took effect");
    tpe_sqlc_clear(&copy);
    EXPECT_EQ(copy.sqlcode, 0);
    EXPECT_EQ(copy.sqlerrml, 0);
    EXPECT_EQ(state(copy), "00000");
    tpe_sqlc_clear(&copy);
    EXPECT_EQ(copy.sqlcode, 0);
    EXPECT_EQ(esql::pendingMessageQueues(), before);

    // Unpopped messages go when the SQLCA serves the next call ...
    EXPECT_LT(tpe_sqlexecute(c.tm, c.db, cur, in, &c.ca), 0);
    EXPECT_EQ(esql::pendingMessageQueues(), before + 1);
    EXPECT_EQ(tpe_sqlclose(c.tm, c.db, cur, &c.ca), 0);
    EXPECT_EQ(esql::pendingMessageQueues(), before);
    // ... when the connection fails again, whatever SQLCA it uses ...
    ESQL_SQLCA other;
    EXPECT_LT(tpe_sqlexecute(c.tm, c.db, cur, in, &c.ca), 0);
    EXPECT_LT(tpe_sqlexecute(c.tm, c.db, cur, in, &other), 0);
    EXPECT_EQ(esql::pendingMessageQueues(), before + 1);
    tpe_sqlc_clear(&c.ca);
    EXPECT_EQ(c.ca.sqlcode, 0);   // its messages were dropped
    // ... and when it disconnects.
    EXPECT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, c.name().c_str(), &c.ca), 0);
    c.db = nullptr;
    EXPECT_EQ(esql::pendingMessageQueues(), before);
    tpe_sqlc_clear(&other);
    EXPECT_EQ(other.sqlcode, 0);
    PRO_SQLDA_Deallocate(in);
}

TEST_F(Esql92Errors, SqldaAttributesOutOfRange) {
    PRO_SQLDA* da = PRO_SQLDA_Allocate(2, ESQL_SQLDA_OUTPUT);
    ASSERT_NE(da, nullptr);
    EXPECT_EQ(PRO_SQLDA_Allocate(2, 5), nullptr);
    ESQL_SQLCA& ca = c.ca;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int16_t i16 = 0;
    void* p = nullptr;
    const char* name = nullptr;
    auto expect = [&](int rc, const char* st, int line) {
        EXPECT_EQ(state(ca), st) << "line " << line;
        EXPECT_EQ(rc < 0, std::string(st) != "00000") << "line " << line;
        EXPECT_EQ(rc, ca.sqlcode) << "line " << line;
    };
    expect(PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 0, &i32, &ca), "07009", __LINE__);
    expect(PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 3, &i32, &ca), "07009", __LINE__);
    expect(PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 3, 4, &ca), "07009", __LINE__);
    expect(PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, 99, 1, &i32, &ca), "HY024", __LINE__);
    expect(PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_LENGTH, 1, &i32, &ca), "HY024", __LINE__);
    expect(PRO_SQLDA_Get_Col_Attribute_void_p(da, ESQL_COL_INDICATOR, 1, &p, &ca), "HY024", __LINE__);
    expect(PRO_SQLDA_Set_Col_Attribute_dh_i16_t(da, ESQL_COL_NULLABLE, 1, 0, &ca), "HY024", __LINE__);
    expect(PRO_SQLDA_Set_DA_Attribute_dh_u32_t(da, ESQL_DA_ALLOCATED, 9, &ca), "HY024", __LINE__);
    expect(PRO_SQLDA_Set_DA_Attribute_dh_u32_t(da, ESQL_DA_COUNT, 3, &ca), "07009", __LINE__);
    expect(PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, 42, &u32, &ca), "HY024", __LINE__);
    expect(PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_KIND, nullptr, &ca), "HY009", __LINE__);
    expect(PRO_SQLDA_Get_Col_Attribute_dh_i16_t(nullptr, ESQL_COL_SCALE, 1, &i16, &ca), "HY009", __LINE__);
    expect(PRO_SQLDA_Get_Col_Attribute_char_p(da, ESQL_COL_NAME, 2, &name, &ca), "00000", __LINE__);
    expect(PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_KIND, &u32, &ca), "00000", __LINE__);
    EXPECT_EQ(u32, static_cast<uint32_t>(ESQL_SQLDA_OUTPUT));
    EXPECT_STREQ(name, "");
    // Calls work without an SQLCA and answer the code.
    EXPECT_EQ(PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 9, &i32, nullptr), ESQL_ERR_COLUMN_INDEX);
    PRO_SQLDA_Deallocate(da);
    PRO_SQLDA_Deallocate(nullptr);
}

TEST_F(Esql92Errors, BadCursorsAndBindingsAreRefused) {
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("SELECT id, v FROM t", cur), 0);
    PRO_SQLDA* da = c.describe(cur);
    auto cols = c.bind(da, 4);
    // Handles that are not this connection's cursor.
    Conn other(f.target(), "errors-bad-cursor-other");
    ESQL_CURHDL foreign;
    ASSERT_EQ(other.prepare("SELECT 1", foreign), 0);
    ESQL_CURHDL garbage = reinterpret_cast<ESQL_CURHDL>(static_cast<uintptr_t>(0xDEADBEEF));
    for (ESQL_CURHDL h : {foreign, garbage, static_cast<ESQL_CURHDL>(nullptr)}) {
        EXPECT_EQ(tpe_sqlopen(c.tm, c.db, h, nullptr, &c.ca), ESQL_ERR_CURSOR_HANDLE);
        EXPECT_EQ(state(c.ca), "34000");
    }
    EXPECT_EQ(tpe_set_cursorname(garbage, "x", &c.ca), ESQL_ERR_CURSOR_HANDLE);
    EXPECT_EQ(tpe_set_cursorname(cur, nullptr, &c.ca), ESQL_ERR_NULL_ARGUMENT);
    EXPECT_EQ(tpe_sqlopen(other.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_NO_CONNECTION);   // mixed handles
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_NULL_ARGUMENT);
    PRO_SQLDA* in = PRO_SQLDA_Allocate(1, ESQL_SQLDA_INPUT);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, in, &c.ca), ESQL_ERR_SQLDA_KIND);
    EXPECT_EQ(tpe_sqlopen(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_SQLDA_KIND);

    // Output bindings the column's type cannot use.
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 1, 3, &c.ca);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_BINDING);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 1, 4, &c.ca);
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 2, nullptr, &c.ca);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_BINDING);
    EXPECT_EQ(state(c.ca), "HY090");
    PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 2, cols[1].data.data(), &c.ca);
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 2, ESQL_DATE, &c.ca);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_ERR_BAD_DATETIME);   // 'one' is no date
    EXPECT_EQ(state(c.ca), "22007");
    EXPECT_EQ(tpe_sqlclose(c.tm, c.db, cur, &c.ca), 0);

    // Input bindings the server cannot read.
    ASSERT_EQ(c.prepare("SELECT count(*) FROM t WHERE id > ?", cur), 0);
    struct Case {
        int32_t type;
        uint32_t length;
        std::string bytes;
        const char* state;
    } cases[] = {
        {ESQL_INTEGER, 3, "abc", "HY090"},
        {ESQL_DATE, 4, std::string("\xDC\x07\x0D\x01", 4), "22007"},   // month 13
        {ESQL_TIME, 6, std::string("\x18\x00\x00\x00\x00\x00", 6), "22007"},   // hour 24
        {ESQL_VARBINARY, 8, std::string("\x09\x00\x00\x00", 4), "HY090"},   // count beyond the element
        {ESQL_NUMERIC, 30, std::string("\x00\x05\x00\x02\xFA", 5), "22018"},   // digit 15
        {77, 4, "abcd", "HY090"},
        {ESQL_INTEGER, 4, std::string("\x01\x00\x00\x00", 4), "00000"},
    };
    for (const Case& k : cases) {
        std::vector<char> buf(k.length, 0);
        std::memcpy(buf.data(), k.bytes.data(), std::min<size_t>(k.bytes.size(), k.length));
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t(in, ESQL_COL_TYPE, 1, k.type, nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(in, ESQL_COL_LENGTH, 1, k.length, nullptr);
        PRO_SQLDA_Set_Col_Attribute_void_p(in, ESQL_COL_DATA, 1, buf.data(), nullptr);
        int rc = tpe_sqlopen(c.tm, c.db, cur, in, &c.ca);
        EXPECT_EQ(state(c.ca), k.state) << k.type << ": " << message(c.ca);
        EXPECT_EQ(rc < 0, std::string(k.state) != "00000") << k.type;
        tpe_sqlclose(c.tm, c.db, cur, &c.ca);
    }
    PRO_SQLDA_Deallocate(in);
    PRO_SQLDA_Deallocate(da);

    // Out of order.
    unsigned char id[16] = {0xEE};
    ASSERT_EQ(tpe_set_cursor(c.tm, c.db, &cur, id, ESQL_CURSOR_DYNAMIC, "SELECT 1", &c.ca), 0);
    PRO_SQLDA* out = PRO_SQLDA_Allocate(1, ESQL_SQLDA_OUTPUT);
    EXPECT_EQ(tpe_sqldescribe(c.tm, c.db, cur, out, &c.ca), ESQL_ERR_SEQUENCE);
    EXPECT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_SEQUENCE);
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, cur, out, &c.ca), ESQL_ERR_SEQUENCE);
    EXPECT_EQ(state(c.ca), "HY010");
    EXPECT_EQ(tpe_set_cursor(c.tm, c.db, &cur, id, 2, "SELECT 1", &c.ca), ESQL_ERR_GENERAL);
    EXPECT_EQ(tpe_set_cursor(c.tm, c.db, &cur, nullptr, 1, "SELECT 1", &c.ca), ESQL_ERR_NULL_ARGUMENT);
    EXPECT_EQ(tpe_set_cursor(c.tm, c.db, &cur, id, 1, nullptr, &c.ca), ESQL_ERR_NULL_ARGUMENT);
    // A failed prepare leaves the cursor unprepared.
    ASSERT_EQ(tpe_set_cursor(c.tm, c.db, &cur, id, 1, "SELECT FROM WHERE", &c.ca), 0);
    EXPECT_EQ(tpe_sqlprepare(c.tm, c.db, cur, &c.ca), -30001);
    EXPECT_EQ(tpe_sqlexecute(c.tm, c.db, cur, nullptr, &c.ca), ESQL_ERR_SEQUENCE);
    PRO_SQLDA_Deallocate(out);
}

TEST_F(Esql92Errors, CursorsNeverClosedGoWithTheirConnection) {
    // Open cursors with rows still to come, on a connection that then disconnects;
    // LeakSanitizer checks that nothing of them is left.
    Conn other(f.target(), "errors-never-closed");
    std::vector<PRO_SQLDA*> areas;
    ESQL_CURHDL cur = nullptr;
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(other.prepare("SELECT id, v FROM t UNION ALL SELECT 2, 'x'", cur), 0);
        areas.push_back(other.describe(cur));
        ASSERT_EQ(tpe_sqlopen(other.tm, other.db, cur, nullptr, &other.ca), 0);
    }
    ASSERT_EQ(other.exec("INSERT INTO t VALUES (9, 'nine')"), 0);   // an open transaction too
    EXPECT_EQ(tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, other.name().c_str(), &other.ca), 0);
    EXPECT_EQ(tpe_sqlfetch(other.tm, other.db, cur, areas[0], &other.ca), ESQL_ERR_NO_CONNECTION);
    other.db = nullptr;
    for (PRO_SQLDA* da : areas)
        PRO_SQLDA_Deallocate(da);
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (Rows{{"1"}}));   // rolled back
}

TEST_F(Esql92Errors, ManyCursorsStayUsableAndTheOldestAreForgotten) {
    // More cursors than the connection keeps compiled: each still runs.
    std::vector<ESQL_CURHDL> curs(300);
    for (size_t k = 0; k < curs.size(); ++k)
        ASSERT_EQ(c.prepare("SELECT " + std::to_string(k) + " FROM t", curs[k]), 0);
    for (size_t k : {size_t(0), size_t(150), size_t(299)}) {
        PRO_SQLDA* da = c.describe(curs[k]);
        auto cols = c.bind(da, 1);
        ASSERT_EQ(tpe_sqlopen(c.tm, c.db, curs[k], nullptr, &c.ca), 0) << k << message(c.ca);
        EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, curs[k], da, &c.ca), ESQL_NOT_FOUND);
        EXPECT_EQ(cols[0].get<int32_t>(0), static_cast<int32_t>(k));
        tpe_sqlclose(c.tm, c.db, curs[k], &c.ca);
        PRO_SQLDA_Deallocate(da);
    }
    // A connection keeps 4096 cursor records: the least recently used go first.
    ESQL_CURHDL last = nullptr;
    for (int k = 0; k < 4096; ++k)
        ASSERT_EQ(c.prepare("SELECT 1", last), 0);
    EXPECT_EQ(tpe_sqlclose(c.tm, c.db, curs[1], &c.ca), ESQL_ERR_CURSOR_HANDLE);
    EXPECT_EQ(tpe_sqlclose(c.tm, c.db, last, &c.ca), 0);
}

TEST_F(Esql92Errors, CursorsLeftOpenAtTheirEndNeverWearOutTheConnection) {
    // The agent's autocommit query: fetched to its end, committed, and never closed (the end
    // of transaction marked it), then the statement is prepared again under a new identity.
    // The cursors left behind must not crowd out the one just compiled.
    for (int k = 0; k < 1000; ++k) {
        ESQL_CURHDL cur = nullptr;
        ASSERT_EQ(c.prepare("SELECT id FROM t", cur), 0) << k << " " << message(c.ca);
        PRO_SQLDA* da = c.describe(cur);
        auto cols = c.bind(da, 64);
        ASSERT_EQ(tpe_sqlopen(c.tm, c.db, cur, nullptr, &c.ca), 0) << k << " " << message(c.ca);
        ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, cur, da, &c.ca), ESQL_NOT_FOUND) << k << " " << message(c.ca);
        PRO_SQLDA_Deallocate(da);
        ASSERT_EQ(c.commit(), 0);
        if (k % 100 == 99) {
            ASSERT_EQ(c.exec("INSERT INTO t VALUES (" + std::to_string(100 + k) + ", 'x')"), 0) << message(c.ca);
        }
    }
    // An open cursor at its end whose statement was given up still answers that no row is
    // left, and closes.
    ESQL_CURHDL first = nullptr;
    ASSERT_EQ(c.prepare("SELECT id FROM t WHERE id < 0", first), 0);
    PRO_SQLDA* da = c.describe(first);
    auto cols = c.bind(da, 1);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, first, nullptr, &c.ca), 0);
    for (int k = 0; k < 200; ++k) {
        ESQL_CURHDL cur = nullptr;
        ASSERT_EQ(c.prepare("SELECT id + " + std::to_string(k) + " FROM t", cur), 0) << message(c.ca);
    }
    EXPECT_EQ(tpe_sqlfetch(c.tm, c.db, first, da, &c.ca), ESQL_NOT_FOUND) << message(c.ca);
    EXPECT_EQ(tpe_sqlclose(c.tm, c.db, first, &c.ca), 0);
    PRO_SQLDA_Deallocate(da);
}

TEST_F(Esql92Errors, ACursorWithRowsLeftKeepsItsPlaceWhileOthersComeAndGo) {
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (2, 'two'), (3, 'three')"), 0);
    ESQL_CURHDL open = nullptr;
    ASSERT_EQ(c.prepare("SELECT id FROM t ORDER BY id", open), 0);
    PRO_SQLDA* da = c.describe(open);
    auto cols = c.bind(da, 1);
    ASSERT_EQ(tpe_sqlopen(c.tm, c.db, open, nullptr, &c.ca), 0);
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, open, da, &c.ca), 0);
    // More set-ups than the connection keeps records: the closed ones go, the open one stays.
    for (int k = 0; k < 5000; ++k) {
        ESQL_CURHDL cur = nullptr;
        ASSERT_EQ(c.prepare("SELECT 1", cur), 0) << k;
    }
    ASSERT_EQ(tpe_sqlfetch(c.tm, c.db, open, da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(cols[0].get<int32_t>(0), 2);
    tpe_sqlclose(c.tm, c.db, open, &c.ca);
    PRO_SQLDA_Deallocate(da);
}

}  // namespace

namespace {

// A fetched value that its output element cannot take: the code and the text name the
// value and the type.
TEST(Esql92PutValue, RefusalsNameTheValueAndTheType) {
    struct Case {
        esql::Value value;
        int32_t type;
        uint32_t length;
        uint32_t precision;
        int16_t scale;
        int32_t code;
        const char* text;
    };
    const char* abc = "abc";
    const char* huge = "99999999999999999999";
    const char* month13 = "2020/13/01";
    const Case cases[] = {
        {esql::Value::real(1e30), ESQL_INTEGER, 4, 0, 0, ESQL_ERR_OUT_OF_RANGE, "1e+30 does not fit INTEGER"},
        {esql::Value::text(abc, 3), ESQL_INTEGER, 4, 0, 0, ESQL_ERR_BAD_NUMBER, "'abc' is not a number"},
        {esql::Value::text(huge, 20), ESQL_BIGINT, 8, 0, 0, ESQL_ERR_OUT_OF_RANGE,
         "'99999999999999999999' does not fit BIGINT"},
        {esql::Value::integer(300), ESQL_TINYINT, 1, 0, 0, ESQL_ERR_OUT_OF_RANGE, "300 does not fit TINYINT"},
        {esql::Value::text(abc, 3), ESQL_FLOAT, 8, 0, 0, ESQL_ERR_BAD_NUMBER, "'abc' is not a number"},
        {esql::Value::real(1e300), ESQL_REAL, 4, 0, 0, ESQL_ERR_OUT_OF_RANGE, "1e+300 does not fit REAL"},
        {esql::Value::text(month13, 10), ESQL_DATE, 4, 0, 0, ESQL_ERR_BAD_DATETIME, "'2020/13/01' is not a valid DATE"},
        {esql::Value::integer(7), ESQL_TIME, 6, 0, 0, ESQL_ERR_BAD_DATETIME, "7 is not a valid TIME"},
        {esql::Value::text(abc, 3), ESQL_NUMERIC, ESQL_NUMERIC_SIZE, 5, 2, ESQL_ERR_BAD_NUMBER, "'abc' is not a number"},
        {esql::Value::integer(123456), ESQL_NUMERIC, ESQL_NUMERIC_SIZE, 5, 2, ESQL_ERR_OUT_OF_RANGE,
         "value does not fit NUMERIC(5,2)"},
    };
    for (const Case& c : cases) {
        char element[64] = {};
        int32_t ind = 0;
        const esql::OutColumn out{c.type, c.precision, c.scale, c.length, element, &ind};
        esql::Outcome o;
        bool truncated = false;
        EXPECT_FALSE(esql::putValue(c.value, out, 0, truncated, o)) << c.text;
        ASSERT_EQ(o.messages.size(), 1u) << c.text;
        EXPECT_EQ(o.code, c.code) << c.text;
        EXPECT_EQ(o.messages[0].text, c.text);
    }
}

}  // namespace

namespace {

// The fetch's lanes write exactly what putValue writes for their pairs, cut text and
// indicators included; a value outside a lane's pair is left to putValue untouched.
TEST(Esql92PutValue, LanesWriteWhatPutValueWrites) {
    struct Case {
        esql::Value value;
        int32_t type;
        uint32_t length;
        bool laned;
        int32_t valueType = 0;
    };
    const char* hello = "h\xC3\xA9llo";
    const char* date = "2024/02/29";
    const char* badDate = "2023/02/29";
    const char* dashed = " 2024-02-29 ";
    const char* seven = "7";
    const char* common = "1999/12/28";
    const char* yearZero = "0000/01/05";
    const Case cases[] = {
        {esql::Value::integer(INT32_MIN), ESQL_INTEGER, 4, true},
        {esql::Value::integer(int64_t{INT32_MAX} + 1), ESQL_INTEGER, 4, false},
        {esql::Value::integer(-32768), ESQL_SMALLINT, 2, true},
        {esql::Value::integer(INT64_MIN), ESQL_BIGINT, 8, true},
        {esql::Value::text(seven, 1), ESQL_INTEGER, 4, false},
        {esql::Value::real(-0.25), ESQL_FLOAT, 8, true},
        {esql::Value::integer(3), ESQL_FLOAT, 8, false},
        {esql::Value::text(hello, 6), ESQL_VARCHAR, 7, true},
        {esql::Value::text(hello, 6), ESQL_VARCHAR, 6, true},
        {esql::Value::text(hello, 6), ESQL_VARCHAR, 3, true},
        {esql::Value::text(hello, 0), ESQL_VARCHAR, 1, true},
        {esql::Value::integer(42), ESQL_VARCHAR, 8, false},
        {esql::Value::null(), ESQL_VARCHAR, 8, false},
        {esql::Value::text(common, 10), ESQL_DATE, 4, true},
        {esql::Value::text(date, 10), ESQL_DATE, 4, true},
        {esql::Value::text(yearZero, 10), ESQL_DATE, 4, false},
        {esql::Value::text(dashed, 12), ESQL_DATE, 4, true},
        {esql::Value::text(badDate, 10), ESQL_DATE, 4, false},
        {esql::Value::integer(7), ESQL_DATE, 4, false},
        // A BIGINT bound as text: integers in an element that holds every BIGINT.
        {esql::Value::integer(INT64_MIN), ESQL_VARCHAR, 21, true, ESQL_BIGINT},
        {esql::Value::integer(0), ESQL_VARCHAR, 21, true, ESQL_BIGINT},
        {esql::Value::integer(42), ESQL_VARCHAR, 8, false, ESQL_BIGINT},
        {esql::Value::text(seven, 1), ESQL_VARCHAR, 21, false, ESQL_BIGINT},
        {esql::Value::real(2.5), ESQL_VARCHAR, 21, false, ESQL_BIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", length " << c.length << ", value "
                                        << esql::renderValue(c.value));
        char byLane[24], byPut[24];
        std::memset(byLane, 0x5A, sizeof byLane);
        std::memset(byPut, 0x5A, sizeof byPut);
        int32_t laneInd = 99, putInd = 99;
        bool laneCut = false, putCut = false;
        const esql::OutColumn lane{c.type, c.length - 1, 0, c.length, byLane, &laneInd, c.valueType};
        const esql::OutColumn put{c.type, c.length - 1, 0, c.length, byPut, &putInd, c.valueType};
        const esql::PutLane l = esql::putLaneFor(lane);
        ASSERT_NE(l, esql::PutLane::None);
        ASSERT_EQ(esql::putByLane(l, c.value, lane, 0, laneCut), c.laned);
        if (!c.laned) {
            EXPECT_EQ(laneInd, 99);
            EXPECT_EQ(byLane[0], 0x5A);
            continue;
        }
        esql::Outcome o;
        ASSERT_TRUE(esql::putValue(c.value, put, 0, putCut, o));
        EXPECT_EQ(0, std::memcmp(byLane, byPut, sizeof byLane));
        EXPECT_EQ(laneInd, putInd);
        EXPECT_EQ(laneCut, putCut);
    }
}

}  // namespace
