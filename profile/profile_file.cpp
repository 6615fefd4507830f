#include "profile/profile_file.h"

#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "base/text_format.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "files/checked_open.h"
#include "files/read_pieces.h"
#include "files/write_all.h"
#include "platform/platform.h"
#include "profile/profile_text_edit.h"

namespace {

const char kInstallSection[] = "INSTALL";
const char kInstallFolderKey[] = "InstallFold";
const char kUpdateSection[] = "UPDATE";
const char kUpdateRecordKey[] = "NonActivation";
const char kMissing[] = "*";

// A profile file is a few lines; the record is not written into anything
// larger.
constexpr uint64_t kLargestProfile = 1u << 20;

// The maker's folder and the profile file in it. A path that does not fit
// is treated like a file that is not there.
bool FormProfilePaths(char (&makerFolder)[kPathSize], char (&path)[kPathSize]) {
  char fileName[kPathSize];
  return JoinPath(makerFolder, sizeof makerFolder, g_state.appDataFolder, kUpdateBuild.makerFolder) &&
         FormatText(fileName, sizeof fileName, "%s.ini", kUpdateBuild.productAbbreviation) &&
         JoinPath(path, kPathSize, makerFolder, fileName);
}

bool FormProfilePath(char (&path)[kPathSize]) {
  char makerFolder[kPathSize];
  return FormProfilePaths(makerFolder, path);
}

// Reads the whole file, sets the record in its text and writes the text
// back through the same handle, telling afterStep after the read: the
// window is still up, and the flush that follows may wait for the disk.
void RewriteWithRecord(FileHandle file, StepDone afterStep) {
  uint64_t size = 0;
  if (!PlatformFileSize(file, &size) || size > kLargestProfile) return;
  const std::size_t room =
      static_cast<std::size_t>(size) + ProfileEditGrowth(kUpdateSection, kUpdateRecordKey, kUpdateBuild.updateNumber);
  char* text = static_cast<char*>(PlatformAllocZeroed(static_cast<std::size_t>(size) + 1));
  char* edited = text != nullptr ? static_cast<char*>(PlatformAllocZeroed(room)) : nullptr;
  uint64_t done = 0;
  std::size_t editedSize = 0;
  if (edited != nullptr &&
      ReadInPieces(file, reinterpret_cast<uint8_t*>(text), static_cast<uint32_t>(size), ReadInto::Whole, nullptr,
                   nullptr, &done, afterStep) &&
      done == size &&
      EditProfileText(text, static_cast<std::size_t>(size), kUpdateSection, kUpdateRecordKey,
                      kUpdateBuild.updateNumber, edited, room, &editedSize) == ProfileEdit::Edited &&
      PlatformSeekFile(file, 0) && WriteAll(file, edited, static_cast<uint32_t>(editedSize)) &&
      PlatformSetFileEnd(file)) {
    // The record must not reach the disk before the switch it records; the
    // switch is on the disk by now, and the record follows it there.
    PlatformFlushFile(file);
  }
  PlatformFree(edited);
  PlatformFree(text);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool LocateInstallation() {
  char folder[kPathSize] = "";
  if (!PlatformGetSpecialFolder(SpecialFolder::UserAppData, folder) &&
      !PlatformGetSpecialFolder(SpecialFolder::CommonAppData, folder)) {
    ShowMessage(MSG_APPDATA_NOT_FOUND);
    return false;
  }
  CopyText(g_state.appDataFolder, sizeof g_state.appDataFolder, folder);

  char path[kPathSize];
  if (!FormProfilePath(path)) return false;
  if (PlatformQueryPath(path) != PathKind::File) return false;

  PlatformReadProfileString(kInstallSection, kInstallFolderKey, kMissing, g_state.installFolder,
                            sizeof g_state.installFolder, path);
  return true;
}

double ParseRecordNumber(const char* text) {
  // Only the plain decimal form counts: hexadecimal, "inf" and "nan" are not
  // numbers in a record.
  const char* p = text;
  while (IsBlank(*p)) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  const char* digitsStart = p;
  while (IsDigit(*p)) ++p;
  bool hasDigits = p != digitsStart;
  if (*p == '.') {
    ++p;
    const char* fraction = p;
    while (IsDigit(*p)) ++p;
    hasDigits = hasDigits || p != fraction;
  }
  if (!hasDigits) return 0.0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (IsDigit(*q)) {
      while (IsDigit(*q)) ++q;
      p = q;
    }
  }
  // Records are read into 255 bytes, so the number always fits whole.
  char number[256];
  std::size_t length = static_cast<std::size_t>(p - start);
  if (length >= sizeof number) length = sizeof number - 1;
  std::memcpy(number, start, length);
  number[length] = '\0';
  return std::strtod(number, nullptr);
}

bool IsUpdateRecorded() {
  char path[kPathSize];
  if (!FormProfilePath(path)) return false;
  char record[255];
  PlatformReadProfileString(kUpdateSection, kUpdateRecordKey, kMissing, record, sizeof record, path);
  if (record[0] == kMissing[0]) return false;

  float thisBuild = static_cast<float>(ParseRecordNumber(kUpdateBuild.updateNumber));
  float recorded = static_cast<float>(ParseRecordNumber(record));
  // An older update on record means this one is still needed: asking
  // whether to go on although "no update was needed" would be untrue.
  return recorded >= thisBuild;
}

bool RecordUpdate(StepDone afterStep) {
  char makerFolder[kPathSize];
  char path[kPathSize];
  if (!FormProfilePaths(makerFolder, path)) return true;
  // The folder and the file are the user's, who may have put a link in
  // either place while the confirmation waited: the record goes only into
  // the folder's own plain file, through the one handle that was checked,
  // with the folder held so that nobody swaps it meanwhile.
  FileHandle folder = nullptr;
  if (PlatformOpenFolder(makerFolder, &folder) != FolderOpen::Opened) return true;
  FileHandle file = OpenFileInFolder(folder, path, ExistingAccess::ReadWrite);
  if (file != nullptr) {
    RewriteWithRecord(file, afterStep);
    PlatformCloseFile(file);
  }
  PlatformCloseFile(folder);
  return true;
}
