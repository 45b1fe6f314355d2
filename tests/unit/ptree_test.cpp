// Parse tree: construction and its ownership of children, text regeneration (templates,
// blanks of empty parts, edits, texts kept only at the top), the walks with their pruning rules and the
// search callbacks, release, trees of 50,000 items and more, and running out of memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sqlparse/ptree.h"
#include "util/utarray.h"
#include "util/utheap.h"

namespace {

PT_NODE* Leaf(int kind, const char* text) {
    return PT_NodeNew(kind, text);
}

PT_NODE* Node(int kind, const char* tmpl, std::initializer_list<PT_NODE*> children) {
    return PT_NodeNewChildren(kind, tmpl, children);
}

struct TreeDeleter {
    void operator()(PT_NODE* n) const { PT_Free(&n, PT_NodeFree); }
};
using Tree = std::unique_ptr<PT_NODE, TreeDeleter>;

std::string TextOf(const PT_NODE* n) {
    return n->text == nullptr ? "<null>" : n->text;
}

int VisitInto(PT_NODE* node, int, void* user) {
    static_cast<std::vector<PT_NODE*>*>(user)->push_back(node);
    return 1;
}

// Every node a walk from the node reaches, in pre-order.
std::vector<PT_NODE*> NodesFrom(PT_NODE* node) {
    std::vector<PT_NODE*> nodes;
    EXPECT_EQ(PT_Walk(node, VisitInto, 0, &nodes), 1);
    return nodes;
}

// The texts the nodes hold.
std::vector<std::string> TextsFrom(PT_NODE* node) {
    std::vector<std::string> texts;
    for (PT_NODE* n : NodesFrom(node))
        texts.push_back(TextOf(n));
    return texts;
}

// The nodes' texts, made on request where a node holds none.
std::vector<std::string> MadeTextsFrom(PT_NODE* node) {
    std::vector<std::string> texts;
    for (PT_NODE* n : NodesFrom(node)) {
        const char* t = PT_NodeText(n);
        texts.push_back(t == nullptr ? "<null>" : t);
    }
    return texts;
}

// Bytes held in texts by the node, its subtree and its later siblings; leavesOnly counts
// the texts of leaves alone.
size_t HeldBytes(PT_NODE* node, bool leavesOnly) {
    size_t bytes = 0;
    for (PT_NODE* n : NodesFrom(node))
        if (n->text != nullptr && (!leavesOnly || n->childCount == 0))
            bytes += std::strlen(n->text) + 1;
    return bytes;
}

// A list of n items built as the grammar builds "select_list ',' select_item": each level
// is a kind-73 node over the previous level and the next item (kind 75 over a name).
PT_NODE* LeftList(int n) {
    PT_NODE* list = Node(73, PT_ARG1, {Node(75, PT_ARG1, {Leaf(10, "c0")})});
    for (int i = 1; i < n && list != nullptr; ++i) {
        std::string name = "c" + std::to_string(i);
        list = Node(73, PT_ARG1 ", " PT_ARG2, {list, Node(75, PT_ARG1, {Leaf(10, name.c_str())})});
    }
    return list;
}

// The same built right-recursively, as "value_expression ',' argument_list".
PT_NODE* RightList(int n) {
    PT_NODE* list = Node(3, PT_ARG1, {Leaf(23, ("v" + std::to_string(n - 1)).c_str())});
    for (int i = n - 2; i >= 0 && list != nullptr; --i)
        list = Node(3, PT_ARG1 ", " PT_ARG2, {Leaf(23, ("v" + std::to_string(i)).c_str()), list});
    return list;
}

// n joins as the grammar builds them: each joined table (62) is the table reference (29)
// that the next join starts from, so the kinds alternate and no level is a list link.
PT_NODE* Joins(int n) {
    PT_NODE* from = Node(90, PT_ARG1, {Leaf(87, "t0")});
    for (int i = 1; i <= n && from != nullptr; ++i) {
        const std::string table = "t" + std::to_string(i);
        PT_NODE* joined = Node(62, PT_ARG1 " " PT_ARG2 " JOIN " PT_ARG3 " ON " PT_ARG4,
                               {from, Node(30, PT_ARG1, {Leaf(27, "INNER")}),
                                Node(90, PT_ARG1, {Leaf(87, table.c_str())}),
                                Node(14, PT_ARG1 " = 1", {Leaf(10, "c")})});
        from = joined != nullptr ? Node(29, PT_ARG1, {joined}) : nullptr;
    }
    return from;
}

std::string ExpectedJoins(int n) {
    std::string text = "t0";
    for (int i = 1; i <= n; ++i)
        text += " INNER JOIN t" + std::to_string(i) + " ON c = 1";
    return text;
}

std::string ExpectedList(const char* prefix, int n) {
    std::string text;
    for (int i = 0; i < n; ++i)
        text += (i ? ", " : "") + std::string(prefix) + std::to_string(i);
    return text;
}

TEST(ParseTree, NodesTakeTheirChildrenOver) {
    Tree leaf(Leaf(10, "a"));
    EXPECT_STREQ(leaf->text, "a");
    EXPECT_EQ(leaf->childCount, 0);
    EXPECT_EQ(leaf->tmpl, nullptr);
    Tree empty(Leaf(42, nullptr));
    EXPECT_EQ(empty->text, nullptr);

    PT_NODE* a = Leaf(10, "a");
    PT_NODE* b = Leaf(10, "b");
    Tree n(Node(14, PT_ARG1 " = " PT_ARG2, {a, b}));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->childCount, 2);
    EXPECT_EQ(n->child, a);
    EXPECT_EQ(a->sibling, b);
    EXPECT_EQ(b->sibling, nullptr);
    EXPECT_STREQ(n->text, "");
    EXPECT_STREQ(n->tmpl, PT_ARG1 " = " PT_ARG2);

    // A node that cannot be made frees the children it was given (ASan sees any leak).
    EXPECT_EQ(Node(14, PT_ARG1, {Leaf(10, "x"), nullptr}), nullptr);
    std::vector<PT_NODE*> eleven;
    for (int i = 0; i < PT_MAX_CHILDREN + 1; ++i)
        eleven.push_back(Leaf(10, "x"));
    auto tooMany = {eleven[0], eleven[1], eleven[2], eleven[3], eleven[4], eleven[5],
                    eleven[6], eleven[7], eleven[8], eleven[9], eleven[10]};
    EXPECT_EQ(PT_NodeNewChildren(5, PT_ARG1, tooMany), nullptr);
    EXPECT_EQ(Node(5, PT_ARG1, {}), nullptr);
    uh_FailAfter(1);  // the node is made, its template copy is not
    EXPECT_EQ(Node(14, PT_ARG1, {Leaf(10, "y")}), nullptr);
    uh_FailAfter(-1);
    uh_FailAfter(0);
    EXPECT_EQ(Leaf(10, "z"), nullptr);
    uh_FailAfter(-1);
}

TEST(ParseTree, RegenerationFillsTemplates) {
    // A query as the grammar builds it: empty optional parts keep their blanks.
    Tree query(Node(72, "SELECT " PT_ARG1 " " PT_ARG2 " " PT_ARG3,
                    {Node(53, PT_ARG1, {Leaf(42, "")}),
                     Node(73, PT_ARG1, {Node(75, PT_ARG1, {Leaf(10, "a")})}),
                     Node(86, "FROM " PT_ARG1 " " PT_ARG2 " " PT_ARG3,
                          {Node(90, PT_ARG1, {Leaf(87, "t")}), Leaf(54, ""), Leaf(47, "")})}));
    ASSERT_EQ(PT_RegenText(query.get()), 1);
    EXPECT_STREQ(query->text, "SELECT  a FROM t  ");

    struct Case {
        PT_NODE* tree;
        const char* text;
    } cases[] = {
        {Leaf(10, "a"), "a"},
        {Node(60, "( " PT_ARG1 " )", {Leaf(10, "a")}), "( a )"},
        {Node(14, PT_ARG2 " " PT_ARG1 " " PT_ARG3, {Leaf(10, "a"), Leaf(13, "<"), Leaf(10, "b")}), "< a b"},
        {Node(14, PT_ARG1 " " PT_ARG3, {Leaf(10, "a")}), "a NULL"},  // no child 3
        {Node(14, PT_ARG1 "-" PT_ARG2, {Leaf(10, "a"), Leaf(42, nullptr)}), "a-"},
        {Node(14, PT_ARG1 "\xFF", {Leaf(10, "a")}), "a"},  // a cut-off escape ends the template
        {Node(24, "-" PT_ARG1, {Node(60, "( " PT_ARG1 " )", {Node(23, PT_ARG1 " + " PT_ARG2,
                                                                   {Leaf(10, "x"), Leaf(95, "1")})})}),
         "-( x + 1 )"},
    };
    for (const Case& c : cases) {
        Tree tree(c.tree);
        ASSERT_EQ(PT_RegenText(tree.get()), 1) << c.text;
        EXPECT_STREQ(tree->text, c.text);
    }
    EXPECT_EQ(PT_RegenText(nullptr), 0);
}

TEST(ParseTree, EditsReachTheRootOnTheNextRegeneration) {
    PT_NODE *col, *cmp;
    Tree root(Node(72, "SELECT " PT_ARG1 " " PT_ARG2,
                   {Node(73, PT_ARG1, {col = Leaf(10, "a")}),
                    Node(101, "WHERE " PT_ARG1, {cmp = Node(14, PT_ARG1 " = 1", {Leaf(10, "b")})})}));
    ASSERT_EQ(PT_RegenText(root.get()), 1);
    EXPECT_STREQ(root->text, "SELECT a WHERE b = 1");

    ASSERT_EQ(PT_NodeSetText(col, "x"), 1);
    EXPECT_STREQ(root->text, "SELECT a WHERE b = 1") << "not before the regeneration";
    ASSERT_EQ(PT_RegenText(root.get()), 1);
    EXPECT_EQ(MadeTextsFrom(root.get()), (std::vector<std::string>{
                                             "SELECT x WHERE b = 1", "x", "x", "WHERE b = 1", "b = 1", "b"}));

    // A regeneration from a node rebuilds that node and its later siblings, not its parent.
    PT_NODE* where = root->child->sibling;
    uh_Free(cmp->tmpl);
    cmp->tmpl = uh_StrDup(PT_ARG1 " <> 2");
    ASSERT_EQ(PT_RegenText(root->child), 1);
    EXPECT_STREQ(where->text, "WHERE b <> 2");
    EXPECT_STREQ(root->text, "SELECT x WHERE b = 1");

    // A node whose children are gone and whose child count is 0 is a leaf.
    PT_Free(&where->child, PT_NodeFree);
    where->childCount = 0;
    ASSERT_EQ(PT_NodeSetText(where, "WHERE 1=0"), 1);
    ASSERT_EQ(PT_RegenText(root.get()), 1);
    EXPECT_STREQ(root->text, "SELECT x WHERE 1=0");
    EXPECT_STREQ(where->tmpl, "WHERE " PT_ARG1);
}

// Only the tops of a regeneration keep a text: a tree as deep as a long chain of joins is
// not held once per level. The others' texts are made on request from the leaves.
TEST(ParseTree, InnerNodesBelowTheTopKeepNoText) {
    constexpr int kJoins = 3000;
    Tree joins(Joins(kJoins));
    ASSERT_NE(joins, nullptr);
    ASSERT_EQ(PT_RegenText(joins.get()), 1);
    const std::string expected = ExpectedJoins(kJoins);
    EXPECT_EQ(joins->text, expected);
    EXPECT_EQ(HeldBytes(joins.get(), false), HeldBytes(joins.get(), true) + expected.size() + 1);

    Tree two(Joins(2));
    ASSERT_EQ(PT_RegenText(two.get()), 1);
    PT_NODE* first = PT_Child(PT_Child(two.get(), 1), 1);  // the reference "t0 ... t1"
    PT_NODE* t1 = PT_Child(PT_Child(PT_Child(first, 1), 3), 1);
    ASSERT_STREQ(t1->text, "t1");
    EXPECT_EQ(first->text, nullptr);
    EXPECT_STREQ(PT_NodeText(first), "t0 INNER JOIN t1 ON c = 1");
    ASSERT_EQ(PT_NodeSetText(t1, "u1"), 1);
    EXPECT_STREQ(PT_NodeText(first), "t0 INNER JOIN t1 ON c = 1") << "kept until the next regeneration";
    ASSERT_EQ(PT_RegenText(two.get()), 1);
    EXPECT_EQ(first->text, nullptr);
    EXPECT_STREQ(two->text, "t0 INNER JOIN u1 ON c = 1 INNER JOIN t2 ON c = 1");
    EXPECT_STREQ(PT_NodeText(first), "t0 INNER JOIN u1 ON c = 1");

    // A node past its parent's child count is no argument, yet its text is made on request.
    Tree odd(Node(68, PT_ARG1, {Leaf(10, "a")}));
    odd->child->sibling = Node(68, "( " PT_ARG1 " )", {Leaf(10, "b")});
    ASSERT_EQ(PT_RegenText(odd.get()), 1);
    EXPECT_STREQ(odd->text, "a");
    EXPECT_STREQ(PT_NodeText(odd->child->sibling), "( b )");
}

TEST(ParseTree, ListsOf50000ItemsRegenerateWalkAndFree) {
    constexpr int kItems = 50000;
    Tree left(LeftList(kItems));
    ASSERT_NE(left, nullptr);
    ASSERT_EQ(PT_RegenText(left.get()), 1);
    EXPECT_EQ(left->text, ExpectedList("c", kItems));

    UT_ARRAY* items = ut_ArrayNew(sizeof(PT_NODE*));
    ASSERT_EQ(PT_Walk(left.get(), PT_CbCollect, 75, items), 1);
    ASSERT_EQ(items->count, static_cast<uint32_t>(kItems));
    auto** found = static_cast<PT_NODE**>(items->elements);
    EXPECT_STREQ(PT_NodeText(found[0]), "c0");
    EXPECT_STREQ(PT_NodeText(found[kItems - 1]), ("c" + std::to_string(kItems - 1)).c_str());
    ut_ArrayFree(&items, nullptr);

    Tree right(RightList(kItems));
    ASSERT_NE(right, nullptr);
    ASSERT_EQ(PT_RegenText(right.get()), 1);
    EXPECT_EQ(right->text, ExpectedList("v", kItems));

    // A chain 300,000 deep: walks and release use no recursion.
    PT_NODE* deep = Leaf(10, "x");
    for (int i = 0; i < 300000 && deep != nullptr; ++i)
        deep = Node(60 + i % 2, "(" PT_ARG1 ")", {deep});
    Tree chain(deep);
    ASSERT_NE(chain, nullptr);
    PT_NODE* leaf = nullptr;
    ASSERT_EQ(PT_Walk(chain.get(), PT_CbFind, 10, &leaf), 1);
    ASSERT_NE(leaf, nullptr);
    EXPECT_STREQ(leaf->text, "x");
}

// A tree whose walks show the pruning rules:
//   R(1)
//   ├─ A(2)
//   │  ├─ S(9) ── K(5) "in S"
//   │  └─ K(5) "after S"
//   └─ K(5) "after A" ── K(5) "below"
//   then, as R's later sibling: K(5) "sibling of R"
struct PruningTree {
    PT_NODE* root;
    PT_NODE* a;
    PT_NODE* s;
    PT_NODE* afterA;
    PruningTree() {
        s = Node(9, PT_ARG1, {Leaf(5, "in S")});
        a = Node(2, PT_ARG1 PT_ARG2, {s, Leaf(5, "after S")});
        afterA = Node(5, PT_ARG1, {Leaf(5, "below")});
        root = Node(1, PT_ARG1 PT_ARG2, {a, afterA});
        root->sibling = Leaf(5, "sibling of R");
        PT_NodeSetText(afterA, "after A");
    }
    ~PruningTree() { PT_Free(&root, PT_NodeFree); }
};

std::vector<std::string> TextsIn(UT_ARRAY* nodes) {
    std::vector<std::string> texts;
    for (uint32_t i = 0; i < nodes->count; ++i)
        texts.push_back(TextOf(static_cast<PT_NODE**>(nodes->elements)[i]));
    return texts;
}

TEST(ParseTree, WalksPruneTheSubtreeAndLaterSiblingsOnly) {
    PruningTree t;
    using Texts = std::vector<std::string>;
    struct Case {
        const char* what;
        PT_NODE* from;
        bool notBelow;  // stop at kind 9
        bool below;     // PT_WalkBelow
        Texts collected;
    } cases[] = {
        {"whole walk, later siblings of the start included", t.root, false, false,
         {"in S", "after S", "after A", "below", "sibling of R"}},
        {"S prunes its subtree and its later sibling; the ancestors go on", t.root, true, false,
         {"after A", "below", "sibling of R"}},
        {"a walk below a node skips its siblings", t.a, false, true, {"in S", "after S"}},
        {"from a middle node", t.a, true, false, {"after A", "below"}},
    };
    for (const Case& c : cases) {
        UT_ARRAY* nodes = ut_ArrayNew(sizeof(PT_NODE*));
        int rc = c.below      ? PT_WalkBelow(c.from, PT_CbCollect, 5, nodes)
                 : c.notBelow ? PT_Walk2(c.from, PT_CbCollectNotBelow, 5, 9, nodes)
                              : PT_Walk(c.from, PT_CbCollect, 5, nodes);
        EXPECT_EQ(rc, 1) << c.what;
        EXPECT_EQ(TextsIn(nodes), c.collected) << c.what;
        ut_ArrayFree(&nodes, nullptr);
    }

    // Find: the first in pre-order, reached from the start node's subtree and its later
    // siblings, never from its ancestors.
    struct Find {
        PT_NODE* from;
        int kind;
        bool notBelow;
        const char* text;  // of the node found, null for none
    } finds[] = {
        {t.root, 5, false, "in S"},
        {t.root, 5, true, "after A"},
        {t.s, 5, false, "in S"},
        {t.s->child, 5, false, "in S"},
        {t.a, 1, false, nullptr},
        {t.s, 2, false, nullptr},
        {t.a, 9, true, nullptr},
    };
    for (const Find& f : finds) {
        PT_NODE* found = nullptr;
        EXPECT_EQ(f.notBelow ? PT_Walk2(f.from, PT_CbFindNotBelow, f.kind, 9, &found)
                             : PT_Walk(f.from, PT_CbFind, f.kind, &found),
                  1);
        EXPECT_STREQ(found == nullptr ? nullptr : found->text, f.text) << f.kind;
    }
    Tree pair(Node(1, PT_ARG1 PT_ARG2, {Leaf(2, "x"), Leaf(3, "y")}));
    PT_NODE* found = nullptr;
    PT_Walk(pair->child, PT_CbFind, 3, &found);
    ASSERT_NE(found, nullptr) << "found among the start node's later siblings";
    EXPECT_STREQ(found->text, "y");
    PT_NODE* kept = found;
    PT_Walk(t.root, PT_CbFind, 1, &found);
    EXPECT_EQ(found, kept) << "a filled slot stays";

    // Missing node, array or slot.
    EXPECT_EQ(PT_CbCollect(t.root, 1, nullptr), 0);
    EXPECT_EQ(PT_CbCollect(nullptr, 1, nullptr), 0);
    EXPECT_EQ(PT_CbFind(t.root, 1, nullptr), 0);
    EXPECT_EQ(PT_Walk(nullptr, PT_CbFind, 1, &found), 1);
}

TEST(ParseTree, FreeTakesTheSubtreeAndEveryLaterSibling) {
    static std::vector<std::string> freed;
    auto record = [](PT_NODE* node) {
        freed.push_back(TextOf(node));
        PT_NodeFree(node);
    };
    PT_NODE* second = Node(3, PT_ARG1, {Leaf(10, "below second")});
    PT_NodeSetText(second, "second");
    Tree list(Node(3, PT_ARG1 PT_ARG2 PT_ARG3, {Leaf(10, "first"), second, Leaf(10, "third")}));
    PT_Free(&list->child->sibling, record);
    EXPECT_EQ(list->child->sibling, nullptr);
    std::sort(freed.begin(), freed.end());
    EXPECT_EQ(freed, (std::vector<std::string>{"below second", "second", "third"}));
    EXPECT_STREQ(list->child->text, "first");
    PT_Free(nullptr, record);
    PT_NODE* none = nullptr;
    PT_Free(&none, record);
}

// Out of memory at any point of a regeneration changes no text; a walk that cannot grow
// its stack says so.
TEST(ParseTree, RunningOutOfMemoryChangesNothing) {
    Tree root(Node(1, "SELECT " PT_ARG1 " FROM t", {LeftList(300)}));
    ASSERT_EQ(PT_RegenText(root.get()), 1);
    PT_NODE* lastName = root->child->child->sibling->child;
    ASSERT_EQ(PT_NodeSetText(lastName, "edited"), 1);
    const std::vector<std::string> before = TextsFrom(root.get());
    bool failed = false;
    for (long n = 0;; ++n) {
        uh_FailAfter(n);
        int rc = PT_RegenText(root.get());
        uh_FailAfter(-1);
        if (rc == 1)
            break;
        failed = true;
        ASSERT_EQ(TextsFrom(root.get()), before) << "after failing at allocation " << n;
    }
    EXPECT_TRUE(failed);
    EXPECT_NE(std::string(root->text).find("c298, edited FROM t"), std::string::npos);

    uh_FailAfter(0);
    PT_NODE* found = nullptr;
    int rc = PT_Walk(root.get(), PT_CbFind, 10, &found);
    const char* text = PT_NodeText(root->child->child);
    uh_FailAfter(-1);
    EXPECT_EQ(rc, 0) << "a deep walk needs more than the stack's first entries";
    EXPECT_EQ(text, nullptr);
}

}  // namespace
