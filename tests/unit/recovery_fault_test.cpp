// The start after a run that died, itself failing or dying at each of its
// file operations; the same start with the journal lost or unreadable; and a
// switch whose rollback fails. Whatever happens, the installation ends
// wholly old or wholly new (or, without a journal, as the installation's
// own check passes it) and a later update is not blocked by what is left.
// The same file runs over the sample's build and over one that adds a file
// and merges an entry list.
#include <string>
#include <vector>

#include "tests/unit/whole_run_fixture.h"

namespace {

class RecoveryFaults : public WholeRunTest {
 protected:
  // The points at which the clean run may die leaving something beside the
  // targets: each operation from the first file it creates on, a run of
  // writes to one file counted once.
  std::vector<int> KillPoints(const std::vector<std::string>& clean) {
    std::vector<int> points;
    const int first = OperationOf(clean, "open-new:");
    for (int i = first; first > 1 && i <= static_cast<int>(clean.size()); ++i) {
      if (Is(clean[i - 1], "write") && clean[i - 2] == clean[i - 1]) continue;
      points.push_back(i);
    }
    return points;
  }

  // The old installation, and a run of the update that dies at operation k.
  void KilledAt(int k) {
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    sim::CutOffAtFileOperation(k);
    sim::QueueAnswers({IDOK, IDOK});
    ASSERT_EQ(RunOrGone(), -1);
    ASSERT_NO_FATAL_FAILURE(Restart());
  }

  void AnswerFirstQuestion() { sim::QueueAnswers({Recorded() ? IDNO : IDCANCEL}); }

  // Without a journal nothing of the run's new files stays, and an old copy
  // stays only beside a file the check does not read.
  void OnlyUncheckedOldCopiesLeft() {
    for (const std::string& left : Leftovers()) {
      EXPECT_EQ(left.find(".UpDate-new"), std::string::npos) << left;
      EXPECT_EQ(left.find("LMH.exe.UpDate-old"), std::string::npos) << left;
      EXPECT_EQ(left.find("RESOURCE.dll.UpDate-old"), std::string::npos) << left;
    }
  }
  std::string FirstQuestion() { return Box(kUpdaterCaption, Recorded() ? kAlready : kConfirm); }
};

TEST_F(RecoveryFaults, EachOperationOfTheNextStartFailingOrCutOff) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  const Road road = Survey(sim::FileOperations());
  const std::vector<int> kills = KillPoints(road.ops);
  ASSERT_FALSE(kills.empty());
  for (int k : kills) {
    SCOPED_TRACE("the run killed at " + std::to_string(k) + " " + road.ops[k - 1]);
    const Game expected = static_cast<std::size_t>(k) <= road.commit ? Game::Old : Game::New;
    // The next start's own road, undisturbed.
    ASSERT_NO_FATAL_FAILURE(KilledAt(k));
    AnswerFirstQuestion();
    ASSERT_EQ(Run(), 0);
    ASSERT_EQ(Installed(), expected) << Name(Installed());
    const std::vector<std::string> recovery = sim::FileOperations();

    for (bool cutOff : {false, true}) {
      for (std::size_t m = 1; m <= recovery.size(); ++m) {
        SCOPED_TRACE(std::string(cutOff ? "the next start cut off at " : "the next start failing ") +
                     std::to_string(m) + " " + recovery[m - 1]);
        ASSERT_NO_FATAL_FAILURE(KilledAt(k));
        const std::string question = FirstQuestion();
        if (cutOff) {
          sim::CutOffAtFileOperation(static_cast<int>(m));
        } else {
          sim::FailFileOperation(static_cast<int>(m));
        }
        AnswerFirstQuestion();
        const int exitCode = RunOrGone();
        ASSERT_GE(sim::FileOperations().size(), m);
        ASSERT_EQ(sim::FileOperations()[m - 1], recovery[m - 1]) << "the start took another road";
        if (!cutOff) {
          // A start that could not put everything right finds the
          // installation broken and changes nothing more; one that asks its
          // question has a pair of files that passes the check (without the
          // lock it leaves the leftovers alone, and writes nothing).
          if (exitCode == 2) {
            EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, kBroken)});
          } else {
            EXPECT_EQ(exitCode, 0);
            EXPECT_EQ(Boxes(), std::vector<std::string>{question});
            EXPECT_NE(CheckedPair(), Game::Mixed);
          }
        }
        ASSERT_NO_FATAL_FAILURE(NextStartStopsAtItsQuestion());
        if (!cutOff && recovery[m - 1] == std::string("open-read:") + kJournal) {
          // A journal that cannot be opened is as lost: the check decides
          // (see the table of lost journals below).
          EXPECT_NE(CheckedPair(), Game::Mixed);
          OnlyUncheckedOldCopiesLeft();
          ASSERT_NO_FATAL_FAILURE(LaterUpdateCompletes(true));
          continue;
        }
        EXPECT_EQ(Installed(), expected) << Name(Installed());
        EXPECT_EQ(Leftovers(), std::vector<std::string>{});
        ASSERT_NO_FATAL_FAILURE(LaterUpdateCompletes());
      }
    }
  }
}

// Any user may delete the journal, and a disk error may make it unreadable:
// the start then has only the names beside the targets, and the
// installation's own check decides. Where the files as they stand pass it,
// they stay; where they fail it and the old copies pass it, the old copies
// go back. A later update is never blocked by what is left.
TEST_F(RecoveryFaults, ALostOrUnreadableJournalLeavesTheSetTheCheckPasses) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  const Road road = Survey(sim::FileOperations());
  const struct {
    const char* what;
    void (*lose)(const fs::path& journal);
  } losses[] = {
      {"deleted", [](const fs::path& journal) { fs::remove(journal); }},
      {"unreadable", [](const fs::path&) { sim::FailReads(kJournal); }},
      {"garbled", [](const fs::path& journal) { WriteBytes(journal, std::string(ReadText(journal).size(), '\0')); }},
  };
  int withJournal = 0;
  for (int k : KillPoints(road.ops)) {
    for (const auto& loss : losses) {
      SCOPED_TRACE("the run killed at " + std::to_string(k) + " " + road.ops[k - 1] + ", its journal " + loss.what);
      ASSERT_NO_FATAL_FAILURE(KilledAt(k));
      if (!fs::exists(Host(kJournal))) continue;
      ++withJournal;
      // The files as they stand when they pass the check, else the old
      // copies back when those pass it.
      const Game asTheyStand = CheckedPair();
      const Game expected = asTheyStand != Game::Mixed ? asTheyStand : CheckedPair(true);
      ASSERT_NE(expected, Game::Mixed) << "no set of the files passes the check";
      loss.lose(Host(kJournal));
      const std::string question = FirstQuestion();
      AnswerFirstQuestion();
      EXPECT_EQ(Run(), 0);
      EXPECT_EQ(Boxes(), std::vector<std::string>{question});
      EXPECT_EQ(CheckedPair(), expected) << Name(CheckedPair());
      EXPECT_FALSE(fs::exists(Host(kJournal)));
      OnlyUncheckedOldCopiesLeft();
      ASSERT_NO_FATAL_FAILURE(LaterUpdateCompletes(true));
    }
  }
  EXPECT_GT(withJournal, 0);
}

// Old copies without a journal, laid out by hand: what the check decides
// for each, and that a later update goes through what stays.
TEST_F(RecoveryFaults, OldCopiesWithoutAJournal) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  const std::string folder = std::string(kInstallFolder) + "\\";
  const std::string list = HasEntryList() ? kUpdateBuild.entryListName : "";
  // "old", "new", "other" (bytes of neither version) or "" (no file).
  auto put = [&](const std::string& name, const std::string& version) {
    const fs::path to = Host(folder + name);
    fs::remove(to);
    const std::string entry = name.substr(0, name.find(".UpDate-"));
    if (version == "other") WriteBytes(to, "neither version of " + entry);
    const fs::path sample = SampleDir() / version / (entry == "LMH.exe" ? "LMH.exe" : "dll/RESOURCE.dll");
    if (version == "old" || version == "new") fs::copy_file(sample, to);
  };
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // on top of the old installation
    bool needsList;
    Game pair;                      // what the check reads afterwards; Mixed: the start finds it broken
    std::vector<std::string> left;  // names beside the targets afterwards
  } cases[] = {
      {"the new executable in, its old copy aside, the old module",
       {{"LMH.exe", "new"}, {"LMH.exe.UpDate-old", "old"}}, false, Game::Old, {}},
      {"the new module in, its old copy aside, the old executable",
       {{"dll\\RESOURCE.dll", "new"}, {"dll\\RESOURCE.dll.UpDate-old", "old"}}, false, Game::Old, {}},
      {"the new set in, both old copies aside",
       {{"LMH.exe", "new"}, {"LMH.exe.UpDate-old", "old"}, {"dll\\RESOURCE.dll", "new"},
        {"dll\\RESOURCE.dll.UpDate-old", "old"}},
       false, Game::New, {}},
      {"the executable missing, its old copy aside", {{"LMH.exe", ""}, {"LMH.exe.UpDate-old", "old"}}, false,
       Game::Old, {}},
      {"the new set in, an old copy of neither version beside the executable",
       {{"LMH.exe", "new"}, {"LMH.exe.UpDate-old", "other"}, {"dll\\RESOURCE.dll", "new"}}, false, Game::New, {}},
      // The old set passes with the copy or without it: nothing says which
      // of the two is the file to keep.
      {"an old copy the same as its target", {{"LMH.exe.UpDate-old", "old"}}, false, Game::Old,
       {"LMH.exe.UpDate-old"}},
      {"a damaged executable, and an old copy that does not help",
       {{"LMH.exe", "other"}, {"LMH.exe.UpDate-old", "other"}}, false, Game::Mixed, {"LMH.exe.UpDate-old"}},
      {"the new set in, an old copy of a file the check does not read",
       {{"LMH.exe", "new"}, {"dll\\RESOURCE.dll", "new"}, {list + ".UpDate-old", "other"}}, true, Game::New,
       {list + ".UpDate-old"}},
      {"a file the check does not read missing, its old copy aside",
       {{list, ""}, {list + ".UpDate-old", "other"}}, true, Game::Old, {}},
  };
  for (const auto& c : cases) {
    if (c.needsList && list.empty()) continue;
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    for (const auto& [name, version] : c.files) put(name, version);
    const TargetSet before = Targets();
    ASSERT_NO_FATAL_FAILURE(Restart());
    sim::QueueAnswers({IDCANCEL});
    const int exitCode = Run();
    std::vector<std::string> left;
    for (const std::string& name : c.left) left.push_back(Host(folder + name).string());
    EXPECT_EQ(Leftovers(), left);
    if (c.pair == Game::Mixed) {
      EXPECT_EQ(exitCode, 2);
      EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, kBroken)});
      EXPECT_EQ(Targets(), before) << "a broken installation is left as it was";
      continue;
    }
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(kUpdaterCaption, kConfirm)});
    EXPECT_EQ(CheckedPair(), c.pair) << Name(CheckedPair());
    if (!list.empty() && c.needsList) {
      EXPECT_TRUE(fs::exists(Host(folder + list))) << "a file the check does not read is never lost";
    }
    ASSERT_NO_FATAL_FAILURE(LaterUpdateCompletes());
  }
}

// A start that could not finish a journal's rollback leaves the journal and
// the old copy it could not put back. When that copy is of a file the check
// does not read, the installation passes and the player may update again:
// that switch begins nothing, so that the copy stays for the next start.
TEST_F(RecoveryFaults, AnUnfinishedJournalKeepsItsOldCopiesFromTheNextSwitch) {
  if (!HasEntryList()) GTEST_SKIP() << "needs a target the check does not read: the added-file build has one";
  ASSERT_NO_FATAL_FAILURE(Learn());
  const Road road = Survey(sim::FileOperations());
  const std::string list = std::string(kInstallFolder) + "\\" + kUpdateBuild.entryListName;
  // Killed with every file renamed, before the commit mark.
  ASSERT_NO_FATAL_FAILURE(KilledAt(static_cast<int>(road.commit)));
  AnswerFirstQuestion();
  ASSERT_EQ(Run(), 0);
  const int listBack = OperationOf(sim::FileOperations(), "move:" + list + ".UpDate-old>");
  ASSERT_GT(listBack, 0);

  ASSERT_NO_FATAL_FAILURE(KilledAt(static_cast<int>(road.commit)));
  sim::FailFileOperation(listBack);
  sim::QueueAnswers({IDOK, IDOK, IDOK});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kUpdaterCaption, kConfirm),
                                               PerFileBox(SwitchTargetEntry(0), kWriteFailed),
                                               Box(kUpdaterCaption, kAborted)}));
  EXPECT_TRUE(fs::exists(Host(list + ".UpDate-old")));
  EXPECT_TRUE(fs::exists(Host(kJournal)));

  ASSERT_NO_FATAL_FAILURE(NextStartStopsAtItsQuestion());
  EXPECT_EQ(Installed(), Game::Old) << Name(Installed());
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  ASSERT_NO_FATAL_FAILURE(LaterUpdateCompletes());
}

// A switch that fails, then a rollback that fails too. Failing once, the
// rollback is tried again and the run ends as an ordinary abort; held fast
// by another program, the run says that the next start finishes the repair
// and ends with exit code 2, leaving the journal, and the next start does.
TEST_F(RecoveryFaults, AFailedSwitchWhoseRollbackFails) {
  ASSERT_NO_FATAL_FAILURE(Learn());
  const Road road = Survey(sim::FileOperations());
  // Each rename of the switch, and the commit mark, failing.
  std::vector<std::size_t> switchFailures;
  for (std::size_t i = 1; i <= road.ops.size(); ++i) {
    if ((Is(road.ops[i - 1], "move") && i < road.commit) || i == road.commit) switchFailures.push_back(i);
  }
  ASSERT_FALSE(switchFailures.empty());
  int rollbacksTried = 0;
  for (std::size_t f : switchFailures) {
    SCOPED_TRACE("the switch failing at " + std::to_string(f) + " " + road.ops[f - 1]);
    const std::string failedEntry = Is(road.ops[f - 1], "move") ? EntryOf(road.ops[f - 1]) : SwitchTargetEntry(0);
    // The rollback's road: each old file moved back over its target, each
    // file the switch added removed.
    ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
    sim::FailFileOperation(static_cast<int>(f));
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    ASSERT_EQ(Run(), 0);
    ASSERT_EQ(Installed(), Game::Old);
    const std::vector<std::string> ops = sim::FileOperations();
    std::vector<std::size_t> putBacks;
    for (std::size_t i = f + 1; i <= ops.size(); ++i) {
      const std::string& op = ops[i - 1];
      const bool oldBack = Is(op, "move") && op.find(".UpDate-old>") != std::string::npos;
      const bool addedGone = Is(op, "delete") && op.find(".UpDate-") == std::string::npos;
      if (oldBack || addedGone) putBacks.push_back(i);
    }
    for (std::size_t p : putBacks) {
      // The target the put-back writes: the move's destination, or the path removed.
      const std::string& op = ops[p - 1];
      const std::string held = op.substr(op.find('>') != std::string::npos ? op.find('>') + 1 : op.find(':') + 1);
      SCOPED_TRACE("its put-back " + std::to_string(p) + " " + ops[p - 1]);
      ++rollbacksTried;

      ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
      sim::FailFileOperation(static_cast<int>(f));
      sim::FailFileOperation(static_cast<int>(p));
      sim::QueueAnswers({IDOK, IDOK, IDOK});
      EXPECT_EQ(Run(), 0);
      EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kUpdaterCaption, kConfirm), PerFileBox(failedEntry, kWriteFailed),
                                                   Box(kUpdaterCaption, kAborted)}));
      EXPECT_EQ(Installed(), Game::Old) << Name(Installed());
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});

      ASSERT_NO_FATAL_FAILURE(PrepareOldInstallation());
      sim::FailFileOperation(static_cast<int>(f));
      sim::BeforeFileOperation(static_cast<int>(p), [held] { sim::HoldOpenWithoutWriteSharing(held); });
      sim::QueueAnswers({IDOK, IDOK, IDOK});
      EXPECT_EQ(Run(), 2);
      EXPECT_EQ(Boxes(), (std::vector<std::string>{Box(kUpdaterCaption, kConfirm), PerFileBox(failedEntry, kWriteFailed),
                                                   Box(kUpdaterCaption, kRepairUnfinished)}));
      EXPECT_NE(Installed(), Game::Old);
      EXPECT_TRUE(fs::exists(Host(kJournal)));
      EXPECT_FALSE(Recorded());
      ASSERT_NO_FATAL_FAILURE(NextStartStopsAtItsQuestion());
      EXPECT_EQ(Installed(), Game::Old) << Name(Installed());
      EXPECT_EQ(Leftovers(), std::vector<std::string>{});
      ASSERT_NO_FATAL_FAILURE(LaterUpdateCompletes());
    }
  }
  EXPECT_GT(rollbacksTried, 0);
}

}  // namespace
