// The plain copy that a whole update run is measured against: the same
// bytes copied from one file to another in the same Wine prefix, read and
// written in pieces of the size the updater writes. Prints the seconds the
// copy took.
//   copy_file.exe SOURCE TARGET
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: copy_file.exe SOURCE TARGET\n");
    return 2;
  }
  std::vector<char> piece(0xFFFE);
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  HANDLE source = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE target = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE || target == INVALID_HANDLE_VALUE) return 1;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) return 1;
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(target, piece.data(), got, &written, nullptr) || written != got) return 1;
  }
  CloseHandle(source);
  CloseHandle(target);
  QueryPerformanceCounter(&end);
  std::printf("%.6f\n", static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart);
  return 0;
}
