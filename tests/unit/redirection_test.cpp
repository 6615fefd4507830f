// The elevated run writes only inside the game's folder: over the simulated
// platform, a folder that is or becomes a link, a linked new file and a
// handle that leads elsewhere each stop the run before it writes, and
// nothing outside the folder is touched.
#include <functional>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "platform/win_values.h"
#include "tests/unit/sim_fixture.h"

namespace {

const char kBroken[] =
    "インストール先のデータが破損している可能性があります。\n再度ゲームをインストールし直してからアップデートを行って下さい。";
const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
const char kWriteFailed[] = "アップデートに失敗しました。[0x000A0003]";
const char kFinished[] = "アップデートが終了しました。";
const char kAborted[] = "アップデートが中止されました。";
const char kCaption[] = "Lantern Moonharbor - Update Program";
const char kDllCaption[] = "dll\\RESOURCE.dll - Lantern Moonharbor - Update Program -";
const char kExeCaption[] = "LMH.exe - Lantern Moonharbor - Update Program -";

class Redirection : public SimTest {
 protected:
  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  void Prepare() {
    std::error_code ignored;
    fs::remove_all(Host(kInstall), ignored);
    fs::remove_all(Outside(), ignored);
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
    WriteInstalledProfile();
    // A folder of the player's, beside the game's, with a library in it.
    WriteBytes(Outside() / "RESOURCE.dll", "a library of the player's");
    WriteBytes(Outside() / "victim.dat", "a file of someone else's");
  }

  fs::path Install() { return Host(kInstall); }
  fs::path Outside() { return root_ / "outside"; }

  // Every file under a folder with its bytes, links not followed.
  std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> found;
    if (!fs::exists(folder)) return found;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      if (e.is_symlink()) {
        found.push_back(e.path().string() + " -> " + fs::read_symlink(e.path()).string());
      } else if (e.is_regular_file()) {
        found.push_back(e.path().string() + " = " + ReadText(e.path()));
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  std::vector<std::string> Boxes() {
    std::vector<std::string> b;
    for (const auto& box : sim::MessageBoxes()) b.push_back(box.caption + " | " + box.text);
    return b;
  }

  // The dll folder replaced by a link to the player's folder.
  void SwapDllForLink() {
    fs::rename(Install() / "dll", Install() / "dll-moved");
    fs::create_directory_symlink(Outside(), Install() / "dll");
  }

  bool WroteAnything() {
    for (const auto& op : sim::FileOperations()) {
      for (const char* kind : {"open-new:", "write:", "move:", "delete:", "profile-write:"}) {
        if (op.rfind(kind, 0) == 0) return true;
      }
    }
    return false;
  }
};

std::string Box(const std::string& caption, const std::string& text) { return caption + " | " + text; }

TEST_F(Redirection, AFolderAlreadyRedirectedAtTheStartIsABrokenInstallation) {
  const struct {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"dll a link to another folder", [this] { this->SwapDllForLink(); }},
      {"dll leads outside the install folder",
       [] { sim::MoveFinalPaths("C:\\Games\\LMH\\dll", "D:\\elsewhere"); }},
      {"dll on another volume", [] { sim::PlaceOnOtherVolume("C:\\Games\\LMH\\dll"); }},
      {"the install folder itself a link",
       [this] {
         fs::rename(this->Install(), this->root_ / "Games" / "LMH-real");
         fs::create_directory_symlink(this->root_ / "Games" / "LMH-real", this->Install());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    c.arrange();
    const auto outside = Listing(Outside());
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kCaption, kBroken)});
    EXPECT_FALSE(WroteAnything());
    EXPECT_EQ(Listing(Outside()), outside);
    std::error_code ignored;
    if (fs::is_symlink(Install())) {
      fs::remove(Install());
      fs::rename(root_ / "Games" / "LMH-real", Install());
    }
  }
}

TEST_F(Redirection, RedirectedDuringTheRunStopsItBeforeItWrites) {
  const struct {
    const char* what;
    std::function<void()> redirect;  // while the confirmation waits
    std::string failedCaption;
    bool createdThenRemoved = false;  // found only once the new file was made
  } cases[] = {
      // The folder still checks out; the new file itself leads elsewhere.
      {"the new file leads outside",
       [] { sim::MoveFinalPaths("C:\\Games\\LMH\\LMH.exe.UpDate-new", "D:\\elsewhere"); }, kExeCaption, true},
      {"the new file on another volume", [] { sim::PlaceOnOtherVolume("C:\\Games\\LMH\\LMH.exe.UpDate-new"); },
       kExeCaption, true},
      {"dll swapped for a link", [this] { this->SwapDllForLink(); }, kDllCaption},
      {"dll leads outside", [] { sim::MoveFinalPaths("C:\\Games\\LMH\\dll", "D:\\elsewhere"); },
       kDllCaption},
      {"the install folder leads outside",
       [] { sim::MoveFinalPaths("C:\\Games\\LMH", "\\\\server\\share"); }, kExeCaption},
      {"dll moved to another volume", [] { sim::PlaceOnOtherVolume("C:\\Games\\LMH\\dll"); },
       kDllCaption},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    const auto outside = Listing(Outside());
    const auto exe = ReadBytes(Install() / "LMH.exe");
    const auto dll = ReadBytes(Install() / "dll" / "RESOURCE.dll");
    bool redirected = false;
    sim::OnMessageBox([&] {
      if (!redirected) c.redirect();
      redirected = true;
    });
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(c.failedCaption, kWriteFailed),
                                                 Box(kCaption, kAborted)}));
    if (c.createdThenRemoved) {
      EXPECT_TRUE(sim::Writes().empty());
      EXPECT_FALSE(fs::exists(Install() / "LMH.exe.UpDate-new"));
    } else {
      EXPECT_FALSE(WroteAnything());
    }
    EXPECT_EQ(Listing(Outside()), outside);
    EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), exe);
    const fs::path realDll = fs::exists(Install() / "dll-moved") ? Install() / "dll-moved" : Install() / "dll";
    EXPECT_EQ(ReadBytes(realDll / "RESOURCE.dll"), dll);
    EXPECT_EQ(ReadText(ProfilePath()).find("NonActivation"), std::string::npos);
  }
}

TEST_F(Redirection, ALinkInTheNewFilesPlaceIsNeverWrittenThrough) {
  // Planted before the start: removed as a leftover, never opened; the
  // update goes on and the file it named is untouched.
  ASSERT_NO_FATAL_FAILURE(Prepare());
  fs::create_hard_link(Outside() / "victim.dat", Install() / "LMH.exe.UpDate-new");
  fs::create_symlink(Outside() / "RESOURCE.dll", Install() / "dll" / "RESOURCE.dll.UpDate-new");
  auto outside = Listing(Outside());
  sim::QueueAnswers({IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(kCaption, kFinished)}));
  EXPECT_EQ(Listing(Outside()), outside);
  EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), ReadBytes(SampleDir() / "new" / "LMH.exe"));

  // Planted between the leftover's removal and the creation: the creation
  // fails and the run stops before it writes a byte.
  for (const char* link : {"hard", "symbolic"}) {
    SCOPED_TRACE(link);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    outside = Listing(Outside());
    // The clean road: the first new file's creation is "open-new:...LMH.exe.UpDate-new".
    bool planted = false;
    sim::OnMessageBox([&] {
      if (planted) return;
      planted = true;
      const std::size_t done = sim::FileOperations().size();
      // After the confirmation: the folder and target checks (4), the folder's check (1), then the creation.
      sim::BeforeFileOperation(static_cast<int>(done) + 6, [&] {
        if (std::string(link) == "hard") {
          fs::create_hard_link(Outside() / "victim.dat", Install() / "LMH.exe.UpDate-new");
        } else {
          fs::create_symlink(Outside() / "victim.dat", Install() / "LMH.exe.UpDate-new");
        }
      });
    });
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(kExeCaption, kWriteFailed),
                                                 Box(kCaption, kAborted)}));
    ASSERT_GE(sim::FileOperations().size(), 1u);
    EXPECT_NE(std::find(sim::FileOperations().begin(), sim::FileOperations().end(),
                        "open-new:C:\\Games\\LMH\\LMH.exe.UpDate-new"),
              sim::FileOperations().end());
    EXPECT_TRUE(sim::Writes().empty());
    EXPECT_EQ(Listing(Outside()), outside);
  }
}

TEST_F(Redirection, WithoutFinalPathsTheLinkChecksStillHold) {
  // Before Windows Vista there is no asking where a handle leads.
  ASSERT_NO_FATAL_FAILURE(Prepare());
  sim::NoFinalPaths();
  sim::QueueAnswers({IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(kCaption, kFinished)}));

  ASSERT_NO_FATAL_FAILURE(Prepare());
  sim::NoFinalPaths();
  bool swapped = false;
  sim::OnMessageBox([&] {
    if (!swapped) SwapDllForLink();
    swapped = true;
  });
  const auto outside = Listing(Outside());
  sim::QueueAnswers({IDOK, IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(kDllCaption, kWriteFailed),
                                               Box(kCaption, kAborted)}));
  EXPECT_FALSE(WroteAnything());
  EXPECT_EQ(Listing(Outside()), outside);
}

}  // namespace
