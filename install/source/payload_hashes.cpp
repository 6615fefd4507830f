#include "install/source/payload_hashes.h"

#include "base/ascii_case.h"
#include "base/text_format.h"
#include "base/zstd_stream.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "install/source/delta_format.h"
#include "install/targets/switch_targets.h"
#include "platform/platform.h"

namespace {

ResourceType TypeOf(CarriedKind kind) {
  return kind == CarriedKind::Frame ? ResourceType::CompressedPayload : ResourceType::Payload;
}

bool FindTable(PayloadHashReader* reader) {
  const void* data = nullptr;
  uint32_t size = 0;
  if (PlatformFindResource(g_state.instance, ResourceType::PayloadHashes, kPayloadHashesName, &data, &size) !=
          ResourceLookup::Found ||
      data == nullptr) {
    return false;
  }
  return StartPayloadHashes(static_cast<const uint8_t*>(data), size, reader);
}

// The resource the record names, byte for byte as the build made it.
bool CarriedAsRecorded(const PayloadHash& record) {
  const void* data = nullptr;
  uint32_t size = 0;
  if (PlatformFindResource(g_state.instance, TypeOf(record.kind), record.name, &data, &size) !=
          ResourceLookup::Found ||
      data == nullptr || size != record.carriedSize) {
    return false;
  }
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, data, size);
  return ZstdHashValue(&hash) == record.carriedHash;
}

// A resource the build does not carry needs no record; one it carries,
// loadable or not, does.
bool ListedWhenCarried(CarriedKind kind, const char* name) {
  const void* data = nullptr;
  uint32_t size = 0;
  if (PlatformFindResource(g_state.instance, TypeOf(kind), name, &data, &size) == ResourceLookup::NotFound) {
    return true;
  }
  PayloadHash record;
  return FindPayloadHash(kind, name, &record);
}

bool DeltasListed(const char* entry) {
  for (int number = 1;; ++number) {
    char name[64];
    const void* data = nullptr;
    uint32_t size = 0;
    if (!FormDeltaName(entry, number, name) ||
        PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, &size) ==
            ResourceLookup::NotFound) {
      return true;
    }
    PayloadHash record;
    if (!FindPayloadHash(CarriedKind::Delta, name, &record)) return false;
  }
}

}  // namespace

bool FindPayloadHash(CarriedKind kind, const char* name, PayloadHash* record) {
  PayloadHashReader reader{};
  if (!FindTable(&reader)) return false;
  while (NextPayloadHash(&reader, record)) {
    if (record->kind == kind && SameIgnoringAsciiCase(record->name, name)) return true;
  }
  return false;
}

bool CarriedPayloadIntact() {
  PayloadHashReader reader{};
  if (!FindTable(&reader)) return false;
  PayloadHash record;
  while (NextPayloadHash(&reader, &record)) {
    if (!CarriedAsRecorded(record)) return false;
  }
  for (int i = 0; i < PayloadCount(); ++i) {
    const char* entry = SwitchTargetEntry(i);
    const char* name = FinalPathComponent(entry);
    if (!ListedWhenCarried(CarriedKind::Stored, name) || !ListedWhenCarried(CarriedKind::Frame, name) ||
        !DeltasListed(entry)) {
      return false;
    }
  }
  const char* list = kUpdateBuild.entryListName;
  return list == nullptr || list[0] == '\0' || ListedWhenCarried(CarriedKind::Stored, list);
}
