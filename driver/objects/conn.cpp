// Connection records.
#include "driver/objects/conn.h"

#include "driver/frame/globals.h"
#include "util/errcode.h"

int ConnClose(CONN*) {
    // No connection can be opened yet, so there is nothing to close.
    return 0;
}

void ConnFree(CONN* conn) {
    if (ENVR* envr = conn->envr) {
        for (CONN** p = &envr->conns; *p != nullptr; p = &(*p)->next) {
            if (*p == conn) {
                *p = conn->next;
                break;
            }
        }
    }
    hdl_Remove(&Drv().connTable, conn->id);
    conn->magic = FREED_MAGIC;
    delete conn;
}

SQLRETURN ConnEndTran(CONN* conn, int) {
    conn->diag.errCode = ERR_DRIVER_NOT_CAPABLE;
    return SQL_ERROR;
}
