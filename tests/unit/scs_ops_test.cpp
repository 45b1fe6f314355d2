// The cursor library in front of the agent: its table over the agent's, and its overrides
// run against the real agent on the embedded server, with a recording table between the
// two showing what reaches the agent.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
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
#include "tests/unit/scs_recording.h"
#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

using scstest::RecordingTable;
using Strings = std::vector<std::string>;

// ---- The table -------------------------------------------------------------------------------

const std::set<int> kOverridden = {0, 5, 6, 7, 8, 11, 12, 13, 18, 19, 20, 36, 37, 41, 42};
const std::set<int> kLibraryOnly = {36, 37, 41, 42, 44, 45, 46, 47, 48, 49, 52, 54, 65};

const void* Slot(const OA_OPTABLE& t, int n) {
    const void* p;
    std::memcpy(&p, reinterpret_cast<const char*>(&t) + n * sizeof(void*), sizeof p);
    return p;
}

TEST(ScsHook, TheLibraryTableOverridesItsSlotsAndPassesTheRest) {
    EXPECT_EQ(kOverridden.size(), 15u);
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

class ScsOps : public ::testing::Test {
protected:
    void SetUp() override {
        SCR_HookOpTable(nullptr);
        lib = SCR_LibraryTable();
        ASSERT_EQ(lib->DRV_OpenServer(nullptr, &server), 0);
        db = file.path();
        OA_CONNREQ req{};
        req.options = empty;
        req.database = db.data();
        req.dbOptions = empty;
        req.user = user;
        req.password = empty;
        ASSERT_EQ(lib->DRV_Connect(server, &req, &conn), 0);
        ASSERT_EQ(lib->DRV_AllocStmt(conn, &stmt), 0);
        cur = scs_FindStmt(stmt);
        ASSERT_NE(cur, nullptr);
        ASSERT_EQ(Exec("CREATE TABLE t (i INTEGER, v VARCHAR(20))"), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (1, 'abcdef')"), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (2, 'b')"), 0);
        ASSERT_EQ(Exec("INSERT INTO t VALUES (3, 'c')"), 0);
    }
    void TearDown() override {
        if (stmt != 0) {
            EXPECT_EQ(lib->DRV_FreeStmt(stmt), 0);
        }
        if (conn != 0) {
            EXPECT_EQ(lib->DRV_Disconnect(conn), 0);
        }
        EXPECT_EQ(lib->DRV_CloseServer(server), 0);
    }

    int Exec(const char* sql) { return lib->DRV_PrepareAndExecute(stmt, sql, nullptr, 0, nullptr); }
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

    esqltest::TempDb file;
    std::string db;
    char empty[1] = "";
    char user[6] = "alice";
    const OA_OPTABLE* lib = nullptr;
    uint32_t server = 0, conn = 0, stmt = 0;
    SCS_STMT* cur = nullptr;
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
    EXPECT_EQ(rt.rec.calls, (Strings{"11 SELECT i, v FROM t ORDER BY i", "13", "19 rows=0", "19 rows=2", "19 rows=1", "20", "8"}));
}

TEST_F(ScsOps, ExecuteWithoutPrepareIsASequenceErrorThatNeverReachesTheAgent) {
    uint32_t fresh = 0;
    ASSERT_EQ(lib->DRV_AllocStmt(conn, &fresh), 0);
    RecordingTable rt;
    exectest::LogCapture log(LOG_WARNING);
    EXPECT_EQ(lib->DRV_Execute(fresh), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(log.matching("execute without prior prepare").size(), 1u);
    EXPECT_TRUE(rt.rec.Of(13).empty());
    EXPECT_EQ(lib->DRV_FreeStmt(fresh), 0);
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

    // A keyset cursor fetches only once executed through the library, and not yet at all.
    ASSERT_EQ(lib->DRV_CloseCursor(stmt), 0);
    ASSERT_EQ(SetStmt(OA_PROP_CURSOR_TYPE, SCS_KEYSET), 0);
    EXPECT_EQ(lib->DRV_ExtendedFetch(stmt, &rs, 0, &fetched, &count, 1), ERR_INVALID_CURSOR_STATE);
    ASSERT_EQ(lib->DRV_Prepare(stmt, "SELECT i FROM t"), 0);
    ASSERT_EQ(lib->DRV_Execute(stmt), 0);
    EXPECT_EQ(lib->DRV_ExtendedFetch(stmt, &rs, 0, &fetched, &count, 1), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(rs, nullptr);
}

TEST_F(ScsOps, APositionedOperationKeepsItsRowAndIsNotCapableYet) {
    ASSERT_EQ(SetStmt(OA_PROP_ROWSET_SIZE, 3), 0);
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

}  // namespace
