// What one uncontended call costs in the dispatcher: SQLNumResultCols and SQLRowCount on a
// prepared statement, called many times in a row on one thread, in nanoseconds per call.
// Each library is measured called directly (loaded with dlopen, the driver's own cost) and
// through unixODBC; the null driver (null_driver.cpp) through unixODBC gives what the
// Driver Manager alone costs, and called directly what a call into a shared library costs.
//
//   build/bench/dispatch_bench [calls]   (default 5,000,000 per figure; best of BENCH_REPEAT=3)
//   BENCH_LIBS=a|w measures one library only; BENCH_ONLY=direct|dm the calls made directly or
//   through unixODBC only; BENCH_LIB_A and BENCH_LIB_W name other builds of the libraries
//   (another commit's, to compare in the same run); BENCH_IDLE_THREAD=1 starts a thread that
//   only waits, as in an application of many threads (glibc's mutexes skip their atomic
//   operations while a process has one thread).
#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <thread>

namespace {

using AllocHandleFn = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
using SetEnvAttrFn = SQLRETURN (*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
using NumResultColsFn = SQLRETURN (*)(SQLHSTMT, SQLSMALLINT*);
using RowCountFn = SQLRETURN (*)(SQLHSTMT, SQLLEN*);
using FreeHandleFn = SQLRETURN (*)(SQLSMALLINT, SQLHANDLE);
using DisconnectFn = SQLRETURN (*)(SQLHDBC);

// The calls a measurement makes, from the Driver Manager or from a driver library.
struct Api {
    AllocHandleFn allocHandle = SQLAllocHandle;
    SetEnvAttrFn setEnvAttr = SQLSetEnvAttr;
    NumResultColsFn numResultCols = SQLNumResultCols;
    RowCountFn rowCount = SQLRowCount;
    FreeHandleFn freeHandle = SQLFreeHandle;
    DisconnectFn disconnect = SQLDisconnect;
    // Connect and prepare, narrow or wide as the library exports them.
    bool (*connectAndPrepare)(void* lib, SQLHDBC dbc, SQLHSTMT* stmt, const std::string& connect) = nullptr;
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s failed\n", what);
    std::exit(1);
}

template <class F>
F Resolve(void* lib, const char* name) {
    void* f = dlsym(lib, name);
    if (f == nullptr)
        Fail(name);
    return reinterpret_cast<F>(f);
}

std::u16string Utf16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The statement measured: prepared, so that both calls answer from what the statement keeps.
constexpr const char* kQuery = "select 1, 2, 3 from sysprogress.syscalctable";

bool ConnectNarrow(void* lib, SQLHDBC dbc, SQLHSTMT* stmt, const std::string& connect) {
    using DriverConnectFn = SQLRETURN (*)(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                          SQLSMALLINT*, SQLUSMALLINT);
    using PrepareFn = SQLRETURN (*)(SQLHSTMT, SQLCHAR*, SQLINTEGER);
    auto driverConnect = lib ? Resolve<DriverConnectFn>(lib, "SQLDriverConnect") : SQLDriverConnect;
    auto prepare = lib ? Resolve<PrepareFn>(lib, "SQLPrepare") : SQLPrepare;
    auto alloc = lib ? Resolve<AllocHandleFn>(lib, "SQLAllocHandle") : SQLAllocHandle;
    std::string in = connect;
    if (!SQL_SUCCEEDED(driverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT)))
        return false;
    std::string q = kQuery;
    return SQL_SUCCEEDED(alloc(SQL_HANDLE_STMT, dbc, stmt)) &&
           SQL_SUCCEEDED(prepare(*stmt, reinterpret_cast<SQLCHAR*>(q.data()), SQL_NTS));
}

bool ConnectWide(void* lib, SQLHDBC dbc, SQLHSTMT* stmt, const std::string& connect) {
    using DriverConnectFn = SQLRETURN (*)(SQLHDBC, SQLHWND, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                                          SQLSMALLINT*, SQLUSMALLINT);
    using PrepareFn = SQLRETURN (*)(SQLHSTMT, SQLWCHAR*, SQLINTEGER);
    auto driverConnect = Resolve<DriverConnectFn>(lib, "SQLDriverConnectW");
    auto prepare = Resolve<PrepareFn>(lib, "SQLPrepareW");
    auto alloc = Resolve<AllocHandleFn>(lib, "SQLAllocHandle");
    std::u16string in = Utf16(connect), q = Utf16(kQuery);
    if (!SQL_SUCCEEDED(driverConnect(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(in.data()), SQL_NTS, nullptr, 0,
                                     nullptr, SQL_DRIVER_NOPROMPT)))
        return false;
    return SQL_SUCCEEDED(alloc(SQL_HANDLE_STMT, dbc, stmt)) &&
           SQL_SUCCEEDED(prepare(*stmt, reinterpret_cast<SQLWCHAR*>(q.data()), SQL_NTS));
}

// Nanoseconds per call of each of the two calls, the best of `repeat` runs of `calls`.
struct Figure {
    double numResultCols = 1e30;
    double rowCount = 1e30;
};

Figure Measure(const Api& api, void* lib, const std::string& connect, long calls, int repeat) {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    if (!SQL_SUCCEEDED(api.allocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        Fail("environment");
    api.setEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(api.allocHandle(SQL_HANDLE_DBC, env, &dbc)))
        Fail("connection");
    if (!api.connectAndPrepare(lib, dbc, &stmt, connect))
        Fail(connect.c_str());
    SQLSMALLINT cols = 0;
    SQLLEN rows = 0;
    if (!SQL_SUCCEEDED(api.numResultCols(stmt, &cols)) || cols <= 0)
        Fail("SQLNumResultCols");
    using Clock = std::chrono::steady_clock;
    auto perCall = [calls](Clock::duration d) {
        return std::chrono::duration<double, std::nano>(d).count() / static_cast<double>(calls);
    };
    Figure best;
    for (int r = 0; r < repeat; ++r) {
        auto t0 = Clock::now();
        for (long i = 0; i < calls; ++i)
            api.numResultCols(stmt, &cols);
        auto t1 = Clock::now();
        for (long i = 0; i < calls; ++i)
            api.rowCount(stmt, &rows);
        auto t2 = Clock::now();
        best.numResultCols = std::min(best.numResultCols, perCall(t1 - t0));
        best.rowCount = std::min(best.rowCount, perCall(t2 - t1));
    }
    api.freeHandle(SQL_HANDLE_STMT, stmt);
    api.disconnect(dbc);
    api.freeHandle(SQL_HANDLE_DBC, dbc);
    api.freeHandle(SQL_HANDLE_ENV, env);
    return best;
}

Api DirectApi(void* lib, bool wide) {
    Api api;
    api.allocHandle = Resolve<AllocHandleFn>(lib, "SQLAllocHandle");
    api.setEnvAttr = Resolve<SetEnvAttrFn>(lib, "SQLSetEnvAttr");
    api.numResultCols = Resolve<NumResultColsFn>(lib, "SQLNumResultCols");
    api.rowCount = Resolve<RowCountFn>(lib, "SQLRowCount");
    api.freeHandle = Resolve<FreeHandleFn>(lib, "SQLFreeHandle");
    api.disconnect = Resolve<DisconnectFn>(lib, "SQLDisconnect");
    api.connectAndPrepare = wide ? ConnectWide : ConnectNarrow;
    return api;
}

void Print(const char* what, const Figure& f) {
    std::printf("  %-34s SQLNumResultCols %6.1f ns   SQLRowCount %6.1f ns\n", what, f.numResultCols, f.rowCount);
}

}  // namespace

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 5000000;
    const char* repeatText = std::getenv("BENCH_REPEAT");
    const int repeat = std::max(1, repeatText != nullptr ? std::atoi(repeatText) : 3);
    const char* only = std::getenv("BENCH_LIBS");
    const char* road = std::getenv("BENCH_ONLY");
    const bool direct = road == nullptr || std::strcmp(road, "dm") != 0;
    const bool throughDm = road == nullptr || std::strcmp(road, "direct") != 0;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/dispatch-bench-" + std::to_string(getpid());
    std::system(("mkdir -p " + dir).c_str());
    const std::string db = dir + "/d.db";
    const char* libA = std::getenv("BENCH_LIB_A") != nullptr ? std::getenv("BENCH_LIB_A") : VARNO_LIB_A;
    const char* libW = std::getenv("BENCH_LIB_W") != nullptr ? std::getenv("BENCH_LIB_W") : VARNO_LIB_W;
    std::ofstream(dir + "/odbcinst.ini") << "[Varno A]\nDriver = " << libA << "\n[Varno W]\nDriver = " << libW
                                          << "\n[Null Bench]\nDriver = " NULL_LIB "\n";
    std::ofstream(dir + "/odbc.ini") << "";
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
    std::printf("%ld calls a figure, best of %d\n", calls, repeat);
    std::promise<void> finish;
    std::thread idle;
    if (const char* t = std::getenv("BENCH_IDLE_THREAD"); t != nullptr && std::strcmp(t, "1") == 0) {
        idle = std::thread([f = finish.get_future()] { f.wait(); });
        std::printf("with a second, idle thread\n");
    }

    Api dm;
    dm.connectAndPrepare = ConnectNarrow;
    const struct {
        const char* name;
        const char* path;
        const char* dmName;
        bool wide;
    } libs[] = {{"a", libA, "Varno A", false}, {"w", libW, "Varno W", true}};
    for (const auto& l : libs) {
        if (only != nullptr && std::strcmp(only, l.name) != 0)
            continue;
        std::printf("%s\n", l.path);
        void* lib = dlopen(l.path, RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            Fail(dlerror());
        if (direct)
            Print("called directly", Measure(DirectApi(lib, l.wide), lib, "DATABASENAME=" + db, calls, repeat));
        // Through unixODBC the narrow calls reach either library (as wide ones for libvarnodw).
        if (throughDm)
            Print("through unixODBC", Measure(dm, nullptr, std::string("DRIVER={") + l.dmName + "};DATABASENAME=" + db,
                                              calls, repeat));
    }
    std::printf("null driver\n");
    void* null = dlopen(NULL_LIB, RTLD_NOW | RTLD_LOCAL);
    if (null == nullptr)
        Fail(dlerror());
    Api nullDirect = DirectApi(null, false);
    if (direct)
        Print("called directly", Measure(nullDirect, null, "", calls, repeat));
    if (throughDm)
        Print("through unixODBC (unixODBC's own)", Measure(dm, nullptr, "DRIVER={Null Bench}", calls, repeat));
    std::system(("rm -rf " + dir).c_str());
    finish.set_value();
    if (idle.joinable())
        idle.join();
    return 0;
}
