// A static read-only cursor (SQL_ATTR_CURSOR_TYPE = SQL_CURSOR_STATIC) over rows of four
// columns (INTEGER, FLOAT, VARCHAR(20), DATE) through unixODBC and each library: the execute,
// which reads the whole result into the cursor library's cache (spilling to temporary files
// beyond 5,000 rows), a NEXT walk with SQLFetchScroll and a rowset of 100 over the whole result,
// and 1,000 SQL_FETCH_ABSOLUTE fetches of 100 rows at places drawn with a fixed seed. Beside it,
// in the same repeat: the forward-only walk of the same rows with the same bindings and rowset,
// and the raw sqlite3 API reading the same values into the same C types.
//
// Fair to both sides as bench/odbc_fetch_bench.cpp is: each run is a child process; connecting,
// the prepare and the bindings are outside the clock; both sides take the same fingerprint of
// every value they read (bench/fair.h), and the sum of the integer column and of the text
// lengths, which must equal the generated values'; each ABSOLUTE rowset must start at its
// target's key. The peak RSS (VmHWM) is read before the execute, after it, after the walk and
// after the ABSOLUTE fetches, at the full row count and at a tenth of it: a static cursor keeps
// a window of rows, so the peak must not grow with the rows.
//
//   build/bench/static_cursor_bench [rows]     (default 1000000, or BENCH_ROWS)
//   BENCH_REPEAT=n (default 5), BENCH_LIB=a|w, BENCH_CTYPE=char|wchar (default: ANSI with
//   SQL_C_CHAR, Unicode with SQL_C_WCHAR), BENCH_LIB_DIR=<dir of the .so files>, BENCH_TSV=<file>.
#include <sqlite3.h>

#include <random>

#include "fair.h"

namespace {

using fair::Config;
using fair::Text;

constexpr SQLULEN kRowset = 100;
constexpr int kAbsoluteFetches = 1000;
constexpr uint32_t kSeed = 37;

std::string Query() { return "SELECT i, f, v20, d FROM t"; }

void CreateDatabase(const std::string& path, long rows) {
    unlink(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    const std::string sql = std::string(fair::kCreateSql) +
                            ";WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " +
                            std::to_string(rows) + ") INSERT INTO t" + fair::kFillSql + ";";
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "cannot fill %s: %s\n", path.c_str(), err != nullptr ? err : "");
        std::exit(1);
    }
    sqlite3_close(db);
}

// What a run has read: the fingerprint of every value in order, the sum of the keys and of the
// text lengths (in characters), and how many rows.
struct Tally {
    fair::Fingerprint fp;
    int64_t keys = 0;
    int64_t textChars = 0;
    long rows = 0;
    bool operator==(const Tally& o) const {
        return fp.h == o.fp.h && keys == o.keys && textChars == o.textChars && rows == o.rows;
    }
};

// One row's values as both sides take them (text as bytes of the application's C type).
inline void Take(Tally& t, int32_t i, double f, const void* text, SQLLEN chars, Text type, const SQL_DATE_STRUCT& d) {
    t.fp.Int(i);
    t.fp.Double(f);
    t.fp.Bytes(text, type == Text::Char ? chars : chars * 2);
    t.fp.Date(d);
    t.keys += i;
    t.textChars += chars;
    ++t.rows;
}

// The tally of generated rows first..last.
Tally Expected(long first, long last, Text type, Tally t = {}) {
    fair::Row r{};
    SQLWCHAR w20[21];
    for (long x = first; x <= last; ++x) {
        fair::MakeRow(x, r);
        if (type == Text::Char) {
            Take(t, r.i, r.f, r.v20, r.n20, type, r.d);
        } else {
            fair::Widen(r.v20, r.n20, w20);
            Take(t, r.i, r.f, w20, r.n20, type, r.d);
        }
    }
    return t;
}

// The ABSOLUTE fetches' first rows: the same places in every run, each with 100 rows after it.
std::vector<long> Targets(long rows) {
    std::mt19937 gen(kSeed);
    std::uniform_int_distribution<long> pick(1, std::max<long>(1, rows - static_cast<long>(kRowset) + 1));
    std::vector<long> out(kAbsoluteFetches);
    for (long& t : out)
        t = pick(gen);
    return out;
}

// ---- Measurements in child processes ---------------------------------------------------------

struct Span {
    double wall = 0, cpu = 0;
    double Time() const { return fair::WallClock() ? wall : cpu; }
};

class Timer {
public:
    void Stop(Span& s) const {
        fair::Figure f;
        clock_.Stop(f);
        s.wall = f.seconds;
        s.cpu = f.cpu;
    }

private:
    fair::Clock clock_;
};

// The peak and the current resident size of this process, in KB.
struct Memory {
    long hwm = 0, rss = 0;
};

Memory ReadMemory() {
    Memory m;
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    std::string unit;
    while (in >> key >> value >> unit) {
        if (key == "VmHWM:")
            m.hwm = value;
        else if (key == "VmRSS:")
            m.rss = value;
    }
    return m;
}

// What one child reports (copied through a pipe: plain data only).
struct Result {
    bool failed = true;
    char why[160] = {};
    Span execute, walk, absolute;
    Tally walked, fetched;  // the walk's rows; the ABSOLUTE fetches' rows
    long rowset = 0;        // the rowset the driver granted
    long cursorType = -1;   // the cursor type after the prepare
    long rowCount = -2;     // SQLRowCount after the execute
    long offTarget = 0;     // ABSOLUTE rowsets that did not start at their target
    Memory before, afterExecute, afterWalk, afterAbsolute;
};

void Why(Result& r, const std::string& s) {
    if (r.why[0] == '\0')
        std::snprintf(r.why, sizeof r.why, "%s", s.c_str());
}

template <class Work>
Result InChild(Work work) {
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(3);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = work();
        if (write(fds[1], &r, sizeof r) != sizeof r)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Result r{};
    if (read(fds[0], &r, sizeof r) != sizeof r) {
        r = Result{};
        Why(r, "the run failed");
    }
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return r;
}

Result Raw(const std::string& path, Text type) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    const std::string q = Query();
    sqlite3_prepare_v2(db, q.c_str(), -1, &st, nullptr);
    SQLWCHAR v20[21];  // room for either C type
    Result r;
    r.before = ReadMemory();
    const Timer timer;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const int32_t i = sqlite3_column_int(st, 0);
        const double f = sqlite3_column_double(st, 1);
        SQLLEN n;
        if (type == Text::Char) {
            const unsigned char* p = sqlite3_column_text(st, 2);
            n = std::min<SQLLEN>(sqlite3_column_bytes(st, 2), 20);
            std::memcpy(v20, p, static_cast<size_t>(n));
            reinterpret_cast<char*>(v20)[n] = '\0';
        } else {
            const void* p = sqlite3_column_text16(st, 2);
            n = std::min<SQLLEN>(sqlite3_column_bytes16(st, 2) / 2, 20);
            std::memcpy(v20, p, static_cast<size_t>(n) * 2);
            v20[n] = 0;
        }
        Take(r.walked, i, f, v20, n, type, fair::ParseDate(sqlite3_column_text(st, 3)));
    }
    timer.Stop(r.walk);
    r.afterWalk = ReadMemory();
    sqlite3_finalize(st);
    sqlite3_close(db);
    r.rowset = static_cast<long>(kRowset);
    r.failed = false;
    return r;
}

// The statement, its bindings (column-wise, a rowset of 100) and the fetch.
class Bound {
public:
    Bound(SQLHSTMT st, Text type) : st_(st), type_(type), unit_(type == Text::Char ? 1 : sizeof(SQLWCHAR)) {
        i_.resize(kRowset);
        f_.resize(kRowset);
        v20_.resize(kRowset * 21 * unit_);
        d_.resize(kRowset);
        ind_.resize(4 * kRowset);
        SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0);
        SQLGetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, &granted_, 0, nullptr);
        SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
        SQLBindCol(st, 1, SQL_C_SLONG, i_.data(), 0, &ind_[0]);
        SQLBindCol(st, 2, SQL_C_DOUBLE, f_.data(), 0, &ind_[kRowset]);
        SQLBindCol(st, 3, type == Text::Char ? SQL_C_CHAR : SQL_C_WCHAR, v20_.data(), 21 * unit_, &ind_[2 * kRowset]);
        SQLBindCol(st, 4, SQL_C_TYPE_DATE, d_.data(), sizeof(SQL_DATE_STRUCT), &ind_[3 * kRowset]);
    }
    long Granted() const { return static_cast<long>(granted_); }

    // One SQLFetchScroll; answers its return code, the rows it brought into t.
    SQLRETURN Fetch(SQLSMALLINT orientation, SQLLEN offset, Tally& t) {
        fetched_ = 0;
        const SQLRETURN rc = SQLFetchScroll(st_, orientation, offset);
        if (!SQL_SUCCEEDED(rc))
            return rc;
        for (SQLULEN k = 0; k < fetched_; ++k) {
            // A length beyond the buffer (a fault) is cut to it, as the raw side cuts its copy.
            const SQLLEN chars = std::min<SQLLEN>(ind_[2 * kRowset + k] / unit_, 20);
            Take(t, i_[k], f_[k], &v20_[k * 21 * unit_], chars, type_, d_[k]);
        }
        return rc;
    }
    int32_t FirstKey() const { return i_[0]; }
    SQLULEN Fetched() const { return fetched_; }

private:
    SQLHSTMT st_;
    Text type_;
    SQLLEN unit_;
    std::vector<SQLINTEGER> i_;
    std::vector<double> f_;
    std::vector<char> v20_;
    std::vector<SQL_DATE_STRUCT> d_;
    std::vector<SQLLEN> ind_;
    SQLULEN granted_ = 0, fetched_ = 0;
};

// The forward-only walk (execute and NEXT fetches inside one clock), or the static cursor: the
// execute, the NEXT walk and the ABSOLUTE fetches, each on its own clock.
Result Odbc(const std::string& path, Config c, bool scrollable, const std::vector<long>& targets) {
    fair::Connection conn(fair::DriverName(c.lib), "DATABASENAME=" + path);
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &st);
    Result r;
    if (scrollable) {
        SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0);
        SQLSetStmtAttr(st, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0);
    }
    Bound bound(st, c.text);
    r.rowset = bound.Granted();
    std::string q = Query();
    if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(q.data()), SQL_NTS)))
        fair::Fail("prepare", SQL_HANDLE_STMT, st);
    SQLULEN type = 0;
    SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
    r.cursorType = static_cast<long>(type);
    r.before = ReadMemory();
    {
        const Timer timer;
        if (!SQL_SUCCEEDED(SQLExecute(st)))
            fair::Fail("execute", SQL_HANDLE_STMT, st);
        if (scrollable) {
            timer.Stop(r.execute);
            r.afterExecute = ReadMemory();
        }
        const Timer walk;
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = bound.Fetch(SQL_FETCH_NEXT, 0, r.walked))) {
        }
        if (rc != SQL_NO_DATA)
            fair::Fail("fetch next", SQL_HANDLE_STMT, st);
        (scrollable ? walk : timer).Stop(r.walk);
        r.afterWalk = ReadMemory();
    }
    if (scrollable) {
        SQLLEN count = -2;
        SQLRowCount(st, &count);
        r.rowCount = static_cast<long>(count);
        const Timer timer;
        for (long target : targets) {
            if (!SQL_SUCCEEDED(bound.Fetch(SQL_FETCH_ABSOLUTE, target, r.fetched)))
                fair::Fail("fetch absolute", SQL_HANDLE_STMT, st);
            if (bound.Fetched() == 0 || bound.FirstKey() != target)
                ++r.offTarget;
        }
        timer.Stop(r.absolute);
        r.afterAbsolute = ReadMemory();
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    r.failed = false;
    return r;
}

// ---- Reports ----------------------------------------------------------------------------------

std::string Cell(const std::vector<double>& v, const char* format) {
    if (v.empty())
        return "-";
    const fair::Spread s = fair::Summarise(v);
    char buf[96];
    std::snprintf(buf, sizeof buf, format, s.median, s.min, s.max);
    return buf;
}

// One column (a library and C type) at one row count: the figures of every repeat.
struct Series {
    std::vector<double> raw, forward, execute, walk, perFetchUs, execVsFwd, walkVsFwd, bothVsFwd, execVsRaw,
        walkVsRaw, bothVsRaw, fwdVsRaw, absVsFwd100;
    std::vector<double> hwmBefore, hwmExecute, hwmWalk, hwmAbsolute, rawHwm, fwdHwm;
    std::string wrong;
};

void Wrong(Series& s, const std::string& why) {
    if (s.wrong.empty() && !why.empty())
        s.wrong = why;
}

// What is wrong with a run, or "".
std::string Check(const Result& r, const Tally& expected, bool odbc) {
    if (r.failed)
        return r.why[0] != '\0' ? r.why : "the run failed";
    if (r.walked.rows != expected.rows)
        return "walked " + std::to_string(r.walked.rows) + " rows";
    if (!(r.walked == expected))
        return "walked values differ from the generated ones";
    if (odbc && r.rowset != static_cast<long>(kRowset))
        return "rowset " + std::to_string(r.rowset) + " granted";
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const char* envRows = std::getenv("BENCH_ROWS");
    const long rows = argc > 1 ? std::atol(argv[1]) : envRows != nullptr ? std::atol(envRows) : 1000000;
    if (rows < static_cast<long>(kRowset) * 10) {
        std::fprintf(stderr, "static_cursor_bench: at least %lu rows\n", kRowset * 10);
        return 1;
    }
    const long small = rows / 10;
    const int repeat = fair::Repeat();
    std::vector<Config> configs;
    for (const Config& c : fair::Configs())
        if (std::getenv("BENCH_CTYPE") != nullptr || (c.lib == fair::Lib::Ansi) == (c.text == Text::Char))
            configs.push_back(c);
    const std::string dir = fair::TempDir("static-cursor-bench");
    setenv("TMPDIR", dir.c_str(), 1);  // the cache's spill files, removed with the rest
    const std::string a = fair::LibPath(fair::Lib::Ansi, VARNO_LIB_A, VARNO_LIB_W);
    const std::string w = fair::LibPath(fair::Lib::Unicode, VARNO_LIB_A, VARNO_LIB_W);
    fair::WriteOdbcInst(dir, a, w, "/dev/null");
    const long counts[] = {small, rows};
    std::map<long, std::string> dbs;
    for (long n : counts) {
        dbs[n] = dir + "/t" + std::to_string(n) + ".db";
        CreateDatabase(dbs[n], n);
    }
    std::printf("static_cursor_bench: %ld and %ld rows, rowset %lu, %d ABSOLUTE fetches, %d repeats, %s\n"
                "  ANSI    %s\n  Unicode %s\n",
                small, rows, kRowset, kAbsoluteFetches, repeat, fair::ClockName(), a.c_str(), w.c_str());

    std::map<std::pair<long, Text>, Tally> walked, fetched;
    std::map<long, std::vector<long>> targets;
    for (long n : counts) {
        targets[n] = Targets(n);
        for (const Config& c : configs) {
            walked[{n, c.text}] = Expected(1, n, c.text);
            Tally t;
            for (long x : targets[n])
                t = Expected(x, std::min(n, x + static_cast<long>(kRowset) - 1), c.text, t);
            fetched[{n, c.text}] = t;
        }
    }

    fair::Report report("static cursor");
    std::map<std::pair<long, std::string>, Series> series;
    const auto asFigure = [](const Span& s, long peak, bool failed) {
        fair::Figure f;
        f.seconds = s.wall;
        f.cpu = s.cpu;
        f.peakKb = peak;
        f.failed = failed;
        return f;
    };
    // Each repeat runs raw sqlite3, the forward-only walk and the static cursor one after the
    // other, so that a slow spell of the shared machine falls on all three.
    for (int rep = 0; rep < repeat; ++rep) {
        for (long n : counts) {
            const std::string& db = dbs[n];
            const std::string rows_ = " (" + std::to_string(n) + " rows)";
            for (const Config& c : configs) {
                const Tally& expect = walked[{n, c.text}];
                Series& s = series[{n, c.Label()}];
                const Result raw = InChild([&] { return Raw(db, c.text); });
                const Result fwd = InChild([&] { return Odbc(db, c, false, {}); });
                const Result stc = InChild([&] { return Odbc(db, c, true, targets[n]); });
                const std::string rawWrong = Check(raw, expect, false), fwdWrong = Check(fwd, expect, true);
                std::string stcWrong = Check(stc, expect, true);
                if (stcWrong.empty() && stc.cursorType != SQL_CURSOR_STATIC)
                    stcWrong = "cursor type " + std::to_string(stc.cursorType) + " after the prepare";
                if (stcWrong.empty() && stc.rowCount != n)
                    stcWrong = "SQLRowCount " + std::to_string(stc.rowCount);
                if (stcWrong.empty() && stc.offTarget != 0)
                    stcWrong = std::to_string(stc.offTarget) + " ABSOLUTE rowsets off their target";
                if (stcWrong.empty() && !(stc.fetched == fetched[{n, c.text}]))
                    stcWrong = "ABSOLUTE values differ from the generated ones";
                Wrong(s, rawWrong.empty() ? "" : "raw: " + rawWrong);
                Wrong(s, fwdWrong.empty() ? "" : "forward-only: " + fwdWrong);
                Wrong(s, stcWrong.empty() ? "" : "static: " + stcWrong);

                const std::string rawLabel = std::string("raw sqlite3, text ") +
                                             (c.text == Text::Char ? "CHAR" : "WCHAR") + rows_;
                const fair::Figure rawF = asFigure(raw.walk, raw.afterWalk.hwm, raw.failed);
                report.AddRaw(rawLabel, rawF, rawWrong);
                report.Add("forward-only, rowset 100" + rows_, c.Label(), asFigure(fwd.walk, fwd.afterWalk.hwm, false),
                           rawF, fwdWrong);
                if (stc.failed) {
                    report.Add("static: execute" + rows_, c.Label(), fair::Figure{}, rawF, stcWrong);
                    continue;
                }
                const Span both{stc.execute.wall + stc.walk.wall, stc.execute.cpu + stc.walk.cpu};
                report.Add("static: execute" + rows_, c.Label(), asFigure(stc.execute, stc.afterExecute.hwm, false),
                           rawF, stcWrong);
                report.Add("static: NEXT walk, rowset 100" + rows_, c.Label(),
                           asFigure(stc.walk, stc.afterWalk.hwm, false), rawF, stcWrong);
                report.Add("static: execute + walk" + rows_, c.Label(), asFigure(both, stc.afterWalk.hwm, false),
                           rawF, stcWrong);

                const double fwdT = fwd.walk.Time(), rawT = raw.walk.Time();
                const double fwdPer100 = fwdT / (static_cast<double>(n) / static_cast<double>(kRowset));
                const double perFetch = stc.absolute.Time() / kAbsoluteFetches;
                s.raw.push_back(rawT);
                s.forward.push_back(fwdT);
                s.execute.push_back(stc.execute.Time());
                s.walk.push_back(stc.walk.Time());
                s.perFetchUs.push_back(perFetch * 1e6);
                if (fwdT > 0) {
                    s.execVsFwd.push_back(stc.execute.Time() / fwdT);
                    s.walkVsFwd.push_back(stc.walk.Time() / fwdT);
                    s.bothVsFwd.push_back(both.Time() / fwdT);
                    s.absVsFwd100.push_back(perFetch / fwdPer100);
                }
                if (rawT > 0) {
                    s.execVsRaw.push_back(stc.execute.Time() / rawT);
                    s.walkVsRaw.push_back(stc.walk.Time() / rawT);
                    s.bothVsRaw.push_back(both.Time() / rawT);
                    s.fwdVsRaw.push_back(fwdT / rawT);
                }
                s.hwmBefore.push_back(static_cast<double>(stc.before.hwm));
                s.hwmExecute.push_back(static_cast<double>(stc.afterExecute.hwm));
                s.hwmWalk.push_back(static_cast<double>(stc.afterWalk.hwm));
                s.hwmAbsolute.push_back(static_cast<double>(stc.afterAbsolute.hwm));
                s.rawHwm.push_back(static_cast<double>(raw.afterWalk.hwm));
                s.fwdHwm.push_back(static_cast<double>(fwd.afterWalk.hwm));
            }
        }
    }
    report.Print();

    // The static cursor against the forward-only walk of the same rows in the same repeat.
    const char* ratio = "%.2fx (%.2f-%.2f)";
    std::printf("\nstatic cursor (%s), ratio to the forward-only walk, rowset 100: median (min-max)\n\n"
                "| rows | column | execute | NEXT walk | execute + walk | ABSOLUTE 100 rows, us a fetch |"
                " ABSOLUTE / forward-only per 100 rows |\n|---|---|---|---|---|---|---|\n",
                fair::ClockName());
    for (const auto& [key, s] : series)
        std::printf("| %ld | %s | %s | %s | %s | %s | %s |%s%s\n", key.first, key.second.c_str(),
                    Cell(s.execVsFwd, ratio).c_str(), Cell(s.walkVsFwd, ratio).c_str(),
                    Cell(s.bothVsFwd, ratio).c_str(), Cell(s.perFetchUs, "%.1f (%.1f-%.1f)").c_str(),
                    Cell(s.absVsFwd100, ratio).c_str(), s.wrong.empty() ? "" : " WRONG: ", s.wrong.c_str());
    std::printf("\nstatic cursor (%s), seconds: median (min-max)\n\n"
                "| rows | column | raw sqlite3 | forward-only | static execute | static walk |\n|---|---|---|---|---|---|\n",
                fair::ClockName());
    const char* secs = "%.3f (%.3f-%.3f)";
    for (const auto& [key, s] : series)
        std::printf("| %ld | %s | %s | %s | %s | %s |\n", key.first, key.second.c_str(), Cell(s.raw, secs).c_str(),
                    Cell(s.forward, secs).c_str(), Cell(s.execute, secs).c_str(), Cell(s.walk, secs).c_str());
    std::printf("\npeak RSS (VmHWM, KB, median): the static cursor before the execute, after it, after the walk,"
                " after the ABSOLUTE fetches; raw sqlite3's and the forward-only walk's at their end\n\n"
                "| rows | column | before | execute | walk | ABSOLUTE | raw | forward-only |\n"
                "|---|---|---|---|---|---|---|---|\n");
    const auto kb = [](const std::vector<double>& v) { return Cell(v, "%.0f"); };
    for (const auto& [key, s] : series)
        std::printf("| %ld | %s | %s | %s | %s | %s | %s | %s |\n", key.first, key.second.c_str(),
                    kb(s.hwmBefore).c_str(), kb(s.hwmExecute).c_str(), kb(s.hwmWalk).c_str(),
                    kb(s.hwmAbsolute).c_str(), kb(s.rawHwm).c_str(), kb(s.fwdHwm).c_str());
    // The peak's growth from a tenth of the rows to all of them: a flat cache keeps it near 1.
    for (const Config& c : configs) {
        const Series& lo = series[{small, c.Label()}];
        const Series& hi = series[{rows, c.Label()}];
        if (lo.hwmAbsolute.empty() || hi.hwmAbsolute.empty())
            continue;
        const double l = fair::Summarise(lo.hwmAbsolute).median, h = fair::Summarise(hi.hwmAbsolute).median;
        std::printf("  %s: static peak %.0f KB at %ld rows, %.0f KB at %ld rows (%.2fx for %.0fx the rows)\n",
                    c.Label(), l, small, h, rows, h / l, static_cast<double>(rows) / static_cast<double>(small));
    }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
