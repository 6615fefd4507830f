// The copies that a whole update run is measured against: the same bytes
// copied from one file to another in the same Wine prefix, read and written
// in pieces of the size the updater writes; --durable flushes the copy to the
// disk before closing it, as the update does before it switches files in.
// Prints the seconds the copy took. --read only reads SOURCE in those
// pieces, as the proof of a new set reads it once. --durable-every BYTES
// flushes each time BYTES more were written, and at the end, as the update
// flushes a new file in slices; it prints the seconds the copy took and the
// seconds of its longest flush.
//   copy_file.exe [--durable] SOURCE TARGET
//   copy_file.exe --durable-every BYTES SOURCE TARGET
//   copy_file.exe --read SOURCE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to, const LARGE_INTEGER& frequency) {
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Flushes target, keeping the longest flush seen.
bool TimedFlush(HANDLE target, const LARGE_INTEGER& frequency, double* longest) {
  LARGE_INTEGER begin, end;
  QueryPerformanceCounter(&begin);
  bool ok = FlushFileBuffers(target) != FALSE;
  QueryPerformanceCounter(&end);
  if (Seconds(begin, end, frequency) > *longest) *longest = Seconds(begin, end, frequency);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool durable = argc == 4 && std::strcmp(argv[1], "--durable") == 0;
  bool sliced = argc == 5 && std::strcmp(argv[1], "--durable-every") == 0;
  bool readOnly = argc == 3 && std::strcmp(argv[1], "--read") == 0;
  if (argc != 3 && !durable && !sliced) {
    std::fprintf(stderr, "usage: copy_file.exe [--durable | --durable-every BYTES] SOURCE TARGET\n"
                         "       copy_file.exe --read SOURCE\n");
    return 2;
  }
  const unsigned long slice = sliced ? std::strtoul(argv[2], nullptr, 10) : 0;
  if (sliced && slice == 0) return 2;
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
  double longestFlush = 0;
  unsigned long unflushed = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr)) return 1;
    if (got == 0) break;
    if (readOnly) continue;
    DWORD written = 0;
    if (!WriteFile(target, piece.data(), got, &written, nullptr) || written != got) return 1;
    unflushed += got;
    if (sliced && unflushed >= slice) {
      if (!TimedFlush(target, frequency, &longestFlush)) return 1;
      unflushed = 0;
    }
  }
  if ((durable || sliced) && !TimedFlush(target, frequency, &longestFlush)) return 1;
  CloseHandle(source);
  if (!readOnly) CloseHandle(target);
  QueryPerformanceCounter(&end);
  if (sliced) {
    std::printf("%.6f %.6f\n", Seconds(begin, end, frequency), longestFlush);
  } else {
    std::printf("%.6f\n", Seconds(begin, end, frequency));
  }
  return 0;
}
