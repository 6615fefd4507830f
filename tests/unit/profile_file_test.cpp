#include <cstring>

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

}  // namespace
