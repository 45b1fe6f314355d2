// SQL scanner: statements to token streams (numbers, texts, start states, escapes,
// comments, characters no rule takes), the token text and error texts, exact token values,
// independence of scans, running out of memory, and a seeded random scan.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sqlparse/scsql.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

struct ScannerDeleter {
    void operator()(SCSQL_SCANNER* s) const { scsql_ScannerFree(s); }
};
using ScannerPtr = std::unique_ptr<SCSQL_SCANNER, ScannerDeleter>;

// A scanner with its own copy of the statement, which must outlive it.
class Scanner {
public:
    explicit Scanner(std::string sql) : sql_(std::move(sql)) {
        SCSQL_SCANNER* s = nullptr;
        EXPECT_EQ(scsql_ScannerNew(&s, sql_.data(), sql_.size()), 0);
        scanner_.reset(s);
    }
    SCSQL_SCANNER* get() const { return scanner_.get(); }
    void reset() { scanner_.reset(); }

private:
    std::string sql_;
    ScannerPtr scanner_;
};

// Token names from the token list; keywords without their KW_ prefix.
const std::map<int, std::string>& TokenNames() {
    static const std::map<int, std::string> names = [] {
        std::map<int, std::string> m;
        auto add = [&](std::string name, int number) {
            if (name.rfind("KW_", 0) == 0)
                name.erase(0, 3);
            m[number] = name;
        };
#define SCSQL_TOKEN(name, number) add(#name, number);
#include "sqlparse/scsql_tokens.def"
#undef SCSQL_TOKEN
        return m;
    }();
    return names;
}

bool IsValued(int token) {
    return (token >= SCSQL_TK_IDENTIFIER && token <= SCSQL_TK_OJ_OP) || token == SCSQL_TK_UNKNOWN;
}

// One token: a single character as itself, others by name, valued ones with [text].
std::string Describe(int token, const SCSQL_SYMBOL* value) {
    std::string d = token < 256 ? std::string(1, static_cast<char>(token)) : TokenNames().at(token);
    if (value != nullptr)
        d += "[" + std::string(value->text) + "]";
    return d;
}

// The whole stream up to the end (or FAILED), blank-separated; checks that exactly the
// valued tokens carry a value and that the end repeats.
std::string Scan(SCSQL_SCANNER* s) {
    std::string out;
    for (int guard = 0; guard < 10000; ++guard) {
        const SCSQL_SYMBOL* value = reinterpret_cast<const SCSQL_SYMBOL*>(1);
        int token = scsql_NextToken(s, &value);
        if (token == 0) {
            EXPECT_EQ(value, nullptr);
            EXPECT_EQ(scsql_NextToken(s, &value), 0) << "the end repeats";
            return out;
        }
        EXPECT_EQ(value != nullptr, IsValued(token)) << Describe(token, nullptr);
        out += (out.empty() ? "" : " ") + Describe(token, value);
        if (token == SCSQL_TK_FAILED)
            return out;
    }
    ADD_FAILURE() << "no end";
    return out;
}

std::string Scan(const std::string& sql) {
    return Scan(Scanner(sql).get());
}

TEST(Scanner, TokenNumbersFollowTheGrammarsTerminals) {
    static_assert(SCSQL_TK_IDENTIFIER == 258 && SCSQL_TK_CONCAT == 271);
    static_assert(SCSQL_TK_KW_OR == 272 && SCSQL_TK_KW_ORDER == 305 && SCSQL_TK_KW_WHEN == 324);
    static_assert(SCSQL_TK_OTHER_WORD == 306 && SCSQL_TK_PARAM == 307 && SCSQL_TK_CALL_START == 329);
    // One statement spelled out in numbers.
    Scanner s("select a, COUNT(*) from t where b >= ? order by 1");
    std::vector<int> tokens;
    const SCSQL_SYMBOL* value;
    for (int t; (t = scsql_NextToken(s.get(), &value)) != 0;)
        tokens.push_back(t);
    EXPECT_EQ(tokens, (std::vector<int>{310, 258, ',', 264, '(', '*', ')', 288, 258, 316, 258,
                                        263, 307, 305, 281, 260}));
}

TEST(Scanner, StatementsToTokens) {
    struct Case {
        const char* sql;
        const char* tokens;
    } cases[] = {
        // Case does not matter to keywords; names keep theirs.
        {"select a from t", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t]"},
        {"SELECT A FROM T", "SELECT IDENTIFIER[A] FROM IDENTIFIER[T]"},
        {"SELECT Count(x), selected FROM t", "SELECT SETFUNC[Count] ( IDENTIFIER[x] ) , IDENTIFIER[selected] FROM IDENTIFIER[t]"},
        // The first word decides; the scan of another statement ends at its next word.
        {"SELECTED x", "OTHER_WORD"},
        {"CALL p", "OTHER_WORD"},
        {"{call p}", "CALL_START"},
        {"  \n  CALL  SELECT a", "OTHER_WORD SELECT IDENTIFIER[a]"},
        {"\t-- leading note\n/* and block */ SELECT a", "SELECT IDENTIFIER[a]"},
        {"#SELECT a", "UNKNOWN[#] SELECT IDENTIFIER[a]"},
        {"(SELECT a)", "UNKNOWN[(] SELECT IDENTIFIER[a] )"},
        // Join words and ORDER are keywords only before the word that completes them,
        // across any white space.
        {"SELECT left, order FROM t", "SELECT IDENTIFIER[left] , IDENTIFIER[order] FROM IDENTIFIER[t]"},
        {"SELECT a FROM t LEFT  OUTER JOIN u ON x = y",
         "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] LEFT OUTER JOIN IDENTIFIER[u] ON IDENTIFIER[x] COMPARISON[=] IDENTIFIER[y]"},
        {"SELECT a FROM t LEFT\tJOIN u RIGHT\r\nOUTER JOIN v FULL\nJOIN w INNER \n JOIN z",
         "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] LEFT JOIN IDENTIFIER[u] RIGHT OUTER JOIN IDENTIFIER[v] FULL JOIN IDENTIFIER[w] INNER JOIN IDENTIFIER[z]"},
        {"SELECT a FROM t ORDER\n  BY a", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] ORDER BY IDENTIFIER[a]"},
        {"SELECT a FROM t INNER OUTER", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] IDENTIFIER[INNER] OUTER"},
        // Escapes: both openers share one depth; inside, only the escape's keywords.
        {"SELECT {d '2001-02-03'}, {t '10:11:12'}, {ts '2001-02-03 10:11:12.5'} FROM t",
         "SELECT BRACE_OPEN DATE_VALUE[d '2001-02-03'] BRACE_CLOSE , BRACE_OPEN TIME_VALUE[t '10:11:12'] BRACE_CLOSE , "
         "BRACE_OPEN TIMESTAMP_VALUE[ts '2001-02-03 10:11:12.5'] BRACE_CLOSE FROM IDENTIFIER[t]"},
        {"SELECT d '2001-02-03' FROM t", "SELECT IDENTIFIER[d] STRING['2001-02-03'] FROM IDENTIFIER[t]"},
        {"SELECT --(*vendor(Microsoft),product(ODBC) fn ucase(a) *)-- FROM t",
         "SELECT VENDOR_OPEN FN IDENTIFIER[ucase] ( IDENTIFIER[a] ) VENDOR_CLOSE FROM IDENTIFIER[t]"},
        {"SELECT {fn f(--(* VENDOR(Microsoft), Product(odbc) fn g(a)*)--)} AND x FROM t",
         "SELECT BRACE_OPEN FN IDENTIFIER[f] ( VENDOR_OPEN FN IDENTIFIER[g] ( IDENTIFIER[a] ) VENDOR_CLOSE ) "
         "BRACE_CLOSE AND IDENTIFIER[x] FROM IDENTIFIER[t]"},
        {"SELECT a FROM {oj t LEFT OUTER JOIN u ON x = y AND MAX = 1}",
         "SELECT IDENTIFIER[a] FROM BRACE_OPEN OJ IDENTIFIER[t] LEFT OUTER JOIN IDENTIFIER[u] ON IDENTIFIER[x] "
         "COMPARISON[=] IDENTIFIER[y] IDENTIFIER[AND] IDENTIFIER[MAX] COMPARISON[=] UINT[1] BRACE_CLOSE"},
        {"SELECT a FROM t } WHERE b", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] UNKNOWN[}] WHERE IDENTIFIER[b]"},
        {"SELECT a FROM t WHERE b LIKE 'x!%' ESCAPE '!' OR c LIKE ? {escape '\\'}",
         "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] WHERE IDENTIFIER[b] LIKE STRING['x!%'] ESCAPE_CLAUSE[ESCAPE '!'] "
         "OR IDENTIFIER[c] LIKE PARAM BRACE_OPEN ESCAPE_CLAUSE[escape '\\'] BRACE_CLOSE"},
        // Operators; "!=" keeps its meaning, and characters no rule takes stay visible.
        {"SELECT a FROM t WHERE a != b", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] WHERE IDENTIFIER[a] COMPARISON[!=] IDENTIFIER[b]"},
        {"SELECT a FROM #t", "SELECT IDENTIFIER[a] FROM UNKNOWN[#] IDENTIFIER[t]"},
        {"SELECT a!b, [c], ~d, a|b FROM t",
         "SELECT IDENTIFIER[a] UNKNOWN[!] IDENTIFIER[b] , UNKNOWN[[] IDENTIFIER[c] UNKNOWN[]] , UNKNOWN[~] IDENTIFIER[d] , "
         "IDENTIFIER[a] UNKNOWN[|] IDENTIFIER[b] FROM IDENTIFIER[t]"},
        {"SELECT a<>b, a<=b, a>=b, a<b, a>b, a*=b, a=*b, a||b, -a+b/c.d:e;",
         "SELECT IDENTIFIER[a] COMPARISON[<>] IDENTIFIER[b] , IDENTIFIER[a] COMPARISON[<=] IDENTIFIER[b] , "
         "IDENTIFIER[a] COMPARISON[>=] IDENTIFIER[b] , IDENTIFIER[a] COMPARISON[<] IDENTIFIER[b] , "
         "IDENTIFIER[a] COMPARISON[>] IDENTIFIER[b] , IDENTIFIER[a] OJ_OP[*=] IDENTIFIER[b] , IDENTIFIER[a] OJ_OP[=*] "
         "IDENTIFIER[b] , IDENTIFIER[a] CONCAT IDENTIFIER[b] , - IDENTIFIER[a] + IDENTIFIER[b] / IDENTIFIER[c] . "
         "IDENTIFIER[d] : IDENTIFIER[e] ;"},
        // Comments are white space; the vendor opener is not a comment.
        {"SELECT a -- note\nFROM t", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t]"},
        {"SELECT a/* x * / y **/FROM t", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t]"},
        {"SELECT a FROM t /* not closed", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] UNKNOWN[/* not closed]"},
        // Literals.
        {"SELECT 'it''s', '', 'two\nlines' FROM t",
         "SELECT STRING['it''s'] , STRING[''] , STRING['two\nlines'] FROM IDENTIFIER[t]"},
        {"SELECT a FROM t WHERE b = 'open\n AND c = 1", "SELECT IDENTIFIER[a] FROM IDENTIFIER[t] WHERE IDENTIFIER[b] COMPARISON[=] UNKNOWN['open\n AND c = 1]"},
        {"SELECT 12, 1.5, 2., .5, 1e5, 1.5E-3, .5e+2, 0x1F, 0XaB FROM t",
         "SELECT UINT[12] , DECIMAL[1.5] , DECIMAL[2.] , DECIMAL[.5] , APPROX[1e5] , APPROX[1.5E-3] , APPROX[.5e+2] , "
         "HEX[0x1F] , HEX[0XaB] FROM IDENTIFIER[t]"},
        {"SELECT 12abc, 0x1G, 1e5x FROM t", "SELECT UNKNOWN[12abc] , UNKNOWN[0x1G] , UNKNOWN[1e5x] FROM IDENTIFIER[t]"},
        // Names of every form.
        {"SELECT a$#1, _x, x@12, @v, @@rowcount, @@, \"my col\", \"t\"@3, `b q`, \xC3\xA9t\xC3\xA9 FROM t",
         "SELECT IDENTIFIER[a$#1] , IDENTIFIER[_x] , IDENTIFIER[x@12] , IDENTIFIER[@v] , IDENTIFIER[@@rowcount] , "
         "IDENTIFIER[@@] , IDENTIFIER[\"my col\"] , IDENTIFIER[\"t\"@3] , IDENTIFIER[`b q`] , IDENTIFIER[\xC3\xA9t\xC3\xA9] "
         "FROM IDENTIFIER[t]"},
        {"SELECT \"a\nb\" FROM t", "SELECT UNKNOWN[\"] IDENTIFIER[a] IDENTIFIER[b] UNKNOWN[\"] FROM IDENTIFIER[t]"},
        // Keywords of the rest of the statement.
        {"UPDATE t SET a = NULL WHERE CURRENT OF c", "UPDATE IDENTIFIER[t] SET IDENTIFIER[a] COMPARISON[=] NULL WHERE CURRENT OF IDENTIFIER[c]"},
        {"SELECT DISTINCT TOP 5 PERCENT WITH TIES CASE WHEN a IS NOT NULL THEN 1 ELSE 2 END FROM t",
         "SELECT DISTINCT TOP UINT[5] PERCENT WITH TIES CASE WHEN IDENTIFIER[a] IS NOT NULL THEN UINT[1] ELSE UINT[2] END "
         "FROM IDENTIFIER[t]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Scan(c.sql), c.tokens) << c.sql;
}

// A NUL byte cannot travel in a C string: the token holding it is one the grammar rejects.
TEST(Scanner, NulByteInsideATokenMakesItUnknown) {
    std::string sql("SELECT 'a\0b', x\0 FROM t", 23);
    EXPECT_EQ(Scan(sql), "SELECT UNKNOWN['a] , IDENTIFIER[x] UNKNOWN[] FROM IDENTIFIER[t]");
}

TEST(Scanner, TokenTextIsTheNormalisedStatement) {
    struct Case {
        const char* sql;
        const char* text;
    } cases[] = {
        {"SELECT a,\n   b FROM t", "SELECT a, b FROM t"},
        {"SELECT  a\t\t FROM\r\n\tt", "SELECT a FROM t"},
        {"SELECT a -- note\n  FROM /* c */ t", "SELECT a  FROM   t"},
        {"  CALL x", "CALL"},
        {"SELECT a FROM (SELECT b", "SELECT b"},  // a statement word starts it afresh
    };
    for (const Case& c : cases) {
        Scanner s(c.sql);
        Scan(s.get());
        EXPECT_STREQ(scsql_TokenText(s.get()), c.text) << c.sql;
    }
}

TEST(Scanner, ErrorTextsTakeTheTokenTextReadSoFar) {
    Scanner s("SELECT a FROM t WHERE");
    EXPECT_EQ(scsql_ErrorContext(s.get()), nullptr);
    const SCSQL_SYMBOL* value;
    for (int i = 0; i < 4; ++i)
        scsql_NextToken(s.get(), &value);
    scsql_Error(s.get(), "syntax error");
    EXPECT_STREQ(scsql_ErrorContext(s.get()), "SELECT a FROM t^");
    EXPECT_STREQ(scsql_ErrorMessage(s.get()), "syntax error");

    Scanner u("SELECT 'abc");
    Scan(u.get());
    EXPECT_STREQ(scsql_ErrorMessage(u.get()), "Unterminated string literal.");
    EXPECT_STREQ(scsql_ErrorContext(u.get()), "SELECT ^");
}

// Every token keeps its exact text: texts that differ in case are different entries,
// equal texts share one.
TEST(Scanner, ValuesKeepTheirExactText) {
    Scanner s(
        "SELECT Name FROM t WHERE NAME = 'abc' OR b = 'ABC' OR \"q\" = \"Q\" OR x LIKE y "
        "ESCAPE 'a' OR z LIKE w ESCAPE 'A' OR h = 0xab OR h = 0xAB OR Name = 'abc'");
    std::map<std::string, const SCSQL_SYMBOL*> seen;
    const SCSQL_SYMBOL* value;
    for (int t; (t = scsql_NextToken(s.get(), &value)) != 0;) {
        if (value == nullptr)
            continue;
        auto [it, added] = seen.emplace(value->text, value);
        EXPECT_EQ(it->second, value) << "one entry per text: " << value->text;
    }
    for (const char* text : {"Name", "NAME", "'abc'", "'ABC'", "\"q\"", "\"Q\"", "ESCAPE 'a'",
                             "ESCAPE 'A'", "0xab", "0xAB"})
        EXPECT_EQ(seen.count(text), 1u) << text;
}

// Each scan starts in the initial state at depth 0, whatever the previous one left.
TEST(Scanner, ScansDoNotShareState) {
    for (const char* first : {"SELECT {fn f(", "SELECT --(*vendor(Microsoft),product(ODBC) fn",
                              "CALL p", "{call", "SELECT 'open", "SELECT /* open"}) {
        Scanner s(first);
        const SCSQL_SYMBOL* value;
        scsql_NextToken(s.get(), &value);
        scsql_NextToken(s.get(), &value);
        s.reset();
        EXPECT_EQ(Scan("SELECT d '2001-02-03' FROM t }"),
                  "SELECT IDENTIFIER[d] STRING['2001-02-03'] FROM IDENTIFIER[t] UNKNOWN[}]")
            << "after " << first;
    }
}

TEST(Scanner, LongStatementsKeepEveryToken) {
    // Far beyond any fixed text buffer, with tokens longer than the automaton's buffer.
    std::string sql = "SELECT a FROM t WHERE b IN (";
    std::string expected = sql;
    for (int i = 0; i < 30000; ++i) {
        sql += (i ? ",\n  " : "") + std::to_string(i);
        expected += (i ? ", " : "") + std::to_string(i);
    }
    std::string literal = "'" + std::string(100000, 'x') + "'";
    sql += ") OR c = " + literal;
    expected += ") OR c = " + literal;

    Scanner s(sql);
    const SCSQL_SYMBOL* value;
    int count = 0;
    int last = 0;
    std::string lastText;
    for (int t; (t = scsql_NextToken(s.get(), &value)) != 0; ++count) {
        last = t;
        lastText = value != nullptr ? value->text : "";
    }
    EXPECT_EQ(count, 8 + (30000 + 29999) + 5);
    EXPECT_EQ(last, SCSQL_TK_STRING);
    EXPECT_EQ(lastText, literal);
    EXPECT_EQ(scsql_TokenText(s.get()), expected);
}

// Out of memory anywhere (scanner, dictionary, automaton buffers) fails the scan in order:
// the tokens read so far, then FAILED for good, and every block released (ASan checks).
TEST(Scanner, RunningOutOfMemoryFailsTheScan) {
    const std::string sql = "SELECT a, 'lit', b FROM t WHERE c IN ('" + std::string(40000, 'y') + "')";
    const std::string full = Scan(sql);
    bool sawFailure = false;
    for (long n = 0;; ++n) {
        uh_FailAfter(n);
        SCSQL_SCANNER* raw = nullptr;
        int rc = scsql_ScannerNew(&raw, sql.data(), sql.size());
        ScannerPtr s(raw);
        if (rc != 0) {
            uh_FailAfter(-1);
            EXPECT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE);
            EXPECT_EQ(raw, nullptr);
            continue;
        }
        std::string got;
        const SCSQL_SYMBOL* value;
        int t;
        while ((t = scsql_NextToken(s.get(), &value)) != 0 && t != SCSQL_TK_FAILED)
            got += (got.empty() ? "" : " ") + Describe(t, value);
        uh_FailAfter(-1);
        if (t == 0) {
            EXPECT_EQ(got, full);
            EXPECT_EQ(scsql_Failure(s.get()), 0);
            break;
        }
        sawFailure = true;
        EXPECT_EQ(full.compare(0, got.size(), got), 0) << "a prefix of the stream at " << n;
        EXPECT_EQ(scsql_NextToken(s.get(), &value), SCSQL_TK_FAILED);
        EXPECT_EQ(scsql_Failure(s.get()), ERR_MEMORY_ALLOCATION_FAILURE);
    }
    EXPECT_TRUE(sawFailure);

    // A buffer that must grow for one long token.
    uh_FailAbove(50000);
    Scanner s(sql);
    std::string got = Scan(s.get());
    uh_FailAbove(SIZE_MAX);
    EXPECT_NE(got.find("FAILED"), std::string::npos) << got;
}

// Random statements: the scan always ends, every token is a known one, and outside
// comments no byte is lost: the token text holds every byte of the statement that is not
// white space.
TEST(Scanner, SeededRandomStatements) {
    static const std::vector<std::string> pieces = {
        " ", "\n", "\t", "\r", "a", "b1", "x", "(", ")", ",", ".", "*", "=", "<", ">", "!", "?",
        "'", "''", "\"", "`", "{", "}", "@", "#", "$", "0x", "1", "9.", "e", "+", "-", "/", "|",
        ";", ":", "\\", "[", "~", "FROM", "WHERE", "AND", "IN", "fn", "oj", "d", "ts", "LEFT",
        "JOIN", "ORDER", "BY", "ESCAPE", "COUNT", "--", "/*", "*/", "*)--",
        "--(*vendor(Microsoft),product(ODBC)", "\xC3\xA9", "\xFF", "\x01", std::string(1, '\0')};
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string sql = "SELECT ";
        int n = static_cast<int>(random() % 40);
        for (int i = 0; i < n; ++i)
            sql += pieces[random() % pieces.size()];
        Scanner s(sql);
        const SCSQL_SYMBOL* value;
        size_t tokens = 0;
        for (int t; (t = scsql_NextToken(s.get(), &value)) != 0; ++tokens) {
            ASSERT_TRUE(t < 256 || TokenNames().count(t)) << t << " in " << sql;
            ASSERT_NE(t, SCSQL_TK_FAILED);
            ASSERT_EQ(value != nullptr, IsValued(t));
            ASSERT_LE(tokens, sql.size()) << sql;
        }
        if (sql.find("--") != std::string::npos || sql.find("/*") != std::string::npos ||
            sql.find('\0') != std::string::npos)
            continue;
        auto solid = [](std::string text) {
            std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
            return text;
        };
        EXPECT_EQ(solid(scsql_TokenText(s.get())), solid(sql)) << sql;
    }
}

}  // namespace
