#pragma once
// The file-independent work of fptool: record texts, stamping a fingerprint
// module, checking it, and solving filler bytes for a wanted checksum.
#include <cstdint>
#include <string>
#include <vector>

#include "fingerprint/checksum.h"
#include "fingerprint/fingerprint_format.h"

using ByteBuffer = std::vector<uint8_t>;

// The text record of a file: sum then xor, 8 lower-case hex digits each.
std::string RecordText(ChecksumPair pair);
ChecksumPair WholeFileChecksum(const ByteBuffer& bytes, ChecksumWindow window);

// Reads "1a2b", "0x1A2B" (at most 8 digits) or, for decimal, "1324".
bool ParseNumber(const std::string& text, bool hex, uint32_t* value);

// By default, an RT_RCDATA resource of this name is the room `pad` fills in
// place.
extern const char kFillerResource[];

// Points the self record's window at itself and stores the module's
// checksum in it. The buffer is changed only on success.
bool StampModule(ByteBuffer& module, std::string* error);

struct SelfCheck {
  bool found = false;         // a self record the updater can read
  uint32_t recordOffset = 0;  // file offset of the record
  uint32_t recordSize = 0;
  std::string marker;
  uint32_t windowStart = 0;
  ChecksumPair expected{};
  ChecksumPair actual{};
  bool matches = false;
};
SelfCheck CheckSelfRecord(const ByteBuffer& module);

struct FileCheck {
  bool found = false;  // a text record the updater can read
  std::string recordText;
  ChecksumPair expected{};
  ChecksumPair actual{};
  bool matches = false;
};
// `recordName` is the file's name, as the module's records are named.
FileCheck CheckFileRecord(const ByteBuffer& module, const std::string& recordName, const ByteBuffer& file);

// Sets bytes [begin, end) of `file` so that ContentChecksum(file, window)
// becomes `target`; bytes the window leaves out are zeroed. Fails, leaving
// the file as it was, when no filling of that room gives the target.
bool SolveFiller(ByteBuffer& file, std::size_t begin, std::size_t end, ChecksumPair target, ChecksumWindow window,
                 std::string* error);

// Drops the first `count` bytes of the RT_RCDATA resource `name`, which must
// be zero, by moving the start of its data: the resource compiler puts every
// resource's data on an 8-byte step, this lets a record start between two.
bool TrimResourceHead(ByteBuffer& module, const std::string& name, uint32_t count, std::string* error);

// The `pad` command on a loaded file: fills the RT_RCDATA resource named
// `fillerName` when the file has one (its size must already be `size`), else
// appends filler up to `size`.
bool PadFile(ByteBuffer& file, std::size_t size, ChecksumPair target, ChecksumWindow window,
             const std::string& fillerName, std::string* what, std::string* error);
