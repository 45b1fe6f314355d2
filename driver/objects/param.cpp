// Parameter bindings.
#include "driver/objects/param.h"

#include "driver/exec/convert/valtypes.h"
#include "driver/frame/trace.h"
#include "driver/objects/desc.h"
#include "driver/objects/envr.h"
#include "driver/objects/stmt.h"
#include "util/errcode.h"

namespace {

// SQL types whose decimal digits are fraction digits of a second, which cannot be
// negative.
bool HasFractionDigits(int16_t sqlType) {
    switch (sqlType) {
    case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP:
    case SQL_INTERVAL_SECOND: case SQL_INTERVAL_DAY_TO_SECOND:
    case SQL_INTERVAL_HOUR_TO_SECOND: case SQL_INTERVAL_MINUTE_TO_SECOND:
        return true;
    default:
        return false;
    }
}

// The IPD record's size and digits, in the fields that keep them for the SQL type.
void SetIpdSize(DESCREC* ipd, int16_t sqlType, SQLULEN columnSize, int16_t digits) {
    switch (sqlType) {
    case SQL_CHAR: case SQL_VARCHAR: case SQL_LONGVARCHAR: case SQL_TYPE_DATE: case SQL_DATE:
    case SQL_BINARY: case SQL_VARBINARY: case SQL_LONGVARBINARY:
    case SQL_WCHAR: case SQL_WVARCHAR: case SQL_WLONGVARCHAR: case SQL_GUID:
    case SQL_INTERVAL_YEAR: case SQL_INTERVAL_MONTH: case SQL_INTERVAL_DAY: case SQL_INTERVAL_HOUR:
    case SQL_INTERVAL_MINUTE: case SQL_INTERVAL_YEAR_TO_MONTH: case SQL_INTERVAL_DAY_TO_HOUR:
    case SQL_INTERVAL_DAY_TO_MINUTE: case SQL_INTERVAL_HOUR_TO_MINUTE:
        ipd->length = columnSize;
        break;
    case SQL_NUMERIC: case SQL_DECIMAL:
        ipd->precision = static_cast<int16_t>(columnSize);
        ipd->scale = digits;
        break;
    case SQL_TYPE_TIME: case SQL_TYPE_TIMESTAMP: case SQL_INTERVAL_SECOND: case SQL_INTERVAL_DAY_TO_SECOND:
    case SQL_INTERVAL_HOUR_TO_SECOND: case SQL_INTERVAL_MINUTE_TO_SECOND:
    case SQL_TIME: case SQL_TIMESTAMP:  // ODBC 2 codes, kept where a descriptor applied again reads them
        ipd->length = columnSize;
        ipd->precision = digits;
        break;
    case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
        ipd->precision = static_cast<int16_t>(columnSize);
        break;
    default:
        break;
    }
}

}  // namespace

SQLLEN ParamCTypeSize(int16_t cType) {
    if (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY)
        return SQL_NTS;
    return CTypeOctetLength(cType);
}

SQLRETURN StmtBindParam(STMT* stmt, uint16_t number, int16_t paramType, int16_t cType, int16_t sqlType,
                        SQLULEN columnSize, int16_t digits, void* data, SQLLEN bufferLength, SQLLEN* indicator,
                        SQLLEN* octetLength) {
    stmt->diag.errCode = 0;
    if (data == nullptr && octetLength == nullptr && paramType != SQL_PARAM_OUTPUT) {
        stmt->diag.errCode = ERR_INVALID_ARGUMENT_VALUE;
        return SQL_ERROR;
    }
    if (digits < 0 && HasFractionDigits(sqlType)) {
        stmt->diag.errCode = ERR_INVALID_SCALE_VALUE;
        return SQL_ERROR;
    }
    if (cType == SQL_C_DEFAULT) {
        const int32_t version = static_cast<int32_t>(stmt->conn->envr->odbcVersion);
        // ODBC 2 applications know no wide C type: their wide parameters travel as text.
        const bool wide = sqlType == SQL_WCHAR || sqlType == SQL_WVARCHAR || sqlType == SQL_WLONGVARCHAR;
        cType = version == SQL_OV_ODBC2 && wide ? SQL_C_CHAR : DefaultCType(sqlType, version);
    }
    const SQLLEN size = ParamCTypeSize(cType);
    if (size == 0) {
        stmt->diag.errCode = ERR_RESTRICTED_DATATYPE_ATTRIBUTE_VIOLATION;
        return SQL_ERROR;
    }

    const int16_t storedType = bufferLength == SQL_SETPARAM_VALUE_MAX ? SQL_PARAM_INPUT : paramType;
    if (TraceIsOn())  // an application binding before every execution pays no call for the line
        TraceLog("Par#%d c_type=%d sql_type=%d prec=%ld scale=%d size=%d cbValueMax=%d", number, cType, sqlType,
                 static_cast<long>(columnSize), digits, static_cast<int>(size), static_cast<int>(bufferLength));
    PARAMREC* bound = StmtGetParam(stmt, number);
    if (bound != nullptr && bound->number == number && bound->cType == cType && bound->sqlType == sqlType &&
        bound->columnSize == columnSize && bound->scale == digits && bound->bufferLength == bufferLength &&
        bound->paramType == storedType && bound->pieces.empty()) {
        // Bound again as it is but for the buffers, as an application moving along its
        // arrays binds before every execution: only they change, and the agent's view of
        // the parameter stays (StmtSetParam would find nothing new).
        bound->data = data;
        bound->indicator = indicator;
        bound->octetLength = octetLength;
    } else {
        PARAMREC p;
        p.number = number;
        p.cType = cType;
        p.sqlType = sqlType;
        p.columnSize = columnSize;
        p.scale = digits;
        p.data = data;
        p.indicator = indicator;
        p.octetLength = octetLength;
        p.fixedCSize = size;
        p.bufferLength = bufferLength;
        p.paramType = storedType;
        if (StmtSetParam(stmt, std::move(p)) != 0)
            return SQL_ERROR;
    }

    // The APD and the IPD may have been given other counts (SQLSetDescField): each grows
    // on its own, so that neither record is read beyond its descriptor.
    DescGrowRecs(stmt->apd, number);
    DescGrowRecs(stmt->ipd, number);
    DESCREC* apd = DescGetRec(stmt->apd, number);
    apd->conciseType = cType;
    apd->type = DescVerboseType(cType);
    apd->data = data;
    apd->indicator = indicator;
    apd->octetLengthPtr = octetLength;
    apd->octetLength = bufferLength;  // a descriptor applied again binds the same buffer
    DESCREC* ipd = DescGetRec(stmt->ipd, number);
    ipd->conciseType = sqlType;
    ipd->type = DescVerboseType(sqlType);
    ipd->paramType = storedType;
    SetIpdSize(ipd, sqlType, columnSize, digits);
    return SQL_SUCCESS;
}
