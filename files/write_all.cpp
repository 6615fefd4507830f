#include "files/write_all.h"

bool WriteAll(FileHandle file, const void* data, uint32_t size, AfterWrite afterWrite, void* context) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t left = size;
  while (left > 0) {
    uint32_t written = 0;
    // A write that fails or makes no progress would otherwise spin forever
    // or leave the file cut short.
    if (!PlatformWriteFile(file, bytes, left, &written) || written == 0 || written > left) return false;
    bytes += written;
    left -= written;
    if (afterWrite != nullptr) afterWrite(written, context);
  }
  return true;
}
