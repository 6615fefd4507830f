// The checksum benchmark without a benchmark library, for the 32-bit Windows
// build (run under Wine): the same buffers, the same baseline and the same
// ratios as checksum_bench, timed with the standard clock. Each figure is
// the best of several rounds of at least 0.2 s.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "bench/read_baseline.h"
#include "fingerprint/checksum.h"
#include "tests/unit/checksum_oracle.h"

namespace {

template <typename Work>
double BytesPerSecond(std::size_t size, Work work) {
  using Clock = std::chrono::steady_clock;
  double best = 0;
  for (int round = 0; round < 5; ++round) {
    auto begin = Clock::now();
    std::size_t runs = 0;
    do {
      work();
      ++runs;
    } while (Clock::now() - begin < std::chrono::milliseconds(200));
    double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    double rate = static_cast<double>(size) * static_cast<double>(runs) / seconds;
    if (rate > best) best = rate;
  }
  return best;
}

volatile uint64_t g_sink;

}  // namespace

int main() {
  std::printf("%-12s %14s %14s %14s %8s %8s\n", "buffer", "baseline GB/s", "checksum GB/s", "byte loop GB/s", "ratio",
              "loop");
  const std::size_t sizes[] = {std::size_t{64} << 10, std::size_t{1} << 20, std::size_t{64} << 20,
                               std::size_t{1} << 30};
  for (std::size_t size : sizes) {
    std::vector<uint8_t> buffer;
    try {
      buffer.resize(size);
    } catch (const std::bad_alloc&) {
      std::printf("%-12zu no room for the buffer in this process\n", size);
      continue;
    }
    std::mt19937 random(static_cast<unsigned>(size));
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
      uint32_t v = random();
      std::memcpy(&buffer[i], &v, 4);
    }
    const uint8_t* data = buffer.data();
    const uint32_t length = static_cast<uint32_t>(size);
    double base = BytesPerSecond(size, [&] { g_sink = SumWords(data, size); });
    double sum = BytesPerSecond(size, [&] { g_sink = ContentChecksum(data, length, ChecksumWindow{true, 1328}).sum; });
    double loop = size <= (std::size_t{64} << 20)
                      ? BytesPerSecond(size, [&] { g_sink = OracleChecksum(data, length, ChecksumWindow{true, 1328}).sum; })
                      : 0.0;
    std::printf("%-12zu %14.2f %14.2f %14.2f %8.2f %8.2f\n", size, base / 1e9, sum / 1e9, loop / 1e9, sum / base,
                loop / base);
  }
  return 0;
}
