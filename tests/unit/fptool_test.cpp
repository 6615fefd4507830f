#include "tools/fptool_core.h"

#include <gtest/gtest.h>

#include "base/pe_resources.h"
#include "tests/unit/pe_fixture.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

uint32_t Get32(const ByteBuffer& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

ByteBuffer Text(const std::string& s) { return ByteBuffer(s.begin(), s.end()); }

// A PE32 image whose one section holds RT_RCDATA resources with these names.
ByteBuffer BuildModule(const std::vector<std::pair<std::string, ByteBuffer>>& records) {
  std::vector<FixtureResource> resources;
  for (const auto& [name, data] : records) {
    resources.push_back({"#10", name, 0x409, std::string(data.begin(), data.end())});
  }
  return BuildPe(resources);
}

ByteBuffer SelfRecord(std::size_t size = 32) {
  ByteBuffer record(size, 0);
  std::memcpy(record.data(), "/**/", std::min<std::size_t>(size, 4));
  return record;
}

TEST(Fptool, RecordTextIsSumThenXorZeroPadded) {
  EXPECT_EQ(RecordText({0x027E8A16, 0xD49F3F5A}), "027e8a16d49f3f5a");
  EXPECT_EQ(RecordText({0x1, 0xABC}), "0000000100000abc");
  ByteBuffer bytes = Text("\x01\x02\x03\x04\x05");
  EXPECT_EQ(RecordText(WholeFileChecksum(bytes, kNoWindow)), "0000000f04030204");
}

TEST(Fptool, ParsesNumbers) {
  struct Case {
    const char* text;
    bool hex;
    bool ok;
    uint32_t value;
  };
  const Case cases[] = {
      {"1324", false, true, 1324},       {"0x530", false, true, 0x530},      {"0001A420", true, true, 0x1a420},
      {"d49f3f5a", true, true, 0xd49f3f5a}, {"ffffffff", true, true, 0xffffffff}, {"100000000", true, false, 0},
      {"12a", false, false, 0},          {"", true, false, 0},               {"0x", true, false, 0},
      {"-1", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uint32_t value = 0;
    EXPECT_EQ(ParseNumber(c.text, c.hex, &value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

// The filler must reach the exact pair, whatever the room's alignment and
// wherever the window falls, and touch nothing outside the room.
TEST(Fptool, FillerReachesTheTargetExactly) {
  struct Case {
    const char* what;
    std::size_t size, begin, end;
    ChecksumPair target;
    ChecksumWindow window;
  };
  const Case cases[] = {
      {"aligned room at the end", 400, 200, 400, {0x9000, 0x12345678}, kNoWindow},
      {"unaligned room", 401, 37, 390, {0x5001, 0xa1b2c3d5}, kNoWindow},
      {"low sum", 300, 100, 300, {0x2000, 0x01010101}, kNoWindow},
      {"sum near the room's top", 256, 0, 256, {255 * 256 - 0x10, 0}, kNoWindow},
      {"window inside the room", 512, 64, 512, {0xa420, 0x1e279ce7}, {true, 130}},
      {"aligned window", 512, 64, 512, {0xa420, 0x1e279ce7}, {true, 128}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteBuffer file(c.size);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>((i * 7 + 3) & 0x0f);
    ByteBuffer before = file;
    std::string error;
    bool solved = SolveFiller(file, c.begin, c.end, c.target, c.window, &error);
    ASSERT_TRUE(solved) << error;
    ChecksumPair reached = ContentChecksum(file.data(), static_cast<uint32_t>(file.size()), c.window);
    EXPECT_EQ(reached.sum, c.target.sum);
    EXPECT_EQ(reached.xorValue, c.target.xorValue);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + c.begin, before.begin()));
    EXPECT_TRUE(std::equal(file.begin() + c.end, file.end(), before.begin() + c.end));
  }
}

TEST(Fptool, FillerRefusesWhatNoFillingReaches) {
  struct Case {
    const char* what;
    std::size_t begin, end;
    ChecksumPair target;
  };
  const Case cases[] = {
      {"sum too high for the room", 0, 64, {64 * 255 + 2, 0}},
      {"sum too low for the xor", 0, 64, {0x11, 0xff000000}},
      {"parity against the xor", 0, 64, {0x100, 0x00000001}},
      {"xor lane with no byte in the room", 4, 5, {0x1, 0x00000100}},
      {"room outside the file", 60, 70, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ByteBuffer file(64, 0);
    std::string error;
    EXPECT_FALSE(SolveFiller(file, c.begin, c.end, c.target, kNoWindow, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(file, ByteBuffer(64, 0));
  }
}

// The sum wraps, but the room can only add: a target below what the rest of
// the file adds is out of reach rather than 2^32 further on.
TEST(Fptool, FillerCannotTakeAwayWhatTheRestAdds) {
  ByteBuffer file(512, 0xff);
  ByteBuffer before = file;
  std::string error;
  EXPECT_FALSE(SolveFiller(file, 256, 512, {0x10, 0}, kNoWindow, &error));
  EXPECT_EQ(file, before);
  EXPECT_TRUE(SolveFiller(file, 256, 512, {256 * 255 + 0x10, 0}, kNoWindow, &error)) << error;
}

TEST(Fptool, StampedModulePassesTheCheck) {
  ByteBuffer game = Text("the game's bytes");
  std::string gameRecord = RecordText(WholeFileChecksum(game, kNoWindow));
  ByteBuffer module = BuildModule({{"LMH.EXE", Text(gameRecord)}, {"RESOURCE.DLL", SelfRecord()}});
  EXPECT_FALSE(CheckSelfRecord(module).matches);

  std::string error;
  ASSERT_TRUE(StampModule(module, &error)) << error;
  SelfCheck self = CheckSelfRecord(module);
  ASSERT_TRUE(self.found);
  EXPECT_EQ(self.marker, "/**/");
  EXPECT_EQ(self.windowStart, self.recordOffset + 4);
  EXPECT_EQ(Get32(module, self.recordOffset + 4), self.windowStart);
  EXPECT_TRUE(self.matches);

  FileCheck file = CheckFileRecord(module, "lmh.exe", game);
  EXPECT_TRUE(file.found);
  EXPECT_EQ(file.recordText, gameRecord);
  EXPECT_TRUE(file.matches);
  EXPECT_FALSE(CheckFileRecord(module, "LMH.exe", Text("another game")).matches);
  EXPECT_FALSE(CheckFileRecord(module, "other.exe", game).found);

  // One byte changed outside the window breaks the module's record.
  module[0x210] ^= 1;
  EXPECT_FALSE(CheckSelfRecord(module).matches);
}

TEST(Fptool, StampRefusesModulesWithoutAUsableSelfRecord) {
  const std::pair<const char*, ByteBuffer> cases[] = {
      {"no self record", BuildModule({{"LMH.EXE", Text("0123456789abcdef")}})},
      {"self record too short", BuildModule({{"RESOURCE.DLL", SelfRecord(15)}})},
      {"self record too long to read", BuildModule({{"RESOURCE.DLL", SelfRecord(261)}})},
      {"not a PE", Text("MZ and nothing else")},
  };
  for (const auto& [what, original] : cases) {
    SCOPED_TRACE(what);
    ByteBuffer module = original;
    std::string error;
    EXPECT_FALSE(StampModule(module, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(module, original);
  }
}

// The way a shipped module gets its figures: a filler resource made to give
// the wanted pair with the window the stamp will use, then the stamp.
TEST(Fptool, PaddedThenStampedModuleCarriesTheWantedPair) {
  ByteBuffer module =
      BuildModule({{"RESOURCE.DLL", SelfRecord()}, {"FILLER", ByteBuffer(600, 0)}, {"LMH.EXE", Text("0")}});
  SelfCheck before = CheckSelfRecord(module);
  ASSERT_TRUE(before.found);
  const ChecksumWindow window{true, before.recordOffset + 4};
  const ChecksumPair target{0x0001a420, 0x1e279ce7};
  std::string what;
  std::string error;
  EXPECT_FALSE(PadFile(module, module.size() + 1, target, window, kFillerResource, &what, &error));
  ASSERT_TRUE(PadFile(module, module.size(), target, window, kFillerResource, &what, &error)) << error;
  ASSERT_TRUE(StampModule(module, &error)) << error;
  SelfCheck after = CheckSelfRecord(module);
  EXPECT_TRUE(after.matches);
  EXPECT_EQ(after.expected.sum, target.sum);
  EXPECT_EQ(after.expected.xorValue, target.xorValue);
}

TEST(Fptool, PadAppendsToFilesWithoutFiller) {
  ByteBuffer file = Text("plain data");
  std::string what;
  std::string error;
  ASSERT_TRUE(PadFile(file, 1000, {0x8000, 0x11223344}, kNoWindow, kFillerResource, &what, &error)) << error;
  EXPECT_EQ(file.size(), 1000u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 10), "plain data");
  EXPECT_EQ(RecordText(WholeFileChecksum(file, kNoWindow)), "0000800011223344");
  ByteBuffer full = file;
  EXPECT_FALSE(PadFile(file, 1000, {0x8000, 0x11223344}, kNoWindow, kFillerResource, &what, &error));
  EXPECT_FALSE(PadFile(file, 999, {0x8000, 0x11223344}, kNoWindow, kFillerResource, &what, &error));
  EXPECT_EQ(file, full);
}

}  // namespace

TEST(Fptool, TrimMovesARecordOffTheResourceCompilersSteps) {
  ByteBuffer head(4, 0);
  ByteBuffer self = SelfRecord();
  head.insert(head.end(), self.begin(), self.end());
  ByteBuffer module = BuildModule({{"RESOURCE.DLL", head}, {"LMH.EXE", Text("0")}});
  PeResourceEntry before{};
  ASSERT_TRUE(PeFindResource(module.data(), module.size(), "#10", "RESOURCE.dll", &before));

  std::string error;
  ASSERT_TRUE(TrimResourceHead(module, "RESOURCE.dll", 4, &error)) << error;
  PeResourceEntry after{};
  ASSERT_TRUE(PeFindResource(module.data(), module.size(), "#10", "RESOURCE.dll", &after));
  EXPECT_EQ(after.fileOffset, before.fileOffset + 4);
  EXPECT_EQ(after.size, before.size - 4);
  ASSERT_TRUE(StampModule(module, &error)) << error;
  EXPECT_TRUE(CheckSelfRecord(module).matches);

  // Bytes that are not zero are content, never dropped.
  const ByteBuffer unchanged = module;
  EXPECT_FALSE(TrimResourceHead(module, "RESOURCE.dll", 4, &error));  // now starts with "/**/"
  EXPECT_FALSE(TrimResourceHead(module, "MISSING", 4, &error));
  EXPECT_EQ(module, unchanged);
}
