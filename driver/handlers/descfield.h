// Descriptor fields: SQLGetDescField(W) and SQLSetDescField(W), and their cores
// DescGetField and DescSetField, which the statement attributes, the descriptor records
// and copies (descrec.h) and the column attributes (colattr.h) use too.
//
// Which field a kind of descriptor has, in which form, and whether it can be set is one
// table (kDescFields in descfield.cpp). Application descriptors (ARD, APD, explicit) answer
// from their records, with the lengths of fixed C types taken from the type; the IRD
// answers from the statement's result-column descriptions and the agent's extended column
// attributes; the IPD from its records. Setting a field of an application descriptor is
// carried into the bindings of every statement that uses it as current ARD or APD; an IPD
// field into the statement's parameter. Setting a record field other than the three
// deferred pointers unbinds the record first (after the value was checked), and a null
// pointer or a smaller count unbinds too, so the driver never writes into a buffer the
// application has let go.
//
// Everything runs inside a call on the descriptor's connection. Failures leave an internal
// code in the descriptor's diagnostics.
#pragma once

#include <sql.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "driver/frame/dispatch.h"
#include "util/dataset.h"

struct CONN;
struct DESC;
struct STMT;

struct GetDescFieldArgs {
    SQLSMALLINT record;
    SQLSMALLINT field;
    SQLPOINTER value;
    SQLINTEGER bufferLength;
    SQLINTEGER* stringLength;
    int width;
    auto TraceFields() const { return std::tuple(record, field, value, bufferLength, stringLength); }
};

struct SetDescFieldArgs {
    SQLSMALLINT record;
    SQLSMALLINT field;
    SQLPOINTER value;
    SQLINTEGER stringLength;
    int width;
    auto TraceFields() const { return std::tuple(record, field, value, stringLength); }
};

// Reads one field into value (numbers at the field's ODBC width: 2, 4 or 8 bytes; pointers
// 8 bytes, which needs a buffer length of at least 8 or SQL_IS_POINTER; texts in the
// width's encoding, counted in bytes). stringLength (may be null) receives the answer's
// length in bytes. SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (01004), SQL_NO_DATA for a record
// above the count, or SQL_ERROR with the code on the descriptor.
SQLRETURN DescGetField(DESC* desc, int record, int field, void* value, SQLLEN bufferLength, SQLLEN* stringLength,
                       int width);

// Sets one field (numbers passed in the pointer-sized value, as ODBC does) and carries it
// into the statements using the descriptor. stringLength counts the bytes of a text value,
// or SQL_NTS. SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (01S02, a rowset size the agent changed)
// or SQL_ERROR; the code is on the descriptor either way.
SQLRETURN DescSetField(DESC* desc, int record, int field, SQLPOINTER value, SQLLEN stringLength, int width);

// An answer about one result column, as the IRD gives it: a number, or a text.
struct ColumnAnswer {
    bool isText = false;
    int64_t number = 0;
    std::string text;
};
// The IRD's answer for descriptor field `field` of the result column described by d
// (column 0: the bookmark column). 0, 26 (S1091) for a field the IRD does not have, or the
// code of a failed look-up in the type catalog (on the connection).
int IrdColumnField(STMT* stmt, const COLDESC& d, uint16_t column, int field, ColumnAnswer* out);

// The bookmark column's description.
const COLDESC& BookmarkColumnDesc();

// One text of the agent's type catalog for an SQL type: column 1 (TYPE_NAME), 4
// (LITERAL_PREFIX) or 5 (LITERAL_SUFFIX). A type the catalog does not list, or a NULL,
// answers "". Asked of the agent once per connection and type, then kept
// (CONN::typeInfoCache). 0, 52 (08003) when not connected, or the agent's code.
int ConnGetTypeInfoCol(CONN* conn, int column, int16_t sqlType, std::string* out);

SQLRETURN DoGetDescField(HANDLE_HDR* desc, const GetDescFieldArgs& a);
SQLRETURN DoSetDescField(HANDLE_HDR* desc, const SetDescFieldArgs& a);
