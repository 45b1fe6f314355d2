// Narrow text in the application's code set: which code set each library takes from the
// locale, and one table of fetched text into SQL_C_CHAR and SQL_C_WCHAR buffers of every
// size that matters (cuts inside a four-byte character included), as each library gets
// the value from the agent: UTF-8 in the Unicode library, narrow text in the code set in
// the ANSI one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/exec/convert/convtext.h"
#include "driver/exec/convert/valtypes.h"
#include "util/charset.h"
#include "util/errcode.h"

namespace {

TEST(NarrowCode, EachLibraryTakesItsCodeSetFromTheLocale) {
    struct Row {
        const char* codeset;
        bool unicode;
        bool known;
        NarrowCode code;
    };
    const Row rows[] = {
        {"UTF-8", false, true, NarrowCode::Utf8},
        {"UTF-8", true, true, NarrowCode::Utf8},
        {"utf8", true, true, NarrowCode::Utf8},
        {"ISO-8859-1", false, true, NarrowCode::Latin1},
        {"ISO-8859-1", true, true, NarrowCode::Latin1},
        // The C locale: unchanged narrow calls (UTF-8 today) for the ANSI library; what
        // the Driver Manager converts narrow calls from (ISO-8859-1) for the Unicode one.
        {"ANSI_X3.4-1968", false, true, NarrowCode::Utf8},
        {"ANSI_X3.4-1968", true, true, NarrowCode::Latin1},
        {"ISO-8859-15", false, false, NarrowCode::Utf8},
        {"CP1252", true, false, NarrowCode::Utf8},
    };
    for (const Row& r : rows) {
        NarrowCode got = NarrowCode::Utf8;
        EXPECT_EQ(ut_NarrowCodeOf(r.codeset, r.unicode, &got), r.known) << r.codeset << " " << r.unicode;
        if (r.known) {
            EXPECT_EQ(got, r.code) << r.codeset << " " << r.unicode;
        }
    }
}

// The value as the library's converter gets it from the dataset: UTF-8 (Unicode library,
// whose server always speaks UTF-8) or narrow text in the code set (ANSI library;
// ISO-8859-1 holds only characters up to U+00FF).
struct Source {
    std::string text;
    NarrowCode code;
};

Source SourceOf(const std::string& utf8, bool unicode, NarrowCode code) {
    if (unicode || code == NarrowCode::Utf8)
        return {utf8, NarrowCode::Utf8};
    SQLWCHAR units[64];
    const SQLLEN n = ut_NarrowToUcs2N(utf8.data(), static_cast<SQLLEN>(utf8.size()), units, 64, nullptr,
                                      NarrowCode::Utf8);
    char bytes[128];
    const SQLLEN k = ut_Ucs2ToNarrowN(units, n, bytes, sizeof bytes, nullptr, code);
    return {std::string(bytes, static_cast<size_t>(k)), code};
}

std::string StateOf(int err) {
    switch (err) {
    case 0: return "";
    case ERR_DATA_WAS_TRUNCATED: return "01004";
    default: return "code " + std::to_string(err);
    }
}

TEST(NarrowText, FetchedTextByLibraryCodeSetAndBuffer) {
    constexpr SQLRETURN OK = SQL_SUCCESS, INFO = SQL_SUCCESS_WITH_INFO;
    const std::string smile = "a\xF0\x9F\x98\x80";                 // a U+1F600: 1 + 4 bytes, 3 units
    const std::string grosse = "Gr\xC3\xB6\xC3\x9F" "e \xE2\x98\xBA \xF0\x9F\x98\x80";  // 'Größe ☺ 😀'
    struct Case {
        bool unicode;
        const char* codeset;
        int16_t cType;
        std::string text;  // UTF-8
        SQLLEN bufLen;
        std::string written;  // bytes before the NUL (UTF-16LE bytes for SQL_C_WCHAR)
        SQLLEN length;
        SQLRETURN rc;
        const char* state;
    };
    const std::string wideA("a\0", 2);
    const Case cases[] = {
        // UTF-8 on both sides: the bytes as they are, cut before a character that does not fit.
        {false, "UTF-8", SQL_C_CHAR, grosse, 64, grosse, 16, OK, ""},
        {false, "UTF-8", SQL_C_CHAR, grosse, 17, grosse, 16, OK, ""},
        {false, "UTF-8", SQL_C_CHAR, smile, 6, smile, 5, OK, ""},
        {false, "UTF-8", SQL_C_CHAR, smile, 5, "a", 5, INFO, "01004"},   // 3 bytes of the 4 fit
        {false, "UTF-8", SQL_C_CHAR, smile, 4, "a", 5, INFO, "01004"},   // 2 bytes
        {false, "UTF-8", SQL_C_CHAR, smile, 3, "a", 5, INFO, "01004"},   // 1 byte
        {false, "UTF-8", SQL_C_CHAR, smile, 1, "", 5, INFO, "01004"},
        {false, "ANSI_X3.4-1968", SQL_C_CHAR, grosse, 64, grosse, 16, OK, ""},
        {true, "UTF-8", SQL_C_CHAR, grosse, 64, grosse, 16, OK, ""},
        {true, "UTF-8", SQL_C_CHAR, smile, 6, smile, 5, OK, ""},
        {true, "UTF-8", SQL_C_CHAR, smile, 5, "a", 5, INFO, "01004"},
        {true, "UTF-8", SQL_C_CHAR, smile, 4, "a", 5, INFO, "01004"},
        {true, "UTF-8", SQL_C_CHAR, smile, 3, "a", 5, INFO, "01004"},
        {true, "UTF-8", SQL_C_CHAR, grosse, 10, "Gr\xC3\xB6\xC3\x9F" "e ", 16, INFO, "01004"},  // before ☺
        // ISO-8859-1: one byte a character, '?' for the one it lacks (a pair is one).
        {true, "ANSI_X3.4-1968", SQL_C_CHAR, grosse, 64, "Gr\xF6\xDF" "e ? ?", 9, OK, ""},
        {true, "ISO-8859-1", SQL_C_CHAR, smile, 2, "a", 2, INFO, "01004"},
        {false, "ISO-8859-1", SQL_C_CHAR, "caf\xC3\xA9", 5, "caf\xE9", 4, OK, ""},
        {false, "ISO-8859-1", SQL_C_CHAR, "caf\xC3\xA9", 4, "caf", 4, INFO, "01004"},
        // Narrow text of the ANSI library into UTF-16: the length counts the wide bytes.
        {false, "UTF-8", SQL_C_WCHAR, smile, 8, std::string("a\0\x3D\xD8\x00\xDE", 6), 6, OK, ""},
        {false, "UTF-8", SQL_C_WCHAR, smile, 6, wideA, 6, INFO, "01004"},  // never half a pair
        {false, "UTF-8", SQL_C_WCHAR, smile, 1, "", 6, INFO, "01004"},
        {false, "ISO-8859-1", SQL_C_WCHAR, "caf\xC3\xA9", 10, std::string("c\0a\0f\0\xE9\0", 8), 8, OK, ""},
        // The Unicode library's UTF-8 into UTF-16: a pair for the character outside the BMP,
        // never half of one.
        {true, "UTF-8", SQL_C_WCHAR, smile, 8, std::string("a\0\x3D\xD8\x00\xDE", 6), 6, OK, ""},
        {true, "ISO-8859-1", SQL_C_WCHAR, smile, 6, wideA, 6, INFO, "01004"},
        {true, "UTF-8", SQL_C_WCHAR, smile, 2, "", 6, INFO, "01004"},
        // ... and into ISO-8859-1 text cut within what it lacks: '?' stands for a whole
        // character, the cut falls between characters, the length counts characters.
        {true, "ISO-8859-1", SQL_C_CHAR, grosse, 6, "Gr\xF6\xDF" "e", 9, INFO, "01004"},
        {true, "ISO-8859-1", SQL_C_CHAR, grosse, 9, "Gr\xF6\xDF" "e ? ", 9, INFO, "01004"},
        {true, "ISO-8859-1", SQL_C_CHAR, grosse, 10, "Gr\xF6\xDF" "e ? ?", 9, OK, ""},
        {true, "ISO-8859-1", SQL_C_CHAR, "caf\xC3\xA9", 1, "", 4, INFO, "01004"},
    };
    for (const Case& c : cases) {
        NarrowCode code;
        ASSERT_TRUE(ut_NarrowCodeOf(c.codeset, c.unicode, &code));
        SCOPED_TRACE(std::string(c.unicode ? "libvarnodw " : "libvarnod ") + c.codeset + " ctype " +
                     std::to_string(c.cType) + " buffer " + std::to_string(c.bufLen) + " '" + c.text + "'");
        const Source src = SourceOf(c.text, c.unicode, code);
        unsigned char buf[80];
        std::memset(buf, 0xCC, sizeof buf);
        SQLLEN len = 0;
        int err = 0;
        const SQLRETURN rc = ConvertCHAR(src.text.data(), static_cast<SQLLEN>(src.text.size()), 0, c.cType, buf,
                                         c.bufLen, &len, &err, 0, 0, src.code, code);
        EXPECT_EQ(rc, c.rc);
        EXPECT_EQ(StateOf(err), c.state);
        EXPECT_EQ(len, c.length);
        const size_t nul = c.cType == SQL_C_WCHAR ? 2 : 1;
        if (c.bufLen >= static_cast<SQLLEN>(nul)) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), c.written.size()), c.written);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + c.written.size(), nul), std::string(nul, '\0'));
        }
        for (size_t i = static_cast<size_t>(c.bufLen); i < sizeof buf; ++i)
            ASSERT_EQ(buf[i], 0xCC) << "written past the buffer at " << i;
    }
}

TEST(NarrowText, SQLGetDataGoesOnAfterTheLastWholeCharacter) {
    // Where a cut copy stopped is where the next piece starts: never inside a character.
    const std::string text = "\xC3\xA9\xF0\x9F\x98\x80z";  // é 😀 z
    constexpr NarrowCode U = NarrowCode::Utf8, L = NarrowCode::Latin1;
    EXPECT_EQ(TextCopyTaken(text.data(), 7, false, SQL_C_CHAR, 5, U, U), 2);
    EXPECT_EQ(TextCopyTaken(text.data(), 7, false, SQL_C_CHAR, 7, U, U), 6);
    EXPECT_EQ(TextCopyTaken(text.data(), 7, false, SQL_C_WCHAR, 6, U, U), 2);  // é, not half a pair
    EXPECT_EQ(TextCopyTaken(text.data(), 7, false, SQL_C_WCHAR, 8, U, L), 6);
    // UTF-8 into ISO-8859-1: a byte a character, whatever its UTF-8 length.
    EXPECT_EQ(TextCopyTaken(text.data(), 7, false, SQL_C_CHAR, 2, U, L), 2);
    EXPECT_EQ(TextCopyTaken(text.data(), 7, false, SQL_C_CHAR, 3, U, L), 6);
    const SQLWCHAR units[] = {0x00E9, 0xD83D, 0xDE00, u'z'};
    EXPECT_EQ(TextCopyTaken(units, 8, true, SQL_C_CHAR, 5, U, U), 2);   // é: the pair needs 4 bytes
    EXPECT_EQ(TextCopyTaken(units, 8, true, SQL_C_CHAR, 7, U, U), 6);
    EXPECT_EQ(TextCopyTaken(units, 8, true, SQL_C_CHAR, 3, U, L), 6);  // é and one ? for the pair
}

}  // namespace
