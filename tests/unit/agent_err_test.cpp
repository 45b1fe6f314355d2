// Agent error records: posting with and without the keep flag, and the texts that slot 2
// hands to the ODBC side from each kind of agent handle.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "drv_pro9/oa_err.h"
#include "platform/esql92/esql92.h"
#include "util/errcode.h"

namespace {

struct Taken {
    int rc;
    int32_t native;
    std::vector<std::string> texts;
    std::vector<int32_t> natives;
};

Taken Take(uint32_t handle) {
    OA_ERRTEXTS r{-99, -1, nullptr, nullptr, nullptr};
    Taken t{OA_GetErrors(handle, &r), r.native, {}, {}};
    for (int32_t i = 0; i < r.count; ++i) {
        EXPECT_NE(r.texts[i], nullptr);
        t.texts.emplace_back(r.texts[i] ? r.texts[i] : "(null)");
        t.natives.push_back(r.natives[i]);
    }
    if (r.count == 0) {
        EXPECT_EQ(r.texts, nullptr);
    }
    // Given back as the ODBC side does: through the function the answer names.
    if (t.rc == 0) {
        EXPECT_NE(r.release, nullptr);
    }
    if (r.release != nullptr)
        r.release(&r);
    return t;
}

std::vector<std::string> Messages(const OA_ERRLIST& list) {
    std::vector<std::string> out;
    for (const OA_ERRREC* r = list.head; r != nullptr; r = r->next)
        out.emplace_back(std::string(r->message) + "|" + r->sqlstate);
    return out;
}

TEST(AgentErrList, PostReplacesUnlessTheListKeepsItsRecords) {
    OA_ERRLIST list;
    OA_ErrPost(&list, ERR_GENERAL_ERROR);
    OA_ErrPost(&list, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(Messages(list), (std::vector<std::string>{"Function sequence error|S1010"}));

    list.keep = 1;
    OA_ErrPost(&list, ERR_DRIVER_NOT_CAPABLE);
    OA_ErrPostText(&list, "name has ':'", "08004");
    EXPECT_EQ(Messages(list), (std::vector<std::string>{"Function sequence error|S1010",
                                                        "Driver not capable|S1C00", "name has ':'|08004"}));
    OA_ErrPost(nullptr, ERR_GENERAL_ERROR);  // ignored
    OA_ErrAppend(&list, nullptr);           // ignored
    EXPECT_EQ(Messages(list).size(), 3u);
}

TEST(AgentErrList, RecordMessageIsCutToTheRecord) {
    std::string longText(5000, 'x');
    OA_ERRREC* rec = OA_ErrRecNew(-7, longText.c_str(), "HY000");
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(std::string(rec->message), longText.substr(0, OA_ERRMSG_SIZE - 1));
    EXPECT_EQ(rec->native, -7);
    OA_ErrRecFree(rec);
}

// The client's length field is not trusted: the copy stops at the SQLCA's text area.
TEST(AgentErrSqlca, MessageIsBoundedAndAMissingOneNamesTheCode) {
    ESQL_SQLCA ca{};
    ca.sqlcode = -1234;
    ca.sqlerrml = 100000;
    std::memset(ca.sqlerrmc, 'x', sizeof ca.sqlerrmc);   // no NUL anywhere
    std::memcpy(ca.sqlstate, "HY000", 6);
    OA_ERRREC* rec = OA_ErrRecFromSqlca(&ca);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(std::string(rec->message), std::string(sizeof ca.sqlerrmc, 'x'));
    EXPECT_EQ(rec->native, -1234);
    EXPECT_STREQ(rec->sqlstate, "HY000");
    EXPECT_EQ(ca.sqlcode, 0);   // cleared: nothing further pending
    OA_ErrRecFree(rec);

    for (int32_t length : {0, -5}) {
        ca.sqlcode = -1234;
        ca.sqlerrml = length;
        rec = OA_ErrRecFromSqlca(&ca);
        ASSERT_NE(rec, nullptr);
        EXPECT_STREQ(rec->message, "unknown progress error -1234");
        OA_ErrRecFree(rec);
    }
    EXPECT_EQ(OA_ErrRecFromSqlca(&ca), nullptr);   // code 0: no message
}

using AgentGetErrors = AgentHandles;

TEST_F(AgentGetErrors, TextsCarryStateAndEachRecordsNativeCode) {
    stmt.errors.keep = 1;
    OA_ErrAppend(&stmt.errors, OA_ErrRecNew(-210011, "table not found", "42S02"));
    OA_ErrAppend(&stmt.errors, OA_ErrRecNew(-20001, "second", "HY000"));
    OA_ErrAppend(&stmt.errors, OA_ErrRecNew(-5, "", "S1000"));

    Taken t = Take(stmtId);
    ASSERT_EQ(t.rc, 0);
    EXPECT_EQ(t.native, -210011);
    EXPECT_EQ(t.texts, (std::vector<std::string>{"[Progress Server]table not found[SQLSTATE:42S02]",
                                                 "[Progress Server]second[SQLSTATE:HY000]",
                                                 "[Progress Server][SQLSTATE:S1000]"}));
    EXPECT_EQ(t.natives, (std::vector<int32_t>{-210011, -20001, -5}));

    Taken again = Take(stmtId);  // the first call emptied the list
    EXPECT_EQ(again.rc, 0);
    EXPECT_TRUE(again.texts.empty());
    EXPECT_EQ(again.native, -99);  // untouched
}

TEST_F(AgentGetErrors, EachHandleReadsOnlyItsOwnList) {
    OA_ErrPost(&conn.errors, ERR_GENERAL_ERROR);
    OA_ErrPost(&server->errors, ERR_CONNECTION_REJECTED_BY_DATA_SOURCE);

    EXPECT_TRUE(Take(stmtId).texts.empty());  // never the connection's
    EXPECT_EQ(Take(connId).texts,
              (std::vector<std::string>{"[Progress Server]General error[SQLSTATE:S1000]"}));
    Taken s = Take(serverId);
    EXPECT_EQ(s.texts,
              (std::vector<std::string>{"[Progress Server]Connection rejected by data source[SQLSTATE:08004]"}));
    EXPECT_EQ(s.native, 0);

    OA_ERRTEXTS r{};
    EXPECT_EQ(OA_GetErrors(0x12345678, &r), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(OA_GetErrors(stmtId, nullptr), ERR_INVALID_ARGUMENT_VALUE);
}

}  // namespace
