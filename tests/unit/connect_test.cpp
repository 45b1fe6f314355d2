// SQLDriverConnect and SQLConnect against the scripted agent: every completion mode with
// fake login dialogs, the completed connect string in both widths and every buffer size,
// the settings a connect gives the connection, the trace without passwords, and the
// connect lock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sqlext.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>

#include "conn_fixture.h"
#include "driver/diag/diag.h"
#include "driver/frame/resources.h"
#include "driver/frame/trace.h"
#include "driver/frame/widen.h"
#include "driver/handlers/connect.h"
#include "driver/handlers/diagentry.h"
#include "driver/objects/connconf.h"
#include "util/charset.h"
#include "util/errcode.h"

using namespace conn_fixture;
using trace_support::ReadFile;
using trace_support::ScopedEnv;
using trace_support::TempDir;

namespace {

constexpr auto kDriverConnectRec = MakeCall<DoDriverConnect>("DriverConnect", "", 1, CALL_KIND_DBC);
constexpr auto kDriverConnectWRec = MakeCall<DoDriverConnect>("DriverConnectW", "", 1, CALL_KIND_DBC);
constexpr auto kConnectRec = MakeCall<DoConnect>("Connect", "", 1, CALL_KIND_DBC);

void* const kWindow = reinterpret_cast<void*>(0x1234);

// UTF-8 text as NUL-terminated UTF-16.
std::vector<SQLWCHAR> Wide(const std::string& s) {
    std::vector<SQLWCHAR> w(s.size() + 1);
    w.resize(static_cast<size_t>(ut_Utf8Decode(s.c_str(), w.data(), static_cast<SQLLEN>(s.size()))));
    w.push_back(0);
    return w;
}

// The fake dialog: confirms with g_dialogAnswer, or cancels when there is none.
struct DialogCall {
    void* window;
    std::string driver;
    std::string in;
    int width;
};
std::vector<DialogCall> g_dialogCalls;
std::optional<std::string> g_dialogAnswer;
int g_dialogFrees = 0;

int FakeLogin(void* window, const char* driver, const char* in, char** out, int width) {
    g_dialogCalls.push_back({window, driver, in, width});
    *out = g_dialogAnswer ? strdup(g_dialogAnswer->c_str()) : strdup("half-typed");
    return g_dialogAnswer ? KVR_LOGIN_OK : KVR_LOGIN_CANCEL;
}

void FakeLoginFree(char* text) {
    ++g_dialogFrees;
    std::free(text);
}

class DriverConnectTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        fake.props = {{OA_PROP_CAPABILITIES, 0x100}};
        g_dialogCalls.clear();
        g_dialogAnswer.reset();
        g_dialogFrees = 0;
        KvrLOGIN_Install(FakeLogin, FakeLoginFree);
    }

    // SQLDriverConnect through the dispatcher with a narrow out buffer of 512 bytes.
    SQLRETURN Connect(const std::string& in, SQLUSMALLINT completion = SQL_DRIVER_NOPROMPT, void* window = kWindow) {
        out.assign(512, '#');
        outLen = -1;
        return CallODBC(kDriverConnectRec, HandleFromId(conn->id), DriverConnectArgs{window, in.c_str(), SQL_NTS,
                        out.data(), 512, &outLen, completion, WIDTH_NARROW});
    }
    std::string Out() const { return std::string(out.c_str()); }

    // SQLDriverConnectW as its entry makes the call: the input as UTF-8, the caller's UTF-16
    // buffer, its size in characters and the length pointer handed through.
    SQLRETURN ConnectW(const std::vector<SQLWCHAR>& in, SQLWCHAR* buf, SQLSMALLINT chars, SQLSMALLINT* length) {
        WideIn i(in.data(), SQL_NTS);
        WideHook w({&i});
        return CallODBC(kDriverConnectWRec, HandleFromId(conn->id),
                        DriverConnectArgs{kWindow, i.text(), i.len16(), buf, chars, length, SQL_DRIVER_NOPROMPT,
                                          WIDTH_WIDE},
                        w.hook());
    }
    void Disconnect() {
        if (conn->state == CONN_CONNECTED) {
            ASSERT_EQ(ConnClose(conn), 0);
        }
        ErrListFree(conn->diag);
        TakeCalls();
    }

    std::string out;
    SQLSMALLINT outLen = -1;
};

TEST_F(DriverConnectTest, CompletionModesAndTheDialog) {
    enum Dialog { Cancels, Confirms, StandIn };
    struct Case {
        const char* name;
        SQLUSMALLINT completion;
        std::string in;
        void* window;
        Dialog dialog;
        SQLRETURN rc;
        bool asked;
        const char* user;
        int code;
    } cases[] = {
        {"noprompt", SQL_DRIVER_NOPROMPT, "DSN=Empty", kWindow, Cancels, SQL_SUCCESS, false, "", 0},
        {"complete, both given", SQL_DRIVER_COMPLETE, "DSN=Empty;UID=u;PWD=p", kWindow, Cancels, SQL_SUCCESS, false,
         "u", 0},
        {"complete, blank password", SQL_DRIVER_COMPLETE, "DSN=Empty;UID=u;PWD= p", kWindow, Confirms, SQL_SUCCESS,
         true, "dlg", 0},
        {"complete, no password", SQL_DRIVER_COMPLETE, "DSN=Empty;UID=u", kWindow, Confirms, SQL_SUCCESS, true,
         "dlg", 0},
        {"complete required", SQL_DRIVER_COMPLETE_REQUIRED, "DSN=Empty;PWD=p", kWindow, Confirms, SQL_SUCCESS, true,
         "dlg", 0},
        {"prompt", SQL_DRIVER_PROMPT, "DSN=Empty;UID=u;PWD=p", kWindow, Confirms, SQL_SUCCESS, true, "dlg", 0},
        {"prompt, cancelled", SQL_DRIVER_PROMPT, "DSN=Empty;UID=u;PWD=p;MAXROWS=3", kWindow, Cancels, SQL_NO_DATA,
         true, "before", 0},
        // No login box: no dialog, and UID from the data source.
        {"prompt, no login box", SQL_DRIVER_PROMPT, "DSN=Quiet;NLB=YES;UID=", kWindow, Confirms, SQL_SUCCESS, false,
         "quietuser", 0},
        {"prompt, no window", SQL_DRIVER_PROMPT, "DSN=Empty", nullptr, Confirms, SQL_ERROR, false, "before",
         ERR_DIALOG_FAILED},
        {"complete, no window", SQL_DRIVER_COMPLETE, "DSN=Empty", nullptr, Confirms, SQL_ERROR, false, "before",
         ERR_DIALOG_FAILED},
        {"prompt, stand-in", SQL_DRIVER_PROMPT, "DSN=Empty", kWindow, StandIn, SQL_ERROR, false, "before",
         ERR_DIALOG_FAILED},
    };
    for (const Case& c : cases) {
        g_dialogCalls.clear();
        g_dialogFrees = 0;
        ConnProcessSettings().maxRows = 9;
        conn->user = "before";
        if (c.dialog == StandIn)
            KvrLOGIN_Install(nullptr, nullptr);
        else
            KvrLOGIN_Install(FakeLogin, FakeLoginFree);
        if (c.dialog == Confirms)
            g_dialogAnswer = "DSN=Empty;UID=dlg;PWD=x";
        else
            g_dialogAnswer.reset();

        EXPECT_EQ(Connect(c.in, c.completion, c.window), c.rc) << c.name;
        EXPECT_EQ(g_dialogCalls.size(), c.asked ? 1u : 0u) << c.name;
        EXPECT_EQ(g_dialogFrees, c.asked ? 1 : 0) << c.name;  // every answer is given back
        if (c.asked) {
            EXPECT_EQ(g_dialogCalls[0].window, kWindow);
            EXPECT_EQ(g_dialogCalls[0].in, c.in);
            EXPECT_EQ(g_dialogCalls[0].width, 'A');
        }
        EXPECT_EQ(conn->user, c.user) << c.name;
        EXPECT_EQ(conn->diag.errCode, c.code) << c.name;
        if (c.rc != SQL_SUCCESS) {
            // Nothing reached the connection, the agent or the process-wide settings.
            EXPECT_EQ(conn->state, CONN_ALLOCATED) << c.name;
            EXPECT_TRUE(fake.calls.empty()) << c.name;
            EXPECT_EQ(ConnProcessSettings().maxRows, 9) << c.name;
        }
        Disconnect();
    }
}

TEST_F(DriverConnectTest, DialogGetsTheDriverName) {
    g_dialogAnswer = "DSN=Sales;UID=u;PWD=p";
    EXPECT_EQ(Connect("DSN=Sales", SQL_DRIVER_PROMPT), SQL_SUCCESS);
    Disconnect();
    EXPECT_EQ(Connect("DRIVER={Tessaryn Vell};UID=u", SQL_DRIVER_PROMPT), SQL_SUCCESS);
    ASSERT_EQ(g_dialogCalls.size(), 2u);
    EXPECT_EQ(g_dialogCalls[0].driver, "Tessaryn Vell for Progress 11 SQL-92 (Unicode)");
    EXPECT_EQ(g_dialogCalls[1].driver, "Tessaryn Vell");
}

// The agent learns the connect's settings and the library's facts from the request alone;
// a DBMS name goes to the one connect whose configuration names it, an isolation holds
// until a connect names another.
TEST_F(DriverConnectTest, ConnectRequestCarriesTheSettingsAndTheLibrary) {
    ASSERT_EQ(Connect("DSN=Empty;JET=yes;MAXROWS=25;NOAC=true;NRSSL=yes;DYN_CURS_SENSITIVITY=High;"
                      "SHOWREMARKS=yes;SQLDBMSNAME=SalesDB;DEFTXNISO=Repeatable Read"),
              SQL_SUCCESS);
    const OA_CONNSETTINGS& s = fake.requestSettings;
    EXPECT_EQ(s.jet, 1);
    EXPECT_EQ(s.maxRows, 25);
    EXPECT_EQ(s.noAutoCommit, 1);
    EXPECT_EQ(s.noRowsetSizeLimit, 1);
    EXPECT_EQ(s.dynCursSensitivity, 1);
    EXPECT_EQ(s.showRemarks, 1);
    EXPECT_EQ(s.defaultIsolation, 4u);
    EXPECT_EQ(fake.requestDbmsName, "SalesDB");
    EXPECT_EQ(fake.requestDriverFile, DrvVariant().fileName);
    EXPECT_EQ(fake.requestUnicodeLibrary, DrvVariant().unicode ? 1 : 0);
    Disconnect();

    ASSERT_EQ(Connect("DSN=Empty"), SQL_SUCCESS);
    EXPECT_EQ(fake.requestSettings.maxRows, 0);
    EXPECT_EQ(fake.requestSettings.jet, 0);
    EXPECT_EQ(fake.requestSettings.defaultIsolation, 4u);
    EXPECT_EQ(fake.requestDbmsName, std::nullopt);
}

TEST_F(DriverConnectTest, ConnectGivesTheConnectionItsSettings) {
    ASSERT_EQ(Connect("DSN=Sales;IV=TRUE;FBS=0"), SQL_SUCCESS);
    EXPECT_EQ(conn->dsn, "Sales");
    EXPECT_EQ(conn->user, "ann");
    EXPECT_EQ(conn->password, "salespwd");
    EXPECT_EQ(conn->cn_dbpath, "/data/sales.db");
    EXPECT_EQ(conn->cn_dbopts, "-H dbhost -S 2500");
    EXPECT_EQ(conn->cn_fetchSize, 60u);  // 0 means the default
    EXPECT_EQ(conn->flags & (CONN_FLAG_READ_ONLY | CONN_FLAG_INCLUDE_VIEWS | CONN_FLAG_INCLUDE_ALL),
              CONN_FLAG_READ_ONLY | CONN_FLAG_INCLUDE_VIEWS);
    EXPECT_EQ(conn->flags & CONN_FLAG_AUTOCOMMIT, CONN_FLAG_AUTOCOMMIT);  // as the agent said
    EXPECT_EQ(conn->defaultIsolation, 8u);                               // DefaultTxnIso of the section
    EXPECT_EQ(fake.request["database"], "/data/sales.db");
    EXPECT_EQ(fake.request["dbOptions"], "-H dbhost -S 2500");
    EXPECT_EQ(fake.request["dataSource"], "Sales");
    EXPECT_EQ(fake.requestReadOnly, 1);
    EXPECT_FALSE(conn->appName.empty());

    // A second connect on a connected handle is refused.
    EXPECT_EQ(Connect("DSN=Sales"), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_IN_USE);
    Disconnect();

    // A reconnect without IV or READONLY does not keep the earlier choice.
    ASSERT_EQ(Connect("DSN=Empty;FBS=250"), SQL_SUCCESS);
    EXPECT_EQ(conn->flags & (CONN_FLAG_READ_ONLY | CONN_FLAG_INCLUDE_VIEWS), 0);
    EXPECT_EQ(conn->cn_fetchSize, 250u);
    EXPECT_EQ(conn->cn_dbopts, "");
}

TEST_F(DriverConnectTest, CompletedConnectString) {
    TempDir dir;
    const std::string fileDsn = dir / "ok.dsn";
    trace_support::WriteFile(fileDsn, "[ODBC]\nDATABASENAME=/data/file.db\nUID=fileuser\nHOSTNAME=filehost\n");
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        // The File DSN is named again: without it a reconnect would reach the Default section.
        {"FILEDSN=" + fileDsn, "DSN=;UID=fileuser;PWD=;CONNSTR=/data/file.db;FILEDSN=" + fileDsn},
        {"DSN=Sales;PWD={a;b}", "DSN=Sales;UID=ann;PWD={a;b};CONNSTR=/data/sales.db"},
        // Neither DSN nor FILEDSN: the "Default" section.
        {"UID=x", "DSN=Default;UID=x;PWD=defpwd;CONNSTR=/data/default.db"},
        // A database the string named is named again, for a reconnect with this string.
        {"DSN=Sales;DATABASENAME=/other.db",
         "DSN=Sales;UID=ann;PWD=salespwd;CONNSTR=/other.db;DATABASENAME=/other.db"},
        // The DRIVER value as the caller wrote it, braced or not.
        {"DRIVER=/opt/varno/libvarnod.so;UID=u;PWD={p;q}",
         "DRIVER=/opt/varno/libvarnod.so;UID=u;PWD={p;q};FBS=20;READONLY=;NLB=;DATABASENAME=/data/default.db;"
         "NRSSL=FALSE;DYN_CURS_SENSITIVITY=LOW;HOSTNAME=;PORT=;SQLDBMSNAME=;DEFTXNISO=;IV=;IA=;Server=Tessaryn"},
        {"DRIVER={Tessaryn Vell};UID=u;PWD=p;HOSTNAME=h;PORT=5;IV=yes;NRSSL=TRUE;DYN_CURS_SENSITIVITY=Disabled;"
         "READONLY=no",
         "DRIVER={Tessaryn Vell};UID=u;PWD=p;FBS=20;READONLY=no;NLB=;DATABASENAME=/data/default.db;NRSSL=TRUE;"
         "DYN_CURS_SENSITIVITY=DISABLED;HOSTNAME=h;PORT=5;SQLDBMSNAME=;DEFTXNISO=;IV=yes;IA=;Server=Tessaryn"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Connect(c.in), SQL_SUCCESS) << c.in;
        EXPECT_EQ(Out(), c.out);
        EXPECT_EQ(outLen, static_cast<SQLSMALLINT>(c.out.size()));
        // The completed string connects again to the same database, on the same host.
        std::string dbpath = conn->cn_dbpath;
        std::string dbopts = conn->cn_dbopts;
        Disconnect();
        ASSERT_EQ(Connect(c.out), SQL_SUCCESS) << c.out;
        EXPECT_EQ(conn->cn_dbpath, dbpath) << c.out;
        EXPECT_EQ(conn->cn_dbopts, dbopts) << c.out;
        Disconnect();
    }
}

// Whatever fails once the agent connection exists, an exception included, gives it back:
// the call fails and leaves nothing connected, so that a retry can connect.
TEST_F(DriverConnectTest, FailureAfterTheAgentConnectedLeavesNothingOpen) {
    fake.onTypeTable = [] { throw std::bad_alloc(); };
    EXPECT_EQ(Connect("DSN=Empty;UID=u;PWD=p"), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_MEMORY_ALLOCATION_FAILURE);
    EXPECT_EQ(conn->state, CONN_ALLOCATED);
    EXPECT_EQ(conn->agentConn, 0u);
    EXPECT_EQ(fake.serversOpen, 0);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"OpenServer", "Connect", "GetOpTable", "Disconnect",
                                                     "CloseServer"}));
    fake.onTypeTable = nullptr;
    EXPECT_EQ(Connect("DSN=Empty;UID=u;PWD=p"), SQL_SUCCESS);
    EXPECT_EQ(conn->state, CONN_CONNECTED);
}

// An unclosed brace is refused before anything is read, opened or created, from the
// application's string and from the dialog's answer alike.
TEST_F(DriverConnectTest, UnclosedBraceIsAnInvalidConnectString) {
    g_dialogAnswer = "DSN=Empty;UID=dlg;PWD={x";
    const std::pair<const char*, SQLUSMALLINT> cases[] = {{"DATABASENAME={/tmp/b.db;UID=u", SQL_DRIVER_NOPROMPT},
                                                          {"DSN=Empty", SQL_DRIVER_PROMPT}};
    for (const auto& [in, completion] : cases) {
        EXPECT_EQ(Connect(in, completion), SQL_ERROR) << in;
        EXPECT_EQ(conn->state, CONN_ALLOCATED);
        EXPECT_TRUE(TakeCalls().empty()) << in;
        SQLCHAR state[6] = {};
        SQLCHAR text[256] = {};
        ASSERT_EQ(GetErrorRec(nullptr, conn, nullptr, nullptr, state, nullptr, text, sizeof text, nullptr,
                              DIAG_MODE_CONSUME),
                  SQL_SUCCESS);
        EXPECT_STREQ(reinterpret_cast<char*>(state), "08001");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(text)),
                  std::string("[Tessaryn][ODBC]Invalid connection string: the value of ") +
                      (completion == SQL_DRIVER_PROMPT ? "PWD" : "DATABASENAME") +
                      " opens a brace that is never closed");
        Disconnect();
    }
}

// The narrow out buffer over the sizes that matter: none, 0, exact fit, one short.
TEST_F(DriverConnectTest, NarrowOutBufferSizes) {
    const std::string full = "DSN=Empty;UID=u;PWD=p;CONNSTR=/data/empty.db";
    const auto n = static_cast<SQLSMALLINT>(full.size());
    struct Case {
        bool buffer;
        SQLSMALLINT size;
        SQLRETURN rc;
        std::string text;
    } cases[] = {
        {false, 100, SQL_SUCCESS, ""},
        {true, 0, SQL_SUCCESS_WITH_INFO, "untouched"},
        {true, static_cast<SQLSMALLINT>(n + 1), SQL_SUCCESS, full},
        {true, n, SQL_SUCCESS_WITH_INFO, full.substr(0, full.size() - 1)},
        {true, 1, SQL_SUCCESS_WITH_INFO, ""},
    };
    for (const Case& c : cases) {
        char buf[128];
        std::strcpy(buf, "untouched");
        outLen = -1;
        SQLRETURN rc = CallODBC(kDriverConnectRec, HandleFromId(conn->id),
                                DriverConnectArgs{kWindow, "DSN=Empty;UID=u;PWD=p", SQL_NTS, c.buffer ? buf : nullptr,
                                                  c.size, &outLen, SQL_DRIVER_NOPROMPT, WIDTH_NARROW});
        EXPECT_EQ(rc, c.rc) << c.size;
        EXPECT_EQ(conn->state, CONN_CONNECTED);  // a cut string still connects
        EXPECT_EQ(outLen, n) << c.size;          // always the full length
        if (c.buffer) {
            EXPECT_EQ(std::string(buf), c.text) << c.size;
        }
        EXPECT_EQ(conn->diag.errCode, rc == SQL_SUCCESS_WITH_INFO ? ERR_DATA_WAS_TRUNCATED : 0) << c.size;
        Disconnect();
    }
}

// A negative out size is the caller's mistake: refused before anything reaches the
// agent, in both widths.
TEST_F(DriverConnectTest, NegativeOutSizeIsRefusedBeforeConnecting) {
    char buf[16] = "untouched";
    SQLRETURN rc = CallODBC(kDriverConnectRec, HandleFromId(conn->id),
                            DriverConnectArgs{kWindow, "DSN=Empty;UID=u;PWD=p", SQL_NTS, buf, -1, &outLen,
                                              SQL_DRIVER_NOPROMPT, WIDTH_NARROW});
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    EXPECT_STREQ(buf, "untouched");

    SQLWCHAR outW[8] = {};
    rc = ConnectW(Wide("DSN=Empty"), outW, -5, &outLen);
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    EXPECT_EQ(conn->state, CONN_ALLOCATED);
    EXPECT_TRUE(TakeCalls().empty());
}

// The wide entry's way: UTF-8 in; the completed string written straight into the
// caller's UTF-16 buffer, its length counted in characters whatever its size in UTF-8.
TEST_F(DriverConnectTest, WideEntryConnectsInWideMode) {
    if (!DrvVariant().unicode)
        GTEST_SKIP() << "the ANSI library has no wide entry points";
    const std::string full = "DSN=Empty;UID=u;PWD=p;CONNSTR=/data/empty.db";
    for (SQLSMALLINT chars : {SQLSMALLINT(200), static_cast<SQLSMALLINT>(full.size() + 1),
                              static_cast<SQLSMALLINT>(full.size()), SQLSMALLINT(0)}) {
        std::vector<SQLWCHAR> outW(256, 0xFFFF);
        SQLSMALLINT outChars = -1;
        SQLRETURN rc = ConnectW(Wide("DSN=Empty;UID=u;PWD=p"), outW.data(), chars, &outChars);
        bool fits = chars > static_cast<SQLSMALLINT>(full.size());
        EXPECT_EQ(rc, fits ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO) << chars;
        EXPECT_EQ(outChars, static_cast<SQLSMALLINT>(full.size())) << chars;
        if (chars > 0) {
            std::string back;
            for (size_t k = 0; outW[k] != 0; ++k)
                back.push_back(static_cast<char>(outW[k]));
            EXPECT_EQ(back, full.substr(0, std::min<size_t>(full.size(), chars - 1))) << chars;
        } else {
            EXPECT_EQ(outW[0], 0xFFFF);
        }
        EXPECT_EQ(fake.request["options"], std::string("W\x7F\x01\x01"));
        Disconnect();
    }

    // Beyond 32,767 bytes of UTF-8 the string still arrives whole, counted in characters:
    // 'é' is two bytes and one character, U+1F600 four bytes and two characters.
    std::string user, pwd;
    for (int k = 0; k < 14000; ++k)
        user += "\xc3\xa9";
    for (int k = 0; k < 2000; ++k)
        pwd += "\xf0\x9f\x98\x80";
    const std::vector<SQLWCHAR> in = Wide("DSN=Empty;UID=" + user + ";PWD=" + pwd);
    const std::vector<SQLWCHAR> want = Wide("DSN=Empty;UID=" + user + ";PWD=" + pwd + ";CONNSTR=/data/empty.db");
    const auto wantChars = static_cast<SQLSMALLINT>(want.size() - 1);
    ASSERT_EQ(wantChars, 14000 + 2 * 2000 + 42);  // 36,042 bytes of UTF-8
    for (SQLSMALLINT chars : {SQLSMALLINT(30000), SQLSMALLINT(0), SQLSMALLINT(100)}) {
        std::vector<SQLWCHAR> outW(30000, 0xFFFF);
        SQLSMALLINT outChars = -1;
        SQLRETURN rc = ConnectW(in, outW.data(), chars, &outChars);
        EXPECT_EQ(rc, chars == 30000 ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO) << chars;
        EXPECT_EQ(outChars, wantChars) << chars;
        if (chars == 30000) {
            EXPECT_TRUE(std::equal(want.begin(), want.end(), outW.begin()));
        }
        Disconnect();
    }
}

TEST_F(DriverConnectTest, SQLConnectBuildsAConnectStringThatCannotBeInjected) {
    auto call = [&](const char* dsn, SQLSMALLINT dl, const char* uid, SQLSMALLINT ul, const char* pwd,
                    SQLSMALLINT pl) {
        return CallODBC(kConnectRec, HandleFromId(conn->id), ConnectArgs{dsn, dl, uid, ul, pwd, pl, WIDTH_NARROW});
    };
    ASSERT_EQ(call("Sales", SQL_NTS, "x;DATABASENAME=/evil.db", SQL_NTS, "p;w}", SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(conn->user, "x;DATABASENAME=/evil.db");
    EXPECT_EQ(conn->password, "p;w}");
    EXPECT_EQ(conn->cn_dbpath, "/data/sales.db");
    Disconnect();

    // Counted lengths; a null text is an empty value.
    ASSERT_EQ(call("SalesXX", 5, "bobby", 3, nullptr, 0), SQL_SUCCESS);
    EXPECT_EQ(conn->dsn, "Sales");
    EXPECT_EQ(conn->user, "bob");
    EXPECT_EQ(conn->password, "");
    EXPECT_EQ(call("Sales", SQL_NTS, "u", SQL_NTS, "p", SQL_NTS), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_IN_USE);
    Disconnect();

    EXPECT_EQ(call("Sales", SQL_NTS, "u", -5, "p", SQL_NTS), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    EXPECT_TRUE(fake.calls.empty());
}

// True when another thread can take both process-wide locks now.
bool ProcessLocksFree() {
    return std::async(std::launch::async, [] {
               std::unique_lock<std::mutex> db(Drv().dbLock, std::try_to_lock);
               std::unique_lock<std::recursive_mutex> connect(Drv().connectLock, std::try_to_lock);
               return db.owns_lock() && connect.owns_lock();
           }).get();
}

bool g_locksFreeInDialog = false;
int LockCheckingLogin(void*, const char*, const char*, char** out, int) {
    g_locksFreeInDialog = ProcessLocksFree();
    *out = strdup("DSN=Empty;UID=dlg;PWD=x");
    return KVR_LOGIN_OK;
}

// The dialog waits for a user: no other connection may wait with it.
TEST_F(DriverConnectTest, DialogRunsWithoutTheProcessWideLocks) {
    KvrLOGIN_Install(LockCheckingLogin, FakeLoginFree);
    ASSERT_EQ(Connect("DSN=Empty", SQL_DRIVER_PROMPT), SQL_SUCCESS);
    EXPECT_TRUE(g_locksFreeInDialog);
    EXPECT_EQ(conn->user, "dlg");
}

// Files a connect reads itself are refused, not waited on, when they are not regular files
// or are too large: the connect goes on without them.
TEST_F(DriverConnectTest, FilesThatCouldKeepAConnectWaitingAreRefused) {
    TempDir dir;
    const std::string pipe = dir / "pipe.dsn";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    // 300,000 entries: far beyond what a File DSN holds.
    std::string huge = "[ODBC]\nUID=hugeuser\n";
    for (int k = 0; k < 300000; ++k)
        huge += "K" + std::to_string(k) + "=v\n";
    trace_support::WriteFile(dir / "huge.dsn", huge);
    struct Case {
        std::string in;
        SQLRETURN rc;
        const char* user;
    } cases[] = {
        {"FILEDSN=" + pipe, SQL_SUCCESS, ""},
        {"FILEDSN=" + (dir / "huge.dsn"), SQL_SUCCESS, ""},
        {"DSN=Empty;UID=u;INITSQL=" + pipe, SQL_SUCCESS_WITH_INFO, "u"},
    };
    for (const Case& c : cases) {
        auto done = std::async(std::launch::async, [&] { return Connect(c.in); });
        if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);  // let the waiting reader go
            close(fd);
            done.wait();
            ADD_FAILURE() << c.in << " waited";
        }
        EXPECT_EQ(done.get(), c.rc) << c.in;
        EXPECT_EQ(conn->user, c.user) << c.in;
        if (c.rc == SQL_SUCCESS_WITH_INFO) {
            EXPECT_EQ(Messages(conn->diag),
                      std::vector<std::string>{"Unable to read the initial SQL file " + pipe +
                                               ": not a regular file[SQLSTATE:01000]"});
        }
        Disconnect();
    }
}

// Process-wide state is touched only inside the connect lock, which the agent's connect
// runs in; it is free again afterwards.
TEST_F(DriverConnectTest, ConnectRunsInsideTheConnectLock) {
    auto lockFree = [] {
        return std::async(std::launch::async, [] {
                   std::unique_lock<std::recursive_mutex> l(Drv().connectLock, std::try_to_lock);
                   return l.owns_lock();
               }).get();
    };
    int held = 0;
    fake.onConnect = [&] { held += lockFree() ? 0 : 1; };
    ASSERT_EQ(Connect("DSN=Empty"), SQL_SUCCESS);
    Disconnect();
    ASSERT_EQ(CallODBC(kConnectRec, HandleFromId(conn->id), ConnectArgs{"Empty", SQL_NTS, "u", SQL_NTS,
                       "p", SQL_NTS, WIDTH_NARROW}),
              SQL_SUCCESS);
    EXPECT_EQ(held, 2);
    EXPECT_TRUE(lockFree());
}

TEST_F(DriverConnectTest, TraceNeverShowsAPassword) {
    TempDir dir;
    ScopedEnv file("KVR_DEBUGFILE", dir / "trace.log");
    ASSERT_EQ(DrvAttach(), 1);
    ASSERT_EQ(Connect("DSN=Sales;PWD=secret1"), SQL_SUCCESS);
    Disconnect();
    ASSERT_EQ(CallODBC(kConnectRec, HandleFromId(conn->id), ConnectArgs{"Sales", SQL_NTS, "bob",
                       SQL_NTS, "secret2", SQL_NTS, WIDTH_NARROW}),
              SQL_SUCCESS);
    Disconnect();
    // A user name that looks like the start of a braced value to a careless reader.
    ASSERT_EQ(CallODBC(kConnectRec, HandleFromId(conn->id), ConnectArgs{"Sales", SQL_NTS, " {bob",
                       SQL_NTS, "secret3", SQL_NTS, WIDTH_NARROW}),
              SQL_SUCCESS);
    EXPECT_EQ(conn->password, "secret3");
    Disconnect();
    ASSERT_EQ(Connect("DSN=Sales;UID= {bob;PWD=secret4"), SQL_SUCCESS);
    EXPECT_EQ(conn->password, "secret4");
    DrvDetach();  // closes the trace (and frees the handles)
    std::string trace = ReadFile(dir / "trace.log");
    for (const char* secret : {"secret1", "secret2", "secret3", "secret4", "salespwd", "key=[PWD]", "key=[FDSN]"})
        EXPECT_EQ(trace.find(secret), std::string::npos) << secret << " in\n" << trace;
    for (const char* line :
         {"\nconnStr=[DSN=Sales;PWD=***]\n", "\n  key=[UID] data=[ann] supplied=0\n",
          "\n  key=[DSN] data=[Sales] supplied=1\n",
          "\ncn_dbpath=[/data/sales.db] cn_dbopts=[-H dbhost -S 2500] cn_readonly=1\n",
          "\ncn_fetchSize=100 cn_dbhost=[] cn_svtype=[]\n",
          "\ncn_needbind=0\ncn_hasMoreRes=0\ncn_hasParamOp=0\ncn_hasScrlCurs=0\ncn_hasDynMixCurs=0\ncn_hasV2DAE=0\n"
          "cn_spOutDeferFetch=0\ncn_hasExecute2=0\nautocommit=1\n",
          "\nDSN=Sales;UID=bob;PWD=***\n", "\nconnStr=[DSN=Sales;UID=bob;PWD=***]\n"})
        EXPECT_NE(trace.find(line), std::string::npos) << line << " not in\n" << trace;
}

}  // namespace
