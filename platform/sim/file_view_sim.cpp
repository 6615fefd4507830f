#include "platform/sim/file_view_sim.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/file_view.h"
#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"

namespace {

struct SimView {
  std::vector<uint8_t> bytes;
};

int g_liveViews = 0;

void ResetFileViews() { g_liveViews = 0; }
const sim::core::PartReset kFileViewsReset(ResetFileViews);

}  // namespace

namespace sim {

int LiveFileViews() { return g_liveViews; }

}  // namespace sim

FileView PlatformMapFileForReading(const char* path, const uint8_t** bytes, uint64_t* size) {
  *bytes = nullptr;
  *size = 0;
  if (!sim::core::FileOperation("map", path)) return nullptr;
  std::string host = sim::HostPath(path);
  std::error_code ignored;
  if (host.empty() || !std::filesystem::is_regular_file(host, ignored)) return nullptr;
  std::ifstream in(host, std::ios::binary);
  if (!in) return nullptr;
  auto* view = new SimView{std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
  if (in.bad()) {
    delete view;
    return nullptr;
  }
  *bytes = view->bytes.empty() ? nullptr : view->bytes.data();
  *size = view->bytes.size();
  ++g_liveViews;
  return reinterpret_cast<FileView>(view);
}

void PlatformUnmapFile(FileView view) {
  if (view == nullptr) return;
  delete reinterpret_cast<SimView*>(view);
  --g_liveViews;
}
