#pragma once
// Control of the simulated platform for the native tests: what the system
// answers, which faults it injects, and what the program did.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Texts reach the screen as UTF-16 (text16, caption16, ...); beside them the
// simulation keeps the same texts converted back to code page 932 bytes
// (text, caption, ...), as the program's tables hold them.
struct MessageBoxRecord {
  std::string text;
  std::string caption;
  std::u16string text16;
  std::u16string caption16;
  unsigned style;
  WindowHandle owner;
  int answer;
};

struct DialogRecord {
  bool created = false;
  bool visible = false;
  bool destroyed = false;
  bool closeMenuRemoved = false;
  int templateId = 0;
  std::string title;
  std::u16string title16;
  std::map<int, std::vector<std::string>> itemTexts;  // every text each control was given
  std::map<int, std::vector<int>> positions;           // every position each progress bar was given
};

// Returns the simulation to a clean machine: no drives, no folders, no
// resources, no faults, nothing recorded.
void Reset();

// Windows paths "X:\a\b" reach host files under hostFolder/a/b.
void MapDrive(char letter, const std::string& hostFolder);
std::string HostPath(const std::string& windowsPath);  // empty when no drive maps it

void SetSpecialFolder(SpecialFolder folder, const std::string& path);  // empty: the lookup fails
void SetDiskSpace(bool answers, uint64_t totalBytes, uint64_t freeBytes);
std::string LastDiskQuery();

// The updater's own resources; adding one of a type and name already there
// replaces it.
ModuleHandle OwnModule();
void AddOwnResource(ResourceType type, const std::string& name, const std::vector<uint8_t>& bytes);
void MakeOwnResourceUnloadable(ResourceType type, const std::string& name);

// Message boxes take these answers in order; with none left an OK-only box
// answers OK and any other box fails the run loudly (see UnansweredBoxes).
void QueueAnswers(const std::vector<int>& answers);
const std::vector<MessageBoxRecord>& MessageBoxes();
int UnansweredBoxes();

// Faults.
void FailDialogCreation();
// Another process holds the single-instance guard: of every key when key is
// empty, else of that key only.
void HoldGuardElsewhere(const std::string& key = "");
// Another process holds the lock file at this path.
void HoldLockElsewhere(const std::string& windowsPath);
std::string BroughtToFront();

// Where handles lead. Host symbolic links are reparse points and host hard
// links are links; a final path is the host's resolved path seen through the
// mapped drives, or "\\?\UNMAPPED\..." outside them.
// Final paths that begin with fromPrefix are reported as beginning with
// toPrefix instead, as a mount point above the folder would show them.
void MoveFinalPaths(const std::string& fromPrefix, const std::string& toPrefix);
// The system has no final-path call, as before Windows Vista.
void NoFinalPaths();
// Files and folders that lie under this path (wherever the path they were
// opened by led) report another volume.
void PlaceOnOtherVolume(const std::string& windowsPrefix);
// A held folder keeps what it opened: renamed, or replaced by another folder
// or a link, its handle still leads to the folder it opened. A folder
// emptied and turned into a mount point keeps its identity, and its handle
// then shows a reparse point; paths through it, and opens through its
// handle, lead to targetWindowsPath, as the worst a system may do. False,
// and nothing changed, when the program holds a file or folder inside it
// open: nobody else can remove that, so the folder cannot be emptied.
bool TurnIntoMountPoint(const std::string& windowsPath, const std::string& targetWindowsPath);
// Called before file operation n is counted; it may change the disk.
void BeforeFileOperation(int n, std::function<void()> hook);
// Called before the n-th open of a file through a held folder's handle
// (from 1 after the reset), which is no file operation of its own: the
// rename or removal that follows it is. The names opened so far, each as
// "<folder>\<name>".
void BeforeOpenInFolder(int n, std::function<void()> hook);
const std::vector<std::string>& OpensInFolder();
// Called as each message box is shown, before its answer.
void OnMessageBox(std::function<void()> hook);

// UTF-16 to code page 932 bytes, as the system converts a window's text
// back for an "A" reader; units with no 932 form come back as the byte of
// their low half, as the simulation's stand-in for the system's own code
// page (see PlatformTextToScreen) shows bytes.
std::string To932(const std::u16string& text);
// As a file another process holds open without write sharing: it can be
// read but not opened for writing.
void HoldOpenWithoutWriteSharing(const std::string& windowsPath);
// The file gets a second name, hostSecondName, as soon as the program
// creates it fresh at windowsPath, before it can look at it.
void LinkWhenCreated(const std::string& windowsPath, const std::string& hostSecondName);
// A file's owner and who has any access to it, as its security descriptor
// says ("Administrators", "SYSTEM", "player", "Users"). The simulation keeps
// them in the host file's extended attributes, so that they stay with the
// file across renames and restarts; a file that carries none is the
// player's, as a file the player put there is.
struct FileSecurity {
  std::string owner;
  std::vector<std::string> access;
};
void SetFileSecurity(const std::string& windowsPath, const FileSecurity& security);
FileSecurity FileSecurityOf(const std::string& windowsPath);
// Writes to the file succeed up to limitBytes in all, then report no progress.
void LimitWrites(const std::string& windowsPath, uint64_t limitBytes);
void FailWritesWithError(const std::string& windowsPath);
// Writes to the file report one byte more than they were asked to write.
void OverReportWrites(const std::string& windowsPath);
void FailReads(const std::string& windowsPath);  // reads deliver the file's bytes yet report failure
void RefuseFlushThreads();  // no flush can go on in the background
void FailAllocationsFrom(int count);  // the count-th allocation from now, and all after it, fail

// Every file operation the program asks for (open, write, flush, move,
// delete, seek, module load) counts, from 1 after the reset; the
// log names each as "<kind>:<path>" ("move:<from>><to>").
const std::vector<std::string>& FileOperations();
// Operation n fails as the system would report it; each call adds one.
void FailFileOperation(int n);
// At operation n the process is gone: nothing of it is performed and
// ProcessGone is thrown through the program; what it wrote before stays,
// unless LoseUnflushedAtCut was called.
struct ProcessGone {};
void CutOffAtFileOperation(int n);
// From now on until the reset, a cut takes the disk back to what was made
// durable: a file's bytes to what they were at its last flush (nothing for
// a file never flushed), and a folder's names (created, renamed in or out,
// removed) to what they were at its last PlatformFlushFolder. What the
// mapped drives hold when this is called counts as durable.
void LoseUnflushedAtCut();

// Called each time the program lets one pending message through.
void OnPump(std::function<void()> hook);
// Called as the dialog is destroyed, before its procedure hears of it.
void OnDestroyWindow(std::function<void()> hook);
// Queues a message for the dialog, delivered by the next pump or the message loop.
void PostToDialog(unsigned message);
WindowHandle DialogWindow();

const DialogRecord& Dialog();
bool LoopWouldHang();  // the message loop ran out of messages without a quit
bool QuitPosted();

struct WriteRecord {
  std::string path;
  uint32_t size;
};
const std::vector<WriteRecord>& Writes();

// Ordered log of what the program did that tests compare in order:
// "box:<caption>", "destroy", "quit"; and the work that may keep a window
// waiting, with the pumps between: "write:<bytes> <path>", "read:<bytes>
// <path>" (a read that gave bytes), "flush:<path>", "move:<from>><to>",
// "flush-folder:<path>", "pump"; and what the real system would not
// forgive: "misuse:closed while flushing:<path>", "misuse:a second flush
// begun:<path>".
const std::vector<std::string>& Events();
// The "misuse:" events of that log.
std::vector<std::string> Misuses();

// Handles and buffers currently held by the program.
int LiveFiles();
int LiveModules();
int LiveAllocations();
std::size_t PeakAllocatedBytes();  // the most the program held at once since the reset
int LiveGuards();

}  // namespace sim
