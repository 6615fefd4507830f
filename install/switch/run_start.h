#pragma once
// What the run takes before it looks at the installation: the install
// folder and the folders it writes into, held and checked; the lock that
// keeps any other update of this folder out; then the leftovers of a run
// that died, put right.
enum class RunStart {
  Ready,
  Busy,    // another update holds the install folder's lock
  Broken,  // a folder is a reparse point or cannot be held: fails as a broken installation
};
RunStart PrepareRun();
// Releases what PrepareRun took; safe to call whatever it returned.
void FinishRun();
