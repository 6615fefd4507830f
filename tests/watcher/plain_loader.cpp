// The control of the library-loading tests: a program that loads libraries
// the way a careless one does, so that the tests can show a planted or
// hostile module really runs when loaded like this; the updater must not
// behave alike.
//
//   plain_loader.exe [PATH]
//     imports comctl32.dll (so the system's search order picks it up at
//     start, from beside this program first) and, given PATH, loads that
//     module as a program library with LoadLibraryA.
//
// Prints one JSON line {"event":"loaded","ok":...,"error":...} for PATH and
// exits 0 when everything loaded.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

int main(int argc, char** argv) {
  // A static import: the loader has resolved it before main runs.
  InitCommonControls();
  if (argc < 2) return 0;
  HMODULE module = LoadLibraryA(argv[1]);
  DWORD error = module == nullptr ? GetLastError() : 0;
  std::printf("{\"event\":\"loaded\",\"ok\":%s,\"error\":%lu}\n", module != nullptr ? "true" : "false",
              static_cast<unsigned long>(error));
  std::fflush(stdout);
  if (module != nullptr) FreeLibrary(module);
  return module != nullptr ? 0 : 1;
}
