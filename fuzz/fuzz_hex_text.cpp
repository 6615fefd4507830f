// The hex text records come from files the updater does not trust: their
// reader must stay inside the bytes it is given and read them as documented.
#include <cstdlib>
#include <memory>
#include <string>

#include "fingerprint/records.h"
#include "fuzz/fuzz_support.h"

namespace {

// ParseHexText never looks further than this, whatever length it is given.
constexpr std::size_t kReadLimit = 1023;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

uint32_t ParseShortHex(const char* digits, std::size_t count) {
  std::string text(digits, count);
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
}

void CheckParse(const char* text, std::size_t length) {
  uint32_t value = ParseHexText(text, length);

  std::size_t limit = length < kReadLimit ? length : kReadLimit;
  std::size_t run = 0;
  while (run < limit && text[run] != '\0' && (IsHexDigit(text[run]) || text[run] == 'x' || text[run] == 'X')) ++run;
  std::size_t digitsBegin = run;
  while (digitsBegin > 0 && text[digitsBegin - 1] != 'x' && text[digitsBegin - 1] != 'X') --digitsBegin;
  std::size_t digits = run - digitsBegin;
  const char* tail = text + digitsBegin;
  if (digits <= 8) {
    FUZZ_CHECK(value == ParseShortHex(tail, digits));
  } else {
    // Digits beyond the eighth fold back onto the low places, so the value
    // splits into that of the last eight digits and that of the rest.
    uint32_t low = ParseShortHex(tail + digits - 8, 8);
    FUZZ_CHECK(value == static_cast<uint32_t>(low + ParseHexText(tail, digits - 8)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // An exact-size copy, so that a read one past the end is caught.
  std::unique_ptr<char[]> text(new char[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(text.get(), data, size);
  CheckParse(text.get(), size);
  // Shorter lengths over the same bytes: the reader must stop at each.
  if (size > 0) CheckParse(text.get() + 1, size - 1);
  if (size > 0) CheckParse(text.get(), data[0] % (size + 1));

  std::unique_ptr<uint8_t[]> original(new uint8_t[kRecordCopySize]());
  std::memcpy(original.get(), data, size < kRecordCopySize ? size : kRecordCopySize);
  std::unique_ptr<uint8_t[]> copy(new uint8_t[kRecordCopySize]);
  std::memcpy(copy.get(), original.get(), kRecordCopySize);
  FileFingerprint record = ReadFileFingerprint(*reinterpret_cast<uint8_t(*)[kRecordCopySize]>(copy.get()));
  const char* originalText = reinterpret_cast<const char*>(original.get());
  FUZZ_CHECK(record.sum == ParseHexText(originalText, 8));
  FUZZ_CHECK(record.xorValue == ParseHexText(originalText + 8, kRecordCopySize - 8));
  FUZZ_CHECK(copy[8] == 0);
  FUZZ_CHECK(std::memcmp(copy.get(), original.get(), 8) == 0);
  FUZZ_CHECK(std::memcmp(copy.get() + 9, original.get() + 9, kRecordCopySize - 9) == 0);
  return 0;
}
