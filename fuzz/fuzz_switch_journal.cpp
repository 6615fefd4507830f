// The switch journal lies in a folder any user may write, and the elevated
// program reads it at every start. Whatever the bytes, a reading that is not
// void names only entries in the payload form, and the journal is exactly
// what a switch would have written for those targets: nothing in it goes
// unread, and nothing read is outside the install folder.
#include <string>

#include "fuzz/fuzz_support.h"
#include "install/switch/switch_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::size_t longest = 1 + in.Byte() % 250;
  const char* text = reinterpret_cast<const char*>(in.rest());
  const std::size_t length = in.restSize();
  const JournalState state = ReadJournal(text, length, longest);
  if (state == JournalState::Void) return 0;

  std::string rebuilt = kJournalHead;
  char entry[256];
  bool existed = false;
  int count = 0;
  while (JournalTarget(text, length, count, entry, longest + 1, &existed)) {
    const std::string name = entry;
    FUZZ_CHECK(IsJournalEntryName(name.c_str(), name.size(), longest));
    FUZZ_CHECK(name.find(':') == std::string::npos && name.find('/') == std::string::npos);
    // No component empty, "." or ".." (nor any ending in a dot).
    std::size_t start = 0;
    while (true) {
      std::size_t end = name.find('\\', start);
      const std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
      FUZZ_CHECK(!component.empty() && component.back() != '.');
      if (end == std::string::npos) break;
      start = end + 1;
    }
    char line[300] = "";
    FUZZ_CHECK(AppendJournalLine(line, sizeof line, name.c_str(), existed));
    rebuilt += line;
    ++count;
  }
  FUZZ_CHECK(count > 0);
  rebuilt += kJournalEnd;
  if (state == JournalState::Committed) rebuilt += kJournalCommitMark;
  FUZZ_CHECK(rebuilt == std::string(text, length));
  return 0;
}
