// Shows the message for an install folder whose name is not code page 932
// (a profile file written on a system set to another code page) through
// UpDate.exe's own messages and Win32 backend, so that the end-to-end tests
// can read the box the player would see.
//   text_fallback_probe.exe
// The folder is "C:\Spiele\Grün" as code page 1252 writes it: 0xFC starts a
// two-byte character in code page 932 that "n" cannot end.
#include "base/text_format.h"
#include "core/messages.h"
#include "core/update_build.h"
#include "core/updater_state.h"

int main() {
  // The caption as the updater forms it at its start.
  FormatText(g_state.caption, sizeof g_state.caption, kUpdateBuild.captionFormat, kUpdateBuild.productName);
  ShowMessage(MSG_BAD_INSTALL_PATH, "C:\\Spiele\\Gr\xFCn");
  return 0;
}
