// The agent's description operations against the SQLite back-end: the describe-parameters
// refinement (with a probe analyser installed through its seam, so that the probes run on
// the server), the extended column description, and the copies handed out.
#include <gtest/gtest.h>

#include <sql.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/db_types.h"
#include "drv_pro9/oa_describe.h"
#include "drv_pro9/oa_props.h"
#include "drv_pro9/oa_services.h"
#include "scrs/scr_hook.h"
#include "scrs/scr_paramdesc.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/agent_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

using namespace exectest;

// An analyser that hands out the probes a test set, and records what it was asked.
struct Prober {
    static inline OA_PARAMPROBES next;
    static inline int calls = 0;
    static inline std::string templ, sql;
    static int Analyse(const char* t, const char* s, OA_PARAMPROBES* out) {
        ++calls;
        templ = t;
        sql = s;
        *out = next;
        return 0;
    }
};

class AgentDescribe : public ::testing::Test {
protected:
    void SetUp() override {
        a.Open(file.path());
        ASSERT_EQ(a.Exec("CREATE TABLE t (i INTEGER, v VARCHAR(20), d NUMERIC(10,2))"), 0);
        // A statement that was never prepared, and what the prepare describes every
        // parameter as.
        ASSERT_EQ(OA_FreeStmt(a.stmtId), 0);
        ASSERT_EQ(OA_AllocStmt(a.connId, &a.stmtId), 0);
        a.stmt = oa_FindStmt(a.stmtId);
        uint32_t other = 0;
        ASSERT_EQ(OA_AllocStmt(a.connId, &other), 0);
        ASSERT_EQ(OA_Prepare(other, kInsert), 0);
        const COLDESC& d = oa_FindStmt(other)->params.items[0];
        preset = std::to_string(d.sqlType) + "/" + std::to_string(d.columnSize) + "/0";
        ASSERT_EQ(OA_FreeStmt(other), 0);
        // The library's entries are installed once per process: what is saved and put back
        // is what every later test finds, whichever test installed them first.
        SCR_HookOpTable(nullptr);
        saved_ = oa_Library.paramProber;
        Prober::calls = 0;
        Prober::next = {};
    }
    void TearDown() override {
        oa_Library.paramProber = saved_;
        a.Close();
    }
    int Refine() {
        const int32_t on = 1;
        return OA_SetProperty(a.stmtId, OA_PROP_DESCRIBE_PARAMS, &on);
    }
    // "sqlType/columnSize/decimalDigits" of each parameter description, from a copy.
    std::vector<std::string> ParamTypes() {
        uint16_t n = 0;
        COLDESC* d = nullptr;
        EXPECT_EQ(OA_DescribeParams(a.stmtId, &n, &d), 0);
        std::vector<std::string> out;
        for (uint16_t i = 0; i < n; ++i)
            out.push_back(std::to_string(d[i].sqlType) + "/" + std::to_string(d[i].columnSize) + "/" +
                          std::to_string(d[i].decimalDigits));
        ds_ColDescFree(d, n);
        return out;
    }
    static int LiveStatements() {
        const HANDLE_TABLE& t = Agent().stmts;
        return t.slotCount - t.freeCount;
    }

    static constexpr const char* kInsert = "INSERT INTO t VALUES (?, ?, ?)";
    esqltest::TempDb file;
    Session a;
    std::string preset;

private:
    OA_PARAMPROBER saved_ = nullptr;
};

TEST_F(AgentDescribe, RefinementKeepsThePrepareDescriptionsWhereItCannotOrMayNotRun) {
    LogCapture log(LOG_WARNING);
    // Not prepared.
    EXPECT_EQ(Refine(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(log.matching("execute without prior prepare").size(), 1u);
    // Without the cursor library's analyser the prepare's descriptions stay.
    oa_Library.paramProber = OA_LIBRARY_STANDINS.paramProber;
    ASSERT_EQ(OA_Prepare(a.stmtId, kInsert), 0);
    EXPECT_EQ(Refine(), 0);
    EXPECT_EQ(ParamTypes(), std::vector<std::string>(3, preset));
    // No markers.
    ASSERT_EQ(OA_Prepare(a.stmtId, "DELETE FROM t"), 0);
    oa_Library.paramProber = Prober::Analyse;
    EXPECT_EQ(Refine(), 0);
    EXPECT_EQ(Prober::calls, 0);
    // After execute nothing changes.
    ASSERT_EQ(OA_PrepareAndExecute(a.stmtId, "SELECT i FROM t WHERE i = ?", Params({{1}}), 0, nullptr), 0);
    Prober::next.probes = {"SELECT i FROM t WHERE 1=0"};
    Prober::next.markers = 1;
    EXPECT_EQ(Refine(), 0);
    EXPECT_EQ(Prober::calls, 0);
    EXPECT_EQ(log.matching("Describe params work only before Execute").size(), 1u);
    EXPECT_EQ(ParamTypes(), std::vector<std::string>{preset});
}

TEST_F(AgentDescribe, ProbesOnTheServerTypeTheParametersOncePerPrepare) {
    oa_Library.paramProber = Prober::Analyse;
    Prober::next.probes = {"SELECT CAST(NULL AS INTEGER), v FROM t WHERE 1=0", "SELECT d FROM t WHERE 1=0"};
    Prober::next.markers = 3;
    ASSERT_EQ(OA_Prepare(a.stmtId, kInsert), 0);
    const int live = LiveStatements();
    ASSERT_EQ(Refine(), 0);
    EXPECT_EQ(Prober::templ, "cast (null as varchar)");
    EXPECT_EQ(Prober::sql, kInsert);
    const std::vector<std::string> refined = {"4/10/0", "12/20/0", "2/10/2"};
    EXPECT_EQ(ParamTypes(), refined);
    EXPECT_EQ(LiveStatements(), live);   // the scratch statement is gone
    // The names stay the prepare's.
    EXPECT_STREQ(a.stmt->params.items[0].name, "*I");

    // Once per prepare: a second request does not probe again; a new prepare does.
    Prober::next.probes = {"SELECT v, v, v FROM t WHERE 1=0"};
    EXPECT_EQ(Refine(), 0);
    EXPECT_EQ(Prober::calls, 1);
    EXPECT_EQ(ParamTypes(), refined);
    ASSERT_EQ(OA_Prepare(a.stmtId, kInsert), 0);
    EXPECT_EQ(Refine(), 0);
    EXPECT_EQ(Prober::calls, 2);
    EXPECT_EQ(ParamTypes(), std::vector<std::string>(3, "12/20/0"));
}

TEST_F(AgentDescribe, MarkerMapsCoverageAndSurplusColumns) {
    oa_Library.paramProber = Prober::Analyse;
    struct {
        const char* name;
        std::vector<std::string> probes;
        std::string map;
        uint32_t markers;
        std::vector<std::string> types;
    } cases[] = {
        // Only the marked columns stand for parameters; the third keeps its description.
        {"map", {"SELECT i, v, d FROM t WHERE 1=0", "SELECT i FROM t WHERE 1=0"}, "-?-?", 0,
         {"12/20/0", "4/10/0", preset}},
        // Without a map the probes must cover every parameter, or nothing happens.
        {"short", {"SELECT i FROM t WHERE 1=0"}, "", 2, {preset, preset, preset}},
        // More columns than parameters: the surplus is not written anywhere.
        {"surplus", {"SELECT i, i, i, v, v FROM t WHERE 1=0"}, "", 5, {"4/10/0", "4/10/0", "4/10/0"}},
    };
    struct {
        const char* name;
        std::vector<std::string> probes;
        std::vector<uint32_t> ordinals;
        std::vector<std::string> types;
    } byOrdinal[] = {
        // Each column goes to the parameter it names; one no column names keeps its own,
        // and a count that looks complete proves nothing.
        {"ordinals", {"SELECT i, v FROM t WHERE 1=0", "SELECT d FROM t WHERE 1=0"}, {3, 0, 1},
         {"2/10/2", preset, "4/10/0"}},
        {"beyond the parameters", {"SELECT i, v FROM t WHERE 1=0"}, {4, 2}, {preset, "12/20/0", preset}},
    };
    for (const auto& c : byOrdinal) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(OA_Prepare(a.stmtId, kInsert), 0);
        Prober::next = {};
        Prober::next.probes = c.probes;
        Prober::next.ordinals = c.ordinals;
        EXPECT_EQ(Refine(), 0);
        EXPECT_EQ(ParamTypes(), c.types);
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(OA_Prepare(a.stmtId, kInsert), 0);
        Prober::next = {};
        Prober::next.probes = c.probes;
        Prober::next.markerMap = c.map;
        Prober::next.markers = c.markers;
        EXPECT_EQ(Refine(), 0);
        EXPECT_EQ(ParamTypes(), c.types);
    }
}

// The cursor library's analyser behind the seam (installed by its hook): the server's own
// descriptions of the columns the markers are compared with, assigned to or inserted into.
TEST_F(AgentDescribe, TheAnalyserTypesMarkersByTheirColumns) {
    SCR_HookOpTable(nullptr);
    ASSERT_EQ(oa_Library.paramProber, SCR_ParamProber);
    const struct {
        const char* sql;
        std::vector<std::string> types;
    } cases[] = {
        {"SELECT * FROM t WHERE i = ?", {"4/10/0"}},
        {"INSERT INTO t (v, d) VALUES (?, ?)", {"12/20/0", "2/10/2"}},
        {"INSERT INTO t VALUES (?, 'x', ?)", {"4/10/0", "2/10/2"}},
        {"UPDATE t SET d = ? WHERE v = ? AND i BETWEEN ? AND 5", {"2/10/2", "12/20/0", "4/10/0"}},
        {"DELETE FROM t WHERE ? IS NULL AND d < ?", {"12/2000/0", "2/10/2"}},  // cast (null as varchar)
        // A marker inside a subquery keeps the prepare's description; the others are not
        // shifted onto it.
        {"SELECT * FROM t WHERE v = ? AND i IN (SELECT i FROM t WHERE d = ?) AND i = ?",
         {"12/20/0", preset, "4/10/0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        ASSERT_EQ(OA_Prepare(a.stmtId, c.sql), 0);
        EXPECT_EQ(Refine(), 0);
        EXPECT_EQ(ParamTypes(), c.types);
    }
}

TEST_F(AgentDescribe, AFailingProbeLeavesTheDescriptionsAndCanBeRetried) {
    oa_Library.paramProber = Prober::Analyse;
    Prober::next.probes = {"SELECT i FROM t WHERE 1=0", "SELECT nosuch FROM t WHERE 1=0"};
    Prober::next.markers = 3;
    ASSERT_EQ(OA_Prepare(a.stmtId, kInsert), 0);
    const int live = LiveStatements();
    EXPECT_EQ(Refine(), ERR_SYNTAX_ERROR_OR_ACCESS);
    ASSERT_FALSE(Records(a.stmt->errors).empty());
    EXPECT_EQ(Records(a.stmt->errors)[0].substr(0, 5), "42S22");
    EXPECT_EQ(ParamTypes(), std::vector<std::string>(3, preset));
    EXPECT_EQ(LiveStatements(), live);
    // Not marked described: a later request probes again.
    Prober::next.probes = {"SELECT i, i, i FROM t WHERE 1=0"};
    EXPECT_EQ(Refine(), 0);
    EXPECT_EQ(ParamTypes(), std::vector<std::string>(3, "4/10/0"));
}

// The attribute entry for attribute and column, or null.
const COLATTR* FindAttr(const COLATTR* attrs, uint16_t n, int16_t attribute, int16_t column) {
    for (uint16_t i = 0; i < n; ++i)
        if (attrs[i].attribute == attribute && attrs[i].column == column)
            return &attrs[i];
    return nullptr;
}

TEST_F(AgentDescribe, ExtendedDescriptionHandsOutCompactedAttributesTheCallerOwns) {
    ASSERT_EQ(OA_Prepare(a.stmtId, "SELECT i, v FROM t"), 0);
    uint16_t cols = 9, attrCount = 9;
    COLDESC* descs = reinterpret_cast<COLDESC*>(this);
    COLATTR* attrs = reinterpret_cast<COLATTR*>(this);
    EXPECT_EQ(OA_DescribeColsEx(a.stmtId, &cols, &attrCount, &descs, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_DescribeColsEx(0xFFFF, &cols, &attrCount, &descs, &attrs), ERR_INVALID_ARGUMENT_VALUE);
    ASSERT_EQ(OA_DescribeColsEx(a.stmtId, &cols, &attrCount, &descs, &attrs), 0);
    ASSERT_EQ(cols, 2);
    EXPECT_EQ(descs[0].sqlType, SQL_INTEGER);
    EXPECT_EQ(descs[1].sqlType, SQL_VARCHAR);

    for (uint16_t i = 0; i < attrCount; ++i)
        EXPECT_GE(attrs[i].attribute, 0) << i;   // unanswered attributes are dropped
    // Type names per column, as copies of the statement's texts.
    const COLATTR* name1 = FindAttr(attrs, attrCount, SQL_COLUMN_TYPE_NAME, 1);
    const COLATTR* name2 = FindAttr(attrs, attrCount, SQL_COLUMN_TYPE_NAME, 2);
    ASSERT_NE(name1, nullptr);
    ASSERT_NE(name2, nullptr);
    EXPECT_STREQ(name1->value.text, "integer");
    EXPECT_STREQ(name2->value.text, "varchar");
    // Case sensitivity: the every-column 0 stands for the INTEGER column, VARCHAR differs.
    const COLATTR* caseAll = FindAttr(attrs, attrCount, SQL_COLUMN_CASE_SENSITIVE, 0);
    ASSERT_NE(caseAll, nullptr);
    EXPECT_EQ(caseAll->value.i, 0);
    EXPECT_EQ(FindAttr(attrs, attrCount, SQL_COLUMN_CASE_SENSITIVE, 1), nullptr);
    ASSERT_NE(FindAttr(attrs, attrCount, SQL_COLUMN_CASE_SENSITIVE, 2), nullptr);
    EXPECT_EQ(FindAttr(attrs, attrCount, SQL_COLUMN_CASE_SENSITIVE, 2)->value.i, 1);

    for (uint16_t i = 0; i < attrCount; ++i)
        ut_ColAttrFree(&attrs[i]);
    uh_Free(attrs);
    ds_ColDescFree(descs, cols);
    // The statement's own table is untouched by the caller's release.
    bool found = false;
    for (uint32_t i = 0; i < a.stmt->colAttrs.count; ++i) {
        const OA_COLATTRREQ& r = a.stmt->colAttrs.reqs[i];
        if (r.column == 2 && r.attribute == SQL_COLUMN_TYPE_NAME) {
            found = true;
            EXPECT_STREQ(r.text, "varchar");
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(AgentDescribe, CopiesOfDescriptionsAreTheCallersOwn) {
    ASSERT_EQ(OA_Prepare(a.stmtId, "SELECT i, v FROM t WHERE i = ?"), 0);
    for (bool params : {false, true}) {
        SCOPED_TRACE(params ? "params" : "cols");
        const OA_DESCARRAY& own = params ? a.stmt->params : a.stmt->cols;
        uint16_t n = 0;
        COLDESC* copy = nullptr;
        ASSERT_EQ((params ? OA_DescribeParams : OA_DescribeCols)(a.stmtId, &n, &copy), 0);
        ASSERT_EQ(n, own.count);
        ASSERT_GT(n, 0);
        // Scribbled over and freed: the statement's records keep their texts.
        for (uint16_t i = 0; i < n; ++i) {
            for (char** t : {&copy[i].catalog, &copy[i].schema, &copy[i].table, &copy[i].label}) {
                if (*t != nullptr)
                    (*t)[0] = '#';
            }
            copy[i].name[0] = '#';
        }
        ds_ColDescFree(copy, n);
        for (uint16_t i = 0; i < n; ++i) {
            EXPECT_NE(own.items[i].name[0], '#');
            for (const char* t : {own.items[i].catalog, own.items[i].schema, own.items[i].table, own.items[i].label}) {
                if (t != nullptr) {
                    EXPECT_NE(t[0], '#');
                }
            }
        }
    }
    uint16_t n = 7;
    EXPECT_EQ(OA_DescribeCols(a.stmtId, &n, nullptr), 0);
    EXPECT_EQ(n, 2);
}

}  // namespace

// The cursor library's completion of a rewritten select list runs before compaction: what
// it changes and adds is handed out, what it added is freed by the agent, and its failure
// is slot 51's answer with nothing handed out.
struct Completion {
    static inline int rc = 0;
    static int Fix(uint32_t, uint16_t count, COLDESC* cols, std::vector<COLATTR>* attrs) {
        if (rc != 0)
            return rc;
        std::snprintf(cols[count - 1].name, sizeof cols[count - 1].name, "%s", "base_v");
        COLATTR key{};
        key.column = 1;
        key.attribute = 1053;
        key.kind = COLATTR_INT;
        key.value.i = 1;
        attrs->push_back(key);
        COLATTR text{};
        text.column = 2;
        text.attribute = SQL_COLUMN_TABLE_NAME;
        text.kind = COLATTR_TEXT;
        text.value.text = static_cast<char*>(uh_Malloc(4));
        std::memcpy(text.value.text, "t_2", 4);
        attrs->push_back(text);
        return 0;
    }
};

TEST_F(AgentDescribe, TheLibraryCompletesRewrittenDescriptionsBeforeCompaction) {
    const OA_FIXCOLATTRIBS saved = oa_Library.fixColAttribs;
    oa_Library.fixColAttribs = Completion::Fix;
    ASSERT_EQ(OA_Prepare(a.stmtId, "SELECT i, v FROM t"), 0);
    uint16_t cols = 0, attrCount = 0;
    COLDESC* descs = nullptr;
    COLATTR* attrs = nullptr;
    Completion::rc = 0;
    ASSERT_EQ(OA_DescribeColsEx(a.stmtId, &cols, &attrCount, &descs, &attrs), 0);
    EXPECT_STREQ(descs[1].name, "base_v");
    const COLATTR* key = FindAttr(attrs, attrCount, 1053, 1);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->value.i, 1);
    const COLATTR* table = FindAttr(attrs, attrCount, SQL_COLUMN_TABLE_NAME, 2);
    ASSERT_NE(table, nullptr);
    EXPECT_STREQ(table->value.text, "t_2");
    for (uint16_t i = 0; i < attrCount; ++i)
        ut_ColAttrFree(&attrs[i]);
    uh_Free(attrs);
    ds_ColDescFree(descs, cols);

    Completion::rc = ERR_MEMORY_ALLOCATION_FAILURE;
    descs = nullptr;
    attrs = nullptr;
    EXPECT_EQ(OA_DescribeColsEx(a.stmtId, &cols, &attrCount, &descs, &attrs), ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(descs, nullptr);
    EXPECT_EQ(attrs, nullptr);
    EXPECT_EQ(cols, 0);
    oa_Library.fixColAttribs = saved;
}

// What the cursor library reaches outside the table: its state on the agent's records,
// freed with them, and the error lists it moves across the SQL it runs.
TEST_F(AgentDescribe, LibraryStateAndErrorListsThroughTheServices) {
    static int released = 0;
    released = 0;
    uint32_t mine = 0;
    ASSERT_EQ(OA_AllocStmt(a.connId, &mine), 0);
    OA_LIBSTATE* slot = oa_StmtLibState(mine);
    ASSERT_NE(slot, nullptr);
    slot->state = uh_Malloc(8);
    slot->release = [](void* p) {
        ++released;
        uh_Free(p);
    };
    EXPECT_EQ(oa_ConnOfStmt(mine), a.connId);
    EXPECT_NE(oa_ServerOfConn(a.connId), 0u);
    EXPECT_EQ(oa_StmtLibState(0xFFFF), nullptr);
    EXPECT_EQ(oa_StmtText(mine), nullptr);
    ASSERT_EQ(OA_Prepare(mine, "  SELECT i FROM t WHERE i = ?"), 0);
    EXPECT_STREQ(oa_StmtText(mine), "SELECT i FROM t WHERE i = ?");
    EXPECT_EQ(oa_StmtParamMarkers(mine), 1u);
    EXPECT_TRUE(oa_StmtPrepared(mine));

    // Two records on the helper statement, the last one a row warning: the warning is
    // dropped, the other moves behind the user's own record, the helper's list is empty.
    OA_STMT* helper = oa_FindStmt(mine);
    EXPECT_EQ(oa_StmtKeepErrors(mine, 1), 0);
    OA_ErrPostText(&helper->errors, "from the helper", "42S02");
    OA_ErrPostText(&helper->errors, "row warning", "01S01");
    OA_ErrPostText(&a.stmt->errors, "the user's own", "HY000");
    EXPECT_EQ(oa_ErrDropRowWarning(mine), 0);
    EXPECT_EQ(oa_ErrMove(a.stmtId, mine), 0);
    EXPECT_EQ(helper->errors.head, nullptr);
    const auto records = agenttest::Records(a.stmt->errors);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].find("the user's own"), std::string::npos);
    EXPECT_NE(records[1].find("from the helper"), std::string::npos);
    EXPECT_EQ(oa_ErrMove(a.stmtId, 0xFFFF), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(oa_ErrClearOf(a.stmtId), 0);
    EXPECT_EQ(a.stmt->errors.head, nullptr);

    ASSERT_EQ(OA_FreeStmt(mine), 0);
    EXPECT_EQ(released, 1);
}
