#include "platform/sim/sim_file_table.h"

#include <set>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

using sim::file_table::SimFile;

namespace {

std::set<SimFile*>& OpenFiles() {
  static std::set<SimFile*> files;
  return files;
}

void Release(SimFile* f) {
  if (f->stream != nullptr) std::fclose(f->stream);
  if (f->deleteOnClose) std::remove(sim::HostPath(f->windowsPath).c_str());
  delete f;
}

// A run cut off mid-way leaves its handles behind, as a dead process does;
// the system closes them, and a lock's file goes with its handle.
void ResetFileTable() {
  for (SimFile* f : OpenFiles()) Release(f);
  OpenFiles().clear();
}
const sim::core::PartReset kFileTableReset(ResetFileTable);

}  // namespace

namespace sim::file_table {

FileHandle Add(std::FILE* stream, const std::string& windowsPath, bool deleteOnClose) {
  auto* f = new SimFile{stream, windowsPath, deleteOnClose};
  OpenFiles().insert(f);
  return reinterpret_cast<FileHandle>(f);
}

SimFile* Of(FileHandle file) { return reinterpret_cast<SimFile*>(file); }

void Close(FileHandle file) {
  SimFile* f = Of(file);
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

}  // namespace sim::file_table

namespace sim {

int LiveFiles() { return static_cast<int>(OpenFiles().size()); }

}  // namespace sim
