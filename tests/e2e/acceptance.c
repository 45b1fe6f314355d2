/* The scrollable-cursor acceptance, as a C application uses the driver through unixODBC with
 * the Driver Manager's cursor library out (SQL_CUR_USE_DRIVER): static, keyset-driven and
 * dynamic cursors scrolled in every direction, SQLSetPos, SQLBulkOperations, optimistic
 * concurrency and what the library refuses, while a second connection in autocommit plays
 * another user.
 *
 *   acceptance DRIVER DATABASE 2|3 column|row
 *
 * DRIVER is the library file, DATABASE a file the program may replace, 2 or 3 the ODBC
 * version the application declares (ODBC 2: SQLSetStmtOption and SQLExtendedFetch), and the
 * rowset of three rows is bound column-wise or row-wise. Prints one line per failed check
 * and exits 1 when any failed. */
#include <sql.h>
#include <sqlext.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static SQLHENV env;
static SQLHDBC me, other, versioned;
static SQLHSTMT st, ost;
static int odbc3, rowWise, failures;
static const char* driver;
static const char* database;

/* The rowset: three rows of (id, v), bound one way or the other. */
struct Row {
    SQLLEN mark; /* the bookmark column, bound beside the row's own columns */
    SQLLEN markLen;
    SQLINTEGER k;
    SQLLEN kInd;
    SQLCHAR v[21];
    SQLLEN vInd;
};
static struct Row rows[3];
static SQLINTEGER colK[3];
static SQLLEN colKInd[3];
static SQLCHAR colV[3][21];
static SQLLEN colVInd[3];
static SQLUSMALLINT status[3];
static SQLULEN fetched;
static SQLLEN marks[3];
static SQLLEN markLen[3];

static void fail(int line, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    fprintf(stderr, "acceptance.c:%d (ODBC %d, %s-wise): ", line, odbc3 ? 3 : 2, rowWise ? "row" : "column");
    vfprintf(stderr, format, ap);
    fputc('\n', stderr);
    va_end(ap);
    ++failures;
}
#define CHECK(cond, ...)                       \
    do {                                       \
        if (!(cond))                           \
            fail(__LINE__, __VA_ARGS__);       \
    } while (0)

/* The first diagnostic's SQLSTATE of a handle, and all of them for messages. */
static const char* stateOf(SQLSMALLINT type, SQLHANDLE h) {
    static SQLCHAR state[6];
    SQLINTEGER native;
    SQLSMALLINT len;
    state[0] = 0;
    SQLGetDiagRec(type, h, 1, state, &native, NULL, 0, &len);
    return (const char*)state;
}
static int hasState(SQLHSTMT h, const char* wanted) {
    SQLCHAR state[6];
    SQLINTEGER native;
    SQLSMALLINT i, len;
    for (i = 1; SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, h, i, state, &native, NULL, 0, &len)); ++i)
        if (strcmp((const char*)state, wanted) == 0)
            return 1;
    return 0;
}

static void run(SQLHSTMT h, const char* sql) {
    SQLRETURN rc;
    SQLFreeStmt(h, SQL_CLOSE);
    rc = SQLExecDirect(h, (SQLCHAR*)sql, SQL_NTS);
    CHECK(SQL_SUCCEEDED(rc), "%s: %d %s", sql, rc, stateOf(SQL_HANDLE_STMT, h));
    SQLFreeStmt(h, SQL_CLOSE);
}

static SQLHDBC connectTo(const char* extra) {
    SQLHDBC dbc;
    char in[1024];
    SQLRETURN rc;
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLSetConnectAttr(dbc, SQL_ATTR_ODBC_CURSORS, (SQLPOINTER)SQL_CUR_USE_DRIVER, 0);
    snprintf(in, sizeof in, "DRIVER={%s};DATABASENAME=%s%s", driver, database, extra);
    rc = SQLDriverConnect(dbc, NULL, (SQLCHAR*)in, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        fprintf(stderr, "connect failed: %s\n", stateOf(SQL_HANDLE_DBC, dbc));
        exit(1);
    }
    return dbc;
}

/* ---- the application's statement ----------------------------------------------------- */

static void setOption(SQLINTEGER attr, SQLUSMALLINT option, SQLULEN value) {
    if (odbc3)
        SQLSetStmtAttr(st, attr, (SQLPOINTER)value, 0);
    else
        SQLSetStmtOption(st, option, value);
}

static void bindRowset(void) {
    if (rowWise) {
        setOption(SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_TYPE, sizeof(struct Row));
        SQLBindCol(st, 1, SQL_C_SLONG, &rows[0].k, 0, &rows[0].kInd);
        SQLBindCol(st, 2, SQL_C_CHAR, rows[0].v, sizeof rows[0].v, &rows[0].vInd);
    } else {
        setOption(SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_TYPE, SQL_BIND_BY_COLUMN);
        SQLBindCol(st, 1, SQL_C_SLONG, colK, 0, colKInd);
        SQLBindCol(st, 2, SQL_C_CHAR, colV, sizeof colV[0], colVInd);
    }
    if (odbc3) {
        SQLSetStmtAttr(st, SQL_ATTR_ROW_STATUS_PTR, status, 0);
        SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    }
}

static SQLINTEGER* keyAt(int i) { return rowWise ? &rows[i].k : &colK[i]; }
static SQLLEN* keyLenAt(int i) { return rowWise ? &rows[i].kInd : &colKInd[i]; }
static SQLLEN* markAt(int i) { return rowWise ? &rows[i].mark : &marks[i]; }
static void setMarks(SQLLEN a, SQLLEN b, SQLLEN c) {
    SQLLEN values[3];
    int i;
    values[0] = a, values[1] = b, values[2] = c;
    for (i = 0; i < 3; ++i) {
        *markAt(i) = values[i];
        if (rowWise)
            rows[i].markLen = sizeof(SQLLEN);
        else
            markLen[i] = sizeof(SQLLEN);
    }
}
/* Whether the key column is written by SQLSetPos and SQLBulkOperations. */
static void writeKeys(int yes) {
    int i;
    for (i = 0; i < 3; ++i)
        *keyLenAt(i) = yes ? 0 : SQL_COLUMN_IGNORE;
}
static SQLCHAR* valueAt(int i) { return rowWise ? rows[i].v : colV[i]; }
static SQLLEN* valueLenAt(int i) { return rowWise ? &rows[i].vInd : &colVInd[i]; }

static void clearRowset(void) {
    int i;
    for (i = 0; i < 3; ++i) {
        *keyAt(i) = -1;
        strcpy((char*)valueAt(i), "-");
        status[i] = 9;
    }
    fetched = 99;
}

/* "k1 k2 k3": "-" for a row the fetch left alone, "k=value" when the value is not "v<k>". */
static const char* keys(void) {
    static char out[128];
    int i;
    out[0] = 0;
    for (i = 0; i < 3; ++i) {
        char one[96], expect[24];
        if (*keyAt(i) == -1) {
            snprintf(one, sizeof one, "-");
        } else {
            snprintf(expect, sizeof expect, "v%d", (int)*keyAt(i));
            if (strcmp(expect, (const char*)valueAt(i)) == 0)
                snprintf(one, sizeof one, "%d", (int)*keyAt(i));
            else
                snprintf(one, sizeof one, "%d=%s", (int)*keyAt(i), (const char*)valueAt(i));
        }
        strcat(out, i ? " " : "");
        strcat(out, one);
    }
    return out;
}
static const char* statuses(void) {
    static char out[4];
    int i;
    for (i = 0; i < 3; ++i)
        out[i] = (char)('0' + status[i]);
    out[3] = 0;
    return out;
}

static SQLRETURN scroll(SQLSMALLINT orientation, SQLLEN offset) {
    clearRowset();
    if (odbc3)
        return SQLFetchScroll(st, orientation, offset);
    {
        SQLULEN got = 0;
        SQLRETURN rc = SQLExtendedFetch(st, orientation, offset, &got, status);
        fetched = got;
        return rc;
    }
}

/* The table t afresh: rows 1..n with v = "v<id>". */
static void fillTable(int n) {
    char sql[128];
    int i;
    run(ost, "drop table if exists t");
    run(ost, "create table t (id integer not null primary key, v varchar(20))");
    for (i = 1; i <= n; ++i) {
        snprintf(sql, sizeof sql, "insert into t values (%d, 'v%d')", i, i);
        run(ost, sql);
    }
}

/* A cursor of the type and concurrency over t with the rowset bound. */
static SQLRETURN openCursor(SQLULEN type, SQLULEN concurrency, int bookmarks) {
    SQLFreeStmt(st, SQL_CLOSE);
    SQLFreeStmt(st, SQL_UNBIND);
    setOption(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_TYPE, type);
    setOption(SQL_ATTR_CONCURRENCY, SQL_CONCURRENCY, concurrency);
    setOption(SQL_ATTR_ROW_ARRAY_SIZE, SQL_ROWSET_SIZE, 3);
    setOption(SQL_ATTR_USE_BOOKMARKS, SQL_USE_BOOKMARKS,
              bookmarks ? (odbc3 ? SQL_UB_VARIABLE : SQL_UB_ON) : SQL_UB_OFF);
    bindRowset();
    if (bookmarks) {
        SQLSMALLINT type = odbc3 ? SQL_C_VARBOOKMARK : SQL_C_BOOKMARK;
        if (rowWise)
            SQLBindCol(st, 0, type, &rows[0].mark, sizeof rows[0].mark, &rows[0].markLen);
        else
            SQLBindCol(st, 0, type, marks, sizeof marks[0], markLen);
    }
    return SQLExecDirect(st, (SQLCHAR*)"select id, v from t order by id", SQL_NTS);
}

static SQLLEN rowCount(void) {
    SQLLEN n = -2;
    SQLRowCount(st, &n);
    return n;
}

/* The value the other user reads for a key, "" when the row is gone. */
static const char* otherReads(int id) {
    static SQLCHAR v[21];
    SQLLEN ind = 0;
    char sql[64];
    snprintf(sql, sizeof sql, "select v from t where id = %d", id);
    SQLFreeStmt(ost, SQL_CLOSE);
    SQLExecDirect(ost, (SQLCHAR*)sql, SQL_NTS);
    SQLBindCol(ost, 1, SQL_C_CHAR, v, sizeof v, &ind);
    if (SQLFetch(ost) != SQL_SUCCESS)
        v[0] = 0;
    SQLFreeStmt(ost, SQL_CLOSE);
    SQLFreeStmt(ost, SQL_UNBIND);
    return (const char*)v;
}

static void setValue(int i, const char* value) {
    strcpy((char*)valueAt(i), value);
    *valueLenAt(i) = SQL_NTS;
}

/* ---- 1. every orientation on static and keyset-driven cursors --------------------------- */

struct Step {
    SQLSMALLINT orientation;
    SQLLEN offset;
    SQLRETURN rc;
    SQLULEN fetched;
    const char* keys;
};

static void scrollTenRows(SQLULEN type) {
    static const struct Step steps[] = {
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 10"}, /* as the first call */
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3"},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "4 5 6"},
        {SQL_FETCH_LAST, 0, SQL_SUCCESS, 3, "8 9 10"},
        {SQL_FETCH_PRIOR, 0, SQL_SUCCESS, 3, "5 6 7"},
        {SQL_FETCH_ABSOLUTE, 5, SQL_SUCCESS, 3, "5 6 7"},
        {SQL_FETCH_ABSOLUTE, -2, SQL_SUCCESS, 2, "9 10 -"},
        {SQL_FETCH_RELATIVE, -2, SQL_SUCCESS, 3, "7 8 9"},
        {SQL_FETCH_ABSOLUTE, 0, SQL_NO_DATA, 0, "- - -"},
        {SQL_FETCH_ABSOLUTE, 11, SQL_NO_DATA, 0, "- - -"},
        {SQL_FETCH_FIRST, 0, SQL_SUCCESS, 3, "1 2 3"},
        {SQL_FETCH_PRIOR, 0, SQL_NO_DATA, 0, "- - -"},
        {SQL_FETCH_NEXT, 0, SQL_SUCCESS, 3, "1 2 3"},
    };
    size_t i;
    SQLRETURN rc;
    fillTable(10);
    rc = openCursor(type, SQL_CONCUR_READ_ONLY, 1);
    CHECK(rc == SQL_SUCCESS, "open type %d: %d %s", (int)type, rc, stateOf(SQL_HANDLE_STMT, st));
    for (i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const struct Step* s = &steps[i];
        rc = scroll(s->orientation, s->offset);
        CHECK(rc == s->rc, "type %d step %d: rc %d", (int)type, (int)i, rc);
        CHECK(strcmp(keys(), s->keys) == 0, "type %d step %d: rows %s, not %s", (int)type, (int)i, keys(), s->keys);
        /* Without rows the rows-fetched buffer is left as it was. */
        if (rc != SQL_NO_DATA)
            CHECK(fetched == s->fetched, "type %d step %d: %lu fetched", (int)type, (int)i, (unsigned long)fetched);
        if (s->fetched == 2)
            CHECK(status[2] == SQL_ROW_NOROW, "type %d step %d: status %s", (int)type, (int)i, statuses());
    }
    /* By bookmark: the bookmark of row 4 from column 0, and an offset of 1. */
    rc = scroll(SQL_FETCH_ABSOLUTE, 4);
    CHECK(rc == SQL_SUCCESS && *markAt(0) == 4, "bookmark of row 4: %ld", (long)*markAt(0));
    if (odbc3) {
        SQLLEN mark = *markAt(0);
        SQLSetStmtAttr(st, SQL_ATTR_FETCH_BOOKMARK_PTR, &mark, 0);
        rc = scroll(SQL_FETCH_BOOKMARK, 1);
    } else {
        rc = scroll(SQL_FETCH_BOOKMARK, *markAt(1));
    }
    CHECK(rc == SQL_SUCCESS && strcmp(keys(), "5 6 7") == 0, "by bookmark: %d %s", rc, keys());
    if (type == SQL_CURSOR_KEYSET_DRIVEN)
        CHECK(rowCount() == 10, "keyset row count %ld", (long)rowCount());
}

/* ---- 2. another user's changes ------------------------------------------------------------ */

static void otherUsersChanges(void) {
    SQLRETURN rc;
    fillTable(10);
    rc = openCursor(SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_READ_ONLY, 0);
    CHECK(rc == SQL_SUCCESS, "open keyset: %s", stateOf(SQL_HANDLE_STMT, st));
    CHECK(rowCount() == 10, "keyset row count %ld", (long)rowCount());
    run(ost, "delete from t where id = 5");
    run(ost, "update t set v = 'theirs' where id = 6");
    run(ost, "insert into t values (11, 'v11')");
    rc = scroll(SQL_FETCH_ABSOLUTE, 4);
    CHECK(rc == SQL_SUCCESS, "keyset absolute 4: %d", rc);
    CHECK(strcmp(keys(), "4 - 6=theirs") == 0, "keyset sees %s", keys());
    CHECK(status[1] == SQL_ROW_DELETED, "deleted row status %s", statuses());
    rc = scroll(SQL_FETCH_LAST, 0);
    CHECK(strcmp(keys(), "8 9 10") == 0, "keyset LAST %s: the insert is not seen", keys());

    fillTable(10);
    rc = openCursor(SQL_CURSOR_DYNAMIC, SQL_CONCUR_READ_ONLY, 0);
    CHECK(rc == SQL_SUCCESS, "open dynamic: %s", stateOf(SQL_HANDLE_STMT, st));
    rc = scroll(SQL_FETCH_NEXT, 0);
    CHECK(strcmp(keys(), "1 2 3") == 0, "dynamic first %s", keys());
    run(ost, "delete from t where id = 4");
    run(ost, "insert into t values (0, 'v0')");
    run(ost, "insert into t values (4, 'back')");
    rc = scroll(SQL_FETCH_NEXT, 0);
    CHECK(rc == SQL_SUCCESS && strcmp(keys(), "4=back 5 6") == 0, "dynamic NEXT sees %s", keys());
    rc = scroll(SQL_FETCH_FIRST, 0);
    CHECK(strcmp(keys(), "0 1 2") == 0, "dynamic FIRST sees %s", keys());
}

/* ---- 3. SQLSetPos -------------------------------------------------------------------------- */

static void setPos(void) {
    SQLRETURN rc;
    SQLCHAR v[21];
    SQLLEN ind;
    SQLUSMALLINT operations[3] = {SQL_ROW_PROCEED, SQL_ROW_IGNORE, SQL_ROW_PROCEED};
    fillTable(10);
    rc = openCursor(SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK, 0);
    CHECK(rc == SQL_SUCCESS, "open keyset lock: %s", stateOf(SQL_HANDLE_STMT, st));
    rc = scroll(SQL_FETCH_FIRST, 0);
    rc = SQLSetPos(st, 2, SQL_POSITION, SQL_LOCK_NO_CHANGE);
    CHECK(rc == SQL_SUCCESS, "position 2: %s", stateOf(SQL_HANDLE_STMT, st));
    rc = SQLGetData(st, 2, SQL_C_CHAR, v, sizeof v, &ind);
    CHECK(rc == SQL_SUCCESS && strcmp((const char*)v, "v2") == 0, "SQLGetData on row 2: %d %s", rc, v);

    setValue(1, "mine");
    rc = SQLSetPos(st, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
    CHECK(rc == SQL_SUCCESS, "update 2: %s", stateOf(SQL_HANDLE_STMT, st));
    CHECK(status[1] == SQL_ROW_UPDATED, "update 2 status %s", statuses());
    CHECK(strcmp(otherReads(2), "mine") == 0, "the other reads %s", otherReads(2));

    run(ost, "update t set v = 'theirs' where id = 2");
    rc = SQLSetPos(st, 2, SQL_REFRESH, SQL_LOCK_NO_CHANGE);
    CHECK(rc == SQL_SUCCESS && strcmp((const char*)valueAt(1), "theirs") == 0, "refresh 2: %d %s", rc,
          (const char*)valueAt(1));

    rc = SQLSetPos(st, 3, SQL_DELETE, SQL_LOCK_NO_CHANGE);
    CHECK(rc == SQL_SUCCESS && status[2] == SQL_ROW_DELETED, "delete 3: %d %s", rc, statuses());
    CHECK(otherReads(3)[0] == 0, "row 3 still there");

    if (odbc3) {
        /* Every row, with row 2 ignored: rows 1 (and 3, deleted) pass, row 2 stays. */
        SQLSetStmtAttr(st, SQL_ATTR_ROW_OPERATION_PTR, operations, 0);
        setValue(0, "all");
        setValue(1, "ignored");
        rc = SQLSetPos(st, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
        CHECK(SQL_SUCCEEDED(rc), "update every row: %d %s", rc, stateOf(SQL_HANDLE_STMT, st));
        CHECK(strcmp(otherReads(1), "all") == 0 && strcmp(otherReads(2), "theirs") == 0, "row 2 touched: %s",
              otherReads(2));
        SQLSetStmtAttr(st, SQL_ATTR_ROW_OPERATION_PTR, NULL, 0);
    }
}

/* ---- 4. SQLBulkOperations ------------------------------------------------------------------ */

static void bulkOperations(void) {
    SQLRETURN rc;
    int i;
    fillTable(10);
    rc = openCursor(SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK, 1);
    CHECK(rc == SQL_SUCCESS, "open for bulk: %s", stateOf(SQL_HANDLE_STMT, st));
    rc = scroll(SQL_FETCH_FIRST, 0);
    for (i = 0; i < 3; ++i) {
        *keyAt(i) = 20 + i;
        setValue(i, "added");
    }
    rc = SQLBulkOperations(st, SQL_ADD);
    CHECK(rc == SQL_SUCCESS, "SQL_ADD: %d %s", rc, stateOf(SQL_HANDLE_STMT, st));
    CHECK(strcmp(statuses(), "444") == 0, "SQL_ADD statuses %s", statuses());
    rc = openCursor(SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_LOCK, 1);
    CHECK(rowCount() == 13, "after the add %ld rows", (long)rowCount());

    /* Update and delete by bookmarks 3, 1, 2 of rows 1-3; the key column is not written. */
    rc = scroll(SQL_FETCH_FIRST, 0);
    setMarks(3, 1, 2);
    writeKeys(0);
    setValue(0, "for3");
    setValue(1, "for1");
    setValue(2, "for2");
    rc = SQLBulkOperations(st, SQL_UPDATE_BY_BOOKMARK);
    CHECK(rc == SQL_SUCCESS && strcmp(statuses(), "222") == 0, "update by bookmark: %d %s %s", rc, statuses(),
          stateOf(SQL_HANDLE_STMT, st));
    CHECK(strcmp(otherReads(3), "for3") == 0 && strcmp(otherReads(1), "for1") == 0, "updated rows read %s %s",
          otherReads(3), otherReads(1));

    rc = scroll(SQL_FETCH_ABSOLUTE, 4);
    setMarks(6, 4, 5);
    rc = SQLBulkOperations(st, SQL_DELETE_BY_BOOKMARK);
    CHECK(rc == SQL_SUCCESS && strcmp(statuses(), "111") == 0, "delete by bookmark: %d %s", rc, statuses());
    CHECK(otherReads(4)[0] == 0 && otherReads(6)[0] == 0, "deleted rows still there");

    /* Fetch by bookmark: in the bookmarks' order, a row the other deleted marked deleted. */
    rc = scroll(SQL_FETCH_ABSOLUTE, 7);
    run(ost, "delete from t where id = 8");
    setMarks(9, 7, 8);
    writeKeys(1);
    clearRowset();
    rc = SQLBulkOperations(st, SQL_FETCH_BY_BOOKMARK);
    CHECK(rc == SQL_SUCCESS, "fetch by bookmark: %d %s", rc, stateOf(SQL_HANDLE_STMT, st));
    CHECK(strcmp(keys(), "9 7 -") == 0 && strcmp(statuses(), "001") == 0, "fetch by bookmark %s %s", keys(),
          statuses());
}

/* ---- 5. optimistic concurrency and row versions -------------------------------------------- */

static void valuesConcurrency(void) {
    SQLRETURN rc;
    const char* conflict = odbc3 ? "01001" : "01S03";
    fillTable(10);
    rc = openCursor(SQL_CURSOR_KEYSET_DRIVEN, SQL_CONCUR_VALUES, 1);
    CHECK(rc == SQL_SUCCESS, "open values: %s", stateOf(SQL_HANDLE_STMT, st));
    rc = scroll(SQL_FETCH_FIRST, 0);
    run(ost, "update t set v = 'theirs' where id = 2");
    setValue(1, "mine");
    rc = SQLSetPos(st, 2, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
    CHECK(rc == SQL_ERROR && hasState(st, conflict), "conflict on row 2: %d %s", rc, stateOf(SQL_HANDLE_STMT, st));
    CHECK(status[1] == SQL_ROW_ERROR, "row 2 status %s", statuses());
    CHECK(strcmp(otherReads(2), "theirs") == 0, "row 2 changed to %s", otherReads(2));

    /* Every row, after a new fetch: row 2 changed under it again. */
    rc = scroll(SQL_FETCH_FIRST, 0);
    run(ost, "update t set v = 'again' where id = 2");
    setValue(0, "mine");
    setValue(1, "mine");
    setValue(2, "mine");
    rc = SQLSetPos(st, 0, SQL_UPDATE, SQL_LOCK_NO_CHANGE);
    /* Some rows of many changed: ODBC 2 names that (01S04), ODBC 3 the conflict. */
    CHECK(rc == SQL_SUCCESS_WITH_INFO && hasState(st, odbc3 ? "01001" : "01S04"), "every row: %d %s", rc,
          stateOf(SQL_HANDLE_STMT, st));
    CHECK(strcmp(statuses(), "252") == 0, "every row statuses %s", statuses());

    if (odbc3) {
        int i;
        rc = scroll(SQL_FETCH_ABSOLUTE, 4);
        run(ost, "update t set v = 'theirs' where id = 5");
        setMarks(4, 5, 6);
        writeKeys(0);
        for (i = 0; i < 3; ++i)
            setValue(i, "bybm");
        rc = SQLBulkOperations(st, SQL_UPDATE_BY_BOOKMARK);
        CHECK(rc == SQL_SUCCESS_WITH_INFO && strcmp(statuses(), "252") == 0, "conflict by bookmark: %d %s", rc,
              statuses());
        CHECK(strcmp(otherReads(5), "theirs") == 0, "row 5 changed to %s", otherReads(5));
    }
}

static void rowVersions(void) {
    SQLHSTMT vs;
    SQLRETURN rc;
    SQLINTEGER k[3];
    SQLLEN kInd[3];
    fillTable(10);
    run(ost, "drop table if exists KVRRVC");
    /* No unique index: the other user can put a second line beside one of ours. */
    run(ost, "create table KVRRVC (HCONN char(8) not null, HCURS char(8) not null, "
             "KEYVER char(32) not null, ROWVER char(32) not null)");
    versioned = connectTo(";DYN_CURS_SENSITIVITY=HIGH");
    SQLAllocHandle(SQL_HANDLE_STMT, versioned, &vs);
    if (odbc3) {
        SQLSetStmtAttr(vs, SQL_ATTR_CURSOR_TYPE, (SQLPOINTER)SQL_CURSOR_DYNAMIC, 0);
        SQLSetStmtAttr(vs, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)3, 0);
    } else {
        SQLSetStmtOption(vs, SQL_CURSOR_TYPE, SQL_CURSOR_DYNAMIC);
        SQLSetStmtOption(vs, SQL_ROWSET_SIZE, 3);
    }
    SQLBindCol(vs, 1, SQL_C_SLONG, k, 0, kInd);
    rc = SQLExecDirect(vs, (SQLCHAR*)"select id from t order by id", SQL_NTS);
    CHECK(rc == SQL_SUCCESS, "open versioned: %s", stateOf(SQL_HANDLE_STMT, vs));
    rc = odbc3 ? SQLFetchScroll(vs, SQL_FETCH_FIRST, 0) : SQLExtendedFetch(vs, SQL_FETCH_FIRST, 0, NULL, NULL);
    CHECK(rc == SQL_SUCCESS, "first versioned fetch: %d %s", rc, stateOf(SQL_HANDLE_STMT, vs));
    run(ost, "insert into KVRRVC select * from KVRRVC");
    rc = odbc3 ? SQLFetchScroll(vs, SQL_FETCH_RELATIVE, 0) : SQLExtendedFetch(vs, SQL_FETCH_RELATIVE, 0, NULL, NULL);
    CHECK(rc == SQL_ERROR && hasState(vs, odbc3 ? "HY000" : "S1000"), "duplicated line: %d %s", rc,
          stateOf(SQL_HANDLE_STMT, vs));
    SQLFreeHandle(SQL_HANDLE_STMT, vs);
    SQLDisconnect(versioned);
    SQLFreeHandle(SQL_HANDLE_DBC, versioned);
}

/* ---- 6. what the library cannot key --------------------------------------------------------- */

static void refusals(void) {
    SQLRETURN rc;
    SQLULEN type = 0;
    run(ost, "drop table if exists nokey");
    run(ost, "create table nokey (a integer, b varchar(10))");
    run(ost, "insert into nokey values (1, 'x')");
    SQLFreeStmt(st, SQL_CLOSE);
    SQLFreeStmt(st, SQL_UNBIND);
    setOption(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
    setOption(SQL_ATTR_CONCURRENCY, SQL_CONCURRENCY, SQL_CONCUR_READ_ONLY);
    setOption(SQL_ATTR_USE_BOOKMARKS, SQL_USE_BOOKMARKS, SQL_UB_OFF);
    rc = SQLExecDirect(st, (SQLCHAR*)"select a, b from nokey", SQL_NTS);
    CHECK(rc == SQL_SUCCESS_WITH_INFO && hasState(st, "01S02"), "key-less keyset: %d %s", rc,
          stateOf(SQL_HANDLE_STMT, st));
    if (odbc3)
        SQLGetStmtAttr(st, SQL_ATTR_CURSOR_TYPE, &type, 0, NULL);
    else
        SQLGetStmtOption(st, SQL_CURSOR_TYPE, &type);
    CHECK(type == SQL_CURSOR_STATIC, "key-less keyset became %lu", (unsigned long)type);

    SQLFreeStmt(st, SQL_CLOSE);
    setOption(SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN);
    rc = SQLExecDirect(st, (SQLCHAR*)"select v, count(*) from t group by v", SQL_NTS);
    CHECK(rc == SQL_ERROR && hasState(st, "IM913"), "keyset over GROUP BY: %d %s", rc, stateOf(SQL_HANDLE_STMT, st));
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: acceptance DRIVER DATABASE 2|3 column|row\n");
        return 2;
    }
    driver = argv[1];
    database = argv[2];
    odbc3 = strcmp(argv[3], "3") == 0;
    rowWise = strcmp(argv[4], "row") == 0;
    remove(database);
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)(odbc3 ? SQL_OV_ODBC3 : SQL_OV_ODBC2), 0);
    me = connectTo("");
    other = connectTo("");
    SQLAllocHandle(SQL_HANDLE_STMT, me, &st);
    SQLAllocHandle(SQL_HANDLE_STMT, other, &ost);

    scrollTenRows(SQL_CURSOR_STATIC);
    scrollTenRows(SQL_CURSOR_KEYSET_DRIVEN);
    otherUsersChanges();
    setPos();
    if (odbc3)
        bulkOperations();
    valuesConcurrency();
    rowVersions();
    refusals();

    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLFreeHandle(SQL_HANDLE_STMT, ost);
    SQLDisconnect(me);
    SQLDisconnect(other);
    SQLFreeHandle(SQL_HANDLE_DBC, me);
    SQLFreeHandle(SQL_HANDLE_DBC, other);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    printf("%s: %d failures\n", failures == 0 ? "ok" : "FAILED", failures);
    return failures == 0 ? 0 : 1;
}
