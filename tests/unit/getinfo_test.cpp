// SQLGetInfo against the scripted agent: every information type answered in the size ODBC
// gives it, the answers the driver makes itself, the cache of the agent's answers, text
// cut to the buffer in both widths, the conversion masks, and failures. Built for both
// libraries: text leaves each in its own code.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/frame/resources.h"
#include "driver/handlers/connect.h"
#include "driver/handlers/functions.h"
#include "util/errcode.h"

using namespace conn_fixture;

namespace {

constexpr auto kConnectRec = MakeCall<DoDriverConnect>("DriverConnect", "", 1, CALL_KIND_DBC);
constexpr auto kGetInfoRec = MakeCall<DoGetInfo>("GetInfo", "", 1, CALL_KIND_DBC);
constexpr auto kGetInfoWRec = MakeCall<DoGetInfo>("GetInfoW", "", 1, CALL_KIND_DBC);

constexpr unsigned char kFill = 0xAB;

enum class Size { Small, Int, Handle, Text };

class GetInfoTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        fake.props = {{OA_PROP_CAPABILITIES, 0x100}};
    }

    void Connect() {
        char out[256];
        SQLSMALLINT outLen = 0;
        ASSERT_EQ(CallODBC(kConnectRec, HandleFromId(conn->id),
                           DriverConnectArgs{nullptr, "DATABASENAME=/data/x.db;UID=u;PWD=p", SQL_NTS, out,
                                             sizeof out, &outLen, SQL_DRIVER_NOPROMPT, WIDTH_NARROW}),
                  SQL_SUCCESS);
        TakeCalls();
    }

    // One call into a buffer of size bytes filled with kFill; the length starts at -7.
    SQLRETURN Get(SQLUSMALLINT type, SQLSMALLINT size, int width = WIDTH_NARROW) {
        buf.assign(64, kFill);
        length = -7;
        return CallODBC(width == WIDTH_WIDE ? kGetInfoWRec : kGetInfoRec, HandleFromId(conn->id),
                        GetInfoArgs{type, buf.data(), size, &length, width});
    }
    template <class T>
    T Value() const {
        T v;
        std::memcpy(&v, buf.data(), sizeof v);
        return v;
    }
    std::string Narrow() const { return std::string(reinterpret_cast<const char*>(buf.data())); }
    std::vector<SQLWCHAR> WideUnits(size_t n) const {
        std::vector<SQLWCHAR> w(n);
        std::memcpy(w.data(), buf.data(), n * 2);
        return w;
    }
    int AgentAsks() const {
        return static_cast<int>(std::count_if(fake.calls.begin(), fake.calls.end(), [](const std::string& c) {
            return c.rfind("GetProperty", 0) == 0;
        }));
    }

    std::vector<unsigned char> buf;
    SQLSMALLINT length = -7;
};

// Every type the agent answers, in the size ODBC defines for it.
struct Typed {
    SQLUSMALLINT type;
    Size size;
};
const Typed kAgentTypes[] = {
    {SQL_MAX_DRIVER_CONNECTIONS, Size::Small}, {SQL_MAX_CONCURRENT_ACTIVITIES, Size::Small},
    {SQL_ODBC_SAG_CLI_CONFORMANCE, Size::Small}, {SQL_ODBC_SQL_CONFORMANCE, Size::Small},
    {SQL_CONCAT_NULL_BEHAVIOR, Size::Small}, {SQL_CURSOR_COMMIT_BEHAVIOR, Size::Small},
    {SQL_CURSOR_ROLLBACK_BEHAVIOR, Size::Small}, {SQL_IDENTIFIER_CASE, Size::Small},
    {SQL_MAX_COLUMN_NAME_LEN, Size::Small}, {SQL_MAX_CURSOR_NAME_LEN, Size::Small},
    {SQL_MAX_SCHEMA_NAME_LEN, Size::Small}, {SQL_MAX_PROCEDURE_NAME_LEN, Size::Small},
    {SQL_MAX_CATALOG_NAME_LEN, Size::Small}, {SQL_MAX_TABLE_NAME_LEN, Size::Small},
    {SQL_TXN_CAPABLE, Size::Small}, {SQL_CORRELATION_NAME, Size::Small},
    {SQL_NON_NULLABLE_COLUMNS, Size::Small}, {SQL_FILE_USAGE, Size::Small}, {SQL_NULL_COLLATION, Size::Small},
    {SQL_GROUP_BY, Size::Small}, {SQL_QUOTED_IDENTIFIER_CASE, Size::Small},
    {SQL_MAX_COLUMNS_IN_GROUP_BY, Size::Small}, {SQL_MAX_COLUMNS_IN_INDEX, Size::Small},
    {SQL_MAX_COLUMNS_IN_ORDER_BY, Size::Small}, {SQL_MAX_COLUMNS_IN_SELECT, Size::Small},
    {SQL_MAX_COLUMNS_IN_TABLE, Size::Small}, {SQL_MAX_TABLES_IN_SELECT, Size::Small},
    {SQL_MAX_USER_NAME_LEN, Size::Small}, {SQL_CATALOG_LOCATION, Size::Small},
    {SQL_ACTIVE_ENVIRONMENTS, Size::Small}, {SQL_MAX_IDENTIFIER_LEN, Size::Small},
    {SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, Size::Small},

    {SQL_DRIVER_HDBC, Size::Handle}, {SQL_DRIVER_HENV, Size::Handle}, {SQL_DRIVER_HSTMT, Size::Handle},
    {SQL_DRIVER_HLIB, Size::Handle}, {SQL_DRIVER_HDESC, Size::Handle},

    {SQL_FETCH_DIRECTION, Size::Int}, {SQL_DEFAULT_TXN_ISOLATION, Size::Int}, {SQL_SCROLL_CONCURRENCY, Size::Int},
    {SQL_SCROLL_OPTIONS, Size::Int}, {SQL_CONVERT_FUNCTIONS, Size::Int}, {SQL_NUMERIC_FUNCTIONS, Size::Int},
    {SQL_STRING_FUNCTIONS, Size::Int}, {SQL_SYSTEM_FUNCTIONS, Size::Int}, {SQL_TIMEDATE_FUNCTIONS, Size::Int},
    {SQL_TXN_ISOLATION_OPTION, Size::Int}, {SQL_LOCK_TYPES, Size::Int}, {SQL_POS_OPERATIONS, Size::Int},
    {SQL_POSITIONED_STATEMENTS, Size::Int}, {SQL_GETDATA_EXTENSIONS, Size::Int},
    {SQL_BOOKMARK_PERSISTENCE, Size::Int}, {SQL_STATIC_SENSITIVITY, Size::Int}, {SQL_ALTER_TABLE, Size::Int},
    {SQL_SCHEMA_USAGE, Size::Int}, {SQL_CATALOG_USAGE, Size::Int}, {SQL_SUBQUERIES, Size::Int},
    {SQL_UNION, Size::Int}, {SQL_MAX_INDEX_SIZE, Size::Int}, {SQL_MAX_ROW_SIZE, Size::Int},
    {SQL_MAX_STATEMENT_LEN, Size::Int}, {SQL_MAX_CHAR_LITERAL_LEN, Size::Int},
    {SQL_TIMEDATE_ADD_INTERVALS, Size::Int}, {SQL_TIMEDATE_DIFF_INTERVALS, Size::Int},
    {SQL_MAX_BINARY_LITERAL_LEN, Size::Int}, {115 /* SQL_OJ_CAPABILITIES */, Size::Int},
    {SQL_ALTER_DOMAIN, Size::Int}, {SQL_SQL_CONFORMANCE, Size::Int}, {SQL_DATETIME_LITERALS, Size::Int},
    {SQL_BATCH_ROW_COUNT, Size::Int}, {SQL_BATCH_SUPPORT, Size::Int}, {SQL_CONVERT_INTERVAL_DAY_TIME, Size::Int},
    {SQL_CONVERT_INTERVAL_YEAR_MONTH, Size::Int}, {SQL_CREATE_ASSERTION, Size::Int},
    {SQL_CREATE_CHARACTER_SET, Size::Int}, {SQL_CREATE_COLLATION, Size::Int}, {SQL_CREATE_DOMAIN, Size::Int},
    {SQL_CREATE_SCHEMA, Size::Int}, {SQL_CREATE_TABLE, Size::Int}, {SQL_CREATE_TRANSLATION, Size::Int},
    {SQL_CREATE_VIEW, Size::Int}, {SQL_DROP_ASSERTION, Size::Int}, {SQL_DROP_CHARACTER_SET, Size::Int},
    {SQL_DROP_COLLATION, Size::Int}, {SQL_DROP_DOMAIN, Size::Int}, {SQL_DROP_SCHEMA, Size::Int},
    {SQL_DROP_TABLE, Size::Int}, {SQL_DROP_TRANSLATION, Size::Int}, {SQL_DROP_VIEW, Size::Int},
    {SQL_DYNAMIC_CURSOR_ATTRIBUTES1, Size::Int}, {SQL_DYNAMIC_CURSOR_ATTRIBUTES2, Size::Int},
    {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, Size::Int}, {SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, Size::Int},
    {SQL_INDEX_KEYWORDS, Size::Int}, {SQL_INFO_SCHEMA_VIEWS, Size::Int},
    {SQL_KEYSET_CURSOR_ATTRIBUTES1, Size::Int}, {SQL_KEYSET_CURSOR_ATTRIBUTES2, Size::Int},
    {SQL_ODBC_INTERFACE_CONFORMANCE, Size::Int},
    {SQL_PARAM_ARRAY_ROW_COUNTS, Size::Int}, {SQL_PARAM_ARRAY_SELECTS, Size::Int},
    {SQL_SQL92_DATETIME_FUNCTIONS, Size::Int}, {SQL_SQL92_FOREIGN_KEY_DELETE_RULE, Size::Int},
    {SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, Size::Int}, {SQL_SQL92_GRANT, Size::Int},
    {SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, Size::Int}, {SQL_SQL92_PREDICATES, Size::Int},
    {SQL_SQL92_RELATIONAL_JOIN_OPERATORS, Size::Int}, {SQL_SQL92_REVOKE, Size::Int},
    {SQL_SQL92_ROW_VALUE_CONSTRUCTOR, Size::Int}, {SQL_SQL92_STRING_FUNCTIONS, Size::Int},
    {SQL_SQL92_VALUE_EXPRESSIONS, Size::Int}, {SQL_STANDARD_CLI_CONFORMANCE, Size::Int},
    {SQL_STATIC_CURSOR_ATTRIBUTES1, Size::Int}, {SQL_STATIC_CURSOR_ATTRIBUTES2, Size::Int},
    {SQL_AGGREGATE_FUNCTIONS, Size::Int}, {SQL_DDL_INDEX, Size::Int}, {SQL_INSERT_STATEMENT, Size::Int},
    {SQL_CURSOR_SENSITIVITY, Size::Int}, {SQL_ASYNC_MODE, Size::Int},

    {SQL_DRIVER_NAME, Size::Text}, {SQL_DRIVER_VER, Size::Text}, {SQL_ODBC_VER, Size::Text},
    {SQL_ROW_UPDATES, Size::Text}, {SQL_SERVER_NAME, Size::Text}, {SQL_SEARCH_PATTERN_ESCAPE, Size::Text},
    {SQL_DATABASE_NAME, Size::Text}, {SQL_DBMS_NAME, Size::Text}, {SQL_DBMS_VER, Size::Text},
    {SQL_ACCESSIBLE_TABLES, Size::Text}, {SQL_ACCESSIBLE_PROCEDURES, Size::Text}, {SQL_PROCEDURES, Size::Text},
    {SQL_DATA_SOURCE_READ_ONLY, Size::Text}, {SQL_EXPRESSIONS_IN_ORDERBY, Size::Text},
    {SQL_IDENTIFIER_QUOTE_CHAR, Size::Text}, {SQL_MULT_RESULT_SETS, Size::Text},
    {SQL_MULTIPLE_ACTIVE_TXN, Size::Text}, {SQL_OUTER_JOINS, Size::Text}, {SQL_SCHEMA_TERM, Size::Text},
    {SQL_PROCEDURE_TERM, Size::Text}, {SQL_CATALOG_NAME_SEPARATOR, Size::Text}, {SQL_CATALOG_TERM, Size::Text},
    {SQL_TABLE_TERM, Size::Text}, {SQL_USER_NAME, Size::Text}, {SQL_INTEGRITY, Size::Text},
    {SQL_COLUMN_ALIAS, Size::Text}, {SQL_KEYWORDS, Size::Text}, {SQL_ORDER_BY_COLUMNS_IN_SELECT, Size::Text},
    {SQL_SPECIAL_CHARACTERS, Size::Text}, {SQL_MAX_ROW_SIZE_INCLUDES_LONG, Size::Text},
    {SQL_NEED_LONG_DATA_LEN, Size::Text}, {SQL_LIKE_ESCAPE_CLAUSE, Size::Text}, {SQL_XOPEN_CLI_YEAR, Size::Text},
    {SQL_DESCRIBE_PARAMETER, Size::Text}, {SQL_CATALOG_NAME, Size::Text}, {SQL_COLLATION_SEQ, Size::Text},
};

TEST_F(GetInfoTest, EveryAgentTypeIsAnsweredInItsOwnSize) {
    Connect();
    int32_t n = 0;
    for (const Typed& t : kAgentTypes) {
        // High bits that a 16-bit answer must drop and a 32-bit one keep.
        fake.props[oa_InfoIntCode(t.type)] = static_cast<int32_t>(0x8A000000u + static_cast<uint32_t>(++n));
        fake.textProps[oa_InfoTextCode(t.type)] = "text " + std::to_string(t.type);
    }
    n = 0;
    for (const Typed& t : kAgentTypes) {
        SCOPED_TRACE(t.type);
        uint32_t v = 0x8A000000u + static_cast<uint32_t>(++n);
        ASSERT_EQ(Get(t.type, 40), SQL_SUCCESS);
        size_t written = 0;
        switch (t.size) {
        case Size::Small:
            EXPECT_EQ(Value<SQLUSMALLINT>(), static_cast<SQLUSMALLINT>(v));
            written = 2;
            break;
        case Size::Int:
            EXPECT_EQ(Value<SQLUINTEGER>(), v);
            written = 4;
            break;
        case Size::Handle:
            EXPECT_EQ(Value<SQLULEN>(), v);
            written = 8;
            break;
        case Size::Text:
            EXPECT_EQ(Narrow(), "text " + std::to_string(t.type));
            written = Narrow().size() + 1;
            break;
        }
        EXPECT_EQ(length, static_cast<SQLSMALLINT>(t.size == Size::Text ? written - 1 : written));
        EXPECT_EQ(buf[written], kFill) << "written past the answer";
    }
    // The ODBC 2 number of SQL_OJ_CAPABILITIES is the same answer, from the same slot.
    int asked = AgentAsks();
    ASSERT_EQ(Get(65003, 40), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), static_cast<uint32_t>(fake.props[oa_InfoIntCode(115)]));
    EXPECT_EQ(AgentAsks(), asked);
}

TEST_F(GetInfoTest, AgentIsAskedOncePerConnectionAndType) {
    Connect();
    fake.props[oa_InfoIntCode(SQL_MAX_COLUMN_NAME_LEN)] = 32;
    fake.props[oa_InfoIntCode(SQL_SCROLL_OPTIONS)] = 17;
    fake.textProps[oa_InfoTextCode(SQL_KEYWORDS)] = "TOP";
    fake.textProps[oa_InfoTextCode(SQL_DATABASE_NAME)] = "sales";
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Get(SQL_MAX_COLUMN_NAME_LEN, 2), SQL_SUCCESS);
        EXPECT_EQ(Value<SQLUSMALLINT>(), 32);
        ASSERT_EQ(Get(SQL_SCROLL_OPTIONS, 4), SQL_SUCCESS);
        EXPECT_EQ(Value<SQLUINTEGER>(), 17u);
        ASSERT_EQ(Get(SQL_KEYWORDS, 40), SQL_SUCCESS);
        EXPECT_EQ(Narrow(), "TOP");
    }
    EXPECT_EQ(AgentAsks(), 3);
    // The database name can change under the connection: asked every time.
    fake.calls.clear();
    ASSERT_EQ(Get(SQL_DATABASE_NAME, 40), SQL_SUCCESS);
    fake.textProps[oa_InfoTextCode(SQL_DATABASE_NAME)] = "other";
    ASSERT_EQ(Get(SQL_DATABASE_NAME, 40), SQL_SUCCESS);
    EXPECT_EQ(Narrow(), "other");
    EXPECT_EQ(AgentAsks(), 2);

    // A new connection asks again.
    ASSERT_EQ(ConnClose(conn), 0);
    Connect();
    fake.props[oa_InfoIntCode(SQL_MAX_COLUMN_NAME_LEN)] = 64;
    ASSERT_EQ(Get(SQL_MAX_COLUMN_NAME_LEN, 2), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUSMALLINT>(), 64);
}

TEST_F(GetInfoTest, TextIsCutToTheBufferInBothWidths) {
    Connect();
    fake.textProps[oa_InfoTextCode(SQL_DBMS_NAME)] = "PROGRESS";   // 8 characters
    struct Case {
        int width;
        SQLSMALLINT size;
        SQLRETURN rc;
        std::string narrow;    // what the buffer holds (narrow)
        size_t units;          // how many UTF-16 units it holds before its NUL (wide)
    } const cases[] = {
        {WIDTH_NARROW, 100, SQL_SUCCESS, "PROGRESS", 0},
        {WIDTH_NARROW, 9, SQL_SUCCESS, "PROGRESS", 0},
        {WIDTH_NARROW, 8, SQL_SUCCESS_WITH_INFO, "PROGRES", 0},
        {WIDTH_NARROW, 1, SQL_SUCCESS_WITH_INFO, "", 0},
        {WIDTH_WIDE, 100, SQL_SUCCESS, "", 8},
        {WIDTH_WIDE, 18, SQL_SUCCESS, "", 8},
        {WIDTH_WIDE, 17, SQL_SUCCESS_WITH_INFO, "", 7},
        {WIDTH_WIDE, 2, SQL_SUCCESS_WITH_INFO, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " " + std::to_string(c.size));
        EXPECT_EQ(Get(SQL_DBMS_NAME, c.size, c.width), c.rc);
        EXPECT_EQ(conn->diag.errCode, c.rc == SQL_SUCCESS ? 0 : ERR_DATA_WAS_TRUNCATED);
        // The full length, in bytes in both widths.
        EXPECT_EQ(length, c.width == WIDTH_WIDE ? 16 : 8);
        if (c.width == WIDTH_NARROW) {
            EXPECT_EQ(Narrow(), c.narrow);
        } else {
            std::vector<SQLWCHAR> w = WideUnits(c.units + 1);
            EXPECT_EQ(w.back(), 0);
            for (size_t i = 0; i < c.units; ++i)
                EXPECT_EQ(w[i], static_cast<SQLWCHAR>("PROGRESS"[i]));
        }
    }
    // Size 0 writes nothing and is a cut; no buffer asks for the length alone.
    EXPECT_EQ(Get(SQL_DBMS_NAME, 0), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(buf[0], kFill);
    EXPECT_EQ(CallODBC(kGetInfoRec, HandleFromId(conn->id), GetInfoArgs{SQL_DBMS_NAME, nullptr, 0, &length, 'A'}),
              SQL_SUCCESS);
    EXPECT_EQ(length, 8);
    // A negative size for a text is refused.
    EXPECT_EQ(Get(SQL_DBMS_NAME, -1), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_STRING_OR_BUFFER_LENGTH);
    // The cache keeps the whole text.
    ASSERT_EQ(Get(SQL_DBMS_NAME, 40), SQL_SUCCESS);
    EXPECT_EQ(Narrow(), "PROGRESS");
    // A text longer than the first read is read whole, not cut at it.
    fake.textProps[oa_InfoTextCode(SQL_KEYWORDS)] = std::string(5000, 'K');
    EXPECT_EQ(CallODBC(kGetInfoRec, HandleFromId(conn->id), GetInfoArgs{SQL_KEYWORDS, nullptr, 0, &length, 'A'}),
              SQL_SUCCESS);
    EXPECT_EQ(length, 5000);
    // So is a cursor item, which the cursor library reads for the driver.
    fake.textProps[oa_InfoTextCode(SQL_USER_NAME)] = std::string(600, 'u');
    EXPECT_EQ(CallODBC(kGetInfoRec, HandleFromId(conn->id), GetInfoArgs{SQL_USER_NAME, nullptr, 0, &length, 'A'}),
              SQL_SUCCESS);
    EXPECT_EQ(length, 600);
}

TEST_F(GetInfoTest, AnswersBeforeConnectAndTheRefusals) {
    // Never connected: no data source name yet is an empty text.
    ASSERT_EQ(Get(SQL_DATA_SOURCE_NAME, 40), SQL_SUCCESS);
    EXPECT_EQ(Narrow(), "");
    EXPECT_EQ(length, 0);
    ASSERT_EQ(Get(SQL_DRIVER_ODBC_VER, 40), SQL_SUCCESS);
    EXPECT_EQ(Narrow(), "03.50");
    ASSERT_EQ(Get(SQL_ODBC_API_CONFORMANCE, 40), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUSMALLINT>(), SQL_OAC_LEVEL1);
    EXPECT_EQ(length, 2);
    ASSERT_EQ(Get(SQL_DTC_TRANSITION_COST, 40), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), 3u);
    // Conversions without the agent's table: the fixed mask, none for the table's types.
    ASSERT_EQ(Get(SQL_CONVERT_INTEGER, 40), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), 0x73FFu);
    ASSERT_EQ(Get(SQL_CONVERT_TIMESTAMP, 40), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), 0u);
    EXPECT_EQ(AgentAsks(), 0);
    for (int type : {SQL_DBMS_VER, SQL_MAX_COLUMN_NAME_LEN, SQL_SCROLL_OPTIONS, 171}) {
        EXPECT_EQ(Get(static_cast<SQLUSMALLINT>(type), 40), SQL_ERROR);
        EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_NOT_OPEN);
    }

    Connect();
    // SQL_DM_VER is the Driver Manager's; others are no type at all.
    for (int type : {171, 9999, 1751}) {
        EXPECT_EQ(Get(static_cast<SQLUSMALLINT>(type), 40), SQL_ERROR);
        EXPECT_EQ(conn->diag.errCode, ERR_INFORMATION_TYPE_OUT_OF_RANGE);
    }
}

TEST_F(GetInfoTest, AgentFailureReachesTheApplicationAndIsNotCached) {
    Connect();
    fake.errors[kFakeConn] = {"[Progress Server]no answer[SQLSTATE:HY000]"};
    EXPECT_EQ(Get(SQL_MAX_ROW_SIZE, 4), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, 43);
    EXPECT_EQ(Messages(conn->diag), std::vector<std::string>{"[Progress Server]no answer[SQLSTATE:HY000]"});
    fake.props[oa_InfoIntCode(SQL_MAX_ROW_SIZE)] = 8000;
    ASSERT_EQ(Get(SQL_MAX_ROW_SIZE, 4), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), 8000u);
    // The same for the cursor items, asked through the cursor library.
    fake.errors[kFakeConn] = {"[Progress Server]no scrolling[SQLSTATE:HY000]"};
    EXPECT_EQ(Get(SQL_SCROLL_OPTIONS, 4), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, 43);
    EXPECT_EQ(Messages(conn->diag), std::vector<std::string>{"[Progress Server]no scrolling[SQLSTATE:HY000]"});
    fake.props[oa_InfoIntCode(SQL_SCROLL_OPTIONS)] = SQL_SO_FORWARD_ONLY;
    ASSERT_EQ(Get(SQL_SCROLL_OPTIONS, 4), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), static_cast<SQLUINTEGER>(SQL_SO_FORWARD_ONLY));
}

TEST_F(GetInfoTest, ConversionMasksComeFromTheTableBySqlType) {
    struct Case {
        SQLUSMALLINT type;
        uint32_t narrow, wide;
    } const cases[] = {
        {SQL_CONVERT_TIMESTAMP, 0x38301, 0xE38301},
        {SQL_CONVERT_DATE, 0, 0},   // the table has no date row
        {SQL_CONVERT_TIME, 0, 0},
        {SQL_CONVERT_BINARY, 0x40F01, 0xE40F01},
        {SQL_CONVERT_LONGVARBINARY, 0x40F01, 0xE40F01},
        {SQL_CONVERT_CHAR, 0x73FF, 0xE073FF},
        {SQL_CONVERT_WVARCHAR, 0x73FF, 0xE073FF},
    };
    // Both ODBC versions find the table's rows: the timestamp row is keyed by its SQL type.
    for (int version : {3, 2}) {
        envr->odbcVersion = version;
        Connect();
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(version) + " " + std::to_string(c.type));
            ASSERT_EQ(Get(c.type, 4), SQL_SUCCESS);
            EXPECT_EQ(Value<SQLUINTEGER>(), c.narrow);
            ASSERT_EQ(Get(c.type, 4, WIDTH_WIDE), SQL_SUCCESS);
            EXPECT_EQ(Value<SQLUINTEGER>(), c.wide);
        }
        EXPECT_EQ(AgentAsks(), 0);
        ASSERT_EQ(ConnClose(conn), 0);
    }
    // An agent that answers conversions itself is asked.
    fake.props[OA_PROP_CAPABILITIES] = 0x300;
    fake.props[oa_InfoIntCode(SQL_CONVERT_DATE)] = 0x28101;
    Connect();
    ASSERT_EQ(Get(SQL_CONVERT_DATE, 4, WIDTH_WIDE), SQL_SUCCESS);
    EXPECT_EQ(Value<SQLUINTEGER>(), 0x28101u);
    EXPECT_EQ(AgentAsks(), 1);
}

// The library's own text code on the way out: UTF-8 in the Unicode library; in the ANSI
// one the narrow code set of the connect, ISO-8859-1 here.
TEST_F(GetInfoTest, TextLeavesInTheLibrarysCode) {
    DrvSetNarrowCode(NarrowCode::Latin1);
    conn->dsn = "Caf\xc3\xa9";
    ASSERT_EQ(Get(SQL_DATA_SOURCE_NAME, 40, WIDTH_WIDE), SQL_SUCCESS);
    std::vector<SQLWCHAR> expected = DrvVariant().unicode ? std::vector<SQLWCHAR>{'C', 'a', 'f', 0xE9, 0}
                                                          : std::vector<SQLWCHAR>{'C', 'a', 'f', 0xC3, 0xA9, 0};
    EXPECT_EQ(WideUnits(expected.size()), expected);
    EXPECT_EQ(length, static_cast<SQLSMALLINT>(2 * (expected.size() - 1)));
    // Narrow text leaves as it is held.
    ASSERT_EQ(Get(SQL_DATA_SOURCE_NAME, 40), SQL_SUCCESS);
    EXPECT_EQ(Narrow(), "Caf\xc3\xa9");

    // A connect decides the code set from the locale: the tests' C locale gives UTF-8 to
    // both libraries' own text.
    conn->dsn.clear();
    Connect();
    fake.textProps[oa_InfoTextCode(SQL_DBMS_NAME)] = "\xc3\x9c" "ber";
    ASSERT_EQ(Get(SQL_DBMS_NAME, 40, WIDTH_WIDE), SQL_SUCCESS);
    expected = std::vector<SQLWCHAR>{0xDC, 'b', 'e', 'r', 0};
    EXPECT_EQ(WideUnits(expected.size()), expected);
}

}  // namespace
