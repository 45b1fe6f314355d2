// The value layer of the ESQL-92 client stand-in: element layouts of the server types, exact
// decimals and the packed NUMERIC, dates and times in the server's literal forms, and the
// conversions between plain values and SQLDA elements in both directions. Nothing here
// depends on the host's locale.
#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "platform/esql92/internal.h"

namespace esql {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Text longer than room is cut at a UTF-8 character boundary.
size_t utf8Cut(const char* s, size_t n, size_t room) {
    if (n <= room)
        return n;
    size_t k = room;
    while (k > 0 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80)
        --k;
    return k;
}

// A text value as an integer: integer texts exactly, decimal texts truncated toward zero.
bool textToInt(const char* s, size_t n, int64_t& out, bool& range) {
    range = false;
    while (n > 0 && isBlank(*s)) { ++s; --n; }
    while (n > 0 && isBlank(s[n - 1])) --n;
    if (n == 0)
        return false;
    const char* b = (*s == '+') ? s + 1 : s;
    auto r = std::from_chars(b, s + n, out);
    if (r.ptr == s + n) {
        if (r.ec == std::errc::result_out_of_range)
            range = true;
        return r.ec == std::errc();
    }
    Decimal d;
    if (!parseDecimal(s, n, d))
        return false;
    int64_t keep = static_cast<int64_t>(d.digits.size()) + d.exp;   // digits before the point
    if (keep <= 0) {
        out = 0;
        return true;
    }
    if (keep > 19) {
        range = true;
        return false;
    }
    std::string whole = d.exp >= 0 ? d.digits + std::string(static_cast<size_t>(d.exp), '0')
                                   : d.digits.substr(0, static_cast<size_t>(keep));
    if (d.neg)
        whole.insert(whole.begin(), '-');
    auto w = std::from_chars(whole.data(), whole.data() + whole.size(), out);
    if (w.ec != std::errc()) {
        range = true;
        return false;
    }
    return true;
}

bool textToReal(const char* s, size_t n, double& out) {
    while (n > 0 && isBlank(*s)) { ++s; --n; }
    while (n > 0 && isBlank(s[n - 1])) --n;
    if (n > 0 && *s == '+') { ++s; --n; }
    if (n == 0)
        return false;
    auto r = std::from_chars(s, s + n, out);
    return r.ec == std::errc() && r.ptr == s + n;
}

bool fitsElement(int64_t v, uint32_t len) {
    switch (len) {
    case 1: return v >= INT8_MIN && v <= INT8_MAX;
    case 2: return v >= INT16_MIN && v <= INT16_MAX;
    case 4: return v >= INT32_MIN && v <= INT32_MAX;
    default: return true;
    }
}

void storeInt(char* p, uint32_t len, int64_t v) {
    switch (len) {
    case 1: { int8_t x = static_cast<int8_t>(v); std::memcpy(p, &x, 1); break; }
    case 2: { int16_t x = static_cast<int16_t>(v); std::memcpy(p, &x, 2); break; }
    case 4: { int32_t x = static_cast<int32_t>(v); std::memcpy(p, &x, 4); break; }
    default: std::memcpy(p, &v, 8); break;
    }
}

int64_t loadInt(const char* p, uint32_t len) {
    switch (len) {
    case 1: { int8_t x; std::memcpy(&x, p, 1); return x; }
    case 2: { int16_t x; std::memcpy(&x, p, 2); return x; }
    case 4: { int32_t x; std::memcpy(&x, p, 4); return x; }
    default: { int64_t x; std::memcpy(&x, p, 8); return x; }
    }
}

const char* typeLabel(int32_t type) {
    switch (type) {
    case ESQL_CHARACTER: return "CHARACTER";
    case ESQL_NUMERIC: return "NUMERIC";
    case ESQL_INTEGER: return "INTEGER";
    case ESQL_SMALLINT: return "SMALLINT";
    case ESQL_REAL: return "REAL";
    case ESQL_FLOAT: return "FLOAT";
    case ESQL_VARCHAR: return "VARCHAR";
    case ESQL_DATE: return "DATE";
    case ESQL_TIME: return "TIME";
    case ESQL_TIMESTAMP: return "TIMESTAMP";
    case ESQL_BINARY: return "BINARY";
    case ESQL_VARBINARY: return "VARBINARY";
    case ESQL_TINYINT: return "TINYINT";
    case ESQL_BIT: return "BIT";
    case ESQL_BIGINT: return "BIGINT";
    default: return "unknown type";
    }
}

std::string columnText(uint32_t column) { return "column " + std::to_string(column); }

bool packNumeric(const std::string& unscaled, bool neg, int precision, int scale, char* dst) {
    ESQL_NUMERIC_VALUE n{};
    n.sign = (neg && !unscaled.empty()) ? 1 : 0;
    n.precision = static_cast<uint8_t>(precision);
    n.scale = static_cast<uint8_t>(scale);
    if (unscaled.size() > 52)
        return false;
    n.ndigits = static_cast<uint8_t>(unscaled.size());
    for (size_t k = 0; k < unscaled.size(); ++k) {
        uint8_t dgt = static_cast<uint8_t>(unscaled[k] - '0');
        n.digits[k / 2] |= (k % 2 == 0) ? static_cast<uint8_t>(dgt << 4) : dgt;
    }
    std::memcpy(dst, &n, sizeof n);
    return true;
}

bool unpackNumeric(const void* src, std::string& text) {
    ESQL_NUMERIC_VALUE n;
    std::memcpy(&n, src, sizeof n);
    if (n.ndigits > 52 || n.scale > ESQL_NUMERIC_DIGITS || n.sign > 1)
        return false;
    std::string unscaled;
    unscaled.reserve(n.ndigits);
    for (int k = 0; k < n.ndigits; ++k) {
        uint8_t b = n.digits[k / 2];
        uint8_t dgt = (k % 2 == 0) ? (b >> 4) : (b & 0x0F);
        if (dgt > 9)
            return false;
        unscaled.push_back(static_cast<char>('0' + dgt));
    }
    size_t lead = unscaled.find_first_not_of('0');
    unscaled.erase(0, lead == std::string::npos ? unscaled.size() : lead);
    text = decimalText(n.sign == 1, unscaled, n.scale);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Numbers as text.

std::string formatInt(int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string formatReal(double d) {
    if (std::isnan(d))
        return "NaN";
    if (std::isinf(d))
        return d < 0 ? "-Inf" : "Inf";
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

namespace {

// The bytes of a value stored in a text or binary column: numbers as their text (kept in
// tmp), text and blobs as they are.
std::string_view valueBytes(const Value& v, std::string& tmp) {
    if (v.kind == Value::Int)
        tmp = formatInt(v.i);
    else if (v.kind == Value::Real)
        tmp = formatReal(v.d);
    else
        return std::string_view(v.p, v.n);
    return tmp;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Exact decimals.

bool parseDecimal(const char* s, size_t n, Decimal& d) {
    size_t i = 0;
    while (i < n && isBlank(s[i])) ++i;
    while (n > i && isBlank(s[n - 1])) --n;
    d = Decimal{};
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        d.neg = s[i] == '-';
        ++i;
    }
    std::string digits;
    int32_t frac = 0;
    bool any = false, point = false;
    for (; i < n; ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (!(digits.empty() && c == '0'))
                digits.push_back(c);
            if (point)
                ++frac;
            if (digits.size() > 4000)
                return false;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any)
        return false;
    int64_t e = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool eneg = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) {
            eneg = s[i] == '-';
            ++i;
        }
        if (i >= n || s[i] < '0' || s[i] > '9')
            return false;
        for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
            e = e * 10 + (s[i] - '0');
            if (e > 100000)
                return false;
        }
        if (eneg)
            e = -e;
    }
    if (i != n)
        return false;
    // Trailing zeros move into the exponent so that equal values compare equal.
    int64_t exp = e - frac;
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exp;
    }
    if (digits.empty()) {
        d.neg = false;
        exp = 0;
    }
    d.digits = std::move(digits);
    d.exp = static_cast<int32_t>(exp);
    return true;
}

bool scaleDecimal(const Decimal& d, int precision, int scale, std::string& unscaled) {
    unscaled.clear();
    if (d.digits.empty())
        return true;
    int64_t shift = static_cast<int64_t>(d.exp) + scale;   // digits * 10^shift
    std::string u;
    if (shift >= 0) {
        if (static_cast<int64_t>(d.digits.size()) + shift > precision)
            return false;
        u = d.digits;
        u.append(static_cast<size_t>(shift), '0');
    } else {
        int64_t keep = static_cast<int64_t>(d.digits.size()) + shift;   // digits kept
        if (keep < 0) {
            return true;   // far below the last digit: rounds to zero
        }
        u = d.digits.substr(0, static_cast<size_t>(keep));
        bool up = d.digits[static_cast<size_t>(keep)] >= '5';
        if (up) {
            int k = static_cast<int>(u.size()) - 1;
            while (k >= 0 && u[static_cast<size_t>(k)] == '9') {
                u[static_cast<size_t>(k)] = '0';
                --k;
            }
            if (k < 0)
                u.insert(u.begin(), '1');
            else
                ++u[static_cast<size_t>(k)];
        }
        size_t lead = u.find_first_not_of('0');
        u.erase(0, lead == std::string::npos ? u.size() : lead);
        if (static_cast<int64_t>(u.size()) > precision)
            return false;
    }
    unscaled = std::move(u);
    return true;
}

std::string decimalText(bool neg, const std::string& unscaled, int scale) {
    std::string s;
    if (neg && !unscaled.empty())
        s.push_back('-');
    if (scale <= 0) {
        s += unscaled.empty() ? "0" : unscaled;
        return s;
    }
    size_t sc = static_cast<size_t>(scale);
    if (unscaled.size() <= sc) {
        s += "0.";
        s.append(sc - unscaled.size(), '0');
        s += unscaled;
    } else {
        s.append(unscaled, 0, unscaled.size() - sc);
        s.push_back('.');
        s.append(unscaled, unscaled.size() - sc, sc);
    }
    return s;
}

int compareDecimalText(const char* a, size_t an, const char* b, size_t bn) {
    Decimal x, y;
    bool okx = parseDecimal(a, an, x), oky = parseDecimal(b, bn, y);
    if (!okx || !oky) {
        if (okx != oky)
            return okx ? -1 : 1;
        int c = std::memcmp(a, b, std::min(an, bn));
        return c != 0 ? c : (an < bn ? -1 : an > bn ? 1 : 0);
    }
    int sx = x.digits.empty() ? 0 : (x.neg ? -1 : 1);
    int sy = y.digits.empty() ? 0 : (y.neg ? -1 : 1);
    if (sx != sy)
        return sx < sy ? -1 : 1;
    if (sx == 0)
        return 0;
    // Same sign: compare magnitudes by the position of the leading digit, then the digits.
    int64_t ex = static_cast<int64_t>(x.digits.size()) + x.exp;
    int64_t ey = static_cast<int64_t>(y.digits.size()) + y.exp;
    int mag;
    if (ex != ey) {
        mag = ex < ey ? -1 : 1;
    } else {
        int c = x.digits.compare(y.digits);
        mag = c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    return sx > 0 ? mag : -mag;
}

// ---------------------------------------------------------------------------------------
// Dates and times.

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return 29;
    return days[month - 1];
}

namespace {

// Reads 1..maxDigits digits.
bool readNum(const char* s, size_t n, size_t& i, int maxDigits, int& out) {
    int v = 0, k = 0;
    while (i < n && k < maxDigits && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i] - '0');
        ++i;
        ++k;
    }
    out = v;
    return k > 0;
}

// readDate and readTime answer whether the text has the form; a field out of its range
// sets overflow instead.
bool readDate(const char* s, size_t n, size_t& i, DateTime& v, bool& overflow) {
    if (!readNum(s, n, i, 4, v.year) || i >= n || (s[i] != '/' && s[i] != '-'))
        return false;
    char sep = s[i++];
    if (!readNum(s, n, i, 2, v.month) || i >= n || s[i] != sep)
        return false;
    ++i;
    if (!readNum(s, n, i, 2, v.day))
        return false;
    if (!(v.year >= 1 && v.month >= 1 && v.month <= 12 && v.day >= 1 && v.day <= daysInMonth(v.year, v.month)))
        overflow = true;
    return true;
}

bool readTime(const char* s, size_t n, size_t& i, DateTime& v, bool& overflow) {
    if (!readNum(s, n, i, 2, v.hour) || i >= n || s[i] != ':')
        return false;
    ++i;
    if (!readNum(s, n, i, 2, v.minute))
        return false;
    if (i < n && s[i] == ':') {
        ++i;
        if (!readNum(s, n, i, 2, v.second))
            return false;
        if (i < n && (s[i] == ':' || s[i] == '.')) {
            bool fraction = s[i] == '.';
            ++i;
            size_t start = i;
            int ms = 0;
            while (i < n && s[i] >= '0' && s[i] <= '9') {
                size_t k = i - start;
                if (fraction) {
                    if (k < 3)
                        ms = ms * 10 + (s[i] - '0');
                } else if (k < 3) {
                    ms = ms * 10 + (s[i] - '0');
                } else {
                    return false;   // ':mmm' holds at most three digits
                }
                ++i;
            }
            if (i == start)
                return false;
            if (fraction)
                for (size_t k = i - start; k < 3; ++k) ms *= 10;
            v.millisecond = ms;
        }
    }
    if (v.hour > 23 || v.minute > 59 || v.second > 59)
        overflow = true;
    return true;
}

}  // namespace

bool parseDateTime(const char* s, size_t n, DtKind kind, DateTime& out) {
    out = DateTime{};
    // The stored form of a DATE, read once per fetched row: straight to its fields.
    if (n == 10 && kind != DtKind::Time && (s[4] == '/' || s[4] == '-') && s[7] == s[4]) {
        auto d = [&](size_t k) { return static_cast<unsigned>(s[k] - '0'); };
        bool digits = true;
        for (size_t k : {0, 1, 2, 3, 5, 6, 8, 9})
            digits = digits && d(k) <= 9;
        if (digits) {
            out.year = static_cast<int>(d(0) * 1000 + d(1) * 100 + d(2) * 10 + d(3));
            out.month = static_cast<int>(d(5) * 10 + d(6));
            out.day = static_cast<int>(d(8) * 10 + d(9));
            return out.year >= 1 && out.month >= 1 && out.month <= 12 && out.day >= 1 &&
                   out.day <= daysInMonth(out.year, out.month);
        }
    }
    return readDateTime(s, n, kind, out) == DtParse::Ok;
}

DtParse readDateTime(const char* s, size_t n, DtKind kind, DateTime& out) {
    out = DateTime{};
    size_t i = 0;
    bool overflow = false;
    while (i < n && isBlank(s[i])) ++i;
    while (n > i && isBlank(s[n - 1])) --n;
    // A time text has its ':' before any date separator.
    size_t colon = std::string_view(s + i, n - i).find(':');
    size_t sep = std::string_view(s + i, n - i).find_first_of("/-");
    bool hasDate = sep != std::string_view::npos && (colon == std::string_view::npos || sep < colon);
    if (hasDate) {
        if (!readDate(s, n, i, out, overflow))
            return DtParse::BadFormat;
        if (i < n && (s[i] == ' ' || s[i] == 'T')) {
            while (i < n && (s[i] == ' ' || s[i] == 'T')) ++i;
            if (!readTime(s, n, i, out, overflow))
                return DtParse::BadFormat;
        } else if (kind == DtKind::Time) {
            return DtParse::BadFormat;
        }
    } else {
        if (kind != DtKind::Time || !readTime(s, n, i, out, overflow))
            return DtParse::BadFormat;
    }
    if (i != n)
        return DtParse::BadFormat;
    return overflow ? DtParse::Overflow : DtParse::Ok;
}

namespace {

bool digitsAt(const char* s, std::initializer_list<size_t> at) {
    for (size_t k : at)
        if (static_cast<unsigned>(static_cast<unsigned char>(s[k])) - '0' > 9)
            return false;
    return true;
}

int twoDigits(const char* s) { return (s[0] - '0') * 10 + (s[1] - '0'); }

bool canonicalDate(const char* s) {
    if (s[4] != '/' || s[7] != '/' || !digitsAt(s, {0, 1, 2, 3, 5, 6, 8, 9}))
        return false;
    int year = twoDigits(s) * 100 + twoDigits(s + 2), month = twoDigits(s + 5), day = twoDigits(s + 8);
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

bool canonicalTime(const char* s) {
    return s[2] == ':' && s[5] == ':' && digitsAt(s, {0, 1, 3, 4, 6, 7}) && twoDigits(s) <= 23 &&
           twoDigits(s + 3) <= 59 && twoDigits(s + 6) <= 59;
}

}  // namespace

bool isCanonicalDateTime(const char* s, size_t n, DtKind kind) {
    switch (kind) {
    case DtKind::Date: return n == 10 && canonicalDate(s);
    case DtKind::Time: return n == 8 && canonicalTime(s);
    case DtKind::Timestamp:
        return n == 23 && canonicalDate(s) && s[10] == ' ' && canonicalTime(s + 11) && s[19] == ':' &&
               digitsAt(s, {20, 21, 22});
    }
    return false;
}

namespace {

// Writes v as exactly `width` decimal digits.
char* putDigits(char* out, int v, int width) {
    for (int k = width - 1; k >= 0; --k) {
        out[k] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    return out + width;
}

}  // namespace

size_t formatDateTime(const DateTime& v, DtKind kind, char (&out)[kDateTimeTextMax]) {
    // By hand: every date and time parameter of every inserted row comes here, and snprintf
    // was a tenth of an array insert. A field wider than its digits (never one that
    // getValue has checked) keeps snprintf's rendering.
    const bool dateFits = v.year >= 0 && v.year <= 9999 && v.month >= 0 && v.month <= 99 && v.day >= 0 && v.day <= 99;
    const bool timeFits = v.hour >= 0 && v.hour <= 99 && v.minute >= 0 && v.minute <= 99 && v.second >= 0 &&
                          v.second <= 99 && v.millisecond >= 0 && v.millisecond <= 999;
    char* p = out;
    switch (kind) {
    case DtKind::Date:
        if (!dateFits)
            return static_cast<size_t>(std::snprintf(out, sizeof out, "%04d/%02d/%02d", v.year, v.month, v.day));
        break;
    case DtKind::Time:
        if (!timeFits)
            return static_cast<size_t>(std::snprintf(out, sizeof out, "%02d:%02d:%02d", v.hour, v.minute, v.second));
        break;
    case DtKind::Timestamp:
        if (!dateFits || !timeFits)
            return static_cast<size_t>(std::snprintf(out, sizeof out, "%04d/%02d/%02d %02d:%02d:%02d:%03d", v.year,
                                                     v.month, v.day, v.hour, v.minute, v.second, v.millisecond));
        break;
    }
    if (kind != DtKind::Time) {
        p = putDigits(p, v.year, 4);
        *p++ = '/';
        p = putDigits(p, v.month, 2);
        *p++ = '/';
        p = putDigits(p, v.day, 2);
        if (kind == DtKind::Date)
            return static_cast<size_t>(p - out);
        *p++ = ' ';
    }
    p = putDigits(p, v.hour, 2);
    *p++ = ':';
    p = putDigits(p, v.minute, 2);
    *p++ = ':';
    p = putDigits(p, v.second, 2);
    if (kind == DtKind::Timestamp) {
        *p++ = ':';
        p = putDigits(p, v.millisecond, 3);
    }
    return static_cast<size_t>(p - out);
}

std::string formatDateTime(const DateTime& v, DtKind kind) {
    char buf[kDateTimeTextMax];
    return std::string(buf, formatDateTime(v, kind, buf));
}

// ---------------------------------------------------------------------------------------
// Types.

uint32_t elementLength(int32_t type, uint32_t precision) {
    switch (type) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: return precision + 1;
    case ESQL_NUMERIC: return ESQL_NUMERIC_SIZE;
    case ESQL_INTEGER: return 4;
    case ESQL_SMALLINT: return 2;
    case ESQL_REAL: return 4;
    case ESQL_FLOAT: return 8;
    case ESQL_DATE: return 4;
    case ESQL_TIME: return 6;
    case ESQL_TIMESTAMP: return 10;
    case ESQL_BINARY:
    case ESQL_VARBINARY: return precision;
    case ESQL_TINYINT:
    case ESQL_BIT: return 1;
    case ESQL_BIGINT: return 8;
    default: return 0;
    }
}

ColumnDesc describeType(int32_t type, uint32_t precision, int16_t scale) {
    ColumnDesc d;
    d.type = type;
    switch (type) {
    case ESQL_INTEGER: precision = 10; scale = 0; break;
    case ESQL_SMALLINT: precision = 5; scale = 0; break;
    case ESQL_TINYINT: precision = 3; scale = 0; break;
    case ESQL_BIT: precision = 1; scale = 0; break;
    case ESQL_BIGINT: precision = 19; scale = 0; break;
    case ESQL_REAL: precision = 7; scale = 0; break;
    case ESQL_FLOAT: precision = 15; scale = 0; break;
    case ESQL_DATE: precision = 10; scale = 0; break;
    case ESQL_TIME: precision = 8; scale = 0; break;
    case ESQL_TIMESTAMP: precision = 23; scale = 3; break;
    default: break;
    }
    d.precision = precision;
    d.scale = scale;
    d.length = elementLength(type, precision);
    return d;
}

int catalogTypeCode(int32_t type) {
    switch (type) {
    case ESQL_VARCHAR: return 1;
    case ESQL_DATE: return 2;
    case ESQL_BIT: return 3;
    case ESQL_INTEGER: return 4;
    case ESQL_NUMERIC: return 5;
    case ESQL_VARBINARY: return 8;
    case ESQL_TINYINT: return 21;
    case ESQL_SMALLINT: return 22;
    case ESQL_REAL: return 24;
    case ESQL_FLOAT: return 25;
    case ESQL_CHARACTER: return 31;
    case ESQL_BIGINT: return 32;
    case ESQL_TIME: return 33;
    case ESQL_TIMESTAMP: return 34;
    case ESQL_BINARY: return 35;
    default: return 1;
    }
}

const char* catalogTypeName(int32_t type) {
    switch (type) {
    case ESQL_VARCHAR: return "varchar";
    case ESQL_DATE: return "date";
    case ESQL_BIT: return "bit";
    case ESQL_INTEGER: return "integer";
    case ESQL_NUMERIC: return "numeric";
    case ESQL_VARBINARY: return "varbinary";
    case ESQL_TINYINT: return "tinyint";
    case ESQL_SMALLINT: return "smallint";
    case ESQL_REAL: return "real";
    case ESQL_FLOAT: return "float";
    case ESQL_CHARACTER: return "character";
    case ESQL_BIGINT: return "bigint";
    case ESQL_TIME: return "time";
    case ESQL_TIMESTAMP: return "timestamp";
    case ESQL_BINARY: return "binary";
    default: return "varchar";
    }
}

namespace {

constexpr uint32_t kDefaultTextLength = 2000;

std::string upperAscii(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

}  // namespace

bool parseDeclaredType(std::string_view decl, ColumnDesc& out) {
    // Words before the first '(' name the type; numbers inside give length or precision
    // and scale.
    size_t paren = decl.find('(');
    std::string words = upperAscii(decl.substr(0, paren));
    std::vector<std::string> w;
    {
        size_t i = 0;
        while (i < words.size()) {
            while (i < words.size() && isBlank(words[i])) ++i;
            size_t j = i;
            while (j < words.size() && !isBlank(words[j])) ++j;
            if (j > i)
                w.push_back(words.substr(i, j - i));
            i = j;
        }
    }
    if (w.empty())
        return false;
    long a = -1, b = -1;
    if (paren != std::string_view::npos) {
        std::string args(decl.substr(paren + 1));
        const char* p = args.c_str();
        char* end = nullptr;
        a = std::strtol(p, &end, 10);
        if (end == p) a = -1;
        const char* comma = std::strchr(p, ',');
        if (comma) {
            b = std::strtol(comma + 1, &end, 10);
            if (end == comma + 1) b = -1;
        }
    }
    auto len = [&](uint32_t dflt) -> uint32_t {
        if (a <= 0) return dflt;
        return static_cast<uint32_t>(std::min<long>(a, ESQL_VARCHAR_MAX));
    };
    const std::string& t = w[0];
    bool varying = w.size() > 1 && w[1] == "VARYING";
    if (t == "VARCHAR" || t == "NVARCHAR" || t == "VARCHAR2" ||
        ((t == "CHARACTER" || t == "CHAR") && varying)) {
        out = describeType(ESQL_VARCHAR, len(kDefaultTextLength));
    } else if (t == "CHARACTER" || t == "CHAR" || t == "NCHAR") {
        out = describeType(ESQL_CHARACTER, len(1));
    } else if (t == "NUMERIC" || t == "DECIMAL" || t == "DEC" || t == "NUMBER") {
        int p = a > 0 ? static_cast<int>(std::min<long>(a, ESQL_NUMERIC_DIGITS)) : 32;
        int s = b >= 0 ? static_cast<int>(std::min<long>(b, p)) : (a > 0 ? 0 : 10);
        out = describeType(ESQL_NUMERIC, static_cast<uint32_t>(p), static_cast<int16_t>(s));
    } else if (t == "INTEGER" || t == "INT") {
        out = describeType(ESQL_INTEGER);
    } else if (t == "SMALLINT") {
        out = describeType(ESQL_SMALLINT);
    } else if (t == "TINYINT") {
        out = describeType(ESQL_TINYINT);
    } else if (t == "BIT" || t == "BOOLEAN" || t == "LOGICAL") {
        out = describeType(ESQL_BIT);
    } else if (t == "BIGINT" || t == "INT64") {
        out = describeType(ESQL_BIGINT);
    } else if (t == "REAL") {
        out = describeType(ESQL_REAL);
    } else if (t == "FLOAT" || t == "DOUBLE") {
        out = describeType(ESQL_FLOAT);
    } else if (t == "DATE") {
        out = describeType(ESQL_DATE);
    } else if (t == "TIME") {
        out = describeType(ESQL_TIME);
    } else if (t == "TIMESTAMP" || t == "DATETIME") {
        out = describeType(ESQL_TIMESTAMP);
    } else if (t == "BINARY") {
        out = describeType(varying ? ESQL_VARBINARY : ESQL_BINARY,
                           std::min<uint32_t>(len(1), ESQL_BINARY_ELEMENT - 4));
    } else if (t == "VARBINARY" || t == "BLOB" || t == "RAW" || t == "LVARBINARY") {
        out = describeType(ESQL_VARBINARY,
                           std::min<uint32_t>(len(ESQL_VARCHAR_MAX), ESQL_BINARY_ELEMENT - 4));
    } else {
        // SQLite's affinity rules for names of other databases.
        std::string all = upperAscii(decl);
        if (all.find("INT") != std::string::npos)
            out = describeType(ESQL_BIGINT);
        else if (all.find("CHAR") != std::string::npos || all.find("CLOB") != std::string::npos ||
                 all.find("TEXT") != std::string::npos)
            out = describeType(ESQL_VARCHAR, len(ESQL_VARCHAR_MAX));
        else if (all.find("BLOB") != std::string::npos)
            out = describeType(ESQL_VARBINARY, ESQL_VARCHAR_MAX);
        else if (all.find("REAL") != std::string::npos || all.find("FLOA") != std::string::npos ||
                 all.find("DOUB") != std::string::npos)
            out = describeType(ESQL_FLOAT);
        else
            out = describeType(ESQL_NUMERIC, 32, 10);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Output: a value into an SQLDA element.

bool checkOutColumn(const OutColumn& c, uint32_t column, Outcome& o) {
    if (c.data == nullptr) {
        failWith(o, ESQL_ERR_BINDING, "no data buffer bound for " + columnText(column));
        return false;
    }
    uint32_t need = 1;
    switch (c.type) {
    case ESQL_INTEGER:
    case ESQL_SMALLINT:
    case ESQL_TINYINT:
    case ESQL_BIT:
    case ESQL_BIGINT:
        if (c.length != 1 && c.length != 2 && c.length != 4 && c.length != 8) {
            failWith(o, ESQL_ERR_BINDING, "element length " + std::to_string(c.length) +
                                              " does not hold an integer in " + columnText(column));
            return false;
        }
        return true;
    case ESQL_REAL:
    case ESQL_FLOAT:
        if (c.length != 4 && c.length != 8) {
            failWith(o, ESQL_ERR_BINDING, "element length " + std::to_string(c.length) +
                                              " does not hold a float in " + columnText(column));
            return false;
        }
        return true;
    case ESQL_NUMERIC: need = ESQL_NUMERIC_SIZE; break;
    case ESQL_DATE: need = 4; break;
    case ESQL_TIME: need = 6; break;
    case ESQL_TIMESTAMP: need = 10; break;
    case ESQL_BINARY:
    case ESQL_VARBINARY: need = 4; break;
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: need = 1; break;
    default:
        failWith(o, ESQL_ERR_BINDING, "unknown type " + std::to_string(c.type) + " in " +
                                          columnText(column));
        return false;
    }
    if (c.length < need) {
        failWith(o, ESQL_ERR_BINDING, "element length " + std::to_string(c.length) + " too small for " +
                                          typeLabel(c.type) + " in " + columnText(column));
        return false;
    }
    return true;
}

namespace {

// The value as a NUMERIC of the column's precision and scale: its unscaled digits (no
// leading zeros, "" for zero) and sign. Out of line, with the NUMERIC cases of putValue:
// its decimal work and texts would otherwise weigh on the frame of every value put.
[[gnu::noinline]] bool scaledNumeric(const Value& v, const OutColumn& c, int& scale, std::string& unscaled,
                                     bool& neg, Outcome& o) {
    Decimal d;
    bool ok = false;
    if (v.kind == Value::Int) {
        std::string s = formatInt(v.i);
        ok = parseDecimal(s.data(), s.size(), d);
    } else if (v.kind == Value::Real) {
        if (!std::isfinite(v.d)) {
            failWith(o, ESQL_ERR_OUT_OF_RANGE, formatReal(v.d) + " does not fit NUMERIC");
            return false;
        }
        char buf[40];
        auto r = std::to_chars(buf, buf + sizeof buf, v.d);
        ok = parseDecimal(buf, static_cast<size_t>(r.ptr - buf), d);
    } else if (v.kind == Value::Text) {
        ok = parseDecimal(v.p, v.n, d);
    }
    if (!ok) {
        failWith(o, ESQL_ERR_BAD_NUMBER, v.kind == Value::Text
                                             ? "'" + std::string(v.p, v.n) + "' is not a number"
                                             : std::string("binary value read as NUMERIC"));
        return false;
    }
    int precision = static_cast<int>(std::clamp<uint32_t>(c.precision, 1, ESQL_NUMERIC_DIGITS));
    scale = std::clamp<int>(c.scale, 0, precision);
    if (!scaleDecimal(d, precision, scale, unscaled)) {
        failWith(o, ESQL_ERR_OUT_OF_RANGE, "value does not fit NUMERIC(" + std::to_string(precision) +
                                               "," + std::to_string(scale) + ")");
        return false;
    }
    neg = d.neg && !unscaled.empty();
    return true;
}

[[gnu::noinline]] bool putNumeric(const Value& v, const OutColumn& c, char* dst, Outcome& o) {
    int scale = 0;
    std::string unscaled;
    bool neg = false;
    if (!scaledNumeric(v, c, scale, unscaled, neg, o))
        return false;
    packNumeric(unscaled, neg, static_cast<int>(std::clamp<uint32_t>(c.precision, 1, ESQL_NUMERIC_DIGITS)), scale,
                dst);
    return true;
}

// Failures of putValue, out of line for the same reason: each builds its message text.
[[gnu::cold, gnu::noinline]] bool refuseReal(Outcome& o, double d, int32_t type) {
    failWith(o, ESQL_ERR_OUT_OF_RANGE, formatReal(d) + " does not fit " + typeLabel(type));
    return false;
}

[[gnu::cold, gnu::noinline]] bool refuseText(Outcome& o, const Value& v, int32_t type, bool range) {
    if (range)
        failWith(o, ESQL_ERR_OUT_OF_RANGE, "'" + std::string(v.p, v.n) + "' does not fit " + typeLabel(type));
    else
        failWith(o, ESQL_ERR_BAD_NUMBER, "'" + std::string(v.p, v.n) + "' is not a number");
    return false;
}

[[gnu::cold, gnu::noinline]] bool refuseInt(Outcome& o, int64_t x, int32_t type) {
    failWith(o, ESQL_ERR_OUT_OF_RANGE, formatInt(x) + " does not fit " + typeLabel(type));
    return false;
}

[[gnu::cold, gnu::noinline]] bool refuseDateTime(Outcome& o, const Value& v, int32_t type) {
    std::string shown = v.kind == Value::Text ? "'" + std::string(v.p, v.n) + "'"
                        : v.kind == Value::Int ? formatInt(v.i)
                        : v.kind == Value::Real ? formatReal(v.d)
                                                : std::string("binary value");
    failWith(o, ESQL_ERR_BAD_DATETIME, shown + " is not a valid " + typeLabel(type));
    return false;
}

// The value as an integer of the type, by the server's coercions: a double truncated, a
// text read as a whole number.
bool toInteger(const Value& v, int32_t type, int64_t& x, Outcome& o) {
    if (v.kind == Value::Int) {
        x = v.i;
    } else if (v.kind == Value::Real) {
        if (!(v.d > -9.2233720368547758e18 && v.d < 9.2233720368547758e18))
            return refuseReal(o, v.d, type);
        x = static_cast<int64_t>(std::trunc(v.d));
    } else if (v.kind == Value::Text) {
        bool range = false;
        if (!textToInt(v.p, v.n, x, range))
            return refuseText(o, v, type, range);
    } else {
        failWith(o, ESQL_ERR_BAD_NUMBER, std::string("binary value read as ") + typeLabel(type));
        return false;
    }
    return true;
}

// Text into a text element of the column: cut at a character within the element, with its
// NUL; a cut marks the value truncated with its full length. Answers the indicator.
int32_t putCutText(const char* s, size_t n, const OutColumn& c, char* dst, bool& truncated) {
    size_t k = utf8Cut(s, n, c.length - 1);
    std::memcpy(dst, s, k);
    dst[k] = '\0';
    if (k == n)
        return 0;
    truncated = true;
    return static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
}

// A NUMERIC or BIGINT value fetched as text: the decimal text of the value as the column's
// type takes it, the refusals of that type included.
[[gnu::noinline]] bool putNumberText(const Value& v, const OutColumn& c, char* dst, int32_t* ind, bool& truncated,
                                     Outcome& o) {
    int32_t indValue = 0;
    if (c.valueType == ESQL_BIGINT) {
        int64_t x = 0;
        if (!toInteger(v, ESQL_BIGINT, x, o))
            return false;
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, x);
        indValue = putCutText(buf, static_cast<size_t>(r.ptr - buf), c, dst, truncated);
    } else {
        int scale = 0;
        std::string unscaled;
        bool neg = false;
        if (!scaledNumeric(v, c, scale, unscaled, neg, o))
            return false;
        const std::string text = decimalText(neg, unscaled, scale);
        indValue = putCutText(text.data(), text.size(), c, dst, truncated);
    }
    if (ind)
        *ind = indValue;
    return true;
}

}  // namespace

bool putValue(const Value& v, const OutColumn& c, size_t row, bool& truncated, Outcome& o) {
    char* dst = c.data + row * c.length;
    int32_t* ind = c.indicator ? c.indicator + row : nullptr;
    if (v.kind == Value::Null) {
        if (!ind) {
            failWith(o, ESQL_ERR_NO_INDICATOR, "a NULL value and no indicator array");
            return false;
        }
        *ind = -1;
        return true;
    }
    int32_t indValue = 0;
    switch (c.type) {
    case ESQL_INTEGER:
    case ESQL_SMALLINT:
    case ESQL_TINYINT:
    case ESQL_BIT:
    case ESQL_BIGINT: {
        int64_t x = 0;
        if (!toInteger(v, c.type, x, o))
            return false;
        if (c.type == ESQL_BIT)
            x = x != 0;
        if (!fitsElement(x, c.length))
            return refuseInt(o, x, c.type);
        storeInt(dst, c.length, x);
        break;
    }
    case ESQL_REAL:
    case ESQL_FLOAT: {
        double x = 0;
        if (v.kind == Value::Real)
            x = v.d;
        else if (v.kind == Value::Int)
            x = static_cast<double>(v.i);
        else if (v.kind == Value::Text) {
            if (!textToReal(v.p, v.n, x))
                return refuseText(o, v, c.type, false);
        } else {
            failWith(o, ESQL_ERR_BAD_NUMBER, std::string("binary value read as ") + typeLabel(c.type));
            return false;
        }
        if (c.length == 4) {
            if (std::isfinite(x) && std::fabs(x) > std::numeric_limits<float>::max())
                return refuseReal(o, x, ESQL_REAL);
            float f = static_cast<float>(x);
            std::memcpy(dst, &f, 4);
        } else {
            std::memcpy(dst, &x, 8);
        }
        break;
    }
    case ESQL_NUMERIC:
        if (!putNumeric(v, c, dst, o))
            return false;
        break;
    case ESQL_DATE:
    case ESQL_TIME:
    case ESQL_TIMESTAMP: {
        DtKind kind = c.type == ESQL_DATE ? DtKind::Date
                      : c.type == ESQL_TIME ? DtKind::Time
                                            : DtKind::Timestamp;
        DateTime t;
        if (v.kind != Value::Text || !parseDateTime(v.p, v.n, kind, t))
            return refuseDateTime(o, v, c.type);
        if (c.type == ESQL_DATE) {
            ESQL_DATE_VALUE x{static_cast<int16_t>(t.year), static_cast<uint8_t>(t.month),
                        static_cast<uint8_t>(t.day)};
            std::memcpy(dst, &x, sizeof x);
        } else if (c.type == ESQL_TIME) {
            ESQL_TIME_VALUE x{static_cast<uint8_t>(t.hour), static_cast<uint8_t>(t.minute),
                        static_cast<uint8_t>(t.second), {0, 0, 0}};
            std::memcpy(dst, &x, sizeof x);
        } else {
            ESQL_TIMESTAMP_VALUE x{static_cast<int16_t>(t.year), static_cast<uint8_t>(t.month),
                             static_cast<uint8_t>(t.day), static_cast<uint8_t>(t.hour),
                             static_cast<uint8_t>(t.minute), static_cast<uint8_t>(t.second), 0,
                             static_cast<uint16_t>(t.millisecond)};
            std::memcpy(dst, &x, sizeof x);
        }
        break;
    }
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: {
        if (c.valueType == ESQL_NUMERIC || c.valueType == ESQL_BIGINT)
            return putNumberText(v, c, dst, ind, truncated, o);
        std::string tmp;
        std::string_view bytes = valueBytes(v, tmp);
        const char* s = bytes.data();
        size_t n = bytes.size();
        size_t room = c.length - 1;
        // CHARACTER(n) ignores blanks after its n bytes (the column took 'ab   ' into
        // CHARACTER(3)); they are padding, not data to report as cut.
        if (c.type == ESQL_CHARACTER)
            while (n > c.precision && s[n - 1] == ' ')
                --n;
        size_t k = utf8Cut(s, n, room);
        std::memcpy(dst, s, k);
        if (k < n) {
            truncated = true;
            indValue = static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
        }
        if (c.type == ESQL_CHARACTER) {
            // Padded to n characters: a UTF-8 client's text counts each character once.
            size_t chars = k;
            if (!o.clientLatin1)
                for (size_t i = 0; i < k; ++i)
                    chars -= (static_cast<unsigned char>(dst[i]) & 0xC0) == 0x80;
            size_t pad = chars < c.precision ? std::min<size_t>(c.precision - chars, room - k) : 0;
            std::memset(dst + k, ' ', pad);
            k += pad;
        }
        dst[k] = '\0';
        break;
    }
    case ESQL_BINARY:
    case ESQL_VARBINARY: {
        std::string tmp;
        std::string_view bytes = valueBytes(v, tmp);
        const char* s = bytes.data();
        size_t n = bytes.size();
        size_t room = c.length - 4;
        size_t k = std::min(n, room);
        if (k != 0)  // SQLite answers an empty blob with a null pointer
            std::memcpy(dst + 4, s, k);
        if (k < n) {
            truncated = true;
            indValue = static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
        }
        if (c.type == ESQL_BINARY) {
            size_t pad = std::min<size_t>(c.precision, room);
            if (k < pad) {
                std::memset(dst + 4 + k, 0, pad - k);
                k = pad;
            }
        }
        int32_t count = static_cast<int32_t>(k);
        std::memcpy(dst, &count, 4);
        break;
    }
    default:
        failWith(o, ESQL_ERR_BINDING, "unknown type " + std::to_string(c.type));
        return false;
    }
    if (ind)
        *ind = indValue;
    return true;
}

PutLane putLaneFor(const OutColumn& c) {
    switch (c.type) {
    case ESQL_INTEGER:
    case ESQL_SMALLINT:
    case ESQL_TINYINT:
    case ESQL_BIGINT: return PutLane::Integer;
    case ESQL_FLOAT: return c.length == 8 ? PutLane::Double : PutLane::None;
    case ESQL_VARCHAR:
        return c.valueType == ESQL_BIGINT    ? PutLane::BigintText
               : c.valueType == ESQL_NUMERIC ? PutLane::None
                                             : PutLane::Varchar;
    case ESQL_DATE: return PutLane::Date;
    default: return PutLane::None;
    }
}

namespace {

// 'YYYY/MM/DD' with a day the month always has (1 to 28): the stored form of nearly every
// fetched DATE, read without parseDateTime's general grammar. false for any other text,
// which parseDateTime then reads (or refuses) as always.
bool readCommonDate(const char* s, size_t n, ESQL_DATE_VALUE& out) {
    if (n != 10 || s[4] != '/' || s[7] != '/')
        return false;
    const auto d = [s](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(s[k])) - '0'; };
    const unsigned y0 = d(0), y1 = d(1), y2 = d(2), y3 = d(3), m0 = d(5), m1 = d(6), d0 = d(8), d1 = d(9);
    if (std::max({y0, y1, y2, y3, m0, m1, d0, d1}) > 9)
        return false;
    const unsigned year = y0 * 1000 + y1 * 100 + y2 * 10 + y3;
    const unsigned month = m0 * 10 + m1;
    const unsigned day = d0 * 10 + d1;
    if (year == 0 || month == 0 || month > 12 || day == 0 || day > 28)
        return false;
    out = ESQL_DATE_VALUE{static_cast<int16_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
    return true;
}

}  // namespace

bool putByLane(PutLane lane, const Value& v, const OutColumn& c, size_t row, bool& truncated) {
    char* dst = c.data + row * c.length;
    int32_t indValue = 0;
    switch (lane) {
    case PutLane::Integer:
        if (v.kind != Value::Int || !fitsElement(v.i, c.length))
            return false;
        storeInt(dst, c.length, v.i);
        break;
    case PutLane::Double:
        if (v.kind != Value::Real)
            return false;
        std::memcpy(dst, &v.d, 8);
        break;
    case PutLane::Varchar: {
        if (v.kind != Value::Text)
            return false;
        size_t k = utf8Cut(v.p, v.n, c.length - 1);
        std::memcpy(dst, v.p, k);
        if (k < v.n) {
            truncated = true;
            indValue = static_cast<int32_t>(std::min<size_t>(v.n, INT32_MAX));
        }
        dst[k] = '\0';
        break;
    }
    case PutLane::BigintText: {
        // Twenty characters and the NUL hold every BIGINT: a shorter element goes the
        // general way, which cuts.
        if (v.kind != Value::Int || c.length < 21)
            return false;
        auto r = std::to_chars(dst, dst + 20, v.i);
        *r.ptr = '\0';
        break;
    }
    case PutLane::Date: {
        if (v.kind != Value::Text)
            return false;
        ESQL_DATE_VALUE x;
        if (!readCommonDate(v.p, v.n, x)) {
            DateTime t;
            if (!parseDateTime(v.p, v.n, DtKind::Date, t))
                return false;
            x = ESQL_DATE_VALUE{static_cast<int16_t>(t.year), static_cast<uint8_t>(t.month),
                                static_cast<uint8_t>(t.day)};
        }
        std::memcpy(dst, &x, sizeof x);
        break;
    }
    case PutLane::None:
        return false;
    }
    if (c.indicator)
        c.indicator[row] = indValue;
    return true;
}

// ---------------------------------------------------------------------------------------
// Input: an SQLDA element (a parameter) into a value.

bool getValue(const SqldaColumn& c, size_t row, uint32_t column, Value& v, std::string& scratch,
              Outcome& o) {
    if (c.indicator && c.indicator[row] == -1) {
        v = Value::null();
        return true;
    }
    if (c.data == nullptr) {
        failWith(o, ESQL_ERR_BINDING, "no data buffer bound for parameter " + std::to_string(column));
        return false;
    }
    const char* src = static_cast<const char*>(c.data) + row * c.length;
    auto tooSmall = [&](uint32_t need) {
        if (c.length >= need)
            return false;
        failWith(o, ESQL_ERR_BINDING, "element length " + std::to_string(c.length) + " too small for " +
                                          typeLabel(c.type) + " in parameter " + std::to_string(column));
        return true;
    };
    switch (c.type) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: {
        const int32_t given = c.indicator ? c.indicator[row] : 0;
        v = Value::text(src, given > 0 ? std::min<size_t>(static_cast<uint32_t>(given), c.length)
                                       : strnlen(src, c.length));
        return true;
    }
    case ESQL_INTEGER:
    case ESQL_SMALLINT:
    case ESQL_TINYINT:
    case ESQL_BIT:
    case ESQL_BIGINT:
        if (c.length != 1 && c.length != 2 && c.length != 4 && c.length != 8) {
            failWith(o, ESQL_ERR_BINDING, "element length " + std::to_string(c.length) +
                                              " does not hold an integer in parameter " +
                                              std::to_string(column));
            return false;
        }
        v = Value::integer(loadInt(src, c.length));
        if (c.type == ESQL_BIT)
            v.i = v.i != 0;
        return true;
    case ESQL_REAL:
    case ESQL_FLOAT:
        if (c.length == 4) {
            float f;
            std::memcpy(&f, src, 4);
            v = Value::real(f);
        } else if (c.length == 8) {
            double d;
            std::memcpy(&d, src, 8);
            v = Value::real(d);
        } else {
            failWith(o, ESQL_ERR_BINDING, "element length " + std::to_string(c.length) +
                                              " does not hold a float in parameter " + std::to_string(column));
            return false;
        }
        // SQLite would keep NaN as NULL: no number the server stores.
        if (std::isnan(v.d)) {
            failWith(o, ESQL_ERR_OUT_OF_RANGE, "NaN is no value of " + std::string(typeLabel(c.type)) +
                                                   " in parameter " + std::to_string(column));
            return false;
        }
        return true;
    case ESQL_NUMERIC:
        if (tooSmall(ESQL_NUMERIC_SIZE))
            return false;
        if (!unpackNumeric(src, scratch)) {
            failWith(o, ESQL_ERR_BAD_NUMBER, "malformed NUMERIC in parameter " + std::to_string(column));
            return false;
        }
        v = Value::text(scratch.data(), scratch.size());
        return true;
    case ESQL_DATE:
    case ESQL_TIME:
    case ESQL_TIMESTAMP: {
        DateTime t;
        DtKind kind;
        if (c.type == ESQL_DATE) {
            if (tooSmall(4)) return false;
            ESQL_DATE_VALUE x;
            std::memcpy(&x, src, sizeof x);
            t.year = x.year; t.month = x.month; t.day = x.day;
            kind = DtKind::Date;
        } else if (c.type == ESQL_TIME) {
            if (tooSmall(6)) return false;
            ESQL_TIME_VALUE x;
            std::memcpy(&x, src, sizeof x);
            t.hour = x.hour; t.minute = x.minute; t.second = x.second;
            kind = DtKind::Time;
        } else {
            if (tooSmall(10)) return false;
            ESQL_TIMESTAMP_VALUE x;
            std::memcpy(&x, src, sizeof x);
            t.year = x.year; t.month = x.month; t.day = x.day;
            t.hour = x.hour; t.minute = x.minute; t.second = x.second;
            t.millisecond = x.millisecond;
            kind = DtKind::Timestamp;
        }
        bool dateOk = kind == DtKind::Time ||
                      (t.year >= 1 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                       t.day <= daysInMonth(t.year, t.month));
        bool timeOk = kind == DtKind::Date ||
                      (t.hour <= 23 && t.minute <= 59 && t.second <= 59 && t.millisecond <= 999);
        if (!dateOk || !timeOk) {
            failWith(o, ESQL_ERR_BAD_DATETIME, std::string("invalid ") + typeLabel(c.type) +
                                                   " in parameter " + std::to_string(column));
            return false;
        }
        char text[kDateTimeTextMax];
        scratch.assign(text, formatDateTime(t, kind, text));
        v = Value::text(scratch.data(), scratch.size());
        return true;
    }
    case ESQL_BINARY:
    case ESQL_VARBINARY: {
        if (tooSmall(4))
            return false;
        int32_t count;
        std::memcpy(&count, src, 4);
        if (count < 0 || static_cast<uint32_t>(count) > c.length - 4) {
            failWith(o, ESQL_ERR_BINDING, "byte count " + std::to_string(count) +
                                              " outside the element of parameter " + std::to_string(column));
            return false;
        }
        v = Value::blob(src + 4, static_cast<size_t>(count));
        return true;
    }
    default:
        failWith(o, ESQL_ERR_BINDING, "unknown type " + std::to_string(c.type) + " in parameter " +
                                          std::to_string(column));
        return false;
    }
}

InputLane inputLane(const SqldaColumn& c, bool latin1Client) {
    if (c.data == nullptr)
        return InputLane::Checked;  // fails at the first value that is not NULL
    switch (c.type) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR:
        return latin1Client ? InputLane::Latin1Text : InputLane::Text;
    case ESQL_INTEGER:
    case ESQL_SMALLINT:
    case ESQL_TINYINT:
    case ESQL_BIGINT:
        return c.length == 4 ? InputLane::Int32 : c.length == 8 ? InputLane::Int64 : InputLane::Checked;
    case ESQL_REAL:
    case ESQL_FLOAT:
        return c.length == 4 ? InputLane::Real32 : c.length == 8 ? InputLane::Real64 : InputLane::Checked;
    case ESQL_DATE:
        return c.length >= sizeof(ESQL_DATE_VALUE) ? InputLane::Date : InputLane::Checked;
    default:
        return InputLane::Checked;
    }
}

bool readInput(InputLane lane, const SqldaColumn& c, size_t row, uint32_t column, Value& v,
               std::string& scratch, Outcome& o) {
    if (lane == InputLane::Checked)
        return getValue(c, row, column, v, scratch, o);
    const int32_t ind = c.indicator ? c.indicator[row] : 0;
    if (ind == -1) {
        v = Value::null();
        return true;
    }
    const char* src = static_cast<const char*>(c.data) + row * c.length;
    // A positive indicator of text is its byte length (a NUL inside is part of it).
    const size_t given = ind > 0 ? std::min<size_t>(static_cast<uint32_t>(ind), c.length) : 0;
    switch (lane) {
    case InputLane::Text: {
        // Measured and searched for bytes above 0x7F in one pass; only those need the check.
        const TextExtent t = ind > 0 ? TextExtent{given, hasHighBytes({src, given})} : textExtent(src, c.length);
        if (t.high && !validUtf8({src, t.length})) {
            failBadText(o, "parameter " + std::to_string(column));
            return false;
        }
        v = Value::text(src, t.length);
        return true;
    }
    case InputLane::Latin1Text: {
        const TextExtent t = ind > 0 ? TextExtent{given, hasHighBytes({src, given})} : textExtent(src, c.length);
        if (t.high) {
            scratch = utf8FromLatin1({src, t.length});
            v = Value::text(scratch.data(), scratch.size());
        } else {
            v = Value::text(src, t.length);
        }
        return true;
    }
    case InputLane::Int32: {
        int32_t x;
        std::memcpy(&x, src, sizeof x);
        v = Value::integer(x);
        return true;
    }
    case InputLane::Int64: {
        int64_t x;
        std::memcpy(&x, src, sizeof x);
        v = Value::integer(x);
        return true;
    }
    case InputLane::Real32: {
        float x;
        std::memcpy(&x, src, sizeof x);
        if (x != x)
            return getValue(c, row, column, v, scratch, o);  // NaN: posts the refusal
        v = Value::real(x);
        return true;
    }
    case InputLane::Real64: {
        double x;
        std::memcpy(&x, src, sizeof x);
        if (x != x)
            return getValue(c, row, column, v, scratch, o);  // NaN: posts the refusal
        v = Value::real(x);
        return true;
    }
    case InputLane::Date: {
        ESQL_DATE_VALUE x;
        std::memcpy(&x, src, sizeof x);
        if (x.year < 1 || x.year > 9999 || x.month < 1 || x.month > 12 || x.day < 1 ||
            x.day > daysInMonth(x.year, x.month))
            return getValue(c, row, column, v, scratch, o);  // posts the refusal
        // The literal form written in place: the marker's text keeps its room from row to row.
        scratch.resize(10);
        char* p = scratch.data();
        p = putDigits(p, x.year, 4);
        *p++ = '/';
        p = putDigits(p, x.month, 2);
        *p++ = '/';
        putDigits(p, x.day, 2);
        v = Value::text(scratch.data(), scratch.size());
        return true;
    }
    case InputLane::Checked:
        break;
    }
    return getValue(c, row, column, v, scratch, o);
}

TextExtent textExtent(const char* s, size_t max) {
    // Eight bytes at a time, little-endian: (w - 0x01..) & ~w & 0x80.. marks a byte that is
    // zero, and its lowest mark is the first NUL (no borrow reaches the bytes below it).
    static_assert(std::endian::native == std::endian::little);
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    uint64_t seen = 0;
    size_t n = 0;
    for (; max - n >= 8; n += 8) {
        uint64_t word;
        std::memcpy(&word, s + n, 8);
        const uint64_t zero = (word - kOnes) & ~word & kHighBits;
        if (zero != 0) {
            const int bytes = std::countr_zero(zero) / 8;  // before the NUL
            const uint64_t before = bytes == 0 ? 0 : ~uint64_t{0} >> (64 - 8 * bytes);
            return {n + static_cast<size_t>(bytes), ((seen | (word & before)) & kHighBits) != 0};
        }
        seen |= word;
    }
    for (; n < max && s[n] != '\0'; ++n)
        seen |= static_cast<unsigned char>(s[n]);
    return {n, (seen & kHighBits) != 0};
}

bool hasHighBytes(std::string_view text) {
    // Eight bytes at a time: every fetched text of an ISO-8859-1 client passes here, and
    // the bytewise loop was a tenth of a whole fetch.
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    const char* p = text.data();
    size_t n = text.size();
    // Thirty-two bytes a test for the long texts.
    for (; n >= 32; p += 32, n -= 32) {
        uint64_t w[4];
        std::memcpy(w, p, 32);
        if (((w[0] | w[1] | w[2] | w[3]) & kHighBits) != 0)
            return true;
    }
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if ((word & kHighBits) != 0)
            return true;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return true;
    return false;
}

bool validUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        uint32_t min;
        if (b >= 0xC2 && b <= 0xDF)
            len = 2, cp = b & 0x1F, min = 0x80;
        else if (b >= 0xE0 && b <= 0xEF)
            len = 3, cp = b & 0x0F, min = 0x800;
        else if (b >= 0xF0 && b <= 0xF4)
            len = 4, cp = b & 0x07, min = 0x10000;
        else
            return false;
        if (n - i < len)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

void failBadText(Outcome& o, const std::string& what) {
    failWith(o, ESQL_ERR_BAD_TEXT, "Invalid character value: the text of " + what +
                                       " is not valid in the client's code page UTF-8");
}

std::string utf8FromLatin1(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string latin1FromUtf8(std::string_view text) {
    std::string out;
    latin1FromUtf8(text, out);
    return out;
}

void latin1FromUtf8(std::string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        // One whole, shortest-form character, or '?' for its first byte alone.
        const size_t need = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t code = need == 3 ? c & 0x07u : need == 2 ? c & 0x0Fu : c & 0x1Fu;
        bool whole = need > 0 && c < 0xF5;
        for (size_t k = 1; whole && k <= need; ++k) {
            if (i + k >= text.size()) {
                whole = false;
                break;
            }
            const auto cc = static_cast<unsigned char>(text[i + k]);
            whole = (cc & 0xC0) == 0x80;
            code = code << 6 | (cc & 0x3Fu);
        }
        static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (whole && (code < kLeast[need] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
            whole = false;
        if (!whole) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
        i += need + 1;
    }
}

std::string renderValue(const Value& v) {
    switch (v.kind) {
    case Value::Null: return "NULL";
    case Value::Int: return formatInt(v.i);
    case Value::Real: return formatReal(v.d);
    case Value::Text: {
        std::string s = "'";
        for (size_t k = 0; k < v.n; ++k) {
            if (v.p[k] == '\'')
                s += "''";
            else
                s += v.p[k];
        }
        return s + "'";
    }
    case Value::Blob: {
        static const char hex[] = "0123456789abcdef";
        std::string s = "x'";
        for (size_t k = 0; k < v.n; ++k) {
            unsigned char b = static_cast<unsigned char>(v.p[k]);
            s += hex[b >> 4];
            s += hex[b & 15];
        }
        return s + "'";
    }
    }
    return "?";
}

}  // namespace esql

// ---------------------------------------------------------------------------------------
// The client's value-to-text export.

extern "C" int esql92_value_to_text(int type, uint32_t srclen, const void* src, const char* format,
                                    char* dst, uint32_t dstlen) {
    if (dst && dstlen > 0)
        dst[0] = '\0';
    if (src == nullptr || dst == nullptr || (format != nullptr && format[0] != '\0'))
        return -1;
    if (type == ESQL_BIGINT) {
        // Written in place: the driver renders every fetched BIGINT through here.
        if (srclen < 8)
            return -1;
        int64_t v;
        std::memcpy(&v, src, 8);
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        auto n = static_cast<uint32_t>(r.ptr - buf);
        if (n + 1 > dstlen)
            return -1;
        std::memcpy(dst, buf, n);
        dst[n] = '\0';
        return static_cast<int>(n);
    }
    std::string text;
    if (type != ESQL_NUMERIC || srclen < ESQL_NUMERIC_SIZE || !esql::unpackNumeric(src, text))
        return -1;
    if (text.size() + 1 > dstlen)
        return -1;
    std::memcpy(dst, text.c_str(), text.size() + 1);
    return static_cast<int>(text.size());
}
