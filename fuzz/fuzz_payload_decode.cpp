// A payload file that travels as a zstd frame, from the updater's resource to
// the file beside its target, over the simulated platform: whatever the
// frame, the pieces stay within 65,534 bytes and the declared size, the file
// is written only as far as the frame decodes, a frame is accepted only when
// it is one whole intact frame the decoder alone would accept as well, and
// nothing is left held.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY  // the frame header's window
#include <zstd.h>

#include "core/updater_state.h"
#include "fuzz/fuzz_pieces.h"
#include "fuzz/fuzz_support.h"
#include "install/source/piece_source.h"
#include "platform/platform.h"
#include "platform/sim/platform_sim.h"

namespace {

const char kTarget[] = "C:\\game\\file.bin.UpDate-new";

// What the decoder alone makes of the input as one frame, or false.
bool DecodeAlone(const uint8_t* data, std::size_t size, std::vector<uint8_t>* out) {
  unsigned long long declared = ZSTD_getFrameContentSize(data, size);
  if (declared == ZSTD_CONTENTSIZE_UNKNOWN || declared == ZSTD_CONTENTSIZE_ERROR) return false;
  if (ZSTD_findFrameCompressedSize(data, size) != size) return false;
  out->resize(static_cast<std::size_t>(declared) + 1);
  std::size_t made = ZSTD_decompress(out->data(), out->size(), data, size);
  if (ZSTD_isError(made)) return false;
  out->resize(made);
  return made == declared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Frames that declare more than this decode for too long to fuzz well.
  unsigned long long declared = ZSTD_getFrameContentSize(data, size);
  if (declared != ZSTD_CONTENTSIZE_UNKNOWN && declared != ZSTD_CONTENTSIZE_ERROR && declared > (4u << 20)) return 0;

  sim::Reset();
  sim::MapDrive('C', FuzzDriveFolder());
  std::memset(&g_state, 0, sizeof g_state);
  g_state.instance = sim::OwnModule();
  sim::AddOwnResource(ResourceType::CompressedPayload, "FILE.BIN", std::vector<uint8_t>(data, data + size));

  PieceSource source{};
  PayloadError error = PayloadError::None;
  if (!ChoosePieceSource(0, "file.bin", &source, &error)) {
    FUZZ_CHECK(error == PayloadError::NotLoaded);
    FUZZ_CHECK(sim::LiveAllocations() == 0);
    return 0;
  }
  FUZZ_CHECK(source.kind == PieceKind::Frame && source.size == declared);

  FileHandle file = PlatformOpenFile(kTarget, FileMode::WriteCreateAlways);
  FUZZ_CHECK(file != nullptr);
  MessageId failure = MSG_COUNT;
  std::vector<uint8_t> written;
  const PieceStep step = WriteAllPieces(&source, file, &written, &failure);
  FUZZ_CHECK(step == PieceStep::End || failure == MSG_WRITE_NOT_LOADED);
  PlatformCloseFile(file);
  FUZZ_CHECK(sim::LiveAllocations() == 0);
  FUZZ_CHECK(sim::LiveFiles() == 0);

  std::vector<uint8_t> alone;
  const bool decodes = DecodeAlone(data, size, &alone);
  if (step == PieceStep::End) {
    FUZZ_CHECK(decodes && written == alone);
    FUZZ_CHECK(written.size() == source.size);
  } else {
    // Refused: the decoder alone refuses it too, or it asks for a window
    // above the run's bound, which the decoder alone does not enforce.
    ZSTD_frameHeader header{};
    const bool tooWide = ZSTD_getFrameHeader(&header, data, size) == 0 &&
                         header.windowSize > (1ull << kPayloadWindowLog);
    FUZZ_CHECK(!decodes || tooWide);
  }
  return 0;
}
