// The connection record against a scripted agent: allocation, open with its requests and
// capability flags, every failure giving the agent back what it handed out, close, free,
// and the end of transactions.
#include <gtest/gtest.h>

#include <sqlext.h>

#include <future>

#include "conn_fixture.h"
#include "driver/handlers/lifecycle.h"
#include "util/errcode.h"

using namespace conn_fixture;

namespace {

const std::vector<std::string> kMaskCalls = {"GetProperty 22010011"};

TEST_F(ConnTest, NewConnectionDefaults) {
    EXPECT_EQ(conn->state, CONN_ALLOCATED);
    EXPECT_EQ(conn->flags & CONN_FLAG_AUTOCOMMIT, CONN_FLAG_AUTOCOMMIT);
    EXPECT_EQ(conn->loginTimeout, 120u);
    EXPECT_EQ(HandleFromId(conn->id) != nullptr, true);
    EXPECT_EQ(conn->id >> 16, 2u);
    EXPECT_EQ(conn->infoI32[0], -1);
    EXPECT_EQ(conn->infoU16[39], 0xFFFF);
    CONN* second = NewConn();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->sequenceId, conn->sequenceId + 1);
    EXPECT_EQ(envr->conns, second);  // newest first
    EXPECT_EQ(second->next, conn);

    EXPECT_EQ(DoAllocConnect(envr, OutHandleArgs{nullptr}), SQL_ERROR);
    EXPECT_EQ(envr->diag.errCode, ERR_INVALID_ARGUMENT_VALUE);
}

TEST_F(ConnTest, OpenAsksTheAgentInOrder) {
    fake.props = {{OA_PROP_CAPABILITIES, 0x1FF}, {OA_PROP_TXN_ISOLATION, 2}};
    conn->user = "ann";
    conn->cn_dbpath = "/data/x.db";
    conn->cn_dbopts = "-H h -S 1";
    conn->flags |= CONN_FLAG_READ_ONLY;
    ConnOpen(conn, 'A');
    ASSERT_EQ(conn->state, CONN_CONNECTED);
    EXPECT_EQ(conn->diag.errCode, 0);
    EXPECT_EQ(conn->agentServer, kFakeServer);
    EXPECT_EQ(conn->agentConn, kFakeConn);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"OpenServer", "Connect", "GetOpTable", "GetProperty 22010011",
                                                     "GetProperty 2203006C", "SetProperty 2201000C=3"}));
    EXPECT_EQ(fake.request["options"], std::nullopt);
    EXPECT_EQ(fake.request["dataSource"], "Default");
    EXPECT_EQ(fake.request["database"], "/data/x.db");
    EXPECT_EQ(fake.request["dbOptions"], "-H h -S 1");
    EXPECT_EQ(fake.request["user"], "ann");
    EXPECT_EQ(fake.request["password"], "");  // an empty text, never null
    EXPECT_EQ(fake.request["host"], std::nullopt);
    EXPECT_EQ(fake.requestReadOnly, 1);
    EXPECT_EQ(fake.requestLoginTimeout, 99);
    EXPECT_EQ(conn->typeTable.valid, 1);
    EXPECT_EQ(conn->typeTable.table.count, OA_CONVTABLE_ROWS);
    EXPECT_EQ(conn->defaultIsolation, 2u);
    for (int32_t f : {conn->cn_needbind, conn->cn_hasMoreRes, conn->cn_hasParamOp, conn->cn_hasScrlCurs,
                      conn->cn_hasDynMixCurs, conn->cn_hasV2DAE, conn->cn_spOutDeferFetch, conn->cn_hasExecute2})
        EXPECT_EQ(f, 1);
    EXPECT_EQ(conn->agentConversions, 0);

    // A second open of a connected connection is a sequence error and asks nothing.
    ConnOpen(conn, 'A');
    EXPECT_EQ(conn->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_TRUE(TakeCalls().empty());
}

TEST_F(ConnTest, WideOpenPrefixesTheAgentOptionsAndAsksForWideTypes) {
    struct Case {
        std::optional<int32_t> wideTypes;  // nullopt: the agent cannot tell
        int32_t narrowPieces;
    } cases[] = {{1, 0}, {0, 1}, {std::nullopt, 1}};
    for (const Case& c : cases) {
        fake.props = {{OA_PROP_CAPABILITIES, 0}};
        if (c.wideTypes)
            fake.props[OA_PROP_WIDE] = *c.wideTypes;
        conn->agentOptions = "opt";
        ConnOpen(conn, 'W');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        EXPECT_EQ(fake.request["options"], std::string("W\x7F\x01\x01opt"));
        EXPECT_EQ(conn->narrowWidePieces, c.narrowPieces);
        ASSERT_EQ(ConnClose(conn), 0);
    }
}

// The autocommit flag follows the agent, whatever the flag said before the open.
TEST_F(ConnTest, CapabilitiesFromTheMaskOrOnePropertyEach) {
    struct Case {
        std::map<uint32_t, int32_t> props;
        std::vector<std::string> reads;
        int32_t scrl, execute2, autocommit;
    } cases[] = {
        {{{OA_PROP_CAPABILITIES, 0x108}}, kMaskCalls, 1, 0, 1},
        {{{OA_PROP_CAPABILITIES, 0x80}}, kMaskCalls, 0, 1, 0},
        // Without a mask: one question per flag, autocommit from the attribute.
        {{{OA_PROP_HAS_SCROLL_CURSORS, 1}, {OA_PROP_AUTOCOMMIT, 1}},
         {"GetProperty 22010011", "GetProperty 22010002", "GetProperty 22010003", "GetProperty 22010004",
          "GetProperty 22010006", "GetProperty 22010008", "GetProperty 2201000A", "GetProperty 22010005",
          "GetProperty 2201000E", "GetProperty 22030000"},
         1, 0, 1},
        {{{OA_PROP_HAS_EXECUTE2, 7}}, {}, 0, 1, 0},
    };
    for (const Case& c : cases) {
        fake.props = c.props;
        conn->flags ^= CONN_FLAG_AUTOCOMMIT;  // starts opposite to what the agent will say
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        std::vector<std::string> calls = TakeCalls();
        std::vector<std::string> reads(calls.begin() + 3, calls.end() - 2);  // after the type table
        if (!c.reads.empty()) {
            EXPECT_EQ(reads, c.reads);
        }
        EXPECT_EQ(conn->cn_hasScrlCurs, c.scrl);
        EXPECT_EQ(conn->cn_hasExecute2, c.execute2);
        EXPECT_EQ((conn->flags & CONN_FLAG_AUTOCOMMIT) != 0, c.autocommit == 1);
        ASSERT_EQ(ConnClose(conn), 0);
        TakeCalls();
    }
}

TEST_F(ConnTest, RequestedAgentFlagsAndIsolation) {
    struct Case {
        uint16_t flags;
        uint32_t isolation;
        bool setFails;
        std::vector<std::string> tail;  // the calls after the capability mask
        uint32_t isolationAfter;
    } cases[] = {
        {CONN_FLAG_SET_AGENT_0F | CONN_FLAG_SET_AGENT_16, 8, false,
         {"SetProperty 2201000F=1", "SetProperty 22010016=1", "SetProperty 2203006C=8", "SetProperty 2201000C=3"}, 8},
        // A refused isolation is read back from the agent.
        {0, 8, true, {"SetProperty 2203006C=8", "GetProperty 2203006C", "SetProperty 2201000C=3"}, 4},
        {0, 0, false, {"GetProperty 2203006C", "SetProperty 2201000C=3"}, 4},
    };
    for (const Case& c : cases) {
        fake.props = {{OA_PROP_CAPABILITIES, 0}, {OA_PROP_TXN_ISOLATION, 4}};
        fake.setFails.clear();
        if (c.setFails)
            fake.setFails[OA_PROP_TXN_ISOLATION] = 15;
        conn->flags = c.flags;
        conn->defaultIsolation = c.isolation;
        ConnOpen(conn, 'A');
        ASSERT_EQ(conn->state, CONN_CONNECTED);
        std::vector<std::string> calls = TakeCalls();
        EXPECT_EQ(std::vector<std::string>(calls.begin() + 4, calls.end()), c.tail);
        EXPECT_EQ(conn->defaultIsolation, c.isolationAfter);
        ASSERT_EQ(ConnClose(conn), 0);
        TakeCalls();
    }
}

// Every failure leaves the connection unconnected with a code, and gives back the server
// handle and the agent connection that were made before it.
TEST_F(ConnTest, FailedOpenGivesEverythingBack) {
    struct Case {
        const char* name;
        std::function<void(FakeAgent&)> script;
        int code;
        std::vector<std::string> messages;
        std::vector<std::string> calls;
    } cases[] = {
        {"bind", [](FakeAgent&) { g_bindRc = 15; }, ERR_CONNECTION_REJECTED_BY_DATA_SOURCE,
         {"Unable to initialize driver"}, {}},
        {"server", [](FakeAgent& f) { f.openServerRc = 16; }, ERR_CONNECTION_REJECTED_BY_DATA_SOURCE,
         {"Unable to allocate server handle"}, {"OpenServer"}},
        {"connect",
         [](FakeAgent& f) {
             f.connectRc = 50;
             f.errors[kFakeServer] = {"[Progress Server]no such database[SQLSTATE:08001]"};
         },
         50, {"[Progress Server]no such database[SQLSTATE:08001]"}, {"OpenServer", "Connect", "CloseServer"}},
        {"version",
         [](FakeAgent& f) {
             f.setFails[OA_PROP_ODBC_VERSION] = 43;
             f.errors[kFakeConn] = {"version refused"};
         },
         43, {"version refused"},
         {"OpenServer", "Connect", "GetOpTable", "GetProperty 22010011", "GetProperty 2203006C",
          "SetProperty 2201000C=3", "Disconnect", "CloseServer"}},
    };
    for (const Case& c : cases) {
        fake = FakeAgent{};
        fake.props = {{OA_PROP_CAPABILITIES, 0}};
        g_bindRc = 0;
        ErrListFree(conn->diag);
        c.script(fake);
        ConnOpen(conn, 'A');
        EXPECT_EQ(conn->state, CONN_ALLOCATED) << c.name;
        EXPECT_EQ(conn->diag.errCode, c.code) << c.name;
        EXPECT_EQ(Messages(conn->diag), c.messages) << c.name;
        EXPECT_EQ(fake.calls, c.calls) << c.name;
        EXPECT_EQ(fake.serversOpen, 0) << c.name;
        EXPECT_EQ(conn->agentServer, 0u) << c.name;
        EXPECT_EQ(conn->agentConn, 0u) << c.name;
    }
    // The type table is optional: without it the connect still succeeds.
    fake = FakeAgent{};
    g_bindRc = 0;
    fake.typeTableRc = 43;
    ConnOpen(conn, 'A');
    EXPECT_EQ(conn->state, CONN_CONNECTED);
    EXPECT_EQ(conn->typeTable.valid, 0);
}

TEST_F(ConnTest, CloseDisconnectsOrStaysConnected) {
    fake.props = {{OA_PROP_CAPABILITIES, 0}};
    ConnOpen(conn, 'A');
    ASSERT_EQ(conn->state, CONN_CONNECTED);
    conn->currentCatalog = "cat";
    conn->infoI32[5] = 7;
    TakeCalls();

    // A refused disconnect keeps the connection connected, with the agent's words.
    fake.disconnectRc = 54;
    fake.errors[kFakeConn] = {"link down"};
    EXPECT_EQ(ConnClose(conn), 54);
    EXPECT_EQ(conn->state, CONN_CONNECTED);
    EXPECT_EQ(conn->agentConn, kFakeConn);
    EXPECT_EQ(fake.serversOpen, 1);
    EXPECT_EQ(Messages(conn->diag), std::vector<std::string>{"link down"});
    EXPECT_EQ(conn->currentCatalog, "cat");
    EXPECT_EQ(DoDisconnect(conn, NoArgs{}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, 54);

    fake.disconnectRc = 0;
    TakeCalls();
    EXPECT_EQ(DoDisconnect(conn, NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Disconnect", "CloseServer"}));
    EXPECT_EQ(conn->state, CONN_ALLOCATED);
    EXPECT_EQ(conn->agentServer, 0u);
    EXPECT_EQ(conn->typeTable.valid, 0);
    EXPECT_EQ(conn->currentCatalog, "cat");  // the application's setting, for the next connect
    EXPECT_EQ(conn->infoI32[5], -1);
    EXPECT_EQ(fake.serversOpen, 0);

    // Not connected: refused, and the agent is not asked.
    EXPECT_EQ(DoDisconnect(conn, NoArgs{}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_NOT_OPEN);
    EXPECT_TRUE(TakeCalls().empty());
}

// A connected connection is not freed: that would end its transaction without a word.
TEST_F(ConnTest, FreeRefusesAConnectedConnectionAndUnregistersADisconnectedOne) {
    const auto freeRec = MakeCall<DoFreeConnect>("FreeHandle", "", 1, CALL_KIND_DBC);
    const auto disconnectRec = MakeCall<DoDisconnect>("Disconnect", "", 1, CALL_KIND_DBC);
    fake.props = {{OA_PROP_CAPABILITIES, 0}};
    ConnOpen(conn, 'A');
    uint32_t id = conn->id;
    TakeCalls();
    EXPECT_EQ(CallODBC(freeRec, HandleFromId(id), NoArgs{}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);
    EXPECT_EQ(conn->state, CONN_CONNECTED);
    EXPECT_TRUE(TakeCalls().empty());
    EXPECT_EQ(CallODBC(disconnectRec, HandleFromId(id), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Disconnect", "CloseServer"}));
    EXPECT_EQ(CallODBC(freeRec, HandleFromId(id), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(hdl_Lookup(&Drv().connTable, id), nullptr);
    EXPECT_EQ(envr->conns, nullptr);
    EXPECT_EQ(CallODBC(freeRec, HandleFromId(id), NoArgs{}), SQL_INVALID_HANDLE);
}

TEST_F(ConnTest, EndTransaction) {
    struct Case {
        bool connected;
        int type;
        int agentRc;
        SQLRETURN rc;
        int code;
        std::vector<std::string> calls;
    } cases[] = {
        {true, SQL_COMMIT, 0, SQL_SUCCESS, 0, {"Commit"}},
        {true, SQL_ROLLBACK, 0, SQL_SUCCESS, 0, {"Rollback"}},
        {true, SQL_ROLLBACK, 70, SQL_ERROR, 70, {"Rollback"}},
        {true, 2, 0, SQL_ERROR, ERR_INVALID_TRANSACTION_OPERATION_CODE, {}},
        {false, SQL_COMMIT, 0, SQL_ERROR, ERR_CONNECTION_NOT_OPEN, {}},
        {false, 2, 0, SQL_ERROR, ERR_CONNECTION_NOT_OPEN, {}},
    };
    fake.props = {{OA_PROP_CAPABILITIES, 0}};
    for (const Case& c : cases) {
        if (c.connected && conn->state != CONN_CONNECTED)
            ConnOpen(conn, 'A');
        if (!c.connected && conn->state == CONN_CONNECTED) {
            ASSERT_EQ(ConnClose(conn), 0);
        }
        TakeCalls();
        ErrListFree(conn->diag);
        fake.commitRc = fake.rollbackRc = c.agentRc;
        if (c.agentRc != 0)
            fake.errors[kFakeConn] = {"serialization failure"};
        EXPECT_EQ(DoTransactConn(conn, TransactArgs{static_cast<SQLUSMALLINT>(c.type)}), c.rc) << c.type;
        EXPECT_EQ(conn->diag.errCode, c.code) << c.type;
        EXPECT_EQ(TakeCalls(), c.calls) << c.type;
        EXPECT_EQ(conn->diag.messages.size(), c.agentRc != 0 ? 1u : 0u);
    }
}

// Ending the environment's transactions ends them on each connected connection; one
// merely allocated has none and is no failure. A failing one does not stop the walk, and
// each connection keeps the diagnostics it had.
TEST_F(ConnTest, EnvironmentTransactionWalksTheConnectedConnections) {
    fake.props = {{OA_PROP_CAPABILITIES, 0}};
    CONN* idle = NewConn();
    CONN* second = NewConn();
    ConnOpen(conn, 'A');
    ConnOpen(second, 'A');
    conn->diag.errCode = ERR_DATA_WAS_TRUNCATED;  // left by an earlier call
    TakeCalls();
    std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
    EXPECT_EQ(DoTransactEnv(envr, TransactArgs{SQL_COMMIT}), SQL_SUCCESS);
    EXPECT_EQ(envr->diag.errCode, 0);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Commit", "Commit"}));

    fake.commitRc = 70;
    EXPECT_EQ(DoTransactEnv(envr, TransactArgs{SQL_COMMIT}), SQL_ERROR);
    EXPECT_EQ(envr->diag.errCode, 70);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Commit", "Commit"}));
    EXPECT_EQ(conn->diag.errCode, ERR_DATA_WAS_TRUNCATED);
    EXPECT_EQ(second->diag.errCode, 0);
    EXPECT_EQ(idle->diag.errCode, 0);
}

// Freeing the environment disconnects every connection it still has.
TEST_F(ConnTest, FreeingTheEnvironmentDisconnectsItsConnections) {
    fake.props = {{OA_PROP_CAPABILITIES, 0}};
    CONN* second = NewConn();
    ConnOpen(conn, 'A');
    ConnOpen(second, 'A');
    EXPECT_EQ(fake.serversOpen, 2);
    std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
    EXPECT_EQ(DoFreeEnv(envr, NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(fake.serversOpen, 0);
}

// An environment that goes takes its connections with it even when the agent refuses a
// disconnect: the server reference is given back all the same.
TEST_F(ConnTest, FreeingTheEnvironmentGivesBackWhatARefusingConnectionHolds) {
    fake.props = {{OA_PROP_CAPABILITIES, 0}};
    ConnOpen(conn, 'A');
    ASSERT_EQ(conn->state, CONN_CONNECTED);
    fake.disconnectRc = 70;
    TakeCalls();
    std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
    EXPECT_EQ(DoFreeEnv(envr, NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Disconnect", "CloseServer"}));
    EXPECT_EQ(fake.serversOpen, 0);
    envr = nullptr;
    conn = nullptr;
}

}  // namespace
