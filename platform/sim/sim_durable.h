#pragma once
// What the simulated disk holds for sure once sim::LoseUnflushedAtCut is
// called: each file's bytes as of its last flush, each folder's names as of
// its last folder flush. Files, the elevated run's handles and profile files
// all change names and bytes, so the record is theirs together: each tells
// it what it did, and a cut puts every folder back to what is sure.
#include <string>

namespace sim::durable {

// Whether the simulation keeps the record (LoseUnflushedAtCut was called).
bool Kept();

// A file made under a name that did not exist: a file of its own, even
// where a file of that name was removed since the folder's last flush.
// (Removals need no word: a folder's flush takes its names as the host
// shows them.)
void Created(const std::string& windowsPath);
void Moved(const std::string& from, const std::string& to);
// The file's bytes as they are now are on the disk.
void FileFlushed(const std::string& windowsPath);
// The folder's names as they are now are on the disk.
void FolderFlushed(const std::string& windowsPath);

}  // namespace sim::durable
