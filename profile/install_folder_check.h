#pragma once
// The install folder comes from a file that any user may edit, and the
// updater runs elevated: only a plain local folder is taken.
#include <cstddef>

// Steps to the next character as the system's "A" file functions do.
using NextCharFn = const char* (*)(const char* text);

// True for an absolute drive-letter path ("X:\..."): no device, UNC or "\\?\"
// form, no character a file name cannot hold, no component that is empty,
// ends in a dot or a space or names a device, and room after it for
// longestTail more bytes and the terminator within pathSize. One trailing
// backslash is allowed, as installers write one.
bool IsUsableInstallFolder(const char* folder, std::size_t longestTail, std::size_t pathSize, NextCharFn next);
