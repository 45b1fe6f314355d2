// Environment records.
#include "driver/objects/envr.h"

#include "driver/frame/globals.h"

bool EnvrHasBusyConn(const ENVR* envr) {
    for (const CONN* c = envr->conns; c != nullptr; c = c->next)
        if (c->busy != nullptr)
            return true;
    return false;
}

void EnvrRelease(ENVR* envr) {
    DRV_GLOBALS& g = Drv();
    for (ENVR** p = &g.envList; *p != nullptr; p = &(*p)->next) {
        if (*p == envr) {
            *p = envr->next;
            break;
        }
    }
    while (CONN* c = envr->conns) {
        envr->conns = c->next;
        hdl_Remove(&g.connTable, c->id);
        c->magic = FREED_MAGIC;
        delete c;
    }
    hdl_Remove(&g.envTable, envr->id);
    envr->magic = FREED_MAGIC;
    delete envr;
}
