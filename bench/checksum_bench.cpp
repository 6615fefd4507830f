// Checksum throughput beside the memory read limit, on the same buffers in
// the same run; prints the ratio of the two for each size at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/read_baseline.h"
#include "fingerprint/checksum.h"
#include "tests/unit/checksum_oracle.h"

namespace {

const AlignedBuffer& Buffer(std::size_t size) {
  static std::map<std::size_t, std::unique_ptr<AlignedBuffer>> buffers;
  auto& b = buffers[size];
  if (!b) {
    b = std::make_unique<AlignedBuffer>(size);
    std::mt19937_64 random(size);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
      uint64_t v = random();
      std::memcpy(b->bytes + i, &v, 8);
    }
  }
  return *b;
}

void BM_Baseline(benchmark::State& state) {
  const AlignedBuffer& b = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(SumWords(b.bytes, b.size));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Checksum(benchmark::State& state) {
  const AlignedBuffer& b = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ContentChecksum(b.bytes, static_cast<uint32_t>(b.size), ChecksumWindow{true, 1328}));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ByteLoop(benchmark::State& state) {
  const AlignedBuffer& b = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(OracleChecksum(b.bytes, static_cast<uint32_t>(b.size), ChecksumWindow{true, 1328}));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

constexpr int64_t KiB = 1024;
BENCHMARK(BM_Baseline)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(64 * KiB * KiB)->Arg(KiB * KiB * KiB);
BENCHMARK(BM_Checksum)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(64 * KiB * KiB)->Arg(KiB * KiB * KiB);
BENCHMARK(BM_ByteLoop)->Arg(64 * KiB)->Arg(KiB * KiB)->Arg(64 * KiB * KiB);

// Keeps each benchmark's best throughput over its repetitions, so that the
// ratios can be printed together. On a shared machine the neighbours slow
// single runs down at random; the best of interleaved repetitions is what
// the loop itself can do.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto found = run.counters.find("bytes_per_second");
      if (found == run.counters.end()) continue;
      double& best = rates_[run.run_name.str()];
      if (found->second > best) best = found->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    std::printf("\n%-12s %14s %14s %14s %8s %8s\n", "buffer", "baseline GB/s", "checksum GB/s", "byte loop GB/s",
                "ratio", "loop");
    for (const char* size : {"65536", "1048576", "67108864", "1073741824"}) {
      double base = Rate("BM_Baseline/", size), sum = Rate("BM_Checksum/", size), loop = Rate("BM_ByteLoop/", size);
      std::printf("%-12s %14.2f %14.2f %14.2f %8.2f %8.2f\n", size, base / 1e9, sum / 1e9, loop / 1e9,
                  base > 0 ? sum / base : 0.0, base > 0 ? loop / base : 0.0);
    }
  }

 private:
  double Rate(const std::string& prefix, const char* size) const {
    auto found = rates_.find(prefix + size);
    return found == rates_.end() ? 0.0 : found->second;
  }
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
