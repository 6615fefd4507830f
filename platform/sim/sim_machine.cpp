// The simulated backend of the native tests, apart from its core (sim_core),
// its file views, the screen (windows, texts, message boxes), the process
// and its memory. Files and profile files are real host files reached
// through mapped drive letters; resources and faults are simulated and
// recorded.
#include "platform/sim/platform_sim.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "base/ascii_case.h"
#include "base/pe_resources.h"
#include "platform/sim/profile_text.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_file_table.h"

using sim::core::Event;
using sim::core::FileOperation;
using sim::core::IsDirectory;
using sim::core::IsLead932;
using sim::core::Key;
using sim::core::ReadHostFile;
using sim::core::Trace;
using sim::core::WindowsPathOf;
using sim::file_table::SimFile;

namespace {

struct SimModule {
  std::vector<uint8_t> image;
};

struct OwnResource {
  ResourceType type;
  std::string name;
  std::vector<uint8_t> bytes;
  bool unloadable;
};

struct Machine {
  std::map<SpecialFolder, std::string> specialFolders;
  bool diskAnswers = true;
  uint64_t diskTotal = 0;
  uint64_t diskFree = 0;
  std::string lastDiskQuery;

  std::vector<OwnResource> ownResources;

  std::set<std::string> locksElsewhere;
  std::vector<std::pair<std::string, std::string>> movedFinalPaths;
  bool noFinalPaths = false;
  std::vector<std::string> otherVolumes;
  std::set<std::string> denied;
  std::map<std::string, uint64_t> writeLimits;
  std::map<std::string, uint64_t> writtenSoFar;
  std::set<std::string> writeErrors;
  std::set<std::string> readErrors;

  std::vector<sim::WriteRecord> writes;
  int liveModules = 0;

  std::set<SimModule*> modules;
};

Machine& M() {
  static Machine machine;
  return machine;
}

char OwnModuleTag;

}  // namespace

// A run cut off mid-way leaves its modules behind, as a dead process does;
// the system takes them back.
void ResetMachine() {
  for (SimModule* m : M().modules) delete m;
  M() = Machine();
}
const sim::core::PartReset kMachineReset(ResetMachine);

// ---------------------------------------------------------------- control

namespace sim {

void SetSpecialFolder(SpecialFolder folder, const std::string& path) { M().specialFolders[folder] = path; }

void SetDiskSpace(bool answers, uint64_t totalBytes, uint64_t freeBytes) {
  M().diskAnswers = answers;
  M().diskTotal = totalBytes;
  M().diskFree = freeBytes;
}
std::string LastDiskQuery() { return M().lastDiskQuery; }

ModuleHandle OwnModule() { return reinterpret_cast<ModuleHandle>(&OwnModuleTag); }

void AddOwnResource(ResourceType type, const std::string& name, const std::vector<uint8_t>& bytes) {
  M().ownResources.push_back({type, name, bytes, false});
}

void MakeOwnResourceUnloadable(ResourceType type, const std::string& name) {
  for (OwnResource& r : M().ownResources) {
    if (r.type == type && SameIgnoringAsciiCase(r.name, name)) r.unloadable = true;
  }
}

void HoldLockElsewhere(const std::string& windowsPath) { M().locksElsewhere.insert(Key(windowsPath)); }
void MoveFinalPaths(const std::string& fromPrefix, const std::string& toPrefix) {
  M().movedFinalPaths.emplace_back(fromPrefix, toPrefix);
}
void NoFinalPaths() { M().noFinalPaths = true; }
void PlaceOnOtherVolume(const std::string& windowsPrefix) { M().otherVolumes.push_back(Key(windowsPrefix)); }

void HoldOpenWithoutWriteSharing(const std::string& windowsPath) { M().denied.insert(Key(windowsPath)); }
void LimitWrites(const std::string& windowsPath, uint64_t limitBytes) { M().writeLimits[Key(windowsPath)] = limitBytes; }
void FailWritesWithError(const std::string& windowsPath) { M().writeErrors.insert(Key(windowsPath)); }
void FailReads(const std::string& windowsPath) { M().readErrors.insert(Key(windowsPath)); }
const std::vector<WriteRecord>& Writes() { return M().writes; }
int LiveModules() { return M().liveModules; }

}  // namespace sim

// ---------------------------------------------------------------- files

FileHandle PlatformOpenFile(const char* path, FileMode mode) {
  static const char* const kinds[] = {"open-read", "open-create", "open-write", "open-exclusive", "open-new"};
  if (!FileOperation(kinds[static_cast<int>(mode)], path)) return nullptr;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return nullptr;
  if (mode != FileMode::ReadExisting && M().denied.count(Key(path)) != 0) return nullptr;
  // "x": fails on any existing name, a dangling link included.
  const char* how = mode == FileMode::ReadExisting        ? "rb"
                    : mode == FileMode::WriteCreateAlways ? "wb"
                    : mode == FileMode::WriteCreateNew    ? "wbx"
                                                          : "r+b";
  std::FILE* stream = std::fopen(host.c_str(), how);
  if (stream == nullptr) return nullptr;
  M().writtenSoFar[Key(path)] = 0;
  return sim::file_table::Add(stream, path, false);
}

bool PlatformFileSize(FileHandle file, uint64_t* size) {
  SimFile* f = sim::file_table::Of(file);
  long at = std::ftell(f->stream);
  if (std::fseek(f->stream, 0, SEEK_END) != 0) return false;
  long end = std::ftell(f->stream);
  std::fseek(f->stream, at, SEEK_SET);
  if (end < 0) return false;
  *size = static_cast<uint64_t>(end);
  return true;
}

bool PlatformReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* bytesRead) {
  SimFile* f = sim::file_table::Of(file);
  *bytesRead = static_cast<uint32_t>(std::fread(buffer, 1, size, f->stream));
  // A failing read still delivers what it read: only its answer tells.
  if (M().readErrors.count(Key(f->windowsPath)) != 0) return false;
  return !std::ferror(f->stream);
}

bool PlatformWriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* bytesWritten) {
  SimFile* f = sim::file_table::Of(file);
  std::string key = Key(f->windowsPath);
  *bytesWritten = 0;
  if (!FileOperation("write", f->windowsPath)) return false;
  if (M().writeErrors.count(key) != 0) return false;
  uint32_t allowed = size;
  auto limit = M().writeLimits.find(key);
  if (limit != M().writeLimits.end()) {
    uint64_t left = limit->second > M().writtenSoFar[key] ? limit->second - M().writtenSoFar[key] : 0;
    if (left < allowed) allowed = static_cast<uint32_t>(left);
  }
  *bytesWritten = static_cast<uint32_t>(std::fwrite(data, 1, allowed, f->stream));
  M().writtenSoFar[key] += *bytesWritten;
  M().writes.push_back({f->windowsPath, *bytesWritten});
  Trace("wrote " + std::to_string(size) + " " + std::to_string(*bytesWritten));
  // A full disk reports success with what fit, then no progress at all.
  return allowed > 0 || size == 0;
}

void PlatformCloseFile(FileHandle file) {
  if (file == nullptr) return;
  sim::file_table::Close(file);
}

bool PlatformFlushFile(FileHandle file) {
  SimFile* f = sim::file_table::Of(file);
  if (!FileOperation("flush", f->windowsPath)) return false;
  return std::fflush(f->stream) == 0;
}

bool PlatformMoveFile(const char* from, const char* to, bool replace) {
  if (!FileOperation("move", std::string(from) + ">" + to)) return false;
  std::string hostFrom = sim::HostPath(from);
  std::string hostTo = sim::HostPath(to);
  struct stat st {};
  if (hostFrom.empty() || hostTo.empty() || stat(hostFrom.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  // A file another process holds open cannot be renamed, nor renamed over.
  if (M().denied.count(Key(from)) != 0 || M().denied.count(Key(to)) != 0) return false;
  if (stat(hostTo.c_str(), &st) == 0 && (!replace || S_ISDIR(st.st_mode))) return false;
  return std::rename(hostFrom.c_str(), hostTo.c_str()) == 0;
}

bool PlatformDeleteFile(const char* path) {
  if (!FileOperation("delete", path)) return false;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host) || M().denied.count(Key(path)) != 0) return false;
  return std::remove(host.c_str()) == 0;
}

PathKind PlatformQueryPath(const char* path) {
  std::string host = sim::HostPath(path);
  struct stat st {};
  if (host.empty() || stat(host.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

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
  for (const std::string& prefix : M().otherVolumes) {
    if (Key(f->windowsPath).rfind(prefix, 0) == 0) facts->volume ^= 0x5A5A5A5Au;
  }
  facts->fileIndex = static_cast<uint64_t>(st.st_ino);
  facts->links = static_cast<uint32_t>(st.st_nlink);
  facts->reparsePoint = S_ISLNK(st.st_mode);
  return true;
}

FinalPath PlatformFinalPath(FileHandle file, char16_t* buffer, std::size_t bufferUnits) {
  if (M().noFinalPaths) return FinalPath::NotAvailable;
  SimFile* f = sim::file_table::Of(file);
  char resolved[PATH_MAX];
  if (realpath(sim::HostPath(f->windowsPath).c_str(), resolved) == nullptr) return FinalPath::Failed;
  std::string path = WindowsPathOf(resolved);
  for (const auto& [from, to] : M().movedFinalPaths) {
    if (Key(path).rfind(Key(from), 0) == 0) path = to + path.substr(from.size());
  }
  path = "\\\\?\\" + path;
  if (path.size() >= bufferUnits) return FinalPath::Failed;
  for (std::size_t i = 0; i <= path.size(); ++i) buffer[i] = static_cast<unsigned char>(path.c_str()[i]);
  return FinalPath::Known;
}

bool PlatformFlushFolder(const char* path) {
  if (!FileOperation("flush-folder", path)) return false;
  std::string host = sim::HostPath(path);
  return !host.empty() && IsDirectory(host);
}

LockResult PlatformLockFile(const char* path, FileHandle* lock) {
  *lock = nullptr;
  if (!FileOperation("lock", path)) return LockResult::Failed;
  if (M().locksElsewhere.count(Key(path)) != 0) return LockResult::Busy;
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

// ---------------------------------------------------------------- profile files

void PlatformReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                               uint32_t bufferSize, const char* path) {
  if (bufferSize == 0) return;
  std::string content;
  std::string value = defaultValue;
  std::string host = sim::HostPath(path);
  if (!host.empty() && !IsDirectory(host) && ReadHostFile(host, &content)) {
    ProfileTextGet(content, section, key, &value);
  }
  std::size_t n = value.size() < bufferSize - 1 ? value.size() : bufferSize - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}

bool PlatformWriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  Event(std::string("profile-write:") + section + "/" + key);
  if (!FileOperation("profile-write", path)) return false;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return false;
  std::string content;
  ReadHostFile(host, &content);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  std::string updated = ProfileTextSet(content, section, key, value);
  out.write(updated.data(), static_cast<std::streamsize>(updated.size()));
  return static_cast<bool>(out);
}

// ---------------------------------------------------------------- folders and disks

bool PlatformGetSpecialFolder(SpecialFolder folder, char* buffer) {
  auto found = M().specialFolders.find(folder);
  if (found == M().specialFolders.end() || found->second.empty() || found->second.size() >= kPathSize) return false;
  std::memcpy(buffer, found->second.c_str(), found->second.size() + 1);
  return true;
}

bool PlatformGetDiskSpace(const char* drive, uint64_t* totalBytes, uint64_t* freeBytes) {
  M().lastDiskQuery = drive;
  if (!M().diskAnswers) return false;
  *totalBytes = M().diskTotal;
  *freeBytes = M().diskFree;
  return true;
}

// ---------------------------------------------------------------- resources and modules

ResourceLookup PlatformFindResource(ModuleHandle module, ResourceType type, const char* name, const void** data,
                                    uint32_t* size) {
  if (module == sim::OwnModule()) {
    for (const OwnResource& r : M().ownResources) {
      if (r.type != type || !SameIgnoringAsciiCase(r.name, name)) continue;
      if (r.unloadable) return ResourceLookup::NotLoaded;
      static const uint8_t kEmpty = 0;  // an empty resource still has an address
      *data = r.bytes.empty() ? &kEmpty : r.bytes.data();
      *size = static_cast<uint32_t>(r.bytes.size());
      return ResourceLookup::Found;
    }
    return ResourceLookup::NotFound;
  }
  if (module == nullptr) return ResourceLookup::NotFound;
  const auto* loaded = reinterpret_cast<const SimModule*>(module);
  PeResourceEntry entry;
  std::string typeName = type == ResourceType::Payload             ? "BIN"
                         : type == ResourceType::CompressedPayload ? "ZST"
                                                                   : "#10";
  if (!PeFindResource(loaded->image.data(), loaded->image.size(), typeName, name, &entry)) {
    return ResourceLookup::NotFound;
  }
  *data = loaded->image.data() + entry.fileOffset;
  *size = entry.size;
  return ResourceLookup::Found;
}

ModuleHandle PlatformLoadDataModule(const char* path) {
  if (!FileOperation("load", path)) return nullptr;
  std::string host = sim::HostPath(path);
  std::string content;
  if (host.empty() || IsDirectory(host) || !ReadHostFile(host, &content)) return nullptr;
  auto module = std::make_unique<SimModule>();
  module->image.assign(content.begin(), content.end());
  std::vector<PeResourceEntry> entries;
  // The system refuses to map what is not a well-formed module.
  if (!PeReadResources(module->image.data(), module->image.size(), &entries)) return nullptr;
  ++M().liveModules;
  M().modules.insert(module.get());
  return reinterpret_cast<ModuleHandle>(module.release());
}

void PlatformFreeModule(ModuleHandle module) {
  if (module == nullptr || module == sim::OwnModule()) return;
  M().modules.erase(reinterpret_cast<SimModule*>(module));
  delete reinterpret_cast<SimModule*>(module);
  --M().liveModules;
}
