// The merge itself, on texts in memory: no files, no system.
#include "install/run/entry_list_text.h"

#include <cstring>

namespace {

const char kEntryEnd[] = ";\n";

void AppendBytes(char* merged, std::size_t mergedSize, std::size_t* length, const char* bytes, std::size_t count) {
  if (merged != nullptr && *length + count <= mergedSize) std::memcpy(merged + *length, bytes, count);
  *length += count;
}

}  // namespace

std::size_t LineLength(const char* text) {
  for (std::size_t p = 0;; ++p) {
    if (text[p] == '\0') return p;
    if (text[p] == '\r') return text[p + 1] == '\n' ? p + 2 : p + 1;
    if (text[p] == '\n') return p + 1;
  }
}

std::size_t BuildMergedText(const char* list, const char* target, char* merged, std::size_t mergedSize) {
  std::size_t length = 0;
  for (const char* at = list; *at != '\0'; at += LineLength(at)) {
    // An entry runs to the next ';' even across line ends.
    std::size_t entryLength = std::strcspn(at, ";");
    // An entry that does not fit the entry buffer is not a real entry; skip
    // it rather than cut it into something that was never listed.
    if (entryLength >= kEntrySize) continue;
    char entry[kEntrySize];
    std::memcpy(entry, at, entryLength);
    entry[entryLength] = '\0';
    if (entry[0] == '\n' || entry[0] == '\r') continue;
    if (std::strstr(target, entry) != nullptr) continue;
    AppendBytes(merged, mergedSize, &length, entry, entryLength);
    AppendBytes(merged, mergedSize, &length, kEntryEnd, 2);
  }
  AppendBytes(merged, mergedSize, &length, target, std::strlen(target));
  return length;
}

