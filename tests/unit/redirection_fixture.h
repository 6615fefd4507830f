#pragma once
// The elevated run against a player who redirects its folders: an old
// installation with the new payload, a folder of the player's beside the
// game, and what the run showed and changed.
#include <algorithm>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "platform/win_values.h"
#include "tests/unit/sim_fixture.h"

namespace redirection {

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

inline std::string Box(const std::string& caption, const std::string& text) { return caption + " | " + text; }

}  // namespace redirection
