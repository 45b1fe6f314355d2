// A recursive lock that can also be held on behalf of no thread, and then released by any.
//
// A connection's call lock is one: a prepared distributed-transaction branch keeps the
// connection closed to ODBC calls from the coordinator's prepare request until its commit
// or abort request, which may arrive on another coordinator thread. A std::mutex may only
// be unlocked by the thread that locked it, so that hand-over needs a lock of its own.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class HandoffLock {
public:
    // Recursive for the thread that holds it; otherwise waits until neither another thread
    // nor a hand-over hold has it.
    void lock() {
        std::unique_lock<std::mutex> l(m_);
        const std::thread::id self = std::this_thread::get_id();
        if (depth_ > 0 && owner_ == self) {
            ++depth_;
            return;
        }
        free_.wait(l, [this] { return depth_ == 0 && !handoff_; });
        owner_ = self;
        depth_ = 1;
    }

    bool try_lock() {
        std::lock_guard<std::mutex> l(m_);
        const std::thread::id self = std::this_thread::get_id();
        if (depth_ > 0 && owner_ == self) {
            ++depth_;
            return true;
        }
        if (depth_ != 0 || handoff_)
            return false;
        owner_ = self;
        depth_ = 1;
        return true;
    }

    // By the thread that holds it.
    void unlock() {
        std::lock_guard<std::mutex> l(m_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id())
            return;  // not ours: nothing to give back
        if (--depth_ == 0) {
            owner_ = std::thread::id();
            free_.notify_all();
        }
    }

    // Waits as lock() does, then holds the lock for no thread: every thread waits, this one
    // too, until some thread calls ReleaseHandoff. Never called by a thread that holds the
    // lock (it would wait for itself).
    void HoldForHandoff() {
        std::unique_lock<std::mutex> l(m_);
        free_.wait(l, [this] { return depth_ == 0 && !handoff_; });
        handoff_ = true;
    }

    // Gives up the hand-over hold, from any thread. False when there was none.
    bool ReleaseHandoff() {
        std::lock_guard<std::mutex> l(m_);
        if (!handoff_)
            return false;
        handoff_ = false;
        free_.notify_all();
        return true;
    }

private:
    std::mutex m_;
    std::condition_variable free_;
    std::thread::id owner_;
    int depth_ = 0;
    bool handoff_ = false;
};
