#pragma once
#include "platform/platform.h"

// The most folders a run holds: the install folder and those on the way to
// each file it writes.
constexpr int kMostHeldFolders = 32;
// Room for a final path: the system's form adds "\\?\" and may add "UNC\".
constexpr int kFinalPathUnits = kPathSize + 16;

struct HeldFolder {
  char entry[kPathSize];  // under the install folder; empty for the folder itself
  FileHandle handle;
};

// Payload files that may travel as deltas: the first this many of the table.
constexpr int kDeltaFilesMax = 32;

// Run-time state of the one update run; reset at the start of RunUpdater.
struct UpdaterState {
  ModuleHandle instance;        // the updater's own module: payload and dialog template
  WindowHandle progressWindow;  // owner of the messages raised during the run
  bool succeeded;               // run and update record both completed
  bool repairLeftForNextStart;  // a failed switch could not put every old file back; its journal stays
  char installFolder[kPathSize];
  char appDataFolder[kPathSize];
  char caption[1024];

  // Held from before recovery to the end of the run (files/held_folders.h).
  FileHandle runLock;  // null when the lock file could not be made
  HeldFolder heldFolders[kMostHeldFolders];
  int heldFolderCount;
  uint32_t installVolume;
  bool installFinalPathKnown;  // false where the system cannot say
  char16_t installFinalPath[kFinalPathUnits];
  // Per payload entry: the number of the delta that fits the installed file,
  // 0 for the whole file.
  unsigned char chosenDelta[kDeltaFilesMax];
};

extern UpdaterState g_state;
