// The cursor library's connection bookkeeping on real agent connections of the embedded
// server: the per-server list in connect order with removal anywhere in it, the kept
// parameters (enough for a second connect, never the initial SQL), the connection's
// SCS_CONN and key-column cache, connects and disconnects on many threads, and a failed
// bookkeeping that keeps nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent_conn_fixture.h"
#include "drv_pro9/oa_services.h"
#include "esql92_fixture.h"
#include "scrs/scs_conn.h"
#include "scrs/scs_stmt.h"
#include "util/errcode.h"
#include "util/utarray.h"
#include "util/uthash.h"
#include "util/utheap.h"

namespace {

using agenttest::ConnRequest;

class ScsConn : public agenttest::AgentConnections {
protected:
    void TearDown() override {
        scs_FailConnAllocation(0);
        AgentConnections::TearDown();
    }
    // A real agent connection to the test's database as `user`, with its bookkeeping.
    uint32_t Open(const char* user, const char* password = "pw") {
        ConnRequest req;
        req.user(user).password(password).database(db.path().c_str());
        uint32_t id = Connect(req);
        EXPECT_NE(id, 0u) << lastRc;
        EXPECT_EQ(scs_ConnectBookkeeping(serverId, req.get(), id), 0);
        return id;
    }
    // The library's disconnect: bookkeeping, then the agent's.
    void Close(uint32_t id) {
        EXPECT_EQ(scs_DisconnectBookkeeping(id), 0);
        EXPECT_EQ(OA_Disconnect(id), 0);
    }
    std::string UserOf(uint32_t id) {
        const SCS_CONNINFO* info = scs_ConnInfoOf(id);
        return info != nullptr && info->user ? *info->user : "<none>";
    }

    esqltest::TempDb db;
};

// Removing any node of three keeps the others in connect order, each with its own
// parameters and server; the last removal empties the list.
TEST_F(ScsConn, RemovalFromHeadMiddleOrTailKeepsTheOrder) {
    struct Case {
        int removed;                 // index of the connection disconnected first
        std::vector<int> remaining;  // the list afterwards, by index
    };
    for (const Case& c : {Case{0, {1, 2}}, Case{1, {0, 2}}, Case{2, {0, 1}}}) {
        SCOPED_TRACE(c.removed);
        uint32_t ids[3] = {Open("u0"), Open("u1"), Open("u2")};
        ASSERT_EQ(scs_ConnListOf(serverId), (std::vector<uint32_t>{ids[0], ids[1], ids[2]}));
        for (int i = 0; i < 3; ++i) {
            ASSERT_NE(scs_FindConn(ids[i]), nullptr);
            EXPECT_EQ(scs_FindConn(ids[i])->server, serverId);
            EXPECT_EQ(UserOf(ids[i]), "u" + std::to_string(i));
        }

        Close(ids[c.removed]);
        std::vector<uint32_t> expected;
        for (int i : c.remaining)
            expected.push_back(ids[i]);
        EXPECT_EQ(scs_ConnListOf(serverId), expected);
        EXPECT_EQ(scs_FindConn(ids[c.removed]), nullptr);
        for (int i : c.remaining)
            EXPECT_EQ(UserOf(ids[i]), "u" + std::to_string(i));

        for (int i : c.remaining)
            Close(ids[i]);
        EXPECT_TRUE(scs_ConnListOf(serverId).empty());
    }
}

// The agent reuses a freed handle: the connection that gets it finds its own parameters,
// not those of the one before, whether the library's disconnect ran or the agent freed
// the connection by itself.
TEST_F(ScsConn, ReusedHandleFindsItsOwnParameters) {
    for (bool libraryDisconnect : {true, false}) {
        SCOPED_TRACE(libraryDisconnect);
        uint32_t first = Open("first");
        if (libraryDisconnect)
            Close(first);
        else
            ASSERT_EQ(OA_Disconnect(first), 0);   // the slot's release drops the record
        EXPECT_TRUE(scs_ConnListOf(serverId).empty());
        EXPECT_EQ(scs_DisconnectBookkeeping(first), ERR_INVALID_ARGUMENT_VALUE);

        uint32_t second = Open("second");
        ASSERT_EQ(second, first);
        EXPECT_EQ(UserOf(second), "second");
        EXPECT_EQ(scs_ConnListOf(serverId), std::vector<uint32_t>{second});
        Close(second);
    }
}

// Everything a second connect reads is kept: the kept request opens a second agent
// connection that behaves as the first (settings included); the initial SQL is not kept.
TEST_F(ScsConn, KeptParametersOpenASecondConnectionButNeverTheInitialSql) {
    settings.maxRows = 7;
    settings.noAutoCommit = 1;
    settings.sqlDbmsName = "OtherDbms";
    settings.dynCursSensitivity = 1;
    settings.defaultIsolation = 2;
    ConnRequest req;
    req.user("carol").password("s3cret").database(db.path().c_str()).readOnly(true);
    req.options(std::string(OA_WIDE_PREFIX, sizeof OA_WIDE_PREFIX) + "opts");
    req.get()->initSqlName = "init.sql";
    req.get()->initSqlText = "SELECT 1 FROM SYSPROGRESS.SYSCALCTABLE";
    req.get()->loginTimeout = 12;
    req.get()->narrowLatin1 = 1;
    req.get()->host = strdup("dbhost");       // freed with the request
    req.get()->extra = strdup("extra");
    req.get()->appName = strdup("app");
    req.get()->reserved = 3;
    req.get()->flag40 = 1;
    uint32_t first = Connect(req);
    ASSERT_NE(first, 0u) << lastRc;
    ASSERT_EQ(req.get()->initSqlResult, 0);   // it ran on the first connection
    ASSERT_EQ(scs_ConnectBookkeeping(serverId, req.get(), first), 0);

    const SCS_CONNINFO* info = scs_ConnInfoOf(first);
    ASSERT_NE(info, nullptr);
    OA_CONNREQ again = info->Request();
    EXPECT_EQ(again.initSqlName, nullptr);
    EXPECT_EQ(again.initSqlText, nullptr);
    EXPECT_EQ(again.loginTimeout, 12);
    EXPECT_STREQ(again.host, "dbhost");
    EXPECT_STREQ(again.extra, "extra");
    EXPECT_STREQ(again.appName, "app");
    EXPECT_EQ(again.dataSource, nullptr);     // absent stays absent
    EXPECT_EQ(again.serverType, nullptr);
    EXPECT_EQ(again.reserved, 3);
    EXPECT_EQ(again.flag40, 1);
    EXPECT_NE(again.password, req.get()->password);
    EXPECT_STREQ(again.password, "s3cret");
    EXPECT_STREQ(again.settings.sqlDbmsName, "OtherDbms");
    EXPECT_NE(again.settings.sqlDbmsName, settings.sqlDbmsName);   // a copy, not the caller's

    uint32_t second = 0;
    ASSERT_EQ(OA_Connect(serverId, &again, &second), 0);
    opened.push_back(second);
    const OA_CONN* a = oa_FindConn(first);
    const OA_CONN* b = oa_FindConn(second);
    auto facts = [](const OA_CONN* c) {
        return std::to_string(c->wide) + "|" + std::to_string(c->readOnly) + "|" + c->user + "|" + c->database +
               "|" + std::to_string(c->maxRows) + "|" + std::to_string(c->noAutoCommit) + "|" +
               std::to_string(c->dynCursSensitivity) + "|" + std::to_string(c->defaultIsolation) + "|" +
               c->driverFile + "|" + std::to_string(c->unicodeLibrary) + "|" + std::to_string(c->narrowLatin1);
    };
    EXPECT_EQ(facts(b), facts(a));
    EXPECT_EQ(b->wide, 1);
    EXPECT_EQ(b->readOnly, 1);
    EXPECT_EQ(b->maxRows, 7);
    EXPECT_EQ(b->narrowLatin1, 1);
    EXPECT_EQ(TextProperty(second, oa_InfoTextCode(17)), "OtherDbms");
    EXPECT_EQ(scs_DisconnectBookkeeping(first), 0);
}

// The connection's key-column cache starts empty and its entries (arrays of key columns)
// go with the connection, by the library's disconnect or by the agent's free.
TEST_F(ScsConn, KeyCacheEntriesAreFreedWithTheConnection) {
    for (bool libraryDisconnect : {true, false}) {
        uint32_t id = Open("keys");
        SCS_CONN* conn = scs_FindConn(id);
        ASSERT_NE(conn, nullptr);
        ASSERT_NE(conn->keyCache, nullptr);
        EXPECT_EQ(conn->keyCache->entries, 0);
        EXPECT_EQ(conn->keyCache->bucketCount, 101);
        EXPECT_EQ(conn->keyCache->keyLength, 16);
        for (char first : {'1', '2'}) {
            char table[16] = "table";           // keys are 16 bytes
            table[5] = first;
            UT_ARRAY* cols = ut_ArrayNew(sizeof(SCS_COLDESC));
            SCS_COLDESC col{};
            std::strcpy(col.column, "id");
            col.text = uh_StrDup("id");  // an element's own text goes with it
            ASSERT_EQ(ut_ArrayAppend(cols, &col), 1);
            ASSERT_NE(ut_HashPut(conn->keyCache, table, cols), nullptr);
        }
        // LeakSanitizer reports the arrays and texts if they are not freed.
        if (libraryDisconnect)
            Close(id);
        else
            ASSERT_EQ(OA_Disconnect(id), 0);
    }
}

TEST_F(ScsConn, RefusesAnUnknownConnectionOrNoRequest) {
    uint32_t id = Open("u");
    EXPECT_EQ(scs_ConnectBookkeeping(serverId, nullptr, id + 1000), ERR_INVALID_ARGUMENT_VALUE);
    ConnRequest req;
    EXPECT_EQ(scs_ConnectBookkeeping(serverId, req.get(), 0x7fff1234), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(scs_ConnectBookkeeping(serverId, nullptr, id), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(scs_DisconnectBookkeeping(0x7fff1234), ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(scs_ConnListOf(serverId), std::vector<uint32_t>{id});
    Close(id);
}

// A second bookkeeping of a connection replaces its record in place of adding one.
TEST_F(ScsConn, SecondBookkeepingReplacesTheFirst) {
    uint32_t id = Open("before");
    ConnRequest req;
    req.user("after");
    ASSERT_EQ(scs_ConnectBookkeeping(serverId, req.get(), id), 0);
    EXPECT_EQ(UserOf(id), "after");
    EXPECT_EQ(scs_ConnListOf(serverId), std::vector<uint32_t>{id});
    Close(id);
}

// Each allocation of the bookkeeping failing in turn answers 16 and keeps nothing: no
// record, no SCS_CONN, the server's list unchanged; the caller then disconnects.
TEST_F(ScsConn, FailedBookkeepingAnswersMemoryErrorAndKeepsNothing) {
    uint32_t kept = Open("kept");
    int failures = 0;
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        ConnRequest req;
        req.user("failing").password("pw").database(db.path().c_str());
        uint32_t id = Connect(req);
        ASSERT_NE(id, 0u);
        scs_FailConnAllocation(n);
        int rc = scs_ConnectBookkeeping(serverId, req.get(), id);
        scs_FailConnAllocation(0);
        if (rc == 0) {
            Close(id);
            break;
        }
        ++failures;
        EXPECT_EQ(rc, ERR_MEMORY_ALLOCATION_FAILURE);
        EXPECT_EQ(scs_FindConn(id), nullptr);
        EXPECT_EQ(scs_ConnInfoOf(id), nullptr);
        EXPECT_EQ(scs_ConnListOf(serverId), std::vector<uint32_t>{kept});
        EXPECT_EQ(oa_ConnLibState(id)->state, nullptr);
        EXPECT_EQ(OA_Disconnect(id), 0);
        ASSERT_LT(n, 20);
    }
    EXPECT_GE(failures, 4);   // record, SCS_CONN, key cache, list node
    EXPECT_EQ(UserOf(kept), "kept");
    Close(kept);
}

// Threads connect and disconnect at once on one server, half of them by the library's
// disconnect and half by the agent's free, while reading the server's list (ThreadSanitizer
// watches the lists). The agent's calls, and the bookkeeping inside them, take turns as the
// driver's database lock makes them; the list is read outside that turn.
TEST_F(ScsConn, ThreadsConnectAndDisconnectAtOnce) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 15;
    std::mutex agentTurn;
    std::vector<int> errors(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string user = "user" + std::to_string(t);
            for (int r = 0; r < kRounds; ++r) {
                ConnRequest req;
                req.user(user.c_str()).password("pw").database(db.path().c_str());
                uint32_t id = 0;
                {
                    std::lock_guard<std::mutex> turn(agentTurn);
                    if (OA_Connect(serverId, req.get(), &id) != 0 ||
                        scs_ConnectBookkeeping(serverId, req.get(), id) != 0) {
                        ++errors[t];
                        continue;
                    }
                }
                std::vector<uint32_t> list = scs_ConnListOf(serverId);
                if (std::find(list.begin(), list.end(), id) == list.end())
                    ++errors[t];
                std::lock_guard<std::mutex> turn(agentTurn);
                const SCS_CONNINFO* info = scs_ConnInfoOf(id);
                if (info == nullptr || !info->user || *info->user != user)
                    ++errors[t];
                if ((r + t) % 2 == 0 && scs_DisconnectBookkeeping(id) != 0)
                    ++errors[t];
                if (OA_Disconnect(id) != 0)   // the slot's release, when the library did not
                    ++errors[t];
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(errors, std::vector<int>(kThreads, 0));
    EXPECT_TRUE(scs_ConnListOf(serverId).empty());
}

}  // namespace
