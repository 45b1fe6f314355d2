// Environment records.
#include "driver/objects/envr.h"

#include <new>

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

// Closes one connection of a closing environment for good and has it freed.
bool CloseForGood(CONN* conn, void* closed) {
    ConnCloseForGood(conn);
    ++*static_cast<int*>(closed);
    return true;
}

}  // namespace

void EnvrClose(ENVR* envr) {
    if (envr->state != ENVR_OPEN)
        return;
    // Each round closes the connections the environment had when it began; one added while
    // a round had the handle lock given up is closed by the next.
    int closed = 1;
    while (envr->conns != nullptr && closed != 0) {
        closed = 0;
        ForEachEnvConnection(envr, CloseForGood, &closed);
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
        if (c->busy != nullptr)
            return true;
    return false;
}
