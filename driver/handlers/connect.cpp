// Driver connect, connect and the login dialog.
#include "driver/handlers/connect.h"

#include <cstring>
#include <mutex>

#include "driver/outstr/outstr.h"
#include "driver/frame/globals.h"
#include "driver/frame/installer.h"
#include "driver/frame/trace.h"
#include "driver/objects/conn.h"
#include "driver/objects/connconf.h"
#include "platform/dlgkit/dlgkit.h"
#include "util/errcode.h"
#include "util/ut_string.h"

namespace {

// A text that may hold a password: wiped when it goes.
struct SecretText {
    std::string text;
    ~SecretText() { ConnWipe(text); }
};

// The caller's text of the given length (bytes, or SQL_NTS), up to a NUL inside it; null
// gives "". False for a negative length other than SQL_NTS.
bool CopyIn(const char* text, int length, std::string* out) {
    out->clear();
    if (length < 0 && length != SQL_NTS)
        return false;
    if (text == nullptr)
        return true;
    out->assign(text, length == SQL_NTS ? std::strlen(text) : strnlen(text, static_cast<size_t>(length)));
    return true;
}

// The driver name the dialog shows: the DRIVER value without its braces, else the
// description the data source list gives for the DSN.
std::string DialogDriverName(const ConnKeywordValues& kw) {
    if (!kw.supplied(KW_DRIVER))
        return GetDsnDriverName(kw);
    std::string name = kw.text(KW_DRIVER);
    size_t open = name.find('{');
    size_t from = open == std::string::npos ? 0 : open + 1;
    size_t close = name.find('}', from);
    return name.substr(from, close == std::string::npos ? std::string::npos : close - from);
}

bool Missing(const ConnKeywordValues& kw, int row) {
    const char* v = kw.text(row);
    return v[0] == '\0' || v[0] == ' ';
}

bool WantsDialog(const ConnKeywordValues& kw, int completion) {
    switch (completion) {
    case SQL_DRIVER_PROMPT:
        return true;
    case SQL_DRIVER_COMPLETE:
    case SQL_DRIVER_COMPLETE_REQUIRED:
        return Missing(kw, KW_UID) || Missing(kw, KW_PWD);
    default:
        return false;
    }
}

// The connect string's keywords and the configuration; SQL_ERROR with 08001 and a message
// that names the fault for a string that cannot be read as meant.
SQLRETURN ReadKeywords(CONN* conn, ConnKeywordValues& kw, const char* text, int width) {
    std::string fault;
    if (ConnReadKeywords(kw, text, width, &fault))
        return SQL_SUCCESS;
    ConnAddError(conn, fault + "[SQLSTATE:08001]", 0);
    return SQL_ERROR;
}

// Asks the user. SQL_SUCCESS with the keywords re-read from the answer, SQL_NO_DATA for a
// cancel, SQL_ERROR with IM008 when no dialog can be shown or 08001 for an answer that
// cannot be read.
SQLRETURN RunDialog(CONN* conn, const DriverConnectArgs& a, const std::string& connStr, ConnKeywordValues& kw) {
    if (a.window == nullptr) {
        conn->diag.errCode = ERR_DIALOG_FAILED;
        return SQL_ERROR;
    }
    std::string driverName = DialogDriverName(kw);
    char* answer = nullptr;
    int rc = KvrLOGIN(a.window, driverName.c_str(), connStr.c_str(), &answer, a.width);
    if (rc != KVR_LOGIN_OK) {
        KvrLOGIN_Free(answer);
        if (rc == KVR_LOGIN_CANNOT_SHOW) {
            conn->diag.errCode = ERR_DIALOG_FAILED;
            return SQL_ERROR;
        }
        return SQL_NO_DATA;
    }
    SecretText copy{answer != nullptr ? answer : ""};
    KvrLOGIN_Free(answer);
    return ReadKeywords(conn, kw, copy.text.c_str(), a.width);
}

// Everything a connect reads before it takes a lock: the connect string, the data
// source's settings, the File DSN, the login dialog's answer and the initial SQL file.
// SQL_SUCCESS, or what ends the connect here (a refused string, a cancelled or failed
// dialog). Only the connection's own call lock is held.
SQLRETURN ReadConfiguration(CONN* conn, const DriverConnectArgs& a, const std::string& connStr,
                            ConnKeywordValues& kw, ConnInitialSql* initSql) {
    if (SQLRETURN rc = ReadKeywords(conn, kw, connStr.c_str(), a.width); rc != SQL_SUCCESS)
        return rc;
    bool prompt = WantsDialog(kw, a.completion);
    if ((conn->flags & CONN_FLAG_NO_LOGIN_BOX) != 0 || kw.truth(KW_NLB)) {
        conn->flags |= CONN_FLAG_NO_LOGIN_BOX;
        prompt = false;
        if (!kw.supplied(KW_UID) || kw.text(KW_UID)[0] == '\0') {
            char uid[129] = {};
            InstGetPrivateProfileString(ConnIniSection(kw), "UID", "", uid, sizeof uid, CONN_ODBC_INI);
            kw.Set(KW_UID, uid, true);
        }
    }
    if (prompt) {
        if (SQLRETURN rc = RunDialog(conn, a, connStr, kw); rc != SQL_SUCCESS)
            return rc;
    }
    ConnReadInitialSql(kw, initSql);
    return SQL_SUCCESS;
}

void FillSettings(CONN* conn, const ConnKeywordValues& kw) {
    ConnFreeSettings(conn);
    conn->user = kw.text(KW_UID);
    conn->password = kw.text(KW_PWD);
    conn->cn_dbpath = kw.text(KW_DATABASENAME);
    if (kw.has(KW_HOSTNAME))
        conn->cn_dbopts = std::string("-H ") + kw.text(KW_HOSTNAME);
    if (kw.has(KW_PORT))
        conn->cn_dbopts += std::string(" -S ") + kw.text(KW_PORT);
    // IV and IA are cleared too: a reconnect without them must not keep an earlier
    // connect's choice.
    conn->flags &= static_cast<uint16_t>(~(CONN_FLAG_NO_LOGIN_BOX | CONN_FLAG_READ_ONLY | CONN_FLAG_AUTOCOMMIT |
                                           CONN_FLAG_RESERVED_10 | CONN_FLAG_INCLUDE_VIEWS | CONN_FLAG_INCLUDE_ALL));
    // An access mode the application set wins over the data source's.
    if (conn->requestedReadOnly ? *conn->requestedReadOnly : kw.truth(KW_READONLY))
        conn->flags |= CONN_FLAG_READ_ONLY;
    if (kw.truth(KW_IV))
        conn->flags |= CONN_FLAG_INCLUDE_VIEWS;
    if (kw.truth(KW_IA))
        conn->flags |= CONN_FLAG_INCLUDE_ALL;
    if (kw.has(KW_DSN))
        conn->dsn = kw.text(KW_DSN);
    else if (!kw.has(KW_FILEDSN))
        conn->dsn = CONN_DEFAULT_SECTION;
    int32_t fbs = ConnDecimal(kw.text(KW_FBS));
    conn->cn_fetchSize = fbs > 0 ? static_cast<uint32_t>(fbs) : 60;
    if (conn->appName.empty())
        conn->appName = ut_ProgramName();
    conn->defaultIsolation = ConnProcessSettings().defaultIsolation;
}

void TraceConnect(const CONN* conn, const DriverConnectArgs& a, const std::string& connStr,
                  const ConnKeywordValues& kw) {
    if (!TraceIsOn())
        return;
    TraceLog("connStr=[%s]", a.in != nullptr ? ConnMaskPassword(connStr).c_str() : "<null>");
    for (int row = 0; row < KW_COUNT; ++row) {
        if (CONN_KEYWORDS[row].trace != 1)
            continue;
        const auto& v = kw.value(row);
        TraceLog("  key=[%s] data=[%s] supplied=%d", CONN_KEYWORDS[row].keyword, v ? v->c_str() : "<null>",
                 kw.supplied(row) ? 1 : 0);
    }
    TraceLog("cn_dbpath=[%s] cn_dbopts=[%s] cn_readonly=%d", conn->cn_dbpath.c_str(), conn->cn_dbopts.c_str(),
             (conn->flags & CONN_FLAG_READ_ONLY) != 0 ? 1 : 0);
    TraceLog("cn_fetchSize=%d cn_dbhost=[%s] cn_svtype=[%s]", static_cast<int>(conn->cn_fetchSize),
             conn->cn_dbhost.c_str(), conn->cn_svtype.c_str());
}

}  // namespace

std::string ConnOutString(const CONN* conn, const ConnKeywordValues& kw) {
    // Built in place: the text holds the password, and ConnStrAppend wipes every buffer it
    // outgrows.
    std::string out;
    auto text = [&out](std::string_view t) { ConnStrAppend(out, t); };
    auto pair = [&out](std::string_view key, std::string_view value) {
        ConnStrAppend(out, key);
        ConnStrAppendValue(out, value);
    };
    if (kw.supplied(KW_DRIVER)) {
        const CONN_PROCESS_SETTINGS& s = ConnProcessSettings();
        const char* sensitivity = s.dynCursSensitivity == 1 ? "HIGH" : s.dynCursSensitivity == 2 ? "DISABLED" : "LOW";
        text("DRIVER=");
        text(kw.given(KW_DRIVER));  // as the caller wrote it
        pair(";UID=", conn->user);
        pair(";PWD=", conn->password);
        text(";FBS=" + std::to_string(conn->cn_fetchSize));
        pair(";READONLY=", kw.text(KW_READONLY));
        pair(";NLB=", kw.text(KW_NLB));
        pair(";DATABASENAME=", conn->cn_dbpath);
        text(s.noRowsetSizeLimit != 0 ? ";NRSSL=TRUE" : ";NRSSL=FALSE");
        text(";DYN_CURS_SENSITIVITY=");
        text(sensitivity);
        pair(";HOSTNAME=", kw.text(KW_HOSTNAME));
        pair(";PORT=", kw.text(KW_PORT));
        pair(";SQLDBMSNAME=", kw.text(KW_SQLDBMSNAME));
        pair(";DEFTXNISO=", kw.text(KW_DEFTXNISO));
        pair(";IV=", kw.text(KW_IV));
        pair(";IA=", kw.text(KW_IA));
        text(";Server=Tessaryn");
    } else {
        pair("DSN=", conn->dsn);
        pair(";UID=", conn->user);
        pair(";PWD=", conn->password);
        pair(";CONNSTR=", conn->cn_dbpath);
        // CONNSTR is not read back: a reconnect with this string must be told again where
        // the settings came from, or it reaches the Default section's database.
        if (kw.supplied(KW_DATABASENAME))
            pair(";DATABASENAME=", conn->cn_dbpath);
        if (!kw.has(KW_DSN) && kw.has(KW_FILEDSN))
            pair(";FILEDSN=", kw.text(KW_FILEDSN));
    }
    return out;
}

SQLRETURN ConnDriverConnect(CONN* conn, const DriverConnectArgs& a) {
    if (conn->state == CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_IN_USE;
        return SQL_ERROR;
    }
    SecretText connStr;
    // A negative out size is refused before the connect: reported after it, the caller
    // would hold an open connection behind a call it takes for failed or cut.
    if (a.outSize < 0 || !CopyIn(a.in, a.inLength, &connStr.text)) {
        conn->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return SQL_ERROR;
    }
    // The keyword values, passwords included, are wiped on every way out of here.
    ConnKeywordValues kw;
    ConnInitialSql initSql;
    {
        // Configuration files may be slow or never answer, and the dialog waits for a
        // user: none of it may hold a lock that every other connection needs.
        DbLockRelease unlocked;
        if (SQLRETURN rc = ReadConfiguration(conn, a, connStr.text, kw, &initSql); rc != SQL_SUCCESS)
            return rc;
    }

    // Process-wide settings and the open follow one another for one connect at a time.
    std::lock_guard<std::recursive_mutex> guard(Drv().connectLock);
    ConnApplyProcessSettings(kw);
    FillSettings(conn, kw);
    SecretText outStr{ConnOutString(conn, kw)};
    TraceConnect(conn, a, connStr.text, kw);
    kw.Clear();
    ConnWipe(connStr.text);

    SQLRETURN open = ConnOpen(conn, a.width, &initSql);
    if (open == SQL_ERROR)
        return SQL_ERROR;
    OutUnit unit = a.width == WIDTH_WIDE ? OutUnit::Chars : OutUnit::Bytes;
    SQLRETURN rc = OutString(outStr.text, a.out, a.outSize, unit, a.width, a.outLength, &conn->diag);
    return rc == SQL_SUCCESS ? open : rc;
}

SQLRETURN DoDriverConnect(HANDLE_HDR* conn, const DriverConnectArgs& a) {
    return ConnDriverConnect(static_cast<CONN*>(conn), a);
}

SQLRETURN DoConnect(HANDLE_HDR* h, const ConnectArgs& args) {
    auto* conn = static_cast<CONN*>(h);
    if (conn->state == CONN_CONNECTED) {
        conn->diag.errCode = ERR_CONNECTION_IN_USE;
        return SQL_ERROR;
    }
    SecretText dsn, uid, pwd;
    if (!CopyIn(args.dsn, args.dsnLength, &dsn.text) || !CopyIn(args.uid, args.uidLength, &uid.text) ||
        !CopyIn(args.pwd, args.pwdLength, &pwd.text)) {
        conn->diag.errCode = ERR_INVALID_STRING_OR_BUFFER_LENGTH;
        return SQL_ERROR;
    }
    // Each value is one value whatever it holds: a ';' in a user name or password cannot
    // add a keyword.
    SecretText connStr;
    for (auto [key, value] : {std::pair<const char*, const std::string*>{"DSN=", &dsn.text},
                              {";UID=", &uid.text}, {";PWD=", &pwd.text}}) {
        ConnStrAppend(connStr.text, key);
        ConnStrAppendValue(connStr.text, *value);  // wipes what it outgrows
    }
    TraceLog("DSN=%s;UID=%s;PWD=***", ConnStrValue(dsn.text).c_str(), ConnStrValue(uid.text).c_str());

    DriverConnectArgs a;
    a.in = connStr.text.c_str();
    a.completion = SQL_DRIVER_NOPROMPT;
    a.width = args.width;
    // No out string: SQLConnect hands none back, so a long one must not warn.
    return ConnDriverConnect(conn, a);
}
