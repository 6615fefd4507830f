#pragma once
// The whole updater over the simulated platform, start after start on one
// disk: the sample's old version installed, this build's payload carried
// stored, compressed or as deltas, and what the installation holds between
// the starts. The fault tables of every file operation and of the recovery
// share it; they run over the sample's build and over one that adds a file
// and merges an entry list (tests/unit/unit.cmake).
#include <map>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "base/text_format.h"
#include "core/update_build.h"
#include "install/targets/switch_targets.h"
#include "platform/win_values.h"
#include "tests/unit/delta_fixture.h"
#include "tests/unit/payload_hashes_fixture.h"
#include "tests/unit/sim_fixture.h"
#include "tests/unit/zstd_fixture.h"

inline const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
inline const char kBroken[] =
    "インストール先のデータが破損している可能性があります。\n再度ゲームをインストールし直してからアップデートを行って下さい。";
inline const char kAlready[] = "アップデートする必要がありませんでしたが、\n引き続きアップデートを行いますか？";
inline const char kWriteFailed[] = "アップデートに失敗しました。[0x000A0003]";
inline const char kFinished[] = "アップデートが終了しました。";
inline const char kAborted[] = "アップデートが中止されました。";
inline const char kRepairUnfinished[] =
    "ゲームのファイルをすべて元に戻すことができませんでした。\nもう一度アップデートを起動すると、修復が完了します。";
inline const char kUpdaterCaption[] = "Lantern Moonharbor - Update Program";
inline const char kInstallFolder[] = "C:\\Games\\LMH";
inline const char kJournal[] = "C:\\Games\\LMH\\UpDate.UpDate-journal";

enum class Game { Old, New, Mixed };
inline const char* Name(Game g) { return g == Game::Old ? "old" : g == Game::New ? "new" : "a mix"; }

// How the build carries its files.
enum class Carried { Stored, Compressed, Deltas };
inline const char* Name(Carried c) {
  return c == Carried::Stored ? "stored" : c == Carried::Compressed ? "compressed" : "deltas";
}

inline bool IsSampleFile(const std::string& entry) { return entry == "LMH.exe" || entry == "dll\\RESOURCE.dll"; }
inline bool HasEntryList() { return kUpdateBuild.entryListName != nullptr && kUpdateBuild.entryListName[0] != '\0'; }

inline std::string Box(const std::string& caption, const std::string& text) { return caption + " | " + text; }
inline std::string PerFileBox(const std::string& entry, const std::string& text) {
  return Box(entry + " - " + kUpdaterCaption + " -", text);
}
inline bool Is(const std::string& op, const char* kind) { return op.rfind(std::string(kind) + ":", 0) == 0; }

// The operation of a log that begins with `prefix`, 1-based; 0 for none.
inline int OperationOf(const std::vector<std::string>& ops, const std::string& prefix) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].rfind(prefix, 0) == 0) return static_cast<int>(i + 1);
  }
  return 0;
}

// The entry of the installation that an operation's path names, without the
// install folder and without the suffix of a file beside its target.
inline std::string EntryOf(std::string path) {
  path = path.substr(0, path.find('>'));
  path = path.substr(path.find(':') + 1);
  const std::string folder = std::string(kInstallFolder) + "\\";
  if (path.rfind(folder, 0) == 0) path = path.substr(folder.size());
  std::size_t beside = path.find(".UpDate-");
  return beside == std::string::npos ? path : path.substr(0, beside);
}

// Landmarks of the clean run: where the dialogue ends and the run begins,
// and the one write that commits the switch.
struct Road {
  std::vector<std::string> ops;
  std::size_t firstRunOp = 0;     // 1-based: the first check of a target, after the confirmation
  std::size_t commit = 0;         // the journal's last write
  std::size_t commitFlushed = 0;  // the journal's flush after it
  std::size_t record = 0;         // the profile file's write
};

// The record's operations: on the profile file's folder and the file.
inline bool OnTheRecord(const std::string& op) { return op.find("\\KESTRIN") != std::string::npos; }

inline Road Survey(const std::vector<std::string>& ops) {
  Road r{ops};
  for (std::size_t i = 0; i < ops.size(); ++i) {
    if (r.firstRunOp == 0 && Is(ops[i], "open-exclusive")) {
      // The run begins with the check of the first target's folder.
      r.firstRunOp = i + 1;
      while (r.firstRunOp > 1 && Is(ops[r.firstRunOp - 2], "open-folder")) --r.firstRunOp;
    }
    if (Is(ops[i], "write") && ops[i].find(".UpDate-journal") != std::string::npos) r.commit = i + 1;
    if (Is(ops[i], "write") && OnTheRecord(ops[i])) r.record = i + 1;
  }
  for (std::size_t i = r.commit; i < ops.size() && r.commitFlushed == 0; ++i) {
    if (ops[i] == std::string("flush:") + kJournal) r.commitFlushed = i + 1;
  }
  return r;
}

// Every target of the build's switch with its bytes, "(missing)" for none.
using TargetSet = std::map<std::string, std::string>;

class WholeRunTest : public SimTest {
 protected:
  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  // A run of the updater that the simulation may cut off; -1 when it was.
  int RunOrGone() {
    try {
      return Run();
    } catch (const sim::ProcessGone&) {
      return -1;
    }
  }

  // The build's payload: the sample's new version, a file of their own for
  // the files it adds, and its entry list.
  void CarryPayload() {
    const fs::path from = SampleDir() / "new";
    ASSERT_TRUE(fs::exists(from / "LMH.exe")) << "sample game missing: " << from;
    const std::vector<uint8_t> exe = ReadBytes(from / "LMH.exe");
    const std::vector<uint8_t> dll = ReadBytes(from / "dll" / "RESOURCE.dll");
    auto carry = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
      if (carried_ == Carried::Compressed) {
        Carry(CarriedKind::Frame, name, Frame(bytes), bytes);
      } else {
        CarryStored(name, bytes);
      }
    };
    carry("LMH.EXE", exe);
    carry("RESOURCE.DLL", dll);
    if (carried_ == Carried::Deltas) {
      // Beside the whole files, which a start over the new version needs.
      const fs::path old = SampleDir() / "old";
      const std::vector<uint8_t> oldExe = ReadBytes(old / "LMH.exe");
      const std::vector<uint8_t> oldDll = ReadBytes(old / "dll" / "RESOURCE.dll");
      Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(IdentityOf(oldExe), DeltaFrame(oldExe, exe)), exe);
      Carry(CarriedKind::Delta, "RESOURCE.DLL$1", DeltaResource(IdentityOf(oldDll), DeltaFrame(oldDll, dll)), dll);
    }
    for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e) {
      if (IsSampleFile(e->relativePath)) continue;
      const std::string bytes = std::string("added by the update: ") + e->relativePath;
      carry(FinalPathComponent(e->relativePath), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    if (HasEntryList()) CarryStored(kUpdateBuild.entryListName, {'a', ';', '\r', '\n'});
  }

  void PrepareOldInstallation() {
    std::error_code ignored;
    fs::remove_all(Host(kInstall), ignored);
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    if (HasEntryList()) WriteBytes(Host(std::string(kInstall) + "\\" + kUpdateBuild.entryListName), "b;\r\n");
    ASSERT_NO_FATAL_FAILURE(CarryPayload());
    WriteInstalledProfile();
  }

  // A fresh start of the updater on the same disk.
  void Restart() {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(CarryPayload());
  }

  TargetSet Targets() {
    TargetSet set;
    for (int i = 0; i < SwitchTargetCount(true); ++i) {
      fs::path file = Host(std::string(kInstall) + "\\" + SwitchTargetEntry(i));
      set[SwitchTargetEntry(i)] = fs::exists(file) ? ReadText(file) : "(missing)";
    }
    return set;
  }

  // The old set as installed and the new set as a clean run leaves it; the
  // clean run's file operations stay in sim::FileOperations.
  void Learn() {
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    oldSet_ = Targets();
    sim::QueueAnswers({IDOK, IDOK});
    ASSERT_EQ(Run(), 0);
    newSet_ = Targets();
    ASSERT_NE(oldSet_, newSet_);
    for (const auto& [entry, bytes] : newSet_) ASSERT_NE(bytes, "(missing)") << entry;
    ASSERT_EQ(ReadBytes(Host(std::string(kInstall) + "\\LMH.exe")), ReadBytes(SampleDir() / "new" / "LMH.exe"));
  }

  bool PayloadFilesNew() {
    TargetSet now = Targets();
    if (HasEntryList()) {
      now.erase(kUpdateBuild.entryListName);
      TargetSet wanted = newSet_;
      wanted.erase(kUpdateBuild.entryListName);
      return now == wanted;
    }
    return now == newSet_;
  }

  Game Installed() {
    TargetSet now = Targets();
    return now == oldSet_ ? Game::Old : now == newSet_ ? Game::New : Game::Mixed;
  }

  // The version of the two files the installation's check reads, when they
  // are one version's (the sample's old or new one): the targets, or each
  // old copy in its target's place.
  Game CheckedPair(bool withOldCopiesBack = false) {
    auto file = [&](const std::string& entry) {
      const fs::path target = Host(std::string(kInstall) + "\\" + entry);
      const fs::path old = Host(std::string(kInstall) + "\\" + entry + ".UpDate-old");
      return withOldCopiesBack && fs::exists(old) ? old : target;
    };
    auto is = [&](const char* version) {
      const fs::path exe = file("LMH.exe");
      const fs::path dll = file("dll\\RESOURCE.dll");
      return fs::exists(exe) && fs::exists(dll) && ReadBytes(exe) == ReadBytes(SampleDir() / version / "LMH.exe") &&
             ReadBytes(dll) == ReadBytes(SampleDir() / version / "dll" / "RESOURCE.dll");
    };
    return is("old") ? Game::Old : is("new") ? Game::New : Game::Mixed;
  }

  std::string ProfileWindowsPath() { return std::string(kAppData) + "\\KESTRIN\\LMH.ini"; }

  bool Recorded() { return ReadText(ProfilePath()).find("NonActivation=1") != std::string::npos; }

  // A fresh start on the disk as it is: it mends what was left, finds one
  // whole installation and stops at its first question.
  void NextStartStopsAtItsQuestion() {
    ASSERT_NO_FATAL_FAILURE(Restart());
    const bool recorded = Recorded();
    sim::QueueAnswers({recorded ? IDNO : IDCANCEL});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, recorded ? kAlready : kConfirm)});
  }

  // A start that completes the update (unless it is on record and not
  // asked to go again), from the whole installation that is there, and
  // leaves nothing beside it.
  void LaterUpdateCompletes(bool evenIfRecorded = false) {
    const bool recorded = Recorded();
    if (recorded && !evenIfRecorded) return;
    const bool wasOld = Installed() == Game::Old;
    ASSERT_NO_FATAL_FAILURE(Restart());
    std::vector<std::string> boxes{Box(kUpdaterCaption, kConfirm), Box(kUpdaterCaption, kFinished)};
    if (recorded) boxes.insert(boxes.begin(), Box(kUpdaterCaption, kAlready));
    sim::QueueAnswers(recorded ? std::vector<int>{IDYES, IDOK, IDOK} : std::vector<int>{IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), boxes);
    // Over the new set, the entry list is merged once more: its target
    // grows by the list's size.
    EXPECT_TRUE(wasOld ? Installed() == Game::New : PayloadFilesNew()) << Name(Installed());
    EXPECT_TRUE(Recorded());
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }

  Carried carried_ = Carried::Stored;
  TargetSet oldSet_;
  TargetSet newSet_;
};
