// Row and column operations on datasets, and rowsets.
//
// Every operation that allocates does so before it changes anything, so a failure leaves
// the datasets as they were; blocks are freed only once their new owner is settled.
#include "util/dsrow.h"

#include <sqlext.h>

#include <algorithm>
#include <cstring>

#include "util/errcode.h"
#include "util/utheap.h"

namespace {

struct Span {
    const unsigned char* p;
    size_t n;
};

DS_REFVAL GetRef(const DATASET_COL* col, int32_t row) {
    DS_REFVAL ref;
    std::memcpy(&ref, ds_Elem(col, row), sizeof ref);
    return ref;
}

void SetRef(DATASET_COL* col, int32_t row, DS_REFVAL ref) {
    std::memcpy(ds_Elem(col, row), &ref, sizeof ref);
}

size_t RefBytes(int32_t type, uint32_t length) {
    return type == DS_LONGWCHAR ? static_cast<size_t>(length) * 2 : length;
}

uint32_t ReadU32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

int32_t ReadI32(const unsigned char* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void WriteI32(unsigned char* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

// Length after a prefix of the given size, bounded by the room left in the element.
Span Prefixed(const unsigned char* e, size_t width, size_t prefix, size_t length) {
    if (width < prefix)
        return {e, 0};
    return {e + prefix, std::min(length, width - prefix)};
}

size_t WideUnitsBefore0(const unsigned char* e, size_t units) {
    size_t k = 0;
    while (k < units && (e[2 * k] != 0 || e[2 * k + 1] != 0))
        ++k;
    return k;
}

// The bytes of a row's value by its type's length rule, never past its element (or, by
// reference, past the stored length).
Span ValueSpan(const DATASET_COL* col, int32_t row) {
    const unsigned char* e = ds_Elem(col, row);
    size_t w = col->width;
    switch (col->type) {
    case DS_LONGCHAR:
    case DS_LONGBINARY:
    case DS_LONGWCHAR: {
        if (!ds_ColHoldsRefs(col))
            return {e, 0};
        DS_REFVAL ref = GetRef(col, row);
        if (ref.data == nullptr)
            return {nullptr, 0};
        return {static_cast<const unsigned char*>(ref.data), RefBytes(col->type, ref.length)};
    }
    case DS_CHARZ:
        return {e, strnlen(reinterpret_cast<const char*>(e), w)};
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        return Prefixed(e, w, 1, w >= 1 ? e[0] : 0);
    case DS_VARCHAR16:
    case DS_VARBINARY16: {
        uint16_t len = 0;
        if (w >= 2)
            std::memcpy(&len, e, sizeof len);
        return Prefixed(e, w, 2, len);
    }
    case DS_VARCHAR32:
    case DS_VARBINARY32: {
        int32_t len = w >= 4 ? ReadI32(e) : 0;
        return Prefixed(e, w, 4, len < 0 ? 0 : static_cast<size_t>(len));
    }
    case DS_WCHARZ:
        return {e, 2 * WideUnitsBefore0(e, w / 2)};
    case DS_WVARCHAR32: {
        int32_t count = w >= 4 ? ReadI32(e) : 0;
        Span s = Prefixed(e, w, 4, count < 0 ? 0 : 2 * static_cast<size_t>(count));
        s.n &= ~static_cast<size_t>(1);  // whole characters only
        return s;
    }
    default:
        return {e, w};
    }
}

bool SameLayout(const DATASET_COL& a, const DATASET_COL& b) {
    return a.type == b.type && a.width == b.width;
}

bool HasArrays(const DATASET_COL& c) { return c.data != nullptr && c.indicators != nullptr; }

// The counts agree (callers may set them themselves) and every used column has arrays
// when rows are allocated.
bool Consistent(const DATASET* ds) {
    if (ds->rowsUsed < 0 || ds->rowsUsed > ds->rowsAllocated ||
        ds->colsUsed > ds->colsAllocated || (ds->colsUsed != 0 && ds->cols == nullptr))
        return false;
    if (ds->rowsAllocated == 0)
        return true;
    for (uint16_t c = 0; c < ds->colsUsed; ++c) {
        if (!HasArrays(ds->cols[c]))
            return false;
    }
    return true;
}

// A duplicate of a row's block for a copy; null when the row is NULL or has no block.
// Sets *failed when the duplicate could not be made.
void* DupBlock(const DATASET_COL* col, int32_t row, bool* failed) {
    DS_REFVAL ref = GetRef(col, row);
    if (ref.data == nullptr || col->indicators[row] == DS_IND_NULL)
        return nullptr;
    void* copy = uh_MemDup(ref.data, RefBytes(col->type, ref.length));
    if (copy == nullptr)
        *failed = true;
    return copy;
}

// Copies rows [0, n) of src into the fresh arrays of dst (same layout, at least n rows,
// blocks all null), duplicating blocks. On failure dst keeps the blocks made so far, so a
// ds_ColFree of dst releases them.
int CopyColumnRows(DATASET_COL* dst, const DATASET_COL* src, int32_t n) {
    std::memcpy(dst->indicators, src->indicators, static_cast<size_t>(n) * sizeof(int16_t));
    if (!ds_ColHoldsRefs(src)) {
        std::memcpy(dst->data, src->data, static_cast<size_t>(n) * src->width);
        return 0;
    }
    for (int32_t r = 0; r < n; ++r) {
        bool failed = false;
        void* copy = DupBlock(src, r, &failed);
        if (failed)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        std::memcpy(ds_Elem(dst, r), ds_Elem(src, r), src->width);
        DS_REFVAL ref = GetRef(src, r);
        SetRef(dst, r, DS_REFVAL{copy != nullptr ? ref.length : 0, copy});
    }
    return 0;
}

}  // namespace

// --- rows -----------------------------------------------------------------------------

int ds_InsertRow(DATASET* ds, int32_t pos) {
    if (ds == nullptr || ds->colsUsed == 0 || ds->rowsUsed >= ds->rowsAllocated || pos < 0 ||
        pos > ds->rowsUsed || !Consistent(ds))
        return ERR_GENERAL_ERROR;
    int32_t last = ds->rowsUsed;  // the spare row that the shift moves into
    for (uint16_t c = 0; c < ds->colsUsed; ++c) {
        DATASET_COL* col = &ds->cols[c];
        // The spare row may still hold a block of a row dropped earlier.
        if (ds_ColHoldsRefs(col))
            uh_Free(GetRef(col, last).data);
        size_t moved = static_cast<size_t>(last - pos);
        std::memmove(ds_Elem(col, pos + 1), ds_Elem(col, pos), moved * col->width);
        std::memmove(col->indicators + pos + 1, col->indicators + pos, moved * sizeof(int16_t));
        std::memset(ds_Elem(col, pos), 0, col->width);
        col->indicators[pos] = DS_IND_NULL;
    }
    ++ds->rowsUsed;
    return 0;
}

int ds_CompareRows(const DATASET* a, int32_t rowA, const DATASET* b, int32_t rowB,
                   int* equal) {
    if (a == nullptr || b == nullptr || equal == nullptr || rowA < 0 || rowB < 0 ||
        rowA >= a->rowsUsed || rowB >= b->rowsUsed || a->colsUsed != b->colsUsed ||
        !Consistent(a) || !Consistent(b))
        return ERR_GENERAL_ERROR;
    for (uint16_t c = 0; c < a->colsUsed; ++c) {
        if (!SameLayout(a->cols[c], b->cols[c]))
            return ERR_GENERAL_ERROR;
    }
    *equal = 0;
    for (uint16_t c = 0; c < a->colsUsed; ++c) {
        const DATASET_COL* ca = &a->cols[c];
        const DATASET_COL* cb = &b->cols[c];
        int16_t ia = ca->indicators[rowA];
        int16_t ib = cb->indicators[rowB];
        if (ia != ib && (ia < 0 || ib < 0))
            return 0;
        if (ia == DS_IND_NULL)
            continue;
        Span sa = ValueSpan(ca, rowA);
        Span sb = ValueSpan(cb, rowB);
        if (sa.n != sb.n || (sa.n != 0 && std::memcmp(sa.p, sb.p, sa.n) != 0))
            return 0;
    }
    *equal = 1;
    return 0;
}

int ds_Clone(DATASET** out, const DATASET* src) {
    if (out == nullptr || src == nullptr || src->colsUsed > src->colsAllocated ||
        !Consistent(src))
        return ERR_GENERAL_ERROR;
    *out = nullptr;
    DatasetPtr clone(static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))));
    if (!clone || ds_Init(clone.get(), src->colsAllocated) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (src->rowsUsed > 0) {
        for (uint16_t c = 0; c < src->colsUsed; ++c) {
            clone->cols[c].type = src->cols[c].type;
            clone->cols[c].width = src->cols[c].width;
        }
        clone->colsUsed = src->colsUsed;
        if (int rc = ds_AllocRows(clone.get(), src->rowsUsed); rc != 0)
            return rc;
        for (uint16_t c = 0; c < src->colsUsed; ++c) {
            if (int rc = CopyColumnRows(&clone->cols[c], &src->cols[c], src->rowsUsed); rc != 0)
                return rc;
        }
        clone->rowsUsed = src->rowsUsed;
    }
    *out = clone.release();
    return 0;
}

int ds_CopyRow(DATASET* dst, DATASET* src, int32_t dstRow, int32_t srcRow, int takeOver) {
    if (dst == nullptr || src == nullptr || dst->colsUsed != src->colsUsed ||
        src->rowsUsed <= 0 || srcRow < 0 || srcRow >= src->rowsUsed || dstRow < 0 ||
        !Consistent(dst) || !Consistent(src))
        return ERR_GENERAL_ERROR;
    int32_t row = dstRow;
    bool append = false;
    if (dstRow >= dst->rowsUsed) {
        if (dstRow >= dst->rowsAllocated)
            return ERR_GENERAL_ERROR;
        row = dst->rowsUsed;
        append = true;
    }
    uint16_t n = src->colsUsed;
    for (uint16_t c = 0; c < n; ++c) {
        if (!SameLayout(dst->cols[c], src->cols[c]))
            return ERR_GENERAL_ERROR;
    }
    if (dst == src && row == srcRow)
        return 0;

    // Duplicates first, so that running out of memory changes nothing.
    void** copies = nullptr;
    if (!takeOver) {
        copies = static_cast<void**>(uh_Calloc(n, sizeof(void*)));
        if (copies == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        bool failed = false;
        for (uint16_t c = 0; c < n && !failed; ++c) {
            if (ds_ColHoldsRefs(&src->cols[c]))
                copies[c] = DupBlock(&src->cols[c], srcRow, &failed);
        }
        if (failed) {
            for (uint16_t c = 0; c < n; ++c)
                uh_Free(copies[c]);
            uh_Free(copies);
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }

    for (uint16_t c = 0; c < n; ++c) {
        DATASET_COL* d = &dst->cols[c];
        DATASET_COL* s = &src->cols[c];
        bool refs = ds_ColHoldsRefs(d);
        if (refs)
            uh_Free(GetRef(d, row).data);
        std::memcpy(ds_Elem(d, row), ds_Elem(s, srcRow), d->width);
        d->indicators[row] = s->indicators[srcRow];
        if (!refs)
            continue;
        DS_REFVAL ref = GetRef(s, srcRow);
        if (takeOver) {
            ref.data = nullptr;  // the destination owns the block now
            SetRef(s, srcRow, ref);
        } else {
            SetRef(d, row, DS_REFVAL{copies[c] != nullptr ? ref.length : 0, copies[c]});
        }
    }
    uh_Free(copies);
    if (append)
        ++dst->rowsUsed;
    return 0;
}

int ds_Append(DATASET* ds, DATASET* other) {
    if (ds == nullptr || other == nullptr || ds == other)
        return ERR_GENERAL_ERROR;
    if (other->rowsUsed == 0)
        return 0;
    if (ds->colsUsed != other->colsUsed || !Consistent(ds) || !Consistent(other))
        return ERR_GENERAL_ERROR;
    uint16_t n = ds->colsUsed;
    for (uint16_t c = 0; c < n; ++c) {
        if (!SameLayout(ds->cols[c], other->cols[c]))
            return ERR_GENERAL_ERROR;
    }
    int32_t sum;
    if (__builtin_add_overflow(ds->rowsUsed, other->rowsUsed, &sum))
        return ERR_MEMORY_ALLOCATION_FAILURE;

    // All new arrays first: a failure leaves the dataset as it was.
    auto* fresh = static_cast<DATASET_COL*>(uh_Calloc(n, sizeof(DATASET_COL)));
    if (fresh == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (uint16_t c = 0; c < n; ++c) {
        fresh[c].type = ds->cols[c].type;
        fresh[c].width = ds->cols[c].width;
        if (ds_ColAllocRows(&fresh[c], sum) != 0) {
            for (uint16_t k = 0; k < c; ++k)
                ds_ColFree(&fresh[k], 0);
            uh_Free(fresh);
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
    }

    int32_t mine = ds->rowsUsed;
    int32_t theirs = other->rowsUsed;
    for (uint16_t c = 0; c < n; ++c) {
        DATASET_COL* d = &ds->cols[c];
        DATASET_COL* o = &other->cols[c];
        DATASET_COL* f = &fresh[c];
        size_t w = d->width;
        if (mine > 0) {
            std::memcpy(f->data, d->data, static_cast<size_t>(mine) * w);
            std::memcpy(f->indicators, d->indicators, static_cast<size_t>(mine) * sizeof(int16_t));
        }
        std::memcpy(ds_Elem(f, mine), o->data, static_cast<size_t>(theirs) * w);
        std::memcpy(f->indicators + mine, o->indicators,
                    static_cast<size_t>(theirs) * sizeof(int16_t));
        if (ds_ColHoldsRefs(d)) {
            // The moved rows' blocks now belong to the fresh arrays; blocks left in the
            // dataset's spare rows go with the old arrays.
            for (int32_t r = 0; r < theirs; ++r) {
                DS_REFVAL ref = GetRef(o, r);
                ref.data = nullptr;
                SetRef(o, r, ref);
            }
            if (d->data != nullptr) {
                for (int32_t r = mine; r < ds->rowsAllocated; ++r)
                    uh_Free(GetRef(d, r).data);
            }
        }
        uh_Free(d->data);
        uh_Free(d->indicators);
        d->data = f->data;
        d->indicators = f->indicators;
    }
    uh_Free(fresh);
    ds->rowsUsed = sum;
    ds->rowsAllocated = sum;
    return 0;
}

int ds_JoinColumns(DATASET* ds, DATASET* other) {
    if (ds == nullptr || other == nullptr || ds == other || ds->cols == nullptr ||
        other->cols == nullptr)
        return ERR_GENERAL_ERROR;
    // Both sides' arrays must cover the same rows, or the joined columns would disagree.
    if (ds->rowsUsed != other->rowsUsed || ds->rowsAllocated != other->rowsAllocated)
        return ERR_GENERAL_ERROR;
    uint32_t total = static_cast<uint32_t>(ds->colsUsed) + other->colsUsed;
    if (total > UINT16_MAX)
        return ERR_GENERAL_ERROR;
    auto* cols = static_cast<DATASET_COL*>(uh_Calloc(total, sizeof(DATASET_COL)));
    if (cols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (uint16_t c = 0; c < other->colsUsed; ++c) {
        cols[c] = other->cols[c];
        other->cols[c].data = nullptr;
        other->cols[c].indicators = nullptr;
    }
    for (uint16_t c = 0; c < ds->colsUsed; ++c)
        cols[other->colsUsed + c] = ds->cols[c];
    for (uint16_t c = ds->colsUsed; c < ds->colsAllocated; ++c)
        ds_ColFree(&ds->cols[c], ds->rowsAllocated);
    uh_Free(ds->cols);
    ds->cols = cols;
    ds->colsAllocated = static_cast<uint16_t>(total);
    ds->colsUsed = static_cast<uint16_t>(total);
    return 0;
}

int ds_CloneLayout(DATASET** out, const DATASET* model, int32_t rows) {
    if (out == nullptr || model == nullptr || rows < 0 || model->colsUsed > model->colsAllocated)
        return ERR_GENERAL_ERROR;
    // The layout is taken first: the slot may hold the model itself.
    uint16_t colsAllocated = model->colsAllocated;
    uint16_t colsUsed = model->colsUsed;
    auto* layout = static_cast<DATASET_COL*>(uh_Calloc(colsUsed, sizeof(DATASET_COL)));
    if (layout == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    for (uint16_t c = 0; c < colsUsed; ++c) {
        layout[c].type = model->cols[c].type;
        layout[c].width = model->cols[c].width;
    }
    bool fresh = *out == nullptr;
    DATASET* ds = fresh ? static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET))) : *out;
    int rc = ERR_MEMORY_ALLOCATION_FAILURE;
    if (ds != nullptr) {
        if (!fresh)
            ds_Free(ds);
        rc = ds_Init(ds, colsAllocated);
        if (rc == 0) {
            for (uint16_t c = 0; c < colsUsed; ++c)
                ds->cols[c] = layout[c];
            ds->colsUsed = colsUsed;
            rc = ds_AllocRows(ds, rows);
        }
        if (rc != 0 && fresh)
            DatasetDeleter{}(ds);
        else
            *out = ds;
    }
    uh_Free(layout);
    return rc;
}

int ds_Reverse(DATASET** slot) {
    if (slot == nullptr || *slot == nullptr)
        return ERR_GENERAL_ERROR;
    DATASET* src = *slot;
    DATASET* reversed = nullptr;
    if (int rc = ds_CloneLayout(&reversed, src, src->rowsAllocated); rc != 0)
        return rc;
    DatasetPtr guard(reversed);
    for (int32_t i = 0; i < src->rowsUsed; ++i) {
        if (int rc = ds_CopyRow(reversed, src, i, src->rowsUsed - 1 - i, 0); rc != 0)
            return rc;
    }
    guard.release();
    DatasetDeleter{}(src);
    *slot = reversed;
    return 0;
}

// --- columns --------------------------------------------------------------------------

int ds_DropColumn(DATASET* ds, int col) {
    if (ds == nullptr || col < 0 || col >= ds->colsUsed)
        return ERR_GENERAL_ERROR;
    ds_ColFree(&ds->cols[col], ds->rowsAllocated);
    std::memmove(&ds->cols[col], &ds->cols[col + 1],
                 static_cast<size_t>(ds->colsUsed - col - 1) * sizeof(DATASET_COL));
    --ds->colsUsed;
    ds->cols[ds->colsUsed] = DATASET_COL{};
    return 0;
}

int ds_GetColType(const DATASET* ds, int col, int32_t* type, uint32_t* width) {
    if (ds == nullptr || col < 0 || col >= ds->colsUsed)
        return ERR_GENERAL_ERROR;
    if (type != nullptr)
        *type = ds->cols[col].type;
    if (width != nullptr)
        *width = ds->cols[col].width;
    return 0;
}

int ds_InsertColumn(DATASET* ds, int pos, int32_t type, uint32_t width) {
    if (ds == nullptr || pos < 0 || pos > ds->colsUsed || ds->colsUsed == UINT16_MAX)
        return ERR_GENERAL_ERROR;
    // Arrays for every allocated row: later appends and frees walk that many.
    DATASET_COL added{type, width, nullptr, nullptr};
    if (ds_ColAllocRows(&added, ds->rowsAllocated) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    uint16_t total = static_cast<uint16_t>(ds->colsUsed + 1);
    auto* cols = static_cast<DATASET_COL*>(uh_Calloc(total, sizeof(DATASET_COL)));
    if (cols == nullptr) {
        ds_ColFree(&added, 0);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    for (int c = 0; c < pos; ++c)
        cols[c] = ds->cols[c];
    cols[pos] = added;
    for (int c = pos; c < ds->colsUsed; ++c)
        cols[c + 1] = ds->cols[c];
    for (uint16_t c = ds->colsUsed; c < ds->colsAllocated; ++c)
        ds_ColFree(&ds->cols[c], ds->rowsAllocated);
    uh_Free(ds->cols);
    ds->cols = cols;
    ds->colsAllocated = total;
    ds->colsUsed = total;
    return 0;
}

int ds_CopyColumn(DATASET* dst, int dstCol, const DATASET* src, int srcCol) {
    if (dst == nullptr || src == nullptr || (dst == src && dstCol == srcCol) || dstCol < 0 ||
        srcCol < 0 || dstCol >= dst->colsUsed || srcCol >= src->colsUsed)
        return ERR_GENERAL_ERROR;
    if (dst->rowsUsed != 0 && dst->rowsUsed != src->rowsUsed)
        return ERR_GENERAL_ERROR;
    const DATASET_COL* s = &src->cols[srcCol];
    if (!SameLayout(dst->cols[dstCol], *s))
        return ERR_GENERAL_ERROR;
    if (src->rowsUsed == 0)
        return 0;
    if (!HasArrays(*s) || !Consistent(dst) || !Consistent(src))
        return ERR_GENERAL_ERROR;
    bool takesRows = dst->rowsUsed == 0;
    // A destination without rows can take the source's rows only when no other column of
    // it would then claim rows it has no arrays for.
    if (takesRows && dst->colsUsed != 1)
        return ERR_GENERAL_ERROR;
    int32_t rows = takesRows ? src->rowsUsed : dst->rowsAllocated;

    DATASET_COL copy{s->type, s->width, nullptr, nullptr};
    if (ds_ColAllocRows(&copy, rows) != 0)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (CopyColumnRows(&copy, s, src->rowsUsed) != 0) {
        ds_ColFree(&copy, rows);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    DATASET_COL* d = &dst->cols[dstCol];
    ds_ColFree(d, dst->rowsAllocated);
    d->data = copy.data;
    d->indicators = copy.indicators;
    if (takesRows) {
        dst->rowsUsed = src->rowsUsed;
        dst->rowsAllocated = src->rowsUsed;
    }
    return 0;
}

int ds_GetValue(const DATASET* ds, int col, int32_t row, void* buf, size_t* length) {
    if (ds == nullptr || buf == nullptr || length == nullptr || col < 0 ||
        col >= ds->colsUsed || row < 0 || row >= ds->rowsUsed || !Consistent(ds) ||
        !HasArrays(ds->cols[col]))
        return ERR_GENERAL_ERROR;
    if (*length == 0)
        return 0;
    const DATASET_COL* c = &ds->cols[col];
    if (c->indicators[row] == DS_IND_NULL) {
        *length = 0;
        return 0;
    }
    Span v = ValueSpan(c, row);
    size_t n = std::min(v.n, *length);
    if (n != 0)
        std::memcpy(buf, v.p, n);
    *length = n;
    return 0;
}

// --- whole-dataset conversions --------------------------------------------------------

int ds_WideToAnsi(DATASET* ds, NarrowCode code) {
    if (ds == nullptr || !Consistent(ds))
        return ERR_GENERAL_ERROR;
    // Every column is checked before any changes, so a refusal leaves the dataset whole.
    auto units = [](const DATASET_COL* col, int32_t r) -> Span {
        if (col->type == DS_LONGWCHAR) {
            const DS_REFVAL ref = ds_ColHoldsRefs(col) ? GetRef(col, r) : DS_REFVAL{0, nullptr};
            return {static_cast<const unsigned char*>(ref.data), ref.data != nullptr ? ref.length : 0u};
        }
        if (col->type == DS_WVARCHAR32) {
            const Span s = ValueSpan(col, r);
            return {s.p, s.n / 2};
        }
        return {ds_Elem(col, r), WideUnitsBefore0(ds_Elem(col, r), col->width / 2)};
    };
    auto isWide = [](int32_t t) { return t == DS_WCHAR || t == DS_WCHARZ || t == DS_LONGWCHAR || t == DS_WVARCHAR32; };
    for (uint16_t c = 0; c < ds->colsUsed; ++c) {
        const DATASET_COL* col = &ds->cols[c];
        if (!isWide(col->type))
            continue;
        for (int32_t r = 0; r < ds->rowsUsed; ++r) {
            if (col->indicators[r] == DS_IND_NULL)
                continue;
            const Span u = units(col, r);
            // Whole units of an aligned element or block.
            if (ut_Ucs2LoneSurrogate(reinterpret_cast<const SQLWCHAR*>(u.p), static_cast<SQLLEN>(u.n)) >= 0)
                return ERR_INVALID_CHARACTER_VALUE_FOR_CAST_SPECIFICATION;
        }
    }
    for (uint16_t c = 0; c < ds->colsUsed; ++c) {
        DATASET_COL* col = &ds->cols[c];
        if (!isWide(col->type))
            continue;
        auto narrowOf = [&](const Span& u, char* dest, size_t limit) {
            return static_cast<size_t>(ut_Ucs2ToNarrowN(reinterpret_cast<const SQLWCHAR*>(u.p),
                                                        static_cast<SQLLEN>(u.n), dest,
                                                        static_cast<SQLLEN>(limit), nullptr, code));
        };
        if (col->type == DS_LONGWCHAR) {
            // Each block replaced by its narrow copy; the element keeps its reference.
            for (int32_t r = 0; r < ds->rowsUsed && ds_ColHoldsRefs(col); ++r) {
                const DS_REFVAL ref = GetRef(col, r);
                if (col->indicators[r] == DS_IND_NULL || ref.data == nullptr)
                    continue;
                const Span u = units(col, r);
                const size_t n = narrowOf(u, nullptr, INT64_MAX);
                auto* block = static_cast<char*>(uh_Malloc(n + 1));
                if (block == nullptr)
                    return ERR_MEMORY_ALLOCATION_FAILURE;
                narrowOf(u, block, n);
                block[n] = '\0';
                uh_Free(ref.data);
                SetRef(col, r, DS_REFVAL{static_cast<uint32_t>(n), block});
            }
            col->type = DS_LONGCHAR;
            continue;
        }
        // The narrow form can be longer than the wide one (three UTF-8 bytes for one unit):
        // the column takes elements sized by its longest value.
        const bool prefixed = col->type == DS_WVARCHAR32;
        size_t longest = 0;
        for (int32_t r = 0; r < ds->rowsUsed; ++r)
            if (col->indicators[r] != DS_IND_NULL)
                longest = std::max(longest, narrowOf(units(col, r), nullptr, INT64_MAX));
        const size_t width = prefixed ? 4 + longest : longest + 1;
        if (width > UINT32_MAX)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        unsigned char* data = nullptr;
        if (ds->rowsAllocated > 0) {
            size_t bytes;
            if (__builtin_mul_overflow(static_cast<size_t>(ds->rowsAllocated), width, &bytes) ||
                (data = static_cast<unsigned char*>(uh_Calloc(bytes + 1, 1))) == nullptr)
                return ERR_MEMORY_ALLOCATION_FAILURE;
        }
        for (int32_t r = 0; r < ds->rowsUsed; ++r) {
            if (col->indicators[r] == DS_IND_NULL)
                continue;
            unsigned char* e = data + static_cast<size_t>(r) * width;
            char* text = reinterpret_cast<char*>(prefixed ? e + 4 : e);
            const size_t n = narrowOf(units(col, r), text, longest);
            if (prefixed)
                WriteI32(e, static_cast<int32_t>(n));
        }
        uh_Free(col->data);
        col->data = data;
        col->width = static_cast<uint32_t>(width);
        col->type = prefixed ? DS_VARCHAR32 : DS_CHARZ;
    }
    return 0;
}

int ds_ApplyMaxLength(DATASET* ds, uint32_t max) {
    if (ds == nullptr || !Consistent(ds))
        return ERR_GENERAL_ERROR;
    // Fixed-size columns whose values can exceed max get an i32 length before the data.
    for (uint16_t c = 0; c < ds->colsUsed; ++c) {
        DATASET_COL* col = &ds->cols[c];
        bool wide = col->type == DS_WCHAR;
        if (col->type != DS_CHAR && col->type != DS_BINARY && !wide)
            continue;
        uint32_t size = wide ? col->width / 2 : col->width;  // characters or bytes
        if (size <= max)
            continue;
        int32_t type = col->type == DS_CHAR ? DS_VARCHAR32
                       : col->type == DS_BINARY ? DS_VARBINARY32 : DS_WVARCHAR32;
        uint32_t width = ds_TypeWidth(type, size + 1);
        size_t valueBytes = wide ? size_t{size} * 2 : size;
        unsigned char* data = nullptr;
        if (ds->rowsAllocated > 0) {
            size_t bytes;
            if (__builtin_mul_overflow(static_cast<size_t>(ds->rowsAllocated), size_t{width},
                                       &bytes) ||
                (data = static_cast<unsigned char*>(uh_Calloc(bytes + 1, 1))) == nullptr)
                return ERR_MEMORY_ALLOCATION_FAILURE;
            for (int32_t r = 0; r < ds->rowsUsed; ++r) {
                if (col->indicators[r] == DS_IND_NULL)
                    continue;
                unsigned char* e = data + static_cast<size_t>(r) * width;
                WriteI32(e, static_cast<int32_t>(size));
                std::memcpy(e + 4, ds_Elem(col, r), valueBytes);
            }
        }
        uh_Free(col->data);
        col->data = data;
        col->type = type;
        col->width = width;
    }

    for (uint16_t c = 0; c < ds->colsUsed; ++c) {
        DATASET_COL* col = &ds->cols[c];
        for (int32_t r = 0; r < ds->rowsUsed; ++r) {
            if (col->indicators[r] == DS_IND_NULL)
                continue;
            unsigned char* e = ds_Elem(col, r);
            switch (col->type) {
            case DS_VARCHAR8:
            case DS_VARBINARY8:
                if (col->width >= 1 && e[0] > max)
                    e[0] = static_cast<unsigned char>(max);
                break;
            case DS_VARCHAR16:
            case DS_VARBINARY16:
                if (col->width >= 2) {
                    uint16_t len;
                    std::memcpy(&len, e, sizeof len);
                    if (len > max) {
                        len = static_cast<uint16_t>(max);
                        std::memcpy(e, &len, sizeof len);
                    }
                }
                break;
            case DS_VARCHAR32:
            case DS_VARBINARY32:
            case DS_WVARCHAR32:
                if (col->width >= 4 && ReadI32(e) > 0 && ReadU32(e) > max)
                    WriteI32(e, static_cast<int32_t>(max));
                break;
            case DS_LONGCHAR:
            case DS_LONGBINARY:
            case DS_LONGWCHAR:
                if (ds_ColHoldsRefs(col)) {
                    DS_REFVAL ref = GetRef(col, r);
                    if (ref.length > max) {
                        ref.length = max;
                        SetRef(col, r, ref);
                    }
                }
                break;
            case DS_CHARZ:
                if (ValueSpan(col, r).n > max)
                    e[max] = 0;
                break;
            case DS_WCHARZ:
                if (ValueSpan(col, r).n / 2 > max) {
                    e[2 * size_t{max}] = 0;
                    e[2 * size_t{max} + 1] = 0;
                }
                break;
            default:
                break;
            }
        }
    }
    return 0;
}

// --- rowsets --------------------------------------------------------------------------

int ds_RowsetAllocContents(DS_ROWSET* rowset, int32_t n) {
    if (rowset == nullptr || n <= 0)
        return ERR_GENERAL_ERROR;
    auto* status = static_cast<int16_t*>(uh_Malloc(static_cast<size_t>(n) * sizeof(int16_t)));
    auto* rows = static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET)));
    if (status == nullptr || rows == nullptr) {
        uh_Free(status);
        uh_Free(rows);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    for (int32_t i = 0; i < n; ++i)
        status[i] = SQL_ROW_NOROW;
    ds_RowsetFreeContents(rowset);
    rowset->rowStatus = status;
    rowset->rows = rows;  // zeroed: no columns, no rows
    rowset->rowCount = n;
    return 0;
}

void ds_RowsetFreeContents(DS_ROWSET* rowset) {
    if (rowset == nullptr)
        return;
    if (rowset->rows != nullptr)
        DatasetDeleter{}(rowset->rows);
    uh_Free(rowset->rowStatus);
    rowset->rows = nullptr;
    rowset->rowStatus = nullptr;
    rowset->rowCount = 0;
}

int ds_RowsetNew(DS_ROWSET** out, int32_t n) {
    if (out == nullptr || n <= 0)
        return ERR_GENERAL_ERROR;
    auto* rowset = static_cast<DS_ROWSET*>(uh_Calloc(1, sizeof(DS_ROWSET)));
    if (rowset == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    if (int rc = ds_RowsetAllocContents(rowset, n); rc != 0) {
        uh_Free(rowset);
        return rc;
    }
    *out = rowset;
    return 0;
}

void ds_RowsetFree(DS_ROWSET** slot) {
    if (slot == nullptr || *slot == nullptr)
        return;
    ds_RowsetFreeContents(*slot);
    uh_Free(*slot);
    *slot = nullptr;
}
