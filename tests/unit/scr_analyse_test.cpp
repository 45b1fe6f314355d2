// Statement analysis: the clause flags, the readers (FROM tables, select list, ORDER BY
// items) and the edits, with rows for nested queries, names whose text holds separators,
// user text that looks like a template or marker, and ordinals beyond 8 bits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sqlparse/ptree.h"
#include "sqlparse/scr_analyse.h"
#include "tests/unit/sql_text.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

struct Info {
    SCR_STMTINFO info;
    Info() { SCR_StmtInfoInit(&info); }
    ~Info() { SCR_StmtInfoFree(&info); }
    int Analyse(const std::string& sql, int keepCatalog = 0) {
        return SCR_AnalyseSQL(&info, sql.c_str(), 0, keepCatalog);
    }
    std::string Text() const { return Collapsed(info.root != nullptr ? info.root->text : ""); }
    static std::string Collapsed(const std::string& text) { return sqltest::Collapsed(text); }
};

// An owning UT_ARRAY of records.
template <typename T>
struct Array {
    UT_ARRAY* a = ut_ArrayNew(sizeof(T));
    UT_ARRAY_DTOR dtor;
    explicit Array(UT_ARRAY_DTOR d) : dtor(d) {}
    ~Array() { ut_ArrayFree(&a, dtor); }
    T& operator[](uint32_t i) { return static_cast<T*>(a->elements)[i]; }
    uint32_t size() const { return a->count; }
};

TEST(StatementAnalysis, ClauseFlags) {
    const struct {
        const char* sql;
        int rc;
        int rootKind;
        uint32_t flags;
    } cases[] = {
        {"  \n SELECT a FROM t", 0, 74, 0},
        {"SELECT a FROM t1, t2 ORDER BY 1 DESC", 0, 74, SCR_F_ORDER_BY | SCR_F_TABLES},
        {"SELECT COUNT(*) FROM t GROUP BY a", 0, 74, SCR_F_SET_FUNCTION | SCR_F_GROUP_BY},
        {"SELECT * FROM a LEFT OUTER JOIN b ON a.x = b.x", 0, 74, SCR_F_OUTER_JOIN | SCR_F_TABLES},
        {"SELECT * FROM a, b WHERE a.x *= b.x", 0, 74, SCR_F_OUTER_JOIN | SCR_F_TABLES},
        {"SELECT * FROM a INNER JOIN b ON a.x = b.x", 0, 74, SCR_F_TABLES},
        {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1", 0, 74, SCR_F_UNION | SCR_F_ORDER_BY},
        // The clauses of nested queries are not the query's.
        {"SELECT a FROM t WHERE a IN (SELECT b FROM u GROUP BY b)", 0, 74, 0},
        {"SELECT a FROM t WHERE a IN (SELECT b FROM u) GROUP BY a", 0, 74, SCR_F_GROUP_BY},
        {"SELECT * FROM (SELECT a FROM t GROUP BY a) x", 0, 74, 0},
        {"SELECT * FROM (SELECT a FROM t, u) x", 0, 74, 0},
        {"SELECT * FROM (SELECT a FROM t) x, v ORDER BY a", 0, 74, SCR_F_TABLES | SCR_F_ORDER_BY},
        // A set function counts only in the query's own select list.
        {"SELECT a FROM t WHERE b > (SELECT MAX(c) FROM u)", 0, 74, 0},
        {"SELECT a FROM t GROUP BY a HAVING SUM(b) > 1", 0, 74, SCR_F_GROUP_BY},
        {"SELECT a, (SELECT MAX(c) FROM u) FROM t", 0, 74, 0},
        {"SELECT a + SUM(b) FROM t", 0, 74, SCR_F_SET_FUNCTION},
        {"SELECT DISTINCT a FROM t", 0, 74, SCR_F_DISTINCT},
        {"SELECT DISTINCT TOP 3 a FROM t", 0, 74, SCR_F_DISTINCT},
        {"SELECT ALL a FROM t WHERE a IN (SELECT DISTINCT b FROM u)", 0, 74, 0},
        {"SELECT COUNT(DISTINCT a) FROM t", 0, 74, SCR_F_SET_FUNCTION},
        {"UPDATE t SET a = 1", 0, 97, 0},
        {"CALL p", 0, 0, 0},
        {"{call p}", 0, 61, 0},
        {"SELECT a FROM t;", ERR_SYNTAX_ERROR_OR_ACCESS, 0, 0},
        {"", ERR_SYNTAX_ERROR_OR_ACCESS, 0, 0},
        {" \t\n", ERR_SYNTAX_ERROR_OR_ACCESS, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Info i;
        EXPECT_EQ(i.Analyse(c.sql), c.rc);
        EXPECT_EQ(i.info.rootKind, c.rootKind);
        EXPECT_EQ(i.info.flags, c.flags);
    }
}

TEST(StatementAnalysis, KeepsTheTextAndTheParsersError) {
    Info i;
    ASSERT_EQ(i.Analyse("  \n SELECT a FROM t"), 0);
    EXPECT_STREQ(i.info.text, "SELECT a FROM t");
    ASSERT_EQ(i.Analyse("SELECT a FROM t;"), ERR_SYNTAX_ERROR_OR_ACCESS);
    EXPECT_EQ(i.info.root, nullptr);
    EXPECT_STREQ(i.info.errorContext, "SELECT a FROM t;^");
    EXPECT_STREQ(i.info.errorMessage, "syntax error");
    // parse only: the tree, no flags
    ASSERT_EQ(SCR_AnalyseSQL(&i.info, "SELECT a FROM t1, t2 ORDER BY a", 1, 0), 0);
    EXPECT_EQ(i.info.rootKind, 74);
    EXPECT_EQ(i.info.flags, 0u);
}

TEST(StatementAnalysis, TablesComeFromTheNameParts) {
    const struct {
        const char* from;
        int keepCatalog;
        std::vector<std::vector<std::string>> tables;  // catalog, schema, table, alias
    } cases[] = {
        {"cat:own.tab", 1, {{"cat", "own", "tab", ""}}},
        {"cat:own.tab", 0, {{"", "own", "tab", ""}}},
        {"own.tab@\"link\" x", 1, {{"", "own", "tab", "x"}}},
        {"c..t", 1, {{"c", "", "t", ""}}},
        {"c.o.t", 1, {{"c", "o", "t", ""}}},
        {"l @ c:o.t", 1, {{"c", "o", "t", ""}}},
        {"\"a.b\".\"c:d@e\" AS x", 1, {{"", "\"a.b\"", "\"c:d@e\"", "x"}}},
        {"a LEFT JOIN b y ON a.k = y.k, {oj c LEFT OUTER JOIN d ON c.k = d.k}", 0,
         {{"", "", "a", ""}, {"", "", "b", "y"}, {"", "", "c", ""}, {"", "", "d", ""}}},
        {"(SELECT * FROM u, v) d, w", 0, {{"", "", "", "d"}, {"", "", "w", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        Info i;
        ASSERT_EQ(SCR_AnalyseSQL(&i.info, (std::string("SELECT * FROM ") + c.from).c_str(), 1, 0), 0);
        Array<SCR_TABLEREF> tables(SCR_TableRefFree);
        ASSERT_EQ(SCR_TablesGet(&i.info, tables.a, c.keepCatalog), 0);
        ASSERT_EQ(tables.size(), c.tables.size());
        for (uint32_t t = 0; t < tables.size(); ++t) {
            EXPECT_EQ(std::vector<std::string>({tables[t].catalog, tables[t].schema, tables[t].table,
                                                tables[t].alias}),
                      c.tables[t]);
        }
    }
    Info none;
    ASSERT_EQ(none.Analyse("SELECT 1"), 0);
    Array<SCR_TABLEREF> tables(SCR_TableRefFree);
    EXPECT_EQ(SCR_TablesGet(&none.info, tables.a, 0), 0);
    EXPECT_EQ(tables.size(), 0u);
}

TEST(StatementAnalysis, SelectListItemsByShape) {
    const std::string longExpr = "a + " + std::string(600, '1');
    Info i;
    ASSERT_EQ(i.Analyse("SELECT t.*, a, -b, (c), SUM(d), e + f, \"Cust-Num\", x.y.z, '.*', "
                        "(SELECT g FROM u), \"a.b\" AS n, " + longExpr + " FROM t"),
              0);
    Array<SCS_COLDESC> items(SCR_ColDescFree);
    ASSERT_EQ(SCR_SelListGet(&i.info, items.a), 0);
    const struct {
        int32_t kind;
        const char* column;
        const char* table;
        const char* owner;
        const char* text;
    } want[] = {
        {SCS_ITEM_TABLE_STAR, "", "t", "", "t.*"},
        {SCS_ITEM_COLUMN, "a", "", "", "a"},
        {SCS_ITEM_EXPRESSION, "-b", "", "", "-b"},
        {SCS_ITEM_EXPRESSION, "( c )", "", "", "( c )"},
        {SCS_ITEM_EXPRESSION, "SUM( d )", "", "", "SUM( d )"},
        {SCS_ITEM_EXPRESSION, "e + f", "", "", "e + f"},
        {SCS_ITEM_COLUMN, "\"Cust-Num\"", "", "", "\"Cust-Num\""},
        {SCS_ITEM_COLUMN, "z", "y", "x", "x.y.z"},
        {SCS_ITEM_EXPRESSION, "'.*'", "", "", "'.*'"},
        {SCS_ITEM_EXPRESSION, "( SELECT g FROM u )", "", "", nullptr},
        {SCS_ITEM_COLUMN, "\"a.b\"", "", "", "\"a.b\""},
    };
    ASSERT_EQ(items.size(), std::size(want) + 1);
    for (uint32_t k = 0; k < std::size(want); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(items[k].itemKind, want[k].kind);
        EXPECT_EQ(Info::Collapsed(items[k].column), want[k].column);
        EXPECT_STREQ(items[k].table, want[k].table);
        EXPECT_STREQ(items[k].owner, want[k].owner);
        if (want[k].text != nullptr) {
            EXPECT_EQ(Info::Collapsed(items[k].text), want[k].text);
        }
    }
    // A long expression: the name field is cut, the text is whole.
    SCS_COLDESC& last = items[items.size() - 1];
    EXPECT_EQ(last.itemKind, SCS_ITEM_EXPRESSION);
    EXPECT_EQ(std::strlen(last.column), size_t{SCS_NAME_LEN - 1});
    EXPECT_EQ(std::string(last.text), longExpr);

    Info star;
    ASSERT_EQ(star.Analyse("SELECT * FROM t"), 0);
    Array<SCS_COLDESC> one(SCR_ColDescFree);
    ASSERT_EQ(SCR_SelListGet(&star.info, one.a), 0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].itemKind, SCS_ITEM_STAR);
}

TEST(StatementAnalysis, OrderByItemsAndTheirResolution) {
    Info i;
    ASSERT_EQ(i.Analyse("SELECT a, b FROM t ORDER BY 1 DESC, t.b, 257"), 0);
    Array<SCS_SELCOLDESC> items(SCR_SelColDescFree);
    ASSERT_EQ(SCR_OrderByGet(&i.info, items.a), 0);
    EXPECT_NE(i.info.flags & SCR_F_ORDINALS, 0u);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].descending, 1);
    EXPECT_EQ(items[0].ordinal, 1);
    EXPECT_EQ(items[1].ordinal, 0);
    EXPECT_STREQ(items[1].col.column, "b");
    EXPECT_STREQ(items[1].col.table, "t");
    EXPECT_STREQ(items[1].col.text, "t.b");  // what a seek query is built from
    EXPECT_EQ(items[2].ordinal, 257);

    // The cursor library fills the ordinals' item texts; 257 is not 1.
    Array<SCS_SELCOLDESC> resolved(SCR_SelColDescFree);
    for (auto [ordinal, text] : {std::pair{1, "a"}, std::pair{257, "z"}}) {
        SCS_SELCOLDESC r{};
        r.ordinal = ordinal;
        r.col.text = strdup(text);
        ut_ArrayAppend(resolved.a, &r);
    }
    ASSERT_EQ(SCR_OrderByResolve(&i.info, resolved.a), 0);
    EXPECT_EQ(i.Text(), "SELECT a, b FROM t ORDER BY a DESC, t.b, z");

    Info missing;
    ASSERT_EQ(missing.Analyse("SELECT a FROM t ORDER BY 2"), 0);
    EXPECT_EQ(SCR_OrderByResolve(&missing.info, resolved.a), ERR_GENERAL_ERROR);
    Array<SCS_SELCOLDESC> empty(SCR_SelColDescFree);
    EXPECT_EQ(SCR_OrderByResolve(&missing.info, empty.a), 0);
    EXPECT_EQ(SCR_OrderByResolve(&missing.info, nullptr), ERR_GENERAL_ERROR);
    Info noOrder;
    ASSERT_EQ(noOrder.Analyse("SELECT a FROM t"), 0);
    EXPECT_EQ(SCR_OrderByGet(&noOrder.info, items.a), ERR_GENERAL_ERROR);
    EXPECT_EQ(SCR_OrderByReverse(&noOrder.info), ERR_GENERAL_ERROR);
}

TEST(StatementAnalysis, EditsSpliceTheCursorLibrarysSql) {
    using Edit = int (*)(SCR_STMTINFO*, const char*);
    const struct {
        const char* sql;
        Edit edit;
        const char* fragment;
        const char* text;
        uint32_t flags;  // of SCR_F_WHERE and SCR_F_ORDER_BY, after the edit
    } cases[] = {
        {"SELECT a, b FROM t WHERE c = 1", SCR_SelListSet, "k1, k2", "SELECT k1, k2 FROM t WHERE c = 1", 0},
        {"SELECT a FROM t WHERE b = 1 OR c = 2", SCR_WhereAdd, "k = ?",
         "SELECT a FROM t WHERE k = ? AND (b = 1 OR c = 2)", SCR_F_WHERE},
        {"SELECT a FROM t ORDER BY a", SCR_WhereAdd, "k = ?", "SELECT a FROM t WHERE k = ? ORDER BY a",
         SCR_F_ORDER_BY},
        // The query's own clause, not a derived table's or a subquery's.
        {"SELECT * FROM (SELECT a FROM t WHERE a = 1) x", SCR_WhereAdd, "k = ?",
         "SELECT * FROM ( SELECT a FROM t WHERE a = 1 ) x WHERE k = ?", 0},
        {"SELECT a FROM t ORDER BY a", SCR_OrderByAdd, "k", "SELECT a FROM t ORDER BY a, k", SCR_F_ORDER_BY},
        {"SELECT a FROM t", SCR_OrderByAdd, "k", "SELECT a FROM t ORDER BY k", 0},
        {"SELECT a FROM t UNION SELECT b FROM u ORDER BY 1", SCR_OrderByAdd, "k",
         "SELECT a FROM t UNION SELECT b FROM u ORDER BY 1, k", SCR_F_ORDER_BY},
        {"SELECT * FROM (SELECT a FROM t) x", SCR_OrderByAdd, "k",
         "SELECT * FROM ( SELECT a FROM t ) x ORDER BY k", 0},
        // User text that looks like a template escape or a marker stays text.
        {"SELECT a FROM t WHERE b = '\x01\x01\x01\xFF\x01\x01'", SCR_WhereAdd, "k = ?",
         "SELECT a FROM t WHERE k = ? AND (b = '\x01\x01\x01\xFF\x01\x01')", SCR_F_WHERE},
        {"SELECT '\xFF\x01\x02' FROM t", SCR_OrderByAdd, "k", "SELECT '\xFF\x01\x02' FROM t ORDER BY k", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Info i;
        ASSERT_EQ(i.Analyse(c.sql), 0);
        ASSERT_EQ(c.edit(&i.info, c.fragment), 0);
        EXPECT_EQ(i.Text(), c.text);
        EXPECT_EQ(i.info.flags & (SCR_F_WHERE | SCR_F_ORDER_BY), c.flags);
    }
    Info update;
    ASSERT_EQ(update.Analyse("UPDATE t SET a = 1"), 0);
    EXPECT_EQ(SCR_WhereAdd(&update.info, "k = 1"), ERR_GENERAL_ERROR);
    EXPECT_EQ(SCR_SelListSet(&update.info, "k"), ERR_GENERAL_ERROR);
}

TEST(StatementAnalysis, OrderByReverseFlipsAndRestores) {
    Info i;
    ASSERT_EQ(i.Analyse("SELECT a, b FROM t ORDER BY a, b DESC, 1 ASC"), 0);
    ASSERT_EQ(SCR_OrderByReverse(&i.info), 0);
    EXPECT_EQ(i.Text(), "SELECT a, b FROM t ORDER BY a DESC, b, 1 DESC");
    ASSERT_EQ(SCR_OrderByReverse(&i.info), 0);
    EXPECT_EQ(i.Text(), "SELECT a, b FROM t ORDER BY a, b DESC, 1");  // ASC comes back as none
}

TEST(StatementAnalysis, NodeSearches) {
    Info i;
    ASSERT_EQ(i.Analyse("SELECT a FROM t WHERE b = (SELECT c FROM u)"), 0);
    Array<PT_NODE*> refs(nullptr);
    ASSERT_EQ(SCR_NodesCollect(11, i.info.root, refs.a), 0);
    ASSERT_EQ(refs.size(), 3u);  // a, b and the subquery's c: the generic search descends
    EXPECT_STREQ(PT_NodeText(refs[2]), "c");
    PT_NODE* from = i.info.root;
    EXPECT_EQ(SCR_NodeFindFrom(85, &from), from);
    ASSERT_NE(from, nullptr);
    EXPECT_EQ(from->kind, 85);
    PT_NODE* none = i.info.root;
    EXPECT_EQ(SCR_NodeFindFrom(18, &none), nullptr);
    EXPECT_EQ(none, nullptr);
}

// Memory failing at each allocation in turn through an analysis, its readers and an edit:
// every step reports 16 or succeeds, and nothing leaks (the sanitizer build checks).
TEST(StatementAnalysis, OutOfMemoryAtEveryStepIsReported) {
    for (long n = 0;; ++n) {
        uh_FailAfter(n);
        Info i;
        int rc = i.Analyse("SELECT t.*, a + 1, b FROM o.t x, u WHERE c = 1 ORDER BY 2 DESC, b");
        Array<SCS_COLDESC> items(SCR_ColDescFree);
        Array<SCS_SELCOLDESC> order(SCR_SelColDescFree);
        if (rc == 0 && items.a != nullptr)
            rc = SCR_SelListGet(&i.info, items.a);
        if (rc == 0 && order.a != nullptr)
            rc = SCR_OrderByGet(&i.info, order.a);
        if (rc == 0)
            rc = SCR_WhereAdd(&i.info, "k = ?");
        bool arrays = items.a != nullptr && order.a != nullptr;
        uh_FailAfter(-1);
        if (rc == 0 && arrays) {
            EXPECT_EQ(i.Text(), "SELECT t.*, a + 1, b FROM o.t x, u WHERE k = ? AND (c = 1) ORDER BY 2 DESC, b");
            break;
        }
        EXPECT_TRUE(rc == 0 || rc == ERR_MEMORY_ALLOCATION_FAILURE) << n << " " << rc;
        ASSERT_LT(n, 100000);
    }
}

}  // namespace

namespace {

// The edits the keyset queries make: columns read beside the application's, TOP dropped,
// and where the application's markers stand around the head of the WHERE clause.
TEST(StatementAnalysis, KeysetEditsAndMarkerLayout) {
    const struct {
        const char* sql;
        const char* appended;
        const char* withoutTop;
        uint32_t inSelectList, inFrom, total;
    } cases[] = {
        {"SELECT a, ? FROM t WHERE b = ?", "SELECT a, ?, k FROM t WHERE b = ?", "SELECT a, ? FROM t WHERE b = ?", 1, 0,
         2},
        {"SELECT * FROM t", "SELECT *, k FROM t", "SELECT * FROM t", 0, 0, 0},
        {"SELECT TOP 3 a FROM t ORDER BY a", "SELECT TOP 3 a, k FROM t ORDER BY a", "SELECT a FROM t ORDER BY a", 0, 0,
         0},
        {"SELECT DISTINCT TOP 3 a FROM t", "SELECT DISTINCT TOP 3 a, k FROM t", "SELECT DISTINCT a FROM t", 0, 0, 0},
        {"SELECT a FROM t INNER JOIN u ON t.x = u.x + ? WHERE a IN (SELECT ? FROM v) AND b = ?",
         "SELECT a, k FROM t INNER JOIN u ON t.x = u.x + ? WHERE a IN ( SELECT ? FROM v ) AND b = ?",
         "SELECT a FROM t INNER JOIN u ON t.x = u.x + ? WHERE a IN ( SELECT ? FROM v ) AND b = ?", 0, 1, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Info i;
        ASSERT_EQ(i.Analyse(c.sql), 0);
        SCR_MARKERS m{};
        ASSERT_EQ(SCR_MarkerLayout(&i.info, &m), 0);
        EXPECT_EQ(m.inSelectList, c.inSelectList);
        EXPECT_EQ(m.inFrom, c.inFrom);
        EXPECT_EQ(m.total, c.total);
        ASSERT_EQ(SCR_TopDrop(&i.info), 0);
        EXPECT_EQ(i.Text(), c.withoutTop);
        Info j;
        ASSERT_EQ(j.Analyse(c.sql), 0);
        ASSERT_EQ(SCR_SelListAppend(&j.info, "k"), 0);
        EXPECT_EQ(j.Text(), c.appended);
    }
}

}  // namespace
