// Cursors the library keys, over the six benchmark columns (INTEGER key, BIGINT, FLOAT,
// VARCHAR(20), VARCHAR(100), DATE) through unixODBC and each library: a keyset-driven cursor
// (the execute reads the key of every row into the keyset, spilling beyond 5,000 keys to
// temporary files), a dynamic cursor (each rowset's keys found by a seek from the last one), a
// mixed cursor (keyset size 1,000: a seek per window of ten rowsets), and the dynamic cursor
// with row versions (DYN_CURS_SENSITIVITY=HIGH: every row's digest checked against KVRRVC on
// the helper connection), each walked by NEXT with SQLFetchScroll and a column-wise rowset of
// 100, each rowset read from the server by its keys. Beside them, in the same repeat and on
// the same file, the forward-only walk of the same rows with the same bindings (execute and
// fetches on one clock): every figure is a ratio to it.
//
// Fair as bench/static_cursor_bench.cpp is: each run is a child process (its own peak RSS);
// connecting, the prepare and the bindings are outside the clock; both sides take the same
// fingerprint of every value they read from the application's buffers (bench/fair.h), which
// must equal the generated values'. Each cursor must keep its type and mark every row
// SQL_ROW_SUCCESS; the keyset cursor must count every key in SQLRowCount.
//
//   build/bench/keyset_cursor_bench [rows]     (default 100000)
//   BENCH_KINDS=keyset,dynamic,mixed,versions (default all)
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
const char kVersionTable[] =
    "CREATE TABLE KVRRVC (HCONN CHAR(8) NOT NULL, HCURS CHAR(8) NOT NULL, KEYVER CHAR(32) NOT NULL, "
    "ROWVER CHAR(32) NOT NULL)";
const char kVersionIndex[] = "CREATE UNIQUE INDEX KVRRVC_KEY ON KVRRVC (HCONN, HCURS, KEYVER)";

enum class Kind { Forward, Keyset, Dynamic, Mixed, Versions };
constexpr long kMixedKeyset = 1000;

struct KindInfo {
    Kind kind;
    const char* name;   // in BENCH_KINDS
    const char* label;  // in the report
    SQLULEN type;
};
const KindInfo kKinds[] = {
    {Kind::Keyset, "keyset", "keyset", SQL_CURSOR_KEYSET_DRIVEN},
    {Kind::Dynamic, "dynamic", "dynamic", SQL_CURSOR_DYNAMIC},
    {Kind::Mixed, "mixed", "mixed (keyset 1000)", SQL_CURSOR_KEYSET_DRIVEN},
    {Kind::Versions, "versions", "dynamic, row versions", SQL_CURSOR_DYNAMIC},
};

// The row-version table beside the benchmark's, made as the benchmark's own table is.
void RunOn(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "cannot run on %s: %s\n", path.c_str(), err != nullptr ? err : "");
        std::exit(1);
    }
    sqlite3_close(db);
}

bool Selected(const KindInfo& k) {
    const char* env = std::getenv("BENCH_KINDS");
    const std::string list = std::string(",") + (env != nullptr ? env : "") + ",";
    return env == nullptr || list.find(std::string(",") + k.name + ",") != std::string::npos;
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
Result Odbc(const std::string& path, Config c, Dates dates, const KindInfo* kind) {
    const bool versions = kind != nullptr && kind->kind == Kind::Versions;
    fair::Connection conn(fair::DriverName(c.lib),
                          "DATABASENAME=" + path + (versions ? ";DYN_CURS_SENSITIVITY=HIGH" : ""));
    Result r;
    cursorbench::Columns bound(kRowset, c.text, dates);
    std::vector<SQLUSMALLINT> status(kRowset);
    SQLULEN fetched = 0;
    const SQLHSTMT st = cursorbench::Prepare(
        conn.dbc, kind != nullptr ? std::optional<SQLULEN>(kind->type) : std::nullopt, fetched, r, [&](SQLHSTMT h) {
            bound.Bind(h);
            SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
            if (kind != nullptr && kind->kind == Kind::Mixed)
                SQLSetStmtAttr(h, SQL_ATTR_KEYSET_SIZE, reinterpret_cast<SQLPOINTER>(kMixedKeyset), 0);
        });
    fair::Fingerprint fp;
    r.rows = cursorbench::ExecuteAndWalk(st, fetched, kind != nullptr, r, [&](SQLULEN k) {
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
std::string Check(const Result& r, long rows, uint64_t expected, const KindInfo* kind) {
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
    if (kind != nullptr && r.cursorType != static_cast<long>(kind->type))
        return "cursor type " + std::to_string(r.cursorType) + " after the prepare";
    if (kind != nullptr && kind->kind == Kind::Keyset && r.rowCount != rows)
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
    RunOn(db, std::string(kVersionTable) + ";" + kVersionIndex);
    std::printf("keyset_cursor_bench: %ld rows keyed by i, rowset %lu, %d repeats\n  ANSI    %s\n  Unicode %s\n", rows,
                kRowset, repeat, a.c_str(), w.c_str());

    std::map<std::pair<Text, Dates>, uint64_t> expected;
    for (const Config& c : configs)
        for (Dates d : dateForms)
            if (expected.count({c.text, d}) == 0)
                expected[{c.text, d}] = fair::ExpectedFingerprint(rows, c.text, d);

    fair::Report report("cursors the library keys vs forward-only", "forward-only");
    std::map<std::string, std::vector<double>> forward;  // the baseline's own times
    // Each repeat runs the forward-only walk and every cursor one after the other, so that a
    // slow spell of the shared machine falls on all.
    for (int rep = 0; rep < repeat; ++rep)
        for (Dates d : dateForms) {
            const std::string tail = ", " + std::to_string(rows) + " rows (" + fair::DatesLabel(d) + ")";
            for (const Config& c : configs) {
                const uint64_t e = expected[{c.text, d}];
                const Result fwd = fair::InChild([&] { return Odbc(db, c, d, nullptr); });
                const std::string fwdWrong = Check(fwd, rows, e, nullptr);
                const Figure fwdF = AsFigure(fwd.walk, fwd.peakWalk);
                if (fwdWrong.empty())
                    forward[std::string(c.Label()) + tail].push_back(fair::Time(fwdF));
                for (const KindInfo& k : kKinds) {
                    if (!Selected(k))
                        continue;
                    const Result ks = fair::InChild([&] { return Odbc(db, c, d, &k); });
                    const std::string ksWrong = Check(ks, rows, e, &k);
                    const std::string wrong = ksWrong.empty() ? fwdWrong : ksWrong;
                    const std::string name = k.label;
                    if (k.kind == Kind::Keyset)
                        report.Add(name + ": execute (the keyset's fill)" + tail, c.Label(),
                                   AsFigure(ks.execute, ks.peakExecute), fwdF, wrong);
                    report.Add(name + ": NEXT walk, rowset 100" + tail, c.Label(), AsFigure(ks.walk, ks.peakWalk),
                               fwdF, wrong);
                    report.Add(name + ": execute + NEXT walk" + tail, c.Label(),
                               AsFigure({ks.execute.wall + ks.walk.wall, ks.execute.cpu + ks.walk.cpu}, ks.peakWalk),
                               fwdF, wrong);
                }
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
