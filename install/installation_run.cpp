#include "install/installation_run.h"

#include <cstdint>

#include "app/messages.h"
#include "app/screen_text.h"
#include "app/text_format.h"
#include "app/update_build.h"
#include "app/updater_state.h"
#include "install/entry_list_merge.h"
#include "install/free_space.h"
#include "install/payload.h"
#include "platform/platform.h"
#include "ui/resource_ids.h"

namespace {

// One write never exceeds this, so the window is refreshed often enough.
constexpr uint32_t kChunkLimit = 0xFFFE;

// The progress window's two controls that count up during the run.
struct ProgressControls {
  WindowHandle percentText;
  WindowHandle progressBar;
};

void ShowProgress(const ProgressControls& controls, int percent) {
  char text[16];
  FormatText(text, sizeof text, "%3d%%", percent);
  SetScreenText(controls.percentText, text);
  PlatformSetProgressPosition(controls.progressBar, percent);
}

// Writes one payload over its target; shows the failure's message itself.
bool WritePayloadFile(const char* entry, const ProgressControls& controls, uint32_t total, uint32_t* runDone) {
  Payload payload{};
  PayloadError error = PayloadError::None;
  if (!FindPayload(FinalPathComponent(entry), &payload, &error)) {
    ShowMessage(error == PayloadError::NotLoaded ? MSG_WRITE_NOT_LOADED : MSG_WRITE_NO_PAYLOAD, entry);
    return false;
  }

  char target[kPathSize];
  FileHandle file = nullptr;
  // A target path that does not fit cannot be created either.
  if (FormatText(target, sizeof target, "%s\\%s", g_state.installFolder, entry)) {
    file = PlatformOpenFile(target, FileMode::WriteCreateAlways);
  }
  if (file == nullptr) {
    ShowMessage(MSG_WRITE_CREATE_FAILED, entry);
    return false;
  }

  uint32_t offset = 0;
  while (offset < payload.size) {
    uint32_t remaining = payload.size - offset;
    uint32_t piece = remaining < kChunkLimit ? remaining : kChunkLimit;
    uint32_t written = 0;
    // A write that fails or makes no progress would otherwise spin forever
    // or leave the file cut short behind a "finished" message.
    if (!PlatformWriteFile(file, payload.bytes + offset, piece, &written) || written == 0 || written > piece) {
      PlatformCloseFile(file);
      ShowMessage(MSG_WRITE_CREATE_FAILED, entry);
      return false;
    }
    offset += written;
    *runDone += written;
    ShowProgress(controls, ProgressPercent(*runDone, total));
    PlatformPumpOneMessage();
  }
  PlatformCloseFile(file);
  return true;
}

}  // namespace

int ProgressPercent(unsigned runDone, unsigned total) {
  // The old single-precision total is kept: it decides where a very large
  // run ends (99 instead of 100).
  float totalSingle = static_cast<float>(total);
  double fraction = static_cast<double>(runDone) / static_cast<double>(totalSingle);
  return static_cast<int>(fraction * 100.0);
}

bool RunInstallation() {
  const PayloadEntry* table = kUpdateBuild.payloadTable;

  uint32_t total = 0;
  for (const PayloadEntry* e = table; e->relativePath != nullptr; ++e) {
    Payload payload{};
    PayloadError error = PayloadError::None;
    if (FindPayload(FinalPathComponent(e->relativePath), &payload, &error)) total += payload.size;
  }

  if (!CheckFreeSpace(total)) return false;

  const ProgressControls controls{PlatformDialogItem(g_state.progressWindow, IDC_PERCENT),
                                   PlatformDialogItem(g_state.progressWindow, IDC_PROGRESS)};
  uint32_t runDone = 0;
  for (const PayloadEntry* e = table; e->relativePath != nullptr; ++e) {
    if (!WritePayloadFile(e->relativePath, controls, total, &runDone)) return false;
  }

  int mergeCode = MergeEntryList(kUpdateBuild.entryListName);
  if (mergeCode != MERGE_OK) {
    ShowMessage(MSG_MERGE_FAILED, static_cast<unsigned>(mergeCode));
    return false;
  }
  return true;
}
