// Environment attributes: values outside their range are ignored, never an error.
#include "driver/handlers/envattr.h"

#include <sqlext.h>

#include <cstring>

#include "driver/objects/envr.h"

namespace {

constexpr SQLINTEGER kAttrUnknown1056 = 1056;  // answered with the constant 2

}  // namespace

SQLRETURN DoSetEnvAttr(HANDLE_HDR* h, const SetEnvAttrArgs& a) {
    auto* envr = static_cast<ENVR*>(h);
    SQLINTEGER attr = a.attribute;
    auto value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(a.value));
    switch (attr) {
    case SQL_ATTR_ODBC_VERSION:
        if (value == 2 || value == 3)
            envr->odbcVersion = static_cast<uint32_t>(value);
        break;
    case SQL_ATTR_CONNECTION_POOLING:
        if (value <= 2)
            envr->connectionPooling = static_cast<uint32_t>(value);
        break;
    case SQL_ATTR_CP_MATCH:
        if (value <= 1)
            envr->cpMatch = static_cast<uint32_t>(value);
        break;
    case SQL_ATTR_OUTPUT_NTS:
        if (value <= 1)
            envr->outputNts = static_cast<int32_t>(value);
        break;
    default:
        break;
    }
    return SQL_SUCCESS;
}

SQLRETURN DoGetEnvAttr(HANDLE_HDR* h, const GetEnvAttrArgs& a) {
    auto* envr = static_cast<ENVR*>(h);
    SQLINTEGER attr = a.attribute;
    auto* value = static_cast<SQLUINTEGER*>(a.value);
    if (value == nullptr)
        return SQL_SUCCESS;
    switch (attr) {
    case SQL_ATTR_ODBC_VERSION: *value = envr->odbcVersion; break;
    case SQL_ATTR_CONNECTION_POOLING: *value = envr->connectionPooling; break;
    case SQL_ATTR_CP_MATCH: *value = envr->cpMatch; break;
    case kAttrUnknown1056: *value = 2; break;
    case SQL_ATTR_OUTPUT_NTS: *value = envr->outputNts ? 1 : 0; break;
    default: break;
    }
    return SQL_SUCCESS;
}
