// Statement options, attributes and column binding against the scripted agent: the width
// every attribute is written with, pointer attributes that a null clears, the application
// descriptor handles, the agent's answers to options, and SQLBindCol.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/handlers/connattr.h"
#include "driver/handlers/stmtattr.h"
#include "driver/objects/desc.h"
#include "util/errcode.h"

namespace {

using namespace conn_fixture;

constexpr uint32_t kInfoBookmarkPersistence = 0x22040052;  // item 82

int FakeAllocStmt(uint32_t, uint32_t* out) {
    static uint32_t next = 0xCCCC0001;
    *out = next++;
    return 0;
}
int FakeFreeStmt(uint32_t) { return 0; }
int FakeCloseCursor(uint32_t) { return 0; }

const OA_OPTABLE kAttrTable = [] {
    OA_OPTABLE t = kFakeTable;
    t.DRV_AllocStmt = FakeAllocStmt;
    t.DRV_FreeStmt = FakeFreeStmt;
    t.DRV_CloseCursor = FakeCloseCursor;
    return t;
}();

int BindAttrTable(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = &kAttrTable;
    return 0;
}

SQLPOINTER Ptr(uintptr_t v) {
    return reinterpret_cast<SQLPOINTER>(v);
}

// A connected connection with one new statement.
class StmtAttrTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        ConnSetOpTableBinder(BindAttrTable);
        stmt = Connected(conn);
        ASSERT_NE(stmt, nullptr);
        TakeCalls();
    }
    STMT* Connected(CONN* c) {
        ConnOpen(c, 'A');
        return c->state == CONN_CONNECTED ? NewStmt(c) : nullptr;
    }
    STMT* NewStmt(CONN* c) {
        SQLHANDLE h = nullptr;
        if (DoAllocStmt(c, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<STMT*>(hdl_Lookup(&Drv().stmtTable, HandleId(h)));
    }
    DESC* NewDesc(CONN* c) {
        SQLHANDLE h = nullptr;
        if (DoAllocDesc(c, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<DESC*>(hdl_Lookup(&Drv().descTable, HandleId(h)));
    }
    SQLRETURN Set(SQLINTEGER attr, SQLPOINTER value) {
        stmt->diag.errCode = 0;
        return DoSetStmtAttr(stmt, SetStmtAttrArgs{attr, value, 0, WIDTH_NARROW});
    }
    SQLRETURN Get(SQLINTEGER attr, void* out, SQLINTEGER* len = nullptr) {
        stmt->diag.errCode = 0;
        return DoGetStmtAttr(stmt, GetStmtAttrArgs{attr, out, 0, len});
    }
    SQLULEN GetULen(SQLINTEGER attr) {
        SQLULEN v = 0xDEAD;
        EXPECT_EQ(Get(attr, &v), SQL_SUCCESS) << attr << " code " << stmt->diag.errCode;
        return v;
    }
    SQLRETURN SetOption(uint16_t option, SQLULEN value) {
        stmt->diag.errCode = 0;
        return DoSetStmtOption(stmt, SetStmtOptionArgs{option, value});
    }

    STMT* stmt = nullptr;
};

// Each attribute is written with its own width into a canary-filled buffer: 8 bytes for
// every SQLULEN, pointer and handle, 4 for the driver's own options; nothing beyond.
TEST_F(StmtAttrTest, AttributesAreWrittenWithTheirWidths) {
    conn->cn_hasParamOp = 1;
    conn->agentCaps[2] = 1;  // the agent takes a maximum length
    stmt->state = STMT_STATE_PREPARED;
    stmt->rowNumber = 0x100000002;
    fake.props[0x32030001] = 500;  // maximum rows, read from the agent
    fake.props[0x32030002] = 1;    // no-scan
    fake.props[0x32030418] = -7;   // driver option 1048
    SQLUSMALLINT status[2];
    SQLULEN counter = 0;
    SQLLEN offset = 0;
    const auto p = [](const void* q) { return static_cast<SQLULEN>(reinterpret_cast<uintptr_t>(q)); };
    struct Case {
        SQLINTEGER attr;
        std::optional<SQLULEN> set;  // set first through SQLSetStmtAttr
        SQLULEN expect;
        size_t width;
    } cases[] = {
        {SQL_ATTR_APP_ROW_DESC, {}, stmt->ard->id, 8},
        {SQL_ATTR_APP_PARAM_DESC, {}, stmt->apd->id, 8},
        {SQL_ATTR_IMP_ROW_DESC, {}, stmt->ird->id, 8},
        {SQL_ATTR_IMP_PARAM_DESC, {}, stmt->ipd->id, 8},
        {SQL_ATTR_QUERY_TIMEOUT, 30, 30, 8},
        {SQL_ATTR_MAX_ROWS, {}, 500, 8},
        {SQL_ATTR_NOSCAN, {}, 1, 8},
        {SQL_ATTR_ASYNC_ENABLE, 1, 1, 8},
        {SQL_ATTR_ROW_BIND_TYPE, 24, 24, 8},
        // A forward-only cursor's own row number, before the cursor type changes.
        {SQL_ATTR_ROW_NUMBER, {}, 0x100000002, 8},
        {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, SQL_CURSOR_STATIC, 8},
        {SQL_ATTR_CONCURRENCY, SQL_CONCUR_VALUES, SQL_CONCUR_VALUES, 8},
        {SQL_ATTR_KEYSET_SIZE, 40, 40, 8},
        {SQL_ROWSET_SIZE, 6, 6, 8},
        {SQL_ATTR_SIMULATE_CURSOR, 1, 1, 8},
        {SQL_ATTR_RETRIEVE_DATA, SQL_RD_OFF, SQL_RD_OFF, 8},
        {SQL_ATTR_USE_BOOKMARKS, SQL_UB_VARIABLE, SQL_UB_VARIABLE, 8},  // as set
        {SQL_ATTR_ENABLE_AUTO_IPD, {}, 0, 8},
        {SQL_ATTR_CURSOR_SCROLLABLE, {}, SQL_SCROLLABLE, 8},
        {SQL_ATTR_CURSOR_SENSITIVITY, {}, SQL_SENSITIVE, 8},
        {SQL_ATTR_FETCH_BOOKMARK_PTR, p(&offset), p(&offset), 8},
        {SQL_ATTR_PARAM_BIND_OFFSET_PTR, p(&counter), p(&counter), 8},
        {SQL_ATTR_PARAM_BIND_TYPE, 16, 16, 8},
        {SQL_ATTR_PARAM_OPERATION_PTR, p(&status[0]), p(&status[0]), 8},
        {SQL_ATTR_PARAM_STATUS_PTR, p(&status[1]), p(&status[1]), 8},
        {SQL_ATTR_PARAMS_PROCESSED_PTR, p(&counter), p(&counter), 8},
        {SQL_ATTR_PARAMSET_SIZE, 70000, 70000, 8},
        {SQL_ATTR_ROW_BIND_OFFSET_PTR, p(&offset), p(&offset), 8},
        {SQL_ATTR_ROW_OPERATION_PTR, p(&status[0]), p(&status[0]), 8},
        {SQL_ATTR_ROW_STATUS_PTR, p(&status[1]), p(&status[1]), 8},
        {SQL_ATTR_ROWS_FETCHED_PTR, p(&counter), p(&counter), 8},
        {SQL_ATTR_ROW_ARRAY_SIZE, 12, 12, 8},
        {1048, {}, static_cast<uint32_t>(-7), 4},
        {1052, 5, 5, 4},
        {1054, 9, 9, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attr);
        if (c.set) {
            ASSERT_EQ(Set(c.attr, Ptr(*c.set)), SQL_SUCCESS) << stmt->diag.errCode;
        }
        std::array<unsigned char, 16> buf;
        buf.fill(0xAB);
        SQLINTEGER len = 0x5A5A;
        ASSERT_EQ(Get(c.attr, buf.data(), &len), SQL_SUCCESS) << stmt->diag.errCode;
        SQLULEN got = 0;
        std::memcpy(&got, buf.data(), c.width);
        EXPECT_EQ(got, c.expect);
        for (size_t i = c.width; i < buf.size(); ++i)
            EXPECT_EQ(buf[i], 0xAB) << "byte " << i;
        const bool handle = c.attr >= SQL_ATTR_APP_ROW_DESC && c.attr <= SQL_ATTR_IMP_PARAM_DESC;
        EXPECT_EQ(len, handle ? SQL_IS_POINTER : 0x5A5A);
    }

    // The ODBC 2 reads write the same widths; the agent's options 1225-1278 are 32-bit.
    fake.props[0x320304C9] = 77;
    std::array<unsigned char, 16> buf;
    buf.fill(0xAB);
    ASSERT_EQ(DoGetStmtOption(stmt, GetStmtOptionArgs{1225, buf.data()}), SQL_SUCCESS);
    EXPECT_EQ(buf[0], 77);
    EXPECT_EQ(buf[4], 0xAB);
    buf.fill(0xAB);
    ASSERT_EQ(DoGetStmtOption(stmt, GetStmtOptionArgs{SQL_KEYSET_SIZE, buf.data()}), SQL_SUCCESS);
    SQLULEN keyset = 0;
    std::memcpy(&keyset, buf.data(), sizeof keyset);
    EXPECT_EQ(keyset, 40u);
    EXPECT_EQ(buf[8], 0xAB);
}

// Pointer attributes set to null are cleared, on an agent with or without parameter
// arrays; the rows-processed pointer is kept even where only one parameter row is taken.
TEST_F(StmtAttrTest, NullClearsPointerAttributes) {
    SQLUSMALLINT status[4];
    SQLULEN counter = 0;
    for (int32_t paramOp : {0, 1}) {
        conn->cn_hasParamOp = paramOp;
        for (SQLINTEGER attr : {SQL_ATTR_PARAM_STATUS_PTR, SQL_ATTR_PARAMS_PROCESSED_PTR, SQL_ATTR_ROWS_FETCHED_PTR,
                                SQL_ATTR_ROW_STATUS_PTR, SQL_ATTR_PARAM_OPERATION_PTR, SQL_ATTR_FETCH_BOOKMARK_PTR}) {
            SCOPED_TRACE(std::to_string(attr) + " paramOp " + std::to_string(paramOp));
            void* target = attr == SQL_ATTR_PARAMS_PROCESSED_PTR || attr == SQL_ATTR_ROWS_FETCHED_PTR
                               ? static_cast<void*>(&counter)
                               : static_cast<void*>(status);
            ASSERT_EQ(Set(attr, target), SQL_SUCCESS) << stmt->diag.errCode;
            EXPECT_EQ(GetULen(attr), reinterpret_cast<uintptr_t>(target));
            ASSERT_EQ(Set(attr, nullptr), SQL_SUCCESS) << stmt->diag.errCode;
            EXPECT_EQ(GetULen(attr), 0u);
        }
        // What execution and fetching read is gone too.
        EXPECT_EQ(stmt->rowsProcessed, nullptr);
        EXPECT_EQ(stmt->ipd->rowsProcessed, nullptr);
        EXPECT_EQ(stmt->ipd->arrayStatus, nullptr);
        EXPECT_EQ(stmt->rowsFetched, nullptr);
        EXPECT_EQ(stmt->ird->rowsProcessed, nullptr);
    }
}

// Explicit descriptors of the connection become current with their bindings; null brings
// the implicit descriptor back with the bindings it had. Handles that are not this
// statement's to use are refused and change nothing.
TEST_F(StmtAttrTest, ApplicationDescriptorHandles) {
    EXPECT_EQ(GetULen(SQL_ATTR_APP_ROW_DESC), stmt->implicitArd->id);
    int32_t a = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{1, SQL_C_CHAR, &a, 40, &ind}), SQL_SUCCESS);

    DESC* ard = NewDesc(conn);
    DESC* apd = NewDesc(conn);
    ASSERT_TRUE(ard != nullptr && apd != nullptr);
    ASSERT_EQ(Set(SQL_ATTR_APP_ROW_DESC, HandleFromId(ard->id)), SQL_SUCCESS) << stmt->diag.errCode;
    ASSERT_EQ(Set(SQL_ATTR_APP_PARAM_DESC, HandleFromId(apd->id)), SQL_SUCCESS) << stmt->diag.errCode;
    EXPECT_EQ(GetULen(SQL_ATTR_APP_ROW_DESC), ard->id);
    EXPECT_EQ(GetULen(SQL_ATTR_APP_PARAM_DESC), apd->id);
    EXPECT_TRUE(stmt->boundCols.empty());

    ASSERT_EQ(Set(SQL_ATTR_APP_ROW_DESC, nullptr), SQL_SUCCESS);
    ASSERT_EQ(Set(SQL_ATTR_APP_PARAM_DESC, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard, stmt->implicitArd);
    EXPECT_EQ(stmt->apd, stmt->implicitApd);
    ASSERT_EQ(stmt->boundCols.size(), 1u);
    EXPECT_EQ(stmt->boundCols[0].data, &a);
    EXPECT_EQ(stmt->boundCols[0].bufferLength, 40);
    EXPECT_EQ(stmt->boundCols[0].indicator, &ind);

    STMT* other = NewStmt(conn);
    CONN* conn2 = NewConn();
    ASSERT_NE(other, nullptr);
    ASSERT_NE(conn2, nullptr);
    STMT* foreign = Connected(conn2);
    ASSERT_NE(foreign, nullptr);
    DESC* foreignDesc = NewDesc(conn2);
    ASSERT_NE(foreignDesc, nullptr);
    DESC* freed = NewDesc(conn);
    const uint32_t freedId = freed->id;
    DescFree(freed);

    struct Case {
        SQLINTEGER attr;
        uint32_t id;
        int code;
        DESC* codeAlsoOn;
    } cases[] = {
        {SQL_ATTR_APP_ROW_DESC, other->implicitArd->id, ERR_INVALID_USE_OF_AN_AUTOMATICALLY_ALLOCATED,
         other->implicitArd},
        {SQL_ATTR_APP_ROW_DESC, stmt->implicitApd->id, ERR_INVALID_USE_OF_AN_AUTOMATICALLY_ALLOCATED,
         stmt->implicitApd},
        {SQL_ATTR_APP_PARAM_DESC, other->ipd->id, ERR_INVALID_USE_OF_AN_AUTOMATICALLY_ALLOCATED, other->ipd},
        {SQL_ATTR_APP_ROW_DESC, foreign->implicitArd->id, ERR_INVALID_ATTRIBUTE_VALUE, nullptr},
        {SQL_ATTR_APP_PARAM_DESC, foreignDesc->id, ERR_INVALID_ATTRIBUTE_VALUE, nullptr},
        {SQL_ATTR_APP_ROW_DESC, freedId, ERR_INVALID_ATTRIBUTE_VALUE, nullptr},
        {SQL_ATTR_APP_ROW_DESC, stmt->id, ERR_INVALID_ATTRIBUTE_VALUE, nullptr},  // not a descriptor
        {SQL_ATTR_APP_PARAM_DESC, 0x12345, ERR_INVALID_ATTRIBUTE_VALUE, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Set(c.attr, HandleFromId(c.id)), SQL_ERROR);
        EXPECT_EQ(stmt->diag.errCode, c.code);
        if (c.codeAlsoOn != nullptr) {
            EXPECT_EQ(c.codeAlsoOn->diag.errCode, c.code);
            c.codeAlsoOn->diag.errCode = 0;
        }
        EXPECT_EQ(foreign->implicitArd->diag.errCode, 0);
        EXPECT_EQ(stmt->ard, stmt->implicitArd);
        EXPECT_EQ(stmt->apd, stmt->implicitApd);
    }
}

// What the agent answers to a set option decides what is kept and what the call returns.
TEST_F(StmtAttrTest, OptionsFollowTheAgentsAnswers) {
    struct Case {
        const char* name;
        uint16_t option;
        SQLULEN value;
        std::optional<std::pair<uint32_t, int>> setAnswer;  // property code, agent's code
        std::optional<std::pair<uint32_t, int32_t>> readBack;
        bool maxLengthCap;
        SQLRETURN rc;
        int code;
        std::optional<SQLULEN> stored;  // read back through SQLGetStmtOption
    } cases[] = {
        {"cursor type changed", SQL_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, {{0x32030006, 75}}, {{0x32030006, 1}}, false,
         SQL_SUCCESS_WITH_INFO, ERR_OPTION_VALUE_CHANGED, SQL_CURSOR_KEYSET_DRIVEN},
        {"read-back fails", SQL_CONCURRENCY, SQL_CONCUR_ROWVER, {{0x32030007, 75}}, {}, false, SQL_ERROR,
         ERR_OPTION_TYPE_OUT_OF_RANGE, SQL_CONCUR_READ_ONLY},
        {"cursor type refused", SQL_CURSOR_TYPE, 9, {{0x32030006, 21}}, {}, false, SQL_ERROR,
         ERR_OPTION_TYPE_OUT_OF_RANGE, SQL_CURSOR_FORWARD_ONLY},
        {"query timeout without agent timeouts", SQL_QUERY_TIMEOUT, 30, {{0x32030000, 43}}, {}, false,
         SQL_SUCCESS_WITH_INFO, ERR_OPTION_VALUE_CHANGED, 0},
        {"no query timeout asked", SQL_QUERY_TIMEOUT, 0, {{0x32030000, 43}}, {}, false, SQL_SUCCESS, 0, 0},
        {"negative query timeout", SQL_QUERY_TIMEOUT, static_cast<SQLULEN>(-5), {}, {}, false, SQL_SUCCESS, 0, 0},
        {"query timeout refused", SQL_QUERY_TIMEOUT, 30, {{0x32030000, 21}}, {}, false, SQL_ERROR,
         ERR_INVALID_ARGUMENT_VALUE, 0},
        {"max length raised", SQL_MAX_LENGTH, 100, {}, {}, true, SQL_SUCCESS_WITH_INFO, ERR_OPTION_VALUE_CHANGED,
         8192},
        {"max length 0", SQL_MAX_LENGTH, 0, {}, {}, true, SQL_SUCCESS, 0, 0},
        {"max length not taken", SQL_MAX_LENGTH, 100, {}, {}, false, SQL_SUCCESS_WITH_INFO,
         ERR_OPTION_VALUE_CHANGED, 0},
        {"rowset size 0", SQL_ROWSET_SIZE, 0, {}, {}, false, SQL_SUCCESS, 0, 1},
        {"rowset size cut", SQL_ROWSET_SIZE, 500, {{0x32030009, 75}}, {{0x32030009, 100}}, false,
         SQL_SUCCESS_WITH_INFO, ERR_OPTION_VALUE_CHANGED, 100},
        {"retrieve data refused", SQL_RETRIEVE_DATA, SQL_RD_OFF, {{0x3203000B, 21}}, {}, false, SQL_ERROR,
         ERR_OPTION_TYPE_OUT_OF_RANGE, SQL_RD_ON},
        {"1052 refused", 1052, 3, {{0x3203041C, 21}}, {}, false, SQL_ERROR, ERR_INVALID_ARGUMENT_VALUE, 0},
        {"1054 refused", 1054, 3, {{0x3203041E, 43}}, {}, false, SQL_ERROR, ERR_DRIVER_NOT_CAPABLE, 0},
        {"1050 refused", 1050, 3, {{0x3203041A, 21}}, {}, false, SQL_ERROR, ERR_OPTION_TYPE_OUT_OF_RANGE, 1},
        {"1225 taken", 1225, 3, {}, {}, false, SQL_SUCCESS, 0, {}},
        {"1226 taken", 1226, 3, {}, {}, false, SQL_SUCCESS, 0, {}},
        {"1278 not known", 1278, 3, {{0x320304FE, 43}}, {}, false, SQL_ERROR, ERR_OPTION_TYPE_OUT_OF_RANGE, {}},
        {"1260 refused", 1260, 3, {{0x320304EC, 21}}, {}, false, SQL_ERROR, ERR_INVALID_ARGUMENT_VALUE, {}},
        {"not an option", 999, 1, {}, {}, false, SQL_ERROR, ERR_OPTION_TYPE_OUT_OF_RANGE, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.setFails.clear();
        fake.props.clear();
        if (c.setAnswer)
            fake.setFails[c.setAnswer->first] = c.setAnswer->second;
        if (c.readBack)
            fake.props[c.readBack->first] = c.readBack->second;
        conn->agentCaps[2] = c.maxLengthCap ? 1 : 0;
        stmt = NewStmt(conn);
        ASSERT_NE(stmt, nullptr);
        TakeCalls();
        EXPECT_EQ(SetOption(c.option, c.value), c.rc);
        EXPECT_EQ(stmt->diag.errCode, c.code);
        if (c.stored) {
            SQLULEN v = 0xDEAD;
            stmt->diag.errCode = 0;
            if (c.option >= 1000)
                v = 0;  // the driver's options are 32-bit
            ASSERT_EQ(DoGetStmtOption(stmt, GetStmtOptionArgs{c.option, &v}), SQL_SUCCESS);
            EXPECT_EQ(v, *c.stored);
        }
        if (c.option == 1226) {
            EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"SetProperty 310304CA=3"}));
        }
    }
}

// A new rowset size keeps the previous one; a maximum length cannot change once the
// statement is prepared on an agent that takes one.
TEST_F(StmtAttrTest, RowsetAndMaxLengthState) {
    ASSERT_EQ(SetOption(SQL_ROWSET_SIZE, 5), SQL_SUCCESS);
    ASSERT_EQ(SetOption(SQL_ROWSET_SIZE, 7), SQL_SUCCESS);
    // The current rowset's size stays until a fetch: the second change keeps it.
    EXPECT_EQ(stmt->cursor.lastFetchRowsetSize, 1);
    EXPECT_EQ(stmt->cursor.rowsetSize, 7);
    EXPECT_TRUE(stmt->cursor.flags & SCS_ROWSET_SIZE_CHANGED);

    // Another descriptor's array size reaches the agent statement, whose rowsets the cursor
    // library sizes from it, and keeps the current rowset's size as the option does.
    DESC* ard = NewDesc(conn);
    ASSERT_NE(ard, nullptr);
    ard->arraySize = 4;
    fake.calls.clear();
    ASSERT_EQ(Set(SQL_ATTR_APP_ROW_DESC, HandleFromId(ard->id)), SQL_SUCCESS) << stmt->diag.errCode;
    EXPECT_EQ(fake.calls, std::vector<std::string>{"SetProperty 32030009=4"});
    EXPECT_EQ(stmt->cursor.rowsetSize, 4);
    EXPECT_EQ(stmt->cursor.lastFetchRowsetSize, 1);
    fake.setFails[OA_PROP_ROWSET_SIZE] = ERR_GENERAL_ERROR;
    EXPECT_EQ(Set(SQL_ATTR_APP_ROW_DESC, nullptr), SQL_ERROR);  // the agent refuses the size
    EXPECT_EQ(stmt->cursor.rowsetSize, 4);
    fake.setFails.clear();

    conn->agentCaps[2] = 1;
    stmt->state = STMT_STATE_PREPARED;
    EXPECT_EQ(SetOption(SQL_MAX_LENGTH, 10000), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_OPERATION_INVALID_AT_THIS_TIME);
    EXPECT_EQ(stmt->maxLength, 0u);
}

// Attributes answered by the driver itself, and the bookmark and row-number reads that
// depend on the statement's state.
TEST_F(StmtAttrTest, AttributesTheDriverAnswers) {
    EXPECT_EQ(Set(SQL_ATTR_ENABLE_AUTO_IPD, Ptr(1)), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(stmt->diag.errCode, ERR_OPTION_VALUE_CHANGED);
    EXPECT_EQ(Set(SQL_ATTR_ENABLE_AUTO_IPD, nullptr), SQL_SUCCESS);
    for (SQLINTEGER attr : {SQL_ATTR_METADATA_ID}) {
        EXPECT_EQ(Set(attr, nullptr), SQL_ERROR);
        EXPECT_EQ(stmt->diag.errCode, ERR_DRIVER_NOT_CAPABLE);
        SQLULEN v = 0;
        EXPECT_EQ(Get(attr, &v), SQL_ERROR);
        EXPECT_EQ(stmt->diag.errCode, ERR_DRIVER_NOT_CAPABLE);
    }
    // No set of rows or parameters is empty: 0 is refused and the size stays.
    for (SQLINTEGER attr : {SQL_ATTR_ROW_ARRAY_SIZE, SQL_ATTR_PARAMSET_SIZE}) {
        EXPECT_EQ(Set(attr, Ptr(0)), SQL_ERROR) << attr;
        EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_ATTRIBUTE_VALUE) << attr;
        SQLULEN v = 0;
        EXPECT_EQ(Get(attr, &v), SQL_SUCCESS);
        EXPECT_EQ(v, 1u) << attr;
    }
    for (SQLINTEGER attr : {SQL_GET_BOOKMARK, SQL_ROW_NUMBER, 1050, 4711}) {
        EXPECT_EQ(Set(attr, Ptr(1)), SQL_ERROR) << attr;
        EXPECT_EQ(stmt->diag.errCode, ERR_OPTION_TYPE_OUT_OF_RANGE) << attr;
    }

    struct Case {
        SQLINTEGER attr;
        int32_t state;
        bool bookmarks;
        int code;
    } reads[] = {
        {SQL_GET_BOOKMARK, STMT_STATE_ALLOCATED, true, ERR_INVALID_CURSOR_STATE},
        {SQL_GET_BOOKMARK, STMT_STATE_PREPARED, false, ERR_OPERATION_INVALID_AT_THIS_TIME},
        {SQL_GET_BOOKMARK, STMT_STATE_PREPARED, true, ERR_DRIVER_NOT_CAPABLE},  // forward-only
        {SQL_ROW_NUMBER, STMT_STATE_ALLOCATED, false, ERR_INVALID_CURSOR_STATE},
        {1050, STMT_STATE_PREPARED, false, ERR_OPTION_TYPE_OUT_OF_RANGE},
    };
    for (const Case& c : reads) {
        SCOPED_TRACE(c.attr);
        stmt->state = c.state;
        stmt->cursor.useBookmarks = c.bookmarks ? SQL_UB_VARIABLE : SQL_UB_OFF;
        SQLULEN v = 0;
        EXPECT_EQ(Get(c.attr, &v), SQL_ERROR);
        EXPECT_EQ(stmt->diag.errCode, c.code);
    }
}

// Cursor sensitivity and scrollability are set through the cursor type and concurrency;
// a scrollable type the agent substituted is no warning.
TEST_F(StmtAttrTest, SensitivityAndScrollabilityMapOntoCursorOptions) {
    ASSERT_EQ(Set(SQL_ATTR_CURSOR_SENSITIVITY, Ptr(SQL_INSENSITIVE)), SQL_SUCCESS);
    EXPECT_EQ(stmt->cursor.concurrency, SQL_CONCUR_READ_ONLY);
    EXPECT_EQ(stmt->cursor.cursorType, SQL_CURSOR_STATIC);
    EXPECT_EQ(GetULen(SQL_ATTR_CURSOR_SENSITIVITY), static_cast<SQLULEN>(SQL_INSENSITIVE));
    EXPECT_EQ(Set(SQL_ATTR_CURSOR_SENSITIVITY, Ptr(7)), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_ATTRIBUTE_VALUE);

    ASSERT_EQ(Set(SQL_ATTR_CURSOR_SCROLLABLE, Ptr(SQL_NONSCROLLABLE)), SQL_SUCCESS);
    EXPECT_EQ(GetULen(SQL_ATTR_CURSOR_SCROLLABLE), static_cast<SQLULEN>(SQL_NONSCROLLABLE));
    fake.setFails[0x32030006] = ERR_OPTION_VALUE_CHANGED;
    fake.props[0x32030006] = SQL_CURSOR_STATIC;
    EXPECT_EQ(Set(SQL_ATTR_CURSOR_SCROLLABLE, Ptr(SQL_SCROLLABLE)), SQL_SUCCESS);
    EXPECT_EQ(stmt->diag.errCode, 0);
    EXPECT_EQ(GetULen(SQL_ATTR_CURSOR_SCROLLABLE), static_cast<SQLULEN>(SQL_SCROLLABLE));
}

// Column binding: the refusals, the bookmark column by what the agent keeps, and the
// order and descriptor records of bindings.
TEST_F(StmtAttrTest, BindColumns) {
    int64_t buf = 0;
    SQLLEN ind = 0;
    struct Case {
        const char* name;
        SQLUSMALLINT column;
        SQLSMALLINT cType;
        SQLLEN length;
        std::optional<int32_t> persistence;  // agent's answer to information item 82
        int code;
    } cases[] = {
        {"bookmark as text", 0, SQL_C_CHAR, 8, 74, ERR_PROGRAM_TYPE_OUT_OF_RANGE},
        {"no bookmarks", 0, SQL_C_CHAR, 8, 0, ERR_DRIVER_NOT_CAPABLE},
        {"agent cannot tell", 0, SQL_C_BINARY, 8, {}, ERR_DRIVER_NOT_CAPABLE},
        {"negative length", 1, SQL_C_CHAR, -1, {}, ERR_INVALID_STRING_OR_BUFFER_LENGTH},
        {"above 32767", 32768, SQL_C_CHAR, 8, {}, ERR_INVALID_COLUMN_NUMBER},
        {"largest number", 65535, SQL_C_LONG, 4, {}, ERR_INVALID_COLUMN_NUMBER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.props.clear();
        if (c.persistence)
            fake.props[kInfoBookmarkPersistence] = *c.persistence;
        EXPECT_EQ(DoBindCol(stmt, BindColArgs{c.column, c.cType, &buf, c.length, &ind}), SQL_ERROR);
        EXPECT_EQ(stmt->diag.errCode, c.code);
        EXPECT_TRUE(stmt->boundCols.empty());
        EXPECT_EQ(DescRecCount(stmt->ard), 0);
    }
    // Read by an ODBC 3 application, a column number out of range is 07009.
    std::optional<DiagRecord> rec = DiagTakeRecord(stmt->diag, 3, DIAG_MODE_RECORD);
    ASSERT_TRUE(rec.has_value());
    EXPECT_STREQ(rec->state, "07009");
    EXPECT_EQ(DescGrowRecs(stmt->ard, 40000), ERR_INVALID_DESCRIPTOR_INDEX);

    fake.props[kInfoBookmarkPersistence] = 74;
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{0, SQL_C_UBIGINT, &buf, 0, &ind}), SQL_SUCCESS);
    for (SQLUSMALLINT n : {1, 2, 3})
        ASSERT_EQ(DoBindCol(stmt, BindColArgs{n, SQL_C_LONG, &buf, 0, &ind}), SQL_SUCCESS);
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{1, SQL_C_LONG, nullptr, 0, nullptr}), SQL_SUCCESS);
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{1, SQL_C_SHORT, &buf, 0, &ind}), SQL_SUCCESS);
    std::vector<uint16_t> order;
    for (const BINDCOL& b : stmt->boundCols)
        order.push_back(b.column);
    EXPECT_EQ(order, (std::vector<uint16_t>{0, 2, 3, 1}));
    EXPECT_EQ(StmtGetBoundCol(stmt, 0)->bufferLength, 8);
    EXPECT_EQ(StmtGetBoundCol(stmt, 1)->bufferLength, 2);  // the C type's own size

    ASSERT_EQ(DescRecCount(stmt->ard), 3);
    const DESCREC& r1 = stmt->ard->recs[1];
    EXPECT_EQ(r1.conciseType, SQL_C_SHORT);
    EXPECT_EQ(r1.data, &buf);
    EXPECT_EQ(r1.indicator, &ind);
    EXPECT_EQ(r1.octetLengthPtr, &ind);
    ASSERT_EQ(DoBindCol(stmt, BindColArgs{3, SQL_C_LONG, nullptr, 0, nullptr}), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->recs[3].data, nullptr);
}

// A statement option given on the connection (ODBC 2) goes to every statement in list
// order, stopping at the first that does not take it as given, whose diagnostics the
// connection then reports; statements allocated later start from it, the agent told too.
TEST_F(StmtAttrTest, StatementOptionsGivenOnTheConnection) {
    envr->odbcVersion = 2;
    STMT* second = NewStmt(conn);  // the newest statement heads the connection's list
    ASSERT_NE(second, nullptr);
    fake.setFails[0x32030001] = ERR_OPTION_VALUE_CHANGED;
    fake.props[0x32030001] = 40;
    fake.errors[second->agentStmt] = {"capped"};
    TakeCalls();

    EXPECT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{SQL_MAX_ROWS, 50, 'A'}), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(conn->stmtDefaults[SQL_MAX_ROWS], 50u);
    EXPECT_EQ(second->maxRows, 40u);
    EXPECT_EQ(stmt->maxRows, 0u);  // not reached
    EXPECT_EQ(conn->diag.errCode, ERR_OPTION_VALUE_CHANGED);

    fake.setFails.clear();
    TakeCalls();
    STMT* third = NewStmt(conn);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->maxRows, 50u);
    EXPECT_EQ(third->diag.errCode, 0);
    const std::vector<std::string> calls = TakeCalls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "SetProperty 32030001=50"), calls.end());

    // An option the agent refuses for the new statement refuses the allocation.
    fake.setFails[0x32030001] = ERR_INVALID_ARGUMENT_VALUE;
    conn->diag.errCode = 0;
    EXPECT_EQ(NewStmt(conn), nullptr);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_ARGUMENT_VALUE);
}

// The cursor options given on the connection live in its cursor record: a statement
// allocated later starts from them and its agent statement is told each one that is not
// a new record's; a new statement's agent is told option 1050's default.
TEST_F(StmtAttrTest, CursorOptionsGivenOnTheConnectionLiveInItsCursorRecord) {
    envr->odbcVersion = 2;
    for (const auto& [option, value] : std::vector<std::pair<uint16_t, SQLULEN>>{
             {SQL_CURSOR_TYPE, SQL_CURSOR_STATIC}, {SQL_CONCURRENCY, SQL_CONCUR_VALUES}, {SQL_KEYSET_SIZE, 0},
             {SQL_ROWSET_SIZE, 6}, {SQL_RETRIEVE_DATA, SQL_RD_OFF}, {SQL_USE_BOOKMARKS, SQL_UB_VARIABLE}}) {
        EXPECT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{option, value, 'A'}), SQL_SUCCESS) << option;
    }
    EXPECT_EQ(conn->stmtDefaults.size(), 6u);  // options 0 to 5 only
    EXPECT_EQ(conn->cursorDefaults.cursorType, SQL_CURSOR_STATIC);
    EXPECT_EQ(conn->cursorDefaults.concurrency, SQL_CONCUR_VALUES);
    EXPECT_EQ(conn->cursorDefaults.rowsetSize, 6);
    EXPECT_EQ(conn->cursorDefaults.retrieveData, SQL_RD_OFF);
    EXPECT_EQ(conn->cursorDefaults.useBookmarks, SQL_UB_VARIABLE);
    // The statement that was there took each of them.
    EXPECT_EQ(stmt->cursor.cursorType, SQL_CURSOR_STATIC);
    EXPECT_EQ(stmt->cursor.useBookmarks, SQL_UB_VARIABLE);

    TakeCalls();
    STMT* later = NewStmt(conn);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->cursor.cursorType, SQL_CURSOR_STATIC);
    EXPECT_EQ(later->cursor.requestedType, SQL_CURSOR_STATIC);
    EXPECT_EQ(later->cursor.concurrency, SQL_CONCUR_VALUES);
    EXPECT_EQ(later->cursor.rowsetSize, 6);
    EXPECT_EQ(later->cursor.retrieveData, SQL_RD_OFF);
    EXPECT_EQ(later->cursor.useBookmarks, SQL_UB_VARIABLE);
    EXPECT_EQ(later->cursor.comparedColumns, 1);
    EXPECT_EQ(later->cursor.agentStmt, later->agentStmt);
    EXPECT_EQ(later->cursor.agentConn, conn->agentConn);
    EXPECT_EQ(later->cursor.agent, &conn->holder);
    EXPECT_EQ(later->cursor.owner, later);
    std::vector<std::string> calls = TakeCalls();
    calls.erase(std::remove_if(calls.begin(), calls.end(),
                               [](const std::string& c) { return c.rfind("SetProperty", 0) != 0; }),
                calls.end());
    // The keyset size is a new record's: not sent. Use-bookmarks is the driver's alone.
    EXPECT_EQ(calls, (std::vector<std::string>{"SetProperty 32030006=3", "SetProperty 32030007=4",
                                               "SetProperty 32030009=6", "SetProperty 3203000B=0"}));
    SQLULEN v = 0;
    ASSERT_EQ(DoGetStmtOption(later, GetStmtOptionArgs{SQL_USE_BOOKMARKS, &v}), SQL_SUCCESS);
    EXPECT_EQ(v, static_cast<SQLULEN>(SQL_UB_VARIABLE));
    uint32_t option1050 = 0;
    ASSERT_EQ(DoGetStmtOption(later, GetStmtOptionArgs{1050, &option1050}), SQL_SUCCESS);
    EXPECT_EQ(option1050, 1u);
}

// The cursor record keeps its sizes in 32 bits: a larger value is kept as the largest and
// said so, on the statement and on the connection.
TEST_F(StmtAttrTest, CursorSizesBeyond32BitsAreSaturated) {
    const SQLULEN huge = SQLULEN{1} << 33;
    for (uint16_t option : {uint16_t{SQL_ROWSET_SIZE}, uint16_t{SQL_KEYSET_SIZE}}) {
        SCOPED_TRACE(option);
        TakeCalls();
        EXPECT_EQ(SetOption(option, huge), SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(stmt->diag.errCode, ERR_OPTION_VALUE_CHANGED);
        EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"SetProperty 3203000" + std::to_string(option) + "=" +
                                                          std::to_string(INT32_MAX)}));
        SQLULEN v = 0;
        stmt->diag.errCode = 0;
        ASSERT_EQ(DoGetStmtOption(stmt, GetStmtOptionArgs{option, &v}), SQL_SUCCESS);
        EXPECT_EQ(v, static_cast<SQLULEN>(INT32_MAX));
    }
    EXPECT_EQ(stmt->cursor.lastFetchRowsetSize, 1);

    envr->odbcVersion = 2;
    conn->diag.errCode = 0;
    EXPECT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{SQL_KEYSET_SIZE, huge, 'A'}), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(conn->cursorDefaults.keysetSize, INT32_MAX);
}

}  // namespace
