#include "base/zstd_stream.h"

#include <new>

#define ZSTD_STATIC_LINKING_ONLY  // frame header query
#include <zstd.h>
#include <zstd_errors.h>
#define XXH_STATIC_LINKING_ONLY  // the hash state's layout, so callers can hold it
#include <common/xxhash.h>

struct ZstdStream {
  ZSTD_DCtx* context;
  ZSTD_inBuffer input;
  bool ended;
  const ZstdAllocator* allocator;
};

static_assert(sizeof(XXH64_state_t) <= sizeof(ZstdHash::state), "ZstdHash must hold the hash state");
static_assert(alignof(XXH64_state_t) <= alignof(ZstdHash), "ZstdHash must align the hash state");

namespace {

ZstdFailure FailureOf(size_t code) {
  switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_frameParameter_windowTooLarge:
      return ZstdFailure::WindowTooLarge;
    case ZSTD_error_memory_allocation:
      return ZstdFailure::NoMemory;
    default:
      return ZstdFailure::Damaged;
  }
}

void* Allocate(void* opaque, size_t size) { return static_cast<const ZstdAllocator*>(opaque)->allocate(size); }
void Release(void* opaque, void* block) {
  if (block != nullptr) static_cast<const ZstdAllocator*>(opaque)->release(block);
}

XXH64_state_t* StateOf(ZstdHash* hash) { return reinterpret_cast<XXH64_state_t*>(hash->state); }

}  // namespace

bool ZstdReadFrameHeader(const uint8_t* frame, size_t size, ZstdFrameInfo* info) {
  ZSTD_frameHeader header{};
  // A positive result asks for more bytes than there are: no whole header.
  if (ZSTD_getFrameHeader(&header, frame, size) != 0 || header.frameType != ZSTD_frame) return false;
  info->sizeDeclared = header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN;
  info->contentSize = info->sizeDeclared ? header.frameContentSize : 0;
  info->windowSize = header.windowSize;
  info->checksummed = header.checksumFlag != 0;
  return true;
}

ZstdStream* ZstdOpenStream(const uint8_t* frame, size_t size, unsigned windowLogMax, const uint8_t* prefix,
                           size_t prefixSize, const ZstdAllocator* allocator, ZstdFailure* failure) {
  *failure = ZstdFailure::NoMemory;
  void* block = allocator != nullptr ? allocator->allocate(sizeof(ZstdStream)) : ::operator new(sizeof(ZstdStream), std::nothrow);
  if (block == nullptr) return nullptr;
  ZstdStream* stream = new (block) ZstdStream{nullptr, {frame, size, 0}, false, allocator};
  stream->context = allocator != nullptr
                        ? ZSTD_createDCtx_advanced({Allocate, Release, const_cast<ZstdAllocator*>(allocator)})
                        : ZSTD_createDCtx();
  if (stream->context == nullptr) {
    ZstdCloseStream(stream);
    return nullptr;
  }
  size_t result = ZSTD_DCtx_setParameter(stream->context, ZSTD_d_windowLogMax, static_cast<int>(windowLogMax));
  if (!ZSTD_isError(result) && prefix != nullptr) result = ZSTD_DCtx_refPrefix(stream->context, prefix, prefixSize);
  if (ZSTD_isError(result)) {
    *failure = FailureOf(result);
    ZstdCloseStream(stream);
    return nullptr;
  }
  *failure = ZstdFailure::None;
  return stream;
}

ZstdStep ZstdNextPiece(ZstdStream* stream, uint8_t* out, size_t capacity, size_t* produced, ZstdFailure* failure) {
  *produced = 0;
  *failure = ZstdFailure::None;
  if (stream->ended) return ZstdStep::End;
  ZSTD_outBuffer output{out, capacity, 0};
  for (;;) {
    const size_t consumedBefore = stream->input.pos;
    const size_t producedBefore = output.pos;
    const size_t result = ZSTD_decompressStream(stream->context, &output, &stream->input);
    if (ZSTD_isError(result)) {
      *failure = FailureOf(result);
      return ZstdStep::Failed;
    }
    if (result == 0) {
      // One frame and nothing after it: further bytes are not ours to ignore.
      if (stream->input.pos != stream->input.size) {
        *failure = ZstdFailure::Damaged;
        return ZstdStep::Failed;
      }
      stream->ended = true;
      *produced = output.pos;
      return ZstdStep::End;
    }
    if (output.pos == output.size) {
      *produced = output.pos;
      return ZstdStep::Piece;
    }
    // The decoder wants more input than the frame has (cut short), or makes
    // no progress at all: either way the frame cannot end.
    if (stream->input.pos == stream->input.size ||
        (stream->input.pos == consumedBefore && output.pos == producedBefore)) {
      *failure = ZstdFailure::Damaged;
      return ZstdStep::Failed;
    }
  }
}

void ZstdCloseStream(ZstdStream* stream) {
  if (stream == nullptr) return;
  ZSTD_freeDCtx(stream->context);
  if (stream->allocator != nullptr) {
    stream->allocator->release(stream);
  } else {
    ::operator delete(stream);
  }
}

void ZstdHashStart(ZstdHash* hash) { XXH64_reset(StateOf(hash), 0); }

void ZstdHashAdd(ZstdHash* hash, const void* bytes, size_t size) { XXH64_update(StateOf(hash), bytes, size); }

uint64_t ZstdHashValue(const ZstdHash* hash) {
  return XXH64_digest(reinterpret_cast<const XXH64_state_t*>(hash->state));
}

const char* ZstdDecoderVersion() { return ZSTD_versionString(); }
