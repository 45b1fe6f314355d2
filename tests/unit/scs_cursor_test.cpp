// The cursor record's accessors: positions, bookmarks, row statuses, and the agent
// information query over a scripted slot 0.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "scrs/scs_cursor.h"
#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

// A cursor of the given type on a rowset of 3 rows starting at row 11, its second row
// current; the rowset's statuses are success but for the row given as failed (index).
struct CursorFixture {
    SCS_CURSOR cur;
    explicit CursorFixture(int32_t type, int32_t keysetSize = 0, int failedRow = -1) {
        scs_CursorInit(&cur, 1, 2, nullptr, nullptr);
        cur.cursorType = type;
        cur.keysetSize = keysetSize;
        cur.rowsetSize = 3;
        cur.rowsetStart = 11;
        cur.position = 2;
        EXPECT_EQ(ds_RowsetNew(&cur.rowset, 3), 0);
        for (int32_t n = 1; n <= 3; ++n)
            scs_SetRowStatus(cur.rowset, n, n - 1 == failedRow ? 5 : 0);
    }
    ~CursorFixture() { scs_FreeRowset(&cur); }
};

TEST(ScsCursor, InitAndInitFromConnTakeTheConnectionsCursorOptions) {
    SCS_CURSOR conn;
    scs_CursorInit(&conn, 0, 0, nullptr, nullptr);
    EXPECT_EQ(conn.comparedColumns, 1);
    EXPECT_EQ(conn.rowCount, -1);
    conn.cursorType = SCS_STATIC;
    conn.concurrency = SCS_VALUES;
    conn.keysetSize = 9;
    conn.rowsetSize = 4;
    conn.simulateCursor = 1;
    conn.useBookmarks = 2;
    conn.retrieveData = 0;
    conn.comparedColumns = 2;  // not a connection's option: the statement starts from 1
    OA_OPHOLDER holder{};
    int owner = 0;
    SCS_CURSOR stmt;
    EXPECT_EQ(scs_CursorInitFromConn(&stmt, 7, 8, &holder, &owner, &conn), 0);
    EXPECT_EQ(stmt.agentStmt, 7u);
    EXPECT_EQ(stmt.agentConn, 8u);
    EXPECT_EQ(stmt.agent, &holder);
    EXPECT_EQ(stmt.owner, &owner);
    EXPECT_EQ(stmt.cursorType, SCS_STATIC);
    EXPECT_EQ(stmt.requestedType, SCS_STATIC);
    EXPECT_EQ(stmt.concurrency, SCS_VALUES);
    EXPECT_EQ(stmt.requestedConcurrency, SCS_VALUES);
    EXPECT_EQ(stmt.keysetSize, 9);
    EXPECT_EQ(stmt.rowsetSize, 4);
    EXPECT_EQ(stmt.lastFetchRowsetSize, 4);
    EXPECT_EQ(stmt.simulateCursor, 1);
    EXPECT_EQ(stmt.useBookmarks, 2);
    EXPECT_EQ(stmt.retrieveData, 0);
    EXPECT_EQ(stmt.comparedColumns, 1);
    EXPECT_EQ(stmt.rowset, nullptr);
}

// A row of the rowset is bounded by the rowset's size, whatever the result's row count.
TEST(ScsCursor, SetPosition) {
    struct Case {
        int32_t value;
        int32_t rowCount;
        int rc;
        int32_t position;
        int32_t rowsetStart;
    } cases[] = {
        {0, -1, 0, 0, 0},
        {-3, -1, 0, -3, -3},
        {-2, -1, 0, -2, 7},  // the rowset start stays
        {3, -1, 0, 3, 7},
        {1, 10, 0, 1, 7},
        {5, -1, ERR_ROW_VALUE_OUT_OF_RANGE, 2, 7},  // beyond a rowset of 3
        {5, 10, ERR_ROW_VALUE_OUT_OF_RANGE, 2, 7},  // inside the result, not the rowset
        {4, 3, ERR_ROW_VALUE_OUT_OF_RANGE, 2, 7},
        {-1, -1, ERR_ROW_VALUE_OUT_OF_RANGE, 2, 7},
        {-4, -1, ERR_ROW_VALUE_OUT_OF_RANGE, 2, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << " count " << c.rowCount);
        SCS_CURSOR cur;
        scs_CursorInit(&cur, 0, 0, nullptr, nullptr);
        cur.rowsetSize = 3;
        cur.rowCount = c.rowCount;
        cur.rowsetStart = 7;
        cur.position = 2;
        EXPECT_EQ(scs_SetPosition(&cur, c.value), c.rc);
        EXPECT_EQ(cur.position, c.position);
        EXPECT_EQ(cur.rowsetStart, c.rowsetStart);
    }
    SCS_CURSOR cur;
    cur.rowCount = 12;
    cur.position = 2;
    cur.rowsetStart = 7;
    scs_CursorReset(&cur);
    EXPECT_EQ(cur.rowCount, -1);
    EXPECT_EQ(cur.position, SCS_POS_BEFORE_START);
    EXPECT_EQ(cur.rowsetStart, 0);
}

TEST(ScsCursor, Bookmarks) {
    enum Call { Get, Row };
    struct Case {
        const char* name;
        int32_t type;
        int32_t keysetSize;
        int32_t position;
        int failedRow;
        Call call;
        uint32_t index;
        int rc;
        int32_t bookmark;  // what *out holds afterwards
    } cases[] = {
        {"keyset", SCS_KEYSET, 0, 2, -1, Get, 2, 0, 13},
        {"static", SCS_STATIC, 0, 1, -1, Get, 0, 0, 11},
        {"keyset by row", SCS_KEYSET, 0, 2, -1, Row, 1, 0, 12},
        {"index = rowset size", SCS_KEYSET, 0, 2, -1, Get, 3, ERR_INVALID_ARGUMENT_VALUE, 99},
        {"index = rowset size by row", SCS_STATIC, 0, 2, -1, Row, 3, ERR_INVALID_ARGUMENT_VALUE, 0},
        {"dynamic", SCS_DYNAMIC, 0, 2, -1, Get, 0, ERR_DRIVER_NOT_CAPABLE, 0},
        {"mixed", SCS_KEYSET, 5, 2, -1, Get, 0, ERR_DRIVER_NOT_CAPABLE, 0},
        {"forward-only", SCS_FORWARD_ONLY, 0, 2, -1, Get, 0, ERR_DRIVER_NOT_CAPABLE, 0},
        {"dynamic by row", SCS_DYNAMIC, 0, 2, -1, Row, 0, 0, 0},
        {"mixed by row", SCS_KEYSET, 5, 2, -1, Row, 0, 0, 0},
        {"forward-only by row", SCS_FORWARD_ONLY, 0, 0, -1, Row, 7, 0, 0},
        {"before the start", SCS_KEYSET, 0, SCS_POS_BEFORE_START, -1, Get, 0, ERR_INVALID_CURSOR_STATE, 0},
        {"whole rowset", SCS_KEYSET, 0, SCS_POS_WHOLE_ROWSET, -1, Get, 1, 0, 12},
        {"after the end", SCS_STATIC, 0, SCS_POS_AFTER_END, -1, Row, 0, ERR_INVALID_CURSOR_STATE, 0},
        {"row in error", SCS_KEYSET, 0, 2, 1, Get, 1, ERR_INVALID_CURSOR_POSITION, 0},
        {"row in error by row", SCS_STATIC, 0, 2, 2, Row, 2, ERR_INVALID_CURSOR_POSITION, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CursorFixture f(c.type, c.keysetSize, c.failedRow);
        f.cur.position = c.position;
        int32_t out = 99;
        EXPECT_EQ(c.call == Get ? scs_GetBookmark(&f.cur, c.index, &out) : scs_RowBookmark(&f.cur, c.index, &out),
                  c.rc);
        EXPECT_EQ(out, c.bookmark);
    }
    CursorFixture f(SCS_KEYSET);
    EXPECT_EQ(scs_GetBookmark(&f.cur, 0, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(scs_RowBookmark(&f.cur, 0, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    // Without a rowset no row has a status to vouch for it.
    scs_FreeRowset(&f.cur);
    EXPECT_EQ(f.cur.rowset, nullptr);
    int32_t out = 99;
    EXPECT_EQ(scs_GetBookmark(&f.cur, 0, &out), ERR_INVALID_CURSOR_POSITION);
}

TEST(ScsCursor, RowStatuses) {
    CursorFixture f(SCS_KEYSET, 0, 1);
    EXPECT_EQ(scs_GetRowStatus(f.cur.rowset, 1), 0);
    EXPECT_EQ(scs_GetRowStatus(f.cur.rowset, 2), 5);
    for (int32_t n : {0, -1, 4})
        EXPECT_EQ(scs_GetRowStatus(f.cur.rowset, n), 5) << n;
    EXPECT_EQ(scs_GetRowStatus(nullptr, 1), 5);
    scs_SetRowStatus(f.cur.rowset, 3, 2);
    EXPECT_EQ(scs_GetRowStatus(f.cur.rowset, 3), 2);
    scs_SetRowStatus(f.cur.rowset, 0, 2);  // nothing
    scs_SetRowStatus(f.cur.rowset, 4, 2);
    scs_SetRowStatus(nullptr, 1, 2);
    EXPECT_EQ(std::vector<int16_t>(f.cur.rowset->rowStatus, f.cur.rowset->rowStatus + 3),
              (std::vector<int16_t>{0, 5, 2}));
}

// ---- the agent information query ----

struct InfoAgent {
    std::map<uint32_t, int32_t> numbers;
    std::map<uint32_t, std::string> texts;
    int failWith = 0;
    std::vector<uint32_t> asked;
};
InfoAgent* g_info = nullptr;

// As the agent's slot 0: a number in 4 bytes, a text cut to the buffer with its full length.
int InfoGetProperty(uint32_t conn, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen) {
    EXPECT_EQ(conn, 0x77u);
    g_info->asked.push_back(code);
    if (g_info->failWith != 0)
        return g_info->failWith;
    if (auto t = g_info->texts.find(code); t != g_info->texts.end()) {
        const std::string& text = t->second;
        if (buf != nullptr && bufLen > 0) {
            const size_t n = std::min(text.size(), static_cast<size_t>(bufLen) - 1);
            std::memcpy(buf, text.data(), n);
            static_cast<char*>(buf)[n] = '\0';
        }
        *outLen = static_cast<int32_t>(text.size());
        return 0;
    }
    auto n = g_info->numbers.find(code);
    if (n == g_info->numbers.end())
        return ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION;
    EXPECT_GE(bufLen, 4);
    std::memcpy(buf, &n->second, sizeof n->second);
    *outLen = 4;
    return 0;
}

class ScsAgentInfo : public ::testing::Test {
protected:
    void SetUp() override {
        g_info = &agent;
        table.DRV_GetProperty = InfoGetProperty;
        holder.ops = &table;
    }
    void TearDown() override { g_info = nullptr; }
    int Ask(uint16_t item, void* buf, int16_t len, int16_t* outLen) {
        return scs_AgentGetInfo(&holder, 0x77, item, buf, len, outLen);
    }
    InfoAgent agent;
    OA_OPTABLE table{};
    OA_OPHOLDER holder{};
};

// Each integer item at its ODBC width: nothing written beyond it.
TEST_F(ScsAgentInfo, IntegerItemsAtTheirWidths) {
    struct Case {
        uint16_t item;
        int width;
    } cases[] = {{28, 2}, {85, 2}, {93, 2}, {99, 2}, {8, 4},  {26, 4}, {43, 4}, {44, 4},
                 {72, 4}, {78, 4}, {79, 4}, {80, 4}, {82, 4}, {83, 4}, {92, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        agent.numbers[oa_InfoIntCode(c.item)] = 0x12345678;
        std::array<unsigned char, 8> buf;
        buf.fill(0xAB);
        int16_t len = -1;
        ASSERT_EQ(Ask(c.item, buf.data(), static_cast<int16_t>(c.width), &len), 0);
        EXPECT_EQ(len, c.width);
        if (c.width == 2) {
            uint16_t v = 0;
            std::memcpy(&v, buf.data(), 2);
            EXPECT_EQ(v, 0x5678);
        } else {
            uint32_t v = 0;
            std::memcpy(&v, buf.data(), 4);
            EXPECT_EQ(v, 0x12345678u);
        }
        for (size_t i = static_cast<size_t>(c.width); i < buf.size(); ++i)
            EXPECT_EQ(buf[i], 0xAB) << "byte " << i;
        // A buffer shorter than the width is refused before the agent is asked.
        agent.asked.clear();
        EXPECT_EQ(Ask(c.item, buf.data(), static_cast<int16_t>(c.width - 1), &len), ERR_INVALID_ARGUMENT_VALUE);
        EXPECT_TRUE(agent.asked.empty());
    }
    // No buffer: the length alone.
    int16_t len = -1;
    EXPECT_EQ(Ask(28, nullptr, 2, &len), 0);
    EXPECT_EQ(len, 2);
}

TEST_F(ScsAgentInfo, TextItemsAreCutToTheBuffer) {
    agent.texts[oa_InfoTextCode(17)] = "ABCD";
    agent.texts[oa_InfoTextCode(29)] = "";
    agent.texts[oa_InfoTextCode(47)] = std::string(300, 'u');  // longer than a first read
    struct Case {
        uint16_t item;
        bool withBuffer;
        int16_t bufLen;
        int rc;
        int16_t length;
        std::string text;  // what the buffer holds ("~" untouched)
    } cases[] = {
        {17, true, 4, ERR_DATA_WAS_TRUNCATED, 4, "ABC"},
        {17, true, 5, 0, 4, "ABCD"},
        {17, true, 1, ERR_DATA_WAS_TRUNCATED, 4, ""},
        {17, true, 0, ERR_DATA_WAS_TRUNCATED, 4, "~"},
        {17, false, 10, ERR_DATA_WAS_TRUNCATED, 4, "~"},
        {29, false, 0, 0, 0, "~"},
        {29, true, 2, 0, 0, ""},
        {47, true, 400, 0, 300, std::string(300, 'u')},
        {47, true, 257, ERR_DATA_WAS_TRUNCATED, 300, std::string(256, 'u')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.item << " into " << c.bufLen);
        std::vector<char> buf(512, '~');
        buf.back() = '\0';
        int16_t len = -1;
        EXPECT_EQ(Ask(c.item, c.withBuffer ? buf.data() : nullptr, c.bufLen, &len), c.rc);
        EXPECT_EQ(len, c.length);
        if (c.text == "~")
            EXPECT_EQ(buf[0], '~');
        else
            EXPECT_EQ(std::string(buf.data()), c.text);
    }
}

TEST_F(ScsAgentInfo, UnknownItemsAgentErrorsAndAMissingSlot) {
    int32_t v = 0;
    int16_t len = -1;
    for (uint16_t item : {uint16_t{12}, uint16_t{27}, uint16_t{300}})
        EXPECT_EQ(Ask(item, &v, 4, &len), ERR_OPTION_TYPE_OUT_OF_RANGE) << item;
    EXPECT_TRUE(agent.asked.empty());
    agent.failWith = ERR_GENERAL_ERROR;
    EXPECT_EQ(Ask(82, &v, 4, &len), ERR_GENERAL_ERROR);
    char text[8];
    EXPECT_EQ(Ask(11, text, sizeof text, &len), ERR_GENERAL_ERROR);
    EXPECT_EQ(agent.asked, (std::vector<uint32_t>{oa_InfoIntCode(82), oa_InfoTextCode(11)}));
    table.DRV_GetProperty = nullptr;
    EXPECT_EQ(Ask(82, &v, 4, &len), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(scs_AgentGetInfo(nullptr, 0x77, 82, &v, 4, &len), ERR_DRIVER_NOT_CAPABLE);
}

}  // namespace
