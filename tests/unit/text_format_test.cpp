#include <gtest/gtest.h>

#include <string>

#include "base/text_format.h"

namespace {

struct FormatCase {
  const char* format;
  int number;
  const char* expected;
};

TEST(TextFormat, DirectivesOfTheMessageTexts) {
  const FormatCase cases[] = {
      {"%d", -42, "-42"},      {"%3d%%", 7, "  7%"},   {"%3d%%", 100, "100%"},
      {"%3d%%", 1000, "1000%"}, {"[0x%08X]", 3, "[0x00000003]"}, {"[0x%08X]", -1, "[0xFFFFFFFF]"},
      {"%%d", 1, "%d"},
  };
  for (const FormatCase& c : cases) {
    char out[64];
    EXPECT_TRUE(FormatText(out, sizeof out, c.format, c.number)) << c.format;
    EXPECT_STREQ(out, c.expected) << c.format;
  }
  char out[64];
  EXPECT_TRUE(FormatText(out, sizeof out, "%s\\%s", "C:\\Games", "dll\\RESOURCE.dll"));
  EXPECT_STREQ(out, "C:\\Games\\dll\\RESOURCE.dll");
}

TEST(TextFormat, CutsToTheBufferWithoutSplittingADoubleByteCharacter) {
  // "アア" is four bytes in code page 932; a 4-byte buffer holds "a" and one
  // whole character, never a lone lead byte.
  char out[4];
  EXPECT_FALSE(FormatText(out, sizeof out, "a%s", "アア"));
  EXPECT_EQ(std::string(out), std::string("a") + std::string("ア"));

  char exact[6];
  EXPECT_TRUE(FormatText(exact, sizeof exact, "a%s", "アア"));
  EXPECT_EQ(std::string(exact), "aアア");

  char tiny[1];
  EXPECT_FALSE(FormatText(tiny, sizeof tiny, "x"));
  EXPECT_STREQ(tiny, "");
}

TEST(TextFormat, FinalPathComponentSkipsTrailBytesThatLookLikeSeparators) {
  EXPECT_STREQ(FinalPathComponent("dll\\RESOURCE.dll"), "RESOURCE.dll");
  EXPECT_STREQ(FinalPathComponent("LMH.exe"), "LMH.exe");
  // "ソ" is 0x83 0x5C: its second byte is not a backslash.
  EXPECT_STREQ(FinalPathComponent("ソフト.exe"), "ソフト.exe");
}

}  // namespace
