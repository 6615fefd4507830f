#include "base/text_format.h"

#include <cstdint>
#include <cstring>

bool IsLeadByte932(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

namespace {

struct Writer {
  char* out;
  std::size_t size;
  std::size_t length;
  bool truncated;
};

// Appends text byte by byte, never splitting a double-byte character.
void Append(Writer& w, const char* text, std::size_t count) {
  std::size_t i = 0;
  while (i < count && !w.truncated) {
    std::size_t charLength = 1;
    if (IsLeadByte932(static_cast<unsigned char>(text[i])) && i + 1 < count) charLength = 2;
    if (w.length + charLength + 1 > w.size) {
      w.truncated = true;
      break;
    }
    std::memcpy(w.out + w.length, text + i, charLength);
    w.length += charLength;
    i += charLength;
  }
}

void AppendPadded(Writer& w, const char* digits, std::size_t digitCount, int width, char pad) {
  for (int i = static_cast<int>(digitCount); i < width; ++i) Append(w, &pad, 1);
  Append(w, digits, digitCount);
}

std::size_t UnsignedDigits(uint32_t value, unsigned base, char* buffer /* 16 bytes */) {
  const char* symbols = "0123456789ABCDEF";
  char reversed[16];
  std::size_t n = 0;
  do {
    reversed[n++] = symbols[value % base];
    value /= base;
  } while (value != 0);
  for (std::size_t i = 0; i < n; ++i) buffer[i] = reversed[n - 1 - i];
  return n;
}

}  // namespace

bool FormatTextV(char* out, std::size_t size, const char* format, va_list args) {
  if (size == 0) return false;
  Writer w{out, size, 0, false};
  for (const char* p = format; *p != '\0' && !w.truncated;) {
    if (*p != '%') {
      std::size_t run = 1;
      while (p[run] != '\0' && p[run] != '%') ++run;
      Append(w, p, run);
      p += run;
      continue;
    }
    ++p;  // past '%'
    char pad = ' ';
    if (*p == '0') {
      pad = '0';
      ++p;
    }
    int width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    char digits[16];
    switch (*p) {
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) text = "(null)";
        std::size_t n = std::strlen(text);
        AppendPadded(w, text, n, width, ' ');
        break;
      }
      case 'd': {
        int value = va_arg(args, int);
        uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        char signed_digits[17];
        std::size_t n = 0;
        if (value < 0) signed_digits[n++] = '-';
        n += UnsignedDigits(magnitude, 10, signed_digits + n);
        AppendPadded(w, signed_digits, n, width, pad);
        break;
      }
      case 'u': {
        std::size_t n = UnsignedDigits(va_arg(args, unsigned), 10, digits);
        AppendPadded(w, digits, n, width, pad);
        break;
      }
      case 'X': {
        std::size_t n = UnsignedDigits(va_arg(args, unsigned), 16, digits);
        AppendPadded(w, digits, n, width, pad);
        break;
      }
      case '%':
        Append(w, "%", 1);
        break;
      case '\0':
        --p;  // a lone '%' at the end is dropped
        break;
      default:
        Append(w, p, 1);  // unknown directive: its letter is shown as is
        break;
    }
    ++p;
  }
  out[w.length] = '\0';
  return !w.truncated;
}

bool FormatText(char* out, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fits = FormatTextV(out, size, format, args);
  va_end(args);
  return fits;
}

bool CopyText(char* out, std::size_t size, const char* source) {
  return FormatText(out, size, "%s", source);
}

bool JoinPath(char* out, std::size_t size, const char* folder, const char* relative) {
  return FormatText(out, size, "%s\\%s", folder, relative);
}

const char* FinalPathComponent(const char* path) {
  const char* last = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (IsLeadByte932(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;  // a trail byte may be 0x5C without being a separator
      continue;
    }
    if (*p == '\\') last = p + 1;
  }
  return last;
}
