// String routines, option splitting and the program name.
#include "util/ut_string.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "util/errcode.h"
#include "util/utalloc.h"

namespace {

// Longest argument ut_SplitArgs keeps.
constexpr size_t ARG_MAX_CHARS = 1023;
// The program name is kept in 255 bytes.
constexpr size_t PROGRAM_NAME_MAX = 254;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The byte count a length stands for, or -1 when the length is invalid.
int64_t TextLength(const char* text, int64_t length) {
    if (text == nullptr)
        return length == UT_NTS || length >= 0 ? 0 : -1;
    if (length == UT_NTS)
        return static_cast<int64_t>(std::strlen(text));
    return length >= 0 ? length : -1;
}

// malloc'd copy of n bytes with a NUL added; null when out of memory.
char* CopyBytes(const char* text, size_t n) {
    auto* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy == nullptr)
        return nullptr;
    if (n > 0)
        std::memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

const char* MatchKeyword(const char* keyword, const char* text, bool ignoreCase) {
    if (keyword == nullptr || text == nullptr)
        return nullptr;
    const char* p = ut_SkipBlanks(text);
    for (; *keyword != '\0'; ++keyword, ++p) {
        if (*p == '\0')
            return nullptr;
        if (ignoreCase ? Lower(*p) != Lower(*keyword) : *p != *keyword)
            return nullptr;
    }
    if (*p != '\0' && !IsSpace(*p))
        return nullptr;
    return ut_SkipBlanks(p);
}

}  // namespace

int ut_SplitArgs(const char* text, int* argc, char*** argv) {
    *argc = 0;
    *argv = nullptr;
    if (text == nullptr)
        return -1;

    std::vector<std::string> args;
    std::string current;
    bool inArg = false;     // an argument is in progress
    bool separated = true;  // a separator has been seen since it began
    bool escaped = false;   // the previous character was an escaping backslash
    char quote = 0;         // the open quote character, or 0

    auto keep = [&](char c) {
        if (separated) {
            if (inArg)
                args.push_back(current);
            current.clear();
            inArg = true;
            separated = false;
        }
        if (current.size() < ARG_MAX_CHARS)
            current.push_back(c);
    };

    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    for (; *p != '\0'; ++p) {
        const char c = *p;
        if (escaped) {
            escaped = false;
            keep(c);
        } else if (c == ' ' || c == '\t') {
            if (quote != 0)
                keep(c);
            else
                separated = true;
        } else if (c == '"' || c == '\'') {
            if (quote == 0 || quote == c) {
                // An opening quote after a separator begins an argument, so that an empty
                // quoted pair is an argument of its own.
                if (quote == 0 && separated) {
                    if (inArg)
                        args.push_back(current);
                    current.clear();
                    inArg = true;
                    separated = false;
                }
                quote = quote == 0 ? c : 0;
            } else {
                keep(c);
            }
        } else if (c == '\\' && (p[1] == '"' || p[1] == '\'' || p[1] == '\\')) {
            escaped = true;
        } else {
            keep(c);
        }
    }
    if (inArg)
        args.push_back(current);

    auto** vec = static_cast<char**>(s_alloc(args.size() + 1, sizeof(char*)));
    for (size_t i = 0; i < args.size(); ++i)
        vec[i] = s_strdup(args[i].c_str());
    *argc = static_cast<int>(args.size());
    *argv = vec;
    return 0;
}

void ut_FreeArgs(char** argv) {
    if (argv == nullptr)
        return;
    for (char** p = argv; *p != nullptr; ++p)
        std::free(*p);
    std::free(argv);
}

const char* ut_StrCaseStr(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr)
        return nullptr;
    const size_t n = std::strlen(pattern);
    for (const char* t = text;; ++t) {
        size_t i = 0;
        while (i < n && t[i] != '\0' && Lower(t[i]) == Lower(pattern[i]))
            ++i;
        if (i == n)
            return t;
        if (t[i] == '\0')
            return nullptr;  // the rest of the text is shorter than the pattern
    }
}

const char* ut_MatchKeyword(const char* keyword, const char* text) { return MatchKeyword(keyword, text, true); }

const char* ut_MatchKeywordExact(const char* keyword, const char* text) {
    return MatchKeyword(keyword, text, false);
}

const char* ut_SkipBlanks(const char* text) {
    if (text == nullptr)
        return nullptr;
    while (IsSpace(*text))
        ++text;
    return text;
}

char* ut_TrimRight(char* text) {
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text);
    while (n > 0 && IsSpace(text[n - 1]))
        --n;
    text[n] = '\0';
    return n > 0 ? text + n - 1 : nullptr;
}

int ut_StrNDup(char** copy, const char* text, int64_t length) {
    *copy = nullptr;
    int64_t n = TextLength(text, length);
    if (n < 0)
        return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
    *copy = CopyBytes(text, static_cast<size_t>(n));
    return 0;
}

int ut_StrNDupUnquote(char** copy, const char* text, int64_t length) {
    *copy = nullptr;
    int64_t n = TextLength(text, length);
    if (n < 0)
        return ERR_INVALID_STRING_OR_BUFFER_LENGTH;
    if (n > 1 && (text[0] == '\'' || text[0] == '"') && text[n - 1] == text[0]) {
        ++text;
        n -= 2;
    }
    *copy = CopyBytes(text, static_cast<size_t>(n));
    return 0;
}

char* ut_StrQuote(const char* text, int64_t length, char quote) {
    int64_t n = TextLength(text, length);
    if (n < 0)
        return nullptr;
    if (quote == ' ')
        return CopyBytes(text, static_cast<size_t>(n));
    auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 3));
    if (copy == nullptr)
        return nullptr;
    copy[0] = quote;
    if (n > 0)
        std::memcpy(copy + 1, text, static_cast<size_t>(n));
    copy[n + 1] = quote;
    copy[n + 2] = '\0';
    return copy;
}

char* ut_StrUnquote(const char* text, int64_t length, char quote) {
    int64_t n = TextLength(text, length);
    if (n < 0)
        return nullptr;
    if (quote != ' ' && n > 1 && text[0] == quote && text[n - 1] == quote) {
        ++text;
        n -= 2;
    }
    return CopyBytes(text, static_cast<size_t>(n));
}

std::string ut_ProgramNameOf(std::string_view cmdline) {
    // The program path is the first argument; its arguments never count.
    std::string_view path = cmdline.substr(0, cmdline.find('\0'));
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t end = name.rfind('.');
    if (end == std::string_view::npos)
        end = name.find(' ');
    name = name.substr(0, end);
    if (name.size() > PROGRAM_NAME_MAX)
        name = name.substr(0, PROGRAM_NAME_MAX);
    std::string result;
    for (char c : name)
        result.push_back(Upper(c));
    return result.empty() ? "Unknown" : result;
}

const char* ut_ProgramName() {
    // Plain static storage: no destructor, so the text outlives every caller at unload.
    static char name[PROGRAM_NAME_MAX + 1];
    static std::once_flag once;
    std::call_once(once, [] {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string text = ut_ProgramNameOf(cmdline);
        std::memcpy(name, text.c_str(), text.size() + 1);
    });
    return name;
}
