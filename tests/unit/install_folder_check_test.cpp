// The install folder as the profile file gives it, walked as the system's
// code page 932 walks it.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "profile/install_folder_check.h"

namespace {

constexpr std::size_t kTail = 30;  // "\dll\RESOURCE.dll.UpDate-new" and the like

bool Usable(const std::string& folder) { return IsUsableInstallFolder(folder.c_str(), kTail, kPathSize, PlatformNextChar); }

TEST(InstallFolderCheck, OnlyPlainLocalFoldersWithRoomForTheRun) {
  // Trail bytes 0x5C and 0x7C inside double-byte characters.
  ASSERT_EQ(std::string("表")[1], '\\');
  ASSERT_EQ(std::string("ソ")[1], '\\');
  ASSERT_EQ(std::string("ポ")[1], '|');
  const std::string fits(kPathSize - 1 - kTail - 3, 'a');
  const struct {
    std::string folder;
    bool usable;
  } cases[] = {
      {"C:\\Games\\LMH", true},
      {"d:\\x", true},
      {"C:\\Games\\LMH\\", true},  // one trailing backslash, as installers write
      {"C:\\", true},
      {"C:\\ゲーム\\表", true},        // ends in a trail byte 0x5C
      {"C:\\ソフト\\ポ\\表示", true},  // trail bytes 0x5C and 0x7C mid-path
      {"C:\\Program Files (x86)\\L.M.H", true},
      {"C:\\" + fits, true},
      {"C:\\" + fits + "a", false},  // no room for the longest path the run forms
      {"C:\\" + std::string(300, 'a'), false},
      {"", false},
      {"*", false},
      {"\\\\server\\share\\LMH", false},
      {"\\\\?\\C:\\Games\\LMH", false},
      {"\\\\.\\C:\\Games\\LMH", false},
      {"\\\\?\\UNC\\server\\share", false},
      {"C:x", false},
      {"C:Games\\LMH", false},
      {"C:", false},
      {"Games\\LMH", false},
      {"\\Games\\LMH", false},
      {"1:\\Games", false},
      {"C:/Games/LMH", false},
      {"C:\\Games\\LMH.", false},
      {"C:\\Games\\LMH ", false},
      {"C:\\Games\\.\\LMH", false},
      {"C:\\Games\\..\\LMH", false},
      {"C:\\\\Games", false},
      {"C:\\Games\\\\LMH", false},
      {"C:\\Games\\LMH\\\\", false},
      {"C:\\Games\\NUL", false},
      {"C:\\Games\\com1.dir", false},
      {"C:\\Games\\a|b", false},
      {"C:\\Games\\a?b", false},
      {"C:\\Games\\a*", false},
      {"C:\\Games\\a:b", false},
      {"C:\\Games\\a\"b", false},
      {"C:\\Games\\a<b>", false},
      {"C:\\Games\\a\tb", false},
      {"C:\\ゲーム\\表.", false},  // a dot after a trail byte 0x5C still ends the name
  };
  for (const auto& c : cases) EXPECT_EQ(Usable(c.folder), c.usable) << c.folder;
}

}  // namespace
