#include "app/run_updater.h"

#include <cstring>

#include "base/text_format.h"
#include "core/messages.h"
#include "core/screen_text.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "fingerprint/verification.h"
#include "install/source/delta_identify.h"
#include "install/source/payload_hashes.h"
#include "install/targets/switch_targets.h"
#include "install/switch/run_start.h"
#include "platform/win_values.h"
#include "profile/install_folder_check.h"
#include "profile/profile_file.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitNotFound = 1;
constexpr int kExitBroken = 2;

// The running one's title was set from the same bytes the same way.
void BringRunningUpdaterToFront() {
  char16_t title[kScreenTextUnits];
  PlatformTextToScreen(g_state.caption, title, kScreenTextUnits);
  PlatformBringWindowToFront(title);
}

int RunPhases(int showCommand) {
  if (!LocateInstallation()) {
    ShowMessage(MSG_INSTALL_NOT_FOUND, kUpdateBuild.productName);
    return kExitNotFound;
  }
  // The folder comes from a file any user may edit: before anything is
  // opened there, it must be a plain local folder with room for every path
  // the run forms.
  if (!IsUsableInstallFolder(g_state.installFolder, LongestRunTail(), kPathSize, PlatformNextChar)) {
    ShowMessage(MSG_INSTALL_DATA_BROKEN);
    return kExitBroken;
  }
  // A download damaged on its way would install damaged files as if they
  // were the update: refused before anything is opened or asked.
  if (!CarriedPayloadIntact()) {
    ShowMessage(MSG_UPDATE_FILE_DAMAGED);
    return kExitBroken;
  }
  // A run that died leaves its new files or its old ones beside the targets;
  // the check below must see one whole installation, the old or the new.
  RunStart start = PrepareRun();
  if (start == RunStart::Busy) {
    BringRunningUpdaterToFront();
    return kExitDone;
  }
  if (start == RunStart::Broken || !VerifyInstallation(g_state.installFolder)) {
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

  // Old and new files are mixed until the next start finishes the repair:
  // not an ordinary abort, and not a run to count as done.
  if (g_state.repairLeftForNextStart) {
    ShowMessage(MSG_REPAIR_UNFINISHED);
    return kExitBroken;
  }
  ShowMessage(g_state.succeeded ? MSG_UPDATE_FINISHED : MSG_UPDATE_ABORTED);
  return kExitDone;
}

}  // namespace

int RunUpdater(ModuleHandle instance, int showCommand) {
  std::memset(&g_state, 0, sizeof g_state);
  g_state.instance = instance;
  FormatText(g_state.caption, sizeof g_state.caption, kUpdateBuild.captionFormat, kUpdateBuild.productName);

  // One update of this game at a time, whatever its number: a second start
  // hands the user back to the running one instead of undoing its switch.
  // Every build of the game forms the same key.
  char guardKey[kPathSize];
  FormatText(guardKey, sizeof guardKey, "%s.%s.UpDate", kUpdateBuild.makerFolder, kUpdateBuild.productAbbreviation);
  InstanceGuard guard = nullptr;
  if (!PlatformAcquireInstanceGuard(guardKey, &guard)) {
    BringRunningUpdaterToFront();
    return kExitDone;
  }

  int exitCode = RunPhases(showCommand);
  FinishRun();
  PlatformReleaseInstanceGuard(guard);
  return exitCode;
}
