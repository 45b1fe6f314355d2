// SQL text templates: insertions, conditional sections, the emptiness and pattern
// tests, and scans that must stop at the template's NUL.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/tmpl.h"

namespace {

// Builds a template from a readable form: {n} inserts argument n, {ifG T n} and
// {elifG T n} open a branch of section G under test T (empty, given, pattern, exact,
// or a number), {elseG} and {endG} as named. Everything else is literal.
std::string Tmpl(const std::string& src) {
    static const std::pair<const char*, int> tests[] = {
        {"empty", 1}, {"given", 2}, {"pattern", 3}, {"exact", 4}};
    std::string out;
    for (size_t i = 0; i < src.size();) {
        if (src[i] != '{') {
            out.push_back(src[i++]);
            continue;
        }
        size_t e = src.find('}', i);
        std::string tok = src.substr(i + 1, e - i - 1);
        i = e + 1;
        auto num = [](const std::string& s) { return static_cast<char>(std::atoi(s.c_str())); };
        if (isdigit(static_cast<unsigned char>(tok[0]))) {
            out += {TMPL_ESC, TMPL_INSERT, num(tok)};
            continue;
        }
        size_t sp = tok.find(' ');
        std::string head = tok.substr(0, sp);
        auto group = [&](size_t skip) { return num(head.substr(skip)); };
        if (head.rfind("if", 0) == 0 || head.rfind("elif", 0) == 0) {
            bool elif = head[0] == 'e';
            size_t sp2 = tok.find(' ', sp + 1);
            std::string t = tok.substr(sp + 1, sp2 - sp - 1);
            char test = num(t);
            for (auto& [name, v] : tests)
                if (t == name)
                    test = static_cast<char>(v);
            out += {TMPL_ESC, elif ? TMPL_ELSEIF : TMPL_IF, group(elif ? 4 : 2), test,
                    num(tok.substr(sp2 + 1))};
        } else if (head.rfind("else", 0) == 0) {
            out += {TMPL_ESC, TMPL_ELSE, group(4)};
        } else {
            out += {TMPL_ESC, TMPL_END, group(3)};
        }
    }
    return out;
}

std::string Expand(const std::string& tmpl, std::vector<const char*> args) {
    std::string out;
    EXPECT_EQ(ut_TmplExpand(out, tmpl.c_str(), args.data(), static_cast<int>(args.size())), 0);
    EXPECT_EQ(out.find('\0'), std::string::npos);
    return out;
}

struct Case {
    const char* tmpl;
    std::vector<const char*> args;
    const char* want;
};

void RunCases(const std::vector<Case>& cases) {
    for (const auto& c : cases)
        EXPECT_EQ(Expand(Tmpl(c.tmpl), c.args), c.want) << "template " << c.tmpl;
}

TEST(TmplExpand, InsertionsAndMissingArguments) {
    RunCases({
        {"WHERE {1}", {"a = 1"}, "WHERE a = 1"},
        {"WHERE {1}", {}, "WHERE NULL"},
        {"{2}/{1}/{3}", {"x", "y"}, "y/x/NULL"},
        {"[{1}]", {nullptr}, "[]"},
        // Arguments go in verbatim: quoting is the caller's business.
        {"= '{1}'", {"O'Brien"}, "= 'O'Brien'"},
        {"a\xFF\x07" "b", {}, "ab"},
    });
}

TEST(TmplExpand, EmptinessSections) {
    const char* t = "A{if1 given 2}B{2}{end1}C";
    RunCases({
        {t, {"x", nullptr}, "AC"},
        {t, {"x", ""}, "AC"},
        {t, {"x", "   "}, "AC"},
        {t, {"x", "%"}, "AC"},
        {t, {"x"}, "AC"},   // missing argument tests as empty
        {t, {"x", "y"}, "AByC"},
        {t, {"x", " %"}, "AB %C"},
        {"{if1 empty 1}E{else1}G{end1}", {""}, "E"},
        {"{if1 empty 1}E{else1}G{end1}", {"q"}, "G"},
        {"<{if1 9 1}never{end1}>", {"q"}, "<>"},
    });
}

TEST(TmplExpand, PatternPicksLikeOrEquality) {
    const char* t = "{if1 pattern 1}LIKE '{1}'{else1}= '{1}'{end1}";
    RunCases({
        {t, {"ab%"}, "LIKE 'ab%'"},
        {t, {"%ab"}, "LIKE '%ab'"},          // wildcard as the first character
        {t, {"a_b"}, "LIKE 'a_b'"},
        {t, {"a\\_b"}, "= 'a_b'"},           // only escaped wildcards: the plain name
        {t, {"a\\%b\\\\c"}, "= 'a%b\\c'"},
        {t, {"a\\\\%"}, "LIKE 'a\\\\%'"},    // an escaped backslash leaves % a wildcard
        {t, {"abc"}, "= 'abc'"},
        {t, {nullptr}, "= ''"},
        {"{if1 exact 1}= '{1}'{else1}LIKE '{1}'{end1}", {"a\\_b"}, "= 'a_b'"},
        {"{if1 exact 1}= '{1}'{else1}LIKE '{1}'{end1}", {"a_b"}, "LIKE 'a_b'"},
        // Outside the branch that the pattern test chose, the argument stays as given.
        {"{if1 exact 1}={1}{end1} LIKE {1}", {"a\\_b"}, "=a_b LIKE a\\_b"},
    });
}

TEST(TmplExpand, RepeatedPatternTestsAgreeAndArgumentsStay) {
    // One argument tested in each branch of a UNION: every branch must decide alike.
    std::string t = Tmpl("{if1 pattern 1}L {1}{else1}E {1}{end1} UNION "
                         "{if1 pattern 1}L {1}{else1}E {1}{end1}");
    char arg[] = "MY\\_TABLE";
    const char* args[] = {arg};
    std::string out;
    ut_TmplExpand(out, t.c_str(), args, 1);
    EXPECT_EQ(out, "E MY_TABLE UNION E MY_TABLE");
    EXPECT_STREQ(arg, "MY\\_TABLE");
}

TEST(TmplExpand, ElseIfAndNesting) {
    const char* chain = "{if1 empty 1}E{elif1 given 2}G{elif1 given 3}H{else1}X{end1}.";
    const char* nest = "{if1 given 1}a{if2 given 2}b{else2}c{end2}d{else1}e{if2 given 2}f{end2}{end1}";
    RunCases({
        {chain, {"", "y", "z"}, "E."},   // once a branch is kept the rest is dropped
        {chain, {"x", "y", "z"}, "G."},
        {chain, {"x", "", "z"}, "H."},
        {chain, {"x", "", ""}, "X."},
        {nest, {"x", "y"}, "abd"},
        {nest, {"x", ""}, "acd"},
        {nest, {"", "y"}, "ef"},
        {nest, {"", ""}, "e"},
    });
}

TEST(TmplExpand, AppendsAfterExistingText) {
    std::string out = "SELECT ";
    const char* args[] = {"1"};
    ut_TmplExpand(out, Tmpl("{1} FROM t").c_str(), args, 1);
    EXPECT_EQ(out, "SELECT 1 FROM t");
    EXPECT_EQ(out.size(), std::strlen(out.c_str()));
}

TEST(TmplExpand, ScansStopAtTheNul) {
    // Bytes after the template's NUL must never be read as template text.
    struct Raw {
        std::string bytes;
        const char* want;
    };
    const std::string afterNul = std::string("\0Z", 2);
    const std::vector<Raw> cases = {
        {std::string("A\xFF") + afterNul, "A"},
        {std::string("A\xFF\x01") + afterNul, "A"},
        {std::string("A\xFF\x02\x01") + afterNul, "A"},
        {Tmpl("A{if1 given 1}x") + afterNul + Tmpl("{end1}y"), "A"},
        {Tmpl("A{if1 empty 1}x{else1}") + afterNul + Tmpl("{end1}y"), "Ax"},
    };
    for (const auto& c : cases) {
        std::string bytes = c.bytes + std::string("\0", 1);
        const char* args[] = {""};
        std::string out;
        ut_TmplExpand(out, bytes.data(), args, 1);
        EXPECT_EQ(out, c.want);
    }
}

TEST(TmplIsAll, MatchEverything) {
    const std::pair<const char*, int> cases[] = {
        {nullptr, 1}, {"", 1}, {"   ", 1}, {"%", 1},
        {"%%", 0}, {" %", 0}, {"a", 0}, {"\t", 0}, {"_", 0},
    };
    for (auto [text, want] : cases)
        EXPECT_EQ(ut_TmplIsAll(text), want) << (text ? text : "(null)");
}

TEST(TmplHasPattern, StatusAndPlainName) {
    struct {
        const char* text;
        int want;
        const char* plain;
    } cases[] = {
        {nullptr, 0, ""},
        {"abc", 0, "abc"},
        {"_abc", 1, nullptr},
        {"ab%", 1, nullptr},
        {"a\\_b\\%", 0, "a_b%"},
        {"a\\\\_", 1, nullptr},
        {"a\\b", 0, "a\\b"},   // a backslash before another character is kept
    };
    for (const auto& c : cases) {
        std::string plain = "junk";
        EXPECT_EQ(ut_TmplHasPattern(c.text, &plain), c.want) << (c.text ? c.text : "(null)");
        if (c.plain) {
            EXPECT_EQ(plain, c.plain);
        }
    }
    EXPECT_EQ(ut_TmplHasPattern("a\\_b"), 0);
}

}  // namespace
