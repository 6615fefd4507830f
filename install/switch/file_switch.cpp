#include "install/switch/file_switch.h"

#include <cstring>

#include "base/text_format.h"
#include "core/updater_state.h"
#include "files/held_folders.h"
#include "files/read_pieces.h"
#include "files/write_all.h"
#include "install/switch/old_copy_fate.h"
#include "install/switch/switch_journal.h"

namespace {

// A journal larger than this was not written by a switch.
constexpr uint64_t kLargestJournal = 1u << 20;
// A failed rollback is tried once more at once; the platform has no pause.
constexpr int kRollBackAttempts = 2;

// Renames and removals go through the held folder of entry
// (files/held_folders.h), never by path alone.
struct SwitchPaths {
  const char* entry;
  char target[kPathSize];
  char newFile[kPathSize];
  char oldFile[kPathSize];
};

bool FormPathsOf(const char* entry, SwitchPaths* p) {
  p->entry = entry;
  return FormSwitchPath(entry, Beside::Target, p->target) && FormSwitchPath(entry, Beside::NewFile, p->newFile) &&
         FormSwitchPath(entry, Beside::OldFile, p->oldFile);
}

bool FormPaths(int index, SwitchPaths* p) { return FormPathsOf(SwitchTargetEntry(index), p); }

bool Exists(const char* path) { return PlatformQueryPath(path) == PathKind::File; }

bool JournalPath(char (&path)[kPathSize]) { return JoinPath(path, sizeof path, g_state.installFolder, kJournalName); }

// The longest entry whose paths beside it fit.
std::size_t LongestEntry() {
  std::size_t used = std::strlen(g_state.installFolder) + 1 + std::strlen(kNewFileSuffix) + 1;
  return used < kPathSize ? kPathSize - used : 0;
}

// A rename written through to the disk may wait for it: afterRename is
// told after each.
bool MoveThenTell(const char* entry, const char* from, const char* to, StepDone afterRename) {
  const bool moved = MoveInHeldFolder(entry, from, to, false);
  TellStepDone(afterRename);
  return moved;
}

// One target: its old file aside (when there is one), then its new file in.
// On failure *aside tells that its old file could not be put back at once
// and is still set aside.
bool SwitchOne(const SwitchPaths& p, bool hadTarget, StepDone afterRename, bool* aside) {
  *aside = false;
  if (hadTarget && !MoveThenTell(p.entry, p.target, p.oldFile, afterRename)) return false;
  if (MoveThenTell(p.entry, p.newFile, p.target, afterRename)) return true;
  *aside = hadTarget && !MoveThenTell(p.entry, p.oldFile, p.target, afterRename);
  return false;
}

// A switched target as it was before: its old file back, or, when it had
// none, the new one gone.
bool PutBack(const SwitchPaths& p, bool hadTarget) {
  if (hadTarget) return MoveInHeldFolder(p.entry, p.oldFile, p.target, true);
  return DeleteInHeldFolder(p.entry, p.target);
}

// An old copy that a start without a journal could not place (see
// old_copy_fate.h) goes before its target is set aside in its name: the
// installation has passed its check since, and the switch keeps the target
// it replaces as the old copy instead.
bool OldNameFree(const SwitchPaths& p) { return !Exists(p.oldFile) || DeleteInHeldFolder(p.entry, p.oldFile); }

// A target that another program holds open, the game still running above
// all, fails the switch before anything is renamed.
bool FreeToReplace(const char* target) {
  if (!Exists(target)) return true;
  FileHandle file = PlatformOpenFile(target, FileMode::WriteExclusive);
  if (file == nullptr) return false;
  PlatformCloseFile(file);
  return true;
}

// The journal of the first `count` targets, on the disk; its handle stays
// open for the commit mark, so that nobody can put another file in its place.
FileHandle WriteJournal(int count, const bool* existed) {
  std::size_t size = std::strlen(kJournalHead) + std::strlen(kJournalEnd) + 1;
  for (int i = 0; i < count; ++i) size += std::strlen(SwitchTargetEntry(i)) + 4;
  char* text = static_cast<char*>(PlatformAllocZeroed(size));
  if (text == nullptr) return nullptr;
  bool formed = CopyText(text, size, kJournalHead);
  for (int i = 0; i < count && formed; ++i) formed = AppendJournalLine(text, size, SwitchTargetEntry(i), existed[i]);
  formed = formed && FormatText(text + std::strlen(text), size - std::strlen(text), "%s", kJournalEnd);

  char path[kPathSize];
  FileHandle file = formed && JournalPath(path) ? CreateAdministratorsFile(path, kJournalName) : nullptr;
  if (file != nullptr && !(WriteAll(file, text, static_cast<uint32_t>(std::strlen(text))) && PlatformFlushFile(file))) {
    PlatformCloseFile(file);
    DeleteInHeldFolder(kJournalName, path);
    file = nullptr;
  }
  PlatformFree(text);
  return file;
}

void RemoveJournal() {
  char path[kPathSize];
  if (JournalPath(path)) DeleteInHeldFolder(kJournalName, path);
}

// Rolls the first `switched` targets back, last first, each that `back`
// does not mark yet; marks those put back. afterEach is told after each
// target tried.
bool RollBack(int switched, const bool* existed, bool* back, StepDone afterEach) {
  bool allBack = true;
  SwitchPaths p;
  for (int i = switched - 1; i >= 0; --i) {
    if (!back[i]) {
      back[i] = FormPaths(i, &p) && PutBack(p, existed[i]);
      TellStepDone(afterEach);
    }
    allBack = back[i] && allBack;
  }
  return allBack;
}

// ---- the next start ----

// A journal counts only when this updater wrote it: a file of one name in
// the install folder that only the administrators and the system can have
// made or changed. The folder is one any user may write to.
bool WrittenByAnUpdater(FileHandle file) {
  HandleFacts facts{};
  return PlatformOwnedByAdministrators(file) && PlatformHandleFacts(file, &facts) && facts.links == 1 &&
         LiesInHeldFolder(file, kJournalName);
}

// The journal's whole text in a buffer of its own (zero-terminated); null
// when there is none, it cannot be read or no updater wrote it.
char* ReadJournalText(const char* path, std::size_t* size) {
  FileHandle file = PlatformOpenFile(path, FileMode::ReadExisting);
  if (file == nullptr) return nullptr;
  if (!WrittenByAnUpdater(file)) {
    PlatformCloseFile(file);
    return nullptr;
  }
  uint64_t fileSize = 0;
  char* text = nullptr;
  if (PlatformFileSize(file, &fileSize) && fileSize <= kLargestJournal) {
    text = static_cast<char*>(PlatformAllocZeroed(static_cast<std::size_t>(fileSize) + 1));
  }
  uint64_t done = 0;
  if (text != nullptr &&
      (!ReadInPieces(file, reinterpret_cast<uint8_t*>(text), static_cast<uint32_t>(fileSize), ReadInto::Whole,
                     nullptr, nullptr, &done) ||
       done != fileSize)) {
    PlatformFree(text);
    text = nullptr;
  }
  PlatformCloseFile(file);
  *size = static_cast<std::size_t>(fileSize);
  return text;
}

enum class Followed { Done, Unfinished, Redirected };

// Rolls an uncommitted switch back or finishes a committed one, exactly as
// the journal lists its targets; new files of its targets go either way.
Followed FollowJournal(const char* text, std::size_t size, JournalState state) {
  char entry[kPathSize];
  bool existed = false;
  std::size_t longest = LongestEntry();
  for (int i = 0; JournalTarget(text, size, i, entry, longest + 1, &existed); ++i) {
    HoldResult held = HoldFoldersOf(entry);
    if (held == HoldResult::Redirected || held == HoldResult::Failed) return Followed::Redirected;
  }
  bool done = true;
  SwitchPaths p;
  int count = 0;
  while (JournalTarget(text, size, count, entry, longest + 1, &existed)) ++count;
  // Last first, as a rollback in the run goes.
  for (int i = count - 1; i >= 0; --i) {
    if (!JournalTarget(text, size, i, entry, longest + 1, &existed) || !FormPathsOf(entry, &p)) {
      done = false;
      continue;
    }
    if (state == JournalState::Committed) {
      if (Exists(p.oldFile)) done = DeleteInHeldFolder(p.entry, p.oldFile) && done;
    } else if (existed) {
      // Its old file aside means the target holds the new one, or nothing.
      if (Exists(p.oldFile)) done = MoveInHeldFolder(p.entry, p.oldFile, p.target, true) && done;
    } else if (Exists(p.target) && !Exists(p.newFile)) {
      // A target that did not exist and whose new file is gone was switched in.
      done = DeleteInHeldFolder(p.entry, p.target) && done;
    }
  }
  if (!done) return Followed::Unfinished;
  for (int i = 0; i < count; ++i) {
    if (JournalTarget(text, size, i, entry, longest + 1, &existed) && FormPathsOf(entry, &p) && Exists(p.newFile)) {
      done = DeleteInHeldFolder(p.entry, p.newFile) && done;
    }
  }
  return done ? Followed::Done : Followed::Unfinished;
}

}  // namespace

void FlushTargetFolders(int count, StepDone afterEach) {
  // Each folder once, in the order its first target was switched.
  for (int i = 0; i < count; ++i) {
    const char* entry = SwitchTargetEntry(i);
    std::size_t length = FolderLength(entry);
    bool seen = false;
    for (int j = 0; j < i && !seen; ++j) {
      const char* earlier = SwitchTargetEntry(j);
      seen = FolderLength(earlier) == length && std::strncmp(earlier, entry, length) == 0;
    }
    char path[kPathSize];
    // A folder that cannot be flushed is still in the order the renames
    // reach the disk; only the moment is unknown.
    if (!seen && FormFolderPath(entry, path)) {
      PlatformFlushFolder(path);
      TellStepDone(afterEach);
    }
  }
}

SwitchResult SwitchInNewFiles(int count, StepDone afterStep, int* failed) {
  *failed = 0;
  // Per target: whether it existed, then whether a rollback has put it back.
  bool* existed = static_cast<bool*>(PlatformAllocZeroed(2 * static_cast<std::size_t>(count) + 1));
  bool* back = existed != nullptr ? existed + count : nullptr;
  // A journal still there belongs to a switch that no start could finish
  // yet: the old copies beside the targets are its own.
  char journalPath[kPathSize];
  bool ready = existed != nullptr && JournalPath(journalPath) && PlatformQueryPath(journalPath) == PathKind::Missing;
  SwitchPaths p;
  for (int i = 0; i < count && ready; ++i) {
    ready = FormPaths(i, &p) && FreeToReplace(p.target) && OldNameFree(p);
    if (ready) existed[i] = Exists(p.target);
    else *failed = i;
  }
  FileHandle journal = ready ? WriteJournal(count, existed) : nullptr;
  if (journal == nullptr) {
    RemoveNewFiles(count);
    PlatformFree(existed);
    return SwitchResult::RolledBack;
  }
  TellStepDone(afterStep);

  int switched = 0;
  bool aside = false;
  while (switched < count && FormPaths(switched, &p) && SwitchOne(p, existed[switched], afterStep, &aside)) ++switched;
  if (switched == count) {
    FlushTargetFolders(count, afterStep);
    const char mark = kJournalCommitMark;
    // Once the mark is written the next start finishes the switch; a flush
    // that fails after it changes nothing about what the disk will hold.
    if (WriteAll(journal, &mark, 1)) {
      PlatformFlushFile(journal);
      TellStepDone(afterStep);
      PlatformCloseFile(journal);
      PlatformFree(existed);
      return SwitchResult::Switched;
    }
    // Not committed: the whole switch is undone.
    switched = count;
  } else {
    *failed = switched;
    // Its old file set aside and not back yet: it is rolled back with the others.
    if (aside) ++switched;
  }
  PlatformCloseFile(journal);
  // Until every old file is back, the journal tells the next start what to
  // undo. A program that held a target a moment ago may have let it go:
  // what failed is tried once more.
  bool allBack = false;
  for (int attempt = 0; attempt < kRollBackAttempts && !allBack; ++attempt) {
    allBack = RollBack(switched, existed, back, afterStep);
  }
  if (allBack) {
    RemoveNewFiles(count);
    RemoveJournal();
  }
  PlatformFree(existed);
  return allBack ? SwitchResult::RolledBack : SwitchResult::LeftForNextStart;
}

void RemoveNewFiles(int count) {
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (FormPaths(i, &p) && Exists(p.newFile)) DeleteInHeldFolder(p.entry, p.newFile);
  }
}

void RemoveOldFiles(int count) {
  bool allGone = true;
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (FormPaths(i, &p) && Exists(p.oldFile)) allGone = DeleteInHeldFolder(p.entry, p.oldFile) && allGone;
  }
  if (allGone) RemoveJournal();
}

bool RecoverLeftovers() {
  char path[kPathSize];
  if (JournalPath(path) && PlatformQueryPath(path) != PathKind::Missing) {
    std::size_t size = 0;
    char* text = ReadJournalText(path, &size);
    JournalState state = text != nullptr ? ReadJournal(text, size, LongestEntry()) : JournalState::Void;
    Followed followed = Followed::Done;
    if (state != JournalState::Void) followed = FollowJournal(text, size, state);
    PlatformFree(text);
    if (followed == Followed::Redirected) return false;
    // What could not be done yet stays listed for the next start; a void
    // journal goes, and the leftovers are read as if there were none.
    if (followed == Followed::Unfinished) return true;
    DeleteInHeldFolder(kJournalName, path);
    if (state != JournalState::Void) return true;
  }

  // No journal: a run that died before writing one, one whose journal is
  // lost or unreadable, or a build made before journals. The installation's
  // own check decides what becomes of each old copy (old_copy_fate.h), last
  // first as a rollback goes; the new files go.
  int count = SwitchTargetCount(true);
  const OldCopySurvey survey = SurveyOldCopies();
  SwitchPaths p;
  for (int i = count - 1; i >= 0; --i) {
    const OldCopyFate fate = FateOfOldCopy(i, survey);
    if (!FormPaths(i, &p)) continue;
    if (fate == OldCopyFate::PutBack) MoveInHeldFolder(p.entry, p.oldFile, p.target, true);
    if (fate == OldCopyFate::Remove) DeleteInHeldFolder(p.entry, p.oldFile);
  }
  RemoveNewFiles(count);
  return true;
}
