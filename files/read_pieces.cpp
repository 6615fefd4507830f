#include "files/read_pieces.h"

bool ReadInPieces(FileHandle file, uint8_t* buffer, uint32_t capacity, ReadInto into, PieceRead onPiece,
                  void* context, uint64_t* total, StepDone afterPiece) {
  *total = 0;
  for (;;) {
    uint8_t* at = into == ReadInto::Whole ? buffer + *total : buffer;
    const uint32_t room = into == ReadInto::Whole ? capacity - static_cast<uint32_t>(*total) : capacity;
    if (room == 0) return true;
    uint32_t bytesRead = 0;
    if (!PlatformReadFile(file, at, room, &bytesRead)) return false;
    if (bytesRead == 0) return true;
    *total += bytesRead;
    if (onPiece != nullptr) onPiece(at, bytesRead, context);
    TellStepDone(afterPiece);
  }
}
