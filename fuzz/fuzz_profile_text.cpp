// The simulated platform's model of the system's profile functions, and the
// program's own edit of one key, which the record is written with. The
// model: what is written must read back,
// and a write must leave the other sections alone, or the native tests of
// the profile logic would test a simulation unlike the system.
//
// Write-then-read holds only for names and values that the format can carry
// as they are; the fuzzer checks it when
//   - the section has no line break and no ']', and no blank at either end
//     (the reader takes "[name]" up to the first ']' and trims the name);
//   - the key is not empty, has no line break, no '=', no blank at either
//     end, and does not start with '[' (its line would read as a header);
//   - the value has no line break, no blank at either end, and is not
//     wrapped in a matching pair of quotes (the reader strips them).
// The other sections' lines must be kept under the same condition; without
// it a value may carry new headers of its own.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/sim/profile_text.h"
#include "profile/profile_text_edit.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }
bool BlankAtAnEnd(const std::string& s) { return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back())); }

bool Sane(const std::string& section, const std::string& key, const std::string& value) {
  if (HasLineBreak(section) || section.find(']') != std::string::npos || BlankAtAnEnd(section)) return false;
  if (key.empty() || HasLineBreak(key) || key.find('=') != std::string::npos || BlankAtAnEnd(key) || key[0] == '[') {
    return false;
  }
  if (HasLineBreak(value) || BlankAtAnEnd(value)) return false;
  bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
  return !quoted;
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Every line outside the (first) section named `section`, in order. Lines
// end at CR LF, LF or CR; a header is a line that, trimmed, starts with '['
// and has a ']'.
std::vector<std::string> LinesOutside(const std::string& text, const std::string& section) {
  std::vector<std::string> kept;
  bool inTarget = false;
  bool targetSeen = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    std::size_t next = end;
    if (end == std::string::npos) {
      end = next = text.size();
    } else {
      next = end + 1;
      if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    }
    std::string line = text.substr(at, end - at);
    std::string trimmed = Trim(line);
    std::size_t close = trimmed.find(']');
    if (!trimmed.empty() && trimmed[0] == '[' && close != std::string::npos) {
      inTarget = !targetSeen && Lower(Trim(trimmed.substr(1, close - 1))) == Lower(section);
      targetSeen = targetSeen || inTarget;
    }
    if (!inTarget) kept.push_back(line);
    at = next;
  }
  return kept;
}

// Up to the next zero byte, which it consumes.
std::string TakeField(const uint8_t*& at, const uint8_t* end) {
  const uint8_t* zero = at;
  while (zero < end && *zero != 0) ++zero;
  std::string field(reinterpret_cast<const char*>(at), static_cast<std::size_t>(zero - at));
  at = zero < end ? zero + 1 : end;
  return field;
}

// The blanks the program's edit trims, as the system trims them.
bool IsEditBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }
bool EditBlankAtAnEnd(const std::string& s) { return !s.empty() && (IsEditBlank(s.front()) || IsEditBlank(s.back())); }

// The program's own edit (profile/profile_text_edit.h) over the same input:
// any text but a UTF-16 one fits the room it asks for, and, for names and a
// value the format carries as they are, the edited text holds the value, so
// that editing it again changes nothing.
void CheckProgramEdit(const std::string& content, const std::string& section, const std::string& key,
                      const std::string& value) {
  std::vector<char> out(content.size() + ProfileEditGrowth(section.c_str(), key.c_str(), value.c_str()));
  std::size_t size = 0;
  const ProfileEdit edit = EditProfileText(content.data(), content.size(), section.c_str(), key.c_str(), value.c_str(),
                                           out.data(), out.size(), &size);
  const bool utf16 = content.size() >= 2 && (content.compare(0, 2, "\xFF\xFE") == 0 || content.compare(0, 2, "\xFE\xFF") == 0);
  FUZZ_CHECK((edit == ProfileEdit::NotEditable) == utf16);
  if (edit != ProfileEdit::Edited || !Sane(section, key, value)) return;
  if (EditBlankAtAnEnd(section) || EditBlankAtAnEnd(key) || EditBlankAtAnEnd(value)) return;
  const std::string edited(out.data(), size);
  FUZZ_CHECK(!edited.empty() && (edited.back() == '\n' || edited.back() == '\r'));
  std::vector<char> again(edited.size() + ProfileEditGrowth(section.c_str(), key.c_str(), value.c_str()));
  FUZZ_CHECK(EditProfileText(edited.data(), edited.size(), section.c_str(), key.c_str(), value.c_str(), again.data(),
                             again.size(), &size) == ProfileEdit::Unchanged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // section \0 key \0 value \0 content: names and values reach the profile
  // functions as C strings, the content is any bytes at all.
  const uint8_t* at = data;
  const uint8_t* end = data + size;
  std::string section = TakeField(at, end);
  std::string key = TakeField(at, end);
  std::string value = TakeField(at, end);
  std::string content(reinterpret_cast<const char*>(at), static_cast<std::size_t>(end - at));

  CheckProgramEdit(content, section, key, value);

  std::string before;
  ProfileTextGet(content, section, key, &before);
  std::string updated = ProfileTextSet(content, section, key, value);
  std::string read;
  bool found = ProfileTextGet(updated, section, key, &read);
  if (!Sane(section, key, value)) return 0;

  if (!found || read != value) {
    std::fprintf(stderr, "set [%s] %s=%s, read back %s \"%s\"\n", section.c_str(), key.c_str(), value.c_str(),
                 found ? "found" : "not found", read.c_str());
    std::abort();
  }
  FUZZ_CHECK(LinesOutside(updated, section) == LinesOutside(content, section));
  // Setting the same value again changes nothing.
  FUZZ_CHECK(ProfileTextSet(updated, section, key, value) == updated);
  return 0;
}
