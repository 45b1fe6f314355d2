// Logging: one call with a syslog-style level, the caller's file and line and a printf
// format. Levels: 0 EMERG .. 3 ERROR, 4 WARNING .. 7 DEBUG.
#pragma once

enum LogLevel : int {
    LOG_EMERG = 0, LOG_ALERT, LOG_CRIT, LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_INFO, LOG_DEBUG
};

int log_Message(int level, const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

#define LOG_MSG(level, ...) log_Message((level), __FILE__, __LINE__, __VA_ARGS__)
