// Handlers of the fetch calls: SQLFetch, SQLFetchScroll, SQLExtendedFetch and SQLGetData,
// over the forward fetch of driver/exec/fetch.h.
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

struct FetchScrollArgs {
    SQLSMALLINT orientation;
    SQLLEN offset;
    auto TraceFields() const { return std::tuple(orientation, offset); }
};

struct ExtendedFetchArgs {
    SQLUSMALLINT orientation;
    SQLLEN row;
    SQLULEN* rowsFetched;
    SQLUSMALLINT* rowStatus;
    auto TraceFields() const { return std::tuple(orientation, row, rowsFetched, rowStatus); }
};

struct GetDataArgs {
    SQLUSMALLINT column;
    SQLSMALLINT cType;
    SQLPOINTER value;
    SQLLEN bufferLength;
    SQLLEN* indicator;
    auto TraceFields() const { return std::tuple(column, cType, value, bufferLength, indicator); }
};

struct SetPosArgs {
    SQLSETPOSIROW row;
    SQLUSMALLINT operation;
    SQLUSMALLINT lock;
    auto TraceFields() const { return std::tuple(row, operation, lock); }
};

// An ODBC 2 application fetches one row into its bound columns; an ODBC 3 one fetches the
// next rowset (SQLFetchScroll with SQL_FETCH_NEXT).
SQLRETURN DoFetch(HANDLE_HDR* stmt, const NoArgs&);
SQLRETURN DoFetchScroll(HANDLE_HDR* stmt, const FetchScrollArgs& a);
SQLRETURN DoExtendedFetch(HANDLE_HDR* stmt, const ExtendedFetchArgs& a);
SQLRETURN DoGetData(HANDLE_HDR* stmt, const GetDataArgs& a);
// A positioned operation on the current rowset (StmtSetPos).
SQLRETURN DoSetPos(HANDLE_HDR* stmt, const SetPosArgs& a);

struct BulkOperationsArgs {
    SQLSMALLINT operation;
    auto TraceFields() const { return std::tuple(operation); }
};
// SQLBulkOperations (StmtBulkOperations).
SQLRETURN DoBulkOperations(HANDLE_HDR* stmt, const BulkOperationsArgs& a);
