// Library attach and detach: what the shared-library constructor and destructor (and the
// LibMain and WEP exports) run. It starts the driver globals, binds the process's agent
// holder and opens the trace; at detach it frees what the application left open and closes
// the trace. It sits above the objects, whose environments it frees.
#pragma once

// 1 when the driver globals exist afterwards; 0 (with an ERROR log line) when they could
// not be set up, and every call then answers SQL_ERROR.
int DrvAttach();
// Hands the distributed-transaction code what it uses of the driver (DTC_HOST, dtc/dtc.h):
// the installer's values, the XA trace and the connection look-up of the XA switch.
// DrvAttach does it first; it may be repeated.
void DrvInstallDtcHost();
void DrvDetach();
// Frees the environments that no call is inside, from the head of the global list, then
// clears the initialised flag and empties the tables (kept while a call is inside, which
// may still look handles up).
int DrvGlobalTerm();
