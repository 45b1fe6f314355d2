// A measuring instrument, not a driver: the least an ODBC driver can do behind unixODBC.
// It connects to nothing and serves the fetch benchmark's query as NULL_DRIVER_ROWS rows of
// fixed values in its six columns, into bound columns or through SQLGetData, and takes the
// insert benchmark's parameters and executions without reading them, so that the benchmarks
// can show what unixODBC's own calls cost on this machine, beside raw sqlite3 and the real
// driver. Only what those benchmarks call is here.
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>

#define NULL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Stmt {
    long rows = 0;      // rows the result holds
    long next = 0;      // rows handed out
    SQLULEN arraySize = 1;
    SQLULEN* fetched = nullptr;
    struct Bound {
        SQLSMALLINT cType = 0;
        SQLPOINTER data = nullptr;
        SQLLEN length = 0;
        SQLLEN* ind = nullptr;
    } bound[7];
};

const SQL_DATE_STRUCT kDate{2024, 5, 17};
const char kShort[] = "name 123456";
const char kLong[] = "a longer text for row 123456, of some fifty characters";

// Writes column c's fixed value into element k of the given target.
void Put(SQLUSMALLINT c, SQLSMALLINT cType, SQLPOINTER data, SQLLEN length, SQLLEN* ind, SQLULEN k) {
    if (data == nullptr || c < 1 || c > 6)
        return;
    auto* base = static_cast<char*>(data);
    SQLLEN n = 0;
    switch (c) {
    case 1: n = 4; *reinterpret_cast<SQLINTEGER*>(base + k * 4) = 123456; break;
    case 2: n = 8; *reinterpret_cast<SQLBIGINT*>(base + k * 8) = 123456000003LL; break;
    case 3: n = 8; *reinterpret_cast<double*>(base + k * 8) = 30864.0; break;
    case 4:
    case 5: {
        const char* s = c == 4 ? kShort : kLong;
        n = static_cast<SQLLEN>(std::strlen(s));
        const SQLLEN room = length > 0 ? length - 1 : 0;
        const SQLLEN copy = n < room ? n : room;
        std::memcpy(base + k * static_cast<SQLULEN>(length), s, static_cast<size_t>(copy));
        base[k * static_cast<SQLULEN>(length) + static_cast<SQLULEN>(copy)] = '\0';
        break;
    }
    case 6: n = sizeof kDate; std::memcpy(base + k * sizeof kDate, &kDate, sizeof kDate); break;
    }
    (void)cType;
    if (ind != nullptr)
        ind[k] = n;
}

}  // namespace

NULL_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE, SQLHANDLE* out) {
    *out = type == SQL_HANDLE_STMT ? static_cast<SQLHANDLE>(new Stmt) : static_cast<SQLHANDLE>(new char(0));
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE h) {
    if (type == SQL_HANDLE_STMT)
        delete static_cast<Stmt*>(h);
    else
        delete static_cast<char*>(h);
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }

NULL_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC, SQLHWND, SQLCHAR*, SQLSMALLINT, SQLCHAR* out, SQLSMALLINT,
                                               SQLSMALLINT* outLen, SQLUSMALLINT) {
    if (out != nullptr)
        *out = '\0';
    if (outLen != nullptr)
        *outLen = 0;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC) { return SQL_SUCCESS; }

NULL_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT, SQLPOINTER value, SQLSMALLINT length,
                                         SQLSMALLINT* outLen) {
    if (value != nullptr && length > 5)
        std::memcpy(value, "03.80", 6);
    if (outLen != nullptr)
        *outLen = 5;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*, SQLINTEGER*, SQLCHAR*,
                                            SQLSMALLINT, SQLSMALLINT*) {
    return SQL_NO_DATA;
}

NULL_EXPORT SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT h, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER) {
    auto* s = static_cast<Stmt*>(h);
    if (attr == SQL_ATTR_ROW_ARRAY_SIZE)
        s->arraySize = reinterpret_cast<SQLULEN>(value);
    else if (attr == SQL_ATTR_ROWS_FETCHED_PTR)
        s->fetched = static_cast<SQLULEN*>(value);
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT h, SQLUSMALLINT c, SQLSMALLINT cType, SQLPOINTER data,
                                         SQLLEN length, SQLLEN* ind) {
    if (c < 1 || c > 6)
        return SQL_ERROR;
    static_cast<Stmt*>(h)->bound[c] = {cType, data, length, ind};
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT h, SQLCHAR*, SQLINTEGER) {
    auto* s = static_cast<Stmt*>(h);
    const char* rows = std::getenv("NULL_DRIVER_ROWS");
    s->rows = rows != nullptr ? std::atol(rows) : 0;
    s->next = 0;
    return SQL_SUCCESS;
}

// A prepared statement is the fetch benchmark's query (or an insert, which never fetches).
NULL_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT h, SQLCHAR*, SQLINTEGER) {
    const char* rows = std::getenv("NULL_DRIVER_ROWS");
    static_cast<Stmt*>(h)->rows = rows != nullptr ? std::atol(rows) : 0;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT, SQLUSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLULEN,
                                               SQLSMALLINT, SQLPOINTER, SQLLEN, SQLLEN*) {
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT h) {
    static_cast<Stmt*>(h)->next = 0;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }

NULL_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT) { return SQL_SUCCESS; }

NULL_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT, SQLSMALLINT* n) {
    *n = 6;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT, SQLLEN* n) {
    if (n != nullptr)
        *n = -1;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT h) {
    auto* s = static_cast<Stmt*>(h);
    if (s->next >= s->rows)
        return SQL_NO_DATA;
    SQLULEN n = s->arraySize;
    if (static_cast<long>(n) > s->rows - s->next)
        n = static_cast<SQLULEN>(s->rows - s->next);
    for (SQLUSMALLINT c = 1; c <= 6; ++c) {
        const Stmt::Bound& b = s->bound[c];
        for (SQLULEN k = 0; k < n; ++k)
            Put(c, b.cType, b.data, b.length, b.ind, k);
    }
    s->next += static_cast<long>(n);
    if (s->fetched != nullptr)
        *s->fetched = n;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT, SQLUSMALLINT c, SQLSMALLINT cType, SQLPOINTER data,
                                         SQLLEN length, SQLLEN* ind) {
    Put(c, cType, data, length, ind, 0);
    return SQL_SUCCESS;
}

// No entry calls another: the Driver Manager's functions of the same names would answer.
NULL_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT) {
    static_cast<Stmt*>(h)->next = static_cast<Stmt*>(h)->rows;
    return SQL_SUCCESS;
}

NULL_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT h) {
    static_cast<Stmt*>(h)->next = static_cast<Stmt*>(h)->rows;
    return SQL_SUCCESS;
}
