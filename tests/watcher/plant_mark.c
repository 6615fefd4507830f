/* A library planted beside a program under the name of a system library
   (comctl32.dll): the functions a program imports from there do nothing,
   and loading it leaves marker files, C:\plant_mark.txt and plant_mark.txt
   beside it, so that a test sees whether a program picked it up. */
#include "tests/leave_mark.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarks(instance, "plant_mark.txt", "the planted library was loaded\r\n");
  return TRUE;
}

/* What a program may take from comctl32.dll at start. */
__declspec(dllexport) void WINAPI InitCommonControls(void) {}

__declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void* init) {
  (void)init;
  return TRUE;
}
