// Helpers for the tests of the agent's value conversion and binding: server elements made
// and rendered, dataset elements made and rendered.
#pragma once

#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/esql92/esql92.h"
#include "util/charset.h"
#include "util/dataset.h"
#include "util/log.h"

namespace convtest {

// Records the ERROR lines logged while it lives.
class LogLines {
public:
    LogLines() : sink_(log_SinkCreate(LOG_ERR, 1, 0)) {
        sink_->write = [](LOG_SINK* s, int, const char* text) {
            reinterpret_cast<LogLines*>(s->stream)->lines.emplace_back(text);
        };
        sink_->stream = reinterpret_cast<FILE*>(this);
    }
    ~LogLines() {
        log_SinkRemove(sink_);
        std::free(sink_);
    }
    std::vector<std::string> lines;

private:
    LOG_SINK* sink_;
};

const std::string kHello = "h\xC3\xA9llo";   // "héllo": 5 characters, 6 bytes

inline std::string Hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t k = 0; k < n; ++k) {
        s += digits[p[k] >> 4];
        s += digits[p[k] & 15];
    }
    return s;
}

template <typename T>
std::string Bytes(const T& v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

// Server elements ------------------------------------------------------------------------

// Text in an element of len bytes (zero-filled; no NUL when the text fills it).
inline std::string TextElem(const std::string& s, uint32_t len) {
    std::string e(len, '\0');
    std::memcpy(e.data(), s.data(), std::min<size_t>(s.size(), len));
    return e;
}

// The packed NUMERIC of a decimal text ("-12.50"), its scale being the digits after '.'.
inline std::string NumericElem(const std::string& text, uint8_t precision) {
    ESQL_NUMERIC_VALUE n{};
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9')
            digits += c;
    size_t dot = text.find('.');
    n.scale = static_cast<uint8_t>(dot == std::string::npos ? 0 : text.size() - dot - 1);
    n.precision = precision;
    n.sign = text[0] == '-' ? 1 : 0;
    size_t lead = digits.find_first_not_of('0');
    digits.erase(0, lead == std::string::npos ? digits.size() : lead);
    n.ndigits = static_cast<uint8_t>(digits.size());
    for (size_t k = 0; k < digits.size(); ++k)
        n.digits[k / 2] |= static_cast<uint8_t>((digits[k] - '0') << (k % 2 == 0 ? 4 : 0));
    return Bytes(n);
}

inline std::string BinaryElem(int32_t count, const std::string& bytes) {
    std::string e(32000, '\0');
    std::memcpy(e.data(), &count, 4);
    std::memcpy(e.data() + 4, bytes.data(), bytes.size());
    return e;
}

// A server element as text: integers and datetimes as numbers, text up to its NUL, binary
// as "count:hex".
inline std::string RenderServer(int32_t type, const unsigned char* e, uint32_t len) {
    char buf[96];
    switch (type) {
    case ESQL_SMALLINT: { int16_t v; std::memcpy(&v, e, 2); return std::to_string(v); }
    case ESQL_INTEGER: { int32_t v; std::memcpy(&v, e, 4); return std::to_string(v); }
    case ESQL_BIGINT: { int64_t v; std::memcpy(&v, e, 8); return std::to_string(v); }
    case ESQL_DATE: {
        ESQL_DATE_VALUE d;
        std::memcpy(&d, e, sizeof d);
        std::snprintf(buf, sizeof buf, "%d-%d-%d", d.year, d.month, d.day);
        return buf;
    }
    case ESQL_TIME: {
        ESQL_TIME_VALUE t;
        std::memcpy(&t, e, sizeof t);
        std::snprintf(buf, sizeof buf, "%d:%d:%d|%d%d%d", t.hour, t.minute, t.second, t.zero[0], t.zero[1],
                      t.zero[2]);
        return buf;
    }
    case ESQL_TIMESTAMP: {
        ESQL_TIMESTAMP_VALUE t;
        std::memcpy(&t, e, sizeof t);
        std::snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d.%d|%d", t.year, t.month, t.day, t.hour, t.minute,
                      t.second, t.millisecond, t.zero);
        return buf;
    }
    case ESQL_BINARY:
    case ESQL_VARBINARY: {
        int32_t n;
        std::memcpy(&n, e, 4);
        return std::to_string(n) + ":" + Hex(e + 4, n > 0 ? static_cast<size_t>(n) : 0);
    }
    default:
        return std::string(reinterpret_cast<const char*>(e), strnlen(reinterpret_cast<const char*>(e), len));
    }
}

// Dataset elements ------------------------------------------------------------------------

// UCS-2 units of a UTF-8 text.
inline std::u16string Wide(const std::string& s) {
    std::u16string w(s.size() + 1, u'\0');
    SQLLEN n = ut_Utf8DecodeN(s.data(), static_cast<SQLLEN>(s.size()), reinterpret_cast<SQLWCHAR*>(w.data()),
                              static_cast<SQLLEN>(w.size()));
    w.resize(static_cast<size_t>(n));
    return w;
}

// UTF-8 of n units.
inline std::string Narrow(const SQLWCHAR* p, size_t n) {
    std::string s(4 * n + 1, '\0');
    SQLLEN k = ut_Ucs2ToUtf8N(p, static_cast<SQLLEN>(n), s.data(), static_cast<SQLLEN>(s.size()), nullptr);
    s.resize(static_cast<size_t>(k));
    return s;
}

// The UCS-2 bytes of a UTF-8 text.
inline std::string U16(const std::string& utf8) {
    std::u16string w = Wide(utf8);
    return std::string(reinterpret_cast<const char*>(w.data()), 2 * w.size());
}

template <typename T>
std::string Prefixed(T length, const std::string& rest) {
    return Bytes(length) + rest;
}

// A dataset element as text: text types as their text (trailing zero bytes of fixed text
// dropped), datetimes as numbers, binary as hex ("count:hex" by reference).
inline std::string RenderDs(const DATASET_COL* c, int32_t row) {
    const unsigned char* e = ds_Elem(c, row);
    char buf[96];
    switch (c->type) {
    case DS_CHAR: {
        std::string s(reinterpret_cast<const char*>(e), c->width);
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        return s;
    }
    case DS_CHARZ: return std::string(reinterpret_cast<const char*>(e));
    case DS_WCHAR:
    case DS_WCHARZ: {
        auto p = reinterpret_cast<const SQLWCHAR*>(e);
        size_t n = 0;
        while (n < c->width / 2 && p[n] != 0)
            ++n;
        return Narrow(p, n);
    }
    case DS_DATE: {
        SQL_DATE_STRUCT d;
        std::memcpy(&d, e, sizeof d);
        std::snprintf(buf, sizeof buf, "%d-%d-%d", d.year, d.month, d.day);
        return buf;
    }
    case DS_TIME: {
        SQL_TIME_STRUCT t;
        std::memcpy(&t, e, sizeof t);
        std::snprintf(buf, sizeof buf, "%d:%d:%d", t.hour, t.minute, t.second);
        return buf;
    }
    case DS_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT t;
        std::memcpy(&t, e, sizeof t);
        std::snprintf(buf, sizeof buf, "%d-%d-%d %d:%d:%d.%u", t.year, t.month, t.day, t.hour, t.minute,
                      t.second, t.fraction);
        return buf;
    }
    case DS_BINARY: return Hex(e, c->width);
    case DS_LONGBINARY: {
        DS_REFVAL ref;
        std::memcpy(&ref, e, sizeof ref);
        return std::to_string(ref.length) + ":" + Hex(static_cast<const unsigned char*>(ref.data), ref.length);
    }
    case DS_SSHORT: { int16_t v; std::memcpy(&v, e, 2); return std::to_string(v); }
    case DS_SLONG: { int32_t v; std::memcpy(&v, e, 4); return std::to_string(v); }
    case DS_STINYINT: return std::to_string(static_cast<int8_t>(e[0]));
    case DS_UTINYINT: return std::to_string(e[0]);
    case DS_FLOAT: { float v; std::memcpy(&v, e, 4); std::snprintf(buf, sizeof buf, "%g", v); return buf; }
    case DS_DOUBLE: { double v; std::memcpy(&v, e, 8); std::snprintf(buf, sizeof buf, "%.15g", v); return buf; }
    default: return "?";
    }
}

// Puts raw bytes into a dataset element (the rest of it zeroed) and marks the row present.
inline void Put(DATASET_COL* c, int32_t row, const std::string& bytes) {
    ASSERT_LE(bytes.size(), c->width);
    unsigned char* e = ds_Elem(c, row);
    std::memset(e, 0, c->width);
    std::memcpy(e, bytes.data(), bytes.size());
    c->indicators[row] = 0;
}

// Puts a by-reference value (bytes, or units for type 26) that the dataset then owns.
inline void PutRef(DATASET_COL* c, int32_t row, const std::string& bytes, uint32_t length) {
    void* block = std::malloc(bytes.size() + 1);
    std::memcpy(block, bytes.data(), bytes.size());
    DS_REFVAL ref{length, block};
    std::memcpy(ds_Elem(c, row), &ref, sizeof ref);
    c->indicators[row] = 0;
}

}  // namespace convtest
