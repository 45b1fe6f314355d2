// Connection options and attributes: SQLSetConnectOption, SQLGetConnectOption,
// SQLSetConnectAttr and SQLGetConnectAttr, narrow and wide.
//
// The ODBC 2 option handlers do the work; the ODBC 3 attribute handlers check the
// attribute, read string values with their length and hand the rest to them. Values the
// connection keeps are answered locally; autocommit, access mode, isolation, the current
// catalog and the driver's own options reach the agent as connection properties while
// connected. What the application sets of autocommit, access mode, isolation and current
// catalog before connecting is kept and given to the agent when the connection opens.
//
// Widths of answers: 8 bytes for the values ODBC defines as SQLULEN or a pointer
// (asynchronous enable, ODBC cursors, quiet mode, the query-timeout default), 4 bytes for
// the others. Strings go through the one output writer in the call's width: attribute
// buffers are counted in bytes, with the full length always reported and 01004 posted
// when cut; an option buffer (which has no size) holds SQL_MAX_OPTION_STRING_LENGTH
// characters.
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

struct CONN;
struct STMT;

// SQLSetConnectOption(W): a string value is a NUL-terminated text in the call's width
// carried in value.
struct SetConnectOptionArgs {
    SQLUSMALLINT option;
    SQLULEN value;
    int width;
    auto TraceFields() const { return std::tuple(option, value); }
};
SQLRETURN DoSetConnectOption(HANDLE_HDR* conn, const SetConnectOptionArgs& a);

// SQLGetConnectOption(W): a null value pointer is accepted and receives nothing.
struct GetConnectOptionArgs {
    SQLUSMALLINT option;
    SQLPOINTER value;
    int width;
    auto TraceFields() const { return std::tuple(option, value); }
};
SQLRETURN DoGetConnectOption(HANDLE_HDR* conn, const GetConnectOptionArgs& a);

// SQLSetConnectAttr(W): stringLength counts bytes of a string value, or SQL_NTS.
struct SetConnectAttrArgs {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLINTEGER stringLength;
    int width;
    auto TraceFields() const { return std::tuple(attribute, value, stringLength); }
};
SQLRETURN DoSetConnectAttr(HANDLE_HDR* conn, const SetConnectAttrArgs& a);

// SQLGetConnectAttr(W): bufferLength and *stringLength count bytes.
struct GetConnectAttrArgs {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLINTEGER bufferLength;
    SQLINTEGER* stringLength;
    int width;
    auto TraceFields() const { return std::tuple(attribute, value, bufferLength, stringLength); }
};
SQLRETURN DoGetConnectAttr(HANDLE_HDR* conn, const GetConnectAttrArgs& a);

// A statement option (0 to 3, 5 to 12) given on the connection: stored as the default for
// its statements, then given to each statement in list order, stopping at the first that
// does not take it without a word; that statement's result is returned and its
// diagnostics are moved onto the connection. SQL_SUCCESS when every statement took it;
// a cursor option (6 to 12) beyond 32 bits is kept as the largest 32-bit value and, when
// every statement took it, answered 01S02.
SQLRETURN ConnSetStmtOption(CONN* conn, SQLUSMALLINT option, SQLULEN value);

