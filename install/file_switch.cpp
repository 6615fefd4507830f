#include "install/file_switch.h"

#include "base/text_format.h"
#include "core/update_build.h"
#include "core/updater_state.h"

const char kNewFileSuffix[] = ".UpDate-new";
const char kOldFileSuffix[] = ".UpDate-old";

namespace {

struct SwitchPaths {
  char target[kPathSize];
  char newFile[kPathSize];
  char oldFile[kPathSize];
};

bool FormPaths(int index, SwitchPaths* p) {
  const char* entry = SwitchTargetEntry(index);
  return FormSwitchPath(entry, Beside::Target, p->target) && FormSwitchPath(entry, Beside::NewFile, p->newFile) &&
         FormSwitchPath(entry, Beside::OldFile, p->oldFile);
}

bool Exists(const char* path) { return PlatformQueryPath(path) == PathKind::File; }

int PayloadCount() {
  int count = 0;
  while (kUpdateBuild.payloadTable[count].relativePath != nullptr) ++count;
  return count;
}

bool HasEntryList() { return kUpdateBuild.entryListName != nullptr && kUpdateBuild.entryListName[0] != '\0'; }

// One target: its old file aside (when there is one), then its new file in.
bool SwitchOne(const SwitchPaths& p) {
  bool hadTarget = Exists(p.target);
  if (hadTarget && !PlatformMoveFile(p.target, p.oldFile, false)) return false;
  if (PlatformMoveFile(p.newFile, p.target, false)) return true;
  if (hadTarget) PlatformMoveFile(p.oldFile, p.target, false);
  return false;
}

// A switched target as it was before; a target that had no old file goes.
bool PutBack(const SwitchPaths& p) {
  if (Exists(p.oldFile)) return PlatformMoveFile(p.oldFile, p.target, true);
  return PlatformDeleteFile(p.target);
}

}  // namespace

bool FormSwitchPath(const char* entry, Beside which, char (&path)[kPathSize]) {
  const char* suffix = which == Beside::NewFile ? kNewFileSuffix : which == Beside::OldFile ? kOldFileSuffix : "";
  char target[kPathSize];
  return JoinPath(target, sizeof target, g_state.installFolder, entry) &&
         FormatText(path, sizeof path, "%s%s", target, suffix);
}

int SwitchTargetCount(bool withEntryList) { return PayloadCount() + (withEntryList && HasEntryList() ? 1 : 0); }

const char* SwitchTargetEntry(int index) {
  int payloads = PayloadCount();
  return index < payloads ? kUpdateBuild.payloadTable[index].relativePath : kUpdateBuild.entryListName;
}

bool SwitchInNewFiles(int count, int* failed) {
  int switched = 0;
  SwitchPaths p;
  while (switched < count && FormPaths(switched, &p) && SwitchOne(p)) ++switched;
  if (switched == count) return true;
  *failed = switched;

  bool allBack = true;
  for (int i = switched - 1; i >= 0; --i) {
    allBack = FormPaths(i, &p) && PutBack(p) && allBack;
  }
  // With an old file still aside, the new files tell the next start that
  // the switch was cut short: they stay until every old file is back.
  if (allBack) RemoveNewFiles(count);
  return false;
}

void RemoveNewFiles(int count) {
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (FormPaths(i, &p) && Exists(p.newFile)) PlatformDeleteFile(p.newFile);
  }
}

void RemoveOldFiles(int count) {
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (FormPaths(i, &p) && Exists(p.oldFile)) PlatformDeleteFile(p.oldFile);
  }
}

void RecoverLeftovers() {
  int count = SwitchTargetCount(true);
  bool anyNew = false;
  bool anyOld = false;
  SwitchPaths p;
  for (int i = 0; i < count; ++i) {
    if (!FormPaths(i, &p)) continue;
    anyNew = anyNew || Exists(p.newFile);
    anyOld = anyOld || Exists(p.oldFile);
  }
  bool switchCutShort = anyNew && anyOld;
  // Old files go back before any new file goes, so that a start that dies
  // here too leaves the same picture for the next one.
  bool allBack = true;
  for (int i = 0; i < count; ++i) {
    if (!FormPaths(i, &p) || !Exists(p.oldFile)) continue;
    if (switchCutShort || !Exists(p.target)) {
      allBack = PlatformMoveFile(p.oldFile, p.target, true) && allBack;
    } else {
      PlatformDeleteFile(p.oldFile);
    }
  }
  if (allBack) RemoveNewFiles(count);
}
