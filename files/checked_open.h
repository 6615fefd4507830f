#pragma once
// Existing files the elevated run reads, or reads and rewrites, in folders a
// user may change: opened as themselves, never through a reparse point in
// their place, and kept only when they are plain files of the folder they
// are named in. A link there would otherwise put the bytes of a file
// elsewhere into what the run writes where every user can read it, or let
// the run's write land in a file of the user's choosing.
#include "platform/platform.h"

// The existing file at path, named directly in the folder that `folder` is
// held open as: null when it cannot be opened, or has another name too, is
// a reparse point, lies on another volume than the folder or, where the
// system can say, outside the folder's final path.
FileHandle OpenFileInFolder(FileHandle folder, const char* path, ExistingAccess access);

// The existing file at path, which lies in the folder of entry, for reading:
// only while that folder is still the one held since the run's start
// (files/held_folders.h), and checked as OpenFileInFolder checks it.
FileHandle OpenInstalledFile(const char* path, const char* entry);
