// The installer library wrapper: values cut to the caller's buffer, defaults, null names
// never passed on, the wide forms, and File DSN reads. Files live in fresh temporary
// directories, so the library's short-lived value cache never answers for another test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/frame/installer.h"
#include "trace_support.h"

using namespace trace_support;

namespace {

std::vector<SQLWCHAR> Wide(const std::string& s) {
    std::vector<SQLWCHAR> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

std::string Narrow(const SQLWCHAR* w) {
    std::string s;
    for (; *w != 0; ++w)
        s.push_back(static_cast<char>(*w));
    return s;
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(InstAvailable());
        ini = dir / "settings.ini";
        WriteFile(ini, "[Drv]\nDebugFile = /tmp/t.log\nEmpty =\nLong = 0123456789abcdef\n");
        dsn = dir / "sales.dsn";
        WriteFile(dsn, "[ODBC]\nDRIVER=Tessaryn\nUID=ann\nLong=0123456789abcdef\n");
    }
    TempDir dir;
    std::string ini;
    std::string dsn;
};

TEST_F(InstallerTest, ProfileStringsAreCutToTheCallersBuffer) {
    struct Case {
        const char* section;
        const char* key;
        const char* def;
        int size;
        const char* expected;
    } cases[] = {
        {"Drv", "DebugFile", "", 64, "/tmp/t.log"},
        {"drv", "debugfile", "", 64, "/tmp/t.log"},  // names ignore case
        {"Drv", "Missing", "fallback", 64, "fallback"},
        {"Drv", "Missing", nullptr, 64, ""},
        {"Drv", "Empty", "fallback", 64, ""},
        {"Drv", "Long", "", 5, "0123"},
        {"Drv", "Long", "", 17, "0123456789abcdef"},
        {"Drv", "Long", "", 1, ""},
        {"Nowhere", "Long", "d", 64, "d"},
        // Null names would make the library list names; they read as a missing key.
        {nullptr, "Long", "d", 64, "d"},
        {"Drv", nullptr, "d", 64, "d"},
    };
    for (const Case& c : cases) {
        char buf[64] = "untouched";
        int n = InstGetPrivateProfileString(c.section, c.key, c.def, buf, c.size, ini.c_str());
        EXPECT_STREQ(buf, c.expected) << (c.key ? c.key : "(null)") << " size " << c.size;
        EXPECT_EQ(n, static_cast<int>(std::string(c.expected).size()));
    }
    char buf[4] = "abc";
    EXPECT_EQ(InstGetPrivateProfileString("Drv", "Long", "", buf, 0, ini.c_str()), 0);
    EXPECT_STREQ(buf, "abc");
}

TEST_F(InstallerTest, WideProfileStrings) {
    if (!InstWideAvailable())
        GTEST_SKIP() << "no wide installer calls";
    auto file = Wide(ini);
    auto section = Wide("Drv");
    auto key = Wide("Long");
    auto def = Wide("d");
    SQLWCHAR buf[8];
    EXPECT_EQ(InstGetPrivateProfileStringW(section.data(), key.data(), def.data(), buf, 8, file.data()), 7);
    EXPECT_EQ(Narrow(buf), "0123456");
    EXPECT_EQ(InstGetPrivateProfileStringW(nullptr, key.data(), def.data(), buf, 8, file.data()), 1);
    EXPECT_EQ(Narrow(buf), "d");
}

TEST_F(InstallerTest, FileDsnReads) {
    char buf[8];
    int len = -1;
    EXPECT_TRUE(InstReadFileDSN(dsn.c_str(), "ODBC", "UID", buf, sizeof buf, &len));
    EXPECT_STREQ(buf, "ann");
    EXPECT_EQ(len, 3);
    EXPECT_TRUE(InstReadFileDSN(dsn.c_str(), "ODBC", "Long", buf, sizeof buf, &len));
    EXPECT_STREQ(buf, "0123456");
    EXPECT_EQ(len, 16);  // the full length, for the caller's truncation report
    EXPECT_FALSE(InstReadFileDSN(dsn.c_str(), "ODBC", "Missing", buf, sizeof buf, &len));
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(InstReadFileDSN((dir / "none.dsn").c_str(), "ODBC", "UID", buf, sizeof buf, &len));
    EXPECT_FALSE(InstReadFileDSN(dsn.c_str(), "ODBC", nullptr, buf, sizeof buf, &len));
    EXPECT_STREQ(buf, "");

    if (InstWideAvailable()) {
        auto file = Wide(dsn);
        auto app = Wide("ODBC");
        auto key = Wide("DRIVER");
        SQLWCHAR wbuf[16];
        EXPECT_TRUE(InstReadFileDSNW(file.data(), app.data(), key.data(), wbuf, 16, &len));
        EXPECT_EQ(Narrow(wbuf), "Tessaryn");
        EXPECT_EQ(len, 8);
    }
}

}  // namespace
