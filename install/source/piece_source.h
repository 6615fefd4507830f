#pragma once
// Where a new file's bytes come from, one interface for every kind: the
// file stored whole in a resource, one zstd frame, or one zstd frame made
// against the installed file (a delta, install/source/delta_format.h),
// handed out in pieces of at most 65,534 bytes. The writer opens a source,
// takes its pieces until the end and closes it, never knowing its kind.
#include <cstdint>

#include "base/zstd_stream.h"
#include "core/messages.h"
#include "install/source/payload.h"
#include "platform/file_view.h"
#include "platform/platform.h"

enum class PieceKind { Stored, Frame, Delta };

struct PieceSource {
  PieceKind kind;
  Payload resource;  // the bytes the updater carries (a delta's with its header)
  char resourceName[kPathSize];  // as the build's table of hashes names it
  uint32_t size;     // bytes the file will have: for a frame, the size it declares
  // The whole-file sources report the percentage after every write call, a
  // delta after every piece, as each did before they shared one writer.
  bool reportEachWrite;
  const char* referenceEntry;  // a delta's installed file, under the install folder
  char reference[kPathSize];   // and its path
  // While open:
  uint32_t handedOut;
  ZstdStream* stream;
  uint8_t* buffer;
  FileHandle referenceFile;  // held while mapped: the file that was checked is the one mapped
  FileView view;
};

// A frame may keep at most this much history (2^23 = 8 MiB): the build never
// makes a larger one, and the run's memory stays the same for any payload.
constexpr unsigned kPayloadWindowLog = 23;

// The one choice, for payload entry `index` (its file `entry`): the delta
// identification chose (g_state's chosenDelta), else the compressed file,
// else the stored one. On false nothing of it is carried, with FindPayload's
// messages shown and the kind in *error. A frame whose header does not
// declare its size and a checksum of its content, as the build's do, is not
// loaded (MSG_PAYLOAD_NOT_LOADED, PayloadError::NotLoaded); a delta's frame
// is checked when it is opened.
bool ChoosePieceSource(int index, const char* entry, PieceSource* source, PayloadError* error);

// A delta resource against the installed file of entry, as
// ChoosePieceSource makes it for a delta it chose. The reference is opened
// as the installed files are read (files/checked_open.h): a link in its
// place, or a file that leads out of the install folder, is never mapped.
void DeltaPieceSource(const uint8_t* resource, uint32_t size, const char* entry, PieceSource* source);

// Prepares the pieces. On false *failure names the kind: MSG_WRITE_NOT_LOADED
// when the source cannot give an intact file (no memory for its decoder, a
// delta's header or frame the build never makes, a reference of another
// size than the one it was made against), MSG_WRITE_CREATE_FAILED when a
// delta's reference cannot be mapped or there is no memory for its pieces.
bool OpenPieceSource(PieceSource* source, MessageId* failure);

enum class PieceStep { Piece, End, Damaged };

// The next piece: Piece with *bytes and *size (1..65,534). End once all
// `size` bytes were handed out and, for a frame, it ended there intact.
// Damaged: the frame is not whole and intact (or too wide); pieces already
// handed out must not be used.
PieceStep NextPiece(PieceSource* source, const uint8_t** bytes, uint32_t* size);

// Releases what Open took; allowed after a failed Open.
void ClosePieceSource(PieceSource* source);
