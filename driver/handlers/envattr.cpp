// Environment attributes: values outside their range are ignored, never an error.
#include "driver/handlers/envattr.h"

#include <sqlext.h>

#include <cstring>

#include "driver/objects/handles.h"

namespace {

constexpr SQLINTEGER kAttrUnknown1056 = 1056;  // answered with the constant 2

}  // namespace

SQLRETURN DoSetEnvAttr(void* object, const CallArgs& args) {
    auto* envr = static_cast<ENVR*>(object);
    SQLINTEGER attr = args.get<SQLINTEGER>(0);
    uint64_t value = args.get<uint64_t>(1);
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

SQLRETURN DoGetEnvAttr(void* object, const CallArgs& args) {
    auto* envr = static_cast<ENVR*>(object);
    SQLINTEGER attr = args.get<SQLINTEGER>(0);
    auto* value = args.get<SQLUINTEGER*>(1);
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
