// Column value delivery, the row block, forward fetch and SQLGetData against a scripted
// agent: the agent's result columns and rows come from the test, and its fetch refills the
// block in place as the real agent does when the block keeps its shape.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/exec/coldeliver.h"
#include "driver/exec/convert/convbin.h"
#include "driver/exec/convert/convnum.h"
#include "driver/exec/convert/convtext.h"
#include "driver/exec/fetch.h"
#include "driver/handlers/stmtattr.h"
#include "driver/objects/desc.h"
#include "util/errcode.h"
#include "util/utheap.h"

using namespace conn_fixture;

namespace {

constexpr uint32_t kFakeStmt = 0xCCCC0002;

// A cell: the element's bytes (zero-padded to its width) or an indicator.
struct Cell {
    std::string bytes;
    int16_t ind = 0;
};
Cell Null() { return {"", DS_IND_NULL}; }
Cell AtServer() { return {"", DS_IND_AT_SERVER}; }
Cell I32(int32_t v) { return {std::string(reinterpret_cast<const char*>(&v), 4)}; }
Cell F64(double v) { return {std::string(reinterpret_cast<const char*>(&v), 8)}; }
Cell DateCell(int16_t y, uint16_t m, uint16_t d) {
    const SQL_DATE_STRUCT v{y, m, d};
    return {std::string(reinterpret_cast<const char*>(&v), sizeof v)};
}
// UTF-16 of an ASCII text, with its terminator.
Cell Wide(const std::string& s) {
    std::string out;
    for (char c : s)
        out += std::string{c, '\0'};
    return {out + std::string(2, '\0')};
}

struct Script {
    std::vector<COLDESC> cols;
    std::vector<std::vector<Cell>> rows;
    size_t next = 0;
    int fetchRc = 0;
    std::vector<uint16_t> asked;          // rows asked by each fetch
    std::vector<bool> arraysKept;         // whether each refill got the block with its arrays
    std::vector<std::string> pieces;      // DRV_GetData's answers in order
    int32_t pieceTotal = 0;               // total length it reports (-1: NULL)
    uint16_t mostPerFetch = 0;            // rows a fetch hands out at most (0: as asked)
};
Script* g_script = nullptr;

COLDESC Col(int32_t sqlType, int32_t internalType, uint32_t width, int16_t digits = 0) {
    COLDESC d{};
    d.sqlType = sqlType;
    d.internalType = internalType;
    d.declaredWidth = width;
    d.columnSize = width;
    d.decimalDigits = digits;
    return d;
}

int FakeAllocStmt(uint32_t, uint32_t* out) {
    *out = kFakeStmt;
    return 0;
}
int FakeFreeStmt(uint32_t) { return 0; }
int FakeCloseCursor(uint32_t) { return 0; }

int FakeDescribeCols(uint32_t, uint16_t* count, COLDESC** out) {
    const auto n = static_cast<uint16_t>(g_script->cols.size());
    *out = ds_ColDescAlloc(n);
    for (uint16_t i = 0; i < n; ++i)
        (*out)[i] = g_script->cols[i];  // no owned texts
    *count = n;
    return 0;
}

int FakeFetch(uint32_t, uint16_t rows, DATASET* block) {
    Script& s = *g_script;
    s.asked.push_back(rows);
    s.arraysKept.push_back(block->cols != nullptr);
    if (s.fetchRc != 0) {
        ds_Free(block);
        return s.fetchRc;
    }
    // As the agent: a block of the same shape is refilled in place.
    if (block->cols == nullptr || block->rowsAllocated != rows) {
        ds_Free(block);
        if (ds_InitFromColDescs(s.cols.data(), static_cast<uint16_t>(s.cols.size()), rows, block) != 0)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    int32_t n = 0;
    const int32_t most = s.mostPerFetch != 0 ? std::min<int32_t>(rows, s.mostPerFetch) : rows;
    for (; n < most && s.next < s.rows.size(); ++n, ++s.next) {
        for (size_t c = 0; c < s.cols.size(); ++c) {
            DATASET_COL* col = &block->cols[c];
            const Cell& cell = s.rows[s.next][c];
            unsigned char* e = ds_Elem(col, n);
            if (ds_ColHoldsRefs(col)) {
                // The dataset owns the bytes of a by-reference value.
                DS_REFVAL ref;
                std::memcpy(&ref, e, sizeof ref);
                uh_Free(ref.data);
                ref = {static_cast<uint32_t>(cell.bytes.size()), uh_MemDup(cell.bytes.data(), cell.bytes.size())};
                std::memcpy(e, &ref, sizeof ref);
            } else {
                std::memset(e, 0, col->width);
                std::memcpy(e, cell.bytes.data(), std::min<size_t>(cell.bytes.size(), col->width));
            }
            col->indicators[n] = cell.ind;
        }
    }
    block->rowsUsed = n;
    return 0;
}

int FakeGetData(uint32_t, uint16_t, uint16_t, uint32_t maxPiece, void** value, int32_t* length, int32_t* type,
                int32_t* total) {
    Script& s = *g_script;
    *value = nullptr;
    *length = 0;
    *type = DS_CHAR;
    *total = s.pieceTotal;
    if (s.pieces.empty())
        return 0;
    std::string piece = s.pieces.front().substr(0, maxPiece);
    s.pieces.front().erase(0, piece.size());
    if (s.pieces.front().empty())
        s.pieces.erase(s.pieces.begin());
    *value = std::malloc(piece.size() + 1);
    std::memcpy(*value, piece.data(), piece.size());
    *length = static_cast<int32_t>(piece.size());
    return 0;
}

const OA_OPTABLE kTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeFreeStmt;
    t.DRV_CloseCursor = FakeCloseCursor;
    t.DRV_DescribeCols = FakeDescribeCols;
    t.DRV_Fetch = FakeFetch;
    t.DRV_GetData = FakeGetData;
    return t;
}();

int BindTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kTable;
    return 0;
}

class FetchTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        g_script = &script;
        ConnSetOpTableBinder(BindTable);
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        SQLHANDLE h = nullptr;
        ASSERT_EQ(DoAllocStmt(conn, OutHandleArgs{&h}), SQL_SUCCESS);
        stmt = static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
        conn->cn_fetchSize = 60;
    }
    void TearDown() override {
        ConnTest::TearDown();
        g_script = nullptr;
    }
    // The statement as an execution leaves it: prepared and run, its cursor open.
    void Executed() {
        stmt->state = STMT_STATE_PREPARED;
        stmt->flags |= STMT_FLAG_PREPARED | STMT_FLAG_CURSOR_OPEN;
    }
    // Narrow text rows "r1", "r2", ... in one VARCHAR column, with a row number beside.
    void NumberedRows(int n) {
        script.cols = {Col(SQL_INTEGER, DS_SLONG, 4), Col(SQL_VARCHAR, DS_CHARZ, 10)};
        for (int i = 1; i <= n; ++i)
            script.rows.push_back({I32(i), {"r" + std::to_string(i)}});
    }
    void Bind(SQLUSMALLINT col, SQLSMALLINT cType, void* data, SQLLEN len, SQLLEN* ind) {
        ASSERT_EQ(StmtBindCol(stmt, col, cType, data, len, ind), 0);
    }
    SQLRETURN GetData(SQLUSMALLINT col, SQLSMALLINT cType, void* data, SQLLEN len, SQLLEN* ind) {
        stmt->diag.errCode = 0;  // as the dispatcher does before every call
        return StmtGetData(stmt, col, cType, data, len, ind);
    }
    SQLRETURN Fetch() {
        stmt->diag.errCode = 0;
        return StmtFetchScroll(stmt, SQL_FETCH_NEXT, 0);
    }
    // Rowsets of n rows, their statuses and count where given.
    void Rowset(SQLULEN n, SQLUSMALLINT* status, SQLULEN* fetched = nullptr) {
        stmt->cursor.rowsetSize = static_cast<int32_t>(n);
        stmt->ird->arrayStatus = status;
        if (fetched != nullptr)
            stmt->rowsFetched = fetched;
    }

    Script script;
    STMT* stmt = nullptr;
};

// ---- SQLGetData in pieces -------------------------------------------------------------

TEST_F(FetchTest, NarrowTextComesInPiecesThenNoData) {
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 20)};
    script.rows = {{{"abcdefghij"}}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    char buf[4];
    SQLLEN len = 0;
    const std::vector<std::pair<std::string, SQLLEN>> expected = {{"abc", 10}, {"def", 7}, {"ghi", 4}};
    for (const auto& [text, total] : expected) {
        ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(stmt->diag.errCode, ERR_DATA_WAS_TRUNCATED);
        EXPECT_EQ(std::string(buf), text);
        EXPECT_EQ(len, total);
    }
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "j");
    EXPECT_EQ(len, 1);
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_NO_DATA);
}

// Reading a value in small pieces gives, joined, what one large read gives, for every
// source kind and text or binary target; a length query (buffer 0) reads nothing.
TEST_F(FetchTest, PiecesJoinToTheWholeValue) {
    struct Case {
        const char* name;
        COLDESC col;
        Cell cell;
        SQLSMALLINT cType;
        SQLLEN pieceBuffer;
    };
    const Cell binCell{std::string("\x01\xAB\x00\xFF\x10\x20\x30", 7)};  // by reference
    const std::vector<Case> cases = {
        {"narrow to char", Col(SQL_VARCHAR, DS_CHARZ, 20), {"abcdefghijk"}, SQL_C_CHAR, 4},
        {"narrow to wchar", Col(SQL_VARCHAR, DS_CHARZ, 20), {"abcdefghijk"}, SQL_C_WCHAR, 7},
        {"narrow to binary", Col(SQL_VARCHAR, DS_CHARZ, 20), {"abcdefghijk"}, SQL_C_BINARY, 3},
        {"wide to char", Col(SQL_WVARCHAR, DS_WCHARZ, 20), Wide("abcdefghijk"), SQL_C_CHAR, 4},
        {"wide to wchar", Col(SQL_WVARCHAR, DS_WCHARZ, 20), Wide("abcdefghijk"), SQL_C_WCHAR, 7},
        {"wide to binary", Col(SQL_WVARCHAR, DS_WCHARZ, 20), Wide("abcdefghijk"), SQL_C_BINARY, 6},
        {"binary to binary", Col(SQL_VARBINARY, DS_LONGBINARY, 16), binCell, SQL_C_BINARY, 3},
        {"binary to char", Col(SQL_VARBINARY, DS_LONGBINARY, 16), binCell, SQL_C_CHAR, 6},
        {"binary to wchar", Col(SQL_VARBINARY, DS_LONGBINARY, 16), binCell, SQL_C_WCHAR, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StmtFreeResultDescs(stmt);
        script = Script{};
        script.cols = {c.col};
        script.rows = {{c.cell}, {c.cell}};
        Executed();
        ASSERT_EQ(Fetch(), SQL_SUCCESS);
        char whole[128];
        SQLLEN wholeLen = 0;
        char probe[1];
        SQLLEN probeLen = 0;
        ASSERT_EQ(GetData(1, c.cType, probe, 0, &probeLen), SQL_SUCCESS_WITH_INFO);
        ASSERT_EQ(GetData(1, c.cType, whole, sizeof whole, &wholeLen), SQL_SUCCESS);
        EXPECT_EQ(wholeLen, probeLen);
        // The same value again, in pieces: its rows are fetched afresh; the second row's
        // first piece comes through the plan the first row left.
        StmtFreeResultDescs(stmt);
        script.next = 0;
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round);
            ASSERT_EQ(Fetch(), SQL_SUCCESS);
            std::string joined;
            SQLRETURN rc;
            std::vector<char> piece(static_cast<size_t>(c.pieceBuffer));
            SQLLEN len = 0;
            int calls = 0;
            while ((rc = GetData(1, c.cType, piece.data(), c.pieceBuffer, &len)) != SQL_NO_DATA && ++calls < 50) {
                ASSERT_NE(rc, SQL_ERROR);
                // Text pieces are terminated; a binary one fills the buffer until the last.
                size_t got = rc == SQL_SUCCESS ? static_cast<size_t>(len) : piece.size();
                if (c.cType == SQL_C_CHAR)
                    got = strnlen(piece.data(), piece.size());
                if (c.cType == SQL_C_WCHAR)
                    for (got = 0; piece[got] != 0 || piece[got + 1] != 0; got += 2) {
                    }
                joined.append(piece.data(), got);
            }
            EXPECT_EQ(joined, std::string(whole, static_cast<size_t>(wholeLen)));
        }
    }
}

// A value read whole has nothing more to give, on the first row and on the later ones
// that the kept plans serve.
TEST_F(FetchTest, WholeValueThenNoDataOnEveryRow) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4), Col(SQL_VARCHAR, DS_CHARZ, 20)};
    script.rows = {{I32(7), {"ab"}}, {I32(8), {"cd"}}, {I32(9), {"ef"}}};
    Executed();
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        ASSERT_EQ(Fetch(), SQL_SUCCESS);
        int32_t n = 0;
        char buf[8] = {};
        SQLLEN len = 0;
        ASSERT_EQ(GetData(1, SQL_C_LONG, &n, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(n, 7 + row);
        EXPECT_EQ(GetData(1, SQL_C_LONG, &n, 0, &len), SQL_NO_DATA);
        ASSERT_EQ(GetData(2, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
        EXPECT_EQ(len, 2);
        EXPECT_EQ(GetData(2, SQL_C_CHAR, buf, sizeof buf, &len), SQL_NO_DATA);
        // Another column in between starts that column afresh.
        ASSERT_EQ(GetData(1, SQL_C_LONG, &n, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(n, 7 + row);
    }
}

TEST_F(FetchTest, ChangingTheTypeEndsTheValueAndDefaultContinues) {
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 20)};
    script.rows = {{{"abcdefgh"}}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    char buf[4];
    SQLLEN len = 0;
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(GetData(1, SQL_C_DEFAULT, buf, sizeof buf, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(buf), "def");
    EXPECT_EQ(GetData(1, SQL_C_BINARY, buf, sizeof buf, &len), SQL_NO_DATA);
}

// A conversion that fails is forgotten: the application may ask again in another type.
TEST_F(FetchTest, FailedConversionCanBeAskedAgain) {
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 20)};
    script.rows = {{{"abc"}}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    int32_t n = 0;
    SQLLEN len = 0;
    EXPECT_EQ(GetData(1, SQL_C_LONG, &n, 0, &len), SQL_ERROR);
    char buf[8];
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "abc");
}

TEST_F(FetchTest, NullNeedsAnIndicatorAndClearsTheTarget) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4)};
    script.rows = {{Null()}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    int32_t v = 77;
    EXPECT_EQ(GetData(1, SQL_C_LONG, &v, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED);
    SQLLEN ind = 0;
    ASSERT_EQ(GetData(1, SQL_C_LONG, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(ind, SQL_NULL_DATA);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(GetData(1, SQL_C_LONG, &v, 0, &ind), SQL_NO_DATA);
}

TEST_F(FetchTest, DefaultTypeWithoutLengthWritesTheFixedSize) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4)};
    script.rows = {{I32(-5)}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    unsigned char buf[8];
    std::memset(buf, 0xCC, sizeof buf);
    SQLLEN len = 0;
    ASSERT_EQ(GetData(1, SQL_C_DEFAULT, buf, 0, &len), SQL_SUCCESS);
    int32_t v = 0;
    std::memcpy(&v, buf, 4);
    EXPECT_EQ(v, -5);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(buf[4], 0xCC);
}

// SQL_C_BINARY on a BIGINT column yields the 8-byte integer, and never more bytes than
// the buffer holds.
TEST_F(FetchTest, BigintAsBinaryStaysInsideTheBuffer) {
    script.cols = {Col(SQL_BIGINT, DS_CHARZ, 20)};
    script.rows = {{{"81985529216486895"}}};  // 0x0123456789ABCDEF
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    unsigned char buf[12];
    std::memset(buf, 0xCC, sizeof buf);
    SQLLEN len = 0;
    ASSERT_EQ(GetData(1, SQL_C_BINARY, buf, 4, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(buf[0], 0xEF);
    EXPECT_EQ(buf[3], 0x89);
    EXPECT_EQ(buf[4], 0xCC);

    StmtFreeResultDescs(stmt);
    script.next = 0;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    int64_t v = 0;
    ASSERT_EQ(GetData(1, SQL_C_BINARY, &v, sizeof v, &len), SQL_SUCCESS);
    EXPECT_EQ(v, 0x0123456789ABCDEF);
}

TEST_F(FetchTest, ArdTypeTakesTheRecordAndWithoutOneIsADiagnostic) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4), Col(SQL_INTEGER, DS_SLONG, 4)};
    script.rows = {{I32(12), I32(34)}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    char text[8];
    SQLLEN len = 0;
    EXPECT_EQ(GetData(2, SQL_ARD_TYPE, text, sizeof text, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_COLUMN_NUMBER);
    ASSERT_EQ(DescGrowRecs(stmt->ard, 1), 0);
    stmt->ard->recs[1].conciseType = SQL_C_CHAR;
    ASSERT_EQ(GetData(1, SQL_ARD_TYPE, text, sizeof text, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(text), "12");
}

// Output-parameter mode is the request's: a code 80 left on the statement (an execution's
// IM906) does not turn SQLGetData to the parameter descriptor.
TEST_F(FetchTest, LeftoverOutputParameterCodeKeepsGetDataOnTheArd) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4)};
    script.rows = {{I32(12)}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    ASSERT_EQ(DescGrowRecs(stmt->ard, 1), 0);
    stmt->ard->recs[1].conciseType = SQL_C_CHAR;  // the APD has no record
    char text[8];
    SQLLEN len = 0;
    stmt->diag.errCode = ERR_AGENT_HAS_OUTPUT_PARAMETER_VALUES;
    ASSERT_EQ(StmtGetData(stmt, 1, SQL_ARD_TYPE, text, sizeof text, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(text), "12");
}

TEST_F(FetchTest, GetDataNeedsAnExecutedStatementAndARow) {
    NumberedRows(1);
    char buf[8];
    SQLLEN len = 0;
    stmt->state = STMT_STATE_PREPARED;  // prepared, never executed
    stmt->flags |= STMT_FLAG_PREPARED;
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(Fetch(), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(StmtExtendedFetch(stmt, SQL_FETCH_NEXT, 0, nullptr, nullptr), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_CURSOR_STATE);
    EXPECT_TRUE(script.asked.empty());

    Executed();
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_ERROR);  // no row yet
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_CURSOR_STATE);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, -1, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    EXPECT_EQ(GetData(3, SQL_C_CHAR, buf, sizeof buf, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_COLUMN_NUMBER);
    ASSERT_EQ(Fetch(), SQL_NO_DATA);
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_ERROR);  // past the end
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_CURSOR_STATE);
}

// A bound column's value is whole again for SQLGetData after the fetch.
TEST_F(FetchTest, GetDataOnABoundColumnReadsItFromTheStart) {
    NumberedRows(1);
    Executed();
    char bound[8];
    SQLLEN boundLen = 0;
    Bind(2, SQL_C_CHAR, bound, sizeof bound, &boundLen);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    char buf[8];
    SQLLEN len = 0;
    ASSERT_EQ(GetData(2, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "r1");
}

// ---- long values read from the agent ---------------------------------------------------

TEST_F(FetchTest, LongValueComesFromTheAgentInPieces) {
    script.cols = {Col(SQL_LONGVARCHAR, DS_CHARZ, 4), Col(SQL_LONGVARCHAR, DS_CHARZ, 4)};
    script.rows = {{AtServer(), AtServer()}};
    script.pieces = {"abcdefg"};
    script.pieceTotal = SQL_NO_TOTAL;
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    char buf[4];
    SQLLEN len = 0;
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "abc");
    EXPECT_EQ(len, SQL_NO_TOTAL);
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "def");
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "g");
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_NO_DATA);
    // A long value the agent reports as NULL.
    script.pieceTotal = -1;
    ASSERT_EQ(GetData(2, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(len, SQL_NULL_DATA);
}

// The piece the agent handed out goes with the row buffer, whatever the connection's
// road of data at execution.
TEST_F(FetchTest, FreeingTheRowBufferFreesThePiece) {
    script.cols = {Col(SQL_LONGVARCHAR, DS_CHARZ, 4)};
    script.rows = {{AtServer()}};
    script.pieces = {"abcdefg"};
    script.pieceTotal = 7;
    conn->cn_hasV2DAE = 0;
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    char buf[4];
    SQLLEN len = 0;
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS_WITH_INFO);
    ASSERT_TRUE(stmt->getData.owned);
    StmtFreeRowBuffer(stmt);
    EXPECT_FALSE(stmt->getData.owned);
    EXPECT_EQ(stmt->getData.rest, nullptr);  // the sanitizer build sees a leak otherwise
}

// ---- bookmarks ---------------------------------------------------------------------------

TEST_F(FetchTest, BookmarkColumn) {
    NumberedRows(1);
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    unsigned char buf[16];
    SQLLEN len = 0;
    EXPECT_EQ(GetData(0, SQL_C_BINARY, buf, sizeof buf, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_COLUMN_NUMBER);  // bookmarks off
    stmt->cursor.useBookmarks = SQL_UB_VARIABLE;
    EXPECT_EQ(GetData(0, SQL_C_ULONG, buf, sizeof buf, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_PROGRAM_TYPE_OUT_OF_RANGE);
    // A forward-only cursor has no bookmarks to give.
    EXPECT_EQ(GetData(0, SQL_C_BINARY, buf, sizeof buf, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_DRIVER_NOT_CAPABLE);
}

TEST_F(FetchTest, BookmarkIntoAShortBinaryBufferIsCut) {
    unsigned char buf[12];
    std::memset(buf, 0xCC, sizeof buf);
    SQLLEN len = 0;
    BINDING b;
    b.data = buf;
    b.bufferLength = 4;
    b.octetLength = b.indicator = &len;
    int err = 0;
    EXPECT_EQ(PutBookmark(b, SQL_C_BINARY, -2, &err), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(err, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(buf[0], 0xFE);
    EXPECT_EQ(buf[3], 0xFF);
    EXPECT_EQ(buf[4], 0xCC);
    err = 0;
    b.bufferLength = 8;
    EXPECT_EQ(PutBookmark(b, SQL_C_UBIGINT, -2, &err), SQL_SUCCESS);
    int64_t v = 0;
    std::memcpy(&v, buf, 8);
    EXPECT_EQ(v, -2);
}

// ---- the row block ---------------------------------------------------------------------

TEST_F(FetchTest, BlockComesFromTheAgentInFetchSizeRowsAndIsReused) {
    NumberedRows(130);
    Executed();
    int32_t n = 0;
    SQLLEN ind = 0;
    Bind(1, SQL_C_LONG, &n, 0, &ind);
    for (int i = 1; i <= 60; ++i)
        ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(n, 60);
    EXPECT_EQ(script.asked, std::vector<uint16_t>{60});
    const unsigned char* data = stmt->rowBlock.cols[0].data;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(n, 61);
    EXPECT_EQ(script.asked.size(), 2u);
    EXPECT_EQ(stmt->rowBlock.cols[0].data, data);  // refilled in place
    for (int i = 62; i <= 130; ++i)
        ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(Fetch(), SQL_NO_DATA);
    EXPECT_EQ(Fetch(), SQL_NO_DATA);  // each asks the agent again
    EXPECT_EQ(script.arraysKept, (std::vector<bool>{false, true, true, true, true}));
    EXPECT_EQ(stmt->rowNumber, 130u);
    StmtClose(stmt);
    EXPECT_EQ(stmt->rowBlock.cols, nullptr);
}

// A fetch of one row keeps each bound column's plan for the next: a new
// binding, ARD fields a numeric target reads, and a new result must each be seen.
TEST_F(FetchTest, KeptPlansFollowRebindingTheArdAndANewResult) {
    NumberedRows(5);
    Executed();
    int32_t n = 0;
    SQLLEN ind = 0;
    Bind(1, SQL_C_LONG, &n, 0, &ind);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(n, 1);
    char text[8] = {};
    Bind(1, SQL_C_CHAR, text, sizeof text, &ind);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_STREQ(text, "2");
    EXPECT_EQ(ind, 1);

    SQL_NUMERIC_STRUCT num{};
    Bind(1, SQL_C_NUMERIC, &num, sizeof num, &ind);
    ASSERT_GE(DescRecCount(stmt->ard), 1);
    stmt->ard->recs[1].precision = 10;
    stmt->ard->recs[1].scale = 0;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(num.scale, 0);
    EXPECT_EQ(num.val[0], 3);
    stmt->ard->recs[1].scale = 1;  // between two fetches of the same result
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(num.scale, 1);
    EXPECT_EQ(num.val[0], 40);

    // SQL_C_DEFAULT resolves by the column's type: an integer here, text in the next result.
    char shown[16] = {};
    SQLLEN len = 0;
    Bind(1, SQL_C_DEFAULT, shown, sizeof shown, &len);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(len, 4);
    int32_t five = 0;
    std::memcpy(&five, shown, sizeof five);
    EXPECT_EQ(five, 5);
    StmtClose(stmt);
    StmtFreeResultDescs(stmt);
    script = Script{};
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 10)};
    script.rows = {{{"seven"}}};
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_STREQ(shown, "seven");
    EXPECT_EQ(len, 5);
}

TEST_F(FetchTest, RowWiderThanTheBlockIsStillFetched) {
    script.cols = {Col(SQL_CHAR, DS_CHAR, 70000)};
    script.rows = {{{"wide"}}, {{"second"}}};
    Executed();
    char buf[8];
    SQLLEN len = 0;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(stmt->rowsPerFetch, 1);
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::string(buf), "wide");
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(Fetch(), SQL_NO_DATA);
}

TEST_F(FetchTest, AgentFailureReachesTheApplicationWithItsMessages) {
    NumberedRows(3);
    script.fetchRc = ERR_GENERAL_ERROR;
    fake.errors[kFakeStmt] = {"[Progress Server]fetch failed"};
    Executed();
    EXPECT_EQ(Fetch(), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_GENERAL_ERROR);
    EXPECT_EQ(Messages(stmt->diag), std::vector<std::string>{"[Progress Server]fetch failed"});
}

TEST_F(FetchTest, OnlyNextIsServed) {
    NumberedRows(2);
    Executed();
    EXPECT_EQ(StmtFetchScroll(stmt, SQL_FETCH_PRIOR, 0), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_FETCH_TYPE_OUT_OF_RANGE);
    // A scrollable cursor needs the connection's scrollable cursors; nothing is asked.
    stmt->cursor.cursorType = SQL_CURSOR_STATIC;
    EXPECT_EQ(StmtFetchScroll(stmt, SQL_FETCH_FIRST, 0), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    EXPECT_TRUE(script.asked.empty());
    stmt->cursor.cursorType = SQL_CURSOR_FORWARD_ONLY;
    EXPECT_EQ(StmtFetchScroll(stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
    EXPECT_TRUE(script.asked.size() == 1);
}

// ---- bound columns and rowsets -----------------------------------------------------------

TEST_F(FetchTest, ColumnWiseRowsetWithStatusesAndCount) {
    NumberedRows(5);
    Executed();
    int32_t nums[3] = {};
    SQLLEN numInd[3] = {};
    char texts[3][6] = {};
    SQLLEN textLen[3] = {};
    SQLUSMALLINT status[3] = {};
    SQLULEN fetched = 99;
    Bind(1, SQL_C_LONG, nums, 0, numInd);
    Bind(2, SQL_C_CHAR, texts, 6, textLen);
    Rowset(3, status, &fetched);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(std::vector<int>(nums, nums + 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(std::string(texts[2]), "r3");
    EXPECT_EQ(textLen[1], 2);
    EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{0, 0, 0}));
    // SQLGetData reads the rowset's first row.
    char buf[8];
    SQLLEN len = 0;
    ASSERT_EQ(GetData(2, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(buf), "r1");

    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_NOROW}));
    EXPECT_EQ(nums[1], 5);
    ASSERT_EQ(Fetch(), SQL_NO_DATA);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(status[0], SQL_ROW_NOROW);
    EXPECT_EQ(stmt->rowNumber, 5u);
    // One agent fetch per rowset: each rowset stays whole in the block.
    EXPECT_EQ(script.asked, (std::vector<uint16_t>{60, 60, 60}));
}

TEST_F(FetchTest, RowWiseBindingWithBindOffset) {
    NumberedRows(4);
    Executed();
    struct Row {
        int32_t n;
        SQLLEN nInd;
        char text[6];
        SQLLEN textLen;
    };
    Row rows[6] = {};
    Bind(1, SQL_C_LONG, &rows[0].n, 0, &rows[0].nInd);
    Bind(2, SQL_C_CHAR, rows[0].text, sizeof rows[0].text, &rows[0].textLen);
    stmt->bindType = sizeof(Row);
    stmt->cursor.rowsetSize = 2;
    SQLLEN offset = sizeof(Row);  // the first rowset lands one row further on
    stmt->ard->bindOffset = &offset;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(rows[0].n, 0);
    EXPECT_EQ(rows[1].n, 1);
    EXPECT_EQ(rows[2].n, 2);
    EXPECT_EQ(std::string(rows[2].text), "r2");
    EXPECT_EQ(rows[2].textLen, 2);
    offset = 4 * sizeof(Row);  // read again at the next fetch
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(rows[4].n, 3);
    EXPECT_EQ(rows[5].n, 4);
    EXPECT_EQ(std::string(rows[5].text), "r4");
    EXPECT_EQ(rows[3].n, 0);
    // Without the offset pointer the bound addresses stand as they were given.
    stmt->ard->bindOffset = nullptr;
    StmtFreeResultDescs(stmt);
    script.next = 0;
    stmt->cursor.rowsetSize = 1;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(rows[0].n, 1);
}

// A column that fails marks its row SQL_ROW_ERROR, a warning SQL_ROW_SUCCESS_WITH_INFO;
// the other rows are delivered.
TEST_F(FetchTest, RowStatusesTellFailedAndTruncatedRows) {
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 10)};
    script.rows = {{{"12"}}, {{"x"}}, {{"123456"}}};
    Executed();
    int32_t asLong[3] = {};
    SQLLEN ind[3] = {};
    SQLUSMALLINT status[3] = {};
    Bind(1, SQL_C_LONG, asLong, 0, ind);
    Rowset(3, status);
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_NE(stmt->diag.errCode, 0);
    EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS}));
    EXPECT_EQ(asLong[2], 123456);

    char text[4][3] = {};
    SQLLEN len[3] = {};
    StmtFreeResultDescs(stmt);
    script.next = 0;
    Bind(1, SQL_C_CHAR, text, 3, len);
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(std::vector<int>(status, status + 3),
              (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS_WITH_INFO}));
    // A single row that fails is the fetch's failure, and its status says so.
    StmtFreeResultDescs(stmt);
    script.next = 1;
    Bind(1, SQL_C_LONG, asLong, 0, ind);
    stmt->cursor.rowsetSize = 1;
    EXPECT_EQ(Fetch(), SQL_ERROR);
    EXPECT_EQ(status[0], SQL_ROW_ERROR);
}

// A truncation warns its own row only: the rows after it, and the fixed values beside it,
// come back as plain successes.
TEST_F(FetchTest, TruncationMarksOnlyItsOwnRow) {
    NumberedRows(3);
    script.rows[0][1] = {"long text"};
    Executed();
    int32_t nums[3] = {};
    SQLLEN numInd[3] = {};
    char texts[3][4] = {};
    SQLLEN textLen[3] = {};
    SQLUSMALLINT status[3] = {};
    Bind(2, SQL_C_CHAR, texts, 4, textLen);
    Bind(1, SQL_C_LONG, nums, 0, numInd);
    Rowset(3, status);
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(std::vector<int>(status, status + 3),
              (std::vector<int>{SQL_ROW_SUCCESS_WITH_INFO, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS}));
    EXPECT_EQ(std::string(texts[0]) + "|" + texts[1] + "|" + texts[2], "lon|r2|r3");
    EXPECT_EQ(std::vector<SQLLEN>(textLen, textLen + 3), (std::vector<SQLLEN>{9, 2, 2}));
    EXPECT_EQ(std::vector<int>(nums, nums + 3), (std::vector<int>{1, 2, 3}));
}

// A rowset resolves each bound column once and moves the values row by row: the default
// C type with its own stride, NULLs, and a long value the agent keeps all land in their row;
// a NULL without an indicator fails its row alone.
TEST_F(FetchTest, RowsetDeliversEveryKindOfBoundValue) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4), Col(SQL_VARCHAR, DS_CHARZ, 10), Col(SQL_VARCHAR, DS_CHARZ, 10)};
    script.rows = {{I32(7), {"ab"}, {"short"}}, {I32(8), Null(), AtServer()}, {I32(9), {"cd"}, {"x"}}};
    script.pieces = {"from agent"};
    script.pieceTotal = 10;
    Executed();
    int32_t nums[3] = {};
    SQLLEN numInd[3] = {};
    char texts[3][6] = {};
    SQLLEN textInd[3] = {};
    char longs[3][16] = {};
    SQLLEN longInd[3] = {};
    SQLUSMALLINT status[3] = {};
    Bind(1, SQL_C_DEFAULT, nums, 0, numInd);
    Bind(2, SQL_C_CHAR, texts, 6, textInd);
    Bind(3, SQL_C_CHAR, longs, 16, longInd);
    Rowset(3, status);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(std::vector<int>(nums, nums + 3), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(std::vector<SQLLEN>(numInd, numInd + 3), (std::vector<SQLLEN>{4, 4, 4}));
    EXPECT_EQ(std::vector<SQLLEN>(textInd, textInd + 3), (std::vector<SQLLEN>{2, SQL_NULL_DATA, 2}));
    EXPECT_EQ(std::string(texts[0]) + "|" + texts[1] + "|" + texts[2], "ab||cd");
    EXPECT_EQ(std::string(longs[0]) + "|" + longs[1] + "|" + longs[2], "short|from agent|x");
    EXPECT_EQ(std::vector<SQLLEN>(longInd, longInd + 3), (std::vector<SQLLEN>{5, 10, 1}));

    StmtFreeResultDescs(stmt);
    script.next = 0;
    script.pieces = {"again"};
    script.pieceTotal = 5;
    Bind(2, SQL_C_CHAR, texts, 6, nullptr);
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED);
    EXPECT_EQ(std::vector<int>(status, status + 3), (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS}));
    EXPECT_EQ(std::string(longs[2]), "x");
}

// A rowset moves its values column by column: a column that fails stops its row there (the
// columns after it keep what they held), the other rows go on, and the rowset reports the
// failed row's code over the truncations of the rows around it; an ignored element is
// skipped alone.
TEST_F(FetchTest, FailingColumnStopsItsRowWhenTheRowsetMovesByColumn) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4), Col(SQL_VARCHAR, DS_CHARZ, 10), Col(SQL_VARCHAR, DS_CHARZ, 10)};
    script.rows = {{I32(1), {"12"}, {"long text"}},
                   {I32(2), {"x"}, {"ab"}},
                   {I32(3), {"5"}, {"cd"}},
                   {I32(4), {"7"}, {"truncated"}}};
    Executed();
    int32_t nums[4] = {}, parsed[4] = {-9, -9, -9, -9};
    SQLLEN numInd[4] = {}, parsedInd[4] = {}, textLen[4] = {-9, -9, -9, -9};
    char texts[4][4] = {"-", "-", "-", "-"};
    SQLUSMALLINT status[4] = {};
    Bind(1, SQL_C_LONG, nums, 0, numInd);
    Bind(2, SQL_C_LONG, parsed, 0, parsedInd);
    Bind(3, SQL_C_CHAR, texts, 4, textLen);
    Rowset(4, status);
    nums[2] = -5;
    numInd[2] = SQL_COLUMN_IGNORE;  // this element alone is skipped
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_ERROR_IN_ASSIGNMENT);
    EXPECT_EQ(std::vector<int>(status, status + 4),
              (std::vector<int>{SQL_ROW_SUCCESS_WITH_INFO, SQL_ROW_ERROR, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS_WITH_INFO}));
    EXPECT_EQ(std::vector<int>(nums, nums + 4), (std::vector<int>{1, 2, -5, 4}));
    EXPECT_EQ(std::vector<SQLLEN>(numInd, numInd + 4), (std::vector<SQLLEN>{4, 4, SQL_COLUMN_IGNORE, 4}));
    EXPECT_EQ(std::vector<int>(parsed, parsed + 4), (std::vector<int>{12, -9, 5, 7}));
    EXPECT_EQ(std::string(texts[0]) + "|" + texts[1] + "|" + texts[2] + "|" + texts[3], "lon|-|cd|tru");
    EXPECT_EQ(std::vector<SQLLEN>(textLen, textLen + 4), (std::vector<SQLLEN>{9, -9, 2, 9}));

    // Without a failure the rowset reports the truncation.
    StmtFreeResultDescs(stmt);
    script.next = 0;
    script.rows[1][1] = {"6"};
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
    EXPECT_EQ(parsed[1], 6);
}

// A rowset whose rows come in two agent fetches moves each block's rows column by column:
// every row lands in its own element with its own status, and the code reported is the
// failed row's.
TEST_F(FetchTest, RowsetAcrossTwoBlocksKeepsEachRowsOutcome) {
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 10), Col(SQL_INTEGER, DS_SLONG, 4)};
    script.rows = {{{"1"}, I32(10)}, {{"long text"}, I32(20)}, {{"3"}, I32(30)}, {{"x"}, I32(40)}, {{"5"}, I32(50)}};
    script.mostPerFetch = 3;
    Executed();
    char texts[5][4] = {};
    SQLLEN textLen[5] = {};
    int32_t nums[5] = {};
    SQLLEN numInd[5] = {};
    int32_t parsed[5] = {-9, -9, -9, -9, -9};
    SQLLEN parsedInd[5] = {};
    SQLUSMALLINT status[5] = {};
    SQLULEN fetched = 0;
    Bind(1, SQL_C_CHAR, texts, 4, textLen);
    Bind(2, SQL_C_LONG, nums, 0, numInd);
    Rowset(5, status, &fetched);
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(script.asked.size(), 2u);
    EXPECT_EQ(fetched, 5u);
    EXPECT_EQ(stmt->diag.errCode, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(std::vector<int>(status, status + 5),
              (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_SUCCESS_WITH_INFO, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS,
                                SQL_ROW_SUCCESS}));
    EXPECT_EQ(std::string(texts[0]) + "|" + texts[1] + "|" + texts[3] + "|" + texts[4], "1|lon|x|5");
    EXPECT_EQ(std::vector<int>(nums, nums + 5), (std::vector<int>{10, 20, 30, 40, 50}));
    // The rowset's first row has left the block: SQLGetData cannot reach it.
    char buf[4];
    SQLLEN len = 0;
    EXPECT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_DRIVER_NOT_CAPABLE);

    StmtFreeResultDescs(stmt);
    script.next = 0;
    Bind(1, SQL_C_LONG, parsed, 0, parsedInd);
    ASSERT_EQ(Fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_ERROR_IN_ASSIGNMENT);
    EXPECT_EQ(std::vector<int>(status, status + 5),
              (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS, SQL_ROW_ERROR, SQL_ROW_SUCCESS}));
    EXPECT_EQ(std::vector<int>(parsed, parsed + 5), (std::vector<int>{1, -9, 3, -9, 5}));
}

// The converter of an internal type, as Convert calls it for a whole value.
SQLRETURN Reference(const COLDESC& col, const std::string& bytes, SQLSMALLINT cType, void* dst, SQLLEN dstLen,
                    SQLLEN* outLen, int* err, NarrowCode textCode, NarrowCode code) {
    const int32_t type = col.internalType;
    switch (type) {
    case DS_SLONG: {
        int32_t v;
        std::memcpy(&v, bytes.data(), sizeof v);
        return ConvertLONG(v, true, cType, dst, dstLen, outLen, err, 0, 0);
    }
    case DS_DOUBLE: {
        double v;
        std::memcpy(&v, bytes.data(), sizeof v);
        return ConvertDOUBLE(v, cType, dst, dstLen, outLen, err, 0, 0);
    }
    case DS_DATE: {
        SQL_DATE_STRUCT v;
        std::memcpy(&v, bytes.data(), sizeof v);
        return ConvertDATE(&v, cType, dst, dstLen, outLen, err);
    }
    default: {
        // The text as its element holds it: cut to the element, up to a NUL.
        const size_t width = ds_TypeWidth(type, col.declaredWidth);
        const std::string text = bytes.substr(0, width);
        return ConvertCHAR(text.data(), static_cast<SQLLEN>(strnlen(text.data(), width)), 0, cType, dst, dstLen,
                           outLen, err, 0, 0, textCode, code);
    }
    }
}

// Every pair of internal type and C type is planned once and delivered by its lane or by
// the converter, at fetch (rowsets of one row and of many) and in SQLGetData (with the plan
// it keeps for the next row); the converters are the reference. Every road must hand out
// the bytes, lengths, answer and code the converter does, at the edges of each lane too, in
// both narrow code sets: exact, one-too-short and zero buffers, text above ASCII and beyond
// the BMP, a text that fills its element, integer texts at and past each C type's bounds,
// non-finite doubles, dates at the edges of their text, NULLs, and no length/indicator
// buffer at all.
TEST_F(FetchTest, EveryLaneAnswersAsTheGeneralConversion) {
    const double inf = std::numeric_limits<double>::infinity();
    const COLDESC integer = Col(SQL_INTEGER, DS_SLONG, 4);
    const COLDESC dbl = Col(SQL_DOUBLE, DS_DOUBLE, 8);
    const COLDESC date = Col(SQL_TYPE_DATE, DS_DATE, 6);
    const COLDESC text = Col(SQL_VARCHAR, DS_CHARZ, 10);
    const COLDESC bigint = Col(SQL_BIGINT, DS_CHARZ, 20);
    const std::string cafe = "caf\xc3\xa9 au";          // é in UTF-8 (two characters in ISO-8859-1)
    const std::string smile = "\xf0\x9f\x98\x80x";      // beyond the BMP in UTF-8
    const struct Case {
        COLDESC col;
        Cell cell;
        SQLSMALLINT cType;
        SQLLEN bufferLength;
    } cases[] = {
        {integer, I32(INT32_MIN), SQL_C_LONG, 0},
        {integer, I32(-1), SQL_C_SLONG, 0},
        {integer, Null(), SQL_C_SLONG, 0},
        {dbl, F64(-2.5e300), SQL_C_DOUBLE, 0},
        {dbl, F64(inf), SQL_C_DOUBLE, 0},
        {dbl, F64(std::nan("")), SQL_C_DOUBLE, 0},
        {date, DateCell(2024, 2, 29), SQL_C_TYPE_DATE, 0},
        {date, DateCell(1, 12, 31), SQL_C_DATE, 0},
        {date, DateCell(2024, 2, 29), SQL_C_CHAR, 11},
        {date, DateCell(2024, 2, 29), SQL_C_CHAR, 10},
        {date, DateCell(2024, 2, 29), SQL_C_CHAR, 0},
        {date, DateCell(0, 1, 1), SQL_C_CHAR, 64},
        {date, DateCell(9999, 12, 31), SQL_C_CHAR, 64},
        {date, DateCell(10000, 1, 1), SQL_C_CHAR, 64},
        {date, DateCell(-1, 1, 1), SQL_C_CHAR, 64},
        {date, DateCell(2024, 100, 7), SQL_C_CHAR, 64},
        {date, DateCell(999, 1, 2), SQL_C_WCHAR, 22},
        {date, DateCell(999, 1, 2), SQL_C_WCHAR, 21},
        {date, DateCell(999, 1, 2), SQL_C_WCHAR, 0},
        {date, Null(), SQL_C_CHAR, 11},
        {text, {cafe}, SQL_C_CHAR, 16},
        {text, {cafe}, SQL_C_CHAR, 9},
        {text, {cafe}, SQL_C_CHAR, 8},
        {text, {cafe}, SQL_C_CHAR, 5},
        {text, {cafe}, SQL_C_CHAR, 1},
        {text, {cafe}, SQL_C_CHAR, 0},
        {text, {smile}, SQL_C_CHAR, 3},
        {text, {""}, SQL_C_CHAR, 4},
        {text, {std::string(40, 'w')}, SQL_C_CHAR, 64},
        {text, Null(), SQL_C_CHAR, 4},
        {text, {"abc"}, SQL_C_WCHAR, 8},
        {text, {"abc"}, SQL_C_WCHAR, 7},
        {text, {"abc"}, SQL_C_WCHAR, 6},
        {text, {"abc"}, SQL_C_WCHAR, 2},
        {text, {"abc"}, SQL_C_WCHAR, 1},
        {text, {"abc"}, SQL_C_WCHAR, 0},
        {text, {"caf\xe9"}, SQL_C_WCHAR, 64},
        {text, {cafe}, SQL_C_WCHAR, 64},
        {text, {cafe}, SQL_C_WCHAR, 10},
        {text, {smile}, SQL_C_WCHAR, 64},
        {text, {smile}, SQL_C_WCHAR, 4},
        {text, {""}, SQL_C_WCHAR, 2},
        {text, {std::string(40, 'w')}, SQL_C_WCHAR, 128},
        {text, Null(), SQL_C_WCHAR, 8},
        {text, {"12"}, SQL_C_LONG, 0},
        {text, {"12 "}, SQL_C_LONG, 0},
        {bigint, {"0"}, SQL_C_SBIGINT, 0},
        {bigint, {"-0"}, SQL_C_SBIGINT, 0},
        {bigint, {"999999999999999999"}, SQL_C_SBIGINT, 0},
        {bigint, {"-999999999999999999"}, SQL_C_SBIGINT, 0},
        {bigint, {"9223372036854775807"}, SQL_C_SBIGINT, 0},
        {bigint, {"-9223372036854775808"}, SQL_C_SBIGINT, 0},
        {bigint, {"9223372036854775808"}, SQL_C_SBIGINT, 0},
        {bigint, {"00000000000000000000001"}, SQL_C_SBIGINT, 0},
        {bigint, {" 12 "}, SQL_C_SBIGINT, 0},
        {bigint, {"+12"}, SQL_C_SBIGINT, 0},
        {bigint, {"12x"}, SQL_C_SBIGINT, 0},
        {bigint, {"-"}, SQL_C_SBIGINT, 0},
        {bigint, {""}, SQL_C_SBIGINT, 0},
        {bigint, Null(), SQL_C_SBIGINT, 0},
        {bigint, {"-1"}, SQL_C_UBIGINT, 0},
        {bigint, {"999999999999999999"}, SQL_C_UBIGINT, 0},
        {bigint, {"2147483647"}, SQL_C_LONG, 0},
        {bigint, {"2147483648"}, SQL_C_SLONG, 0},
        {bigint, {"-2147483648"}, SQL_C_SLONG, 0},
        {bigint, {"-2147483649"}, SQL_C_LONG, 0},
        {bigint, {"4294967295"}, SQL_C_ULONG, 0},
        {bigint, {"4294967296"}, SQL_C_ULONG, 0},
        {bigint, {"-32768"}, SQL_C_SHORT, 0},
        {bigint, {"32768"}, SQL_C_SSHORT, 0},
        {bigint, {"65535"}, SQL_C_USHORT, 0},
        {bigint, {"-128"}, SQL_C_STINYINT, 0},
        {bigint, {"127"}, SQL_C_TINYINT, 0},
        {bigint, {"255"}, SQL_C_UTINYINT, 0},
        {bigint, {"256"}, SQL_C_UTINYINT, 0},
        {bigint, {"-0"}, SQL_C_UTINYINT, 0},
        {bigint, {"-1"}, SQL_C_UTINYINT, 0},
        {bigint, {"-9223372036854775808"}, SQL_C_CHAR, 21},
        {bigint, {"-9223372036854775808"}, SQL_C_CHAR, 20},
        {bigint, {"-9223372036854775808"}, SQL_C_WCHAR, 42},
        {bigint, {"-9223372036854775808"}, SQL_C_WCHAR, 41},
    };
    // Row-wise elements, so that every C type has the same stride. A rowset of one row
    // moves its values one by one, a longer one column by column.
    struct Element {
        unsigned char data[128];
        SQLLEN len;
    };
    for (const NarrowCode code : {NarrowCode::Latin1, NarrowCode::Utf8})
        for (const bool withIndicator : {true, false})
            for (const SQLULEN rowset : {1, 2})
                for (const Case& c : cases) {
                    SCOPED_TRACE(testing::Message()
                                 << (code == NarrowCode::Utf8 ? "UTF-8" : "ISO-8859-1") << ", indicator "
                                 << withIndicator << ", rowset " << rowset << ", C type " << c.cType << ", buffer "
                                 << c.bufferLength << ", value " << testing::PrintToString(c.cell.bytes));
                    conn->narrow = code;
                    StmtFreeResultDescs(stmt);
                    script.cols = {c.col};
                    script.rows = {{c.cell}, {c.cell}, {c.cell}};
                    script.next = 0;
                    stmt->blockPos = stmt->rowBlock.rowsUsed;
                    Executed();
                    Element bound[2];
                    std::memset(bound, 0x5A, sizeof bound);
                    bound[0].len = bound[1].len = 77;
                    Bind(1, c.cType, bound[0].data, c.bufferLength, withIndicator ? &bound[0].len : nullptr);
                    stmt->bindType = sizeof(Element);
                    stmt->cursor.rowsetSize = static_cast<int32_t>(rowset);
                    unsigned char want[128];
                    std::memset(want, 0x5A, sizeof want);
                    SQLLEN wantLen = 0;  // the indicator is written before the value
                    int wantErr = 0;
                    SQLRETURN wantRc = SQL_ERROR;
                    if (c.cell.ind == 0)
                        wantRc = Reference(c.col, c.cell.bytes, c.cType, want, c.bufferLength,
                                           withIndicator ? &wantLen : nullptr, &wantErr, ElementTextCode(stmt), code);
                    else if (!withIndicator)
                        wantErr = ERR_INDICATOR_VARIABLE_REQUIRED_BUT_NOT_SUPPLIED;
                    // The first rowset, SQLGetData on its first row, and (one row a rowset)
                    // the next row with SQLGetData's kept plan.
                    for (int round = 0; round < (rowset == 1 ? 2 : 1); ++round) {
                        SCOPED_TRACE(round);
                        const SQLRETURN fetchRc = Fetch();
                        const int fetchCode = stmt->diag.errCode;
                        unsigned char read[128];
                        std::memset(read, 0x5A, sizeof read);
                        SQLLEN readLen = 77;
                        const SQLRETURN getRc =
                            GetData(1, c.cType, read, c.bufferLength, withIndicator ? &readLen : nullptr);
                        EXPECT_EQ(fetchRc, getRc);
                        EXPECT_EQ(fetchCode, stmt->diag.errCode);
                        if (c.cell.ind == 0 || !withIndicator) {
                            EXPECT_EQ(getRc, wantRc);
                            EXPECT_EQ(stmt->diag.errCode, wantErr);
                        }
                        if (c.cell.ind == 0) {
                            if (withIndicator) {
                                EXPECT_EQ(readLen, wantLen);
                            }
                            EXPECT_EQ(0, std::memcmp(read, want, sizeof read));
                        }
                        for (SQLULEN k = 0; k < rowset; ++k) {
                            EXPECT_EQ(bound[k].len, withIndicator ? readLen : 77) << "element " << k;
                            EXPECT_EQ(0, std::memcmp(bound[k].data, read, sizeof read)) << "element " << k;
                        }
                    }
                    StmtBindColRemove(stmt, 1);
                }
}

// SQLGetData keeps the plan of the column and C type it served: another C type, another
// column, an ARD type whose record changes and a new result of other types are each
// planned afresh.
TEST_F(FetchTest, GetDataPlanFollowsTheTypeTheArdAndTheResult) {
    script.cols = {Col(SQL_INTEGER, DS_SLONG, 4), Col(SQL_VARCHAR, DS_CHARZ, 10)};
    for (int i = 1; i <= 4; ++i)
        script.rows.push_back({I32(i), {std::to_string(10 * i)}});
    Executed();
    int32_t n = 0;
    char buf[8] = {};
    SQLLEN len = 0;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    ASSERT_EQ(GetData(2, SQL_C_LONG, &n, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(n, 10);
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "1");
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    ASSERT_EQ(GetData(1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "2");
    ASSERT_EQ(GetData(2, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "20");
    ASSERT_EQ(GetData(1, SQL_C_DEFAULT, &n, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(n, 2);

    // SQL_ARD_TYPE follows the record's type from one call to the next.
    ASSERT_EQ(DescGrowRecs(stmt->ard, 2), 0);
    stmt->ard->recs[2].conciseType = SQL_C_LONG;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    ASSERT_EQ(GetData(2, SQL_ARD_TYPE, &n, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(n, 30);
    stmt->ard->recs[2].conciseType = SQL_C_CHAR;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    ASSERT_EQ(GetData(2, SQL_ARD_TYPE, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "40");

    // A new result whose first column is text: the default C type planned for an integer
    // does not serve.
    StmtFreeResultDescs(stmt);
    script = Script{};
    script.cols = {Col(SQL_VARCHAR, DS_CHARZ, 10)};
    script.rows = {{{"7"}}};
    stmt->blockPos = stmt->rowBlock.rowsUsed;
    Executed();
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    ASSERT_EQ(GetData(1, SQL_C_DEFAULT, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ(buf, "7");
    EXPECT_EQ(len, 1);
}

// With retrieval off rows advance and nothing is written; an ignored column is skipped by
// the ODBC 3 fetch, and filled by the ODBC 2 one.
TEST_F(FetchTest, RetrieveDataOffAndIgnoredColumns) {
    NumberedRows(4);
    Executed();
    int32_t n = -1;
    SQLLEN ind = 0;
    SQLULEN fetched = 0;
    Bind(1, SQL_C_LONG, &n, 0, &ind);
    stmt->rowsFetched = &fetched;
    stmt->cursor.retrieveData = SQL_RD_OFF;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(fetched, 1u);
    stmt->cursor.retrieveData = SQL_RD_ON;
    ind = SQL_COLUMN_IGNORE;
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(n, -1);
    ASSERT_EQ(StmtFetchBound(stmt), SQL_SUCCESS);
    EXPECT_EQ(n, 3);
    ASSERT_EQ(Fetch(), SQL_SUCCESS);
    EXPECT_EQ(n, 4);
}

TEST_F(FetchTest, ExtendedFetchWritesItsOwnOutputs) {
    NumberedRows(3);
    Executed();
    int32_t nums[2] = {};
    SQLLEN ind[2] = {};
    Bind(1, SQL_C_LONG, nums, 0, ind);
    stmt->cursor.rowsetSize = 2;
    SQLULEN fetched = 0;
    SQLUSMALLINT status[2] = {9, 9};
    ASSERT_EQ(StmtExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &fetched, status), SQL_SUCCESS);
    EXPECT_EQ(fetched, 2u);
    ASSERT_EQ(StmtExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &fetched, status), SQL_SUCCESS);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(nums[0], 3);
    EXPECT_EQ(std::vector<int>(status, status + 2), (std::vector<int>{SQL_ROW_SUCCESS, SQL_ROW_NOROW}));
    EXPECT_EQ(StmtExtendedFetch(stmt, SQL_FETCH_NEXT, 0, nullptr, nullptr), SQL_NO_DATA);
}

}  // namespace
