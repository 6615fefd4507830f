#include "fingerprint/records.h"

#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr std::size_t kHexCopyLimit = 1023;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

// The leading run of hex digits and 'x' (case ignored) is read from its end
// backwards up to the last 'x'; the k-th digit from the right counts
// 16^(k mod 8), so digits beyond the eighth fold back onto the low places.
uint32_t ParseHexText(const char* text, std::size_t length) {
  if (length > kHexCopyLimit) length = kHexCopyLimit;
  std::size_t run = 0;
  while (run < length && text[run] != '\0') {
    char c = text[run];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (HexDigitValue(c) < 0 && c != 'x') break;
    ++run;
  }
  uint32_t result = 0;
  unsigned k = 0;
  for (std::size_t i = run; i > 0; --i, ++k) {
    char c = text[i - 1];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == 'x') break;
    result += static_cast<uint32_t>(HexDigitValue(c)) << (4 * (k % 8));
  }
  return result;
}

FileFingerprint ReadFileFingerprint(uint8_t (&copy)[kRecordCopySize]) {
  const char* text = reinterpret_cast<const char*>(copy);
  FileFingerprint record{};
  record.xorValue = ParseHexText(text + kTextRecordXorAt, kRecordCopySize - kTextRecordXorAt);
  copy[kTextRecordXorAt] = 0;
  record.sum = ParseHexText(text, kRecordCopySize);
  return record;
}

FingerprintSelfRecord ReadSelfRecord(const uint8_t (&copy)[kRecordCopySize]) {
  FingerprintSelfRecord record{};
  std::memcpy(record.marker, copy, sizeof record.marker);
  record.windowStart = ReadLe32(copy + kSelfRecordWindowAt);
  record.sum = ReadLe32(copy + kSelfRecordSumAt);
  record.xorValue = ReadLe32(copy + kSelfRecordXorAt);
  std::memcpy(record.reserved, copy + 16, sizeof record.reserved);
  return record;
}
