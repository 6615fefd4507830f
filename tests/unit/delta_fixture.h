#pragma once
// Delta resources made for the tests as the build makes them: a zstd frame
// of the new file against the earlier one, behind the header that names the
// earlier one.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "base/zstd_stream.h"
#include "fingerprint/checksum.h"
#include "install/source/delta_format.h"

// A zstd frame of next made against reference, as the build's patch-from
// mode makes it: size declared, content checksummed.
inline std::vector<uint8_t> DeltaFrame(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& next) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 19);
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  ZSTD_CCtx_refPrefix(c, reference.data(), reference.size());
  std::vector<uint8_t> out(ZSTD_compressBound(next.size()));
  size_t n = ZSTD_compress2(c, out.data(), out.size(), next.data(), next.size());
  ZSTD_freeCCtx(c);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(ZSTD_isError(n) ? 0 : n);
  return out;
}

inline DeltaReference IdentityOf(const std::vector<uint8_t>& file) {
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, file.data(), file.size());
  return DeltaReference{file.size(), ContentChecksum(file.data(), static_cast<uint32_t>(file.size()), kNoWindow),
                        ZstdHashValue(&hash)};
}

inline std::vector<uint8_t> DeltaResource(const DeltaReference& identity, const std::vector<uint8_t>& frame) {
  uint8_t header[kDeltaHeaderSize];
  WriteDeltaHeader(identity, header);
  std::vector<uint8_t> resource(header, header + sizeof header);
  resource.insert(resource.end(), frame.begin(), frame.end());
  return resource;
}
