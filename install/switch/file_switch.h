#pragma once
// An update replaces its files all together or not at all. Each new file is
// written in full beside its target under a recognisable name; only when the
// whole set is written and proven are the targets switched, each old file
// kept aside until every target has its new file. Before the first rename a
// journal in the install folder lists the targets and which of them existed;
// it is marked committed once every target has its new file and the folders
// are on the disk, and goes last. A run that dies at any point leaves names
// that RecoverLeftovers, at the next start, turns back into one whole
// installation: the journal's, or without one, the one the installation's
// own check passes.
#include "files/step_done.h"
#include "install/targets/switch_targets.h"

// The folders that hold the first `count` targets, each once, made durable
// after the renames in them; afterEach is told after each folder's flush.
void FlushTargetFolders(int count, StepDone afterEach = {});

enum class SwitchResult {
  Switched,
  RolledBack,        // every target already switched is as it was, the new files removed
  LeftForNextStart,  // some old file could not be put back: the journal stays for the next start
};
// Switches the new files of the first `count` targets in, after checking
// that nobody holds a target open, telling afterStep after each step that
// may wait for the disk (the journal written, each rename, each folder's
// flush, the commit). On failure the targets already switched are rolled
// back (from what the switch knew, not from a new look at the disk), what
// fails of that tried once more, and *failed is the index of the target
// whose switch failed.
SwitchResult SwitchInNewFiles(int count, StepDone afterStep, int* failed);
// Removes the new files that exist among the first `count` targets.
void RemoveNewFiles(int count);
// After a successful switch: the old files set aside go, then the journal.
// When one cannot be removed now, the journal stays for the next start to
// finish the job.
void RemoveOldFiles(int count);

// Before verification, with the run's folders held: what a run that died
// left beside the targets. A journal decides when there is a readable one
// that an updater wrote (owned by the administrators, nobody else with any
// access, one name, in the install folder; any other is read as none):
// a switch not committed is rolled back, a committed one finished. Without
// one, the installation's own check decides what becomes of each old copy
// (old_copy_fate.h), and this build's new files go. False when a folder
// that the journal names is a reparse point.
bool RecoverLeftovers();
