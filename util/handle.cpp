// Handle tables: slot array management, registration, look-up and removal.
#include "util/handle.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "util/errcode.h"

namespace {

uint16_t IdSlot(uint32_t id) { return static_cast<uint16_t>(id & 0xFFFFu); }
uint16_t IdTag(uint32_t id) { return static_cast<uint16_t>(id >> 16); }

// The slot of a registered id, or null. Assumes the table's lock is held when enabled.
HDL_SLOT* FindSlot(HANDLE_TABLE* table, uint32_t id) {
    uint16_t slot = IdSlot(id);
    if (table->slots == nullptr || slot >= table->slotCount)
        return nullptr;
    HDL_SLOT* s = &table->slots[slot];
    if (s->tag == 0 || s->tag != IdTag(id))
        return nullptr;
    return s;
}

size_t BitWords(uint32_t slots) { return (slots + 63) / 64; }

void MarkFree(HANDLE_TABLE* table, uint32_t slot) {
    const uint32_t word = slot / 64, group = word / 64;
    table->freeBits[word] |= uint64_t{1} << (slot % 64);
    table->freeWords[group] |= uint64_t{1} << (word % 64);
    table->freeGroups = static_cast<uint16_t>(table->freeGroups | (1u << group));
}

void MarkTaken(HANDLE_TABLE* table, uint32_t slot) {
    const uint32_t word = slot / 64, group = word / 64;
    if ((table->freeBits[word] &= ~(uint64_t{1} << (slot % 64))) != 0)
        return;
    if ((table->freeWords[group] &= ~(uint64_t{1} << (word % 64))) != 0)
        return;
    table->freeGroups = static_cast<uint16_t>(table->freeGroups & ~(1u << group));
}

// The lowest free slot. Assumes there is one (freeCount not 0).
uint32_t LowestFree(const HANDLE_TABLE* table) {
    const uint32_t group = static_cast<uint32_t>(__builtin_ctz(table->freeGroups));
    const uint32_t word = group * 64 + static_cast<uint32_t>(__builtin_ctzll(table->freeWords[group]));
    return word * 64 + static_cast<uint32_t>(__builtin_ctzll(table->freeBits[word]));
}

// Gives the table room for at least `need` slots, doubling what it has; the table is
// unchanged when memory runs out. Copying on doubling keeps every add O(1) amortised.
bool Reserve(HANDLE_TABLE* table, uint32_t need) {
    if (need <= table->room)
        return true;
    uint32_t room = std::max(need, std::min(table->room * 2, HDL_MAX_SLOTS));
    auto* slots = static_cast<HDL_SLOT*>(std::calloc(room, sizeof(HDL_SLOT)));
    auto* bits = static_cast<uint64_t*>(std::calloc(BitWords(room), sizeof(uint64_t)));
    if (slots == nullptr || bits == nullptr) {
        std::free(slots);
        std::free(bits);
        return false;
    }
    if (table->slots != nullptr) {
        std::memcpy(slots, table->slots, table->slotCount * sizeof(HDL_SLOT));
        std::memcpy(bits, table->freeBits, BitWords(table->slotCount) * sizeof(uint64_t));
    }
    std::free(table->slots);
    std::free(table->freeBits);
    table->slots = slots;
    table->freeBits = bits;
    table->room = room;
    return true;
}

}  // namespace

int hdl_Init(HANDLE_TABLE* table, uint32_t id) {
    hdl_Free(table);
    HdlTableGuard guard(table);
    if (!Reserve(table, HDL_GROW_BY))
        return ERR_MEMORY_ALLOCATION_FAILURE;
    uint16_t tag = static_cast<uint16_t>(id & 0xFFFFu);
    table->tag = tag == 0 ? 0xFFFF : tag;
    table->slotCount = HDL_GROW_BY;
    table->freeCount = HDL_GROW_BY;
    for (uint32_t s = 0; s < HDL_GROW_BY; ++s)
        MarkFree(table, s);
    return 0;
}

int hdl_EnableLock(HANDLE_TABLE* table) {
    // std::recursive_mutex is ready at construction; the flag alone switches it on.
    table->lockEnabled = 1;
    return 0;
}

void hdl_Free(HANDLE_TABLE* table) {
    // The lock flag survives: a thread may be waiting on the lock right now, and it must
    // be able to leave it again. Such a thread then finds an empty table.
    HdlTableGuard guard(table);
    std::free(table->slots);
    std::free(table->freeBits);
    table->slots = nullptr;
    table->freeBits = nullptr;
    table->room = 0;
    std::memset(table->freeWords, 0, sizeof table->freeWords);
    table->freeGroups = 0;
    table->slotCount = 0;
    table->freeCount = 0;
    table->tag = 0;
}

int hdl_Add(HANDLE_TABLE* table, uint32_t* outId, void* object) {
    *outId = 0;
    HdlTableGuard guard(table);
    if (table->slots == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;

    uint32_t slot = 0;
    if (table->freeCount != 0) {
        // A free count that disagrees with the bitmap would be a bug in this module.
        if (table->freeGroups == 0)
            return ERR_GENERAL_ERROR;
        slot = LowestFree(table);
    } else {
        uint32_t oldCount = table->slotCount;
        if (oldCount + HDL_GROW_BY > HDL_MAX_SLOTS)
            return ERR_LIMIT_ON_THE_NUMBER_OF_HANDLES;
        if (!Reserve(table, oldCount + HDL_GROW_BY))
            return ERR_MEMORY_ALLOCATION_FAILURE;
        table->slotCount = static_cast<uint16_t>(oldCount + HDL_GROW_BY);
        table->freeCount = HDL_GROW_BY;
        for (uint32_t s = oldCount; s < table->slotCount; ++s)
            MarkFree(table, s);
        slot = oldCount;
    }

    uint16_t tag = static_cast<uint16_t>(table->tag);
    table->slots[slot].tag = tag;
    table->slots[slot].object = object;
    table->freeCount--;
    MarkTaken(table, slot);
    *outId = (static_cast<uint32_t>(tag) << 16) | slot;
    return 0;
}

void* hdl_Lookup(HANDLE_TABLE* table, uint32_t id) {
    if (table == nullptr)
        return nullptr;
    HdlTableGuard guard(table);
    HDL_SLOT* s = FindSlot(table, id);
    return s ? s->object : nullptr;
}

void hdl_Remove(HANDLE_TABLE* table, uint32_t id) {
    if (table == nullptr)
        return;
    HdlTableGuard guard(table);
    HDL_SLOT* s = FindSlot(table, id);
    if (s == nullptr)
        return;
    s->tag = 0;
    s->object = nullptr;
    table->freeCount++;
    MarkFree(table, static_cast<uint32_t>(s - table->slots));
}

void hdl_Lock(HANDLE_TABLE* table) {
    if (table != nullptr && table->lockEnabled)
        table->lock.lock();
}

void hdl_Unlock(HANDLE_TABLE* table) {
    if (table != nullptr && table->lockEnabled)
        table->lock.unlock();
}
