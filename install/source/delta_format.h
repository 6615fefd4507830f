#pragma once
// A delta travels as one payload resource, named after its file's resource
// and its number ("LMH.EXE$1"): a header that identifies the installed file
// it applies to, then one zstd frame made against that file's bytes.
#include <cstddef>
#include <cstdint>

#include "fingerprint/checksum.h"

// Payload names never hold it, so a delta's name never meets a file's; the
// resource compiler takes it in a name without quotes.
constexpr char kDeltaNameSeparator = '$';
constexpr std::size_t kDeltaHeaderSize = 32;

// The run maps the installed file and holds the decoder's window, as large
// as the new file, in a 32-bit address space: neither may be larger. Under
// Wine a 32-bit process finds about 500 MiB free for both together, so
// 192 MiB each leaves room for the updater's own image. The build refuses a
// delta beyond it (tools/update_deltas.py says the same).
constexpr uint64_t kDeltaFileLimit = uint64_t{192} << 20;
// A delta's frame keeps its whole content as its window: 2^28 covers the limit.
constexpr unsigned kDeltaWindowLogMax = 28;
static_assert(kDeltaFileLimit <= uint64_t{1} << kDeltaWindowLogMax, "the window bound covers the file limit");

// The installed file a delta applies to: all three must match.
struct DeltaReference {
  uint64_t size;
  ChecksumPair pair;  // the updater's own checksum, without a window
  uint64_t hash;      // XXH64 of the whole content, seed 0
};

// False when bytes do not start with a delta's header.
bool ReadDeltaHeader(const uint8_t* bytes, std::size_t size, DeltaReference* reference);
void WriteDeltaHeader(const DeltaReference& reference, uint8_t (&header)[kDeltaHeaderSize]);

// "<payload resource name>$<number>" of the delta of entry's file, false
// when it does not fit.
bool FormDeltaName(const char* entry, int number, char (&name)[64]);
