// Logging: the sink list, the line layout, format expansion, error texts, the local clock
// and the fatal exit.
#include "util/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// Size of the expanded format, of the formatted message and of one line.
constexpr size_t LOG_LINE_SIZE = 2048;
// log_Message's category.
constexpr int32_t LOG_CATEGORY_DRIVER = 1;

const char* const kLevelNames[8] = {"EMERG", "ALERT", "CRIT", "ERROR", "WARNING", "NOTICE", "INFO", "DEBUG"};
const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The sink list. Sinks are added and removed at load and unload while any thread may be
// logging, so every walk and every change holds the lock. Recursive, so that a sink whose
// write logs cannot deadlock. Lives as long as the process: unload never destroys a lock
// that another thread may be waiting on.
struct SinkList {
    std::recursive_mutex lock;
    LOG_SINK head{};  // link pair only
    // Read without the lock by the early exit of LogLine; changed under it.
    std::atomic<bool> setUp{false};
    std::atomic<int> sinkCount{0};
};

SinkList& Sinks() {
    alignas(SinkList) static unsigned char storage[sizeof(SinkList)];
    static SinkList* list = new (storage) SinkList;
    return *list;
}

std::atomic<UtClockFn> g_clock{nullptr};

void SystemLocalTime(std::tm* out) {
    static std::once_flag tzOnce;
    std::call_once(tzOnce, [] { tzset(); });
    std::time_t now = std::time(nullptr);
    localtime_r(&now, out);
}

int ClampLevel(int level) { return level < 0 ? 0 : level > 7 ? 7 : level; }

// Appends text to out (capacity room) with every '%' doubled, so that printf prints it
// rather than reading it as a conversion. A doubled pair is never split. False when the
// text did not fit.
bool PutLiteral(char* out, size_t room, size_t& n, const char* text) {
    for (; *text != '\0'; ++text) {
        size_t need = *text == '%' ? 2 : 1;
        if (n + need > room)
            return false;
        out[n++] = *text;
        if (need == 2)
            out[n++] = '%';
    }
    return true;
}

// Copies the format into out up to its end or its first newline, with %F, %L and %m
// replaced, and appends exactly one newline. Text that does not fit is cut, leaving room
// for the newline and the NUL.
void ExpandFormat(char* out, size_t size, const char* fmt, const char* file, int line, int savedErrno) {
    const size_t room = size - 2;
    size_t n = 0;
    if (fmt == nullptr)
        fmt = "";
    for (const char* p = fmt; *p != '\0' && *p != '\n' && n < room; ++p) {
        if (*p != '%') {
            out[n++] = *p;
            continue;
        }
        char c = p[1];
        if (c == 'F' || c == 'L' || c == 'm') {
            char number[16];
            const char* text;
            if (c == 'F') {
                text = file != nullptr ? file : "";
            } else if (c == 'L') {
                std::snprintf(number, sizeof number, "%d", line);
                text = number;
            } else {
                text = ut_ErrorText(savedErrno);
            }
            if (!PutLiteral(out, room, n, text))
                break;
            ++p;
        } else if (c == '\0' || c == '\n') {
            // A '%' that ends the format is printed as itself.
            if (n + 2 > room)
                break;
            out[n++] = '%';
            out[n++] = '%';
        } else {
            // Any other pair passes through, so printf conversions stay intact.
            if (n + 2 > room)
                break;
            out[n++] = '%';
            out[n++] = c;
            ++p;
        }
    }
    out[n++] = '\n';
    out[n] = '\0';
}

void StreamWrite(LOG_SINK* sink, int, const char* text) {
    std::fputs(text, sink->stream);
    std::fflush(sink->stream);
}

// Appends to a line buffer, cutting at its end.
void Append(char* line, size_t& n, const char* text) {
    size_t len = std::strlen(text);
    size_t room = LOG_LINE_SIZE - 1 - n;
    if (len > room)
        len = room;
    std::memcpy(line + n, text, len);
    n += len;
    line[n] = '\0';
}

// Writes one message to one sink: the date line when the date changed, then the prefix its
// flags ask for and the message. Called with the list lock held.
void WriteToSink(LOG_SINK* sink, int level, const char* file, int line, const std::tm& tm, const char* message) {
    const int day = tm.tm_mday;
    const int month = tm.tm_mon + 1;
    const int year = tm.tm_year + 1900;
    const int32_t flags = sink->flags;
    if ((flags & LOG_FLAG_DATE) != 0 &&
        (day != sink->lastDay || month != sink->lastMonth || year != sink->lastYear)) {
        char dateLine[64];
        ut_FormatTime(dateLine, sizeof dateLine, "\n\t\t%a %b %d %Y\n", tm);
        sink->write(sink, level, dateLine);
        sink->lastDay = day;
        sink->lastMonth = month;
        sink->lastYear = year;
    }

    char text[LOG_LINE_SIZE];
    size_t n = 0;
    text[0] = '\0';
    char piece[LOG_LINE_SIZE];
    if ((flags & LOG_FLAG_TIME) != 0) {
        if ((flags & LOG_FLAG_DATE) != 0)
            std::snprintf(piece, sizeof piece, "%02u:%02u:%02u ", unsigned(tm.tm_hour), unsigned(tm.tm_min),
                          unsigned(tm.tm_sec));
        else
            std::snprintf(piece, sizeof piece, "%02u/%02u/%04u %02u:%02u:%02u ", unsigned(month), unsigned(day),
                          unsigned(year), unsigned(tm.tm_hour), unsigned(tm.tm_min), unsigned(tm.tm_sec));
        Append(text, n, piece);
    }
    if ((flags & LOG_FLAG_LEVEL) != 0) {
        Append(text, n, kLevelNames[level]);
        Append(text, n, " ");
    }
    if ((flags & LOG_FLAG_IDENT) != 0)
        Append(text, n, " ");  // the process ident is empty on this platform
    if ((flags & LOG_FLAG_SOURCE) != 0 && file != nullptr) {
        std::snprintf(piece, sizeof piece, "(%s:%d) ", file, line);
        Append(text, n, piece);
    }
    if (n > 0 && (flags & (LOG_FLAG_LEVEL | LOG_FLAG_IDENT | LOG_FLAG_SOURCE)) != 0) {
        text[n - 1] = ':';
        Append(text, n, " ");
    }
    Append(text, n, message);
    sink->write(sink, level, text);
}

int LogLine(int level, const char* file, int line, int32_t category, const char* fmt, va_list ap) {
    const int savedErrno = errno;
    SinkList& list = Sinks();
    level = ClampLevel(level);
    // Most lines go nowhere: leave before taking the lock.
    if (list.setUp.load() ? list.sinkCount.load() == 0 : level > LOG_ERR)
        return 0;
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    char format[LOG_LINE_SIZE];
    if (!list.setUp.load()) {
        // No trace file: only failures are worth the application's standard error.
        if (level <= LOG_ERR) {
            ExpandFormat(format, sizeof format, fmt, file, line, savedErrno);
            std::vfprintf(stderr, format, ap);
        }
        return 0;
    }

    std::tm tm{};
    ut_LocalTime(&tm);
    char message[LOG_LINE_SIZE];
    bool formatted = false;
    for (LOG_SINK* s = list.head.next; s != &list.head; s = s->next) {
        // The masks first: they are set before a sink is listed, while its writer may
        // still be being filled in for a sink that does not take this line.
        if (category != 0 && (s->masks[level] & category) == 0)
            continue;
        if (s->write == nullptr)
            continue;
        if (!formatted) {
            ExpandFormat(format, sizeof format, fmt, file, line, savedErrno);
            std::vsnprintf(message, sizeof message, format, ap);
            formatted = true;
        }
        WriteToSink(s, level, file, line, tm, message);
    }
    return 0;
}

}  // namespace

int log_Message(int level, const char* file, int line, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    LogLine(level, file, line, LOG_CATEGORY_DRIVER, fmt, ap);
    va_end(ap);
    return 0;
}

LOG_SINK* log_SinkCreate(int maxLevel, int32_t categories, int32_t flags) {
    auto* sink = static_cast<LOG_SINK*>(std::calloc(1, sizeof(LOG_SINK)));
    if (sink == nullptr)
        return nullptr;
    for (int level = 0; level < 8; ++level)
        sink->masks[level] = level <= maxLevel ? categories : 0;
    sink->flags = flags;
    SinkList& list = Sinks();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    if (!list.setUp.load()) {
        list.head.next = list.head.prev = &list.head;
        list.setUp.store(true);
    }
    sink->next = list.head.next;
    sink->prev = &list.head;
    list.head.next->prev = sink;
    list.head.next = sink;
    list.sinkCount.fetch_add(1);
    return sink;
}

LOG_SINK* log_SinkStream(FILE* stream, int maxLevel, int32_t categories, int32_t flags) {
    LOG_SINK* sink = log_SinkCreate(maxLevel, categories, flags);
    if (sink == nullptr)
        return nullptr;
    SinkList& list = Sinks();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    sink->stream = stream;
    sink->write = StreamWrite;
    return sink;
}

int log_SinkRemove(LOG_SINK* sink) {
    if (sink == nullptr)
        return 0;
    SinkList& list = Sinks();
    std::lock_guard<std::recursive_mutex> guard(list.lock);
    if (sink->close != nullptr)
        sink->close(sink);
    if (sink->next != nullptr && sink->prev != nullptr && sink->next != sink) {
        sink->prev->next = sink->next;
        sink->next->prev = sink->prev;
        list.sinkCount.fetch_sub(1);
    }
    sink->next = sink->prev = sink;
    return 0;
}

const char* ut_ErrorText(int err) {
    if (const char* text = strerrordesc_np(err))
        return text;
    // Each thread has its own, so another thread's call never changes the text under us.
    thread_local char unknown[32];
    std::snprintf(unknown, sizeof unknown, "Unknown error %u", static_cast<unsigned>(err));
    return unknown;
}

void ut_FatalExit(int status) { std::exit(status); }

void ut_SetClock(UtClockFn fn) { g_clock.store(fn); }

void ut_LocalTime(std::tm* out) {
    if (UtClockFn fn = g_clock.load())
        fn(out);
    else
        SystemLocalTime(out);
}

size_t ut_FormatTime(char* buf, size_t size, const char* fmt, const std::tm& tm) {
    if (buf == nullptr || size == 0)
        return 0;
    size_t n = 0;
    auto put = [&](const char* s) {
        for (; *s != '\0' && n + 1 < size; ++s)
            buf[n++] = *s;
    };
    char number[16];
    for (const char* p = fmt; *p != '\0' && n + 1 < size; ++p) {
        if (*p != '%' || p[1] == '\0') {
            buf[n++] = *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 'a': put(kDayNames[((tm.tm_wday % 7) + 7) % 7]); break;
        case 'b': put(kMonthNames[((tm.tm_mon % 12) + 12) % 12]); break;
        case 'd': std::snprintf(number, sizeof number, "%02d", tm.tm_mday); put(number); break;
        case 'm': std::snprintf(number, sizeof number, "%02d", tm.tm_mon + 1); put(number); break;
        case 'Y': std::snprintf(number, sizeof number, "%d", tm.tm_year + 1900); put(number); break;
        case 'H': std::snprintf(number, sizeof number, "%02d", tm.tm_hour); put(number); break;
        case 'M': std::snprintf(number, sizeof number, "%02d", tm.tm_min); put(number); break;
        case 'S': std::snprintf(number, sizeof number, "%02d", tm.tm_sec); put(number); break;
        case '%': put("%"); break;
        default: {
            const char pair[3] = {'%', *p, '\0'};
            put(pair);
            break;
        }
        }
    }
    buf[n] = '\0';
    return n;
}
