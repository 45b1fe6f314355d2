// The cursor library's hook on the agent operation table.
//
// The ODBC side binds every holder to the agent's table (the process-wide one at library
// load, and one per connection open) and then hands it to SCR_HookOpTable
// (DrvBindOpTable, driver/frame/globals.h), through which the cursor library puts its own
// copy of the table in front of the agent's. The agent never calls the hook. Until the
// cursor library exists the hook installs nothing in the table (the holder keeps the
// agent's); its first call installs the parameter-describe analyser as the agent's
// oa_ParamProber.
#pragma once

#include "drv_pro9/oa_optable.h"

// Given a holder bound to the agent's table; returns the same holder.
OA_OPHOLDER* SCR_HookOpTable(OA_OPHOLDER* holder);
