// SQLGetFunctions.
#include "driver/handlers/functions.h"

#include <sqlext.h>

#include <array>
#include <cstring>

namespace {

constexpr size_t kListSize = 100;

struct FunctionTables {
    std::array<SQLUSMALLINT, kListSize> list{};                            // ODBC 2 ids
    std::array<SQLUSMALLINT, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE> bitmap{};  // every id
};

constexpr FunctionTables MakeTables() {
    FunctionTables t;
    auto add = [&t](int id) {
        if (id < static_cast<int>(kListSize))
            t.list[id] = SQL_TRUE;
        t.bitmap[id >> 4] = static_cast<SQLUSMALLINT>(t.bitmap[id >> 4] | (1u << (id & 0xF)));
    };
#define VARNO_EXPORTED_API(name, id) add(id);
#include "export_api_ids.inc"
#undef VARNO_EXPORTED_API
    return t;
}

constexpr FunctionTables kTables = MakeTables();

}  // namespace

SQLRETURN DoGetFunctions(HANDLE_HDR*, const GetFunctionsArgs& a) {
    auto id = a.function;
    auto* result = a.supported;
    if (result == nullptr)
        return SQL_SUCCESS;
    if (id == SQL_API_ALL_FUNCTIONS) {
        std::memcpy(result, kTables.list.data(), sizeof kTables.list);
    } else if (id == SQL_API_ODBC3_ALL_FUNCTIONS) {
        std::memcpy(result, kTables.bitmap.data(), sizeof kTables.bitmap);
    } else if (id < kListSize) {
        *result = kTables.list[id];
    } else if (id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16) {
        *result = SQL_FUNC_EXISTS(kTables.bitmap.data(), id);
    } else {
        *result = SQL_FALSE;
    }
    return SQL_SUCCESS;
}
