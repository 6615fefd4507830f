// Which processors keep the program to one thread: those QEMU makes, by the
// brand string the processor gives (48 bytes, not always terminated).
#include <gtest/gtest.h>

#include <cstring>

#include "base/processor_brand.h"

namespace {

struct BrandCase {
  const char* brand;
  bool namesQemu;
};

const BrandCase kBrands[] = {
    {"QEMU TCG CPU version 2.5+", true},           // qemu-i386's default model, as seen under the emulator
    {"QEMU Virtual CPU version 2.5+", true},       // qemu32 / qemu64
    {"      QEMU TCG CPU version 2.5+", true},     // padded in front, as some processors pad theirs
    {"Intel(R) Xeon(R) Processor", false},
    {"AMD Ryzen 7 5800X 8-Core Processor", false},
    {"Common KVM processor", false},
    {"QEMUX", false},                               // the name must stand as a word
    {"qemu TCG CPU", false},                        // the processor names it in capitals
    {"", false},
    {"Genuine Intel(R) CPU with QEMU inside", false},  // only the name's start counts
};

TEST(ProcessorBrand, OnlyQemusOwnModelsAreTold) {
  for (const BrandCase& c : kBrands) {
    char brand[kProcessorBrandBytes] = {};
    std::memcpy(brand, c.brand, std::strlen(c.brand));
    EXPECT_EQ(BrandNamesQemu(brand), c.namesQemu) << '"' << c.brand << '"';
  }
}

TEST(ProcessorBrand, ABrandOfFullLengthNeedsNoTerminator) {
  // What lies beyond the 48 bytes would complete "QEMU " if it were read.
  struct {
    char brand[kProcessorBrandBytes];
    char beyond[4];
  } held;
  std::memset(&held, ' ', sizeof held);
  std::memcpy(held.brand + kProcessorBrandBytes - 5, "QEMU ", 5);
  EXPECT_TRUE(BrandNamesQemu(held.brand));
  std::memcpy(held.brand + kProcessorBrandBytes - 5, " QEMU", 5);
  EXPECT_FALSE(BrandNamesQemu(held.brand));
}

}  // namespace
