// The whole program over the simulated platform, through each way it ends.
#include "app/run_updater.h"
#include "core/updater_state.h"
#include "platform/win_values.h"
#include "tests/unit/sim_fixture.h"

namespace {

const char kCaption[] = "Lantern Moonharbor - Update Program";
const char kNotFound[] = "「Lantern Moonharbor」のインストール先の検出に失敗しました。";
const char kBroken[] =
    "インストール先のデータが破損している可能性があります。\n再度ゲームをインストールし直してからアップデートを行って下さい。";
const char kAlready[] = "アップデートする必要がありませんでしたが、\n引き続きアップデートを行いますか？";
const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
const char kFinished[] = "アップデートが終了しました。";
const char kAborted[] = "アップデートが中止されました。";

class RunUpdaterFlow : public SimTest {
 protected:
  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (const auto& box : sim::MessageBoxes()) t.push_back(box.text);
    return t;
  }

  void PrepareOldInstallation() {
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
    WriteInstalledProfile();
  }

  void TearDown() override {
    EXPECT_EQ(sim::LiveGuards(), 0) << "the single-instance guard was kept";
    EXPECT_FALSE(sim::LoopWouldHang()) << "the message loop would wait forever";
    EXPECT_EQ(sim::UnansweredBoxes(), 0) << "a question was shown that the test did not expect";
    SimTest::TearDown();
  }
};

TEST_F(RunUpdaterFlow, NoApplicationDataFolderAtAll) {
  sim::SetSpecialFolder(SpecialFolder::UserAppData, "");
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  EXPECT_EQ(sim::MessageBoxes()[0].caption, "不明なエラー");
  EXPECT_EQ(sim::MessageBoxes()[0].style, 0x20u);
  EXPECT_EQ(sim::MessageBoxes()[1].text, kNotFound);
  EXPECT_EQ(sim::MessageBoxes()[1].caption, kCaption);
  EXPECT_EQ(sim::MessageBoxes()[1].style, 0x30u);
}

TEST_F(RunUpdaterFlow, NoProfileFile) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{kNotFound});
}

TEST_F(RunUpdaterFlow, ASecondUpdaterHandsOverToTheRunningOne) {
  const struct {
    const char* what;
    std::function<void()> elsewhere;
  } cases[] = {
      {"the guard held", [] { sim::HoldGuardElsewhere(); }},
      // Every build of this game, whatever its update number, forms this key.
      {"the guard of this game held by an update of another number",
       [] { sim::HoldGuardElsewhere("KESTRIN.LMH.UpDate"); }},
      {"the install folder's lock held", [] { sim::HoldLockElsewhere("C:\\Games\\LMH\\UpDate.UpDate-lock"); }},
  };
  for (const auto& c : cases) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    c.elsewhere();
    EXPECT_EQ(Run(), 0) << c.what;
    EXPECT_TRUE(sim::MessageBoxes().empty()) << c.what;
    EXPECT_EQ(sim::BroughtToFront(), kCaption) << c.what;
    EXPECT_TRUE(sim::Writes().empty()) << c.what;
    for (const auto& op : sim::FileOperations()) {
      EXPECT_TRUE(op.rfind("open-folder:", 0) == 0 || op.rfind("lock:", 0) == 0) << c.what << ": " << op;
    }
  }
  // Another game's guard is no concern of this one's.
  ResetMachine();
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  sim::HoldGuardElsewhere("KESTRIN.LMX.UpDate");
  sim::QueueAnswers({IDCANCEL});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{kConfirm});
}

// The install folder as read from the profile file, checked before any file
// operation at all: recovery and verification included.
TEST_F(RunUpdaterFlow, AnInstallFolderThatIsNotAPlainLocalFolderIsABrokenInstallation) {
  const std::string values[] = {
      "\\\\server\\share\\LMH", "\\\\?\\C:\\Games\\LMH", "\\\\.\\C:\\Games\\LMH", "C:Games\\LMH",
      "C:x",  "Games\\LMH", "", "*", "C:\\Games\\LMH.", "C:\\" + std::string(250, 'a'),
  };
  for (const auto& folder : values) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    WriteProfile("[INSTALL]\r\nInstallFold=" + folder + "\r\n");
    EXPECT_EQ(Run(), 2) << folder;
    EXPECT_EQ(Texts(), std::vector<std::string>{kBroken}) << folder;
    EXPECT_EQ(sim::FileOperations(), std::vector<std::string>{}) << folder;
  }
}

// Folder names in Japanese whose second bytes are 0x5C ('\\') and 0x7C
// ('|') are folders like any other.
TEST_F(RunUpdaterFlow, JapaneseFolderNamesStillUpdate) {
  const std::string folder = "C:\\ゲーム\\表ソポ";
  ASSERT_EQ(std::string("表ソポ").find('|'), 5u);
  fs::create_directories(Host(folder));
  fs::copy(SampleDir() / "old", Host(folder), fs::copy_options::recursive);
  ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  WriteProfile("[INSTALL]\r\nInstallFold=" + folder + "\r\n");
  sim::QueueAnswers({IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kFinished}));
  EXPECT_EQ(ReadBytes(Host(folder + "\\LMH.exe")), ReadBytes(SampleDir() / "new" / "LMH.exe"));
  EXPECT_EQ(ReadBytes(Host(folder + "\\dll\\RESOURCE.dll")), ReadBytes(SampleDir() / "new" / "dll" / "RESOURCE.dll"));
}

TEST_F(RunUpdaterFlow, BrokenInstallations) {
  const std::string exe = std::string(kInstall) + "\\LMH.exe";
  const struct {
    const char* what;
    std::function<void()> damage;
  } cases[] = {
      {"profile without InstallFold", [&] { WriteProfile("[INSTALL]\r\n"); }},
      {"game executable changed in one byte",
       [&] {
         auto bytes = ReadBytes(Host(exe));
         bytes[bytes.size() / 2] ^= 1;
         WriteBytes(Host(exe), std::string(bytes.begin(), bytes.end()));
       }},
      {"fingerprint module missing", [&] { fs::remove(Host(std::string(kInstall) + "\\dll\\RESOURCE.dll")); }},
      {"game executable missing", [&] { fs::remove(Host(exe)); }},
  };
  for (const auto& c : cases) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    c.damage();
    EXPECT_EQ(Run(), 2) << c.what;
    EXPECT_EQ(Texts(), std::vector<std::string>{kBroken}) << c.what;
  }
}

TEST_F(RunUpdaterFlow, CancelAndNoChangeNothing) {
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  const std::string profile = ReadText(ProfilePath());
  sim::QueueAnswers({IDCANCEL});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{kConfirm});
  EXPECT_EQ(sim::MessageBoxes()[0].style, 0x31u);

  ResetMachine();
  ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  WriteProfile(profile + "[UPDATE]\r\nNonActivation=1\r\n");
  const std::string recorded = ReadText(ProfilePath());
  sim::QueueAnswers({IDNO});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{kAlready});
  EXPECT_EQ(sim::MessageBoxes()[0].style, 0x24u);
  EXPECT_EQ(ReadText(ProfilePath()), recorded);
  EXPECT_TRUE(sim::Writes().empty());
}

TEST_F(RunUpdaterFlow, UpdatesAndThenPassesItsOwnVerification) {
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  sim::QueueAnswers({IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kFinished}));
  EXPECT_EQ(sim::MessageBoxes()[1].style, 0x00u);
  EXPECT_TRUE(sim::Dialog().visible == false && sim::Dialog().destroyed);
  EXPECT_EQ(sim::Dialog().title, kCaption);
  EXPECT_EQ(ReadBytes(Host(std::string(kInstall) + "\\LMH.exe")), ReadBytes(SampleDir() / "new" / "LMH.exe"));
  EXPECT_EQ(ReadBytes(Host(std::string(kInstall) + "\\dll\\RESOURCE.dll")),
            ReadBytes(SampleDir() / "new" / "dll" / "RESOURCE.dll"));
  EXPECT_NE(ReadText(ProfilePath()).find("[UPDATE]\r\nNonActivation=1"), std::string::npos);

  // A second run finds the new version intact and the update on record.
  ResetMachine();
  ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  sim::QueueAnswers({IDYES, IDCANCEL});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kAlready, kConfirm}));
}

TEST_F(RunUpdaterFlow, AFailedRunIsReportedAsAborted) {
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  sim::HoldOpenWithoutWriteSharing(std::string(kInstall) + "\\LMH.exe");
  sim::QueueAnswers({IDOK, IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(sim::MessageBoxes().size(), 3u);
  EXPECT_EQ(sim::MessageBoxes()[1].text, "アップデートに失敗しました。[0x000A0003]");
  EXPECT_EQ(sim::MessageBoxes()[1].caption, "LMH.exe - Lantern Moonharbor - Update Program -");
  EXPECT_EQ(sim::MessageBoxes()[2].text, kAborted);
  EXPECT_EQ(sim::MessageBoxes()[2].owner, nullptr);
  EXPECT_EQ(ReadText(ProfilePath()).find("NonActivation"), std::string::npos);
}

TEST_F(RunUpdaterFlow, AProgressWindowThatCannotBeCreatedAbortsTheUpdate) {
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  sim::FailDialogCreation();
  sim::QueueAnswers({IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kAborted}));
  EXPECT_TRUE(sim::Writes().empty());
}

}  // namespace
