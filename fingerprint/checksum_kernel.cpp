// The checksum's inner loop, vectorised. The updater reads whole game files
// before it writes anything, so this runs at memory speed or the user waits.
// Both parts reduce with no carry between lanes: the byte sum through
// sum-of-absolute-differences against zero into 64-bit lanes, the XOR
// through plain XOR of whole vectors, whose 4-byte groups are folded at the
// end. The vector loops read whole cache lines: they start on a 64-byte
// boundary of memory, wherever that falls in the file, and the folded XOR is
// then rotated by the start's place on the file's 4-byte grid, which moves
// each byte into the lane its word gives it. Where the processor has it,
// the byte sum is a dot product with a vector of ones into 32-bit lanes
// instead: one instruction per 64 bytes, and lanes that wrap modulo 2^32
// still add up to the right sum modulo 2^32.
#include "fingerprint/checksum_kernel.h"

#include <immintrin.h>

namespace {

// A load that straddles two cache lines costs two; the wide loops would pay
// that on every vector of a buffer that is merely 8- or 16-byte aligned.
constexpr uintptr_t kLineSize = 64;

uint32_t RotateLeft(uint32_t value, unsigned bits) { return bits == 0 ? value : (value << bits) | (value >> (32 - bits)); }

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

// Five 64-byte vectors per step, each summed into its own accumulator: the
// dot product takes five cycles before its result can be added to again, so
// five chains keep its unit busy every cycle. The loop is written out in
// assembly because it needs all eight vector registers the 32-bit program
// has (five sums, the XOR, the ones, the data), and the compiler, short of
// one, spills accumulators to the stack on every step. Memory operands of
// the ternary XOR read each vector a second time, which costs a load, not a
// register.
constexpr std::size_t kVnniStep = 320;

__attribute__((target("avx512f"))) RangeChecksum GridRangeAvx512Vnni(const uint8_t* bytes, std::size_t count) {
  static const uint32_t kOnes = 0x01010101u;
  alignas(64) uint32_t sums[16];
  alignas(64) uint32_t lanes[16];
  const uint8_t* at = bytes;
  const uint8_t* end = bytes + count / kVnniStep * kVnniStep;
  asm volatile(
      "vpxord %%zmm0, %%zmm0, %%zmm0\n\t"
      "vpxord %%zmm1, %%zmm1, %%zmm1\n\t"
      "vpxord %%zmm2, %%zmm2, %%zmm2\n\t"
      "vpxord %%zmm3, %%zmm3, %%zmm3\n\t"
      "vpxord %%zmm4, %%zmm4, %%zmm4\n\t"
      "vpxord %%zmm5, %%zmm5, %%zmm5\n\t"
      "vpbroadcastd %[ones], %%zmm6\n\t"
      "cmp %[end], %[at]\n\t"
      "jae 2f\n\t"
      ".p2align 4\n"
      "1:\n\t"
      "vmovdqu64 (%[at]), %%zmm7\n\t"
      "vpdpbusd %%zmm6, %%zmm7, %%zmm0\n\t"
      "vpternlogd $0x96, 64(%[at]), %%zmm7, %%zmm5\n\t"
      "vmovdqu64 64(%[at]), %%zmm7\n\t"
      "vpdpbusd %%zmm6, %%zmm7, %%zmm1\n\t"
      "vmovdqu64 128(%[at]), %%zmm7\n\t"
      "vpdpbusd %%zmm6, %%zmm7, %%zmm2\n\t"
      "vpternlogd $0x96, 192(%[at]), %%zmm7, %%zmm5\n\t"
      "vmovdqu64 192(%[at]), %%zmm7\n\t"
      "vpdpbusd %%zmm6, %%zmm7, %%zmm3\n\t"
      "vmovdqu64 256(%[at]), %%zmm7\n\t"
      "vpdpbusd %%zmm6, %%zmm7, %%zmm4\n\t"
      "vpxord %%zmm7, %%zmm5, %%zmm5\n\t"
      "add $320, %[at]\n\t"
      "cmp %[end], %[at]\n\t"
      "jb 1b\n"
      "2:\n\t"
      "vpaddd %%zmm1, %%zmm0, %%zmm0\n\t"
      "vpaddd %%zmm3, %%zmm2, %%zmm2\n\t"
      "vpaddd %%zmm4, %%zmm0, %%zmm0\n\t"
      "vpaddd %%zmm2, %%zmm0, %%zmm0\n\t"
      "vmovdqu64 %%zmm0, %[sums]\n\t"
      "vmovdqu64 %%zmm5, %[lanes]\n\t"
      "vzeroupper"
      : [at] "+r"(at), [sums] "=m"(sums), [lanes] "=m"(lanes)
      : [end] "r"(end), [ones] "m"(kOnes)
      : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "cc", "memory");
  RangeChecksum r{0, 0};
  for (int i = 0; i < 16; ++i) {
    r.sum += sums[i];
    r.lanes ^= lanes[i];
  }
  // The rest is shorter than one step: the 32-byte loop finishes it.
  return Combine(r, GridRangeAvx2(end, count - static_cast<std::size_t>(end - bytes)));
}

RangeChecksum GridRangeScalar(const uint8_t* bytes, std::size_t count) { return ChecksumRangeScalar(bytes, count, 0); }

using GridRange = RangeChecksum (*)(const uint8_t*, std::size_t);

GridRange GridRangeOf(ChecksumKernel kernel) {
  switch (kernel) {
    case ChecksumKernel::Avx512Vnni:
      return GridRangeAvx512Vnni;
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
  if (ChecksumKernelAvailable(ChecksumKernel::Avx512Vnni)) return ChecksumKernel::Avx512Vnni;
  if (ChecksumKernelAvailable(ChecksumKernel::Avx2)) return ChecksumKernel::Avx2;
  if (ChecksumKernelAvailable(ChecksumKernel::Sse2)) return ChecksumKernel::Sse2;
  return ChecksumKernel::Scalar;
}

}  // namespace

bool ChecksumKernelAvailable(ChecksumKernel kernel) {
  __builtin_cpu_init();
  switch (kernel) {
    case ChecksumKernel::Avx512Vnni:
      // The loop's tail runs on the AVX2 loop; every such processor has it.
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vnni") &&
             __builtin_cpu_supports("avx2");
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
  std::size_t head = static_cast<std::size_t>((kLineSize - (reinterpret_cast<uintptr_t>(bytes) & (kLineSize - 1))) &
                                              (kLineSize - 1));
  if (head > count) head = count;
  RangeChecksum r = ChecksumRangeScalar(bytes, head, absoluteOffset);
  // The loops put the byte at distance k from their start into lane k % 4.
  RangeChecksum rest = GridRangeOf(kernel)(bytes + head, count - head);
  rest.lanes = RotateLeft(rest.lanes, 8 * static_cast<unsigned>((absoluteOffset + head) & 3));
  return Combine(r, rest);
}

RangeChecksum ChecksumRange(const uint8_t* bytes, std::size_t count, uint64_t absoluteOffset) {
  static const ChecksumKernel fastest = FastestKernel();
  return ChecksumRangeUsing(fastest, bytes, count, absoluteOffset);
}
