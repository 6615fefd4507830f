/* Does a thread's TLS segment survive another thread's creation under the
 * i386 emulator? Freestanding i386 Linux program (no libc):
 *   gcc -m32 -static -nostdlib -ffreestanding -fno-pic -fno-stack-protector -O1 -o gdt_tls gdt_tls.c
 * The main thread sets a TLS descriptor with set_thread_area and loads %gs;
 * a second thread is cloned with CLONE_SETTLS and the same entry number (as
 * glibc's pthread_create does) but its own base. Then the main thread reads
 * %gs:0 after (1) nothing, (2) reloading %gs with its own selector, (3) a
 * signal handled and returned from. Each thread's word at %gs:0 names it. */
struct user_desc {
  unsigned int entry_number, base_addr, limit;
  unsigned int seg_32bit : 1, contents : 2, read_exec_only : 1, limit_in_pages : 1, seg_not_present : 1, useable : 1;
};

static long sys(long n, long a, long b, long c, long d, long e) {
  long r;
  __asm__ volatile("push %%ebp; mov %7, %%ebp; int $0x80; pop %%ebp"
                   : "=a"(r) : "0"(n), "b"(a), "c"(b), "d"(c), "S"(d), "D"(e), "m"(e) : "memory");
  return r;
}
#define SYS_exit 1
#define SYS_write 4
#define SYS_getpid 20
#define SYS_kill 37
#define SYS_clone 120
#define SYS_nanosleep 162
#define SYS_rt_sigaction 174
#define SYS_set_thread_area 243
#define SYS_exit_group 252

static void say(const char* s) { int n = 0; while (s[n]) ++n; sys(SYS_write, 1, (long)s, n, 0, 0); }
static void hex(unsigned v) {
  char b[11] = "0x";
  for (int i = 0; i < 8; ++i) b[2 + i] = "0123456789abcdef"[(v >> (28 - 4 * i)) & 15];
  b[10] = 0;
  say(b);
}
static unsigned gs0(void) { unsigned v; __asm__ volatile("movl %%gs:0, %0" : "=r"(v)); return v; }

static unsigned tls_main[4] = {0x11111111};
static unsigned tls_thread[4] = {0x22222222};
static char stack[65536] __attribute__((aligned(16)));
static struct user_desc desc_main, desc_thread;
static volatile int handled;

static void handler(int sig) { (void)sig; handled = 1; }

static void thread_main(void) {
  struct { long s, ns; } t = {1000, 0};
  for (;;) sys(SYS_nanosleep, (long)&t, 0, 0, 0, 0);
}

static void fill(struct user_desc* d, unsigned entry, void* base) {
  d->entry_number = entry; d->base_addr = (unsigned)base; d->limit = 0xfffff;
  d->seg_32bit = 1; d->contents = 0; d->read_exec_only = 0; d->limit_in_pages = 1;
  d->seg_not_present = 0; d->useable = 1;
}

void _start_c(void) {
  fill(&desc_main, (unsigned)-1, tls_main);
  if (sys(SYS_set_thread_area, (long)&desc_main, 0, 0, 0, 0) != 0) { say("set_thread_area failed\n"); sys(SYS_exit_group, 2, 0, 0, 0, 0); }
  unsigned short sel = (unsigned short)(desc_main.entry_number * 8 + 3);
  __asm__ volatile("movw %0, %%gs" : : "r"(sel));
  say("main TLS word before the thread: "); hex(gs0()); say("\n");

  fill(&desc_thread, desc_main.entry_number, tls_thread);
  /* CLONE_VM|CLONE_FS|CLONE_FILES|CLONE_SIGHAND|CLONE_THREAD|CLONE_SYSVSEM|CLONE_SETTLS */
  long flags = 0x100 | 0x200 | 0x400 | 0x800 | 0x10000 | 0x40000 | 0x80000;
  long r = sys(SYS_clone, flags, (long)(stack + sizeof stack), 0, (long)&desc_thread, 0);
  if (r == 0) thread_main();
  if (r < 0) { say("clone failed\n"); sys(SYS_exit_group, 2, 0, 0, 0, 0); }
  say("main TLS word after the clone:   "); hex(gs0()); say("\n");

  __asm__ volatile("movw %0, %%gs" : : "r"(sel));
  say("after reloading its own %gs:    "); hex(gs0()); say("\n");

  /* Back to a known state natively: set the main thread's entry again. */
  desc_main.base_addr = (unsigned)tls_main;
  sys(SYS_set_thread_area, (long)&desc_main, 0, 0, 0, 0);
  __asm__ volatile("movw %0, %%gs" : : "r"(sel));
  say("after set_thread_area again:     "); hex(gs0()); say("\n");
  /* ...and let the thread take the entry back, as a second clone would. */
  r = sys(SYS_clone, flags, (long)(stack + sizeof stack / 2), 0, (long)&desc_thread, 0);
  if (r == 0) thread_main();

  struct { void* h; unsigned long flags; void* restorer; unsigned mask[2]; } act = {(void*)handler, 0x40000000 /* SA_NODEFER */, 0, {0, 0}};
  sys(SYS_rt_sigaction, 10 /* SIGUSR1 */, (long)&act, 0, 8, 0);
  sys(SYS_kill, sys(SYS_getpid, 0, 0, 0, 0, 0), 10, 0, 0, 0);
  struct { long s, ns; } t = {0, 50000000};
  sys(SYS_nanosleep, (long)&t, 0, 0, 0, 0);
  say("after a signal handler returned: "); hex(gs0()); say(handled ? " (handled)\n" : " (signal not seen)\n");
  sys(SYS_exit_group, 0, 0, 0, 0, 0);
}

__asm__(".globl _start\n_start:\n andl $-16, %esp\n call _start_c\n hlt\n");
