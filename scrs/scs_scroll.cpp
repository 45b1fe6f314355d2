// Scroll positioning (the ODBC side's cursor record) and the static cursor's rowset fetch
// (the library's working record), scrs/scs_scroll.h.
#include "scrs/scs_scroll.h"

#include <algorithm>

#include "scrs/scs_cursor.h"
#include "scrs/ks_keyset.h"
#include "scrs/rvc_rowver.h"
#include "scrs/scs_stmt.h"
#include "scrs/ss_result.h"
#include "util/dataset.h"
#include "util/dsrow.h"
#include "util/errcode.h"
#include "util/log.h"

namespace {

constexpr uint16_t kNext = 1;
constexpr uint16_t kFirst = 2;
constexpr uint16_t kLast = 3;
constexpr uint16_t kPrior = 4;
constexpr uint16_t kAbsolute = 5;
constexpr uint16_t kRelative = 6;
constexpr uint16_t kBookmark = 8;
constexpr uint16_t kInfoFetchDirection = 8;  // SQLGetInfo SQL_FETCH_DIRECTION
constexpr int16_t kRowSuccess = 0;           // SQL_ROW_SUCCESS

// The orientation's SQL_FETCH_DIRECTION bit; 0 for an orientation no cursor takes.
uint32_t DirectionBit(uint16_t orientation) {
    if ((orientation >= kNext && orientation <= kRelative) || orientation == kBookmark)
        return 1u << (orientation - 1);
    return 0;
}

bool IsDynamicOrMixed(const SCS_CURSOR* cur) {
    return cur->cursorType == SCS_DYNAMIC || (cur->cursorType == SCS_KEYSET && cur->keysetSize > 0);
}

// No rows and no rowset, and the position (and rowset start) before the start or after
// the end.
int NoData(SCS_CURSOR* cur, int32_t position, uint32_t* rowsFetched) {
    *rowsFetched = 0;
    scs_FreeRowset(cur);
    scs_SetPosition(cur, position);
    return ERR_NO_DATA_FOUND;
}

}  // namespace

int scs_ScrollPosition(SCS_CURSOR* cur, uint16_t orientation, int32_t offset, uint32_t* rowsFetched) {
    uint32_t localRows = 0;
    if (rowsFetched == nullptr)
        rowsFetched = &localRows;
    *rowsFetched = 0;
    scs_FreeRowset(cur);
    // The attribute setter saved the size of the current rowset in lastFetchRowsetSize when
    // it changed the size: NEXT moves by the rows the application has seen.
    if ((cur->flags & SCS_ROWSET_SIZE_CHANGED) == 0)
        cur->lastFetchRowsetSize = cur->rowsetSize;

    const bool forwardOnly = cur->cursorType == SCS_FORWARD_ONLY;
    const bool dynMix = IsDynamicOrMixed(cur);
    if (forwardOnly && orientation != kNext)
        return ERR_FETCH_TYPE_OUT_OF_RANGE;
    if (cur->fetchDirections == 0) {
        // Asked once per statement; the caller's database lock serialises the agent call.
        uint32_t mask = 0;
        if (int rc = scs_AgentGetInfo(cur->agent, cur->agentConn, kInfoFetchDirection, &mask, sizeof mask, nullptr);
            rc != 0)
            return rc;
        cur->fetchDirections = mask;
    }
    if ((cur->fetchDirections & DirectionBit(orientation)) == 0)
        return ERR_FETCH_TYPE_OUT_OF_RANGE;
    if (cur->rowsetStart == -1 && !forwardOnly && !dynMix && orientation != kFirst && orientation != kLast &&
        orientation != kAbsolute && orientation != kBookmark)
        return ERR_FETCH_TYPE_OUT_OF_RANGE;

    const int32_t pos = cur->position;
    switch (orientation) {
    case kNext:
        if (pos == SCS_POS_BEFORE_START)
            orientation = kFirst;
        break;
    case kPrior:
        if (pos == SCS_POS_AFTER_END)
            orientation = kLast;
        break;
    case kRelative:
        if ((pos == SCS_POS_AFTER_END && offset < 0) || (pos == SCS_POS_BEFORE_START && offset > 0)) {
            if (dynMix)
                return ERR_FETCH_TYPE_OUT_OF_RANGE;
            orientation = kAbsolute;
        } else if ((pos == SCS_POS_AFTER_END && offset > 0) || (pos == SCS_POS_BEFORE_START && offset < 0)) {
            *rowsFetched = 0;
            return ERR_NO_DATA_FOUND;
        }
        break;
    case kBookmark:
        if (dynMix)
            return ERR_FETCH_TYPE_OUT_OF_RANGE;
        if (offset <= 0)
            return ERR_NO_DATA_FOUND;
        orientation = kAbsolute;
        break;
    case kAbsolute:
        if (dynMix)
            return ERR_FETCH_TYPE_OUT_OF_RANGE;
        if (offset == 0)
            return NoData(cur, SCS_POS_BEFORE_START, rowsFetched);
        break;
    default:
        break;
    }

    int32_t target = 0;
    if (forwardOnly) {
        target = cur->rowsetStart + cur->lastFetchRowsetSize;
    } else if (dynMix) {
        target = offset;
    } else {
        const int32_t cls = scs_p_RowsetStart(orientation, offset, cur->rowsetStart, cur->rowCount, cur->rowsetSize,
                                              cur->lastFetchRowsetSize, &target);
        if (cls == SCS_CLASS_BEFORE_START)
            return NoData(cur, SCS_POS_BEFORE_START, rowsFetched);
        if (cls == SCS_CLASS_AFTER_END)
            return NoData(cur, SCS_POS_AFTER_END, rowsFetched);
        if (cls == SCS_CLASS_OVERLAPS_START) {
            target = 1;
            orientation = kFirst;
        }
    }
    cur->flags &= static_cast<uint16_t>(~SCS_ROWSET_SIZE_CHANGED);

    const int rc = scs_FetchDispatch(cur, orientation, target, rowsFetched);
    if (rc == ERR_ATTEMPT_TO_FETCH_BEFORE_START_OF)
        return NoData(cur, SCS_POS_BEFORE_START, rowsFetched);
    // No rows at all: the cursor is past the end.
    if (rc == ERR_ATTEMPT_TO_FETCH_BEYOND_END_OF || rc == ERR_NO_DATA_FOUND)
        return NoData(cur, SCS_POS_AFTER_END, rowsFetched);
    if (rc != 0)
        return rc;
    cur->position = 1;
    cur->lastFetchRowsetSize = cur->rowsetSize;
    if (dynMix) {
        cur->rowsetStart = -1;
    } else if (target > 0 || forwardOnly) {
        cur->rowsetStart = target;
    } else if (cur->rowCount >= 0) {
        // A target counted from the end, resolved by the fetch now that the count is known:
        // the start the library served, so that NEXT and bookmarks go on from real rows.
        const int32_t n = cur->rowCount;
        const int32_t r = cur->rowsetSize;
        cur->rowsetStart = target == 0 ? std::max(n - r, 0) + 1 : std::max(n + target + 1, 1);
    } else {
        cur->rowsetStart = -1;  // no absolute numbering known: only absolute moves are allowed
    }
    return 0;
}

int scs_FetchDispatch(SCS_CURSOR* cur, uint16_t orientation, int32_t target, uint32_t* rowsFetched) {
    uint32_t localRows = 0;
    if (rowsFetched == nullptr)
        rowsFetched = &localRows;
    *rowsFetched = 0;
    const OA_OPTABLE* ops = cur->agent != nullptr ? cur->agent->ops : nullptr;
    if (ops == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    if (cur->hasDynMixCursors != 0) {
        if (ops->DRV_ExtendedFetch == nullptr)
            return ERR_DRIVER_NOT_CAPABLE;
        return ops->DRV_ExtendedFetch(cur->agentStmt, &cur->rowset, target, rowsFetched, &cur->rowCount,
                                      static_cast<int16_t>(orientation));
    }
    if (ops->DRV_ScrollFetch == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    return ops->DRV_ScrollFetch(cur->agentStmt, &cur->rowset, target, rowsFetched, &cur->rowCount);
}

int32_t scs_p_RowsetClass(int32_t rowsetStart, int32_t newStart, int32_t rowsetSize, int32_t rowCount) {
    if (rowCount >= 0) {
        if (newStart > rowCount)
            return SCS_CLASS_AFTER_END;
        if (newStart > rowCount - rowsetSize + 1)
            return SCS_CLASS_LAST_PARTIAL;
    } else if (newStart > rowsetStart) {
        return SCS_CLASS_FORWARD;
    }
    if (newStart <= 1 - rowsetSize)
        return SCS_CLASS_BEFORE_START;
    if (newStart < 1)
        return SCS_CLASS_OVERLAPS_START;
    return SCS_CLASS_INSIDE;
}

int32_t scs_p_RowsetStart(uint16_t orientation, int32_t offset, int32_t rowsetStart, int32_t rowCount,
                          int32_t rowsetSize, int32_t lastRowsetSize, int32_t* target) {
    const int32_t s = rowsetStart == SCS_POS_AFTER_END && rowCount >= 0 ? rowCount + 1 : rowsetStart;
    int32_t next = 0;
    int32_t cls = SCS_CLASS_FORWARD;
    switch (orientation) {
    case kNext:
        next = s + lastRowsetSize;
        cls = scs_p_RowsetClass(s, next, rowsetSize, rowCount);
        break;
    case kFirst:
        next = 1;
        cls = SCS_CLASS_INSIDE;
        break;
    case kLast:
        // A rowset larger than the result starts at row 1, not before it.
        next = rowCount < 0 ? 0 : std::max(rowCount - rowsetSize + 1, 1);
        cls = SCS_CLASS_INSIDE;
        break;
    case kPrior:
        next = s - rowsetSize;
        cls = scs_p_RowsetClass(s, next, rowsetSize, rowCount);
        break;
    case kAbsolute:
        if (offset == 0) {
            next = 0;
            cls = SCS_CLASS_BEFORE_START;
        } else if (offset > 0) {
            next = offset;
            cls = scs_p_RowsetClass(s, next, rowsetSize, rowCount);
        } else if (rowCount < 0) {
            next = offset;
            cls = SCS_CLASS_FORWARD;
        } else {
            next = rowCount + offset + 1;
            cls = scs_p_RowsetClass(s, next, rowsetSize, rowCount);
            if (cls == SCS_CLASS_OVERLAPS_START && -offset > rowsetSize)
                cls = SCS_CLASS_BEFORE_START;
        }
        break;
    case kRelative:
        next = s + offset;
        cls = scs_p_RowsetClass(s, next, rowsetSize, rowCount);
        break;
    default:
        break;
    }
    *target = next;
    return cls;
}

int scs_p_FillStatic(SCS_STMT* cur) {
    if ((cur->flags & SCS_RESULT_CACHED) != 0)
        return 0;
    if (cur->staticResult == nullptr) {
        if (int rc = SS_Alloc(&cur->staticResult); rc != 0)
            return rc;
    }
    int32_t rows = -1;
    // A cursor that writes rows back reads its keys with its rows, from a query of its own.
    const bool withKeys = KS_StaticWithKeys(cur);
    const int filled = withKeys ? KS_FillStaticWithKeys(cur, &rows)
                                : SS_GetRsltSet(cur->staticResult, cur->agent->ops, cur->agentStmt, &rows);
    if (int rc = filled; rc != 0) {
        // A part of the result is no result: nothing is counted or served from it.
        SS_Close(cur->staticResult);
        cur->rowCount = -1;
        scs_CollectAuxErrors(cur);
        return rc;
    }
    cur->rowCount = rows;
    cur->rowsetStart = 0;
    cur->position = SCS_POS_BEFORE_START;
    // The snapshot is complete: the server cursor goes, through the agent's own close so
    // that the statement is not marked closed (a lock cursor keeps its locks open).
    if (cur->opts->concurrency != SCS_LOCK || withKeys) {
        if (int rc = cur->agent->ops->DRV_CloseCursor(cur->agentStmt); rc != 0) {
            scs_CollectAuxErrors(cur);
            return rc;
        }
    }
    cur->flags |= SCS_RESULT_CACHED;
    return 0;
}

int scs_p_StartRow(SCS_STMT* cur, int32_t row, int32_t r, int32_t* startOut) {
    const int32_t n = cur->rowCount;
    int32_t a = 0;
    if (row >= 1) {
        a = row - 1;
    } else if (row < 0) {
        a = n + row;
        // Counted from the end over a count the caller did not know yet: a rowset that
        // overlaps the first row is the first rowset, as it is when the count is known.
        if (a < 0 && a > -r && -row <= r)
            a = 0;
    } else {
        a = std::max(n - r, 0);
    }
    if (a < 0) {
        scs_SetPositionWithin(&cur->position, &cur->rowsetStart, r, SCS_POS_BEFORE_START);
        return ERR_ATTEMPT_TO_FETCH_BEFORE_START_OF;
    }
    if (a > n - 1) {
        scs_SetPositionWithin(&cur->position, &cur->rowsetStart, r, SCS_POS_AFTER_END);
        return ERR_ATTEMPT_TO_FETCH_BEYOND_END_OF;
    }
    *startOut = a;
    return 0;
}

int scs_p_StaticFetch(SCS_STMT* cur, DS_ROWSET* rowset, int32_t row) {
    if (int rc = scs_p_FillStatic(cur); rc != 0)
        return rc;
    const int32_t r = rowset->rowCount;
    int32_t a = 0;
    if (int rc = scs_p_StartRow(cur, row, r, &a); rc != 0)
        return rc;
    cur->rowsetStart = a + 1;
    if (int rc = SS_FetchRowset(cur->staticResult, a, r, &rowset->rows); rc != 0)
        return rc;
    if (int rc = KS_TakeHiddenColumns(cur, rowset->rows); rc != 0)
        return rc;
    const int32_t got = rowset->rows != nullptr ? rowset->rows->rowsUsed : 0;
    const std::vector<int16_t>* kept = cur->hiddenCols != 0 && cur->keyset != nullptr ? &cur->keyset->rowStatus : nullptr;
    for (int32_t i = 0; i < got && i < rowset->rowCount; ++i) {
        // A snapshot row keeps what the cursor's own operations made of it.
        const size_t k = static_cast<size_t>(a + i);
        rowset->rowStatus[i] = kept != nullptr && k < kept->size() ? (*kept)[k] : kRowSuccess;
    }
    if (cur->opts->concurrency == SCS_LOCK && kept != nullptr) {
        if (int rc = scs_p_LockRows(cur, a, got); rc != 0)
            return rc;
    }
    // The block fetch cuts the agent's values to statement option 3; the copy cuts its own,
    // so both roads hand out the same values.
    const int32_t max = cur->maxLength != nullptr ? *cur->maxLength : 0;
    if (max > 0 && rowset->rows != nullptr)
        return ds_ApplyMaxLength(rowset->rows, static_cast<uint32_t>(max));
    return 0;
}

// ---- Dynamic and mixed cursors ------------------------------------------------------------

namespace {

// Reads the rowset at window row a (from 0): the rowset's place in the window follows.
int ReadWindowRowset(SCS_STMT* cur, DS_ROWSET* rowset, int32_t a, int32_t* liveRows) {
    cur->rowsetStart = a + 1;
    return KS_ReadRowsetAt(cur, rowset, a, liveRows);
}

int32_t RowsIn(const DS_ROWSET* rowset) { return rowset->rows != nullptr ? rowset->rows->rowsUsed : 0; }

// Rows others changed since the cursor last saw them read as updated: their digests are
// compared with the row-version table's.
int CheckVersions(SCS_STMT* cur, DS_ROWSET* rowset) {
    KSD* ks = cur->keyset;
    const int32_t n = std::min(KS_WindowRows(cur), RowsIn(rowset));
    if (n == 0 || ks->keys == nullptr || ks->keys->rows == nullptr)
        return 0;
    std::vector<int16_t> versions(static_cast<size_t>(n), RVC_ROW_UNCHANGED);
    const int rc = RVC_CheckRows(cur, *ks->keys->rows, *rowset->rows, n, versions.data());
    for (int32_t k = 0; k < n && k < rowset->rowCount; ++k) {
        rowset->rowStatus[k] = versions[static_cast<size_t>(k)];
        ks->rowStatus[static_cast<size_t>(k)] = versions[static_cast<size_t>(k)];
    }
    return rc;
}

void DropRows(DS_ROWSET* rowset) {
    if (rowset->rows != nullptr)
        ds_Free(rowset->rows);
}

}  // namespace

int scs_p_DynamicFetch(SCS_STMT* cur, uint16_t orientation, int32_t offset, DS_ROWSET* rowset) {
    const int32_t r = rowset->rowCount;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Each attempt starts empty: the rowset holds the rows of the one that succeeds.
        DropRows(rowset);
        const int rc = attempt == 0 ? KS_FetchBySeek(cur, orientation, offset, r)
                                    : KS_FetchBySeek(cur, KS_SEEK_RELATIVE, 0, r);
        if (rc != 0)
            return rc;
        int32_t live = 0;
        if (int rrc = ReadWindowRowset(cur, rowset, 0, &live); rrc != 0)
            return rrc;
        // A row deleted or moved between the seek and the read: the same place again.
        if (live == KS_WindowRows(cur))
            return cur->rowVersion.helper != nullptr ? CheckVersions(cur, rowset) : 0;
    }
    DropRows(rowset);
    LOG_MSG(LOG_ERR, "scs_p_DynamicFetch: the rows kept changing under the keyset");
    return ERR_TOO_MANY_UPDATES_BY_OTHER_USERS;
}

int scs_p_DynamicScroll(SCS_STMT* cur, int32_t offset, uint16_t orientation, DS_ROWSET* rowset) {
    const int32_t r = rowset->rowCount;
    auto fetch = [&](uint16_t o, int32_t v) {
        const int rc = scs_p_DynamicFetch(cur, o, v, rowset);
        return rc == ERR_NO_DATA_FOUND ? 0 : rc;
    };
    auto beforeStart = [&] {
        DropRows(rowset);
        cur->position = SCS_POS_BEFORE_START;
        return ERR_ATTEMPT_TO_FETCH_BEFORE_START_OF;
    };
    auto afterEnd = [&] {
        DropRows(rowset);
        cur->position = SCS_POS_AFTER_END;
        return ERR_ATTEMPT_TO_FETCH_BEYOND_END_OF;
    };
    auto first = [&] {
        DropRows(rowset);
        cur->shortAtEnd = false;
        return fetch(KS_SEEK_FIRST, 0);
    };
    switch (orientation) {
    case KS_SEEK_NEXT: {
        if (int rc = fetch(orientation, 0); rc != 0)
            return rc;
        if (RowsIn(rowset) == 0)
            return afterEnd();
        cur->shortAtEnd = RowsIn(rowset) < r;
        return 0;
    }
    case KS_SEEK_FIRST:
    case KS_SEEK_LAST: {
        if (int rc = fetch(orientation, 0); rc != 0)
            return rc;
        cur->shortAtEnd = false;
        if (RowsIn(rowset) == 0)
            return afterEnd();
        // One window holds the whole result.
        if (RowsIn(rowset) < r)
            cur->rowCount = RowsIn(rowset);
        return 0;
    }
    case KS_SEEK_PRIOR: {
        if (int rc = fetch(orientation, 0); rc != 0)
            return rc;
        cur->shortAtEnd = false;
        if (RowsIn(rowset) == 0)
            return beforeStart();
        return RowsIn(rowset) < r ? first() : 0;
    }
    case KS_SEEK_RELATIVE: {
        const int32_t held = KS_WindowRows(cur);
        const bool wasShortAtEnd = cur->shortAtEnd;
        if (int rc = fetch(orientation, offset); rc != 0)
            return rc;
        const int32_t got = RowsIn(rowset);
        if (got == 0)
            return offset < 0 ? beforeStart() : afterEnd();
        if (got >= r) {
            cur->shortAtEnd = false;
            return 0;
        }
        if (offset >= 0) {
            cur->shortAtEnd = true;
            return 0;
        }
        // Backwards and short: the start was reached, unless the window was short at the
        // end already and the move stays inside the result.
        const int32_t n = cur->rowCount;
        const int64_t back = -static_cast<int64_t>(offset);
        if (!wasShortAtEnd || ((n >= r || n < 0) && back >= r - 1) || (n >= 0 && n < r && n < held + back))
            return first();
        return 0;
    }
    default:
        return ERR_FETCH_TYPE_OUT_OF_RANGE;
    }
}

int scs_p_MixedFetch(SCS_STMT* cur, int32_t offset, uint16_t orientation, DS_ROWSET* rowset) {
    const int32_t r = rowset->rowCount;
    const int32_t k = cur->opts->keysetSize;
    if (k < r)
        return ERR_ROW_VALUE_OUT_OF_RANGE;
    if ((cur->flags & SCS_KEYSET_SIZE_SET) != 0) {
        cur->mixedState = -6;
        cur->flags &= static_cast<uint16_t>(~SCS_KEYSET_SIZE_SET);
    }
    int32_t& state = cur->mixedState;
    const int32_t s = std::max(cur->rowsetStart, 1);
    auto window = [&] { return KS_WindowRows(cur); };
    const bool valid = state != -6 && window() > 0;
    // Moves the window; 82 when no row is there.
    auto seek = [&](uint16_t o, int32_t v) { return KS_FetchBySeek(cur, o, v, k); };
    int32_t a = 0;
    int rc = 0;
    switch (orientation) {
    case KS_SEEK_NEXT:
        if (valid && window() >= s + 2 * r - 1) {
            a = s + r - 1;
        } else {
            rc = seek(KS_SEEK_RELATIVE, s + r - 1);
            if (rc == ERR_NO_DATA_FOUND) {
                state = -5;
                return rc;
            }
            state = -1;
            a = 0;
        }
        break;
    case KS_SEEK_FIRST:
        if (!(valid && (state == -2 || (state == -3 && window() < k)))) {
            rc = seek(KS_SEEK_FIRST, 0);
            state = -2;
        }
        a = 0;
        break;
    case KS_SEEK_LAST:
        if (!(valid && state == -3)) {
            rc = seek(KS_SEEK_LAST, 0);
            state = -3;
        }
        a = std::max(window() - r, 0);
        break;
    case KS_SEEK_PRIOR:
        if (state == -5) {
            rc = seek(KS_SEEK_LAST, 0);
            state = -3;
            a = std::max(window() - r, 0);
            break;
        }
        a = s - r - 1;
        if (valid && a >= 0)
            break;
        if (valid && state == -2 && a > -r) {
            a = 0;
            break;
        }
        if (valid && state == -2) {
            cur->position = SCS_POS_BEFORE_START;
            return ERR_ATTEMPT_TO_FETCH_BEFORE_START_OF;
        }
        rc = seek(KS_SEEK_RELATIVE, s - k - 1);
        state = -1;
        a = window() - r;
        if (rc == 0 && window() < k) {
            state = -2;
            rc = seek(KS_SEEK_FIRST, 0);
            a = std::max(a, 0);
        }
        break;
    case KS_SEEK_RELATIVE: {
        const int64_t target = static_cast<int64_t>(offset) + s - 1;
        if (valid && target >= 0 && target + r <= window()) {
            a = static_cast<int32_t>(target);
            break;
        }
        const int32_t before = window();
        rc = seek(KS_SEEK_RELATIVE, static_cast<int32_t>(std::clamp<int64_t>(target, INT32_MIN + 1, INT32_MAX)));
        state = -1;
        a = 0;
        if (rc == 0 && window() < r && offset < 0 && (-static_cast<int64_t>(offset) > r || window() < before)) {
            state = -2;
            rc = seek(KS_SEEK_FIRST, 0);
        }
        break;
    }
    default:
        return ERR_FETCH_TYPE_OUT_OF_RANGE;
    }
    if (rc == ERR_NO_DATA_FOUND) {
        const bool backwards = orientation == KS_SEEK_PRIOR || (orientation == KS_SEEK_RELATIVE && offset < 0);
        state = -6;
        cur->position = backwards ? SCS_POS_BEFORE_START : SCS_POS_AFTER_END;
        return backwards ? ERR_ATTEMPT_TO_FETCH_BEFORE_START_OF : ERR_ATTEMPT_TO_FETCH_BEYOND_END_OF;
    }
    if (rc != 0)
        return rc;
    if (a >= window()) {
        cur->position = SCS_POS_AFTER_END;
        return ERR_ATTEMPT_TO_FETCH_BEYOND_END_OF;
    }
    if (int frc = ReadWindowRowset(cur, rowset, a, nullptr); frc != 0)
        return frc;
    // The count is known once one window holds the whole result: it begins at the first row
    // and ends before the keyset size is reached. A short rowset alone says nothing of the
    // rows before the window.
    if (cur->rowCount < 0 && window() < k && (state == -2 || state == -3))
        cur->rowCount = window();
    return 0;
}
