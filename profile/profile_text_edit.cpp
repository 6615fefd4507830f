#include "profile/profile_text_edit.h"

#include <cstring>

#include "base/ascii_case.h"

namespace {

struct Line {
  std::size_t begin;  // first byte
  std::size_t end;    // one past the last byte before the line break
  std::size_t next;   // start of the following line
};

bool NextLine(const char* text, std::size_t size, std::size_t at, Line* line) {
  if (at >= size) return false;
  std::size_t end = at;
  while (end < size && text[end] != '\r' && text[end] != '\n') ++end;
  std::size_t next = end;
  if (next < size) {
    ++next;
    if (text[end] == '\r' && next < size && text[next] == '\n') ++next;
  }
  *line = {at, end, next};
  return true;
}

// The blanks the system trims around names and values (0x1A: a DOS file's end mark).
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }
bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

struct Span {
  const char* at;
  std::size_t length;
};

Span Trim(const char* text, std::size_t begin, std::size_t end) {
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return {text + begin, end - begin};
}

bool SameName(Span span, const char* name) {
  if (span.length != std::strlen(name)) return false;
  for (std::size_t i = 0; i < span.length; ++i) {
    if (LowerAscii(span.at[i]) != LowerAscii(name[i])) return false;
  }
  return true;
}

// The name of a "[name]" line, up to its last ']'.
bool SectionName(Span line, Span* name) {
  if (line.length == 0 || line.at[0] != '[') return false;
  std::size_t close = line.length;
  while (close > 1 && line.at[close - 1] != ']') --close;
  if (close <= 1) return false;
  *name = Trim(line.at, 1, close - 1);
  return true;
}

// Where the key's line is, or where a new one goes, in the first section
// of that name.
struct Place {
  bool sectionFound;
  bool keyFound;
  Line keyLine;         // when keyFound
  Span keyName;         // when keyFound: as the file spells it
  bool hasValue;        // when keyFound: the line has '='
  Span keyValue;        // when hasValue
  std::size_t insertAt;  // when only the section was found: after its last line that is not blank
  bool insertAfterEnd;   // that line ends the text without a line break
};

Place Find(const char* text, std::size_t size, std::size_t start, const char* section, const char* key) {
  Place place{};
  Line line{};
  for (std::size_t at = start; NextLine(text, size, at, &line); at = line.next) {
    const Span trimmed = Trim(text, line.begin, line.end);
    Span name{};
    if (SectionName(trimmed, &name)) {
      if (place.sectionFound) break;
      if (!SameName(name, section)) continue;
      place.sectionFound = true;
      place.insertAt = line.next;
      place.insertAfterEnd = line.end == line.next;
      continue;
    }
    if (!place.sectionFound || trimmed.length == 0) continue;
    place.insertAt = line.next;
    place.insertAfterEnd = line.end == line.next;
    const char* equals = static_cast<const char*>(std::memchr(trimmed.at, '=', trimmed.length));
    const std::size_t lineOffset = static_cast<std::size_t>(trimmed.at - text);
    const std::size_t nameEnd = equals != nullptr ? static_cast<std::size_t>(equals - text) : lineOffset + trimmed.length;
    const Span keyName = Trim(text, lineOffset, nameEnd);
    if (!SameName(keyName, key)) continue;
    place.keyFound = true;
    place.keyLine = line;
    place.keyName = keyName;
    place.hasValue = equals != nullptr;
    if (place.hasValue) place.keyValue = Trim(text, nameEnd + 1, lineOffset + trimmed.length);
    return place;
  }
  return place;
}

// Appends to out while it has room; one overflow spoils the whole edit.
struct Output {
  char* out;
  std::size_t capacity;
  std::size_t length;
  bool overflow;
};

void Put(Output* o, const char* bytes, std::size_t count) {
  if (o->overflow || count > o->capacity - o->length) {
    o->overflow = true;
    return;
  }
  if (count > 0) std::memcpy(o->out + o->length, bytes, count);
  o->length += count;
}

void PutText(Output* o, const char* text) { Put(o, text, std::strlen(text)); }

void PutEntry(Output* o, const char* key, std::size_t keyLength, const char* value) {
  Put(o, key, keyLength);
  PutText(o, "=");
  PutText(o, value);
}

}  // namespace

std::size_t ProfileEditGrowth(const char* section, const char* key, const char* value) {
  // Two line breaks before, "[", "]", "=", a line break after each of two
  // lines, and one more for a last line that had none.
  return std::strlen(section) + std::strlen(key) + std::strlen(value) + 16;
}

ProfileEdit EditProfileText(const char* text, std::size_t size, const char* section, const char* key,
                            const char* value, char* out, std::size_t capacity, std::size_t* outSize) {
  *outSize = 0;
  // The system reads a UTF-16 file as UTF-16 and writes it back so; bytes
  // edited here would break it.
  if (size >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF'))) {
    return ProfileEdit::NotEditable;
  }
  const std::size_t start = size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  const Place place = Find(text, size, start, section, key);
  const std::size_t valueLength = std::strlen(value);
  if (place.keyFound && place.hasValue && place.keyValue.length == valueLength &&
      std::memcmp(place.keyValue.at, value, valueLength) == 0) {
    return ProfileEdit::Unchanged;
  }

  Output o{out, capacity, 0, false};
  if (place.keyFound) {
    Put(&o, text, place.keyLine.begin);
    PutEntry(&o, place.keyName.at, place.keyName.length, value);
    Put(&o, text + place.keyLine.end, size - place.keyLine.end);
  } else if (place.sectionFound) {
    Put(&o, text, place.insertAt);
    if (place.insertAfterEnd) PutText(&o, "\r\n");
    PutEntry(&o, key, std::strlen(key), value);
    PutText(&o, "\r\n");
    Put(&o, text + place.insertAt, size - place.insertAt);
  } else {
    Put(&o, text, size);
    if (size > start && !IsLineBreak(text[size - 1])) PutText(&o, "\r\n");
    PutText(&o, "[");
    PutText(&o, section);
    PutText(&o, "]\r\n");
    PutEntry(&o, key, std::strlen(key), value);
    PutText(&o, "\r\n");
  }
  if (o.length > start && !IsLineBreak(o.out[o.length - 1])) PutText(&o, "\r\n");
  if (o.overflow) return ProfileEdit::NotEditable;
  *outSize = o.length;
  return ProfileEdit::Edited;
}
