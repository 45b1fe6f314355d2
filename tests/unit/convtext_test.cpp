// Conversion from narrow and wide text values: one table of text x C type, and seeded
// random loops that hold the text parsers to a plain model of their grammar.
#include "driver/exec/convert/convtext.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <cstdlib>
#include <random>
#include <string>

#include "driver/exec/convert/convnum.h"
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
using convtest::ASSIGN;
using convtest::CAST;

struct Case {
    bool wide;          // the text as UTF-16 (each byte one unit) instead of bytes
    std::string text;
    int32_t cType;
    SQLLEN dstLen;
    int scale;
    int precision;
    Expect expect;
};

std::basic_string<SQLWCHAR> Widen(const std::string& s) {
    std::basic_string<SQLWCHAR> w;
    for (unsigned char c : s)
        w.push_back(c);
    return w;
}

TEST(ConvText, TextByTargetByValue) {
    const std::string nines38(38, '9');
    const Case cases[] = {
        // Integers: white space around, a sign, digits, nothing else.
        {false, "  42  ", SQL_C_LONG, 32, 0, 0, {OK, 0, 4, "42"}},
        {false, "+7", SQL_C_SSHORT, 32, 0, 0, {OK, 0, 2, "7"}},
        {false, "42x", SQL_C_LONG, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "4 2", SQL_C_LONG, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "", SQL_C_LONG, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "2.5", SQL_C_LONG, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "2147483648", SQL_C_LONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "-2147483648", SQL_C_LONG, 32, 0, 0, {OK, 0, 4, "-2147483648"}},
        {false, "-1", SQL_C_ULONG, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "4294967295", SQL_C_ULONG, 32, 0, 0, {OK, 0, 4, "4294967295"}},
        {false, "-129", SQL_C_TINYINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "255", SQL_C_UTINYINT, 32, 0, 0, {OK, 0, 1, "255"}},
        {false, "18446744073709551615", SQL_C_UBIGINT, 32, 0, 0, {OK, 0, 8, "18446744073709551615"}},
        {false, "18446744073709551616", SQL_C_UBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "-9223372036854775808", SQL_C_SBIGINT, 32, 0, 0, {OK, 0, 8, "-9223372036854775808"}},
        {false, "9223372036854775808", SQL_C_SBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "-9223372036854775809", SQL_C_SBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "184467440737095516150", SQL_C_UBIGINT, 32, 0, 0, {ERR, RANGE, 0, ""}},   // past 64 bits
        // A bit reports every fault as out of range.
        {false, "1", SQL_C_BIT, 32, 0, 0, {OK, 0, 1, "1"}},
        {false, "2", SQL_C_BIT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "x", SQL_C_BIT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        // Decimals: "$" and "," ignored, the grammar checked before the number is read.
        {false, "$1,234.5", SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "1234.5"}},
        {false, "  -2.5e1", SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "-25"}},
        {false, ".5", SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "0.5"}},
        {false, "", SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "0"}},
        {false, "1.5 ", SQL_C_DOUBLE, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "0x1A", SQL_C_DOUBLE, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "inf", SQL_C_DOUBLE, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "nan", SQL_C_FLOAT, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "1e", SQL_C_DOUBLE, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "1e309", SQL_C_DOUBLE, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, "1e-400", SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "0"}},
        {false, "1e39", SQL_C_FLOAT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, std::string(513, '1'), SQL_C_DOUBLE, 32, 0, 0, {ERR, RANGE, 0, ""}},
        // Exact decimals up to 38 digits, the fraction cut to the scale with 01S07.
        {false, "12.345", SQL_C_NUMERIC, 32, 2, 0, {INFO, FRAC, 19, "5,2:12.34"}},
        {false, "12.300", SQL_C_NUMERIC, 32, 2, 0, {OK, 0, 19, "5,2:12.30"}},
        {false, "-0.5", SQL_C_NUMERIC, 32, 1, 3, {OK, 0, 19, "3,1:-0.5"}},
        {false, "123.4", SQL_C_NUMERIC, 32, 1, 2, {ERR, RANGE, 0, ""}},
        {false, "123.45", SQL_C_NUMERIC, 32, 2, 4, {ERR, RANGE, 0, ""}},
        {false, "12345678901234567890", SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "20,0:12345678901234567890"}},
        {false, nines38, SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "38,0:" + nines38}},
        {false, nines38 + "9", SQL_C_NUMERIC, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {false, nines38, SQL_C_NUMERIC, 32, 1, 0, {ERR, RANGE, 0, ""}},
        {false, "1.5e2", SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "3,0:150"}},
        {false, " +7 ", SQL_C_NUMERIC, 32, 0, 0, {OK, 0, 19, "1,0:7"}},
        {false, "12a", SQL_C_NUMERIC, 32, 0, 0, {ERR, CAST, 0, ""}},
        {false, "1-2", SQL_C_NUMERIC, 32, 0, 0, {ERR, CAST, 0, ""}},
        {false, "", SQL_C_NUMERIC, 32, 0, 0, {ERR, CAST, 0, ""}},
        // GUIDs: 36 characters, hyphens in place, hexadecimal digits.
        {false, "12345678-9abc-DEF0-1234-56789ABCDEF0", SQL_C_GUID, 32, 0, 0,
         {OK, 0, 16, "78563412BC9AF0DE123456789ABCDEF0"}},
        {false, "12345678-9ABC-DEF0x1234-56789ABCDEF0", SQL_C_GUID, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {false, "12345678-9ABC-DEF0-1234-56789ABCDEF", SQL_C_GUID, 32, 0, 0,
         {ERR, ERR_STRING_LENGTH_MISMATCH, 0, ""}},
        {false, "1234567G-9ABC-DEF0-1234-56789ABCDEF0", SQL_C_GUID, 32, 0, 0, {ERR, CAST, 0, ""}},
        // Text, binary, and the targets text does not reach.
        {false, "abcdefghij", SQL_C_CHAR, 4, 0, 0, {INFO, TRUNC, 10, "abc"}},
        {false, "ab\xE9", SQL_C_WCHAR, 8, 0, 0, {OK, 0, 6, "ab\xE9"}},
        {false, "ab", SQL_C_WCHAR, 4, 0, 0, {INFO, TRUNC, 4, "a"}},
        {false, "abc", SQL_C_BINARY, 2, 0, 0, {INFO, TRUNC, 3, "6162"}},
        {false, "2024-01-01", SQL_C_TYPE_DATE, 32, 0, 0, {ERR, ERR_DRIVER_NOT_CAPABLE, 0, ""}},
        {false, "1", 12345, 32, 0, 0, {ERR, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION, 0, ""}},
        // Wide text: the same parsers over the UTF-8 form; one byte a unit to SQL_C_CHAR.
        {true, " 42 ", SQL_C_LONG, 32, 0, 0, {OK, 0, 4, "42"}},
        {true, "1.5", SQL_C_DOUBLE, 32, 0, 0, {OK, 0, 8, "1.5"}},
        {true, "0x10", SQL_C_DOUBLE, 32, 0, 0, {ERR, ASSIGN, 0, ""}},
        {true, "12.345", SQL_C_NUMERIC, 32, 2, 0, {INFO, FRAC, 19, "5,2:12.34"}},
        {true, "2", SQL_C_BIT, 32, 0, 0, {ERR, RANGE, 0, ""}},
        {true, "abcdef", SQL_C_CHAR, 4, 0, 0, {INFO, TRUNC, 6, "abc"}},
        {true, "abcd", SQL_C_WCHAR, 5, 0, 0, {INFO, TRUNC, 8, "a"}},
        {true, "abcd", SQL_C_WCHAR, 10, 0, 0, {OK, 0, 8, "abcd"}},
        {true, "ab", SQL_C_BINARY, 4, 0, 0, {OK, 0, 4, "61006200"}},
        {true, "12345678-9ABC-DEF0-1234-56789ABCDEF0", SQL_C_GUID, 32, 0, 0,
         {ERR, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION, 0, ""}},
        {true, "10:11:12", SQL_C_TIME, 32, 0, 0, {ERR, ERR_DRIVER_NOT_CAPABLE, 0, ""}},
    };
    for (const Case& c : cases) {
        const auto wide = Widen(c.text);
        const auto o = convtest::Run(c.dstLen, [&](void* d, SQLLEN l, SQLLEN* len, int* err) {
            if (c.wide)
                return ConvertWCHAR(wide.data(), static_cast<SQLLEN>(2 * wide.size()), 0, c.cType, d, l, len, err,
                                    c.scale, c.precision, NarrowCode::Latin1);
            return ConvertCHAR(c.text.data(), static_cast<SQLLEN>(c.text.size()), 0, c.cType, d, l, len, err,
                               c.scale, c.precision, NarrowCode::Latin1, NarrowCode::Latin1);
        });
        convtest::Check(o, c.cType, c.expect, (c.wide ? "wide '" : "'") + c.text + "' to " + std::to_string(c.cType));
    }
}

TEST(ConvText, WideTextOutsideTheCodePage) {
    // U+0100 and the character of a pair are not in ISO-8859-1 (the pair is one '?'); a
    // non-ASCII digit is no digit.
    const SQLWCHAR text[] = {u'a', 0x0100, 0xD83D, 0xDE00, 0x00E9};
    char out[8] = {};
    SQLLEN len = 0;
    int err = 0;
    ASSERT_EQ(ConvertWCHAR(text, sizeof text, 0, SQL_C_CHAR, out, sizeof out, &len, &err, 0, 0, NarrowCode::Latin1),
              SQL_SUCCESS);
    EXPECT_STREQ(out, "a??\xE9");
    EXPECT_EQ(len, 4);
    const SQLWCHAR arabicThree[] = {0x0663};
    int32_t v = 0;
    EXPECT_EQ(ConvertWCHAR(arabicThree, sizeof arabicThree, 0, SQL_C_LONG, &v, 4, &len, &err, 0, 0,
                           NarrowCode::Latin1),
              SQL_ERROR);
    EXPECT_EQ(err, ERR_ERROR_IN_ASSIGNMENT);
}

// ---- Seeded random loops: the parsers against plain models of their grammar ----

std::string RandomText(std::mt19937& rng, const std::string& alphabet, size_t maxLen) {
    std::uniform_int_distribution<size_t> len(0, maxLen), pick(0, alphabet.size() - 1);
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = alphabet[pick(rng)];
    return s;
}

TEST(ConvTextFuzz, IntegersAgreeWithTheModel) {
    std::mt19937 rng(20261210);
    for (int round = 0; round < 20000; ++round) {
        const std::string s = RandomText(rng, " +-0123456789x.", 24);
        // The model: blanks, an optional sign, at least one digit, blanks; the value in
        // 128 bits against the bounds of SQL_C_SBIGINT.
        size_t i = s.find_first_not_of(' ');
        bool valid = i != std::string::npos;
        bool negative = false;
        __int128 value = 0;
        bool big = false;
        if (valid) {
            if (s[i] == '+' || s[i] == '-')
                negative = s[i++] == '-';
            const size_t digitsAt = i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
                value = value * 10 + (s[i++] - '0');
                big = big || value > (static_cast<__int128>(1) << 64);
            }
            valid = i > digitsAt && s.find_first_not_of(' ', i) == std::string::npos;
        }
        if (negative)
            value = -value;
        const bool inRange = !big && value >= INT64_MIN && value <= INT64_MAX;
        uint64_t bits = 0;
        int err = 0;
        const SQLRETURN rc = CharToNumber64(s.data(), static_cast<SQLLEN>(s.size()), INT64_MIN, INT64_MAX, &bits, &err);
        SCOPED_TRACE("'" + s + "'");
        if (!valid) {
            ASSERT_EQ(rc, SQL_ERROR);
            ASSERT_EQ(err, ERR_ERROR_IN_ASSIGNMENT);
        } else if (!inRange) {
            ASSERT_EQ(rc, SQL_ERROR);
            ASSERT_EQ(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        } else {
            ASSERT_EQ(rc, SQL_SUCCESS);
            ASSERT_EQ(static_cast<int64_t>(bits), static_cast<int64_t>(value));
        }
    }
}

TEST(ConvTextFuzz, ExactDecimalsKeepEveryDigit) {
    std::mt19937 rng(38);
    std::uniform_int_distribution<int> intDigits(0, 40), fracDigits(0, 8), scaleOf(0, 6), digit(0, 9), coin(0, 1);
    for (int round = 0; round < 20000; ++round) {
        std::string whole, fraction;
        for (int n = intDigits(rng); n > 0; --n)
            whole.push_back(static_cast<char>('0' + digit(rng)));
        for (int n = fracDigits(rng); n > 0; --n)
            fraction.push_back(static_cast<char>('0' + digit(rng)));
        if (whole.empty() && fraction.empty())
            whole = "0";
        const bool negative = coin(rng) == 1;
        const int scale = scaleOf(rng);
        const std::string text = (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);

        // The model: the digits up to the scale, the rest dropped.
        std::string kept = fraction.substr(0, std::min<size_t>(fraction.size(), static_cast<size_t>(scale)));
        kept.append(static_cast<size_t>(scale) - kept.size(), '0');
        const bool dropped = fraction.size() > static_cast<size_t>(scale) &&
                             fraction.find_first_not_of('0', static_cast<size_t>(scale)) != std::string::npos;
        std::string intPart = whole.empty() ? "0" : whole;
        intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size() - 1));
        const std::string magnitude = (intPart == "0" ? "" : intPart) + kept;
        const size_t significant =
            magnitude.find_first_not_of('0') == std::string::npos ? 0 : magnitude.size() - magnitude.find_first_not_of('0');
        const bool zero = significant == 0;
        std::string expected = (negative && !zero ? "-" : "") + intPart + (scale > 0 ? "." + kept : "");

        SQL_NUMERIC_STRUCT n{};
        int err = 0;
        const SQLRETURN rc = CharToNumeric(text.data(), static_cast<SQLLEN>(text.size()), &n, scale, 0, &err);
        SCOPED_TRACE(text + " at scale " + std::to_string(scale));
        if (significant > 38) {
            ASSERT_EQ(rc, SQL_ERROR);
            ASSERT_EQ(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
            continue;
        }
        ASSERT_EQ(rc, dropped ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
        ASSERT_EQ(err, dropped ? ERR_FRACTIONAL_TRUNCATION : 0);
        char out[NUMERIC_TEXT_MAX];
        NumericToText(&n, out, sizeof out);
        ASSERT_EQ(std::string(out), expected);
        ASSERT_GE(n.precision, significant);
        ASSERT_LE(n.precision, 38);
    }
}

TEST(ConvTextFuzz, DecimalsReadAsTheCLocaleReadsThem) {
    std::mt19937 rng(7);
    locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    ASSERT_NE(c, nullptr);
    for (int round = 0; round < 20000; ++round) {
        const std::string s = RandomText(rng, "0123456789.eE+-", 14);
        double d = 0;
        int err = 0;
        const SQLRETURN rc = CharToDecimal(s.data(), static_cast<SQLLEN>(s.size()), &d, &err);
        SCOPED_TRACE("'" + s + "'");
        if (s.empty()) {
            ASSERT_EQ(rc, SQL_SUCCESS);
            continue;
        }
        // strtod agrees wherever the text is a plain decimal that it reads whole.
        char* end = nullptr;
        const double ref = strtod_l(s.c_str(), &end, c);
        const bool whole = end == s.c_str() + s.size();
        if (!whole) {
            ASSERT_EQ(rc, SQL_ERROR);
            ASSERT_EQ(err, ERR_ERROR_IN_ASSIGNMENT);
        } else if (std::isinf(ref)) {
            ASSERT_EQ(rc, SQL_ERROR);
            ASSERT_EQ(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        } else {
            ASSERT_EQ(rc, SQL_SUCCESS);
            ASSERT_EQ(d, ref);
        }
    }
    freelocale(c);
}

}  // namespace
