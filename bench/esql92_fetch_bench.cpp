// Fetching 1,000,000 rows of six columns (INTEGER, BIGINT, FLOAT, VARCHAR(20), VARCHAR(100),
// DATE) 100 rows at a time: through the ESQL-92 stand-in's C API into SQLDA buffers in the
// server's layouts, and through the raw sqlite3 API into equivalent buffers, on one file in
// the same run. The stand-in should stay within 1.5 times the raw time.
//
//   build/bench/esql92_fetch_bench [--benchmark_repetitions=5]
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/esql92/esql92.h"

namespace {

constexpr int kRows = 1000000;
constexpr uint32_t kBlock = 100;
const char kQuery[] = "SELECT i, b, f, v20, v100, d FROM t";

std::string& dbPath() {
    static std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/esql92-fetch-bench-" + std::to_string(getpid()) + ".db";
    }();
    return path;
}

void createDatabase() {
    sqlite3* db = nullptr;
    if (sqlite3_open(dbPath().c_str(), &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot create %s\n", dbPath().c_str());
        std::exit(1);
    }
    char* err = nullptr;
    int rc = sqlite3_exec(db,
                          "PRAGMA journal_mode=WAL;"
                          "CREATE TABLE t (i INTEGER, b BIGINT, f FLOAT, v20 VARCHAR(20), v100 VARCHAR(100), d DATE);"
                          "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000000)"
                          " INSERT INTO t SELECT x, x * 1000003, x * 0.25, printf('name %d', x),"
                          " printf('%090d', x), printf('%04d/%02d/%02d', 2000 + x % 25, 1 + x % 12, 1 + x % 28)"
                          " FROM n;",
                          nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "cannot fill %s: %s\n", dbPath().c_str(), err ? err : "");
        std::exit(1);
    }
    sqlite3_close(db);
}

void removeDatabase() {
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((dbPath() + suffix).c_str());
}

// The raw API: the same rows into column buffers of 100 rows (text copied, NUL-terminated).
void BM_RawSqlite(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(dbPath().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    std::vector<int32_t> i(kBlock), ind(kBlock * 6);
    std::vector<int64_t> b(kBlock);
    std::vector<double> f(kBlock);
    std::vector<char> v20(kBlock * 21), v100(kBlock * 101), d(kBlock * 11);
    auto copyText = [](sqlite3_stmt* st, int col, char* dst, size_t room) {
        const unsigned char* p = sqlite3_column_text(st, col);
        size_t n = static_cast<size_t>(sqlite3_column_bytes(st, col));
        if (n > room - 1)
            n = room - 1;
        std::memcpy(dst, p, n);
        dst[n] = '\0';
    };
    int64_t total = 0;
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, kQuery, -1, &st, nullptr);
        int64_t rows = 0;
        size_t r = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < 6; ++c)
                ind[r * 6 + static_cast<size_t>(c)] = sqlite3_column_type(st, c) == SQLITE_NULL ? -1 : 0;
            i[r] = sqlite3_column_int(st, 0);
            b[r] = sqlite3_column_int64(st, 1);
            f[r] = sqlite3_column_double(st, 2);
            copyText(st, 3, &v20[r * 21], 21);
            copyText(st, 4, &v100[r * 101], 101);
            copyText(st, 5, &d[r * 11], 11);
            if (++r == kBlock)
                r = 0;
            ++rows;
        }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(i.data());
        benchmark::DoNotOptimize(d.data());
        total += rows;
    }
    if (total != static_cast<int64_t>(state.iterations()) * kRows)
        state.SkipWithError("wrong row count");
    state.SetItemsProcessed(total);
    sqlite3_close(db);
}

// The stand-in: prepare, describe, bind 100-row buffers in the server's layouts, fetch.
void BM_Esql92Fetch(benchmark::State& state) {
    ESQL_SQLCA ca;
    std::string target = "progress:T:::" + dbPath();
    if (tpe_sqlconnect(target.c_str(), "bench", "", "", nullptr, &ca) != 0) {
        state.SkipWithError(ca.sqlerrmc);
        return;
    }
    ESQL_DBHDL db = tpe_get_curdbhdl();
    ESQL_TMHDL tm = tpe_get_curtmhdl();
    unsigned char id[ESQL_IDENTITY_SIZE] = {42};
    ESQL_CURHDL cur = nullptr;
    tpe_set_cursor(tm, db, &cur, id, ESQL_CURSOR_DYNAMIC, kQuery, &ca);
    if (tpe_sqlprepare(tm, db, cur, &ca) != 0) {
        state.SkipWithError(ca.sqlerrmc);
        return;
    }
    PRO_SQLDA* da = PRO_SQLDA_Allocate(6, ESQL_SQLDA_OUTPUT);
    tpe_sqldescribe(tm, db, cur, da, &ca);
    PRO_SQLDA_Set_DA_Attribute_dh_u32_t(da, ESQL_DA_ROWS, kBlock, &ca);
    std::vector<std::vector<char>> data(6);
    std::vector<std::vector<int32_t>> ind(6, std::vector<int32_t>(kBlock));
    for (uint32_t c = 1; c <= 6; ++c) {
        uint32_t len = 0;
        PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, c, &len, &ca);
        data[c - 1].resize(static_cast<size_t>(len) * kBlock);
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, c, data[c - 1].data(), &ca);
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, c, ind[c - 1].data(), &ca);
    }
    int64_t total = 0;
    for (auto _ : state) {
        tpe_sqlopen(tm, db, cur, nullptr, &ca);
        int rc;
        do {
            rc = tpe_sqlfetch(tm, db, cur, da, &ca);
            total += ca.sqlrows;
        } while (rc == 0);
        tpe_sqlclose(tm, db, cur, &ca);
        tpe_tm_end_trans(tm, &ca);
        if (rc < 0) {
            state.SkipWithError(ca.sqlerrmc);
            break;
        }
        benchmark::DoNotOptimize(data[0].data());
    }
    if (total != static_cast<int64_t>(state.iterations()) * kRows)
        state.SkipWithError("wrong row count");
    state.SetItemsProcessed(total);
    PRO_SQLDA_Deallocate(da);
    tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, "bench", &ca);
}

BENCHMARK(BM_RawSqlite)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Esql92Fetch)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    createDatabase();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeDatabase();
    return 0;
}
