// Growable memory pools: texts and arrays are built piece by piece as the pool's one open
// object and then closed; closed objects never move and live until the pool is freed at
// once (or dropped with mpl_FreeTo). Running out of memory is fatal.
//
// A chunk is one zeroed heap block: a header {previous chunk, chunk end}, then data. The
// first object of a chunk starts at the first 16-byte boundary at least 16 bytes past the
// chunk's start; every closed object starts on a 16-byte boundary. The open object may
// move to a new chunk whenever it grows, so no pointer into it may be kept across an
// append. A pool belongs to one record and is used under that record's owner's locks.
#pragma once

#include <cstddef>

// All pointers; a zeroed record is an empty pool.
struct MPL {
    char* chunk;  // most recent chunk, head of the list linked through each chunk's header
    char* base;   // start of the open object
    char* next;   // next free byte: the open object spans base up to next
    char* limit;  // end of the current chunk
};

void mpl_Init(MPL* pool);
// Moves the open object to a new chunk with room for at least n more bytes.
void mpl_Grow(MPL* pool, size_t n);
// Appends n bytes to the open object; returns where they now lie.
void* mpl_Append(MPL* pool, const void* bytes, size_t n);
// Closes the open object and returns its start (null for an empty pool that never grew).
// A text is closed after its NUL has been appended.
void* mpl_Finish(MPL* pool);
// Frees every chunk and zeroes the record.
void mpl_FreeAll(MPL* pool);
// Drops every object from the address on: null drops only the open object; an address in
// some chunk frees the newer chunks and reopens that chunk at the address; any other
// address frees everything.
void mpl_FreeTo(MPL* pool, void* address);
// Reserves n bytes at the end of the open object and closes it; returns its start.
void* mpl_Alloc(MPL* pool, size_t n);

// Appends one byte: single characters and the terminating NUL of a text.
inline void mpl_AppendByte(MPL* pool, char c) {
    if (pool->next >= pool->limit)
        mpl_Grow(pool, 1);
    *pool->next++ = c;
}
