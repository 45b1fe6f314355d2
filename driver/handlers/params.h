// Handlers of the parameter calls: SQLSetParam, SQLBindParameter, SQLDescribeParam, and
// the exchange of values given at execution, SQLParamData and SQLPutData.
//
// The exchange takes one of two roads, by the connection's cn_hasV2DAE: without it the
// driver keeps each value's pieces on the statement (PARAMREC::pieces, BINDCOL::pieces)
// and hands them over when the last SQLParamData runs the deferred step; with it the
// agent names each value (slot 38) and takes each piece at once, converted (slot 39).
// Either road answers S1010 for a call out of turn: no exchange, an exchange of the
// execution's own states, bulk rows on the agent's road.
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

struct SetParamArgs {
    SQLUSMALLINT number;
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLULEN columnSize;
    SQLSMALLINT scale;
    SQLPOINTER data;
    SQLLEN* length;
    auto TraceFields() const { return std::tuple(number, cType, sqlType, columnSize, scale, data, length); }
};

struct BindParameterArgs {
    SQLUSMALLINT number;
    SQLSMALLINT paramType;
    SQLSMALLINT cType;
    SQLSMALLINT sqlType;
    SQLULEN columnSize;
    SQLSMALLINT digits;
    SQLPOINTER data;
    SQLLEN bufferLength;
    SQLLEN* length;
    auto TraceFields() const {
        return std::tuple(number, paramType, cType, sqlType, columnSize, digits, data, bufferLength, length);
    }
};

struct ParamDataArgs {
    SQLPOINTER* token;
    auto TraceFields() const { return std::tuple(token); }
};

struct PutDataArgs {
    SQLPOINTER data;
    SQLLEN length;
    auto TraceFields() const { return std::tuple(data, length); }
};

struct DescribeParamArgs {
    SQLUSMALLINT number;
    SQLSMALLINT* sqlType;
    SQLULEN* columnSize;
    SQLSMALLINT* digits;
    SQLSMALLINT* nullable;
    auto TraceFields() const { return std::tuple(number, sqlType, columnSize, digits, nullable); }
};

// Stores an input parameter in the statement's parameter array only: the APD and IPD
// keep their records.
SQLRETURN DoSetParam(HANDLE_HDR* stmt, const SetParamArgs& a);
SQLRETURN DoBindParameter(HANDLE_HDR* stmt, const BindParameterArgs& a);
// SQL_NEED_DATA with the next value's token (the application's data pointer of that
// parameter, or the bound column's advanced to the row), or the result of the step that
// ends the exchange, which leaves state STMT_DAE_NONE whatever its result.
SQLRETURN DoParamData(HANDLE_HDR* stmt, const ParamDataArgs& a);
// Appends a piece to the current value (driver's road) or sends it (agent's road).
SQLRETURN DoPutData(HANDLE_HDR* stmt, const PutDataArgs& a);
SQLRETURN DoDescribeParam(HANDLE_HDR* stmt, const DescribeParamArgs& a);
