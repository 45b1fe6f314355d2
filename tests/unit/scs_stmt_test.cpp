// The cursor library's working record: what its set-up takes from the agent and keeps when
// the agent answers nothing, its release with the agent statement, and the helpers the
// later cursor parts share.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "scrs/scs_cursor.h"
#include "scrs/scs_stmt.h"
#include "tests/unit/agent_fixture.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

// An agent whose slot 0 answers from a map (integers and texts), or 43 for what it lacks.
std::map<uint32_t, int32_t> g_ints;
std::map<uint32_t, std::string> g_texts;
int g_describeCalls = 0;

int ScriptedGetProperty(uint32_t, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen) {
    if (auto i = g_ints.find(code); i != g_ints.end()) {
        std::memcpy(buf, &i->second, sizeof(int32_t));
        *outLen = 4;
        return 0;
    }
    if (auto t = g_texts.find(code); t != g_texts.end()) {
        std::snprintf(static_cast<char*>(buf), static_cast<size_t>(bufLen), "%s", t->second.c_str());
        *outLen = static_cast<int32_t>(t->second.size());
        return 0;
    }
    return ERR_DRIVER_NOT_CAPABLE;
}

int ScriptedDescribeCols(uint32_t, uint16_t* count, COLDESC** out) {
    ++g_describeCalls;
    *out = ds_ColDescAlloc(2);
    std::strcpy((*out)[0].name, "A");
    std::strcpy((*out)[1].name, "B");
    *count = 2;
    return 0;
}

class ScsStmt : public AgentHandles {
protected:
    void SetUp() override {
        AgentHandles::SetUp();
        g_ints.clear();
        g_texts.clear();
        g_describeCalls = 0;
        table.DRV_GetProperty = ScriptedGetProperty;
        table.DRV_DescribeCols = ScriptedDescribeCols;
        holder.ops = &table;
    }
    SCS_STMT* Attach() {
        EXPECT_EQ(scs_AttachStmt(stmtId, connId, &holder), 0);
        return scs_FindStmt(stmtId);
    }

    OA_OPTABLE table{};
    OA_OPHOLDER holder;
};

TEST_F(ScsStmt, AnAgentThatAnswersNothingLeavesTheDefaults) {
    SCS_STMT* cur = Attach();
    ASSERT_NE(cur, nullptr);
    EXPECT_EQ(cur->opts, &stmt.cursorOpts);
    EXPECT_EQ(cur->identCase, 1);
    EXPECT_EQ(cur->quotedIdentCase, 4);
    EXPECT_EQ(cur->maxParams, 255);
    EXPECT_EQ(cur->identQuote, 0);
    EXPECT_TRUE(cur->userName.empty());
    EXPECT_EQ(cur->mixedState, -6);
    EXPECT_EQ(cur->affectedRows, -1);
    EXPECT_EQ(cur->analysis.rootKind, -1);
    EXPECT_NE(cur->describeRows, nullptr);
    EXPECT_EQ(cur->keyset, nullptr);
    EXPECT_EQ(cur->staticResult, nullptr);
}

TEST_F(ScsStmt, WhatTheAgentAnswersIsKept) {
    g_ints[0x22010004] = 7;
    g_ints[0x22010009] = 30;
    g_ints[OA_PROP_WIDE] = 1;
    g_ints[oa_InfoIntCode(28)] = 2;
    g_ints[oa_InfoIntCode(93)] = 3;
    g_ints[oa_InfoIntCode(92)] = 0;
    g_ints[oa_InfoIntCode(99)] = 16;
    g_texts[oa_InfoTextCode(29)] = "\"";
    g_texts[oa_InfoTextCode(47)] = "alice";
    g_texts[oa_InfoTextCode(17)] = "OpenEdge";
    SCS_STMT* cur = Attach();
    ASSERT_NE(cur, nullptr);
    EXPECT_EQ(cur->textParamsWithNul, 1u);
    EXPECT_EQ(cur->maxParams, 30);
    EXPECT_EQ(cur->wide, 1u);
    EXPECT_EQ(cur->identCase, 2);
    EXPECT_EQ(cur->quotedIdentCase, 3);
    EXPECT_EQ(cur->noCatalogs, 1u);
    EXPECT_EQ(cur->maxOrderByCols, 16);
    EXPECT_EQ(cur->identQuote, '"');
    EXPECT_EQ(cur->userName, "alice");
    EXPECT_EQ(cur->dbmsName, "OpenEdge");
}

TEST_F(ScsStmt, AQuoteReportedAsABlankMeansNone) {
    g_texts[oa_InfoTextCode(29)] = " ";
    EXPECT_EQ(Attach()->identQuote, 0);
}

// The agent frees its statement (a disconnect does): the record goes with it, memory only.
TEST_F(ScsStmt, TheRecordGoesWithTheAgentStatement) {
    SCS_STMT* cur = Attach();
    ASSERT_NE(cur, nullptr);
    ASSERT_EQ(scs_LoadResultColDescs(cur), 0);
    cur->userParamDescs.resize(3);
    stmt.lib.reset();
    EXPECT_EQ(scs_FindStmt(stmtId), nullptr);
}

// No memory is an ordinary S1001 here, never the end of the process, and leaves no record.
TEST_F(ScsStmt, NoMemoryForTheRecordAnswersS1001) {
    uh_FailAfter(0);
    const int rc = scs_AttachStmt(stmtId, connId, &holder);
    uh_FailAfter(-1);
    EXPECT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(scs_FindStmt(stmtId), nullptr);
    EXPECT_EQ(stmt.lib.state, nullptr);
}

TEST_F(ScsStmt, ResultDescriptionsLoadOnceAndAreCheckedByNumber) {
    SCS_STMT* cur = Attach();
    const COLDESC* d = nullptr;
    EXPECT_EQ(scs_GetResultColDesc(cur, 0, &d), ERR_INVALID_COLUMN_NUMBER);
    EXPECT_EQ(scs_GetResultColDesc(cur, 3, &d), ERR_INVALID_COLUMN_NUMBER);
    EXPECT_EQ(scs_GetResultColDesc(cur, 1, nullptr), ERR_INVALID_ARGUMENT_VALUE);
    ASSERT_EQ(scs_GetResultColDesc(cur, 2, &d), 0);
    EXPECT_STREQ(d->name, "B");
    EXPECT_EQ(g_describeCalls, 1);
    scs_CursorClearAnalysis(cur);
    ASSERT_EQ(scs_GetResultColDesc(cur, 1, &d), 0);
    EXPECT_EQ(g_describeCalls, 2);
}

TEST_F(ScsStmt, KeysGoInBlocksThatFitTheParameterLimit) {
    SCS_STMT* cur = Attach();
    const struct {
        int32_t rowset, maxParams;
        size_t userParams;
        uint16_t keyCols;
        int rc;
        int32_t blocks, last, perBlock;
    } cases[] = {
        {10, 30, 0, 1, 0, 1, 10, 10},
        {25, 30, 0, 2, 0, 2, 10, 15},
        {30, 30, 0, 2, 0, 2, 15, 15},
        {5, 30, 26, 2, 0, 3, 1, 2},
        {5, 30, 29, 2, ERR_GENERAL_ERROR, -1, -1, -1},  // not one key tuple fits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rowset * 100 + c.keyCols);
        cur->opts->rowsetSize = c.rowset;
        cur->maxParams = c.maxParams;
        cur->markers.total = static_cast<uint32_t>(c.userParams);
        int32_t blocks = -1, last = -1, perBlock = -1;
        EXPECT_EQ(scs_KeyBlockGeometry(cur, c.keyCols, &blocks, &last, &perBlock), c.rc);
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(last, c.last);
        EXPECT_EQ(perBlock, c.perBlock);
    }
}

TEST(ScsColDesc, AColumnIsFoundByNameAndByTheQualifiersTheProbeGives) {
    SCS_COLDESC items[3] = {};
    std::strcpy(items[0].column, "id");
    std::strcpy(items[0].table, "a");
    std::strcpy(items[1].column, "id");
    std::strcpy(items[1].table, "b");
    std::strcpy(items[1].owner, "pub");
    std::strcpy(items[2].column, "name");
    SCS_COLDESC probe{};
    uint32_t index = 99;
    std::strcpy(probe.column, "id");
    EXPECT_EQ(scs_FindColDesc(items, 3, &probe, &index), &items[0]);
    EXPECT_EQ(index, 0u);
    std::strcpy(probe.table, "b");
    EXPECT_EQ(scs_FindColDesc(items, 3, &probe, &index), &items[1]);
    EXPECT_EQ(index, 1u);
    std::strcpy(probe.owner, "PUB");  // exact bytes
    EXPECT_EQ(scs_FindColDesc(items, 3, &probe, nullptr), nullptr);
    std::strcpy(probe.column, "ID");
    probe.table[0] = probe.owner[0] = '\0';
    EXPECT_EQ(scs_FindColDesc(items, 3, &probe, nullptr), nullptr);
}

}  // namespace
