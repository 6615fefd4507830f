#include "install/switch/file_switch.h"

#include <cstring>

#include "base/text_format.h"
#include "core/updater_state.h"
#include "files/held_folders.h"
#include "files/read_pieces.h"
#include "files/write_all.h"
#include "install/switch/switch_journal.h"

namespace {

// A journal larger than this was not written by a switch.
constexpr uint64_t kLargestJournal = 1u << 20;

struct SwitchPaths {
  char target[kPathSize];
  char newFile[kPathSize];
  char oldFile[kPathSize];
};

bool FormPathsOf(const char* entry, SwitchPaths* p) {
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
bool RenameThenTell(const char* from, const char* to, StepDone afterRename) {
  const bool moved = PlatformMoveFile(from, to, false);
  TellStepDone(afterRename);
  return moved;
}

// One target: its old file aside (when there is one), then its new file in.
bool SwitchOne(const SwitchPaths& p, bool hadTarget, StepDone afterRename) {
  if (hadTarget && !RenameThenTell(p.target, p.oldFile, afterRename)) return false;
  if (RenameThenTell(p.newFile, p.target, afterRename)) return true;
  if (hadTarget) RenameThenTell(p.oldFile, p.target, afterRename);
  return false;
}

// A switched target as it was before: its old file back, or, when it had
// none, the new one gone.
bool PutBack(const SwitchPaths& p, bool hadTarget) {
  if (hadTarget) return PlatformMoveFile(p.oldFile, p.target, true);
  return PlatformDeleteFile(p.target);
}

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
  FileHandle file = formed && JournalPath(path) ? CreateFileFresh(path, kJournalName, false) : nullptr;
  if (file != nullptr && !(WriteAll(file, text, static_cast<uint32_t>(std::strlen(text))) && PlatformFlushFile(file))) {
    PlatformCloseFile(file);
    PlatformDeleteFile(path);
    file = nullptr;
  }
  PlatformFree(text);
  return file;
}

void RemoveJournal() {
  char path[kPathSize];
  if (JournalPath(path)) PlatformDeleteFile(path);
}

// Rolls the first `switched` targets back, last first.
bool RollBack(int switched, const bool* existed, StepDone afterEach) {
  bool allBack = true;
  SwitchPaths p;
  for (int i = switched - 1; i >= 0; --i) {
    allBack = FormPaths(i, &p) && PutBack(p, existed[i]) && allBack;
    TellStepDone(afterEach);
  }
  return allBack;
}

// ---- the next start ----

// The journal's whole text in a buffer of its own (zero-terminated); null
// when there is none or it cannot be read.
char* ReadJournalText(const char* path, std::size_t* size) {
  FileHandle file = PlatformOpenFile(path, FileMode::ReadExisting);
  if (file == nullptr) return nullptr;
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
      if (Exists(p.oldFile)) done = PlatformDeleteFile(p.oldFile) && done;
    } else if (existed) {
      // Its old file aside means the target holds the new one, or nothing.
      if (Exists(p.oldFile)) done = PlatformMoveFile(p.oldFile, p.target, true) && done;
    } else if (Exists(p.target) && !Exists(p.newFile)) {
      // A target that did not exist and whose new file is gone was switched in.
      done = PlatformDeleteFile(p.target) && done;
    }
  }
  if (!done) return Followed::Unfinished;
  for (int i = 0; i < count; ++i) {
    if (JournalTarget(text, size, i, entry, longest + 1, &existed) && FormPathsOf(entry, &p) && Exists(p.newFile)) {
      done = PlatformDeleteFile(p.newFile) && done;
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

bool SwitchInNewFiles(int count, StepDone afterStep, int* failed) {
  *failed = 0;
  bool* existed = static_cast<bool*>(PlatformAllocZeroed(static_cast<std::size_t>(count) + 1));
  bool ready = existed != nullptr;
  SwitchPaths p;
  for (int i = 0; i < count && ready; ++i) {
    ready = FormPaths(i, &p) && FreeToReplace(p.target);
    if (ready) existed[i] = Exists(p.target);
    else *failed = i;
  }
  FileHandle journal = ready ? WriteJournal(count, existed) : nullptr;
  if (journal == nullptr) {
    RemoveNewFiles(count);
    PlatformFree(existed);
    return false;
  }
  TellStepDone(afterStep);

  int switched = 0;
  while (switched < count && FormPaths(switched, &p) && SwitchOne(p, existed[switched], afterStep)) ++switched;
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
      return true;
    }
    // Not committed: the whole switch is undone.
    switched = count;
  } else {
    *failed = switched;
  }
  PlatformCloseFile(journal);
  // Until every old file is back, the journal tells the next start what to undo.
  if (RollBack(switched, existed, afterStep)) {
    RemoveNewFiles(count);
    RemoveJournal();
  }
  PlatformFree(existed);
  return false;
}

void RemoveNewFiles(int count) {
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (FormPaths(i, &p) && Exists(p.newFile)) PlatformDeleteFile(p.newFile);
  }
}

void RemoveOldFiles(int count) {
  bool allGone = true;
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (FormPaths(i, &p) && Exists(p.oldFile)) allGone = PlatformDeleteFile(p.oldFile) && allGone;
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
    PlatformDeleteFile(path);
    if (state != JournalState::Void) return true;
  }

  // No journal: a run that died before writing one, or a build made before
  // journals. Its new files go; an old file goes back only where its target
  // is missing and is never moved over one that exists.
  int count = SwitchTargetCount(true);
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (!FormPaths(i, &p) || !Exists(p.oldFile)) continue;
    if (!Exists(p.target)) {
      PlatformMoveFile(p.oldFile, p.target, false);
    } else {
      PlatformDeleteFile(p.oldFile);
    }
  }
  RemoveNewFiles(count);
  return true;
}
