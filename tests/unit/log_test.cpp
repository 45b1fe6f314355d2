// Logging: line layout by sink flags, the date line, level masks and clamping, format
// expansion (%F %L %m, cut at the first newline, substituted text never read as format),
// standard error before any sink, error texts, and sinks removed while others log.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "trace_support.h"
#include "util/log.h"

using namespace trace_support;

namespace {

// Formats with the logger's own %F and %L, which the compiler's printf check rejects.
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"

// A sink that records every piece it is handed.
class CaptureSink {
public:
    CaptureSink(int maxLevel, int32_t flags) : sink_(log_SinkCreate(maxLevel, 1, flags)) {
        sink_->write = Write;
        sink_->stream = reinterpret_cast<FILE*>(this);  // the back pointer
    }
    ~CaptureSink() {
        log_SinkRemove(sink_);
        std::free(sink_);
    }
    CaptureSink(const CaptureSink&) = delete;
    CaptureSink& operator=(const CaptureSink&) = delete;

    std::vector<std::string> pieces;
    LOG_SINK* sink() { return sink_; }

private:
    static void Write(LOG_SINK* s, int, const char* text) {
        reinterpret_cast<CaptureSink*>(s->stream)->pieces.emplace_back(text);
    }
    LOG_SINK* sink_;
};

class LogTest : public ::testing::Test {
protected:
    ScopedFixedClock clock;
};

TEST_F(LogTest, LineLayoutFollowsTheSinkFlags) {
    struct Case {
        int32_t flags;
        int level;
        const char* file;
        const char* expected;
    } cases[] = {
        {0, LOG_ERR, "a.c", "plain 5\n"},
        {LOG_FLAG_TIME, LOG_ERR, "a.c", "03/02/2026 09:05:07 plain 5\n"},
        {LOG_FLAG_LEVEL | LOG_FLAG_SOURCE, LOG_WARNING, "a.c", "WARNING (a.c:12): plain 5\n"},
        {LOG_FLAG_TIME | LOG_FLAG_LEVEL, LOG_DEBUG, "a.c", "03/02/2026 09:05:07 DEBUG: plain 5\n"},
        {LOG_FLAG_SOURCE, LOG_ERR, nullptr, "plain 5\n"},  // no file, no source part
        {LOG_FLAG_IDENT, LOG_ERR, "a.c", ": plain 5\n"},    // the ident is empty here
    };
    for (const Case& c : cases) {
        CaptureSink cap(7, c.flags);
        log_Message(c.level, c.file, 12, "plain %d", 5);
        ASSERT_EQ(cap.pieces.size(), 1u) << c.flags;
        EXPECT_EQ(cap.pieces[0], c.expected) << c.flags;
    }
}

TEST_F(LogTest, DateLineWhenTheDateChanges) {
    CaptureSink cap(7, LOG_FLAG_DATE | LOG_FLAG_TIME);
    LOG_MSG(LOG_ERR, "one");
    LOG_MSG(LOG_ERR, "two");
    g_fixedDay = 3;
    LOG_MSG(LOG_ERR, "three");
    const std::vector<std::string> expected = {
        "\n\t\tMon Mar 02 2026\n", "09:05:07 one\n", "09:05:07 two\n",
        "\n\t\tTue Mar 03 2026\n", "09:05:07 three\n",
    };
    EXPECT_EQ(cap.pieces, expected);
}

TEST_F(LogTest, LevelsAreMaskedAndClamped) {
    CaptureSink errors(LOG_ERR, LOG_FLAG_LEVEL);
    CaptureSink all(7, LOG_FLAG_LEVEL);
    CaptureSink none(-1, LOG_FLAG_LEVEL);
    for (int level : {-2, 0, 1, 2, 3, 4, 5, 6, 7, 9})
        log_Message(level, nullptr, 0, "x");
    const std::vector<std::string> severe = {"EMERG: x\n", "EMERG: x\n", "ALERT: x\n", "CRIT: x\n", "ERROR: x\n"};
    EXPECT_EQ(errors.pieces, severe);
    ASSERT_EQ(all.pieces.size(), 10u);
    EXPECT_EQ(all.pieces[0], "EMERG: x\n");
    EXPECT_EQ(all.pieces[5], "WARNING: x\n");
    EXPECT_EQ(all.pieces[9], "DEBUG: x\n");
    EXPECT_TRUE(none.pieces.empty());

    // A sink without a write callback receives nothing and harms no other sink.
    LOG_SINK* mute = log_SinkCreate(7, 1, 0);
    ASSERT_NE(mute, nullptr);
    LOG_MSG(LOG_ERR, "y");
    EXPECT_EQ(all.pieces.back(), "ERROR: y\n");
    log_SinkRemove(mute);
    std::free(mute);
}

TEST_F(LogTest, FormatExpansion) {
    struct Case {
        const char* file;
        const char* fmt;
        const char* expected;
    } cases[] = {
        {"dir/a.c", "%F:%L %d%%", "dir/a.c:42 7%\n"},
        // Text put in for %F is printed, never read as conversions (%n would write).
        {"dir/100%s%n%d.c", "%F says %d", "dir/100%s%n%d.c says 7\n"},
        {"a.c", "first %d\nsecond %d", "first 7\n"},
        {"a.c", "ends in %", "ends in %\n"},
        {"a.c", "[%5d]", "[    7]\n"},
        {"a.c", "%%F is not a file", "%F is not a file\n"},
    };
    for (const Case& c : cases) {
        CaptureSink cap(7, 0);
        log_Message(LOG_ERR, c.file, 42, c.fmt, 7, 8);
        ASSERT_EQ(cap.pieces.size(), 1u) << c.fmt;
        EXPECT_EQ(cap.pieces[0], c.expected) << c.fmt;
    }
}

TEST_F(LogTest, PercentMIsTheErrnoOfTheCallsStart) {
    CaptureSink cap(7, 0);
    errno = ENOENT;
    LOG_MSG(LOG_ERR, "open: %m (%d)", 3);
    errno = 99999;
    LOG_MSG(LOG_ERR, "%m");
    const std::vector<std::string> expected = {"open: No such file or directory (3)\n", "Unknown error 99999\n"};
    EXPECT_EQ(cap.pieces, expected);
}

TEST_F(LogTest, LongMessagesAreCutToTheLineBuffer) {
    CaptureSink cap(7, LOG_FLAG_LEVEL);
    std::string big(5000, 'x');
    LOG_MSG(LOG_ERR, "%s", big.c_str());
    ASSERT_EQ(cap.pieces.size(), 1u);
    EXPECT_EQ(cap.pieces[0].size(), 2047u);
    EXPECT_EQ(cap.pieces[0].substr(0, 8), "ERROR: x");
}

TEST(LogStderr, OnlyFailuresReachStandardErrorBeforeAnySink) {
    UseFreshProcessForDeathTests();
    EXPECT_EXIT(
        {
            log_Message(LOG_ERR, "f.c", 1, "%d", 5);
            log_Message(LOG_WARNING, "f.c", 2, "dropped");
            log_Message(LOG_DEBUG, "f.c", 3, "dropped");
            log_Message(-2, "f.c", 4, "crit %s", "too");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^5\ncrit too\n$");
}

TEST(LogStderr, NothingReachesStandardErrorOnceASinkHasExisted) {
    UseFreshProcessForDeathTests();
    EXPECT_EXIT(
        {
            LOG_SINK* s = log_SinkCreate(7, 1, 0);
            log_SinkRemove(s);
            std::free(s);
            LOG_MSG(LOG_ERR, "lost");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "^$");
}

TEST(ErrorText, KnownUnknownAndPerThread) {
    EXPECT_STREQ(ut_ErrorText(ENOENT), "No such file or directory");
    EXPECT_STREQ(ut_ErrorText(-1), "Unknown error 4294967295");

    // Each thread keeps its own text of an unknown number.
    std::latch bothRead(2);
    std::string seen[2];
    auto reader = [&](int i) {
        const char* text = ut_ErrorText(100000 + i);
        bothRead.arrive_and_wait();
        seen[i] = text;
    };
    std::thread a(reader, 0), b(reader, 1);
    a.join();
    b.join();
    EXPECT_EQ(seen[0], "Unknown error 100000");
    EXPECT_EQ(seen[1], "Unknown error 100001");
}

TEST(LogSinks, RemovalWhileOtherThreadsLog) {
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int i = 0; i < 3; ++i)
        writers.emplace_back([&] {
            while (!stop.load())
                LOG_MSG(LOG_DEBUG, "busy %d", 1);
        });
    for (int round = 0; round < 2000; ++round) {
        // Takes ERROR lines only: the writers' DEBUG lines never reach it, so they neither
        // race with its set-up nor append to its pieces from other threads.
        CaptureSink cap(LOG_ERR, LOG_FLAG_LEVEL);
        LOG_MSG(LOG_ERR, "mine");
        ASSERT_FALSE(cap.pieces.empty());
    }
    stop.store(true);
    for (std::thread& t : writers)
        t.join();
}

TEST(FormatTime, EnglishNamesAndFields) {
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 5;
    tm.tm_wday = 4;
    tm.tm_hour = 23;
    tm.tm_min = 0;
    tm.tm_sec = 9;
    char buf[64];
    ut_FormatTime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y|%Y%m%d|%%|%q", tm);
    EXPECT_STREQ(buf, "Thu Dec 05 23:00:09 2024|20241205|%|%q");
    EXPECT_EQ(ut_FormatTime(buf, 6, "%a %b", tm), 5u);
    EXPECT_STREQ(buf, "Thu D");
}

}  // namespace
