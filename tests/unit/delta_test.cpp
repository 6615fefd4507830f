// Payload files written from deltas against the installed version: which
// version the installation holds, the run that decodes against it, and
// every way a delta or its reference can be wrong.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "app/run_updater.h"
#include "base/zstd_stream.h"
#include "core/updater_state.h"
#include "fingerprint/checksum.h"
#include "install/source/delta_format.h"
#include "install/source/delta_identify.h"
#include "install/run/installation_run.h"
#include "platform/sim/file_view_sim.h"
#include "platform/win_values.h"
#include "tests/unit/delta_fixture.h"
#include "tests/unit/run_in_window.h"
#include "tests/unit/sim_fixture.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
const char kFinished[] = "アップデートが終了しました。";
const char kAborted[] = "アップデートが中止されました。";
const char kDoesNotFit[] =
    "インストールされている「Lantern Moonharbor」のバージョンには、このアップデートを適用できません。\n"
    "お使いのバージョンに対応したアップデートを入手して下さい。";
const char kFailed[] = "アップデートに失敗しました。[0x000A0003]";
const char kNotLoaded[] = "アップデートに失敗しました。[0x000A0002]";
const char kPerFileExe[] = "LMH.exe - Lantern Moonharbor - Update Program -";

class Deltas : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Prepare();
  }

  // The sample's old version installed; its new version is the payload.
  void Prepare() {
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    WriteInstalledProfile();
    oldExe_ = ReadBytes(SampleDir() / "old" / "LMH.exe");
    newExe_ = ReadBytes(SampleDir() / "new" / "LMH.exe");
    oldDll_ = ReadBytes(SampleDir() / "old" / "dll" / "RESOURCE.dll");
    newDll_ = ReadBytes(SampleDir() / "new" / "dll" / "RESOURCE.dll");
  }

  void CarryWhole() {
    CarryStored("LMH.EXE", newExe_);
    CarryStored("RESOURCE.DLL", newDll_);
  }
  // Deltas of both files against the sample's old version, as the build makes them.
  void CarryDeltasFromOld() {
    Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(IdentityOf(oldExe_), DeltaFrame(oldExe_, newExe_)),
          newExe_);
    Carry(CarriedKind::Delta, "RESOURCE.DLL$1", DeltaResource(IdentityOf(oldDll_), DeltaFrame(oldDll_, newDll_)),
          newDll_);
  }

  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  // The run alone, as the main flow starts it after identification.
  void StartRun() { RunInProgressWindow(); }
  // Identification as the main flow makes it: with the run's folders held.
  // The file operations it made are kept in identifying_.
  bool Identify() {
    EXPECT_EQ(PrepareRun(), RunStart::Ready);
    const std::size_t before = sim::FileOperations().size();
    const bool identified = IdentifyInstalledVersions();
    identifying_.assign(sim::FileOperations().begin() + static_cast<long>(before), sim::FileOperations().end());
    FinishRun();
    return identified;
  }
  std::vector<std::string> identifying_;
  void PrepareState() {
    std::memset(&g_state, 0, sizeof g_state);
    std::strcpy(g_state.caption, "Lantern Moonharbor - Update Program");
    std::strcpy(g_state.installFolder, kInstall);
    std::strcpy(g_state.appDataFolder, kAppData);
    g_state.instance = sim::OwnModule();
  }

  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (const auto& box : sim::MessageBoxes()) t.push_back(box.text);
    return t;
  }
  int Mapped(const std::string& entry) {
    int n = 0;
    for (const auto& op : sim::FileOperations()) n += op == "map:" + std::string(kInstall) + "\\" + entry;
    return n;
  }
  Bytes Installed(const std::string& entry) { return ReadBytes(Host(std::string(kInstall) + "\\" + entry)); }

  void TearDown() override {
    EXPECT_EQ(sim::LiveFileViews(), 0) << "a file view was left open";
    EXPECT_EQ(sim::UnansweredBoxes(), 0) << "a question was shown that the test did not expect";
    SimTest::TearDown();
  }

  Bytes oldExe_, newExe_, oldDll_, newDll_;
};

// With both a delta and the whole file carried, the installed old version
// takes the delta: same messages, same pieces and percentages as the whole
// file, the same new files.
TEST_F(Deltas, TheOldVersionIsUpdatedFromItsDeltaWithTheSamePiecesAndPercentages) {
  auto run = [&](bool withDeltas, std::vector<uint32_t>* sizes, std::vector<std::string>* shown) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    CarryWhole();
    if (withDeltas) CarryDeltasFromOld();
    // A link planted under the new file's name while the confirmation
    // waits: the file it names stays as it was.
    const fs::path victim = root_ / "outside" / "victim.dat";
    WriteBytes(victim, "a file of someone else's");
    bool planted = false;
    sim::OnMessageBox([&] {
      if (planted) return;
      planted = true;
      fs::create_hard_link(victim, Host(std::string(kInstall) + "\\LMH.exe.UpDate-new"));
    });
    sim::OnPump([&] { shown->push_back(sim::Dialog().itemTexts.at(IDC_PERCENT).back()); });
    sim::QueueAnswers({IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ReadText(victim), "a file of someone else's");
    EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kFinished}));
    EXPECT_EQ(Installed("LMH.exe"), newExe_);
    EXPECT_EQ(Installed("dll\\RESOURCE.dll"), newDll_);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    EXPECT_EQ(Mapped("LMH.exe"), withDeltas ? 1 : 0);
    EXPECT_EQ(Mapped("dll\\RESOURCE.dll"), withDeltas ? 1 : 0);
    for (const auto& w : PayloadWrites()) sizes->push_back(w.size);
  };
  std::vector<uint32_t> wholeSizes, deltaSizes;
  std::vector<std::string> wholeShown, deltaShown;
  run(false, &wholeSizes, &wholeShown);
  run(true, &deltaSizes, &deltaShown);
  EXPECT_EQ(deltaSizes, wholeSizes);
  EXPECT_EQ(deltaShown, wholeShown);
  EXPECT_EQ(deltaSizes.front(), 65534u);
}

// Only the delta whose reference is the installed file is taken; the others
// and a damaged header fit nothing. Deltas only: the one that fits is enough.
TEST_F(Deltas, TheDeltaMadeAgainstTheInstalledVersionIsChosenAmongOthers) {
  Bytes other = oldExe_;
  other[100] ^= 0x55;
  Bytes badHeader = DeltaResource(IdentityOf(oldExe_), DeltaFrame(oldExe_, newExe_));
  badHeader[0] = 'X';
  // Cut inside its header: what would be the reference's hash lies past the
  // resource's end (the sanitizer run sees any read of it).
  Bytes shortHeader = DeltaResource(IdentityOf(oldExe_), DeltaFrame(oldExe_, newExe_));
  shortHeader.resize(kDeltaHeaderSize - 1);
  Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(IdentityOf(other), DeltaFrame(other, newExe_)), newExe_);
  Carry(CarriedKind::Delta, "LMH.EXE$2", badHeader, newExe_);
  Carry(CarriedKind::Delta, "LMH.EXE$3", DeltaResource(IdentityOf(oldExe_), DeltaFrame(oldExe_, newExe_)),
        newExe_);
  Carry(CarriedKind::Delta, "LMH.EXE$4", shortHeader, newExe_);
  CarryStored("RESOURCE.DLL", newDll_);
  PrepareState();
  ASSERT_TRUE(Identify());
  EXPECT_EQ(g_state.chosenDelta[0], 3);
  EXPECT_EQ(g_state.chosenDelta[1], 0);
  StartRun();
  EXPECT_TRUE(g_state.succeeded);
  EXPECT_EQ(Installed("LMH.exe"), newExe_);
  EXPECT_EQ(Installed("dll\\RESOURCE.dll"), newDll_);
}

// Each part of the identity counts: a delta whose recorded reference differs
// from the installed file in any one of them is not taken. With the whole
// file carried the run writes it instead; with deltas only it stops before
// any question, with exit code 2 and nothing written.
TEST_F(Deltas, AnInstalledFileThatMatchesNoVersionTakesTheWholeFileOrStops) {
  const DeltaReference installed = IdentityOf(oldExe_);
  const struct {
    const char* what;
    std::function<void(DeltaReference&)> change;
  } cases[] = {
      {"size", [](DeltaReference& r) { r.size += 4; }},
      {"sum", [](DeltaReference& r) { r.pair.sum ^= 1; }},
      {"xor", [](DeltaReference& r) { r.pair.xorValue ^= 0x100; }},
      {"hash", [](DeltaReference& r) { r.hash ^= uint64_t{1} << 63; }},
  };
  enum Whole { Stored, Compressed, None };
  for (const auto& c : cases) {
    for (Whole carried : {Stored, Compressed, None}) {
      const bool whole = carried != None;
      ResetMachine();
      ASSERT_NO_FATAL_FAILURE(Prepare());
      DeltaReference recorded = installed;
      c.change(recorded);
      Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(recorded, DeltaFrame(oldExe_, newExe_)), newExe_);
      if (carried == Stored) CarryStored("LMH.EXE", newExe_);
      // A frame without a reference is the compressed whole file.
      if (carried == Compressed) Carry(CarriedKind::Frame, "LMH.EXE", DeltaFrame({}, newExe_), newExe_);
      CarryStored("RESOURCE.DLL", newDll_);
      if (whole) {
        sim::QueueAnswers({IDOK, IDOK});
        EXPECT_EQ(Run(), 0) << c.what;
        EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kFinished})) << c.what;
        EXPECT_EQ(Installed("LMH.exe"), newExe_) << c.what;
        EXPECT_EQ(Mapped("LMH.exe"), 0) << c.what;
      } else {
        EXPECT_EQ(Run(), 2) << c.what;
        EXPECT_EQ(Texts(), std::vector<std::string>{kDoesNotFit}) << c.what;
        EXPECT_EQ(sim::MessageBoxes()[0].style, 0x30u);
        EXPECT_EQ(sim::MessageBoxes()[0].caption, "Lantern Moonharbor - Update Program");
        EXPECT_TRUE(sim::Writes().empty()) << c.what;
        EXPECT_EQ(Installed("LMH.exe"), oldExe_) << c.what;
        EXPECT_EQ(ReadText(ProfilePath()).find("NonActivation"), std::string::npos) << c.what;
      }
    }
  }
}

// Identification reads each file with deltas once, and not at all when its
// size is none of the versions'.
TEST_F(Deltas, IdentificationReadsAFileOnceAndOnlyWhenItsSizeFits) {
  for (bool sizeFits : {true, false}) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    DeltaReference recorded = IdentityOf(oldExe_);
    if (!sizeFits) recorded.size += 1;
    Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(recorded, DeltaFrame(oldExe_, newExe_)), newExe_);
    CarryStored("LMH.EXE", newExe_);
    PrepareState();
    ASSERT_TRUE(Identify());
    EXPECT_EQ(g_state.chosenDelta[0], sizeFits ? 1 : 0);
    std::size_t allocations = sim::PeakAllocatedBytes();
    // Its folder checked, then the file opened, as every installed file is read.
    EXPECT_EQ(identifying_, (std::vector<std::string>{"open-folder:" + std::string(kInstall),
                                                       "open-existing:" + std::string(kInstall) + "\\LMH.exe"}));
    EXPECT_EQ(allocations, sizeFits ? std::size_t{1} << 20 : 0u);
  }
}

// A damaged delta, a reference changed after it was identified, and one
// whose identity matches but whose bytes are not those the delta was made
// against: the file's failure message, the update aborted, the
// installation as it was and nothing left beside it.
TEST_F(Deltas, BadDeltasAndChangedReferencesLeaveTheInstallationAsItWas) {
  const Bytes frame = DeltaFrame(oldExe_, newExe_);
  // Of the old version's size, and what the new version copies from: a
  // delta made against it copies nearly everything from it, so decoding it
  // against any other bytes gives another file.
  Bytes sameSizeOther = newExe_;
  sameSizeOther.resize(oldExe_.size(), 0x5A);
  ASSERT_NE(sameSizeOther, oldExe_);
  const struct {
    const char* what;
    Bytes resource;
    std::function<void()> afterIdentification;
  } cases[] = {
      {"a byte flipped in the frame",
       [&] {
         Bytes r = DeltaResource(IdentityOf(oldExe_), frame);
         r[kDeltaHeaderSize + frame.size() / 2] ^= 0x01;
         return r;
       }(),
       nullptr},
      {"the frame cut short",
       [&] {
         Bytes r = DeltaResource(IdentityOf(oldExe_), frame);
         r.resize(r.size() - 3);
         return r;
       }(),
       nullptr},
      {"bytes after the frame",
       [&] {
         Bytes r = DeltaResource(IdentityOf(oldExe_), frame);
         r.push_back(0);
         return r;
       }(),
       nullptr},
      {"the checksum at the frame's end",
       [&] {
         Bytes r = DeltaResource(IdentityOf(oldExe_), frame);
         r.back() ^= 0x80;
         return r;
       }(),
       nullptr},
      {"identity matches, bytes do not", DeltaResource(IdentityOf(oldExe_), DeltaFrame(sameSizeOther, newExe_)),
       nullptr},
      {"reference changed after identification, its size kept", DeltaResource(IdentityOf(oldExe_), frame),
       [&] {
         std::string changed(oldExe_.begin(), oldExe_.end());
         for (char& c : changed) c = static_cast<char>(~c);
         WriteBytes(Host(std::string(kInstall) + "\\LMH.exe"), changed);
       }},
      {"reference grown after identification", DeltaResource(IdentityOf(oldExe_), frame),
       [&] {
         std::string grown(oldExe_.begin(), oldExe_.end());
         WriteBytes(Host(std::string(kInstall) + "\\LMH.exe"), grown + "x");
       }},
  };
  for (const auto& c : cases) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    Carry(CarriedKind::Delta, "LMH.EXE$1", c.resource, newExe_);
    CarryStored("LMH.EXE", newExe_);
    CarryStored("RESOURCE.DLL", newDll_);
    PrepareState();
    ASSERT_TRUE(Identify()) << c.what;
    ASSERT_EQ(g_state.chosenDelta[0], 1) << c.what;
    if (c.afterIdentification) c.afterIdentification();
    const Bytes before = Installed("LMH.exe");
    StartRun();
    EXPECT_FALSE(g_state.succeeded) << c.what;
    ASSERT_EQ(sim::MessageBoxes().size(), 1u) << c.what;
    EXPECT_EQ(sim::MessageBoxes()[0].text, kNotLoaded) << c.what;
    EXPECT_EQ(sim::MessageBoxes()[0].caption, kPerFileExe) << c.what;
    EXPECT_EQ(Installed("LMH.exe"), before) << c.what;
    EXPECT_EQ(Installed("dll\\RESOURCE.dll"), oldDll_) << c.what;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << c.what;
  }
}

// A delta's frame may ask for a window as large as the run's limit, never
// more, and must declare its size and checksum: frames asking for 256 MiB or
// 512 MiB of window, or declaring 200 MiB of content, are refused before
// anything is decoded, though a decoder without the bounds takes each whole.
TEST_F(Deltas, AFrameBeyondTheLimitIsRefused) {
  Bytes frame = DeltaFrame(oldExe_, newExe_);
  ZstdFrameInfo info{};
  ASSERT_TRUE(ZstdReadFrameHeader(frame.data(), frame.size(), &info));
  ASSERT_LE(info.windowSize, kDeltaFileLimit);
  // Magic, then a frame descriptor, a window descriptor (log - 10) << 3 and
  // the content size when declared, one empty last raw block, then the low
  // four bytes of the empty content's XXH64.
  const Bytes checksum = {0x99, 0xE9, 0xD8, 0x51};
  const struct {
    const char* what;
    Bytes frame;
  } cases[] = {
      // Frame descriptor 0x84: a four-byte content size (here 0) and a checksum.
      {"window 2^29", {0x28, 0xB5, 0x2F, 0xFD, 0x84, (29 - 10) << 3, 0, 0, 0, 0, 0x01, 0x00, 0x00}},
      {"window 2^28", {0x28, 0xB5, 0x2F, 0xFD, 0x84, (28 - 10) << 3, 0, 0, 0, 0, 0x01, 0x00, 0x00}},
      {"no content size", {0x28, 0xB5, 0x2F, 0xFD, 0x04, (20 - 10) << 3, 0x01, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    Bytes wide = c.frame;
    wide.insert(wide.end(), checksum.begin(), checksum.end());
    ZSTD_DCtx* unbounded = ZSTD_createDCtx();
    ZSTD_DCtx_setParameter(unbounded, ZSTD_d_windowLogMax, 31);
    uint8_t out[16];
    EXPECT_EQ(ZSTD_decompressDCtx(unbounded, out, sizeof out, wide.data(), wide.size()), 0u) << c.what;
    ZSTD_freeDCtx(unbounded);
    Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(IdentityOf(oldExe_), wide), newExe_);
    CarryStored("LMH.EXE", newExe_);
    CarryStored("RESOURCE.DLL", newDll_);
    PrepareState();
    ASSERT_TRUE(Identify());
    StartRun();
    EXPECT_FALSE(g_state.succeeded) << c.what;
    EXPECT_EQ(Texts(), std::vector<std::string>{kNotLoaded}) << c.what;
    EXPECT_EQ(Installed("LMH.exe"), oldExe_) << c.what;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << c.what;
  }
}

// The installed file that cannot be mapped, or a new file that cannot be
// created: the file's failure message, every handle and view released.
TEST_F(Deltas, EachFileOperationOfTheDeltaWriteFailingStopsTheRun) {
  // The installed old version, both ways carried, identified.
  auto ready = [&] {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    CarryWhole();
    CarryDeltasFromOld();
    PrepareState();
    ASSERT_TRUE(Identify());
  };
  for (const char* failing : {"open-existing:", "map:", "open-new:", "flush:"}) {
    ASSERT_NO_FATAL_FAILURE(ready());
    // The first operation of that kind on the game executable, counted on a clean run first.
    int at = 0;
    {
      const std::size_t before = sim::FileOperations().size();
      StartRun();
      ASSERT_TRUE(g_state.succeeded);
      const auto& ops = sim::FileOperations();
      for (std::size_t i = before; i < ops.size() && at == 0; ++i) {
        if (ops[i].rfind(failing, 0) == 0) at = static_cast<int>(i - before) + 1;
      }
      ASSERT_NE(at, 0) << failing;
    }
    ASSERT_NO_FATAL_FAILURE(ready());
    sim::FailFileOperation(static_cast<int>(sim::FileOperations().size()) + at);
    StartRun();
    EXPECT_FALSE(g_state.succeeded) << failing;
    EXPECT_EQ(Texts(), std::vector<std::string>{kFailed}) << failing;
    EXPECT_EQ(Installed("LMH.exe"), oldExe_) << failing;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << failing;
  }
}

// Where the delta path and the whole-file path differ today, pinned: a disk
// that fills in the middle of the second piece shows, for a delta, only the
// percentage of whole pieces, while the whole file shows one after every
// write; and with no memory, a delta names a failed write for its piece
// buffer but an unloaded file for its decoder.
TEST_F(Deltas, AShortWriteAndNoMemoryShowWhatTheyShowedBefore) {
  auto shortWrite = [&](bool withDeltas, std::vector<std::string>* shown) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    CarryWhole();
    if (withDeltas) CarryDeltasFromOld();
    PrepareState();
    ASSERT_TRUE(Identify());
    ASSERT_EQ(g_state.chosenDelta[0], withDeltas ? 1 : 0);
    sim::LimitWrites(std::string(kInstall) + "\\LMH.exe.UpDate-new", 70000);
    sim::OnPump([&] { shown->push_back(sim::Dialog().itemTexts.at(IDC_PERCENT).back()); });
    StartRun();
    EXPECT_FALSE(g_state.succeeded);
    EXPECT_EQ(Texts(), std::vector<std::string>{kFailed});
    std::vector<uint32_t> sizes;
    for (const auto& w : PayloadWrites()) sizes.push_back(w.size);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{65534, 4466, 0}));
    EXPECT_EQ(Installed("LMH.exe"), oldExe_);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  };
  std::vector<std::string> whole, delta;
  shortWrite(false, &whole);
  shortWrite(true, &delta);
  ASSERT_EQ(delta.size(), 1u);
  ASSERT_EQ(whole.size(), 2u);
  EXPECT_EQ(delta[0], whole[0]);
  EXPECT_NE(whole[1], whole[0]);

  // From the first allocation of the write on, each failing in turn, until
  // the run gets all it needs: the message each shows.
  std::vector<std::string> shown;
  for (int from = 1; from < 40; ++from) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    CarryDeltasFromOld();
    PrepareState();
    ASSERT_TRUE(Identify());
    sim::FailAllocationsFrom(from);
    StartRun();
    if (g_state.succeeded) break;
    ASSERT_EQ(sim::MessageBoxes().size(), 1u) << from;
    shown.push_back(Shown()[0]);
    EXPECT_EQ(Installed("LMH.exe"), oldExe_) << from;
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << from;
  }
  // Each file: its piece buffer (a failed write), then the decoder's memory
  // (not loaded); then the proof's read buffers and the switch's.
  const std::string exeFailed = "LMH.exe [0x000A0003]", exeNotLoaded = "LMH.exe [0x000A0002]";
  const std::string dllFailed = "dll\\RESOURCE.dll [0x000A0003]", dllNotLoaded = "dll\\RESOURCE.dll [0x000A0002]";
  EXPECT_EQ(shown, (std::vector<std::string>{exeFailed, exeNotLoaded, exeNotLoaded, exeNotLoaded, exeNotLoaded,
                                             dllFailed, dllNotLoaded, dllNotLoaded, dllNotLoaded, dllFailed,
                                             exeFailed, exeFailed, exeFailed}));
}

}  // namespace
