// Statement execution against the scripted agent: the parameter dataset (types and widths
// decided from every set, conversions, refused lengths), the agent call sequence,
// parameter arrays with their operation, status and processed counts on both roads of
// data at execution, the statement's state after a warning, and output parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/exec/execute.h"
#include "driver/handlers/lifecycle.h"
#include "driver/handlers/params.h"
#include "driver/handlers/stmttext.h"
#include "driver/objects/desc.h"
#include "exec_fixture.h"
#include "util/errcode.h"

namespace {

using namespace conn_fixture;
using exec_fixture::ExecScript;

constexpr uint32_t kStmt = 0xEEEE0001;
std::vector<COLDESC>* g_descs = nullptr;

int AllocStmt(uint32_t, uint32_t* out) {
    *out = kStmt;
    return 0;
}
int Ok(uint32_t) { return 0; }
int Prepare(uint32_t, const char*) { return 0; }
int DescribeParams(uint32_t, uint16_t* count, COLDESC** descs) {
    *count = static_cast<uint16_t>(g_descs->size());
    *descs = static_cast<COLDESC*>(std::calloc(g_descs->size() + 1, sizeof(COLDESC)));
    if (!g_descs->empty())
        std::memcpy(*descs, g_descs->data(), g_descs->size() * sizeof(COLDESC));
    return 0;
}

const OA_OPTABLE kTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = AllocStmt;
    t.DRV_FreeStmt = Ok;
    t.DRV_CloseCursor = Ok;
    t.DRV_Prepare = Prepare;
    t.DRV_DescribeParams = DescribeParams;
    exec_fixture::AddExecSlots(&t);
    return t;
}();

int BindTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kTable;
    return 0;
}

COLDESC Desc(const char* name = "*I") {
    COLDESC d{};
    std::strcpy(d.name, name);
    d.sqlType = SQL_VARCHAR;
    return d;
}

// What the mover stand-in's replacement was asked to move, and what it answers.
struct Moved {
    uint16_t column;
    void* data;
};
std::vector<Moved>* g_moved = nullptr;
SQLRETURN g_moveAnswer = SQL_SUCCESS;
SQLRETURN RecordingMover(STMT* stmt, const OUTPARAM_BINDING& b, const DATASET*) {
    g_moved->push_back({b.column, b.data});
    if (g_moveAnswer == SQL_SUCCESS_WITH_INFO)
        stmt->diag.errCode = ERR_DATA_WAS_TRUNCATED;
    return g_moveAnswer;
}

class ExecuteTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        g_descs = &descs;
        exec_fixture::g_exec = &exec;
        g_moved = &moved;
        g_moveAnswer = SQL_SUCCESS;
        ConnSetOpTableBinder(BindTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        conn->cn_hasParamOp = 1;
        SQLHANDLE h = nullptr;
        ASSERT_EQ(DoAllocStmt(conn, OutHandleArgs{&h}), SQL_SUCCESS);
        stmt = static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
        ASSERT_NE(stmt, nullptr);
    }
    void TearDown() override {
        StmtSetOutParamMover(nullptr);
        ConnTest::TearDown();
        g_descs = nullptr;
        exec_fixture::g_exec = nullptr;
        g_moved = nullptr;
    }

    void PrepareWith(std::vector<COLDESC> d, const char* text = "INSERT INTO t VALUES (?)") {
        descs = std::move(d);
        ASSERT_EQ(DoPrepare(stmt, SqlTextArgs{text, SQL_NTS}), SQL_SUCCESS);
    }
    SQLRETURN Bind(SQLUSMALLINT n, SQLSMALLINT cType, SQLSMALLINT sqlType, void* data, SQLLEN bufLen, SQLLEN* len,
                   SQLSMALLINT paramType = SQL_PARAM_INPUT) {
        return DoBindParameter(stmt, BindParameterArgs{n, paramType, cType, sqlType, 10, 0, data, bufLen, len});
    }
    SQLRETURN Execute() { return DoExecute(stmt, NoArgs{}); }
    int Code() {
        int c = stmt->diag.errCode;
        stmt->diag.errCode = 0;
        return c;
    }
    const DATASET& Sent() { return *exec.values.back(); }
    std::string Cell(int col, int row, size_t n) {
        const DATASET_COL& c = Sent().cols[col];
        return std::string(reinterpret_cast<const char*>(ds_Elem(&c, row)), n);
    }
    int16_t Ind(int col, int row) { return Sent().cols[col].indicators[row]; }

    std::vector<COLDESC> descs;
    ExecScript exec;
    std::vector<Moved> moved;
    STMT* stmt = nullptr;
};

std::string Bytes(const void* p, size_t n) {
    return std::string(static_cast<const char*>(p), n);
}

// ---- the parameter dataset ----

// One date column over five sets: a NULL, plain text, an escape, a data-at-execution
// value sent as NULL, and a timestamp escape for the date. The column is a DATE column
// for every set whatever the order, each cell the 6-byte structure; nothing is written
// past a cell. The driver's road collects the last two values.
TEST_F(ExecuteTest, DateColumnIsDecidedFromEverySet) {
    PrepareWith({Desc()});
    char text[5][32] = {"", "2024-03-01", "{d '2024-02-29'}", "", "{ts '2023-12-31 10:11:12'}"};
    SQLLEN lens[5] = {SQL_NULL_DATA, SQL_NTS, SQL_NTS, SQL_DATA_AT_EXEC, SQL_NTS};
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_TYPE_DATE, text, sizeof text[0], lens), SQL_SUCCESS);
    stmt->paramSetSize = 5;
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(DoParamData(stmt, ParamDataArgs{&token}), SQL_NEED_DATA);
    ASSERT_EQ(DoPutData(stmt, PutDataArgs{nullptr, SQL_NULL_DATA}), SQL_SUCCESS);
    ASSERT_EQ(DoParamData(stmt, ParamDataArgs{&token}), SQL_SUCCESS);

    const DATASET& ds = Sent();
    ASSERT_EQ(ds.colsUsed, 1);
    ASSERT_EQ(ds.rowsUsed, 5);
    EXPECT_EQ(ds.cols[0].type, DS_DATE);
    EXPECT_EQ(ds.cols[0].width, 6u);
    const SQL_DATE_STRUCT want[] = {{0, 0, 0}, {2024, 3, 1}, {2024, 2, 29}, {0, 0, 0}, {2023, 12, 31}};
    const int16_t ind[] = {DS_IND_NULL, 0, 0, DS_IND_NULL, 0};
    for (int r = 0; r < 5; ++r) {
        SCOPED_TRACE(r);
        EXPECT_EQ(Ind(0, r), ind[r]);
        if (ind[r] == 0) {
            EXPECT_EQ(Cell(0, r, 6), Bytes(&want[r], 6));
        }
    }
}

// Text columns are as wide as the longest value of any set (plus the NUL the agent
// counts), 64-bit integers as the 8-byte integer, hexadecimal text for a binary
// type becomes its bytes with room for the count whatever the text length, and a bad
// escape or hex digit fails the execution with its SQLSTATE.
TEST_F(ExecuteTest, WidthsAndConversionsPerColumn) {
    PrepareWith({Desc(), Desc(), Desc()});
    char text[3][8] = {"a", "abcdef", ""};
    SQLLEN textLen[3] = {SQL_NTS, SQL_NTS, 0};
    int64_t big[3] = {-9223372036854775807LL - 1, 7, 1234567890123LL};
    char hex[3][8] = {"0A1B", "ff", ""};
    SQLLEN hexLen[3] = {SQL_NTS, SQL_NTS, SQL_NTS};
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, text, 8, textLen), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_SBIGINT, SQL_BIGINT, big, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_LONGVARBINARY, hex, 8, hexLen), SQL_SUCCESS);
    stmt->paramSetSize = 3;
    ASSERT_EQ(Execute(), SQL_SUCCESS);

    const DATASET& ds = Sent();
    EXPECT_EQ(ds.cols[0].type, DS_CHAR);
    EXPECT_EQ(ds.cols[0].width, 7u);
    EXPECT_EQ(Cell(0, 1, 7), std::string("abcdef\0", 7));
    EXPECT_EQ(Ind(0, 2), 0);  // an empty value, not NULL
    EXPECT_EQ(ds.cols[1].type, DS_SBIGINT);
    EXPECT_EQ(ds.cols[1].width, 8u);
    EXPECT_EQ(Cell(1, 0, 8), Bytes(&big[0], 8));
    EXPECT_EQ(Cell(1, 2, 8), Bytes(&big[2], 8));
    EXPECT_EQ(ds.cols[2].type, DS_VARBINARY32);
    EXPECT_GE(ds.cols[2].width, 4u + 2u);
    EXPECT_EQ(Cell(2, 0, 6), std::string("\x02\0\0\0\x0A\x1B", 6));
    EXPECT_EQ(Cell(2, 1, 5), std::string("\x01\0\0\0\xFF", 5));

    struct Case {
        const char* value;
        SQLSMALLINT sqlType;
        int code;
    } cases[] = {{"0G", SQL_BINARY, ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION},
                 {"{d '2024-13-01'}", SQL_TYPE_DATE, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        char v[32];
        std::strcpy(v, c.value);
        SQLLEN n = SQL_NTS;
        stmt->paramSetSize = 1;
        PrepareWith({Desc()});
        ASSERT_EQ(Bind(1, SQL_C_CHAR, c.sqlType, v, sizeof v, &n), SQL_SUCCESS);
        EXPECT_EQ(Execute(), SQL_ERROR);
        const int code = Code();
        if (c.code != 0)
            EXPECT_EQ(code, c.code);
        else
            EXPECT_TRUE(code == ERR_INVALID_DATETIME_FORMAT || code == ERR_DATE_OVERFLOW) << code;
    }
}

// A BIGINT value goes to the agent as the 8-byte integer wherever the server then sees
// the same value as from its text; the column stays text when one set's value would not
// (an unsigned value past INT64_MAX, a value the agent takes at execution, an
// input/output value, text that is not an integer's one spelling).
TEST_F(ExecuteTest, BigintTravelsAsAnIntegerWhereTheValueStaysTheSame) {
    const uint64_t large = uint64_t{1} << 63;
    struct Case {
        const char* name;
        SQLSMALLINT cType;
        std::vector<std::string> values;  // text, or the decimal of the C integer
        bool nullSecond;                  // the second set is NULL
        SQLSMALLINT paramType;
        bool agentRoadAtExec;             // the second set's value is given at execution
        int32_t type;                     // the column's internal type
    } cases[] = {
        {"signed", SQL_C_SBIGINT, {"-9223372036854775808", "9223372036854775807"}, false, SQL_PARAM_INPUT, false,
         DS_SBIGINT},
        {"signed with a NULL", SQL_C_SBIGINT, {"5", "0"}, true, SQL_PARAM_INPUT, false, DS_SBIGINT},
        {"unsigned up to INT64_MAX", SQL_C_UBIGINT, {"0", "9223372036854775807"}, false, SQL_PARAM_INPUT, false,
         DS_SBIGINT},
        {"unsigned past INT64_MAX", SQL_C_UBIGINT, {"1", std::to_string(large)}, false, SQL_PARAM_INPUT, false,
         DS_CHAR},
        {"given to the agent at execution", SQL_C_SBIGINT, {"1", "2"}, false, SQL_PARAM_INPUT, true, DS_CHAR},
        {"input/output", SQL_C_SBIGINT, {"1", "2"}, false, SQL_PARAM_INPUT_OUTPUT, false, DS_CHAR},
        {"integer text", SQL_C_CHAR, {"-9223372036854775808", "0"}, true, SQL_PARAM_INPUT, false, DS_SBIGINT},
        {"wide integer text", SQL_C_WCHAR, {"-12", "345"}, false, SQL_PARAM_INPUT, false, DS_SBIGINT},
        {"leading zero", SQL_C_CHAR, {"1", "007"}, false, SQL_PARAM_INPUT, false, DS_CHAR},
        {"sign and spaces", SQL_C_CHAR, {"+7", " 7"}, false, SQL_PARAM_INPUT, false, DS_CHAR},
        {"minus zero", SQL_C_CHAR, {"1", "-0"}, false, SQL_PARAM_INPUT, false, DS_CHAR},
        {"past 64 bits", SQL_C_CHAR, {"1", "9223372036854775808"}, false, SQL_PARAM_INPUT, false, DS_CHAR},
        {"empty", SQL_C_CHAR, {"1", ""}, false, SQL_PARAM_INPUT, false, DS_CHAR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        conn->cn_hasV2DAE = c.agentRoadAtExec ? 1 : 0;
        PrepareWith({Desc(c.paramType == SQL_PARAM_INPUT ? "*I" : "*U")});
        uint64_t ints[2] = {};
        char text[2][24] = {};
        SQLWCHAR wide[2][24] = {};
        SQLLEN lens[2] = {SQL_NTS, SQL_NTS};
        const bool isText = c.cType == SQL_C_CHAR || c.cType == SQL_C_WCHAR;
        for (int s = 0; s < 2; ++s) {
            const std::string& v = c.values[s];
            ints[s] = v[0] == '-' ? static_cast<uint64_t>(std::stoll(v)) : std::stoull(v.empty() ? "0" : v);
            std::strcpy(text[s], v.c_str());
            for (size_t k = 0; k < v.size(); ++k)
                wide[s][k] = static_cast<unsigned char>(v[k]);
            if (!isText)
                lens[s] = 0;
        }
        if (c.nullSecond)
            lens[1] = SQL_NULL_DATA;
        if (c.agentRoadAtExec)
            lens[1] = SQL_DATA_AT_EXEC;
        void* data = c.cType == SQL_C_CHAR ? static_cast<void*>(text) : c.cType == SQL_C_WCHAR ? static_cast<void*>(wide)
                                                                                              : static_cast<void*>(ints);
        const SQLLEN bufLen = c.cType == SQL_C_CHAR ? 24 : c.cType == SQL_C_WCHAR ? 48 : 0;
        ASSERT_EQ(Bind(1, c.cType, SQL_BIGINT, data, bufLen, lens, c.paramType), SQL_SUCCESS);
        stmt->paramSetSize = 2;
        Execute();
        ASSERT_FALSE(exec.values.empty());
        EXPECT_EQ(Sent().cols[0].type, c.type);
        if (c.type == DS_SBIGINT) {
            EXPECT_EQ(Cell(0, 0, 8), Bytes(&ints[0], 8));
            if (c.nullSecond)
                EXPECT_EQ(Ind(0, 1), DS_IND_NULL);
            else
                EXPECT_EQ(Cell(0, 1, 8), Bytes(&ints[1], 8));
        }
        StmtCancelDataAtExec(stmt);
        stmt->daeState = STMT_DAE_NONE;
    }
}

// Executed again with sets that need the same columns and rows, the statement refills the
// dataset the agent holds (handed again, not a new one) and every cell reads as in a new
// dataset: a shorter text with no trace of the longer one before it, a NULL where a value
// was. Other widths get a new dataset; a refill that fails leaves it no rows to run.
TEST_F(ExecuteTest, ExecutingAgainRefillsTheAgentsDataset) {
    PrepareWith({Desc(), Desc(), Desc()});
    char text[2][8] = {"abcd", "x"};
    SQLLEN textLen[2] = {SQL_NTS, SQL_NTS};
    int32_t num[2] = {1, 2};
    SQLLEN numInd[2] = {0, 0};
    char hex[2][8] = {"0A1B", "ff"};
    SQLLEN hexLen[2] = {SQL_NTS, SQL_NTS};
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, text, 8, textLen), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_SLONG, SQL_INTEGER, num, 0, numInd), SQL_SUCCESS);
    ASSERT_EQ(Bind(3, SQL_C_CHAR, SQL_VARBINARY, hex, 8, hexLen), SQL_SUCCESS);
    stmt->paramSetSize = 2;
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    const DATASET* first = &Sent();

    std::strcpy(text[0], "y");
    std::strcpy(text[1], "wxyz");
    numInd[1] = SQL_NULL_DATA;
    std::strcpy(hex[0], "00ff");
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    ASSERT_EQ(exec.values.size(), 1u);
    EXPECT_EQ(&Sent(), first);
    EXPECT_EQ(exec.calls, (std::vector<std::string>{"Values", "Execute", "Values", "Execute"}));
    EXPECT_EQ(Sent().rowsUsed, 2);
    EXPECT_EQ(Cell(0, 0, 5), std::string("y\0\0\0\0", 5));
    EXPECT_EQ(Cell(0, 1, 5), std::string("wxyz\0", 5));
    EXPECT_EQ(Ind(1, 0), 0);
    EXPECT_EQ(Cell(1, 0, 4), Bytes(&num[0], 4));
    EXPECT_EQ(Ind(1, 1), DS_IND_NULL);
    EXPECT_EQ(Cell(1, 1, 4), std::string(4, '\0'));
    EXPECT_EQ(Cell(2, 0, 6), std::string("\x02\0\0\0\0\xFF", 6));

    // A longer text widens its column: a new dataset. Shorter texts after it are refilled
    // into the wider elements, which read as the shorter values.
    std::strcpy(text[0], "abcdefg");
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    ASSERT_EQ(exec.values.size(), 2u);
    EXPECT_EQ(Sent().cols[0].width, 8u);
    EXPECT_EQ(Cell(0, 0, 8), std::string("abcdefg\0", 8));
    std::strcpy(text[0], "ab");
    std::strcpy(text[1], "c");
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    ASSERT_EQ(exec.values.size(), 2u);
    EXPECT_EQ(Cell(0, 0, 8), std::string("ab\0\0\0\0\0\0", 8));
    EXPECT_EQ(Cell(0, 1, 8), std::string("c\0\0\0\0\0\0\0", 8));

    // A bad hex digit in the same shape: refused, and the dataset has no rows left to run.
    std::strcpy(hex[1], "fg");
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    ASSERT_EQ(exec.values.size(), 2u);
    EXPECT_EQ(Sent().rowsUsed, 0);
}

// An array of text larger than the cells a thread keeps between builds: every set's value
// lands in its row, and a small execution after it (the cells given back) is built too.
TEST_F(ExecuteTest, LargeTextArraysFillEveryRow) {
    PrepareWith({Desc()});
    constexpr uint32_t kSets = 70000;
    std::vector<char> text(kSets * 8);
    std::vector<SQLLEN> lens(kSets, SQL_NTS);
    for (uint32_t s = 0; s < kSets; ++s)
        std::snprintf(&text[s * 8], 8, "%u", s);
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, text.data(), 8, lens.data()), SQL_SUCCESS);
    stmt->paramSetSize = kSets;
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    ASSERT_EQ(Sent().rowsUsed, static_cast<int32_t>(kSets));
    EXPECT_EQ(Sent().cols[0].width, 6u);
    EXPECT_EQ(Cell(0, 0, 6), std::string("0\0\0\0\0\0", 6));
    EXPECT_EQ(Cell(0, kSets - 1, 6), std::string("69999\0", 6));
    stmt->paramSetSize = 2;
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    ASSERT_EQ(Sent().rowsUsed, 2);
    EXPECT_EQ(Cell(0, 1, 2), std::string("1\0", 2));
}

// A negative length with no meaning is refused before it can be used as a length;
// SQL_DEFAULT_PARAM sends NULL.
TEST_F(ExecuteTest, UndefinedNegativeLengthsAreRefused) {
    PrepareWith({Desc()});
    char v[8] = "abc";
    SQLLEN len = -7;
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, v, sizeof v, &len), SQL_SUCCESS);
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_TRUE(exec.calls.empty());
    len = SQL_DEFAULT_PARAM;
    EXPECT_EQ(Execute(), SQL_SUCCESS);
    EXPECT_EQ(Ind(0, 0), DS_IND_NULL);
}

// Of several refused cells, the execution answers the first in the order of the sets,
// and of the parameters within a set: the hex digit of the first set, not the length of
// the second set's integer before it.
TEST_F(ExecuteTest, TheFirstRefusedCellDecides) {
    PrepareWith({Desc(), Desc()});
    int32_t num[2] = {1, 2};
    SQLLEN numLen[2] = {0, -7};
    char hex[2][4] = {"zz", "00"};
    SQLLEN hexLen[2] = {SQL_NTS, SQL_NTS};
    ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, num, 0, numLen), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_BINARY, hex, sizeof hex[0], hexLen), SQL_SUCCESS);
    stmt->paramSetSize = 2;
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    std::strcpy(hex[0], "01");
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_TRUE(exec.calls.empty());
}

// ---- parameter arrays on both roads ----

class ArrayTest : public ExecuteTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ExecuteTest::SetUp();
        conn->cn_hasV2DAE = GetParam() ? 1 : 0;
    }
};
INSTANTIATE_TEST_SUITE_P(Roads, ArrayTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Agent" : "Driver"; });

// Row-wise sets behind a bind offset of more than 32 bits: the ignored set is not sent,
// the processed count and the status array say what ran; a set failing in the middle
// (the agent's row count 1) leaves the one before it done, itself in error and the rest
// unused.
TEST_P(ArrayTest, OperationStatusAndProcessedArrays) {
    PrepareWith({Desc(), Desc(), Desc()});
    struct Row {
        int32_t id;
        SQLLEN idLen;
        char name[6];
        SQLLEN nameLen;
        double amount;  // bound without a length buffer
    };
    Row rows[4] = {{1, 0, "one", SQL_NTS, 1.5},
                   {2, 0, "two", SQL_NTS, 2.5},
                   {3, 0, "three", SQL_NTS, 3.5},
                   {4, 0, "", SQL_NULL_DATA, 4.5}};
    // The bound addresses lie 2^32 below the rows: read as 32 bits the offset would miss.
    const SQLLEN offset = SQLLEN{1} << 32;
    auto below = [&](void* p) { return reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(p) - offset); };
    ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, below(&rows[0].id), 0, reinterpret_cast<SQLLEN*>(below(&rows[0].idLen))),
              SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_VARCHAR, below(rows[0].name), 6, reinterpret_cast<SQLLEN*>(below(&rows[0].nameLen))),
              SQL_SUCCESS);
    ASSERT_EQ(Bind(3, SQL_C_DOUBLE, SQL_DOUBLE, below(&rows[0].amount), 0, nullptr), SQL_SUCCESS);
    SQLLEN bindOffset = offset;
    stmt->apd->bindOffset = &bindOffset;
    stmt->apd->bindType = sizeof(Row);
    SQLUSMALLINT operations[4] = {SQL_PARAM_PROCEED, SQL_PARAM_IGNORE, SQL_PARAM_PROCEED, SQL_PARAM_PROCEED};
    SQLUSMALLINT status[4] = {99, 99, 99, 99};
    SQLULEN processed = 0;
    stmt->apd->arrayStatus = operations;
    stmt->ipd->arrayStatus = status;
    stmt->rowsProcessed = &processed;
    stmt->paramSetSize = 4;

    ASSERT_EQ(Execute(), SQL_SUCCESS);
    const DATASET& ds = Sent();
    ASSERT_EQ(ds.rowsUsed, 3);
    EXPECT_EQ(Cell(0, 1, 4), Bytes(&rows[2].id, 4));
    EXPECT_EQ(Cell(1, 1, 6), std::string("three\0", 6));
    EXPECT_EQ(Ind(1, 2), DS_IND_NULL);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(Cell(2, r, 8), Bytes(&rows[r == 0 ? 0 : r + 1].amount, 8)) << r;
        EXPECT_EQ(Ind(2, r), 0) << r;
    }
    EXPECT_EQ(processed, 3u);
    EXPECT_EQ(std::vector<int>(status, status + 4),
              (std::vector<int>{SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED, SQL_PARAM_SUCCESS, SQL_PARAM_SUCCESS}));
    EXPECT_EQ(stmt->state, STMT_STATE_PREPARED);

    exec.executeCodes = {ERR_INTEGRITY_VIOLATION};
    fake.props[OA_PROP_ROW_COUNT] = 1;
    fake.errors[kStmt] = {"duplicate"};
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INTEGRITY_VIOLATION);
    EXPECT_EQ(Messages(stmt->diag), std::vector<std::string>{"duplicate"});
    EXPECT_EQ(processed, 2u);
    EXPECT_EQ(std::vector<int>(status, status + 4),
              (std::vector<int>{SQL_PARAM_SUCCESS, SQL_PARAM_UNUSED, SQL_PARAM_ERROR, SQL_PARAM_UNUSED}));
}

// An array larger than a slice goes to the agent a slice at a time in one dataset refilled
// for each (a last, shorter slice gets its own), the agent told before each slice but the
// last that more follow, and told at the end that none does. What the application sees is
// one execution: every set processed and its status, the agent's count; a failing slice
// names its failing set among all the sets (the agent counts on from the slices before,
// which this agent's fixed count of 300 puts at the slice's first set); a value a fill
// would refuse in the last slice refuses the execution before any slice ran.
TEST_P(ArrayTest, LargeArraysGoInSlicesAndEndAsOneExecution) {
    constexpr uint32_t kSets = 2500;
    fake.props[OA_PROP_STATEMENT_KIND] = OA_STMT_KIND_DML;
    fake.props[OA_PROP_ROW_COUNT] = 300;
    PrepareWith({Desc(), Desc()});
    std::vector<int32_t> ids(kSets);
    std::vector<char> hex(kSets * 4, '\0');
    std::vector<SQLLEN> hexLen(kSets, SQL_NTS);
    for (uint32_t s = 0; s < kSets; ++s) {
        ids[s] = static_cast<int32_t>(s);
        std::memcpy(&hex[s * 4], "0a", 3);
    }
    std::vector<SQLUSMALLINT> status(kSets, 99);
    SQLULEN processed = 0;
    ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, ids.data(), 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_BINARY, hex.data(), 4, hexLen.data()), SQL_SUCCESS);
    stmt->ipd->arrayStatus = status.data();
    stmt->rowsProcessed = &processed;
    stmt->paramSetSize = kSets;
    const std::string follows = "SetProperty " + Hex(OA_PROP_SLICE_FOLLOWS);
    auto sliceCalls = [&] {
        std::vector<std::string> out;
        for (const std::string& c : fake.calls)
            if (c.rfind(follows, 0) == 0)
                out.push_back(c.substr(follows.size()));
        fake.calls.clear();
        return out;
    };

    ASSERT_EQ(Execute(), SQL_SUCCESS);
    EXPECT_EQ(sliceCalls(), (std::vector<std::string>{"=0", "=1", "=1", "=0", "=0"}));
    ASSERT_EQ(exec.values.size(), 2u);
    EXPECT_EQ(exec.values[0]->rowsUsed, 1000);
    EXPECT_EQ(Sent().rowsUsed, 500);
    EXPECT_EQ(Cell(0, 0, 4), Bytes(&ids[2000], 4));
    EXPECT_EQ(Cell(0, 499, 4), Bytes(&ids[2499], 4));
    EXPECT_EQ(processed, kSets);
    EXPECT_EQ(std::count(status.begin(), status.end(), SQL_PARAM_SUCCESS), static_cast<long>(kSets));
    EXPECT_EQ(stmt->rowCount, 300);
    size_t executions = 0;
    for (const std::string& c : exec.calls)
        executions += c.rfind("Execute", 0) == 0 ? 1 : 0;
    EXPECT_EQ(executions, 3u);

    exec.calls.clear();
    exec.executeCodes = {0, ERR_GENERAL_ERROR};
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_GENERAL_ERROR);
    EXPECT_EQ(sliceCalls(), (std::vector<std::string>{"=0", "=1", "=1", "=0"}));
    EXPECT_EQ(processed, 1001u);
    EXPECT_EQ(status[999], SQL_PARAM_SUCCESS);
    EXPECT_EQ(status[1000], SQL_PARAM_ERROR);
    EXPECT_EQ(status[1001], SQL_PARAM_UNUSED);
    EXPECT_EQ(status[kSets - 1], SQL_PARAM_UNUSED);
    EXPECT_EQ(stmt->rowCount, 300);

    exec.calls.clear();
    std::memcpy(&hex[2400 * 4], "0g", 3);
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    EXPECT_TRUE(exec.calls.empty());
}

// A query over several sets reports one set processed: the further sets are the next
// results.
TEST_P(ArrayTest, QueryOverSetsReportsOne) {
    PrepareWith({Desc()}, "select * from t where id = ?");
    int32_t ids[10] = {};
    ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, ids, 0, nullptr), SQL_SUCCESS);
    SQLULEN processed = 0;
    stmt->rowsProcessed = &processed;
    stmt->paramSetSize = 10;
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    EXPECT_EQ(Sent().rowsUsed, 10);
    EXPECT_EQ(processed, 1u);
}

// A warning from the agent executes the statement all the same; the agent's 80 (output
// values ready) leaves no diagnostic behind a successful execution.
TEST_P(ArrayTest, WarningExecutesAndReadyOutputLeavesNoDiagnostic) {
    PrepareWith({});
    exec.executeCodes = {ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING};
    fake.errors[kStmt] = {"warned"};
    EXPECT_EQ(Execute(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(Code(), ERR_DATASOURCE_COMPLETED_OPERATION_WITH_WARNING);
    EXPECT_EQ(Messages(stmt->diag), std::vector<std::string>{"warned"});
    EXPECT_NE(stmt->flags & STMT_FLAG_CURSOR_OPEN, 0);
    EXPECT_EQ(stmt->state, STMT_STATE_PREPARED);

    stmt->diag.messages.clear();
    exec.executeCodes = {ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES};
    EXPECT_EQ(Execute(), SQL_SUCCESS);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(exec.calls, (std::vector<std::string>{"Execute", "Execute"}));  // no values to send
}

// ---- the agent call sequence ----

// With the combined call the descriptions go once, until a binding changes them (a new
// buffer alone does not, and its value is the one sent); without it they go before every
// execute.
TEST_F(ExecuteTest, DescriptionsAreSentOnceWithTheCombinedCall) {
    conn->cn_needbind = 1;
    stmt->flags |= STMT_FLAG_NEEDBIND;
    int32_t v = 5;
    int16_t w = 9;
    for (bool combined : {true, false}) {
        SCOPED_TRACE(combined);
        conn->cn_hasExecute2 = combined ? 1 : 0;
        exec.calls.clear();
        PrepareWith({Desc()});
        ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, &v, 0, nullptr), SQL_SUCCESS);
        ASSERT_EQ(Execute(), SQL_SUCCESS);
        ASSERT_EQ(Execute(), SQL_SUCCESS);
        ASSERT_EQ(Bind(1, SQL_C_SSHORT, SQL_INTEGER, &v, 0, nullptr), SQL_SUCCESS);
        ASSERT_EQ(Execute(), SQL_SUCCESS);
        ASSERT_EQ(Bind(1, SQL_C_SSHORT, SQL_INTEGER, &w, 0, nullptr), SQL_SUCCESS);
        ASSERT_EQ(Execute(), SQL_SUCCESS);
        const std::vector<std::string> want =
            combined ? std::vector<std::string>{"Execute2 1 values", "Execute2 0 values", "Execute2 1 values",
                                                "Execute2 0 values"}
                     : std::vector<std::string>{"Values", "Descs 1", "Execute", "Values", "Descs 1", "Execute",
                                                "Values", "Descs 1", "Execute", "Values", "Descs 1", "Execute"};
        EXPECT_EQ(exec.calls, want);
        EXPECT_EQ(exec.descs.back()[0].cType, SQL_C_SSHORT);
        EXPECT_EQ(exec.descs.back()[0].paramType, OA_PARAM_INPUT);
        EXPECT_EQ(Cell(0, 0, 2), Bytes(&w, 2));
    }
}

// ---- output parameters ----

// A call with one input, one output and one "*U" parameter bound input/output sends two
// columns and moves two values, from columns 1 and 2 of the output row; one cut value
// makes the execution SQL_SUCCESS_WITH_INFO with 01004. Column delivery itself refuses
// an output row without the columns.
TEST_F(ExecuteTest, OutputParametersComeBackByDirection) {
    PrepareWith({Desc("*I"), Desc("*O"), Desc("*U")}, "{call p(?, ?, ?)}");
    int32_t in = 1, out = 0, inOut = 3;
    SQLLEN len = 0;
    ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, &in, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_SLONG, SQL_INTEGER, &out, 0, &len, SQL_PARAM_OUTPUT), SQL_SUCCESS);
    ASSERT_EQ(Bind(3, SQL_C_SLONG, SQL_INTEGER, &inOut, 0, nullptr, SQL_PARAM_INPUT_OUTPUT), SQL_SUCCESS);
    stmt->paramKindsUnknown = true;  // the prepare saw "*U"

    EXPECT_EQ(Execute(), SQL_ERROR);  // the agent handed out no output row
    EXPECT_EQ(Code(), ERR_INVALID_COLUMN_NUMBER);
    EXPECT_EQ(Sent().colsUsed, 2);
    EXPECT_EQ(stmt->outParams, 1);
    EXPECT_EQ(stmt->inOutParams, 1);

    StmtSetOutParamMover(RecordingMover);
    ASSERT_EQ(Execute(), SQL_SUCCESS);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].column, 1);
    EXPECT_EQ(moved[0].data, &out);
    EXPECT_EQ(moved[1].column, 2);
    EXPECT_EQ(moved[1].data, &inOut);

    g_moveAnswer = SQL_SUCCESS_WITH_INFO;
    EXPECT_EQ(Execute(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(Code(), ERR_DATA_WAS_TRUNCATED);

    exec.fetchRc = ERR_GENERAL_ERROR;
    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_GENERAL_ERROR);
}

}  // namespace
