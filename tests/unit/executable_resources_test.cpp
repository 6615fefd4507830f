// What the built UpDate.exe carries, read with our own PE reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/pe_resources.h"
#include "tests/unit/sim_fixture.h"

namespace {

// Reads the little-endian fields of a resource in order.
struct Reader {
  const uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  uint16_t Word() {
    uint16_t v = 0;
    if (at + 2 <= size) std::memcpy(&v, data + at, 2);
    at += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t v = 0;
    if (at + 4 <= size) std::memcpy(&v, data + at, 4);
    at += 4;
    return v;
  }
  void Align4() { at = (at + 3) & ~std::size_t{3}; }
  std::u16string Text() {
    std::u16string s;
    for (uint16_t c = Word(); c != 0 && at <= size; c = Word()) s += static_cast<char16_t>(c);
    return s;
  }
  // A name or an ordinal ("#130") as dialog templates store them.
  std::u16string NameOrOrdinal() {
    uint16_t first = Word();
    if (first == 0) return u"";
    if (first == 0xFFFF) {
      std::string n = "#" + std::to_string(Word());
      return std::u16string(n.begin(), n.end());
    }
    at -= 2;
    return Text();
  }
};

class ExecutableResources : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path path = WindowsBuildDir() / "bin" / "UpDate.exe";
    image_ = ReadBytes(path);
    ASSERT_FALSE(image_.empty()) << path << " (UPDATER_WINDOWS_BUILD_DIR names the MinGW build tree)";
    ASSERT_TRUE(PeReadResources(image_.data(), image_.size(), &entries_));
  }

  const PeResourceEntry* Find(const std::string& type, const std::string& name) {
    for (const auto& e : entries_) {
      if (e.type == type && e.name == name) return &e;
    }
    return nullptr;
  }

  std::vector<uint8_t> image_;
  std::vector<PeResourceEntry> entries_;
};

TEST_F(ExecutableResources, CarriesExactlyItsResources) {
  fs::path payload = SampleDir() / "new";
  const struct {
    const char* type;
    const char* name;
    uint16_t language;
    std::size_t size;  // 0: not compared here
  } rows[] = {
      {"BIN", "LMH.EXE", 0x0411, fs::file_size(payload / "LMH.exe")},
      {"BIN", "RESOURCE.DLL", 0x0411, fs::file_size(payload / "dll" / "RESOURCE.dll")},
      {"HASH", "PAYLOAD", 0x0411, 16 + 2 * 40 + 7 + 12},
      {"#5", "#102", 0x0411, 0},
      {"#16", "#1", 0x0411, 0},
      {"#24", "#1", 0x0409, 0},
  };
  ASSERT_EQ(entries_.size(), std::size(rows));
  for (const auto& row : rows) {
    const PeResourceEntry* e = Find(row.type, row.name);
    ASSERT_NE(e, nullptr) << row.type << "/" << row.name;
    EXPECT_EQ(e->language, row.language) << row.name;
    if (row.size != 0) {
      EXPECT_EQ(e->size, row.size) << row.name;
    }
  }
  // The payloads are stored whole: byte for byte the payload files.
  const PeResourceEntry* exe = Find("BIN", "LMH.EXE");
  EXPECT_EQ(std::vector<uint8_t>(image_.begin() + exe->fileOffset, image_.begin() + exe->fileOffset + exe->size),
            ReadBytes(payload / "LMH.exe"));
  EXPECT_EQ(Find("#14", "#112"), nullptr);  // no icon
}

// The build's table of hashes lists each payload resource, stored whole:
// the payload file's size and content hash as carried and as written.
TEST_F(ExecutableResources, TheTableOfHashesRecordsEachPayloadFile) {
  const PeResourceEntry* table = Find("HASH", "PAYLOAD");
  ASSERT_NE(table, nullptr);
  PayloadHashReader reader{};
  ASSERT_TRUE(StartPayloadHashes(image_.data() + table->fileOffset, table->size, &reader));
  const struct {
    const char* name;
    fs::path file;
  } rows[] = {{"LMH.EXE", SampleDir() / "new" / "LMH.exe"},
              {"RESOURCE.DLL", SampleDir() / "new" / "dll" / "RESOURCE.dll"}};
  PayloadHash record{};
  for (const auto& row : rows) {
    ASSERT_TRUE(NextPayloadHash(&reader, &record)) << row.name;
    const std::vector<uint8_t> file = ReadBytes(row.file);
    EXPECT_STREQ(record.name, row.name);
    EXPECT_EQ(record.kind, CarriedKind::Stored) << row.name;
    EXPECT_EQ(record.carriedSize, file.size()) << row.name;
    EXPECT_EQ(record.carriedHash, ContentHash(file)) << row.name;
    EXPECT_EQ(record.decodedSize, file.size()) << row.name;
    EXPECT_EQ(record.decodedHash, ContentHash(file)) << row.name;
  }
  EXPECT_FALSE(NextPayloadHash(&reader, &record));
}

TEST_F(ExecutableResources, ProgressWindowTemplate) {
  const PeResourceEntry* dialog = Find("#5", "#102");
  ASSERT_NE(dialog, nullptr);
  Reader r{image_.data() + dialog->fileOffset, dialog->size};
  EXPECT_EQ(r.Word(), 1);       // extended template
  EXPECT_EQ(r.Word(), 0xFFFF);
  r.Dword();                    // help id
  EXPECT_EQ(r.Dword(), 0u);     // no extended style
  EXPECT_EQ(r.Dword(), 0x80C808C0u);
  const uint16_t controls = r.Word();
  EXPECT_EQ(controls, 3);
  EXPECT_EQ(r.Word(), 0);  // x
  EXPECT_EQ(r.Word(), 0);  // y
  EXPECT_EQ(r.Word(), 187);
  EXPECT_EQ(r.Word(), 55);
  EXPECT_EQ(r.NameOrOrdinal(), u"");  // no menu
  EXPECT_EQ(r.NameOrOrdinal(), u"");  // default dialog class
  EXPECT_EQ(r.Text(), u"Update Program");
  EXPECT_EQ(r.Word(), 9);  // points
  EXPECT_EQ(r.Word(), 0);  // weight
  EXPECT_EQ(r.Word(), 0);  // not italic, character set 0
  EXPECT_EQ(r.Text(), u"ＭＳ Ｐゴシック");

  const struct {
    uint32_t id;
    std::u16string cls;
    std::u16string text;
    uint32_t style;
    uint16_t x, y, cx, cy;
  } expected[] = {
      {1008, u"msctls_progress32", u"", 0x50800001, 8, 16, 172, 15},
      {1010, u"#130", u"アップデートを行っています。", 0x50020000, 10, 4, 162, 8},  // 130: the Static class
      {1009, u"#130", u"", 0x50020002, 150, 33, 28, 9},
  };
  for (const auto& c : expected) {
    r.Align4();
    r.Dword();  // help id
    EXPECT_EQ(r.Dword(), 0u) << c.id;
    EXPECT_EQ(r.Dword(), c.style) << c.id;
    EXPECT_EQ(r.Word(), c.x) << c.id;
    EXPECT_EQ(r.Word(), c.y) << c.id;
    EXPECT_EQ(r.Word(), c.cx) << c.id;
    EXPECT_EQ(r.Word(), c.cy) << c.id;
    EXPECT_EQ(r.Dword(), c.id);
    std::u16string cls = r.NameOrOrdinal();
    for (auto& ch : cls) ch = static_cast<char16_t>(ch >= u'A' && ch <= u'Z' ? ch - u'A' + u'a' : ch);
    std::u16string want = c.cls;
    for (auto& ch : want) ch = static_cast<char16_t>(ch >= u'A' && ch <= u'Z' ? ch - u'A' + u'a' : ch);
    EXPECT_EQ(cls, want) << c.id;  // class names compare without regard to case
    EXPECT_EQ(r.NameOrOrdinal(), c.text) << c.id;
    uint16_t extra = r.Word();
    r.at += extra;
  }
}

TEST_F(ExecutableResources, VersionBlock) {
  const PeResourceEntry* version = Find("#16", "#1");
  ASSERT_NE(version, nullptr);
  const uint8_t* data = image_.data() + version->fileOffset;
  Reader r{data, version->size};
  r.Word();  // length
  EXPECT_EQ(r.Word(), 52);  // fixed part
  r.Word();
  EXPECT_EQ(r.Text(), u"VS_VERSION_INFO");
  r.Align4();
  EXPECT_EQ(r.Dword(), 0xFEEF04BDu);
  r.Dword();
  EXPECT_EQ(r.Dword(), 0x00010000u);  // file version 1.0
  EXPECT_EQ(r.Dword(), 0x00000002u);  // .0.2
  EXPECT_EQ(r.Dword(), 0x00010000u);  // product version
  EXPECT_EQ(r.Dword(), 0x00000002u);
  EXPECT_EQ(r.Dword(), 0x17u);  // flags mask
  EXPECT_EQ(r.Dword(), 0u);     // flags
  EXPECT_EQ(r.Dword(), 4u);     // 32-bit Windows
  EXPECT_EQ(r.Dword(), 1u);     // application
  EXPECT_EQ(r.Dword(), 0u);     // subtype

  // Each string of the 041104b0 table: its key, then its UTF-16 value.
  const std::u16string all(reinterpret_cast<const char16_t*>(data), version->size / 2);
  auto value = [&](const std::u16string& key) {
    std::size_t at = all.find(key + u'\0');
    if (at == std::u16string::npos) return std::u16string(u"<missing>");
    at += key.size() + 1;
    while (at < all.size() && all[at] == 0) ++at;  // padding to 4 bytes
    return std::u16string(all.c_str() + at);
  };
  EXPECT_NE(all.find(u"041104b0"), std::u16string::npos);
  EXPECT_EQ(value(u"FileDescription"), u"UpDate アプリケーション");
  EXPECT_EQ(value(u"ProductName"), u"UpDate アプリケーション");
  EXPECT_EQ(value(u"FileVersion"), u"1.0.0.2");
  EXPECT_EQ(value(u"ProductVersion"), u"1.0.0.2");
  EXPECT_EQ(value(u"InternalName"), u"UpDate");
  EXPECT_EQ(value(u"OriginalFilename"), u"UpDate.exe");
  std::size_t translation = all.find(std::u16string(u"Translation") + u'\0');
  ASSERT_NE(translation, std::u16string::npos);
  translation += 12;
  while (all[translation] == 0) ++translation;
  EXPECT_EQ(all[translation], 0x0411);
  EXPECT_EQ(all[translation + 1], 0x04B0);
}

TEST_F(ExecutableResources, ManifestAsksForAdministratorAndNothingElse) {
  const PeResourceEntry* manifest = Find("#24", "#1");
  ASSERT_NE(manifest, nullptr);
  std::string text(image_.begin() + manifest->fileOffset, image_.begin() + manifest->fileOffset + manifest->size);
  EXPECT_NE(text.find("manifestVersion=\"1.0\""), std::string::npos);
  EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
  for (const char* absent : {"dependency", "compatibility", "dpiAware", "Common-Controls"}) {
    EXPECT_EQ(text.find(absent), std::string::npos) << absent;
  }
}

}  // namespace
