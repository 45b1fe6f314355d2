// The parameter-describe analyser: statement -> probes, the marker ordinal of each probe
// column, the marker string and the described count; and many threads analysing at once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "drv_pro9/oa_describe.h"
#include "scrs/scr_paramdesc.h"
#include "util/errcode.h"

namespace {

// Blanks collapsed, none before a comma or after "(" or before ")".
std::string Collapsed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if ((c == ',' || c == ')') && !out.empty() && out.back() == ' ')
            out.pop_back();
        if (c == ' ' && (out.empty() || out.back() == ' ' || out.back() == '('))
            continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

struct Case {
    const char* sql;
    int rc;
    std::vector<std::string> probes;  // collapsed
    std::vector<uint32_t> ordinals;
    std::string markerString;
    int described;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"SELECT * FROM T WHERE A = ? AND B BETWEEN ? AND ?", 0, {"SELECT A, B, B FROM T WHERE 1=0"}, {1, 2, 3}, "", 3},
        {"SELECT * FROM t WHERE ? = ?", 0, {}, {}, "", 0},
        {"SELECT * FROM t WHERE ? IS NULL", 0, {"SELECT cast (null as varchar) FROM t WHERE 1=0"}, {1}, "", 1},
        {"SELECT * FROM t WHERE ? < a AND b NOT LIKE ? AND c LIKE 'x' AND EXISTS (SELECT * FROM u WHERE v = ?)", 0,
         {"SELECT a, b FROM t WHERE 1=0"}, {1, 2}, "", 2},
        {"UPDATE T SET A = ?, B = 5 WHERE K = ?", 0, {"SELECT T.A, T.K FROM T WHERE 1=0"}, {1, 2}, "", 2},
        {"UPDATE t SET a = ? FROM u WHERE u.k = ?", 0, {"SELECT t.a, u.k FROM t, u WHERE 1=0"}, {1, 2}, "", 2},
        {"UPDATE t SET a = ? WHERE CURRENT OF c", 0, {"SELECT t.a FROM t WHERE 1=0"}, {1}, "", 1},
        {"INSERT INTO T VALUES (?, 5, ?)", 0, {"SELECT * FROM T WHERE 1=0"}, {1, 0, 2}, "?X?", 2},
        {"INSERT INTO T (A, B) VALUES (1, ?)", 0, {"SELECT B FROM T WHERE 1=0"}, {1}, "", 1},
        {"INSERT INTO T (A) VALUES (1, ?)", 0, {}, {}, "", 0},
        {"SELECT a FROM t WHERE a = ? UNION SELECT b FROM u WHERE b > ?", 0,
         {"SELECT a FROM t WHERE 1=0", "SELECT b FROM u WHERE 1=0"}, {1, 2}, "", 2},
        {"SELECT a FROM t GROUP BY a HAVING SUM(B) > ? AND A < ?", 0, {"SELECT (B), A FROM t WHERE 1=0"}, {1, 2}, "", 2},
        {"SELECT a FROM t GROUP BY a HAVING SUM(B) > ?", 0, {"SELECT SUM(B) FROM t WHERE 1=0"}, {1}, "", 1},
        {"SELECT a FROM t GROUP BY a HAVING COUNT(*) > ? AND a = ?", 0, {"SELECT 1, a FROM t WHERE 1=0"}, {1, 2}, "", 2},
        {"SELECT a FROM t WHERE a IN (?, ?)", 0, {"SELECT a, a FROM t WHERE 1=0"}, {1, 2}, "", 2},
        {"SELECT a FROM t WHERE ? IN (1, 2)", 0, {"SELECT 1 FROM t WHERE 1=0"}, {1}, "", 1},
        {"SELECT a FROM t WHERE ? IN (?, 2)", 0, {}, {}, "", 0},
        {"SELECT a FROM t WHERE ? IN (SELECT b FROM u)", 0, {}, {}, "", 0},
        {"DELETE FROM t WHERE a = ? AND b LIKE ?", 0, {"SELECT a, b FROM t WHERE 1=0"}, {1, 2}, "", 2},
        {"DELETE FROM t WHERE CURRENT OF c", 0, {}, {}, "", 0},
        {"SELECT a FROM t;", ERR_SYNTAX_ERROR_OR_ACCESS, {}, {}, "", 0},
        // Markers the analysis cannot describe (in a subquery, several in one operand, in
        // an expression item) are left out by ordinal: the others keep their own.
        {"SELECT a FROM t WHERE b = ? AND c IN (SELECT d FROM u WHERE e = ?) AND f = ?", 0,
         {"SELECT b, f FROM t WHERE 1=0"}, {1, 3}, "", 2},
        {"SELECT a FROM t WHERE b = ? + ? AND c = ?", 0, {"SELECT c FROM t WHERE 1=0"}, {3}, "", 1},
        {"INSERT INTO t (a, b) SELECT ?, c + ? FROM u WHERE d = ?", 0,
         {"SELECT a FROM t WHERE 1=0", "SELECT d FROM u WHERE 1=0"}, {1, 3}, "", 2},
        // Joins and derived tables go into the probe as written, correlation names and all.
        {"SELECT * FROM t x LEFT JOIN (SELECT k FROM u) d ON x.k = d.k WHERE x.a = ?", 0,
         {"SELECT x.a FROM t x LEFT JOIN (SELECT k FROM u) d ON x.k = d.k WHERE 1=0"}, {1}, "", 1},
        {"SELECT * FROM t x WHERE x.k IN (SELECT k FROM u) AND a = ?", 0, {"SELECT a FROM t x WHERE 1=0"}, {1}, "", 1},
    };
    return cases;
}

// "probes | ordinals | marker string | described" of one analysis.
std::string Outcome(const char* sql, int* rc) {
    SCR_PARAMDESC d;
    SCR_ParamDescInit(&d, "cast (null as varchar)");
    *rc = SCR_ParamDescAnalyse(&d, sql);
    std::string out;
    for (const std::string& p : d.probes)
        out += Collapsed(p) + ";";
    out += " |";
    for (uint32_t o : d.columnMarkers)
        out += " " + std::to_string(o);
    out += " | " + d.markerString + " | " + std::to_string(d.described);
    SCR_ParamDescFree(&d);
    return out;
}

std::string Expected(const Case& c) {
    std::string out;
    for (const std::string& p : c.probes)
        out += p + ";";
    out += " |";
    for (uint32_t o : c.ordinals)
        out += " " + std::to_string(o);
    return out + " | " + c.markerString + " | " + std::to_string(c.described);
}

TEST(ParamDescribe, ProbesAndOrdinals) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.sql);
        int rc = -1;
        EXPECT_EQ(Outcome(c.sql, &rc), Expected(c));
        EXPECT_EQ(rc, c.rc);
    }
}

TEST(ParamDescribe, RecordKeepsTheStatementAndItsDefault) {
    SCR_PARAMDESC d;
    SCR_ParamDescInit(&d, "cast (null as varchar)");
    ASSERT_EQ(SCR_ParamDescAnalyse(&d, " \n SELECT a FROM t WHERE b = ?"), 0);
    EXPECT_EQ(d.text, "SELECT a FROM t WHERE b = ?");
    EXPECT_EQ(d.rootKind, 74);
    // Analysing again starts afresh.
    ASSERT_EQ(SCR_ParamDescAnalyse(&d, "SELECT a FROM t;"), ERR_SYNTAX_ERROR_OR_ACCESS);
    EXPECT_TRUE(d.probes.empty());
    EXPECT_EQ(d.errorMessage, "syntax error");
    EXPECT_EQ(d.root, nullptr);
    SCR_ParamDescFree(&d);
    EXPECT_STREQ(d.defaultExpression, "cast (null as varchar)");
}

TEST(ParamDescribe, ProberHandsTheAgentProbesWithOrdinals) {
    OA_PARAMPROBES out;
    ASSERT_EQ(SCR_ParamProber("cast (null as varchar)", "INSERT INTO t VALUES (?, 1, ?)", &out), 0);
    EXPECT_EQ(out.probes, std::vector<std::string>{"SELECT * FROM t WHERE 1=0 "});
    EXPECT_EQ(out.ordinals, (std::vector<uint32_t>{1, 0, 2}));
    EXPECT_EQ(out.markerMap, "?X?");
    OA_PARAMPROBES none;
    EXPECT_EQ(SCR_ParamProber("x", "SELECT a FROM t WHERE ? = ?", &none), ERR_GENERAL_ERROR);
    EXPECT_EQ(SCR_ParamProber("x", "SELECT a FROM t;", &none), ERR_SYNTAX_ERROR_OR_ACCESS);
}

// Parses share nothing: twelve threads analysing the table at once get the answers one
// thread gets (the ThreadSanitizer build checks for races).
TEST(ParamDescribe, ThreadsAnalyseAtOnce) {
    std::vector<std::string> want;
    for (const Case& c : Cases())
        want.push_back(Expected(c));
    std::vector<int> mismatches(12, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 12; ++t) {
        threads.emplace_back([t, &want, &mismatches] {
            for (int round = 0; round < 20; ++round) {
                for (size_t i = 0; i < Cases().size(); ++i) {
                    size_t k = (i + static_cast<size_t>(t)) % Cases().size();
                    int rc = -1;
                    if (Outcome(Cases()[k].sql, &rc) != want[k] || rc != Cases()[k].rc)
                        ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(mismatches, std::vector<int>(12, 0));
}

}  // namespace
