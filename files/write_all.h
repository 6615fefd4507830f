#pragma once
// The one loop that writes: every byte the program writes to a file goes
// through WriteAll.
#include <cstdint>

#include "platform/platform.h"

// Told the bytes of each write call that succeeded.
using AfterWrite = void (*)(uint32_t written, void* context);

// Writes all size bytes of data to file, in as many calls as the system
// needs; afterWrite (may be null) is told of each. False when a write fails,
// makes no progress, or reports more than it was given.
bool WriteAll(FileHandle file, const void* data, uint32_t size, AfterWrite afterWrite = nullptr,
              void* context = nullptr);
