// The recording operation table: per-slot trampolines on an instance index, the capture of
// what each call carries, injected failures and the log's text.
#include "tests/unit/recording_optable.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

#include "driver/frame/globals.h"
#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_err.h"
#include "scrs/scr_hook.h"
#include "util/dataset.h"

namespace rec {

// The 66 slots in table order.
#define REC_SLOTS(X)                                                                                              \
    X(0, DRV_GetProperty) X(1, DRV_SetProperty) X(2, DRV_GetErrors) X(3, DRV_OpenServer) X(4, DRV_CloseServer)     \
    X(5, DRV_Connect) X(6, DRV_Disconnect) X(7, DRV_AllocStmt) X(8, DRV_FreeStmt) X(9, DRV_GetCursorName)          \
    X(10, DRV_SetCursorName) X(11, DRV_Prepare) X(12, DRV_SetParamValues) X(13, DRV_Execute)                       \
    X(14, DRV_StmtNotCapable) X(15, DRV_DescribeCols) X(16, DRV_DescribeParams) X(17, DRV_NativeSql)               \
    X(18, DRV_SetParamDescs) X(19, DRV_Fetch) X(20, DRV_CloseCursor) X(21, DRV_Commit) X(22, DRV_Rollback)         \
    X(23, GetOpTable) X(24, DRV_MoreResults) X(25, DRV_DDColumnPrivileges) X(26, DRV_DDColumns)                    \
    X(27, DRV_DDForeignKeys) X(28, DRV_DDPrimaryKeys) X(29, DRV_DDProcedureColumns) X(30, DRV_DDProcedures)        \
    X(31, DRV_DDSpecialColumns) X(32, DRV_DDStatistics) X(33, DRV_DDTablePrivileges) X(34, DRV_DDTables)           \
    X(35, DRV_GetTypeInfo) X(36, DRV_ScrollFetch) X(37, DRV_SetPos) X(38, DRV_ParamData) X(39, DRV_PutData)        \
    X(40, DRV_GetData) X(41, DRV_ExtendedFetch) X(42, DRV_BulkOperations) X(43, DRV_PrepareAndExecute)             \
    X(44, DRV_ExecuteDescribe) X(45, DRV_AllocPrepare) X(46, DRV_GetRowLayout) X(47, DRV_FetchInto)                \
    X(48, DRV_GetRowData) X(49, DRV_ExecuteBatch) X(50, unused50) X(51, DRV_DescribeColsEx)                        \
    X(52, DRV_ExecuteDescribeEx) X(53, DRV_Cancel) X(54, DRV_PrepareAndExecuteEx) X(55, DRV_XaClose)               \
    X(56, DRV_XaCommit) X(57, DRV_XaComplete) X(58, DRV_XaEnd) X(59, DRV_XaForget) X(60, DRV_XaOpen)               \
    X(61, DRV_XaPrepare) X(62, DRV_XaRecover) X(63, DRV_XaRollback) X(64, DRV_XaStart) X(65, DRV_StoreParamDescs)

namespace {

#define REC_NAME(n, m) #m,
constexpr const char* kSlotNames[OA_OPTABLE_SLOTS] = {REC_SLOTS(REC_NAME)};
#undef REC_NAME

// What a trampoline of an index reaches: the live recorder (null once it went) and the
// table it forwards to; with the recording table itself, they outlive the recorder so
// that late calls still arrive.
struct Instance {
    std::atomic<RecordingTable*> rec{nullptr};
    std::atomic<const OA_OPTABLE*> inner{nullptr};
    OA_OPTABLE table{};
};
Instance g_instances[RecordingTable::kInstances];
std::mutex g_instancesLock;

std::string Hex(const unsigned char* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 0xF];
    }
    return out;
}

// UCS-2 units as UTF-8.
std::string Ucs2(const unsigned char* p, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint16_t u = 0;
        std::memcpy(&u, p + 2 * i, 2);
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

size_t Ucs2Len(const unsigned char* p, size_t maxUnits) {
    size_t n = 0;
    for (; n < maxUnits; ++n) {
        uint16_t u = 0;
        std::memcpy(&u, p + 2 * n, 2);
        if (u == 0)
            break;
    }
    return n;
}

template <typename T>
T Read(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A counted value: its length prefix of L bytes, bounded by the element.
template <typename L>
std::pair<const unsigned char*, size_t> Counted(const unsigned char* e, uint32_t width) {
    if (width < sizeof(L))
        return {e, 0};
    int64_t n = static_cast<int64_t>(Read<L>(e));
    size_t room = width - sizeof(L);
    return {e + sizeof(L), n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), room)};
}

std::string Cell(const DATASET_COL& col, int32_t row) {
    if (col.indicators == nullptr)
        return "?";
    switch (col.indicators[row]) {
    case DS_IND_NULL: return "NULL";
    case DS_IND_DATA_AT_EXEC: return "<dae>";
    case DS_IND_AT_SERVER: return "<server>";
    case DS_IND_IGNORE: return "<ignore>";
    default: break;
    }
    if (col.data == nullptr)
        return "?";
    const unsigned char* e = ds_Elem(&col, row);
    const uint32_t w = col.width;
    auto text = [](const unsigned char* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); };
    char buf[64];
    switch (col.type) {
    case DS_CHAR:
    case DS_CHARZ: return text(e, strnlen(reinterpret_cast<const char*>(e), w));
    case DS_BIT:
    case DS_UTINYINT: return std::to_string(Read<uint8_t>(e));
    case DS_STINYINT: return std::to_string(Read<int8_t>(e));
    case DS_SSHORT: return std::to_string(Read<int16_t>(e));
    case DS_USHORT: return std::to_string(Read<uint16_t>(e));
    case DS_SLONG: return std::to_string(Read<int32_t>(e));
    case DS_ULONG: return std::to_string(Read<uint32_t>(e));
    case DS_SBIGINT: return std::to_string(Read<int64_t>(e));
    case DS_FLOAT: std::snprintf(buf, sizeof buf, "%.9g", Read<float>(e)); return buf;
    case DS_DOUBLE: std::snprintf(buf, sizeof buf, "%.17g", Read<double>(e)); return buf;
    case DS_DATE:
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", Read<int16_t>(e), Read<uint16_t>(e + 2), Read<uint16_t>(e + 4));
        return buf;
    case DS_TIME:
        std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", Read<uint16_t>(e), Read<uint16_t>(e + 2), Read<uint16_t>(e + 4));
        return buf;
    case DS_TIMESTAMP:
        std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%09u", Read<int16_t>(e), Read<uint16_t>(e + 2),
                      Read<uint16_t>(e + 4), Read<uint16_t>(e + 6), Read<uint16_t>(e + 8), Read<uint16_t>(e + 10),
                      Read<uint32_t>(e + 12));
        return buf;
    case DS_BINARY: return Hex(e, w);
    case DS_VARCHAR8: { auto [p, n] = Counted<uint8_t>(e, w); return text(p, n); }
    case DS_VARCHAR16: { auto [p, n] = Counted<uint16_t>(e, w); return text(p, n); }
    case DS_VARCHAR32: { auto [p, n] = Counted<int32_t>(e, w); return text(p, n); }
    case DS_VARBINARY8: { auto [p, n] = Counted<uint8_t>(e, w); return Hex(p, n); }
    case DS_VARBINARY16: { auto [p, n] = Counted<uint16_t>(e, w); return Hex(p, n); }
    case DS_VARBINARY32: { auto [p, n] = Counted<int32_t>(e, w); return Hex(p, n); }
    case DS_WCHAR:
    case DS_WCHARZ: return Ucs2(e, Ucs2Len(e, w / 2));
    case DS_WVARCHAR32: {
        if (w < 4)
            return "";
        const int32_t units = Read<int32_t>(e);
        return Ucs2(e + 4, std::min<size_t>(units < 0 ? 0 : static_cast<size_t>(units), (w - 4) / 2));
    }
    case DS_LONGCHAR:
    case DS_LONGBINARY:
    case DS_LONGWCHAR: {
        if (!ds_ColHoldsRefs(&col))
            return "?";
        auto ref = Read<DS_REFVAL>(e);
        const auto* p = static_cast<const unsigned char*>(ref.data);
        if (p == nullptr)
            return "";
        return col.type == DS_LONGCHAR ? text(p, ref.length)
               : col.type == DS_LONGBINARY ? Hex(p, ref.length)
                                           : Ucs2(p, ref.length);
    }
    default: return "?";
    }
}

std::vector<RecordedDesc> Descs(uint16_t count, const PARAM_DESC* descs) {
    std::vector<RecordedDesc> out;
    for (uint16_t i = 0; descs != nullptr && i < count; ++i)
        out.push_back({descs[i].sqlType, descs[i].cType, descs[i].columnSize, descs[i].scale, descs[i].paramType, ""});
    return out;
}

std::vector<RecordedDesc> Descs(uint16_t count, const NAMED_PARAM_DESC* descs) {
    std::vector<RecordedDesc> out;
    for (uint16_t i = 0; descs != nullptr && i < count; ++i) {
        const PARAM_DESC& d = descs[i].desc;
        out.push_back({d.sqlType, d.cType, d.columnSize, d.scale, d.paramType, descs[i].name ? descs[i].name : ""});
    }
    return out;
}

std::optional<RecordedDataset> Values(const DATASET* ds) {
    if (ds == nullptr)
        return std::nullopt;
    return RecordDataset(ds);
}

std::optional<std::string> Text(const char* s) {
    return s != nullptr ? std::optional<std::string>(s) : std::nullopt;
}


// What a call carries, taken before the wrapped slot runs (it may take or change what it
// is handed) and after it answered.
template <int N, typename... A>
void Before(RecordedCall& c, A... a) {
    [[maybe_unused]] auto args = std::make_tuple(a...);
    if constexpr (N == 0) {
        c.propCode = std::get<1>(args);
    } else if constexpr (N == 1) {
        c.propCode = std::get<1>(args);
        const void* v = std::get<2>(args);
        if (v != nullptr && oa_PropKind(c.propCode) == OA_PROP_KIND_TEXT)
            c.propText = static_cast<const char*>(v);
        else if (v != nullptr)
            c.propInt = Read<int32_t>(static_cast<const unsigned char*>(v));
    } else if constexpr (N == 11 || N == 17 || N == 45) {
        c.text = Text(std::get<1>(args));
    } else if constexpr (N == 12) {
        c.values = Values(std::get<1>(args));
    } else if constexpr (N == 18 || N == 65) {
        c.descs = Descs(std::get<1>(args), std::get<2>(args));
    } else if constexpr (N == 19) {
        c.fetchRows = std::get<1>(args);
    } else if constexpr (N == 43 || N == 44 || N == 52 || N == 54) {
        c.text = Text(std::get<1>(args));
        c.values = Values(std::get<2>(args));
        c.descs = Descs(std::get<3>(args), std::get<4>(args));
    } else if constexpr (N == 49) {
        const OA_BATCHSTMT* stmts = std::get<2>(args);
        for (uint16_t i = 0; stmts != nullptr && i < std::get<1>(args); ++i)
            c.batch.push_back({Text(stmts[i].text), Descs(stmts[i].descCount, stmts[i].descs), Values(stmts[i].values)});
    }
}

template <int N, typename... A>
void After(RecordedCall& c, A... a) {
    [[maybe_unused]] auto args = std::make_tuple(a...);
    if (c.rc != 0 || c.injected)
        return;
    if constexpr (N == 0) {
        auto* buf = static_cast<const char*>(std::get<2>(args));
        const int32_t len = std::get<3>(args);
        if (buf != nullptr && oa_PropKind(c.propCode) == OA_PROP_KIND_TEXT && len > 0)
            c.propText = std::string(buf, strnlen(buf, static_cast<size_t>(len)));
        else if (buf != nullptr && len >= 4)
            c.propInt = Read<int32_t>(reinterpret_cast<const unsigned char*>(buf));
    } else if constexpr (N == 3 || N == 7) {
        if (std::get<1>(args) != nullptr)
            c.outHandle = *std::get<1>(args);
    } else if constexpr (N == 5) {
        if (std::get<2>(args) != nullptr)
            c.outHandle = *std::get<2>(args);
    } else if constexpr (N == 45) {
        if (std::get<4>(args) != nullptr)
            c.outHandle = *std::get<4>(args);
    } else if constexpr (N == 19) {
        if (const DATASET* block = std::get<2>(args))
            c.rowsFetched = block->rowsUsed;
    }
}

}  // namespace

// The trampolines' side of the recorder: noting, injecting, forwarding.
struct RecordingTable::Impl {
    template <int N, typename Forward, typename... A>
    static int Run(RecordingTable& r, Forward forward, A... a) {
        RecordedCall c;
        c.slot = N;
        if constexpr (N != 3)
            c.handle = std::get<0>(std::make_tuple(a...));
        Before<N>(c, a...);
        std::optional<Failure> hit;
        size_t at = 0;
        uint64_t generation = 0;
        {
            std::lock_guard<std::mutex> guard(r.lock_);
            for (Armed& f : r.failures_) {
                if (f.f.slot != N)
                    continue;
                ++f.seen;
                if (!hit && (f.seen == f.f.from || (f.f.every && f.seen > f.f.from)))
                    hit = f.f;
            }
            if (hit) {
                c.injected = true;
                c.rc = hit->code;
            }
            // The entry goes in at the call's start, so that calls made from inside it
            // come after it.
            at = r.calls_.size();
            generation = r.generation_;
            r.calls_.push_back(c);
        }
        if (hit) {
            if (hit->post)
                OA_ErrPost(oa_ErrListOf(c.handle), hit->code);
        } else {
            c.rc = forward();
        }
        After<N>(c, a...);
        c.done = true;
        const int rc = c.rc;
        std::lock_guard<std::mutex> guard(r.lock_);
        if (generation == r.generation_)  // a Clear() meanwhile took the entry away
            r.calls_[at] = std::move(c);
        return rc;
    }
};

namespace {

template <int I, int N, auto M, typename F>
struct TrampOf;

template <int I, int N, auto M, typename... A>
struct TrampOf<I, N, M, int (*OA_OPTABLE::*)(A...)> {
    static int Call(A... a) {
        const OA_OPTABLE* inner = g_instances[I].inner.load();
        RecordingTable* r = g_instances[I].rec.load();
        auto forward = [&] { return inner != nullptr && inner->*M != nullptr ? (inner->*M)(a...) : 43; };
        if (r == nullptr)
            return forward();
        return RecordingTable::Impl::Run<N>(*r, forward, a...);
    }
};

template <int I, int N, auto M>
using Tramp = TrampOf<I, N, M, decltype(M)>;

template <int I>
OA_OPTABLE Build(const OA_OPTABLE* inner) {
    OA_OPTABLE t{};
    if (inner == nullptr)
        return t;
#define REC_SET(n, m) t.m = inner->m != nullptr ? &Tramp<I, n, &OA_OPTABLE::m>::Call : nullptr;
    REC_SLOTS(REC_SET)
#undef REC_SET
    return t;
}

OA_OPTABLE BuildFor(int index, const OA_OPTABLE* inner) {
    static_assert(RecordingTable::kInstances == 3, "one case per instance");
    switch (index) {
    case 0: return Build<0>(inner);
    case 1: return Build<1>(inner);
    default: return Build<2>(inner);
    }
}

template <int I>
int FrontBind(OA_OPHOLDER* holder) {
    int rc = DrvBindOpTable(holder);
    RecordingTable* r = g_instances[I].rec.load();
    if (rc == 0 && r != nullptr) {
        r->Wrap(holder->ops);
        r->Install(holder);
    }
    return rc;
}

template <int I>
int BehindBind(OA_OPHOLDER* holder) {
    int rc = OA_BindOpTable(holder);
    RecordingTable* r = g_instances[I].rec.load();
    if (rc == 0 && r != nullptr) {
        r->Wrap(holder->ops);
        r->Install(holder);
    }
    if (rc == 0)
        SCR_HookOpTable(holder);
    return rc;
}

constexpr RecordingTable::Binder kFrontBinders[] = {FrontBind<0>, FrontBind<1>, FrontBind<2>};
constexpr RecordingTable::Binder kBehindBinders[] = {BehindBind<0>, BehindBind<1>, BehindBind<2>};

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string RenderDescs(const std::vector<RecordedDesc>& descs) {
    std::string out = "[";
    for (size_t i = 0; i < descs.size(); ++i) {
        const RecordedDesc& d = descs[i];
        if (i != 0)
            out += " ";
        out += "sql " + std::to_string(d.sqlType) + "/c " + std::to_string(d.cType) + "/" + std::to_string(d.size) +
               "," + std::to_string(d.scale) + "/kind " + std::to_string(d.kind);
        if (!d.name.empty())
            out += "/" + d.name;
    }
    return out + "]";
}

std::string RenderValues(const RecordedDataset& v) {
    std::string out = "types[";
    for (size_t i = 0; i < v.types.size(); ++i)
        out += (i != 0 ? " " : "") + std::to_string(v.types[i]);
    out += "]";
    for (const auto& row : v.rows) {
        out += " (";
        for (size_t i = 0; i < row.size(); ++i)
            out += (i != 0 ? ", " : "") + row[i];
        out += ")";
    }
    return out;
}

}  // namespace

std::vector<std::string> RecordedDataset::Column(size_t c) const {
    std::vector<std::string> out;
    for (const auto& row : rows)
        out.push_back(c < row.size() ? row[c] : "?");
    return out;
}

RecordedDataset RecordDataset(const DATASET* ds) {
    RecordedDataset out;
    if (ds == nullptr)
        return out;
    for (uint16_t c = 0; c < ds->colsUsed; ++c)
        out.types.push_back(ds->cols[c].type);
    for (int32_t r = 0; r < ds->rowsUsed && r < ds->rowsAllocated; ++r) {
        std::vector<std::string> row;
        for (uint16_t c = 0; c < ds->colsUsed; ++c)
            row.push_back(Cell(ds->cols[c], r));
        out.rows.push_back(std::move(row));
    }
    return out;
}

const char* SlotName(int slot) {
    return slot >= 0 && slot < OA_OPTABLE_SLOTS ? kSlotNames[slot] : "?";
}

std::string RecordedCall::Render() const {
    char head[96];
    std::snprintf(head, sizeof head, "slot %d %s h=%X", slot, SlotName(slot), handle);
    std::string out = head;
    if (slot == 0 || slot == 1) {
        char code[16];
        std::snprintf(code, sizeof code, "%08X", propCode);
        out += std::string(" prop ") + code;
        if (propInt)
            out += "=" + std::to_string(*propInt);
        if (propText)
            out += "=" + Quoted(*propText);
    }
    if (text)
        out += " text=" + Quoted(*text);
    if (values)
        out += " values=" + RenderValues(*values);
    if (!descs.empty())
        out += " descs=" + RenderDescs(descs);
    for (size_t i = 0; i < batch.size(); ++i) {
        out += " {" + std::to_string(i) + ": " + (batch[i].text ? Quoted(*batch[i].text) : "prepared");
        if (batch[i].values)
            out += " values=" + RenderValues(*batch[i].values);
        if (!batch[i].descs.empty())
            out += " descs=" + RenderDescs(batch[i].descs);
        out += "}";
    }
    if (fetchRows >= 0)
        out += " rows=" + std::to_string(fetchRows) + " fetched=" + std::to_string(rowsFetched);
    if (outHandle != 0) {
        char h[16];
        std::snprintf(h, sizeof h, "%X", outHandle);
        out += std::string(" out=") + h;
    }
    out += done ? " -> " + std::to_string(rc) : std::string(" (running)");
    if (injected)
        out += " injected";
    return out;
}

RecordingTable::RecordingTable(const OA_OPTABLE* inner) : inner_(nullptr) {
    {
        std::lock_guard<std::mutex> guard(g_instancesLock);
        for (int i = 0; i < kInstances && index_ < 0; ++i) {
            if (g_instances[i].rec.load() == nullptr) {
                index_ = i;
                g_instances[i].rec.store(this);
            }
        }
    }
    if (index_ < 0) {
        std::fprintf(stderr, "RecordingTable: all %d instances are in use\n", kInstances);
        std::abort();
    }
    Wrap(inner);
}

RecordingTable::~RecordingTable() {
    std::lock_guard<std::mutex> guard(g_instancesLock);
    g_instances[index_].rec.store(nullptr);
}

void RecordingTable::Wrap(const OA_OPTABLE* inner) {
    inner_ = inner;
    g_instances[index_].inner.store(inner);
    table_ = &g_instances[index_].table;
    *table_ = BuildFor(index_, inner);
}

RecordingTable::Binder RecordingTable::FrontBinder() const {
    return kFrontBinders[index_];
}

RecordingTable::Binder RecordingTable::BehindBinder() const {
    return kBehindBinders[index_];
}

std::vector<RecordedCall> RecordingTable::Calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

std::vector<RecordedCall> RecordingTable::CallsOf(int slot) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<RecordedCall> out;
    for (const RecordedCall& c : calls_)
        if (c.slot == slot)
            out.push_back(c);
    return out;
}

std::vector<int> RecordingTable::Slots() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int> out;
    for (const RecordedCall& c : calls_)
        out.push_back(c.slot);
    return out;
}

std::vector<std::string> RecordingTable::Texts(int slot) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::string> out;
    for (const RecordedCall& c : calls_) {
        if (slot != -1 && c.slot != slot)
            continue;
        if (c.text)
            out.push_back(*c.text);
        for (const RecordedBatchStmt& s : c.batch)
            if (s.text)
                out.push_back(*s.text);
    }
    return out;
}

size_t RecordingTable::Count(int slot) const {
    std::lock_guard<std::mutex> guard(lock_);
    size_t n = 0;
    for (const RecordedCall& c : calls_)
        n += c.slot == slot ? 1 : 0;
    return n;
}

std::string RecordingTable::Render() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::string out;
    for (size_t i = 0; i < calls_.size(); ++i)
        out += "#" + std::to_string(i) + " " + calls_[i].Render() + "\n";
    return out;
}

void RecordingTable::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
    ++generation_;
}

void RecordingTable::Inject(const Failure& f) {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.push_back({f, 0});
}

void RecordingTable::ClearFailures() {
    std::lock_guard<std::mutex> guard(lock_);
    failures_.clear();
}

}  // namespace rec
