#pragma once
// The one writer of new files: whatever its source, a new file is created
// fresh beside its target, written piece by piece, reported, checked
// against the content the build recorded, flushed and closed.
#include "core/messages.h"
#include "install/run/run_progress.h"
#include "install/source/piece_source.h"

// Writes entry's new file from source (chosen, not open), adding what it
// writes to *progress. False on failure, with *failure the message that
// names the entry: a source that gives no intact file, or not the content
// the build's table of hashes records for it, is one that did not load
// (MSG_WRITE_NOT_LOADED), a file that cannot be created, written or flushed
// one that failed (MSG_WRITE_CREATE_FAILED), or what the source's open says.
bool WriteNewFile(const char* entry, PieceSource* source, RunProgress* progress, MessageId* failure);
