#include <algorithm>
#include <cstring>

#include "core/updater_state.h"
#include "install/run/free_space.h"
#include "tests/unit/sim_fixture.h"

namespace {

constexpr uint64_t MiB = 1u << 20;

class FreeSpace : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    std::memset(&g_state, 0, sizeof g_state);
    std::strcpy(g_state.installFolder, kInstall);
  }
};

TEST_F(FreeSpace, ComparesWholeMebibytes) {
  const struct {
    uint64_t needed;
    uint64_t free;
    bool passes;
  } cases[] = {
      {5 * MiB, 5 * MiB, true},
      {3 * MiB + MiB - 1, 3 * MiB, true},  // the needed amount is truncated
      {396288, 0, true},                   // under one mebibyte passes on any drive
      {6 * MiB, 5 * MiB, false},
      {2 * MiB, 8192 * MiB, true},  // 8 GiB free: the byte count does not fit 32 bits
  };
  for (const auto& c : cases) {
    sim::SetDiskSpace(true, std::max(100 * MiB, c.free), c.free);
    EXPECT_EQ(CheckFreeSpace(static_cast<uint32_t>(c.needed)), c.passes) << c.needed;
  }
  EXPECT_EQ(sim::LastDiskQuery(), "C:");
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text,
            "インストール先の容量が足りません。\n確認して下さい。 \nC:\\Games\\LMH \n[5 / 100] \n必要容量 : 7");
  EXPECT_EQ(sim::MessageBoxes()[0].owner, nullptr);
}

TEST_F(FreeSpace, AShareOrAStarIsNoDrive) {
  for (const char* folder : {"\\\\server\\games", "*"}) {
    std::strcpy(g_state.installFolder, folder);
    EXPECT_FALSE(CheckFreeSpace(1));
    EXPECT_EQ(sim::MessageBoxes().back().text, std::string("インストール先に問題があります。\n ") + folder);
  }
  EXPECT_EQ(sim::LastDiskQuery(), "");
}

TEST_F(FreeSpace, AFailedQueryStopsBeforeAnythingIsWritten) {
  sim::SetDiskSpace(false, 0, 0);
  EXPECT_FALSE(CheckFreeSpace(1));
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_NE(sim::MessageBoxes()[0].text.find("[0 / 0]"), std::string::npos);
}

}  // namespace
