// Fetch calls.
#include "driver/handlers/fetch.h"

#include "driver/exec/execute.h"
#include "driver/exec/fetch.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"

SQLRETURN DoFetch(HANDLE_HDR* h, const NoArgs&) {
    auto* stmt = static_cast<STMT*>(h);
    const ENVR* envr = stmt->conn->envr;
    if (envr != nullptr && envr->odbcVersion == SQL_OV_ODBC2)
        return StmtFetchBound(stmt);
    return StmtFetchScroll(stmt, SQL_FETCH_NEXT, 0);
}

SQLRETURN DoFetchScroll(HANDLE_HDR* h, const FetchScrollArgs& a) {
    return StmtFetchScroll(static_cast<STMT*>(h), a.orientation, a.offset);
}

SQLRETURN DoExtendedFetch(HANDLE_HDR* h, const ExtendedFetchArgs& a) {
    return StmtExtendedFetch(static_cast<STMT*>(h), a.orientation, a.row, a.rowsFetched, a.rowStatus);
}

SQLRETURN DoGetData(HANDLE_HDR* h, const GetDataArgs& a) {
    return StmtGetData(static_cast<STMT*>(h), a.column, a.cType, a.value, a.bufferLength, a.indicator);
}

SQLRETURN DoSetPos(HANDLE_HDR* h, const SetPosArgs& a) {
    return StmtSetPos(static_cast<STMT*>(h), a.row, a.operation, a.lock);
}

SQLRETURN DoBulkOperations(HANDLE_HDR* h, const BulkOperationsArgs& a) {
    // A negative operation is out of range like any other: HY092.
    const auto op = a.operation < 0 ? SQLUSMALLINT{0} : static_cast<SQLUSMALLINT>(a.operation);
    return StmtBulkOperations(static_cast<STMT*>(h), op);
}
