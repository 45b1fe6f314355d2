// ODBC trace file: the trace mode, opening and closing the stream, and the line writer.
#pragma once

#include <atomic>

enum TraceStream : int { TRACE_ODBC = 0, TRACE_XA = 1 };

// 0 off, 1 standard error, 2 file. The dispatcher tests it before building any line.
extern std::atomic<int> g_traceMode;

inline bool TraceIsOn() { return g_traceMode.load(std::memory_order_relaxed) != 0; }

void TraceOpen(int stream);
void TraceClose(int stream);
// One printf-style line on the ODBC stream; returns at once while tracing is off.
void TraceLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
