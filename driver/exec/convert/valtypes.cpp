// Value types shared by the conversions, and application values to internal values.
#include "driver/exec/convert/valtypes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/charset.h"

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

int HexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return 0;
}

void HexToBinary(unsigned char* dst, const char* src, size_t len) {
    for (size_t i = 0; i < len / 2; ++i)
        dst[i] = static_cast<unsigned char>(HexDigitValue(src[2 * i]) * 16 + HexDigitValue(src[2 * i + 1]));
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
    std::snprintf(buf, size, "%.*g", digits, value);
}

int32_t CTypeToDsCType(int32_t cType, uint32_t* width) {
    struct Row {
        int32_t type;
        uint32_t width;
    };
    Row r{DS_CHAR, 0};
    switch (cType) {
    case SQL_C_NUMERIC: case SQL_C_DOUBLE: r = {DS_DOUBLE, 8}; break;
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

// Tokens of an escape's value, split as strtok splits them: leading delimiters skipped,
// the token ending at the next delimiter, which is consumed.
class Tokens {
public:
    explicit Tokens(std::string_view text) : rest_(text) {}
    std::string_view Next(std::string_view delims) {
        size_t start = rest_.find_first_not_of(delims);
        if (start == std::string_view::npos) {
            rest_ = {};
            return {};
        }
        rest_.remove_prefix(start);
        size_t end = rest_.find_first_of(delims);
        std::string_view token = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return token;
    }

private:
    std::string_view rest_;
};

// The leading decimal number of a token as atol reads it, held to 32 bits.
long Number(std::string_view token) {
    char buf[24] = {};
    token.copy(buf, std::min(token.size(), sizeof buf - 1));
    errno = 0;
    long v = std::strtol(buf, nullptr, 10);
    return std::clamp(v, static_cast<long>(INT32_MIN), static_cast<long>(INT32_MAX));
}

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

// Parses the characters after the brace; DS_NONE when nothing is written.
int32_t ParseEscapeBody(void* dest, size_t destSize, std::string_view body, size_t length, DATASET_COL* col,
                        int32_t sqlType) {
    if (!IsDateTimeSqlType(sqlType))
        return DS_NONE;
    Escape kind = Escape::None;
    if (body.starts_with("d ")) {
        kind = Escape::Date;
        body.remove_prefix(std::min<size_t>(3, body.size()));
    } else if (body.starts_with("t ")) {
        kind = Escape::Time;
        body.remove_prefix(std::min<size_t>(3, body.size()));
    } else if (body.starts_with("ts ")) {
        kind = Escape::Timestamp;
        body.remove_prefix(std::min<size_t>(4, body.size()));
    } else {
        return DS_NONE;
    }

    SQL_TIMESTAMP_STRUCT ts{};
    Tokens tokens(body);
    if (kind != Escape::Time) {
        ts.year = static_cast<SQLSMALLINT>(Number(tokens.Next("-/")));
        ts.month = static_cast<SQLUSMALLINT>(Number(tokens.Next("-/")));
        ts.day = static_cast<SQLUSMALLINT>(Number(tokens.Next("-/ ")));
    }
    if (kind != Escape::Date) {
        ts.hour = static_cast<SQLUSMALLINT>(Number(tokens.Next(":")));
        ts.minute = static_cast<SQLUSMALLINT>(Number(tokens.Next(":")));
        ts.second = static_cast<SQLUSMALLINT>(Number(tokens.Next(":.")));
    }
    // The fraction's digits are kept as written, not scaled to nanoseconds.
    if (kind == Escape::Timestamp)
        ts.fraction = static_cast<SQLUINTEGER>(Number(tokens.Next(":.")));

    if (sqlType == 0)
        sqlType = kind == Escape::Date ? SQL_DATE : kind == Escape::Time ? SQL_TIME : SQL_TIMESTAMP;
    int32_t type = DS_NONE;
    uint32_t width = 0;
    if ((sqlType == SQL_DATE || sqlType == SQL_TYPE_DATE) && length >= 6) {
        SQL_DATE_STRUCT d{ts.year, ts.month, ts.day};
        type = DS_DATE;
        width = sizeof d;
        if (destSize >= sizeof d)
            std::memcpy(dest, &d, sizeof d);
    } else if ((sqlType == SQL_TIME || sqlType == SQL_TYPE_TIME) && length >= 6) {
        SQL_TIME_STRUCT t{ts.hour, ts.minute, ts.second};
        type = DS_TIME;
        width = sizeof t;
        if (destSize >= sizeof t)
            std::memcpy(dest, &t, sizeof t);
    } else if ((sqlType == SQL_TIMESTAMP || sqlType == SQL_TYPE_TIMESTAMP) && length > 15) {
        type = DS_TIMESTAMP;
        width = sizeof ts;
        if (destSize >= sizeof ts)
            std::memcpy(dest, &ts, sizeof ts);
    }
    if (type == DS_NONE || destSize < width)
        return DS_NONE;
    if (col != nullptr) {
        col->type = type;
        col->width = width;
    }
    return type;
}

}  // namespace

int32_t ParseDateTimeEscape(void* dest, size_t destSize, const char* text, size_t length, DATASET_COL* col,
                            int32_t sqlType) {
    std::string_view body;
    if (length > 1)
        body = std::string_view(text + 1, std::min(length - 1, kEscapeChars));
    int32_t type = ParseEscapeBody(dest, destSize, body, length, col, sqlType);
    if (type == DS_NONE)
        std::memcpy(dest, text, std::min(length, destSize));
    return type;
}

int32_t ParseDateTimeEscapeW(void* dest, size_t destSize, const SQLWCHAR* text, size_t length, DATASET_COL* col,
                             int32_t sqlType) {
    // The escape is read from its first characters only: a small UTF-8 copy serves.
    char body[kEscapeChars * 4 + 1] = {};
    SQLLEN units = static_cast<SQLLEN>(length / sizeof(SQLWCHAR));
    SQLLEN bytes = 0;
    if (units > 1)
        bytes = ut_Ucs2ToUtf8N(text + 1, std::min<SQLLEN>(units - 1, kEscapeChars), body, sizeof body - 1, nullptr);
    std::string_view view(body, static_cast<size_t>(bytes));
    int32_t type = ParseEscapeBody(dest, destSize, view.substr(0, kEscapeChars), static_cast<size_t>(units), col,
                                   sqlType);
    if (type == DS_NONE)
        std::memcpy(dest, text, std::min(length, destSize));
    return type;
}

void NumericToDouble(void* dest, const SQL_NUMERIC_STRUCT* numeric, size_t length, DATASET_COL* col) {
    double value = 0;
    for (int i = SQL_MAX_NUMERIC_LEN - 1; i >= 0; --i)
        value = value * 256 + numeric->val[i];
    value /= PowerOf(10, numeric->scale);
    if (numeric->sign == 0)
        value = -value;
    std::memcpy(dest, &value, std::min(length, sizeof value));
    if (col != nullptr) {
        col->type = DS_DOUBLE;
        col->width = sizeof value;
    }
}

void GuidToText(char* dest, const SQLGUID* g) {
    char buf[GUID_TEXT_LENGTH + 1];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g->Data1, g->Data2, g->Data3,
                  g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6],
                  g->Data4[7]);
    std::memcpy(dest, buf, GUID_TEXT_LENGTH);
}
