// Environment records.
#include "driver/objects/envr.h"

#include <new>

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

void EnvrClose(ENVR* envr) {
    if (envr->state != ENVR_OPEN)
        return;
    while (CONN* c = envr->conns) {
        // A connection that refuses to disconnect is freed all the same: its environment
        // is going.
        ConnClose(c);
        ConnFree(c);
        delete c;
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

bool EnvrHasBusyConn(const ENVR* envr) {
    for (const CONN* c = envr->conns; c != nullptr; c = c->next)
        if (c->busy != nullptr)
            return true;
    return false;
}
