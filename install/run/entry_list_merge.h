#pragma once
#include <cstddef>

// Result codes of MergeEntryList.
enum MergeResult {
  MERGE_OK = 0,              // merged, or the build has no list
  MERGE_LIST_NOT_LOADED = 1,
  MERGE_NO_MEMORY_LIST = 2,
  MERGE_TARGET_UNREADABLE = 3,
  MERGE_NO_MEMORY_TARGET = 4,
  MERGE_NO_MEMORY_MERGED = 5,
  MERGE_TARGET_UNWRITABLE = 6,
};

// Adds to the target text file every entry of the list resource `listName`
// that the file does not contain yet; the new entries go first. The target is
// the file of the same name under the install folder; the merged text is
// written beside it, as its new file, and *written says whether one was
// made (also on a failed write, so that it can be removed). The build passes
// its entry-list name; an empty name merges nothing.
int MergeEntryList(const char* listName, bool* written);

