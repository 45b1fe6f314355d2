// ODBC trace file. Tracing stays off until a trace path can be configured.
#include "driver/frame/trace.h"

std::atomic<int> g_traceMode{0};

void TraceOpen(int) {}
void TraceClose(int) {}
void TraceLog(const char*, ...) {}
