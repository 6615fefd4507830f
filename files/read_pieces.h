#pragma once
// The one loop that reads: every byte the program reads from a file goes
// through ReadInPieces.
#include <cstdint>

#include "files/step_done.h"
#include "platform/platform.h"

// Told each piece read, in the buffer it was read into.
using PieceRead = void (*)(const uint8_t* piece, uint32_t size, void* context);

enum class ReadInto {
  Start,  // every piece lands at the buffer's start: memory does not grow with the file
  Whole,  // each piece goes on where the last ended, until the buffer is full
};

// Reads file from where it stands, capacity bytes of buffer at a time,
// until a read gives nothing (or, reading Whole, the buffer is full),
// handing each piece to onPiece (may be null), then telling afterPiece.
// *total: the bytes read. False when a read fails.
bool ReadInPieces(FileHandle file, uint8_t* buffer, uint32_t capacity, ReadInto into, PieceRead onPiece,
                  void* context, uint64_t* total, StepDone afterPiece = {});
