// Profile files: real host files read in the format profile_text keeps.
#include <cstring>

#include "platform/sim/platform_sim.h"
#include "platform/sim/profile_text.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_durable.h"

using sim::core::IsDirectory;
using sim::core::ReadHostFile;

void PlatformReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                               uint32_t bufferSize, const char* path) {
  if (bufferSize == 0) return;
  std::string content;
  std::string value = defaultValue;
  std::string host = sim::HostPath(path);
  if (!host.empty() && !IsDirectory(host) && ReadHostFile(host, &content)) {
    ProfileTextGet(content, section, key, &value);
  }
  std::size_t n = value.size() < bufferSize - 1 ? value.size() : bufferSize - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
}
