// Which combination of a second thread and main-thread work brings the
// 32-bit program down when i386 is emulated. Options (any order):
//   thread=none|idle|perslice|spin   second thread: none, one waiting on an
//            event all run, one per slice running FlushFileBuffers, one busy
//            looping in user code
//   window   create a window and pump messages between pieces
//   mb=N     size of the file written (MiB), slices of 64 MiB
//   heap     allocate a fresh 64 MiB buffer per slice (VirtualAlloc/Free)
//   nowrite  do the memcpy work but no file writes
//   noflush  write but never flush
//   image    take each slice from resource 1 (RCDATA) of the program's own
//            image, as an update reads its payload (build with blob.o)
//   suspend  the second thread (thread=idle) suspends the main thread and
//            reads its context once, as a debugger or the system might
//   raise    after each slice the main thread raises one exception that a
//            vectored handler continues (its context, %gs included, is
//            restored as after any exception Wine dispatches)
//   pool     queue a no-op work item to Wine's thread pool first, so that
//            Wine, not the program, makes the second thread
#include <windows.h>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>

// The word at %gs:0 is the C library's own thread block on the Unix side of
// Wine (the program's code runs with that %gs): one value per thread.
static unsigned Gs0() { unsigned v; __asm__ volatile("movl %%gs:0, %0" : "=r"(v)); return v; }
static volatile unsigned g_thread_gs0;
static HANDLE g_main;
static bool g_suspend;
static LONG CALLBACK Continue(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_EXECUTION; }

static HANDLE g_file;
static HANDLE g_stop;
static volatile LONG g_spin;

static DWORD WINAPI Idle(void*) {
  g_thread_gs0 = Gs0();
  if (g_suspend) {
    Sleep(200);
    SuspendThread(g_main);
    CONTEXT c{}; c.ContextFlags = CONTEXT_FULL;
    GetThreadContext(g_main, &c);
    ResumeThread(g_main);
  }
  WaitForSingleObject(g_stop, INFINITE);
  return 1;
}
static DWORD WINAPI Flush(void* f) { g_thread_gs0 = Gs0(); return FlushFileBuffers((HANDLE)f) ? 1 : 0; }
static DWORD WINAPI Spin(void*) {
  while (WaitForSingleObject(g_stop, 0) == WAIT_TIMEOUT) { for (int i = 0; i < 100000; ++i) InterlockedIncrement(&g_spin); }
  return 1;
}
static DWORD WINAPI Idle2(void*) { return 0; }
static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM a, LPARAM b) { return DefWindowProcA(w, m, a, b); }

int main(int argc, char** argv) {
  std::string thread = "none";
  bool window = false, heap = false, nowrite = false, noflush = false, image = false, pool = false, raise = false;
  int mb = 192;
  const char* path = "probe.bin";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("thread=", 0) == 0) thread = a.substr(7);
    else if (a == "window") window = true;
    else if (a == "heap") heap = true;
    else if (a == "nowrite") nowrite = true;
    else if (a == "noflush") noflush = true;
    else if (a == "image") image = true;
    else if (a == "pool") pool = true;
    else if (a == "suspend") g_suspend = true;
    else if (a == "raise") raise = true;
    else if (a.rfind("mb=", 0) == 0) mb = atoi(a.c_str() + 3);
    else if (a.rfind("path=", 0) == 0) path = argv[i] + 5;
  }
  HWND hwnd = nullptr;
  if (window) {
    WNDCLASSA wc{}; wc.lpfnWndProc = Proc; wc.hInstance = GetModuleHandleA(nullptr); wc.lpszClassName = "probe";
    RegisterClassA(&wc);
    hwnd = CreateWindowA("probe", "probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  }
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main, 0, FALSE, DUPLICATE_SAME_ACCESS);
  const unsigned main_gs0 = Gs0();
  long first_change = -1, pieces = 0;
  unsigned changed_to = 0;
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE idle = nullptr;
  if (thread == "idle") idle = CreateThread(nullptr, 64 * 1024, Idle, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == "spin") idle = CreateThread(nullptr, 64 * 1024, Spin, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (!nowrite) {
    g_file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_file == INVALID_HANDLE_VALUE) { printf("open failed %lu\n", GetLastError()); return 2; }
  }
  const DWORD piece = 65534;
  const size_t slice = 64u << 20;
  if (pool) QueueUserWorkItem(Idle2, nullptr, WT_EXECUTEDEFAULT);
  char* src = nullptr;
  size_t image_size = 0;
  if (image) {
    HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(1), (LPCSTR)RT_RCDATA);
    if (!r) { printf("no resource\n"); return 4; }
    image_size = SizeofResource(nullptr, r);
    src = (char*)LockResource(LoadResource(nullptr, r));
  } else {
    src = (char*)VirtualAlloc(nullptr, slice, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    for (size_t i = 0; i < slice; i += 4096) src[i] = (char)i;
  }
  char* buf = heap ? nullptr : (char*)VirtualAlloc(nullptr, slice, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  HANDLE pending = nullptr;
  DWORD t0 = GetTickCount();
  unsigned long long total = (unsigned long long)mb << 20, done = 0;
  int slices = 0;
  while (done < total) {
    if (heap) buf = (char*)VirtualAlloc(nullptr, slice, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (image) memcpy(buf, src + ((size_t)slices * slice) % (image_size - slice), slice);
    else memcpy(buf, src, slice);
    size_t off = 0;
    while (off < slice && done < total) {
      DWORD n = (DWORD)(slice - off < piece ? slice - off : piece);
      if (!nowrite) { DWORD w; if (!WriteFile(g_file, buf + off, n, &w, nullptr)) { printf("write failed\n"); return 3; } }
      off += n; done += n; ++pieces;
      if (first_change < 0 && Gs0() != main_gs0) { first_change = pieces; changed_to = Gs0(); }
      if (hwnd) { MSG m; while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m); }
    }
    if (heap) VirtualFree(buf, 0, MEM_RELEASE);
    ++slices;
    if (raise) {
      static bool added = false;
      if (!added) added = AddVectoredExceptionHandler(1, Continue) != nullptr;
      RaiseException(0xE0000001, 0, 0, nullptr);
    }
    if (!nowrite && !noflush) {
      if (thread == "perslice") {
        if (pending) { WaitForSingleObject(pending, INFINITE); CloseHandle(pending); }
        pending = CreateThread(nullptr, 64 * 1024, Flush, g_file, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
      } else {
        FlushFileBuffers(g_file);
      }
    }
  }
  if (pending) { WaitForSingleObject(pending, INFINITE); CloseHandle(pending); }
  if (!nowrite) { FlushFileBuffers(g_file); CloseHandle(g_file); DeleteFileA(path); }
  SetEvent(g_stop);
  if (idle) { WaitForSingleObject(idle, INFINITE); CloseHandle(idle); }
  if (hwnd) DestroyWindow(hwnd);
  if (first_change < 0 && Gs0() != main_gs0) { first_change = pieces; changed_to = Gs0(); }
  printf("TLS main=%08x thread=%08x main-now=%08x first-change-at-piece=%ld to=%08x\n", main_gs0, g_thread_gs0, Gs0(),
         first_change, changed_to);
  printf("OK slices=%d ms=%lu\n", slices, GetTickCount() - t0);
  return 0;
}
