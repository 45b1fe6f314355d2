// Helpers of the agent's tests: an open agent server with one agent connection and one
// agent statement registered in the agent's tables, for tests of operations that look
// agent handles up; the records of an error list as text; a capture of log lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"
#include "util/log.h"

namespace agenttest {

// "native|state|message" per record, in order.
inline std::vector<std::string> Records(const OA_ERRLIST& list) {
    std::vector<std::string> out;
    for (const OA_ERRREC* r = list.head; r != nullptr; r = r->next)
        out.push_back(std::to_string(r->native) + "|" + r->sqlstate + "|" + r->message);
    return out;
}

// Collects "level:text" of every log line while it lives.
class LogCapture {
public:
    LogCapture() {
        sink_ = log_SinkCreate(LOG_DEBUG, -1, 0);
        sink_->write = [](LOG_SINK*, int level, const char* text) {
            std::string line(text);
            if (!line.empty() && line.back() == '\n')
                line.pop_back();
            lines_.push_back(std::to_string(level) + ":" + line);
        };
        lines_.clear();
    }
    ~LogCapture() {
        log_SinkRemove(sink_);
        std::free(sink_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    const std::vector<std::string>& lines() const { return lines_; }

private:
    LOG_SINK* sink_;
    static inline std::vector<std::string> lines_;
};

}  // namespace agenttest

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
