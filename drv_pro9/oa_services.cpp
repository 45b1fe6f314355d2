// What the cursor library reaches of the agent outside the operation table.
#include "drv_pro9/oa_services.h"

#include <cstring>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_dae.h"
#include "drv_pro9/oa_err.h"
#include "util/errcode.h"

namespace {

// Without the cursor library there is no SQL analyser and no positioned operation, and
// nothing completes a description.
int NoParamProber(const char*, const char*, OA_PARAMPROBES*) { return ERR_DRIVER_NOT_CAPABLE; }
int NoSetPosRun(uint32_t, uint16_t**, int32_t*) { return ERR_DRIVER_NOT_CAPABLE; }
int NoFixColAttribs(uint32_t, uint16_t, COLDESC*, std::vector<COLATTR>*) { return 0; }

}  // namespace

const OA_LIBCALLBACKS OA_LIBRARY_STANDINS = {NoParamProber, NoSetPosRun, NoFixColAttribs};
OA_LIBCALLBACKS oa_Library = OA_LIBRARY_STANDINS;

OA_LIBSTATE* oa_StmtLibState(uint32_t stmt) {
    OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr ? &s->lib : nullptr;
}

OA_LIBSTATE* oa_ConnLibState(uint32_t conn) {
    OA_CONN* c = oa_FindConn(conn);
    return c != nullptr ? &c->lib : nullptr;
}

uint32_t oa_ConnOfStmt(uint32_t stmt) {
    const OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr && s->conn != nullptr ? s->conn->handle : 0;
}

uint32_t oa_ServerOfConn(uint32_t conn) {
    // Every connection of the process shares the one server the first open made.
    const OA_CONN* c = oa_FindConn(conn);
    return c != nullptr && c->server != nullptr ? Agent().serverHandle : 0;
}

OA_CURSOROPTS* oa_StmtCursorOpts(uint32_t stmt) {
    OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr ? &s->cursorOpts : nullptr;
}

bool oa_StmtPrepared(uint32_t stmt) {
    const OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr && (s->flags & STMT_PREPARED) != 0;
}

const char* oa_StmtText(uint32_t stmt) {
    const OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr && (s->flags & STMT_PREPARED) != 0 ? s->request.text : nullptr;
}

uint32_t oa_StmtParamMarkers(uint32_t stmt) {
    const OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr && (s->flags & STMT_PREPARED) != 0 ? s->request.paramCount : 0;
}

int32_t oa_StmtMaxLength(uint32_t stmt) {
    const OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr ? s->maxLength : 0;
}

const int32_t* oa_StmtMaxLengthRef(uint32_t stmt) {
    const OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr ? &s->maxLength : nullptr;
}

int oa_StmtKeepErrors(uint32_t stmt, int32_t keep) {
    OA_STMT* s = oa_FindStmt(stmt);
    if (s == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    s->errors.keep = keep != 0 ? 1 : 0;
    return 0;
}

int oa_ErrMove(uint32_t target, uint32_t source) {
    OA_ERRLIST* to = oa_ErrListOf(target);
    OA_ERRLIST* from = oa_ErrListOf(source);
    if (to == nullptr || from == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    if (to == from)
        return 0;
    OA_ERRREC** tail = &to->head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = from->head;
    from->head = nullptr;
    return 0;
}

int oa_ErrClearOf(uint32_t handle) {
    OA_ERRLIST* list = oa_ErrListOf(handle);
    if (list == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    OA_ErrClear(list);
    return 0;
}

int oa_ErrPostOn(uint32_t handle, const char* message, const char* sqlstate) {
    OA_ERRLIST* list = oa_ErrListOf(handle);
    if (list == nullptr || message == nullptr || sqlstate == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    OA_ErrPostText(list, message, sqlstate);
    return 0;
}

int oa_ErrDropRowWarning(uint32_t handle) {
    OA_ERRLIST* list = oa_ErrListOf(handle);
    if (list == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    OA_ERRREC** slot = &list->head;
    if (*slot == nullptr)
        return 0;
    while ((*slot)->next != nullptr)
        slot = &(*slot)->next;
    if ((*slot)->sqlstate != nullptr && std::strcmp((*slot)->sqlstate, "01S01") == 0) {
        OA_ErrRecFree(*slot);
        *slot = nullptr;
    }
    return 0;
}

OA_SETPOS* oa_StmtSetPos(uint32_t stmt) {
    OA_STMT* s = oa_FindStmt(stmt);
    return s != nullptr ? &s->setPos : nullptr;
}

int oa_StmtDaeReset(uint32_t stmt) {
    OA_STMT* s = oa_FindStmt(stmt);
    if (s == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    oa_DaeReset(s);
    return 0;
}
