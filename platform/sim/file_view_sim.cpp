#include "platform/sim/file_view_sim.h"

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "platform/file_view.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_file_table.h"

namespace {

struct SimView {
  std::vector<uint8_t> bytes;
};

// What the program has mapped and not yet unmapped; a process cut off while
// it held a view gives it back with the machine's reset.
std::set<SimView*>& LiveViews() {
  static std::set<SimView*> views;
  return views;
}

void ResetFileViews() {
  for (SimView* view : LiveViews()) delete view;
  LiveViews().clear();
}
const sim::core::PartReset kFileViewsReset(ResetFileViews);

}  // namespace

namespace sim {

int LiveFileViews() { return static_cast<int>(LiveViews().size()); }

}  // namespace sim

FileView PlatformMapOpenFile(FileHandle file, const uint8_t** bytes, uint64_t* size) {
  *bytes = nullptr;
  *size = 0;
  const sim::file_table::SimFile* f = sim::file_table::Of(file);
  if (!sim::core::FileOperation("map", f->windowsPath)) return nullptr;
  // The bytes of the file the handle has open, whatever its name leads to now.
  struct stat st {};
  if (f->stream == nullptr || fstat(fileno(f->stream), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto* view = new SimView{std::vector<uint8_t>(static_cast<std::size_t>(st.st_size))};
  std::size_t done = 0;
  while (done < view->bytes.size()) {
    ssize_t got = pread(fileno(f->stream), view->bytes.data() + done, view->bytes.size() - done,
                        static_cast<off_t>(done));
    if (got <= 0) {
      delete view;
      return nullptr;
    }
    done += static_cast<std::size_t>(got);
  }
  *bytes = view->bytes.empty() ? nullptr : view->bytes.data();
  *size = view->bytes.size();
  LiveViews().insert(view);
  return reinterpret_cast<FileView>(view);
}

void PlatformUnmapFile(FileView view) {
  if (view == nullptr) return;
  auto* mapped = reinterpret_cast<SimView*>(view);
  LiveViews().erase(mapped);
  delete mapped;
}
