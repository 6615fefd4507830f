#include "platform/sim/sim_file_table.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

using sim::file_table::SimFile;

namespace {

std::set<SimFile*>& OpenFiles() {
  static std::set<SimFile*> files;
  return files;
}

std::set<std::string>& HeldByOthers() {
  static std::set<std::string> held;
  return held;
}

void Release(SimFile* f) {
  if (f->stream != nullptr) std::fclose(f->stream);
  if (f->descriptor >= 0) close(f->descriptor);
  if (f->deleteOnClose) std::remove(sim::HostPath(f->windowsPath).c_str());
  delete f;
}

// A run cut off mid-way leaves its handles behind, as a dead process does;
// the system closes them, and a lock's file goes with its handle.
void ResetFileTable() {
  for (SimFile* f : OpenFiles()) Release(f);
  OpenFiles().clear();
  HeldByOthers().clear();
}
const sim::core::PartReset kFileTableReset(ResetFileTable);

std::string DescriptorPath(int descriptor) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
  char target[PATH_MAX];
  ssize_t length = readlink(link, target, sizeof target - 1);
  if (length < 0) return "";
  return std::string(target, static_cast<std::size_t>(length));
}

}  // namespace

namespace sim::file_table {

FileHandle Add(std::FILE* stream, const std::string& windowsPath, bool deleteOnClose, int descriptor) {
  auto* f = new SimFile{stream, windowsPath, deleteOnClose, descriptor};
  OpenFiles().insert(f);
  return reinterpret_cast<FileHandle>(f);
}

SimFile* Of(FileHandle file) { return reinterpret_cast<SimFile*>(file); }

void Close(FileHandle file) {
  SimFile* f = Of(file);
  // The real flush runs on another thread, which still uses the handle.
  if (f->flushPending) sim::core::Event("misuse:closed while flushing:" + f->windowsPath);
  OpenFiles().erase(f);
  Release(f);
}

void DrainStreams() {
  for (SimFile* f : OpenFiles()) {
    if (f->stream != nullptr) std::fflush(f->stream);
  }
}

bool LockHeld(const std::string& windowsPath) {
  for (SimFile* f : OpenFiles()) {
    if (f->deleteOnClose && core::Key(f->windowsPath) == core::Key(windowsPath)) return true;
  }
  return false;
}

std::string HostPathNow(const SimFile& file) {
  if (file.descriptor >= 0) return DescriptorPath(file.descriptor);
  if (file.stream != nullptr) return DescriptorPath(fileno(file.stream));
  char resolved[PATH_MAX];
  return realpath(sim::HostPath(file.windowsPath).c_str(), resolved) != nullptr ? resolved : "";
}

bool AnyOpenInside(const std::string& hostFolder) {
  for (SimFile* f : OpenFiles()) {
    if (HostPathNow(*f).rfind(hostFolder + "/", 0) == 0) return true;
  }
  return false;
}

void HoldElsewhere(const std::string& windowsPath) { HeldByOthers().insert(core::Key(windowsPath)); }
bool HeldElsewhere(const std::string& windowsPath) { return HeldByOthers().count(core::Key(windowsPath)) != 0; }

}  // namespace sim::file_table

namespace sim {

int LiveFiles() { return static_cast<int>(OpenFiles().size()); }

}  // namespace sim
