#include <cstring>

#include "core/updater_state.h"
#include "install/run/entry_list_merge.h"
#include "install/run/entry_list_text.h"
#include "install/switch/run_start.h"
#include "tests/unit/sim_fixture.h"

namespace {

TEST(LineLength, EachTerminator) {
  EXPECT_EQ(LineLength("ab\r\nc"), 4u);
  EXPECT_EQ(LineLength("ab\rc"), 3u);
  EXPECT_EQ(LineLength("ab\nc"), 3u);
  EXPECT_EQ(LineLength("abc"), 3u);
  EXPECT_EQ(LineLength(""), 0u);
}

// The file operations the run's start made before the merge's own.
int g_startOperations = 0;
int MergeOperation(int n) { return g_startOperations + n; }

class EntryListMerge : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Fresh();
  }
  // A fresh machine with the run's folders held, as the main flow holds them.
  void Fresh() {
    ResetMachine();
    std::memset(&g_state, 0, sizeof g_state);
    g_state.instance = sim::OwnModule();
    std::strcpy(g_state.installFolder, kInstall);
    fs::create_directories(Host(kInstall));
    ASSERT_EQ(PrepareRun(), RunStart::Ready);
    g_startOperations = static_cast<int>(sim::FileOperations().size());
    held_ = sim::LiveFiles();
  }
  void TearDown() override {
    FinishRun();
    SimTest::TearDown();
  }
  int held_ = 0;
  void CarryList(const std::string& list) {
    sim::AddOwnResource(ResourceType::Payload, "LIST.TXT", std::vector<uint8_t>(list.begin(), list.end()));
  }
  fs::path Target() { return Host(std::string(kInstall) + "\\list.txt"); }
  // The merged text waits beside the target until the run switches it in.
  fs::path NewFile() { return Host(std::string(kInstall) + "\\list.txt.UpDate-new"); }
  int Merge(const char* name, bool expectWritten) {
    bool written = !expectWritten;
    int code = MergeEntryList(name, &written);
    EXPECT_EQ(written, expectWritten) << name;
    return code;
  }
};

TEST_F(EntryListMerge, MergesAsTheListSays) {
  const std::string z(1, '\0');
  const struct {
    const char* what;
    std::string list;
    std::string target;
    std::string after;
  } cases[] = {
      {"new entries first, then the old text, then zeros to the list's size", "a;\r\nb;\r\n", "b;\n",
       "a;\nb;\n" + std::string(5, '\0')},
      {"an entry inside a longer line is present", "ab;\r\n", "xaby;\n", "xaby;\n" + std::string(5, '\0')},
      {"a blank line adds nothing", "\r\n\r\na;\n", "", "a;\n" + std::string(4, '\0')},
      {"an entry twice in the list is added twice", "a;\na;\n", "", "a;\na;\n"},
      {"a later merge reads the old text only up to its first zero", "a;\n", "a;\n" + z + z + z,
       "a;\n" + std::string(6, '\0')},
      {"a last line without terminator", "a;\nb;", "", "a;\nb;\n"},
      {"lines without ';' run into the next lines; the merged text is kept whole", "a\nb\nc", "",
       "a\nb\nc;\nb\nc;\nc;\n"},
      {"an entry longer than the entry buffer is skipped, the rest merged",
       std::string(1100, 'x') + ";\ny;\n", "", "y;\n" + std::string(1102, '\0')},
      {"an entry of 1,023 bytes fills the entry buffer and is added", std::string(1023, 'x') + ";\n", "",
       std::string(1023, 'x') + ";\n"},
      {"an entry of 1,024 bytes does not fit and is skipped", std::string(1024, 'x') + ";\ny;\n", "",
       "y;\n" + std::string(1026, '\0')},
  };
  for (const auto& c : cases) {
    Fresh();
    CarryList(c.list);
    WriteBytes(Target(), c.target);
    EXPECT_EQ(Merge("list.txt", true), MERGE_OK) << c.what;
    EXPECT_EQ(ReadText(NewFile()), c.after) << c.what;
    EXPECT_EQ(ReadText(Target()), c.target) << c.what;
  }
}

TEST_F(EntryListMerge, NothingToMerge) {
  EXPECT_EQ(Merge("", false), MERGE_OK);  // this build: no list at all
  EXPECT_EQ(Merge("list.txt", false), MERGE_OK);  // no list resource
  EXPECT_FALSE(fs::exists(Target()));
  EXPECT_FALSE(fs::exists(NewFile()));
}

TEST_F(EntryListMerge, FailuresLeaveTheTargetAlone) {
  const std::string original = "b;\n";
  const struct {
    const char* what;
    std::function<void(const std::string&)> fault;
    int code;
    bool written;
  } cases[] = {
      {"list unloadable", [](const std::string&) { sim::MakeOwnResourceUnloadable(ResourceType::Payload, "list.txt"); },
       MERGE_LIST_NOT_LOADED, false},
      {"no memory for the list", [](const std::string&) { sim::FailAllocationsFrom(1); }, MERGE_NO_MEMORY_LIST,
       false},
      {"target unreadable", [](const std::string& t) { sim::FailReads(t); }, MERGE_TARGET_UNREADABLE, false},
      {"no memory for the target", [](const std::string&) { sim::FailAllocationsFrom(2); }, MERGE_NO_MEMORY_TARGET,
       false},
      {"no memory for the merged text", [](const std::string&) { sim::FailAllocationsFrom(3); },
       MERGE_NO_MEMORY_MERGED, false},
      // Operation 1 checks the target's folder, 2 opens the target, 3 checks
      // the folder again, 4 creates the new file beside the target.
      {"folder not checkable for the read", [](const std::string&) { sim::FailFileOperation(MergeOperation(1)); },
       MERGE_TARGET_UNREADABLE, false},
      {"target not openable", [](const std::string&) { sim::FailFileOperation(MergeOperation(2)); },
       MERGE_TARGET_UNREADABLE, false},
      {"folder not checkable", [](const std::string&) { sim::FailFileOperation(MergeOperation(3)); },
       MERGE_TARGET_UNWRITABLE, false},
      {"new file not creatable", [](const std::string&) { sim::FailFileOperation(MergeOperation(4)); },
       MERGE_TARGET_UNWRITABLE, false},
      {"new file not written", [](const std::string&) { sim::FailFileOperation(MergeOperation(5)); },
       MERGE_TARGET_UNWRITABLE, true},
      {"new file not flushed", [](const std::string&) { sim::FailFileOperation(MergeOperation(6)); },
       MERGE_TARGET_UNWRITABLE, true},
      {"write reports more than it was given",
       [](const std::string& t) { sim::OverReportWrites(t + ".UpDate-new"); }, MERGE_TARGET_UNWRITABLE, true},
  };
  const std::string target = std::string(kInstall) + "\\list.txt";
  for (const auto& c : cases) {
    Fresh();
    CarryList("a;\r\n");
    WriteBytes(Target(), original);
    c.fault(target);
    EXPECT_EQ(Merge("list.txt", c.written), c.code) << c.what;
    EXPECT_EQ(ReadText(Target()), original) << c.what;
    EXPECT_EQ(sim::LiveAllocations(), 0) << c.what;
    EXPECT_EQ(sim::LiveFiles(), held_) << c.what;
  }
  Fresh();
  CarryList("a;\r\n");
  fs::remove(Target());
  EXPECT_EQ(Merge("list.txt", false), MERGE_TARGET_UNREADABLE);
  EXPECT_FALSE(fs::exists(Target()));
}

}  // namespace
