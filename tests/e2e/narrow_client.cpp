// A narrow ODBC client as C programs are written: it writes a text through the narrow
// calls of the Driver Manager (once as a literal in the statement, once as an SQL_C_CHAR
// parameter) and reads both rows back as SQL_C_CHAR, printing each value's bytes in
// hexadecimal and its length, then the same values again read by SQLGetData in pieces into a
// buffer of 5 bytes (room for any one UTF-8 character and the NUL), printed as "pieces HEX". With "setlocale" it first takes its locale from the
// environment, as Python and Perl do; without, it stays in the C locale, as isql does.
//
//   narrow_client DRIVER DATABASE setlocale|c TEXT_HEX       writes and reads rows 1 and 2
//   narrow_client DRIVER DATABASE setlocale|c TEXT_HEX bad   an SQL_C_CHAR parameter that
//                                                            must be refused: prints its state
// Exits 1 on any failure, with the diagnostic on stderr.
#include <sql.h>
#include <sqlext.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

SQLHENV env;
SQLHDBC dbc;
SQLHSTMT st;

std::string State(SQLSMALLINT type, SQLHANDLE h, std::string* message = nullptr) {
    SQLCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRec(type, h, 1, state, &native, text, sizeof text, &len);
    if (message != nullptr)
        *message = reinterpret_cast<char*>(text);
    return reinterpret_cast<char*>(state);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
    if (SQL_SUCCEEDED(rc))
        return;
    std::string message;
    const std::string state = State(type, h, &message);
    std::fprintf(stderr, "%s failed: %s %s\n", what, state.c_str(), message.c_str());
    std::exit(1);
}

std::string FromHex(const char* hex) {
    std::string out;
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
        out.push_back(static_cast<char>(std::strtoul(std::string(hex + i, 2).c_str(), nullptr, 16)));
    return out;
}

void Exec(const std::string& sql) {
    Check(SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS), SQL_HANDLE_STMT, st,
          sql.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: narrow_client DRIVER DATABASE setlocale|c TEXT_HEX [bad]\n");
        return 2;
    }
    if (std::strcmp(argv[3], "setlocale") == 0)
        std::setlocale(LC_ALL, "");
    const std::string text = FromHex(argv[4]);
    const bool bad = argc > 5 && std::strcmp(argv[5], "bad") == 0;

    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string in = std::string("DRIVER={") + argv[1] + "};DATABASENAME=" + argv[2];
    Check(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0, nullptr,
                           SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc, "connect");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>("DROP TABLE t")), SQL_NTS);
    Exec("CREATE TABLE t (k INTEGER, v VARCHAR(40))");

    SQLLEN length = SQL_NTS;
    std::string param = text;
    Check(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>("INSERT INTO t VALUES (2, ?)")), SQL_NTS),
          SQL_HANDLE_STMT, st, "prepare");
    Check(SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 40, 0, param.data(),
                           static_cast<SQLLEN>(param.size() + 1), &length),
          SQL_HANDLE_STMT, st, "bind");
    if (bad) {
        const SQLRETURN rc = SQLExecute(st);
        std::printf("%s %s\n", SQL_SUCCEEDED(rc) ? "stored" : "refused", State(SQL_HANDLE_STMT, st).c_str());
        SQLFreeStmt(st, SQL_RESET_PARAMS);
        return 0;
    }
    Check(SQLExecute(st), SQL_HANDLE_STMT, st, "execute");
    SQLFreeStmt(st, SQL_RESET_PARAMS);
    Exec("INSERT INTO t VALUES (1, '" + text + "')");

    Exec("SELECT v FROM t ORDER BY k");
    while (SQL_SUCCEEDED(SQLFetch(st))) {
        char value[128] = {};
        SQLLEN ind = 0;
        Check(SQLGetData(st, 1, SQL_C_CHAR, value, sizeof value, &ind), SQL_HANDLE_STMT, st, "get data");
        for (SQLLEN i = 0; i < ind; ++i)
            std::printf("%02x", static_cast<unsigned char>(value[i]));
        std::printf(" %ld\n", static_cast<long>(ind));
    }
    // In pieces: each ends at a whole character, and the next goes on after it. (A buffer
    // with no room for one character gets nothing, as a buffer of one byte does.)
    SQLCloseCursor(st);
    Exec("SELECT v FROM t ORDER BY k");
    while (SQL_SUCCEEDED(SQLFetch(st))) {
        std::string value;
        char piece[5];
        SQLLEN ind = 0;
        SQLRETURN rc;
        while ((rc = SQLGetData(st, 1, SQL_C_CHAR, piece, sizeof piece, &ind)) != SQL_NO_DATA) {
            Check(rc, SQL_HANDLE_STMT, st, "get data in pieces");
            value += piece;
        }
        std::printf("pieces ");
        for (unsigned char c : value)
            std::printf("%02x", c);
        std::printf("\n");
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 0;
}
