#include "install/run/run_progress.h"

int ProgressPercent(uint64_t runDone, uint64_t total) {
  // The total is taken in single precision: it decides where a very large
  // run ends (99 instead of 100).
  float totalSingle = static_cast<float>(total);
  double fraction = static_cast<double>(runDone) / static_cast<double>(totalSingle);
  return static_cast<int>(fraction * 100.0);
}

void AddWritten(uint32_t bytes, void* progress) {
  auto* run = static_cast<RunProgress*>(progress);
  run->done += bytes;
  run->report(ProgressPercent(run->done, run->total));
}

void ReportAgain(void* progress) {
  auto* run = static_cast<RunProgress*>(progress);
  // Every write reports, so the count decides what the window shows now.
  run->report(run->done == 0 ? kNothingWritten : ProgressPercent(run->done, run->total));
}
