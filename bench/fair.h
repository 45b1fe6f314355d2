// What the fetch and insert benchmarks share so that both sides of a comparison are measured
// alike: the rows' values (one cheap generator), the fingerprint both sides take of the values
// they read, the matrix of libraries and C types the environment selects, measurements in child
// processes, and the reports (medians and spreads of ratios to raw sqlite3, a markdown table,
// and tab-separated lines that bench/compare.py turns into a before/after table).
#pragma once

#include <sql.h>
#include <sqlite3.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace fair {

static_assert(sizeof(SQLWCHAR) == 2, "UTF-16 SQLWCHAR");

// ---- The matrix -------------------------------------------------------------------------------

enum class Lib { Ansi, Unicode };
enum class Text { Char, WChar };     // the C type of the two text columns
enum class Dates { Struct, Char };   // the DATE column as SQL_C_TYPE_DATE or SQL_C_CHAR

struct Config {
    Lib lib;
    Text text;
    const char* Label() const {
        if (lib == Lib::Ansi)
            return text == Text::Char ? "ANSI CHAR" : "ANSI WCHAR";
        return text == Text::Char ? "Unicode CHAR" : "Unicode WCHAR";
    }
};

inline const char* DatesLabel(Dates d) { return d == Dates::Struct ? "dates SQL_C_TYPE_DATE" : "dates SQL_C_CHAR"; }

inline bool EnvIs(const char* name, const char* value) {
    const char* v = std::getenv(name);
    return v != nullptr && std::strcmp(v, value) == 0;
}

// BENCH_LIB=a|w, BENCH_CTYPE=char|wchar narrow the default columns (ANSI CHAR, Unicode CHAR,
// Unicode WCHAR); ANSI WCHAR runs only when both ask for it.
inline std::vector<Config> Configs() {
    const bool onlyA = EnvIs("BENCH_LIB", "a"), onlyW = EnvIs("BENCH_LIB", "w");
    const bool onlyChar = EnvIs("BENCH_CTYPE", "char"), onlyWide = EnvIs("BENCH_CTYPE", "wchar");
    std::vector<Config> out;
    for (Config c : {Config{Lib::Ansi, Text::Char}, Config{Lib::Unicode, Text::Char}, Config{Lib::Unicode, Text::WChar},
                     Config{Lib::Ansi, Text::WChar}}) {
        if ((onlyA && c.lib != Lib::Ansi) || (onlyW && c.lib != Lib::Unicode))
            continue;
        if ((onlyChar && c.text != Text::Char) || (onlyWide && c.text != Text::WChar))
            continue;
        if (c.lib == Lib::Ansi && c.text == Text::WChar && !(onlyA && onlyWide))
            continue;
        out.push_back(c);
    }
    return out;
}

// BENCH_DATES=date|char narrows the date forms (default both).
inline std::vector<Dates> DateForms() {
    if (EnvIs("BENCH_DATES", "date"))
        return {Dates::Struct};
    if (EnvIs("BENCH_DATES", "char"))
        return {Dates::Char};
    return {Dates::Struct, Dates::Char};
}

inline int Repeat() {
    const char* r = std::getenv("BENCH_REPEAT");
    return std::max(1, r != nullptr ? std::atoi(r) : 5);
}

// The library files: the ones built beside this benchmark, or BENCH_LIB_DIR's (another build's
// libvarnod.so and libvarnodw.so), so that one benchmark binary measures a "before" and an "after".
inline std::string LibPath(Lib lib, const char* builtA, const char* builtW) {
    const char* dir = std::getenv("BENCH_LIB_DIR");
    if (dir != nullptr && *dir != '\0')
        return std::string(dir) + (lib == Lib::Ansi ? "/libvarnod.so" : "/libvarnodw.so");
    return lib == Lib::Ansi ? builtA : builtW;
}

inline std::string TempDir(const char* what) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + what + "-" +
                       std::to_string(getpid());
    std::system(("mkdir -p " + path).c_str());
    return path;
}

// A private odbcinst.ini naming both libraries and the null driver, found through ODBCSYSINI.
inline void WriteOdbcInst(const std::string& dir, const std::string& a, const std::string& w, const char* null) {
    std::ofstream(dir + "/odbcinst.ini") << "[Varno Bench A]\nDriver = " << a << "\n[Varno Bench W]\nDriver = " << w
                                         << "\n[Null Bench]\nDriver = " << null << "\n";
    std::ofstream(dir + "/odbc.ini") << "";
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
}

inline const char* DriverName(Lib lib) { return lib == Lib::Ansi ? "Varno Bench A" : "Varno Bench W"; }

// ---- The values -------------------------------------------------------------------------------

// Row x (from 1) of the six columns. The fetch benchmark's table is filled by SQLite from the
// same rules (see kFillSql); the insert benchmark makes each row as it goes, on both sides alike,
// so that no table of values swells either side's peak memory.
struct Row {
    int32_t i;
    int64_t b;
    double f;
    char v20[21];
    SQLLEN n20;
    char v100[101];
    SQLLEN n100;
    SQL_DATE_STRUCT d;
};

// The same rules in SQL, for n(x) counting from 1.
constexpr const char kFillSql[] =
    " SELECT x, x * 1000003, x * 0.25, printf('name %d', x), printf('%090d', x),"
    " printf('%04d/%02d/%02d', 2000 + x % 25, 1 + x % 12, 1 + x % 28) FROM n";

// The journal settings the embedded server opens its files with.
constexpr const char kServerJournal[] = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;";

constexpr const char kCreateSql[] =
    "CREATE TABLE t (i INTEGER, b BIGINT, f FLOAT, v20 VARCHAR(20), v100 VARCHAR(100), d DATE)";

// Decimal digits of a positive x, written backwards from end; answers the first digit.
inline char* Digits(long x, char* end) {
    do {
        *--end = static_cast<char>('0' + x % 10);
        x /= 10;
    } while (x > 0);
    return end;
}

inline void MakeRow(long x, Row& r) {
    r.i = static_cast<int32_t>(x);
    r.b = int64_t{x} * 1000003;
    r.f = static_cast<double>(x) * 0.25;
    char digits[24];
    char* const end = digits + sizeof digits;
    const char* first = Digits(x, end);
    const size_t nd = static_cast<size_t>(end - first);
    std::memcpy(r.v20, "name ", 5);
    std::memcpy(r.v20 + 5, first, nd);
    r.n20 = static_cast<SQLLEN>(5 + nd);
    r.v20[r.n20] = '\0';
    std::memset(r.v100, '0', 90 - nd);
    std::memcpy(r.v100 + 90 - nd, first, nd);
    r.v100[90] = '\0';
    r.n100 = 90;
    r.d = {static_cast<SQLSMALLINT>(2000 + x % 25), static_cast<SQLUSMALLINT>(1 + x % 12),
           static_cast<SQLUSMALLINT>(1 + x % 28)};
}

// YYYY<sep>MM<sep>DD, ten characters and a NUL, by hand.
inline void FormatDate(const SQL_DATE_STRUCT& d, char sep, char* out) {
    const int y = d.year;
    out[0] = static_cast<char>('0' + y / 1000);
    out[1] = static_cast<char>('0' + y / 100 % 10);
    out[2] = static_cast<char>('0' + y / 10 % 10);
    out[3] = static_cast<char>('0' + y % 10);
    out[4] = sep;
    out[5] = static_cast<char>('0' + d.month / 10);
    out[6] = static_cast<char>('0' + d.month % 10);
    out[7] = sep;
    out[8] = static_cast<char>('0' + d.day / 10);
    out[9] = static_cast<char>('0' + d.day % 10);
    out[10] = '\0';
}

// The date of YYYY?MM?DD text, as an application that wants a date struct reads it.
inline SQL_DATE_STRUCT ParseDate(const unsigned char* p) {
    auto two = [p](int k) { return (p[k] - '0') * 10 + (p[k + 1] - '0'); };
    return {static_cast<SQLSMALLINT>(two(0) * 100 + two(2)), static_cast<SQLUSMALLINT>(two(5)),
            static_cast<SQLUSMALLINT>(two(8))};
}

// ASCII text widened to UTF-16; n units, then a NUL.
inline void Widen(const char* s, SQLLEN n, SQLWCHAR* out) {
    for (SQLLEN k = 0; k < n; ++k)
        out[k] = static_cast<unsigned char>(s[k]);
    out[n] = 0;
}

// ---- The fingerprint --------------------------------------------------------------------------

// An order-dependent fingerprint of every value a run reads, taken from the application's own
// buffers with the same code on the raw side and the ODBC side, so that its cost is the same on
// both; the parent compares it with the fingerprint of the generated values. Words of text are
// weighed by their place and summed (independent products, cheap), then mixed into the run's
// value once per value.
struct Fingerprint {
    uint64_t h = 0;

    void Word(uint64_t w) {
        h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
        h ^= h >> 32;
    }
    void Int(int64_t v) { Word(static_cast<uint64_t>(v)); }
    void Double(double v) {
        uint64_t w;
        std::memcpy(&w, &v, sizeof w);
        Word(w);
    }
    // n bytes of text (n is part of the value).
    void Bytes(const void* data, SQLLEN n) {
        const auto* p = static_cast<const unsigned char*>(data);
        uint64_t sum = static_cast<uint64_t>(n), weight = 0xC2B2AE3D27D4EB4FULL;
        SQLLEN k = 0;
        for (; k + 8 <= n; k += 8, weight += 2) {
            uint64_t w;
            std::memcpy(&w, p + k, 8);
            sum += w * weight;
        }
        if (k < n) {
            uint64_t w = 0;
            std::memcpy(&w, p + k, static_cast<size_t>(n - k));
            sum += w * weight;
        }
        Word(sum);
    }
    void Date(const SQL_DATE_STRUCT& d) {
        Word(static_cast<uint64_t>(static_cast<uint16_t>(d.year)) << 32 | uint64_t{d.month} << 16 | d.day);
    }
    // A date as ten characters of text: the separators do not count, since the raw side reads
    // the server's 'YYYY/MM/DD' and ODBC answers 'YYYY-MM-DD'.
    void DateText(const char* p, SQLLEN n) {
        uint64_t w = static_cast<uint64_t>(n);
        if (n == 10) {
            // YYYY?MM? in one word, the two separators replaced by the day's digits.
            std::memcpy(&w, p, 8);
            w = (w & ~(0xFFULL << 32 | 0xFFULL << 56)) | uint64_t{static_cast<unsigned char>(p[8])} << 32 |
                uint64_t{static_cast<unsigned char>(p[9])} << 56;
        }
        Word(w);
    }
};

// Takes generated row x into fp as a reader with these C types takes it.
inline void ExpectRow(Fingerprint& fp, long x, Text text, Dates dates) {
    Row r{};
    SQLWCHAR w20[21], w100[101];
    char date[11];
    MakeRow(x, r);
    fp.Int(r.i);
    fp.Int(r.b);
    fp.Double(r.f);
    if (text == Text::Char) {
        fp.Bytes(r.v20, r.n20);
        fp.Bytes(r.v100, r.n100);
    } else {
        Widen(r.v20, r.n20, w20);
        Widen(r.v100, r.n100, w100);
        fp.Bytes(w20, r.n20 * 2);
        fp.Bytes(w100, r.n100 * 2);
    }
    if (dates == Dates::Struct) {
        fp.Date(r.d);
    } else {
        FormatDate(r.d, '-', date);
        fp.DateText(date, 10);
    }
}

// The fingerprint of rows 1..rows as a reader with these C types takes it.
inline uint64_t ExpectedFingerprint(long rows, Text text, Dates dates) {
    Fingerprint fp;
    for (long x = 1; x <= rows; ++x)
        ExpectRow(fp, x, text, dates);
    return fp.h;
}

// ---- Measurements -----------------------------------------------------------------------------

// What one child reports: the time inside the clock, the rows it read or wrote, its values'
// fingerprint, the rowset size the driver granted (fetches), and its peak RSS.
struct Figure {
    double seconds = 0;  // wall time
    double cpu = 0;      // the process's CPU time
    long rows = -1;
    uint64_t fingerprint = 0;
    long rowset = 0;
    long peakKb = 0;
    bool failed = true;
};

inline double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Both clocks around the measured work. The reports use the process's CPU time unless
// BENCH_CLOCK=wall: on a shared, loaded machine the time a run waits for a core is noise that
// falls on either side at random, and it is the largest part of the spread of wall times.
class Clock {
public:
    Clock() : wall_(std::chrono::steady_clock::now()), cpu_(CpuNow()) {}
    void Stop(Figure& f) const {
        f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
        f.cpu = CpuNow() - cpu_;
    }

private:
    std::chrono::steady_clock::time_point wall_;
    double cpu_;
};

// A span of measured work on both clocks, as plain data a child can report.
struct Span {
    double wall = 0, cpu = 0;
};

// A Clock that stops into a Span.
class Timer {
public:
    void Stop(Span& s) const {
        Figure f;
        clock_.Stop(f);
        s.wall = f.seconds;
        s.cpu = f.cpu;
    }

private:
    Clock clock_;
};

// The process's peak resident size so far, in KB.
inline long PeakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// A span and the peak RSS after it, as a report's figure.
inline Figure AsFigure(const Span& s, long peakKb) {
    Figure f;
    f.seconds = s.wall;
    f.cpu = s.cpu;
    f.peakKb = peakKb;
    f.failed = false;
    return f;
}

inline bool WallClock() { return EnvIs("BENCH_CLOCK", "wall"); }
inline double Time(const Figure& f) { return WallClock() ? f.seconds : f.cpu; }
inline const char* ClockName() { return WallClock() ? "wall time" : "CPU time"; }

// Runs work in a child process, so that the peak RSS is its own and nothing it leaves
// behind touches the next run; its result (plain data) comes back through a pipe. A result
// with a peakKb member gets the child's peak RSS there.
template <class Work>
auto InChild(Work work) -> decltype(work()) {
    using Result = decltype(work());
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(3);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Result r = work();
        if constexpr (requires { r.peakKb; }) {
            rusage ru{};
            getrusage(RUSAGE_SELF, &ru);
            r.peakKb = ru.ru_maxrss;
        }
        if (write(fds[1], &r, sizeof r) != sizeof r)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Result r{};
    if (read(fds[0], &r, sizeof r) != sizeof r)
        r = Result{};
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return r;
}

// A new database file at path holding the benchmark table with rows generated rows; createSql
// may declare the same six columns another way (a key, say).
inline void CreateDatabase(const std::string& path, long rows, const char* createSql = kCreateSql) {
    unlink(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string sql = std::string(createSql) +
                            ";WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                            std::to_string(rows) + ") INSERT INTO t" + kFillSql + ";";
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "cannot fill %s: %s\n", path.c_str(), err != nullptr ? err : "");
        std::exit(1);
    }
    sqlite3_close(db);
}

// Prints the first diagnostic of a handle and ends the child.
inline void Fail(const char* what, SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len);
    std::fprintf(stderr, "%s failed: %s %s\n", what, state, msg);
    std::fflush(stderr);
    _exit(2);
}

// An ODBC 3 environment and a connection through the named driver with extra keywords.
struct Connection {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    Connection(const char* driver, const std::string& rest) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string in = std::string("DRIVER={") + driver + "};" + rest;
        if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0,
                                            nullptr, SQL_DRIVER_NOPROMPT)))
            Fail("connect", SQL_HANDLE_DBC, dbc);
    }
    ~Connection() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
};

// ---- Reports ----------------------------------------------------------------------------------

struct Spread {
    double median = 0, min = 0, max = 0;
};

inline Spread Summarise(std::vector<double> v) {
    Spread s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    s.median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.min = v.front();
    s.max = v.back();
    return s;
}

// The runs of one workload in one column: each run's time and peak RSS beside raw sqlite3's in
// the same repeat, and whether every run read or wrote the right values.
struct Cell {
    std::vector<double> seconds, ratio, peakKb, peakRatio;
    bool wrong = false;
    std::string why;
};

// Ratios are to raw sqlite3 unless another baseline is named (a tenth column in the TSV lines).
class Report {
public:
    explicit Report(const char* bench, const char* baseline = "raw sqlite3") : bench_(bench), baseline_(baseline) {}

    void Add(const std::string& workload, const std::string& column, const Figure& f, const Figure& raw,
             const std::string& wrong) {
        if (std::find(workloads_.begin(), workloads_.end(), workload) == workloads_.end())
            workloads_.push_back(workload);
        if (std::find(columns_.begin(), columns_.end(), column) == columns_.end()) {
            columns_.push_back(column);
            // The floor's column last, after the libraries'.
            std::stable_partition(columns_.begin(), columns_.end(), [](const std::string& c) { return c != "null driver"; });
        }
        Cell& c = cells_[{workload, column}];
        c.seconds.push_back(Time(f));
        c.peakKb.push_back(static_cast<double>(f.peakKb));
        if (Time(raw) > 0) {
            c.ratio.push_back(Time(f) / Time(raw));
            c.peakRatio.push_back(static_cast<double>(f.peakKb) / static_cast<double>(raw.peakKb));
        }
        if (!wrong.empty() && !c.wrong) {
            c.wrong = true;
            c.why = wrong;
        }
    }

    // The raw sqlite3 runs of one set of C types (shown in full, and as seconds in the TSV lines).
    void AddRaw(const std::string& label, const Figure& f, const std::string& wrong) {
        Cell& c = raw_[label];
        c.seconds.push_back(Time(f));
        c.peakKb.push_back(static_cast<double>(f.peakKb));
        if (!wrong.empty() && !c.wrong) {
            c.wrong = true;
            c.why = wrong;
        }
    }

    // Every cell in full, then the markdown tables of ratios and of peak memory, then (with
    // BENCH_TSV=file) one tab-separated line a cell, appended, for bench/compare.py.
    void Print() const {
        std::printf("\n%s: times are %s (BENCH_CLOCK=wall|cpu), ratios to %s\n", bench_, ClockName(), baseline_);
        if (!raw_.empty())
            std::printf("\n%-58s %9s %15s %10s\n", "raw sqlite3", "median s", "(min-max)", "peak KB");
        for (const auto& [label, c] : raw_) {
            const Spread s = Summarise(c.seconds);
            std::printf("%-58s %9.3f %6.3f-%-6.3f %10.0f%s%s\n", label.c_str(), s.median, s.min, s.max,
                        Summarise(c.peakKb).median, c.wrong ? "  WRONG: " : "", c.why.c_str());
        }
        std::printf("\n%-58s %-14s %9s %22s %10s %7s\n", "workload", "column", "median s", "ratio median (min-max)",
                    "peak KB", "x base");
        for (const auto& w : workloads_)
            for (const auto& col : columns_) {
                auto it = cells_.find({w, col});
                if (it == cells_.end())
                    continue;
                const Cell& c = it->second;
                const Spread s = Summarise(c.seconds), r = Summarise(c.ratio), p = Summarise(c.peakKb),
                             pr = Summarise(c.peakRatio);
                std::printf("%-58s %-14s %9.3f %8.2fx (%.2f-%.2f) %10.0f %6.2fx%s%s\n", w.c_str(), col.c_str(),
                            s.median, r.median, r.min, r.max, p.median, pr.median, c.wrong ? "  WRONG: " : "",
                            c.why.c_str());
            }
        Table((std::string(ClockName()) + ", ratio to " + baseline_ + ": median (min-max)").c_str(), [](const Cell& c) {
            const Spread r = Summarise(c.ratio);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.2fx (%.2f-%.2f)", r.median, r.min, r.max);
            return std::string(buf);
        });
        Table(("peak RSS, ratio to " + std::string(baseline_) + ": median").c_str(), [](const Cell& c) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.2fx", Summarise(c.peakRatio).median);
            return std::string(buf);
        });
        const char* tsv = std::getenv("BENCH_TSV");
        if (tsv == nullptr || *tsv == '\0')
            return;
        FILE* out = std::fopen(tsv, "a");
        if (out == nullptr)
            return;
        for (const auto& [label, c] : raw_)
            std::fprintf(out, "%s\t%s\traw\t1\t1\t1\t1\t%.4f\t%s\t%s\n", bench_, label.c_str(),
                         Summarise(c.seconds).median, c.wrong ? "wrong" : "ok", ClockName());
        // In the tables' order, which compare.py keeps.
        for (const auto& w : workloads_)
            for (const auto& col : columns_) {
                auto it = cells_.find({w, col});
                if (it == cells_.end())
                    continue;
                const Cell& c = it->second;
                const Spread r = Summarise(c.ratio);
                std::fprintf(out, "%s\t%s\t%s\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%s\t%s%s%s\n", bench_, w.c_str(),
                             col.c_str(), r.median, r.min, r.max, Summarise(c.peakRatio).median,
                             Summarise(c.seconds).median, c.wrong ? "wrong" : "ok", ClockName(),
                             std::strcmp(baseline_, "raw sqlite3") == 0 ? "" : "\t",
                             std::strcmp(baseline_, "raw sqlite3") == 0 ? "" : baseline_);
            }
        std::fclose(out);
    }

private:
    template <class Format>
    void Table(const char* title, Format format) const {
        std::printf("\n%s (%s)\n\n| workload |", bench_, title);
        for (const auto& col : columns_)
            std::printf(" %s |", col.c_str());
        std::printf("\n|---|");
        for (size_t k = 0; k < columns_.size(); ++k)
            std::printf("---|");
        std::printf("\n");
        for (const auto& w : workloads_) {
            std::printf("| %s |", w.c_str());
            for (const auto& col : columns_) {
                auto it = cells_.find({w, col});
                if (it == cells_.end())
                    std::printf(" |");
                else
                    std::printf(" %s%s |", format(it->second).c_str(), it->second.wrong ? " WRONG" : "");
            }
            std::printf("\n");
        }
    }

    const char* bench_;
    const char* baseline_;
    std::vector<std::string> workloads_, columns_;
    std::map<std::pair<std::string, std::string>, Cell> cells_;
    std::map<std::string, Cell> raw_;
};

}  // namespace fair
