// Fetching rows of six columns (INTEGER, BIGINT, FLOAT, VARCHAR(20), VARCHAR(100), DATE)
// through unixODBC and either library, against the raw sqlite3 API on the same file in the
// same run: bound columns with a rowset of 1, a column-wise rowset of 1000, and SQLGetData
// per value; and, for the floor, the same calls through unixODBC served by a driver that
// does nothing (bench/null_driver.cpp). Each measurement runs in a child process, so that its
// peak RSS is its own.
// Prints times, ratios to raw sqlite3 and peak RSS; never passes or fails.
//
//   build/bench/odbc_fetch_bench [rows ...]      (default: 100000 1000000)
//   BENCH_ONLY=<mode name prefix> runs raw sqlite3 and that mode only (for profiling).
//   BENCH_REPEAT=<n> measures each mode n times (default 3) and keeps the fastest run: the
//   machines are shared and noisy, and the fastest run is the one least disturbed.
//   BENCH_LIB=w fetches through libvarnodw (default: a, libvarnod); BENCH_CTYPE=wchar binds
//   the two text columns as SQL_C_WCHAR (default: char, SQL_C_CHAR).
#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string TempDir() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/odbc-fetch-bench-" + std::to_string(getpid());
}

void CreateDatabase(const std::string& path, long rows) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string sql =
        "CREATE TABLE t (i INTEGER, b BIGINT, f FLOAT, v20 VARCHAR(20), v100 VARCHAR(100), d DATE);"
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < " + std::to_string(rows) + ")"
        " INSERT INTO t SELECT x, x * 1000003, x * 0.25, printf('name %d', x), printf('%090d', x),"
        " printf('%04d/%02d/%02d', 2000 + x % 25, 1 + x % 12, 1 + x % 28) FROM n;";
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "cannot fill %s: %s\n", path.c_str(), err != nullptr ? err : "");
        std::exit(1);
    }
    sqlite3_close(db);
}

const char kQuery[] = "SELECT i, b, f, v20, v100, d FROM t";

long Raw(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, kQuery, -1, &st, nullptr);
    int32_t i = 0;
    int64_t b = 0;
    double f = 0;
    char v20[21], v100[101], d[11];
    auto text = [&](int col, char* dst, size_t room) {
        const unsigned char* p = sqlite3_column_text(st, col);
        size_t n = std::min<size_t>(static_cast<size_t>(sqlite3_column_bytes(st, col)), room - 1);
        std::memcpy(dst, p, n);
        dst[n] = '\0';
    };
    long rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        i = sqlite3_column_int(st, 0);
        b = sqlite3_column_int64(st, 1);
        f = sqlite3_column_double(st, 2);
        text(3, v20, sizeof v20);
        text(4, v100, sizeof v100);
        text(5, d, sizeof d);
        ++rows;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    if (i + b + static_cast<long>(f) == 42)
        std::puts("");
    return rows;
}

enum class Mode { Raw, Bound1, Bound1000, GetData, NullBound1, NullGetData };

bool WideText() {
    const char* t = std::getenv("BENCH_CTYPE");
    return t != nullptr && std::strcmp(t, "wchar") == 0;
}

long ThroughOdbc(const std::string& path, Mode mode) {
    // The null driver's modes: the same calls, served by a driver that does nothing.
    const bool null = mode == Mode::NullBound1 || mode == Mode::NullGetData;
    if (mode == Mode::NullBound1)
        mode = Mode::Bound1;
    else if (mode == Mode::NullGetData)
        mode = Mode::GetData;
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string in = std::string(null ? "DRIVER={Null Bench}" : "DRIVER={Varno Bench}") + ";DATABASENAME=" + path;
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0,
                                        nullptr, SQL_DRIVER_NOPROMPT))) {
        std::fprintf(stderr, "connect failed\n");
        std::exit(2);
    }
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    const SQLULEN n = mode == Mode::Bound1000 ? 1000 : 1;
    std::vector<SQLINTEGER> i(n);
    std::vector<SQLBIGINT> b(n);
    std::vector<double> f(n);
    // Text columns take 21 and 101 elements of their C type.
    const bool wide = WideText();
    const SQLSMALLINT textType = wide ? SQL_C_WCHAR : SQL_C_CHAR;
    const SQLLEN unit = wide ? sizeof(SQLWCHAR) : 1;
    std::vector<char> v20(n * 21 * unit), v100(n * 101 * unit);
    std::vector<SQL_DATE_STRUCT> d(n);
    std::vector<SQLLEN> ind(6 * n);
    SQLULEN fetched = 0;
    if (mode != Mode::GetData) {
        SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(n), 0);
        SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        SQLBindCol(st, 1, SQL_C_SLONG, i.data(), 0, &ind[0]);
        SQLBindCol(st, 2, SQL_C_SBIGINT, b.data(), 0, &ind[n]);
        SQLBindCol(st, 3, SQL_C_DOUBLE, f.data(), 0, &ind[2 * n]);
        SQLBindCol(st, 4, textType, v20.data(), 21 * unit, &ind[3 * n]);
        SQLBindCol(st, 5, textType, v100.data(), 101 * unit, &ind[4 * n]);
        SQLBindCol(st, 6, SQL_C_TYPE_DATE, d.data(), 0, &ind[5 * n]);
    }
    char q[] = "SELECT i, b, f, v20, v100, d FROM t";
    if (!SQL_SUCCEEDED(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(q), SQL_NTS))) {
        std::fprintf(stderr, "execute failed\n");
        std::exit(2);
    }
    long rows = 0;
    while (SQL_SUCCEEDED(SQLFetch(st))) {
        if (mode == Mode::GetData) {
            SQLGetData(st, 1, SQL_C_SLONG, &i[0], 0, &ind[0]);
            SQLGetData(st, 2, SQL_C_SBIGINT, &b[0], 0, &ind[1]);
            SQLGetData(st, 3, SQL_C_DOUBLE, &f[0], 0, &ind[2]);
            SQLGetData(st, 4, textType, v20.data(), 21 * unit, &ind[3]);
            SQLGetData(st, 5, textType, v100.data(), 101 * unit, &ind[4]);
            SQLGetData(st, 6, SQL_C_TYPE_DATE, &d[0], 0, &ind[5]);
            ++rows;
        } else {
            rows += static_cast<long>(fetched);
        }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rows;
}

struct Figure {
    double seconds;
    long rows;
    long peakKb;
};

// Runs one measurement in a child and reads its figures back.
Figure MeasureOnce(const std::string& path, Mode mode) {
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(3);
    pid_t pid = fork();
    if (pid == 0) {
        auto t0 = std::chrono::steady_clock::now();
        long rows = mode == Mode::Raw ? Raw(path) : ThroughOdbc(path, mode);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        Figure f{s, rows, ru.ru_maxrss};
        if (write(fds[1], &f, sizeof f) != sizeof f)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Figure f{};
    if (read(fds[0], &f, sizeof f) != sizeof f)
        f.rows = -1;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return f;
}

// The fastest of `repeat` measurements, with the highest peak RSS of them.
Figure Measure(const std::string& path, Mode mode, int repeat) {
    Figure best = MeasureOnce(path, mode);
    for (int r = 1; r < repeat; ++r) {
        const Figure f = MeasureOnce(path, mode);
        best.rows = std::min(best.rows, f.rows);  // a short run is reported, not hidden
        best.seconds = std::min(best.seconds, f.seconds);
        best.peakKb = std::max(best.peakKb, f.peakKb);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<long> counts;
    for (int a = 1; a < argc; ++a)
        counts.push_back(std::atol(argv[a]));
    if (counts.empty())
        counts = {100000, 1000000};
    const char* repeatText = std::getenv("BENCH_REPEAT");
    const int repeat = std::max(1, repeatText != nullptr ? std::atoi(repeatText) : 3);
    const std::string dir = TempDir();
    std::system(("mkdir -p " + dir).c_str());
    const char* lib = std::getenv("BENCH_LIB");
    const char* driver = lib != nullptr && std::strcmp(lib, "w") == 0 ? VARNO_BENCH_DRIVER_W : VARNO_BENCH_DRIVER;
    std::printf("%s, text as %s\n", driver, WideText() ? "SQL_C_WCHAR" : "SQL_C_CHAR");
    std::ofstream(dir + "/odbcinst.ini") << "[Varno Bench]\nDriver = " << driver << "\n"
                                          << "[Null Bench]\nDriver = " NULL_BENCH_DRIVER "\n";
    std::ofstream(dir + "/odbc.ini") << "";
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
    const struct {
        Mode mode;
        const char* name;
    } modes[] = {{Mode::Raw, "raw sqlite3"},
                 {Mode::Bound1, "bound, rowset 1"},
                 {Mode::Bound1000, "bound, column-wise rowset 1000"},
                 {Mode::GetData, "SQLGetData per value"},
                 {Mode::NullBound1, "floor: null driver, rowset 1"},
                 {Mode::NullGetData, "floor: null driver, SQLGetData"}};
    for (long count : counts) {
        const std::string db = dir + "/t" + std::to_string(count) + ".db";
        CreateDatabase(db, count);
        setenv("NULL_DRIVER_ROWS", std::to_string(count).c_str(), 1);
        std::printf("%ld rows\n", count);
        double raw = 0;
        const char* only = std::getenv("BENCH_ONLY");
        for (const auto& m : modes) {
            if (only != nullptr && m.mode != Mode::Raw && std::strncmp(m.name, only, std::strlen(only)) != 0)
                continue;
            Figure f = Measure(db, m.mode, repeat);
            if (m.mode == Mode::Raw)
                raw = f.seconds;
            std::printf("  %-32s %8.3f s  %5.2fx raw  peak RSS %7ld KB%s\n", m.name, f.seconds,
                        raw > 0 ? f.seconds / raw : 0.0, f.peakKb, f.rows == count ? "" : "  (row count wrong)");
        }
        unlink(db.c_str());
    }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
