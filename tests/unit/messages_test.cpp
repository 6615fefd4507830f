#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/messages.h"
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

}  // namespace
