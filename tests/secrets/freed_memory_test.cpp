// No password in freed memory: this program replaces free() with one that scans every
// block it frees for a password marker, then connects through the driver's own entry
// points (SQLDriverConnect, SQLConnect, SQLDriverConnectW) against the embedded server and
// disconnects; then opens and closes the XA switch with an open string that holds it,
// against a fake Driver Manager and agent; then keeps an agent connection's parameters in
// the cursor library's bookkeeping and drops them, by the library's disconnect and by the
// agent's free of the connection. Any freed block that still held the marker is a
// copy of the password that the driver left to the heap. It runs on its own, without the test framework, whose
// allocations are not the driver's; the sanitizers' allocator cannot be replaced this way.
#include <dlfcn.h>
#include <malloc.h>
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"
#include "dtc/xa_switch.h"
#include "scrs/scs_conn.h"

extern "C" xa_switch_t tessaryn_xa_switch;

namespace {

// The password of every connect. Texts holding it are built in stack buffers, so that the
// program itself never frees a copy.
constexpr char kMarker[] = "Pw9MarkerQz";

bool g_armed = false;
int g_hits = 0;
using FreeFn = void (*)(void*);
FreeFn g_realFree = nullptr;
char g_dir[256];

// The embedded server's database and a data source for it, written before the driver's
// start-up (which runs as a constructor of this program) reads any configuration.
__attribute__((constructor(101))) void WriteConfiguration() {
    g_realFree = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
    const char* tmp = std::getenv("TMPDIR");
    std::snprintf(g_dir, sizeof g_dir, "%s/varno-secrets-XXXXXX", tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
    if (mkdtemp(g_dir) == nullptr)
        std::abort();
    char path[512];
    std::snprintf(path, sizeof path, "%s/odbc.ini", g_dir);
    FILE* f = std::fopen(path, "w");
    std::fprintf(f, "[FreeDsn]\nDatabaseName = %s/free.db\nUID = u\n", g_dir);
    std::fclose(f);
    setenv("ODBCINI", path, 1);
    std::snprintf(path, sizeof path, "%s/odbcinst.ini", g_dir);
    std::fclose(std::fopen(path, "w"));
    setenv("ODBCSYSINI", g_dir, 1);
    unsetenv("KVR_DEBUGFILE");
}

}  // namespace

extern "C" void free(void* p) {
    if (p == nullptr)
        return;
    if (g_realFree == nullptr)
        return;  // only while dlsym looks the real one up: that block is left alone
    if (g_armed) {
        size_t n = malloc_usable_size(p);
        if (memmem(p, n, kMarker, sizeof kMarker - 1) != nullptr)
            ++g_hits;
    }
    g_realFree(p);
}

namespace {

// Runs one connect and its disconnect; returns the freed blocks that held the password.
template <class Connect>
int Hits(const char* name, SQLHDBC dbc, Connect connect) {
    g_hits = 0;
    g_armed = true;
    SQLRETURN rc = connect();
    SQLRETURN rd = SQLDisconnect(dbc);
    g_armed = false;
    if (!SQL_SUCCEEDED(rc) || rd != SQL_SUCCESS) {
        std::printf("%s: connect %d, disconnect %d\n", name, rc, rd);
        return 1;
    }
    if (g_hits != 0)
        std::printf("%s: %d freed blocks held the password\n", name, g_hits);
    return g_hits;
}

// The XA switch's Driver Manager and agent: every call succeeds; the agent has XA when
// g_agentHasXA is set.
bool g_agentHasXA = true;
char g_dmHandle;
const XA_DM_API kFakeDm = {
    [](SQLSMALLINT, SQLHANDLE, SQLHANDLE* out) -> SQLRETURN {
        *out = &g_dmHandle;
        return SQL_SUCCESS;
    },
    [](SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) -> SQLRETURN { return SQL_SUCCESS; },
    [](SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*, SQLUSMALLINT) -> SQLRETURN {
        return SQL_SUCCESS;
    },
    [](SQLHDBC, SQLUSMALLINT, SQLPOINTER value, SQLSMALLINT, SQLSMALLINT*) -> SQLRETURN {
        *static_cast<SQLHDBC*>(value) = &g_dmHandle;
        return SQL_SUCCESS;
    },
    [](SQLHDBC) -> SQLRETURN { return SQL_SUCCESS; },
    [](SQLSMALLINT, SQLHANDLE) -> SQLRETURN { return SQL_SUCCESS; },
};
const OA_OPTABLE kXaAgent = [] {
    OA_OPTABLE t{};
    t.DRV_XaOpen = [](uint32_t, int32_t, const char*, int32_t, int32_t) { return 0; };
    t.DRV_XaClose = [](uint32_t, const char*, int32_t, int32_t) { return 0; };
    return t;
}();
bool FakeLink(SQLHDBC, DTC_CONN_LINK* out) {
    static DTC_CONN_LINK link = [] {
        DTC_CONN_LINK l;
        l.holder.ops = &kXaAgent;
        l.xaCallLock = std::make_shared<std::recursive_mutex>();
        l.callLock = std::make_shared<HandoffLock>();
        return l;
    }();
    *out = link;
    out->hasXA = g_agentHasXA;
    return true;
}

// An open and close of the XA switch, and an open the agent refuses; the freed blocks that
// held the password.
int XaHits(const char* open) {
    char text[128];
    std::snprintf(text, sizeof text, "%s", open);
    XaSwitchSetSeams(&kFakeDm, FakeLink);
    g_hits = 0;
    g_armed = true;
    g_agentHasXA = true;
    int o = tessaryn_xa_switch.xa_open_entry(text, 1, 0);
    int c = tessaryn_xa_switch.xa_close_entry(text, 1, 0);
    g_agentHasXA = false;
    int refused = tessaryn_xa_switch.xa_open_entry(text, 2, 0);
    g_armed = false;
    XaSwitchSetSeams(nullptr, nullptr);
    if (o != 0 || c != 0 || refused != -3) {
        std::printf("XA switch: open %d, close %d, refused open %d\n", o, c, refused);
        return 1;
    }
    if (g_hits != 0)
        std::printf("XA switch: %d freed blocks held the password\n", g_hits);
    return g_hits;
}

// An agent connection with the cursor library's bookkeeping, dropped by the library's
// disconnect (or, without it, by the agent's free of the connection); the freed blocks
// that held the password. The request's texts are stack buffers.
int BookkeepingHits(bool libraryDisconnect) {
    const char* name = libraryDisconnect ? "bookkeeping" : "bookkeeping dropped by the agent";
    char user[8] = "u";
    char pwd[32];
    std::snprintf(pwd, sizeof pwd, "%s", kMarker);
    char database[512];
    std::snprintf(database, sizeof database, "%s/free.db", g_dir);
    OA_CONNREQ req{};
    req.user = user;
    req.password = pwd;
    req.database = database;
    uint32_t server = 0;
    uint32_t conn = 0;
    g_hits = 0;
    g_armed = true;
    int rs = OA_OpenServer(nullptr, &server);
    int rc = rs == 0 ? OA_Connect(server, &req, &conn) : rs;
    int rb = rc == 0 ? scs_ConnectBookkeeping(server, &req, conn) : rc;
    int rd = rb == 0 && libraryDisconnect ? scs_DisconnectBookkeeping(conn) : rb;
    int ra = rc == 0 ? OA_Disconnect(conn) : rc;
    if (rs == 0)
        OA_CloseServer(server);
    g_armed = false;
    if (rs != 0 || rc != 0 || rb != 0 || rd != 0 || ra != 0) {
        std::printf("%s: server %d, connect %d, bookkeeping %d, %d, disconnect %d\n", name, rs, rc, rb, rd, ra);
        return 1;
    }
    if (g_hits != 0)
        std::printf("%s: %d freed blocks held the password\n", name, g_hits);
    return g_hits;
}

}  // namespace

int main() {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) != SQL_SUCCESS ||
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0) != SQL_SUCCESS ||
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) != SQL_SUCCESS) {
        std::printf("no handles\n");
        return 1;
    }
    char in[128];
    std::snprintf(in, sizeof in, "DSN=FreeDsn;UID=u;PWD=%s", kMarker);
    SQLWCHAR inW[128];
    for (size_t i = 0; i <= std::strlen(in); ++i)
        inW[i] = static_cast<unsigned char>(in[i]);
    char pwd[32];
    std::snprintf(pwd, sizeof pwd, "%s", kMarker);

    int failures = 0;
    failures += Hits("SQLDriverConnect", dbc, [&] {
        SQLCHAR out[512];
        SQLSMALLINT outLen = 0;
        return SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in), SQL_NTS, out, sizeof out, &outLen,
                                SQL_DRIVER_NOPROMPT);
    });
    failures += Hits("SQLConnect", dbc, [&] {
        return SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("FreeDsn")), SQL_NTS,
                          reinterpret_cast<SQLCHAR*>(const_cast<char*>("u")), SQL_NTS,
                          reinterpret_cast<SQLCHAR*>(pwd), SQL_NTS);
    });
    failures += Hits("SQLDriverConnectW", dbc, [&] {
        SQLWCHAR out[512];
        SQLSMALLINT outLen = 0;
        return SQLDriverConnectW(dbc, nullptr, inW, SQL_NTS, out, 512, &outLen, SQL_DRIVER_NOPROMPT);
    });
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    failures += XaHits(in);
    failures += BookkeepingHits(true);
    failures += BookkeepingHits(false);

    std::error_code ignored;
    std::filesystem::remove_all(g_dir, ignored);
    if (failures == 0)
        std::printf("no freed block held the password\n");
    return failures == 0 ? 0 : 1;
}
