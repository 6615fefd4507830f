#include "install/source/piece_source.h"

#include "base/text_format.h"
#include "core/updater_state.h"
#include "files/checked_open.h"
#include "install/source/delta_format.h"

namespace {

// One write never exceeds this, so the window is refreshed often enough.
constexpr uint32_t kPieceLimit = 0xFFFE;

// The decoder's memory, a delta's window as large as the new file above all,
// goes through the platform as every other buffer.
void* DecoderAllocate(size_t size) { return PlatformAllocZeroed(size); }
const ZstdAllocator kDecoderMemory = {DecoderAllocate, PlatformFree};

bool FindCompressed(const char* name, PieceSource* source, bool* found) {
  const void* data = nullptr;
  uint32_t size = 0;
  ResourceLookup lookup = PlatformFindResource(g_state.instance, ResourceType::CompressedPayload, name, &data, &size);
  *found = lookup != ResourceLookup::NotFound;
  if (lookup != ResourceLookup::Found || data == nullptr) return false;
  source->resource = {static_cast<const uint8_t*>(data), size};
  ZstdFrameInfo info{};
  if (!ZstdReadFrameHeader(source->resource.bytes, size, &info) || !info.sizeDeclared || !info.checksummed ||
      info.contentSize > UINT32_MAX) {
    return false;
  }
  source->size = static_cast<uint32_t>(info.contentSize);
  return true;
}

// The delta that identification chose for payload entry `index`, found
// whole; identification only chooses one it found so.
bool FindChosenDelta(int index, const char* entry, const uint8_t** bytes, uint32_t* size, char (&name)[64]) {
  if (index < 0 || index >= kDeltaFilesMax || g_state.chosenDelta[index] == 0) return false;
  if (!FormDeltaName(entry, g_state.chosenDelta[index], name)) return false;
  const void* data = nullptr;
  if (PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, size) != ResourceLookup::Found ||
      data == nullptr) {
    return false;
  }
  *bytes = static_cast<const uint8_t*>(data);
  return true;
}

// A delta's mapped reference, its frame checked as the build makes them: the
// size it declares, its checksum, nothing beyond the run's limit.
bool OpenDelta(PieceSource* source, MessageId* failure) {
  const uint8_t* resource = source->resource.bytes;
  const uint32_t size = source->resource.size;
  DeltaReference expected{};
  ZstdFrameInfo frame{};
  if (!ReadDeltaHeader(resource, size, &expected) || expected.size > kDeltaFileLimit ||
      !ZstdReadFrameHeader(resource + kDeltaHeaderSize, size - kDeltaHeaderSize, &frame) || !frame.sizeDeclared ||
      !frame.checksummed || frame.contentSize > kDeltaFileLimit || frame.windowSize > kDeltaFileLimit) {
    *failure = MSG_WRITE_NOT_LOADED;
    return false;
  }
  *failure = MSG_WRITE_CREATE_FAILED;
  const uint8_t* reference = nullptr;
  uint64_t referenceSize = 0;
  source->referenceFile = OpenInstalledFile(source->reference, source->referenceEntry);
  if (source->referenceFile == nullptr) return false;
  source->view = PlatformMapOpenFile(source->referenceFile, &reference, &referenceSize);
  if (source->view == nullptr) return false;
  // A file changed since it was identified mostly shows in its size; a change
  // that keeps the size fails the frame's content checksum. Either way the
  // delta cannot give the new file.
  if (referenceSize != expected.size) {
    *failure = MSG_WRITE_NOT_LOADED;
    return false;
  }
  source->size = static_cast<uint32_t>(frame.contentSize);
  source->buffer = static_cast<uint8_t*>(PlatformAllocZeroed(kPieceLimit));
  if (source->buffer == nullptr) return false;
  ZstdFailure decoding = ZstdFailure::None;
  // Only a delta's frame may ask for a window as large as its reference.
  source->stream = ZstdOpenStream(resource + kDeltaHeaderSize, size - kDeltaHeaderSize, kDeltaWindowLogMax, reference,
                                  static_cast<size_t>(referenceSize), &kDecoderMemory, &decoding);
  if (source->stream == nullptr) *failure = MSG_WRITE_NOT_LOADED;
  return source->stream != nullptr;
}

// The one zstd piece loop, for a frame alone and for a delta's.
PieceStep NextFramePiece(PieceSource* source, const uint8_t** bytes, uint32_t* size) {
  const uint32_t remaining = source->size - source->handedOut;
  size_t produced = 0;
  ZstdFailure failure = ZstdFailure::None;
  ZstdStep step = ZstdNextPiece(source->stream, source->buffer, kPieceLimit, &produced, &failure);
  // The size the frame declared is what the free-space check and the
  // percentage counted: not a byte more, and at the end not a byte less.
  if (step == ZstdStep::Failed || produced > remaining || (step == ZstdStep::End && produced != remaining)) {
    return PieceStep::Damaged;
  }
  if (produced == 0) return PieceStep::End;  // the frame ended after the last full piece
  *bytes = source->buffer;
  *size = static_cast<uint32_t>(produced);
  source->handedOut += *size;
  return PieceStep::Piece;
}

}  // namespace

void DeltaPieceSource(const uint8_t* resource, uint32_t size, const char* entry, PieceSource* source) {
  *source = PieceSource{};
  source->kind = PieceKind::Delta;
  source->resource = {resource, size};
  source->referenceEntry = entry;
  // A path that does not fit maps nothing; the new file beside it, longer
  // still, is never created either.
  if (!JoinPath(source->reference, sizeof source->reference, g_state.installFolder, entry)) {
    source->reference[0] = '\0';
  }
  // What the frame declares, counted before it is checked; a frame the open
  // refuses writes nothing.
  ZstdFrameInfo info{};
  if (size >= kDeltaHeaderSize && ZstdReadFrameHeader(resource + kDeltaHeaderSize, size - kDeltaHeaderSize, &info) &&
      info.sizeDeclared && info.contentSize <= kDeltaFileLimit) {
    source->size = static_cast<uint32_t>(info.contentSize);
  }
}

bool ChoosePieceSource(int index, const char* entry, PieceSource* source, PayloadError* error) {
  *source = PieceSource{};
  *error = PayloadError::None;
  const uint8_t* delta = nullptr;
  uint32_t deltaSize = 0;
  char deltaName[64];
  if (FindChosenDelta(index, entry, &delta, &deltaSize, deltaName)) {
    DeltaPieceSource(delta, deltaSize, entry, source);
    CopyText(source->resourceName, sizeof source->resourceName, deltaName);
    return true;
  }
  const char* name = FinalPathComponent(entry);
  CopyText(source->resourceName, sizeof source->resourceName, name);
  source->reportEachWrite = true;
  bool found = false;
  if (FindCompressed(name, source, &found)) {
    source->kind = PieceKind::Frame;
    return true;
  }
  if (found) {
    *error = PayloadError::NotLoaded;
    ShowMessage(MSG_PAYLOAD_NOT_LOADED);
    return false;
  }
  if (!FindPayload(name, &source->resource, error)) return false;
  source->kind = PieceKind::Stored;
  source->size = source->resource.size;
  return true;
}

bool OpenPieceSource(PieceSource* source, MessageId* failure) {
  source->handedOut = 0;
  source->stream = nullptr;
  source->buffer = nullptr;
  source->referenceFile = nullptr;
  source->view = nullptr;
  switch (source->kind) {
    case PieceKind::Stored:
      return true;
    case PieceKind::Frame: {
      *failure = MSG_WRITE_NOT_LOADED;
      source->buffer = static_cast<uint8_t*>(PlatformAllocZeroed(kPieceLimit));
      if (source->buffer == nullptr) return false;
      ZstdFailure decoding = ZstdFailure::None;
      source->stream = ZstdOpenStream(source->resource.bytes, source->resource.size, kPayloadWindowLog, nullptr, 0,
                                      &kDecoderMemory, &decoding);
      return source->stream != nullptr;
    }
    case PieceKind::Delta:
      return OpenDelta(source, failure);
  }
  return false;
}

PieceStep NextPiece(PieceSource* source, const uint8_t** bytes, uint32_t* size) {
  *size = 0;
  switch (source->kind) {
    case PieceKind::Stored: {
      const uint32_t remaining = source->size - source->handedOut;
      if (remaining == 0) return PieceStep::End;
      *bytes = source->resource.bytes + source->handedOut;
      *size = remaining < kPieceLimit ? remaining : kPieceLimit;
      source->handedOut += *size;
      return PieceStep::Piece;
    }
    case PieceKind::Frame:
    case PieceKind::Delta:
      return NextFramePiece(source, bytes, size);
  }
  return PieceStep::Damaged;
}

void ClosePieceSource(PieceSource* source) {
  ZstdCloseStream(source->stream);
  source->stream = nullptr;
  if (source->buffer != nullptr) PlatformFree(source->buffer);
  source->buffer = nullptr;
  PlatformUnmapFile(source->view);
  source->view = nullptr;
  PlatformCloseFile(source->referenceFile);
  source->referenceFile = nullptr;
}
