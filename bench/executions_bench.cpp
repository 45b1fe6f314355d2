// A million executions on one connection, through unixODBC and each library: queries run
// directly and fetched to their end, queries closed before their end, prepared queries,
// inserts on statements of their own that are freed at once, and a prepared insert and a
// prepared count kept from the start and executed now and then; every thousand, the table
// is emptied and the transaction committed. Every execution must
// succeed and the count must match the inserts; the resident memory is printed as the
// executions go, and must stay flat after the first thousands.
//
//   build/bench/executions_bench [executions]   (default 1000000)
//   BENCH_LIBS=a|w runs one library only.
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what, long n, SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {}, msg[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRec(type, h, 1, state, &native, msg, sizeof msg, &len);
    std::fprintf(stderr, "execution %ld: %s failed: %s %s\n", n, what, state, msg);
    std::exit(1);
}

long RssKb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

SQLCHAR* Sql(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); }

void Run(const char* lib, long executions) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/executions-bench-" + std::to_string(getpid()) + ".db";
    unlink(path.c_str());
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT h = nullptr, keptInsert = nullptr, keptCount = nullptr;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string in = std::string("DRIVER={") + lib + "};DATABASENAME=" + path;
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, Sql(in), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)))
        Fail("connect", 0, SQL_HANDLE_DBC, dbc);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h);
    if (!SQL_SUCCEEDED(SQLExecDirect(h, Sql("create table t (a integer, b varchar(20))"), SQL_NTS)))
        Fail("create", 0, SQL_HANDLE_STMT, h);
    // One transaction a thousand executions: a commit of writes waits for the disk.
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &keptInsert);
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &keptCount);
    int32_t a = 0;
    if (!SQL_SUCCEEDED(SQLPrepare(keptInsert, Sql("insert into t (a, b) values (?, 'kept')"), SQL_NTS)) ||
        !SQL_SUCCEEDED(SQLBindParameter(keptInsert, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &a, 0, nullptr)))
        Fail("prepare insert", 0, SQL_HANDLE_STMT, keptInsert);
    if (!SQL_SUCCEEDED(SQLPrepare(keptCount, Sql("select count(*) from t"), SQL_NTS)))
        Fail("prepare count", 0, SQL_HANDLE_STMT, keptCount);
    long inserted = 0;
    std::printf("%s\n", lib);
    auto t0 = std::chrono::steady_clock::now();
    for (long n = 1; n <= executions; ++n) {
        SQLRETURN rc = SQL_SUCCESS;
        switch (n % 4) {
        case 0:
            if (!SQL_SUCCEEDED(SQLExecDirect(h, Sql("select a from t where a < 3"), SQL_NTS)))
                Fail("direct query", n, SQL_HANDLE_STMT, h);
            while ((rc = SQLFetch(h)) == SQL_SUCCESS) {
            }
            if (rc != SQL_NO_DATA)
                Fail("fetch", n, SQL_HANDLE_STMT, h);
            rc = SQLFreeStmt(h, SQL_CLOSE);
            break;
        case 1:
            if (!SQL_SUCCEEDED(SQLExecDirect(h, Sql("select a, b from t where a >= 0"), SQL_NTS)))
                Fail("direct query closed early", n, SQL_HANDLE_STMT, h);
            rc = SQLCloseCursor(h);
            break;
        case 2: {
            SQLHSTMT own = nullptr;
            SQLAllocHandle(SQL_HANDLE_STMT, dbc, &own);
            std::string sql = "insert into t (a, b) values (" + std::to_string(n % 1000) + ", 'own')";
            if (!SQL_SUCCEEDED(SQLExecDirect(own, Sql(sql), SQL_NTS)))
                Fail("insert on a statement of its own", n, SQL_HANDLE_STMT, own);
            ++inserted;
            rc = SQLFreeHandle(SQL_HANDLE_STMT, own);
            break;
        }
        default:
            if (n % 1000 == 3) {
                a = static_cast<int32_t>(n % 1000);
                if (!SQL_SUCCEEDED(SQLExecute(keptInsert)))
                    Fail("kept insert", n, SQL_HANDLE_STMT, keptInsert);
                ++inserted;
                int32_t count = 0;
                if (!SQL_SUCCEEDED(SQLExecute(keptCount)) || SQLFetch(keptCount) != SQL_SUCCESS ||
                    !SQL_SUCCEEDED(SQLGetData(keptCount, 1, SQL_C_SLONG, &count, 0, nullptr)))
                    Fail("kept count", n, SQL_HANDLE_STMT, keptCount);
                if (count != inserted) {
                    std::fprintf(stderr, "execution %ld: %d rows counted, %ld inserted\n", n, count, inserted);
                    std::exit(1);
                }
                rc = SQLCloseCursor(keptCount);
            } else {
                std::string sql = "select b from t where a = " + std::to_string(n % 997);
                if (!SQL_SUCCEEDED(SQLPrepare(h, Sql(sql), SQL_NTS)) || !SQL_SUCCEEDED(SQLExecute(h)))
                    Fail("prepared query", n, SQL_HANDLE_STMT, h);
                rc = SQLFreeStmt(h, SQL_CLOSE);
            }
        }
        if (!SQL_SUCCEEDED(rc))
            Fail("close or free", n, SQL_HANDLE_STMT, h);
        if (n % 1000 == 0) {
            // The table stays small, so that every thousand executions cost the same.
            if (!SQL_SUCCEEDED(SQLExecDirect(h, Sql("delete from t"), SQL_NTS)))
                Fail("delete", n, SQL_HANDLE_STMT, h);
            inserted = 0;
            if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT)))
                Fail("commit", n, SQL_HANDLE_DBC, dbc);
        }
        if (n == 1000 || n == 10000 || n % 100000 == 0 || n == executions)
            std::printf("  %8ld executions  %7.1f s  RSS %6ld kB\n", n,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), RssKb());
        std::fflush(stdout);
    }
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_COMMIT);
    SQLFreeHandle(SQL_HANDLE_STMT, keptInsert);
    SQLFreeHandle(SQL_HANDLE_STMT, keptCount);
    SQLFreeHandle(SQL_HANDLE_STMT, h);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((path + suffix).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    long executions = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000000;
    const char* only = std::getenv("BENCH_LIBS");
    if (only == nullptr || std::strcmp(only, "w") != 0)
        Run(VARNO_LIB_A, executions);
    if (only == nullptr || std::strcmp(only, "a") != 0)
        Run(VARNO_LIB_W, executions);
    return 0;
}
