#pragma once
// An update replaces its files all together or not at all. Each new file is
// written in full beside its target under a recognisable name; only when the
// whole set is written and proven are the targets switched, each old file
// kept aside until every target has its new file. Before the first rename a
// journal in the install folder lists the targets and which of them existed;
// it is marked committed once every target has its new file and the folders
// are on the disk, and goes last. A run that dies at any point leaves names
// that RecoverLeftovers, at the next start, turns back into one whole
// installation: the journal's, or without one, this build's.
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

// The targets an update of this build switches: the payload entries in table
// order, then, when asked for and the build has one, the entry list's target.
int SwitchTargetCount(bool withEntryList);
const char* SwitchTargetEntry(int index);
// The longest text the run appends to the install folder in a path it forms.
std::size_t LongestRunTail();

// entry's new file, created fresh beside its target (run_folders.h).
FileHandle CreateNewFile(const char* entry);

// Switches the new files of the first `count` targets in, after checking
// that nobody holds a target open. On failure every target already switched
// is as it was (from what the switch knew, not from a new look at the disk),
// the new files are removed, and *failed is the index of the target whose
// switch failed.
bool SwitchInNewFiles(int count, int* failed);
// Removes the new files that exist among the first `count` targets.
void RemoveNewFiles(int count);
// After a successful switch: the old files set aside go, then the journal.
// When one cannot be removed now, the journal stays for the next start to
// finish the job.
void RemoveOldFiles(int count);

// Before verification, with the run's folders held: what a run that died
// left beside the targets. A journal decides when there is a readable one:
// a switch not committed is rolled back, a committed one finished. Without
// one, this build's new files go and an old file goes back only where its
// target is missing. False when a folder that the journal names is a
// reparse point.
bool RecoverLeftovers();
