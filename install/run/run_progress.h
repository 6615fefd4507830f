#pragma once
// The run's percentage: the bytes written so far of all it writes, handed
// to the function the window gave the run.
#include <cstdint>

// Told the run's percentage after every piece written.
using ProgressReport = void (*)(int percent);

struct RunProgress {
  ProgressReport report;
  uint32_t total;  // bytes of every new file together
  uint32_t done;
};

// The running percentage after runDone of total bytes.
int ProgressPercent(unsigned runDone, unsigned total);

// Adds bytes to the run's count and reports the percentage (an AfterWrite
// of files/write_all.h, context the RunProgress).
void AddWritten(uint32_t bytes, void* progress);
