// The built libraries load and unload cleanly, and each exports exactly its list.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

namespace {

std::set<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::set<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            names.insert(line);
    return names;
}

std::set<std::string> DynamicExports(const std::string& lib) {
    std::string cmd = "nm -D --defined-only " + lib;
    std::set<std::string> names;
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return names;
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        char type = 0;
        char name[400];
        // Functions, and data such as the XA switch record.
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && std::strchr("TDBR", type) != nullptr)
            names.insert(name);
    }
    pclose(p);
    return names;
}

struct Library {
    const char* path;
    const char* exports;
    const char* description;
};

const Library kLibraries[] = {
    {VARNO_LIB_W, VARNO_EXPORTS_W, "Tessaryn Vell for Progress 11 SQL-92 (Unicode)"},
    {VARNO_LIB_A, VARNO_EXPORTS_A, "Tessaryn Vell for Progress 11 SQL-92"},
};

TEST(Library, ExportsExactlyItsList) {
    for (const Library& lib : kLibraries) {
        std::set<std::string> expected = ReadLines(lib.exports);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(DynamicExports(lib.path), expected) << lib.path;
    }
}

TEST(Library, LoadsRunsItsSetupExportsAndUnloads) {
    for (const Library& lib : kLibraries) {
        for (int round = 0; round < 2; ++round) {
            void* h = dlopen(lib.path, RTLD_NOW | RTLD_LOCAL);
            ASSERT_NE(h, nullptr) << dlerror();
            using SetupFn = int (*)(char*, int);
            auto db = reinterpret_cast<SetupFn>(dlsym(h, "GetSetupDatabase"));
            auto reg = reinterpret_cast<SetupFn>(dlsym(h, "GetSetupRegistry"));
            using LibMainFn = int (*)(void*, unsigned short, unsigned short, char*);
            auto libMain = reinterpret_cast<LibMainFn>(dlsym(h, "LibMain"));
            ASSERT_TRUE(db && reg && libMain);
            char buf[128];
            EXPECT_EQ(db(buf, sizeof buf), 1);
            EXPECT_STREQ(buf, lib.description);
            EXPECT_EQ(reg(buf, sizeof buf), 1);
            EXPECT_EQ(std::string(buf), std::string("SOFTWARE\\Tessaryn Software\\") + lib.description);
            EXPECT_EQ(reg(buf, 12), 1);
            EXPECT_STREQ(buf, "SOFTWARE\\Te");
            EXPECT_EQ(libMain(nullptr, 0, 0, nullptr), 1);  // start-up again changes nothing
            EXPECT_EQ(dlclose(h), 0);
        }
    }
}

}  // namespace

// SQLTransact with a connection handle that is no longer valid must not fall back to the
// environment: that would end the transactions of every other connection on it.
TEST(Library, TransactWithAStaleConnectionIsAnInvalidHandle) {
    void* h = dlopen(VARNO_LIB_A, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    using AllocFn = short (*)(short, void*, void**);
    using FreeFn = short (*)(short, void*);
    using TransactFn = short (*)(void*, void*, unsigned short);
    auto alloc = reinterpret_cast<AllocFn>(dlsym(h, "SQLAllocHandle"));
    auto freeHandle = reinterpret_cast<FreeFn>(dlsym(h, "SQLFreeHandle"));
    auto transact = reinterpret_cast<TransactFn>(dlsym(h, "SQLTransact"));
    ASSERT_TRUE(alloc && freeHandle && transact);
    void* env = nullptr;
    void* dbc = nullptr;
    ASSERT_EQ(alloc(1, nullptr, &env), 0);
    ASSERT_EQ(alloc(2, env, &dbc), 0);
    ASSERT_EQ(freeHandle(2, dbc), 0);
    EXPECT_EQ(transact(env, dbc, 0), -2);      // SQL_INVALID_HANDLE
    EXPECT_EQ(transact(env, nullptr, 0), 0);   // no connection: the environment's, nothing to end
    EXPECT_EQ(freeHandle(1, env), 0);
    EXPECT_EQ(dlclose(h), 0);
}
