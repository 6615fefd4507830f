#pragma once
// Where a game keeps its fingerprint records and how they are laid out: one
// description for the updater that reads them and for fptool that writes them.
#include <cstddef>
#include <cstdint>

// The fingerprint module, relative to the install folder, and the name of its
// record of itself (RT_RCDATA). The records of other files are named after them.
constexpr char kFingerprintModulePath[] = "dll\\RESOURCE.dll";
constexpr char kSelfRecordName[] = "RESOURCE.dll";

// Records are copied into a zero-filled buffer of this size; a longer record
// is rejected.
constexpr std::size_t kRecordCopySize = 260;

// The record of another file: sum then xor, 8 lower-case hex digits each, no
// separator and no terminator.
constexpr std::size_t kTextRecordDigits = 16;
constexpr std::size_t kTextRecordXorAt = 8;

// The module's checksum leaves out this many bytes from the window start, so
// that the module can hold its own expected checksum.
constexpr uint32_t kChecksumWindowSize = 12;

// The module's record of itself, as stored: marker "/**/", then the offset of
// the window (byte 4 of this record within the module file), then the
// module's expected checksum, then 16 zero bytes. The window covers exactly
// the three stamped fields.
struct FingerprintSelfRecord {
  char marker[4];
  uint32_t windowStart;
  uint32_t sum;
  uint32_t xorValue;
  uint8_t reserved[16];
};
constexpr uint32_t kSelfRecordWindowAt = 4;
constexpr uint32_t kSelfRecordSumAt = 8;
constexpr uint32_t kSelfRecordXorAt = 12;
static_assert(sizeof(FingerprintSelfRecord) == 32, "the self record is 32 bytes as stored");
static_assert(offsetof(FingerprintSelfRecord, windowStart) == kSelfRecordWindowAt, "window start at offset 4");
static_assert(offsetof(FingerprintSelfRecord, sum) == kSelfRecordSumAt, "sum at offset 8");
static_assert(offsetof(FingerprintSelfRecord, xorValue) == kSelfRecordXorAt, "xor at offset 12");
static_assert(kSelfRecordXorAt + 4 - kSelfRecordWindowAt == kChecksumWindowSize,
              "the window covers the stamped fields and nothing else");
