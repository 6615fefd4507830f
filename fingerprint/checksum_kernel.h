#pragma once
#include <cstddef>
#include <cstdint>

// Sum of the bytes and XOR of the bytes shifted into their 32-bit lane by
// absolute offset (byte at offset j lands in bits 8*(j%4)), over one range.
struct RangeChecksum {
  uint32_t sum;
  uint32_t lanes;
};

RangeChecksum ChecksumRange(const uint8_t* bytes, std::size_t count, uint64_t absoluteOffset);

// The loops the processor may offer; ChecksumRange takes the fastest one.
enum class ChecksumKernel { Scalar, Sse2, Avx2, Avx512Vnni };
constexpr ChecksumKernel kAllChecksumKernels[] = {ChecksumKernel::Scalar, ChecksumKernel::Sse2, ChecksumKernel::Avx2,
                                                  ChecksumKernel::Avx512Vnni};
bool ChecksumKernelAvailable(ChecksumKernel kernel);
RangeChecksum ChecksumRangeUsing(ChecksumKernel kernel, const uint8_t* bytes, std::size_t count,
                                 uint64_t absoluteOffset);

// The same, one byte at a time: used for the few bytes around a window and
// as the fallback on processors without vector units.
RangeChecksum ChecksumRangeScalar(const uint8_t* bytes, std::size_t count, uint64_t absoluteOffset);
