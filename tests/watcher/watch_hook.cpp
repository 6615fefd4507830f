// Loaded by Wine into the watched program through a WH_CALLWNDPROC hook that
// watcher.exe sets on the program's main thread. It writes every text the
// program gives its percentage control to the file named by the variable
// WATCH_HOOK_LOG, one line each, in UTF-8: the last percentage may stand for only a
// few milliseconds, too short for a look from outside to be sure of it.
#include <windows.h>

namespace {

constexpr int kPercentId = 1009;

void Record(const char* text) {
  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("WATCH_HOOK_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, lstrlenA(text), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

}  // namespace

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
