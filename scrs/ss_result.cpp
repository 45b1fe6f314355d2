// The static result set (scrs/ss_result.h). Not built yet: every operation refuses.
#include "scrs/ss_result.h"

#include "util/errcode.h"

int SS_Alloc(SS_RESULT** out) {
    if (out != nullptr)
        *out = nullptr;
    return ERR_GENERAL_ERROR;
}
void SS_Close(SS_RESULT*) {}
void SS_Free(SS_RESULT** slot) {
    if (slot != nullptr)
        *slot = nullptr;
}
int SS_GetRsltSet(SS_RESULT*, const OA_OPTABLE*, uint32_t, int32_t* rowCount) {
    if (rowCount != nullptr)
        *rowCount = 0;
    return ERR_GENERAL_ERROR;
}
int SS_FetchRowset(SS_RESULT*, int32_t, int32_t, DATASET**) { return ERR_GENERAL_ERROR; }
