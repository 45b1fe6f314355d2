// Handlers of the calls that take or return statement text and of the small statement
// queries: SQLPrepare, SQLExecDirect (its prepare step), SQLExecute (until execution is
// built), SQLNumResultCols, SQLNumParams, SQLRowCount, SQLParamOptions, SQLMoreResults,
// SQLGetCursorName, SQLSetCursorName and SQLNativeSql (on a connection).
//
// Wide entries hand over UTF-8 input (WideIn) and the caller's UTF-16 output buffer,
// counted in characters; the handlers write output through OutString in the call's width.
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

struct STMT;

// SQLPrepare, SQLExecDirect: the text and its length (bytes or SQL_NTS).
struct SqlTextArgs {
    const char* text;
    SQLINTEGER length;
    auto TraceFields() const { return std::tuple(text, length); }
};

// SQLNumResultCols, SQLNumParams.
struct CountArgs {
    SQLSMALLINT* count;
    auto TraceFields() const { return std::tuple(count); }
};

struct RowCountArgs {
    SQLLEN* count;
    auto TraceFields() const { return std::tuple(count); }
};

struct ParamOptionsArgs {
    SQLULEN rows;
    SQLULEN* rowsProcessed;
    auto TraceFields() const { return std::tuple(rows, rowsProcessed); }
};

struct SetCursorNameArgs {
    const char* name;
    SQLSMALLINT length;
    auto TraceFields() const { return std::tuple(name, length); }
};

// SQLGetCursorName: buffer size and length in characters (bytes for the narrow entry).
struct GetCursorNameArgs {
    void* buffer;
    SQLSMALLINT size;
    SQLSMALLINT* length;
    int width;
    auto TraceFields() const { return std::tuple(buffer, size, length); }
};

// SQLNativeSql: input as SqlTextArgs; output size and length in characters.
struct NativeSqlArgs {
    const char* in;
    SQLINTEGER inLength;
    void* out;
    SQLINTEGER outSize;
    SQLINTEGER* outLength;
    int width;
    auto TraceFields() const { return std::tuple(in, inLength, out, outSize, outLength); }
};

// The prepare step of SQLPrepare and SQLExecDirect: closes the statement, drops its
// descriptions, has the agent prepare the text and describe its parameters. SQL_SUCCESS,
// SQL_SUCCESS_WITH_INFO (01S02: the agent took another cursor type or concurrency) or
// SQL_ERROR, after which the statement is not prepared.
SQLRETURN StmtPrepare(STMT* stmt, const char* text);

// SQLPrepare and SQLExecDirect refuse a new text while an exchange of data at execution
// is pending (S1010).
SQLRETURN DoPrepare(HANDLE_HDR* stmt, const SqlTextArgs& a);
// Prepares, then executes as SQLExecute does.
SQLRETURN DoExecDirect(HANDLE_HDR* stmt, const SqlTextArgs& a);
// S1010 without a prepared statement; otherwise executes by the connection's road of
// data at execution (driver/exec/execute.h): SQL_NEED_DATA when a value is given at
// execution.
SQLRETURN DoExecute(HANDLE_HDR* stmt, const NoArgs&);
SQLRETURN DoNumResultCols(HANDLE_HDR* stmt, const CountArgs& a);
SQLRETURN DoNumParams(HANDLE_HDR* stmt, const CountArgs& a);
SQLRETURN DoRowCount(HANDLE_HDR* stmt, const RowCountArgs& a);
SQLRETURN DoParamOptions(HANDLE_HDR* stmt, const ParamOptionsArgs& a);
SQLRETURN DoMoreResults(HANDLE_HDR* stmt, const NoArgs&);
SQLRETURN DoSetCursorName(HANDLE_HDR* stmt, const SetCursorNameArgs& a);
// SQL_SUCCESS_WITH_INFO (01004) only for a name cut to the buffer; a failure is SQL_ERROR.
SQLRETURN DoGetCursorName(HANDLE_HDR* stmt, const GetCursorNameArgs& a);
// As DoGetCursorName for the translated text; an output size above 32767 counts as 32767.
SQLRETURN DoNativeSql(HANDLE_HDR* conn, const NativeSqlArgs& a);
