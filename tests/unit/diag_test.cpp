// Diagnostics core: the SQLSTATE table against a copy of its rows kept as test data, the
// ODBC 3 state mapping, the reading of records (prefixes, the server's state cut out of
// its message, buffer cuts, SQLError's order of messages and pending code), and the
// SQLError handlers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/diag/diag.h"
#include "util/sqlstate.h"
#include "driver/frame/dispatch.h"
#include "driver/frame/resources.h"
#include "driver/handlers/diagentry.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "util/errcode.h"
#include "util/log.h"

namespace {

struct Row {
    int code;
    std::string state;
    std::string message;
};

std::vector<Row> ReadRows() {
    auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "sqlstate_rows.tsv";
    std::ifstream in(path);
    std::vector<Row> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t a = line.find('\t');
        size_t b = line.find('\t', a + 1);
        rows.push_back({std::stoi(line.substr(0, a)), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return rows;
}

TEST(SqlStateTable, EveryRowMatchesTheKeptCopy) {
    std::vector<Row> rows = ReadRows();
    ASSERT_EQ(rows.size(), std::size(SQLSTATE_TABLE)) << "test data missing or incomplete";
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        ASSERT_LE(r.code, ERR_TABLE_LAST);
        const SQLSTATE_ROW& row = SQLSTATE_TABLE[r.code];
        EXPECT_EQ(row.code, r.code);
        EXPECT_EQ(row.state, r.state);
        EXPECT_EQ(row.message, r.message);
        // Only a used row answers for its code.
        EXPECT_EQ(SqlStateRow(r.code) != nullptr, !r.state.empty());
    }
}

// A fixture of one handle of each kind, chained as the driver chains them.
class DiagRecords : public ::testing::Test {
protected:
    void SetUp() override {
        conn.envr = &envr;
        Odbc(2);
    }
    void Odbc(int version) { envr.odbcVersion = version; }

    struct Out {
        SQLRETURN rc;
        std::string state;
        SQLINTEGER native;
        std::string text;
        SQLSMALLINT length;
    };

    Out Read(DIAG* which, int mode, SQLINTEGER bufLen = 512) {
        SQLCHAR state[6] = "?????";
        SQLINTEGER native = -99;
        std::vector<SQLCHAR> msg(bufLen > 0 ? static_cast<size_t>(bufLen) : 1, 'Z');
        SQLSMALLINT length = -99;
        SQLRETURN rc;
        if (which == &stmt.diag)
            rc = GetErrorRec(nullptr, nullptr, &stmt, nullptr, state, &native, msg.data(), bufLen, &length, mode);
        else if (which == &conn.diag)
            rc = GetErrorRec(nullptr, &conn, nullptr, nullptr, state, &native, msg.data(), bufLen, &length, mode);
        else if (which == &envr.diag)
            rc = GetErrorRec(&envr, nullptr, nullptr, nullptr, state, &native, msg.data(), bufLen, &length, mode);
        else
            rc = GetErrorRec(nullptr, nullptr, nullptr, &desc, state, &native, msg.data(), bufLen, &length, mode);
        std::string text = bufLen > 0 ? std::string(reinterpret_cast<char*>(msg.data())) : "";
        return {rc, reinterpret_cast<char*>(state), native, text, length};
    }

    Out Error(DIAG* which = nullptr, SQLINTEGER bufLen = 512) {
        return Read(which ? which : &stmt.diag, DIAG_MODE_CONSUME, bufLen);
    }

    ENVR envr;
    CONN conn;
    STMT stmt{&conn};
    DESC desc{nullptr, &stmt};
};

TEST_F(DiagRecords, ServerMessageStateIsCutOutOfTheText) {
    const struct {
        const char* queued;
        const char* text;  // after the prefix
        const char* v2;
        const char* v3;
    } cases[] = {
        {"[Progress Server]Table PUB.x not found [SQLSTATE:42S02]", "[Progress Server]Table PUB.x not found ", "42S02", "42S02"},
        {"  Column not found [sqlstate:42S22] trailing", "Column not found ", "42S22", "42S22"},
        {"No state in here", "No state in here", "S1000", "HY000"},
        {"Old state [SQLSTATE:S0002]", "Old state ", "S0002", "42S02"},
        {"Syntax [SQLSTATE:37000]", "Syntax ", "37000", "42000"},
        // A state that is not five characters is no state: nothing is read past the text.
        {"Empty [SQLSTATE:]", "Empty ", "S1000", "HY000"},
        {"Short [SQLSTATE:42S]", "Short ", "S1000", "HY000"},
        {"Unclosed [SQLSTATE:42", "Unclosed ", "S1000", "HY000"},
        {"Long [SQLSTATE:42S022]", "Long ", "S1000", "HY000"},
        {"Marker only [SQLSTATE:", "Marker only ", "S1000", "HY000"},
    };
    for (int version : {2, 3}) {
        Odbc(version);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.queued) + " v" + std::to_string(version));
            StmtAddError(&stmt, c.queued, -210);
            Out o = Error();
            EXPECT_EQ(o.rc, SQL_SUCCESS);
            EXPECT_EQ(o.text, std::string("[Tessaryn][ODBC]") + c.text);
            EXPECT_EQ(o.state, version == 3 ? c.v3 : c.v2);
            EXPECT_EQ(o.native, -210);
            EXPECT_EQ(o.length, static_cast<SQLSMALLINT>(o.text.size()));
        }
    }
}

TEST_F(DiagRecords, InternalCodeReadsItsRow) {
    const struct {
        int code;
        const char* v2;
        const char* v3;
        const char* message;
    } cases[] = {
        {ERR_FUNCTION_SEQUENCE_ERROR, "S1010", "HY010", "Function sequence error"},
        {ERR_DATA_WAS_TRUNCATED, "01004", "01004", "Data was truncated"},
        {ERR_INVALID_CURSOR_STATE, "24000", "24000", "Invalid cursor state"},
        {ERR_FAILOVER_ABORTED, "IM501", "IM501", "Failover aborted."},
        // Codes without a row: beyond the table, an unused row, a negative code.
        {200, "S1000", "HY000", "Undefined errorcode (200).\nPlease install a newer client."},
        {78, "S1000", "HY000", "Undefined errorcode (78).\nPlease install a newer client."},
        {-4, "S1000", "HY000", "Undefined errorcode (-4).\nPlease install a newer client."},
    };
    for (int version : {2, 3}) {
        Odbc(version);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.code) + " v" + std::to_string(version));
            conn.diag.errCode = c.code;
            Out o = Error(&conn.diag);
            EXPECT_EQ(o.rc, SQL_SUCCESS);
            EXPECT_EQ(o.text, std::string("[Tessaryn][ODBC][Driver]") + c.message);
            EXPECT_EQ(o.state, version == 3 ? c.v3 : c.v2);
            EXPECT_EQ(o.native, 0);
            EXPECT_EQ(o.length, static_cast<SQLSMALLINT>(o.text.size()));
            EXPECT_EQ(conn.diag.errCode, 0);
        }
    }
}

TEST_F(DiagRecords, MessageBufferCuts) {
    const std::string full = "[Tessaryn][ODBC][Driver]General error";
    const SQLINTEGER n = static_cast<SQLINTEGER>(full.size());
    const struct {
        SQLINTEGER bufLen;
        SQLRETURN rc;
        std::string text;
    } cases[] = {
        {512, SQL_SUCCESS, full},
        {n + 1, SQL_SUCCESS, full},  // exact fit with the NUL
        {n, SQL_SUCCESS_WITH_INFO, full.substr(0, n - 1)},
        {10, SQL_SUCCESS_WITH_INFO, full.substr(0, 9)},
        {1, SQL_SUCCESS_WITH_INFO, ""},
        {0, SQL_SUCCESS_WITH_INFO, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bufLen);
        stmt.diag.errCode = ERR_GENERAL_ERROR;
        Out o = Error(&stmt.diag, c.bufLen);
        EXPECT_EQ(o.rc, c.rc);
        EXPECT_EQ(o.text, c.text);
        EXPECT_EQ(o.length, n);  // always the full length
        EXPECT_EQ(o.state, "S1000");
    }
    // In UTF-8 a cut never splits a character: "é" needs bytes 17 and 18. The ANSI
    // library's text in ISO-8859-1 is single-byte (the same bytes are "Ã©"): cut at any
    // byte. The last connect's code set decides (ending on the C locale's, UTF-8).
    for (NarrowCode code : {NarrowCode::Latin1, NarrowCode::Utf8}) {
        DrvSetNarrowCode(code);
        const bool utf8 = DrvVariant().unicode || code == NarrowCode::Utf8;
        StmtAddError(&stmt, "\xC3\xA9t\xC3\xA9", 0);
        Out o = Error(&stmt.diag, 18);
        EXPECT_EQ(o.rc, SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(o.text, utf8 ? "[Tessaryn][ODBC]" : "[Tessaryn][ODBC]\xC3");
        EXPECT_EQ(o.length, 21);
    }
}

TEST_F(DiagRecords, NegativeBufferLengthAnswersS1090AndKeepsTheRecords) {
    StmtAddError(&stmt, "queued", 7);
    stmt.diag.errCode = ERR_GENERAL_ERROR;
    Out o = Error(&stmt.diag, -1);
    EXPECT_EQ(o.rc, SQL_ERROR);
    EXPECT_EQ(o.state, "S1090");
    EXPECT_EQ(o.length, 0);
    Odbc(3);
    EXPECT_EQ(Error(&stmt.diag, -32768).state, "HY090");
    EXPECT_EQ(stmt.diag.messages.size(), 1u);
    EXPECT_EQ(stmt.diag.errCode, ERR_GENERAL_ERROR);
}

// SQLError: every queued message oldest first, then the pending code once, then nothing.
TEST_F(DiagRecords, ErrorReturnsMessagesThenThePendingCodeOnce) {
    ConnAddError(&conn, "first [SQLSTATE:08S01]", 1);
    ConnAddError(&conn, "second", 2);
    conn.diag.errCode = ERR_UNABLE_TO_CONNECT_TO_DATA_SOURCE;

    Out a = Error(&conn.diag);
    EXPECT_EQ(a.text, "[Tessaryn][ODBC]first ");
    EXPECT_EQ(a.native, 1);
    EXPECT_EQ(conn.diag.errCode, ERR_UNABLE_TO_CONNECT_TO_DATA_SOURCE);  // still pending
    EXPECT_EQ(Error(&conn.diag).text, "[Tessaryn][ODBC]second");
    Out c = Error(&conn.diag);
    EXPECT_EQ(c.state, "08001");
    EXPECT_EQ(c.text, "[Tessaryn][ODBC][Driver]Unable to connect to data source");
    Out d = Error(&conn.diag);
    EXPECT_EQ(d.rc, SQL_NO_DATA);
    EXPECT_EQ(d.state, "00000");
    EXPECT_EQ(d.native, 0);
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.length, 0);

    // The environment works the same way.
    EnvrAddError(&envr, "env", 3);
    EXPECT_EQ(Error(&envr.diag).text, "[Tessaryn][ODBC]env");
    EXPECT_EQ(Error(&envr.diag).rc, SQL_NO_DATA);
}

TEST_F(DiagRecords, RecordModeReadsByNumberAndKeeps) {
    StmtAddError(&stmt, "one", 1);
    StmtAddError(&stmt, "two", 2);
    stmt.diag.recNumber = 2;
    EXPECT_EQ(Read(&stmt.diag, DIAG_MODE_RECORD).text, "[Tessaryn][ODBC]two");
    EXPECT_EQ(Read(&stmt.diag, DIAG_MODE_RECORD).native, 2);
    stmt.diag.recNumber = 0;
    EXPECT_EQ(Read(&stmt.diag, DIAG_MODE_RECORD).text, "[Tessaryn][ODBC]one");
    EXPECT_EQ(stmt.diag.messages.size(), 2u);

    // Past the queued messages the pending code is the record, and it stays.
    stmt.diag.recNumber = 3;
    stmt.diag.errCode = ERR_INVALID_COLUMN_NUMBER;
    Odbc(3);
    EXPECT_EQ(Read(&stmt.diag, DIAG_MODE_RECORD).state, "07009");
    EXPECT_EQ(stmt.diag.errCode, ERR_INVALID_COLUMN_NUMBER);
    stmt.diag.errCode = 0;
    EXPECT_EQ(Read(&stmt.diag, DIAG_MODE_RECORD).rc, SQL_NO_DATA);
}

TEST_F(DiagRecords, DescriptorIsReadInRecordModeWithItsEnvironmentsVersion) {
    desc.diag.errCode = ERR_INVALID_DESCRIPTOR_INDEX;
    DescAddError(&desc, "kept [SQLSTATE:S1002]", 5);
    Out o = Read(&desc.diag, DIAG_MODE_CONSUME);
    EXPECT_EQ(o.state, "S1002");  // the statement's environment says ODBC 2
    EXPECT_EQ(desc.diag.messages.size(), 1u);
    EXPECT_EQ(desc.diag.errCode, ERR_INVALID_DESCRIPTOR_INDEX);

    // An explicit descriptor goes through its connection; one with neither is ODBC 3.
    desc.stmt = nullptr;
    desc.conn = &conn;
    Odbc(3);
    EXPECT_EQ(Read(&desc.diag, DIAG_MODE_RECORD).state, "07009");
    desc.conn = nullptr;
    Odbc(2);
    EXPECT_EQ(Read(&desc.diag, DIAG_MODE_RECORD).state, "07009");
}

// The debug log shows each record returned; the two kinds have always been logged with
// differently cased lines, and trace readers search for them as they are.
TEST_F(DiagRecords, DebugLogShowsTheRecordReturned) {
    std::vector<std::string> lines;
    LOG_SINK* sink = log_SinkCreate(LOG_DEBUG, -1, 0);
    ASSERT_NE(sink, nullptr);
    sink->stream = reinterpret_cast<FILE*>(&lines);
    sink->write = [](LOG_SINK* s, int, const char* text) {
        std::string line(text);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        reinterpret_cast<std::vector<std::string>*>(s->stream)->push_back(line);
    };
    StmtAddError(&stmt, "queued [SQLSTATE:42S02]", 1);
    stmt.diag.errCode = ERR_GENERAL_ERROR;
    Error();
    Error(&stmt.diag, 10);
    Error();
    log_SinkRemove(sink);
    std::free(sink);
    EXPECT_EQ(lines, (std::vector<std::string>{"Returning [Tessaryn][ODBC]queued ", "returning SUCCESS_WITH_INFO",
                                               "returning [Tessaryn][ODBC][Driver]General error",
                                               "returning NO_DATA_FOUND"}));
}

TEST_F(DiagRecords, NullOutputsAreAllowed) {
    stmt.diag.errCode = ERR_GENERAL_ERROR;
    EXPECT_EQ(GetErrorRec(nullptr, nullptr, &stmt, nullptr, nullptr, nullptr, nullptr, 0, nullptr, DIAG_MODE_CONSUME),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(GetErrorRec(nullptr, nullptr, &stmt, nullptr, nullptr, nullptr, nullptr, 0, nullptr, DIAG_MODE_CONSUME),
              SQL_NO_DATA);
    EXPECT_EQ(GetErrorRec(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, DIAG_MODE_CONSUME),
              SQL_INVALID_HANDLE);
}

// The handler takes SQLError's arguments after the handle, on any kind of handle.
TEST_F(DiagRecords, ErrorHandlerReadsItsArguments) {
    std::string longText(20000, 'x');
    StmtAddError(&stmt, longText, 42);
    std::vector<SQLCHAR> msg(32767);
    SQLCHAR state[6];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const ErrorArgs args{state, &native, msg.data(), 32767, &length, WIDTH_NARROW};
    EXPECT_EQ(DoError(&stmt, args), SQL_SUCCESS);
    EXPECT_EQ(native, 42);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(16 + longText.size()));
    EXPECT_EQ(std::strlen(reinterpret_cast<char*>(msg.data())), 16 + longText.size());

    conn.diag.errCode = ERR_CONNECTION_NOT_OPEN;
    EXPECT_EQ(DoError(&conn, args), SQL_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(state), "08003");
    EXPECT_EQ(DoError(&envr, args), SQL_NO_DATA);
}

// ODBC 3 renames 22003, 24000 and 22008 in one situation each; every other fault those
// states name keeps its state, whether the driver posted it or the server sent it.
TEST_F(DiagRecords, StatesRenamedOnlyInTheirSituation) {
    const struct {
        const char* what;
        int code;             // posted by the driver, or 0
        const char* queued;   // sent by the server, or null
        const char* v2;
        const char* v3;
    } cases[] = {
        {"numeric overflow in a conversion", ERR_NUMERIC_VALUE_OUT_OF_RANGE, nullptr, "22003", "22003"},
        {"the server's range error", 0, "value out of range for column a [SQLSTATE:22003]", "22003", "22003"},
        {"non-character data in pieces", ERR_NON_CHARACTER_AND_NON_BINARY_DATA, nullptr, "22003", "HY019"},
        {"no cursor open", ERR_INVALID_CURSOR_STATE, nullptr, "24000", "24000"},
        {"the server's cursor state", 0, "cursor not open [SQLSTATE:24000]", "24000", "24000"},
        {"no result columns to describe", ERR_PREPARED_STATEMENT_NOT_A_CURSOR_SPECIFICATION, nullptr, "24000", "07005"},
        {"datetime field overflow", ERR_DATE_OVERFLOW, nullptr, "22008", "22008"},
        {"the server's datetime overflow", 0, "datetime field overflow [SQLSTATE:22008]", "22008", "22008"},
        {"invalid datetime format", ERR_INVALID_DATETIME_FORMAT, nullptr, "22008", "22007"},
        {"fewer bound parameters than markers", ERR_WRONG_NUMBER_OF_PARAMETERS, nullptr, "07001", "07002"},
        {"the server's missing parameters", 0, "fewer values than markers [SQLSTATE:07001]", "07001", "07002"},
    };
    for (int version : {2, 3}) {
        Odbc(version);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " v" + std::to_string(version));
            if (c.queued != nullptr)
                StmtAddError(&stmt, c.queued, -1);
            else
                stmt.diag.errCode = c.code;
            EXPECT_EQ(Error().state, version == 3 ? c.v3 : c.v2);
        }
    }
}

TEST(DiagStates, Odbc3Mapping) {
    const struct {
        const char* from;
        const char* to;
    } cases[] = {
        {"S1002", "07009"}, {"S1093", "07009"}, {"01S03", "01001"}, {"01S04", "01001"}, {"22003", "22003"},
        {"22008", "22008"}, {"22005", "22018"}, {"24000", "24000"}, {"37000", "42000"}, {"70100", "HY018"},
        {"07001", "07002"},
        {"S1000", "HY000"}, {"S1C00", "HYC00"}, {"S1T00", "HYT00"}, {"S1DE0", "HYDE0"}, {"S0002", "42S02"},
        {"S0022", "42S22"}, {"42S02", "42S02"}, {"01004", "01004"}, {"08S01", "08S01"}, {"IM001", "IM001"},
        {"01S02", "01S02"}, {"S0102", "S0102"}, {"22001", "22001"},
    };
    for (const auto& c : cases) {
        char s[6];
        std::memcpy(s, c.from, 6);
        MapSqlState3(s);
        EXPECT_STREQ(s, c.to) << c.from;
    }
}

TEST(DiagLists, AppendAtTailPopAtHead) {
    STMT stmt(nullptr);
    StmtAddError(&stmt, "a", 1);
    StmtAddError(&stmt, "b", 2);
    StmtAddError(&stmt, "c", 3);
    EXPECT_EQ(ErrListNth(stmt.diag, -1)->text, "a");
    EXPECT_EQ(ErrListNth(stmt.diag, 3)->text, "c");
    EXPECT_EQ(ErrListNth(stmt.diag, 4), nullptr);
    std::optional<ERRMSG> m = StmtNextError(&stmt);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "a");
    EXPECT_EQ(m->native, 1);
    EXPECT_EQ(StmtNextError(&stmt)->text, "b");
    m = StmtNextError(&stmt);
    EXPECT_EQ(m->text, "c");
    EXPECT_EQ(m->native, 3);
    EXPECT_FALSE(StmtNextError(&stmt).has_value());
}

}  // namespace
