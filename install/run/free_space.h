#pragma once
#include <cstdint>

// True when the install folder's drive has room for neededBytes, counted in
// whole mebibytes. Shows its own message when not.
bool CheckFreeSpace(uint64_t neededBytes);
