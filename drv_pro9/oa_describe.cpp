// Description copies and native SQL of the agent.
#include "drv_pro9/oa_describe.h"

#include <cstring>

#include "drv_pro9/oa_conn.h"
#include "drv_pro9/oa_exec.h"
#include "drv_pro9/oa_sqltext.h"
#include "util/dataset.h"
#include "util/errcode.h"
#include "util/utheap.h"

namespace {

char* DupText(const char* s, bool* ok) {
    if (s == nullptr)
        return nullptr;
    auto* p = static_cast<char*>(uh_MemDup(s, std::strlen(s) + 1));
    if (p == nullptr)
        *ok = false;
    return p;
}

int CopyDescs(const OA_DESCARRAY& from, uint16_t* outCount, COLDESC** outDescs) {
    if (outCount != nullptr)
        *outCount = 0;
    if (outDescs != nullptr) {
        *outDescs = nullptr;
        COLDESC* copy = ds_ColDescAlloc(from.count);
        if (copy == nullptr)
            return ERR_MEMORY_ALLOCATION_FAILURE;
        bool ok = true;
        for (uint16_t i = 0; i < from.count; ++i) {
            copy[i] = from.items[i];
            copy[i].catalog = DupText(from.items[i].catalog, &ok);
            copy[i].schema = DupText(from.items[i].schema, &ok);
            copy[i].table = DupText(from.items[i].table, &ok);
            copy[i].label = DupText(from.items[i].label, &ok);
        }
        if (!ok) {
            ds_ColDescFree(copy, from.count);
            return ERR_MEMORY_ALLOCATION_FAILURE;
        }
        *outDescs = copy;
    }
    if (outCount != nullptr)
        *outCount = from.count;
    return 0;
}

}  // namespace

int OA_DescribeCols(uint32_t handle, uint16_t* outCount, COLDESC** outDescs) {
    const OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CopyDescs(stmt->cols, outCount, outDescs);
}

int OA_DescribeParams(uint32_t handle, uint16_t* outCount, COLDESC** outDescs) {
    const OA_STMT* stmt = oa_FindStmt(handle);
    if (stmt == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    return CopyDescs(stmt->params, outCount, outDescs);
}

int OA_NativeSql(uint32_t handle, const char* text, char* buf, int32_t bufLen, int32_t* outLen) {
    if (outLen != nullptr)
        *outLen = 0;
    if (oa_FindConn(handle) == nullptr || text == nullptr)
        return ERR_INVALID_ARGUMENT_VALUE;
    OA_SQLTEXT rec;
    if (int rc = ut_SqlTextTranslate(nullptr, &rec, text); rc != 0)
        return rc;
    return oa_CopyOut(rec.translated, buf, bufLen, outLen) ? ERR_DATA_WAS_TRUNCATED : 0;
}
