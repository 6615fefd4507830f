#pragma once
// A fingerprint module made to measure: it records the given game executable
// and carries a correct record of itself, so that a test's payload passes
// the installation's check whatever its bytes.
#include <cstdio>
#include <string>

#include "fingerprint/checksum.h"
#include "base/pe_resources.h"
#include "tests/unit/pe_fixture.h"

// At least minimumSize bytes: zero bytes after the image change neither half
// of the checksum. Each record may be stretched with zero bytes to a given
// size; the reading stops at the first zero, so only the size changes.
inline Bytes FingerprintModuleFor(const Bytes& executable, std::size_t minimumSize = 0,
                                  std::size_t gameRecordSize = 16, std::size_t selfRecordSize = 32) {
  ChecksumPair game = ContentChecksum(executable.data(), static_cast<uint32_t>(executable.size()), kNoWindow);
  char record[17];
  std::snprintf(record, sizeof record, "%08x%08x", game.sum, game.xorValue);
  std::string gameRecord(record);
  gameRecord.resize(gameRecordSize, '\0');
  std::string selfRecord = "/**/";
  selfRecord.resize(selfRecordSize, '\0');
  Bytes module = BuildPe({{"#10", "LMH.exe", 0x411, gameRecord}, {"#10", "RESOURCE.dll", 0x411, selfRecord}});
  if (module.size() < minimumSize) module.resize(minimumSize);
  PeResourceEntry self;
  if (!PeFindResource(module.data(), module.size(), "#10", "RESOURCE.dll", &self)) return {};
  const uint32_t window = static_cast<uint32_t>(self.fileOffset) + 4;
  Put32(module, self.fileOffset + 4, window);
  ChecksumPair pair = ContentChecksum(module.data(), static_cast<uint32_t>(module.size()), {true, window});
  Put32(module, self.fileOffset + 8, pair.sum);
  Put32(module, self.fileOffset + 12, pair.xorValue);
  return module;
}
