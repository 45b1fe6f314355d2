// The XA switch record, exported by both libraries for XA transaction managers, which
// find it by name (dlsym) and drive the driver as a resource manager through its entries
// (dtc/xa_switch.h).
#include "dtc/xa_switch.h"

// A data definition: VARNO_EXPORT's extern would make it a declaration with an initialiser.
extern "C" {
__attribute__((visibility("default"))) constinit xa_switch_t tessaryn_xa_switch = XaSwitchRecord();
}
