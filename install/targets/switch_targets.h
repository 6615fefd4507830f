#pragma once
// What an update of this build writes, and every name formed beside it: the
// targets in order, each target's new file and old file, the switch
// journal's and the lock's names in the install folder.
#include <cstddef>

#include "platform/platform.h"

// Suffixes of a target's new file and of its old file set aside.
extern const char kNewFileSuffix[];
extern const char kOldFileSuffix[];
// Names in the install folder of the switch journal and of the run's lock.
extern const char kJournalName[];
extern const char kLockName[];

enum class Beside { Target, NewFile, OldFile };
// "<installFolder>\<entry>", with the suffix that `which` names; false when
// the path does not fit.
bool FormSwitchPath(const char* entry, Beside which, char (&path)[kPathSize]);

// The payload files of the build: the first targets, in table order.
int PayloadCount();
// The targets an update of this build switches: the payload entries in table
// order, then, when asked for and the build has one, the entry list's target.
int SwitchTargetCount(bool withEntryList);
const char* SwitchTargetEntry(int index);
// The longest text the run appends to the install folder in a path it forms.
std::size_t LongestRunTail();

// entry's new file, created fresh beside its target (files/held_folders.h).
FileHandle CreateNewFile(const char* entry);
