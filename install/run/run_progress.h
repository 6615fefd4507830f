#pragma once
// The run's percentage: the bytes written so far of all it writes, handed
// to the function the window gave the run.
#include <cstdint>

// Told the run's percentage after every piece written, and after every
// other piece of long work (the last percentage again, or kNothingWritten
// before the first byte): the window repaints only what changed, then lets
// one pending message through.
using ProgressReport = void (*)(int percent);
constexpr int kNothingWritten = -1;

struct RunProgress {
  ProgressReport report;
  // Each file is below 4 GiB, all together may be more.
  uint64_t total;  // bytes of every new file together
  uint64_t done;
};

// The running percentage after runDone of total bytes.
int ProgressPercent(uint64_t runDone, uint64_t total);

// Adds bytes to the run's count and reports the percentage (an AfterWrite
// of files/write_all.h, context the RunProgress).
void AddWritten(uint32_t bytes, void* progress);

// Reports the percentage shown last once more, so that the window answers
// while the run flushes, proves or switches (a StepDone of
// files/step_done.h, context the RunProgress).
void ReportAgain(void* progress);
