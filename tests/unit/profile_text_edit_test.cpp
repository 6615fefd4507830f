// The program's own edit of the update record's key, which must leave the
// bytes the system's WritePrivateProfileStringA leaves. Each "after" below
// is what that function made of the same "before" under Wine; the
// end-to-end test test_profile_record.py holds the built program to the
// function itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "profile/profile_text_edit.h"

namespace {

struct Edited {
  ProfileEdit result;
  std::string text;
};

Edited Edit(const std::string& before, const char* value = "1") {
  const char* section = "UPDATE";
  const char* key = "NonActivation";
  std::vector<char> out(before.size() + ProfileEditGrowth(section, key, value));
  std::size_t size = 0;
  ProfileEdit result = EditProfileText(before.data(), before.size(), section, key, value, out.data(), out.size(), &size);
  return {result, std::string(out.data(), size)};
}

TEST(ProfileTextEdit, LeavesTheBytesTheSystemLeaves) {
  const struct {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"section absent", "[INSTALL]\r\nInstallFold=C:\\G\r\n",
       "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"section absent, no final line break", "[INSTALL]\r\nInstallFold=C:\\G",
       "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"empty file", "", "[UPDATE]\r\nNonActivation=1\r\n"},
      {"key present, last", "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=0\r\n",
       "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"key present, first", "[UPDATE]\r\nNonActivation=0\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n",
       "[UPDATE]\r\nNonActivation=1\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n"},
      {"key present, no final line break", "[UPDATE]\r\nNonActivation=0", "[UPDATE]\r\nNonActivation=1\r\n"},
      {"key present, a longer value replaced by a shorter", "[UPDATE]\r\nNonActivation=123\r\n",
       "[UPDATE]\r\nNonActivation=1\r\n"},
      {"key present, a quoted value is another value", "[UPDATE]\r\nNonActivation=\"1\"\r\n",
       "[UPDATE]\r\nNonActivation=1\r\n"},
      {"key present, spelled as the file spells it", "[update]\r\nnonactivation=0\r\n", "[update]\r\nnonactivation=1\r\n"},
      {"key present without '='", "[UPDATE]\r\nNonActivation\r\nX=2\r\n", "[UPDATE]\r\nNonActivation=1\r\nX=2\r\n"},
      {"key absent, before the next section", "[UPDATE]\r\nOther=x\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n",
       "[UPDATE]\r\nOther=x\r\nNonActivation=1\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n"},
      {"key absent, no final line break further on", "[UPDATE]\r\nOther=x\r\n[INSTALL]\r\nInstallFold=C:\\G",
       "[UPDATE]\r\nOther=x\r\nNonActivation=1\r\n[INSTALL]\r\nInstallFold=C:\\G\r\n"},
      {"key absent, an empty section last", "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\n",
       "[INSTALL]\r\nInstallFold=C:\\G\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"key absent, the section's header without a line break", "[UPDATE]", "[UPDATE]\r\nNonActivation=1\r\n"},
      {"key absent, after comments and lines without '='", "[UPDATE]\r\n;c\r\nnoequals\r\n",
       "[UPDATE]\r\n;c\r\nnoequals\r\nNonActivation=1\r\n"},
      {"the first section of the name", "[UPDATE]\r\nX=1\r\n[A]\r\n[UPDATE]\r\nNonActivation=0\r\n",
       "[UPDATE]\r\nX=1\r\nNonActivation=1\r\n[A]\r\n[UPDATE]\r\nNonActivation=0\r\n"},
      {"a header without ']' is no section", "[UPDATE\r\nNonActivation=0\r\n",
       "[UPDATE\r\nNonActivation=0\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"lines before the first section", "x=1\r\n[UPDATE]\r\n", "x=1\r\n[UPDATE]\r\nNonActivation=1\r\n"},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF[UPDATE]\r\nNonActivation=0\r\n",
       "\xEF\xBB\xBF[UPDATE]\r\nNonActivation=1\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Edited edited = Edit(c.before);
    EXPECT_EQ(edited.result, ProfileEdit::Edited);
    EXPECT_EQ(edited.text, c.after);
    // Once edited, the text holds the value: the system writes nothing more.
    EXPECT_EQ(Edit(c.after).result, ProfileEdit::Unchanged);
  }
  EXPECT_EQ(Edit("[UPDATE]\r\nNonActivation=0\r\n", "12").text, "[UPDATE]\r\nNonActivation=12\r\n");
}

TEST(ProfileTextEdit, AValueAlreadyThereChangesNothing) {
  for (const char* before : {"[UPDATE]\r\nNonActivation=1\r\n", "[UPDATE]\r\n NonActivation = 1 \r\n",
                             "[INSTALL]\r\nInstallFold=C:\\G\r\n[update]\r\nNONACTIVATION=1"}) {
    SCOPED_TRACE(before);
    EXPECT_EQ(Edit(before).result, ProfileEdit::Unchanged);
  }
}

TEST(ProfileTextEdit, WhatItCannotEditItLeavesAlone) {
  // A UTF-16 file, either byte order: bytes added here would break it.
  EXPECT_EQ(Edit(std::string("\xFF\xFE[\0U\0]\0", 8)).result, ProfileEdit::NotEditable);
  EXPECT_EQ(Edit(std::string("\xFE\xFF\0[\0U\0]", 8)).result, ProfileEdit::NotEditable);
  // Out one byte short of the edited text: nothing is written past it.
  const std::string before = "[UPDATE]\r\nNonActivation=0";
  const std::string after = "[UPDATE]\r\nNonActivation=1\r\n";
  std::vector<char> out(after.size() + 1, '#');
  std::size_t size = 99;
  EXPECT_EQ(EditProfileText(before.data(), before.size(), "UPDATE", "NonActivation", "1", out.data(), after.size() - 1,
                            &size),
            ProfileEdit::NotEditable);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(out[after.size() - 1], '#');
  EXPECT_EQ(EditProfileText(before.data(), before.size(), "UPDATE", "NonActivation", "1", out.data(), after.size(),
                            &size),
            ProfileEdit::Edited);
  EXPECT_EQ(std::string(out.data(), size), after);
}

// The room the record's writer allocates is always enough.
TEST(ProfileTextEdit, NeverGrowsByMoreThanItSays) {
  const char* section = "UPDATE";
  const char* key = "NonActivation";
  const char* value = "12345";
  for (const std::string before : {"", "[UPDATE]", "[UPDATE]\r\nNonActivation", "[UPDATE]\r\nX=1",
                                   "[INSTALL]\r\nInstallFold=C:\\G", "\xEF\xBB\xBF", "\xEF\xBB\xBFx"}) {
    SCOPED_TRACE(before);
    const std::size_t room = before.size() + ProfileEditGrowth(section, key, value);
    std::vector<char> out(room);
    std::size_t size = 0;
    EXPECT_EQ(EditProfileText(before.data(), before.size(), section, key, value, out.data(), room, &size),
              ProfileEdit::Edited);
  }
}

}  // namespace
