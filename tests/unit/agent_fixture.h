// An open agent server with one agent connection and one agent statement registered in
// the agent's tables, for tests of operations that look agent handles up.
#pragma once

#include <gtest/gtest.h>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"

class AgentHandles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OA_OpenServer(nullptr, &serverId), 0);
        server = oa_FindServer(serverId);
        conn.server = server;
        ASSERT_EQ(hdl_Add(&Agent().conns, &connId, &conn), 0);
        conn.handle = connId;
        stmt.conn = &conn;
        ASSERT_EQ(hdl_Add(&Agent().stmts, &stmtId, &stmt), 0);
    }
    void TearDown() override {
        hdl_Remove(&Agent().stmts, stmtId);
        hdl_Remove(&Agent().conns, connId);
        EXPECT_EQ(OA_CloseServer(serverId), 0);
        EXPECT_EQ(Agent().serverRefs, 0);
    }

    uint32_t serverId = 0;
    uint32_t connId = 0;
    uint32_t stmtId = 0;
    OA_SERVER* server = nullptr;
    OA_CONN conn;
    OA_STMT stmt;
};
