#include "install/installation_run.h"

#include <cstdint>

#include "base/ascii_case.h"
#include "base/text_format.h"
#include "core/messages.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "fingerprint/fingerprint_format.h"
#include "fingerprint/verification.h"
#include "install/delta_write.h"
#include "install/entry_list_merge.h"
#include "install/file_switch.h"
#include "install/free_space.h"
#include "install/payload.h"
#include "install/payload_source.h"
#include "install/run_folders.h"
#include "platform/platform.h"

namespace {

// Writes every piece of source to file, reporting after every write.
bool WritePieces(FileHandle file, PayloadSource* source, ProgressReport report, uint32_t total, uint32_t* runDone,
                 MessageId* failure) {
  // A payload that cannot be read whole is one that did not load.
  *failure = MSG_WRITE_NOT_LOADED;
  if (!OpenPayloadSource(source)) {
    ClosePayloadSource(source);
    return false;
  }
  for (;;) {
    const uint8_t* piece = nullptr;
    uint32_t left = 0;
    PieceStep step = NextPayloadPiece(source, &piece, &left);
    if (step != PieceStep::Piece) {
      ClosePayloadSource(source);
      if (step == PieceStep::Damaged) return false;
      *failure = MSG_WRITE_CREATE_FAILED;
      return true;
    }
    *failure = MSG_WRITE_CREATE_FAILED;
    while (left > 0) {
      uint32_t written = 0;
      // A write that fails or makes no progress would otherwise spin forever
      // or leave the file cut short.
      if (!PlatformWriteFile(file, piece, left, &written) || written == 0 || written > left) {
        ClosePayloadSource(source);
        return false;
      }
      piece += written;
      left -= written;
      *runDone += written;
      report(ProgressPercent(*runDone, total));
    }
    *failure = MSG_WRITE_NOT_LOADED;
  }
}

// Writes one payload in full beside its target, piece by piece as its
// source hands them out. On failure *failure is the message that names the
// entry.
bool WritePayloadFile(const char* entry, ProgressReport report, uint32_t total, uint32_t* runDone,
                      MessageId* failure) {
  PayloadSource source{};
  PayloadError error = PayloadError::None;
  if (!FindPayloadSource(FinalPathComponent(entry), &source, &error)) {
    *failure = error == PayloadError::NotLoaded ? MSG_WRITE_NOT_LOADED : MSG_WRITE_NO_PAYLOAD;
    return false;
  }

  *failure = MSG_WRITE_CREATE_FAILED;
  FileHandle file = CreateNewFile(entry);
  if (file == nullptr) return false;

  bool written = WritePieces(file, &source, report, total, runDone, failure);
  // The switch must never put in a file whose bytes are still on their way.
  bool flushed = written && PlatformFlushFile(file);
  PlatformCloseFile(file);
  return flushed;
}

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
// switch. False when it fails; failedEntry then names the file that fails.
bool ProveNewSet(int count, char (&failedEntry)[kPathSize]) {
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
      check = VerifyGameFiles(module, executable);
    }
  }
  if (check == GameFileCheck::Intact) return true;
  CopyText(failedEntry, sizeof failedEntry, check == GameFileCheck::ModuleFails ? moduleEntry : executableEntry);
  return false;
}

}  // namespace

int ProgressPercent(unsigned runDone, unsigned total) {
  // The total is taken in single precision: it decides where a very large
  // run ends (99 instead of 100).
  float totalSingle = static_cast<float>(total);
  double fraction = static_cast<double>(runDone) / static_cast<double>(totalSingle);
  return static_cast<int>(fraction * 100.0);
}

bool RunInstallation(ProgressReport report) {
  uint32_t total = 0;
  int index = 0;
  for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e, ++index) {
    PayloadSource source{};
    PayloadError error = PayloadError::None;
    uint32_t decoded = 0;
    if (ChosenDeltaSize(index, &decoded)) {
      total += decoded;
    } else if (FindPayloadSource(FinalPathComponent(e->relativePath), &source, &error)) {
      total += source.size;
    }
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
  const int payloads = SwitchTargetCount(false);
  uint32_t runDone = 0;
  for (int i = 0; i < payloads; ++i) {
    MessageId failure = MSG_WRITE_CREATE_FAILED;
    uint32_t decoded = 0;
    const bool written = ChosenDeltaSize(i, &decoded)
                             ? WriteFileFromDelta(i, SwitchTargetEntry(i), report, total, &runDone, &failure)
                             : WritePayloadFile(SwitchTargetEntry(i), report, total, &runDone, &failure);
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

  char unproven[kPathSize];
  if (!ProveNewSet(count, unproven)) {
    RemoveNewFiles(count);
    ShowMessage(MSG_WRITE_CREATE_FAILED, unproven);
    return false;
  }

  int failed = 0;
  if (!SwitchInNewFiles(count, &failed)) {
    ShowMessage(MSG_WRITE_CREATE_FAILED, SwitchTargetEntry(failed));
    return false;
  }
  RemoveOldFiles(count);
  return true;
}
