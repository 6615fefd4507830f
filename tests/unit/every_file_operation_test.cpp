// The whole update over the simulated platform with each of its file
// operations in turn failing, and in turn cut off as if the process died
// there: the installation is always the old one or the new one, and the next
// start leaves nothing of the run behind.
#include <algorithm>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "platform/win_values.h"
#include "tests/unit/sim_fixture.h"

namespace {

const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
const char kBroken[] =
    "インストール先のデータが破損している可能性があります。\n再度ゲームをインストールし直してからアップデートを行って下さい。";
const char kAlready[] = "アップデートする必要がありませんでしたが、\n引き続きアップデートを行いますか？";
const char kWriteFailed[] = "アップデートに失敗しました。[0x000A0003]";
const char kFinished[] = "アップデートが終了しました。";
const char kAborted[] = "アップデートが中止されました。";
const char kUpdaterCaption[] = "Lantern Moonharbor - Update Program";

enum class Game { Old, New, Mixed };

const char* Name(Game g) { return g == Game::Old ? "old" : g == Game::New ? "new" : "a mix"; }

class EveryFileOperation : public SimTest {
 protected:
  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  void PrepareOldInstallation() {
    std::error_code ignored;
    fs::remove_all(Host(kInstall), ignored);
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
    WriteInstalledProfile();
  }

  // A fresh start of the updater on the same disk.
  void Restart() {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  }

  Game Installed() {
    auto exe = ReadBytes(Host(std::string(kInstall) + "\\LMH.exe"));
    auto dll = ReadBytes(Host(std::string(kInstall) + "\\dll\\RESOURCE.dll"));
    for (const char* version : {"old", "new"}) {
      if (exe == ReadBytes(SampleDir() / version / "LMH.exe") &&
          dll == ReadBytes(SampleDir() / version / "dll" / "RESOURCE.dll")) {
        return version[0] == 'o' ? Game::Old : Game::New;
      }
    }
    return Game::Mixed;
  }

  bool Recorded() { return ReadText(ProfilePath()).find("NonActivation=1") != std::string::npos; }

  std::vector<std::string> Boxes() {
    std::vector<std::string> b;
    for (const auto& box : sim::MessageBoxes()) b.push_back(box.caption + " | " + box.text);
    return b;
  }
};

std::string Box(const std::string& caption, const std::string& text) { return caption + " | " + text; }

// The entry of the installation that an operation's path names, without the
// install folder and without the suffix of a file beside its target.
std::string EntryOf(std::string path) {
  path = path.substr(0, path.find('>'));
  path = path.substr(path.find(':') + 1);
  const std::string folder = "C:\\Games\\LMH\\";
  if (path.rfind(folder, 0) == 0) path = path.substr(folder.size());
  std::size_t beside = path.find(".UpDate-");
  return beside == std::string::npos ? path : path.substr(0, beside);
}

struct Expected {
  int exitCode;
  std::vector<std::string> boxes;
  Game game;
  bool recorded;
};

// What a run with operation n failing shows and leaves, from what the
// operation is: the run before the switch ends with the old files, a failed
// switch is undone, and what fails after the switch no longer matters to
// the installation.
Expected WhenFailing(const std::vector<std::string>& clean, std::size_t n, std::size_t lastMove) {
  const std::string& op = clean[n - 1];
  const std::string kind = op.substr(0, op.find(':'));
  const bool besideTarget = op.find(".UpDate-") != std::string::npos;
  const std::string confirm = Box(kUpdaterCaption, kConfirm);
  if ((kind == "load" || kind == "open-read") && !besideTarget) {
    return {2, {Box(kUpdaterCaption, kBroken)}, Game::Old, false};
  }
  if (n <= lastMove) {
    return {0,
            {confirm, Box(EntryOf(op) + " - " + kUpdaterCaption + " -", kWriteFailed), Box(kUpdaterCaption, kAborted)},
            Game::Old,
            false};
  }
  return {0, {confirm, Box(kUpdaterCaption, kFinished)}, Game::New, kind != "profile-write"};
}

TEST_F(EveryFileOperation, FailedOrCutOffTheRunLeavesTheOldOrTheNewInstallation) {
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(Installed(), Game::New);
  const std::vector<std::string> clean = sim::FileOperations();
  std::size_t lastMove = 0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    if (clean[i].rfind("move:", 0) == 0) lastMove = i + 1;
  }
  // Four moves switch two files; the whole road is printed when a case fails.
  ASSERT_GT(lastMove, 4u);
  // A new file goes in only once it is on the disk.
  for (std::size_t i = 0; i < clean.size(); ++i) {
    std::size_t newFile = clean[i].find(".UpDate-new>");
    if (clean[i].rfind("move:", 0) != 0 || newFile == std::string::npos) continue;
    const std::string flushed = "flush:" + clean[i].substr(5, newFile + 11 - 5);
    EXPECT_NE(std::find(clean.begin(), clean.begin() + i, flushed), clean.begin() + i) << clean[i];
  }
  std::string road;
  for (std::size_t i = 0; i < clean.size(); ++i) road += std::to_string(i + 1) + " " + clean[i] + "\n";
  SCOPED_TRACE("the clean run's file operations:\n" + road);

  for (bool cutOff : {false, true}) {
    for (std::size_t n = 1; n <= clean.size(); ++n) {
      const std::string what = std::string(cutOff ? "cut off at " : "failing ") + std::to_string(n) + " " + clean[n - 1];
      SCOPED_TRACE(what);
      ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
      const Expected expected = WhenFailing(clean, n, lastMove);
      if (cutOff) {
        sim::CutOffAtFileOperation(static_cast<int>(n));
      } else {
        sim::FailFileOperation(static_cast<int>(n));
      }
      sim::QueueAnswers({IDOK, IDOK, IDOK});
      int exitCode = -1;
      bool gone = false;
      try {
        exitCode = Run();
      } catch (const sim::ProcessGone&) {
        gone = true;
      }
      ASSERT_EQ(gone, cutOff);
      ASSERT_GE(sim::FileOperations().size(), n);
      ASSERT_EQ(sim::FileOperations()[n - 1], clean[n - 1]) << "the run took another road";
      if (!cutOff) {
        EXPECT_EQ(exitCode, expected.exitCode);
        EXPECT_EQ(Boxes(), expected.boxes);
        EXPECT_EQ(Installed(), expected.game) << Name(Installed());
        EXPECT_EQ(Recorded(), expected.recorded);
        // Only an old file that could not be removed stays, for the next start.
        std::vector<std::string> left;
        if (clean[n - 1].rfind("delete:", 0) == 0) left.push_back(Host(clean[n - 1].substr(7)).string());
        EXPECT_EQ(Leftovers(), left);
      }
      EXPECT_TRUE(!Recorded() || Installed() == Game::New) << "an update on record over " << Name(Installed());

      // The next start mends what was left, finds one whole installation
      // and stops at its first question.
      ASSERT_NO_FATAL_FAILURE(Restart());
      const bool recorded = Recorded();
      sim::QueueAnswers({recorded ? IDNO : IDCANCEL});
      EXPECT_EQ(Run(), 0);
      EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, recorded ? kAlready : kConfirm)});
      EXPECT_EQ(Installed(), n <= lastMove ? Game::Old : Game::New) << Name(Installed());
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
      EXPECT_FALSE(recorded && cutOff) << "a run cut off before its record has one";

      // And the one after that completes the update.
      if (!recorded) {
        ASSERT_NO_FATAL_FAILURE(Restart());
        sim::QueueAnswers({IDOK, IDOK});
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kUpdaterCaption, kConfirm), Box(kUpdaterCaption, kFinished)}));
        EXPECT_EQ(Installed(), Game::New);
        EXPECT_TRUE(Recorded());
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
      }
    }
  }
}

}  // namespace
