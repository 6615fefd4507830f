#include "platform/sim/sim_core.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "base/ascii_case.h"
#include "platform/sim/platform_sim.h"

namespace {

struct Core {
  std::map<char, std::string> drives;
  std::vector<std::string> fileOperations;
  std::map<int, std::function<void()>> operationHooks;
  std::set<int> failOperations;
  int cutOffOperation = 0;
  std::vector<std::string> events;
  // Folders turned into mount points: (st_dev, st_ino) and the host folder
  // each leads to.
  std::map<std::pair<dev_t, ino_t>, std::string> mounts;
};

Core& C() {
  static Core core;
  return core;
}

// The host path of a Windows path on a mapped drive, each component as
// written; empty when no drive maps it. Mount points along the way are
// followed, the last component's only when followLast is set.
std::string Resolve(const std::string& windowsPath, bool followLast) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return "";
  auto drive = C().drives.find(LowerAscii(windowsPath[0]));
  if (drive == C().drives.end()) return "";
  std::string rest = windowsPath.substr(2);
  // A trail byte of code page 932 may be 0x5C: only a separator on its own
  // becomes one.
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (sim::core::IsLead932(static_cast<unsigned char>(rest[i])) && i + 1 < rest.size()) {
      ++i;
    } else if (rest[i] == '\\') {
      rest[i] = '/';
    }
  }
  if (rest.find('*') != std::string::npos || rest.find('?') != std::string::npos) return "";
  std::string plain = drive->second + (rest.empty() || rest[0] != '/' ? "/" : "") + rest;
  if (C().mounts.empty()) return plain;
  std::string host = drive->second;
  std::size_t at = 0;
  while (at < rest.size()) {
    std::size_t end = rest.find('/', at);
    if (end == std::string::npos) end = rest.size();
    if (end > at) {
      host += "/" + rest.substr(at, end - at);
      struct stat st {};
      std::string target;
      if ((end < rest.size() || followLast) && stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
          sim::core::MountedAt(st, &target)) {
        host = target;
      }
    }
    at = end + 1;
  }
  return host;
}

std::vector<void (*)()>& PartResets() {
  static std::vector<void (*)()> resets;
  return resets;
}

std::vector<void (*)()>& PartCuts() {
  static std::vector<void (*)()> cuts;
  return cuts;
}

}  // namespace

namespace sim::core {

PartReset::PartReset(void (*reset)()) { PartResets().push_back(reset); }
PartCut::PartCut(void (*cut)()) { PartCuts().push_back(cut); }

bool FileOperation(const char* kind, const std::string& what) {
  auto hook = C().operationHooks.find(static_cast<int>(C().fileOperations.size()) + 1);
  if (hook != C().operationHooks.end()) {
    auto run = std::move(hook->second);
    C().operationHooks.erase(hook);
    run();
  }
  C().fileOperations.push_back(std::string(kind) + ":" + what);
  int n = static_cast<int>(C().fileOperations.size());
  Trace("op " + std::to_string(n) + " " + C().fileOperations.back());
  if (n == C().cutOffOperation) {
    for (void (*cut)() : PartCuts()) cut();
    throw sim::ProcessGone{};
  }
  return C().failOperations.count(n) == 0;
}

void Event(const std::string& event, bool traced) {
  C().events.push_back(event);
  if (traced) Trace("event " + event);
}

// tools/sim_trace.sh compares two builds' traces test by test.
void Trace(const std::string& line) {
  static std::FILE* trace = [] {
    const char* path = std::getenv("SIM_TRACE");
    return path != nullptr && path[0] != '\0' ? std::fopen(path, "ab") : nullptr;
  }();
  if (trace == nullptr) return;
  std::fputs(line.c_str(), trace);
  std::fputc('\n', trace);
  std::fflush(trace);
}

std::string Key(const std::string& windowsPath) {
  std::string k;
  for (char c : windowsPath) k += LowerAscii(c);
  return k;
}

bool IsLead932(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

std::string WindowsPathOf(const std::string& host) {
  for (const auto& [letter, folder] : C().drives) {
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr) continue;
    std::string root = resolved;
    if (host == root || host.rfind(root + "/", 0) == 0) {
      std::string rest = host.substr(root.size());
      for (char& c : rest) {
        if (c == '/') c = '\\';
      }
      return std::string(1, static_cast<char>(letter - 'a' + 'A')) + ":" + (rest.empty() ? "\\" : rest);
    }
  }
  std::string outside = host;
  for (char& c : outside) {
    if (c == '/') c = '\\';
  }
  return "\\\\?\\UNMAPPED" + outside;
}

std::string HostPathOfItself(const std::string& windowsPath) { return Resolve(windowsPath, false); }

bool MountedAt(const struct stat& folder, std::string* hostTarget) {
  auto mount = C().mounts.find({folder.st_dev, folder.st_ino});
  if (mount == C().mounts.end()) return false;
  *hostTarget = mount->second;
  return true;
}

void Mount(const struct stat& folder, const std::string& hostTarget) {
  C().mounts[{folder.st_dev, folder.st_ino}] = hostTarget;
}

bool IsDirectory(const std::string& hostPath) {
  struct stat st {};
  return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadHostFile(const std::string& hostPath, std::string* content) {
  std::ifstream in(hostPath, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace sim::core

namespace sim {

void Reset() {
  for (void (*reset)() : PartResets()) reset();
  C() = Core();
  core::Trace("reset");
}

void MapDrive(char letter, const std::string& hostFolder) { C().drives[LowerAscii(letter)] = hostFolder; }

std::string HostPath(const std::string& windowsPath) { return Resolve(windowsPath, true); }

void BeforeFileOperation(int n, std::function<void()> hook) { C().operationHooks[n] = std::move(hook); }
const std::vector<std::string>& FileOperations() { return C().fileOperations; }
void FailFileOperation(int n) { C().failOperations.insert(n); }
void CutOffAtFileOperation(int n) { C().cutOffOperation = n; }
const std::vector<std::string>& Events() { return C().events; }

std::vector<std::string> Misuses() {
  std::vector<std::string> misuses;
  for (const std::string& event : C().events) {
    if (event.rfind("misuse:", 0) == 0) misuses.push_back(event);
  }
  return misuses;
}

}  // namespace sim
