#pragma once
// The profile-file format ("[SECTION]" headers, "key=value" lines) as the
// system reads and writes it, on text in memory. The simulated platform
// reads its profile files with ProfileTextGet. ProfileTextSet was its model
// of the system's write; the program now writes its record with an edit of
// its own (profile/profile_text_edit.h, held to the system's under Wine),
// and nothing in the simulation calls ProfileTextSet any more.
#include <string>

// Finds key in section (both without regard to ASCII case); blanks around the
// key and the value are not part of them, nor are quotes around the value.
bool ProfileTextGet(const std::string& content, const std::string& section, const std::string& key,
                    std::string* value);

// Returns content with key set to value in section: an existing line is
// rewritten in place, a new key goes at the end of its section, a new
// section at the end of the text. Everything else is kept byte for byte.
std::string ProfileTextSet(const std::string& content, const std::string& section, const std::string& key,
                           const std::string& value);
