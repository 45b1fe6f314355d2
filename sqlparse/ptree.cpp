// The parse tree: construction, release, walks, search callbacks and text regeneration.
#include "sqlparse/ptree.h"

#include <cassert>
#include <cstring>
#include <type_traits>

#include "util/utarray.h"
#include "util/utheap.h"

namespace {

// A growable stack of plain values: a few entries in place, then the C heap, doubling.
// Push fails (false) only when memory runs out.
template <typename T>
class Stack {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    Stack() = default;
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;
    ~Stack() {
        if (items_ != inPlace_)
            uh_Free(items_);
    }

    bool Push(const T& value) {
        if (count_ == capacity_ && !Grow())
            return false;
        items_[count_++] = value;
        return true;
    }
    T Pop() { return items_[--count_]; }
    T& Top() { return items_[count_ - 1]; }
    T& operator[](size_t i) { return items_[i]; }
    size_t Count() const { return count_; }
    bool Empty() const { return count_ == 0; }

private:
    bool Grow() {
        auto* grown = static_cast<T*>(uh_Calloc(capacity_ * 2, sizeof(T)));
        if (grown == nullptr)
            return false;
        std::memcpy(static_cast<void*>(grown), items_, count_ * sizeof(T));
        if (items_ != inPlace_)
            uh_Free(items_);
        items_ = grown;
        capacity_ *= 2;
        return true;
    }

    static constexpr size_t kInPlace = 32;
    T inPlace_[kInPlace];
    T* items_ = inPlace_;
    size_t count_ = 0;
    size_t capacity_ = kInPlace;
};

// A growable NUL-terminated text on the C heap; Take hands it over.
class TextBuf {
public:
    TextBuf() = default;
    TextBuf(const TextBuf&) = delete;
    TextBuf& operator=(const TextBuf&) = delete;
    ~TextBuf() { uh_Free(text_); }

    bool Append(const char* bytes, size_t n) {
        if (length_ + n + 1 > capacity_ && !Reserve(length_ + n + 1))
            return false;
        std::memcpy(text_ + length_, bytes, n);
        length_ += n;
        text_[length_] = '\0';
        return true;
    }
    char* Take() {
        if (text_ == nullptr && !Reserve(1))
            return nullptr;
        char* t = text_;
        text_ = nullptr;
        length_ = capacity_ = 0;
        return t;
    }

private:
    bool Reserve(size_t needed) {
        size_t capacity = capacity_ < 64 ? 64 : capacity_;
        while (capacity < needed)
            capacity *= 2;
        auto* grown = static_cast<char*>(uh_Malloc(capacity));
        if (grown == nullptr)
            return false;
        if (text_ != nullptr)
            std::memcpy(grown, text_, length_ + 1);
        else
            grown[0] = '\0';
        uh_Free(text_);
        text_ = grown;
        capacity_ = capacity;
        return true;
    }

    char* text_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
};

constexpr unsigned char kEsc = 0xFF;
constexpr unsigned char kInsert = 0x01;

bool IsInner(const PT_NODE* node) {
    return node->childCount != 0;
}

// Child n (1-based) of the node, or null.
PT_NODE* NthChild(const PT_NODE* node, int n) {
    PT_NODE* c = node->child;
    while (c != nullptr && --n > 0)
        c = c->sibling;
    return c;
}

// The children that the template's escapes can name: the first childCount of the chain.
int ArgumentCount(const PT_NODE* node) {
    int n = 0;
    for (const PT_NODE* c = node->child; c != nullptr && n < node->childCount; c = c->sibling)
        ++n;
    return n;
}

// Appends the node's template expansion to out in one pass over its subtree: an inner
// argument is expanded in place from its own template (an explicit stack, one frame a
// level), a leaf argument gives its current text. Texts that inner nodes may hold are not
// read, so the result always follows the leaves and templates as they are now.
bool Expand(PT_NODE* node, TextBuf& out) {
    struct Frame {
        PT_NODE* node;
        const unsigned char* at;  // next template byte
        int arguments;
    };
    static const unsigned char kNoTemplate[] = "";
    auto frameOf = [](PT_NODE* n) {
        const auto* t = n->tmpl != nullptr ? reinterpret_cast<const unsigned char*>(n->tmpl)
                                           : kNoTemplate;
        return Frame{n, t, ArgumentCount(n)};
    };
    Stack<Frame> frames;
    if (!frames.Push(frameOf(node)))
        return false;
    while (!frames.Empty()) {
        Frame& f = frames.Top();
        if (*f.at == 0) {
            frames.Pop();
            continue;
        }
        if (*f.at != kEsc) {
            const unsigned char* run = f.at;
            while (*f.at != 0 && *f.at != kEsc)
                ++f.at;
            if (!out.Append(reinterpret_cast<const char*>(run), f.at - run))
                return false;
            continue;
        }
        // An escape; a NUL anywhere inside it ends the template.
        if (f.at[1] == 0 || (f.at[1] == kInsert && f.at[2] == 0)) {
            frames.Pop();
            continue;
        }
        if (f.at[1] != kInsert) {
            assert(false && "tree templates hold only the insert escape");
            f.at += 2;
            continue;
        }
        int n = f.at[2];
        f.at += 3;
        if (n > f.arguments) {
            if (!out.Append("NULL", 4))
                return false;
            continue;
        }
        PT_NODE* child = NthChild(f.node, n);
        if (IsInner(child)) {
            if (!frames.Push(frameOf(child)))  // f is not used after this
                return false;
            continue;
        }
        if (child->text != nullptr && !out.Append(child->text, std::strlen(child->text)))
            return false;
    }
    return true;
}

template <typename Visit>
int WalkFrom(PT_NODE* node, Visit visit) {
    Stack<PT_NODE*> pending;
    if (node != nullptr && !pending.Push(node))
        return 0;
    while (!pending.Empty()) {
        PT_NODE* n = pending.Pop();
        if (visit(n) == 0)
            continue;
        // The sibling goes below the child: the child's subtree is walked first.
        if (n->sibling != nullptr && !pending.Push(n->sibling))
            return 0;
        if (n->child != nullptr && !pending.Push(n->child))
            return 0;
    }
    return 1;
}

}  // namespace

PT_NODE* PT_NodeNew(int32_t kind, const char* text) {
    auto* node = static_cast<PT_NODE*>(uh_Calloc(1, sizeof(PT_NODE)));
    if (node == nullptr)
        return nullptr;
    node->kind = kind;
    if (text != nullptr && (node->text = uh_StrDup(text)) == nullptr) {
        uh_Free(node);
        return nullptr;
    }
    return node;
}

PT_NODE* PT_NodeNewChildren(int32_t kind, const char* tmpl, std::initializer_list<PT_NODE*> children) {
    bool complete = children.size() >= 1 && children.size() <= PT_MAX_CHILDREN;
    for (PT_NODE* c : children) {
        complete = complete && c != nullptr;
        assert(c == nullptr || c->sibling == nullptr);
    }
    PT_NODE* node = complete ? PT_NodeNew(kind, "") : nullptr;
    if (node != nullptr && tmpl != nullptr && (node->tmpl = uh_StrDup(tmpl)) == nullptr) {
        PT_Free(&node, PT_NodeFree);
    }
    if (node == nullptr) {
        for (PT_NODE* c : children)
            PT_Free(&c, PT_NodeFree);
        return nullptr;
    }
    node->childCount = static_cast<int32_t>(children.size());
    PT_NODE** link = &node->child;
    for (PT_NODE* c : children) {
        *link = c;
        link = &c->sibling;
    }
    return node;
}

PT_NODE* PT_NodeNewChild(int32_t kind, const char* tmpl, PT_NODE* child) {
    return PT_NodeNewChildren(kind, tmpl, {child});
}

int PT_NodeSetText(PT_NODE* node, const char* text) {
    char* copy = nullptr;
    if (text != nullptr && (copy = uh_StrDup(text)) == nullptr)
        return 0;
    uh_Free(node->text);
    node->text = copy;
    return 1;
}

void PT_NodeFree(PT_NODE* node) {
    uh_Free(node->text);
    uh_Free(node->tmpl);
    node->text = nullptr;
    node->tmpl = nullptr;
}

void PT_Free(PT_NODE** slot, void (*destructor)(PT_NODE*)) {
    if (slot == nullptr)
        return;
    PT_NODE* node = *slot;
    *slot = nullptr;
    // Seen as a binary tree (child left, sibling right): rotate each first child up until
    // the node has none, then free the node and go on with its sibling. Every node is
    // reached once, with no stack.
    while (node != nullptr) {
        if (PT_NODE* c = node->child) {
            node->child = c->sibling;
            c->sibling = node;
            node = c;
            continue;
        }
        PT_NODE* next = node->sibling;
        node->sibling = nullptr;
        if (destructor != nullptr)
            destructor(node);
        uh_Free(node);
        node = next;
    }
}

int PT_Walk(PT_NODE* node, PT_WALK_FN callback, int32_t kind, void* user) {
    return WalkFrom(node, [&](PT_NODE* n) { return callback(n, kind, user); });
}

int PT_Walk2(PT_NODE* node, PT_WALK2_FN callback, int32_t kind, int32_t stopKind, void* user) {
    return WalkFrom(node, [&](PT_NODE* n) { return callback(n, kind, stopKind, user); });
}

int PT_WalkBelow(PT_NODE* node, PT_WALK_FN callback, int32_t kind, void* user) {
    if (node == nullptr || callback(node, kind, user) == 0)
        return 1;
    return PT_Walk(node->child, callback, kind, user);
}

int PT_CbCollect(PT_NODE* node, int32_t kind, void* nodes) {
    if (node == nullptr || nodes == nullptr)
        return 0;
    if (node->kind == kind)
        return ut_ArrayAppend(static_cast<UT_ARRAY*>(nodes), &node);
    return 1;
}

int PT_CbCollectNotBelow(PT_NODE* node, int32_t kind, int32_t stopKind, void* nodes) {
    if (node != nullptr && node->kind == stopKind)
        return 0;
    return PT_CbCollect(node, kind, nodes);
}

int PT_CbFind(PT_NODE* node, int32_t kind, void* slot) {
    auto** found = static_cast<PT_NODE**>(slot);
    if (node == nullptr || found == nullptr || *found != nullptr)
        return 0;
    if (node->kind == kind) {
        *found = node;
        return 0;
    }
    return 1;
}

int PT_CbFindNotBelow(PT_NODE* node, int32_t kind, int32_t stopKind, void* slot) {
    if (node != nullptr && node->kind == stopKind)
        return 0;
    return PT_CbFind(node, kind, slot);
}

int PT_RegenText(PT_NODE* node) {
    if (node == nullptr)
        return 0;
    // The inner nodes below the region's tops that hold a text, given up at the end: their
    // texts would be stale, and keeping one per level is what made deep trees quadratic.
    Stack<PT_NODE*> held;
    auto collect = [&held](PT_NODE* n) {
        return IsInner(n) && n->text != nullptr && !held.Push(n) ? 0 : 1;
    };
    Stack<char*> built;  // the new text of each inner top, in chain order
    bool done = true;
    for (PT_NODE* top = node; done && top != nullptr; top = top->sibling) {
        // A walk from the first child covers the top's subtree and stops short of the
        // top's own siblings, which are tops of their own.
        done = top->child == nullptr || WalkFrom(top->child, collect) != 0;
        if (done && IsInner(top)) {
            TextBuf text;
            char* t = nullptr;
            done = Expand(top, text) && (t = text.Take()) != nullptr && built.Push(t);
            if (!done)
                uh_Free(t);
        }
    }
    if (!done) {
        while (!built.Empty())
            uh_Free(built.Pop());
        return 0;
    }
    // Nothing has changed until here.
    for (size_t i = 0; i < held.Count(); ++i) {
        uh_Free(held[i]->text);
        held[i]->text = nullptr;
    }
    size_t next = 0;
    for (PT_NODE* top = node; top != nullptr; top = top->sibling) {
        if (!IsInner(top))
            continue;
        uh_Free(top->text);
        top->text = built[next++];
    }
    return 1;
}

const char* PT_NodeText(PT_NODE* node) {
    if (node == nullptr)
        return nullptr;
    if (node->text != nullptr || !IsInner(node))
        return node->text;
    TextBuf text;
    if (!Expand(node, text))
        return nullptr;
    node->text = text.Take();
    return node->text;
}

PT_NODE* PT_Child(const PT_NODE* node, int n) {
    PT_NODE* c = node != nullptr && n > 0 ? node->child : nullptr;
    while (c != nullptr && --n > 0)
        c = c->sibling;
    return c;
}

PT_NODE* PT_ChildOfKind(const PT_NODE* node, int32_t kind) {
    for (PT_NODE* c = node != nullptr ? node->child : nullptr; c != nullptr; c = c->sibling)
        if (c->kind == kind)
            return c;
    return nullptr;
}
