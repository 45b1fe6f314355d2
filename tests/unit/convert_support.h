// Shared by the conversion tests: a target buffer with a guard pattern, and the text of
// what a converter wrote, so that a table row can say the expected value plainly.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/exec/convert/convnum.h"
#include "util/errcode.h"

namespace convtest {

constexpr unsigned char kGuard = 0xCC;

// Short names of results and codes, so that a table row reads as one line.
constexpr SQLRETURN OK = SQL_SUCCESS;
constexpr SQLRETURN INFO = SQL_SUCCESS_WITH_INFO;
constexpr SQLRETURN ERR = SQL_ERROR;
constexpr int TRUNC = ERR_DATA_WAS_TRUNCATED;
constexpr int FRAC = ERR_FRACTIONAL_TRUNCATION;
constexpr int RANGE = ERR_NUMERIC_VALUE_OUT_OF_RANGE;
constexpr int TYPE = ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION;
constexpr int ASSIGN = ERR_ERROR_IN_ASSIGNMENT;
constexpr int CAST = ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION;
constexpr int DATE_RANGE = ERR_DATE_OVERFLOW;

// One converter call's outcome.
struct Outcome {
    SQLRETURN rc = 0;
    int err = 0;
    SQLLEN len = -99;                    // -99: the length was not written
    std::vector<unsigned char> buffer;   // dstLen bytes and 8 guard bytes after them
    SQLLEN dstLen = 0;
    bool untouched() const {
        for (unsigned char b : buffer)
            if (b != kGuard)
                return false;
        return true;
    }
    bool guardKept() const {
        for (size_t i = static_cast<size_t>(dstLen); i < buffer.size(); ++i)
            if (buffer[i] != kGuard)
                return false;
        return true;
    }
};

// Calls convert(dst, dstLen, &len, &err) on a guarded buffer; fixed targets ignore dstLen,
// so a buffer of at least 32 bytes always lies behind it.
inline Outcome Run(SQLLEN dstLen, const std::function<SQLRETURN(void*, SQLLEN, SQLLEN*, int*)>& convert) {
    Outcome o;
    o.dstLen = dstLen;
    o.buffer.assign(static_cast<size_t>(std::max<SQLLEN>(dstLen, 32)) + 8, kGuard);
    o.rc = convert(o.buffer.data(), dstLen, &o.len, &o.err);
    return o;
}

// The value a fixed or text target holds, as text: integers in decimal, floats with 17
// digits, text as it stands (wide text narrowed, units above 0xFF as '?'), numeric
// structures as "p,s:<exact decimal>", binary in hex, dates and times as ODBC writes them.
inline std::string Render(int32_t cType, const unsigned char* p, SQLLEN len) {
    char buf[256];
    auto as = [p](auto v) {
        std::memcpy(&v, p, sizeof v);
        return v;
    };
    switch (cType) {
    case SQL_C_CHAR: return std::string(reinterpret_cast<const char*>(p));
    case SQL_C_WCHAR: {
        std::string s;
        for (size_t i = 0;; i += 2) {
            SQLWCHAR u;
            std::memcpy(&u, p + i, 2);
            if (u == 0)
                return s;
            s.push_back(u <= 0xFF ? static_cast<char>(u) : '?');
        }
    }
    case SQL_C_BIT: case SQL_C_UTINYINT: return std::to_string(as(uint8_t{}));
    case SQL_C_TINYINT: case SQL_C_STINYINT: return std::to_string(as(int8_t{}));
    case SQL_C_SHORT: case SQL_C_SSHORT: return std::to_string(as(int16_t{}));
    case SQL_C_USHORT: return std::to_string(as(uint16_t{}));
    case SQL_C_LONG: case SQL_C_SLONG: return std::to_string(as(int32_t{}));
    case SQL_C_ULONG: return std::to_string(as(uint32_t{}));
    case SQL_C_SBIGINT: return std::to_string(as(int64_t{}));
    case SQL_C_UBIGINT: return std::to_string(as(uint64_t{}));
    case SQL_C_FLOAT: std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(as(float{}))); return buf;
    case SQL_C_DOUBLE: std::snprintf(buf, sizeof buf, "%.17g", as(double{})); return buf;
    case SQL_C_NUMERIC: {
        const auto n = as(SQL_NUMERIC_STRUCT{});
        NumericToText(&n, buf, sizeof buf);
        return std::to_string(n.precision) + "," + std::to_string(n.scale) + ":" + buf;
    }
    case SQL_C_DATE: case SQL_C_TYPE_DATE: {
        const auto d = as(SQL_DATE_STRUCT{});
        std::snprintf(buf, sizeof buf, "%d-%u-%u", d.year, d.month, d.day);
        return buf;
    }
    case SQL_C_TIME: case SQL_C_TYPE_TIME: {
        const auto t = as(SQL_TIME_STRUCT{});
        std::snprintf(buf, sizeof buf, "%u:%u:%u", t.hour, t.minute, t.second);
        return buf;
    }
    case SQL_C_TIMESTAMP: case SQL_C_TYPE_TIMESTAMP: {
        const auto t = as(SQL_TIMESTAMP_STRUCT{});
        std::snprintf(buf, sizeof buf, "%d-%u-%u %u:%u:%u.%u", t.year, t.month, t.day, t.hour, t.minute, t.second,
                      t.fraction);
        return buf;
    }
    default: {  // SQL_C_BINARY and anything else: len bytes in hex
        std::string s;
        for (SQLLEN i = 0; i < len; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", p[i]);
            s += buf;
        }
        return s;
    }
    }
}

inline std::string Render(int32_t cType, const Outcome& o) {
    return Render(cType, o.buffer.data(), std::min(o.len, o.dstLen));
}

// What a table row expects of one call; value "" when nothing is written.
struct Expect {
    SQLRETURN rc;
    int err;
    SQLLEN len;
    std::string value;
};

inline void Check(const Outcome& o, int32_t cType, const Expect& e, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(o.rc, e.rc);
    EXPECT_EQ(o.err, e.err);
    EXPECT_TRUE(o.guardKept());
    if (e.rc == SQL_ERROR) {
        EXPECT_TRUE(o.untouched());
        return;
    }
    EXPECT_EQ(o.len, e.len);
    if (e.value.empty()) {   // a buffer too small for anything, the terminator included
        EXPECT_TRUE(o.untouched());
    } else {
        EXPECT_EQ(Render(cType, o), e.value);
    }
}

}  // namespace convtest
