// fptool: makes and checks the fingerprint records that the updater
// verifies an installation with. See Usage() for the commands.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/zstd_stream.h"
#include "install/source/payload_hashes_format.h"
#include "tools/fptool_core.h"
#include "tools/fptool_delta.h"

namespace {

namespace fs = std::filesystem;

int Usage() {
  std::fputs(
      "usage:\n"
      "  fptool record FILE [OUT]\n"
      "      prints FILE's 16-digit text record (sum then xor, no window), or writes\n"
      "      exactly those 16 bytes to OUT, as a module's resource holds them\n"
      "  fptool stamp MODULE\n"
      "      stamps the self record (RT_RCDATA \"RESOURCE.dll\") of a fingerprint module in place\n"
      "  fptool trim MODULE NAME COUNT\n"
      "      drops the first COUNT bytes (which must be zero) of the RT_RCDATA resource NAME,\n"
      "      so that its data can start off the 8-byte steps the resource compiler uses\n"
      "  fptool check MODULE [FILE...]\n"
      "      verifies the module's self record and, for each FILE, the record named\n"
      "      after FILE's name (LMH.exe for .../LMH.exe); exit 0 only when all match\n"
      "  fptool pad FILE SIZE SUMHEX XORHEX [--window N] [--resource NAME]\n"
      "      makes FILE exactly SIZE bytes with that checksum (window at N when given):\n"
      "      a PE file with an RT_RCDATA resource NAME (default \"FILLER\") must already be SIZE bytes and\n"
      "      has that resource's data rewritten; any other file must be shorter and gets\n"
      "      filler bytes appended\n"
      "  fptool delta EARLIER FRAME OUT\n"
      "      writes OUT: the identity of EARLIER (size, record, content hash), then FRAME, a zstd\n"
      "      frame made against EARLIER; refuses files larger than the update applies deltas to\n"
      "  fptool hashes OUT [KIND NAME CARRIED DECODED]...\n"
      "      writes OUT, the update's table of hashes: for each payload resource NAME, carried\n"
      "      as KIND (stored, frame or delta), the size and XXH64 of the resource's bytes CARRIED\n"
      "      and of the file DECODED they give\n",
      stderr);
  return 2;
}

bool ReadWhole(const std::string& path, ByteBuffer* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "fptool: cannot open %s\n", path.c_str());
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::fprintf(stderr, "fptool: cannot read %s\n", path.c_str());
    return false;
  }
  return true;
}

// Writes beside the file and renames over it, so that a failure leaves
// either the old content or the new, never a mix.
bool ReplaceWhole(const std::string& path, const ByteBuffer& bytes) {
  std::string temporary = path + ".fptool-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "fptool: cannot write %s\n", temporary.c_str());
      std::error_code ignored;
      fs::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  // A file made anew keeps the ordinary permissions it was created with:
  // a missing file's status reports every permission bit.
  fs::file_status existing = fs::status(path, error);
  if (fs::exists(existing)) fs::permissions(temporary, existing.permissions(), error);
  fs::rename(temporary, path, error);
  if (error) {
    std::fprintf(stderr, "fptool: cannot replace %s: %s\n", path.c_str(), error.message().c_str());
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

int Record(const std::string& path, const char* outPath) {
  ByteBuffer bytes;
  if (!ReadWhole(path, &bytes)) return 1;
  std::string text = RecordText(WholeFileChecksum(bytes, kNoWindow));
  if (outPath == nullptr) {
    std::printf("%s\n", text.c_str());
    return 0;
  }
  return ReplaceWhole(outPath, ByteBuffer(text.begin(), text.end())) ? 0 : 1;
}

int Stamp(const std::string& path) {
  ByteBuffer module;
  if (!ReadWhole(path, &module)) return 1;
  std::string error;
  if (!StampModule(module, &error)) {
    std::fprintf(stderr, "fptool: %s: %s; left unchanged\n", path.c_str(), error.c_str());
    return 1;
  }
  if (!ReplaceWhole(path, module)) return 1;
  SelfCheck check = CheckSelfRecord(module);
  std::printf("%s: stamped, window start %u (0x%x), sum 0x%08x xor 0x%08x\n", path.c_str(), check.windowStart,
              check.windowStart, check.expected.sum, check.expected.xorValue);
  return 0;
}

int Trim(const std::string& path, const std::string& name, const std::string& countText) {
  uint32_t count = 0;
  if (!ParseNumber(countText, false, &count)) return Usage();
  ByteBuffer module;
  if (!ReadWhole(path, &module)) return 1;
  std::string error;
  if (!TrimResourceHead(module, name, count, &error)) {
    std::fprintf(stderr, "fptool: %s: %s; left unchanged\n", path.c_str(), error.c_str());
    return 1;
  }
  return ReplaceWhole(path, module) ? 0 : 1;
}

int Check(const std::string& modulePath, int fileCount, char** files) {
  ByteBuffer module;
  if (!ReadWhole(modulePath, &module)) return 1;
  bool ok = true;
  SelfCheck self = CheckSelfRecord(module);
  if (!self.found) {
    std::printf("%s: %zu bytes, no readable self record \"%s\": mismatch\n", modulePath.c_str(), module.size(),
                kSelfRecordName);
    ok = false;
  } else {
    std::printf(
        "%s: %zu bytes, self record at offset %u (%u bytes, marker \"%s\"), window start %u (0x%x), "
        "expected %s, actual %s: %s\n",
        modulePath.c_str(), module.size(), self.recordOffset, self.recordSize, self.marker.c_str(), self.windowStart,
        self.windowStart, RecordText(self.expected).c_str(), RecordText(self.actual).c_str(),
        self.matches ? "match" : "mismatch");
    ok = ok && self.matches;
  }
  for (int i = 0; i < fileCount; ++i) {
    std::string path = files[i];
    std::string name = fs::path(path).filename().string();
    ByteBuffer file;
    if (!ReadWhole(path, &file)) {
      ok = false;
      continue;
    }
    FileCheck check = CheckFileRecord(module, name, file);
    if (!check.found) {
      std::printf("%s: %zu bytes, no readable record \"%s\" in the module: mismatch\n", path.c_str(), file.size(),
                  name.c_str());
      ok = false;
      continue;
    }
    std::printf("%s: %zu bytes, record \"%s\" reads %s, actual %s: %s\n", path.c_str(), file.size(),
                check.recordText.c_str(), RecordText(check.expected).c_str(), RecordText(check.actual).c_str(),
                check.matches ? "match" : "mismatch");
    ok = ok && check.matches;
  }
  return ok ? 0 : 1;
}

int Pad(int argc, char** argv) {
  if (argc < 4) return Usage();
  uint32_t size = 0;
  ChecksumPair target{};
  ChecksumWindow window = kNoWindow;
  std::string fillerName = kFillerResource;
  if (!ParseNumber(argv[1], false, &size) || !ParseNumber(argv[2], true, &target.sum) ||
      !ParseNumber(argv[3], true, &target.xorValue)) {
    std::fputs("fptool: SIZE is decimal (or 0x hex), SUMHEX and XORHEX hexadecimal\n", stderr);
    return 2;
  }
  for (int i = 4; i < argc; i += 2) {
    if (i + 1 >= argc) return Usage();
    if (std::strcmp(argv[i], "--window") == 0 && ParseNumber(argv[i + 1], false, &window.start)) {
      window.present = true;
    } else if (std::strcmp(argv[i], "--resource") == 0) {
      fillerName = argv[i + 1];
    } else {
      return Usage();
    }
  }
  std::string path = argv[0];
  ByteBuffer file;
  if (!ReadWhole(path, &file)) return 1;
  std::string what;
  std::string error;
  if (!PadFile(file, size, target, window, fillerName, &what, &error)) {
    std::fprintf(stderr, "fptool: %s: %s; left unchanged\n", path.c_str(), error.c_str());
    return 1;
  }
  if (!ReplaceWhole(path, file)) return 1;
  std::printf("%s: %s, now %zu bytes, checksum %s\n", path.c_str(), what.c_str(), file.size(),
              RecordText(WholeFileChecksum(file, window)).c_str());
  return 0;
}

}  // namespace

int Delta(const std::string& earlierPath, const std::string& framePath, const std::string& outPath) {
  ByteBuffer earlier;
  ByteBuffer frame;
  if (!ReadWhole(earlierPath, &earlier) || !ReadWhole(framePath, &frame)) return 1;
  ByteBuffer resource;
  std::string error;
  if (!MakeDeltaResource(earlier, frame, &resource, &error)) {
    std::fprintf(stderr, "fptool: delta of %s against %s: %s\n", framePath.c_str(), earlierPath.c_str(),
                 error.c_str());
    return 1;
  }
  return ReplaceWhole(outPath, resource) ? 0 : 1;
}

// Size and content hash of a file, read in pieces: a payload file may be
// larger than the memory this machine can spare.
bool HashFile(const std::string& path, uint64_t* size, uint64_t* hash) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "fptool: cannot open %s\n", path.c_str());
    return false;
  }
  ZstdHash content;
  ZstdHashStart(&content);
  std::vector<char> piece(1 << 20);
  *size = 0;
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::streamsize got = in.gcount();
    ZstdHashAdd(&content, piece.data(), static_cast<size_t>(got));
    *size += static_cast<uint64_t>(got);
  }
  if (in.bad()) {
    std::fprintf(stderr, "fptool: cannot read %s\n", path.c_str());
    return false;
  }
  *hash = ZstdHashValue(&content);
  return true;
}

int Hashes(const std::string& outPath, int argc, char** argv) {
  if (argc % 4 != 0) return Usage();
  std::vector<PayloadHash> records;
  for (int i = 0; i < argc; i += 4) {
    PayloadHash record{};
    const std::string kind = argv[i];
    const std::string name = argv[i + 1];
    if (kind == "stored") {
      record.kind = CarriedKind::Stored;
    } else if (kind == "frame") {
      record.kind = CarriedKind::Frame;
    } else if (kind == "delta") {
      record.kind = CarriedKind::Delta;
    } else {
      std::fprintf(stderr, "fptool: hashes: KIND %s is not stored, frame or delta\n", kind.c_str());
      return 2;
    }
    if (name.empty() || name.size() > kPayloadHashNameMax) {
      std::fprintf(stderr, "fptool: hashes: NAME %s must hold 1 to %zu bytes\n", name.c_str(), kPayloadHashNameMax);
      return 2;
    }
    std::memcpy(record.name, name.c_str(), name.size() + 1);
    if (!HashFile(argv[i + 2], &record.carriedSize, &record.carriedHash) ||
        !HashFile(argv[i + 3], &record.decodedSize, &record.decodedHash)) {
      return 1;
    }
    records.push_back(record);
  }
  ByteBuffer table(PayloadHashesSize(records.data(), static_cast<uint32_t>(records.size())));
  WritePayloadHashes(records.data(), static_cast<uint32_t>(records.size()), table.data());
  return ReplaceWhole(outPath, table) ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "record" && (argc == 3 || argc == 4)) return Record(argv[2], argc == 4 ? argv[3] : nullptr);
  if (command == "stamp" && argc == 3) return Stamp(argv[2]);
  if (command == "check" && argc >= 3) return Check(argv[2], argc - 3, argv + 3);
  if (command == "trim" && argc == 5) return Trim(argv[2], argv[3], argv[4]);
  if (command == "pad" && argc >= 6) return Pad(argc - 2, argv + 2);
  if (command == "delta" && argc == 5) return Delta(argv[2], argv[3], argv[4]);
  if (command == "hashes" && argc >= 3) return Hashes(argv[2], argc - 3, argv + 3);
  return Usage();
}
