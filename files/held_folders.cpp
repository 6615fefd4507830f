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

HoldResult Hold(const char* folder, std::size_t length) {
  if (FindHeld(folder, length) != nullptr) return HoldResult::Held;
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

FileHandle CreateFileFresh(const char* path, const char* entry, bool removeLeftover) {
  if (!FolderStillHeld(entry)) return nullptr;
  if (removeLeftover && PlatformQueryPath(path) != PathKind::Missing && !PlatformDeleteFile(path)) return nullptr;
  FileHandle file = PlatformOpenFile(path, FileMode::WriteCreateNew);
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
