// The server's dialect on SQLite, per connection: the scalar functions that the driver's escape
// translation emits (and the others of the server's list that SQLite lacks), DECODE, the
// collation of NUMERIC columns. The system catalog is sqlite_catalog.cpp's.
//
// Dates and times are text in the server's literal forms; English day and month names, no
// locale. Case mapping of ucase/lcase covers ASCII only.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <utility>

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

// esql_date(v), esql_time(v), esql_timestamp(v): the value in the form the stand-in stores,
// the server's literal form; NULL stays NULL. A text that is no date or time fails with
// 22007, one whose fields are out of range ('2024-02-30') with 22008. The checks of the
// columns and CAST call these; a value already in that form comes back as it is.
const char* kindName(DtKind kind) {
    return kind == DtKind::Time ? "time" : kind == DtKind::Date ? "date" : "timestamp";
}

template <DtKind K>
void fnCanonDateTime(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* a = argv[0];
    int type = sqlite3_value_type(a);
    if (type == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    if (type == SQLITE_TEXT) {
        const char* p = reinterpret_cast<const char*>(sqlite3_value_text(a));
        size_t n = static_cast<size_t>(sqlite3_value_bytes(a));
        if (isCanonicalDateTime(p, n, K)) {
            sqlite3_result_value(ctx, a);
            return;
        }
        DateTime v;
        DtParse r = readDateTime(p, n, K, v);
        if (r == DtParse::Ok) {
            char buf[kDateTimeTextMax];
            sqlite3_result_text(ctx, buf, static_cast<int>(formatDateTime(v, K, buf)), SQLITE_TRANSIENT);
            return;
        }
        std::string shown = "'" + std::string(p, n) + "'";
        if (r == DtParse::Overflow)
            fail(ctx, "22008", "datetime field overflow: " + shown + " is not a valid " + kindName(K));
        else
            fail(ctx, "22007", shown + " is not a valid " + kindName(K));
        return;
    }
    fail(ctx, "22007", argText(a) + " is not a valid " + kindName(K));
}

// esql_date_formed(v), esql_time_formed(v), esql_timestamp_formed(v): the check of a DATE,
// TIME or TIMESTAMP column in one call. True, after noting in the connection's flag (the
// user data) that the row needs its stored form when v is a value written otherwise; fails
// as esql_date does for what is no value of the type. It stands for
// esql_mark(esql_date(v) COLLATE BINARY IS NOT v), which copies every value it checks and
// calls twice; tables made before it keep that check, and both functions stay.
template <DtKind K>
void fnFormedDateTime(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_value* a = argv[0];
    int type = sqlite3_value_type(a);
    if (type == SQLITE_TEXT) {
        const char* p = reinterpret_cast<const char*>(sqlite3_value_text(a));
        size_t n = static_cast<size_t>(sqlite3_value_bytes(a));
        if (!isCanonicalDateTime(p, n, K)) {
            DateTime v;
            DtParse r = readDateTime(p, n, K, v);
            if (r != DtParse::Ok) {
                std::string shown = "'" + std::string(p, n) + "'";
                if (r == DtParse::Overflow)
                    fail(ctx, "22008", "datetime field overflow: " + shown + " is not a valid " + kindName(K));
                else
                    fail(ctx, "22007", shown + " is not a valid " + kindName(K));
                return;
            }
            char buf[kDateTimeTextMax];
            size_t m = formatDateTime(v, K, buf);
            if (m != n || std::memcmp(buf, p, n) != 0)
                *static_cast<bool*>(sqlite3_user_data(ctx)) = true;
        }
    } else if (type != SQLITE_NULL) {
        fail(ctx, "22007", argText(a) + " is not a valid " + kindName(K));
        return;
    }
    sqlite3_result_int(ctx, 1);
}

// esql_number(v): false for a number (and NULL); fails with 22018 for a text or blob, which
// the affinity of a number column leaves only when it reads as no number.
void fnNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
    int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_TEXT)
        fail(ctx, "22018", "'" + argText(argv[0]) + "' is not a number");
    else if (type == SQLITE_BLOB)
        fail(ctx, "22018", "a binary value is not a number");
    else
        sqlite3_result_int(ctx, 0);
}

// The collations of DATE, TIME and TIMESTAMP columns: by value, so that '2024-01-31' finds
// the stored '2024/01/31'. Two stored values (the common case: both in the server's form)
// compare by their bytes, which is chronological in that form. Texts that are no value
// sort after every value, by their bytes.
template <DtKind K>
int dateTimeCollation(void*, int an, const void* av, int bn, const void* bv) {
    const char* a = static_cast<const char*>(av);
    const char* b = static_cast<const char*>(bv);
    auto bytes = [&] {
        int c = std::memcmp(a, b, static_cast<size_t>(std::min(an, bn)));
        return c != 0 ? c : an - bn;
    };
    if (an == bn && isCanonicalDateTime(a, static_cast<size_t>(an), K) &&
        isCanonicalDateTime(b, static_cast<size_t>(bn), K))
        return bytes();
    DateTime x, y;
    bool xs = parseDateTime(a, static_cast<size_t>(an), K, x);
    bool ys = parseDateTime(b, static_cast<size_t>(bn), K, y);
    if (xs != ys)
        return xs ? -1 : 1;
    if (!xs)
        return bytes();
    if (K == DtKind::Time)
        x.year = y.year = x.month = y.month = x.day = y.day = x.millisecond = y.millisecond = 0;
    if (K == DtKind::Date)
        x.hour = y.hour = x.minute = y.minute = x.second = y.second = x.millisecond = y.millisecond = 0;
    const int xf[] = {x.year, x.month, x.day, x.hour, x.minute, x.second, x.millisecond};
    const int yf[] = {y.year, y.month, y.day, y.hour, y.minute, y.second, y.millisecond};
    for (size_t k = 0; k < 7; ++k)
        if (xf[k] != yf[k])
            return xf[k] < yf[k] ? -1 : 1;
    return 0;
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
// (NULL matches NULL; texts compare without their trailing blanks, as the server's padded
// codes do), else the default, else NULL.

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
    const void* pa = ta == SQLITE_BLOB ? sqlite3_value_blob(a) : static_cast<const void*>(sqlite3_value_text(a));
    const void* pb = tb == SQLITE_BLOB ? sqlite3_value_blob(b) : static_cast<const void*>(sqlite3_value_text(b));
    int la = sqlite3_value_bytes(a), lb = sqlite3_value_bytes(b);
    auto trimBlanks = [](const void* p, int& n) {
        while (n > 0 && static_cast<const char*>(p)[n - 1] == ' ')
            --n;
    };
    if (ta == SQLITE_TEXT && tb == SQLITE_TEXT) {
        trimBlanks(pa, la);
        trimBlanks(pb, lb);
    }
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
    {"esql_number", 1, fnNumber, true},
    {"esql_date", 1, fnCanonDateTime<DtKind::Date>, true},
    {"esql_time", 1, fnCanonDateTime<DtKind::Time>, true},
    {"esql_timestamp", 1, fnCanonDateTime<DtKind::Timestamp>, true},
};

void freeInfo(void* p) { delete static_cast<ConnInfo*>(p); }


}  // namespace

bool registerServerFunctions(sqlite3* db, const std::string& user, const std::string& dbName, std::string& error) {
    for (const FunctionDef& f : kFunctions) {
        // Deterministic ones are innocuous too: the schema's checks call them.
        int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS : 0);
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
    const std::pair<const char*, int (*)(void*, int, const void*, int, const void*)> collations[] = {
        {kDecimalCollation, decimalCollation},
        {kDateCollation, dateTimeCollation<DtKind::Date>},
        {kTimeCollation, dateTimeCollation<DtKind::Time>},
        {kTimestampCollation, dateTimeCollation<DtKind::Timestamp>},
    };
    for (const auto& [name, compare] : collations) {
        if (sqlite3_create_collation_v2(db, name, SQLITE_UTF8, nullptr, compare, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db);
            return false;
        }
    }
    return registerDecimalFunctions(db, error);
}

bool registerFormChecks(sqlite3* db, bool* marked, std::string& error) {
    const std::pair<const char*, void (*)(sqlite3_context*, int, sqlite3_value**)> checks[] = {
        {kDateFormed, fnFormedDateTime<DtKind::Date>},
        {kTimeFormed, fnFormedDateTime<DtKind::Time>},
        {kTimestampFormed, fnFormedDateTime<DtKind::Timestamp>},
    };
    for (const auto& [name, fn] : checks) {
        if (sqlite3_create_function_v2(db, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, marked, fn,
                                       nullptr, nullptr, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db);
            return false;
        }
    }
    return true;
}

}  // namespace esql::lite
