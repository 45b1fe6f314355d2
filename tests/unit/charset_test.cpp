// Character-set conversion: encoding and decoding tables (including characters outside
// the BMP and malformed input), the buffer rules of every filling routine at the exact
// fit and one unit below it, case folding and the ISO-8859-1 code page.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "util/charset.h"

namespace {

using WStr = std::vector<SQLWCHAR>;

// Wide text with its terminating NUL.
WStr W(std::u16string_view s) {
    WStr w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

std::u16string U16(const SQLWCHAR* p) {
    std::u16string s;
    while (*p != 0)
        s.push_back(static_cast<char16_t>(*p++));
    return s;
}

template <class T>
using Heap = std::unique_ptr<T, UtFree>;

const SQLWCHAR kGuard = 0x7777;

// ---- encoding UTF-16 -> UTF-8 ----

struct EncodeCase {
    std::u16string in;
    std::string utf8;
    bool roundTrips;
};

TEST(CharsetEncode, TableOfCharacters) {
    const EncodeCase cases[] = {
        {u"abc", "abc", true},
        {u"\u00E9", "\xC3\xA9", true},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80", true},
        {u"\u20AC", "\xE2\x82\xAC", true},
        {u"\uFFFF", "\xEF\xBF\xBF", true},
        {u"a\U0001F600b", "a\xF0\x9F\x98\x80" "b", true},  // pair -> one 4-byte sequence
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true},
        {std::u16string(1, u'\xD83D') + u"x", "\xEF\xBF\xBDx", false},  // lone high
        {std::u16string(1, u'\xDE00'), "\xEF\xBF\xBD", false},          // lone low
        {u"", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        WStr w = W(c.in);
        EXPECT_EQ(ut_Utf8LenOfUcs2(w.data(), SQL_NTS), static_cast<SQLLEN>(c.utf8.size()));
        EXPECT_EQ(ut_Utf8LenOfUcs2(w.data(), static_cast<SQLLEN>(c.in.size())), static_cast<SQLLEN>(c.utf8.size()));
        Heap<char> dup(ut_Ucs2ToUtf8DupZ(w.data()));
        ASSERT_TRUE(dup);
        EXPECT_EQ(std::string(dup.get()), c.utf8);
        Heap<SQLWCHAR> back(ut_Utf8ToUcs2Dup(dup.get()));
        ASSERT_TRUE(back);
        if (c.roundTrips) {
            EXPECT_EQ(U16(back.get()), c.in);
        }
        EXPECT_EQ(ut_Utf8CharCount(dup.get(), SQL_NTS), static_cast<SQLLEN>(U16(back.get()).size()));
    }
}

TEST(CharsetEncode, CountedCopies) {
    WStr w = W(u"ab\U0001F600c");
    Heap<char> two(ut_Ucs2ToUtf8Dup(w.data(), 2));
    EXPECT_STREQ(two.get(), "ab");
    // A count that ends between the halves of a pair leaves a lone half: U+FFFD.
    Heap<char> three(ut_Ucs2ToUtf8Dup(w.data(), 3));
    EXPECT_STREQ(three.get(), "ab\xEF\xBF\xBD");
    Heap<char> bad(ut_Ucs2ToUtf8Dup(w.data(), -7));
    EXPECT_STREQ(bad.get(), "");
    EXPECT_EQ(ut_Ucs2ToUtf8Dup(nullptr, SQL_NTS), nullptr);
    EXPECT_EQ(ut_Utf8LenOfUcs2(nullptr, SQL_NTS), 0);
    EXPECT_EQ(ut_Utf8LenOfUcs2(w.data(), -7), 0);

    // A NUL inside the count is a character like any other.
    const SQLWCHAR withNul[] = {'a', 0, 'b', 0};
    char out[8];
    SQLLEN consumed = -1;
    EXPECT_EQ(ut_Ucs2ToUtf8N(withNul, 3, out, sizeof out, &consumed), 3);
    EXPECT_EQ(consumed, 3);
    EXPECT_EQ(std::string(out, 3), std::string("a\0b", 3));
}

// Bounded encoding never splits a character: the limit ends before the one that would
// cross it.
TEST(CharsetEncode, LimitStopsAtWholeCharacter) {
    WStr w = W(u"a\u00E9\u20AC\U0001F600");  // 1 + 2 + 3 + 4 bytes
    const struct {
        SQLLEN limit;
        SQLLEN bytes;
        SQLLEN units;
    } cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 1, 1}, {3, 3, 2}, {5, 3, 2}, {6, 6, 3}, {9, 6, 3}, {10, 10, 5}, {50, 10, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        char out[16];
        EXPECT_EQ(ut_Ucs2ToUtf8Bytes(w.data(), out, c.limit), c.bytes);
        SQLLEN consumed = -1;
        EXPECT_EQ(ut_Ucs2ToUtf8N(w.data(), 5, out, c.limit, &consumed), c.bytes);
        EXPECT_EQ(consumed, c.units);
    }
}

TEST(CharsetEncode, BufferRules) {
    WStr w = W(u"a\u00E9\u20AC");  // needs 6 bytes + NUL
    const struct {
        SQLLEN size;
        int rc;
        const char* text;  // null: nothing written
    } cases[] = {
        {0, -1, nullptr}, {1, -1, ""}, {2, -1, "a"}, {3, -1, "a"}, {4, -1, "a\xC3\xA9"},
        {6, -1, "a\xC3\xA9"},  // one byte short: the whole last character goes
        {7, 0, "a\xC3\xA9\xE2\x82\xAC"},
        {20, 0, "a\xC3\xA9\xE2\x82\xAC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        char out[24];
        std::memset(out, 'Z', sizeof out);
        SQLLEN written = -1;
        EXPECT_EQ(ut_Ucs2ToUtf8Buf(w.data(), out, c.size, &written), c.rc);
        if (c.text == nullptr) {
            EXPECT_EQ(out[0], 'Z');
            EXPECT_EQ(written, 0);
        } else {
            EXPECT_STREQ(out, c.text);
            EXPECT_EQ(written, static_cast<SQLLEN>(std::strlen(c.text)));
        }
    }
    // A character outside the BMP is cut whole, never as a lone half.
    WStr pair = W(u"a\U0001F600");
    char out[8];
    EXPECT_EQ(ut_Ucs2ToUtf8Buf(pair.data(), out, 5, nullptr), -1);
    EXPECT_STREQ(out, "a");
    EXPECT_EQ(ut_Ucs2ToUtf8Buf(pair.data(), out, 6, nullptr), 0);
    EXPECT_STREQ(out, "a\xF0\x9F\x98\x80");
}

// ---- decoding UTF-8 -> UTF-16 ----

struct DecodeCase {
    const char* name;
    std::string in;
    std::u16string units;  // what the decoder stores; it stops at the first bad byte
};

TEST(CharsetDecode, TableOfValidAndMalformedInput) {
    const DecodeCase cases[] = {
        {"ascii", "abc", u"abc"},
        {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},
        {"four bytes become a pair", "x\xF0\x9F\x98\x80y", u"x\U0001F600y"},
        {"lead byte without continuation", "ab\xC3" "c", u"ab"},
        {"stray continuation byte", "a\x80" "b", u"a"},
        {"lead byte at the end", "ab\xE2\x82", u"ab"},
        {"overlong slash", "a\xC0\xAF", u"a"},
        {"overlong three bytes", "a\xE0\x80\xAF", u"a"},
        {"overlong four bytes", "a\xF0\x80\x80\xAF", u"a"},
        {"encoded surrogate", "a\xED\xA0\x80", u"a"},
        {"above U+10FFFF", "a\xF4\x90\x80\x80", u"a"},
        {"invalid lead", "a\xF8\x88\x80\x80\x80", u"a"},
        {"empty", "", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The count and every decoding routine agree on what the text holds.
        EXPECT_EQ(ut_Utf8CharCount(c.in.c_str(), SQL_NTS), static_cast<SQLLEN>(c.units.size()));
        EXPECT_EQ(ut_Utf8CharCount(c.in.c_str(), static_cast<SQLLEN>(c.in.size())), static_cast<SQLLEN>(c.units.size()));
        Heap<SQLWCHAR> dup(ut_Utf8ToUcs2Dup(c.in.c_str()));
        ASSERT_TRUE(dup);
        EXPECT_EQ(U16(dup.get()), c.units);
        SQLWCHAR buf[16];
        SQLLEN chars = -1;
        EXPECT_EQ(ut_Utf8ToUcs2Buf(c.in.c_str(), buf, sizeof buf, &chars), 0);
        EXPECT_EQ(chars, static_cast<SQLLEN>(c.units.size()));
        EXPECT_EQ(U16(buf), c.units);
        EXPECT_EQ(ut_Utf8ToUcs2CopyOut(c.in.c_str(), buf, 16, &chars), 0);
        EXPECT_EQ(chars, static_cast<SQLLEN>(c.units.size()));
    }
}

TEST(CharsetDecode, ByteCountBoundsTheText) {
    const char* s = "ab\xC3\xA9" "cd";
    EXPECT_EQ(ut_Utf8CharCount(s, 2), 2);
    EXPECT_EQ(ut_Utf8CharCount(s, 3), 2);  // cut inside é: é is not there
    EXPECT_EQ(ut_Utf8CharCount(s, 4), 3);
    EXPECT_EQ(ut_Utf8CharCount(s, -7), 0);
    EXPECT_EQ(ut_Utf8CharCount(nullptr, SQL_NTS), 0);
    SQLWCHAR out[8];
    EXPECT_EQ(ut_Utf8DecodeN(s, 3, out, 8), 2);
    EXPECT_EQ(ut_Utf8Decode(s, out, 3), 3);
    EXPECT_EQ(out[2], 0x00E9);
    // No room for both halves of a pair: the character is left out.
    EXPECT_EQ(ut_Utf8Decode("a\xF0\x9F\x98\x80", out, 2), 1);
    EXPECT_EQ(ut_Utf8Decode(nullptr, out, 2), 0);
}

TEST(CharsetDecode, BufRulesInBytes) {
    const struct {
        const char* text;
        SQLLEN size;  // bytes
        int rc;
        std::u16string stored;
    } cases[] = {
        {"abc", 8, 0, u"abc"},   // 4 units: exact fit
        {"abc", 9, 0, u"abc"},   // odd byte ignored
        {"abc", 7, -1, u"ab"},   // 3 units
        {"abc", 6, -1, u"ab"},
        {"abc", 2, -1, u""},
        {"a\U0001F600", 8, 0, u"a\U0001F600"},
        {"a\U0001F600", 6, -1, u"a"},  // room for one half only: the pair is left out
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " size " + std::to_string(c.size));
        SQLWCHAR buf[8];
        SQLLEN chars = -1;
        EXPECT_EQ(ut_Utf8ToUcs2Buf(c.text, buf, c.size, &chars), c.rc);
        EXPECT_EQ(chars, ut_Utf8CharCount(c.text, SQL_NTS));  // always the full count
        EXPECT_EQ(U16(buf), c.stored);
    }
    SQLWCHAR buf[2] = {kGuard, kGuard};
    SQLLEN chars = -1;
    EXPECT_EQ(ut_Utf8ToUcs2Buf("abc", buf, 1, &chars), -1);  // not one unit
    EXPECT_EQ(buf[0], kGuard);
    EXPECT_EQ(chars, 3);
    chars = -1;
    EXPECT_EQ(ut_Utf8ToUcs2Buf("abc", nullptr, 0, &chars), 0);  // asks for the length
    EXPECT_EQ(chars, 3);
    EXPECT_EQ(ut_Utf8ToUcs2Buf(nullptr, buf, 4, &chars), -1);
}

TEST(CharsetDecode, CopyOutRulesInCharacters) {
    const struct {
        const char* text;
        SQLLEN size;  // characters
        int rc;
        std::u16string stored;
    } cases[] = {
        {"abc", 4, 0, u"abc"},
        {"abc", 3, -1, u"ab"},
        {"abc", 1, -1, u""},
        {"\xE2\x82\xAC\xE2\x82\xAC", 3, 0, u"\u20AC\u20AC"},
        {"a\U0001F600", 3, -1, u"a"},
        {"a\U0001F600", 4, 0, u"a\U0001F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " size " + std::to_string(c.size));
        SQLWCHAR buf[8];
        SQLLEN chars = -1;
        EXPECT_EQ(ut_Utf8ToUcs2CopyOut(c.text, buf, c.size, &chars), c.rc);
        EXPECT_EQ(chars, static_cast<SQLLEN>(c.stored.size()));  // what was stored
        EXPECT_EQ(U16(buf), c.stored);
    }
    SQLWCHAR buf[2] = {kGuard, kGuard};
    SQLLEN chars = 99;
    EXPECT_EQ(ut_Utf8ToUcs2CopyOut("abc", buf, 0, &chars), -1);
    EXPECT_EQ(buf[0], kGuard);
    EXPECT_EQ(chars, 99);
    EXPECT_EQ(ut_Utf8ToUcs2CopyOut(nullptr, buf, 2, &chars), -1);
    EXPECT_EQ(ut_Utf8ToUcs2CopyOut("abc", nullptr, 2, &chars), -1);
}

// The routines that once trusted the caller's room now take it and stay inside it.
TEST(CharsetDecode, BoundedCopiesStayInTheirRoom) {
    std::string longText(300, 'x');
    SQLWCHAR buf[6];
    std::fill(std::begin(buf), std::end(buf), kGuard);
    ut_Utf8ToUcs2(buf, longText.c_str(), 4);
    EXPECT_EQ(U16(buf), u"xxx");
    EXPECT_EQ(buf[4], kGuard);
    ut_Utf8ToUcs2Trunc(buf, "hello", 3);
    EXPECT_EQ(U16(buf), u"he");
    buf[0] = kGuard;
    ut_Utf8ToUcs2Trunc(buf, "hello", 0);
    EXPECT_EQ(buf[0], kGuard);
    ut_Utf8ToUcs2(buf, "\xC3\xA9!", 6);
    EXPECT_EQ(U16(buf), u"\u00E9!");

    std::fill(std::begin(buf), std::end(buf), kGuard);
    ut_AnsiToUcs2(buf, longText.c_str(), 4);
    EXPECT_EQ(U16(buf), u"xxx");
    EXPECT_EQ(buf[4], kGuard);
}

TEST(CharsetDecode, EmptyAndNullTexts) {
    Heap<SQLWCHAR> empty(ut_Utf8ToUcs2Dup(""));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty.get()[0], 0);
    EXPECT_EQ(ut_Utf8ToUcs2Dup(nullptr), nullptr);
}

// ---- case folding ----

void ExpectSorted(const UT_CASE_ENTRY* t, size_t n) {
    for (size_t i = 1; i < n; ++i)
        ASSERT_LT(t[i - 1].code, t[i].code) << i;
}

TEST(CharsetCase, TablesAreSortedAndHoldTheKnownRows) {
    ExpectSorted(UT_CASE_UPPER, UT_CASE_UPPER_COUNT);
    ExpectSorted(UT_CASE_LOWER, UT_CASE_LOWER_COUNT);
    const struct {
        uint32_t from, upper, lower;
    } cases[] = {
        {0x0061, 0x0041, 0x0061}, {0x0041, 0x0041, 0x0061}, {0x00FF, 0x0178, 0x00FF},
        {0x0131, 0x0049, 0x0131}, {0x03F2, 0x03A3, 0x03F2}, {0x1F80, 0x1F88, 0x1F80},
        {0x0130, 0x0130, 0x0069}, {0x10428, 0x10400, 0x10428}, {0x10400, 0x10400, 0x10428},
        {0x212A, 0x212A, 0x006B}, {0x212B, 0x212B, 0x00E5},  // deltas beyond 13 bits
        {0x00DF, 0x00DF, 0x00DF}, {0x0345, 0x0399, 0x0345}, {0x2170, 0x2160, 0x2170},
        {0x0292, 0x01B7, 0x0292}, {0x0293, 0x0293, 0x0293}, {0x0031, 0x0031, 0x0031},
        {0x0000, 0x0000, 0x0000}, {0x10FFFF, 0x10FFFF, 0x10FFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(ut_UcsUpper(c.from), c.upper);
        EXPECT_EQ(ut_UcsLower(c.from), c.lower);
    }
    EXPECT_EQ(ut_CaseDelta(UT_CASE_UPPER, 0, 0x61), 0);
}

std::string Upper(std::string s, size_t extra = 1) {
    std::vector<char> buf(s.begin(), s.end());
    buf.resize(s.size() + extra, '\0');
    return ut_Utf8Upper(buf.data(), buf.size());
}

std::string Lower(std::string s) {
    std::vector<char> buf(s.begin(), s.end());
    buf.push_back('\0');
    return ut_Utf8Lower(buf.data(), buf.size());
}

TEST(CharsetCase, FoldsUtf8InPlace) {
    EXPECT_EQ(Upper("stra\xC3\x9F" "e"), "STRA\xC3\x9F" "E");     // ß has no simple upper case
    EXPECT_EQ(Upper("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");   // été
    EXPECT_EQ(Upper("\xC4\xB1"), "I");                               // dotless i shrinks to one byte
    EXPECT_EQ(Upper("\xF0\x90\x90\xA8"), "\xF0\x90\x90\x80");      // Deseret, outside the BMP
    EXPECT_EQ(Lower("\xE2\x84\xAA" "ELVIN"), "kelvin");              // Kelvin sign
    EXPECT_EQ(Lower("\xC4\xB0" "STANBUL"), "istanbul");
    EXPECT_EQ(Lower("\xCE\xA3\xCE\x9F\xCE\xA6"), "\xCF\x83\xCE\xBF\xCF\x86");
    // A byte that is no character stays; the text goes on after it.
    EXPECT_EQ(Upper("ab\xFF" "cd"), "AB\xFF" "CD");
    EXPECT_EQ(Upper(""), "");
}

TEST(CharsetCase, BufferSizeBoundsTheText) {
    // Text without a NUL inside its buffer: the last byte becomes the NUL, cut at a
    // whole character.
    char buf[5] = {'a', 'b', '\xC3', '\xA9', 'x'};
    EXPECT_STREQ(ut_Utf8Upper(buf, sizeof buf), "AB\xC3\x89");
    char cut[4] = {'a', 'b', '\xC3', '\xA9'};
    EXPECT_STREQ(ut_Utf8Upper(cut, sizeof cut), "AB");
    char one[1] = {'q'};
    EXPECT_STREQ(ut_Utf8Upper(one, 1), "");
}

// ---- ISO-8859-1 ----

TEST(CharsetAnsi, ToUtf8CutsAtWholeCharacters) {
    const char* text = "caf\xE9!";  // café! : 6 bytes of UTF-8
    const struct {
        size_t size;
        const char* out;
    } cases[] = {{1, ""}, {4, "caf"}, {5, "caf"}, {6, "caf\xC3\xA9"}, {7, "caf\xC3\xA9!"}, {8, "caf\xC3\xA9!"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        char buf[16];
        EXPECT_STREQ(ut_AnsiToUtf8(buf, text, c.size), c.out);
    }
    char buf[4] = {'Z', 'Z', 'Z', 'Z'};
    ut_AnsiToUtf8(buf, text, 0);
    EXPECT_EQ(buf[0], 'Z');
    EXPECT_STREQ(ut_AnsiToUtf8(buf, nullptr, sizeof buf), "");
    char all[4];
    EXPECT_STREQ(ut_AnsiToUtf8(all, "\xFF", sizeof all), "\xC3\xBF");
}

TEST(CharsetAnsi, ToAndFromUtf16) {
    Heap<SQLWCHAR> dup(ut_AnsiToUcs2Dup("a\xE9\xFF" "b", SQL_NTS));
    EXPECT_EQ(U16(dup.get()), u"a\u00E9\u00FF" "b");
    Heap<SQLWCHAR> two(ut_AnsiToUcs2Dup("a\xE9\xFF" "b", 2));
    EXPECT_EQ(U16(two.get()), u"a\u00E9");
    EXPECT_EQ(two.get()[2], 0);
    EXPECT_EQ(ut_AnsiToUcs2Dup(nullptr, 3), nullptr);

    WStr w = W(u"a\u00E9\u20AC\U0001F600\u00FF");
    Heap<char> ansi(ut_Ucs2ToAnsiDupZ(w.data()));
    EXPECT_STREQ(ansi.get(), "a\xE9??\xFF");  // one '?' per character, pairs included

    const struct {
        SQLLEN size;
        int rc;
        std::u16string stored;
    } cases[] = {{8, 0, u"ab\u00E9"}, {7, -1, u"ab"}, {6, -1, u"ab"}, {2, -1, u""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        SQLWCHAR buf[8];
        SQLLEN bytes = -1;
        EXPECT_EQ(ut_AnsiToUcs2Buf("ab\xE9", buf, c.size, &bytes), c.rc);
        EXPECT_EQ(bytes, 6);
        EXPECT_EQ(U16(buf), c.stored);
    }
    SQLLEN bytes = -1;
    EXPECT_EQ(ut_AnsiToUcs2Buf("ab\xE9", nullptr, 0, &bytes), 0);
    EXPECT_EQ(bytes, 6);
    SQLWCHAR one = kGuard;
    EXPECT_EQ(ut_AnsiToUcs2Buf("ab", &one, 1, nullptr), -1);
    EXPECT_EQ(one, kGuard);
}

}  // namespace

TEST(Utf8CutLen, NeverSplitsACharacter) {
    const char* text = "a\xC3\xA9\xF0\x9F\x98\x80z";  // a, e-acute (2 bytes), an emoji (4 bytes), z
    struct Case {
        size_t room;
        size_t expected;
    } cases[] = {{0, 0}, {1, 1}, {2, 1}, {3, 3}, {4, 3}, {6, 3}, {7, 7}, {8, 8}, {20, 8}};
    for (const Case& c : cases)
        EXPECT_EQ(ut_Utf8CutLen(text, 8, c.room), c.expected) << c.room;
}
