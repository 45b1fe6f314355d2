// The cursor record's set-up, position, bookmarks and row statuses, and the agent
// information query.
#include "scrs/scs_cursor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/dsrow.h"
#include "util/errcode.h"

namespace {

constexpr int16_t kRowError = 5;  // SQL_ROW_ERROR

// The whole rowset (a positioned operation on every row) still holds its rows: their
// bookmarks stay readable, so that a refresh of every row can hand them back.
bool NoCurrentRow(int32_t position) {
    return position == SCS_POS_BEFORE_START || position == SCS_POS_AFTER_END;
}

bool IsPureKeyset(const SCS_CURSOR* cur) { return cur->cursorType == SCS_KEYSET && cur->keysetSize == 0; }

// The width at which an integer information item is answered: SQLUSMALLINT items 2.
int IntInfoWidth(uint16_t info) {
    switch (info) {
    case 28: case 85: case 93: case 99: return 2;
    case 8: case 26: case 43: case 44: case 72: case 78: case 79: case 80: case 82: case 83: case 92: return 4;
    default: return 0;
    }
}

bool IsTextInfo(uint16_t info) { return info == 11 || info == 17 || info == 29 || info == 47; }

}  // namespace

int scs_CursorInit(SCS_CURSOR* cur, uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder, void* owner) {
    *cur = SCS_CURSOR{};
    cur->agentStmt = agentStmt;
    cur->agentConn = agentConn;
    cur->agent = holder;
    cur->owner = owner;
    return 0;
}

int scs_CursorInitFromConn(SCS_CURSOR* cur, uint32_t agentStmt, uint32_t agentConn, const OA_OPHOLDER* holder,
                           void* owner, const SCS_CURSOR* connDefaults) {
    scs_CursorInit(cur, agentStmt, agentConn, holder, owner);
    if (connDefaults != nullptr) {
        cur->concurrency = connDefaults->concurrency;
        cur->cursorType = connDefaults->cursorType;
        cur->keysetSize = connDefaults->keysetSize;
        cur->retrieveData = connDefaults->retrieveData;
        cur->rowsetSize = connDefaults->rowsetSize;
        cur->simulateCursor = connDefaults->simulateCursor;
        cur->useBookmarks = connDefaults->useBookmarks;
        cur->hasDynMixCursors = connDefaults->hasDynMixCursors;
        cur->requestedType = cur->cursorType;
        cur->requestedConcurrency = cur->concurrency;
        cur->lastFetchRowsetSize = cur->rowsetSize;
    }
    return 0;
}

int scs_SetPositionWithin(int32_t* position, int32_t* rowsetStart, int32_t rowsetSize, int32_t value) {
    if (value == SCS_POS_BEFORE_START || value == SCS_POS_AFTER_END) {
        *rowsetStart = value;
        *position = value;
        return 0;
    }
    if (value == SCS_POS_WHOLE_ROWSET) {
        *position = value;
        return 0;
    }
    // A row of the rowset: bounded by the rowset, not by the result.
    if (value < 0 || value > rowsetSize)
        return ERR_ROW_VALUE_OUT_OF_RANGE;
    *position = value;
    return 0;
}

int scs_SetPosition(SCS_CURSOR* cur, int32_t value) {
    return scs_SetPositionWithin(&cur->position, &cur->rowsetStart, cur->rowsetSize, value);
}

void scs_CursorReset(SCS_CURSOR* cur) {
    cur->rowCount = -1;
    scs_SetPosition(cur, SCS_POS_BEFORE_START);
}

void scs_FreeRowset(SCS_CURSOR* cur) { ds_RowsetFree(&cur->rowset); }

int scs_GetBookmark(const SCS_CURSOR* cur, uint32_t rowIndex, int32_t* out) {
    if (out == nullptr || rowIndex >= static_cast<uint32_t>(cur->rowsetSize))
        return ERR_INVALID_ARGUMENT_VALUE;
    *out = 0;
    if (NoCurrentRow(cur->position))
        return ERR_INVALID_CURSOR_STATE;
    if (IsPureKeyset(cur) || cur->cursorType == SCS_STATIC)
        return scs_RowBookmark(cur, rowIndex, out);
    return ERR_DRIVER_NOT_CAPABLE;
}

int scs_RowBookmark(const SCS_CURSOR* cur, uint32_t rowIndex, int32_t* out) {
    if (out == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    *out = 0;
    if (cur->cursorType == SCS_FORWARD_ONLY || cur->cursorType == SCS_DYNAMIC ||
        (cur->cursorType == SCS_KEYSET && cur->keysetSize > 0))
        return 0;
    if (rowIndex >= static_cast<uint32_t>(cur->rowsetSize))
        return ERR_INVALID_ARGUMENT_VALUE;
    if (NoCurrentRow(cur->position))
        return ERR_INVALID_CURSOR_STATE;
    if (scs_GetRowStatus(cur->rowset, static_cast<int32_t>(rowIndex) + 1) == kRowError)
        return ERR_INVALID_CURSOR_POSITION;
    *out = cur->rowsetStart + static_cast<int32_t>(rowIndex);
    return 0;
}

int16_t scs_GetRowStatus(const DS_ROWSET* rowset, int32_t n) {
    if (rowset == nullptr || n < 1 || n > rowset->rowCount || rowset->rowStatus == nullptr)
        return kRowError;
    return rowset->rowStatus[n - 1];
}

void scs_SetRowStatus(DS_ROWSET* rowset, int32_t n, int16_t value) {
    if (rowset == nullptr || n < 1 || n > rowset->rowCount || rowset->rowStatus == nullptr)
        return;
    rowset->rowStatus[n - 1] = value;
}

int scs_AgentGetInfo(const OA_OPHOLDER* holder, uint32_t agentConn, uint16_t info, void* buf, int16_t bufLen,
                     int16_t* outLen) {
    const bool text = IsTextInfo(info);
    const int width = IntInfoWidth(info);
    if (!text && width == 0)
        return ERR_OPTION_TYPE_OUT_OF_RANGE;
    if (!text && bufLen < width)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (holder == nullptr || holder->ops == nullptr || holder->ops->DRV_GetProperty == nullptr)
        return ERR_DRIVER_NOT_CAPABLE;
    const auto ask = holder->ops->DRV_GetProperty;
    if (!text) {
        int32_t value = 0;
        int32_t got = 0;
        if (int rc = ask(agentConn, oa_InfoIntCode(info), &value, sizeof value, &got); rc != 0)
            return rc;
        if (buf != nullptr) {
            if (width == 2) {
                const auto narrow = static_cast<uint16_t>(value);
                std::memcpy(buf, &narrow, sizeof narrow);
            } else {
                std::memcpy(buf, &value, sizeof value);
            }
        }
        if (outLen != nullptr)
            *outLen = static_cast<int16_t>(width);
        return 0;
    }
    // Read whole: a text cut here would be answered short with no word of the cut.
    std::string answer(256, '\0');
    int32_t got = 0;
    const uint32_t code = oa_InfoTextCode(info);
    int rc = ask(agentConn, code, answer.data(), static_cast<int32_t>(answer.size()), &got);
    if (rc == 0 && got >= static_cast<int32_t>(answer.size()) && got < INT32_MAX) {
        answer.assign(static_cast<size_t>(got) + 1, '\0');
        rc = ask(agentConn, code, answer.data(), got + 1, &got);
    }
    if (rc != 0)
        return rc;
    const size_t length = std::strlen(answer.c_str());
    if (outLen != nullptr)
        *outLen = static_cast<int16_t>(std::min<size_t>(length, INT16_MAX));
    if (buf == nullptr || bufLen <= 0)
        return length == 0 ? 0 : ERR_DATA_WAS_TRUNCATED;
    auto* dst = static_cast<char*>(buf);
    if (length >= static_cast<size_t>(bufLen)) {
        std::memcpy(dst, answer.data(), static_cast<size_t>(bufLen) - 1);
        dst[bufLen - 1] = '\0';
        return ERR_DATA_WAS_TRUNCATED;
    }
    std::memcpy(dst, answer.data(), length + 1);
    return 0;
}
