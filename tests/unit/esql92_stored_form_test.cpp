// What the embedded server stores: a value its column's type cannot take is refused at
// write with nothing stored; dates, times and timestamps are kept in the server's literal
// forms however they arrive, and compare by value; files written before those rules read
// as before.
#include <sqlite3.h>

#include <algorithm>

#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;

// One parameter of a single-row execution.
struct OneParam {
    PRO_SQLDA* da = PRO_SQLDA_Allocate(1, ESQL_SQLDA_INPUT);
    std::vector<char> data;
    int32_t ind = 0;

    OneParam(int32_t type, const void* bytes, uint32_t len) : data(static_cast<const char*>(bytes),
                                                                   static_cast<const char*>(bytes) + len) {
        PRO_SQLDA_Set_DA_Attribute_dh_u32_t(da, ESQL_DA_ROWS, 1, nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, 1, type, nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, 1, len, nullptr);
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, 1, data.data(), nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, 1, &ind, nullptr);
    }
    ~OneParam() { PRO_SQLDA_Deallocate(da); }
};

int execWith(Conn& c, const std::string& sql, const OneParam& p) {
    ESQL_CURHDL cur = nullptr;
    if (c.prepare(sql, cur) < 0)
        return c.rc;
    return c.rc = tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca);
}

// The way a value reaches its column.
enum class Way { Literal, TextParam, TypedParam, Cast };

// Writes `value` into column v of a one-column table of the given type, by way; answers the
// SQLSTATE and, when it succeeded, what is stored (typeof and text).
std::string writeOne(Conn& c, const std::string& type, const std::string& value, Way way, std::string& stored) {
    c.exec("DROP TABLE IF EXISTS w");
    EXPECT_EQ(c.exec("CREATE TABLE w (v " + type + ")"), 0) << message(c.ca);
    switch (way) {
    case Way::Literal: c.exec("INSERT INTO w VALUES (" + value + ")"); break;
    case Way::Cast: c.exec("INSERT INTO w VALUES (CAST(" + value + " AS " + type + "))"); break;
    case Way::TextParam: {
        OneParam p(ESQL_VARCHAR, value.c_str(), static_cast<uint32_t>(value.size() + 1));
        execWith(c, "INSERT INTO w VALUES (?)", p);
        break;
    }
    case Way::TypedParam: {
        // value is "y m d", "h m s" or "y m d h m s ms".
        int f[7] = {};
        std::sscanf(value.c_str(), "%d %d %d %d %d %d %d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]);
        if (type == "DATE") {
            ESQL_DATE_VALUE d{static_cast<int16_t>(f[0]), static_cast<uint8_t>(f[1]), static_cast<uint8_t>(f[2])};
            execWith(c, "INSERT INTO w VALUES (?)", OneParam(ESQL_DATE, &d, sizeof d));
        } else if (type == "TIME") {
            ESQL_TIME_VALUE t{static_cast<uint8_t>(f[0]), static_cast<uint8_t>(f[1]), static_cast<uint8_t>(f[2]), {}};
            execWith(c, "INSERT INTO w VALUES (?)", OneParam(ESQL_TIME, &t, sizeof t));
        } else {
            ESQL_TIMESTAMP_VALUE t{static_cast<int16_t>(f[0]), static_cast<uint8_t>(f[1]), static_cast<uint8_t>(f[2]),
                                   static_cast<uint8_t>(f[3]), static_cast<uint8_t>(f[4]), static_cast<uint8_t>(f[5]),
                                   0, static_cast<uint16_t>(f[6])};
            execWith(c, "INSERT INTO w VALUES (?)", OneParam(ESQL_TIMESTAMP, &t, sizeof t));
        }
        break;
    }
    }
    std::string st = c.rc < 0 ? state(c.ca) : "00000";
    Rows rows = c.query("SELECT typeof(v) || ' ' || CAST(v AS VARCHAR(40)) FROM w");
    EXPECT_EQ(c.rc, 0) << message(c.ca);
    stored = rows.empty() ? "" : rows[0][0];
    if (st != "00000") {
        EXPECT_TRUE(rows.empty()) << type << " " << value << ": a refused value was stored as " << stored;
    }
    return st;
}

TEST(Esql92StoredForm, EachTypeTakesWhatFitsInOneForm) {
    TempDb f;
    Conn c(f.target(), "stored-form-table");
    struct Case {
        const char* type;
        const char* value;
        Way way;
        const char* state;
        const char* stored;
    } cases[] = {
        // Numbers: a text that is no number, a value out of range.
        {"INTEGER", "'abc'", Way::Literal, "22018", ""},
        {"INTEGER", "abc", Way::TextParam, "22018", ""},
        {"INTEGER", "'42'", Way::Literal, "00000", "integer 42"},
        {"INTEGER", "3000000000", Way::Literal, "22003", ""},
        {"SMALLINT", "'x1'", Way::Literal, "22018", ""},
        {"TINYINT", "x'01'", Way::Literal, "22018", ""},
        {"BIT", "2", Way::Literal, "22003", ""},
        {"BIGINT", "'abc'", Way::Literal, "22018", ""},
        {"BIGINT", "9223372036854775807", Way::Literal, "00000", "integer 9223372036854775807"},
        {"BIGINT", "9223372036854775808", Way::Literal, "22003", ""},
        {"BIGINT", "9223372036854775808", Way::TextParam, "22003", ""},
        {"BIGINT", "-9223372036854775808", Way::Literal, "00000", "integer -9223372036854775808"},
        {"REAL", "1e39", Way::Literal, "22003", ""},
        {"REAL", "'1.5'", Way::Literal, "00000", "real 1.5"},
        {"REAL", "'1.5x'", Way::Literal, "22018", ""},
        {"FLOAT", "1e309", Way::Literal, "22003", ""},
        {"DOUBLE PRECISION", "'nan'", Way::Literal, "22018", ""},
        // Dates, times and timestamps: every way gives the server's literal form.
        {"DATE", "'2024-01-31'", Way::Literal, "00000", "text 2024/01/31"},
        {"DATE", "'2024/01/31'", Way::Literal, "00000", "text 2024/01/31"},
        {"DATE", "2024-01-31", Way::TextParam, "00000", "text 2024/01/31"},
        {"DATE", "2024 1 31", Way::TypedParam, "00000", "text 2024/01/31"},
        {"DATE", "'2024-01-31 10:11:12'", Way::Cast, "00000", "text 2024/01/31"},
        {"DATE", "'garbage'", Way::Literal, "22007", ""},
        {"DATE", "garbage", Way::TextParam, "22007", ""},
        {"DATE", "20240131", Way::Literal, "22007", ""},
        {"DATE", "'2024-02-30'", Way::Literal, "22008", ""},
        {"DATE", "'2023/02/29'", Way::Literal, "22008", ""},
        {"DATE", "'2024-02-30'", Way::Cast, "22008", ""},
        {"DATE", "'garbage'", Way::Cast, "22007", ""},
        {"TIME", "'7:05:09'", Way::Literal, "00000", "text 07:05:09"},
        {"TIME", "07:05", Way::TextParam, "00000", "text 07:05:00"},
        {"TIME", "7 5 9", Way::TypedParam, "00000", "text 07:05:09"},
        {"TIME", "'24:00:00'", Way::Literal, "22008", ""},
        {"TIME", "'noon'", Way::Literal, "22007", ""},
        {"TIMESTAMP", "'2024-01-31 10:11:12.5'", Way::Literal, "00000", "text 2024/01/31 10:11:12:500"},
        {"TIMESTAMP", "2024-01-31T10:11:12", Way::TextParam, "00000", "text 2024/01/31 10:11:12:000"},
        {"TIMESTAMP", "2024 1 31 10 11 12 7", Way::TypedParam, "00000", "text 2024/01/31 10:11:12:007"},
        {"TIMESTAMP", "'2024-01-31'", Way::Cast, "00000", "text 2024/01/31 00:00:00:000"},
        {"TIMESTAMP", "'2024-01-31 10:60:00'", Way::Literal, "22008", ""},
        {"TIMESTAMP", "NULL", Way::Literal, "00000", "NULL"},
    };
    for (const Case& k : cases) {
        std::string stored;
        std::string st = writeOne(c, k.type, k.value, k.way, stored);
        SCOPED_TRACE(std::string(k.type) + " " + k.value + " way " + std::to_string(static_cast<int>(k.way)));
        EXPECT_EQ(st, k.state) << message(c.ca);
        if (st == "00000") {
            EXPECT_EQ(stored, k.stored);
        }
    }
}

// Updates are held to the same rules, on a column added later as on one created with its
// table; a statement whose last row fails leaves none of its rows behind.
TEST(Esql92StoredForm, UpdatesAddedColumnsAndWholeStatements) {
    TempDb f;
    Conn c(f.target(), "stored-form-update");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER, d DATE)"), 0) << message(c.ca);
    ASSERT_EQ(c.exec("ALTER TABLE t ADD COLUMN ts TIMESTAMP"), 0) << message(c.ca);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (1, '2024-01-31', '2024-01-31 10:00:00')"), 0) << message(c.ca);
    EXPECT_LT(c.exec("UPDATE t SET d = '2024-02-30'"), 0);
    EXPECT_EQ(state(c.ca), "22008");
    ASSERT_EQ(c.exec("UPDATE t SET d = '2024-03-01', ts = '2024-03-01 08:09:10.25'"), 0) << message(c.ca);
    EXPECT_LT(c.exec("INSERT INTO t VALUES (2, '2024-01-01', NULL), (3, 'garbage', NULL)"), 0);
    EXPECT_EQ(state(c.ca), "22007");
    EXPECT_EQ(c.query("SELECT id, CAST(d AS VARCHAR(10)), CAST(ts AS VARCHAR(23)) FROM t"),
              (Rows{{"1", "2024/03/01", "2024/03/01 08:09:10:250"}}));

    // A date column can still be dropped, and the table keeps working.
    ASSERT_EQ(c.exec("ALTER TABLE t DROP COLUMN d"), 0) << message(c.ca);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (4, '2024-05-06')"), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE ts = '2024/05/06 00:00:00:000'"), (Rows{{"1"}}));
    ASSERT_EQ(c.commit(), 0);
}

// Values compare by value: equality with a literal in another form, ranges, ORDER BY,
// DISTINCT, COUNT(DISTINCT), MIN and MAX, GROUP BY, a UNIQUE index.
TEST(Esql92StoredForm, DatesCompareByValue) {
    TempDb f;
    Conn c(f.target(), "stored-form-compare");
    ASSERT_EQ(c.exec("CREATE TABLE t (d DATE UNIQUE, tm TIME, ts TIMESTAMP)"), 0) << message(c.ca);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES ('2024-01-31', '9:00:00', '2024-01-31 09:00:00'),"
                     " ('2023/12/01', '10:00:00', '2023-12-01 23:59:59.999'), ('2024-1-5', '08:30', '2024/01/05')"),
              0)
        << message(c.ca);
    EXPECT_LT(c.exec("INSERT INTO t (d) VALUES ('2024-01-31')"), 0);
    EXPECT_EQ(state(c.ca), "23000");
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE d = '2024-01-31'"), (Rows{{"1"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE d IN ('2024-01-05', '1999-01-01')"), (Rows{{"1"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE d BETWEEN '2024-01-01' AND '2024-1-31'"), (Rows{{"2"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE ts >= '2024-01-05' AND tm < '9:30'"), (Rows{{"2"}}));
    EXPECT_EQ(c.query("SELECT d FROM t ORDER BY d DESC"), (Rows{{"2024-01-31"}, {"2024-01-05"}, {"2023-12-01"}}));
    EXPECT_EQ(c.query("SELECT tm FROM t ORDER BY tm"), (Rows{{"08:30:00"}, {"09:00:00"}, {"10:00:00"}}));
    EXPECT_EQ(c.query("SELECT min(d), max(ts), count(DISTINCT d) FROM t"),
              (Rows{{"2023-12-01", "2024-01-31 09:00:00.000", "3"}}));
    ASSERT_EQ(c.exec("INSERT INTO t (tm) VALUES ('08:30:00'), ('8:30')"), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT DISTINCT tm FROM t WHERE tm < '9:00' ORDER BY tm"), (Rows{{"08:30:00"}}));
    EXPECT_EQ(c.query("SELECT tm, count(*) FROM t GROUP BY tm HAVING count(*) > 1"), (Rows{{"08:30:00", "3"}}));
    // CAST and convert give the stored form, and are described as what they give.
    EXPECT_EQ(c.query("SELECT CAST(CAST('2024-02-03' AS DATE) AS VARCHAR(10)),"
                      " CAST(convert(SQL_TIMESTAMP, '2024-02-03 04:05:06') AS VARCHAR(23))"),
              (Rows{{"2024/02/03", "2024/02/03 04:05:06:000"}}));
    EXPECT_EQ(c.query("SELECT CAST('2024-02-03' AS DATE), convert(SQL_TIME, '4:05:06')"),
              (Rows{{"2024-02-03", "04:05:06"}}));
}

// A file the stand-in wrote before dates were kept in one form: its columns have no
// collation and no checks, its dates are in both forms, and a value its type cannot
// take may be stored. It reads as it did: the values come back, the bad ones fail only
// where they are fetched, and writes into it are as free as they were.
TEST(Esql92StoredForm, FilesWrittenBeforeReadAsBefore) {
    TempDb f;
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(f.path().c_str(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw,
                               "PRAGMA journal_mode=WAL;"
                               "CREATE TABLE old (d DATE, k BIGINT);"
                               "INSERT INTO old VALUES ('2024-01-31', 1), ('2024/01/31', 2), ('2023/12/01', 3);"
                               "CREATE TABLE bad (d DATE, k BIGINT);"
                               "INSERT INTO bad VALUES ('2012/02/30', 'abc');",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
    }
    Conn c(f.target(), "stored-form-old");
    EXPECT_EQ(c.query("SELECT d, k FROM old ORDER BY k"),
              (Rows{{"2024-01-31", "1"}, {"2024-01-31", "2"}, {"2023-12-01", "3"}}));
    EXPECT_EQ(c.query("SELECT count(*) FROM old WHERE d = '2024/01/31'"), (Rows{{"1"}}));
    ASSERT_EQ(c.exec("INSERT INTO old VALUES ('2025-01-01', 4)"), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT CAST(d AS VARCHAR(10)) FROM old WHERE k = 4"), (Rows{{"2025-01-01"}}));

    c.query("SELECT d FROM bad");
    EXPECT_EQ(state(c.ca), "22007");
    c.query("SELECT k FROM bad");
    EXPECT_EQ(state(c.ca), "22018");
    EXPECT_EQ(c.query("SELECT count(*) FROM bad"), (Rows{{"1"}}));
}

// A table whose date check was written in the earlier form (a stored form computed and
// compared, then marked) keeps its rules: files made by earlier builds hold that check.
TEST(Esql92StoredForm, TablesWithTheEarlierDateCheckKeepItsRules) {
    TempDb f;
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(f.path().c_str(), &raw), SQLITE_OK);
        // The collation and functions are the stand-in's; any stand-ins let the file be
        // written here.
        sqlite3_create_collation(raw, "ESQL_DATE", SQLITE_UTF8, nullptr,
                                 [](void*, int an, const void* a, int bn, const void* b) {
                                     int c = std::memcmp(a, b, static_cast<size_t>(std::min(an, bn)));
                                     return c != 0 ? c : an - bn;
                                 });
        for (const char* name : {"esql_mark", "esql_date"})
            sqlite3_create_function(raw, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                    [](sqlite3_context* ctx, int, sqlite3_value** v) { sqlite3_result_value(ctx, v[0]); },
                                    nullptr, nullptr);
        ASSERT_EQ(sqlite3_exec(raw,
                               "PRAGMA journal_mode=WAL;"
                               "CREATE TABLE early (k INTEGER, d DATE COLLATE ESQL_DATE CONSTRAINT \"esql_form:d\""
                               " CHECK (esql_mark(esql_date(d) COLLATE BINARY IS NOT d)));",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
    }
    Conn c(f.target(), "stored-form-early");
    ASSERT_EQ(c.exec("INSERT INTO early VALUES (1, '2024-01-31'), (2, '2024/02/01'), (3, NULL)"), 0) << message(c.ca);
    EXPECT_LT(c.exec("INSERT INTO early VALUES (4, 'garbage')"), 0);
    EXPECT_EQ(state(c.ca), "22007");
    EXPECT_EQ(c.query("SELECT k, CAST(d AS VARCHAR(10)) FROM early ORDER BY k"),
              (Rows{{"1", "2024/01/31"}, {"2", "2024/02/01"}, {"3", "NULL"}}));
}

}  // namespace
