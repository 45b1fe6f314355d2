// UT_HASH: buckets, key copies, look-up, insertion and removal.
#include "util/uthash.h"

#include <climits>
#include <cstring>

#include "util/utheap.h"

namespace {

// Binary keys: FNV-1a over the key bytes. Look-ups compare whole keys, so the spread only
// has to be stable.
uint32_t HashBytes(const void* key, int32_t length) {
    const auto* p = static_cast<const unsigned char*>(key);
    uint32_t h = 2166136261u;
    for (int32_t i = 0; i < length; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

int32_t BucketOf(const UT_HASH* table, const void* key) {
    if (table->keyLength == 0)
        return ut_HashText(static_cast<const char*>(key)) % table->bucketCount;
    return static_cast<int32_t>(HashBytes(key, table->keyLength) %
                                static_cast<uint32_t>(table->bucketCount));
}

bool KeyEquals(const UT_HASH* table, const void* a, const void* b) {
    if (table->keyLength == 0)
        return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b)) == 0;
    return std::memcmp(a, b, static_cast<size_t>(table->keyLength)) == 0;
}

// The link that points at the key's node (or at the null end of its chain).
UT_HASHNODE** FindLink(const UT_HASH* table, const void* key) {
    UT_HASHNODE** link = &table->buckets[BucketOf(table, key)];
    while (*link != nullptr && !KeyEquals(table, (*link)->key, key))
        link = &(*link)->next;
    return link;
}

}  // namespace

int32_t ut_HashText(const char* key) {
    // Unsigned arithmetic gives the 32-bit wrap-around; the shift is the signed one.
    uint32_t h = 0;
    for (const char* p = key; *p != '\0'; ++p) {
        auto c = static_cast<int8_t>(*p);
        h = h * 8u + static_cast<uint32_t>(static_cast<int32_t>(h) >> 28) +
            static_cast<uint32_t>(static_cast<int32_t>(c));
    }
    auto s = static_cast<int32_t>(h);
    if (s == INT32_MIN)
        return 0;
    return s < 0 ? -s : s;
}

UT_HASH* ut_HashNew(int32_t bucketCount, int32_t keyLength) {
    if (keyLength < 0)
        return nullptr;
    if (bucketCount <= 0)
        bucketCount = 1;
    auto* table = static_cast<UT_HASH*>(uh_Calloc(1, sizeof(UT_HASH)));
    if (table == nullptr)
        return nullptr;
    table->buckets = static_cast<UT_HASHNODE**>(
        uh_Calloc(static_cast<size_t>(bucketCount), sizeof(UT_HASHNODE*)));
    if (table->buckets == nullptr) {
        uh_Free(table);
        return nullptr;
    }
    table->bucketCount = bucketCount;
    table->keyLength = keyLength;
    return table;
}

void ut_HashFree(UT_HASH* table) {
    if (table == nullptr)
        return;
    for (int32_t b = 0; b < table->bucketCount; ++b) {
        UT_HASHNODE* node = table->buckets[b];
        while (node != nullptr) {
            UT_HASHNODE* next = node->next;
            uh_Free(node->key);
            uh_Free(node);
            node = next;
        }
    }
    uh_Free(table->buckets);
    uh_Free(table);
}

int ut_HashForEach(UT_HASH* table, UT_HASH_FN fn, void* user) {
    if (table == nullptr || fn == nullptr)
        return 0;
    for (int32_t b = 0; b < table->bucketCount; ++b) {
        UT_HASHNODE* node = table->buckets[b];
        while (node != nullptr) {
            UT_HASHNODE* next = node->next;  // the callback may remove this node
            fn(node->value, node->key, user);
            node = next;
        }
    }
    return 0;
}

void* ut_HashFind(const UT_HASH* table, const void* key) {
    if (table == nullptr || key == nullptr)
        return nullptr;
    UT_HASHNODE* node = *FindLink(table, key);
    return node != nullptr ? node->value : nullptr;
}

UT_HASHNODE* ut_HashPut(UT_HASH* table, const void* key, void* value) {
    if (table == nullptr || key == nullptr)
        return nullptr;
    UT_HASHNODE** link = FindLink(table, key);
    if (*link != nullptr) {
        (*link)->value = value;
        return *link;
    }
    auto* node = static_cast<UT_HASHNODE*>(uh_Calloc(1, sizeof(UT_HASHNODE)));
    if (node == nullptr)
        return nullptr;
    node->key = table->keyLength == 0
                    ? uh_StrDup(static_cast<const char*>(key))
                    : uh_MemDup(key, static_cast<size_t>(table->keyLength));
    if (node->key == nullptr) {
        uh_Free(node);
        return nullptr;
    }
    node->value = value;
    UT_HASHNODE** head = &table->buckets[BucketOf(table, key)];
    if (*head != nullptr)
        ++table->collisions;
    node->next = *head;
    *head = node;
    ++table->entries;
    return node;
}

int ut_HashRemove(UT_HASH* table, const void* key) {
    if (table == nullptr || key == nullptr)
        return 0;
    // The key may be the node's own copy (a for-each callback removing its node), so the
    // bucket is settled before the node goes.
    int32_t bucket = BucketOf(table, key);
    UT_HASHNODE** link = FindLink(table, key);
    UT_HASHNODE* node = *link;
    if (node == nullptr)
        return 0;
    *link = node->next;
    uh_Free(node->key);
    uh_Free(node);
    --table->entries;
    if (table->buckets[bucket] != nullptr)
        --table->collisions;
    return 1;
}
