#include "platform/sim/sim_durable.h"

#include <sys/xattr.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

#include "platform/sim/platform_sim.h"
#include "platform/sim/sim_core.h"
#include "platform/sim/sim_file_table.h"

using sim::core::Key;

namespace {

namespace fs = std::filesystem;

struct Name {
  std::string written;  // as the program or the drive spelled it
  std::size_t file;     // index into Durable::sureBytes
};
using Names = std::map<std::string, Name>;  // by Key of the name

struct Folder {
  std::string hostPath;
  Names now;
  Names sure;
};

struct Durable {
  bool kept = false;
  std::map<std::string, Folder> folders;  // by Key of the folder's Windows path
  std::vector<std::string> sureBytes;     // per file: its bytes as of its last flush
  // Per file: its owner and access, which the disk keeps with its name.
  std::vector<std::string> security;
};

Durable& D() {
  static Durable durable;
  return durable;
}

// "C:\a\b.txt" as "C:\a" and "b.txt"; a trail byte of code page 932 is no
// separator.
void Split(const std::string& windowsPath, std::string* folder, std::string* name) {
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < windowsPath.size(); ++i) {
    if (sim::core::IsLead932(static_cast<unsigned char>(windowsPath[i])) && i + 1 < windowsPath.size()) {
      ++i;
    } else if (windowsPath[i] == '\\') {
      last = i;
    }
  }
  *folder = last == std::string::npos ? "" : windowsPath.substr(0, last);
  *name = last == std::string::npos ? windowsPath : windowsPath.substr(last + 1);
}

std::size_t NewFile(const std::string& sureBytes) {
  D().sureBytes.push_back(sureBytes);
  D().security.emplace_back();
  return D().sureBytes.size() - 1;
}

std::string SecurityOf(const std::string& hostPath) {
  char text[256];
  const ssize_t length = lgetxattr(hostPath.c_str(), sim::core::kSecurityAttribute, text, sizeof text);
  return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

// The folder of windowsPath when the record keeps it; null otherwise.
Folder* FolderOf(const std::string& windowsPath, std::string* name) {
  if (!D().kept) return nullptr;
  std::string folder;
  Split(windowsPath, &folder, name);
  auto found = D().folders.find(Key(folder));
  return found == D().folders.end() ? nullptr : &found->second;
}

std::vector<std::string> HostFileNames(const std::string& hostFolder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& e : fs::directory_iterator(hostFolder, error)) {
    if (e.is_regular_file(error) && !e.is_symlink(error)) names.push_back(e.path().filename().string());
  }
  return names;
}

void Track(const std::string& windowsFolder, const fs::path& hostFolder) {
  Folder& folder = D().folders[Key(windowsFolder)];
  folder.hostPath = hostFolder.string();
  std::error_code error;
  for (const auto& e : fs::directory_iterator(hostFolder, error)) {
    const std::string name = e.path().filename().string();
    if (e.is_symlink(error)) continue;
    if (e.is_directory(error)) {
      Track(windowsFolder + "\\" + name, e.path());
    } else if (e.is_regular_file(error)) {
      std::string bytes;
      sim::core::ReadHostFile(e.path().string(), &bytes);
      folder.now[Key(name)] = Name{name, NewFile(bytes)};
      D().security[folder.now[Key(name)].file] = SecurityOf(e.path().string());
    }
  }
  folder.sure = folder.now;
}

// The process is gone: every folder back to its sure names, every file
// back to its sure bytes. The bytes the program's open files still buffer
// reach the host first, as they sat in the system's cache, so that closing
// them afterwards adds nothing.
void LoseUnflushed() {
  if (!D().kept) return;
  sim::file_table::DrainStreams();
  for (auto& [key, folder] : D().folders) {
    for (const std::string& name : HostFileNames(folder.hostPath)) {
      if (folder.sure.count(Key(name)) == 0) std::remove((folder.hostPath + "/" + name).c_str());
    }
    for (const auto& [nameKey, name] : folder.sure) {
      std::ofstream out(folder.hostPath + "/" + name.written, std::ios::binary | std::ios::trunc);
      const std::string& bytes = D().sureBytes[name.file];
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      out.close();
      // A file the cut brings back has its owner back with it.
      const std::string& security = D().security[name.file];
      if (!security.empty()) {
        lsetxattr((folder.hostPath + "/" + name.written).c_str(), sim::core::kSecurityAttribute, security.data(),
                  security.size(), 0);
      }
    }
    folder.now = folder.sure;
  }
}
const sim::core::PartCut kDurableCut(LoseUnflushed);

void ResetDurable() { D() = Durable(); }
const sim::core::PartReset kDurableReset(ResetDurable);

}  // namespace

namespace sim {

void LoseUnflushedAtCut() {
  D() = Durable();
  D().kept = true;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string drive = std::string(1, letter) + ":";
    const std::string host = HostPath(drive + "\\");
    if (!host.empty() && core::IsDirectory(host)) Track(drive, host);
  }
}

}  // namespace sim

namespace sim::durable {

bool Kept() { return D().kept; }

void Created(const std::string& windowsPath) {
  std::string name;
  Folder* folder = FolderOf(windowsPath, &name);
  if (folder != nullptr) folder->now[Key(name)] = Name{name, NewFile("")};
}

void Moved(const std::string& from, const std::string& to) {
  std::string fromName;
  std::string toName;
  Folder* fromFolder = FolderOf(from, &fromName);
  Folder* toFolder = FolderOf(to, &toName);
  std::size_t file = 0;
  bool known = false;
  if (fromFolder != nullptr) {
    auto found = fromFolder->now.find(Key(fromName));
    known = found != fromFolder->now.end();
    if (known) file = found->second.file;
    fromFolder->now.erase(Key(fromName));
  }
  if (toFolder != nullptr) toFolder->now[Key(toName)] = Name{toName, known ? file : NewFile("")};
}

void FileFlushed(const std::string& windowsPath) {
  std::string name;
  Folder* folder = FolderOf(windowsPath, &name);
  if (folder == nullptr) return;
  auto found = folder->now.find(Key(name));
  if (found == folder->now.end()) found = folder->now.emplace(Key(name), Name{name, NewFile("")}).first;
  const std::string host = folder->hostPath + "/" + found->second.written;
  sim::core::ReadHostFile(host, &D().sureBytes[found->second.file]);
  D().security[found->second.file] = SecurityOf(host);
}

void FolderFlushed(const std::string& windowsPath) {
  if (!D().kept) return;
  auto found = D().folders.find(Key(windowsPath));
  if (found == D().folders.end()) return;
  Folder& folder = found->second;
  // Names that went (removed, a lock closed) or came without a word (a file
  // a test put there) are taken as the host shows them.
  Names seen;
  for (const std::string& name : HostFileNames(folder.hostPath)) {
    auto known = folder.now.find(Key(name));
    seen[Key(name)] = known != folder.now.end() ? known->second : Name{name, NewFile("")};
  }
  folder.now = seen;
  folder.sure = seen;
}

}  // namespace sim::durable
