#pragma once
// The memory read limit the checksum is measured against: a plain sum of
// 64-bit words, vectorised as wide as the processor allows, over the same
// buffer in the same run.
#include <cstddef>
#include <cstdint>
#include <immintrin.h>
#include <new>

__attribute__((target("avx512f"))) inline uint64_t SumWordsAvx512(const uint8_t* bytes, std::size_t count) {
  __m512i a = _mm512_setzero_si512(), b = a, c = a, d = a;
  std::size_t i = 0;
  for (; i + 256 <= count; i += 256) {
    a = _mm512_add_epi64(a, _mm512_loadu_si512(bytes + i));
    b = _mm512_add_epi64(b, _mm512_loadu_si512(bytes + i + 64));
    c = _mm512_add_epi64(c, _mm512_loadu_si512(bytes + i + 128));
    d = _mm512_add_epi64(d, _mm512_loadu_si512(bytes + i + 192));
  }
  alignas(64) uint64_t s[8];
  _mm512_store_si512(s, _mm512_add_epi64(_mm512_add_epi64(a, b), _mm512_add_epi64(c, d)));
  uint64_t total = 0;
  for (uint64_t lane : s) total += lane;
  for (; i < count; ++i) total += bytes[i];
  return total;
}

__attribute__((target("avx2"))) inline uint64_t SumWordsAvx2(const uint8_t* bytes, std::size_t count) {
  __m256i a = _mm256_setzero_si256(), b = a, c = a, d = a;
  std::size_t i = 0;
  for (; i + 128 <= count; i += 128) {
    a = _mm256_add_epi64(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i)));
    b = _mm256_add_epi64(b, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32)));
    c = _mm256_add_epi64(c, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 64)));
    d = _mm256_add_epi64(d, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 96)));
  }
  alignas(32) uint64_t s[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(s), _mm256_add_epi64(_mm256_add_epi64(a, b), _mm256_add_epi64(c, d)));
  uint64_t total = s[0] + s[1] + s[2] + s[3];
  for (; i < count; ++i) total += bytes[i];
  return total;
}

__attribute__((target("sse2"))) inline uint64_t SumWordsSse2(const uint8_t* bytes, std::size_t count) {
  __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
  std::size_t i = 0;
  for (; i + 64 <= count; i += 64) {
    a = _mm_add_epi64(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)));
    b = _mm_add_epi64(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16)));
    c = _mm_add_epi64(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 32)));
    d = _mm_add_epi64(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 48)));
  }
  alignas(16) uint64_t s[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(s), _mm_add_epi64(_mm_add_epi64(a, b), _mm_add_epi64(c, d)));
  uint64_t total = s[0] + s[1];
  for (; i < count; ++i) total += bytes[i];
  return total;
}

inline uint64_t SumWords(const uint8_t* bytes, std::size_t count) {
  static const int width = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f") ? 512
                                                   : __builtin_cpu_supports("avx2")  ? 256
                                                                                     : 128);
  if (width == 512) return SumWordsAvx512(bytes, count);
  return width == 256 ? SumWordsAvx2(bytes, count) : SumWordsSse2(bytes, count);
}

// Buffers on a cache-line boundary, so that neither loop pays for loads that
// straddle two lines.
struct AlignedBuffer {
  explicit AlignedBuffer(std::size_t length)
      : bytes(static_cast<uint8_t*>(::operator new(length, std::align_val_t{64}))), size(length) {}
  ~AlignedBuffer() { ::operator delete(bytes, std::align_val_t{64}); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  uint8_t* bytes;
  std::size_t size;
};
