// Wide entry text handling.
#include "driver/frame/widen.h"

#include <algorithm>
#include <cstring>

#include "driver/diag/diag.h"
#include "driver/diag/outstr.h"
#include "util/charset.h"
#include "util/errcode.h"

WideIn::WideIn(const SQLWCHAR* text, SQLINTEGER length) : length_(length) {
    if (text == nullptr)
        return;
    if (length < 0 && length != SQL_NTS) {
        // Handed on as it is, so that the handler answers the invalid length.
        copy_.reset(static_cast<char*>(std::calloc(1, 1)));
    } else {
        copy_.reset(ut_Ucs2ToUtf8Dup(text, length));
        length_ = SQL_NTS;
    }
    ok_ = copy_ != nullptr;
}

WideOut::WideOut(SQLWCHAR* app, SQLINTEGER appChars, WideCut cut) : app_(app), appChars_(appChars), cut_(cut) {
    if (appChars <= 0 || app == nullptr) {
        // No room: the handler still reports the length; a negative size reaches it as such.
        narrowSize_ = app == nullptr ? 0 : appChars;
        return;
    }
    // Four bytes hold any character of one UTF-16 unit, and a pair needs four for two. A
    // small buffer gets some room beyond that, so that the full length of a result that is
    // cut can still be counted in characters.
    narrowSize_ = static_cast<SQLINTEGER>(
        std::min<int64_t>(std::max<int64_t>(int64_t{appChars} * 4, WIDE_NARROW_SLACK), WIDE_NARROW_MAX));
    narrow_.reset(static_cast<char*>(std::calloc(static_cast<size_t>(narrowSize_) + 1, 1)));
    ok_ = narrow_ != nullptr;
}

SQLRETURN WideOut::Finish(SQLRETURN rc, DIAG* diag, SQLINTEGER* appChars32, SQLSMALLINT* appChars16) {
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
        return rc;
    SQLINTEGER narrowLen = narrowLen32_ >= 0 ? narrowLen32_ : narrowLen16_;
    SQLLEN chars = 0;
    bool cut = false;
    if (narrow_ != nullptr) {
        size_t held = std::strlen(narrow_.get());
        chars = ut_Utf8CharCount(narrow_.get(), SQL_NTS);
        // Beyond what the narrow buffer holds, count a byte as a character: the length is
        // then an upper bound, which is what a caller sizing its next buffer needs.
        if (narrowLen > static_cast<SQLINTEGER>(held))
            chars += narrowLen - static_cast<SQLINTEGER>(held);
        SQLLEN stored = 0;
        cut = ut_Utf8ToUcs2CopyOut(narrow_.get(), app_, appChars_, &stored) != 0 || chars > stored;
    } else {
        chars = std::max<SQLINTEGER>(narrowLen, 0);
        cut = app_ != nullptr && chars > 0;
    }
    if (appChars32 != nullptr)
        *appChars32 = static_cast<SQLINTEGER>(chars);
    if (appChars16 != nullptr)
        *appChars16 = static_cast<SQLSMALLINT>(std::min<SQLLEN>(chars, 32767));
    if (!cut)
        return rc;
    if (cut_ == WideCut::PostOnHandle)
        PostTruncation(diag);
    return SQL_SUCCESS_WITH_INFO;
}

void PostTruncation(DIAG* diag) {
    OutStrFinish(OutStrResult{0, true}, diag);
}

WideHook::WideHook(std::initializer_list<const WideIn*> inputs, WideOut* output, SQLSMALLINT* appChars16,
                   SQLINTEGER* appChars32)
    : output_(output), appChars16_(appChars16), appChars32_(appChars32), hook_{Before, After, this} {
    for (const WideIn* in : inputs)
        copiesOk_ = copiesOk_ && in->ok();
    if (output != nullptr)
        copiesOk_ = copiesOk_ && output->ok();
}

SQLRETURN WideHook::Before(void* self, int kind, void* object) {
    auto* h = static_cast<WideHook*>(self);
    if (h->copiesOk_)
        return SQL_SUCCESS;
    // The diagnostic calls read the handle's records: they never write one.
    bool diagnosticCall = h->output_ != nullptr && !h->output_->postsOnHandle();
    if (DIAG* diag = ObjectDiag(kind, object); diag != nullptr && !diagnosticCall)
        diag->errCode = ERR_MEMORY_ALLOCATION_FAILURE;
    return SQL_ERROR;
}

SQLRETURN WideHook::After(void* self, int kind, void* object, SQLRETURN rc) {
    auto* h = static_cast<WideHook*>(self);
    if (h->output_ == nullptr)
        return rc;
    return h->output_->Finish(rc, ObjectDiag(kind, object), h->appChars32_, h->appChars16_);
}
