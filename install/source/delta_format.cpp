#include "install/source/delta_format.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/text_format.h"

namespace {

// "UPDD", then sum, xor, four zero bytes, the size and the hash, little-endian.
constexpr uint8_t kMagic[4] = {'U', 'P', 'D', 'D'};

}  // namespace

bool ReadDeltaHeader(const uint8_t* bytes, std::size_t size, DeltaReference* reference) {
  if (bytes == nullptr || size < kDeltaHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
      ReadLe32(bytes + 12) != 0) {
    return false;
  }
  reference->pair.sum = ReadLe32(bytes + 4);
  reference->pair.xorValue = ReadLe32(bytes + 8);
  reference->size = ReadLe64(bytes + 16);
  reference->hash = ReadLe64(bytes + 24);
  return true;
}

void WriteDeltaHeader(const DeltaReference& reference, uint8_t (&header)[kDeltaHeaderSize]) {
  std::memset(header, 0, sizeof header);
  std::memcpy(header, kMagic, sizeof kMagic);
  WriteLe32(header + 4, reference.pair.sum);
  WriteLe32(header + 8, reference.pair.xorValue);
  WriteLe64(header + 16, reference.size);
  WriteLe64(header + 24, reference.hash);
}

bool FormDeltaName(const char* entry, int number, char (&name)[64]) {
  static_assert(kDeltaNameSeparator == '$', "the format below spells the separator");
  return FormatText(name, sizeof name, "%s$%d", FinalPathComponent(entry), number);
}
