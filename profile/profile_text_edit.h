#pragma once
// The system's edit of one key of a profile file, on the file's text in
// memory. The update record is written with it through the one handle the
// run has checked (profile_file.cpp): the system's profile functions open
// the file by its name, and would follow whatever link was put there while
// the confirmation waited. The bytes are those WritePrivateProfileStringA
// leaves in a file as the game's installer writes one (CR LF lines, no
// blanks around names and values, no blank lines).
#include <cstddef>

enum class ProfileEdit {
  Unchanged,    // the key already holds the value: the system writes nothing either
  Edited,       // the edited text is in out
  NotEditable,  // a UTF-16 text, or out too small
};

// The most bytes the edit adds to any text for these strings.
std::size_t ProfileEditGrowth(const char* section, const char* key, const char* value);

// Sets key to value in section of text (size bytes, any bytes at all) into
// out (capacity bytes, at least size + ProfileEditGrowth), its length in
// *outSize:
// - the key in the first section of that name: its line becomes
//   "key=value", the key spelled as the file spells it;
// - a section without the key: "key=value" after its last line that is not
//   blank;
// - no such section: "[section]" and "key=value" at the end.
// Names compare without regard to ASCII case and to blanks around them;
// lines end at CR LF, LF or CR; a first line may begin with UTF-8's byte
// order mark. An edited text ends with a line break, as the system ends
// every line it writes.
ProfileEdit EditProfileText(const char* text, std::size_t size, const char* section, const char* key,
                            const char* value, char* out, std::size_t capacity, std::size_t* outSize);
