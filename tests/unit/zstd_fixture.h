#pragma once
// Frames made for the tests with the decoder's own library's encoder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

struct FrameOptions {
  int level = 3;
  int windowLog = 0;  // 0: the level's own
  bool declareSize = true;
  bool checksum = true;
};

// One frame holding content; with declareSize false the encoder is not told
// the size, as a stream's encoder would not be.
inline std::vector<uint8_t> Frame(const std::vector<uint8_t>& content, FrameOptions options = {},
                                  const std::vector<uint8_t>* prefix = nullptr) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, options.level);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, options.declareSize ? 1 : 0);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, options.checksum ? 1 : 0);
  if (options.windowLog != 0) ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, options.windowLog);
  if (prefix != nullptr) ZSTD_CCtx_refPrefix(context, prefix->data(), prefix->size());
  std::vector<uint8_t> frame(ZSTD_compressBound(content.size()) + 64);
  ZSTD_outBuffer out{frame.data(), frame.size(), 0};
  ZSTD_inBuffer in{content.data(), content.size(), 0};
  if (options.declareSize) {
    ZSTD_CCtx_setPledgedSrcSize(context, content.size());
  }
  // Fed in two parts, so that an undeclared size stays undeclared.
  ZSTD_inBuffer first{content.data(), content.size() / 2, 0};
  if (!options.declareSize) ZSTD_compressStream2(context, &out, &first, ZSTD_e_continue);
  in.pos = first.pos;
  size_t left = 0;
  do {
    left = ZSTD_compressStream2(context, &out, &in, ZSTD_e_end);
  } while (left != 0 && !ZSTD_isError(left));
  ZSTD_freeCCtx(context);
  frame.resize(ZSTD_isError(left) ? 0 : out.pos);
  return frame;
}

// Compressible bytes that still need more than a small window: lines of
// text with counters, and a repeat of an early stretch near the end.
inline std::vector<uint8_t> SampleContent(std::size_t size, unsigned seed = 1) {
  std::vector<uint8_t> v;
  v.reserve(size);
  uint32_t x = seed * 2654435761u + 1;
  while (v.size() < size) {
    x = x * 1103515245u + 12345u;
    char line[64];
    int n = std::snprintf(line, sizeof line, "entry %06zu value %08x flag %u\n", v.size(), x >> 8, (x >> 28) & 3u);
    v.insert(v.end(), line, line + n);
  }
  v.resize(size);
  if (size > 4096) std::copy(v.begin() + 100, v.begin() + 1100, v.end() - 1000);
  return v;
}
