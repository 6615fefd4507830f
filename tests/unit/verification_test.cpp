// Verification over the sample game's real files, read through the
// simulated platform's own PE reader.
#include <cstring>
#include <fstream>

#include "fingerprint/verification.h"
#include "base/pe_resources.h"
#include "tests/unit/module_fixture.h"
#include "tests/unit/sim_fixture.h"

namespace {

class Verification : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
  }
  std::string ModulePath() { return std::string(kInstall) + "\\dll\\RESOURCE.dll"; }
  std::string ExePath() { return std::string(kInstall) + "\\LMH.exe"; }

  std::vector<uint8_t> Module() { return ReadBytes(Host(ModulePath())); }
  void SetModule(const std::vector<uint8_t>& bytes) {
    WriteBytes(Host(ModulePath()), std::string(bytes.begin(), bytes.end()));
  }

  // Where the module's record of itself lies in the file.
  uint32_t SelfRecordOffset(const std::vector<uint8_t>& module) {
    PeResourceEntry entry;
    EXPECT_TRUE(PeFindResource(module.data(), module.size(), "#10", "RESOURCE.dll", &entry));
    return entry.fileOffset;
  }

  // Writes a fresh, correct self record, as the stamping tool does.
  void Restamp(std::vector<uint8_t>& module) {
    uint32_t at = SelfRecordOffset(module);
    uint32_t window = at + 4;
    ChecksumPair pair = ContentChecksum(module.data(), static_cast<uint32_t>(module.size()), {true, window});
    std::memcpy(&module[at + 4], &window, 4);
    std::memcpy(&module[at + 8], &pair.sum, 4);
    std::memcpy(&module[at + 12], &pair.xorValue, 4);
  }
};

TEST_F(Verification, BothSampleVersionsAreIntact) {
  EXPECT_TRUE(VerifyFingerprintModule(ModulePath().c_str()));
  EXPECT_TRUE(VerifyInstallation(kInstall));
  InstallSample("new");
  EXPECT_TRUE(VerifyInstallation(kInstall));
}

// Files are checked piece by piece: a game executable far larger than the
// memory verification holds is still found intact. Zero bytes add nothing
// to either half of the checksum, so the padded file keeps its record.
TEST_F(Verification, ALargeGameExecutableIsCheckedInBoundedMemory) {
  InstallSample("new");
  const std::size_t large = std::size_t{64} << 20;
  fs::resize_file(Host(ExePath()), large);
  EXPECT_TRUE(VerifyInstallation(kInstall));
  EXPECT_LT(sim::PeakAllocatedBytes(), large / 16);
  EXPECT_EQ(sim::LiveAllocations(), 0);

  // One byte changed deep inside is still noticed.
  {
    std::fstream exe(Host(ExePath()), std::ios::in | std::ios::out | std::ios::binary);
    exe.seekp(static_cast<std::streamoff>(large - 4096));
    exe.put('\x01');
  }
  EXPECT_FALSE(VerifyInstallation(kInstall));
}

// Changes that each half of the checksum misses on its own: neither half may
// be left out of the comparison. `from` is where the search for bytes to
// change starts, in bytes the loader does not look at (the module's DOS stub,
// the middle of the game's code) and away from the self record.
void KeepTheSumChangeTheXor(std::vector<uint8_t>& bytes, std::size_t from) {
  // Two neighbouring bytes sit in different lanes.
  std::size_t i = from;
  while (i + 1 < bytes.size() && bytes[i] == bytes[i + 1]) ++i;
  ASSERT_LT(i + 1, bytes.size());
  std::swap(bytes[i], bytes[i + 1]);
}

void KeepTheXorChangeTheSum(std::vector<uint8_t>& bytes, std::size_t from) {
  // The same bit flipped in two words' same lane cancels in the XOR; with the
  // bit equal in both, the sum moves by two.
  std::size_t i = from;
  while (i + 4 < bytes.size() && (bytes[i] & 1) != (bytes[i + 4] & 1)) ++i;
  ASSERT_LT(i + 4, bytes.size());
  bytes[i] ^= 1;
  bytes[i + 4] ^= 1;
}

constexpr std::size_t kDosStub = 0x40;

TEST_F(Verification, DamageIsFound) {
  const std::vector<uint8_t> intact = Module();
  const uint32_t record = SelfRecordOffset(intact);
  const struct {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    bool modulePasses;
  } cases[] = {
      {"a byte outside the window", [](std::vector<uint8_t>& m) { m[m.size() - 1] ^= 0x01; }, false},
      {"the window start", [&](std::vector<uint8_t>& m) { m[record + 4] ^= 0x04; }, false},
      {"a byte inside the window", [&](std::vector<uint8_t>& m) { m[record + 9] ^= 0x01; }, false},
      {"the marker, which is not examined but counted", [&](std::vector<uint8_t>& m) { m[record] = 'x'; }, false},
      {"truncated", [](std::vector<uint8_t>& m) { m.resize(m.size() / 2); }, false},
      {"not a module at all", [](std::vector<uint8_t>& m) { m.assign(64, 'z'); }, false},
      {"the same byte sum", [](std::vector<uint8_t>& m) { KeepTheSumChangeTheXor(m, kDosStub); }, false},
      {"the same xor", [](std::vector<uint8_t>& m) { KeepTheXorChangeTheSum(m, kDosStub); }, false},
      {"an intact module after restamping", [&](std::vector<uint8_t>& m) { m[m.size() - 1] ^= 0x01; Restamp(m); },
       true},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> damaged = intact;
    c.damage(damaged);
    SetModule(damaged);
    EXPECT_EQ(VerifyFingerprintModule(ModulePath().c_str()), c.modulePasses) << c.what;
    EXPECT_EQ(VerifyInstallation(kInstall), c.modulePasses) << c.what;
  }
}

TEST_F(Verification, GameExecutableDamageIsFound) {
  const std::vector<uint8_t> intact = ReadBytes(Host(ExePath()));
  const struct {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  } cases[] = {
      {"one byte", [](std::vector<uint8_t>& e) { e[e.size() / 2] ^= 0x80; }},
      {"the same byte sum", [](std::vector<uint8_t>& e) { KeepTheSumChangeTheXor(e, e.size() / 2); }},
      {"the same xor", [](std::vector<uint8_t>& e) { KeepTheXorChangeTheSum(e, e.size() / 2); }},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> damaged = intact;
    c.damage(damaged);
    WriteBytes(Host(ExePath()), std::string(damaged.begin(), damaged.end()));
    EXPECT_FALSE(VerifyInstallation(kInstall)) << c.what;
  }
}

TEST_F(Verification, AModuleWithoutTheGameExecutableRecordFails) {
  std::vector<uint8_t> module = Module();
  // Rename the record in the resource directory ("LMH.EXE" in UTF-16).
  const char16_t name[] = u"LMH.EXE";
  auto at = std::search(module.begin(), module.end(), reinterpret_cast<const uint8_t*>(name),
                        reinterpret_cast<const uint8_t*>(name) + 14);
  ASSERT_NE(at, module.end());
  at[4] = 'X';  // "LMX.EXE"
  Restamp(module);
  SetModule(module);
  EXPECT_TRUE(VerifyFingerprintModule(ModulePath().c_str()));
  EXPECT_FALSE(VerifyInstallation(kInstall));
}

// A record is copied into a buffer of its largest size: one that fills it
// is read, one a byte longer is refused, though it is right in all else.
TEST_F(Verification, RecordsUpToTheCopySizeAreRead) {
  const Bytes exe = ReadBytes(Host(ExePath()));
  const struct {
    std::size_t gameRecordSize;
    std::size_t selfRecordSize;
    bool modulePasses;
    bool installationPasses;
  } cases[] = {
      {kRecordCopySize, 32, true, true},
      {kRecordCopySize + 1, 32, true, false},
      {16, kRecordCopySize, true, true},
      {16, kRecordCopySize + 1, false, false},
  };
  for (const auto& c : cases) {
    SetModule(FingerprintModuleFor(exe, 0, c.gameRecordSize, c.selfRecordSize));
    EXPECT_EQ(VerifyFingerprintModule(ModulePath().c_str()), c.modulePasses) << c.gameRecordSize << "/" << c.selfRecordSize;
    EXPECT_EQ(VerifyInstallation(kInstall), c.installationPasses) << c.gameRecordSize << "/" << c.selfRecordSize;
  }
}

TEST_F(Verification, MissingOrUnreadableFilesFail) {
  EXPECT_FALSE(VerifyInstallation("*"));
  EXPECT_FALSE(VerifyInstallation("C:\\Nowhere"));
  // No buffer to read into, while every read works.
  sim::FailAllocationsFrom(1);
  EXPECT_FALSE(VerifyInstallation(kInstall));
  sim::FailAllocationsFrom(-1);
  EXPECT_TRUE(VerifyInstallation(kInstall));
  // A read that reports failure fails the check, though the bytes it
  // delivered are the right ones.
  sim::FailReads(ExePath());
  EXPECT_FALSE(VerifyInstallation(kInstall));
  sim::FailReads(ModulePath());
  EXPECT_FALSE(VerifyFingerprintModule(ModulePath().c_str()));
  // A folder so long that the module path cannot be formed names no file.
  EXPECT_FALSE(VerifyInstallation((std::string(kInstall) + "\\" + std::string(250, 'a')).c_str()));
}

}  // namespace
