// The cursor library in front of the agent: its table over the agent's, and its overrides
// run against the real agent on the embedded server, with a recording table between the
// two showing what reaches the agent.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "drv_pro9/oa_services.h"
#include "scrs/scr_hook.h"
#include "scrs/scr_paramdesc.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_ops.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "tests/unit/scs_library_fixture.h"
#include "tests/unit/recording_optable.h"
#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

using Strings = std::vector<std::string>;

// A recording table between the library and the agent (or a changed copy of the agent's
// table) while it lives. The calls of the slots these tests follow read "<slot>", then the
// text, then "rows=<n>" for the parameter values handed over or the rows a fetch brought.
class RecordingTable {
public:
    explicit RecordingTable(const OA_OPTABLE& agent = OA_AgentOpTable) : agent_(agent), rec_(&agent_) {
        before_ = SCR_SetAgentTable(rec_.Table());
    }
    ~RecordingTable() { SCR_SetAgentTable(before_); }
    RecordingTable(const RecordingTable&) = delete;
    RecordingTable& operator=(const RecordingTable&) = delete;

    Strings Calls() const { return Lines(-1); }
    Strings Of(int slot) const { return Lines(slot); }

private:
    Strings Lines(int slot) const {
        static const std::set<int> followed = {5, 6, 7, 8, 11, 12, 13, 18, 19, 20, 24, 34, 43};
        Strings out;
        for (const rec::RecordedCall& c : rec_.Calls()) {
            if (followed.count(c.slot) == 0 || (slot >= 0 && c.slot != slot))
                continue;
            std::string line = std::to_string(c.slot);
            if (c.text)
                line += " " + *c.text;
            if (c.values)
                line += " rows=" + std::to_string(c.values->rows.size());
            if (c.slot == 19)
                line += " rows=" + std::to_string(c.rowsFetched < 0 ? 0 : c.rowsFetched);
            out.push_back(line);
        }
        return out;
    }

    OA_OPTABLE agent_;
    rec::RecordingTable rec_;
    const OA_OPTABLE* before_ = nullptr;
};

// The agent's table with its fetch replaced.
OA_OPTABLE AgentFetchingWith(int (*fetch)(uint32_t, uint16_t, DATASET*)) {
    OA_OPTABLE t = OA_AgentOpTable;
    t.DRV_Fetch = fetch;
    return t;
}

// ---- The table -------------------------------------------------------------------------------

const std::set<int> kOverridden = {0,  5,  6,  7,  8,  11, 12, 13, 18, 19, 20, 24, 25, 26, 27, 28, 29, 30, 31,
                                   32, 33, 34, 35, 36, 37, 41, 42, 43, 44, 45, 46, 47, 48, 49, 52, 54, 65};
const std::set<int> kLibraryOnly = {36, 37, 41, 42, 44, 45, 46, 47, 48, 49, 52, 54, 65};

const void* Slot(const OA_OPTABLE& t, int n) {
    const void* p;
    std::memcpy(&p, reinterpret_cast<const char*>(&t) + n * sizeof(void*), sizeof p);
    return p;
}

TEST(ScsHook, TheLibraryTableOverridesItsSlotsAndPassesTheRest) {
    EXPECT_EQ(kOverridden.size(), 37u);
    // A table of 66 distinct fakes, empty where the agent's own is empty.
    OA_OPTABLE agent{};
    for (int n = 0; n < OA_OPTABLE_SLOTS; ++n) {
        const bool empty = kLibraryOnly.count(n) != 0 || n == 50 || (n >= 55 && n <= 64);
        const uintptr_t fake = empty ? 0 : 0x1000 + 16 * static_cast<uintptr_t>(n);
        std::memcpy(reinterpret_cast<char*>(&agent) + n * sizeof(void*), &fake, sizeof fake);
    }
    OA_OPTABLE lib{};
    SCR_BuildLibraryTable(&agent, &lib);
    for (int n = 0; n < OA_OPTABLE_SLOTS; ++n) {
        SCOPED_TRACE(n);
        if (kOverridden.count(n) != 0) {
            EXPECT_NE(Slot(lib, n), nullptr);
            EXPECT_NE(Slot(lib, n), Slot(agent, n));
        } else {
            EXPECT_EQ(Slot(lib, n), Slot(agent, n));  // passed through; 50 and 55-64 stay empty
        }
    }
}

TEST(ScsHook, EveryCallRepointsItsHolderAtTheOneCopy) {
    OA_OPHOLDER first;
    OA_BindOpTable(&first);
    ASSERT_EQ(SCR_HookOpTable(&first), &first);
    const OA_OPTABLE* lib = SCR_LibraryTable();
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(first.ops, lib);
    const OA_OPTABLE snapshot = *lib;

    OA_OPHOLDER second;
    OA_BindOpTable(&second);
    SCR_HookOpTable(&second);
    EXPECT_EQ(second.ops, lib);
    EXPECT_EQ(SCR_LibraryTable(), lib);
    EXPECT_EQ(std::memcmp(&snapshot, lib, sizeof snapshot), 0);  // not copied again
    EXPECT_EQ(SCR_AgentHolder()->ops, &OA_AgentOpTable);
    EXPECT_EQ(lib->DRV_GetErrors, OA_AgentOpTable.DRV_GetErrors);
    EXPECT_EQ(lib->DRV_Prepare, scs_Prepare);
    EXPECT_EQ(oa_Library.paramProber, SCR_ParamProber);
    EXPECT_EQ(oa_Library.setPosRun, scs_SetPosRun);
    EXPECT_EQ(oa_Library.fixColAttribs, scs_FixColAttribs);
}

// ---- The overrides against the embedded server ---------------------------------------------

class ScsOps : public scstest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(Exec("CREATE TABLE t (i INTEGER, v VARCHAR(20))"), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (1, 'abcdef')"), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (2, 'b')"), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (3, 'c')"), 0);
    }
    int SetStmt(uint32_t code, int32_t v) { return lib->DRV_SetProperty(stmt, code, &v); }
    int32_t GetStmt(uint32_t code) {
        int32_t v = -99, got = 0;
        EXPECT_EQ(lib->DRV_GetProperty(stmt, code, &v, sizeof v, &got), 0);
        return v;
    }
    // The rows of the open result, fetched through slot 19.
    std::vector<Strings> FetchAll(uint16_t size = 2) {
        std::vector<Strings> rows;
        DATASET block{};
        for (int n = 0; n < 20; ++n) {
            EXPECT_EQ(lib->DRV_Fetch(stmt, size, &block), 0);
            if (block.rowsUsed == 0)
                break;
            for (auto& r : exectest::Rows(block))
                rows.push_back(r);
        }
        ds_Free(&block);
        return rows;
    }

};

TEST_F(ScsOps, AStatementRunsThroughTheLibraryAsItWouldOnTheAgent) {
    RecordingTable rt;
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT i, v FROM t ORDER BY i"), 0);
    EXPECT_NE(cur->flags & SCS_THROUGH_LIBRARY, 0);
    ASSERT_EQ(lib->DRV_Execute(stmt), 0);
    EXPECT_EQ(FetchAll(), (std::vector<Strings>{{"1", "abcdef"}, {"2", "b"}, {"3", "c"}}));
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    EXPECT_NE(cur->flags & SCS_CLOSED, 0);
    EXPECT_EQ(cur->flags & SCS_THROUGH_LIBRARY, 0);
    ASSERT_EQ(lib->DRV_FreeStmt(stmt), 0);
    EXPECT_EQ(scs_FindStmt(stmt), nullptr);
    stmt = 0;
    EXPECT_EQ(rt.Calls(), (Strings{"11 SELECT i, v FROM t ORDER BY i", "13", "19 rows=2", "19 rows=1", "19 rows=0", "20", "8"}));
}

TEST_F(ScsOps, ParametersReachTheAgentAndTheirDescriptionsAreKept) {
    RecordingTable rt;
    DATASET* values = exectest::Params({{7, "seven"}});
    const PARAM_DESC descs[2] = {exectest::Desc(1, 4), exectest::Desc(1, 12)};
    ASSERT_EQ(lib->DRV_PrepareAndExecute(stmt, "INSERT INTO t VALUES (?, ?)", values, 2, descs), 0);
    EXPECT_EQ(cur->userParamDescs.size(), 2u);
    EXPECT_EQ(cur->keptParams, nullptr);  // forward-only: no copy
    EXPECT_EQ(rt.Calls(), (Strings{"12 rows=1", "11 INSERT INTO t VALUES (?, ?)", "18", "13"}));
    EXPECT_EQ(GetStmt(OA_PROP_ROW_COUNT), 1);
}

TEST_F(ScsOps, ExecuteWithoutPrepareIsASequenceErrorThatNeverReachesTheAgent) {
    uint32_t fresh = 0;
    ASSERT_EQ(lib->DRV_AllocStmt(conn, &fresh), 0);
    RecordingTable rt;
    exectest::LogCapture log(LOG_WARNING);
    EXPECT_EQ(lib->DRV_Execute(fresh), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(log.matching("execute without prior prepare").size(), 1u);
    EXPECT_TRUE(rt.Of(13).empty());
    EXPECT_EQ(lib->DRV_FreeStmt(fresh), 0);
}

TEST_F(ScsOps, AnUnknownStatementIsAnInvalidArgumentInEveryOverride) {
    const uint32_t bad = 0xDEAD0001;
    DATASET block{};
    DS_ROWSET* rs = nullptr;
    uint32_t fetched = 0, made = 0;
    int32_t count = 0, size = 0, type = 0, rest = 0;
    void* piece = nullptr;
    uint16_t done = 0;
    int32_t* counts = nullptr;
    OA_CATARGS args{};
    const int answers[] = {
        lib->DRV_Prepare(bad, "SELECT 1"),
        lib->DRV_Execute(bad),
        lib->DRV_Fetch(bad, 1, &block),
        lib->DRV_CloseCursor(bad),
        lib->DRV_ExtendedFetch(bad, &rs, 0, &fetched, &count, 1),
        lib->DRV_FetchInto(bad, &rs, 0, &fetched, &count, 1),
        lib->DRV_GetRowData(bad, 1, 1, 10, &piece, &size, &type, &rest),
        lib->DRV_SetPos(bad, 1, 0, 0, nullptr, nullptr, nullptr, nullptr, 0),
        lib->DRV_MoreResults(bad),
        lib->DRV_DDTables(bad, &args),
        lib->DRV_ExecuteBatch(bad, 0, nullptr, &done, &counts),
        lib->DRV_PrepareAndExecute(bad, "SELECT 1", nullptr, 0, nullptr),
        lib->DRV_AllocStmt(0xDEAD0002, &made),
        lib->DRV_FreeStmt(bad),
    };
    for (size_t i = 0; i < std::size(answers); ++i)
        EXPECT_EQ(answers[i], ERR_INVALID_ARGUMENT_VALUE) << "case " << i;
    EXPECT_EQ(rs, nullptr);
    EXPECT_EQ(counts, nullptr);
}

TEST_F(ScsOps, RowCountOfDmlComesFromTheAgent) {
    ASSERT_EQ(Exec("UPDATE t SET v = 'x' WHERE i >= 2"), 0);
    EXPECT_EQ(GetStmt(OA_PROP_ROW_COUNT), 2);
    ASSERT_EQ(Exec("DELETE FROM t"), 0);
    EXPECT_EQ(GetStmt(OA_PROP_ROW_COUNT), 3);
}

TEST_F(ScsOps, TheCapabilityStringIsCutToTheBufferAndStillAnswersZero) {
    char full[64] = {};
    int32_t len = 0;
    ASSERT_EQ(lib->DRV_GetProperty(conn, 0x21010010, full, sizeof full, &len), 0);
    ASSERT_EQ(len, 20);
    EXPECT_EQ(std::string(full, 8), "001.005:");
    EXPECT_EQ(full[8 + 5], '1');  // the sixth digit is always 1
    char shortBuf[6] = {};
    len = 0;
    EXPECT_EQ(lib->DRV_GetProperty(conn, 0x21010010, shortBuf, sizeof shortBuf, &len), 0);
    EXPECT_STREQ(shortBuf, "001.0");
    EXPECT_EQ(len, 20);
    EXPECT_EQ(lib->DRV_GetProperty(stmt, 0x21010010, full, sizeof full, &len), ERR_INVALID_ARGUMENT_VALUE);
}

// A catalog result cannot be keyset-driven: it is static read-only, and the next prepare
// on the statement decides again from the application's request (static read-only until
// keyset-driven cursors exist), which stays kept for the prepare after.
TEST_F(ScsOps, ACatalogCallOnAKeysetStatementIsStaticUntilTheNextPrepare) {
    ASSERT_EQ(SetStmt(OA_PROP_CURSOR_TYPE, SCS_KEYSET), 0);
    ASSERT_EQ(SetStmt(OA_PROP_CONCURRENCY, SCS_LOCK), 0);
    OA_CATARGS args{};
    args.names[2] = "t";
    ASSERT_EQ(lib->DRV_DDTables(stmt, &args), 0);
    EXPECT_EQ(GetStmt(OA_PROP_CURSOR_TYPE), SCS_STATIC);
    EXPECT_EQ(GetStmt(OA_PROP_CONCURRENCY), SCS_READ_ONLY);
    EXPECT_NE(cur->flags & SCS_ATTRS_CHANGED, 0);
    ASSERT_EQ(lib->DRV_DDColumns(stmt, &args), 0);  // a second catalog call keeps the request
    EXPECT_EQ(cur->requestedType, SCS_KEYSET);
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);

    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT i FROM t"), 0);
    EXPECT_EQ(GetStmt(OA_PROP_CURSOR_TYPE), SCS_STATIC);
    EXPECT_EQ(GetStmt(OA_PROP_CONCURRENCY), SCS_READ_ONLY);
    EXPECT_NE(cur->flags & SCS_ATTRS_CHANGED, 0);
    EXPECT_EQ(cur->requestedType, SCS_KEYSET);
    EXPECT_EQ(cur->requestedConcurrency, SCS_LOCK);
}

TEST_F(ScsOps, MoreResultsOnAKeysetCursorIsRefusedAndResetsThePosition) {
    ASSERT_EQ(SetStmt(OA_PROP_CURSOR_TYPE, SCS_KEYSET), 0);
    ASSERT_EQ(Exec("SELECT i FROM t"), 0);
    cur->position = 2;
    cur->rowsetStart = 4;
    cur->rowCount = 3;
    RecordingTable rt;
    EXPECT_EQ(lib->DRV_MoreResults(stmt), ERR_NO_MORE_RESULTS);
    EXPECT_EQ(cur->position, SCS_POS_BEFORE_START);
    EXPECT_EQ(cur->rowsetStart, 0);
    EXPECT_EQ(cur->rowCount, -1);
    EXPECT_TRUE(rt.Of(24).empty());
    ASSERT_EQ(SetStmt(OA_PROP_CURSOR_TYPE, SCS_FORWARD_ONLY), 0);
    EXPECT_EQ(lib->DRV_MoreResults(stmt), ERR_NO_MORE_RESULTS);  // the agent's answer now
    EXPECT_EQ(rt.Of(24).size(), 1u);
}

TEST_F(ScsOps, ABatchStopsAtItsQuery) {
    RecordingTable rt;
    const OA_BATCHSTMT batch[3] = {
        {"UPDATE t SET v = 'y' WHERE i = 1", 0, nullptr, nullptr},
        {"  (select i FROM t)", 0, nullptr, nullptr},
        {"DELETE FROM t", 0, nullptr, nullptr},
    };
    uint16_t done = 99;
    int32_t* counts = nullptr;
    EXPECT_EQ(lib->DRV_ExecuteBatch(stmt, 3, batch, &done, &counts), ERR_ONLY_DDL_AND_DML_COMMAND_CAN);
    EXPECT_EQ(done, 1);
    ASSERT_NE(counts, nullptr);
    EXPECT_EQ(counts[0], 1);
    std::free(counts);
    EXPECT_EQ(rt.Of(11), (Strings{"11 UPDATE t SET v = 'y' WHERE i = 1"}));

    counts = nullptr;
    EXPECT_EQ(lib->DRV_ExecuteBatch(stmt, 1, &batch[2], &done, &counts), 0);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(counts[0], 3);
    std::free(counts);
}

TEST_F(ScsOps, StatementClassifiers) {
    EXPECT_TRUE(scs_IsSelectStmt("SELECT 1"));
    EXPECT_TRUE(scs_IsSelectStmt("\n((select(1)))"));
    EXPECT_FALSE(scs_IsSelectStmt("selected"));
    EXPECT_FALSE(scs_IsSelectStmt(nullptr));
    EXPECT_TRUE(scs_IsCallStmt("{?=call p(?)}"));
    EXPECT_TRUE(scs_IsCallStmt("CALL p"));
    EXPECT_FALSE(scs_IsCallStmt("caller"));
}

// The agent keeps option 3 and cuts nothing itself: the library cuts, once.
TEST_F(ScsOps, FetchedValuesAreCutToTheMaximumLength) {
    ASSERT_EQ(SetStmt(OA_PROP_MAX_LENGTH, 3), 0);
    ASSERT_EQ(Exec("SELECT v FROM t WHERE i = 1"), 0);
    EXPECT_EQ(FetchAll(), (std::vector<Strings>{{"abc"}}));
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    ASSERT_EQ(SetStmt(OA_PROP_MAX_LENGTH, 0), 0);
    ASSERT_EQ(Exec("SELECT v FROM t WHERE i = 1"), 0);
    EXPECT_EQ(FetchAll(), (std::vector<Strings>{{"abcdef"}}));
}

// A fetch that answers one fixed text column of 10 bytes, one row when rows are asked for.
int FixedFetch(uint32_t, uint16_t rows, DATASET* block) {
    ds_Free(block);
    EXPECT_EQ(ds_Init(block, 1), 0);
    block->cols[0].type = DS_CHAR;
    block->cols[0].width = 10;
    block->colsUsed = 1;
    if (rows == 0)
        return 0;
    EXPECT_EQ(ds_AllocRows(block, 1), 0);
    std::memcpy(block->cols[0].data, "abcdefghij", 10);
    block->cols[0].indicators[0] = 0;
    block->rowsUsed = 1;
    return 0;
}

// A fixed column the cut turns into a counted one has that layout from the block's set-up
// on, so that the caller's plans for the block's columns stay right.
TEST_F(ScsOps, ACutFixedColumnKeepsOneLayoutInEveryBlock) {
    ASSERT_EQ(SetStmt(OA_PROP_MAX_LENGTH, 3), 0);
    RecordingTable rt(AgentFetchingWith(FixedFetch));
    DATASET block{};
    ASSERT_EQ(lib->DRV_Fetch(stmt, 0, &block), 0);
    EXPECT_EQ(block.cols[0].type, DS_VARCHAR32);
    ASSERT_EQ(lib->DRV_Fetch(stmt, 2, &block), 0);
    ASSERT_EQ(block.rowsUsed, 1);
    EXPECT_EQ(block.cols[0].type, DS_VARCHAR32);
    int32_t n = 0;
    std::memcpy(&n, block.cols[0].data, sizeof n);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.cols[0].data) + 4, static_cast<size_t>(n)), "abc");
    ds_Free(&block);
}

TEST_F(ScsOps, AForwardRowsetHasRowsetSizeRowsAndMovesThePosition) {
    ASSERT_EQ(SetStmt(OA_PROP_ROWSET_SIZE, 2), 0);
    ASSERT_EQ(Exec("SELECT i FROM t ORDER BY i"), 0);
    DS_ROWSET* rs = nullptr;
    uint32_t fetched = 0;
    int32_t count = 0;
    ASSERT_EQ(lib->DRV_ExtendedFetch(stmt, &rs, 0, &fetched, &count, 1), 0);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(rs->rowStatus[0], 0);
    EXPECT_EQ(rs->rowStatus[1], 0);
    EXPECT_EQ(cur->position, 1);
    ds_RowsetFree(&rs);
    ASSERT_EQ(lib->DRV_ScrollFetch(stmt, &rs, 0, &fetched, &count), 0);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(rs->rowStatus[1], 3);  // SQL_ROW_NOROW
    ds_RowsetFree(&rs);
    EXPECT_EQ(lib->DRV_ScrollFetch(stmt, &rs, 0, &fetched, &count), ERR_NO_DATA_FOUND);
    EXPECT_EQ(fetched, 0u);
    ds_RowsetFree(&rs);

    // A keyset cursor fetches only once executed through the library, where it is static
    // read-only: its rows come from the snapshot.
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    ASSERT_EQ(SetStmt(OA_PROP_CURSOR_TYPE, SCS_KEYSET), 0);
    EXPECT_EQ(lib->DRV_ExtendedFetch(stmt, &rs, 0, &fetched, &count, 1), ERR_INVALID_CURSOR_STATE);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT i FROM t"), 0);
    ASSERT_EQ(lib->DRV_Execute(stmt), 0);
    ASSERT_EQ(lib->DRV_ExtendedFetch(stmt, &rs, 1, &fetched, &count, 1), 0);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(count, 3);
    ds_RowsetFree(&rs);
}

TEST_F(ScsOps, APositionedOperationKeepsItsRowAndIsNotCapableYet) {
    ASSERT_EQ(SetStmt(OA_PROP_ROWSET_SIZE, 3), 0);
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);  // nothing runs through the library now
    EXPECT_EQ(lib->DRV_SetPos(stmt, 1, 1, 0, nullptr, nullptr, nullptr, nullptr, 0), ERR_INVALID_CURSOR_STATE);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT i FROM t"), 0);
    ASSERT_EQ(lib->DRV_Execute(stmt), 0);
    uint16_t* status = nullptr;
    int32_t n = -1;
    EXPECT_EQ(lib->DRV_SetPos(stmt, 2, 1, 0, &status, &n, nullptr, nullptr, 0), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(oa_StmtSetPos(stmt)->row, 2);
    EXPECT_EQ(cur->position, 2);
    // Bounded by the rowset size, not by the result's row count.
    EXPECT_EQ(lib->DRV_SetPos(stmt, 4, 1, 0, &status, &n, nullptr, nullptr, 0), ERR_ROW_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(cur->position, 2);
}

TEST_F(ScsOps, StoredDescriptionsAreKeptThoughTheAgentHasNoSlot) {
    ASSERT_EQ(OA_AgentOpTable.DRV_StoreParamDescs, nullptr);
    const PARAM_DESC d[1] = {exectest::Desc(1)};
    EXPECT_EQ(lib->DRV_StoreParamDescs(stmt, 1, d), 0);
    EXPECT_EQ(cur->userParamDescs.size(), 1u);
    const NAMED_PARAM_DESC named[2] = {{exectest::Desc(1), "a"}, {exectest::Desc(1, 12), "b"}};
    DATASET* values = exectest::Params({{9, "nine"}});
    ASSERT_EQ(lib->DRV_PrepareAndExecuteEx(stmt, "INSERT INTO t VALUES (?, ?)", values, 2, named), 0);
    ASSERT_EQ(cur->userParamDescs.size(), 2u);
    EXPECT_EQ(cur->userParamDescs[1].sqlType, 12);
}

TEST_F(ScsOps, AllocatePrepareLeavesAFailedPrepareOnTheConnection) {
    uint32_t made = 0;
    ASSERT_EQ(lib->DRV_AllocPrepare(conn, "SELECT i FROM t", SCS_READ_ONLY, SCS_KEYSET, &made), 0);
    ASSERT_NE(scs_FindStmt(made), nullptr);
    EXPECT_EQ(scs_FindStmt(made)->opts->cursorType, SCS_STATIC);  // keyset requested
    EXPECT_EQ(scs_FindStmt(made)->requestedType, SCS_KEYSET);
    EXPECT_EQ(lib->DRV_FreeStmt(made), 0);

    made = 0;
    EXPECT_NE(lib->DRV_AllocPrepare(conn, "SELECT nope FROM nowhere", SCS_READ_ONLY, 0, &made), 0);
    EXPECT_EQ(made, 0u);
    OA_ERRTEXTS texts{};
    ASSERT_EQ(lib->DRV_GetErrors(conn, &texts), 0);
    EXPECT_GE(texts.count, 1);
    if (texts.release != nullptr)
        texts.release(&texts);
}

TEST_F(ScsOps, ExecuteAndDescribeAnswersTheResultAndTheRowCount) {
    uint32_t rowset = 5;
    uint16_t ncols = 0, nparams = 0;
    COLDESC* cols = nullptr;
    COLDESC* params = nullptr;
    int32_t rows = -1;
    DATASET* values = exectest::Params({{2}});
    ASSERT_EQ(lib->DRV_ExecuteDescribe(stmt, "SELECT i, v FROM t WHERE i > ?", values, 0, nullptr, &rowset, &ncols,
                                       &cols, &nparams, &params, &rows),
              0);
    EXPECT_EQ(ncols, 2);
    EXPECT_EQ(nparams, 1);
    EXPECT_EQ(rows, 0);  // a query's count is unknown: 0
    EXPECT_EQ(FetchAll(), (std::vector<Strings>{{"3", "c"}}));
    ds_ColDescFree(cols, ncols);
    ds_ColDescFree(params, nparams);

    DATASET layout{};
    ASSERT_EQ(Exec("SELECT i, v FROM t"), 0);
    ASSERT_EQ(lib->DRV_GetRowLayout(stmt, &ncols, &cols, &layout), 0);
    EXPECT_EQ(ncols, 2);
    EXPECT_EQ(cols[0].internalType, layout.cols[0].type);
    ds_ColDescFree(cols, ncols);
    ds_Free(&layout);
}

// The working record goes with the agent statement when the agent frees it itself.
TEST_F(ScsOps, AStatementLeftAtDisconnectTakesItsRecordWithIt) {
    uint32_t left = 0;
    ASSERT_EQ(lib->DRV_AllocStmt(conn, &left), 0);
    ASSERT_NE(scs_FindStmt(left), nullptr);
    scs_FindStmt(left)->userParamDescs.resize(4);
    ASSERT_EQ(lib->DRV_Disconnect(conn), 0);
    EXPECT_EQ(scs_FindStmt(left), nullptr);
    EXPECT_EQ(scs_FindStmt(stmt), nullptr);
    conn = stmt = 0;
}

// ---- Long values read in pieces -----------------------------------------------------------

// A fetch that answers one long text column of two rows: 60000 and 60001 bytes.
int LongFetch(uint32_t, uint16_t rows, DATASET* block) {
    ds_Free(block);
    EXPECT_EQ(ds_Init(block, 1), 0);
    block->cols[0].type = DS_LONGCHAR;
    block->cols[0].width = 16;
    block->colsUsed = 1;
    if (rows == 0)
        return 0;
    EXPECT_EQ(ds_AllocRows(block, 2), 0);
    block->rowsUsed = 2;
    for (int r = 0; r < 2; ++r) {
        const uint32_t n = 60000 + static_cast<uint32_t>(r);
        auto* v = reinterpret_cast<DS_REFVAL*>(block->cols[0].data + 16 * r);
        v->data = std::malloc(n);
        std::memset(v->data, 'a' + r, n);
        static_cast<char*>(v->data)[n - 1] = 'z';
        v->length = n;
        block->cols[0].indicators[r] = 0;
    }
    return 0;
}

TEST_F(ScsOps, ALongValuePastTheRowsetLimitIsReadInPieces) {
    ASSERT_EQ(SetStmt(OA_PROP_ROWSET_SIZE, 2), 0);
    ASSERT_EQ(Exec("SELECT v FROM t"), 0);
    RecordingTable rt(AgentFetchingWith(LongFetch));
    DS_ROWSET* rs = nullptr;
    uint32_t fetched = 0;
    int32_t count = 0;
    ASSERT_EQ(lib->DRV_FetchInto(stmt, &rs, 0, &fetched, &count, 1), 0);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(rs->rows->cols[0].indicators[0], 0);  // 60000 bytes stay
    EXPECT_EQ(reinterpret_cast<DS_REFVAL*>(rs->rows->cols[0].data)->length, 60000u);
    EXPECT_EQ(rs->rows->cols[0].indicators[1], DS_IND_AT_SERVER);

    void* piece = nullptr;
    int32_t size = 0, type = 0, remaining = 0;
    EXPECT_EQ(lib->DRV_GetRowData(stmt, 1, 1, 25000, &piece, &size, &type, &remaining), ERR_NO_DATA_FOUND);
    EXPECT_EQ(lib->DRV_GetRowData(stmt, 2, 2, 25000, &piece, &size, &type, &remaining), ERR_INVALID_ARGUMENT_VALUE);
    std::string value;
    std::vector<int32_t> sizes, rests;
    for (int n = 0; n < 5; ++n) {
        ASSERT_EQ(lib->DRV_GetRowData(stmt, 1, 2, 25000, &piece, &size, &type, &remaining), 0);
        rests.push_back(remaining);
        if (remaining == 0)
            break;
        sizes.push_back(size);
        EXPECT_EQ(type, 1);
        value.append(static_cast<char*>(piece), static_cast<size_t>(size));
        std::free(piece);  // the caller's
    }
    EXPECT_EQ(sizes, (std::vector<int32_t>{25000, 25000, 10001}));
    EXPECT_EQ(rests, (std::vector<int32_t>{60001, 35001, 10001, 0}));
    EXPECT_EQ(value, std::string(60000, 'b') + "z");
    ds_RowsetFree(&rs);
}

}  // namespace
