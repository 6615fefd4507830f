// Profile files: real host files read and rewritten whole, as the system
// does, in the format profile_text keeps; each write is an event and a file
// operation.
#include <cstring>
#include <fstream>

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

bool PlatformWriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  sim::core::Event(std::string("profile-write:") + section + "/" + key);
  if (!sim::core::FileOperation("profile-write", path)) return false;
  std::string host = sim::HostPath(path);
  if (host.empty() || IsDirectory(host)) return false;
  std::string content;
  const bool existed = ReadHostFile(host, &content);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  if (!existed) sim::durable::Created(path);
  std::string updated = ProfileTextSet(content, section, key, value);
  out.write(updated.data(), static_cast<std::streamsize>(updated.size()));
  return static_cast<bool>(out);
}
