// An agent session for the tests of statement execution: an open agent server, one agent
// connection made through OA_Connect on a database, and one agent statement on it, with
// helpers for parameter values, fetched rows and log lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_optable.h"
#include "tests/unit/agent_conv_support.h"
#include "tests/unit/dataset_fixture.h"
#include "util/log.h"

namespace exectest {

// "level:text" of every log line at the levels up to maxLevel while it lives.
class LogCapture {
public:
    explicit LogCapture(int maxLevel = LOG_DEBUG) : sink_(log_SinkCreate(maxLevel, -1, 0)) {
        sink_->stream = reinterpret_cast<FILE*>(this);
        sink_->write = [](LOG_SINK* s, int level, const char* text) {
            std::string line(text);
            while (!line.empty() && line.back() == '\n')
                line.pop_back();
            reinterpret_cast<LogCapture*>(s->stream)->lines.push_back(std::to_string(level) + ":" + line);
        };
    }
    ~LogCapture() {
        log_SinkRemove(sink_);
        std::free(sink_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The lines that contain text.
    std::vector<std::string> matching(const std::string& text) const {
        std::vector<std::string> out;
        for (const std::string& l : lines)
            if (l.find(text) != std::string::npos)
                out.push_back(l);
        return out;
    }
    std::vector<std::string> lines;

private:
    LOG_SINK* sink_;
};

// "state|message" of each record of the list.
inline std::vector<std::string> Records(const OA_ERRLIST& list) {
    std::vector<std::string> out;
    for (const OA_ERRREC* r = list.head; r != nullptr; r = r->next)
        out.push_back(std::string(r->sqlstate) + "|" + r->message);
    return out;
}

// One value of a parameter set: an integer, a text, or NULL.
struct Value {
    enum Kind { Int, Text, Null } kind;
    int32_t i = 0;
    std::string s;
    Value(int v) : kind(Int), i(v) {}
    Value(const char* v) : kind(Text), s(v) {}
    Value(std::nullptr_t) : kind(Null) {}
};

// A heap parameter dataset of INTEGER (DS_SLONG) and text (DS_CHARZ, 31 bytes) columns, the
// kind of each column taken from the first row.
inline DATASET* Params(const std::vector<std::vector<Value>>& rows) {
    std::vector<dsfix::Col> cols;
    for (const Value& v : rows.at(0))
        cols.push_back(v.kind == Value::Int ? dsfix::Col{DS_SLONG, 4} : dsfix::Col{DS_CHARZ, 32});
    DATASET* ds = static_cast<DATASET*>(std::calloc(1, sizeof(DATASET)));
    EXPECT_EQ(ds_Init(ds, static_cast<uint16_t>(cols.size())), 0);
    for (size_t c = 0; c < cols.size(); ++c) {
        ds->cols[c].type = cols[c].type;
        ds->cols[c].width = cols[c].width;
    }
    ds->colsUsed = static_cast<uint16_t>(cols.size());
    EXPECT_EQ(ds_AllocRows(ds, static_cast<int32_t>(rows.size())), 0);
    ds->rowsUsed = static_cast<int32_t>(rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < cols.size(); ++c) {
            const Value& v = rows[r][c];
            auto row = static_cast<int32_t>(r);
            if (v.kind == Value::Int)
                convtest::Put(&ds->cols[c], row, convtest::Bytes(v.i));
            else if (v.kind == Value::Text)
                convtest::Put(&ds->cols[c], row, v.s + std::string(1, '\0'));
            else
                ds->cols[c].indicators[row] = DS_IND_NULL;
        }
    return ds;
}

// The rows of a fetched block, each value rendered ("NULL" for a NULL).
inline std::vector<std::vector<std::string>> Rows(const DATASET& ds) {
    std::vector<std::vector<std::string>> out;
    for (int32_t r = 0; r < ds.rowsUsed; ++r) {
        std::vector<std::string> row;
        for (uint16_t c = 0; c < ds.colsUsed; ++c)
            row.push_back(ds.cols[c].indicators[r] == DS_IND_NULL ? "NULL" : convtest::RenderDs(&ds.cols[c], r));
        out.push_back(row);
    }
    return out;
}

// A parameter description of the given kind (1 input, 2 input/output, 4 output).
inline PARAM_DESC Desc(int16_t kind, int16_t sqlType = 4) {
    PARAM_DESC d{};
    d.sqlType = sqlType;
    d.paramType = kind;
    return d;
}

// An open server and one agent connection (autocommit on unless the settings say so) with
// one statement. The database and read-only flag are given by the test.
class Session {
public:
    void Open(const std::string& database, int32_t readOnly = 0) {
        ASSERT_EQ(OA_OpenServer(nullptr, &server), 0);
        db_ = database;
        OA_CONNREQ req{};
        req.options = options_;
        req.database = db_.data();
        req.dbOptions = dbOptions_;
        req.readOnly = readOnly;
        req.user = user_;
        req.password = password_;
        req.initSqlName = initSqlText != nullptr ? "init.sql" : nullptr;
        req.initSqlText = initSqlText;
        req.initSqlResult = 99;
        req.unicodeLibrary = unicodeLibrary;
        req.narrowLatin1 = narrowLatin1;
        ASSERT_EQ(OA_Connect(server, &req, &connId), 0);
        initSqlResult = req.initSqlResult;
        conn = oa_FindConn(connId);
        ASSERT_EQ(OA_AllocStmt(connId, &stmtId), 0);
        stmt = oa_FindStmt(stmtId);
    }
    void Close() {
        if (stmtId != 0) {
            EXPECT_EQ(OA_FreeStmt(stmtId), 0);
        }
        if (connId != 0) {
            EXPECT_EQ(OA_Disconnect(connId), 0);
        }
        if (server != 0) {
            EXPECT_EQ(OA_CloseServer(server), 0);
        }
        stmtId = connId = server = 0;
        stmt = nullptr;
        conn = nullptr;
    }
    // The initial SQL that Open hands the connect, and the outcome it answered.
    const char* initSqlText = nullptr;
    int32_t initSqlResult = 0;
    // The library and narrow code set the connect request names.
    int32_t unicodeLibrary = 0;
    int32_t narrowLatin1 = 0;

    // The ESQL connection name, as the client's calls show it.
    std::string SetConn() const { return "tpe_sql_setconnection " + conn->db->name; }

    // Prepares and executes; 0 or the first failing code.
    int Exec(const char* sql, DATASET* values = nullptr) {
        return OA_PrepareAndExecute(stmtId, sql, values, 0, nullptr);
    }

    uint32_t server = 0;
    uint32_t connId = 0;
    uint32_t stmtId = 0;
    OA_CONN* conn = nullptr;
    OA_STMT* stmt = nullptr;

private:
    std::string db_;
    char options_[1] = "";
    char dbOptions_[1] = "";
    char user_[6] = "alice";
    char password_[7] = "secret";
};

}  // namespace exectest
