// UT_ARRAY: a growable array of fixed-size elements, stored back to back.
//
// It starts with room for 10 elements and grows by 10; a growth allocates a new zeroed
// block, so element addresses change whenever an append grows the array. No locking.
#pragma once

#include <cstdint>

struct UT_ARRAY {
    uint32_t count = 0;
    uint32_t capacity = 0;
    void* elements = nullptr;  // capacity x elementSize bytes, zeroed when allocated
    uint64_t elementSize = 0;
};

// Runs on the address of one element: releases what the element holds.
using UT_ARRAY_DTOR = void (*)(void* element);

constexpr uint32_t UT_ARRAY_GROW_BY = 10;

// An empty array with room for 10 elements; null for size 0 or when out of memory.
UT_ARRAY* ut_ArrayNew(uint64_t elementSize);
// Copies elementSize bytes from element after the last element (the element may lie in
// this very array). 1 done; 0 for a null argument or when growing fails (array unchanged).
int ut_ArrayAppend(UT_ARRAY* array, const void* element);
// Appends every element of other in order (other may be the array itself). 0 unless both
// exist with the same element size, or at the first failed append (earlier ones stay).
int ut_ArrayAppendAll(UT_ARRAY* array, const UT_ARRAY* other);
// Runs the destructor (when given) on the element, moves the later ones down. 1 done,
// 0 for an index at or beyond the count.
int ut_ArrayRemoveAt(UT_ARRAY* array, uint32_t index, UT_ARRAY_DTOR destructor);
// Runs the destructor on every element in order, frees block and array, nulls the slot.
// A null slot or array is ignored.
void ut_ArrayFree(UT_ARRAY** slot, UT_ARRAY_DTOR destructor);
