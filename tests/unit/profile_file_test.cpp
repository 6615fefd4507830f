#include <cstring>
#include <functional>
#include <string>

#include "core/updater_state.h"
#include "profile/profile_file.h"
#include "tests/unit/sim_fixture.h"

namespace {

class ProfileFile : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    std::memset(&g_state, 0, sizeof g_state);
  }
};

TEST_F(ProfileFile, LocatesTheInstallFolder) {
  WriteInstalledProfile();
  ASSERT_TRUE(LocateInstallation());
  EXPECT_STREQ(g_state.installFolder, kInstall);
  EXPECT_STREQ(g_state.appDataFolder, kAppData);
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ProfileFile, MissingKeyGivesStar) {
  WriteProfile("[INSTALL]\r\nOther=1\r\n");
  ASSERT_TRUE(LocateInstallation());
  EXPECT_STREQ(g_state.installFolder, "*");
}

TEST_F(ProfileFile, NoProfileOrADirectoryInItsPlaceFailsSilently) {
  EXPECT_FALSE(LocateInstallation());
  fs::create_directories(ProfilePath());
  EXPECT_FALSE(LocateInstallation());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ProfileFile, FallsBackToTheCommonAppDataFolder) {
  sim::SetSpecialFolder(SpecialFolder::UserAppData, "");
  sim::SetSpecialFolder(SpecialFolder::CommonAppData, kAppData);
  WriteInstalledProfile();
  ASSERT_TRUE(LocateInstallation());
  EXPECT_STREQ(g_state.installFolder, kInstall);
}

TEST_F(ProfileFile, NoAppDataFolderAtAllTellsTheUser) {
  sim::SetSpecialFolder(SpecialFolder::UserAppData, "");
  EXPECT_FALSE(LocateInstallation());
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "AppDataフォルダが見つかりませんでした");
}

TEST_F(ProfileFile, AnAppDataFolderTooLongForTheProfilePathFindsNothing) {
  std::string longFolder = std::string(kAppData) + "\\" + std::string(215, 'a');
  sim::SetSpecialFolder(SpecialFolder::UserAppData, longFolder);
  ASSERT_LT(longFolder.size(), kPathSize);  // the folder itself fits, the profile path does not
  EXPECT_FALSE(LocateInstallation());
  EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(ProfileFile, WhenTheUpdateIsAlreadyRecorded) {
  const struct {
    const char* profile;
    bool ask;
  } cases[] = {
      {"[INSTALL]\r\nInstallFold=C:\\G\r\n", false},
      {"[UPDATE]\r\nNonActivation=1\r\n", true},
      {"[UPDATE]\r\nNonActivation=1.0\r\n", true},
      {"[UPDATE]\r\nNonActivation= +1e0xyz\r\n", true},
      {"[UPDATE]\r\nNonActivation=2\r\n", true},     // a later update is on record
      {"[UPDATE]\r\nNonActivation=0.5\r\n", false},  // an older one: this update is needed
      {"[UPDATE]\r\nNonActivation=abc\r\n", false},  // no number reads as 0
      {"[UPDATE]\r\nNonActivation=0x1\r\n", false},  // only decimal numbers count
      {"[UPDATE]\r\nNonActivation=*1\r\n", false},
  };
  g_state.appDataFolder[0] = 0;
  std::strcpy(g_state.appDataFolder, kAppData);
  for (const auto& c : cases) {
    WriteProfile(c.profile);
    EXPECT_EQ(IsUpdateRecorded(), c.ask) << c.profile;
  }
}

TEST_F(ProfileFile, RecordUpdateLeavesTheInstallSectionAlone) {
  WriteProfile("[INSTALL]\r\nInstallFold=C:\\Games\\LMH\r\n[UPDATE]\r\nNonActivation=0\r\n");
  std::strcpy(g_state.appDataFolder, kAppData);
  EXPECT_TRUE(RecordUpdate());
  EXPECT_EQ(ReadText(ProfilePath()), "[INSTALL]\r\nInstallFold=C:\\Games\\LMH\r\n[UPDATE]\r\nNonActivation=1\r\n");
}

// The record rewrites the file through the handle it read it by: a text
// that shrinks is cut where the edit ends, one that already holds the value
// is not written at all, and a file the edit cannot be trusted with is left
// as it was.
TEST_F(ProfileFile, TheRecordRewritesTheFileItReadAndOnlyThat) {
  std::strcpy(g_state.appDataFolder, kAppData);
  const std::string large = "[INSTALL]\r\nInstallFold=C:\\G\r\n;" + std::string(1u << 20, 'x') + "\r\n";
  const struct {
    const char* what;
    std::string before;
    std::function<void()> fault;
    std::string after;  // empty: as it was, and never written
  } cases[] = {
      {"a longer value", "[UPDATE]\r\nNonActivation=1.25\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n", nullptr,
       "[UPDATE]\r\nNonActivation=1\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n"},
      {"no section yet", "[INSTALL]\r\nInstallFold=C:\\G", nullptr,
       "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"the value already there", "[UPDATE]\r\nNonActivation=1\r\n", nullptr, ""},
      {"a UTF-16 file", std::string("\xFF\xFE[\0U\0]\0", 8), nullptr, ""},
      {"larger than a profile file is", large, nullptr, ""},
      {"a read that fails", "[UPDATE]\r\nNonActivation=0\r\n",
       [this] { sim::FailReads(std::string(kAppData) + "\\KESTRIN\\LMH.ini"); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetMachine();
    WriteProfile(c.before);
    if (c.fault) c.fault();
    EXPECT_TRUE(RecordUpdate());
    EXPECT_EQ(ReadText(ProfilePath()), c.after.empty() ? c.before : c.after);
    EXPECT_EQ(sim::Writes().empty(), c.after.empty());
    EXPECT_EQ(sim::LiveAllocations(), 0);
    EXPECT_EQ(sim::LiveFiles(), 0);
  }

  // No profile file at all: none is made.
  ResetMachine();
  fs::remove_all(ProfilePath().parent_path());
  EXPECT_TRUE(RecordUpdate());
  EXPECT_FALSE(fs::exists(ProfilePath()));
  EXPECT_FALSE(fs::exists(ProfilePath().parent_path()));
}

}  // namespace
