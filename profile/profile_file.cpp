#include "profile/profile_file.h"

#include <cstdlib>
#include <cstring>

#include "core/messages.h"
#include "base/text_format.h"
#include "core/update_build.h"
#include "core/updater_state.h"
#include "platform/platform.h"

namespace {

const char kInstallSection[] = "INSTALL";
const char kInstallFolderKey[] = "InstallFold";
const char kUpdateSection[] = "UPDATE";
const char kUpdateRecordKey[] = "NonActivation";
const char kMissing[] = "*";

// A path that does not fit is treated like a file that is not there.
bool FormProfilePath(char* path) {
  char makerFolder[kPathSize];
  char fileName[kPathSize];
  return JoinPath(makerFolder, sizeof makerFolder, g_state.appDataFolder, kUpdateBuild.makerFolder) &&
         FormatText(fileName, sizeof fileName, "%s.ini", kUpdateBuild.productAbbreviation) &&
         JoinPath(path, kPathSize, makerFolder, fileName);
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

bool RecordUpdate() {
  char path[kPathSize];
  if (FormProfilePath(path) &&
      PlatformWriteProfileString(kUpdateSection, kUpdateRecordKey, kUpdateBuild.updateNumber, path)) {
    // The record must not reach the disk before the switch it records; the
    // switch is on the disk by now, and the record follows it there.
    FileHandle file = PlatformOpenFile(path, FileMode::WriteExisting);
    if (file != nullptr) {
      PlatformFlushFile(file);
      PlatformCloseFile(file);
    }
  }
  return true;
}
