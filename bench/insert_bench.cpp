// Inserting rows of six columns (INTEGER, BIGINT, FLOAT, VARCHAR(20), VARCHAR(100), DATE),
// each way in one transaction, through unixODBC and each library: parameter arrays of 1000
// rows (column-wise, bound once and refilled), single prepared rows with the parameters bound
// before each execution, and single rows bound once; against the raw sqlite3 API (one prepared
// statement: bind, step, reset); the text parameters as SQL_C_CHAR or SQL_C_WCHAR, the date as
// SQL_C_TYPE_DATE or SQL_C_CHAR; and, for the floor, the single rows through unixODBC and a
// driver that does nothing (bench/null_driver.cpp).
//
// Fair to both sides: each run is a child process (its own peak RSS); the connection, the
// CREATE TABLE, the prepare (and the bindings made once) come before the clock starts; both
// sides make each row as they go with the same generator (bench/fair.h), so that no table of
// values swells their memory; the raw side binds what an application with those C types binds
// (UTF-16 text through sqlite3_bind_text16, a date struct formatted by hand into the server's
// 'YYYY/MM/DD'). After each run, outside the clock, the parent reads the table back and checks
// every row, its storage classes included.
//
//   build/bench/insert_bench [rows]              (default 200000)
//   BENCH_REPEAT=n (default 5), BENCH_LIB=a|w, BENCH_CTYPE=char|wchar, BENCH_DATES=date|char,
//   BENCH_ONLY=<part of a workload name>, BENCH_LIB_DIR=<dir of the .so files>, BENCH_TSV=<file>.
#include <sqlite3.h>

#include "fair.h"

namespace {

using fair::Config;
using fair::Dates;
using fair::Figure;
using fair::Text;

const char kInsert[] = "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?)";

Figure RawInsert(const std::string& path, long rows, Text text) {
    unlink(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    // The journal the embedded server keeps its files in: the disk work of a commit is the
    // database's, not the driver's, so both sides pay the same.
    sqlite3_exec(db, fair::kServerJournal, nullptr, nullptr, nullptr);
    sqlite3_exec(db, fair::kCreateSql, nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, kInsert, -1, &st, nullptr);
    fair::Row r{};
    SQLWCHAR w20[21], w100[101];
    char date[11];
    Figure f;
    f.rows = 0;
    const fair::Clock clock;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (long x = 1; x <= rows; ++x) {
        fair::MakeRow(x, r);
        sqlite3_bind_int(st, 1, r.i);
        sqlite3_bind_int64(st, 2, r.b);
        sqlite3_bind_double(st, 3, r.f);
        if (text == Text::Char) {
            sqlite3_bind_text(st, 4, r.v20, static_cast<int>(r.n20), SQLITE_STATIC);
            sqlite3_bind_text(st, 5, r.v100, static_cast<int>(r.n100), SQLITE_STATIC);
        } else {
            fair::Widen(r.v20, r.n20, w20);
            fair::Widen(r.v100, r.n100, w100);
            sqlite3_bind_text16(st, 4, w20, static_cast<int>(r.n20 * 2), SQLITE_STATIC);
            sqlite3_bind_text16(st, 5, w100, static_cast<int>(r.n100 * 2), SQLITE_STATIC);
        }
        // Whether the application holds a date struct or text, SQLite takes text.
        fair::FormatDate(r.d, '/', date);
        sqlite3_bind_text(st, 6, date, 10, SQLITE_STATIC);
        if (sqlite3_step(st) != SQLITE_DONE) {
            std::fprintf(stderr, "raw insert failed: %s\n", sqlite3_errmsg(db));
            _exit(2);
        }
        sqlite3_reset(st);
        ++f.rows;
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    clock.Stop(f);
    sqlite3_finalize(st);
    sqlite3_close(db);
    f.failed = false;
    return f;
}

enum class Workload { Arrays, SingleEach, SingleOnce, FloorSingle };

Figure OdbcInsert(const std::string& path, long rows, Config c, Dates dates, Workload w) {
    unlink(path.c_str());
    const bool floor = w == Workload::FloorSingle;
    if (floor)
        w = Workload::SingleEach;
    fair::Connection conn(floor ? "Null Bench" : fair::DriverName(c.lib), "DATABASENAME=" + path);
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, conn.dbc, &st);
    if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(fair::kCreateSql)), SQL_NTS)))
        fair::Fail("create", SQL_HANDLE_STMT, st);
    SQLSetConnectAttr(conn.dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kInsert)), SQL_NTS)))
        fair::Fail("prepare", SQL_HANDLE_STMT, st);
    const SQLULEN n = w == Workload::Arrays ? 1000 : 1;
    SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(n), 0);
    const bool wide = c.text == Text::WChar;
    const SQLSMALLINT textType = wide ? SQL_C_WCHAR : SQL_C_CHAR;
    const SQLLEN unit = wide ? sizeof(SQLWCHAR) : 1;
    const bool dateStruct = dates == Dates::Struct;
    std::vector<SQLINTEGER> i(n);
    std::vector<SQLBIGINT> b(n);
    std::vector<double> x(n);
    std::vector<char> v20(n * 21 * unit), v100(n * 101 * unit), dtext(n * 11);
    std::vector<SQL_DATE_STRUCT> d(n);
    std::vector<SQLLEN> n20(n), n100(n), nd(n, 10);
    const auto bind = [&] {
        SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, i.data(), 0, nullptr);
        SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, b.data(), 0, nullptr);
        SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_FLOAT, 0, 0, x.data(), 0, nullptr);
        SQLBindParameter(st, 4, SQL_PARAM_INPUT, textType, SQL_VARCHAR, 20, 0, v20.data(), 21 * unit, n20.data());
        SQLBindParameter(st, 5, SQL_PARAM_INPUT, textType, SQL_VARCHAR, 100, 0, v100.data(), 101 * unit, n100.data());
        if (dateStruct)
            SQLBindParameter(st, 6, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 0, 0, d.data(), 0, nullptr);
        else
            SQLBindParameter(st, 6, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_TYPE_DATE, 10, 0, dtext.data(), 11, nd.data());
    };
    if (w != Workload::SingleEach)
        bind();
    fair::Row r{};
    Figure f;
    f.rows = 0;
    const fair::Clock clock;
    for (long first = 1; first <= rows; first += static_cast<long>(n)) {
        const SQLULEN m = std::min<SQLULEN>(n, static_cast<SQLULEN>(rows - first + 1));
        if (m < n)
            SQLSetStmtAttr(st, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(m), 0);
        for (SQLULEN k = 0; k < m; ++k) {
            fair::MakeRow(first + static_cast<long>(k), r);
            i[k] = r.i;
            b[k] = r.b;
            x[k] = r.f;
            if (wide) {
                fair::Widen(r.v20, r.n20, reinterpret_cast<SQLWCHAR*>(&v20[k * 21 * unit]));
                fair::Widen(r.v100, r.n100, reinterpret_cast<SQLWCHAR*>(&v100[k * 101 * unit]));
            } else {
                std::memcpy(&v20[k * 21], r.v20, 21);
                std::memcpy(&v100[k * 101], r.v100, 101);
            }
            n20[k] = r.n20 * unit;
            n100[k] = r.n100 * unit;
            if (dateStruct)
                d[k] = r.d;
            else
                fair::FormatDate(r.d, '-', &dtext[k * 11]);
        }
        if (w == Workload::SingleEach)
            bind();
        if (!SQL_SUCCEEDED(SQLExecute(st)))
            fair::Fail("execute", SQL_HANDLE_STMT, st);
        f.rows += static_cast<long>(m);
    }
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, conn.dbc, SQL_COMMIT)))
        fair::Fail("commit", SQL_HANDLE_DBC, conn.dbc);
    clock.Stop(f);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    f.failed = false;
    return f;
}

// Reads the table back: every row, in order, with the generated values in the storage classes
// the declared types give (a BIGINT kept as text would not do). Answers what is wrong, or "".
std::string VerifyTable(const std::string& path, long rows) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open the table's file";
    }
    sqlite3_stmt* st = nullptr;
    std::string wrong;
    if (sqlite3_prepare_v2(db, "SELECT i, b, f, v20, v100, d FROM t ORDER BY rowid", -1, &st, nullptr) != SQLITE_OK)
        wrong = std::string("cannot read the table: ") + sqlite3_errmsg(db);
    const int classes[] = {SQLITE_INTEGER, SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_TEXT, SQLITE_TEXT};
    fair::Row r{};
    char date[11];
    long x = 0;
    while (wrong.empty() && sqlite3_step(st) == SQLITE_ROW) {
        fair::MakeRow(++x, r);
        fair::FormatDate(r.d, '/', date);
        for (int col = 0; col < 6 && wrong.empty(); ++col)
            if (sqlite3_column_type(st, col) != classes[col])
                wrong = "row " + std::to_string(x) + " column " + std::to_string(col + 1) + " has storage class " +
                        std::to_string(sqlite3_column_type(st, col));
        const auto text = [st](int col) { return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, col))); };
        if (wrong.empty() && (sqlite3_column_int64(st, 0) != r.i || sqlite3_column_int64(st, 1) != r.b ||
                              sqlite3_column_double(st, 2) != r.f || text(3) != r.v20 || text(4) != r.v100 ||
                              text(5) != date))
            wrong = "row " + std::to_string(x) + " holds " + std::to_string(sqlite3_column_int64(st, 0)) + ", " +
                    std::to_string(sqlite3_column_int64(st, 1)) + ", " + text(3) + ", " + text(5);
    }
    if (wrong.empty() && x != rows)
        wrong = "the table holds " + std::to_string(x) + " rows";
    sqlite3_finalize(st);
    sqlite3_close(db);
    return wrong;
}

const char* WorkloadName(Workload w) {
    switch (w) {
    case Workload::Arrays: return "parameter arrays of 1000";
    case Workload::SingleEach: return "single prepared rows, bound before each execution";
    case Workload::SingleOnce: return "single prepared rows, bound once";
    case Workload::FloorSingle: return "floor: null driver, single rows";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 200000;
    const int repeat = fair::Repeat();
    const std::vector<Config> configs = fair::Configs();
    const std::vector<Dates> dateForms = fair::DateForms();
    const char* only = std::getenv("BENCH_ONLY");
    const auto runs = [only](Workload w) {
        return only == nullptr || *only == '\0' || std::strstr(WorkloadName(w), only) != nullptr;
    };
    const std::string dir = fair::TempDir("insert-bench");
    const std::string a = fair::LibPath(fair::Lib::Ansi, VARNO_LIB_A, VARNO_LIB_W);
    const std::string wlib = fair::LibPath(fair::Lib::Unicode, VARNO_LIB_A, VARNO_LIB_W);
    fair::WriteOdbcInst(dir, a, wlib, NULL_LIB);
    std::printf("insert_bench: %ld rows, one transaction each, %d repeats\n  ANSI    %s\n  Unicode %s\n", rows, repeat,
                a.c_str(), wlib.c_str());
    std::vector<Text> texts;
    for (const Config& c : configs)
        if (std::find(texts.begin(), texts.end(), c.text) == texts.end())
            texts.push_back(c.text);

    fair::Report report("insert");
    const std::string db = dir + "/t.db";
    // A run's outcome: the child's figures, then the table it left (when it left one).
    const auto check = [&](const Figure& f, bool table) -> std::string {
        std::string wrong;
        if (f.failed)
            wrong = "the run failed";
        else if (f.rows != rows)
            wrong = "wrote " + std::to_string(f.rows) + " rows";
        else if (table)
            wrong = VerifyTable(db, rows);
        unlink(db.c_str());
        return wrong;
    };
    const Workload workloads[] = {Workload::Arrays, Workload::SingleEach, Workload::SingleOnce};
    // Each ODBC run is paired with a raw sqlite3 run of the same C types just before it, so
    // that a slow spell of the shared machine falls on both; the ways take turns in a repeat.
    for (int r = 0; r < repeat; ++r) {
        for (Dates d : dateForms) {
            for (Text t : texts) {
                const std::string rawLabel = std::string("raw sqlite3, text ") + (t == Text::Char ? "CHAR" : "WCHAR") +
                                             " (" + fair::DatesLabel(d) + ")";
                const auto pair = [&](Workload w, Config c, const char* column) {
                    const Figure raw = fair::InChild([&] { return RawInsert(db, rows, t); });
                    report.AddRaw(rawLabel, raw, check(raw, true));
                    const Figure f = fair::InChild([&] { return OdbcInsert(db, rows, c, d, w); });
                    report.Add(std::string(WorkloadName(w)) + " (" + fair::DatesLabel(d) + ")", column, f, raw,
                               check(f, w != Workload::FloorSingle));
                };
                for (const Config& c : configs)
                    if (c.text == t)
                        for (Workload w : workloads)
                            if (runs(w))
                                pair(w, c, c.Label());
                if (t == Text::Char && d == Dates::Struct && runs(Workload::FloorSingle))
                    pair(Workload::FloorSingle, Config{fair::Lib::Ansi, Text::Char}, "null driver");
            }
        }
    }
    report.Print();
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
