// The checksum walks the content byte by byte: every byte outside the window
// adds to the sum, and at every offset on the 4-byte grid outside the window
// the word starting there is XORed in, the missing bytes of a last partial
// word counting as zero. Both parts are linear in the bytes, so the content
// can be taken in pieces, in any split: a byte at absolute offset j adds to
// the sum unless j lies in the window [s, s+12), and lands in byte lane j % 4
// of the XOR unless the word it belongs to, starting at j rounded down to 4,
// starts inside the window, i.e. unless j lies in [ceil4(s), ceil4(s+12)).
#include "fingerprint/checksum.h"

#include "fingerprint/checksum_kernel.h"
#include "fingerprint/fingerprint_format.h"

namespace {

struct Range {
  uint64_t begin;
  uint64_t end;  // exclusive
};

uint64_t RoundUp4(uint64_t value) { return (value + 3) & ~uint64_t{3}; }

// The part of the piece [offset, offset + length) that lies in range.
bool Overlap(uint64_t offset, uint64_t length, Range range, Range* part) {
  part->begin = range.begin > offset ? range.begin : offset;
  part->end = range.end < offset + length ? range.end : offset + length;
  return part->begin < part->end;
}

}  // namespace

ChecksumState ChecksumBegin(ChecksumWindow window) { return ChecksumState{window, 0, {0, 0}}; }

void ChecksumUpdate(ChecksumState& state, const uint8_t* bytes, uint32_t length) {
  // One pass over the whole piece, then the few window bytes taken back out:
  // reading the data once is what keeps this at memory speed.
  RangeChecksum all = ChecksumRange(bytes, length, state.offset);
  state.pair.sum += all.sum;
  state.pair.xorValue ^= all.lanes;
  if (state.window.present) {
    uint64_t start = state.window.start;
    Range part{};
    if (Overlap(state.offset, length, {start, start + kChecksumWindowSize}, &part)) {
      state.pair.sum -= ChecksumRangeScalar(bytes + (part.begin - state.offset), part.end - part.begin, part.begin).sum;
    }
    if (Overlap(state.offset, length, {RoundUp4(start), RoundUp4(start + kChecksumWindowSize)}, &part)) {
      state.pair.xorValue ^=
          ChecksumRangeScalar(bytes + (part.begin - state.offset), part.end - part.begin, part.begin).lanes;
    }
  }
  state.offset += length;
}

ChecksumPair ContentChecksum(const uint8_t* bytes, uint32_t length, ChecksumWindow window) {
  ChecksumState state = ChecksumBegin(window);
  ChecksumUpdate(state, bytes, length);
  return state.pair;
}
