#pragma once
// A clean simulated machine per test: drive C: is a fresh host folder, the
// application-data folder exists, and nothing else does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/platform_sim.h"
#include "tests/unit/payload_hashes_fixture.h"

namespace fs = std::filesystem;

inline std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The sample game built by the Windows tree; tests that need it fail when it
// is missing rather than pass without looking.
inline fs::path WindowsBuildDir() {
  const char* dir = std::getenv("UPDATER_WINDOWS_BUILD_DIR");
  return dir != nullptr ? fs::path(dir) : fs::path();
}
inline fs::path SampleDir() { return WindowsBuildDir() / "sample"; }

// "<caption> | <text>" of each box shown, in order.
inline std::vector<std::string> Boxes() {
  std::vector<std::string> boxes;
  for (const auto& box : sim::MessageBoxes()) boxes.push_back(box.caption + " | " + box.text);
  return boxes;
}

// "<what the caption names> [<message code>]" of each box shown.
inline std::vector<std::string> Shown() {
  std::vector<std::string> shown;
  for (const auto& box : sim::MessageBoxes()) {
    const std::size_t code = box.text.find("[0x");
    shown.push_back(box.caption.substr(0, box.caption.find(" - ")) + " " +
                    (code == std::string::npos ? box.text : box.text.substr(code)));
  }
  return shown;
}

// The writes of the files a run puts in, each written beside its target;
// the switch journal's and the update record's are left out.
inline std::vector<sim::WriteRecord> PayloadWrites() {
  std::vector<sim::WriteRecord> payload;
  for (const auto& w : sim::Writes()) {
    if (w.path.find(".UpDate-new") != std::string::npos) payload.push_back(w);
  }
  return payload;
}

class SimTest : public ::testing::Test {
 protected:
  static constexpr const char* kAppData = "C:\\Users\\player\\AppData\\Roaming";
  static constexpr const char* kInstall = "C:\\Games\\LMH";

  void SetUp() override {
    sim::Reset();
    char pattern[] = "/tmp/updater-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    ResetMachine();
  }

  // A fresh simulated machine over the same drive folder.
  void ResetMachine() {
    sim::Reset();
    sim::MapDrive('C', root_.string());
    sim::SetSpecialFolder(SpecialFolder::UserAppData, kAppData);
    fs::create_directories(Host(kAppData));
    sim::SetDiskSpace(true, uint64_t{100} << 30, uint64_t{50} << 30);
  }

  void TearDown() override {
    EXPECT_EQ(sim::LiveFiles(), 0) << "a file handle was left open";
    EXPECT_EQ(sim::LiveModules(), 0) << "a module was left loaded";
    EXPECT_EQ(sim::LiveAllocations(), 0) << "a buffer was not released";
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Host(const std::string& windowsPath) { return fs::path(sim::HostPath(windowsPath)); }
  fs::path ProfilePath() { return Host(std::string(kAppData) + "\\KESTRIN\\LMH.ini"); }

  // New files and old ones set aside that a run left in the installation.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(Host(kInstall))) {
      if (e.path().filename().string().find(".UpDate-") != std::string::npos) found.push_back(e.path().string());
    }
    return found;
  }
  void WriteProfile(const std::string& content) { WriteBytes(ProfilePath(), content); }
  void WriteInstalledProfile() { WriteProfile(std::string("[INSTALL]\r\nInstallFold=") + kInstall + "\r\n"); }

  // Copies a version of the sample game ("old" or "new") into the install folder.
  void InstallSample(const std::string& version) {
    fs::path from = SampleDir() / version;
    ASSERT_TRUE(fs::exists(from / "LMH.exe")) << "sample game missing: " << from;
    fs::create_directories(Host(kInstall));
    fs::copy(from, Host(kInstall), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }

  // The new sample version as the updater's own payload resources, with
  // their table of hashes.
  void CarrySamplePayload() {
    fs::path from = SampleDir() / "new";
    ASSERT_TRUE(fs::exists(from / "LMH.exe")) << "sample game missing: " << from;
    CarryStored("LMH.EXE", ReadBytes(from / "LMH.exe"));
    CarryStored("RESOURCE.DLL", ReadBytes(from / "dll" / "RESOURCE.dll"));
  }

  fs::path root_;
};
