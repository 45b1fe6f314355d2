// Exact numerics on the embedded server: NUMERIC values to their full precision through
// literals and parameters, the digits checked against precision and scale, comparisons,
// and SUM and AVG.
#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;
using Rows = std::vector<std::vector<std::string>>;

const std::string kNines38(38, '9');

// One parameter row of VARCHAR or packed NUMERIC elements.
class ParamRow {
public:
    explicit ParamRow(uint32_t cols) : bufs_(cols), inds_(cols, 0) { da = PRO_SQLDA_Allocate(cols, ESQL_SQLDA_INPUT); }
    ~ParamRow() { PRO_SQLDA_Deallocate(da); }
    void text(uint32_t col, const std::string& v) {
        std::vector<char>& b = bufs_[col - 1];
        b.assign(v.begin(), v.end());
        b.resize(v.size() + 1, '\0');
        set(col, ESQL_VARCHAR, static_cast<uint32_t>(b.size()));
    }
    void numeric(uint32_t col, bool negative, int precision, int scale, const std::string& digits) {
        ESQL_NUMERIC_VALUE n{};
        n.sign = negative;
        n.precision = static_cast<uint8_t>(precision);
        n.scale = static_cast<uint8_t>(scale);
        n.ndigits = static_cast<uint8_t>(digits.size());
        for (size_t k = 0; k < digits.size(); ++k)
            n.digits[k / 2] |= static_cast<uint8_t>((digits[k] - '0') << (k % 2 == 0 ? 4 : 0));
        std::vector<char>& b = bufs_[col - 1];
        b.assign(reinterpret_cast<const char*>(&n), reinterpret_cast<const char*>(&n) + sizeof n);
        set(col, ESQL_NUMERIC, sizeof n);
    }
    PRO_SQLDA* da;

private:
    void set(uint32_t col, int32_t type, uint32_t len) {
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, col, type, nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, col, len, nullptr);
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, col, bufs_[col - 1].data(), nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, col, &inds_[col - 1], nullptr);
    }
    std::vector<std::vector<char>> bufs_;
    std::vector<int32_t> inds_;
};

int execWith(Conn& c, const std::string& sql, ParamRow& p) {
    ESQL_CURHDL cur;
    if (c.prepare(sql, cur) < 0)
        return c.rc;
    return c.rc = tpe_sqlexecute(c.tm, c.db, cur, p.da, &c.ca);
}

// Each literal reaches its column with every digit: read back as fetched (the packed
// NUMERIC at the column's scale) and as the text the column holds.
TEST(Esql92Numeric, LiteralsKeepEveryDigit) {
    TempDb f;
    Conn c(f.target(), "numeric-literals");
    struct Case {
        const char* type;
        std::string literal;
        std::string fetched;
    } cases[] = {
        {"NUMERIC(38,0)", kNines38, kNines38},
        {"NUMERIC(38,0)", "-" + kNines38, "-" + kNines38},
        {"DECIMAL(29,0)", "12345678901234567890123456789", "12345678901234567890123456789"},
        {"NUMERIC(38,10)", "1234567890123456789012345678.0123456789", "1234567890123456789012345678.0123456789"},
        {"NUMERIC(38,10)", "-0.0000000001", "-0.0000000001"},
        {"NUMERIC(20,0)", "9223372036854775808", "9223372036854775808"},   // 2^63, past BIGINT
        {"NUMERIC(38,37)", "1.2345678901234567890123456789012345678", "1.2345678901234567890123456789012345678"},
    };
    int n = 0;
    for (const Case& k : cases) {
        std::string t = "t" + std::to_string(n++);
        ASSERT_EQ(c.exec("CREATE TABLE " + t + " (x " + k.type + ")"), 0) << message(c.ca);
        ASSERT_EQ(c.exec("INSERT INTO " + t + " VALUES (" + k.literal + ")"), 0) << k.literal << ": " << message(c.ca);
        EXPECT_EQ(c.query("SELECT x FROM " + t), (Rows{{k.fetched}})) << k.literal;
        EXPECT_EQ(c.query("SELECT count(*) FROM " + t + " WHERE x = " + k.literal), (Rows{{"1"}})) << k.literal;
    }
    // A literal in the select list and in a column default.
    EXPECT_EQ(c.query("SELECT 12345678901234567890123456789.5, -98765432109876543210.25 FROM t0"),
              (Rows{{"12345678901234567890123456789.5", "-98765432109876543210.25"}}));
    ASSERT_EQ(c.exec("CREATE TABLE d (k INTEGER, x NUMERIC(38,2) DEFAULT -123456789012345678901234567890.12)"), 0)
        << message(c.ca);
    ASSERT_EQ(c.exec("INSERT INTO d (k) VALUES (1)"), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT x FROM d"), (Rows{{"-123456789012345678901234567890.12"}}));
}

// Digits are counted exactly against precision and scale; a refused value leaves nothing
// stored, and the edge values are taken.
TEST(Esql92Numeric, ValuesThatDoNotFitAreRefused) {
    TempDb f;
    Conn c(f.target(), "numeric-refused");
    ASSERT_EQ(c.exec("CREATE TABLE w (x NUMERIC(38,0))"), 0);
    ASSERT_EQ(c.exec("CREATE TABLE m (x NUMERIC(5,2))"), 0);
    struct Case {
        const char* table;
        std::string value;
        const char* state;   // "" when taken
    } cases[] = {
        {"w", kNines38 + "9", "22003"},
        {"w", "-1" + std::string(38, '0'), "22003"},
        {"w", "'" + kNines38 + "9'", "22003"},
        {"w", "'1e38'", "22003"},
        {"m", "999.995", "22003"},   // rounds to 1000.00
        {"m", "1000", "22003"},
        {"m", "'abc'", "22018"},
        {"m", "'12x'", "22018"},
        {"m", "x'01'", "22018"},
        {"w", "'1e37'", ""},
        {"m", "999.994", ""},
        {"m", "-999.99", ""},
        {"m", "'  12.5 '", ""},
    };
    for (const Case& k : cases) {
        std::string t = k.table;
        ASSERT_EQ(c.exec(std::string("DELETE FROM ") + t), 0);
        int rc = c.exec("INSERT INTO " + t + " VALUES (" + k.value + ")");
        if (*k.state == '\0') {
            EXPECT_EQ(rc, 0) << k.value << ": " << message(c.ca);
            EXPECT_EQ(c.query("SELECT count(*) FROM " + t), (Rows{{"1"}})) << k.value;
            continue;
        }
        EXPECT_LT(rc, 0) << k.value;
        EXPECT_EQ(state(c.ca), k.state) << k.value << ": " << message(c.ca);
        EXPECT_NE(message(c.ca).find("column x"), std::string::npos) << message(c.ca);
        EXPECT_EQ(c.query("SELECT count(*) FROM " + t), (Rows{{"0"}})) << k.value;
    }
    // An update is held to the same digits.
    ASSERT_EQ(c.exec("DELETE FROM m"), 0);
    ASSERT_EQ(c.exec("INSERT INTO m VALUES (1.5)"), 0);
    EXPECT_LT(c.exec("UPDATE m SET x = x * 1000"), 0);
    EXPECT_EQ(state(c.ca), "22003");
    EXPECT_EQ(c.query("SELECT x FROM m"), (Rows{{"1.50"}}));
}

// Every value is stored rounded to its column's scale, in one text whatever way it came:
// equality then finds what a fetch shows.
TEST(Esql92Numeric, StoredRoundedToTheScale) {
    TempDb f;
    Conn c(f.target(), "numeric-stored");
    ASSERT_EQ(c.exec("CREATE TABLE t (k INTEGER, x NUMERIC(10,2), z NUMERIC(38,0))"), 0);
    struct Case {
        const char* value;
        const char* stored;
    } cases[] = {
        {"123.456", "123.46"}, {"-123.455", "-123.46"}, {"'1e2'", "100.00"}, {"5", "5.00"},
        {"0.1 + 0.2", "0.30"}, {"' +7.1 '", "7.10"}, {"-0.001", "0.00"}, {"'0012.50'", "12.50"},
    };
    int k = 0;
    for (const Case& x : cases) {
        ASSERT_EQ(c.exec("INSERT INTO t (k, x) VALUES (" + std::to_string(++k) + ", " + x.value + ")"), 0)
            << x.value << ": " << message(c.ca);
        EXPECT_EQ(c.query("SELECT CAST(x AS VARCHAR(20)) FROM t WHERE k = " + std::to_string(k)), (Rows{{x.stored}}))
            << x.value;
        EXPECT_EQ(c.query("SELECT count(*) FROM t WHERE k = " + std::to_string(k) + " AND x = " + x.stored),
                  (Rows{{"1"}}))
            << x.value;
    }
    ParamRow p(1);
    p.text(1, "2.005");
    ASSERT_EQ(execWith(c, "UPDATE t SET x = ?, z = 12345678901234567890123456789.5 WHERE k = 1", p), 0)
        << message(c.ca);
    EXPECT_EQ(c.query("SELECT CAST(x AS VARCHAR(20)), CAST(z AS VARCHAR(40)) FROM t WHERE k = 1"),
              (Rows{{"2.01", "12345678901234567890123456790"}}));
    ASSERT_EQ(c.exec("INSERT INTO t (k, x) VALUES (20, 1.001), (21, '1.004'), (22, 0.999)"), 0);
    EXPECT_EQ(c.query("SELECT count(DISTINCT x) FROM t WHERE k >= 20"), (Rows{{"1"}}));
}

// Values that a double cannot tell apart are compared, ordered and found by their digits.
TEST(Esql92Numeric, ComparisonsAndOrderAreExact) {
    TempDb f;
    Conn c(f.target(), "numeric-compare");
    ASSERT_EQ(c.exec("CREATE TABLE t (k INTEGER, x NUMERIC(38,1))"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (1, 12345678901234567890123456789.3), (2, 12345678901234567890123456789.1),"
                     " (3, -12345678901234567890123456789.2), (4, 12345678901234567890123456789.2)"),
              0)
        << message(c.ca);
    EXPECT_EQ(c.query("SELECT k FROM t ORDER BY x"), (Rows{{"3"}, {"2"}, {"4"}, {"1"}}));
    EXPECT_EQ(c.query("SELECT k FROM t WHERE x = 12345678901234567890123456789.2"), (Rows{{"4"}}));
    EXPECT_EQ(c.query("SELECT k FROM t WHERE x > 12345678901234567890123456789.15 ORDER BY k"), (Rows{{"1"}, {"4"}}));
    EXPECT_EQ(c.query("SELECT k FROM t WHERE x = -12345678901234567890123456789.2"), (Rows{{"3"}}));
    EXPECT_EQ(c.query("SELECT k FROM t WHERE x < 0 - 1 AND x BETWEEN -12345678901234567890123456789.3 AND 0"),
              (Rows{{"3"}}));
    EXPECT_EQ(c.query("SELECT max(x), min(x) FROM t"),
              (Rows{{"12345678901234567890123456789.3", "-12345678901234567890123456789.2"}}));
}

// VARCHAR and packed NUMERIC parameters keep every digit, in a write and in a comparison.
TEST(Esql92Numeric, ParametersKeepEveryDigit) {
    TempDb f;
    Conn c(f.target(), "numeric-params");
    ASSERT_EQ(c.exec("CREATE TABLE t (k INTEGER, x NUMERIC(38,10))"), 0);
    ParamRow text(2);
    text.text(1, "1");
    text.text(2, "-1234567890123456789012345678.0123456789");
    ASSERT_EQ(execWith(c, "INSERT INTO t VALUES (?, ?)", text), 0) << message(c.ca);
    ParamRow packed(2);
    packed.text(1, "2");
    packed.numeric(2, false, 38, 10, "12345678901234567890123456780123456789");
    ASSERT_EQ(execWith(c, "INSERT INTO t VALUES (?, ?)", packed), 0) << message(c.ca);
    EXPECT_EQ(c.query("SELECT k, x FROM t ORDER BY k"),
              (Rows{{"1", "-1234567890123456789012345678.0123456789"},
                    {"2", "1234567890123456789012345678.0123456789"}}));
    ParamRow probe(1);
    probe.numeric(1, false, 38, 10, "12345678901234567890123456780123456789");
    ESQL_CURHDL cur;
    ASSERT_EQ(c.prepare("DELETE FROM t WHERE x = ?", cur), 0);
    ASSERT_EQ(tpe_sqlexecute(c.tm, c.db, cur, probe.da, &c.ca), 0) << message(c.ca);
    EXPECT_EQ(c.ca.sqlrows, 1);
    ParamRow bad(2);
    bad.text(1, "3");
    bad.text(2, "twelve");
    EXPECT_LT(execWith(c, "INSERT INTO t VALUES (?, ?)", bad), 0);
    EXPECT_EQ(state(c.ca), "22018");
}

// SUM and AVG of exact numerics add their digits exactly, past 38 digits too; integers and
// reals keep SQLite's storage classes and its integer overflow.
TEST(Esql92Numeric, SumAndAvgAreExact) {
    TempDb f;
    Conn c(f.target(), "numeric-sum");
    ASSERT_EQ(c.exec("CREATE TABLE t (g INTEGER, x NUMERIC(12,2), i INTEGER, r FLOAT)"), 0);
    for (int k = 0; k < 10; ++k)
        ASSERT_EQ(c.exec("INSERT INTO t VALUES (" + std::to_string(k % 2) + ", 0.10, 3, 0.5)"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (2, 100001234.49, NULL, NULL), (2, 0.00, NULL, NULL)"), 0);
    // Ten times 0.10 in doubles is 0.9999999999999999.
    EXPECT_EQ(c.query("SELECT sum(x), avg(x) FROM t WHERE g < 2"), (Rows{{"1.00", "0.1000000000"}}));
    EXPECT_EQ(c.query("SELECT avg(x) FROM t WHERE g = 2"), (Rows{{"50000617.2450000000"}}));
    EXPECT_EQ(c.query("SELECT g, sum(x) FROM t GROUP BY g HAVING sum(x) > 0.4 ORDER BY g"),
              (Rows{{"0", "0.50"}, {"1", "0.50"}, {"2", "100001234.49"}}));
    EXPECT_EQ(c.query("SELECT typeof(sum(i)), sum(i), typeof(sum(r)), avg(i) FROM t"),
              (Rows{{"integer", "30", "real", "3"}}));
    EXPECT_EQ(c.query("SELECT sum(x) FROM t WHERE g > 5"), (Rows{{"NULL"}}));

    ASSERT_EQ(c.exec("CREATE TABLE b (k INTEGER, x NUMERIC(38,0), i BIGINT)"), 0);
    ASSERT_EQ(c.exec("INSERT INTO b VALUES (1, " + kNines38 + ", 9223372036854775807), (2, " + kNines38 +
                     ", 1), (3, -1, 0)"),
              0)
        << message(c.ca);
    // Beyond 128 bits, and rounded half away from zero at the tenth digit.
    EXPECT_EQ(c.query("SELECT CAST(sum(x) AS VARCHAR(60)), CAST(avg(x) AS VARCHAR(60)) FROM b"),
              (Rows{{"199999999999999999999999999999999999997", "66666666666666666666666666666666666665.6666666667"}}));
    EXPECT_EQ(c.query("SELECT CAST(sum(x) AS VARCHAR(60)) FROM b WHERE k > 1"), (Rows{{std::string(37, '9') + "8"}}));
    c.query("SELECT sum(i) FROM b");
    EXPECT_LT(c.rc, 0);
    EXPECT_EQ(state(c.ca), "22003");
    // As a window over a moving frame, whose rows leave the sum again.
    EXPECT_EQ(c.query("SELECT CAST(sum(x) OVER (ORDER BY k ROWS BETWEEN 1 PRECEDING AND CURRENT ROW)"
                      " AS VARCHAR(60)) FROM b ORDER BY k"),
              (Rows{{kNines38}, {"1" + std::string(37, '9') + "8"}, {std::string(37, '9') + "8"}}));
}

}  // namespace
