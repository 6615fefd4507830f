#include "install/payload_source.h"

#include "core/messages.h"
#include "core/updater_state.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kPieceLimit = 0xFFFE;

// The decoder's memory goes through the platform, as every other buffer.
void* DecoderAllocate(size_t size) { return PlatformAllocZeroed(size); }
const ZstdAllocator kDecoderMemory = {DecoderAllocate, PlatformFree};

bool FindCompressed(const char* name, PayloadSource* source, bool* found) {
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

}  // namespace

bool FindPayloadSource(const char* name, PayloadSource* source, PayloadError* error) {
  *source = PayloadSource{};
  bool found = false;
  if (FindCompressed(name, source, &found)) {
    source->compressed = true;
    *error = PayloadError::None;
    return true;
  }
  if (found) {
    *error = PayloadError::NotLoaded;
    ShowMessage(MSG_PAYLOAD_NOT_LOADED);
    return false;
  }
  if (!FindPayload(name, &source->resource, error)) return false;
  source->size = source->resource.size;
  return true;
}

bool OpenPayloadSource(PayloadSource* source) {
  source->handedOut = 0;
  source->stream = nullptr;
  source->buffer = nullptr;
  if (!source->compressed) return true;
  ZstdFailure failure = ZstdFailure::None;
  source->buffer = static_cast<uint8_t*>(PlatformAllocZeroed(kPieceLimit));
  if (source->buffer == nullptr) return false;
  source->stream = ZstdOpenStream(source->resource.bytes, source->resource.size, kPayloadWindowLog, nullptr, 0,
                                  &kDecoderMemory, &failure);
  return source->stream != nullptr;
}

PieceStep NextPayloadPiece(PayloadSource* source, const uint8_t** bytes, uint32_t* size) {
  *size = 0;
  const uint32_t remaining = source->size - source->handedOut;
  if (!source->compressed) {
    if (remaining == 0) return PieceStep::End;
    *bytes = source->resource.bytes + source->handedOut;
    *size = remaining < kPieceLimit ? remaining : kPieceLimit;
    source->handedOut += *size;
    return PieceStep::Piece;
  }
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

void ClosePayloadSource(PayloadSource* source) {
  ZstdCloseStream(source->stream);
  source->stream = nullptr;
  if (source->buffer != nullptr) PlatformFree(source->buffer);
  source->buffer = nullptr;
}
