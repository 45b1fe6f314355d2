// Exact numerics on SQLite, per connection: the CHECK of NUMERIC columns (digits against
// precision and scale, text that is no number), the canonical stored form of a NUMERIC
// value, the exact literal, and SUM and AVG that add decimal texts exactly while integers
// and reals keep SQLite's meaning.
//
// A decimal sum is kept as a 128-bit integer and a scale while it fits (38 digits and
// more); past that, as a Decimal of any length.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/esql92/sqlite_internal.h"

namespace esql::lite {

namespace {

using i128 = __int128;
using u128 = unsigned __int128;

constexpr int kMaxFastDigits = 38;   // every 38-digit integer fits an i128

i128 pow10i(int k) {
    i128 p = 1;
    while (k-- > 0)
        p *= 10;
    return p;
}

bool mulPow10(i128& v, int k) {
    if (k > kMaxFastDigits)
        return v == 0;
    return !__builtin_mul_overflow(v, pow10i(k), &v);
}

// [blanks][+|-]digits[.digits][blanks] with at most 38 digits after the leading zeros and
// at most 38 after the point, as m * 10^-scale. Anything else is left to parseDecimal.
bool parseFast(const char* s, size_t n, i128& m, int& scale) {
    size_t i = 0;
    while (i < n && s[i] == ' ') ++i;
    while (n > i && s[n - 1] == ' ') --n;
    bool neg = false;
    if (i < n && (s[i] == '-' || s[i] == '+'))
        neg = s[i++] == '-';
    i128 v = 0;
    int digits = 0, frac = 0;
    bool any = false, point = false;
    for (; i < n; ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (v != 0 || c != '0')
                ++digits;
            if (point)
                ++frac;
            if (digits > kMaxFastDigits || frac > kMaxFastDigits)
                return false;
            v = v * 10 + (c - '0');
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!any)
        return false;
    m = neg ? -v : v;
    scale = frac;
    return true;
}

// Digit strings (most significant first, no sign) of the same exponent.
int compareMagnitude(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string addMagnitude(const std::string& a, const std::string& b) {
    std::string out(std::max(a.size(), b.size()) + 1, '0');
    int carry = 0;
    size_t ia = a.size(), ib = b.size(), io = out.size();
    while (io > 0) {
        int d = carry;
        if (ia > 0) d += a[--ia] - '0';
        if (ib > 0) d += b[--ib] - '0';
        out[--io] = static_cast<char>('0' + d % 10);
        carry = d / 10;
    }
    return out;
}

// a - b for a >= b.
std::string subMagnitude(const std::string& a, const std::string& b) {
    std::string out(a.size(), '0');
    int borrow = 0;
    size_t ia = a.size(), ib = b.size();
    while (ia > 0) {
        int d = (a[--ia] - '0') - borrow - (ib > 0 ? b[--ib] - '0' : 0);
        borrow = d < 0;
        out[ia] = static_cast<char>('0' + (d < 0 ? d + 10 : d));
    }
    return out;
}

// Leading zeros off, trailing zeros into the exponent, zero without a sign.
void normalize(Decimal& d) {
    size_t lead = d.digits.find_first_not_of('0');
    d.digits.erase(0, lead == std::string::npos ? d.digits.size() : lead);
    while (!d.digits.empty() && d.digits.back() == '0') {
        d.digits.pop_back();
        ++d.exp;
    }
    if (d.digits.empty()) {
        d.neg = false;
        d.exp = 0;
    }
}

void addDecimal(Decimal& acc, const Decimal& x) {
    if (x.digits.empty())
        return;
    if (acc.digits.empty()) {
        acc = x;
        return;
    }
    int32_t e = std::min(acc.exp, x.exp);
    std::string a = acc.digits + std::string(static_cast<size_t>(acc.exp - e), '0');
    std::string b = x.digits + std::string(static_cast<size_t>(x.exp - e), '0');
    Decimal r;
    r.exp = e;
    if (acc.neg == x.neg) {
        r.digits = addMagnitude(a, b);
        r.neg = acc.neg;
    } else {
        int c = compareMagnitude(a, b);
        if (c == 0) {
            acc = Decimal{};
            return;
        }
        r.digits = c > 0 ? subMagnitude(a, b) : subMagnitude(b, a);
        r.neg = c > 0 ? acc.neg : x.neg;
    }
    normalize(r);
    acc = std::move(r);
}

Decimal decimalOf(i128 m, int scale) {
    Decimal d;
    d.neg = m < 0;
    u128 v = d.neg ? -static_cast<u128>(m) : static_cast<u128>(m);
    char buf[48];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v != 0);
    d.digits.assign(p, static_cast<size_t>(buf + sizeof buf - p));
    d.exp = -scale;
    normalize(d);
    return d;
}

// The exact value as SQLite's best storage class: an integer when it is one and fits, a
// real when its digits survive the round trip (15 significant digits, so comparisons with
// numbers keep working), else its decimal text with `scale` digits after the point.
void resultDecimal(sqlite3_context* ctx, const Decimal& d, int scale) {
    if (d.digits.empty()) {
        sqlite3_result_int64(ctx, 0);
        return;
    }
    int64_t intDigits = static_cast<int64_t>(d.digits.size()) + d.exp;
    if (d.exp >= 0 && intDigits <= 19) {
        std::string whole = (d.neg ? "-" : "") + d.digits + std::string(static_cast<size_t>(d.exp), '0');
        int64_t v = 0;
        auto r = std::from_chars(whole.data(), whole.data() + whole.size(), v);
        if (r.ec == std::errc() && r.ptr == whole.data() + whole.size()) {
            sqlite3_result_int64(ctx, v);
            return;
        }
    }
    if (d.digits.size() <= 15) {
        std::string text = (d.neg ? "-" : "") + d.digits + "e" + std::to_string(d.exp);
        double v = 0;
        std::from_chars(text.data(), text.data() + text.size(), v);
        sqlite3_result_double(ctx, v);
        return;
    }
    scale = std::max(scale, d.exp < 0 ? -d.exp : 0);
    std::string unscaled;
    scaleDecimal(d, static_cast<int>(std::max<int64_t>(intDigits, 0)) + scale + 1, scale, unscaled);
    std::string text = decimalText(d.neg, unscaled, scale);
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// ---------------------------------------------------------------------------------------
// SUM and AVG.

struct ExactSum {
    int64_t count;        // values that are not NULL
    int64_t ints;         // the integers not yet folded into the decimal part
    double reals;
    i128 mant;            // the decimal part: mant * 10^-scale, until big takes over
    int32_t scale;
    int32_t maxScale;     // the most digits after the point of a decimal added
    bool anyReal;         // a real or a text that is no decimal: the result is a real
    bool anyDecimal;      // a decimal text: the result is exact
    bool intOverflow;     // the integers alone overflowed 64 bits
    Decimal* big;
};

ExactSum* sumOf(sqlite3_context* ctx, bool create) {
    // The context memory is only 8-byte aligned: the i128 needs 16.
    void* raw = sqlite3_aggregate_context(ctx, create ? static_cast<int>(sizeof(ExactSum) + 15) : 0);
    if (raw == nullptr)
        return nullptr;
    return reinterpret_cast<ExactSum*>((reinterpret_cast<uintptr_t>(raw) + 15) & ~uintptr_t{15});
}

void addBig(ExactSum& a, const Decimal& x) {
    if (a.big == nullptr)
        a.big = new Decimal(decimalOf(a.mant, a.scale));
    addDecimal(*a.big, x);
}

void addFast(ExactSum& a, i128 m, int scale) {
    if (a.big == nullptr) {
        i128 acc = a.mant;
        int s = a.scale;
        bool ok = true;
        if (scale > s) {
            ok = mulPow10(acc, scale - s);
            s = scale;
        } else if (scale < s) {
            ok = mulPow10(m, s - scale);
        }
        if (ok && !__builtin_add_overflow(acc, m, &acc)) {
            a.mant = acc;
            a.scale = s;
            return;
        }
    }
    addBig(a, decimalOf(m, scale));
}

void addInt(ExactSum& a, int64_t v) {
    int64_t r;
    if (!__builtin_add_overflow(a.ints, v, &r)) {
        a.ints = r;
        return;
    }
    addFast(a, a.ints, 0);
    addFast(a, v, 0);
    a.ints = 0;
    a.intOverflow = true;
}

void addValue(ExactSum& a, sqlite3_value* v, bool negate) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        return;
    case SQLITE_INTEGER: {
        int64_t x = sqlite3_value_int64(v);
        if (negate && x == INT64_MIN) {
            addFast(a, -static_cast<i128>(x), 0);
            break;
        }
        addInt(a, negate ? -x : x);
        break;
    }
    case SQLITE_TEXT: {
        const char* s = reinterpret_cast<const char*>(sqlite3_value_text(v));
        size_t n = static_cast<size_t>(sqlite3_value_bytes(v));
        i128 m;
        int scale;
        Decimal d;
        if (s != nullptr && parseFast(s, n, m, scale)) {
            addFast(a, negate ? -m : m, scale);
            a.maxScale = std::max(a.maxScale, scale);
            a.anyDecimal = true;
            break;
        }
        if (s != nullptr && parseDecimal(s, n, d)) {
            if (negate && !d.digits.empty())
                d.neg = !d.neg;
            addBig(a, d);
            a.maxScale = std::max(a.maxScale, std::min(d.exp < 0 ? -d.exp : 0, static_cast<int32_t>(ESQL_NUMERIC_DIGITS)));
            a.anyDecimal = true;
            break;
        }
    }
        // No number: SQLite's meaning, its numeric prefix as a real.
        [[fallthrough]];
    default: {
        double x = sqlite3_value_double(v);
        a.reals += negate ? -x : x;
        a.anyReal = true;
        break;
    }
    }
    a.count += negate ? -1 : 1;
}

// The exact sum of the integers and decimals seen.
Decimal exactTotal(const ExactSum& a) {
    Decimal d = a.big ? *a.big : decimalOf(a.mant, a.scale);
    if (a.ints != 0)
        addDecimal(d, decimalOf(a.ints, 0));
    return d;
}

double toDouble(const Decimal& d) {
    if (d.digits.empty())
        return 0;
    std::string text = (d.neg ? "-" : "") + d.digits + "e" + std::to_string(d.exp);
    double v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

void sumStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (ExactSum* a = sumOf(ctx, true))
        addValue(*a, argv[0], false);
    else
        sqlite3_result_error_nomem(ctx);
}

void sumInverse(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (ExactSum* a = sumOf(ctx, true))
        addValue(*a, argv[0], true);
}

void sumResult(sqlite3_context* ctx, ExactSum* a) {
    if (a == nullptr || a->count <= 0) {
        sqlite3_result_null(ctx);
        return;
    }
    if (a->anyReal) {
        sqlite3_result_double(ctx, toDouble(exactTotal(*a)) + a->reals);
    } else if (!a->anyDecimal) {
        if (a->intOverflow)
            sqlite3_result_error(ctx, "[22003] integer overflow", -1);
        else
            sqlite3_result_int64(ctx, a->ints);
    } else {
        resultDecimal(ctx, exactTotal(*a), a->maxScale);
    }
}

// The floor of the magnitude digits / n, as digits (leading zeros kept).
std::string divideMagnitude(const std::string& digits, uint64_t n) {
    std::string q(digits.size(), '0');
    u128 rem = 0;
    for (size_t k = 0; k < digits.size(); ++k) {
        rem = rem * 10 + static_cast<unsigned>(digits[k] - '0');
        q[k] = static_cast<char>('0' + static_cast<int>(rem / n));
        rem %= n;
    }
    return q;
}

// Digits after the point of an exact average: those of its values, and at least ten.
constexpr int kAvgScale = 10;

void avgResult(sqlite3_context* ctx, ExactSum* a) {
    if (a == nullptr || a->count <= 0) {
        sqlite3_result_null(ctx);
        return;
    }
    Decimal total = exactTotal(*a);
    if (a->anyReal || !a->anyDecimal) {
        sqlite3_result_double(ctx, (toDouble(total) + a->reals) / static_cast<double>(a->count));
        return;
    }
    // Truncated one digit past the scale, then rounded half away from zero on that digit.
    int scale = std::max(a->maxScale, kAvgScale);
    int64_t shift = static_cast<int64_t>(total.exp) + scale + 1;
    std::string num = total.digits;
    if (shift >= 0)
        num.append(static_cast<size_t>(shift), '0');
    else
        num.resize(static_cast<size_t>(std::max<int64_t>(static_cast<int64_t>(num.size()) + shift, 0)));
    if (num.empty())
        num = "0";
    std::string q = divideMagnitude(num, static_cast<uint64_t>(a->count));
    bool up = q.back() >= '5';
    q.pop_back();
    if (q.empty())
        q = "0";
    if (up)
        q = addMagnitude(q, "1");
    Decimal r;
    r.neg = total.neg;
    r.digits = std::move(q);
    r.exp = -scale;
    normalize(r);
    resultDecimal(ctx, r, scale);
}

void sumValue(sqlite3_context* ctx) { sumResult(ctx, sumOf(ctx, false)); }
void avgValue(sqlite3_context* ctx) { avgResult(ctx, sumOf(ctx, false)); }

void release(ExactSum* a) {
    if (a != nullptr) {
        delete a->big;
        a->big = nullptr;
    }
}

void sumFinal(sqlite3_context* ctx) {
    ExactSum* a = sumOf(ctx, false);
    sumResult(ctx, a);
    release(a);
}

void avgFinal(sqlite3_context* ctx) {
    ExactSum* a = sumOf(ctx, false);
    avgResult(ctx, a);
    release(a);
}

// ---------------------------------------------------------------------------------------
// The column functions.

void failTagged(sqlite3_context* ctx, const char* state, const std::string& text) {
    std::string msg = std::string("[") + state + "] " + text;
    sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

// The value of a NUMERIC column as a Decimal; false for what is no number.
bool columnDecimal(sqlite3_value* v, Decimal& d) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
        std::string s = formatInt(sqlite3_value_int64(v));
        return parseDecimal(s.data(), s.size(), d);
    }
    case SQLITE_FLOAT: {
        double x = sqlite3_value_double(v);
        char buf[40];
        auto r = std::to_chars(buf, buf + sizeof buf, x);
        return r.ec == std::errc() && parseDecimal(buf, static_cast<size_t>(r.ptr - buf), d);
    }
    case SQLITE_TEXT:
        return parseDecimal(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                            static_cast<size_t>(sqlite3_value_bytes(v)), d);
    default:
        return false;
    }
}

bool shapeArgs(sqlite3_value** argv, int& precision, int& scale) {
    precision = static_cast<int>(sqlite3_value_int64(argv[1]));
    scale = static_cast<int>(sqlite3_value_int64(argv[2]));
    return precision >= 1 && precision <= ESQL_NUMERIC_DIGITS && scale >= 0 && scale <= precision;
}

std::string shown(sqlite3_value* v) {
    if (sqlite3_value_type(v) == SQLITE_BLOB)
        return "binary value";
    const unsigned char* p = sqlite3_value_text(v);
    return "'" + std::string(p ? reinterpret_cast<const char*>(p) : "", static_cast<size_t>(sqlite3_value_bytes(v))) +
           "'";
}

// esql_numeric_check(value, precision, scale, column): the CHECK of a NUMERIC column. 1
// when the value, rounded to the scale, has at most precision - scale digits before the
// point (or is NULL); 0 when it has more, which the constraint's name reports as 22003;
// text that is no number fails with 22018.
void fnNumericCheck(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    int precision, scale;
    if (!shapeArgs(argv, precision, scale)) {
        failTagged(ctx, "22003", "invalid NUMERIC precision or scale");
        return;
    }
    Decimal d;
    if (!columnDecimal(argv[0], d)) {
        const unsigned char* col = sqlite3_value_text(argv[3]);
        failTagged(ctx, "22018", shown(argv[0]) + " is not a number for column " +
                                     (col ? reinterpret_cast<const char*>(col) : "?"));
        return;
    }
    std::string unscaled;
    sqlite3_result_int(ctx, scaleDecimal(d, precision, scale, unscaled) ? 1 : 0);
}

// esql_numeric(value, precision, scale): the stored form of a NUMERIC value, its decimal
// text rounded to the scale with exactly scale digits after the point. NULL, and what the
// column's CHECK refuses, come back as they are.
void fnNumeric(sqlite3_context* ctx, int, sqlite3_value** argv) {
    int precision, scale;
    Decimal d;
    std::string unscaled;
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || !shapeArgs(argv, precision, scale) ||
        !columnDecimal(argv[0], d) || !scaleDecimal(d, precision, scale, unscaled)) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    std::string text = decimalText(d.neg, unscaled, scale);
    sqlite3_result_text64(ctx, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

// esql_exact('digits'): an exact numeric literal too long for a double, kept as its text
// (the translation writes it; see exactLiteral).
void fnExact(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, argv[0]);
}

}  // namespace

bool registerDecimalFunctions(sqlite3* db, std::string& error) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    // sum and avg replace SQLite's own, as aggregates and as window functions.
    if (sqlite3_create_window_function(db, "sum", 1, flags, nullptr, sumStep, sumFinal, sumValue, sumInverse,
                                       nullptr) != SQLITE_OK ||
        sqlite3_create_window_function(db, "avg", 1, flags, nullptr, sumStep, avgFinal, avgValue, sumInverse,
                                       nullptr) != SQLITE_OK ||
        sqlite3_create_function_v2(db, "esql_numeric_check", 4, flags, nullptr, fnNumericCheck, nullptr, nullptr,
                                   nullptr) != SQLITE_OK ||
        sqlite3_create_function_v2(db, "esql_numeric", 3, flags, nullptr, fnNumeric, nullptr, nullptr, nullptr) !=
            SQLITE_OK ||
        sqlite3_create_function_v2(db, "esql_exact", 1, flags, nullptr, fnExact, nullptr, nullptr, nullptr) !=
            SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

}  // namespace esql::lite
