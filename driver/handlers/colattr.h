// Column description: SQLDescribeCol(W), SQLColAttribute(W) and the ODBC 2
// SQLColAttributes(W).
//
// The core StmtColAttribute answers the ODBC 2 fields of its own (count, name, length,
// precision, scale, nullability) and hands every other field to the IRD's answer
// (IrdColumnField, descfield.h), so that SQLColAttribute, SQLColAttributes and
// SQLGetDescField on the IRD always agree. Column 0 is the bookmark column while bookmarks
// are on; SQLColAttribute answers it even before the statement is prepared.
//
// Everything runs inside a call on the statement's connection; failures leave an internal
// code on the statement.
#pragma once

#include <sql.h>

#include <tuple>

#include "driver/frame/dispatch.h"

struct STMT;

struct ColAttributeArgs {
    SQLUSMALLINT column;
    SQLUSMALLINT field;
    SQLPOINTER text;
    SQLSMALLINT bufferLength;  // bytes
    SQLSMALLINT* textLength;
    SQLLEN* number;
    int width;
    auto TraceFields() const { return std::tuple(column, field, text, bufferLength, textLength, number); }
};

struct DescribeColArgs {
    SQLUSMALLINT column;
    SQLPOINTER name;
    SQLSMALLINT bufferLength;  // bytes, or characters for the wide entry
    SQLSMALLINT* nameLength;
    SQLSMALLINT* sqlType;
    SQLULEN* columnSize;
    SQLSMALLINT* digits;
    SQLSMALLINT* nullable;
    int width;
    auto TraceFields() const {
        return std::tuple(column, name, bufferLength, nameLength, sqlType, columnSize, digits, nullable);
    }
};

// One attribute of result column `column`: field is an ODBC 2 field number (0 to 18) or
// any ODBC 3 descriptor field the IRD has. SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (01004) or
// SQL_ERROR: 22 (S1010) before the statement is prepared, 25 (S1090) for a negative buffer
// length, 17 (S1002) for a column out of range, 26 (S1091) for an unknown field.
SQLRETURN StmtColAttribute(STMT* stmt, uint16_t column, int field, void* text, SQLSMALLINT bufferLength,
                           SQLSMALLINT* textLength, SQLLEN* number, int width);

SQLRETURN DoColAttribute(HANDLE_HDR* stmt, const ColAttributeArgs& a);
SQLRETURN DoColAttributes(HANDLE_HDR* stmt, const ColAttributeArgs& a);
SQLRETURN DoDescribeCol(HANDLE_HDR* stmt, const DescribeColArgs& a);
