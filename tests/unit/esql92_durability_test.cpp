// What the embedded server promises of a commit: it reaches the disk before the commit is
// answered (a counting VFS in front of SQLite's own sees the log synced by the commit), it
// survives the process killed at any moment, and writes to a database file deleted under
// the connection are refused rather than lost.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>

#include "tests/unit/esql92_fixture.h"

namespace {

using namespace esqltest;

// A VFS that forwards everything to the default one and counts the syncs of files whose
// name ends in "-wal". Registered as the default while it lives, so that connections the
// stand-in opens meanwhile go through it.
class SyncCountingVfs {
public:
    SyncCountingVfs() {
        real_ = sqlite3_vfs_find(nullptr);
        vfs_ = *real_;
        vfs_.zName = "esql92-sync-counter";
        vfs_.szOsFile = static_cast<int>(sizeof(File)) + real_->szOsFile;
        vfs_.pAppData = this;
        vfs_.xOpen = &Open;
        sqlite3_vfs_register(&vfs_, 1);
    }
    ~SyncCountingVfs() {
        sqlite3_vfs_unregister(&vfs_);
        sqlite3_vfs_register(real_, 1);
    }
    SyncCountingVfs(const SyncCountingVfs&) = delete;
    SyncCountingVfs& operator=(const SyncCountingVfs&) = delete;

    int walSyncs() const { return walSyncs_.load(); }

private:
    struct File {
        sqlite3_file base;
        SyncCountingVfs* owner;
        bool wal;
        sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };

    static int Open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
        auto* self = static_cast<SyncCountingVfs*>(vfs->pAppData);
        auto* f = reinterpret_cast<File*>(file);
        f->base.pMethods = nullptr;
        int rc = self->real_->xOpen(self->real_, name, f->real(), flags, outFlags);
        if (rc != SQLITE_OK || f->real()->pMethods == nullptr)
            return rc;
        f->owner = self;
        std::string n = name ? name : "";
        f->wal = n.size() > 4 && n.compare(n.size() - 4, 4, "-wal") == 0;
        if (self->methods_.iVersion == 0) {
            self->methods_ = *f->real()->pMethods;
            Forward(self->methods_);
        }
        f->base.pMethods = &self->methods_;
        return SQLITE_OK;
    }

    static sqlite3_file* R(sqlite3_file* f) { return reinterpret_cast<File*>(f)->real(); }

    // Every method goes to the real file; xSync counts first.
    static void Forward(sqlite3_io_methods& m) {
        m.xClose = [](sqlite3_file* f) { return R(f)->pMethods->xClose(R(f)); };
        m.xRead = [](sqlite3_file* f, void* p, int n, sqlite3_int64 off) { return R(f)->pMethods->xRead(R(f), p, n, off); };
        m.xWrite = [](sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
            return R(f)->pMethods->xWrite(R(f), p, n, off);
        };
        m.xTruncate = [](sqlite3_file* f, sqlite3_int64 n) { return R(f)->pMethods->xTruncate(R(f), n); };
        m.xSync = [](sqlite3_file* f, int flags) {
            auto* file = reinterpret_cast<File*>(f);
            if (file->wal)
                ++file->owner->walSyncs_;
            return R(f)->pMethods->xSync(R(f), flags);
        };
        m.xFileSize = [](sqlite3_file* f, sqlite3_int64* n) { return R(f)->pMethods->xFileSize(R(f), n); };
        m.xLock = [](sqlite3_file* f, int l) { return R(f)->pMethods->xLock(R(f), l); };
        m.xUnlock = [](sqlite3_file* f, int l) { return R(f)->pMethods->xUnlock(R(f), l); };
        m.xCheckReservedLock = [](sqlite3_file* f, int* out) { return R(f)->pMethods->xCheckReservedLock(R(f), out); };
        m.xFileControl = [](sqlite3_file* f, int op, void* arg) { return R(f)->pMethods->xFileControl(R(f), op, arg); };
        m.xSectorSize = [](sqlite3_file* f) { return R(f)->pMethods->xSectorSize(R(f)); };
        m.xDeviceCharacteristics = [](sqlite3_file* f) { return R(f)->pMethods->xDeviceCharacteristics(R(f)); };
        m.xShmMap = [](sqlite3_file* f, int pg, int sz, int extend, void volatile** p) {
            return R(f)->pMethods->xShmMap(R(f), pg, sz, extend, p);
        };
        m.xShmLock = [](sqlite3_file* f, int off, int n, int flags) {
            return R(f)->pMethods->xShmLock(R(f), off, n, flags);
        };
        m.xShmBarrier = [](sqlite3_file* f) { R(f)->pMethods->xShmBarrier(R(f)); };
        m.xShmUnmap = [](sqlite3_file* f, int del) { return R(f)->pMethods->xShmUnmap(R(f), del); };
        m.xFetch = [](sqlite3_file* f, sqlite3_int64 off, int n, void** p) {
            return R(f)->pMethods->xFetch(R(f), off, n, p);
        };
        m.xUnfetch = [](sqlite3_file* f, sqlite3_int64 off, void* p) { return R(f)->pMethods->xUnfetch(R(f), off, p); };
    }

    sqlite3_vfs* real_;
    sqlite3_vfs vfs_;
    sqlite3_io_methods methods_{};
    std::atomic<int> walSyncs_{0};
};

TEST(Esql92Durability, EveryCommitOfWritesSyncsTheLog) {
    SyncCountingVfs vfs;
    TempDb f;
    Conn c(f.target(), "durable-commit");
    ASSERT_EQ(c.rc, 0) << message(c.ca);
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER)"), 0);
    ASSERT_EQ(c.commit(), 0);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(c.exec("INSERT INTO t VALUES (" + std::to_string(k) + ")"), 0);
        int before = vfs.walSyncs();
        ASSERT_EQ(c.commit(), 0) << message(c.ca);
        EXPECT_GT(vfs.walSyncs(), before) << "commit " << k << " returned before its log reached the disk";
    }
}

// A child commits rows one at a time and reports each commit on a pipe; it is killed at a
// moment that moves from round to round. Every row it reported is there afterwards.
TEST(Esql92Durability, CommittedRowsSurviveTheProcessKilled) {
    TempDb f;
    {
        Conn c(f.target(), "kill-setup");
        ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER)"), 0);
        ASSERT_EQ(c.commit(), 0);
    }
    int expected = 0;
    for (int round = 0; round < 5; ++round) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            Conn c(f.target(), "kill-child");
            for (int k = 0;; ++k) {
                if (c.exec("INSERT INTO t VALUES (" + std::to_string(k) + ")") != 0 || c.commit() != 0)
                    _exit(1);
                char one = 1;
                if (write(fds[1], &one, 1) != 1)
                    _exit(1);
            }
        }
        ::close(fds[1]);
        int reported = 0;
        char buf[64];
        while (reported < 20 + round * 15) {
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            reported += static_cast<int>(n);
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        while (true) {   // reports written before the kill
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0)
                break;
            reported += static_cast<int>(n);
        }
        ::close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own in round " << round;
        expected += reported;
        Conn c(f.target(), "kill-check");
        auto rows = c.query("SELECT count(*) FROM t");
        ASSERT_EQ(rows.size(), 1u);
        int count = std::stoi(rows[0][0]);
        // One more row may have been committed and not yet reported.
        EXPECT_GE(count, expected) << "round " << round;
        EXPECT_LE(count, expected + 1) << "round " << round;
        expected = count;
    }
}

TEST(Esql92Durability, WritesToADeletedFileAreRefused) {
    TempDb f;
    Conn c(f.target(), "deleted-file");
    ASSERT_EQ(c.exec("CREATE TABLE t (id INTEGER)"), 0);
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (1)"), 0);
    ASSERT_EQ(c.commit(), 0);
    for (const char* suffix : {"", "-wal", "-shm"})
        ::unlink((f.path() + suffix).c_str());
    ASSERT_EQ(c.exec("INSERT INTO t VALUES (2)"), 0);
    EXPECT_EQ(c.commit(), ESQL_ERR_DATABASE_GONE);
    EXPECT_EQ(state(c.ca), "08S01");
    EXPECT_NE(message(c.ca).find("deleted or replaced"), std::string::npos) << message(c.ca);
    // Reading what the connection holds goes on; a transaction without writes still ends.
    EXPECT_EQ(c.query("SELECT count(*) FROM t"), (std::vector<std::vector<std::string>>{{"1"}}));
    EXPECT_EQ(c.commit(), 0) << message(c.ca);
}

}  // namespace
