// The simulation's cut that loses what was not made durable: what a file's
// flush and a folder's flush keep, and what the cut takes back.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/unit/sim_fixture.h"

namespace {

const char kFolder[] = "C:\\d";

std::string At(const std::string& name) { return std::string(kFolder) + "\\" + name; }

void Write(FileHandle file, const std::string& bytes) {
  uint32_t written = 0;
  EXPECT_TRUE(PlatformWriteFile(file, bytes.data(), static_cast<uint32_t>(bytes.size()), &written));
}

// Renames a file of the folder as the run does: through the folder held open.
void Move(const std::string& from, const std::string& to) {
  FileHandle folder = nullptr;
  ASSERT_EQ(PlatformOpenFolder(kFolder, &folder), FolderOpen::Opened);
  FileHandle file = PlatformOpenInFolder(folder, from.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(PlatformRenameOpened(file, folder, to.c_str(), false));
  PlatformCloseFile(file);
  PlatformCloseFile(folder);
}

class SimDurable : public SimTest {
 protected:
  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Folder() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(Host(kFolder))) {
      files[e.path().filename().string()] = ReadText(e.path());
    }
    return files;
  }
};

using Files = std::map<std::string, std::string>;

TEST_F(SimDurable, ACutKeepsOnlyWhatWasFlushed) {
  const struct {
    const char* what;
    std::function<void()> act;  // on a folder holding a = "old a" and b = "old b", both durable
    Files afterCut;
  } cases[] = {
      {"a write without a flush",
       [] {
         FileHandle f = PlatformOpenFile(At("a").c_str(), FileMode::WriteExisting);
         Write(f, "NEW");
         PlatformCloseFile(f);
       },
       {{"a", "old a"}, {"b", "old b"}}},
      {"a write flushed",
       [] {
         FileHandle f = PlatformOpenFile(At("a").c_str(), FileMode::WriteExisting);
         Write(f, "NEW");
         PlatformFlushFile(f);
         Write(f, "!");
         PlatformCloseFile(f);
       },
       {{"a", "NEW a"}, {"b", "old b"}}},
      {"a file created and flushed, its folder not",
       [] {
         FileHandle f = PlatformOpenFile(At("c").c_str(), FileMode::WriteCreateNew);
         Write(f, "c");
         PlatformFlushFile(f);
         PlatformCloseFile(f);
       },
       {{"a", "old a"}, {"b", "old b"}}},
      {"a file created, its folder flushed, its bytes not",
       [] {
         FileHandle f = PlatformOpenFile(At("c").c_str(), FileMode::WriteCreateNew);
         Write(f, "c");
         PlatformFlushFolder(kFolder);
         PlatformCloseFile(f);
       },
       {{"a", "old a"}, {"b", "old b"}, {"c", ""}}},
      {"a file created, flushed, its folder flushed",
       [] {
         FileHandle f = PlatformOpenFile(At("c").c_str(), FileMode::WriteCreateNew);
         Write(f, "c");
         PlatformFlushFile(f);
         PlatformFlushFolder(kFolder);
         PlatformCloseFile(f);
       },
       {{"a", "old a"}, {"b", "old b"}, {"c", "c"}}},
      {"renames without a folder flush",
       [] {
         Move("a", "a.old");
         Move("b", "a");
       },
       {{"a", "old a"}, {"b", "old b"}}},
      {"renames, then the folder flushed",
       [] {
         Move("a", "a.old");
         Move("b", "a");
         PlatformFlushFolder(kFolder);
       },
       {{"a", "old b"}, {"a.old", "old a"}}},
      {"a removal without a folder flush",
       [] { PlatformDeleteFile(At("b").c_str()); },
       {{"a", "old a"}, {"b", "old b"}}},
      // The file made again is another file: the cut brings the first back.
      {"a file removed and made again under its name, flushed, its folder not",
       [] {
         PlatformDeleteFile(At("a").c_str());
         FileHandle f = PlatformOpenFile(At("a").c_str(), FileMode::WriteCreateNew);
         Write(f, "another a");
         PlatformFlushFile(f);
         PlatformCloseFile(f);
       },
       {{"a", "old a"}, {"b", "old b"}}},
      {"a removal, then the folder flushed",
       [] {
         PlatformDeleteFile(At("b").c_str());
         PlatformFlushFolder(kFolder);
       },
       {{"a", "old a"}}},
      // The bytes belong to the file, whatever name it has when flushed.
      {"a file flushed under its new name",
       [] {
         Move("a", "z");
         PlatformFlushFolder(kFolder);
         FileHandle f = PlatformOpenFile(At("z").c_str(), FileMode::WriteExisting);
         Write(f, "NEW");
         PlatformFlushFile(f);
         PlatformCloseFile(f);
         Move("z", "y");
       },
       {{"b", "old b"}, {"z", "NEW a"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetMachine();
    fs::remove_all(Host(kFolder));
    WriteBytes(Host(At("a")), "old a");
    WriteBytes(Host(At("b")), "old b");
    sim::LoseUnflushedAtCut();
    c.act();
    // The cut comes with the next operation, whatever it is.
    sim::CutOffAtFileOperation(static_cast<int>(sim::FileOperations().size()) + 1);
    EXPECT_THROW(PlatformDeleteFile(At("a").c_str()), sim::ProcessGone);
    EXPECT_EQ(Folder(), c.afterCut);
  }
}

// A file rewritten in place through its handle (as the profile file is):
// its new text is kept once flushed, the old one otherwise.
TEST_F(SimDurable, AFileRewrittenInPlaceIsKeptOnlyOnceFlushed) {
  WriteBytes(Host(At("a.ini")), "[S]\r\nk=old value\r\n");
  WriteBytes(Host(At("b.ini")), "[S]\r\nk=old value\r\n");
  sim::LoseUnflushedAtCut();
  auto rewrite = [&](const char* name, bool flush) {
    FileHandle f = PlatformOpenExistingFile(At(name).c_str(), ExistingAccess::ReadWrite);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(PlatformSeekFile(f, 0));
    Write(f, "[S]\r\nk=new\r\n");
    ASSERT_TRUE(PlatformSetFileEnd(f));
    if (flush) {
      ASSERT_TRUE(PlatformFlushFile(f));
    }
    PlatformCloseFile(f);
  };
  rewrite("a.ini", true);
  rewrite("b.ini", false);
  sim::CutOffAtFileOperation(static_cast<int>(sim::FileOperations().size()) + 1);
  EXPECT_THROW(PlatformDeleteFile(At("a.ini").c_str()), sim::ProcessGone);
  EXPECT_EQ(ReadText(Host(At("a.ini"))), "[S]\r\nk=new\r\n");
  EXPECT_EQ(ReadText(Host(At("b.ini"))), "[S]\r\nk=old value\r\n");
}

// Bytes still buffered by a file the process held open are lost with it,
// and do not come back when the system closes the file after the cut.
TEST_F(SimDurable, AnOpenFileAddsNothingAfterTheCut) {
  fs::create_directories(Host(kFolder));
  sim::LoseUnflushedAtCut();
  FileHandle f = PlatformOpenFile(At("open").c_str(), FileMode::WriteCreateNew);
  ASSERT_NE(f, nullptr);
  PlatformFlushFolder(kFolder);
  Write(f, "lost");
  sim::CutOffAtFileOperation(static_cast<int>(sim::FileOperations().size()) + 1);
  EXPECT_THROW(PlatformFlushFile(f), sim::ProcessGone);
  ResetMachine();  // the system closes what the process held
  EXPECT_EQ(Folder(), (Files{{"open", ""}}));
}

// Without the call, a cut keeps everything, as it always did.
TEST_F(SimDurable, WithoutItACutKeepsEveryWrite) {
  WriteBytes(Host(At("a")), "old a");
  FileHandle f = PlatformOpenFile(At("a").c_str(), FileMode::WriteExisting);
  Write(f, "NEW");
  PlatformCloseFile(f);
  Move("a", "z");
  sim::CutOffAtFileOperation(static_cast<int>(sim::FileOperations().size()) + 1);
  EXPECT_THROW(PlatformDeleteFile(At("z").c_str()), sim::ProcessGone);
  EXPECT_EQ(Folder(), (Files{{"z", "NEW a"}}));
}

}  // namespace
