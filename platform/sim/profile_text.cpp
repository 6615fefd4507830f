#include "platform/sim/profile_text.h"

#include "base/ascii_case.h"

#include <cstddef>

namespace {

struct Line {
  std::size_t begin;  // first byte
  std::size_t end;    // one past the last byte before the line break
  std::size_t next;   // start of the following line
};

bool NextLine(const std::string& text, std::size_t at, Line* line) {
  if (at >= text.size()) return false;
  std::size_t end = text.find_first_of("\r\n", at);
  if (end == std::string::npos) {
    *line = {at, text.size(), text.size()};
    return true;
  }
  std::size_t next = end + 1;
  if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
  *line = {at, end, next};
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// The section name of a "[name]" line, or false for any other line.
bool SectionName(const std::string& line, std::string* name) {
  std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

// The key and value of a "key=value" line.
bool KeyValue(const std::string& line, std::string* key, std::string* value) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return !key->empty();
}

// Where the section's body lies: lines after its header up to the next header.
struct SectionSpan {
  bool found;
  std::size_t bodyBegin;
  std::size_t bodyEnd;  // start of the next section's header, or the end
};

SectionSpan FindSection(const std::string& content, const std::string& section) {
  SectionSpan span{false, 0, content.size()};
  Line line{};
  for (std::size_t at = 0; NextLine(content, at, &line); at = line.next) {
    std::string name;
    if (!SectionName(content.substr(line.begin, line.end - line.begin), &name)) continue;
    if (span.found) {
      span.bodyEnd = line.begin;
      return span;
    }
    if (SameIgnoringAsciiCase(name, section)) {
      span.found = true;
      span.bodyBegin = line.next;
    }
  }
  return span;
}

}  // namespace

bool ProfileTextGet(const std::string& content, const std::string& section, const std::string& key,
                    std::string* value) {
  SectionSpan span = FindSection(content, section);
  if (!span.found) return false;
  Line line{};
  for (std::size_t at = span.bodyBegin; at < span.bodyEnd && NextLine(content, at, &line); at = line.next) {
    std::string k;
    std::string v;
    if (!KeyValue(content.substr(line.begin, line.end - line.begin), &k, &v) || !SameIgnoringAsciiCase(k, key)) continue;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    *value = v;
    return true;
  }
  return false;
}

std::string ProfileTextSet(const std::string& content, const std::string& section, const std::string& key,
                           const std::string& value) {
  const std::string entry = key + "=" + value;
  SectionSpan span = FindSection(content, section);
  if (!span.found) {
    std::string out = content;
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += "\r\n";
    return out + "[" + section + "]\r\n" + entry + "\r\n";
  }
  Line line{};
  std::size_t lastContentEnd = span.bodyBegin;  // after the last non-blank line of the section
  for (std::size_t at = span.bodyBegin; at < span.bodyEnd && NextLine(content, at, &line); at = line.next) {
    std::string text = content.substr(line.begin, line.end - line.begin);
    std::string k;
    std::string v;
    if (KeyValue(text, &k, &v) && SameIgnoringAsciiCase(k, key)) {
      return content.substr(0, line.begin) + entry + content.substr(line.end);
    }
    if (!Trim(text).empty()) lastContentEnd = line.next;
  }
  std::string before = content.substr(0, lastContentEnd);
  if (!before.empty() && before.back() != '\n' && before.back() != '\r') before += "\r\n";
  return before + entry + "\r\n" + content.substr(lastContentEnd);
}
