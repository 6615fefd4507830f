// Links everywhere the elevated run reads or writes: the entry list's
// target, the installed file identified and then decoded against, the
// profile file and its folder, each a hard link or a symbolic link (a
// reparse point) to something outside, put there before the run or while
// the confirmation waits. Nothing outside is read into the game's folder,
// and nothing outside is changed. The same file runs over the sample's
// build and over one that merges an entry list, which adds its rows.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "base/text_format.h"
#include "base/zstd_stream.h"
#include "core/update_build.h"
#include "fingerprint/checksum.h"
#include "install/source/delta_format.h"
#include "platform/win_values.h"
#include "tests/unit/payload_hashes_fixture.h"
#include "tests/unit/sim_fixture.h"
#include "tests/unit/zstd_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
const char kFinished[] = "アップデートが終了しました。";
const char kAborted[] = "アップデートが中止されました。";
const char kWriteFailed[] = "アップデートに失敗しました。[0x000A0003]";
const char kMergeFailed[] =
    "指定されたファイルが見つかりませんでした。\nアップデートは成功しましたが、\nアップデート情報の更新に失敗しました。[0x00000003]";
const char kMergeFailedCaption[] = "アップデート情報の更新に失敗しました。";
const char kCaption[] = "Lantern Moonharbor - Update Program";
const char kExeCaption[] = "LMH.exe - Lantern Moonharbor - Update Program -";
// What a file outside holds that must never reach the game's folder.
const char kSecret[] = "secret of someone else;";

bool HasEntryList() { return kUpdateBuild.entryListName != nullptr && kUpdateBuild.entryListName[0] != '\0'; }

std::string Box(const std::string& caption, const std::string& text) { return caption + " | " + text; }

// A delta of next against reference, with the header the build gives it.
Bytes DeltaResource(const Bytes& reference, const Bytes& next) {
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, reference.data(), reference.size());
  const DeltaReference identity{
      reference.size(), ContentChecksum(reference.data(), static_cast<uint32_t>(reference.size()), kNoWindow),
      ZstdHashValue(&hash)};
  uint8_t header[kDeltaHeaderSize];
  WriteDeltaHeader(identity, header);
  Bytes resource(header, header + sizeof header);
  const Bytes frame = Frame(next, FrameOptions{}, &reference);
  resource.insert(resource.end(), frame.begin(), frame.end());
  return resource;
}

// What the run makes of the link: the entry list's merge refused, the
// installed file not identified (the whole file written instead), the
// delta's reference refused, or the record left unwritten.
enum class Outcome { MergeRefused, WholeFileInstead, ReferenceRefused, RecordRefused };

enum class When { BeforeTheRun, AtTheConfirmation };

class Links : public SimTest {
 protected:
  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  fs::path Install() { return Host(kInstall); }
  fs::path Outside() { return root_ / "outside"; }
  fs::path Maker() { return ProfilePath().parent_path(); }

  // The old sample installed and a profile that finds it; the new one
  // carried whole and as a delta against the old game executable, the
  // build's added files and its entry list beside it; and a folder outside
  // with a copy of the old game executable, a file of someone else's and a
  // profile that finds the installation.
  void Prepare() {
    std::error_code ignored;
    fs::remove_all(Install(), ignored);
    fs::remove_all(Outside(), ignored);
    fs::remove_all(Maker(), ignored);
    fs::remove_all(Maker().string() + "-moved", ignored);
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    ASSERT_NO_FATAL_FAILURE(CarrySamplePayload());
    oldExe_ = ReadBytes(SampleDir() / "old" / "LMH.exe");
    newExe_ = ReadBytes(SampleDir() / "new" / "LMH.exe");
    Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(oldExe_, newExe_), newExe_);
    for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e) {
      const std::string entry = e->relativePath;
      if (entry == "LMH.exe" || entry == "dll\\RESOURCE.dll") continue;
      CarryStored(FinalPathComponent(e->relativePath), Bytes(entry.begin(), entry.end()));
    }
    if (HasEntryList()) {
      CarryStored(kUpdateBuild.entryListName, {'a', ';', '\r', '\n'});
      WriteBytes(Install() / kUpdateBuild.entryListName, "b;\r\n");
    }
    WriteInstalledProfile();
    WriteBytes(Outside() / "LMH.exe", std::string(oldExe_.begin(), oldExe_.end()));
    WriteBytes(Outside() / "secret.txt", std::string(kSecret) + "\r\n");
    WriteBytes(Outside() / "maker" / "LMH.ini", ReadText(ProfilePath()));
  }

  // The file at inside replaced by a link to outside.
  static void Link(const fs::path& inside, const fs::path& outside, bool hard) {
    fs::remove(inside);
    if (hard) {
      fs::create_hard_link(outside, inside);
    } else {
      fs::create_symlink(outside, inside);
    }
  }

  // The profile file's folder replaced by a link to a folder outside.
  void LinkMaker() {
    fs::rename(Maker(), Maker().string() + "-moved");
    fs::create_directory_symlink(Outside() / "maker", Maker());
  }

  // Every file under a folder with its bytes, links not followed.
  std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> found;
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

  // Files under the machine's drive whose bytes hold text, links not
  // followed and names of the file `except` left out.
  std::vector<std::string> Holding(const std::string& text, const fs::path& except = fs::path()) {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      if (e.is_symlink() || !e.is_regular_file() || (!except.empty() && fs::equivalent(e.path(), except))) continue;
      if (ReadText(e.path()).find(text) != std::string::npos) found.push_back(e.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  int Mapped() {
    int n = 0;
    for (const auto& op : sim::FileOperations()) n += op.rfind("map:", 0) == 0;
    return n;
  }

  Bytes oldExe_, newExe_;
};

TEST_F(Links, NothingOutsideIsReadIntoTheGameOrChanged) {
  struct Case {
    std::string what;
    When when;
    std::function<void()> link;
    Outcome outcome;
  };
  const std::string list = HasEntryList() ? std::string(kInstall) + "\\" + kUpdateBuild.entryListName : "";
  const std::string profile = std::string(kAppData) + "\\KESTRIN\\LMH.ini";
  std::vector<Case> cases;
  for (When when : {When::BeforeTheRun, When::AtTheConfirmation}) {
    const std::string at = when == When::BeforeTheRun ? ", before the run" : ", while the confirmation waits";
    for (bool hard : {true, false}) {
      const std::string kind = hard ? " a hard link" : " a symbolic link";
      if (HasEntryList()) {
        cases.push_back({"the entry list's target" + kind + at, when,
                         [=] { Link(Install() / kUpdateBuild.entryListName, Outside() / "secret.txt", hard); },
                         Outcome::MergeRefused});
      }
      // Identification comes before the confirmation; decoding after it.
      cases.push_back({"the installed game executable" + kind + at, when,
                       [=] { Link(Install() / "LMH.exe", Outside() / "LMH.exe", hard); },
                       when == When::BeforeTheRun ? Outcome::WholeFileInstead : Outcome::ReferenceRefused});
      cases.push_back({"the profile file" + kind + at, when,
                       [=] {
                         Link(ProfilePath(), when == When::BeforeTheRun ? Outside() / "maker" / "LMH.ini"
                                                                        : Outside() / "secret.txt",
                              hard);
                       },
                       Outcome::RecordRefused});
    }
    cases.push_back({"the profile file's folder a link" + at, when, [this] { LinkMaker(); }, Outcome::RecordRefused});
    // Files that lead elsewhere, or lie on another volume, as the system tells.
    cases.push_back({"the profile file leads elsewhere" + at, when,
                     [=] { sim::MoveFinalPaths(profile, "D:\\elsewhere\\LMH.ini"); }, Outcome::RecordRefused});
    cases.push_back({"the profile file on another volume" + at, when, [=] { sim::PlaceOnOtherVolume(profile); },
                     Outcome::RecordRefused});
    if (HasEntryList()) {
      cases.push_back({"the entry list's target leads elsewhere" + at, when,
                       [=] { sim::MoveFinalPaths(list, "D:\\elsewhere\\list.txt"); }, Outcome::MergeRefused});
      cases.push_back({"the entry list's target on another volume" + at, when,
                       [=] { sim::PlaceOnOtherVolume(list); }, Outcome::MergeRefused});
    }
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    if (c.when == When::BeforeTheRun) c.link();
    const auto outside = Listing(Outside());
    bool linked = c.when == When::BeforeTheRun;
    sim::OnMessageBox([&] {
      if (!linked) c.link();
      linked = true;
    });
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);

    const std::string confirm = Box(kCaption, kConfirm);
    const std::string finished = Box(kCaption, kFinished);
    const std::string aborted = Box(kCaption, kAborted);
    switch (c.outcome) {
      case Outcome::MergeRefused:
        EXPECT_EQ(Boxes(), (std::vector<std::string>{confirm, Box(kMergeFailedCaption, kMergeFailed), aborted}));
        EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), oldExe_);
        break;
      case Outcome::WholeFileInstead:
        EXPECT_EQ(Boxes(), (std::vector<std::string>{confirm, finished}));
        EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), newExe_);
        EXPECT_EQ(Mapped(), 0);
        break;
      case Outcome::ReferenceRefused:
        EXPECT_EQ(Boxes(), (std::vector<std::string>{confirm, Box(kExeCaption, kWriteFailed), aborted}));
        EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), oldExe_);
        EXPECT_EQ(Mapped(), 0);
        break;
      case Outcome::RecordRefused:
        EXPECT_EQ(Boxes(), (std::vector<std::string>{confirm, finished}));
        EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), newExe_);
        break;
    }
    EXPECT_EQ(Listing(Outside()), outside);
    // The file outside, under whatever names it has, is the only one that holds its bytes.
    EXPECT_EQ(Holding(kSecret, Outside() / "secret.txt"), std::vector<std::string>{});
    // The record is written only by a run that finished with the profile
    // file left a plain file of its folder.
    const bool recorded = c.outcome == Outcome::WholeFileInstead;
    EXPECT_EQ(Holding("NonActivation"),
              recorded ? std::vector<std::string>{ProfilePath().string()} : std::vector<std::string>{});
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

// The install folder swapped for a link to a copy of it elsewhere just
// before an installed file is read, on a system that cannot say where a
// handle leads: the folder is no longer the one held, so the file is not
// read, and the run stops there, with that file's own message.
TEST_F(Links, AFolderSwappedJustBeforeAFileIsReadStopsTheRead) {
  struct Case {
    std::string what;
    std::string file;          // the file read, under the install folder
    std::string failedCaption;  // the box that tells the run stopped there
    std::string failedText;
    int mapped;  // the game executable's delta is decoded before the entry list is read
  };
  std::vector<Case> cases = {{"the game executable decoded against", "LMH.exe", kExeCaption, kWriteFailed, 0}};
  if (HasEntryList()) {
    cases.push_back({"the entry list's target", kUpdateBuild.entryListName, kMergeFailedCaption, kMergeFailed, 1});
  }
  // The operations of a clean run: the file's last read (the game
  // executable is read once to identify it, then to decode against), with
  // its folder's check just before it.
  ASSERT_NO_FATAL_FAILURE(Prepare());
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  const std::vector<std::string> clean = sim::FileOperations();

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string read = "open-existing:" + std::string(kInstall) + "\\" + c.file;
    ASSERT_NE(std::find(clean.begin(), clean.end(), read), clean.end());
    auto at = std::find(clean.rbegin(), clean.rend(), read).base() - 1;
    if (*(at - 1) == "open-folder:" + std::string(kInstall)) --at;
    ASSERT_NO_FATAL_FAILURE(Prepare());
    const fs::path real = root_ / "Games" / "LMH-real";
    const fs::path copy = Outside() / "LMH";
    fs::copy(Install(), copy, fs::copy_options::recursive);
    const auto outside = Listing(Outside());
    sim::NoFinalPaths();
    sim::BeforeFileOperation(static_cast<int>(at - clean.begin()) + 1, [&] {
      fs::rename(Install(), real);
      fs::create_directory_symlink(copy, Install());
    });
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kCaption, kConfirm), Box(c.failedCaption, c.failedText),
                                                 Box(kCaption, kAborted)}));
    EXPECT_EQ(Mapped(), c.mapped);
    EXPECT_EQ(Listing(Outside()), outside);
    fs::remove(Install());
    fs::rename(real, Install());
    EXPECT_EQ(ReadBytes(Install() / "LMH.exe"), oldExe_);
  }
}

}  // namespace
