// The program's entry under Windows: prepare the process, then run the update.
#include <windows.h>

#include "app/run_updater.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  PlatformPrepareProcess();
  return RunUpdater(reinterpret_cast<ModuleHandle>(instance), showCommand);
}
