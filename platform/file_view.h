#pragma once
// A whole file mapped into memory for reading, as the reference a delta is
// decoded against: the bytes are read straight from the file as the decoder
// asks for them, never copied into the process's own memory.
#include <cstdint>

#include "platform/platform.h"

struct PlatformViewTag;
using FileView = PlatformViewTag*;

// Maps read-only the file that `file` (open for reading) has open, never
// another by its name: the file whose handle was checked is the one mapped.
// The caller keeps the file open until the view is closed, so that while the
// view is open others may read the file but nobody may write it. Null on
// failure; an empty file gives a view of no bytes (*bytes null).
FileView PlatformMapOpenFile(FileHandle file, const uint8_t** bytes, uint64_t* size);
// Closes the view; null is allowed.
void PlatformUnmapFile(FileView view);
