// The simulated platform's profile-file parser, not the program's: the
// program reads and writes its profile file through the system's profile
// functions. These tests keep the simulation faithful to how the system
// reads the game's profile file, so that the native tests of the profile
// logic mean something.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/profile_text.h"

namespace {

TEST(ProfileText, FindsKeysWithoutRegardToCaseAndBlanks) {
  const std::string text = "; comment\r\n[Install]\r\n  installfold = C:\\Games\\LMH  \r\n[UPDATE]\nNonActivation=\"1\"\n";
  std::string value;
  ASSERT_TRUE(ProfileTextGet(text, "INSTALL", "InstallFold", &value));
  EXPECT_EQ(value, "C:\\Games\\LMH");
  ASSERT_TRUE(ProfileTextGet(text, "UPDATE", "NonActivation", &value));
  EXPECT_EQ(value, "1");
  EXPECT_FALSE(ProfileTextGet(text, "UPDATE", "InstallFold", &value));
  EXPECT_FALSE(ProfileTextGet(text, "OTHER", "InstallFold", &value));
  EXPECT_FALSE(ProfileTextGet("", "INSTALL", "InstallFold", &value));
}

TEST(ProfileText, WritesKeepEverythingElse) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"", "[UPDATE]\r\nNonActivation=1\r\n"},
      {"[INSTALL]\r\nInstallFold=C:\\G\r\n", "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"[INSTALL]\r\nInstallFold=C:\\G", "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"[UPDATE]\r\nNonActivation=0.5\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n",
       "[UPDATE]\r\nNonActivation=1\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n"},
      {"[UPDATE]\r\nOther=x\r\n\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n",
       "[UPDATE]\r\nOther=x\r\nNonActivation=1\r\n\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProfileTextSet(c.before, "UPDATE", "NonActivation", "1"), c.after) << c.before;
}

}  // namespace
