#pragma once
// The build's table of every payload resource it carries, a resource of its
// own (type "HASH", name "PAYLOAD"): for each, the bytes as carried (the
// stored file, the zstd frame, the delta with its header) and the file they
// give, each as a size and a 64-bit content hash (XXH64, seed 0). fptool
// writes it (`fptool hashes`), the run reads it. Little-endian:
//
//   header (16 bytes): "UPDH", the number of records (u32), XXH64 of every
//                      byte after the header (u64)
//   each record:       kind (u32: 1 stored, 2 zstd frame, 3 delta), the name's
//                      length (u32, 1..255), carried size, carried hash,
//                      decoded size, decoded hash (u64 each), then the
//                      resource's name (ASCII, no terminator)
//
// The records fill the rest of the resource exactly.
#include <cstddef>
#include <cstdint>

constexpr char kPayloadHashesName[] = "PAYLOAD";
constexpr std::size_t kPayloadHashesHeaderSize = 16;
constexpr std::size_t kPayloadHashRecordSize = 40;  // without the name
constexpr std::size_t kPayloadHashNameMax = 255;

// How a resource carries its file; the first two are found by the file's
// name, a delta by FormDeltaName's.
enum class CarriedKind : uint32_t { Stored = 1, Frame = 2, Delta = 3 };

struct PayloadHash {
  CarriedKind kind;
  char name[kPayloadHashNameMax + 1];  // terminated
  uint64_t carriedSize;
  uint64_t carriedHash;
  uint64_t decodedSize;
  uint64_t decodedHash;
};

// Walks the records of a table checked whole.
struct PayloadHashReader {
  const uint8_t* bytes;
  std::size_t size;
  std::size_t offset;
  uint32_t left;
};

// False unless bytes hold one whole table whose own hash matches and whose
// records are well formed and fill it exactly.
bool StartPayloadHashes(const uint8_t* bytes, std::size_t size, PayloadHashReader* reader);
// The next record; false after the last.
bool NextPayloadHash(PayloadHashReader* reader, PayloadHash* record);

// The size of the table of these records, and the table itself (out holds
// that many bytes). Names longer than kPayloadHashNameMax are the caller's
// fault: the build never forms one.
std::size_t PayloadHashesSize(const PayloadHash* records, uint32_t count);
void WritePayloadHashes(const PayloadHash* records, uint32_t count, uint8_t* out);
