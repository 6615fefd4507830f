#pragma once
// The switch journal's text, apart from any file: what the switch writes
// before its first rename and what the next start reads back.
//
//   UpDate switch journal 1\r\n
//   + LMH.exe\r\n            a target that existed before the switch
//   - dll\EXTRA.dat\r\n      one that did not
//   .\r\n                    the list is whole
//   C                        the switch is committed (one byte, appended last)
//
// The journal lies in a folder any user may write: a reading trusts nothing
// that is not exactly in this form.
#include <cstddef>

extern const char kJournalHead[];
extern const char kJournalEnd[];
constexpr char kJournalCommitMark = 'C';

enum class JournalState { Void, Uncommitted, Committed };

// A name under the install folder in the form a payload entry takes:
// components of ASCII letters, digits, '.', '_' and '-' joined by single
// backslashes, none empty, "." or "..", none ending in a dot; at most
// longestEntry bytes.
bool IsJournalEntryName(const char* entry, std::size_t length, std::size_t longestEntry);

// Appends one target's line to out (size bytes, terminator included); false
// when it does not fit.
bool AppendJournalLine(char* out, std::size_t size, const char* entry, bool existed);

// Reads a journal's bytes. Void for anything but the whole form above with
// at least one target.
JournalState ReadJournal(const char* text, std::size_t size, std::size_t longestEntry);

// The index-th target of a journal that ReadJournal did not find void.
// False past the last one.
bool JournalTarget(const char* text, std::size_t size, int index, char* entry, std::size_t entrySize, bool* existed);
