// The elevated run writes only inside the game's folder: over the simulated
// platform, a folder that is or becomes a link, a linked new file and a
// handle that leads elsewhere each stop the run before it writes, and
// nothing outside the folder is touched.
#include <functional>
#include <string>
#include <vector>

#include "tests/unit/redirection_fixture.h"

namespace {

using namespace redirection;

TEST_F(Redirection, AFolderAlreadyRedirectedAtTheStartIsABrokenInstallation) {
  const struct {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"dll a link to another folder", [this] { this->SwapDllForLink(); }},
      {"dll leads outside the install folder",
       [] { sim::MoveFinalPaths("C:\\Games\\LMH\\dll", "D:\\elsewhere"); }},
      {"dll on another volume", [] { sim::PlaceOnOtherVolume("C:\\Games\\LMH\\dll"); }},
      // A folder beside the game's whose name only begins with the game's.
      {"dll leads into LMH2, beside the install folder",
       [] { sim::MoveFinalPaths("C:\\Games\\LMH\\dll", "C:\\Games\\LMH2\\dll"); }},
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
      // A plain folder in the held one's place: no link anywhere, only
      // another folder than the one the run holds.
      {"dll replaced by another folder",
       [this] {
         fs::rename(this->Install() / "dll", this->Install() / "dll-moved");
         fs::create_directory(this->Install() / "dll");
         fs::copy_file(this->Install() / "dll-moved" / "RESOURCE.dll", this->Install() / "dll" / "RESOURCE.dll");
       },
       kDllCaption},
      // A second name, anywhere on the volume, through which the player
      // would read or change what the run writes.
      {"the new file given a second name as it is created",
       [this] {
         fs::create_directories(this->root_ / "grabbed");
         sim::LinkWhenCreated("C:\\Games\\LMH\\LMH.exe.UpDate-new", (this->root_ / "grabbed" / "LMH.exe").string());
       },
       kExeCaption, true},
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

// The lock keeps any other update of the folder out only when it is a file
// of its own: a lock file that is another file's second name, or a link,
// is not taken, and a run without the lock writes nothing.
TEST_F(Redirection, ALockFileThatIsAnotherFilesNameIsNotTaken) {
  const char* const kinds[] = {"hard link", "symbolic link"};
  for (const char* kind : kinds) {
    SCOPED_TRACE(kind);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    if (std::string(kind) == "hard link") {
      fs::create_hard_link(Outside() / "victim.dat", Install() / "UpDate.UpDate-lock");
    } else {
      fs::create_symlink(Outside() / "victim.dat", Install() / "UpDate.UpDate-lock");
    }
    const auto outside = Listing(Outside());
    const auto exe = ReadBytes(Install() / "LMH.exe");
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(kExeCaption, kWriteFailed),
                                                 Box(kCaption, kAborted)}));
    EXPECT_TRUE(sim::Writes().empty());
    EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), exe);
    EXPECT_EQ(Listing(Outside()), outside);
  }
}

}  // namespace
