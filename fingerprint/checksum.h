#pragma once
#include <cstdint>

struct ChecksumPair {
  uint32_t sum;  // of all bytes counted, modulo 2^32
  uint32_t xorValue;  // XOR of the little-endian 32-bit words on the file's 4-byte grid
};

// Twelve bytes starting at `start` are left out of the checksum, so that the
// fingerprint module can hold its own expected checksum.
struct ChecksumWindow {
  bool present;
  uint32_t start;
};
constexpr ChecksumWindow kNoWindow = {false, 0};

// The running checksum of a file read in pieces; the result is the same as
// ContentChecksum over the whole content.
struct ChecksumState {
  ChecksumWindow window;
  uint64_t offset;  // absolute offset of the next byte
  ChecksumPair pair;
};

ChecksumState ChecksumBegin(ChecksumWindow window);
void ChecksumUpdate(ChecksumState& state, const uint8_t* bytes, uint32_t length);

ChecksumPair ContentChecksum(const uint8_t* bytes, uint32_t length, ChecksumWindow window);
