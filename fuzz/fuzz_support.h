#pragma once
// Shared by the fuzz targets. Their checks must stay live in every build
// (the replay runs them in release builds too, where assert() is gone), and a
// failed check must end the process so that libFuzzer records the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <stdlib.h>
#include <sys/stat.h>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

// Takes parameters off the front of the input; once it runs dry every read
// gives zeros, so any input, however short, is a valid case.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

  uint32_t Word() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }

  const uint8_t* rest() const { return data_ + at_; }
  std::size_t restSize() const { return size_ - at_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// One host folder per process, holding the folder "game", for targets that
// map drive C: of the simulated platform onto it.
inline std::string FuzzDriveFolder() {
  static std::string folder = [] {
    char pattern[] = "/tmp/updater-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern) != nullptr);
    std::string path = std::string(pattern) + "/game";
    FUZZ_CHECK(mkdir(path.c_str(), 0700) == 0);
    return std::string(pattern);
  }();
  return folder;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
