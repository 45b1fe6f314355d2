// Conversion from binary, date, time and timestamp values.
#include "driver/exec/convert/convbin.h"

#include <cstring>
#include <ctime>

#include "driver/exec/convert/valtypes.h"
#include "util/errcode.h"

namespace {

constexpr int kMaxFractionDigits = 9;

bool YearHasText(SQLSMALLINT year) {
    return year >= 0 && year <= 9999;
}

// v in decimal, zero-padded to at least width digits (width <= 9): what "%0*u" writes.
char* PutDecimal(char* p, uint32_t v, int width) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n < width)
        digits[n++] = '0';
    while (n > 0)
        *p++ = digits[--n];
    return p;
}

// Two digits, the common case of every field but the year, without the loop.
char* PutField(char* p, SQLUSMALLINT v) {
    if (v >= 100)
        return PutDecimal(p, v, 2);
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
    return p + 2;
}

char* PutDate(char* p, SQLSMALLINT year, SQLUSMALLINT month, SQLUSMALLINT day) {
    p = PutDecimal(p, static_cast<uint32_t>(year), 4);
    *p++ = '-';
    p = PutField(p, month);
    *p++ = '-';
    return PutField(p, day);
}

char* PutTime(char* p, SQLUSMALLINT hour, SQLUSMALLINT minute, SQLUSMALLINT second) {
    p = PutField(p, hour);
    *p++ = ':';
    p = PutField(p, minute);
    *p++ = ':';
    return PutField(p, second);
}

}  // namespace

size_t DateText(char* out, const SQL_DATE_STRUCT* date) {
    char* end = PutDate(out, date->year, date->month, date->day);
    *end = '\0';
    return static_cast<size_t>(end - out);
}

size_t TimeText(char* out, const SQL_TIME_STRUCT* time) {
    char* end = PutTime(out, time->hour, time->minute, time->second);
    *end = '\0';
    return static_cast<size_t>(end - out);
}

size_t TimestampText(char* out, const SQL_TIMESTAMP_STRUCT* ts, int fractionDigits) {
    char* p = PutDate(out, ts->year, ts->month, ts->day);
    *p++ = ' ';
    p = PutTime(p, ts->hour, ts->minute, ts->second);
    if (fractionDigits > 0) {
        const int keep = fractionDigits < kMaxFractionDigits ? fractionDigits : kMaxFractionDigits;
        char fraction[kMaxFractionDigits + 1];  // a uint32 has ten digits at most
        PutDecimal(fraction, static_cast<uint32_t>(ts->fraction), kMaxFractionDigits);
        int digits = kMaxFractionDigits;
        while (digits > keep && fraction[digits - 1] == '0')
            --digits;
        *p++ = '.';
        std::memcpy(p, fraction, static_cast<size_t>(digits));
        p += digits;
    }
    *p = '\0';
    return static_cast<size_t>(p - out);
}

SQLRETURN ConvertBINARY(const void* bytes, SQLLEN len, SQLLEN total, int32_t cType, void* dst, SQLLEN dstLen,
                        SQLLEN* outLen, int* err) {
    if (cType == SQL_C_BINARY)
        return CopyCharOut(bytes, len, len, total, false, true, dst, dstLen, outLen, err);
    if (cType != SQL_C_CHAR && cType != SQL_C_WCHAR)
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    // Characters a byte and bytes of one character in the target.
    const SQLLEN unit = cType == SQL_C_WCHAR ? 2 : 1;
    const SQLLEN perByte = 2 * unit;
    const SQLLEN room = dst != nullptr && dstLen > 0 ? dstLen : 0;
    SQLLEN n = len;
    if (room < perByte * len + unit) {
        *err = ERR_DATA_WAS_TRUNCATED;
        n = room < unit ? 0 : (room - unit) / perByte;
    } else if (total != SQL_NO_TOTAL && len < total) {
        *err = ERR_DATA_WAS_TRUNCATED;   // more of a long value remains
    }
    if (outLen != nullptr) {
        const SQLLEN whole = total != 0 ? total : len;
        *outLen = whole == SQL_NO_TOTAL ? SQL_NO_TOTAL : perByte * whole;
    }
    if (room >= unit) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const auto* in = static_cast<const unsigned char*>(bytes);
        auto* out = static_cast<unsigned char*>(dst);
        for (SQLLEN i = 0; i <= 2 * n; ++i) {
            // The last round writes the terminator.
            const SQLWCHAR c = i == 2 * n ? 0 : kDigits[i % 2 == 0 ? in[i / 2] >> 4 : in[i / 2] & 0xF];
            if (unit == 2)
                std::memcpy(out + 2 * i, &c, 2);
            else
                out[i] = static_cast<unsigned char>(c);
        }
    }
    return *err == ERR_DATA_WAS_TRUNCATED ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN ConvertDATE(const SQL_DATE_STRUCT* date, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err) {
    switch (cType) {
    case SQL_C_CHAR: case SQL_C_WCHAR: {
        if (!YearHasText(date->year))
            return ConvertFailed(err, ERR_DATE_OVERFLOW);
        char text[DATETIME_TEXT_SIZE];
        DateText(text, date);
        return CopyTextOut(text, false, cType, dst, dstLen, outLen, err);
    }
    case SQL_C_DATE: case SQL_C_TYPE_DATE:
        return CopyFixedOut(dst, date, sizeof *date, outLen, err);
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: {
        const SQL_TIMESTAMP_STRUCT ts{date->year, date->month, date->day, 0, 0, 0, 0};
        return CopyFixedOut(dst, &ts, sizeof ts, outLen, err);
    }
    case SQL_C_BINARY:
        return CopyCharOut(date, sizeof *date, sizeof *date, 0, false, true, dst, dstLen, outLen, err);
    default:
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    }
}

SQLRETURN ConvertTIME(const SQL_TIME_STRUCT* time, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                      int* err) {
    switch (cType) {
    case SQL_C_CHAR: case SQL_C_WCHAR: {
        char text[DATETIME_TEXT_SIZE];
        TimeText(text, time);
        return CopyTextOut(text, false, cType, dst, dstLen, outLen, err);
    }
    case SQL_C_TIME: case SQL_C_TYPE_TIME:
        return CopyFixedOut(dst, time, sizeof *time, outLen, err);
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: {
        // A time of day becomes a timestamp of the current date.
        const std::time_t now = std::time(nullptr);
        std::tm today{};
        localtime_r(&now, &today);
        const SQL_TIMESTAMP_STRUCT ts{static_cast<SQLSMALLINT>(today.tm_year + 1900),
                                      static_cast<SQLUSMALLINT>(today.tm_mon + 1),
                                      static_cast<SQLUSMALLINT>(today.tm_mday),
                                      time->hour,
                                      time->minute,
                                      time->second,
                                      0};
        return CopyFixedOut(dst, &ts, sizeof ts, outLen, err);
    }
    case SQL_C_BINARY:
        return CopyCharOut(time, sizeof *time, sizeof *time, 0, false, true, dst, dstLen, outLen, err);
    default:
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    }
}

SQLRETURN ConvertTIMESTAMP(const SQL_TIMESTAMP_STRUCT* ts, int32_t cType, void* dst, SQLLEN dstLen, SQLLEN* outLen,
                           int fractionDigits, int* err) {
    switch (cType) {
    case SQL_C_CHAR: case SQL_C_WCHAR: {
        if (!YearHasText(ts->year) || ts->fraction > 999999999)
            return ConvertFailed(err, ERR_DATE_OVERFLOW);
        char text[DATETIME_TEXT_SIZE];
        TimestampText(text, ts, fractionDigits);
        return CopyTextOut(text, true, cType, dst, dstLen, outLen, err);
    }
    case SQL_C_DATE: case SQL_C_TYPE_DATE: {
        const SQL_DATE_STRUCT d{ts->year, ts->month, ts->day};
        return CopyFixedOut(dst, &d, sizeof d, outLen, err);
    }
    case SQL_C_TIME: case SQL_C_TYPE_TIME: {
        const SQL_TIME_STRUCT t{ts->hour, ts->minute, ts->second};
        return CopyFixedOut(dst, &t, sizeof t, outLen, err);
    }
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP:
        return CopyFixedOut(dst, ts, sizeof *ts, outLen, err);
    case SQL_C_BINARY:
        return CopyCharOut(ts, sizeof *ts, sizeof *ts, 0, false, true, dst, dstLen, outLen, err);
    default:
        return ConvertFailed(err, ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION);
    }
}
