#include "install/run/file_writer.h"

#include "base/byte_order.h"
#include "core/update_build.h"
#include "files/write_all.h"
#include "install/source/payload_hashes.h"
#include "install/targets/switch_targets.h"

namespace {

CarriedKind CarriedKindOf(PieceKind kind) {
  switch (kind) {
    case PieceKind::Frame:
      return CarriedKind::Frame;
    case PieceKind::Delta:
      return CarriedKind::Delta;
    case PieceKind::Stored:
      break;
  }
  return CarriedKind::Stored;
}

// Each byte of a new file is hashed once, and against the build's record.
// A stored file's pieces are the very bytes of the image that the start
// check hashed against the record's carried hash: they make the recorded
// file when the record says the two are one. A frame (a delta's too) ends
// with the checksum of its content, the low half of the content's XXH64,
// which the decoder checks as the frame ends: it must be the low half of
// the recorded one. A second pass of the hash as the file is written would
// cost as much as a third of the write (XXH64 runs at about 1.7 GB/s in a
// 32-bit program).
bool CarriesRecordedContent(const PieceSource* source, const PayloadHash& expected) {
  if (source->kind == PieceKind::Stored) return expected.carriedHash == expected.decodedHash;
  const Payload& carried = source->resource;
  return carried.size >= 4 &&
         ReadLe32(carried.bytes + carried.size - 4) == static_cast<uint32_t>(expected.decodedHash);
}

// On a hard disk a whole file's flush takes seconds; flushed a slice at a
// time, with a message let through after each, the window keeps answering.
bool FlushSlice(FileHandle file, RunProgress* progress) {
  if (!PlatformFlushFile(file)) return false;
  ReportAgain(progress);
  return true;
}

bool EndFlush(PendingFlush* pending) {
  if (*pending == nullptr) return true;
  const bool flushed = PlatformEndFlush(*pending);
  *pending = nullptr;
  return flushed;
}

// A slice goes to the disk while the next one is made and written: the disk
// and the processor work at once. The slice before is waited for first, so
// one flush at most is under way.
bool FlushSliceBehind(FileHandle file, PendingFlush* pending, RunProgress* progress) {
  if (!EndFlush(pending)) return false;
  *pending = PlatformBeginFlush(file);
  // Without a thread for it, the slice is flushed where it stands.
  if (*pending == nullptr) return FlushSlice(file, progress);
  ReportAgain(progress);
  return true;
}

}  // namespace

bool WriteNewFile(const char* entry, PieceSource* source, RunProgress* progress, MessageId* failure) {
  // Whatever its kind, a source must give the very file the build recorded:
  // one it holds no record of did not load.
  *failure = MSG_WRITE_NOT_LOADED;
  PayloadHash expected{};
  if (!FindPayloadHash(CarriedKindOf(source->kind), source->resourceName, &expected) ||
      !CarriesRecordedContent(source, expected)) {
    return false;
  }
  *failure = MSG_WRITE_CREATE_FAILED;
  FileHandle file = CreateNewFile(entry);
  if (file == nullptr) return false;
  uint64_t contentSize = 0;
  bool ok = OpenPieceSource(source, failure);
  uint32_t unflushed = 0;
  PendingFlush pending = nullptr;
  while (ok) {
    const uint8_t* piece = nullptr;
    uint32_t size = 0;
    const PieceStep step = NextPiece(source, &piece, &size);
    if (step == PieceStep::End) break;
    // A source that cannot be read whole is one that did not load.
    ok = step == PieceStep::Piece;
    *failure = MSG_WRITE_NOT_LOADED;
    if (!ok) break;
    contentSize += size;
    ok = WriteAll(file, piece, size, source->reportEachWrite ? AddWritten : nullptr, progress);
    *failure = MSG_WRITE_CREATE_FAILED;
    if (ok && !source->reportEachWrite) AddWritten(size, progress);
    unflushed += size;
    if (ok && unflushed >= kUpdateBuild.flushSliceBytes) {
      ok = FlushSliceBehind(file, &pending, progress);
      unflushed = 0;
    }
  }
  ClosePieceSource(source);
  // The file is not closed under a flush still under way, whatever failed.
  const bool slicesFlushed = EndFlush(&pending);
  if (ok && !slicesFlushed) {
    *failure = MSG_WRITE_CREATE_FAILED;
    ok = false;
  }
  // The decoder has checked a frame's content as it ended; the size is
  // counted here.
  if (ok && contentSize != expected.decodedSize) {
    *failure = MSG_WRITE_NOT_LOADED;
    ok = false;
  }
  // The switch must never put in a file whose bytes are still on their way.
  if (ok) {
    *failure = MSG_WRITE_CREATE_FAILED;
    ok = FlushSlice(file, progress);
  }
  PlatformCloseFile(file);
  return ok;
}
