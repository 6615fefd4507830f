#pragma once
// An update replaces its files all together or not at all. Each new file is
// written in full beside its target under a recognisable name; only when the
// whole set is written and proven are the targets switched, each old file
// kept aside until every target has its new file. A run that dies at any
// point leaves names that RecoverLeftovers, at the next start, turns back
// into one whole installation.
#include "platform/platform.h"

// Suffixes of a target's new file and of its old file set aside.
extern const char kNewFileSuffix[];
extern const char kOldFileSuffix[];

enum class Beside { Target, NewFile, OldFile };
// "<installFolder>\<entry>", with the suffix that `which` names; false when
// the path does not fit.
bool FormSwitchPath(const char* entry, Beside which, char (&path)[kPathSize]);

// The targets an update of this build switches: the payload entries in table
// order, then, when asked for and the build has one, the entry list's target.
int SwitchTargetCount(bool withEntryList);
const char* SwitchTargetEntry(int index);

// Switches the new files of the first `count` targets in. On failure every
// target already switched gets its old file back, the new files are removed,
// and *failed is the index of the target whose switch failed.
bool SwitchInNewFiles(int count, int* failed);
// Removes the new files that exist among the first `count` targets.
void RemoveNewFiles(int count);
// After a successful switch: the old files set aside go. One that cannot be
// removed now is removed at the next start.
void RemoveOldFiles(int count);

// Before verification: what a run that died left beside the targets. Old
// files set aside while new files still wait mean the switch itself was cut
// short: every old file goes back. An old file without its target goes back
// too; other old files and every new file are removed.
void RecoverLeftovers();
