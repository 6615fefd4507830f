// The floor that the run's window refresh sets under Wine: a window like the
// progress window on screen, and as many empty one-message pumps as the run
// has pieces, each a round trip to the window server. Prints the seconds the
// pumps took.
//   pump_floor.exe PIECES
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pump_floor.exe PIECES\n");
    return 2;
  }
  long pieces = std::strtol(argv[1], nullptr, 10);
  HWND window = CreateWindowExA(0, "STATIC", "pump floor", WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 300, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return 1;
  UpdateWindow(window);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);

  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  for (long i = 0; i < pieces; ++i) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  QueryPerformanceCounter(&end);
  DestroyWindow(window);
  std::printf("%.6f\n", static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart);
  return 0;
}
