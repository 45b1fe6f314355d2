// Wide entry text handling.
#include "driver/frame/widen.h"

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

WideHook::WideHook(std::initializer_list<const WideIn*> inputs) : hook_{Before, nullptr, this} {
    for (const WideIn* in : inputs)
        copiesOk_ = copiesOk_ && in->ok();
}

SQLRETURN WideHook::Before(void* self, HANDLE_HDR* object) {
    if (static_cast<WideHook*>(self)->copiesOk_)
        return SQL_SUCCESS;
    if (object != nullptr)
        object->diag.errCode = ERR_MEMORY_ALLOCATION_FAILURE;
    return SQL_ERROR;
}
