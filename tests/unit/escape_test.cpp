// ODBC escape translation: the server text, flags and marker count for each kind of
// escape, quoting and blocks, outer joins, and the statement-text record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "drv_pro9/oa_sqltext.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

constexpr uint16_t P = SQLT_HAS_PARAMS, C = SQLT_PROC_CALL, R = SQLT_RETURN_VALUE;

struct Case {
    const char* in;
    const char* want;
    uint16_t flags = 0;
    uint32_t params = 0;
};

void RunCases(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        OA_SQLTEXT rec;
        ASSERT_EQ(ut_SqlTextTranslate(nullptr, &rec, c.in), 0) << c.in;
        EXPECT_STREQ(rec.translated, c.want) << "input: " << c.in;
        EXPECT_EQ(rec.flags, c.flags) << "input: " << c.in;
        EXPECT_EQ(rec.paramCount, c.params) << "input: " << c.in;
    }
}

TEST(EscapeTranslate, ScalarFunctions) {
    RunCases({
        {"SELECT {fn ucase(name)} FROM t", "SELECT  ucase(name) FROM t"},
        {"{fn UCASE(name)}", " ucase(name)"},
        {"{fn SPACE(3)}", " repeat(' ', (3))"},
        {"{fn dbname()}", " db_name()"},
        {"{fn pi()}", " pi()"},
        {"{fn current_date()}", " sysdate()"},
        {"{fn current_timestamp()}", " systimestamp()"},
        {"{fn substring(s, 1, 2)}", " substr(s, 1, 2)"},
        {"{fn cot(x)}", " cot(x)"},   // unknown: written as it stands
        {"{fn convert(x, SQL_NUMERIC)}", "x"},
        {"{fn CONVERT(x, sql_char)}", "convert(SQL_CHAR, x)"},
        {"{fn convert(x, SQL_WCHAR)}", "x"},
        {"{fn convert(f(a, b), SQL_INTEGER)}", "convert(SQL_INTEGER, f(a, b))"},
        // Nested escapes are translated inside the outer one.
        {"{fn convert({fn curdate()}, SQL_CHAR)}", "convert(SQL_CHAR, curdate())"},
        {"{fn concat({fn ucase(a)}, b)}", " concat( ucase(a), b)"},
        {"{fn ucase({fn lcase(?)}) || ?}", " ucase( lcase(?)) || ?", P, 2},
        {"{fn space({fn ucase(a)})}", " repeat(' ', ( ucase(a)))"},
        {"--(*vendor(Microsoft), product(ODBC) fn ucase({fn lcase(a)})*)--", " ucase( lcase(a))"},
        {"{fn UCase ({d '2012-03-04'})}", " ucase ('2012/03/04')"},
        // Cut off inside: as written, the inner escape too.
        {"SELECT {fn ucase({fn lcase('a'", "SELECT {fn ucase({fn lcase('a'"},
    });
}

// Deep nesting gives every level's translation around the innermost value.
TEST(EscapeTranslate, DeeplyNestedFunctions) {
    const int depth = 5000;
    std::string in, want;
    for (int k = 0; k < depth; ++k) {
        in += "{fn ucase(";
        want += " ucase(";
    }
    in += "?";
    want += "?";
    for (int k = 0; k < depth; ++k) {
        in += ")}";
        want += ")";
    }
    RunCases({{in.c_str(), want.c_str(), P, 1}});
}

TEST(EscapeTranslate, DateTimeLiterals) {
    RunCases({
        {"{d '2012-03-04'}", "'2012/03/04'"},
        {"{D '2012/3/4'}", "'2012/03/04'"},
        {"{t '05:06:07'}", "'05:06:07'"},
        {"{t '5:6'}", "'05:06:00'"},
        {"{ts '2012-03-04 05:06:07.250'}", "'2012/03/04 05:06:07:250'"},
        {"{ts '2012-03-04 05:06:07.5'}", "'2012/03/04 05:06:07:500'"},
        {"{ts '2012-03-04 05:06:07.123456'}", "'2012/03/04 05:06:07:123'"},
        {"{ts '2012-03-04 05:06:07:042'}", "'2012/03/04 05:06:07:042'"},
        {"{ts '2012-03-04'}", "'2012/03/04 00:00:00:000'"},
        {"WHERE d > {d '2012-03-04'}", "WHERE d > '2012/03/04'"},
    });
}

TEST(EscapeTranslate, CallsAndMarkers) {
    RunCases({
        {"{call p}", "CALL p", C},
        {"{call p(?)}", "CALL p(?)", C | P, 1},
        {"{ CALL p(?, 'a?', ?)}", "CALL p(?, 'a?', ?)", C | P, 2},
        {"{? = call p(?)}", "CALL p(?)", R | C | P, 1},
        {"{?=call p}", "CALL p", R | C},
        {"INSERT INTO t VALUES (?, {d '2012-03-04'}, ?)",
         "INSERT INTO t VALUES (?, '2012/03/04', ?)", P, 2},
        {"SELECT {fn concat(?, '?')} FROM t", "SELECT  concat(?, '?') FROM t", P, 1},
    });
}

TEST(EscapeTranslate, LikeEscapeAndUnknownEscapes) {
    RunCases({
        {"SELECT * FROM t WHERE a LIKE 'x\\_%' {escape '\\'}",
         "SELECT * FROM t WHERE a LIKE 'x\\_%' ESCAPE '\\'"},
        // Unknown escapes reach the server as written, so that it reports them.
        {"SELECT {interval '1' day} FROM t", "SELECT {interval '1' day} FROM t"},
        {"SELECT {guid '12'}, ? FROM t", "SELECT {guid '12'}, ? FROM t", P, 1},
    });
}

TEST(EscapeTranslate, QuotesBlocksAndOutsideText) {
    RunCases({
        {"SELECT '{fn x}', \"?\", 'it''s ?' FROM t WHERE a = ?",
         "SELECT '{fn x}', \"?\", 'it''s ?' FROM t WHERE a = ?", P, 1},
        // A brace inside a literal within an escape does not end the escape.
        {"{fn concat(a, '}')}", " concat(a, '}')"},
        {"CREATE PROCEDURE p()\r\nBEGIN\r\n  x = ?; if (a) { b(); }\r\nEND\r\nSELECT ?",
         "CREATE PROCEDURE p()\nBEGIN\n  x = ?; if (a) { b(); }\nEND\nSELECT ?", P, 1},
        {"SELECT\t1,\x01" "2", "SELECT 1, 2"},
        {"SELECT @12, @x FROM t", "SELECT [12], @x FROM t"},
        // An escape without its end goes on as written.
        {"SELECT {fn ucase(?) FROM t", "SELECT {fn ucase(?) FROM t", P, 1},
    });
}

TEST(EscapeTranslate, LongForm) {
    RunCases({
        {"SELECT --(*vendor(Microsoft),product(ODBC) fn ucase(x)*)-- FROM t",
         "SELECT  ucase(x) FROM t"},
        {"--(*vendor(Microsoft), product(ODBC) fn concat(a, b) *)--", " concat(a, b) "},
        {"--(*vendor(Microsoft),product(ODBC) d '2012-03-04'*)--", "'2012/03/04'"},
        {"--(* fn ucase(x)*)--", " ucase(x)"},
        // The vendor prefix belongs to the long form only.
        {"{vendor(Microsoft),product(ODBC) fn ucase(x)}",
         "{vendor(Microsoft),product(ODBC) fn ucase(x)}"},
        {"SELECT a --* b", "SELECT a --* b"},
    });
}

TEST(EscapeTranslate, OuterJoins) {
    RunCases({
        // The server takes LEFT OUTER and INNER joins as they are; a WHERE after them
        // stays a WHERE.
        {"SELECT * FROM {oj a LEFT OUTER JOIN b ON a.k = b.k} WHERE a.x = 1",
         "SELECT * FROM a LEFT OUTER JOIN b ON a.k = b.k WHERE a.x = 1"},
        {"SELECT * FROM {oj a INNER JOIN b ON a.k = b.k}",
         "SELECT * FROM a INNER JOIN b ON a.k = b.k"},
        {"SELECT * FROM {oj a FULL OUTER JOIN b ON a.k = b.k}",
         "SELECT * FROM a FULL OUTER JOIN b ON a.k = b.k"},
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON a.k = b.k}",
         "SELECT * FROM a, b WHERE ( a.k (+) = b.k ) "},
        // The left table's columns are marked whichever side they stand on, in every
        // comparison, and a following WHERE joins as a closed group.
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON b.k = a.k AND b.j = a.j} WHERE a.x = 1 ORDER BY 1",
         "SELECT * FROM a, b WHERE ( b.k = a.k (+) AND b.j = a.j (+) ) AND ( a.x = 1 ) ORDER BY 1"},
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON a.k = b.k} WHERE a.x = 1 OR a.y = 2",
         "SELECT * FROM a, b WHERE ( a.k (+) = b.k ) AND ( a.x = 1 OR a.y = 2 )"},
        {"SELECT * FROM {oj PUB.emp e RIGHT OUTER JOIN dept d ON d.id = e.dept}",
         "SELECT * FROM PUB.emp e, dept d WHERE ( d.id = e.dept (+) ) "},
        {"SELECT * FROM {oj emp RIGHT OUTER JOIN dept ON dept.id = PUB.emp.dept}",
         "SELECT * FROM emp, dept WHERE ( dept.id = PUB.emp.dept (+) ) "},
        // Unqualified columns: the operand written first, unless it is the right table's.
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON k1 = k2}",
         "SELECT * FROM a, b WHERE ( k1 (+) = k2 ) "},
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON b.k = k2}",
         "SELECT * FROM a, b WHERE ( b.k = k2 (+) ) "},
        {"SELECT * FROM t WHERE x IN (SELECT a.k FROM {oj a RIGHT OUTER JOIN b ON a.k = b.k} "
         "WHERE a.z = ')') ORDER BY 1",
         "SELECT * FROM t WHERE x IN (SELECT a.k FROM a, b WHERE ( a.k (+) = b.k ) "
         "AND ( a.z = ')' )) ORDER BY 1"},
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON a.k = b.k} WHERE a.d = {d '2012-03-04'};",
         "SELECT * FROM a, b WHERE ( a.k (+) = b.k ) AND ( a.d = '2012/03/04' );"},
        // A chain of joins is not rewritten.
        {"SELECT * FROM {oj a RIGHT OUTER JOIN b ON a.k = b.k RIGHT OUTER JOIN c ON b.k = c.k}",
         "SELECT * FROM a RIGHT OUTER JOIN b ON a.k = b.k RIGHT OUTER JOIN c ON b.k = c.k"},
    });
}

TEST(SqlText, RecordAndClassification) {
    struct {
        const char* in;
        int16_t kind;
    } cases[] = {
        {"  \n SELECT 1", SQLT_KIND_SELECT},
        {"((select 1)) UNION (SELECT 2)", SQLT_KIND_SELECT},
        {"insert into t values (1)", SQLT_KIND_DML},
        {"Update t set a = 1", SQLT_KIND_DML},
        {"DELETE FROM t", SQLT_KIND_DML},
        {"{call p}", SQLT_KIND_OTHER},
        {"CREATE TABLE t (a INT)", SQLT_KIND_OTHER},
        {"", SQLT_KIND_OTHER},
    };
    for (const auto& c : cases) {
        OA_SQLTEXT rec;
        ASSERT_EQ(ut_SqlTextTranslate(nullptr, &rec, c.in), 0);
        EXPECT_EQ(rec.kind, c.kind) << c.in;
    }

    OA_SQLTEXT rec;
    db_EscContext ctx;
    ASSERT_EQ(ut_SqlTextTranslate(&ctx, &rec, "   SELECT {fn ucase(a)} FROM t WHERE b = ?"), 0);
    EXPECT_STREQ(rec.text, "SELECT {fn ucase(a)} FROM t WHERE b = ?");
    EXPECT_STREQ(rec.translated, "SELECT  ucase(a) FROM t WHERE b = ?");
    // A second translation into the same record replaces what it held.
    ASSERT_EQ(ut_SqlTextTranslate(&ctx, &rec, "DELETE FROM t"), 0);
    EXPECT_EQ(rec.flags, 0);
    EXPECT_EQ(rec.paramCount, 0u);
    EXPECT_EQ(rec.kind, SQLT_KIND_DML);
    ut_SqlTextFree(&rec);
    EXPECT_EQ(rec.text, nullptr);
    EXPECT_EQ(rec.translated, nullptr);
    EXPECT_EQ(ut_SqlTextClassify(&rec), ERR_GENERAL_ERROR);

    EXPECT_EQ(ut_SqlTextTranslate(&ctx, &rec, nullptr), ERR_GENERAL_ERROR);
    EXPECT_EQ(ut_SqlTextCopy(&rec, nullptr), ERR_GENERAL_ERROR);
}

TEST(SqlText, CopyWithoutTranslationStillCountsMarkers) {
    OA_SQLTEXT rec;
    ASSERT_EQ(ut_SqlTextCopy(&rec, " INSERT INTO t VALUES (?, '?', {fn f(?)})"), 0);
    EXPECT_STREQ(rec.text, "INSERT INTO t VALUES (?, '?', {fn f(?)})");
    EXPECT_STREQ(rec.translated, rec.text);
    EXPECT_NE(rec.translated, rec.text);
    EXPECT_EQ(rec.paramCount, 2u);
    EXPECT_EQ(rec.flags, SQLT_HAS_PARAMS);
    EXPECT_EQ(rec.kind, SQLT_KIND_DML);

    ASSERT_EQ(ut_SqlTextCopy(&rec, "CREATE PROCEDURE p()\nBEGIN\n x = ?;\nEND"), 0);
    EXPECT_EQ(rec.paramCount, 0u);
    EXPECT_EQ(rec.flags, 0);
}

// Both texts are C heap from the agent's heap calls, like every other text the agent hands
// around: a text taken out of the record is released with free() (an allocator mismatch
// shows under the sanitizers), and running out of memory is an error, never an exception.
TEST(SqlText, TextsAreCHeapAndRunningOutIsAnError) {
    for (bool translate : {true, false}) {
        SCOPED_TRACE(translate);
        auto build = [translate](OA_SQLTEXT* rec, const char* text) {
            return translate ? ut_SqlTextTranslate(nullptr, rec, text) : ut_SqlTextCopy(rec, text);
        };
        OA_SQLTEXT rec;
        ASSERT_EQ(build(&rec, "SELECT {fn ucase(a)} FROM t"), 0);
        std::free(rec.text);
        std::free(rec.translated);
        rec.text = rec.translated = nullptr;

        for (long allowed : {0L, 1L}) {   // the first copy fails, or the second
            SCOPED_TRACE(allowed);
            ASSERT_EQ(build(&rec, "SELECT 1"), 0);
            uh_FailAfter(allowed);
            int rc = build(&rec, "SELECT 2");
            uh_FailAfter(-1);
            EXPECT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE);
            EXPECT_EQ(rec.text, nullptr);   // nothing half-made, nothing of the earlier text
            EXPECT_EQ(rec.translated, nullptr);
        }
    }
}

TEST(EscLookup, CaseBlindAndAbsentRows) {
    EXPECT_STREQ(db_EscLookup(db_EscFnTable, "ABS", 3), "abs%");
    EXPECT_STREQ(db_EscLookup(db_EscFnTable, "year", 4), "year%");
    EXPECT_STREQ(db_EscLookup(db_EscFnTable, "Current_Time", 12), "systime%");
    EXPECT_STREQ(db_EscLookup(db_EscFnTable, "ucase(x)", 5), "ucase%");
    EXPECT_EQ(db_EscLookup(db_EscFnTable, "log", 3), nullptr);
    EXPECT_EQ(db_EscLookup(db_EscFnTable, "zzz", 3), nullptr);
    EXPECT_STREQ(db_EscLookup(db_EscConvertTable, "sql_varchar", 11), "convert(SQL_VARCHAR, %)");
    EXPECT_EQ(db_EscLookup(db_EscConvertTable, "SQL_BIGINT", 10), nullptr);
}


// Statement texts made of the pieces the scanner reacts to, cut anywhere: unbalanced
// quotes and braces, escapes cut off at the end, nested and long-form escapes. Every
// one translates, and no marker is invented.
TEST(SqlText, PiecedTextsAlwaysTranslate) {
    static const char* const pieces[] = {
        "{", "}", "'", "\"", "''", "--(*", "*)--", "--*", "fn ", "oj ", "d ", "ts ", "t ", "call ",
        "? = call ", "?", "=", "a RIGHT OUTER JOIN b ON ", "a.k = b.k", " WHERE ", ")", "(", "\r\n",
        "\nBEGIN ", "\nEND ", "@1", "@", "vendor(x),product(y) ", "convert(", ", SQL_CHAR", ",", "2012-03-04",
        "05:06:07.", "ucase(", "\x01", ";", " ORDER BY 1", "x"};
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int iter = 0; iter < 4000; ++iter) {
        std::string in;
        for (uint32_t k = 0, n = 1 + next(14); k < n; ++k)
            in += pieces[next(sizeof pieces / sizeof pieces[0])];
        OA_SQLTEXT rec;
        ASSERT_EQ(ut_SqlTextTranslate(nullptr, &rec, in.c_str()), 0) << in;
        ASSERT_NE(rec.translated, nullptr) << in;
        uint32_t marks = static_cast<uint32_t>(std::count(in.begin(), in.end(), '?'));
        EXPECT_LE(rec.paramCount, marks) << in;
        EXPECT_EQ((rec.flags & SQLT_HAS_PARAMS) != 0, rec.paramCount != 0) << in;
        ASSERT_EQ(ut_SqlTextCopy(&rec, in.c_str()), 0) << in;
        EXPECT_LE(rec.paramCount, marks) << in;
    }
}

}  // namespace
