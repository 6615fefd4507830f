#pragma once
// Hand-made PE files with a resource section, for the tests of the PE reader
// and of fptool: small, and with every offset known, so that a test can
// damage exactly one part.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, std::size_t at, uint32_t v) { WriteLe16(b.data() + at, v); }
inline void Put32(Bytes& b, std::size_t at, uint32_t v) { WriteLe32(b.data() + at, v); }

struct FixtureResource {
  std::string type;  // "#n" for an id
  std::string name;
  uint16_t language;
  std::string data;
};

// Where the parts of a fixture landed, so that tests can damage them.
struct FixtureLayout {
  std::size_t resourceDirectoryField;  // data directory entry: RVA, then size
  std::size_t sectionHeader;
  std::size_t sectionStart;  // file offset of the .rsrc raw data
  std::vector<std::size_t> dataEntries;  // file offsets, in resource order
  std::vector<std::size_t> dataOffsets;
};

constexpr uint32_t kSectionRva = 0x3000;
constexpr uint32_t kSectionFileOffset = 0x200;

// The resource section: per resource one type, name and language
// directory, so that every level is exercised; resources of one type share
// their type directory.
inline Bytes BuildTree(const std::vector<FixtureResource>& resources, std::vector<std::size_t>* dataEntries,
                std::vector<std::size_t>* dataOffsets) {
  std::vector<std::string> types;
  for (const auto& r : resources) {
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
  }
  Bytes tree(16 + 8 * types.size());
  std::vector<std::size_t> typeDirs;
  for (std::size_t t = 0; t < types.size(); ++t) {
    typeDirs.push_back(tree.size());
    std::size_t n = 0;
    for (const auto& r : resources) n += r.type == types[t];
    tree.resize(tree.size() + 16 + 8 * n);
  }
  std::vector<std::size_t> languageDirs;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    languageDirs.push_back(tree.size());
    tree.resize(tree.size() + 16 + 8);
  }
  std::vector<std::size_t> entries;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    entries.push_back(tree.size());
    tree.resize(tree.size() + 16);
  }
  auto label = [&tree](const std::string& text) -> uint32_t {
    if (text[0] == '#') return static_cast<uint32_t>(std::stoul(text.substr(1)));
    std::size_t at = tree.size();
    tree.resize(at + 2 + 2 * text.size());
    Put16(tree, at, static_cast<uint32_t>(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) Put16(tree, at + 2 + 2 * i, static_cast<uint8_t>(text[i]));
    return 0x80000000u | static_cast<uint32_t>(at);
  };
  auto directory = [&tree](std::size_t at, std::size_t named, std::size_t ids) {
    Put16(tree, at + 12, static_cast<uint32_t>(named));
    Put16(tree, at + 14, static_cast<uint32_t>(ids));
  };
  auto entry = [&tree](std::size_t dir, std::size_t index, uint32_t labelField, uint32_t target) {
    Put32(tree, dir + 16 + 8 * index, labelField);
    Put32(tree, dir + 16 + 8 * index + 4, target);
  };
  std::size_t named = 0;
  for (const auto& t : types) named += t[0] != '#';
  directory(0, named, types.size() - named);
  for (std::size_t t = 0; t < types.size(); ++t) {
    entry(0, t, label(types[t]), 0x80000000u | static_cast<uint32_t>(typeDirs[t]));
    std::size_t index = 0;
    std::size_t namedHere = 0;
    std::size_t all = 0;
    for (std::size_t i = 0; i < resources.size(); ++i) {
      if (resources[i].type != types[t]) continue;
      ++all;
      namedHere += resources[i].name[0] != '#';
      entry(typeDirs[t], index++, label(resources[i].name), 0x80000000u | static_cast<uint32_t>(languageDirs[i]));
    }
    directory(typeDirs[t], namedHere, all - namedHere);
  }
  for (std::size_t i = 0; i < resources.size(); ++i) {
    directory(languageDirs[i], 0, 1);
    entry(languageDirs[i], 0, resources[i].language, static_cast<uint32_t>(entries[i]));
    tree.resize((tree.size() + 7) & ~std::size_t{7});
    Put32(tree, entries[i], kSectionRva + static_cast<uint32_t>(tree.size()));
    Put32(tree, entries[i] + 4, static_cast<uint32_t>(resources[i].data.size()));
    dataOffsets->push_back(tree.size());
    tree.insert(tree.end(), resources[i].data.begin(), resources[i].data.end());
  }
  *dataEntries = entries;
  return tree;
}

// A minimal image: headers and one .rsrc section, PE32 or PE32+.
inline Bytes BuildPe(const std::vector<FixtureResource>& resources, bool plus = false, FixtureLayout* layout = nullptr) {
  const uint32_t optionalSize = plus ? 240 : 224;
  const uint32_t directories = plus ? 112 : 96;
  Bytes file(kSectionFileOffset);
  file[0] = 'M';
  file[1] = 'Z';
  const std::size_t pe = 0x80;
  Put32(file, 0x3c, pe);
  std::memcpy(&file[pe], "PE\0\0", 4);
  const std::size_t coff = pe + 4;
  Put16(file, coff, plus ? 0x8664 : 0x14c);
  Put16(file, coff + 2, resources.empty() ? 0 : 1);
  Put16(file, coff + 16, optionalSize);
  const std::size_t optional = coff + 20;
  Put16(file, optional, plus ? 0x20b : 0x10b);
  Put32(file, optional + directories - 4, 16);
  FixtureLayout where{};
  where.resourceDirectoryField = optional + directories + 16;
  where.sectionHeader = optional + optionalSize;
  where.sectionStart = kSectionFileOffset;
  if (!resources.empty()) {
    std::vector<std::size_t> entries;
    std::vector<std::size_t> offsets;
    Bytes tree = BuildTree(resources, &entries, &offsets);
    const uint32_t raw = static_cast<uint32_t>((tree.size() + 0x1ff) & ~std::size_t{0x1ff});
    Put32(file, where.resourceDirectoryField, kSectionRva);
    Put32(file, where.resourceDirectoryField + 4, static_cast<uint32_t>(tree.size()));
    std::memcpy(&file[where.sectionHeader], ".rsrc", 5);
    Put32(file, where.sectionHeader + 8, static_cast<uint32_t>(tree.size()));
    Put32(file, where.sectionHeader + 12, kSectionRva);
    Put32(file, where.sectionHeader + 16, raw);
    Put32(file, where.sectionHeader + 20, kSectionFileOffset);
    tree.resize(raw);
    file.insert(file.end(), tree.begin(), tree.end());
    for (std::size_t e : entries) where.dataEntries.push_back(kSectionFileOffset + e);
    for (std::size_t o : offsets) where.dataOffsets.push_back(kSectionFileOffset + o);
  }
  if (layout != nullptr) *layout = where;
  return file;
}

