#include "core/messages.h"

#include <cstdarg>

#include "base/text_format.h"
#include "core/screen_text.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "platform/platform.h"
#include "platform/win_values.h"

namespace {

constexpr unsigned kTextSize = 1024;
// The two free-space messages are formatted into a short buffer and cut to fit it.
constexpr unsigned kDiskTextSize = 255;
constexpr unsigned kWarning = MB_OK | MB_ICONWARNING;

}  // namespace

MessageSpec GetMessageSpec(MessageId id) {
  const UpdateBuild& b = kUpdateBuild;
  switch (id) {
    case MSG_INSTALL_NOT_FOUND:
      return {id, b.textInstallNotFound, CaptionKind::Updater, nullptr, kWarning, OwnerKind::None, kTextSize};
    case MSG_APPDATA_NOT_FOUND:
      return {id, "AppDataフォルダが見つかりませんでした", CaptionKind::Fixed, "不明なエラー", MB_OK | MB_ICONQUESTION,
              OwnerKind::None, kTextSize};
    case MSG_INSTALL_DATA_BROKEN:
      return {id, b.textInstallDataBroken, CaptionKind::Updater, nullptr, kWarning, OwnerKind::None, kTextSize};
    case MSG_ALREADY_UPDATED:
      return {id, b.textAlreadyUpdated, CaptionKind::Updater, nullptr, MB_YESNO | MB_ICONQUESTION, OwnerKind::None,
              kTextSize};
    case MSG_CONFIRM_UPDATE:
      return {id, b.textConfirmUpdate, CaptionKind::Updater, nullptr, MB_OKCANCEL | MB_ICONWARNING, OwnerKind::None,
              kTextSize};
    case MSG_BAD_INSTALL_PATH:
      return {id, "インストール先に問題があります。\n %s", CaptionKind::Updater, nullptr, kWarning, OwnerKind::None,
              kDiskTextSize};
    case MSG_DISK_FULL:
      return {id, "インストール先の容量が足りません。\n確認して下さい。 \n%s \n[%d / %d] \n必要容量 : %d",
              CaptionKind::Updater, nullptr, kWarning, OwnerKind::None, kDiskTextSize};
    case MSG_PAYLOAD_NOT_FOUND:
      return {id, "アップデートに失敗しました。[0x00010001]", CaptionKind::Updater, nullptr, kWarning,
              OwnerKind::ProgressWindow, kTextSize};
    case MSG_PAYLOAD_NOT_LOADED:
      return {id, "アップデートに失敗しました。[0x00010002]", CaptionKind::Updater, nullptr, kWarning,
              OwnerKind::ProgressWindow, kTextSize};
    case MSG_WRITE_NO_PAYLOAD:
      return {id, "アップデートに失敗しました。[0x000A0001]", CaptionKind::PerFile, nullptr, kWarning,
              OwnerKind::ProgressWindow, kTextSize};
    case MSG_WRITE_NOT_LOADED:
      return {id, "アップデートに失敗しました。[0x000A0002]", CaptionKind::PerFile, nullptr, kWarning,
              OwnerKind::ProgressWindow, kTextSize};
    case MSG_WRITE_CREATE_FAILED:
      return {id, "アップデートに失敗しました。[0x000A0003]", CaptionKind::PerFile, nullptr, kWarning,
              OwnerKind::ProgressWindow, kTextSize};
    case MSG_MERGE_FAILED:
      return {id,
              "指定されたファイルが見つかりませんでした。\nアップデートは成功しましたが、\n"
              "アップデート情報の更新に失敗しました。[0x%08X]",
              CaptionKind::Fixed, b.captionMergeFailed, kWarning, OwnerKind::ProgressWindow, kTextSize};
    case MSG_UPDATE_FINISHED:
      return {id, b.textUpdateFinished, CaptionKind::Updater, nullptr, MB_OK, OwnerKind::None, kTextSize};
    case MSG_UPDATE_DOES_NOT_FIT:
      return {id, b.textUpdateDoesNotFit, CaptionKind::Updater, nullptr, kWarning, OwnerKind::None, kTextSize};
    case MSG_UPDATE_FILE_DAMAGED:
      return {id, b.textUpdateFileDamaged, CaptionKind::Updater, nullptr, kWarning, OwnerKind::None, kTextSize};
    case MSG_REPAIR_UNFINISHED:
      return {id, b.textRepairUnfinished, CaptionKind::Updater, nullptr, kWarning, OwnerKind::None, kTextSize};
    case MSG_UPDATE_ABORTED:
    case MSG_COUNT:
      break;
  }
  return {MSG_UPDATE_ABORTED, b.textUpdateAborted, CaptionKind::Updater, nullptr, kWarning, OwnerKind::None,
          kTextSize};
}

int ShowMessage(MessageId id, ...) {
  MessageSpec row = GetMessageSpec(id);
  va_list args;
  va_start(args, id);

  char perFileCaption[1024];
  const char* caption = g_state.caption;
  if (row.captionKind == CaptionKind::PerFile) {
    const char* entry = va_arg(args, const char*);
    FormatText(perFileCaption, sizeof perFileCaption, "%s - %s -", entry, g_state.caption);
    caption = perFileCaption;
  } else if (row.captionKind == CaptionKind::Fixed) {
    caption = row.fixedCaption;
  }

  char text[kTextSize];
  FormatTextV(text, row.textBufferSize, row.text, args);
  va_end(args);

  char16_t shownText[kScreenTextUnits];
  char16_t shownCaption[kScreenTextUnits];
  PlatformTextToScreen(text, shownText, kScreenTextUnits);
  PlatformTextToScreen(caption, shownCaption, kScreenTextUnits);

  WindowHandle owner = row.owner == OwnerKind::ProgressWindow ? g_state.progressWindow : nullptr;
  return PlatformMessageBox(owner, shownText, shownCaption, row.style);
}
