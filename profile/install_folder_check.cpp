#include "profile/install_folder_check.h"

#include <cstring>

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsForbiddenByte(unsigned char c) { return c < 0x20 || std::strchr("<>:\"/|?*", c) != nullptr; }

// A component whose name before its first dot is a device ("NUL", "com1.txt")
// opens the device, not a folder.
bool NamesDevice(const char* begin, const char* end) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
                                         "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",
                                         "LPT7", "LPT8", "LPT9"};
  const char* dot = begin;
  while (dot < end && *dot != '.') ++dot;
  std::size_t length = static_cast<std::size_t>(dot - begin);
  for (const char* device : kDevices) {
    if (std::strlen(device) != length) continue;
    std::size_t i = 0;
    while (i < length && UpperAscii(begin[i]) == device[i]) ++i;
    if (i == length) return true;
  }
  return false;
}

}  // namespace

bool IsUsableInstallFolder(const char* folder, std::size_t longestTail, std::size_t pathSize, NextCharFn next) {
  std::size_t length = std::strlen(folder);
  if (length + longestTail >= pathSize) return false;
  if (length < 3 || !IsAsciiLetter(folder[0]) || folder[1] != ':' || folder[2] != '\\') return false;

  // Each component between single backslashes, walked character by
  // character: the second byte of a double-byte character is never a
  // separator nor a forbidden character.
  const char* component = folder + 3;
  const char* last = nullptr;  // first byte of the component's last character
  const char* p = component;
  while (true) {
    if (*p == '\0' || *p == '\\') {
      // Only the end may follow a separator directly: "C:\" or one
      // trailing backslash.
      bool empty = p == component;
      if (empty && *p == '\\') return false;
      if (!empty) {
        if (*last == '.' || *last == ' ') return false;
        if (NamesDevice(component, p)) return false;
      }
      if (*p == '\0') return true;
      component = p + 1;
      last = nullptr;
      p = component;
      continue;
    }
    const char* after = next(p);
    if (after == p) return false;
    if (after == p + 1 && IsForbiddenByte(static_cast<unsigned char>(*p))) return false;
    last = p;
    p = after;
  }
}
