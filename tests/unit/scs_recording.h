// A recording table between the cursor library and the agent: a copy of the agent's own
// table in which the recorded slots write one line per call ("<slot> <texts> rows=<n>"),
// may answer an injected code instead of the agent, and otherwise call the agent. A test
// puts it behind the library's agent holder (SCR_SetAgentTable) for as long as it lives.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "drv_pro9/oa_optable.h"
#include "scrs/scr_hook.h"
#include "util/dataset.h"

namespace scstest {

struct Recording {
    std::vector<std::string> calls;
    std::map<int, int> failures;  // slot -> code answered in place of the agent
    OA_OPTABLE agent = OA_AgentOpTable;  // what the recorded slots call
    // The calls of one slot, in order.
    std::vector<std::string> Of(int slot) const {
        std::vector<std::string> out;
        const std::string prefix = std::to_string(slot);
        for (const std::string& c : calls)
            if (c == prefix || c.rfind(prefix + " ", 0) == 0)
                out.push_back(c);
        return out;
    }
};
inline Recording* g_recording = nullptr;

template <typename T>
inline void Describe(std::string&, T) {}
inline void Describe(std::string& line, const char* text) { line += std::string(" ") + (text ? text : "(null)"); }
inline void Describe(std::string& line, DATASET* ds) {
    if (ds != nullptr)
        line += " rows=" + std::to_string(ds->rowsUsed);
}

template <typename Fn>
struct Recorder;
template <typename... A>
struct Recorder<int (*)(A...)> {
    template <int Slot, auto Member>
    static int Call(A... a) {
        std::string line = std::to_string(Slot);
        (Describe(line, a), ...);
        g_recording->calls.push_back(line);
        if (auto f = g_recording->failures.find(Slot); f != g_recording->failures.end())
            return f->second;
        return (g_recording->agent.*Member)(a...);
    }
};

#define SCSTEST_RECORD(table, n, slot)                                                           \
    (table).slot = OA_AgentOpTable.slot != nullptr                                               \
                       ? &Recorder<decltype(OA_OPTABLE::slot)>::template Call<n, &OA_OPTABLE::slot> \
                       : nullptr

// Installs itself behind the library while it lives.
class RecordingTable {
public:
    RecordingTable() {
        table_ = OA_AgentOpTable;
        SCSTEST_RECORD(table_, 5, DRV_Connect);
        SCSTEST_RECORD(table_, 6, DRV_Disconnect);
        SCSTEST_RECORD(table_, 7, DRV_AllocStmt);
        SCSTEST_RECORD(table_, 8, DRV_FreeStmt);
        SCSTEST_RECORD(table_, 11, DRV_Prepare);
        SCSTEST_RECORD(table_, 12, DRV_SetParamValues);
        SCSTEST_RECORD(table_, 13, DRV_Execute);
        SCSTEST_RECORD(table_, 18, DRV_SetParamDescs);
        SCSTEST_RECORD(table_, 19, DRV_Fetch);
        SCSTEST_RECORD(table_, 20, DRV_CloseCursor);
        SCSTEST_RECORD(table_, 24, DRV_MoreResults);
        SCSTEST_RECORD(table_, 34, DRV_DDTables);
        SCSTEST_RECORD(table_, 43, DRV_PrepareAndExecute);
        g_recording = &rec;
        before_ = SCR_SetAgentTable(&table_);
    }
    ~RecordingTable() {
        SCR_SetAgentTable(before_);
        g_recording = nullptr;
    }
    RecordingTable(const RecordingTable&) = delete;
    RecordingTable& operator=(const RecordingTable&) = delete;

    Recording rec;
    OA_OPTABLE& table() { return table_; }

private:
    OA_OPTABLE table_{};
    const OA_OPTABLE* before_ = nullptr;
};

#undef SCSTEST_RECORD

}  // namespace scstest
