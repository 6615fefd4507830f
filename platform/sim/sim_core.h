#pragma once
// What every part of the simulated platform shares: the mapped drives, the
// one count of file operations with its faults and hooks, the one event
// log, the trace (SIM_TRACE), and the one reset that returns every part to a
// clean machine. The parts (one file per section of platform.h) never
// include each other, only this, sim_file_table where they share the
// handles, and sim_durable where they change what a cut may lose.
#include <sys/stat.h>

#include <string>

namespace sim::core {

// The extended attribute of a host file that keeps its simulated owner and
// access, as a security descriptor stays with a file on the disk.
inline constexpr char kSecurityAttribute[] = "user.sim.security";

// Counts one file operation "<kind>:<what>"; false when the test makes it
// fail. Throws sim::ProcessGone at the operation the test cuts off at.
bool FileOperation(const char* kind, const std::string& what);
// Appends to the ordered log of what the program did (sim::Events), and to
// the trace unless the caller traces it its own way.
void Event(const std::string& event, bool traced = true);
// With SIM_TRACE naming a file, appends one line to it.
void Trace(const std::string& line);

// A Windows path compared as the system compares it: ASCII case ignored.
std::string Key(const std::string& windowsPath);
// Code page 932's lead bytes, the simulated system's code page.
bool IsLead932(unsigned char byte);
// The Windows path a host path shows through the mapped drives, or
// "\\?\UNMAPPED\..." outside them.
std::string WindowsPathOf(const std::string& host);
// The host side of the files several parts reach.
bool IsDirectory(const std::string& hostPath);
// The host path a Windows path reaches with its last component itself, never
// what a mount point there leads to (sim::HostPath follows every one).
std::string HostPathOfItself(const std::string& windowsPath);
// The host folder a folder that became a mount point leads to, by the
// folder's identity (st_dev, st_ino); false for a plain folder.
bool MountedAt(const struct stat& folder, std::string* hostTarget);
void Mount(const struct stat& folder, const std::string& hostTarget);
bool ReadHostFile(const std::string& hostPath, std::string* content);

// A part's own loss at a cut: run, in the order the parts registered, at
// the operation a test cuts off at, before sim::ProcessGone is thrown.
struct PartCut {
  explicit PartCut(void (*cut)());
};

// A part's own reset, run by sim::Reset before the shared state is cleared
// (drives still mapped), in the order the parts registered.
struct PartReset {
  explicit PartReset(void (*reset)());
};

}  // namespace sim::core
