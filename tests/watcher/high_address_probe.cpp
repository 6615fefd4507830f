// Runs UpDate.exe's own checksum, decoding and verification code with every
// address below 2 GiB taken, so that whatever memory it gets lies above
// 2 GiB: a large-address-aware program must not mistake such an address for
// a negative number or an error. Each check compares its result with an
// independent one and records the lowest address it used: every block the
// platform handed out (this program is linked with the platform's allocator
// and resource lookup wrapped, see watcher.cmake), on a stack above 2 GiB.
// Prints one JSON line; exits 1 when a check fails, an address lies below
// 2 GiB or the space below 2 GiB could not be taken.
//   high_address_probe.exe NEW FRAME OLD DELTA INSTALL DAMAGED
// FRAME is NEW as one zstd frame, DELTA is NEW as a frame made against OLD;
// INSTALL is an intact installation, DAMAGED one that must fail the check.
// Before windows.h: its typedef "byte" would be shadowed by the oracle's local.
#include "tests/unit/checksum_oracle.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/zstd_stream.h"
#include "fingerprint/checksum.h"
#include "fingerprint/verification.h"
#include "install/source/delta_format.h"
#include "install/source/piece_source.h"
#include "platform/platform.h"

// The platform functions as the linker's --wrap exposes them: every call
// of the logic (and of this program) reaches the __wrap_ ones.
extern "C" {
void* __real__Z19PlatformAllocZeroedj(std::size_t size);
ResourceLookup __real__Z20PlatformFindResourceP17PlatformModuleTag12ResourceTypePKcPPKvPj(
    ModuleHandle module, ResourceType type, const char* name, const void** data, uint32_t* size);
}

namespace {

constexpr uintptr_t kTwoGiB = 0x80000000u;
constexpr uintptr_t kGranule = 0x10000;  // the system's allocation granularity
constexpr uintptr_t kNothingSeen = ~uintptr_t{0};

// The lowest address of what the platform handed the running check so far,
// and how many blocks and resources it handed: a check that was handed
// nothing would prove nothing.
uintptr_t g_lowest = kNothingSeen;
uint32_t g_blocks = 0;
uint32_t g_resources = 0;

void Note(const void* address) {
  auto value = reinterpret_cast<uintptr_t>(address);
  if (address != nullptr && value < g_lowest) g_lowest = value;
}

}  // namespace

extern "C" void* __wrap__Z19PlatformAllocZeroedj(std::size_t size) {
  void* block = __real__Z19PlatformAllocZeroedj(size);
  if (block != nullptr) ++g_blocks;
  Note(block);
  return block;
}

extern "C" ResourceLookup __wrap__Z20PlatformFindResourceP17PlatformModuleTag12ResourceTypePKcPPKvPj(
    ModuleHandle module, ResourceType type, const char* name, const void** data, uint32_t* size) {
  ResourceLookup found = __real__Z20PlatformFindResourceP17PlatformModuleTag12ResourceTypePKcPPKvPj(
      module, type, name, data, size);
  if (found == ResourceLookup::Found) {
    ++g_resources;
    Note(*data);
  }
  return found;
}

namespace {

// ---- Taking the space below 2 GiB ----

struct LowSpace {
  std::vector<void*> reservations;
  uint64_t reservedBytes = 0;
  uint64_t roomAbove = 0;  // what the system handed out above 2 GiB, and got back
  void* heapBlocks = nullptr;  // held blocks of the process heap, chained through their first word
  uint32_t heapBlockCount = 0;
};

// Reserves [start, end), both on the granularity; a range the system
// refuses whole is halved until the pieces it takes are found.
void ReserveRange(uintptr_t start, uintptr_t end, LowSpace& space) {
  if (start >= end) return;
  void* at = VirtualAlloc(reinterpret_cast<void*>(start), end - start, MEM_RESERVE, PAGE_NOACCESS);
  if (at != nullptr) {
    space.reservations.push_back(at);
    space.reservedBytes += end - start;
    return;
  }
  if (end - start <= kGranule) return;
  uintptr_t middle = start + ((end - start) / 2 & ~(kGranule - 1));
  if (middle == start) middle += kGranule;
  ReserveRange(start, middle, space);
  ReserveRange(middle, end, space);
}

// Calls visit(start, end) for each free region below 2 GiB. Address 0 asks
// VirtualAlloc for any address, so the walk starts one granule up.
template <typename Visit>
void ForEachFreeLowRegion(Visit visit) {
  uintptr_t at = kGranule;
  while (at < kTwoGiB) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == 0) break;
    uintptr_t start = reinterpret_cast<uintptr_t>(info.BaseAddress);
    uintptr_t end = start + info.RegionSize;
    if (end > kTwoGiB || end < start) end = kTwoGiB;
    if (info.State == MEM_FREE) visit(start < at ? at : start, end);
    at = end;
  }
}

// The largest free region left below 2 GiB, in bytes.
uint64_t LargestFreeLowRegion() {
  uint64_t largest = 0;
  ForEachFreeLowRegion([&](uintptr_t start, uintptr_t end) {
    if (end - start > largest) largest = end - start;
  });
  return largest;
}

// The process heap (PlatformAllocZeroed's) keeps free room below 2 GiB that
// no reservation reaches; blocks of every size are taken from it until the
// heap hands out blocks of that size from above 2 GiB only.
void DrainLowHeap(LowSpace& space) {
  HANDLE heap = GetProcessHeap();
  for (std::size_t size = 64 * 1024; size >= sizeof(void*); size -= 8) {
    for (;;) {
      void* block = HeapAlloc(heap, 0, size);
      if (block == nullptr) break;
      if (reinterpret_cast<uintptr_t>(block) >= kTwoGiB) {
        HeapFree(heap, 0, block);
        break;
      }
      *static_cast<void**>(block) = space.heapBlocks;
      space.heapBlocks = block;
      ++space.heapBlockCount;
    }
  }
}

// Wine shows much of the space below 2 GiB as reserved although it still
// hands it out (its own reserved areas), from several areas in turn, below
// and above 2 GiB: every block it hands out is taken, the largest first,
// until it has none left; then those above 2 GiB are given back.
void ReserveWhatIsHandedOut(LowSpace& space) {
  std::size_t firstNew = space.reservations.size();
  for (uintptr_t size = kTwoGiB / 2; size >= kGranule; size /= 2) {
    while (space.reservations.size() < space.reservations.capacity()) {
      void* at = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
      if (at == nullptr) break;
      space.reservations.push_back(at);
      (reinterpret_cast<uintptr_t>(at) < kTwoGiB ? space.reservedBytes : space.roomAbove) += size;
    }
  }
  std::size_t kept = firstNew;
  for (std::size_t i = firstNew; i < space.reservations.size(); ++i) {
    void* at = space.reservations[i];
    if (reinterpret_cast<uintptr_t>(at) >= kTwoGiB) {
      VirtualFree(at, 0, MEM_RELEASE);
    } else {
      space.reservations[kept++] = at;
    }
  }
  space.reservations.resize(kept);
}

// The largest block (a granule doubled) the system still hands out below
// 2 GiB when asked; 0 when it hands out none there.
uint64_t LargestHandedOutLow() {
  uint64_t largest = 0;
  for (uintptr_t size = kGranule; size <= kTwoGiB / 2; size *= 2) {
    void* at = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    if (at != nullptr) VirtualFree(at, 0, MEM_RELEASE);
    if (at == nullptr || reinterpret_cast<uintptr_t>(at) >= kTwoGiB) break;
    largest = size;
  }
  return largest;
}

void TakeLowSpace(LowSpace& space) {
  // Room for a reservation per granule of the whole 4 GiB: while the space is
  // taken, the list could not grow.
  space.reservations.reserve(std::size_t{1} << 16);
  // The walk reserves while it reads: collect the free ranges first.
  std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
  ForEachFreeLowRegion([&](uintptr_t start, uintptr_t end) { ranges.emplace_back(start, end); });
  for (const auto& range : ranges) {
    uintptr_t start = (range.first + kGranule - 1) & ~(kGranule - 1);
    uintptr_t end = range.second & ~(kGranule - 1);
    ReserveRange(start, end, space);
  }
  ReserveWhatIsHandedOut(space);
  // Without room above 2 GiB (a program not large-address-aware) the heap
  // would be drained of all it has, and the report could not be printed.
  if (space.roomAbove > 0) DrainLowHeap(space);
}

void ReleaseLowSpace(LowSpace& space) {
  while (space.heapBlocks != nullptr) {
    void* next = *static_cast<void**>(space.heapBlocks);
    HeapFree(GetProcessHeap(), 0, space.heapBlocks);
    space.heapBlocks = next;
  }
  for (void* at : space.reservations) VirtualFree(at, 0, MEM_RELEASE);
  space.reservations.clear();
}

// ---- Helpers of the checks ----

// A whole file in a block of its own; null when it cannot be read.
uint8_t* ReadWholeFile(const char* path, uint32_t* size) {
  FileHandle file = PlatformOpenFile(path, FileMode::ReadExisting);
  if (file == nullptr) return nullptr;
  uint64_t length = 0;
  uint8_t* bytes = nullptr;
  if (PlatformFileSize(file, &length) && length > 0 && length < (1u << 30)) {
    bytes = static_cast<uint8_t*>(PlatformAllocZeroed(static_cast<std::size_t>(length)));
  }
  uint32_t got = 0;
  if (bytes != nullptr && (!PlatformReadFile(file, bytes, static_cast<uint32_t>(length), &got) || got != length)) {
    PlatformFree(bytes);
    bytes = nullptr;
  }
  PlatformCloseFile(file);
  *size = got;
  return bytes;
}

bool SamePair(ChecksumPair a, ChecksumPair b) { return a.sum == b.sum && a.xorValue == b.xorValue; }

// ---- The checks ----

constexpr uint32_t kChecksumBytes = 32u << 20;
// The run's pieces: as many bytes as it decodes at a time.
constexpr std::size_t kPieceSize = 0xFFFE;

// The fast checksum over a large block, whole (from an odd start, with and
// without a window) and in uneven pieces, against the byte-at-a-time walk.
bool CheckChecksum() {
  auto* bytes = static_cast<uint8_t*>(PlatformAllocZeroed(kChecksumBytes));
  if (bytes == nullptr) return false;
  uint32_t state = 0x2545F491u;
  for (uint32_t i = 0; i < kChecksumBytes; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes[i] = static_cast<uint8_t>(state);
  }
  const uint8_t* odd = bytes + 1;
  uint32_t oddLength = kChecksumBytes - 1;
  ChecksumWindow window{true, 0x01234567u};
  bool ok = SamePair(ContentChecksum(bytes, kChecksumBytes, kNoWindow),
                     OracleChecksum(bytes, kChecksumBytes, kNoWindow)) &&
            SamePair(ContentChecksum(odd, oddLength, window), OracleChecksum(odd, oddLength, window));
  ChecksumState pieces = ChecksumBegin(window);
  for (uint32_t at = 0, step = 1; at < oddLength; at += step, step = step * 3 + 7) {
    if (step > oddLength - at) step = oddLength - at;
    ChecksumUpdate(pieces, odd + at, step);
  }
  ok = ok && SamePair(pieces.pair, OracleChecksum(odd, oddLength, window));
  PlatformFree(bytes);
  return ok;
}

void* DecoderAllocate(std::size_t size) { return PlatformAllocZeroed(size); }
const ZstdAllocator kDecoderMemory = {DecoderAllocate, PlatformFree};

// Decodes the frame in FRAME (against REFERENCE when given) in the
// program's piece size and compares the result with EXPECTED.
bool CheckDecoding(const char* expectedPath, const char* framePath, const char* referencePath,
                   unsigned windowLogMax) {
  uint32_t expectedSize = 0, frameSize = 0, referenceSize = 0;
  uint8_t* expected = ReadWholeFile(expectedPath, &expectedSize);
  uint8_t* frame = ReadWholeFile(framePath, &frameSize);
  uint8_t* reference = referencePath != nullptr ? ReadWholeFile(referencePath, &referenceSize) : nullptr;
  // One byte more than expected: a decoder that gives too much is caught.
  auto* decoded = static_cast<uint8_t*>(PlatformAllocZeroed(expectedSize + 1));
  bool ok = expected != nullptr && frame != nullptr && decoded != nullptr &&
            (referencePath == nullptr || reference != nullptr);
  ZstdFailure failure = ZstdFailure::None;
  ZstdStream* stream = ok ? ZstdOpenStream(frame, frameSize, windowLogMax, reference, referenceSize,
                                           &kDecoderMemory, &failure)
                          : nullptr;
  ok = ok && stream != nullptr;
  uint32_t total = 0;
  for (ZstdStep step = ZstdStep::Piece; ok && step == ZstdStep::Piece;) {
    std::size_t produced = 0;
    std::size_t room = expectedSize + 1 - total;
    step = ZstdNextPiece(stream, decoded + total, room < kPieceSize ? room : kPieceSize, &produced, &failure);
    total += static_cast<uint32_t>(produced);
    ok = step != ZstdStep::Failed && total <= expectedSize && (step == ZstdStep::End || produced > 0);
  }
  ok = ok && total == expectedSize && std::memcmp(decoded, expected, expectedSize) == 0;
  ZstdCloseStream(stream);
  PlatformFree(decoded);
  PlatformFree(reference);
  PlatformFree(frame);
  PlatformFree(expected);
  return ok;
}

// The installation check over an intact and a damaged installation, each
// folder's name held on this thread's stack, above 2 GiB too.
bool CheckVerification(const char* intact, const char* damaged) {
  char folder[kPathSize];
  if (std::strlen(intact) >= kPathSize || std::strlen(damaged) >= kPathSize) return false;
  std::strcpy(folder, intact);
  bool ok = VerifyInstallation(folder);
  std::strcpy(folder, damaged);
  return ok && !VerifyInstallation(folder);
}

struct Check {
  const char* name;
  bool passed;
  uintptr_t lowest;
  uint32_t blocks;
  uint32_t resources;
};

struct Run {
  char** argv;
  uintptr_t stack;
  Check checks[4];
};

template <typename Body>
Check RunCheck(const char* name, Body body) {
  g_lowest = kNothingSeen;
  g_blocks = 0;
  g_resources = 0;
  bool passed = body();
  return Check{name, passed, g_lowest, g_blocks, g_resources};
}

// Runs on a thread started after the low space was taken, so that its
// stack lies above 2 GiB as well.
DWORD WINAPI RunChecks(void* parameter) {
  Run& run = *static_cast<Run*>(parameter);
  char** argv = run.argv;
  volatile char onStack = 0;
  run.stack = reinterpret_cast<uintptr_t>(&onStack);
  run.checks[0] = RunCheck("checksum", [] { return CheckChecksum(); });
  run.checks[1] = RunCheck("decoding", [&] { return CheckDecoding(argv[1], argv[2], nullptr, kPayloadWindowLog); });
  run.checks[2] = RunCheck("delta", [&] { return CheckDecoding(argv[1], argv[4], argv[3], kDeltaWindowLogMax); });
  // The logic's own reads of the fingerprint module must have been seen.
  run.checks[3] = RunCheck("verification", [&] { return CheckVerification(argv[5], argv[6]) && g_resources > 0; });
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: high_address_probe.exe NEW FRAME OLD DELTA INSTALL DAMAGED\n");
    return 2;
  }
  LowSpace space;
  TakeLowSpace(space);
  uint64_t largestFree = LargestFreeLowRegion();
  uint64_t largestHandedOut = LargestHandedOutLow();
  // Anything of a granule or more could still be handed out below 2 GiB.
  bool lowSpaceTaken = largestFree < kGranule && largestHandedOut == 0 && space.reservedBytes > 0;

  Run run{argv, 0, {}};
  HANDLE thread = space.roomAbove > 0 ? CreateThread(nullptr, 0, RunChecks, &run, 0, nullptr) : nullptr;
  bool ran = thread != nullptr && WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
  if (thread != nullptr) CloseHandle(thread);

  bool ok = ran && lowSpaceTaken && run.stack >= kTwoGiB;
  std::printf("{\"reserved_bytes\":%llu,\"room_above_2gib\":%llu,\"largest_free_below_2gib\":%llu,\"largest_handed_out_below_2gib\":%llu,"
              "\"heap_blocks_held\":%u,\"ran\":%s,\"stack\":\"0x%08lx\"",
              static_cast<unsigned long long>(space.reservedBytes), static_cast<unsigned long long>(space.roomAbove),
              static_cast<unsigned long long>(largestFree),
              static_cast<unsigned long long>(largestHandedOut), space.heapBlockCount, ran ? "true" : "false", static_cast<unsigned long>(run.stack));
  for (const Check& check : run.checks) {
    if (check.name == nullptr) continue;
    bool high = check.lowest != kNothingSeen && check.lowest >= kTwoGiB;
    ok = ok && check.passed && high;
    std::printf(",\"%s\":{\"passed\":%s,\"lowest\":\"0x%08lx\",\"blocks\":%u,\"resources\":%u}", check.name,
                check.passed ? "true" : "false", static_cast<unsigned long>(check.lowest == kNothingSeen ? 0 : check.lowest),
                check.blocks, check.resources);
  }
  std::printf(",\"ok\":%s}\n", ok ? "true" : "false");
  ReleaseLowSpace(space);
  return ok ? 0 : 1;
}
