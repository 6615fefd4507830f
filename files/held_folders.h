#pragma once
// The elevated run writes only inside the game's folder. The folders it
// writes into are opened before anything else, refused when one is a
// reparse point, and held without delete sharing to the end; each file it
// creates is created fresh and checked for where it leads before a byte is
// written to it; each file it renames or removes is opened through its held
// folder's handle and checked for where it lies before it is touched.
// Entries are paths under the install folder (g_state).
#include <cstddef>

#include "platform/platform.h"

enum class HoldResult { Held, Missing, Redirected, Failed };

// The install folder itself: held, its volume and final path noted.
HoldResult HoldInstallFolder();
// Each folder on the way from the install folder to entry's file. A folder
// that does not exist is left for the write into it to fail.
HoldResult HoldFoldersOf(const char* entry);
// Closes every held folder and the lock.
void ReleaseRunFolders();

// The folder of entry is, at its path, still the one held, and leads under
// the install folder.
bool FolderStillHeld(const char* entry);
// The handle the folder of entry is held by; null when it is not held.
FileHandle HeldFolderOf(const char* entry);

// Length of the folder part of entry ("dll" of "dll\RESOURCE.dll"; 0 for a
// file directly in the install folder).
std::size_t FolderLength(const char* entry);
// "<installFolder>\<folder of entry>", false when it does not fit.
bool FormFolderPath(const char* entry, char (&path)[kPathSize]);

// Renames the file at `from` to `to`, both in the folder of entry, through
// that folder's handle (`to` replaced only when `replace` is set): only
// while the held folder is no reparse point and leads under the install
// folder, and only a file that lies in that very folder.
bool MoveInHeldFolder(const char* entry, const char* from, const char* to, bool replace);
// Removes the file at path, in the folder of entry, the same way; a link in
// its place goes itself.
bool DeleteInHeldFolder(const char* entry, const char* path);
// The file lies, by its handle, on the install volume in entry's held
// folder (under the install folder where the system can say).
bool LiesInHeldFolder(FileHandle file, const char* entry);

// Creates the file at path, which lies in the folder of entry, for writing:
// only when that folder is still the held one and leads under the install
// folder; a leftover of that name is removed first when removeLeftover is
// set, and the new file is refused (and removed) when it has another name
// too, lies on another volume or leads outside the install folder. Null on
// failure.
FileHandle CreateFileFresh(const char* path, const char* entry, bool removeLeftover);
// The same, the file owned by the administrators with access for them and
// the system only (PlatformCreateAdministratorsFile), no leftover removed.
FileHandle CreateAdministratorsFile(const char* path, const char* entry);
