#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fingerprint/records.h"

namespace {

struct HexCase {
  const char* text;
  uint32_t value;
};

TEST(ParseHexText, LenientReading) {
  const HexCase cases[] = {
      {"027e8a16", 0x027E8A16}, {"027E8A16", 0x027E8A16}, {"0x027e8a16", 0x027E8A16},
      {"123456789", 0x2345678A},  // the ninth digit from the right folds onto the lowest place
      {"ab x12", 0xAB},           // the blank ends the run
      {"1x2", 0x2},               // only the digits after the last x count
      {" 12", 0},                 {"", 0},
      {"ffffffff", 0xFFFFFFFF},   {"zz", 0},
  };
  for (const HexCase& c : cases) EXPECT_EQ(ParseHexText(c.text, std::strlen(c.text)), c.value) << c.text;
}

TEST(ParseHexText, StaysWithinTheGivenLength) {
  const char digits[4] = {'1', '2', '3', '4'};  // no terminator
  EXPECT_EQ(ParseHexText(digits, 2), 0x12u);
}

TEST(FileFingerprint, ReadsSumThenXorFromTheTextRecord) {
  const struct {
    const char* record;
    uint32_t sum;
    uint32_t xorValue;
  } cases[] = {
      {"027e8a16d49f3f5a", 0x027E8A16, 0xD49F3F5A},
      {"027E8A16D49F3F5A", 0x027E8A16, 0xD49F3F5A},  // upper-case digits read the same
      {"00000000ffffffff", 0, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    uint8_t copy[kRecordCopySize] = {};
    std::memcpy(copy, c.record, std::strlen(c.record));
    FileFingerprint fp = ReadFileFingerprint(copy);
    EXPECT_EQ(fp.sum, c.sum) << c.record;
    EXPECT_EQ(fp.xorValue, c.xorValue) << c.record;
  }
}

TEST(FileFingerprint, AFullLengthRecordIsReadWithinItsCopy) {
  // 260 digits leave no terminator; the reading must stop at the copy's end.
  uint8_t copy[kRecordCopySize];
  std::memset(copy, 'f', sizeof copy);
  FileFingerprint fp = ReadFileFingerprint(copy);
  // 252 digits from byte 8: 31 folded groups of eight f's (each adding
  // 0xFFFFFFFF) and four more; the sum half ends at the zeroed byte 8.
  EXPECT_EQ(fp.xorValue, static_cast<uint32_t>(31u * 0xFFFFFFFFu + 0xFFFFu));
  EXPECT_EQ(fp.sum, 0xFFFFFFFFu);
}

TEST(FingerprintSelfRecord, FieldsAreLittleEndianAtTheirOffsets) {
  uint8_t copy[kRecordCopySize] = {'/', '*', '*', '/', 0x30, 0x05, 0, 0, 0x20, 0xA4, 0x01, 0, 0xE7, 0x9C, 0x27, 0x1E};
  FingerprintSelfRecord r = ReadSelfRecord(copy);
  EXPECT_EQ(r.windowStart, 0x530u);
  EXPECT_EQ(r.sum, 0x0001A420u);
  EXPECT_EQ(r.xorValue, 0x1E279CE7u);
}

}  // namespace
