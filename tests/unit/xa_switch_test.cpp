// The XA switch against a fake Driver Manager and the fake agent: every entry, the
// per-thread bindings by rmid, the refusals and what they give back; and the XA trace
// lines, byte for byte.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "conn_fixture.h"
#include "driver/frame/trace.h"
#include "dtc/dispenser.h"
#include "dtc/xa_runtime.h"
#include "dtc/xa_switch.h"
#include "dtc_fixture.h"
#include "trace_support.h"

namespace {

using namespace dtc_fixture;
using Calls = std::vector<std::string>;

// The Driver Manager's handles are the addresses of these; the driver's connection handle
// behind every Driver Manager connection is kDriverHdbc.
char g_envObject, g_dbcObject[8];
SQLHDBC const kDriverHdbc = reinterpret_cast<SQLHDBC>(uintptr_t{0x20005});

struct FakeDm {
    Calls calls;
    int envs = 0, dbcs = 0, nextDbc = 0;
    SQLRETURN connectRc = SQL_SUCCESS;
    std::string connectText;
    bool resolves = true;
    DTC_CONN_LINK link;
};
FakeDm* g_dm = nullptr;

const XA_DM_API kFakeDm = {
    [](SQLSMALLINT type, SQLHANDLE, SQLHANDLE* out) -> SQLRETURN {
        g_dm->calls.push_back(type == SQL_HANDLE_ENV ? "AllocEnv" : "AllocDbc");
        if (type == SQL_HANDLE_ENV) {
            ++g_dm->envs;
            *out = &g_envObject;
        } else {
            ++g_dm->dbcs;
            *out = &g_dbcObject[g_dm->nextDbc++ % 8];
        }
        return SQL_SUCCESS;
    },
    [](SQLHENV, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER) -> SQLRETURN {
        g_dm->calls.push_back("SetEnvAttr " + std::to_string(attr) + "=" +
                              std::to_string(reinterpret_cast<intptr_t>(value)));
        return SQL_SUCCESS;
    },
    [](SQLHDBC, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR*, SQLSMALLINT outSize, SQLSMALLINT*,
       SQLUSMALLINT completion) -> SQLRETURN {
        g_dm->calls.push_back("DriverConnect " + std::to_string(inLength) + " " + std::to_string(outSize) + " " +
                              std::to_string(completion));
        g_dm->connectText = reinterpret_cast<const char*>(in);
        return g_dm->connectRc;
    },
    [](SQLHDBC, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT, SQLSMALLINT*) -> SQLRETURN {
        g_dm->calls.push_back("GetInfo " + std::to_string(type));
        *static_cast<SQLHDBC*>(value) = kDriverHdbc;
        return SQL_SUCCESS;
    },
    [](SQLHDBC) -> SQLRETURN {
        g_dm->calls.push_back("Disconnect");
        return SQL_SUCCESS;
    },
    [](SQLSMALLINT type, SQLHANDLE) -> SQLRETURN {
        g_dm->calls.push_back(type == SQL_HANDLE_ENV ? "FreeEnv" : "FreeDbc");
        (type == SQL_HANDLE_ENV ? g_dm->envs : g_dm->dbcs)--;
        return SQL_SUCCESS;
    },
};

bool FakeResolve(SQLHDBC driverHandle, DTC_CONN_LINK* out) {
    if (!g_dm->resolves || driverHandle != kDriverHdbc)
        return false;
    *out = g_dm->link;
    return true;
}

const Calls kOpenCalls = {"AllocEnv", "SetEnvAttr 200=3", "AllocDbc", "DriverConnect -3 1024 0", "GetInfo 3"};

class XaSwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_dm = &dm;
        g_agent = &agent;
        dm.link = XaLink();
        agent.xaCallLock = dm.link.xaCallLock.get();
        XaSwitchSetSeams(&kFakeDm, FakeResolve);
    }
    void TearDown() override {
        EXPECT_EQ(dm.envs, 0);
        EXPECT_EQ(dm.dbcs, 0);
        EXPECT_TRUE(agent.lockAlwaysHeld);
        XaSwitchSetSeams(nullptr, nullptr);
        g_agent = nullptr;
        g_dm = nullptr;
    }
    Calls TakeDmCalls() {
        Calls c;
        c.swap(dm.calls);
        return c;
    }

    FakeDm dm;
    FakeXaAgent agent;
    const xa_switch_t sw = XaSwitchRecord();
};

TEST_F(XaSwitchTest, EveryEntryReachesTheAgentOfItsRmidOnTheOpeningThread) {
    EXPECT_STREQ(sw.name, "TESSARYN");
    EXPECT_EQ(sw.flags, 0);
    EXPECT_EQ(sw.version, 0);
    char open5[] = "DSN=XaSales ;UID=ann";
    char open6[] = "DSN=XaFits";
    ASSERT_EQ(sw.xa_open_entry(open5, 5, TMNOFLAGS), XA_OK);
    EXPECT_EQ(TakeDmCalls(), kOpenCalls);
    EXPECT_EQ(dm.connectText, open5);
    EXPECT_EQ(agent.openInfo, "sales-xa");
    // A second rmid on the same thread keeps the first.
    ASSERT_EQ(sw.xa_open_entry(open6, 6, TMNOFLAGS), XA_OK);
    EXPECT_EQ(TakeDmCalls(), (Calls{"AllocDbc", "DriverConnect -3 1024 0", "GetInfo 3"}));  // one environment
    EXPECT_EQ(agent.openInfo, std::string(255, 'y'));
    EXPECT_EQ(sw.xa_open_entry(open5, 5, TMNOFLAGS), XA_OK);  // open already: nothing more
    EXPECT_EQ(TakeDmCalls(), Calls{});
    agent.TakeCalls();
    agent.rmids.clear();

    XID xid{};
    XID xids[3]{};
    int handle = 41, result = 0;
    EXPECT_EQ(sw.xa_start_entry(&xid, 5, TMNOFLAGS), XA_OK);
    EXPECT_EQ(sw.xa_end_entry(&xid, 6, TMSUCCESS), XA_OK);
    agent.results = {{"Prepare", {XA_RDONLY}}};
    EXPECT_EQ(sw.xa_prepare_entry(&xid, 5, TMNOFLAGS), XA_RDONLY);  // agent results pass through
    EXPECT_EQ(sw.xa_commit_entry(&xid, 5, TMNOFLAGS), XA_OK);
    EXPECT_EQ(sw.xa_rollback_entry(&xid, 6, TMNOFLAGS), XA_OK);
    EXPECT_EQ(sw.xa_recover_entry(xids, 3, 5, TMNOFLAGS), XA_OK);
    EXPECT_EQ(sw.xa_forget_entry(&xid, 5, TMNOFLAGS), XA_OK);
    EXPECT_EQ(sw.xa_complete_entry(&handle, &result, 6, TMNOFLAGS), XA_OK);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(agent.TakeCalls(), (Calls{"Start 0", "End 4000000", "Prepare", "Commit", "Rollback", "Recover 3",
                                        "Forget", "Complete 41"}));
    EXPECT_EQ(agent.rmids, (std::vector<int>{5, 6, 5, 5, 6, 5, 5, 6}));
    EXPECT_EQ(sw.xa_start_entry(&xid, 7, TMNOFLAGS), XAER_RMERR);  // never opened

    // Another thread finds no binding.
    std::thread([&] {
        XID x{};
        EXPECT_EQ(sw.xa_start_entry(&x, 5, TMNOFLAGS), XAER_RMERR);
        EXPECT_EQ(sw.xa_close_entry(open5, 5, TMNOFLAGS), XAER_RMERR);
    }).join();
    EXPECT_EQ(agent.TakeCalls(), Calls{});

    // Close needs the open string it was opened with.
    char other[] = "DSN=XaSales";
    EXPECT_EQ(sw.xa_close_entry(other, 5, TMNOFLAGS), XAER_RMERR);
    EXPECT_EQ(sw.xa_start_entry(&xid, 5, TMNOFLAGS), XA_OK);  // still bound
    agent.TakeCalls();
    TakeDmCalls();
    EXPECT_EQ(sw.xa_close_entry(open5, 5, TMNOFLAGS), XA_OK);
    EXPECT_EQ(agent.TakeCalls(), Calls{"Close 0"});
    EXPECT_EQ(agent.closeInfo, open5);
    EXPECT_EQ(TakeDmCalls(), (Calls{"Disconnect", "FreeDbc"}));
    EXPECT_EQ(sw.xa_start_entry(&xid, 5, TMNOFLAGS), XAER_RMERR);  // unbound
    EXPECT_EQ(sw.xa_close_entry(open6, 6, TMNOFLAGS), XA_OK);
    EXPECT_EQ(TakeDmCalls(), (Calls{"Disconnect", "FreeDbc", "FreeEnv"}));  // the last open goes
}

// Refused opens give back what they took, and leave nothing bound.
TEST_F(XaSwitchTest, RefusedOpensDisconnectAndFree) {
    const struct {
        const char* name;
        const char* openString;
        SQLRETURN connectRc = SQL_SUCCESS;
        bool resolves = true, hasXA = true;
        int agentOpenRc = XA_OK;
        int expected;
        Calls dmCalls;
    } cases[] = {
        {"no DSN", "UID=ann", SQL_SUCCESS, true, true, XA_OK, XAER_RMERR, {}},
        {"DSN too long", nullptr, SQL_SUCCESS, true, true, XA_OK, XAER_RMERR, {}},
        {"connect fails", "DSN=XaSales", SQL_ERROR, true, true, XA_OK, XAER_RMERR,
         {"AllocEnv", "SetEnvAttr 200=3", "AllocDbc", "DriverConnect -3 1024 0", "FreeDbc", "FreeEnv"}},
        {"not the driver's connection", "DSN=XaSales", SQL_SUCCESS, false, true, XA_OK, XAER_RMERR,
         {"AllocEnv", "SetEnvAttr 200=3", "AllocDbc", "DriverConnect -3 1024 0", "GetInfo 3", "Disconnect",
          "FreeDbc", "FreeEnv"}},
        {"agent without XA", "DSN=XaSales", SQL_SUCCESS, true, false, XA_OK, XAER_RMERR,
         {"AllocEnv", "SetEnvAttr 200=3", "AllocDbc", "DriverConnect -3 1024 0", "GetInfo 3", "Disconnect",
          "FreeDbc", "FreeEnv"}},
        {"XaInfo too long", "DSN=XaLong", SQL_SUCCESS, true, true, XA_OK, XAER_RMERR,
         {"AllocEnv", "SetEnvAttr 200=3", "AllocDbc", "DriverConnect -3 1024 0", "GetInfo 3", "Disconnect",
          "FreeDbc", "FreeEnv"}},
        {"agent refuses the open", "DSN=XaSales", SQL_SUCCESS, true, true, XAER_INVAL, XAER_INVAL,
         {"AllocEnv", "SetEnvAttr 200=3", "AllocDbc", "DriverConnect -3 1024 0", "GetInfo 3", "Disconnect",
          "FreeDbc", "FreeEnv"}},
    };
    const std::string longDsn = "DSN=" + std::string(256, 'd');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dm.connectRc = c.connectRc;
        dm.resolves = c.resolves;
        dm.link.hasXA = c.hasXA;
        agent.results = {{"Open", {c.agentOpenRc}}};
        std::string text = c.openString != nullptr ? c.openString : longDsn;
        EXPECT_EQ(sw.xa_open_entry(text.data(), 9, TMNOFLAGS), c.expected);
        EXPECT_EQ(TakeDmCalls(), c.dmCalls);
        XID xid{};
        EXPECT_EQ(sw.xa_start_entry(&xid, 9, TMNOFLAGS), XAER_RMERR);
    }
    EXPECT_EQ(XaOpenStringDsn("UID=a;DSN=Sales  ;PWD=x"), "Sales");
    EXPECT_EQ(XaOpenStringDsn(nullptr), "");
}

unsigned long ThisThread() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

// The XA trace, byte for byte: the switch's entry and result lines, and the dispenser's.
TEST_F(XaSwitchTest, TraceLines) {
    using trace_support::ScopedEnv;
    OleTxInit();  // spent before the trace is configured: no banner of its own below
    trace_support::TempDir dir;
    trace_support::ScopedFixedClock clock;
    ScopedEnv file("KVR_DEBUGFILE", dir / "t.log");
    TraceOpen(TRACE_XA);
    char bad[] = "UID=x";
    char good[] = "DSN=XaSales";
    sw.xa_open_entry(bad, 3, TMNOFLAGS);
    sw.xa_close_entry(bad, 3, 0x10);
    dm.link.hasXA = false;
    sw.xa_open_entry(good, 3, TMNOFLAGS);
    XID* xid = reinterpret_cast<XID*>(uintptr_t{0x1000});
    sw.xa_end_entry(xid, 3, TMSUCCESS);
    int handle = 12, result = 0;
    sw.xa_complete_entry(&handle, &result, 3, TMNOFLAGS);
    TakeDmCalls();

    FakeTransaction tx;
    DTC_DISPENSER d = NewResourceDispenser(&tx, XaLink(), "XaSales", "ann", "pw");
    auto* disp = static_cast<COdbcResourceDispenser*>(d);
    disp->AddRef();
    void* out = nullptr;
    disp->QueryInterface(TX_GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}, &out);
    ReleaseResourceDispenser(d);
    ReleaseResourceDispenser(d);
    TraceClose(TRACE_XA);

    std::string trace = trace_support::ReadFile(dir / "t.log-xa");
    trace = trace_support::ReplaceAll(trace, "[" + std::to_string(ThisThread()) + "] ", "[T] ");
    char self[32];
    std::snprintf(self, sizeof self, "%p", static_cast<void*>(disp));
    trace = trace_support::ReplaceAll(trace, self, "<this>");
    const size_t body = trace.find("[T] ");
    ASSERT_NE(body, std::string::npos) << trace;
    EXPECT_EQ(trace.substr(0, body), "** Tessaryn XA Trace File **\n** started on Mon Mar 02 09:05:07 2026 **\n\n\n");
    EXPECT_EQ(trace.substr(body, trace.find("\n** finished") - body),
              "[T] xa_switch_open(***, 3, 0)\n"
              "[T] xa_switch_open: invalid xaInfo string format\n"
              "[T] xa_switch_close(***, 3, 10)\n"
              "[T] xa_switch_close: invalid xaInfo string format\n"
              "[T] Call returned: XAER_RMERR(-3)\n"
              "[T] xa_switch_open(XaSales, 3, 0)\n"
              "Agent does not support XA\n"
              "[T] Call returned: XAER_RMERR(-3)\n"
              "[T] xa_switch_end(0x1000, 3, 4000000)\n"
              "[T] Call returned: XAER_RMERR(-3)\n"
              "[T] xa_switch_complete(12,, 3, 0)\n"
              "[T] Call returned: XAER_RMERR(-3)\n"
              "[T] COdbcResourceDispenser::COdbcResourceDispenser()\n"
              "[T] COdbcResourceDispenser::AddRef(), this=<this>, m_hConnect=C0FFEE, m_cRef=1\n"
              "[T] Call success    : Returned HRESULT: 0x00000001(Unknown!)\n"
              "[T] COdbcResourceDispenser::AddRef(), this=<this>, m_hConnect=C0FFEE, m_cRef=2\n"
              "[T] Call success    : Returned HRESULT: 0x00000002(Unknown!)\n"
              "[T] COdbcResourceDispense::QueryInterface()\n"
              "[T] {00000001-0002-0003-0405-060708090A0B}\n"
              "[T] Call failure >>>: Returned HRESULT: 0x80004002(E_NOINTERFACE)\n"
              "[T] COdbcResourceDispenser::Release(), this=<this>, m_hConnect=C0FFEE, m_cRef=1\n"
              "[T] Call returned: 1\n"
              "[T] COdbcResourceDispenser::Release(), this=<this>, m_hConnect=C0FFEE, m_cRef=0\n"
              "[T] COdbcResourceDispenser::~COdbcResourceDispenser()\n"
              "[T] Call returned: 0\n");
}

// The runtime starts once per process: one banner, however many enlistments start it.
TEST(XaRuntime, StartsOnceWithOneBanner) {
    trace_support::UseFreshProcessForDeathTests();
    EXPECT_EXIT(
        {
            trace_support::TempDir dir;
            trace_support::ScopedFixedClock clock;
            trace_support::ScopedEnv file("KVR_DEBUGFILE", dir / "t.log");
            std::thread first([] { OleTxInit(); });
            int second = OleTxInit();
            first.join();
            TraceClose(TRACE_XA);
            const std::string trace = trace_support::ReadFile(dir / "t.log-xa");
            const std::string banner =
                "** Tessaryn OLE Transactions Interface: Trace file **\n** Started on Mon Mar 02, 09:05 **\n\n";
            bool ok = second == 0 && trace.find(banner) != std::string::npos &&
                      trace.find(banner) == trace.rfind(banner);
            if (!ok)
                std::fprintf(stderr, "%s", trace.c_str());
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
