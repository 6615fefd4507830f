// Resources and modules: the updater's own resources as the test adds them,
// and data modules read from host files, their resources found by the same
// PE reader the tools use.
#include <memory>
#include <set>

#include "base/ascii_case.h"
#include "base/pe_resources.h"
#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

using sim::core::IsDirectory;

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

struct Resources {
  std::vector<OwnResource> ownResources;
  int liveModules = 0;
  std::set<SimModule*> modules;
};

Resources& R() {
  static Resources resources;
  return resources;
}

// A run cut off mid-way leaves its modules behind, as a dead process does;
// the system takes them back.
void ResetResources() {
  for (SimModule* m : R().modules) delete m;
  R() = Resources();
}
const sim::core::PartReset kResourcesReset(ResetResources);

char OwnModuleTag;

}  // namespace

namespace sim {

ModuleHandle OwnModule() { return reinterpret_cast<ModuleHandle>(&OwnModuleTag); }

void AddOwnResource(ResourceType type, const std::string& name, const std::vector<uint8_t>& bytes) {
  for (OwnResource& r : R().ownResources) {
    if (r.type == type && SameIgnoringAsciiCase(r.name, name)) {
      r = {type, name, bytes, false};
      return;
    }
  }
  R().ownResources.push_back({type, name, bytes, false});
}

void MakeOwnResourceUnloadable(ResourceType type, const std::string& name) {
  for (OwnResource& r : R().ownResources) {
    if (r.type == type && SameIgnoringAsciiCase(r.name, name)) r.unloadable = true;
  }
}

int LiveModules() { return R().liveModules; }

}  // namespace sim

ResourceLookup PlatformFindResource(ModuleHandle module, ResourceType type, const char* name, const void** data,
                                    uint32_t* size) {
  if (module == sim::OwnModule()) {
    for (const OwnResource& r : R().ownResources) {
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
                         : type == ResourceType::PayloadHashes     ? "HASH"
                                                                   : "#10";
  if (!PeFindResource(loaded->image.data(), loaded->image.size(), typeName, name, &entry)) {
    return ResourceLookup::NotFound;
  }
  *data = loaded->image.data() + entry.fileOffset;
  *size = entry.size;
  return ResourceLookup::Found;
}

ModuleHandle PlatformLoadDataModule(const char* path) {
  if (!sim::core::FileOperation("load", path)) return nullptr;
  std::string host = sim::HostPath(path);
  std::string content;
  if (host.empty() || IsDirectory(host) || !sim::core::ReadHostFile(host, &content)) return nullptr;
  auto module = std::make_unique<SimModule>();
  module->image.assign(content.begin(), content.end());
  std::vector<PeResourceEntry> entries;
  // The system refuses to map what is not a well-formed module.
  if (!PeReadResources(module->image.data(), module->image.size(), &entries)) return nullptr;
  ++R().liveModules;
  R().modules.insert(module.get());
  return reinterpret_cast<ModuleHandle>(module.release());
}

void PlatformFreeModule(ModuleHandle module) {
  if (module == nullptr || module == sim::OwnModule()) return;
  R().modules.erase(reinterpret_cast<SimModule*>(module));
  delete reinterpret_cast<SimModule*>(module);
  --R().liveModules;
}
