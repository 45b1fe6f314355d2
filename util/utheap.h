// Heap calls of the containers and the datasets.
//
// There, running out of memory is an ordinary error (a null result, or "Memory allocation
// failure"), not the end of the process, so these never exit. Every block is C heap and
// may be released with free() by whoever takes it over. A request of 0 bytes still gets a
// block, so a null result always means out of memory.
//
// Tests reach the failure paths: uh_FailAfter(n) lets n more allocations succeed and fails
// every further one, until uh_FailAfter(-1); uh_FailAbove(bytes) fails every request for
// more than that many bytes, until uh_FailAbove(SIZE_MAX).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace uh_detail {
inline std::atomic<long> failAfter{-1};
inline std::atomic<size_t> failAbove{SIZE_MAX};

inline bool Refuse(size_t bytes) {
    if (bytes > failAbove.load(std::memory_order_relaxed))
        return true;
    long n = failAfter.load(std::memory_order_relaxed);
    if (n < 0)
        return false;
    if (n == 0)
        return true;
    failAfter.store(n - 1, std::memory_order_relaxed);
    return false;
}
}  // namespace uh_detail

inline void uh_FailAfter(long n) { uh_detail::failAfter.store(n, std::memory_order_relaxed); }
inline void uh_FailAbove(size_t bytes) {
    uh_detail::failAbove.store(bytes, std::memory_order_relaxed);
}

// Zeroed count x size bytes; null when out of memory or when the product overflows.
inline void* uh_Calloc(size_t count, size_t size) {
    size_t bytes;
    if (__builtin_mul_overflow(count, size, &bytes) || uh_detail::Refuse(bytes))
        return nullptr;
    return std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
}

inline void* uh_Malloc(size_t size) {
    if (uh_detail::Refuse(size))
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

inline void uh_Free(void* p) { std::free(p); }

inline void* uh_MemDup(const void* src, size_t size) {
    void* p = uh_Malloc(size);
    if (p != nullptr && size != 0)
        std::memcpy(p, src, size);
    return p;
}

inline char* uh_StrDup(const char* text) {
    return static_cast<char*>(uh_MemDup(text, std::strlen(text) + 1));
}
