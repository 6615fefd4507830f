// Does the main thread keep its own Unix thread block (the word at %gs:0)
// once a second thread exists and the main thread has been interrupted by a
// signal? Wine suspends a thread with a signal (SIGUSR1) when another thread
// calls SuspendThread/GetThreadContext on it.
//   i686-w64-mingw32-g++-posix -O2 -static -o tls_wine.exe tls_wine.cpp
//   wine tls_wine.exe [nosuspend|waiting|exception|alone]
// (alone: the exception without any second thread, for comparison;
// exception: no suspension; the main thread raises and continues one
// exception, as Wine's exception dispatch ends with NtContinue; waiting: the
// main thread sleeps in short waits instead of running while
// it is suspended)
#include <windows.h>
#include <cstdio>
#include <cstring>

static unsigned Gs0() { unsigned v; __asm__ volatile("movl %%gs:0, %0" : "=r"(v)); return v; }
static volatile unsigned g_thread_gs0;
static volatile LONG g_suspended;
static HANDLE g_main, g_stop;
static bool g_do_suspend = true;
static bool g_waiting = false;
static bool g_exception = false;
static LONG CALLBACK Continue(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_EXECUTION; }

static void Say(const char* text) {
  DWORD n;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &n, nullptr);
}

static DWORD WINAPI Worker(void*) {
  g_thread_gs0 = Gs0();
  if (g_do_suspend) {
    Sleep(100);
    for (int i = 0; i < 5; ++i) {
      char line[160];
      DWORD count = SuspendThread(g_main);
      snprintf(line, sizeof line, "worker: suspended (%lu)\n", count);
      Say(line);
      CONTEXT c;
      memset(&c, 0, sizeof c);
      c.ContextFlags = CONTEXT_FULL;
      BOOL got = GetThreadContext(g_main, &c);
      snprintf(line, sizeof line, "worker: context %d eip %08lx gs %04lx\n", got, c.Eip, c.SegGs);
      Say(line);
      count = ResumeThread(g_main);
      snprintf(line, sizeof line, "worker: resumed (%lu), worker's block now %08x\n", count, Gs0());
      Say(line);
      Sleep(20);
    }
  }
  InterlockedExchange(&g_suspended, 1);
  WaitForSingleObject(g_stop, INFINITE);
  return 0;
}

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "nosuspend") == 0) g_do_suspend = false;
  if (argc > 1 && strcmp(argv[1], "waiting") == 0) g_waiting = true;
  if (argc > 1 && strcmp(argv[1], "exception") == 0) { g_exception = true; g_do_suspend = false; }
  const bool alone = argc > 1 && strcmp(argv[1], "alone") == 0;
  if (alone) { g_exception = true; g_do_suspend = false; }
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main, 0, FALSE, DUPLICATE_SAME_ACCESS);
  const unsigned before = Gs0();
  g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE t = nullptr;
  if (alone) {
    g_thread_gs0 = 1;
    g_suspended = 1;
  } else {
    t = CreateThread(nullptr, 64 * 1024, Worker, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  }
  while (!g_thread_gs0) Sleep(1);
  const unsigned after_create = Gs0();
  // Busy in the program's own code, so that the suspension signal finds the
  // thread running rather than waiting in a system call.
  volatile unsigned spin = 0;
  while (!g_suspended) {
    if (g_waiting) Sleep(1);
    else for (int i = 0; i < 100000; ++i) spin = spin + 1;
  }
  if (g_exception) {
    AddVectoredExceptionHandler(1, Continue);
    RaiseException(0xE0000001, 0, 0, nullptr);
  }
  const unsigned after_suspend = Gs0();
  Sleep(10);
  const unsigned after_sleep = Gs0();
  printf("main before thread %08x, thread %08x, main after create %08x, after suspensions %08x, after a wait %08x: %s\n",
         before, g_thread_gs0, after_create, after_suspend, after_sleep,
         after_sleep == before && after_suspend == before ? "main kept its own" : "MAIN NOW USES ANOTHER THREAD'S BLOCK");
  fflush(stdout);
  SetEvent(g_stop);
  if (t) {
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
  }
  printf("ended\n");
  return 0;
}
