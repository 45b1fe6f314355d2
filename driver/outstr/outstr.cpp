// The one writer of output strings.
#include "driver/outstr/outstr.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "driver/diag/diag.h"
#include "driver/frame/resources.h"
#include "util/charset.h"
#include "util/errcode.h"

namespace {

OutStrResult WriteNarrow(std::string_view text, char* buf, SQLLEN size, TextCode code) {
    OutStrResult r{static_cast<SQLLEN>(text.size()), false};
    if (buf == nullptr)
        return r;
    if (size <= 0) {
        r.truncated = true;
        return r;
    }
    size_t keep = text.size();
    if (keep >= static_cast<size_t>(size)) {
        keep = static_cast<size_t>(size) - 1;
        if (code == TextCode::Utf8)
            keep = ut_Utf8CutLen(text.data(), text.size(), keep);
        r.truncated = true;
    }
    std::memcpy(buf, text.data(), keep);
    buf[keep] = '\0';
    return r;
}

// Decodes at most room - 1 units into dest (aligned) and terminates; returns the units.
size_t DecodeInto(std::string_view text, TextCode code, SQLWCHAR* dest, size_t room) {
    size_t n;
    if (code == TextCode::Utf8) {
        n = static_cast<size_t>(ut_Utf8DecodeN(text.data(), static_cast<SQLLEN>(text.size()), dest,
                                               static_cast<SQLLEN>(room - 1)));
    } else {
        n = text.size() < room - 1 ? text.size() : room - 1;
        for (size_t i = 0; i < n; ++i)
            dest[i] = static_cast<unsigned char>(text[i]);
    }
    dest[n] = 0;
    return n;
}

OutStrResult WriteWide(std::string_view text, void* buf, SQLLEN size, OutUnit unit, TextCode code) {
    size_t units = code == TextCode::Utf8
                       ? static_cast<size_t>(ut_Utf8CharCount(text.data(), static_cast<SQLLEN>(text.size())))
                       : text.size();
    OutStrResult r{static_cast<SQLLEN>(unit == OutUnit::Bytes ? 2 * units : units), false};
    if (buf == nullptr)
        return r;
    size_t room = size <= 0 ? 0 : unit == OutUnit::Bytes ? static_cast<size_t>(size) / 2 : static_cast<size_t>(size);
    if (room == 0) {
        r.truncated = true;
        return r;
    }
    size_t n;
    if (reinterpret_cast<uintptr_t>(buf) % alignof(SQLWCHAR) == 0) {
        n = DecodeInto(text, code, static_cast<SQLWCHAR*>(buf), room);
    } else {
        // An untyped buffer (an attribute or information value) may sit at any address.
        try {
            std::vector<SQLWCHAR> tmp(units + 1 < room ? units + 1 : room);
            n = DecodeInto(text, code, tmp.data(), tmp.size());
            std::memcpy(buf, tmp.data(), (n + 1) * sizeof(SQLWCHAR));
        } catch (const std::bad_alloc&) {
            const SQLWCHAR nul = 0;
            std::memcpy(buf, &nul, sizeof nul);
            n = 0;
        }
    }
    r.truncated = n < units;
    return r;
}

}  // namespace

OutStrResult WriteOutStr(std::string_view text, void* buf, SQLLEN size, OutUnit unit, bool wide, TextCode code) {
    if (wide)
        return WriteWide(text, buf, size, unit, code);
    return WriteNarrow(text, static_cast<char*>(buf), size, code);
}

TextCode DriverTextCode() {
    return DrvVariant().unicode || DrvNarrowCode() == NarrowCode::Utf8 ? TextCode::Utf8 : TextCode::Ansi;
}

SQLRETURN OutStrFinish(const OutStrResult& r, DIAG* diag) {
    if (!r.truncated)
        return SQL_SUCCESS;
    if (diag != nullptr && diag->errCode == 0)
        diag->errCode = ERR_DATA_WAS_TRUNCATED;
    return SQL_SUCCESS_WITH_INFO;
}
