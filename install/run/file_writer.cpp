#include "install/run/file_writer.h"

#include "files/write_all.h"
#include "install/targets/switch_targets.h"

bool WriteNewFile(const char* entry, PieceSource* source, RunProgress* progress, MessageId* failure) {
  *failure = MSG_WRITE_CREATE_FAILED;
  FileHandle file = CreateNewFile(entry);
  if (file == nullptr) return false;
  bool ok = OpenPieceSource(source, failure);
  while (ok) {
    const uint8_t* piece = nullptr;
    uint32_t size = 0;
    const PieceStep step = NextPiece(source, &piece, &size);
    if (step == PieceStep::End) break;
    // A source that cannot be read whole is one that did not load.
    ok = step == PieceStep::Piece;
    *failure = MSG_WRITE_NOT_LOADED;
    if (!ok) break;
    ok = WriteAll(file, piece, size, source->reportEachWrite ? AddWritten : nullptr, progress);
    *failure = MSG_WRITE_CREATE_FAILED;
    if (ok && !source->reportEachWrite) AddWritten(size, progress);
  }
  ClosePieceSource(source);
  // The switch must never put in a file whose bytes are still on their way.
  if (ok) {
    *failure = MSG_WRITE_CREATE_FAILED;
    ok = PlatformFlushFile(file);
  }
  PlatformCloseFile(file);
  return ok;
}
