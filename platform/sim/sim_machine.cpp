// The simulated backend of the native tests, apart from its core (sim_core),
// its file views, the screen (windows, texts, message boxes), the process,
// its memory, and its files and handles. Profile files are real host files
// reached through mapped drive letters; resources are simulated.
#include "platform/sim/platform_sim.h"

#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "base/ascii_case.h"
#include "base/pe_resources.h"
#include "platform/sim/profile_text.h"
#include "platform/sim/sim_core.h"

using sim::core::Event;
using sim::core::FileOperation;
using sim::core::IsDirectory;
using sim::core::ReadHostFile;

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

int LiveModules() { return M().liveModules; }

}  // namespace sim

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
