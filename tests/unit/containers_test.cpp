// Containers: the chained hash table (text and binary keys, counters, chain order), the
// search tree (callbacks, refusal, deep trees) and the growable array.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "util/utarray.h"
#include "util/uthash.h"
#include "util/utheap.h"
#include "util/uttree.h"

namespace {

// Makes the module's allocations fail after n more, for the scope of one test.
struct FailAfter {
    explicit FailAfter(long n) { uh_FailAfter(n); }
    ~FailAfter() { uh_FailAfter(-1); }
};

struct HashDeleter {
    void operator()(UT_HASH* h) const { ut_HashFree(h); }
};
using HashPtr = std::unique_ptr<UT_HASH, HashDeleter>;

// Two distinct text keys that share a bucket of a 101-bucket table.
std::pair<std::string, std::string> CollidingKeys() {
    std::string first = "k0";
    for (int i = 1;; ++i) {
        std::string k = "k" + std::to_string(i);
        if (ut_HashText(k.c_str()) % 101 == ut_HashText(first.c_str()) % 101)
            return {first, k};
    }
}

// --- hash -----------------------------------------------------------------------------

TEST(UtHash, TextHashFollowsTheShiftAndAddRule) {
    struct Case {
        const char* key;
        int32_t hash;
    } cases[] = {
        {"", 0},
        {"a", 97},
        {"ab", 874},                // 97 * 8 + 98
        {"PUB", 5866},
        {"customer", 242597082},
        {"ABCDEFGHIJ", 1402438294}, // the high bits fold back in
        {"\xE9t\xE9", 576},         // signed bytes give -576, made positive
        {"abcdefghijklmnopqrstuvwxyz", 1593631367},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ut_HashText(c.key), c.hash) << c.key;
}

TEST(UtHash, TextKeysStoreFindReplaceAndRemove) {
    HashPtr h(ut_HashNew(101, 0));
    ASSERT_TRUE(h);
    int one = 1, two = 2, three = 3;
    char key[] = "orders";
    UT_HASHNODE* node = ut_HashPut(h.get(), key, &one);
    ASSERT_NE(node, nullptr);
    key[0] = 'X';  // the table keeps its own copy
    EXPECT_EQ(ut_HashFind(h.get(), "orders"), &one);
    EXPECT_EQ(ut_HashFind(h.get(), "Xrders"), nullptr);

    EXPECT_EQ(ut_HashPut(h.get(), "orders", &two), node);
    EXPECT_EQ(h->entries, 1);
    EXPECT_EQ(ut_HashFind(h.get(), "orders"), &two);

    ASSERT_NE(ut_HashPut(h.get(), "items", &three), nullptr);
    EXPECT_EQ(ut_HashRemove(h.get(), "orders"), 1);
    EXPECT_EQ(ut_HashRemove(h.get(), "orders"), 0);
    EXPECT_EQ(ut_HashFind(h.get(), "orders"), nullptr);
    EXPECT_EQ(ut_HashFind(h.get(), "items"), &three);
    EXPECT_EQ(h->entries, 1);
}

TEST(UtHash, ZeroBucketsBecomeOneThatHoldsEverything) {
    HashPtr h(ut_HashNew(0, 0));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->bucketCount, 1);
    std::vector<std::string> keys;
    for (int i = 0; i < 50; ++i)
        keys.push_back("key" + std::to_string(i));
    for (size_t i = 0; i < keys.size(); ++i)
        ASSERT_NE(ut_HashPut(h.get(), keys[i].c_str(), &keys[i]), nullptr);
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(ut_HashFind(h.get(), keys[i].c_str()), &keys[i]);
    EXPECT_EQ(h->collisions, 49);
}

TEST(UtHash, CollisionsCountSharedBucketsAndForEachGoesNewestFirst) {
    HashPtr h(ut_HashNew(101, 0));
    auto [a, b] = CollidingKeys();
    int va = 1, vb = 2;
    ut_HashPut(h.get(), a.c_str(), &va);
    ut_HashPut(h.get(), b.c_str(), &vb);
    EXPECT_EQ(h->collisions, 1);

    std::vector<std::string> seen;
    ut_HashForEach(
        h.get(),
        [](void*, const void* key, void* user) {
            static_cast<std::vector<std::string>*>(user)->push_back(static_cast<const char*>(key));
        },
        &seen);
    EXPECT_EQ(seen, (std::vector<std::string>{b, a}));

    EXPECT_EQ(ut_HashRemove(h.get(), a.c_str()), 1);
    EXPECT_EQ(h->collisions, 0);
    EXPECT_EQ(ut_HashFind(h.get(), b.c_str()), &vb);
}

TEST(UtHash, BinaryKeysCompareEveryByte) {
    HashPtr h(ut_HashNew(101, 16));
    unsigned char d1[16] = {}, d2[16] = {};
    d2[15] = 1;  // differs only in the last byte; both hold NULs inside
    int v1 = 1, v2 = 2;
    ut_HashPut(h.get(), d1, &v1);
    ut_HashPut(h.get(), d2, &v2);
    EXPECT_EQ(h->entries, 2);
    EXPECT_EQ(ut_HashFind(h.get(), d1), &v1);
    EXPECT_EQ(ut_HashFind(h.get(), d2), &v2);
}

TEST(UtHash, ForEachMayFreeValuesAndRemoveTheCurrentNode) {
    HashPtr h(ut_HashNew(3, 0));
    for (int i = 0; i < 20; ++i) {
        std::string k = "v" + std::to_string(i);
        ut_HashPut(h.get(), k.c_str(), std::malloc(8));
    }
    ut_HashForEach(
        h.get(),
        [](void* value, const void* key, void* user) {
            std::free(value);
            ut_HashRemove(static_cast<UT_HASH*>(user), key);
        },
        h.get());
    EXPECT_EQ(h->entries, 0);
}

TEST(UtHash, OutOfMemoryChangesNothing) {
    HashPtr h(ut_HashNew(7, 0));
    int v = 0;
    ut_HashPut(h.get(), "kept", &v);
    for (long n : {0L, 1L}) {  // the node, then the key copy
        FailAfter fail(n);
        EXPECT_EQ(ut_HashPut(h.get(), "new", &v), nullptr);
    }
    EXPECT_EQ(h->entries, 1);
    EXPECT_EQ(h->collisions, 0);
    EXPECT_EQ(ut_HashFind(h.get(), "new"), nullptr);
    FailAfter fail(0);
    EXPECT_EQ(ut_HashNew(7, 0), nullptr);
}

// --- tree -----------------------------------------------------------------------------

// Items are heap ints; the key is an int.
int CompareInt(const void* item, const void* key) {
    int a = *static_cast<const int*>(item), b = *static_cast<const int*>(key);
    return a < b ? 1 : a > b ? -1 : 0;  // negative walks left: smaller keys go left
}
int CreateInt(void** slot, const void* key) {
    auto* p = static_cast<int*>(std::malloc(sizeof(int)));
    *p = *static_cast<const int*>(key);
    *slot = p;
    return 1;
}
int Refuse(void**, const void*) { return 0; }
int g_freed = 0;
void CountFree(void*) { ++g_freed; }

struct TreeDeleter {
    void operator()(UT_TREE* t) const { ut_TreeFree(t); }
};
using TreePtr = std::unique_ptr<UT_TREE, TreeDeleter>;

TEST(UtTree, NeedsAllThreeCallbacks) {
    EXPECT_EQ(ut_TreeNew(nullptr, CreateInt, CountFree), nullptr);
    EXPECT_EQ(ut_TreeNew(CompareInt, nullptr, CountFree), nullptr);
    EXPECT_EQ(ut_TreeNew(CompareInt, CreateInt, nullptr), nullptr);
    EXPECT_EQ(ut_TreeFindOrAdd(nullptr, nullptr), nullptr);
}

TEST(UtTree, FindOrAddAddsOnceAndWalksInOrder) {
    TreePtr t(ut_TreeNew(CompareInt, CreateInt, CountFree));
    for (int k : {50, 20, 80, 20, 10, 90, 50})
        ASSERT_NE(ut_TreeFindOrAdd(t.get(), &k), nullptr);
    EXPECT_EQ(t->count, 5);
    int k = 20;
    UT_TREENODE* found = ut_TreeFind(t.get(), &k);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(ut_TreeFindOrAdd(t.get(), &k), found);
    EXPECT_EQ(found->tree, t.get());
    k = 30;
    EXPECT_EQ(ut_TreeFind(t.get(), &k), nullptr);

    static std::vector<int> order;
    order.clear();
    EXPECT_EQ(ut_TreeWalk(t.get(), [](void* item) { order.push_back(*static_cast<int*>(item)); }), 1);
    EXPECT_EQ(order, (std::vector<int>{10, 20, 50, 80, 90}));
}

TEST(UtTree, RefusedCreateLeavesTheTreeAsItWas) {
    TreePtr t(ut_TreeNew(CompareInt, Refuse, CountFree));
    int k = 1;
    EXPECT_EQ(ut_TreeFindOrAdd(t.get(), &k), nullptr);
    EXPECT_EQ(t->root, nullptr);
    EXPECT_EQ(t->count, 0);
}

// Runs fn on a thread with a 256 KiB stack, where a walk that recursed once per level
// of a deep tree would overflow.
void RunOnSmallStack(void (*fn)()) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, [](void* f) -> void* {
                  reinterpret_cast<void (*)()>(f)();
                  return nullptr;
              }, reinterpret_cast<void*>(fn)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(UtTree, SortedFillIsWalkedAndFreedWithoutRecursion) {
    // A sorted fill makes a list as deep as the tree is large.
    constexpr int kNodes = 50000;
    static UT_TREE* t;
    t = ut_TreeNew(CompareInt, CreateInt, CountFree);
    UT_TREENODE** tail = &t->root;
    for (int i = 0; i < kNodes; ++i) {
        // Linking at the known tail keeps the fill linear; the shape is the one a sorted
        // ut_TreeFindOrAdd fill gives.
        auto* node = static_cast<UT_TREENODE*>(std::calloc(1, sizeof(UT_TREENODE)));
        CreateInt(&node->item, &i);
        node->tree = t;
        *tail = node;
        tail = &node->right;
        ++t->count;
    }
    int k = kNodes;  // one more through the public walk: it ends at the bottom
    ASSERT_NE(ut_TreeFindOrAdd(t, &k), nullptr);

    static int last;
    static bool ordered;
    static int walked;
    last = -1;
    ordered = true;
    RunOnSmallStack([] {
        walked = ut_TreeWalk(t, [](void* item) {
            int v = *static_cast<int*>(item);
            ordered = ordered && v == last + 1;
            last = v;
        });
        g_freed = 0;
        ut_TreeFree(t);
    });
    EXPECT_EQ(walked, 1);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(last, kNodes);
    EXPECT_EQ(g_freed, kNodes + 1);
}

TEST(UtTree, FreeReachesEveryNodeOfABushyTree) {
    TreePtr t(ut_TreeNew(CompareInt, CreateInt, CountFree));
    for (int k : {8, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15})
        ut_TreeFindOrAdd(t.get(), &k);
    g_freed = 0;
    t.reset();
    EXPECT_EQ(g_freed, 15);  // and ASan sees no leak
}

// --- array ----------------------------------------------------------------------------

struct ArrayDeleter {
    void operator()(UT_ARRAY* a) const { ut_ArrayFree(&a, nullptr); }
};
using ArrayPtr = std::unique_ptr<UT_ARRAY, ArrayDeleter>;

int At(const UT_ARRAY* a, uint32_t i) { return static_cast<const int*>(a->elements)[i]; }

TEST(UtArray, EleventhAppendGrowsByTenAndKeepsTheElements) {
    EXPECT_EQ(ut_ArrayNew(0), nullptr);
    ArrayPtr a(ut_ArrayNew(sizeof(int)));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->capacity, 10u);
    for (int i = 0; i < 11; ++i)
        ASSERT_EQ(ut_ArrayAppend(a.get(), &i), 1);
    EXPECT_EQ(a->capacity, 20u);
    EXPECT_EQ(a->count, 11u);
    for (uint32_t i = 0; i < 11; ++i)
        EXPECT_EQ(At(a.get(), i), static_cast<int>(i));
    EXPECT_EQ(At(a.get(), 11), 0);  // the grown block is zeroed
}

TEST(UtArray, FailedGrowthLeavesTheArrayUnchanged) {
    ArrayPtr a(ut_ArrayNew(sizeof(int)));
    for (int i = 0; i < 10; ++i)
        ut_ArrayAppend(a.get(), &i);
    void* block = a->elements;
    {
        FailAfter fail(0);
        int v = 99;
        EXPECT_EQ(ut_ArrayAppend(a.get(), &v), 0);
    }
    EXPECT_EQ(a->count, 10u);
    EXPECT_EQ(a->capacity, 10u);
    EXPECT_EQ(a->elements, block);
    EXPECT_EQ(ut_ArrayAppend(a.get(), nullptr), 0);
}

TEST(UtArray, AppendAllNeedsEqualSizesAndMayAppendToItself) {
    ArrayPtr ints(ut_ArrayNew(sizeof(int)));
    ArrayPtr shorts(ut_ArrayNew(sizeof(short)));
    short s = 7;
    ut_ArrayAppend(shorts.get(), &s);
    EXPECT_EQ(ut_ArrayAppendAll(ints.get(), shorts.get()), 0);
    EXPECT_EQ(ints->count, 0u);

    for (int i = 0; i < 8; ++i)
        ut_ArrayAppend(ints.get(), &i);
    // Doubling grows the block while its own elements are being read.
    ASSERT_EQ(ut_ArrayAppendAll(ints.get(), ints.get()), 1);
    ASSERT_EQ(ints->count, 16u);
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(At(ints.get(), i), static_cast<int>(i % 8));
}

int g_destroyed[16];
int g_destroyCount;
void RecordDestroy(void* element) { g_destroyed[g_destroyCount++] = *static_cast<int*>(element); }

TEST(UtArray, RemoveAndFreeRunTheDestructorInOrder) {
    UT_ARRAY* a = ut_ArrayNew(sizeof(int));
    for (int i = 0; i < 5; ++i)
        ut_ArrayAppend(a, &i);
    g_destroyCount = 0;
    EXPECT_EQ(ut_ArrayRemoveAt(a, 5, RecordDestroy), 0);
    EXPECT_EQ(ut_ArrayRemoveAt(a, 1, RecordDestroy), 1);
    ASSERT_EQ(a->count, 4u);
    EXPECT_EQ(At(a, 1), 2);
    EXPECT_EQ(At(a, 3), 4);
    ut_ArrayFree(&a, RecordDestroy);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(std::vector<int>(g_destroyed, g_destroyed + g_destroyCount),
              (std::vector<int>{1, 0, 2, 3, 4}));
    ut_ArrayFree(&a, RecordDestroy);  // an empty slot is ignored
    ut_ArrayFree(nullptr, nullptr);
}

}  // namespace
