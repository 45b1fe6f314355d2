// The server's dialect on SQLite, per connection: the scalar functions that the driver's escape
// translation emits (and the others of the server's list that SQLite lacks), DECODE, the
// collation of NUMERIC columns, and the system catalog: the SYSPROGRESS tables and the PUB
// meta tables as views in the temp schema, read live from SQLite's own schema.
//
// Dates and times are text in the server's literal forms; English day and month names, no
// locale. Case mapping of ucase/lcase covers ASCII only.
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "platform/esql92/sqlite_internal.h"

namespace esql::lite {

namespace {

struct ConnInfo {
    std::string user;
    std::string dbName;
};

std::string argText(sqlite3_value* v) {
    const unsigned char* p = sqlite3_value_text(v);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}

bool anyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL)
            return true;
    return false;
}

void resultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

void fail(sqlite3_context* ctx, const char* state, const std::string& text) {
    std::string msg = std::string("[") + state + "] " + text;
    sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

// UTF-8 helpers: positions count characters.
size_t charCount(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

// Byte offset of character index k (clamped to the end).
size_t byteOffset(const std::string& s, size_t k) {
    size_t i = 0;
    while (i < s.size() && k > 0) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80)
            ++i;
        --k;
    }
    return i;
}

// ---------------------------------------------------------------------------------------
// Dates and times.

DateTime now() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm lt;
    localtime_r(&ts.tv_sec, &lt);
    DateTime v;
    v.year = lt.tm_year + 1900;
    v.month = lt.tm_mon + 1;
    v.day = lt.tm_mday;
    v.hour = lt.tm_hour;
    v.minute = lt.tm_min;
    v.second = lt.tm_sec;
    v.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return v;
}

void fnSysdate(sqlite3_context* ctx, int, sqlite3_value**) { resultText(ctx, formatDateTime(now(), DtKind::Date)); }
void fnSystime(sqlite3_context* ctx, int, sqlite3_value**) { resultText(ctx, formatDateTime(now(), DtKind::Time)); }
void fnSystimestamp(sqlite3_context* ctx, int, sqlite3_value**) {
    resultText(ctx, formatDateTime(now(), DtKind::Timestamp));
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int dayOfWeek(const DateTime& v) {   // 1 Sunday .. 7 Saturday
    int64_t days = daysFromCivil(v.year, v.month, v.day);
    int64_t w = (days + 4) % 7;   // 1970-01-01 was a Thursday
    if (w < 0)
        w += 7;
    return static_cast<int>(w) + 1;
}

int dayOfYear(const DateTime& v) {
    return static_cast<int>(daysFromCivil(v.year, v.month, v.day) - daysFromCivil(v.year, 1, 1)) + 1;
}

// A date part of the argument: NULL stays NULL, text that is not a date fails with 22007.
bool dateArg(sqlite3_context* ctx, sqlite3_value* arg, DtKind kind, DateTime& v) {
    if (sqlite3_value_type(arg) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return false;
    }
    std::string s = argText(arg);
    if (!parseDateTime(s.data(), s.size(), kind, v)) {
        fail(ctx, "22007", "'" + s + "' is not a valid " +
                               (kind == DtKind::Time ? "time" : kind == DtKind::Date ? "date" : "timestamp"));
        return false;
    }
    return true;
}

enum class Part { Year, Month, Day, DayOfWeek, DayOfYear, Week, Quarter, Hour, Minute, Second, DayName, MonthName };

template <Part P>
void fnDatePart(sqlite3_context* ctx, int, sqlite3_value** argv) {
    static const char* const days[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    static const char* const months[] = {"January", "February", "March", "April", "May", "June", "July",
                                         "August", "September", "October", "November", "December"};
    DateTime v;
    constexpr bool timePart = P == Part::Hour || P == Part::Minute || P == Part::Second;
    if (!dateArg(ctx, argv[0], timePart ? DtKind::Time : DtKind::Date, v))
        return;
    switch (P) {
    case Part::Year: sqlite3_result_int(ctx, v.year); break;
    case Part::Month: sqlite3_result_int(ctx, v.month); break;
    case Part::Day: sqlite3_result_int(ctx, v.day); break;
    case Part::DayOfWeek: sqlite3_result_int(ctx, dayOfWeek(v)); break;
    case Part::DayOfYear: sqlite3_result_int(ctx, dayOfYear(v)); break;
    case Part::Week: {
        DateTime jan1 = v;
        jan1.month = 1;
        jan1.day = 1;
        sqlite3_result_int(ctx, (dayOfYear(v) - 1 + dayOfWeek(jan1) - 1) / 7 + 1);
        break;
    }
    case Part::Quarter: sqlite3_result_int(ctx, (v.month - 1) / 3 + 1); break;
    case Part::Hour: sqlite3_result_int(ctx, v.hour); break;
    case Part::Minute: sqlite3_result_int(ctx, v.minute); break;
    case Part::Second: sqlite3_result_int(ctx, v.second); break;
    case Part::DayName: sqlite3_result_text(ctx, days[dayOfWeek(v) - 1], -1, SQLITE_STATIC); break;
    case Part::MonthName: sqlite3_result_text(ctx, months[v.month - 1], -1, SQLITE_STATIC); break;
    }
}

// ---------------------------------------------------------------------------------------
// Strings.

template <bool Upper>
void fnCase(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string s = argText(argv[0]);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x80)
            c = static_cast<char>(Upper ? std::toupper(static_cast<unsigned char>(c))
                                        : std::tolower(static_cast<unsigned char>(c)));
    resultText(ctx, s);
}

// left(s, n), right(s, n): the first or last n characters.
template <bool Left>
void fnSide(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string s = argText(argv[0]);
    int64_t n = sqlite3_value_int64(argv[1]);
    if (n < 0) {
        fail(ctx, "22011", "negative length " + std::to_string(n));
        return;
    }
    size_t len = charCount(s);
    size_t k = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(len)));
    if (Left)
        resultText(ctx, s.substr(0, byteOffset(s, k)));
    else
        resultText(ctx, s.substr(byteOffset(s, len - k)));
}

// insert(s, start, length, replacement): characters start..start+length-1 (from 1) replaced.
void fnInsert(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string s = argText(argv[0]), r = argText(argv[3]);
    int64_t start = sqlite3_value_int64(argv[1]), len = sqlite3_value_int64(argv[2]);
    if (start < 1 || len < 0) {
        fail(ctx, "22011", "invalid position or length in insert");
        return;
    }
    size_t chars = charCount(s);
    size_t b = byteOffset(s, static_cast<size_t>(std::min<int64_t>(start - 1, static_cast<int64_t>(chars))));
    size_t e = byteOffset(s, static_cast<size_t>(std::min<int64_t>(start - 1 + len, static_cast<int64_t>(chars))));
    resultText(ctx, s.substr(0, b) + r + s.substr(e));
}

void fnRepeat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string s = argText(argv[0]);
    int64_t n = sqlite3_value_int64(argv[1]);
    if (n < 0) {
        fail(ctx, "22011", "negative repeat count " + std::to_string(n));
        return;
    }
    if (static_cast<double>(s.size()) * static_cast<double>(n) > 1e8) {
        fail(ctx, "22001", "repeat result too long");
        return;
    }
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k)
        out += s;
    resultText(ctx, out);
}

void fnConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string out;
    for (int i = 0; i < argc; ++i)
        out += argText(argv[i]);
    resultText(ctx, out);
}

void fnAscii(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string s = argText(argv[0]);
    if (s.empty()) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_int(ctx, static_cast<unsigned char>(s[0]));
}

// locate(needle, haystack[, start]): character position from 1, 0 when absent.
void fnLocate(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (anyNull(argc, argv)) {
        sqlite3_result_null(ctx);
        return;
    }
    std::string needle = argText(argv[0]), hay = argText(argv[1]);
    int64_t start = argc > 2 ? sqlite3_value_int64(argv[2]) : 1;
    if (start < 1)
        start = 1;
    size_t from = byteOffset(hay, static_cast<size_t>(start - 1));
    size_t at = hay.find(needle, from);
    if (at == std::string::npos || from > hay.size()) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    sqlite3_result_int64(ctx, static_cast<int64_t>(charCount(hay.substr(0, at))) + 1);
}

void fnRand(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    thread_local std::mt19937_64 gen{std::random_device{}()};
    if (argc > 0 && sqlite3_value_type(argv[0]) != SQLITE_NULL)
        gen.seed(static_cast<uint64_t>(sqlite3_value_int64(argv[0])));
    sqlite3_result_double(ctx, std::generate_canonical<double, 53>(gen));
}

void fnUser(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* info = static_cast<ConnInfo*>(sqlite3_user_data(ctx));
    resultText(ctx, info->user);
}

void fnDbName(sqlite3_context* ctx, int, sqlite3_value**) {
    auto* info = static_cast<ConnInfo*>(sqlite3_user_data(ctx));
    resultText(ctx, info->dbName);
}

// ---------------------------------------------------------------------------------------
// DECODE(expr, search1, result1, ..., [default]): the first result whose search equals expr
// (NULL matches NULL), else the default, else NULL.

bool decodeEqual(sqlite3_value* a, sqlite3_value* b) {
    int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL)
        return ta == tb;
    bool na = ta == SQLITE_INTEGER || ta == SQLITE_FLOAT;
    bool nb = tb == SQLITE_INTEGER || tb == SQLITE_FLOAT;
    if (na && nb) {
        if (ta == SQLITE_INTEGER && tb == SQLITE_INTEGER)
            return sqlite3_value_int64(a) == sqlite3_value_int64(b);
        return sqlite3_value_double(a) == sqlite3_value_double(b);
    }
    if (na != nb) {
        // A number against a text: compare as numbers when the text is one.
        sqlite3_value* text = na ? b : a;
        sqlite3_value* num = na ? a : b;
        std::string s = argText(text);
        Decimal d;
        if (!parseDecimal(s.data(), s.size(), d))
            return false;
        std::string n = sqlite3_value_type(num) == SQLITE_INTEGER ? formatInt(sqlite3_value_int64(num))
                                                                  : formatReal(sqlite3_value_double(num));
        return compareDecimalText(s.data(), s.size(), n.data(), n.size()) == 0;
    }
    int la = sqlite3_value_bytes(a), lb = sqlite3_value_bytes(b);
    const void* pa = ta == SQLITE_BLOB ? sqlite3_value_blob(a) : static_cast<const void*>(sqlite3_value_text(a));
    const void* pb = tb == SQLITE_BLOB ? sqlite3_value_blob(b) : static_cast<const void*>(sqlite3_value_text(b));
    return la == lb && (la == 0 || std::memcmp(pa, pb, static_cast<size_t>(la)) == 0);
}

void fnDecode(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc < 3) {
        fail(ctx, "42000", "DECODE needs at least three arguments");
        return;
    }
    int k = 1;
    for (; k + 1 < argc; k += 2) {
        if (decodeEqual(argv[0], argv[k])) {
            sqlite3_result_value(ctx, argv[k + 1]);
            return;
        }
    }
    if (k < argc)
        sqlite3_result_value(ctx, argv[k]);
    else
        sqlite3_result_null(ctx);
}

// ---------------------------------------------------------------------------------------
// Catalog helpers: the server's view of a declared column type.

enum class TypeFact { Code, Name, Width, Scale };

// (declared type, column name, 1 when the column belongs to a catalog view)
template <TypeFact F>
void fnTypeFact(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string decl = argText(argv[0]);
    ColumnDesc d;
    bool ok = sqlite3_value_int(argv[2]) != 0 && catalogColumnType(argText(argv[1]), d);
    if (!ok)
        ok = !decl.empty() && parseDeclaredType(decl, d);
    if (!ok)
        d = describeType(ESQL_VARCHAR, 2000);
    switch (F) {
    case TypeFact::Code: sqlite3_result_int(ctx, catalogTypeCode(d.type)); break;
    case TypeFact::Name: sqlite3_result_text(ctx, catalogTypeName(d.type), -1, SQLITE_STATIC); break;
    case TypeFact::Width: sqlite3_result_int64(ctx, d.precision); break;
    case TypeFact::Scale: sqlite3_result_int(ctx, d.scale); break;
    }
}

int decimalCollation(void*, int an, const void* a, int bn, const void* b) {
    return compareDecimalText(static_cast<const char*>(a), static_cast<size_t>(an),
                              static_cast<const char*>(b), static_cast<size_t>(bn));
}

struct FunctionDef {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    bool deterministic;
};

const FunctionDef kFunctions[] = {
    {"sysdate", 0, fnSysdate, false},       {"curdate", 0, fnSysdate, false},
    {"systime", 0, fnSystime, false},       {"curtime", 0, fnSystime, false},
    {"systimestamp", 0, fnSystimestamp, false}, {"now", 0, fnSystimestamp, false},
    {"year", 1, fnDatePart<Part::Year>, true}, {"month", 1, fnDatePart<Part::Month>, true},
    {"dayofmonth", 1, fnDatePart<Part::Day>, true}, {"dayofweek", 1, fnDatePart<Part::DayOfWeek>, true},
    {"dayofyear", 1, fnDatePart<Part::DayOfYear>, true}, {"week", 1, fnDatePart<Part::Week>, true},
    {"quarter", 1, fnDatePart<Part::Quarter>, true}, {"hour", 1, fnDatePart<Part::Hour>, true},
    {"minute", 1, fnDatePart<Part::Minute>, true}, {"second", 1, fnDatePart<Part::Second>, true},
    {"dayname", 1, fnDatePart<Part::DayName>, true}, {"monthname", 1, fnDatePart<Part::MonthName>, true},
    {"ucase", 1, fnCase<true>, true},       {"lcase", 1, fnCase<false>, true},
    {"esql_left", 2, fnSide<true>, true},   {"esql_right", 2, fnSide<false>, true},
    {"esql_insert", 4, fnInsert, true},     {"repeat", 2, fnRepeat, true},
    {"concat", -1, fnConcat, true},         {"ascii", 1, fnAscii, true},
    {"locate", 2, fnLocate, true},          {"locate", 3, fnLocate, true},
    {"rand", 0, fnRand, false},             {"rand", 1, fnRand, false},
    {"decode", -1, fnDecode, true},
    {"esql_typecode", 3, fnTypeFact<TypeFact::Code>, true},
    {"esql_typename", 3, fnTypeFact<TypeFact::Name>, true},
    {"esql_width", 3, fnTypeFact<TypeFact::Width>, true},
    {"esql_scale", 3, fnTypeFact<TypeFact::Scale>, true},
};

void freeInfo(void* p) { delete static_cast<ConnInfo*>(p); }

// The catalog. esql_objects lists every table and view the catalog shows: the user's tables
// and views of the file (owner PUB) and the catalog views themselves (system tables).
const char kCatalogSql[] = R"SQL(
CREATE TEMP VIEW esql_objects AS
  SELECT s.rowid AS id, s.name AS name, 'PUB' AS owner,
         CASE s.type WHEN 'view' THEN 'V' ELSE 'T' END AS type, 'PUB' AS schema, 0 AS catalog
    FROM PUB.sqlite_schema s
   WHERE s.type IN ('table', 'view') AND s.name NOT LIKE 'sqlite\_%' ESCAPE '\'
  UNION ALL
  SELECT -s.rowid, s.name, CASE WHEN s.name LIKE '\_%' ESCAPE '\' THEN 'PUB' ELSE 'SYSPROGRESS' END,
         'S', 'temp', 1
    FROM temp.sqlite_schema s
   WHERE s.type = 'view' AND s.name NOT LIKE 'esql\_%' ESCAPE '\';

CREATE TEMP VIEW esql_columns AS
  SELECT o.id AS tid, o.name AS tbl, o.owner AS owner, o.schema AS schema, o.catalog AS catalog,
         c.cid AS cid, c.name AS col, c.type AS decl, c."notnull" AS nn, c.pk AS pk,
         c.dflt_value AS dflt
    FROM esql_objects o, pragma_table_info(o.name, o.schema) c;

CREATE TEMP VIEW esql_indexcols AS
  SELECT o.id AS tid, o.name AS tbl, il.seq AS iseq,
         CASE il.origin WHEN 'pk' THEN 'pk_' || o.name ELSE il.name END AS idxname,
         il."unique" AS isunique, ix.seqno AS seqno, ix.cid AS cid, ix.name AS col, ix."desc" AS isdesc
    FROM esql_objects o, pragma_index_list(o.name, 'PUB') il, pragma_index_xinfo(il.name, 'PUB') ix
   WHERE o.catalog = 0 AND o.type = 'T' AND ix.key = 1 AND ix.cid >= 0
  UNION ALL
  SELECT c.tid, c.tbl, -1, 'pk_' || c.tbl, 1, c.pk - 1, c.cid, c.col, 0
    FROM esql_columns c
   WHERE c.catalog = 0 AND c.pk > 0
     AND NOT EXISTS (SELECT 1 FROM pragma_index_list(c.tbl, 'PUB') p WHERE p.origin = 'pk');

CREATE TEMP VIEW "_File" AS
  SELECT id AS rowid, name AS "_File-Name", owner AS "_Owner", type AS "_Tbl-Type",
         CAST(NULL AS VARCHAR) AS "_Desc", CAST(NULL AS INTEGER) AS "_Prime-Index", 0 AS "_Hidden"
    FROM esql_objects;

CREATE TEMP VIEW "_Field" AS
  SELECT tid * 65536 + cid AS rowid, tid AS "_File-recid", col AS "_Field-Name",
         esql_typename(decl, col, catalog) AS "_Data-Type", esql_typecode(decl, col, catalog) AS "_dtype",
         esql_typename(decl, col, catalog) AS "_Fetch-type", esql_width(decl, col, catalog) AS "_Width",
         esql_scale(decl, col, catalog) AS "_Decimals", CASE WHEN nn OR pk > 0 THEN 1 ELSE 0 END AS "_Mandatory",
         0 AS "_Extent", CAST(NULL AS VARCHAR) AS "_Desc", dflt AS "_Initial", cid + 2 AS "_field-rpos",
         cid + 1 AS "_Order"
    FROM esql_columns;

CREATE TEMP VIEW "_Index" AS
  SELECT tid * 65536 + 32768 + iseq AS rowid, idxname AS "_Index-Name", tid AS "_File-recid",
         isunique AS "_Unique", 1 AS "_Active", count(*) AS "_num-comp", CAST(NULL AS VARCHAR) AS "_Desc"
    FROM esql_indexcols GROUP BY tid, iseq;

CREATE TEMP VIEW "_Index-Field" AS
  SELECT tid * 65536 + 32768 + iseq AS "_Index-Recid", tid * 65536 + cid AS "_Field-Recid",
         seqno + 1 AS "_Index-Seq", CASE WHEN isdesc THEN 0 ELSE 1 END AS "_Ascending"
    FROM esql_indexcols;

CREATE TEMP VIEW SYSTABLES AS
  SELECT name AS TBL, owner AS OWNER, type AS TBLTYPE, id AS ID, owner AS CREATOR FROM esql_objects;

CREATE TEMP VIEW SYSCOLUMNS AS
  SELECT owner AS OWNER, tbl AS TBL, col AS COL, esql_typename(decl, col, catalog) AS COLTYPE,
         esql_width(decl, col, catalog) AS WIDTH, esql_scale(decl, col, catalog) AS SCALE,
         CASE WHEN nn OR pk > 0 THEN 'N' ELSE 'Y' END AS NULLFLAG, cid + 1 AS ID, dflt AS DFLT_VALUE
    FROM esql_columns;

CREATE TEMP VIEW SYSINDEXES AS
  SELECT idxname AS IDXNAME, 'PUB' AS IDXOWNER, tbl AS TBL, 'PUB' AS TBLOWNER, col AS COLNAME,
         CASE WHEN isunique THEN 'U ' ELSE 'D ' END AS IDXTYPE, 'B' AS IDXMETHOD, seqno AS IDXSEQ,
         CASE WHEN isdesc THEN 'D ' ELSE 'A ' END AS IDXORDER, tid * 65536 + 32768 + iseq AS ID
    FROM esql_indexcols;

CREATE TEMP VIEW SYSTABAUTH AS
  SELECT 'PUB' AS GRANTOR, 'PUBLIC' AS GRANTEE, owner AS TBLOWNER, name AS TBL,
         'y' AS REF, CASE type WHEN 'T' THEN 'y' ELSE 'n' END AS INS,
         CASE type WHEN 'T' THEN 'y' ELSE 'n' END AS DEL, CASE type WHEN 'T' THEN 'y' ELSE 'n' END AS UPD,
         'y' AS SEL, CASE type WHEN 'T' THEN 'y' ELSE 'n' END AS ALT,
         CASE type WHEN 'T' THEN 'y' ELSE 'n' END AS IDX
    FROM esql_objects WHERE catalog = 0;

CREATE TEMP VIEW SYSCOLAUTH AS
  SELECT 'PUB' AS GRANTOR, 'PUBLIC' AS GRANTEE, 'PUB' AS TBLOWNER, '' AS TBL, '' AS COL,
         'n' AS REF, 'n' AS UPD, 'n' AS SEL
   WHERE 0;

CREATE TEMP VIEW SYSPROCEDURES AS
  SELECT 'PUB' AS OWNER, '' AS PROC_NAME, 0 AS PROC_ID, 'N' AS HAS_RETURN_VAL WHERE 0;

CREATE TEMP VIEW SYSPROCCOLUMNS AS
  SELECT 0 AS PROC_ID, '' AS COL, '' AS ARGTYPE, '' AS DATATYPE, 0 AS WIDTH, 0 AS SCALE,
         'Y' AS NULLFLAG, CAST(NULL AS VARCHAR) AS DFLT_VALUE WHERE 0;

CREATE TEMP VIEW SYS_REF_CONSTRS AS
  SELECT 'PUB' AS OWNER, o.name AS TBLNAME, 'fk_' || o.name || '_' || fk.id AS CNSTRNAME,
         'PUB' AS REFOWNER, fk."table" AS REFTBLNAME, 'pk_' || fk."table" AS REFCNSTRNAME
    FROM esql_objects o, pragma_foreign_key_list(o.name, 'PUB') fk
   WHERE o.catalog = 0 AND o.type = 'T' AND fk.seq = 0;

CREATE TEMP VIEW SYS_KEYCOL_USAGE AS
  SELECT 'PUB' AS OWNER, tbl AS TBLNAME, 'pk_' || tbl AS CNSTRNAME, col AS COLNAME, pk - 1 AS COLPOSITION
    FROM esql_columns WHERE catalog = 0 AND pk > 0
  UNION ALL
  SELECT 'PUB', o.name, 'fk_' || o.name || '_' || fk.id, fk."from", fk.seq
    FROM esql_objects o, pragma_foreign_key_list(o.name, 'PUB') fk
   WHERE o.catalog = 0 AND o.type = 'T';
)SQL";

}  // namespace

bool registerServerFunctions(sqlite3* db, const std::string& user, const std::string& dbName, std::string& error) {
    for (const FunctionDef& f : kFunctions) {
        int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        if (sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.fn, nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
            error = sqlite3_errmsg(db);
            return false;
        }
    }
    auto* info = new ConnInfo{user, dbName};
    // db_name owns info and frees it with the connection (or at once when it fails).
    if (sqlite3_create_function_v2(db, "db_name", 0, SQLITE_UTF8, info, fnDbName, nullptr, nullptr, freeInfo) !=
            SQLITE_OK ||
        sqlite3_create_function_v2(db, "user", 0, SQLITE_UTF8, info, fnUser, nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    if (sqlite3_create_collation_v2(db, kDecimalCollation, SQLITE_UTF8, nullptr, decimalCollation, nullptr) !=
        SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

bool createCatalogViews(sqlite3* db, std::string& error) {
    char* msg = nullptr;
    if (sqlite3_exec(db, kCatalogSql, nullptr, nullptr, &msg) != SQLITE_OK) {
        error = msg ? msg : "cannot create the catalog views";
        sqlite3_free(msg);
        return false;
    }
    return true;
}

}  // namespace esql::lite
