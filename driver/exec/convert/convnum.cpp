// Conversion from numeric internal values, and exact decimal arithmetic for
// SQL_NUMERIC_STRUCT.
#include "driver/exec/convert/convnum.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>

#include "driver/exec/convert/valtypes.h"
#include "util/errcode.h"

namespace {

using u128 = unsigned __int128;

constexpr int kMaxNumericDigits = 38;

// A value with a dropped fraction is written, then warns 01S07.
SQLRETURN WarnFraction(SQLRETURN written, int* err) {
    if (written == SQL_ERROR)
        return written;
    if (*err != ERR_DATA_WAS_TRUNCATED)
        *err = ERR_FRACTIONAL_TRUNCATION;
    return SQL_SUCCESS_WITH_INFO;
}

DecimalValue DecimalOfChars(const char* first, const char* last) {
    // first..last holds "[-]d[.ddd]e(+|-)xx" as to_chars writes it in scientific form.
    DecimalValue v;
    const char* p = first;
    if (*p == '-') {
        v.negative = true;
        ++p;
    }
    int fractionDigits = 0;
    bool afterPoint = false;
    for (; p < last && *p != 'e'; ++p) {
        if (*p == '.') {
            afterPoint = true;
            continue;
        }
        v.digits.push_back(*p);
        fractionDigits += afterPoint ? 1 : 0;
    }
    int exponent = 0;
    if (p < last) {
        ++p;
        if (*p == '+')
            ++p;
        std::from_chars(p, last, exponent);
    }
    v.exponent = exponent - fractionDigits;
    return v;
}

DecimalValue DecimalOfInteger(int64_t value, bool isSigned) {
    DecimalValue v;
    char buf[24];
    std::to_chars_result r = isSigned ? std::to_chars(buf, buf + sizeof buf, value)
                                      : std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(value));
    const char* p = buf;
    if (*p == '-') {
        v.negative = true;
        ++p;
    }
    v.digits.assign(p, static_cast<const char*>(r.ptr));
    return v;
}

// Integer C targets: width in bytes and signedness.
struct IntTarget {
    int bytes;
    bool isSigned;
};

bool IntegerTarget(int32_t cType, IntTarget* t) {
    switch (cType) {
    case SQL_C_TINYINT: case SQL_C_STINYINT: *t = {1, true}; return true;
    case SQL_C_UTINYINT: *t = {1, false}; return true;
    case SQL_C_SHORT: case SQL_C_SSHORT: *t = {2, true}; return true;
    case SQL_C_USHORT: *t = {2, false}; return true;
    case SQL_C_LONG: case SQL_C_SLONG: *t = {4, true}; return true;
    case SQL_C_ULONG: *t = {4, false}; return true;
    case SQL_C_SBIGINT: *t = {8, true}; return true;
    case SQL_C_UBIGINT: *t = {8, false}; return true;
    default: return false;
    }
}

int64_t SignedMin(int bytes) {
    return bytes == 8 ? INT64_MIN : -(int64_t{1} << (8 * bytes - 1));
}
int64_t SignedMax(int bytes) {
    return bytes == 8 ? INT64_MAX : (int64_t{1} << (8 * bytes - 1)) - 1;
}
uint64_t UnsignedMax(int bytes) {
    return bytes == 8 ? UINT64_MAX : (uint64_t{1} << (8 * bytes)) - 1;
}

// Writes the low bytes of bits (little-endian hosts: the first bytes of the 64-bit value).
SQLRETURN WriteInteger(uint64_t bits, int bytes, void* dst, SQLLEN* outLen, int* err) {
    uint8_t b8 = static_cast<uint8_t>(bits);
    uint16_t b16 = static_cast<uint16_t>(bits);
    uint32_t b32 = static_cast<uint32_t>(bits);
    switch (bytes) {
    case 1: return CopyFixedOut(dst, &b8, 1, outLen, err);
    case 2: return CopyFixedOut(dst, &b16, 2, outLen, err);
    case 4: return CopyFixedOut(dst, &b32, 4, outLen, err);
    default: return CopyFixedOut(dst, &bits, 8, outLen, err);
    }
}

// The shared body of ConvertLONG, ConvertSHORT and ConvertBYTE; sourceBytes is 4, 2 or 1.
SQLRETURN ConvertInteger(int64_t value, bool isSigned, int sourceBytes, int defaultPrecision, int32_t cType,
                         void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, int scale, int precision) {
    // The source's own value: an unsigned source never reads as negative.
    if (!isSigned)
        value = static_cast<int64_t>(static_cast<uint64_t>(value) & UnsignedMax(sourceBytes));
    IntTarget t{};
    if (IntegerTarget(cType, &t)) {
        if (t.isSigned || t.bytes < sourceBytes) {
            const int64_t lo = t.isSigned ? SignedMin(t.bytes) : 0;
            const bool fits = value >= lo && (t.isSigned ? value <= SignedMax(t.bytes)
                                                         : static_cast<uint64_t>(value) <= UnsignedMax(t.bytes));
            if (!fits)
                return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        }
        return WriteInteger(static_cast<uint64_t>(value), t.bytes, dst, outLen, err);
    }
    switch (cType) {
    case SQL_C_CHAR: case SQL_C_WCHAR: {
        char text[24];
        *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
        return CopyTextOut(text, true, cType, dst, dstLen, outLen, err);
    }
    case SQL_C_BIT: {
        if (value != 0 && value != 1)
            return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        const unsigned char bit = static_cast<unsigned char>(value);
        return CopyFixedOut(dst, &bit, 1, outLen, err);
    }
    case SQL_C_FLOAT: {
        const auto f = static_cast<float>(value);
        return CopyFixedOut(dst, &f, sizeof f, outLen, err);
    }
    case SQL_C_DOUBLE: {
        const auto d = static_cast<double>(value);
        return CopyFixedOut(dst, &d, sizeof d, outLen, err);
    }
    case SQL_C_BINARY: {
        // The source's own bytes, never cut.
        const uint64_t bits = static_cast<uint64_t>(value);
        return CopyCharOut(&bits, sourceBytes, sourceBytes, 0, false, false, dst, dstLen, outLen, err);
    }
    case SQL_C_NUMERIC: {
        SQL_NUMERIC_STRUCT n{};
        const SQLRETURN rc =
            DecimalToNumeric(DecimalOfInteger(value, true), &n, scale, precision, defaultPrecision, err);
        if (rc == SQL_ERROR)
            return rc;
        CopyFixedOut(dst, &n, sizeof n, outLen, err);
        return rc;
    }
    default:
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    }
}

// The shared body of ConvertDOUBLE and ConvertFLOAT; a real arrives widened, with
// isFloat set, so that its text and decimal digits are those of the real.
SQLRETURN ConvertFloating(double value, bool isFloat, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                          int* err, int scale, int precision) {
    if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR) {
        char text[40];
        FormatDouble(text, sizeof text, value, isFloat ? 8 : 17);
        return CopyTextOut(text, true, cType, dst, dstLen, outLen, err);
    }
    IntTarget t{};
    const bool integer = IntegerTarget(cType, &t);
    if (!integer && cType != SQL_C_BIT && cType != SQL_C_FLOAT && cType != SQL_C_DOUBLE && cType != SQL_C_BINARY &&
        cType != SQL_C_NUMERIC)
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    if (!std::isfinite(value))
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);

    const double whole = std::trunc(value);
    if (integer) {
        // The 64-bit bounds 2^63 and 2^64 are doubles exactly; INT64_MAX and UINT64_MAX are
        // not (they round up to them), so the upper bound is tested as "below".
        bool fits;
        if (t.bytes == 8)
            fits = t.isSigned ? whole >= -9223372036854775808.0 && whole < 9223372036854775808.0
                              : whole >= 0 && whole < 18446744073709551616.0;
        else if (t.isSigned)
            fits = whole >= static_cast<double>(SignedMin(t.bytes)) && whole <= static_cast<double>(SignedMax(t.bytes));
        else
            fits = whole >= 0 && whole <= static_cast<double>(UnsignedMax(t.bytes));
        if (!fits)
            return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        const uint64_t bits = t.isSigned ? static_cast<uint64_t>(static_cast<int64_t>(whole))
                                         : static_cast<uint64_t>(whole);
        const SQLRETURN rc = WriteInteger(bits, t.bytes, dst, outLen, err);
        return whole == value ? rc : WarnFraction(rc, err);
    }
    switch (cType) {
    case SQL_C_BIT: {
        if (value != 0 && value != 1)
            return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        const unsigned char bit = value == 1 ? 1 : 0;
        return CopyFixedOut(dst, &bit, 1, outLen, err);
    }
    case SQL_C_FLOAT: {
        if (std::fabs(value) > FLT_MAX)
            return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        const auto f = static_cast<float>(value);
        return CopyFixedOut(dst, &f, sizeof f, outLen, err);
    }
    case SQL_C_DOUBLE:
        return CopyFixedOut(dst, &value, sizeof value, outLen, err);
    case SQL_C_BINARY: {
        if (isFloat) {
            const auto f = static_cast<float>(value);
            return CopyCharOut(&f, sizeof f, sizeof f, 0, false, false, dst, dstLen, outLen, err);
        }
        return CopyCharOut(&value, sizeof value, sizeof value, 0, false, false, dst, dstLen, outLen, err);
    }
    default: {  // SQL_C_NUMERIC
        SQL_NUMERIC_STRUCT n{};
        const DecimalValue d = isFloat ? DecimalOfFloat(static_cast<float>(value)) : DecimalOfDouble(value);
        const SQLRETURN rc = DecimalToNumeric(d, &n, scale, precision, isFloat ? 7 : 15, err);
        if (rc == SQL_ERROR)
            return rc;
        CopyFixedOut(dst, &n, sizeof n, outLen, err);
        return rc;
    }
    }
}

}  // namespace

DecimalValue DecimalOfDouble(double x) {
    char buf[40];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    return DecimalOfChars(buf, r.ptr);
}

DecimalValue DecimalOfFloat(float x) {
    char buf[40];
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    return DecimalOfChars(buf, r.ptr);
}

SQLRETURN DecimalToNumeric(const DecimalValue& value, SQL_NUMERIC_STRUCT* numeric, int scale, int precision,
                           int defaultPrecision, int* err) {
    if (scale < -128 || scale > 127)
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
    if (precision < 0 || precision > kMaxNumericDigits)
        precision = kMaxNumericDigits;
    // The magnitude is digits x 10^(exponent + scale): whole digits kept, the rest dropped.
    size_t first = value.digits.find_first_not_of('0');
    if (first == std::string::npos)
        first = value.digits.size();
    const long significant = static_cast<long>(value.digits.size() - first);
    const long shift = static_cast<long>(value.exponent) + scale;
    long kept = significant + (shift < 0 ? shift : 0);   // significant digits that stay
    if (kept < 0)
        kept = 0;
    const long magnitudeDigits = kept == 0 ? 0 : kept + (shift > 0 ? shift : 0);
    if (magnitudeDigits > kMaxNumericDigits)
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
    if (precision != 0 && magnitudeDigits > precision)
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);

    u128 magnitude = 0;
    for (long i = 0; i < kept; ++i)
        magnitude = magnitude * 10 + static_cast<unsigned>(value.digits[first + static_cast<size_t>(i)] - '0');
    for (long i = 0; kept > 0 && i < shift; ++i)
        magnitude *= 10;
    bool dropped = false;
    for (long i = kept; i < significant; ++i)
        dropped = dropped || value.digits[first + static_cast<size_t>(i)] != '0';

    if (precision == 0) {
        precision = defaultPrecision > kMaxNumericDigits ? kMaxNumericDigits : defaultPrecision;
        if (precision < magnitudeDigits)
            precision = static_cast<int>(magnitudeDigits);
        if (precision == 0)
            precision = 1;
    }
    *numeric = SQL_NUMERIC_STRUCT{};
    numeric->precision = static_cast<SQLCHAR>(precision);
    numeric->scale = static_cast<SQLSCHAR>(scale);
    numeric->sign = value.negative && magnitude != 0 ? 0 : 1;
    for (int i = 0; i < SQL_MAX_NUMERIC_LEN; ++i)
        numeric->val[i] = static_cast<SQLCHAR>(magnitude >> (8 * i));
    if (dropped) {
        if (*err != ERR_DATA_WAS_TRUNCATED)
            *err = ERR_FRACTIONAL_TRUNCATION;
        return SQL_SUCCESS_WITH_INFO;
    }
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN DoubleToNumeric(double x, SQL_NUMERIC_STRUCT* numeric, int scale, int precision, int* err,
                          int defaultPrecision) {
    if (!std::isfinite(x))
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
    return DecimalToNumeric(DecimalOfDouble(x), numeric, scale, precision, defaultPrecision, err);
}

void NumericToText(const SQL_NUMERIC_STRUCT* numeric, char* dest, size_t destSize) {
    if (destSize == 0)
        return;
    u128 magnitude = 0;
    for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i)
        magnitude = magnitude << 8 | numeric->val[i];
    char digits[40];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    const bool zero = n == 1 && digits[0] == '0';

    std::string text;
    if (numeric->sign == 0 && !zero)
        text.push_back('-');
    const int scale = numeric->scale;
    if (scale <= 0) {
        for (size_t i = n; i > 0; --i)
            text.push_back(digits[i - 1]);
        if (!zero)
            text.append(static_cast<size_t>(-scale), '0');
    } else {
        const auto fraction = static_cast<size_t>(scale);
        if (n <= fraction) {
            text += "0.";
            text.append(fraction - n, '0');
            for (size_t i = n; i > 0; --i)
                text.push_back(digits[i - 1]);
        } else {
            for (size_t i = n; i > 0; --i) {
                text.push_back(digits[i - 1]);
                if (i - 1 == fraction)
                    text.push_back('.');
            }
        }
    }
    const size_t len = text.size() < destSize - 1 ? text.size() : destSize - 1;
    std::memcpy(dest, text.data(), len);
    dest[len] = '\0';
}

SQLRETURN ConvertLONG(int64_t value, bool isSigned, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err, int scale, int precision) {
    return ConvertInteger(value, isSigned, 4, 9, cType, dst, dstLen, outLen, err, scale, precision);
}

SQLRETURN ConvertSHORT(int64_t value, bool isSigned, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                       int* err, int scale, int precision) {
    return ConvertInteger(value, isSigned, 2, 4, cType, dst, dstLen, outLen, err, scale, precision);
}

SQLRETURN ConvertBYTE(int64_t value, bool isSigned, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err, int scale, int precision) {
    return ConvertInteger(value, isSigned, 1, 2, cType, dst, dstLen, outLen, err, scale, precision);
}

SQLRETURN ConvertDOUBLE(double value, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, int scale,
                        int precision) {
    return ConvertFloating(value, false, cType, dst, dstLen, outLen, err, scale, precision);
}

SQLRETURN ConvertFLOAT(float value, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, int scale,
                       int precision) {
    return ConvertFloating(value, true, cType, dst, dstLen, outLen, err, scale, precision);
}
