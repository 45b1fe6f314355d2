// The static result set: filling from the agent and serving rowsets, sequential and by
// explicit start, from memory and after a spill.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "dsc_fake_agent.h"
#include "scrs/ss_result.h"
#include "util/dataset.h"

namespace {

class StaticResult : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SS_Alloc(&ss), 0); }
    void TearDown() override {
        SS_Free(&ss);
        EXPECT_EQ(ss, nullptr);
        DatasetDeleter{}(out);
        DSC_SetTempFolderForTests(nullptr);
    }
    void Fill(int32_t total) {
        int32_t count = -1;
        ASSERT_EQ(SS_GetRsltSet(ss, dscfake::Agent(total), 1, &count), 0);
        ASSERT_EQ(count, total);
    }
    // Rows of the rowset as their row numbers.
    std::vector<int32_t> Fetch(int32_t start, int32_t n) {
        EXPECT_EQ(SS_FetchRowset(ss, start, n, &out), 0);
        std::vector<int32_t> got;
        if (out == nullptr)
            return got;
        for (int32_t i = 0; i < out->rowsUsed; ++i) {
            int32_t v;
            std::memcpy(&v, ds_Elem(&out->cols[0], i), 4);
            EXPECT_TRUE(dscfake::HoldsRow(out, i, v));
            got.push_back(v);
        }
        return got;
    }
    static std::vector<int32_t> Range(int32_t from, int32_t n) {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < n; ++i)
            v.push_back(from + i);
        return v;
    }

    SS_RESULT* ss = nullptr;
    DATASET* out = nullptr;
};

TEST_F(StaticResult, SequentialRowsetsRunToTheEndThenStayEmpty) {
    Fill(25);
    EXPECT_EQ(ss->firstInMemory, 0);
    EXPECT_EQ(Fetch(-1, 10), Range(0, 10));
    EXPECT_EQ(Fetch(-1, 10), Range(10, 10));
    EXPECT_EQ(Fetch(-1, 10), Range(20, 5));
    EXPECT_EQ(ss->nextStart, SS_AT_END);
    EXPECT_TRUE(Fetch(-1, 10).empty());
    EXPECT_TRUE(Fetch(-1, 10).empty());
}

TEST_F(StaticResult, AnExactMultipleMarksTheEndOnTheNextFetch) {
    Fill(20);
    EXPECT_EQ(Fetch(-1, 10), Range(0, 10));
    EXPECT_EQ(Fetch(-1, 10), Range(10, 10));
    EXPECT_EQ(ss->nextStart, 20);
    EXPECT_TRUE(Fetch(-1, 10).empty());
    EXPECT_EQ(ss->nextStart, SS_AT_END);
}

TEST_F(StaticResult, ExplicitStartLeavesTheNextStartThere) {
    Fill(25);
    EXPECT_EQ(Fetch(12, 5), Range(12, 5));
    EXPECT_EQ(ss->nextStart, 12);
    EXPECT_EQ(Fetch(-1, 5), Range(12, 5));
    EXPECT_EQ(ss->nextStart, 17);
    // After the end mark an explicit start still reads.
    EXPECT_EQ(Fetch(-1, 20), Range(17, 8));
    EXPECT_EQ(Fetch(3, 2), Range(3, 2));
    EXPECT_EQ(Fetch(-1, 2), Range(3, 2));
}

TEST_F(StaticResult, EmptyRequestsGiveEmptyDatasetsAndZero) {
    Fill(25);
    EXPECT_TRUE(Fetch(5, 0).empty());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->colsUsed, 0);
    EXPECT_EQ(ss->nextStart, 0);  // n = 0 leaves the position alone

    for (int32_t start : {25, 26, 1000}) {
        SCOPED_TRACE(start);
        EXPECT_TRUE(Fetch(start, 10).empty());
        EXPECT_EQ(out->rowsUsed, 0);
        EXPECT_EQ(ss->nextStart, start);
    }
    // A rowset that runs past the end is short, never negative.
    EXPECT_EQ(Fetch(24, 10), Range(24, 1));
}

TEST_F(StaticResult, EmptyResultAndBadArguments) {
    Fill(0);
    EXPECT_TRUE(Fetch(-1, 10).empty());
    EXPECT_EQ(ss->nextStart, SS_AT_END);
    EXPECT_EQ(SS_FetchRowset(nullptr, 0, 1, &out), 15);
    EXPECT_EQ(SS_FetchRowset(ss, 0, 1, nullptr), 15);
    EXPECT_EQ(SS_Alloc(nullptr), 15);
    SS_Close(nullptr);
    SS_Free(nullptr);
}

TEST_F(StaticResult, AFailedFillCountsTheRowsAndIsLogged) {
    const OA_OPTABLE* agent = dscfake::Agent(1000);
    dscfake::Current().failAtCall = 3;
    dscfake::Current().failCode = 42;
    int32_t count = -1;
    EXPECT_EQ(SS_GetRsltSet(ss, agent, 1, &count), 42);
    EXPECT_EQ(count, 400);
}

TEST_F(StaticResult, AfterASpillRowsetsComeFromWindows) {
    auto dir = std::filesystem::temp_directory_path() / ("ss_spill_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    DSC_SetTempFolderForTests(dir.c_str());
    Fill(7000);
    EXPECT_EQ(ss->cache.state, DSC_SPILLED);
    EXPECT_EQ(ss->firstInMemory, -1);
    EXPECT_EQ(ss->rows->rowsUsed, 0);
    EXPECT_EQ(Fetch(6000, 10), Range(6000, 10));
    EXPECT_EQ(Fetch(-1, 4), Range(6000, 4));  // the explicit start left the position there
    EXPECT_EQ(Fetch(-1, 4), Range(6004, 4));
    EXPECT_EQ(Fetch(0, 3), Range(0, 3));
    EXPECT_EQ(Fetch(6995, 10), Range(6995, 5));
    EXPECT_EQ(Fetch(7000, 10), std::vector<int32_t>{});
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    SS_Close(ss);
    EXPECT_EQ(ss->cache.data, nullptr);
    std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

// Long values are owned by each row: a rowset holds copies of its own, which outlive the
// snapshot, and every rowset's are freed once (ASan judges), in memory and after a spill.
TEST_F(StaticResult, LongValuesAreCopiedIntoEachRowset) {
    auto dir = std::filesystem::temp_directory_path() / ("ss_long_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    DSC_SetTempFolderForTests(dir.c_str());
    for (int32_t total : {25, 5300}) {
        SCOPED_TRACE(total);
        int32_t count = -1;
        const OA_OPTABLE* agent = dscfake::Agent(total);
        dscfake::Current().longText = true;
        ASSERT_EQ(SS_GetRsltSet(ss, agent, 1, &count), 0);
        ASSERT_EQ(count, total);
        EXPECT_EQ(Fetch(-1, 10), Range(0, 10));
        EXPECT_EQ(Fetch(total - 8, 10), Range(total - 8, 8));
        SS_Close(ss);
        for (int32_t i = 0; i < out->rowsUsed; ++i)
            EXPECT_TRUE(dscfake::HoldsRow(out, i, total - 8 + i));
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
