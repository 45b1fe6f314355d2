// The ODBC and XA traces: a golden trace of calls through the dispatcher, the path and its
// escapes, configuration by environment and by odbcinst.ini, the level of the log lines in
// the trace, "stderr" as a path, and password masking.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/library/library.h"
#include "driver/frame/resources.h"
#include "driver/frame/trace.h"
#include "driver/objects/connconf.h"
#include "driver/objects/envr.h"
#include "driver/objects/connconf.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "trace_support.h"
#include "util/log.h"

using namespace trace_support;

namespace {

std::string Hex(unsigned long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lX", v);
    return buf;
}

unsigned long ThisThread() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

SQLRETURN Succeed(HANDLE_HDR*, const NoArgs&) { return SQL_SUCCESS; }

struct SqlTextArgs {
    SQLCHAR* text;
    SQLINTEGER length;
    auto TraceFields() const { return std::tuple(text, length); }
};
SQLRETURN LogAndFail(HANDLE_HDR*, const SqlTextArgs& a) {
    LOG_MSG(LOG_DEBUG, "statement at %lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(a.text)));
    return SQL_ERROR;
}

struct ConnStrArgs {
    const char* in;
    std::tuple<> TraceFields() const { return {}; }
};
SQLRETURN TraceConnectString(HANDLE_HDR*, const ConnStrArgs& a) {
    TraceLog("szConnStrIn=%s", ConnMaskPassword(a.in).c_str());
    return SQL_SUCCESS_WITH_INFO;
}

constexpr auto kAllocEnv = MakeCall<Succeed>("AllocEnv", "", 1, CALL_KIND_NONE);
constexpr auto kAllocConnect = MakeCall<Succeed>("AllocConnect", "", 1, CALL_KIND_ENV);
constexpr auto kDriverConnect = MakeCall<TraceConnectString>("DriverConnect", "", 1, CALL_KIND_DBC);
constexpr auto kExecDirect = MakeCall<LogAndFail>("ExecDirect", "szSqlStr=%lX cbSqlStr=%ld", 1, CALL_KIND_STMT);
constexpr auto kFetch = MakeCall<Succeed>("Fetch", "", 1, CALL_KIND_STMT);

// An environment with one connection and one statement, registered in the driver's tables.
struct Handles {
    Handles() {
        DRV_GLOBALS& g = Drv();
        std::lock_guard<std::recursive_mutex> guard(g.handleLock);
        envr = new ENVR;
        envr->state = ENVR_OPEN;  // so that detach closes it with its connection
        hdl_Add(&g.envTable, &envr->id, static_cast<HANDLE_HDR*>(envr));
        envr->next = g.envList;
        g.envList = envr;
        conn = new CONN;
        conn->envr = envr;
        envr->conns = conn;
        hdl_Add(&g.connTable, &conn->id, static_cast<HANDLE_HDR*>(conn));
        stmt = new STMT(conn);
        hdl_Add(&g.stmtTable, &stmt->id, static_cast<HANDLE_HDR*>(stmt));
    }
    // The statement goes here; detach releases the environment and its connection.
    void DropStatement() {
        hdl_Remove(&Drv().stmtTable, stmt->id);
        delete stmt;
        stmt = nullptr;
    }
    ENVR* envr;
    CONN* conn;
    STMT* stmt;
};

const char kGoldenTrace[] =
    "** Tessaryn ODBC Trace file for UNIT_TESTS **\n"
    "** started on Mon Mar 02 09:05:07 2026 **\n"
    "\n"
    "[TID] SQLAllocEnv\n"
    "[TID] SQLAllocEnv: returning SQL_SUCCESS\n"
    "\n"
    "[TID] SQLAllocConnect hEnv=ENV\n"
    "[TID] SQLAllocConnect: returning SQL_SUCCESS\n"
    "\n"
    "[TID] SQLDriverConnect hDbc=DBC\n"
    "szConnStrIn=DSN=sales;UID=ann;PWD=***;\n"
    "[TID] SQLDriverConnect: returning SQL_SUCCESS_WITH_INFO\n"
    "\n"
    "[TID] SQLExecDirect hStmt=STMT\n"
    "szSqlStr=1234 cbSqlStr=-3\n"
    "\n"
    "\t\tMon Mar 02 2026\n"
    "09:05:07 statement at 1234\n"
    "[TID] SQLExecDirect: returning SQL_ERROR\n"
    "\n"
    "[TID] SQLFetch hStmt=3FFFF\n"
    "[TID] SQLFetch: returning SQL_INVALID_HANDLE\n"
    "\n"
    "** finished on Mon Mar 02 09:05:07 2026 **\n"
    "** normal end **\n";

TEST(Trace, GoldenTraceOfCallsThroughTheDispatcher) {
    TempDir dir;
    ScopedFixedClock clock;
    ScopedEnv file("KVR_DEBUGFILE", dir.path() + "/odbc-$P.log");
    ScopedEnv level("KVR_DEBUGLEVEL", "7");
    ASSERT_EQ(DrvAttach(), 1);
    ASSERT_TRUE(TraceIsOn());

    Handles h;
    const std::string envHex = Hex(h.envr->id);
    const std::string dbcHex = Hex(h.conn->id);
    const std::string stmtHex = Hex(h.stmt->id);
    EXPECT_EQ(CallODBC(kAllocEnv, nullptr, NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(CallODBC(kAllocConnect, HandleFromId(h.envr->id), NoArgs{}), SQL_SUCCESS);
    EXPECT_EQ(CallODBC(kDriverConnect, HandleFromId(h.conn->id), ConnStrArgs{"DSN=sales;UID=ann;PWD={se;cret};"}),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(CallODBC(kExecDirect, HandleFromId(h.stmt->id),
                       SqlTextArgs{reinterpret_cast<SQLCHAR*>(uintptr_t{0x1234}), SQL_NTS}),
              SQL_ERROR);
    EXPECT_EQ(CallODBC(kFetch, HandleFromId(0x3FFFF), NoArgs{}), SQL_INVALID_HANDLE);
    h.DropStatement();
    DrvDetach();
    EXPECT_FALSE(TraceIsOn());
    EXPECT_EQ(TraceStreamOf(TRACE_ODBC), nullptr);

    std::string trace = ReadFile(dir / ("odbc-" + std::to_string(getpid()) + ".log"));
    trace = ReplaceAll(trace, "[" + Hex(ThisThread()) + "]", "[TID]");
    trace = ReplaceAll(trace, "hEnv=" + envHex + "\n", "hEnv=ENV\n");
    trace = ReplaceAll(trace, "hDbc=" + dbcHex + "\n", "hDbc=DBC\n");
    trace = ReplaceAll(trace, "hStmt=" + stmtHex + "\n", "hStmt=STMT\n");
    EXPECT_EQ(trace, kGoldenTrace);
}

TEST(Trace, LevelOfTheLogLinesInTheTrace) {
    struct Case {
        const char* level;
        bool debugLine;
        bool errorLine;
    } cases[] = {{"7", true, true}, {"3", false, true}, {"-1", false, false}, {"junk", true, true}};
    for (const Case& c : cases) {
        TempDir dir;
        ScopedFixedClock clock;
        ScopedEnv file("KVR_DEBUGFILE", dir / "t.log");
        ScopedEnv level("KVR_DEBUGLEVEL", c.level);
        ASSERT_EQ(DrvAttach(), 1);
        LOG_MSG(LOG_DEBUG, "a debug line");
        LOG_MSG(LOG_ERR, "an error line");
        DrvDetach();
        std::string trace = ReadFile(dir / "t.log");
        EXPECT_EQ(trace.find("09:05:07 a debug line\n") != std::string::npos, c.debugLine) << c.level;
        EXPECT_EQ(trace.find("09:05:07 an error line\n") != std::string::npos, c.errorLine) << c.level;
    }
}

TEST(Trace, SinkLevelSetting) {
    struct Case {
        const char* text;
        int level;
    } cases[] = {{"3", 3}, {" 4 ", 4}, {"0", 0}, {"-1", -1}, {"-9", -1}, {"12", 7}, {"", 7}, {"2x", 7}};
    for (const Case& c : cases) {
        ScopedEnv level("KVR_DEBUGLEVEL", c.text);
        EXPECT_EQ(TraceSinkLevelSetting(), c.level) << '"' << c.text << '"';
    }
}

TEST(Trace, PathEscapes) {
    ScopedFixedClock clock;
    ScopedEnv home("HOME", "/home/tester");
    const std::string pid = std::to_string(getpid());
    const passwd* pw = getpwuid(geteuid());
    const std::string user = pw != nullptr ? pw->pw_name : "";
    struct Case {
        const char* path;
        std::string expected;
    } cases[] = {
        {"/tmp/plain.log", "/tmp/plain.log"},
        {"$H/t.log", "/home/tester/t.log"},
        {"$h/t.log", "/home/tester/t.log"},
        {"t-$P.log", "t-" + pid + ".log"},
        {"t-$p-$T.log", "t-" + pid + "-20260302-090507.log"},
        {"$U.log", user + ".log"},
        {"a$$U", "a$U"},
        {"$$$$", "$$"},
        {"$xtrace", "trace"},
        {"trace$", "trace"},  // a '$' at the end reads nothing past the text
        {"$", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TraceExpandPath(c.path), c.expected) << c.path;
}

TEST(Trace, UnopenablePathsLeaveTracingOff) {
    TempDir dir;
    for (std::string path : {std::string(), dir / "missing/dir/t.log"}) {
        ScopedEnv file("KVR_DEBUGFILE", path);
        TraceOpen(TRACE_ODBC);
        EXPECT_FALSE(TraceIsOn()) << path;
        EXPECT_EQ(TraceStreamOf(TRACE_ODBC), nullptr);
        TraceLog("nothing %d", 1);  // harmless while off
        TraceClose(TRACE_ODBC);
    }
}

// The trace path is often predictable: a link planted there must not make the driver
// truncate and write the link's target, and the trace (which may show data) is the
// user's alone.
TEST(Trace, FileIsPrivateAndALinkAtItsPathIsNotFollowed) {
    TempDir dir;
    WriteFile(dir / "victim", "keep me\n");
    ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / "link.log").c_str()), 0);
    {
        ScopedEnv file("KVR_DEBUGFILE", dir / "link.log");
        TraceOpen(TRACE_ODBC);
        EXPECT_FALSE(TraceIsOn());
        TraceLog("not written");
        TraceClose(TRACE_ODBC);
    }
    EXPECT_EQ(ReadFile(dir / "victim"), "keep me\n");

    ScopedEnv file("KVR_DEBUGFILE", dir / "t.log");
    TraceOpen(TRACE_ODBC);
    TraceOpen(TRACE_XA);
    EXPECT_TRUE(TraceIsOn());
    TraceClose(TRACE_XA);
    TraceClose(TRACE_ODBC);
    for (const char* name : {"t.log", "t.log-xa"}) {
        struct stat st {};
        ASSERT_EQ(stat((dir / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
}

TEST(Trace, XaStreamHasItsOwnFileAndBanner) {
    TempDir dir;
    ScopedFixedClock clock;
    ScopedEnv file("KVR_DEBUGFILE", dir / "t.log");
    TraceOpen(TRACE_ODBC);
    TraceOpen(TRACE_XA);
    TraceOpen(TRACE_XA);  // already open: no second banner, no truncation
    TraceLogXA(1, "prepare %d", 7);
    TraceLogXA(0, "bare");
    TraceClose(TRACE_XA);
    EXPECT_TRUE(TraceIsOn());  // the ODBC stream is still open
    TraceLog("odbc line");
    TraceClose(TRACE_ODBC);
    EXPECT_FALSE(TraceIsOn());

    EXPECT_EQ(ReadFile(dir / "t.log-xa"),
              "** Tessaryn XA Trace File **\n"
              "** started on Mon Mar 02 09:05:07 2026 **\n"
              "\n\n"
              "[" + std::to_string(ThisThread()) + "] prepare 7\n"
              "bare\n"
              "\n** finished on Mon Mar 02 09:05:07 2026 **\n"
              "** normal end **\n");
    EXPECT_EQ(ReadFile(dir / "t.log"),
              "** Tessaryn ODBC Trace file for UNIT_TESTS **\n"
              "** started on Mon Mar 02 09:05:07 2026 **\n"
              "odbc line\n"
              "\n** finished on Mon Mar 02 09:05:07 2026 **\n"
              "** normal end **\n");
}

TEST(TraceFreshProcess, StderrAsThePath) {
    UseFreshProcessForDeathTests();
    EXPECT_EXIT(
        {
            ScopedFixedClock clock;
            setenv("KVR_DEBUGFILE", "stderr", 1);
            TraceOpen(TRACE_ODBC);
            TraceLog("line %d", 1);
            TraceClose(TRACE_ODBC);
            std::fputs("still open\n", stderr);  // standard error is never closed
            std::exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^\\*\\* Tessaryn ODBC Trace file for UNIT_TESTS \\*\\*\n"
        "\\*\\* started on Mon Mar 02 09:05:07 2026 \\*\\*\n"
        "line 1\n"
        "\n\\*\\* finished on Mon Mar 02 09:05:07 2026 \\*\\*\n"
        "\\*\\* normal end \\*\\*\n"
        "still open\n$");
}

// The path and the level from the driver's own section of odbcinst.ini, read through the
// installer library, and the environment taking precedence. In a process of its own, since
// the library fixes its configuration directory at first use.
TEST(TraceFreshProcess, ConfiguredInOdbcinstIni) {
    UseFreshProcessForDeathTests();
    TempDir dir;
    // The library's own section: named by its description.
    WriteFile(dir / "odbcinst.ini",
              std::string("[") + DrvVariant().description + "]\n"
              "Driver = /nowhere/" + DrvVariant().fileName + "\n"
              "DebugFile = " + dir.path() + "/ini-$P.log\n"
              "DebugLevel = 3\n");
    EXPECT_EXIT(
        {
            setenv("ODBCSYSINI", dir.path().c_str(), 1);
            unsetenv("KVR_DEBUGFILE");
            unsetenv("KVR_DEBUGLEVEL");
            DrvAttach();
            LOG_MSG(LOG_DEBUG, "not at level 3");
            LOG_MSG(LOG_ERR, "at level 3");
            DrvDetach();
            std::string trace = ReadFile(dir / ("ini-" + std::to_string(getpid()) + ".log"));
            bool ok = trace.rfind("** Tessaryn ODBC Trace file for UNIT_TESTS **\n", 0) == 0 &&
                      trace.find("at level 3\n") != std::string::npos &&
                      trace.find("not at level 3") == std::string::npos &&
                      trace.find("** normal end **\n") != std::string::npos;
            // The environment wins over the file.
            setenv("KVR_DEBUGFILE", (dir / "env.log").c_str(), 1);
            std::string path;
            ok = ok && TraceConfiguredPath(&path) && path == dir / "env.log";
            std::fputs(ok ? "configured\n" : trace.c_str(), stderr);
            std::filesystem::remove_all(dir.path());  // exit skips the destructor
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^configured\n$");
}

TEST(TraceMask, PasswordsNeverReachATrace) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"DSN=x;UID=u;PWD=secret;", "DSN=x;UID=u;PWD=***;"},
        {"pwd={a;b}}c};DSN=y", "pwd=***;DSN=y"},
        {"DSN=y; Pwd = s ", "DSN=y; Pwd =***"},
        {"PWDX=1;PWD=2", "PWDX=1;PWD=***"},
        {"DRIVER={x;PWD=y};PWD=z", "DRIVER={x;PWD=y};PWD=***"},
        {"PWD=", "PWD=***"},
        {"DSN=a;;PWD", "DSN=a;;PWD"},
        // A blank before '{' makes no braced value: the parser's password starts after ';'.
        {"UID= {bob;PWD=LeakSecret2", "UID= {bob;PWD=***"},
        // An unclosed brace runs to the end, password and all.
        {"UID=u;PWD={se;cret", "UID=u;PWD=***"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConnMaskPassword(c.in), c.out) << c.in;
}

}  // namespace
