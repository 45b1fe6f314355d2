// Conversion from numeric values: one table of source x C type x value, and the exact
// decimal text of numeric structures.
#include "driver/exec/convert/convnum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "convert_support.h"
#include "util/errcode.h"

namespace {

using convtest::Expect;
using convtest::OK;
using convtest::INFO;
using convtest::ERR;
using convtest::TRUNC;
using convtest::FRAC;
using convtest::RANGE;
using convtest::TYPE;

enum class Src { S32, U32, S16, U16, S8, U8, Dbl, Flt };

struct Case {
    Src src;
    double value;   // every integer source value below is exact as a double
    int32_t cType;
    SQLLEN dstLen;
    int scale;
    int precision;
    Expect expect;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

SQLRETURN Convert(const Case& c, void* dst, SQLLEN dstLen, SQLLEN* len, int* err) {
    const auto i = static_cast<int64_t>(c.value);
    switch (c.src) {
    case Src::S32: return ConvertLONG(i, true, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    case Src::U32: return ConvertLONG(i, false, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    case Src::S16: return ConvertSHORT(i, true, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    case Src::U16: return ConvertSHORT(i, false, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    case Src::S8: return ConvertBYTE(i, true, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    case Src::U8: return ConvertBYTE(i, false, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    case Src::Dbl: return ConvertDOUBLE(c.value, c.cType, dst, dstLen, len, err, c.scale, c.precision);
    default:
        return ConvertFLOAT(static_cast<float>(c.value), c.cType, dst, dstLen, len, err, c.scale, c.precision);
    }
}

TEST(ConvNum, SourceByTargetByValue) {
    const Case cases[] = {
        // 32-bit integers: a narrower unsigned target tests the range, a wider one takes
        // the sign-extended bits.
        {Src::S32, -1, SQL_C_ULONG, 32, 0, 0, {OK, 0, 4, "4294967295"}},
        {Src::S32, -1, SQL_C_UTINYINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::S32, -1, SQL_C_UBIGINT, 32, 0, 0, {OK, 0, 8, "18446744073709551615"}},
        {Src::S32, 2147483647, SQL_C_SBIGINT, 32, 0, 0, {OK, 0, 8, "2147483647"}},
        {Src::U32, 3000000000, SQL_C_LONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::U32, 3000000000, SQL_C_SHORT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::U32, 3000000000, SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "3000000000"}},
        // The precision grows to the digits the magnitude has: 10 above the default 9.
        {Src::U32, 3000000000, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "10,0:3000000000"}},
        {Src::S32, -5, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "9,0:-5"}},
        {Src::S32, 123, SQL_C_NUMERIC, 32, 2, 0, {OK, 0, 19, "9,2:123.00"}},
        {Src::S32, 12345, SQL_C_NUMERIC, 32, -2, 0, {INFO, FRAC, 19, "9,-2:12300"}},
        {Src::S32, 12345, SQL_C_NUMERIC, 32, 0, 4, {ERR, RANGE, 0, ""}},
        {Src::S32, -2147483648.0, SQL_C_CHAR, 32, 0, 0, {OK, 0, 11, "-2147483648"}},
        {Src::S32, 1, SQL_C_BIT, 32, 0, 0, {OK, 0, 1, "1"}},
        {Src::S32, 2, SQL_C_BIT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::S32, 0x12345678, SQL_C_BINARY, 4, 0, 0, {OK, 0, 4, "78563412"}},
        {Src::S32, 1, SQL_C_BINARY, 3, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::S32, 1, SQL_C_TYPE_DATE, 32, 0, 0, {ERR, TYPE, 0, ""}},
        {Src::S32, 1, SQL_C_GUID, 32, 0, 0, {ERR, TYPE, 0, ""}},
        // 16 and 8 bits.
        {Src::S16, -5, SQL_C_CHAR, 2, 0, 0, {INFO, TRUNC, 2, "-"}},
        {Src::S16, -5, SQL_C_WCHAR, 4, 0, 0, {INFO, TRUNC, 4, "-"}},
        {Src::S16, -5, SQL_C_WCHAR, 6, 0, 0, {OK, 0, 4, "-5"}},
        {Src::S16, -1, SQL_C_USHORT, 32, 0, 0, {OK, 0, 2, "65535"}},
        {Src::U16, 40000, SQL_C_SHORT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::U16, 40000, SQL_C_LONG, 32, 0, 0, {OK, 0, 4, "40000"}},
        {Src::S16, 300, SQL_C_UTINYINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::S8, -128, SQL_C_TINYINT, 32, 0, 0, {OK, 0, 1, "-128"}},
        {Src::S8, -1, SQL_C_USHORT, 32, 0, 0, {OK, 0, 2, "65535"}},
        {Src::U8, 200, SQL_C_STINYINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::U8, 200, SQL_C_UTINYINT, 32, 0, 0, {OK, 0, 1, "200"}},
        {Src::U8, 200, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "3,0:200"}},
        // Doubles: truncated toward zero, a dropped fraction warns, an exact value never.
        {Src::Dbl, 2.5, SQL_C_LONG, 32, 0, 0, {INFO, FRAC, 4, "2"}},
        {Src::Dbl, -2.5, SQL_C_LONG, 32, 0, 0, {INFO, FRAC, 4, "-2"}},
        {Src::Dbl, 2.0, SQL_C_LONG, 32, 0, 0, {OK, 0, 4, "2"}},
        {Src::Dbl, -0.5, SQL_C_UTINYINT, 32, 0, 0, {INFO, FRAC, 1, "0"}},
        {Src::Dbl, -1.0, SQL_C_UTINYINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 1.5, SQL_C_BIT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 1.0, SQL_C_BIT, 32, 0, 0, {OK, 0, 1, "1"}},
        {Src::Dbl, 2147483647.0, SQL_C_LONG, 32, 0, 0, {OK, 0, 4, "2147483647"}},
        {Src::Dbl, 2147483648.0, SQL_C_LONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, -2147483649.0, SQL_C_SLONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 4294967295.5, SQL_C_ULONG, 32, 0, 0, {INFO, FRAC, 4, "4294967295"}},
        // 2^63 and 2^64 are the first values beyond the 64-bit targets.
        {Src::Dbl, 9223372036854775808.0, SQL_C_SBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, -9223372036854775808.0, SQL_C_SBIGINT, 32, 0, 0, {OK, 0, 8, "-9223372036854775808"}},
        {Src::Dbl, 18446744073709551616.0, SQL_C_UBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 18446744073709549568.0, SQL_C_UBIGINT, 32, 0, 0, {OK, 0, 8, "18446744073709549568"}},
        // NaN and infinities: out of range for every target but text.
        {Src::Dbl, kNaN, SQL_C_LONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, kNaN, SQL_C_DOUBLE, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, kNaN, SQL_C_NUMERIC, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, kNaN, SQL_C_BINARY, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, kInf, SQL_C_SBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, -kInf, SQL_C_FLOAT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, kInf, SQL_C_CHAR, 32, 0, 0, {OK, 0, 3, "inf"}},
        {Src::Dbl, 1e39, SQL_C_FLOAT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 3e38, SQL_C_FLOAT, 32, 0, 0, {OK, 0, 4, "3.00000001e+38"}},
        {Src::Dbl, 0.1, SQL_C_CHAR, 32, 0, 0, {OK, 0, 19, "0.10000000000000001"}},
        {Src::Dbl, 0.1, SQL_C_CHAR, 5, 0, 0, {INFO, TRUNC, 19, "0.10"}},
        {Src::Dbl, 1.0, SQL_C_BINARY, 4, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 1.0, SQL_C_BINARY, 8, 0, 0, {OK, 0, 8, "000000000000F03F"}},
        {Src::Dbl, 1.0, SQL_C_TIME, 32, 0, 0, {ERR, TYPE, 0, ""}},
        // SQL_C_NUMERIC from a double: the double's shortest decimal digits, exactly.
        {Src::Dbl, 123.456, SQL_C_NUMERIC, 32, 2, 0, {INFO, FRAC, 19, "15,2:123.45"}},
        {Src::Dbl, 123.45, SQL_C_NUMERIC, 32, 2, 0, {OK, 0, 19, "15,2:123.45"}},
        {Src::Dbl, -0.05, SQL_C_NUMERIC, 32, 3, 0, {OK, 0, 19, "15,3:-0.050"}},
        {Src::Dbl, 4294967296.0, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "15,0:4294967296"}},
        {Src::Dbl, 1e16, SQL_C_NUMERIC, 32, 0, 18, {OK, 0, 19, "18,0:10000000000000000"}},
        {Src::Dbl, 1e19, SQL_C_NUMERIC, 32, 0, 18, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 1e20, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "21,0:100000000000000000000"}},
        {Src::Dbl, 1e37, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "38,0:10000000000000000000000000000000000000"}},
        {Src::Dbl, 1e38, SQL_C_NUMERIC, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 1e30, SQL_C_NUMERIC, 32, 10, 0, {ERR, RANGE, 0, ""}},
        {Src::Dbl, 0.004, SQL_C_NUMERIC, 32, 2, 0, {INFO, FRAC, 19, "15,2:0.00"}},
        // Reals: their own digits, not those of the widened double.
        {Src::Flt, 0.1, SQL_C_CHAR, 32, 0, 0, {OK, 0, 3, "0.1"}},
        {Src::Flt, 0.1, SQL_C_NUMERIC, 32, 1, 0, {OK, 0, 19, "7,1:0.1"}},
        {Src::Flt, 0.1, SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "0.10000000149011612"}},
        {Src::Flt, 2147483648.0, SQL_C_LONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Flt, kNaN, SQL_C_SHORT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {Src::Flt, 1.0, SQL_C_BINARY, 4, 0, 0, {OK, 0, 4, "0000803F"}},
    };
    for (const Case& c : cases) {
        const auto o = convtest::Run(c.dstLen, [&](void* d, SQLLEN l, SQLLEN* len, int* err) {
            return Convert(c, d, l, len, err);
        });
        convtest::Check(o, c.cType, c.expect,
                        "source " + std::to_string(static_cast<int>(c.src)) + " value " + std::to_string(c.value) +
                            " to " + std::to_string(c.cType));
    }
}

TEST(ConvNum, EarlierTruncationMarksTheRow) {
    // 01004 left by an earlier column of the row turns a clean conversion into a warning,
    // and an exact value keeps it.
    int err = ERR_DATA_WAS_TRUNCATED;
    int32_t v = 0;
    SQLLEN len = 0;
    EXPECT_EQ(ConvertDOUBLE(7.0, SQL_C_LONG, &v, 0, &len, &err, 0, 0), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(err, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(v, 7);
}

TEST(ConvNum, NumericMagnitudeBytes) {
    // 2^32 needs the fifth byte; the bytes are little-endian.
    SQL_NUMERIC_STRUCT n{};
    int err = 0;
    ASSERT_EQ(DoubleToNumeric(4294967296.0, &n, 0, 0, &err), SQL_SUCCESS);
    const unsigned char expected[SQL_MAX_NUMERIC_LEN] = {0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(n.val, expected, sizeof expected), 0);
    EXPECT_EQ(n.sign, 1);
}

TEST(ConvNum, NumericToExactText) {
    struct Case {
        std::initializer_list<unsigned char> val;
        int scale;
        int sign;
        const char* text;
    };
    const Case cases[] = {
        {{0x39, 0x30}, 2, 0, "-123.45"},
        {{5}, 3, 1, "0.005"},
        {{123}, -2, 1, "12300"},
        {{0}, 2, 0, "0.00"},
        {{0}, -3, 1, "0"},
        {{0x15, 0x81, 0xE9, 0x7D, 0xF4, 0x10, 0x22, 0x11}, 0, 1, "1234567890123456789"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         0, 1, "340282366920938463463374607431768211455"},
    };
    for (const Case& c : cases) {
        SQL_NUMERIC_STRUCT n{};
        std::copy(c.val.begin(), c.val.end(), n.val);
        n.scale = static_cast<SQLSCHAR>(c.scale);
        n.sign = static_cast<SQLCHAR>(c.sign);
        char text[NUMERIC_TEXT_MAX];
        NumericToText(&n, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
    // The widest forms fit the documented size.
    SQL_NUMERIC_STRUCT n{};
    std::fill(std::begin(n.val), std::end(n.val), 0xFF);
    n.sign = 0;
    char text[NUMERIC_TEXT_MAX];
    n.scale = -128;
    NumericToText(&n, text, sizeof text);
    EXPECT_EQ(std::string(text), "-340282366920938463463374607431768211455" + std::string(128, '0'));
    n.scale = 127;
    NumericToText(&n, text, sizeof text);
    EXPECT_EQ(std::string(text), "-0." + std::string(127 - 39, '0') + "340282366920938463463374607431768211455");
}

}  // namespace
