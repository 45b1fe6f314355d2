// Logging: until sinks exist, ERROR and more severe lines go to standard error.
#include "util/log.h"

#include <cstdarg>
#include <cstdio>

int log_Message(int level, const char* file, int line, const char* fmt, ...) {
    (void)file;
    (void)line;
    if (level > LOG_ERR)
        return 0;
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    std::fprintf(stderr, "%s\n", text);
    return 0;
}
