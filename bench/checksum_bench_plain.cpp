// The checksum benchmark without a benchmark library, for the 32-bit Windows
// build (run under Wine): the same buffers, the same baseline and the same
// ratios as checksum_bench, timed with the standard clock. Each figure is
// the best of several alternating rounds of at least 0.2 s.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <random>

#include "bench/read_baseline.h"
#include "fingerprint/checksum.h"
#include "tests/unit/checksum_oracle.h"

namespace {

using Clock = std::chrono::steady_clock;

// Bytes per second of one round of at least 0.2 s.
template <typename Work>
double RoundRate(std::size_t size, Work work) {
  auto begin = Clock::now();
  std::size_t runs = 0;
  do {
    work();
    ++runs;
  } while (Clock::now() - begin < std::chrono::milliseconds(200));
  double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  return static_cast<double>(size) * static_cast<double>(runs) / seconds;
}

// The rounds of the loops being compared alternate, and each keeps its best:
// on a shared machine the neighbours slow single rounds down at random.
constexpr int kRounds = 7;

volatile uint64_t g_sink;

}  // namespace

int main() {
  std::printf("%-12s %14s %14s %14s %8s %8s\n", "buffer", "baseline GB/s", "checksum GB/s", "byte loop GB/s", "ratio",
              "loop");
  const std::size_t sizes[] = {std::size_t{64} << 10, std::size_t{1} << 20, std::size_t{64} << 20,
                               std::size_t{1} << 30};
  for (std::size_t size : sizes) {
    std::unique_ptr<AlignedBuffer> buffer;
    try {
      buffer = std::make_unique<AlignedBuffer>(size);
    } catch (const std::bad_alloc&) {
      std::printf("%-12zu no room for the buffer in this process\n", size);
      continue;
    }
    const uint8_t* data = buffer->bytes;
    std::mt19937 random(static_cast<unsigned>(size));
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
      uint32_t v = random();
      std::memcpy(buffer->bytes + i, &v, 4);
    }
    const uint32_t length = static_cast<uint32_t>(size);
    double base = 0, sum = 0, loop = 0;
    for (int round = 0; round < kRounds; ++round) {
      base = std::max(base, RoundRate(size, [&] { g_sink = SumWords(data, size); }));
      sum = std::max(sum, RoundRate(size, [&] { g_sink = ContentChecksum(data, length, ChecksumWindow{true, 1328}).sum; }));
      if (size <= (std::size_t{64} << 20) && round < 2) {
        loop = std::max(loop, RoundRate(size, [&] { g_sink = OracleChecksum(data, length, ChecksumWindow{true, 1328}).sum; }));
      }
    }
    std::printf("%-12zu %14.2f %14.2f %14.2f %8.2f %8.2f\n", size, base / 1e9, sum / 1e9, loop / 1e9, sum / base,
                loop / base);
  }
  return 0;
}
