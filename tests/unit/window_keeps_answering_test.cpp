// From the confirmation to the window's end the run lets one pending message
// through after every piece of work that can keep the window waiting: each
// piece written, each slice of a new file's flush, each piece the proof
// reads, each step of the switch. Read off the simulation's ordered event
// log, where the pumps stand between the work, for a stored, a compressed
// and a delta run large enough for several slices and read pieces.
#include <map>
#include <string>
#include <vector>

#include "app/run_updater.h"
#include "base/zstd_stream.h"
#include "core/update_build.h"
#include "fingerprint/checksum.h"
#include "install/source/delta_format.h"
#include "platform/win_values.h"
#include "tests/unit/module_fixture.h"
#include "tests/unit/payload_hashes_fixture.h"
#include "tests/unit/sim_fixture.h"
#include "tests/unit/zstd_fixture.h"

namespace {

// The largest piece the run writes at once.
constexpr uint32_t kLargestPiece = 65534;

bool Starts(const std::string& text, const char* head) { return text.rfind(head, 0) == 0; }

// A piece written to a new file, a flush, a piece read, a rename, a
// folder's flush: each may keep the window waiting for the disk.
bool IsLongWork(const std::string& event) {
  return (Starts(event, "write:") && event.find(".UpDate-new") != std::string::npos) || Starts(event, "flush:") ||
         Starts(event, "read:") || Starts(event, "move:") || Starts(event, "flush-folder:");
}

// The events of the run with its window: after the confirmation, up to the
// window's end.
std::vector<std::string> WindowEvents() {
  const std::vector<std::string>& all = sim::Events();
  std::vector<std::string> window;
  bool confirmed = false;
  for (const std::string& event : all) {
    if (event == "destroy") break;
    if (confirmed) window.push_back(event);
    confirmed = confirmed || Starts(event, "box:");
  }
  return window;
}

// Every stretch between two pumps (or before the first, or after the last)
// that holds more than one piece of long work, listed.
std::vector<std::string> CrowdedStretches(const std::vector<std::string>& events) {
  std::vector<std::string> crowded;
  std::vector<std::string> stretch;
  auto close = [&] {
    if (stretch.size() > 1) {
      std::string shown;
      for (const auto& e : stretch) shown += e + " | ";
      crowded.push_back(shown);
    }
    stretch.clear();
  };
  for (const std::string& event : events) {
    if (event == "pump") close();
    else if (IsLongWork(event)) stretch.push_back(event);
  }
  close();
  return crowded;
}

struct Flush {
  std::string path;
  uint64_t bytes;  // written to the file since its previous flush
  bool last;       // nothing is written to it after this flush
};

// Each flush of a new file with the bytes it had to take to the disk.
std::vector<Flush> NewFileFlushes(const std::vector<std::string>& events) {
  std::vector<Flush> flushes;
  std::map<std::string, uint64_t> unflushed;
  std::map<std::string, std::size_t> lastFlush;
  for (const std::string& event : events) {
    if (event.find(".UpDate-new") == std::string::npos) continue;
    if (Starts(event, "write:")) {
      const std::size_t space = event.find(' ');
      const std::string path = event.substr(space + 1);
      unflushed[path] += std::stoull(event.substr(6, space - 6));
      auto flushed = lastFlush.find(path);
      if (flushed != lastFlush.end()) flushes[flushed->second].last = false;
    } else if (Starts(event, "flush:")) {
      const std::string path = event.substr(6);
      lastFlush[path] = flushes.size();
      flushes.push_back({path, unflushed[path], true});
      unflushed[path] = 0;
    }
  }
  return flushes;
}

using Bytes = std::vector<uint8_t>;

DeltaReference IdentityOf(const Bytes& file) {
  ZstdHash hash;
  ZstdHashStart(&hash);
  ZstdHashAdd(&hash, file.data(), file.size());
  return DeltaReference{file.size(), ContentChecksum(file.data(), static_cast<uint32_t>(file.size()), kNoWindow),
                        ZstdHashValue(&hash)};
}

enum class Kind { Stored, Compressed, Delta };

const char* Name(Kind kind) {
  return kind == Kind::Stored ? "stored" : kind == Kind::Compressed ? "compressed" : "delta";
}

class WindowKeepsAnswering : public SimTest {
 protected:
  // The sample's old version installed, and a new game executable of
  // several slices and several of the proof's read pieces (1 MiB each) as
  // the payload, of the given kind.
  void Prepare(Kind kind) {
    ResetMachine();
    ASSERT_NO_FATAL_FAILURE(InstallSample("old"));
    WriteInstalledProfile();
    const Bytes installed = ReadBytes(Host(std::string(kInstall) + "\\LMH.exe"));
    if (kind == Kind::Stored) {
      CarryStored("LMH.EXE", exe_);
    } else if (kind == Kind::Compressed) {
      Carry(CarriedKind::Frame, "LMH.EXE", Frame(exe_), exe_);
    } else {
      uint8_t header[kDeltaHeaderSize];
      WriteDeltaHeader(IdentityOf(installed), header);
      Bytes resource(header, header + sizeof header);
      const Bytes frame = Frame(exe_, {}, &installed);
      ASSERT_FALSE(frame.empty());
      resource.insert(resource.end(), frame.begin(), frame.end());
      Carry(CarriedKind::Delta, "LMH.EXE$1", resource, exe_);
    }
    CarryStored("RESOURCE.DLL", dll_);
  }

  Bytes InstalledExe() { return ReadBytes(Host(std::string(kInstall) + "\\LMH.exe")); }

  const Bytes exe_ = SampleContent(3'000'000, 7);
  const Bytes dll_ = FingerprintModuleFor(exe_, 2560);
};

TEST_F(WindowKeepsAnswering, AtMostOnePieceOfLongWorkBetweenTwoPumps) {
  const uint32_t slice = kUpdateBuild.flushSliceBytes;
  ASSERT_GT(exe_.size(), 4u * slice);
  ASSERT_FALSE(dll_.empty());
  for (Kind kind : {Kind::Stored, Kind::Compressed, Kind::Delta}) {
    SCOPED_TRACE(Name(kind));
    ASSERT_NO_FATAL_FAILURE(Prepare(kind));
    sim::QueueAnswers({IDOK, IDOK});
    ASSERT_EQ(RunUpdater(sim::OwnModule(), 1), 0);
    ASSERT_EQ(sim::MessageBoxes().size(), 2u);
    ASSERT_EQ(InstalledExe(), exe_) << "the run did not finish";

    const std::vector<std::string> events = WindowEvents();
    EXPECT_EQ(CrowdedStretches(events), std::vector<std::string>{});
    EXPECT_EQ(sim::Misuses(), std::vector<std::string>{});
    // The proof read the new game executable back in several pieces.
    int reads = 0;
    for (const auto& e : events) reads += Starts(e, "read:") && e.find("LMH.exe.UpDate-new") != std::string::npos;
    EXPECT_GE(reads, 3);
    // No flush takes more than a slice and the last piece to the disk, and
    // every flush but a file's last takes at least a slice.
    int slices = 0;
    for (const Flush& f : NewFileFlushes(events)) {
      EXPECT_LT(f.bytes, uint64_t{slice} + kLargestPiece) << f.path;
      if (!f.last) {
        EXPECT_GE(f.bytes, slice) << f.path;
      }
      slices += f.last ? 0 : 1;
    }
    EXPECT_GE(slices, 4);
  }
}

// Where no flush can go on in the background, each slice is flushed where
// it stands, and the window still answers after each.
TEST_F(WindowKeepsAnswering, WithoutAThreadForTheFlushEachSliceIsFlushedInPlace) {
  ASSERT_FALSE(dll_.empty());
  ASSERT_NO_FATAL_FAILURE(Prepare(Kind::Stored));
  sim::RefuseFlushThreads();
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(RunUpdater(sim::OwnModule(), 1), 0);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  EXPECT_EQ(InstalledExe(), exe_);
  const std::vector<std::string> events = WindowEvents();
  EXPECT_EQ(CrowdedStretches(events), std::vector<std::string>{});
  int slices = 0;
  for (const Flush& f : NewFileFlushes(events)) slices += f.last ? 0 : 1;
  EXPECT_GE(slices, 4);
}

// Each rename of the switch failing in turn, and its commit: the renames
// that undo the switch let messages through as its renames do.
TEST_F(WindowKeepsAnswering, ASwitchUndoneLetsAMessageThroughAfterEachRename) {
  ASSERT_FALSE(dll_.empty());
  ASSERT_NO_FATAL_FAILURE(Prepare(Kind::Stored));
  sim::QueueAnswers({IDOK, IDOK});
  ASSERT_EQ(RunUpdater(sim::OwnModule(), 1), 0);
  std::vector<int> failing;
  int commit = 0;
  for (std::size_t i = 0; i < sim::FileOperations().size(); ++i) {
    const std::string& op = sim::FileOperations()[i];
    if (Starts(op, "move:")) failing.push_back(static_cast<int>(i + 1));
    if (Starts(op, "write:") && op.find(".UpDate-journal") != std::string::npos) commit = static_cast<int>(i + 1);
  }
  ASSERT_EQ(failing.size(), 4u);
  ASSERT_GT(commit, failing.back());
  failing.push_back(commit);
  for (int n : failing) {
    SCOPED_TRACE("failing operation " + std::to_string(n));
    ASSERT_NO_FATAL_FAILURE(Prepare(Kind::Stored));
    const Bytes old = InstalledExe();
    sim::FailFileOperation(n);
    sim::QueueAnswers({IDOK, IDOK, IDOK});
    ASSERT_EQ(RunUpdater(sim::OwnModule(), 1), 0);
    ASSERT_EQ(sim::MessageBoxes().size(), 3u);
    EXPECT_EQ(InstalledExe(), old);
    EXPECT_EQ(CrowdedStretches(WindowEvents()), std::vector<std::string>{});
    EXPECT_EQ(sim::Misuses(), std::vector<std::string>{});
  }
}

}  // namespace
