#pragma once
#include "platform/platform.h"

// Payload files that may travel as deltas: the first this many of the table.
constexpr int kDeltaFilesMax = 32;

// Run-time state of the one update run; reset at the start of RunUpdater.
struct UpdaterState {
  ModuleHandle instance;        // the updater's own module: payload and dialog template
  WindowHandle progressWindow;  // owner of the messages raised during the run
  bool succeeded;               // run and update record both completed
  char installFolder[kPathSize];
  char appDataFolder[kPathSize];
  char caption[1024];
  // Per payload entry: the number of the delta that fits the installed file,
  // 0 for the whole file.
  unsigned char chosenDelta[kDeltaFilesMax];
};

extern UpdaterState g_state;
