// Texts between the program's code page 932 bytes and the screen's UTF-16,
// converted with glibc's iconv as the system converts them.
#include <iconv.h>

#include "platform/sim/platform_sim.h"

namespace {

// Converts all of in; false when a byte sequence has no form in the target.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->assign(in.size() * 2 + 8, '\0');
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char* outPtr = &(*out)[0];
  std::size_t outLeft = out->size();
  bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  out->resize(out->size() - outLeft);
  return ok;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace

namespace sim {

std::string To932(const std::u16string& text) {
  std::string bytes;
  if (Convert("CP932", "UTF-16LE", Utf16Bytes(text), &bytes)) return bytes;
  bytes.clear();
  for (char16_t unit : text) bytes += unit < 0x100 ? static_cast<char>(unit) : '?';
  return bytes;
}

}  // namespace sim

bool PlatformTextToScreen(const char* text, char16_t* buffer, std::size_t bufferUnits) {
  if (bufferUnits == 0) return false;
  buffer[0] = 0;
  std::string bytes;
  bool from932 = Convert("UTF-16LE", "CP932", text, &bytes);
  if (!from932) {
    // The simulated system's own code page: each byte is the unit of its value.
    bytes.clear();
    for (const char* p = text; *p != '\0'; ++p) {
      bytes += *p;
      bytes += '\0';
    }
  }
  std::size_t units = bytes.size() / 2;
  if (units >= bufferUnits) return false;  // as the system, nothing when it does not fit
  for (std::size_t i = 0; i < units; ++i) {
    buffer[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  buffer[units] = 0;
  return from932;
}
