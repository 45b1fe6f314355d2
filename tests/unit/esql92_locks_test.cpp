// Lock waits of the embedded server: a lock held by another connection of this process is a
// conflict answered at once, one held by another process is waited for; and many processes
// connecting at once to a file that does not exist yet all get in.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;

// The state and native code of SQLite's "database is locked".
constexpr const char* kLockConflictState = "40001";
constexpr int kLockConflictCode = -30005;

// Runs `body` in a child process and answers its exit status (0: success). The child leaves
// with _exit, so that nothing of the test framework runs twice.
template <typename Body>
pid_t spawn(Body body) {
    pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A one-shot signal between processes: the writer closes its end, the reader's read returns.
class Gate {
public:
    Gate() {
        if (::pipe(fd_) != 0)
            fd_[0] = fd_[1] = -1;
    }
    ~Gate() {
        closeEnd(0);
        closeEnd(1);
    }
    void open() { closeEnd(1); }
    void wait() {
        closeEnd(1);
        char c;
        while (::read(fd_[0], &c, 1) > 0) {
        }
    }
    bool valid() const { return fd_[0] >= 0; }

private:
    void closeEnd(int e) {
        if (fd_[e] >= 0)
            ::close(fd_[e]);
        fd_[e] = -1;
    }
    int fd_[2];
};

// The holder of a write transaction is another connection of this process: a writer does not
// wait for it (in the driver that holder could not commit while the writer waits) but fails
// at once with the lock conflict, and the holder's work is untouched.
TEST(Esql92Locks, AWriteLockHeldInThisProcessIsAConflictAtOnce) {
    TempDb f;
    Conn a(f.target(), "locks-holder");
    // The same file under another spelling of its path is still the same file.
    std::string slash = f.path().substr(0, f.path().rfind('/'));
    Conn b("progress:T:localhost:5162:" + slash + "/./" + f.path().substr(slash.size() + 1), "locks-waiter");
    ASSERT_EQ(a.rc, 0) << message(a.ca);
    ASSERT_EQ(b.rc, 0) << message(b.ca);
    ASSERT_EQ(a.exec("CREATE TABLE t (id INTEGER)"), 0);
    ASSERT_EQ(a.commit(), 0);
    ASSERT_EQ(a.exec("INSERT INTO t VALUES (1)"), 0) << message(a.ca);

    // Should b wait for the lock after all, the holder commits on its own after a while, and
    // b's write then succeeds: the wrong result the assertions below catch.
    std::mutex mu;
    std::condition_variable cv;
    bool returned = false;
    std::thread rescue([&] {
        std::unique_lock<std::mutex> lock(mu);
        if (!cv.wait_for(lock, std::chrono::seconds(2), [&] { return returned; }))
            a.commit();
    });
    int rc = b.exec("INSERT INTO t VALUES (2)");
    {
        std::lock_guard<std::mutex> lock(mu);
        returned = true;
    }
    cv.notify_one();
    rescue.join();
    EXPECT_EQ(rc, kLockConflictCode) << message(b.ca);
    EXPECT_EQ(state(b.ca), kLockConflictState) << message(b.ca);

    // The holder goes on: it sees its own row, writes again and commits.
    EXPECT_EQ(a.query("SELECT count(*) FROM t"), (Rows{{"1"}}));
    ASSERT_EQ(a.exec("INSERT INTO t VALUES (3)"), 0) << message(a.ca);
    ASSERT_EQ(a.commit(), 0) << message(a.ca);
    // The failed statement left b's transaction open and without effect: a retry succeeds.
    ASSERT_EQ(b.exec("INSERT INTO t VALUES (2)"), 0) << message(b.ca);
    ASSERT_EQ(b.commit(), 0) << message(b.ca);
    EXPECT_EQ(a.query("SELECT id FROM t ORDER BY id"), (Rows{{"1"}, {"2"}, {"3"}}));

    // A holder that only reads does not stand in a writer's way.
    EXPECT_EQ(a.query("SELECT count(*) FROM t"), (Rows{{"3"}}));
    ASSERT_EQ(b.exec("INSERT INTO t VALUES (4)"), 0) << message(b.ca);
    ASSERT_EQ(b.commit(), 0) << message(b.ca);
    ASSERT_EQ(a.commit(), 0);
}

// The holder is another process: the writer waits for it within the busy timeout, even while
// a connection of this process holds a write lock on another file.
TEST(Esql92Locks, AWriteLockHeldByAnotherProcessIsWaitedFor) {
    TempDb f, other;
    {
        Conn setUp(f.target(), "locks-setup");
        ASSERT_EQ(setUp.exec("CREATE TABLE t (id INTEGER)"), 0);
        ASSERT_EQ(setUp.commit(), 0) << message(setUp.ca);
    }
    Gate holding;
    ASSERT_TRUE(holding.valid());
    pid_t child = spawn([&] {
        Conn c(f.target(), "locks-child");
        if (c.rc != 0 || c.exec("INSERT INTO t VALUES (1)") != 0)
            return 1;
        holding.open();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return c.commit() == 0 ? 0 : 2;
    });
    ASSERT_GT(child, 0);
    holding.wait();

    Conn elsewhere(other.target(), "locks-elsewhere");
    ASSERT_EQ(elsewhere.exec("CREATE TABLE u (id INTEGER)"), 0) << message(elsewhere.ca);
    Conn c(f.target(), "locks-parent");
    EXPECT_EQ(c.exec("INSERT INTO t VALUES (2)"), 0) << message(c.ca);
    EXPECT_EQ(c.commit(), 0) << message(c.ca);
    EXPECT_EQ(exitStatus(child), 0);
    EXPECT_EQ(c.query("SELECT id FROM t ORDER BY id"), (Rows{{"1"}, {"2"}}));
    EXPECT_EQ(elsewhere.commit(), 0);
}

// Processes that connect at once to a file that does not exist yet meet SQLite's lock on its
// creation and on the switch to WAL, which SQLite reports without waiting: every one of them
// must get in and run a statement.
TEST(Esql92Locks, ProcessesConnectingAtOnceToANewFileAllGetIn) {
    constexpr int kRounds = 20;
    constexpr int kProcesses = 12;
    int failed = 0;
    for (int round = 0; round < kRounds; ++round) {
        TempDb f;
        Gate start;
        ASSERT_TRUE(start.valid());
        std::vector<pid_t> children;
        for (int p = 0; p < kProcesses; ++p) {
            pid_t pid = spawn([&, p] {
                start.wait();
                Conn c(f.target(), "locks-race");
                if (c.rc != 0) {
                    std::fprintf(stderr, "connect: %s %s\n", state(c.ca).c_str(), message(c.ca).c_str());
                    return 1;
                }
                if (c.exec("CREATE TABLE t" + std::to_string(p) + " (id INTEGER)") != 0 || c.commit() != 0) {
                    std::fprintf(stderr, "statement: %s %s\n", state(c.ca).c_str(), message(c.ca).c_str());
                    return 2;
                }
                return 0;
            });
            ASSERT_GT(pid, 0);
            children.push_back(pid);
        }
        start.open();
        for (pid_t pid : children)
            failed += exitStatus(pid) != 0;
    }
    EXPECT_EQ(failed, 0);
}

}  // namespace
