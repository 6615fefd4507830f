#pragma once
// Right after verification, before anything is asked: which earlier version
// of each payload file with deltas the installation holds, so that the run
// writes the new file from the delta made against it.

// Chooses for each such file the delta whose installed file matches it in
// size, checksum pair and content hash, else the whole file (g_state's
// chosenDelta). False only when a file travels as deltas alone and the
// installed one is none of their versions: the update does not fit.
bool IdentifyInstalledVersions();
