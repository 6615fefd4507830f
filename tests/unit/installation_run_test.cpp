#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/updater_state.h"
#include "install/run/installation_run.h"
#include "install/switch/run_start.h"
#include "install/source/payload.h"
#include "platform/win_values.h"
#include "tests/unit/module_fixture.h"
#include "tests/unit/sim_fixture.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

const char kPerFileExe[] = "LMH.exe - Lantern Moonharbor - Update Program -";
const char kPerFileDll[] = "dll\\RESOURCE.dll - Lantern Moonharbor - Update Program -";

std::vector<uint8_t> Pattern(std::size_t size, uint8_t seed) {
  std::vector<uint8_t> v(size);
  for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(i * 7 + seed);
  return v;
}

class InstallationRun : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    PrepareInstall();
  }

  void PrepareInstall() {
    std::memset(&g_state, 0, sizeof g_state);
    std::strcpy(g_state.caption, "Lantern Moonharbor - Update Program");
    std::strcpy(g_state.installFolder, kInstall);
    std::strcpy(g_state.appDataFolder, kAppData);
    g_state.instance = sim::OwnModule();
    fs::create_directories(Host(std::string(kInstall) + "\\dll"));
    WriteBytes(Host(std::string(kInstall) + "\\LMH.exe"), "old exe");
    WriteBytes(Host(std::string(kInstall) + "\\dll\\RESOURCE.dll"), "old dll");
    WriteInstalledProfile();
    // As the main flow takes them before it shows anything.
    ASSERT_EQ(PrepareRun(), RunStart::Ready);
  }

  void TearDown() override {
    FinishRun();
    SimTest::TearDown();
  }

  // A game executable of exeSize bytes and a module of at least dllSize
  // bytes that describes it.
  void CarryPayload(std::size_t exeSize, std::size_t dllSize) {
    exe_ = Pattern(exeSize, 1);
    dll_ = FingerprintModuleFor(exe_, dllSize);
    ASSERT_FALSE(dll_.empty());
    CarryStored("LMH.EXE", exe_);
    CarryStored("RESOURCE.DLL", dll_);
  }

  // Creates the progress window and runs the installation inside it, as the
  // main flow does.
  void StartRun() {
    g_state.progressWindow = PlatformCreateDialog(g_state.instance, IDD_UPDATE, ProgressDialogProc);
    ASSERT_NE(g_state.progressWindow, nullptr);
    PlatformSendMessage(g_state.progressWindow, UWM_START_UPDATE, 0, 0);
  }

  std::vector<std::string> Captions() {
    std::vector<std::string> c;
    for (const auto& box : sim::MessageBoxes()) c.push_back(box.caption);
    return c;
  }

  std::vector<uint8_t> exe_;
  std::vector<uint8_t> dll_;
};

TEST(ProgressPercent, QuotientFirstThenTimesHundred) {
  EXPECT_EQ(ProgressPercent(29, 100), 28);
  EXPECT_EQ(ProgressPercent(100, 100), 100);
  EXPECT_EQ(ProgressPercent(65534, 396288), 16);
  // A total that single precision rounds upwards never reaches 100.
  EXPECT_EQ(ProgressPercent(16777219u, 16777219u), 99);
}

int g_reported = -1;

// Each file is below 4 GiB, the run's sum of them need not be: the count
// and the total go on past it.
TEST(AddWritten, CountsPastFourGibibytes) {
  const uint64_t kGiB = uint64_t{1} << 30;
  const struct {
    uint64_t total, doneBefore;
    uint32_t bytes;
    int percent;
  } cases[] = {
      {(4 * kGiB) + 100000, 4 * kGiB - 1, 1, 99},
      {5 * kGiB, 4 * kGiB - 10, 65534, 80},
      {(4 * kGiB) + 100000, 0, 65534, 0},
      {4 * kGiB - 1, 4 * kGiB - 65535, 65534, 99},
      {16 * kGiB, 8 * kGiB - 1, 1, 50},
  };
  for (const auto& c : cases) {
    g_reported = -1;
    RunProgress progress{[](int percent) { g_reported = percent; }, c.total, c.doneBefore};
    AddWritten(c.bytes, &progress);
    EXPECT_EQ(progress.done, c.doneBefore + c.bytes) << c.total << " " << c.doneBefore;
    EXPECT_EQ(g_reported, c.percent) << c.total << " " << c.doneBefore;
  }
}

TEST_F(InstallationRun, WritesInBoundedChunksWithOneRunningPercentage) {
  CarryPayload(393728, 2560);
  // What the window shows after each write, when the run lets a message
  // through; and at the pumps after a flush, a piece read or a step of the
  // switch, beside what it showed after the last write.
  std::vector<std::string> shown;
  std::vector<int> bar;
  std::vector<std::string> shownAgain;
  std::vector<std::string> shownBefore;
  std::size_t writesSeen = 0;
  sim::OnPump([&] {
    const std::string text = sim::Dialog().itemTexts.at(IDC_PERCENT).back();
    const int position = sim::Dialog().positions.at(IDC_PROGRESS).back();
    if (PayloadWrites().size() == writesSeen) {
      shownAgain.push_back(text + " " + std::to_string(position));
      shownBefore.push_back(shown.empty() ? "" : shown.back() + " " + std::to_string(bar.back()));
      return;
    }
    writesSeen = PayloadWrites().size();
    shown.push_back(text);
    bar.push_back(position);
  });
  StartRun();
  // The payload's writes; the switch journal's follow them.
  std::vector<uint32_t> sizes;
  std::vector<sim::WriteRecord> payload = PayloadWrites();
  for (const auto& w : payload) sizes.push_back(w.size);
  EXPECT_EQ(sizes, (std::vector<uint32_t>{65534, 65534, 65534, 65534, 65534, 65534, 524, 2560}));
  // Each file is written beside its target, then switched in.
  EXPECT_EQ(payload.front().path, std::string(kInstall) + "\\LMH.exe.UpDate-new");
  EXPECT_EQ(payload.back().path, std::string(kInstall) + "\\dll\\RESOURCE.dll.UpDate-new");
  EXPECT_EQ(shown, (std::vector<std::string>{" 16%", " 33%", " 49%", " 66%", " 82%", " 99%", " 99%", "100%"}));
  EXPECT_EQ(bar, (std::vector<int>{16, 33, 49, 66, 82, 99, 99, 100}));
  // Flushing, proving and switching change nothing on screen.
  EXPECT_FALSE(shownAgain.empty());
  EXPECT_EQ(shownAgain, shownBefore);
  // A value already on screen is not set again: the second 99 costs nothing.
  EXPECT_EQ(sim::Dialog().itemTexts.at(IDC_PERCENT),
            (std::vector<std::string>{" 16%", " 33%", " 49%", " 66%", " 82%", " 99%", "100%"}));
  EXPECT_EQ(sim::Dialog().positions.at(IDC_PROGRESS), (std::vector<int>{0, 16, 33, 49, 66, 82, 99, 100}));
  EXPECT_EQ(ReadBytes(Host(std::string(kInstall) + "\\LMH.exe")), exe_);
  EXPECT_EQ(ReadBytes(Host(std::string(kInstall) + "\\dll\\RESOURCE.dll")), dll_);
  FinishRun();
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  EXPECT_TRUE(g_state.succeeded);
  EXPECT_TRUE(sim::Dialog().destroyed);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

// Over a hundred pieces: the first shows "  0%" in the text while the bar,
// already at 0, is left alone; after every piece the window shows the run's
// percentage, and each control is set only when its value changes.
TEST_F(InstallationRun, AfterEveryPieceTheWindowShowsThePercentageSettingOnlyChanges) {
  CarryPayload(65534u * 150, 1000);
  const uint32_t total = 65534u * 150 + 1000;
  std::vector<std::string> shownText;
  std::vector<int> shownBar;
  std::vector<std::string> expectedText;
  std::vector<int> expectedBar;
  uint32_t done = 0;
  std::size_t writesSeen = 0;
  sim::OnPump([&] {
    // The pumps after a flush, a piece read or a step of the switch show
    // nothing new (WritesInBoundedChunksWithOneRunningPercentage).
    const std::vector<sim::WriteRecord> payload = PayloadWrites();
    if (payload.size() == writesSeen) return;
    writesSeen = payload.size();
    shownText.push_back(sim::Dialog().itemTexts.at(IDC_PERCENT).back());
    shownBar.push_back(sim::Dialog().positions.at(IDC_PROGRESS).back());
    done += payload.back().size;
    int percent = ProgressPercent(done, total);
    char text[8];
    std::snprintf(text, sizeof text, "%3d%%", percent);
    expectedText.push_back(text);
    expectedBar.push_back(percent);
  });
  StartRun();
  ASSERT_TRUE(g_state.succeeded);
  ASSERT_EQ(shownText.size(), 151u);
  EXPECT_EQ(shownText.front(), "  0%");
  EXPECT_EQ(shownText, expectedText);
  EXPECT_EQ(shownBar, expectedBar);
  const auto& texts = sim::Dialog().itemTexts.at(IDC_PERCENT);
  const auto& positions = sim::Dialog().positions.at(IDC_PROGRESS);
  EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << "a text set twice in a row";
  EXPECT_EQ(std::adjacent_find(positions.begin(), positions.end()), positions.end()) << "a position set twice in a row";
  EXPECT_EQ(texts.size(), 101u);      // "  0%" to "100%"
  EXPECT_EQ(positions.size(), 101u);  // the dialog's 0, then 1 to 100
}

TEST_F(InstallationRun, AnEmptyPayloadCreatesAnEmptyFile) {
  CarryPayload(0, 100);
  StartRun();
  EXPECT_TRUE(g_state.succeeded);
  EXPECT_EQ(fs::file_size(Host(std::string(kInstall) + "\\LMH.exe")), 0u);
  EXPECT_EQ(sim::Dialog().itemTexts.at(IDC_PERCENT), (std::vector<std::string>{"100%"}));
  // The empty file's flush lets a message through with nothing written yet:
  // the bar stays where the dialog set it.
  EXPECT_EQ(sim::Dialog().positions.at(IDC_PROGRESS), (std::vector<int>{0, 100}));
}

// A product named in Japanese: the window's title reaches it as the
// characters of its code page 932 bytes.
TEST_F(InstallationRun, TheWindowTitleReachesTheWindowAsUtf16) {
  std::strcpy(g_state.caption, "ランタン・ムーンハーバー - Update Program");
  CarryPayload(10, 10);
  StartRun();
  EXPECT_TRUE(g_state.succeeded);
  EXPECT_EQ(sim::Dialog().title16, u"ランタン・ムーンハーバー - Update Program");
  EXPECT_EQ(sim::Dialog().title, g_state.caption);
}

TEST_F(InstallationRun, ACloseRequestDuringTheRunIsIgnored) {
  CarryPayload(200000, 2560);
  sim::OnPump([] { sim::PostToDialog(WM_CLOSE); });
  StartRun();
  EXPECT_TRUE(g_state.succeeded);
  EXPECT_EQ(ReadBytes(Host(std::string(kInstall) + "\\dll\\RESOURCE.dll")), dll_);
}

TEST_F(InstallationRun, TheRecordIsWrittenBeforeTheWindowCloses) {
  CarryPayload(1000, 1000);
  std::string atClose = "(the window was not closed)";
  sim::OnDestroyWindow([&] { atClose = ReadText(ProfilePath()); });
  StartRun();
  EXPECT_NE(atClose.find("[UPDATE]\r\nNonActivation=1\r\n"), std::string::npos) << atClose;
  EXPECT_EQ(ReadText(ProfilePath()), atClose);
}

TEST_F(InstallationRun, FailuresLeaveTheInstallationAsItWas) {
  const std::string exePath = std::string(kInstall) + "\\LMH.exe";
  const std::string dllPath = std::string(kInstall) + "\\dll\\RESOURCE.dll";
  const std::string exeNew = exePath + ".UpDate-new";
  const std::string updater = "Lantern Moonharbor - Update Program";
  const struct {
    const char* what;
    std::function<void()> fault;
    std::vector<std::string> captions;
    const char* lastText;
    bool newFileCreated;
  } cases[] = {
      // Found before the first byte is written.
      {"executable held open", [&] { sim::HoldOpenWithoutWriteSharing(exePath); }, {kPerFileExe}, "[0x000A0003]",
       false},
      {"module held open", [&] { sim::HoldOpenWithoutWriteSharing(dllPath); }, {kPerFileDll}, "[0x000A0003]", false},
      {"dll folder gone", [&] { fs::remove_all(Host(std::string(kInstall) + "\\dll")); }, {kPerFileDll},
       "[0x000A0003]", false},
      {"write error", [&] { sim::FailWritesWithError(exeNew); }, {kPerFileExe}, "[0x000A0003]", true},
      // Checked once more just before the switch: nothing is switched.
      {"game started while the files were written",
       [&] { sim::OnPump([&] { sim::HoldOpenWithoutWriteSharing(exePath); }); }, {kPerFileExe}, "[0x000A0003]",
       true},
      {"disk fills during the write", [&] { sim::LimitWrites(exeNew, 70000); }, {kPerFileExe}, "[0x000A0003]",
       true},
      {"payload missing",
       [&] {
         ResetMachine();
         PrepareInstall();
         CarryStored("LMH.EXE", exe_);
       },
       {updater, updater, kPerFileDll}, "[0x000A0001]", true},
      {"payload unloadable", [&] { sim::MakeOwnResourceUnloadable(ResourceType::Payload, "resource.dll"); },
       {updater, updater, kPerFileDll}, "[0x000A0002]", true},
      // A set that the next start would find broken is never switched in.
      {"new module describes another executable",
       [&] {
         ResetMachine();
         PrepareInstall();
         CarryStored("LMH.EXE", exe_);
         CarryStored("RESOURCE.DLL", FingerprintModuleFor(Pattern(10, 3)));
       },
       {kPerFileExe}, "[0x000A0003]", true},
      {"new module fails its own record",
       [&] {
         ResetMachine();
         PrepareInstall();
         std::vector<uint8_t> module = dll_;
         module.back() ^= 1;
         CarryStored("LMH.EXE", exe_);
         CarryStored("RESOURCE.DLL", module);
       },
       {kPerFileDll}, "[0x000A0003]", true},
  };
  for (const auto& c : cases) {
    ResetMachine();
    PrepareInstall();
    CarryPayload(100000, 2560);
    c.fault();
    StartRun();
    EXPECT_FALSE(g_state.succeeded) << c.what;
    EXPECT_TRUE(sim::Dialog().destroyed) << c.what;
    EXPECT_EQ(Captions(), c.captions) << c.what;
    ASSERT_FALSE(sim::MessageBoxes().empty()) << c.what;
    EXPECT_NE(sim::MessageBoxes().back().text.find(c.lastText), std::string::npos) << c.what;
    EXPECT_EQ(sim::MessageBoxes().back().owner, g_state.progressWindow) << c.what;
    bool created = false;
    for (const auto& op : sim::FileOperations()) {
      created = created || op.rfind("open-new:", 0) == 0;
      EXPECT_NE(op.rfind("move:", 0), 0u) << c.what << ": a file was switched";
    }
    EXPECT_EQ(created, c.newFileCreated) << c.what;
    EXPECT_EQ(ReadText(Host(exePath)), "old exe") << c.what;
    if (fs::exists(Host(std::string(kInstall) + "\\dll"))) {
      EXPECT_EQ(ReadText(Host(dllPath)), "old dll") << c.what;
    }
    FinishRun();
    EXPECT_EQ(Leftovers(), std::vector<std::string>{}) << c.what;
    EXPECT_EQ(ReadText(ProfilePath()).find("NonActivation"), std::string::npos) << c.what;
    EXPECT_EQ(sim::LiveFiles(), 0) << c.what;
  }
}

TEST_F(InstallationRun, FindPayloadIgnoresCase) {
  CarryPayload(10, 20);
  Payload p{};
  PayloadError error = PayloadError::NotFound;
  ASSERT_TRUE(FindPayload("lmh.Exe", &p, &error));
  EXPECT_EQ(p.size, 10u);
  EXPECT_EQ(error, PayloadError::None);
  EXPECT_FALSE(FindPayload("missing.dat", &p, &error));
  EXPECT_EQ(error, PayloadError::NotFound);
  sim::MakeOwnResourceUnloadable(ResourceType::Payload, "LMH.EXE");
  EXPECT_FALSE(FindPayload("LMH.exe", &p, &error));
  EXPECT_EQ(error, PayloadError::NotLoaded);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "アップデートに失敗しました。[0x00010001]");
  EXPECT_EQ(sim::MessageBoxes()[1].text, "アップデートに失敗しました。[0x00010002]");
}

// A payload the build lacks or cannot load is looked up twice: once while
// the run adds up what it writes, once when it writes it. Each lookup shows
// its own message, then the write names the file.
TEST_F(InstallationRun, AMissingPayloadShowsTheSizingPassMessagesFirst) {
  const struct {
    const char* what;
    ResourceType type;
    bool unloadable;
    std::vector<std::string> texts;
  } cases[] = {
      {"stored, missing",
       ResourceType::Payload,
       false,
       {"Lantern Moonharbor [0x00010001]", "Lantern Moonharbor [0x00010001]", "dll\\RESOURCE.dll [0x000A0001]"}},
      {"stored, unloadable",
       ResourceType::Payload,
       true,
       {"Lantern Moonharbor [0x00010002]", "Lantern Moonharbor [0x00010002]", "dll\\RESOURCE.dll [0x000A0002]"}},
      {"compressed, unloadable",
       ResourceType::CompressedPayload,
       true,
       {"Lantern Moonharbor [0x00010002]", "Lantern Moonharbor [0x00010002]", "dll\\RESOURCE.dll [0x000A0002]"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetMachine();
    PrepareInstall();
    exe_ = Pattern(100000, 1);
    dll_ = FingerprintModuleFor(exe_, 2560);
    CarryStored("LMH.EXE", exe_);
    if (c.unloadable) {
      sim::AddOwnResource(c.type, "RESOURCE.DLL", dll_);
      sim::MakeOwnResourceUnloadable(c.type, "RESOURCE.DLL");
    }
    StartRun();
    EXPECT_FALSE(g_state.succeeded);
    EXPECT_EQ(Shown(), c.texts);
    EXPECT_EQ(ReadText(Host(std::string(kInstall) + "\\LMH.exe")), "old exe");
    FinishRun();
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

}  // namespace
