#pragma once
// Everything that differs from one update build to the next.
#include <cstdint>

// A file written by the update: a path under the install folder with
// backslash separators. Its final component names its payload resource.
struct PayloadEntry {
  const char* relativePath;  // null ends the table
};

struct UpdateBuild {
  const char* makerFolder;          // folder under the application-data folder holding the profile file
  const char* productName;          // display name in captions and messages
  const char* productAbbreviation;  // base name of the game executable and of the profile file
  const char* captionFormat;        // formats the updater caption from productName
  const char* updateNumber;         // written as the update record, compared as a number
  const PayloadEntry* payloadTable; // written in this order
  const char* entryListName;        // list resource and its target file; empty for none

  // Texts that a build may reword.
  const char* textInstallNotFound;
  const char* textConfirmUpdate;
  const char* textInstallDataBroken;
  const char* textAlreadyUpdated;
  const char* textUpdateFinished;
  const char* textUpdateAborted;
  const char* captionMergeFailed;
  const char* textUpdateDoesNotFit;
  const char* textUpdateFileDamaged;
  const char* textRepairUnfinished;

  // A new file is flushed each time this much more of it is written, so
  // that its last flush has little left to do.
  uint32_t flushSliceBytes;
};

extern const UpdateBuild kUpdateBuild;
