// Agent connections opened through OA_Connect for tests: a connect request that owns its
// texts as the ODBC side's does, and a fixture with an open server that disconnects what a
// test left open and hands its connection settings to every connect.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "agent_fixture.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_optable.h"
#include "drv_pro9/oa_props.h"

namespace agenttest {

// A connect request whose texts are C heap, freed with it (the agent may have filled the
// missing ones).
class ConnRequest {
public:
    ConnRequest() { std::memset(&req_, 0, sizeof req_); }
    ~ConnRequest() {
        for (char* p : {req_.host, req_.options, req_.serverType, req_.database, req_.dataSource, req_.dbOptions,
                        req_.user, req_.password, req_.extra, req_.appName})
            std::free(p);
    }
    ConnRequest(const ConnRequest&) = delete;
    ConnRequest& operator=(const ConnRequest&) = delete;

    OA_CONNREQ* get() { return &req_; }
    ConnRequest& user(const char* v) { return set(req_.user, v); }
    ConnRequest& password(const char* v) { return set(req_.password, v); }
    ConnRequest& database(const char* v) { return set(req_.database, v); }
    ConnRequest& dbOptions(const char* v) { return set(req_.dbOptions, v); }
    ConnRequest& readOnly(bool v) {
        req_.readOnly = v ? 1 : 0;
        return *this;
    }
    // Bytes, so that the wide prefix and its shorter forms can be given.
    ConnRequest& options(const std::string& v) {
        std::free(req_.options);
        req_.options = static_cast<char*>(std::calloc(v.size() + 1, 1));
        std::memcpy(req_.options, v.data(), v.size());
        return *this;
    }

private:
    ConnRequest& set(char*& field, const char* v) {
        std::free(field);
        field = v != nullptr ? strdup(v) : nullptr;
        return *this;
    }
    OA_CONNREQ req_;
};

// An open server; connections made through Connect are closed at the end.
class AgentConnections : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(OA_OpenServer(nullptr, &serverId), 0);
    }
    void TearDown() override {
        for (uint32_t id : opened)
            OA_Disconnect(id);   // 21 for those a test closed itself
        EXPECT_EQ(OA_CloseServer(serverId), 0);
        EXPECT_EQ(Agent().serverRefs, 0);
    }

    // A connection for the request, which carries the fixture's settings and library; 0
    // when the connect failed (its code in lastRc).
    uint32_t Connect(ConnRequest& req) {
        req.get()->settings = settings;
        req.get()->driverFile = driverFile;
        req.get()->unicodeLibrary = unicodeLibrary;
        uint32_t id = 0;
        lastRc = OA_Connect(serverId, req.get(), &id);
        if (lastRc == 0)
            opened.push_back(id);
        return id;
    }
    uint32_t Connect() {
        ConnRequest req;
        req.user("alice").password("secret").database("mydb");
        return Connect(req);
    }

    int32_t IntProperty(uint32_t handle, uint32_t code) {
        int32_t v = -12345;
        EXPECT_EQ(OA_GetProperty(handle, code, &v, sizeof v, nullptr), 0) << std::hex << code;
        return v;
    }
    std::string TextProperty(uint32_t handle, uint32_t code) {
        char buf[256] = "?";
        EXPECT_EQ(OA_GetProperty(handle, code, buf, sizeof buf, nullptr), 0) << std::hex << code;
        return buf;
    }
    int SetInt(uint32_t handle, uint32_t code, int32_t value) { return OA_SetProperty(handle, code, &value); }

    OA_CONNSETTINGS settings{};   // what the next connects are configured with
    // The library the next connects come through: the Unicode one unless a test says.
    const char* driverFile = "libvarnodw.so";
    int32_t unicodeLibrary = 1;
    uint32_t serverId = 0;
    std::vector<uint32_t> opened;
    int lastRc = 0;
};

}  // namespace agenttest
