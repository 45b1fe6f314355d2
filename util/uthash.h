// UT_HASH: a chained hash table with NUL-terminated text keys or fixed-length binary keys.
//
// The table owns its nodes and a copy of every key; values are the caller's pointers and
// are never freed here. No locking: the record that holds a table serialises its use.
// Out of memory gives a null result, never the end of the process.
#pragma once

#include <cstdint>

struct UT_HASHNODE {
    void* key;          // owned copy: the text with its NUL, or keyLength bytes
    void* value;        // the caller's
    UT_HASHNODE* next;
};

struct UT_HASH {
    UT_HASHNODE** buckets = nullptr;  // one chain per bucket
    int32_t bucketCount = 0;          // at least 1
    int32_t keyLength = 0;            // 0: text keys; else the size of every key in bytes
    int32_t entries = 0;
    // Nodes linked into a bucket that already had one, less those removed from a bucket
    // that stays non-empty.
    int32_t collisions = 0;
};

using UT_HASH_FN = void (*)(void* value, const void* key, void* user);

// A table of bucketCount chains (0 or less becomes 1). Null when out of memory or for a
// negative key length.
UT_HASH* ut_HashNew(int32_t bucketCount, int32_t keyLength);
// Frees every node and key copy, the buckets and the table; a null table is ignored.
void ut_HashFree(UT_HASH* table);
// Calls fn(value, key, user) for every node, bucket by bucket from 0 and along each chain
// (newest first). The callback may remove the node it is given. Returns 0.
int ut_HashForEach(UT_HASH* table, UT_HASH_FN fn, void* user);
// The value stored under the key, or null.
void* ut_HashFind(const UT_HASH* table, const void* key);
// Replaces the value of a present key, else links a new node with a copy of the key at the
// front of its chain. Returns the node, or null when out of memory (nothing changed).
UT_HASHNODE* ut_HashPut(UT_HASH* table, const void* key, void* value);
// Unlinks and frees the key's node: 1 removed, 0 not present.
int ut_HashRemove(UT_HASH* table, const void* key);

// The text-key hash, before it is reduced to a bucket: h = h * 8 + (h >> 28) + c over the
// signed bytes, wrapping at 32 bits, made non-negative.
int32_t ut_HashText(const char* key);
