#pragma once
// The checksum exactly as first written down: a walk over every byte. Kept
// as the reference that the fast implementation must agree with.
#include <cstdint>
#include <vector>

#include "fingerprint/checksum.h"

inline ChecksumPair OracleChecksum(const uint8_t* bytes, uint32_t length, ChecksumWindow window) {
  ChecksumPair pair{0, 0};
  uint64_t i = 0;
  while (i < length) {
    if (window.present && i == window.start) {
      i += 12;
      continue;
    }
    if (i % 4 == 0) {
      uint32_t word = 0;
      for (unsigned k = 0; k < 4; ++k) {
        uint32_t byte = i + k < length ? bytes[i + k] : 0;  // a last partial word is completed with zeros
        word |= byte << (8 * k);
      }
      pair.xorValue ^= word;
    }
    pair.sum += bytes[i];
    ++i;
  }
  return pair;
}
