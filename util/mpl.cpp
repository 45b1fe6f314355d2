// Growable memory pools.
#include "util/mpl.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "util/utalloc.h"

namespace {

constexpr uintptr_t MPL_ALIGN = 16;
constexpr size_t MPL_PAGE = 4096;

struct ChunkHeader {
    char* prev;
    char* end;
};

ChunkHeader* Header(char* chunk) { return reinterpret_cast<ChunkHeader*>(chunk); }

char* AlignUp(char* p) {
    auto v = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<char*>((v + MPL_ALIGN - 1) & ~(MPL_ALIGN - 1));
}

// Where the first object of a chunk starts.
char* FirstObject(char* chunk) { return AlignUp(chunk + sizeof(ChunkHeader)); }

// True when n more bytes do not fit before the limit. Compared as sizes: next may be null
// (empty pool), and next + n would then not be a valid pointer.
bool NoRoomFor(const MPL* pool, size_t n) {
    return pool->next >= pool->limit || n >= static_cast<size_t>(pool->limit - pool->next);
}

// next rounded up to the object alignment, never past the chunk's end.
char* AlignedNext(const MPL* pool) {
    char* p = AlignUp(pool->next);
    return p > pool->limit ? pool->limit : p;
}

}  // namespace

void mpl_Init(MPL* pool) { *pool = MPL{}; }

void mpl_Grow(MPL* pool, size_t n) {
    const size_t len = static_cast<size_t>(pool->next - pool->base);
    // An eighth more than the open object needs, plus 100 bytes, in whole pages.
    const size_t want = len + n + len / 8 + 100;
    if (want < n || want > SIZE_MAX - MPL_PAGE)
        ut_OutOfMemory(__FILE__, __LINE__, "out of memory");
    const size_t size = (want + MPL_PAGE - 1) / MPL_PAGE * MPL_PAGE;
    auto* chunk = static_cast<char*>(std::calloc(1, size));
    if (chunk == nullptr)
        ut_OutOfMemory(__FILE__, __LINE__, "out of memory");

    char* base = FirstObject(chunk);
    if (len > 0)
        std::memcpy(base, pool->base, len);
    ChunkHeader* header = Header(chunk);
    if (pool->chunk != nullptr && pool->base == FirstObject(pool->chunk)) {
        // The old chunk held nothing but the open object: give it back at once.
        header->prev = Header(pool->chunk)->prev;
        std::free(pool->chunk);
    } else {
        header->prev = pool->chunk;
    }
    header->end = chunk + size;
    pool->chunk = chunk;
    pool->limit = chunk + size;
    pool->base = base;
    pool->next = base + len;
}

void* mpl_Append(MPL* pool, const void* bytes, size_t n) {
    if (NoRoomFor(pool, n))
        mpl_Grow(pool, n);
    char* at = pool->next;
    if (n > 0)
        std::memcpy(at, bytes, n);
    pool->next += n;
    return at;
}

void* mpl_Finish(MPL* pool) {
    char* object = pool->base;
    pool->base = pool->next = AlignedNext(pool);
    return object;
}

void mpl_FreeAll(MPL* pool) {
    for (char* chunk = pool->chunk; chunk != nullptr;) {
        char* prev = Header(chunk)->prev;
        std::free(chunk);
        chunk = prev;
    }
    *pool = MPL{};
}

void mpl_FreeTo(MPL* pool, void* address) {
    if (address == nullptr) {
        pool->next = pool->base;
        return;
    }
    auto* at = static_cast<char*>(address);
    // Compared as integers: the address may lie in none of the chunks.
    const auto a = reinterpret_cast<uintptr_t>(at);
    for (char* chunk = pool->chunk; chunk != nullptr;) {
        ChunkHeader* header = Header(chunk);
        if (a >= reinterpret_cast<uintptr_t>(chunk) && a <= reinterpret_cast<uintptr_t>(header->end)) {
            pool->chunk = chunk;
            pool->base = pool->next = at;
            // The chunk may be an older, smaller one: the limit is its own end.
            pool->limit = header->end;
            return;
        }
        char* prev = header->prev;
        std::free(chunk);
        chunk = prev;
    }
    *pool = MPL{};
}

void* mpl_Alloc(MPL* pool, size_t n) {
    if (NoRoomFor(pool, n))
        mpl_Grow(pool, n);
    pool->next += n;
    return mpl_Finish(pool);
}
