#include "install/switch/switch_journal.h"

#include <cstring>

const char kJournalHead[] = "UpDate switch journal 1\r\n";
const char kJournalEnd[] = ".\r\n";

namespace {

bool IsNameByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
         c == '-';
}

// The lines between the head and the end mark: each is "+ " or "- ", an
// entry, then CR LF. Calls visit for each one until it returns false; false
// when the text is not in that form.
template <typename Visit>
bool WalkTargets(const char* text, std::size_t size, std::size_t longestEntry, const char** after, Visit visit) {
  std::size_t headLength = std::strlen(kJournalHead);
  if (size < headLength || std::memcmp(text, kJournalHead, headLength) != 0) return false;
  const char* p = text + headLength;
  const char* end = text + size;
  int index = 0;
  while (true) {
    std::size_t endLength = std::strlen(kJournalEnd);
    if (static_cast<std::size_t>(end - p) >= endLength && std::memcmp(p, kJournalEnd, endLength) == 0) {
      *after = p + endLength;
      return index > 0;
    }
    if (end - p < 2 || (p[0] != '+' && p[0] != '-') || p[1] != ' ') return false;
    const char* entry = p + 2;
    const char* q = entry;
    while (q < end && *q != '\r') ++q;
    if (end - q < 2 || q[1] != '\n') return false;
    std::size_t length = static_cast<std::size_t>(q - entry);
    if (!IsJournalEntryName(entry, length, longestEntry)) return false;
    if (!visit(index, entry, length, p[0] == '+')) {
      *after = nullptr;
      return true;
    }
    ++index;
    p = q + 2;
  }
}

}  // namespace

bool IsJournalEntryName(const char* entry, std::size_t length, std::size_t longestEntry) {
  if (length == 0 || length > longestEntry) return false;
  std::size_t componentStart = 0;
  for (std::size_t i = 0; i <= length; ++i) {
    if (i == length || entry[i] == '\\') {
      std::size_t componentLength = i - componentStart;
      // Empty, "." and ".." all end in a dot or have nothing.
      if (componentLength == 0 || entry[i - 1] == '.') return false;
      componentStart = i + 1;
    } else if (!IsNameByte(entry[i])) {
      return false;
    }
  }
  return true;
}

bool AppendJournalLine(char* out, std::size_t size, const char* entry, bool existed) {
  std::size_t used = std::strlen(out);
  std::size_t entryLength = std::strlen(entry);
  if (used + 2 + entryLength + 2 >= size) return false;
  char* p = out + used;
  *p++ = existed ? '+' : '-';
  *p++ = ' ';
  std::memcpy(p, entry, entryLength);
  p += entryLength;
  *p++ = '\r';
  *p++ = '\n';
  *p = '\0';
  return true;
}

JournalState ReadJournal(const char* text, std::size_t size, std::size_t longestEntry) {
  const char* after = nullptr;
  if (!WalkTargets(text, size, longestEntry, &after, [](int, const char*, std::size_t, bool) { return true; })) {
    return JournalState::Void;
  }
  std::size_t rest = static_cast<std::size_t>(text + size - after);
  if (rest == 0) return JournalState::Uncommitted;
  if (rest == 1 && *after == kJournalCommitMark) return JournalState::Committed;
  return JournalState::Void;
}

bool JournalTarget(const char* text, std::size_t size, int index, char* entry, std::size_t entrySize, bool* existed) {
  bool found = false;
  const char* after = nullptr;
  WalkTargets(text, size, entrySize - 1, &after, [&](int i, const char* name, std::size_t length, bool had) {
    if (i != index) return true;
    std::memcpy(entry, name, length);
    entry[length] = '\0';
    *existed = had;
    found = true;
    return false;
  });
  return found;
}
