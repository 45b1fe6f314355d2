// The client code page of the ESQL-92 stand-in: a connection set to ISO8859-1 sends and
// receives ISO-8859-1 while the server keeps UTF-8; other connections keep UTF-8.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "esql92_fixture.h"
#include "platform/esql92/esql92.h"
#include "platform/esql92/internal.h"

namespace {

using esqltest::Conn;
using esqltest::Rows;
using esqltest::TempDb;

int SetCodePage(Conn& c, const char* name) {
    if (tpe_sql_setconnection(c.name().c_str(), &c.ca) < 0)
        return c.ca.sqlcode;
    return tpe_set_client_codepage(name, &c.ca);
}

// Inserts (k, v) with v as a VARCHAR parameter of the given bytes.
int InsertParam(Conn& c, int k, const std::string& v) {
    ESQL_CURHDL cur = nullptr;
    if (c.prepare("INSERT INTO t VALUES (" + std::to_string(k) + ", ?)", cur) < 0)
        return c.rc;
    PRO_SQLDA* in = PRO_SQLDA_Allocate(1, ESQL_SQLDA_INPUT);
    std::vector<char> element(64, '\0');
    std::memcpy(element.data(), v.data(), v.size());
    int32_t ind = 0;
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t(in, ESQL_COL_TYPE, 1, ESQL_VARCHAR, nullptr);
    PRO_SQLDA_Set_Col_Attribute_dh_u32_t(in, ESQL_COL_LENGTH, 1, static_cast<uint32_t>(element.size()), nullptr);
    PRO_SQLDA_Set_Col_Attribute_void_p(in, ESQL_COL_DATA, 1, element.data(), nullptr);
    PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(in, ESQL_COL_INDICATOR, 1, &ind, nullptr);
    c.rc = tpe_sqlexecute(c.tm, c.db, cur, in, &c.ca);
    PRO_SQLDA_Deallocate(in);
    return c.rc;
}

class Esql92CodePage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(utf8.rc, 0) << esqltest::message(utf8.ca);
        ASSERT_EQ(latin1.rc, 0) << esqltest::message(latin1.ca);
        ASSERT_EQ(SetCodePage(latin1, ESQL_CODEPAGE_ISO8859_1), 0);
        ASSERT_EQ(utf8.exec("CREATE TABLE t (k INTEGER, v VARCHAR(20))"), 0) << esqltest::message(utf8.ca);
        ASSERT_EQ(utf8.commit(), 0);
    }

    TempDb file;
    Conn utf8{file.target(), "cp-utf8"};
    Conn latin1{file.target(), "cp-latin1"};
};

TEST_F(Esql92CodePage, Latin1TextIsStoredAsUtf8AndReadBack) {
    // 'é' in the statement text and as a parameter: one byte 0xE9 on the client side.
    ASSERT_EQ(latin1.exec("INSERT INTO t VALUES (1, '\xE9')"), 0) << esqltest::message(latin1.ca);
    ASSERT_EQ(InsertParam(latin1, 2, "\xE9t\xE9"), 0) << esqltest::message(latin1.ca);
    ASSERT_EQ(latin1.commit(), 0);

    EXPECT_EQ(latin1.query("SELECT v, hex(v) FROM t ORDER BY k"),
              (Rows{{"\xE9", "C3A9"}, {"\xE9t\xE9", "C3A974C3A9"}}));
    EXPECT_EQ(utf8.query("SELECT v FROM t ORDER BY k"), (Rows{{"\xC3\xA9"}, {"\xC3\xA9t\xC3\xA9"}}));
    // The server counts characters of its own text: 'é' is one.
    EXPECT_EQ(latin1.query("SELECT length(v) FROM t WHERE k = 1"), (Rows{{"1"}}));
}

TEST_F(Esql92CodePage, CharactersOutsideLatin1ArriveAsQuestionMarks) {
    // CJK and a character outside the BMP, stored through a UTF-8 connection.
    const std::string cjk = "\xE4\xB8\xAD", smile = "\xF0\x9F\x98\x80";
    ASSERT_EQ(utf8.exec("INSERT INTO t VALUES (1, 'a" + cjk + "b" + smile + "\xC3\xA9')"), 0);
    ASSERT_EQ(utf8.commit(), 0);
    EXPECT_EQ(latin1.query("SELECT v FROM t"), (Rows{{"a?b?\xE9"}}));
    EXPECT_EQ(utf8.query("SELECT v FROM t"), (Rows{{"a" + cjk + "b" + smile + "\xC3\xA9"}}));
}

TEST_F(Esql92CodePage, NamesAndMessagesLeaveInLatin1) {
    ESQL_CURHDL cur = nullptr;
    ASSERT_EQ(latin1.prepare("SELECT v AS \"n\xE9\" FROM t", cur), 0) << esqltest::message(latin1.ca);
    PRO_SQLDA* da = latin1.describe(cur);
    const char* name = nullptr;
    ASSERT_EQ(PRO_SQLDA_Get_Col_Attribute_char_p(da, ESQL_COL_NAME, 1, &name, nullptr), 0);
    EXPECT_STREQ(name, "n\xE9");
    PRO_SQLDA_Deallocate(da);

    EXPECT_LT(latin1.exec("SELECT * FROM t\xE9"), 0);
    const std::string text = esqltest::message(latin1.ca);
    EXPECT_NE(text.find("t\xE9"), std::string::npos) << text;
    EXPECT_EQ(text.find("\xC3\xA9"), std::string::npos) << text;
}

TEST_F(Esql92CodePage, OnlyKnownCodePagesAreTaken) {
    EXPECT_EQ(SetCodePage(latin1, "EBCDIC"), ESQL_ERR_GENERAL);
    EXPECT_EQ(tpe_set_client_codepage(nullptr, &latin1.ca), ESQL_ERR_NULL_ARGUMENT);
    // The refused names left ISO8859-1 in force; names are compared without case.
    EXPECT_EQ(latin1.query("SELECT '\xE9'"), (Rows{{"\xE9"}}));
    ASSERT_EQ(SetCodePage(latin1, "utf-8"), 0);
    EXPECT_EQ(latin1.query("SELECT '\xC3\xA9'"), (Rows{{"\xC3\xA9"}}));
}

}  // namespace

namespace {

TEST(Esql92CodePageText, Utf8ToLatin1TakesOnlyWellFormedCharacters) {
    struct Case {
        std::string utf8;
        std::string latin1;
    };
    const Case cases[] = {
        {"abc", "abc"},
        {"\xC3\xA9\xC3\xBF", "\xE9\xFF"},              // U+00E9, U+00FF
        {"\xC4\x80", "?"},                             // U+0100: beyond the code page
        {"\xE4\xB8\xAD!", "?!"},                       // CJK
        {"\xF0\x9F\x98\x80", "?"},                     // outside the BMP: one character
        {"\xC3", "?"},                                 // cut at the end
        {"\xE4\xB8", "??"},
        {"\x80x", "?x"},                               // stray continuation byte
        {"\xC0\x80", "??"},                            // overlong NUL
        {"\xED\xA0\x80", "???"},                       // encoded surrogate
        {"\xF4\x90\x80\x80", "????"},                  // above U+10FFFF
    };
    for (const Case& c : cases) {
        EXPECT_EQ(esql::latin1FromUtf8(c.utf8), c.latin1);
    }
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_EQ(esql::latin1FromUtf8(esql::utf8FromLatin1(all)), all);
}

// The check reads blocks of four words, then words, then a tail: one high byte anywhere,
// in texts around each size, must be seen, and none read past the text.
TEST(Esql92CodePageText, HighBytesAreFoundAtEveryPosition) {
    for (size_t n = 0; n <= 75; ++n) {
        const std::string ascii(n, 'a');
        EXPECT_FALSE(esql::hasHighBytes(ascii)) << n;
        for (size_t at = 0; at < n; ++at) {
            std::string text = ascii;
            text[at] = '\x80';
            EXPECT_TRUE(esql::hasHighBytes(text)) << n << " " << at;
        }
    }
    const std::string high = "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF";
    EXPECT_FALSE(esql::hasHighBytes(std::string_view("abcdefgh\xFF", 8)));
    const std::string block = std::string(32, 'a') + "\xFF";
    EXPECT_FALSE(esql::hasHighBytes(std::string_view(block.data(), 32)));
    EXPECT_FALSE(esql::hasHighBytes(std::string_view(high.data(), 0)));
}

// A parameter element of a client in ISO-8859-1 is measured to its NUL (or its end) and
// searched for high bytes in one pass of whole words and a tail: every place of the NUL
// and of a high byte, with bytes after the NUL that must not count (high ones, and ones
// that would borrow into the NUL's word), in elements around the word size allocated to
// their exact length.
TEST(Esql92CodePageText, TextExtentStopsAtTheNulAndSeesHighBytesBeforeIt) {
    for (size_t max = 0; max <= 19; ++max) {
        for (size_t nul = 0; nul <= max; ++nul) {          // max: no NUL
            for (size_t at = 0; at <= max; ++at) {         // max: no high byte
                for (char after : {'\x01', '\xFF'}) {
                    std::unique_ptr<char[]> elem(new char[max == 0 ? 1 : max]);
                    for (size_t i = 0; i < max; ++i)
                        elem[i] = i < nul ? 'a' : i == nul ? '\0' : after;
                    if (at < max && at != nul)
                        elem[at] = '\x80';
                    const esql::TextExtent got = esql::textExtent(elem.get(), max);
                    const size_t wantN = strnlen(elem.get(), max);
                    EXPECT_EQ(got.length, wantN) << max << " " << nul << " " << at;
                    EXPECT_EQ(got.high, esql::hasHighBytes({elem.get(), wantN})) << max << " " << nul << " " << at;
                }
            }
        }
    }
}

}  // namespace

namespace {

TEST_F(Esql92CodePage, TextThatIsNoUtf8IsRefusedFromAUtf8Client) {
    // A stray lead byte, a lone continuation byte, an overlong '/', an encoded surrogate and
    // a value above U+10FFFF: 22018, and nothing stored or run. The same bytes are
    // characters of an ISO-8859-1 client.
    const std::string bad[] = {"a\xC3(", "\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    for (const std::string& b : bad) {
        SCOPED_TRACE(static_cast<unsigned char>(b[0]));
        EXPECT_EQ(InsertParam(utf8, 1, b), ESQL_ERR_BAD_TEXT);
        EXPECT_EQ(esqltest::state(utf8.ca), "22018");
        EXPECT_EQ(utf8.exec("INSERT INTO t VALUES (2, '" + b + "')"), ESQL_ERR_BAD_TEXT);
    }
    ASSERT_EQ(utf8.commit(), 0);
    EXPECT_EQ(utf8.query("SELECT count(*) FROM t"), (Rows{{"0"}}));
    ASSERT_EQ(utf8.commit(), 0);
    ASSERT_EQ(InsertParam(latin1, 3, "a\xC3("), 0) << esqltest::message(latin1.ca);
    ASSERT_EQ(latin1.commit(), 0);
    EXPECT_EQ(utf8.query("SELECT hex(v) FROM t"), (Rows{{"61C38328"}}));
}

}  // namespace
