// The call lock: recursion for its holder, exclusion of other threads, the hand-over hold
// that any thread gives up, and waiters woken whichever way the lock comes free.
#include "platform/txcoord/handoff_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

// Whether another thread could take the lock now.
bool FreeForOthers(HandoffLock& l) {
    return std::async(std::launch::async, [&l] {
               if (!l.try_lock())
                   return false;
               l.unlock();
               return true;
           }).get();
}

// A thread that takes the lock, says so, and keeps it until the Taker goes.
struct Taker {
    std::atomic<bool> got{false};
    std::atomic<bool> release{false};
    std::thread t;
    explicit Taker(HandoffLock& l)
        : t([this, &l] {
              l.lock();
              got = true;
              while (!release)
                  std::this_thread::yield();
              l.unlock();
          }) {}
    bool GotWithin(std::chrono::milliseconds d) {
        const auto until = std::chrono::steady_clock::now() + d;
        while (!got && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return got;
    }
    ~Taker() {
        release = true;
        t.join();
    }
};

TEST(HandoffLock, HolderReentersAndOthersWaitUntilTheLastUnlock) {
    HandoffLock l;
    l.lock();
    ASSERT_TRUE(l.try_lock());
    l.lock();
    EXPECT_FALSE(FreeForOthers(l));
    l.unlock();
    l.unlock();
    EXPECT_FALSE(FreeForOthers(l));
    Taker other(l);
    EXPECT_FALSE(other.GotWithin(std::chrono::milliseconds(20)));
    l.unlock();
    EXPECT_TRUE(other.GotWithin(std::chrono::seconds(10)));
}

TEST(HandoffLock, UnlockByAThreadThatDoesNotHoldItChangesNothing) {
    HandoffLock l;
    l.lock();
    std::async(std::launch::async, [&l] { l.unlock(); }).get();
    EXPECT_FALSE(FreeForOthers(l));
    l.unlock();
    EXPECT_TRUE(FreeForOthers(l));
}

TEST(HandoffLock, AHandOverHoldKeepsEveryThreadOutUntilAnyThreadReleasesIt) {
    HandoffLock l;
    EXPECT_FALSE(l.ReleaseHandoff());
    l.HoldForHandoff();
    EXPECT_FALSE(l.try_lock());  // the thread that set it up waits too
    EXPECT_FALSE(FreeForOthers(l));
    l.unlock();  // nobody's: nothing to give back
    EXPECT_FALSE(FreeForOthers(l));
    Taker waiter(l);
    EXPECT_FALSE(waiter.GotWithin(std::chrono::milliseconds(20)));
    EXPECT_TRUE(std::async(std::launch::async, [&l] { return l.ReleaseHandoff(); }).get());
    EXPECT_TRUE(waiter.GotWithin(std::chrono::seconds(10)));
    EXPECT_FALSE(l.ReleaseHandoff());  // the waiter holds it now, not a hand-over
}

TEST(HandoffLock, AHandOverHoldWaitsForTheHolder) {
    HandoffLock l;
    l.lock();
    std::atomic<bool> held{false};
    std::thread coordinator([&] {
        l.HoldForHandoff();
        held = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(held);
    l.unlock();
    coordinator.join();
    EXPECT_TRUE(held);
    EXPECT_FALSE(l.try_lock());
    EXPECT_TRUE(l.ReleaseHandoff());
    EXPECT_TRUE(l.try_lock());
    l.unlock();
}

// Many threads taking turns: the count under the lock is never torn and nobody is left
// asleep after the lock came free.
TEST(HandoffLock, ManyThreadsTakingTurnsExcludeEachOther) {
    HandoffLock l;
    long counter = 0;
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                l.lock();
                if (inside.fetch_add(1) != 0)
                    overlap = true;
                ++counter;
                inside.fetch_sub(1);
                l.unlock();
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_FALSE(overlap);
    EXPECT_EQ(counter, 8 * 2000);
    EXPECT_TRUE(FreeForOthers(l));
}

}  // namespace
