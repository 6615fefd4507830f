#pragma once
#include <cstddef>
#include <cstdint>

#include "fingerprint/checksum.h"
#include "fingerprint/fingerprint_format.h"

// The record of another file: 16 hex digits, sum then xor.
using FileFingerprint = ChecksumPair;

// Lenient hexadecimal reading of the text record (at most `length` bytes of
// it, stopping earlier at a zero byte): see the .cpp for its rules.
uint32_t ParseHexText(const char* text, std::size_t length);

// Reads a text record from its zero-filled copy. Byte 8 of the copy is
// zeroed on the way, as the record's two halves have no separator.
FileFingerprint ReadFileFingerprint(uint8_t (&copy)[kRecordCopySize]);

FingerprintSelfRecord ReadSelfRecord(const uint8_t (&copy)[kRecordCopySize]);
