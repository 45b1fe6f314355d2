// Datasets: set-up and release, element widths, column descriptions, column attributes,
// text lists and the narrow output copies.
#include "util/dataset.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "util/errcode.h"
#include "util/uthash.h"
#include "util/utheap.h"

namespace {

uint32_t RoundUp(uint64_t n, uint64_t to) {
    uint64_t r = (n + to - 1) / to * to;
    // Declared sizes come from the server and stay far below this; an absurd one gives a
    // width that no allocation can satisfy rather than a wrapped, too small one.
    return r > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(r);
}

void FreeRefBlocks(DATASET_COL* col, int32_t rows) {
    if (col->data == nullptr || !ds_ColHoldsRefs(col))
        return;
    for (int32_t r = 0; r < rows; ++r) {
        DS_REFVAL ref;
        std::memcpy(&ref, ds_Elem(col, r), sizeof ref);
        uh_Free(ref.data);
    }
}

// Whether two attribute values are the same (the compaction's duplicate test).
bool SameValue(const COLATTR& a, const COLATTR& b) {
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case COLATTR_INT:
    case COLATTR_INT2:
        return a.value.i == b.value.i;
    case COLATTR_DOUBLE:
        return a.value.d == b.value.d;  // NaN never equals
    case COLATTR_TEXT:
        return a.value.text == b.value.text;
    default:
        return false;
    }
}

// One pass of the compaction; writes into out (up to capacity) when given. Returns the
// number of entries kept.
int32_t CompactPass(int32_t n, const COLATTR* entries, COLATTR* out, int32_t capacity) {
    int32_t kept = 0;
    int current = std::abs(static_cast<int>(entries[0].attribute));
    const COLATTR* reference = nullptr;
    for (int32_t i = 0; i < n; ++i) {
        const COLATTR& e = entries[i];
        if (e.attribute < 0)
            continue;
        if (e.attribute != current) {
            current = e.attribute;
            reference = nullptr;
        }
        bool keep;
        if (e.column == 0) {
            keep = true;
            reference = &e;
        } else {
            keep = reference == nullptr || !SameValue(e, *reference);
        }
        if (!keep)
            continue;
        if (out != nullptr) {
            if (kept == capacity)
                break;
            out[kept] = e;
        }
        ++kept;
    }
    return kept;
}

uint32_t AttrKey(int attribute, int column) {
    return static_cast<uint32_t>(static_cast<uint16_t>(attribute)) << 16 |
           static_cast<uint16_t>(column);
}

const COLATTR* FindAttr(const UT_HASH* hash, uint32_t key, int attribute, int column) {
    auto* e = static_cast<const COLATTR*>(ut_HashFind(hash, &key));
    if (e == nullptr || e->attribute != attribute || e->attribute < 0)
        return nullptr;
    if (e->column != column && e->column != 0)
        return nullptr;
    return e;
}

}  // namespace

// --- dataset core ---------------------------------------------------------------------

int ds_Init(DATASET* ds, uint16_t nCols) {
    if (ds == nullptr)
        return ERR_GENERAL_ERROR;
    *ds = DATASET{};
    if (nCols == 0)
        return 0;
    auto* cols = static_cast<DATASET_COL*>(uh_Calloc(nCols, sizeof(DATASET_COL)));
    if (cols == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    ds->cols = cols;
    ds->colsAllocated = nCols;
    return 0;
}

uint32_t ds_TypeWidth(int32_t type, uint32_t n) {
    uint64_t n64 = n;
    switch (type) {
    case DS_NONE:
    case DS_BIT:
    case DS_STINYINT:
    case DS_UTINYINT:
        return 1;
    case DS_SSHORT:
    case DS_USHORT:
        return 2;
    case DS_SLONG:
    case DS_ULONG:
    case DS_FLOAT:
        return 4;
    case DS_DOUBLE:
    case DS_SBIGINT:
        return 8;
    case DS_DATE:
    case DS_TIME:
        return 6;
    case DS_TIMESTAMP:
    case DS_LONGCHAR:
    case DS_LONGBINARY:
    case DS_LONGWCHAR:
        return 16;
    case DS_CHARZ:
    case DS_VARCHAR8:
    case DS_VARBINARY8:
        return RoundUp(n64 + 1, 1);
    case DS_VARCHAR16:
    case DS_VARBINARY16:
        return RoundUp(n64 + 2, 2);
    case DS_VARCHAR32:
    case DS_VARBINARY32:
        return RoundUp(n64 + 4, 4);
    case DS_WCHAR:
        return RoundUp(2 * n64, 1);
    case DS_WCHARZ:
        return RoundUp(2 * n64 + 2, 1);
    case DS_WVARCHAR32:
        return RoundUp(2 * n64 + 4, 4);
    default:  // 1, 14 and unknown codes
        return n;
    }
}

int ds_ColAllocRows(DATASET_COL* col, int32_t rows) {
    if (col == nullptr || rows < 0 || col->data != nullptr || col->indicators != nullptr)
        return ERR_GENERAL_ERROR;
    if (rows == 0)
        return 0;
    size_t bytes;
    if (__builtin_mul_overflow(static_cast<size_t>(rows), static_cast<size_t>(col->width),
                               &bytes) ||
        bytes == SIZE_MAX)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    auto* data = static_cast<unsigned char*>(uh_Calloc(bytes + 1, 1));
    auto* ind = static_cast<int16_t*>(uh_Malloc(static_cast<size_t>(rows) * sizeof(int16_t)));
    if (data == nullptr || ind == nullptr) {
        uh_Free(data);
        uh_Free(ind);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    for (int32_t r = 0; r < rows; ++r)
        ind[r] = DS_IND_NULL;
    col->data = data;
    col->indicators = ind;
    return 0;
}

int ds_AllocRows(DATASET* ds, int32_t rows) {
    if (ds == nullptr || rows < 0)
        return ERR_GENERAL_ERROR;
    if (ds->colsUsed > ds->colsAllocated)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    // Arrays from an earlier allocation would be overwritten and lost.
    for (uint16_t c = 0; c < ds->colsAllocated; ++c)
        ds_ColFree(&ds->cols[c], ds->rowsAllocated);
    ds->rowsAllocated = 0;
    if (rows != 0) {
        for (uint16_t c = 0; c < ds->colsUsed; ++c) {
            int rc = ds_ColAllocRows(&ds->cols[c], rows);
            if (rc != 0) {
                for (uint16_t k = 0; k < c; ++k)
                    ds_ColFree(&ds->cols[k], rows);
                ds->rowsUsed = 0;
                return rc;
            }
        }
    }
    ds->rowsAllocated = rows;
    if (ds->rowsUsed > rows)
        ds->rowsUsed = rows;
    return 0;
}

void ds_ColFree(DATASET_COL* col, int32_t rows) {
    if (col == nullptr)
        return;
    FreeRefBlocks(col, rows);
    uh_Free(col->data);
    uh_Free(col->indicators);
    col->data = nullptr;
    col->indicators = nullptr;
}

void ds_Free(DATASET* ds) {
    if (ds == nullptr)
        return;
    if (ds->cols != nullptr) {
        for (uint16_t c = 0; c < ds->colsAllocated; ++c)
            ds_ColFree(&ds->cols[c], ds->rowsAllocated);
        uh_Free(ds->cols);
    }
    *ds = DATASET{};
}

int ds_InitFromColDescs(const COLDESC* descs, uint16_t nDescs, int32_t rows, DATASET* ds) {
    if (ds == nullptr || (descs == nullptr && nDescs != 0))
        return ERR_GENERAL_ERROR;
    int rc = ds_Init(ds, nDescs);
    if (rc != 0)
        return rc;
    for (uint16_t i = 0; i < nDescs; ++i) {
        ds->cols[i].type = descs[i].internalType;
        ds->cols[i].width = ds_TypeWidth(descs[i].internalType, descs[i].declaredWidth);
    }
    ds->colsUsed = nDescs;
    return ds_AllocRows(ds, rows);
}

void DatasetDeleter::operator()(DATASET* ds) const {
    ds_Free(ds);
    uh_Free(ds);
}

// --- column descriptions --------------------------------------------------------------

COLDESC* ds_ColDescAlloc(uint16_t n) {
    return static_cast<COLDESC*>(uh_Calloc(n == 0 ? 1 : n, sizeof(COLDESC)));
}

void ds_ColDescFree(COLDESC* descs, uint16_t n) {
    if (descs == nullptr)
        return;
    for (uint16_t i = 0; i < n; ++i) {
        char** texts[] = {&descs[i].catalog, &descs[i].schema, &descs[i].table,
                          &descs[i].label};
        // A text shared by two fields of one record is freed once.
        for (size_t t = 0; t < 4; ++t) {
            char* p = *texts[t];
            if (p == nullptr)
                continue;
            for (size_t u = t; u < 4; ++u) {
                if (*texts[u] == p)
                    *texts[u] = nullptr;
            }
            uh_Free(p);
        }
    }
    uh_Free(descs);
}

// --- column attributes ----------------------------------------------------------------

int ut_ColAttrGet(const UT_HASH* hash, int attribute, int column, int32_t* intOut,
                  const char** textOut, double* doubleOut) {
    if (hash == nullptr)
        return 0;
    const COLATTR* e = FindAttr(hash, AttrKey(attribute, column), attribute, column);
    if (e == nullptr)
        e = FindAttr(hash, AttrKey(attribute, 0), attribute, column);
    if (e == nullptr)
        return 0;
    switch (e->kind) {
    case COLATTR_INT:
    case COLATTR_INT2:
        if (intOut == nullptr)
            return 0;
        *intOut = e->value.i;
        return 1;
    case COLATTR_TEXT:
        if (textOut == nullptr)
            return 0;
        *textOut = e->value.text;
        return 1;
    case COLATTR_DOUBLE:
        if (doubleOut == nullptr)
            return 0;
        *doubleOut = e->value.d;
        return 1;
    default:
        return 0;
    }
}

int ut_ColAttrCompact(int32_t n, const COLATTR* entries, int32_t* countOut,
                      COLATTR** arrayOut, int mode) {
    if (countOut == nullptr || arrayOut == nullptr)
        return ERR_GENERAL_ERROR;
    *countOut = 0;
    *arrayOut = nullptr;
    if (n <= 0 || entries == nullptr)
        return 0;
    int32_t kept = CompactPass(n, entries, nullptr, 0);
    if (kept == 0)
        return 0;
    auto* out = static_cast<COLATTR*>(uh_Calloc(static_cast<size_t>(kept), sizeof(COLATTR)));
    if (out == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    kept = CompactPass(n, entries, out, kept);
    if (mode == 2) {
        for (int32_t i = 0; i < kept; ++i) {
            if (out[i].kind != COLATTR_TEXT || out[i].value.text == nullptr)
                continue;
            char* copy = uh_StrDup(out[i].value.text);
            if (copy == nullptr) {
                for (int32_t k = 0; k < i; ++k)
                    ut_ColAttrFree(&out[k]);
                uh_Free(out);
                return ERR_MEMORY_ALLOCATION_FAILURE;
            }
            out[i].value.text = copy;
        }
    }
    *countOut = kept;
    *arrayOut = out;
    return 0;
}

void ut_ColAttrFree(COLATTR* entry) {
    if (entry == nullptr || entry->kind != COLATTR_TEXT)
        return;
    uh_Free(entry->value.text);
    entry->value.text = nullptr;
}

void ut_ColAttrFreeCb(void* entry, const void*, void*) {
    auto* e = static_cast<COLATTR*>(entry);
    ut_ColAttrFree(e);
    uh_Free(e);
}

// --- release and narrow copies --------------------------------------------------------

void ut_StrListFree(UT_STRLIST* list) {
    if (list == nullptr)
        return;
    if (list->texts != nullptr) {
        for (uint32_t i = 0; i < list->count; ++i)
            uh_Free(list->texts[i]);
        uh_Free(list->texts);
    }
    list->texts = nullptr;
    list->count = 0;
}

int ut_StrCopyTrunc(const char* src, char* buf, uint16_t size, uint16_t* lengthOut) {
    if (src == nullptr || buf == nullptr || size == 0)
        return -1;
    size_t len = std::strlen(src);
    if (len + 1 <= size) {
        std::memcpy(buf, src, len + 1);
        if (lengthOut != nullptr)
            *lengthOut = static_cast<uint16_t>(len);
        return 0;
    }
    std::memcpy(buf, src, size - 1u);
    buf[size - 1] = '\0';
    if (lengthOut != nullptr)
        *lengthOut = static_cast<uint16_t>(size - 1);
    return -1;
}

int ut_StrCopyOut(const char* src, char* buf, uint16_t size, int32_t* lengthOut) {
    if (src == nullptr)
        return -1;
    size_t len = std::strlen(src);
    if (lengthOut != nullptr)
        *lengthOut = len > INT32_MAX ? INT32_MAX : static_cast<int32_t>(len);
    if (buf == nullptr)
        return 0;
    if (len + 1 <= size) {
        std::memcpy(buf, src, len + 1);
        return 0;
    }
    if (size != 0) {
        std::memcpy(buf, src, size - 1u);
        buf[size - 1] = '\0';
    }
    return -1;
}
