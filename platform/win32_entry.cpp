// The program's entry: make library loading safe, register the progress bar
// class, then run the update.
#include <windows.h>
#include <commctrl.h>

#include "app/run_updater.h"

namespace {

// An updater is often started from a downloads folder where anyone may have
// dropped a DLL: libraries come from the system folder only.
void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, name);
  return LoadLibraryA(path);
}

// The progress window's template names the progress bar class, which exists
// only once the common controls are initialised. Their library is not
// imported, so that it can only ever come from the system folder.
void RegisterProgressBarClass() {
  HMODULE controls = LoadSystemLibrary("comctl32.dll");
  if (controls == nullptr) return;
  using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto initEx = reinterpret_cast<InitExFn>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
  if (initEx != nullptr) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS};
    if (initEx(&init)) return;
  }
  using InitFn = void(WINAPI*)();
  auto initOld = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControls")));
  if (initOld != nullptr) initOld();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  RestrictLibrarySearch();
  RegisterProgressBarClass();
  return RunUpdater(reinterpret_cast<ModuleHandle>(instance), showCommand);
}
