// The system's own edit of a profile file, for the end-to-end tests to set
// beside the update record UpDate.exe writes with its own edit:
//
//   profile_probe.exe FILE SECTION KEY VALUE
//     WritePrivateProfileStringA(SECTION, KEY, VALUE, FILE)
//
// Prints one JSON line {"event":"written","ok":...,"error":...} and exits 0
// when the function succeeded.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: profile_probe.exe FILE SECTION KEY VALUE\n");
    return 2;
  }
  BOOL ok = WritePrivateProfileStringA(argv[2], argv[3], argv[4], argv[1]);
  DWORD error = ok ? 0 : GetLastError();
  // The system may keep the file's text cached; this flushes it to the disk.
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, argv[1]);
  std::printf("{\"event\":\"written\",\"ok\":%s,\"error\":%lu}\n", ok ? "true" : "false",
              static_cast<unsigned long>(error));
  std::fflush(stdout);
  return ok ? 0 : 1;
}
