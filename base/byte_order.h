#pragma once
// Little-endian fields of the file formats the program reads and writes
// (PE headers, resource directories, the fingerprint module's self record,
// the delta header, the table of payload hashes).
#include <cstdint>

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline void WriteLe16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLe32(uint8_t* p, uint32_t value) {
  WriteLe16(p, value & 0xFFFF);
  WriteLe16(p + 2, value >> 16);
}

inline uint64_t ReadLe64(const uint8_t* p) { return ReadLe32(p) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32; }

inline void WriteLe64(uint8_t* p, uint64_t value) {
  WriteLe32(p, static_cast<uint32_t>(value));
  WriteLe32(p + 4, static_cast<uint32_t>(value >> 32));
}
