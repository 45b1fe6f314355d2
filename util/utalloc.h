// Heap allocation for which running out of memory is fatal (the allocators of the agent,
// the cursor library and the option splitter), and the file-extension helper.
//
// Everywhere else in the driver an allocation failure is an ordinary error; only these
// services end the process, after one ERROR log line that names the source file and line.
// Memory from s_alloc, s_realloc and s_strdup belongs to the caller and is released with
// free().
#pragma once

#include <cstddef>

// Zeroed memory of count x size bytes; one byte when either is 0. Never null.
void* s_alloc(size_t count, size_t size);
// realloc that never returns null; a size of 0 is taken as 1, so the block stays valid.
void* s_realloc(void* memory, size_t size);
// A copy of a NUL-terminated text made with s_alloc; a null text gives an empty copy.
char* s_strdup(const char* text);

// Logs "(file:line) what" at ERROR and ends the process with exit status 1.
[[noreturn]] void ut_OutOfMemory(const char* file, int line, const char* what);

enum UtFileExtMode : int {
    UT_EXT_REMOVE = 0,   // any mode but the two below removes the extension
    UT_EXT_REPLACE = 1,  // replaces the extension, or adds it when there is none
    UT_EXT_ADD = 2,      // adds the extension only when the name has none
};

// The file name with its extension replaced, added or removed. The extension is the text
// from the last '.' of the name part (after the last '/'), unless that dot begins the name
// part. The result lies in a path-sized buffer of the calling thread that its next call
// overwrites; a result longer than the buffer is cut.
const char* ut_FileExt(const char* name, const char* ext, int mode);
