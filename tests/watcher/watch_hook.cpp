// Loaded by Wine into the watched program through a WH_CALLWNDPROC hook that
// watcher.exe sets on the program's main thread. It writes every text the
// program gives its percentage control to the file named by the variable
// WATCH_HOOK_LOG, one line each, in UTF-8: the last percentage may stand for only a
// few milliseconds, too short for a look from outside to be sure of it.
//
// It also tells how the program ended: to the file named by WATCH_EXIT_LOG
// it writes "attach PID" when it is loaded and "exit PID" when the process
// leaves by its own exit path (ExitProcess, a return from main). A crash,
// TerminateProcess or the death of the emulator that runs the program
// detaches no module, and so leaves no "exit" line, whatever exit code the
// parent then reads.
#include <windows.h>

namespace {

constexpr int kPercentId = 1009;

void Record(const char* text, const char* variable = "WATCH_HOOK_LOG") {
  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA(variable, path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, lstrlenA(text), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

// No C runtime here: at the process's end it may already be gone.
void RecordLife(const char* what) {
  char digits[16];
  int count = 0;
  for (DWORD pid = GetCurrentProcessId(); count == 0 || pid != 0; pid /= 10) digits[count++] = '0' + pid % 10;
  char line[48];
  lstrcpyA(line, what);
  int at = lstrlenA(line);
  line[at++] = ' ';
  while (count > 0) line[at++] = digits[--count];
  line[at] = '\0';
  Record(line, "WATCH_EXIT_LOG");
}

}  // namespace

// Every process that loads the module notes itself (the watcher loads it
// too, to place the hook): the watcher reads only its program's lines.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) RecordLife("attach");
  // reserved is set when the whole process is leaving, null on FreeLibrary.
  if (reason == DLL_PROCESS_DETACH) RecordLife(reserved != nullptr ? "exit" : "unload");
  return TRUE;
}

extern "C" __declspec(dllexport) LRESULT CALLBACK WatchCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (call->message == WM_SETTEXT && call->lParam != 0 && GetDlgCtrlID(call->hwnd) == kPercentId) {
      // A Unicode hook sees the text as UTF-16 (the program sets it with the
      // "W" functions); the log holds it in UTF-8.
      wchar_t wide[64];
      lstrcpynW(wide, reinterpret_cast<const wchar_t*>(call->lParam), sizeof wide / sizeof wide[0]);
      char text[64 * 3];
      if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr) == 0) text[0] = '\0';
      Record(text);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
