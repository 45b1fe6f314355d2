// Descriptor records and copies: SQLGetDescRec(W), SQLSetDescRec and SQLCopyDesc, built
// on the single-field cores DescGetField and DescSetField (descfield.h), so that a record
// set or a copy binds, unbinds and derives exactly as setting its fields one by one does.
//
// Everything runs inside a call on the descriptor's connection; failures leave an internal
// code in the descriptor's diagnostics (for a copy, in the target's and the source's).
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

struct GetDescRecArgs {
    SQLSMALLINT record;
    SQLPOINTER name;
    SQLSMALLINT bufferLength;  // bytes, or characters for the wide entry
    SQLSMALLINT* nameLength;
    SQLSMALLINT* type;
    SQLSMALLINT* subType;
    SQLLEN* length;
    SQLSMALLINT* precision;
    SQLSMALLINT* scale;
    SQLSMALLINT* nullable;
    int width;
    auto TraceFields() const {
        return std::tuple(record, name, bufferLength, nameLength, type, subType, length, precision, scale, nullable);
    }
};

struct SetDescRecArgs {
    SQLSMALLINT record;
    SQLSMALLINT type;
    SQLSMALLINT subType;
    SQLLEN length;
    SQLSMALLINT precision;
    SQLSMALLINT scale;
    SQLPOINTER data;
    SQLLEN* stringLength;
    SQLLEN* indicator;
    auto TraceFields() const {
        return std::tuple(record, type, subType, length, precision, scale, data, stringLength, indicator);
    }
};

struct CopyDescArgs {
    SQLHDESC target;
    auto TraceFields() const { return std::tuple(target); }
};

SQLRETURN DoGetDescRec(HANDLE_HDR* desc, const GetDescRecArgs& a);
SQLRETURN DoSetDescRec(HANDLE_HDR* desc, const SetDescRecArgs& a);
// The handle is the source; the target must be a descriptor of the same connection.
SQLRETURN DoCopyDesc(HANDLE_HDR* source, const CopyDescArgs& a);
