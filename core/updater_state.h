#pragma once
#include "platform/platform.h"

// Run-time state of the one update run; reset at the start of RunUpdater.
struct UpdaterState {
  ModuleHandle instance;        // the updater's own module: payload and dialog template
  WindowHandle progressWindow;  // owner of the messages raised during the run
  bool succeeded;               // run and update record both completed
  char installFolder[kPathSize];
  char appDataFolder[kPathSize];
  char caption[1024];
};

extern UpdaterState g_state;
