#pragma once
#include <cstddef>
#include <cstdint>

// A payload file travels as one zstd frame. These functions decode such a
// frame, held whole in memory, into a caller's buffer piece by piece, and
// turn the decoder's errors into the few kinds the updater tells apart.

enum class ZstdFailure {
  None,
  Damaged,         // not one whole, intact frame: the decoder's check or ours failed
  WindowTooLarge,  // the frame asks for more history than the caller allows
  NoMemory,
};

// What a frame's header declares.
struct ZstdFrameInfo {
  uint64_t contentSize;  // valid when sizeDeclared
  uint64_t windowSize;   // history the decoder must keep
  bool sizeDeclared;
  bool checksummed;      // carries a checksum of its content
};

// Reads the header at the start of frame. False (Damaged) when there is no
// complete header of an ordinary zstd frame.
bool ZstdReadFrameHeader(const uint8_t* frame, size_t size, ZstdFrameInfo* info);

// A decoder over one frame in memory; the frame (and a prefix) must stay
// unchanged and in place until the stream is closed.
struct ZstdStream;

// Where the decoder takes its memory from; null functions: the C runtime.
struct ZstdAllocator {
  void* (*allocate)(size_t size);  // null when there is no memory
  void (*release)(void* block);
};

// Opens a decoder that refuses a window above 2^windowLogMax bytes. With a
// prefix (not null), the frame is decoded with it as its reference, as a
// delta made against those bytes expects; the window limit must then cover
// the prefix too. allocator may be null, else must outlive the stream.
// Null on failure, with *failure set.
ZstdStream* ZstdOpenStream(const uint8_t* frame, size_t size, unsigned windowLogMax, const uint8_t* prefix,
                           size_t prefixSize, const ZstdAllocator* allocator, ZstdFailure* failure);

enum class ZstdStep { Piece, End, Failed };

// Decodes up to capacity bytes into out. Piece: *produced (at least one)
// bytes are there and more follow. End: the frame has ended exactly at the
// end of the input, its size and checksum checked; *produced may be zero or
// hold the last bytes. Failed: *failure says why; what was produced before
// must not be used.
ZstdStep ZstdNextPiece(ZstdStream* stream, uint8_t* out, size_t capacity, size_t* produced, ZstdFailure* failure);

// Releases the decoder; null is allowed.
void ZstdCloseStream(ZstdStream* stream);

// The decoder's 64-bit content hash (XXH64, seed 0), over bytes given in
// one or more parts.
struct ZstdHash {
  alignas(8) unsigned char state[88];
};
void ZstdHashStart(ZstdHash* hash);
void ZstdHashAdd(ZstdHash* hash, const void* bytes, size_t size);
uint64_t ZstdHashValue(const ZstdHash* hash);

// The decoder library's version, e.g. "1.5.4".
const char* ZstdDecoderVersion();
