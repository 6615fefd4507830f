#pragma once
// The one boundary between the updater's logic and the system. Two backends
// implement it: platform_win32.cpp (the real program) and platform/sim/ (the
// native tests); the build links exactly one of them.
#include <cstddef>
#include <cstdint>

struct PlatformWindowTag;
struct PlatformModuleTag;
struct PlatformFileTag;
struct PlatformGuardTag;
struct PlatformFlushTag;
using WindowHandle = PlatformWindowTag*;
using ModuleHandle = PlatformModuleTag*;
using FileHandle = PlatformFileTag*;
using InstanceGuard = PlatformGuardTag*;
using PendingFlush = PlatformFlushTag*;

// The system's path limit, terminator included.
constexpr std::size_t kPathSize = 260;

// ---- The process ----
// Makes library loading safe and registers the progress bar's window class;
// called once, before anything else.
void PlatformPrepareProcess();

// ---- Windows, dialogs and messages ----
using DialogProcedure = intptr_t (*)(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);

// Modeless dialog without owner; null when it cannot be created.
WindowHandle PlatformCreateDialog(ModuleHandle instance, int templateId, DialogProcedure procedure);
void PlatformShowWindow(WindowHandle window, int showCommand);
void PlatformUpdateWindow(WindowHandle window);
intptr_t PlatformSendMessage(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam);
void PlatformDestroyWindow(WindowHandle window);
void PlatformPostQuitMessage(int exitCode);
// Fetches and handles messages until the quit message; messages the dialog's
// keyboard handling accepts go to it, the rest are translated and dispatched.
void PlatformRunMessageLoop(WindowHandle dialog);
// Removes at most one pending message, translates and dispatches it; never waits.
void PlatformPumpOneMessage();
// A control of the dialog, looked up once: each lookup is a round trip to the
// window manager, too dear to repeat for every piece a long run writes.
WindowHandle PlatformDialogItem(WindowHandle dialog, int controlId);
void PlatformSetWindowText(WindowHandle window, const char16_t* text);
void PlatformSetProgressPosition(WindowHandle progressBar, int position);
// Sets the window's small icon from the module's icon resource, when it has one.
void PlatformSetSmallIcon(WindowHandle window, ModuleHandle module, int iconId);
void PlatformRemoveCloseMenuItem(WindowHandle window);

// ---- Texts on the screen ----
// The program's texts are code page 932 bytes whatever code page the system
// is set to; the screen gets them as UTF-16, converted from 932 explicitly.
// Converts text into buffer (bufferUnits UTF-16 units, terminator included;
// a text never needs more units than it has bytes). Bytes that are not code
// page 932 are read as the system's own code page reads them, as the "A"
// functions would, and false is returned: the text still shows.
bool PlatformTextToScreen(const char* text, char16_t* buffer, std::size_t bufferUnits);

// ---- Message boxes ----
int PlatformMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, unsigned style);

// ---- Single running instance ----
// False only when another process holds the guard for this key, in any
// session of the machine; *guard may be null when the system could not make
// one at all.
bool PlatformAcquireInstanceGuard(const char* key, InstanceGuard* guard);
void PlatformReleaseInstanceGuard(InstanceGuard guard);
void PlatformBringWindowToFront(const char16_t* title);

// ---- Memory ----
void* PlatformAllocZeroed(std::size_t size);  // null when no memory
void PlatformFree(void* block);

// ---- Files ----
enum class FileMode {
  ReadExisting,       // GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING
  WriteCreateAlways,  // GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS
  WriteExisting,      // GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING
  WriteExclusive,     // GENERIC_WRITE, no sharing, OPEN_EXISTING: fails while anyone holds the file
  WriteCreateNew,     // GENERIC_WRITE, no sharing, CREATE_NEW: fails on any existing name, a link included
};
FileHandle PlatformOpenFile(const char* path, FileMode mode);  // null on failure
bool PlatformFileSize(FileHandle file, uint64_t* size);
bool PlatformReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* bytesRead);
bool PlatformWriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* bytesWritten);
void PlatformCloseFile(FileHandle file);
// Returns once the file's written bytes are on the disk.
bool PlatformFlushFile(FileHandle file);
// Starts taking the bytes written so far to the disk while the caller goes on
// writing; null when it cannot be started or must not be (one thread only
// under an emulator that breaks a second one). The file stays open until
// PlatformEndFlush, which waits for the flush, releases it and tells whether
// those bytes are on the disk.
PendingFlush PlatformBeginFlush(FileHandle file);
bool PlatformEndFlush(PendingFlush flush);
// Removes a file by its path. The elevated run renames and removes through
// its held folders (PlatformRenameOpened, PlatformRemoveOpened); by path it
// removes only a file it has just created that lies where it must not.
bool PlatformDeleteFile(const char* path);

enum class PathKind { Missing, File, Directory };
PathKind PlatformQueryPath(const char* path);
// Where the next read or write of the file begins, counted from its start.
bool PlatformSeekFile(FileHandle file, uint64_t offset);
// The file ends where the next write would begin: what lay beyond is cut off.
bool PlatformSetFileEnd(FileHandle file);

// ---- Where the elevated run's handles lead ----
// The folder itself, never what a reparse point in its place leads to, held
// without delete sharing so that it cannot be renamed or removed while held.
// Released with PlatformCloseFile.
enum class FolderOpen { Opened, Missing, ReparsePoint, Failed };
FolderOpen PlatformOpenFolder(const char* path, FileHandle* folder);
struct HandleFacts {
  uint32_t volume;      // serial number of the volume it lies on
  uint64_t fileIndex;   // the same file or folder has the same index on its volume
  uint32_t links;       // names the file has
  bool reparsePoint;
};
bool PlatformHandleFacts(FileHandle file, HandleFacts* facts);
// The path the system resolves the handle to, as UTF-16 ("\\?\C:\..."),
// found at run time where the system has the call.
enum class FinalPath { Known, NotAvailable, Failed };
FinalPath PlatformFinalPath(FileHandle file, char16_t* buffer, std::size_t bufferUnits);
// Makes the folder's entries (names added, renamed, removed) durable.
bool PlatformFlushFolder(const char* path);
// A file of a held folder, opened through the folder's handle by its name
// alone (one component), so that it can be renamed or removed: a link in
// its place is opened itself, never followed, and nobody else can rename or
// remove the file while it is open. Null when there is none or it cannot be
// opened. Where the open really led is for the caller to check on the handle
// (a folder turned into a mount point may lead it elsewhere).
FileHandle PlatformOpenInFolder(FileHandle folder, const char* name);
// Renames a file opened in a folder to `name` (one component) in the held
// folder `folder`, on the disk before it returns; an existing file of that
// name is replaced only when `replace` is set.
bool PlatformRenameOpened(FileHandle file, FileHandle folder, const char* name, bool replace);
// Removes the name the file was opened by; the handle is still to be closed.
bool PlatformRemoveOpened(FileHandle file);
// Creates a file as FileMode::WriteCreateNew does, owned by the
// administrators (BUILTIN\Administrators) and with access for the
// administrators and the system only.
FileHandle PlatformCreateAdministratorsFile(const char* path);
// The file is owned by the administrators and nobody but they and the
// system has any access to it: only an elevated program made it so. False
// as well when the system cannot say.
bool PlatformOwnedByAdministrators(FileHandle file);
// The run's lock file: created when missing, opened with no sharing at all,
// removed when closed (also when the process dies). Busy while another
// process holds it.
enum class LockResult { Held, Busy, Failed };
LockResult PlatformLockFile(const char* path, FileHandle* lock);
// The next character of a path as the system's "A" file functions step
// through it: in a double-byte code page a trail byte may be 0x5C ('\\').
const char* PlatformNextChar(const char* text);
// An existing file itself: a reparse point in its place is opened as the
// reparse point (its facts say so), never followed. Shared for reading only,
// so that while it is open nobody writes, renames or removes it; ReadWrite
// lets the one handle that was checked also rewrite it. Null on failure.
enum class ExistingAccess { Read, ReadWrite };
FileHandle PlatformOpenExistingFile(const char* path, ExistingAccess access);

// ---- Profile files ----
// Read only: the program writes its record through a file handle it has
// checked (profile/profile_file.cpp), never by the file's name.
void PlatformReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                               uint32_t bufferSize, const char* path);

// ---- Folders and disks ----
enum class SpecialFolder { UserAppData, CommonAppData };
// buffer holds kPathSize bytes; the folder is never created.
bool PlatformGetSpecialFolder(SpecialFolder folder, char* buffer);
bool PlatformGetDiskSpace(const char* drive, uint64_t* totalBytes, uint64_t* freeBytes);

// ---- Resources and modules ----
enum class ResourceType {
  Payload,  // the custom type "BIN" of the updater's own payload
  CompressedPayload,  // the custom type "ZST": a payload file as one zstd frame
  RawData,  // RT_RCDATA
  PayloadHashes,  // the custom type "HASH": the build's hashes of its payload resources
};
enum class ResourceLookup { Found, NotFound, NotLoaded };
// Names compare without regard to ASCII case. The data stays valid while the
// module is loaded.
ResourceLookup PlatformFindResource(ModuleHandle module, ResourceType type, const char* name, const void** data,
                                    uint32_t* size);
// Maps a module for its resources only: none of its code ever runs.
ModuleHandle PlatformLoadDataModule(const char* path);
void PlatformFreeModule(ModuleHandle module);
