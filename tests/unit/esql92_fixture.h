// Helpers for the tests of the ESQL-92 client stand-in: a connection and its cursors driven
// through the C API only, temporary database files, and buffers bound to an SQLDA.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/esql92/esql92.h"

namespace esqltest {

// A database file under $TMPDIR (or /tmp), removed with its WAL files at the end.
class TempDb {
public:
    TempDb() {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/esql92-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        int fd = mkstemp(buf.data());
        if (fd >= 0)
            ::close(fd);
        path_ = buf.data();
        ::unlink(path_.c_str());   // a missing file is created by the connect
    }
    ~TempDb() {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            ::unlink((path_ + suffix).c_str());
    }
    const std::string& path() const { return path_; }
    std::string target() const { return "progress:T:localhost:5162:" + path_; }

private:
    std::string path_;
};

inline std::string state(const ESQL_SQLCA& ca) { return std::string(ca.sqlstate); }
inline std::string message(const ESQL_SQLCA& ca) { return std::string(ca.sqlerrmc, static_cast<size_t>(ca.sqlerrml)); }

// One column bound for fetching: rows elements of `length` bytes and their indicators.
struct Bound {
    int32_t type = 0;
    uint32_t length = 0;
    std::vector<char> data;
    std::vector<int32_t> ind;

    const char* at(size_t row) const { return data.data() + row * length; }
    std::string text(size_t row) const { return std::string(at(row)); }
    template <typename T>
    T get(size_t row) const {
        T v;
        std::memcpy(&v, at(row), sizeof v);
        return v;
    }
};

// A connection of the stand-in with a few conveniences. Every call keeps its SQLCA in ca.
class Conn {
public:
    explicit Conn(const std::string& target, const std::string& name) : name_(name) {
        std::memset(&ca, 0, sizeof ca);
        rc = tpe_sqlconnect(target.c_str(), name.c_str(), "alice", "secret", nullptr, &ca);
        if (rc == 0) {
            db = tpe_get_curdbhdl();
            tm = tpe_get_curtmhdl();
        }
    }
    ~Conn() {
        if (db) {
            ESQL_SQLCA c;
            std::memset(&c, 0, sizeof c);
            tpe_sql_disconnect(ESQL_DISCONNECT_NAMED, name_.c_str(), &c);
        }
    }
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    const std::string& name() const { return name_; }

    // A cursor with a fresh identity, set up and prepared; 0 on success.
    int prepare(const std::string& sql, ESQL_CURHDL& cur) {
        unsigned char id[ESQL_IDENTITY_SIZE] = {};
        uint64_t n = ++identities_;
        std::memcpy(id, &n, sizeof n);
        std::memcpy(id + 8, this, sizeof(void*));
        rc = tpe_sql_setconnection(name_.c_str(), &ca);
        if (rc < 0) return rc;
        rc = tpe_set_cursor(tm, db, &cur, id, ESQL_CURSOR_DYNAMIC, sql.c_str(), &ca);
        if (rc < 0) return rc;
        rc = tpe_set_cursorname(cur, ("C" + std::to_string(n)).c_str(), &ca);
        if (rc < 0) return rc;
        return rc = tpe_sqlprepare(tm, db, cur, &ca);
    }

    // Prepares and executes a statement without parameters; returns the code.
    int exec(const std::string& sql) {
        ESQL_CURHDL cur = nullptr;
        if (prepare(sql, cur) < 0)
            return rc;
        return rc = tpe_sqlexecute(tm, db, cur, nullptr, &ca);
    }

    int commit() { return rc = tpe_tm_end_trans(tm, &ca); }
    int rollback() {
        rc = tpe_tm_mark_abort(tm, &ca);
        if (rc < 0) return rc;
        return rc = tpe_tm_end_trans(tm, &ca);
    }

    // The description of the cursor's result columns, described into a big enough SQLDA.
    PRO_SQLDA* describe(ESQL_CURHDL cur) {
        PRO_SQLDA* da = PRO_SQLDA_Allocate(1, ESQL_SQLDA_OUTPUT);
        rc = tpe_sqldescribe(tm, db, cur, da, &ca);
        uint32_t count = 0;
        PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_COUNT, &count, &ca);
        if (static_cast<int32_t>(count) < 0) {
            PRO_SQLDA_Deallocate(da);
            da = PRO_SQLDA_Allocate(static_cast<uint32_t>(-static_cast<int32_t>(count)), ESQL_SQLDA_OUTPUT);
            rc = tpe_sqldescribe(tm, db, cur, da, &ca);
        }
        return da;
    }

    std::vector<Bound> bind(PRO_SQLDA* da, uint32_t rows);

    // Runs a query and returns every row as text cells ("NULL" for NULL), fetching `block`
    // rows at a time. Types are fetched as described; numbers and dates are rendered.
    std::vector<std::vector<std::string>> query(const std::string& sql, uint32_t block = 7);

    ESQL_SQLCA ca;
    int rc = 0;
    ESQL_DBHDL db = nullptr;
    ESQL_TMHDL tm = nullptr;

private:
    std::string name_;
    uint64_t identities_ = 0;
};

// Binds every described column of an output SQLDA with its described type and length for
// `rows` rows (binary columns get room for the byte count).
inline std::vector<Bound> bindAll(PRO_SQLDA* da, uint32_t rows) {
    uint32_t count = 0;
    PRO_SQLDA_Get_DA_Attribute_dh_u32_t(da, ESQL_DA_COUNT, &count, nullptr);
    std::vector<Bound> cols(count);
    PRO_SQLDA_Set_DA_Attribute_dh_u32_t(da, ESQL_DA_ROWS, rows, nullptr);
    for (uint32_t c = 1; c <= count; ++c) {
        Bound& b = cols[c - 1];
        PRO_SQLDA_Get_Col_Attribute_dh_i32_t(da, ESQL_COL_TYPE, c, &b.type, nullptr);
        PRO_SQLDA_Get_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, c, &b.length, nullptr);
        if (b.type == ESQL_BINARY || b.type == ESQL_VARBINARY)
            b.length += 4;
        b.data.assign(static_cast<size_t>(b.length) * rows, '\x7f');
        b.ind.assign(rows, 77);
        PRO_SQLDA_Set_Col_Attribute_dh_u32_t(da, ESQL_COL_LENGTH, c, b.length, nullptr);
        PRO_SQLDA_Set_Col_Attribute_void_p(da, ESQL_COL_DATA, c, b.data.data(), nullptr);
        PRO_SQLDA_Set_Col_Attribute_dh_i32_t_p(da, ESQL_COL_INDICATOR, c, b.ind.data(), nullptr);
    }
    return cols;
}

inline std::vector<Bound> Conn::bind(PRO_SQLDA* da, uint32_t rows) { return bindAll(da, rows); }

// Renders one fetched element as text.
inline std::string render(const Bound& b, size_t row) {
    if (b.ind[row] == -1)
        return "NULL";
    switch (b.type) {
    case ESQL_CHARACTER:
    case ESQL_VARCHAR: return b.text(row);
    case ESQL_INTEGER: return std::to_string(b.get<int32_t>(row));
    case ESQL_SMALLINT: return std::to_string(b.get<int16_t>(row));
    case ESQL_TINYINT:
    case ESQL_BIT: return std::to_string(b.get<int8_t>(row));
    case ESQL_BIGINT:
    case ESQL_NUMERIC: {
        char buf[80];
        int n = esql92_value_to_text(b.type, b.length, b.at(row), "", buf, sizeof buf);
        return n < 0 ? "?" : std::string(buf);
    }
    case ESQL_REAL: { char buf[40]; std::snprintf(buf, sizeof buf, "%g", b.get<float>(row)); return buf; }
    case ESQL_FLOAT: { char buf[40]; std::snprintf(buf, sizeof buf, "%.15g", b.get<double>(row)); return buf; }
    case ESQL_DATE: {
        auto d = b.get<ESQL_DATE_VALUE>(row);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
        return buf;
    }
    case ESQL_TIME: {
        auto t = b.get<ESQL_TIME_VALUE>(row);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
        return buf;
    }
    case ESQL_TIMESTAMP: {
        auto t = b.get<ESQL_TIMESTAMP_VALUE>(row);
        char buf[60];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second, t.millisecond);
        return buf;
    }
    case ESQL_BINARY:
    case ESQL_VARBINARY: {
        int32_t n = b.get<int32_t>(row);
        std::string hex;
        static const char digits[] = "0123456789ABCDEF";
        for (int32_t k = 0; k < n; ++k) {
            unsigned char c = static_cast<unsigned char>(b.at(row)[4 + k]);
            hex += digits[c >> 4];
            hex += digits[c & 15];
        }
        return hex;
    }
    default: return "?";
    }
}

inline std::vector<std::vector<std::string>> Conn::query(const std::string& sql, uint32_t block) {
    std::vector<std::vector<std::string>> rows;
    ESQL_CURHDL cur = nullptr;
    if (prepare(sql, cur) < 0)
        return rows;
    PRO_SQLDA* da = describe(cur);
    std::vector<Bound> cols = bind(da, block);
    rc = tpe_sqldeclare(tm, db, cur, nullptr, &ca);
    if (rc >= 0)
        rc = tpe_sqlopen(tm, db, cur, nullptr, &ca);
    while (rc == 0) {
        rc = tpe_sqlfetch(tm, db, cur, da, &ca);
        if (rc < 0)
            break;
        for (int64_t r = 0; r < ca.sqlrows; ++r) {
            std::vector<std::string> row;
            for (const Bound& b : cols)
                row.push_back(render(b, static_cast<size_t>(r)));
            rows.push_back(row);
        }
    }
    int last = rc;
    ESQL_SQLCA keep = ca;
    tpe_sqlclose(tm, db, cur, &ca);
    PRO_SQLDA_Deallocate(da);
    if (last < 0)
        ca = keep;
    rc = last == ESQL_NOT_FOUND ? 0 : last;
    return rows;
}

using Rows = std::vector<std::vector<std::string>>;

}  // namespace esqltest
