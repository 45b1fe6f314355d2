// A keyset-driven cursor (SQL_ATTR_CURSOR_TYPE = SQL_CURSOR_KEYSET_DRIVEN) over the six benchmark
// columns (INTEGER key, BIGINT, FLOAT, VARCHAR(20), VARCHAR(100), DATE) through unixODBC and each
// library: the execute, which reads the key of every row into the keyset (spilling beyond 5,000
// keys to temporary files), and a NEXT walk with SQLFetchScroll and a column-wise rowset of 100,
// each rowset read from the server by its keys. Beside it, in the same repeat and on the same
// file, the forward-only walk of the same rows with the same bindings (execute and fetches on
// one clock): every keyset figure is a ratio to it.
//
// Fair as bench/static_cursor_bench.cpp is: each run is a child process (its own peak RSS);
// connecting, the prepare and the bindings are outside the clock; both sides take the same
// fingerprint of every value they read from the application's buffers (bench/fair.h), which
// must equal the generated values'. The keyset run must keep its cursor type, count every key
// in SQLRowCount and mark every row SQL_ROW_SUCCESS.
//
//   build/bench/keyset_cursor_bench [rows]     (default 100000)
//   BENCH_REPEAT=n (default 5), BENCH_LIB=a|w, BENCH_CTYPE=char|wchar, BENCH_DATES=date|char,
//   BENCH_LIB_DIR=<dir of the .so files>, BENCH_TSV=<file>.
#include "cursor_bench.h"

namespace {

using cursorbench::kRowset;
using fair::AsFigure;
using fair::Config;
using fair::Dates;
using fair::Figure;
using fair::Span;
using fair::Text;

// The benchmark's columns with i as the key a keyset needs.
const char kKeyedCreate[] =
    "CREATE TABLE t (i INTEGER NOT NULL PRIMARY KEY, b BIGINT, f FLOAT, v20 VARCHAR(20), v100 VARCHAR(100), d DATE)";

// What one child reports (plain data, through a pipe).
struct Result {
    bool failed = true;
    Span execute, walk;  // forward-only: both on the walk's clock
    uint64_t fp = 0;
    long rows = 0;
    long rowset = 0;       // the rowset the driver granted
    long cursorType = -1;  // after the prepare
    long rowCount = -2;    // SQLRowCount after the execute
    long notSuccess = 0;   // rows whose status was not SQL_ROW_SUCCESS
    long peakExecute = 0, peakWalk = 0;
};

// The forward-only walk (execute and NEXT fetches on one clock), or the keyset cursor's execute
// and NEXT walk, each on its own clock.
Result Odbc(const std::string& path, Config c, Dates dates, bool keyset) {
    fair::Connection conn(fair::DriverName(c.lib), "DATABASENAME=" + path);
    Result r;
    cursorbench::Columns bound(kRowset, c.text, dates);
    std::vector<SQLUSMALLINT> status(kRowset);
    SQLULEN fetched = 0;
    const SQLHSTMT st = cursorbench::Prepare(
        conn.dbc, keyset ? std::optional<SQLULEN>(SQL_CURSOR_KEYSET_DRIVEN) : std::nullopt, fetched, r,
        [&](SQLHSTMT h) {
            bound.Bind(h);
            SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
        });
    fair::Fingerprint fp;
    r.rows = cursorbench::ExecuteAndWalk(st, fetched, keyset, r, [&](SQLULEN k) {
        bound.Take(k, fp);
        r.notSuccess += status[k] != SQL_ROW_SUCCESS ? 1 : 0;
    });
    r.fp = fp.h;
    r.rowCount = cursorbench::RowCount(st);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    r.failed = false;
    return r;
}

// What is wrong with a run; "" when nothing.
std::string Check(const Result& r, long rows, uint64_t expected, bool keyset) {
    if (r.failed)
        return "the run failed";
    if (r.rows != rows)
        return "read " + std::to_string(r.rows) + " rows";
    if (r.fp != expected)
        return "values differ from the generated ones";
    if (r.rowset != static_cast<long>(kRowset))
        return "rowset " + std::to_string(r.rowset) + " granted";
    if (r.notSuccess != 0)
        return std::to_string(r.notSuccess) + " rows not SQL_ROW_SUCCESS";
    if (keyset && r.cursorType != SQL_CURSOR_KEYSET_DRIVEN)
        return "cursor type " + std::to_string(r.cursorType) + " after the prepare";
    if (keyset && r.rowCount != rows)
        return "SQLRowCount " + std::to_string(r.rowCount);
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
    if (rows < static_cast<long>(kRowset)) {
        std::fprintf(stderr, "keyset_cursor_bench: at least %lu rows\n", kRowset);
        return 1;
    }
    // TMPDIR is the run's folder: the keyset's spill files go with the rest.
    const cursorbench::Setup setup = cursorbench::SetUp("keyset-cursor-bench", VARNO_LIB_A, VARNO_LIB_W);
    const auto& [repeat, configs, dateForms, dir, a, w] = setup;
    const std::string db = dir + "/t.db";
    fair::CreateDatabase(db, rows, kKeyedCreate);
    std::printf("keyset_cursor_bench: %ld rows keyed by i, rowset %lu, %d repeats\n  ANSI    %s\n  Unicode %s\n", rows,
                kRowset, repeat, a.c_str(), w.c_str());

    std::map<std::pair<Text, Dates>, uint64_t> expected;
    for (const Config& c : configs)
        for (Dates d : dateForms)
            if (expected.count({c.text, d}) == 0)
                expected[{c.text, d}] = fair::ExpectedFingerprint(rows, c.text, d);

    fair::Report report("keyset cursor vs forward-only", "forward-only");
    std::map<std::string, std::vector<double>> forward;  // the baseline's own times
    // Each repeat runs the forward-only walk and the keyset cursor one after the other, so that
    // a slow spell of the shared machine falls on both.
    for (int rep = 0; rep < repeat; ++rep)
        for (Dates d : dateForms) {
            const std::string tail = ", " + std::to_string(rows) + " rows (" + fair::DatesLabel(d) + ")";
            for (const Config& c : configs) {
                const uint64_t e = expected[{c.text, d}];
                const Result fwd = fair::InChild([&] { return Odbc(db, c, d, false); });
                const Result ks = fair::InChild([&] { return Odbc(db, c, d, true); });
                const std::string fwdWrong = Check(fwd, rows, e, false);
                const std::string ksWrong = Check(ks, rows, e, true);
                const std::string wrong = ksWrong.empty() ? fwdWrong : ksWrong;
                const Figure fwdF = AsFigure(fwd.walk, fwd.peakWalk);
                report.Add("keyset: execute (the keyset's fill)" + tail, c.Label(),
                           AsFigure(ks.execute, ks.peakExecute), fwdF, wrong);
                report.Add("keyset: NEXT walk, rowset 100" + tail, c.Label(), AsFigure(ks.walk, ks.peakWalk), fwdF,
                           wrong);
                report.Add("keyset: execute + NEXT walk" + tail, c.Label(),
                           AsFigure({ks.execute.wall + ks.walk.wall, ks.execute.cpu + ks.walk.cpu}, ks.peakWalk), fwdF,
                           wrong);
                if (fwdWrong.empty())
                    forward[std::string(c.Label()) + tail].push_back(fair::Time(fwdF));
            }
        }
    report.Print();
    std::printf("\nforward-only walk (execute + NEXT), %s, s: median (min-max)\n\n", fair::ClockName());
    for (const auto& [label, times] : forward) {
        const fair::Spread sp = fair::Summarise(times);
        std::printf("  %-60s %.3f (%.3f-%.3f)\n", label.c_str(), sp.median, sp.min, sp.max);
    }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
