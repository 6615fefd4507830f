#pragma once
// Reads the resource tree of a PE file (PE32 or PE32+) from its bytes, the
// way the system's loader would find the same data, without trusting any
// offset or count in the file: the simulated platform and the host tools
// use it on files that may be damaged or hostile.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PeResourceEntry {
  std::string type;     // "#10" for an integer id, else the name as stored (e.g. "BIN")
  std::string name;     // "#102" for an integer id, else the name as stored (e.g. "LMH.EXE")
  uint16_t language;
  uint32_t fileOffset;  // offset of the resource data within the file
  uint32_t size;
  uint32_t entryOffset = 0;  // offset of its data entry (data address, size) within the file
};

// Lists every resource (type/name/language leaves) in directory order.
// False, with out cleared, for anything that is not a well-formed PE file or
// whose resource tree points outside the file (truncated, bad offsets,
// loops). A PE without resource section gives true and no entries.
bool PeReadResources(const uint8_t* file, std::size_t size, std::vector<PeResourceEntry>* out);

// Finds type/name (ASCII case ignored; "#10" style for ids), first language.
// False when absent or malformed.
bool PeFindResource(const uint8_t* file, std::size_t size, const std::string& type, const std::string& name,
                    PeResourceEntry* out);
