#pragma once
// The installation run as the main flow starts it: the folders and the lock
// taken first, then the progress window created and sent its start message.
#include <gtest/gtest.h>

#include "core/updater_state.h"
#include "install/switch/run_start.h"
#include "platform/platform.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

inline void RunInProgressWindow() {
  ASSERT_EQ(PrepareRun(), RunStart::Ready);
  g_state.progressWindow = PlatformCreateDialog(g_state.instance, IDD_UPDATE, ProgressDialogProc);
  ASSERT_NE(g_state.progressWindow, nullptr);
  PlatformSendMessage(g_state.progressWindow, UWM_START_UPDATE, 0, 0);
  FinishRun();
}
