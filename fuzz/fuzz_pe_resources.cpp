// Fingerprint modules and the updater's own file are read as PE files that
// may be damaged or hostile: every resource reported must lie in the file,
// and every one listed must be found again by its type and name.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "base/pe_resources.h"

namespace {

void CheckWithinFile(const PeResourceEntry& entry, std::size_t size) {
  FUZZ_CHECK(uint64_t{entry.fileOffset} + entry.size <= size);
  FUZZ_CHECK(uint64_t{entry.entryOffset} + 8 <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<PeResourceEntry> entries{PeResourceEntry{"stale", "stale", 0, 0, 0, 0}};
  bool readable = PeReadResources(data, size, &entries);
  if (!readable) FUZZ_CHECK(entries.empty());
  for (const PeResourceEntry& entry : entries) {
    CheckWithinFile(entry, size);
    PeResourceEntry found{};
    FUZZ_CHECK(PeFindResource(data, size, entry.type, entry.name, &found));
    CheckWithinFile(found, size);
  }

  // The names the updater itself looks up.
  const char* const lookups[][2] = {
      {"#10", "RESOURCE.dll"}, {"#10", "LMH.EXE"}, {"BIN", "LMH.EXE"}, {"#10", "FILLER"}, {"#3", "#1"},
  };
  for (const auto& lookup : lookups) {
    PeResourceEntry found{};
    if (PeFindResource(data, size, lookup[0], lookup[1], &found)) {
      FUZZ_CHECK(readable);
      CheckWithinFile(found, size);
    }
  }
  return 0;
}
