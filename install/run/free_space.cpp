#include "install/run/free_space.h"

#include "core/messages.h"
#include "core/updater_state.h"
#include "platform/platform.h"

bool CheckFreeSpace(uint64_t neededBytes) {
  char drive[3] = {g_state.installFolder[0], 0, 0};
  if (drive[0] != '\0') drive[1] = g_state.installFolder[1];
  if (drive[1] != ':') {
    ShowMessage(MSG_BAD_INSTALL_PATH, g_state.installFolder);
    return false;
  }

  uint64_t totalBytes = 0;
  uint64_t freeBytes = 0;
  // Without an answer about the drive nothing is written: a half-written
  // update is worse than none.
  if (!PlatformGetDiskSpace(drive, &totalBytes, &freeBytes)) {
    ShowMessage(MSG_DISK_FULL, g_state.installFolder, 0, 0, static_cast<int>((neededBytes >> 20) + 1));
    return false;
  }

  const uint64_t freeMiB = freeBytes >> 20;
  const uint64_t totalMiB = totalBytes >> 20;
  const uint64_t neededMiB = neededBytes >> 20;
  if (freeMiB >= neededMiB) return true;

  ShowMessage(MSG_DISK_FULL, g_state.installFolder, static_cast<int>(freeMiB), static_cast<int>(totalMiB),
              static_cast<int>(neededMiB + 1));
  return false;
}
