// Prints the peak memory of the process that owns the top-level window with
// the given title: the benchmark asks it of UpDate.exe while it waits at its
// confirmation, after it has verified the installation.
//   process_memory.exe TITLE
#include <windows.h>
#include <psapi.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: process_memory.exe TITLE\n");
    return 2;
  }
  HWND window = FindWindowA(nullptr, argv[1]);
  if (window == nullptr) return 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) return 1;
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  BOOL ok = GetProcessMemoryInfo(process, &counters, sizeof counters);
  CloseHandle(process);
  if (!ok) return 1;
  std::printf("{\"peak_working_set\":%lu,\"peak_private\":%lu}\n",
              static_cast<unsigned long>(counters.PeakWorkingSetSize),
              static_cast<unsigned long>(counters.PeakPagefileUsage));
  return 0;
}
