// Loads a fingerprint module through UpDate.exe's own platform code on a
// system that does not know LOAD_LIBRARY_AS_IMAGE_RESOURCE (before Vista):
// this program's import of LoadLibraryExA is redirected to a stand-in that
// refuses that flag, so that the fallback load runs, as Wine never makes it.
// Prints one JSON line: whether the module was mapped and the flags of each
// load asked for.
//   old_system_loader.exe MODULE
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

using LoadLibraryExFn = HMODULE(WINAPI*)(LPCSTR, HANDLE, DWORD);
LoadLibraryExFn g_realLoad = nullptr;
std::string g_flags;

HMODULE WINAPI LoadAsBeforeVista(LPCSTR path, HANDLE file, DWORD flags) {
  g_flags += (g_flags.empty() ? "" : ",") + std::to_string(flags);
  if ((flags & LOAD_LIBRARY_AS_IMAGE_RESOURCE) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return g_realLoad(path, file, flags);
}

// Points this program's import of kernel32's LoadLibraryExA at the stand-in.
bool RedirectLoadLibraryEx() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  g_realLoad = reinterpret_cast<LoadLibraryExFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryExA")));
  bool redirected = false;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); slot->u1.Function != 0; ++slot) {
      if (slot->u1.Function != reinterpret_cast<ULONG_PTR>(g_realLoad)) continue;
      DWORD old = 0;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &old);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(&LoadAsBeforeVista);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, old, &old);
      redirected = true;
    }
  }
  return redirected;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: old_system_loader.exe MODULE\n");
    return 2;
  }
  if (!RedirectLoadLibraryEx()) {
    std::printf("{\"error\":\"LoadLibraryExA is not imported\"}\n");
    return 1;
  }
  ModuleHandle module = PlatformLoadDataModule(argv[1]);
  const void* data = nullptr;
  uint32_t size = 0;
  bool readable = module != nullptr &&
                  PlatformFindResource(module, ResourceType::RawData, "RESOURCE.dll", &data, &size) ==
                      ResourceLookup::Found;
  std::printf("{\"loaded\":%s,\"self_record_readable\":%s,\"flags\":[%s]}\n", module != nullptr ? "true" : "false",
              readable ? "true" : "false", g_flags.c_str());
  PlatformFreeModule(module);
  return 0;
}
