// Where the elevated run's handles lead: folders held open by what they
// are, not by their path; files opened, renamed and removed through a held
// folder's handle; the facts and final path behind a handle, the run's lock
// file, and the ways a test makes them mislead (another volume, a mount
// point above, a folder turned into a mount point, a system without final
// paths, a lock another process holds).
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_durable.h"
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
  std::vector<std::string> opensInFolder;
  std::map<int, std::function<void()>> openHooks;
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
void BeforeOpenInFolder(int n, std::function<void()> hook) { H().openHooks[n] = std::move(hook); }
const std::vector<std::string>& OpensInFolder() { return H().opensInFolder; }

bool TurnIntoMountPoint(const std::string& windowsPath, const std::string& targetWindowsPath) {
  const std::string host = sim::core::HostPathOfItself(windowsPath);
  struct stat st {};
  char resolved[PATH_MAX];
  if (host.empty() || lstat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      realpath(host.c_str(), resolved) == nullptr || sim::file_table::AnyOpenInside(resolved)) {
    return false;
  }
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(host, ignored)) {
    std::filesystem::remove_all(entry.path(), ignored);
  }
  sim::core::Mount(st, sim::HostPath(targetWindowsPath));
  return true;
}

}  // namespace sim

FolderOpen PlatformOpenFolder(const char* path, FileHandle* folder) {
  *folder = nullptr;
  if (!FileOperation("open-folder", path)) return FolderOpen::Failed;
  // The folder itself: a mount point in its place is not followed.
  std::string host = sim::core::HostPathOfItself(path);
  struct stat st {};
  std::string target;
  if (host.empty() || lstat(host.c_str(), &st) != 0) return FolderOpen::Missing;
  if (S_ISLNK(st.st_mode) || (S_ISDIR(st.st_mode) && sim::core::MountedAt(st, &target))) {
    return FolderOpen::ReparsePoint;
  }
  if (!S_ISDIR(st.st_mode)) return FolderOpen::Failed;
  int descriptor = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) return FolderOpen::Failed;
  *folder = sim::file_table::Add(nullptr, path, false, descriptor);
  return FolderOpen::Opened;
}

bool PlatformHandleFacts(FileHandle file, HandleFacts* facts) {
  SimFile* f = sim::file_table::Of(file);
  struct stat st {};
  // A link opened as itself is seen by its name; any other handle by what it opened.
  int described = f->linkItself ? -1 : f->descriptor >= 0 ? f->descriptor : f->stream != nullptr ? fileno(f->stream) : -1;
  if (described >= 0 ? fstat(described, &st) != 0 : lstat(sim::HostPath(f->windowsPath).c_str(), &st) != 0) {
    return false;
  }
  // Where it lies now, which for a file opened through a mount point is
  // where the mount point led.
  const std::string now = WindowsPathOf(sim::file_table::HostPathNow(*f));
  facts->volume = static_cast<uint32_t>(st.st_dev);
  for (const std::string& prefix : H().otherVolumes) {
    if (Key(now).rfind(prefix, 0) == 0) facts->volume ^= 0x5A5A5A5Au;
  }
  facts->fileIndex = static_cast<uint64_t>(st.st_ino);
  facts->links = static_cast<uint32_t>(st.st_nlink);
  std::string target;
  facts->reparsePoint = S_ISLNK(st.st_mode) || (S_ISDIR(st.st_mode) && sim::core::MountedAt(st, &target));
  return true;
}

FinalPath PlatformFinalPath(FileHandle file, char16_t* buffer, std::size_t bufferUnits) {
  if (H().noFinalPaths) return FinalPath::NotAvailable;
  SimFile* f = sim::file_table::Of(file);
  std::string path;
  if (f->linkItself) {
    // A link opened as itself lies where its name is: only its folder is resolved.
    const std::string host = sim::HostPath(f->windowsPath);
    const std::size_t slash = host.rfind('/');
    char resolved[PATH_MAX];
    if (realpath(host.substr(0, slash).c_str(), resolved) == nullptr) return FinalPath::Failed;
    path = WindowsPathOf(std::string(resolved) + host.substr(slash));
  } else {
    const std::string host = sim::file_table::HostPathNow(*f);
    if (host.empty()) return FinalPath::Failed;
    path = WindowsPathOf(host);
  }
  for (const auto& [from, to] : H().movedFinalPaths) {
    if (Key(path).rfind(Key(from), 0) == 0) path = to + path.substr(from.size());
  }
  path = "\\\\?\\" + path;
  if (path.size() >= bufferUnits) return FinalPath::Failed;
  for (std::size_t i = 0; i <= path.size(); ++i) buffer[i] = static_cast<unsigned char>(path.c_str()[i]);
  return FinalPath::Known;
}

FileHandle PlatformOpenInFolder(FileHandle folder, const char* name) {
  SimFile* d = sim::file_table::Of(folder);
  const std::string windowsPath = d->windowsPath + "\\" + name;
  const int n = static_cast<int>(H().opensInFolder.size()) + 1;
  auto hook = H().openHooks.find(n);
  if (hook != H().openHooks.end()) {
    auto run = std::move(hook->second);
    H().openHooks.erase(hook);
    run();
  }
  H().opensInFolder.push_back(windowsPath);
  sim::core::Trace("open-in " + windowsPath);
  struct stat st {};
  std::string target;
  int descriptor = -1;
  // Through a folder turned into a mount point the open goes where the
  // mount point leads.
  if (fstat(d->descriptor, &st) == 0 && sim::core::MountedAt(st, &target)) {
    descriptor = open((target + "/" + name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  } else {
    descriptor = openat(d->descriptor, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  }
  if (descriptor < 0) return nullptr;
  if (fstat(descriptor, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(descriptor);
    return nullptr;
  }
  return sim::file_table::Add(nullptr, windowsPath, false, descriptor);
}

bool PlatformRenameOpened(FileHandle file, FileHandle folder, const char* name, bool replace) {
  SimFile* f = sim::file_table::Of(file);
  SimFile* d = sim::file_table::Of(folder);
  const std::string to = d->windowsPath + "\\" + name;
  if (!FileOperation("move", f->windowsPath + ">" + to)) return false;
  sim::core::Event("move:" + f->windowsPath + ">" + to, false);
  // A file another process holds open cannot be renamed, nor renamed over.
  if (sim::file_table::HeldElsewhere(f->windowsPath) || sim::file_table::HeldElsewhere(to)) return false;
  struct stat st {};
  std::string target;
  std::string into = fstat(d->descriptor, &st) == 0 && sim::core::MountedAt(st, &target)
                         ? target
                         : sim::file_table::HostPathNow(*d);
  const std::string from = sim::file_table::HostPathNow(*f);
  if (from.empty() || into.empty()) return false;
  const std::string hostTo = into + "/" + name;
  if (lstat(hostTo.c_str(), &st) == 0 && (!replace || S_ISDIR(st.st_mode))) return false;
  if (std::rename(from.c_str(), hostTo.c_str()) != 0) return false;
  sim::durable::Moved(f->windowsPath, to);
  f->windowsPath = to;
  return true;
}

bool PlatformRemoveOpened(FileHandle file) {
  SimFile* f = sim::file_table::Of(file);
  if (!FileOperation("delete", f->windowsPath)) return false;
  if (sim::file_table::HeldElsewhere(f->windowsPath)) return false;
  const std::string host = sim::file_table::HostPathNow(*f);
  return !host.empty() && unlink(host.c_str()) == 0;
}

bool PlatformFlushFolder(const char* path) {
  if (!FileOperation("flush-folder", path)) return false;
  sim::core::Event(std::string("flush-folder:") + path, false);
  std::string host = sim::HostPath(path);
  if (host.empty() || !IsDirectory(host)) return false;
  sim::durable::FolderFlushed(path);
  return true;
}

LockResult PlatformLockFile(const char* path, FileHandle* lock) {
  *lock = nullptr;
  if (!FileOperation("lock", path)) return LockResult::Failed;
  if (H().locksElsewhere.count(Key(path)) != 0) return LockResult::Busy;
  if (sim::file_table::LockHeld(path)) return LockResult::Busy;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return LockResult::Failed;
  struct stat st {};
  const bool existed = stat(host.c_str(), &st) == 0;
  std::FILE* created = std::fopen(host.c_str(), "ab");
  if (created == nullptr) return LockResult::Failed;
  std::fclose(created);
  if (!existed) sim::durable::Created(path);
  *lock = sim::file_table::Add(nullptr, path, true);
  return LockResult::Held;
}

// A symbolic link opens as itself, as a reparse point opens on the system:
// its data is empty, its facts say it is a reparse point, and its final
// path is its own.
FileHandle PlatformOpenExistingFile(const char* path, ExistingAccess access) {
  if (!FileOperation("open-existing", path)) return nullptr;
  std::string host = sim::HostPath(path);
  struct stat st {};
  if (host.empty() || lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  if (S_ISLNK(st.st_mode)) {
    std::FILE* empty = std::tmpfile();
    if (empty == nullptr) return nullptr;
    FileHandle link = sim::file_table::Add(empty, path, false);
    sim::file_table::Of(link)->linkItself = true;
    return link;
  }
  std::FILE* stream = std::fopen(host.c_str(), access == ExistingAccess::ReadWrite ? "r+b" : "rb");
  if (stream == nullptr) return nullptr;
  return sim::file_table::Add(stream, path, false);
}

const char* PlatformNextChar(const char* text) {
  if (*text == '\0') return text;
  if (IsLead932(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
  return text + 1;
}
