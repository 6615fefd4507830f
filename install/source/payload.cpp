#include "install/source/payload.h"

#include "core/messages.h"
#include "core/updater_state.h"
#include "platform/platform.h"

bool FindPayload(const char* name, Payload* payload, PayloadError* error) {
  const void* data = nullptr;
  uint32_t size = 0;
  ResourceLookup found = PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, &size);
  if (found == ResourceLookup::NotFound) {
    *error = PayloadError::NotFound;
    ShowMessage(MSG_PAYLOAD_NOT_FOUND);
    return false;
  }
  if (found != ResourceLookup::Found || data == nullptr) {
    *error = PayloadError::NotLoaded;
    ShowMessage(MSG_PAYLOAD_NOT_LOADED);
    return false;
  }
  payload->bytes = static_cast<const uint8_t*>(data);
  payload->size = size;
  *error = PayloadError::None;
  return true;
}
