// Where the elevated run's handles lead: folders held open, the facts and
// final path behind a handle, the run's lock file, and the ways a test makes
// them mislead (another volume, a mount point above, a system without
// final paths, a lock another process holds).
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_file_table.h"

using sim::core::FileOperation;
using sim::core::IsDirectory;
using sim::core::IsLead932;
using sim::core::Key;
using sim::core::WindowsPathOf;
using sim::file_table::SimFile;

namespace {

struct Handles {
  std::set<std::string> locksElsewhere;
  std::vector<std::pair<std::string, std::string>> movedFinalPaths;
  bool noFinalPaths = false;
  std::vector<std::string> otherVolumes;
};

Handles& H() {
  static Handles handles;
  return handles;
}

void ResetHandles() { H() = Handles(); }
const sim::core::PartReset kHandlesReset(ResetHandles);

}  // namespace

namespace sim {

void HoldLockElsewhere(const std::string& windowsPath) { H().locksElsewhere.insert(Key(windowsPath)); }
void MoveFinalPaths(const std::string& fromPrefix, const std::string& toPrefix) {
  H().movedFinalPaths.emplace_back(fromPrefix, toPrefix);
}
void NoFinalPaths() { H().noFinalPaths = true; }
void PlaceOnOtherVolume(const std::string& windowsPrefix) { H().otherVolumes.push_back(Key(windowsPrefix)); }

}  // namespace sim

FolderOpen PlatformOpenFolder(const char* path, FileHandle* folder) {
  *folder = nullptr;
  if (!FileOperation("open-folder", path)) return FolderOpen::Failed;
  std::string host = sim::HostPath(path);
  struct stat st {};
  if (host.empty() || lstat(host.c_str(), &st) != 0) return FolderOpen::Missing;
  if (S_ISLNK(st.st_mode)) return FolderOpen::ReparsePoint;
  if (!S_ISDIR(st.st_mode)) return FolderOpen::Failed;
  *folder = sim::file_table::Add(nullptr, path, false);
  return FolderOpen::Opened;
}

bool PlatformHandleFacts(FileHandle file, HandleFacts* facts) {
  SimFile* f = sim::file_table::Of(file);
  struct stat st {};
  if (f->stream != nullptr ? fstat(fileno(f->stream), &st) != 0 : lstat(sim::HostPath(f->windowsPath).c_str(), &st) != 0) {
    return false;
  }
  facts->volume = static_cast<uint32_t>(st.st_dev);
  for (const std::string& prefix : H().otherVolumes) {
    if (Key(f->windowsPath).rfind(prefix, 0) == 0) facts->volume ^= 0x5A5A5A5Au;
  }
  facts->fileIndex = static_cast<uint64_t>(st.st_ino);
  facts->links = static_cast<uint32_t>(st.st_nlink);
  facts->reparsePoint = S_ISLNK(st.st_mode);
  return true;
}

FinalPath PlatformFinalPath(FileHandle file, char16_t* buffer, std::size_t bufferUnits) {
  if (H().noFinalPaths) return FinalPath::NotAvailable;
  SimFile* f = sim::file_table::Of(file);
  char resolved[PATH_MAX];
  if (realpath(sim::HostPath(f->windowsPath).c_str(), resolved) == nullptr) return FinalPath::Failed;
  std::string path = WindowsPathOf(resolved);
  for (const auto& [from, to] : H().movedFinalPaths) {
    if (Key(path).rfind(Key(from), 0) == 0) path = to + path.substr(from.size());
  }
  path = "\\\\?\\" + path;
  if (path.size() >= bufferUnits) return FinalPath::Failed;
  for (std::size_t i = 0; i <= path.size(); ++i) buffer[i] = static_cast<unsigned char>(path.c_str()[i]);
  return FinalPath::Known;
}

bool PlatformFlushFolder(const char* path) {
  if (!FileOperation("flush-folder", path)) return false;
  sim::core::Event(std::string("flush-folder:") + path, false);
  std::string host = sim::HostPath(path);
  return !host.empty() && IsDirectory(host);
}

LockResult PlatformLockFile(const char* path, FileHandle* lock) {
  *lock = nullptr;
  if (!FileOperation("lock", path)) return LockResult::Failed;
  if (H().locksElsewhere.count(Key(path)) != 0) return LockResult::Busy;
  if (sim::file_table::LockHeld(path)) return LockResult::Busy;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return LockResult::Failed;
  std::FILE* created = std::fopen(host.c_str(), "ab");
  if (created == nullptr) return LockResult::Failed;
  std::fclose(created);
  *lock = sim::file_table::Add(nullptr, path, true);
  return LockResult::Held;
}

const char* PlatformNextChar(const char* text) {
  if (*text == '\0') return text;
  if (IsLead932(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
  return text + 1;
}
