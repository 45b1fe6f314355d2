// The cursor library's hook on the agent operation table.
//
// The ODBC side binds every holder to the agent's table (the process-wide one at library
// load, and one per connection open) and then hands it to SCR_HookOpTable
// (DrvBindOpTable, driver/frame/globals.h). The first call copies the 66 slots of the
// holder's table into the library table, keeps a holder of its own that goes on pointing
// at the agent's table (the agent holder: every override reaches the agent through it
// alone), writes the library's overrides into its copy and installs the library's
// back-calls (oa_Library: the parameter-describe analyser, the positioned operation run
// from the agent's data at execution, the completion of rewritten select lists). Every
// call then points the holder it is given at the library table. The agent never calls
// the hook.
#pragma once

#include "drv_pro9/oa_optable.h"

// Given a holder bound to the agent's table, returns the same holder pointing at the
// library table. A null holder is returned as it is (the set-up still runs once, over the
// agent's own table).
OA_OPHOLDER* SCR_HookOpTable(OA_OPHOLDER* holder);

// The library table, null before the hook's first call.
const OA_OPTABLE* SCR_LibraryTable();
// The holder through which the library reaches the agent.
const OA_OPHOLDER* SCR_AgentHolder();
// Fills out with the agent table's 66 slots, then the library's overrides over them.
void SCR_BuildLibraryTable(const OA_OPTABLE* agent, OA_OPTABLE* out);

// Test seam: the agent holder points at table (a recording or scripted table put between
// the library and the agent) from now on; returns the table it pointed at, to be given
// back the same way. Only while no other thread runs through the library.
const OA_OPTABLE* SCR_SetAgentTable(const OA_OPTABLE* table);
