// Handle tables: ids, growth, the limit, tag checks, slot reuse and look-ups without the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "util/errcode.h"
#include "util/handle.h"

namespace {

class HandleTableTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(hdl_Init(&table, 0xDBC0003), 0); }
    void TearDown() override { hdl_Free(&table); }

    uint32_t Add(void* obj) {
        uint32_t id = 0xDEAD;
        EXPECT_EQ(hdl_Add(&table, &id, obj), 0);
        return id;
    }

    HANDLE_TABLE table;
    int objects[16] = {};
};

TEST_F(HandleTableTest, IdsCarryTagAndSlotAndGrowByFive) {
    EXPECT_EQ(Add(&objects[0]), 0x00030000u);
    for (int i = 1; i < 5; ++i)
        Add(&objects[i]);
    EXPECT_EQ(table.slotCount, 5);
    EXPECT_EQ(table.freeCount, 0);
    EXPECT_EQ(Add(&objects[5]), 0x00030005u);
    EXPECT_EQ(table.slotCount, 10);
    EXPECT_EQ(table.freeCount, 4);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(hdl_Lookup(&table, 0x00030000u | i), &objects[i]);
}

TEST_F(HandleTableTest, LowestFreeSlotIsReusedWithTheSameId) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 7; ++i)
        ids.push_back(Add(&objects[i]));
    hdl_Remove(&table, ids[2]);
    EXPECT_EQ(hdl_Lookup(&table, ids[2]), nullptr);
    EXPECT_EQ(Add(&objects[9]), ids[2]);
    EXPECT_EQ(hdl_Lookup(&table, ids[2]), &objects[9]);
}

TEST_F(HandleTableTest, RemovingTwiceCountsOnce) {
    uint32_t id = Add(&objects[0]);
    uint16_t before = table.freeCount;
    hdl_Remove(&table, id);
    hdl_Remove(&table, id);
    EXPECT_EQ(table.freeCount, before + 1);
}

TEST_F(HandleTableTest, LookupRejectsWrongTagAndOutOfRangeSlot) {
    uint32_t id = Add(&objects[0]);
    EXPECT_EQ(hdl_Lookup(&table, (1u << 16) | (id & 0xFFFF)), nullptr);  // an environment id
    EXPECT_EQ(hdl_Lookup(&table, 0x00030000u | table.slotCount), nullptr);
    EXPECT_EQ(hdl_Lookup(&table, 0x0003FFFFu), nullptr);
    EXPECT_EQ(hdl_Lookup(nullptr, id), nullptr);
    hdl_Remove(&table, (1u << 16) | (id & 0xFFFF));  // wrong tag: nothing happens
    EXPECT_EQ(hdl_Lookup(&table, id), &objects[0]);
}

TEST_F(HandleTableTest, FreedTableFindsNothing) {
    uint32_t id = Add(&objects[0]);
    hdl_Free(&table);
    EXPECT_EQ(hdl_Lookup(&table, id), nullptr);
    uint32_t out = 7;
    EXPECT_NE(hdl_Add(&table, &out, &objects[1]), 0);
    EXPECT_EQ(out, 0u);
}

TEST(HandleTable, ZeroTagBecomesAllOnes) {
    HANDLE_TABLE t;
    ASSERT_EQ(hdl_Init(&t, 0xDBC0000), 0);
    int a = 0, b = 0;
    uint32_t id1 = 0, id2 = 0;
    ASSERT_EQ(hdl_Add(&t, &id1, &a), 0);
    ASSERT_EQ(hdl_Add(&t, &id2, &b), 0);
    EXPECT_EQ(id1, 0xFFFF0000u);
    EXPECT_EQ(id2, 0xFFFF0001u);
    EXPECT_EQ(hdl_Lookup(&t, id2), &b);
    hdl_Free(&t);
}

TEST(HandleTable, FullTableRefusesAndStaysUnchanged) {
    HANDLE_TABLE t;
    ASSERT_EQ(hdl_Init(&t, 0xDBCCCCC), 0);
    int obj = 0;
    uint32_t id = 0;
    for (uint32_t i = 0; i < HDL_MAX_SLOTS; ++i)
        ASSERT_EQ(hdl_Add(&t, &id, &obj), 0) << i;
    EXPECT_EQ(id, 0xCCCCFFFEu);
    EXPECT_EQ(t.slotCount, 65535);
    EXPECT_EQ(hdl_Add(&t, &id, &obj), ERR_LIMIT_ON_THE_NUMBER_OF_HANDLES);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(t.slotCount, 65535);
    EXPECT_EQ(t.freeCount, 0);
    // A freed slot is taken again even in a full table.
    hdl_Remove(&t, 0xCCCC0010u);
    ASSERT_EQ(hdl_Add(&t, &id, &obj), 0);
    EXPECT_EQ(id, 0xCCCC0010u);
    hdl_Free(&t);
}

// The lowest free slot is taken, across the bitmap's word and group edges and through
// growth: a random run of adds and removes against a model that keeps the free slots in
// order.
TEST(HandleTable, AddsTakeTheLowestFreeSlot) {
    HANDLE_TABLE t;
    ASSERT_EQ(hdl_Init(&t, 0xDBC0003), 0);
    int obj = 0;
    std::set<uint32_t> free = {0, 1, 2, 3, 4};  // the model
    uint32_t slots = HDL_GROW_BY;
    std::vector<uint32_t> live;
    std::mt19937 rng(33);
    for (int step = 0; step < 40000; ++step) {
        // Mostly adds, so the table crosses many 64-slot words and a 4096-slot group.
        if (live.empty() || rng() % 8 < 5) {
            if (free.empty()) {
                for (uint32_t s = slots; s < slots + HDL_GROW_BY; ++s)
                    free.insert(s);
                slots += HDL_GROW_BY;
            }
            uint32_t id = 0;
            ASSERT_EQ(hdl_Add(&t, &id, &obj), 0) << step;
            ASSERT_EQ(id, 0x00030000u | *free.begin()) << step;
            free.erase(free.begin());
            live.push_back(id);
        } else {
            size_t k = rng() % live.size();
            hdl_Remove(&t, live[k]);
            free.insert(live[k] & 0xFFFF);
            live[k] = live.back();
            live.pop_back();
        }
        ASSERT_EQ(t.slotCount, slots);
    }
    EXPECT_GT(t.slotCount, 4096);
    EXPECT_EQ(t.freeCount, free.size());
    for (uint32_t id : live)
        EXPECT_EQ(hdl_Lookup(&t, id), &obj);
    hdl_Free(&t);
}

TEST(HandleTable, LockedTableWorksAcrossThreads) {
    HANDLE_TABLE t;
    ASSERT_EQ(hdl_Init(&t, 0xDBC0001), 0);
    hdl_EnableLock(&t);
    int obj = 0;
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k)
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                uint32_t id = 0;
                ASSERT_EQ(hdl_Add(&t, &id, &obj), 0);
                ASSERT_EQ(hdl_Lookup(&t, id), &obj);
                hdl_Remove(&t, id);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(t.freeCount, t.slotCount);
    hdl_Free(&t);
}

// A locked table that keeps an owner beside each object, as the driver's do.
struct PeekTable {
    PeekTable() {
        EXPECT_EQ(hdl_Init(&t, 0xDBC0003), 0);
        hdl_EnableLock(&t);
        t.ownerOf = OwnerOf;
    }
    ~PeekTable() { hdl_Free(&t); }
    static const void* OwnerOf(void* object) { return static_cast<char*>(object) + 1; }
    uint32_t Add(void* object) {
        uint32_t id = 0;
        EXPECT_EQ(hdl_Add(&t, &id, object), 0);
        return id;
    }
    HANDLE_TABLE t;
};

TEST(HandleTablePeek, SeesRegistrationsAndNoticesEveryChangeOfTheSlot) {
    PeekTable p;
    int objects[200] = {};
    const uint32_t id = p.Add(&objects[0]);
    HDL_PEEK seen;
    ASSERT_EQ(hdl_Peek(&p.t, id, &seen), HdlPeek::Found);
    EXPECT_EQ(seen.object, &objects[0]);
    EXPECT_EQ(seen.owner, PeekTable::OwnerOf(&objects[0]));
    EXPECT_TRUE(hdl_PeekHolds(&p.t, seen));

    HDL_PEEK none;
    for (uint32_t other : {id ^ 0x00010000u, id + 1, id + 0x400})  // tag, free slot, past the count
        EXPECT_EQ(hdl_Peek(&p.t, other, &none), HdlPeek::Absent) << std::hex << other;

    // Growing moves the slots to a larger array; what was seen still holds there.
    for (int i = 1; i < 200; ++i)
        p.Add(&objects[i]);
    EXPECT_TRUE(hdl_PeekHolds(&p.t, seen));

    // The same object back in the same slot under the same id is a change all the same.
    hdl_Remove(&p.t, id);
    EXPECT_FALSE(hdl_PeekHolds(&p.t, seen));
    EXPECT_EQ(hdl_Peek(&p.t, id, &none), HdlPeek::Absent);
    EXPECT_EQ(p.Add(&objects[0]), id);
    EXPECT_FALSE(hdl_PeekHolds(&p.t, seen));

    // An emptied table keeps its array for readers, finds nothing, and starts again.
    ASSERT_EQ(hdl_Peek(&p.t, id, &seen), HdlPeek::Found);
    hdl_Free(&p.t);
    EXPECT_FALSE(hdl_PeekHolds(&p.t, seen));
    EXPECT_EQ(hdl_Peek(&p.t, id, &none), HdlPeek::Absent);
    ASSERT_EQ(hdl_Init(&p.t, 0xDBC0003), 0);
    EXPECT_FALSE(hdl_PeekHolds(&p.t, seen));
    EXPECT_EQ(p.Add(&objects[1]), id);
    ASSERT_EQ(hdl_Peek(&p.t, id, &seen), HdlPeek::Found);
    EXPECT_EQ(seen.object, &objects[1]);
}

// Readers without the lock while a writer fills, grows and empties the table: every slot
// read is one the writer wrote whole, object and owner together.
TEST(HandleTablePeek, ReadersWithoutTheLockSeeWholeSlotsWhileTheTableChanges) {
    PeekTable p;
    static int objects[300];
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    std::atomic<long> found{0};
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&, r] {
            std::mt19937 rng(static_cast<unsigned>(r));
            while (!done.load()) {
                HDL_PEEK seen;
                const uint32_t id = 0x00030000u | (rng() % 300);
                if (hdl_Peek(&p.t, id, &seen) != HdlPeek::Found)
                    continue;
                auto* o = static_cast<int*>(seen.object);
                ASSERT_TRUE(o >= objects && o < objects + 300);
                ASSERT_EQ(seen.owner, PeekTable::OwnerOf(o));
                found.fetch_add(1);
            }
        });
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint32_t> ids;
        for (int i = 0; i < 300; ++i)
            ids.push_back(p.Add(&objects[rng() % 300]));
        for (uint32_t id : ids)
            hdl_Remove(&p.t, id);
        if (round % 10 == 9) {
            hdl_Free(&p.t);
            ASSERT_EQ(hdl_Init(&p.t, 0xDBC0003), 0);
        }
    }
    done = true;
    for (auto& th : readers)
        th.join();
}

}  // namespace
