// The SQLDA of the ESQL-92 client stand-in: allocation, the typed attribute getters and
// setters, and the helpers the back-ends use to describe into an SQLDA and read its columns.
// Every attribute has one value type; a getter or setter of another type, an unknown code or
// a column out of range answers an error in the SQLCA and changes nothing.
#include <atomic>
#include <new>

#include "platform/esql92/internal.h"

namespace {

// Generations are unique in the process, so that an SQLDA freed and another allocated at
// its address never look the same to a cursor that kept what it read of the first.
std::atomic<uint64_t> gGeneration{1};

void touch(PRO_SQLDA* sqlda) { sqlda->generation = gGeneration.fetch_add(1, std::memory_order_relaxed); }

// Sets a column attribute; the area's generation moves on only when the value changes.
template <class T, class U>
void assign(PRO_SQLDA* sqlda, T& field, U value) {
    if (field != static_cast<T>(value)) {
        field = static_cast<T>(value);
        touch(sqlda);
    }
}

constexpr uint32_t kSqldaMagic = 0x5344A041;
constexpr uint32_t kMaxColumns = 65535;

enum class VType { U32, I32, I16, Ptr, IntPtr, Text };

struct AttrInfo {
    VType type;
    bool writable;
};

bool daAttr(int attribute, AttrInfo& info) {
    switch (attribute) {
    case ESQL_DA_ALLOCATED: info = {VType::U32, false}; return true;
    case ESQL_DA_COUNT: info = {VType::U32, true}; return true;
    case ESQL_DA_KIND: info = {VType::U32, false}; return true;
    case ESQL_DA_ROWS: info = {VType::U32, true}; return true;
    case ESQL_DA_ROWS_BEFORE: info = {VType::U32, true}; return true;
    case ESQL_DA_ROWS_TOTAL: info = {VType::U32, true}; return true;
    default: return false;
    }
}

bool colAttr(int attribute, AttrInfo& info) {
    switch (attribute) {
    case ESQL_COL_DATA: info = {VType::Ptr, true}; return true;
    case ESQL_COL_LENGTH: info = {VType::U32, true}; return true;
    case ESQL_COL_TYPE: info = {VType::I32, true}; return true;
    case ESQL_COL_PRECISION: info = {VType::U32, true}; return true;
    case ESQL_COL_SCALE: info = {VType::I16, true}; return true;
    case ESQL_COL_INDICATOR: info = {VType::IntPtr, true}; return true;
    case ESQL_COL_NAME: info = {VType::Text, false}; return true;
    case ESQL_COL_NULLABLE: info = {VType::I16, false}; return true;
    case ESQL_COL_UPDATABLE: info = {VType::I16, false}; return true;
    case ESQL_COL_DIRECTION: info = {VType::I16, true}; return true;
    default: return false;
    }
}

// Common checks of an attribute call; returns the column (null for DA calls) or posts.
bool checkCall(PRO_SQLDA* da, bool column, int attribute, uint32_t col, VType type, bool set,
               void* out, esql::Outcome& o, esql::SqldaColumn** c) {
    if (!esql::checkSqlda(da, -1, o))
        return false;
    if (!set && out == nullptr) {
        esql::failWith(o, ESQL_ERR_NULL_ARGUMENT, "null pointer for the attribute value");
        return false;
    }
    AttrInfo info;
    bool known = column ? colAttr(attribute, info) : daAttr(attribute, info);
    if (!known) {
        esql::failWith(o, ESQL_ERR_ATTRIBUTE, "unknown SQLDA attribute " + std::to_string(attribute));
        return false;
    }
    if (info.type != type) {
        esql::failWith(o, ESQL_ERR_ATTRIBUTE,
                       "SQLDA attribute " + std::to_string(attribute) + " has another value type");
        return false;
    }
    if (set && !info.writable) {
        esql::failWith(o, ESQL_ERR_ATTRIBUTE, "SQLDA attribute " + std::to_string(attribute) + " is read only");
        return false;
    }
    if (column) {
        if (col < 1 || col > da->columns.size()) {
            esql::failWith(o, ESQL_ERR_COLUMN_INDEX, "SQLDA column " + std::to_string(col) + " out of range 1.." +
                                                         std::to_string(da->columns.size()));
            return false;
        }
        *c = &da->columns[col - 1];
    }
    return true;
}

int finish(ESQL_SQLCA* sqlca, esql::Outcome& o) { return esql::report(sqlca, o); }

}  // namespace

namespace esql {

bool checkSqlda(const PRO_SQLDA* sqlda, int kind, Outcome& o) {
    if (sqlda == nullptr) {
        failWith(o, ESQL_ERR_NULL_ARGUMENT, "null SQLDA");
        return false;
    }
    if (sqlda->magic != kSqldaMagic) {
        failWith(o, ESQL_ERR_SQLDA_KIND, "not an SQLDA");
        return false;
    }
    if (kind >= 0 && sqlda->kind != kind) {
        failWith(o, ESQL_ERR_SQLDA_KIND,
                 kind == ESQL_SQLDA_OUTPUT ? "an input SQLDA where an output SQLDA is needed"
                                           : "an output SQLDA where an input SQLDA is needed");
        return false;
    }
    return true;
}

void fillSqlda(PRO_SQLDA* sqlda, const std::vector<ColumnDesc>& columns) {
    touch(sqlda);
    if (columns.size() > sqlda->columns.size()) {
        sqlda->count = -static_cast<int32_t>(columns.size());
        return;
    }
    sqlda->count = static_cast<int32_t>(columns.size());
    for (size_t k = 0; k < columns.size(); ++k) {
        const ColumnDesc& d = columns[k];
        SqldaColumn& c = sqlda->columns[k];
        c.name = d.name;
        c.type = d.type;
        c.length = d.length;
        c.precision = d.precision;
        c.scale = d.scale;
        c.nullable = d.nullable;
        c.updatable = d.updatable;
        c.direction = 1;
    }
}

int32_t sqldaCount(const PRO_SQLDA* sqlda) { return sqlda->count; }
uint32_t sqldaRows(const PRO_SQLDA* sqlda) { return sqlda->rows == 0 ? 1 : sqlda->rows; }
uint32_t sqldaAllocated(const PRO_SQLDA* sqlda) { return static_cast<uint32_t>(sqlda->columns.size()); }
SqldaColumn* sqldaColumns(PRO_SQLDA* sqlda) { return sqlda->columns.data(); }
uint64_t sqldaGeneration(const PRO_SQLDA* sqlda) { return sqlda->generation; }

}  // namespace esql

extern "C" {

PRO_SQLDA* PRO_SQLDA_Allocate(uint32_t columns, int kind) {
    if ((kind != ESQL_SQLDA_INPUT && kind != ESQL_SQLDA_OUTPUT) || columns > kMaxColumns)
        return nullptr;
    try {
        auto* da = new pro_sqlda;
        da->magic = kSqldaMagic;
        da->kind = kind;
        da->count = 0;
        da->rows = 1;
        da->columns.resize(columns);
        touch(da);
        return da;
    } catch (...) {
        return nullptr;
    }
}

void PRO_SQLDA_Deallocate(PRO_SQLDA* sqlda) {
    if (sqlda == nullptr || sqlda->magic != kSqldaMagic)
        return;
    sqlda->magic = 0;
    delete sqlda;
}

int PRO_SQLDA_Get_DA_Attribute_dh_u32_t(PRO_SQLDA* da, int attribute, uint32_t* value, ESQL_SQLCA* sqlca) {
    esql::Outcome o;
    if (checkCall(da, false, attribute, 0, VType::U32, false, value, o, nullptr)) {
        switch (attribute) {
        case ESQL_DA_ALLOCATED: *value = static_cast<uint32_t>(da->columns.size()); break;
        case ESQL_DA_COUNT: *value = static_cast<uint32_t>(da->count); break;
        case ESQL_DA_KIND: *value = static_cast<uint32_t>(da->kind); break;
        case ESQL_DA_ROWS: *value = da->rows; break;
        case ESQL_DA_ROWS_BEFORE: *value = da->rowsBefore; break;
        case ESQL_DA_ROWS_TOTAL: *value = da->rowsTotal; break;
        }
    }
    return finish(sqlca, o);
}

int PRO_SQLDA_Set_DA_Attribute_dh_u32_t(PRO_SQLDA* da, int attribute, uint32_t value, ESQL_SQLCA* sqlca) {
    esql::Outcome o;
    if (checkCall(da, false, attribute, 0, VType::U32, true, nullptr, o, nullptr)) {
        if (attribute == ESQL_DA_COUNT) {
            auto count = static_cast<int32_t>(value);
            if (count < 0 || static_cast<uint32_t>(count) > da->columns.size())
                esql::failWith(o, ESQL_ERR_COLUMN_INDEX, "column count " + std::to_string(count) +
                                                             " outside the SQLDA");
            else
                da->count = count;
        } else if (attribute == ESQL_DA_ROWS_BEFORE) {
            da->rowsBefore = value;
        } else if (attribute == ESQL_DA_ROWS_TOTAL) {
            da->rowsTotal = value;
        } else {
            da->rows = value;
        }
    }
    return finish(sqlca, o);
}

#define GETTER(suffix, ctype, vtype, expr)                                                       \
    int PRO_SQLDA_Get_Col_Attribute_##suffix(PRO_SQLDA* da, int attribute, uint32_t column,      \
                                             ctype* value, ESQL_SQLCA* sqlca) {                  \
        esql::Outcome o;                                                                         \
        esql::SqldaColumn* c = nullptr;                                                          \
        if (checkCall(da, true, attribute, column, vtype, false, value, o, &c))                 \
            *value = expr;                                                                       \
        return finish(sqlca, o);                                                                 \
    }

GETTER(dh_i32_t, int32_t, VType::I32, c->type)
GETTER(dh_u32_t, uint32_t, VType::U32, attribute == ESQL_COL_LENGTH ? c->length : c->precision)
GETTER(dh_i16_t, int16_t, VType::I16,
       attribute == ESQL_COL_SCALE      ? c->scale
       : attribute == ESQL_COL_NULLABLE ? c->nullable
       : attribute == ESQL_COL_UPDATABLE ? c->updatable
                                         : c->direction)
GETTER(void_p, void*, VType::Ptr, c->data)
GETTER(dh_i32_t_p, int32_t*, VType::IntPtr, c->indicator)
GETTER(char_p, const char*, VType::Text, c->name.c_str())
#undef GETTER

#define SETTER(suffix, ctype, vtype, stmt)                                                       \
    int PRO_SQLDA_Set_Col_Attribute_##suffix(PRO_SQLDA* da, int attribute, uint32_t column,      \
                                             ctype value, ESQL_SQLCA* sqlca) {                   \
        esql::Outcome o;                                                                         \
        esql::SqldaColumn* c = nullptr;                                                          \
        if (checkCall(da, true, attribute, column, vtype, true, nullptr, o, &c)) {              \
            stmt;                                                                                \
        }                                                                                        \
        return finish(sqlca, o);                                                                 \
    }

SETTER(dh_i32_t, int32_t, VType::I32, assign(da, c->type, value))
SETTER(dh_u32_t, uint32_t, VType::U32,
       assign(da, attribute == ESQL_COL_LENGTH ? c->length : c->precision, value))
SETTER(dh_i16_t, int16_t, VType::I16, assign(da, attribute == ESQL_COL_SCALE ? c->scale : c->direction, value))
SETTER(void_p, void*, VType::Ptr, assign(da, c->data, value))
SETTER(dh_i32_t_p, int32_t*, VType::IntPtr, assign(da, c->indicator, value))
#undef SETTER

}  // extern "C"
