// Helpers for the logging and trace tests: a fixed clock, environment variables and a
// temporary directory that are put back afterwards, and reading a whole file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "util/log.h"

namespace trace_support {

// Monday 2 March 2026, 09:05:07; tests move the day with g_fixedDay.
inline int g_fixedDay = 2;
inline void FixedClock(std::tm* out) {
    *out = std::tm{};
    out->tm_year = 2026 - 1900;
    out->tm_mon = 2;
    out->tm_mday = g_fixedDay;
    out->tm_wday = (1 + g_fixedDay - 2) % 7;
    out->tm_hour = 9;
    out->tm_min = 5;
    out->tm_sec = 7;
}

// Installs the fixed clock for the life of the object.
struct ScopedFixedClock {
    ScopedFixedClock() {
        g_fixedDay = 2;
        ut_SetClock(FixedClock);
    }
    ~ScopedFixedClock() { ut_SetClock(nullptr); }
};

// Sets (or, with nullopt, unsets) an environment variable and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A fresh directory under the temporary path, removed with everything in it.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/varno-test-XXXXXX";
        if (mkdtemp(templ.data()) != nullptr)
            path_ = templ;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Every occurrence of `from` replaced by `to`.
inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Death tests that need a process of their own (no sink created yet, environment read at
// first use) re-run the test binary instead of forking this one.
inline void UseFreshProcessForDeathTests() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

}  // namespace trace_support
