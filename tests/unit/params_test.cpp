// Parameter bindings and the exchange of values given at execution, against the scripted
// agent: the exchange on both roads (the driver keeping the pieces, the agent taking
// them through slots 38 and 39), the calls out of turn, the agent road's conversions,
// and SQLBindParameter, SQLSetParam and SQLDescribeParam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "exec_fixture.h"
#include "driver/handlers/colattr.h"
#include "driver/handlers/fetch.h"
#include "driver/handlers/lifecycle.h"
#include "driver/handlers/params.h"
#include "driver/handlers/stmtattr.h"
#include "driver/handlers/stmttext.h"
#include "driver/objects/desc.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

using namespace conn_fixture;
using Sent = FakeAgent::PutDataSent;

constexpr uint32_t kFakeStmt = 0xCCCC0001;

// The parameter descriptions the scripted agent gives at prepare and on request.
struct ParamScript {
    std::vector<COLDESC> params;
};
ParamScript* g_params = nullptr;

int FakeAllocStmt(uint32_t, uint32_t* out) {
    *out = kFakeStmt;
    return 0;
}
int FakeOk(uint32_t) { return 0; }
int FakePrepare(uint32_t, const char*) { return 0; }
int FakeCancel(uint32_t) {
    g_fake->calls.push_back("Cancel");
    return 0;
}
int FakeDescribeParams(uint32_t, uint16_t* count, COLDESC** descs) {
    const auto& p = g_params->params;
    *count = static_cast<uint16_t>(p.size());
    *descs = p.empty() ? nullptr : static_cast<COLDESC*>(std::calloc(p.size(), sizeof(COLDESC)));
    for (size_t i = 0; i < p.size(); ++i)
        std::memcpy(&(*descs)[i], &p[i], sizeof(COLDESC));  // no owned texts
    return 0;
}

// Slot 37 as the cursor library takes it: the target row, the operation, the result columns
// and each image row as "cell|cell" (a value as text, else its indicator); it answers every
// row updated.
struct SetPosSeen {
    int32_t row = 0;
    uint16_t operation = 0;
    std::vector<uint16_t> columns;
    std::vector<std::string> rows;
};
SetPosSeen g_setPos;

int FakeSetPos(uint32_t, int32_t row, uint16_t operation, uint16_t, uint16_t** status, int32_t* count, DATASET* image,
               const uint16_t* columns, uint16_t columnCount) {
    g_setPos = SetPosSeen{row, operation, std::vector<uint16_t>(columns, columns + columnCount), {}};
    for (int32_t r = 0; image != nullptr && r < image->rowsUsed; ++r) {
        std::string cells;
        for (uint16_t c = 0; c < image->colsUsed; ++c) {
            const DATASET_COL& col = image->cols[c];
            std::string v = std::to_string(col.indicators[r]);
            if (col.indicators[r] >= 0 && col.type == DS_SLONG) {
                int32_t n = 0;
                std::memcpy(&n, ds_Elem(&col, r), sizeof n);
                v = std::to_string(n);
            } else if (col.indicators[r] >= 0) {
                v = reinterpret_cast<const char*>(ds_Elem(&col, r));
            }
            cells += (c != 0 ? "|" : "") + v;
        }
        g_setPos.rows.push_back(cells);
    }
    *count = row == -2 ? image->rowsUsed : 1;
    *status = static_cast<uint16_t*>(uh_Malloc(sizeof(uint16_t) * static_cast<size_t>(*count)));
    for (int32_t i = 0; i < *count; ++i)
        (*status)[i] = SQL_ROW_UPDATED;
    return 0;
}

const OA_OPTABLE kParamTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_SetPos = FakeSetPos;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeOk;
    t.DRV_CloseCursor = FakeOk;
    t.DRV_Prepare = FakePrepare;
    t.DRV_Cancel = FakeCancel;
    t.DRV_DescribeParams = FakeDescribeParams;
    exec_fixture::AddExecSlots(&t);
    return t;
}();

int BindParamTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kParamTable;
    return 0;
}

COLDESC ParamDesc(int32_t sqlType, uint32_t size = 10, int16_t digits = 0, uint32_t flags = SQL_NULLABLE) {
    COLDESC d{};
    std::strcpy(d.name, "p");
    d.sqlType = sqlType;
    d.columnSize = size;
    d.decimalDigits = digits;
    d.flags = flags;
    return d;
}

// A connected connection with one statement.
class ParamsTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        g_params = &script;
        exec_fixture::g_exec = &exec;
        ConnSetOpTableBinder(BindParamTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        SQLHANDLE h = nullptr;
        ASSERT_EQ(DoAllocStmt(conn, OutHandleArgs{&h}), SQL_SUCCESS);
        stmt = static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
        ASSERT_NE(stmt, nullptr);
    }
    void TearDown() override {
        ConnTest::TearDown();
        g_params = nullptr;
        exec_fixture::g_exec = nullptr;
    }

    // Prepares a statement with n parameters.
    void Prepare(size_t n) {
        script.params.assign(n, ParamDesc(SQL_VARCHAR));
        ASSERT_EQ(DoPrepare(stmt, SqlTextArgs{"INSERT INTO t VALUES (?)", SQL_NTS}), SQL_SUCCESS);
    }
    SQLRETURN Bind(SQLUSMALLINT n, SQLSMALLINT cType, SQLSMALLINT sqlType, void* data, SQLLEN* len,
                   SQLSMALLINT paramType = SQL_PARAM_INPUT, SQLSMALLINT digits = 0) {
        return DoBindParameter(stmt, BindParameterArgs{n, paramType, cType, sqlType, 10, digits, data, 0, len});
    }
    SQLRETURN Execute() { return DoExecute(stmt, NoArgs{}); }
    SQLRETURN ParamData(SQLPOINTER* token) { return DoParamData(stmt, ParamDataArgs{token}); }
    SQLRETURN Put(const void* data, SQLLEN len) {
        return DoPutData(stmt, PutDataArgs{const_cast<void*>(data), len});
    }
    // The pending code, taken.
    int Code() {
        int c = stmt->diag.errCode;
        stmt->diag.errCode = 0;
        return c;
    }
    // The value the driver collected for parameter n, row r.
    std::optional<std::string> Piece(uint16_t n, size_t r = 0) {
        const PIECES& p = StmtGetParam(stmt, n)->pieces;
        return r < p.size() ? p[r].bytes : std::nullopt;
    }

    ParamScript script;
    exec_fixture::ExecScript exec;
    STMT* stmt = nullptr;
};

// ---- the exchange on both roads ----

class DataAtExecTest : public ParamsTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ParamsTest::SetUp();
        conn->cn_hasV2DAE = agentRoad() ? 1 : 0;
    }
    bool agentRoad() const { return GetParam(); }
    // On the agent's road the agent names the values: scripted as it would answer.
    void AgentAsks(std::vector<FakeAgent::ParamDataAnswer> answers) {
        if (agentRoad())
            fake.paramDataAnswers = std::move(answers);
    }

    // Three parameters: 1 and 3 given at execution, 2 bound as it is.
    char text[16] = "";
    int32_t number = 7;
    unsigned char bytes[8] = {};
    SQLLEN dae1 = SQL_DATA_AT_EXEC, len2 = sizeof(int32_t), dae3 = SQL_LEN_DATA_AT_EXEC(8);
    void BindThree() {
        Prepare(3);
        ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, text, &dae1), SQL_SUCCESS);
        ASSERT_EQ(Bind(2, SQL_C_SLONG, SQL_INTEGER, &number, &len2), SQL_SUCCESS);
        ASSERT_EQ(Bind(3, SQL_C_BINARY, SQL_VARBINARY, bytes, &dae3), SQL_SUCCESS);
    }
};

INSTANTIATE_TEST_SUITE_P(Roads, DataAtExecTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Agent" : "Driver"; });

// The values are asked for in parameter order with the application's data pointers as
// tokens; pieces of 10, 0 and 5 bytes make one value of 15, SQL_NULL_DATA a NULL; the
// SQLParamData after the last value ends the exchange with the execution.
TEST_P(DataAtExecTest, PiecesGoToTheValueTheTokenNames) {
    BindThree();
    SQLULEN processed = 0;
    stmt->rowsProcessed = &processed;
    AgentAsks({{102, 0}, {102, 2}, {0}});

    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, text);
    EXPECT_EQ(processed, 1u);
    EXPECT_EQ(Put("0123456789", 10), SQL_SUCCESS);
    EXPECT_EQ(Put("", 0), SQL_SUCCESS);
    EXPECT_EQ(Put("abcdeXXX", 5), SQL_SUCCESS);
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, bytes);
    EXPECT_EQ(Put("zz", 2), SQL_SUCCESS);
    EXPECT_EQ(Put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);

    EXPECT_EQ(ParamData(&token), SQL_SUCCESS);
    EXPECT_EQ(Code(), 0);
    EXPECT_EQ(stmt->daeState, STMT_DAE_NONE);
    if (agentRoad()) {
        EXPECT_EQ(fake.putDataSent, (std::vector<Sent>{{DS_CHAR, 0, false, "0123456789"},
                                                       {DS_CHAR, 0, true, ""},
                                                       {DS_CHAR, 0, false, "abcde"},
                                                       {DS_BINARY, 0, false, "zz"},
                                                       {DS_BINARY, DS_IND_NULL, true, ""}}));
    } else {
        EXPECT_EQ(Piece(1), "0123456789abcde");
        EXPECT_EQ(Piece(3), std::nullopt);
        EXPECT_TRUE(fake.putDataSent.empty());
    }
}

// Nothing is joined to a NULL: a piece after SQL_NULL_DATA answers S1020 and leaves the
// value NULL; the next value starts afresh.
TEST_P(DataAtExecTest, PieceAfterNullIsRefused) {
    BindThree();
    AgentAsks({{102, 0}, {102, 2}, {0}});
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(Put(nullptr, SQL_NULL_DATA), SQL_SUCCESS);
    for (SQLLEN len : {SQLLEN{2}, SQLLEN{0}, SQLLEN{SQL_NULL_DATA}}) {
        EXPECT_EQ(Put("ab", len), SQL_ERROR) << len;
        EXPECT_EQ(Code(), ERR_ATTEMPT_TO_CONCATENATE_A_NULL_VALUE);
    }
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(Put("zz", 2), SQL_SUCCESS);
    if (agentRoad()) {
        EXPECT_EQ(fake.putDataSent,
                  (std::vector<Sent>{{DS_CHAR, DS_IND_NULL, true, ""}, {DS_BINARY, 0, false, "zz"}}));
    } else {
        EXPECT_EQ(Piece(1), std::nullopt);
        EXPECT_TRUE(StmtGetParam(stmt, 1)->pieces[0].null);
        EXPECT_EQ(Piece(3), "zz");
    }
}

// SQL_NTS counts bytes of narrow text and UTF-16 units of wide text, twice.
TEST_P(DataAtExecTest, NulTerminatedPiecesByTheirType) {
    Prepare(2);
    char narrow[4];
    SQLWCHAR wide[4];
    SQLLEN dae = SQL_DATA_AT_EXEC;
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, narrow, &dae), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_WCHAR, SQL_WVARCHAR, wide, &dae), SQL_SUCCESS);
    AgentAsks({{102, 0}, {102, 1}, {0}});
    const SQLWCHAR wideText[] = {u'\u00e9', u'b', 0};
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(Put("abc", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(Put(wideText, SQL_NTS), SQL_SUCCESS);
    const std::string wideBytes(reinterpret_cast<const char*>(wideText), 4);
    if (agentRoad()) {
        EXPECT_EQ(fake.putDataSent,
                  (std::vector<Sent>{{DS_CHAR, 0, false, "abc"}, {DS_WCHAR, 0, false, wideBytes}}));
    } else {
        EXPECT_EQ(Piece(1), "abc");
        EXPECT_EQ(Piece(2), wideBytes);
    }
}

// Out of turn both calls answer S1010 with SQL_ERROR and store or send nothing: no
// exchange, the execution's own states, bulk rows with nothing to fill, and SQLPutData
// before the first SQLParamData has named a value.
TEST_P(DataAtExecTest, CallsOutOfTurnAreSequenceErrors) {
    BindThree();
    for (int16_t state : {STMT_DAE_NONE, STMT_DAE_BULK, int16_t{4}, int16_t{5}, int16_t{6}, int16_t{-1}}) {
        SCOPED_TRACE(state);
        stmt->daeState = state;
        SQLPOINTER token = nullptr;
        EXPECT_EQ(ParamData(&token), SQL_ERROR);
        EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
        EXPECT_EQ(Put("abc", 3), SQL_ERROR);
        EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
        EXPECT_EQ(token, nullptr);
    }
    stmt->daeState = STMT_DAE_NONE;
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    EXPECT_EQ(Put("abc", 3), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_TRUE(fake.putDataSent.empty());
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "ParamData"), 0);
}

// A second execution, prepare or direct execution in the middle of an exchange is
// refused and leaves the exchange as it was; SQLCancel ends it, after which the calls of
// the exchange are out of turn and a new execution starts afresh.
TEST_P(DataAtExecTest, SecondExecuteIsRefusedAndCancelEndsTheExchange) {
    BindThree();
    AgentAsks({{102, 0}, {102, 0}});
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    ASSERT_EQ(Put("ab", 2), SQL_SUCCESS);

    EXPECT_EQ(Execute(), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(DoExecDirect(stmt, SqlTextArgs{"DELETE FROM t", SQL_NTS}), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(DoPrepare(stmt, SqlTextArgs{"DELETE FROM t", SQL_NTS}), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    // Nor has the statement a result to describe before it has run.
    SQLSMALLINT cols = -1;
    EXPECT_EQ(DoNumResultCols(stmt, CountArgs{&cols}), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(cols, -1);
    EXPECT_EQ(DoDescribeCol(stmt, DescribeColArgs{1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, 'A'}),
              SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    SQLLEN number = -1;
    EXPECT_EQ(DoColAttribute(stmt, ColAttributeArgs{1, SQL_DESC_TYPE, nullptr, 0, nullptr, &number, 'A'}), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(stmt->daeState, STMT_DAE_PARAMS);
    EXPECT_EQ(Put("cd", 2), SQL_SUCCESS);
    if (!agentRoad()) {
        EXPECT_EQ(Piece(1), "abcd");
    }

    EXPECT_EQ(DoCancel(stmt, NoArgs{}), SQL_SUCCESS_WITH_INFO);
    Code();
    EXPECT_EQ(stmt->daeState, STMT_DAE_NONE);
    // The agent, which holds the marked values, is told the exchange is over.
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "Cancel"), agentRoad() ? 1 : 0);
    EXPECT_EQ(stmt->agentParamSet, nullptr);
    EXPECT_EQ(Put("ef", 2), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(ParamData(&token), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);

    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, text);
    if (!agentRoad()) {
        EXPECT_EQ(Piece(1), std::nullopt);  // the cancelled exchange's pieces are gone
    }
}

// ---- the driver's road ----

// Rows of a parameter set bound row-wise behind a bind offset: the values are asked for
// row by row, each parameter in order, and each row's pieces are its own.
TEST_F(ParamsTest, DriverRoadWalksRowsThenParameters) {
    Prepare(2);
    struct Row {
        char a[4];
        SQLLEN aLen;
        char b[4];
        SQLLEN bLen;
    };
    Row rows[3] = {};  // the first row is skipped by the offset
    rows[1] = {"", SQL_DATA_AT_EXEC, "", 3};
    rows[2] = {"", SQL_LEN_DATA_AT_EXEC(0), "", SQL_DATA_AT_EXEC};
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, rows[0].a, &rows[0].aLen), SQL_SUCCESS);
    ASSERT_EQ(Bind(2, SQL_C_CHAR, SQL_VARCHAR, rows[0].b, &rows[0].bLen), SQL_SUCCESS);
    SQLLEN offset = sizeof(Row);
    stmt->apd->bindOffset = &offset;
    stmt->apd->bindType = sizeof(Row);
    stmt->paramSetSize = 2;
    SQLULEN processed = 0;
    stmt->rowsProcessed = &processed;

    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    struct Step {
        void* token;
        SQLULEN processed;
        const char* piece;
    } steps[] = {{rows[0].a, 1, "r0a"}, {rows[0].a, 2, "r1a"}, {rows[0].b, 2, "r1b"}};
    for (const Step& s : steps) {
        SQLPOINTER token = nullptr;
        ASSERT_EQ(ParamData(&token), SQL_NEED_DATA) << s.piece;
        EXPECT_EQ(token, s.token) << s.piece;
        EXPECT_EQ(processed, s.processed) << s.piece;
        ASSERT_EQ(Put(s.piece, SQL_NTS), SQL_SUCCESS);
    }
    EXPECT_EQ(stmt->daeState, STMT_DAE_PARAMS_DONE);
    EXPECT_EQ(Piece(1, 0), "r0a");
    EXPECT_EQ(Piece(1, 1), "r1a");
    EXPECT_EQ(Piece(2, 1), "r1b");
    EXPECT_EQ(Piece(2, 0), std::nullopt);
}

// A fixed-size value comes whole in one piece whatever length is given; a second piece
// is refused with S1019 (HY019 under ODBC 3) and leaves the value as it was.
TEST_F(ParamsTest, DriverRoadTakesFixedSizeValuesInOnePiece) {
    Prepare(1);
    int32_t value = 0;
    SQLLEN dae = SQL_DATA_AT_EXEC;
    ASSERT_EQ(Bind(1, SQL_C_SLONG, SQL_INTEGER, &value, &dae), SQL_SUCCESS);
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    const int32_t given = 0x01020304, again = 5;
    EXPECT_EQ(Put(&given, 0), SQL_SUCCESS);
    EXPECT_EQ(Put(&again, sizeof again), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_NON_CHARACTER_AND_NON_BINARY_DATA);
    EXPECT_EQ(Piece(1), std::string(reinterpret_cast<const char*>(&given), sizeof given));
    // Nor may a null buffer stand for it, or a length the road does not know.
    EXPECT_EQ(Put(nullptr, 0), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_ARGUMENT_VALUE);
}

// ---- the agent's road ----

// What slot 39 is sent for a piece: text for 64-bit integers, structures for date and
// time text, bytes for hexadecimal text to a binary type, a double for the numeric
// structure, 36 characters for a GUID; values that cannot be converted are refused and
// nothing is sent.
TEST_F(ParamsTest, AgentRoadConvertsPieces) {
    conn->cn_hasV2DAE = 1;
    const int64_t minusFive = -5;
    const uint64_t big = 18446744073709551615ull;
    SQL_NUMERIC_STRUCT numeric{5, 2, 0, {0x39, 0x30}};  // -123.45
    const SQLGUID guid{0x01234567, 0x89AB, 0xCDEF, {1, 2, 3, 4, 5, 6, 7, 8}};
    SQL_TIMESTAMP_STRUCT ts{2024, 2, 29, 23, 59, 58, 500000000};
    SQL_DATE_STRUCT date{2024, 1, 2};
    auto raw = [](const auto& v) { return std::string(reinterpret_cast<const char*>(&v), sizeof v); };
    struct Case {
        SQLSMALLINT cType, sqlType;
        const void* data;
        SQLLEN length;
        int rc;
        int16_t type;
        std::string sent;
    } cases[] = {
        {SQL_C_SBIGINT, SQL_BIGINT, &minusFive, 8, 0, DS_CHAR, "-5" + std::string(29, ' ') + '\0'},
        {SQL_C_UBIGINT, SQL_BIGINT, &big, 0, 0, DS_CHAR, "18446744073709551615" + std::string(11, ' ') + '\0'},
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "2024-02-29 23:59:58.5", SQL_NTS, 0, DS_TIMESTAMP, raw(ts)},
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "{ts '2024-02-29 23:59:58.5'}", SQL_NTS, 0, DS_TIMESTAMP, raw(ts)},
        {SQL_C_CHAR, SQL_TYPE_DATE, "2024/01/02", SQL_NTS, 0, DS_DATE, raw(date)},
        {SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "yesterday", SQL_NTS, ERR_INVALID_DATETIME_FORMAT, 0, ""},
        {SQL_C_CHAR, SQL_VARBINARY, "0aFF10", SQL_NTS, 0, DS_BINARY, "\x0a\xff\x10"},
        {SQL_C_CHAR, SQL_BINARY, "0g", 2, ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION, 0, ""},
        {SQL_C_NUMERIC, SQL_NUMERIC, &numeric, 0, 0, DS_CHAR, "-123.45"},
        {SQL_C_GUID, SQL_GUID, &guid, 0, 0, DS_CHAR, "01234567-89AB-CDEF-0102-030405060708"},
        {SQL_C_CHAR, SQL_VARCHAR, "x", SQL_DEFAULT_PARAM, ERR_DRIVER_NOT_CAPABLE, 0, ""},
        {SQL_C_CHAR, SQL_VARCHAR, "x", -7, ERR_INVALID_ARGUMENT_VALUE, 0, ""},
    };
    Prepare(1);
    char buf[64];
    SQLLEN dae = SQL_DATA_AT_EXEC;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        ASSERT_EQ(Bind(1, c.cType, c.sqlType, buf, &dae, SQL_PARAM_INPUT, 0), SQL_SUCCESS);
        fake.paramDataAnswers = {{102, 0}};
        fake.putDataSent.clear();
        stmt->daeState = STMT_DAE_NONE;
        ASSERT_EQ(Execute(), SQL_NEED_DATA);
        SQLPOINTER token = nullptr;
        ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
        ASSERT_EQ(Put(c.data, c.length), c.rc == 0 ? SQL_SUCCESS : SQL_ERROR);
        EXPECT_EQ(Code(), c.rc);
        if (c.rc != 0) {
            EXPECT_TRUE(fake.putDataSent.empty());
            continue;
        }
        EXPECT_EQ(fake.putDataSent, (std::vector<Sent>{{c.type, 0, false, c.sent}}));
    }
}

// A connection whose agent takes no wide text gets wide pieces as narrow text in the
// connection's code set ('?' beyond ISO-8859-1); half of a surrogate pair is refused.
TEST_F(ParamsTest, AgentRoadNarrowsWidePiecesWhereTheAgentHasNoWideTypes) {
    const SQLWCHAR text[] = {u'a', u'\u00e9', u'\u20ac', 0xD83D, 0xDE00};
    const SQLWCHAR half[] = {u'a', 0xD83D};
    const struct {
        NarrowCode code;
        const SQLWCHAR* piece;
        size_t bytes;
        int rc;
        std::string sent;
    } cases[] = {
        {NarrowCode::Latin1, text, sizeof text, 0, "a\xe9??"},
        {NarrowCode::Utf8, text, sizeof text, 0, "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {NarrowCode::Utf8, half, sizeof half, ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION, ""},
    };
    conn->cn_hasV2DAE = 1;
    conn->narrowWidePieces = 1;
    Prepare(1);
    SQLWCHAR buf[4];
    SQLLEN dae = SQL_DATA_AT_EXEC;
    ASSERT_EQ(Bind(1, SQL_C_WCHAR, SQL_WVARCHAR, buf, &dae), SQL_SUCCESS);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent);
        conn->narrow = c.code;
        fake.putDataSent.clear();
        fake.paramDataAnswers = {{102, 0}};
        stmt->daeState = STMT_DAE_NONE;
        ASSERT_EQ(Execute(), SQL_NEED_DATA);
        SQLPOINTER token = nullptr;
        ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
        ASSERT_EQ(Put(c.piece, static_cast<SQLLEN>(c.bytes)), c.rc == 0 ? SQL_SUCCESS : SQL_ERROR);
        EXPECT_EQ(Code(), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(fake.putDataSent, (std::vector<Sent>{{DS_CHAR, 0, false, c.sent}}));
        } else {
            EXPECT_TRUE(fake.putDataSent.empty());
        }
    }
}

// The agent's answers are the agent's to give: a refused piece and a failed deferred
// step come back as SQL_ERROR with its code and messages, the latter ending the exchange
// and reporting the rows processed before the failure; a value it names that is not
// bound, or a SQLSetPos column beyond the column map, is refused before anything is
// indexed.
TEST_F(ParamsTest, AgentRoadReportsTheAgentsAnswers) {
    conn->cn_hasV2DAE = 1;
    Prepare(1);
    char buf[8];
    SQLLEN dae = SQL_DATA_AT_EXEC;
    ASSERT_EQ(Bind(1, SQL_C_CHAR, SQL_VARCHAR, buf, &dae), SQL_SUCCESS);
    SQLULEN processed = 0;
    stmt->rowsProcessed = &processed;
    fake.props[OA_PROP_ROW_COUNT] = 5;
    fake.paramDataAnswers = {{102, 0}, {ERR_SYNTAX_ERROR_OR_ACCESS, 0, 3}};
    fake.putDataRc = ERR_FUNCTION_SEQUENCE_ERROR;
    fake.errors[kFakeStmt] = {"piece refused"};

    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(Put("x", 1), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(Messages(stmt->diag), std::vector<std::string>{"piece refused"});
    stmt->diag.messages.clear();

    fake.errors[kFakeStmt] = {"syntax"};
    EXPECT_EQ(ParamData(&token), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_SYNTAX_ERROR_OR_ACCESS);
    EXPECT_EQ(Messages(stmt->diag), std::vector<std::string>{"syntax"});
    EXPECT_EQ(processed, 1u);  // the failing set: the agent's row count + 1, at most the sets sent
    EXPECT_EQ(stmt->daeState, STMT_DAE_NONE);

    // Parameter 6 is not bound.
    fake.paramDataAnswers = {{102, 5}};
    ASSERT_EQ(Execute(), SQL_NEED_DATA);
    EXPECT_EQ(ParamData(&token), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_GENERAL_ERROR);
    EXPECT_EQ(Put("x", 1), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_FUNCTION_SEQUENCE_ERROR);

    // SQLSetPos rows: agent column index -> bound-column position + 1.
    char col[4][8];
    BINDCOL c;
    c.column = 1;
    c.cType = SQL_C_CHAR;
    c.data = col;
    c.bufferLength = sizeof col[0];
    StmtBindColAdd(stmt, c);
    stmt->cursor.rowsetSize = 4;
    stmt->columnMap = {0, 1, 7};
    struct Case {
        int32_t param, row;
        SQLRETURN rc;
        void* token;
    } cases[] = {{1, 2, SQL_NEED_DATA, col[2]}, {0, 0, SQL_ERROR, nullptr}, {2, 0, SQL_ERROR, nullptr},
                 {3, 0, SQL_ERROR, nullptr},    {-1, 0, SQL_ERROR, nullptr}, {1, 4, SQL_ERROR, nullptr},
                 {1, -1, SQL_ERROR, nullptr}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.param << "," << k.row);
        stmt->daeState = STMT_DAE_SETPOS;
        fake.paramDataAnswers = {{102, k.param, k.row}};
        token = nullptr;
        EXPECT_EQ(ParamData(&token), k.rc);
        EXPECT_EQ(token, k.token);
        EXPECT_EQ(Code(), k.rc == SQL_ERROR ? ERR_GENERAL_ERROR : 0);
    }
}

// On the driver's road the values of a positioned update given at execution are collected
// first, row by row, rows the row-operation array ignores passed over; the image then holds
// each rowset row at its own index, an ignored one marked -4, and the statuses go to the
// application's array but for the ignored row.
TEST_F(ParamsTest, DriverRoadCollectsSetPosValuesBeforeTheImage) {
    conn->cn_hasScrlCurs = 1;
    conn->cn_hasV2DAE = 0;
    ASSERT_EQ(DoPrepare(stmt, SqlTextArgs{"SELECT id, v FROM t", SQL_NTS}), SQL_SUCCESS);
    stmt->flags |= STMT_FLAG_CURSOR_OPEN;
    COLDESC* descs = ds_ColDescAlloc(2);
    descs[0].sqlType = SQL_INTEGER;
    descs[1].sqlType = SQL_VARCHAR;
    stmt->resultDescs.adopt(descs, 2);
    stmt->resultDescsLoaded = true;
    SCS_CURSOR& cur = stmt->cursor;
    cur.cursorType = SQL_CURSOR_KEYSET_DRIVEN;
    cur.concurrency = SQL_CONCUR_VALUES;
    cur.rowsetSize = 3;
    cur.rowsetStart = 1;
    cur.position = 1;
    ASSERT_EQ(ds_RowsetNew(&cur.rowset, 3), 0);
    for (int i = 0; i < 3; ++i)
        cur.rowset->rowStatus[i] = SQL_ROW_SUCCESS;
    SQLUSMALLINT appStatus[3] = {9, 9, 9};
    cur.appRowStatus = appStatus;
    SQLUSMALLINT ops[3] = {SQL_ROW_PROCEED, SQL_ROW_IGNORE, SQL_ROW_PROCEED};
    stmt->ard->arrayStatus = ops;

    int32_t ids[3] = {1, 2, 3};
    SQLLEN idLen[3] = {4, 4, 4};
    char v[3][8] = {"x", "y", "z"};
    SQLLEN vLen[3] = {SQL_DATA_AT_EXEC, SQL_DATA_AT_EXEC, SQL_LEN_DATA_AT_EXEC(2)};
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{1, SQL_C_SLONG, ids, 0, idLen}), SQL_SUCCESS);
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{2, SQL_C_CHAR, v, sizeof v[0], vLen}), SQL_SUCCESS);

    ASSERT_EQ(DoSetPos(stmt, SetPosArgs{0, SQL_UPDATE, SQL_LOCK_NO_CHANGE}), SQL_NEED_DATA);
    SQLPOINTER token = nullptr;
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, v[0]);
    ASSERT_EQ(Put("ab", 2), SQL_SUCCESS);
    ASSERT_EQ(ParamData(&token), SQL_NEED_DATA);
    EXPECT_EQ(token, v[2]);
    ASSERT_EQ(Put("c", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(Put("d", 1), SQL_SUCCESS);
    g_setPos = SetPosSeen{};
    ASSERT_EQ(ParamData(&token), SQL_SUCCESS) << Code();
    EXPECT_EQ(g_setPos.row, -2);
    EXPECT_EQ(g_setPos.operation, SQL_UPDATE);
    EXPECT_EQ(g_setPos.columns, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(g_setPos.rows, (std::vector<std::string>{"1|ab", "-4|-4", "3|cd"}));
    EXPECT_EQ(std::vector<int>(appStatus, appStatus + 3), (std::vector<int>{SQL_ROW_UPDATED, 9, SQL_ROW_UPDATED}));

    // One row: its values at its own index, the other rows left NULL; a read-only column
    // and one the application leaves out are not written.
    stmt->resultDescs.items[0].flags = 1u << 4;
    vLen[2] = 2;
    std::strcpy(v[2], "zz");
    ops[2] = SQL_ROW_PROCEED;
    ASSERT_EQ(DoSetPos(stmt, SetPosArgs{3, SQL_UPDATE, SQL_LOCK_NO_CHANGE}), SQL_SUCCESS) << Code();
    EXPECT_EQ(g_setPos.row, 3);
    EXPECT_EQ(g_setPos.columns, (std::vector<uint16_t>{2}));
    EXPECT_EQ(g_setPos.rows, (std::vector<std::string>{"-1", "-1", "zz"}));
    vLen[2] = SQL_COLUMN_IGNORE;
    ASSERT_EQ(DoSetPos(stmt, SetPosArgs{3, SQL_UPDATE, SQL_LOCK_NO_CHANGE}), SQL_SUCCESS) << Code();
    EXPECT_TRUE(g_setPos.columns.empty());
    stmt->ard->arrayStatus = nullptr;
    cur.appRowStatus = nullptr;
}

// ---- SQLBindParameter, SQLSetParam, SQLDescribeParam ----

TEST_F(ParamsTest, BindParameterChecksAndResolvesItsArguments) {
    char buf[8];
    SQLLEN len = 0;
    struct Case {
        uint32_t odbcVersion;
        SQLSMALLINT paramType, cType, sqlType, digits;
        bool buffers;
        int rc;
        int16_t boundCType;
    } cases[] = {
        {2, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_WVARCHAR, 0, true, 0, SQL_C_CHAR},
        {3, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_WVARCHAR, 0, true, 0, SQL_C_WCHAR},
        {2, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_TIMESTAMP, 0, true, 0, SQL_C_TIMESTAMP},
        {3, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_TIMESTAMP, 0, true, 0, SQL_C_TYPE_TIMESTAMP},
        {3, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, false, 0, SQL_C_SLONG},
        {3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, false, ERR_INVALID_ARGUMENT_VALUE, 0},
        {3, SQL_PARAM_INPUT_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, false, ERR_INVALID_ARGUMENT_VALUE, 0},
        {3, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, -1, true, ERR_INVALID_SCALE_VALUE, 0},
        {3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, -1, true, 0, SQL_C_CHAR},
        {3, SQL_PARAM_INPUT, 1234, SQL_INTEGER, 0, true, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION, 0},
        {3, SQL_PARAM_INPUT, SQL_C_INTERVAL_DAY, SQL_INTEGER, 0, true,
         ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION, 0},
        {3, 77, SQL_C_CHAR, SQL_VARCHAR, 0, true, ERR_INVALID_PARAMETER_TYPE, 0},
        {3, SQL_PARAM_INPUT_OUTPUT_STREAM, SQL_C_CHAR, SQL_VARCHAR, 0, true, ERR_INVALID_PARAMETER_TYPE, 0},
        {3, SQL_PARAM_INPUT, SQL_C_CHAR, 9999, 0, true, ERR_SQL_DATA_TYPE_OUT_OF_RANGE, 0},
        {3, SQL_PARAM_INPUT, SQL_C_DEFAULT, 9999, 0, true, ERR_SQL_DATA_TYPE_OUT_OF_RANGE, 0},
        {3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTERVAL_DAY_TO_SECOND, 0, true, 0, SQL_C_CHAR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.odbcVersion << " " << c.cType << " " << c.sqlType);
        envr->odbcVersion = c.odbcVersion;
        StmtResetParams(stmt);
        SQLRETURN rc = Bind(1, c.cType, c.sqlType, c.buffers ? buf : nullptr, c.buffers ? &len : nullptr,
                            c.paramType, c.digits);
        EXPECT_EQ(rc, c.rc == 0 ? SQL_SUCCESS : SQL_ERROR);
        EXPECT_EQ(Code(), c.rc);
        const PARAMREC* p = StmtGetParam(stmt, 1);
        if (c.rc != 0) {
            EXPECT_TRUE(p == nullptr || p->number == 0);
            continue;
        }
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->cType, c.boundCType);
        EXPECT_EQ(DescGetRec(stmt->apd, 1)->conciseType, c.boundCType);
    }
}

// SQLSetParam keeps to the parameter array; SQLBindParameter writes the APD and the IPD,
// growing each on its own, so an IPD shorter than the APD is grown, not overrun.
TEST_F(ParamsTest, BindingsReachTheDescriptorsThatHoldThem) {
    char buf[8];
    SQLLEN len = 0;
    ASSERT_EQ(DoSetParam(stmt, SetParamArgs{2, SQL_C_CHAR, SQL_CHAR, 5, 0, buf, &len}), SQL_SUCCESS);
    EXPECT_EQ(DescRecCount(stmt->apd), 0);
    EXPECT_EQ(StmtGetParam(stmt, 2)->paramType, SQL_PARAM_INPUT);
    EXPECT_EQ(DoSetParam(stmt, SetParamArgs{1, SQL_C_NUMERIC, SQL_NUMERIC, 5, 0, buf, &len}), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    EXPECT_EQ(DoSetParam(stmt, SetParamArgs{1, SQL_C_CHAR, SQL_CHAR, 5, 0, nullptr, nullptr}), SQL_ERROR);
    EXPECT_EQ(Code(), ERR_INVALID_ARGUMENT_VALUE);

    ASSERT_EQ(DoBindParameter(stmt, BindParameterArgs{3, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP,
                                                      23, 3, buf, 16, &len}),
              SQL_SUCCESS);
    EXPECT_EQ(DescRecCount(stmt->apd), 3);
    EXPECT_EQ(DescRecCount(stmt->ipd), 3);
    const DESCREC& ipd = *DescGetRec(stmt->ipd, 3);
    EXPECT_EQ(ipd.conciseType, SQL_TYPE_TIMESTAMP);
    EXPECT_EQ(ipd.length, 23u);
    EXPECT_EQ(ipd.precision, 3);
    EXPECT_EQ(DescGetRec(stmt->apd, 3)->octetLength, 16);

    DescGrowRecs(stmt->apd, 6);
    ASSERT_EQ(Bind(5, SQL_C_SLONG, SQL_DECIMAL, buf, &len, SQL_PARAM_INPUT, 2), SQL_SUCCESS);
    EXPECT_EQ(DescRecCount(stmt->ipd), 5);
    EXPECT_EQ(DescGetRec(stmt->ipd, 5)->precision, 10);
    EXPECT_EQ(DescGetRec(stmt->ipd, 5)->scale, 2);
}

// A binding made by SQLBindParameter survives its APD being made current again (an
// explicit APD freed): the same buffer, length and types.
TEST_F(ParamsTest, ImplicitApdAppliedAgainBindsTheSameParameter) {
    char buf[8];
    SQLLEN len = 0;
    ASSERT_EQ(DoBindParameter(stmt, BindParameterArgs{1, SQL_PARAM_INPUT_OUTPUT, SQL_C_CHAR, SQL_VARCHAR, 7, 0, buf,
                                                      sizeof buf, &len}),
              SQL_SUCCESS);
    const PARAMREC before = *StmtGetParam(stmt, 1);
    ASSERT_EQ(StmtApplyAPD(stmt, stmt->apd), 0);
    const PARAMREC& after = *StmtGetParam(stmt, 1);
    EXPECT_EQ(after.data, before.data);
    EXPECT_EQ(after.bufferLength, SQLLEN{sizeof buf});
    EXPECT_EQ(after.indicator, &len);
    EXPECT_EQ(after.octetLength, &len);
    EXPECT_EQ(after.columnSize, 7u);
    EXPECT_EQ(after.paramType, SQL_PARAM_INPUT_OUTPUT);
}

TEST_F(ParamsTest, DescribeParamThroughTheAgent) {
    Prepare(0);
    script.params = {ParamDesc(SQL_INTEGER, 10, 0, SQL_NO_NULLS), ParamDesc(SQL_DECIMAL, 12, 4, 0x20 | SQL_NULLABLE)};
    SQLSMALLINT type = 0, digits = -1, nullable = -1;
    SQLULEN size = 0;
    ASSERT_EQ(DoDescribeParam(stmt, DescribeParamArgs{2, &type, &size, &digits, &nullable}), SQL_SUCCESS);
    EXPECT_EQ(type, SQL_DECIMAL);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(digits, 4);
    EXPECT_EQ(nullable, SQL_NULLABLE);
    EXPECT_EQ(DoDescribeParam(stmt, DescribeParamArgs{1, nullptr, nullptr, nullptr, &nullable}), SQL_SUCCESS);
    EXPECT_EQ(nullable, SQL_NO_NULLS);
    for (SQLUSMALLINT bad : {0, 3}) {
        EXPECT_EQ(DoDescribeParam(stmt, DescribeParamArgs{bad, &type, &size, &digits, &nullable}), SQL_ERROR);
        EXPECT_EQ(Code(), ERR_INVALID_PARAMETER_NUMBER);
    }
}

}  // namespace
