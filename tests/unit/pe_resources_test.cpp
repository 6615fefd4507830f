#include "base/pe_resources.h"

#include "tests/unit/pe_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::vector<FixtureResource> kModuleResources = {
    {"#10", "LMH.EXE", 0x411, "027e8a16d49f3f5a"},
    {"#10", "RESOURCE.DLL", 0x411, std::string("/**/") + std::string(28, '\0')},
    {"BIN", "#102", 0x409, "payload bytes"},
};

std::string DataAt(const Bytes& file, const PeResourceEntry& entry) {
  return std::string(reinterpret_cast<const char*>(&file[entry.fileOffset]), entry.size);
}

TEST(PeResources, ListsEveryLeafOfPe32AndPe32Plus) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    FixtureLayout layout;
    Bytes file = BuildPe(kModuleResources, plus, &layout);
    std::vector<PeResourceEntry> entries;
    ASSERT_TRUE(PeReadResources(file.data(), file.size(), &entries));
    ASSERT_EQ(entries.size(), kModuleResources.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].type, kModuleResources[i].type);
      EXPECT_EQ(entries[i].name, kModuleResources[i].name);
      EXPECT_EQ(entries[i].language, kModuleResources[i].language);
      EXPECT_EQ(entries[i].fileOffset, layout.dataOffsets[i]);
      EXPECT_EQ(DataAt(file, entries[i]), kModuleResources[i].data);
    }
  }
}

TEST(PeResources, FindsByTypeAndNameIgnoringAsciiCase) {
  Bytes file = BuildPe(kModuleResources);
  struct Case {
    const char* type;
    const char* name;
    const char* data;  // null: not found
  };
  const Case cases[] = {
      {"#10", "LMH.exe", "027e8a16d49f3f5a"},
      {"#10", "lmh.EXE", "027e8a16d49f3f5a"},
      {"#10", "resource.dll", nullptr},  // found, checked by size below
      {"bin", "#102", "payload bytes"},
      {"BIN", "#0102", "payload bytes"},
      {"#10", "LMH", nullptr},
      {"#10", "LMH.EXE ", nullptr},
      {"#11", "LMH.EXE", nullptr},
      {"BIN", "102", nullptr},
      {"#10", "#102", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + "/" + c.name);
    PeResourceEntry entry{};
    bool found = PeFindResource(file.data(), file.size(), c.type, c.name, &entry);
    if (std::string(c.name) == "resource.dll") {
      ASSERT_TRUE(found);
      EXPECT_EQ(entry.size, 32u);
      EXPECT_EQ(DataAt(file, entry).substr(0, 4), "/**/");
    } else if (c.data != nullptr) {
      ASSERT_TRUE(found);
      EXPECT_EQ(DataAt(file, entry), c.data);
    } else {
      EXPECT_FALSE(found);
    }
  }
}

TEST(PeResources, TakesTheFirstLanguage) {
  Bytes file = BuildPe({{"#10", "A", 0x409, "english"}, {"#10", "B", 0x411, "other"}});
  PeResourceEntry entry{};
  ASSERT_TRUE(PeFindResource(file.data(), file.size(), "#10", "b", &entry));
  EXPECT_EQ(entry.language, 0x411);
  EXPECT_EQ(DataAt(file, entry), "other");
}

TEST(PeResources, PeWithoutResourcesHasNoEntries) {
  Bytes file = BuildPe({});
  std::vector<PeResourceEntry> entries{PeResourceEntry{}};
  EXPECT_TRUE(PeReadResources(file.data(), file.size(), &entries));
  EXPECT_TRUE(entries.empty());
  PeResourceEntry entry{};
  EXPECT_FALSE(PeFindResource(file.data(), file.size(), "#10", "LMH.EXE", &entry));
}

// Each damage turns a good module into one that must be refused as a whole.
TEST(PeResources, RefusesMalformedFiles) {
  FixtureLayout layout;
  const Bytes good = BuildPe(kModuleResources, false, &layout);
  const std::size_t root = layout.sectionStart;
  struct Case {
    const char* what;
    void (*damage)(Bytes&, const FixtureLayout&, std::size_t root);
  };
  const Case cases[] = {
      {"empty", [](Bytes& f, const FixtureLayout&, std::size_t) { f.clear(); }},
      {"not a PE: text", [](Bytes& f, const FixtureLayout&, std::size_t) {
         std::string text = "MZ is not enough to make a program out of this text";
         f.assign(text.begin(), text.end());
       }},
      {"no MZ", [](Bytes& f, const FixtureLayout&, std::size_t) { f[0] = 'X'; }},
      {"no PE signature", [](Bytes& f, const FixtureLayout&, std::size_t) { f[0x81] = 'X'; }},
      {"PE header beyond the file", [](Bytes& f, const FixtureLayout&, std::size_t) { Put32(f, 0x3c, 0xfffffff0u); }},
      {"unknown optional header", [](Bytes& f, const FixtureLayout&, std::size_t) { Put16(f, 0x98, 0x107); }},
      {"truncated inside the resource data",
       [](Bytes& f, const FixtureLayout& l, std::size_t) { f.resize(l.dataOffsets.back() + 2); }},
      {"truncated inside the section table", [](Bytes& f, const FixtureLayout& l, std::size_t) {
         f.resize(l.sectionHeader + 20);
       }},
      {"resource RVA in no section", [](Bytes& f, const FixtureLayout& l, std::size_t) {
         Put32(f, l.resourceDirectoryField, 0x9000);
       }},
      {"section raw data beyond the file", [](Bytes& f, const FixtureLayout& l, std::size_t) {
         Put32(f, l.sectionHeader + 20, 0x7ffffe00u);
       }},
      {"data RVA beyond the file", [](Bytes& f, const FixtureLayout& l, std::size_t) {
         Put32(f, l.dataEntries[0], 0xfffffff0u);
       }},
      {"data size past the section", [](Bytes& f, const FixtureLayout& l, std::size_t) {
         Put32(f, l.dataEntries[1] + 4, 0x10000);
       }},
      {"data size that wraps", [](Bytes& f, const FixtureLayout& l, std::size_t) {
         Put32(f, l.dataEntries[1] + 4, 0xffffffffu);
       }},
      {"subdirectory offset beyond the section", [](Bytes& f, const FixtureLayout&, std::size_t r) {
         Put32(f, r + 16 + 4, 0x80000000u | 0x7ff0);
       }},
      {"name string beyond the section", [](Bytes& f, const FixtureLayout&, std::size_t r) {
         std::size_t typeDir = r + 16 + 16;  // two types at the root
         Put32(f, typeDir + 16, 0x80000000u | 0x7fff);
       }},
      {"name string longer than the section", [](Bytes& f, const FixtureLayout&, std::size_t r) {
         std::size_t typeDir = r + 16 + 16;
         uint32_t at = (f[typeDir + 16] | f[typeDir + 17] << 8) & 0x7fff;
         Put16(f, r + at, 0xffff);
       }},
      {"huge entry count", [](Bytes& f, const FixtureLayout&, std::size_t r) {
         Put16(f, r + 12, 0xffff);
         Put16(f, r + 14, 0xffff);
       }},
      {"directory pointing to itself", [](Bytes& f, const FixtureLayout&, std::size_t r) {
         Put32(f, r + 16 + 4, 0x80000000u);
       }},
      {"type directory entered twice", [](Bytes& f, const FixtureLayout&, std::size_t r) {
         Put32(f, r + 16 + 8 + 4, f[r + 16 + 4] | f[r + 16 + 5] << 8 | 0x80000000u);
       }},
      {"leaf where a directory belongs", [](Bytes& f, const FixtureLayout& l, std::size_t r) {
         Put32(f, r + 16 + 4, static_cast<uint32_t>(l.dataEntries[0] - r));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = good;
    c.damage(file, layout, root);
    std::vector<PeResourceEntry> entries{PeResourceEntry{}};
    EXPECT_FALSE(PeReadResources(file.data(), file.size(), &entries));
    EXPECT_TRUE(entries.empty());
    PeResourceEntry entry{};
    EXPECT_FALSE(PeFindResource(file.data(), file.size(), "#10", "LMH.EXE", &entry));
  }
}

Bytes ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Fingerprint modules as the linker makes them: the hand-made one always,
// and the sample game's when the build tells where the Windows tree is.
TEST(PeResources, ReadsFingerprintModules) {
  std::vector<std::pair<std::string, Bytes>> modules = {{"fixture", BuildPe(kModuleResources)}};
  if (const char* dir = std::getenv("UPDATER_WINDOWS_BUILD_DIR")) {
    for (const char* version : {"old", "new", "evil"}) {
      std::string path = std::string(dir) + "/sample/" + version + "/dll/RESOURCE.dll";
      Bytes bytes = ReadWhole(path);
      EXPECT_FALSE(bytes.empty()) << "missing sample module " << path;
      modules.emplace_back(path, bytes);
    }
  }
  for (const auto& [what, file] : modules) {
    SCOPED_TRACE(what);
    PeResourceEntry self{};
    ASSERT_TRUE(PeFindResource(file.data(), file.size(), "#10", "Resource.Dll", &self));
    ASSERT_EQ(self.size, 32u);
    EXPECT_EQ(DataAt(file, self).substr(0, 4), "/**/");
    PeResourceEntry record{};
    ASSERT_TRUE(PeFindResource(file.data(), file.size(), "#10", "lmh.exe", &record));
    ASSERT_EQ(record.size, 16u);
    EXPECT_EQ(DataAt(file, record).find_first_not_of("0123456789abcdef"), std::string::npos);
    // Any cut through the tree or the data must be noticed.
    for (std::size_t cut : {std::size_t{64}, std::size_t{self.fileOffset} + 31}) {
      std::vector<PeResourceEntry> entries;
      EXPECT_FALSE(PeReadResources(file.data(), cut, &entries)) << "cut at " << cut;
    }
  }
}

}  // namespace
