// SQL grammar: every statement class parses to its tree and regenerates to its text, the
// name forms build their parts by kind, escapes come back in the form they were written,
// errors and exhaustion end the parse with its texts and free what it built, and mutated
// statements never crash the parser and regenerate to text that parses to itself.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "drv_pro9/oa_sqltext.h"
#include "sqlparse/ptree.h"
#include "sqlparse/scsql_parse.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

// One parse, freed at scope end.
struct Parsed {
    SCSQL_PARSE out;
    int rc;
    explicit Parsed(const std::string& sql) : rc(scsql_Parse(sql.c_str(), sql.size(), &out)) {
        if (out.root != nullptr) {
            EXPECT_EQ(PT_RegenText(out.root), 1);
        }
    }
    ~Parsed() { scsql_ParseFree(&out); }
    std::string Text() const { return out.root != nullptr ? PT_NodeText(out.root) : "<none>"; }
};

std::string Collapsed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' '))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// kind(children...) with leaf texts quoted: the shape of a subtree.
std::string Shape(const PT_NODE* n) {
    std::string s = std::to_string(n->kind);
    if (n->childCount == 0)
        return n->text != nullptr && *n->text != '\0' ? s + "'" + n->text + "'" : s;
    s += "(";
    for (const PT_NODE* c = n->child; c != nullptr; c = c->sibling)
        s += Shape(c) + (c->sibling != nullptr ? " " : "");
    return s + ")";
}

PT_NODE* FirstOfKind(PT_NODE* n, int kind) {
    if (n == nullptr || n->kind == kind)
        return n;
    for (PT_NODE* c = n->child; c != nullptr; c = c->sibling)
        if (PT_NODE* found = FirstOfKind(c, kind))
            return found;
    return nullptr;
}

struct StatementCase {
    const char* sql;
    int rc;
    int rootKind;     // -1: no root
    const char* text; // regenerated, blanks collapsed
};

TEST(SqlGrammar, EveryStatementClassParsesAndRegenerates) {
    const StatementCase cases[] = {
        {"SELECT DISTINCT TOP 10 a FROM t", 0, 74, "SELECT DISTINCT TOP 10 a FROM t"},
        {"select top 5 percent with ties a from t", 0, 74, "SELECT TOP 5 PERCENT WITH TIES a FROM t"},
        {"SELECT TOP 2,3 a FROM t", 0, 74, "SELECT TOP 2,3 a FROM t"},
        {"SELECT TOP (1+1, 2) a FROM t", 0, 74, "SELECT TOP (1 + 1, 2) a FROM t"},
        {"SELECT ALL a AS x, b y, 'it''s' FROM t", 0, 74, "SELECT ALL a AS x, b y, 'it''s' FROM t"},
        {"SELECT 1", 0, 74, "SELECT 1"},
        {"SELECT * FROM a LEFT OUTER JOIN b ON a.x = b.x", 0, 74,
         "SELECT * FROM a LEFT OUTER JOIN b ON a.x = b.x"},
        {"SELECT * FROM a INNER JOIN b ON a.x = b.x RIGHT JOIN c ON c.y = b.y", 0, 74,
         "SELECT * FROM a INNER JOIN b ON a.x = b.x RIGHT JOIN c ON c.y = b.y"},
        {"SELECT * FROM {oj a FULL OUTER JOIN b ON a.x = b.x}, c", 0, 74,
         "SELECT * FROM { oj a FULL OUTER JOIN b ON a.x = b.x }, c"},
        {"SELECT * FROM a, b WHERE a.x *= b.x", 0, 74, "SELECT * FROM a, b WHERE a.x *= b.x"},
        {"SELECT COUNT(*), COUNT(DISTINCT a), sum(b+1) FROM t GROUP BY a, b HAVING COUNT(*) > 1 "
         "ORDER BY 1 DESC, a ASC",
         0, 74,
         "SELECT COUNT (*), COUNT( DISTINCT a ), sum( b + 1 ) FROM t GROUP BY a, b HAVING COUNT (*) > 1 "
         "ORDER BY 1 DESC, a ASC"},
        {"SELECT a FROM t WHERE NOT (a = 1 OR b <> 2) AND c NOT BETWEEN 1 AND 2 AND d NOT LIKE 'x%' "
         "AND e IS NOT NULL AND ? IS NULL AND f NOT IN (1, 'a', USER) AND g = ANY (SELECT h FROM u) "
         "AND EXISTS (SELECT * FROM v) AND k IN (SELECT m FROM w WHERE n = 1)",
         0, 74,
         "SELECT a FROM t WHERE NOT ( a = 1 OR b <> 2 ) AND c NOT BETWEEN 1 AND 2 AND d NOT LIKE 'x%' "
         "AND e IS NOT NULL AND ? IS NULL AND f NOT IN ( 1, 'a', USER ) AND g = ANY ( SELECT h FROM u ) "
         "AND EXISTS ( SELECT * FROM v ) AND k IN ( SELECT m FROM w WHERE n = 1 )"},
        {"SELECT a FROM t UNION ALL SELECT b FROM u UNION SELECT c FROM v ORDER BY 1", 0, 74,
         "SELECT a FROM t UNION ALL SELECT b FROM u UNION SELECT c FROM v ORDER BY 1"},
        {"SELECT * FROM (SELECT a FROM t) AS x ORDER BY a", 0, 74,
         "SELECT * FROM ( SELECT a FROM t ) AS x ORDER BY a"},
        {"SELECT CASE a WHEN 1 THEN 'one' ELSE 'many' END, CASE WHEN a > 1 THEN 2 END FROM t", 0, 74,
         "SELECT CASE a WHEN 1 THEN 'one' ELSE 'many' END, CASE WHEN a > 1 THEN 2 END FROM t"},
        {"SELECT {fn UCASE(a)}, SUBSTRING(a FROM 2), POSITION('a' IN b), f() FROM t", 0, 74,
         "SELECT { fn UCASE( a ) }, SUBSTRING( a FROM 2 ), POSITION( 'a' IN b ), f( ) FROM t"},
        {"SELECT a || b, a * 2 / 3, -a, +b, 1.5, 2e3, 0x1F, USER FROM t", 0, 74,
         "SELECT a || b, a * 2 / 3, -a, +b, 1.5, 2e3, 0x1F, USER FROM t"},
        {"SELECT a FROM t WHERE d = {d '2001-02-03'} AND e < {t '10:11:12'} AND "
         "f > {ts '2001-02-03 10:11:12.5'} AND g LIKE 'x!%' {escape '!'}",
         0, 74,
         "SELECT a FROM t WHERE d = { d '2001-02-03' } AND e < { t '10:11:12' } AND "
         "f > { ts '2001-02-03 10:11:12.5' } AND g LIKE 'x!%' { escape '!' }"},
        {"INSERT INTO t VALUES (1, ?)", 0, 28, "INSERT INTO t VALUES ( 1, ? )"},
        {"INSERT INTO o.t (a, b) SELECT c, d FROM u WHERE e = ?", 0, 28,
         "INSERT INTO o.t ( a, b ) SELECT c, d FROM u WHERE e = ?"},
        {"UPDATE t SET a = NULL WHERE CURRENT OF c1", 0, 96, "UPDATE t SET a = NULL WHERE CURRENT OF c1"},
        {"UPDATE t SET a = a + 1, b = ? WHERE c = 1", 0, 97, "UPDATE t SET a = a + 1, b = ? WHERE c = 1"},
        {"UPDATE t FROM u SET a = 1 WHERE t.x = u.x", 0, 97, "UPDATE t FROM u SET a = 1 WHERE t.x = u.x"},
        {"UPDATE t SET a = 1 FROM u", 0, 97, "UPDATE t SET a = 1 FROM u"},
        {"DELETE FROM t WHERE CURRENT OF c1", 0, 18, "DELETE FROM t WHERE CURRENT OF c1"},
        {"DELETE FROM t WHERE a = 1", 0, 19, "DELETE FROM t WHERE a = 1"},
        {"DELETE FROM t", 0, 19, "DELETE FROM t"},
        {"CALL p", 0, 0, ""},
        {"{call p}", 0, 61, ""},
        // Errors: no terminal, nothing at all, and an assignment that is not "=".
        {"SELECT a FROM t;", 1, -1, nullptr},
        {"", 1, -1, nullptr},
        {"SELECT a FROM", 1, -1, nullptr},
        {"UPDATE t SET a < 1", 1, -1, nullptr},
        {"UPDATE t SET a <> NULL WHERE b = 1", 1, -1, nullptr},
        {"SELECT 'open FROM t", 1, -1, nullptr},
        {"SELECT a FROM t WHERE a = #", 1, -1, nullptr},
    };
    for (const StatementCase& c : cases) {
        SCOPED_TRACE(c.sql);
        Parsed p(c.sql);
        EXPECT_EQ(p.rc, c.rc);
        if (c.rootKind < 0) {
            EXPECT_EQ(p.out.root, nullptr);
            EXPECT_STREQ(p.out.errorMessage, "syntax error");
            continue;
        }
        ASSERT_NE(p.out.root, nullptr);
        EXPECT_EQ(p.out.root->kind, c.rootKind);
        EXPECT_EQ(Collapsed(p.Text()), c.text);
    }
}

TEST(SqlGrammar, ErrorTextsAreTheParsersOwn) {
    Parsed p("SELECT a FROM t;");
    EXPECT_STREQ(p.out.errorContext, "SELECT a FROM t;^");
    EXPECT_STREQ(p.out.errorMessage, "syntax error");
    EXPECT_EQ(p.out.failure, 0);
}

TEST(SqlGrammar, TreesHaveTheGrammarsShape) {
    const struct {
        const char* sql;
        int kind;  // the subtree shown
        const char* shape;
    } cases[] = {
        {"SELECT DISTINCT TOP 10 a FROM t", 53, "53(42'DISTINCT' 95'10' 53 53)"},
        {"SELECT a FROM t1 LEFT OUTER JOIN t2 ON t1.x = t2.x", 30, "30(56'LEFT' 51'OUTER')"},
        {"SELECT a FROM t WHERE b IN (1, 2)", 26,
         "26(23(91(24(60(11(10'b'))))) 99(99(98(32(95'1'))) 98(32(95'2'))))"},
        {"UPDATE t SET a = NULL WHERE CURRENT OF c1", 96, "96(88(87't') 5(4(10'a')) 16'c1')"},
        {"INSERT INTO t VALUES (1, 2)", 28, "28(88(87't') 45 100(99(99(98(32(95'1'))) 98(32(95'2')))))"},
        // A subquery compared with stands as the comparison's own third child.
        {"SELECT a FROM t WHERE a = (SELECT b FROM u)", 14,
         "14(23(91(24(60(11(10'a'))))) 13'=' 85(42 73(75(23(91(24(60(11(10'b')))))))"
         " 90(89(46(88(87'u')))) 54 47 48))"},
        // An ORDER BY after a derived table is the enclosing query's.
        {"SELECT * FROM (SELECT a FROM t) x ORDER BY a", 86,
         "86(90(89(29(72(53(42) 73(75(23(91(24(60(11(10'a'))))))) 86(90(89(46(88(87't')))) 54 47 48 52 50))"
         " 43 15'x' 50))) 54 47 48 52 50(55(81(80(11(10'a') 44)))))"},
        {"SELECT COUNT(*) FROM t", 76, "76'COUNT (*)'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Parsed p(c.sql);
        ASSERT_EQ(p.rc, 0);
        PT_NODE* n = FirstOfKind(p.out.root, c.kind);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(Shape(n), c.shape);
    }
}

TEST(SqlGrammar, NameFormsBuildTheirPartsByKind) {
    const struct {
        const char* sql;
        int kind;
        const char* shape;
        const char* text;
    } cases[] = {
        {"SELECT * FROM t", 88, "88(87't')", "t"},
        {"SELECT * FROM o.t", 88, "88(63'o' 87't')", "o.t"},
        {"SELECT * FROM c..t", 88, "88(63'c' 87't')", "c..t"},
        {"SELECT * FROM c.o.t", 88, "88(63'c' 57'o' 87't')", "c.o.t"},
        {"SELECT * FROM t@\"l\"", 88, "88(87't' 63'\"l\"')", "t@\"l\""},
        {"SELECT * FROM o.t @ l", 88, "88(57'o' 87't' 63'l')", "o.t@l"},
        {"SELECT * FROM c:t", 88, "88(63'c' 87't')", "c:t"},
        {"SELECT * FROM l @ c:t", 88, "88(63(64'l' 64'c') 87't')", "l@c:t"},
        {"SELECT * FROM c:o.t", 88, "88(63'c' 57'o' 87't')", "c:o.t"},
        {"SELECT * FROM l @ c:o.t", 88, "88(63(64'l' 64'c') 57'o' 87't')", "l@c:o.t"},
        {"SELECT c FROM t", 11, "11(10'c')", "c"},
        {"SELECT t.c FROM t", 11, "11(87't' 10'c')", "t.c"},
        {"SELECT o.t.c FROM t", 11, "11(57'o' 87't' 10'c')", "o.t.c"},
        {"SELECT \"a.b\".\"c@d:e\" FROM t", 11, "11(87'\"a.b\"' 10'\"c@d:e\"')", "\"a.b\".\"c@d:e\""},
        {"SELECT t.* FROM t", 75, "75(88(87't'))", "t.*"},
        {"SELECT o.t.* FROM t", 75, "75(88(57'o' 87't'))", "o.t.*"},
        {"SELECT c.o.t.* FROM t", 75, "75(88(63'c' 57'o' 87't'))", "c.o.t.*"},
        {"SELECT c..t.* FROM t", 75, "75(88(63'c' 87't'))", "c..t.*"},
        {"SELECT c:t.* FROM t", 75, "75(88(63'c' 87't'))", "c:t.*"},
        {"SELECT c:o.t.* FROM t", 75, "75(88(63'c' 57'o' 87't'))", "c:o.t.*"},
        {"SELECT l @ c:o.t.* FROM t", 75, "75(88(63(64'l' 64'c') 57'o' 87't'))", "l@c:o.t.*"},
        {"SELECT l @ c:t.* FROM t", 75, "75(88(63(64'l' 64'c') 87't'))", "l@c:t.*"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Parsed p(c.sql);
        ASSERT_EQ(p.rc, 0);
        PT_NODE* n = FirstOfKind(p.out.root, c.kind);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(Shape(n), c.shape);
        EXPECT_STREQ(PT_NodeText(n), c.text);
    }
}

// The translation with every blank dropped: regeneration spaces the tokens its own way.
std::string Translated(const std::string& sql) {
    OA_SQLTEXT rec;
    EXPECT_EQ(ut_SqlTextTranslate(nullptr, &rec, sql.c_str()), 0) << sql;
    std::string out;
    for (const char* c = rec.translated != nullptr ? rec.translated : ""; *c != '\0'; ++c)
        if (*c != ' ')
            out += *c;
    return out;
}

// Each escape comes back in the form it was written in, and the escape translation reads
// the regenerated statement as it reads the original.
TEST(SqlGrammar, EscapesRegenerateInTheirOwnForm) {
    const struct {
        const char* sql;
        const char* regenerated;  // collapsed
    } cases[] = {
        {"SELECT {fn UCASE(a)} FROM t WHERE d = {d '2001-02-03'}",
         "SELECT { fn UCASE( a ) } FROM t WHERE d = { d '2001-02-03' }"},
        {"SELECT --(* vendor(Microsoft), product(ODBC) fn UCASE(a) *)-- FROM t",
         "SELECT --(* vendor(Microsoft),product(ODBC) fn UCASE( a ) *)-- FROM t"},
        {"SELECT a FROM t WHERE d = --(*vendor(Microsoft),product(ODBC) d '2001-02-03' *)--",
         "SELECT a FROM t WHERE d = --(* vendor(Microsoft),product(ODBC) d '2001-02-03' *)--"},
        {"SELECT a FROM t WHERE e = {ts '2001-02-03 10:11:12'} AND g LIKE 'x!%' {escape '!'}",
         "SELECT a FROM t WHERE e = { ts '2001-02-03 10:11:12' } AND g LIKE 'x!%' { escape '!' }"},
        {"SELECT * FROM {oj a LEFT OUTER JOIN b ON a.x = b.x}",
         "SELECT * FROM { oj a LEFT OUTER JOIN b ON a.x = b.x }"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Parsed p(c.sql);
        ASSERT_EQ(p.rc, 0);
        EXPECT_EQ(Collapsed(p.Text()), c.regenerated);
        EXPECT_EQ(Translated(p.Text()), Translated(c.sql));
    }
}

TEST(SqlGrammar, NestingBeyondTheStackLimitIsMemoryExhausted) {
    auto nested = [](int depth) {
        return "SELECT a FROM t WHERE " + std::string(depth, '(') + "a = 1" + std::string(depth, ')');
    };
    Parsed ok(nested(300));
    EXPECT_EQ(ok.rc, 0);
    Parsed deep(nested(20000));
    EXPECT_EQ(deep.rc, SCSQL_PARSE_EXHAUSTED);
    EXPECT_STREQ(deep.out.errorMessage, "memory exhausted");
    EXPECT_EQ(deep.out.root, nullptr);
    EXPECT_EQ(deep.out.failure, 0);
}

// Every allocation of a parse failing in turn: the parse ends as exhausted with the
// memory failure noted, and frees all it built (the sanitizer build checks the leaks).
TEST(SqlGrammar, OutOfMemoryAtEveryStepEndsTheParseCleanly) {
    const std::string sql =
        "SELECT a, SUM(b) FROM t x LEFT JOIN u ON x.k = u.k WHERE c IN (1, 2) AND d LIKE ? "
        "GROUP BY a HAVING SUM(b) > 1 UNION SELECT e, f FROM v ORDER BY 1 DESC";
    int failures = 0;
    for (long n = 0;; ++n) {
        uh_FailAfter(n);
        SCSQL_PARSE out;
        int rc = scsql_Parse(sql.c_str(), sql.size(), &out);
        uh_FailAfter(-1);
        bool accepted = rc == 0;
        if (!accepted) {
            EXPECT_EQ(rc, SCSQL_PARSE_EXHAUSTED) << n;
            EXPECT_EQ(out.failure, ERR_MEMORY_ALLOCATION_FAILURE) << n;
            EXPECT_EQ(out.root, nullptr);
            ++failures;
        }
        scsql_ParseFree(&out);
        if (accepted)
            break;
        ASSERT_LT(n, 100000);
    }
    EXPECT_GT(failures, 50);
}

// Mutated statements (bytes dropped, doubled, swapped or replaced by SQL punctuation and
// words): the parser never crashes, and what it accepts regenerates to a text that parses
// and regenerates to itself.
TEST(SqlGrammar, MutatedStatementsRegenerateStably) {
    const std::vector<std::string> seeds = {
        "SELECT DISTINCT TOP 3 a, t.*, COUNT(*) FROM o.t x, {oj a LEFT JOIN b ON a.k = b.k} "
        "WHERE a BETWEEN ? AND 3 AND b LIKE 'x%' {escape '!'} GROUP BY a HAVING SUM(c) > ? "
        "UNION SELECT 1, 2, 3 FROM u ORDER BY 1 DESC",
        "UPDATE t SET a = ? + 1, b = NULL FROM u WHERE NOT (c = 1 OR d IN (1, ?, 'z'))",
        "INSERT INTO c:o.t (a, b) SELECT CASE WHEN x > 1 THEN {fn f(x, y)} ELSE ? END, y FROM v",
        "DELETE FROM t WHERE EXISTS (SELECT * FROM u WHERE u.k = t.k) AND e = ANY (SELECT f FROM w)",
    };
    const std::vector<std::string> pieces = {"(", ")", ",", "?", " AND ", " OR ", " NOT ", "SELECT ",
                                             " FROM ", "*", ".", "'", "{", "}", " WHERE ", " IN ", "@", ":"};
    std::mt19937 rng(20261210);
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string s = seeds[rng() % seeds.size()];
        for (int m = 1 + static_cast<int>(rng() % 3); m > 0 && !s.empty(); --m) {
            size_t at = rng() % s.size();
            switch (rng() % 4) {
            case 0: s.erase(at, 1 + rng() % 6); break;
            case 1: s.insert(at, s.substr(at, 1 + rng() % 6)); break;
            case 2: s.insert(at, pieces[rng() % pieces.size()]); break;
            default: std::swap(s[at], s[rng() % s.size()]); break;
            }
        }
        SCOPED_TRACE(s);
        Parsed first(s);
        // Other statements and call escapes are single leaves without text.
        if (first.rc != 0 || first.out.root->kind == 0 || first.out.root->kind == 61)
            continue;
        ++accepted;
        std::string text = first.Text();
        Parsed second(text);
        ASSERT_EQ(second.rc, 0) << text;
        EXPECT_EQ(Collapsed(second.Text()), Collapsed(text));
    }
    EXPECT_GT(accepted, 100);
}

}  // namespace
