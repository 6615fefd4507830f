#include "install/run/entry_list_merge.h"

#include <cstdint>
#include <cstring>

#include "base/text_format.h"
#include "core/updater_state.h"
#include "files/checked_open.h"
#include "files/read_pieces.h"
#include "files/write_all.h"
#include "install/run/entry_list_text.h"
#include "install/targets/switch_targets.h"
#include "platform/platform.h"

namespace {

// A target larger than this is not a list file; refuse it as if memory ran out.
constexpr uint64_t kLargestTarget = 64u << 20;

// Reads the whole target into a zero-terminated buffer. Code 0 on success.
// The merged text goes where every user of the game may read it: a target
// that is a link, or leads out of the install folder, is refused as
// unreadable rather than have another file's bytes copied there.
int ReadTarget(const char* path, const char* entry, char** text, std::size_t* size) {
  FileHandle file = OpenInstalledFile(path, entry);
  if (file == nullptr) return MERGE_TARGET_UNREADABLE;
  uint64_t fileSize = 0;
  if (!PlatformFileSize(file, &fileSize)) {
    PlatformCloseFile(file);
    return MERGE_TARGET_UNREADABLE;
  }
  char* buffer = fileSize <= kLargestTarget ? static_cast<char*>(PlatformAllocZeroed(fileSize + 1)) : nullptr;
  if (buffer == nullptr) {
    PlatformCloseFile(file);
    return MERGE_NO_MEMORY_TARGET;
  }
  // A target that cannot be read whole is left alone: rewriting it from a
  // partial read would lose its content.
  uint64_t done = 0;
  const bool read = ReadInPieces(file, reinterpret_cast<uint8_t*>(buffer), static_cast<uint32_t>(fileSize),
                                 ReadInto::Whole, nullptr, nullptr, &done);
  PlatformCloseFile(file);
  if (!read || done != fileSize) {
    PlatformFree(buffer);
    return MERGE_TARGET_UNREADABLE;
  }
  *text = buffer;
  *size = static_cast<std::size_t>(fileSize);
  return MERGE_OK;
}

}  // namespace

int MergeEntryList(const char* name, bool* written) {
  *written = false;
  if (name == nullptr || name[0] == '\0') return MERGE_OK;

  const void* data = nullptr;
  uint32_t listSize = 0;
  ResourceLookup found = PlatformFindResource(g_state.instance, ResourceType::Payload, name, &data, &listSize);
  if (found == ResourceLookup::NotFound) return MERGE_OK;
  if (found != ResourceLookup::Found || data == nullptr) return MERGE_LIST_NOT_LOADED;

  char* list = static_cast<char*>(PlatformAllocZeroed(static_cast<std::size_t>(listSize) + 1));
  if (list == nullptr) return MERGE_NO_MEMORY_LIST;
  std::memcpy(list, data, listSize);

  char path[kPathSize];
  char* target = nullptr;
  std::size_t targetSize = 0;
  int code = JoinPath(path, sizeof path, g_state.installFolder, name)
                 ? ReadTarget(path, name, &target, &targetSize)
                 : MERGE_TARGET_UNREADABLE;
  if (code != MERGE_OK) {
    PlatformFree(list);
    return code;
  }

  // The target grows by the list's size, which a later merge relies on
  // (it reads the old text up to its first zero byte); when the merged text
  // is longer (lines without ';' or terminator) it grows by more rather than
  // lose a byte.
  std::size_t writeSize = static_cast<std::size_t>(listSize) + targetSize;
  std::size_t mergedLength = BuildMergedText(list, target, nullptr, 0);
  if (mergedLength > writeSize) writeSize = mergedLength;
  char* merged = static_cast<char*>(PlatformAllocZeroed(writeSize + 1));
  if (merged == nullptr) {
    PlatformFree(target);
    PlatformFree(list);
    return MERGE_NO_MEMORY_MERGED;
  }
  BuildMergedText(list, target, merged, writeSize);

  // The merged text goes beside the target, to be switched in with the
  // payload files.
  FileHandle file = CreateNewFile(name);
  if (file == nullptr) {
    code = MERGE_TARGET_UNWRITABLE;
  } else {
    if (!WriteAll(file, merged, static_cast<uint32_t>(writeSize)) || !PlatformFlushFile(file)) code = MERGE_TARGET_UNWRITABLE;
    PlatformCloseFile(file);
    *written = true;
  }
  PlatformFree(merged);
  PlatformFree(target);
  PlatformFree(list);
  return code;
}
