// The real backend: each operation is the Win32 "A" call the logic expects;
// texts on the screen go through the "W" calls, converted from code page 932.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <winternl.h>

#include "platform/emulated_processor.h"
#include "platform/platform.h"

namespace {

HWND W(WindowHandle window) { return reinterpret_cast<HWND>(window); }
HMODULE M(ModuleHandle module) { return reinterpret_cast<HMODULE>(module); }
HANDLE F(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 units");
const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

constexpr UINT kTextCodePage = 932;

// The one dialog procedure of the program, reached through a stdcall
// trampoline: the logic's procedure uses the default calling convention.
DialogProcedure g_dialogProcedure = nullptr;

INT_PTR CALLBACK DialogTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_dialogProcedure == nullptr) return FALSE;
  return g_dialogProcedure(reinterpret_cast<WindowHandle>(window), message, wParam, lParam);
}

}  // namespace

WindowHandle PlatformCreateDialog(ModuleHandle instance, int templateId, DialogProcedure procedure) {
  g_dialogProcedure = procedure;
  // A Unicode dialog: the template's texts and font name reach the controls
  // as stored, not through the system's code page.
  HWND window = CreateDialogParamW(reinterpret_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(templateId), nullptr,
                                   DialogTrampoline, 0);
  return reinterpret_cast<WindowHandle>(window);
}

void PlatformShowWindow(WindowHandle window, int showCommand) { ShowWindow(W(window), showCommand); }
void PlatformUpdateWindow(WindowHandle window) { UpdateWindow(W(window)); }

intptr_t PlatformSendMessage(WindowHandle window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  return SendMessageA(W(window), message, wParam, lParam);
}

void PlatformDestroyWindow(WindowHandle window) { DestroyWindow(W(window)); }
void PlatformPostQuitMessage(int exitCode) { PostQuitMessage(exitCode); }

void PlatformRunMessageLoop(WindowHandle dialog) {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (dialog != nullptr && IsWindow(W(dialog)) && IsDialogMessageA(W(dialog), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void PlatformPumpOneMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void PlatformSetWindowText(WindowHandle window, const char16_t* text) { SetWindowTextW(W(window), Wide(text)); }

WindowHandle PlatformDialogItem(WindowHandle dialog, int controlId) {
  return reinterpret_cast<WindowHandle>(GetDlgItem(W(dialog), controlId));
}

void PlatformSetProgressPosition(WindowHandle progressBar, int position) {
  SendMessageA(W(progressBar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void PlatformSetSmallIcon(WindowHandle window, ModuleHandle module, int iconId) {
  HICON icon = LoadIconA(reinterpret_cast<HINSTANCE>(module), MAKEINTRESOURCEA(iconId));
  if (icon != nullptr) SendMessageA(W(window), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void PlatformRemoveCloseMenuItem(WindowHandle window) {
  RemoveMenu(GetSystemMenu(W(window), FALSE), SC_CLOSE, MF_BYCOMMAND);
}

bool PlatformTextToScreen(const char* text, char16_t* buffer, std::size_t bufferUnits) {
  auto* out = reinterpret_cast<wchar_t*>(buffer);
  int units = static_cast<int>(bufferUnits);
  if (MultiByteToWideChar(kTextCodePage, MB_ERR_INVALID_CHARS, text, -1, out, units) > 0) return true;
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, units) == 0 && bufferUnits > 0) buffer[0] = 0;
  return false;
}

int PlatformMessageBox(WindowHandle owner, const char16_t* text, const char16_t* caption, unsigned style) {
  return MessageBoxW(W(owner), Wide(text), Wide(caption), style);
}

bool PlatformAcquireInstanceGuard(const char* key, InstanceGuard* guard) {
  *guard = nullptr;
  // One name for every session of the machine: an update started from
  // another user's desktop writes the same folder.
  char name[kPathSize];
  if (lstrlenA(key) + 8 >= static_cast<int>(sizeof name)) return true;
  lstrcpyA(name, "Global\\");
  lstrcatA(name, key);
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  DWORD error = GetLastError();
  if (mutex == nullptr) {
    // Made by a process of another user or level: still a running updater.
    return error != ERROR_ACCESS_DENIED;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  *guard = reinterpret_cast<InstanceGuard>(mutex);
  return true;
}

void PlatformReleaseInstanceGuard(InstanceGuard guard) {
  if (guard != nullptr) CloseHandle(reinterpret_cast<HANDLE>(guard));
}

void PlatformBringWindowToFront(const char16_t* title) {
  HWND window = FindWindowW(nullptr, Wide(title));
  if (window == nullptr) return;
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

void* PlatformAllocZeroed(std::size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }

void PlatformFree(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

FileHandle PlatformOpenFile(const char* path, FileMode mode) {
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (mode != FileMode::ReadExisting) {
    access = GENERIC_WRITE;
    share = mode == FileMode::WriteExclusive || mode == FileMode::WriteCreateNew ? 0 : FILE_SHARE_WRITE;
    disposition = mode == FileMode::WriteCreateAlways ? CREATE_ALWAYS
                  : mode == FileMode::WriteCreateNew  ? CREATE_NEW
                                                      : OPEN_EXISTING;
  }
  // A link planted under the new file's name is refused, never followed.
  if (mode == FileMode::WriteCreateNew) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<FileHandle>(file);
}

bool PlatformFileSize(FileHandle file, uint64_t* size) {
  DWORD high = 0;
  DWORD low = GetFileSize(F(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = (static_cast<uint64_t>(high) << 32) | low;
  return true;
}

bool PlatformReadFile(FileHandle file, void* buffer, uint32_t size, uint32_t* bytesRead) {
  DWORD done = 0;
  BOOL ok = ReadFile(F(file), buffer, size, &done, nullptr);
  *bytesRead = done;
  return ok != FALSE;
}

bool PlatformWriteFile(FileHandle file, const void* data, uint32_t size, uint32_t* bytesWritten) {
  DWORD done = 0;
  BOOL ok = WriteFile(F(file), data, size, &done, nullptr);
  *bytesWritten = done;
  return ok != FALSE;
}

void PlatformCloseFile(FileHandle file) {
  if (file != nullptr) CloseHandle(F(file));
}

bool PlatformFlushFile(FileHandle file) { return FlushFileBuffers(F(file)) != FALSE; }

namespace {

DWORD WINAPI FlushInBackground(LPVOID file) { return FlushFileBuffers(static_cast<HANDLE>(file)) ? 1 : 0; }

}  // namespace

// A thread of its own for each flush: the writer waits for one before it
// starts the next, so there is never more than one. Under QEMU's user-mode
// emulator a program of two threads dies at random (README: "One thread
// under the emulator"), so there no thread is started and the writer
// flushes the slice where it stands, as it does when no thread can start.
PendingFlush PlatformBeginFlush(FileHandle file) {
  if (ProcessorNamesQemu()) return nullptr;
  return reinterpret_cast<PendingFlush>(CreateThread(nullptr, 64 * 1024, FlushInBackground, F(file),
                                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
}

bool PlatformEndFlush(PendingFlush flush) {
  HANDLE thread = reinterpret_cast<HANDLE>(flush);
  DWORD code = 0;
  const bool ended = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return ended && code == 1;
}

bool PlatformDeleteFile(const char* path) { return DeleteFileA(path) != FALSE; }

PathKind PlatformQueryPath(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return PathKind::Missing;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::File;
}

bool PlatformSeekFile(FileHandle file, uint64_t offset) {
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(F(file), to, nullptr, FILE_BEGIN) != FALSE;
}

bool PlatformSetFileEnd(FileHandle file) { return SetEndOfFile(F(file)) != FALSE; }

FolderOpen PlatformOpenFolder(const char* path, FileHandle* folder) {
  *folder = nullptr;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FolderOpen::Missing : FolderOpen::Failed;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return FolderOpen::ReparsePoint;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderOpen::Failed;
  // No FILE_SHARE_DELETE: while held, nobody renames the folder away to put
  // a link in its place.
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FolderOpen::Failed;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(handle);
    return FolderOpen::Failed;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    CloseHandle(handle);
    return FolderOpen::ReparsePoint;
  }
  *folder = reinterpret_cast<FileHandle>(handle);
  return FolderOpen::Opened;
}

bool PlatformHandleFacts(FileHandle file, HandleFacts* facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(F(file), &info)) return false;
  facts->volume = info.dwVolumeSerialNumber;
  facts->fileIndex = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  facts->links = info.nNumberOfLinks;
  facts->reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  return true;
}

FinalPath PlatformFinalPath(FileHandle file, char16_t* buffer, std::size_t bufferUnits) {
  // Windows Vista and later; before it there is no asking.
  using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  static const FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
  if (finalPath == nullptr) return FinalPath::NotAvailable;
  DWORD units = finalPath(F(file), reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(bufferUnits),
                          0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
  return units > 0 && units < bufferUnits ? FinalPath::Known : FinalPath::Failed;
}

bool PlatformFlushFolder(const char* path) {
  // A folder is flushed through a handle opened for writing; only backup
  // semantics open a folder at all.
  HANDLE folder = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  bool flushed = FlushFileBuffers(folder) != FALSE;
  CloseHandle(folder);
  return flushed;
}

namespace {

using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

// ntdll's own calls, which every system since NT has: only they open a file
// relative to a folder's handle and rename it into a folder given by handle.
template <typename Fn>
Fn Ntdll(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// One component in the system's "A" code page, as CreateFileA reads names.
bool WideName(const char* name, wchar_t (&wide)[kPathSize], USHORT* bytes) {
  int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide, kPathSize);
  if (units <= 1) return false;
  *bytes = static_cast<USHORT>((units - 1) * sizeof(wchar_t));
  return true;
}

// FILE_RENAME_INFORMATION with room for one name.
struct RenameInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG fileNameLength;
  WCHAR fileName[kPathSize];
};

// S-1-5-32-544 and S-1-5-18.
struct WellKnownSid {
  SID sid;
  DWORD secondSubAuthority;
};
const WellKnownSid kAdministrators = {{SID_REVISION, 2, SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID}},
                                      DOMAIN_ALIAS_RID_ADMINS};
const WellKnownSid kSystem = {{SID_REVISION, 1, SECURITY_NT_AUTHORITY, {SECURITY_LOCAL_SYSTEM_RID}}, 0};
PSID Sid(const WellKnownSid& known) { return const_cast<SID*>(&known.sid); }

bool AdministratorsOrSystem(PSID sid) { return EqualSid(sid, Sid(kAdministrators)) || EqualSid(sid, Sid(kSystem)); }

}  // namespace

FileHandle PlatformOpenInFolder(FileHandle folder, const char* name) {
  static const NtCreateFileFn create = Ntdll<NtCreateFileFn>("NtCreateFile");
  wchar_t wide[kPathSize];
  UNICODE_STRING text;
  if (create == nullptr || !WideName(name, wide, &text.Length)) return nullptr;
  text.MaximumLength = text.Length;
  text.Buffer = wide;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, F(folder), nullptr);
  IO_STATUS_BLOCK status;
  HANDLE file = nullptr;
  // No write or delete sharing: nobody renames or removes it meanwhile, and
  // so nobody empties its folder to make it a mount point. Write-through, as
  // MoveFileEx's MOVEFILE_WRITE_THROUGH opens it.
  NTSTATUS opened = create(&file, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status, nullptr, 0,
                           FILE_SHARE_READ, FILE_OPEN,
                           FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT |
                               FILE_WRITE_THROUGH,
                           nullptr, 0);
  return opened >= 0 ? reinterpret_cast<FileHandle>(file) : nullptr;
}

bool PlatformRenameOpened(FileHandle file, FileHandle folder, const char* name, bool replace) {
  static const NtSetInformationFileFn set = Ntdll<NtSetInformationFileFn>("NtSetInformationFile");
  RenameInformation rename{};
  USHORT bytes = 0;
  if (set == nullptr || !WideName(name, rename.fileName, &bytes)) return false;
  rename.replaceIfExists = replace ? TRUE : FALSE;
  rename.rootDirectory = F(folder);
  rename.fileNameLength = bytes;
  IO_STATUS_BLOCK status;
  return set(F(file), &status, &rename, sizeof rename, FileRenameInformation) >= 0;
}

bool PlatformRemoveOpened(FileHandle file) {
  static const NtSetInformationFileFn set = Ntdll<NtSetInformationFileFn>("NtSetInformationFile");
  FILE_DISPOSITION_INFORMATION disposition{TRUE};
  IO_STATUS_BLOCK status;
  return set != nullptr && set(F(file), &status, &disposition, sizeof disposition, FileDispositionInformation) >= 0;
}

FileHandle PlatformCreateAdministratorsFile(const char* path) {
  // Room for the list and its two entries, each a header, a mask and a SID
  // of at most two sub-authorities.
  alignas(DWORD) BYTE list[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + sizeof(WellKnownSid))];
  PACL dacl = reinterpret_cast<PACL>(list);
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeAcl(dacl, sizeof list, ACL_REVISION) ||
      !AddAccessAllowedAce(dacl, ACL_REVISION, FILE_ALL_ACCESS, Sid(kAdministrators)) ||
      !AddAccessAllowedAce(dacl, ACL_REVISION, FILE_ALL_ACCESS, Sid(kSystem)) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&descriptor, Sid(kAdministrators), FALSE) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES security{sizeof security, &descriptor, FALSE};
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &security, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<FileHandle>(file);
}

bool PlatformOwnedByAdministrators(FileHandle file) {
  const SECURITY_INFORMATION asked = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetKernelObjectSecurity(F(file), asked, nullptr, 0, &size);
  if (size == 0) return false;
  auto* descriptor = static_cast<PSECURITY_DESCRIPTOR>(HeapAlloc(GetProcessHeap(), 0, size));
  if (descriptor == nullptr) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  bool kept = GetKernelObjectSecurity(F(file), asked, descriptor, size, &size) &&
              GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
              EqualSid(owner, Sid(kAdministrators)) &&
              GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present && dacl != nullptr;
  // No list at all lets everyone in; each entry that allows anything must
  // name the administrators or the system.
  for (DWORD i = 0; kept && i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = nullptr;
    kept = GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace != nullptr;
    if (!kept || ace->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    kept = ace->AceType == ACCESS_ALLOWED_ACE_TYPE &&
           AdministratorsOrSystem(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
  }
  HeapFree(GetProcessHeap(), 0, descriptor);
  return kept;
}

LockResult PlatformLockFile(const char* path, FileHandle* lock) {
  *lock = nullptr;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION ? LockResult::Busy : LockResult::Failed;
  *lock = reinterpret_cast<FileHandle>(file);
  return LockResult::Held;
}

const char* PlatformNextChar(const char* text) { return CharNextA(text); }

FileHandle PlatformOpenExistingFile(const char* path, ExistingAccess access) {
  DWORD rights = access == ExistingAccess::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  HANDLE file = CreateFileA(path, rights, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : reinterpret_cast<FileHandle>(file);
}

void PlatformReadProfileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                               uint32_t bufferSize, const char* path) {
  GetPrivateProfileStringA(section, key, defaultValue, buffer, bufferSize, path);
}

bool PlatformGetSpecialFolder(SpecialFolder folder, char* buffer) {
  int id = folder == SpecialFolder::UserAppData ? CSIDL_APPDATA : CSIDL_COMMON_APPDATA;
  return SHGetSpecialFolderPathA(nullptr, buffer, id, FALSE) != FALSE;
}

bool PlatformGetDiskSpace(const char* drive, uint64_t* totalBytes, uint64_t* freeBytes) {
  ULARGE_INTEGER total;
  ULARGE_INTEGER totalFree;
  if (!GetDiskFreeSpaceExA(drive, nullptr, &total, &totalFree)) return false;
  *totalBytes = total.QuadPart;
  *freeBytes = totalFree.QuadPart;
  return true;
}

ResourceLookup PlatformFindResource(ModuleHandle module, ResourceType type, const char* name, const void** data,
                                    uint32_t* size) {
  LPCSTR typeName = type == ResourceType::Payload             ? "BIN"
                    : type == ResourceType::CompressedPayload ? "ZST"
                    : type == ResourceType::PayloadHashes     ? "HASH"
                                                              : MAKEINTRESOURCEA(10);  // RT_RCDATA
  HRSRC resource = FindResourceA(M(module), name, typeName);
  if (resource == nullptr) return ResourceLookup::NotFound;
  HGLOBAL loaded = LoadResource(M(module), resource);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return ResourceLookup::NotLoaded;
  *data = bytes;
  *size = SizeofResource(M(module), resource);
  return ResourceLookup::Found;
}

ModuleHandle PlatformLoadDataModule(const char* path) {
  // The module's path comes from a file any user can edit while the updater
  // runs elevated: map it as data so that none of its code ever runs.
  HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  // Systems before Vista refuse the image-resource flag as an unknown
  // parameter. A file the loader refused as an image is not mapped again as
  // plain data: its headers would then be parsed with no image check at all.
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  return reinterpret_cast<ModuleHandle>(module);
}

void PlatformFreeModule(ModuleHandle module) {
  if (module != nullptr) FreeLibrary(M(module));
}

namespace {

// An updater is often started from a downloads folder where anyone may have
// dropped a DLL: libraries come from the system folder only.
void RestrictLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(0x00000800);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, name);
  return LoadLibraryA(path);
}

// The progress window's template names the progress bar class, which exists
// only once the common controls are initialised. Their library is not
// imported, so that it can only ever come from the system folder.
void RegisterProgressBarClass() {
  HMODULE controls = LoadSystemLibrary("comctl32.dll");
  if (controls == nullptr) return;
  using InitExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto initEx = reinterpret_cast<InitExFn>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
  if (initEx != nullptr) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_PROGRESS_CLASS};
    if (initEx(&init)) return;
  }
  using InitFn = void(WINAPI*)();
  auto initOld = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControls")));
  if (initOld != nullptr) initOld();
}

}  // namespace

void PlatformPrepareProcess() {
  RestrictLibrarySearch();
  RegisterProgressBarClass();
}
