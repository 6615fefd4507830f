#include "install/source/delta_identify.h"

#include "base/text_format.h"
#include "base/zstd_stream.h"
#include "core/updater_state.h"
#include "files/checked_open.h"
#include "files/read_pieces.h"
#include "fingerprint/checksum.h"
#include "install/source/delta_format.h"
#include "install/targets/switch_targets.h"
#include "platform/platform.h"

namespace {

// A file has at most this many earlier versions looked at.
constexpr int kVersionsMax = 64;
// Read in pieces, so that memory does not grow with the file.
constexpr uint32_t kReadPieceSize = 1u << 20;

struct Identity {
  ChecksumState checksum;
  ZstdHash hash;
};

void AddPiece(const uint8_t* piece, uint32_t size, void* context) {
  auto* identity = static_cast<Identity*>(context);
  ChecksumUpdate(identity->checksum, piece, size);
  ZstdHashAdd(&identity->hash, piece, size);
}

// Size, checksum pair and content hash of the file at path, in one read.
// A file that is a link or leads out of the install folder is no installed
// version: it fits no delta, so that no byte of a file elsewhere is ever
// decoded into a new file.
bool IdentifyFile(const char* path, const char* entry, const DeltaReference* versions, int count,
                  DeltaReference* found) {
  FileHandle file = OpenInstalledFile(path, entry);
  if (file == nullptr) return false;
  uint64_t size = 0;
  bool sizeFits = false;
  if (PlatformFileSize(file, &size)) {
    for (int i = 0; i < count; ++i) sizeFits = sizeFits || versions[i].size == size;
  }
  // A size no version has needs no read at all.
  auto* piece = sizeFits ? static_cast<uint8_t*>(PlatformAllocZeroed(kReadPieceSize)) : nullptr;
  if (piece == nullptr) {
    PlatformCloseFile(file);
    return false;
  }
  Identity identity{ChecksumBegin(kNoWindow), {}};
  ZstdHashStart(&identity.hash);
  uint64_t done = 0;
  const bool ok = ReadInPieces(file, piece, kReadPieceSize, ReadInto::Start, AddPiece, &identity, &done);
  PlatformFree(piece);
  PlatformCloseFile(file);
  if (!ok || done != size) return false;
  *found = DeltaReference{size, identity.checksum.pair, ZstdHashValue(&identity.hash)};
  return true;
}

bool Same(const DeltaReference& a, const DeltaReference& b) {
  return a.size == b.size && a.pair.sum == b.pair.sum && a.pair.xorValue == b.pair.xorValue && a.hash == b.hash;
}

// The delta of the installed file of entry, 0 when none fits (or the file
// has no deltas); *hasDeltas tells the two apart.
int ChooseDelta(const char* entry, bool* hasDeltas) {
  DeltaReference versions[kVersionsMax];
  int numbers[kVersionsMax];
  int count = 0;
  *hasDeltas = false;
  for (int number = 1; number <= kVersionsMax; ++number) {
    char name[64];
    const void* data = nullptr;
    uint32_t size = 0;
    if (!FormDeltaName(entry, number, name)) break;
    ResourceLookup found = PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, &size);
    if (found == ResourceLookup::NotFound) break;
    *hasDeltas = true;
    // A delta that cannot be read fits nothing; the next may.
    if (found == ResourceLookup::Found &&
        ReadDeltaHeader(static_cast<const uint8_t*>(data), size, &versions[count])) {
      numbers[count++] = number;
    }
  }
  if (count == 0) return 0;

  char target[kPathSize];
  DeltaReference installed{};
  if (!JoinPath(target, sizeof target, g_state.installFolder, entry) ||
      !IdentifyFile(target, entry, versions, count, &installed)) {
    return 0;
  }
  for (int i = 0; i < count; ++i) {
    if (Same(versions[i], installed)) return numbers[i];
  }
  return 0;
}

}  // namespace

bool IdentifyInstalledVersions() {
  const int payloads = PayloadCount();
  for (int index = 0; index < payloads && index < kDeltaFilesMax; ++index) {
    const char* entry = SwitchTargetEntry(index);
    bool hasDeltas = false;
    int chosen = ChooseDelta(entry, &hasDeltas);
    g_state.chosenDelta[index] = static_cast<unsigned char>(chosen);
    if (!hasDeltas || chosen != 0) continue;
    // Without a fitting delta the whole file is written, stored or
    // compressed, when the build has it.
    const char* name = FinalPathComponent(entry);
    const void* data = nullptr;
    uint32_t size = 0;
    if (PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, &size) == ResourceLookup::NotFound &&
        PlatformFindResource(g_state.instance, ResourceType::CompressedPayload, name, &data, &size) ==
            ResourceLookup::NotFound) {
      return false;
    }
  }
  return true;
}
