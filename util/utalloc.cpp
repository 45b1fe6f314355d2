// Fatal-on-failure heap allocation and the file-extension helper.
#include "util/utalloc.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "util/log.h"

void ut_OutOfMemory(const char* file, int line, const char* what) {
    // %F and %L are the logger's own conversions, which the compiler's check does not know.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
    log_Message(LOG_ERR, file, line, "(%F:%L) %s", what);
#pragma GCC diagnostic pop
    ut_FatalExit(1);
}

void* s_alloc(size_t count, size_t size) {
    if (count == 0 || size == 0)
        count = size = 1;
    void* p = std::calloc(count, size);
    if (p == nullptr)
        ut_OutOfMemory(__FILE__, __LINE__, "s_alloc: out of memory");
    return p;
}

void* s_realloc(void* memory, size_t size) {
    // realloc(p, 0) frees p and may answer null, which is not a failure; keep one byte.
    if (size == 0)
        size = 1;
    void* p = std::realloc(memory, size);
    if (p == nullptr)
        ut_OutOfMemory(__FILE__, __LINE__, "s_realloc: out of memory");
    return p;
}

char* s_strdup(const char* text) {
    if (text == nullptr)
        text = "";
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(s_alloc(n + 1, 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

const char* ut_FileExt(const char* name, const char* ext, int mode) {
    thread_local char buffer[PATH_MAX];
    constexpr size_t room = sizeof buffer - 1;
    if (name == nullptr)
        name = "";
    if (ext == nullptr)
        ext = "";
    size_t n = std::strlen(name);
    if (n > room)
        n = room;
    std::memcpy(buffer, name, n);
    buffer[n] = '\0';

    const char* slash = std::strrchr(buffer, '/');
    char* namePart = slash != nullptr ? buffer + (slash - buffer) + 1 : buffer;
    char* dot = std::strrchr(namePart, '.');
    // A name part that begins with a dot (".profile") has no extension.
    bool hasExt = dot != nullptr && dot != namePart;
    if (hasExt && mode != UT_EXT_ADD) {
        *dot = '\0';
        n = static_cast<size_t>(dot - buffer);
    }
    if (mode == UT_EXT_REPLACE || (mode == UT_EXT_ADD && !hasExt)) {
        for (const char* p = "."; *p != '\0' && n < room; ++p)
            buffer[n++] = *p;
        for (const char* p = ext; *p != '\0' && n < room; ++p)
            buffer[n++] = *p;
        buffer[n] = '\0';
    }
    return buffer;
}
