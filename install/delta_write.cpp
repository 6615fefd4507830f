#include "install/delta_write.h"

#include "base/zstd_stream.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "install/delta_decode.h"
#include "install/delta_format.h"
#include "install/delta_identify.h"
#include "install/file_switch.h"

namespace {

bool FindChosenDelta(int index, const char* entry, const uint8_t** bytes, uint32_t* size, bool* notLoaded) {
  *notLoaded = false;
  if (index < 0 || index >= kDeltaFilesMax || g_state.chosenDelta[index] == 0) return false;
  char name[64];
  if (!FormDeltaName(entry, g_state.chosenDelta[index], name)) return false;
  const void* data = nullptr;
  ResourceLookup found = PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, size);
  if (found != ResourceLookup::Found || data == nullptr) {
    *notLoaded = found != ResourceLookup::NotFound;
    return false;
  }
  *bytes = static_cast<const uint8_t*>(data);
  return true;
}

const char* EntryAt(int index) {
  for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e, --index) {
    if (index == 0) return e->relativePath;
  }
  return nullptr;
}

struct RunProgress {
  ProgressReport report;
  uint32_t total;
  uint32_t* runDone;
};

void AfterPiece(uint32_t bytes, void* context) {
  auto* progress = static_cast<RunProgress*>(context);
  *progress->runDone += bytes;
  progress->report(ProgressPercent(*progress->runDone, progress->total));
}

}  // namespace

bool ChosenDeltaSize(int index, uint32_t* size) {
  const char* entry = EntryAt(index);
  const uint8_t* bytes = nullptr;
  uint32_t resourceSize = 0;
  bool notLoaded = false;
  if (entry == nullptr || !FindChosenDelta(index, entry, &bytes, &resourceSize, &notLoaded)) return false;
  ZstdFrameInfo info{};
  *size = 0;
  if (resourceSize >= kDeltaHeaderSize &&
      ZstdReadFrameHeader(bytes + kDeltaHeaderSize, resourceSize - kDeltaHeaderSize, &info) && info.sizeDeclared &&
      info.contentSize <= kDeltaFileLimit) {
    *size = static_cast<uint32_t>(info.contentSize);
  }
  return true;
}

bool WriteFileFromDelta(int index, const char* entry, ProgressReport report, uint32_t total, uint32_t* runDone,
                        MessageId* failure) {
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  bool notLoaded = false;
  if (!FindChosenDelta(index, entry, &bytes, &size, &notLoaded)) {
    *failure = notLoaded ? MSG_WRITE_NOT_LOADED : MSG_WRITE_NO_PAYLOAD;
    return false;
  }
  *failure = MSG_WRITE_CREATE_FAILED;
  char target[kPathSize];
  if (!FormSwitchPath(entry, Beside::Target, target)) return false;
  FileHandle file = CreateNewFile(entry);
  if (file == nullptr) return false;
  RunProgress progress{report, total, runDone};
  bool ok = DecodeDelta(bytes, size, target, file, AfterPiece, &progress, failure) &&
            PlatformFlushFile(file);  // the switch must never put in bytes still on their way
  PlatformCloseFile(file);
  return ok;
}
