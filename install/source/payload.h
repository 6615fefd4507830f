#pragma once
#include <cstdint>

enum class PayloadError { None, NotFound, NotLoaded };

struct Payload {
  const uint8_t* bytes;  // resource memory of the updater itself; never released
  uint32_t size;
};

// Finds the payload resource `name` (case ignored). On failure shows its
// message, owned by the progress window, and reports the kind in *error.
bool FindPayload(const char* name, Payload* payload, PayloadError* error);
