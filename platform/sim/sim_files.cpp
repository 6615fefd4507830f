// Files: real host files reached through the mapped drives, every open,
// write, flush, move and delete counted as one file operation, and the
// faults a test asks for (a file another process holds, a disk that fills,
// reads and writes that fail).
#include <sys/stat.h>

#include <cstdio>
#include <map>
#include <set>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_file_table.h"

using sim::core::Event;
using sim::core::FileOperation;
using sim::core::IsDirectory;
using sim::core::Key;
using sim::core::Trace;
using sim::file_table::SimFile;

namespace {

struct Files {
  std::set<std::string> denied;
  std::map<std::string, uint64_t> writeLimits;
  std::map<std::string, uint64_t> writtenSoFar;
  std::set<std::string> writeErrors;
  std::set<std::string> overReported;
  std::set<std::string> readErrors;
  std::vector<sim::WriteRecord> writes;
};

Files& F() {
  static Files files;
  return files;
}

void ResetFiles() { F() = Files(); }
const sim::core::PartReset kFilesReset(ResetFiles);

}  // namespace

namespace sim {

void HoldOpenWithoutWriteSharing(const std::string& windowsPath) { F().denied.insert(Key(windowsPath)); }
void LimitWrites(const std::string& windowsPath, uint64_t limitBytes) { F().writeLimits[Key(windowsPath)] = limitBytes; }
void FailWritesWithError(const std::string& windowsPath) { F().writeErrors.insert(Key(windowsPath)); }
void OverReportWrites(const std::string& windowsPath) { F().overReported.insert(Key(windowsPath)); }
void FailReads(const std::string& windowsPath) { F().readErrors.insert(Key(windowsPath)); }
const std::vector<WriteRecord>& Writes() { return F().writes; }

}  // namespace sim

FileHandle PlatformOpenFile(const char* path, FileMode mode) {
  static const char* const kinds[] = {"open-read", "open-create", "open-write", "open-exclusive", "open-new"};
  if (!FileOperation(kinds[static_cast<int>(mode)], path)) return nullptr;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return nullptr;
  if (mode != FileMode::ReadExisting && F().denied.count(Key(path)) != 0) return nullptr;
  // "x": fails on any existing name, a dangling link included.
  const char* how = mode == FileMode::ReadExisting        ? "rb"
                    : mode == FileMode::WriteCreateAlways ? "wb"
                    : mode == FileMode::WriteCreateNew    ? "wbx"
                                                          : "r+b";
  std::FILE* stream = std::fopen(host.c_str(), how);
  if (stream == nullptr) return nullptr;
  F().writtenSoFar[Key(path)] = 0;
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
  if (*bytesRead > 0) Event("read:" + std::to_string(*bytesRead) + " " + f->windowsPath, false);
  // A failing read still delivers what it read: only its answer tells.
  if (F().readErrors.count(Key(f->windowsPath)) != 0) return false;
  return !std::ferror(f->stream);
}

bool PlatformWriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* bytesWritten) {
  SimFile* f = sim::file_table::Of(file);
  std::string key = Key(f->windowsPath);
  *bytesWritten = 0;
  if (!FileOperation("write", f->windowsPath)) return false;
  if (F().writeErrors.count(key) != 0) return false;
  uint32_t allowed = size;
  auto limit = F().writeLimits.find(key);
  if (limit != F().writeLimits.end()) {
    uint64_t left = limit->second > F().writtenSoFar[key] ? limit->second - F().writtenSoFar[key] : 0;
    if (left < allowed) allowed = static_cast<uint32_t>(left);
  }
  *bytesWritten = static_cast<uint32_t>(std::fwrite(data, 1, allowed, f->stream));
  F().writtenSoFar[key] += *bytesWritten;
  F().writes.push_back({f->windowsPath, *bytesWritten});
  Event("write:" + std::to_string(*bytesWritten) + " " + f->windowsPath, false);
  Trace("wrote " + std::to_string(size) + " " + std::to_string(*bytesWritten));
  if (F().overReported.count(key) != 0) ++*bytesWritten;
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
  Event("flush:" + f->windowsPath, false);
  return std::fflush(f->stream) == 0;
}

bool PlatformMoveFile(const char* from, const char* to, bool replace) {
  if (!FileOperation("move", std::string(from) + ">" + to)) return false;
  Event("move:" + std::string(from) + ">" + to, false);
  std::string hostFrom = sim::HostPath(from);
  std::string hostTo = sim::HostPath(to);
  struct stat st {};
  if (hostFrom.empty() || hostTo.empty() || stat(hostFrom.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  // A file another process holds open cannot be renamed, nor renamed over.
  if (F().denied.count(Key(from)) != 0 || F().denied.count(Key(to)) != 0) return false;
  if (stat(hostTo.c_str(), &st) == 0 && (!replace || S_ISDIR(st.st_mode))) return false;
  return std::rename(hostFrom.c_str(), hostTo.c_str()) == 0;
}

bool PlatformDeleteFile(const char* path) {
  if (!FileOperation("delete", path)) return false;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host) || F().denied.count(Key(path)) != 0) return false;
  return std::remove(host.c_str()) == 0;
}

PathKind PlatformQueryPath(const char* path) {
  std::string host = sim::HostPath(path);
  struct stat st {};
  if (host.empty() || stat(host.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}
