// Table and select-list descriptors: the identifier rules as tables of cases, then against
// the embedded server the FROM tables resolved through the catalog, the select list
// expanded, completed and rewritten (the rewritten text prepared by the server), the ORDER BY
// items and key positions, and the describe attributes of a rewritten list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/ks_keycols.h"
#include "scrs/scr_hook.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_desc.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/esql92_fixture.h"
#include "tests/unit/scs_library_fixture.h"
#include "tests/unit/sql_text.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

// ---- Identifiers ---------------------------------------------------------------------------

TEST(ScsDescIdent, NormalizeFoldsAndQuotesByTheCases) {
    const struct {
        const char* text;
        char quote;
        uint16_t identCase, quotedCase;
        bool wide, mayQuote;
        const char* want;
    } cases[] = {
        // Bare names: folded by the identifier case, quoted unless the server folds bare
        // names and compares quoted ones otherwise.
        {"aBc", '"', 1, 1, false, true, "\"ABC\""},
        {"aBc", '"', 1, 2, false, true, "ABC"},
        {"aBc", '"', 2, 1, false, true, "abc"},
        {"aBc", '"', 2, 2, false, true, "\"abc\""},
        {"aBc", '"', 3, 3, false, true, "\"aBc\""},
        {"aBc", '"', 3, 4, false, true, "aBc"},
        {"aBc", '"', 4, 4, false, true, "\"aBc\""},
        {"aBc", '"', 4, 4, false, false, "aBc"},
        {"aBc", 0, 1, 1, false, true, "ABC"},
        // Quoted names: unquoted, folded by the quoted case, quoted again.
        {"\"aBc\"", '"', 1, 3, false, true, "\"aBc\""},
        {"\"aBc\"", '"', 3, 1, false, true, "\"ABC\""},
        {"\"aBc\"", '"', 1, 2, false, true, "\"abc\""},
        {"\"aBc\"", '"', 1, 2, false, false, "abc"},
        {"\"a\"\"b\"", '"', 4, 4, false, true, "\"a\"\"b\""},
        {"\"aBc\"", 0, 1, 1, false, true, "\"ABC\""},  // no quote character: just text
        // A lone quote is a one-character name, not an empty quoted one.
        {"\"", '"', 4, 4, false, true, "\"\"\"\""},
        {"\"", '"', 4, 4, false, false, "\""},
        {"", '"', 1, 1, false, true, ""},
        // UTF-8 folds with the wide flag; narrow text folds ASCII letters only.
        {"\xC3\xA9mile", '"', 1, 1, true, true, "\"\xC3\x89MILE\""},
        {"\xC3\xA9mile", '"', 1, 1, false, true, "\"\xC3\xA9MILE\""},
        {"\"\xC3\x89MILE\"", '"', 4, 2, true, true, "\"\xC3\xA9mile\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + std::to_string(c.identCase) + "/" + std::to_string(c.quotedCase));
        EXPECT_EQ(scs_p_IdentNormalize(c.text, c.quote, c.quotedCase, c.identCase, c.wide, c.mayQuote), c.want);
    }
}

TEST(ScsDescIdent, EqualComparesEachNameByItsOwnCase) {
    const struct {
        const char* a;
        const char* b;
        uint16_t identCase, quotedCase;
        bool wide;
        bool want;
    } cases[] = {
        {"abc", "ABC", 1, 1, false, true},
        {"abc", "ABC", 2, 2, false, true},
        {"abc", "ABC", 3, 3, false, false},
        {"abc", "ABC", 4, 4, false, true},
        {"\"abc\"", "ABC", 1, 2, false, false},  // quoted folds lower, bare upper
        {"\"ABC\"", "abc", 2, 1, false, false},
        {"\"abc\"", "abc", 2, 1, false, false},
        {"\"abc\"", "ABC", 1, 3, false, false},
        {"\"ABC\"", "abc", 1, 3, false, true},
        {"\"abc\"", "ABC", 4, 4, false, true},
        {"\"abc\"", "abc", 3, 3, false, true},
        {"\"", "\"", 4, 4, false, true},
        {"\"", "\"\"", 4, 4, false, false},
        {"", "", 4, 4, false, false},
        {"abc", "", 4, 4, false, false},
        {"\xC3\xA9mile", "\xC3\x89MILE", 4, 4, true, true},
        {"\xC3\xA9mile", "\xC3\x89MILE", 4, 4, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b + " " + std::to_string(c.identCase) + "/" +
                     std::to_string(c.quotedCase));
        EXPECT_EQ(scs_p_IdentEqual(c.a, c.b, '"', c.quotedCase, c.identCase, c.wide), c.want);
        EXPECT_EQ(scs_p_IdentEqual(c.b, c.a, '"', c.quotedCase, c.identCase, c.wide), c.want);
    }
}

TEST(ScsDescIdent, OnlyOraclePseudoColumnsStayBare) {
    const struct {
        const char* column;
        const char* dbms;
        bool quotable;
    } cases[] = {
        {"ROWID", "Oracle", false},    {"rownum", "ORACLE8", false}, {"T_ROWID", "oracle", false},
        {"ROWID", "PROGRESS", true},   {"NAME", "Oracle", true},     {"ROWID", "", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scs_p_IsPseudoColumnQuotable(c.column, c.dbms), c.quotable) << c.column << " on " << c.dbms;
}

SCS_COLDESC Col(const char* column, const char* table = "", const char* owner = "", const char* alias = "",
                int32_t sqlType = 4) {
    SCS_COLDESC d{};
    std::strcpy(d.column, column);
    std::strcpy(d.table, table);
    std::strcpy(d.owner, owner);
    std::strcpy(d.alias, alias);
    d.sqlType = sqlType;
    d.itemKind = SCS_ITEM_COLUMN;
    return d;
}

TEST(ScsDescNames, QualifiedColumnNamesNeedATableOnlyInAJoin) {
    const struct {
        uint32_t tables;
        SCS_COLDESC col;
        const char* want;
    } cases[] = {
        {1, Col("\"K\"", "\"T\"", "\"PUB\"", "x"), "\"K\""},
        {2, Col("\"K\"", "\"T\"", "\"PUB\"", "x"), "x.\"K\""},
        {2, Col("\"K\"", "\"T\"", "\"PUB\""), "\"PUB\".\"T\".\"K\""},
        {2, Col("\"K\"", "\"T\""), "\"T\".\"K\""},
        {2, Col("\"K\""), "\"K\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scs_QualifiedColName(c.tables, c.col), c.want);
}

TEST(ScsDescParams, KeyColumnsBecomeInputParametersOfTheMatchingCType) {
    const struct {
        int32_t sqlType;
        int16_t cType;
    } cases[] = {
        {4, 4},   {5, 5},   {7, 7},   {9, 9},   {10, 10}, {11, 11}, {91, 91}, {92, 92}, {93, 93},
        {-7, -7}, {-6, -6}, {6, 8},   {8, 8},   {-10, -8}, {-9, -8}, {-8, -8}, {-4, -2}, {-3, -2},
        {-2, -2}, {1, 1},   {12, 1},  {-1, 1},  {2, 1},   {3, 1},   {-5, 1},
    };
    for (const auto& c : cases) {
        SCS_COLDESC col = Col("\"K\"", "", "", "", c.sqlType);
        col.columnSize = 12;
        col.decimalDigits = 3;
        const PARAM_DESC d = scs_ParamDescFromColDesc(col);
        EXPECT_EQ(d.sqlType, c.sqlType);
        EXPECT_EQ(d.cType, c.cType) << "SQL type " << c.sqlType;
        EXPECT_EQ(d.columnSize, 12);
        EXPECT_EQ(d.scale, 3);
        EXPECT_EQ(d.paramType, 1);
    }
}

TEST(ScsDescParams, AddedDescriptionsFollowTheOldAndPrecedeTheApplications) {
    SCS_STMT cur;
    PARAM_DESC old{};
    old.sqlType = 93;
    cur.paramDescs = {old};
    PARAM_DESC user{};
    user.sqlType = -9;
    cur.userParamDescs = {user};
    const SCS_COLDESC keys[] = {Col("\"A\"", "", "", "", 4), Col("\"B\"", "", "", "", 12)};
    ASSERT_EQ(scs_AddParamDescs(&cur, keys, 2, true), 0);
    ASSERT_EQ(cur.paramDescs.size(), 4u);
    EXPECT_EQ(cur.paramDescs[0].sqlType, 93);
    EXPECT_EQ(cur.paramDescs[1].sqlType, 4);
    EXPECT_EQ(cur.paramDescs[2].cType, 1);
    EXPECT_EQ(cur.paramDescs[3].sqlType, -9);
    ASSERT_EQ(scs_AddParamDescs(&cur, keys, 1, false), 0);
    EXPECT_EQ(cur.paramDescs.size(), 5u);
}

// ---- Against the embedded server --------------------------------------------------------------

// The agent's table with some slots replaced, between the library and the agent while it lives.
class AgentWith {
public:
    AgentWith() : table_(OA_AgentOpTable) {}
    ~AgentWith() {
        if (installed_)
            SCR_SetAgentTable(before_);
    }
    AgentWith(const AgentWith&) = delete;
    AgentWith& operator=(const AgentWith&) = delete;
    OA_OPTABLE& table() { return table_; }
    void Install() {
        before_ = SCR_SetAgentTable(&table_);
        installed_ = true;
    }

private:
    OA_OPTABLE table_;
    const OA_OPTABLE* before_ = nullptr;
    bool installed_ = false;
};

// A catalog whose SQLTables ignores the owner and the pattern escape, so that ORDER\_LINE
// finds ORDERXLINE too under any owner; it keeps the owners it was asked with.
std::vector<std::string> g_ownersAsked;
int TablesIgnoringEscapes(uint32_t stmt, const OA_CATARGS* args) {
    g_ownersAsked.push_back(args->names[1] != nullptr ? args->names[1] : "(null)");
    std::string table;
    for (const char* p = args->names[2]; *p != '\0'; ++p)
        if (*p != '\\')
            table += *p;
    OA_CATARGS loose = *args;
    loose.names[1] = "%";
    loose.names[2] = table.c_str();
    return OA_AgentOpTable.DRV_DDTables(stmt, &loose);
}

// A catalog that calls the column NOTE a long text (the embedded server has no long types).
int FetchWithLongNote(uint32_t stmt, uint16_t rows, DATASET* block) {
    int rc = OA_AgentOpTable.DRV_Fetch(stmt, rows, block);
    if (rc != 0 || block->colsUsed < 9 || block->cols[3].type != DS_CHARZ || block->cols[4].type != DS_SSHORT)
        return rc;
    for (int32_t r = 0; r < block->rowsUsed; ++r) {
        if (std::strcmp(reinterpret_cast<const char*>(ds_Elem(&block->cols[3], r)), "NOTE") == 0) {
            const int16_t longText = -1;
            std::memcpy(ds_Elem(&block->cols[4], r), &longText, sizeof longText);
        }
    }
    return rc;
}

using sqltest::Collapsed;

// A descriptor as "<alias or table>.<column>", an expression as "expr <text>".
std::string Named(const SCS_COLDESC& d) {
    if (d.itemKind == SCS_ITEM_EXPRESSION)
        return std::string("expr ") + (d.text != nullptr ? d.text : d.column);
    return std::string(d.alias[0] != '\0' ? d.alias : d.table) + "." + d.column;
}

std::vector<std::string> NamesOf(const UT_ARRAY* a) {
    std::vector<std::string> out;
    for (uint32_t i = 0; a != nullptr && i < a->count; ++i)
        out.push_back(Named(static_cast<const SCS_COLDESC*>(a->elements)[i]));
    return out;
}

class ScsDesc : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        for (const char* ddl : {
                 "CREATE TABLE ORDER_LINE (ORDER_ID INTEGER NOT NULL, LINE_NO INTEGER NOT NULL, QTY NUMERIC(10,2),"
                 " NOTE VARCHAR(40), PRIMARY KEY (ORDER_ID, LINE_NO))",
                 "CREATE TABLE ORDERXLINE (ID INTEGER)",
                 "CREATE TABLE CUSTOMER (CUST_ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))",
                 "CREATE TABLE \"Mixed Case\" (\"Key\" INTEGER NOT NULL, val VARCHAR(10))",
             })
            ASSERT_EQ(lib->DRV_PrepareAndExecute(stmt, ddl, nullptr, 0, nullptr), 0) << ddl;
    }
    void TearDown() override {
        // The statement's free takes its keyset descriptor with it.
        ut_ArrayFree(&unexpanded, SCR_ColDescFree);
        LibraryTest::TearDown();
    }

    // Analyses the query and reads its FROM tables, as cursor preparation does.
    void Analyse(const char* sql) {
        scs_CursorClearAnalysis(cur);
        ut_ArrayFree(&unexpanded, SCR_ColDescFree);
        cur->text = sql;
        ASSERT_EQ(SCR_AnalyseSQL(&cur->analysis, sql, 0, 0), 0) << sql;
        cur->clauseFlags = static_cast<uint16_t>(cur->analysis.flags);
        cur->fromTables = ut_ArrayNew(sizeof(SCR_TABLEREF));
        ASSERT_EQ(SCR_TablesGet(&cur->analysis, cur->fromTables, 0), 0) << sql;
    }
    int Resolve(const char* sql) {
        Analyse(sql);
        return scs_p_GetTblDescs(cur, cur->fromTables);
    }
    // The tables resolved, their columns read and the select list expanded and completed.
    int Expand(const char* sql) {
        if (int rc = Resolve(sql); rc != 0)
            return rc;
        cur->tableCols = ut_ArrayNew(sizeof(SCS_COLDESC));
        if (int rc = scs_p_GetTblColDescs(cur, cur->fromTables, false, cur->tableCols); rc != 0)
            return rc;
        cur->selectCols = ut_ArrayNew(sizeof(SCS_COLDESC));
        if (int rc = scs_p_SelectColsGet(cur, cur->selectCols, &unexpanded); rc != 0)
            return rc;
        return scs_p_SelectCol_ColDescComplete(cur);
    }
    // A key column as key discovery leaves it: names quoted as the catalog has them.
    void AddKey(const char* column, const char* table, int32_t sqlType = 4) {
        if (cur->keyset == nullptr) {
            cur->keyset = new KSD;
            cur->keyset->keyCols = ut_ArrayNew(sizeof(SCS_COLDESC));
        }
        SCS_COLDESC k = Col(column, table, "\"PUB\"", "", sqlType);
        ASSERT_EQ(ut_ArrayAppend(cur->keyset->keyCols, &k), 1);
        cur->keyset->fromTableCount = static_cast<uint8_t>(cur->fromTables != nullptr ? cur->fromTables->count : 1);
    }
    const SCS_COLDESC& Key(uint32_t i) { return static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements)[i]; }
    const SCR_TABLEREF& Table(uint32_t i) { return static_cast<const SCR_TABLEREF*>(cur->fromTables->elements)[i]; }
    const SCS_SELCOLDESC& Order(uint32_t i) { return static_cast<const SCS_SELCOLDESC*>(cur->orderBy->elements)[i]; }
    int PrepareOnAgent(const std::string& sql) { return cur->agent->ops->DRV_Prepare(stmt, sql.c_str()); }
    std::vector<std::string> Errors() {
        OA_ERRTEXTS texts{};
        std::vector<std::string> out;
        if (lib->DRV_GetErrors(stmt, &texts) == 0) {
            for (int32_t i = 0; i < texts.count; ++i)
                out.push_back(texts.texts[i]);
            if (texts.release != nullptr)
                texts.release(&texts);
        }
        return out;
    }

    UT_ARRAY* unexpanded = nullptr;
};

TEST_F(ScsDesc, TheServerComparesNamesWithoutCaseAndQuotesWithDoubleQuotes) {
    // Every rule below leans on these answers: bare and quoted names alike are mixed case.
    EXPECT_EQ(cur->identQuote, '"');
    EXPECT_EQ(cur->identCase, SCS_CASE_MIXED);
    EXPECT_EQ(cur->quotedIdentCase, SCS_CASE_MIXED);
    EXPECT_EQ(cur->userName, "alice");
}

TEST_F(ScsDesc, FromTablesResolveToTheCatalogsQuotedNames) {
    const struct {
        const char* sql;
        std::vector<std::string> tables;  // "schema table alias" per FROM table
    } cases[] = {
        {"SELECT * FROM order_line", {"\"PUB\" \"ORDER_LINE\" "}},
        {"SELECT * FROM pub.Order_Line ol", {"\"PUB\" \"ORDER_LINE\" ol"}},
        {"SELECT * FROM \"Mixed Case\"", {"\"PUB\" \"Mixed Case\" "}},
        {"SELECT * FROM \"mixed case\" m", {"\"PUB\" \"Mixed Case\" m"}},
        // The "_" of a name matches itself only: the look-alike table is not a duplicate.
        {"SELECT * FROM ORDER_LINE, ORDERXLINE x", {"\"PUB\" \"ORDER_LINE\" ", "\"PUB\" \"ORDERXLINE\" x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(Resolve(c.sql), 0);
        std::vector<std::string> got;
        for (uint32_t i = 0; i < cur->fromTables->count; ++i)
            got.push_back(std::string(Table(i).schema) + " " + Table(i).table + " " + Table(i).alias);
        EXPECT_EQ(got, c.tables);
    }
}

TEST_F(ScsDesc, TablesThatCannotBeResolvedAreRefused) {
    const struct {
        const char* sql;
        int rc;
    } cases[] = {
        {"SELECT * FROM ORDER_LINES", ERR_TABLE_OR_VIEW_NOT_FOUND},
        {"SELECT * FROM bob.ORDER_LINE", ERR_TABLE_OR_VIEW_NOT_FOUND},
        {"SELECT * FROM CUSTOMER, nowhere", ERR_TABLE_OR_VIEW_NOT_FOUND},
        // A derived table has no catalog entry, and no name to ask for.
        {"SELECT * FROM (SELECT NAME FROM CUSTOMER) d", ERR_GENERAL_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Errors();
        EXPECT_EQ(Resolve(c.sql), c.rc);
        if (c.rc == ERR_TABLE_OR_VIEW_NOT_FOUND) {
            const std::vector<std::string> errors = Errors();
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_NE(errors[0].find("42S02"), std::string::npos) << errors[0];
        }
    }
}

TEST_F(ScsDesc, ADuplicateNameIsTriedWithTheUserAsOwnerThenRefused) {
    AgentWith agent;
    agent.table().DRV_DDTables = TablesIgnoringEscapes;
    agent.Install();
    g_ownersAsked.clear();
    EXPECT_EQ(Resolve("SELECT * FROM ORDER_LINE"), ERR_DUPLICATE_TABLE_NAME_REQUIRE_OWNER_QUALIFIER);
    EXPECT_EQ(g_ownersAsked, (std::vector<std::string>{"%", "alice"}));
    // A given owner has nothing narrower to try.
    g_ownersAsked.clear();
    EXPECT_EQ(Resolve("SELECT * FROM pub.ORDER_LINE"), ERR_DUPLICATE_TABLE_NAME_REQUIRE_OWNER_QUALIFIER);
    EXPECT_EQ(g_ownersAsked, (std::vector<std::string>{"pub"}));
}

TEST_F(ScsDesc, ColumnDescriptorsComeFromTheCatalogWithLongColumnsLeftOutOnRequest) {
    ASSERT_EQ(Resolve("SELECT * FROM order_line ol"), 0);
    UT_ARRAY* cols = ut_ArrayNew(sizeof(SCS_COLDESC));
    ASSERT_EQ(scs_p_GetTblColDescs(cur, cur->fromTables, true, cols), 0);
    ASSERT_EQ(cols->count, 4u);
    const auto* d = static_cast<const SCS_COLDESC*>(cols->elements);
    EXPECT_STREQ(d[0].column, "\"ORDER_ID\"");
    EXPECT_STREQ(d[0].table, "\"ORDER_LINE\"");
    EXPECT_STREQ(d[0].owner, "\"PUB\"");
    EXPECT_STREQ(d[0].alias, "ol");
    EXPECT_EQ(d[0].sqlType, 4);
    EXPECT_EQ(d[0].itemKind, SCS_ITEM_COLUMN);
    EXPECT_STREQ(d[2].column, "\"QTY\"");
    EXPECT_EQ(d[2].sqlType, 2);
    EXPECT_EQ(d[2].columnSize, 10u);
    EXPECT_EQ(d[2].decimalDigits, 2);
    EXPECT_EQ(d[3].sqlType, 12);
    EXPECT_EQ(d[3].decimalDigits, 0);
    ut_ArrayFree(&cols, SCR_ColDescFree);

    AgentWith agent;
    agent.table().DRV_Fetch = FetchWithLongNote;
    agent.Install();
    for (bool skipLong : {true, false}) {
        cols = ut_ArrayNew(sizeof(SCS_COLDESC));
        ASSERT_EQ(scs_p_GetTblColDescs(cur, cur->fromTables, skipLong, cols), 0);
        EXPECT_EQ(NamesOf(cols).back(), skipLong ? "ol.\"QTY\"" : "ol.\"NOTE\"");
        ut_ArrayFree(&cols, SCR_ColDescFree);
    }
}

TEST_F(ScsDesc, TheSelectListIsExpandedAndItsColumnsCompleted) {
    const struct {
        const char* sql;
        int rc;
        std::vector<std::string> cols;
    } cases[] = {
        {"SELECT * FROM customer", 0, {"\"CUSTOMER\".\"CUST_ID\"", "\"CUSTOMER\".\"NAME\""}},
        {"SELECT ol.*, c.name, cust_id + 1 FROM order_line ol, customer c",
         0,
         {"ol.\"ORDER_ID\"", "ol.\"LINE_NO\"", "ol.\"QTY\"", "ol.\"NOTE\"", "c.\"NAME\"", "expr cust_id + 1"}},
        {"SELECT Customer.*, line_no FROM order_line, customer",
         0,
         {"\"CUSTOMER\".\"CUST_ID\"", "\"CUSTOMER\".\"NAME\"", "\"ORDER_LINE\".\"LINE_NO\""}},
        {"SELECT * FROM customer c, \"Mixed Case\"",
         0,
         {"c.\"CUST_ID\"", "c.\"NAME\"", "\"Mixed Case\".\"Key\"", "\"Mixed Case\".\"val\""}},
        // A column the tables do not have keeps its normal form.
        {"SELECT nope FROM customer", 0, {".\"nope\""}},
        {"SELECT x.* FROM customer", ERR_GENERAL_ERROR, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(Expand(c.sql), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(NamesOf(cur->selectCols), c.cols);
        }
    }
    // A name whose normal form no longer fits a field is refused, never cut.
    const std::string longName = "SELECT " + std::string(507, 'n') + " FROM customer";
    EXPECT_EQ(Expand(longName.c_str()), ERR_GENERAL_ERROR);
    // ROWID stays bare on Oracle only.
    ASSERT_EQ(Expand("SELECT rowid FROM customer"), 0);
    EXPECT_EQ(NamesOf(cur->selectCols), (std::vector<std::string>{".\"rowid\""}));
    cur->dbmsName = "Oracle8";
    ASSERT_EQ(Expand("SELECT rowid FROM customer"), 0);
    EXPECT_EQ(NamesOf(cur->selectCols), (std::vector<std::string>{".rowid"}));
}

TEST_F(ScsDesc, TheRewriteWritesOutStarsAndAddsMissingKeyColumns) {
    const struct {
        const char* sql;
        std::vector<std::pair<const char*, const char*>> keys;  // column, table
        bool addKeys;
        const char* rewritten;  // null: left as it is
    } cases[] = {
        // A star names every key column already.
        {"SELECT * FROM customer", {{"\"CUST_ID\"", "\"CUSTOMER\""}}, true,
         "SELECT \"CUST_ID\", \"NAME\" FROM customer"},
        {"SELECT name FROM customer", {{"\"CUST_ID\"", "\"CUSTOMER\""}}, true,
         "SELECT \"NAME\", \"CUST_ID\" FROM customer"},
        {"SELECT name FROM customer", {{"\"CUST_ID\"", "\"CUSTOMER\""}}, false, nullptr},
        {"SELECT cust_id, name FROM customer", {{"\"CUST_ID\"", "\"CUSTOMER\""}}, true, nullptr},
        {"SELECT cust_id + 1 AS n FROM customer", {{"\"CUST_ID\"", "\"CUSTOMER\""}}, true,
         "SELECT cust_id + 1 AS n, \"CUST_ID\" FROM customer"},
        // In a join the added columns are named through their table's alias, or owner and table.
        {"SELECT c.name FROM order_line ol, customer c",
         {{"\"ORDER_ID\"", "\"ORDER_LINE\""}, {"\"LINE_NO\"", "\"ORDER_LINE\""}, {"\"CUST_ID\"", "\"CUSTOMER\""}},
         true, "SELECT c.\"NAME\", ol.\"ORDER_ID\", ol.\"LINE_NO\", c.\"CUST_ID\" FROM order_line ol, customer c"},
        {"SELECT c.*, note FROM order_line, customer c WHERE cust_id = order_id",
         {{"\"ORDER_ID\"", "\"ORDER_LINE\""}, {"\"LINE_NO\"", "\"ORDER_LINE\""}}, true,
         "SELECT c.\"CUST_ID\", c.\"NAME\", \"PUB\".\"ORDER_LINE\".\"NOTE\", \"PUB\".\"ORDER_LINE\".\"ORDER_ID\", "
         "\"PUB\".\"ORDER_LINE\".\"LINE_NO\" FROM order_line, customer c WHERE cust_id = order_id"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(Expand(c.sql), 0);
        for (const auto& [column, table] : c.keys)
            AddKey(column, table);
        const uint32_t before = cur->selectCols->count;
        bool rewritten = true;
        ASSERT_EQ(scs_p_SelListAddKeysnXpandWC(cur, unexpanded, c.addKeys, &rewritten), 0);
        EXPECT_EQ(rewritten, c.rewritten != nullptr);
        if (c.rewritten == nullptr) {
            EXPECT_EQ(cur->text, c.sql);
            EXPECT_EQ(cur->selectCols->count, before);
        } else {
            EXPECT_EQ(Collapsed(cur->text), c.rewritten);
            EXPECT_EQ(PrepareOnAgent(cur->text), 0) << Errors().front();
            // The result columns and the select descriptors stay one to one.
            uint16_t n = 0;
            COLDESC* described = nullptr;
            ASSERT_EQ(cur->agent->ops->DRV_DescribeCols(stmt, &n, &described), 0);
            EXPECT_EQ(n, cur->selectCols->count);
            ds_ColDescFree(described, n);
        }
        if (cur->keyset != nullptr) {
            ut_ArrayFree(&cur->keyset->keyCols, SCR_ColDescFree);
            delete cur->keyset;
            cur->keyset = nullptr;
        }
    }
}

TEST_F(ScsDesc, OrderByOrdinalsTakeTheSelectItemTheyName) {
    const struct {
        const char* sql;
        int rc;
        const char* first;  // the first item: "<alias>|<table>|<owner>|<column>"
        const char* text;   // the statement afterwards
    } cases[] = {
        {"SELECT name, cust_id FROM customer ORDER BY 2 DESC, name", 0, "|\"CUSTOMER\"|\"PUB\"|\"CUST_ID\"",
         "SELECT name, cust_id FROM customer ORDER BY \"CUST_ID\" DESC, name"},
        {"SELECT * FROM customer c ORDER BY 2", 0, "c|\"CUSTOMER\"|\"PUB\"|\"NAME\"",
         "SELECT * FROM customer c ORDER BY \"NAME\""},
        {"SELECT ol.note, c.name FROM order_line ol, customer c ORDER BY 2", 0, "c|\"CUSTOMER\"|\"PUB\"|\"NAME\"",
         "SELECT ol.note, c.name FROM order_line ol, customer c ORDER BY c.\"NAME\""},
        // Named items: a FROM alias moves to the alias field, the table's names take its place.
        {"SELECT c.name FROM customer c ORDER BY c.cust_id", 0, "c|\"CUSTOMER\"|\"PUB\"|\"cust_id\"", nullptr},
        {"SELECT name FROM customer ORDER BY customer.cust_id", 0, "|\"customer\"||\"cust_id\"", nullptr},
        {"SELECT name, cust_id FROM customer ORDER BY 3", ERR_SYNTAX_ERROR_OR_ACCESS, nullptr, nullptr},
        {"SELECT name, cust_id FROM customer ORDER BY 0", ERR_SYNTAX_ERROR_OR_ACCESS, nullptr, nullptr},
        {"SELECT cust_id + 1, name FROM customer ORDER BY 1", ERR_ORDERING_ON_AN_EXPRESSION_IS_NOT, nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(Resolve(c.sql), 0);
        EXPECT_EQ(scs_p_OrderByDescsGet(cur), c.rc);
        if (c.rc != 0)
            continue;
        EXPECT_NE(cur->clauseFlags & SCR_F_ORDER_BY, 0);
        const SCS_COLDESC& f = Order(0).col;
        EXPECT_EQ(std::string(f.alias) + "|" + f.table + "|" + f.owner + "|" + f.column, c.first);
        if (c.text != nullptr) {
            EXPECT_NE(cur->clauseFlags & SCR_F_ORDINALS, 0);
            EXPECT_EQ(Collapsed(cur->text), c.text);
            EXPECT_EQ(PrepareOnAgent(cur->text), 0);
        } else {
            EXPECT_EQ(cur->text, c.sql);
        }
    }
    ASSERT_EQ(Resolve("SELECT name, cust_id FROM customer ORDER BY 2 DESC"), 0);
    ASSERT_EQ(scs_p_OrderByDescsGet(cur), 0);
    EXPECT_EQ(Order(0).descending, 1);
    EXPECT_EQ(Order(0).col.sqlType, 4);
}

TEST_F(ScsDesc, KeyColumnsKnowTheirPlaceInTheOrderBy) {
    const struct {
        const char* sql;
        int32_t orderId, lineNo;
    } cases[] = {
        {"SELECT * FROM order_line ORDER BY line_no, order_id", 2, 1},
        {"SELECT * FROM order_line ORDER BY order_id, line_no", 1, 2},
        {"SELECT * FROM order_line ol ORDER BY qty, ol.line_no DESC, ol.order_id, line_no", 3, 2},
        {"SELECT * FROM order_line ORDER BY order_line.order_id, pub.order_line.line_no", 1, 2},
        {"SELECT * FROM order_line ORDER BY 2, 1", 2, 1},
        {"SELECT * FROM order_line, customer c ORDER BY c.cust_id, qty", 0, 0},
        {"SELECT * FROM order_line ORDER BY bob.order_line.order_id", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(Resolve(c.sql), 0);
        AddKey("\"ORDER_ID\"", "\"ORDER_LINE\"");
        AddKey("\"LINE_NO\"", "\"ORDER_LINE\"");
        ASSERT_EQ(scs_p_OrderByDescsGet(cur), 0);
        scs_p_KeyOrderPositions(cur);
        EXPECT_EQ(Key(0).orderPosition, c.orderId);
        EXPECT_EQ(Key(1).orderPosition, c.lineNo);
        ut_ArrayFree(&cur->keyset->keyCols, SCR_ColDescFree);
        delete cur->keyset;
        cur->keyset = nullptr;
    }
}

// The describe of the prepared statement, with the library's completion in force.
struct Described {
    uint16_t cols = 0, attrCount = 0;
    COLDESC* desc = nullptr;
    COLATTR* attrs = nullptr;
    ~Described() {
        ds_ColDescFree(desc, cols);
        for (uint16_t i = 0; i < attrCount; ++i)
            ut_ColAttrFree(&attrs[i]);
        uh_Free(attrs);
    }
    // The answer for the column: its own entry, else the every-column entry; -1 none.
    int32_t Attr(int16_t attribute, int16_t column) const {
        int32_t every = -1;
        for (uint16_t i = 0; i < attrCount; ++i) {
            if (attrs[i].attribute != attribute)
                continue;
            if (attrs[i].column == column)
                return attrs[i].value.i;
            if (attrs[i].column == 0)
                every = attrs[i].value.i;
        }
        return every;
    }
    std::string Table(uint16_t column) const {
        const COLDESC& d = desc[column - 1];
        return std::string(d.schema != nullptr ? d.schema : "") + "." + (d.table != nullptr ? d.table : "");
    }
};

int CompleteThroughLibrary(uint32_t stmt, uint16_t n, COLDESC* cols, std::vector<COLATTR>* attrs) {
    return scs_p_FixColAttribs(scs_FindStmt(stmt), n, cols, attrs);
}

TEST_F(ScsDesc, ARewrittenListAnswersKeyAndExpressionAttributes) {
    ASSERT_EQ(Expand("SELECT name, cust_id + 1 FROM customer"), 0);
    AddKey("\"CUST_ID\"", "\"CUSTOMER\"");
    bool rewritten = false;
    ASSERT_EQ(scs_p_SelListAddKeysnXpandWC(cur, unexpanded, true, &rewritten), 0);
    ASSERT_TRUE(rewritten);
    ASSERT_EQ(PrepareOnAgent(cur->text), 0);

    const OA_FIXCOLATTRIBS saved = oa_Library.fixColAttribs;
    oa_Library.fixColAttribs = CompleteThroughLibrary;
    Described plain;
    EXPECT_EQ(lib->DRV_DescribeColsEx(stmt, &plain.cols, &plain.attrCount, &plain.desc, &plain.attrs), 0);
    cur->flags |= SCS_SELECT_REWRITTEN;
    Described fixed;
    EXPECT_EQ(lib->DRV_DescribeColsEx(stmt, &fixed.cols, &fixed.attrCount, &fixed.desc, &fixed.attrs), 0);
    oa_Library.fixColAttribs = saved;

    // Not rewritten: the agent's own answers, which know nothing of keys or base tables.
    ASSERT_EQ(plain.cols, 3);
    EXPECT_EQ(plain.Attr(1053, 3), 0);
    EXPECT_EQ(plain.Table(1), ".");
    ASSERT_EQ(fixed.cols, 3);
    EXPECT_EQ(fixed.Attr(1053, 1), 0);
    EXPECT_EQ(fixed.Attr(1055, 1), 0);
    EXPECT_EQ(fixed.Attr(1053, 2), 0);
    EXPECT_EQ(fixed.Attr(1055, 2), 1);
    EXPECT_EQ(fixed.Attr(1053, 3), 1);
    EXPECT_EQ(fixed.Attr(1055, 3), 0);
    EXPECT_EQ(fixed.Table(1), "PUB.CUSTOMER");
    EXPECT_EQ(fixed.Table(2), ".");
    EXPECT_EQ(fixed.Table(3), "PUB.CUSTOMER");
}

TEST_F(ScsDesc, ColumnsWithoutAttributeEntriesGetTheirOwn) {
    ASSERT_EQ(Expand("SELECT cust_id + 1 FROM customer"), 0);
    AddKey("\"CUST_ID\"", "\"CUSTOMER\"");
    bool rewritten = false;
    ASSERT_EQ(scs_p_SelListAddKeysnXpandWC(cur, unexpanded, true, &rewritten), 0);
    cur->flags |= SCS_SELECT_REWRITTEN;
    COLDESC* cols = ds_ColDescAlloc(2);
    std::vector<COLATTR> attrs;
    ASSERT_EQ(scs_p_FixColAttribs(cur, 2, cols, &attrs), 0);
    ds_ColDescFree(cols, 2);
    std::vector<std::string> got;
    for (const COLATTR& a : attrs)
        got.push_back(std::to_string(a.column) + ":" + std::to_string(a.attribute) + "=" + std::to_string(a.value.i));
    EXPECT_EQ(got, (std::vector<std::string>{"1:1053=0", "1:1055=1", "2:1053=1", "2:1055=0"}));
}

}  // namespace
