#pragma once
// The profile-file format ("[SECTION]" headers, "key=value" lines) as the
// system reads and writes it, on text in memory. The simulated platform
// keeps its profile files with these.
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
