/* A fingerprint module that runs code when the system loads it as a
   program library: it leaves marker files behind. Its records are valid,
   so a loader that only checks fingerprints would be fooled; the updater
   must only ever map such a module as data, and the tests use this one to
   show that it does. */
#include "tests/leave_mark.h"

BOOL WINAPI EvilModuleEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) LeaveMarks(instance, "evil_mark.txt", "the fingerprint module's code ran\r\n");
  return TRUE;
}
