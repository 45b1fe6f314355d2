// Conversion from binary, date, time and timestamp values: one table per source kind.
#include "driver/exec/convert/convbin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "convert_support.h"
#include "util/errcode.h"

namespace {

using convtest::Expect;
using convtest::OK;
using convtest::INFO;
using convtest::ERR;
using convtest::TRUNC;
using convtest::RANGE;
using convtest::TYPE;
using convtest::DATE_RANGE;

TEST(ConvBin, BinaryByTarget) {
    struct Case {
        SQLLEN total;   // 0: the value is whole
        int32_t cType;
        SQLLEN dstLen;
        Expect expect;
    };
    const unsigned char bytes[] = {0x01, 0xAB};
    const Case cases[] = {
        {0, SQL_C_CHAR, 5, {OK, 0, 4, "01AB"}},
        {0, SQL_C_CHAR, 4, {INFO, TRUNC, 4, "01"}},
        {0, SQL_C_CHAR, 0, {INFO, TRUNC, 4, ""}},
        {0, SQL_C_WCHAR, 10, {OK, 0, 8, "01AB"}},
        {0, SQL_C_WCHAR, 6, {INFO, TRUNC, 8, "01"}},
        {0, SQL_C_WCHAR, 1, {INFO, TRUNC, 8, ""}},
        {0, SQL_C_BINARY, 2, {OK, 0, 2, "01AB"}},
        {0, SQL_C_BINARY, 1, {INFO, TRUNC, 2, "01"}},
        // One piece of a long value: more remains, or the whole length is unknown.
        {10, SQL_C_CHAR, 5, {INFO, TRUNC, 20, "01AB"}},
        {SQL_NO_TOTAL, SQL_C_CHAR, 5, {OK, 0, SQL_NO_TOTAL, "01AB"}},
        {10, SQL_C_BINARY, 2, {INFO, TRUNC, 10, "01AB"}},
        {0, SQL_C_LONG, 32, {ERR, TYPE, 0, ""}},
        {0, SQL_C_GUID, 32, {ERR, TYPE, 0, ""}},
    };
    for (const Case& c : cases) {
        const auto o = convtest::Run(c.dstLen, [&](void* d, SQLLEN l, SQLLEN* len, int* err) {
            return ConvertBINARY(bytes, 2, c.total, c.cType, d, l, len, err);
        });
        convtest::Check(o, c.cType, c.expect, "to " + std::to_string(c.cType) + " in " + std::to_string(c.dstLen));
    }
}

enum class Kind { Date, Time, Timestamp };

struct DtCase {
    Kind kind;
    SQL_TIMESTAMP_STRUCT value;   // a date or time takes its fields from here
    int fractionDigits;
    int32_t cType;
    SQLLEN dstLen;
    Expect expect;
};

SQLRETURN ConvertDt(const DtCase& c, void* d, SQLLEN l, SQLLEN* len, int* err) {
    const SQL_TIMESTAMP_STRUCT& v = c.value;
    if (c.kind == Kind::Date) {
        const SQL_DATE_STRUCT date{v.year, v.month, v.day};
        return ConvertDATE(&date, c.cType, d, l, len, err);
    }
    if (c.kind == Kind::Time) {
        const SQL_TIME_STRUCT time{v.hour, v.minute, v.second};
        return ConvertTIME(&time, c.cType, d, l, len, err);
    }
    return ConvertTIMESTAMP(&v, c.cType, d, l, len, c.fractionDigits, err);
}

TEST(ConvBin, DateTimeByTarget) {
    const SQL_TIMESTAMP_STRUCT day{2012, 3, 4, 0, 0, 0, 0};
    const SQL_TIMESTAMP_STRUCT bc{-44, 3, 15, 0, 0, 0, 0};
    const SQL_TIMESTAMP_STRUCT clock{0, 0, 0, 10, 11, 12, 0};
    const SQL_TIMESTAMP_STRUCT ts5ms{2012, 3, 4, 5, 6, 7, 5000000};
    const SQL_TIMESTAMP_STRUCT tsHalf{2012, 3, 4, 5, 6, 7, 500000000};
    const SQL_TIMESTAMP_STRUCT tsNs{2012, 3, 4, 5, 6, 7, 123456789};
    const SQL_TIMESTAMP_STRUCT ts1ns{2012, 3, 4, 5, 6, 7, 1};
    const DtCase cases[] = {
        {Kind::Date, day, 0, SQL_C_CHAR, 11, {OK, 0, 10, "2012-03-04"}},
        {Kind::Date, day, 0, SQL_C_CHAR, 10, {ERR, RANGE, 0, ""}},
        {Kind::Date, day, 0, SQL_C_WCHAR, 22, {OK, 0, 20, "2012-03-04"}},
        {Kind::Date, day, 0, SQL_C_WCHAR, 21, {ERR, RANGE, 0, ""}},
        {Kind::Date, day, 0, SQL_C_TYPE_DATE, 32, {OK, 0, 6, "2012-3-4"}},
        {Kind::Date, day, 0, SQL_C_TIMESTAMP, 32, {OK, 0, 16, "2012-3-4 0:0:0.0"}},
        {Kind::Date, day, 0, SQL_C_BINARY, 4, {INFO, TRUNC, 6, "DC070300"}},
        {Kind::Date, day, 0, SQL_C_TYPE_TIME, 32, {ERR, TYPE, 0, ""}},
        // Text would lose the sign of a year before year 0; the structure keeps it.
        {Kind::Date, bc, 0, SQL_C_CHAR, 32, {ERR, DATE_RANGE, 0, ""}},
        {Kind::Date, bc, 0, SQL_C_TYPE_DATE, 32, {OK, 0, 6, "-44-3-15"}},
        {Kind::Date, {10000, 1, 1, 0, 0, 0, 0}, 0, SQL_C_CHAR, 32, {ERR, DATE_RANGE, 0, ""}},
        {Kind::Time, clock, 0, SQL_C_CHAR, 9, {OK, 0, 8, "10:11:12"}},
        {Kind::Time, clock, 0, SQL_C_CHAR, 8, {ERR, RANGE, 0, ""}},
        {Kind::Time, clock, 0, SQL_C_WCHAR, 17, {ERR, RANGE, 0, ""}},
        {Kind::Time, clock, 0, SQL_C_TYPE_TIME, 32, {OK, 0, 6, "10:11:12"}},
        {Kind::Time, clock, 0, SQL_C_BINARY, 6, {OK, 0, 6, "0A000B000C00"}},
        {Kind::Time, clock, 0, SQL_C_DATE, 32, {ERR, TYPE, 0, ""}},
        // Fraction digits: at least as many as the column has, trailing zeros dropped
        // beyond them, nine at most.
        {Kind::Timestamp, ts5ms, 3, SQL_C_CHAR, 32, {OK, 0, 23, "2012-03-04 05:06:07.005"}},
        {Kind::Timestamp, tsHalf, 3, SQL_C_CHAR, 32, {OK, 0, 23, "2012-03-04 05:06:07.500"}},
        {Kind::Timestamp, tsHalf, 1, SQL_C_CHAR, 32, {OK, 0, 21, "2012-03-04 05:06:07.5"}},
        {Kind::Timestamp, tsNs, 3, SQL_C_CHAR, 32, {OK, 0, 29, "2012-03-04 05:06:07.123456789"}},
        {Kind::Timestamp, tsNs, 0, SQL_C_CHAR, 32, {OK, 0, 19, "2012-03-04 05:06:07"}},
        {Kind::Timestamp, ts1ns, 12, SQL_C_CHAR, 32, {OK, 0, 29, "2012-03-04 05:06:07.000000001"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_CHAR, 11, {INFO, TRUNC, 23, "2012-03-04"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_WCHAR, 64, {OK, 0, 46, "2012-03-04 05:06:07.005"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_TYPE_DATE, 32, {OK, 0, 6, "2012-3-4"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_TIME, 32, {OK, 0, 6, "5:6:7"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_TYPE_TIMESTAMP, 32, {OK, 0, 16, "2012-3-4 5:6:7.5000000"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_BINARY, 16, {OK, 0, 16, "DC0703000400050006000700404B4C00"}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_BINARY, 8, {INFO, TRUNC, 16, "DC07030004000500"}},
        {Kind::Timestamp, {-1, 1, 1, 0, 0, 0, 0}, 0, SQL_C_CHAR, 32, {ERR, DATE_RANGE, 0, ""}},
        {Kind::Timestamp, {2012, 1, 1, 0, 0, 0, 1000000000}, 3, SQL_C_CHAR, 32, {ERR, DATE_RANGE, 0, ""}},
        {Kind::Timestamp, ts5ms, 3, SQL_C_GUID, 32, {ERR, TYPE, 0, ""}},
    };
    for (const DtCase& c : cases) {
        const auto o = convtest::Run(c.dstLen, [&](void* d, SQLLEN l, SQLLEN* len, int* err) {
            return ConvertDt(c, d, l, len, err);
        });
        convtest::Check(o, c.cType, c.expect,
                        "kind " + std::to_string(static_cast<int>(c.kind)) + " to " + std::to_string(c.cType));
    }
}

// The text forms are written by hand; printf's formats are the reference, over the edges
// of every field: years under 1000, fields past two digits, fractions of every length.
TEST(ConvBin, DateTimeTextMatchesPrintfForms) {
    const SQLSMALLINT years[] = {0, 7, 999, 1000, 2024, 9999};
    const SQLUSMALLINT fields[] = {0, 1, 9, 10, 59, 99, 100, 65535};
    const SQLUINTEGER fractions[] = {0, 1, 5000000, 100000000, 123456789, 999999999};
    char text[DATETIME_TEXT_SIZE];
    char want[64];
    for (const SQLSMALLINT y : years)
        for (const SQLUSMALLINT f : fields) {
            const SQL_DATE_STRUCT date{y, f, static_cast<SQLUSMALLINT>(f == 0 ? 31 : f)};
            std::snprintf(want, sizeof want, "%04d-%02u-%02u", date.year, date.month, date.day);
            EXPECT_EQ(std::string(text, DateText(text, &date)), want);
            EXPECT_STREQ(text, want);
            const SQL_TIME_STRUCT time{f, 59, f};
            std::snprintf(want, sizeof want, "%02u:%02u:%02u", time.hour, time.minute, time.second);
            EXPECT_EQ(std::string(text, TimeText(text, &time)), want);
            for (const SQLUINTEGER fraction : fractions)
                for (int digits = 0; digits <= 10; ++digits) {
                    const SQL_TIMESTAMP_STRUCT ts{y, 12, f, f, 0, 7, fraction};
                    int n = std::snprintf(want, sizeof want, "%04d-%02u-%02u %02u:%02u:%02u", ts.year, ts.month,
                                          ts.day, ts.hour, ts.minute, ts.second);
                    if (digits > 0) {
                        char nine[16];
                        std::snprintf(nine, sizeof nine, "%09u", static_cast<unsigned>(fraction));
                        int kept = 9;
                        while (kept > std::min(digits, 9) && nine[kept - 1] == '0')
                            --kept;
                        std::snprintf(want + n, sizeof want - static_cast<size_t>(n), ".%.*s", kept, nine);
                    }
                    EXPECT_EQ(std::string(text, TimestampText(text, &ts, digits)), want) << digits;
                }
        }
}

TEST(ConvBin, TimeToTimestampTakesTodaysDate) {
    const SQL_TIME_STRUCT time{10, 11, 12};
    auto today = [] {
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        return tm;
    };
    const std::tm before = today();
    SQL_TIMESTAMP_STRUCT ts{};
    SQLLEN len = 0;
    int err = 0;
    ASSERT_EQ(ConvertTIME(&time, SQL_C_TYPE_TIMESTAMP, &ts, 0, &len, &err), SQL_SUCCESS);
    const std::tm after = today();
    // Midnight may pass between the two readings.
    const bool matches = (ts.year == before.tm_year + 1900 && ts.month == before.tm_mon + 1 &&
                          ts.day == before.tm_mday) ||
                         (ts.year == after.tm_year + 1900 && ts.month == after.tm_mon + 1 && ts.day == after.tm_mday);
    EXPECT_TRUE(matches) << ts.year << "-" << ts.month << "-" << ts.day;
    EXPECT_EQ(ts.hour, 10);
    EXPECT_EQ(ts.minute, 11);
    EXPECT_EQ(ts.second, 12);
    EXPECT_EQ(ts.fraction, 0u);
    EXPECT_EQ(len, 16);
}

}  // namespace
