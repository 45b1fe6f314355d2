// The parse tree: PT_NODE records with their texts and text templates, the generic walks
// and their search callbacks, release, and the regeneration of inner nodes' texts.
//
// The grammar builds a tree bottom-up; the statement analysis and the cursor library
// search it, edit leaf texts and templates in place and regenerate, after which the root's
// text is the rewritten statement. A tree belongs to one thread at a time; nothing here
// keeps state between calls, so nothing here locks.
//
// Lists are long chains: the grammar builds "a, b, c" as a node over the node of "a, b"
// and the item c, so a list of n items is n levels deep. Every walk here is iterative with
// a growable stack, and regeneration is one pass that writes each top's text into one
// buffer: time and memory grow with the tree, whatever its depth (see PT_RegenText).
#pragma once

#include <cstdint>
#include <initializer_list>

struct UT_ARRAY;

struct PT_NODE {
    PT_NODE* child;    // first child; the others follow through their sibling links
    PT_NODE* sibling;  // next child of the same parent
    int32_t kind;      // node kind (the grammar's numbers)
    int32_t childCount;    // children given at construction; 0 for a leaf
    int32_t childrenSeen;  // not used by the regeneration; kept for the record's layout
    char* text;  // owned, may be null
    char* tmpl;  // owned template; null for leaves
};

// Templates are text with the escape 0xFF 0x01 n standing for the text of child n (1..);
// an escape for a child that does not exist stands for "NULL". Tree templates use no
// other escape. PT_ARGn spells the escape for string-literal concatenation:
// "SELECT " PT_ARG1 " " PT_ARG2.
#define PT_ARG1 "\xFF\x01\x01"
#define PT_ARG2 "\xFF\x01\x02"
#define PT_ARG3 "\xFF\x01\x03"
#define PT_ARG4 "\xFF\x01\x04"
#define PT_ARG5 "\xFF\x01\x05"
#define PT_ARG6 "\xFF\x01\x06"
#define PT_ARG7 "\xFF\x01\x07"
#define PT_ARG8 "\xFF\x01\x08"
#define PT_ARG9 "\xFF\x01\x09"
#define PT_ARG10 "\xFF\x01\x0A"

constexpr int PT_MAX_CHILDREN = 10;

// A new leaf with a copy of text (null stays null). Null when out of memory.
PT_NODE* PT_NodeNew(int32_t kind, const char* text);
// A new inner node: empty text, a copy of the template, the children linked in order.
// The node takes the children over in every case: when it cannot be made (out of memory,
// a null child, or not 1 to PT_MAX_CHILDREN children) it frees them (PT_Free with
// PT_NodeFree) and returns null. Each child must be a single node, without siblings.
PT_NODE* PT_NodeNewChildren(int32_t kind, const char* tmpl, std::initializer_list<PT_NODE*> children);
PT_NODE* PT_NodeNewChild(int32_t kind, const char* tmpl, PT_NODE* child);

// Replaces the node's text by a copy of text (null clears it). 1 done; 0 when out of
// memory, the old text then stays.
int PT_NodeSetText(PT_NODE* node, const char* text);
// Frees the node's text and template and clears both; the node's memory stays. The
// destructor that PT_Free is given.
void PT_NodeFree(PT_NODE* node);
// Frees the node in *slot with its subtree and its later siblings (and their subtrees),
// calling destructor, when given, on each node before its memory goes, and clears the slot.
// Needs no memory and no recursion. The destructor sees each node's own fields; its links
// are no longer meaningful by then. A null slot or node does nothing.
void PT_Free(PT_NODE** slot, void (*destructor)(PT_NODE*));

// Walk callbacks return non-zero to go on. A zero result prunes the node's subtree and its
// later siblings; walks under way in the ancestors go on. Callbacks must not unlink nodes.
using PT_WALK_FN = int (*)(PT_NODE* node, int32_t kind, void* user);
using PT_WALK2_FN = int (*)(PT_NODE* node, int32_t kind, int32_t stopKind, void* user);

// Pre-order walk from the node: the node, its subtree, then its later siblings and theirs.
// Returns 1 when the walk ran to its end (pruned parts included), 0 when its stack could not
// grow: the walk then stopped part-way, and a search's result is not to be trusted.
int PT_Walk(PT_NODE* node, PT_WALK_FN callback, int32_t kind, void* user);
int PT_Walk2(PT_NODE* node, PT_WALK2_FN callback, int32_t kind, int32_t stopKind, void* user);
// The callback on the node alone and, when it goes on, a walk from its first child: the
// node's siblings are not visited. Returns as PT_Walk.
int PT_WalkBelow(PT_NODE* node, PT_WALK_FN callback, int32_t kind, void* user);

// Appends a pointer to every node of the kind to the UT_ARRAY of node pointers given as
// user. Missing node or array: 0; a node of the kind: the append's result (1 done, 0 failed);
// other nodes: 1.
int PT_CbCollect(PT_NODE* node, int32_t kind, void* nodes);
// As PT_CbCollect, but a node of the stop kind returns 0 first: nothing below it (nor after
// it among its siblings) is collected.
int PT_CbCollectNotBelow(PT_NODE* node, int32_t kind, int32_t stopKind, void* nodes);
// Stores the first node of the kind in the PT_NODE* slot given as user. Once the slot holds
// a node, or with a missing node or slot: 0; a node of the kind: stored, 0; other nodes: 1.
int PT_CbFind(PT_NODE* node, int32_t kind, void* slot);
// As PT_CbFind, but a node of the stop kind returns 0 first.
int PT_CbFindNotBelow(PT_NODE* node, int32_t kind, int32_t stopKind, void* slot);

// Rebuilds the text of the node and of each of its later siblings, when inner: each becomes
// its template with its arguments expanded in place, down to the leaves' current texts.
// Leaves, and nodes whose child count is 0, keep their texts.
//
// The inner nodes below those tops keep no text: each has its text left null (a text one
// held is freed), so that a deep tree is not held once per level. PT_NodeText makes such
// a node's text when one is wanted.
//
// Returns 1 when done; 0 for a null node or when memory runs out, and then nothing has
// changed.
int PT_RegenText(PT_NODE* node);
// The node's text: for an inner node without one (see PT_RegenText) it is made from its
// subtree's current leaves and templates and kept in the node until the next regeneration
// that reaches it; null when that runs out of memory, or for a node that has no text.
const char* PT_NodeText(PT_NODE* node);

// Child n (1-based) of the node, or null (also for a null node).
PT_NODE* PT_Child(const PT_NODE* node, int n);
// The node's first child of the kind, or null.
PT_NODE* PT_ChildOfKind(const PT_NODE* node, int32_t kind);
