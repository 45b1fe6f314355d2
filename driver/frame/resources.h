// The driver's string resources: a compiled-in table with the ids and texts the driver
// has always used, and the per-library facts (Unicode or ANSI deliverable).
#pragma once

#include <cstddef>

#include "util/charset.h"

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

// The narrow code set of the process's current LC_CTYPE locale for this library
// (nl_langinfo(CODESET); the driver never calls setlocale). false, with *name the code
// set's name, when it is neither UTF-8, ISO-8859-1 nor the C locale's ASCII.
bool DrvLocaleNarrowCode(NarrowCode* out, const char** name);
// The narrow code set of the last connect, which decides it; before any connect, the
// locale's, or the library's C-locale choice when the locale's is not supported.
NarrowCode DrvNarrowCode();
void DrvSetNarrowCode(NarrowCode code);
