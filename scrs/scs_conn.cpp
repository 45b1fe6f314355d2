// The cursor library's bookkeeping of agent connections.
#include "scrs/scs_conn.h"

int scs_ConnectBookkeeping(uint32_t, const OA_CONNREQ*, uint32_t) { return 0; }

int scs_DisconnectBookkeeping(uint32_t) { return 0; }
