// A recursive lock that can also be held on behalf of no thread, and then released by any.
//
// A connection's call lock is one: a prepared distributed-transaction branch keeps the
// connection closed to ODBC calls from the coordinator's prepare request until its commit
// or abort request, which may arrive on another coordinator thread. A std::mutex may only
// be unlocked by the thread that locked it, so that hand-over needs a lock of its own.
//
// Every ODBC call takes and gives back this lock, almost always with nobody waiting: the
// state is one atomic word, taken and given back with one atomic operation each, and the
// mutex and condition variable are touched only when a thread has to wait.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

class HandoffLock {
public:
    // Recursive for the thread that holds it; otherwise waits until neither another thread
    // nor a hand-over hold has it.
    void lock() {
        if (Reenter())
            return;
        Acquire(kHeld);
        owner_.store(pthread_self(), std::memory_order_relaxed);
        depth_ = 1;
    }

    bool try_lock() {
        if (Reenter())
            return true;
        int expected = kFree;
        if (!state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire))
            return false;
        owner_.store(pthread_self(), std::memory_order_relaxed);
        depth_ = 1;
        return true;
    }

    // By the thread that holds it.
    void unlock() {
        if (!HeldByThisThread())
            return;  // not ours: nothing to give back
        if (--depth_ == 0) {
            owner_.store(kNoOwner, std::memory_order_relaxed);
            Release(kHeld);
        }
    }

    // Waits as lock() does, then holds the lock for no thread: every thread waits, this one
    // too, until some thread calls ReleaseHandoff. Never called by a thread that holds the
    // lock (it would wait for itself).
    void HoldForHandoff() { Acquire(kHandoff); }

    // Gives up the hand-over hold, from any thread. False when there was none.
    bool ReleaseHandoff() { return Release(kHandoff); }

private:
    enum : int { kFree = 0, kHeld = 1, kHandoff = 2 };
    static constexpr pthread_t kNoOwner = 0;

    // Only the holding thread writes its own id into owner_ (and clears it before it lets
    // go), so a thread that reads its own id there holds the lock, whatever other threads
    // do meanwhile; depth_ is then its own to read.
    bool HeldByThisThread() const {
        return pthread_equal(owner_.load(std::memory_order_relaxed), pthread_self()) != 0;
    }

    bool Reenter() {
        if (!HeldByThisThread())
            return false;
        ++depth_;
        return true;
    }

    // Moves the state from free to `to`, waiting for that as long as it takes.
    void Acquire(int to) {
        int expected = kFree;
        if (state_.compare_exchange_strong(expected, to, std::memory_order_acquire))
            return;
        std::unique_lock<std::mutex> l(m_);
        // Counted before the state is looked at again: a releasing thread that frees the
        // state and then reads no waiter freed it before this thread's next look (both
        // sequentially consistent), so no wake-up is lost.
        waiters_.fetch_add(1);
        free_.wait(l, [this, to] {
            int e = kFree;
            return state_.compare_exchange_strong(e, to);
        });
        waiters_.fetch_sub(1);
    }

    // Moves the state from `from` to free and wakes the waiters, if any. False when the
    // state was not `from`.
    bool Release(int from) {
        if (!state_.compare_exchange_strong(from, kFree))
            return false;
        if (waiters_.load() != 0) {
            // Under the mutex: a waiter between its look at the state and its sleep holds it.
            std::lock_guard<std::mutex> l(m_);
            free_.notify_all();
        }
        return true;
    }

    std::atomic<int> state_{kFree};
    std::atomic<pthread_t> owner_{kNoOwner};
    int depth_ = 0;  // the holding thread's count of its holds
    std::atomic<int> waiters_{0};
    std::mutex m_;
    std::condition_variable free_;
};
