#include "install/switch/run_start.h"

#include "base/text_format.h"
#include "core/updater_state.h"
#include "files/held_folders.h"
#include "install/switch/file_switch.h"
#include "platform/platform.h"

namespace {

// The lock file, unless something other than a plain file of one name is in
// its place. Without it the run writes nothing (RunInstallation).
RunStart TakeLock() {
  char path[kPathSize];
  if (!JoinPath(path, sizeof path, g_state.installFolder, kLockName)) return RunStart::Ready;
  FileHandle lock = nullptr;
  LockResult result = PlatformLockFile(path, &lock);
  if (result == LockResult::Busy) return RunStart::Busy;
  if (result != LockResult::Held) return RunStart::Ready;
  HandleFacts facts{};
  if (!PlatformHandleFacts(lock, &facts) || facts.links != 1 || facts.reparsePoint) {
    PlatformCloseFile(lock);
    return RunStart::Ready;
  }
  g_state.runLock = lock;
  return RunStart::Ready;
}

}  // namespace

RunStart PrepareRun() {
  if (HoldInstallFolder() != HoldResult::Held) return RunStart::Broken;
  RunStart locked = TakeLock();
  if (locked != RunStart::Ready) return locked;
  for (int i = 0; i < SwitchTargetCount(true); ++i) {
    HoldResult held = HoldFoldersOf(SwitchTargetEntry(i));
    if (held == HoldResult::Redirected || held == HoldResult::Failed) return RunStart::Broken;
  }
  // Without the lock another run may be in the middle of its switch.
  if (g_state.runLock != nullptr && !RecoverLeftovers()) return RunStart::Broken;
  return RunStart::Ready;
}

void FinishRun() { ReleaseRunFolders(); }
