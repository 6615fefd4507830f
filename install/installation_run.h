#pragma once

// Writes every payload file over the installation while the progress window
// counts up, then merges the entry list. True when all of it succeeded.
bool RunInstallation();

// The running percentage after runDone of total bytes.
int ProgressPercent(unsigned runDone, unsigned total);
