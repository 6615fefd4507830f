#pragma once
#include <cstdint>

#include "base/zstd_stream.h"
#include "install/payload.h"

// A payload file as the run writes it: the bytes the build carries either
// stored whole (resource type "bin") or as one zstd frame (type "zst"),
// handed out in pieces of at most 65,534 bytes.
struct PayloadSource {
  Payload resource;  // the bytes the updater carries
  bool compressed;
  uint32_t size;  // bytes the run writes: for a frame, the size it declares
  // While open:
  uint32_t handedOut;
  ZstdStream* stream;
  uint8_t* buffer;
};

// A frame may keep at most this much history (2^23 = 8 MiB): the build never
// makes a larger one, and the run's memory stays the same for any payload.
constexpr unsigned kPayloadWindowLog = 23;

// Finds the payload `name`, compressed when the build carries it so, else
// stored (with FindPayload's messages). A frame whose header does not
// declare its size and a checksum of its content, as the build's do, is not
// loaded: MSG_PAYLOAD_NOT_LOADED and PayloadError::NotLoaded.
bool FindPayloadSource(const char* name, PayloadSource* source, PayloadError* error);

// Prepares the pieces; false when there is no memory for the decoder.
bool OpenPayloadSource(PayloadSource* source);

enum class PieceStep { Piece, End, Damaged };

// The next piece: Piece with *bytes and *size (1..65,534). End once all
// `size` bytes were handed out and, for a frame, it ended there intact.
// Damaged: the frame is not whole and intact (or too wide); pieces already
// handed out must not be used.
PieceStep NextPayloadPiece(PayloadSource* source, const uint8_t** bytes, uint32_t* size);

// Releases what Open took; allowed after a failed Open.
void ClosePayloadSource(PayloadSource* source);
