#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text_format.h"
#include "core/messages.h"
#include "core/screen_text.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "platform/sim/platform_sim.h"
#include "platform/win_values.h"

namespace {

const char kCaption[] = "Lantern Moonharbor - Update Program";

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    std::memset(&g_state, 0, sizeof g_state);
    std::strcpy(g_state.caption, kCaption);
    g_state.progressWindow = sim::DialogWindow();
  }
  const sim::MessageBoxRecord& Last() { return sim::MessageBoxes().back(); }
};

TEST_F(Messages, CaptionStyleAndOwnerOfEachMessage) {
  const WindowHandle progress = sim::DialogWindow();
  const struct {
    MessageId id;
    const char* caption;
    unsigned style;
    WindowHandle owner;
  } cases[] = {
      {MSG_INSTALL_NOT_FOUND, kCaption, 0x30, nullptr},
      {MSG_APPDATA_NOT_FOUND, "不明なエラー", 0x20, nullptr},
      {MSG_INSTALL_DATA_BROKEN, kCaption, 0x30, nullptr},
      {MSG_ALREADY_UPDATED, kCaption, 0x24, nullptr},
      {MSG_CONFIRM_UPDATE, kCaption, 0x31, nullptr},
      {MSG_BAD_INSTALL_PATH, kCaption, 0x30, nullptr},
      {MSG_DISK_FULL, kCaption, 0x30, nullptr},
      {MSG_PAYLOAD_NOT_FOUND, kCaption, 0x30, progress},
      {MSG_PAYLOAD_NOT_LOADED, kCaption, 0x30, progress},
      {MSG_WRITE_NO_PAYLOAD, "dll\\RESOURCE.dll - Lantern Moonharbor - Update Program -", 0x30, progress},
      {MSG_WRITE_NOT_LOADED, "dll\\RESOURCE.dll - Lantern Moonharbor - Update Program -", 0x30, progress},
      {MSG_WRITE_CREATE_FAILED, "dll\\RESOURCE.dll - Lantern Moonharbor - Update Program -", 0x30, progress},
      {MSG_MERGE_FAILED, "アップデート情報の更新に失敗しました。", 0x30, progress},
      {MSG_UPDATE_FINISHED, kCaption, 0x00, nullptr},
      {MSG_UPDATE_ABORTED, kCaption, 0x30, nullptr},
      {MSG_UPDATE_DOES_NOT_FIT, kCaption, 0x30, nullptr},
      {MSG_UPDATE_FILE_DAMAGED, kCaption, 0x30, nullptr},
      {MSG_REPAIR_UNFINISHED, kCaption, 0x30, nullptr},
  };
  sim::QueueAnswers({IDYES, IDOK});
  for (const auto& c : cases) {
    if (c.id == MSG_MERGE_FAILED) {
      ShowMessage(c.id, 3u);
    } else if (c.id == MSG_DISK_FULL) {
      ShowMessage(c.id, "C:\\Games", 1, 2, 3);
    } else {
      ShowMessage(c.id, "dll\\RESOURCE.dll");  // the entry, or the one text argument
    }
    EXPECT_EQ(Last().caption, c.caption) << c.id;
    EXPECT_EQ(Last().style, c.style) << c.id;
    EXPECT_EQ(Last().owner, c.owner) << c.id;
  }
}

TEST_F(Messages, TextsAreCodePage932Bytes) {
  ShowMessage(MSG_UPDATE_FINISHED);
  // "アップデートが終了しました。"
  const unsigned char expected[] = {0x83, 0x41, 0x83, 0x62, 0x83, 0x76, 0x83, 0x66, 0x81, 0x5B, 0x83, 0x67, 0x82, 0xAA,
                                    0x8F, 0x49, 0x97, 0xB9, 0x82, 0xB5, 0x82, 0xDC, 0x82, 0xB5, 0x82, 0xBD, 0x81, 0x42};
  EXPECT_EQ(Last().text, std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST_F(Messages, FormattedArguments) {
  ShowMessage(MSG_INSTALL_NOT_FOUND, "Lantern Moonharbor");
  EXPECT_EQ(Last().text, "「Lantern Moonharbor」のインストール先の検出に失敗しました。");

  ShowMessage(MSG_MERGE_FAILED, 3u);
  EXPECT_EQ(Last().text,
            "指定されたファイルが見つかりませんでした。\nアップデートは成功しましたが、\n"
            "アップデート情報の更新に失敗しました。[0x00000003]");

  ShowMessage(MSG_DISK_FULL, "C:\\Games\\LMH", 5, 100, 7);
  EXPECT_EQ(Last().text, "インストール先の容量が足りません。\n確認して下さい。 \nC:\\Games\\LMH \n[5 / 100] \n必要容量 : 7");

  ShowMessage(MSG_UPDATE_DOES_NOT_FIT, "Lantern Moonharbor");
  EXPECT_EQ(Last().text,
            "インストールされている「Lantern Moonharbor」のバージョンには、このアップデートを適用できません。\n"
            "お使いのバージョンに対応したアップデートを入手して下さい。");

  ShowMessage(MSG_UPDATE_FILE_DAMAGED);
  EXPECT_EQ(Last().text,
            "アップデートファイルが破損しています。\nお手数ですが、アップデートファイルを再度ダウンロードして下さい。");

  ShowMessage(MSG_BAD_INSTALL_PATH, "\\\\server\\games");
  EXPECT_EQ(Last().text, "インストール先に問題があります。\n \\\\server\\games");
}

TEST_F(Messages, FreeSpaceMessagesAreCutToTheirShortBuffer) {
  std::string longFolder = "C:\\";
  for (int i = 0; i < 100; ++i) longFolder += "フォ";  // double-byte text, 400 bytes
  ShowMessage(MSG_BAD_INSTALL_PATH, longFolder.c_str());
  const std::string& text = Last().text;
  EXPECT_LE(text.size(), 254u);
  EXPECT_EQ(text.rfind("インストール先に問題があります。\n C:\\フォ", 0), 0u);
  // Cut on a character boundary: after the ASCII prefix the bytes pair up.
  std::size_t prefix = std::string("インストール先に問題があります。\n C:\\").size();
  EXPECT_EQ((text.size() - prefix) % 2, 0u);
}

// Every message, formatted with the arguments it meets in a run, reaches the
// box as UTF-16 read from code page 932, and that UTF-16 is exactly the bytes
// of the table again.
TEST_F(Messages, EveryMessageReachesTheBoxAsUtf16OfItsCodePage932Bytes) {
  const char* folder = "C:\\ゲーム\\Lantern Moonharbor";
  const char* entry = "dll\\RESOURCE.dll";
  const char* product = kUpdateBuild.productName;
  sim::QueueAnswers({IDYES, IDOK});
  for (int i = 0; i < MSG_COUNT; ++i) {
    const MessageId id = static_cast<MessageId>(i);
    const MessageSpec row = GetMessageSpec(id);
    char text[1024];
    char caption[1024];
    std::strcpy(caption, row.captionKind == CaptionKind::Fixed ? row.fixedCaption : kCaption);
    switch (id) {
      case MSG_INSTALL_NOT_FOUND:
      case MSG_CONFIRM_UPDATE:
      case MSG_UPDATE_DOES_NOT_FIT:
        ShowMessage(id, product);
        FormatText(text, row.textBufferSize, row.text, product);
        break;
      case MSG_BAD_INSTALL_PATH:
        ShowMessage(id, folder);
        FormatText(text, row.textBufferSize, row.text, folder);
        break;
      case MSG_DISK_FULL:
        ShowMessage(id, folder, 12, 40000, 35);
        FormatText(text, row.textBufferSize, row.text, folder, 12, 40000, 35);
        break;
      case MSG_MERGE_FAILED:
        ShowMessage(id, 3u);
        FormatText(text, row.textBufferSize, row.text, 3u);
        break;
      case MSG_WRITE_NO_PAYLOAD:
      case MSG_WRITE_NOT_LOADED:
      case MSG_WRITE_CREATE_FAILED:
        ShowMessage(id, entry);
        FormatText(text, row.textBufferSize, row.text);
        FormatText(caption, sizeof caption, "%s - %s -", entry, kCaption);
        break;
      default:
        ShowMessage(id);
        FormatText(text, row.textBufferSize, row.text);
        break;
    }
    const sim::MessageBoxRecord& box = Last();
    char16_t units[kScreenTextUnits];
    EXPECT_TRUE(PlatformTextToScreen(text, units, kScreenTextUnits)) << id;
    EXPECT_EQ(box.text16, units) << id;
    EXPECT_EQ(sim::To932(box.text16), text) << id;
    EXPECT_TRUE(PlatformTextToScreen(caption, units, kScreenTextUnits)) << id;
    EXPECT_EQ(box.caption16, units) << id;
    EXPECT_EQ(sim::To932(box.caption16), caption) << id;
  }
  EXPECT_EQ(sim::MessageBoxes().size(), static_cast<std::size_t>(MSG_COUNT));
}

TEST_F(Messages, TheBoxGetsTheJapaneseCharacters) {
  ShowMessage(MSG_CONFIRM_UPDATE, "Lantern Moonharbor");
  EXPECT_EQ(Last().text16,
            u"「Lantern Moonharbor」のプログラムのアップデートを行います。\n"
            u"アップデートを行う前に本体プログラムの終了を確認して下さい。");
  EXPECT_EQ(Last().caption16, u"Lantern Moonharbor - Update Program");

  ShowMessage(MSG_APPDATA_NOT_FOUND);
  EXPECT_EQ(Last().text16, u"AppDataフォルダが見つかりませんでした");
  EXPECT_EQ(Last().caption16, u"不明なエラー");

  ShowMessage(MSG_REPAIR_UNFINISHED);
  EXPECT_EQ(Last().text16,
            u"ゲームのファイルをすべて元に戻すことができませんでした。\n"
            u"もう一度アップデートを起動すると、修復が完了します。");
  EXPECT_EQ(Last().caption16, u"Lantern Moonharbor - Update Program");

  ShowMessage(MSG_WRITE_CREATE_FAILED, "dll\\リソース.dll");
  EXPECT_EQ(Last().caption16, u"dll\\リソース.dll - Lantern Moonharbor - Update Program -");
}

// A text that is not code page 932 (a folder name the profile file gave in
// another code page) reaches the box as the simulated backend's fallback
// gives it back: one unit per byte. The Win32 backend's own fallback, the
// system's code page, is shown under Wine (tests/e2e/test_code_page.py).
TEST_F(Messages, TextThatIsNot932ReachesTheBoxAsTheSimulationReadsIt) {
  const char folder[] = "C:\\Spiele\\\x81";  // a lead byte without its second byte
  char16_t units[kScreenTextUnits];
  EXPECT_FALSE(PlatformTextToScreen(folder, units, kScreenTextUnits));

  ShowMessage(MSG_BAD_INSTALL_PATH, folder);
  char text[1024];
  FormatText(text, sizeof text, "インストール先に問題があります。\n %s", folder);
  std::u16string asBytes;
  for (const char* p = text; *p != '\0'; ++p) asBytes += static_cast<char16_t>(static_cast<unsigned char>(*p));
  EXPECT_EQ(Last().text16, asBytes);
  EXPECT_EQ(Last().caption16, u"Lantern Moonharbor - Update Program");
}

}  // namespace
