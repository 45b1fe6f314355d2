// A scripted agent's execution slots (12 values, 13 execute, 18 descriptions, 19 the
// output row, 43 the combined call) for tests of the ODBC side's execution: each call is
// recorded with what it was given; the datasets handed over are taken as the agent takes
// them, and kept for the test to read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drv_pro9/oa_exec.h"
#include "util/dataset.h"
#include "util/utheap.h"

namespace exec_fixture {

struct ExecScript {
    std::vector<std::string> calls;           // "Values", "Descs n", "Execute", "Execute2 n", "Fetch"
    std::vector<DatasetPtr> values;           // every dataset handed over, in order
    std::vector<std::vector<PARAM_DESC>> descs;
    // Codes of the executions in order; once they run out an execution answers 102 when a
    // cell of its values is pending, else 0.
    std::vector<int> executeCodes;
    DatasetPtr outRow;                        // what slot 19 hands out (moved), or nothing
    int fetchRc = 0;
};

inline ExecScript* g_exec = nullptr;

inline int ExecAnswer() {
    ExecScript& s = *g_exec;
    if (!s.executeCodes.empty()) {
        int rc = s.executeCodes.front();
        s.executeCodes.erase(s.executeCodes.begin());
        return rc;
    }
    const DATASET* ds = s.values.empty() ? nullptr : s.values.back().get();
    for (uint16_t c = 0; ds != nullptr && c < ds->colsUsed; ++c)
        for (int32_t r = 0; r < ds->rowsUsed; ++r)
            if (ds->cols[c].indicators[r] == DS_IND_DATA_AT_EXEC)
                return 102;
    return 0;
}

inline void TakeValues(DATASET* values) {
    if (values != nullptr && (g_exec->values.empty() || g_exec->values.back().get() != values))
        g_exec->values.emplace_back(values);
}

inline int FakeSetParamValues(uint32_t, DATASET* values) {
    g_exec->calls.push_back("Values");
    TakeValues(values);
    return 0;
}
inline int FakeSetParamDescs(uint32_t, uint16_t count, const PARAM_DESC* descs) {
    g_exec->calls.push_back("Descs " + std::to_string(count));
    g_exec->descs.emplace_back(descs, descs + count);
    return 0;
}
inline int FakeExecute(uint32_t) {
    g_exec->calls.push_back("Execute");
    return ExecAnswer();
}
inline int FakePrepareAndExecute(uint32_t, const char* text, DATASET* values, uint16_t count,
                                 const PARAM_DESC* descs) {
    g_exec->calls.push_back(std::string("Execute2 ") + std::to_string(count) + (text != nullptr ? " text" : "") +
                            (values != nullptr ? " values" : ""));
    TakeValues(values);
    if (count != 0)
        g_exec->descs.emplace_back(descs, descs + count);
    return ExecAnswer();
}
inline int FakeFetch(uint32_t, uint16_t rows, DATASET* block) {
    g_exec->calls.push_back("Fetch " + std::to_string(rows));
    if (g_exec->fetchRc != 0)
        return g_exec->fetchRc;
    if (g_exec->outRow != nullptr) {
        ds_Free(block);
        *block = *g_exec->outRow;
        uh_Free(g_exec->outRow.release());
    }
    return 0;
}

inline void AddExecSlots(OA_OPTABLE* t) {
    t->DRV_SetParamValues = FakeSetParamValues;
    t->DRV_SetParamDescs = FakeSetParamDescs;
    t->DRV_Execute = FakeExecute;
    t->DRV_PrepareAndExecute = FakePrepareAndExecute;
    t->DRV_Fetch = FakeFetch;
}

}  // namespace exec_fixture
