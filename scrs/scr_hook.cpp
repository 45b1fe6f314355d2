// The cursor library's hook on the agent operation table: nothing to install yet.
#include "scrs/scr_hook.h"

OA_OPHOLDER* SCR_HookOpTable(OA_OPHOLDER* holder) {
    return holder;
}
