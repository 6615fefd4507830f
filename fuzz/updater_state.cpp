// The updater's run state, defined here for the clang build of the fuzz
// targets only: its usual home, app/run_updater.cpp, pulls in the program's
// code page 932 texts, which clang cannot encode. The entry-list merge's
// file-level half refers to it; the fuzzed in-memory half never does.
#include "app/updater_state.h"

UpdaterState g_state;
