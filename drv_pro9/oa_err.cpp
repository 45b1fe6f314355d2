// Agent error records: making, queueing and handing over the messages of failures.
#include "drv_pro9/oa_err.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/sqlstate.h"
#include "drv_pro9/db_conn.h"
#include "drv_pro9/oa_conn.h"
#include "platform/esql92/esql92.h"
#include "util/errcode.h"

namespace {

constexpr char kTextFormat[] = "[Progress Server]%s[SQLSTATE:%s]";

char* CopyText(const char* text) {
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, n + 1);
    return copy;
}

// Empties the list first unless it keeps its records.
void PrepareForPost(OA_ERRLIST* list) {
    if (list->keep == 0)
        OA_ErrClear(list);
}

// The SQLCA's message, bounded by its text area and by out: the client's length is not
// trusted.
void SqlcaMessage(const ESQL_SQLCA* sqlca, char* out, size_t outSize) {
    size_t n = sqlca->sqlerrml > 0 ? static_cast<size_t>(sqlca->sqlerrml) : 0;
    n = std::min({n, sizeof sqlca->sqlerrmc, outSize - 1});
    std::memcpy(out, sqlca->sqlerrmc, n);
    out[n] = '\0';
}


}  // namespace

const char* oa_ErrState(int code) {
    const SQLSTATE_ROW* row = SqlStateRow(code);
    return row != nullptr ? row->state : "";
}

const char* oa_ErrMessage(int code) {
    const SQLSTATE_ROW* row = SqlStateRow(code);
    return row != nullptr ? row->message : "";
}

OA_ERRLIST::~OA_ERRLIST() {
    OA_ErrClear(this);
}

OA_ERRREC* OA_ErrRecNew(int32_t native, const char* message, const char* sqlstate) {
    auto* rec = static_cast<OA_ERRREC*>(std::calloc(1, sizeof(OA_ERRREC)));
    if (rec == nullptr)
        return nullptr;
    rec->sqlstate = CopyText(sqlstate != nullptr ? sqlstate : "");
    if (rec->sqlstate == nullptr) {
        std::free(rec);
        return nullptr;
    }
    rec->native = native;
    if (message != nullptr)
        std::snprintf(rec->message, sizeof rec->message, "%s", message);
    return rec;
}

OA_ERRREC* OA_ErrRecFromCode(int code) {
    return OA_ErrRecNew(0, oa_ErrMessage(code), oa_ErrState(code));
}

OA_ERRREC* OA_ErrRecFromSqlca(esql_sqlca* sqlca) {
    if (sqlca->sqlcode == 0)
        return nullptr;
    char state[sizeof sqlca->sqlstate + 1];
    std::memcpy(state, sqlca->sqlstate, sizeof sqlca->sqlstate);
    state[sizeof sqlca->sqlstate] = '\0';
    OA_ERRREC* rec = OA_ErrRecNew(sqlca->sqlcode, nullptr, state);
    if (rec != nullptr) {
        if (sqlca->sqlerrml <= 0)
            std::snprintf(rec->message, sizeof rec->message, "unknown progress error %ld",
                          static_cast<long>(sqlca->sqlcode));
        else
            SqlcaMessage(sqlca, rec->message, sizeof rec->message);
    }
    tpe_sqlc_clear(sqlca);
    return rec;
}

void OA_ErrFromSqlca(OA_ERRLIST* list, esql_sqlca* sqlca) {
    if (list == nullptr)
        return;
    PrepareForPost(list);
    // A record that cannot be made is dropped, but its message is still taken off the
    // client's queue so that the next one comes up.
    for (int i = 0; i < OA_SQLCA_MAX_MESSAGES && sqlca->sqlcode != 0; ++i)
        OA_ErrAppend(list, OA_ErrRecFromSqlca(sqlca));
}

void OA_ErrRecFree(OA_ERRREC* rec) {
    if (rec == nullptr)
        return;
    std::free(rec->sqlstate);
    std::free(rec);
}

void OA_ErrAppend(OA_ERRLIST* list, OA_ERRREC* rec) {
    if (list == nullptr || rec == nullptr)
        return;
    rec->next = nullptr;
    OA_ERRREC** tail = &list->head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = rec;
}

void OA_ErrClear(OA_ERRLIST* list) {
    if (list == nullptr)
        return;
    OA_ERRREC* rec = list->head;
    list->head = nullptr;
    while (rec != nullptr) {
        OA_ERRREC* next = rec->next;
        OA_ErrRecFree(rec);
        rec = next;
    }
}

void OA_ErrPost(OA_ERRLIST* list, int code) {
    if (list == nullptr)
        return;
    PrepareForPost(list);
    OA_ErrAppend(list, OA_ErrRecFromCode(code));
}

void OA_ErrPostText(OA_ERRLIST* list, const char* message, const char* sqlstate) {
    if (list == nullptr)
        return;
    PrepareForPost(list);
    OA_ErrAppend(list, OA_ErrRecNew(0, message, sqlstate));
}

int OA_GetErrors(uint32_t handle, OA_ERRTEXTS* result) {
    OA_ERRLIST* list = oa_ErrListOf(handle);
    if (list == nullptr || result == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    int32_t count = 0;
    for (const OA_ERRREC* r = list->head; r != nullptr; r = r->next)
        count++;
    result->count = 0;
    result->texts = nullptr;
    result->natives = nullptr;
    result->release = OA_ErrTextsFree;
    if (count == 0)
        return 0;

    // Build everything first: on no memory the list must stay as it was.
    OA_ERRTEXTS made{list->head->native, 0, nullptr, nullptr, OA_ErrTextsFree};
    made.texts = static_cast<char**>(std::calloc(count, sizeof(char*)));
    made.natives = static_cast<int32_t*>(std::calloc(count, sizeof(int32_t)));
    bool ok = made.texts != nullptr && made.natives != nullptr;
    for (const OA_ERRREC* r = list->head; ok && r != nullptr; r = r->next) {
        const char* state = r->sqlstate != nullptr ? r->sqlstate : "";
        // An empty message still yields a text: the state and native code travel with it.
        int n = std::snprintf(nullptr, 0, kTextFormat, r->message, state);
        auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
        if (text == nullptr) {
            ok = false;
            break;
        }
        std::snprintf(text, static_cast<size_t>(n) + 1, kTextFormat, r->message, state);
        made.texts[made.count] = text;
        made.natives[made.count] = r->native;
        made.count++;
    }
    if (!ok) {
        OA_ErrTextsFree(&made);
        return ERR_MEMORY_ALLOCATION_FAILURE;
    }
    *result = made;
    OA_ErrClear(list);
    return 0;
}

void OA_ErrTextsFree(OA_ERRTEXTS* result) {
    if (result == nullptr)
        return;
    if (result->texts != nullptr)
        for (int32_t i = 0; i < result->count; ++i)
            std::free(result->texts[i]);
    std::free(result->texts);
    std::free(result->natives);
    result->texts = nullptr;
    result->natives = nullptr;
    result->count = 0;
}

OA_ERRLIST* oa_ErrListOf(uint32_t handle) {
    if (OA_STMT* s = oa_FindStmt(handle))
        return &s->errors;
    if (OA_CONN* c = oa_FindConn(handle))
        return &c->errors;
    if (OA_SERVER* v = oa_FindServer(handle))
        return &v->errors;
    return nullptr;
}
