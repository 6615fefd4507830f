#pragma once
// The handles the program holds on files, folders and lock files. Files and
// the elevated run's handles both hand them out, and one close takes back
// any of them, so the table is theirs together, with the files that other
// processes hold open.
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace sim::file_table {

struct SimFile {
  std::FILE* stream;  // null for a folder, a lock or a file opened in a folder
  std::string windowsPath;
  bool deleteOnClose = false;
  // A held folder's own descriptor, or one of a file opened in a folder (the
  // file itself, a link never followed): the handle keeps what it opened
  // whatever is later put at its path. -1 for the others.
  int descriptor = -1;
  // A symbolic link opened as itself: its stream is its own empty data, its
  // facts and final path are the link's, not its target's.
  bool linkItself = false;
  // A flush begun and not yet ended, and what it found.
  bool flushPending = false;
  bool flushSucceeded = false;
};

FileHandle Add(std::FILE* stream, const std::string& windowsPath, bool deleteOnClose, int descriptor = -1);
SimFile* Of(FileHandle file);
// Closes the stream or descriptor and, for a lock, removes its file.
void Close(FileHandle file);
// Hands what every open file still buffers to its host file.
void DrainStreams();
// A lock the program itself holds on this path.
bool LockHeld(const std::string& windowsPath);
// Where on the host the handle's file or folder is now: through its stream
// or descriptor where it has one, else through its path.
std::string HostPathNow(const SimFile& file);
// Some handle of the program's lies inside this host folder (the folder
// itself not counted): nobody else can remove it, nor so empty the folder.
bool AnyOpenInside(const std::string& hostFolder);

// Files another process holds open without write sharing (no delete sharing
// either): they can be read, not opened for writing, renamed or removed.
void HoldElsewhere(const std::string& windowsPath);
bool HeldElsewhere(const std::string& windowsPath);

}  // namespace sim::file_table
