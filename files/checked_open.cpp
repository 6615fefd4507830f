#include "files/checked_open.h"

#include "core/updater_state.h"
#include "files/held_folders.h"

namespace {

bool StartsWithFolder(const char16_t* path, const char16_t* folder) {
  std::size_t i = 0;
  while (folder[i] != 0 && path[i] == folder[i]) ++i;
  return folder[i] == 0 && (path[i] == u'\\' || (i > 0 && folder[i - 1] == u'\\'));
}

// Under the folder's final path, where the system can name both. A folder
// whose own final path the system cannot name (a drive with no name of its
// own) leaves the other checks to stand alone.
bool LiesUnder(FileHandle folder, FileHandle file) {
  char16_t folderPath[kFinalPathUnits];
  char16_t filePath[kFinalPathUnits];
  if (PlatformFinalPath(folder, folderPath, kFinalPathUnits) != FinalPath::Known) return true;
  FinalPath known = PlatformFinalPath(file, filePath, kFinalPathUnits);
  if (known == FinalPath::NotAvailable) return true;
  return known == FinalPath::Known && StartsWithFolder(filePath, folderPath);
}

}  // namespace

FileHandle OpenFileInFolder(FileHandle folder, const char* path, ExistingAccess access) {
  if (folder == nullptr) return nullptr;
  FileHandle file = PlatformOpenExistingFile(path, access);
  if (file == nullptr) return nullptr;
  HandleFacts folderFacts{};
  HandleFacts facts{};
  if (PlatformHandleFacts(folder, &folderFacts) && PlatformHandleFacts(file, &facts) && facts.links == 1 &&
      !facts.reparsePoint && facts.volume == folderFacts.volume && LiesUnder(folder, file)) {
    return file;
  }
  PlatformCloseFile(file);
  return nullptr;
}

FileHandle OpenInstalledFile(const char* path, const char* entry) {
  if (!FolderStillHeld(entry)) return nullptr;
  return OpenFileInFolder(HeldFolderOf(entry), path, ExistingAccess::Read);
}
