// The output-string writer over a grid of buffer sizes (0, 1, one short of the exact
// fit, the exact fit, more), for narrow and wide buffers counted in bytes or characters,
// UTF-8 and ISO-8859-1 text; and its ODBC face: lengths, 01004, width of length pointers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/diag/diag.h"
#include "driver/outstr/outstr.h"
#include "driver/frame/resources.h"
#include "util/errcode.h"

namespace {

struct Cell {
    SQLLEN size;
    const char* text;  // what the buffer holds afterwards; null: untouched
    bool truncated;
};

void RunNarrowGrid(std::string_view text, TextCode code, std::initializer_list<Cell> cells) {
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.size);
        char buf[32];
        std::memset(buf, '#', sizeof buf);
        OutStrResult r = WriteOutStr(text, buf, c.size, OutUnit::Bytes, false, code);
        EXPECT_EQ(r.length, static_cast<SQLLEN>(text.size()));
        EXPECT_EQ(r.truncated, c.truncated);
        if (c.text == nullptr)
            EXPECT_EQ(buf[0], '#');
        else
            EXPECT_STREQ(buf, c.text);
    }
}

TEST(OutStr, NarrowUtf8CutsAtWholeCharacters) {
    // "héllo": 6 bytes
    RunNarrowGrid("h\xC3\xA9llo", TextCode::Utf8,
                  {{0, nullptr, true}, {1, "", true}, {2, "h", true}, {3, "h", true}, {4, "h\xC3\xA9", true},
                   {6, "h\xC3\xA9ll", true}, {7, "h\xC3\xA9llo", false}, {8, "h\xC3\xA9llo", false},
                   {-5, nullptr, true}});
}

TEST(OutStr, NarrowAnsiCutsAtAnyByte) {
    // Bytes that look like UTF-8 continuation bytes are whole characters here.
    RunNarrowGrid("a\xA9\xA9", TextCode::Ansi,
                  {{0, nullptr, true}, {1, "", true}, {2, "a", true}, {3, "a\xA9", true}, {4, "a\xA9\xA9", false}});
}

struct WideCell {
    SQLLEN size;
    std::u16string text;  // empty with untouched = true: nothing written
    bool untouched;
    bool truncated;
};

std::u16string ReadWide(const void* buf) {
    std::u16string s;
    const auto* p = static_cast<const unsigned char*>(buf);
    for (;; p += 2) {
        char16_t u;
        std::memcpy(&u, p, 2);
        if (u == 0)
            return s;
        s.push_back(u);
    }
}

void RunWideGrid(std::string_view text, TextCode code, OutUnit unit, SQLLEN length, std::initializer_list<WideCell> cells,
                 size_t offset = 0) {
    for (const WideCell& c : cells) {
        SCOPED_TRACE(c.size);
        alignas(8) unsigned char storage[64];
        std::memset(storage, 0x23, sizeof storage);
        void* buf = storage + offset;
        OutStrResult r = WriteOutStr(text, buf, c.size, unit, true, code);
        EXPECT_EQ(r.length, length);
        EXPECT_EQ(r.truncated, c.truncated);
        if (c.untouched)
            EXPECT_EQ(storage[offset], 0x23);
        else
            EXPECT_EQ(ReadWide(buf), c.text);
    }
}

// "hé😀": 4 units (the last character is a pair).
const std::string kWideText = "h\xC3\xA9\xF0\x9F\x98\x80";

TEST(OutStr, WideInCharacters) {
    RunWideGrid(kWideText, TextCode::Utf8, OutUnit::Chars, 4,
                {{0, u"", true, true}, {1, u"", false, true}, {2, u"h", false, true}, {3, u"h\u00E9", false, true},
                 {4, u"h\u00E9", false, true},  // no room for both halves: the pair is left out
                 {5, u"h\u00E9\U0001F600", false, false}, {9, u"h\u00E9\U0001F600", false, false}});
}

TEST(OutStr, WideInBytes) {
    RunWideGrid(kWideText, TextCode::Utf8, OutUnit::Bytes, 8,
                {{0, u"", true, true}, {1, u"", true, true}, {2, u"", false, true}, {3, u"", false, true},
                 {4, u"h", false, true}, {9, u"h\u00E9", false, true}, {10, u"h\u00E9\U0001F600", false, false},
                 {11, u"h\u00E9\U0001F600", false, false}});
}

TEST(OutStr, WideFromAnsiAndAtAnOddAddress) {
    RunWideGrid("a\xE9", TextCode::Ansi, OutUnit::Chars, 2,
                {{1, u"", false, true}, {2, u"a", false, true}, {3, u"a\u00E9", false, false}});
    // An untyped value buffer may start at any address.
    RunWideGrid(kWideText, TextCode::Utf8, OutUnit::Bytes, 8,
                {{6, u"h\u00E9", false, true}, {10, u"h\u00E9\U0001F600", false, false}}, 1);
    RunWideGrid("a\xE9", TextCode::Ansi, OutUnit::Bytes, 4, {{6, u"a\u00E9", false, false}}, 3);
}

TEST(OutStr, NullBufferReportsTheLengthOnly) {
    for (bool wide : {false, true}) {
        OutStrResult r = WriteOutStr(kWideText, nullptr, 0, OutUnit::Chars, wide, TextCode::Utf8);
        EXPECT_EQ(r.length, wide ? 4 : 7);
        EXPECT_FALSE(r.truncated);
    }
}

TEST(OutStr, OdbcFacePostsTruncationAndStoresLengths) {
    DIAG diag;
    char buf[4];
    SQLSMALLINT len16 = 0;
    EXPECT_EQ(OutString("abc", buf, 4, OutUnit::Bytes, 'A', &len16, &diag), SQL_SUCCESS);
    EXPECT_EQ(len16, 3);
    EXPECT_EQ(diag.errCode, 0);

    SQLLEN len64 = 0;
    EXPECT_EQ(OutString("abcd", buf, 4, OutUnit::Bytes, 'A', &len64, &diag), SQL_SUCCESS_WITH_INFO);
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(len64, 4);
    EXPECT_EQ(diag.errCode, ERR_DATA_WAS_TRUNCATED);

    // A code the call already posted is kept; without a handle nothing is posted.
    diag.errCode = ERR_FRACTIONAL_TRUNCATION;
    EXPECT_EQ(OutString("abcd", buf, 2, OutUnit::Bytes, 'A', &len64, &diag), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(diag.errCode, ERR_FRACTIONAL_TRUNCATION);
    EXPECT_EQ(OutString<SQLINTEGER>("abcd", buf, 2, OutUnit::Bytes, 'A', nullptr, nullptr), SQL_SUCCESS_WITH_INFO);

    // Wide marker: UTF-16 with the length in the buffer's unit, from the library's own text
    // code: UTF-8 in the Unicode library ("é"); in the ANSI one the last connect's narrow
    // code set, ISO-8859-1 ("Ã©") or UTF-8 (the C locale's, which it is left at).
    for (NarrowCode code : {NarrowCode::Latin1, NarrowCode::Utf8}) {
        DrvSetNarrowCode(code);
        SQLWCHAR wbuf[4];
        SQLINTEGER len32 = 0;
        EXPECT_EQ(OutString("\xC3\xA9", wbuf, sizeof wbuf, OutUnit::Bytes, 'W', &len32, nullptr), SQL_SUCCESS);
        if (DrvVariant().unicode || code == NarrowCode::Utf8) {
            EXPECT_EQ(len32, 2);
            EXPECT_EQ(wbuf[0], 0x00E9);
        } else {
            EXPECT_EQ(len32, 4);
            EXPECT_EQ(wbuf[0], 0x00C3);
            EXPECT_EQ(wbuf[1], 0x00A9);
        }
    }

    // A length wider than the caller's pointer is stored as its largest value.
    std::string big(40000, 'x');
    EXPECT_EQ(OutString(big, nullptr, 0, OutUnit::Bytes, 'A', &len16, nullptr), SQL_SUCCESS);
    EXPECT_EQ(len16, 32767);
}

// Wide output of 32-bit size (SQLNativeSqlW, attribute values): texts beyond 32,767 units
// are written whole or cut at the buffer, with exact lengths in characters, over a grid
// of sizes around the fit.
TEST(OutStr, WideBeyondSixteenBitLengths) {
    // 20,000 characters of 'é' and, in the Unicode library, one of two units at the end.
    const bool utf8 = DriverTextCode() == TextCode::Utf8;
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += utf8 ? "\xC3\xA9" : "\xE9";
    if (utf8)
        text += "\xF0\x9F\x98\x80";
    const SQLINTEGER units = utf8 ? 20002 : 20000;
    const SQLINTEGER lastWhole = utf8 ? units - 2 : units - 1;  // a pair is never split
    struct Cell {
        SQLINTEGER chars;
        SQLRETURN rc;
        SQLINTEGER written;  // units before the NUL
    } cells[] = {
        {units + 1, SQL_SUCCESS, units},  // exact fit with the NUL
        {units, SQL_SUCCESS_WITH_INFO, lastWhole},
        {units - 1, SQL_SUCCESS_WITH_INFO, utf8 ? lastWhole : units - 2},
        {40000, SQL_SUCCESS, units},
        {1, SQL_SUCCESS_WITH_INFO, 0},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.chars);
        std::vector<SQLWCHAR> buf(static_cast<size_t>(c.chars) + 1, 0xFFFF);
        SQLINTEGER len = -1;
        DIAG diag;
        EXPECT_EQ(OutString(text, buf.data(), c.chars, OutUnit::Chars, 'W', &len, &diag), c.rc);
        EXPECT_EQ(len, units);
        EXPECT_EQ(buf[static_cast<size_t>(c.written)], 0);
        if (c.written > 0) {
            EXPECT_EQ(buf[static_cast<size_t>(c.written) - 1], utf8 && c.written == units ? 0xDE00 : 0x00E9);
        }
        EXPECT_EQ(buf[static_cast<size_t>(c.chars)], 0xFFFF);  // nothing past the buffer
        EXPECT_EQ(diag.errCode, c.rc == SQL_SUCCESS ? 0 : ERR_DATA_WAS_TRUNCATED);
    }
}

}  // namespace
