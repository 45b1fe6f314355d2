// Internals of the ESQL-92 client stand-in shared by its sources: the outcome of a call, the
// SQLDA record, the back-end table behind the exported calls, and the value layer that moves
// values between the server's element layouts and plain values (integers, doubles, text,
// bytes). Nothing here is visible outside the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/esql92/esql92.h"

namespace esql {

// ----------------------------------------------------------------------------------------
// Outcome of one call: filled by a back-end, written to the caller's SQLCA by the API layer.

struct Message {
    int32_t code = 0;
    char state[6] = {};
    std::string text;
    bool latin1 = false;     // text is in ISO-8859-1, not UTF-8
};

struct Outcome {
    int32_t code = 0;        // 0, ESQL_NOT_FOUND, or the first message's negative code
    int64_t rows = 0;        // goes to sqlrows
    bool truncated = false;  // a fetched value was cut: sqlwarn[1]
    uint64_t owner = 0;      // connection whose failure this is (0: none); keys the queue
    bool clientLatin1 = false;   // the owner's client takes its messages in ISO-8859-1
    std::vector<Message> messages;

    // Appends a message; the first one decides the call's code.
    void fail(int32_t native, const char* sqlstate, std::string text);
    bool failed() const { return code < 0; }
};

// Writes the outcome into the caller's SQLCA (null allowed) and returns its sqlcode. The
// messages after the first wait in the library's queue for tpe_sqlc_clear.
int report(ESQL_SQLCA* sqlca, Outcome& o);
// Frees the pending messages of a connection's failures (on disconnect).
void dropPendingMessages(uint64_t owner);
// Number of failures whose further messages wait in the queue (for tests).
size_t pendingMessageQueues();

// The SQLSTATE of each of the library's own native codes.
const char* stateOf(int32_t native);
// Shorthand: o.fail(native, stateOf(native), text).
void failWith(Outcome& o, int32_t native, std::string text);

// ----------------------------------------------------------------------------------------
// Back-end table: each exported tpe_* call, less its SQLCA, lands in one slot.

struct Backend {
    const char* name;
    void (*connect)(const char* target, const char* name, const char* user,
                    const char* password, Outcome& o);
    ESQL_DBHDL (*currentDb)();
    ESQL_TMHDL (*currentTm)();
    void (*disconnect)(int scope, const char* name, Outcome& o);
    void (*setConnection)(const char* name, Outcome& o);
    void (*endTrans)(ESQL_TMHDL tm, Outcome& o);
    void (*markAbort)(ESQL_TMHDL tm, Outcome& o);
    void (*setLevel)(int level, Outcome& o);
    int (*getLevel)();
    void (*setCursor)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL* cursor,
                      const unsigned char* identity, int kind, const char* text, Outcome& o);
    void (*setCursorName)(ESQL_CURHDL cursor, const char* name, Outcome& o);
    void (*prepare)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, Outcome& o);
    void (*describe)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* sqlda,
                     bool input, Outcome& o);
    void (*declare)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in,
                    Outcome& o);
    void (*open)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in, Outcome& o);
    void (*execute)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* in,
                    Outcome& o);
    void (*fetch)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, PRO_SQLDA* out,
                  Outcome& o);
    void (*close)(ESQL_TMHDL tm, ESQL_DBHDL db, ESQL_CURHDL cursor, Outcome& o);
    void (*setCodePage)(const char* name, Outcome& o);
};

const Backend& sqliteBackend();
// Routes the exported calls to backend; null goes back to the SQLite back-end. Used by the
// scripted back-end, one script at a time.
void installBackend(const Backend* backend);

// ----------------------------------------------------------------------------------------
// Descriptions and the SQLDA.

// One described result column or parameter.
struct ColumnDesc {
    std::string name;
    int32_t type = ESQL_VARCHAR;
    uint32_t length = 1;       // element length of the type (see esql92.h)
    uint32_t precision = 0;    // precision or declared length
    int16_t scale = 0;
    int16_t nullable = 1;
    int16_t updatable = 0;
};

// Natural element length of a type with its declared length or precision.
uint32_t elementLength(int32_t type, uint32_t precision);
// A description of a type with its natural element length.
ColumnDesc describeType(int32_t type, uint32_t precision = 0, int16_t scale = 0);

struct SqldaColumn {
    std::string name;
    int32_t type = 0;
    uint32_t length = 0;
    uint32_t precision = 0;
    int16_t scale = 0;
    int16_t nullable = 1;
    int16_t updatable = 0;
    int16_t direction = 1;
    void* data = nullptr;
    int32_t* indicator = nullptr;
};

// Checks that sqlda is a live SQLDA of the wanted kind; posts ESQL_ERR_NULL_ARGUMENT or
// ESQL_ERR_SQLDA_KIND otherwise. kind < 0 accepts either kind.
bool checkSqlda(const PRO_SQLDA* sqlda, int kind, Outcome& o);
// Fills an output or input SQLDA from descriptions (a too-small area gets minus the count).
void fillSqlda(PRO_SQLDA* sqlda, const std::vector<ColumnDesc>& columns);
int32_t sqldaCount(const PRO_SQLDA* sqlda);
uint32_t sqldaRows(const PRO_SQLDA* sqlda);        // DA attribute 6, at least 1
uint32_t sqldaAllocated(const PRO_SQLDA* sqlda);
SqldaColumn* sqldaColumns(PRO_SQLDA* sqlda);      // columns 1..allocated at [0..]
// Moves on whenever a column's description or binding changes (and at allocation), and
// is unique in the process: a fetch keeps what it read of a binding while it stays.
uint64_t sqldaGeneration(const PRO_SQLDA* sqlda);

// ----------------------------------------------------------------------------------------
// Values.

// A value as the server holds it: the storage classes of SQLite. Text and bytes are borrowed.
struct Value {
    enum Kind : uint8_t { Null, Int, Real, Text, Blob };
    Kind kind = Null;
    int64_t i = 0;
    double d = 0;
    const char* p = nullptr;
    size_t n = 0;

    static Value null() { return {}; }
    static Value integer(int64_t v) { Value x; x.kind = Int; x.i = v; return x; }
    static Value real(double v) { Value x; x.kind = Real; x.d = v; return x; }
    static Value text(const char* s, size_t len) { Value x; x.kind = Text; x.p = s; x.n = len; return x; }
    static Value blob(const void* s, size_t len) {
        Value x; x.kind = Blob; x.p = static_cast<const char*>(s); x.n = len; return x;
    }
};

// Where a fetched column goes: its type and the caller's buffers. valueType is the type
// the cursor describes for the column: a NUMERIC or BIGINT bound as CHARACTER or VARCHAR
// receives its decimal text as esql92_value_to_text writes it (NUMERIC at its scale).
struct OutColumn {
    int32_t type;
    uint32_t precision;
    int16_t scale;
    uint32_t length;
    char* data;
    int32_t* indicator;
    int32_t valueType = 0;   // 0: the bound type
};

// Checks an output column's binding (data pointer, element length fitting the type);
// posts ESQL_ERR_BINDING with the column number otherwise.
bool checkOutColumn(const OutColumn& c, uint32_t column, Outcome& o);

// Writes v as row `row` of the column. Returns false after posting a conversion failure
// (22001/22002/22003/22007/22018). Sets truncated when a text or binary value was cut.
bool putValue(const Value& v, const OutColumn& c, size_t row, bool& truncated, Outcome& o);

// The lanes of the pairs of column type and value a fetch meets most, chosen once a fetch
// call for each column by putLaneFor: each writes what putValue writes for its pair.
enum class PutLane : uint8_t { None, Integer, Double, Varchar, Date, BigintText };
PutLane putLaneFor(const OutColumn& c);
// putValue for a value of the lane's pair; false, with nothing written or posted, for any
// other value (a NULL, another kind, a value the column refuses), which putValue then takes.
bool putByLane(PutLane lane, const Value& v, const OutColumn& c, size_t row, bool& truncated);

// Reads row `row` of input column c (a parameter) into v. Text made here (NUMERIC, DATE, TIME,
// TIMESTAMP) goes to scratch, which must outlive the use of v. Returns false after posting.
bool getValue(const SqldaColumn& c, size_t row, uint32_t column, Value& v, std::string& scratch,
              Outcome& o);

// How the values of one parameter column are read in one execution, chosen once from its
// type and binding: an array of parameter rows then pays for each value alone, not again
// for the choice and the checks of its binding. Checked reads through getValue, which
// also posts every refusal; the other lanes are taken only where getValue would accept
// every row's binding and give the same value. Latin1Text is the text of a client in
// ISO-8859-1, measured and searched for bytes above 0x7F in one pass, and made into
// UTF-8 (in scratch) only where it has one.
enum class InputLane : uint8_t { Checked, Text, Latin1Text, Int32, Int64, Real32, Real64, Date };
InputLane inputLane(const SqldaColumn& c, bool latin1Client);
// getValue through the column's lane (same results, same failures); the text of a
// Latin1Text lane arrives in UTF-8.
bool readInput(InputLane lane, const SqldaColumn& c, size_t row, uint32_t column, Value& v,
               std::string& scratch, Outcome& o);
// The length of the text in the max bytes at s (up to its first NUL, or max), and whether a
// byte above 0x7F comes before that end (returned in registers, not through memory).
struct TextExtent {
    size_t length;
    bool high;
};
TextExtent textExtent(const char* s, size_t max);

// The client code pages: ISO-8859-1 from and to the server's UTF-8. Bytes that do not
// form a UTF-8 character, and characters above U+00FF, become '?'.
std::string utf8FromLatin1(std::string_view text);
std::string latin1FromUtf8(std::string_view text);
// The same into out, which keeps its room for the next text.
void latin1FromUtf8(std::string_view text, std::string& out);
// True when the text has a byte above 0x7F (only such a text changes between the two).
bool hasHighBytes(std::string_view text);
// True when the text is well-formed UTF-8: shortest forms, no surrogates, nothing above
// U+10FFFF. What a UTF-8 client sends is checked, so that nothing else is stored.
bool validUtf8(std::string_view text);
// Fails o with ESQL_ERR_BAD_TEXT for text of what (a parameter, the statement) that is not
// valid in the client's code page.
void failBadText(Outcome& o, const std::string& what);

// Renders a value for logs of the scripted back-end: NULL, 12, 1.5, 'text', x'0aff'.
std::string renderValue(const Value& v);

// Numbers as the server writes them (no locale): integers in decimal, doubles as SQLite
// does (15 significant digits, ".0" on whole numbers).
std::string formatReal(double d);
std::string formatInt(int64_t v);

// Exact decimals: value = (neg ? -1 : 1) * digits * 10^exp, digits without leading zeros
// ("" for zero).
struct Decimal {
    bool neg = false;
    std::string digits;
    int32_t exp = 0;
};
// [blanks][+|-]digits[.digits][(e|E)[+|-]digits][blanks], at least one digit.
bool parseDecimal(const char* s, size_t n, Decimal& d);
// Rounds half away from zero to `scale` digits after the point; returns the unscaled digit
// string (no leading zeros, "" for zero) or false when more than precision - scale digits
// remain before the point.
bool scaleDecimal(const Decimal& d, int precision, int scale, std::string& unscaled);
// Numeric comparison of two decimal texts; texts that are not numbers sort after numbers and
// by their bytes among themselves. Used as the collation of NUMERIC columns.
int compareDecimalText(const char* a, size_t an, const char* b, size_t bn);
// Decimal text with `scale` digits after the point from an unscaled digit string.
std::string decimalText(bool neg, const std::string& unscaled, int scale);

// Dates and times in the server's literal forms.
struct DateTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
enum class DtKind { Date, Time, Timestamp };
// Parses 'YYYY/MM/DD' (or '-'), 'HH:MM:SS', 'YYYY/MM/DD HH:MM:SS:mmm' (or 'T' and '.frac').
// As a date a timestamp text gives its date; as a time, its time; as a timestamp a date text
// gives midnight. Ranges are checked.
bool parseDateTime(const char* s, size_t n, DtKind kind, DateTime& out);
// As parseDateTime, telling a text of the right form whose fields are out of range
// ('2024-02-30', '24:00:00': Overflow) from one that is no date or time at all.
enum class DtParse { Ok, BadFormat, Overflow };
DtParse readDateTime(const char* s, size_t n, DtKind kind, DateTime& out);
// Whether the text is already a valid value in the server's literal form of its kind (what
// formatDateTime writes), the form the stand-in stores.
bool isCanonicalDateTime(const char* s, size_t n, DtKind kind);
// The server's literal form of a date, time or timestamp ('YYYY/MM/DD', 'HH:MM:SS',
// 'YYYY/MM/DD HH:MM:SS:mmm'), into out (no NUL); answers its length.
inline constexpr size_t kDateTimeTextMax = 96;
size_t formatDateTime(const DateTime& v, DtKind kind, char (&out)[kDateTimeTextMax]);
std::string formatDateTime(const DateTime& v, DtKind kind);
int daysInMonth(int year, int month);

// Type codes of the system catalog's small type codes (the DECODE lists of the agent's
// catalog queries): varchar 1, date 2, bit 3, integer 4, numeric 5, varbinary 8, tinyint 21,
// smallint 22, real 24, float 25, character 31, bigint 32, time 33, timestamp 34, binary 35.
int catalogTypeCode(int32_t type);
// Lower-case name of a server type as the catalog shows it ("varchar", "numeric", ...).
const char* catalogTypeName(int32_t type);

// A declared type text ("VARCHAR(20)", "NUMERIC TEXT(10,2)", "double precision", "int",
// "TEXT") mapped to the server's type; declared names the stand-in does not know map by
// SQLite's affinity rules. Returns false for an empty text.
bool parseDeclaredType(std::string_view decl, ColumnDesc& out);

}  // namespace esql

// The SQLDA record behind the opaque PRO_SQLDA.
struct pro_sqlda {
    uint32_t magic;
    int kind;
    int32_t count;
    uint32_t rows;
    uint64_t generation = 0;
    uint32_t rowsBefore = 0;   // DA attributes 7 and 8: the area's place in a larger array
    uint32_t rowsTotal = 0;
    std::vector<esql::SqldaColumn> columns;
};
