#include "install/source/payload_hashes_format.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/zstd_stream.h"

namespace {

constexpr uint8_t kMagic[4] = {'U', 'P', 'D', 'H'};

uint64_t HashOf(const uint8_t* bytes, std::size_t size) {
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, bytes, size);
  return ZstdHashValue(&hash);
}

bool KnownKind(uint32_t kind) {
  return kind == static_cast<uint32_t>(CarriedKind::Stored) || kind == static_cast<uint32_t>(CarriedKind::Frame) ||
         kind == static_cast<uint32_t>(CarriedKind::Delta);
}

// The length of the well-formed record at offset, 0 when there is none.
std::size_t RecordLength(const uint8_t* bytes, std::size_t size, std::size_t offset) {
  if (size - offset < kPayloadHashRecordSize) return 0;
  const uint32_t nameLength = ReadLe32(bytes + offset + 4);
  if (!KnownKind(ReadLe32(bytes + offset)) || nameLength == 0 || nameLength > kPayloadHashNameMax ||
      size - offset - kPayloadHashRecordSize < nameLength) {
    return 0;
  }
  // A name holds no terminator: the run compares it as a whole.
  if (std::memchr(bytes + offset + kPayloadHashRecordSize, 0, nameLength) != nullptr) return 0;
  return kPayloadHashRecordSize + nameLength;
}

}  // namespace

bool StartPayloadHashes(const uint8_t* bytes, std::size_t size, PayloadHashReader* reader) {
  if (bytes == nullptr || size < kPayloadHashesHeaderSize || std::memcmp(bytes, kMagic, sizeof kMagic) != 0 ||
      ReadLe64(bytes + 8) != HashOf(bytes + kPayloadHashesHeaderSize, size - kPayloadHashesHeaderSize)) {
    return false;
  }
  const uint32_t count = ReadLe32(bytes + 4);
  std::size_t offset = kPayloadHashesHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    const std::size_t length = RecordLength(bytes, size, offset);
    if (length == 0) return false;
    offset += length;
  }
  if (offset != size) return false;
  *reader = PayloadHashReader{bytes, size, kPayloadHashesHeaderSize, count};
  return true;
}

bool NextPayloadHash(PayloadHashReader* reader, PayloadHash* record) {
  if (reader->left == 0) return false;
  const uint8_t* at = reader->bytes + reader->offset;
  const uint32_t nameLength = ReadLe32(at + 4);
  record->kind = static_cast<CarriedKind>(ReadLe32(at));
  record->carriedSize = ReadLe64(at + 8);
  record->carriedHash = ReadLe64(at + 16);
  record->decodedSize = ReadLe64(at + 24);
  record->decodedHash = ReadLe64(at + 32);
  std::memcpy(record->name, at + kPayloadHashRecordSize, nameLength);
  record->name[nameLength] = '\0';
  reader->offset += kPayloadHashRecordSize + nameLength;
  --reader->left;
  return true;
}

std::size_t PayloadHashesSize(const PayloadHash* records, uint32_t count) {
  std::size_t size = kPayloadHashesHeaderSize;
  for (uint32_t i = 0; i < count; ++i) size += kPayloadHashRecordSize + std::strlen(records[i].name);
  return size;
}

void WritePayloadHashes(const PayloadHash* records, uint32_t count, uint8_t* out) {
  uint8_t* at = out + kPayloadHashesHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    const std::size_t nameLength = std::strlen(records[i].name);
    WriteLe32(at, static_cast<uint32_t>(records[i].kind));
    WriteLe32(at + 4, static_cast<uint32_t>(nameLength));
    WriteLe64(at + 8, records[i].carriedSize);
    WriteLe64(at + 16, records[i].carriedHash);
    WriteLe64(at + 24, records[i].decodedSize);
    WriteLe64(at + 32, records[i].decodedHash);
    std::memcpy(at + kPayloadHashRecordSize, records[i].name, nameLength);
    at += kPayloadHashRecordSize + nameLength;
  }
  std::memcpy(out, kMagic, sizeof kMagic);
  WriteLe32(out + 4, count);
  const std::size_t recordsSize = static_cast<std::size_t>(at - out) - kPayloadHashesHeaderSize;
  WriteLe64(out + 8, HashOf(out + kPayloadHashesHeaderSize, recordsSize));
}
