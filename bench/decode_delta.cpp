// The decoding part of a delta update's limit, and its memory: the delta
// read into memory first (not timed), the reference mapped read-only as the
// run maps the installed file, then the frame decoded with the updater's own
// decoder, the delta window bound and the reference as prefix, into one piece
// buffer of the run's size, the pieces thrown away. Prints, as one line of
// JSON, the seconds the decoding took, the peak private memory as the system
// counts it, and the address space while the decoder holds its window and
// the reference is mapped: reserved or committed in all, committed private
// memory, mapped files, and the largest free block.
//   decode_delta.exe REFERENCE DELTA
// DELTA is a delta resource as the build makes it (header, then the frame).
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <vector>

#include "base/zstd_stream.h"
#include "install/source/delta_format.h"

namespace {

// The 32-bit address space as the process sees it: what is reserved or
// committed, of it the committed private memory and the mapped files, and
// the largest free block left.
struct AddressSpace {
  unsigned long long used, privateCommitted, mapped, largestFree;
};

AddressSpace LookAtAddressSpace() {
  AddressSpace space{};
  MEMORY_BASIC_INFORMATION info;
  for (const char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;) {
    if (info.State == MEM_FREE) {
      if (info.RegionSize > space.largestFree) space.largestFree = info.RegionSize;
    } else {
      space.used += info.RegionSize;
      if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) space.privateCommitted += info.RegionSize;
      if (info.State == MEM_COMMIT && info.Type == MEM_MAPPED) space.mapped += info.RegionSize;
    }
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return space;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: decode_delta.exe REFERENCE DELTA\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size)) return 1;
  std::vector<uint8_t> delta(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  for (size_t at = 0; at < delta.size(); at += got) {
    if (!ReadFile(file, delta.data() + at, static_cast<DWORD>(delta.size() - at), &got, nullptr) || got == 0) return 1;
  }
  CloseHandle(file);
  DeltaReference expected{};
  if (!ReadDeltaHeader(delta.data(), delta.size(), &expected)) return 1;

  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  HANDLE reference = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (reference == INVALID_HANDLE_VALUE) return 1;
  HANDLE mapping = CreateFileMappingA(reference, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (view == nullptr) return 1;
  std::vector<uint8_t> piece(0xFFFE);
  ZstdFailure failure = ZstdFailure::None;
  ZstdStream* stream = ZstdOpenStream(delta.data() + kDeltaHeaderSize, delta.size() - kDeltaHeaderSize,
                                      kDeltaWindowLogMax, static_cast<const uint8_t*>(view),
                                      static_cast<size_t>(expected.size), nullptr, &failure);
  if (stream == nullptr) return 1;
  unsigned long long decoded = 0;
  AddressSpace space{};
  for (;;) {
    size_t produced = 0;
    ZstdStep step = ZstdNextPiece(stream, piece.data(), piece.size(), &produced, &failure);
    if (step == ZstdStep::Failed) return 1;
    // After the first piece the decoder holds its window beside the mapping.
    if (decoded == 0) space = LookAtAddressSpace();
    decoded += produced;
    if (step == ZstdStep::End) break;
  }
  ZstdCloseStream(stream);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  CloseHandle(reference);
  QueryPerformanceCounter(&end);
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  std::printf("{\"seconds\":%.6f,\"decoded\":%llu,\"peak_private\":%lu,\"address_space\":%llu,"
              "\"private_committed\":%llu,\"mapped\":%llu,\"largest_free\":%llu}\n",
              static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart, decoded,
              static_cast<unsigned long>(counters.PeakPagefileUsage), space.used, space.privateCommitted,
              space.mapped, space.largestFree);
  return 0;
}
