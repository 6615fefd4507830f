#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "fingerprint/checksum.h"
#include "fingerprint/checksum_kernel.h"
#include "tests/unit/checksum_oracle.h"

namespace {

std::vector<uint8_t> Counting(unsigned n) {
  std::vector<uint8_t> v(n);
  for (unsigned i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

struct WorkedCase {
  const char* what;
  std::vector<uint8_t> bytes;
  ChecksumWindow window;
  uint32_t sum;
  uint32_t xorValue;
};

TEST(ContentChecksum, WorkedValues) {
  const WorkedCase cases[] = {
      {"empty", {}, kNoWindow, 0, 0},
      {"abcd", {0x61, 0x62, 0x63, 0x64}, kNoWindow, 0x18A, 0x64636261},
      {"16 counting bytes", Counting(16), kNoWindow, 0x78, 0},
      {"16 counting bytes, window at 4", Counting(16), {true, 4}, 0x06, 0x03020100},
      {"20 counting bytes, window at 4", Counting(20), {true, 4}, 0x4C, 0x10101010},
      {"window beyond the data", Counting(16), {true, 100}, 0x78, 0},
      {"partial last word completed with zeros", {1, 2, 3, 4, 5}, kNoWindow, 15, 0x04030201 ^ 0x05},
  };
  for (const WorkedCase& c : cases) {
    ChecksumPair got = ContentChecksum(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), c.window);
    EXPECT_EQ(got.sum, c.sum) << c.what;
    EXPECT_EQ(got.xorValue, c.xorValue) << c.what;
  }
}

// The fast walk must agree with the byte loop for every length, window
// position (on and off the 4-byte grid, inside and beyond the data), and
// every way of cutting the content into pieces.
TEST(ContentChecksum, AgreesWithTheByteLoopForAnyWindowAndSplit) {
  std::mt19937 random(12345);
  std::vector<uint8_t> storage(4096 + 16);
  for (uint8_t& b : storage) b = static_cast<uint8_t>(random());
  const uint32_t lengths[] = {0, 1, 3, 4, 5, 11, 12, 13, 16, 31, 64, 255, 1000, 4095, 4096};
  for (uint32_t length : lengths) {
    for (unsigned misalign = 0; misalign < 4; ++misalign) {
      const uint8_t* data = storage.data() + misalign;
      std::vector<ChecksumWindow> windows = {kNoWindow, {true, 0xFFFFFFF8u}};
      for (uint32_t start = 0; start <= length + 4; start += (length > 64 ? 7 : 1)) windows.push_back({true, start});
      for (const ChecksumWindow& window : windows) {
        ChecksumPair expected = OracleChecksum(data, length, window);
        ChecksumPair whole = ContentChecksum(data, length, window);
        ASSERT_EQ(whole.sum, expected.sum) << "length " << length << " window " << window.start;
        ASSERT_EQ(whole.xorValue, expected.xorValue) << "length " << length << " window " << window.start;

        ChecksumState state = ChecksumBegin(window);
        uint32_t at = 0;
        while (at < length) {
          uint32_t piece = 1 + random() % 37;
          if (piece > length - at) piece = length - at;
          ChecksumUpdate(state, data + at, piece);
          at += piece;
        }
        ASSERT_EQ(state.pair.sum, expected.sum) << "pieces, length " << length << " window " << window.start;
        ASSERT_EQ(state.pair.xorValue, expected.xorValue) << "pieces, length " << length;
      }
    }
  }
}

// Every loop must agree with the byte loop on every offset of the 4-byte grid
// and every buffer alignment. A loop this processor lacks shows as skipped:
// a pass here would claim code that never ran.
class EachChecksumKernel : public ::testing::TestWithParam<ChecksumKernel> {};

TEST_P(EachChecksumKernel, AgreesWithTheByteLoop) {
  const ChecksumKernel kernel = GetParam();
  if (!ChecksumKernelAvailable(kernel)) GTEST_SKIP() << "this processor lacks the loop";
  std::mt19937 random(777);
  std::vector<uint8_t> storage(3000 + 128);
  for (uint8_t& b : storage) b = static_cast<uint8_t>(random());
  for (uint32_t length : {0u, 1u, 15u, 16u, 17u, 63u, 64u, 127u, 128u, 129u, 319u, 320u, 321u, 1000u, 3000u}) {
    for (unsigned misalign : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 31u, 33u, 63u}) {
      for (uint64_t offset : {uint64_t{0}, uint64_t{1}, uint64_t{2}, uint64_t{3}, uint64_t{1} << 33}) {
        const uint8_t* data = storage.data() + misalign;
        RangeChecksum got = ChecksumRangeUsing(kernel, data, length, offset);
        RangeChecksum want = ChecksumRangeScalar(data, length, offset);
        ASSERT_EQ(got.sum, want.sum) << "length " << length << " misalign " << misalign << " offset " << offset;
        ASSERT_EQ(got.lanes, want.lanes) << "length " << length << " misalign " << misalign << " offset " << offset;
      }
    }
  }
  // 17 MiB of 0xFF bytes add up past 2^32, in whatever lanes a loop keeps.
  std::vector<uint8_t> full(17u << 20, 0xFF);
  RangeChecksum want = ChecksumRangeScalar(full.data(), full.size(), 0);
  ASSERT_EQ(want.sum, static_cast<uint32_t>(uint64_t{0xFF} * full.size()));
  RangeChecksum got = ChecksumRangeUsing(kernel, full.data(), full.size(), 0);
  EXPECT_EQ(got.sum, want.sum);
  EXPECT_EQ(got.lanes, want.lanes);
}

const char* KernelName(ChecksumKernel kernel) {
  switch (kernel) {
    case ChecksumKernel::Scalar: return "Scalar";
    case ChecksumKernel::Sse2: return "Sse2";
    case ChecksumKernel::Avx2: return "Avx2";
    case ChecksumKernel::Avx512Vnni: return "Avx512Vnni";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(ContentChecksum, EachChecksumKernel, ::testing::ValuesIn(kAllChecksumKernels),
                         [](const ::testing::TestParamInfo<ChecksumKernel>& param) { return KernelName(param.param); });

// The scalar range walk itself against the oracle, through a whole file.
TEST(ContentChecksum, TheScalarWalkAgreesWithTheOracle) {
  std::mt19937 random(777);
  std::vector<uint8_t> storage(3000);
  for (uint8_t& b : storage) b = static_cast<uint8_t>(random());
  ChecksumPair oracle = OracleChecksum(storage.data(), 3000, kNoWindow);
  RangeChecksum scalar = ChecksumRangeScalar(storage.data(), 3000, 0);
  EXPECT_EQ(scalar.sum, oracle.sum);
  EXPECT_EQ(scalar.lanes, oracle.xorValue);
}

}  // namespace
