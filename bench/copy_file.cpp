// The copies that a whole update run is measured against: the same bytes
// copied from one file to another in the same Wine prefix, read and written
// in pieces of the size the updater writes; --durable flushes the copy to the
// disk before closing it, as the update does before it switches files in.
// Prints the seconds the copy took. --read only reads SOURCE in those
// pieces, as the proof of a new set reads it once.
//   copy_file.exe [--durable] SOURCE TARGET
//   copy_file.exe --read SOURCE
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  bool durable = argc == 4 && std::strcmp(argv[1], "--durable") == 0;
  bool readOnly = argc == 3 && std::strcmp(argv[1], "--read") == 0;
  if (argc != 3 && !durable) {
    std::fprintf(stderr, "usage: copy_file.exe [--durable] SOURCE TARGET\n");
    return 2;
  }
  const char* sourcePath = readOnly ? argv[2] : argv[argc - 2];
  const char* targetPath = argv[argc - 1];
  std::vector<char> piece(0xFFFE);
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  HANDLE source = CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE target = readOnly ? nullptr
                           : CreateFileA(targetPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source == INVALID_HANDLE_VALUE || target == INVALID_HANDLE_VALUE) return 1;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) return 1;
    if (got == 0) break;
    if (readOnly) continue;
    DWORD written = 0;
    if (!WriteFile(target, piece.data(), got, &written, nullptr) || written != got) return 1;
  }
  if (durable && !FlushFileBuffers(target)) return 1;
  CloseHandle(source);
  if (!readOnly) CloseHandle(target);
  QueryPerformanceCounter(&end);
  std::printf("%.6f\n", static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart);
  return 0;
}
