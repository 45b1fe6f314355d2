// Value types shared by the conversions, and application values to internal values.
#include "driver/exec/convert/valtypes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "util/errcode.h"

namespace {

TEST(ValTypes, DefaultCTypeByVersion) {
    struct Case {
        int32_t sqlType;
        int16_t v2;
        int16_t v3;
    };
    const Case cases[] = {
        {SQL_INTEGER, SQL_C_LONG, SQL_C_LONG},         {SQL_FLOAT, SQL_C_DOUBLE, SQL_C_DOUBLE},
        {SQL_REAL, SQL_C_FLOAT, SQL_C_FLOAT},          {SQL_DATE, SQL_C_DATE, SQL_C_TYPE_DATE},
        {SQL_TIMESTAMP, SQL_C_TIMESTAMP, SQL_C_TYPE_TIMESTAMP},
        {SQL_TYPE_TIME, SQL_C_TYPE_TIME, SQL_C_TYPE_TIME},
        {SQL_WVARCHAR, SQL_C_WCHAR, SQL_C_WCHAR},      {SQL_BIGINT, SQL_C_CHAR, SQL_C_SBIGINT},
        {SQL_DECIMAL, SQL_C_CHAR, SQL_C_CHAR},         {SQL_GUID, SQL_C_CHAR, SQL_C_CHAR},
        {SQL_VARBINARY, SQL_C_BINARY, SQL_C_BINARY},   {SQL_BIT, SQL_C_BIT, SQL_C_BIT},
        {SQL_TINYINT, SQL_C_TINYINT, SQL_C_TINYINT},   {12345, 12345, 12345},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DefaultCType(c.sqlType, SQL_OV_ODBC2), c.v2) << c.sqlType;
        EXPECT_EQ(DefaultCType(c.sqlType, SQL_OV_ODBC3), c.v3) << c.sqlType;
    }
}

TEST(ValTypes, FixedSizesAndInternalTypes) {
    struct Case {
        int32_t cType;
        SQLLEN octets;
        int32_t dsType;
        uint32_t width;
    };
    const Case cases[] = {
        {SQL_C_NUMERIC, 19, DS_CHAR, 48},    {SQL_C_SLONG, 4, DS_SLONG, 4},
        {SQL_C_USHORT, 2, DS_USHORT, 2},      {SQL_C_SBIGINT, 8, DS_CHAR, 32},
        {SQL_C_UBIGINT, 8, DS_CHAR, 32},      {SQL_C_TYPE_DATE, 6, DS_DATE, 6},
        {SQL_C_TIME, 6, DS_TIME, 6},          {SQL_C_TYPE_TIMESTAMP, 16, DS_TIMESTAMP, 16},
        {SQL_C_GUID, 16, DS_CHAR, 36},        {SQL_C_BIT, 1, DS_BIT, 1},
        {SQL_C_STINYINT, 1, DS_STINYINT, 1},  {SQL_C_UTINYINT, 1, DS_UTINYINT, 1},
        {SQL_C_ULONG, 4, DS_ULONG, 4},        {SQL_C_FLOAT, 4, DS_FLOAT, 4},
        {SQL_C_CHAR, 0, DS_CHAR, 0},          {SQL_C_WCHAR, 0, DS_WCHAR, 0},
        {SQL_C_BINARY, 0, DS_BINARY, 0},      {777, 0, DS_CHAR, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CTypeOctetLength(c.cType), c.octets) << c.cType;
        uint32_t width = 99;
        EXPECT_EQ(CTypeToDsCType(c.cType, &width), c.dsType) << c.cType;
        EXPECT_EQ(width, c.width) << c.cType;
    }
    EXPECT_STREQ(CTypeName(SQL_C_SBIGINT), "SQL_C_SBIGINT");
    EXPECT_STREQ(CTypeName(777), "(unknown type)");
}

TEST(ValTypes, HexPowersAndDoubles) {
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(HexToBinary(out, "1F2", 3), 0);
    EXPECT_EQ(out[0], 0x1F);
    EXPECT_EQ(out[1], 0xAA);  // the odd last digit writes nothing
    // A character that is no digit is refused, not read as 0.
    EXPECT_EQ(HexToBinary(out, "zz", 2), ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    EXPECT_EQ(out[0], 0x1F);
    EXPECT_EQ(HexToBinary(out, "aBc0", 4), 0);
    EXPECT_EQ(out[0], 0xAB);
    EXPECT_EQ(out[1], 0xC0);

    EXPECT_DOUBLE_EQ(PowerOf(10, 3), 1000);
    EXPECT_DOUBLE_EQ(PowerOf(10, -2), 0.01);
    EXPECT_DOUBLE_EQ(PowerOf(7, 0), 1);
    char buf[32];
    FormatDouble(buf, sizeof buf, 0.1, 17);
    EXPECT_STREQ(buf, "0.10000000000000001");
    FormatDouble(buf, sizeof buf, 1.5f, 8);
    EXPECT_STREQ(buf, "1.5");
}

struct EscapeCase {
    std::string text;
    int32_t sqlType;
    int rc;
    int32_t written;  // DS_NONE: copied unchanged (or nothing, on an error)
    SQL_TIMESTAMP_STRUCT ts;
};

TEST(ValTypes, DateTimeEscapes) {
    const EscapeCase cases[] = {
        {"{ts '2024-02-29 23:59:58.5'}", SQL_TYPE_TIMESTAMP, 0, DS_TIMESTAMP, {2024, 2, 29, 23, 59, 58, 500000000}},
        {"{ts '2024-02-29 23:59:58.1234567891'}", 0, 0, DS_TIMESTAMP, {2024, 2, 29, 23, 59, 58, 123456789}},
        {"{ts '2024-01-02 03:04:05'}", 0, 0, DS_TIMESTAMP, {2024, 1, 2, 3, 4, 5, 0}},
        {"{d '2024/02/29'}", SQL_TYPE_DATE, 0, DS_DATE, {2024, 2, 29, 0, 0, 0, 0}},
        {"{d '2024-02-29'}", 0, 0, DS_DATE, {2024, 2, 29, 0, 0, 0, 0}},
        {"{t '12:34:56'}", SQL_TIME, 0, DS_TIME, {0, 0, 0, 12, 34, 56, 0}},
        {"{t '12:34:56'}", 0, 0, DS_TIME, {0, 0, 0, 12, 34, 56, 0}},
        // A time escape for a date column: the date fields were never given.
        {"{t '12:34:56'}", SQL_TYPE_DATE, 0, DS_DATE, {0, 0, 0, 0, 0, 0, 0}},
        {"{fn now()}", SQL_TYPE_TIMESTAMP, 0, DS_NONE, {}},
        {"{d '2024-02-29'}", SQL_VARCHAR, 0, DS_NONE, {}},
        {"{ts '2024-1-2'}", SQL_TYPE_TIMESTAMP, 0, DS_NONE, {}},  // 15 characters: too short
        {"{", SQL_TYPE_DATE, 0, DS_NONE, {}},
        // Values that are no date or time are refused, not turned into 0-0-0.
        {"{d 'abc'}", SQL_TYPE_DATE, ERR_INVALID_DATETIME_FORMAT, DS_NONE, {}},
        {"{d '2024-02-29", SQL_TYPE_DATE, ERR_INVALID_DATETIME_FORMAT, DS_NONE, {}},
        {"{t '12:34'}", SQL_TIME, ERR_INVALID_DATETIME_FORMAT, DS_NONE, {}},
        {"{ts '2024-02-29 23:59:58.'}", 0, ERR_INVALID_DATETIME_FORMAT, DS_NONE, {}},
        {"{d '-2024-01-01'}", 0, ERR_DATE_OVERFLOW, DS_NONE, {}},
        {"{d '2023-02-29'}", 0, ERR_DATE_OVERFLOW, DS_NONE, {}},
        {"{d '2024-13-01'}", 0, ERR_DATE_OVERFLOW, DS_NONE, {}},
        {"{t '24:00:00'}", 0, ERR_DATE_OVERFLOW, DS_NONE, {}},
    };
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.text + " as " + std::to_string(c.sqlType));
        unsigned char dest[64];
        std::memset(dest, 0xCD, sizeof dest);
        DATASET_COL col;
        int32_t written = -1;
        ASSERT_EQ(ParseDateTimeEscape(dest, sizeof dest, c.text.data(), c.text.size(), &col, c.sqlType, &written),
                  c.rc);
        ASSERT_EQ(written, c.written);
        if (c.rc != 0) {
            EXPECT_EQ(dest[0], 0xCD);
            EXPECT_EQ(col.type, DS_NONE);
            continue;
        }
        if (written == DS_NONE) {
            EXPECT_EQ(std::memcmp(dest, c.text.data(), c.text.size()), 0);
            EXPECT_EQ(dest[c.text.size()], 0xCD);
            EXPECT_EQ(col.type, DS_NONE);
            continue;
        }
        EXPECT_EQ(col.type, written);
        SQL_TIMESTAMP_STRUCT ts{};
        if (written == DS_TIME) {
            EXPECT_EQ(col.width, 6u);
            std::memcpy(&ts.hour, dest, 6);
        } else {
            std::memcpy(&ts, dest, col.width);
        }
        EXPECT_EQ(ts.year, c.ts.year);
        EXPECT_EQ(ts.month, c.ts.month);
        EXPECT_EQ(ts.day, c.ts.day);
        if (written != DS_DATE) {
            EXPECT_EQ(ts.hour, c.ts.hour);
            EXPECT_EQ(ts.minute, c.ts.minute);
            EXPECT_EQ(ts.second, c.ts.second);
        }
        if (written == DS_TIMESTAMP) {
            EXPECT_EQ(ts.fraction, c.ts.fraction);
        }
    }
}

TEST(ValTypes, DateTimeEscapeCopyNeverPassesTheDestination) {
    const std::string text = "{fn a rather long function escape that does not fit}";
    char dest[16];
    int32_t written = -1;
    EXPECT_EQ(ParseDateTimeEscape(dest, sizeof dest, text.data(), text.size(), nullptr, SQL_TYPE_DATE, &written), 0);
    EXPECT_EQ(written, DS_NONE);
    EXPECT_EQ(std::string(dest, sizeof dest), text.substr(0, sizeof dest));
}

TEST(ValTypes, WideDateTimeEscape) {
    const char16_t wide[] = u"{ts '2024-02-29 23:59:58.5'}";
    SQL_TIMESTAMP_STRUCT ts{};
    DATASET_COL col;
    int32_t written = -1;
    ASSERT_EQ(ParseDateTimeEscapeW(&ts, sizeof ts, reinterpret_cast<const SQLWCHAR*>(wide), sizeof wide - 2, &col,
                                   SQL_TYPE_TIMESTAMP, &written),
              0);
    EXPECT_EQ(written, DS_TIMESTAMP);
    EXPECT_EQ(ts.year, 2024);
    EXPECT_EQ(ts.second, 58);
    EXPECT_EQ(ts.fraction, 500000000u);
    // Not an escape: the UTF-16 value is copied as it is.
    const char16_t other[] = u"{x}";
    char16_t dest[4] = {};
    EXPECT_EQ(ParseDateTimeEscapeW(dest, sizeof dest, reinterpret_cast<const SQLWCHAR*>(other), 6, nullptr, 0,
                                   &written),
              0);
    EXPECT_EQ(written, DS_NONE);
    EXPECT_EQ(std::u16string(dest, 3), u"{x}");
}

TEST(ValTypes, NumericAndGuid) {
    // The numeric structure's exact text: every digit of its 128 bits, at its own scale.
    struct Case {
        SQLCHAR sign;
        SQLSCHAR scale;
        std::vector<uint8_t> bytes;   // least significant first
        const char* text;
    } cases[] = {
        {0, 2, {0x39, 0x30}, "-123.45"},
        {1, -2, {0x39, 0x30}, "1234500"},
        {1, 5, {0x39, 0x30}, "0.12345"},
        {1, 7, {0x39, 0x30}, "0.0012345"},
        {0, 0, {}, "0"},
        {1, 38, {}, "0"},
        // 2^128 - 1, 39 digits, and 10^38 - 1 at scale 38.
        {0, 0, std::vector<uint8_t>(16, 0xFF), "-340282366920938463463374607431768211455"},
        {1, 38, {0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 0x22, 0x8A, 0x09, 0x7A, 0xC4, 0x86, 0x5A, 0xA8, 0x4C, 0x3B, 0x4B},
         "0.99999999999999999999999999999999999999"},
        {0, -9, {0x05}, "-5E9"},
        {1, 60, {0x0C}, "12E-60"},
    };
    for (const Case& k : cases) {
        SQL_NUMERIC_STRUCT n{};
        n.precision = 38;
        n.scale = k.scale;
        n.sign = k.sign;
        std::copy(k.bytes.begin(), k.bytes.end(), n.val);
        char text[NUMERIC_TEXT_LENGTH];
        EXPECT_EQ(std::string(text, NumericToText(text, &n)), k.text);
    }

    SQLGUID g{0x0123ABCD, 0x45EF, 0x6789, {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17}};
    char text[GUID_TEXT_LENGTH + 1];
    text[GUID_TEXT_LENGTH] = '#';
    GuidToText(text, &g);
    EXPECT_EQ(std::string(text, GUID_TEXT_LENGTH), "0123ABCD-45EF-6789-A0B1-C2D3E4F50617");
    EXPECT_EQ(text[GUID_TEXT_LENGTH], '#');
}

}  // namespace

namespace {

// ---- The bounded copies, over a grid of buffer sizes ----

enum class Copy { Char, WideToChar, CharToWide, Wide };

struct CopyCase {
    Copy kind;
    const char* src;   // wide sources are these bytes as units
    SQLLEN piece;      // value at hand in source units; -1: the whole text
    SQLLEN total;
    bool nul;
    bool mayTruncate;
    SQLLEN dstLen;
    SQLRETURN rc;
    int err;
    SQLLEN len;
    const char* written;   // the text written, narrowed; null when nothing
};

TEST(ValTypes, BoundedCopiesOverBufferSizes) {
    constexpr SQLRETURN OK = SQL_SUCCESS, INFO = SQL_SUCCESS_WITH_INFO, ERR = SQL_ERROR;
    constexpr int T = ERR_DATA_WAS_TRUNCATED, R = ERR_NUMERIC_VALUE_OUT_OF_RANGE;
    const CopyCase cases[] = {
        {Copy::Char, "hello", -1, 0, true, true, 0, INFO, T, 5, nullptr},
        {Copy::Char, "hello", -1, 0, true, true, 1, INFO, T, 5, ""},
        {Copy::Char, "hello", -1, 0, true, true, 5, INFO, T, 5, "hell"},
        {Copy::Char, "hello", -1, 0, true, true, 6, OK, 0, 5, "hello"},
        {Copy::Char, "hello", -1, 0, true, false, 5, ERR, R, 0, nullptr},
        {Copy::Char, "hello", -1, 0, false, false, 5, OK, 0, 5, "hello"},
        // A piece of a long value: more remains, or the whole length is unknown.
        {Copy::Char, "0123456789", -1, 30, true, true, 64, INFO, T, 30, "0123456789"},
        {Copy::Char, "0123456789", -1, SQL_NO_TOTAL, true, true, 64, OK, 0, SQL_NO_TOTAL, "0123456789"},
        {Copy::WideToChar, "hello", -1, 0, true, true, 6, OK, 0, 5, "hello"},
        {Copy::WideToChar, "hello", -1, 0, true, true, 4, INFO, T, 5, "hel"},
        {Copy::WideToChar, "hello", -1, 20, true, true, 6, INFO, T, 20, "hello"},
        {Copy::CharToWide, "hello", -1, 0, true, true, 12, OK, 0, 10, "hello"},
        {Copy::CharToWide, "hello", -1, 0, true, true, 11, INFO, T, 10, "hell"},
        {Copy::CharToWide, "hello", -1, 0, true, true, 1, INFO, T, 10, nullptr},
        {Copy::CharToWide, "hello", -1, 0, true, true, 2, INFO, T, 10, ""},
        {Copy::CharToWide, "hello", -1, 30, true, true, 12, INFO, T, 60, "hello"},
        {Copy::Wide, "hello", -1, 0, true, true, 12, OK, 0, 10, "hello"},
        {Copy::Wide, "hello", -1, 0, true, true, 11, INFO, T, 10, "hell"},
        {Copy::Wide, "hello", -1, 0, true, true, 9, INFO, T, 10, "hel"},
        {Copy::Wide, "hello", -1, 0, true, true, 1, INFO, T, 10, nullptr},
        {Copy::Wide, "hello", -1, 0, false, false, 10, OK, 0, 10, "hello"},
        {Copy::Wide, "hello", -1, 0, false, false, 9, ERR, R, 0, nullptr},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.kind)) + " '" + c.src + "' into " + std::to_string(c.dstLen));
        const std::string narrow = c.src;
        std::basic_string<SQLWCHAR> wide(narrow.begin(), narrow.end());
        const SQLLEN units = static_cast<SQLLEN>(narrow.size());
        unsigned char buf[64];
        std::memset(buf, 0xCC, sizeof buf);
        SQLLEN len = 0;
        int err = 0;
        SQLRETURN rc = 0;
        switch (c.kind) {
        case Copy::Char:
            rc = CopyCharOut(narrow.data(), units, units, c.total, c.nul, c.mayTruncate, buf, c.dstLen, &len, &err);
            break;
        case Copy::WideToChar:
            rc = CopyWCharToChar(wide.data(), units, units, c.total, c.nul, c.mayTruncate, buf, c.dstLen, &len, &err,
                                 NarrowCode::Latin1);
            break;
        case Copy::CharToWide:
            rc = CopyCharToWChar(narrow.data(), units, units, c.total, c.nul, c.mayTruncate, buf, c.dstLen, &len, &err,
                                 NarrowCode::Latin1);
            break;
        case Copy::Wide:
            rc = CopyWCharOut(wide.data(), 2 * units, 2 * units, c.total, c.nul, c.mayTruncate, buf, c.dstLen, &len,
                              &err);
            break;
        }
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(err, c.err);
        if (rc != SQL_ERROR) {
            EXPECT_EQ(len, c.len);
        }
        // Nothing beyond the buffer, and nothing at all when nothing fits.
        for (size_t i = static_cast<size_t>(c.dstLen); i < sizeof buf; ++i)
            ASSERT_EQ(buf[i], 0xCC) << i;
        if (c.written == nullptr) {
            EXPECT_EQ(buf[0], 0xCC);
            continue;
        }
        const bool wideOut = c.kind == Copy::CharToWide || c.kind == Copy::Wide;
        std::string got;
        const size_t n = std::strlen(c.written) + (c.nul ? 1 : 0);
        for (size_t i = 0; i < n; ++i) {
            SQLWCHAR u = buf[i];
            if (wideOut)
                std::memcpy(&u, buf + 2 * i, 2);
            if (u == 0 && c.nul && i == n - 1)
                break;
            got.push_back(static_cast<char>(u));
        }
        EXPECT_EQ(got, c.written);
        if (c.nul) {
            EXPECT_EQ(wideOut ? buf[2 * (n - 1)] | buf[2 * n - 1] : buf[n - 1], 0);
        }
    }
}

TEST(ValTypes, CopiesKeepAnEarlierTruncation) {
    // One truncated column marks the whole row: a later copy that fits still warns.
    char out[8];
    SQLLEN len = 0;
    int err = ERR_DATA_WAS_TRUNCATED;
    EXPECT_EQ(CopyCharOut("ab", 2, 2, 0, true, true, out, sizeof out, &len, &err), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(out, "ab");
}

// ---- A seeded random loop over date escapes ----

bool ValidDate(int y, int m, int d) {
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m >= 1 && m <= 12 && d >= 1 && d <= days[m - 1] && (m != 2 || d != 29 || leap);
}

TEST(ValTypesFuzz, DateEscapesAgreeWithTheCalendar) {
    std::mt19937 rng(1210);
    std::uniform_int_distribution<int> year(0, 9999), month(0, 13), day(0, 32), mutate(0, 3), pos(0, 40),
        chr(0x20, 0x7E);
    for (int round = 0; round < 20000; ++round) {
        const int y = year(rng), m = month(rng), d = day(rng);
        char text[64];
        std::snprintf(text, sizeof text, "{d '%04d-%02d-%02d'}", y, m, d);
        std::string s = text;
        // Now and then a character is changed: the parse must never read past the text
        // nor accept what is no date.
        const bool mutated = mutate(rng) == 0;
        if (mutated)
            s[static_cast<size_t>(pos(rng)) % s.size()] = static_cast<char>(chr(rng));
        SQL_DATE_STRUCT out{};
        char copy[64];
        int32_t written = -1;
        void* dest = &out;
        size_t destSize = sizeof out;
        if (mutated) {
            dest = copy;
            destSize = sizeof copy;
        }
        const std::vector<char> exact(s.begin(), s.end());   // no terminator behind it
        const int rc = ParseDateTimeEscape(dest, destSize, exact.data(), exact.size(), nullptr, SQL_TYPE_DATE, &written);
        SCOPED_TRACE(s);
        if (mutated) {
            // Whatever it made of the text, a written date is one of the calendar's.
            if (rc == 0 && written == DS_DATE) {
                SQL_DATE_STRUCT got;
                std::memcpy(&got, copy, sizeof got);
                ASSERT_TRUE(ValidDate(got.year, got.month, got.day));
            }
            continue;
        }
        if (ValidDate(y, m, d)) {
            ASSERT_EQ(rc, 0);
            ASSERT_EQ(written, DS_DATE);
            ASSERT_EQ(out.year, y);
            ASSERT_EQ(out.month, m);
            ASSERT_EQ(out.day, d);
        } else {
            ASSERT_EQ(rc, ERR_DATE_OVERFLOW);
        }
    }
}

}  // namespace
