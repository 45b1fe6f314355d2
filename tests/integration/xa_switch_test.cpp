// The exported XA switch record through the real unixODBC Driver Manager, with the
// embedded server's agent, which has no XA operations: the open connects by data source
// name, finds the driver's connection behind the Driver Manager's, refuses with
// XAER_RMERR, and disconnects and frees what it took. Uses the private configuration
// of driver_manager_test.cpp (data sources VarnoW and VarnoA).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// The X/Open switch record as a transaction manager declares it (LP64).
struct xa_switch_t {
    char name[32];
    long flags;
    long version;
    int (*xa_open_entry)(char*, int, long);
    int (*xa_close_entry)(char*, int, long);
    void* rest[8];
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// In a process of its own, so that the library starts its XA trace for this test.
bool OpenIsRefused(const char* lib, const char* dsn) {
    std::string dir = std::filesystem::temp_directory_path() / "varno-xa-XXXXXX";
    if (mkdtemp(dir.data()) == nullptr)
        return false;
    setenv("KVR_DEBUGFILE", (dir + "/t.log").c_str(), 1);
    void* h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    auto* sw = h != nullptr ? static_cast<xa_switch_t*>(dlsym(h, "tessaryn_xa_switch")) : nullptr;
    if (sw == nullptr || std::string(sw->name) != "TESSARYN") {
        std::fprintf(stderr, "no switch record in %s\n", lib);
        return false;
    }
    std::string open = std::string("DSN=") + dsn + ";UID=ann";
    int rc = sw->xa_open_entry(open.data(), 1, 0);
    char close[] = "DSN=nowhere";
    int closeRc = sw->xa_close_entry(close, 1, 0);
    const std::string xa = ReadFile(dir + "/t.log-xa");
    const std::string odbc = ReadFile(dir + "/t.log");
    // The Driver Manager's disconnect and free reached the driver, after the refusal.
    const size_t refused = xa.find("] xa_switch_open(" + std::string(dsn) + ", 1, 0)\nAgent does not support XA\n[");
    const size_t disconnect = odbc.find("] SQLDisconnect hDbc=");
    const size_t freed = odbc.find("] SQLFreeHandle", disconnect);
    bool ok = rc == -3 && closeRc == -3 && refused != std::string::npos &&
              xa.find("] Call returned: XAER_RMERR(-3)\n", refused) != std::string::npos &&
              disconnect != std::string::npos && freed != std::string::npos;
    if (!ok)
        std::fprintf(stderr, "rc %d, close %d\nXA trace:\n%s\nODBC trace:\n%s\n", rc, closeRc, xa.c_str(),
                     odbc.c_str());
    std::filesystem::remove_all(dir);
    return ok;
}

TEST(XaSwitch, OpenIsRefusedByAnAgentWithoutXaAndGivesBackItsConnection) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(OpenIsRefused(VARNO_LIB_W, "VarnoW") ? 0 : 1), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(std::exit(OpenIsRefused(VARNO_LIB_A, "VarnoA") ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace
