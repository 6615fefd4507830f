#pragma once

// Writes every payload file beside its target while the progress window
// counts up, then the merged entry list; proves the new set with the
// installation's own check and switches it in. True when all of it
// succeeded; on false the installation is as it was.
bool RunInstallation();

// The running percentage after runDone of total bytes.
int ProgressPercent(unsigned runDone, unsigned total);
