// Seek windows of dynamic and mixed cursors: the keys of the next, prior, first, last or
// relative window, found by a predicate on the ordering columns of the current window's
// first or last row (scrs/ks_keyset.h).
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "scrs/ks_keyset.h"
#include "scrs/scs_catalog.h"
#include "scrs/scs_cursor.h"
#include "scrs/scs_desc.h"
#include "scrs/scs_stmt.h"
#include "sqlparse/ptree.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

const OA_OPTABLE& AgentOf(const SCS_STMT* cur) { return *cur->agent->ops; }

// Null collations (SQLGetInfo SQL_NULL_COLLATION).
constexpr uint16_t kNullsHigh = 0;
constexpr uint16_t kNullsLow = 1;
constexpr uint16_t kNullsAtStart = 2;

// One place of the seek sequence: an ORDER BY item, or a key column the ORDER BY does not
// name; `column` is its column in the bound rows.
struct SeekPlace {
    std::string text;          // as the query names it
    const SCS_COLDESC* desc;   // type of its parameter
    bool keyColumn;            // never NULL
    bool descending;
    int column;
};

uint32_t KeyCount(const SCS_STMT* cur) {
    return cur->keyset != nullptr && cur->keyset->keyCols != nullptr ? cur->keyset->keyCols->count : 0;
}
const SCS_COLDESC* Keys(const SCS_STMT* cur) {
    return static_cast<const SCS_COLDESC*>(cur->keyset->keyCols->elements);
}
uint32_t ItemCount(const SCS_STMT* cur) { return cur->orderBy != nullptr ? cur->orderBy->count : 0; }
const SCS_SELCOLDESC* Items(const SCS_STMT* cur) {
    return static_cast<const SCS_SELCOLDESC*>(cur->orderBy->elements);
}

// The ORDER BY items before the ordering is total (at most the ordering column count).
uint32_t UsedItems(const SCS_STMT* cur) { return std::min<uint32_t>(ItemCount(cur), cur->orderingColCount); }

// The key column an ORDER BY item names: the key that took the item's place, else (an item
// repeated) the key of the same name.
int KeyOfItem(const SCS_STMT* cur, uint32_t item) {
    const SCS_COLDESC* keys = Keys(cur);
    for (uint32_t k = 0; k < KeyCount(cur); ++k)
        if (keys[k].orderPosition == static_cast<int32_t>(item + 1))
            return static_cast<int>(k);
    const SCS_COLDESC& col = Items(cur)[item].col;
    for (uint32_t k = 0; k < KeyCount(cur); ++k)
        if (std::strcmp(keys[k].column, col.column) == 0)
            return static_cast<int>(k);
    return -1;
}

// The ordering columns in seek order: the ORDER BY items, then the key columns it does not
// name (key order, ascending). Bound rows hold the key columns, then the items that are no
// key, in item order.
std::vector<SeekPlace> SeekSequence(const SCS_STMT* cur) {
    std::vector<SeekPlace> seq;
    const uint32_t keyCount = KeyCount(cur);
    const uint8_t tables = cur->keyset->fromTableCount;
    int nonKey = static_cast<int>(keyCount);
    for (uint32_t i = 0; i < UsedItems(cur); ++i) {
        const SCS_SELCOLDESC& item = Items(cur)[i];
        const std::string text = item.col.text != nullptr ? item.col.text : scs_QualifiedColName(tables, item.col);
        const int key = item.isKey != 0 ? KeyOfItem(cur, i) : -1;
        if (key >= 0)
            seq.push_back({text, &Keys(cur)[key], true, item.descending != 0, key});
        else
            seq.push_back({text, &item.col, false, item.descending != 0, nonKey++});
    }
    for (uint32_t k = 0; k < keyCount; ++k) {
        if (Keys(cur)[k].orderPosition == 0)
            seq.push_back({scs_QualifiedColName(tables, Keys(cur)[k]), &Keys(cur)[k], true, false, static_cast<int>(k)});
    }
    // The order is total once every key column has been compared: later places add nothing.
    if (cur->orderingColCount != 0 && seq.size() > cur->orderingColCount)
        seq.resize(cur->orderingColCount);
    return seq;
}

// The select list of a seek: the key columns, then the ORDER BY items that are no key.
std::string SeekSelectList(const SCS_STMT* cur) {
    std::string list = KS_KeyList(cur);
    for (uint32_t i = 0; i < UsedItems(cur); ++i) {
        const SCS_SELCOLDESC& item = Items(cur)[i];
        if (item.isKey != 0 && KeyOfItem(cur, i) >= 0)
            continue;
        list += ", ";
        list += item.col.text != nullptr ? item.col.text : scs_QualifiedColName(cur->keyset->fromTableCount, item.col);
    }
    return list;
}

// Do NULLs come after every value in the scan direction?
bool NullsAfter(uint16_t orientation, bool descending, uint16_t collation) {
    bool after;
    if (collation == kNullsHigh)
        after = !descending;
    else if (collation == kNullsLow)
        after = descending;
    else
        after = collation != kNullsAtStart;  // at the end
    return orientation == KS_SEEK_PRIOR ? !after : after;
}

// The comparison of a place: past the bound value in the scan direction, or up to and
// including it.
std::string SeekOperator(uint16_t orientation, bool descending, bool inclusive) {
    bool greater = !descending;
    if (orientation == KS_SEEK_PRIOR)
        greater = !greater;
    std::string op = greater ? ">" : "<";
    if (inclusive)
        op += "=";
    return op;
}

// The bound row a seek starts from: modes 1 and 3 seek from inside the window (NEXT from its
// first row, PRIOR from its last), mode 0 past it.
int32_t BoundRow(const DATASET& window, uint16_t orientation, int mode) {
    const bool inside = mode == 1 || mode == 3;
    const int32_t last = window.rowsUsed - 1;
    if (orientation == KS_SEEK_NEXT)
        return inside ? 0 : last;
    return inside ? last : 0;
}

bool IsNull(const DATASET& rows, int column, int32_t row) {
    const DATASET_COL& c = rows.cols[column];
    return c.indicators != nullptr && c.indicators[row] == DS_IND_NULL;
}

// The predicate: one term per place e, places before e equal to the bound row's, place e
// past it. A term whose comparison would be with a NULL that sorts last is left out (no row
// is past it). Only the last place (always a key column) includes the bound row itself in
// modes 2 and 3: an earlier inclusive place would take rows before the bound row.
int BuildPredicate(const SCS_STMT* cur, uint16_t orientation, int mode, int32_t r, std::string* text,
                   std::vector<int>* paramCols, std::vector<const SCS_COLDESC*>* paramDescs) {
    const DATASET* bounds = cur->keyset->boundRows.get();
    if (bounds == nullptr || r < 0 || r >= bounds->rowsUsed)
        return ERR_GENERAL_ERROR;
    if (orientation != KS_SEEK_NEXT && orientation != KS_SEEK_PRIOR)
        return ERR_GENERAL_ERROR;
    const std::vector<SeekPlace> seq = SeekSequence(cur);
    const bool inclusive = mode == 2 || mode == 3;
    std::string out = "( ";
    bool anyTerm = false;
    for (size_t e = 0; e < seq.size(); ++e) {
        std::string term;
        std::vector<int> cols;
        std::vector<const SCS_COLDESC*> descs;
        bool dropped = false;
        for (size_t p = 0; p <= e && !dropped; ++p) {
            const SeekPlace& place = seq[p];
            const bool null = !place.keyColumn && IsNull(*bounds, place.column, r);
            if (p < e) {
                if (null) {
                    term += place.text + " IS NULL AND ";
                } else {
                    term += place.text + " = ? AND ";
                    cols.push_back(place.column);
                    descs.push_back(place.desc);
                }
                continue;
            }
            const std::string op = SeekOperator(orientation, place.descending, inclusive && e + 1 == seq.size());
            const bool nullsAfter = NullsAfter(orientation, place.descending, cur->nullCollation);
            if (null) {
                if (nullsAfter)
                    dropped = true;  // nothing sorts past a NULL that sorts last
                else
                    term += place.text + " IS NOT NULL ";
                continue;
            }
            if (!place.keyColumn && nullsAfter)
                term += "(" + place.text + " " + op + " ? OR " + place.text + " IS NULL) ";
            else
                term += place.text + " " + op + " ? ";
            cols.push_back(place.column);
            descs.push_back(place.desc);
        }
        if (dropped)
            continue;
        if (anyTerm)
            out += " OR ";
        out += term;
        anyTerm = true;
        paramCols->insert(paramCols->end(), cols.begin(), cols.end());
        paramDescs->insert(paramDescs->end(), descs.begin(), descs.end());
    }
    out += " )";
    *text = out;
    return 0;
}

// A one-row dataset of the bound row's columns in the given order (repeats allowed).
int ParamRow(const DATASET& bounds, int32_t row, const std::vector<int>& cols, DATASET** out) {
    *out = nullptr;
    DatasetPtr acc;
    // ds_JoinColumns puts the given columns in front: the row is built from the back.
    for (size_t i = cols.size(); i-- > 0;) {
        DATASET* one = nullptr;
        if (int rc = ds_CloneLayout(&one, &bounds, 1); rc != 0)
            return rc;
        DatasetPtr cell(one);
        if (int rc = ds_CopyRow(one, const_cast<DATASET*>(&bounds), 0, row, 0); rc != 0)
            return rc;
        for (int c = one->colsUsed - 1; c > cols[i]; --c)
            ds_DropColumn(one, c);
        for (int c = 0; c < cols[i]; ++c)
            ds_DropColumn(one, 0);
        if (acc == nullptr)
            acc = std::move(cell);
        else if (int rc = ds_JoinColumns(acc.get(), cell.get()); rc != 0)
            return rc;
    }
    *out = acc.release();
    return 0;
}

// Rows of the executed seek, up to want.
int FetchUpTo(SCS_STMT* cur, uint32_t stmt, int32_t want, DatasetPtr* out) {
    const OA_OPTABLE& agent = AgentOf(cur);
    DatasetPtr rows(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (rows == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    while (rows->rowsUsed < want) {
        const int32_t ask = std::min<int32_t>(want - rows->rowsUsed, 0xFFFF);
        DATASET block{};
        int rc = agent.DRV_Fetch(stmt, static_cast<uint16_t>(ask), &block);
        const int32_t got = rc == 0 ? block.rowsUsed : 0;
        if (rc == 0 && rows->rowsUsed == 0 && rows->colsUsed == 0) {
            ds_Free(rows.get());
            *rows = block;  // the block moves over whole
        } else {
            if (rc == 0 && got > 0)
                rc = ds_Append(rows.get(), &block);
            ds_Free(&block);
        }
        if (rc != 0)
            return rc;
        if (got < ask)
            break;
    }
    *out = std::move(rows);
    return 0;
}

// Keeps rows [from, from + count) of rows (clipped).
int KeepRows(DatasetPtr* rows, int32_t from, int32_t count) {
    DATASET* all = rows->get();
    from = std::clamp<int32_t>(from, 0, all->rowsUsed);
    count = std::clamp<int32_t>(count, 0, all->rowsUsed - from);
    if (from == 0 && count == all->rowsUsed)
        return 0;
    DATASET* kept = nullptr;
    if (int rc = ds_CloneLayout(&kept, all, std::max(count, 1)); rc != 0)
        return rc;
    DatasetPtr hold(kept);
    for (int32_t i = 0; i < count; ++i)
        if (int rc = ds_CopyRow(kept, all, i, from + i, 0); rc != 0)
            return rc;
    *rows = std::move(hold);
    return 0;
}

// The seek rows of a window: each of its rows with every column (a seek can start from any
// of them); the window's keys keep the key columns alone.
int TakeBoundRows(SCS_STMT* cur, DatasetPtr* window) {
    KSD* ks = cur->keyset;
    ks->boundRows.reset();
    if ((*window)->rowsUsed == 0)
        return 0;
    DATASET* keys = nullptr;
    if (int rc = ds_Clone(&keys, window->get()); rc != 0)
        return rc;
    ks->boundRows = std::move(*window);
    window->reset(keys);
    for (int c = keys->colsUsed - 1; c >= static_cast<int>(KeyCount(cur)); --c)
        ds_DropColumn(keys, c);
    return 0;
}

}  // namespace

int32_t KS_WindowRows(const SCS_STMT* cur) {
    const KSD* ks = cur->keyset;
    return ks != nullptr ? static_cast<int32_t>(ks->rowStatus.size()) : 0;
}

int KS_SeekPredicate(const SCS_STMT* cur, uint16_t orientation, int mode, std::string* text,
                     std::vector<int>* paramCols) {
    std::vector<const SCS_COLDESC*> descs;
    paramCols->clear();
    if (cur->keyset == nullptr || KeyCount(cur) == 0 || cur->keyset->boundRows == nullptr)
        return ERR_GENERAL_ERROR;
    return BuildPredicate(cur, orientation, mode, BoundRow(*cur->keyset->boundRows, orientation, mode), text,
                          paramCols, &descs);
}

int KS_FetchBySeek(SCS_STMT* cur, uint16_t orientation, int32_t offset, int32_t windowSize) {
    KSD* ks = cur->keyset;
    if (ks == nullptr || KeyCount(cur) == 0 || windowSize < 1)
        return ERR_GENERAL_ERROR;
    if (int rc = scs_EnsureAux1(cur); rc != 0)
        return rc;
    const int32_t held = KS_WindowRows(cur);
    if (orientation != KS_SEEK_RELATIVE)
        offset = 0;
    int32_t from = -1;  // the window row the seek starts from; -1 its edge
    int32_t want = windowSize;
    int mode = 0;
    if (orientation == KS_SEEK_RELATIVE) {
        // A move inside the window seeks from its edge and reads the rows up to the target;
        // a longer one seeks past the window.
        const int32_t v = offset;
        const int64_t a = std::llabs(static_cast<int64_t>(v));
        if (v != 0)
            want = static_cast<int32_t>(std::min<int64_t>(a < windowSize ? windowSize + a - 1 : a, INT32_MAX));
        orientation = v < 0 ? KS_SEEK_PRIOR : KS_SEEK_NEXT;
        if (v == 0)
            mode = 3;
        else if (a < windowSize)
            mode = v < 0 && held < windowSize ? 3 : 1;
        // Forward to a row the window holds: the seek starts at that row itself, so that rows
        // others deleted inside the window do not shift the move.
        if (v > 0 && v < held && ks->boundRows != nullptr) {
            from = v;
            mode = 3;
            want = windowSize;
            offset = 0;
        }
    }
    const bool seeks = orientation == KS_SEEK_NEXT || orientation == KS_SEEK_PRIOR;
    if (seeks && ks->boundRows == nullptr)
        return ERR_NO_DATA_FOUND;  // no window to move from

    SCR_STMTINFO& q = cur->analysis2;
    int rc = SCR_AnalyseSQL(&q, cur->text.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
    if (rc == 0)
        rc = KS_AddKeyOrderBy(&q, cur);
    if (rc == 0)
        rc = SCR_SelListSet(&q, SeekSelectList(cur).c_str());
    std::vector<int> paramCols;
    std::vector<const SCS_COLDESC*> paramDescs;
    if (rc == 0 && seeks) {
        std::string predicate;
        if (from < 0)
            from = BoundRow(*ks->boundRows, orientation, mode);
        rc = BuildPredicate(cur, orientation, mode, from, &predicate, &paramCols, &paramDescs);
        if (rc == 0)
            rc = SCR_WhereAdd(&q, predicate.c_str());
    }
    if (rc == 0 && (orientation == KS_SEEK_PRIOR || orientation == KS_SEEK_LAST)) {
        // The key columns were added as text: analysed again, every item turns.
        const char* built = PT_NodeText(q.root);
        std::string again;
        try {
            again = built != nullptr ? built : "";
        } catch (const std::bad_alloc&) {
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
        rc = SCR_AnalyseSQL(&q, again.c_str(), 0, cur->noCatalogs == 0 ? 1 : 0);
        if (rc == 0)
            rc = SCR_OrderByReverse(&q);
    }
    if (rc != 0) {
        LOG_MSG(LOG_DEBUG, "SCR_AnalyseSQL failed: %s", cur->text.c_str());
        return rc;
    }
    DatasetPtr generated;
    std::vector<PARAM_DESC> generatedDescs;
    if (!paramCols.empty()) {
        DATASET* made = nullptr;
        rc = ParamRow(*ks->boundRows, from, paramCols, &made);
        generated.reset(made);
        if (rc == 0)
            rc = KS_WidenTextParams(cur, generated.get());
        if (rc != 0)
            return rc;
        for (const SCS_COLDESC* d : paramDescs)
            generatedDescs.push_back(scs_ParamDescFromColDesc(*d));
    }
    const OA_OPTABLE& agent = AgentOf(cur);
    if (rc = agent.DRV_Prepare(cur->aux1, PT_NodeText(q.root)); rc != 0)
        return rc;
    DATASET* values = nullptr;
    std::vector<PARAM_DESC> descs;
    if (rc = KS_JoinParams(cur, generated.get(), generatedDescs, false, &values, &descs); rc != 0)
        return rc;
    if (values != nullptr) {
        if (rc = agent.DRV_SetParamValues(cur->aux1, values); rc != 0)
            return rc;
    }
    if (cur->needParamDescs != 0 && !descs.empty()) {
        if (rc = agent.DRV_SetParamDescs(cur->aux1, static_cast<uint16_t>(descs.size()), descs.data()); rc != 0)
            return rc;
    }
    if (rc = agent.DRV_Execute(cur->aux1); rc != 0)
        return rc;
    DatasetPtr window;
    rc = FetchUpTo(cur, cur->aux1, want, &window);
    agent.DRV_CloseCursor(cur->aux1);
    if (rc != 0)
        return rc;

    // A relative move keeps the window's rows of the target.
    if (offset != 0) {
        const int64_t a = std::llabs(static_cast<int64_t>(offset));
        const int64_t from = mode == 0 ? a - windowSize : mode == 1 ? a - 1 : std::max<int64_t>(0, held + a - windowSize);
        const int64_t count = mode == 3 ? std::min<int64_t>(windowSize, held + a) : windowSize;
        if (rc = KeepRows(&window, static_cast<int32_t>(std::min<int64_t>(from, INT32_MAX)), static_cast<int32_t>(count));
            rc != 0)
            return rc;
    }
    if (orientation == KS_SEEK_PRIOR || orientation == KS_SEEK_LAST) {
        DATASET* w = window.release();
        rc = ds_Reverse(&w);
        window.reset(w);
        if (rc != 0)
            return rc;
    }
    KS_Close(ks);
    const int32_t got = window->rowsUsed;
    if (got == 0)
        return ERR_NO_DATA_FOUND;
    if (rc = TakeBoundRows(cur, &window); rc != 0)
        return rc;
    if (ks->keys == nullptr) {
        if (rc = SS_Alloc(&ks->keys); rc != 0)
            return rc;
    }
    try {
        ks->rowStatus.assign(static_cast<size_t>(got), KS_ROW_SUCCESS);
    } catch (const std::bad_alloc&) {
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    return SS_Adopt(ks->keys, window.release());
}
