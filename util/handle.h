// Handle tables: map 32-bit handle ids to objects.
//
// An id carries the table's kind tag in bits 16-31 and the slot number in bits 0-15,
// so neither the application nor the next layer down ever sees a pointer. A table owns
// its slot array, never the objects. The driver's four tables switch their own lock on;
// the agent's run without one and rely on the caller's serialisation.
//
// A new object takes the lowest free slot, so a freed id is the first to come back. That
// slot is found through a three-level bitmap of the free slots (64 x 64 x 16 bits covers
// 65536), and the slot array grows by doubling its room while the slot count the ids see
// still grows by 5: every add and remove is a constant number of steps, whatever the count.
//
// A table with its lock switched on can also be read without the lock (hdl_Peek): its
// writers store every field such a reader looks at atomically, each slot carries a
// sequence number that is odd while the slot changes, and the table never frees a slot
// array while it lives (one outgrown is kept; hdl_Free empties the last one and keeps it),
// so a reader that loaded an old array pointer still reads valid memory. The arrays kept
// add up to less than the one in use.
#pragma once

#include <cstdint>
#include <mutex>

struct HDL_SLOT {
    uint16_t tag;        // 0 = free, else the table's tag
    uint32_t seq;        // odd while the slot changes; grows with every add and remove
    void* object;        // null when free
    const void* owner;   // what the table's ownerOf gave for the object, or null
};

struct HDL_KEPT_ARRAY;

struct HANDLE_TABLE {
    int32_t tag = 0;           // low 16 bits of the set-up id; 0 becomes 0xFFFF
    uint16_t slotCount = 0;    // 5, 10, ... 65535
    uint16_t freeCount = 0;    // slots whose tag is 0
    HDL_SLOT* slots = nullptr; // room for `room` slots; those from slotCount on are zero
    uint32_t room = 0;
    uint64_t* freeBits = nullptr;  // bit s%64 of word s/64: slot s (below slotCount) is free
    uint64_t freeWords[16] = {};   // bit w%64 of word w/64: freeBits[w] is not 0
    uint16_t freeGroups = 0;       // bit g: freeWords[g] is not 0
    uint32_t lockEnabled = 0;
    std::recursive_mutex lock; // used only while lockEnabled
    // Kept with each object at its registration, for readers without the lock (the driver:
    // the call gate a handle's calls claim). None: slots keep null.
    const void* (*ownerOf)(void* object) = nullptr;
    HDL_KEPT_ARRAY* kept = nullptr;  // outgrown slot arrays of a locked table

    HANDLE_TABLE() = default;
    HANDLE_TABLE(const HANDLE_TABLE&) = delete;
    HANDLE_TABLE& operator=(const HANDLE_TABLE&) = delete;
    // Frees every array, the kept ones too: no reader may be left.
    ~HANDLE_TABLE();
};

constexpr uint32_t HDL_GROW_BY = 5;
constexpr uint32_t HDL_MAX_SLOTS = 65535;

// Releases what the table holds, then allocates 5 zeroed slots with the given id's tag.
// Returns 0, or ERR_MEMORY_ALLOCATION_FAILURE.
int hdl_Init(HANDLE_TABLE* table, uint32_t id);
// Switches the table's own lock on; call after hdl_Init. Returns 0.
int hdl_EnableLock(HANDLE_TABLE* table);
// Frees the slot array and empties the record; objects are not touched. A lock once
// enabled stays enabled, as the lock lives as long as the record; a locked table empties
// its slot array and keeps it for readers without the lock (the destructor frees it).
void hdl_Free(HANDLE_TABLE* table);
// Frees the arrays an emptied table (hdl_Free) kept for readers without the lock, once no
// reader can be left: the library's unload. A table still holding slots is left alone.
void hdl_Release(HANDLE_TABLE* table);
// Registers the object in the lowest free slot, growing by 5 when full (the slot count;
// the room behind it doubles). *outId is 0 on
// entry and stays 0 on failure. Returns 0, ERR_LIMIT_ON_THE_NUMBER_OF_HANDLES or
// ERR_MEMORY_ALLOCATION_FAILURE.
int hdl_Add(HANDLE_TABLE* table, uint32_t* outId, void* object);
// The object under the id, or null for a null table, a slot out of range or a tag mismatch.
void* hdl_Lookup(HANDLE_TABLE* table, uint32_t id);
// Clears the id's slot when it names a registered object; otherwise does nothing.
void hdl_Remove(HANDLE_TABLE* table, uint32_t id);

// What a look-up without the lock saw in one slot.
struct HDL_PEEK {
    void* object = nullptr;
    const void* owner = nullptr;
    uint32_t slot = 0;
    uint32_t seq = 0;
};
enum class HdlPeek { Found, Absent, Changing };
// Reads the id's slot of a locked table without taking its lock: Found with a consistent
// copy of the slot, Absent when the id names nothing, Changing when a writer was at work on
// the slot (ask again, or under the lock). The object may be freed at any time after: the
// caller must make sure it is not (the driver claims the owner) and then check hdl_PeekHolds
// before it touches the object.
HdlPeek hdl_Peek(const HANDLE_TABLE* table, uint32_t id, HDL_PEEK* out);
// Whether the slot still holds what hdl_Peek saw: nothing was added to it or removed from it
// since, in whatever slot array the table uses now.
bool hdl_PeekHolds(const HANDLE_TABLE* table, const HDL_PEEK& peek);
// Enter and leave the table's lock (when enabled) around a caller's own walk of the slots.
void hdl_Lock(HANDLE_TABLE* table);
void hdl_Unlock(HANDLE_TABLE* table);

// Scoped form of hdl_Lock / hdl_Unlock.
class HdlTableGuard {
public:
    explicit HdlTableGuard(HANDLE_TABLE* t) : t_(t) { hdl_Lock(t_); }
    ~HdlTableGuard() { hdl_Unlock(t_); }
    HdlTableGuard(const HdlTableGuard&) = delete;
    HdlTableGuard& operator=(const HdlTableGuard&) = delete;
private:
    HANDLE_TABLE* t_;
};
