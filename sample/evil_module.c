/* A fingerprint module that runs code when the system loads it as a
   program library: it leaves marker files behind. Its records are valid,
   so a loader that only checks fingerprints would be fooled; the updater
   must only ever map such a module as data, and the tests use this one to
   show that it does. */
#include <windows.h>

static void LeaveMark(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    static const char kText[] = "the fingerprint module's code ran\r\n";
    DWORD written = 0;
    WriteFile(file, kText, sizeof kText - 1, &written, NULL);
    CloseHandle(file);
  }
}

BOOL WINAPI EvilModuleEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    LeaveMark("C:\\evil_mark.txt");
    /* And beside the module, for a drive C: that cannot be written. */
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      while (length > 0 && path[length - 1] != '\\') --length;
      lstrcpyA(path + length, "evil_mark.txt");
      LeaveMark(path);
    }
  }
  return TRUE;
}
