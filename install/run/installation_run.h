#pragma once
#include "install/run/run_progress.h"

// Writes every payload file beside its target, reporting the percentage after
// every piece, then the merged entry list; proves the new set with the
// installation's own check and switches it in. True when all of it
// succeeded; on false the installation is as it was, unless the switch could
// not put every old file back (g_state.repairLeftForNextStart): then its
// journal tells the next start how to finish the repair.
bool RunInstallation(ProgressReport report);
