// String resources of the driver.
#include "driver/frame/resources.h"

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
