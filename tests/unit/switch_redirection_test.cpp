// The switch, its rollback and the recovery at the next start rename and
// remove files only through the folders the run holds: a held folder made a
// link or a mount point at any moment of a clean run or of a recovery
// changes nothing outside the game's folder. And a switch journal counts
// only when an updater wrote it: one the player could have written is read
// as none.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/unit/redirection_fixture.h"

namespace {

using namespace redirection;

const char kJournal[] = "C:\\Games\\LMH\\UpDate.UpDate-journal";
const char kJournalHead[] = "UpDate switch journal 1\r\n";
const sim::FileSecurity kAdministratorsOwn{"Administrators", {"Administrators", "SYSTEM"}};

// The clean run's operation that begins with prefix, 1-based; 0 for none.
int OperationOf(const std::vector<std::string>& ops, const std::string& prefix) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].rfind(prefix, 0) == 0) return static_cast<int>(i + 1);
  }
  return 0;
}

class SwitchRedirection : public Redirection {
 protected:
  // A fresh old installation, and in the player's folder a file of the
  // player's under every name the run renames or removes, for a redirected
  // folder to lead the run to.
  void PrepareWithBait() {
    std::error_code ignored;
    fs::remove_all(root_ / "Games", ignored);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    for (const char* name : {"LMH.exe", "LMH.exe.UpDate-new", "LMH.exe.UpDate-old", "UpDate.UpDate-journal",
                             "RESOURCE.dll.UpDate-new", "RESOURCE.dll.UpDate-old", "dll/RESOURCE.dll",
                             "dll/RESOURCE.dll.UpDate-new", "dll/RESOURCE.dll.UpDate-old", "dll/victim.dat"}) {
      WriteBytes(Outside() / name, std::string("the player's ") + name);
    }
  }

  void PlantJournal(const std::string& text, const sim::FileSecurity& security) {
    WriteBytes(Host(kJournal), text);
    sim::SetFileSecurity(kJournal, security);
  }

  // A run cut off at operation n, then a fresh start on the same disk.
  void CutOffAt(int n) {
    ASSERT_GT(n, 0);
    sim::CutOffAtFileOperation(n);
    sim::QueueAnswers({IDOK, IDOK});
    ASSERT_THROW(Run(), sim::ProcessGone);
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  }

  // The game's files as they are now: each "old" or "new" as the sample
  // has it, "(missing)", or "other".
  std::vector<std::string> Game() {
    std::vector<std::string> files;
    for (const char* entry : {"LMH.exe", "dll/RESOURCE.dll"}) {
      const fs::path file = Install() / entry;
      const std::string bytes = fs::exists(file) ? ReadText(file) : "";
      files.push_back(!fs::exists(file)                                ? "(missing)"
                      : bytes == ReadText(SampleDir() / "old" / entry) ? "old"
                      : bytes == ReadText(SampleDir() / "new" / entry) ? "new"
                                                                        : "other");
    }
    return files;
  }
};

TEST_F(SwitchRedirection, AHeldFolderRedirectedAtAnyMomentChangesNothingOutside) {
  // The clean run's road gives the positions of the runs cut off below.
  ASSERT_NO_FATAL_FAILURE(PrepareWithBait());
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(Game(), (std::vector<std::string>{"new", "new"}));
  const std::vector<std::string> clean = sim::FileOperations();
  const std::string install = std::string(kInstall) + "\\";
  const int dllIn = OperationOf(clean, "move:" + install + "dll\\RESOURCE.dll.UpDate-new>");
  const int firstOldGone = OperationOf(clean, "delete:" + install + "LMH.exe.UpDate-old");

  const struct {
    const char* what;
    std::function<void()> arrange;  // after the old installation is laid out
    std::vector<int> answers;
  } scenarios[] = {
      {"a clean run", [] {}, {IDOK, IDOK, IDOK}},
      // Nothing but the volume then tells where a file opened through a held
      // folder lies.
      {"a clean run on a system without final paths, the player's folder on another volume",
       [] {
         sim::NoFinalPaths();
         sim::PlaceOnOtherVolume("C:\\outside");
       },
       {IDOK, IDOK, IDOK}},
      // Removed as a leftover before the run creates its own.
      {"a clean run whose new file's name is taken while the confirmation waits",
       [&] {
         auto planted = std::make_shared<bool>(false);
         sim::OnMessageBox([this, planted] {
           // Into the game's own folder only: not through a link that the
           // player's other act put there.
           if (*planted || fs::is_symlink(this->Install()) || fs::is_symlink(this->Install() / "dll")) return;
           *planted = true;
           WriteBytes(this->Install() / "dll" / "RESOURCE.dll.UpDate-new", "the player's");
         });
       },
       {IDOK, IDOK, IDOK}},
      {"the recovery of a switch cut off half-way", [&] { this->CutOffAt(dllIn); }, {IDCANCEL}},
      {"the recovery of a committed switch cut off before its old files went",
       [&] { this->CutOffAt(firstOldGone); }, {IDCANCEL}},
      // Another build's run left it: the administrators' own, naming a file
      // the player put in the game's folder.
      {"the recovery of another build's journal",
       [&] {
         WriteBytes(this->Install() / "dll" / "victim.dat", "the player's file in the game's folder");
         this->PlantJournal(std::string(kJournalHead) + "- dll\\victim.dat\r\n+ LMH.exe\r\n.\r\n", kAdministratorsOwn);
       },
       {IDCANCEL}},
      {"the recovery beside a journal the player planted",
       [&] {
         WriteBytes(this->Install() / "dll" / "RESOURCE.dll.UpDate-old", "the player's library");
         this->PlantJournal(std::string(kJournalHead) + "+ dll\\RESOURCE.dll\r\n.\r\n", {"player", {"player"}});
       },
       {IDCANCEL}},
  };
  const struct {
    const char* what;
    std::function<bool()> redirect;  // false when the folder could not be redirected then
  } attacks[] = {
      {"dll made a mount point to the player's folder",
       [&] { return sim::TurnIntoMountPoint(install + "dll", "C:\\outside"); }},
      {"dll swapped for a link to the player's folder",
       [&] {
         if (fs::is_symlink(this->Install() / "dll")) return false;
         this->SwapDllForLink();
         return true;
       }},
      {"the install folder swapped for a link to the player's folder",
       [&] {
         if (fs::is_symlink(this->Install())) return false;
         fs::rename(this->Install(), this->root_ / "Games" / "LMH-moved");
         fs::create_directory_symlink(this->Outside(), this->Install());
         return true;
       }},
  };

  for (const auto& scenario : scenarios) {
    SCOPED_TRACE(scenario.what);
    // Its own road, without redirection: the positions to redirect at.
    ASSERT_NO_FATAL_FAILURE(PrepareWithBait());
    ASSERT_NO_FATAL_FAILURE(scenario.arrange());
    const auto outside = Listing(Outside());
    sim::QueueAnswers(scenario.answers);
    Run();
    ASSERT_EQ(Listing(Outside()), outside) << "changed the player's folder without being redirected";
    const std::size_t operations = sim::FileOperations().size();
    const std::size_t opens = sim::OpensInFolder().size();
    std::string road;
    for (const auto& op : sim::FileOperations()) road += op + "\n";
    SCOPED_TRACE("its road:\n" + road);

    for (const auto& attack : attacks) {
      SCOPED_TRACE(attack.what);
      int redirected = 0;
      // Before each file operation, and before each open through a held
      // folder (after the folder's own check).
      for (bool beforeOpen : {false, true}) {
        const std::size_t positions = beforeOpen ? opens : operations;
        for (std::size_t n = 1; n <= positions; ++n) {
          SCOPED_TRACE(std::string(beforeOpen ? "before open in a folder " : "before operation ") + std::to_string(n));
          ASSERT_NO_FATAL_FAILURE(PrepareWithBait());
          ASSERT_NO_FATAL_FAILURE(scenario.arrange());
          const auto before = Listing(Outside());
          auto hook = [&] { redirected += attack.redirect() ? 1 : 0; };
          if (beforeOpen) {
            sim::BeforeOpenInFolder(static_cast<int>(n), hook);
          } else {
            sim::BeforeFileOperation(static_cast<int>(n), hook);
          }
          sim::QueueAnswers(scenario.answers);
          Run();
          EXPECT_EQ(Listing(Outside()), before);
          EXPECT_EQ(sim::LiveFiles(), 0);
          EXPECT_EQ(sim::LiveAllocations(), 0);
        }
      }
      EXPECT_GT(redirected, 0) << "the folder was never redirected";
    }
  }
}

// A file that, opened through its held folder, shows as lying anywhere but
// in that very folder on the install volume, or whose held folder no
// longer leads under the install folder, is neither renamed nor removed:
// the switch fails at it and the game stays as it was, its new file left
// beside it when that cannot be removed either.
TEST_F(SwitchRedirection, AFileThatLiesElsewhereIsNeitherRenamedNorRemoved) {
  const std::string install = std::string(kInstall) + "\\";
  const struct {
    const char* what;
    std::function<void()> change;  // once the new files are written
    const char* failedCaption;
    std::vector<std::string> left;  // under the install folder
  } cases[] = {
      // Each also holds for the executable's new file, whose name begins
      // with the executable's.
      {"the game executable in the player's folder",
       [&] { sim::MoveFinalPaths(install + "LMH.exe", "C:\\outside\\LMH.exe"); }, kExeCaption,
       {"LMH.exe.UpDate-new"}},
      {"the game executable in a folder below the install folder",
       [&] { sim::MoveFinalPaths(install + "LMH.exe", install + "dll\\LMH.exe"); }, kExeCaption,
       {"LMH.exe.UpDate-new"}},
      {"the game executable on another volume", [&] { sim::PlaceOnOtherVolume(install + "LMH.exe"); },
       kExeCaption, {"LMH.exe.UpDate-new"}},
      {"dll leading outside the install folder", [&] { sim::MoveFinalPaths(install + "dll", "D:\\elsewhere"); },
       kDllCaption, {"dll/RESOURCE.dll.UpDate-new"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(PrepareWithBait());
    const auto outside = Listing(Outside());
    bool changed = false;
    sim::BeforeOpenInFolder(1, [&] {
      c.change();
      changed = true;
    });
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(changed);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(c.failedCaption, kWriteFailed),
                                                 Box(kCaption, kAborted)}));
    EXPECT_EQ(Game(), (std::vector<std::string>{"old", "old"}));
    std::vector<std::string> left;
    for (const std::string& name : c.left) left.push_back((Install() / name).string());
    EXPECT_EQ(Leftovers(), left);
    EXPECT_EQ(Listing(Outside()), outside);
  }
}

// A folder the journal names that became a mount point as the journal was
// read, after the start had held it (a held folder can still be emptied and
// made one): the start fails as a broken installation and follows nothing
// of the journal, which stays for the next start.
TEST_F(SwitchRedirection, AJournalsFolderMadeAMountPointStopsTheRecoveryWhole) {
  ASSERT_NO_FATAL_FAILURE(PrepareWithBait());
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  const std::string install = std::string(kInstall) + "\\";
  const int dllIn = OperationOf(sim::FileOperations(), "move:" + install + "dll\\RESOURCE.dll.UpDate-new>");

  ASSERT_NO_FATAL_FAILURE(PrepareWithBait());
  ASSERT_NO_FATAL_FAILURE(CutOffAt(dllIn));
  ASSERT_TRUE(fs::exists(Install() / "LMH.exe.UpDate-old"));
  const auto outside = Listing(Outside());
  // The start's road without the mount point, for the open that reads the
  // journal.
  ResetMachine();
  ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  const fs::path saved = root_ / "saved";
  std::error_code ignored;
  fs::remove_all(saved, ignored);
  fs::copy(Install(), saved, fs::copy_options::recursive);
  sim::QueueAnswers({IDCANCEL});
  Run();
  const int journalRead = OperationOf(sim::FileOperations(), std::string("open-read:") + kJournal);
  ASSERT_GT(journalRead, 0);
  fs::remove_all(Install());
  fs::copy(saved, Install(), fs::copy_options::recursive);

  ResetMachine();
  ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
  sim::SetFileSecurity(kJournal, kAdministratorsOwn);
  sim::QueueAnswers({IDCANCEL});
  bool mounted = false;
  sim::BeforeFileOperation(journalRead, [&] { mounted = sim::TurnIntoMountPoint(install + "dll", "C:\\outside"); });
  EXPECT_EQ(Run(), 2);
  EXPECT_TRUE(mounted);
  EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kCaption, kBroken)});
  EXPECT_TRUE(fs::exists(Install() / "LMH.exe.UpDate-old")) << "the journal was followed in part";
  EXPECT_TRUE(fs::exists(Host(kJournal)));
  EXPECT_EQ(Listing(Outside()), outside);
}

// The journal the switch writes is the administrators' own, with access for
// them and the system only.
TEST_F(SwitchRedirection, TheSwitchJournalIsTheAdministratorsOwn) {
  ASSERT_NO_FATAL_FAILURE(Prepare());
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  const int firstMove = OperationOf(sim::FileOperations(), "move:");
  ASSERT_GT(OperationOf(sim::FileOperations(), std::string("flush:") + kJournal), 0);

  ASSERT_NO_FATAL_FAILURE(Prepare());
  sim::FileSecurity seen;
  sim::BeforeFileOperation(firstMove, [&] { seen = sim::FileSecurityOf(kJournal); });
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(seen.owner, "Administrators");
  EXPECT_EQ(seen.access, (std::vector<std::string>{"Administrators", "SYSTEM"}));
}

// A journal in the install folder that the player could have written or
// changed is read as none: the next start goes on as without one. The same
// journal as the administrators' own is followed.
TEST_F(SwitchRedirection, AJournalCountsOnlyWhenAnUpdaterWroteIt) {
  const sim::FileSecurity player{"player", {"player"}};
  const std::string removeLibrary = std::string(kJournalHead) + "- dll\\RESOURCE.dll\r\n.\r\n";
  const std::string putBackExe = std::string(kJournalHead) + "+ LMH.exe\r\n.\r\n";
  const fs::path kept = root_ / "kept" / "journal";
  const struct {
    const char* what;
    std::function<void()> plant;
    bool followed;
    std::vector<std::string> game;  // after the next start
  } cases[] = {
      {"the player's, removing the game's library", [&] { this->PlantJournal(removeLibrary, player); }, false,
       {"old", "old"}},
      {"the administrators', removing the game's library",
       [&] { this->PlantJournal(removeLibrary, kAdministratorsOwn); }, true, {"old", "(missing)"}},
      {"the player's, putting the player's program over the game's",
       [&] {
         WriteBytes(this->Install() / "LMH.exe.UpDate-old", "the player's program");
         this->PlantJournal(putBackExe, player);
       },
       false, {"old", "old"}},
      {"the administrators', putting the player's program over the game's",
       [&] {
         WriteBytes(this->Install() / "LMH.exe.UpDate-old", "the player's program");
         this->PlantJournal(putBackExe, kAdministratorsOwn);
       },
       true, {"other", "old"}},
      {"owned by the administrators, open to the users too",
       [&] { this->PlantJournal(removeLibrary, {"Administrators", {"Administrators", "SYSTEM", "Users"}}); }, false,
       {"old", "old"}},
      {"owned by the system", [&] { this->PlantJournal(removeLibrary, {"SYSTEM", {"Administrators", "SYSTEM"}}); },
       false, {"old", "old"}},
      {"a second name of the administrators' journal kept elsewhere",
       [&] {
         WriteBytes(kept, removeLibrary);
         sim::SetFileSecurity("C:\\kept\\journal", kAdministratorsOwn);
         fs::create_hard_link(kept, this->Host(kJournal));
       },
       false, {"old", "old"}},
      {"a link to the administrators' journal kept elsewhere",
       [&] {
         WriteBytes(kept, removeLibrary);
         sim::SetFileSecurity("C:\\kept\\journal", kAdministratorsOwn);
         fs::create_symlink(kept, this->Host(kJournal));
       },
       false, {"old", "old"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ignored;
    fs::remove_all(root_ / "kept", ignored);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    c.plant();
    const std::string keptBefore = fs::exists(kept) ? ReadText(kept) : "";
    sim::QueueAnswers({IDCANCEL});
    if (c.followed) {
      // Followed, it leaves an installation that fails its check.
      EXPECT_EQ(Run(), 2);
      EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kCaption, kBroken)});
    } else {
      EXPECT_EQ(Run(), 0);
      EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kCaption, kConfirm)});
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    }
    EXPECT_EQ(Game(), c.game);
    EXPECT_FALSE(fs::exists(fs::symlink_status(Host(kJournal))));
    EXPECT_EQ(fs::exists(kept) ? ReadText(kept) : "", keptBefore) << "the journal kept elsewhere changed";
  }
}

}  // namespace
