// UT_ARRAY: allocation, growth by 10 elements, append, removal and release.
#include "util/utarray.h"

#include <cstring>

#include "util/utheap.h"

namespace {

unsigned char* ElementAt(const UT_ARRAY* array, uint32_t index) {
    return static_cast<unsigned char*>(array->elements) + index * array->elementSize;
}

}  // namespace

UT_ARRAY* ut_ArrayNew(uint64_t elementSize) {
    if (elementSize == 0)
        return nullptr;
    auto* array = static_cast<UT_ARRAY*>(uh_Calloc(1, sizeof(UT_ARRAY)));
    if (array == nullptr)
        return nullptr;
    array->elements = uh_Calloc(UT_ARRAY_GROW_BY, elementSize);
    if (array->elements == nullptr) {
        uh_Free(array);
        return nullptr;
    }
    array->capacity = UT_ARRAY_GROW_BY;
    array->elementSize = elementSize;
    return array;
}

int ut_ArrayAppend(UT_ARRAY* array, const void* element) {
    if (array == nullptr || element == nullptr)
        return 0;
    if (array->count < array->capacity) {
        std::memcpy(ElementAt(array, array->count), element, array->elementSize);
        ++array->count;
        return 1;
    }
    if (array->capacity > UINT32_MAX - UT_ARRAY_GROW_BY)
        return 0;
    uint32_t capacity = array->capacity + UT_ARRAY_GROW_BY;
    auto* grown = static_cast<unsigned char*>(uh_Calloc(capacity, array->elementSize));
    if (grown == nullptr)
        return 0;
    size_t used = array->count * array->elementSize;
    std::memcpy(grown, array->elements, used);
    // The element is copied before the old block goes: it may be one of this array's.
    std::memcpy(grown + used, element, array->elementSize);
    uh_Free(array->elements);
    array->elements = grown;
    array->capacity = capacity;
    ++array->count;
    return 1;
}

int ut_ArrayAppendAll(UT_ARRAY* array, const UT_ARRAY* other) {
    if (array == nullptr || other == nullptr || array->elementSize != other->elementSize)
        return 0;
    // Counted once, and each element addressed afresh: other may be this array.
    uint32_t n = other->count;
    for (uint32_t i = 0; i < n; ++i) {
        if (ut_ArrayAppend(array, ElementAt(other, i)) == 0)
            return 0;
    }
    return 1;
}

int ut_ArrayRemoveAt(UT_ARRAY* array, uint32_t index, UT_ARRAY_DTOR destructor) {
    if (array == nullptr || index >= array->count)
        return 0;
    if (destructor != nullptr)
        destructor(ElementAt(array, index));
    std::memmove(ElementAt(array, index), ElementAt(array, index + 1),
                 (array->count - index - 1) * array->elementSize);
    --array->count;
    std::memset(ElementAt(array, array->count), 0, array->elementSize);
    return 1;
}

void ut_ArrayFree(UT_ARRAY** slot, UT_ARRAY_DTOR destructor) {
    if (slot == nullptr || *slot == nullptr)
        return;
    UT_ARRAY* array = *slot;
    if (destructor != nullptr) {
        for (uint32_t i = 0; i < array->count; ++i)
            destructor(ElementAt(array, i));
    }
    uh_Free(array->elements);
    uh_Free(array);
    *slot = nullptr;
}
