// Value conversion between the server's layouts and the dataset's internal types: fetched
// values into every internal type with cuts to the element, and parameter values into the
// server's layouts, with the refusals of values the server cannot take.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "drv_pro9/db_conv.h"
#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_err.h"
#include "tests/unit/agent_conv_support.h"
#include "tests/unit/dataset_fixture.h"
#include "util/errcode.h"

namespace {

using namespace convtest;

bool IsNotTextParam(int32_t t) {
    return t == DS_BINARY || t == DS_VARBINARY8 || t == DS_VARBINARY16 || t == DS_VARBINARY32 ||
           t == DS_UTINYINT || t == DS_USHORT || t == DS_ULONG || t == DS_TIME;
}

struct FetchCase {
    const char* what;
    int32_t server;
    std::string src;
    int32_t ds;
    uint32_t width;
    const char* expected;
};

TEST(AgentConv, FetchedValuesFillEveryInternalTypeWithinTheElement) {
    const std::string numeric = NumericElem("-12.50", 10);
    const std::string big = Bytes(INT64_MIN);
    const std::string fifty(50, '9');
    const FetchCase cases[] = {
        {"text", ESQL_VARCHAR, TextElem(kHello, 8), DS_CHARZ, 10, "h\xC3\xA9llo"},
        {"text cut at a character", ESQL_VARCHAR, TextElem(kHello, 8), DS_CHARZ, 3, "h"},
        {"text into fixed CHAR", ESQL_VARCHAR, TextElem(kHello, 8), DS_CHAR, 3, "h\xC3\xA9"},
        {"source without NUL", ESQL_CHARACTER, TextElem("abcdef", 4), DS_CHARZ, 10, "abcd"},
        {"text to UCS-2", ESQL_VARCHAR, TextElem(kHello, 8), DS_WCHARZ, 14, "h\xC3\xA9llo"},
        {"text to UCS-2, cut", ESQL_VARCHAR, TextElem(kHello, 8), DS_WCHARZ, 8, "h\xC3\xA9l"},
        {"text to fixed UCS-2", ESQL_VARCHAR, TextElem(kHello, 8), DS_WCHAR, 4, "h\xC3\xA9"},
        {"NUMERIC as text", ESQL_NUMERIC, numeric, DS_CHARZ, 13, "-12.50"},
        {"NUMERIC cut", ESQL_NUMERIC, numeric, DS_CHARZ, 4, "-12"},
        {"NUMERIC to UCS-2", ESQL_NUMERIC, numeric, DS_WCHARZ, 28, "-12.50"},
        {"NUMERIC of 50 digits", ESQL_NUMERIC, NumericElem(fifty, 50), DS_CHARZ, 54, fifty.c_str()},
        {"BIGINT as text", ESQL_BIGINT, big, DS_CHARZ, 21, "-9223372036854775808"},
        {"BIGINT cut", ESQL_BIGINT, big, DS_CHARZ, 9, "-9223372"},
        {"BIGINT to UCS-2", ESQL_BIGINT, big, DS_WCHARZ, 42, "-9223372036854775808"},
        {"DATE", ESQL_DATE, Bytes(ESQL_DATE_VALUE{2012, 3, 4}), DS_DATE, 6, "2012-3-4"},
        {"TIME", ESQL_TIME, Bytes(ESQL_TIME_VALUE{13, 14, 15, {0, 0, 0}}), DS_TIME, 6, "13:14:15"},
        {"TIMESTAMP", ESQL_TIMESTAMP, Bytes(ESQL_TIMESTAMP_VALUE{2012, 3, 4, 13, 14, 15, 0, 123}), DS_TIMESTAMP,
         16, "2012-3-4 13:14:15.123000000"},
        {"BINARY padded", ESQL_BINARY, BinaryElem(3, "abc"), DS_BINARY, 5, "6162630000"},
        {"BINARY cut", ESQL_BINARY, BinaryElem(3, "abc"), DS_BINARY, 2, "6162"},
        {"VARBINARY by reference", ESQL_VARBINARY, BinaryElem(3, "abc"), DS_LONGBINARY, 16, "3:616263"},
        {"negative byte count", ESQL_BINARY, BinaryElem(-5, "abc"), DS_LONGBINARY, 16, "0:"},
    };
    for (const FetchCase& c : cases) {
        auto ds = dsfix::Make({{c.ds, c.width}}, 2);
        auto src = reinterpret_cast<const unsigned char*>(c.src.data());
        const unsigned char* cursor = src;
        ASSERT_EQ(db_ConvDBMSToKVR(&cursor, &ds->cols[0], 1, static_cast<uint32_t>(c.src.size()), c.server), 0)
            << c.what;
        EXPECT_EQ(cursor, src + c.src.size()) << c.what;   // one element on
        EXPECT_EQ(RenderDs(&ds->cols[0], 1), c.expected) << c.what;
        // Row 0 and the spare byte stay untouched: nothing is written past the element.
        for (uint32_t k = 0; k < c.width; ++k)
            ASSERT_EQ(ds->cols[0].data[k], 0) << c.what;
        EXPECT_EQ(ds->cols[0].data[2 * c.width], 0) << c.what;
    }
}

// A fetched column converts in one call, with loops of its own for BIGINT text and dates:
// every row holds what the value-by-value conversion writes, the whole element included,
// and a NULL row keeps what it held.
TEST(AgentConv, FetchedColumnMatchesTheConversionOfEachValue) {
    LogLines quiet;           // the short DATE logs its refusal
    const std::string null;   // an empty source marks a NULL row
    const struct {
        const char* what;
        int32_t server;
        uint32_t srcLen;
        int32_t ds;
        uint32_t width;
        std::vector<std::string> rows;
    } cases[] = {
        {"BIGINT text", ESQL_BIGINT, 8, DS_CHARZ, 21, {Bytes(INT64_MIN), Bytes(int64_t{0}), null, Bytes(INT64_MAX)}},
        {"BIGINT text cut", ESQL_BIGINT, 8, DS_CHARZ, 9, {Bytes(int64_t{12345678}), Bytes(int64_t{-123456789})}},
        {"BIGINT into UCS-2", ESQL_BIGINT, 8, DS_WCHARZ, 42, {Bytes(int64_t{-7}), null}},
        {"DATE", ESQL_DATE, 4, DS_DATE, 6, {Bytes(ESQL_DATE_VALUE{2024, 2, 29}), null, Bytes(ESQL_DATE_VALUE{1, 1, 1})}},
        {"DATE too short", ESQL_DATE, 2, DS_DATE, 6, {Bytes(int16_t{1})}},
        {"text", ESQL_VARCHAR, 8, DS_CHARZ, 6, {TextElem(kHello, 8), null, TextElem("ab", 8)}},
    };
    for (const auto& c : cases) {
        const auto n = static_cast<int32_t>(c.rows.size());
        std::string src;
        for (const std::string& r : c.rows)
            src += r.empty() ? std::string(c.srcLen, '\0') : r.substr(0, c.srcLen);
        auto whole = dsfix::Make({{c.ds, c.width}}, n);
        auto each = dsfix::Make({{c.ds, c.width}}, n);
        for (auto* ds : {whole.get(), each.get()}) {
            std::memset(ds->cols[0].data, 0xAB, static_cast<size_t>(n) * c.width);
            for (int32_t r = 0; r < n; ++r)
                ds->cols[0].indicators[r] = c.rows[r].empty() ? DS_IND_NULL : 0;
        }
        auto data = reinterpret_cast<const unsigned char*>(src.data());
        int expected = 0;
        for (int32_t r = 0; r < n && expected == 0; ++r) {
            const unsigned char* cursor = data + static_cast<size_t>(r) * c.srcLen;
            if (!c.rows[r].empty())
                expected = db_ConvDBMSToKVR(&cursor, &each->cols[0], r, c.srcLen, c.server);
        }
        EXPECT_EQ(db_ConvDBMSColumnToKVR(data, c.srcLen, c.server, &whole->cols[0], n), expected) << c.what;
        EXPECT_EQ(Hex(whole->cols[0].data, static_cast<size_t>(n) * c.width),
                  Hex(each->cols[0].data, static_cast<size_t>(n) * c.width))
            << c.what;
    }
}

TEST(AgentConv, FetchedBinaryCountIsBoundedByItsElement) {
    auto ds = dsfix::Make({{DS_LONGBINARY, 16}}, 1);
    std::string src = BinaryElem(40000, std::string(31996, 'x'));
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(src.data());
    ASSERT_EQ(db_ConvDBMSToKVR(&cursor, &ds->cols[0], 0, 32000, ESQL_BINARY), 0);
    DS_REFVAL ref;
    std::memcpy(&ref, ds->cols[0].data, sizeof ref);
    EXPECT_EQ(ref.length, DB_BINARY_MAX);

    // A second value for the same element replaces the first block (the dataset owns it).
    std::string next = BinaryElem(1, "z");
    cursor = reinterpret_cast<const unsigned char*>(next.data());
    ASSERT_EQ(db_ConvDBMSToKVR(&cursor, &ds->cols[0], 0, 32000, ESQL_BINARY), 0);
    EXPECT_EQ(RenderDs(&ds->cols[0], 0), "1:7a");

    dsfix::FailAfter none(0);
    cursor = reinterpret_cast<const unsigned char*>(next.data());
    EXPECT_EQ(db_ConvDBMSToKVR(&cursor, &ds->cols[0], 0, 32000, ESQL_BINARY), ERR_MEMORY_ALLOCATION_FAILURE);
}

TEST(AgentConv, FetchedConversionsWithoutARuleFail) {
    LogLines log;
    std::string four = Bytes(int32_t{7});
    std::string bad = NumericElem("1", 5);
    bad[3] = 60;   // more digits than the layout holds
    struct Case {
        int32_t server;
        std::string src;
        int32_t ds;
        uint32_t width;
        const char* line;
    } cases[] = {
        {ESQL_INTEGER, four, DS_SLONG, 4, "db_ConvDBMSToKVR: Unhandled conversion\n"},
        {ESQL_DATE, Bytes(int16_t{1}), DS_DATE, 6, "db_ConvDBMSToKVR: Unhandled conversion\n"},
        {ESQL_NUMERIC, bad, DS_CHARZ, 40, "db_ConvDBMSToKVR: cannot render a value of type 2\n"},
    };
    for (const Case& c : cases) {
        log.lines.clear();
        auto ds = dsfix::Make({{c.ds, c.width}}, 1);
        const unsigned char* cursor = reinterpret_cast<const unsigned char*>(c.src.data());
        EXPECT_EQ(db_ConvDBMSToKVR(&cursor, &ds->cols[0], 0, static_cast<uint32_t>(c.src.size()), c.server),
                  ERR_GENERAL_ERROR);
        ASSERT_EQ(log.lines.size(), 1u) << c.line;
        EXPECT_EQ(log.lines[0], c.line);
    }
}

// --- parameters ---------------------------------------------------------------------------

struct ParamCase {
    const char* what;
    int32_t ds;
    uint32_t width;
    std::string bytes;     // the element, or the block of a by-reference value
    int64_t refLength;     // by-reference length, -1 for an element value
    int32_t server;
    uint32_t elem;
    const char* expected;
};

TEST(AgentConv, ParameterValuesTakeTheServersLayouts) {
    const ParamCase cases[] = {
        {"u8", DS_UTINYINT, 1, "\xC8", -1, ESQL_SMALLINT, 2, "200"},
        {"u16", DS_USHORT, 2, Bytes(uint16_t{60000}), -1, ESQL_INTEGER, 4, "60000"},
        {"u32", DS_ULONG, 4, Bytes(uint32_t{4000000000u}), -1, ESQL_BIGINT, 8, "4000000000"},
        {"date", DS_DATE, 6, Bytes(SQL_DATE_STRUCT{2012, 3, 4}), -1, ESQL_DATE, 4, "2012-3-4"},
        {"time", DS_TIME, 6, Bytes(SQL_TIME_STRUCT{13, 14, 15}), -1, ESQL_TIME, 6, "13:14:15|000"},
        {"timestamp keeps milliseconds", DS_TIMESTAMP, 16,
         Bytes(SQL_TIMESTAMP_STRUCT{2012, 3, 4, 13, 14, 15, 123456789}), -1, ESQL_TIMESTAMP, 10,
         "2012-3-4 13:14:15.123|0"},
        {"fixed binary", DS_BINARY, 3, "abc", -1, ESQL_BINARY, 32000, "3:616263"},
        {"binary by reference", DS_LONGBINARY, 16, "xyz", 3, ESQL_VARBINARY, 32000, "3:78797a"},
        {"binary, 1-byte length", DS_VARBINARY8, 5, "\x02" "ab", -1, ESQL_VARBINARY, 32000, "2:6162"},
        {"1-byte length past the element", DS_VARBINARY8, 3, "\x09" "ab", -1, ESQL_VARBINARY, 32000, "2:6162"},
        {"binary, 2-byte length", DS_VARBINARY16, 6, Prefixed(uint16_t{3}, "abc"), -1, ESQL_VARBINARY, 32000,
         "3:616263"},
        {"binary, 4-byte length", DS_VARBINARY32, 8, Prefixed(int32_t{3}, "abc"), -1, ESQL_VARBINARY, 32000,
         "3:616263"},
        {"text by reference", DS_LONGCHAR, 16, "hello", 5, ESQL_VARCHAR, 6, "hello"},
        {"text, 1-byte length", DS_VARCHAR8, 4, "\x03" "abc", -1, ESQL_VARCHAR, 4, "abc"},
        {"text, 2-byte length", DS_VARCHAR16, 6, Prefixed(uint16_t{3}, "abc"), -1, ESQL_VARCHAR, 5, "abc"},
        {"text, 4-byte length", DS_VARCHAR32, 8, Prefixed(int32_t{4}, "abcd"), -1, ESQL_VARCHAR, 5, "abcd"},
        {"4-byte length past the element", DS_VARCHAR32, 8, Prefixed(int32_t{99}, "abcd"), -1, ESQL_VARCHAR, 5,
         "abcd"},
        {"fixed UCS-2", DS_WCHAR, 10, U16(kHello), -1, ESQL_CHARACTER, 21, "h\xC3\xA9llo"},
        {"UCS-2 up to its NUL", DS_WCHARZ, 8, U16("h\xC3\xA9"), -1, ESQL_VARCHAR, 17, "h\xC3\xA9"},
        {"UCS-2 by reference", DS_LONGWCHAR, 16, U16(kHello), 5, ESQL_VARCHAR, 21, "h\xC3\xA9llo"},
        {"UCS-2 after a count", DS_WVARCHAR32, 12, Prefixed(int32_t{2}, U16("h\xC3\xA9!")), -1, ESQL_VARCHAR, 17,
         "h\xC3\xA9"},
    };
    for (const ParamCase& c : cases) {
        bool convert = false;
        ASSERT_EQ(db_DsCTypeToDbmsType(c.ds, &convert), c.server) << c.what;
        ASSERT_TRUE(convert) << c.what;
        // Row 1 holds the value between two NULL rows.
        auto ds = dsfix::Make({{c.ds, c.width}}, 3);
        if (c.refLength >= 0)
            PutRef(&ds->cols[0], 1, c.bytes, static_cast<uint32_t>(c.refLength));
        else
            Put(&ds->cols[0], 1, c.bytes);
        DB_VALBUF out;
        ASSERT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 0, 3, &out, 1, nullptr), 0) << c.what;
        EXPECT_EQ(out.elemSize, c.elem) << c.what;
        EXPECT_EQ(out.rows, 3) << c.what;
        EXPECT_EQ(RenderServer(c.server, out.elem(1), out.elemSize), c.expected) << c.what;
        for (int32_t row : {0, 2})
            for (uint32_t k = 0; k < out.elemSize; ++k)
                ASSERT_EQ(out.elem(row)[k], 0) << c.what << " NULL row " << row;
        // The rows of a single-row binding start at the given row.
        DB_VALBUF one;
        ASSERT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 1, 1, &one, 1, nullptr), 0) << c.what;
        EXPECT_EQ(RenderServer(c.server, one.elem(0), one.elemSize), c.expected) << c.what;
    }
}

// A client told ISO-8859-1 at connect (the ANSI library) gets wide parameter text in that
// code page, not UTF-8 (which it would take for Latin-1 and encode a second time).
TEST(AgentConv, WideTextToALatin1ClientIsNarrowed) {
    auto ds = dsfix::Make({{DS_LONGWCHAR, 16}}, 1);
    const std::string units = U16("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80!");  // é € 😀 !
    PutRef(&ds->cols[0], 0, units, static_cast<uint32_t>(units.size() / 2));
    DB_VALBUF out;
    ASSERT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 0, 1, &out, 1, nullptr, true), 0);
    EXPECT_EQ(RenderServer(ESQL_VARCHAR, out.elem(0), out.elemSize), "\xE9?" "?!");
}

TEST(AgentConv, ByReferenceTextElementsHoldTheLongestValueAndItsNul) {
    auto ds = dsfix::Make({{DS_LONGCHAR, 16}}, 2);
    PutRef(&ds->cols[0], 0, "hello", 5);
    PutRef(&ds->cols[0], 1, "hi", 2);
    DB_VALBUF out;
    ASSERT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 0, 2, &out, 1, nullptr), 0);
    ASSERT_EQ(out.elemSize, 6u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.elem(0)), 6), std::string("hello\0", 6));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.elem(1)), 6), std::string("hi\0\0\0\0", 6));
}

TEST(AgentConv, ParameterValuesTheServerCannotTakeAreRefused) {
    struct Case {
        const char* what;
        int32_t ds;
        uint32_t width;
        std::string bytes;
        int64_t refLength;
        int code;
        const char* state;
        const char* message;
    } cases[] = {
        {"zero date", DS_DATE, 6, Bytes(SQL_DATE_STRUCT{0, 0, 0}), -1, ERR_INVALID_DATETIME_FORMAT, "22007",
         "Invalid datetime value 0000-00-00 in parameter 2"},
        {"zero timestamp", DS_TIMESTAMP, 16, Bytes(SQL_TIMESTAMP_STRUCT{0, 0, 0, 10, 0, 0, 0}), -1,
         ERR_INVALID_DATETIME_FORMAT, "22007", "Invalid datetime value 0000-00-00 in parameter 2"},
        {"month past a byte", DS_DATE, 6, Bytes(SQL_DATE_STRUCT{2012, 268, 4}), -1, ERR_DATE_OVERFLOW, "22008",
         "Datetime field overflow in parameter 2"},
        {"hour past a byte", DS_TIMESTAMP, 16, Bytes(SQL_TIMESTAMP_STRUCT{2012, 1, 4, 256, 0, 0, 0}), -1,
         ERR_DATE_OVERFLOW, "22008", "Datetime field overflow in parameter 2"},
        {"second past a byte", DS_TIME, 6, Bytes(SQL_TIME_STRUCT{1, 2, 300}), -1, ERR_DATE_OVERFLOW, "22008",
         "Datetime field overflow in parameter 2"},
        {"long binary", DS_LONGBINARY, 16, std::string(31997, 'b'), 31997, ERR_STRING_DATA_RIGHT_TRUNCATION,
         "22001", "Binary value of 31997 bytes in parameter 2 is longer than the 31996 bytes a parameter can hold"},
        {"wide fixed binary", DS_BINARY, 32000, std::string(32000, 'b'), -1, ERR_STRING_DATA_RIGHT_TRUNCATION,
         "22001", "Binary value of 32000 bytes in parameter 2 is longer than the 31996 bytes a parameter can hold"},
    };
    for (const Case& c : cases) {
        auto ds = dsfix::Make({{c.ds, c.width}}, 2);
        // Row 0 is a NULL of the same bad value, which is never looked at.
        if (c.refLength >= 0) {
            PutRef(&ds->cols[0], 1, c.bytes, static_cast<uint32_t>(c.refLength));
        } else {
            Put(&ds->cols[0], 0, c.bytes);
            ds->cols[0].indicators[0] = DS_IND_NULL;
            Put(&ds->cols[0], 1, c.bytes);
        }
        OA_ERRLIST errors;
        DB_VALBUF out;
        EXPECT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 0, 2, &out, 2, &errors), c.code) << c.what;
        ASSERT_NE(errors.head, nullptr) << c.what;
        EXPECT_STREQ(errors.head->sqlstate, c.state) << c.what;
        EXPECT_STREQ(errors.head->message, c.message) << c.what;
        EXPECT_EQ(errors.head->next, nullptr);
        // Only the NULL row: nothing to refuse.
        DB_VALBUF nulls;
        EXPECT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 0, 1, &nulls, 2, nullptr), 0) << c.what;
    }

    // The largest binary value still fits its element.
    auto ds = dsfix::Make({{DS_LONGBINARY, 16}}, 1);
    PutRef(&ds->cols[0], 0, std::string(DB_BINARY_MAX, 'b'), DB_BINARY_MAX);
    DB_VALBUF out;
    ASSERT_EQ(db_ConvKVRToDBMS(&ds->cols[0], 0, 1, &out, 1, nullptr), 0);
    int32_t count;
    std::memcpy(&count, out.elem(0), 4);
    EXPECT_EQ(count, static_cast<int32_t>(DB_BINARY_MAX));
}

TEST(AgentConv, ParameterConversionFailures) {
    LogLines log;
    auto ints = dsfix::Make({{DS_SLONG, 4}}, 1);
    DB_VALBUF out;
    EXPECT_EQ(db_ConvKVRToDBMS(&ints->cols[0], 0, 1, &out, 1, nullptr), ERR_GENERAL_ERROR);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "db_ConvKVRToDBMS: no conversion for internal type 5\n");

    auto dates = dsfix::Make({{DS_DATE, 6}}, 4);
    dsfix::FailAfter none(0);
    EXPECT_EQ(db_ConvKVRToDBMS(&dates->cols[0], 0, 4, &out, 1, nullptr), ERR_MEMORY_ALLOCATION_FAILURE);
}

// Whatever bytes the server leaves in an element, and whatever a parameter element holds,
// a conversion stays inside both elements (the sanitizer build sees every stray byte).
TEST(AgentConv, ArbitraryElementsStayInsideTheirElements) {
    uint32_t seed = 777;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    auto noise = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(next(4) == 0 ? 0 : next(256));
        return s;
    };
    const int32_t servers[] = {ESQL_CHARACTER, ESQL_VARCHAR, ESQL_NUMERIC, ESQL_BIGINT, ESQL_DATE,
                               ESQL_TIME,      ESQL_TIMESTAMP, ESQL_BINARY, ESQL_VARBINARY};
    for (int iter = 0; iter < 600; ++iter) {
        for (bool wide : {false, true}) {
            int32_t server = servers[next(sizeof servers / sizeof servers[0])];
            // The table's type, or a wide text element, which the converter also fills.
            int32_t ds = wide ? DS_WCHARZ : db_DbmsTypeToDsCType(server, nullptr, nullptr);
            uint32_t srcLen = std::max<uint32_t>(db_ServerElemSize(server, 1 + next(40)), 1);
            if (server == ESQL_BINARY || server == ESQL_VARBINARY)
                srcLen = 4 + next(64);   // a short element: the count must not lead past it
            std::string src = noise(srcLen);
            uint32_t width = ds_TypeWidth(ds, next(30));
            auto set = dsfix::Make({{ds, width}}, 1);
            const unsigned char* cursor = reinterpret_cast<const unsigned char*>(src.data());
            int rc = db_ConvDBMSToKVR(&cursor, &set->cols[0], 0, srcLen, server);
            ASSERT_TRUE(rc == 0 || rc == ERR_GENERAL_ERROR) << server << " " << ds << " " << width;
        }
    }
    const int32_t params[] = {DS_UTINYINT,   DS_USHORT,      DS_ULONG,       DS_TIME,       DS_BINARY,
                              DS_VARCHAR8,   DS_VARCHAR16,   DS_VARCHAR32,   DS_VARBINARY8, DS_VARBINARY16,
                              DS_VARBINARY32, DS_WCHAR,      DS_WCHARZ,      DS_WVARCHAR32};
    for (int iter = 0; iter < 600; ++iter) {
        int32_t ds = params[next(sizeof params / sizeof params[0])];
        uint32_t width = ds_TypeWidth(ds, next(40));
        auto set = dsfix::Make({{ds, width}}, 2);
        for (int32_t r = 0; r < 2; ++r)
            Put(&set->cols[0], r, noise(width));
        DB_VALBUF out;
        int rc = db_ConvKVRToDBMS(&set->cols[0], 0, 2, &out, 1, nullptr);
        // Noise in wide text may hold half of a surrogate pair, which is refused.
        ASSERT_TRUE(rc == 0 || rc == ERR_DATE_OVERFLOW || rc == ERR_STRING_DATA_RIGHT_TRUNCATION ||
                    rc == ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION)
            << ds;
        if (rc == 0 && !IsNotTextParam(ds)) {
            for (int32_t r = 0; r < 2; ++r)   // text elements keep their NUL
                ASSERT_EQ(out.elem(r)[out.elemSize - 1], 0) << ds << " " << width;
        }
    }
}


}  // namespace
