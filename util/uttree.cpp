// UT_TREE: search, insertion, in-order walk and release.
#include "util/uttree.h"

#include "util/utheap.h"

namespace {

// The walk shared by find and find-or-add: the link where the key's node is or belongs.
UT_TREENODE** FindLink(const UT_TREE* tree, const void* key) {
    auto** link = const_cast<UT_TREENODE**>(&tree->root);
    while (*link != nullptr) {
        int c = tree->compare((*link)->item, key);
        if (c == 0)
            break;
        link = c < 0 ? &(*link)->left : &(*link)->right;
    }
    return link;
}

}  // namespace

UT_TREE* ut_TreeNew(UT_TREE_CMP compare, UT_TREE_CREATE create, UT_TREE_FREE free) {
    if (compare == nullptr || create == nullptr || free == nullptr)
        return nullptr;
    auto* tree = static_cast<UT_TREE*>(uh_Calloc(1, sizeof(UT_TREE)));
    if (tree == nullptr)
        return nullptr;
    tree->compare = compare;
    tree->create = create;
    tree->free = free;
    return tree;
}

UT_TREENODE* ut_TreeFind(const UT_TREE* tree, const void* key) {
    if (tree == nullptr)
        return nullptr;
    return *FindLink(tree, key);
}

UT_TREENODE* ut_TreeFindOrAdd(UT_TREE* tree, const void* key) {
    if (tree == nullptr)
        return nullptr;
    UT_TREENODE** link = FindLink(tree, key);
    if (*link != nullptr)
        return *link;
    auto* node = static_cast<UT_TREENODE*>(uh_Calloc(1, sizeof(UT_TREENODE)));
    if (node == nullptr)
        return nullptr;
    void* item = nullptr;
    if (tree->create(&item, key) == 0 || item == nullptr) {
        uh_Free(node);
        return nullptr;
    }
    node->tree = tree;
    node->item = item;
    *link = node;
    ++tree->count;
    return node;
}

void ut_TreeFree(UT_TREE* tree) {
    if (tree == nullptr)
        return;
    // Rotate every left child up until the node has none; then the node can go and its
    // right subtree is next. Each rotation moves one node onto the right spine, so the
    // whole release is linear and needs neither a stack nor recursion.
    UT_TREENODE* node = tree->root;
    while (node != nullptr) {
        if (node->left != nullptr) {
            UT_TREENODE* l = node->left;
            node->left = l->right;
            l->right = node;
            node = l;
            continue;
        }
        UT_TREENODE* next = node->right;
        tree->free(node->item);
        uh_Free(node->item);
        uh_Free(node);
        node = next;
    }
    uh_Free(tree);
}

int ut_TreeWalk(const UT_TREE* tree, UT_TREE_VISIT visit) {
    if (tree == nullptr || visit == nullptr)
        return 1;
    // An explicit stack as deep as the tree can be; the tree is left untouched so that a
    // visit may look items up in it (adding during a walk is not supported).
    auto** stack = static_cast<UT_TREENODE**>(
        uh_Calloc(static_cast<size_t>(tree->count) + 1, sizeof(UT_TREENODE*)));
    if (stack == nullptr)
        return 0;
    size_t depth = 0;
    UT_TREENODE* node = tree->root;
    while (node != nullptr || depth != 0) {
        while (node != nullptr) {
            stack[depth++] = node;
            node = node->left;
        }
        node = stack[--depth];
        visit(node->item);
        node = node->right;
    }
    uh_Free(stack);
    return 1;
}
