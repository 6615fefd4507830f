#include "platform/file_view.h"

#include <windows.h>

namespace {

struct View {
  HANDLE mapping;
  const void* base;
};

// A 32-bit process cannot map more than this in one piece anyway.
constexpr LONGLONG kLargestView = 0x7FFFFFFF;

}  // namespace

FileView PlatformMapOpenFile(FileHandle openFile, const uint8_t** bytes, uint64_t* size) {
  *bytes = nullptr;
  *size = 0;
  HANDLE file = reinterpret_cast<HANDLE>(openFile);
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(file, &length) || length.QuadPart > kLargestView) return nullptr;
  HANDLE mapping = nullptr;
  const void* base = nullptr;
  // An empty file cannot be mapped; its view simply holds no bytes.
  if (length.QuadPart > 0) {
    mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    base = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (base == nullptr) {
      if (mapping != nullptr) CloseHandle(mapping);
      return nullptr;
    }
  }
  auto* view = static_cast<View*>(HeapAlloc(GetProcessHeap(), 0, sizeof(View)));
  if (view == nullptr) {
    if (base != nullptr) UnmapViewOfFile(base);
    if (mapping != nullptr) CloseHandle(mapping);
    return nullptr;
  }
  *view = View{mapping, base};
  *bytes = static_cast<const uint8_t*>(base);
  *size = static_cast<uint64_t>(length.QuadPart);
  return reinterpret_cast<FileView>(view);
}

void PlatformUnmapFile(FileView handle) {
  if (handle == nullptr) return;
  auto* view = reinterpret_cast<View*>(handle);
  if (view->base != nullptr) UnmapViewOfFile(view->base);
  if (view->mapping != nullptr) CloseHandle(view->mapping);
  HeapFree(GetProcessHeap(), 0, view);
}
