// Conversion from narrow and wide text values, and the text parsers.
#include "driver/exec/convert/convtext.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "driver/exec/convert/convnum.h"
#include "driver/exec/convert/valtypes.h"
#include "util/charset.h"
#include "util/errcode.h"

namespace {

constexpr SQLLEN kMaxDecimalText = 513;   // bytes from which a decimal text is refused
constexpr long kExponentLimit = 100000;   // beyond every double and every numeric alike

// White space of the C locale, whatever locale the application set: numbers read the same
// everywhere, and the check stays inline on the path of every fetched number text.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads "[ws][+-](d+[.d*]|.d+)[(e|E)[+-]d+]" and, when trailingSpace, white space after it;
// false when anything else is left. The exponent saturates far beyond any target.
bool ReadDecimal(std::string_view s, bool trailingSpace, DecimalValue* out) {
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    out->negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        out->negative = s[i++] == '-';
    out->digits.clear();
    long exponent = 0;
    while (i < s.size() && IsDigit(s[i]))
        out->digits.push_back(s[i++]);
    bool any = !out->digits.empty();
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            out->digits.push_back(s[i++]);
            --exponent;
            any = true;
        }
    }
    if (!any)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            negative = s[i++] == '-';
        if (i == s.size() || !IsDigit(s[i]))
            return false;
        long e = 0;
        while (i < s.size() && IsDigit(s[i])) {
            if (e < kExponentLimit)
                e = e * 10 + (s[i] - '0');
            ++i;
        }
        exponent += negative ? -e : e;
    }
    while (trailingSpace && i < s.size() && IsSpace(s[i]))
        ++i;
    out->exponent = static_cast<int>(exponent);
    return i == s.size();
}

// Wide text reaches the parsers as a UTF-8 copy of its units.
class Utf8Copy {
public:
    Utf8Copy(const SQLWCHAR* text, SQLLEN units) {
        if (units < 0)
            units = 0;
        // Three bytes a unit at most: a pair of units makes four.
        const SQLLEN limit = units * 3;
        data_.reset(static_cast<char*>(std::malloc(static_cast<size_t>(limit) + 1)));
        if (data_ != nullptr && text != nullptr)
            len_ = ut_Ucs2ToUtf8N(text, units, data_.get(), limit, nullptr);
    }
    bool ok() const { return data_ != nullptr; }
    const char* data() const { return data_.get(); }
    SQLLEN len() const { return len_; }

private:
    std::unique_ptr<char, UtFree> data_;
    SQLLEN len_ = 0;
};

// Digits counted for SQL_C_NUMERIC when no precision is given: every character but "."
// from the first digit up to an exponent letter, or every digit when there is none.
int CountedPrecision(std::string_view s) {
    const size_t e = s.find_first_of("eE");
    int n = 0;
    if (e != std::string_view::npos) {
        const size_t first = s.find_first_of("0123456789");
        for (size_t i = first; i < e; ++i)
            n += s[i] != '.' ? 1 : 0;
    } else {
        for (char c : s)
            n += IsDigit(c) ? 1 : 0;
    }
    return n;
}

struct IntRange {
    int32_t cType;
    int64_t min;
    uint64_t max;
    int bytes;
};

constexpr IntRange kIntRanges[] = {
    {SQL_C_LONG, INT32_MIN, INT32_MAX, 4},       {SQL_C_SLONG, INT32_MIN, INT32_MAX, 4},
    {SQL_C_SHORT, INT16_MIN, INT16_MAX, 2},      {SQL_C_SSHORT, INT16_MIN, INT16_MAX, 2},
    {SQL_C_TINYINT, INT8_MIN, INT8_MAX, 1},      {SQL_C_STINYINT, INT8_MIN, INT8_MAX, 1},
    {SQL_C_ULONG, 0, UINT32_MAX, 4},             {SQL_C_USHORT, 0, UINT16_MAX, 2},
    {SQL_C_UTINYINT, 0, UINT8_MAX, 1},           {SQL_C_SBIGINT, INT64_MIN, INT64_MAX, 8},
    {SQL_C_UBIGINT, 0, UINT64_MAX, 8},
};

const IntRange* FindIntRange(int32_t cType) {
    for (const IntRange& r : kIntRanges)
        if (r.cType == cType)
            return &r;
    return nullptr;
}

bool IsDateTimeTarget(int32_t cType) {
    switch (cType) {
    case SQL_C_DATE: case SQL_C_TIME: case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE: case SQL_C_TYPE_TIME: case SQL_C_TYPE_TIMESTAMP:
        return true;
    default:
        return false;
    }
}

// The numeric, bit and floating targets that narrow and wide text share, from the text
// (a UTF-8 copy for wide text). false when cType is none of them.
bool ConvertParsed(const char* text, SQLLEN len, int32_t cType, void* dst, SQLLEN* outLen, int* err, int scale,
                   int precision, SQLRETURN* rc) {
    if (const IntRange* r = FindIntRange(cType)) {
        uint64_t bits = 0;
        *rc = CharToNumber64(text, len, r->min, r->max, &bits, err);
        if (*rc != SQL_ERROR) {
            // The low bytes of the value (little-endian host).
            *rc = CopyFixedOut(dst, &bits, static_cast<size_t>(r->bytes), outLen, err);
        }
        return true;
    }
    switch (cType) {
    case SQL_C_BIT: {
        int64_t v = 0;
        // Whatever the text's fault, a bit reports it as out of range.
        if (CharToNumber(text, len, 0, 1, &v, err) == SQL_ERROR) {
            *rc = ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
            return true;
        }
        const unsigned char bit = static_cast<unsigned char>(v);
        *rc = CopyFixedOut(dst, &bit, 1, outLen, err);
        return true;
    }
    case SQL_C_FLOAT: case SQL_C_DOUBLE: {
        double d = 0;
        *rc = CharToDecimal(text, len, &d, err);
        if (*rc == SQL_ERROR)
            return true;
        if (cType == SQL_C_DOUBLE) {
            *rc = CopyFixedOut(dst, &d, sizeof d, outLen, err);
        } else if (std::fabs(d) > FLT_MAX) {
            *rc = ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        } else {
            const auto f = static_cast<float>(d);
            *rc = CopyFixedOut(dst, &f, sizeof f, outLen, err);
        }
        return true;
    }
    case SQL_C_NUMERIC: {
        SQL_NUMERIC_STRUCT n{};
        *rc = CharToNumeric(text, len, &n, scale, precision, err);
        if (*rc != SQL_ERROR)
            CopyFixedOut(dst, &n, sizeof n, outLen, err);
        return true;
    }
    default:
        return false;
    }
}

}  // namespace

SQLRETURN CharToNumber64(const char* text, SQLLEN len, int64_t min, uint64_t max, uint64_t* bits, int* err) {
    const std::string_view s(text, len > 0 ? static_cast<size_t>(len) : 0);
    size_t i = 0;
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    // -min without overflow: INT64_MIN's magnitude is one above INT64_MAX.
    const uint64_t limit = negative ? (min < 0 ? static_cast<uint64_t>(-(min + 1)) + 1 : 0) : max;
    uint64_t value = 0;
    bool any = false, overflow = false;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        any = true;
        const auto digit = static_cast<uint64_t>(s[i] - '0');
        if (overflow || value > limit / 10 || (value == limit / 10 && digit > limit % 10))
            overflow = true;
        else
            value = value * 10 + digit;
    }
    while (i < s.size() && IsSpace(s[i]))
        ++i;
    if (!any || i != s.size())
        return ConvertFailed(err, ERR_ERROR_IN_ASSIGNMENT);
    if (overflow)
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
    *bits = negative ? 0 - value : value;
    return SQL_SUCCESS;
}

SQLRETURN CharToNumber(const char* text, SQLLEN len, int64_t min, int64_t max, int64_t* out, int* err) {
    uint64_t bits = 0;
    const SQLRETURN rc = CharToNumber64(text, len, min, static_cast<uint64_t>(max), &bits, err);
    if (rc == SQL_SUCCESS)
        *out = static_cast<int64_t>(bits);
    return rc;
}

SQLRETURN CharToDecimal(const char* text, SQLLEN len, double* out, int* err) {
    if (len >= kMaxDecimalText)
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
    std::string_view s(text, len > 0 ? static_cast<size_t>(len) : 0);
    if (!s.empty() && s.front() == '$')
        s.remove_prefix(1);
    std::string work;
    for (char c : s)
        if (c != ',')
            work.push_back(c);
    if (work.empty()) {
        *out = 0.0;
        return SQL_SUCCESS;
    }
    // The grammar first: strtod would also take hexadecimal, "inf" and "nan".
    DecimalValue d;
    if (!ReadDecimal(work, false, &d))
        return ConvertFailed(err, ERR_ERROR_IN_ASSIGNMENT);
    const size_t first = d.digits.find_first_not_of('0');
    if (first == std::string::npos) {
        *out = d.negative ? -0.0 : 0.0;
        return SQL_SUCCESS;
    }
    std::string canonical = d.digits.substr(first) + "e" + std::to_string(d.exponent);
    double v = 0;
    const std::from_chars_result r = std::from_chars(canonical.data(), canonical.data() + canonical.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond the largest double is an error; below the smallest reads as zero.
        const long order = static_cast<long>(d.digits.size() - first) + d.exponent;
        if (order > 0)
            return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
        v = 0.0;
    } else if (r.ec != std::errc() || !std::isfinite(v)) {
        return ConvertFailed(err, ERR_NUMERIC_VALUE_OUT_OF_RANGE);
    }
    *out = d.negative ? -v : v;
    return SQL_SUCCESS;
}

SQLRETURN CharToNumeric(const char* text, SQLLEN len, SQL_NUMERIC_STRUCT* numeric, int scale, int precision,
                        int* err) {
    const std::string_view s(text, len > 0 ? static_cast<size_t>(len) : 0);
    DecimalValue d;
    if (!ReadDecimal(s, true, &d))
        return ConvertFailed(err, ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    return DecimalToNumeric(d, numeric, scale, precision, precision == 0 ? CountedPrecision(s) : precision, err);
}

SQLRETURN CharToGuid(const char* text, SQLLEN len, SQLGUID* guid, int* err) {
    if (len != static_cast<SQLLEN>(GUID_TEXT_LENGTH))
        return ConvertFailed(err, ERR_STRING_LENGTH_MISMATCH);
    for (size_t i = 0; i < GUID_TEXT_LENGTH; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen && text[i] != '-')
            return ConvertFailed(err, ERR_ERROR_IN_ASSIGNMENT);
        if (!hyphen && !IsHexDigit(text[i]))
            return ConvertFailed(err, ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION);
    }
    auto hex = [text](size_t at, size_t digits) {
        uint32_t v = 0;
        for (size_t i = 0; i < digits; ++i)
            v = v * 16 + static_cast<uint32_t>(HexDigitValue(text[at + i]));
        return v;
    };
    guid->Data1 = hex(0, 8);
    guid->Data2 = static_cast<uint16_t>(hex(9, 4));
    guid->Data3 = static_cast<uint16_t>(hex(14, 4));
    static constexpr size_t kData4At[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (size_t i = 0; i < 8; ++i)
        guid->Data4[i] = static_cast<unsigned char>(hex(kData4At[i], 2));
    return SQL_SUCCESS;
}

SQLRETURN ConvertCHAR(const char* text, SQLLEN len, SQLLEN total, int32_t cType, void* dst, SQLLEN dstLen,
                      SQLLEN* outLen, int* err, int scale, int precision, NarrowCode textCode, NarrowCode code) {
    switch (cType) {
    case SQL_C_CHAR:
        return CopyTextToChar(text, len, len, total, true, dst, dstLen, outLen, err, textCode, code);
    case SQL_C_WCHAR:
        return CopyCharToWChar(text, len, len, total, true, true, dst, dstLen, outLen, err, textCode);
    case SQL_C_BINARY:
        return CopyCharOut(text, len, len, total, false, true, dst, dstLen, outLen, err);
    case SQL_C_GUID: {
        SQLGUID guid{};
        if (CharToGuid(text, len, &guid, err) == SQL_ERROR)
            return SQL_ERROR;
        return CopyFixedOut(dst, &guid, sizeof guid, outLen, err);
    }
    default:
        break;
    }
    SQLRETURN rc = SQL_ERROR;
    if (ConvertParsed(text, len, cType, dst, outLen, err, scale, precision, &rc))
        return rc;
    return ConvertFailed(err, IsDateTimeTarget(cType) ? ERR_DRIVER_NOT_CAPABLE : ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
}

SQLRETURN ConvertWCHAR(const SQLWCHAR* text, SQLLEN len, SQLLEN total, int32_t cType, void* dst, SQLLEN dstLen,
                       SQLLEN* outLen, int* err, int scale, int precision, NarrowCode code) {
    const SQLLEN chars = len / 2;
    switch (cType) {
    case SQL_C_CHAR:
        return CopyWCharToChar(text, chars, chars, total == SQL_NO_TOTAL ? SQL_NO_TOTAL : total / 2, true, true, dst,
                               dstLen, outLen, err, code);
    case SQL_C_WCHAR:
        return CopyWCharOut(text, len, len, total, true, true, dst, dstLen, outLen, err);
    case SQL_C_BINARY:
        return CopyCharOut(text, len, len, total, false, true, dst, dstLen, outLen, err);
    default:
        break;
    }
    if (IsDateTimeTarget(cType))
        return ConvertFailed(err, ERR_DRIVER_NOT_CAPABLE);
    if (FindIntRange(cType) == nullptr && cType != SQL_C_BIT && cType != SQL_C_FLOAT && cType != SQL_C_DOUBLE &&
        cType != SQL_C_NUMERIC)
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    const Utf8Copy copy(text, chars);
    if (!copy.ok())
        return ConvertFailed(err, ERR_MEMORY_ALLOCATION_FAILURE);
    SQLRETURN rc = SQL_ERROR;
    ConvertParsed(copy.data(), copy.len(), cType, dst, outLen, err, scale, precision, &rc);
    return rc;
}
