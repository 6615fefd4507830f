// Payload files that travel as zstd frames (resource type "zst"): the run
// writes what they decode to, with the same pieces, percentages and
// messages as a build that stores them whole, and refuses every damaged one.
#include <cstring>
#include <functional>

#include "core/updater_state.h"
#include "install/run/installation_run.h"
#include "install/source/piece_source.h"
#include "tests/unit/module_fixture.h"
#include "tests/unit/run_in_window.h"
#include "tests/unit/sim_fixture.h"
#include "tests/unit/zstd_fixture.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

const char kPerFileExe[] = "LMH.exe - Lantern Moonharbor - Update Program -";
const char kUpdater[] = "Lantern Moonharbor - Update Program";

class CompressedPayload : public SimTest {
 protected:
  const std::string kExe = std::string(kInstall) + "\\LMH.exe";
  const std::string kDll = std::string(kInstall) + "\\dll\\RESOURCE.dll";

  void SetUp() override {
    SimTest::SetUp();
    Prepare();
  }

  void Prepare() {
    ResetMachine();
    std::memset(&g_state, 0, sizeof g_state);
    std::strcpy(g_state.caption, kUpdater);
    std::strcpy(g_state.installFolder, kInstall);
    std::strcpy(g_state.appDataFolder, kAppData);
    g_state.instance = sim::OwnModule();
    fs::create_directories(Host(std::string(kInstall) + "\\dll"));
    WriteBytes(Host(kExe), "old exe");
    WriteBytes(Host(kDll), "old dll");
    WriteInstalledProfile();
  }

  // The game executable (exeSize bytes) and its module; with exeFrame, the
  // executable travels as that frame (made from exe_ when empty), the module
  // compressed as well.
  void Carry(std::size_t exeSize, bool compressed, std::vector<uint8_t> exeFrame = {}) {
    exe_ = SampleContent(exeSize);
    dll_ = FingerprintModuleFor(exe_, 2560);
    ASSERT_FALSE(dll_.empty());
    if (!compressed) {
      CarryStored("LMH.EXE", exe_);
      CarryStored("RESOURCE.DLL", dll_);
      return;
    }
    // A frame the build made damaged is recorded as the build made it: the
    // run finds the damage as it decodes.
    ::Carry(CarriedKind::Frame, "LMH.EXE", exeFrame.empty() ? Frame(exe_) : exeFrame, exe_);
    ::Carry(CarriedKind::Frame, "RESOURCE.DLL", Frame(dll_), dll_);
  }

  void StartRun() { RunInProgressWindow(); }

  std::vector<std::string> Captions() {
    std::vector<std::string> c;
    for (const auto& box : sim::MessageBoxes()) c.push_back(box.caption);
    return c;
  }

  std::vector<uint8_t> exe_;
  std::vector<uint8_t> dll_;
};

// Same files, stored and compressed: the same writes, the same
// percentages, the same free-space question, the same files.
TEST_F(CompressedPayload, ShowsWhatTheStoredBuildShows) {
  struct Seen {
    std::vector<uint32_t> writes;
    std::vector<std::string> shown;
    std::vector<std::string> texts;
    std::string diskQuery;
    std::vector<uint8_t> exe, dll;
    bool succeeded;
  };
  Seen seen[2];
  for (int compressed = 0; compressed < 2; ++compressed) {
    Prepare();
    // 2 MiB free: the decoded 2.5 MiB needs 2 in whole mebibytes, the frames far less.
    sim::SetDiskSpace(true, 100ull << 20, 2ull << 20);
    Carry(2621440, compressed == 1);
    Seen& s = seen[compressed];
    sim::OnPump([&] { s.shown.push_back(sim::Dialog().itemTexts.at(IDC_PERCENT).back()); });
    StartRun();
    for (const auto& w : PayloadWrites()) s.writes.push_back(w.size);
    s.texts = sim::Dialog().itemTexts.at(IDC_PERCENT);
    s.exe = ReadBytes(Host(kExe));
    s.dll = ReadBytes(Host(kDll));
    s.succeeded = g_state.succeeded;
    EXPECT_TRUE(sim::MessageBoxes().empty()) << compressed;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << compressed;
  }
  EXPECT_TRUE(seen[1].succeeded);
  EXPECT_EQ(seen[1].writes.size(), 2621440u / 65534 + 2);
  EXPECT_EQ(seen[1].writes, seen[0].writes);
  EXPECT_EQ(seen[1].shown, seen[0].shown);
  EXPECT_EQ(seen[1].texts, seen[0].texts);
  EXPECT_TRUE(seen[1].exe == exe_);
  EXPECT_TRUE(seen[1].dll == dll_);

  // One mebibyte less free than the decoded files need: refused before
  // anything is written, in the same words.
  std::string refusal[2];
  for (int compressed = 0; compressed < 2; ++compressed) {
    Prepare();
    sim::SetDiskSpace(true, 100ull << 20, 1ull << 20);
    Carry(2621440, compressed == 1);
    StartRun();
    EXPECT_FALSE(g_state.succeeded);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    refusal[compressed] = sim::MessageBoxes()[0].text;
    EXPECT_TRUE(sim::Writes().empty());
  }
  EXPECT_EQ(refusal[1], refusal[0]);
}

// Every kind of damage: the per-file message (or, when not even the header
// can be read, the lookup's message in each pass first), then the run ends
// with the installation as it was and nothing beside it.
TEST_F(CompressedPayload, DamageLeavesTheInstallationAsItWas) {
  const std::size_t size = 300000;
  const std::vector<uint8_t> content = SampleContent(size);
  const std::vector<uint8_t> good = Frame(content, {19});
  auto changed = [&](std::function<void(std::vector<uint8_t>&)> change) {
    std::vector<uint8_t> f = good;
    change(f);
    return f;
  };
  // The frame's declared size: a single-segment frame of this size holds it
  // in 4 bytes right after the 5-byte start.
  ASSERT_EQ(good[4] >> 5, 0x5) << "single segment, 4-byte size";
  const std::vector<std::string> lookupFails = {kUpdater, kUpdater, kPerFileExe};
  const struct {
    const char* what;
    std::vector<uint8_t> frame;
    std::vector<std::string> captions;
  } cases[] = {
      {"a byte in the middle flipped", changed([](auto& f) { f[f.size() / 2] ^= 0x10; }), {kPerFileExe}},
      {"a byte near the end flipped", changed([](auto& f) { f[f.size() - 10] ^= 0x01; }), {kPerFileExe}},
      {"cut short", changed([](auto& f) { f.resize(f.size() - 100); }), {kPerFileExe}},
      {"cut to its header", changed([](auto& f) { f.resize(12); }), {kPerFileExe}},
      {"trailing bytes", changed([](auto& f) { f.push_back(0); }), {kPerFileExe}},
      {"declares a byte more", changed([](auto& f) { f[5] += 1; }), {kPerFileExe}},
      {"declares a byte less", changed([](auto& f) { f[5] -= 1; }), {kPerFileExe}},
      {"checksum does not match", changed([](auto& f) { f[f.size() - 1] ^= 0x80; }), {kPerFileExe}},
      {"window above 8 MiB", Frame(SampleContent(9u << 20), {1, 24}), {kPerFileExe}},
      {"not a frame", content, lookupFails},
      {"size not declared", Frame(content, {19, 0, false, true}), lookupFails},
      {"no checksum", Frame(content, {19, 0, true, false}), lookupFails},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare();
    Carry(size, true, c.frame);
    StartRun();
    EXPECT_FALSE(g_state.succeeded);
    EXPECT_EQ(Captions(), c.captions);
    ASSERT_FALSE(sim::MessageBoxes().empty());
    EXPECT_NE(sim::MessageBoxes().back().text.find("[0x000A0002]"), std::string::npos);
    EXPECT_EQ(sim::MessageBoxes().back().owner, g_state.progressWindow);
    EXPECT_EQ(ReadText(Host(kExe)), "old exe");
    EXPECT_EQ(ReadText(Host(kDll)), "old dll");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(ReadText(ProfilePath()).find("NonActivation"), std::string::npos);
    EXPECT_EQ(sim::LiveFiles(), 0);
    EXPECT_EQ(sim::LiveAllocations(), 0);
  }
}

// A frame of 300,000 bytes of content whose header declares `declared`
// bytes instead, as a frame of a file that large would: the sizing pass and
// the free-space check take the declaration, the decoder finds the frame
// short when it ends.
std::vector<uint8_t> DeclaringFrame(uint64_t declared) {
  static const std::vector<uint8_t> real = Frame(SampleContent(300000), {3, 17});
  // Magic, the frame descriptor (0x84: a four-byte size and a checksum; 0xC4
  // with an eight-byte size), the window descriptor, the size, the blocks.
  EXPECT_EQ(real[4], 0x84);
  std::vector<uint8_t> forged(real.begin(), real.begin() + 6);
  const int sizeBytes = declared > UINT32_MAX ? 8 : 4;
  if (sizeBytes == 8) forged[4] = 0xC4;
  for (int i = 0; i < sizeBytes; ++i) forged.push_back(static_cast<uint8_t>(declared >> (8 * i)));
  forged.insert(forged.end(), real.begin() + 10, real.end());
  ZstdFrameInfo info{};
  EXPECT_TRUE(ZstdReadFrameHeader(forged.data(), forged.size(), &info) && info.contentSize == declared);
  return forged;
}

// Sizes either side of 4 GiB, for a file and for all files together: each
// file is below 4 GiB, their sum is counted whole in the free-space check
// and the percentage, which never passes what was written.
TEST_F(CompressedPayload, SizesPastFourGibibytesAreCountedWhole) {
  const uint64_t kGiB = uint64_t{1} << 30;
  const struct {
    const char* what;
    uint64_t exe, dll;  // declared sizes
    uint64_t freeBytes;
    std::vector<std::string> shown;  // "" in place of the free-space message
    int neededMiB;                   // what that message asks for
  } cases[] = {
      {"just under 4 GiB in all, room for it", 2 * kGiB, 2 * kGiB - 1, 4 * kGiB, {"LMH.exe [0x000A0002]"}, 0},
      {"just under 4 GiB in all, a mebibyte short", 2 * kGiB, 2 * kGiB - 1, 4094ull << 20, {""}, 4096},
      {"4 GiB in all, room for it", 2 * kGiB, 2 * kGiB, 4 * kGiB, {"LMH.exe [0x000A0002]"}, 0},
      {"4 GiB in all, a mebibyte short", 2 * kGiB, 2 * kGiB, 4095ull << 20, {""}, 4097},
      {"5 GiB in all, 2 GiB free", 5 * kGiB / 2, 5 * kGiB / 2, 2 * kGiB, {""}, 5121},
      {"5 GiB in all, 6 GiB free", 5 * kGiB / 2, 5 * kGiB / 2, 6 * kGiB, {"LMH.exe [0x000A0002]"}, 0},
      {"4 GiB and 100,000 bytes in all", 2 * kGiB + 100000, 2 * kGiB, 5 * kGiB, {"LMH.exe [0x000A0002]"}, 0},
      {"one file just under 4 GiB", 4 * kGiB - 1, 300000, 5 * kGiB, {"LMH.exe [0x000A0002]"}, 0},
      {"one file of 4 GiB", 4 * kGiB, 300000, 9 * kGiB,
       {"Lantern Moonharbor [0x00010002]", "Lantern Moonharbor [0x00010002]", "LMH.exe [0x000A0002]"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare();
    sim::SetDiskSpace(true, 16 * kGiB, c.freeBytes);
    // Recorded with the content the forged frames' checksum is of.
    ::Carry(CarriedKind::Frame, "LMH.EXE", DeclaringFrame(c.exe), SampleContent(300000));
    ::Carry(CarriedKind::Frame, "RESOURCE.DLL", DeclaringFrame(c.dll), SampleContent(300000));
    std::vector<std::string> percents;
    sim::OnPump([&] { percents.push_back(sim::Dialog().itemTexts.at(IDC_PERCENT).back()); });
    StartRun();
    EXPECT_FALSE(g_state.succeeded);
    std::vector<std::string> shown = Shown();
    if (c.neededMiB != 0) {
      ASSERT_EQ(shown.size(), 1u);
      const std::string needed = "必要容量 : " + std::to_string(c.neededMiB);
      EXPECT_EQ(shown[0].substr(shown[0].size() - needed.size()), needed);
      shown[0] = "";
      EXPECT_TRUE(sim::Writes().empty());
    }
    EXPECT_EQ(shown, c.shown);
    // What was written of 4 GiB and more is well below one percent.
    EXPECT_EQ(percents, std::vector<std::string>(percents.size(), "  0%"));
    // Pieces are written only when the run gets past the free-space check and the lookups.
    EXPECT_EQ(percents.empty(), c.shown.size() != 1 || c.neededMiB != 0);
    EXPECT_EQ(ReadText(Host(kExe)), "old exe");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

// The decoder keeps at most the 8 MiB window and its buffers, whatever the
// size of the file; and with no memory for it the file is not written.
TEST_F(CompressedPayload, MemoryDoesNotGrowWithThePayload) {
  std::size_t peak[2] = {};
  const std::size_t sizes[2] = {12u << 20, 24u << 20};
  for (int i = 0; i < 2; ++i) {
    Prepare();
    Carry(sizes[i], true, Frame(SampleContent(sizes[i]), {1, 23}));
    StartRun();
    ASSERT_TRUE(g_state.succeeded) << sizes[i];
    peak[i] = sim::PeakAllocatedBytes();
  }
  EXPECT_EQ(peak[0], peak[1]);
  EXPECT_GT(peak[1], std::size_t{8} << 20) << "the window is the decoder's";
  EXPECT_LT(peak[1], std::size_t{10} << 20);

  for (int from = 1; from <= 3; ++from) {
    SCOPED_TRACE(from);
    Prepare();
    Carry(100000, true);
    sim::FailAllocationsFrom(from);
    StartRun();
    EXPECT_FALSE(g_state.succeeded);
    EXPECT_EQ(Captions(), std::vector<std::string>{kPerFileExe});
    EXPECT_EQ(ReadText(Host(kExe)), "old exe");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(sim::LiveAllocations(), 0);
  }
}

// With no memory, from each allocation of the run in turn until it gets all
// it needs: the message each shows.
TEST_F(CompressedPayload, NoMemoryAtEachAllocationShowsWhatItShowedBefore) {
  std::vector<std::string> shown;
  for (int from = 1; from < 40; ++from) {
    Prepare();
    Carry(100000, true);
    sim::FailAllocationsFrom(from);
    StartRun();
    if (g_state.succeeded) break;
    ASSERT_EQ(sim::MessageBoxes().size(), 1u) << from;
    shown.push_back(Shown()[0]);
    EXPECT_EQ(ReadText(Host(kExe)), "old exe") << from;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << from;
  }
  // The piece buffer and the decoder's memory, for each file: the file did
  // not load; then the proof's read buffers and the switch's.
  const std::string exeNotLoaded = "LMH.exe [0x000A0002]", dllNotLoaded = "dll\\RESOURCE.dll [0x000A0002]";
  EXPECT_EQ(shown, (std::vector<std::string>{exeNotLoaded, exeNotLoaded, exeNotLoaded, exeNotLoaded, dllNotLoaded,
                                             dllNotLoaded, dllNotLoaded, "dll\\RESOURCE.dll [0x000A0003]",
                                             "LMH.exe [0x000A0003]", "LMH.exe [0x000A0003]",
                                             "LMH.exe [0x000A0003]"}));
}

}  // namespace
