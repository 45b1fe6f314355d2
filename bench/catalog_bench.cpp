// The catalog on a database of 1,000 tables of 7 columns: the agent's Tables and Columns
// operations (every table, every column) with all their rows fetched, timed for the first
// call after a schema change (the catalog is rebuilt) and for a repeated call (it must not
// be), with the raw sqlite3 reading of the same schema (sqlite_schema and
// pragma_table_info) in the same run for scale.
//
//   build/bench/catalog_bench
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "drv_pro9/oa_catalog.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_optable.h"
#include "platform/esql92/sqlite_internal.h"
#include "util/dataset.h"

namespace {

constexpr int kTables = 1000;

double Millis(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Check(int rc, const char* what) {
    if (rc != 0) {
        std::fprintf(stderr, "%s failed: %d\n", what, rc);
        std::exit(1);
    }
}

// Runs the operation and fetches every row; returns the rows.
long RunAndFetch(uint32_t stmt, int (*op)(uint32_t, const OA_CATARGS*), const OA_CATARGS& args) {
    Check(op(stmt, &args), "catalog operation");
    long rows = 0;
    DATASET block{};
    while (OA_Fetch(stmt, 100, &block) == 0 && block.rowsUsed > 0)
        rows += block.rowsUsed;
    ds_Free(&block);
    OA_CloseCursor(stmt);
    return rows;
}

long RawSchema(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT m.name, c.name, c.type FROM sqlite_schema m, pragma_table_info(m.name) c"
                       " WHERE m.type = 'table' ORDER BY 1, c.cid",
                       -1, &s, nullptr);
    long rows = 0;
    while (sqlite3_step(s) == SQLITE_ROW)
        ++rows;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

}  // namespace

int main() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/catalog-bench-" + std::to_string(getpid()) + ".db";
    {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        std::string sql = "PRAGMA journal_mode=WAL; BEGIN;";
        for (int t = 0; t < kTables; ++t)
            sql += "CREATE TABLE t" + std::to_string(t) +
                   " (id INTEGER PRIMARY KEY, a VARCHAR(20), b NUMERIC(10,2), c DATE, d INTEGER NOT NULL,"
                   " e VARCHAR(100), f FLOAT);";
        sql += "COMMIT;";
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }

    uint32_t server = 0, conn = 0, stmt = 0;
    Check(OA_OpenServer(nullptr, &server), "open server");
    OA_CONNREQ req{};
    char empty[1] = "", user[6] = "alice", password[7] = "secret";
    req.options = empty;
    req.dbOptions = empty;
    req.database = path.data();
    req.user = user;
    req.password = password;
    Check(OA_Connect(server, &req, &conn), "connect");
    Check(OA_AllocStmt(conn, &stmt), "statement");

    OA_CATARGS tables{};
    tables.names[0] = "";
    tables.names[1] = "%";
    tables.names[2] = "%";
    tables.names[3] = "";
    OA_CATARGS columns{};
    columns.names[0] = "";
    columns.names[1] = "%";
    columns.names[2] = "%";
    columns.names[3] = "%";

    auto raw0 = std::chrono::steady_clock::now();
    long rawRows = RawSchema(path);
    double raw = Millis(std::chrono::steady_clock::now() - raw0);
    std::printf("raw sqlite3 schema read: %ld rows, %.1f ms\n", rawRows, raw);

    int n = 0;
    struct Call {
        const char* name;
        int (*op)(uint32_t, const OA_CATARGS*);
        const OA_CATARGS* args;
    };
    for (const Call& call : {Call{"SQLTables", OA_DDTables, &tables}, Call{"SQLColumns", OA_DDColumns, &columns}}) {
        const char* name = call.name;
        auto op = call.op;
        const OA_CATARGS* args = call.args;
        // A schema change first, so that the next call rebuilds.
        std::string ddl = "CREATE TABLE extra" + std::to_string(n++) + " (x INTEGER)";
        Check(OA_PrepareAndExecute(stmt, ddl.c_str(), nullptr, 0, nullptr), "schema change");
        uint64_t builds = esql::lite::catalogBuilds();
        auto t0 = std::chrono::steady_clock::now();
        long rows = RunAndFetch(stmt, op, *args);
        double first = Millis(std::chrono::steady_clock::now() - t0);
        uint64_t rebuiltFirst = esql::lite::catalogBuilds() - builds;
        builds = esql::lite::catalogBuilds();
        auto t1 = std::chrono::steady_clock::now();
        RunAndFetch(stmt, op, *args);
        double repeat = Millis(std::chrono::steady_clock::now() - t1);
        std::printf("%-10s %5ld rows: first call after a schema change %7.1f ms (%llu rebuild, %.1fx raw),"
                    " repeated %7.1f ms (%llu rebuilds, %.1fx raw)\n",
                    name, rows, first, static_cast<unsigned long long>(rebuiltFirst), first / raw, repeat,
                    static_cast<unsigned long long>(esql::lite::catalogBuilds() - builds), repeat / raw);
    }
    OA_FreeStmt(stmt);
    OA_Disconnect(conn);
    OA_CloseServer(server);
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((path + suffix).c_str());
    return 0;
}
