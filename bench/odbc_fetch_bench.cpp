// Fetching rows of six columns (INTEGER, BIGINT, FLOAT, VARCHAR(20), VARCHAR(100), DATE)
// through unixODBC and each library, against the raw sqlite3 API on the same file in the same
// run: bound columns with a rowset of 1, a column-wise rowset of 1000 (granted through NRSSL,
// and asked without it, when the driver caps it), and SQLGetData per value; the text columns as
// SQL_C_CHAR or SQL_C_WCHAR, the date as SQL_C_TYPE_DATE or SQL_C_CHAR; and, for the floor, the
// same calls through unixODBC served by a driver that does nothing (bench/null_driver.cpp).
//
// Fair to both sides: each run is a child process (its own peak RSS); the connection, the
// prepare and the bindings are made before the clock starts, on both sides; the raw side reads
// every value into the C type the ODBC side gets (text copied out, UTF-16 through
// sqlite3_column_text16, the date parsed into a struct or copied as text); both sides take the
// same fingerprint of every value they read (bench/fair.h), which must equal the generated
// values'. Prints medians and spreads of the ratios to raw sqlite3 of the same repeat.
//
//   build/bench/odbc_fetch_bench [rows]          (default 1000000)
//   BENCH_REPEAT=n (default 5), BENCH_LIB=a|w, BENCH_CTYPE=char|wchar, BENCH_DATES=date|char,
//   BENCH_ONLY=<part of a workload name>, BENCH_LIB_DIR=<dir of the .so files>, BENCH_TSV=<file>.
#include <sqlite3.h>

#include "fair.h"

namespace {

using fair::Config;
using fair::Dates;
using fair::Figure;
using fair::Text;

const char kQuery[] = "SELECT i, b, f, v20, v100, d FROM t";

// Copies the text an application asks for into its buffer of room units, as a driver would.
void CopyText(sqlite3_stmt* st, int col, Text text, void* dst, SQLLEN room, fair::Fingerprint& fp) {
    if (text == Text::Char) {
        const unsigned char* p = sqlite3_column_text(st, col);
        const SQLLEN n = std::min<SQLLEN>(sqlite3_column_bytes(st, col), room - 1);
        std::memcpy(dst, p, static_cast<size_t>(n));
        static_cast<char*>(dst)[n] = '\0';
        fp.Bytes(dst, n);
    } else {
        const void* p = sqlite3_column_text16(st, col);
        const SQLLEN n = std::min<SQLLEN>(sqlite3_column_bytes16(st, col) / 2, room - 1);
        std::memcpy(dst, p, static_cast<size_t>(n) * 2);
        static_cast<SQLWCHAR*>(dst)[n] = 0;
        fp.Bytes(dst, n * 2);
    }
}

Figure RawFetch(const std::string& path, Text text, Dates dates) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, kQuery, -1, &st, nullptr);
    SQLWCHAR v20[21], v100[101];  // room for either C type
    char d[11];
    fair::Fingerprint fp;
    Figure f;
    f.rows = 0;
    const fair::Clock clock;
    while (sqlite3_step(st) == SQLITE_ROW) {
        const int32_t i = sqlite3_column_int(st, 0);
        const int64_t b = sqlite3_column_int64(st, 1);
        const double x = sqlite3_column_double(st, 2);
        fp.Int(i);
        fp.Int(b);
        fp.Double(x);
        CopyText(st, 3, text, v20, 21, fp);
        CopyText(st, 4, text, v100, 101, fp);
        const unsigned char* p = sqlite3_column_text(st, 5);
        if (dates == Dates::Struct) {
            fp.Date(fair::ParseDate(p));
        } else {
            const SQLLEN n = std::min(sqlite3_column_bytes(st, 5), 10);
            std::memcpy(d, p, static_cast<size_t>(n));
            d[n] = '\0';
            fp.DateText(d, n);
        }
        ++f.rows;
    }
    clock.Stop(f);
    sqlite3_finalize(st);
    sqlite3_close(db);
    f.fingerprint = fp.h;
    f.failed = false;
    return f;
}

enum class Workload { Bound1, Rowset1000, Rowset1000Capped, GetData, FloorBound1, FloorGetData };

Figure OdbcFetch(const std::string& path, Config c, Dates dates, Workload w) {
    const bool floor = w == Workload::FloorBound1 || w == Workload::FloorGetData;
    if (w == Workload::FloorBound1)
        w = Workload::Bound1;
    else if (w == Workload::FloorGetData)
        w = Workload::GetData;
    fair::Connection conn(floor ? "Null Bench" : fair::DriverName(c.lib),
                          "DATABASENAME=" + path + (w == Workload::Rowset1000 ? ";NRSSL=TRUE" : ""));
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &st);
    const SQLULEN n = w == Workload::Rowset1000 || w == Workload::Rowset1000Capped ? 1000 : 1;
    const bool wide = c.text == Text::WChar;
    const SQLSMALLINT textType = wide ? SQL_C_WCHAR : SQL_C_CHAR;
    const SQLLEN unit = wide ? sizeof(SQLWCHAR) : 1;
    const bool dateStruct = dates == Dates::Struct;
    const SQLLEN dateSize = dateStruct ? sizeof(SQL_DATE_STRUCT) : 11;
    std::vector<SQLINTEGER> i(n);
    std::vector<SQLBIGINT> b(n);
    std::vector<double> x(n);
    std::vector<char> v20(n * 21 * unit), v100(n * 101 * unit), d(n * dateSize);
    std::vector<SQLLEN> ind(6 * n);
    SQLULEN fetched = 1;
    Figure f;
    f.rowset = static_cast<long>(n);
    if (w != Workload::GetData) {
        SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(n), 0);
        if (n > 1) {
            SQLULEN granted = 0;
            SQLGetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr);
            f.rowset = static_cast<long>(granted);
        }
        SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        SQLBindCol(st, 1, SQL_C_SLONG, i.data(), 0, &ind[0]);
        SQLBindCol(st, 2, SQL_C_SBIGINT, b.data(), 0, &ind[n]);
        SQLBindCol(st, 3, SQL_C_DOUBLE, x.data(), 0, &ind[2 * n]);
        SQLBindCol(st, 4, textType, v20.data(), 21 * unit, &ind[3 * n]);
        SQLBindCol(st, 5, textType, v100.data(), 101 * unit, &ind[4 * n]);
        SQLBindCol(st, 6, dateStruct ? SQL_C_TYPE_DATE : SQL_C_CHAR, d.data(), dateSize, &ind[5 * n]);
    }
    char q[sizeof kQuery];
    std::memcpy(q, kQuery, sizeof q);
    if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(q), SQL_NTS)))
        fair::Fail("prepare", SQL_HANDLE_STMT, st);
    fair::Fingerprint fp;
    f.rows = 0;
    // The fingerprint of row k of the buffers (its indicators at ind[col * n + k]).
    auto take = [&](SQLULEN k) {
        fp.Int(i[k]);
        fp.Int(b[k]);
        fp.Double(x[k]);
        // A length beyond the buffer (a fault) is cut to it, as the raw side cuts its copy.
        fp.Bytes(&v20[k * 21 * unit], std::min(ind[3 * n + k], 20 * unit));
        fp.Bytes(&v100[k * 101 * unit], std::min(ind[4 * n + k], 100 * unit));
        if (dateStruct)
            fp.Date(*reinterpret_cast<const SQL_DATE_STRUCT*>(&d[k * sizeof(SQL_DATE_STRUCT)]));
        else
            fp.DateText(&d[k * 11], ind[5 * n + k]);
    };
    const fair::Clock clock;
    if (!SQL_SUCCEEDED(SQLExecute(st)))
        fair::Fail("execute", SQL_HANDLE_STMT, st);
    while (SQL_SUCCEEDED(SQLFetch(st))) {
        if (w == Workload::GetData) {
            SQLGetData(st, 1, SQL_C_SLONG, &i[0], 0, &ind[0]);
            SQLGetData(st, 2, SQL_C_SBIGINT, &b[0], 0, &ind[n]);
            SQLGetData(st, 3, SQL_C_DOUBLE, &x[0], 0, &ind[2 * n]);
            SQLGetData(st, 4, textType, v20.data(), 21 * unit, &ind[3 * n]);
            SQLGetData(st, 5, textType, v100.data(), 101 * unit, &ind[4 * n]);
            SQLGetData(st, 6, dateStruct ? SQL_C_TYPE_DATE : SQL_C_CHAR, d.data(), dateSize, &ind[5 * n]);
        }
        for (SQLULEN k = 0; k < fetched; ++k)
            take(k);
        f.rows += static_cast<long>(fetched);
    }
    clock.Stop(f);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    f.fingerprint = fp.h;
    f.failed = false;
    return f;
}

const char* WorkloadName(Workload w) {
    switch (w) {
    case Workload::Bound1: return "SQLBindCol rowset 1";
    case Workload::Rowset1000: return "column-wise rowset 1000 (NRSSL=TRUE)";
    case Workload::Rowset1000Capped: return "column-wise rowset 1000 asked, no NRSSL";
    case Workload::GetData: return "SQLGetData per value";
    case Workload::FloorBound1: return "floor: null driver, rowset 1";
    case Workload::FloorGetData: return "floor: null driver, SQLGetData";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const int repeat = fair::Repeat();
    const std::vector<Config> configs = fair::Configs();
    const std::vector<Dates> dateForms = fair::DateForms();
    const char* only = std::getenv("BENCH_ONLY");
    const auto runs = [only](Workload w) {
        return only == nullptr || *only == '\0' || std::strstr(WorkloadName(w), only) != nullptr;
    };
    const std::string dir = fair::TempDir("odbc-fetch-bench");
    const std::string a = fair::LibPath(fair::Lib::Ansi, VARNO_BENCH_DRIVER, VARNO_BENCH_DRIVER_W);
    const std::string wlib = fair::LibPath(fair::Lib::Unicode, VARNO_BENCH_DRIVER, VARNO_BENCH_DRIVER_W);
    fair::WriteOdbcInst(dir, a, wlib, NULL_BENCH_DRIVER);
    const std::string db = dir + "/t.db";
    fair::CreateDatabase(db, rows);
    setenv("NULL_DRIVER_ROWS", std::to_string(rows).c_str(), 1);
    std::printf("odbc_fetch_bench: %ld rows, %d repeats\n  ANSI    %s\n  Unicode %s\n", rows, repeat, a.c_str(),
                wlib.c_str());

    std::vector<Text> texts;
    for (const Config& c : configs)
        if (std::find(texts.begin(), texts.end(), c.text) == texts.end())
            texts.push_back(c.text);
    std::map<std::pair<Text, Dates>, uint64_t> expected;
    for (Text t : texts)
        for (Dates d : dateForms)
            expected[{t, d}] = fair::ExpectedFingerprint(rows, t, d);

    fair::Report report("fetch");
    std::map<std::string, bool> noted;
    const auto check = [&](const Figure& f, Text t, Dates d, bool values) -> std::string {
        if (f.failed)
            return "the run failed";
        if (f.rows != rows)
            return "read " + std::to_string(f.rows) + " rows";
        if (values && f.fingerprint != expected[{t, d}])
            return "values differ from the generated ones";
        return "";
    };
    const Workload workloads[] = {Workload::Bound1, Workload::Rowset1000, Workload::Rowset1000Capped,
                                  Workload::GetData};
    // Each ODBC run is paired with a raw sqlite3 run of the same C types just before it, so
    // that a slow spell of the shared machine falls on both; the ways take turns in a repeat.
    for (int r = 0; r < repeat; ++r) {
        for (Dates d : dateForms) {
            for (Text t : texts) {
                const std::string rawLabel = std::string("raw sqlite3, text ") + (t == Text::Char ? "CHAR" : "WCHAR") +
                                             " (" + fair::DatesLabel(d) + ")";
                const auto pair = [&](Workload w, Config c, const char* column, bool values) {
                    const Figure raw = fair::InChild([&] { return RawFetch(db, t, d); });
                    report.AddRaw(rawLabel, raw, check(raw, t, d, true));
                    const Figure f = fair::InChild([&] { return OdbcFetch(db, c, d, w); });
                    std::string wrong = check(f, t, d, values);
                    if (wrong.empty() && w == Workload::Rowset1000 && f.rowset != 1000)
                        wrong = "rowset " + std::to_string(f.rowset) + " granted";
                    if (w == Workload::Rowset1000Capped && !noted[column]) {
                        noted[column] = true;
                        std::printf("  %s: without NRSSL a rowset of 1000 is granted as %ld\n", column, f.rowset);
                    }
                    report.Add(std::string(WorkloadName(w)) + " (" + fair::DatesLabel(d) + ")", column, f, raw, wrong);
                };
                for (const Config& c : configs)
                    if (c.text == t)
                        for (Workload w : workloads)
                            if (runs(w))
                                pair(w, c, c.Label(), true);
                // The Driver Manager's own cost, beside the raw run of the same C types.
                if (t == Text::Char && d == Dates::Struct)
                    for (Workload w : {Workload::FloorBound1, Workload::FloorGetData})
                        if (runs(w))
                            pair(w, Config{fair::Lib::Ansi, Text::Char}, "null driver", false);
            }
        }
    }
    report.Print();
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
