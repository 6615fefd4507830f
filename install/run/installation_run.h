#pragma once
#include "install/run/run_progress.h"

// Writes every payload file beside its target, reporting the percentage after
// every piece, then the merged entry list; proves the new set with the
// installation's own check and switches it in. True when all of it
// succeeded; on false the installation is as it was.
bool RunInstallation(ProgressReport report);
