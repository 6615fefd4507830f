// The build's table of hashes of its own payload: a download damaged on its
// way is refused before anything is opened or asked, and a file that does
// not come out as the build recorded it stops the run before the switch.
// The same file runs over the sample's build and over one that adds a file
// and merges an entry list (tests/unit/unit.cmake).
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "base/byte_order.h"
#include "base/text_format.h"
#include "core/update_build.h"
#include "platform/sim/file_view_sim.h"
#include "platform/win_values.h"
#include "tests/unit/delta_fixture.h"
#include "tests/unit/sim_fixture.h"
#include "tests/unit/zstd_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kCaption[] = "Lantern Moonharbor - Update Program";
const char kDamaged[] =
    "アップデートファイルが破損しています。\nお手数ですが、アップデートファイルを再度ダウンロードして下さい。";
const char kConfirm[] =
    "「Lantern Moonharbor」のプログラムのアップデートを行います。\nアップデートを行う前に本体プログラムの終了を確認して下さい。";
const char kFinished[] = "アップデートが終了しました。";
const char kAborted[] = "アップデートが中止されました。";
const char kNotLoaded[] = "アップデートに失敗しました。[0x000A0002]";

bool HasEntryList() { return kUpdateBuild.entryListName != nullptr && kUpdateBuild.entryListName[0] != '\0'; }

// ---- The table's own form ----

// The table's hash of itself, made again after a change to its records.
void Rehash(Bytes& table) {
  const uint64_t hash = ContentHash(Bytes(table.begin() + kPayloadHashesHeaderSize, table.end()));
  WriteLe32(table.data() + 8, static_cast<uint32_t>(hash));
  WriteLe32(table.data() + 12, static_cast<uint32_t>(hash >> 32));
}

std::vector<PayloadHash> SampleRecords() {
  return {HashRecord(CarriedKind::Stored, "LMH.EXE", {1, 2, 3}, {1, 2, 3}),
          HashRecord(CarriedKind::Frame, "RESOURCE.DLL", {4, 5}, {6, 7, 8, 9}),
          HashRecord(CarriedKind::Delta, "LMH.EXE$1", {10}, Bytes(70000, 11))};
}

TEST(PayloadHashesFormat, ReadsBackWhatItWrote) {
  const std::vector<PayloadHash> written = SampleRecords();
  const Bytes table = HashTable(written);
  EXPECT_EQ(table.size(), 16u + 3 * 40 + 7 + 12 + 9);
  EXPECT_EQ(Bytes(table.begin(), table.begin() + 4), (Bytes{'U', 'P', 'D', 'H'}));
  EXPECT_EQ(ReadLe32(table.data() + 4), 3u);
  PayloadHashReader reader{};
  ASSERT_TRUE(StartPayloadHashes(table.data(), table.size(), &reader));
  PayloadHash read{};
  for (const PayloadHash& w : written) {
    ASSERT_TRUE(NextPayloadHash(&reader, &read));
    EXPECT_EQ(read.kind, w.kind);
    EXPECT_STREQ(read.name, w.name);
    EXPECT_EQ(read.carriedSize, w.carriedSize);
    EXPECT_EQ(read.carriedHash, w.carriedHash);
    EXPECT_EQ(read.decodedSize, w.decodedSize);
    EXPECT_EQ(read.decodedHash, w.decodedHash);
  }
  EXPECT_FALSE(NextPayloadHash(&reader, &read));
  // The record's fields, little-endian, where the format puts them.
  const uint8_t* second = table.data() + 16 + 40 + 7;
  EXPECT_EQ(ReadLe32(second), 2u);
  EXPECT_EQ(ReadLe32(second + 4), 12u);
  EXPECT_EQ(ReadLe32(second + 24), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(second + 40), 12), "RESOURCE.DLL");

  const Bytes empty = HashTable({});
  EXPECT_EQ(empty.size(), 16u);
  EXPECT_TRUE(StartPayloadHashes(empty.data(), empty.size(), &reader));
  EXPECT_FALSE(NextPayloadHash(&reader, &read));
}

// Every way a table can be damaged or malformed is refused whole; those
// whose own hash was made again are found by their form alone.
TEST(PayloadHashesFormat, RefusesEveryDamagedOrMalformedTable) {
  const Bytes good = HashTable(SampleRecords());
  const std::size_t firstName = 16 + 40;
  const struct {
    const char* what;
    std::function<void(Bytes&)> change;
  } cases[] = {
      {"nothing at all", [](Bytes& t) { t.clear(); }},
      {"header cut", [](Bytes& t) { t.resize(15); }},
      {"another magic", [](Bytes& t) { t[3] = 'X'; }},
      {"a carried hash's byte flipped", [](Bytes& t) { t[16 + 16] ^= 0x01; }},
      {"a name's byte flipped", [&](Bytes& t) { t[firstName] ^= 0x20; }},
      {"its own hash flipped", [](Bytes& t) { t[15] ^= 0x80; }},
      {"cut by a byte", [](Bytes& t) { t.pop_back(); }},
      {"a byte more", [](Bytes& t) { t.push_back(0); }},
      {"one record more counted", [](Bytes& t) { t[4] += 1; }},
      {"one record less counted", [](Bytes& t) { t[4] -= 1; }},
      {"a byte more, hash made again", [](Bytes& t) { t.push_back(0); Rehash(t); }},
      {"one record less counted, hash made again", [](Bytes& t) { t[4] -= 1; Rehash(t); }},
      {"an unknown kind", [](Bytes& t) { t[16] = 4; Rehash(t); }},
      {"kind zero", [](Bytes& t) { t[16] = 0; Rehash(t); }},
      {"an empty name", [](Bytes& t) { t[16 + 4] = 0; Rehash(t); }},
      {"a name longer than the table", [](Bytes& t) { t[16 + 4] = 200; Rehash(t); }},
      {"a name beyond the longest", [](Bytes& t) { t[16 + 5] = 1; Rehash(t); }},
      {"a zero byte in a name", [&](Bytes& t) { t[firstName + 2] = 0; Rehash(t); }},
  };
  for (const auto& c : cases) {
    Bytes table = good;
    c.change(table);
    ASSERT_NE(table, good) << c.what;
    PayloadHashReader reader{};
    EXPECT_FALSE(StartPayloadHashes(table.data(), table.size(), &reader)) << c.what;
  }
}

// ---- The run ----

// How the game executable travels in the build; every other file is stored.
enum class ExeForm { Stored, Compressed, StoredWithDelta };

class PayloadHashes : public SimTest {
 protected:
  int Run() { return RunUpdater(sim::OwnModule(), 1); }

  // The sample's old version installed, this build's payload carried with
  // its table of hashes: the sample's new version, a file of their own for
  // the files the build adds, and its entry list.
  void Prepare(ExeForm form) {
    std::error_code ignored;
    fs::remove_all(Host(kInstall), ignored);
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    if (HasEntryList()) WriteBytes(Host(std::string(kInstall) + "\\" + kUpdateBuild.entryListName), "b;\r\n");
    WriteInstalledProfile();
    oldExe_ = ReadBytes(SampleDir() / "old" / "LMH.exe");
    newExe_ = ReadBytes(SampleDir() / "new" / "LMH.exe");
    if (form == ExeForm::Compressed) {
      Carry(CarriedKind::Frame, "LMH.EXE", Frame(newExe_, {19}), newExe_);
    } else {
      CarryStored("LMH.EXE", newExe_);
    }
    if (form == ExeForm::StoredWithDelta) {
      Carry(CarriedKind::Delta, "LMH.EXE$1", DeltaResource(IdentityOf(oldExe_), DeltaFrame(oldExe_, newExe_)),
            newExe_);
    }
    CarryStored("RESOURCE.DLL", ReadBytes(SampleDir() / "new" / "dll" / "RESOURCE.dll"));
    for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e) {
      const std::string entry = e->relativePath;
      if (entry == "LMH.exe" || entry == "dll\\RESOURCE.dll") continue;
      const std::string bytes = "added by the update: " + entry;
      CarryStored(FinalPathComponent(e->relativePath), Bytes(bytes.begin(), bytes.end()));
    }
    if (HasEntryList()) CarryStored(kUpdateBuild.entryListName, {'a', ';', '\r', '\n'});
    before_ = Installation();
  }

  // A carried resource changed after the build recorded it, as a download
  // damages it.
  static void Damage(ResourceType type, const std::string& name, std::function<void(Bytes&)> change) {
    const void* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(PlatformFindResource(sim::OwnModule(), type, name.c_str(), &data, &size), ResourceLookup::Found) << name;
    Bytes bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    change(bytes);
    sim::AddOwnResource(type, name, bytes);
  }
  static void FlipMiddle(Bytes& b) { b[b.size() / 2] ^= 0x40; }

  // The record of a resource, rewritten as if the build had recorded
  // another file for it.
  static void RecordDecoded(CarriedKind kind, const std::string& name, std::function<void(PayloadHash&)> change) {
    std::vector<PayloadHash> records = CarriedHashes();
    bool found = false;
    for (PayloadHash& r : records) {
      if (r.kind != kind || name != r.name) continue;
      change(r);
      found = true;
    }
    ASSERT_TRUE(found) << name;
    sim::AddOwnResource(ResourceType::PayloadHashes, kPayloadHashesName, HashTable(records));
  }

  // The table without the record of a resource the build still carries.
  static void Unrecord(CarriedKind kind, const std::string& name) {
    std::vector<PayloadHash> records;
    for (const PayloadHash& r : CarriedHashes()) {
      if (r.kind != kind || name != r.name) records.push_back(r);
    }
    ASSERT_EQ(records.size() + 1, CarriedHashes().size()) << name;
    sim::AddOwnResource(ResourceType::PayloadHashes, kPayloadHashesName, HashTable(records));
  }

  // Every file under the install folder with its bytes.
  std::map<std::string, std::string> Installation() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(Host(kInstall))) {
      if (e.is_regular_file()) files[e.path().string()] = ReadText(e.path());
    }
    return files;
  }

  std::vector<std::string> Texts() {
    std::vector<std::string> t;
    for (const auto& box : sim::MessageBoxes()) t.push_back(box.text);
    return t;
  }

  void TearDown() override {
    EXPECT_EQ(sim::LiveGuards(), 0) << "the single-instance guard was kept";
    EXPECT_EQ(sim::LiveFileViews(), 0) << "a file view was left open";
    EXPECT_EQ(sim::UnansweredBoxes(), 0) << "a question was shown that the test did not expect";
    SimTest::TearDown();
  }

  Bytes oldExe_, newExe_;
  std::map<std::string, std::string> before_;
};

// Each kind of resource with a byte changed, and a table missing, damaged or
// silent about a resource the run would read: the damaged-download message
// and exit code 2, before a single file is opened and before any question.
TEST_F(PayloadHashes, ADamagedDownloadIsRefusedBeforeAnythingIsOpened) {
  struct Case {
    std::string what;
    ExeForm form;
    std::function<void()> damage;
  };
  std::vector<Case> cases = {
      {"stored file, a byte flipped", ExeForm::Stored,
       [] { Damage(ResourceType::Payload, "LMH.EXE", FlipMiddle); }},
      {"stored module, its last byte flipped", ExeForm::Stored,
       [] { Damage(ResourceType::Payload, "RESOURCE.DLL", [](Bytes& b) { b.back() ^= 0x01; }); }},
      {"stored file cut by a byte", ExeForm::Stored,
       [] { Damage(ResourceType::Payload, "LMH.EXE", [](Bytes& b) { b.pop_back(); }); }},
      {"frame, a byte flipped", ExeForm::Compressed,
       [] { Damage(ResourceType::CompressedPayload, "LMH.EXE", FlipMiddle); }},
      {"delta, a byte of its frame flipped", ExeForm::StoredWithDelta,
       [] { Damage(ResourceType::Payload, "LMH.EXE$1", FlipMiddle); }},
      {"delta, a byte of its header flipped", ExeForm::StoredWithDelta,
       [] { Damage(ResourceType::Payload, "LMH.EXE$1", [](Bytes& b) { b[20] ^= 0x01; }); }},
      {"no table", ExeForm::Stored,
       [&] {
         // The same files carried by a build that records none of them.
         const Bytes dll = ReadBytes(SampleDir() / "new" / "dll" / "RESOURCE.dll");
         ResetMachine();
         sim::AddOwnResource(ResourceType::Payload, "LMH.EXE", newExe_);
         sim::AddOwnResource(ResourceType::Payload, "RESOURCE.DLL", dll);
       }},
      {"a table that cannot be loaded", ExeForm::Stored,
       [] { sim::MakeOwnResourceUnloadable(ResourceType::PayloadHashes, kPayloadHashesName); }},
      {"table empty", ExeForm::Stored,
       [] { sim::AddOwnResource(ResourceType::PayloadHashes, kPayloadHashesName, {}); }},
      {"table, a byte flipped", ExeForm::Stored,
       [] { Damage(ResourceType::PayloadHashes, kPayloadHashesName, FlipMiddle); }},
      {"a delta the table does not list", ExeForm::StoredWithDelta,
       [] { sim::AddOwnResource(ResourceType::Payload, "LMH.EXE$2", {1, 2, 3}); }},
      {"a stored file the table does not list", ExeForm::Stored,
       [] { Unrecord(CarriedKind::Stored, "RESOURCE.DLL"); }},
      {"a compressed file the table does not list", ExeForm::Stored,
       [] { sim::AddOwnResource(ResourceType::CompressedPayload, "RESOURCE.DLL", {1, 2, 3}); }},
      {"a listed resource the build lacks", ExeForm::Stored,
       [] {
         CarryStored("GONE.DAT", {1});
         sim::MakeOwnResourceUnloadable(ResourceType::Payload, "GONE.DAT");
       }},
  };
  if (HasEntryList()) {
    cases.push_back({"entry list, a byte flipped", ExeForm::Stored, [] {
                       Damage(ResourceType::Payload, kUpdateBuild.entryListName, [](Bytes& b) { b[0] ^= 0x01; });
                     }});
    cases.push_back({"entry list the table does not list", ExeForm::Stored,
                     [] { Unrecord(CarriedKind::Stored, kUpdateBuild.entryListName); }});
  }
  for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e) {
    const std::string name = FinalPathComponent(e->relativePath);
    if (name == "LMH.exe" || name == "RESOURCE.dll") continue;
    cases.push_back({"added file " + name + ", a byte flipped", ExeForm::Stored,
                     [name] { Damage(ResourceType::Payload, name, FlipMiddle); }});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Prepare(c.form));
    ASSERT_NO_FATAL_FAILURE(c.damage());
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Texts(), std::vector<std::string>{kDamaged});
    EXPECT_EQ(sim::MessageBoxes()[0].caption, kCaption);
    EXPECT_EQ(sim::MessageBoxes()[0].style, 0x30u);
    EXPECT_EQ(sim::FileOperations(), std::vector<std::string>{});
    EXPECT_EQ(Installation(), before_);
  }
}

// Each form of the game executable, undamaged: the table lets it through.
TEST_F(PayloadHashes, AnIntactDownloadUpdates) {
  for (ExeForm form : {ExeForm::Stored, ExeForm::Compressed, ExeForm::StoredWithDelta}) {
    SCOPED_TRACE(static_cast<int>(form));
    ASSERT_NO_FATAL_FAILURE(Prepare(form));
    sim::QueueAnswers({IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kFinished}));
    EXPECT_EQ(ReadBytes(Host(std::string(kInstall) + "\\LMH.exe")), newExe_);
  }
}

// A file that comes out of its resource otherwise than the build recorded
// it, whichever way it travels: that file did not load, the run is
// aborted, the installation stays as it was and nothing is left beside it.
TEST_F(PayloadHashes, AFileThatDoesNotComeOutAsRecordedStopsTheRun) {
  const auto flipFirst = [](PayloadHash& r) { r.decodedHash ^= 1; };
  const auto oneByteMore = [](PayloadHash& r) { r.decodedSize += 1; };
  struct Case {
    std::string what;
    ExeForm form;
    CarriedKind kind;
    std::string resource;
    std::function<void(PayloadHash&)> change;
    std::string entry;  // the file the failure names
  };
  std::vector<Case> cases = {
      {"stored, another content", ExeForm::Stored, CarriedKind::Stored, "LMH.EXE", flipFirst, "LMH.exe"},
      {"stored, a byte longer", ExeForm::Stored, CarriedKind::Stored, "LMH.EXE", oneByteMore, "LMH.exe"},
      {"compressed, another content", ExeForm::Compressed, CarriedKind::Frame, "LMH.EXE", flipFirst, "LMH.exe"},
      {"compressed, a byte longer", ExeForm::Compressed, CarriedKind::Frame, "LMH.EXE", oneByteMore, "LMH.exe"},
      {"delta, another content", ExeForm::StoredWithDelta, CarriedKind::Delta, "LMH.EXE$1", flipFirst, "LMH.exe"},
      {"delta, a byte longer", ExeForm::StoredWithDelta, CarriedKind::Delta, "LMH.EXE$1", oneByteMore, "LMH.exe"},
      // The second file: the first one's new file is taken away again.
      {"the module, another content", ExeForm::Stored, CarriedKind::Stored, "RESOURCE.DLL", flipFirst,
       "dll\\RESOURCE.dll"},
  };
  for (const PayloadEntry* e = kUpdateBuild.payloadTable; e->relativePath != nullptr; ++e) {
    const std::string name = FinalPathComponent(e->relativePath);
    if (name == "LMH.exe" || name == "RESOURCE.dll") continue;
    cases.push_back({"added file " + name + ", another content", ExeForm::Stored, CarriedKind::Stored, name,
                     flipFirst, e->relativePath});
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Prepare(c.form));
    ASSERT_NO_FATAL_FAILURE(RecordDecoded(c.kind, c.resource, c.change));
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Texts(), (std::vector<std::string>{kConfirm, kNotLoaded, kAborted}));
    EXPECT_EQ(sim::MessageBoxes()[1].caption, c.entry + " - " + kCaption + " -");
    EXPECT_EQ(Installation(), before_);
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    for (const auto& op : sim::FileOperations()) EXPECT_NE(op.rfind("move:", 0), 0u) << op;
  }
}

}  // namespace
