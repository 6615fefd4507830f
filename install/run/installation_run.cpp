#include "install/run/installation_run.h"

#include <cstdint>

#include "base/ascii_case.h"
#include "base/text_format.h"
#include "core/messages.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "files/held_folders.h"
#include "fingerprint/fingerprint_format.h"
#include "fingerprint/verification.h"
#include "install/run/entry_list_merge.h"
#include "install/run/file_writer.h"
#include "install/run/free_space.h"
#include "install/source/piece_source.h"
#include "install/switch/file_switch.h"
#include "platform/platform.h"

namespace {

// A target that another program holds open, the game still running above
// all, is found before anything is written.
bool TargetFreeToReplace(const char* entry) {
  char target[kPathSize];
  if (!FormSwitchPath(entry, Beside::Target, target)) return false;
  if (PlatformQueryPath(target) == PathKind::Missing) return true;
  FileHandle file = PlatformOpenFile(target, FileMode::WriteExclusive);
  if (file == nullptr) return false;
  PlatformCloseFile(file);
  return true;
}

// The file the next start will check in place of `entry`: the new one when
// the run writes it, else the installed one. Null when the path does not fit.
const char* FileToProve(const char* entry, int count, char (&path)[kPathSize], const char** shownEntry) {
  *shownEntry = entry;
  for (int i = 0; i < count; ++i) {
    if (SameIgnoringAsciiCase(SwitchTargetEntry(i), entry)) {
      *shownEntry = SwitchTargetEntry(i);
      return FormSwitchPath(entry, Beside::NewFile, path) ? path : nullptr;
    }
  }
  return FormSwitchPath(entry, Beside::Target, path) ? path : nullptr;
}

// Runs the installation's own check over the set as it would be after the
// switch, telling afterPiece after each piece it reads. False when it fails;
// failedEntry then names the file that fails.
bool ProveNewSet(int count, StepDone afterPiece, char (&failedEntry)[kPathSize]) {
  char executableName[kPathSize];
  char modulePath[kPathSize];
  char executablePath[kPathSize];
  const char* moduleEntry = kFingerprintModulePath;
  const char* executableEntry = executableName;
  const char* module = nullptr;
  const char* executable = nullptr;
  GameFileCheck check = GameFileCheck::ExecutableFails;
  if (FormExecutableName(executableName)) {
    module = FileToProve(kFingerprintModulePath, count, modulePath, &moduleEntry);
    executable = FileToProve(executableName, count, executablePath, &executableEntry);
    if (module == nullptr) {
      check = GameFileCheck::ModuleFails;
    } else if (executable != nullptr) {
      check = VerifyGameFiles(module, executable, afterPiece);
    }
  }
  if (check == GameFileCheck::Intact) return true;
  CopyText(failedEntry, sizeof failedEntry, check == GameFileCheck::ModuleFails ? moduleEntry : executableEntry);
  return false;
}

}  // namespace

bool RunInstallation(ProgressReport report) {
  const int payloads = PayloadCount();
  // Every file is below 4 GiB; together they may well be more.
  uint64_t total = 0;
  for (int i = 0; i < payloads; ++i) {
    PieceSource source{};
    PayloadError error = PayloadError::None;
    if (ChoosePieceSource(i, SwitchTargetEntry(i), &source, &error)) total += source.size;
  }

  if (!CheckFreeSpace(total)) return false;

  const int targets = SwitchTargetCount(true);
  // Without the install folder's lock another update may be switching the
  // same files: nothing is written.
  if (g_state.runLock == nullptr) {
    ShowMessage(MSG_WRITE_CREATE_FAILED, SwitchTargetEntry(0));
    return false;
  }
  for (int i = 0; i < targets; ++i) {
    // A folder turned into a link while the confirmation waited is found
    // before anything is written.
    if (!FolderStillHeld(SwitchTargetEntry(i)) || !TargetFreeToReplace(SwitchTargetEntry(i))) {
      ShowMessage(MSG_WRITE_CREATE_FAILED, SwitchTargetEntry(i));
      return false;
    }
  }

  // Everything is written beside the targets first; until the switch the
  // installation stays as it was, and every failure takes the new files away
  // again before it is told.
  // The choice is made again, as the sizing pass made it: a file the build
  // lacks shows its lookup's message in each pass.
  RunProgress progress{report, total, 0};
  for (int i = 0; i < payloads; ++i) {
    MessageId failure = MSG_WRITE_CREATE_FAILED;
    PieceSource source{};
    PayloadError error = PayloadError::None;
    bool written = ChoosePieceSource(i, SwitchTargetEntry(i), &source, &error);
    if (!written) failure = error == PayloadError::NotLoaded ? MSG_WRITE_NOT_LOADED : MSG_WRITE_NO_PAYLOAD;
    written = written && WriteNewFile(SwitchTargetEntry(i), &source, &progress, &failure);
    if (!written) {
      RemoveNewFiles(i + 1);
      ShowMessage(failure, SwitchTargetEntry(i));
      return false;
    }
  }

  bool listWritten = false;
  int mergeCode = MergeEntryList(kUpdateBuild.entryListName, &listWritten);
  if (mergeCode != MERGE_OK) {
    RemoveNewFiles(targets);
    ShowMessage(MSG_MERGE_FAILED, static_cast<unsigned>(mergeCode));
    return false;
  }
  const int count = listWritten ? targets : payloads;

  // The proof reads every new file back and the switch flushes: the window
  // keeps answering, its percentage as it stands.
  const StepDone letMessageThrough{ReportAgain, &progress};
  char unproven[kPathSize];
  if (!ProveNewSet(count, letMessageThrough, unproven)) {
    RemoveNewFiles(count);
    ShowMessage(MSG_WRITE_CREATE_FAILED, unproven);
    return false;
  }

  int failed = 0;
  const SwitchResult switched = SwitchInNewFiles(count, letMessageThrough, &failed);
  if (switched != SwitchResult::Switched) {
    // A mix of old and new files is left: the run ends with a message of its own.
    g_state.repairLeftForNextStart = switched == SwitchResult::LeftForNextStart;
    ShowMessage(MSG_WRITE_CREATE_FAILED, SwitchTargetEntry(failed));
    return false;
  }
  RemoveOldFiles(count);
  return true;
}
