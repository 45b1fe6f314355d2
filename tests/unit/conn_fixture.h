// A scripted agent operation table for the connection tests, a private odbc.ini for the
// whole test process, and a fixture with an environment and one connection.
//
// The scripted table records every slot call in order ("Connect", "GetProperty 22010011",
// "SetProperty 2201000C=3", ...) and answers what the test put in FakeAgent. The private
// configuration is written before anything in the process reads it: the installer library
// fixes its files at first use.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/library/library.h"
#include "driver/handlers/lifecycle.h"
#include "driver/objects/conn.h"
#include "driver/objects/connconf.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "drv_pro9/oa_optable.h"
#include "platform/dlgkit/dlgkit.h"
#include "trace_support.h"

namespace conn_fixture {

constexpr uint32_t kFakeServer = 0xAAAA0001;
constexpr uint32_t kFakeConn = 0xBBBB0001;

// What the scripted agent answers, and what it was asked.
struct FakeAgent {
    std::vector<std::string> calls;
    int openServerRc = 0;
    int connectRc = 0;
    int disconnectRc = 0;
    int commitRc = 0;
    int rollbackRc = 0;
    int typeTableRc = 0;
    // Readable properties: code -> value, or code -> text (copied as the agent does: cut to
    // the buffer, the full length reported). Any other code answers 43.
    std::map<uint32_t, int32_t> props;
    std::map<uint32_t, std::string> textProps;
    // Failing property sets: code -> code returned. Any other set answers 0.
    std::map<uint32_t, int> setFails;
    // Queued messages per agent handle, taken by slot 2; the sets of texts slot 2 handed
    // out and those given back through their release function.
    std::map<uint32_t, std::vector<std::string>> errors;
    int errorSetsOut = 0;
    int errorSetsReleased = 0;
    int serversOpen = 0;
    // Copy of the last connect request; a null member stays nullopt.
    std::map<std::string, std::optional<std::string>> request;
    int32_t requestReadOnly = -1;
    int16_t requestLoginTimeout = -1;
    OA_CONNSETTINGS requestSettings{};
    std::optional<std::string> requestDriverFile;
    int32_t requestUnicodeLibrary = -1;
    std::optional<std::string> requestDbmsName;
    // Slot 38's answers in order (22, S1010, once they run out), and what slot 39 was sent
    // with the code it answers.
    struct ParamDataAnswer {
        int rc;
        int32_t param = -1;
        int32_t row = 0;
    };
    std::vector<ParamDataAnswer> paramDataAnswers;
    struct PutDataSent {
        int16_t type;
        int16_t indicator;
        bool nullData;
        std::string bytes;
        bool operator==(const PutDataSent&) const = default;
    };
    std::vector<PutDataSent> putDataSent;
    int putDataRc = 0;
    std::function<void()> onConnect;    // runs inside slot 5
    std::function<void()> onTypeTable;  // runs inside slot 23, once the connection is up
};

inline FakeAgent* g_fake = nullptr;

inline std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", v);
    return buf;
}

inline std::optional<std::string> Opt(const char* s) {
    return s != nullptr ? std::optional<std::string>(s) : std::nullopt;
}

inline int FakeGetProperty(uint32_t, uint32_t code, void* buf, int32_t bufLen, int32_t* outLen) {
    g_fake->calls.push_back("GetProperty " + Hex(code));
    if (auto t = g_fake->textProps.find(code); t != g_fake->textProps.end()) {
        const std::string& text = t->second;
        if (buf != nullptr && bufLen > 0) {
            size_t n = std::min(text.size(), static_cast<size_t>(bufLen - 1));
            std::memcpy(buf, text.data(), n);
            static_cast<char*>(buf)[n] = '\0';
        }
        if (outLen != nullptr)
            *outLen = static_cast<int32_t>(text.size());
        return 0;
    }
    auto it = g_fake->props.find(code);
    if (it == g_fake->props.end())
        return 43;
    std::memcpy(buf, &it->second, sizeof(int32_t));
    if (outLen != nullptr)
        *outLen = 4;
    return 0;
}

inline int FakeSetProperty(uint32_t, uint32_t code, const void* value) {
    int32_t v = 0;
    std::memcpy(&v, value, sizeof v);
    g_fake->calls.push_back("SetProperty " + Hex(code) + "=" + std::to_string(v));
    auto it = g_fake->setFails.find(code);
    return it == g_fake->setFails.end() ? 0 : it->second;
}

inline void FakeReleaseErrors(OA_ERRTEXTS* texts) {
    ++g_fake->errorSetsReleased;
    for (int32_t i = 0; i < texts->count; ++i)
        std::free(texts->texts[i]);
    std::free(texts->texts);
    std::free(texts->natives);
    *texts = OA_ERRTEXTS{};
}

inline int FakeGetErrors(uint32_t handle, OA_ERRTEXTS* out) {
    ++g_fake->errorSetsOut;
    out->release = FakeReleaseErrors;
    auto& q = g_fake->errors[handle];
    out->count = static_cast<int32_t>(q.size());
    out->native = 0;
    out->texts = q.empty() ? nullptr : static_cast<char**>(std::calloc(q.size(), sizeof(char*)));
    out->natives = q.empty() ? nullptr : static_cast<int32_t*>(std::calloc(q.size(), sizeof(int32_t)));
    for (size_t i = 0; i < q.size(); ++i) {
        out->texts[i] = strdup(q[i].c_str());
        out->natives[i] = static_cast<int32_t>(100 + i);
    }
    q.clear();
    return 0;
}

inline int FakeOpenServer(const OA_SERVERREQ*, uint32_t* out) {
    g_fake->calls.push_back("OpenServer");
    if (g_fake->openServerRc != 0)
        return g_fake->openServerRc;
    ++g_fake->serversOpen;
    *out = kFakeServer;
    return 0;
}

inline int FakeCloseServer(uint32_t server) {
    g_fake->calls.push_back("CloseServer");
    if (server == kFakeServer)
        --g_fake->serversOpen;
    return 0;
}

inline int FakeConnect(uint32_t, OA_CONNREQ* req, uint32_t* out) {
    g_fake->calls.push_back("Connect");
    FakeAgent& f = *g_fake;
    f.request = {{"host", Opt(req->host)},           {"options", Opt(req->options)},
                 {"serverType", Opt(req->serverType)}, {"database", Opt(req->database)},
                 {"dataSource", Opt(req->dataSource)}, {"dbOptions", Opt(req->dbOptions)},
                 {"user", Opt(req->user)},           {"password", Opt(req->password)},
                 {"extra", Opt(req->extra)},         {"appName", Opt(req->appName)}};
    f.requestReadOnly = req->readOnly;
    f.requestLoginTimeout = req->loginTimeout;
    f.requestSettings = req->settings;
    f.requestDriverFile = Opt(req->driverFile);
    f.requestUnicodeLibrary = req->unicodeLibrary;
    f.requestDbmsName = Opt(req->settings.sqlDbmsName);
    f.requestSettings.sqlDbmsName = nullptr;  // the request's own text goes with it
    if (f.onConnect)
        f.onConnect();
    // As the agent does: missing texts become empty ones of its own, for the owner to free.
    if (req->database == nullptr)
        req->database = strdup("");
    if (f.connectRc != 0)
        return f.connectRc;
    *out = kFakeConn;
    return 0;
}

inline int FakeDisconnect(uint32_t) {
    g_fake->calls.push_back("Disconnect");
    return g_fake->disconnectRc;
}

inline int FakeCommit(uint32_t) {
    g_fake->calls.push_back("Commit");
    return g_fake->commitRc;
}

inline int FakeRollback(uint32_t) {
    g_fake->calls.push_back("Rollback");
    return g_fake->rollbackRc;
}

inline int FakeTypeTable(uint32_t, OA_TYPETABLEREQ* req) {
    g_fake->calls.push_back("GetOpTable");
    if (g_fake->onTypeTable)
        g_fake->onTypeTable();
    if (g_fake->typeTableRc != 0)
        return g_fake->typeTableRc;
    req->rows = OA_CONVTABLE;
    req->count = OA_CONVTABLE_ROWS;
    return 0;
}

inline int FakeParamData(uint32_t, int32_t* param, int32_t* row, uint16_t** rowStatus, int32_t* status) {
    g_fake->calls.push_back("ParamData");
    *rowStatus = nullptr;
    *status = 0;
    auto& q = g_fake->paramDataAnswers;
    if (q.empty())
        return 22;
    FakeAgent::ParamDataAnswer a = q.front();
    q.erase(q.begin());
    *param = a.param;
    *row = a.row;
    return a.rc;
}

inline int FakePutData(uint32_t, int16_t type, int16_t indicator, const void* data, uint32_t length) {
    g_fake->calls.push_back("PutData");
    g_fake->putDataSent.push_back({type, indicator, data == nullptr,
                                   data != nullptr ? std::string(static_cast<const char*>(data), length) : ""});
    return g_fake->putDataRc;
}

inline const OA_OPTABLE kFakeTable = [] {
    OA_OPTABLE t{};
    t.DRV_GetProperty = FakeGetProperty;
    t.DRV_SetProperty = FakeSetProperty;
    t.DRV_GetErrors = FakeGetErrors;
    t.DRV_OpenServer = FakeOpenServer;
    t.DRV_CloseServer = FakeCloseServer;
    t.DRV_Connect = FakeConnect;
    t.DRV_Disconnect = FakeDisconnect;
    t.DRV_Commit = FakeCommit;
    t.DRV_Rollback = FakeRollback;
    t.GetOpTable = FakeTypeTable;
    t.DRV_ParamData = FakeParamData;
    t.DRV_PutData = FakePutData;
    return t;
}();

inline int g_bindRc = 0;
inline int FakeBind(OA_OPHOLDER* holder) {
    holder->state = 0;
    holder->ops = g_bindRc == 0 ? &kFakeTable : nullptr;
    return g_bindRc;
}

// The unit tests' own configuration: written once, before any test reads it.
inline const char kOdbcIni[] =
    "[ODBC Data Sources]\n"
    "Sales = Tessaryn Vell for Progress 11 SQL-92 (Unicode)\n"
    "\n"
    "[Sales]\n"
    "UID = ann\n"
    "PWD = salespwd\n"
    "DatabaseName = /data/sales.db\n"
    "HostName = dbhost\n"
    "Port = 2500\n"
    "ReadOnly = Yes\n"
    "FetchBufferSize = 100\n"
    "DefaultTxnIso = Serializable\n"
    "\n"
    "[NoUser]\n"
    "UID =\n"
    "LastUser = lastann\n"
    "DatabaseName = /data/nouser.db\n"
    "\n"
    "[Empty]\n"
    "DatabaseName = /data/empty.db\n"
    "\n"
    "[Quiet]\n"
    "UID = quietuser\n"
    "DatabaseName = /data/quiet.db\n"
    "\n"
    "[Long]\n"
    "UID = zo\xc3\xab\xf0\x9f\x98\x80\n"
    "DatabaseName = /0123456789/0123456789/0123456789/0123456789/0123456789/0123456789/0123456789/"
    "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9.db\n"
    "\n"
    "[XaSales]\n"
    "Driver = /opt/tessaryn/lib/libVarnodW.so\n"
    "XaInfo = sales-xa\n"
    "\n"
    "[XaNamed]\n"
    "Driver = Xa Test Driver\n"
    "\n"
    "[XaNoDriver]\n"
    "XaInfo = nodriver-xa\n"
    "\n"
    "[Default]\n"
    "UID = defuser\n"
    "PWD = defpwd\n"
    "DatabaseName = /data/default.db\n"
    "FetchBufferSize = 20\n";

class PrivateOdbcIni : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<trace_support::TempDir>();
        // Two XaInfo values at the edge of the 256-byte buffer: one that fits, one that does not.
        trace_support::WriteFile(*dir_ / "odbc.ini", std::string(kOdbcIni) + "\n[XaFits]\nDriver = /opt/x/libx.so\nXaInfo = " +
                                                         std::string(255, 'y') + "\n\n[XaLong]\nDriver = /opt/x/libx.so\n" +
                                                         "XaInfo = " + std::string(256, 'x') + "\n");
        trace_support::WriteFile(*dir_ / "odbcinst.ini", "[Xa Test Driver]\nDriver = /usr/lib/odbc/libXaNamed.so\n");
        setenv("ODBCSYSINI", dir_->path().c_str(), 1);
        setenv("ODBCINI", (*dir_ / "odbc.ini").c_str(), 1);
    }
    void TearDown() override { dir_.reset(); }

private:
    std::unique_ptr<trace_support::TempDir> dir_;
};

inline const auto* const kPrivateOdbcIni = ::testing::AddGlobalTestEnvironment(new PrivateOdbcIni);

// An open environment (ODBC 3) with one connection allocated through its handler, bound
// to the scripted agent; the process-wide settings and the dialog start fresh.
class ConnTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DrvGlobalInit(), 0);
        g_fake = &fake;
        g_bindRc = 0;
        ConnSetOpTableBinder(FakeBind);
        KvrLOGIN_Install(nullptr, nullptr);
        ConnProcessSettings() = CONN_PROCESS_SETTINGS{};
        std::lock_guard<std::recursive_mutex> guard(Drv().handleLock);
        envr = EnvrAlloc();
        envr->odbcVersion = 3;
        EnvrOpen(envr);
        ASSERT_EQ(hdl_Add(&Drv().envTable, &envr->id, envr), 0);
        conn = NewConn();
        ASSERT_NE(conn, nullptr);
    }
    void TearDown() override {
        DrvGlobalTerm();  // disconnects and frees what is left
        // Every set of messages the agent handed out was given back through it.
        EXPECT_EQ(fake.errorSetsReleased, fake.errorSetsOut);
        ConnSetOpTableBinder(nullptr);
        KvrLOGIN_Install(nullptr, nullptr);
        g_fake = nullptr;
    }

    // A further connection through the allocation handler.
    CONN* NewConn() {
        SQLHANDLE h = nullptr;
        if (DoAllocConnect(envr, OutHandleArgs{&h}) != SQL_SUCCESS)
            return nullptr;
        return static_cast<CONN*>(hdl_Lookup(&Drv().connTable, HandleId(h)));
    }

    // The calls recorded since the last look, then forgotten.
    std::vector<std::string> TakeCalls() {
        std::vector<std::string> c;
        c.swap(fake.calls);
        return c;
    }

    FakeAgent fake;
    ENVR* envr = nullptr;
    CONN* conn = nullptr;
};

// The messages queued on a diagnostics record, oldest first.
inline std::vector<std::string> Messages(const DIAG& d) {
    std::vector<std::string> out;
    for (const ERRMSG& m : d.messages)
        out.push_back(m.text);
    return out;
}

}  // namespace conn_fixture
