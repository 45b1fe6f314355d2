// Agent properties: every information type and flag answered, the answers that come from
// the connection, buffers, handle levels, and the options a connection or statement takes,
// with the values put in place of those the agent does not offer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent_conn_fixture.h"
#include "platform/esql92/esql92_script.h"
#include "util/errcode.h"

namespace {

using agenttest::ConnRequest;

class AgentProps : public agenttest::AgentConnections {
protected:
    void SetUp() override {
        AgentConnections::SetUp();
        conn = Connect();
        ASSERT_EQ(lastRc, 0);
        ASSERT_EQ(OA_AllocStmt(conn, &stmt), 0);
    }

    esql92::Script script;
    uint32_t conn = 0;
    uint32_t stmt = 0;
};

// The information types that depend only on the server, as a number or a text.
struct InfoNumber {
    uint16_t from, to;   // a range of types with one answer
    int32_t value;
};
struct InfoText {
    uint16_t item;
    const char* value;
};

const InfoNumber kNumbers[] = {
    {0, 1, 0}, {3, 5, 0}, {8, 8, 191}, {9, 9, 1}, {12, 12, 1}, {15, 15, 2}, {22, 22, 0}, {23, 24, 1},
    {28, 28, 4}, {30, 35, 32}, {43, 43, 11}, {46, 46, 2}, {48, 48, 3}, {49, 49, 8387455}, {50, 50, 0x57FFF},
    {51, 51, 7}, {52, 52, 0x19FFF}, {53, 55, 0}, {56, 56, 238077}, {57, 57, 164097}, {58, 58, 0},
    {59, 61, 8701}, {62, 62, 0}, {63, 65, 8701}, {66, 66, 65793}, {67, 67, 229633}, {68, 68, 8701},
    {69, 69, 0}, {70, 70, 229633}, {71, 71, 0}, {72, 72, 15}, {74, 74, 2}, {75, 75, 1}, {76, 76, 0},
    {78, 78, 0}, {79, 79, 31}, {80, 80, 0}, {81, 81, 15}, {82, 82, 74}, {83, 86, 0}, {88, 88, 3},
    {91, 91, 31}, {92, 92, 0}, {93, 93, 4}, {95, 95, 31}, {96, 96, 3}, {97, 100, 0}, {101, 101, 500},
    {102, 102, 0}, {104, 104, 0}, {105, 105, 13100}, {106, 106, 50}, {107, 107, 33}, {108, 110, 0},
    {112, 112, 0}, {114, 114, 0}, {115, 115, 51}, {116, 116, 1}, {117, 117, 0}, {118, 118, 1},
    {119, 121, 0}, {123, 124, 0}, {127, 131, 0}, {132, 132, 12801}, {133, 133, 0}, {134, 134, 3},
    {135, 140, 0}, {141, 141, 1}, {142, 142, 0}, {143, 143, 1}, {144, 144, 7749}, {145, 145, 24827},
    {146, 146, 7745}, {147, 147, 20611}, {148, 148, 3}, {149, 149, 0}, {150, 150, 0xF1E4F}, {151, 151, 20715},
    {152, 152, 1}, {153, 153, 2}, {154, 154, 1}, {155, 155, 7}, {156, 157, 0}, {158, 158, 8048},
    {159, 159, 0}, {160, 160, 15879}, {161, 161, 82}, {162, 162, 32240}, {163, 163, 1}, {164, 164, 23},
    {165, 165, 15}, {166, 166, 0}, {167, 167, 0xF1E4F}, {168, 168, 20619}, {169, 169, 64}, {170, 170, 3},
    {172, 172, 7}, {10001, 10001, 0}, {10005, 10005, 32},
    {10021, 10021, 0},   // SQL_ASYNC_MODE: SQL_AM_NONE, nothing runs asynchronously
    {10022, 10022, 0}, {65003, 65003, 51},
};

const InfoText kTexts[] = {
    {2, " "}, {6, "libvarnodw.so"}, {7, "1.0"}, {10, "03.50.0000"}, {11, "N"}, {13, "PROGRESS 11"},
    {14, "\\"}, {18, "11.01.0000 11"}, {19, "N"}, {20, "N"}, {21, "Y"}, {27, "Y"}, {29, "\""}, {36, "N"},
    {37, "N"}, {38, "Y"}, {39, "Owner"}, {40, "Stored Procedure"}, {41, ""}, {42, ""}, {45, "Table"},
    {73, "Y"}, {77, "03.50"}, {87, "Y"}, {89, ""}, {90, "N"}, {94, "-"}, {103, "N"}, {111, "Y"},
    {113, "Y"}, {10000, ""}, {10002, "Y"}, {10003, "N"}, {10004, ""},
};

TEST_F(AgentProps, StaticInformationTypesAnswerTheirValues) {
    for (const InfoNumber& n : kNumbers) {
        for (uint32_t item = n.from; item <= n.to; ++item) {
            SCOPED_TRACE(item);
            int32_t v = -1, len = -1;
            ASSERT_EQ(OA_GetProperty(conn, oa_InfoIntCode(item), &v, 4, &len), 0);
            EXPECT_EQ(v, n.value);
            EXPECT_EQ(len, 4);
            // Asked as a text, a number is not answered.
            char buf[8];
            EXPECT_EQ(OA_GetProperty(conn, oa_InfoTextCode(item), buf, sizeof buf, &len),
                      ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
        }
    }
    for (const InfoText& t : kTexts) {
        SCOPED_TRACE(t.item);
        char buf[64];
        int32_t len = -1;
        ASSERT_EQ(OA_GetProperty(conn, oa_InfoTextCode(t.item), buf, sizeof buf, &len), 0);
        EXPECT_STREQ(buf, t.value);
        EXPECT_EQ(len, static_cast<int32_t>(std::strlen(t.value)));
        int32_t v = 0;
        EXPECT_EQ(OA_GetProperty(conn, oa_InfoIntCode(t.item), &v, 4, &len),
                  ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    }
    // Types the table does not hold, and those answered from the connection when asked in
    // the other kind.
    for (uint32_t code : {oa_InfoIntCode(122), oa_InfoIntCode(125), oa_InfoIntCode(126), oa_InfoIntCode(171),
                          oa_InfoIntCode(173), oa_InfoTextCode(9999), oa_InfoIntCode(17), oa_InfoTextCode(26),
                          oa_InfoTextCode(44), oa_InfoIntCode(47), oa_InfoIntCode(25), oa_InfoIntCode(16)}) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        char buf[8];
        EXPECT_EQ(OA_GetProperty(conn, code, buf, sizeof buf, nullptr), ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    }
}

TEST_F(AgentProps, FlagsAndOptionsOfTheConnection) {
    const struct {
        uint32_t code;
        int32_t value;
    } numbers[] = {
        {0x22010002, 1}, {0x22010003, 0}, {0x22010004, 1}, {0x22010005, 0}, {0x22010006, 1}, {0x22010007, 1},
        {0x22010008, 1}, {0x22010009, 30}, {0x2201000A, 1}, {0x2201000B, 0}, {0x2201000E, 1},
        {0x22010011, 0x15BF}, {0x22010013, 0}, {0x22030000, 1}, {0x22030001, 0},
    };
    for (const auto& n : numbers) {
        SCOPED_TRACE(testing::Message() << std::hex << n.code);
        EXPECT_EQ(IntProperty(conn, n.code), n.value);
    }
    EXPECT_EQ(TextProperty(conn, 0x2101000D), "");
    char buf[8];
    for (uint32_t code : {0x22010001u, 0x2201000Cu, 0x22010012u, 0x22030002u, 0x21010011u, 0x22020000u,
                          0x23040002u, 0x2203006Du}) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        EXPECT_EQ(OA_GetProperty(conn, code, buf, sizeof buf, nullptr), ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    }
}

TEST_F(AgentProps, CapabilityMaskFollowsAutocommitAndMarksTheCursorLibrary) {
    OA_CONN* c = oa_FindConn(conn);
    EXPECT_EQ(c->cursorLibrary, 0);
    EXPECT_EQ(IntProperty(conn, OA_PROP_CAPABILITIES), 0x15BF);
    EXPECT_EQ(c->cursorLibrary, 1);
    ASSERT_EQ(SetInt(conn, OA_PROP_AUTOCOMMIT, 0), 0);
    EXPECT_EQ(IntProperty(conn, OA_PROP_CAPABILITIES), 0x14BF);
    EXPECT_EQ(IntProperty(conn, OA_PROP_AUTOCOMMIT), 0);

    // A connection configured without autocommit reports so from the start.
    settings.noAutoCommit = 1;
    uint32_t other = Connect();
    EXPECT_EQ(IntProperty(other, OA_PROP_CAPABILITIES), 0x14BF);

    oa_FindConn(other)->cursorLibrary = 0;
    IntProperty(other, OA_PROP_DYN_MIX_CURSORS);
    EXPECT_EQ(oa_FindConn(other)->cursorLibrary, 1);
}

TEST_F(AgentProps, AnswersTakenFromTheConnection) {
    settings.dynCursSensitivity = 2;
    settings.defaultIsolation = 8;
    settings.sqlDbmsName = "SALES";
    driverFile = "/opt/varno/libvarnod.so";   // the library's file name comes with the request
    ConnRequest req;
    req.user("bob").password("pw").database("/srv/db/orders.db").readOnly(true).options(std::string("W\x7F\x01\x01", 4));
    uint32_t ro = Connect(req);
    ASSERT_EQ(lastRc, 0);

    const struct {
        uint32_t handle;
        uint32_t code;
        const char* text;
    } texts[] = {
        {ro, oa_InfoTextCode(16), "/srv/db/orders.db"}, {conn, oa_InfoTextCode(16), "mydb"},
        {ro, oa_InfoTextCode(17), "SALES"},             {conn, oa_InfoTextCode(17), "PROGRESS"},
        {ro, oa_InfoTextCode(25), "Y"},                 {conn, oa_InfoTextCode(25), "N"},
        {ro, oa_InfoTextCode(47), "bob"},               {conn, oa_InfoTextCode(47), "alice"},
        {ro, oa_InfoTextCode(6), "/opt/varno/libvarnod.so"}, {conn, oa_InfoTextCode(6), "libvarnodw.so"},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(testing::Message() << std::hex << t.code << (t.handle == ro ? " read-only" : ""));
        EXPECT_EQ(TextProperty(t.handle, t.code), t.text);
    }
    const struct {
        uint32_t handle;
        uint32_t code;
        int32_t value;
    } numbers[] = {
        {ro, OA_PROP_ACCESS_MODE, 1},         {conn, OA_PROP_ACCESS_MODE, 0},
        {ro, oa_InfoIntCode(26), 8},          {conn, oa_InfoIntCode(26), 2},   // not configured: read committed
        {ro, oa_InfoIntCode(44), 17},         {conn, oa_InfoIntCode(44), 31},
        {ro, OA_PROP_DYNAMIC_SENSITIVE, 0},   {ro, OA_PROP_WIDE, 1},
    };
    for (const auto& n : numbers) {
        SCOPED_TRACE(testing::Message() << std::hex << n.code << (n.handle == ro ? " read-only" : ""));
        EXPECT_EQ(IntProperty(n.handle, n.code), n.value);
    }
    settings.dynCursSensitivity = 1;
    EXPECT_EQ(IntProperty(Connect(), OA_PROP_DYNAMIC_SENSITIVE), 1);
}

TEST_F(AgentProps, IsolationIsTheClientsOrElseTheConfiguredOne) {
    script.takeCalls();
    const std::string current = "tpe_sql_setconnection " + oa_FindConn(conn)->db->name;
    EXPECT_EQ(SetInt(conn, OA_PROP_TXN_ISOLATION, 8), 0);
    EXPECT_EQ(script.takeCalls(), (std::vector<std::string>{current, "tpe_tm_set_level 3"}));
    script.setLevel(3);
    EXPECT_EQ(IntProperty(conn, OA_PROP_TXN_ISOLATION), 8);
    EXPECT_EQ(SetInt(conn, OA_PROP_TXN_ISOLATION, 3), ERR_INVALID_ARGUMENT_VALUE);

    oa_FindConn(conn)->defaultIsolation = 4;
    script.failNext("tpe_sql_setconnection", {{ESQL_ERR_NO_CONNECTION, "08003", "gone"}});
    EXPECT_EQ(IntProperty(conn, OA_PROP_TXN_ISOLATION), 4);
}

TEST_F(AgentProps, ConnectionOptionsThatCanBeSet) {
    OA_CONN* c = oa_FindConn(conn);
    EXPECT_EQ(SetInt(conn, OA_PROP_ODBC_VERSION, 3), 0);
    EXPECT_EQ(c->odbcVersion, 3);
    EXPECT_EQ(OA_SetProperty(conn, OA_PROP_CURRENT_CATALOG, "sales"), 0);
    EXPECT_EQ(OA_SetProperty(conn, OA_PROP_CURRENT_CATALOG, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_SetProperty(conn, OA_PROP_AUTOCOMMIT, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(SetInt(conn, OA_PROP_ACCESS_MODE, 7), 0);
    EXPECT_EQ(IntProperty(conn, OA_PROP_ACCESS_MODE), 1);
    for (uint32_t code : {0x2201000Fu, 0x22010016u, 0x22030002u, 0x220304B1u, 0x210304BCu, 0x22040010u}) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        EXPECT_EQ(SetInt(conn, code, 1), ERR_DRIVER_NOT_CAPABLE);
    }

    // Turning autocommit on commits the work done while it was off.
    script.takeCalls();
    EXPECT_EQ(SetInt(conn, OA_PROP_AUTOCOMMIT, 0), 0);
    c->transFlags = OA_TRANS_OPEN;
    EXPECT_EQ(SetInt(conn, OA_PROP_AUTOCOMMIT, 1), 0);
    EXPECT_EQ(script.takeCalls(),
              (std::vector<std::string>{"tpe_sql_setconnection " + c->db->name, "tpe_tm_end_trans"}));
    EXPECT_EQ(IntProperty(conn, OA_PROP_AUTOCOMMIT), 1);
}

TEST_F(AgentProps, LevelsAndHandlesMustAgree) {
    char buf[32];
    int32_t len = -1;
    ASSERT_EQ(OA_GetProperty(serverId, OA_PROP_SERVER_TYPE, buf, sizeof buf, &len), 0);
    EXPECT_STREQ(buf, "progress11");
    EXPECT_EQ(len, 10);
    EXPECT_EQ(OA_GetProperty(serverId, 0x11010001, buf, sizeof buf, &len), ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    EXPECT_EQ(OA_GetProperty(serverId, oa_InfoIntCode(8), buf, sizeof buf, &len), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_GetProperty(conn, OA_PROP_SERVER_TYPE, buf, sizeof buf, &len), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_GetProperty(conn, OA_PROP_ROW_COUNT, buf, sizeof buf, &len), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_GetProperty(stmt, oa_InfoIntCode(8), buf, sizeof buf, &len), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_GetProperty(conn, 0x42010000, buf, sizeof buf, &len), ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);

    int32_t one = 1;
    EXPECT_EQ(OA_SetProperty(serverId, OA_PROP_SERVER_TYPE, &one), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(OA_SetProperty(conn, OA_PROP_SERVER_TYPE, &one), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_SetProperty(stmt, OA_PROP_AUTOCOMMIT, &one), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_SetProperty(conn, OA_PROP_MAX_ROWS, &one), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_SetProperty(conn, 0x02030000, &one), ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
}

TEST_F(AgentProps, BuffersOfAnswers) {
    // A text is cut to the buffer and still succeeds, with its whole length.
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    int32_t len = -1;
    EXPECT_EQ(OA_GetProperty(conn, oa_InfoTextCode(13), buf, 4, &len), 0);
    EXPECT_STREQ(buf, "PRO");
    EXPECT_EQ(buf[4], 'x');
    EXPECT_EQ(len, 11);
    EXPECT_EQ(OA_GetProperty(conn, oa_InfoTextCode(13), nullptr, 0, &len), 0);
    EXPECT_EQ(len, 11);

    // An integer needs four bytes; without a buffer only its length is told.
    int32_t v = 77;
    len = -1;
    for (int32_t short_ : {0, 2, 3}) {
        SCOPED_TRACE(short_);
        EXPECT_EQ(OA_GetProperty(conn, oa_InfoIntCode(8), &v, short_, &len), ERR_INVALID_ARGUMENT_VALUE);
        EXPECT_EQ(v, 77);
    }
    EXPECT_EQ(OA_GetProperty(conn, oa_InfoIntCode(8), nullptr, 0, &len), 0);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(OA_GetProperty(conn, oa_InfoIntCode(8), &v, 4, nullptr), 0);
    EXPECT_EQ(v, 191);
}

// --- statement options ---------------------------------------------------------------------

TEST_F(AgentProps, StatementOptionsAreStoredAndAnswered) {
    const struct {
        uint32_t code;
        int32_t initial;   // what a new statement answers
        int32_t set;
        int32_t answer;
    } cases[] = {
        {OA_PROP_NOSCAN, 0, 5, 1},           {OA_PROP_MAX_LENGTH, 0, 4096, 4096},
        {OA_PROP_ROWSET_SIZE, 1, 20, 20},    {0x3203000A, 0, 2, 2},
        {0x3203000B, 1, 0, 0},               {0x3203000C, 0, 1, 1},
        {0x3203041C, 0, 9, 9},               {0x3203041E, 0, -4, -4},
        {OA_PROP_MAX_ROWS, 0, 50, 50},       {OA_PROP_CONCURRENCY, 1, 2, 2},
        {OA_PROP_CURSOR_TYPE, 0, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.code);
        EXPECT_EQ(IntProperty(stmt, c.code), c.initial);
        EXPECT_EQ(SetInt(stmt, c.code, c.set), 0);
        EXPECT_EQ(IntProperty(stmt, c.code), c.answer);
    }
    EXPECT_EQ(IntProperty(stmt, OA_PROP_ROW_COUNT), -1);  // nothing executed: unknown
    // A count beyond the 32-bit answer is answered as the largest one, never wrapped to a
    // negative or a small count.
    OA_STMT* record = oa_FindStmt(stmt);
    for (int64_t rows : {int64_t{3000000000}, int64_t{4294967297}}) {
        record->rowCount = rows;
        EXPECT_EQ(IntProperty(stmt, OA_PROP_ROW_COUNT), INT32_MAX) << rows;
    }
    record->rowCount = 0;
    EXPECT_EQ(IntProperty(stmt, 0x3203000D), 0);
    EXPECT_EQ(IntProperty(stmt, 0x3203000E), 0);
    EXPECT_EQ(SetInt(stmt, 0x3203041A, 2), 0);
    EXPECT_EQ(SetInt(stmt, 0x3203041A, 3), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(SetInt(stmt, OA_PROP_DESCRIBE_PARAMS, 0), 0);
    EXPECT_EQ(SetInt(stmt, 0x3203000D, 1), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(SetInt(stmt, 0x310304CA, 1), ERR_DRIVER_NOT_CAPABLE);
    EXPECT_EQ(OA_SetProperty(stmt, OA_PROP_NOSCAN, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    char buf[8];
    EXPECT_EQ(OA_GetProperty(stmt, 0x3203041A, buf, sizeof buf, nullptr), ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
}

TEST_F(AgentProps, ConnectionRowLimitCapsTheStatements) {
    settings.maxRows = 100;
    uint32_t limited = Connect();
    uint32_t s = 0;
    ASSERT_EQ(OA_AllocStmt(limited, &s), 0);
    const struct {
        int32_t set;
        int rc;
        int32_t stored;
    } cases[] = {{0, ERR_OPTION_VALUE_CHANGED, 100}, {150, ERR_OPTION_VALUE_CHANGED, 100}, {40, 0, 40},
                 {100, 0, 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        EXPECT_EQ(SetInt(s, OA_PROP_MAX_ROWS, c.set), c.rc);
        EXPECT_EQ(IntProperty(s, OA_PROP_MAX_ROWS), c.stored);
    }
}

TEST_F(AgentProps, CursorTypeAndConcurrencyFallBackToWhatIsOffered) {
    settings.dynCursSensitivity = 2;   // scroll options 17: forward-only and static
    uint32_t disabled = Connect();
    uint32_t ds = 0;
    ASSERT_EQ(OA_AllocStmt(disabled, &ds), 0);
    OA_CONN* c = oa_FindConn(conn);
    const struct {
        const char* what;
        uint32_t handle;
        bool cursorLibrary;
        uint32_t code;
        int32_t set;
        int rc;
        int32_t stored;
    } cases[] = {
        {"dynamic, disabled", ds, false, OA_PROP_CURSOR_TYPE, 2, ERR_OPTION_VALUE_CHANGED, 3},
        {"keyset, disabled", ds, false, OA_PROP_CURSOR_TYPE, 1, ERR_OPTION_VALUE_CHANGED, 3},
        {"static, disabled", ds, false, OA_PROP_CURSOR_TYPE, 3, 0, 3},
        {"dynamic without the library", stmt, false, OA_PROP_CURSOR_TYPE, 2, ERR_OPTION_VALUE_CHANGED, 1},
        {"dynamic with the library", stmt, true, OA_PROP_CURSOR_TYPE, 2, 0, 2},
        {"keyset", stmt, false, OA_PROP_CURSOR_TYPE, 1, 0, 1},
        {"forward-only", stmt, false, OA_PROP_CURSOR_TYPE, 0, 0, 0},
        {"row versions", stmt, false, OA_PROP_CONCURRENCY, 3, ERR_OPTION_VALUE_CHANGED, 4},
        {"lock", stmt, false, OA_PROP_CONCURRENCY, 2, 0, 2},
        {"values", stmt, false, OA_PROP_CONCURRENCY, 4, 0, 4},
        {"read-only", stmt, false, OA_PROP_CONCURRENCY, 1, 0, 1},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        c->cursorLibrary = k.cursorLibrary ? 1 : 0;
        oa_FindConn(disabled)->cursorLibrary = c->cursorLibrary;
        EXPECT_EQ(SetInt(k.handle, k.code, k.set), k.rc);
        EXPECT_EQ(IntProperty(k.handle, k.code), k.stored);
    }
    EXPECT_NE(oa_FindStmt(stmt)->cursorOpts.setFlags & OA_CURSOR_TYPE_SET, 0);

    // Values no chain leads from are refused and leave the stored value.
    for (int32_t bad : {7, -1}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(SetInt(stmt, OA_PROP_CURSOR_TYPE, bad), ERR_DRIVER_NOT_CAPABLE);
        EXPECT_EQ(SetInt(stmt, OA_PROP_CONCURRENCY, bad), ERR_DRIVER_NOT_CAPABLE);
    }
    EXPECT_EQ(IntProperty(stmt, OA_PROP_CURSOR_TYPE), 0);
    EXPECT_EQ(IntProperty(stmt, OA_PROP_CONCURRENCY), 1);
}

TEST_F(AgentProps, KeysetAndRowsetSizesAreBounded) {
    OA_CONN* c = oa_FindConn(conn);
    OA_STMT* s = oa_FindStmt(stmt);
    // Without the cursor library there are no keysets.
    EXPECT_EQ(SetInt(stmt, OA_PROP_KEYSET_SIZE, 10), ERR_OPTION_VALUE_CHANGED);
    EXPECT_EQ(IntProperty(stmt, OA_PROP_KEYSET_SIZE), 0);
    EXPECT_EQ(SetInt(stmt, OA_PROP_KEYSET_SIZE, 0), 0);
    c->cursorLibrary = 1;
    EXPECT_EQ(SetInt(stmt, OA_PROP_KEYSET_SIZE, 6000), ERR_OPTION_VALUE_CHANGED);
    EXPECT_EQ(IntProperty(stmt, OA_PROP_KEYSET_SIZE), 5000);
    EXPECT_EQ(SetInt(stmt, OA_PROP_KEYSET_SIZE, 5000), 0);
    EXPECT_NE(s->cursorOpts.setFlags & OA_KEYSET_SIZE_SET, 0);

    s->cursorOpts.auxFlags = 0x3F;
    EXPECT_EQ(SetInt(stmt, OA_PROP_ROWSET_SIZE, 150), ERR_OPTION_VALUE_CHANGED);
    EXPECT_EQ(IntProperty(stmt, OA_PROP_ROWSET_SIZE), 100);
    EXPECT_EQ(s->cursorOpts.auxFlags, 0x0F);
    EXPECT_NE(s->cursorOpts.setFlags & OA_ROWSET_SIZE_SET, 0);

    settings.noRowsetSizeLimit = 1;
    uint32_t unlimited = Connect();
    uint32_t us = 0;
    ASSERT_EQ(OA_AllocStmt(unlimited, &us), 0);
    EXPECT_EQ(SetInt(us, OA_PROP_ROWSET_SIZE, 150), 0);
    EXPECT_EQ(IntProperty(us, OA_PROP_ROWSET_SIZE), 150);
}

TEST(AgentSensitivity, TextAndNames) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"DISABLED", 2}, {"disabled", 2}, {"d", 2}, {"High", 1}, {"h", 1},
                 {"LOW", 0},      {"", 0},         {"x", 0}, {nullptr, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(OA_SensitivityFromText(c.text), c.value) << (c.text ? c.text : "(null)");
    EXPECT_STREQ(OA_SensitivityName(0), "LOW");
    EXPECT_STREQ(OA_SensitivityName(1), "HIGH");
    EXPECT_STREQ(OA_SensitivityName(2), "DISABLED");
    EXPECT_STREQ(OA_SensitivityName(7), "LOW");
}

}  // namespace
