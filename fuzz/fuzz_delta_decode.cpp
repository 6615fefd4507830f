// A payload file that travels as a delta, decoded with the installed file as
// its reference, over the simulated platform. The input is the reference
// (its length in the first two bytes) and then the delta's zstd frame; the
// delta's header records the reference's identity. Whatever the frame, the
// pieces stay within 65,534 bytes, a frame is accepted only when the decoder
// alone, given the same reference, makes the same bytes of it, and nothing
// is left held.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY  // the frame header's window
#include <zstd.h>

#include "base/zstd_stream.h"
#include "core/updater_state.h"
#include "files/held_folders.h"
#include "fingerprint/checksum.h"
#include "fuzz/fuzz_pieces.h"
#include "fuzz/fuzz_support.h"
#include "install/source/piece_source.h"
#include "install/source/delta_format.h"
#include "platform/platform.h"
#include "platform/sim/file_view_sim.h"
#include "platform/sim/platform_sim.h"

namespace {

const char kInstallFolder[] = "C:\\game";
const char kEntry[] = "file.bin";
const char kReference[] = "C:\\game\\file.bin";
const char kNewFile[] = "C:\\game\\file.bin.UpDate-new";

// What the decoder alone makes of the frame against the reference, or false.
bool DecodeAlone(const uint8_t* frame, std::size_t size, const std::vector<uint8_t>& reference,
                 std::vector<uint8_t>* out) {
  unsigned long long declared = ZSTD_getFrameContentSize(frame, size);
  if (declared == ZSTD_CONTENTSIZE_UNKNOWN || declared == ZSTD_CONTENTSIZE_ERROR) return false;
  if (ZSTD_findFrameCompressedSize(frame, size) != size) return false;
  ZSTD_DCtx* context = ZSTD_createDCtx();
  ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, 31);
  ZSTD_DCtx_refPrefix(context, reference.data(), reference.size());
  out->resize(static_cast<std::size_t>(declared) + 1);
  std::size_t made = ZSTD_decompressDCtx(context, out->data(), out->size(), frame, size);
  ZSTD_freeDCtx(context);
  if (ZSTD_isError(made)) return false;
  out->resize(made);
  return made == declared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  std::size_t referenceSize = input.Byte() | input.Byte() << 8;
  if (referenceSize > input.restSize()) referenceSize = input.restSize();
  std::vector<uint8_t> reference(input.rest(), input.rest() + referenceSize);
  const uint8_t* frame = input.rest() + referenceSize;
  const std::size_t frameSize = input.restSize() - referenceSize;
  // Frames that declare more than this decode for too long to fuzz well.
  unsigned long long declared = ZSTD_getFrameContentSize(frame, frameSize);
  if (declared != ZSTD_CONTENTSIZE_UNKNOWN && declared != ZSTD_CONTENTSIZE_ERROR && declared > (4u << 20)) return 0;

  sim::Reset();
  sim::MapDrive('C', FuzzDriveFolder());
  {
    std::ofstream out(sim::HostPath(kReference), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(reference.data()), static_cast<std::streamsize>(reference.size()));
  }
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, reference.data(), reference.size());
  const DeltaReference identity{reference.size(),
                                ContentChecksum(reference.data(), static_cast<uint32_t>(reference.size()), kNoWindow),
                                ZstdHashValue(&hash)};
  uint8_t header[kDeltaHeaderSize];
  WriteDeltaHeader(identity, header);
  std::vector<uint8_t> resource(header, header + sizeof header);
  resource.insert(resource.end(), frame, frame + frameSize);

  // The reference is read as the run reads installed files: in the install
  // folder it holds.
  std::memset(&g_state, 0, sizeof g_state);
  std::strcpy(g_state.installFolder, kInstallFolder);
  FUZZ_CHECK(HoldInstallFolder() == HoldResult::Held);
  FileHandle file = PlatformOpenFile(kNewFile, FileMode::WriteCreateAlways);
  FUZZ_CHECK(file != nullptr);
  std::vector<uint8_t> written;
  MessageId failure = MSG_COUNT;
  PieceSource source{};
  DeltaPieceSource(resource.data(), static_cast<uint32_t>(resource.size()), kEntry, &source);
  const bool decoded = WriteAllPieces(&source, file, &written, &failure) == PieceStep::End;
  PlatformCloseFile(file);
  ReleaseRunFolders();
  FUZZ_CHECK(sim::LiveAllocations() == 0);
  FUZZ_CHECK(sim::LiveFiles() == 0);
  FUZZ_CHECK(sim::LiveFileViews() == 0);

  std::vector<uint8_t> alone;
  const bool decodes = DecodeAlone(frame, frameSize, reference, &alone);
  if (decoded) {
    std::ifstream in(sim::HostPath(kNewFile), std::ios::binary);
    std::vector<uint8_t> result((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(decodes && result == alone && written == result);
  } else {
    FUZZ_CHECK(failure == MSG_WRITE_NOT_LOADED);
    // Refused: the decoder alone refuses it too, or it is what the build never
    // makes and the decoder alone does not check: a window or content beyond
    // the run's limit for deltas, or no checksum of its content.
    ZSTD_frameHeader frameHeader{};
    const bool unlike = ZSTD_getFrameHeader(&frameHeader, frame, frameSize) == 0 &&
                        (frameHeader.windowSize > kDeltaFileLimit || frameHeader.frameContentSize > kDeltaFileLimit ||
                         frameHeader.checksumFlag == 0);
    FUZZ_CHECK(!decodes || unlike);
  }
  return 0;
}
