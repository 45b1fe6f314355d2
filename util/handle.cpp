// Handle tables: slot array management, registration, look-up and removal.
#include "util/handle.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "util/errcode.h"

// An outgrown slot array of a locked table, kept for readers without the lock.
struct HDL_KEPT_ARRAY {
    HDL_SLOT* slots;
    HDL_KEPT_ARRAY* next;
};

namespace {

// The fields a reader without the lock looks at are written with these (the writers hold
// the lock, so their own plain reads need nothing) and read with Read.
template <class T>
T Read(const T& field) {
    return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_acquire);
}
template <class T>
void Publish(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

// Rewrites a slot so that a reader without the lock sees it either before or after the
// change, or sees the sequence number change: odd first, the fields, then even again.
void WriteSlot(HDL_SLOT* s, uint16_t tag, void* object, const void* owner) {
    const uint32_t seq = s->seq;
    std::atomic_ref<uint32_t>(s->seq).store(seq + 1, std::memory_order_relaxed);
    s->tag = tag;
    Publish(s->owner, owner);
    Publish(s->object, object);
    Publish(s->seq, seq + 2);
}

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
        // The whole room, sequence numbers and all: a reader's check of its copy of a slot
        // then holds across the move.
        std::memcpy(slots, table->slots, table->room * sizeof(HDL_SLOT));
        std::memcpy(bits, table->freeBits, BitWords(table->slotCount) * sizeof(uint64_t));
    }
    if (table->lockEnabled && table->slots != nullptr) {
        auto* kept = static_cast<HDL_KEPT_ARRAY*>(std::malloc(sizeof(HDL_KEPT_ARRAY)));
        if (kept == nullptr) {
            std::free(slots);
            std::free(bits);
            return false;
        }
        *kept = HDL_KEPT_ARRAY{table->slots, table->kept};
        table->kept = kept;
    } else {
        std::free(table->slots);
    }
    std::free(table->freeBits);
    Publish(table->slots, slots);
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
    Publish(table->tag, int32_t{tag == 0 ? 0xFFFF : tag});
    Publish(table->slotCount, static_cast<uint16_t>(HDL_GROW_BY));
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
    Publish(table->slotCount, uint16_t{0});
    Publish(table->tag, int32_t{0});
    if (table->lockEnabled && table->slots != nullptr) {
        // A reader without the lock may still be in the array: emptied, it stays.
        for (uint32_t s = 0; s < table->room; ++s)
            if (table->slots[s].object != nullptr || table->slots[s].tag != 0)
                WriteSlot(&table->slots[s], 0, nullptr, nullptr);
        std::memset(table->freeBits, 0, BitWords(table->room) * sizeof(uint64_t));
    } else {
        std::free(table->slots);
        std::free(table->freeBits);
        Publish(table->slots, static_cast<HDL_SLOT*>(nullptr));
        table->freeBits = nullptr;
        table->room = 0;
    }
    std::memset(table->freeWords, 0, sizeof table->freeWords);
    table->freeGroups = 0;
    table->freeCount = 0;
}

void hdl_Release(HANDLE_TABLE* table) {
    HdlTableGuard guard(table);
    if (table->slotCount != 0)
        return;
    std::free(table->slots);
    std::free(table->freeBits);
    Publish(table->slots, static_cast<HDL_SLOT*>(nullptr));
    table->freeBits = nullptr;
    table->room = 0;
    while (HDL_KEPT_ARRAY* k = table->kept) {
        table->kept = k->next;
        std::free(k->slots);
        std::free(k);
    }
}

HANDLE_TABLE::~HANDLE_TABLE() {
    std::free(slots);
    std::free(freeBits);
    while (HDL_KEPT_ARRAY* k = kept) {
        kept = k->next;
        std::free(k->slots);
        std::free(k);
    }
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
        Publish(table->slotCount, static_cast<uint16_t>(oldCount + HDL_GROW_BY));
        table->freeCount = HDL_GROW_BY;
        for (uint32_t s = oldCount; s < table->slotCount; ++s)
            MarkFree(table, s);
        slot = oldCount;
    }

    uint16_t tag = static_cast<uint16_t>(table->tag);
    WriteSlot(&table->slots[slot], tag, object, table->ownerOf != nullptr ? table->ownerOf(object) : nullptr);
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
    WriteSlot(s, 0, nullptr, nullptr);
    table->freeCount++;
    MarkFree(table, static_cast<uint32_t>(s - table->slots));
}

HdlPeek hdl_Peek(const HANDLE_TABLE* table, uint32_t id, HDL_PEEK* out) {
    const uint16_t slot = IdSlot(id);
    if (table == nullptr || IdTag(id) != Read(table->tag))
        return HdlPeek::Absent;
    // The count before the array: an array is published before any count that needs it,
    // and a later array never has less room.
    if (slot >= Read(table->slotCount))
        return HdlPeek::Absent;
    const HDL_SLOT* slots = Read(table->slots);
    if (slots == nullptr)
        return HdlPeek::Absent;
    const HDL_SLOT& s = slots[slot];
    const uint32_t seq = Read(s.seq);
    void* object = Read(s.object);
    const void* owner = Read(s.owner);
    // Read after the acquiring loads above, which keep it from moving before them.
    if ((seq & 1u) != 0 || Read(s.seq) != seq)
        return HdlPeek::Changing;
    if (object == nullptr)
        return HdlPeek::Absent;
    *out = HDL_PEEK{object, owner, slot, seq};
    return HdlPeek::Found;
}

bool hdl_PeekHolds(const HANDLE_TABLE* table, const HDL_PEEK& peek) {
    if (peek.slot >= Read(table->slotCount))
        return false;
    const HDL_SLOT* slots = Read(table->slots);
    return slots != nullptr && Read(slots[peek.slot].seq) == peek.seq;
}

void hdl_Lock(HANDLE_TABLE* table) {
    if (table != nullptr && table->lockEnabled)
        table->lock.lock();
}

void hdl_Unlock(HANDLE_TABLE* table) {
    if (table != nullptr && table->lockEnabled)
        table->lock.unlock();
}
