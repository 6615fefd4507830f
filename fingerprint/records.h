#pragma once
#include <cstddef>
#include <cstdint>

#include "fingerprint/checksum.h"

// Records are copied into a zero-filled buffer of this size; a longer record
// is rejected.
constexpr std::size_t kRecordCopySize = 260;

// The module's record of itself, as stored: marker "/**/", then the offset of
// the window (byte 4 of this record within the module file), then the
// module's expected checksum, then 16 zero bytes.
struct FingerprintSelfRecord {
  char marker[4];
  uint32_t windowStart;
  uint32_t sum;
  uint32_t xorValue;
  uint8_t reserved[16];
};
static_assert(sizeof(FingerprintSelfRecord) == 32, "the self record is 32 bytes as stored");
static_assert(offsetof(FingerprintSelfRecord, windowStart) == 4, "window start at offset 4");
static_assert(offsetof(FingerprintSelfRecord, sum) == 8, "sum at offset 8");
static_assert(offsetof(FingerprintSelfRecord, xorValue) == 12, "xor at offset 12");

// The record of another file: 16 hex digits, sum then xor.
using FileFingerprint = ChecksumPair;

// Lenient hexadecimal reading of the text record (at most `length` bytes of
// it, stopping earlier at a zero byte): see the .cpp for its rules.
uint32_t ParseHexText(const char* text, std::size_t length);

// Reads a text record from its zero-filled copy. Byte 8 of the copy is
// zeroed on the way, as the record's two halves have no separator.
FileFingerprint ReadFileFingerprint(uint8_t (&copy)[kRecordCopySize]);

FingerprintSelfRecord ReadSelfRecord(const uint8_t (&copy)[kRecordCopySize]);
