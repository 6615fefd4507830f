#pragma once
// fptool's part in making a delta resource: the identity of the earlier
// version a delta applies to, in front of the zstd frame made against it.
#include <string>

#include "install/source/delta_format.h"
#include "tools/fptool_core.h"

// Size, checksum pair and content hash, as the run identifies an installed file.
DeltaReference DeltaReferenceOf(const ByteBuffer& file);

// The resource: header for `earlier`, then `frame`. False, with *error
// saying why, when the run could not apply it: a file beyond the run's
// limit, or a frame that does not declare its size and checksum.
bool MakeDeltaResource(const ByteBuffer& earlier, const ByteBuffer& frame, ByteBuffer* resource, std::string* error);
