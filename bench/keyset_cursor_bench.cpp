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
#include <memory>

#include "fair.h"

namespace {

using fair::Config;
using fair::Dates;
using fair::Figure;
using fair::Text;

constexpr SQLULEN kRowset = 100;
const char kQuery[] = "SELECT i, b, f, v20, v100, d FROM t";
// The benchmark's columns with i as the key a keyset needs.
const char kKeyedCreate[] =
    "CREATE TABLE t (i INTEGER NOT NULL PRIMARY KEY, b BIGINT, f FLOAT, v20 VARCHAR(20), v100 VARCHAR(100), d DATE)";

// The bound rowset, column-wise, in the application's C types; indicators in bytes.
struct Columns {
    Text text;
    Dates dates;
    SQLLEN unit, dateSize;
    SQLINTEGER i[kRowset];
    SQLBIGINT b[kRowset];
    double x[kRowset];
    std::vector<char> v20, v100, d;
    SQLLEN ind[6][kRowset];
    SQLUSMALLINT status[kRowset];

    Columns(Text t, Dates ds)
        : text(t), dates(ds), unit(t == Text::WChar ? sizeof(SQLWCHAR) : 1),
          dateSize(ds == Dates::Struct ? sizeof(SQL_DATE_STRUCT) : 11), v20(kRowset * 21 * unit),
          v100(kRowset * 101 * unit), d(kRowset * dateSize) {}

    void Bind(SQLHSTMT st) {
        const SQLSMALLINT textType = text == Text::WChar ? SQL_C_WCHAR : SQL_C_CHAR;
        SQLBindCol(st, 1, SQL_C_SLONG, i, 0, ind[0]);
        SQLBindCol(st, 2, SQL_C_SBIGINT, b, 0, ind[1]);
        SQLBindCol(st, 3, SQL_C_DOUBLE, x, 0, ind[2]);
        SQLBindCol(st, 4, textType, v20.data(), 21 * unit, ind[3]);
        SQLBindCol(st, 5, textType, v100.data(), 101 * unit, ind[4]);
        SQLBindCol(st, 6, dates == Dates::Struct ? SQL_C_TYPE_DATE : SQL_C_CHAR, d.data(), dateSize, ind[5]);
        SQLSetStmtAttr(st, SQL_ATTR_ROW_STATUS_PTR, status, 0);
    }

    // The fingerprint of row k, as bench/static_cursor_bench.cpp takes it.
    void Take(size_t k, fair::Fingerprint& fp) const {
        fp.Int(i[k]);
        fp.Int(b[k]);
        fp.Double(x[k]);
        // A length beyond the buffer (a fault) is cut to it.
        fp.Bytes(&v20[k * 21 * static_cast<size_t>(unit)], std::min(ind[3][k], 20 * unit));
        fp.Bytes(&v100[k * 101 * static_cast<size_t>(unit)], std::min(ind[4][k], 100 * unit));
        if (dates == Dates::Struct)
            fp.Date(*reinterpret_cast<const SQL_DATE_STRUCT*>(&d[k * sizeof(SQL_DATE_STRUCT)]));
        else
            fp.DateText(&d[k * 11], ind[5][k]);
    }
};

struct Span {
    double wall = 0, cpu = 0;
};

class Timer {
public:
    void Stop(Span& s) const {
        Figure f;
        clock_.Stop(f);
        s.wall = f.seconds;
        s.cpu = f.cpu;
    }

private:
    fair::Clock clock_;
};

long PeakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

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
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &st);
    Result r;
    if (keyset)
        SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_KEYSET_DRIVEN), 0);
    auto bound = std::make_unique<Columns>(c.text, dates);
    SQLULEN granted = 0, fetched = 0;
    SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0);
    SQLGetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr);
    SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    bound->Bind(st);
    r.rowset = static_cast<long>(granted);
    char q[sizeof kQuery];
    std::memcpy(q, kQuery, sizeof q);
    if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(q), SQL_NTS)))
        fair::Fail("prepare", SQL_HANDLE_STMT, st);
    SQLULEN type = 0;
    SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
    r.cursorType = static_cast<long>(type);
    fair::Fingerprint fp;
    {
        const Timer timer;
        if (!SQL_SUCCEEDED(SQLExecute(st)))
            fair::Fail("execute", SQL_HANDLE_STMT, st);
        if (keyset) {
            timer.Stop(r.execute);
            r.peakExecute = PeakKb();
        }
        const Timer walk;
        SQLRETURN rc;
        while (SQL_SUCCEEDED(rc = SQLFetchScroll(st, SQL_FETCH_NEXT, 0))) {
            for (SQLULEN k = 0; k < fetched; ++k) {
                bound->Take(k, fp);
                r.notSuccess += bound->status[k] != SQL_ROW_SUCCESS ? 1 : 0;
            }
            r.rows += static_cast<long>(fetched);
        }
        if (rc != SQL_NO_DATA)
            fair::Fail("fetch next", SQL_HANDLE_STMT, st);
        (keyset ? walk : timer).Stop(r.walk);
        r.peakWalk = PeakKb();
    }
    r.fp = fp.h;
    SQLLEN count = -2;
    SQLRowCount(st, &count);
    r.rowCount = static_cast<long>(count);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    r.failed = false;
    return r;
}

Figure AsFigure(const Span& s, long peakKb) {
    Figure f;
    f.seconds = s.wall;
    f.cpu = s.cpu;
    f.peakKb = peakKb;
    f.failed = false;
    return f;
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
    const int repeat = fair::Repeat();
    const std::vector<Config> configs = fair::Configs();
    const std::vector<Dates> dateForms = fair::DateForms();
    const std::string dir = fair::TempDir("keyset-cursor-bench");
    setenv("TMPDIR", dir.c_str(), 1);  // the keyset's spill files, removed with the rest
    const std::string a = fair::LibPath(fair::Lib::Ansi, VARNO_LIB_A, VARNO_LIB_W);
    const std::string w = fair::LibPath(fair::Lib::Unicode, VARNO_LIB_A, VARNO_LIB_W);
    fair::WriteOdbcInst(dir, a, w, "/dev/null");
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
