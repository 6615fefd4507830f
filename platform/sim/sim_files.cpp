// Files: real host files reached through the mapped drives, every open,
// write, flush and delete counted as one file operation, and the
// faults a test asks for (a file another process holds, a disk that fills,
// reads and writes that fail, a second name given to a file as it is
// created). A file's owner and access stay with the host file in an extended
// attribute, as a security descriptor stays with a file on the disk.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_durable.h"
#include "platform/sim/sim_file_table.h"

using sim::core::Event;
using sim::core::FileOperation;
using sim::core::IsDirectory;
using sim::core::Key;
using sim::core::Trace;
using sim::file_table::SimFile;

namespace {

struct Files {
  std::map<std::string, uint64_t> writeLimits;
  std::map<std::string, uint64_t> writtenSoFar;
  std::set<std::string> writeErrors;
  std::set<std::string> overReported;
  std::set<std::string> readErrors;
  std::vector<sim::WriteRecord> writes;
  std::map<std::string, std::string> linkWhenCreated;
  bool noFlushThreads = false;
};

Files& F() {
  static Files files;
  return files;
}

void ResetFiles() { F() = Files(); }
const sim::core::PartReset kFilesReset(ResetFiles);

using sim::core::kSecurityAttribute;
const char kPlayer[] = "player";

// "<owner>|<who has access>,<...>"
std::string Encode(const sim::FileSecurity& security) {
  std::string text = security.owner + "|";
  for (std::size_t i = 0; i < security.access.size(); ++i) text += (i > 0 ? "," : "") + security.access[i];
  return text;
}

// A file that carries no security of its own is the player's, as a file
// the player put there is.
sim::FileSecurity Decode(const char* text, ssize_t length) {
  if (length <= 0) return {kPlayer, {kPlayer}};
  std::string all(text, static_cast<std::size_t>(length));
  sim::FileSecurity security{all.substr(0, all.find('|')), {}};
  std::string rest = all.find('|') == std::string::npos ? "" : all.substr(all.find('|') + 1);
  while (!rest.empty()) {
    std::size_t comma = rest.find(',');
    security.access.push_back(rest.substr(0, comma));
    rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
  }
  return security;
}

FileHandle OpenHostFile(const char* path, FileMode mode) {
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return nullptr;
  if (mode != FileMode::ReadExisting && sim::file_table::HeldElsewhere(path)) return nullptr;
  // "x": fails on any existing name, a dangling link included.
  const char* how = mode == FileMode::ReadExisting        ? "rb"
                    : mode == FileMode::WriteCreateAlways ? "wb"
                    : mode == FileMode::WriteCreateNew    ? "wbx"
                                                          : "r+b";
  struct stat st {};
  const bool existed = stat(host.c_str(), &st) == 0;
  std::FILE* stream = std::fopen(host.c_str(), how);
  if (stream == nullptr) return nullptr;
  if (!existed) sim::durable::Created(path);
  auto second = F().linkWhenCreated.find(Key(path));
  if (mode == FileMode::WriteCreateNew && second != F().linkWhenCreated.end()) {
    link(host.c_str(), second->second.c_str());
  }
  F().writtenSoFar[Key(path)] = 0;
  return sim::file_table::Add(stream, path, false);
}

}  // namespace

namespace sim {

void HoldOpenWithoutWriteSharing(const std::string& windowsPath) { file_table::HoldElsewhere(windowsPath); }
void LimitWrites(const std::string& windowsPath, uint64_t limitBytes) { F().writeLimits[Key(windowsPath)] = limitBytes; }
void FailWritesWithError(const std::string& windowsPath) { F().writeErrors.insert(Key(windowsPath)); }
void OverReportWrites(const std::string& windowsPath) { F().overReported.insert(Key(windowsPath)); }
void FailReads(const std::string& windowsPath) { F().readErrors.insert(Key(windowsPath)); }
void RefuseFlushThreads() { F().noFlushThreads = true; }
const std::vector<WriteRecord>& Writes() { return F().writes; }
void LinkWhenCreated(const std::string& windowsPath, const std::string& hostSecondName) {
  F().linkWhenCreated[Key(windowsPath)] = hostSecondName;
}

void SetFileSecurity(const std::string& windowsPath, const FileSecurity& security) {
  const std::string text = Encode(security);
  if (lsetxattr(HostPath(windowsPath).c_str(), kSecurityAttribute, text.data(), text.size(), 0) != 0) {
    std::perror("the simulation keeps a file's security in an extended attribute");
  }
}

FileSecurity FileSecurityOf(const std::string& windowsPath) {
  char text[256];
  return Decode(text, lgetxattr(HostPath(windowsPath).c_str(), kSecurityAttribute, text, sizeof text));
}

}  // namespace sim

FileHandle PlatformOpenFile(const char* path, FileMode mode) {
  static const char* const kinds[] = {"open-read", "open-create", "open-write", "open-exclusive", "open-new"};
  if (!FileOperation(kinds[static_cast<int>(mode)], path)) return nullptr;
  return OpenHostFile(path, mode);
}

FileHandle PlatformCreateAdministratorsFile(const char* path) {
  if (!FileOperation("open-new", path)) return nullptr;
  FileHandle file = OpenHostFile(path, FileMode::WriteCreateNew);
  if (file == nullptr) return nullptr;
  const std::string text = Encode({"Administrators", {"Administrators", "SYSTEM"}});
  if (fsetxattr(fileno(sim::file_table::Of(file)->stream), kSecurityAttribute, text.data(), text.size(), 0) != 0) {
    std::perror("the simulation keeps a file's security in an extended attribute");
    sim::file_table::Close(file);
    std::remove(sim::HostPath(path).c_str());
    return nullptr;
  }
  return file;
}

bool PlatformOwnedByAdministrators(FileHandle file) {
  char text[256];
  const sim::FileSecurity security =
      Decode(text, lgetxattr(sim::file_table::HostPathNow(*sim::file_table::Of(file)).c_str(), kSecurityAttribute,
                             text, sizeof text));
  if (security.owner != "Administrators") return false;
  for (const std::string& who : security.access) {
    if (who != "Administrators" && who != "SYSTEM") return false;
  }
  return true;
}

// A handle with no stream behind it (a folder, a lock, a reparse point
// opened as itself) has no bytes to give or take.
bool PlatformFileSize(FileHandle file, uint64_t* size) {
  SimFile* f = sim::file_table::Of(file);
  if (f->stream == nullptr) return false;
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
  *bytesRead = 0;
  if (f->stream == nullptr) return false;
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
  if (f->stream == nullptr) return false;
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
  if (f->stream == nullptr || std::fflush(f->stream) != 0) return false;
  sim::durable::FileFlushed(f->windowsPath);
  return true;
}

// The simulated disk takes the bytes at once: what a flush begun in the
// background is sure to take, no more.
PendingFlush PlatformBeginFlush(FileHandle file) {
  if (F().noFlushThreads) return nullptr;
  SimFile* f = sim::file_table::Of(file);
  if (f->flushPending) Event("misuse:a second flush begun:" + f->windowsPath);
  f->flushPending = true;
  f->flushSucceeded = PlatformFlushFile(file);
  return reinterpret_cast<PendingFlush>(file);
}

bool PlatformEndFlush(PendingFlush flush) {
  SimFile* f = sim::file_table::Of(reinterpret_cast<FileHandle>(flush));
  f->flushPending = false;
  return f->flushSucceeded;
}

bool PlatformDeleteFile(const char* path) {
  if (!FileOperation("delete", path)) return false;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host) || sim::file_table::HeldElsewhere(path)) return false;
  return std::remove(host.c_str()) == 0;
}

PathKind PlatformQueryPath(const char* path) {
  std::string host = sim::HostPath(path);
  struct stat st {};
  if (host.empty() || stat(host.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool PlatformSeekFile(FileHandle file, uint64_t offset) {
  SimFile* f = sim::file_table::Of(file);
  if (!FileOperation("seek", f->windowsPath)) return false;
  return f->stream != nullptr && std::fseek(f->stream, static_cast<long>(offset), SEEK_SET) == 0;
}

bool PlatformSetFileEnd(FileHandle file) {
  SimFile* f = sim::file_table::Of(file);
  if (!FileOperation("set-end", f->windowsPath)) return false;
  if (f->stream == nullptr || std::fflush(f->stream) != 0) return false;
  long at = std::ftell(f->stream);
  return at >= 0 && ftruncate(fileno(f->stream), at) == 0;
}
