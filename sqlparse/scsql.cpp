// The SQL scanner object: its life, the input window, the token text, the token
// dictionary, the error texts and the heap of its automaton. The rules are in scsql.l.
#include "sqlparse/scsql.h"

#include <cstring>
#include <new>

#include "sqlparse/scsql_state.h"
#include "util/errcode.h"
#include "util/utheap.h"
#include "util/uthash.h"
#include "util/ut_string.h"

namespace {

// A prime: a long IN list interns tens of thousands of texts, so the chains stay short.
constexpr int32_t kSymbolBuckets = 4093;

void FreeSymbol(void* value, const void*, void*) {
    uh_Free(value);
}

void Append(SCSQL_SCANNER* s, const char* text, size_t length) {
    try {
        s->tokenText.append(text, length);
    } catch (const std::bad_alloc&) {
        throw ScsqlFailure{};
    }
}

// The entry whose text equals text exactly (case included: 'abc' and 'ABC' are different
// constants), made when there is none.
const SCSQL_SYMBOL* Intern(SCSQL_SCANNER* s, const char* text) {
    if (auto* found = static_cast<SCSQL_SYMBOL*>(ut_HashFind(s->symbols, text)))
        return found;
    auto* symbol = static_cast<SCSQL_SYMBOL*>(uh_Calloc(1, sizeof(SCSQL_SYMBOL)));
    if (symbol == nullptr)
        throw ScsqlFailure{};
    UT_HASHNODE* node = ut_HashPut(s->symbols, text, symbol);
    if (node == nullptr) {
        uh_Free(symbol);
        throw ScsqlFailure{};
    }
    symbol->text = static_cast<const char*>(node->key);  // the table's own copy
    return symbol;
}

void FreeBlocks(SCSQL_SCANNER* s) {
    ScsqlBlock* b = s->blocks.next;
    while (b != &s->blocks) {
        ScsqlBlock* next = b->next;
        uh_Free(b);
        b = next;
    }
    s->blocks.next = s->blocks.prev = &s->blocks;
}

}  // namespace

int scsql_ScannerNew(SCSQL_SCANNER** scanner, const char* text, size_t length) {
    *scanner = nullptr;
    SCSQL_SCANNER* s = new (std::nothrow) SCSQL_SCANNER;
    if (s == nullptr)
        return ERR_MEMORY_ALLOCATION_FAILURE;
    s->input = text;
    s->length = text == nullptr ? 0 : length;
    s->symbols = ut_HashNew(kSymbolBuckets, 0);
    if (s->symbols == nullptr || scsql_lex_init_extra(s, &s->lexer) != 0) {
        s->lexer = nullptr;
        scsql_ScannerFree(s);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    *scanner = s;
    return 0;
}

void scsql_ScannerFree(SCSQL_SCANNER* s) {
    if (s == nullptr)
        return;
    // After a failure the automaton may be half-way through a change of its buffers: its
    // blocks are released from the list instead.
    if (s->lexer != nullptr && s->failure == 0)
        scsql_lex_destroy(s->lexer);
    FreeBlocks(s);
    if (s->symbols != nullptr) {
        ut_HashForEach(s->symbols, FreeSymbol, nullptr);
        ut_HashFree(s->symbols);
    }
    delete s;
}

int scsql_NextToken(SCSQL_SCANNER* s, const SCSQL_SYMBOL** value) {
    *value = nullptr;
    if (s->failure != 0)
        return SCSQL_TK_FAILED;
    if (s->ended)
        return 0;
    s->value = nullptr;
    int token = 0;
    try {
        token = scsql_lex(s->lexer);
    } catch (const ScsqlFailure&) {
        s->failure = ERR_MEMORY_ALLOCATION_FAILURE;
    }
    if (s->failure != 0)  // also set by a rule that recorded an error without memory
        return SCSQL_TK_FAILED;
    if (token == 0)
        s->ended = true;
    *value = s->value;
    return token;
}

int scsql_Failure(const SCSQL_SCANNER* s) {
    return s->failure;
}

const char* scsql_TokenText(const SCSQL_SCANNER* s) {
    return s->tokenText.c_str();
}

void scsql_Error(SCSQL_SCANNER* s, const char* message) {
    try {
        s->errorContext = s->tokenText;
        s->errorContext += '^';
        s->errorMessage = message;
        s->hasError = true;
    } catch (const std::bad_alloc&) {
        s->failure = ERR_MEMORY_ALLOCATION_FAILURE;
    }
}

const char* scsql_ErrorContext(const SCSQL_SCANNER* s) {
    return s->hasError ? s->errorContext.c_str() : nullptr;
}

const char* scsql_ErrorMessage(const SCSQL_SCANNER* s) {
    return s->hasError ? s->errorMessage.c_str() : nullptr;
}

// --- called by the rules -----------------------------------------------------------

size_t scsql_ReadInput(SCSQL_SCANNER* s, char* buffer, size_t size) {
    size_t n = s->length - s->position;
    if (n > size)
        n = size;
    if (n != 0)
        std::memcpy(buffer, s->input + s->position, n);
    s->position += n;
    return n;
}

int scsql_Plain(SCSQL_SCANNER* s, const char* text, size_t length, int token) {
    Append(s, text, length);
    return token;
}

int scsql_Valued(SCSQL_SCANNER* s, const char* text, size_t length, int token) {
    Append(s, text, length);
    if (std::strlen(text) != length)
        token = SCSQL_TK_UNKNOWN;
    s->value = Intern(s, text);
    return token;
}

int scsql_StatementWord(SCSQL_SCANNER* s, const char* text, size_t length, int token) {
    s->tokenText.clear();
    return scsql_Plain(s, text, length, token);
}

void scsql_Blank(SCSQL_SCANNER* s) {
    Append(s, " ", 1);
}

size_t scsql_VendorOpenLength(const char* text) {
    // The rule matched the whole opener, which ends with the first "product(ODBC)".
    static constexpr char kLast[] = "product(odbc)";
    const char* last = ut_StrCaseStr(text, kLast);
    return last == nullptr ? std::strlen(text) : static_cast<size_t>(last - text) + sizeof kLast - 1;
}

void scsql_Fatal(const char*) {
    throw ScsqlFailure{};
}

void* scsql_BlockAlloc(SCSQL_SCANNER* s, size_t size) {
    auto* b = static_cast<ScsqlBlock*>(uh_Malloc(sizeof(ScsqlBlock) + size));
    if (b == nullptr)
        return nullptr;
    b->size = size;
    b->prev = &s->blocks;
    b->next = s->blocks.next;
    b->next->prev = b;
    s->blocks.next = b;
    return b + 1;
}

void* scsql_BlockRealloc(SCSQL_SCANNER* s, void* memory, size_t size) {
    if (memory == nullptr)
        return scsql_BlockAlloc(s, size);
    ScsqlBlock* old = static_cast<ScsqlBlock*>(memory) - 1;
    void* grown = scsql_BlockAlloc(s, size);
    if (grown == nullptr)
        return nullptr;  // the old block stays, linked and valid
    std::memcpy(grown, memory, old->size < size ? old->size : size);
    scsql_BlockFree(memory);
    return grown;
}

void scsql_BlockFree(void* memory) {
    if (memory == nullptr)
        return;
    ScsqlBlock* b = static_cast<ScsqlBlock*>(memory) - 1;
    b->prev->next = b->next;
    b->next->prev = b->prev;
    uh_Free(b);
}
