// Parameter bindings as SQLBindParameter makes them: the statement's PARAMREC with the
// current APD's and the IPD's records, used by SQLBindParameter, by an application
// parameter descriptor made current and by the descriptor fields; and the marks of a
// value given at execution.
//
// Runs inside a call on the statement's connection; failures leave an internal code in
// stmt->diag.errCode.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

struct STMT;

// Binds parameter number (1 to 1024): checks the arguments, resolves SQL_C_DEFAULT for
// the environment's ODBC version, stores the PARAMREC and writes record number of the
// current APD (C type, data, indicator, octet-length pointer, buffer length) and of the
// IPD (SQL type, parameter type, size and digits where the SQL type keeps them), growing
// each descriptor on its own to number. SQL_SUCCESS, or SQL_ERROR with 21 (S1009: no
// data and no length buffer for a parameter that is not output), 29 (S1094: negative
// digits for a type with fraction digits), 49 (07006: no such C type) or StmtSetParam's
// code.
SQLRETURN StmtBindParam(STMT* stmt, uint16_t number, int16_t paramType, int16_t cType, int16_t sqlType,
                        SQLULEN columnSize, int16_t digits, void* data, SQLLEN bufferLength, SQLLEN* indicator,
                        SQLLEN* octetLength);

// The fixed size of a parameter's C type: SQL_NTS for CHAR, WCHAR and BINARY, else the
// type's octet length; 0 for a type that cannot be bound.
SQLLEN ParamCTypeSize(int16_t cType);

// Whether a length marks a value given at execution (SQL_DATA_AT_EXEC, SQL_LEN_DATA_AT_EXEC(n)).
inline bool IsDataAtExecLength(SQLLEN v) {
    return v == SQL_DATA_AT_EXEC || v <= SQL_LEN_DATA_AT_EXEC_OFFSET;
}
