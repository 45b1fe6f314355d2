// Connecting: SQLDriverConnect (both text widths, every completion mode, the login dialog)
// and SQLConnect, which builds a connect string and takes the same road.
//
// A connect reads the keywords of the connect string and the configuration
// (driver/objects/connconf.h), asks the login dialog when the completion mode wants it and
// reads the initial SQL file, all of it without the database lock and before the connect
// lock, since files and users may keep it waiting; then, inside the connect lock, it
// rewrites the process-wide settings, fills the connection's settings, opens the
// connection through the agent and hands back the completed connect string.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <tuple>

#include "driver/frame/dispatch.h"

struct CONN;
class ConnKeywordValues;

// Arguments of one driver connect, after the connection handle.
struct DriverConnectArgs {
    void* window = nullptr;          // parent of the login dialog; null: no dialog can be shown
    const char* in = nullptr;        // connect string (UTF-8 for the wide entry)
    int inLength = SQL_NTS;          // bytes, or SQL_NTS
    void* out = nullptr;             // completed connect string (UTF-16 for the wide entry), or null
    int outSize = 0;                 // bytes of out; characters for the wide entry
    SQLSMALLINT* outLength = nullptr;  // in the unit of outSize
    int completion = SQL_DRIVER_NOPROMPT;
    int width = WIDTH_NARROW;
    auto TraceFields() const { return std::tuple(window, in, inLength, out, outSize, outLength, completion); }
};

// Arguments of SQLConnect: texts of the given byte length or SQL_NTS (UTF-8 for the wide
// entry).
struct ConnectArgs {
    const char* dsn;
    SQLSMALLINT dsnLength;
    const char* uid;
    SQLSMALLINT uidLength;
    const char* pwd;
    SQLSMALLINT pwdLength;
    int width;
    auto TraceFields() const { return std::tuple(dsn, dsnLength, uid, uidLength, pwd, pwdLength); }
};

// The connect itself, inside a connection handler (it gives up the database lock for the
// configuration and takes the connect lock after it). SQL_SUCCESS once connected, or
// SQL_SUCCESS_WITH_INFO with 01004 when the completed string was cut, or with the
// messages of an initial SQL file that could not be read or run; SQL_NO_DATA when the user
// cancelled the dialog, with nothing changed; SQL_ERROR otherwise, with the code on the
// connection.
SQLRETURN ConnDriverConnect(CONN* conn, const DriverConnectArgs& args);

// The completed connect string that a connect hands back, from its keyword values and the
// connection's settings.
std::string ConnOutString(const CONN* conn, const ConnKeywordValues& kw);

// Handler of "DriverConnect" and "DriverConnectW". The wide entry hands over UTF-8 and its
// caller's UTF-16 out buffer, with size and length in characters.
SQLRETURN DoDriverConnect(HANDLE_HDR* conn, const DriverConnectArgs& a);

// Handler of "Connect" and "ConnectW".
SQLRETURN DoConnect(HANDLE_HDR* conn, const ConnectArgs& a);
