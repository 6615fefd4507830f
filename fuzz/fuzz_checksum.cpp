// The fast checksum (vector kernels, window taken back out, content read in
// pieces) must give exactly what the plain byte walk gives, for any content,
// any split and any window, including windows past the data and near 2^32.
#include <memory>
#include <vector>

#include "fingerprint/checksum.h"
#include "fingerprint/checksum_kernel.h"
#include "fuzz/fuzz_support.h"
#include "tests/unit/checksum_oracle.h"

namespace {

constexpr int kMostPieces = 8;

ChecksumWindow PickWindow(FuzzInput& in, uint32_t length) {
  uint8_t mode = in.Byte();
  uint32_t value = in.Word();
  ChecksumWindow window{(mode & 1) != 0, 0};
  switch ((mode >> 1) & 3) {
    case 0:
      window.start = value;
      break;
    case 1:  // inside the data or just past it
      window.start = value % (length + 16);
      break;
    case 2:  // where start + 12 no longer fits 32 bits
      window.start = 0xFFFFFFFFu - value % 32;
      break;
    default:  // around the end of the data
      window.start = length + value % 24 - 12;
      break;
  }
  return window;
}

uint64_t PickOffset(FuzzInput& in) {
  uint8_t mode = in.Byte();
  uint64_t value = in.Word();
  switch (mode & 3) {
    case 0:
      return value & 63;
    case 1:
      return 0xFFFFFFFFull - (value & 63);  // across 2^32
    case 2:
      return value | uint64_t{in.Word()} << 32;
    default:
      return value;
  }
}

void CheckKernels(const uint8_t* bytes, uint32_t length, uint64_t offset) {
  // A byte at absolute offset j lands in lane j % 4: the same as the oracle
  // over the data behind offset % 4 zero bytes, which add nothing.
  std::vector<uint8_t> shifted(offset & 3, 0);
  shifted.insert(shifted.end(), bytes, bytes + length);
  ChecksumPair expected = OracleChecksum(shifted.data(), static_cast<uint32_t>(shifted.size()), kNoWindow);
  for (ChecksumKernel kernel : kAllChecksumKernels) {
    if (!ChecksumKernelAvailable(kernel)) continue;
    RangeChecksum got = ChecksumRangeUsing(kernel, bytes, length, offset);
    if (got.sum != expected.sum || got.lanes != expected.xorValue) {
      std::fprintf(stderr, "kernel %d, length %u, offset %llu: %08x %08x, expected %08x %08x\n",
                   static_cast<int>(kernel), length, static_cast<unsigned long long>(offset), got.sum, got.lanes,
                   expected.sum, expected.xorValue);
      std::abort();
    }
  }
  RangeChecksum dispatched = ChecksumRange(bytes, length, offset);
  FUZZ_CHECK(dispatched.sum == expected.sum && dispatched.lanes == expected.xorValue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  uint8_t pieceCount = in.Byte() % (kMostPieces + 1);
  uint32_t cuts[kMostPieces];
  for (uint32_t& cut : cuts) cut = in.Word();
  ChecksumWindow window = PickWindow(in, static_cast<uint32_t>(in.restSize()));
  uint64_t kernelOffset = PickOffset(in);

  // An exact-size copy, so that a vector load past the end is caught.
  const uint32_t length = static_cast<uint32_t>(in.restSize());
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[length == 0 ? 1 : length]);
  if (length > 0) std::memcpy(bytes.get(), in.rest(), length);

  ChecksumPair expected = OracleChecksum(bytes.get(), length, window);
  ChecksumPair whole = ContentChecksum(bytes.get(), length, window);
  if (whole.sum != expected.sum || whole.xorValue != expected.xorValue) {
    std::fprintf(stderr, "whole: length %u, window %d at %u: %08x %08x, expected %08x %08x\n", length,
                 window.present, window.start, whole.sum, whole.xorValue, expected.sum, expected.xorValue);
    std::abort();
  }

  ChecksumState state = ChecksumBegin(window);
  uint32_t done = 0;
  for (int i = 0; i < pieceCount; ++i) {
    uint32_t piece = cuts[i] % (length - done + 1);
    // Each piece in its own exact-size buffer, for the same reason.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[piece == 0 ? 1 : piece]);
    if (piece > 0) std::memcpy(copy.get(), bytes.get() + done, piece);
    ChecksumUpdate(state, copy.get(), piece);
    done += piece;
  }
  ChecksumUpdate(state, bytes.get() + done, length - done);
  FUZZ_CHECK(state.offset == length);
  if (state.pair.sum != expected.sum || state.pair.xorValue != expected.xorValue) {
    std::fprintf(stderr, "pieces: length %u, window %d at %u: %08x %08x, expected %08x %08x\n", length,
                 window.present, window.start, state.pair.sum, state.pair.xorValue, expected.sum, expected.xorValue);
    std::abort();
  }

  CheckKernels(bytes.get(), length, kernelOffset);
  return 0;
}
