#include "ui/progress_dialog.h"

#include "core/screen_text.h"
#include "core/updater_state.h"
#include "install/run/installation_run.h"
#include "profile/profile_file.h"
#include "ui/progress_view.h"
#include "ui/resource_ids.h"

intptr_t ProgressDialogProc(WindowHandle window, unsigned message, uintptr_t, intptr_t) {
  switch (message) {
    case WM_INITDIALOG:
      SetScreenText(window, g_state.caption);
      PlatformSetProgressPosition(PlatformDialogItem(window, IDC_PROGRESS), 0);
      PlatformSetSmallIcon(window, g_state.instance, IDI_UPDATE);
      PlatformRemoveCloseMenuItem(window);
      return 1;
    case WM_CLOSE:
      // Closing mid-run would leave a half-written installation.
      if (g_state.succeeded) PlatformDestroyWindow(window);
      return 1;
    case WM_DESTROY:
      PlatformPostQuitMessage(0);
      return 1;
    case WM_COMMAND:
      return 1;  // Enter and Escape must not end the dialog
    case UWM_START_UPDATE:
      BeginProgressView(window);
      if (!RunInstallation(ShowRunProgress)) {
        PlatformDestroyWindow(window);
        return 1;
      }
      // The record goes first: once the window is gone the run counts as done.
      RecordUpdate(StepDone{LetMessageThrough, nullptr});
      g_state.succeeded = true;
      PlatformSendMessage(window, WM_CLOSE, 0, 0);
      return 1;
    default:
      return 0;
  }
}
