#include "core/updater_state.h"

UpdaterState g_state;
