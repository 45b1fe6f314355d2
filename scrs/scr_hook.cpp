// The cursor library's hook on the agent operation table. It installs nothing in the
// table yet; it gives the agent's describe refinement the parameter-describe analyser.
#include "scrs/scr_hook.h"

#include <mutex>

#include "drv_pro9/oa_services.h"
#include "scrs/scr_paramdesc.h"

OA_OPHOLDER* SCR_HookOpTable(OA_OPHOLDER* holder) {
    // Once, at the first binding (library load), before any statement can be described.
    static std::once_flag installed;
    std::call_once(installed, [] { oa_Library.paramProber = SCR_ParamProber; });
    return holder;
}
