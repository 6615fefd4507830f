// The special folders and the disk space the system reports: whatever the
// test set, and the drive the program last asked about.
#include <cstring>
#include <map>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

namespace {

struct Folders {
  std::map<SpecialFolder, std::string> specialFolders;
  bool diskAnswers = true;
  uint64_t diskTotal = 0;
  uint64_t diskFree = 0;
  std::string lastDiskQuery;
};

Folders& D() {
  static Folders folders;
  return folders;
}

void ResetFolders() { D() = Folders(); }
const sim::core::PartReset kFoldersReset(ResetFolders);

}  // namespace

namespace sim {

void SetSpecialFolder(SpecialFolder folder, const std::string& path) { D().specialFolders[folder] = path; }

void SetDiskSpace(bool answers, uint64_t totalBytes, uint64_t freeBytes) {
  D().diskAnswers = answers;
  D().diskTotal = totalBytes;
  D().diskFree = freeBytes;
}
std::string LastDiskQuery() { return D().lastDiskQuery; }

}  // namespace sim

bool PlatformGetSpecialFolder(SpecialFolder folder, char* buffer) {
  auto found = D().specialFolders.find(folder);
  if (found == D().specialFolders.end() || found->second.empty() || found->second.size() >= kPathSize) return false;
  std::memcpy(buffer, found->second.c_str(), found->second.size() + 1);
  return true;
}

bool PlatformGetDiskSpace(const char* drive, uint64_t* totalBytes, uint64_t* freeBytes) {
  D().lastDiskQuery = drive;
  if (!D().diskAnswers) return false;
  *totalBytes = D().diskTotal;
  *freeBytes = D().diskFree;
  return true;
}
