#pragma once
// The handles the program holds on files, folders and lock files. Files and
// the elevated run's handles both hand them out, and one close takes back
// any of them, so the table is theirs together.
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace sim::file_table {

struct SimFile {
  std::FILE* stream;  // null for a folder or a lock
  std::string windowsPath;
  bool deleteOnClose = false;
  // A symbolic link opened as itself: its stream is its own empty data, its
  // facts and final path are the link's, not its target's.
  bool linkItself = false;
};

FileHandle Add(std::FILE* stream, const std::string& windowsPath, bool deleteOnClose);
SimFile* Of(FileHandle file);
// Closes the stream and, for a lock, removes its file.
void Close(FileHandle file);
// Hands what every open file still buffers to its host file.
void DrainStreams();
// A lock the program itself holds on this path.
bool LockHeld(const std::string& windowsPath);

}  // namespace sim::file_table
