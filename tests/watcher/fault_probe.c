/* A program that dies the ways UpDate.exe could, for the harness's check
   that a death is never read as success. The variable FAULT_PROBE names the
   way (the watcher starts programs without arguments):
     exit          shows its window, closes it and returns 0
     main-before   faults in the main thread before any window
     main-after    faults in the main thread while its window shows
     thread-before faults in a second thread before any window
     thread-after  faults in a second thread while its window shows
     quiet-after   as thread-after, but the fault's handler ends the process
                   with exit code 0, as an emulator's death looks to the
                   program's parent
     wait          shows its window for a minute, then returns 0: the test
                   ends its host process meanwhile, as the emulator dies */
#include <windows.h>

/* Read through a volatile: a null the compiler can see becomes a trap
   instruction, not the page fault of a stray write. */
static volatile UINT_PTR g_nowhere = 0;

static void Fault(void) { *(volatile int*)g_nowhere = 1; }

static DWORD WINAPI FaultingThread(LPVOID unused) {
  (void)unused;
  Fault();
  return 0;
}

static LONG CALLBACK EndQuietly(PEXCEPTION_POINTERS exception) {
  (void)exception;
  TerminateProcess(GetCurrentProcess(), 0);
  return EXCEPTION_CONTINUE_SEARCH;
}

static HWND ShowWindowOfProbe(HINSTANCE instance) {
  WNDCLASSA windowClass;
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "FaultProbe";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "FaultProbe", "fault probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                NULL, NULL, instance, NULL);
  UpdateWindow(window);
  return window;
}

/* Lets the window's messages through for a moment, as a program busy with
   its window does, and until the given thread (if any) has ended. */
static void Pump(DWORD ms, HANDLE thread) {
  DWORD begin = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (thread == NULL && GetTickCount() - begin >= ms) return;
    DWORD woke = MsgWaitForMultipleObjects(thread == NULL ? 0 : 1, &thread, FALSE, 10, QS_ALLINPUT);
    if (thread != NULL && woke == WAIT_OBJECT_0) return;
  }
}

static void InSecondThread(void) {
  HANDLE thread = CreateThread(NULL, 0, FaultingThread, NULL, 0, NULL);
  if (thread == NULL) ExitProcess(9);
  Pump(0, thread);
  CloseHandle(thread);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
  (void)previous;
  (void)commandLine;
  (void)showCommand;
  char way[32];
  DWORD length = GetEnvironmentVariableA("FAULT_PROBE", way, sizeof way);
  if (length == 0 || length >= sizeof way) return 8;
  if (lstrcmpA(way, "main-before") == 0) Fault();
  if (lstrcmpA(way, "thread-before") == 0) InSecondThread();

  HWND window = ShowWindowOfProbe(instance);
  if (window == NULL) return 7;
  Pump(lstrcmpA(way, "wait") == 0 ? 60000 : 200, NULL);
  if (lstrcmpA(way, "main-after") == 0) Fault();
  if (lstrcmpA(way, "thread-after") == 0) InSecondThread();
  if (lstrcmpA(way, "quiet-after") == 0) {
    AddVectoredExceptionHandler(1, EndQuietly);
    InSecondThread();
  }
  DestroyWindow(window);
  Pump(50, NULL);
  /* Still here after a fault: the fault did not end the program. */
  return lstrcmpA(way, "exit") == 0 || lstrcmpA(way, "wait") == 0 ? 0 : 6;
}
