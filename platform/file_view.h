#pragma once
// A whole file mapped into memory for reading, as the reference a delta is
// decoded against: the bytes are read straight from the file as the decoder
// asks for them, never copied into the process's own memory.
#include <cstdint>

struct PlatformViewTag;
using FileView = PlatformViewTag*;

// Maps the file at path read-only. While the view is open others may read the
// file but nobody may write it. Null on failure; an empty file gives a view
// of no bytes (*bytes null).
FileView PlatformMapFileForReading(const char* path, const uint8_t** bytes, uint64_t* size);
// Closes the view; null is allowed.
void PlatformUnmapFile(FileView view);
