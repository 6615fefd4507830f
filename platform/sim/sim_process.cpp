// The process among the others on the machine: its start, and the
// single-instance guard another process may already hold.
#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

namespace {

struct Process {
  bool guardElsewhere = false;
  std::string guardElsewhereKey;
  std::string broughtToFront;
  int liveGuards = 0;
};

Process& P() {
  static Process process;
  return process;
}

void ResetProcess() { P() = Process(); }
const sim::core::PartReset kProcessReset(ResetProcess);

char GuardTag;

}  // namespace

namespace sim {

void HoldGuardElsewhere(const std::string& key) {
  P().guardElsewhere = true;
  P().guardElsewhereKey = key;
}
std::string BroughtToFront() { return P().broughtToFront; }
int LiveGuards() { return P().liveGuards; }

}  // namespace sim

void PlatformPrepareProcess() {}

bool PlatformAcquireInstanceGuard(const char* key, InstanceGuard* guard) {
  *guard = nullptr;
  if (P().guardElsewhere && (P().guardElsewhereKey.empty() || P().guardElsewhereKey == key)) return false;
  *guard = reinterpret_cast<InstanceGuard>(&GuardTag);
  ++P().liveGuards;
  return true;
}

void PlatformReleaseInstanceGuard(InstanceGuard guard) {
  if (guard != nullptr) --P().liveGuards;
}

void PlatformBringWindowToFront(const char16_t* title) { P().broughtToFront = sim::To932(title); }
