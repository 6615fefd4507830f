// The switch journal's text: the only form a reading trusts, and every
// journal cut short reads as none.
#include "install/switch/switch_journal.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr std::size_t kLongest = 200;

const std::string kWhole = std::string(kJournalHead) + "+ LMH.exe\r\n+ dll\\RESOURCE.dll\r\n- data\\new_1.dat\r\n.\r\n";

JournalState Read(const std::string& text) { return ReadJournal(text.data(), text.size(), kLongest); }

TEST(SwitchJournal, WrittenLinesReadBack) {
  char text[256] = "";
  ASSERT_TRUE(AppendJournalLine(text, sizeof text, "LMH.exe", true));
  ASSERT_TRUE(AppendJournalLine(text, sizeof text, "dll\\RESOURCE.dll", true));
  ASSERT_TRUE(AppendJournalLine(text, sizeof text, "data\\new_1.dat", false));
  EXPECT_EQ(std::string(kJournalHead) + text + kJournalEnd, kWhole);
  char exact[12] = "";  // "+ LMH.exe\r\n" and its terminator
  EXPECT_TRUE(AppendJournalLine(exact, sizeof exact, "LMH.exe", true));
  char small[11] = "";
  EXPECT_FALSE(AppendJournalLine(small, sizeof small, "LMH.exe", true));

  ASSERT_EQ(Read(kWhole), JournalState::Uncommitted);
  const struct {
    const char* entry;
    bool existed;
  } expected[] = {{"LMH.exe", true}, {"dll\\RESOURCE.dll", true}, {"data\\new_1.dat", false}};
  char entry[kLongest + 1];
  bool existed = false;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(JournalTarget(kWhole.data(), kWhole.size(), i, entry, sizeof entry, &existed)) << i;
    EXPECT_STREQ(entry, expected[i].entry);
    EXPECT_EQ(existed, expected[i].existed);
  }
  EXPECT_FALSE(JournalTarget(kWhole.data(), kWhole.size(), 3, entry, sizeof entry, &existed));
}

TEST(SwitchJournal, CommittedOnlyByTheWholeMark) {
  EXPECT_EQ(Read(kWhole + "C"), JournalState::Committed);
  EXPECT_EQ(Read(kWhole + "c"), JournalState::Void);
  EXPECT_EQ(Read(kWhole + "CC"), JournalState::Void);
  EXPECT_EQ(Read(kWhole + "C\r\n"), JournalState::Void);
  // Every journal cut short, at any byte of its writes, reads as none.
  for (std::size_t n = 0; n < kWhole.size(); ++n) EXPECT_EQ(Read(kWhole.substr(0, n)), JournalState::Void) << n;
}

TEST(SwitchJournal, AnEntryOutsideThePayloadFormVoidsTheWholeJournal) {
  const std::string head = kJournalHead;
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"no targets", head + ".\r\n"},
      {"another head", "UpDate switch journal 2\r\n+ LMH.exe\r\n.\r\n"},
      {"a parent folder", head + "+ ..\\LMH.exe\r\n.\r\n"},
      {"a component of one dot", head + "+ dll\\.\\x.dll\r\n.\r\n"},
      {"a name ending in a dot", head + "+ LMH.exe.\r\n.\r\n"},
      {"an absolute path", head + "+ C:\\Windows\\system32\\x.dll\r\n.\r\n"},
      {"a rooted path", head + "+ \\Windows\\x.dll\r\n.\r\n"},
      {"a UNC path", head + "+ \\\\server\\share\\x\r\n.\r\n"},
      {"two separators", head + "+ dll\\\\x.dll\r\n.\r\n"},
      {"a trailing separator", head + "+ dll\\\r\n.\r\n"},
      {"a forward slash", head + "+ dll/x.dll\r\n.\r\n"},
      {"a space", head + "+ my file.dat\r\n.\r\n"},
      {"a stream name", head + "+ LMH.exe:evil\r\n.\r\n"},
      {"an empty entry", head + "+ \r\n.\r\n"},
      {"no marker", head + "LMH.exe\r\n.\r\n"},
      {"a bare line feed", head + "+ LMH.exe\n.\r\n"},
      {"a NUL inside", head + std::string("+ LMH\0.exe\r\n.\r\n", 15)},
      {"longer than the longest entry", head + "+ " + std::string(kLongest + 1, 'a') + "\r\n.\r\n"},
      {"one bad entry among good ones", head + "+ LMH.exe\r\n- ..\\..\\x\r\n.\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.text), JournalState::Void) << c.what;
  EXPECT_EQ(Read(head + "+ " + std::string(kLongest, 'a') + "\r\n.\r\n"), JournalState::Uncommitted);
}

}  // namespace
