#pragma once
// The piece loop of the run's writer (install/run/file_writer.cpp) without
// its file creation and reporting, for the decoding targets: every piece
// within 65,534 bytes and the declared size, written whole.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "install/source/piece_source.h"
#include "platform/platform.h"

// Opens source, writes its pieces to file and keeps them in *written, closes
// it. End when the source ended intact; else *failure says why.
inline PieceStep WriteAllPieces(PieceSource* source, FileHandle file, std::vector<uint8_t>* written,
                                MessageId* failure) {
  if (!OpenPieceSource(source, failure)) {
    ClosePieceSource(source);
    return PieceStep::Damaged;
  }
  PieceStep step = PieceStep::Piece;
  for (;;) {
    const uint8_t* piece = nullptr;
    uint32_t size = 0;
    step = NextPiece(source, &piece, &size);
    if (step != PieceStep::Piece) break;
    FUZZ_CHECK(size >= 1 && size <= 65534);
    FUZZ_CHECK(written->size() + size <= source->size);
    uint32_t done = 0;
    FUZZ_CHECK(PlatformWriteFile(file, piece, size, &done) && done == size);
    written->insert(written->end(), piece, piece + size);
  }
  if (step == PieceStep::Damaged) *failure = MSG_WRITE_NOT_LOADED;
  ClosePieceSource(source);
  return step;
}
