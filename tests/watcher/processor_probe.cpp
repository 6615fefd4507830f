// Says whether UpDate.exe's platform backend takes this processor for one
// that QEMU makes (and so keeps the program to one thread), then waits for
// its standard input to end, so that the test can see meanwhile how its
// host process runs: through qemu-i386 or natively.
#include <cstdio>

#include "platform/emulated_processor.h"

int main() {
  std::printf("%s\n", ProcessorNamesQemu() ? "qemu" : "not qemu");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
