// A static read-only cursor (SQL_ATTR_CURSOR_TYPE = SQL_CURSOR_STATIC) over the six benchmark
// columns (INTEGER, BIGINT, FLOAT, VARCHAR(20), VARCHAR(100), DATE) through unixODBC and each
// library: the execute, which reads the whole result into the cursor library's cache (spilling
// beyond 5,000 rows to temporary files), a NEXT walk with SQLFetchScroll and a column-wise rowset
// of 100, and 1,000 SQL_FETCH_ABSOLUTE fetches of 100 rows at places drawn with a fixed seed.
// Beside it, in the same repeat and on the same file: raw sqlite3 reading every row into the
// same C types, the forward-only walk of the same rows with the same bindings, and raw sqlite3
// answering the same ABSOLUTE fetches from an array of every row it filled first (the cheapest
// a program can answer them; LIMIT/OFFSET would make the raw side scan up to the offset).
//
// Fair as bench/odbc_fetch_bench.cpp is: each run is a child process (its own peak RSS);
// connecting, the prepare and the bindings are outside the clock; every side takes the same
// fingerprint of every value it reads from the application's buffers (bench/fair.h), which must
// equal the generated values'; each ABSOLUTE rowset must start at its target. The peak RSS is
// read after each step, at the full row count and at a tenth of it: the cache keeps a window of
// rows in memory, so the peak must not grow with the rows.
//
//   build/bench/static_cursor_bench [rows]     (default 1000000; also run at rows / 10)
//   BENCH_REPEAT=n (default 5), BENCH_LIB=a|w, BENCH_CTYPE=char|wchar, BENCH_DATES=date|char,
//   BENCH_LIB_DIR=<dir of the .so files>, BENCH_TSV=<file>.
#include <sqlite3.h>

#include <random>

#include "cursor_bench.h"

namespace {

using cursorbench::kQuery;
using cursorbench::kRowset;
using fair::AsFigure;
using fair::Config;
using fair::Dates;
using fair::Figure;
using fair::PeakKb;
using fair::Span;
using fair::Text;
using fair::Timer;

constexpr int kAbsoluteFetches = 1000;
constexpr uint32_t kSeed = 37;

// The ABSOLUTE fetches' first rows: the same places on every side and in every run, each with a
// full rowset after it.
std::vector<long> Targets(long rows) {
    std::mt19937 gen(kSeed);
    std::uniform_int_distribution<long> pick(1, rows - static_cast<long>(kRowset) + 1);
    std::vector<long> out(kAbsoluteFetches);
    for (long& t : out)
        t = pick(gen);
    return out;
}

// The raw side's buffers: its rowset and its copy of the whole result.
struct Columns : cursorbench::Columns {
    using cursorbench::Columns::Columns;

    // Row k from the raw statement's current row, as a driver would deliver it.
    void Read(sqlite3_stmt* st, size_t k) {
        i[k] = sqlite3_column_int(st, 0);
        b[k] = sqlite3_column_int64(st, 1);
        x[k] = sqlite3_column_double(st, 2);
        ReadText(st, 3, &v20[k * 21 * unit], 21, ind[3 * n + k]);
        ReadText(st, 4, &v100[k * 101 * unit], 101, ind[4 * n + k]);
        const unsigned char* p = sqlite3_column_text(st, 5);
        if (dates == Dates::Struct) {
            *reinterpret_cast<SQL_DATE_STRUCT*>(&d[k * sizeof(SQL_DATE_STRUCT)]) = fair::ParseDate(p);
            ind[5 * n + k] = sizeof(SQL_DATE_STRUCT);
        } else {
            const SQLLEN len = std::min(sqlite3_column_bytes(st, 5), 10);
            std::memcpy(&d[k * 11], p, static_cast<size_t>(len));
            d[k * 11 + static_cast<size_t>(len)] = '\0';
            ind[5 * n + k] = len;
        }
    }

    // count rows of src from row first into rows 0.. of this rowset.
    void CopyFrom(const Columns& src, size_t first, size_t count) {
        auto copy = [&](auto& to, const auto& from, size_t width) {
            std::memcpy(to.data(), from.data() + first * width, count * width * sizeof to[0]);
        };
        copy(i, src.i, 1);
        copy(b, src.b, 1);
        copy(x, src.x, 1);
        copy(v20, src.v20, 21 * static_cast<size_t>(unit));
        copy(v100, src.v100, 101 * static_cast<size_t>(unit));
        copy(d, src.d, static_cast<size_t>(dateSize));
        for (size_t c = 0; c < 6; ++c)
            std::memcpy(&ind[c * n], &src.ind[c * src.n + first], count * sizeof(SQLLEN));
    }

private:
    void ReadText(sqlite3_stmt* st, int col, char* dst, SQLLEN room, SQLLEN& len) {
        if (text == Text::Char) {
            const unsigned char* p = sqlite3_column_text(st, col);
            len = std::min<SQLLEN>(sqlite3_column_bytes(st, col), room - 1);
            std::memcpy(dst, p, static_cast<size_t>(len));
            dst[len] = '\0';
        } else {
            const void* p = sqlite3_column_text16(st, col);
            const SQLLEN units = std::min<SQLLEN>(sqlite3_column_bytes16(st, col) / 2, room - 1);
            std::memcpy(dst, p, static_cast<size_t>(units) * 2);
            reinterpret_cast<SQLWCHAR*>(dst)[units] = 0;
            len = units * 2;
        }
    }
};

// ---- Measurements in child processes ---------------------------------------------------------

// What one child reports (copied through a pipe: plain data only). A walk is the rows read in
// order (raw, forward-only, static NEXT); the ABSOLUTE fetches' rows are tallied apart.
struct Result {
    bool failed = true;
    char why[160] = {};
    Span execute, walk, absolute;  // raw: the fill of the array is the "execute"
    uint64_t walkFp = 0, absoluteFp = 0;
    long walkRows = 0, absoluteRows = 0;
    long rowset = 0;       // the rowset the driver granted
    long cursorType = -1;  // the cursor type after the prepare
    long rowCount = -2;    // SQLRowCount after the execute
    long offTarget = 0;    // ABSOLUTE rowsets that did not start at their target
    long peakExecute = 0, peakWalk = 0, peakAbsolute = 0;
};

sqlite3_stmt* RawOpen(const std::string& path, sqlite3** db) {
    sqlite3_open_v2(path.c_str(), db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(*db, kQuery, -1, &st, nullptr);
    return st;
}

// Raw sqlite3 reading every row, one at a time, into the application's C types.
Result RawWalk(const std::string& path, Text text, Dates dates) {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = RawOpen(path, &db);
    Columns row(1, text, dates);
    fair::Fingerprint fp;
    Result r;
    const Timer timer;
    while (sqlite3_step(st) == SQLITE_ROW) {
        row.Read(st, 0);
        row.Take(0, fp);
        ++r.walkRows;
    }
    timer.Stop(r.walk);
    r.peakWalk = PeakKb();
    sqlite3_finalize(st);
    sqlite3_close(db);
    r.walkFp = fp.h;
    r.failed = false;
    return r;
}

// Raw sqlite3 reading every row into an array in the application's C types (the counterpart of
// the static execute), then answering the ABSOLUTE fetches by copying 100 rows of it into a
// rowset and taking them from there.
Result RawScroll(const std::string& path, Text text, Dates dates, long rows, const std::vector<long>& targets) {
    sqlite3* db = nullptr;
    sqlite3_stmt* st = RawOpen(path, &db);
    Columns all(static_cast<size_t>(rows), text, dates), rowset(kRowset, text, dates);
    Result r;
    {
        const Timer timer;
        size_t k = 0;
        while (k < all.n && sqlite3_step(st) == SQLITE_ROW)
            all.Read(st, k++);
        timer.Stop(r.execute);
        r.walkRows = static_cast<long>(k);
    }
    r.peakExecute = PeakKb();
    sqlite3_finalize(st);
    sqlite3_close(db);
    fair::Fingerprint fp;
    const Timer timer;
    for (long target : targets) {
        const size_t first = static_cast<size_t>(target - 1), count = std::min<size_t>(kRowset, all.n - first);
        rowset.CopyFrom(all, first, count);
        if (count == 0 || rowset.i[0] != target)
            ++r.offTarget;
        for (size_t k = 0; k < count; ++k)
            rowset.Take(k, fp);
        r.absoluteRows += static_cast<long>(count);
    }
    timer.Stop(r.absolute);
    r.peakAbsolute = PeakKb();
    r.absoluteFp = fp.h;
    r.failed = false;
    return r;
}

// The forward-only walk (execute and NEXT fetches on one clock, as bench/odbc_fetch_bench.cpp
// times it), or the static cursor: the execute, the NEXT walk and the ABSOLUTE fetches, each on
// its own clock.
Result Odbc(const std::string& path, Config c, Dates dates, bool scrollable, const std::vector<long>& targets) {
    fair::Connection conn(fair::DriverName(c.lib), "DATABASENAME=" + path);
    Result r;
    cursorbench::Columns bound(kRowset, c.text, dates);
    SQLULEN fetched = 0;
    const SQLHSTMT st =
        cursorbench::Prepare(conn.dbc, scrollable ? std::optional<SQLULEN>(SQL_CURSOR_STATIC) : std::nullopt, fetched,
                             r, [&](SQLHSTMT h) { bound.Bind(h); });
    fair::Fingerprint fp;
    r.walkRows = cursorbench::ExecuteAndWalk(st, fetched, scrollable, r, [&](SQLULEN k) { bound.Take(k, fp); });
    r.walkFp = fp.h;
    if (scrollable) {
        r.rowCount = cursorbench::RowCount(st);
        fair::Fingerprint afp;
        const Timer timer;
        for (long target : targets) {
            if (!SQL_SUCCEEDED(SQLFetchScroll(st, SQL_FETCH_ABSOLUTE, target)))
                fair::Fail("fetch absolute", SQL_HANDLE_STMT, st);
            if (fetched == 0 || bound.i[0] != target)
                ++r.offTarget;
            for (SQLULEN k = 0; k < fetched; ++k)
                bound.Take(k, afp);
            r.absoluteRows += static_cast<long>(fetched);
        }
        timer.Stop(r.absolute);
        r.peakAbsolute = PeakKb();
        r.absoluteFp = afp.h;
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    r.failed = false;
    return r;
}

// ---- Reports ----------------------------------------------------------------------------------

// What the parent expects of one row count and set of C types.
struct Expected {
    uint64_t walk = 0, absolute = 0;
    long absoluteRows = 0;
};

std::string CheckWalk(const Result& r, long rows, const Expected& e) {
    if (r.failed)
        return "the run failed";
    if (r.walkRows != rows)
        return "read " + std::to_string(r.walkRows) + " rows";
    if (r.walkFp != e.walk)
        return "values differ from the generated ones";
    return "";
}

std::string CheckAbsolute(const Result& r, const Expected& e) {
    if (r.offTarget != 0)
        return std::to_string(r.offTarget) + " ABSOLUTE rowsets off their target";
    if (r.absoluteRows != e.absoluteRows || r.absoluteFp != e.absolute)
        return "ABSOLUTE values differ from the generated ones";
    return "";
}

// One column at one row count and date form, over the repeats.
struct Series {
    std::vector<double> walkVsFwd, staticPeak, fwdPeak, rawPeak, rawArrayPeak;
};

std::string Spread(const std::vector<double>& v, const char* format) {
    if (v.empty())
        return "-";
    const fair::Spread s = fair::Summarise(v);
    char buf[96];
    std::snprintf(buf, sizeof buf, format, s.median, s.min, s.max);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    if (rows < static_cast<long>(kRowset) * 10) {
        std::fprintf(stderr, "static_cursor_bench: at least %lu rows\n", kRowset * 10);
        return 1;
    }
    const long counts[] = {rows / 10, rows};
    // TMPDIR is the run's folder: the cache's spill files go with the rest.
    const cursorbench::Setup setup = cursorbench::SetUp("static-cursor-bench", VARNO_LIB_A, VARNO_LIB_W);
    const auto& [repeat, configs, dateForms, dir, a, w] = setup;
    std::map<long, std::string> dbs;
    std::map<long, std::vector<long>> targets;
    for (long n : counts) {
        dbs[n] = dir + "/t" + std::to_string(n) + ".db";
        fair::CreateDatabase(dbs[n], n);
        targets[n] = Targets(n);
    }
    std::printf("static_cursor_bench: %ld and %ld rows, rowset %lu, %d ABSOLUTE fetches (seed %u), %d repeats\n"
                "  ANSI    %s\n  Unicode %s\n",
                counts[0], rows, kRowset, kAbsoluteFetches, kSeed, repeat, a.c_str(), w.c_str());

    std::map<std::tuple<long, Text, Dates>, Expected> expected;
    for (long n : counts)
        for (const Config& c : configs)
            for (Dates d : dateForms) {
                Expected& e = expected[{n, c.text, d}];
                if (e.walk != 0)
                    continue;
                e.walk = fair::ExpectedFingerprint(n, c.text, d);
                fair::Fingerprint fp;
                for (long t : targets[n])
                    for (long x = t; x < t + static_cast<long>(kRowset); ++x)
                        fair::ExpectRow(fp, x, c.text, d);
                e.absolute = fp.h;
                e.absoluteRows = kAbsoluteFetches * static_cast<long>(kRowset);
            }

    fair::Report toRaw("static cursor");
    fair::Report toForward("static cursor vs forward-only", "forward-only");
    std::map<std::tuple<long, std::string, Dates>, Series> series;
    std::map<std::string, bool> noted;
    // Each repeat runs raw sqlite3, the forward-only walk, the static cursor and raw sqlite3's
    // array one after the other, so that a slow spell of the shared machine falls on all four.
    for (int rep = 0; rep < repeat; ++rep) {
        for (long n : counts) {
            const std::string& db = dbs[n];
            for (Dates d : dateForms) {
                const std::string tail = ", " + std::to_string(n) + " rows (" + fair::DatesLabel(d) + ")";
                for (const Config& c : configs) {
                    const Expected& e = expected[{n, c.text, d}];
                    const Result raw = fair::InChild([&] { return RawWalk(db, c.text, d); });
                    const Result fwd = fair::InChild([&] { return Odbc(db, c, d, false, {}); });
                    const Result stc = fair::InChild([&] { return Odbc(db, c, d, true, targets[n]); });
                    const Result arr = fair::InChild([&] { return RawScroll(db, c.text, d, n, targets[n]); });

                    const std::string text = c.text == Text::Char ? "CHAR" : "WCHAR";
                    const std::string rawWrong = CheckWalk(raw, n, e);
                    std::string arrWrong = arr.failed ? "the run failed"
                                           : arr.walkRows != n ? "filled " + std::to_string(arr.walkRows) + " rows"
                                                               : CheckAbsolute(arr, e);
                    std::string fwdWrong = CheckWalk(fwd, n, e);
                    if (fwdWrong.empty() && fwd.rowset != static_cast<long>(kRowset))
                        fwdWrong = "rowset " + std::to_string(fwd.rowset) + " granted";
                    std::string stcWrong = CheckWalk(stc, n, e);
                    if (stcWrong.empty() && stc.cursorType != SQL_CURSOR_STATIC)
                        stcWrong = "cursor type " + std::to_string(stc.cursorType) + " after the prepare";
                    if (stcWrong.empty() && stc.rowset != static_cast<long>(kRowset))
                        stcWrong = "rowset " + std::to_string(stc.rowset) + " granted";
                    const std::string absWrong = stcWrong.empty() ? CheckAbsolute(stc, e) : stcWrong;
                    if (!stc.failed && !noted[c.Label()]) {
                        noted[c.Label()] = true;
                        std::printf("  %s: SQLRowCount after the static execute answers %ld\n", c.Label(), stc.rowCount);
                    }

                    const Figure rawF = AsFigure(raw.walk, raw.peakWalk);
                    const Figure fwdF = AsFigure(fwd.walk, fwd.peakWalk);
                    const Figure arrAbs = AsFigure(arr.absolute, arr.peakAbsolute);
                    toRaw.AddRaw("raw sqlite3, text " + text + tail, rawF, rawWrong);
                    toRaw.AddRaw("raw sqlite3 array, text " + text + ", fill" + tail,
                                 AsFigure(arr.execute, arr.peakExecute), arrWrong);
                    toRaw.AddRaw("raw sqlite3 array, text " + text + ", ABSOLUTE" + tail, arrAbs, arrWrong);
                    toRaw.Add("forward-only, rowset 100" + tail, c.Label(), fwdF, rawF, fwdWrong);
                    const Figure exec = AsFigure(stc.execute, stc.peakExecute);
                    const Figure walk = AsFigure(stc.walk, stc.peakWalk);
                    const Figure both = AsFigure({stc.execute.wall + stc.walk.wall, stc.execute.cpu + stc.walk.cpu},
                                                 stc.peakWalk);
                    const Figure abs = AsFigure(stc.absolute, stc.peakAbsolute);
                    toRaw.Add("static: execute (the cache's fill)" + tail, c.Label(), exec, rawF, stcWrong);
                    toRaw.Add("static: NEXT walk, rowset 100" + tail, c.Label(), walk, rawF, stcWrong);
                    toRaw.Add("static: 1,000 ABSOLUTE of 100 rows, vs raw array" + tail, c.Label(), abs, arrAbs,
                              absWrong.empty() && !arrWrong.empty() ? "raw: " + arrWrong : absWrong);
                    toForward.Add("static: execute (the cache's fill)" + tail, c.Label(), exec, fwdF,
                                  stcWrong.empty() ? fwdWrong : stcWrong);
                    toForward.Add("static: NEXT walk, rowset 100" + tail, c.Label(), walk, fwdF,
                                  stcWrong.empty() ? fwdWrong : stcWrong);
                    toForward.Add("static: execute + NEXT walk" + tail, c.Label(), both, fwdF,
                                  stcWrong.empty() ? fwdWrong : stcWrong);
                    // The forward-only walk's time scaled to the rows the ABSOLUTE fetches read.
                    const double share = static_cast<double>(kAbsoluteFetches * kRowset) / static_cast<double>(n);
                    const Figure fwdShare = AsFigure({fwd.walk.wall * share, fwd.walk.cpu * share}, fwd.peakWalk);
                    toForward.Add("static: 1,000 ABSOLUTE of 100 rows, vs forward-only of as many rows" + tail,
                                  c.Label(), abs, fwdShare, absWrong.empty() ? fwdWrong : absWrong);

                    if (stc.failed)
                        continue;
                    Series& s = series[{n, c.Label(), d}];
                    if (fair::Time(fwdF) > 0)
                        s.walkVsFwd.push_back(fair::Time(walk) / fair::Time(fwdF));
                    s.staticPeak.push_back(static_cast<double>(stc.peakAbsolute));
                    s.fwdPeak.push_back(static_cast<double>(fwd.peakWalk));
                    s.rawPeak.push_back(static_cast<double>(raw.peakWalk));
                    s.rawArrayPeak.push_back(static_cast<double>(arr.peakAbsolute));
                }
            }
        }
    }
    toRaw.Print();
    toForward.Print();

    // The walk's target, and the peak's growth from a tenth of the rows to all of them: a
    // cache that keeps a window in memory keeps the static cursor's peak near 1x.
    std::printf("\nstatic cursor: the NEXT walk against the forward-only walk (at most 2x), and the peak RSS (KB, "
                "median) at %ld and %ld rows\n\n"
                "| column | dates | walk / forward-only at %ld rows | static peak | x | forward-only peak | x | "
                "raw peak | raw array peak |\n|---|---|---|---|---|---|---|---|---|\n",
                counts[0], rows, rows);
    for (const Config& c : configs)
        for (Dates d : dateForms) {
            const Series& lo = series[{counts[0], c.Label(), d}];
            const Series& hi = series[{rows, c.Label(), d}];
            if (lo.staticPeak.empty() || hi.staticPeak.empty()) {
                std::printf("| %s | %s | failed |  |  |  |  |  |  |\n", c.Label(), fair::DatesLabel(d));
                continue;
            }
            const auto med = [](const std::vector<double>& v) { return fair::Summarise(v).median; };
            const auto both = [&](const std::vector<double>& l, const std::vector<double>& h) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.0f → %.0f", med(l), med(h));
                return std::string(buf);
            };
            const double walk = med(hi.walkVsFwd);
            std::printf("| %s | %s | %s%s | %s | %.2fx | %s | %.2fx | %s | %s |\n", c.Label(), fair::DatesLabel(d),
                        Spread(hi.walkVsFwd, "%.2fx (%.2f-%.2f)").c_str(), walk > 2 ? " OVER 2x" : "",
                        both(lo.staticPeak, hi.staticPeak).c_str(), med(hi.staticPeak) / med(lo.staticPeak),
                        both(lo.fwdPeak, hi.fwdPeak).c_str(), med(hi.fwdPeak) / med(lo.fwdPeak),
                        both(lo.rawPeak, hi.rawPeak).c_str(), both(lo.rawArrayPeak, hi.rawArrayPeak).c_str());
        }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
