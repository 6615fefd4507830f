#include "install/installation_run.h"

#include <cstdint>

#include "app/messages.h"
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
// Between two changes of the percentage, pending window messages are let
// through at most this often: looking for one costs about as much as
// writing a piece, so doing it after every piece of a large payload would
// double the time the update takes, and the window is repainted well within
// this anyway.
constexpr uint32_t kPumpIntervalMs = 10;

struct ProgressState {
  uint32_t total;    // bytes of the whole run
  uint32_t done;     // bytes written so far in this run
  int shown;         // the percentage on screen; -1 while the text is empty
  uint32_t lastPump; // tick of the last look for a pending message
};

// After each piece written: shows the percentage when it differs from what
// the window already shows (setting the same text again changes nothing on
// screen but costs a repaint), and lets one pending message through when
// the percentage changed or the last look is long enough ago.
void AfterPiece(ProgressState* progress, uint32_t written) {
  progress->done += written;
  int percent = ProgressPercent(progress->done, progress->total);
  bool changed = percent != progress->shown;
  if (changed) {
    progress->shown = percent;
    char text[16];
    FormatText(text, sizeof text, "%3d%%", percent);
    PlatformSetDlgItemText(g_state.progressWindow, IDC_PERCENT, text);
    PlatformSetProgressPosition(g_state.progressWindow, IDC_PROGRESS, percent);
  }
  uint32_t now = PlatformTickCount();
  if (changed || now - progress->lastPump >= kPumpIntervalMs) {
    progress->lastPump = now;
    PlatformPumpOneMessage();
  }
}

// Writes one payload over its target; shows the failure's message itself.
bool WritePayloadFile(const char* entry, ProgressState* progress) {
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
    AfterPiece(progress, written);
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

  ProgressState progress{total, 0, -1, PlatformTickCount()};
  for (const PayloadEntry* e = table; e->relativePath != nullptr; ++e) {
    if (!WritePayloadFile(e->relativePath, &progress)) return false;
  }

  int mergeCode = MergeEntryList(kUpdateBuild.entryListName);
  if (mergeCode != MERGE_OK) {
    ShowMessage(MSG_MERGE_FAILED, static_cast<unsigned>(mergeCode));
    return false;
  }
  return true;
}
