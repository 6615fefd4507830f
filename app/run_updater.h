#pragma once
#include "platform/platform.h"

// The program: runs one update and returns the process exit code.
//   0  answered No or Cancel, update finished, or update aborted
//   1  the installation was not found
//   2  the installation does not match its fingerprints
int RunUpdater(ModuleHandle instance, int showCommand);
