// The checksum walks the content byte by byte: every byte outside the window
// adds to the sum, and at every offset on the 4-byte grid outside the window
// the word starting there is XORed in, the missing bytes of a last partial
// word counting as zero. Both parts are linear in the bytes, so the content
// can be taken in pieces, in any split: a byte at absolute offset j adds to
// the sum unless j lies in the window [s, s+12), and lands in byte lane j % 4
// of the XOR unless the word it belongs to, starting at j rounded down to 4,
// starts inside the window, i.e. unless j lies in [ceil4(s), ceil4(s+12)).
#include "fingerprint/checksum.h"

namespace {

struct Range {
  uint64_t begin;
  uint64_t end;  // exclusive
};

uint64_t RoundUp4(uint64_t value) { return (value + 3) & ~uint64_t{3}; }

uint32_t SumBytes(const uint8_t* bytes, uint64_t count) {
  uint32_t sum = 0;
  for (uint64_t i = 0; i < count; ++i) sum += bytes[i];
  return sum;
}

// XOR of the bytes shifted into their lane by absolute offset.
uint32_t XorLanes(const uint8_t* bytes, uint64_t count, uint64_t absoluteOffset) {
  uint32_t lanes = 0;
  for (uint64_t i = 0; i < count; ++i) {
    lanes ^= static_cast<uint32_t>(bytes[i]) << (8 * ((absoluteOffset + i) & 3));
  }
  return lanes;
}

// Calls visit(bytes, count, absoluteOffset) for the parts of the piece
// [offset, offset + length) that lie outside excluded.
template <typename Visit>
void ForEachOutside(const uint8_t* bytes, uint64_t length, uint64_t offset, Range excluded, Visit visit) {
  uint64_t end = offset + length;
  uint64_t headEnd = excluded.begin < end ? excluded.begin : end;
  if (headEnd > offset) visit(bytes, headEnd - offset, offset);
  uint64_t tailBegin = excluded.end > offset ? excluded.end : offset;
  if (tailBegin < end) visit(bytes + (tailBegin - offset), end - tailBegin, tailBegin);
}

}  // namespace

ChecksumState ChecksumBegin(ChecksumWindow window) { return ChecksumState{window, 0, {0, 0}}; }

void ChecksumUpdate(ChecksumState& state, const uint8_t* bytes, uint32_t length) {
  Range sumExcluded{0, 0};
  Range xorExcluded{0, 0};
  if (state.window.present) {
    uint64_t start = state.window.start;
    sumExcluded = {start, start + 12};
    xorExcluded = {RoundUp4(start), RoundUp4(start + 12)};
  }
  ForEachOutside(bytes, length, state.offset, sumExcluded,
                 [&](const uint8_t* p, uint64_t n, uint64_t) { state.pair.sum += SumBytes(p, n); });
  ForEachOutside(bytes, length, state.offset, xorExcluded,
                 [&](const uint8_t* p, uint64_t n, uint64_t at) { state.pair.xorValue ^= XorLanes(p, n, at); });
  state.offset += length;
}

ChecksumPair ContentChecksum(const uint8_t* bytes, uint32_t length, ChecksumWindow window) {
  ChecksumState state = ChecksumBegin(window);
  ChecksumUpdate(state, bytes, length);
  return state.pair;
}
