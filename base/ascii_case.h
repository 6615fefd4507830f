#pragma once
// Names of resources, profile sections and keys, and paths compare without
// regard to ASCII case, as the system compares them; other bytes (code page
// 932 included) compare as they are.
#include <cstddef>
#include <string>

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}
