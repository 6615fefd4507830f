#include "tools/fptool_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fingerprint/records.h"
#include "base/byte_order.h"
#include "base/pe_resources.h"

const char kFillerResource[] = "FILLER";

namespace {

const char kRawDataType[] = "#10";
constexpr uint32_t kStampedFieldsEnd = kSelfRecordXorAt + 4;

void Put32(ByteBuffer& bytes, std::size_t at, uint32_t value) { WriteLe32(bytes.data() + at, value); }

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
  return text;
}

// Copies a record the way the updater does: into a zero-filled buffer of
// fixed size, refusing longer ones.
bool CopyRecord(const ByteBuffer& module, const PeResourceEntry& entry, uint8_t (&copy)[kRecordCopySize]) {
  if (entry.size > kRecordCopySize) return false;
  std::memset(copy, 0, sizeof copy);
  std::memcpy(copy, module.data() + entry.fileOffset, entry.size);
  return true;
}

// Which offsets of the file a checksum with this window counts, for the
// sum and for the xor (see fingerprint/checksum.h).
struct Counted {
  ChecksumWindow window;
  bool InSum(uint64_t at) const { return !window.present || at < window.start || at >= uint64_t{window.start} + kChecksumWindowSize; }
  bool InXor(uint64_t at) const {
    if (!window.present) return true;
    uint64_t begin = (uint64_t{window.start} + 3) & ~uint64_t{3};
    uint64_t end = (uint64_t{window.start} + kChecksumWindowSize + 3) & ~uint64_t{3};
    return at < begin || at >= end;
  }
};

// Bytes of one xor lane, free to choose, that must XOR to `lane` and add up
// to `sum`. Byte 0 carries the lane's value and equal pairs after it add
// without changing the XOR; for high sums the same is done on the
// complements (255 - b), whose XOR differs from the lane's by 0xff when the
// count is odd.
struct LaneBytes {
  uint32_t count;
  uint32_t lane;

  uint32_t Pairs() const { return count == 0 ? 0 : (count - 1) / 2; }
  uint64_t DirectHigh() const { return lane + 510ull * Pairs(); }
  uint32_t ComplementLane() const { return count % 2 ? lane ^ 0xffu : lane; }
  uint64_t Low() const { return lane; }
  // From four bytes on the direct and the complement ranges overlap, so
  // every sum of the lane's parity between the two ends can be had.
  uint64_t High() const { return count >= 4 ? 255ull * count - ComplementLane() : DirectHigh(); }
  bool Possible() const { return count > 0 || lane == 0; }

  static std::vector<uint8_t> Direct(uint32_t count, uint32_t lane, uint64_t sum) {
    std::vector<uint8_t> bytes(count, 0);
    if (count == 0) return bytes;
    bytes[0] = static_cast<uint8_t>(lane);
    uint64_t half = (sum - lane) / 2;
    uint32_t pairs = (count - 1) / 2;
    // Spread evenly rather than 0xff runs then zeros.
    for (uint32_t p = 0; p < pairs; ++p) {
      uint64_t value = half / pairs + (p < half % pairs ? 1 : 0);
      bytes[1 + 2 * p] = bytes[2 + 2 * p] = static_cast<uint8_t>(value);
    }
    return bytes;
  }

  std::vector<uint8_t> Make(uint64_t sum) const {
    if (sum <= DirectHigh()) return Direct(count, lane, sum);
    std::vector<uint8_t> bytes = Direct(count, ComplementLane(), 255ull * count - sum);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(255 - b);
    return bytes;
  }
};

}  // namespace

std::string RecordText(ChecksumPair pair) { return Hex8(pair.sum) + Hex8(pair.xorValue); }

ChecksumPair WholeFileChecksum(const ByteBuffer& bytes, ChecksumWindow window) {
  ChecksumState state = ChecksumBegin(window);
  constexpr std::size_t kPiece = 1u << 30;
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    ChecksumUpdate(state, bytes.data() + at, static_cast<uint32_t>(std::min(kPiece, bytes.size() - at)));
  }
  return state.pair;
}

bool ParseNumber(const std::string& text, bool hex, uint32_t* value) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    hex = true;
  }
  if (digits.empty()) return false;
  uint64_t result = 0;
  for (char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return false;
    result = result * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (result > 0xffffffffu) return false;
  }
  *value = static_cast<uint32_t>(result);
  return true;
}

bool StampModule(ByteBuffer& module, std::string* error) {
  PeResourceEntry entry{};
  if (!PeFindResource(module.data(), module.size(), kRawDataType, kSelfRecordName, &entry)) {
    *error = std::string("no RT_RCDATA resource \"") + kSelfRecordName + "\" (or not a readable PE file)";
    return false;
  }
  if (entry.size < kStampedFieldsEnd) {
    *error = "the self record has " + std::to_string(entry.size) + " bytes; it needs at least " +
             std::to_string(kStampedFieldsEnd);
    return false;
  }
  if (entry.size > kRecordCopySize) {
    *error = "the self record has " + std::to_string(entry.size) + " bytes; the updater reads at most " +
             std::to_string(kRecordCopySize);
    return false;
  }
  ByteBuffer stamped = module;
  uint32_t windowStart = entry.fileOffset + kSelfRecordWindowAt;
  Put32(stamped, windowStart, windowStart);
  ChecksumPair pair = WholeFileChecksum(stamped, ChecksumWindow{true, windowStart});
  Put32(stamped, entry.fileOffset + kSelfRecordSumAt, pair.sum);
  Put32(stamped, entry.fileOffset + kSelfRecordXorAt, pair.xorValue);
  module.swap(stamped);
  return true;
}

SelfCheck CheckSelfRecord(const ByteBuffer& module) {
  SelfCheck check;
  PeResourceEntry entry{};
  uint8_t copy[kRecordCopySize];
  if (!PeFindResource(module.data(), module.size(), kRawDataType, kSelfRecordName, &entry) ||
      !CopyRecord(module, entry, copy)) {
    return check;
  }
  FingerprintSelfRecord record = ReadSelfRecord(copy);
  check.found = true;
  check.recordOffset = entry.fileOffset;
  check.recordSize = entry.size;
  for (char c : record.marker) check.marker.push_back(c >= 0x20 && c < 0x7f ? c : '.');
  check.windowStart = record.windowStart;
  check.expected = ChecksumPair{record.sum, record.xorValue};
  check.actual = WholeFileChecksum(module, ChecksumWindow{true, record.windowStart});
  check.matches = check.actual.sum == check.expected.sum && check.actual.xorValue == check.expected.xorValue;
  return check;
}

FileCheck CheckFileRecord(const ByteBuffer& module, const std::string& recordName, const ByteBuffer& file) {
  FileCheck check;
  PeResourceEntry entry{};
  uint8_t copy[kRecordCopySize];
  if (!PeFindResource(module.data(), module.size(), kRawDataType, recordName, &entry) ||
      !CopyRecord(module, entry, copy)) {
    return check;
  }
  check.found = true;
  for (uint32_t i = 0; i < entry.size; ++i) {
    char c = static_cast<char>(copy[i]);
    check.recordText.push_back(c >= 0x20 && c < 0x7f ? c : '.');
  }
  check.expected = ReadFileFingerprint(copy);
  check.actual = WholeFileChecksum(file, kNoWindow);
  check.matches = check.actual.sum == check.expected.sum && check.actual.xorValue == check.expected.xorValue;
  return check;
}

bool SolveFiller(ByteBuffer& file, std::size_t begin, std::size_t end, ChecksumPair target, ChecksumWindow window,
                 std::string* error) {
  if (begin > end || end > file.size()) {
    *error = "the filler room lies outside the file";
    return false;
  }
  ByteBuffer result = file;
  std::fill(result.begin() + static_cast<std::ptrdiff_t>(begin), result.begin() + static_cast<std::ptrdiff_t>(end), 0);
  // Zero bytes add nothing to either half, so what the room must add is the
  // difference between the target and the file with an empty room.
  ChecksumPair rest = WholeFileChecksum(result, window);
  uint32_t sumNeeded = target.sum - rest.sum;
  uint32_t xorNeeded = target.xorValue ^ rest.xorValue;

  Counted counted{window};
  std::vector<std::size_t> free[4];
  for (std::size_t at = begin; at < end; ++at) {
    if (counted.InSum(at) && counted.InXor(at)) free[at % 4].push_back(at);
  }
  LaneBytes lanes[4];
  uint64_t low = 0;
  uint64_t high = 0;
  for (int k = 0; k < 4; ++k) {
    lanes[k] = LaneBytes{static_cast<uint32_t>(free[k].size()), (xorNeeded >> (8 * k)) & 0xffu};
    if (!lanes[k].Possible()) {
      *error = "the filler room has no byte in xor lane " + std::to_string(k) + ", which must change";
      return false;
    }
    low += lanes[k].Low();
    high += lanes[k].High();
  }
  // The sum wraps at 2^32; a large room may reach a later turn.
  uint64_t sum = sumNeeded;
  while (sum < low && sum + 0x100000000ull <= high) sum += 0x100000000ull;
  if ((sum - low) % 2 != 0) {
    *error = "no filling gives this pair: the sum's parity does not agree with the xor";
    return false;
  }
  if (sum < low || sum > high) {
    *error = "the filler room of " + std::to_string(end - begin) + " bytes must add " + std::to_string(sum) +
             " to the sum but can add only " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  uint64_t remaining = sum - low;
  for (int k = 0; k < 4; ++k) {
    uint64_t laneSum = lanes[k].Low() + std::min(remaining, lanes[k].High() - lanes[k].Low());
    remaining -= laneSum - lanes[k].Low();
    std::vector<uint8_t> bytes = lanes[k].Make(laneSum);
    for (std::size_t i = 0; i < bytes.size(); ++i) result[free[k][i]] = bytes[i];
  }
  ChecksumPair reached = WholeFileChecksum(result, window);
  if (reached.sum != target.sum || reached.xorValue != target.xorValue) {
    *error = "internal error: the filling reached " + RecordText(reached) + " instead of " + RecordText(target);
    return false;
  }
  file.swap(result);
  return true;
}

bool PadFile(ByteBuffer& file, std::size_t size, ChecksumPair target, ChecksumWindow window,
             const std::string& fillerName, std::string* what, std::string* error) {
  PeResourceEntry filler{};
  if (PeFindResource(file.data(), file.size(), kRawDataType, fillerName, &filler)) {
    if (file.size() != size) {
      *error = "the file has a " + fillerName + " resource, so it is filled in place, but it has " +
               std::to_string(file.size()) + " bytes instead of " + std::to_string(size);
      return false;
    }
    *what = "filled the " + fillerName + " resource (" + std::to_string(filler.size) +
            " bytes at offset " + std::to_string(filler.fileOffset) + ")";
    return SolveFiller(file, filler.fileOffset, std::size_t{filler.fileOffset} + filler.size, target, window, error);
  }
  if (file.size() >= size) {
    *error = "the file has " + std::to_string(file.size()) + " bytes and no " + fillerName +
             " resource: no room to fill for a size of " + std::to_string(size);
    return false;
  }
  ByteBuffer grown = file;
  std::size_t begin = grown.size();
  grown.resize(size, 0);
  if (!SolveFiller(grown, begin, size, target, window, error)) return false;
  *what = "appended " + std::to_string(size - begin) + " filler bytes";
  file.swap(grown);
  return true;
}

bool TrimResourceHead(ByteBuffer& module, const std::string& name, uint32_t count, std::string* error) {
  PeResourceEntry entry;
  if (!PeFindResource(module.data(), module.size(), "#10", name, &entry)) {
    *error = "no RT_RCDATA resource \"" + name + "\"";
    return false;
  }
  if (count >= entry.size) {
    *error = "the resource is not longer than the bytes to drop";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (module[entry.fileOffset + i] != 0) {
      *error = "the bytes to drop are not zero";
      return false;
    }
  }
  // The data entry: the data's address, then its size, little-endian.
  uint8_t* field = module.data() + entry.entryOffset;
  uint32_t address = static_cast<uint32_t>(field[0] | field[1] << 8 | field[2] << 16 | uint32_t{field[3]} << 24);
  address += count;
  uint32_t size = entry.size - count;
  for (int i = 0; i < 4; ++i) {
    field[i] = static_cast<uint8_t>(address >> (8 * i));
    field[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  return true;
}
