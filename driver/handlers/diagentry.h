// Handlers of SQLError, SQLGetDiagRec and SQLGetDiagField, for every handle kind. Their
// call records keep the handle's diagnostics, so these read what the failed call left; they
// report their own faults by their result alone and never post a record.
#pragma once

#include <tuple>

#include "driver/frame/dispatch.h"

struct ENVR;
struct CONN;
struct STMT;
struct DESC;

// SQLError and SQLErrorW, on the first handle given of statement, connection, environment.
// Texts in the call's width: the state six bytes or units, the message bufferLength bytes
// or characters.
struct ErrorArgs {
    void* state;
    SQLINTEGER* native;
    void* message;
    SQLSMALLINT bufferLength;
    SQLSMALLINT* textLength;
    int width;
    auto TraceFields() const { return std::tuple(state, native, message, bufferLength, textLength); }
};
SQLRETURN DoError(HANDLE_HDR* h, const ErrorArgs& a);

// SQLGetDiagRec and SQLGetDiagRecW.
struct GetDiagRecArgs {
    SQLSMALLINT recNumber;
    void* state;
    SQLINTEGER* native;
    void* message;
    SQLSMALLINT bufferLength;
    SQLSMALLINT* textLength;
    int width;
    auto TraceFields() const { return std::tuple(recNumber, state, native, message, bufferLength, textLength); }
};
SQLRETURN DoGetDiagRec(HANDLE_HDR* h, const GetDiagRecArgs& a);

// SQLGetDiagField and SQLGetDiagFieldW: text fields in the call's width, lengths in bytes.
struct GetDiagFieldArgs {
    SQLSMALLINT recNumber;
    SQLSMALLINT identifier;
    SQLPOINTER value;
    SQLSMALLINT bufferLength;
    SQLSMALLINT* stringLength;
    int width;
    auto TraceFields() const { return std::tuple(recNumber, identifier, value, bufferLength, stringLength); }
};
SQLRETURN DoGetDiagField(HANDLE_HDR* h, const GetDiagFieldArgs& a);

// Reads one record of the handle into the caller's buffers (see DiagRecordOut) in the
// handle's ODBC version, consuming it in DIAG_MODE_CONSUME. Returns SQL_SUCCESS,
// SQL_SUCCESS_WITH_INFO (message cut), SQL_NO_DATA with state "00000" when there is none,
// or SQL_ERROR with state S1090 (HY090) for a negative buffer length, when nothing is read
// or consumed. Runs where no handler writes the handle's diagnostics.
struct DiagRecordOut {
    void* state = nullptr;
    SQLINTEGER* native = nullptr;
    void* message = nullptr;
    SQLINTEGER bufLen = 0;  // bytes or characters of message
    SQLSMALLINT* length = nullptr;
    int width = WIDTH_NARROW;
};
SQLRETURN GetErrorRec(HANDLE_HDR* h, const DiagRecordOut& out, int mode);

// The same, on the one handle given of statement, connection, environment or descriptor
// (a descriptor is always read in record mode), narrow.
SQLRETURN GetErrorRec(ENVR* envr, CONN* conn, STMT* stmt, DESC* desc, SQLCHAR* state, SQLINTEGER* native,
                      SQLCHAR* message, SQLINTEGER bufLen, SQLSMALLINT* length, int mode);
