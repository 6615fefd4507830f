#include "files/held_folders.h"

#include <cstring>

#include "base/text_format.h"
#include "core/updater_state.h"

namespace {

bool FormHeldPath(const char* folder, std::size_t length, char (&path)[kPathSize]) {
  if (length == 0) return CopyText(path, sizeof path, g_state.installFolder);
  char relative[kPathSize];
  if (length >= sizeof relative) return false;
  std::memcpy(relative, folder, length);
  relative[length] = '\0';
  return JoinPath(path, sizeof path, g_state.installFolder, relative);
}

const HeldFolder* FindHeld(const char* folder, std::size_t length) {
  for (int i = 0; i < g_state.heldFolderCount; ++i) {
    const HeldFolder& held = g_state.heldFolders[i];
    if (std::strlen(held.entry) == length && std::strncmp(held.entry, folder, length) == 0) return &held;
  }
  return nullptr;
}

bool StartsWithFolder(const char16_t* path, const char16_t* folder) {
  std::size_t i = 0;
  while (folder[i] != 0 && path[i] == folder[i]) ++i;
  if (folder[i] != 0) return false;
  return path[i] == 0 || path[i] == u'\\' || (i > 0 && folder[i - 1] == u'\\');
}

// Under the install folder's final path, where the system can say.
bool LeadsHome(FileHandle handle) {
  if (!g_state.installFinalPathKnown) return true;
  char16_t path[kFinalPathUnits];
  FinalPath known = PlatformFinalPath(handle, path, kFinalPathUnits);
  if (known == FinalPath::NotAvailable) return true;
  return known == FinalPath::Known && StartsWithFolder(path, g_state.installFinalPath);
}

// The folder's handle as held, while the folder is still no reparse point
// and still leads under the install folder: a held folder cannot be renamed
// or removed, but an empty one can still be made a mount point.
FileHandle HeldHandle(const char* folder, std::size_t length) {
  const HeldFolder* held = FindHeld(folder, length);
  HandleFacts facts{};
  if (held == nullptr || !PlatformHandleFacts(held->handle, &facts) || facts.reparsePoint ||
      !LeadsHome(held->handle)) {
    return nullptr;
  }
  return held->handle;
}

// path names something directly inside folder, not the folder itself nor
// anything deeper.
bool DirectlyIn(const char16_t* path, const char16_t* folder) {
  if (!StartsWithFolder(path, folder)) return false;
  std::size_t i = 0;
  while (folder[i] != 0) ++i;
  if (path[i] == u'\\') {
    ++i;
  } else if (i == 0 || folder[i - 1] != u'\\') {
    return false;
  }
  if (path[i] == 0) return false;
  for (; path[i] != 0; ++i) {
    if (path[i] == u'\\') return false;
  }
  return true;
}

// The file opened through folder lies on the install volume, directly in
// that folder, where the system can say.
bool LiesIn(FileHandle file, FileHandle folder) {
  HandleFacts facts{};
  if (!PlatformHandleFacts(file, &facts) || facts.volume != g_state.installVolume) return false;
  if (!g_state.installFinalPathKnown) return true;
  char16_t folderPath[kFinalPathUnits];
  char16_t filePath[kFinalPathUnits];
  return PlatformFinalPath(folder, folderPath, kFinalPathUnits) == FinalPath::Known &&
         PlatformFinalPath(file, filePath, kFinalPathUnits) == FinalPath::Known && DirectlyIn(filePath, folderPath);
}

// The file at path, in the folder of entry, opened through the held folder's
// handle and found where it should be; *folder is that handle.
FileHandle OpenInHeldFolder(const char* entry, const char* path, FileHandle* folder) {
  *folder = HeldHandle(entry, FolderLength(entry));
  FileHandle file = *folder != nullptr ? PlatformOpenInFolder(*folder, FinalPathComponent(path)) : nullptr;
  if (file != nullptr && !LiesIn(file, *folder)) {
    PlatformCloseFile(file);
    return nullptr;
  }
  return file;
}

// A file just created at path, kept only when it has one name, is no
// reparse point and lies on the install volume under the install folder;
// else closed and removed.
FileHandle KeepIfHome(FileHandle file, const char* path) {
  if (file == nullptr) return nullptr;
  HandleFacts facts{};
  if (PlatformHandleFacts(file, &facts) && facts.links == 1 && !facts.reparsePoint &&
      facts.volume == g_state.installVolume && LeadsHome(file)) {
    return file;
  }
  PlatformCloseFile(file);
  PlatformDeleteFile(path);
  return nullptr;
}

HoldResult Hold(const char* folder, std::size_t length) {
  // Held before: still held only while it is still what it was.
  if (FindHeld(folder, length) != nullptr) {
    return HeldHandle(folder, length) != nullptr ? HoldResult::Held : HoldResult::Redirected;
  }
  char path[kPathSize];
  if (!FormHeldPath(folder, length, path)) return HoldResult::Failed;
  FileHandle handle = nullptr;
  FolderOpen opened = PlatformOpenFolder(path, &handle);
  if (opened == FolderOpen::Missing) return HoldResult::Missing;
  if (opened == FolderOpen::ReparsePoint) return HoldResult::Redirected;
  if (opened != FolderOpen::Opened) return HoldResult::Failed;
  HandleFacts facts{};
  HoldResult result = HoldResult::Held;
  if (g_state.heldFolderCount == kMostHeldFolders || !PlatformHandleFacts(handle, &facts)) {
    result = HoldResult::Failed;
  } else if (facts.reparsePoint || (length > 0 && (facts.volume != g_state.installVolume || !LeadsHome(handle)))) {
    result = HoldResult::Redirected;
  }
  if (result != HoldResult::Held) {
    PlatformCloseFile(handle);
    return result;
  }
  HeldFolder& held = g_state.heldFolders[g_state.heldFolderCount++];
  std::memcpy(held.entry, folder, length);
  held.entry[length] = '\0';
  held.handle = handle;
  return HoldResult::Held;
}

}  // namespace

std::size_t FolderLength(const char* entry) {
  const char* last = FinalPathComponent(entry);
  return last == entry ? 0 : static_cast<std::size_t>(last - entry - 1);
}

bool FolderStillHeld(const char* entry) {
  std::size_t length = FolderLength(entry);
  const HeldFolder* held = FindHeld(entry, length);
  char path[kPathSize];
  if (held == nullptr || !FormHeldPath(entry, length, path)) return false;
  FileHandle now = nullptr;
  if (PlatformOpenFolder(path, &now) != FolderOpen::Opened) return false;
  HandleFacts heldFacts{};
  HandleFacts nowFacts{};
  bool same = PlatformHandleFacts(held->handle, &heldFacts) && PlatformHandleFacts(now, &nowFacts) &&
              heldFacts.volume == nowFacts.volume && heldFacts.fileIndex == nowFacts.fileIndex &&
              nowFacts.volume == g_state.installVolume && !nowFacts.reparsePoint &&
              LeadsHome(held->handle) && LeadsHome(now);
  PlatformCloseFile(now);
  return same;
}

FileHandle HeldFolderOf(const char* entry) {
  const HeldFolder* held = FindHeld(entry, FolderLength(entry));
  return held != nullptr ? held->handle : nullptr;
}

HoldResult HoldInstallFolder() {
  HoldResult result = Hold("", 0);
  if (result != HoldResult::Held) return result;
  HandleFacts facts{};
  if (!PlatformHandleFacts(g_state.heldFolders[0].handle, &facts)) return HoldResult::Failed;
  g_state.installVolume = facts.volume;
  // Where the system cannot name the folder's own final path (a drive with
  // no name of its own), the other checks stand alone.
  FinalPath known = PlatformFinalPath(g_state.heldFolders[0].handle, g_state.installFinalPath, kFinalPathUnits);
  g_state.installFinalPathKnown = known == FinalPath::Known;
  return HoldResult::Held;
}

HoldResult HoldFoldersOf(const char* entry) {
  std::size_t length = FolderLength(entry);
  for (std::size_t i = 1; i <= length; ++i) {
    if (i < length && entry[i] != '\\') continue;
    HoldResult result = Hold(entry, i);
    if (result != HoldResult::Held) return result;
  }
  return HoldResult::Held;
}

void ReleaseRunFolders() {
  PlatformCloseFile(g_state.runLock);
  g_state.runLock = nullptr;
  for (int i = 0; i < g_state.heldFolderCount; ++i) PlatformCloseFile(g_state.heldFolders[i].handle);
  g_state.heldFolderCount = 0;
}

bool FormFolderPath(const char* entry, char (&path)[kPathSize]) {
  return FormHeldPath(entry, FolderLength(entry), path);
}

bool MoveInHeldFolder(const char* entry, const char* from, const char* to, bool replace) {
  FileHandle folder = nullptr;
  FileHandle file = OpenInHeldFolder(entry, from, &folder);
  if (file == nullptr) return false;
  bool moved = PlatformRenameOpened(file, folder, FinalPathComponent(to), replace);
  PlatformCloseFile(file);
  return moved;
}

bool DeleteInHeldFolder(const char* entry, const char* path) {
  FileHandle folder = nullptr;
  FileHandle file = OpenInHeldFolder(entry, path, &folder);
  if (file == nullptr) return false;
  bool removed = PlatformRemoveOpened(file);
  PlatformCloseFile(file);
  return removed;
}

bool LiesInHeldFolder(FileHandle file, const char* entry) {
  FileHandle folder = HeldHandle(entry, FolderLength(entry));
  return folder != nullptr && LiesIn(file, folder);
}

FileHandle CreateFileFresh(const char* path, const char* entry, bool removeLeftover) {
  if (!FolderStillHeld(entry)) return nullptr;
  if (removeLeftover && PlatformQueryPath(path) != PathKind::Missing && !DeleteInHeldFolder(entry, path)) {
    return nullptr;
  }
  return KeepIfHome(PlatformOpenFile(path, FileMode::WriteCreateNew), path);
}

FileHandle CreateAdministratorsFile(const char* path, const char* entry) {
  if (!FolderStillHeld(entry)) return nullptr;
  return KeepIfHome(PlatformCreateAdministratorsFile(path), path);
}
