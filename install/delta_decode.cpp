#include "install/delta_decode.h"

#include "base/zstd_stream.h"
#include "install/delta_format.h"
#include "platform/file_view.h"

namespace {

// One write never exceeds this, so the window is refreshed often enough.
constexpr uint32_t kChunkLimit = 0xFFFE;

// The decoder's memory, its window as large as the new file above all, goes
// through the platform as every other buffer.
void* DecoderAllocate(size_t size) { return PlatformAllocZeroed(size); }
const ZstdAllocator kDecoderMemory = {DecoderAllocate, PlatformFree};

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

bool Decode(const uint8_t* frame, uint32_t frameSize, const uint8_t* reference, uint64_t referenceSize,
            FileHandle file, PieceWritten afterPiece, void* context, MessageId* failure) {
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
    if (step == ZstdStep::Failed) {
      *failure = MSG_WRITE_NOT_LOADED;
      ok = false;
      break;
    }
    if (!WriteAll(file, piece, static_cast<uint32_t>(produced))) {
      ok = false;
      break;
    }
    if (produced > 0) afterPiece(static_cast<uint32_t>(produced), context);
    if (step == ZstdStep::End) break;
  }
  ZstdCloseStream(stream);
  PlatformFree(piece);
  return ok;
}

}  // namespace

bool DecodeDelta(const uint8_t* resource, uint32_t size, const char* referencePath, FileHandle file,
                 PieceWritten afterPiece, void* context, MessageId* failure) {
  DeltaReference expected{};
  ZstdFrameInfo frame{};
  // The build never makes a delta beyond the run's limit, nor one whose frame
  // does not declare its size and checksum.
  if (!ReadDeltaHeader(resource, size, &expected) || expected.size > kDeltaFileLimit ||
      !ZstdReadFrameHeader(resource + kDeltaHeaderSize, size - kDeltaHeaderSize, &frame) || !frame.sizeDeclared ||
      !frame.checksummed || frame.contentSize > kDeltaFileLimit || frame.windowSize > kDeltaFileLimit) {
    *failure = MSG_WRITE_NOT_LOADED;
    return false;
  }
  *failure = MSG_WRITE_CREATE_FAILED;
  const uint8_t* reference = nullptr;
  uint64_t referenceSize = 0;
  FileView view = PlatformMapFileForReading(referencePath, &reference, &referenceSize);
  if (view == nullptr) return false;
  // A file changed since it was identified mostly shows in its size; a change
  // that keeps the size fails the frame's content checksum. Either way the
  // delta cannot give the new file.
  bool ok = false;
  if (referenceSize != expected.size) {
    *failure = MSG_WRITE_NOT_LOADED;
  } else {
    ok = Decode(resource + kDeltaHeaderSize, size - static_cast<uint32_t>(kDeltaHeaderSize), reference, referenceSize,
                file, afterPiece, context, failure);
  }
  PlatformUnmapFile(view);
  return ok;
}
