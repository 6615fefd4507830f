#include "fingerprint/verification.h"

#include <cstring>

#include "base/text_format.h"
#include "core/update_build.h"
#include "files/read_pieces.h"

namespace {

// Files are read in pieces of this size so that memory does not grow with
// the file: a large installation must not fail for want of one huge buffer.
constexpr uint32_t kReadPieceSize = 1u << 20;

void AddPiece(const uint8_t* piece, uint32_t size, void* context) {
  ChecksumUpdate(*static_cast<ChecksumState*>(context), piece, size);
}

}  // namespace

bool ReadFingerprintRecord(const char* name, ModuleHandle module, uint8_t (&copy)[kRecordCopySize]) {
  const void* data = nullptr;
  uint32_t size = 0;
  ResourceLookup found = PlatformFindResource(module, ResourceType::RawData, name, &data, &size);
  if (found != ResourceLookup::Found || data == nullptr || size > kRecordCopySize) {
    PlatformFreeModule(module);
    return false;
  }
  std::memset(copy, 0, sizeof copy);
  std::memcpy(copy, data, size);
  PlatformFreeModule(module);
  return true;
}

bool ComputeFileChecksum(const char* path, ChecksumWindow window, ChecksumPair* result, StepDone afterPiece) {
  FileHandle file = PlatformOpenFile(path, FileMode::ReadExisting);
  if (file == nullptr) return false;
  auto* piece = static_cast<uint8_t*>(PlatformAllocZeroed(kReadPieceSize));
  if (piece == nullptr) {
    PlatformCloseFile(file);
    return false;
  }
  ChecksumState state = ChecksumBegin(window);
  uint64_t done = 0;
  const bool ok = ReadInPieces(file, piece, kReadPieceSize, ReadInto::Start, AddPiece, &state, &done, afterPiece);
  PlatformFree(piece);
  PlatformCloseFile(file);
  if (ok) *result = state.pair;
  return ok;
}

bool VerifyFingerprintModule(const char* modulePath, StepDone afterPiece) {
  ModuleHandle module = PlatformLoadDataModule(modulePath);
  if (module == nullptr) return false;
  uint8_t copy[kRecordCopySize];
  if (!ReadFingerprintRecord(kSelfRecordName, module, copy)) return false;
  FingerprintSelfRecord record = ReadSelfRecord(copy);

  ChecksumPair actual{};
  if (!ComputeFileChecksum(modulePath, ChecksumWindow{true, record.windowStart}, &actual, afterPiece)) return false;
  return actual.sum == record.sum && actual.xorValue == record.xorValue;
}

bool FormExecutableName(char (&name)[kPathSize]) {
  return FormatText(name, sizeof name, "%s.exe", kUpdateBuild.productAbbreviation);
}

GameFileCheck VerifyGameFiles(const char* modulePath, const char* executablePath, StepDone afterPiece) {
  char executableName[kPathSize];
  if (!FormExecutableName(executableName)) return GameFileCheck::ExecutableFails;
  if (!VerifyFingerprintModule(modulePath, afterPiece)) return GameFileCheck::ModuleFails;

  ModuleHandle module = PlatformLoadDataModule(modulePath);
  if (module == nullptr) return GameFileCheck::ModuleFails;
  uint8_t copy[kRecordCopySize];
  if (!ReadFingerprintRecord(executableName, module, copy)) return GameFileCheck::ExecutableFails;
  FileFingerprint expected = ReadFileFingerprint(copy);

  ChecksumPair actual{};
  if (!ComputeFileChecksum(executablePath, kNoWindow, &actual, afterPiece)) return GameFileCheck::ExecutableFails;
  bool matches = actual.sum == expected.sum && actual.xorValue == expected.xorValue;
  return matches ? GameFileCheck::Intact : GameFileCheck::ExecutableFails;
}

bool VerifyInstallation(const char* installFolder) {
  char executableName[kPathSize];
  char modulePath[kPathSize];
  char executablePath[kPathSize];
  // A path that does not fit names no file of this installation.
  if (!FormExecutableName(executableName) ||
      !JoinPath(modulePath, sizeof modulePath, installFolder, kFingerprintModulePath) ||
      !JoinPath(executablePath, sizeof executablePath, installFolder, executableName)) {
    return false;
  }
  return VerifyGameFiles(modulePath, executablePath) == GameFileCheck::Intact;
}
