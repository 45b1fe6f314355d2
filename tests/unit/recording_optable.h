// A recording operation table for tests: it wraps any OA_OPTABLE (the agent's own, a
// scripted one, or a table in front of the agent's such as the cursor library's) and
// offers a table whose slots forward to the wrapped table's after noting the call: the
// slot, the handle, what the call carries (texts, parameter datasets as text, parameter
// descriptions, properties, fetch row counts) and the code it returned. A slot that is null
// in the wrapped table stays null, so callers that test a slot before calling it still do.
//
// Failures can be injected: a slot answers a code of the test's choosing at its k-th call
// (or at every call from the k-th) without reaching the wrapped table, and by default posts
// that code's message on the agent's error list of the handle, as the agent would.
//
// A C function pointer carries no closure, so the slots are trampolines on a fixed
// instance index: up to kInstances recorders live at once (one in front of the cursor
// library and one behind it, say), each taking the lowest free index.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drv_pro9/oa_optable.h"

namespace rec {

// One parameter description as a call carried it (slots 18, 43, 49, 52, 54, 65); the name
// only for slot 54.
struct RecordedDesc {
    int16_t sqlType = 0;
    int16_t cType = 0;
    int32_t size = 0;
    int16_t scale = 0;
    int16_t kind = 0;       // 1 input, 2 input/output, 4 output
    std::string name;
    bool operator==(const RecordedDesc&) const = default;
};

// A parameter dataset as a call carried it: the DS type of each column and the values row
// by row as text ("NULL", "<dae>" for a value still to come at execution, "<server>",
// "<ignore>"; binary values in hexadecimal).
struct RecordedDataset {
    std::vector<int32_t> types;
    std::vector<std::vector<std::string>> rows;
    // Column c of every row, in row order.
    std::vector<std::string> Column(size_t c) const;
};

// One statement of a batch (slot 49).
struct RecordedBatchStmt {
    std::optional<std::string> text;   // none for the first: the prepared text
    std::vector<RecordedDesc> descs;
    std::optional<RecordedDataset> values;
};

struct RecordedCall {
    int slot = -1;
    uint32_t handle = 0;            // the first argument; 0 for slot 3
    std::optional<std::string> text;
    std::optional<RecordedDataset> values;
    std::vector<RecordedDesc> descs;
    std::vector<RecordedBatchStmt> batch;
    // Slots 0 and 1: the property code, and the value set or read (a read only when the
    // slot answered 0).
    uint32_t propCode = 0;
    std::optional<int32_t> propInt;
    std::optional<std::string> propText;
    int32_t fetchRows = -1;         // slot 19: rows asked for
    int32_t rowsFetched = -1;       // slot 19: rows the block holds after a 0 answer
    uint32_t outHandle = 0;         // slots 3, 5, 7, 45: the handle made
    int rc = 0;
    bool injected = false;          // the code came from an injected failure
    bool done = false;              // the call has returned

    // One line: "slot 11 Prepare h=5 text="SELECT 1" -> 0".
    std::string Render() const;
};

// The member name of a slot ("DRV_Prepare"), or "?" outside 0-65.
const char* SlotName(int slot);

// An injected failure: slot answers code at its from-th call counted since the failure was
// armed (1 is the next call), and at every later one when every is set. post: put the
// code's message on the agent's error list of the handle (statement, connection or server,
// if the handle is one of the agent's); otherwise the list is left untouched.
struct Failure {
    int slot = -1;
    int code = 0;
    int from = 1;
    bool every = false;
    bool post = true;
};

class RecordingTable {
public:
    static constexpr int kInstances = 3;

    // Wraps inner (or nothing yet, for a binder to fill), which must outlive every call
    // through Table(). Takes the lowest free instance index; aborts the test process when
    // all are taken. Calls that come through the table after the recorder went are
    // forwarded unrecorded.
    explicit RecordingTable(const OA_OPTABLE* inner = nullptr);
    ~RecordingTable();
    RecordingTable(const RecordingTable&) = delete;
    RecordingTable& operator=(const RecordingTable&) = delete;

    // The recording table: a slot for every slot of inner that is set. It is static
    // storage of the instance index, so a holder left pointing at it stays valid.
    const OA_OPTABLE* Table() const { return table_; }
    const OA_OPTABLE* Inner() const { return inner_; }
    // Wraps another table: the recording table's slots follow its null slots.
    void Wrap(const OA_OPTABLE* inner);
    int Index() const { return index_; }
    // Points the holder at the recording table; the holder's state stays.
    void Install(OA_OPHOLDER* holder) const { holder->ops = table_; }

    // A binder for ConnSetOpTableBinder that binds as the driver does (the agent's table,
    // then the cursor library's hook) and puts this recorder in front of the result. The
    // recorder's inner table becomes the one the binding gave; every holder bound so must
    // give the same.
    using Binder = int (*)(OA_OPHOLDER* holder);
    Binder FrontBinder() const;
    // A binder that puts this recorder between the agent and the cursor library: the
    // agent's table, wrapped, handed to the hook (which then sits in front of the recorder
    // if it copies the table it is handed).
    Binder BehindBinder() const;

    // ---- the log -----------------------------------------------------------------------
    std::vector<RecordedCall> Calls() const;
    std::vector<RecordedCall> CallsOf(int slot) const;
    // The slots called, in order.
    std::vector<int> Slots() const;
    // Every text the calls carried (batch statements' texts included), in order; of one
    // slot only when slot is not -1.
    std::vector<std::string> Texts(int slot = -1) const;
    size_t Count(int slot) const;
    // The whole log, one call a line, for a failure message.
    std::string Render() const;
    void Clear();

    // ---- injected failures ---------------------------------------------------------------
    void Inject(const Failure& f);
    void ClearFailures();

    // Used by the trampolines.
    struct Impl;

private:
    friend struct Impl;
    const OA_OPTABLE* inner_;
    OA_OPTABLE* table_ = nullptr;
    int index_ = -1;
    mutable std::mutex lock_;
    std::vector<RecordedCall> calls_;
    uint64_t generation_ = 0;   // moves on with every Clear()
    struct Armed {
        Failure f;
        int seen = 0;
    };
    std::vector<Armed> failures_;
};

// The dataset's rows as text, as the recorder keeps them.
RecordedDataset RecordDataset(const DATASET* ds);

}  // namespace rec
