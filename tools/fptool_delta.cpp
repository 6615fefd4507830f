#include "tools/fptool_delta.h"

#include "base/zstd_stream.h"

namespace {

std::string LimitText() {
  return "at most 192 MiB (201,326,592 bytes)";
}

}  // namespace

DeltaReference DeltaReferenceOf(const ByteBuffer& file) {
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, file.data(), file.size());
  return DeltaReference{file.size(), WholeFileChecksum(file, kNoWindow), ZstdHashValue(&hash)};
}

bool MakeDeltaResource(const ByteBuffer& earlier, const ByteBuffer& frame, ByteBuffer* resource, std::string* error) {
  static_assert(kDeltaFileLimit == 201326592, "the message spells the limit");
  if (earlier.size() > kDeltaFileLimit) {
    *error = "the earlier version is " + std::to_string(earlier.size()) +
             " bytes: the update applies deltas against files of " + LimitText();
    return false;
  }
  ZstdFrameInfo info{};
  if (!ZstdReadFrameHeader(frame.data(), frame.size(), &info) || !info.sizeDeclared || !info.checksummed) {
    *error = "not a zstd frame that declares its size and carries its checksum";
    return false;
  }
  if (info.contentSize > kDeltaFileLimit || info.windowSize > kDeltaFileLimit) {
    *error = "the new file is " + std::to_string(info.contentSize) + " bytes (window " +
             std::to_string(info.windowSize) + "): the update applies deltas to files of " + LimitText();
    return false;
  }
  uint8_t header[kDeltaHeaderSize];
  WriteDeltaHeader(DeltaReferenceOf(earlier), header);
  resource->assign(header, header + sizeof header);
  resource->insert(resource->end(), frame.begin(), frame.end());
  return true;
}
