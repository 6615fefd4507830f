#include "base/processor_brand.h"

#include <cstring>

bool BrandNamesQemu(const char (&brand)[kProcessorBrandBytes]) {
  // Some processors pad their brand with leading spaces.
  std::size_t at = 0;
  while (at < kProcessorBrandBytes && brand[at] == ' ') ++at;
  static const char kQemu[] = "QEMU ";
  const std::size_t length = sizeof kQemu - 1;
  return kProcessorBrandBytes - at >= length && std::memcmp(brand + at, kQemu, length) == 0;
}
