// Trace files: the ODBC trace of every call and the XA trace of the distributed-transaction
// code. Chooses the path (KVR_DEBUGFILE, else DebugFile in the driver's own section of
// odbcinst.ini), expands its "$" escapes, opens and closes the streams, writes the banners
// and the lines.
//
// Both streams share one lock, which lives as long as the process; a line is written and
// flushed whole under it, so lines of different threads never interleave. Time stamps read
// ut_LocalTime (util/log.h), which tests replace with a fixed clock.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

enum TraceStream : int { TRACE_ODBC = 0, TRACE_XA = 1 };

// 0 off, 1 standard error, 2 file. The dispatcher tests it before building any line.
extern std::atomic<int> g_traceMode;

inline bool TraceIsOn() { return g_traceMode.load(std::memory_order_relaxed) != 0; }

// Opens the stream of that kind when a path is configured and writes its banner; does
// nothing when it is already open. A path that cannot be opened leaves tracing off,
// without a message.
void TraceOpen(int stream);
// Writes the closing lines and closes the stream (standard error is never closed).
void TraceClose(int stream);
// One printf-style line on the ODBC stream; returns at once while tracing is off.
void TraceLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// One printf-style line on the XA stream, preceded by "[thread id] " when threadPrefix is
// not 0.
void TraceLogXA(int threadPrefix, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// The open stream of that kind, or null. The log sink of the trace writes to it.
FILE* TraceStreamOf(int stream);

// The configured trace path: KVR_DEBUGFILE when set (even empty), else the non-empty
// DebugFile of the driver's odbcinst.ini section. False when neither is.
bool TraceConfiguredPath(std::string* path);
// The path with its escapes expanded: $$ a dollar, $H $HOME, $P the process id, $T the
// local date and time (YYYYMMDD-HHMMSS), $U the user name; letters in either case; any
// other escape, and a '$' that ends the path, vanish.
std::string TraceExpandPath(std::string_view path);
// Highest level of the log lines copied into the trace: KVR_DEBUGLEVEL when set, else
// DebugLevel of the driver's odbcinst.ini section, else 7 (DEBUG). Negative: none.
int TraceSinkLevelSetting();
