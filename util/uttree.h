// UT_TREE: an unbalanced binary search tree driven by three callbacks.
//
// The tree owns its nodes and the heap items the create callback stores in them. It is
// not balanced, so a sorted fill degenerates into a list: every walk here is iterative.
// No locking: the record that holds a tree serialises its use.
#pragma once

#include <cstdint>

struct UT_TREE;

struct UT_TREENODE {
    UT_TREENODE* left;
    UT_TREENODE* right;
    UT_TREE* tree;  // owning tree
    void* item;     // heap item made by the create callback; freed with the node
};

// compare(item, key): 0 found; negative continues left, positive right.
using UT_TREE_CMP = int (*)(const void* item, const void* key);
// create(item slot, key): non-zero when a new heap item (C heap) was stored in the slot.
using UT_TREE_CREATE = int (*)(void** itemSlot, const void* key);
// free(item): releases what the item holds; the tree then frees the item itself.
using UT_TREE_FREE = void (*)(void* item);
using UT_TREE_VISIT = void (*)(void* item);

struct UT_TREE {
    UT_TREENODE* root = nullptr;
    UT_TREE_CMP compare = nullptr;
    UT_TREE_CREATE create = nullptr;
    UT_TREE_FREE free = nullptr;
    int32_t count = 0;
};

// An empty tree; null unless all three callbacks are given, or when out of memory.
UT_TREE* ut_TreeNew(UT_TREE_CMP compare, UT_TREE_CREATE create, UT_TREE_FREE free);
// The node whose item compares equal to the key, else a new node where the walk ended,
// whose item the create callback makes. Null for a null tree, when out of memory or when
// the callback makes no item (the tree is then unchanged).
UT_TREENODE* ut_TreeFindOrAdd(UT_TREE* tree, const void* key);
// The same walk without adding: the node or null.
UT_TREENODE* ut_TreeFind(const UT_TREE* tree, const void* key);
// Runs the free callback on every item, frees items, nodes and the tree; null is ignored.
// Uses no recursion and no extra memory, whatever the tree's depth.
void ut_TreeFree(UT_TREE* tree);
// Calls visit(item) in order: left subtree, node, right subtree. A visit may look items up
// but must not add any. Returns 1, or 0 when the walk's stack could not be allocated (then
// nothing was visited).
int ut_TreeWalk(const UT_TREE* tree, UT_TREE_VISIT visit);
