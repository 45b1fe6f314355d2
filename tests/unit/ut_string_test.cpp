// String routines: option splitting, searching and keyword matching, trimming, counted
// copies with quoting, and the program name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "util/errcode.h"
#include "util/ut_string.h"

namespace {

std::vector<std::string> Split(const char* text) {
    int argc = -1;
    char** argv = nullptr;
    EXPECT_EQ(ut_SplitArgs(text, &argc, &argv), 0) << text;
    std::vector<std::string> args;
    if (argv == nullptr)
        return args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i]);
    EXPECT_EQ(argv[argc], nullptr) << text;
    ut_FreeArgs(argv);
    return args;
}

using Args = std::vector<std::string>;

TEST(SplitArgs, ArgumentVectors) {
    struct Case {
        const char* text;
        Args expected;
    } cases[] = {
        {"-H host -S 5000", {"-H", "host", "-S", "5000"}},
        {"  \t-N\tdb  ", {"-N", "db"}},
        {"-N \"my db\" x", {"-N", "my db", "x"}},
        {"\"it's\"", {"it's"}},
        {"'say \"hi\"'", {"say \"hi\""}},
        {"a\\\"b", {"a\"b"}},
        {"a\\'b a\\\\b", {"a'b", "a\\b"}},
        {"a\\nb c\\", {"a\\nb", "c\\"}},  // other backslashes stay
        {"\"a\\\"b\"", {"a\"b"}},         // escapes work inside quotes too
        {"x \"\" y", {"x", "", "y"}},
        {"\"\" ''", {"", ""}},
        {"ab\"cd ef\"gh", {"abcd efgh"}},  // quotes inside a word join it
        {"a\"\"", {"a"}},
        {"\"open to the end", {"open to the end"}},
        {"", {}},
        {" \t ", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Split(c.text), c.expected) << c.text;
}

TEST(SplitArgs, NullTextLongArgumentsAndManyArguments) {
    int argc = 7;
    char** argv = reinterpret_cast<char**>(&argc);
    EXPECT_EQ(ut_SplitArgs(nullptr, &argc, &argv), -1);
    EXPECT_EQ(argc, 0);
    EXPECT_EQ(argv, nullptr);
    ut_FreeArgs(nullptr);

    std::string longArg(1100, 'z');
    EXPECT_EQ(Split(longArg.c_str()), Args{std::string(1023, 'z')});

    std::string many;
    Args expected;
    for (int i = 0; i < 37; ++i) {
        many += "-" + std::to_string(i) + " ";
        expected.push_back("-" + std::to_string(i));
    }
    EXPECT_EQ(Split(many.c_str()), expected);
}

TEST(Search, CaseInsensitiveFindAndKeywords) {
    const char* text = "select * From t";
    EXPECT_EQ(ut_StrCaseStr(text, "FROM"), text + 9);
    EXPECT_EQ(ut_StrCaseStr(text, "from tx"), nullptr);
    EXPECT_EQ(ut_StrCaseStr("ab", "abc"), nullptr);
    EXPECT_EQ(ut_StrCaseStr(text, ""), text);

    struct Case {
        const char* keyword;
        const char* text;
        const char* rest;  // null: no match
    } cases[] = {
        {"SELECT", "  select  a", "a"},
        {"SELECT", "selected a", nullptr},
        {"SELECT", "\tSeLeCt", ""},
        {"SELECT", "sel", nullptr},
        {"SELECT", "x select", nullptr},
    };
    for (const Case& c : cases) {
        const char* got = ut_MatchKeyword(c.keyword, c.text);
        if (c.rest == nullptr)
            EXPECT_EQ(got, nullptr) << c.text;
        else
            EXPECT_STREQ(got, c.rest) << c.text;
    }
    EXPECT_STREQ(ut_MatchKeywordExact("SELECT", " SELECT x"), "x");
    EXPECT_EQ(ut_MatchKeywordExact("SELECT", " select x"), nullptr);
    EXPECT_STREQ(ut_SkipBlanks(" \t\r\nx "), "x ");
}

TEST(Trim, RightTrimReturnsTheLastCharacter) {
    char text[] = "ab \t\n";
    EXPECT_EQ(ut_TrimRight(text), text + 1);
    EXPECT_STREQ(text, "ab");
    char blanks[] = "   ";
    EXPECT_EQ(ut_TrimRight(blanks), nullptr);
    EXPECT_STREQ(blanks, "");
    char empty[] = "";
    EXPECT_EQ(ut_TrimRight(empty), nullptr);
    EXPECT_EQ(ut_TrimRight(nullptr), nullptr);
}

TEST(CountedCopies, LengthsQuotesAndRejectedLengths) {
    struct Case {
        const char* text;
        int64_t length;
        bool unquote;
        const char* expected;  // null: rejected
    } cases[] = {
        {"abcdef", UT_NTS, false, "abcdef"},
        {"abcdef", 3, false, "abc"},
        {"ab\0cd", 5, false, "ab"},  // the counted bytes, NUL included
        {nullptr, 4, false, ""},
        {"abc", -1, false, nullptr},
        {"abc", -5, false, nullptr},
        {"'abc'", UT_NTS, true, "abc"},
        {"\"abc\"", UT_NTS, true, "abc"},
        {"'abc\"", UT_NTS, true, "'abc\""},
        {"'", UT_NTS, true, "'"},
        {"''", UT_NTS, true, ""},
        {"'abc'xyz", 5, true, "abc"},
        {"'abc'", -2, true, nullptr},
    };
    for (const Case& c : cases) {
        char* copy = reinterpret_cast<char*>(1);
        int rc = c.unquote ? ut_StrNDupUnquote(&copy, c.text, c.length) : ut_StrNDup(&copy, c.text, c.length);
        if (c.expected == nullptr) {
            EXPECT_EQ(rc, ERR_INVALID_STRING_OR_BUFFER_LENGTH) << c.length;
            EXPECT_EQ(copy, nullptr);
        } else {
            EXPECT_EQ(rc, 0);
            ASSERT_NE(copy, nullptr);
            EXPECT_STREQ(copy, c.expected) << (c.text ? c.text : "(null)");
        }
        std::free(copy);
    }
}

TEST(CountedCopies, QuoteAndUnquote) {
    struct Case {
        bool quote;
        const char* text;
        int64_t length;
        char q;
        const char* expected;  // null: rejected
    } cases[] = {
        {true, "abc", UT_NTS, '"', "\"abc\""},
        {true, "abcdef", 2, '`', "`ab`"},
        {true, "abcdef", 2, ' ', "ab"},  // no quoting still honours the length
        {true, nullptr, UT_NTS, '"', "\"\""},
        {true, "abc", -7, '"', nullptr},
        {false, "\"abc\"", UT_NTS, '"', "abc"},
        {false, "\"abc\"", UT_NTS, '\'', "\"abc\""},
        {false, "\"abc\"", UT_NTS, ' ', "\"abc\""},
        {false, "\"", UT_NTS, '"', "\""},
        {false, "\"ab\"cd", 4, '"', "ab"},
        {false, nullptr, 3, '"', ""},
    };
    for (const Case& c : cases) {
        char* got = c.quote ? ut_StrQuote(c.text, c.length, c.q) : ut_StrUnquote(c.text, c.length, c.q);
        if (c.expected == nullptr)
            EXPECT_EQ(got, nullptr);
        else if (got == nullptr)
            ADD_FAILURE() << "null for " << c.expected;
        else
            EXPECT_STREQ(got, c.expected);
        std::free(got);
    }
}

TEST(ProgramName, ThePathOfTheProgramOnly) {
    using namespace std::string_literals;
    struct Case {
        std::string cmdline;
        const char* expected;
    } cases[] = {
        {"/usr/bin/isql\0-v\0DSN.x\0"s, "ISQL"},  // arguments never count
        {"/opt/app.d/report\0/tmp/a.b\0"s, "REPORT"},
        {"python3.11\0script.py\0"s, "PYTHON3"},
        {"./a.out\0"s, "A"},
        {"/x/my prog\0"s, "MY"},
        {"/usr/bin/\0"s, "Unknown"},
        {""s, "Unknown"},
        {std::string(300, 'p') + "\0"s, nullptr},
    };
    for (const Case& c : cases) {
        if (c.expected != nullptr)
            EXPECT_EQ(ut_ProgramNameOf(c.cmdline), c.expected);
        else
            EXPECT_EQ(ut_ProgramNameOf(c.cmdline), std::string(254, 'P'));
    }
    EXPECT_STREQ(ut_ProgramName(), "UNIT_TESTS");
    EXPECT_EQ(ut_ProgramName(), ut_ProgramName());
}

}  // namespace
