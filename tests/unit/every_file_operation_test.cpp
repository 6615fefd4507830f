// The whole update over the simulated platform with each of its file
// operations in turn failing, and in turn cut off as if the process died
// there: the installation is always the old one or the new one, and the next
// start leaves nothing of the run behind. The same file runs over the
// sample's build and over one that adds a file and merges an entry list.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "core/updater_state.h"
#include "install/switch/file_switch.h"
#include "tests/unit/whole_run_fixture.h"

namespace {

const char kMergeFailed[] =
    "指定されたファイルが見つかりませんでした。\nアップデートは成功しましたが、\nアップデート情報の更新に失敗しました。[0x%08X]";
const char kMergeFailedCaption[] = "アップデート情報の更新に失敗しました。";

class EveryFileOperation : public WholeRunTest {
 protected:
  // Each operation of a clean run failing, then cut off there; with
  // `lossy`, only cut off, the cut losing what was not made durable.
  void FailOrCutEachOperation(bool lossy);
};

struct Expected {
  int exitCode;
  std::vector<std::string> boxes;
  Game game;
  bool recorded;
  std::vector<std::string> left;  // Windows paths a failed run leaves for the next start
};

// The entry whose per-file message a failure of operation n names: a
// folder's check names the file created next, the journal names the first
// target.
std::string FailedEntry(const Road& r, std::size_t n) {
  std::size_t at = n - 1;
  if (Is(r.ops[at], "open-folder") && !Is(r.ops[at + 1], "open-new") && !Is(r.ops[at + 1], "open-existing")) {
    // Before anything is written each target's folder is checked in turn,
    // followed by the target itself when it exists.
    int index = 0;
    for (std::size_t i = r.firstRunOp - 1; i < at; ++i) index += Is(r.ops[i], "open-folder") ? 1 : 0;
    return SwitchTargetEntry(index);
  }
  if (Is(r.ops[at], "open-folder")) ++at;
  if (r.ops[at].find(".UpDate-journal") != std::string::npos) return SwitchTargetEntry(0);
  return EntryOf(r.ops[at]);
}

// What a run with operation n failing shows and leaves, from what the
// operation is: the dialogue's checks fail as a broken installation, the
// run before the commit ends with the old files, and what fails after it
// (or only makes the disk sure of it) no longer matters to the installation.
Expected WhenFailing(const Road& r, std::size_t n) {
  const std::string& op = r.ops[n - 1];
  const std::string confirm = Box(kUpdaterCaption, kConfirm);
  const std::string aborted = Box(kUpdaterCaption, kAborted);
  auto writeFailed = [&](const std::string& entry) { return Box(entry + " - " + kUpdaterCaption + " -", kWriteFailed); };
  const std::string journal = std::string(kInstallFolder) + "\\UpDate.UpDate-journal";
  if (n < r.firstRunOp) {
    // Without the lock the run goes on to the confirmation and writes nothing.
    if (Is(op, "lock")) return {0, {confirm, writeFailed(SwitchTargetEntry(0)), aborted}, Game::Old, false, {}};
    return {2, {Box(kUpdaterCaption, kBroken)}, Game::Old, false, {}};
  }
  const std::vector<std::string> finished{confirm, Box(kUpdaterCaption, kFinished)};
  if (Is(op, "flush-folder")) return {0, finished, Game::New, true, {}};
  // The entry list's merge reads its target and writes the merged text
  // beside it; its failures carry their own message and code.
  if (HasEntryList() && n <= r.commit && FailedEntry(r, n) == kUpdateBuild.entryListName) {
    const std::string& at = Is(op, "open-folder") ? r.ops[n] : op;
    if (Is(at, "open-existing") || (!Is(at, "move") && at.find(".UpDate-new") != std::string::npos)) {
      char text[256];
      FormatText(text, sizeof text, kMergeFailed, Is(at, "open-existing") ? 3 : 6);
      return {0, {confirm, Box(kMergeFailedCaption, text), aborted}, Game::Old, false, {}};
    }
  }
  if (n <= r.commit) return {0, {confirm, writeFailed(FailedEntry(r, n)), aborted}, Game::Old, false, {}};
  // An old file that cannot be removed stays, and the journal with it.
  std::vector<std::string> left;
  if (Is(op, "delete")) {
    left.push_back(journal);
    if (op.find(".UpDate-old") != std::string::npos) left.push_back(op.substr(7));
  }
  // The record is written once its folder, its file, the move to the
  // file's start and the write itself have succeeded.
  return {0, finished, Game::New, !(OnTheRecord(op) && n <= r.record), left};
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

void EveryFileOperation::FailOrCutEachOperation(bool lossy) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  ASSERT_EQ(Installed(), Game::New);
  const Road road = Survey(sim::FileOperations());
  const std::vector<std::string>& clean = road.ops;
  std::size_t firstMove = 0;
  std::size_t lastMove = 0;
  std::size_t journalFlush = 0;
  std::size_t lastFolderFlush = 0;
  for (std::size_t i = 0; i < clean.size(); ++i) {
    if (Is(clean[i], "move")) {
      if (firstMove == 0) firstMove = i + 1;
      lastMove = i + 1;
    }
    if (journalFlush == 0 && clean[i] == "flush:" + std::string(kInstallFolder) + "\\UpDate.UpDate-journal") {
      journalFlush = i + 1;
    }
    if (Is(clean[i], "flush-folder")) lastFolderFlush = i + 1;
  }
  // Two moves switch each file that existed, one each file the update
  // adds; the whole road is printed when a case fails.
  const auto moves = std::count_if(clean.begin(), clean.end(), [](const std::string& op) { return Is(op, "move"); });
  int expectedMoves = 0;
  std::set<std::string> folders;
  for (const auto& [entry, bytes] : oldSet_) {
    expectedMoves += bytes == "(missing)" ? 1 : 2;
    folders.insert(entry.substr(0, entry.rfind('\\') == std::string::npos ? 0 : entry.rfind('\\')));
  }
  ASSERT_EQ(moves, expectedMoves);
  // A new file goes in only once it is on the disk.
  for (std::size_t i = 0; i < clean.size(); ++i) {
    std::size_t newFile = clean[i].find(".UpDate-new>");
    if (clean[i].rfind("move:", 0) != 0 || newFile == std::string::npos) continue;
    const std::string flushed = "flush:" + clean[i].substr(5, newFile + 11 - 5);
    EXPECT_NE(std::find(clean.begin(), clean.begin() + i, flushed), clean.begin() + i) << clean[i];
  }
  // A new file larger than a flush slice is flushed a slice at a time as it
  // is written: those flushes too are failed and cut off below.
  const auto newFileFlushes = std::count_if(clean.begin(), clean.end(), [](const std::string& op) {
    return Is(op, "flush") && op.find(".UpDate-new") != std::string::npos;
  });
  EXPECT_GT(newFileFlushes, static_cast<long>(oldSet_.size()));
  // The journal is on the disk before the first rename; the commit follows
  // the flush of both folders, and the record follows the commit.
  EXPECT_GT(journalFlush, 0u);
  EXPECT_LT(journalFlush, firstMove);
  EXPECT_EQ(std::count_if(clean.begin(), clean.end(), [](const std::string& op) { return Is(op, "flush-folder"); }),
            static_cast<long>(folders.size()));
  EXPECT_GT(lastFolderFlush, lastMove);
  EXPECT_GT(road.commit, lastFolderFlush);
  EXPECT_GT(road.record, road.commit);
  EXPECT_EQ(clean.back(), "flush:" + ProfileWindowsPath()) << "the record is not made durable";
  std::string trace;
  for (std::size_t i = 0; i < clean.size(); ++i) trace += std::to_string(i + 1) + " " + clean[i] + "\n";
  SCOPED_TRACE("the clean run's file operations:\n" + trace);

  for (bool cutOff : {false, true}) {
    if (lossy && !cutOff) continue;
    for (std::size_t n = 1; n <= clean.size(); ++n) {
      const std::string what = std::string(cutOff ? "cut off at " : "failing ") + std::to_string(n) + " " + clean[n - 1];
      SCOPED_TRACE(what);
      ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
      const Expected expected = WhenFailing(road, n);
      if (lossy) sim::LoseUnflushedAtCut();
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
      // Whatever failed, no new file is closed under its slice's flush.
      EXPECT_EQ(sim::Misuses(), std::vector<std::string>{});
      if (!cutOff) {
        EXPECT_EQ(exitCode, expected.exitCode);
        EXPECT_EQ(Boxes(), expected.boxes);
        EXPECT_EQ(Installed(), expected.game) << Name(Installed());
        EXPECT_EQ(Recorded(), expected.recorded);
        std::vector<std::string> left;
        for (const auto& path : expected.left) left.push_back(Host(path).string());
        EXPECT_EQ(Sorted(Leftovers()), Sorted(left));
      }
      EXPECT_TRUE(!Recorded() || Installed() == Game::New) << "an update on record over " << Name(Installed());
      // Cut off where the commit mark is not yet flushed, a cut that loses
      // what was not made durable loses the mark.
      const std::size_t committed = lossy ? road.commitFlushed : road.commit;
      const Game afterNextStart = cutOff ? (n <= committed ? Game::Old : Game::New) : expected.game;

      // The next start mends what was left, finds one whole installation
      // and stops at its first question.
      ASSERT_NO_FATAL_FAILURE(Restart());
      const bool recorded = Recorded();
      sim::QueueAnswers({recorded ? IDNO : IDCANCEL});
      EXPECT_EQ(Run(), 0);
      EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, recorded ? kAlready : kConfirm)});
      EXPECT_EQ(Installed(), afterNextStart) << Name(Installed());
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
      EXPECT_FALSE(recorded && cutOff && n <= road.record) << "a run cut off before its record has one";

      // And the one after that completes the update.
      if (!recorded) {
        ASSERT_NO_FATAL_FAILURE(Restart());
        sim::QueueAnswers({IDOK, IDOK});
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kUpdaterCaption, kConfirm), Box(kUpdaterCaption, kFinished)}));
        // Over the new set, the entry list is merged once more: its target
        // grows by the list's size.
        EXPECT_TRUE(afterNextStart == Game::Old ? Installed() == Game::New : PayloadFilesNew()) << Name(Installed());
        EXPECT_TRUE(Recorded());
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
      }
    }
  }
}

TEST_F(EveryFileOperation, FailedOrCutOffTheRunLeavesTheOldOrTheNewInstallation) { FailOrCutEachOperation(false); }

// A cut that loses every write not yet flushed and every name its folder
// did not yet make durable: each new file must be flushed before it is
// switched in, the journal before the first rename, the folders before the
// commit, and the commit before the old files go.
TEST_F(EveryFileOperation, CutOffLosingWhatWasNotFlushed) {
  for (Carried carried : {Carried::Stored, Carried::Compressed, Carried::Deltas}) {
    SCOPED_TRACE(Name(carried));
    carried_ = carried;
    ASSERT_NO_FATAL_FAILURE(FailOrCutEachOperation(true));
  }
}

// An old copy that cannot be removed (the game started while the window was
// up: a running executable can be renamed, not removed), then a run of the
// next start killed mid-way: the old copy never goes back over the game.
TEST_F(EveryFileOperation, AStaleOldCopyFollowedByAKilledRunKeepsTheNewGame) {
  const std::string old = std::string(kInstallFolder) + "\\LMH.exe.UpDate-old";
  ASSERT_NO_FATAL_FAILURE(Learn());
  const std::vector<std::string> clean = sim::FileOperations();

  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  ASSERT_GT(OperationOf(clean, "delete:" + old), 0);
  sim::FailFileOperation(OperationOf(clean, "delete:" + old));
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(Installed(), Game::New);
  ASSERT_TRUE(fs::exists(Host(old)));

  // The game still runs from the old copy at the next start, whose run is
  // killed while it writes.
  ASSERT_NO_FATAL_FAILURE(Restart());
  sim::HoldOpenWithoutWriteSharing(old);
  sim::QueueAnswers({IDYES, IDOK});
  sim::OnPump([] { throw sim::ProcessGone{}; });
  EXPECT_THROW(Run(), sim::ProcessGone);
  EXPECT_EQ(Installed(), Game::New);

  // The game has ended; the start after that finds the new game whole.
  ASSERT_NO_FATAL_FAILURE(Restart());
  sim::QueueAnswers({IDNO});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, kAlready)});
  EXPECT_EQ(Installed(), Game::New);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A second updater of the same game started while the first waits at its
// confirmation (as a build of another number would be, were the guard keyed
// by the number): the first holds the install folder's lock, so the second
// changes nothing and the first finishes.
TEST_F(EveryFileOperation, TwoUpdatesStartedTogether) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  bool started = false;
  int secondExit = -1;
  std::size_t secondBoxes = 0;
  std::vector<std::string> secondOperations;
  sim::OnMessageBox([&] {
    if (started) return;
    started = true;
    const UpdaterState first = g_state;
    const std::size_t boxesBefore = sim::MessageBoxes().size();
    const std::size_t operationsBefore = sim::FileOperations().size();
    secondExit = Run();
    secondBoxes = sim::MessageBoxes().size() - boxesBefore;
    secondOperations.assign(sim::FileOperations().begin() + static_cast<long>(operationsBefore),
                            sim::FileOperations().end());
    g_state = first;
  });
  sim::QueueAnswers({IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(secondExit, 0);
  EXPECT_EQ(secondBoxes, 0u);
  EXPECT_EQ(sim::BroughtToFront(), kUpdaterCaption);
  EXPECT_EQ(secondOperations, (std::vector<std::string>{"open-folder:" + std::string(kInstallFolder),
                                                        "lock:" + std::string(kInstallFolder) + "\\UpDate.UpDate-lock"}));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kUpdaterCaption, kConfirm), Box(kUpdaterCaption, kFinished)}));
  EXPECT_EQ(Installed(), Game::New);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A rollback puts back what the switch knew: a target that existed is never
// removed because its old copy went missing behind the run's back. The run
// cannot tell that the old file is back, and says that the next start
// finishes the repair; that start finds nothing left to do.
TEST_F(EveryFileOperation, ARollbackNeverRemovesATargetThatExisted) {
  const std::string exe = std::string(kInstallFolder) + "\\LMH.exe";
  ASSERT_NO_FATAL_FAILURE(Learn());
  const int dllIn = OperationOf(sim::FileOperations(), "move:" + std::string(kInstallFolder) +
                                                           "\\dll\\RESOURCE.dll.UpDate-new>");
  ASSERT_GT(dllIn, 0);

  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  // Someone else moves the old game executable back over the new one.
  sim::BeforeFileOperation(dllIn, [&] { fs::rename(Host(exe + ".UpDate-old"), Host(exe)); });
  sim::FailFileOperation(dllIn);
  sim::QueueAnswers({IDOK, IDOK, IDOK});
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{
                         Box(kUpdaterCaption, kConfirm),
                         Box(std::string("dll\\RESOURCE.dll - ") + kUpdaterCaption + " -", kWriteFailed),
                         Box(kUpdaterCaption, kRepairUnfinished)}));
  ASSERT_TRUE(fs::exists(Host(exe))) << "the rollback removed the game executable";
  EXPECT_EQ(Installed(), Game::Old);

  ASSERT_NO_FATAL_FAILURE(Restart());
  sim::QueueAnswers({IDCANCEL});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Installed(), Game::Old);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// The journal written in pieces, the process gone after each: a journal cut
// short reads as none, and the next start finds the old installation whole.
TEST_F(EveryFileOperation, AJournalCutShortAtAnyByteReadsAsNone) {
  const std::string journal = std::string(kInstallFolder) + "\\UpDate.UpDate-journal";
  ASSERT_NO_FATAL_FAILURE(Learn());
  const int write = OperationOf(sim::FileOperations(), "write:" + journal);
  ASSERT_GT(write, 0);
  ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
  std::string whole;
  // Read once it is flushed, before the first rename.
  sim::BeforeFileOperation(write + 2, [&] { whole = ReadText(Host(journal)); });
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(Run(), 0);
  ASSERT_GT(whole.size(), 20u);

  for (std::size_t k = 0; k <= whole.size(); ++k) {
    SCOPED_TRACE("journal cut after " + std::to_string(k) + " bytes");
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    sim::LimitWrites(journal, k);
    sim::CutOffAtFileOperation(write + 1);
    sim::QueueAnswers({IDOK, IDOK});
    EXPECT_THROW(Run(), sim::ProcessGone);

    ASSERT_NO_FATAL_FAILURE(Restart());
    ASSERT_EQ(ReadText(Host(journal)), whole.substr(0, k));
    sim::QueueAnswers({IDCANCEL});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Installed(), Game::Old) << Name(Installed());
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

// What a build with another table left: its journal decides, for names this
// build does not write too; a journal naming anything outside the form a
// payload entry takes is read as none.
TEST_F(EveryFileOperation, LeftoversOfABuildWithAnotherTable) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  const std::string folder = std::string(kInstallFolder) + "\\";
  const fs::path oldExe = SampleDir() / "old" / "LMH.exe";
  const fs::path newExe = SampleDir() / "new" / "LMH.exe";
  const fs::path oldDll = SampleDir() / "old" / "dll" / "RESOURCE.dll";
  const fs::path newDll = SampleDir() / "new" / "dll" / "RESOURCE.dll";
  auto put = [&](const std::string& entry, const fs::path& from) {
    fs::copy_file(from, Host(folder + entry), fs::copy_options::overwrite_existing);
  };
  const std::string head = "UpDate switch journal 1\r\n";
  const std::string list = "+ LMH.exe\r\n+ dll\\RESOURCE.dll\r\n- dll\\OTHER.dat\r\n.\r\n";
  const struct {
    const char* what;
    std::string journal;
    std::function<void()> arrange;
    const char* game;  // "old" or "new" sample files after the next start
    bool otherStays;
  } cases[] = {
      {"switch cut short: rolled back, the added file removed", head + list,
       [&] {
         put("LMH.exe.UpDate-old", oldExe);
         put("LMH.exe", newExe);
         put("dll\\RESOURCE.dll.UpDate-new", newDll);
         WriteBytes(Host(folder + "dll\\OTHER.dat"), "other");
       },
       "old", false},
      {"committed: finished, the added file kept", head + list + "C",
       [&] {
         put("LMH.exe.UpDate-old", oldExe);
         put("LMH.exe", newExe);
         put("dll\\RESOURCE.dll.UpDate-old", oldDll);
         put("dll\\RESOURCE.dll", newDll);
         WriteBytes(Host(folder + "dll\\OTHER.dat"), "other");
       },
       "new", true},
      // A copy of the old game executable that could not be removed while
      // the game ran, then a run killed while it wrote: no journal, and the
      // old copy is never moved over the game.
      {"no journal, a stale old copy beside the new game", "",
       [&] {
         put("LMH.exe", newExe);
         put("dll\\RESOURCE.dll", newDll);
         put("LMH.exe.UpDate-old", oldExe);
         put("LMH.exe.UpDate-new", newExe);
       },
       "new", false},
      {"an entry outside the install folder: read as none", head + "+ ..\\..\\Windows\\LMH.exe\r\n" + list,
       [&] {
         put("LMH.exe.UpDate-new", newExe);
         WriteBytes(Host(folder + "dll\\OTHER.dat"), "other");
       },
       "old", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    c.arrange();
    if (!c.journal.empty()) {
      // Left by that build's elevated run: the administrators' own.
      WriteBytes(Host(folder + "UpDate.UpDate-journal"), c.journal);
      sim::SetFileSecurity(folder + "UpDate.UpDate-journal", {"Administrators", {"Administrators", "SYSTEM"}});
    }
    ASSERT_NO_FATAL_FAILURE(Restart());
    sim::QueueAnswers({IDCANCEL});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, kConfirm)});
    const bool isNew = std::string(c.game) == "new";
    EXPECT_EQ(ReadBytes(Host(folder + "LMH.exe")), ReadBytes(isNew ? newExe : oldExe));
    EXPECT_EQ(ReadBytes(Host(folder + "dll\\RESOURCE.dll")), ReadBytes(isNew ? newDll : oldDll));
    EXPECT_EQ(fs::exists(Host(folder + "dll\\OTHER.dat")), c.otherStays);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  }
}

}  // namespace
