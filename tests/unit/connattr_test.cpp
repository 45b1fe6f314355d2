// Connection options and attributes against the scripted agent: the option table in both
// forms before and after connecting, with canary bytes around every answer; string
// attributes in both widths over a grid of buffer sizes; refusals; settings given before
// the connect; statement options given on a connection.
#include <gtest/gtest.h>

#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "conn_fixture.h"
#include "driver/handlers/connattr.h"
#include "driver/handlers/connect.h"
#include "util/errcode.h"

using namespace conn_fixture;

namespace {

constexpr unsigned char kCanary = 0xA5;
constexpr uint32_t kPropDriverOption1201 = 0x220304B1;
constexpr uint32_t kPropDriverOption1212 = 0x210304BC;

std::vector<SQLWCHAR> Wide(const std::string& s) {
    std::vector<SQLWCHAR> w(s.begin(), s.end());
    w.push_back(0);
    return w;
}

class ConnAttrTest : public ConnTest {
protected:
    void SetUp() override {
        ConnTest::SetUp();
        fake.props = {{OA_PROP_CAPABILITIES, 0x100}, {OA_PROP_TXN_ISOLATION, 2}};
        savedQuiet = Drv().quietWindow.load();
    }
    void TearDown() override {
        Drv().quietWindow.store(savedQuiet);
        ConnTest::TearDown();
    }

    void Connect() {
        ASSERT_EQ(ConnOpen(conn, 'A'), SQL_SUCCESS);
        TakeCalls();
    }

    SQLRETURN SetAttr(SQLINTEGER attr, SQLULEN value, SQLINTEGER len = 0) {
        return DoSetConnectAttr(conn, SetConnectAttrArgs{attr, reinterpret_cast<SQLPOINTER>(value), len, 'A'});
    }
    SQLRETURN SetText(SQLINTEGER attr, const std::string& text, int width = 'A', SQLINTEGER len = SQL_NTS) {
        if (width == 'W') {
            auto w = Wide(text);
            return DoSetConnectAttr(conn, SetConnectAttrArgs{attr, w.data(), len, 'W'});
        }
        return DoSetConnectAttr(conn, SetConnectAttrArgs{attr, const_cast<char*>(text.c_str()), len, 'A'});
    }

    // Reads an integer through SQLGetConnectAttr into 16 canary bytes; how many were
    // written must be `bytes`, and the length pointer must say so.
    SQLULEN ReadAttr(SQLINTEGER attr, size_t bytes, SQLRETURN* rc = nullptr) {
        unsigned char buf[16];
        std::memset(buf, kCanary, sizeof buf);
        SQLINTEGER len = SQL_NTS;
        SQLRETURN r = DoGetConnectAttr(conn, GetConnectAttrArgs{attr, buf, sizeof buf, &len, 'A'});
        if (rc != nullptr)
            *rc = r;
        if (r != SQL_SUCCESS)
            return ~SQLULEN{0};
        EXPECT_EQ(len, static_cast<SQLINTEGER>(bytes)) << attr;
        for (size_t i = bytes; i < sizeof buf; ++i)
            EXPECT_EQ(buf[i], kCanary) << "attribute " << attr << " wrote byte " << i;
        SQLULEN v = 0;
        std::memcpy(&v, buf, bytes);
        return v;
    }
    // The same through SQLGetConnectOption.
    SQLULEN ReadOption(SQLUSMALLINT option, size_t bytes) {
        unsigned char buf[16];
        std::memset(buf, kCanary, sizeof buf);
        EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{option, buf, 'A'}), SQL_SUCCESS) << option;
        for (size_t i = bytes; i < sizeof buf; ++i)
            EXPECT_EQ(buf[i], kCanary) << "option " << option << " wrote byte " << i;
        SQLULEN v = 0;
        std::memcpy(&v, buf, bytes);
        return v;
    }

    int64_t savedQuiet = -2;
};

// Every integer option: its default, then a value set through one form and read back
// through both, before and after connecting; the agent hears of those it keeps only while
// connected.
TEST_F(ConnAttrTest, IntegerOptionsRoundTripInBothFormsBeforeAndAfterConnect) {
    struct Case {
        SQLUSMALLINT option;
        size_t bytes;
        SQLULEN initial;  // before anything is set on a new connection
        SQLULEN value;
        SQLULEN readBack;
        const char* agentCall;  // while connected, or null
    } cases[] = {
        {SQL_ACCESS_MODE, 4, SQL_MODE_READ_WRITE, SQL_MODE_READ_ONLY, SQL_MODE_READ_ONLY, "SetProperty 22030001=1"},
        {SQL_AUTOCOMMIT, 4, SQL_AUTOCOMMIT_ON, SQL_AUTOCOMMIT_OFF, SQL_AUTOCOMMIT_OFF, "SetProperty 22030000=0"},
        {SQL_LOGIN_TIMEOUT, 4, 120, 30, 30, nullptr},
        {SQL_OPT_TRACE, 4, 0, 1, 0, nullptr},
        {SQL_TRANSLATE_OPTION, 4, 0, 77, 77, nullptr},
        {SQL_TXN_ISOLATION, 4, 0, SQL_TXN_SERIALIZABLE, SQL_TXN_SERIALIZABLE, "SetProperty 2203006C=8"},
        {SQL_QUIET_MODE, 8, 0, SQLULEN{0x1234567890}, SQLULEN{0x1234567890}, nullptr},
        {SQL_PACKET_SIZE, 4, 4096, 512, 4096, nullptr},
    };
    for (bool connected : {false, true}) {
        conn = NewConn();
        Drv().quietWindow.store(-2);
        if (connected)
            Connect();
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "option " << c.option << (connected ? " connected" : " not connected"));
            SQLRETURN rc = SQL_SUCCESS;
            SQLULEN initial = ReadAttr(c.option, c.bytes, &rc);
            if (c.option == SQL_TXN_ISOLATION && !connected) {
                // Nothing asked for and no server to say: no value rather than a made-up one.
                EXPECT_EQ(rc, SQL_ERROR);
                EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_NOT_OPEN);
            } else if (c.option == SQL_TXN_ISOLATION) {
                EXPECT_EQ(initial, 2u);  // the agent's
            } else {
                EXPECT_EQ(initial, c.initial);
            }
            TakeCalls();
            EXPECT_EQ(SetAttr(c.option, c.value), SQL_SUCCESS);
            std::vector<std::string> expected;
            if (connected && c.agentCall != nullptr)
                expected.push_back(c.agentCall);
            EXPECT_EQ(TakeCalls(), expected);
            EXPECT_EQ(ReadAttr(c.option, c.bytes), c.readBack);
            EXPECT_EQ(ReadOption(c.option, c.bytes), c.readBack);
            // And the ODBC 2 form sets what both forms read.
            ASSERT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{c.option, c.initial, 'A'}), SQL_SUCCESS);
            if (c.option != SQL_OPT_TRACE && c.option != SQL_PACKET_SIZE && c.option != SQL_TXN_ISOLATION) {
                EXPECT_EQ(ReadAttr(c.option, c.bytes), c.initial);
            }
        }
    }
}

// The attributes answered without an option: the asynchronous-enable value (8 bytes),
// liveness and automatic IPD (4 bytes); the ODBC 2 asynchronous option is the connection's
// flag and refused in ODBC 3.
TEST_F(ConnAttrTest, AttributesOfTheirOwnAndTheAsynchronousOptions) {
    Connect();
    EXPECT_EQ(ReadAttr(SQL_ATTR_ASYNC_ENABLE, 8), SQL_ASYNC_ENABLE_OFF);
    EXPECT_EQ(SetAttr(SQL_ATTR_ASYNC_ENABLE, SQL_ASYNC_ENABLE_ON), SQL_SUCCESS);
    EXPECT_EQ(ReadAttr(SQL_ATTR_ASYNC_ENABLE, 8), SQL_ASYNC_ENABLE_ON);
    EXPECT_EQ(ReadAttr(SQL_ATTR_CONNECTION_DEAD, 4), SQL_CD_FALSE);
    EXPECT_EQ(ReadAttr(SQL_ATTR_AUTO_IPD, 4), SQLULEN{SQL_FALSE});
    EXPECT_EQ(ReadAttr(SQL_ATTR_ODBC_CURSORS, 8), SQLULEN{SQL_CUR_USE_IF_NEEDED});

    EXPECT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{SQL_ASYNC_ENABLE, 1, 'A'}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION);
    envr->odbcVersion = 2;
    EXPECT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{SQL_ASYNC_ENABLE, 1, 'A'}), SQL_SUCCESS);
    EXPECT_EQ(ReadOption(SQL_ASYNC_ENABLE, 8), SQL_ASYNC_ENABLE_ON);
    EXPECT_EQ(ReadAttr(SQL_QUERY_TIMEOUT, 8), 0u);  // the statements' default, readable in ODBC 2
}

// String attributes in both widths: the full length always reaches the length pointer
// (even one holding SQL_NTS), a cut text is NUL-terminated and warned of with 01004.
TEST_F(ConnAttrTest, StringAttributesReportTheirLengthAndWarnWhenCut) {
    Connect();
    ASSERT_EQ(SetText(SQL_ATTR_CURRENT_CATALOG, "sales"), SQL_SUCCESS);
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{"SetProperty 2103006D=" + std::to_string([] {
                  int32_t v;
                  std::memcpy(&v, "sales", 4);
                  return v;
              }())});
    struct Case {
        int width;
        SQLINTEGER size;  // bytes
        SQLRETURN rc;
        std::string text;
    } cases[] = {
        {'A', 64, SQL_SUCCESS, "sales"}, {'A', 6, SQL_SUCCESS, "sales"}, {'A', 5, SQL_SUCCESS_WITH_INFO, "sale"},
        {'A', 1, SQL_SUCCESS_WITH_INFO, ""}, {'A', 0, SQL_SUCCESS_WITH_INFO, "?"},
        {'W', 64, SQL_SUCCESS, "sales"}, {'W', 12, SQL_SUCCESS, "sales"}, {'W', 10, SQL_SUCCESS_WITH_INFO, "sale"},
        {'W', 4, SQL_SUCCESS_WITH_INFO, "s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<char>(c.width) << " " << c.size);
        unsigned char buf[80];
        std::memset(buf, '?', sizeof buf);
        SQLINTEGER len = SQL_NTS;
        conn->diag.errCode = 0;
        EXPECT_EQ(DoGetConnectAttr(conn, GetConnectAttrArgs{SQL_ATTR_CURRENT_CATALOG, buf, c.size, &len, c.width}),
                  c.rc);
        EXPECT_EQ(len, c.width == 'W' ? 10 : 5);
        EXPECT_EQ(conn->diag.errCode, c.rc == SQL_SUCCESS ? 0 : ERR_DATA_WAS_TRUNCATED);
        std::string got;
        if (c.size == 0)
            got.push_back(static_cast<char>(buf[0]));
        for (size_t i = 0; c.size > 0 && i < sizeof buf; i += c.width == 'W' ? 2 : 1) {
            if (buf[i] == 0)
                break;
            got.push_back(static_cast<char>(buf[i]));
        }
        EXPECT_EQ(got, c.text);
    }
    // The wide form sets it too, from a length in bytes; the ODBC 2 form reads into its
    // fixed room.
    ASSERT_EQ(SetText(SQL_ATTR_CURRENT_CATALOG, "inventory", 'W', 6), SQL_SUCCESS);
    char out[SQL_MAX_OPTION_STRING_LENGTH] = {};
    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{SQL_CURRENT_QUALIFIER, out, 'A'}), SQL_SUCCESS);
    EXPECT_STREQ(out, "inv");
}

// The current catalog, the translation library and the driver's text option read back
// what was set, before connecting too; an unset library is no data.
TEST_F(ConnAttrTest, TextOptionsReadBackWhatWasSet) {
    char out[SQL_MAX_OPTION_STRING_LENGTH] = {};
    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{SQL_TRANSLATE_DLL, out, 'A'}), SQL_NO_DATA);
    EXPECT_EQ(SetText(SQL_ATTR_TRANSLATE_LIB, "libxlate.so"), SQL_SUCCESS);
    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{SQL_TRANSLATE_DLL, out, 'A'}), SQL_SUCCESS);
    EXPECT_STREQ(out, "libxlate.so");

    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{SQL_CURRENT_QUALIFIER, out, 'A'}), SQL_SUCCESS);
    EXPECT_STREQ(out, "");
    std::vector<SQLWCHAR> cat = {'k', 0xE9, 0};
    ASSERT_EQ(DoSetConnectOption(conn, SetConnectOptionArgs{SQL_CURRENT_QUALIFIER,
                                                            reinterpret_cast<SQLULEN>(cat.data()), 'W'}),
              SQL_SUCCESS);
    SQLWCHAR wout[SQL_MAX_OPTION_STRING_LENGTH] = {};
    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{SQL_CURRENT_QUALIFIER, wout, 'W'}), SQL_SUCCESS);
    EXPECT_EQ(std::vector<SQLWCHAR>(wout, wout + 3), cat);
    Connect();
    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{SQL_CURRENT_QUALIFIER, wout, 'W'}), SQL_SUCCESS);
    EXPECT_EQ(std::vector<SQLWCHAR>(wout, wout + 3), cat);
}

// The driver's own options live in the agent connection: refused before it exists, asked
// of it after; a set the agent does not handle is an option out of range.
TEST_F(ConnAttrTest, DriverOptionsGoToTheAgent) {
    auto set = [this](SQLUSMALLINT option, SQLULEN value) {
        return DoSetConnectOption(conn, SetConnectOptionArgs{option, value, 'A'});
    };
    unsigned char buf[8];
    std::memset(buf, kCanary, sizeof buf);
    EXPECT_EQ(DoGetConnectOption(conn, GetConnectOptionArgs{1201, buf, 'A'}), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_NOT_OPEN);
    EXPECT_EQ(buf[0], kCanary);
    EXPECT_EQ(set(1201, 5), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_CONNECTION_NOT_OPEN);

    Connect();
    fake.props[kPropDriverOption1201] = 9;
    EXPECT_EQ(ReadOption(1201, 4), 9u);
    EXPECT_EQ(set(1201, 5), SQL_SUCCESS);
    fake.setFails[kPropDriverOption1201] = ERR_DRIVER_NOT_CAPABLE;
    EXPECT_EQ(set(1201, 5), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_OPTION_TYPE_OUT_OF_RANGE);
    fake.setFails[kPropDriverOption1212] = ERR_DRIVER_NOT_CAPABLE;
    fake.errors[kFakeConn] = {"no such option"};
    EXPECT_EQ(set(1212, reinterpret_cast<SQLULEN>("x")), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_OPTION_TYPE_OUT_OF_RANGE);
    EXPECT_EQ(Messages(conn->diag), std::vector<std::string>{"no such option"});
}

// Refusals, each with the code the application reads.
TEST_F(ConnAttrTest, RefusalsAndTheirCodes) {
    std::string cat = "abc";
    struct Case {
        const char* what;
        bool connected;
        std::function<SQLRETURN()> call;
        int code;
    } cases[] = {
        {"catalog with a negative length", false, [&] { return SetText(SQL_ATTR_CURRENT_CATALOG, cat, 'A', -7); },
         ERR_INVALID_STRING_OR_BUFFER_LENGTH},
        {"wide catalog with a negative length", true, [&] { return SetText(SQL_ATTR_CURRENT_CATALOG, cat, 'W', -2); },
         ERR_INVALID_STRING_OR_BUFFER_LENGTH},
        {"connection timeout", false, [&] { return SetAttr(SQL_ATTR_CONNECTION_TIMEOUT, 5); },
         ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"metadata id", true, [&] { return SetAttr(SQL_ATTR_METADATA_ID, 1); },
         ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"rowset size on a connection", true, [&] { return SetAttr(SQL_ROWSET_SIZE, 5); },
         ERR_OPTION_TYPE_OUT_OF_RANGE},
        {"unknown attribute", true, [&] { return SetAttr(4242, 1); }, ERR_OPTION_TYPE_OUT_OF_RANGE},
        {"read of an unknown attribute", false,
         [&] { return DoGetConnectAttr(conn, GetConnectAttrArgs{4242, nullptr, 0, nullptr, 'A'}); },
         ERR_OPTION_TYPE_OUT_OF_RANGE},
        {"statement option in ODBC 3", true, [&] { return SetAttr(SQL_MAX_ROWS, 5); },
         ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"query-timeout default in ODBC 3", true,
         [&] { return DoGetConnectAttr(conn, GetConnectAttrArgs{SQL_QUERY_TIMEOUT, nullptr, 0, nullptr, 'A'}); },
         ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"option 1051 once connected", true, [&] { return SetText(1051, cat); }, ERR_FUNCTION_SEQUENCE_ERROR},
        {"failover callback before connecting", false, [&] { return SetAttr(1280, 0x10); },
         ERR_FUNCTION_SEQUENCE_ERROR},
        {"failover callback without the capability", true, [&] { return SetAttr(1280, 0x10); },
         ERR_DRIVER_NOT_CAPABLE},
        // The agent has no XA operations: enlistment is refused before anything else.
        {"enlist before connecting", false, [&] { return SetAttr(SQL_ATTR_ENLIST_IN_DTC, 0x10); },
         ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"enlist", true, [&] { return SetAttr(SQL_ATTR_ENLIST_IN_DTC, 0x10); },
         ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"leave", true, [&] { return SetAttr(SQL_ATTR_ENLIST_IN_DTC, 0); }, ERR_DRIVER_DOES_NOT_SUPPORT_THIS_FUNCTION},
        {"negative buffer for a text", true,
         [&] {
             char b[8];
             return DoGetConnectAttr(conn, GetConnectAttrArgs{SQL_ATTR_CURRENT_CATALOG, b, -1, nullptr, 'A'});
         },
         ERR_INVALID_STRING_OR_BUFFER_LENGTH},
    };
    for (bool connected : {false, true}) {
        if (connected)
            Connect();
        for (const Case& c : cases) {
            if (c.connected != connected)
                continue;
            SCOPED_TRACE(c.what);
            conn->diag.errCode = 0;
            EXPECT_EQ(c.call(), SQL_ERROR);
            EXPECT_EQ(conn->diag.errCode, c.code);
        }
    }
}

// With an agent that has XA, leaving a transaction never joined is 25000 (joining one is
// the distributed-transaction tests', with a fake coordinator).
TEST_F(ConnAttrTest, EnlistmentWithAnXaAgent) {
    fake.props[OA_PROP_CAPABILITIES] = 0x100 | 0x2000;
    Connect();
    EXPECT_EQ(SetAttr(SQL_ATTR_ENLIST_IN_DTC, 0), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_TRANSACTION_STATE);
}

// Autocommit, access mode, isolation and catalog set before the connect hold on the
// connection it opens (a driver manager hands them over before connecting); an agent that
// refuses one fails the connect and leaves nothing open.
TEST_F(ConnAttrTest, SettingsGivenBeforeConnectHoldOnTheConnection) {
    ASSERT_EQ(SetAttr(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    ASSERT_EQ(SetAttr(SQL_ATTR_ACCESS_MODE, SQL_MODE_READ_ONLY), SQL_SUCCESS);
    ASSERT_EQ(SetAttr(SQL_ATTR_TXN_ISOLATION, SQL_TXN_REPEATABLE_READ), SQL_SUCCESS);
    ASSERT_EQ(SetText(SQL_ATTR_CURRENT_CATALOG, "c"), SQL_SUCCESS);
    EXPECT_TRUE(TakeCalls().empty());

    DriverConnectArgs a;
    a.in = "DSN=Empty";
    ASSERT_EQ(DoDriverConnect(conn, a), SQL_SUCCESS) << Messages(conn->diag).size();
    EXPECT_EQ(fake.requestReadOnly, 1);
    std::vector<std::string> calls = TakeCalls();
    for (const std::string want : {"SetProperty 2203006C=4", "SetProperty 22030000=0", "SetProperty 2103006D="}) {
        auto found = std::find_if(calls.begin(), calls.end(),
                                  [&](const std::string& c) { return c.rfind(want, 0) == 0; });
        EXPECT_NE(found, calls.end()) << want;
    }
    EXPECT_EQ(ReadAttr(SQL_ATTR_AUTOCOMMIT, 4), SQLULEN{SQL_AUTOCOMMIT_OFF});
    EXPECT_EQ(ReadAttr(SQL_ATTR_ACCESS_MODE, 4), SQLULEN{SQL_MODE_READ_ONLY});
    EXPECT_EQ(ReadAttr(SQL_ATTR_TXN_ISOLATION, 4), SQLULEN{SQL_TXN_REPEATABLE_READ});

    // Again, with an agent that will not turn autocommit off.
    ASSERT_EQ(DoDisconnect(conn, NoArgs{}), SQL_SUCCESS);
    fake.setFails[OA_PROP_AUTOCOMMIT] = ERR_GENERAL_ERROR;
    fake.errors[kFakeConn] = {"cannot"};
    EXPECT_EQ(DoDriverConnect(conn, a), SQL_ERROR);
    EXPECT_EQ(conn->state, CONN_ALLOCATED);
    EXPECT_EQ(conn->diag.errCode, ERR_GENERAL_ERROR);
    EXPECT_EQ(Messages(conn->diag), std::vector<std::string>{"cannot"});
    EXPECT_EQ(fake.serversOpen, 0);
}

// A connected setting the agent refuses changes nothing and says why.
TEST_F(ConnAttrTest, RefusedAgentSettingChangesNothing) {
    Connect();
    fake.setFails[OA_PROP_TXN_ISOLATION] = ERR_INVALID_ARGUMENT_VALUE;
    fake.errors[kFakeConn] = {"bad level"};
    EXPECT_EQ(SetAttr(SQL_ATTR_TXN_ISOLATION, 3), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_ARGUMENT_VALUE);
    EXPECT_EQ(Messages(conn->diag), std::vector<std::string>{"bad level"});
    EXPECT_EQ(ReadAttr(SQL_ATTR_TXN_ISOLATION, 4), 2u);
    EXPECT_EQ(conn->requestedIsolation, 0u);
}

// The current catalog cannot change under an open cursor.
TEST_F(ConnAttrTest, CatalogRefusedWhileACursorIsOpen) {
    Connect();
    STMT stmt(conn);
    stmt.flags = STMT_FLAG_CURSOR_OPEN;
    conn->stmts = &stmt;
    EXPECT_EQ(SetText(SQL_ATTR_CURRENT_CATALOG, "x"), SQL_ERROR);
    EXPECT_EQ(conn->diag.errCode, ERR_INVALID_CURSOR_STATE);
    EXPECT_TRUE(TakeCalls().empty());
    conn->stmts = nullptr;
}

}  // namespace
