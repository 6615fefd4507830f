#pragma once
// A delta resource (install/delta_format.h) decoded into a file, with the
// installed file it was made against as the decoder's reference.
#include <cstdint>

#include "core/messages.h"
#include "platform/platform.h"

// Told the size of every piece written, at most 65,534 bytes.
using PieceWritten = void (*)(uint32_t bytes, void* context);

// Maps the file at referencePath read-only (nobody may write it meanwhile),
// checks that it has the size the delta's header records, and writes what
// the frame decodes to into file piece by piece. True only when the frame
// ended intact: its declared size and content checksum checked. On false,
// *failure names the kind: MSG_WRITE_NOT_LOADED when the delta gives no
// intact file (damaged, or a reference that is no longer the one it was
// made against), MSG_WRITE_CREATE_FAILED when the reference cannot be
// mapped or a write fails.
bool DecodeDelta(const uint8_t* resource, uint32_t size, const char* referencePath, FileHandle file,
                 PieceWritten afterPiece, void* context, MessageId* failure);
