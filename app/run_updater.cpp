#include "app/run_updater.h"

#include <cstring>

#include "base/text_format.h"
#include "core/messages.h"
#include "core/screen_text.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "fingerprint/verification.h"
#include "install/delta_identify.h"
#include "install/file_switch.h"
#include "platform/win_values.h"
#include "profile/profile_file.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitBroken = 2;

int RunPhases(int showCommand) {
  if (!LocateInstallation()) {
    ShowMessage(MSG_INSTALL_NOT_FOUND, kUpdateBuild.productName);
    return kExitNotFound;
  }
  // A run that died leaves its new files or its old ones beside the targets;
  // the check below must see one whole installation, the old or the new.
  RecoverLeftovers();
  if (!VerifyInstallation(g_state.installFolder)) {
    ShowMessage(MSG_INSTALL_DATA_BROKEN);
    return kExitBroken;
  }
  if (!IdentifyInstalledVersions()) {
    ShowMessage(MSG_UPDATE_DOES_NOT_FIT, kUpdateBuild.productName);
    return kExitBroken;
  }
  if (IsUpdateRecorded() && ShowMessage(MSG_ALREADY_UPDATED) != IDYES) return kExitDone;
  if (ShowMessage(MSG_CONFIRM_UPDATE, kUpdateBuild.productName) == IDCANCEL) return kExitDone;

  g_state.progressWindow = PlatformCreateDialog(g_state.instance, IDD_UPDATE, ProgressDialogProc);
  if (g_state.progressWindow == nullptr) {
    // Nothing would post the quit message: end here, nothing was written.
    ShowMessage(MSG_UPDATE_ABORTED);
    return kExitDone;
  }
  PlatformShowWindow(g_state.progressWindow, showCommand);
  PlatformUpdateWindow(g_state.progressWindow);
  PlatformSendMessage(g_state.progressWindow, UWM_START_UPDATE, 0, 0);
  PlatformRunMessageLoop(g_state.progressWindow);
  g_state.progressWindow = nullptr;  // destroyed by its own procedure

  ShowMessage(g_state.succeeded ? MSG_UPDATE_FINISHED : MSG_UPDATE_ABORTED);
  return kExitDone;
}

}  // namespace

int RunUpdater(ModuleHandle instance, int showCommand) {
  std::memset(&g_state, 0, sizeof g_state);
  g_state.instance = instance;
  FormatText(g_state.caption, sizeof g_state.caption, kUpdateBuild.captionFormat, kUpdateBuild.productName);

  // One update of this build at a time: a second start hands the user back
  // to the running one instead of writing the same files twice at once.
  char guardKey[kPathSize];
  FormatText(guardKey, sizeof guardKey, "%s.%s.UpDate.%s", kUpdateBuild.makerFolder,
             kUpdateBuild.productAbbreviation, kUpdateBuild.updateNumber);
  InstanceGuard guard = nullptr;
  if (!PlatformAcquireInstanceGuard(guardKey, &guard)) {
    // The running one's title was set from the same bytes the same way.
    char16_t title[kScreenTextUnits];
    PlatformTextToScreen(g_state.caption, title, kScreenTextUnits);
    PlatformBringWindowToFront(title);
    return kExitDone;
  }

  int exitCode = RunPhases(showCommand);
  PlatformReleaseInstanceGuard(guard);
  return exitCode;
}
