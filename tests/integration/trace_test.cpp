// The built libraries open the trace configured in their own odbcinst.ini section when
// they are loaded and close it when they are unloaded.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Loads and unloads the library; true when its trace holds the banner and the closing
// lines. Failures are told on standard error.
bool TracesItsLoad(const char* lib, const std::string& tracePath) {
    void* h = dlopen(lib, RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return false;
    }
    dlclose(h);
    std::string trace = ReadFile(tracePath);
    bool ok = trace.rfind("** Tessaryn ODBC Trace file for INTEGRATION_TESTS **\n** started on ", 0) == 0 &&
              trace.find("\n** finished on ") != std::string::npos &&
              trace.size() > 17 && trace.compare(trace.size() - 17, 17, "** normal end **\n") == 0;
    if (!ok)
        std::fprintf(stderr, "%s: [%s]\n", tracePath.c_str(), trace.c_str());
    return ok;
}

// In a process of its own: the installer library fixes its configuration directory at
// first use.
TEST(Trace, LibrariesTraceTheirLoadWhenOdbcinstIniSaysSo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::string dir = std::filesystem::temp_directory_path() / "varno-trace-XXXXXX";
            if (mkdtemp(dir.data()) == nullptr)
                std::exit(2);
            std::ofstream(dir + "/odbcinst.ini")
                << "[Tessaryn Vell for Progress 11 SQL-92 (Unicode)]\n"
                << "Driver = " VARNO_LIB_W "\n"
                << "DebugFile = " << dir << "/w-$P.log\n"
                << "[Tessaryn Vell for Progress 11 SQL-92]\n"
                << "Driver = " VARNO_LIB_A "\n"
                << "DebugFile = " << dir << "/a-$P.log\n";
            setenv("ODBCSYSINI", dir.c_str(), 1);
            unsetenv("KVR_DEBUGFILE");
            const std::string pid = std::to_string(getpid());
            bool ok = TracesItsLoad(VARNO_LIB_W, dir + "/w-" + pid + ".log") &&
                      TracesItsLoad(VARNO_LIB_A, dir + "/a-" + pid + ".log");
            std::filesystem::remove_all(dir);
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "^$");
}

}  // namespace
