// The driver's string resources: a compiled-in table with the ids and texts the driver
// has always used, and the per-library facts (Unicode or ANSI deliverable).
#pragma once

#include <cstddef>

enum DrvStringId : int {
    IDS_CAPTION = 1,
    IDS_INIT_FAILED = 5,
    IDS_REQUIRES_WIN32 = 202,
    IDS_DESCRIPTION = 204,
};

// Copies the string into buf, cut to size - 1 bytes and NUL-terminated; returns the number
// of bytes copied, 0 for an unknown id or a zero size.
int DrvLoadString(int id, char* buf, size_t size);

// Facts of the library being built: defined once per deliverable.
struct DRV_VARIANT {
    bool unicode;             // wide entry points and wide SQL types
    const char* description;  // driver description
    const char* fileName;     // the shared library's file name
};
const DRV_VARIANT& DrvVariant();
