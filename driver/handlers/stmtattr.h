// Statement options and attributes, and column binding: SQLSetStmtOption,
// SQLGetStmtOption, SQLSetStmtAttr(W), SQLGetStmtAttr(W) and SQLBindCol.
//
// The ODBC 2 options are the base: most are also given to the agent as statement
// properties (0x32030000 + option), and the agent may answer 75 (01S02) when it took
// another value, which is then read back. The ODBC 3 attributes map onto those options,
// onto header fields of the statement's current descriptors and onto the application
// descriptor handles. Every attribute ODBC types as SQLULEN, SQLLEN or a pointer (handles
// included) is written as 8 bytes; the driver's own options, which the agent keeps as
// 32-bit values, as 4 bytes.
//
// Everything here runs inside a call on the statement's connection (its call lock and the
// database lock held); failures leave an internal code on the statement.
#pragma once

#include <sql.h>

#include <cstdint>
#include <tuple>

#include "driver/frame/dispatch.h"

struct STMT;

struct SetStmtOptionArgs {
    SQLUSMALLINT option;
    SQLULEN value;
    auto TraceFields() const { return std::tuple(option, value); }
};

struct GetStmtOptionArgs {
    SQLUSMALLINT option;
    SQLPOINTER value;
    auto TraceFields() const { return std::tuple(option, value); }
};

// SQLSetStmtAttr(W): the width marker (WIDTH_NARROW / WIDTH_WIDE) of the entry.
struct SetStmtAttrArgs {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLINTEGER length;
    int width;
    auto TraceFields() const { return std::tuple(attribute, value, length); }
};

struct GetStmtAttrArgs {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLINTEGER bufferLength;
    SQLINTEGER* length;
    auto TraceFields() const { return std::tuple(attribute, value, bufferLength, length); }
};

struct BindColArgs {
    SQLUSMALLINT column;
    SQLSMALLINT cType;
    SQLPOINTER data;
    SQLLEN bufferLength;
    SQLLEN* indicator;
    auto TraceFields() const { return std::tuple(column, cType, data, bufferLength, indicator); }
};

// Largest column number SQLBindCol takes: descriptor record counts are 16-bit signed.
constexpr SQLUSMALLINT STMT_MAX_BIND_COLUMN = 32767;

// Sets an ODBC 2 statement option (also the driver's options 1050-1054 and 1225-1278).
// SQL_SUCCESS, SQL_SUCCESS_WITH_INFO with 75 (01S02) when another value was taken, or
// SQL_ERROR with the agent's code or 27 (S1092).
SQLRETURN StmtSetOption(STMT* stmt, uint16_t option, SQLULEN value);
// A new statement takes the statement options its connection was given (SQLSetConnectOption)
// through StmtSetOption, so that the agent's statement holds them too; asynchronous enable
// is the connection's. A value the agent changes is kept as changed. SQL_SUCCESS, or
// SQL_ERROR with the code on the statement.
SQLRETURN StmtApplyConnDefaults(STMT* stmt);
// Reads an option into out (8 bytes for the ODBC options, 4 for the driver's); a null
// out stores nothing. SQL_SUCCESS or SQL_ERROR.
SQLRETURN StmtGetOption(STMT* stmt, uint16_t option, void* out);
// Sets an ODBC 3 attribute; width is the entry's marker.
SQLRETURN StmtSetAttr(STMT* stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length, int width);
// Binds (non-null data) or unbinds a column and records it in the current ARD. 0 or an
// internal code (18 S1003, 25 S1090, 17 S1002, 43 S1C00, or the agent's).
int StmtBindCol(STMT* stmt, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER data, SQLLEN bufferLength,
                SQLLEN* indicator);

SQLRETURN DoSetStmtOption(HANDLE_HDR* stmt, const SetStmtOptionArgs& a);
SQLRETURN DoGetStmtOption(HANDLE_HDR* stmt, const GetStmtOptionArgs& a);
SQLRETURN DoSetStmtAttr(HANDLE_HDR* stmt, const SetStmtAttrArgs& a);
SQLRETURN DoGetStmtAttr(HANDLE_HDR* stmt, const GetStmtAttrArgs& a);
SQLRETURN DoBindCol(HANDLE_HDR* stmt, const BindColArgs& a);
