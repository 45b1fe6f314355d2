// A scripted agent for the dataset cache and static result set tests: an operation table
// whose only slot, 19 (DRV_Fetch), hands out a generated result of total rows: column 0
// an i32 holding the row number, column 1 a VARCHAR32 of "row<n>", NULL on every 7th row.
// A fetch may be made to fail at a given call, and a hook runs at every call.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "drv_pro9/oa_optable.h"
#include "util/dataset.h"
#include "util/utheap.h"

namespace dscfake {

struct Script {
    int32_t total = 0;            // rows of the result
    int32_t served = 0;           // rows handed out so far
    int calls = 0;
    int failAtCall = 0;           // 1-based call that answers failCode; 0 never
    int failCode = 0;
    bool longText = false;        // the text as a long value the dataset owns per row
    std::function<void()> onFetch;
};

inline Script& Current() {
    static Script s;
    return s;
}

inline std::string Text(int32_t row) { return "row" + std::to_string(row); }

inline int Fetch(uint32_t, uint16_t rows, DATASET* block) {
    Script& s = Current();
    ++s.calls;
    if (s.onFetch)
        s.onFetch();
    if (s.failAtCall == s.calls)
        return s.failCode;
    ds_Free(block);
    if (ds_Init(block, 2) != 0)
        return 16;
    block->cols[0] = DATASET_COL{DS_SLONG, 4, nullptr, nullptr};
    block->cols[1] = s.longText ? DATASET_COL{DS_LONGCHAR, sizeof(DS_REFVAL), nullptr, nullptr}
                                : DATASET_COL{DS_VARCHAR32, 24, nullptr, nullptr};
    block->colsUsed = 2;
    int32_t n = std::min<int32_t>(rows, s.total - s.served);
    if (ds_AllocRows(block, rows) != 0)
        return 16;
    for (int32_t i = 0; i < n; ++i) {
        int32_t r = s.served + i;
        std::memcpy(ds_Elem(&block->cols[0], i), &r, 4);
        block->cols[0].indicators[i] = 0;
        if (r % 7 == 6)
            continue;  // NULL
        std::string t = Text(r);
        auto len = static_cast<uint32_t>(t.size());
        unsigned char* e = ds_Elem(&block->cols[1], i);
        if (s.longText) {
            DS_REFVAL ref{len, uh_Malloc(t.size() + 1)};
            if (ref.data == nullptr)
                return 16;
            std::memcpy(ref.data, t.c_str(), t.size() + 1);
            std::memcpy(e, &ref, sizeof ref);
        } else {
            std::memcpy(e, &len, 4);
            std::memcpy(e + 4, t.data(), t.size());
        }
        block->cols[1].indicators[i] = 0;
    }
    block->rowsUsed = n;
    s.served += n;
    return 0;
}

// A fresh script of total rows and the table that serves it.
inline const OA_OPTABLE* Agent(int32_t total) {
    Current() = Script{};
    Current().total = total;
    static OA_OPTABLE table = [] {
        OA_OPTABLE t{};
        t.DRV_Fetch = Fetch;
        return t;
    }();
    return &table;
}

// Row i of ds holds cached row r of the generated result.
inline ::testing::AssertionResult HoldsRow(const DATASET* ds, int32_t i, int32_t r) {
    int32_t v;
    std::memcpy(&v, ds_Elem(&ds->cols[0], i), 4);
    if (ds->cols[0].indicators[i] != 0 || v != r)
        return ::testing::AssertionFailure() << "row " << i << " holds " << v << ", not " << r;
    if (r % 7 == 6)
        return ds->cols[1].indicators[i] == DS_IND_NULL
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "row " << i << " text not NULL";
    uint32_t len;
    const unsigned char* e = ds_Elem(&ds->cols[1], i);
    std::string t;
    if (ds->cols[1].type == DS_LONGCHAR) {
        DS_REFVAL ref;
        std::memcpy(&ref, e, sizeof ref);
        t.assign(static_cast<const char*>(ref.data), ref.length);
    } else {
        std::memcpy(&len, e, 4);
        t.assign(reinterpret_cast<const char*>(e + 4), len);
    }
    if (ds->cols[1].indicators[i] != 0 || t != Text(r))
        return ::testing::AssertionFailure() << "row " << i << " text " << t << ", not " << Text(r);
    return ::testing::AssertionSuccess();
}

}  // namespace dscfake
