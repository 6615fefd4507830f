#include "base/pe_resources.h"

#include "base/ascii_case.h"
#include "base/byte_order.h"

#include <set>

namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kNewHeaderOffsetField = 0x3c;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kHighBit = 0x80000000u;
// Type, name, language: the loader looks no deeper, and neither do we.
constexpr int kLeafLevel = 2;

// Offsets and lengths come from the file, so every range test is done in 64
// bits where no sum of two 32-bit values can wrap.
bool Fits(uint64_t offset, uint64_t length, uint64_t limit) { return offset <= limit && length <= limit - offset; }

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawSize;
  uint32_t rawOffset;
};

class PeImage {
 public:
  PeImage(const uint8_t* file, std::size_t size) : file_(file), size_(size) {}

  // Reads the headers; false for anything the loader would not take as PE.
  bool ReadHeaders(uint32_t* resourceRva) {
    if (file_ == nullptr || size_ < kDosHeaderSize || file_[0] != 'M' || file_[1] != 'Z') return false;
    uint64_t pe = ReadLe32(file_ + kNewHeaderOffsetField);
    if (!Fits(pe, 4 + kCoffHeaderSize, size_)) return false;
    if (file_[pe] != 'P' || file_[pe + 1] != 'E' || file_[pe + 2] != 0 || file_[pe + 3] != 0) return false;
    const uint8_t* coff = file_ + pe + 4;
    uint32_t sectionCount = ReadLe16(coff + 2);
    uint32_t optionalSize = ReadLe16(coff + 16);
    uint64_t optional = pe + 4 + kCoffHeaderSize;
    if (optionalSize < 2 || !Fits(optional, optionalSize, size_)) return false;

    uint32_t countField = 0;
    uint32_t directories = 0;
    switch (ReadLe16(file_ + optional)) {
      case 0x10b:  // PE32
        countField = 92;
        directories = 96;
        break;
      case 0x20b:  // PE32+
        countField = 108;
        directories = 112;
        break;
      default:
        return false;
    }
    if (optionalSize < directories) return false;
    uint32_t directoryCount = ReadLe32(file_ + optional + countField);
    *resourceRva = 0;
    uint32_t resourceSize = 0;
    if (directoryCount > kResourceDirectoryIndex) {
      uint32_t at = directories + kResourceDirectoryIndex * 8;
      if (!Fits(at, 8, optionalSize)) return false;
      *resourceRva = ReadLe32(file_ + optional + at);
      resourceSize = ReadLe32(file_ + optional + at + 4);
    }
    if (resourceSize == 0) *resourceRva = 0;

    uint64_t table = optional + optionalSize;
    if (!Fits(table, uint64_t{sectionCount} * kSectionHeaderSize, size_)) return false;
    sections_.clear();
    for (uint32_t i = 0; i < sectionCount; ++i) {
      const uint8_t* header = file_ + table + uint64_t{i} * kSectionHeaderSize;
      sections_.push_back(Section{ReadLe32(header + 12), ReadLe32(header + 8), ReadLe32(header + 16), ReadLe32(header + 20)});
    }
    return true;
  }

  // The file range holding [rva, rva + length), which must lie in the raw
  // data of one section, itself wholly inside the file; *sectionEnd is the
  // file offset where that raw data ends.
  bool MapRange(uint32_t rva, uint32_t length, uint64_t* fileOffset, uint64_t* sectionEnd) const {
    for (const Section& s : sections_) {
      uint64_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
      uint64_t inSection = rva - s.virtualAddress;
      if (!Fits(s.rawOffset, s.rawSize, size_)) return false;
      if (!Fits(inSection, length, s.rawSize)) return false;
      *fileOffset = s.rawOffset + inSection;
      *sectionEnd = uint64_t{s.rawOffset} + s.rawSize;
      return true;
    }
    return false;
  }

  const uint8_t* file() const { return file_; }
  std::size_t size() const { return size_; }

 private:
  const uint8_t* file_;
  std::size_t size_;
  std::vector<Section> sections_;
};

// Walks the tree whose offsets count from the root at file offset `base`
// and may reach up to `limit`.
class TreeWalker {
 public:
  TreeWalker(const PeImage& image, uint64_t base, uint64_t limit) : image_(image), base_(base), length_(limit - base) {}

  bool Walk(std::vector<PeResourceEntry>* out) { return WalkDirectory(0, 0, out); }

 private:
  const uint8_t* At(uint64_t offset) const { return image_.file() + base_ + offset; }

  bool ReadLabel(uint32_t field, std::string* label) const {
    if ((field & kHighBit) == 0) {
      if (field > 0xffff) return false;
      *label = "#" + std::to_string(field);
      return true;
    }
    uint64_t at = field & ~kHighBit;
    if (!Fits(at, 2, length_)) return false;
    uint32_t units = ReadLe16(At(at));
    if (!Fits(at + 2, uint64_t{units} * 2, length_)) return false;
    label->clear();
    for (uint32_t i = 0; i < units; ++i) {
      uint16_t unit = ReadLe16(At(at + 2 + uint64_t{i} * 2));
      // Only ASCII names are ever looked up; anything else just must not
      // pass for one.
      label->push_back(unit != 0 && unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return true;
  }

  bool WalkDirectory(uint64_t offset, int level, std::vector<PeResourceEntry>* out) {
    // Every directory is entered once: a loop, or a subtree shared many
    // times over, would otherwise multiply the work without end.
    if (!visited_.insert(offset).second) return false;
    if (!Fits(offset, kDirectoryHeaderSize, length_)) return false;
    uint64_t count = uint64_t{ReadLe16(At(offset + 12))} + ReadLe16(At(offset + 14));
    if (!Fits(offset + kDirectoryHeaderSize, count * kDirectoryEntrySize, length_)) return false;
    for (uint64_t i = 0; i < count; ++i) {
      const uint8_t* entry = At(offset + kDirectoryHeaderSize + i * kDirectoryEntrySize);
      std::string label;
      if (!ReadLabel(ReadLe32(entry), &label)) return false;
      uint32_t target = ReadLe32(entry + 4);
      bool isDirectory = (target & kHighBit) != 0;
      if (isDirectory != (level < kLeafLevel)) return false;
      labels_[level] = label;
      if (isDirectory) {
        if (!WalkDirectory(target & ~kHighBit, level + 1, out)) return false;
        continue;
      }
      if (label[0] != '#') return false;  // a language is always a number
      if (!Fits(target, kDataEntrySize, length_)) return false;
      uint32_t dataRva = ReadLe32(At(target));
      uint32_t dataSize = ReadLe32(At(target + 4));
      uint64_t dataOffset = 0;
      uint64_t sectionEnd = 0;
      if (!image_.MapRange(dataRva, dataSize, &dataOffset, &sectionEnd)) return false;
      out->push_back(PeResourceEntry{labels_[0], labels_[1], static_cast<uint16_t>(std::stoul(label.substr(1))),
                                     static_cast<uint32_t>(dataOffset), dataSize,
                                     static_cast<uint32_t>(base_ + target)});
    }
    return true;
  }

  const PeImage& image_;
  uint64_t base_;
  uint64_t length_;
  std::set<uint64_t> visited_;
  std::string labels_[kLeafLevel + 1];
};

// "#010" names the same id as "#10", as it does for the system.
std::string CanonicalLabel(const std::string& label) {
  if (label.size() < 2 || label[0] != '#') return label;
  uint32_t id = 0;
  for (std::size_t i = 1; i < label.size(); ++i) {
    if (label[i] < '0' || label[i] > '9') return label;
    id = id * 10 + static_cast<uint32_t>(label[i] - '0');
    if (id > 0xffff) return label;
  }
  return "#" + std::to_string(id);
}

}  // namespace

bool PeReadResources(const uint8_t* file, std::size_t size, std::vector<PeResourceEntry>* out) {
  out->clear();
  PeImage image(file, size);
  uint32_t resourceRva = 0;
  if (!image.ReadHeaders(&resourceRva)) return false;
  if (resourceRva == 0) return true;
  uint64_t root = 0;
  uint64_t sectionEnd = 0;
  if (!image.MapRange(resourceRva, kDirectoryHeaderSize, &root, &sectionEnd)) return false;
  TreeWalker walker(image, root, sectionEnd);
  if (!walker.Walk(out)) {
    out->clear();
    return false;
  }
  return true;
}

bool PeFindResource(const uint8_t* file, std::size_t size, const std::string& type, const std::string& name,
                    PeResourceEntry* out) {
  std::vector<PeResourceEntry> entries;
  if (!PeReadResources(file, size, &entries)) return false;
  std::string wantedType = CanonicalLabel(type);
  std::string wantedName = CanonicalLabel(name);
  for (const PeResourceEntry& entry : entries) {
    if (SameIgnoringAsciiCase(entry.type, wantedType) && SameIgnoringAsciiCase(entry.name, wantedName)) {
      *out = entry;
      return true;
    }
  }
  return false;
}
