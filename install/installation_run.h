#pragma once

// Told the run's percentage after every piece written.
using ProgressReport = void (*)(int percent);

// Writes every payload file over the installation, reporting the percentage
// after every piece, then merges the entry list. True when all of it
// succeeded.
bool RunInstallation(ProgressReport report);

// The running percentage after runDone of total bytes.
int ProgressPercent(unsigned runDone, unsigned total);
