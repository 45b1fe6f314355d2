// Small helpers for the dataset tests: build a dataset of given columns, put values of
// each layout into elements, and read a value back through ds_GetValue.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/utheap.h"

namespace dsfix {

// Makes the module's allocations fail after n more, for the scope of one check.
struct FailAfter {
    explicit FailAfter(long n) { uh_FailAfter(n); }
    ~FailAfter() { uh_FailAfter(-1); }
};

struct Col {
    int32_t type;
    uint32_t width;
};

// A heap dataset with the columns used and the rows allocated (all NULL), rowsUsed set.
inline DatasetPtr Make(std::initializer_list<Col> cols, int32_t rowsAllocated,
                       int32_t rowsUsed = 0) {
    DatasetPtr ds(static_cast<DATASET*>(std::calloc(1, sizeof(DATASET))));
    EXPECT_EQ(ds_Init(ds.get(), static_cast<uint16_t>(cols.size())), 0);
    uint16_t i = 0;
    for (const Col& c : cols) {
        ds->cols[i].type = c.type;
        ds->cols[i].width = c.width;
        ++i;
    }
    ds->colsUsed = i;
    EXPECT_EQ(ds_AllocRows(ds.get(), rowsAllocated), 0);
    ds->rowsUsed = rowsUsed;
    return ds;
}

inline void PutRaw(DATASET* ds, int col, int32_t row, const void* bytes, size_t n,
                   int16_t ind = 0) {
    ASSERT_LE(n, ds->cols[col].width);
    std::memcpy(ds_Elem(&ds->cols[col], row), bytes, n);
    ds->cols[col].indicators[row] = ind;
}

inline void PutI32(DATASET* ds, int col, int32_t row, int32_t v) {
    PutRaw(ds, col, row, &v, sizeof v);
}

// Text after a prefix of the column's kind (18-23: 1, 2 or 4 bytes; 27: a character
// count, the text then given as UCS-2 bytes).
inline void PutPrefixed(DATASET* ds, int col, int32_t row, const std::string& bytes,
                        uint32_t declared) {
    unsigned char* e = ds_Elem(&ds->cols[col], row);
    switch (ds->cols[col].type) {
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        e[0] = static_cast<unsigned char>(declared);
        std::memcpy(e + 1, bytes.data(), bytes.size());
        break;
    case DS_VARCHAR16:
    case DS_VARBINARY16: {
        auto len = static_cast<uint16_t>(declared);
        std::memcpy(e, &len, 2);
        std::memcpy(e + 2, bytes.data(), bytes.size());
        break;
    }
    default: {
        auto len = static_cast<int32_t>(declared);
        std::memcpy(e, &len, 4);
        std::memcpy(e + 4, bytes.data(), bytes.size());
        break;
    }
    }
    ds->cols[col].indicators[row] = 0;
}

// A by-reference value owned by the dataset; for type 26 the bytes are UCS-2.
inline void PutRef(DATASET* ds, int col, int32_t row, const std::string& bytes) {
    DATASET_COL* c = &ds->cols[col];
    DS_REFVAL ref;
    std::memcpy(&ref, ds_Elem(c, row), sizeof ref);
    std::free(ref.data);
    ref.data = std::malloc(bytes.size() + 1);
    std::memcpy(ref.data, bytes.data(), bytes.size());
    ref.length = static_cast<uint32_t>(c->type == DS_LONGWCHAR ? bytes.size() / 2 : bytes.size());
    std::memcpy(ds_Elem(c, row), &ref, sizeof ref);
    c->indicators[row] = 0;
}

inline DS_REFVAL RefAt(const DATASET* ds, int col, int32_t row) {
    DS_REFVAL ref;
    std::memcpy(&ref, ds_Elem(&ds->cols[col], row), sizeof ref);
    return ref;
}

inline void SetNull(DATASET* ds, int col, int32_t row) {
    ds->cols[col].indicators[row] = DS_IND_NULL;
}

// The value's bytes by ds_GetValue; "<NULL>" for a NULL value, "<rc N>" on an error.
inline std::string Value(const DATASET* ds, int col, int32_t row) {
    if (ds->cols[col].indicators[row] == DS_IND_NULL)
        return "<NULL>";
    char buf[512];
    size_t len = sizeof buf;
    int rc = ds_GetValue(ds, col, row, buf, &len);
    if (rc != 0)
        return "<rc " + std::to_string(rc) + ">";
    return std::string(buf, len);
}

// UCS-2 bytes of an ASCII text.
inline std::string Wide(const std::string& ascii) {
    std::string w;
    for (char ch : ascii) {
        w.push_back(ch);
        w.push_back('\0');
    }
    return w;
}

}  // namespace dsfix
