// Connection configuration: where each keyword's value comes from (connect string, the
// data source's section, a File DSN, the "Default" section), braces, repeated keywords,
// cutting to the setting's length in both text widths, and the process-wide settings.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <random>
#include <string>

#include "conn_fixture.h"
#include "driver/frame/trace.h"
#include "driver/objects/connconf.h"

using namespace conn_fixture;
using trace_support::TempDir;
using trace_support::WriteFile;

namespace {

using Expect = std::map<int, std::optional<std::string>>;

struct Case {
    std::string in;
    Expect values;
    std::map<int, bool> supplied = {};
    int width = 'A';
};

void Check(const Case& c) {
    ConnKeywordValues kw;
    ConnReadKeywords(kw, c.in.c_str(), c.width);
    for (const auto& [row, value] : c.values)
        EXPECT_EQ(kw.value(row), value) << "[" << c.in << "] " << CONN_KEYWORDS[row].keyword;
    for (const auto& [row, supplied] : c.supplied)
        EXPECT_EQ(kw.supplied(row), supplied) << "[" << c.in << "] " << CONN_KEYWORDS[row].keyword;
}

TEST(ConnKeywords, ConnectStringThenDataSourceThenDefault) {
    const Case cases[] = {
        // The data source's section fills what the string does not give.
        {"DSN=Sales",
         {{KW_DSN, "Sales"}, {KW_UID, "ann"}, {KW_PWD, "salespwd"}, {KW_DATABASENAME, "/data/sales.db"},
          {KW_HOSTNAME, "dbhost"}, {KW_PORT, "2500"}, {KW_FBS, "100"}, {KW_READONLY, "Yes"},
          {KW_NLB, ""}, {KW_DRIVER, std::nullopt}, {KW_FILEDSN, std::nullopt}},
         {{KW_DSN, true}, {KW_UID, false}}},
        // Keywords in any case; the string wins over the section.
        {"dsn=Sales;uid=bob;DatabaseName=/x.db",
         {{KW_UID, "bob"}, {KW_PWD, "salespwd"}, {KW_DATABASENAME, "/x.db"}},
         {{KW_UID, true}, {KW_PWD, false}}},
        // An empty UID setting gives way to LastUser.
        {"DSN=NoUser", {{KW_UID, "lastann"}, {KW_DATABASENAME, "/data/nouser.db"}}},
        // An unknown data source gives empty values, not the Default section's.
        {"DSN=Nowhere", {{KW_UID, ""}, {KW_DATABASENAME, ""}}},
        // Without DSN and FILEDSN: the Default section.
        {"", {{KW_DSN, std::nullopt}, {KW_UID, "defuser"}, {KW_PWD, "defpwd"}, {KW_FBS, "20"},
              {KW_DATABASENAME, "/data/default.db"}}},
        {"DRIVER={Tessaryn Vell};UID=u",
         {{KW_DRIVER, "Tessaryn Vell"}, {KW_UID, "u"}, {KW_PWD, "defpwd"}, {KW_DATABASENAME, "/data/default.db"}}},
        // Braces keep ';' and '=' inside one value; "}}" is one brace; the last of a
        // repeated keyword holds; pairs without '=' and unknown keywords are skipped.
        {"PWD={a;b}}c=d};UID=x;UID=y;FOO=1;NLB;DATABASENAME={/p;q.db}tail;FBS=7",
         {{KW_PWD, "a;b}c=d"}, {KW_UID, "y"}, {KW_NLB, ""}, {KW_DATABASENAME, "/p;q.db"}, {KW_FBS, "7"}},
         {{KW_NLB, false}}},
        // No trimming: " UID" is not a keyword.
        {"DSN=Sales; UID=bob", {{KW_UID, "ann"}}},
        // Values of the data source are cut to the setting's length: bytes for the narrow
        // library, whole characters for the Unicode one.
        {"DSN=Long",
         {{KW_UID, "zo\xc3\xab\xf0\x9f\x98\x80"},
          {KW_DATABASENAME, "/0123456789/0123456789/0123456789/0123456789/0123456789/0123456789/0123456789/"
                            "\xc3\xa9\xc3"}}},
        {"DSN=Long",
         {{KW_DATABASENAME, "/0123456789/0123456789/0123456789/0123456789/0123456789/0123456789/0123456789/"
                            "\xc3\xa9\xc3\xa9\xc3\xa9"},
          {KW_UID, "zo\xc3\xab\xf0\x9f\x98\x80"}},
         {},
         'W'},
    };
    for (const Case& c : cases)
        Check(c);
}

// A brace that never closes would swallow the rest of the string into one value: the
// string is refused, and nothing is read from the configuration.
TEST(ConnKeywords, UnclosedBraceRefusesTheString) {
    for (const char* in : {"DATABASENAME={/tmp/b.db;UID=u", "PWD={a;DSN=Sales", "FOO={x", "UID=u;DSN={Sales}}"}) {
        ConnKeywordValues kw;
        std::string fault;
        EXPECT_FALSE(ConnReadKeywords(kw, in, 'A', &fault)) << in;
        EXPECT_EQ(kw.value(KW_DATABASENAME), std::nullopt) << in;
        EXPECT_NE(fault.find("opens a brace that is never closed"), std::string::npos) << in;
    }
    std::string fault;
    ConnKeywordValues kw;
    ConnReadKeywords(kw, "UID=u;DATABASENAME={/tmp/b.db", 'A', &fault);
    EXPECT_EQ(fault, "Invalid connection string: the value of DATABASENAME opens a brace that is never closed");
    EXPECT_TRUE(ConnReadKeywords(kw, "UID={u}}};DSN={Sales}", 'A', &fault));
    EXPECT_EQ(kw.value(KW_UID), "u}");
}

TEST(ConnKeywords, FileDsnIsReadByKeywordNames) {
    TempDir dir;
    std::string file = dir / "sales.dsn";
    WriteFile(file,
              "[ODBC]\nDRIVER=Tessaryn\nDATABASENAME=/data/file.db\nUID=fileuser\nFBS=33\nFetchBufferSize=44\n");
    const Case cases[] = {
        {"FILEDSN=" + file,
         {{KW_DATABASENAME, "/data/file.db"}, {KW_UID, "fileuser"}, {KW_FBS, "33"}, {KW_PWD, ""},
          {KW_DRIVER, std::nullopt}}},
        {"FILEDSN=" + file + ";UID=bob", {{KW_UID, "bob"}, {KW_DATABASENAME, "/data/file.db"}}},
        // A data source name outranks the File DSN.
        {"DSN=Sales;FILEDSN=" + file, {{KW_DATABASENAME, "/data/sales.db"}, {KW_UID, "ann"}}},
        // A File DSN that cannot be read gives empty values.
        {"FILEDSN=" + (dir / "none.dsn"), {{KW_UID, ""}, {KW_DATABASENAME, ""}}},
    };
    for (const Case& c : cases)
        Check(c);
}

// The initial SQL file is read whole before the connect; the name gains ".sql" when its
// last component has none. What is not a regular file is refused without waiting, and so
// is a file beyond the limit.
TEST(ConnKeywords, InitialSqlFile) {
    TempDir dir;
    WriteFile(dir / "init.sql", "DELETE FROM init");
    WriteFile(dir / "init.txt", "DELETE FROM txt");
    WriteFile(dir / ".profile.sql", "DELETE FROM profile");
    ASSERT_EQ(mkfifo((dir / "pipe.sql").c_str(), 0600), 0);
    ASSERT_EQ(mkdir((dir / "folder.sql").c_str(), 0700), 0);
    WriteFile(dir / "big.sql", "");
    ASSERT_EQ(truncate((dir / "big.sql").c_str(), CONN_INITSQL_MAX_BYTES + 1), 0);
    struct Case {
        std::string setting, name, text, failure;
    } cases[] = {
        {"init", "init.sql", "DELETE FROM init", ""},
        {"init.txt", "init.txt", "DELETE FROM txt", ""},
        {".profile", ".profile.sql", "DELETE FROM profile", ""},
        {"missing", "missing.sql", "", "No such file or directory"},
        {"pipe", "pipe.sql", "", "not a regular file"},
        {"folder", "folder.sql", "", "not a regular file"},
        {"big", "big.sql", "", "larger than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        ConnKeywordValues kw;
        ASSERT_TRUE(ConnReadKeywords(kw, ("INITSQL=" + (dir / c.setting)).c_str(), 'A'));
        ConnInitialSql init;
        ConnReadInitialSql(kw, &init);
        EXPECT_EQ(init.name, dir / c.name) << c.setting;
        EXPECT_EQ(init.text, c.text) << c.setting;
        EXPECT_EQ(init.failure, c.failure) << c.setting;
    }
    ConnKeywordValues none;
    ConnReadKeywords(none, "DSN=Sales", 'A');
    ConnInitialSql init;
    ConnReadInitialSql(none, &init);
    EXPECT_EQ(init.name, "");
}

TEST(ConnKeywords, DriverNameAndSectionOfTheConnect) {
    ConnKeywordValues kw;
    ConnReadKeywords(kw, "DSN=Sales", 'A');
    EXPECT_EQ(GetDsnDriverName(kw), "Tessaryn Vell for Progress 11 SQL-92 (Unicode)");
    EXPECT_STREQ(ConnIniSection(kw), "Sales");
    ConnReadKeywords(kw, "FILEDSN=/nowhere.dsn", 'A');
    EXPECT_EQ(GetDsnDriverName(kw), "");
    EXPECT_STREQ(ConnIniSection(kw), "Default");  // never a null section
    ConnReadKeywords(kw, nullptr, 'A');
    EXPECT_EQ(kw.value(KW_UID), std::nullopt);
}

TEST(ConnKeywords, ProcessWideSettingsFollowTheLastConnect) {
    CONN_PROCESS_SETTINGS& s = ConnProcessSettings();
    s = CONN_PROCESS_SETTINGS{};
    ConnKeywordValues kw;
    struct Step {
        const char* in;
        int32_t jet, maxRows, noAc, nrssl, sensitivity, remarks;
        uint32_t isolation;
        const char* dbms;
    } steps[] = {
        {"JET=yes;MAXROWS=250;NOAC=True;NRSSL=1;DYN_CURS_SENSITIVITY=high;SHOWREMARKS=YES;DEFTXNISO=Serializable;"
         "INITSQL=/init.sql;SQLDBMSNAME=Progress",
         1, 250, 1, 0, 1, 1, 8, "Progress"},
        // Empty texts leave the isolation and the DBMS name as they were.
        {"MAXROWS=x;DYN_CURS_SENSITIVITY=Disabled;DEFTXNISO=;SQLDBMSNAME=", 0, 0, 0, 0, 2, 0, 8, "Progress"},
        {"DEFTXNISO=Read Uncommitted;DYN_CURS_SENSITIVITY=low", 0, 0, 0, 0, 0, 0, 1, "Progress"},
        {"DEFTXNISO=Repeatable Read", 0, 0, 0, 0, 0, 0, 4, "Progress"},
        // Only the names as spelled count; any other text is read committed.
        {"DEFTXNISO=serializable", 0, 0, 0, 0, 0, 0, 2, "Progress"},
    };
    for (const Step& st : steps) {
        ConnReadKeywords(kw, st.in, 'A');
        ConnApplyProcessSettings(kw);
        EXPECT_EQ(s.jet, st.jet) << st.in;
        EXPECT_EQ(s.maxRows, st.maxRows) << st.in;
        EXPECT_EQ(s.noAutoCommit, st.noAc) << st.in;
        EXPECT_EQ(s.noRowsetSizeLimit, st.nrssl) << st.in;
        EXPECT_EQ(s.dynCursSensitivity, st.sensitivity) << st.in;
        EXPECT_EQ(s.showRemarks, st.remarks) << st.in;
        EXPECT_EQ(s.defaultIsolation, st.isolation) << st.in;
        EXPECT_EQ(s.sqlDbmsName, st.dbms) << st.in;
    }
}

TEST(ConnKeywords, ValuesWrittenIntoAConnectStringReadBackWhole) {
    for (const char* v : {"plain", "a;b", "{x}", "a}b", "", "{", "x;PWD=y"}) {
        std::string s = "UID=" + ConnStrValue(v) + ";PWD=p";
        ConnKeywordValues kw;
        ConnReadKeywords(kw, s.c_str(), 'A');
        EXPECT_EQ(kw.value(KW_UID), v) << s;
        EXPECT_EQ(kw.value(KW_PWD), "p") << s;
    }
    EXPECT_EQ(ConnStrValue("plain"), "plain");
    EXPECT_EQ(ConnStrValue("a;}b"), "{a;}}b}");
}

// Generated connect strings: whatever the parser takes as the password never shows in
// the masked text that a trace writes. Every secret fragment is numbered, so a secret
// can only reach the masked text through a fault of the masking.
TEST(ConnStrMask, MaskedTextNeverHoldsTheParsedPassword) {
    const std::vector<std::string> pieces = {
        "PWD=", "pwd=", "Pwd=", " PWD=", "PWD =", "UID=", "uid= ", "DSN=x", "DRIVER=", "DATABASENAME=", "FOO=",
        "=", ";", ";", "{", "{", "}", "}}", " ", "  {", "a", "b=c", "PWD", "PWD={", "UID= {",
    };
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> pick(0, pieces.size() + 5);  // beyond the pieces: a secret
    std::uniform_int_distribution<int> length(1, 14);
    int checked = 0;
    for (int round = 0; round < 100000; ++round) {
        std::string text;
        int secrets = 0;
        for (int n = length(rng); n > 0; --n) {
            size_t k = pick(rng);
            text += k < pieces.size() ? pieces[k] : "S" + std::to_string(secrets++) + "X";
        }
        // A string the parser refuses (an unclosed brace) is still traced: its password is
        // the value of the last PWD pair all the same.
        std::optional<std::string> pwd;
        for (const ConnStrPair& pair : ConnStrSplit(text))
            if (pair.key.size() == 3 && strncasecmp(pair.key.data(), "PWD", 3) == 0)
                pwd = ConnStrDecode(pair.raw);
        ConnKeywordValues kw;
        if (ConnParseString(kw, text)) {
            ASSERT_EQ(kw.value(KW_PWD), pwd) << text;
        }
        std::vector<std::string> held;  // the secrets inside the password
        for (int i = 0; pwd && i < secrets; ++i) {
            std::string secret = "S" + std::to_string(i) + "X";
            if (pwd->find(secret) != std::string::npos)
                held.push_back(secret);
        }
        if (held.empty())
            continue;
        std::string masked = ConnMaskPassword(text);
        EXPECT_EQ(masked.find(*pwd), std::string::npos) << "[" << text << "] -> [" << masked << "]";
        for (const std::string& secret : held)
            EXPECT_EQ(masked.find(secret), std::string::npos) << "[" << text << "] -> [" << masked << "]";
        if (HasFailure())
            break;
        ++checked;
    }
    EXPECT_GT(checked, 5000);  // the generator does reach passwords
}

}  // namespace
