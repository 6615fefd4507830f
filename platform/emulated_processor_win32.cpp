#include "platform/emulated_processor.h"

#include <cpuid.h>

#include <cstring>

#include "base/processor_brand.h"

namespace {

bool ReadBrand(char (&brand)[kProcessorBrandBytes]) {
  unsigned int highest = __get_cpuid_max(0x80000000u, nullptr);
  if (highest < 0x80000004u) return false;
  for (unsigned int leaf = 0; leaf < 3; ++leaf) {
    unsigned int registers[4] = {};
    __get_cpuid(0x80000002u + leaf, &registers[0], &registers[1], &registers[2], &registers[3]);
    std::memcpy(brand + leaf * sizeof registers, registers, sizeof registers);
  }
  return true;
}

}  // namespace

bool ProcessorNamesQemu() {
  // The processor does not change under a running program: asked once.
  static const bool names_qemu = [] {
    char brand[kProcessorBrandBytes] = {};
    return ReadBrand(brand) && BrandNamesQemu(brand);
  }();
  return names_qemu;
}
