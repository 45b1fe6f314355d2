// What the scrollable-cursor benchmarks (static_cursor_bench, keyset_cursor_bench) share: the
// query and its rowset, the six columns bound column-wise in the application's C types, the
// run's matrix and folder, and the ODBC side's prepare and NEXT walk, timed alike for the
// forward-only baseline and the cursor measured against it.
#pragma once

#include <optional>

#include "fair.h"

namespace cursorbench {

using fair::Dates;
using fair::Text;

constexpr SQLULEN kRowset = 100;
inline const char kQuery[] = "SELECT i, b, f, v20, v100, d FROM t";

// Column-wise buffers of n rows in the application's C types: the ODBC side's bound rowset (the
// raw side's buffers in static_cursor_bench extend it). Indicators are in bytes, as ODBC's.
struct Columns {
    Text text;
    Dates dates;
    size_t n;
    SQLLEN unit, dateSize;
    std::vector<SQLINTEGER> i;
    std::vector<SQLBIGINT> b;
    std::vector<double> x;
    std::vector<char> v20, v100, d;
    std::vector<SQLLEN> ind;  // six columns of n

    Columns(size_t rows, Text t, Dates ds)
        : text(t), dates(ds), n(rows), unit(t == Text::WChar ? sizeof(SQLWCHAR) : 1),
          dateSize(ds == Dates::Struct ? sizeof(SQL_DATE_STRUCT) : 11), i(rows), b(rows), x(rows),
          v20(rows * 21 * unit), v100(rows * 101 * unit), d(rows * dateSize), ind(6 * rows) {}

    void Bind(SQLHSTMT st) {
        const SQLSMALLINT textType = text == Text::WChar ? SQL_C_WCHAR : SQL_C_CHAR;
        SQLBindCol(st, 1, SQL_C_SLONG, i.data(), 0, &ind[0]);
        SQLBindCol(st, 2, SQL_C_SBIGINT, b.data(), 0, &ind[n]);
        SQLBindCol(st, 3, SQL_C_DOUBLE, x.data(), 0, &ind[2 * n]);
        SQLBindCol(st, 4, textType, v20.data(), 21 * unit, &ind[3 * n]);
        SQLBindCol(st, 5, textType, v100.data(), 101 * unit, &ind[4 * n]);
        SQLBindCol(st, 6, dates == Dates::Struct ? SQL_C_TYPE_DATE : SQL_C_CHAR, d.data(), dateSize, &ind[5 * n]);
    }

    // The fingerprint of row k, as bench/odbc_fetch_bench.cpp takes it.
    void Take(size_t k, fair::Fingerprint& fp) const {
        fp.Int(i[k]);
        fp.Int(b[k]);
        fp.Double(x[k]);
        // A length beyond the buffer (a fault) is cut to it, as the raw side cuts its copy.
        fp.Bytes(&v20[k * 21 * unit], std::min(ind[3 * n + k], 20 * unit));
        fp.Bytes(&v100[k * 101 * unit], std::min(ind[4 * n + k], 100 * unit));
        if (dates == Dates::Struct)
            fp.Date(*reinterpret_cast<const SQL_DATE_STRUCT*>(&d[k * sizeof(SQL_DATE_STRUCT)]));
        else
            fp.DateText(&d[k * 11], ind[5 * n + k]);
    }
};

// What a run of the benchmark covers (the repeats, the columns and the date forms the
// environment selects), and its folder, also TMPDIR so that the cursors' spill files go with it,
// holding a private odbcinst.ini that names both libraries (a and w: their files).
struct Setup {
    int repeat;
    std::vector<fair::Config> configs;
    std::vector<Dates> dateForms;
    std::string dir, a, w;
};

inline Setup SetUp(const char* name, const char* builtA, const char* builtW) {
    Setup s{fair::Repeat(), fair::Configs(), fair::DateForms(), fair::TempDir(name), "", ""};
    setenv("TMPDIR", s.dir.c_str(), 1);
    s.a = fair::LibPath(fair::Lib::Ansi, builtA, builtW);
    s.w = fair::LibPath(fair::Lib::Unicode, builtA, builtW);
    fair::WriteOdbcInst(s.dir, s.a, s.w, "/dev/null");
    return s;
}

// A statement on dbc asking for the cursor type (none: the default forward-only) and a rowset of
// kRowset, its rows fetched counted in fetched, bound by bind(st) and prepared with kQuery.
// Reports the rowset granted and the cursor type after the prepare in r.rowset and r.cursorType.
template <class Result, class Bind>
SQLHSTMT Prepare(SQLHDBC dbc, std::optional<SQLULEN> cursorType, SQLULEN& fetched, Result& r, Bind bind) {
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    if (cursorType)
        SQLSetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(*cursorType), 0);
    SQLULEN granted = 0;
    SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kRowset), 0);
    SQLGetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, &granted, 0, nullptr);
    SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    bind(st);
    r.rowset = static_cast<long>(granted);
    char q[sizeof kQuery];
    std::memcpy(q, kQuery, sizeof q);
    if (!SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(q), SQL_NTS)))
        fair::Fail("prepare", SQL_HANDLE_STMT, st);
    SQLULEN type = 0;
    SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, nullptr);
    r.cursorType = static_cast<long>(type);
    return st;
}

// Executes st and reads every rowset by NEXT, take(k) for each row k fetched. With apart the
// execute and the walk each have their own clock and peak RSS in r.execute, r.peakExecute,
// r.walk and r.peakWalk; without it one clock covers both in r.walk (the forward-only walk).
// Answers the rows read.
template <class Result, class Take>
long ExecuteAndWalk(SQLHSTMT st, const SQLULEN& fetched, bool apart, Result& r, Take take) {
    long rows = 0;
    const fair::Timer timer;
    if (!SQL_SUCCEEDED(SQLExecute(st)))
        fair::Fail("execute", SQL_HANDLE_STMT, st);
    if (apart) {
        timer.Stop(r.execute);
        r.peakExecute = fair::PeakKb();
    }
    const fair::Timer walk;
    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetchScroll(st, SQL_FETCH_NEXT, 0))) {
        for (SQLULEN k = 0; k < fetched; ++k)
            take(k);
        rows += static_cast<long>(fetched);
    }
    if (rc != SQL_NO_DATA)
        fair::Fail("fetch next", SQL_HANDLE_STMT, st);
    (apart ? walk : timer).Stop(r.walk);
    r.peakWalk = fair::PeakKb();
    return rows;
}

// SQLRowCount after the execute.
inline long RowCount(SQLHSTMT st) {
    SQLLEN count = -2;
    SQLRowCount(st, &count);
    return static_cast<long>(count);
}

}  // namespace cursorbench
