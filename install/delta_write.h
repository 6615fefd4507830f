#pragma once
// Writes a payload file from the delta chosen for it (install/delta_identify.h),
// decoded with the installed file, still in place, as its reference.
#include <cstdint>

#include "core/messages.h"
#include "install/installation_run.h"
#include "platform/platform.h"

// The new file's size as the chosen delta of payload entry `index` declares
// it; false when the entry has no chosen delta.
bool ChosenDeltaSize(int index, uint32_t* size);

// Writes the new file of `entry` (payload entry `index`) beside its target
// from the chosen delta, in pieces of at most 65,534 bytes, adding each to
// *runDone and reporting the percentage of total after each, then flushes
// it. Fails when the installed file is no longer the one identified or the
// delta is damaged (the frame's size and content checksum are checked to its
// end); *failure is then the message that names the entry: a delta that
// gives no intact file is one that did not load (MSG_WRITE_NOT_LOADED), as a
// damaged compressed file is.
bool WriteFileFromDelta(int index, const char* entry, ProgressReport report, uint32_t total, uint32_t* runDone,
                        MessageId* failure);
