// The entry-list merge sizes its output with one pass and fills it with a
// second: the two must agree, the second must stay inside the size the first
// gave, and the old target must come out whole at the end.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "install/run/entry_list_text.h"

namespace {

// An exact-size, zero-terminated copy, so that a read past the terminator
// is caught.
std::unique_ptr<char[]> TextCopy(const uint8_t* bytes, std::size_t count) {
  std::unique_ptr<char[]> text(new char[count + 1]);
  if (count > 0) std::memcpy(text.get(), bytes, count);
  text[count] = '\0';
  return text;
}

void CheckLineLengths(const char* text) {
  for (const char* at = text; *at != '\0';) {
    std::size_t length = LineLength(at);
    std::size_t lineEnd = std::strcspn(at, "\r\n");
    std::size_t expected = lineEnd;
    if (at[lineEnd] == '\r' && at[lineEnd + 1] == '\n') {
      expected += 2;
    } else if (at[lineEnd] != '\0') {
      expected += 1;
    }
    FUZZ_CHECK(length == expected);
    at += length;
  }
}

// What goes before the old target: entries "text;\n", none of them empty
// and none already in the target.
void CheckNewEntries(const char* added, std::size_t length, const char* target) {
  std::size_t at = 0;
  while (at < length) {
    const void* semicolon = std::memchr(added + at, ';', length - at);
    FUZZ_CHECK(semicolon != nullptr);
    std::size_t end = static_cast<std::size_t>(static_cast<const char*>(semicolon) - added);
    FUZZ_CHECK(end > at && end + 1 < length && added[end + 1] == '\n');
    std::string entry(added + at, end - at);
    FUZZ_CHECK(entry.find('\0') == std::string::npos);
    FUZZ_CHECK(entry.size() < kEntrySize);  // longer entries are skipped, never cut or overrun
    FUZZ_CHECK(std::strstr(target, entry.c_str()) == nullptr);
    at = end + 2;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The list ends at the first zero byte; the target is all that follows,
  // zero bytes and all, though the merge reads it only up to its first zero.
  const void* zero = std::memchr(data, 0, size);
  std::size_t listSize = zero != nullptr ? static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - data) : size;
  std::size_t targetSize = zero != nullptr ? size - listSize - 1 : 0;
  std::unique_ptr<char[]> list = TextCopy(data, listSize);
  std::unique_ptr<char[]> target = TextCopy(data + size - targetSize, targetSize);

  CheckLineLengths(list.get());
  CheckLineLengths(target.get());

  std::size_t measured = BuildMergedText(list.get(), target.get(), nullptr, 0);
  std::unique_ptr<char[]> merged(new char[measured]);
  std::size_t built = BuildMergedText(list.get(), target.get(), merged.get(), measured);
  FUZZ_CHECK(built == measured);
  std::size_t oldLength = std::strlen(target.get());
  FUZZ_CHECK(oldLength <= built);
  FUZZ_CHECK(std::memcmp(merged.get() + built - oldLength, target.get(), oldLength) == 0);
  CheckNewEntries(merged.get(), built - oldLength, target.get());

  // A buffer one byte short: the merge must write nothing past it.
  if (measured > 0) {
    std::unique_ptr<char[]> shortBuffer(new char[measured - 1]);
    FUZZ_CHECK(BuildMergedText(list.get(), target.get(), shortBuffer.get(), measured - 1) == measured);
  }
  return 0;
}
