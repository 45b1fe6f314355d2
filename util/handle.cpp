// Handle tables: slot array management, registration, look-up and removal.
#include "util/handle.h"

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


}  // namespace

int hdl_Init(HANDLE_TABLE* table, uint32_t id) {
    hdl_Free(table);
    auto* slots = static_cast<HDL_SLOT*>(std::calloc(HDL_GROW_BY, sizeof(HDL_SLOT)));
    if (slots == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    uint16_t tag = static_cast<uint16_t>(id & 0xFFFFu);
    table->tag = tag == 0 ? 0xFFFF : tag;
    table->slots = slots;
    table->slotCount = HDL_GROW_BY;
    table->freeCount = HDL_GROW_BY;
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
    table->slots = nullptr;
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
        while (slot < table->slotCount && table->slots[slot].tag != 0)
            ++slot;
        // A free count that disagrees with the slots would be a bug in this module.
        if (slot == table->slotCount)
            return ERR_GENERAL_ERROR;
    } else {
        uint32_t oldCount = table->slotCount;
        if (oldCount + HDL_GROW_BY > HDL_MAX_SLOTS)
            return ERR_LIMIT_ON_THE_NUMBER_OF_HANDLES;
        auto* grown = static_cast<HDL_SLOT*>(std::calloc(oldCount + HDL_GROW_BY, sizeof(HDL_SLOT)));
        if (grown == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        std::memcpy(grown, table->slots, oldCount * sizeof(HDL_SLOT));
        std::free(table->slots);
        table->slots = grown;
        table->slotCount = static_cast<uint16_t>(oldCount + HDL_GROW_BY);
        table->freeCount = HDL_GROW_BY;
        slot = oldCount;
    }

    uint16_t tag = static_cast<uint16_t>(table->tag);
    table->slots[slot].tag = tag;
    table->slots[slot].object = object;
    table->freeCount--;
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
}

void hdl_Lock(HANDLE_TABLE* table) {
    if (table != nullptr && table->lockEnabled)
        table->lock.lock();
}

void hdl_Unlock(HANDLE_TABLE* table) {
    if (table != nullptr && table->lockEnabled)
        table->lock.unlock();
}
