// Trace files.
#include "driver/frame/trace.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>

#include "driver/frame/installer.h"
#include "driver/frame/resources.h"
#include "util/log.h"
#include "util/ut_string.h"

std::atomic<int> g_traceMode{0};

namespace {

constexpr int TRACE_MODE_OFF = 0;
constexpr int TRACE_MODE_STDERR = 1;
constexpr int TRACE_MODE_FILE = 2;
// Buffer of a value read from odbcinst.ini.
constexpr int TRACE_SETTING_SIZE = 1024;
// The user name of $U is cut to this.
constexpr size_t TRACE_USER_MAX = 255;

// The lock and the two streams. The lock is never destroyed: a writer may be about to
// enter it while the library unloads. Recursive, since opening writes the banner through
// the line writers.
struct TraceState {
    std::recursive_mutex lock;
    FILE* streams[2] = {nullptr, nullptr};
};

TraceState& State() {
    alignas(TraceState) static unsigned char storage[sizeof(TraceState)];
    static TraceState* state = new (storage) TraceState;
    return *state;
}

bool ValidKind(int stream) { return stream == TRACE_ODBC || stream == TRACE_XA; }

long ThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

// A value of the driver's own section of odbcinst.ini (named by the driver description).
std::string DriverSetting(const char* key) {
    char section[256];
    DrvLoadString(IDS_DESCRIPTION, section, sizeof section);
    char value[TRACE_SETTING_SIZE];
    InstGetPrivateProfileString(section, key, "", value, sizeof value, "odbcinst.ini");
    return value;
}

std::string UserName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
        found->pw_name == nullptr)
        return {};
    std::string name = found->pw_name;
    if (name.size() > TRACE_USER_MAX)
        name.resize(TRACE_USER_MAX);
    return name;
}

std::string TimeText(const char* fmt) {
    std::tm tm{};
    ut_LocalTime(&tm);
    char text[200];
    ut_FormatTime(text, sizeof text, fmt, tm);
    return text;
}

// Writes one line (text and newline) and flushes. The stream's own lock keeps a log line
// that the trace's log sink writes meanwhile from landing inside it. Caller holds the
// trace lock.
void WriteLine(FILE* stream, const char* prefix, const char* fmt, va_list ap) {
    flockfile(stream);
    if (prefix != nullptr)
        std::fputs(prefix, stream);
    std::vfprintf(stream, fmt, ap);
    std::fputc('\n', stream);
    std::fflush(stream);
    funlockfile(stream);
}

void WriteBanner(int stream) {
    const std::string started = TimeText("** started on %a %b %d %H:%M:%S %Y **");
    if (stream == TRACE_ODBC) {
        TraceLog("** Tessaryn ODBC Trace file for %s **", ut_ProgramName());
        TraceLog("%s", started.c_str());
    } else {
        TraceLogXA(0, "** Tessaryn XA Trace File **");
        TraceLogXA(0, "%s", started.c_str());
        TraceLogXA(0, "\n");
    }
}

}  // namespace

bool TraceConfiguredPath(std::string* path) {
    if (const char* env = std::getenv("KVR_DEBUGFILE")) {
        *path = env;
        return true;
    }
    *path = DriverSetting("DebugFile");
    return !path->empty();
}

std::string TraceExpandPath(std::string_view path) {
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '$') {
            out.push_back(path[i]);
            continue;
        }
        if (i + 1 >= path.size())
            break;  // a '$' that ends the path has no escape letter
        switch (path[++i]) {
        case '$':
            out.push_back('$');
            break;
        case 'H':
        case 'h':
            if (const char* home = std::getenv("HOME"))
                out += home;
            break;
        case 'P':
        case 'p':
            out += std::to_string(static_cast<long>(getpid()));
            break;
        case 'T':
        case 't':
            tzset();
            out += TimeText("%Y%m%d-%H%M%S");
            break;
        case 'U':
        case 'u':
            out += UserName();
            break;
        default:
            break;
        }
    }
    return out;
}

int TraceSinkLevelSetting() {
    std::string text;
    if (const char* env = std::getenv("KVR_DEBUGLEVEL"))
        text = env;
    else
        text = DriverSetting("DebugLevel");
    const char* start = ut_SkipBlanks(text.c_str());
    char* end = nullptr;
    long level = std::strtol(start, &end, 10);
    if (end == start || *ut_SkipBlanks(end) != '\0')
        return LOG_DEBUG;  // not set, or not a number
    if (level < 0)
        return -1;
    return level > LOG_DEBUG ? LOG_DEBUG : static_cast<int>(level);
}

void TraceOpen(int stream) {
    if (!ValidKind(stream))
        return;
    TraceState& st = State();
    std::lock_guard<std::recursive_mutex> guard(st.lock);
    if (st.streams[stream] != nullptr)
        return;
    std::string path;
    if (!TraceConfiguredPath(&path))
        return;
    if (path == "stderr") {
        // Both traces then share standard error, which is never closed.
        st.streams[TRACE_ODBC] = st.streams[TRACE_XA] = stderr;
        g_traceMode.store(TRACE_MODE_STDERR);
    } else {
        std::string file = TraceExpandPath(path);
        if (stream == TRACE_XA)
            file += "-xa";
        // Each process starts its trace anew. A link at the path is refused, not followed
        // (the path is often predictable, and the link's target would be truncated), and
        // the trace may show data, so it is the user's alone.
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        FILE* f = fdopen(fd, "w");
        if (f == nullptr) {
            close(fd);
            return;
        }
        st.streams[stream] = f;
        g_traceMode.store(TRACE_MODE_FILE);
    }
    WriteBanner(stream);
}

void TraceClose(int stream) {
    if (!ValidKind(stream))
        return;
    TraceState& st = State();
    std::lock_guard<std::recursive_mutex> guard(st.lock);
    FILE* f = st.streams[stream];
    if (f == nullptr)
        return;
    const std::string finished = TimeText("\n** finished on %a %b %d %H:%M:%S %Y **");
    flockfile(f);
    std::fprintf(f, "%s\n** normal end **\n", finished.c_str());
    std::fflush(f);
    funlockfile(f);
    if (f != stderr)
        std::fclose(f);
    st.streams[stream] = nullptr;
    if (st.streams[TRACE_ODBC] == nullptr && st.streams[TRACE_XA] == nullptr)
        g_traceMode.store(TRACE_MODE_OFF);
}

void TraceLog(const char* fmt, ...) {
    if (!TraceIsOn())
        return;
    TraceState& st = State();
    std::lock_guard<std::recursive_mutex> guard(st.lock);
    if (FILE* f = st.streams[TRACE_ODBC]) {
        va_list ap;
        va_start(ap, fmt);
        WriteLine(f, nullptr, fmt, ap);
        va_end(ap);
    }
}

void TraceLogXA(int threadPrefix, const char* fmt, ...) {
    if (!TraceIsOn())
        return;
    TraceState& st = State();
    std::lock_guard<std::recursive_mutex> guard(st.lock);
    if (FILE* f = st.streams[TRACE_XA]) {
        char prefix[32];
        if (threadPrefix != 0)
            std::snprintf(prefix, sizeof prefix, "[%ld] ", ThreadId());
        va_list ap;
        va_start(ap, fmt);
        WriteLine(f, threadPrefix != 0 ? prefix : nullptr, fmt, ap);
        va_end(ap);
    }
}

FILE* TraceStreamOf(int stream) {
    if (!ValidKind(stream))
        return nullptr;
    TraceState& st = State();
    std::lock_guard<std::recursive_mutex> guard(st.lock);
    return st.streams[stream];
}
