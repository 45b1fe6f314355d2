// What the entry points rest on: the function bitmap made from the export list, the
// environment handlers, and the wide text handling around a handler.
#include <gtest/gtest.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "driver/diag/diag.h"
#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/library/library.h"
#include "driver/frame/widen.h"
#include "driver/handlers/envattr.h"
#include "driver/handlers/functions.h"
#include "driver/handlers/lifecycle.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "driver/outstr/outstr.h"
#include "util/errcode.h"

namespace {

std::vector<SQLWCHAR> Wide(const std::u16string& s) {
    std::vector<SQLWCHAR> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

std::u16string FromWide(const SQLWCHAR* w) {
    std::u16string s;
    while (*w)
        s.push_back(static_cast<char16_t>(*w++));
    return s;
}

SQLUSMALLINT Functions(SQLUSMALLINT id) {
    SQLUSMALLINT v = 0xBEEF;
    EXPECT_EQ(DoGetFunctions(nullptr, GetFunctionsArgs{id, &v}), SQL_SUCCESS);
    return v;
}

TEST(GetFunctions, ReportsExactlyTheExportedCalls) {
    // The ODBC ids the driver carries out: every export, nothing the Driver Manager
    // answers itself (SQLDrivers, SQLDataSources, SQLBrowseConnect, SQLBindParam ...).
    std::set<int> expected;
    for (int id = 1; id <= 24; ++id)
        expected.insert(id);
    for (int id = 40; id <= 54; ++id)
        expected.insert(id);
    for (int id : {56, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67, 68, 70, 72, 1001, 1003, 1004, 1005, 1006, 1007, 1008,
                   1009, 1010, 1011, 1012, 1014, 1016, 1017, 1018, 1019, 1020, 1021})
        expected.insert(id);

    SQLUSMALLINT bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE + 1];
    bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = 0x5A5A;  // sentinel: exactly 250 words written
    DoGetFunctions(nullptr, GetFunctionsArgs{SQL_API_ODBC3_ALL_FUNCTIONS, bitmap});
    EXPECT_EQ(bitmap[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE], 0x5A5A);
    std::set<int> got;
    for (int id = 0; id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; ++id)
        if (SQL_FUNC_EXISTS(bitmap, id))
            got.insert(id);
    EXPECT_EQ(got, expected);

    SQLUSMALLINT list[101];
    list[100] = 0x5A5A;
    DoGetFunctions(nullptr, GetFunctionsArgs{SQL_API_ALL_FUNCTIONS, list});
    EXPECT_EQ(list[100], 0x5A5A);
    EXPECT_EQ(list[SQL_API_SQLFETCH], SQL_TRUE);
    EXPECT_EQ(list[SQL_API_SQLDRIVERS], SQL_FALSE);

    EXPECT_EQ(Functions(SQL_API_SQLCANCEL), SQL_TRUE);
    EXPECT_EQ(Functions(100), SQL_FALSE);
    EXPECT_EQ(Functions(SQL_API_SQLALLOCHANDLE), SQL_TRUE);
    EXPECT_EQ(Functions(SQL_API_SQLFETCHSCROLL), SQL_TRUE);
    EXPECT_EQ(Functions(SQL_API_SQLBINDPARAM), SQL_FALSE);
    EXPECT_EQ(Functions(4000), SQL_FALSE);
    EXPECT_EQ(DoGetFunctions(nullptr, GetFunctionsArgs{SQL_API_SQLFETCH, nullptr}), SQL_SUCCESS);
}

class EnvTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DrvGlobalInit(), 0); }
    void TearDown() override { DrvGlobalTerm(); }

    SQLHANDLE Alloc(SQLRETURN (*handler)(HANDLE_HDR*, const OutHandleArgs&)) {
        SQLHANDLE h = reinterpret_cast<SQLHANDLE>(uintptr_t{0x77});
        std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
        EXPECT_EQ(handler(nullptr, OutHandleArgs{&h}), SQL_SUCCESS);
        return h;
    }
    ENVR* Env(SQLHANDLE h) {
        return static_cast<ENVR*>(static_cast<HANDLE_HDR*>(hdl_Lookup(&Drv().envTable, HandleId(h))));
    }
};

TEST_F(EnvTest, AllocationSetsVersionAndSequence) {
    SQLHANDLE a = Alloc(DoAllocEnv);
    SQLHANDLE b = Alloc(DoAllocHandleEnv);
    ASSERT_NE(Env(a), nullptr);
    ASSERT_NE(Env(b), nullptr);
    EXPECT_EQ(HandleId(a) >> 16, 1u);
    EXPECT_EQ(Env(a)->odbcVersion, 2u);
    EXPECT_EQ(Env(b)->odbcVersion, 3u);
    EXPECT_EQ(Env(a)->state, ENVR_OPEN);
    EXPECT_EQ(Env(b)->sequenceId, Env(a)->sequenceId + 1);
    uint32_t seqB = Env(b)->sequenceId;
    EXPECT_EQ(DoFreeEnv(Env(a), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(Env(a), nullptr);
    SQLHANDLE c = Alloc(DoAllocEnv);
    EXPECT_EQ(Env(c)->sequenceId, seqB + 1);  // sequence ids are never reused
}

TEST_F(EnvTest, FreeingIsRefusedWhileAConnectionIsInACall) {
    ENVR* e = Env(Alloc(DoAllocEnv));
    CONN* c = new CONN;
    c->envr = e;
    e->conns = c;
    ASSERT_EQ(hdl_Add(&Drv().connTable, &c->id, static_cast<HANDLE_HDR*>(c)), 0);
    c->callGate.busy = c;
    EXPECT_EQ(DoFreeEnv(e, NoArgs{}), SQL_ERROR);
    EXPECT_EQ(e->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    c->callGate.busy = nullptr;
    uint32_t id = c->id;
    EXPECT_EQ(DoFreeEnv(e, NoArgs{}), SQL_SUCCESS);  // frees the connection too
    EXPECT_EQ(hdl_Lookup(&Drv().connTable, id), nullptr);
}

TEST_F(EnvTest, AttributesKeepOnlyValidValues) {
    ENVR* e = Env(Alloc(DoAllocHandleEnv));
    struct Case {
        SQLINTEGER attr;
        uint64_t value;
        SQLUINTEGER expected;
    } cases[] = {
        {SQL_ATTR_ODBC_VERSION, 2, 2},       {SQL_ATTR_ODBC_VERSION, 4, 2},
        {SQL_ATTR_ODBC_VERSION, 3, 3},       {SQL_ATTR_CONNECTION_POOLING, 2, 2},
        {SQL_ATTR_CONNECTION_POOLING, 3, 2}, {SQL_ATTR_CP_MATCH, 1, 1},
        {SQL_ATTR_CP_MATCH, 7, 1},           {SQL_ATTR_OUTPUT_NTS, 0, 0},
        {SQL_ATTR_OUTPUT_NTS, 5, 0},         {1056, 9, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DoSetEnvAttr(e, SetEnvAttrArgs{c.attr, reinterpret_cast<SQLPOINTER>(c.value), 0}), SQL_SUCCESS);
        SQLUINTEGER v = 0xFFFF;
        EXPECT_EQ(DoGetEnvAttr(e, GetEnvAttrArgs{c.attr, &v, 4, nullptr}), SQL_SUCCESS);
        EXPECT_EQ(v, c.expected) << c.attr << " " << c.value;
    }
}

// A handler that answers a UTF-8 text through the one output writer, in the call's width
// and counted in characters, and records what it was given as input.
std::string g_input;
int g_inputLength = 0;
const char* g_answer = "";
struct EchoArgs {
    const char* in;
    SQLSMALLINT inLength;
    void* out;
    SQLSMALLINT outChars;
    SQLSMALLINT* outLength;
    auto TraceFields() const { return std::tuple(in, inLength, out, outChars, outLength); }
};
SQLRETURN EchoText(HANDLE_HDR* stmt, const EchoArgs& a) {
    g_input = a.in ? a.in : "<null>";
    g_inputLength = a.inLength;
    if (a.outChars < 0) {
        stmt->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return SQL_ERROR;
    }
    return OutString(g_answer, a.out, a.outChars, OutUnit::Chars, WIDTH_WIDE, a.outLength, &stmt->diag);
}
constexpr auto kEchoRec = MakeCall<EchoText>("EchoW", "", 1, CALL_KIND_STMT);

class WideTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DrvGlobalInit(), 0);
        DRV_GLOBALS& g = Drv();
        envr = EnvrAlloc();
        EnvrOpen(envr);
        ASSERT_EQ(hdl_Add(&g.envTable, &envr->id, static_cast<HANDLE_HDR*>(envr)), 0);
        conn = new CONN;
        conn->envr = envr;
        envr->conns = conn;
        ASSERT_EQ(hdl_Add(&g.connTable, &conn->id, static_cast<HANDLE_HDR*>(conn)), 0);
        stmt = new STMT(conn);
        ASSERT_EQ(hdl_Add(&g.stmtTable, &stmt->id, static_cast<HANDLE_HDR*>(stmt)), 0);
    }
    void TearDown() override {
        hdl_Remove(&Drv().stmtTable, stmt->id);
        delete stmt;
        DrvGlobalTerm();
    }

    // Calls the echo handler the way a wide entry with one input and one output does.
    SQLRETURN Call(const SQLWCHAR* in, SQLSMALLINT inLen, SQLWCHAR* out, SQLSMALLINT outChars, SQLSMALLINT* outLen) {
        WideIn i(in, inLen);
        WideHook w({&i});
        return CallODBC(kEchoRec, HandleFromId(stmt->id), EchoArgs{i.text(), i.len16(), out, outChars, outLen},
                        w.hook());
    }

    ENVR* envr = nullptr;
    CONN* conn = nullptr;
    STMT* stmt = nullptr;
};

TEST_F(WideTest, InputBecomesUtf8WithNtsAndNonBmpSurvives) {
    auto in = Wide(u"na\u00EFve \U0001F600");
    g_answer = "";
    SQLSMALLINT len = 0;
    EXPECT_EQ(Call(in.data(), SQL_NTS, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(g_input, "na\xC3\xAFve \xF0\x9F\x98\x80");
    EXPECT_EQ(g_inputLength, SQL_NTS);
    EXPECT_EQ(Call(in.data(), 2, nullptr, 0, &len), SQL_SUCCESS);  // a count of characters
    EXPECT_EQ(g_input, "na");
    EXPECT_EQ(Call(nullptr, SQL_NTS, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(g_input, "<null>");
    EXPECT_EQ(Call(in.data(), -7, nullptr, 0, &len), SQL_SUCCESS);  // reaches the handler as it is
    EXPECT_EQ(g_inputLength, -7);
}

TEST_F(WideTest, OutputCountsCharactersAndCutsWithA01004) {
    g_answer = "col\xC3\xA9";  // "colé": 4 characters, 5 bytes
    struct Case {
        SQLSMALLINT chars;
        SQLRETURN rc;
        std::u16string text;
    } cases[] = {
        {5, SQL_SUCCESS, u"col\u00E9"},           // exact fit with the NUL
        {4, SQL_SUCCESS_WITH_INFO, u"col"},        // one short: cut to n-1 characters
        {1, SQL_SUCCESS_WITH_INFO, u""},
    };
    auto in = Wide(u"x");
    for (const Case& c : cases) {
        SQLWCHAR out[8];
        std::fill(std::begin(out), std::end(out), SQLWCHAR{0xFFFF});
        SQLSMALLINT len = -1;
        stmt->diag.errCode = 0;
        EXPECT_EQ(Call(in.data(), SQL_NTS, out, c.chars, &len), c.rc) << c.chars;
        EXPECT_EQ(FromWide(out), c.text);
        EXPECT_EQ(len, 4);
        EXPECT_EQ(out[c.chars], 0xFFFF);  // nothing written past the buffer
        EXPECT_EQ(stmt->diag.errCode, c.rc == SQL_SUCCESS ? 0 : ERR_DATA_WAS_TRUNCATED);
    }
    SQLSMALLINT len = -1;
    EXPECT_EQ(Call(in.data(), SQL_NTS, nullptr, 0, &len), SQL_SUCCESS);  // length only
    EXPECT_EQ(len, 4);  // exact, in characters
}

TEST_F(WideTest, NonBmpOutputIsNeverSplit) {
    g_answer = "a\xF0\x9F\x98\x80";  // 'a' and one character of two units
    auto in = Wide(u"x");
    SQLWCHAR out[3];
    SQLSMALLINT len = 0;
    EXPECT_EQ(Call(in.data(), SQL_NTS, out, 3, &len), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(FromWide(out), u"a");
    EXPECT_EQ(len, 3);
    SQLWCHAR fits[4];
    EXPECT_EQ(Call(in.data(), SQL_NTS, fits, 4, &len), SQL_SUCCESS);
    EXPECT_EQ(FromWide(fits), u"a\U0001F600");
}

TEST_F(WideTest, TruncationKeepsTheHandlersOwnWarning) {
    DIAG d;
    d.errCode = ERR_OPTION_VALUE_CHANGED;
    OutStrFinish(OutStrResult{0, true}, &d);
    EXPECT_EQ(d.errCode, ERR_OPTION_VALUE_CHANGED);
    DIAG clean;
    OutStrFinish(OutStrResult{0, true}, &clean);
    EXPECT_EQ(clean.errCode, ERR_DATA_WAS_TRUNCATED);
}

TEST_F(WideTest, NegativeOutputSizeReachesTheHandler) {
    g_answer = "abc";
    auto in = Wide(u"x");
    SQLWCHAR out[4];
    SQLSMALLINT len = 0;
    EXPECT_EQ(Call(in.data(), SQL_NTS, out, -2, &len), SQL_ERROR);
    EXPECT_EQ(stmt->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
}

}  // namespace
