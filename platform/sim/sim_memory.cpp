// The program's memory: real blocks, each size kept so that the tests see
// what the program holds, and allocations that fail on the test's word.
#include <cstdlib>
#include <map>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

using sim::core::Trace;

namespace {

struct Memory {
  int allocationsUntilFailure = -1;
  std::map<void*, std::size_t> blockSizes;  // the live allocations
  std::size_t liveBytes = 0;
  std::size_t peakBytes = 0;
};

Memory& Mem() {
  static Memory memory;
  return memory;
}

// A run cut off mid-way leaves its buffers behind, as a dead process does;
// the system takes them back.
void ResetMemory() {
  for (auto& block : Mem().blockSizes) std::free(block.first);
  Mem() = Memory();
}
const sim::core::PartReset kMemoryReset(ResetMemory);

}  // namespace

namespace sim {

void FailAllocationsFrom(int count) { Mem().allocationsUntilFailure = count; }
int LiveAllocations() { return static_cast<int>(Mem().blockSizes.size()); }
std::size_t PeakAllocatedBytes() { return Mem().peakBytes; }

}  // namespace sim

void* PlatformAllocZeroed(std::size_t size) {
  if (Mem().allocationsUntilFailure >= 0) {
    if (Mem().allocationsUntilFailure <= 1) {
      Mem().allocationsUntilFailure = 0;
      Trace("alloc-fail " + std::to_string(size));
      return nullptr;
    }
    --Mem().allocationsUntilFailure;
  }
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  Trace("alloc " + std::to_string(size));
  if (block != nullptr) {
    Mem().blockSizes[block] = size;
    Mem().liveBytes += size;
    if (Mem().liveBytes > Mem().peakBytes) Mem().peakBytes = Mem().liveBytes;
  }
  return block;
}

void PlatformFree(void* block) {
  if (block == nullptr) return;
  auto found = Mem().blockSizes.find(block);
  if (found != Mem().blockSizes.end()) Trace("free " + std::to_string(found->second));
  if (found != Mem().blockSizes.end()) {
    Mem().liveBytes -= found->second;
    Mem().blockSizes.erase(found);
  }
  std::free(block);
}
