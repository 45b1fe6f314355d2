// SQLGetDiagRec and SQLGetDiagField handlers over the records a failed call leaves.
#include <gtest/gtest.h>
#include <sqlext.h>

#include <cstring>
#include <string>

#include "driver/handlers/diagentry.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

class DiagEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        envr.odbcVersion = 3;
        conn.envr = &envr;
        conn.dsn = "sales";
    }

    using RecHandler = SQLRETURN (*)(HANDLE_HDR*, const GetDiagRecArgs&);
    using FieldHandler = SQLRETURN (*)(HANDLE_HDR*, const GetDiagFieldArgs&);

    SQLRETURN Rec(RecHandler h, HANDLE_HDR* obj, SQLSMALLINT rec, std::string* state, std::string* msg,
                  SQLSMALLINT bufLen = 256) {
        SQLCHAR st[6] = "xxxxx";
        SQLCHAR m[256] = {};
        SQLINTEGER native = -1;
        SQLSMALLINT len = -1;
        SQLRETURN rc = h(obj, GetDiagRecArgs{rec, st, &native, m, bufLen, &len, WIDTH_NARROW});
        *state = reinterpret_cast<char*>(st);
        *msg = reinterpret_cast<char*>(m);
        return rc;
    }

    SQLRETURN Field(FieldHandler h, HANDLE_HDR* obj, SQLSMALLINT rec, SQLSMALLINT id, void* value,
                    SQLSMALLINT bufLen, SQLSMALLINT* len, int width = 'A') {
        return h(obj, GetDiagFieldArgs{rec, id, value, bufLen, len, width});
    }

    std::string TextField(FieldHandler h, HANDLE_HDR* obj, SQLSMALLINT rec, SQLSMALLINT id, SQLRETURN* rc = nullptr) {
        char buf[128] = {};
        SQLSMALLINT len = 0;
        SQLRETURN r = Field(h, obj, rec, id, buf, sizeof buf, &len);
        if (rc != nullptr)
            *rc = r;
        return buf;
    }

    ENVR envr;
    CONN conn;
    STMT stmt{&conn};
};

TEST_F(DiagEntryTest, FreshHandleHasOneEmptyRecord) {
    SQLINTEGER n = 0;
    SQLSMALLINT len = 0;
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 0, SQL_DIAG_NUMBER, &n, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_SQLSTATE), "00000");
    std::string state, msg;
    EXPECT_EQ(Rec(DoGetDiagRec, &stmt, 1, &state, &msg), SQL_NO_DATA);
    EXPECT_EQ(state, "00000");
}

TEST_F(DiagEntryTest, RecordsAreReadWithoutBeingConsumed) {
    stmt.diag.messages.push_back({"[Progress Server]Table not found [SQLSTATE:42S02]", -20005});
    std::string state, msg;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Rec(DoGetDiagRec, &stmt, 1, &state, &msg), SQL_SUCCESS);
        EXPECT_EQ(state, "42S02");
        EXPECT_EQ(msg, "[Tessaryn][ODBC][Progress Server]Table not found ");
    }
    EXPECT_EQ(Rec(DoGetDiagRec, &stmt, 2, &state, &msg), SQL_NO_DATA);
    EXPECT_EQ(state, "00000");
    EXPECT_EQ(msg, "");
    EXPECT_EQ(Rec(DoGetDiagRec, &stmt, 1, &state, &msg, -1), SQL_ERROR);
    EXPECT_EQ(Rec(DoGetDiagRec, &stmt, 0, &state, &msg), SQL_ERROR);
}

TEST_F(DiagEntryTest, PendingCodeReadsInOdbc3Form) {
    conn.diag.errCode = ERR_FUNCTION_SEQUENCE_ERROR;
    std::string state, msg;
    EXPECT_EQ(Rec(DoGetDiagRec, &conn, 1, &state, &msg), SQL_SUCCESS);
    EXPECT_EQ(state, "HY010");
    EXPECT_EQ(msg, "[Tessaryn][ODBC][Driver]Function sequence error");
    EXPECT_EQ(TextField(DoGetDiagField, &conn, 1, SQL_DIAG_MESSAGE_TEXT), msg);
    EXPECT_EQ(conn.diag.errCode, ERR_FUNCTION_SEQUENCE_ERROR);  // still there
}

TEST_F(DiagEntryTest, ClassOriginAndConnectionName) {
    struct Case {
        int code;
        const char* origin;
    } cases[] = {{ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION, "ODBC 3.0"}, {ERR_INVALID_CURSOR_STATE, "ISO 9075"}};
    for (const Case& c : cases) {
        stmt.diag.errCode = c.code;
        EXPECT_EQ(TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_CLASS_ORIGIN), c.origin);
        EXPECT_EQ(TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_SUBCLASS_ORIGIN), c.origin);
    }
    EXPECT_EQ(TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_CONNECTION_NAME), "sales");
    EXPECT_EQ(TextField(DoGetDiagField, &envr, 1, SQL_DIAG_SERVER_NAME), "");
    stmt.diag.errCode = 0;
    SQLRETURN rc = SQL_SUCCESS;
    TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_MESSAGE_TEXT, &rc);
    EXPECT_EQ(rc, SQL_NO_DATA);
}

TEST_F(DiagEntryTest, StatementOnlyHeaderFields) {
    stmt.isQuery = true;
    SQLINTEGER code = 0;
    SQLSMALLINT len = 0;
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, &code, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(code, SQL_DIAG_SELECT_CURSOR);
    EXPECT_EQ(TextField(DoGetDiagField, &stmt, 0, SQL_DIAG_DYNAMIC_FUNCTION), "SELECT CURSOR");
    EXPECT_EQ(Field(DoGetDiagField, &conn, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, &code, 0, &len), SQL_ERROR);
    SQLLEN rows = 0;
    stmt.rowCount = 12;
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 0, SQL_DIAG_ROW_COUNT, &rows, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(rows, 12);
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 0, SQL_DIAG_SQLSTATE, &rows, 0, &len), SQL_ERROR);
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 3, SQL_DIAG_SQLSTATE, &rows, 0, &len), SQL_NO_DATA);
}

// unixODBC reads both row counts on every extraction of a statement's records: reading
// them leaves the records as they were, and on another handle only fails.
TEST_F(DiagEntryTest, RowCountsPostNothing) {
    stmt.diag.errCode = ERR_INVALID_CURSOR_STATE;
    stmt.diag.messages.push_back({"[Progress Server]queued [SQLSTATE:42S02]", -1});
    stmt.rowCount = 3;
    for (SQLSMALLINT id : {SQL_DIAG_ROW_COUNT, SQL_DIAG_CURSOR_ROW_COUNT}) {
        SQLLEN rows = 0;
        SQLSMALLINT len = 0;
        EXPECT_EQ(Field(DoGetDiagField, &stmt, 0, id, &rows, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(rows, 3);
        EXPECT_EQ(Field(DoGetDiagField, &stmt, 0, id, nullptr, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(Field(DoGetDiagField, &conn, 0, id, &rows, 0, &len), SQL_ERROR);
    }
    EXPECT_EQ(stmt.diag.errCode, ERR_INVALID_CURSOR_STATE);
    EXPECT_EQ(stmt.diag.messages.size(), 1u);
    EXPECT_EQ(conn.diag.errCode, 0);
    EXPECT_TRUE(conn.diag.messages.empty());
    EXPECT_EQ(TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_SQLSTATE), "42S02");
}

// A diagnostic call reports its own faults by its result alone: it posts no record, so
// the records of the call that failed stay as they were for the next read.
TEST_F(DiagEntryTest, RefusedFieldRequestsFailAndKeepTheRecords) {
    stmt.diag.errCode = ERR_INVALID_CURSOR_STATE;
    conn.diag.messages.push_back({"queued", 1});
    struct Case {
        const char* what;
        FieldHandler handler;
        HANDLE_HDR* object;
        SQLSMALLINT rec, id, bufLen;
    } cases[] = {
        {"negative length, state", DoGetDiagField, &stmt, 1, SQL_DIAG_SQLSTATE, -1},
        {"negative length, message", DoGetDiagField, &conn, 1, SQL_DIAG_MESSAGE_TEXT, -5},
        {"negative length, class origin", DoGetDiagField, &stmt, 1, SQL_DIAG_CLASS_ORIGIN, -1},
        {"negative length, subclass origin", DoGetDiagField, &stmt, 1, SQL_DIAG_SUBCLASS_ORIGIN, -1},
        {"negative length, connection name", DoGetDiagField, &conn, 1, SQL_DIAG_CONNECTION_NAME, -1},
        {"negative length, server name", DoGetDiagField, &stmt, 1, SQL_DIAG_SERVER_NAME, -32768},
        {"negative length, dynamic function", DoGetDiagField, &stmt, 0, SQL_DIAG_DYNAMIC_FUNCTION, -1},
        {"unknown record field", DoGetDiagField, &stmt, 1, 99, 64},
        {"unknown field of a record past the end", DoGetDiagField, &conn, 5, -1, 64},
        {"unknown header field", DoGetDiagField, &stmt, 0, 99, 64},
        {"record field of the header", DoGetDiagField, &stmt, 0, SQL_DIAG_NATIVE, 64},
        {"record field of a negative record", DoGetDiagField, &stmt, -1, SQL_DIAG_SQLSTATE, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char buf[64];
        std::memset(buf, 'Z', sizeof buf);
        SQLSMALLINT len = -7;
        EXPECT_EQ(Field(c.handler, c.object, c.rec, c.id, buf, c.bufLen, &len), SQL_ERROR);
        EXPECT_EQ(buf[0], 'Z');
        EXPECT_EQ(len, -7);
    }
    EXPECT_EQ(stmt.diag.errCode, ERR_INVALID_CURSOR_STATE);
    EXPECT_TRUE(stmt.diag.messages.empty());
    EXPECT_EQ(conn.diag.errCode, 0);
    EXPECT_EQ(conn.diag.messages.size(), 1u);
    EXPECT_EQ(TextField(DoGetDiagField, &stmt, 1, SQL_DIAG_SQLSTATE), "24000");
}

// The record number is ignored for a header field.
TEST_F(DiagEntryTest, HeaderFieldsAnswerWhateverTheRecordNumber) {
    conn.diag.messages.push_back({"one", 1});
    conn.diag.messages.push_back({"two", 2});
    for (SQLSMALLINT rec : {0, 1, 7}) {
        SCOPED_TRACE(rec);
        SQLINTEGER n = 0;
        SQLSMALLINT len = 0;
        EXPECT_EQ(Field(DoGetDiagField, &conn, rec, SQL_DIAG_NUMBER, &n, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(n, 2);
    }
}

TEST_F(DiagEntryTest, WideTextFieldsCountBytes) {
    stmt.diag.errCode = ERR_INVALID_CURSOR_STATE;
    SQLWCHAR buf[8] = {};
    SQLSMALLINT len = 0;
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 1, SQL_DIAG_SQLSTATE, buf, sizeof buf, &len, 'W'), SQL_SUCCESS);
    // "24000" is 10 bytes wide
    EXPECT_EQ(len, 10);
    EXPECT_EQ(buf[0], '2');
    EXPECT_EQ(buf[4], '0');
    EXPECT_EQ(buf[5], 0);
    EXPECT_EQ(Field(DoGetDiagField, &stmt, 1, SQL_DIAG_SQLSTATE, buf, 6, &len, 'W'), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(buf[2], 0);
}

}  // namespace
