// Value types shared by the conversions, and application values to internal values.
#include "driver/exec/convert/valtypes.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "util/charset.h"
#include "util/errcode.h"

int16_t DefaultCType(int32_t sqlType, int32_t odbcVersion) {
    const bool v3 = odbcVersion == SQL_OV_ODBC3;
    switch (sqlType) {
    case SQL_INTEGER: return SQL_C_LONG;
    case SQL_SMALLINT: return SQL_C_SHORT;
    case SQL_FLOAT: case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_DATE: return v3 ? SQL_C_TYPE_DATE : SQL_C_DATE;
    case SQL_TIME: return v3 ? SQL_C_TYPE_TIME : SQL_C_TIME;
    case SQL_TIMESTAMP: return v3 ? SQL_C_TYPE_TIMESTAMP : SQL_C_TIMESTAMP;
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: return static_cast<int16_t>(sqlType);
    case SQL_WLONGVARCHAR: case SQL_WVARCHAR: case SQL_WCHAR: return SQL_C_WCHAR;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_TINYINT: return SQL_C_TINYINT;
    case SQL_BIGINT: return v3 ? SQL_C_SBIGINT : SQL_C_CHAR;
    case SQL_CHAR: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_VARCHAR: case SQL_GUID: case SQL_LONGVARCHAR:
        return SQL_C_CHAR;
    case SQL_LONGVARBINARY: case SQL_VARBINARY: case SQL_BINARY: return SQL_C_BINARY;
    default: return static_cast<int16_t>(sqlType);
    }
}

SQLLEN CTypeOctetLength(int32_t cType) {
    switch (cType) {
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_LONG: case SQL_C_FLOAT: case SQL_C_ULONG: case SQL_C_SLONG: return 4;
    case SQL_C_SHORT: case SQL_C_USHORT: case SQL_C_SSHORT: return 2;
    case SQL_C_DOUBLE: case SQL_C_UBIGINT: case SQL_C_SBIGINT: return 8;
    case SQL_C_DATE: case SQL_C_TIME: case SQL_C_TYPE_DATE: case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: case SQL_C_GUID: return 16;
    case SQL_C_UTINYINT: case SQL_C_STINYINT: case SQL_C_BIT: case SQL_C_TINYINT: return 1;
    default: return 0;
    }
}

bool IsSqlType(int32_t t) {
    switch (t) {
    case SQL_CHAR: case SQL_NUMERIC: case SQL_DECIMAL: case SQL_INTEGER: case SQL_SMALLINT: case SQL_FLOAT:
    case SQL_REAL: case SQL_DOUBLE: case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP: case SQL_VARCHAR:
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: case SQL_LONGVARCHAR: case SQL_BINARY:
    case SQL_VARBINARY: case SQL_LONGVARBINARY: case SQL_BIGINT: case SQL_TINYINT: case SQL_BIT: case SQL_WCHAR:
    case SQL_WVARCHAR: case SQL_WLONGVARCHAR: case SQL_GUID:
        return true;
    default:
        return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
    }
}

const char* CTypeName(int32_t cType) {
    switch (cType) {
    case SQL_C_CHAR: return "SQL_C_CHAR";
    case SQL_C_NUMERIC: return "SQL_C_NUMERIC";
    case SQL_C_LONG: return "SQL_C_LONG";
    case SQL_C_SHORT: return "SQL_C_SHORT";
    case SQL_C_FLOAT: return "SQL_C_FLOAT";
    case SQL_C_DOUBLE: return "SQL_C_DOUBLE";
    case SQL_C_DATE: return "SQL_C_DATE";
    case SQL_C_TIME: return "SQL_C_TIME";
    case SQL_C_TIMESTAMP: return "SQL_C_TIMESTAMP";
    case SQL_C_TYPE_DATE: return "SQL_C_TYPE_DATE";
    case SQL_C_TYPE_TIME: return "SQL_C_TYPE_TIME";
    case SQL_C_TYPE_TIMESTAMP: return "SQL_C_TYPE_TIMESTAMP";
    case SQL_C_UTINYINT: return "SQL_C_UTINYINT";
    case SQL_C_UBIGINT: return "SQL_C_UBIGINT";
    case SQL_C_STINYINT: return "SQL_C_STINYINT";
    case SQL_C_SBIGINT: return "SQL_C_SBIGINT";
    case SQL_C_ULONG: return "SQL_C_ULONG";
    case SQL_C_USHORT: return "SQL_C_USHORT";
    case SQL_C_SLONG: return "SQL_C_SLONG";
    case SQL_C_SSHORT: return "SQL_C_SSHORT";
    case SQL_C_GUID: return "SQL_C_GUID";
    case SQL_C_WCHAR: return "SQL_C_WCHAR";
    case SQL_C_BIT: return "SQL_C_BIT";
    case SQL_C_TINYINT: return "SQL_C_TINYINT";
    case SQL_C_BINARY: return "SQL_C_BINARY";
    default: return "(unknown type)";
    }
}

namespace {

// How a bounded copy turns source units into destination units.
enum class CopyUnits { Bytes, Wide };

// The bounded copy, with every length counted in source units; the destination holds
// dstLen / (bytes of its unit) units, and reported lengths are scaled to its unit bytes.
SQLRETURN BoundedCopy(CopyUnits kind, const void* src, SQLLEN srcUnits, SQLLEN pieceUnits, SQLLEN totalUnits,
                      bool addNul, bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err) {
    const SQLLEN unitBytes = kind == CopyUnits::Bytes ? 1 : 2;
    const SQLLEN nul = addNul ? 1 : 0;
    const SQLLEN reported = totalUnits != 0 ? totalUnits : srcUnits;
    const SQLLEN room = dst != nullptr && dstLen > 0 ? dstLen / unitBytes : 0;
    if (room == 0) {
        // Not even one unit fits: nothing is written, the length still tells the size.
        if (outLen != nullptr)
            *outLen = reported == SQL_NO_TOTAL ? SQL_NO_TOTAL : reported * unitBytes;
        *err = ERR_DATA_WAS_TRUNCATED;
        return SQL_SUCCESS_WITH_INFO;
    }
    SQLLEN n = srcUnits;
    if (room < n + nul) {
        if (!mayTruncate) {
            *err = ERR_NUMERIC_VALUE_OUT_OF_RANGE;
            return SQL_ERROR;
        }
        *err = ERR_DATA_WAS_TRUNCATED;
        n = room - nul;
    } else if (totalUnits != SQL_NO_TOTAL && pieceUnits < totalUnits) {
        *err = ERR_DATA_WAS_TRUNCATED;   // more of a long value remains at the server
    }
    if (outLen != nullptr)
        *outLen = reported == SQL_NO_TOTAL ? SQL_NO_TOTAL : reported * unitBytes;
    auto* out = static_cast<unsigned char*>(dst);
    std::memcpy(out, src, static_cast<size_t>(n * unitBytes));
    if (addNul)
        std::memset(out + n * unitBytes, 0, static_cast<size_t>(unitBytes));
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

// The length a converted text reports: its own bytes when it is the whole value, the
// rest scaled when each character has one size in both forms (scale target bytes a
// source unit), else unknown.
SQLLEN ConvertedLength(SQLLEN bytes, SQLLEN pieceUnits, SQLLEN totalUnits, SQLLEN scale) {
    if (totalUnits == 0 || totalUnits == pieceUnits)
        return bytes;
    if (totalUnits == SQL_NO_TOTAL || scale == 0)
        return SQL_NO_TOTAL;
    return bytes + (totalUnits - pieceUnits) * scale;
}

// What every converting copy shares once it knows the bytes the whole source takes in
// the target form (need) and the target unit (1 or 2): the reported length, the room,
// and whether it is cut. Returns false with the answer in *rc when nothing is written.
struct CopyPlan {
    SQLLEN room = 0;     // target bytes the text may take, its NUL excluded
    bool cut = false;
};
bool PlanCopy(SQLLEN need, SQLLEN reported, SQLLEN unit, bool addNul, bool mayTruncate, SQLLEN pieceUnits,
              SQLLEN totalUnits, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, CopyPlan* plan,
              SQLRETURN* rc) {
    const SQLLEN room = dst != nullptr && dstLen > 0 ? dstLen / unit * unit : 0;
    const SQLLEN nul = addNul ? unit : 0;
    if (room == 0) {
        if (outLen != nullptr)
            *outLen = reported;
        *err = ERR_DATA_WAS_TRUNCATED;
        *rc = SQL_SUCCESS_WITH_INFO;
        return false;
    }
    if (room < need + nul) {
        if (!mayTruncate) {
            *err = ERR_NUMERIC_VALUE_OUT_OF_RANGE;
            *rc = SQL_ERROR;
            return false;
        }
        *err = ERR_DATA_WAS_TRUNCATED;
        plan->cut = true;
        plan->room = room - nul;
    } else {
        plan->room = need;
        if (totalUnits != SQL_NO_TOTAL && totalUnits != 0 && pieceUnits < totalUnits)
            *err = ERR_DATA_WAS_TRUNCATED;  // more of a long value remains at the server
    }
    if (outLen != nullptr)
        *outLen = reported;
    return true;
}

SQLRETURN Finished(const int* err) {
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

bool Aligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % alignof(SQLWCHAR) == 0;
}

SQLLEN WideUnits(SQLLEN bytes) {
    return bytes == SQL_NO_TOTAL ? SQL_NO_TOTAL : bytes / 2;
}

}  // namespace

SQLRETURN CopyCharOut(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool addNul,
                      bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err) {
    return BoundedCopy(CopyUnits::Bytes, src, srcLen, pieceLen, totalLen, addNul, mayTruncate, dst, dstLen, outLen,
                       err);
}

SQLRETURN CopyNarrowTextOut(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool mayTruncate,
                            void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode code) {
    const SQLLEN reported = totalLen != 0 ? totalLen : srcLen;
    CopyPlan plan;
    SQLRETURN rc;
    if (!PlanCopy(srcLen, reported, 1, true, mayTruncate, pieceLen, totalLen, dst, dstLen, outLen, err, &plan, &rc))
        return rc;
    const auto* in = static_cast<const char*>(src);
    SQLLEN n = plan.room;
    if (plan.cut && code == NarrowCode::Utf8)
        n = static_cast<SQLLEN>(ut_Utf8CutLen(in, static_cast<size_t>(srcLen), static_cast<size_t>(n)));
    auto* out = static_cast<char*>(dst);
    std::memcpy(out, in, static_cast<size_t>(n));
    out[n] = '\0';
    return Finished(err);
}

SQLRETURN CopyWCharToChar(const void* src, SQLLEN srcChars, SQLLEN pieceChars, SQLLEN totalChars, bool addNul,
                          bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode code) {
    // Dataset elements and the agent's pieces hold whole, aligned units.
    const auto* units = static_cast<const SQLWCHAR*>(src);
    const SQLLEN nul = addNul ? 1 : 0;
    auto* out = static_cast<char*>(dst);
    SQLLEN need;
    if (mayTruncate && dst != nullptr && dstLen > nul) {
        // One pass for the text that fits, as fetched text mostly does; the rest is only
        // measured, and the copy of what fits is already made.
        SQLLEN taken = 0;
        const SQLLEN n = ut_Ucs2ToNarrowN(units, srcChars, out, dstLen - nul, &taken, code);
        need = n + (taken < srcChars ? ut_Ucs2ToNarrowN(units + taken, srcChars - taken, nullptr, INT64_MAX, nullptr,
                                                        code)
                                     : 0);
        if (taken < srcChars)
            *err = ERR_DATA_WAS_TRUNCATED;
        else if (totalChars != SQL_NO_TOTAL && totalChars != 0 && pieceChars < totalChars)
            *err = ERR_DATA_WAS_TRUNCATED;  // more of a long value remains at the server
        if (addNul)
            out[n] = '\0';
        if (outLen != nullptr)
            *outLen = ConvertedLength(need, pieceChars, totalChars, code == NarrowCode::Latin1 ? 1 : 0);
        return Finished(err);
    }
    need = ut_Ucs2ToNarrowN(units, srcChars, nullptr, INT64_MAX, nullptr, code);
    const SQLLEN reported = ConvertedLength(need, pieceChars, totalChars, code == NarrowCode::Latin1 ? 1 : 0);
    CopyPlan plan;
    SQLRETURN rc;
    if (!PlanCopy(need, reported, 1, addNul, mayTruncate, pieceChars, totalChars, dst, dstLen, outLen, err, &plan,
                  &rc))
        return rc;
    const SQLLEN n = ut_Ucs2ToNarrowN(units, srcChars, out, plan.room, nullptr, code);
    if (addNul)
        out[n] = '\0';
    return Finished(err);
}

SQLRETURN CopyTextToChar(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool mayTruncate,
                         void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode from, NarrowCode code) {
    if (from == code || code == NarrowCode::Utf8)
        return CopyNarrowTextOut(src, srcLen, pieceLen, totalLen, mayTruncate, dst, dstLen, outLen, err, code);
    const auto* text = static_cast<const char*>(src);
    auto* out = static_cast<char*>(dst);
    if (mayTruncate && dst != nullptr && dstLen > 1) {
        // One pass for the text that fits, as fetched text mostly does; the rest is only
        // measured, and the copy of what fits is already made.
        SQLLEN taken = 0;
        const SQLLEN n = ut_Utf8ToLatin1N(text, srcLen, out, dstLen - 1, &taken);
        const SQLLEN rest = taken < srcLen ? ut_Utf8ToLatin1N(text + taken, srcLen - taken, nullptr, INT64_MAX, nullptr)
                                           : 0;
        if (rest > 0)
            *err = ERR_DATA_WAS_TRUNCATED;
        else if (totalLen != SQL_NO_TOTAL && totalLen != 0 && pieceLen < totalLen)
            *err = ERR_DATA_WAS_TRUNCATED;  // more of a long value remains at the server
        out[n] = '\0';
        if (outLen != nullptr)
            *outLen = ConvertedLength(n + rest, pieceLen, totalLen, 0);
        return Finished(err);
    }
    const SQLLEN need = ut_Utf8ToLatin1N(text, srcLen, nullptr, INT64_MAX, nullptr);
    CopyPlan plan;
    SQLRETURN rc;
    if (!PlanCopy(need, ConvertedLength(need, pieceLen, totalLen, 0), 1, true, mayTruncate, pieceLen, totalLen, dst,
                  dstLen, outLen, err, &plan, &rc))
        return rc;
    out[ut_Utf8ToLatin1N(text, srcLen, out, plan.room, nullptr)] = '\0';
    return Finished(err);
}

SQLRETURN CopyCharToWChar(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool addNul,
                          bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err, NarrowCode code) {
    const auto* text = static_cast<const char*>(src);
    if (addNul && Aligned(dst) && dst != nullptr && srcLen >= 0 && dstLen / 2 > srcLen) {
        // No byte gives more than one unit: the whole text fits, and is decoded in one pass.
        const SQLLEN n = ut_NarrowToUcs2N(text, srcLen, static_cast<SQLWCHAR*>(dst), srcLen, nullptr, code);
        static_cast<SQLWCHAR*>(dst)[n] = 0;
        if (totalLen != SQL_NO_TOTAL && totalLen != 0 && pieceLen < totalLen)
            *err = ERR_DATA_WAS_TRUNCATED;  // more of a long value remains at the server
        if (outLen != nullptr)
            *outLen = ConvertedLength(2 * n, pieceLen, totalLen, code == NarrowCode::Latin1 ? 2 : 0);
        return Finished(err);
    }
    const SQLLEN need = 2 * ut_NarrowToUcs2N(text, srcLen, nullptr, INT64_MAX, nullptr, code);
    const SQLLEN reported = ConvertedLength(need, pieceLen, totalLen, code == NarrowCode::Latin1 ? 2 : 0);
    CopyPlan plan;
    SQLRETURN rc;
    if (!PlanCopy(need, reported, 2, addNul, mayTruncate, pieceLen, totalLen, dst, dstLen, outLen, err, &plan,
                  &rc))
        return rc;
    const SQLLEN room = plan.room / 2;
    SQLLEN n;
    const SQLWCHAR nul = 0;
    auto* out = static_cast<unsigned char*>(dst);
    if (Aligned(dst)) {
        n = ut_NarrowToUcs2N(text, srcLen, static_cast<SQLWCHAR*>(dst), room, nullptr, code);
    } else {
        // A buffer at an odd address (SQL_C_WCHAR asks for no alignment) takes a copy.
        std::vector<SQLWCHAR> tmp(static_cast<size_t>(room));
        n = ut_NarrowToUcs2N(text, srcLen, tmp.data(), room, nullptr, code);
        std::memcpy(out, tmp.data(), static_cast<size_t>(n) * 2);
    }
    if (addNul)
        std::memcpy(out + 2 * n, &nul, sizeof nul);
    return Finished(err);
}

SQLLEN TextCopyTaken(const void* src, SQLLEN n, bool wideSrc, int32_t cType, SQLLEN dstLen, NarrowCode from,
                     NarrowCode code) {
    if (cType == SQL_C_CHAR) {
        const SQLLEN room = dstLen > 0 ? dstLen - 1 : 0;
        if (wideSrc) {
            SQLLEN units = 0;
            ut_Ucs2ToNarrowN(static_cast<const SQLWCHAR*>(src), n / 2, nullptr, room, &units, code);
            return 2 * units;
        }
        if (from != code && code == NarrowCode::Latin1) {
            SQLLEN used = 0;
            ut_Utf8ToLatin1N(static_cast<const char*>(src), n, nullptr, room, &used);
            return used;
        }
        if (code == NarrowCode::Utf8)
            return static_cast<SQLLEN>(ut_Utf8CutLen(static_cast<const char*>(src), static_cast<size_t>(n),
                                                     static_cast<size_t>(room)));
        return std::min(n, room);
    }
    const SQLLEN room = dstLen >= 2 ? dstLen / 2 - 1 : 0;  // units before the NUL
    if (wideSrc)
        return std::min(n, 2 * room);  // CopyWCharOut's cut at a whole unit
    SQLLEN used = 0;
    ut_NarrowToUcs2N(static_cast<const char*>(src), n, nullptr, room, &used, from);
    return used;
}

SQLRETURN CopyWCharOut(const void* src, SQLLEN srcLen, SQLLEN pieceLen, SQLLEN totalLen, bool addNul,
                       bool mayTruncate, void* dst, SQLLEN dstLen, SQLLEN* outLen, int* err) {
    return BoundedCopy(CopyUnits::Wide, src, WideUnits(srcLen), WideUnits(pieceLen), WideUnits(totalLen), addNul,
                       mayTruncate, dst, dstLen, outLen, err);
}

SQLRETURN CopyFixedOut(void* dst, const void* value, size_t size, SQLLEN* outLen, const int* err) {
    if (dst != nullptr)
        std::memcpy(dst, value, size);
    if (outLen != nullptr)
        *outLen = static_cast<SQLLEN>(size);
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN CopyTextOut(const char* text, bool mayTruncate, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err) {
    const auto n = static_cast<SQLLEN>(std::strlen(text));
    if (cType == SQL_C_WCHAR)  // ASCII: the same in either code set
        return CopyCharToWChar(text, n, n, 0, true, mayTruncate, dst, dstLen, outLen, err, NarrowCode::Latin1);
    return CopyCharOut(text, n, n, 0, true, mayTruncate, dst, dstLen, outLen, err);
}

SQLRETURN ConvertFailed(int* err, int code) {
    *err = code;
    return SQL_ERROR;
}

int HexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return 0;
}

bool IsHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

int HexToBinary(unsigned char* dst, const char* src, size_t len) {
    // A character that is not a digit would silently become a zero nibble.
    for (size_t i = 0; i < len / 2 * 2; ++i)
        if (!IsHexDigit(src[i]))
            return ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION;
    for (size_t i = 0; i < len / 2; ++i)
        dst[i] = static_cast<unsigned char>(HexDigitValue(src[2 * i]) * 16 + HexDigitValue(src[2 * i + 1]));
    return 0;
}

double PowerOf(double base, int n) {
    double result = 1;
    for (int i = 0; i < n; ++i)
        result *= base;
    for (int i = 0; i > n; --i)
        result /= base;
    return result;
}

void FormatDouble(char* buf, size_t size, double value, int digits) {
    // to_chars writes what "%.*g" writes in the C locale, whatever locale the application set.
    if (size == 0)
        return;
    const std::to_chars_result r = std::to_chars(buf, buf + size - 1, value, std::chars_format::general, digits);
    *(r.ec == std::errc() ? r.ptr : buf) = '\0';
}

int32_t CTypeToDsCType(int32_t cType, uint32_t* width) {
    struct Row {
        int32_t type;
        uint32_t width;
    };
    Row r{DS_CHAR, 0};
    switch (cType) {
    case SQL_C_NUMERIC: r = {DS_CHAR, static_cast<uint32_t>(NUMERIC_TEXT_LENGTH)}; break;
    case SQL_C_DOUBLE: r = {DS_DOUBLE, 8}; break;
    case SQL_C_LONG: case SQL_C_SLONG: r = {DS_SLONG, 4}; break;
    case SQL_C_SHORT: case SQL_C_SSHORT: r = {DS_SSHORT, 2}; break;
    case SQL_C_FLOAT: r = {DS_FLOAT, 4}; break;
    case SQL_C_DATE: case SQL_C_TYPE_DATE: r = {DS_DATE, 6}; break;
    case SQL_C_TIME: case SQL_C_TYPE_TIME: r = {DS_TIME, 6}; break;
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: r = {DS_TIMESTAMP, 16}; break;
    case SQL_C_UTINYINT: r = {DS_UTINYINT, 1}; break;
    case SQL_C_UBIGINT: case SQL_C_SBIGINT: r = {DS_CHAR, 32}; break;
    case SQL_C_STINYINT: case SQL_C_TINYINT: r = {DS_STINYINT, 1}; break;
    case SQL_C_ULONG: r = {DS_ULONG, 4}; break;
    case SQL_C_USHORT: r = {DS_USHORT, 2}; break;
    case SQL_C_GUID: r = {DS_CHAR, static_cast<uint32_t>(GUID_TEXT_LENGTH)}; break;
    case SQL_C_WCHAR: r = {DS_WCHAR, 0}; break;
    case SQL_C_BIT: r = {DS_BIT, 1}; break;
    case SQL_C_BINARY: r = {DS_BINARY, 0}; break;
    default: break;
    }
    if (width != nullptr)
        *width = r.width;
    return r.type;
}

namespace {

enum class Escape { None, Date, Time, Timestamp };

constexpr size_t kEscapeChars = 49;  // characters after the brace that are read

// Only these SQL types look for an escape; 0 lets the escape decide.
bool IsDateTimeSqlType(int32_t sqlType) {
    switch (sqlType) {
    case 0: case SQL_DATE: case SQL_TIME: case SQL_TIMESTAMP:
    case SQL_TYPE_DATE: case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
        return true;
    default:
        return false;
    }
}

// Reads the quoted value of a date/time escape field by field.
class ValueReader {
public:
    explicit ValueReader(std::string_view text) : rest_(text) {}
    // Up to maxDigits decimal digits, at least one; false otherwise.
    bool Digits(size_t maxDigits, unsigned long* out, size_t* count = nullptr) {
        size_t n = 0;
        unsigned long v = 0;
        while (n < rest_.size() && n < maxDigits && rest_[n] >= '0' && rest_[n] <= '9')
            v = v * 10 + static_cast<unsigned long>(rest_[n++] - '0');
        rest_.remove_prefix(n);
        *out = v;
        if (count != nullptr)
            *count = n;
        return n > 0;
    }
    bool Char(std::string_view set) {
        if (rest_.empty() || set.find(rest_.front()) == std::string_view::npos)
            return false;
        rest_.remove_prefix(1);
        return true;
    }
    void SkipBlanks() {
        while (!rest_.empty() && rest_.front() == ' ')
            rest_.remove_prefix(1);
    }
    char Peek() const { return rest_.empty() ? '\0' : rest_.front(); }
    bool AtEnd() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

bool IsLeapYear(unsigned long y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// The escape's quoted value into ts. 0, 22007 for a value that is not a date or time, or
// 22008 for one out of range (a negative year among them: the structures cannot say
// "before year 0" in a way the server reads).
int ReadEscapeValue(Escape kind, std::string_view value, SQL_TIMESTAMP_STRUCT* ts) {
    ValueReader r(value);
    unsigned long year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
    if (kind != Escape::Time) {
        if (r.Peek() == '-')
            return ERR_DATE_OVERFLOW;
        if (!r.Digits(4, &year) || !r.Char("-/") || !r.Digits(2, &month) || !r.Char("-/") || !r.Digits(2, &day))
            return ERR_INVALID_DATETIME_FORMAT;
    }
    if (kind == Escape::Timestamp) {
        if (!r.Char(" "))
            return ERR_INVALID_DATETIME_FORMAT;
        r.SkipBlanks();
    }
    if (kind != Escape::Date) {
        if (!r.Digits(2, &hour) || !r.Char(":") || !r.Digits(2, &minute) || !r.Char(":") || !r.Digits(2, &second))
            return ERR_INVALID_DATETIME_FORMAT;
    }
    if (kind == Escape::Timestamp && r.Char(".")) {
        // Fraction digits are of a second: ".5" is 500000000 ns; beyond nine are dropped.
        size_t n = 0;
        if (!r.Digits(9, &fraction, &n))
            return ERR_INVALID_DATETIME_FORMAT;
        for (; n < 9; ++n)
            fraction *= 10;
        unsigned long ignored = 0;
        r.Digits(SIZE_MAX, &ignored);
    }
    if (!r.AtEnd())
        return ERR_INVALID_DATETIME_FORMAT;
    if (kind != Escape::Time) {
        static constexpr unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
            (month == 2 && day == 29 && !IsLeapYear(year)))
            return ERR_DATE_OVERFLOW;
    }
    if (kind != Escape::Date && (hour > 23 || minute > 59 || second > 61))
        return ERR_DATE_OVERFLOW;
    *ts = SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(year),   static_cast<SQLUSMALLINT>(month),
                               static_cast<SQLUSMALLINT>(day),    static_cast<SQLUSMALLINT>(hour),
                               static_cast<SQLUSMALLINT>(minute), static_cast<SQLUSMALLINT>(second),
                               static_cast<SQLUINTEGER>(fraction)};
    return 0;
}

// Parses the characters after the brace; *written stays DS_NONE when nothing is written.
int ParseEscapeBody(void* dest, size_t destSize, std::string_view body, size_t length, DATASET_COL* col,
                    int32_t sqlType, int32_t* written) {
    *written = DS_NONE;
    if (!IsDateTimeSqlType(sqlType))
        return 0;
    Escape kind = Escape::None;
    size_t skip = 0;
    if (body.starts_with("d '")) {
        kind = Escape::Date;
        skip = 3;
    } else if (body.starts_with("t '")) {
        kind = Escape::Time;
        skip = 3;
    } else if (body.starts_with("ts '")) {
        kind = Escape::Timestamp;
        skip = 4;
    } else {
        return 0;
    }
    if (sqlType == 0)
        sqlType = kind == Escape::Date ? SQL_DATE : kind == Escape::Time ? SQL_TIME : SQL_TIMESTAMP;
    int32_t type = DS_NONE;
    uint32_t width = 0;
    if ((sqlType == SQL_DATE || sqlType == SQL_TYPE_DATE) && length >= 6) {
        type = DS_DATE;
        width = sizeof(SQL_DATE_STRUCT);
    } else if ((sqlType == SQL_TIME || sqlType == SQL_TYPE_TIME) && length >= 6) {
        type = DS_TIME;
        width = sizeof(SQL_TIME_STRUCT);
    } else if ((sqlType == SQL_TIMESTAMP || sqlType == SQL_TYPE_TIMESTAMP) && length > 15) {
        type = DS_TIMESTAMP;
        width = sizeof(SQL_TIMESTAMP_STRUCT);
    }
    if (type == DS_NONE || destSize < width)
        return 0;

    body.remove_prefix(skip);
    size_t close = body.find("'}");
    if (close == std::string_view::npos)
        return ERR_INVALID_DATETIME_FORMAT;
    SQL_TIMESTAMP_STRUCT ts{};
    if (int rc = ReadEscapeValue(kind, body.substr(0, close), &ts); rc != 0)
        return rc;
    // The date fields of a DATE and the time fields of a TIME come from what the escape
    // gave: a time escape for a date column gives the date 0-0-0.
    if (type == DS_DATE) {
        SQL_DATE_STRUCT d{ts.year, ts.month, ts.day};
        std::memcpy(dest, &d, sizeof d);
    } else if (type == DS_TIME) {
        SQL_TIME_STRUCT t{ts.hour, ts.minute, ts.second};
        std::memcpy(dest, &t, sizeof t);
    } else {
        std::memcpy(dest, &ts, sizeof ts);
    }
    if (col != nullptr) {
        col->type = type;
        col->width = width;
    }
    *written = type;
    return 0;
}

}  // namespace

int ParseDateTimeEscape(void* dest, size_t destSize, const char* text, size_t length, DATASET_COL* col,
                        int32_t sqlType, int32_t* written) {
    std::string_view body;
    if (length > 1)
        body = std::string_view(text + 1, std::min(length - 1, kEscapeChars));
    int rc = ParseEscapeBody(dest, destSize, body, length, col, sqlType, written);
    if (rc == 0 && *written == DS_NONE)
        std::memcpy(dest, text, std::min(length, destSize));
    return rc;
}

int ParseDateTimeEscapeW(void* dest, size_t destSize, const SQLWCHAR* text, size_t length, DATASET_COL* col,
                         int32_t sqlType, int32_t* written) {
    // The escape is read from its first characters only: a small UTF-8 copy serves.
    char body[kEscapeChars * 4 + 1] = {};
    SQLLEN units = static_cast<SQLLEN>(length / sizeof(SQLWCHAR));
    SQLLEN bytes = 0;
    if (units > 1)
        bytes = ut_Ucs2ToUtf8N(text + 1, std::min<SQLLEN>(units - 1, kEscapeChars), body, sizeof body - 1, nullptr);
    std::string_view view(body, static_cast<size_t>(bytes));
    int rc = ParseEscapeBody(dest, destSize, view.substr(0, kEscapeChars), static_cast<size_t>(units), col, sqlType,
                             written);
    if (rc == 0 && *written == DS_NONE)
        std::memcpy(dest, text, std::min(length, destSize));
    return rc;
}

size_t NumericToText(char* dest, const SQL_NUMERIC_STRUCT* numeric) {
    // The 128-bit magnitude, least significant byte first: up to 39 digits.
    unsigned __int128 v = 0;
    for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i)
        v = (v << 8) | numeric->val[i];
    char digits[40];
    size_t n = sizeof digits;
    do {
        digits[--n] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v != 0);
    const std::string_view d(digits + n, sizeof digits - n);
    const bool zero = d == "0";
    const int scale = numeric->scale;
    char* out = dest;
    if (numeric->sign == 0 && !zero)
        *out++ = '-';
    if (zero || (scale <= 0 && scale >= -8)) {
        out = std::copy(d.begin(), d.end(), out);
        if (!zero)
            out = std::fill_n(out, -scale, '0');
    } else if (scale > 0 && scale <= 38) {
        const auto s = static_cast<size_t>(scale);
        if (d.size() <= s) {
            *out++ = '0';
            *out++ = '.';
            out = std::fill_n(out, s - d.size(), '0');
            out = std::copy(d.begin(), d.end(), out);
        } else {
            out = std::copy(d.begin(), d.end() - static_cast<std::ptrdiff_t>(s), out);
            *out++ = '.';
            out = std::copy(d.end() - static_cast<std::ptrdiff_t>(s), d.end(), out);
        }
    } else {
        out = std::copy(d.begin(), d.end(), out);
        *out++ = 'E';
        out = std::to_chars(out, dest + NUMERIC_TEXT_LENGTH, -scale).ptr;
    }
    return static_cast<size_t>(out - dest);
}

void GuidToText(char* dest, const SQLGUID* g) {
    char buf[GUID_TEXT_LENGTH + 1];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g->Data1, g->Data2, g->Data3,
                  g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6],
                  g->Data4[7]);
    std::memcpy(dest, buf, GUID_TEXT_LENGTH);
}
