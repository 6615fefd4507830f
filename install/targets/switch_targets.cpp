#include "install/targets/switch_targets.h"

#include <cstring>

#include "base/text_format.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "files/held_folders.h"

const char kNewFileSuffix[] = ".UpDate-new";
const char kOldFileSuffix[] = ".UpDate-old";
const char kJournalName[] = "UpDate.UpDate-journal";
const char kLockName[] = "UpDate.UpDate-lock";

namespace {

bool HasEntryList() { return kUpdateBuild.entryListName != nullptr && kUpdateBuild.entryListName[0] != '\0'; }

}  // namespace

bool FormSwitchPath(const char* entry, Beside which, char (&path)[kPathSize]) {
  const char* suffix = which == Beside::NewFile ? kNewFileSuffix : which == Beside::OldFile ? kOldFileSuffix : "";
  char target[kPathSize];
  return JoinPath(target, sizeof target, g_state.installFolder, entry) &&
         FormatText(path, sizeof path, "%s%s", target, suffix);
}

int PayloadCount() {
  int count = 0;
  while (kUpdateBuild.payloadTable[count].relativePath != nullptr) ++count;
  return count;
}

int SwitchTargetCount(bool withEntryList) { return PayloadCount() + (withEntryList && HasEntryList() ? 1 : 0); }

const char* SwitchTargetEntry(int index) {
  int payloads = PayloadCount();
  return index < payloads ? kUpdateBuild.payloadTable[index].relativePath : kUpdateBuild.entryListName;
}

std::size_t LongestRunTail() {
  std::size_t longest = 1 + std::strlen(kJournalName);
  if (1 + std::strlen(kLockName) > longest) longest = 1 + std::strlen(kLockName);
  for (int i = 0; i < SwitchTargetCount(true); ++i) {
    std::size_t tail = 1 + std::strlen(SwitchTargetEntry(i)) + std::strlen(kNewFileSuffix);
    if (tail > longest) longest = tail;
  }
  return longest;
}

FileHandle CreateNewFile(const char* entry) {
  char path[kPathSize];
  return FormSwitchPath(entry, Beside::NewFile, path) ? CreateFileFresh(path, entry, true) : nullptr;
}
