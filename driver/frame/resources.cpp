// String resources of the driver.
#include "driver/frame/resources.h"

#include <langinfo.h>

#include <atomic>
#include <cstring>

namespace {

struct ResString {
    int id;
    const char* text;
};

constexpr ResString kStrings[] = {
    {IDS_CAPTION, "Tessaryn ODBC"},
    {IDS_INIT_FAILED, "Unable to initialize the ODBC layer."},
    {IDS_REQUIRES_WIN32, "The Tessaryn ODBC driver requires Win32."},
};

}  // namespace

int DrvLoadString(int id, char* buf, size_t size) {
    if (buf == nullptr || size == 0)
        return 0;
    const char* text = nullptr;
    if (id == IDS_DESCRIPTION) {
        text = DrvVariant().description;
    } else {
        for (const ResString& s : kStrings)
            if (s.id == id)
                text = s.text;
    }
    if (text == nullptr) {
        buf[0] = '\0';
        return 0;
    }
    size_t n = std::strlen(text);
    if (n > size - 1)
        n = size - 1;
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

namespace {

// 0 undecided, else the code + 1: set by every connect, read by every text the driver
// writes, so it is one atomic word.
std::atomic<int> gNarrowCode{0};

}  // namespace

bool DrvLocaleNarrowCode(NarrowCode* out, const char** name) {
    const char* codeset = nl_langinfo(CODESET);
    if (name != nullptr)
        *name = codeset != nullptr ? codeset : "";
    return ut_NarrowCodeOf(codeset != nullptr ? codeset : "", DrvVariant().unicode, out);
}

NarrowCode DrvNarrowCode() {
    const int v = gNarrowCode.load(std::memory_order_relaxed);
    if (v != 0)
        return static_cast<NarrowCode>(v - 1);
    NarrowCode code;
    if (!DrvLocaleNarrowCode(&code, nullptr))
        ut_NarrowCodeOf("ANSI_X3.4-1968", DrvVariant().unicode, &code);
    return code;
}

void DrvSetNarrowCode(NarrowCode code) {
    gNarrowCode.store(static_cast<int>(code) + 1, std::memory_order_relaxed);
}
