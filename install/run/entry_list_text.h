#pragma once
// The entry-list merge on texts already in memory.
#include <cstddef>

// An entry longer than this (terminator included) is skipped.
constexpr std::size_t kEntrySize = 1024;

// Length of the text's first line including its terminator (CR LF, LF or CR).
std::size_t LineLength(const char* text);

// The merge itself, on texts already in memory. Writes into merged (which
// holds mergedSize bytes) and returns the merged text's length; with merged
// null it only measures.
std::size_t BuildMergedText(const char* list, const char* target, char* merged, std::size_t mergedSize);
