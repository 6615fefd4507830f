// The decoding part of a compressed update's limit: the frame read into
// memory first (not timed), then decoded with the updater's own decoder and
// window bound into one piece buffer of the run's size, the pieces thrown
// away. Prints the seconds the decoding took.
//   decode_frame.exe FRAME
#include <windows.h>

#include <cstdio>
#include <vector>

#include "base/zstd_stream.h"
#include "install/source/piece_source.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: decode_frame.exe FRAME\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return 1;
  std::vector<uint8_t> frame(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  for (size_t at = 0; at < frame.size(); at += got) {
    if (!ReadFile(file, frame.data() + at, static_cast<DWORD>(frame.size() - at), &got, nullptr) || got == 0) return 1;
  }
  CloseHandle(file);

  std::vector<uint8_t> piece(0xFFFE);
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  ZstdFailure failure = ZstdFailure::None;
  ZstdStream* stream = ZstdOpenStream(frame.data(), frame.size(), kPayloadWindowLog, nullptr, 0, nullptr, &failure);
  if (stream == nullptr) return 1;
  unsigned long long decoded = 0;
  for (;;) {
    size_t produced = 0;
    ZstdStep step = ZstdNextPiece(stream, piece.data(), piece.size(), &produced, &failure);
    if (step == ZstdStep::Failed) return 1;
    decoded += produced;
    if (step == ZstdStep::End) break;
  }
  ZstdCloseStream(stream);
  QueryPerformanceCounter(&end);
  std::printf("%.6f\n", static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart);
  std::fprintf(stderr, "%llu bytes\n", decoded);
  return 0;
}
