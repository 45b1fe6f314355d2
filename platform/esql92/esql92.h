/*
 * esql92.h: the embedded SQL-92 client API that the database agent calls (tpe_* and
 * PRO_SQLDA_*), with its record layouts.
 *
 * Linux has no vendor client, so this library is our own. It carries two back-ends behind
 * the same calls:
 *   - the SQLite back-end (the default, what users run): an embedded server that keeps each
 *     database in one SQLite file;
 *   - the scripted back-end (library esql92_scripted, header esql92_script.h): a fake for unit
 *     tests of the agent, which answers from a script and records every tpe_* call.
 * A test switches back-ends at run time by creating an esql92::Script object; the production
 * libraries never link the scripted back-end.
 *
 * Conventions of every tpe_* call:
 *   - The SQLCA is the caller's record and the last argument. Each call first resets it and
 *     then reports its outcome there: sqlcode 0 (success), 100 (no more rows) or a negative
 *     native code, with message and SQLSTATE. The call also returns the sqlcode. A null SQLCA
 *     is allowed; the outcome is then only the return value.
 *   - One failure can carry several messages. The SQLCA holds the first; tpe_sqlc_clear
 *     replaces it with the next one and, after the last, clears the SQLCA (sqlcode 0). The
 *     pending messages live inside the library (the SQLCA holds no pointer and may be copied);
 *     they are dropped when the SQLCA is passed to another call, when the same connection
 *     fails again, or when it disconnects.
 *   - Handles are opaque values checked on every call; a stale or foreign handle gets an
 *     error, never a crash.
 *   - Calls on different connections may run on different threads; the calls of one
 *     connection are serialised by the library.
 *
 * The target of tpe_sqlconnect is "progress:T:<host>:<service>:<db>". <db> names the SQLite
 * file (absolute, or relative to the working directory); host and service are accepted and
 * ignored; a missing file is created. The file is the schema PUB, so PUB.t and t name the same
 * table; the system catalog (SYSPROGRESS.* and PUB."_File", "_Field", "_Index",
 * "_Index-Field") is read from SQLite's own schema. The file runs in WAL mode with a busy
 * timeout of 5 seconds, so that several connections, in this process or others, share it:
 * readers never wait for a writer; a writer waits for another process's write transaction,
 * while one held by another connection of this process fails it at once with 40001 (that
 * holder could not commit while a caller that serialises its calls waits); and a transaction
 * whose snapshot another connection has changed meanwhile fails with 40001.
 *
 * The SQLite back-end speaks the server's dialect: its scalar functions and DECODE,
 * convert(SQL_xxx, v), TOP n, SYSDATE / SYSTIME / SYSTIMESTAMP, and dates and times as text in
 * the literal forms below. CREATE TABLE and ALTER TABLE ADD keep the server's column types:
 * every write checks the lengths of CHARACTER, VARCHAR, BINARY and VARBINARY (in bytes, 22001)
 * and the ranges of the integer types and of NUMERIC (22003); NUMERIC columns hold exact
 * decimal text compared by value; CHARACTER columns compare without trailing blanks. Not
 * supported: the (+) outer-join marker (42000; write LEFT OUTER JOIN), WHERE CURRENT OF,
 * stored procedures, arithmetic on dates (use the date functions), and case mapping beyond
 * ASCII in ucase and lcase.
 */
#ifndef VARNO_ESQL92_H
#define VARNO_ESQL92_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------------------------
 * SQLCA: 1552 bytes, copied by value, no owned pointers.
 * ---------------------------------------------------------------------------------------- */
#define ESQL_SQLCA_SIZE    1552
#define ESQL_MESSAGE_MAX    880 /* bytes of sqlerrmc, the terminating NUL included */

typedef struct esql_sqlca {
    char     sqlcaid[8];                  /*   0: "SQLCA   " */
    int32_t  sqlcabc;                     /*   8: ESQL_SQLCA_SIZE */
    int32_t  sqlcode;                     /*  12: 0 ok, 100 no more rows, < 0 native error code */
    int32_t  sqlerrml;                    /*  16: message length in bytes, NUL not counted */
    char     sqlerrmc[ESQL_MESSAGE_MAX];  /*  20: message text, UTF-8, NUL-terminated */
    char     sqlwarn[8];                  /* 900: [0] 'W' when any warning is set;
                                                  [1] 'W' a fetched text or binary value was cut */
    char     sqlstate[6];                 /* 908: SQLSTATE, five characters and a NUL */
    char     reserved1[6];                /* 914 */
    int64_t  sqlrows;                     /* 920: row count: rows affected by tpe_sqlexecute,
                                                  rows fetched by tpe_sqlfetch (also with 100) */
    uint64_t sqlmsgq;                     /* 928: the library's key of the pending messages */
    char     reserved2[616];              /* 936 */
} ESQL_SQLCA;

/* Clears the SQLCA and moves the next pending message of the last failure into it: sqlcode,
 * message and SQLSTATE of that message, or sqlcode 0 when none is left. */
void tpe_sqlc_clear(ESQL_SQLCA* sqlca);

/* Native codes of the library's own failures (SQLSTATE in brackets). SQLite failures carry
 * -(30000 + SQLite's extended result code) with the SQLSTATE they map to: 42S02 table not
 * found, 42S22 column not found, 42S01, 42S11, 42S12, 42S21 object exists / not found,
 * 42000 syntax error or access rule, 23000 constraint, 22001 value too long, 22003 numeric
 * value out of range, 22018 data type mismatch, 40001 busy or locked (the transaction lost a
 * race with another connection), 08001 cannot open the database, HY001 no memory, HY000
 * anything else. */
enum esql_native_code {
    ESQL_OK                  = 0,
    ESQL_NOT_FOUND           = 100,      /* no more rows */
    ESQL_ERR_NAME_IN_USE     = -20220,   /* [08002] the connection name is taken */
    ESQL_ERR_NO_CONNECTION   = -20221,   /* [08003] no such connection, or no current one */
    ESQL_ERR_CONNECT         = -20222,   /* [08001] bad target or the database cannot be opened */
    ESQL_ERR_NULL_ARGUMENT   = -20223,   /* [HY009] a required pointer or text is null */
    ESQL_ERR_CURSOR_HANDLE   = -20224,   /* [34000] the cursor handle is not (or no longer) known */
    ESQL_ERR_CURSOR_STATE    = -20225,   /* [24000] fetch on a cursor that is not open, open twice */
    ESQL_ERR_SEQUENCE        = -20226,   /* [HY010] call out of order (e.g. describe before prepare) */
    ESQL_ERR_SQLDA_KIND      = -20227,   /* [HY024] an SQLDA of the wrong kind for the call */
    ESQL_ERR_ATTRIBUTE       = -20228,   /* [HY024] unknown SQLDA attribute, or a getter or setter
                                                    of the wrong value type for it */
    ESQL_ERR_COLUMN_INDEX    = -20229,   /* [07009] SQLDA column number out of range */
    ESQL_ERR_PARAMETERS      = -20230,   /* [07001] fewer parameter values than markers */
    ESQL_ERR_BINDING         = -20231,   /* [HY090] a bound buffer is missing or too small */
    ESQL_ERR_NO_INDICATOR    = -20232,   /* [22002] a NULL value and no indicator array */
    ESQL_ERR_VALUE_TOO_LONG  = -20233,   /* [22001] a value does not fit its column or buffer */
    ESQL_ERR_OUT_OF_RANGE    = -20234,   /* [22003] a number does not fit its type, or a
                                                    REAL or FLOAT parameter is NaN */
    ESQL_ERR_BAD_NUMBER      = -20235,   /* [22018] a text is not a number of the type */
    ESQL_ERR_BAD_DATETIME    = -20236,   /* [22007] a text is not a date, time or timestamp */
    ESQL_ERR_STATEMENT       = -20237,   /* [42000] empty text, several statements, or a form the
                                                    server does not support (the (+) marker) */
    ESQL_ERR_LEVEL           = -20238,   /* [HY024] isolation level not in 0..3 */
    ESQL_ERR_MEMORY          = -20239,   /* [HY001] out of memory */
    ESQL_ERR_GENERAL         = -20240,   /* [HY000] anything else */
    ESQL_ERR_DATABASE_GONE   = -20241,   /* [08S01] the database file was deleted or replaced
                                                    under the connection: a commit of writes
                                                    fails and rolls back */
    ESQL_ERR_BAD_TEXT        = -20242    /* [22018] a statement or text parameter is not valid
                                                    in the client's code page (UTF-8 that is
                                                    not well-formed); nothing is run or stored */
};

/* ------------------------------------------------------------------------------------------
 * Connections and transactions
 * ---------------------------------------------------------------------------------------- */
typedef struct pro_sqlda PRO_SQLDA;     /* see "SQLDA" below */
typedef struct esql_dbhdl* ESQL_DBHDL;   /* database handle of one connection */
typedef struct esql_tmhdl* ESQL_TMHDL;   /* transaction-manager handle of one connection */

/* Opens a connection under a process-unique name and makes it current. target as above;
 * user and password may be null (the SQLite back-end checks neither; user() answers user);
 * reserved must be null. A name already in use fails with ESQL_ERR_NAME_IN_USE (-20220). */
int tpe_sqlconnect(const char* target, const char* name, const char* user,
                   const char* password, void* reserved, ESQL_SQLCA* sqlca);

/* The client code page of the current connection, as the vendor's client is told its own:
 * ESQL_CODEPAGE_UTF8 (the default, the server's own) or ESQL_CODEPAGE_ISO8859_1, names
 * compared without case. Under ISO8859-1 every text that crosses the library is converted at
 * its boundary, both ways: statement texts and text parameter values arrive in it; fetched
 * text values, described names and messages leave in it, a character it lacks as '?'. Under
 * UTF-8 nothing is converted, and a statement text or text parameter value that is not
 * well-formed UTF-8 fails with ESQL_ERR_BAD_TEXT (22018). An unknown name fails with
 * ESQL_ERR_GENERAL and leaves the code page as it was. */
#define ESQL_CODEPAGE_UTF8       "UTF-8"
#define ESQL_CODEPAGE_ISO8859_1  "ISO8859-1"
int tpe_set_client_codepage(const char* codepage, ESQL_SQLCA* sqlca);

/* Handles of the current connection; null when there is none. */
ESQL_DBHDL tpe_get_curdbhdl(void);
ESQL_TMHDL tpe_get_curtmhdl(void);

#define ESQL_DISCONNECT_NAMED    0   /* the connection called name */
#define ESQL_DISCONNECT_CURRENT  1   /* the current connection (name ignored) */
#define ESQL_DISCONNECT_ALL      2   /* every connection of the process (name ignored) */
/* Closes connections: an open transaction is rolled back, every cursor of the connection is
 * freed (also those never closed), its handles become invalid. Disconnecting the current
 * connection leaves no current connection. */
int tpe_sql_disconnect(int scope, const char* name, ESQL_SQLCA* sqlca);

/* Makes the named connection current. */
int tpe_sql_setconnection(const char* name, ESQL_SQLCA* sqlca);

/* Transactions are implicit: the first statement after an end begins one. tpe_tm_end_trans
 * commits it, or rolls it back when tpe_tm_mark_abort marked it; either way the mark is
 * cleared and the next statement begins a new transaction. Without an open transaction both
 * succeed and do nothing. A failed statement does not end the transaction. Open cursors stay
 * open across the end of a transaction. */
int tpe_tm_end_trans(ESQL_TMHDL tm, ESQL_SQLCA* sqlca);
int tpe_tm_mark_abort(ESQL_TMHDL tm, ESQL_SQLCA* sqlca);

/* Isolation level of the current connection: 0 read uncommitted, 1 read committed (the
 * default), 2 repeatable read, 3 serializable. The level is kept and reported; SQLite runs
 * every transaction serializable. tpe_tm_get_level answers -1 without a current connection. */
int tpe_tm_set_level(int level, ESQL_SQLCA* sqlca);
int tpe_tm_get_level(void);

/* ------------------------------------------------------------------------------------------
 * Cursors and statements
 * ---------------------------------------------------------------------------------------- */
typedef struct esql_curhdl* ESQL_CURHDL;   /* one cursor (one statement) of a connection */

#define ESQL_IDENTITY_SIZE 16
#define ESQL_CURSOR_DYNAMIC 1   /* the only kind: a cursor over a statement text */

/* Creates the cursor with this identity on the connection, or sets up the existing one again
 * (the agent does so after an end of transaction): the cursor is closed and takes the text,
 * and its handle stays the same. kind must be ESQL_CURSOR_DYNAMIC. The text is copied.
 * There is no call that frees a cursor: a connection frees its cursors when it disconnects,
 * and keeps at most 4096 of them, so that a cursor unused while 4096 others were set up is
 * freed and its handle answers 34000. (Of those, the 128 most recently used keep SQLite's
 * compiled statement; the others compile again when used.) */
int tpe_set_cursor(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL* cursor,
                   const unsigned char identity[ESQL_IDENTITY_SIZE], int kind,
                   const char* text, ESQL_SQLCA* sqlca);

/* Names the cursor (kept; the SQLite back-end does not support WHERE CURRENT OF). */
int tpe_set_cursorname(ESQL_CURHDL cursor, const char* name, ESQL_SQLCA* sqlca);

/* Prepares the cursor's text: the server's dialect is translated (scalar functions, DECODE,
 * convert(SQL_xxx, v), TOP n, the date and time literal forms) and the result columns and
 * parameters are described. One statement per text; a trailing ';' is allowed. */
int tpe_sqlprepare(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, ESQL_SQLCA* sqlca);

/* Fill an SQLDA with the description of the result columns (an output SQLDA) or of the
 * parameters (an input SQLDA). The count (DA attribute 2) is set; when the SQLDA has fewer
 * columns allocated than needed, the count is minus the number needed, no column is filled
 * and the call succeeds. A statement without result columns describes 0 columns.
 * Parameters are described as VARCHAR(31982), nullable; the server coerces them. */
int tpe_sqldescribe(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* sqlda,
                    ESQL_SQLCA* sqlca);
int tpe_sqldescribe_input(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* sqlda,
                          ESQL_SQLCA* sqlca);

/* Declare keeps the input SQLDA (may be null when the statement has no parameters) for the
 * open; an input SQLDA given to tpe_sqlopen replaces it. Open begins a transaction when none
 * is open, binds the first parameter row and runs the query up to its first row, so that
 * errors surface here. Opening an open cursor fails (24000). */
int tpe_sqldeclare(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in_sqlda,
                   ESQL_SQLCA* sqlca);
int tpe_sqlopen(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in_sqlda,
                ESQL_SQLCA* sqlca);

/* Runs a statement that returns no rows, once per parameter row of the input SQLDA (DA
 * attribute 6, at least 1); sqlrows holds the rows affected in total. Begins a transaction
 * when none is open. When a row fails, the rows before it keep their effect and sqlrows
 * counts them. A query given here runs to its first row and returns nothing. */
int tpe_sqlexecute(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in_sqlda,
                   ESQL_SQLCA* sqlca);

/* Fetches up to DA attribute 6 rows (at least 1) into the bound columns of the output SQLDA,
 * column by column: row r of column c goes to data(c) + r * length(c), its indicator to
 * indicator(c)[r]. sqlrows holds the rows fetched; when the result ends within the block the
 * code is 100 and sqlrows still counts the rows delivered. A NULL sets the indicator to -1;
 * a text or binary value cut to its buffer sets the indicator to its full length in bytes
 * and sqlwarn[1]; any other value sets 0. On a cursor that is not open: 24000. */
int tpe_sqlfetch(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* out_sqlda,
                 ESQL_SQLCA* sqlca);

/* Closes the cursor; it stays prepared and can be opened or executed again. Closing a cursor
 * that is not open succeeds. */
int tpe_sqlclose(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, ESQL_SQLCA* sqlca);

/* ------------------------------------------------------------------------------------------
 * SQLDA: an opaque area of columns. Output areas receive result columns, input areas carry
 * parameter values. The buffers and indicator arrays set in an SQLDA stay the caller's; they
 * must stay valid while the library uses them (until the next bind or the end of the call).
 * ---------------------------------------------------------------------------------------- */
#define ESQL_SQLDA_INPUT    0    /* parameters */
#define ESQL_SQLDA_OUTPUT   41   /* result columns */

/* A new SQLDA with room for columns (0 allowed) of the kind above; null for another kind or
 * on no memory. */
PRO_SQLDA* PRO_SQLDA_Allocate(uint32_t columns, int kind);
void PRO_SQLDA_Deallocate(PRO_SQLDA* sqlda);   /* null is ignored */

/* Attributes of the whole area (DA) and of one column (Col, numbered from 1). The suffix names
 * the C type of the value; each attribute has one type and answers ESQL_ERR_ATTRIBUTE to the
 * others. Getters return values through the out pointer. */
enum esql_da_attribute {
    ESQL_DA_ALLOCATED = 1,   /* u32, read only: columns allocated */
    ESQL_DA_COUNT     = 2,   /* u32: columns described; a too-small area holds minus the count
                                needed, read it as (int32_t) */
    ESQL_DA_KIND      = 3,   /* u32, read only: ESQL_SQLDA_INPUT or ESQL_SQLDA_OUTPUT */
    ESQL_DA_ROWS      = 6,   /* u32: rows per fetch (output) or parameter rows (input);
                                default 1 */
    /* Input: where the area's rows lie in a larger parameter array sent in parts, for the
     * number of a failing row in messages: the rows of the array before the area's first
     * (default 0) and the rows of the whole array (default 0: the area's own). */
    ESQL_DA_ROWS_BEFORE = 7, /* u32 */
    ESQL_DA_ROWS_TOTAL  = 8  /* u32 */
};
enum esql_col_attribute {
    ESQL_COL_DATA      = 1,   /* void*: buffer of rows x length bytes */
    ESQL_COL_LENGTH    = 2,   /* u32: element length in bytes (see the layouts below) */
    ESQL_COL_TYPE      = 3,   /* i32: server type code */
    ESQL_COL_PRECISION = 4,   /* u32: precision, or the declared length of text and binary */
    ESQL_COL_SCALE     = 5,   /* i16: scale (NUMERIC; 3 for TIMESTAMP) */
    ESQL_COL_INDICATOR = 7,   /* i32*: one indicator per row; -1 NULL; in an input area
                                 a positive indicator of a CHARACTER or VARCHAR parameter is
                                 its byte length (at most the element's), so that a NUL
                                 inside the text is kept; 0 reads the text up to its NUL */
    ESQL_COL_NAME      = 8,   /* char*, read only: column name ("" for an unnamed
                                 expression), valid while the SQLDA lives */
    ESQL_COL_NULLABLE  = 9,   /* i16, read only: 1 may be NULL, 0 never NULL */
    ESQL_COL_UPDATABLE = 10,  /* i16, read only: 0 read only, 1 writable, 2 unknown */
    ESQL_COL_DIRECTION = 19   /* i16: 1 input, 2 input/output, 4 output (parameters) */
};

int PRO_SQLDA_Get_DA_Attribute_dh_u32_t(PRO_SQLDA* sqlda, int attribute, uint32_t* value,
                                        ESQL_SQLCA* sqlca);
int PRO_SQLDA_Set_DA_Attribute_dh_u32_t(PRO_SQLDA* sqlda, int attribute, uint32_t value,
                                        ESQL_SQLCA* sqlca);

int PRO_SQLDA_Get_Col_Attribute_dh_i32_t(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                         int32_t* value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Get_Col_Attribute_dh_u32_t(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                         uint32_t* value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Get_Col_Attribute_dh_i16_t(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                         int16_t* value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Get_Col_Attribute_void_p(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                       void** value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Get_Col_Attribute_dh_i32_t_p(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                           int32_t** value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Get_Col_Attribute_char_p(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                       const char** value, ESQL_SQLCA* sqlca);

int PRO_SQLDA_Set_Col_Attribute_dh_i32_t(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                         int32_t value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Set_Col_Attribute_dh_u32_t(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                         uint32_t value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Set_Col_Attribute_dh_i16_t(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                         int16_t value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Set_Col_Attribute_void_p(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                       void* value, ESQL_SQLCA* sqlca);
int PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(PRO_SQLDA* sqlda, int attribute, uint32_t column,
                                           int32_t* value, ESQL_SQLCA* sqlca);

/* ------------------------------------------------------------------------------------------
 * Server types and their element layouts (one element per row in an SQLDA buffer). Integer
 * fields are in the machine's byte order. Described lengths are the element lengths below;
 * a fetch writes into whatever length the caller set:
 *   - BIT, TINYINT, SMALLINT, INTEGER, BIGINT: a signed integer as wide as the element
 *     (1, 2, 4 or 8 bytes); REAL, FLOAT: a float (4) or double (8) by the element length;
 *   - CHARACTER, VARCHAR: NUL-terminated UTF-8 text; described length = declared length + 1
 *     (the declared length counts bytes); CHARACTER comes back padded with blanks;
 *   - BINARY, VARBINARY: an i32 byte count, then the bytes; described length = the declared
 *     length (the caller binds elements of up to ESQL_BINARY_ELEMENT bytes); BINARY comes
 *     back padded with zero bytes;
 *   - DATE, TIME, TIMESTAMP, NUMERIC: the structures below.
 * A NUMERIC or BIGINT column bound (ESQL_COL_TYPE set) as CHARACTER or VARCHAR receives its
 * value's decimal text as esql92_value_to_text writes it, NUMERIC at the column's precision
 * and scale with the refusals of its type (22003 for a value it cannot hold).
 * In the database DATE, TIME and TIMESTAMP are text in the server's literal forms
 * 'YYYY/MM/DD', 'HH:MM:SS' and 'YYYY/MM/DD HH:MM:SS:mmm' (reading also accepts '-' in dates
 * and '.' before the milliseconds); NUMERIC is exact decimal text.
 * ---------------------------------------------------------------------------------------- */
enum esql_server_type {
    ESQL_CHARACTER = 1,
    ESQL_NUMERIC   = 2,
    ESQL_INTEGER   = 4,
    ESQL_SMALLINT  = 5,
    ESQL_REAL      = 7,
    ESQL_FLOAT     = 8,
    ESQL_VARCHAR   = 12,
    ESQL_DATE      = 91,
    ESQL_TIME      = 92,
    ESQL_TIMESTAMP = 93,
    ESQL_BINARY    = -2,
    ESQL_VARBINARY = -3,
    ESQL_TINYINT   = -6,
    ESQL_BIT       = -7,
    ESQL_BIGINT    = -8
};

#define ESQL_BINARY_ELEMENT 32000   /* the largest binary element: i32 count + 31996 bytes */
#define ESQL_VARCHAR_MAX    31982   /* the longest VARCHAR */
#define ESQL_NUMERIC_DIGITS 50      /* the largest NUMERIC precision */

typedef struct esql_date {        /* 4 bytes */
    int16_t year;
    uint8_t month;
    uint8_t day;
} ESQL_DATE_VALUE;

typedef struct esql_time {        /* 6 bytes */
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t zero[3];
} ESQL_TIME_VALUE;

typedef struct esql_timestamp {   /* 10 bytes */
    int16_t  year;
    uint8_t  month;
    uint8_t  day;
    uint8_t  hour;
    uint8_t  minute;
    uint8_t  second;
    uint8_t  zero;
    uint16_t millisecond;
} ESQL_TIMESTAMP_VALUE;

/* Packed NUMERIC, 30 bytes: value = (-1)^sign x D x 10^-scale, where D is the unsigned integer
 * whose ndigits decimal digits (most significant first, no leading zeros, 0 digits for zero)
 * are packed two per byte from digits[0], high nibble first. A fetch delivers the column's
 * scale (rounded half away from zero); precision is the column's. */
#define ESQL_NUMERIC_SIZE 30
typedef struct esql_numeric {
    uint8_t sign;        /* 0 positive or zero, 1 negative */
    uint8_t precision;   /* 1..50 */
    uint8_t scale;       /* 0..precision */
    uint8_t ndigits;     /* 0..52 */
    uint8_t digits[26];
} ESQL_NUMERIC_VALUE;

/* BIGINT element: 8 bytes, int64_t. */

/* The value-to-text conversion of the client for NUMERIC (30 bytes) and BIGINT (8 bytes):
 * writes the value as decimal text ("-12.50": a '-' for negatives, the scale's digits after a
 * '.', "0" before the point of a fraction) with a NUL into dst. format must be null or "".
 * Returns the text length, or -1 for another type, a bad source or a dst too small (dst then
 * holds an empty text when dstlen > 0). */
int esql92_value_to_text(int type, uint32_t srclen, const void* src, const char* format,
                         char* dst, uint32_t dstlen);

#ifdef __cplusplus
}
#endif

#endif /* VARNO_ESQL92_H */
