// The checksum's inner loop, vectorised. The updater reads whole game files
// before it writes anything, so this runs at memory speed or the user waits.
// Both parts reduce with no carry between lanes: the byte sum through
// sum-of-absolute-differences against zero into 64-bit lanes, the XOR
// through plain XOR of whole vectors, whose 4-byte groups are folded at the
// end. The vector loop starts on the file's 4-byte grid, so every 4-byte
// group of a vector lines up with the words of the file.
#include "fingerprint/checksum_kernel.h"

#include <immintrin.h>

namespace {

constexpr std::size_t kAlignedHead = 4;

RangeChecksum Combine(RangeChecksum a, RangeChecksum b) { return {a.sum + b.sum, a.lanes ^ b.lanes}; }

// Two chains of each kind and two vectors in flight: enough to keep the
// vector units busy, and few enough registers for the 32-bit program, which
// has only eight.
__attribute__((target("avx2"))) RangeChecksum GridRangeAvx2(const uint8_t* bytes, std::size_t count) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i s0 = zero, s1 = zero, x0 = zero, x1 = zero;
  std::size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    const __m256i* p = reinterpret_cast<const __m256i*>(bytes + i);
    __m256i a = _mm256_loadu_si256(p);
    __m256i b = _mm256_loadu_si256(p + 1);
    s0 = _mm256_add_epi64(s0, _mm256_sad_epu8(a, zero));
    s1 = _mm256_add_epi64(s1, _mm256_sad_epu8(b, zero));
    x0 = _mm256_xor_si256(x0, a);
    x1 = _mm256_xor_si256(x1, b);
  }
  alignas(32) uint64_t sums[4];
  alignas(32) uint32_t lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(sums), _mm256_add_epi64(s0, s1));
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_xor_si256(x0, x1));
  RangeChecksum r{static_cast<uint32_t>(sums[0] + sums[1] + sums[2] + sums[3]), 0};
  for (uint32_t lane : lanes) r.lanes ^= lane;
  return Combine(r, ChecksumRangeScalar(bytes + i, count - i, 0));
}

__attribute__((target("sse2"))) RangeChecksum GridRangeSse2(const uint8_t* bytes, std::size_t count) {
  const __m128i zero = _mm_setzero_si128();
  __m128i s0 = zero, s1 = zero, x0 = zero, x1 = zero;
  std::size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    const __m128i* p = reinterpret_cast<const __m128i*>(bytes + i);
    __m128i a = _mm_loadu_si128(p);
    __m128i b = _mm_loadu_si128(p + 1);
    s0 = _mm_add_epi64(s0, _mm_sad_epu8(a, zero));
    s1 = _mm_add_epi64(s1, _mm_sad_epu8(b, zero));
    x0 = _mm_xor_si128(x0, a);
    x1 = _mm_xor_si128(x1, b);
  }
  alignas(16) uint64_t sums[2];
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(sums), _mm_add_epi64(s0, s1));
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_xor_si128(x0, x1));
  RangeChecksum r{static_cast<uint32_t>(sums[0] + sums[1]), lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3]};
  return Combine(r, ChecksumRangeScalar(bytes + i, count - i, 0));
}

RangeChecksum GridRangeScalar(const uint8_t* bytes, std::size_t count) { return ChecksumRangeScalar(bytes, count, 0); }

using GridRange = RangeChecksum (*)(const uint8_t*, std::size_t);

GridRange GridRangeOf(ChecksumKernel kernel) {
  switch (kernel) {
    case ChecksumKernel::Avx2:
      return GridRangeAvx2;
    case ChecksumKernel::Sse2:
      return GridRangeSse2;
    case ChecksumKernel::Scalar:
      break;
  }
  return GridRangeScalar;
}

ChecksumKernel FastestKernel() {
  if (ChecksumKernelAvailable(ChecksumKernel::Avx2)) return ChecksumKernel::Avx2;
  if (ChecksumKernelAvailable(ChecksumKernel::Sse2)) return ChecksumKernel::Sse2;
  return ChecksumKernel::Scalar;
}

}  // namespace

bool ChecksumKernelAvailable(ChecksumKernel kernel) {
  __builtin_cpu_init();
  switch (kernel) {
    case ChecksumKernel::Avx2:
      return __builtin_cpu_supports("avx2");
    case ChecksumKernel::Sse2:
      return __builtin_cpu_supports("sse2");
    case ChecksumKernel::Scalar:
      break;
  }
  return true;
}

RangeChecksum ChecksumRangeScalar(const uint8_t* bytes, std::size_t count, uint64_t absoluteOffset) {
  RangeChecksum r{0, 0};
  for (std::size_t i = 0; i < count; ++i) {
    r.sum += bytes[i];
    r.lanes ^= static_cast<uint32_t>(bytes[i]) << (8 * ((absoluteOffset + i) & 3));
  }
  return r;
}

RangeChecksum ChecksumRangeUsing(ChecksumKernel kernel, const uint8_t* bytes, std::size_t count,
                                 uint64_t absoluteOffset) {
  std::size_t head = static_cast<std::size_t>((kAlignedHead - (absoluteOffset & 3)) & 3);
  if (head > count) head = count;
  RangeChecksum r = ChecksumRangeScalar(bytes, head, absoluteOffset);
  return Combine(r, GridRangeOf(kernel)(bytes + head, count - head));
}

RangeChecksum ChecksumRange(const uint8_t* bytes, std::size_t count, uint64_t absoluteOffset) {
  static const ChecksumKernel fastest = FastestKernel();
  return ChecksumRangeUsing(fastest, bytes, count, absoluteOffset);
}
