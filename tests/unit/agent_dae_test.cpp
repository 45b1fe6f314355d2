// Data at execution in the agent: the exchange of OA_Execute, OA_ParamData and OA_PutData
// against the SQLite back-end (what reaches the table is the check), the positioned
// operation's road through a test runner, and the column rebuild on its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drv_pro9/oa_dae.h"
#include "tests/unit/agent_exec_fixture.h"
#include "tests/unit/esql92_fixture.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

using namespace exectest;
using convtest::Bytes;
using Table = std::vector<std::vector<std::string>>;

constexpr int kNeedData = ERR_AGENT_NEEDS_DATA_AT_EXEC_DATA;

class AgentDae : public ::testing::Test {
protected:
    void SetUp() override {
        a.Open(file.path());
        ASSERT_EQ(a.Exec("CREATE TABLE t (k INTEGER, v VARCHAR(12), n INTEGER)"), 0);
        ASSERT_EQ(OA_Prepare(a.stmtId, "INSERT INTO t VALUES (?, ?, ?)"), 0);
    }
    void TearDown() override { a.Close(); }

    // Parameter rows (k, v, n) whose v and n cells are pending, handed to the statement.
    void PendingRows(int rows) {
        std::vector<std::vector<Value>> values;
        for (int r = 0; r < rows; ++r)
            values.push_back({r + 1, "", 0});
        DATASET* ds = Params(values);
        for (int r = 0; r < rows; ++r)
            ds->cols[1].indicators[r] = ds->cols[2].indicators[r] = DS_IND_DATA_AT_EXEC;
        ASSERT_EQ(OA_SetParamValues(a.stmtId, ds), 0);
    }
    // OA_ParamData's code, with the cell it named as "param,row".
    int ParamData(std::string* cell = nullptr) {
        int32_t param = 99, row = 99;
        uint16_t* status = reinterpret_cast<uint16_t*>(this);
        int rc = OA_ParamData(a.stmtId, &param, &row, &status, nullptr);
        EXPECT_EQ(status, nullptr);
        if (cell != nullptr)
            *cell = std::to_string(param) + "," + std::to_string(row);
        return rc;
    }
    int PutText(const std::string& s) { return OA_PutData(a.stmtId, DS_CHARZ, 0, s.data(), uint32_t(s.size())); }
    int PutInt(int32_t v) { return OA_PutData(a.stmtId, DS_SLONG, 0, &v, sizeof v); }
    int PutNull(int16_t type) { return OA_PutData(a.stmtId, type, DS_IND_NULL, nullptr, 0); }

    Table Rows() {
        uint32_t s = 0;
        EXPECT_EQ(OA_AllocStmt(a.connId, &s), 0);
        EXPECT_EQ(OA_PrepareAndExecute(s, "SELECT k, v, n FROM t ORDER BY k", nullptr, 0, nullptr), 0);
        DATASET block{};
        EXPECT_EQ(OA_Fetch(s, 20, &block), 0);
        Table rows = exectest::Rows(block);
        ds_Free(&block);
        EXPECT_EQ(OA_FreeStmt(s), 0);
        return rows;
    }

    esqltest::TempDb file;
    Session a;
};

TEST_F(AgentDae, PendingCellsAreAskedForInRowOrderAndTheLastParamDataInserts) {
    PendingRows(2);
    // The execute asks for the values instead of running with the marked cells.
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    EXPECT_EQ(a.stmt->dae.state, DAE_PARAMS);
    EXPECT_TRUE(Rows().empty());

    std::string cell;
    ASSERT_EQ(ParamData(&cell), kNeedData);
    EXPECT_EQ(cell, "1,0");
    EXPECT_EQ(PutText("hel"), 0);   // pieces of text are appended
    EXPECT_EQ(PutText(""), 0);
    EXPECT_EQ(PutText("lo"), 0);
    ASSERT_EQ(ParamData(&cell), kNeedData);
    EXPECT_EQ(cell, "2,0");
    EXPECT_EQ(PutInt(7), 0);
    // A second piece of an integer is a sequence error; the first one stays.
    EXPECT_EQ(PutInt(8), ERR_FUNCTION_SEQUENCE_ERROR);
    ASSERT_EQ(ParamData(&cell), kNeedData);
    EXPECT_EQ(cell, "1,1");
    EXPECT_EQ(PutText("gone"), 0);
    EXPECT_EQ(PutNull(DS_CHARZ), 0);   // NULL whatever came before
    ASSERT_EQ(ParamData(&cell), kNeedData);
    EXPECT_EQ(cell, "2,1");
    EXPECT_EQ(a.stmt->dae.state, DAE_PARAMS_DONE);
    EXPECT_EQ(PutInt(-9), 0);
    ASSERT_EQ(ParamData(&cell), 0) << Records(a.stmt->errors).size();
    EXPECT_EQ(cell, "2,1");

    EXPECT_EQ(a.stmt->dae.state, DAE_NONE);
    EXPECT_EQ(a.stmt->rowCount, 2);
    EXPECT_EQ(Rows(), (Table{{"1", "hello", "7"}, {"2", "NULL", "-9"}}));
    EXPECT_EQ(ParamData(), ERR_FUNCTION_SEQUENCE_ERROR);
}

TEST_F(AgentDae, CellsWithoutPiecesAreSentAsNull) {
    PendingRows(1);
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    ASSERT_EQ(ParamData(), kNeedData);
    ASSERT_EQ(ParamData(), kNeedData);
    ASSERT_EQ(ParamData(), 0);
    EXPECT_EQ(Rows(), (Table{{"1", "NULL", "NULL"}}));
}

TEST_F(AgentDae, WrongOrderAndWrongPiecesAreRefused) {
    // No exchange at all.
    EXPECT_EQ(ParamData(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(PutInt(1), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(Records(a.stmt->errors), std::vector<std::string>{"S1010|Function sequence error"});

    PendingRows(1);
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    // Before the first OA_ParamData no cell is current.
    EXPECT_EQ(PutText("x"), ERR_FUNCTION_SEQUENCE_ERROR);
    ASSERT_EQ(ParamData(), kNeedData);
    EXPECT_EQ(PutText("ab"), 0);
    // Another type than the cell's first piece.
    EXPECT_EQ(OA_PutData(a.stmtId, DS_BINARY, 0, "cd", 2), ERR_GENERAL_ERROR);
    EXPECT_EQ(OA_PutData(a.stmtId, DS_CHARZ, 0, nullptr, 3), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_PutData(0xFFFF, DS_CHARZ, 0, "x", 1), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_ParamData(0xFFFF, nullptr, nullptr, nullptr, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    // A short integer for the INTEGER column: the merge refuses it and nothing runs.
    ASSERT_EQ(ParamData(), kNeedData);
    int16_t small = 5;
    EXPECT_EQ(OA_PutData(a.stmtId, DS_SSHORT, 0, &small, sizeof small), 0);
    LogCapture log(LOG_ERR);
    EXPECT_EQ(ParamData(), ERR_GENERAL_ERROR);
    EXPECT_EQ(log.matching("DAEDatasetMerge: Type mismatch.").size(), 1u);
    EXPECT_EQ(a.stmt->dae.state, DAE_NONE);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(AgentDae, TheExchangeEndsWhenTheDeferredStepFails) {
    PendingRows(1);
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    ASSERT_EQ(ParamData(), kNeedData);
    EXPECT_EQ(PutText("longer than twelve"), 0);   // VARCHAR(12) refuses it
    ASSERT_EQ(ParamData(), kNeedData);
    ASSERT_EQ(ParamData(), ERR_GENERAL_ERROR);
    ASSERT_FALSE(Records(a.stmt->errors).empty());
    EXPECT_EQ(Records(a.stmt->errors)[0].substr(0, 5), "22001");
    EXPECT_EQ(a.stmt->dae.state, DAE_NONE);
    EXPECT_EQ(a.stmt->dae.params.cols, nullptr);
    EXPECT_EQ(ParamData(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(PutText("x"), ERR_FUNCTION_SEQUENCE_ERROR);
}

TEST_F(AgentDae, ANewPrepareOrExecuteEndsAnExchange) {
    PendingRows(1);
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    ASSERT_EQ(ParamData(), kNeedData);
    EXPECT_EQ(PutText("kept?"), 0);
    // Executing again starts over: the pieces of the first exchange are gone.
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    std::string cell;
    ASSERT_EQ(ParamData(&cell), kNeedData);
    EXPECT_EQ(cell, "1,0");
    EXPECT_EQ(PutText("x"), 0);
    // Values replaced by another shape cannot take the pieces.
    ASSERT_EQ(OA_SetParamValues(a.stmtId, Params({{1, "a", 2}, {2, "b", 3}})), 0);
    ASSERT_EQ(ParamData(), kNeedData);   // no pending cell left in the new values
    EXPECT_EQ(ParamData(), ERR_GENERAL_ERROR);
    EXPECT_TRUE(Rows().empty());

    PendingRows(1);
    ASSERT_EQ(OA_Execute(a.stmtId), kNeedData);
    ASSERT_EQ(OA_Prepare(a.stmtId, "DELETE FROM t"), 0);
    EXPECT_EQ(a.stmt->dae.state, DAE_NONE);
    EXPECT_EQ(a.stmt->dae.params.cols, nullptr);
    EXPECT_EQ(ParamData(), ERR_FUNCTION_SEQUENCE_ERROR);
}

TEST_F(AgentDae, AGrowingPieceThatFindsNoMemoryLeavesTheCellAsItWas) {
    DAE_COLS pieces;
    ASSERT_EQ(pieces.alloc(1, 1), 0);
    DAE_COL* col = &pieces.cols[0];
    ASSERT_EQ(DAE_ColPut(col, 0, DS_CHARZ, 0, "ab", 2), 0);
    {
        dsfix::FailAfter none(0);
        EXPECT_EQ(DAE_ColPut(col, 0, DS_CHARZ, 0, "cd", 2), ERR_MEMORY_ALLOCATION_FAILURE);
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(col->cells[0].data), col->cells[0].length), "ab");
    EXPECT_EQ(DAE_ColPut(col, 1, DS_CHARZ, 0, "x", 1), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(DAE_ColPut(col, -1, DS_CHARZ, 0, "x", 1), ERR_INVALID_ARGUMENT_VALUE);
}

// ---- The positioned operation's road ------------------------------------------------------

struct SetPosRun {
    static inline int calls = 0;
    static inline std::string seen;
    static int Run(uint32_t stmt, uint16_t** outRowStatus, int32_t* outStatus) {
        ++calls;
        const DATASET* ds = oa_StmtSetPos(stmt)->rows;
        seen = convtest::RenderDs(&ds->cols[0], 0) + "|" + convtest::RenderDs(&ds->cols[1], 0);
        static uint16_t status[1] = {2};
        *outRowStatus = status;
        *outStatus = 1;
        return 0;
    }
};

TEST_F(AgentDae, PositionedUpdatesAndAddsCollectTheirRowAndRunTheKeptOperation) {
    dsfix::Col cols[] = {{DS_SLONG, 4}, {DS_CHARZ, 8}};
    DatasetPtr row = dsfix::Make({cols[0], cols[1]}, 1, 1);
    a.stmt->setPos.rows = row.get();
    for (uint16_t op : {0, 1, 3}) {
        row->cols[0].indicators[0] = row->cols[1].indicators[0] = DS_IND_DATA_AT_EXEC;
        a.stmt->setPos.operation = op;
        EXPECT_EQ(OA_SetPosDataAtExec(a.stmtId), 0) << op;
        EXPECT_EQ(a.stmt->dae.state, DAE_NONE);
    }
    EXPECT_EQ(OA_SetPosDataAtExec(0xFFFF), ERR_INVALID_ARGUMENT_VALUE);

    const OA_SETPOSRUN saved = oa_Library.setPosRun;
    oa_Library.setPosRun = SetPosRun::Run;
    a.stmt->setPos.operation = 2;
    ASSERT_EQ(OA_SetPosDataAtExec(a.stmtId), kNeedData);
    EXPECT_EQ(a.stmt->dae.state, DAE_ROWS);
    ASSERT_EQ(ParamData(), kNeedData);
    EXPECT_EQ(PutInt(42), 0);
    ASSERT_EQ(ParamData(), kNeedData);
    EXPECT_EQ(a.stmt->dae.state, DAE_ROWS_DONE);
    EXPECT_EQ(OA_PutData(a.stmtId, DS_CHARZ, 0, "row", 3), 0);
    uint16_t* status = nullptr;
    int32_t count = 0;
    EXPECT_EQ(OA_ParamData(a.stmtId, nullptr, nullptr, &status, &count), 0);
    oa_Library.setPosRun = saved;
    EXPECT_EQ(SetPosRun::calls, 1);
    EXPECT_EQ(SetPosRun::seen, "42|row");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status[0], 2);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(a.stmt->dae.state, DAE_NONE);

    // Without the cursor library the kept operation cannot run; the exchange ends all the same.
    a.stmt->setPos.operation = 4;
    row->cols[1].indicators[0] = DS_IND_DATA_AT_EXEC;
    ASSERT_EQ(OA_SetPosDataAtExec(a.stmtId), kNeedData);
    ASSERT_EQ(ParamData(), kNeedData);
    EXPECT_EQ(ParamData(), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(a.stmt->dae.state, DAE_NONE);
    a.stmt->setPos.rows = nullptr;
}

// ---- The column rebuild -------------------------------------------------------------------

// One column of two rows: row 0 keeps its own value, row 1 is pending and takes the piece.
struct ReplaceCase {
    const char* name;
    int32_t type;
    uint32_t width;
    std::string own;      // row 0's element bytes
    std::string piece;    // row 1's piece
    uint32_t newWidth;
    std::string row1;     // row 1's element bytes in the rebuilt column
};

TEST(DaeColReplace, RebuildsTheColumnForItsLongestValue) {
    const std::string abc("abc", 3);
    const ReplaceCase cases[] = {
        // The kept value is longer than the piece: the element is the kept value's.
        {"charz", DS_CHARZ, 16, "abcdefgh", "xy", 9, std::string("xy\0\0\0\0\0\0\0", 9)},
        {"fixed char", DS_CHAR, 4, "abcd", "hello!", 6, "hello!"},
        {"varbinary8", DS_VARBINARY8, 4, std::string("\x02zz", 3), abc, 4, "\x03" + abc},
        {"varchar16", DS_VARCHAR16, 8, std::string("\x01\0q", 3), abc, 6, std::string("\x03\0", 2) + abc + '\0'},
        {"varbinary32", DS_VARBINARY32, 8, std::string("\0\0\0\0", 4), abc, 8,
         std::string("\x03\0\0\0", 4) + abc + '\0'},
        // Wide text counts UCS-2 units: 4 bytes are 2 of them.
        {"wvarchar32", DS_WVARCHAR32, 8, std::string("\0\0\0\0", 4), std::string("a\0b\0", 4), 8,
         std::string("\x02\0\0\0a\0b\0", 8)},
        {"wcharz", DS_WCHARZ, 4, std::string("q\0", 2), std::string("a\0b\0", 4), 6, std::string("a\0b\0\0\0", 6)},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        DatasetPtr ds = dsfix::Make({{c.type, c.width}}, 2, 2);
        dsfix::PutRaw(ds.get(), 0, 0, c.own.data(), c.own.size());
        ds->cols[0].indicators[1] = DS_IND_DATA_AT_EXEC;
        DAE_COLS pieces;
        ASSERT_EQ(pieces.alloc(1, 2), 0);
        ASSERT_EQ(DAE_ColPut(&pieces.cols[0], 1, c.type, 0, c.piece.data(), uint32_t(c.piece.size())), 0);
        ASSERT_EQ(DAEDatasetColReplace(&ds->cols[0], 2, &pieces.cols[0]), 0);
        const DATASET_COL& col = ds->cols[0];
        EXPECT_EQ(col.type, c.type);
        ASSERT_EQ(col.width, c.newWidth);
        EXPECT_EQ(col.indicators[0], 0);
        EXPECT_EQ(col.indicators[1], 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ds_Elem(&col, 0)), std::min<size_t>(c.own.size(), col.width)),
                  c.own.substr(0, col.width));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ds_Elem(&col, 1)), col.width), c.row1);
    }
}

TEST(DaeColReplace, ReferencesMoveAndUnfitTypesAreRefused) {
    // A LONGBINARY piece moves into the dataset; the kept row's block moves with its element.
    DatasetPtr ds = dsfix::Make({{DS_LONGBINARY, 16}}, 2, 2);
    convtest::PutRef(&ds->cols[0], 0, "old", 3);
    ds->cols[0].indicators[1] = DS_IND_DATA_AT_EXEC;
    DAE_COLS pieces;
    ASSERT_EQ(pieces.alloc(1, 2), 0);
    ASSERT_EQ(DAE_ColPut(&pieces.cols[0], 1, DS_LONGBINARY, 0, "\x01\x02", 2), 0);
    ASSERT_EQ(DAEDatasetColReplace(&ds->cols[0], 2, &pieces.cols[0]), 0);
    EXPECT_EQ(convtest::RenderDs(&ds->cols[0], 0), "3:6f6c64");
    EXPECT_EQ(convtest::RenderDs(&ds->cols[0], 1), "2:0102");
    EXPECT_EQ(pieces.cols[0].cells[1].data, nullptr);

    // A one-byte prefix cannot state 300 bytes; long text by reference is not taken.
    struct {
        int32_t type;
        uint32_t length;
    } refused[] = {{DS_VARCHAR8, 300}, {DS_LONGCHAR, 3}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.type);
        DatasetPtr one = dsfix::Make({{c.type, 16}}, 1, 1);
        one->cols[0].indicators[0] = DS_IND_DATA_AT_EXEC;
        DAE_COLS p;
        ASSERT_EQ(p.alloc(1, 1), 0);
        std::string bytes(c.length, 'x');
        ASSERT_EQ(DAE_ColPut(&p.cols[0], 0, c.type, 0, bytes.data(), c.length), 0);
        LogCapture log(LOG_ERR);
        EXPECT_EQ(DAEDatasetColReplace(&one->cols[0], 1, &p.cols[0]), ERR_GENERAL_ERROR);
        EXPECT_EQ(one->cols[0].width, 16u);
    }
}

}  // namespace
