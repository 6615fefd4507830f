#pragma once
// Every text the updater shows, and the one function that shows them.

enum MessageId {
  MSG_INSTALL_NOT_FOUND,    // product display name
  MSG_APPDATA_NOT_FOUND,
  MSG_INSTALL_DATA_BROKEN,
  MSG_ALREADY_UPDATED,
  MSG_CONFIRM_UPDATE,       // product display name
  MSG_BAD_INSTALL_PATH,     // install folder
  MSG_DISK_FULL,            // install folder, free MiB, total MiB, needed MiB + 1
  MSG_PAYLOAD_NOT_FOUND,
  MSG_PAYLOAD_NOT_LOADED,
  MSG_WRITE_NO_PAYLOAD,     // payload entry (per-file caption)
  MSG_WRITE_NOT_LOADED,     // payload entry (per-file caption)
  MSG_WRITE_CREATE_FAILED,  // payload entry (per-file caption)
  MSG_MERGE_FAILED,         // merge result code
  MSG_UPDATE_FINISHED,
  MSG_UPDATE_ABORTED,
  MSG_UPDATE_DOES_NOT_FIT,  // product display name
  MSG_UPDATE_FILE_DAMAGED,
  MSG_REPAIR_UNFINISHED,
  MSG_COUNT
};

enum class CaptionKind { Updater, PerFile, Fixed };
enum class OwnerKind { None, ProgressWindow };

struct MessageSpec {
  MessageId id;
  const char* text;        // a format
  CaptionKind captionKind;
  const char* fixedCaption;  // for CaptionKind::Fixed
  unsigned style;
  OwnerKind owner;
  unsigned textBufferSize;  // the formatted text is cut to fit
};

// The catalogue row of id, with this build's texts filled in.
MessageSpec GetMessageSpec(MessageId id);

// Formats the text (and, for the per-file messages, the caption from the
// payload entry passed as the first argument), shows the message box and
// returns the answer.
int ShowMessage(MessageId id, ...);
