// Environment records.
#include "driver/objects/envr.h"

#include <new>
#include <vector>

#include "driver/frame/dispatch.h"
#include "driver/frame/globals.h"
#include "driver/objects/conn.h"

namespace {

// Last sequence id given; guarded by the handle lock like the list itself.
uint32_t g_lastEnvrSequence = 0;

}  // namespace

ENVR* EnvrAlloc() {
    auto* envr = new (std::nothrow) ENVR;
    if (envr == nullptr)
        return nullptr;
    DRV_GLOBALS& g = Drv();
    envr->sequenceId = ++g_lastEnvrSequence;
    envr->next = g.envList;
    g.envList = envr;
    return envr;
}

void EnvrOpen(ENVR* envr) {
    if (envr->state == ENVR_ALLOCATED)
        envr->state = ENVR_OPEN;
}

namespace {

// Closes one connection of a closing environment for good and has it destroyed.
bool CloseForGood(CONN* conn, void* closed) {
    ConnCloseForGood(conn);
    ++*static_cast<int*>(closed);
    return true;
}

struct EnvrWalk {
    ENVR* envr;
    EnvrConnWork work;
    void* context;
};

// A connection id may have been given to another environment's connection since the walk
// took it: only this environment's are worked on.
bool WorkOnOwnConnection(HANDLE_HDR* h, void* walk) {
    auto* w = static_cast<EnvrWalk*>(walk);
    auto* conn = static_cast<CONN*>(h);
    return conn->envr == w->envr && w->work(conn, w->context);
}

}  // namespace

int EnvrForEachConnection(ENVR* envr, EnvrConnWork work, void* context) {
    // Ids, not pointers: while the handle lock is given up connections may come and go.
    std::vector<uint32_t> ids;
    for (const CONN* c = envr->conns; c != nullptr; c = c->next)
        ids.push_back(c->id);
    struct Counted {
        ENVR* envr;
        explicit Counted(ENVR* e) : envr(e) { ++envr->connWalks; }
        ~Counted() { --envr->connWalks; }
    } counted(envr);
    EnvrWalk walk{envr, work, context};
    int passedOver = 0;
    for (uint32_t id : ids)
        if (RunOnConnection(envr, id, WorkOnOwnConnection, &walk) == ConnRun::PassedOver)
            ++passedOver;
    return passedOver;
}

void EnvrClose(ENVR* envr) {
    if (envr->state != ENVR_OPEN)
        return;
    // Each round closes the connections the environment had when it began; one added while
    // a round had the handle lock given up is closed by the next.
    int closed = 1;
    while (envr->conns != nullptr && closed != 0) {
        closed = 0;
        EnvrForEachConnection(envr, CloseForGood, &closed);
    }
    envr->state = ENVR_ALLOCATED;
}

void EnvrFree(ENVR* envr) {
    DRV_GLOBALS& g = Drv();
    for (ENVR** p = &g.envList; *p != nullptr; p = &(*p)->next) {
        if (*p == envr) {
            *p = envr->next;
            break;
        }
    }
    ErrListFree(envr->diag);
    envr->magic = FREED_MAGIC;
    envr->state = ENVR_FREED;
    if (envr->id != 0)
        hdl_Remove(&g.envTable, envr->id);
    delete envr;
}

int EnvrOdbcVersionOf(const HANDLE_HDR* h) {
    const ENVR* envr = nullptr;
    if (h != nullptr && h->kind == CALL_KIND_ENV)
        envr = static_cast<const ENVR*>(h);
    else if (h != nullptr && h->conn != nullptr)
        envr = h->conn->envr;
    return envr != nullptr ? static_cast<int>(envr->odbcVersion) : 3;
}

void EnvrAddError(ENVR* envr, std::string_view text, int32_t native) {
    ErrListAdd(envr->diag, text, native);
}

std::optional<ERRMSG> EnvrNextError(ENVR* envr) {
    if (envr->diag.messages.empty())
        return std::nullopt;
    ERRMSG m = std::move(envr->diag.messages.front());
    envr->diag.messages.pop_front();
    return m;
}

bool EnvrInUse(const ENVR* envr) {
    if (envr->connWalks != 0)
        return true;
    for (const CONN* c = envr->conns; c != nullptr; c = c->next)
        if (c->callGate.busy.load() != nullptr)
            return true;
    return false;
}
