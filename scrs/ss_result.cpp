// The static result set (scrs/ss_result.h).
#include "scrs/ss_result.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"
#include "util/utheap.h"

namespace {

// *out becomes a dataset without columns or rows (allocated when the slot is empty).
int EmptyRowset(DATASET** out) {
    if (*out == nullptr) {
        *out = static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET)));
        if (*out == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    ds_Free(*out);
    return ds_Init(*out, 0);
}

}  // namespace

int SS_Alloc(SS_RESULT** out) {
    if (out == nullptr)
        return ERR_GENERAL_ERROR;
    *out = nullptr;
    auto* ss = new (std::nothrow) SS_RESULT;
    if (ss == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    ss->rows = static_cast<DATASET*>(uh_Calloc(1, sizeof(DATASET)));
    if (ss->rows == nullptr) {
        delete ss;
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    DSC_Init(&ss->cache);
    *out = ss;
    return 0;
}

void SS_Close(SS_RESULT* ss) {
    if (ss == nullptr)
        return;
    ds_Free(ss->rows);
    DSC_Close(&ss->cache);
    ss->nextStart = 0;
    ss->firstInMemory = 0;
}

void SS_Free(SS_RESULT** slot) {
    if (slot == nullptr || *slot == nullptr)
        return;
    SS_RESULT* ss = *slot;
    SS_Close(ss);
    if (ss->rows != nullptr)
        DatasetDeleter{}(ss->rows);
    delete ss;
    *slot = nullptr;
}

int SS_GetRsltSet(SS_RESULT* ss, const OA_OPTABLE* agent, uint32_t stmt, int32_t* rowCount) {
    if (rowCount != nullptr)
        *rowCount = 0;
    if (ss == nullptr || ss->rows == nullptr)
        return ERR_GENERAL_ERROR;
    SS_Close(ss);
    int32_t total = 0;
    int rc = DSC_Fill(&ss->cache, agent, stmt, ss->rows, &total);
    if (rowCount != nullptr)
        *rowCount = total;
    if (ss->cache.state == DSC_SPILLED)
        ss->firstInMemory = -1;
    if (rc != 0)
        LOG_MSG(LOG_ERR, "SS_GetRsltSet: Could not fill dataset cache");
    return rc;
}

int SS_FetchRowset(SS_RESULT* ss, int32_t start, int32_t n, DATASET** out) {
    if (ss == nullptr || out == nullptr || ss->rows == nullptr || n < 0 || start < -1)
        return ERR_GENERAL_ERROR;
    bool sequential = start == -1;
    if (n == 0 || (sequential && ss->nextStart == SS_AT_END))
        return EmptyRowset(out);
    int32_t pos = sequential ? ss->nextStart : start;
    if (pos >= ss->cache.rowCount) {
        ss->nextStart = sequential ? SS_AT_END : start;
        return EmptyRowset(out);
    }

    bool fresh = *out == nullptr;
    auto fail = [&](int rc) {
        if (*out != nullptr) {
            if (fresh) {
                DatasetDeleter{}(*out);
                *out = nullptr;
            } else {
                ds_Free(*out);
            }
        }
        return rc;
    };
    int rc = DSC_ReadWindow(&ss->cache, pos, n, &ss->firstInMemory, ss->rows);
    if (rc != 0)
        return fail(rc);
    int32_t first = ss->cache.state == DSC_SPILLED ? ss->firstInMemory : 0;
    int64_t available = first < 0 ? 0 : static_cast<int64_t>(ss->rows->rowsUsed) + first - pos;
    auto m = static_cast<int32_t>(std::clamp<int64_t>(available, 0, n));
    rc = ds_CloneLayout(out, ss->rows, m);
    if (rc != 0)
        return fail(rc);
    const DATASET* src = ss->rows;
    bool refs = false;
    for (uint16_t c = 0; c < src->colsUsed; ++c)
        refs = refs || ds_ColHoldsRefs(&src->cols[c]);
    if (!refs && m > 0) {
        // Values held in place: each column's run of rows is one copy.
        const int32_t from = pos - first;
        for (uint16_t c = 0; c < src->colsUsed; ++c) {
            const DATASET_COL& s = src->cols[c];
            DATASET_COL& d = (*out)->cols[c];
            std::memcpy(d.indicators, s.indicators + from, sizeof(int16_t) * static_cast<size_t>(m));
            if (s.width != 0)
                std::memcpy(d.data, ds_Elem(&s, from), static_cast<size_t>(s.width) * static_cast<size_t>(m));
        }
        (*out)->rowsUsed = m;
    } else {
        // Long values are owned per row: each is duplicated.
        for (int32_t i = 0; i < m; ++i) {
            rc = ds_CopyRow(*out, ss->rows, i, pos + i - first, 0);
            if (rc != 0)
                return fail(rc);
        }
    }
    if (sequential)
        ss->nextStart = m == n ? pos + n : SS_AT_END;
    else
        ss->nextStart = start;
    return 0;
}

int SS_Adopt(SS_RESULT* ss, DATASET* rows) {
    if (ss == nullptr || ss->rows == nullptr) {
        if (rows != nullptr)
            DatasetDeleter{}(rows);
        return ERR_GENERAL_ERROR;
    }
    SS_Close(ss);
    if (rows != nullptr) {
        ds_Free(ss->rows);
        *ss->rows = *rows;  // the arrays move over
        *rows = DATASET{};
        DatasetDeleter{}(rows);
    }
    ss->cache.rowCount = ss->rows->rowsUsed;
    return 0;
}
