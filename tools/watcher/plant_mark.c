/* A library planted beside a program under the name of a system library
   (comctl32.dll): the functions a program imports from there do nothing,
   and loading it leaves marker files, C:\plant_mark.txt and plant_mark.txt
   beside it, so that a test sees whether a program picked it up. */
#include <windows.h>

static void LeaveMark(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    static const char kText[] = "the planted library was loaded\r\n";
    DWORD written = 0;
    WriteFile(file, kText, sizeof kText - 1, &written, NULL);
    CloseHandle(file);
  }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    LeaveMark("C:\\plant_mark.txt");
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      while (length > 0 && path[length - 1] != '\\') --length;
      lstrcpyA(path + length, "plant_mark.txt");
      LeaveMark(path);
    }
  }
  return TRUE;
}

/* What a program may take from comctl32.dll at start. */
__declspec(dllexport) void WINAPI InitCommonControls(void) {}

__declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void* init) {
  (void)init;
  return TRUE;
}
