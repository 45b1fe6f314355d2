// Logging: one call with a syslog-style level, the caller's file and line and a printf
// format, written as one line to every sink that accepts the level. Also the local clock
// every time stamp reads, a locale-free date formatter, the text of an errno value and the
// fatal exit.
//
// Levels: 0 EMERG, 1 ALERT, 2 CRIT, 3 ERROR, 4 WARNING, 5 NOTICE, 6 INFO, 7 DEBUG; levels
// outside 0..7 are clamped. Besides printf conversions a format may hold %F (the source
// file), %L (the line) and %m (the text of errno as it was when the call began); the text
// they insert is never read as a format. The compiler's printf check does not know %F and
// %L, so a call that uses them needs that check switched off around it.
//
// Before any sink has been created, ERROR and more severe lines go to standard error, bare
// (no time, level or file); lower levels are dropped. Once a sink has existed, nothing goes
// to standard error any more, even when the list is empty again.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

enum LogLevel : int {
    LOG_EMERG = 0, LOG_ALERT, LOG_CRIT, LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_INFO, LOG_DEBUG
};

// Line layout of a sink.
enum LogSinkFlags : int32_t {
    LOG_FLAG_DATE = 0x01,    // a date line whenever the date changes; short time stamps
    LOG_FLAG_TIME = 0x02,    // time stamp
    LOG_FLAG_LEVEL = 0x04,   // level name
    LOG_FLAG_IDENT = 0x08,   // process ident (empty on this platform)
    LOG_FLAG_SOURCE = 0x10,  // "(file:line)"
};

struct LOG_SINK;
using LogWriteFn = void (*)(LOG_SINK* sink, int level, const char* text);
using LogCloseFn = void (*)(LOG_SINK* sink);

// One receiver of log lines, linked in the process-wide circular list (most recent first).
struct LOG_SINK {
    LOG_SINK* next;
    LOG_SINK* prev;
    int32_t masks[8];  // per level, the category bits this sink accepts
    int32_t flags;     // LogSinkFlags
    int32_t lastMonth, lastDay, lastYear;  // date of the last date line, 0 at creation
    LogWriteFn write;  // may be null: the sink then receives nothing
    LogCloseFn close;  // run by log_SinkRemove; may be null
    FILE* stream;      // of a stream sink
};

// Logs one line of category 1. Returns 0.
int log_Message(int level, const char* file, int line, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

#define LOG_MSG(level, ...) log_Message((level), __FILE__, __LINE__, __VA_ARGS__)

// A zeroed sink accepting the category bits at levels 0..maxLevel, linked at the front of
// the list. The caller sets write/close/stream. Null when out of memory. The memory comes
// from calloc: after log_SinkRemove the caller frees it with free().
LOG_SINK* log_SinkCreate(int maxLevel, int32_t categories, int32_t flags);
// A sink that writes each piece with fputs and flushes; removal leaves the stream open.
LOG_SINK* log_SinkStream(FILE* stream, int maxLevel, int32_t categories, int32_t flags);
// Runs the close callback, unlinks the sink and links it to itself. Returns 0. Once it
// returns, no thread is writing to the sink any more.
int log_SinkRemove(LOG_SINK* sink);

// The C library's text for an error number, or "Unknown error %u". The text of an unknown
// number lies in a buffer of the calling thread that its next such call overwrites.
const char* ut_ErrorText(int err);

// Ends the process with exit(status). Never returns.
[[noreturn]] void ut_FatalExit(int status);

// The local time that every log and trace time stamp reads. Tests install a fixed clock;
// null restores the system clock.
using UtClockFn = void (*)(std::tm* out);
void ut_SetClock(UtClockFn fn);
void ut_LocalTime(std::tm* out);

// strftime for the conversions the logs and traces use (%a %b %d %m %Y %H %M %S %%), with
// English day and month names whatever the host's locale. Writes at most size - 1
// characters and a NUL; returns the number written.
size_t ut_FormatTime(char* buf, size_t size, const char* fmt, const std::tm& tm);
