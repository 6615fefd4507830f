#include "install/delta_write.h"

#include "base/text_format.h"
#include "base/zstd_stream.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "install/delta_format.h"
#include "install/delta_identify.h"
#include "install/file_switch.h"
#include "platform/file_view.h"

namespace {

// One write never exceeds this, so the window is refreshed often enough.
constexpr uint32_t kChunkLimit = 0xFFFE;

// The decoder's memory, its window as large as the new file above all, goes
// through the platform as every other buffer.
void* DecoderAllocate(size_t size) { return PlatformAllocZeroed(size); }
const ZstdAllocator kDecoderMemory = {DecoderAllocate, PlatformFree};

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

bool WriteAll(FileHandle file, const uint8_t* bytes, uint32_t size) {
  while (size > 0) {
    uint32_t written = 0;
    // A write that fails or makes no progress would otherwise spin forever.
    if (!PlatformWriteFile(file, bytes, size, &written) || written == 0 || written > size) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

// Decodes the frame against the reference into file, piece by piece. A
// frame that does not decode is a payload that did not load, as a damaged
// compressed file is; a failed write is the file's own failure.
bool Decode(const uint8_t* frame, uint32_t frameSize, const uint8_t* reference, uint64_t referenceSize,
            FileHandle file, ProgressReport report, uint32_t total, uint32_t* runDone, MessageId* failure) {
  auto* piece = static_cast<uint8_t*>(PlatformAllocZeroed(kChunkLimit));
  if (piece == nullptr) return false;
  ZstdFailure decoding = ZstdFailure::None;
  // Only a delta's frame may ask for a window as large as its reference.
  ZstdStream* stream = ZstdOpenStream(frame, frameSize, kDeltaWindowLogMax, reference,
                                      static_cast<size_t>(referenceSize), &kDecoderMemory, &decoding);
  bool ok = stream != nullptr;
  if (!ok) *failure = MSG_WRITE_NOT_LOADED;
  while (ok) {
    size_t produced = 0;
    ZstdStep step = ZstdNextPiece(stream, piece, kChunkLimit, &produced, &decoding);
    if (step == ZstdStep::Failed) *failure = MSG_WRITE_NOT_LOADED;
    if (step == ZstdStep::Failed || !WriteAll(file, piece, static_cast<uint32_t>(produced))) {
      ok = false;
      break;
    }
    if (produced > 0) {
      *runDone += static_cast<uint32_t>(produced);
      report(ProgressPercent(*runDone, total));
    }
    if (step == ZstdStep::End) break;
  }
  ZstdCloseStream(stream);
  PlatformFree(piece);
  return ok;
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
  DeltaReference expected{};
  char target[kPathSize];
  char newFile[kPathSize];
  if (!ReadDeltaHeader(bytes, size, &expected) || expected.size > kDeltaFileLimit) {
    *failure = MSG_WRITE_NOT_LOADED;
    return false;
  }
  if (!FormSwitchPath(entry, Beside::Target, target) || !FormSwitchPath(entry, Beside::NewFile, newFile)) return false;
  // Nobody may write the installed file while it is the reference.
  const uint8_t* reference = nullptr;
  uint64_t referenceSize = 0;
  FileView view = PlatformMapFileForReading(target, &reference, &referenceSize);
  if (view == nullptr) return false;
  FileHandle file = PlatformOpenFile(newFile, FileMode::WriteCreateAlways);
  // A file changed since it was identified mostly shows in its size; a change
  // that keeps the size fails the frame's content checksum. Either way the
  // delta cannot give the new file.
  if (file != nullptr && referenceSize != expected.size) *failure = MSG_WRITE_NOT_LOADED;
  bool ok = file != nullptr && referenceSize == expected.size &&
            Decode(bytes + kDeltaHeaderSize, size - kDeltaHeaderSize, reference, referenceSize, file, report, total,
                   runDone, failure) &&
            PlatformFlushFile(file);  // the switch must never put in bytes still on their way
  PlatformCloseFile(file);
  PlatformUnmapFile(view);
  return ok;
}
