// Environment attributes.
#pragma once

#include <tuple>

#include "driver/frame/dispatch.h"

// SQLSetEnvAttr: the value is an integer carried in the pointer.
struct SetEnvAttrArgs {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLINTEGER stringLength;
    auto TraceFields() const { return std::tuple(attribute, value, stringLength); }
};
// Always SQL_SUCCESS: a value outside the attribute's range is ignored.
SQLRETURN DoSetEnvAttr(HANDLE_HDR* envr, const SetEnvAttrArgs& a);

struct GetEnvAttrArgs {
    SQLINTEGER attribute;
    SQLPOINTER value;
    SQLINTEGER bufferLength;
    SQLINTEGER* stringLength;
    auto TraceFields() const { return std::tuple(attribute, value, bufferLength, stringLength); }
};
// Always SQL_SUCCESS.
SQLRETURN DoGetEnvAttr(HANDLE_HDR* envr, const GetEnvAttrArgs& a);
