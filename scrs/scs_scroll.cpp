// Scroll positioning and the rowset fetch by cursor type (scrs/scs_scroll.h). Not built
// yet: nothing scrolls.
#include "scrs/scs_scroll.h"

#include "util/errcode.h"

int scs_ScrollPosition(SCS_CURSOR*, uint16_t, int32_t, uint32_t* rowsFetched) {
    if (rowsFetched != nullptr)
        *rowsFetched = 0;
    return ERR_DRIVER_NOT_CAPABLE;
}
int scs_FetchDispatch(SCS_CURSOR*, uint16_t, int32_t, uint32_t* rowsFetched) {
    if (rowsFetched != nullptr)
        *rowsFetched = 0;
    return ERR_DRIVER_NOT_CAPABLE;
}
int32_t scs_p_RowsetStart(uint16_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t* target) {
    *target = 0;
    return SCS_CLASS_FORWARD;
}
int32_t scs_p_RowsetClass(int32_t, int32_t, int32_t, int32_t) { return SCS_CLASS_FORWARD; }
int scs_p_StaticFetch(SCS_STMT*, DS_ROWSET*, int32_t) { return ERR_DRIVER_NOT_CAPABLE; }
int scs_p_FillStatic(SCS_STMT*) { return ERR_DRIVER_NOT_CAPABLE; }
