/* For the test fixtures that must show whether their code ran: leaves a
   marker file named `name` in C:\ and beside the module, for a drive C:
   that cannot be written. Called from a DLL's entry point. */
#pragma once
#include <windows.h>

static void LeaveMarkAt(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text, (DWORD)lstrlenA(text), &written, NULL);
    CloseHandle(file);
  }
}

static void LeaveMarks(HINSTANCE module, const char* name, const char* text) {
  char path[MAX_PATH + 16];
  lstrcpyA(path, "C:\\");
  lstrcatA(path, name);
  LeaveMarkAt(path, text);
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    while (length > 0 && path[length - 1] != '\\') --length;
    lstrcpyA(path + length, name);
    LeaveMarkAt(path, text);
  }
}
