#pragma once
// The table of hashes a build carries beside its payload
// (install/source/payload_hashes_format.h): each resource a test carries is
// recorded in it as the build records it, with the file it gives.
#include <cstdint>
#include <string>
#include <vector>

#include "base/zstd_stream.h"
#include "install/source/payload_hashes_format.h"
#include "platform/sim/platform_sim.h"

inline uint64_t ContentHash(const std::vector<uint8_t>& bytes) {
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, bytes.data(), bytes.size());
  return ZstdHashValue(&hash);
}

inline PayloadHash HashRecord(CarriedKind kind, const std::string& name, const std::vector<uint8_t>& carried,
                              const std::vector<uint8_t>& decoded) {
  PayloadHash record{};
  record.kind = kind;
  name.copy(record.name, kPayloadHashNameMax);
  record.carriedSize = carried.size();
  record.carriedHash = ContentHash(carried);
  record.decodedSize = decoded.size();
  record.decodedHash = ContentHash(decoded);
  return record;
}

inline std::vector<uint8_t> HashTable(const std::vector<PayloadHash>& records) {
  std::vector<uint8_t> table(PayloadHashesSize(records.data(), static_cast<uint32_t>(records.size())));
  WritePayloadHashes(records.data(), static_cast<uint32_t>(records.size()), table.data());
  return table;
}

// The records of the table the simulated updater carries now; none when it
// carries none.
inline std::vector<PayloadHash> CarriedHashes() {
  std::vector<PayloadHash> records;
  const void* data = nullptr;
  uint32_t size = 0;
  PayloadHashReader reader{};
  if (PlatformFindResource(sim::OwnModule(), ResourceType::PayloadHashes, kPayloadHashesName, &data, &size) !=
          ResourceLookup::Found ||
      !StartPayloadHashes(static_cast<const uint8_t*>(data), size, &reader)) {
    return records;
  }
  PayloadHash record{};
  while (NextPayloadHash(&reader, &record)) records.push_back(record);
  return records;
}

inline ResourceType CarriedType(CarriedKind kind) {
  return kind == CarriedKind::Frame ? ResourceType::CompressedPayload : ResourceType::Payload;
}

// Carries `carried` as the resource `name` and records it, with `decoded`
// as the file it gives, in place of an earlier one of that kind and name.
inline void Carry(CarriedKind kind, const std::string& name, const std::vector<uint8_t>& carried,
                  const std::vector<uint8_t>& decoded) {
  sim::AddOwnResource(CarriedType(kind), name, carried);
  std::vector<PayloadHash> records;
  for (const PayloadHash& r : CarriedHashes()) {
    if (r.kind != kind || name != r.name) records.push_back(r);
  }
  records.push_back(HashRecord(kind, name, carried, decoded));
  sim::AddOwnResource(ResourceType::PayloadHashes, kPayloadHashesName, HashTable(records));
}

inline void CarryStored(const std::string& name, const std::vector<uint8_t>& bytes) {
  Carry(CarriedKind::Stored, name, bytes, bytes);
}
