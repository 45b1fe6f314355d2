// The recording operation table over a small scripted table: it forwards every slot with
// its arguments and answer, records in call order what each call carries, keeps null
// slots null, injects failures at the asked call, and stacks with a second recorder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/dataset_fixture.h"
#include "tests/unit/recording_optable.h"

namespace {

using rec::Failure;
using rec::RecordedDesc;
using rec::RecordingTable;

// What the scripted table saw.
struct Seen {
    std::vector<std::string> calls;
};
Seen* g_seen = nullptr;

constexpr uint32_t kIntCode = 0x32030006;   // a statement integer property
constexpr uint32_t kTextCode = 0x2103006D;  // a connection text property

int GetProperty(uint32_t, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen) {
    g_seen->calls.push_back("get");
    if (code == kTextCode) {
        std::strncpy(static_cast<char*>(buf), "sales", static_cast<size_t>(bufLen));
        *outLen = 5;
        return 0;
    }
    const int32_t v = 7;
    std::memcpy(buf, &v, sizeof v);
    return 0;
}
int SetProperty(uint32_t, uint32_t, const void*) {
    g_seen->calls.push_back("set");
    return 0;
}
int AllocStmt(uint32_t, uint32_t* out) {
    g_seen->calls.push_back("alloc");
    *out = 0x51;
    return 0;
}
int Prepare(uint32_t h, const char* text) {
    g_seen->calls.push_back("prepare " + std::to_string(h) + " " + text);
    return std::strcmp(text, "bad") == 0 ? 42 : 0;
}
int SetParamValues(uint32_t, DATASET*) {
    g_seen->calls.push_back("values");
    return 0;
}
int Execute(uint32_t) {
    g_seen->calls.push_back("execute");
    return 0;
}
int Fetch(uint32_t, uint16_t, DATASET* block) {
    g_seen->calls.push_back("fetch");
    block->rowsUsed = 3;
    return 0;
}
int ExecuteBatch(uint32_t, uint16_t count, const OA_BATCHSTMT*, uint16_t* done, int32_t**) {
    g_seen->calls.push_back("batch");
    *done = count;
    return 0;
}
int PrepareAndExecuteEx(uint32_t, const char*, DATASET*, uint16_t, const NAMED_PARAM_DESC*) {
    g_seen->calls.push_back("execute ex");
    return 0;
}

const OA_OPTABLE kInner = [] {
    OA_OPTABLE t{};
    t.DRV_GetProperty = GetProperty;
    t.DRV_SetProperty = SetProperty;
    t.DRV_AllocStmt = AllocStmt;
    t.DRV_Prepare = Prepare;
    t.DRV_SetParamValues = SetParamValues;
    t.DRV_Execute = Execute;
    t.DRV_Fetch = Fetch;
    t.DRV_ExecuteBatch = ExecuteBatch;
    t.DRV_PrepareAndExecuteEx = PrepareAndExecuteEx;
    return t;
}();

// The 66 slots as addresses, for comparing which are set.
std::vector<const void*> SlotAddresses(const OA_OPTABLE* t) {
    std::vector<const void*> out(OA_OPTABLE_SLOTS);
    std::memcpy(out.data(), t, sizeof *t);
    return out;
}

class RecordingTableTest : public ::testing::Test {
protected:
    void SetUp() override { g_seen = &seen; }
    void TearDown() override { g_seen = nullptr; }
    Seen seen;
    RecordingTable recorder{&kInner};
    const OA_OPTABLE* t = recorder.Table();
};

TEST_F(RecordingTableTest, NullSlotsStayNullAndSetSlotsLeadThroughTheRecorder) {
    const auto inner = SlotAddresses(&kInner);
    const auto recording = SlotAddresses(t);
    for (int i = 0; i < OA_OPTABLE_SLOTS; ++i) {
        SCOPED_TRACE(rec::SlotName(i));
        EXPECT_EQ(recording[i] == nullptr, inner[i] == nullptr);
        if (inner[i] != nullptr) {
            EXPECT_NE(recording[i], inner[i]);
        }
    }

    // Over the agent's own table too: 42 slots set, the same ones.
    RecordingTable agent(&OA_AgentOpTable);
    const auto own = SlotAddresses(&OA_AgentOpTable);
    const auto wrapped = SlotAddresses(agent.Table());
    int set = 0;
    for (int i = 0; i < OA_OPTABLE_SLOTS; ++i) {
        EXPECT_EQ(wrapped[i] == nullptr, own[i] == nullptr) << rec::SlotName(i);
        set += own[i] != nullptr ? 1 : 0;
    }
    EXPECT_EQ(set, 42);
}

TEST_F(RecordingTableTest, ForwardsArgumentsAndAnswersAndRecordsWhatEachCallCarries) {
    int32_t v = 0, len = 0;
    EXPECT_EQ(t->DRV_GetProperty(9, kIntCode, &v, sizeof v, &len), 0);
    EXPECT_EQ(v, 7);
    char name[16] = {};
    EXPECT_EQ(t->DRV_GetProperty(9, kTextCode, name, sizeof name, &len), 0);
    const int32_t three = 3;
    EXPECT_EQ(t->DRV_SetProperty(9, kIntCode, &three), 0);
    EXPECT_EQ(t->DRV_SetProperty(9, kTextCode, "cat"), 0);
    uint32_t stmt = 0;
    EXPECT_EQ(t->DRV_AllocStmt(4, &stmt), 0);
    EXPECT_EQ(stmt, 0x51u);
    EXPECT_EQ(t->DRV_Prepare(stmt, "SELECT k FROM t WHERE k > ?"), 0);
    EXPECT_EQ(t->DRV_Prepare(stmt, "bad"), 42);

    // Keys first, then a text, a NULL and a value still to come at execution.
    DatasetPtr values = dsfix::Make({{DS_SLONG, 4}, {DS_CHARZ, 8}}, 2, 2);
    dsfix::PutI32(values.get(), 0, 0, 10);
    dsfix::PutI32(values.get(), 0, 1, -20);
    dsfix::PutRaw(values.get(), 1, 0, "ab", 3);
    values->cols[1].indicators[1] = DS_IND_DATA_AT_EXEC;
    EXPECT_EQ(t->DRV_SetParamValues(stmt, values.get()), 0);
    EXPECT_EQ(t->DRV_Execute(stmt), 0);
    DATASET block{};
    EXPECT_EQ(t->DRV_Fetch(stmt, 5, &block), 0);

    EXPECT_EQ(seen.calls, (std::vector<std::string>{"get", "get", "set", "set", "alloc",
                                                    "prepare 81 SELECT k FROM t WHERE k > ?", "prepare 81 bad",
                                                    "values", "execute", "fetch"}))
        << recorder.Render();
    EXPECT_EQ(recorder.Slots(), (std::vector<int>{0, 0, 1, 1, 7, 11, 11, 12, 13, 19}));

    const auto calls = recorder.Calls();
    EXPECT_EQ(calls[0].propCode, kIntCode);
    EXPECT_EQ(calls[0].propInt, 7);
    EXPECT_EQ(calls[1].propText, "sales");
    EXPECT_EQ(calls[2].propInt, 3);
    EXPECT_EQ(calls[3].propText, "cat");
    EXPECT_EQ(calls[4].handle, 4u);
    EXPECT_EQ(calls[4].outHandle, 0x51u);
    EXPECT_EQ(calls[6].handle, 0x51u);
    EXPECT_EQ(calls[6].rc, 42);
    EXPECT_FALSE(calls[6].injected);
    EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{"SELECT k FROM t WHERE k > ?", "bad"}));
    ASSERT_TRUE(calls[7].values.has_value());
    EXPECT_EQ(calls[7].values->types, (std::vector<int32_t>{DS_SLONG, DS_CHARZ}));
    EXPECT_EQ(calls[7].values->rows, (std::vector<std::vector<std::string>>{{"10", "ab"}, {"-20", "<dae>"}}));
    EXPECT_EQ(calls[7].values->Column(0), (std::vector<std::string>{"10", "-20"}));
    EXPECT_EQ(calls[9].fetchRows, 5);
    EXPECT_EQ(calls[9].rowsFetched, 3);

    const std::string log = recorder.Render();
    EXPECT_NE(log.find("#5 slot 11 DRV_Prepare h=51 text=\"SELECT k FROM t WHERE k > ?\" -> 0"), std::string::npos)
        << log;
    EXPECT_NE(log.find("values=types[5 17] (10, ab) (-20, <dae>)"), std::string::npos) << log;

    recorder.Clear();
    EXPECT_TRUE(recorder.Calls().empty());
    EXPECT_EQ(recorder.Count(11), 0u);
}

TEST_F(RecordingTableTest, BatchesAndNamedDescriptionsAreRecordedStatementByStatement) {
    DatasetPtr second = dsfix::Make({{DS_SLONG, 4}}, 1, 1);
    dsfix::PutI32(second.get(), 0, 0, 5);
    PARAM_DESC d{};
    d.sqlType = 4;
    d.cType = 4;
    d.columnSize = 10;
    d.paramType = 1;
    const OA_BATCHSTMT stmts[] = {{nullptr, 0, nullptr, nullptr}, {"DELETE FROM t WHERE k = ?", 1, &d, second.get()}};
    uint16_t done = 0;
    int32_t* counts = nullptr;
    EXPECT_EQ(t->DRV_ExecuteBatch(3, 2, stmts, &done, &counts), 0);
    EXPECT_EQ(done, 2);

    const NAMED_PARAM_DESC named[] = {{d, "k"}};
    EXPECT_EQ(t->DRV_PrepareAndExecuteEx(3, "CALL p(?)", nullptr, 1, named), 0);

    const auto batch = recorder.CallsOf(49);
    ASSERT_EQ(batch.size(), 1u);
    ASSERT_EQ(batch[0].batch.size(), 2u);
    EXPECT_FALSE(batch[0].batch[0].text.has_value());
    EXPECT_EQ(batch[0].batch[1].text, "DELETE FROM t WHERE k = ?");
    EXPECT_EQ(batch[0].batch[1].descs, (std::vector<RecordedDesc>{{4, 4, 10, 0, 1, ""}}));
    EXPECT_EQ(batch[0].batch[1].values->rows, (std::vector<std::vector<std::string>>{{"5"}}));
    const auto ex = recorder.CallsOf(54);
    ASSERT_EQ(ex.size(), 1u);
    EXPECT_EQ(ex[0].descs, (std::vector<RecordedDesc>{{4, 4, 10, 0, 1, "k"}}));
    EXPECT_FALSE(ex[0].values.has_value());
    EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{"DELETE FROM t WHERE k = ?", "CALL p(?)"}));
    EXPECT_EQ(recorder.Texts(54), (std::vector<std::string>{"CALL p(?)"}));
}

// A table of injections: which calls of slot 13 answer the injected code.
TEST_F(RecordingTableTest, InjectedFailuresAnswerAtTheAskedCallsWithoutReachingTheTable) {
    struct Case {
        Failure f;
        std::vector<int> answers;  // five calls
    };
    const Case cases[] = {
        {{13, 77, 1, false, false}, {77, 0, 0, 0, 0}},
        {{13, 77, 2, false, false}, {0, 77, 0, 0, 0}},
        {{13, 77, 3, true, false}, {0, 0, 77, 77, 77}},
        {{11, 77, 1, true, false}, {0, 0, 0, 0, 0}},  // another slot's failure
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.f.from);
        recorder.ClearFailures();
        recorder.Clear();
        seen.calls.clear();
        recorder.Inject(c.f);
        std::vector<int> answers;
        for (int i = 0; i < 5; ++i)
            answers.push_back(t->DRV_Execute(1));
        EXPECT_EQ(answers, c.answers);
        size_t failed = 0;
        for (const auto& call : recorder.CallsOf(13)) {
            EXPECT_EQ(call.injected, call.rc == 77);
            failed += call.injected ? 1 : 0;
        }
        EXPECT_EQ(seen.calls.size(), 5 - failed);  // an injected failure never reaches the table
    }
    // A failure posted on a handle that is none of the agent's posts nothing and harms nothing.
    recorder.ClearFailures();
    recorder.Inject({11, 15, 1, false, true});
    EXPECT_EQ(t->DRV_Prepare(0x12345, "SELECT 1"), 15);
    EXPECT_NE(recorder.Render().find("-> 15 injected"), std::string::npos);
}

// Two recorders stacked: the outer one's calls lead through the inner one; once a recorder
// is gone its table still forwards, unrecorded.
TEST_F(RecordingTableTest, StacksAndOutlivesItsRecorder) {
    const OA_OPTABLE* outerTable = nullptr;
    {
        RecordingTable outer(t);
        EXPECT_NE(outer.Index(), recorder.Index());
        outerTable = outer.Table();
        EXPECT_EQ(outerTable->DRV_Prepare(2, "SELECT 2"), 0);
        EXPECT_EQ(outer.Texts(), (std::vector<std::string>{"SELECT 2"}));
        EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{"SELECT 2"}));
    }
    EXPECT_EQ(outerTable->DRV_Prepare(2, "bad"), 42);
    EXPECT_EQ(recorder.Texts(), (std::vector<std::string>{"SELECT 2", "bad"}));
    RecordingTable again(&kInner);  // takes the free index again
    EXPECT_EQ(again.Texts(), std::vector<std::string>{});
}

}  // namespace
