#pragma once
#include <cstdarg>
#include <cstddef>

// A bounded formatter for the directives the updater's texts use:
// %s, %d, %3d (any width), %08X (zero padding), %%.
// Writes at most size bytes including the terminator. When the result does
// not fit it is cut at a character boundary of code page 932 (never between
// the two bytes of a double-byte character) and false is returned.
bool FormatTextV(char* out, std::size_t size, const char* format, va_list args);
bool FormatText(char* out, std::size_t size, const char* format, ...);

// True when byte may start a double-byte character of code page 932.
bool IsLeadByte932(unsigned char byte);

// Joins a folder and a path under it with one backslash; nothing is
// normalised. False, with out cut, when the path does not fit: callers treat
// such a path like a file that is not there.
bool JoinPath(char* out, std::size_t size, const char* folder, const char* relative);

// Final component of a backslash-separated path (the part after the last '\').
const char* FinalPathComponent(const char* path);

// Copies source into out (size bytes, terminator included); false, with out
// cut as FormatText cuts, when it does not fit.
bool CopyText(char* out, std::size_t size, const char* source);
